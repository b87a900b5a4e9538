// The lattice tools of voralin00, reached from the system menu: the menu itself, finding the
// lattice spots and their markers, the toggles (symmetric circles, the windowed and whole-frame
// spectrum, the removed part of the last inverse transform) and the commands that open the
// lattice dialogs (lattice_dialogs.h).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "core/localized.h"
#include "frame/support/wide_text.h"
#include "spectrum/app/app_state.h"
#include "spectrum/app/lattice_dialogs.h"
#include "spectrum/engine/display.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/radial.h"
#include "spectrum/engine/readout.h"
#include "spectrum/engine/spot_finder.h"

namespace voralin {
namespace {

constexpr char kSection[] = "Lattice";
constexpr char kSymmetricKey[] = "Symmetric circles";

const core::Localized kFindSpotsItem{"Find lattice spots...", "格子スポットを探す..."};
const core::Localized kLatticeFilterItem{"Lattice and noise filters...",
                                         "格子フィルターと雑音フィルター..."};
const core::Localized kSymmetricItem{"Symmetric circles", "対称な円"};
const core::Localized kRemovedItem{"Show removed part", "除いた部分を表示"};
const core::Localized kRadialItem{"Radial profile...", "動径プロファイル..."};
const core::Localized kWindowedItem{"Windowed spectrum (no mirror ghosts)",
                                    "窓をかけたスペクトル (鏡像なし)"};
const core::Localized kWholeFrameItem{"Whole frame up to Nyquist", "ナイキストまでのフレーム全体"};

const core::Localized kCaption{"Lattice spots", "格子スポット"};
const core::Localized kRadialCaption{"Radial profile", "動径プロファイル"};
const core::Localized kNeedSpectrum{"Compute the spectrum with FFT first.",
                                    "先に FFT でスペクトルを計算してください。"};
const core::Localized kNeedFiltered{"There is no removed part: run Inverse FFT first.",
                                    "除いた部分はありません。先に逆 FFT を実行してください。"};
const core::Localized kNoCirclesInWholeFrame{
    "Circles are drawn on the central part of the spectrum: turn off \"Whole frame up to "
    "Nyquist\" first.",
    "円はスペクトルの中央部に描きます。先に「ナイキストまでのフレーム全体」を外してください。"};

void setMenuCheck(HWND window, int id, bool on) {
    CheckMenuItem(GetSystemMenu(window, FALSE), id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

// A frame offset (frame samples from the zero frequency) as a client point of the shown picture.
POINT clientPoint(const AppState& app, double fx, double fy) {
    const int reduction = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    double x = centreX(app) + fx, y = centreY(app) + fy;
    if (app.settings.display.wholeFrame) {
        // The whole frame binned to the picture.
        x = (app.buffers.n / 2.0 + fx) * app.geometry.width / app.buffers.n;
        y = (app.buffers.n / 2.0 + fy) * app.geometry.height / app.buffers.n;
    }
    return {static_cast<LONG>(std::lround(x / reduction)),
            static_cast<LONG>(std::lround(y / reduction)) + spectrum::kPictureTop};
}

void findSpotsCommand(AppState& app, HWND window) {
    if (!spectrumShown(app)) {
        sayLattice(app, kNeedSpectrum, MB_ICONINFORMATION);
        return;
    }
    spectrum::SpotResult result;
    {
        frame::WaitBox busy(app.frame);
        busy.beginBusy();
        spectrum::SpotOptions options;
        options.pixelSizeNm = app.settings.pixelSizeNm;
        result = spectrum::findSpots(spectrum::sourcePixelsOf(app.buffers),
                                     app.buffers.precise.get(), app.buffers.n, options);
        busy.endBusy();
    }
    if (result.status != spectrum::SpotStatus::kFound) {
        sayLattice(app, spectrum::spotStatusText(result.status),
                   result.status == spectrum::SpotStatus::kNoMemory ? MB_ICONERROR
                                                                    : MB_ICONINFORMATION);
        return;
    }
    app.lattice.spots = result;
    app.lattice.spotsSource = app.buffers.source;
    // The discs that cover the spots found, rather than a fixed size.
    app.lattice.spotRadius = spectrum::autoLatticeRadius(result);
    frame::repaintPicture(window, true);
    spotsDialog(app, window);
    frame::repaintPicture(window, true);
}

// --- the toggles ---------------------------------------------------------------------------------

void toggleSymmetric(AppState& app, HWND window) {
    bool& on = app.settings.filter.symmetricCircles;
    on = !on;
    setMenuCheck(window, IDM_SYMMETRIC, on);
    storeSetting(app, kSection, kSymmetricKey, on ? "1" : "0");
}

void toggleWindowed(AppState& app, HWND window) {
    if (chooseGrid(app, window, app.settings.frame == spectrum::kWindowedFrame
                                     ? spectrum::kMirrorFrame
                                     : spectrum::kWindowedFrame)) {
        rememberChoices(app);
        redisplaySpectrum(app, window);
    }
}

void toggleWholeFrame(AppState& app, HWND window) {
    bool& on = app.settings.display.wholeFrame;
    on = !on;
    setMenuCheck(window, IDM_WHOLEFRAME, on);
    rememberChoices(app);
    redisplaySpectrum(app, window);
}

void toggleRemovedPart(AppState& app, HWND window) {
    LatticeState& l = app.lattice;
    if (l.showingRemoved) {
        app.image.dib.block = l.filteredBlock;
        l.filteredBlock.clear();
        l.showingRemoved = false;
        std::swap(app.restored, l.otherValues);
        l.otherValues = {};
        if (!app.restored.values.empty()) rememberRestored(app);
    } else {
        if (app.state != ImageState::FilteredShown || l.parts.removed.empty() ||
            l.parts.width != app.geometry.width || l.parts.height != app.geometry.height) {
            sayLattice(app, kNeedFiltered, MB_ICONINFORMATION);
            return;
        }
        // The filtered values come back with the filtered picture only if they were its own.
        const bool filteredValuesCurrent = restoredIsCurrent(app);
        l.filteredBlock = app.image.dib.block;
        spectrum::renderRemovedPart(l.parts, app.image, app.geometry);
        l.showingRemoved = true;
        l.otherValues = spectrum::removedPartValues(l.parts);
        std::swap(app.restored, l.otherValues);
        if (!filteredValuesCurrent) l.otherValues = {};
        rememberRestored(app);
    }
    setMenuCheck(window, IDM_REMOVEDPART, l.showingRemoved);
    frame::repaintPicture(window, true);
}

}  // namespace

const char* templateName(const AppState& app, const char* english, const char* japanese) {
    return app.frame.japaneseUi ? japanese : english;
}

void sayLattice(AppState& app, const core::Localized& text, unsigned style) {
    app.sink.ask(core::text(text), core::text(kCaption), style);
}

bool spectrumShown(const AppState& app) {
    return app.state == ImageState::SpectrumShown && app.buffers.present() &&
           !app.buffers.source.empty();
}

double centreX(const AppState& app) { return app.buffers.n / 2 - app.buffers.offsetX; }
double centreY(const AppState& app) { return app.buffers.n / 2 - app.buffers.offsetY; }

std::string autoRadiusNote(const AppState& app, const spectrum::SpotResult& spots) {
    static constexpr core::Localized kPixels{"auto: %d px", "自動: %d 画素"};
    static constexpr core::Localized kPerNm{"auto: %d px = %s 1/nm", "自動: %d 画素 = %s 1/nm"};
    if (!spots.haveBasis || spots.n <= 0) return "";
    const int radius = spectrum::autoLatticeRadius(spots);
    const auto& size = app.settings.pixelSizeNm;
    if (!size || !(size->x > 0.0)) return core::formatMessage(core::text(kPixels), radius);
    return core::formatMessage(
        core::text(kPerNm), radius,
        spectrum::significantDigits(radius / (spots.n * size->x), 4).c_str());
}

double numberIn(HWND dialog, int id, bool& ok) {
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v)) ok = false;
    while (end && *end == ' ') ++end;
    if (end && *end != '\0') ok = false;
    return v;
}

void setNumber(HWND dialog, int id, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    SetDlgItemTextA(dialog, id, text);
}

bool chooseGrid(AppState& app, HWND window, int frame) {
    if (spectrumShown(app) && app.settings.frame != frame) {
        frame::WaitBox busy(app.frame);
        busy.beginBusy();
        const bool done = spectrum::retransformInGrid(app.buffers, frame);
        busy.endBusy();
        if (!done) {
            app.sink.ask("Unable to carry out the FFT.", "Warning", core::kIconWarning);
            return false;
        }
    }
    app.settings.frame = frame;
    markGridChoices(app, window);
    return true;
}

void markGridChoices(const AppState& app, HWND window) {
    setMenuCheck(window, IDM_WINDOWED, app.settings.frame == spectrum::kWindowedFrame);
    setMenuCheck(window, IDM_WHOLEFRAME, app.settings.display.wholeFrame);
}

bool circlesDrawableInView(AppState& app) {
    if (!app.settings.display.wholeFrame) return true;
    app.sink.ask(core::text(kNoCirclesInWholeFrame), "Information", MB_ICONINFORMATION);
    return false;
}

void labelGridChoices(HWND dialog) {
    SetDlgItemTextW(dialog, IDC_WINDOWEDFRAME, frame::wideText(core::text(kWindowedItem)).c_str());
    SetDlgItemTextW(dialog, IDC_WHOLEFRAME, frame::wideText(core::text(kWholeFrameItem)).c_str());
}

void addLatticeMenu(AppState& app, HWND window) {
    HMENU system = GetSystemMenu(window, FALSE);
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    auto item = [&](int id, const core::Localized& text) {
        AppendMenuW(system, MF_STRING | MF_ENABLED, id, frame::wideText(core::text(text)).c_str());
    };
    item(IDM_FINDSPOTS, kFindSpotsItem);
    item(IDM_LATTICEFILTER, kLatticeFilterItem);
    item(IDM_SYMMETRIC, kSymmetricItem);
    item(IDM_WINDOWED, kWindowedItem);
    item(IDM_WHOLEFRAME, kWholeFrameItem);
    item(IDM_REMOVEDPART, kRemovedItem);
    item(IDM_RADIAL, kRadialItem);
    // Off unless the settings file says otherwise.
    const bool symmetric = spectrum::readSwitch(loadSettings(app), kSection, kSymmetricKey, false);
    app.settings.filter.symmetricCircles = symmetric;
    setMenuCheck(window, IDM_SYMMETRIC, symmetric);
}

bool latticeSysCommand(AppState& app, HWND window, int id) {
    switch (id) {
        case IDM_FINDSPOTS:
            frame::removeHoverLabel(app.frame, window);
            findSpotsCommand(app, window);
            return true;
        case IDM_LATTICEFILTER:
            frame::removeHoverLabel(app.frame, window);
            latticeFilterDialog(app, window);
            return true;
        case IDM_SYMMETRIC:
            toggleSymmetric(app, window);
            return true;
        case IDM_WINDOWED:
            toggleWindowed(app, window);
            return true;
        case IDM_WHOLEFRAME:
            toggleWholeFrame(app, window);
            return true;
        case IDM_REMOVEDPART:
            toggleRemovedPart(app, window);
            return true;
        case IDM_RADIAL: {
            frame::removeHoverLabel(app.frame, window);
            if (!spectrumShown(app)) {
                sayLattice(app, kNeedSpectrum, MB_ICONINFORMATION);
                return true;
            }
            // Pixels that are not square have no rotational average in 1/nm: the plot stays in
            // 1/pixel, after the message that says why.
            const std::string notSquare = spectrum::radialNotSquareText(app.settings.pixelSizeNm);
            if (!notSquare.empty())
                app.sink.ask(notSquare, core::text(kRadialCaption), MB_ICONINFORMATION);
            radialPlotDialog(
                app, window, spectrum::radialProfile(app.buffers),
                notSquare.empty() && app.settings.pixelSizeNm ? app.settings.pixelSizeNm->x : 0.0);
            return true;
        }
        default:
            return false;
    }
}

void paintSpotMarkers(AppState& app, HDC dc) {
    const LatticeState& l = app.lattice;
    if (l.spots.spots.empty() || l.spots.n != app.buffers.n || l.spotsSource != app.buffers.source)
        return;
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 200, 0));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 200, 0));
    for (const spectrum::Spot& s : l.spots.spots) {
        const POINT p = clientPoint(app, s.position.x, s.position.y);
        Ellipse(dc, p.x - 6, p.y - 6, p.x + 7, p.y + 7);
        const std::string number = std::to_string(s.number);
        TextOutA(dc, p.x + 7, p.y - 16, number.c_str(), static_cast<int>(number.size()));
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

void latticeAfterInverse(AppState& app, HWND window) {
    app.lattice.showingRemoved = false;
    app.lattice.filteredBlock.clear();
    app.lattice.otherValues = {};
    setMenuCheck(window, IDM_REMOVEDPART, false);
}

}  // namespace voralin
