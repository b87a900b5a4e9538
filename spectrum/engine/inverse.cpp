#include "spectrum/engine/inverse.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "spectrum/engine/big_grid.h"
#include "spectrum/engine/display.h"
#include "spectrum/engine/fft.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/parallel.h"

namespace spectrum {

bool inverseTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      SpectrumSettings& settings, SpectrumBuffers& buffers, core::MessageSink& sink,
                      core::BusyIndicator& busy) {
    return inverseTransform(image, geometry, settings, buffers, sink, busy, nullptr);
}

bool inverseTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy, InverseParts* parts) {
    return inverseTransform(image, geometry, settings, buffers, sink, busy, parts, nullptr);
}

namespace {

// restoredLevel's arithmetic, local so that the loop over every pixel inlines it (the compiler
// called the exported function once per pixel).
inline int stretchedLevel(double m, double mmin, double mmax, double lo, double hi) {
    // Not m(hi - lo) + mmax lo - mmin hi over the span, equal on paper: for a flat result its
    // terms cancel to within rounding of 0.000001 lo and it truncates to lo - 1.
    return toLevel(lo + (m - mmin) * (hi - lo) / (mmax - mmin) + 0.000001);
}

}  // namespace

int restoredLevel(double m, double mmin, double mmax, double lo, double hi) {
    return stretchedLevel(m, mmin, mmax, lo, hi);
}

