#include "spectrum/engine/filters.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/parallel.h"
#include "spectrum/engine/radial.h"

namespace spectrum {

namespace {

// The weight of a radial filter at a distance from the zero frequency.
struct RadialWeight {
    const FilterSettings& filter;
    double reference;  // R
    double w1, w2;

    double operator()(double dist) const {
        if (filter.kind == kStandardFilter && filter.edgeSigma > 0.0) return soft(dist);
        switch (filter.kind) {
            case kSpecialFilter: {
                double j = std::floor(dist * 255.0 / reference + 0.45);
                if (!(j >= 0.0)) j = 0.0;
                if (j > 255.0) j = 255.0;
                return filter.specialProfile[static_cast<int>(j)] / 255.0;
            }
            default:
                break;
        }
        switch (filter.standardType) {
            case kLowPass:
                return dist <= w1 * reference ? 1.0 : 0.0;
            case kHighPass:
                return dist < w1 * reference ? 0.0 : 1.0;
            case kBandPass:
                return (w1 * reference <= dist && dist <= w2 * reference) ? 1.0 : 0.0;
            case kBandCut:
                return (w1 * reference <= dist && dist <= w2 * reference) ? 0.0 : 1.0;
            default:
                return 1.0;
        }
    }

    // The standard filters with Gaussian edges: each edge of the hard filter blurred alike.
    double soft(double dist) const {
        const double sigma = filter.edgeSigma;
        const double inner = softDisc(dist, w1 * reference, sigma);
        switch (filter.standardType) {
            case kLowPass:
                return inner;
            case kHighPass:
                return 1.0 - inner;
            case kBandPass:
                return softDisc(dist, w2 * reference, sigma) * (1.0 - inner);
            case kBandCut:
                return 1.0 - softDisc(dist, w2 * reference, sigma) * (1.0 - inner);
            default:
                return 1.0;
        }
    }
};

// The largest whole number s whose square root is at most `limit` (strictly below it when
// `strict`); -1 when there is none. The square root is monotonic, so sqrt(s) <= limit exactly
// when s is at most this number.
double largestSquareWithin(double limit, bool strict) {
    auto within = [&](double s) { return strict ? std::sqrt(s) < limit : std::sqrt(s) <= limit; };
    if (!within(0.0)) return -1.0;
    // Frames are at most 2^15 a side, so squared distances stay below 2^31: exact in doubles.
    double s = std::floor(std::min(limit, 1e5) * std::min(limit, 1e5));
    while (s > 0.0 && !within(s)) s -= 1.0;
    while (s < 4e10 && within(s + 1.0)) s += 1.0;
    return s;
}

// A hard-edged standard filter as the squared distances it zeroes: those in (low, high] when
// `inside`, the others when not.
struct HardBand {
    double low = -1.0, high = -1.0;
    bool inside = true;
    bool zeroed(double squared) const { return (low < squared && squared <= high) == inside; }
};

HardBand hardBandOf(int type, const RadialWeight& weight) {
    const double a = weight.w1 * weight.reference, b = weight.w2 * weight.reference;
    switch (type) {
        case kLowPass:  // 1 when dist <= a
            return {-1.0, largestSquareWithin(a, false), false};
        case kHighPass:  // 0 when dist < a
            return {-1.0, largestSquareWithin(a, true), true};
        case kBandPass:  // 1 when a <= dist <= b
            return {largestSquareWithin(a, true), largestSquareWithin(b, false), false};
        case kBandCut:  // 0 when a <= dist <= b
            return {largestSquareWithin(a, true), largestSquareWithin(b, false), true};
        default:
            return {-1.0, -1.0, true};  // nothing zeroed
    }
}

// Multiplies the zeroed elements of one frame row by 0 (so a negative value becomes -0, as the
// general product does) and leaves the rest, whose weight 1 would change nothing.
void weighRowHard(double* re, double* im, int n, int columns, double rowSquared,
                  const HardBand& band) {
    const double half = n / 2.0;
    const double low = band.low - rowSquared, high = band.high - rowSquared;
    const double kept = band.inside ? 1.0 : 0.0, other = band.inside ? 0.0 : 1.0;
    for (int k = 0; k < columns; ++k) {
        const double dk = k - half;
        const double squared = dk * dk;  // exact, as are the differences above
        const double factor = (low < squared && squared <= high) ? other : kept;
        re[k] *= factor;
        im[k] *= factor;
    }
}

// The strongest soft-disc weight of the circles at an element (their union).
double softCircles(const std::vector<MaskCircle>& circles, double sigma, long long row,
                   long long column, const SpectrumBuffers& buffers) {
    double best = 0.0;
    for (const MaskCircle& c : circles) {
        const double dx = static_cast<double>(column - c.x - buffers.offsetX);
        const double dy = static_cast<double>(row - c.y - buffers.offsetY);
        const double dist = std::sqrt(dx * dx + dy * dy);
        if (dist > c.radius + 40.0 * sigma) continue;  // erfc(28) is far below any rounding
        best = std::max(best, softDisc(dist, c.radius, sigma));
    }
    return best;
}

bool insideAnyCircle(const std::vector<MaskCircle>& circles, long long row, long long column,
                     const SpectrumBuffers& buffers) {
    for (const MaskCircle& c : circles) {
        const long long dx = column - c.x - buffers.offsetX;
        const long long dy = row - c.y - buffers.offsetY;
        if (dx * dx + dy * dy < static_cast<long long>(c.radius) * c.radius) return true;
    }
    return false;
}

}  // namespace

namespace {

// A half spectrum weighs its stored columns 0 .. n/2 by the weight of the same frame element;
// the other half follows, the weights being centro-symmetric (filterIsCentroSymmetric).
template <class Weight>
double weighHalf(const HalfSpectrum& half, const Weight& weight) {
    const int n = half.n;
    detail::forEachRowParallel(n, [&](int r) {
        for (int k = 0; k <= n / 2; ++k) {
            const double w = weight(r, k);
            if (w != 1.0) half.weigh(r, k, w);
        }
    });
    return weight(n / 2, n / 2);
}

// For masks whose symmetry the frame's edge breaks (the row and column of the Nyquist frequency
// are their own mates in the stored half): the mean of an element's weight and its mate's. The
// whole frame's inverse keeps the real part, which is the same mean, so both agree.
template <class Weight>
auto withMate(int n, const Weight& weight) {
    return [n, &weight](int r, int k) {
        const double w = weight(r, k), m = weight((n - r) & (n - 1), (n - k) & (n - 1));
        return w == m ? w : 0.5 * (w + m);
    };
}

double applyFilterToHalf(SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                         const FilterSettings& filter) {
    const int n = buffers.n;
    const double half = n / 2.0;
    if (filter.kind == kWienerFilter || filter.kind == kAbsfFilter) {
        applyNoiseFilter(buffers, filter.noise, filter.kind == kWienerFilter);
        return 1.0;
    }
    if (filter.kind == kLatticeKeep || filter.kind == kLatticeRemove) {
        if (checkLattice(filter.lattice, n) != LatticeCheck::kOk) return 1.0;
        const LatticeWeight spots(filter.lattice, filter.edgeSigma);
        const bool keep = filter.kind == kLatticeKeep;
        const auto weight = [&](int r, int k) {
            const double inside = spots(k - half, r - half);
            return keep ? inside : 1.0 - inside;
        };
        return weighHalf(buffers.half, withMate(n, weight));
    }
    if (filter.kind == kCirclesCutOutside || filter.kind == kCirclesCutInside) {
        if (filter.circles.empty()) return 1.0;
        const bool keepInside = filter.kind == kCirclesCutOutside;
        const auto soft = [&](int r, int k) {
            const double inside = softCircles(filter.circles, filter.edgeSigma, r, k, buffers);
            return keepInside ? inside : 1.0 - inside;
        };
        const auto hard = [&](int r, int k) {
            return insideAnyCircle(filter.circles, r, k, buffers) != keepInside ? 0.0 : 1.0;
        };
        if (filter.edgeSigma > 0.0) return weighHalf(buffers.half, withMate(n, soft));
        return weighHalf(buffers.half, withMate(n, hard));
    }
    if (filter.kind == kStandardFilter && filter.standardType == kNoFilter) return 1.0;
    if (filter.kind != kStandardFilter && filter.kind != kSpecialFilter) return 1.0;
    const double reference = std::sqrt(static_cast<double>(geometry.width) * geometry.width +
                                       static_cast<double>(geometry.height) * geometry.height) /
                             2.0;
    const RadialWeight weight{filter, reference, std::min(filter.wa, filter.wb),
                              std::max(filter.wa, filter.wb)};
    if (filter.kind == kStandardFilter && !(filter.edgeSigma > 0.0)) {
        const HardBand band = hardBandOf(filter.standardType, weight);
        const double kept = band.inside ? 1.0 : 0.0, other = band.inside ? 0.0 : 1.0;
        weighHalf(buffers.half, [&](int r, int k) {
            const double dr = r - half, dk = k - half;
            const double squared = dk * dk;
            return (band.low - dr * dr < squared && squared <= band.high - dr * dr) ? other : kept;
        });
        return band.zeroed(0.0) ? 0.0 : 1.0;
    }
    return weighHalf(buffers.half, [&](int r, int k) {
        const double dr = r - half, dk = k - half;
        return weight(std::sqrt(dr * dr + dk * dk));
    });
}

}  // namespace

namespace {

// The whole frame when `rows` is null; else columns 0 .. n/2 and only rows that may stay nonzero,
// reported in `rows`.
double weighFrame(SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                  const FilterSettings& filter, NonzeroRows* rows) {
    const int n = buffers.n;
    const int columns = rows ? n / 2 + 1 : n;
    if (rows) *rows = NonzeroRows{0, n};
    double* re = buffers.real.get();
    double* im = buffers.imag.get();
    const std::size_t centre = static_cast<std::size_t>(n / 2) * n + n / 2;
    // Each pass below records the weight it gives the zero frequency; one row writes it.
    double zeroWeight = 1.0;
    auto weigh = [&](std::size_t i, double w) {
        if (i == centre) zeroWeight = w;
        re[i] *= w;
        im[i] *= w;
    };

    if (filter.kind == kWienerFilter || filter.kind == kAbsfFilter) {
        applyNoiseFilter(buffers, filter.noise, filter.kind == kWienerFilter);
        return 1.0;
    }
    if (filter.kind == kLatticeKeep || filter.kind == kLatticeRemove) {
        // An unchecked lattice changes nothing (the callers check it and say why first).
        if (checkLattice(filter.lattice, n) != LatticeCheck::kOk) return 1.0;
        const LatticeWeight spots(filter.lattice, filter.edgeSigma);
        const bool keep = filter.kind == kLatticeKeep;
        const double half = n / 2.0;
        detail::forEachRowParallel(n, [&](int r) {
            for (int k = 0; k < columns; ++k) {
                const double inside = spots(k - half, r - half);
                weigh(static_cast<std::size_t>(r) * n + k, keep ? inside : 1.0 - inside);
            }
        });
        return zeroWeight;
    }
    if ((filter.kind == kCirclesCutOutside || filter.kind == kCirclesCutInside) &&
        filter.edgeSigma > 0.0) {
        if (filter.circles.empty()) return 1.0;
        const bool keepInside = filter.kind == kCirclesCutOutside;
        detail::forEachRowParallel(n, [&](int r) {
            for (int k = 0; k < columns; ++k) {
                const double inside = softCircles(filter.circles, filter.edgeSigma, r, k, buffers);
                weigh(static_cast<std::size_t>(r) * n + k, keepInside ? inside : 1.0 - inside);
            }
        });
        return zeroWeight;
    }
    if (filter.kind == kCirclesCutOutside || filter.kind == kCirclesCutInside) {
        if (filter.circles.empty()) return 1.0;
        const bool keepInside = filter.kind == kCirclesCutOutside;
        detail::forEachRowParallel(n, [&](int r) {
            for (int k = 0; k < columns; ++k) {
                if (insideAnyCircle(filter.circles, r, k, buffers) != keepInside)
                    weigh(static_cast<std::size_t>(r) * n + k, 0.0);
            }
        });
        return zeroWeight;
    }
    if (filter.kind == kStandardFilter && filter.standardType == kNoFilter) return 1.0;
    if (filter.kind != kStandardFilter && filter.kind != kSpecialFilter) return 1.0;

    const double reference = std::sqrt(static_cast<double>(geometry.width) * geometry.width +
                                       static_cast<double>(geometry.height) * geometry.height) /
                             2.0;
    const RadialWeight weight{filter, reference, std::min(filter.wa, filter.wb),
                              std::max(filter.wa, filter.wb)};
    const double half = n / 2.0;
    if (filter.kind == kStandardFilter && !(filter.edgeSigma > 0.0)) {
        // The hard-edged filters weigh by 0 or 1 alone, decided by the squared distance, a whole
        // number: the same elements as the test on the square root below, without one.
        const HardBand band = hardBandOf(filter.standardType, weight);
        // Keeping only squared distances up to `high` zeroes every row farther than that.
        NonzeroRows kept{0, n};
        if (rows && !band.inside) {
            while (kept.first < n && (kept.first - half) * (kept.first - half) > band.high)
                ++kept.first;
            int end = n;
            while (end > kept.first && (end - 1 - half) * (end - 1 - half) > band.high) --end;
            kept.count = end - kept.first;
            *rows = kept;
        }
        detail::forEachRowParallel(kept.count, [&](int i) {
            const int r = kept.first + i;
            const double dr = r - half;
            weighRowHard(re + static_cast<std::size_t>(r) * n, im + static_cast<std::size_t>(r) * n,
                         n, columns, dr * dr, band);
        });
        return band.zeroed(0.0) ? 0.0 : 1.0;
    }
    detail::forEachRowParallel(n, [&](int r) {
        const double dr = r - half;
        for (int k = 0; k < columns; ++k) {
            const double dk = k - half;
            weigh(static_cast<std::size_t>(r) * n + k, weight(std::sqrt(dr * dr + dk * dk)));
        }
    });
    return zeroWeight;
}

}  // namespace

double applyFilter(SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                   const FilterSettings& filter) {
    if (!buffers.present()) return 1.0;
    if (buffers.isHalf()) return applyFilterToHalf(buffers, geometry, filter);
    return weighFrame(buffers, geometry, filter, nullptr);
}

double applyFilterToLeftHalf(SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                             const FilterSettings& filter, NonzeroRows& rows) {
    rows = NonzeroRows{0, buffers.n};
    if (!buffers.present() || buffers.isHalf()) return applyFilter(buffers, geometry, filter);
    return weighFrame(buffers, geometry, filter, &rows);
}

bool filterIsCentroSymmetric(const FilterSettings& filter, const SpectrumBuffers& buffers) {
    if (filter.kind != kCirclesCutOutside && filter.kind != kCirclesCutInside) return true;
    for (const MaskCircle& c : filter.circles) {
        const MaskCircle mate = symmetricMate(c, buffers.n, buffers.offsetX, buffers.offsetY);
        if (std::find(filter.circles.begin(), filter.circles.end(), mate) == filter.circles.end())
            return false;
    }
    return true;
}

bool filterWeighsMatesAlike(const FilterSettings& filter) {
    return filter.kind == kStandardFilter || filter.kind == kSpecialFilter;
}

double clampProfileValue(double value) {
    if (!(value >= 0.0)) return 0.0;
    if (value > 255.0) return 255.0;
    // The tiny allowance keeps a stored "4.036" at 4.036: 4.036 x 1000 falls just below 4036 in
    // binary, and a plain floor would lose 0.001 at every save and load.
    return std::floor(value * 1000.0 + 1e-6) * 0.001;
}

double profileValueFromText(std::string_view text) {
    const std::string copy(text);
    return clampProfileValue(std::atof(copy.c_str()));
}

double defaultSpecialValue(int index) {
    const double i = index;
    const double value = 255.0 + (2.0 * i * i * i / 255.0 - 3.0 * i * i) / 255.0;
    char text[32];
    std::snprintf(text, sizeof text, "%.5g", value);
    return profileValueFromText(text);
}

SpecialProfile defaultSpecialProfile() {
    SpecialProfile profile{};
    for (int i = 0; i < kProfileSize; ++i) profile[i] = defaultSpecialValue(i);
    return profile;
}

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

SpecialProfile specialProfileFromIni(std::string_view text) {
    SpecialProfile profile = defaultSpecialProfile();
    std::array<bool, kProfileSize> seen{};
    bool inSection = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            inSection = close != std::string_view::npos &&
                        equalNoCase(trim(line.substr(1, close - 1)), "Special Filter");
            continue;
        }
        if (!inSection) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = trim(line.substr(0, eq));
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        // The program reads each value through a 10-character buffer.
        if (value.size() > 9) value = value.substr(0, 9);
        char* stop = nullptr;
        const std::string keyText(key);
        const long index = std::strtol(keyText.c_str(), &stop, 10);
        if (keyText.empty() || *stop != '\0' || index < 0 || index >= kProfileSize) continue;
        if (seen[index]) continue;  // the first occurrence of a key wins
        seen[index] = true;
        profile[index] = profileValueFromText(value);
    }
    return profile;
}

