#include "image/binning.h"

#include <algorithm>
#include <cmath>

#include "core/localized.h"

namespace image {

std::optional<GreyImage> binImage(const GreyImage& image, int factor, core::MessageSink& sink) {
    if (factor <= 1) return image;
    const int width = image.width / factor, height = image.height / factor;
    if (width < kMinImageSide || height < kMinImageSide) {
        sink.ask(core::text({"Too small image (less than 64W or 64H)!",
                             "画像が小さすぎます（幅または高さが 64 未満）。"}),
                 "Error", core::kIconWarning);
        return std::nullopt;
    }
    GreyImage out = image;
    out.samples.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0.0);
    out.width = width;
    out.height = height;
    switch (image.type) {
        case SampleType::U8:
            out.type = SampleType::U16;
            break;
        case SampleType::I8:
            out.type = SampleType::I16;
            break;
        case SampleType::F16:
        case SampleType::F64:
            out.type = SampleType::F32;
            break;
        default:
            break;
    }
    const bool single = out.type == SampleType::F32;
    for (int y = 0; y < height; ++y) {
        double* row = out.samples.data() + static_cast<std::size_t>(y) * width;
        for (int dy = 0; dy < factor; ++dy) {
            const double* in = image.samples.data() +
                               static_cast<std::size_t>(y * factor + dy) * image.width;
            for (int x = 0; x < width; ++x)
                for (int dx = 0; dx < factor; ++dx) row[x] += in[x * factor + dx];
        }
        if (single)
            for (int x = 0; x < width; ++x) row[x] = static_cast<float>(row[x]);
    }
    const auto [low, high] = std::minmax_element(out.samples.begin(), out.samples.end());
    out.minimum = *low;
    out.maximum = *high;
    if (out.pixelSizeNm) {
        out.pixelSizeNm->x *= factor;
        out.pixelSizeNm->y *= factor;
    }
    out.pixelSizeInUnit *= factor;
    out.pixelHeightInUnit *= factor;
    if (out.ignoredPixelSizeNm) *out.ignoredPixelSizeNm *= factor;
    const bool dropped = image.width % factor != 0 || image.height % factor != 0;
    out.notes.push_back(core::formatMessage(
        core::text(dropped ? core::Localized{"Binned %d x %d: %d x %d pixels from %d x %d, the "
                                             "last partial row or column dropped",
                                             "%d x %d でビニング: %d x %d 画素（元は %d x %d、"
                                             "端の足りない行・列は除きました）"}
                           : core::Localized{"Binned %d x %d: %d x %d pixels from %d x %d",
                                             "%d x %d でビニング: %d x %d 画素（元は %d x %d）"}),
        factor, factor, width, height, image.width, image.height));
    return out;
}

}  // namespace image
