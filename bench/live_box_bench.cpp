// live_box_bench: the live view's engine path for one box position (extraction with the window,
// the transform, the display mapping) on a 4096 x 4096 8-bit picture, and the spot finder on
// the box, per side. Prints the median of many positions, as the box moves under a drag.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "spectrum/engine/live_box.h"

int main() {
    constexpr int kSide = 4096;
    image::CurrentImage picture;
    picture.dib.block.assign(spectrum::kGreyPixelOffset + static_cast<std::size_t>(kSide) * kSide, 0);
    picture.dib.setU32(image::info::biSize, 40);
    picture.dib.setU32(image::info::biWidth, kSide);
    picture.dib.setU32(image::info::biHeight, kSide);
    picture.dib.setU16(image::info::biPlanes, 1);
    picture.dib.setU16(image::info::biBitCount, 8);
    std::mt19937 random(7);
    for (std::size_t i = spectrum::kGreyPixelOffset; i < picture.dib.block.size(); ++i)
        picture.dib.block[i] = static_cast<std::uint8_t>(random() & 0xFF);
    image::ImageGeometry geometry{kSide, kSide, kSide, static_cast<std::uint32_t>(kSide) * kSide + 1078};
    spectrum::GreyPixels pixels;
    if (!spectrum::greyPixelsOf(picture, geometry, pixels)) return 1;

    const spectrum::DisplaySettings display;
    for (int side : {256, 512, 1024}) {
        std::vector<double> spectrumMs, spotsMs;
        for (int k = 0; k < 40; ++k) {
            const spectrum::Box box{(k * 37) % (kSide - side), (k * 53) % (kSide - side), side};
            const auto t0 = std::chrono::steady_clock::now();
            spectrum::BoxSpectrum values;
            image::CurrentImage shown;
            image::ImageGeometry shownGeometry;
            if (!spectrum::boxSpectrum(pixels, nullptr, box, values) ||
                spectrum::mapBoxSpectrum(std::move(values), display, picture, shown,
                                         shownGeometry) != 0)
                return 1;
            const auto t1 = std::chrono::steady_clock::now();
            const spectrum::SpotResult spots =
                spectrum::findBoxSpots(pixels, nullptr, box, spectrum::SpotOptions{});
            const auto t2 = std::chrono::steady_clock::now();
            if (spots.status == spectrum::SpotStatus::kBadImage) return 1;
            spectrumMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            spotsMs.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
        }
        std::sort(spectrumMs.begin(), spectrumMs.end());
        std::sort(spotsMs.begin(), spotsMs.end());
        std::printf("live box %4d: spectrum picture %.2f ms, spots %.2f ms (medians of 40 positions)\n",
                    side, spectrumMs[spectrumMs.size() / 2], spotsMs[spotsMs.size() / 2]);
    }
    return 0;
}
