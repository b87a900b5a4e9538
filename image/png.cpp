// PNG in both builds: 8-bit and 16-bit grey, or colour whose three channels are equal
// everywhere (an alpha channel is ignored). The chunks are walked and the size checked before
// anything is decoded. The file is read through its seekable source, never whole: 16-bit and
// colour pictures are inflated with zlib row by row straight into the samples, the image data
// read a block at a time; 8-bit grey, palette and fewer bits go through stb_image, reading
// through callbacks (it gathers the compressed image data, and its copy of the picture is no
// larger than a byte a pixel).
#include <zlib.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>
#include <initializer_list>
#include <string>

#include "image/file_io.h"
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

// What the chunk walk learns: the header's fields and where the image data lie.
struct Layout {
    std::uint32_t width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    bool apple = false;  // a CgBI chunk: the variant only stb_image reads
    struct Part {
        std::uint64_t offset, length;
    };
    std::vector<Part> data;  // where the IDAT chunks' contents lie, in order
};

// Walks the chunks up to IEND before any decoder sees them: each must fit in the bytes left
// (a length claimed beyond them would make the decoder reserve it), and the first must be the
// header, whose size is checked against the limits. Reports and returns nothing on a refusal.
std::optional<Layout> walkChunks(RandomAccessSource& file, core::MessageSink& sink) {
    static constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::uint8_t signature[8];
    if (file.size() < 8 || !file.readAt(0, signature, 8) || std::memcmp(signature, kSignature, 8) != 0)
        return refuse(sink, kNotPng, "it does not begin with the PNG signature");
    Layout layout;
    std::uint64_t at = 8;
    bool first = true;
    for (;;) {
        // The length and type, and the header's body (13 bytes) when it is the header.
        std::uint8_t chunk[8 + 13];
        if (file.size() - at < 12 || !file.readAt(at, chunk, 8)) return refuse(sink, kTruncated);
        const std::uint32_t length = u32be(chunk);
        const std::uint8_t* type = chunk + 4;
        if (length > file.size() - at - 12)
            return refuse(sink, kNotPng, "a chunk is longer than the bytes left in the file");
        const bool header = std::memcmp(type, "IHDR", 4) == 0;
        const std::uint8_t* body = chunk + 8;
        if (header && (length != 13 || !file.readAt(at + 8, chunk + 8, 13)))
            return refuse(sink, kNotPng, "the header chunk (IHDR) is not valid");
        if (first != header || (header && (body[10] != 0 || body[11] != 0 || body[12] > 1)))
            return refuse(sink, kNotPng, "the header chunk (IHDR) is not valid");
        if (header) {
            layout.width = u32be(body);
            layout.height = u32be(body + 4);
            layout.depth = body[8];
            layout.colourType = body[9];
            layout.interlace = body[12];
            if (!checkImportSize(static_cast<std::int64_t>(layout.width),
                                 static_cast<std::int64_t>(layout.height), sink))
                return std::nullopt;
        }
        first = false;
        if (std::memcmp(type, "IEND", 4) == 0) return layout;
        if (std::memcmp(type, "IDAT", 4) == 0) layout.data.push_back({at + 8, length});
        if (std::memcmp(type, "CgBI", 4) == 0) layout.apple = true;
        // A critical chunk (upper-case first letter) the decoder does not know refuses the file.
        const bool critical = (type[0] & 0x20) == 0;
        if (critical && !header && std::memcmp(type, "IDAT", 4) != 0 &&
            std::memcmp(type, "PLTE", 4) != 0 && std::memcmp(type, "CgBI", 4) != 0)
            return refuse(sink, kNotPng, "it holds a critical chunk of an unknown type");
        at += 12 + std::uint64_t{length};
    }
}

// The image data inflated on demand, across the IDAT chunks, a row at a time.
class Inflater {
  public:
    Inflater(RandomAccessSource& file, const std::vector<Layout::Part>& parts)
        : file_(file), parts_(parts) {
        ready_ = inflateInit(&z_) == Z_OK;
    }
    ~Inflater() {
        if (ready_) inflateEnd(&z_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    // Fills `out` with the next `n` bytes; otherwise returns why it cannot.
    const char* read(std::uint8_t* out, std::size_t n) {
        if (!ready_) return "more memory is needed than is available";
        z_.next_out = out;
        z_.avail_out = static_cast<uInt>(n);
        while (z_.avail_out > 0) {
            if (ended_) return kEnded;
            if (z_.avail_in == 0 && next_ < parts_.size()) {
                // The next block of the image data, at most 64 KiB of a chunk.
                const Layout::Part& part = parts_[next_];
                const std::size_t n =
                    static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, part.length - used_));
                input_.resize(n);
                if (n > 0 && !file_.readAt(part.offset + used_, input_.data(), n)) return kEnded;
                used_ += n;
                if (used_ == part.length) {
                    ++next_;
                    used_ = 0;
                }
                z_.next_in = input_.data();
                z_.avail_in = static_cast<uInt>(n);
                continue;
            }
            const int result = inflate(&z_, Z_NO_FLUSH);
            if (result == Z_STREAM_END) {
                ended_ = true;
            } else if (result == Z_BUF_ERROR && z_.avail_in == 0) {
                return kEnded;  // every chunk is used up
            } else if (result != Z_OK) {
                return "the compressed image data are damaged";
            }
        }
        return nullptr;
    }

