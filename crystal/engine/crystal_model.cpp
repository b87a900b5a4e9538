#include "crystal/engine/crystal_model.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include <sys/stat.h>

#include "core/localized.h"
#include "image/file_io.h"

namespace crystal {

const AtomColour kAtomColours[kColourCount] = {
    {"BLACK", rgb(0, 0, 0)},  {"CYAN", rgb(0, 255, 255)},  {"GREEN", rgb(0, 255, 0)},
    {"BLUE", rgb(0, 0, 255)}, {"BROWN", rgb(255, 255, 0)}, {"PURPLE", rgb(255, 0, 255)},
    {"RED", rgb(255, 0, 0)},
};

const char* const kElementSymbols[kElementCount] = {
    "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",
    "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn",
    "Ga", "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh",
    "Pd", "Ag", "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd",
    "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ta", "W",  "Re",
    "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac", "Th",
    "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No", "Lr",
};

namespace {

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool equalNoCase(std::string_view p, std::string_view q) {
    if (p.size() != q.size()) return false;
    for (std::size_t i = 0; i < p.size(); ++i)
        if (lower(p[i]) != lower(q[i])) return false;
    return true;
}

}  // namespace

int colourIndexOfName(std::string_view name) {
    for (int i = 0; i < kColourCount; ++i)
        if (equalNoCase(name, kAtomColours[i].name)) return i;
    return -1;
}

int colourIndexOfValue(ColourValue value) {
    for (int i = 0; i < kColourCount; ++i)
        if (kAtomColours[i].value == value) return i;
    return -1;
}

int atomicNumberOfSymbol(std::string_view symbol) {
    for (int i = 0; i < kElementCount; ++i)
        if (equalNoCase(symbol, kElementSymbols[i])) return i + 1;
    return 0;
}

const char* symbolOfAtomicNumber(int z) {
    return (z >= 1 && z <= kElementCount) ? kElementSymbols[z - 1] : "";
}

CrystalModel presetCrystal() {
    CrystalModel m;
    const std::string side("3.905"), right("90");
    m.a = m.b = m.c = side;
    m.alpha = m.beta = m.gamma = right;
    m.u = std::string("1");
    m.v = std::string("0");
    m.w = std::string("0");
    const struct {
        const char *symbol, *x, *y, *z;
        int colour;
    } rows[5] = {{"Sr", "0", "0", "0", 0},
                 {"O", "0.5", "0.5", "0", 3},
                 {"O", "0.5", "0", "0.5", 3},
                 {"O", "0", "0.5", "0.5", 3},
                 {"Ti", "0.5", "0.5", "0.5", 6}};
    for (int i = 0; i < 5; ++i) {
        m.atoms[i] = AtomSite{std::string(rows[i].symbol),
                              std::string(),
                              std::string(rows[i].x),
                              std::string(rows[i].y),
                              std::string(rows[i].z),
                              rows[i].colour,
                              kAtomColours[rows[i].colour].value};
    }
    m.atomCount = 1;
    return m;
}

double realOf(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

int integerOf(const std::string& text) {
    errno = 0;
    const long v = std::strtol(text.c_str(), nullptr, 10);
    // Out-of-range texts saturate instead of overflowing.
    if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    // The lowest value is left out so that every result can be negated.
    if (v < -std::numeric_limits<int>::max()) return -std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

// ---- writing -------------------------------------------------------------------------------

namespace {

// The reader takes a number as an optional '-' and a run of digits and points. A text it cannot
// take whole (emptied, "1e1", "+5") would come back as another value or shift the fields after
// it, so it is written as its value in plain decimals: at most 14 characters for the values the
// fields accept (below 1000).
std::string readableNumber(const std::string& text) {
    const std::size_t digits =
        text.find_first_not_of("0123456789.", text.empty() || text[0] != '-' ? 0 : 1);
    const bool plain = !text.empty() && text != "-" && digits == std::string::npos;
    const double v = realOf(text);
    if (plain || !std::isfinite(v) || std::fabs(v) >= 1000) return text;
    std::string out = core::formatMessage("%.10f", v);
    out.erase(out.find_last_not_of('0') + 1);
    if (out.back() == '.') out.pop_back();
    return out == "-0" ? std::string("0") : out;
}

}  // namespace

std::string crystalDataText(const CrystalModel& m) {
    std::string out;
    out += core::formatMessage("a axis=%s\tb axis=%s\tc axis=%s\r\n", readableNumber(m.a).c_str(),
                                readableNumber(m.b).c_str(), readableNumber(m.c).c_str());
    // A short beta gets a second tab so that the gamma column stays aligned.
    const std::string beta = readableNumber(m.beta);
    const char* angles =
        beta.size() <= 2 ? "alpha=%s\tbeta=%s\t\tgamma=%s\r\n" : "alpha=%s\tbeta=%s\tgamma=%s\r\n";
    out += core::formatMessage(angles, readableNumber(m.alpha).c_str(), beta.c_str(),
                                readableNumber(m.gamma).c_str());
    for (int i = 0; i < m.atomCount && i < static_cast<int>(m.atoms.size()); ++i) {
        const AtomSite& s = m.atoms[i];
        const int colour = colourIndexOfValue(s.colourValue);
        // The reader takes a symbol only in its usual capitals: "sr" typed in the dialog is
        // written "Sr" so that the file loads again.
        const int element = atomicNumberOfSymbol(s.symbol);
        const char* symbol = element > 0 ? kElementSymbols[element - 1] : s.symbol.c_str();
        out += core::formatMessage("%-3s\t%-4s\t%9s\t%9s\t%9s\t%7s\r\n", symbol,
                                    s.atomicNumber.c_str(), readableNumber(s.x).c_str(),
                                    readableNumber(s.y).c_str(), readableNumber(s.z).c_str(),
                                    colour >= 0 ? kAtomColours[colour].name : "");
    }
    return out;
}

bool writeWholeFile(const std::string& path, std::string_view bytes) {
    return image::replaceFileContents(path, bytes);
}

bool saveCrystalFile(const std::string& path, const CrystalModel& model, core::MessageSink& sink) {
    if (!writeWholeFile(path, crystalDataText(model))) {
        sink.ask("Unable to create a crystal data file.", "Error", core::kIconError);
        return false;
    }
    sink.ask(core::formatMessage("A crystal data file\n%s\nhas been successfully created.",
                                  path.c_str()),
             "Success", core::kIconInformation);
    return true;
}

// ---- reading -------------------------------------------------------------------------------

namespace {

// The scanner reads the bytes as a stream that yields -1 past the end; every scan counts what it
// reads and gives up once the count reaches the length of the data (it ran off the end).
class Scanner {
  public:
    explicit Scanner(std::string_view bytes) : bytes_(bytes) {}

    bool atEnd() const { return pos_ >= bytes_.size(); }

    // Skips to the first character of `starts`, then takes characters of `continues`. The text
    // is cut to maxLength + 1 characters, enough to tell an over-long token. Afterwards
    // crossedLine() tells whether a line feed was skipped before the token, and endedBy() the
    // character that ended it (-1 at the end of the data).
    template <class Start, class Continue>
    bool token(Start starts, Continue continues, std::size_t maxLength, std::string& text) {
        text.clear();
        crossedLine_ = false;
        endedBy_ = -1;
        std::size_t count = 0;
        int c;
        do {
            c = next();
            if (++count >= bytes_.size()) return false;
            if (c == '\n') crossedLine_ = true;
        } while (c < 0 || !starts(char(c)));
        text.push_back(char(c));
        for (;;) {
            c = next();
            if (++count >= bytes_.size()) return false;
            if (c < 0 || !continues(char(c))) {
                endedBy_ = c;
                // A line feed that ends a token is left for the line skip, so files with bare
                // LF line ends lose no row.
                if (c == '\n') --pos_;
                return true;
            }
            if (text.size() <= maxLength) text.push_back(char(c));
        }
    }

    bool crossedLine() const { return crossedLine_; }
    int endedBy() const { return endedBy_; }

    // True when a digit stands before the next line feed (or the end of the data); reads nothing.
    bool digitBeforeLineEnd() const {
        for (std::size_t p = pos_; p < bytes_.size() && bytes_[p] != '\n'; ++p)
            if (bytes_[p] >= '0' && bytes_[p] <= '9') return true;
        return false;
    }

    // Reads up to and including the next line feed; false when the data ends first.
    bool skipLine() {
        std::size_t count = 0;
        for (;;) {
            const int c = next();
            if (++count >= bytes_.size()) return false;
            if (c == '\n') return true;
        }
    }

  private:
    int next() {
        if (pos_ >= bytes_.size()) return -1;
        return static_cast<unsigned char>(bytes_[pos_++]);
    }
    std::string_view bytes_;
    std::size_t pos_ = 0;
    bool crossedLine_ = false;
    int endedBy_ = -1;
};

bool numberStart(char c) {
    return c == '-' || c == '.' || (c >= '0' && c <= '9');
}
bool numberContinue(char c) {
    return c == '.' || (c >= '0' && c <= '9');
}
bool symbolStart(char c) {
    return c >= 'A' && c <= 'Z' && c != 'J' && c != 'Q';
}
bool symbolContinue(char c) {
    return (c >= 'a' && c <= 'i') || (c >= 'k' && c <= 'p') || (c >= 'r' && c <= 'u') || c == 'y';
}
bool colourStart(char c) {
    return std::strchr("BCGPR", c) != nullptr && c != '\0';
}
bool colourContinue(char c) {
    return c != '\0' && std::strchr("ACDEKLNOPRUWY", c) != nullptr;
}
bool runsOn(int c) {
    return c == 'e' || c == 'E' || c == '+' || c == '-';
}

// A number token into `field`, on the line of the token before it; the value must lie in
// [low, high] (with open ends as flagged).
// A number that runs on into an exponent or a sign ("1e1", "3-9") is refused: the scanner would
// take its tail as the next field and shift every value after it.
bool readNumber(Scanner& in, std::string& field, std::size_t maxLength, double low, bool lowOpen,
                double high, bool highOpen) {
    std::string text;
    const bool found = in.token(numberStart, numberContinue, maxLength, text);
    field = text.substr(0, maxLength);
    if (!found || text.size() > maxLength) return false;
    if (in.crossedLine()) return false;
    if (runsOn(in.endedBy())) return false;
    const double v = realOf(field);
    if (lowOpen ? !(v > low) : !(v >= low)) return false;
    if (highOpen ? !(v < high) : !(v <= high)) return false;
    return true;
}

}  // namespace

bool parseCrystalData(std::string_view bytes, CrystalModel& model) {
    Scanner in(bytes);
    // The first line holds exactly the three lengths, the second exactly the three angles: a
    // missing or unreadable value ("alpha=", "alpha=nan") must not pull the next line's number
    // into its field.
    for (std::string* f : {&model.a, &model.b, &model.c})
        if (!readNumber(in, *f, 14, 0.0, false, 100.0, false)) return false;
    if (in.digitBeforeLineEnd() || !in.skipLine()) return false;
    if (!readNumber(in, model.alpha, 14, 0.0, true, 90.0, false)) return false;
    if (!readNumber(in, model.beta, 14, 0.0, true, 90.0, false)) return false;
    if (!readNumber(in, model.gamma, 14, 0.0, true, 180.0, true)) return false;
    if (in.digitBeforeLineEnd() || !in.skipLine()) return false;

    std::size_t row = 0;
    while (!in.atEnd()) {
        if (row >= model.atoms.size()) {
            try {
                model.atoms.resize(row + 1);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        AtomSite& site = model.atoms[row];
        std::string text;
        bool found = in.token(symbolStart, symbolContinue, 2, text);
        site.symbol = text.substr(0, 2);
        if (!found || text.size() > 2 || atomicNumberOfSymbol(site.symbol) == 0) return false;

        // The other five fields of a row stand on the symbol's line.
        found = in.token(numberStart, numberContinue, 3, text);
        site.atomicNumber = text.substr(0, 3);
        if (!found || text.size() > 3 || in.crossedLine() || runsOn(in.endedBy())) return false;
        const int z = integerOf(site.atomicNumber);
        if (z < 1 || z > kElementCount || std::ceil(realOf(site.atomicNumber)) != double(z))
            return false;

        for (std::string* f : {&site.x, &site.y, &site.z})
            if (!readNumber(in, *f, 14, 0.0, false, 1.0, false)) return false;
        // An image of another row on the cell's far edges (1, 1, 1 repeats the origin atom)
        // would stand twice in every plane; the dialog refuses these positions too.
        if (row > 0 && isForbiddenEdgePosition(realOf(site.x), realOf(site.y), realOf(site.z)))
            return false;

        found = in.token(colourStart, colourContinue, 6, text);
        if (!found || text.size() > 6 || in.crossedLine()) return false;
        const int colour = colourIndexOfName(text);
        if (colour < 0) return false;
        site.colourIndex = colour;
        site.colourValue = kAtomColours[colour].value;

        ++row;
        // A complete last row without its line feed counts like any other.
        if (!in.skipLine()) break;
    }
    model.atomCount = static_cast<int>(row);
    model.loadedFromFile = true;
    return true;
}

InputRead readInputFile(const std::string& path, std::size_t limit, std::string& bytes) {
    bytes.clear();
#ifndef _WIN32
    // A FIFO would block the open itself: its kind is asked of the path first.
    struct stat byPath {};
    if (::stat(path.c_str(), &byPath) == 0 && !S_ISREG(byPath.st_mode))
        return InputRead::notRegular;
#endif
    std::FILE* f = image::fopenUtf8(path, "rb");
    if (!f) return InputRead::missing;
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(f);
        return InputRead::notRegular;
    }
    if (static_cast<unsigned long long>(st.st_size) > limit) {
        std::fclose(f);
        return InputRead::tooLarge;
    }
    char buffer[65536];
    std::size_t got;
    InputRead result = InputRead::ok;
    // The size is checked again while reading: a file may grow after the check.
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        if (bytes.size() + got > limit) {
            result = InputRead::tooLarge;
            break;
        }
        bytes.append(buffer, got);
    }
    if (result == InputRead::ok && std::ferror(f)) result = InputRead::failed;
    std::fclose(f);
    return result;
}

namespace {

const core::Localized kCrystalFileTooLarge{
    "The crystal data file is too large (more than 64 KB).",
    "結晶データファイルが大きすぎます (64 KB 超)。"};
const core::Localized kNotRegularFile{"The file is not a regular file.",
                                      "通常のファイルではありません。"};

}  // namespace

bool loadCrystalFile(const std::string& path, CrystalModel& model, core::MessageSink& sink,
                     bool announceSuccess) {
    std::string bytes;
    const InputRead read = readInputFile(path, kMaxCrystalFileBytes, bytes);
    if (read == InputRead::missing) {
        sink.ask("The file does not exist.", "Error", core::kIconError);
        return false;
    }
    if (read == InputRead::notRegular || read == InputRead::tooLarge) {
        sink.ask(core::text(read == InputRead::tooLarge ? kCrystalFileTooLarge : kNotRegularFile),
                 "Error", core::kIconError);
        return false;
    }
    const bool readOk = read == InputRead::ok;
    if (readOk && bytes.empty()) {
        sink.ask("NO data in the file.", "Error", core::kIconError);
        return false;
    }
    if (!readOk || !parseCrystalData(bytes, model)) {
        sink.ask("Wrong data file.", "Error", core::kIconError);
        return false;
    }
    if (announceSuccess)
        sink.ask(
            "Next, press <Crystal> button.\nSet ONLY <u,v,w> value, and then press <OK> button.",
            "Next procedure", core::kIconInformation);
    return true;
}

bool isForbiddenEdgePosition(double x, double y, double z) {
    if (z == 1 && (x == 0 || x == 1 || y == 0 || y == 1)) return true;
    if (z == 0 && (x == 1 || y == 1)) return true;
    if (x == 1 && (y == 0 || y == 1)) return true;
    if (x == 0 && y == 1) return true;
    return false;
}

}  // namespace crystal
