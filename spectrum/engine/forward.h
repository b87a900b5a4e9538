// The forward-transform command: frame sizing, the wrap-around test, mirror fill with the
// (-1)^(row + column) modulation that centres the zero frequency, the 2-D transform and the first
// display mapping.
#pragma once

#include "core/busy.h"
#include "core/message_sink.h"
#include "image/import.h"
#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

struct FramePlan {
    int exponent = 0;  // may reach 14, which the command refuses
    int n = 0;         // 2^exponent when exponent <= 13
    int offsetX = 0;
    int offsetY = 0;
};

// Reflects k into 0..length-1 about the half-sample points (period 2 * length).
int mirrorIndex(long long k, int length);

// True when the second differences across the left and top edges of the periodically continued
// picture stay within 3 grey levels.
bool edgesAreSeamless(const GreyPixels& pixels);

// The frame for an image of the given size. `seamless` is consulted only for square power-of-two
// images with useExpandedImage on.
template <typename SeamlessTest>
FramePlan planFrame(int width, int height, bool useExpandedImage, SeamlessTest seamless);

// The frame of the classic transform: mirror copies of the image around it, every sample times
// (-1)^(row + column) so that the zero frequency lands at (n/2, n/2). The fills below set the
// imaginary parts to zero; given a null `im` they leave them alone, for a real-input transform
// that never reads them.
void fillMirrorFrame(const GreyPixels& pixels, const FramePlan& plan, double* re, double* im);

// The frame without mirror ghosts: the image times a Hann window (sin^2 of pi (x + 1/2) / width
// across, the same down), zeros around it, with the same modulation.
void fillWindowedFrame(const GreyPixels& pixels, const FramePlan& plan, double* re, double* im);

// The Hann weight of sample i of a run of `length` samples.
double hannWeight(int i, int length);

// Replaces the spectrum by that of the other frame (kMirrorFrame or kWindowedFrame), made from
// the image the buffers kept. False (buffers unchanged) when there is no kept image or the
// transform fails.
bool retransformInFrame(SpectrumBuffers& buffers, int frame);

// Runs the whole forward command on the current picture, in the frame `settings.frame` chooses. On success the spectrum is in `buffers`,
// the picture holds its display mapping, and true is returned. Every failure is reported through
// `sink` (after the busy state ended) and leaves the picture and `buffers` empty/unchanged.
bool forwardTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      const SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy);

// The same for a source above 8 bits: `precise` (of the picture's size) enters the frame in place
// of the shown 8-bit rendering, which still gives the grey range for the inverse's brightness.
// With `precise` null this is the command above.
bool forwardTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      const SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy,
                      std::shared_ptr<const image::PreciseLevels> precise);

// The mirror and windowed frames filled from levels above 8 bits.
void fillMirrorFrame(const image::PreciseLevels& levels, const FramePlan& plan, double* re,
                     double* im);
void fillWindowedFrame(const image::PreciseLevels& levels, const FramePlan& plan, double* re,
                       double* im);

// The seamless-edge test on levels that are not 8-bit.
bool edgesAreSeamless(const image::PreciseLevels& levels);

// --- implementation of the template -----------------------------------------------------------

namespace detail {
int floorLog2AtLeast1(int value);
}

template <typename SeamlessTest>
FramePlan planFrame(int width, int height, bool useExpandedImage, SeamlessTest seamless) {
    FramePlan plan;
    if (useExpandedImage) {
        int bx = detail::floorLog2AtLeast1(width);
        int by = detail::floorLog2AtLeast1(height);
        const bool powersOfTwo = (width % (1 << bx)) == 0 && (height % (1 << by)) == 0;
        const bool unexpanded = powersOfTwo && bx == by && seamless();
        if (!unexpanded) {
            ++bx;
            ++by;
        }
        plan.exponent = bx > by ? bx : by;
        if (!unexpanded && plan.exponent < 14) {
            const int n = 1 << plan.exponent;
            if ((n - width) / 2 < 100 || (n - height) / 2 < 100) ++plan.exponent;
        }
    } else {
        const int side = width > height ? width : height;
        plan.exponent = 1;
        while (plan.exponent < 30 && (1 << plan.exponent) < side) ++plan.exponent;
    }
    if (plan.exponent <= 13) {
        plan.n = 1 << plan.exponent;
        plan.offsetX = (plan.n - width) / 2;
        plan.offsetY = (plan.n - height) / 2;
    }
    return plan;
}

}  // namespace spectrum
