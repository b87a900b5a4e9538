#include "spectrum/engine/big_grid.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "core/localized.h"
#include "core/memory.h"
#include "spectrum/engine/display.h"
#include "spectrum/engine/fft.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/parallel.h"

namespace spectrum {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

enum class Fill { Mirror, Windowed, ZeroPadded };

// The real frame into rows of n + 2 elements of T, every sample times (-1)^(row + column) like
// the full frames. `Source` is GreyPixels or image::PreciseLevels (width, height, at(x, y)).
template <class T, class Source>
void fillRows(const Source& source, int n, int offsetX, int offsetY, Fill fill, T* data) {
    const int w = source.width, h = source.height;
    const std::size_t stride = static_cast<std::size_t>(n) + 2;
    std::vector<int> column(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c) column[c] = mirrorIndex(c - offsetX, w);
    std::vector<double> across(static_cast<std::size_t>(w), 1.0);
    if (fill == Fill::Windowed)
        for (int x = 0; x < w; ++x) across[x] = hannWeight(x, w);
    detail::forEachRowParallel(n, [&](int r) {
        T* out = data + static_cast<std::size_t>(r) * stride;
        const double even = (r % 2 == 0) ? 1.0 : -1.0;
        if (fill == Fill::Mirror) {
            const int y = mirrorIndex(r - offsetY, h);
            for (int c = 0; c < n; ++c)
                out[c] = static_cast<T>((c % 2 == 0 ? even : -even) * source.at(column[c], y));
            return;
        }
        std::fill(out, out + n, T(0));
        const int y = r - offsetY;
        if (y < 0 || y >= h) return;
        const double down = fill == Fill::Windowed ? hannWeight(y, h) : 1.0;
        for (int x = 0; x < w; ++x) {
            const int c = offsetX + x;
            out[c] = static_cast<T>((c % 2 == 0 ? even : -even) * source.at(x, y) * across[x] *
                                    down);
        }
    });
}

// Fills the half spectrum's memory with the frame and transforms it forward.
int fillAndTransform(const HalfSpectrum& half, const GreyPixels& pixels,
                     const image::PreciseLevels* precise, int offsetX, int offsetY, Fill fill) {
    if (half.single) {
        if (precise)
            fillRows(*precise, half.n, offsetX, offsetY, fill, half.floats());
        else
            fillRows(pixels, half.n, offsetX, offsetY, fill, half.floats());
        return halfTransformForward(half.floats(), half.n);
    }
    if (precise)
        fillRows(*precise, half.n, offsetX, offsetY, fill, half.doubles());
    else
        fillRows(pixels, half.n, offsetX, offsetY, fill, half.doubles());
    return halfTransformForward(half.doubles(), half.n);
}

}  // namespace

std::uint64_t bigGridNeed(int n, bool single, int width, int height) {
    const std::uint64_t side = static_cast<std::uint64_t>(n);
    const std::uint64_t spectrum = side * (side + 2) * (single ? 4 : 8);
    const std::uint64_t scratch = 2 * 2 * 16 * side * 8;  // two workers' batches
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    // The kept 8-bit image, and the filtered samples in single precision the inverse hands back.
    const std::uint64_t image = pixels + 4 * pixels;
    const std::uint64_t small = 64ULL << 20;  // rows, plans, the display's work
    return spectrum + scratch + image + small;
}

bool chooseBigGridStorage(int n, int width, int height, Precision precision,
                           std::optional<std::uint64_t> available, std::uint64_t held,
                           bool& single) {
    auto fits = [&](bool s) { return !available || bigGridNeed(n, s, width, height) <= *available; };
    switch (precision) {
        case Precision::Double:
            if (!fits(false)) return false;
            single = false;
            return true;
        case Precision::Single:
            if (!fits(true)) return false;
            single = true;
            return true;
        default:
            if (fits(false) && held + bigGridNeed(n, false, width, height) <= kBigGridDoubleBudget) {
                single = false;
                return true;
            }
            if (!fits(true)) return false;
            single = true;
            return true;
    }
}

