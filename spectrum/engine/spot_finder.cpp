#include "spectrum/engine/spot_finder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <new>

#include "spectrum/engine/fft.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/parallel.h"
#include "spectrum/engine/readout.h"

namespace spectrum {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Complex float pairs, half spectrum, row-major, (n/2 + 1) per row.
struct HalfSpectrum {
    std::vector<float> data;
    int n = 0;
    int columns = 0;
    float* at(int row, int column) {
        return data.data() + (static_cast<std::size_t>(row) * columns + column) * 2;
    }
};

// `Source` is the 8-bit picture (GreyPixels) or a source's own levels (image::PreciseLevels):
// width, height and at(x, y), top row first.
template <class Source>
bool transformWindowed(const Source& pixels, int n, HalfSpectrum& half) {
    const int w = pixels.width, h = pixels.height;
    half.n = n;
    half.columns = n / 2 + 1;
    try {
        half.data.assign(static_cast<std::size_t>(n) * half.columns * 2, 0.0f);
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::vector<double> across(static_cast<std::size_t>(w)), down(static_cast<std::size_t>(h));
    for (int x = 0; x < w; ++x) across[x] = hannWeight(x, w);
    for (int y = 0; y < h; ++y) down[y] = hannWeight(y, h);
    // The window-weighted mean leaves the zero frequency empty, so its leakage never shows.
    double sum = 0.0, weights = 0.0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            sum += across[x] * down[y] * pixels.at(x, y);
            weights += across[x] * down[y];
        }
    const double mean = sum / weights;

    // Rows: two real rows as one complex transform, split by symmetry.
    bool ok = true;
    detail::forEachRowParallel((h + 1) / 2, [&](int pair) {
        std::vector<double> re(static_cast<std::size_t>(n), 0.0), im(static_cast<std::size_t>(n), 0.0);
        const int y0 = 2 * pair, y1 = 2 * pair + 1;
        for (int x = 0; x < w; ++x) {
            re[x] = (pixels.at(x, y0) - mean) * across[x] * down[y0];
            if (y1 < h) im[x] = (pixels.at(x, y1) - mean) * across[x] * down[y1];
        }
        if (transform1d(re.data(), im.data(), n, 0, Direction::Forward) != kTransformOk) {
            ok = false;
            return;
        }
        for (int k = 0; k <= n / 2; ++k) {
            const int m = (n - k) % n;
            const double zr = re[k], zi = im[k], cr = re[m], ci = -im[m];
            float* a = half.at(y0, k);
            a[0] = static_cast<float>((zr + cr) / 2);
            a[1] = static_cast<float>((zi + ci) / 2);
            if (y1 < h) {
                float* b = half.at(y1, k);
                // (Z - conj Z(-k)) / 2i
                b[0] = static_cast<float>((zi - ci) / 2);
                b[1] = static_cast<float>(-(zr - cr) / 2);
            }
        }
    });
    if (!ok) return false;
    // Columns: eight at a time, every row (the rows below the image are zero on entry).
    constexpr int kBatch = 8;
    const int batches = (half.columns + kBatch - 1) / kBatch;
    detail::forEachRowParallel(batches, [&](int batch) {
        std::vector<double> re(static_cast<std::size_t>(n)), im(static_cast<std::size_t>(n));
        for (int c = batch * kBatch; c < std::min(half.columns, (batch + 1) * kBatch); ++c) {
            for (int r = 0; r < n; ++r) {
                const float* v = half.at(r, c);
                re[r] = v[0];
                im[r] = v[1];
            }
            if (transform1d(re.data(), im.data(), n, 0, Direction::Forward) != kTransformOk) {
                ok = false;
                return;
            }
            for (int r = 0; r < n; ++r) {
                float* v = half.at(r, c);
                v[0] = static_cast<float>(re[r]);
                v[1] = static_cast<float>(im[r]);
            }
        }
    });
    return ok;
}

// Power over the whole plane from the half plane, frequency (fx, fy) in -n/2 .. n/2 - 1.
struct PowerView {
    const float* power;
    int n, columns;
    double operator()(int fx, int fy) const {
        if (fx < 0) {
            fx = -fx;
            fy = -fy;
        }
        if (fx > n / 2) return 0.0;
        const int row = ((fy % n) + n) % n;
        return power[static_cast<std::size_t>(row) * columns + fx];
    }
};

template <class Source>
std::vector<float> halfPowerOf(const Source& pixels, int n) {
    HalfSpectrum half;
    if (n < 4 || pixels.width < 2 || pixels.height < 2 || pixels.width > n || pixels.height > n)
        return {};
    if (!transformWindowed(pixels, n, half)) return {};
    const std::size_t count = static_cast<std::size_t>(n) * half.columns;
    // Power into the front of the same block: entry i is read (2i, 2i + 1) before it is written.
    for (std::size_t i = 0; i < count; ++i) {
        const double re = half.data[2 * i], im = half.data[2 * i + 1];
        half.data[i] = static_cast<float>(re * re + im * im);
    }
    half.data.resize(count);
    half.data.shrink_to_fit();
    return std::move(half.data);
}

// The distance of a frequency from zero, rounded to a whole sample: the background's bin.
int distanceBin(int fx, int fy) {
    return static_cast<int>(std::floor(std::sqrt(double(fx) * fx + double(fy) * fy) + 0.5));
}

// Background per whole-sample distance: the mean, then twice the mean of what lies below ten
// times the previous estimate (a spot must not raise its own background).
std::vector<double> radialBackground(const std::vector<float>& power, int n) {
    const int columns = n / 2 + 1;
    const int bins = static_cast<int>(n / std::sqrt(2.0) + 0.5) + 2;
    std::vector<double> background(static_cast<std::size_t>(bins), 0.0);
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<double> sum(static_cast<std::size_t>(bins), 0.0);
        std::vector<double> count(static_cast<std::size_t>(bins), 0.0);
        for (int row = 0; row < n; ++row) {
            const int fy = row < n / 2 ? row : row - n;
            for (int fx = 0; fx < columns; ++fx) {
                const double p = power[static_cast<std::size_t>(row) * columns + fx];
                const int j = distanceBin(fx, fy);
                if (pass > 0 && p > 10.0 * background[j]) continue;
                sum[j] += p;
                count[j] += 1.0;
            }
        }
        for (int j = 0; j < bins; ++j) background[j] = count[j] > 0 ? sum[j] / count[j] : 0.0;
    }
    return background;
}

