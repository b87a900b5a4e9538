// The display mapping: the central width x height window of the spectrum becomes the 8-bit
// picture (root power, real part or imaginary part; linear or logarithmic; clipping; inverted;
// grey or rainbow colour table).
#pragma once

#include <array>

#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

// Writes the picture and its colour table. Returns 0, or 1 when the window is flat (its largest
// value not above its smallest); then nothing is written.
int mapSpectrum(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                const DisplaySettings& display, image::CurrentImage& image);

// What mapSpectrum would return, without writing anything: it stops at the first two shown
// values that differ.
int checkSpectrum(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                  const DisplaySettings& display);

// The rainbow ramp, black - blue - cyan - green - yellow - red, for index 0..255.
Rgb rainbowColour(int index);

// A number from the mapping as a grey level: truncated toward zero and limited to 0..255; a value
// that is not a number (a degenerate clipping range) gives 0.
inline int toLevel(double value) {
    if (!(value > 0.0)) return 0;  // also NaN
    if (value >= 255.0) return 255;
    return static_cast<int>(value);
}

}  // namespace spectrum
