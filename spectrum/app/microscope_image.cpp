// Microscope images in the program: what an opened file brings besides its 8-bit picture (the
// levels of a source above 8 bits, its format and calibration), the "Calibration..." command of
// the system menu with the pixel sizes it remembers in the settings file, and the live readout
// of the spectrum under the mouse in a strip below the picture.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "core/localized.h"
#include "frame/app_frame.h"
#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/readout.h"

namespace voralin {
namespace {

constexpr char kSection[] = "Calibration";
constexpr int kStripHeight = 20;

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
constexpr core::Localized kEnteredSize{"entered", "入力値"};

// FNV-1a over the picture's bytes: the levels of a source are used only while the picture is
// still the rendering made of them (Process BMP and the inverse replace it).
std::uint64_t fingerprint(const image::CurrentImage& image) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint8_t b : image.dib.block) h = (h ^ b) * 1099511628211ull;
    return h;
}

// The settings-file key of an image: its file name without the folder.
std::string keyOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    std::string key = path.substr(slash == std::string::npos ? 0 : slash + 1);
    for (char& c : key)
        if (c == '=' || c == '[' || c == ']') c = '_';
    return key;
}

std::optional<double> rememberedSize(const AppState& app) {
    if (app.frame.settingsPath.empty() || app.openedPath.empty()) return std::nullopt;
    char text[64] = {};
    GetPrivateProfileStringA(kSection, keyOf(app.openedPath).c_str(), "", text, sizeof text,
                             app.frame.settingsPath.c_str());
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !(v > 0) || v > 1e9) return std::nullopt;
    return v;
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

INT_PTR calibrationProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* d = frame::dialogState<CalibrationDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    AppState& app = *d->app;
    switch (message) {
        case WM_INITDIALOG: {
            const auto& file = app.source ? app.source->pixelSizeNm : std::nullopt;
            std::string info = !file ? core::text(kNotInFile)
                               : file->square()
                                   ? core::formatMessage(core::text(kFromFile), file->x)
                                   : core::formatMessage(core::text(kFromFileXY), file->x, file->y);
            SetDlgItemTextW(dialog, IDC_CALIBINFO, frame::wideText(info).c_str());
            if (app.settings.pixelSizeNm)
                SetDlgItemTextA(dialog, IDC_PIXELSIZE, sizeText(*app.settings.pixelSizeNm).c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                char text[64] = {};
                GetDlgItemTextA(dialog, IDC_PIXELSIZE, text, sizeof text);
                std::string value(text);
                value.erase(0, value.find_first_not_of(" \t"));
                value.erase(value.find_last_not_of(" \t") + 1);
                // The shown calibration OK'd unchanged stays as it is, both axes included.
                if (app.settings.pixelSizeNm && value == sizeText(*app.settings.pixelSizeNm)) {
                    EndDialog(dialog, IDOK);
                    return TRUE;
                }
                std::optional<double> size;
                if (!value.empty()) {
                    char* end = nullptr;
                    const double v = std::strtod(value.c_str(), &end);
                    if (*end != '\0' || !(v > 0) || v > 1e9) {
                        // Not the dialog's own caption: the message is told apart from it.
                        app.sink.ask(core::text(kBadSize), "Error", core::kIconWarning);
                        return TRUE;
                    }
                    size = v;
                }
                app.settings.pixelSizeNm =
                    size ? std::optional<image::PixelSize>(image::PixelSize{*size, *size})
                         : std::nullopt;
                // Remembered for files that carry no calibration of their own.
                if (!(app.source && app.source->pixelSizeNm) && !app.frame.settingsPath.empty())
                    WritePrivateProfileStringA(
                        kSection, keyOf(app.openedPath).c_str(),
                        size ? core::formatMessage("%.9g", *size).c_str() : nullptr,
                        app.frame.settingsPath.c_str());
                EndDialog(dialog, IDOK);
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

RECT stripRect(const AppState& app) {
    const int reduction = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    const int top = spectrum::kPictureTop + app.image.dib.height() / reduction;
    return RECT{0, top, app.image.dib.width() / reduction + 400, top + kStripHeight};
}

}  // namespace

void imageOpened(AppState& app, HWND window, image::OpenOutcome& outcome) {
    app.source = std::move(outcome.source);
    app.precise = std::move(outcome.precise);
    app.preciseFingerprint = app.precise ? fingerprint(app.image) : 0;
    app.readout.clear();
    app.settings.pixelSizeNm = app.source ? app.source->pixelSizeNm : std::nullopt;
    if (!app.settings.pixelSizeNm) {
        if (const auto remembered = rememberedSize(app))
            app.settings.pixelSizeNm = image::PixelSize{*remembered, *remembered};
    }
    (void)window;
}

std::shared_ptr<const image::PreciseLevels> preciseLevelsFor(const AppState& app) {
    if (!app.precise || fingerprint(app.image) != app.preciseFingerprint) return nullptr;
    return app.precise;
}

void rememberRestored(AppState& app) { app.restoredFingerprint = fingerprint(app.image); }

bool restoredIsCurrent(const AppState& app) {
    return !app.restored.values.empty() && app.state == ImageState::FilteredShown &&
           fingerprint(app.image) == app.restoredFingerprint;
}

std::string imageTitleSuffix(const AppState& app) {
    if (!app.source) return "";
    std::string suffix = " - " + std::string(image::formatName(app.source->format)) + " " +
                         image::sampleTypeName(app.source->type);
    if (const auto& size = app.settings.pixelSizeNm) {
        suffix += size->square() ? core::formatMessage(", %.4g nm/pixel", size->x)
                                 : core::formatMessage(", %.4g x %.4g nm/pixel", size->x, size->y);
        // Where the size comes from: the file's own calibration, or one typed in Calibration...
        // (now or for this file before).
        const bool fromFile = app.source->pixelSizeNm == app.settings.pixelSizeNm;
        const std::string source =
            fromFile ? image::calibrationSourceName(app.source->calibrationSource) : "";
        suffix += core::formatMessage(" (%s)", fromFile && !source.empty()
                                                   ? source.c_str()
                                                   : core::text(kEnteredSize));
    }
    static constexpr core::Localized kOfStack{", image %d of %d", "、%d 枚目（全 %d 枚）"};
    if (app.source->imageCount > 1)
        suffix += core::formatMessage(core::text(kOfStack), app.source->imageIndex + 1,
                                      app.source->imageCount);
    return suffix;
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

void trackReadout(AppState& app, HWND window, spectrum::Point at) {
    std::string text;
    if (app.state == ImageState::SpectrumShown && app.buffers.present()) {
        const int reduction = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
        text = spectrum::formatReadout(
            spectrum::readoutAtScreen(app.buffers, app.geometry, at.x, at.y - spectrum::kPictureTop,
                                      reduction, app.settings.pixelSizeNm));
    }
    if (text == app.readout) return;
    app.readout = text;
    const RECT strip = stripRect(app);
    InvalidateRect(window, &strip, TRUE);
}

void paintReadout(const AppState& app, HDC dc) {
    if (app.state != ImageState::SpectrumShown || app.readout.empty()) return;
    const RECT strip = stripRect(app);
    const std::wstring text = frame::wideText(app.readout);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    ExtTextOutW(dc, strip.left + 4, strip.top + 3, ETO_OPAQUE, &strip, text.c_str(),
                static_cast<UINT>(text.size()), nullptr);
    SelectObject(dc, old);
}

}  // namespace voralin
