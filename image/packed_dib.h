// PackedDib: a device-independent bitmap in one block of bytes, as both programs hold their
// current picture: the 40-byte BMP information header, the colour table (4 bytes an entry:
// blue, green, red, 0), then the pixel rows, bottom row first, each padded to 4 bytes.
// All integers in the block are little-endian. No dependency on any OS imaging API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace image {

inline constexpr std::size_t kInfoHeaderSize = 40;
inline constexpr std::size_t kFileHeaderSize = 14;

// Byte offsets of the information header fields inside the block.
namespace info {
inline constexpr std::size_t biSize = 0, biWidth = 4, biHeight = 8, biPlanes = 12, biBitCount = 14,
                             biCompression = 16, biSizeImage = 20, biXPelsPerMeter = 24,
                             biYPelsPerMeter = 28, biClrUsed = 32, biClrImportant = 36;
}

inline std::uint32_t loadU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline std::uint16_t loadU16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}
inline std::int32_t loadI32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(loadU32(p));
}
inline void storeU32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
    p[3] = std::uint8_t(v >> 24);
}
inline void storeU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

// The 14-byte file header kept beside the current picture: the header of the file last read or
// written. bfOffBits, when non-zero, locates the pixel rows (block offset bfOffBits - 14).
struct BmpFileHeader {
    std::uint16_t bfType = 0;
    std::uint32_t bfSize = 0;
    std::uint16_t bfReserved1 = 0;
    std::uint16_t bfReserved2 = 0;
    std::uint32_t bfOffBits = 0;
};

struct PackedDib {
    std::vector<std::uint8_t> block;

    bool empty() const { return block.size() < kInfoHeaderSize; }
    std::uint32_t u32(std::size_t offset) const { return loadU32(block.data() + offset); }
    std::uint16_t u16(std::size_t offset) const { return loadU16(block.data() + offset); }
    void setU32(std::size_t offset, std::uint32_t v) { storeU32(block.data() + offset, v); }
    void setU16(std::size_t offset, std::uint16_t v) { storeU16(block.data() + offset, v); }

    std::int32_t width() const { return static_cast<std::int32_t>(u32(info::biWidth)); }
    std::int32_t height() const { return static_cast<std::int32_t>(u32(info::biHeight)); }
    std::uint16_t bitCount() const { return u16(info::biBitCount); }
};

// The one current picture of a program with the file header kept beside it.
struct CurrentImage {
    PackedDib dib;
    BmpFileHeader fileHeader;
    int viewReduction = 1;

    bool present() const { return !dib.empty(); }
};

// The geometry of an image as opened and normalised: every later command on the image works with
// these values (rows of paddedWidth bytes; fileSize = paddedWidth * height + 1078).
struct ImageGeometry {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t paddedWidth = 0;
    std::uint32_t fileSize = 0;
};

// Frees the current block and clears the kept file header.
void freeBitmap(CurrentImage& image);

// The room a picture is shown in, in screen pixels. The program that shows it says how much of
// its window that is.
struct PictureArea {
    int width = 0;
    int height = 0;
};

// The power-of-two factor by which a picture is shown reduced so that it fits the area.
int viewReduction(PictureArea area, std::int32_t biWidth, std::int32_t biHeight);

}  // namespace image
