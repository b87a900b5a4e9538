#include "spectrum/engine/forward.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "spectrum/engine/big_grid.h"
#include "spectrum/engine/display.h"
#include "spectrum/engine/fft.h"
#include "spectrum/engine/parallel.h"

namespace spectrum {

namespace detail {
// floor(log2(value)) found by doubling as the frame sizing does: the largest b >= 1 with
// value / 2^b >= 1 (1 for values below 4).
int floorLog2AtLeast1(int value) {
    int b = 1;
    while (b < 30 && value / (1 << (b + 1)) >= 1) ++b;
    return b;
}
}  // namespace detail

int mirrorIndex(long long k, int length) {
    if (k < 0) k = -k - 1;
    const long long q = k / length;
    const long long m = k % length;
    return static_cast<int>((q % 2 == 0) ? m : length - 1 - m);
}

bool edgesAreSeamless(const GreyPixels& p) {
    for (int r = 0; r < p.height; ++r) {
        if (std::abs(p.at(1, r) + p.at(p.width - 1, r) - 2 * p.at(0, r)) > 3) return false;
    }
    for (int k = 0; k < p.width; ++k) {
        if (std::abs(p.at(k, 1) + p.at(k, p.height - 1) - 2 * p.at(k, 0)) > 3) return false;
    }
    return true;
}

bool edgesAreSeamless(const image::PreciseLevels& p) {
    for (int r = 0; r < p.height; ++r) {
        if (std::abs(p.at(1, r) + p.at(p.width - 1, r) - 2 * p.at(0, r)) > 3) return false;
    }
    for (int k = 0; k < p.width; ++k) {
        if (std::abs(p.at(k, 1) + p.at(k, p.height - 1) - 2 * p.at(k, 0)) > 3) return false;
    }
    return true;
}

bool greyPixelsOf(image::CurrentImage& image, const image::ImageGeometry& geometry,
                  GreyPixels& out) {
    out = GreyPixels{};
    if (geometry.width < 2 || geometry.height < 2 || geometry.fileSize < 1078) return false;
    const std::size_t stride =
        (geometry.fileSize - 1078) / static_cast<std::uint32_t>(geometry.height);
    if (stride < static_cast<std::size_t>(geometry.width)) return false;
    const std::size_t need = kGreyPixelOffset + stride * static_cast<std::size_t>(geometry.height);
    if (image.dib.block.size() < need) return false;
    out.base = image.dib.block.data() + kGreyPixelOffset;
    out.width = geometry.width;
    out.height = geometry.height;
    out.stride = stride;
    return true;
}

void writeGreyColourTable(image::CurrentImage& image) {
    if (image.dib.block.size() < kGreyPixelOffset) return;
    std::uint8_t* table = image.dib.block.data() + image::kInfoHeaderSize;
    for (int i = 0; i < 256; ++i) {
        table[4 * i + 0] = static_cast<std::uint8_t>(i);
        table[4 * i + 1] = static_cast<std::uint8_t>(i);
        table[4 * i + 2] = static_cast<std::uint8_t>(i);
    }
}

double hannWeight(int i, int length) {
    const double s = std::sin(3.14159265358979323846 * (i + 0.5) / length);
    return s * s;
}

namespace {

// The mirror frame from either source: rowOf(y) is the picture's row y (top row 0), indexable by
// column. (-1)^(row + column): each row alternates its sign, starting with + on even rows.
template <class RowOf>
void fillMirrorFrom(int width, int height, RowOf rowOf, const GridPlan& plan, double* re,
                    double* im) {
    const int n = plan.n;
    std::vector<int> sourceColumn(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c) sourceColumn[c] = mirrorIndex(c - plan.offsetX, width);
    detail::forEachRowParallel(n, [&](int r) {
        const auto src = rowOf(mirrorIndex(r - plan.offsetY, height));
        double* outRe = re + static_cast<std::size_t>(r) * n;
        const double even = (r % 2 == 0) ? 1.0 : -1.0;
        for (int c = 0; c < n; c += 2) {
            outRe[c] = even * src[sourceColumn[c]];
            outRe[c + 1] = -even * src[sourceColumn[c + 1]];
        }
        if (im) std::fill(im + static_cast<std::size_t>(r) * n, im + static_cast<std::size_t>(r + 1) * n, 0.0);
    });
}

// The Hann-windowed, zero-padded frame from either source (width, height, at(x, y)).
template <class Source>
void fillWindowedFrom(const Source& source, const GridPlan& plan, double* re, double* im) {
    const int n = plan.n;
    std::vector<double> across(static_cast<std::size_t>(source.width));
    for (int x = 0; x < source.width; ++x) across[x] = hannWeight(x, source.width);
    detail::forEachRowParallel(n, [&](int r) {
        double* outRe = re + static_cast<std::size_t>(r) * n;
        std::fill(outRe, outRe + n, 0.0);
        if (im)
            std::fill(im + static_cast<std::size_t>(r) * n,
                      im + static_cast<std::size_t>(r + 1) * n, 0.0);
        const int y = r - plan.offsetY;
        if (y < 0 || y >= source.height) return;
        const double down = hannWeight(y, source.height);
        for (int x = 0; x < source.width; ++x) {
            const int c = plan.offsetX + x;
            const double sign = ((r + c) % 2 == 0) ? 1.0 : -1.0;
            outRe[c] = sign * source.at(x, y) * across[x] * down;
        }
    });
}

}  // namespace

void fillWindowedGrid(const GreyPixels& pixels, const GridPlan& plan, double* re, double* im) {
    fillWindowedFrom(pixels, plan, re, im);
}

void fillMirrorGrid(const GreyPixels& pixels, const GridPlan& plan, double* re, double* im) {
    // Rows are stored bottom row first.
    fillMirrorFrom(
        pixels.width, pixels.height,
        [&](int y) {
            return pixels.base + static_cast<std::size_t>(pixels.height - 1 - y) * pixels.stride;
        },
        plan, re, im);
}

bool retransformInGrid(SpectrumBuffers& buffers, int frame) {
    const GreyPixels source = sourcePixelsOf(buffers);
    if (!buffers.present() || source.base == nullptr) return false;
    if (buffers.windowed == (frame == kWindowedFrame)) return true;
    if (buffers.isHalf()) return retransformBigGrid(buffers, frame);
    GridPlan plan;
    plan.n = buffers.n;
    plan.offsetX = buffers.offsetX;
    plan.offsetY = buffers.offsetY;
    // A source above 8 bits is transformed again from its own levels, not from the rendering.
    const image::PreciseLevels* precise = buffers.precise.get();
    // The real-input transform below writes the imaginary parts without reading them.
    if (precise && frame == kWindowedFrame)
        fillWindowedGrid(*precise, plan, buffers.real.get(), nullptr);
    else if (precise)
        fillMirrorGrid(*precise, plan, buffers.real.get(), nullptr);
    else if (frame == kWindowedFrame)
        fillWindowedGrid(source, plan, buffers.real.get(), nullptr);
    else
        fillMirrorGrid(source, plan, buffers.real.get(), nullptr);
    if (transform2dRealInput(buffers.real.get(), buffers.imag.get(), plan.n, plan.n,
                             Direction::Forward) != kTransformOk) {
        buffers.release();
        return false;
    }
    buffers.windowed = frame == kWindowedFrame;
    return true;
}

// The same two frames filled from levels above 8 bits (top row first).
void fillMirrorGrid(const image::PreciseLevels& levels, const GridPlan& plan, double* re,
                     double* im) {
    fillMirrorFrom(
        levels.width, levels.height,
        [&](int y) { return levels.levels.data() + static_cast<std::size_t>(y) * levels.width; },
        plan, re, im);
}

void fillWindowedGrid(const image::PreciseLevels& levels, const GridPlan& plan, double* re,
                       double* im) {
    fillWindowedFrom(levels, plan, re, im);
}

bool forwardTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      const SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy) {
    return forwardTransform(image, geometry, settings, buffers, sink, busy, nullptr);
}

