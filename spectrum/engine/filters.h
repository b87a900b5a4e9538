// Filters and masks applied to the spectrum before the inverse transform, and the special radial
// profile the user shapes point by point.
//
// Every frame element is multiplied by a weight in 0..1 chosen by the filter kind. Radii are
// measured from the zero frequency (n/2, n/2) in frame samples; the reference radius is half the
// diagonal of the image as opened.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/message_sink.h"
#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

// Multiplies both parts of every element of the frame by the weight of the current filter.
// Returns the weight given to the zero frequency (1 when the spectrum is left unchanged), which
// says how much of a constant offset of the image passes the filter.
double applyFilter(SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                   const FilterSettings& filter);
// The rows of the frame that may hold nonzero values: first .. first + count - 1.
struct NonzeroRows {
    int first = 0, count = 0;
};

// The same on columns 0 .. n/2 of the frame alone (all the real inverse of a centro-symmetric
// filter reads, see transform2dRealRows); the other columns are left as they are. Rows that the
// filter zeroes entirely (a hard-edged low-pass or band-pass: those beyond its outer radius) are
// not written either: `rows` receives the others, and the caller takes the rest as zeros.
double applyFilterToLeftHalf(SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                             const FilterSettings& filter, NonzeroRows& rows);

// True when the filter weighs every element as its centro-symmetric mate, so the inverse of a
// real image's spectrum stays real. Decided by kind: every radial filter, the lattice masks and
// the noise filters are; a circle set is when every circle's mate is in the set.
bool filterIsCentroSymmetric(const FilterSettings& filter, const SpectrumBuffers& buffers);

// True when every element's weight equals its mate's to the last bit, on the whole frame: the
// radial filters, whose distance from (n/2, n/2) is the same for (r, k) and (n - r, n - k) even
// on row and column 0, where the masks' mates fall outside the frame. Only then may the inverse
// read half the spectrum and take the rest for the mirror image of it.
bool filterWeighsMatesAlike(const FilterSettings& filter);

// --- the special profile ---

// The default profile entry i: 255 (1 - 3t^2 + 2t^3), t = i / 255, as stored text (5 significant
// digits) read back like a stored value.
double defaultSpecialValue(int index);
SpecialProfile defaultSpecialProfile();

// A stored profile value as the program keeps it: below 0 or not a number gives 0, above 255
// gives 255, anything else is cut to three decimals.
double clampProfileValue(double value);
double profileValueFromText(std::string_view text);

// The profile from the "Special Filter" section of an INI text (keys "0" to "255"); missing keys
// take the default.
SpecialProfile specialProfileFromIni(std::string_view iniText);
// The value text stored for entry i (general format, 6 significant digits).
std::string profileValueText(double value);
// The whole section as written, CR LF line ends.
std::string specialProfileIniSection(const SpecialProfile& profile);

// Recomputes every entry between control points (multiples of 15) by cubic Hermite
// interpolation with parabolic slopes, the profile mirrored at both ends.
void interpolateSpecialProfile(SpecialProfile& profile);
// Moves the selected control point by -15 or +15 within 0..255.
void stepSpecialPoint(FilterSettings& filter, int step);
// Changes the value at the selected control point by +10, +1, -1 or -10 when it stays in range,
// then interpolates. Returns true when it changed.
bool adjustSpecialPoint(FilterSettings& filter, int delta);

// --- mask circles ---

// True when another circle may be started; with kMaxMaskCircles drawn already it reports
// "Too many FFT masks!" and returns false; with symmetric circles a pair needs two places, so
// 99 circles refuse it too.
bool canStartMaskCircle(const FilterSettings& filter, core::MessageSink& sink);

}  // namespace spectrum
