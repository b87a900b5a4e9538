// What the first image directory of a classic TIFF says, read without a codec: the sample
// layout, the calibration tags and the number of images. The Windows build decodes with the
// Windows Imaging Component, which neither names every sample type nor keeps the ImageJ
// description, so it asks this first; every offset is checked against the file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace image {

struct TiffHeader {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bitsPerSample = 1;
    std::uint16_t sampleFormat = 1;  // 1 unsigned, 2 signed, 3 float
    std::uint16_t samplesPerPixel = 1;
    std::uint16_t photometric = 1;
    std::string description;
    double xResolution = 0;
    std::uint16_t resolutionUnit = 2;
    int imageCount = 1;
};

// Nothing for a file that is not a classic TIFF or whose first directory lies outside it.
std::optional<TiffHeader> readTiffHeader(std::span<const std::uint8_t> file);

}  // namespace image
