// Microscope images in the program: what an opened file brings besides its 8-bit picture (the
// levels of a source above 8 bits, its format and calibration), the title that names them, and
// the live readout of the spectrum under the mouse in a strip below the picture. The pixel size
// typed for a file is the calibration dialog's (calibration_dialog.cpp).
#include <windows.h>

#include <string>

#include "core/localized.h"
#include "frame/app_frame.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/big_grid.h"
#include "spectrum/engine/readout.h"

namespace voralin {
namespace {

constexpr core::Localized kEnteredSize{"entered", "入力値"};

// FNV-1a over the picture's bytes: the levels of a source are used only while the picture is
// still the rendering made of them (Process BMP and the inverse replace it).
std::uint64_t fingerprint(const image::CurrentImage& image) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint8_t b : image.dib.block) h = (h ^ b) * 1099511628211ull;
    return h;
}

// Under the picture, but inside the client area when the picture fills its rows.
RECT stripRect(const AppState& app) {
    const int reduction = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    RECT client{};
    GetClientRect(app.frame.mainWindow, &client);
    const spectrum::StripBox box =
        spectrum::readoutStrip(client.right, client.bottom, app.image.dib.width() / reduction,
                               app.image.dib.height() / reduction);
    return RECT{box.left, box.top, box.right, box.bottom};
}

}  // namespace

void imageOpened(AppState& app, HWND window, image::OpenOutcome& outcome) {
    app.source = std::move(outcome.source);
    app.precise = std::move(outcome.precise);
    app.preciseFingerprint = app.precise ? fingerprint(app.image) : 0;
    app.readout.clear();
    app.settings.pixelSizeNm = app.source ? app.source->pixelSizeNm : std::nullopt;
    if (!app.settings.pixelSizeNm) {
        if (const auto remembered = rememberedPixelSize(app))
            app.settings.pixelSizeNm = image::PixelSize{*remembered, *remembered};
    }
    (void)window;
}

void showRegion(AppState& app, HWND window, spectrum::Region&& region, const spectrum::Box& box) {
    endLiveView(app);
    leaveCircleMode(app, true);
    app.circlePlacement = false;
    app.buffers.release();
    app.restored = {};
    image::freeBitmap(app.image);
    RECT client{};
    GetClientRect(window, &client);
    const image::PictureArea area = spectrum::pictureAreaOf(client.right, client.bottom);
    app.image = std::move(region.picture);
    app.image.viewReduction = image::viewReduction(area, app.image.dib.width(), app.image.dib.height());
    app.geometry = region.geometry;
    app.source = std::move(region.source);
    app.precise = std::move(region.precise);
    app.preciseFingerprint = app.precise ? fingerprint(app.image) : 0;
    app.readout.clear();
    // Coordinates in the file: a region of a region adds its place to the first one's.
    app.region = app.region ? spectrum::Box{app.region->x + box.x, app.region->y + box.y, box.side}
                            : box;
    setImageState(app, ImageState::ImageOpened);
    refreshImageTitle(app, window);
    frame::repaintPicture(window, true);
    enableSpecialSetting(window, true);
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
    // A big frame says which frame the spectrum and the filters use, and its storage.
    const std::string bigFrame =
        app.buffers.isHalf() ? " - " + spectrum::bigGridNote(app.buffers) : std::string();
    if (!app.source) return bigFrame;
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
    static constexpr core::Localized kBinned{", binned %d x %d", "、%d x %d ビニング"};
    if (app.binFactor > 1)
        suffix += core::formatMessage(core::text(kBinned), app.binFactor, app.binFactor);
    return suffix + bigFrame;
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
