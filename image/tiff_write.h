// A 32-bit float grey TIFF of our own making: little-endian, uncompressed, one strip, with the
// pixel size in the form ImageJ-compatible tools read (ImageDescription "ImageJ=...\nunit=nm\n"
// and XResolution/YResolution in pixels per nanometre, ResolutionUnit none).
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "image/import.h"

namespace image {

// The file's bytes for `samples` (width x height, top row first), or nothing when the image does
// not fit a classic TIFF's 32-bit offsets.
std::optional<std::vector<std::uint8_t>> encodeFloatTiff(int width, int height,
                                                         const std::vector<float>& samples,
                                                         std::optional<PixelSize> pixelSizeNm);

}  // namespace image
