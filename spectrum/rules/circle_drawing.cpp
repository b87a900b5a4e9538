#include "spectrum/rules/circle_drawing.h"

#include <cmath>

namespace spectrum {
namespace {

int rootOf(long long square) {
    return square > 0 ? static_cast<int>(std::sqrt(static_cast<double>(square))) : 0;
}

int distance(Point a, Point b) {
    const long long dx = a.x - b.x, dy = a.y - b.y;
    return rootOf(dx * dx + dy * dy);
}

}  // namespace

bool startsCircle(Point at, int n) {
    return at.x >= 0 && at.x < n && at.y >= kPictureTop && at.y < n + kPictureTop;
}

bool insideDrawingArea(Point at, int n) {
    return at.x >= 0 && at.x < n && at.y >= kPictureTop && at.y < n + kPictureTop;
}

RubberBand rubberBand(Point c, Point to, int n) {
    RubberBand band;
    const int r = distance(c, to);
    band.radius = r;
    const long long rr = static_cast<long long>(r) * r;
    auto reach = [&](int d) { return rootOf(rr - static_cast<long long>(d) * d); };
    Point topLeft{c.x, c.y - r}, topRight = topLeft;
    if (c.y - r < kPictureTop) {
        const int w = reach(c.y - kPictureTop);
        topLeft = {c.x - w, kPictureTop};
        topRight = {c.x + w, kPictureTop};
    }
    Point bottomLeft{c.x, c.y + r}, bottomRight = bottomLeft;
    if (c.y + r >= n + kPictureTop) {
        const int w = reach(n + kPictureTop - c.y);
        bottomLeft = {c.x - w, n + kPictureTop};
        bottomRight = {c.x + w, n + kPictureTop};
    }
    Point lowerRight{c.x + r, c.y}, upperRight = lowerRight;
    if (c.x + r >= n) {
        const int h = reach(n - c.x);
        lowerRight = {n, c.y + h};
        upperRight = {n, c.y - h};
    }
    const ArcStroke box{c.x - r, c.y - r, c.x + r, c.y + r, false, {}, {}};
    auto arc = [&](Point from, Point until) {
        ArcStroke a = box;
        a.start = from;
        a.end = until;
        band.arcs.push_back(a);
    };
    arc(topLeft, bottomLeft);
    if (bottomRight.x < n && lowerRight.y < n + kPictureTop) arc(bottomRight, lowerRight);
    if (upperRight.y > kPictureTop && topRight.x < n) arc(upperRight, topRight);
    return band;
}

MaskCircle circleFromDrag(Point centre, Point release, int viewReduction) {
    const PictureView view = clientView(viewReduction);
    const Point p = pictureFromShown(centre, view);
    return {p.x, p.y, distance(centre, release) * view.reduction};
}

std::optional<Point> nudgeStep(ArrowKey key, Point at, int n) {
    const bool rowsInside = at.y >= kPictureTop && at.y <= n + kPictureTop - 1;
    const bool columnsInside = at.x >= 0 && at.x <= n - 1;
    switch (key) {
        case ArrowKey::Down:
            if (at.y >= kPictureTop + 1 && at.y <= n + kPictureTop - 1 && columnsInside)
                return Point{0, -1};
            break;
        case ArrowKey::Up:
            if (at.y >= kPictureTop && at.y <= n + kPictureTop - 2 && columnsInside)
                return Point{0, 1};
            break;
        case ArrowKey::Right:
            if (rowsInside && at.x >= 1 && at.x <= n - 1) return Point{-1, 0};
            break;
        case ArrowKey::Left:
            if (rowsInside && at.x >= 0 && at.x <= n - 2) return Point{1, 0};
            break;
    }
    return std::nullopt;
}

}  // namespace spectrum
