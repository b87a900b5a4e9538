// The checks every image reader's fuzz target makes. Besides the sanitizers' findings, it traps
// when an accepted image breaks the import's promises: a sample count other than width x height,
// a size outside the limits, a sample that is not finite or outside [minimum, maximum].
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/message_sink.h"
#include "image/import.h"
#include "image/limits.h"

namespace {
class QuietSink final : public core::MessageSink {
  public:
    int ask(std::string_view, std::string_view, unsigned) override { return core::kAnswerOk; }
};
}  // namespace

// Runs one reader (image::readDm, readMrc, readPng, readTiff) on the bytes and checks its result.
template <class Reader>
int fuzzImageReader(Reader read, const std::uint8_t* data, std::size_t size) {
    QuietSink sink;
    const auto image = read(std::span<const std::uint8_t>(data, size), sink);
    if (!image) return 0;
    if (image->width < image::kMinImageSide || image->height < image::kMinImageSide ||
        image->width > image::kMaxImageSide || image->height > image::kMaxImageSide)
        __builtin_trap();
    if (image->samples.size() != static_cast<std::size_t>(image->width) * image->height)
        __builtin_trap();
    for (double v : image->samples)
        if (!std::isfinite(v) || v < image->minimum || v > image->maximum) __builtin_trap();
    if (image->pixelSizeNm && !(*image->pixelSizeNm > 0)) __builtin_trap();
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
