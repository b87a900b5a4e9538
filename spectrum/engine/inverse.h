// The inverse-transform command: weight the spectrum by the current filter, transform back, and
// stretch the magnitudes over the image window to a brightness range. The spectrum is consumed.
#pragma once

#include "core/busy.h"
#include "core/message_sink.h"
#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

// Writes the filtered image into the current picture (grey colour table) and frees the spectrum.
// On a transform failure the spectrum is freed too, the message comes after the busy state ended,
// and the picture is unchanged. The mask circles are emptied in every outcome.
bool inverseTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy);

}  // namespace spectrum
