// Geometry of the marks drawn over the shown spectrum, in the coordinates of the surface the
// picture is shown on: a PictureView says where the picture's top-left pixel lies and by how much
// the picture is reduced. The program only strokes what these functions return, with a one-pixel
// solid pen; a segment's end point is not drawn (as with LineTo).
#pragma once

#include <vector>

#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

struct Point {
    int x = 0, y = 0;
    bool operator==(const Point&) const = default;
};
struct Segment {
    Point from, to;
    bool operator==(const Segment&) const = default;
};

inline constexpr Rgb kCrossMarkColour{0, 255, 255};
inline constexpr Rgb kCircleColour{0, 255, 162};

// How the picture is shown: its top-left pixel at (0, top) of the surface, picture coordinates
// divided by `reduction` (a power of two, at least 1).
struct PictureView {
    int reduction = 1;
    int top = 0;
};

// Conversions between picture pixels and surface coordinates.
Point shownFromPicture(Point picture, const PictureView& view);
Point pictureFromShown(Point shown, const PictureView& view);

// The picture centre on the surface.
Point pictureCentre(const image::ImageGeometry& geometry, const PictureView& view);

// The two strokes of the cross mark.
std::vector<Segment> crossMarkSegments(const image::ImageGeometry& geometry,
                                       const PictureView& view);

// The standard filter circles (one, or two for the band filters) as connected runs of points:
// consecutive points of a run are joined; nothing is drawn between runs. Empty when the circles
// are hidden or no filter is chosen.
std::vector<std::vector<Point>> filterCircleRuns(const image::ImageGeometry& geometry,
                                                 const PictureView& view,
                                                 const FilterSettings& filter);

// One mask circle as an elliptic arc on its bounding square, drawn counter-clockwise from start
// to end (the whole ellipse when `whole`); a circle that reaches above the picture is cut at its
// top row.
struct ArcStroke {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool whole = true;
    Point start, end;
    bool operator==(const ArcStroke&) const = default;
};
std::vector<ArcStroke> maskCircleArcs(const std::vector<MaskCircle>& circles,
                                      const PictureView& view);

// The line wave over the shown spectrum picture, clipped at the top of the picture and at
// x = width - 1.
std::vector<Segment> lineWaveSegments(const GreyPixels& picture,
                                      const image::ImageGeometry& geometry, const PictureView& view,
                                      const LineWaveSettings& wave);

}  // namespace spectrum
