// Opening an image in the image program: one pass from the file's path to the current picture.
//
// The format is decided once, by the name's extension. A BMP is checked and rewritten as a
// normalised bitmap in a temporary file (image/normalise.h), which is loaded and deleted: the
// program's Open as it has always been, with its messages about that file and its disk. A
// microscope image (TIFF, PNG, MRC, DM3/DM4, TIA series, EMD) is imported and its normalised
// 8-bit picture is built in memory: no file is written for it. Either way the picture held is
// the same one, an identity grey ramp of 256 entries and rows padded to 4 bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/busy.h"
#include "core/disk.h"
#include "core/message_sink.h"
#include "image/import.h"
#include "image/packed_dib.h"

namespace image {

enum class OpenResult {
    Refused,     // nothing changed: the previous picture and work stay
    Opened,      // the new picture is current
    LoadFailed,  // the previous work was forgotten but the normalised file did not load
};

struct OpenOutcome {
    OpenResult result = OpenResult::Refused;
    ImageGeometry geometry;
    // For a microscope image: what the file is, without its samples, and for a source above
    // 8 bits the levels that enter the transform.
    std::optional<GreyImage> source;
    std::shared_ptr<const PreciseLevels> precise;
};

// Open in the image program, after the file dialog: the extension, the format's checks and the
// normalised picture; then `forgetPrevious` (the caller drops its spectrum and circles), the
// previous picture freed, the wait state ended and the new picture made current in `image`,
// with its viewReduction for a client area of the given size.
OpenOutcome openImageFile(const std::string& path, CurrentImage& image, core::MessageSink& sink,
                          core::BusyIndicator& indicator, core::DiskServices& disk,
                          PictureArea area,
                          const std::function<void()>& forgetPrevious,
                          const ImportChoice& choice = {});

// The picture the program holds for an imported image, with the file header it has on disk:
// the samples themselves for an 8-bit source, the percentile rendering otherwise.
// viewReduction is left at 1.
CurrentImage normalisedPictureOf(const GreyImage& image);

// The same picture as a complete BMP file (1078-byte header and grey ramp, rows bottom first).
std::vector<std::uint8_t> normalisedBitmapOf(const GreyImage& image);

// The one-line description shown in the open dialog, such as
// "512(W) x 480(H) x 256(Colors) RGB (246838 Bytes)", or nothing for a file that is not a BMP
// with a 40-byte information header.
std::optional<std::string> describeBitmapFile(const std::string& path);

}  // namespace image
