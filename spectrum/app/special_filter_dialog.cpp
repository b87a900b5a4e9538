// "SETMASK_DLG2": the special filter's radial profile, edited point by point on its graph, with
// the brightness controls; the profile is kept in the settings file on OK.
#include "spectrum/app/filter_dialogs.h"

#include "frame/support/dialog_support.h"
#include "spectrum/engine/filters.h"
#include "spectrum/rules/dialog_values.h"

namespace voralin {
namespace {

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

INT_PTR specialProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    SpecialDialog* d = frame::dialogState<SpecialDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            fillLevelLists(dialog, *d->app);
            frame::placeDialogTopRight(dialog, d->app->frame.dialogTopOffset);
            return TRUE;
        case WM_COMMAND:
            OnSpecialCommand(dialog, *d->app, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_PAINT:
            frame::OnPaint(dialog, [&](HDC dc, const RECT&) { paintGraph(dialog, *d, dc); });
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void specialFilterDialog(AppState& app, HWND window) {
    SpecialDialog d{&app};
    d.horizontalCaption = LoadBitmapA(app.frame.instance, "IBMP_2");
    d.verticalCaption = LoadBitmapA(app.frame.instance, "IBMP_3");
    readSpecialProfile(app);
    const auto brightness = app.settings.brightness;
    const INT_PTR result = frame::runDialog<specialProcedure>(
        app.frame.instance, window, "SETMASK_DLG2", d, "Unable to display dialog");
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

}  // namespace voralin
