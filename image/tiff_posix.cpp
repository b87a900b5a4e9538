// TIFF through libtiff in both builds, reading the file where libtiff asks: grey images of 8, 16, 32 or
// 64 bits (unsigned, signed or float), in strips or tiles, uncompressed, PackBits, LZW or Deflate;
// RGB whose three channels are equal opens as grey, and so does a palette of greys (mapped through
// it). A multi-page file is a stack: only the directory of the page asked for and its strips or
// tiles are read, beside the chain of directories that counts the pages.
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "core/localized.h"
#include "image/file_io.h"
#include "image/import.h"
#include "image/import_detail.h"
#include "image/samples.h"
#include "image/tiff_vendor.h"

namespace image {

namespace {

using namespace detail;

struct Source {
    RandomAccessSource& file;
    toff_t position = 0;
    std::string error;  // libtiff's first error
};

tmsize_t readProc(thandle_t h, void* out, tmsize_t n) {
    auto* m = static_cast<Source*>(h);
    if (n < 0 || m->position >= m->file.size()) return 0;
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(n),
                                                         m->file.size() - m->position));
    if (!m->file.readAt(m->position, static_cast<std::uint8_t*>(out), count)) return -1;
    m->position += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) { return -1; }
toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<Source*>(h);
    toff_t base = whence == SEEK_CUR ? m->position : whence == SEEK_END ? m->file.size() : 0;
    m->position = base + offset;
    return m->position;
}
int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t h) { return static_cast<Source*>(h)->file.size(); }
// No mapping: libtiff reads what it needs through readProc.
int mapProc(thandle_t, void**, toff_t*) { return 0; }
void unmapProc(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char*, const char* format, va_list args) {
    auto* m = static_cast<Source*>(user);
    if (m->error.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, format, args);
        m->error = text;
    }
    return 1;
}
int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// One codec set in every build, whatever the linked libtiff could decode besides: the Windows
// builds carry these four only, so the native builds refuse the others alike, by name.
constexpr core::Localized kCompressionRefused{
    "TIFF files compressed with %s cannot be opened: only uncompressed, PackBits, LZW and Deflate "
    "TIFF files are read.",
    "%s で圧縮された TIFF ファイルは開けません。読み込めるのは非圧縮、PackBits、LZW、Deflate の "
    "TIFF ファイルだけです。"};

bool acceptedCompression(std::uint16_t scheme) {
    return scheme == COMPRESSION_NONE || scheme == COMPRESSION_PACKBITS ||
           scheme == COMPRESSION_LZW || scheme == COMPRESSION_ADOBE_DEFLATE ||
           scheme == COMPRESSION_DEFLATE;
}

std::string compressionName(std::uint16_t scheme) {
    switch (scheme) {
        case COMPRESSION_CCITTRLE: case COMPRESSION_CCITTRLEW: return "CCITT RLE";
        case COMPRESSION_CCITTFAX3: return "CCITT Group 3 fax";
        case COMPRESSION_CCITTFAX4: return "CCITT Group 4 fax";
        case COMPRESSION_OJPEG: return "old-style JPEG";
        case COMPRESSION_JPEG: return "JPEG";
        case COMPRESSION_NEXT: return "NeXT";
        case COMPRESSION_THUNDERSCAN: return "ThunderScan";
        case COMPRESSION_PIXARFILM: case COMPRESSION_PIXARLOG: return "Pixar";
        case COMPRESSION_DCS: return "Kodak DCS";
        case COMPRESSION_JBIG: return "JBIG";
        case COMPRESSION_SGILOG: case COMPRESSION_SGILOG24: return "SGI LogLuv";
        case COMPRESSION_JP2000: case 33003: case 33005: return "JPEG 2000";
        case COMPRESSION_LERC: return "LERC";
        case COMPRESSION_LZMA: return "LZMA";
        case COMPRESSION_ZSTD: return "Zstandard";
        case COMPRESSION_WEBP: return "WebP";
        case COMPRESSION_JXL: return "JPEG XL";
        default: return "compression " + std::to_string(scheme);
    }
}

