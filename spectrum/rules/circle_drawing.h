// Drawing mask circles with the mouse over the shown spectrum, in client coordinates: the area
// that takes presses, the rubber band shown while dragging, the circle a drag makes and the
// arrow-key nudging of the cursor. N is the frame size; the area is x 0..N-1 and y
// kPictureTop..kPictureTop+N-1.
#pragma once

#include <optional>
#include <vector>

#include "spectrum/engine/overlays.h"
#include "spectrum/engine/spectrum_state.h"
#include "spectrum/rules/client_layout.h"

namespace spectrum {

// Whether a press at (x, y) starts a circle.
bool startsCircle(Point at, int n);
// Whether a moving cursor at (x, y) is over the drawing area.
bool insideDrawingArea(Point at, int n);

// The rubber band from the centre through `to`: up to three counter-clockwise arcs on the bounding
// square, cut at the top (y = kPictureTop), the bottom (y = N + kPictureTop) and the right edge
// (x = N).
struct RubberBand {
    int radius = 0;
    std::vector<ArcStroke> arcs;  // never `whole`
};
RubberBand rubberBand(Point centre, Point to, int n);

// The circle a drag from `centre` to `release` makes, stored in picture pixels.
MaskCircle circleFromDrag(Point centre, Point release, int viewReduction);

// Arrow keys move the cursor one pixel against their direction while it stays in the area.
enum class ArrowKey { Left, Up, Right, Down };
std::optional<Point> nudgeStep(ArrowKey key, Point at, int n);

}  // namespace spectrum