std::string bigGridMemoryText(int n, std::uint64_t need, std::uint64_t available) {
    static constexpr core::Localized kText{
        "Not enough memory to transform this image: its %d x %d frame needs %.0f MiB, and %.0f "
        "MiB are available.\nBinning the image by 2 (--bin 2, or Binning... in the program) "
        "needs about a quarter.",
        "この画像を変換するためのメモリが足りません。%d x %d のフレームには %.0f MiB "
        "が必要ですが、使えるのは %.0f MiB です。\n画像を 2 でビニングすると（--bin "
        "2、またはプログラムの「ビニング...」）、必要なメモリは約 4 分の 1 になります。"};
    return core::formatMessage(core::text(kText), n, n, static_cast<double>(need) / kMiB,
                               static_cast<double>(available) / kMiB);
}

std::string halfSpectrumCirclesText(int fullFrameLimit) {
    static constexpr core::Localized kText{
        "Circles without their centro-symmetric mates need the whole complex spectrum, which "
        "frames above %d x %d do not keep.\nDraw the circles in symmetric pairs, or bin the "
        "image.",
        "点対称の相方のない円には複素スペクトル全体が必要ですが、%d x %d "
        "を超えるフレームでは保持していません。\n円を点対称の組で描くか、画像をビニングして"
        "ください。"};
    return core::formatMessage(core::text(kText), fullFrameLimit, fullFrameLimit);
}

std::string bigGridNote(const SpectrumBuffers& buffers) {
    static constexpr core::Localized kMirror{
        "Frame %d x %d (mirror frame), half spectrum in %s precision",
        "フレーム %d x %d（ミラーフレーム）、半スペクトルを%s精度で保持"};
    static constexpr core::Localized kZeroPadded{
        "Frame %d x %d: the spectrum shown is of the windowed frame; the filters and the inverse "
        "act on the image zero-padded without a window; half spectrum in %s precision",
        "フレーム %d x %d: 表示するスペクトルは窓関数をかけたフレームのもの、フィルターと逆変換は"
        "窓なしでゼロ詰めした画像に作用します。半スペクトルを%s精度で保持"};
    static constexpr core::Localized kSingle{"single", "単"};
    static constexpr core::Localized kDouble{"double", "倍"};
    const char* precision = core::text(buffers.half.single ? kSingle : kDouble);
    return core::formatMessage(core::text(buffers.zeroPadded ? kZeroPadded : kMirror), buffers.n,
                               buffers.n, precision);
}