struct TiffClose {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
struct OptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// The most a codec can expand its data: PackBits 2 bytes into 128, LZW a 12-bit code into at
// most 4096 bytes, Deflate 1032 to 1; no other codec libtiff reads packs more than 2^16 to 1.
std::uint64_t largestRatio(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE: return 1;
        case COMPRESSION_PACKBITS: return 64;
        case COMPRESSION_LZW: return 2731;
        case COMPRESSION_ADOBE_DEFLATE: case COMPRESSION_DEFLATE: return 1032;
        default: return std::uint64_t{1} << 16;
    }
}

// Whether the file holds enough bytes for the `blocks` strips or tiles of `blockBytes` decoded
// bytes each (the last `lastBlockBytes`): each block is counted only as far as the file goes, so a
// header's claim is checked against data present before anything is allocated for it.
// Uncompressed blocks must each be whole; compressed ones together must be able to expand to
// the image.
bool holdsImageData(TIFF* tiff, std::uint64_t fileSize, std::uint64_t blocks,
                    std::uint64_t blockBytes, std::uint64_t lastBlockBytes) {
    std::uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    if (blocks == 0) return false;
    std::uint64_t stored = 0, wanted = 0;
    for (std::uint32_t b = 0; b < blocks; ++b) {  // strips and tiles alike
        int failed = 0;
        const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tiff, b, &failed);
        const std::uint64_t count = TIFFGetStrileByteCountWithErr(tiff, b, &failed);
        if (failed) return false;  // fewer blocks in the file than the picture needs
        const std::uint64_t present =
            offset >= fileSize ? 0 : std::min<std::uint64_t>(count, fileSize - offset);
        const std::uint64_t need = b + 1 == blocks ? lastBlockBytes : blockBytes;
        if (compression == COMPRESSION_NONE && present < need) return false;
        stored += present;
        wanted += need;
    }
    return wanted / largestRatio(compression) <= stored;
}

// One private tag of the current directory as its values, or nothing. libtiff keeps tags it
// does not know as anonymous fields, each a count and an array of the file's type.
std::optional<TiffTagValue> privateTag(TIFF* tiff, std::uint32_t code) {
    const TIFFField* field = TIFFFindField(tiff, code, TIFF_ANY);
    if (!field) return std::nullopt;
    std::uint32_t count = 0;
    const void* data = nullptr;
    if (!TIFFFieldPassCount(field) || TIFFFieldReadCount(field) != TIFF_VARIABLE2 ||
        !TIFFGetField(tiff, code, &count, &data) || !data)
        return std::nullopt;
    TiffTagValue tag;
    tag.type = static_cast<std::uint16_t>(TIFFFieldDataType(field));
    tag.count = count;
    const auto numbers = [&](auto* values) {
        tag.numbers.assign(values, values + count);
    };
    switch (TIFFFieldDataType(field)) {
        case TIFF_ASCII: case TIFF_BYTE: case TIFF_UNDEFINED:
            tag.bytes.assign(static_cast<const char*>(data), count);
            break;
        case TIFF_SBYTE: numbers(static_cast<const std::int8_t*>(data)); break;
        case TIFF_SHORT: numbers(static_cast<const std::uint16_t*>(data)); break;
        case TIFF_SSHORT: numbers(static_cast<const std::int16_t*>(data)); break;
        case TIFF_LONG: numbers(static_cast<const std::uint32_t*>(data)); break;
        case TIFF_SLONG: numbers(static_cast<const std::int32_t*>(data)); break;
        case TIFF_RATIONAL: case TIFF_SRATIONAL: case TIFF_FLOAT:
            numbers(static_cast<const float*>(data));
            break;
        case TIFF_DOUBLE: numbers(static_cast<const double*>(data)); break;
        case TIFF_IFD8: case TIFF_LONG8: numbers(static_cast<const std::uint64_t*>(data)); break;
        default: return std::nullopt;
    }
    return tag;
}