namespace {

// A spectrum shown windowed is replaced by that of the mirror frame, so the filtered image is
// never vignetted. False when the source is gone or the transform fails.
bool retransformMirror(SpectrumBuffers& buffers, const GreyPixels& source,
                       const image::PreciseLevels* precise) {
    if (source.base == nullptr) return false;
    GridPlan plan;
    plan.n = buffers.n;
    plan.offsetX = buffers.offsetX;
    plan.offsetY = buffers.offsetY;
    if (precise)
        fillMirrorGrid(*precise, plan, buffers.real.get(), nullptr);
    else
        fillMirrorGrid(source, plan, buffers.real.get(), nullptr);
    return transform2dRealInput(buffers.real.get(), buffers.imag.get(), buffers.n, buffers.n,
                                Direction::Forward) == kTransformOk;
}

// The filtered level at a pixel: the real part with the (-1)^(row + column) modulation of the
// frame removed (frame indices: the image's offset in the frame may be odd).
double signedLevel(const SpectrumBuffers& buffers, int x, int y) {
    const int r = buffers.offsetY + y, c = buffers.offsetX + x;
    const double re = buffers.real[static_cast<std::size_t>(r) * buffers.n + c];
    return (r + c) % 2 == 0 ? re : -re;
}

// What the picture shows, one row of the image window at a time. A centro-symmetric filter
// leaves the inverse real, and its sign is part of the image: the magnitude would fold negative
// values into positive ones and double every frequency. A circle set without its mates has a
// complex inverse whose magnitude is the local amplitude of the kept spots, which the picture
// shows instead. Where the filtered image is positive both agree to the last bit.
struct ShownRows {
    const SpectrumBuffers& buffers;
    int width;
    bool symmetric;
    void operator()(int y, double* out) const {
        const int r = buffers.offsetY + y;
        const std::size_t first = static_cast<std::size_t>(r) * buffers.n + buffers.offsetX;
        const double* re = buffers.real.get() + first;
        if (symmetric) {
            const int odd = (r + buffers.offsetX) % 2;  // the modulation's sign at x = 0
            for (int x = 0; x < width; ++x) out[x] = (x + odd) % 2 == 0 ? re[x] : -re[x];
            return;
        }
        const double* im = buffers.imag.get() + first;
        for (int x = 0; x < width; ++x) out[x] = std::sqrt(re[x] * re[x] + im[x] * im[x]);
    }
};

// The shown values stretched from their extremes to lo..hi, into the picture's levels.
void writeStretched(const ShownRows& shown, int height, double lo, double hi, GreyPixels& pixels) {
    const int w = shown.width, h = height;
    // Each row's extremes on the cores, then the rows' in order.
    std::vector<double> rowMin(static_cast<std::size_t>(h)), rowMax(static_cast<std::size_t>(h));
    detail::forEachRowParallel(h, [&](int y) {
        // not zeroed first: every entry is written below
        const std::unique_ptr<double[]> values(new double[static_cast<std::size_t>(w)]);
        shown(y, values.get());
        double low = values[0], high = low;
        for (int x = 1; x < w; ++x) {
            const double m = values[x];
            if (m < low) low = m;
            if (m > high) high = m;
        }
        rowMin[y] = low;
        rowMax[y] = high;
    });
    double mmin = rowMin[0], mmax = rowMax[0];
    for (int y = 1; y < h; ++y) {
        if (rowMin[y] < mmin) mmin = rowMin[y];
        if (rowMax[y] > mmax) mmax = rowMax[y];
    }
    if (mmax == mmin) mmax = mmin + 0.000001;
    detail::forEachRowParallel(h, [&](int y) {
        // not zeroed first: every entry is written below
        const std::unique_ptr<double[]> values(new double[static_cast<std::size_t>(w)]);
        shown(y, values.get());
        std::uint8_t* const levels = &pixels.at(0, y);
        for (int x = 0; x < w; ++x)
            levels[x] = static_cast<std::uint8_t>(stretchedLevel(values[x], mmin, mmax, lo, hi));
    });
}

// The filtered and removed parts over the image window, in levels.
void fillParts(const SpectrumBuffers& buffers, const GreyPixels& source,
               const image::PreciseLevels* precise, InverseParts& parts) {
    const int w = parts.width, h = parts.height;
    parts.filtered.assign(static_cast<std::size_t>(w) * h, 0.0);
    parts.removed.assign(static_cast<std::size_t>(w) * h, 0.0);
    detail::forEachRowParallel(h, [&](int y) {
        for (int x = 0; x < w; ++x) {
            const double f = signedLevel(buffers, x, y);
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            parts.filtered[i] = f;
            parts.removed[i] = (precise ? precise->at(x, y) : source.at(x, y)) - f;
        }
    });
}

// The filtered image in the source's units.
void fillRestored(const SpectrumBuffers& buffers, double zeroWeight, double sourceMinimum,
                  double sourceSpan, RestoredImage& restored) {
    const int w = restored.width, h = restored.height;
    restored.values.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    detail::forEachRowParallel(h, [&](int y) {
        for (int x = 0; x < w; ++x)
            restored.values[static_cast<std::size_t>(y) * w + x] = static_cast<float>(
                zeroWeight * sourceMinimum + sourceSpan * signedLevel(buffers, x, y));
    });
}

}  // namespace

