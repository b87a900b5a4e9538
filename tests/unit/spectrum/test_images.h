// Builds normalised 8-bit grey pictures in memory for the spectrum engine tests.
#pragma once

#include <cstdint>
#include <functional>

#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum::testing {

struct TestPicture {
    image::CurrentImage image;
    image::ImageGeometry geometry;

    GreyPixels pixels() {
        GreyPixels p;
        greyPixelsOf(image, geometry, p);
        return p;
    }
};

// A picture whose pixel (x, y), y from the top, is value(x, y).
inline TestPicture makePicture(int width, int height, const std::function<int(int, int)>& value) {
    TestPicture t;
    const int padded = (width + 3) / 4 * 4;
    t.geometry = {width, height, padded, static_cast<std::uint32_t>(padded * height + 1078)};
    auto& block = t.image.dib.block;
    block.assign(kGreyPixelOffset + static_cast<std::size_t>(padded) * height, 0);
    image::storeU32(&block[0], 40);
    image::storeU32(&block[4], static_cast<std::uint32_t>(width));
    image::storeU32(&block[8], static_cast<std::uint32_t>(height));
    image::storeU16(&block[12], 1);
    image::storeU16(&block[14], 8);
    image::storeU32(&block[20], static_cast<std::uint32_t>(padded * height));
    image::storeU32(&block[32], 256);
    image::storeU32(&block[36], 256);
    writeGreyColourTable(t.image);
    GreyPixels p = t.pixels();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p.at(x, y) = static_cast<std::uint8_t>(value(x, y));
    return t;
}

// Spectrum buffers of size n filled by a function of (row, column).
inline SpectrumBuffers makeBuffers(int n, int offsetX, int offsetY,
                                   const std::function<double(int, int)>& re,
                                   const std::function<double(int, int)>& im) {
    SpectrumBuffers b;
    const std::size_t count = static_cast<std::size_t>(n) * n;
    b.real = allocateGridArray(count);
    b.imag = allocateGridArray(count);
    b.n = n;
    b.offsetX = offsetX;
    b.offsetY = offsetY;
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            b.real[static_cast<std::size_t>(r) * n + c] = re(r, c);
            b.imag[static_cast<std::size_t>(r) * n + c] = im(r, c);
        }
    return b;
}

}  // namespace spectrum::testing
