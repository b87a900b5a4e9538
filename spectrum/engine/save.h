// The two save commands of the image program after their file dialog: the FFT data text file and
// the current picture as a BMP file, with their overwrite, drive, space and extension rules.
#pragma once

#include <optional>
#include <string>

#include "core/disk.h"
#include "core/message_sink.h"
#include "image/packed_dib.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

// Writes the FFT data file after the checks of the Save File command (overwrite question when
// `askBeforeOverwrite`, fixed drive, ".txt" extension). Reports success or failure through `sink`.
bool saveFftDataTo(const std::string& path, const SpectrumBuffers& buffers,
                   const image::ImageGeometry& geometry, double angleDegrees,
                   core::MessageSink& sink, core::DiskServices& disk, bool askBeforeOverwrite);

// Writes the current picture after the checks of the Save BMP command (overwrite question when
// `askBeforeOverwrite`, fixed drive, free space for the image's file size, ".bmp" extension).
bool saveBitmapTo(const std::string& path, image::CurrentImage& image,
                  const image::ImageGeometry& geometry, core::MessageSink& sink,
                  core::DiskServices& disk, bool askBeforeOverwrite);

// Writes the filtered image before truncation as a 32-bit float TIFF (the Save BMP command given a
// name ending in .tif or .tiff), with the pixel size when there is one; the same checks as
// saveBitmapTo, a file not written whole is deleted.
bool saveFloatTiffTo(const std::string& path, const RestoredImage& restored,
                     std::optional<image::PixelSize> pixelSizeNm, core::MessageSink& sink,
                     core::DiskServices& disk, bool askBeforeOverwrite);

// True when `path` ends in .tif or .tiff in any letter case.
bool hasTiffExtension(const std::string& path);

// Writes the line wave's calibrated table (calibratedLineCsv) as a CSV file.
bool saveCalibratedLineTo(const std::string& path, const SpectrumBuffers& buffers,
                          const image::ImageGeometry& geometry, double angleDegrees,
                          std::optional<image::PixelSize> pixelSizeNm, core::MessageSink& sink,
                          core::DiskServices& disk);

// Writes the radial profile's CSV (radialProfileCsv, what voralin00-cli radial writes) after an
// overwrite question, and says it was saved.
bool saveRadialCsvTo(const std::string& path, const std::string& csv, core::MessageSink& sink,
                     core::DiskServices& disk);

// True when `path` ends in `extension` (".txt") in any letter case.
bool hasExtension(const std::string& path, const char* extension);

}  // namespace spectrum
