// The lattice mask and the soft (Gaussian) edges shared by every mask.
//
// A soft edge is the hard mask seen through a Gaussian blur of width sigma across the edge: a
// disc of radius R weighs 0.5 erfc((d - R) / (sqrt(2) sigma)) at distance d from its centre, so
// the weight is one half on the old edge and falls from 1 to 0 over a few sigma. Where several
// discs meet, the strongest weight counts (the union of the discs).
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "core/localized.h"
#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

// The weight of a soft disc; with sigma 0 the hard disc (1 strictly inside, else 0).
double softDisc(double dist, double radius, double sigma);

enum class LatticeCheck { kOk, kCollinear, kBadRadius, kTooManyPoints };

// At most this many lattice spots may fall inside the frame.
inline constexpr double kMaxLatticePoints = 200000;

// Checks a lattice for an n x n frame: the two vectors must be non-zero and at least a degree
// apart, the radius above 0 and at most n / 2, and the spots inside the frame no more than
// kMaxLatticePoints.
LatticeCheck checkLattice(const LatticeSettings& lattice, int n);
// The message that explains a failed check (English and Japanese).
core::Localized latticeCheckText(LatticeCheck check);

// Replaces (a, b) by the shortest basis of the same lattice (Lagrange-Gauss reduction), so the
// nearest lattice point to any place is among the nine around its rounded coordinates.
void reduceBasis(Vec2& a, Vec2& b);

// The weight of the lattice spots at frequency offset (fx, fy) from the zero frequency: the
// soft disc of the nearest lattice point. Cost per element is constant, whatever the number of
// spots.
class LatticeWeight {
  public:
    LatticeWeight(const LatticeSettings& lattice, double sigma);
    double operator()(double fx, double fy) const;

  private:
    Vec2 a_, b_;
    double inv00_, inv01_, inv10_, inv11_;  // fractional coordinates from (fx, fy)
    double radius_, sigma_;
};

// The centro-symmetric mate of a circle in picture pixels: the zero frequency lies at
// (n/2 - offsetX, n/2 - offsetY) of the picture.
MaskCircle symmetricMate(const MaskCircle& circle, int n, int offsetX, int offsetY);

// The lattice mask's discs as circles to draw on the spectrum picture (picture pixels, whose
// zero frequency lies at (n/2 - offsetX, n/2 - offsetY)): one per lattice point whose disc
// touches the width x height picture, centres and radius rounded to whole pixels (radius at
// least 1). Empty for a lattice that fails checkLattice.
std::vector<MaskCircle> latticeMaskCircles(const LatticeSettings& lattice, int n, int offsetX,
                                           int offsetY, int width, int height);

// Reads "x1,y1;x2,y2" (two vectors in frame samples, each number within +-100000, blanks
// around the numbers allowed) into g1 and g2; nothing when the text is anything else.
std::optional<std::pair<Vec2, Vec2>> parseBasisText(std::string_view text);

// Adds a circle drawn by the user and, with symmetric circles on, its mate (the caller has
// checked the room with canStartMaskCircle).
void addDrawnCircle(FilterSettings& filter, const MaskCircle& circle, const SpectrumBuffers& buffers);

// Takes back the last drawn circle; when the last two are a circle and its mate (symmetric
// circles on), both go, as one drag added both. False when there is none.
bool removeLastDrawnCircle(FilterSettings& filter, const SpectrumBuffers& buffers);

}  // namespace spectrum
