// Orientation of the crystal along the beam, and the state of the last slicing computation.
//
// The checks and the orientation pass of a slicing run; the numbers of the lattice and the
// conversions between its frames are in lattice_geometry.h, the super cell search in cell.h.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "crystal/engine/crystal_model.h"
#include "crystal/engine/lattice_geometry.h"
#include "core/busy.h"
#include "core/message_sink.h"

namespace crystal {

inline constexpr double kSuperCellStart = 10000.0;
inline constexpr int kLayerTableSize = 1000;

// A refusal to be shown once the busy state has ended.
struct Refusal {
    std::string text;
    std::string caption;
    unsigned style = 0;
};

// One atom image that lies on a plane, in the order the selection rule meets it.
struct PlaneImage {
    int atom = 0;
    double planeX = 0, planeY = 0, height = 0;
};

struct SlicingState {
    Lattice lattice;
    Rotation rotation;
    double repeatDistance = 0;
    double superCellX = 0, superCellY = 0;
    bool superCellXFound = false, superCellYFound = false;
    std::array<double, kLayerTableSize> layerHeights{};  // highest first, then zeros
    int layerCount = 0;
    double layerSpacing = 0;
    // Atom images of every plane 0..layerCount (the last one is plane 0 one repeat further),
    // filled by a fresh computation and reused by page turns.
    std::vector<std::vector<PlaneImage>> planeImages;
    // Above 0: the repeat is cut into equal slabs of this thickness (Angstrom) wherever the
    // atoms sit, and each plane holds the atoms of the slab below it.
    double slabThickness = 0;
    // Set when the in-plane axes came from the periodic cell rather than the drawing box.
    bool periodicCell = false;
    double periodicStrain = 0;
    double periodicT1[3]{}, periodicT2[3]{};
    std::size_t periodicAtoms = 0;  // atoms in the periodic cell (one repeat deep)
};

// Choices of a slicing run beyond the crystal itself (all off by default).
struct SlicingOptions {
    bool periodicCell = false;  // choose the in-plane axes as the smallest periodic cell
    double maxStrain = 0.01;    // fraction, for a cell that can only be nearly periodic
    double sliceThickness = 0;  // above 0: equal slabs of about this thickness (Angstrom)
};

// The program's whole crystal state: the model, the last computation and the paging.
struct CrystalState {
    CrystalModel model = presetCrystal();
    SlicingOptions options;
    SlicingState slicing;
    int nextPlane = 0;        // first plane of the page after the one drawn last
    bool revisiting = false;  // a drawing pass that only re-displays
    bool freshComputation() const { return nextPlane == 0 && !revisiting; }
};

// The seams of a long computation: messages, the busy state (cursor, priority, topmost window,
// page buttons) and the please-wait box, which ends first.
struct Seams {
    core::MessageSink& sink;
    core::BusyIndicator& busy;
    core::BusyIndicator& waitBox;
};

long gcd(long a, long b);
long gcd3(long a, long b, long c);

// Plain conversion of the model's texts (no checks); the writers repeat it on their own.
Lattice latticeOf(const CrystalModel& model);


// Steps before the busy state: lattice and direction checks, lowest terms (the model's u, v, w
// texts are rewritten), the atom count, the one-third replacement and duplicate positions.
std::optional<Refusal> checkCrystal(CrystalModel& model, Lattice& lattice);

// Sign normalisation and the rotation mode (the part each file writer repeats).
std::optional<Refusal> orientToBeam(Lattice& lattice, Rotation& rotation);

// Carries a periodic cell's turn about the beam over to a fresh orientation of the same crystal.
inline void keepTurn(Rotation& rotation, const Rotation& from) {
    rotation.turned = from.turned;
    rotation.cosPsi = from.cosPsi;
    rotation.sinPsi = from.sinPsi;
}

// The reference atom translated by [u v w]: its height must lie on the beam axis.
std::optional<Refusal> measureRepeatDistance(const Lattice& lattice, const Rotation& rotation,
                                             double& repeatDistance);

// Whether two orientation passes found the same numbers (lattice, direction, sites, rotation),
// so that atom images collected for one hold for the other.
bool sameOrientation(const Lattice& p, const Rotation& r, const Lattice& q, const Rotation& s);



// Texts of the refusals, shared with the tests.
namespace text {
inline constexpr const char* kNoSuchCrystal = "Such a crystal may not exist on the earth.";
inline constexpr const char* kZeroDirection = "u=v=w=0 is not allowed.";
inline constexpr const char* kTooManyAtoms = "Too many atom positions.";
inline constexpr const char* kSameCoordinates = "Two (or, more) atoms have same coordinates.";
inline constexpr const char* kWrongRotation = "Wrong calculation for the rotated coordinates.";
inline constexpr const char* kNoSuperCell =
    "Unable to determine the super cell rectangle.\nSorry, this data cannot be utilized.";
}  // namespace text

}  // namespace crystal