  private:
    static constexpr const char* kEnded = "the image data end before the picture does";
    static constexpr std::uint64_t kBlock = std::uint64_t{1} << 16;
    RandomAccessSource& file_;
    const std::vector<Layout::Part>& parts_;
    std::vector<std::uint8_t> input_;
    std::size_t next_ = 0;
    std::uint64_t used_ = 0;  // bytes of parts_[next_] already given to zlib
    z_stream z_{};
    bool ready_ = false;
    bool ended_ = false;
};

int paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes a row's filter in place against the row above (zeros for a pass's first row).
bool unfilter(int filter, std::uint8_t* row, const std::uint8_t* above, std::size_t bytes,
              std::size_t bpp) {
    switch (filter) {
        case 0: return true;
        case 1:
            for (std::size_t i = bpp; i < bytes; ++i) row[i] = std::uint8_t(row[i] + row[i - bpp]);
            return true;
        case 2:
            for (std::size_t i = 0; i < bytes; ++i) row[i] = std::uint8_t(row[i] + above[i]);
            return true;
        case 3:
            for (std::size_t i = 0; i < bytes; ++i)
                row[i] = std::uint8_t(row[i] + ((i >= bpp ? row[i - bpp] : 0) + above[i]) / 2);
            return true;
        case 4:
            for (std::size_t i = 0; i < bytes; ++i)
                row[i] = std::uint8_t(row[i] + paeth(i >= bpp ? row[i - bpp] : 0, above[i],
                                                     i >= bpp ? above[i - bpp] : 0));
            return true;
        default: return false;
    }
}

// 16-bit and colour pictures, decoded row by row straight into the grey samples: no copy of
// the whole picture in its stored form (an RGBA picture of 16 bits holds 8 bytes a pixel, as
// many as its samples). The grey is the first channel; colour must have three equal ones, and
// alpha is ignored, as for the pictures stb_image decodes.
std::optional<GreyImage> readRows(RandomAccessSource& file, const Layout& layout,
                                  core::MessageSink& sink) {
    const int channels = layout.colourType == 2 ? 3 : layout.colourType == 4 ? 2
                         : layout.colourType == 6 ? 4 : 1;
    const std::size_t step = static_cast<std::size_t>(layout.depth / 8);
    const std::size_t bpp = step * static_cast<std::size_t>(channels);
    GreyImage image;
    image.format = ImageFormat::Png;
    image.type = layout.depth == 16 ? SampleType::U16 : SampleType::U8;
    image.width = static_cast<int>(layout.width);
    image.height = static_cast<int>(layout.height);

    struct Pass {
        std::uint32_t x0, y0, dx, dy;
    };
    static constexpr Pass kWhole[] = {{0, 0, 1, 1}};
    static constexpr Pass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    const std::span<const Pass> passes = layout.interlace ? std::span<const Pass>(kAdam7)
                                                          : std::span<const Pass>(kWhole);
    // Deflate packs at most 1032 bytes into one: data that cannot hold every row (a filter
    // byte and the pixels) are refused before the samples are allocated.
    std::uint64_t needed = 0, stored = 0;
    for (const Pass& pass : passes)
        if (pass.x0 < layout.width && pass.y0 < layout.height)
            needed += std::uint64_t{(layout.height - pass.y0 + pass.dy - 1) / pass.dy} *
                      (1 + std::uint64_t{(layout.width - pass.x0 + pass.dx - 1) / pass.dx} * bpp);
    for (const auto& part : layout.data) stored += part.length;
    if (needed / 1032 > stored)
        return refuse(sink, kNotPng, "the image data end before the picture does");
    image.samples.assign(std::size_t{layout.width} * layout.height, 0.0);
    Inflater data(file, layout.data);
    std::vector<std::uint8_t> row, above;
    for (const Pass& pass : passes) {
        if (pass.x0 >= layout.width || pass.y0 >= layout.height) continue;  // an empty pass
        const std::uint32_t columns = (layout.width - pass.x0 + pass.dx - 1) / pass.dx;
        const std::uint32_t rows = (layout.height - pass.y0 + pass.dy - 1) / pass.dy;
        const std::size_t bytes = columns * bpp;
        row.assign(bytes + 1, 0);
        above.assign(bytes, 0);
        for (std::uint32_t r = 0; r < rows; ++r) {
            if (const char* why = data.read(row.data(), row.size()))
                return refuse(sink, kNotPng, why);
            std::uint8_t* pixels = row.data() + 1;
            if (!unfilter(row[0], pixels, above.data(), bytes, bpp))
                return refuse(sink, kNotPng, "a row's filter type is not valid");
            double* out = image.samples.data() +
                          std::size_t{pass.y0 + r * pass.dy} * layout.width + pass.x0;
            for (std::uint32_t c = 0; c < columns; ++c, out += pass.dx) {
                const std::uint8_t* p = pixels + c * bpp;
                auto channel = [&](int k) -> unsigned {
                    const std::uint8_t* q = p + static_cast<std::size_t>(k) * step;
                    return step == 2 ? unsigned(q[0]) << 8 | q[1] : q[0];
                };
                const unsigned grey = channel(0);
                if (channels >= 3 && (channel(1) != grey || channel(2) != grey))
                    return refuse(sink, kColourRefused, "PNG RGB");
                *out = grey;
            }
            std::memcpy(above.data(), pixels, bytes);
        }
    }
    if (!checkImported(image, sink)) return std::nullopt;
    return image;
}

