// Layer slicing: the crystal cut into equally spaced planes perpendicular to the beam.
//
// Heights of all atom images within one repeat distance P are binned at P/10000, clustered
// within kTolerance, checked to form a regular ladder, and replaced by an equally spaced table,
// highest first. Plane n runs from the top (or from height 0 for a reversed direction) in the
// direction opposite to [u v w] as typed, so the numbering is the same for either sign.
//
// Paging: a page shows up to four planes; after drawing, nextPlane is the first plane of the
// next page (always a multiple of 4).
#pragma once

#include <optional>
#include <vector>

#include "crystal/engine/orientation.h"

namespace crystal {

namespace text {
inline constexpr const char* kTooManyLayersFound = "Number of layers may be wrong (too large).";
inline constexpr const char* kIrregularLayers =
    "Wrong layer distances between layers in calculation.";
inline constexpr const char* kTooManyLayers = "Too many layers (more than 1000) in calculation.";
}  // namespace text

// Builds the layer table from state.lattice, state.rotation and state.repeatDistance.
std::optional<Refusal> sliceLayers(SlicingState& state);

// Height of plane n (0 <= n <= layerCount; n = layerCount is plane 0 one repeat further).
double planeHeight(const SlicingState& state, int n);

// Signed depth of an image below plane 0, as the reference file lists it.
double depthOf(const SlicingState& state, double height);

// The atom images of planes 0..layerCount inside the drawing box, each plane's list in the order
// atom row, k3, k2, k1. Every image's height is computed once and assigned to its planes.
std::vector<std::vector<PlaneImage>> collectPlaneImages(const SlicingState& state);

// The same lists by scanning the whole box once per plane; kept to check the fast path.
std::vector<std::vector<PlaneImage>> collectPlaneImagesByScan(const SlicingState& state);

// nextPlane after a page whose last drawn plane is `lastDrawn`.
inline int pageAfter(int lastDrawn) {
    return (lastDrawn + 1 + 3) / 4 * 4;
}

}  // namespace crystal
