// Contrast and brightness in steps: a linear stretch about mid-grey 127.5 (10 levels a contrast
// step) followed by a shift of 10 levels a brightness step.
#pragma once

#include <optional>

#include "core/message_sink.h"
#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

inline constexpr int kMaxAdjustStep = 10;

// The grey level that level p becomes.
int adjustedLevel(int p, int contrastStep, int brightnessStep);

// The before-and-after preview square at the centre of the shown picture.
struct PreviewPlacement {
    int size = 96;  // 96, or 64 for a small shown picture
    int left = 0;   // client x
    int top = 0;    // client y offset below the icon bar
};
// Reports "Too small bitmap (less than 64W or 64H)!" when the shown picture is smaller than 64.
std::optional<PreviewPlacement> choosePreview(const image::ImageGeometry& geometry,
                                              int viewReduction, core::MessageSink& sink);

// Rewrites every pixel of the picture with the mapping; the colour table is kept.
bool adjustContrastBrightness(image::CurrentImage& image, const image::ImageGeometry& geometry,
                              int contrastStep, int brightnessStep);

}  // namespace spectrum
