#include "spectrum/engine/display.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "spectrum/engine/parallel.h"

namespace spectrum {

Rgb rainbowColour(int i) {
    auto c = [](int v) { return static_cast<std::uint8_t>(v); };
    if (i <= 51) return {0, 0, c(5 * i)};
    if (i <= 102) return {0, c(5 * (i - 51)), 255};
    if (i <= 153) return {0, 255, c(255 - 5 * (i - 102))};
    if (i <= 204) return {c(5 * (i - 153)), 255, 0};
    return {255, c(255 - 5 * (i - 204)), 0};
}

namespace {

struct Quantity {
    const SpectrumBuffers& buffers;
    int kind;
    double of(std::complex<double> e) const {
        switch (kind) {
            case kRealPart:
                return e.real();
            case kImaginaryPart:
                return e.imag();
            default:
                return std::sqrt(e.real() * e.real() + e.imag() * e.imag());
        }
    }
    double operator()(int row, int column) const {
        if (buffers.isHalf()) return of(buffers.half.at(row, column));
        const std::size_t index = static_cast<std::size_t>(row) * buffers.n + column;
        const double* re = buffers.real.get();
        const double* im = buffers.imag.get();
        switch (kind) {
            case kRealPart:
                return re[index];
            case kImaginaryPart:
                return im[index];
            default:
                return std::sqrt(re[index] * re[index] + im[index] * im[index]);
        }
    }
};

// The whole frame binned to the picture: each pixel shows the element of its bin that lies
// farthest from zero, so a sharp spot survives the binning.
std::vector<double> binWholeFrame(const Quantity& value, int n, int w, int h) {
    std::vector<double> binned(static_cast<std::size_t>(w) * h);
    detail::forEachRowParallel(h, [&](int y) {
        const int r0 = static_cast<int>(static_cast<long long>(y) * n / h);
        const int r1 = std::max(r0 + 1, static_cast<int>(static_cast<long long>(y + 1) * n / h));
        for (int x = 0; x < w; ++x) {
            const int c0 = static_cast<int>(static_cast<long long>(x) * n / w);
            const int c1 = std::max(c0 + 1, static_cast<int>(static_cast<long long>(x + 1) * n / w));
            double best = 0.0;
            for (int r = r0; r < r1; ++r)
                for (int c = c0; c < c1; ++c) {
                    const double v = value(r, c);
                    if ((r == r0 && c == c0) || std::fabs(v) > std::fabs(best)) best = v;
                }
            binned[static_cast<std::size_t>(y) * w + x] = best;
        }
    });
    return binned;
}

// The values shown in picture row y, in a loop per quantity that the compiler can vectorise.
struct ShownRows {
    const SpectrumBuffers& buffers;
    const Quantity& value;
    bool wholeFrame;
    const std::vector<double>& binned;  // the whole frame binned to the picture
    int w;
    void operator()(int y, double* out) const {
        if (wholeFrame) {
            const double* from = binned.data() + static_cast<std::size_t>(y) * w;
            std::copy(from, from + w, out);
            return;
        }
        if (buffers.isHalf()) {
            for (int x = 0; x < w; ++x) out[x] = value(buffers.offsetY + y, buffers.offsetX + x);
            return;
        }
        const std::size_t first =
            static_cast<std::size_t>(buffers.offsetY + y) * buffers.n + buffers.offsetX;
        const double* re = buffers.real.get() + first;
        const double* im = buffers.imag.get() + first;
        switch (value.kind) {
            case kRealPart:
                std::copy(re, re + w, out);
                break;
            case kImaginaryPart:
                std::copy(im, im + w, out);
                break;
            default:
                for (int x = 0; x < w; ++x) out[x] = std::sqrt(re[x] * re[x] + im[x] * im[x]);
        }
    }
};

// The range the levels span: the extremes and mean of the shown values and the clipping levels
// from them, on the scale s = value - minimum + 1.
struct LevelRange {
    double vmin = 0, upperLevel = 0, lowerLevel = 0, logSpan = 0, logLower = 0;
};

// The smallest and largest of a row's values joined to those found so far (none when first).
void widenExtremes(const double* row, int w, double& vmin, double& vmax, bool& first) {
    for (int x = 0; x < w; ++x) {
        const double v = row[x];
        if (first || v < vmin) vmin = v;
        if (first || v > vmax) vmax = v;
        first = false;
    }
}

// False when the values are all alike (nothing to show).
bool levelRange(const ShownRows& shown, int h, const DisplaySettings& display, LevelRange& range) {
    const int w = shown.w;
    // The sum runs in picture order on one thread, so the mean is the same to the last bit
    // however many cores there are; the row's values are formed first, in a loop of their own.
    double vmin = 0, vmax = 0, sum = 0;
    bool first = true;
    std::vector<double> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        shown(y, row.data());
        widenExtremes(row.data(), w, vmin, vmax, first);
        for (int x = 0; x < w; ++x) sum += row[x];
    }
    if (!(vmin < vmax)) return false;
    const double vavg = sum / (static_cast<double>(w) * h);
    const double span = vmax - vmin + 1.0;
    const double avgShift = vavg - vmin + 1.0;
    range.vmin = vmin;
    range.upperLevel = std::fmin(span, avgShift * display.upperClipFactor);
    double lowerLevel = avgShift * 0.9 / display.lowerClipDivisor;
    if (!(lowerLevel >= 1.0)) lowerLevel = 1.0;
    range.lowerLevel = lowerLevel;
    range.logSpan = std::log(span);
    range.logLower = std::log(lowerLevel);
    return true;
}

// Each level is the fraction of the range times 255, so that a value at the top of the range
// (the clipping level, or the largest value) gives exactly 255.
void writeLevels(const ShownRows& shown, int h, const LevelRange& range,
                 const DisplaySettings& display, GreyPixels& pixels) {
    const int w = shown.w;
    const double vmin = range.vmin, upperLevel = range.upperLevel, lowerLevel = range.lowerLevel;
    const double logSpan = range.logSpan, logLower = range.logLower;
    detail::forEachRowParallel(h, [&](int y) {
        // not zeroed first: every entry is written below
        const std::unique_ptr<double[]> values(new double[static_cast<std::size_t>(w)]);
        shown(y, values.get());
        std::uint8_t* const levels = &pixels.at(0, y);
        for (int x = 0; x < w; ++x) {
            const double s = values[x] - vmin + 1.0;
            double out;
            if (!display.logScale) {
                if (display.lowerClipping) {
                    double clipped = s;
                    if (clipped > upperLevel)
                        clipped = upperLevel;
                    else if (clipped < lowerLevel)
                        clipped = lowerLevel;
                    out = (clipped - lowerLevel) / (upperLevel - lowerLevel) * 255.0;
                } else {
                    double clipped = s;
                    if (clipped > upperLevel)
                        clipped = upperLevel;
                    else if (clipped < 1.0)
                        clipped = 1.0;
                    out = (clipped - 1.0) / (upperLevel - 1.0) * 255.0;
                }
            } else if (display.lowerClipping) {
                const double clipped = s < lowerLevel ? lowerLevel : s;
                out = (std::log(clipped) - logLower) / (logSpan - logLower) * 255.0;
            } else {
                const double clipped = s < 1.0 ? 1.0 : s;
                out = std::log(clipped) / logSpan * 255.0;
            }
            if (display.invertedDisplay) out = 255.0 - out;
            levels[x] = static_cast<std::uint8_t>(toLevel(out));
        }
    });
}

void writePalette(const DisplaySettings& display, image::CurrentImage& image) {
    std::uint8_t* table = image.dib.block.data() + image::kInfoHeaderSize;
    for (int i = 0; i < 256; ++i) {
        const Rgb c = display.rainbowPalette
                          ? rainbowColour(i)
                          : Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                                static_cast<std::uint8_t>(i)};
        table[4 * i + 0] = c.blue;
        table[4 * i + 1] = c.green;
        table[4 * i + 2] = c.red;
    }
}

}  // namespace

