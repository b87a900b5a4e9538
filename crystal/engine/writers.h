// Input files of the external multislice simulation program.
//
// All three share one selection: for every plane in order, every atom image of the drawing box
// (atom row, then k3, k2, k1) within kTolerance of the plane and inside the super cell
// [-tol, 1 - tol] in reduced coordinates rx = planeX / superCellX, ry = planeY / superCellY.
//
// - reference data: a readable listing of every plane, with a dashed line for an empty one;
// - normal beam: one file per occupied plane (stem1.dat, stem2.dat, ...); a plane followed by
//   empty ones carries their thickness;
// - convergent beam: one atom list (xyz), ended by "-1" and the first atom's periodic image.
//
// Each writer repeats the orientation from the model's texts, builds the whole content in
// memory, then writes it; a file that cannot be written completely is removed and reported.
#pragma once

#include <string>
#include <vector>

#include "crystal/engine/orientation.h"

namespace crystal {

namespace text {
inline constexpr const char* kNoDataFile = "Unable to make a data file,\nbecause of wrong data.";
inline constexpr const char* kCannotCreate = "Unable to create a data file.";
}  // namespace text

using PlaneLists = std::vector<std::vector<PlaneImage>>;

// Contents, for a state whose orientation, layer table and super cell are set.
std::string referenceDataText(const CrystalModel& model, const SlicingState& state,
                              const PlaneLists& planes);
// The surviving slice files in order 1..m.
std::vector<std::string> normalBeamTexts(const CrystalModel& model, const SlicingState& state,
                                         const PlaneLists& planes);
std::string convergentBeamText(const CrystalModel& model, const SlicingState& state,
                               const PlaneLists& planes);

// The element list of the slice files: distinct atomic numbers ascending, the reference atom's
// first. Atomic numbers compare as numbers, so a text such as "14." still finds its element.
std::vector<int> elementList(const CrystalModel& model);

// The three commands. Each refuses without a super cell, works inside the busy state and reports
// success or failure through the sink.
bool writeReferenceData(CrystalState& state, const std::string& path, const Seams& seams);
bool writeNormalBeamFiles(CrystalState& state, const std::string& path, const Seams& seams);
bool writeConvergentBeamFile(CrystalState& state, const std::string& path, const Seams& seams);

// Name of slice or page file k: the number goes before the extension of the file name ("p.bmp"
// gives "p1.bmp", "run.v2/p" gives "run.v2/p1"); stem + number + suffix.
std::string numberedName(const std::string& path, int k);
void splitNumberedName(const std::string& path, std::string& stem, std::string& suffix);

}  // namespace crystal
