// The rules of the crystal parameters dialog, kept apart from the dialog so they are tested
// without a window: the live range checks, the prefix completion of u, v, w and the element
// symbol, storing the edited atom row, the defaults offered for the next row, and what the main
// window does with the dialog's outcome.
//
// Texts are taken as the dialog reads them from its controls: lattice values and coordinates up
// to 15 characters, u, v, w, the symbol and stored coordinates up to 13.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crystal/engine/crystal_model.h"

namespace crystal {

namespace text {
inline constexpr const char* kImproperValue = "Please input proper value.";
inline constexpr const char* kForbiddenEdge =
    "Atom coordinates\n(x,0,1), (x,1,0), (x,1,1), (0,x,1), (1,x,0), (1,x,1), (1,0,x), (0,1,x), or "
    "(1,1,x)\nwhere 0 <= x <= 1\nis not allowed.";
inline constexpr const char* kReuseQuestion =
    "Do you use previous crystal data\nfor the different (u,v,w) value?";
}  // namespace text

inline constexpr std::size_t kFieldReadLength = 15;
inline constexpr std::size_t kFieldStoreLength = 13;
inline constexpr int kLatticeTextLimit = 8;
// The u, v and w lists run from +kDirectionBound down to -kDirectionBound.
inline constexpr int kDirectionBound = 3;

enum class LatticeField { A, B, C, Alpha, Beta, Gamma };

// Whether a lattice text passes its field's range (a, b, c: 0..100; alpha, beta: (0, 90];
// gamma: (0, 180)). An empty or non-numeric text counts as 0.
bool latticeTextAccepted(LatticeField field, std::string_view text);
// A coordinate text: 0..1 inclusive.
bool coordinateTextAccepted(std::string_view text);

// The drop-down lists.
const std::vector<std::string>& coordinateChoices();  // "0", "0.25", ... "0.75"
const std::vector<std::string>& directionChoices();   // "3" down to "-3"
const std::vector<std::string>& symbolChoices();      // the 103 symbols in order of Z

// Index of the first entry that begins with `text` ignoring case; -1 when none does.
int prefixIndex(const std::vector<std::string>& list, std::string_view text);
// A u, v or w text as it stays while typing: unchanged when it begins an entry, else "1".
std::string completeDirectionText(std::string_view text);
// A symbol text: unchanged when it begins an entry, else "Sr".
std::string completeSymbolText(std::string_view text);
// Atomic number of a symbol text: the entry equal to it ignoring case, else the first entry that
// begins with it; 0 when none does.
int atomicNumberOfSymbolText(std::string_view text);

// What the dialog's controls hold for the edited row.
struct RowEntry {
    std::string symbol;
    std::string x, y, z;
    int colourIndex = 0;
};

// Stores the edited row. Row 0 is the reference atom at the origin. Any other row is checked
// first on its stored coordinates: on a forbidden edge position nothing is stored and false is
// returned. The table grows when `row` lies past its end.
bool storeAtomRow(CrystalModel& model, int row, const RowEntry& entry);

// What Next shows for the new row: its stored values where there are any. A stored black
// (value 0) is not offered, so the colour box keeps the previous row's colour.
struct RowDefaults {
    std::optional<int> colourIndex;
    std::optional<std::string> x, y, z, symbol;
};
RowDefaults rowDefaults(const CrystalModel& model, int row);

enum class DialogOutcome { Confirmed = 0, Cancelled = 1, ImproperValue = 2, ForbiddenPosition = 3 };

// After a confirmed dialog that ended on row 0 with a previous crystal of several rows, the
// earlier rows may be reused: silently after Read Crystal, else by asking.
enum class RowReuse { None, Silently, Ask };
RowReuse rowReuseAfterConfirm(int rememberedAtomCount, int editRow, bool loadedFromFile);

// Rows the unit-cell sketch shows: on creation the previous crystal; on paint rows 0..editRow,
// or the previous crystal while row 0 is edited and it had more than one row.
int sketchRowCount(bool onCreate, int editRow, int rememberedAtomCount);

}  // namespace crystal