// The power that rounding the levels to whole numbers leaves in every sample (variance 1/12 of
// a level squared through the window), so a flat image's last bits never pass for spots.
double quantisationFloor(int w, int h, double levelStep) {
    double windowSquares = 0.0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double wt = hannWeight(x, w) * hannWeight(y, h);
            windowSquares += wt * wt;
        }
    return windowSquares * levelStep * levelStep / 12.0;
}

struct Candidate {
    int fx, fy;
    double power, significance;
};

// Local maxima of the half plane (fy < 0, or fy = 0 with fx > 0) outside the central radius whose
// power exceeds threshold x background, strongest first.
std::vector<Candidate> localMaxima(const PowerView& P, const std::vector<double>& background,
                                   double minRadius, double threshold) {
    const int n = P.n;
    std::vector<Candidate> candidates;
    const double minRadius2 = minRadius * minRadius;
    for (int fy = -n / 2; fy <= 0; ++fy) {
        for (int fx = (fy == 0 ? 1 : -n / 2 + 1); fx < n / 2; ++fx) {
            if (double(fx) * fx + double(fy) * fy < minRadius2) continue;
            const double p = P(fx, fy);
            if (!(p > 0.0)) continue;
            const double bg = background[distanceBin(fx, fy)];
            if (!(p > threshold * bg)) continue;
            bool peak = true;
            for (int dy = -1; dy <= 1 && peak; ++dy)
                for (int dx = -1; dx <= 1 && peak; ++dx) {
                    if (dx == 0 && dy == 0) continue;
                    const double q = P(fx + dx, fy + dy);
                    // Ties go to the first in scan order.
                    peak = (dy < 0 || (dy == 0 && dx < 0)) ? p > q : p >= q;
                }
            if (peak) candidates.push_back({fx, fy, p, bg > 0 ? p / bg : INFINITY});
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.power > b.power; });
    return candidates;
}