// What the first directory says about the pixel size, for the vendors' layouts and ImageJ.
TiffVendorInput calibrationTags(TIFF* tiff, std::uint32_t width, std::uint32_t height) {
    TiffVendorInput in;
    in.width = static_cast<int>(width);
    in.height = static_cast<int>(height);
    char* text = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_IMAGEDESCRIPTION, &text) && text) in.description = text;
    if (TIFFGetField(tiff, TIFFTAG_MAKE, &text) && text) in.make = text;
    float resolution = 0;
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &resolution)) in.xResolution = resolution;
    if (TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &resolution)) in.yResolution = resolution;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
    in.resolutionUnit = unit;
    in.bigEndian = TIFFIsBigEndian(tiff) != 0;
    for (std::uint32_t code : kVendorTags)
        if (auto tag = privateTag(tiff, code)) in.tags.emplace(code, std::move(*tag));
    // Binary headers that tags point to, read through the same source as the image.
    const thandle_t handle = TIFFClientdata(tiff);
    const TIFFSeekProc seek = TIFFGetSeekProc(tiff);
    const TIFFReadWriteProc read = TIFFGetReadProc(tiff);
    const TIFFSizeProc size = TIFFGetSizeProc(tiff);
    in.readAt = [=](std::uint64_t offset, std::size_t n, std::uint8_t* out) {
        const std::uint64_t total = size(handle);
        if (offset > total || n > total - offset) return false;
        if (seek(handle, offset, SEEK_SET) != offset) return false;
        return read(handle, out, static_cast<tmsize_t>(n)) == static_cast<tmsize_t>(n);
    };
    return in;
}

// How the chosen page stores its samples.
struct PageLayout {
    std::uint32_t width = 0, height = 0;
    std::uint16_t bits = 1, format = SAMPLEFORMAT_UINT, channels = 1, photometric = 0,
                  planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    bool palette = false;
    bool rgb = false;
    std::vector<double> greys;  // a palette's grey of each index
    SampleType type = SampleType::U8;

    // Bytes of one row of `columns` pixels: palette indices below 8 bits are packed, each row
    // starting on a byte.
    std::uint64_t rowBytes(std::uint32_t columns) const {
        return (std::uint64_t{columns} * bits * channels + 7) / 8;
    }
};

// The refusal of a file libtiff cannot read, in libtiff's words when it gave some.
std::nullopt_t broken(core::MessageSink& sink, const Source& memory, const char* fallback) {
    return refuse(sink, kBadStructure, "TIFF",
                  memory.error.empty() ? fallback : memory.error.c_str());
}

// A palette whose every entry is a grey (red = green = blue) opens as grey, each index mapped
// through it; a palette with colours stays refused.
bool readGreyPalette(TIFF* tiff, PageLayout& page, const Source& memory,
                     core::MessageSink& sink) {
    if (page.channels != 1 || page.format != SAMPLEFORMAT_UINT ||
        !(page.bits == 1 || page.bits == 2 || page.bits == 4 || page.bits == 8)) {
        refuse(sink, kUnsupportedType, "TIFF palette of other than 1 to 8-bit indices");
        return false;
    }
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue) {
        broken(sink, memory, "a palette image without its palette");
        return false;
    }
    const std::size_t entries = std::size_t{1} << page.bits;
    // A 16-bit palette made from 8-bit greys (v x 257 or v x 256) gives those 8-bit greys,
    // as a PNG palette does; any other palette of greys keeps its 16 bits.
    bool eightBit = true;
    for (std::size_t i = 0; i < entries; ++i) {
        if (red[i] != green[i] || red[i] != blue[i]) {
            refuse(sink, kColourRefused, "TIFF palette");
            return false;
        }
        const unsigned high = red[i] >> 8;
        if (red[i] != high * 257 && red[i] != high * 256) eightBit = false;
    }
    page.type = eightBit ? SampleType::U8 : SampleType::U16;
    page.greys.resize(entries);
    for (std::size_t i = 0; i < entries; ++i) page.greys[i] = eightBit ? red[i] >> 8 : red[i];
    return true;
}

