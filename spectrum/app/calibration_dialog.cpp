// "CALIBRATION_DLG", the "Calibration..." command of the system menu: the pixel size the file
// gives, and the one typed in its place. A size typed for a file that carries none is remembered
// in the settings file under the file's name and comes back when it is opened again.
#include <windows.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "core/localized.h"
#include "frame/app_frame.h"
#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"
#include "spectrum/app/app_state.h"

namespace voralin {
namespace {

constexpr char kSection[] = "Calibration";

constexpr core::Localized kMenuItem{"&Calibration...", "校正(&C)..."};
constexpr core::Localized kNoImage{"Open an image first.", "先に画像を開いてください。"};
constexpr core::Localized kBadSize{
    "Type the pixel size as a positive number of nanometres per pixel (empty for none).",
    "ピクセルサイズを 1 ピクセルあたりのナノメートル数（正の数）で入力してください（空欄で校正なし）。"};
constexpr core::Localized kFromFile{"The file gives %.6g nm per pixel.",
                                    "ファイルの値: 1 ピクセルあたり %.6g nm"};
constexpr core::Localized kFromFileXY{
    "The file gives %.6g x %.6g nm per pixel (x by y): the pixels are not square.",
    "ファイルの値: 1 ピクセルあたり %.6g x %.6g nm（x と y）。ピクセルは正方形ではありません。"};
constexpr core::Localized kNotInFile{"The file carries no pixel size.",
                                     "ファイルにピクセルサイズはありません。"};
constexpr core::Localized kCaption{"Calibration", "校正"};

// The settings-file key of an image: its file name without the folder.
std::string keyOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    std::string key = path.substr(slash == std::string::npos ? 0 : slash + 1);
    for (char& c : key)
        if (c == '=' || c == '[' || c == ']') c = '_';
    if (!key.empty() && key[0] == ';') key[0] = '_';  // a comment line otherwise
    return key;
}

// The calibration as the dialog's box shows it: "0.2", or "0.2 x 0.3" for pixels that are not
// square.
std::string sizeText(const image::PixelSize& size) {
    return size.square() ? core::formatMessage("%.6g", size.x)
                         : core::formatMessage("%.6g x %.6g", size.x, size.y);
}

struct CalibrationDialog {
    AppState* app;
};

// What the file gives, and the calibration in force in the box.
void OnCalibrationInit(HWND dialog, const AppState& app) {
    const auto& file = app.source ? app.source->pixelSizeNm : std::nullopt;
    std::string info = !file          ? core::text(kNotInFile)
                       : file->square() ? core::formatMessage(core::text(kFromFile), file->x)
                                        : core::formatMessage(core::text(kFromFileXY), file->x,
                                                              file->y);
    SetDlgItemTextW(dialog, IDC_CALIBINFO, frame::wideText(info).c_str());
    if (app.settings.pixelSizeNm)
        SetDlgItemTextA(dialog, IDC_PIXELSIZE, sizeText(*app.settings.pixelSizeNm).c_str());
}

// OK: false, after saying why, when the text is not a pixel size (an empty box clears it).
bool OnCalibrationOk(HWND dialog, AppState& app) {
    char text[64] = {};
    GetDlgItemTextA(dialog, IDC_PIXELSIZE, text, sizeof text);
    std::string value(text);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    // The shown calibration OK'd unchanged stays as it is, both axes included.
    if (app.settings.pixelSizeNm && value == sizeText(*app.settings.pixelSizeNm)) return true;
    std::optional<double> size;
    if (!value.empty()) {
        char* end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        if (*end != '\0' || !(v > 0) || v > 1e9) {
            // Not the dialog's own caption: the message is told apart from it.
            app.sink.ask(core::text(kBadSize), "Error", core::kIconWarning);
            return false;
        }
        size = v;
    }
    app.settings.pixelSizeNm =
        size ? std::optional<image::PixelSize>(image::PixelSize{*size, *size}) : std::nullopt;
    // Remembered for files that carry no calibration of their own.
    if (!(app.source && app.source->pixelSizeNm))
        storeSetting(app, kSection, keyOf(app.openedPath),
                     size ? std::optional<std::string>(spectrum::numberText(*size)) : std::nullopt);
    return true;
}

INT_PTR calibrationProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* d = frame::dialogState<CalibrationDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            OnCalibrationInit(dialog, *d->app);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                if (OnCalibrationOk(dialog, *d->app)) EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

std::optional<double> rememberedPixelSize(const AppState& app) {
    if (app.frame.settingsPath.empty() || app.openedPath.empty()) return std::nullopt;
    const double v =
        spectrum::readNumber(loadSettings(app), kSection, keyOf(app.openedPath), 0, 1e9, 0);
    if (!(v > 0)) return std::nullopt;
    return v;
}

void addCalibrationMenu(HWND window) {
    HMENU system = GetSystemMenu(window, FALSE);
    AppendMenuW(system, MF_STRING | MF_ENABLED, IDM_CALIBRATION,
                frame::wideText(core::text(kMenuItem)).c_str());
}

bool calibrationSysCommand(AppState& app, HWND window, int id) {
    if (id != IDM_CALIBRATION) return false;
    frame::removeHoverLabel(app.frame, window);
    if (app.state == ImageState::NoImage) {
        app.sink.ask(core::text(kNoImage), core::text(kCaption), core::kIconInformation);
        return true;
    }
    CalibrationDialog d{&app};
    if (frame::runDialog<calibrationProcedure>(
            app.frame.instance, window,
            app.frame.japaneseUi ? "CALIBRATION_DLG_J" : "CALIBRATION_DLG", d,
            "Unable to display dialog") == IDOK) {
        refreshImageTitle(app, window);
        app.readout.clear();
        InvalidateRect(window, nullptr, FALSE);
    }
    return true;
}

}  // namespace voralin
