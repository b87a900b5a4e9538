// Reading and writing BMP files into and out of the current PackedDib, and the access step that
// every caller runs before it touches the pixels.
//
// Both programs use the same code; they differ only in captions, writer texts and the bfOffBits
// the writer puts in the file (BitmapFlavour). Every failure is reported once through the
// MessageSink with its fixed text, caption and MB_ICONERROR, and the function returns false or
// nothing. The reader validates the file's sizes against the bytes really present before it
// allocates, and the access step refuses any header whose colour table or pixel rows would reach
// past the block, so no caller can be led out of bounds by a hostile file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/message_sink.h"
#include "image/file_io.h"
#include "image/packed_dib.h"

namespace image {

enum class BitmapFlavour { Voralin00, Kestral };

// Where the parts of an accessed block lie. Pointers stay valid until the block is replaced.
struct DibAccess {
    std::uint8_t* colourTable = nullptr;  // colourCount entries of blue, green, red, 0
    std::uint8_t* pixels = nullptr;       // bottom row first
    std::size_t rowStride = 0;            // bytes per row, a multiple of 4
    std::uint32_t colourCount = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool compressed = false;     // RLE pixels: biSizeImage bytes, not rows of rowStride
    std::size_t pixelBytes = 0;  // bytes from `pixels` that belong to the picture

    // Pixel (x, y) of an uncompressed 8-bit picture, y counted from the top.
    std::uint8_t& at(std::int32_t x, std::int32_t y) const {
        return pixels[static_cast<std::size_t>(height - 1 - y) * rowStride +
                      static_cast<std::size_t>(x)];
    }
};

// The row length in bytes of a picture: ((width x bitCount + 31) / 32) x 4.
std::uint64_t dibRowStride(std::int32_t width, std::uint16_t bitCount);

// Checks the block and fills in biClrUsed and biSizeImage when they are 0.
std::optional<DibAccess> accessBitmap(CurrentImage& image, BitmapFlavour flavour,
                                      core::MessageSink& sink);

// Replaces `image` (which the caller has freed) with the BMP file at `path` and sets its
// viewReduction for the area it is shown in. On failure `image` holds no picture, except
// when the access step refuses the information header size: that block stays, as it always has.
bool readBitmapFile(const std::string& path, CurrentImage& image, BitmapFlavour flavour,
                    core::MessageSink& sink, PictureArea area);

// The same on the bytes of a file held in memory.
bool readBitmapBytes(std::span<const std::uint8_t> file, CurrentImage& image, BitmapFlavour flavour,
                     core::MessageSink& sink, PictureArea area);

// Writes the current picture as a BMP file and keeps the written file header in `image`. The
// file replaces `path` only when it was written completely (including its close); until then an
// old file of that name stays as it was. With a `set`, the file joins it and is moved into place
// with the set's commit; a failure then discards the whole set.
bool writeBitmapFile(const std::string& path, CurrentImage& image, BitmapFlavour flavour,
                     core::MessageSink& sink, ReplacingSet* set = nullptr);

// The bytes writeBitmapFile would write; sets the kept file header the same way.
std::vector<std::uint8_t> encodeBitmap(CurrentImage& image, BitmapFlavour flavour);

// The writer's fixed bfOffBits: a 256-entry colour table in one program, 16 in the other.
std::uint32_t writerOffBits(BitmapFlavour flavour);

}  // namespace image
