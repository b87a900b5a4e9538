// The lattice spot finder.
//
// It looks at the power spectrum of the windowed frame (the image less its window-weighted mean,
// times a Hann window, zeros around it), so mirror ghosts are never reported whatever frame the
// display uses. The frame has the display's size n, so positions are in the same frame samples
// as the circles and the lattice mask: relative to the zero frequency, x to the right, y down.
//
// A spot is a local maximum of the power outside a central radius whose power exceeds
// (ln(width x height) + 10) times the background (the radially averaged power at its distance,
// with outliers trimmed): pure noise passes that test about once in 40000 images. Maxima on the
// window's leakage lines of a stronger spot (its row or column band, below 1/1000 of its power)
// are dropped, as is anything below 2e-5 of the strongest spot (what rounding to whole grey
// levels can make of a strong fringe). Each maximum is refined to sub-sample precision by a parabola through the log
// power of its neighbours across and down. A real image's spectrum is centro-symmetric, so each
// spot comes with its Friedel mate at -g.
//
// Memory: the transform is single precision and keeps only the half spectrum,
// 8 n (n/2 + 1) bytes (268 MB at n = 8192); the work is one real-input transform.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/localized.h"
#include "image/import.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

struct SpotOptions {
    int pairs = 8;            // at most this many Friedel pairs
    double minRadius = 0.0;   // frame samples; 0 = four window widths (4 n / min(width, height))
    // Calibration; none = work in 1/pixel. Pixels that are not square convert each frequency
    // component on its own axis (the positions and angles stay those seen in the spectrum).
    std::optional<image::PixelSize> pixelSizeNm;
};

struct Spot {
    int number = 0;  // 1-based; the mate of 2i+1 is 2i+2
    int mate = 0;
    Vec2 position;            // frame samples from the zero frequency
    double g = 0.0;           // |g| in 1/pixel, or 1/nm when calibrated
    double d = 0.0;           // 1/|g|: pixels, or nm
    double angleDegrees = 0;  // counter-clockwise from the x axis as seen, -180 .. 180
    double power = 0.0;       // |F|^2 at the maximum
    double significance = 0;  // power over the background at its distance
    // Half width at half maximum of the magnitude |F| in frame samples, from the curvature of
    // the parabola that refines the maximum (the mean across and down); 0 when the peak is flat.
    double halfWidth = 0.0;
};

enum class SpotStatus { kFound, kNoneFound, kNoMemory, kBadImage };

struct SpotResult {
    SpotStatus status = SpotStatus::kBadImage;
    int n = 0;
    std::vector<Spot> spots;  // strongest pair first
    bool haveBasis = false;
    Vec2 g1, g2;  // the shortest spot and the shortest one not on its line (angle <= 90 deg)
    double basisHalfWidth = 0.0;  // the mean halfWidth of the spots g1 and g2 (those above 0)
    double minRadius = 0.0;
};

// Finds the spots of `pixels` for a frame of size n.
SpotResult findSpots(const GreyPixels& pixels, int n, const SpotOptions& options);
// The same from a source's own levels above 8 bits ([min, max] -> [0, 255], never rounded); no
// background is taken below the rounding of the source's levels rather than the picture's.
SpotResult findSpots(const image::PreciseLevels& levels, int n, const SpotOptions& options);

// The search both the program and the CLI make over an opened picture: in the source's own levels
// when it has them (more than 8 bits) at the picture's size, otherwise in the 8-bit rendering.
SpotResult findSpots(const GreyPixels& picture, const image::PreciseLevels* precise, int n,
                     const SpotOptions& options);

// The lattice mask's radius that covers the basis spots: twice their mean half width at half
// maximum, in frame samples, rounded, at least kMinAutoRadius (and kMinAutoRadius without a basis
// or a width), at most n / 2.
inline constexpr int kMinAutoRadius = 3;
int autoLatticeRadius(const SpotResult& result);
// "Lattice mask radius: R samples (auto)", with its frequency in 1/nm when calibrated (along x
// for pixels that are not square), in the chosen language.
std::string autoRadiusLine(const SpotResult& result, const std::optional<image::PixelSize>& size);

// What the user is told when a search finds nothing (kNoneFound, kBadImage) or runs out of memory
// (kNoMemory); empty texts for kFound.
core::Localized spotStatusText(SpotStatus status);
// What the user is told when the spots found give no lattice basis.
core::Localized noBasisText();

// The spot list as CSV: a header row naming the columns, CR LF line ends.
std::string spotsCsv(const SpotResult& result, double nmPerPixel);

// The power spectrum of the windowed frame, half plane only: entry (row ky mod n, column kx) for
// kx = 0 .. n/2, as floats. Empty when the memory cannot be had. Exposed for the tests.
std::vector<float> windowedHalfPower(const GreyPixels& pixels, int n);
std::vector<float> windowedHalfPower(const image::PreciseLevels& levels, int n);

}  // namespace spectrum