// At most `pairs` of the candidates, strongest first, without those inside the main lobe of a
// stronger one or its mate, or on their leakage lines (binX, binY: one window width in samples).
std::vector<Candidate> acceptedSpots(const std::vector<Candidate>& candidates, int pairs,
                                     double binX, double binY) {
    std::vector<Candidate> accepted;
    for (const Candidate& c : candidates) {
        if (static_cast<int>(accepted.size()) >= std::max(0, pairs)) break;
        // Rounding a strong fringe to whole grey levels (half a level against at most 128)
        // makes harmonics down to about (0.5 / 128)^2 of its power: no spot is taken below.
        if (c.power < 2e-5 * candidates.front().power) break;
        bool keep = true;
        for (const Candidate& a : accepted) {
            for (int s = -1; s <= 1 && keep; s += 2) {
                const double dx = std::fabs(c.fx - s * a.fx), dy = std::fabs(c.fy - s * a.fy);
                if (dx <= 2 * binX && dy <= 2 * binY) keep = false;  // inside its main lobe
                if ((dx <= 2 * binX || dy <= 2 * binY) && c.power < 1e-3 * a.power) keep = false;
            }
            if (!keep) break;
        }
        if (keep) accepted.push_back(c);
    }
    return accepted;
}

// The offset of a maximum m from the parabola through the log power of it and its neighbours.
double parabolaOffset(double m, double p0, double p1) {
    if (!(m > 0.0 && p0 > 0.0 && p1 > 0.0)) return 0.0;
    const double a = std::log(m), b = std::log(p0), c = std::log(p1);
    const double curvature = b - 2 * a + c;
    if (!(curvature < 0.0)) return 0.0;
    return std::clamp(0.5 * (b - c) / curvature, -0.5, 0.5);
}

// The half width at half maximum of a peak's magnitude |F| (what the spectrum shows) from the
// second difference c of its log power across three samples: a Gaussian's log is a parabola, so
// |F| = sqrt(P) falls to half where P falls to a quarter, at sqrt(4 ln 2 / -c). 0 when the
// samples do not bend down (a peak that flat says nothing about its width).
double halfWidthFrom(double m, double p0, double p1) {
    if (!(m > 0.0 && p0 > 0.0 && p1 > 0.0)) return 0.0;
    const double curvature = std::log(p0) - 2 * std::log(m) + std::log(p1);
    if (!(curvature < 0.0)) return 0.0;
    return std::sqrt(4.0 * std::log(2.0) / -curvature);
}

// The mean of the widths across and down that could be had; 0 when neither.
double meanHalfWidth(double across, double down) {
    if (across > 0.0 && down > 0.0) return (across + down) / 2;
    return std::max(across, down);
}

