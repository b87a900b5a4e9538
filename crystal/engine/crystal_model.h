// The crystal as the user gave it, and its data file.
//
// Every value is kept as the text that was typed or read and converted on each use (reals with
// strtod-like rules, integers with atoi-like rules), so a value is written back and shown in the
// form the user chose ("90" stays "90", "0.50" stays "0.50").
//
// Crystal data file: CR LF text. Line 1 holds a, b, c, line 2 alpha, beta, gamma, then one row per
// atom: symbol, atomic number, x, y, z (fractions of a, b, c) and a colour name. The reader is a
// token scanner over the bytes (labels and blanks between numbers are skipped). So that no value
// lands in another's field, the lengths must stand on line 1 and the angles on line 2 with no
// further number there, each row's six fields on one line, and no number may run on into an
// exponent or sign ("1e1", "3-9"). It refuses any value out of range, and a row on the far-edge
// positions the dialog refuses, with one message, and never writes past its tables: the atom
// table grows, so a file with more than 100 rows loads and the computation refuses it later.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/message_sink.h"

namespace crystal {

inline constexpr int kMaxAtoms = 100;

// 0x00BBGGRR, as a Win32 COLORREF.
using ColourValue = std::uint32_t;
inline constexpr ColourValue rgb(unsigned r, unsigned g, unsigned b) {
    return r | g << 8 | b << 16;
}

struct AtomColour {
    const char* name;
    ColourValue value;
};
inline constexpr int kColourCount = 7;
extern const AtomColour kAtomColours[kColourCount];

// Index of a colour name (any case) or value; -1 when none matches.
int colourIndexOfName(std::string_view name);
int colourIndexOfValue(ColourValue value);

inline constexpr int kElementCount = 103;
extern const char* const kElementSymbols[kElementCount];
// Atomic number (1..103) of a symbol, compared without case; 0 when it is none.
int atomicNumberOfSymbol(std::string_view symbol);
// Symbol of an atomic number; "" when outside 1..103.
const char* symbolOfAtomicNumber(int z);

struct AtomSite {
    std::string symbol;
    std::string atomicNumber;
    std::string x, y, z;
    int colourIndex = 0;
    ColourValue colourValue = 0;
};

struct CrystalModel {
    std::string a, b, c;
    std::string alpha, beta, gamma;
    std::string u, v, w;  // beam direction, not part of the data file
    // Rows 0..atomCount-1 are in use; later rows keep stale text that the dialog offers again.
    // The table holds at least kMaxAtoms rows and grows when a file carries more.
    std::vector<AtomSite> atoms = std::vector<AtomSite>(kMaxAtoms);
    int atomCount = 0;
    bool loadedFromFile = false;
};

// The start-up crystal: cubic strontium titanate, only row 0 in use.
CrystalModel presetCrystal();

// Text conversions used everywhere the model is read.
double realOf(const std::string& text);
int integerOf(const std::string& text);

// The data file's bytes for the model's lattice and rows 0..atomCount-1.
std::string crystalDataText(const CrystalModel& model);

// Reads data file bytes into the model. Returns false for a file that breaks any rule; fields
// read before the failing token stay replaced, atomCount and loadedFromFile keep their values.
bool parseCrystalData(std::string_view bytes, CrystalModel& model);

// How reading a whole input file ended: a crystal file or a CIF is read only from a regular file
// and only up to its size limit, so a device or a huge file is refused before it fills memory.
enum class InputRead { ok, missing, notRegular, tooLarge, failed };
InputRead readInputFile(const std::string& path, std::size_t limit, std::string& bytes);

// A crystal data file holds at most 100 rows of a few numbers: far below this.
inline constexpr std::size_t kMaxCrystalFileBytes = 64u << 10;

// Loads a file: refusals as messages ("The file does not exist.", "NO data in the file.",
// "Wrong data file.", a device or a file above 64 KB by name). With announceSuccess the "Next
// procedure" message follows a success.
bool loadCrystalFile(const std::string& path, CrystalModel& model, core::MessageSink& sink,
                     bool announceSuccess = true);

// Writes the data file; a file that cannot be created or written is reported, and an old file of
// that name stays as it was.
bool saveCrystalFile(const std::string& path, const CrystalModel& model, core::MessageSink& sink);

// Writes bytes to a file through a temporary file that replaces it only when complete.
bool writeWholeFile(const std::string& path, std::string_view bytes);

// The edge positions that the dialog refuses for every row but the reference atom.
bool isForbiddenEdgePosition(double x, double y, double z);

}  // namespace crystal
