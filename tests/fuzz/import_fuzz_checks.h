// The checks every image reader's fuzz target makes. Besides the sanitizers' findings, it traps
// when an accepted image breaks the import's promises: a sample count other than width x height,
// a size outside the limits, a sample that is not finite or outside [minimum, maximum].
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/message_sink.h"
#include "image/file_io.h"
#include "image/import.h"
#include "image/open_image.h"
#include "image/limits.h"

namespace {
class QuietSink final : public core::MessageSink {
  public:
    int ask(std::string_view, std::string_view, unsigned) override { return core::kAnswerOk; }
};
}  // namespace

inline int checkFuzzedImage(const std::optional<image::GreyImage>& image);

// Runs one reader (image::readDm, readMrc, readPng, readTiff) on the bytes and checks its result.
template <class Reader>
int fuzzImageReader(Reader read, const std::uint8_t* data, std::size_t size) {
    QuietSink sink;
    return checkFuzzedImage(read(std::span<const std::uint8_t>(data, size), sink));
}

// Runs a stack reader (image::readDmImage, readMrcImage, readTiffImage) for the image the last
// byte names (0 to 3), so later images of a stack and counts beyond them are tried too.
inline int fuzzStackReader(image::StackReader read, const std::uint8_t* data, std::size_t size) {
    QuietSink sink;
    image::MemoryAccess file(std::span<const std::uint8_t>(data, size));
    const int index = size > 0 ? data[size - 1] % 4 : 0;
    const auto image = read(file, index, sink);
    if (image && (image->imageIndex != index || image->imageCount <= index)) __builtin_trap();
    return checkFuzzedImage(image);
}

inline int checkFuzzedImage(const std::optional<image::GreyImage>& image) {
    if (!image) return 0;
    if (image->width < image::kMinImageSide || image->height < image::kMinImageSide ||
        image->width > image::kMaxImageSide || image->height > image::kMaxImageSide)
        __builtin_trap();
    if (image->samples.size() != static_cast<std::size_t>(image->width) * image->height)
        __builtin_trap();
    for (double v : image->samples)
        if (!std::isfinite(v) || v < image->minimum || v > image->maximum) __builtin_trap();
    if (image->pixelSizeNm && !(image->pixelSizeNm->x > 0 && image->pixelSizeNm->y > 0))
        __builtin_trap();
    // Small images go on through the rendering and the levels the transform takes.
    if (image->samples.size() <= (1u << 20)) {
        const auto file = image::normalisedBitmapOf(*image);
        if (file.size() != 1078 + static_cast<std::size_t>((image->width + 3) / 4 * 4) * image->height)
            __builtin_trap();
        const auto levels = image::transformLevels(*image);
        if (levels)
            for (double v : levels->levels)
                if (!(v >= 0 && v <= 255)) __builtin_trap();
    }
    return 0;
}