// Each accepted maximum refined to sub-sample precision, then its Friedel mate at -g.
std::vector<Spot> spotPairs(const std::vector<Candidate>& accepted, const PowerView& P,
                            const SpotOptions& options) {
    const int n = P.n;
    const auto& size = options.pixelSizeNm;
    const bool calibrated = size && size->x > 0.0 && size->y > 0.0;
    const double scale = calibrated ? size->x : 1.0;
    std::vector<Spot> spots;
    int number = 1;
    for (const Candidate& c : accepted) {
        const double p = c.power;
        const double x = c.fx + parabolaOffset(p, P(c.fx - 1, c.fy), P(c.fx + 1, c.fy));
        const double y = c.fy + parabolaOffset(p, P(c.fx, c.fy - 1), P(c.fx, c.fy + 1));
        const double hwhm =
            meanHalfWidth(halfWidthFrom(p, P(c.fx - 1, c.fy), P(c.fx + 1, c.fy)),
                          halfWidthFrom(p, P(c.fx, c.fy - 1), P(c.fx, c.fy + 1)));
        for (int s = 1; s >= -1; s -= 2) {
            Spot spot;
            spot.number = number;
            spot.mate = s > 0 ? number + 1 : number - 1;
            spot.position = {s * x, s * y};
            if (calibrated && !size->square()) {
                spot.g = frequencyOnAxes(x, y, n, *size);
                spot.d = 1.0 / spot.g;
            } else {
                const double k = std::hypot(x, y);
                spot.g = k / n / scale;
                spot.d = n * scale / k;
            }
            spot.angleDegrees = std::atan2(-spot.position.y, spot.position.x) * 180.0 / kPi;
            spot.power = p;
            spot.significance = c.significance;
            spot.halfWidth = hwhm;
            spots.push_back(spot);
            ++number;
        }
    }
    return spots;
}

// Basis: the shortest spot, then the shortest one at least 5 degrees off its line.
void chooseBasis(SpotResult& result) {
    const Spot* first = nullptr;
    for (const Spot& s : result.spots)
        if (!first || s.g < first->g - 1e-12) first = &s;
    const Spot* second = nullptr;
    const double la = std::hypot(first->position.x, first->position.y);
    for (const Spot& s : result.spots) {
        const double lb = std::hypot(s.position.x, s.position.y);
        const double cross = first->position.x * s.position.y - first->position.y * s.position.x;
        if (std::fabs(cross) < std::sin(5.0 * kPi / 180.0) * la * lb) continue;
        const double dot = first->position.x * s.position.x + first->position.y * s.position.y;
        if (dot < 0) continue;  // its mate makes the angle of at most 90 degrees
        if (!second || s.g < second->g - 1e-12) second = &s;
    }
    if (second) {
        result.haveBasis = true;
        result.g1 = first->position;
        result.g2 = second->position;
        result.basisHalfWidth = meanHalfWidth(first->halfWidth, second->halfWidth);
    }
}

// levelStep: one level of the source in transform units (1 for the 8-bit picture).
template <class Source>
SpotResult findSpotsIn(const Source& pixels, int n, const SpotOptions& options, double levelStep) {
    SpotResult result;
    result.n = n;
    if (n < 4 || pixels.width < 2 || pixels.height < 2 || pixels.width > n || pixels.height > n)
        return result;
    const std::vector<float> power = halfPowerOf(pixels, n);
    if (power.empty()) {
        result.status = SpotStatus::kNoMemory;
        return result;
    }
    const PowerView P{power.data(), n, n / 2 + 1};
    const int w = pixels.width, h = pixels.height;
    const double binX = static_cast<double>(n) / w, binY = static_cast<double>(n) / h;
    result.minRadius = options.minRadius > 0.0 ? options.minRadius : 4.0 * std::max(binX, binY);

    std::vector<double> background = radialBackground(power, n);
    const double levelFloor = quantisationFloor(w, h, levelStep);
    for (double& b : background) b = std::max(b, levelFloor);
    const double threshold = std::log(static_cast<double>(w) * h) + 10.0;
    const std::vector<Candidate> accepted =
        acceptedSpots(localMaxima(P, background, result.minRadius, threshold), options.pairs,
                      binX, binY);
    if (accepted.empty()) {
        result.status = SpotStatus::kNoneFound;
        return result;
    }
    result.spots = spotPairs(accepted, P, options);
    result.status = SpotStatus::kFound;
    chooseBasis(result);
    return result;
}

}  // namespace

std::vector<float> windowedHalfPower(const GreyPixels& pixels, int n) { return halfPowerOf(pixels, n); }

std::vector<float> windowedHalfPower(const image::PreciseLevels& levels, int n) {
    return halfPowerOf(levels, n);
}

