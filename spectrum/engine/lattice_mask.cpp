#include "spectrum/engine/lattice_mask.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace spectrum {

double softDisc(double dist, double radius, double sigma) {
    if (!(sigma > 0.0)) return dist < radius ? 1.0 : 0.0;
    return 0.5 * std::erfc((dist - radius) / (std::sqrt(2.0) * sigma));
}

namespace {
double cross(const Vec2& a, const Vec2& b) { return a.x * b.y - a.y * b.x; }
double dot(const Vec2& a, const Vec2& b) { return a.x * b.x + a.y * b.y; }
}  // namespace

LatticeCheck checkLattice(const LatticeSettings& lattice, int n) {
    const double la = std::hypot(lattice.g1.x, lattice.g1.y);
    const double lb = std::hypot(lattice.g2.x, lattice.g2.y);
    if (!(la > 0.0) || !(lb > 0.0) || !std::isfinite(la) || !std::isfinite(lb))
        return LatticeCheck::kCollinear;
    const double area = std::fabs(cross(lattice.g1, lattice.g2));
    if (!(area >= std::sin(3.14159265358979323846 / 180.0) * la * lb))
        return LatticeCheck::kCollinear;
    if (!(lattice.radius > 0.0) || !(lattice.radius <= n / 2.0)) return LatticeCheck::kBadRadius;
    // The frame holds about n^2 / area spots (one per cell).
    if (static_cast<double>(n) * n / area > kMaxLatticePoints) return LatticeCheck::kTooManyPoints;
    return LatticeCheck::kOk;
}

core::Localized latticeCheckText(LatticeCheck check) {
    switch (check) {
        case LatticeCheck::kCollinear:
            return {"The two lattice vectors must be non-zero and point in different directions.",
                    "2 つの格子ベクトルは 0 でなく、互いに異なる向きでなければなりません。"};
        case LatticeCheck::kBadRadius:
            return {"The spot radius must be greater than 0 and at most half the spectrum.",
                    "スポットの半径は 0 より大きく、スペクトルの半分以下にしてください。"};
        case LatticeCheck::kTooManyPoints:
            return {"The lattice vectors are so short that more lattice spots fall inside the "
                    "spectrum than can be masked (at most 200000).",
                    "格子ベクトルが短すぎて、スペクトル内の格子スポットがマスクできる数 (最大 "
                    "200000) を超えます。"};
        default:
            return {"", ""};
    }
}

void reduceBasis(Vec2& a, Vec2& b) {
    if (dot(a, a) > dot(b, b)) std::swap(a, b);
    for (int step = 0; step < 100; ++step) {
        const double mu = std::round(dot(a, b) / dot(a, a));
        b.x -= mu * a.x;
        b.y -= mu * a.y;
        if (dot(b, b) >= dot(a, a)) break;
        std::swap(a, b);
    }
}

LatticeWeight::LatticeWeight(const LatticeSettings& lattice, double sigma)
    : a_(lattice.g1), b_(lattice.g2), radius_(lattice.radius), sigma_(sigma) {
    reduceBasis(a_, b_);
    const double det = cross(a_, b_);
    // (fx, fy) = u a + v b
    inv00_ = b_.y / det;
    inv01_ = -b_.x / det;
    inv10_ = -a_.y / det;
    inv11_ = a_.x / det;
}

double LatticeWeight::operator()(double fx, double fy) const {
    const double u = std::round(inv00_ * fx + inv01_ * fy);
    const double v = std::round(inv10_ * fx + inv11_ * fy);
    double best = -1.0;
    for (int du = -1; du <= 1; ++du) {
        for (int dv = -1; dv <= 1; ++dv) {
            const double px = (u + du) * a_.x + (v + dv) * b_.x;
            const double py = (u + du) * a_.y + (v + dv) * b_.y;
            const double d2 = (fx - px) * (fx - px) + (fy - py) * (fy - py);
            if (best < 0.0 || d2 < best) best = d2;
        }
    }
    return softDisc(std::sqrt(best), radius_, sigma_);
}

