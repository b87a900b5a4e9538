// FFT Filter: the choice of filter kind, the standard filter with its live filter circles, and
// the special filter with its profile graph. Both editing dialogs share the brightness controls.
#include <algorithm>

#include "spectrum/app/app_state.h"
#include "spectrum/app/dialog_support.h"
#include "spectrum/engine/dialog_values.h"
#include "spectrum/engine/filters.h"

namespace voralin {
namespace {

constexpr int kIllustrationWidth = 284;
constexpr int kIllustrationHeight = 142;

// ---- the brightness controls shared by both editing dialogs ----

void showLevels(HWND dialog, const AppState& app) {
    const auto& b = app.settings.brightness;
    if (b.keepImageBrightness) {
        const auto shown =
            spectrum::levelsShownWhenKept(b, app.buffers.imageMin, app.buffers.imageMax);
        setMark(dialog, IDC_KEEPBRIGHTNESS, true);
        selectEntry(dialog, IDC_BRIGHT, shown.bright - spectrum::kBrightBase);
        selectEntry(dialog, IDC_DARK, shown.dark);
    } else {
        setMark(dialog, IDC_KEEPBRIGHTNESS, false);
        selectEntry(dialog, IDC_BRIGHT, b.brightLevel - spectrum::kBrightBase);
        selectEntry(dialog, IDC_DARK, b.darkLevel);
    }
    EnableWindow(GetDlgItem(dialog, IDC_BRIGHT), !b.keepImageBrightness);
    EnableWindow(GetDlgItem(dialog, IDC_DARK), !b.keepImageBrightness);
}

void fillLevelLists(HWND dialog, const AppState& app) {
    const auto& b = app.settings.brightness;
    fillList(dialog, IDC_DARK, spectrum::kLevelEntries, numberText, b.darkLevel);
    fillList(
        dialog, IDC_BRIGHT, spectrum::kLevelEntries,
        [](int i) { return numberText(i + spectrum::kBrightBase); },
        b.brightLevel - spectrum::kBrightBase);
    showLevels(dialog, app);
}

// Handles the brightness controls; false for any other control.
bool OnLevelCommand(HWND dialog, AppState& app, int id, int code) {
    auto& b = app.settings.brightness;
    const int index = selectedEntry(dialog, id);
    if (id == IDC_DARK || id == IDC_BRIGHT) {
        if (code == CBN_SELCHANGE && index >= 0) {
            if (id == IDC_DARK) b.darkLevel = index;
            if (id == IDC_BRIGHT) b.brightLevel = index + spectrum::kBrightBase;
        }
        return true;
    }
    if (id == IDC_KEEPBRIGHTNESS) {
        b.keepImageBrightness = !b.keepImageBrightness;
        showLevels(dialog, app);
        return true;
    }
    return false;
}

// ---- "SETMASKBASE_DLG": the filter kind ----

INT_PTR CALLBACK kindProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AppState* app = dialogState<AppState>(dialog, message, lParam);
    if (!app) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            CheckRadioButton(dialog, IDC_STANDARD, IDC_CIRCLESIN,
                             IDC_STANDARD + app->settings.filter.kind);
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id >= IDC_STANDARD && id <= IDC_CIRCLESIN) {
                CheckRadioButton(dialog, IDC_STANDARD, IDC_CIRCLESIN, id);
                app->settings.filter.kind = id - IDC_STANDARD;
            } else if (id == IDOK || id == IDCANCEL) {
                EndDialog(dialog, id);
            }
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

// ---- "SETMASK_DLG": the standard filter ----

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

INT_PTR CALLBACK standardProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    StandardDialog* d = dialogState<StandardDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            OnStandardInit(dialog, *d);
            return TRUE;
        case WM_COMMAND:
            OnStandardCommand(dialog, *d, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps{};
            HDC dc = BeginPaint(dialog, &ps);
            paintIllustration(dialog, *d, dc);
            EndPaint(dialog, &ps);
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

void standardFilterDialog(AppState& app, HWND window) {
    StandardDialog d{&app, window};
    d.illustration = LoadBitmapA(app.frame.instance, "IBMP_0");
    const auto brightness = app.settings.brightness;
    const auto filter = app.settings.filter;
    const INT_PTR result = runDialog(app.frame.instance, window, "SETMASK_DLG", standardProcedure,
                                     d, "Unable to display dialog");
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

// ---- "SETMASK_DLG2": the special filter profile ----

struct SpecialDialog {
    AppState* app = nullptr;
    HBITMAP horizontalCaption = nullptr;  // "IBMP_2", under the graph
    HBITMAP verticalCaption = nullptr;    // "IBMP_3", left of the graph
};

// The graph's white rectangle in pixels: at least 155 x 156, grown a dialog unit at a time.
RECT graphRect(HWND dialog) {
    RECT r{26, 5, 26, 5};
    RECT pixels = r;
    for (int i = 0; i < 400; ++i) {
        pixels = r;
        MapDialogRect(dialog, &pixels);
        if (pixels.right - pixels.left >= 155) break;
        ++r.right;
    }
    for (int i = 0; i < 400; ++i) {
        pixels = r;
        MapDialogRect(dialog, &pixels);
        if (pixels.bottom - pixels.top >= 156) break;
        ++r.bottom;
    }
    return pixels;
}

void line(HDC dc, COLORREF colour, std::initializer_list<POINT> points) {
    HPEN pen = CreatePen(PS_SOLID, 1, colour);
    HGDIOBJ old = SelectObject(dc, pen);
    const POINT* p = points.begin();
    MoveToEx(dc, p->x, p->y, nullptr);
    for (++p; p != points.end(); ++p) LineTo(dc, p->x, p->y);
    SelectObject(dc, old);
    DeleteObject(pen);
}

void blit(HDC dc, HBITMAP bitmap, int x, int y) {
    if (!bitmap) return;
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(dc, x, y, info.bmWidth, info.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void paintGraph(HWND dialog, const SpecialDialog& d, HDC dc) {
    const RECT g = graphRect(dialog);
    const int L = g.left, T = g.top, R = g.right, B = g.bottom;
    const COLORREF face = d.app->frame.buttonFaceColour;
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(WHITE_BRUSH));
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(WHITE_PEN));
    Rectangle(dc, L, T, R, B);
    line(dc, RGB(0, 0, 0), {{R + 1, T - 1}, {L - 1, T - 1}, {L - 1, B + 1}});
    line(dc, face, {{L - 1, B - 1}, {R, B - 1}, {R, T - 1}});
    line(dc, RGB(128, 128, 128), {{R + 1, T - 2}, {L - 2, T - 2}, {L - 2, B + 1}});
    line(dc, RGB(255, 255, 255), {{L - 2, B}, {R + 1, B}, {R + 1, T - 2}});
    for (int i = 0; i < 18; ++i) line(dc, face, {{L + 9, T + 9 + 8 * i}, {L + 145, T + 9 + 8 * i}});
    for (int i = 0; i < 17; ++i) line(dc, face, {{L + 9 + 8 * i, T + 9}, {L + 9 + 8 * i, T + 145}});
    line(dc, face, {{L + 145, T + 9}, {L + 145, T + 146}});

    const auto& f = d.app->settings.filter;
    const spectrum::ProfileGraph graph = spectrum::profileGraph(f.specialProfile, f.selectedPoint);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HBRUSH redBrush = CreateSolidBrush(RGB(255, 0, 0));
    SelectObject(dc, red);
    SelectObject(dc, redBrush);
    Ellipse(dc, L + graph.dotLeft, T + graph.dotTop, L + graph.dotRight, T + graph.dotBottom);
    SelectObject(dc, GetStockObject(BLACK_PEN));
    MoveToEx(dc, L + graph.polyline[0].x, T + graph.polyline[0].y, nullptr);
    for (std::size_t i = 1; i < graph.polyline.size(); ++i)
        LineTo(dc, L + graph.polyline[i].x, T + graph.polyline[i].y);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(red);
    DeleteObject(redBrush);
    blit(dc, d.horizontalCaption, R - 40, B + 5);
    blit(dc, d.verticalCaption, L - 17, T);
}

void redrawGraph(HWND dialog, AppState& app, bool interpolate) {
    SetCursor(app.frame.waitCursor);
    if (interpolate) spectrum::interpolateSpecialProfile(app.settings.filter.specialProfile);
    const RECT g = graphRect(dialog);
    RECT inside{g.left + 3, g.top + 3, g.right - 3, g.bottom - 3};
    InvalidateRect(dialog, &inside, TRUE);
    UpdateWindow(dialog);
    SetCursor(app.frame.arrowCursor);
}

void OnSpecialCommand(HWND dialog, AppState& app, int id, int code) {
    auto& f = app.settings.filter;
    if (id == IDOK || id == IDCANCEL) {
        EndDialog(dialog, id);
        return;
    }
    if (OnLevelCommand(dialog, app, id, code)) return;
    if (id == IDC_STEPBACK || id == IDC_STEPFORWARD) {
        const int before = f.selectedPoint;
        spectrum::stepSpecialPoint(
            f, id == IDC_STEPBACK ? -spectrum::kControlPointStep : spectrum::kControlPointStep);
        if (f.selectedPoint != before) redrawGraph(dialog, app, false);
        return;
    }
    static constexpr int deltas[] = {10, 1, -1, -10};
    if (id >= IDC_PLUS10 && id <= IDC_MINUS10) {
        // adjustSpecialPoint interpolates when it changes the point.
        if (spectrum::adjustSpecialPoint(f, deltas[id - IDC_PLUS10]))
            redrawGraph(dialog, app, false);
    }
}

INT_PTR CALLBACK specialProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    SpecialDialog* d = dialogState<SpecialDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            fillLevelLists(dialog, *d->app);
            frame::placeDialogTopRight(dialog, d->app->frame.dialogTopOffset);
            return TRUE;
        case WM_COMMAND:
            OnSpecialCommand(dialog, *d->app, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps{};
            HDC dc = BeginPaint(dialog, &ps);
            paintGraph(dialog, *d, dc);
            EndPaint(dialog, &ps);
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

void specialFilterDialog(AppState& app, HWND window) {
    SpecialDialog d{&app};
    d.horizontalCaption = LoadBitmapA(app.frame.instance, "IBMP_2");
    d.verticalCaption = LoadBitmapA(app.frame.instance, "IBMP_3");
    readSpecialProfile(app);
    const auto brightness = app.settings.brightness;
    const INT_PTR result = runDialog(app.frame.instance, window, "SETMASK_DLG2", specialProcedure,
                                     d, "Unable to display dialog");
    if (result == IDOK) {
        writeSpecialProfile(app);
    } else if (result == IDCANCEL) {
        app.settings.brightness = brightness;
        app.settings.filter.specialProfile = app.savedProfile;
        app.settings.filter.selectedPoint = app.savedSelectedPoint;
    }
    if (d.horizontalCaption) DeleteObject(d.horizontalCaption);
    if (d.verticalCaption) DeleteObject(d.verticalCaption);
}

void hideFilterCircles(AppState& app, HWND window) {
    if (!app.settings.filter.showFilterCircles) return;
    app.settings.filter.showFilterCircles = false;
    repaintSpectrumArea(app, window);
}

}  // namespace

void filterCommand(AppState& app, HWND window) {
    leaveCircleMode(app, true);
    app.circlePlacement = false;
    const int kind = app.settings.filter.kind;
    const INT_PTR result = runDialog(app.frame.instance, window, "SETMASKBASE_DLG", kindProcedure,
                                     app, "Unable to open a dialog box.");
    if (result != IDOK) {
        app.settings.filter.kind = kind;
        if (result == IDCANCEL) repaintSpectrumArea(app, window);  // the circles are gone
        return;
    }
    switch (app.settings.filter.kind) {
        case spectrum::kStandardFilter:
            standardFilterDialog(app, window);
            break;
        case spectrum::kSpecialFilter:
            hideFilterCircles(app, window);
            specialFilterDialog(app, window);
            break;
        default:
            hideFilterCircles(app, window);
            app.circlePlacement = true;
            app.dragging = false;
            break;
    }
}

}  // namespace voralin
