// PNG through stb_image in both builds: 8-bit and 16-bit grey, or colour whose three channels
// are equal everywhere (an alpha channel is ignored). The size is read from the header and
// checked before stb decodes anything.
#include <climits>

#include "image/import.h"
#include "image/import_detail.h"
#include "image/limits.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS 32768
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_image.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace image {

namespace {
using namespace detail;
static_assert(STBI_MAX_DIMENSIONS == kMaxImageSide);

constexpr core::Localized kNotPng{"Not a PNG file that can be read: %s.",
                                  "読み込める PNG ファイルではありません: %s"};

struct StbFree {
    void operator()(void* p) const { stbi_image_free(p); }
};
}  // namespace

std::optional<GreyImage> readPng(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    if (file.size() > static_cast<std::size_t>(INT_MAX)) return refuse(sink, kNotPng, "too large");
    const auto* bytes = reinterpret_cast<const stbi_uc*>(file.data());
    const int length = static_cast<int>(file.size());
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channels))
        return refuse(sink, kNotPng, stbi_failure_reason() ? stbi_failure_reason() : "no header");
    if (!checkImportSize(width, height, sink)) return std::nullopt;
    const bool sixteen = stbi_is_16_bit_from_memory(bytes, length) != 0;

    GreyImage image;
    image.format = ImageFormat::Png;
    image.type = sixteen ? SampleType::U16 : SampleType::U8;
    int w = 0, h = 0, c = 0;
    std::unique_ptr<void, StbFree> pixels(
        sixteen ? static_cast<void*>(stbi_load_16_from_memory(bytes, length, &w, &h, &c, 0))
                : static_cast<void*>(stbi_load_from_memory(bytes, length, &w, &h, &c, 0)));
    if (!pixels)
        return refuse(sink, kNotPng, stbi_failure_reason() ? stbi_failure_reason() : "damaged");
    if (w != width || h != height || c < 1 || c > 4)
        return refuse(sink, kNotPng, "inconsistent header");
    image.width = w;
    image.height = h;
    const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    image.samples.resize(count);
    auto sample = [&](std::size_t i) -> unsigned {
        return sixteen ? static_cast<const stbi_us*>(pixels.get())[i]
                       : static_cast<const stbi_uc*>(pixels.get())[i];
    };
    const bool colour = c >= 3;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = i * static_cast<std::size_t>(c);
        const unsigned grey = sample(at);
        if (colour && (sample(at + 1) != grey || sample(at + 2) != grey))
            return refuse(sink, kColourRefused, "PNG RGB");
        image.samples[i] = grey;
    }
    if (!checkImported(image, sink)) return std::nullopt;
    return image;
}

}  // namespace image
