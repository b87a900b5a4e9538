#include "spectrum/engine/radial.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

#include "core/localized.h"
#include "core/message_sink.h"
#include "spectrum/engine/readout.h"

namespace spectrum {

namespace {

int binOf(double dist) { return static_cast<int>(std::floor(dist + 0.5)); }

double powerAt(const SpectrumBuffers& b, int r, int k) {
    if (b.isHalf()) return std::norm(b.half.at(r, k));
    const std::size_t i = static_cast<std::size_t>(r) * b.n + k;
    return b.real[i] * b.real[i] + b.imag[i] * b.imag[i];
}

// Multiplies element (r, k) by w; a half spectrum keeps only columns 0 .. n/2.
void weighAt(const SpectrumBuffers& b, int r, int k, double w) {
    if (b.isHalf()) {
        if (k <= b.n / 2) b.half.weigh(r, k, w);
        return;
    }
    const std::size_t i = static_cast<std::size_t>(r) * b.n + k;
    b.real[i] *= w;
    b.imag[i] *= w;
}

}  // namespace

RadialProfile radialProfile(const SpectrumBuffers& buffers) {
    RadialProfile profile;
    if (!buffers.present()) return profile;
    const int n = buffers.n;
    profile.n = n;
    const int bins = binOf(n / std::sqrt(2.0)) + 1;
    std::vector<double> sum(static_cast<std::size_t>(bins), 0.0);
    profile.count.assign(static_cast<std::size_t>(bins), 0);
    const double half = n / 2.0;
    for (int r = 0; r < n; ++r) {
        const double dr = r - half;
        for (int k = 0; k < n; ++k) {
            const double dk = k - half;
            const int j = binOf(std::sqrt(dr * dr + dk * dk));
            sum[j] += powerAt(buffers, r, k);
            ++profile.count[j];
        }
    }
    profile.power.resize(static_cast<std::size_t>(bins));
    for (int j = 0; j < bins; ++j)
        profile.power[j] = profile.count[j] ? sum[j] / static_cast<double>(profile.count[j]) : 0.0;
    return profile;
}

std::string radialProfileCsv(const RadialProfile& profile, double nmPerPixel) {
    std::string out = nmPerPixel > 0.0 ? "bin,g_per_pixel,g_per_nm,power,count\r\n"
                                       : "bin,g_per_pixel,power,count\r\n";
    char line[160];
    const int last = std::min<int>(profile.n / 2, static_cast<int>(profile.power.size()) - 1);
    for (int j = 0; j <= last; ++j) {
        const double g = static_cast<double>(j) / profile.n;
        if (nmPerPixel > 0.0)
            std::snprintf(line, sizeof line, "%d,%.9g,%.9g,%.17g,%lld\r\n", j, g, g / nmPerPixel,
                          profile.power[j], profile.count[j]);
        else
            std::snprintf(line, sizeof line, "%d,%.9g,%.17g,%lld\r\n", j, g, profile.power[j],
                          profile.count[j]);
        out += line;
    }
    return out;
}

std::string radialNotSquareText(const std::optional<image::PixelSize>& pixelSizeNm) {
    static constexpr core::Localized kNotSquare{
        "The pixels are not square (%.6g x %.6g nm): the radial profile is given in 1/pixel "
        "only.",
        "ピクセルが正方形ではありません（%.6g x %.6g nm）。動径プロファイルは 1/ピクセル単位"
        "でのみ出力します。"};
    if (!pixelSizeNm || pixelSizeNm->square()) return "";
    return core::formatMessage(core::text(kNotSquare), pixelSizeNm->x, pixelSizeNm->y);
}

void applyNoiseFilter(SpectrumBuffers& buffers, const NoiseFilterSettings& settings, bool wiener) {
    if (!buffers.present()) return;
    const RadialProfile profile = radialProfile(buffers);
    const int n = buffers.n;
    const double half = n / 2.0;
    const double c = settings.noiseScale;
    auto floorAt = [&](int r, int k) {
        const double dr = r - half, dk = k - half;
        return c * profile.power[binOf(std::sqrt(dr * dr + dk * dk))];
    };
    // The image's mean is signal: the zero frequency passes whatever the noise floor says.
    auto weightAt = [&](int r, int k, double w) { return r == n / 2 && k == n / 2 ? 1.0 : w; };
    if (!wiener) {
        for (int r = 0; r < n; ++r) {
            for (int k = 0; k < n; ++k) {
                const double p = powerAt(buffers, r, k);
                const double nf = floorAt(r, k);
                weighAt(buffers, r, k, weightAt(r, k, p > nf ? (p - nf) / p : 0.0));
            }
        }
        return;
    }
    // The local average wraps around the frame like the spectrum itself, so an element and its
    // centro-symmetric mate average the same powers. It needs the power of rows r - h .. r + h
    // before any of them is weighted: a ring of 2h + 1 rows of power indexed by the unwrapped
    // row u (frame row u mod n), and a copy of rows 0 .. h - 1, weighted first and read again
    // at the end.
    // A half spectrum reads the other half from the mates of its rows, weighted or not yet
    // depending on the row: its weights wait until every row's are known.
    const int columns = n / 2 + 1;
    std::vector<float> deferred(buffers.isHalf() ? static_cast<std::size_t>(n) * columns : 0);
    const int h = std::max(0, std::min(settings.smoothing, (n - 1) / 2));
    const int span = 2 * h + 1;
    std::vector<double> ring(static_cast<std::size_t>(span) * n);
    std::vector<double> head(static_cast<std::size_t>(h) * n);
    auto ringRow = [&](int u) { return ring.data() + static_cast<std::size_t>((u + h) % span) * n; };
    auto powerRow = [&](int row, double* out) {
        for (int k = 0; k < n; ++k) out[k] = powerAt(buffers, row, k);
    };
    for (int q = 0; q < h; ++q) powerRow(q, head.data() + static_cast<std::size_t>(q) * n);
    auto loadRow = [&](int u) {
        double* row = ringRow(u);
        if (u >= n)
            std::copy_n(head.data() + static_cast<std::size_t>(u - n) * n, n, row);
        else
            powerRow(u < 0 ? u + n : u, row);
    };
    for (int u = -h; u < h; ++u) loadRow(u);
    std::vector<double> columnSum(static_cast<std::size_t>(n));
    std::vector<double> weights(static_cast<std::size_t>(n));
    const double boxSize = static_cast<double>(span) * span;
    for (int r = 0; r < n; ++r) {
        loadRow(r + h);
        std::fill(columnSum.begin(), columnSum.end(), 0.0);
        for (int u = r - h; u <= r + h; ++u) {
            const double* row = ringRow(u);
            for (int k = 0; k < n; ++k) columnSum[k] += row[k];
        }
        for (int k = 0; k < n; ++k) {
            double s = 0.0;
            for (int q = k - h; q <= k + h; ++q) s += columnSum[(q + n) % n];
            const double mean = s / boxSize;
            const double nf = floorAt(r, k);
            const double signal = std::max(0.0, mean - nf);
            weights[k] = weightAt(r, k, signal + nf > 0.0 ? signal / (signal + nf) : 0.0);
        }
        if (buffers.isHalf())
            std::copy_n(weights.begin(), columns, deferred.begin() + static_cast<std::size_t>(r) * columns);
        else
            for (int k = 0; k < n; ++k) weighAt(buffers, r, k, weights[k]);
    }
    for (int r = 0; r < n && buffers.isHalf(); ++r)
        for (int k = 0; k < columns; ++k)
            weighAt(buffers, r, k, deferred[static_cast<std::size_t>(r) * columns + k]);
}

Plot plotRadialProfile(const RadialProfile& profile, int width, int height) {
    Plot plot;
    plot.width = width;
    plot.height = height;
    plot.rgb.assign(static_cast<std::size_t>(width) * height * 3, 255);
    auto put = [&](int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        std::uint8_t* p = plot.rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
        p[0] = r;
        p[1] = g;
        p[2] = b;
    };
    const int left = 40, right = width - 10, top = 10, bottom = height - 30;
    if (right - left < 10 || bottom - top < 10) return plot;
    for (int x = left; x <= right; ++x) put(x, bottom, 0, 0, 0);
    for (int y = top; y <= bottom; ++y) put(left, y, 0, 0, 0);
    // Ticks at every 0.1 per pixel along |g|, and at every decade of power.
    const int last = std::min<int>(profile.n / 2, static_cast<int>(profile.power.size()) - 1);
    for (int t = 0; t <= 5; ++t) {
        const int x = left + (right - left) * t / 5;
        for (int y = bottom; y < bottom + 5; ++y) put(x, y, 0, 0, 0);
    }
    double lo = 0, hi = 0;
    bool first = true;
    for (int j = 1; j <= last; ++j) {
        if (!(profile.power[j] > 0.0)) continue;
        const double v = std::log10(profile.power[j]);
        if (first || v < lo) lo = v;
        if (first || v > hi) hi = v;
        first = false;
    }
    if (first) return plot;
    lo = std::floor(lo);
    hi = std::ceil(hi);
    if (hi <= lo) hi = lo + 1;
    for (double d = lo; d <= hi; d += 1.0) {
        const int y = bottom - static_cast<int>((d - lo) / (hi - lo) * (bottom - top));
        for (int x = left - 5; x < left; ++x) put(x, y, 0, 0, 0);
    }
    int px = -1, py = -1;
    for (int j = 1; j <= last; ++j) {
        if (!(profile.power[j] > 0.0)) continue;
        const int x = left + static_cast<int>(static_cast<double>(j) / last * (right - left));
        const int y = bottom - static_cast<int>((std::log10(profile.power[j]) - lo) / (hi - lo) *
                                                (bottom - top));
        if (px >= 0) {
            const int steps = std::max(std::abs(x - px), std::abs(y - py));
            for (int s = 0; s <= steps; ++s)
                put(px + (x - px) * s / std::max(1, steps), py + (y - py) * s / std::max(1, steps),
                    200, 0, 0);
        }
        px = x;
        py = y;
    }
    return plot;
}

std::string radialReadoutText(const RadialProfile& profile, double bin, double nmPerPixel) {
    if (profile.n <= 0 || !(bin >= 0.0) || bin > profile.n / 2.0 || profile.power.empty())
        return "";
    const std::size_t nearest =
        std::min(profile.power.size() - 1, static_cast<std::size_t>(std::lround(bin)));
    const bool nm = nmPerPixel > 0.0;
    const double g = bin / profile.n / (nm ? nmPerPixel : 1.0);
    const std::string d = g > 0.0 ? significantDigits(1.0 / g, 4) : "-";
    static constexpr core::Localized kNm{"|g| %s 1/nm   d %s nm   power %.4g",
                                         "|g| %s 1/nm   d %s nm   パワー %.4g"};
    static constexpr core::Localized kPx{"|g| %s 1/pixel   d %s pixels   power %.4g",
                                         "|g| %s 1/画素   d %s 画素   パワー %.4g"};
    return core::formatMessage(core::text(nm ? kNm : kPx), significantDigits(g, 4).c_str(),
                               d.c_str(), profile.power[nearest]);
}

}  // namespace spectrum