bool forwardBigGrid(image::CurrentImage& image, const image::ImageGeometry& geometry,
                     const SpectrumSettings& settings, SpectrumBuffers& buffers,
                     core::MessageSink& sink, core::BusyIndicator& busy,
                     const std::shared_ptr<const image::PreciseLevels>& precise,
                     const GreyPixels& pixels, const GridPlan& plan) {
    const int n = plan.n, w = geometry.width, h = geometry.height;
    const std::optional<std::uint64_t> available = core::availableMemory();
    bool single = false;
    auto refuse = [&](bool s) {
        sink.ask(bigGridMemoryText(n, bigGridNeed(n, s, w, h), available.value_or(0)),
                 "Memory Error", core::kIconError);
        return false;
    };
    // The 8-bit picture and, for a full-precision source, its levels in doubles.
    const std::uint64_t held =
        static_cast<std::uint64_t>(pixels.stride) * static_cast<std::uint64_t>(h) +
        (precise ? precise->levels.size() * sizeof(double) : 0);
    if (!chooseBigGridStorage(n, w, h, settings.precision, available, held, single))
        return refuse(settings.precision == Precision::Single ||
                      settings.precision == Precision::Automatic);
    const std::size_t elements = static_cast<std::size_t>(n) * (static_cast<std::size_t>(n) + 2);
    HalfSpectrum half;
    half.n = n;
    half.single = single;
    half.memory = allocateGridArray(single ? elements / 2 : elements);
    if (!half.memory) return refuse(single);
    SpectrumBuffers fresh;
    try {
        fresh.source.assign(pixels.base, pixels.base + pixels.stride * static_cast<std::size_t>(h));
    } catch (const std::bad_alloc&) {
        return refuse(single);
    }

    core::BusyScope busyScope(busy);
    int lo = 255, hi = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = &pixels.at(0, y);
        const auto [low, high] = std::minmax_element(row, row + w);
        lo = std::min<int>(lo, *low);
        hi = std::max<int>(hi, *high);
    }
    const bool windowed = plan.windowedOnly || settings.frame == kWindowedFrame;
    if (fillAndTransform(half, pixels, precise.get(), plan.offsetX, plan.offsetY,
                         windowed ? Fill::Windowed : Fill::Mirror) != kTransformOk) {
        busyScope.end();
        sink.ask("Unable to carry out the FFT.", "Warning", core::kIconWarning);
        return false;
    }
    fresh.half = std::move(half);
    fresh.n = n;
    fresh.offsetX = plan.offsetX;
    fresh.offsetY = plan.offsetY;
    fresh.imageMin = lo;
    fresh.imageMax = hi;
    fresh.windowed = windowed;
    fresh.zeroPadded = plan.windowedOnly;
    fresh.precise = precise;
    fresh.sourceStride = pixels.stride;
    fresh.sourceWidth = w;
    fresh.sourceHeight = h;
    const int shown = settings.renderSpectrum
                          ? mapSpectrum(fresh, geometry, settings.display, image)
                          : checkSpectrum(fresh, geometry, settings.display);
    if (shown != 0) return false;
    buffers = std::move(fresh);
    return true;
}

bool retransformBigGrid(SpectrumBuffers& buffers, int frame) {
    const GreyPixels source = sourcePixelsOf(buffers);
    const bool windowed = frame == kWindowedFrame;
    if (!buffers.isHalf() || source.base == nullptr || (buffers.zeroPadded && !windowed))
        return false;
    const image::PreciseLevels* precise = buffers.precise.get();
    if (fillAndTransform(buffers.half, source, precise, buffers.offsetX, buffers.offsetY,
                         windowed ? Fill::Windowed : Fill::Mirror) != kTransformOk) {
        buffers.release();
        return false;
    }
    buffers.windowed = windowed;
    return true;
}

