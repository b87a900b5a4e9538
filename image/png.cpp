// PNG through stb_image in both builds: 8-bit and 16-bit grey, or colour whose three channels
// are equal everywhere (an alpha channel is ignored). The size is read from the header and
// checked before stb decodes anything.
#include <climits>
#include <cstring>
#include <initializer_list>
#include <string>

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

// stb_image's terse failure reasons in the words the other readers use.
const char* worded(const char* reason) {
    const std::string r = reason ? reason : "";
    auto any = [&](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (r == n) return true;
        return false;
    };
    if (r.ends_with("PNG chunk not known")) return "it holds a critical chunk of an unknown type";
    if (any({"outofdata", "not enough pixels", "read past buffer"}))
        return "the image data end before the picture does";
    if (any({"no IDAT"})) return "it holds no image data (IDAT)";
    if (any({"outofmem"})) return "more memory is needed than is available";
    if (any({"invalid filter", "invalid width"})) return "a row's filter type is not valid";
    if (any({"first not IHDR", "multiple IHDR", "bad IHDR len", "bad ctype", "bad comp method",
             "bad filter method", "bad interlace method", "0-pixel image", "too large"}))
        return "the header chunk (IHDR) is not valid";
    if (any({"invalid PLTE", "tRNS after IDAT", "tRNS before PLTE", "bad tRNS len",
             "tRNS with alpha"}))
        return "the palette or transparency chunk is not valid";
    return "the compressed image data are damaged";
}

std::uint32_t u32be(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Walks the chunks up to IEND before the decoder sees them: each must fit in the bytes left
// (a length claimed beyond them would make the decoder reserve it), and the first must be the
// header, whose size is checked against the limits. Reports and returns false on a refusal.
bool walkChunks(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) {
        refuse(sink, kNotPng, "it does not begin with the PNG signature");
        return false;
    }
    std::size_t at = 8;
    bool first = true;
    for (;;) {
        if (file.size() - at < 12) {
            refuse(sink, kTruncated);
            return false;
        }
        const std::uint32_t length = u32be(file.data() + at);
        const std::uint8_t* type = file.data() + at + 4;
        if (length > file.size() - at - 12) {
            refuse(sink, kNotPng, "a chunk is longer than the bytes left in the file");
            return false;
        }
        const bool header = std::memcmp(type, "IHDR", 4) == 0;
        if (first != header || (header && length != 13)) {
            refuse(sink, kNotPng, "the header chunk (IHDR) is not valid");
            return false;
        }
        if (header) {
            const std::uint32_t w = u32be(type + 4), h = u32be(type + 8);
            if (!checkImportSize(static_cast<std::int64_t>(w), static_cast<std::int64_t>(h), sink))
                return false;
        }
        first = false;
        if (std::memcmp(type, "IEND", 4) == 0) return true;
        // A critical chunk (upper-case first letter) the decoder does not know refuses the file.
        const bool critical = (type[0] & 0x20) == 0;
        if (critical && !header && std::memcmp(type, "IDAT", 4) != 0 &&
            std::memcmp(type, "PLTE", 4) != 0 && std::memcmp(type, "CgBI", 4) != 0) {
            refuse(sink, kNotPng, "it holds a critical chunk of an unknown type");
            return false;
        }
        at += 12 + static_cast<std::size_t>(length);
    }
}
}  // namespace

std::optional<GreyImage> readPng(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    if (file.size() > static_cast<std::size_t>(INT_MAX)) return refuse(sink, kNotPng, "too large");
    const auto* bytes = reinterpret_cast<const stbi_uc*>(file.data());
    const int length = static_cast<int>(file.size());
    if (!walkChunks(file, sink)) return std::nullopt;
    int width = 0, height = 0, channels = 0;
    if (!stbi_info_from_memory(bytes, length, &width, &height, &channels))
        return refuse(sink, kNotPng, worded(stbi_failure_reason()));
    if (!checkImportSize(width, height, sink)) return std::nullopt;
    const bool sixteen = stbi_is_16_bit_from_memory(bytes, length) != 0;

    GreyImage image;
    image.format = ImageFormat::Png;
    image.type = sixteen ? SampleType::U16 : SampleType::U8;
    int w = 0, h = 0, c = 0;
    std::unique_ptr<void, StbFree> pixels(
        sixteen ? static_cast<void*>(stbi_load_16_from_memory(bytes, length, &w, &h, &c, 0))
                : static_cast<void*>(stbi_load_from_memory(bytes, length, &w, &h, &c, 0)));
    if (!pixels) return refuse(sink, kNotPng, worded(stbi_failure_reason()));
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
