// EMD files (HDF5): the Velox layout (/Version's JSON says "format":"Velox"; each signal a group
// /Data/Image/<id> with Data shaped (height, width, frames) and Metadata, a uint8 array of
// zero-padded JSON, one column per frame) and the Berkeley EMD 1.0 layout (groups with the
// attribute emd_group_type = 1 holding "data" with dim1 along x and dim2 along y, and the
// datasets dim1, dim2 of axis values with a "units" attribute).
//
// Read through libhdf5 in the native builds; the Windows builds refuse EMD by name. The JSON of
// the metadata is parsed by a small reader of our own (emd_metadata.cpp), bounded in depth and
// size, that every build has and the fuzzer runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/message_sink.h"
#include "image/import.h"

namespace image {

std::optional<GreyImage> readEmdFile(const std::string& path, const ImportChoice& choice,
                                     core::MessageSink& sink);

// What one frame's Velox metadata says.
struct VeloxMetadata {
    bool parsed = false;          // the text was one JSON object
    std::string detector;         // BinaryResult.Detector, printable, at most 64 bytes
    std::optional<double> sizeX;  // BinaryResult.PixelSize.width and .height, in ...
    std::optional<double> sizeY;
    std::string unitX;  // ... BinaryResult.PixelUnitX and PixelUnitY
    std::string unitY;
};

// Parses one frame's metadata (zero padding at the end allowed).
VeloxMetadata parseVeloxMetadata(std::string_view text);

// True when /Version's text is a JSON object whose "format" is "Velox" (or "DevelopersKit",
// the same layout).
bool isVeloxVersion(std::string_view text);

// "[n_m]", "n_m", "nm" -> "nm": the Berkeley units as written with brackets and underscores.
std::string berkeleyUnit(std::string_view units);

}  // namespace image
