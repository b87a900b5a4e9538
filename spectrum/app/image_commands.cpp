// The commands that transform the picture, and the overlays drawn over the shown spectrum.
#include "frame/app_frame.h"
#include "frame/support/window_support.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/display.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/overlays.h"

namespace voralin {
namespace {

void strokeSegments(HDC dc, const std::vector<spectrum::Segment>& segments) {
    for (const auto& s : segments) {
        MoveToEx(dc, s.from.x, s.from.y, nullptr);
        LineTo(dc, s.to.x, s.to.y);
    }
}

COLORREF colourOf(const spectrum::Rgb& c) {
    return RGB(c.red, c.green, c.blue);
}

}  // namespace

void fftCommand(AppState& app, HWND window) {
    if (app.circlePlacement) leaveCircleMode(app, true);
    if (app.state == ImageState::NoImage) return;
    if (app.buffers.present()) {
        if (spectrum::mapSpectrum(app.buffers, app.geometry, app.settings.display, app.image) != 0)
            return;  // a flat spectrum: nothing new to show
        frame::repaintPicture(window, true);
        return;
    }
    frame::WaitBox busy(app.frame);
    if (!spectrum::forwardTransform(app.image, app.geometry, app.settings, app.buffers, app.sink,
                                    busy, preciseLevelsFor(app)))
        return;
    setImageState(app, ImageState::SpectrumShown);
    if (app.buffers.isHalf()) refreshImageTitle(app, window);
    frame::repaintPicture(window, true);
}

void inverseFftCommand(AppState& app, HWND window) {
    app.circlePlacement = false;
    app.dragging = false;
    frame::WaitBox busy(app.frame);
    const bool wasHalf = app.buffers.isHalf();  // its frame is in the title until now
    TransformedImage before;
    keepForBack(app, before);
    const bool done = spectrum::inverseTransform(app.image, app.geometry, app.settings, app.buffers,
                                                 app.sink, busy, &app.lattice.parts,
                                                 &app.restored);
    if (done) {
        setImageState(app, ImageState::FilteredShown);
        if (!before.source.empty()) app.beforeInverse = std::move(before);
        rememberRestored(app);
        latticeAfterInverse(app, window);
        if (wasHalf) refreshImageTitle(app, window);
        frame::repaintPicture(window, true);
    }
    app.settings.filter.circles.clear();
}

void paintOverlays(AppState& app, HDC dc) {
    const spectrum::PictureView view = spectrum::clientView(app.image.viewReduction);
    const auto& settings = app.settings;
    HGDIOBJ oldPen = nullptr;
    auto usePen = [&](COLORREF colour) {
        HPEN pen = CreatePen(PS_SOLID, 1, colour);
        HGDIOBJ previous = SelectObject(dc, pen);
        if (!oldPen)
            oldPen = previous;
        else
            DeleteObject(previous);
    };

    if (settings.lineWave.lineWave) {
        spectrum::GreyPixels picture;
        if (spectrum::greyPixelsOf(app.image, app.geometry, picture)) {
            usePen(colourOf(settings.lineWave.colour));
            strokeSegments(
                dc, spectrum::lineWaveSegments(picture, app.geometry, view, settings.lineWave));
        }
    }
    if (settings.display.crossMark) {
        usePen(colourOf(spectrum::kCrossMarkColour));
        strokeSegments(dc, spectrum::crossMarkSegments(app.geometry, view));
    }
    usePen(colourOf(spectrum::kCircleColour));
    // A lattice mask shows its discs as drawn circles do (not over the whole frame, whose
    // picture is binned).
    const bool latticeMask = (settings.filter.kind == spectrum::kLatticeKeep ||
                              settings.filter.kind == spectrum::kLatticeRemove) &&
                             !settings.display.wholeFrame && app.buffers.present();
    const std::vector<spectrum::MaskCircle> circles =
        !settings.filter.circles.empty() || !latticeMask
            ? settings.filter.circles
            : spectrum::latticeMaskCircles(settings.filter.lattice, app.buffers.n,
                                           app.buffers.offsetX, app.buffers.offsetY,
                                           app.geometry.width, app.geometry.height);
    if (!circles.empty()) {
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        for (const auto& arc : spectrum::maskCircleArcs(circles, view)) {
            if (arc.whole)
                Ellipse(dc, arc.left, arc.top, arc.right, arc.bottom);
            else
                Arc(dc, arc.left, arc.top, arc.right, arc.bottom, arc.start.x, arc.start.y,
                    arc.end.x, arc.end.y);
        }
        SelectObject(dc, oldBrush);
    } else {
        for (const auto& run : spectrum::filterCircleRuns(app.geometry, view, settings.filter)) {
            if (run.size() < 2) continue;
            MoveToEx(dc, run[0].x, run[0].y, nullptr);
            for (std::size_t i = 1; i < run.size(); ++i) LineTo(dc, run[i].x, run[i].y);
        }
    }
    if (oldPen) DeleteObject(SelectObject(dc, oldPen));
}

}  // namespace voralin

namespace voralin {

void redisplaySpectrum(AppState& app, HWND window) {
    if (app.state != ImageState::SpectrumShown || !app.buffers.present()) return;
    if (spectrum::mapSpectrum(app.buffers, app.geometry, app.settings.display, app.image) != 0)
        return;  // flat: the picture stays
    frame::repaintPicture(window, true);
}

void repaintSpectrumArea(AppState& app, HWND window) {
    if (app.state != ImageState::SpectrumShown) return;
    frame::repaintPicture(window, true);
}

}  // namespace voralin