bool forwardTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      const SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy,
                      std::shared_ptr<const image::PreciseLevels> precise) {
    GreyPixels pixels;
    if (!greyPixelsOf(image, geometry, pixels)) {
        sink.ask("Unable to carry out the FFT.", "Warning", core::kIconWarning);
        return false;
    }
    if (precise && (precise->width != geometry.width || precise->height != geometry.height ||
                    precise->levels.size() != static_cast<std::size_t>(precise->width) *
                                                  static_cast<std::size_t>(precise->height)))
        precise.reset();
    const GridPlan plan = planGrid(
        geometry.width, geometry.height, settings.useExpandedImage,
        [&] { return precise ? edgesAreSeamless(*precise) : edgesAreSeamless(pixels); },
        settings.fullFrameLimit);
    if (plan.n == 0) {
        sink.ask("Unable to carry out the FFT.\nbecause of the image size being too large.",
                 "Warning", core::kIconWarning);
        return false;
    }

    buffers.release();
    if (plan.half)
        return forwardBigGrid(image, geometry, settings, buffers, sink, busy, precise, pixels,
                               plan);
    const std::size_t count = static_cast<std::size_t>(plan.n) * plan.n;
    GridArray re = allocateGridArray(count);
    GridArray im = re ? allocateGridArray(count) : GridArray{};
    if (!re || !im) {
        sink.ask("Unable to allocate the memory for FFT and inverse FFT.", "Memory Error",
                 core::kIconError);
        return false;
    }

    core::BusyScope busyScope(busy);
    int lo = 255, hi = 0;
    for (int y = 0; y < pixels.height; ++y) {
        const std::uint8_t* row = &pixels.at(0, y);
        const auto [low, high] = std::minmax_element(row, row + pixels.width);
        lo = std::min<int>(lo, *low);
        hi = std::max<int>(hi, *high);
    }
    const bool windowed = settings.frame == kWindowedFrame;
    // The real-input transform below writes the imaginary parts without reading them.
    if (precise && windowed)
        fillWindowedGrid(*precise, plan, re.get(), nullptr);
    else if (precise)
        fillMirrorGrid(*precise, plan, re.get(), nullptr);
    else if (windowed)
        fillWindowedGrid(pixels, plan, re.get(), nullptr);
    else
        fillMirrorGrid(pixels, plan, re.get(), nullptr);
    if (transform2dRealInput(re.get(), im.get(), plan.n, plan.n, Direction::Forward) !=
        kTransformOk) {
        busyScope.end();
        sink.ask("Unable to carry out the FFT.", "Warning", core::kIconWarning);
        return false;
    }

    SpectrumBuffers fresh;
    fresh.real = std::move(re);
    fresh.imag = std::move(im);
    fresh.n = plan.n;
    fresh.offsetX = plan.offsetX;
    fresh.offsetY = plan.offsetY;
    fresh.imageMin = lo;
    fresh.imageMax = hi;
    fresh.windowed = windowed;
    fresh.precise = precise;
    fresh.sourceStride = pixels.stride;
    fresh.sourceWidth = pixels.width;
    fresh.sourceHeight = pixels.height;
    const std::uint8_t* first = pixels.base;
    fresh.source.assign(first, first + pixels.stride * static_cast<std::size_t>(pixels.height));
    const int shown = settings.renderSpectrum
                          ? mapSpectrum(fresh, geometry, settings.display, image)
                          : checkSpectrum(fresh, geometry, settings.display);
    if (shown != 0) return false;
    buffers = std::move(fresh);
    return true;
}

}  // namespace spectrum
