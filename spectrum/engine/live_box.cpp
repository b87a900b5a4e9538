#include "spectrum/engine/live_box.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "image/open_image.h"
#include "spectrum/engine/display.h"
#include "spectrum/engine/fft.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/parallel.h"

namespace spectrum {

bool isBoxSide(int side) {
    return std::find(std::begin(kBoxSides), std::end(kBoxSides), side) != std::end(kBoxSides);
}

bool boxInside(const Box& box, int width, int height) {
    return box.side > 0 && box.x >= 0 && box.y >= 0 &&
           static_cast<long long>(box.x) + box.side <= width &&
           static_cast<long long>(box.y) + box.side <= height;
}

Box clampBox(Box box, int width, int height) {
    box.x = std::max(0, std::min(box.x, width - box.side));
    box.y = std::max(0, std::min(box.y, height - box.side));
    return box;
}

core::Localized boxSideText() {
    return {"The box side must be 64, 128, 256, 512 or 1024 pixels.",
            "ボックスの辺は 64、128、256、512、1024 ピクセルのいずれかにしてください。"};
}

core::Localized boxTooLargeText() {
    return {"The box (%d x %d pixels) is larger than the image (%d x %d pixels).",
            "ボックス（%d x %d ピクセル）が画像（%d x %d ピクセル）より大きくなっています。"};
}

core::Localized boxOutsideText() {
    return {"The box %d, %d, %d x %d leaves the image (%d x %d pixels).",
            "ボックス %d, %d, %d x %d が画像（%d x %d ピクセル）からはみ出しています。"};
}

GreyPixels boxPixels(const GreyPixels& picture, const Box& box) {
    GreyPixels view;
    if (!boxInside(box, picture.width, picture.height) || picture.base == nullptr) return view;
    // Rows are stored bottom first: the box's bottom row is picture row y + side - 1.
    const std::size_t bottom = static_cast<std::size_t>(picture.height - box.y - box.side);
    view.base = picture.base + bottom * picture.stride + static_cast<std::size_t>(box.x);
    view.width = box.side;
    view.height = box.side;
    view.stride = picture.stride;
    return view;
}

image::PreciseLevels boxLevels(const image::PreciseLevels& levels, const Box& box) {
    image::PreciseLevels out;
    if (!boxInside(box, levels.width, levels.height)) return out;
    out.width = out.height = box.side;
    out.minimum = levels.minimum;
    out.maximum = levels.maximum;
    out.levels.resize(static_cast<std::size_t>(box.side) * box.side);
    for (int r = 0; r < box.side; ++r) {
        const double* from = &levels.levels[static_cast<std::size_t>(box.y + r) * levels.width +
                                            static_cast<std::size_t>(box.x)];
        std::copy(from, from + box.side, out.levels.begin() + static_cast<std::ptrdiff_t>(r) * box.side);
    }
    return out;
}

bool boxSpectrum(const GreyPixels& picture, const image::PreciseLevels* precise, const Box& box,
                 BoxSpectrum& out) {
    out = BoxSpectrum{};
    const int s = box.side;
    if (!isBoxSide(s)) return false;
    if (precise ? !boxInside(box, precise->width, precise->height)
                : !boxInside(box, picture.width, picture.height) || picture.base == nullptr)
        return false;
    std::vector<double> weight(static_cast<std::size_t>(s));
    for (int i = 0; i < s; ++i) weight[static_cast<std::size_t>(i)] = hannWeight(i, s);
    const std::size_t count = static_cast<std::size_t>(s) * s;
    try {
        out.real.resize(count);
        out.imag.assign(count, 0.0);
    } catch (const std::bad_alloc&) {
        out = BoxSpectrum{};
        return false;
    }
    for (int r = 0; r < s; ++r) {
        double* row = out.real.data() + static_cast<std::size_t>(r) * s;
        const double wr = weight[static_cast<std::size_t>(r)];
        if (precise) {
            const double* from = &precise->levels[static_cast<std::size_t>(box.y + r) * precise->width +
                                                  static_cast<std::size_t>(box.x)];
            for (int c = 0; c < s; ++c) row[c] = from[c] * wr * weight[static_cast<std::size_t>(c)];
        } else {
            for (int c = 0; c < s; ++c)
                row[c] = picture.at(box.x + c, box.y + r) * wr * weight[static_cast<std::size_t>(c)];
        }
        // (-1)^(row + column) moves the zero frequency to the middle.
        for (int c = (r & 1) ? 0 : 1; c < s; c += 2) row[c] = -row[c];
    }
    if (transform2dRealInput(out.real.data(), out.imag.data(), s, s, Direction::Forward) !=
        kTransformOk) {
        out = BoxSpectrum{};
        return false;
    }
    out.side = s;
    return true;
}

int mapBoxSpectrum(BoxSpectrum&& spectrum, const DisplaySettings& display,
                   const image::CurrentImage& like, image::CurrentImage& picture,
                   image::ImageGeometry& geometry) {
    const int s = spectrum.side;
    if (s == 0 || like.dib.block.size() < kGreyPixelOffset) return 1;
    // The mapping reads frame arrays: hand the box's values over to a pair of them.
    SpectrumBuffers buffers;
    const std::size_t count = static_cast<std::size_t>(s) * s;
    buffers.real = allocateGridArray(count);
    buffers.imag = allocateGridArray(count);
    if (!buffers.real || !buffers.imag) return 1;
    std::memcpy(buffers.real.get(), spectrum.real.data(), count * sizeof(double));
    std::memcpy(buffers.imag.get(), spectrum.imag.data(), count * sizeof(double));
    spectrum = BoxSpectrum{};
    buffers.n = s;

    // S is a multiple of 4: rows need no padding.
    geometry.width = geometry.height = geometry.paddedWidth = s;
    geometry.fileSize = static_cast<std::uint32_t>(count + 1078);
    picture = image::CurrentImage{};
    picture.dib.block.assign(kGreyPixelOffset + count, 0);
    std::memcpy(picture.dib.block.data(), like.dib.block.data(), image::kInfoHeaderSize);
    picture.dib.setU32(image::info::biWidth, static_cast<std::uint32_t>(s));
    picture.dib.setU32(image::info::biHeight, static_cast<std::uint32_t>(s));
    picture.dib.setU32(image::info::biSizeImage, static_cast<std::uint32_t>(count));
    writeGreyColourTable(picture);
    return mapSpectrum(buffers, geometry, display, picture);
}

SpotResult findBoxSpots(const GreyPixels& picture, const image::PreciseLevels* precise,
                        const Box& box, const SpotOptions& options) {
    SpotResult none;
    if (!isBoxSide(box.side)) return none;
    if (precise) {
        const image::PreciseLevels levels = boxLevels(*precise, box);
        if (levels.levels.empty()) return none;
        return findSpots(levels, box.side, options);
    }
    const GreyPixels view = boxPixels(picture, box);
    if (view.base == nullptr) return none;
    return findSpots(view, box.side, options);
}

namespace {

// A source sample from its level: the levels map [minimum, maximum] onto [0, 255].
double sampleOfLevel(double level, const image::PreciseLevels& levels, image::SampleType type) {
    const double v = levels.minimum + level * ((levels.maximum - levels.minimum) / 255.0);
    switch (type) {
        case image::SampleType::F64: return v;
        case image::SampleType::F16:
        case image::SampleType::F32: return static_cast<float>(v);
        default: return std::nearbyint(v);
    }
}

}  // namespace

std::optional<Region> cropRegion(const image::CurrentImage& picture,
                                 const image::ImageGeometry& geometry,
                                 const std::optional<image::GreyImage>& source,
                                 const image::PreciseLevels* precise, const Box& box) {
    GreyPixels pixels;
    if (!isBoxSide(box.side) || !boxInside(box, geometry.width, geometry.height)) return std::nullopt;
    if (precise && !boxInside(box, precise->width, precise->height)) return std::nullopt;
    // The view only reads the picture.
    if (!precise && !greyPixelsOf(const_cast<image::CurrentImage&>(picture), geometry, pixels))
        return std::nullopt;
    const int s = box.side;
    image::GreyImage crop;
    if (source) crop = *source;
    crop.type = precise ? (source ? source->type : image::SampleType::F64) : image::SampleType::U8;
    crop.width = crop.height = s;
    crop.imageCount = 1;
    crop.imageIndex = 0;
    crop.samples.resize(static_cast<std::size_t>(s) * s);
    for (int y = 0; y < s; ++y)
        for (int x = 0; x < s; ++x)
            crop.samples[static_cast<std::size_t>(y) * s + x] =
                precise ? sampleOfLevel(precise->at(box.x + x, box.y + y), *precise, crop.type)
                        : pixels.at(box.x + x, box.y + y);
    const auto [lo, hi] = std::minmax_element(crop.samples.begin(), crop.samples.end());
    crop.minimum = *lo;
    crop.maximum = *hi;
    Region region;
    region.picture = image::normalisedPictureOf(crop);
    region.geometry = {s, s, s, region.picture.fileHeader.bfSize};
    region.precise = image::transformLevels(std::move(crop));
    crop.samples = {};
    if (source) region.source = std::move(crop);
    return region;
}

}  // namespace spectrum
