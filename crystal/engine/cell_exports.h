// Simulation input for any multislice program: the periodic cell as an atom list.
//
// The cell is the super cell X x Y and one repeat distance along the beam: x along the in-plane
// X axis, y along Y, z the depth below plane 0 in the direction the beam travels. (x, y, z) is
// always a right-handed image of the crystal: where the plane frame's height runs along +[u v w]
// (u >= 0), against the depth, y is written as (Y - y) mod Y (a strained cell's fraction g2 as
// 1 - g2), since the plane frame with the depth would be a mirror image. Every atom
// with 0 <= x < X, 0 <= y < Y and 0 <= z < repeat (within kTolerance) is listed once, so the
// count is the cell's volume times the crystal's number density. A strained periodic cell lists
// instead the atoms of the parallelepiped of its two lattice edges and the repeat, mapped onto the
// rectangle (fractions of the edges times X, Y and the repeat): one period of the strained crystal.
//
// - prismatic layout: a comment line, "X Y Z" of the cell, rows "Z x y z occupancy u_rms",
//   and "-1" last;
// - extended XYZ: the atom count, a line with Lattice, Properties and pbc, then the rows.
//
// Occupancy and the RMS displacement u_rms = sqrt(U_iso) come from the CIF import when the row is
// still the imported one; otherwise 1 and 0.076 Angstrom.
#pragma once

#include <string>
#include <vector>

#include "core/localized.h"
#include "core/message_sink.h"
#include "crystal/engine/cif_reader.h"
#include "crystal/engine/orientation.h"

namespace crystal {

struct CellAtom {
    int z = 0;
    std::string symbol;
    double x = 0, y = 0, depth = 0;
    double occupancy = 1.0, rms = kDefaultRmsDisplacement;
};

struct CellContent {
    double x = 0, y = 0, repeat = 0;
    std::vector<CellAtom> atoms;
};

// The atoms of the periodic cell of a state whose orientation, layer table and super cell are set.
CellContent periodicCellContent(const CrystalModel& model, const std::vector<SiteExtras>& extras,
                                const SlicingState& state);

// Copies of the cell nx x ny x nz times, the cell growing with them.
CellContent tiled(const CellContent& cell, int nx, int ny, int nz);

std::string prismaticText(const CellContent& cell, const std::string& comment);
std::string extendedXyzText(const CellContent& cell, const std::string& comment);

// The cell files as kestral-cli (--xyz, --extxyz) and the program's Save File write them, so the
// same crystal and direction give the same bytes from either.
enum class CellFormat { Prismatic, ExtendedXyz };
struct Tiling {
    int nx = 1, ny = 1, nz = 1;
};
// The comment line: the direction and the tiling.
std::string cellComment(const CrystalModel& model, const Tiling& tiling);
// Writes the cell, already tiled, in one format and says so through the sink (or that the file
// could not be made).
bool writeCellFile(const std::string& path, const CellContent& tiled, CellFormat format,
                   const std::string& comment, core::MessageSink& sink);

inline constexpr core::Localized kNoCellForExport{
    "Unable to write the periodic cell: no super cell was found.",
    "周期セルを書き出せません: スーパーセルが見つかりませんでした。"};

}  // namespace crystal
