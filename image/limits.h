// Limits every image reader applies before it allocates: no micrograph comes near them, and a
// hostile header (an RLE8 bomb, a TIFF claiming 100000 x 100000 pixels) is refused before any
// memory or disk is spent on it.
#pragma once

#include <cstdint>

#include "core/localized.h"

namespace image {

// Largest width or height accepted, in pixels.
inline constexpr std::int64_t kMaxImageSide = 32768;

// Largest normalised 8-bit bitmap (rows padded to 4 bytes), in bytes: 1 GiB.
inline constexpr std::uint64_t kMaxNormalisedBytes = std::uint64_t{1} << 30;

// The refusal of a picture beyond these limits, for every format.
inline constexpr core::Localized kTooLargeText{
    "The picture is too large: at most 32768 pixels on a side and 1 GiB of pixels can be opened.",
    "画像が大きすぎます。開けるのは一辺 32768 ピクセル、画素 1 GiB までの画像です。"};

}  // namespace image
