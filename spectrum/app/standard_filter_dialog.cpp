// "SETMASK_DLG": the standard filter (none, low-pass, high-pass, band-pass, band-cut) with its
// live filter circles on the spectrum, its illustration and the brightness controls. For a
// calibrated image the dialog grows to the right, where the wa and wb entries' frequencies and
// d-spacings follow the lists.
#include "spectrum/app/filter_dialogs.h"

#include <string>
#include <utility>

#include "frame/support/dialog_support.h"
#include "spectrum/engine/filters.h"
#include "spectrum/rules/dialog_values.h"

namespace voralin {
namespace {

using frame::fillList;
using frame::selectedEntry;
using frame::setMark;

constexpr int kIllustrationWidth = 284;
constexpr int kIllustrationHeight = 142;

struct StandardDialog {
    AppState* app = nullptr;
    HWND mainWindow = nullptr;
    HBITMAP illustration = nullptr;
    int appliedType = 0;
    bool appliedShow = false;
    double appliedWa = 0, appliedWb = 0;
    bool rememberedShow = false;  // the mark of the circles box while "NO filter" hides it
};

void enableForType(HWND dialog, StandardDialog& d, bool first) {
    const auto& f = d.app->settings.filter;
    const bool filtering = f.standardType != spectrum::kNoFilter;
    EnableWindow(GetDlgItem(dialog, IDC_WA), filtering);
    EnableWindow(GetDlgItem(dialog, IDC_WB), filtering);
    HWND box = GetDlgItem(dialog, IDC_SHOWCIRCLES);
    if (first) {
        setMark(dialog, IDC_SHOWCIRCLES, f.showFilterCircles && filtering);
        d.rememberedShow = f.showFilterCircles;
        EnableWindow(box, filtering);
        return;
    }
    if (!filtering && IsWindowEnabled(box)) {
        d.rememberedShow = IsDlgButtonChecked(dialog, IDC_SHOWCIRCLES) == BST_CHECKED;
        setMark(dialog, IDC_SHOWCIRCLES, false);
        EnableWindow(box, FALSE);
    } else if (filtering && !IsWindowEnabled(box)) {
        EnableWindow(box, TRUE);
        setMark(dialog, IDC_SHOWCIRCLES, d.rememberedShow);
    }
}

// The frequency and d-spacing of the fractions chosen, beside their lists.
void showFractionFrequencies(HWND dialog, const AppState& app) {
    const auto& f = app.settings.filter;
    const int n = app.buffers.present() ? app.buffers.n : 0;
    for (const auto& [id, value] : {std::pair{IDC_WAFREQ, f.wa}, std::pair{IDC_WBFREQ, f.wb}}) {
        const std::string text = spectrum::fractionFrequencyText(
            value, app.geometry.width, app.geometry.height, n, app.settings.pixelSizeNm);
        SetDlgItemTextA(dialog, id, ("= " + text).c_str());
    }
}

// Only a calibrated image's dialog is wider than the template, by the frequencies' column.
void showFrequencyColumn(HWND dialog, const AppState& app) {
    if (spectrum::fractionFrequencyText(1.0, app.geometry.width, app.geometry.height,
                                        app.buffers.present() ? app.buffers.n : 0,
                                        app.settings.pixelSizeNm)
            .empty())
        return;
    RECT extra{0, 0, 128, 0};
    MapDialogRect(dialog, &extra);
    RECT window{};
    GetWindowRect(dialog, &window);
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left + extra.right,
                 window.bottom - window.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(GetDlgItem(dialog, IDC_WAFREQ), SW_SHOWNA);
    ShowWindow(GetDlgItem(dialog, IDC_WBFREQ), SW_SHOWNA);
    showFractionFrequencies(dialog, app);
}

void OnStandardInit(HWND dialog, StandardDialog& d) {
    const auto& f = d.app->settings.filter;
    CheckRadioButton(dialog, IDC_NOFILTER, IDC_BANDCUT, IDC_NOFILTER + f.standardType);
    fillList(dialog, IDC_WA, spectrum::kFrequencyEntries, spectrum::frequencyEntryText,
             spectrum::frequencyEntryIndex(f.wa));
    fillList(dialog, IDC_WB, spectrum::kFrequencyEntries, spectrum::frequencyEntryText,
             spectrum::frequencyEntryIndex(f.wb));
    fillLevelLists(dialog, *d.app);
    enableForType(dialog, d, true);
    d.appliedType = f.standardType;
    d.appliedShow = f.showFilterCircles;
    d.appliedWa = f.wa;
    d.appliedWb = f.wb;
    showFrequencyColumn(dialog, *d.app);
    frame::placeDialogTopRight(dialog, d.app->frame.dialogTopOffset);
}

void OnStandardCommand(HWND dialog, StandardDialog& d, int id, int code) {
    AppState& app = *d.app;
    auto& f = app.settings.filter;
    if (id == IDOK || id == IDCANCEL) {
        EndDialog(dialog, id);
        return;
    }
    if (OnLevelCommand(dialog, app, id, code)) return;
    bool changed = false;
    if (id >= IDC_NOFILTER && id <= IDC_BANDCUT) {
        CheckRadioButton(dialog, IDC_NOFILTER, IDC_BANDCUT, id);
        f.standardType = id - IDC_NOFILTER;
        enableForType(dialog, d, false);
        changed = f.standardType != d.appliedType;
        d.appliedType = f.standardType;
    } else if ((id == IDC_WA || id == IDC_WB) && code == CBN_SELCHANGE) {
        const int index = selectedEntry(dialog, id);
        if (index < 0) return;
        double& value = id == IDC_WA ? f.wa : f.wb;
        double& applied = id == IDC_WA ? d.appliedWa : d.appliedWb;
        value = index * 0.001;
        changed = value != applied;
        applied = value;
        if (IsWindowVisible(GetDlgItem(dialog, IDC_WAFREQ))) showFractionFrequencies(dialog, app);
    } else if (id == IDC_SHOWCIRCLES) {
        f.showFilterCircles = !f.showFilterCircles;
        setMark(dialog, id, f.showFilterCircles);
        changed = f.showFilterCircles != d.appliedShow;
        d.appliedShow = f.showFilterCircles;
    }
    if (changed) repaintSpectrumArea(app, d.mainWindow);
}

// Draws the illustration centred at the top and its sunken frame.
void paintIllustration(HWND dialog, const StandardDialog& d, HDC dc) {
    RECT units{0, 0, 210, 0};
    MapDialogRect(dialog, &units);
    const int x = (units.right - kIllustrationWidth) / 2;
    if (d.illustration) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, d.illustration);
        BitBlt(dc, x, 10, kIllustrationWidth, kIllustrationHeight, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    RECT frameRect{x - 1, 9, x + kIllustrationWidth + 1, 10 + kIllustrationHeight + 1};
    DrawEdge(dc, &frameRect, EDGE_SUNKEN, BF_RECT);
}

INT_PTR standardProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    StandardDialog* d = frame::dialogState<StandardDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            OnStandardInit(dialog, *d);
            return TRUE;
        case WM_COMMAND:
            OnStandardCommand(dialog, *d, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_PAINT:
            frame::OnPaint(dialog, [&](HDC dc, const RECT&) { paintIllustration(dialog, *d, dc); });
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void standardFilterDialog(AppState& app, HWND window) {
    StandardDialog d{&app, window};
    d.illustration = LoadBitmapA(app.frame.instance, "IBMP_0");
    const auto brightness = app.settings.brightness;
    const auto filter = app.settings.filter;
    const INT_PTR result = frame::runDialog<standardProcedure>(
        app.frame.instance, window, "SETMASK_DLG", d, "Unable to display dialog");
    if (result == IDCANCEL) {
        // The filter type chosen stays; the values edited go back.
        app.settings.brightness = brightness;
        app.settings.filter.wa = filter.wa;
        app.settings.filter.wb = filter.wb;
        app.settings.filter.showFilterCircles = filter.showFilterCircles;
        repaintSpectrumArea(app, window);
    }
    if (d.illustration) DeleteObject(d.illustration);
}

}  // namespace voralin
