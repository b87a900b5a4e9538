// The values the spectrum program's dialogs show and accept, kept apart from the dialogs so that
// they are tested natively: number boxes, the frequency lists and the special-profile graph.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "image/import.h"
#include "spectrum/engine/overlays.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

// The text of a number box: whole numbers without a decimal point, others with up to eleven
// decimals and no trailing zeros (10 -> "10", 12.5 -> "12.5", 0.99 -> "0.99", 0 -> "0").
std::string formatEditNumber(double value);

// A number box's text when the whole of it is a number within 1..10000; otherwise nothing.
std::optional<double> parseEditNumber(std::string_view text);
inline constexpr int kEditNumberChars = 8;  // typed characters allowed
inline constexpr int kEditNumberRead = 25;  // characters read back

// The frequency lists wa and wb: 1001 entries 0.000 .. 1.000.
inline constexpr int kFrequencyEntries = 1001;
std::string frequencyEntryText(int index);
// The entry shown for a value (nearest thousandth, limited to the list).
int frequencyEntryIndex(double value);

// The spatial frequency and d-spacing of a filter fraction w of a calibrated image: the circle of
// radius w x R frame samples (R half the image's diagonal) lies at w R / (n x pixel size) per nm
// (the x size for pixels that are not square). "1.953 1/nm, d = 0.5120 nm", four significant
// digits; "0 1/nm" for w = 0; "" without a calibration or a frame.
std::string fractionFrequencyText(double fraction, int width, int height, int n,
                                  const std::optional<image::PixelSize>& pixelSizeNm);

// The lists of the line-wave settings and the brightness levels.
inline constexpr int kAngleEntries = 181;     // -90 .. 90
inline constexpr int kAveragingEntries = 16;  // 1, 3, .. 31
inline constexpr int kZoomEntries = 101;      // 100 .. 200
inline constexpr int kLevelEntries = 101;     // Dark 0..100, Bright 155..255
inline constexpr int kBrightBase = 155;

// What the Dark and Bright lists show while the original brightness is kept: the image's own
// range where it fits the list, else the level itself.
struct ShownLevels {
    int dark = 0, bright = 0;
};
ShownLevels levelsShownWhenKept(const BrightnessSettings& brightness, int imageMin, int imageMax);

// The special-profile graph, relative to the top-left corner (L, T) of its white rectangle.
struct ProfileGraph {
    std::vector<Point> polyline;  // the profile
    int dotLeft = 0, dotTop = 0;  // bounding box of the selected point's dot (5 x 5)
    int dotRight = 0, dotBottom = 0;
};
ProfileGraph profileGraph(const SpecialProfile& profile, int selectedPoint);

}  // namespace spectrum
