// Crystal structures from CIF files: the asymmetric unit, expanded to the full unit cell.
//
// The symmetry comes from the listed operations when the file has them, else from the Hall
// symbol, else from the Hermann-Mauguin symbol (a bare symbol of a group with two origin choices
// is read as origin choice 1); listed operations are checked (coefficients -1, 0, 1, shifts in
// 1/24) before use, and more than 192 are refused. A coordinate as read is put on a multiple of
// 1/12 or 1/8 when the CIF's rounding cannot tell them apart (within half a unit in its last
// decimal, at most 0.0015), in the CIF's own frame, before anything else. Each site is then
// expanded, the expansion stopping as soon as the cell holds more than 100 atoms; positions closer
// than 0.03 Angstrom are merged (the site with the larger occupancy keeps a shared position);
// everything is wrapped into [0, 1), and all sites are shifted so that the reference atom sits at
// the origin and becomes row 0. A cell with alpha or beta above 90 degrees is brought to the
// equivalent setting with two axes reversed. After the read, arithmetic only loses its floating
// noise (within 1e-9 of a multiple of 1/24); no position is moved.
//
// Occupancy and the thermal parameter have no place in the model; they are kept beside it in
// one SiteExtras row per model row, for the exports that carry them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_sink.h"
#include "crystal/engine/crystal_model.h"

namespace crystal {

// The default thermal displacement (RMS, Angstrom) of a site without one.
inline constexpr double kDefaultRmsDisplacement = 0.076;

struct SiteExtras {
    std::string label;            // the CIF label of the site the row came from
    std::string symbol, x, y, z;  // the row as imported, to tell whether it still holds
    double occupancy = 1.0;
    double uIso = -1.0;  // isotropic displacement parameter, Angstrom^2; negative when none
};

struct CifImport {
    CrystalModel model;  // lattice and rows; u, v, w left empty
    std::vector<SiteExtras> extras;
    std::vector<std::string> notes;  // what the import assumed or changed, one line each
    // Per note: a warning (an assumption or a change the user should know of: origin choice,
    // no symmetry, reversed axes, shared positions, unknown occupancy, a count that disagrees
    // with the formula) rather than information (the symmetry used, the reference atom, the
    // atom count, snapped sites), which a quiet caller may leave out.
    std::vector<bool> noteIsWarning;
    std::string symmetrySource;      // where the operations came from, for the notes
    int operationCount = 0;
};

// Files larger than this are refused before parsing.
inline constexpr std::size_t kMaxCifBytes = 16u << 20;

bool hasCifSuffix(const std::string& path);

// Imports CIF bytes. `referenceLabel` picks the site put at the origin (empty: the first site of
// the heaviest element). Returns the refusal text, which names the problem, or nullopt.
std::optional<std::string> importCif(std::string_view bytes, const std::string& referenceLabel,
                                     CifImport& out);

// Reads and imports a file; a refusal is reported through the sink ("Error") and false returned.
bool readCifFile(const std::string& path, const std::string& referenceLabel, CifImport& out,
                 core::MessageSink& sink);

// Puts an import into the model as if its rows had been typed: the lattice, the rows and the
// count change; the beam direction and the rows past the count stay.
void applyCifImport(const CifImport& import, CrystalModel& model);

// The extras of model row `row` when the row is still the one imported, else nullptr.
const SiteExtras* extrasOfRow(const std::vector<SiteExtras>& extras, const CrystalModel& model,
                              int row);

}  // namespace crystal
