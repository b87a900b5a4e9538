// Mask circles drawn with the mouse over the shown spectrum: a press fixes the centre, dragging
// shows an XOR rubber band, the release fixes the radius. Circles are kept in picture pixels.
#include "spectrum/app/app_state.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/rules/circle_drawing.h"

namespace voralin {
namespace {

int frameSize(const AppState& app) {
    return app.buffers.n;
}

// Drawing the same band twice leaves the picture as it was.
void drawRubberBand(AppState& app, HWND window, spectrum::Point to) {
    const spectrum::RubberBand band = spectrum::rubberBand(app.dragCentre, to, frameSize(app));
    HDC dc = GetDC(window);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 255, 162));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    const int oldMix = SetROP2(dc, R2_XORPEN);
    SetArcDirection(dc, AD_COUNTERCLOCKWISE);
    for (const auto& a : band.arcs)
        Arc(dc, a.left, a.top, a.right, a.bottom, a.start.x, a.start.y, a.end.x, a.end.y);
    SetROP2(dc, oldMix);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    ReleaseDC(window, dc);
}

void setCursorIfNeeded(HCURSOR cursor) {
    if (cursor && GetCursor() != cursor) SetCursor(cursor);
}

}  // namespace

void beginCircle(AppState& app, HWND window, spectrum::Point at) {
    if (!app.circlePlacement) return;
    if (!spectrum::canStartMaskCircle(app.settings.filter, app.sink)) {
        app.circlePlacement = false;
        app.dragging = false;
        SetCursor(app.frame.arrowCursor);
        return;
    }
    if (!spectrum::startsCircle(at, frameSize(app))) return;
    if (!circlesDrawableInView(app)) return;
    app.dragging = true;
    SetCapture(window);
    app.dragCentre = at;
    app.lastMousePoint = at;
}

void trackCircle(AppState& app, HWND window, spectrum::Point at) {
    if (!app.circlePlacement) return;
    if (!spectrum::insideDrawingArea(at, frameSize(app))) {
        setCursorIfNeeded(app.frame.arrowCursor);
        return;
    }
    setCursorIfNeeded(app.frame.appCursor);
    if (!app.dragging) return;
    drawRubberBand(app, window, app.lastMousePoint);
    drawRubberBand(app, window, at);
    app.lastMousePoint = at;
}

void endCircle(AppState& app, HWND window, spectrum::Point at) {
    if (!app.dragging) return;
    drawRubberBand(app, window, app.lastMousePoint);
    drawRubberBand(app, window, at);
    app.lastMousePoint = at;
    ReleaseCapture();
    const int vr = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    spectrum::addDrawnCircle(app.settings.filter, spectrum::circleFromDrag(app.dragCentre, at, vr),
                             app.buffers);
    app.dragging = false;
    RECT shown{0, spectrum::kPictureTop, app.geometry.width / vr,
               app.geometry.height / vr + spectrum::kPictureTop};
    InvalidateRect(window, &shown, TRUE);
    UpdateWindow(window);
}

void removeLastCircle(AppState& app, HWND window) {
    if (app.state != ImageState::SpectrumShown || !app.circlePlacement || app.dragging) return;
    if (!spectrum::removeLastDrawnCircle(app.settings.filter, app.buffers)) return;
    // The circles are drawn over the spectrum when it is painted: repaint the whole picture.
    const int vr = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    RECT shown{0, spectrum::kPictureTop, app.geometry.width / vr,
               app.geometry.height / vr + spectrum::kPictureTop};
    InvalidateRect(window, &shown, TRUE);
    UpdateWindow(window);
}

void nudgeCursor(AppState& app, HWND window, WPARAM key) {
    if (app.state != ImageState::SpectrumShown || !GetActiveWindow() || !IsWindowEnabled(window) ||
        !app.circlePlacement || app.dragging)
        return;
    spectrum::ArrowKey arrow;
    switch (key) {
        case VK_LEFT:
            arrow = spectrum::ArrowKey::Left;
            break;
        case VK_UP:
            arrow = spectrum::ArrowKey::Up;
            break;
        case VK_RIGHT:
            arrow = spectrum::ArrowKey::Right;
            break;
        case VK_DOWN:
            arrow = spectrum::ArrowKey::Down;
            break;
        default:
            return;
    }
    POINT screen{};
    GetCursorPos(&screen);
    POINT client = screen;
    ScreenToClient(window, &client);
    if (const auto step = spectrum::nudgeStep(arrow, {client.x, client.y}, frameSize(app)))
        SetCursorPos(screen.x + step->x, screen.y + step->y);
}

}  // namespace voralin