// The sample type of a page that is not a palette, or nothing after its refusal.
std::optional<SampleType> sampleTypeOf(const PageLayout& page, core::MessageSink& sink) {
    const std::uint16_t format = page.format, bits = page.bits;
    if (format == SAMPLEFORMAT_UINT && bits == 8) return SampleType::U8;
    if (format == SAMPLEFORMAT_UINT && bits == 16) return SampleType::U16;
    if (format == SAMPLEFORMAT_UINT && bits == 32) return SampleType::U32;
    if (format == SAMPLEFORMAT_INT && bits == 8) return SampleType::I8;
    if (format == SAMPLEFORMAT_INT && bits == 16) return SampleType::I16;
    if (format == SAMPLEFORMAT_INT && bits == 32) return SampleType::I32;
    if (format == SAMPLEFORMAT_IEEEFP && bits == 16) return SampleType::F16;
    if (format == SAMPLEFORMAT_IEEEFP && bits == 32) return SampleType::F32;
    if (format == SAMPLEFORMAT_IEEEFP && bits == 64) return SampleType::F64;
    const std::string what = "TIFF " + std::to_string(bits) + "-bit" +
                             (format == SAMPLEFORMAT_IEEEFP ? " float"
                              : format == SAMPLEFORMAT_INT  ? " signed"
                              : format == SAMPLEFORMAT_UINT ? " unsigned"
                                                            : " complex or other");
    return refuse(sink, kUnsupportedType, what.c_str());
}

// The current directory's layout, refused when it is no grey picture we read.
bool readPageLayout(TIFF* tiff, PageLayout& page, const Source& memory, core::MessageSink& sink) {
    if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &page.width) ||
        !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &page.height)) {
        broken(sink, memory, "no image size");
        return false;
    }
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &page.bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &page.format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &page.channels);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &page.planar);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &page.photometric))
        page.photometric = page.channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &page.compression);
    if (!acceptedCompression(page.compression)) {
        refuse(sink, kCompressionRefused, compressionName(page.compression).c_str());
        return false;
    }
    page.palette = page.photometric == PHOTOMETRIC_PALETTE;
    if (page.palette && !readGreyPalette(tiff, page, memory, sink)) return false;
    page.rgb = page.photometric == PHOTOMETRIC_RGB;
    const std::uint16_t photometric = page.photometric;
    if (!(photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE ||
          page.rgb || page.palette) ||
        (page.rgb && page.channels < 3)) {
        refuse(sink, kColourRefused, "TIFF colour space");
        return false;
    }
    if (page.channels < 1 || page.channels > 4) {
        refuse(sink, kColourRefused, "TIFF channels");
        return false;
    }
    if (page.channels > 1 && page.planar != PLANARCONFIG_CONTIG) {
        refuse(sink, kUnsupportedType, "TIFF separate planes");
        return false;
    }
    if (!page.palette) {
        const auto type = sampleTypeOf(page, sink);
        if (!type) return false;
        page.type = *type;
    }
    // Float samples have no largest value to be inverted against.
    if (photometric == PHOTOMETRIC_MINISWHITE && page.format == SAMPLEFORMAT_IEEEFP) {
        refuse(sink, kUnsupportedType, "TIFF float MinIsWhite");
        return false;
    }
    return checkImportSize(page.width, page.height, sink);
}

// Copies decoded blocks (strips or tiles) into the picture's samples, noting whether an RGB
// pixel is not grey.
class BlockCopier {
  public:
    BlockCopier(const PageLayout& page, GreyImage& image) : page_(page), image_(image) {}
    std::vector<std::uint8_t> block;
    std::vector<double> channel;
    bool colour = false;

