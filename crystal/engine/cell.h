// Cell finding: whether a vector is a translation of the whole crystal, and the periodic cell
// of the plane perpendicular to the beam.
//
// A super cell edge must be a period of every atom, not only of the reference element's plane: a
// reference atom at a bond length, or a plane that repeats at half the period of the next one,
// gives a cell that a periodic simulation would silently get wrong.
#pragma once

#include <optional>
#include <string>

#include "core/localized.h"
#include "crystal/engine/orientation.h"

namespace crystal {

// The super cell rule for one image of the reference atom's element on the first plane: a
// candidate edge is taken when it is shorter than the one held and a translation of the crystal.
void searchSuperCell(SlicingState& state, const BeamPoint& image);

// True when shifting every site of the cell by the vector from row 0 to `image` lands, modulo
// lattice translations, on a site of the same element within kTolerance.
bool isCrystalTranslation(const Lattice& lattice, const Rotation& rotation, const BeamPoint& image);
bool isFractionalTranslation(const Lattice& lattice, const Vec3& shift);

// The periodic cell chosen by the program instead of the drawing box's search: two perpendicular
// crystal translations of the plane perpendicular to the beam (in lattice steps), the turn about
// the beam that lays them along the in-plane axes, and the strain when they are only nearly so.
struct PeriodicCell {
    double x = 0, y = 0;      // edge lengths, Angstrom (the strained cell's)
    double t1[3]{}, t2[3]{};  // the edges as fractional translations
    double strain = 0;        // largest relative change that makes the cell exact, 0..1
    double cosPsi = 1, sinPsi = 0;
};

// The smallest cell with a strain of at most maxStrain (a fraction); nullopt when none is found
// among lattice translations of up to `reach` steps along each axis.
std::optional<PeriodicCell> findPeriodicCell(const Lattice& lattice, const Rotation& rotation,
                                             double maxStrain, int reach = 12);

// Puts the cell's axes into the state: the turn about the beam and the super cell edges.
void applyPeriodicCell(const PeriodicCell& cell, SlicingState& state);

namespace text {
inline constexpr core::Localized kNoPeriodicCell{
    "No periodic cell perpendicular to the beam was found within the strain limit.",
    "ひずみの上限内でビームに垂直な周期セルが見つかりませんでした。"};
// The info line's addition for a periodic cell: its size in unit cells, atoms and strain.
inline constexpr core::Localized kPeriodicInfo{
    "  Periodic cell: %.4g unit cells, %lu atoms, strain %.3g%%",
    "  周期セル: 単位格子 %.4g 個分、原子 %lu 個、ひずみ %.3g%%"};
}  // namespace text

}  // namespace crystal
