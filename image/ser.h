// TIA series files (.ser), with the .emi beside them that holds the acquisition's description.
//
// A series file (always little-endian) is a header (byte order 0x4949, series id 0x0197, version
// 0x0210 with 4-byte offsets or 0x0220 with 8-byte ones, the element type, total and recorded
// element counts, the offset of the offset tables, the number of scan dimensions), the
// dimension array, the data offset table and the tag offset table (one entry per element
// each), then the elements. A 2-D element is an image: per axis its calibration offset
// (double), delta (double) and element (int32), then the data type (uint16), the width and the
// height (uint32) and the samples, row by row from the bottom of the picture. The calibration
// carries no unit: metres in an image, reciprocal metres in a diffraction pattern, which only
// the .emi's mode tells.
//
// The reader reads the header, the recorded part of the offset table, every recorded element's
// short header (each must lie whole inside the file, clear of the header and the tables) and
// the chosen image's samples: never the whole file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/message_sink.h"
#include "image/file_io.h"
#include "image/import.h"

namespace image {

// What the .emi beside a series says about it.
struct EmiContext {
    bool found = false;  // an .emi was read
    std::string mode;    // the experimental description's "Mode" ("TEM Image", "TEM Diffraction")
    bool camera = false;  // acquired with a camera (a STEM series of diffraction patterns)
    // True when the calibration is reciprocal: a diffraction mode, or a camera in STEM.
    bool reciprocal() const;
};

// The .emi of a series named "NAME_N.ser": "NAME.emi" in the same folder ("" for another name),
// and N (1 when the name has no number).
std::string emiPathOf(const std::string& serPath);
int serNumberOf(const std::string& serPath);

// The description of series number `serNumber` (1-based) in the text of an .emi: its
// <ObjectInfo> block of that rank, else the first.
EmiContext emiContextOf(std::string_view emi, int serNumber);

// Reads image `index` (0-based) of the series; the calibration follows `emi`.
std::optional<GreyImage> readSerImage(RandomAccessSource& file, int index, const EmiContext& emi,
                                      core::MessageSink& sink);

}  // namespace image
