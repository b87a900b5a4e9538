#include "spectrum/engine/overlays.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "spectrum/engine/line_wave.h"

namespace spectrum {

namespace {
constexpr double kDegree = 0.017453292519943295;
}

Point shownFromPicture(Point p, const PictureView& view) {
    return {p.x / view.reduction, p.y / view.reduction + view.top};
}
Point pictureFromShown(Point p, const PictureView& view) {
    return {p.x * view.reduction, (p.y - view.top) * view.reduction};
}

Point pictureCentre(const image::ImageGeometry& g, const PictureView& view) {
    return {(g.width / 2) / view.reduction, (g.height / 2) / view.reduction + view.top};
}

std::vector<Segment> crossMarkSegments(const image::ImageGeometry& g, const PictureView& view) {
    const Point c = pictureCentre(g, view);
    return {{{c.x, c.y - 9}, {c.x, c.y + 10}}, {{c.x - 9, c.y}, {c.x + 10, c.y}}};
}

std::vector<std::vector<Point>> filterCircleRuns(const image::ImageGeometry& g,
                                                 const PictureView& view,
                                                 const FilterSettings& filter) {
    const int vr = view.reduction, top = view.top;
    std::vector<std::vector<Point>> runs;
    if (!filter.showFilterCircles || filter.standardType == kNoFilter) return runs;
    const double unit = std::sqrt(static_cast<double>(g.width) * g.width +
                                  static_cast<double>(g.height) * g.height) /
                        (2.0 * vr);
    std::vector<double> radii{std::min(filter.wa, filter.wb) * unit};
    if (filter.standardType == kBandPass || filter.standardType == kBandCut)
        radii.push_back(std::max(filter.wa, filter.wb) * unit);
    const Point c = pictureCentre(g, view);
    const int right = g.width / vr, bottom = g.height / vr + top;
    auto inside = [&](Point p) { return p.x >= 0 && p.x < right && p.y >= top && p.y < bottom; };
    for (const double r : radii) {
        std::optional<Point> previous;
        for (int k = 0; k < 3600; ++k) {
            const double angle = k * 0.1 * kDegree;
            const Point p{c.x + static_cast<int>(std::lround(r * std::cos(angle))),
                          c.y - static_cast<int>(std::lround(r * std::sin(angle)))};
            if (previous && inside(*previous) && inside(p)) {
                if (runs.empty() || runs.back().empty() || !(runs.back().back() == *previous))
                    runs.push_back({*previous});
                runs.back().push_back(p);
            }
            previous = p;
        }
    }
    return runs;
}

std::vector<ArcStroke> maskCircleArcs(const std::vector<MaskCircle>& circles,
                                      const PictureView& view) {
    const int top = view.top;
    std::vector<ArcStroke> arcs;
    for (const MaskCircle& circle : circles) {
        const Point c = shownFromPicture({circle.x, circle.y}, view);
        const int r = circle.radius / view.reduction;
        ArcStroke arc{c.x - r, c.y - r, c.x + r, c.y + r, true, {}, {}};
        if (c.y - r < top) {
            const double dy = c.y - top;
            const double reach = std::sqrt(std::max(0.0, static_cast<double>(r) * r - dy * dy));
            arc.whole = false;
            arc.start = {c.x - static_cast<int>(reach), top};
            arc.end = {c.x + static_cast<int>(reach), top};
        }
        arcs.push_back(arc);
    }
    return arcs;
}

namespace {

// Clips a segment against the half-plane y >= top (by linear interpolation, truncated).
bool clipTop(Point& a, Point& b, int top) {
    if (a.y < top && b.y < top) return false;
    auto cross = [&](Point p, Point q) {
        const double t = static_cast<double>(top - p.y) / (q.y - p.y);
        return Point{static_cast<int>(p.x + t * (q.x - p.x)), top};
    };
    if (a.y >= top && b.y < top)
        b = cross(a, b);
    else if (a.y < top && b.y >= top)
        a = cross(b, a);
    return true;
}

// Clips a segment against the half-plane x <= right.
bool clipRight(Point& a, Point& b, int right) {
    if (a.x > right && b.x > right) return false;
    auto cross = [&](Point p, Point q) {
        const double t = static_cast<double>(right - p.x) / (q.x - p.x);
        return Point{right, static_cast<int>(p.y + t * (q.y - p.y))};
    };
    if (a.x <= right && b.x > right)
        b = cross(a, b);
    else if (a.x > right && b.x <= right)
        a = cross(b, a);
    return true;
}

}  // namespace

std::vector<Segment> lineWaveSegments(const GreyPixels& picture, const image::ImageGeometry& g,
                                      const PictureView& view, const LineWaveSettings& wave) {
    const int vr = view.reduction, top = view.top;
    std::vector<Segment> segments;
    const std::vector<LineSample> samples = lineSamples(g.width, g.height, wave.angle);
    const std::vector<int> profile = lineProfile(samples, picture);
    const int count = static_cast<int>(profile.size());
    const double theta = wave.angle * kDegree;
    const double s = std::sin(theta), c = std::cos(theta);
    const double shorter = std::min(g.width, g.height);
    std::optional<Point> previous;
    for (int i = 0; i < count; ++i) {
        if (!samples[i].inside) continue;
        int a = profile[i];
        if (wave.averagingPoints > 0) {
            int sum = 0, n = 0;
            for (int k = -wave.averagingPoints; k <= wave.averagingPoints; ++k) {
                const int at = i + k;
                if (at < 0 || at >= count) continue;
                sum += profile[at];
                ++n;
            }
            a = sum / n;
        }
        const int displacement =
            static_cast<int>(a / 255.0 * shorter * 0.5 * wave.zoomPercent / 100.0);
        const Point p{static_cast<int>((samples[i].x - displacement * s) / vr),
                      static_cast<int>((samples[i].y - displacement * c) / vr + top)};
        if (previous) {
            Point from = *previous, to = p;
            if (clipTop(from, to, top) && clipRight(from, to, g.width - 1))
                segments.push_back({from, to});
        }
        previous = p;
    }
    return segments;
}

}  // namespace spectrum