    // The block covers columns [x0, x0 + bw) and rows [y0, y0 + bh).
    void copy(std::uint32_t x0, std::uint32_t y0, std::uint32_t bw, std::uint32_t bh) {
        const PageLayout& p = page_;
        const std::size_t stride = static_cast<std::size_t>(p.rowBytes(bw));
        const std::size_t sampleBytes = p.bits / 8;
        const std::size_t pixelBytes = sampleBytes * p.channels;
        for (std::uint32_t r = 0; r < bh && y0 + r < p.height; ++r) {
            const std::uint8_t* row = block.data() + r * stride;
            double* out = image_.samples.data() + static_cast<std::size_t>(y0 + r) * p.width;
            if (p.palette) {
                const unsigned mask = (1u << p.bits) - 1;
                for (std::uint32_t c = 0; c < bw && x0 + c < p.width; ++c) {
                    const std::size_t bit = std::size_t{c} * p.bits;
                    const unsigned index = (row[bit / 8] >> (8 - p.bits - bit % 8)) & mask;
                    out[x0 + c] = p.greys[index];
                }
                continue;
            }
            // The first channel is the grey; an RGB pixel's other two must equal it.
            const std::size_t columns = std::min<std::size_t>(bw, p.width - x0);
            const std::span<const std::uint8_t> bytes(row, stride);
            const std::span<double> grey(out + x0, columns);
            if (!decodeSamples(p.type, kNativeOrder, bytes, grey, pixelBytes)) continue;
            if (!p.rgb || colour) continue;
            channel.resize(columns);
            for (std::size_t k = 1; k < 3 && !colour; ++k)
                colour = !decodeSamples(p.type, kNativeOrder, bytes.subspan(k * sampleBytes),
                                        channel, pixelBytes) ||
                         !std::equal(channel.begin(), channel.end(), grey.begin());
        }
    }

  private:
    const PageLayout& page_;
    GreyImage& image_;
};

// Where reading the blocks ended: done, refused (reported), or the data lie past the file's end
// (the caller reports which page).
enum class BlocksRead { Done, Refused, PastEnd };

BlocksRead readTiles(TIFF* tiff, const PageLayout& page, std::uint64_t fileSize,
                     const Source& memory, GreyImage& image, core::MessageSink& sink) {
    const std::uint32_t width = page.width, height = page.height;
    std::uint32_t tw = 0, th = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &th);
    const tmsize_t size = TIFFTileSize(tiff);
    // Tiles come in multiples of 16; one larger than the picture so rounded would only make a
    // hostile header's block allocation huge.
    const auto roundUp16 = [](std::uint32_t v) { return (std::uint64_t{v} + 15) / 16 * 16; };
    if (tw == 0 || th == 0 || size <= 0 || tw > roundUp16(width) || th > roundUp16(height) ||
        static_cast<std::uint64_t>(size) < page.rowBytes(tw) * th) {
        broken(sink, memory, "bad tile size");
        return BlocksRead::Refused;
    }
    const std::uint64_t tiles =
        (std::uint64_t{width} + tw - 1) / tw * ((std::uint64_t{height} + th - 1) / th);
    if (!holdsImageData(tiff, fileSize, tiles, static_cast<std::uint64_t>(size),
                        static_cast<std::uint64_t>(size)))
        return BlocksRead::PastEnd;
    image.samples.assign(static_cast<std::size_t>(width) * height, 0.0);
    BlockCopier copier(page, image);
    copier.block.resize(static_cast<std::size_t>(size));
    for (std::uint32_t y = 0; y < height; y += th) {
        for (std::uint32_t x = 0; x < width; x += tw) {
            if (TIFFReadTile(tiff, copier.block.data(), x, y, 0, 0) < 0) {
                broken(sink, memory, "a tile cannot be decoded");
                return BlocksRead::Refused;
            }
            copier.copy(x, y, tw, th);
            if (copier.colour) {
                refuse(sink, kColourRefused, "TIFF RGB");
                return BlocksRead::Refused;
            }
        }
    }
    return BlocksRead::Done;
}