int checkSpectrum(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                  const DisplaySettings& display) {
    const int w = geometry.width, h = geometry.height, n = buffers.n;
    if (!buffers.present() || w < 1 || h < 1) return 1;
    if (buffers.offsetX + w > n || buffers.offsetY + h > n) return 1;
    const Quantity value{buffers, display.displayQuantity};
    const std::vector<double> binned =
        display.wholeFrame ? binWholeFrame(value, n, w, h) : std::vector<double>{};
    const ShownRows shown{buffers, value, display.wholeFrame, binned, w};
    // The extremes as levelRange finds them; once the smallest is below the largest it stays so.
    double vmin = 0, vmax = 0;
    bool first = true;
    std::vector<double> row(static_cast<std::size_t>(w));
    for (int y = 0; y < h; ++y) {
        shown(y, row.data());
        widenExtremes(row.data(), w, vmin, vmax, first);
        if (vmin < vmax) return 0;
    }
    return 1;
}

int mapSpectrum(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                const DisplaySettings& display, image::CurrentImage& image) {
    GreyPixels pixels;
    if (!buffers.present() || !greyPixelsOf(image, geometry, pixels)) return 1;
    const int w = geometry.width, h = geometry.height, n = buffers.n;
    if (buffers.offsetX + w > n || buffers.offsetY + h > n) return 1;
    const Quantity value{buffers, display.displayQuantity};
    const std::vector<double> binned =
        display.wholeFrame ? binWholeFrame(value, n, w, h) : std::vector<double>{};
    const ShownRows shown{buffers, value, display.wholeFrame, binned, w};
    LevelRange range;
    if (!levelRange(shown, h, display, range)) return 1;
    writeLevels(shown, h, range, display, pixels);
    writePalette(display, image);
    return 0;
}

}  // namespace spectrum
