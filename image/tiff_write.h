// Grey TIFFs of our own making (32-bit float results, and crops in a source's own sample type): little-endian, uncompressed, one strip, with the
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

// SampleFormat values.
inline constexpr int kSampleUnsigned = 1, kSampleSigned = 2, kSampleFloat = 3;

// The same for samples of 8, 16, 32 or 64 bits in the build's (little-endian) byte order, top
// row first, of the given SampleFormat.
std::optional<std::vector<std::uint8_t>> encodeGreyTiff(int width, int height, int bitsPerSample,
                                                        int sampleFormat, const void* samples,
                                                        std::optional<PixelSize> pixelSizeNm);

}  // namespace image