std::vector<MaskCircle> latticeMaskCircles(const LatticeSettings& lattice, int n, int offsetX,
                                           int offsetY, int width, int height) {
    std::vector<MaskCircle> circles;
    if (checkLattice(lattice, n) != LatticeCheck::kOk || width <= 0 || height <= 0) return circles;
    Vec2 a = lattice.g1, b = lattice.g2;
    reduceBasis(a, b);
    const double cx = n / 2 - offsetX, cy = n / 2 - offsetY;
    const double r = lattice.radius;
    // The fractional coordinates of the picture's corners, widened by the radius, bound the
    // lattice points whose discs can touch it.
    const double det = a.x * b.y - a.y * b.x;
    double loI = INFINITY, hiI = -INFINITY, loJ = INFINITY, hiJ = -INFINITY;
    for (const double px : {-r - cx, width + r - cx})
        for (const double py : {-r - cy, height + r - cy}) {
            const double i = (px * b.y - py * b.x) / det, j = (a.x * py - a.y * px) / det;
            loI = std::min(loI, i), hiI = std::max(hiI, i);
            loJ = std::min(loJ, j), hiJ = std::max(hiJ, j);
        }
    const int radius = std::max(1, static_cast<int>(std::lround(r)));
    for (long i = static_cast<long>(std::floor(loI)); i <= static_cast<long>(std::ceil(hiI)); ++i)
        for (long j = static_cast<long>(std::floor(loJ)); j <= static_cast<long>(std::ceil(hiJ));
             ++j) {
            const double x = cx + i * a.x + j * b.x, y = cy + i * a.y + j * b.y;
            if (x < -r || x > width + r || y < -r || y > height + r) continue;
            circles.push_back({static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)),
                               radius});
        }
    return circles;
}

MaskCircle symmetricMate(const MaskCircle& circle, int n, int offsetX, int offsetY) {
    return {2 * (n / 2 - offsetX) - circle.x, 2 * (n / 2 - offsetY) - circle.y, circle.radius};
}

std::optional<std::pair<Vec2, Vec2>> parseBasisText(std::string_view text) {
    double v[4];
    int count = 0;
    std::string field;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ';';
        if (c != ',' && c != ';') {
            field += c;
            continue;
        }
        // Separators alternate: x1 , y1 ; x2 , y2
        if ((count % 2 == 0) != (c == ',')) return std::nullopt;
        const std::size_t a = field.find_first_not_of(" \t");
        const std::size_t b = field.find_last_not_of(" \t");
        if (a == std::string::npos || count == 4) return std::nullopt;
        const std::string number = field.substr(a, b - a + 1);
        char* end = nullptr;
        const double value = std::strtod(number.c_str(), &end);
        if (end != number.c_str() + number.size() || !(value >= -100000 && value <= 100000))
            return std::nullopt;
        v[count++] = value;
        field.clear();
    }
    if (count != 4) return std::nullopt;
    return std::pair<Vec2, Vec2>{{v[0], v[1]}, {v[2], v[3]}};
}

void addDrawnCircle(FilterSettings& filter, const MaskCircle& circle, const SpectrumBuffers& buffers) {
    filter.circles.push_back(circle);
    if (filter.symmetricCircles)
        filter.circles.push_back(symmetricMate(circle, buffers.n, buffers.offsetX, buffers.offsetY));
}

bool removeLastDrawnCircle(FilterSettings& filter, const SpectrumBuffers& buffers) {
    auto& circles = filter.circles;
    if (circles.empty()) return false;
    const std::size_t n = circles.size();
    const bool pair = filter.symmetricCircles && n >= 2 &&
                      circles[n - 1] == symmetricMate(circles[n - 2], buffers.n, buffers.offsetX,
                                                      buffers.offsetY);
    circles.resize(n - (pair ? 2 : 1));
    return true;
}

}  // namespace spectrum
