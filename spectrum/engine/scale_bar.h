// A scale bar for a spectrum picture: a round length of spatial frequency in 1/nm, drawn with its
// label in the picture's bottom-right corner, as the inset of an HRTEM figure carries one.
//
// One pixel of the picture of an S-sample spectrum is 1 / (S x pixel size) per nm across (the
// pixel's x size for pixels that are not square, the bar being horizontal). The bar is the
// longest length of 1, 2 or 5 times a power of ten that spans at most a quarter of the width,
// so it spans between a tenth and a quarter of it.
#pragma once

#include <optional>
#include <string>

#include "image/import.h"
#include "image/packed_dib.h"

namespace spectrum {

struct ScaleBar {
    double length = 0;  // 1/nm
    int pixels = 0;     // picture pixels the bar spans
    std::string label;  // "5 1/nm", "0.2 1/nm"
};

// The largest of 1, 2 or 5 times a power of ten that is not above `limit` (> 0 and finite);
// `decimals` is then the number of digits it needs after the point (0 from 1 up).
double roundLengthAtMost(double limit, int* decimals = nullptr);

// The bar for the picture of a spectrum of side `side`; nothing without a calibration.
std::optional<ScaleBar> chooseScaleBar(int side,
                                       const std::optional<image::PixelSize>& pixelSizeNm);

// Draws the bar and its label into an 8-bit picture (rows bottom first, with its colour table)
// on a panel of the table's darkest entry, in its brightest entry; the rest of the picture is
// left as it was. Glyphs and strokes grow with the side (once per 256 pixels).
void drawScaleBar(image::CurrentImage& picture, const ScaleBar& bar);

}  // namespace spectrum