SpotResult findSpots(const GreyPixels& pixels, int n, const SpotOptions& options) {
    return findSpotsIn(pixels, n, options, 1.0);
}

SpotResult findSpots(const image::PreciseLevels& levels, int n, const SpotOptions& options) {
    // One level of the source is 255 / (max - min) of the transform's; never above the 8-bit
    // picture's whole grey level, so a source of fine float levels is held no stricter.
    const double range = levels.maximum - levels.minimum;
    // A range past the largest double (samples of both signs near it) is taken in halves.
    const double step = !std::isfinite(range) ? 127.5 / (levels.maximum / 2 - levels.minimum / 2)
                        : range > 255.0       ? 255.0 / range
                                              : 1.0;
    if (levels.levels.size() !=
        static_cast<std::size_t>(std::max(0, levels.width)) * std::max(0, levels.height)) {
        SpotResult result;
        result.n = n;
        return result;
    }
    return findSpotsIn(levels, n, options, step);
}

SpotResult findSpots(const GreyPixels& picture, const image::PreciseLevels* precise, int n,
                     const SpotOptions& options) {
    if (precise && precise->width == picture.width && precise->height == picture.height)
        return findSpots(*precise, n, options);
    return findSpots(picture, n, options);
}

int autoLatticeRadius(const SpotResult& result) {
    if (!result.haveBasis || !(result.basisHalfWidth > 0.0)) return kMinAutoRadius;
    const double radius = std::round(2.0 * result.basisHalfWidth);
    return radius > kMinAutoRadius ? static_cast<int>(std::min(radius, result.n / 2.0))
                                   : kMinAutoRadius;
}

std::string autoRadiusLine(const SpotResult& result, const std::optional<image::PixelSize>& size) {
    static constexpr core::Localized kLine{"Lattice mask radius: %d samples (auto)",
                                           "格子マスクの半径: %d サンプル（自動）"};
    static constexpr core::Localized kNm{", %s 1/nm", "、%s 1/nm"};
    const int radius = autoLatticeRadius(result);
    std::string line = core::formatMessage(core::text(kLine), radius);
    if (size && size->x > 0.0 && result.n > 0)
        line += core::formatMessage(core::text(kNm),
                                    significantDigits(radius / (result.n * size->x), 4).c_str());
    return line;
}

core::Localized spotStatusText(SpotStatus status) {
    switch (status) {
        case SpotStatus::kFound:
            return {"", ""};
        case SpotStatus::kNoMemory:
            return {"Not enough memory to look for lattice spots.",
                    "格子スポットを探すためのメモリが足りません。"};
        case SpotStatus::kNoneFound:
        case SpotStatus::kBadImage:
            break;
    }
    return {"No lattice spots found: the spectrum shows no peak clearly above its background.",
            "格子スポットは見つかりませんでした。スペクトルに背景からはっきり突き出たピークがありません。"};
}

core::Localized noBasisText() {
    return {"No lattice basis: the spots found do not point in two different directions.",
            "格子の基本ベクトルがありません。見つかったスポットが 2 つの異なる向きを向いていません。"};
}

std::string spotsCsv(const SpotResult& result, double nmPerPixel) {
    const bool nm = nmPerPixel > 0.0;
    std::string out = nm ? "number,mate,x_px,y_px,g_per_nm,d_nm,angle_deg,power,significance\r\n"
                         : "number,mate,x_px,y_px,g_per_pixel,d_px,angle_deg,power,significance\r\n";
    char line[256];
    for (const Spot& s : result.spots) {
        // g and d in significant digits, so no calibration prints them as zero.
        std::snprintf(line, sizeof line, "%d,%d,%.4f,%.4f,%.8g,%.8g,%.4f,%.6g,%.4g\r\n", s.number,
                      s.mate, s.position.x, s.position.y, s.g, s.d, s.angleDegrees, s.power,
                      s.significance);
        out += line;
    }
    return out;
}

}  // namespace spectrum
