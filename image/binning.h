// Binning: N x N pixels summed into one, for images too large (or too noisy) to use at full
// size. The pixel size grows by N; a last row or column that does not fill a bin is dropped.
// Sums of 8-bit pixels exceed 255, so a binned 8-bit image becomes a 16-bit source (its sums
// kept in full precision); other sources keep their sample type, floating-point ones as 32-bit
// values. The 64-pixel minimum is checked on the binned size.
#pragma once

#include <optional>

#include "core/message_sink.h"
#include "image/import.h"

namespace image {

// The factors binning takes.
inline constexpr int kBinFactors[] = {1, 2, 4};

// The binned image, or nothing (with "Too small image ..." reported) when it would be smaller
// than 64 pixels a side. A factor of 1 returns the image unchanged.
std::optional<GreyImage> binImage(const GreyImage& image, int factor, core::MessageSink& sink);

}  // namespace image
