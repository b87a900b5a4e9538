// The rotationally averaged power spectrum, and the two filters whose noise floor it gives:
//
//  - the average background subtraction filter: weight max(0, P - c N(|g|)) / P, where P is the
//    power of the element and N the radially averaged power at its distance (the background);
//  - the Wiener filter: weight S / (S + c N(|g|)), where the signal power S = max(0, <P> - c N)
//    and <P> is the power averaged over the (2h + 1) x (2h + 1) elements around the element,
//    the box wrapping around the frame's edges (so both weights are centro-symmetric).
//
// c is the noise scale and h the smoothing half-width of NoiseFilterSettings (at most
// (n - 1) / 2). An element whose power and floor are both zero gets weight 0. The zero
// frequency keeps weight 1 in both: the image's mean is signal, never background. Distances
// are counted from (n/2, n/2) in frame samples and binned to the nearest whole sample:
// bin j = floor(d + 0.5).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

struct RadialProfile {
    int n = 0;                   // frame size: |g| of bin j is j / n per pixel
    std::vector<double> power;   // mean |F|^2 of bin j
    std::vector<long long> count;
};

// Every bin up to the frame's corner (floor(n / sqrt 2 + 0.5)).
RadialProfile radialProfile(const SpectrumBuffers& buffers);

// The profile as CSV up to the sampling limit (bin n/2): a header row, then bin, |g| per pixel
// (and per nm when nmPerPixel > 0), mean power, count. CR LF line ends.
std::string radialProfileCsv(const RadialProfile& profile, double nmPerPixel);

// The cursor readout of the profile's plot at `bin` (a fractional bin, |g| = bin / n per pixel):
// |g|, d (in nm when nmPerPixel > 0, else pixels) and the mean power of the nearest bin, in the
// chosen language; "" outside 0 .. n/2.
std::string radialReadoutText(const RadialProfile& profile, double bin, double nmPerPixel);

// A rotational average in 1/nm needs square pixels. For a calibration whose pixels are not
// square, the message saying the profile is given in 1/pixel only (in the chosen language);
// "" for square pixels or no calibration.
std::string radialNotSquareText(const std::optional<image::PixelSize>& pixelSizeNm);

// Multiplies the spectrum by the Wiener (wiener = true) or average-background weights.
void applyNoiseFilter(SpectrumBuffers& buffers, const NoiseFilterSettings& settings, bool wiener);

// A small line plot of log10(power) against |g| as a 24-bit picture (rows top first, RGB).
struct Plot {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};
Plot plotRadialProfile(const RadialProfile& profile, int width, int height);

}  // namespace spectrum
