// Where a point of the shown spectrum lies in reciprocal space.
//
// The spectrum picture shows the frame's centre window at the image's size, the zero frequency at
// frame pixel (n/2, n/2). A point r frame pixels from it has the spatial frequency r / (n x pixel
// size): n is the transform frame, not the image width. Screen positions are multiplied by the
// view reduction first. Without a calibration the frequency is in 1/pixel. Pixels that are not
// square convert each component on its own axis: g = |(gx / (n px), gy / (n py))|.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

struct Readout {
    bool inside = false;       // the point lies on the spectrum
    bool calibrated = false;   // frequency in 1/nm (else 1/pixel)
    double frequency = 0;      // cycles per nm or per pixel
    double spacing = 0;        // 1 / frequency (nm or pixels); 0 at the centre
    double angleDegrees = 0;   // the line wave's convention: -90..90, counter-clockwise from +x
    double rootPower = 0;      // the spectrum's magnitude there
};

// The readout at picture pixel (x, y) of the spectrum (x from the left, y from the top, at full
// size).
Readout readoutAt(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry, int x,
                  int y, std::optional<image::PixelSize> pixelSizeNm);

// The same at a client point of the shown picture reduced by `viewReduction`.
Readout readoutAtScreen(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                        int screenX, int screenY, int viewReduction,
                        std::optional<image::PixelSize> pixelSizeNm);

// The same on the spectrum of a box of side S (live_box.h): `magnitudes` holds its S x S
// values' magnitudes, row r at r * S, zero frequency at (S/2, S/2); (x, y) is a picture pixel of it.
Readout readoutInBox(const std::vector<double>& magnitudes, int side, int x, int y,
                     std::optional<image::PixelSize> pixelSizeNm);

// The spatial frequency in 1/nm of the frame offset (dx, dy) from the zero frequency of an
// n-sample frame whose pixels are `size`, each component on its own axis.
inline double frequencyOnAxes(double dx, double dy, int n, const image::PixelSize& size) {
    return std::hypot(dx / (n * size.x), dy / (n * size.y));
}

// A number with `digits` significant digits in plain decimals (0.3135, 12.00, 1024, 0.0001200),
// never in exponent form and never "-0" (a value that rounds to zero has no sign). Non-finite
// values give "-".
std::string significantDigits(double value, int digits);
// A number with `decimals` decimals; a value that rounds to zero prints without its sign.
std::string fixedDecimals(double value, int decimals);

// One line for the status strip, in the chosen language: frequency, d-spacing (nm, or Angstrom
// below 1 nm), angle and value; "" outside the spectrum.
std::string formatReadout(const Readout& readout);

}  // namespace spectrum
