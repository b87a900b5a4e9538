#include "image/bmp_file.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "image/file_io.h"

namespace image {
namespace {

constexpr std::uint16_t kBmpMagic = 0x4D42;  // "BM"

const char* readCaption(BitmapFlavour f) {
    return f == BitmapFlavour::Kestral ? "Error" : "Read Error";
}
const char* openCaption(BitmapFlavour f) {
    return f == BitmapFlavour::Kestral ? "Error" : "Open Error";
}
const char* accessCaption(BitmapFlavour f) {
    return f == BitmapFlavour::Kestral ? "Error" : "File Error";
}
const char* saveCaption(BitmapFlavour f) {
    return f == BitmapFlavour::Kestral ? "Error" : "Save Error";
}
const char* createFailedText(BitmapFlavour f) {
    return f == BitmapFlavour::Kestral ? "Error: Unable to open file." : "Unable to open file.";
}
const char* writeFailedText(BitmapFlavour f) {
    return f == BitmapFlavour::Kestral ? "Error: File write error." : "Unable to write to file.";
}

// A header whose sizes do not fit the block it came with.
constexpr const char* kBadLayoutText =
    "Error: Bitmap sizes found in info header do not fit the file.";

BmpFileHeader parseFileHeader(const std::uint8_t* p) {
    BmpFileHeader h;
    h.bfType = loadU16(p);
    h.bfSize = loadU32(p + 2);
    h.bfReserved1 = loadU16(p + 6);
    h.bfReserved2 = loadU16(p + 8);
    h.bfOffBits = loadU32(p + 10);
    return h;
}

void storeFileHeader(std::uint8_t* p, const BmpFileHeader& h) {
    storeU16(p, h.bfType);
    storeU32(p + 2, h.bfSize);
    storeU16(p + 6, h.bfReserved1);
    storeU16(p + 8, h.bfReserved2);
    storeU32(p + 10, h.bfOffBits);
}

enum class AccessFault { None, HeaderSize, Layout };

// Works out the layout of the block without changing it.
AccessFault planAccess(const CurrentImage& image, DibAccess& a) {
    const PackedDib& dib = image.dib;
    if (dib.empty()) return AccessFault::Layout;
    if (dib.u32(info::biSize) != kInfoHeaderSize) return AccessFault::HeaderSize;

    const std::uint64_t size = dib.block.size();
    a.width = dib.width();
    a.height = dib.height();
    const std::uint16_t bits = dib.bitCount();
    if (a.width <= 0 || a.height <= 0) return AccessFault::Layout;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return AccessFault::Layout;

    // A table never has more entries than 8-bit indices can reach; deeper pictures carry only the
    // table they declare (an implied 2^16 or 2^32 entries would be nonsense).
    const std::uint32_t clrUsed = dib.u32(info::biClrUsed);
    std::uint64_t colours = clrUsed;
    if (bits <= 8) {
        if (clrUsed > 256) return AccessFault::Layout;
        if (clrUsed == 0) colours = std::uint64_t{1} << bits;
    }
    const std::uint64_t tableEnd = kInfoHeaderSize + 4 * colours;
    if (tableEnd > size) return AccessFault::Layout;

    std::uint64_t pixelStart = tableEnd;
    const std::uint32_t offBits = image.fileHeader.bfOffBits;
    if (offBits != 0) {
        if (offBits < kFileHeaderSize + tableEnd) return AccessFault::Layout;
        pixelStart = offBits - kFileHeaderSize;
        if (pixelStart > size) return AccessFault::Layout;
    }

    const std::uint64_t stride = dibRowStride(a.width, bits);
    const std::uint64_t available = size - pixelStart;
    const std::uint32_t compression = dib.u32(info::biCompression);
    a.compressed = compression == 1 || compression == 2;
    std::uint64_t pixelBytes = 0;
    if (a.compressed) {
        pixelBytes = dib.u32(info::biSizeImage);
        if (pixelBytes == 0) {
            if (stride > available / static_cast<std::uint64_t>(a.height))
                return AccessFault::Layout;
            pixelBytes = stride * static_cast<std::uint64_t>(a.height);
        }
    } else {
        if (stride > available / static_cast<std::uint64_t>(a.height)) return AccessFault::Layout;
        pixelBytes = stride * static_cast<std::uint64_t>(a.height);
    }
    if (pixelBytes > available) return AccessFault::Layout;

    a.rowStride = static_cast<std::size_t>(stride);
    a.colourCount = static_cast<std::uint32_t>(colours);
    a.pixelBytes = static_cast<std::size_t>(pixelBytes);
    a.colourTable = const_cast<std::uint8_t*>(dib.block.data()) + kInfoHeaderSize;
    a.pixels = const_cast<std::uint8_t*>(dib.block.data()) + pixelStart;
    return AccessFault::None;
}

bool readFrom(ByteSource& source, std::uint64_t fileSize, CurrentImage& image,
              BitmapFlavour flavour, core::MessageSink& sink, PictureArea area) {
    auto fail = [&](const std::string& text) {
        freeBitmap(image);
        sink.ask(text, readCaption(flavour), core::kIconError);
        return false;
    };
    freeBitmap(image);

    std::uint8_t head[kFileHeaderSize];
    if (source.read(head, sizeof head) != sizeof head)
        return fail("Unable to read bitmap file header.");
    const BmpFileHeader header = parseFileHeader(head);
    if (header.bfType != kBmpMagic)
        return fail(core::formatMessage("Bad magic number (0x%04x) in bitmap.", header.bfType));

    // bfSize comes from the file: believe it only as far as the file really reaches, so a hostile
    // header can neither make us allocate gigabytes nor leave the block without an info header.
    if (header.bfSize < kFileHeaderSize + kInfoHeaderSize || header.bfSize > fileSize)
        return fail("Unable to read bitmap info header.");
    const std::size_t blockSize = header.bfSize - kFileHeaderSize;
    try {
        image.dib.block.resize(blockSize);
    } catch (const std::bad_alloc&) {
        return fail("Unable to allocate space for bitmap.");
    }
    if (source.read(image.dib.block.data(), blockSize) != blockSize)
        return fail("Unable to read bitmap info header.");
    image.fileHeader = header;

    if (!accessBitmap(image, flavour, sink)) {
        // A wrong info header size keeps the block current; any other refusal leaves nothing.
        if (image.dib.u32(info::biSize) != kInfoHeaderSize) return false;
        freeBitmap(image);
        return false;
    }
    image.viewReduction = viewReduction(area, image.dib.width(), image.dib.height());
    return true;
}

}  // namespace

std::uint64_t dibRowStride(std::int32_t width, std::uint16_t bitCount) {
    if (width <= 0) return 0;
    return (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
}

std::uint32_t writerOffBits(BitmapFlavour flavour) {
    return flavour == BitmapFlavour::Kestral ? 14 + 40 + 16 * 4 : 14 + 40 + 256 * 4;
}

std::optional<DibAccess> accessBitmap(CurrentImage& image, BitmapFlavour flavour,
                                      core::MessageSink& sink) {
    DibAccess a;
    switch (planAccess(image, a)) {
        case AccessFault::HeaderSize:
            sink.ask("Error: Illegal structure size.found in info header", accessCaption(flavour),
                     core::kIconError);
            return std::nullopt;
        case AccessFault::Layout:
            sink.ask(kBadLayoutText, accessCaption(flavour), core::kIconError);
            return std::nullopt;
        case AccessFault::None:
            break;
    }
    PackedDib& dib = image.dib;
    if (dib.u32(info::biClrUsed) == 0) dib.setU32(info::biClrUsed, a.colourCount);
    if (dib.u32(info::biSizeImage) == 0)
        dib.setU32(info::biSizeImage,
                   static_cast<std::uint32_t>(a.rowStride * static_cast<std::size_t>(a.height)));
    return a;
}

bool readBitmapBytes(std::span<const std::uint8_t> file, CurrentImage& image, BitmapFlavour flavour,
                     core::MessageSink& sink, PictureArea area) {
    MemorySource source(file);
    return readFrom(source, file.size(), image, flavour, sink, area);
}

bool readBitmapFile(const std::string& path, CurrentImage& image, BitmapFlavour flavour,
                    core::MessageSink& sink, PictureArea area) {
    FileHandle file(fopenUtf8(path, "rb"));
    if (!file) {
        freeBitmap(image);
        sink.ask(core::formatMessage("Unable to open file '%s'.", path.c_str()),
                 openCaption(flavour), core::kIconError);
        return false;
    }
    // An unknown size reads as empty, which the header check then refuses.
    const std::uint64_t size = fileSize(file.get()).value_or(0);
    FileSource source(file.get());
    return readFrom(source, size, image, flavour, sink, area);
}

namespace {

// The pixel offset written with a picture. Each program writes its fixed offset, which is right
// for its own pictures (256 colours in the image program, 16 in the crystal program). A picture
// laid out otherwise, such as an 8-bit file opened in the crystal program, gets the offset of its
// own rows, so that the file written reads back as the picture it holds.
std::uint32_t offBitsFor(const CurrentImage& image, BitmapFlavour flavour) {
    const std::uint32_t fixed = writerOffBits(flavour);
    DibAccess a;
    if (planAccess(image, a) != AccessFault::None) return fixed;
    const std::size_t own = kFileHeaderSize + static_cast<std::size_t>(a.pixels - image.dib.block.data());
    return own == fixed ? fixed : static_cast<std::uint32_t>(own);
}

}  // namespace

std::vector<std::uint8_t> encodeBitmap(CurrentImage& image, BitmapFlavour flavour) {
    const std::size_t blockSize = image.dib.block.size();
    image.fileHeader =
        BmpFileHeader{kBmpMagic, static_cast<std::uint32_t>(blockSize + kFileHeaderSize), 0, 0,
                      offBitsFor(image, flavour)};
    std::vector<std::uint8_t> bytes;
    try {
        bytes.resize(kFileHeaderSize + blockSize);
    } catch (const std::bad_alloc&) {
        return {};
    }
    storeFileHeader(bytes.data(), image.fileHeader);
    if (blockSize) std::memcpy(bytes.data() + kFileHeaderSize, image.dib.block.data(), blockSize);
    return bytes;
}

bool writeBitmapFile(const std::string& path, CurrentImage& image, BitmapFlavour flavour,
                     core::MessageSink& sink, ReplacingSet* set) {
    const std::size_t blockSize = image.dib.block.size();
    // bfSize is 32 bits: a block that cannot be described is not written at all.
    if (image.dib.empty() || blockSize > 0xFFFFFFFFu - kFileHeaderSize) {
        sink.ask(writeFailedText(flavour), saveCaption(flavour), core::kIconError);
        return false;
    }
    // The old file stays until the new one is complete.
    ReplacingFile single;
    ReplacingFile* out = set ? set->add(path) : (single.open(path) ? &single : nullptr);
    if (!out) {
        if (set) set->discard();
        sink.ask(createFailedText(flavour), saveCaption(flavour), core::kIconError);
        return false;
    }
    image.fileHeader =
        BmpFileHeader{kBmpMagic, static_cast<std::uint32_t>(blockSize + kFileHeaderSize), 0, 0,
                      offBitsFor(image, flavour)};
    std::uint8_t head[kFileHeaderSize];
    storeFileHeader(head, image.fileHeader);
    bool written = out->write(head, sizeof head) && out->write(image.dib.block.data(), blockSize);
    if (written && !set) written = single.commit();
    if (!written) {
        if (set) set->discard();
        sink.ask(writeFailedText(flavour), saveCaption(flavour), core::kIconError);
        return false;
    }
    return true;
}

}  // namespace image
