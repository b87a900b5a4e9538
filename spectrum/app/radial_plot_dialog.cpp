// "RADIALPLOT_DLG": the rotational average of the spectrum's power, log10 against |g| (and d when
// calibrated), drawn into the dialog's owner-drawn area; a readout of the point under the mouse
// and "Save CSV..." writing what voralin00-cli radial writes.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "core/disk.h"
#include "frame/app_frame.h"

#include <commdlg.h>

#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"
#include "spectrum/app/lattice_dialogs.h"
#include "spectrum/engine/readout.h"
#include "spectrum/engine/save.h"

namespace voralin {
namespace {

const core::Localized kPlotAxis{"|g| (1/pixel)", "|g| (1/画素)"};
const core::Localized kPlotAxisNm{"|g| (1/nm)", "|g| (1/nm)"};
const core::Localized kPlotPower{"log10 power", "log10 パワー"};
const core::Localized kPlotSpacing{"d (nm)", "d (nm)"};
const core::Localized kSaveTitle{"Assign a radial profile file.", "動径プロファイルのファイル名"};

struct PlotDialog {
    AppState* app;
    spectrum::RadialProfile profile;
    double nmPerPixel = 0.0;  // calibrated axis when above 0
};

// The plot's axes inside the owner-drawn area: a calibrated plot keeps a row for its d labels.
RECT plotBox(const PlotDialog& d, const RECT& area) {
    return {area.left + 60, area.top + 12, area.right - 12,
            area.bottom - (d.nmPerPixel > 0 ? 56 : 40)};
}

// The d labels under the |g| ticks (none at |g| = 0).
void drawSpacingAxis(const PlotDialog& d, HDC dc, const RECT& box) {
    char label[32];
    for (int t = 1; t <= 5; ++t) {
        const int x = box.left + (box.right - box.left) * t / 5;
        const std::string text = spectrum::significantDigits(d.nmPerPixel / (0.1 * t), 3);
        std::snprintf(label, sizeof label, "%s", text.c_str());
        TextOutA(dc, x - 8, box.bottom + 20, label, static_cast<int>(std::strlen(label)));
    }
    const std::wstring title = frame::wideText(core::text(kPlotSpacing));
    TextOutW(dc, box.left - 52, box.bottom + 20, title.c_str(), static_cast<int>(title.size()));
}

void drawPlot(const PlotDialog& d, HDC dc, RECT area) {
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const RECT box = plotBox(d, area);
    const int left = box.left, right = box.right, top = box.top, bottom = box.bottom;
    const auto& p = d.profile;
    const int last = std::min<int>(p.n / 2, static_cast<int>(p.power.size()) - 1);
    double lo = 0, hi = 0;
    bool first = true;
    for (int j = 1; j <= last; ++j) {
        if (!(p.power[j] > 0)) continue;
        const double v = std::log10(p.power[j]);
        if (first || v < lo) lo = v;
        if (first || v > hi) hi = v;
        first = false;
    }
    if (first || right - left < 20 || bottom - top < 20) return;
    lo = std::floor(lo);
    hi = std::ceil(hi);
    if (hi <= lo) hi = lo + 1;
    HPEN axis = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HGDIOBJ old = SelectObject(dc, axis);
    MoveToEx(dc, left, top, nullptr);
    LineTo(dc, left, bottom);
    LineTo(dc, right, bottom);
    SetBkMode(dc, TRANSPARENT);
    char label[32];
    for (int t = 0; t <= 5; ++t) {
        const int x = left + (right - left) * t / 5;
        MoveToEx(dc, x, bottom, nullptr);
        LineTo(dc, x, bottom + 4);
        if (d.nmPerPixel > 0)
            std::snprintf(label, sizeof label, "%.3g", 0.1 * t / d.nmPerPixel);
        else
            std::snprintf(label, sizeof label, "%.1f", 0.1 * t);
        TextOutA(dc, x - 8, bottom + 6, label, static_cast<int>(std::strlen(label)));
    }
    for (double v = lo; v <= hi; v += 1) {
        const int y = bottom - static_cast<int>((v - lo) / (hi - lo) * (bottom - top));
        MoveToEx(dc, left - 4, y, nullptr);
        LineTo(dc, left, y);
        std::snprintf(label, sizeof label, "%.0f", v);
        TextOutA(dc, left - 30, y - 7, label, static_cast<int>(std::strlen(label)));
    }
    const std::wstring xLabel =
        frame::wideText(core::text(d.nmPerPixel > 0 ? kPlotAxisNm : kPlotAxis));
    const std::wstring yLabel = frame::wideText(core::text(kPlotPower));
    if (d.nmPerPixel > 0) drawSpacingAxis(d, dc, box);
    const int titleRow = bottom + (d.nmPerPixel > 0 ? 36 : 22);
    TextOutW(dc, (left + right) / 2 - 30, titleRow, xLabel.c_str(), static_cast<int>(xLabel.size()));
    TextOutW(dc, left + 8, top - 8, yLabel.c_str(), static_cast<int>(yLabel.size()));
    HPEN curve = CreatePen(PS_SOLID, 1, RGB(200, 0, 0));
    SelectObject(dc, curve);
    bool moved = false;
    for (int j = 1; j <= last; ++j) {
        if (!(p.power[j] > 0)) continue;
        const int x = left + static_cast<int>(static_cast<double>(j) / p.n * 2 * (right - left));
        const int y = bottom - static_cast<int>((std::log10(p.power[j]) - lo) / (hi - lo) *
                                                (bottom - top));
        if (!moved)
            MoveToEx(dc, x, y, nullptr);
        else
            LineTo(dc, x, y);
        moved = true;
    }
    SelectObject(dc, old);
    DeleteObject(axis);
    DeleteObject(curve);
}

// The readout of the point under the mouse (client coordinates of the dialog).
void trackPlot(HWND dialog, const PlotDialog& d, POINT at) {
    HWND plot = GetDlgItem(dialog, IDC_PLOTAREA);
    RECT area{};
    GetClientRect(plot, &area);
    MapWindowPoints(dialog, plot, &at, 1);
    const RECT box = plotBox(d, area);
    std::string text;
    if (at.x >= box.left && at.x <= box.right && at.y >= box.top && at.y <= box.bottom &&
        box.right > box.left) {
        const double bin = static_cast<double>(at.x - box.left) / (box.right - box.left) *
                           (d.profile.n / 2.0);
        text = spectrum::radialReadoutText(d.profile, bin, d.nmPerPixel);
    }
    SetDlgItemTextW(dialog, IDC_RADIALREADOUT, frame::wideText(text).c_str());
}

void saveCsv(HWND dialog, PlotDialog& d) {
    std::string path;
    const std::string title = core::text(kSaveTitle);
    if (!frame::askFilePath(dialog, d.app->sink,
                            {true, "CSV (*.csv)\0*.csv\0", title.c_str(), "csv",
                             OFN_PATHMUSTEXIST | OFN_HIDEREADONLY, "Save Error"},
                            path))
        return;
    spectrum::saveRadialCsvTo(path, spectrum::radialProfileCsv(d.profile, d.nmPerPixel),
                              d.app->sink, core::systemDisk());
}

INT_PTR plotProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    PlotDialog* d = frame::dialogState<PlotDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlID != IDC_PLOTAREA) return FALSE;
            drawPlot(*d, item->hDC, item->rcItem);
            return TRUE;
        }
        case WM_MOUSEMOVE:
            trackPlot(dialog, *d, {static_cast<short>(LOWORD(lParam)),
                                   static_cast<short>(HIWORD(lParam))});
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_RADIALSAVE) {
                saveCsv(dialog, *d);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void radialPlotDialog(AppState& app, HWND window, spectrum::RadialProfile profile,
                      double nmPerPixel) {
    PlotDialog d{&app, std::move(profile), nmPerPixel};
    frame::runDialog<plotProcedure>(app.frame.instance, window,
                                    templateName(app, "RADIALPLOT_DLG", "RADIALPLOT_DLG_J"), d,
                                    "Unable to display dialog");
}

}  // namespace voralin
