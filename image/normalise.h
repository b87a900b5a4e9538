// Validation and normalisation of a grey bitmap the image program opens (image/open_image.h
// runs it on Open).
//
// Only 8-bit grey-scale BMPs (uncompressed or RLE8) of at least 64 x 64 pixels are accepted. An
// accepted file is rewritten as a normalised BMP (identity grey ramp of 256 entries, pixel values
// equal to grey levels, rows padded to 4 bytes, no compression) in a temporary file beside it
// (or in the system's temporary folder when the image's folder cannot take it: a read-only or
// full medium),
// which is then loaded and deleted. The core works from a byte source to a byte sink, so tests
// and the fuzzer run it in memory; the file functions add the disk, the temporary name and the
// wait state.
//
// The colour table starts right after the information header (14 + biSize), the pixels at
// bfOffBits. Sizes from the file are never trusted: the header, palette and pixel rows must
// really be present, the picture must stay within the limits of image/limits.h (checked before
// anything is written), and RLE8 commands that reach past a row or past the picture are clipped,
// so at most paddedWidth x height pixel bytes are written.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "core/busy.h"
#include "core/disk.h"
#include "core/message_sink.h"
#include "image/bmp_file.h"
#include "image/file_io.h"
#include "image/packed_dib.h"

namespace image {

inline constexpr std::uint32_t kNormalisedOffBits = 1078;

// The refusals of a file that cannot be read or is no bitmap (caption "Open Error" and "Error").
inline constexpr const char* kBitmapOpenText = "Unable to open the bitmap file.";
inline constexpr const char* kBitmapFormatText = "Not a bitmap file with correct format.";

// What the header and palette of an acceptable source say.
struct GreySource {
    ImageGeometry geometry;
    std::uint64_t fileSize = 0;
    bool rle = false;
    std::uint32_t sourceColours = 256;
    std::array<std::uint8_t, 256> grey{};   // pixel index -> grey level
    bool identity = false;                  // grey[i] == i for every i below sourceColours
    std::array<std::uint8_t, 54> header{};  // the source's first 54 bytes
    std::uint32_t infoSize = 40;            // 40, 108 or 124: the table starts at 14 + infoSize
    std::uint64_t pixelStart = 0;           // bfOffBits
};

// Information header sizes accepted: the classic one and the two longer ones that common tools
// write by default; the fields a grey bitmap needs sit at the same offsets in all three.
bool isAcceptedInfoSize(std::uint32_t size);

// The first bytes of a file that checkGreyBitmap needs: the longest header and the largest
// palette.
inline constexpr std::size_t kGreyHeadBytes = 14 + 124 + 256 * 4;

// Checks the header and palette (`head`: the first min(fileSize, kGreyHeadBytes) bytes of a file
// of `fileSize` bytes) and reports the first refusal.
std::optional<GreySource> checkGreyBitmap(std::span<const std::uint8_t> head,
                                          std::uint64_t fileSize, core::MessageSink& sink);

// Writes the normalised file for `source`, reading its pixel data from `pixels` (positioned at
// source.pixelStart). Reports nothing; false when a read or a write failed.
enum class ConvertResult { Ok, ReadFailed, WriteFailed };
ConvertResult writeNormalised(const GreySource& source, ByteSource& pixels, ByteSink& out);

// The core on a whole file in memory: checks `file`, begins the wait state in `busy` and writes
// the normalised file to `out`. On success the wait state stays on for the caller to end. On a
// failure after it began, it ends before the message.
std::optional<ImageGeometry> normaliseGreyBytes(std::span<const std::uint8_t> file, ByteSink& out,
                                                core::MessageSink& sink,
                                                core::BusyIndicator& indicator,
                                                std::optional<core::BusyScope>& busy);

// The temporary file's name for `sourcePath` and attempt n (1, 2, ...): the path without its last
// four characters, then "B_<n>.bmp".
std::string temporaryBitmapName(const std::string& sourcePath, int attempt);

struct NormalisedFile {
    ImageGeometry geometry;
    // A file created by us and registered (registerTemporary); the caller deletes and
    // unregisters it after loading.
    std::string tempPath;
};

// The whole step on a file: free-space test, checks, an exclusively created temporary file that
// never replaces an existing one, the wait state (left on after success), the rewrite.
std::optional<NormalisedFile> normaliseGreyBitmap(const std::string& sourcePath,
                                                  core::MessageSink& sink,
                                                  core::BusyIndicator& indicator,
                                                  core::DiskServices& disk,
                                                  std::optional<core::BusyScope>& busy);

// The same on the source already open (`source`, read from its start; null when it could not be
// opened), named `sourcePath`.
std::optional<NormalisedFile> normaliseGreyBitmap(std::FILE* source, const std::string& sourcePath,
                                                  core::MessageSink& sink,
                                                  core::BusyIndicator& indicator,
                                                  core::DiskServices& disk,
                                                  std::optional<core::BusyScope>& busy);

// True when the last four characters of `path` are ".bmp" in any letter case.
bool hasBmpExtension(const std::string& path);

}  // namespace image
