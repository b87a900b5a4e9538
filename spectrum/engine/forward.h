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

// Frames up to the full-frame limit (8192 by default) keep the whole complex spectrum. Above it,
// up to two more doublings, the frame keeps the half spectrum of its real frame: the mirror
// frame when the frame sizing gives one doubling more (at the default limit, sides up to 16184
// with margins), else the windowed frame of the smallest power of two not below the longer side,
// whose filters and inverse act on the image zero-padded without a window. Beyond that n is 0
// and the command refuses the image as too large.
struct GridPlan {
    int exponent = 0;  // of the frame sizing; of the windowed frame when windowedOnly
    int n = 0;         // 2^exponent, or 0 when refused
    int offsetX = 0;
    int offsetY = 0;
    bool half = false;          // above the full-frame limit: half spectrum storage
    bool windowedOnly = false;  // too large for the mirror frame
};

// Reflects k into 0..length-1 about the half-sample points (period 2 * length).
int mirrorIndex(long long k, int length);

// True when the second differences across the left and top edges of the periodically continued
// picture stay within 3 grey levels.
bool edgesAreSeamless(const GreyPixels& pixels);

// The frame for an image of the given size. `seamless` is consulted only for square power-of-two
// images with useExpandedImage on. `fullFrameLimit` is clamped to 64..8192 and rounded down to a
// power of two.
template <typename SeamlessTest>
GridPlan planGrid(int width, int height, bool useExpandedImage, SeamlessTest seamless,
                    int fullFrameLimit = kFullFrameLimit);

// The frame of the classic transform: mirror copies of the image around it, every sample times
// (-1)^(row + column) so that the zero frequency lands at (n/2, n/2). The fills below set the
// imaginary parts to zero; given a null `im` they leave them alone, for a real-input transform
// that never reads them.
void fillMirrorGrid(const GreyPixels& pixels, const GridPlan& plan, double* re, double* im);

// The frame without mirror ghosts: the image times a Hann window (sin^2 of pi (x + 1/2) / width
// across, the same down), zeros around it, with the same modulation.
void fillWindowedGrid(const GreyPixels& pixels, const GridPlan& plan, double* re, double* im);

// The Hann weight of sample i of a run of `length` samples.
double hannWeight(int i, int length);

// Replaces the spectrum by that of the other frame (kMirrorFrame or kWindowedFrame), made from
// the image the buffers kept. False (buffers unchanged) when there is no kept image or the
// transform fails.
bool retransformInGrid(SpectrumBuffers& buffers, int frame);

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
void fillMirrorGrid(const image::PreciseLevels& levels, const GridPlan& plan, double* re,
                     double* im);
void fillWindowedGrid(const image::PreciseLevels& levels, const GridPlan& plan, double* re,
                       double* im);

// The seamless-edge test on levels that are not 8-bit.
bool edgesAreSeamless(const image::PreciseLevels& levels);

// --- implementation of the template -----------------------------------------------------------

namespace detail {
int floorLog2AtLeast1(int value);
}

template <typename SeamlessTest>
GridPlan planGrid(int width, int height, bool useExpandedImage, SeamlessTest seamless,
                    int fullFrameLimit) {
    int full = 6;  // exponent of the full-frame limit
    while (full < 13 && (2 << full) <= fullFrameLimit) ++full;
    const int side = width > height ? width : height;
    int sideExponent = 1;  // the smallest k >= 1 with 2^k >= side
    while (sideExponent < 30 && (1 << sideExponent) < side) ++sideExponent;
    GridPlan plan;
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
        if (!unexpanded && plan.exponent < 30) {
            const long long n = 1LL << plan.exponent;
            if ((n - width) / 2 < 100 || (n - height) / 2 < 100) ++plan.exponent;
        }
        if (plan.exponent > full + 1 && sideExponent <= full + 2) {
            // (never back into the full frames, whose spectrum is always of the mirror frame)
            plan.exponent = sideExponent > full + 1 ? sideExponent : full + 1;
            plan.windowedOnly = true;
        }
    } else {
        plan.exponent = sideExponent;
    }
    if (plan.exponent <= full + 2) {
        plan.n = 1 << plan.exponent;
        plan.half = plan.exponent > full;
        plan.offsetX = (plan.n - width) / 2;
        plan.offsetY = (plan.n - height) / 2;
    }
    return plan;
}

}  // namespace spectrum
