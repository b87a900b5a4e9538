// Frames above the full-frame limit (8192 by default, a setting): the forward and inverse
// commands on the half spectrum of the real frame (see GridPlan and HalfSpectrum).
//
// Storage: double precision when it fits the memory the process can still take, else single;
// Precision::Single or ::Double forces one. Before allocating, the need (the half spectrum, the
// transform's scratch, the kept image and the restoration's rows) is compared with
// core::availableMemory(); when it will not fit the command refuses with a message naming both
// and suggesting binning, rather than failing half way or swapping.
//
// Frame: the mirror frame where the frame sizing allows it; else the windowed frame for the
// display, readout and spot finder, and for the filters and the inverse the image zero-padded
// without a window in the same frame.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/busy.h"
#include "core/message_sink.h"
#include "image/import.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

// Bytes the big-frame transform of a width x height image in an n x n frame needs, beyond the
// image already held.
std::uint64_t bigGridNeed(int n, bool single, int width, int height);

// Without a stated precision, double is kept only while the whole job (what the image already
// holds, `held` bytes, plus the transform's need) stays within this: above it a 32768 frame of a
// full-precision image would take about 15 GiB in double, 10 in single.
constexpr std::uint64_t kBigGridDoubleBudget = std::uint64_t{12} << 30;

// The storage for the frame: false with `single` untouched when even the allowed storage does
// not fit `available` (no answer: double when it fits `available` and the budget above, else
// single).
bool chooseBigGridStorage(int n, int width, int height, Precision precision,
                           std::optional<std::uint64_t> available, std::uint64_t held,
                           bool& single);

// The refusal when the memory is short: "... needs X MiB, Y MiB are available ... bin by 2".
std::string bigGridMemoryText(int n, std::uint64_t need, std::uint64_t available);

// One line on what the frame is: its size, the frame kind, the storage.
std::string bigGridNote(const SpectrumBuffers& buffers);

// The refusal of a circle set without its mates above the full-frame limit.
std::string halfSpectrumCirclesText(int fullFrameLimit);

// The forward command for plan.half (called by forwardTransform once the plan is known).
bool forwardBigGrid(image::CurrentImage& image, const image::ImageGeometry& geometry,
                     const SpectrumSettings& settings, SpectrumBuffers& buffers,
                     core::MessageSink& sink, core::BusyIndicator& busy,
                     const std::shared_ptr<const image::PreciseLevels>& precise,
                     const GreyPixels& pixels, const GridPlan& plan);

// retransformInGrid for a half spectrum: false (buffers unchanged) when asked for the mirror
// frame of an image too large for it; false (buffers released) when the transform fails.
bool retransformBigGrid(SpectrumBuffers& buffers, int frame);

// The inverse command on a half spectrum (called by inverseTransform).
bool inverseBigGrid(image::CurrentImage& image, const image::ImageGeometry& geometry,
                     SpectrumSettings& settings, SpectrumBuffers& buffers, core::MessageSink& sink,
                     core::BusyIndicator& busy, InverseParts* parts, RestoredImage* restored);

}  // namespace spectrum