bool inverseTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy, InverseParts* parts,
                      RestoredImage* restored) {
    struct ClearCircles {
        FilterSettings& filter;
        ~ClearCircles() { filter.circles.clear(); }
    } clearCircles{settings.filter};
    if (buffers.isHalf())
        return inverseBigGrid(image, geometry, settings, buffers, sink, busy, parts, restored);

    GreyPixels pixels;
    const bool fits = buffers.present() && greyPixelsOf(image, geometry, pixels) &&
                      buffers.offsetX + geometry.width <= buffers.n &&
                      buffers.offsetY + geometry.height <= buffers.n;
    core::BusyScope busyScope(busy);
    // Every failure ends alike: the spectrum is freed, the message comes after the busy state,
    // the picture stays.
    auto refuse = [&] {
        buffers.release();
        busyScope.end();
        sink.ask("Unable to carry out the inverse FFT.", "Warning", core::kIconWarning);
        return false;
    };
    if (!fits) return refuse();

    const GreyPixels source = sourcePixelsOf(buffers);
    // Kept past the release below; a source above 8 bits is rebuilt from its own levels.
    const std::shared_ptr<const image::PreciseLevels> precise =
        buffers.precise && buffers.precise->width == geometry.width &&
                buffers.precise->height == geometry.height
            ? buffers.precise
            : nullptr;
    if (buffers.windowed) {
        if (!retransformMirror(buffers, source, precise.get())) return refuse();
        buffers.windowed = false;
    }
    const bool symmetric = filterIsCentroSymmetric(settings.filter, buffers);
    // A real inverse needs only the real parts of the image's rows, from half the columns, when
    // the other half is exactly the mirror image of the weighed one.
    const bool halfColumns = symmetric && filterWeighsMatesAlike(settings.filter);
    NonzeroRows nonzero;
    const double zeroWeight =
        halfColumns ? applyFilterToLeftHalf(buffers, geometry, settings.filter, nonzero)
                    : applyFilter(buffers, geometry, settings.filter);
    // Only the image's rows of the frame are read below.
    const int done =
        halfColumns
            ? transform2dRealRows(buffers.real.get(), buffers.imag.get(), buffers.n, buffers.n,
                                  buffers.offsetY, geometry.height, nonzero.first, nonzero.count)
            : transform2dRows(buffers.real.get(), buffers.imag.get(), buffers.n, buffers.n,
                              Direction::Inverse, buffers.offsetY, geometry.height);
    if (done != kTransformOk) return refuse();

    const int w = geometry.width, h = geometry.height;
    const bool keep = settings.brightness.keepImageBrightness;
    const double lo = keep ? buffers.imageMin : settings.brightness.darkLevel;
    const double hi = keep ? buffers.imageMax : settings.brightness.brightLevel;
    writeStretched(ShownRows{buffers, w, symmetric}, h, lo, hi, pixels);
    // Only real parts are read from here on: freeing the imaginary array now lets the parts
    // below take its place, so the inverse never needs more than the two frame arrays.
    buffers.imag.reset();
    // Levels map back to the source's samples as minimum + span x level (identity for an
    // 8-bit source). A filter passes zeroWeight of the constant minimum, so the filter applied
    // to the samples is zeroWeight x minimum + span x (filtered level).
    const double sourceMinimum = precise ? precise->minimum : 0.0;
    const double sourceSpan = precise ? (precise->maximum - precise->minimum) / 255.0 : 1.0;
    if (parts != nullptr && source.base != nullptr) {
        parts->width = w;
        parts->height = h;
        parts->zeroWeight = zeroWeight;
        parts->sourceMinimum = sourceMinimum;
        parts->sourceSpan = sourceSpan;
        fillParts(buffers, source, precise.get(), *parts);
    }
    if (restored) {
        restored->width = w;
        restored->height = h;
        fillRestored(buffers, zeroWeight, sourceMinimum, sourceSpan, *restored);
    }
    writeGreyColourTable(image);
    buffers.release();
    return true;
}

void renderRemovedPart(const InverseParts& parts, image::CurrentImage& image,
                       const image::ImageGeometry& geometry) {
    GreyPixels pixels;
    if (parts.removed.empty() || !greyPixelsOf(image, geometry, pixels) ||
        parts.width != pixels.width || parts.height != pixels.height)
        return;
    const auto [lo, hi] = std::minmax_element(parts.removed.begin(), parts.removed.end());
    const double low = *lo, span = *hi - *lo;
    for (int y = 0; y < parts.height; ++y) {
        for (int x = 0; x < parts.width; ++x) {
            const double v = parts.removed[static_cast<std::size_t>(y) * parts.width + x];
            const int level = span > 0.0 ? toLevel((v - low) / span * 255.0) : 128;
            pixels.at(x, y) = static_cast<std::uint8_t>(level);
        }
    }
    writeGreyColourTable(image);
}

RestoredImage removedPartValues(const InverseParts& parts) {
    RestoredImage values;
    values.width = parts.width;
    values.height = parts.height;
    values.values.resize(parts.removed.size());
    const double offset = (1.0 - parts.zeroWeight) * parts.sourceMinimum;
    for (std::size_t i = 0; i < parts.removed.size(); ++i)
        values.values[i] = static_cast<float>(parts.sourceSpan * parts.removed[i] + offset);
    return values;
}

}  // namespace spectrum