// stb_image reading the source from its start through callbacks; each of stb's passes (the
// header, the bit depth, the picture) takes a fresh one.
class StbReader {
  public:
    explicit StbReader(RandomAccessSource& file) : file_(file) {}
    stbi_io_callbacks callbacks{&StbReader::read, &StbReader::skip, &StbReader::eof};

  private:
    static int read(void* user, char* data, int size) {
        auto& r = *static_cast<StbReader*>(user);
        const std::uint64_t left = r.file_.size() - std::min(r.at_, r.file_.size());
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>(left, static_cast<std::uint64_t>(std::max(size, 0))));
        if (n == 0 || !r.file_.readAt(r.at_, reinterpret_cast<std::uint8_t*>(data), n)) return 0;
        r.at_ += n;
        return static_cast<int>(n);
    }
    static void skip(void* user, int n) {  // stb moves only forward through a PNG
        if (n > 0) static_cast<StbReader*>(user)->at_ += static_cast<std::uint64_t>(n);
    }
    static int eof(void* user) {
        const auto& r = *static_cast<StbReader*>(user);
        return r.at_ >= r.file_.size() ? 1 : 0;
    }
    RandomAccessSource& file_;
    std::uint64_t at_ = 0;
};

}  // namespace

std::optional<GreyImage> readPngImage(RandomAccessSource& file, int index,
                                      core::MessageSink& sink) {
    // A PNG holds one image.
    if (index != 0) return refuse(sink, kImageBeyondCount, 1, index + 1);
    const auto layout = walkChunks(file, sink);
    if (!layout) return std::nullopt;
    const bool rowsOfOurOwn =
        !layout->apple && ((layout->depth == 16 && (layout->colourType == 0 ||
                                                   layout->colourType == 2 ||
                                                   layout->colourType == 4 ||
                                                   layout->colourType == 6)) ||
                           (layout->depth == 8 && (layout->colourType == 2 ||
                                                   layout->colourType == 4 ||
                                                   layout->colourType == 6)));
    if (rowsOfOurOwn) return readRows(file, *layout, sink);
    int width = 0, height = 0, channels = 0;
    StbReader forInfo(file), forDepth(file), forPicture(file);
    if (!stbi_info_from_callbacks(&forInfo.callbacks, &forInfo, &width, &height, &channels))
        return refuse(sink, kNotPng, worded(stbi_failure_reason()));
    if (!checkImportSize(width, height, sink)) return std::nullopt;
    const bool sixteen = stbi_is_16_bit_from_callbacks(&forDepth.callbacks, &forDepth) != 0;

    GreyImage image;
    image.format = ImageFormat::Png;
    image.type = sixteen ? SampleType::U16 : SampleType::U8;
    int w = 0, h = 0, c = 0;
    std::unique_ptr<void, StbFree> pixels(
        sixteen ? static_cast<void*>(
                      stbi_load_16_from_callbacks(&forPicture.callbacks, &forPicture, &w, &h, &c, 0))
                : static_cast<void*>(
                      stbi_load_from_callbacks(&forPicture.callbacks, &forPicture, &w, &h, &c, 0)));
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

std::optional<GreyImage> readPng(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    MemoryAccess access(file);
    return readPngImage(access, 0, sink);
}

}  // namespace image
