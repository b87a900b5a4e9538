// A minimal PNG encoder for the plots: 8-bit RGB, no interlace, the image data in stored
// (uncompressed) deflate blocks. Plots are small, so compression is not worth a codec.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace spectrum {

// The whole file for `rgb` (rows top first, 3 bytes a pixel). Empty when the sizes disagree.
std::vector<std::uint8_t> encodePng(int width, int height, const std::vector<std::uint8_t>& rgb);

}  // namespace spectrum
