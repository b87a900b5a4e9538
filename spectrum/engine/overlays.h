// Geometry of the marks drawn over the shown spectrum, in window client coordinates (the
// picture's top-left pixel at (0, kPictureTop), picture coordinates divided by the view
// reduction). The program only strokes what these functions return, with a one-pixel solid pen;
// a segment's end point is not drawn (as with LineTo).
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

// The picture centre in client coordinates.
Point pictureCentre(const image::ImageGeometry& geometry, int viewReduction);

// The two strokes of the cross mark.
std::vector<Segment> crossMarkSegments(const image::ImageGeometry& geometry, int viewReduction);

// The standard filter circles (one, or two for the band filters) as connected runs of points:
// consecutive points of a run are joined; nothing is drawn between runs. Empty when the circles
// are hidden or no filter is chosen.
std::vector<std::vector<Point>> filterCircleRuns(const image::ImageGeometry& geometry,
                                                 int viewReduction, const FilterSettings& filter);

// One mask circle as an elliptic arc on its bounding square, drawn counter-clockwise from start
// to end (the whole ellipse when `whole`).
struct ArcStroke {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool whole = true;
    Point start, end;
    bool operator==(const ArcStroke&) const = default;
};
std::vector<ArcStroke> maskCircleArcs(const std::vector<MaskCircle>& circles, int viewReduction);

// The line wave over the shown spectrum picture, clipped at the top of the picture and at
// x = width - 1.
std::vector<Segment> lineWaveSegments(const GreyPixels& picture,
                                      const image::ImageGeometry& geometry, int viewReduction,
                                      const LineWaveSettings& wave);

// Conversions between picture pixels and client coordinates.
Point clientFromPicture(Point picture, int viewReduction);
Point pictureFromClient(Point client, int viewReduction);

}  // namespace spectrum