bool inverseBigGrid(image::CurrentImage& image, const image::ImageGeometry& geometry,
                     SpectrumSettings& settings, SpectrumBuffers& buffers, core::MessageSink& sink,
                     core::BusyIndicator& busy, InverseParts* parts, RestoredImage* restored) {
    // The circles are cleared by inverseTransform, the one caller, whichever way this ends.
    GreyPixels pixels;
    const bool fits = buffers.isHalf() && greyPixelsOf(image, geometry, pixels) &&
                      buffers.offsetX + geometry.width <= buffers.n &&
                      buffers.offsetY + geometry.height <= buffers.n;
    if (fits && !filterIsCentroSymmetric(settings.filter, buffers)) {
        // The spectrum stays: the same image can be filtered again with the mates drawn.
        sink.ask(halfSpectrumCirclesText(settings.fullFrameLimit), "Warning", core::kIconWarning);
        return false;
    }
    core::BusyScope busyScope(busy);
    auto fail = [&] {
        buffers.release();
        busyScope.end();
        sink.ask("Unable to carry out the inverse FFT.", "Warning", core::kIconWarning);
        return false;
    };
    if (!fits) return fail();

    const int n = buffers.n;
    const HalfSpectrum& half = buffers.half;
    const GreyPixels source = sourcePixelsOf(buffers);
    const std::shared_ptr<const image::PreciseLevels> precise =
        buffers.precise && buffers.precise->width == geometry.width &&
                buffers.precise->height == geometry.height
            ? buffers.precise
            : nullptr;
    if (buffers.windowed) {
        // The filters act on the mirror frame, or past it on the image zero-padded, never on
        // the windowed one.
        if (source.base == nullptr ||
            fillAndTransform(half, source, precise.get(), buffers.offsetX, buffers.offsetY,
                             buffers.zeroPadded ? Fill::ZeroPadded : Fill::Mirror) != kTransformOk)
            return fail();
        buffers.windowed = false;
    }
    const double zeroWeight = applyFilter(buffers, geometry, settings.filter);
    const int inverted = half.single ? halfTransformInverse(half.floats(), n, buffers.offsetY,
                                                            geometry.height)
                                     : halfTransformInverse(half.doubles(), n, buffers.offsetY,
                                                            geometry.height);
    if (inverted != kTransformOk) return fail();

    const int w = geometry.width, h = geometry.height;
    // The filtered level: the real frame with its (-1)^(row + column) modulation removed. The
    // filter is centro-symmetric here, so the inverse is real and its sign is the image's.
    auto signedLevel = [&](int x, int y) {
        const int r = buffers.offsetY + y, c = buffers.offsetX + x;
        const double v = half.sample(r, c);
        return (r + c) % 2 == 0 ? v : -v;
    };
    std::vector<double> rowMin(static_cast<std::size_t>(h)), rowMax(static_cast<std::size_t>(h));
    detail::forEachRowParallel(h, [&](int y) {
        double low = signedLevel(0, y), high = low;
        for (int x = 1; x < w; ++x) {
            const double m = signedLevel(x, y);
            if (m < low) low = m;
            if (m > high) high = m;
        }
        rowMin[y] = low;
        rowMax[y] = high;
    });
    double mmin = rowMin[0], mmax = rowMax[0];
    for (int y = 1; y < h; ++y) {
        mmin = std::min(mmin, rowMin[y]);
        mmax = std::max(mmax, rowMax[y]);
    }
    if (mmax == mmin) mmax = mmin + 0.000001;
    const bool keep = settings.brightness.keepImageBrightness;
    const double lo = keep ? buffers.imageMin : settings.brightness.darkLevel;
    const double hi = keep ? buffers.imageMax : settings.brightness.brightLevel;
    detail::forEachRowParallel(h, [&](int y) {
        std::uint8_t* const levels = &pixels.at(0, y);
        for (int x = 0; x < w; ++x)
            levels[x] = static_cast<std::uint8_t>(restoredLevel(signedLevel(x, y), mmin, mmax, lo, hi));
    });
    const double sourceMinimum = precise ? precise->minimum : 0.0;
    const double sourceSpan = precise ? (precise->maximum - precise->minimum) / 255.0 : 1.0;
    try {
        if (parts != nullptr && source.base != nullptr) {
            parts->width = w;
            parts->height = h;
            parts->zeroWeight = zeroWeight;
            parts->sourceMinimum = sourceMinimum;
            parts->sourceSpan = sourceSpan;
            parts->filtered.assign(static_cast<std::size_t>(w) * h, 0.0);
            parts->removed.assign(static_cast<std::size_t>(w) * h, 0.0);
            detail::forEachRowParallel(h, [&](int y) {
                for (int x = 0; x < w; ++x) {
                    const double f = signedLevel(x, y);
                    const std::size_t i = static_cast<std::size_t>(y) * w + x;
                    parts->filtered[i] = f;
                    parts->removed[i] = (precise ? precise->at(x, y) : source.at(x, y)) - f;
                }
            });
        }
        if (restored) {
            restored->width = w;
            restored->height = h;
            restored->values.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
            detail::forEachRowParallel(h, [&](int y) {
                for (int x = 0; x < w; ++x)
                    restored->values[static_cast<std::size_t>(y) * w + x] = static_cast<float>(
                        zeroWeight * sourceMinimum + sourceSpan * signedLevel(x, y));
            });
        }
    } catch (const std::bad_alloc&) {
        // The picture is done; what could not be handed back is said by the caller's checks.
        if (parts) *parts = InverseParts{};
        if (restored) *restored = RestoredImage{};
    }
    writeGreyColourTable(image);
    buffers.release();
    return true;
}

}  // namespace spectrum
