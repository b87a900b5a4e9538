#include "spectrum/engine/contrast.h"

#include <array>

#include "spectrum/engine/display.h"

namespace spectrum {

int adjustedLevel(int p, int contrastStep, int brightnessStep) {
    const double q =
        (p - 10.0 * contrastStep) * 127.5 / (127.5 - 10.0 * contrastStep) + 10.0 * brightnessStep;
    return toLevel(q);
}

std::optional<PreviewPlacement> choosePreview(const image::ImageGeometry& g, int vr,
                                              core::MessageSink& sink) {
    const int shownWidth = g.width / vr, shownHeight = g.height / vr;
    PreviewPlacement p;
    p.size = (shownWidth < 96 || shownHeight < 96) ? 64 : 96;
    p.left = (shownWidth - p.size) / 2;
    p.top = (shownHeight - p.size) / 2;
    if (p.left < 0 || p.top < 0) {
        sink.ask("Too small bitmap (less than 64W or 64H)!", "Error", core::kIconWarning);
        return std::nullopt;
    }
    return p;
}

bool adjustContrastBrightness(image::CurrentImage& image, const image::ImageGeometry& geometry,
                              int contrastStep, int brightnessStep) {
    GreyPixels pixels;
    if (!greyPixelsOf(image, geometry, pixels)) return false;
    std::array<std::uint8_t, 256> table{};
    for (int p = 0; p < 256; ++p)
        table[p] = static_cast<std::uint8_t>(adjustedLevel(p, contrastStep, brightnessStep));
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x) pixels.at(x, y) = table[pixels.at(x, y)];
    return true;
}

}  // namespace spectrum
