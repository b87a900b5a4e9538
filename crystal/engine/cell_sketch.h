// The unit-cell sketch beside the crystal parameters dialog: a fixed oblique cube (the lattice
// constants do not change it) with a coloured dot for every atom row drawn, in the client
// coordinates of a 240 x 250 window. The cell's origin is at (98, 128); a runs down to the left,
// b to the right, c upwards. The axis letters use the canvas's font (the program gives it a bold
// serif one).
#pragma once

#include "crystal/engine/canvas.h"

namespace crystal {

inline constexpr int kSketchWidth = 240, kSketchHeight = 250;

// Centre of the dot of an atom row (coordinates truncated toward zero).
Point sketchPosition(const AtomSite& site);

// Draws axes, the dots of rows 0..rowCount-1, the far edges dotted and the axis letters.
void drawCellSketch(Canvas& canvas, const CrystalModel& model, int rowCount);

}  // namespace crystal
