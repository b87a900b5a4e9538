// The inverse-transform command: weight the spectrum by the current filter, transform back, and
// stretch the result over the image window to a brightness range. The spectrum is consumed.
//
// What is stretched: for a centro-symmetric filter (filterIsCentroSymmetric) the filtered image
// itself, with its sign (the real part, modulation removed); for a circle set without its mates
// the magnitude of the complex result, the local amplitude of the kept spots.
#pragma once

#include <vector>

#include "core/busy.h"
#include "core/message_sink.h"

#include "image/import.h"
#include "image/packed_dib.h"

#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

// Writes the filtered image into the current picture (grey colour table) and frees the spectrum.
// On a transform failure the spectrum is freed too, the message comes after the busy state ended,
// and the picture is unchanged. The mask circles are emptied in every outcome.
bool inverseTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      SpectrumSettings& settings, SpectrumBuffers& buffers, core::MessageSink& sink,
                      core::BusyIndicator& busy);

// What the inverse can hand back besides the picture, over the image window (top row first,
// the (-1)^(row + column) modulation removed): the real part of the filtered frame, and the
// removed part, the inverse of the spectrum weighted by one minus the filter. By linearity the
// removed part is the mirror frame less the filtered one, so it costs no second transform.
// Both are in levels: the 8-bit source's grey values, or for a source above 8 bits its samples
// mapped onto 0..255; level l stands for the sample sourceMinimum + sourceSpan x l.
struct InverseParts {
    int width = 0, height = 0;
    std::vector<double> filtered;
    std::vector<double> removed;
    double zeroWeight = 1.0;  // the filter's weight at the zero frequency
    double sourceMinimum = 0.0;
    double sourceSpan = 1.0;
};

// The same command; when `parts` is given it is filled on success. A spectrum of the windowed
// frame is first replaced by that of the mirror frame (the filtered image is never vignetted).
bool inverseTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      SpectrumSettings& settings, SpectrumBuffers& buffers, core::MessageSink& sink,
                      core::BusyIndicator& busy, InverseParts* parts);

// The grey level of value m with the values mmin..mmax (mmax > mmin) stretched to lo..hi:
// lo + (m - mmin)(hi - lo) / (mmax - mmin) + 0.000001, truncated toward zero and limited to
// 0..255. Written from lo, so a flat result (mmax = mmin + 0.000001) gives lo itself.
int restoredLevel(double m, double mmin, double mmax, double lo, double hi);

// Writes the removed part into the picture as 8-bit grey, its range stretched to 0..255 (a part
// that is the same everywhere shows as 128).
void renderRemovedPart(const InverseParts& parts, image::CurrentImage& image,
                       const image::ImageGeometry& geometry);

// The filter applied to the source's samples (top row first), single precision: with l the
// filtered level and w0 the filter's weight at the zero frequency, w0 x sourceMinimum +
// sourceSpan x l. A low-pass keeps the samples' offset, a high-pass removes it. The brightness
// settings of the picture do not enter.
struct RestoredImage {
    int width = 0;
    int height = 0;
    std::vector<float> values;
};

// The removed part in the source's units (top row first), single precision, the form the float
// TIFF writer takes: sourceSpan x removed + (1 - w0) x sourceMinimum, so that it and the
// filtered samples add up to the source.
RestoredImage removedPartValues(const InverseParts& parts);

// The command that also fills `restored` when it is given; the picture written is the same.
bool inverseTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy, InverseParts* parts,
                      RestoredImage* restored);

}  // namespace spectrum