std::string profileValueText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string specialProfileIniSection(const SpecialProfile& profile) {
    std::string out = "[Special Filter]\r\n";
    for (int i = 0; i < kProfileSize; ++i) {
        out += std::to_string(i);
        out += '=';
        out += profileValueText(clampProfileValue(profile[i]));
        out += "\r\n";
    }
    return out;
}

void interpolateSpecialProfile(SpecialProfile& p) {
    // Knots K(1..20) = -15, 0, ..., 270; values V(2..19) are the control points.
    double v[21];
    for (int j = 2; j <= 19; ++j) v[j] = p[(j - 2) * kControlPointStep];
    v[1] = p[15];
    v[20] = p[240];
    double d[21];
    for (int j = 2; j <= 19; ++j) d[j] = (v[j + 1] - v[j - 1]) / 30.0;
    const double h = 15.0;
    for (int j = 2; j <= 18; ++j) {
        const double c1 = h * d[j];
        const double c2 = 3.0 * (v[j + 1] - v[j]) - 2.0 * h * d[j] - h * d[j + 1];
        const double c3 = v[j + 1] - v[j] - c1 - c2;
        const int knot = (j - 2) * kControlPointStep;
        for (int l = 1; l <= 14; ++l) {
            const double t = l / 15.0;
            p[knot + l] = c3 * t * t * t + c2 * t * t + c1 * t + v[j];
        }
    }
    for (double& value : p) value = std::clamp(value, 0.0, 255.0);
}

void stepSpecialPoint(FilterSettings& filter, int step) {
    if (step == -kControlPointStep && filter.selectedPoint > 14)
        filter.selectedPoint -= kControlPointStep;
    else if (step == kControlPointStep && filter.selectedPoint <= 240)
        filter.selectedPoint += kControlPointStep;
}

bool adjustSpecialPoint(FilterSettings& filter, int delta) {
    double& value = filter.specialProfile[filter.selectedPoint];
    const bool allowed = (delta == 10 && value <= 245) || (delta == 1 && value <= 254) ||
                         (delta == -1 && value >= 1) || (delta == -10 && value >= 10);
    if (!allowed) return false;
    value += delta;
    interpolateSpecialProfile(filter.specialProfile);
    return true;
}

bool canStartMaskCircle(const FilterSettings& filter, core::MessageSink& sink) {
    // A symmetric pair takes two places.
    const std::size_t need = filter.symmetricCircles ? 2 : 1;
    if (filter.circles.size() + need <= kMaxMaskCircles) return true;
    sink.ask("Too many FFT masks!", "Warning", core::kIconWarning);
    return false;
}

}  // namespace spectrum