BlocksRead readStrips(TIFF* tiff, const PageLayout& page, std::uint64_t fileSize,
                      const Source& memory, GreyImage& image, core::MessageSink& sink) {
    const std::uint32_t width = page.width, height = page.height;
    std::uint32_t rowsPerStrip = height;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > height) rowsPerStrip = height;
    const std::uint64_t stripBytes = std::uint64_t{rowsPerStrip} * page.rowBytes(width);
    const std::uint32_t strips = (height - 1) / rowsPerStrip + 1;
    const std::uint32_t lastRows = height - (strips - 1) * rowsPerStrip;
    if (!holdsImageData(tiff, fileSize, strips, stripBytes,
                        std::uint64_t{lastRows} * page.rowBytes(width)))
        return BlocksRead::PastEnd;
    image.samples.assign(static_cast<std::size_t>(width) * height, 0.0);
    BlockCopier copier(page, image);
    copier.block.resize(static_cast<std::size_t>(stripBytes));
    for (std::uint32_t y = 0, strip = 0; y < height; y += rowsPerStrip, ++strip) {
        const std::uint32_t rows = std::min(rowsPerStrip, height - y);
        const tmsize_t want = static_cast<tmsize_t>(std::uint64_t{rows} * page.rowBytes(width));
        if (TIFFReadEncodedStrip(tiff, strip, copier.block.data(), want) != want) {
            broken(sink, memory, "a strip cannot be decoded");
            return BlocksRead::Refused;
        }
        copier.copy(0, y, width, rows);
        if (copier.colour) {
            refuse(sink, kColourRefused, "TIFF RGB");
            return BlocksRead::Refused;
        }
    }
    return BlocksRead::Done;
}

}  // namespace

std::optional<GreyImage> readTiffImage(RandomAccessSource& file, int index,
                                       core::MessageSink& sink) {
    Source memory{file, 0, {}};
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return refuse(sink, kBadStructure, "TIFF", "out of memory");
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), onError, &memory);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), onWarning, &memory);
    // No strip or tile of an acceptable image needs more than the whole image in doubles.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(),
                                        static_cast<tmsize_t>(kMaxImportSamples * 8));
    std::unique_ptr<TIFF, TiffClose> tiff(
        TIFFClientOpenExt("memory", "r", &memory, readProc, writeProc, seekProc, closeProc,
                          sizeProc, mapProc, unmapProc, options.get()));
    if (!tiff) return broken(sink, memory, "no image directory");

    // The calibration of a stack is the first page's (ImageJ describes the stack there only).
    TiffVendorInput calibration;
    {
        std::uint32_t firstWidth = 0, firstHeight = 0;
        TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &firstWidth);
        TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &firstHeight);
        calibration = calibrationTags(tiff.get(), firstWidth, firstHeight);
    }
    const tdir_t pages = TIFFNumberOfDirectories(tiff.get());
    const int count = pages > 1 ? static_cast<int>(std::min<tdir_t>(pages, 1u << 30)) : 1;
    if (index < 0 || index >= count) return refuse(sink, kImageBeyondCount, count, index + 1);
    if (index > 0 && !TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(index)))
        return broken(sink, memory, "a page's directory cannot be read");

    PageLayout page;
    if (!readPageLayout(tiff.get(), page, memory, sink)) return std::nullopt;
    GreyImage image;
    image.format = ImageFormat::Tiff;
    image.type = page.type;
    image.width = static_cast<int>(page.width);
    image.height = static_cast<int>(page.height);
    const BlocksRead read = TIFFIsTiled(tiff.get())
                                ? readTiles(tiff.get(), page, file.size(), memory, image, sink)
                                : readStrips(tiff.get(), page, file.size(), memory, image, sink);
    if (read == BlocksRead::Refused) return std::nullopt;
    // A page whose data the file does not hold says which page it is.
    if (read == BlocksRead::PastEnd)
        return count > 1 ? refuse(sink, kStackPastEnd, index + 1, count) : refuse(sink, kTruncated);
    if (page.photometric == PHOTOMETRIC_MINISWHITE) {
        // Inverted within the type's range, as every reader of the format shows it: unsigned
        // v -> 2^bits - 1 - v, signed v -> -1 - v (the bits inverted).
        const bool isSigned = page.format == SAMPLEFORMAT_INT;
        const double top = isSigned ? -1.0 : std::ldexp(1.0, page.bits) - 1.0;
        for (double& v : image.samples) v = top - v;
    }

    setTiffCalibration(image, calibration);
    image.imageCount = count;
    image.imageIndex = index;
    if (!checkImported(image, sink)) return std::nullopt;
    return image;
}

std::optional<GreyImage> readTiff(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    MemoryAccess access(file);
    return readTiffImage(access, 0, sink);
}

}  // namespace image
