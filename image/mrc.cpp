// MRC/CCP4 maps and image stacks: a 1024-byte header, NSYMBT bytes of extended header, then
// NX x NY x NZ samples, the first row of each section being the bottom of the picture. A stack's
// sections are its images: only the one asked for is read. The pixel size is the cell's X length
// in Angstrom over MX, and its Y length over MY.
#include <cmath>
#include <cstring>

#include "image/file_io.h"
#include "image/import.h"
#include "image/import_detail.h"
#include "image/samples.h"

namespace image {

namespace {

using namespace detail;

constexpr std::size_t kHeaderSize = 1024;

constexpr core::Localized kSections{
    "The MRC header claims %lld sections of %lld x %lld samples, more than the file holds.",
    "MRC ヘッダーには断面が %lld 枚（%lld x %lld サンプル）あるとされていますが、ファイルにはそれだけのデータがありません。"};

}  // namespace

std::optional<GreyImage> readMrcImage(RandomAccessSource& file, int index,
                                      core::MessageSink& sink) {
    std::uint8_t header[kHeaderSize];
    if (file.size() < kHeaderSize || !file.readAt(0, header, kHeaderSize))
        return refuse(sink, kTruncated);
    const std::uint8_t* h = header;
    // MACHST: 0x44 0x4? for little-endian data, 0x11 0x11 for big-endian. Files without it are
    // judged by which byte order gives a known mode.
    bool big = false;
    if (h[212] == 0x11 && h[213] == 0x11)
        big = true;
    else if (!(h[212] == 0x44 || h[212] == 0x41)) {
        const std::uint32_t le = u32le(h + 12);
        big = le > 16 && u32be(h + 12) <= 16;
    }
    auto i32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(big ? u32be(h + at) : u32le(h + at));
    };
    auto f32 = [&](std::size_t at) { return f32of(big ? u32be(h + at) : u32le(h + at)); };

    const std::int64_t nx = i32(0), ny = i32(4), nz = i32(8);
    const std::int32_t mode = i32(12);
    const std::int64_t nsymbt = i32(92);
    if (nx <= 0 || ny <= 0 || nz <= 0 || nsymbt < 0)
        return refuse(sink, kBadStructure, "MRC", "the header's sizes are not positive");

    SampleType type;
    switch (mode) {
        case 0: type = SampleType::I8; break;
        case 1: type = SampleType::I16; break;
        case 2: type = SampleType::F32; break;
        case 6: type = SampleType::U16; break;
        case 12: type = SampleType::F16; break;
        case 3:
        case 4: return refuse(sink, kUnsupportedType, "MRC mode complex");
        case 16: return refuse(sink, kColourRefused, "MRC mode 16, RGB");
        case 101: return refuse(sink, kUnsupportedType, "MRC mode 101, 4-bit");
        default: {
            const std::string what = "MRC mode " + std::to_string(mode);
            return refuse(sink, kUnsupportedType, what.c_str());
        }
    }
    if (!checkImportSize(nx, ny, sink)) return std::nullopt;
    const std::size_t bytes = storedSampleBytes(type);
    const std::uint64_t section = static_cast<std::uint64_t>(nx) * static_cast<std::uint64_t>(ny) * bytes;
    const std::uint64_t start = kHeaderSize + static_cast<std::uint64_t>(nsymbt);
    // Every section the header claims must be present, or the header is not to be trusted.
    if (start > file.size() || (file.size() - start) / section < static_cast<std::uint64_t>(nz))
        return refuse(sink, kSections, static_cast<long long>(nz), static_cast<long long>(nx),
                      static_cast<long long>(ny));

    GreyImage image;
    image.format = ImageFormat::Mrc;
    image.type = type;
    image.width = static_cast<int>(nx);
    image.height = static_cast<int>(ny);
    image.imageCount = static_cast<int>(std::min<std::int64_t>(nz, 1 << 30));
    if (index < 0 || index >= nz) return refuse(sink, kImageBeyondCount, image.imageCount, index + 1);
    image.imageIndex = index;
    image.samples.resize(static_cast<std::size_t>(nx * ny));
    const std::uint64_t first = start + static_cast<std::uint64_t>(index) * section;
    std::vector<std::uint8_t> line(static_cast<std::size_t>(nx) * bytes);
    for (std::int64_t row = 0; row < ny; ++row) {
        // The first stored row is the bottom one.
        double* out = image.samples.data() + static_cast<std::size_t>((ny - 1 - row) * nx);
        if (!file.readAt(first + static_cast<std::uint64_t>(row) * line.size(), line.data(),
                         line.size()) ||
            !decodeSamples(type, big ? ByteOrder::Big : ByteOrder::Little, line,
                           {out, static_cast<std::size_t>(nx)}))
            return refuse(sink, kTruncated);
    }
    // Each axis is its cell length over its grid: a 2 x 3 Angstrom cell over one pixel each is
    // not square.
    const std::int32_t mx = i32(28), my = i32(32);
    const double cellX = f32(40), cellY = f32(44);
    if (mx > 0 && my > 0) setPixelSizes(image, cellX / mx, "\xC3\x85", cellY / my, "\xC3\x85");
    if (!checkImported(image, sink)) return std::nullopt;
    return image;
}

std::optional<GreyImage> readMrc(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    MemoryAccess access(file);
    return readMrcImage(access, 0, sink);
}

}  // namespace image
