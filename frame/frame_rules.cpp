#include "frame/frame_rules.h"

namespace frame {
namespace {

bool contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

}  // namespace

int classifyNtCurrentVersion(std::string_view v) {
    if (contains(v, "4.0")) return kWinNt4;
    if (contains(v, "5.0")) return kWin2000;
    if (contains(v, "5.1") || contains(v, "5.2")) return kWinXp;
    if (contains(v, "6.0") || contains(v, "6.1")) return kWinVista7;
    return kWinLater;
}

int classify9xProductName(std::string_view name) {
    if (contains(name, "Windows ME")) return kWinMe;
    if (contains(name, "Windows 98")) return kWin98;
    return kWin95;
}

std::string_view buttonSkin(int code) {
    switch (code) {
        case kWinMe:
            return "9";
        case kWin2000:
            return "8";
        case kWinXp:
            return "X";
        default:
            return {};
    }
}

std::string buttonBitmapName(std::string_view stem, std::string_view skin, ButtonState state) {
    std::string name(stem);
    name += skin;
    name += state == ButtonState::Up ? "Up" : state == ButtonState::Dn ? "Dn" : "In";
    return name;
}

LabelFont labelFontFor(int code, bool japaneseUi) {
    LabelFont font;
    if (japaneseUi) {
        font.height = 12;
        font.japanese = true;
        font.xOffset = 0;
        font.yOffset = 0;
        font.extraWidth = 1;
        return font;
    }
    const bool nineX = code >= kWin95 && code <= kWinMe;
    font.height = nineX ? 12 : 14;
    font.xOffset = nineX ? 0 : 1;
    font.yOffset = -1;
    font.extraWidth = 2;
    return font;
}

int hoverButtonAt(const std::vector<IconButtonSpec>& table, int commandsRight, int x) {
    if (x <= 15 || x >= commandsRight) return 0;
    int position = 0;
    for (const auto& button : table) {
        if (button.command == 0) continue;
        ++position;
        if (x >= button.x && x < button.x + 32) return position;
    }
    return 0;
}

PixelRect hoverLabelRect(int left, int textWidth, int extraWidth, int cyBorder, int cyCaption,
                         int externalLeading, int textHeight) {
    PixelRect r;
    r.left = left;
    r.top = cyBorder + cyCaption + 32;
    r.right = left + textWidth + extraWidth + 5;
    r.bottom = cyBorder + cyCaption + externalLeading + textHeight + 38;
    return r;
}

bool LabelPixelStore::reset(const PixelRect& rect) {
    clear();
    if (rect.empty()) return false;
    rect_ = rect;
    columns_ = static_cast<std::size_t>(rect.width()) + 1;
    pixels_.assign(columns_ * (static_cast<std::size_t>(rect.height()) + 1), 0);
    return true;
}

void LabelPixelStore::clear() {
    rect_ = PixelRect{};
    columns_ = 0;
    pixels_.clear();
}

std::optional<ProgramPaths> programPathsFor(std::string_view path, std::string_view readmeName) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string_view::npos || slash == 0) return std::nullopt;
    const auto dot = path.find_last_of('.');
    if (dot == std::string_view::npos || dot < slash || path.size() - dot != 4) return std::nullopt;
    ProgramPaths paths;
    paths.readme = std::string(path.substr(0, slash + 1)) + std::string(readmeName);
    paths.settings = std::string(path.substr(0, path.size() - 3)) + "INI";
    return paths;
}

std::string userSettingsPath(std::string_view appData, std::string_view settings) {
    const auto slash = settings.find_last_of("\\/");
    const std::string_view name =
        slash == std::string_view::npos ? settings : settings.substr(slash + 1);
    const std::string_view stem = name.substr(0, name.find_last_of('.'));
    if (appData.empty() || stem.empty()) return {};
    std::string folder(appData);
    if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder + std::string(stem) + "\\" + std::string(name);
}

PixelRect mainWindowRect(int screenWidth, int screenHeight) {
    PixelRect r;
    const int width = screenWidth * 9 / 10;
    const int height = screenHeight * 9 / 10;
    r.left = (screenWidth - width) / 2;
    r.top = (screenHeight - height) / 2;
    r.right = r.left + width;
    r.bottom = r.top + height;
    return r;
}

Point logoOrigin(int clientWidth, int clientHeight, int logoWidth, int logoHeight, int extraTop) {
    return {(clientWidth - logoWidth) / 2, (clientHeight - (logoHeight + extraTop)) / 2 + extraTop};
}

Point topRightPlacement(const PixelRect& dialog, const PixelRect& parent, int dialogTopOffset) {
    return {parent.right - 3 - dialog.width(), parent.top + dialogTopOffset - 1};
}

bool extendedFreeSpaceAvailable(int code, unsigned platformId, unsigned buildNumber) {
    if (code != kWin95) return true;
    // The NT family always has the call, even when the registry gave no answer.
    if (platformId == 2) return true;
    return platformId == 1 && (buildNumber & 0xFFFF) > 1000;
}

PixelRect buttonBand(const std::vector<IconButtonSpec>& table, int id) {
    for (const IconButtonSpec& entry : table)
        if (entry.id == id && entry.width > 0)
            return {entry.x - 1, 0, entry.x + entry.width - 1, kIconBarHeight - 1};
    return {};
}

}  // namespace frame
