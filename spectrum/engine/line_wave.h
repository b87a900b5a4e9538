// The line wave: a straight line through the centre of the spectrum picture at a chosen angle,
// its profile of shown grey levels, and the spectrum values along it as a text file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

struct LineSample {
    int j = 0;         // -halfLength .. halfLength - 1
    int x = 0, y = 0;  // the nearest pixel
    bool inside = false;
};

// Half the chord of the line within the ellipse inscribed in the picture.
int lineHalfLength(int width, int height, double angleDegrees);

// Every sample j = -halfLength .. halfLength - 1 in order, with its nearest pixel.
std::vector<LineSample> lineSamples(int width, int height, double angleDegrees);

// The shown grey level at each sample's pixel (0 for samples outside the picture).
std::vector<int> lineProfile(const std::vector<LineSample>& samples, const GreyPixels& picture);

// The whole FFT data text (CR LF line ends) for the current spectrum.
std::string fftDataText(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                        double angleDegrees);

// The line wave's samples with their place in reciprocal space, as CSV (LF line ends): a header,
// then per sample inside the picture x, y, the spatial frequency (1/nm with a pixel size, else
// 1/pixel), the signed frequency along the line (negative on the j < 0 side), the real and
// imaginary parts and the root power, in the rows and order of the FFT data file. Pixels that are
// not square convert each frequency component on its own axis.
std::string calibratedLineCsv(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                              double angleDegrees, std::optional<image::PixelSize> pixelSizeNm);

}  // namespace spectrum
