// The spectrum of a square region of the image, for the live view that follows a box dragged
// over the picture and for `--box` of the command-line tool.
//
// The box's own levels (the 8-bit picture, or the source's levels for a source above 8 bits)
// are weighted by the window sin^2(pi (i + 1/2) / S) across and down and transformed in a frame
// of exactly the box's side S: no padding, no mirror copies, the mean kept. The (-1)^(row +
// column) modulation puts the zero frequency at (S/2, S/2), as the main spectrum has it.
#pragma once

#include <complex>
#include <memory>
#include <optional>
#include <vector>

#include "core/localized.h"
#include "image/import.h"
#include "image/packed_dib.h"
#include "spectrum/engine/spectrum_state.h"
#include "spectrum/engine/spot_finder.h"

namespace spectrum {

// The sides a box may have, in image pixels.
inline constexpr int kBoxSides[] = {64, 128, 256, 512, 1024};
inline constexpr int kDefaultBoxSide = 256;
bool isBoxSide(int side);

// A box by its top-left image pixel (0-based, x from the left, y from the top) and its side.
struct Box {
    int x = 0, y = 0, side = 0;
    bool operator==(const Box&) const = default;
};

// True when the whole box lies on an image of the given size.
bool boxInside(const Box& box, int width, int height);

// The box moved as far as needed to lie on the image (the box is not larger than the image).
Box clampBox(Box box, int width, int height);

// The texts of the refusals: a side that is not offered, a box larger than the image, a box
// leaving the image.
core::Localized boxSideText();
core::Localized boxTooLargeText();
core::Localized boxOutsideText();

// The box's complex spectrum: S x S values, row r at index r * S, zero frequency at (S/2, S/2).
struct BoxSpectrum {
    int side = 0;
    std::vector<double> real, imag;
    std::complex<double> at(int row, int column) const {
        const std::size_t i = static_cast<std::size_t>(row) * side + column;
        return {real[i], imag[i]};
    }
};

// The view of the box's pixels inside the picture (no copy), and the box's levels copied from
// the source's levels.
GreyPixels boxPixels(const GreyPixels& picture, const Box& box);
image::PreciseLevels boxLevels(const image::PreciseLevels& levels, const Box& box);

// Transforms the box of `picture` (or of `precise` when given). False when the box does not lie
// on the picture, its side is not offered, or memory is short.
bool boxSpectrum(const GreyPixels& picture, const image::PreciseLevels* precise, const Box& box,
                 BoxSpectrum& out);

// The display mapping of the box's spectrum, as FFT Mode's settings map the main spectrum, into
// an S x S 8-bit picture whose information header follows `like` (the opened picture's). The
// spectrum is handed over (the mapping works on the buffers it becomes) and is empty after.
// Returns the mapping's result: 0, or 1 for a flat spectrum (nothing written).
int mapBoxSpectrum(BoxSpectrum&& spectrum, const DisplaySettings& display,
                   const image::CurrentImage& like, image::CurrentImage& picture,
                   image::ImageGeometry& geometry);

// The spot finder on the box: positions in samples of the box's frame of side S.
SpotResult findBoxSpots(const GreyPixels& picture, const image::PreciseLevels* precise,
                        const Box& box, const SpotOptions& options);

// The box cut out of the image shown, as "Transform this region" makes it: the same picture and
// levels the program makes on opening a file of the box's samples, such as `voralin00-cli region`
// writes. An 8-bit picture gives its own pixels. A source above 8 bits gives its samples taken
// back from its levels (exact for integer samples, floats to a few units in the last place of
// the source's range), rendered and levelled anew over the box; the source's description (type,
// pixel size...) stays, as one image of its own.
struct Region {
    image::CurrentImage picture;  // viewReduction 1
    image::ImageGeometry geometry;
    std::optional<image::GreyImage> source;  // without samples; none for a bitmap
    std::shared_ptr<const image::PreciseLevels> precise;
};
std::optional<Region> cropRegion(const image::CurrentImage& picture,
                                 const image::ImageGeometry& geometry,
                                 const std::optional<image::GreyImage>& source,
                                 const image::PreciseLevels* precise, const Box& box);

}  // namespace spectrum
