// "LATTICESPOTS_DLG": the spots found, their mates, lengths and angles in a fixed-pitch list;
// the chosen spots become mask circles, or the basis of the spots becomes a lattice mask.
#include <cmath>
#include <cstdio>
#include <vector>

#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"
#include "spectrum/app/lattice_dialogs.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/readout.h"
#include "spectrum/engine/spot_finder.h"

namespace voralin {
namespace {

const core::Localized kBasisText{"Basis g1 = (%s, %s), g2 = (%s, %s)",
                                 "基本ベクトル g1 = (%s, %s)、g2 = (%s, %s)"};
const core::Localized kListHeader{
    "  #  mate         x         y   |g| 1/px      d px     angle",
    "  #    対         x         y   |g| 1/px    d 画素      角度"};
const core::Localized kListHeaderNm{
    "  #  mate         x         y   |g| 1/nm      d nm     angle",
    "  #    対         x         y   |g| 1/nm      d nm      角度"};

struct SpotDialog {
    AppState* app;
    HWND window;
    HFONT japaneseFixed = nullptr;  // the list's fixed-pitch font on a Japanese system
};

void fillSpotList(HWND dialog, const AppState& app) {
    HWND list = GetDlgItem(dialog, IDC_SPOTLIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const spectrum::Spot& s : app.lattice.spots.spots) {
        // d with four significant digits whatever its decade; no signed zeros (the mate of a
        // spot on an axis).
        char line[160];
        std::snprintf(line, sizeof line, "%3d  %4d  %8s  %8s  %9.5f  %8s  %8s", s.number, s.mate,
                      spectrum::fixedDecimals(s.position.x, 2).c_str(),
                      spectrum::fixedDecimals(s.position.y, 2).c_str(), s.g,
                      spectrum::significantDigits(s.d, 4).c_str(),
                      spectrum::fixedDecimals(s.angleDegrees, 2).c_str());
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    const spectrum::SpotResult& r = app.lattice.spots;
    if (r.haveBasis) {
        char text[200];
        const auto f2 = [](double v) { return spectrum::fixedDecimals(v, 2); };
        std::snprintf(text, sizeof text, core::text(kBasisText), f2(r.g1.x).c_str(),
                      f2(r.g1.y).c_str(), f2(r.g2.x).c_str(), f2(r.g2.y).c_str());
        SetDlgItemTextW(dialog, IDC_SPOTBASIS, frame::wideText(text).c_str());
    } else {
        SetDlgItemTextW(dialog, IDC_SPOTBASIS,
                        frame::wideText(core::text(spectrum::noBasisText())).c_str());
    }
    setNumber(dialog, IDC_SPOTRADIUS, app.lattice.spotRadius);
    SetDlgItemTextW(dialog, IDC_SPOTRADIUSNOTE,
                    frame::wideText(autoRadiusNote(app, r)).c_str());
}

// Circles at the chosen spots and their mates, in picture pixels.
bool maskSelectedSpots(HWND dialog, SpotDialog& d) {
    AppState& app = *d.app;
    bool ok = true;
    const double radius = numberIn(dialog, IDC_SPOTRADIUS, ok);
    if (!ok || !(radius >= 1 && radius <= app.buffers.n / 2)) {
        sayLattice(app, latticeCheckText(spectrum::LatticeCheck::kBadRadius), MB_ICONWARNING);
        return false;
    }
    app.lattice.spotRadius = radius;
    const auto& spots = app.lattice.spots.spots;
    std::vector<bool> chosen(spots.size(), false);
    HWND list = GetDlgItem(dialog, IDC_SPOTLIST);
    for (std::size_t i = 0; i < spots.size(); ++i) {
        if (SendMessageA(list, LB_GETSEL, i, 0) > 0) {
            chosen[i] = true;
            const int mate = spots[i].mate - 1;
            if (mate >= 0 && mate < static_cast<int>(spots.size())) chosen[mate] = true;
        }
    }
    std::vector<spectrum::MaskCircle> added;
    for (std::size_t i = 0; i < spots.size(); ++i)
        if (chosen[i])
            added.push_back({static_cast<int>(std::lround(centreX(app) + spots[i].position.x)),
                             static_cast<int>(std::lround(centreY(app) + spots[i].position.y)),
                             static_cast<int>(std::lround(radius))});
    if (added.empty()) return false;
    auto& filter = app.settings.filter;
    if (filter.circles.size() + added.size() > spectrum::kMaxMaskCircles) {
        app.sink.ask("Too many FFT masks!", "Warning", core::kIconWarning);
        return false;
    }
    filter.circles.insert(filter.circles.end(), added.begin(), added.end());
    if (filter.kind != spectrum::kCirclesCutInside) filter.kind = spectrum::kCirclesCutOutside;
    app.circlePlacement = true;
    frame::repaintPicture(d.window, true);
    return true;
}

bool maskLattice(HWND dialog, SpotDialog& d) {
    AppState& app = *d.app;
    const spectrum::SpotResult& r = app.lattice.spots;
    if (!r.haveBasis) {
        sayLattice(app, spectrum::noBasisText(), MB_ICONWARNING);
        return false;
    }
    bool ok = true;
    const double radius = numberIn(dialog, IDC_SPOTRADIUS, ok);
    spectrum::LatticeSettings lattice{r.g1, r.g2, ok ? radius : 0.0};
    const spectrum::LatticeCheck check = spectrum::checkLattice(lattice, app.buffers.n);
    if (check != spectrum::LatticeCheck::kOk) {
        sayLattice(app, spectrum::latticeCheckText(check), MB_ICONWARNING);
        return false;
    }
    app.lattice.spotRadius = radius;
    if (app.settings.filter.kind < spectrum::kLatticeKeep)
        app.lattice.classicKind = app.settings.filter.kind;
    app.settings.filter.lattice = lattice;
    app.settings.filter.kind = spectrum::kLatticeKeep;
    return true;
}

INT_PTR spotProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    SpotDialog* d = frame::dialogState<SpotDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG: {
            const int tabs[] = {0};
            SendDlgItemMessageA(dialog, IDC_SPOTLIST, LB_SETTABSTOPS, 0,
                                reinterpret_cast<LPARAM>(tabs));
            HFONT fixed = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
            // The stock fixed font has no Japanese characters for the column names.
            if (d->app->frame.japaneseUi) {
                d->japaneseFixed = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                               SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                               FIXED_PITCH | FF_MODERN, L"ＭＳ ゴシック");
                if (d->japaneseFixed) fixed = d->japaneseFixed;
            }
            SendDlgItemMessageA(dialog, IDC_SPOTLIST, WM_SETFONT, reinterpret_cast<WPARAM>(fixed),
                                TRUE);
            SendDlgItemMessageA(dialog, IDC_SPOTHEADER, WM_SETFONT, reinterpret_cast<WPARAM>(fixed),
                                TRUE);
            SetDlgItemTextW(dialog, IDC_SPOTHEADER,
                            frame::wideText(core::text(d->app->settings.pixelSizeNm ? kListHeaderNm
                                                                                    : kListHeader))
                                .c_str());
            fillSpotList(dialog, *d->app);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_MASKSPOTS:
                    if (maskSelectedSpots(dialog, *d)) EndDialog(dialog, IDOK);
                    return TRUE;
                case IDC_MASKLATTICE:
                    if (maskLattice(dialog, *d)) EndDialog(dialog, IDOK);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case WM_DESTROY:
            if (d->japaneseFixed) DeleteObject(d->japaneseFixed);
            d->japaneseFixed = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void spotsDialog(AppState& app, HWND window) {
    SpotDialog d{&app, window};
    frame::runDialog<spotProcedure>(app.frame.instance, window,
                                    templateName(app, "LATTICESPOTS_DLG", "LATTICESPOTS_DLG_J"), d,
                                    "Unable to display dialog");
}

}  // namespace voralin
