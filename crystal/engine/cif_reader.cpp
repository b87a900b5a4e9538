#include "crystal/engine/cif_reader.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <exception>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include <gemmi/cif.hpp>
#include <gemmi/numb.hpp>
#include <gemmi/symmetry.hpp>

#include "core/localized.h"

namespace crystal {

namespace {

namespace cif = gemmi::cif;

// Texts of the refusals and notes.
const core::Localized kNotCif{"The file is not a readable CIF (%s).",
                              "CIF ファイルとして読めません (%s)。"};
const core::Localized kTooLarge{"The CIF file is too large (more than 16 MB).",
                                "CIF ファイルが大きすぎます (16 MB 超)。"};
const core::Localized kNotRegular{"The CIF is not a regular file.",
                                  "CIF が通常のファイルではありません。"};
const core::Localized kNoCell{"The CIF has no unit cell: %s is missing or not a number.",
                              "CIF に単位格子がありません: %s がないか数値ではありません。"};
const core::Localized kBadCell{"The CIF's unit cell cannot be used: %s = %s.",
                               "CIF の単位格子は使えません: %s = %s。"};
const core::Localized kNoSites{"The CIF has no atom sites (_atom_site_fract_x, _y, _z).",
                               "CIF に原子サイト (_atom_site_fract_x, _y, _z) がありません。"};
const core::Localized kBadNumber{"Unreadable number in the CIF: %s of site %s is \"%s\".",
                                 "CIF の数値が読めません: %s (サイト %s) が \"%s\" です。"};
const core::Localized kUnknownElement{"Unknown element \"%s\" at site %s of the CIF.",
                                      "CIF の元素 \"%s\" (サイト %s) は不明です。"};
const core::Localized kUnknownGroup{"Unknown space group in the CIF: \"%s\".",
                                    "CIF の空間群が不明です: \"%s\"。"};
const core::Localized kBadOperation{"Unreadable symmetry operation in the CIF: \"%s\".",
                                    "CIF の対称操作が読めません: \"%s\"。"};
const core::Localized kNotASymmetry{
    "The CIF's symmetry operation \"%s\" is none: its x, y and z may only carry -1, 0 or 1, "
    "and its shifts must be multiples of 1/24.",
    "CIF の対称操作 \"%s\" は対称操作ではありません: x, y, z の係数は -1, 0, 1 のみ、"
    "平行移動は 1/24 の倍数でなければなりません。"};
const core::Localized kTooManyOperations{
    "The CIF lists %d symmetry operations; a space group has at most 192.",
    "CIF には %d 個の対称操作があります。空間群の対称操作は最大 192 個です。"};
const core::Localized kTooManySites{
    "The CIF gives more than 100 atoms in the unit cell; at most 100 can be used.",
    "CIF の単位格子には 100 個を超える原子があります。使えるのは 100 個までです。"};
const core::Localized kNoReference{"The CIF has no site labelled \"%s\".",
                                   "CIF にラベル \"%s\" のサイトがありません。"};

const core::Localized kNoteOperations{"Symmetry: %d operations listed in the file.",
                                      "対称性: ファイルに記載された %d 個の対称操作。"};
const core::Localized kNoteHall{"Symmetry: Hall symbol \"%s\" (%d operations).",
                                "対称性: Hall 記号 \"%s\" (%d 個の対称操作)。"};
const core::Localized kNoteHm{"Symmetry: space group \"%s\" (%d operations).",
                              "対称性: 空間群 \"%s\" (%d 個の対称操作)。"};
const core::Localized kNoteOriginChoice{
    "The space group \"%s\" has two origin choices and the file names none: origin choice 1 "
    "was taken.",
    "空間群 \"%s\" には原点の取り方が二つあり、ファイルに指定がないため原点選択 1 "
    "を用いました。"};
const core::Localized kNoteNumber{"Symmetry: space group number %d (%d operations).",
                                  "対称性: 空間群番号 %d (%d 個の対称操作)。"};
const core::Localized kNoteP1{
    "The file gives no symmetry: its sites are taken as the whole cell.",
    "ファイルに対称性の記載がないため、サイトをそのまま単位格子とします。"};
const core::Localized kNoteReversed{
    "The cell had %s above 90 degrees: axes %s were reversed (alpha=%s beta=%s gamma=%s).",
    "格子の %s が 90 度を超えていたため、%s 軸を反転しました (alpha=%s beta=%s gamma=%s)。"};
const core::Localized kNoteShared{
    "Sites %s and %s share a position: %s (occupancy %.4g) was kept.",
    "サイト %s と %s が同じ位置にあります: %s (占有率 %.4g) を残しました。"};
const core::Localized kNoteSharedMore{
    "%d more sites share a position with another site; at each the larger occupancy was kept.",
    "ほかに %d 個のサイトが別のサイトと同じ位置にあり、それぞれ占有率の大きい方を残しました。"};
const core::Localized kNoteOccupancyUnknown{"Site %s gives no occupancy: 1 was taken.",
                                            "サイト %s に占有率がないため 1 としました。"};
const core::Localized kNoteCount{
    "The cell holds %d %s atoms, but the formula and Z give %.4g.",
    "単位格子には %d 個の %s 原子がありますが、化学式と Z からは %.4g 個です。"};
const core::Localized kNoteReference{"Reference atom at the origin: %s (%s).",
                                     "原点の基準原子: %s (%s)。"};
const core::Localized kNoteAtoms{"%d atoms in the unit cell.", "単位格子内の原子数: %d。"};
const core::Localized kNoteSnapped{
    "%d sites were within the CIF's rounding of a multiple of 1/12 or 1/8 and were put on it: "
    "%s.",
    "%d 個のサイトが CIF の丸めの範囲で 1/12 または 1/8 の倍数にあり、その値としました: %s。"};

// Operations a space group can have: 48 point operations times 4 centring translations.
constexpr std::size_t kMaxOperations = 192;

struct Site {
    std::string label;
    int z = 0;  // atomic number
    std::array<double, 3> f{};
    double occupancy = 1.0;
    double uIso = -1.0;
    int order = 0;  // index of the asymmetric site
};

void addNote(CifImport& out, std::string text, bool warning) {
    out.notes.push_back(std::move(text));
    out.noteIsWarning.push_back(warning);
}

// Half a unit in the last decimal a CIF number gives ("0.3412(3)": 0.00005), its standard
// uncertainty left out; the exponent of "3.3e-1" counts.
double halfLastDecimal(const std::string& raw) {
    std::size_t i = 0;
    if (i < raw.size() && (raw[i] == '+' || raw[i] == '-')) ++i;
    while (i < raw.size() && std::isdigit(static_cast<unsigned char>(raw[i]))) ++i;
    int decimals = 0;
    if (i < raw.size() && raw[i] == '.')
        for (++i; i < raw.size() && std::isdigit(static_cast<unsigned char>(raw[i])); ++i)
            decimals = std::min(decimals + 1, 30);
    int exponent = 0;
    if (i < raw.size() && (raw[i] == 'e' || raw[i] == 'E'))
        exponent = std::clamp(std::atoi(raw.c_str() + i + 1), -30, 30);
    double half = 0.5;  // by steps: std::pow stood out when reading 600,000 sites
    for (int k = exponent - decimals; k > 0; --k) half *= 10;
    for (int k = exponent - decimals; k < 0; ++k) half /= 10;
    return half;
}

// A coordinate as read: a multiple of 1/12 or 1/8 that the CIF's rounding cannot tell from the
// written value (0.3333 and 0.333 are a third, 0.0833 is 1/12; 0.0821 and 0.41519 stay), and
// never further than 0.0015.
double snappedAtRead(double v, const std::string& raw) {
    const double window = std::min(halfLastDecimal(raw), 0.0015) * (1 + 1e-9);
    for (double d : {12.0, 8.0}) {
        const double m = std::round(v * d) / d;
        if (std::fabs(v - m) <= window) return m;
    }
    return v;
}

// A coordinate after arithmetic (symmetry operations, reversed axes, the shift to the reference
// atom): only floating noise is removed, so a multiple of 1/24 stays exact, and it is wrapped into
// [0, 1) with values a hair below 1 taken as 0.
double cleaned(double v) {
    v -= std::floor(v);
    const double m = std::round(v * 24) / 24;
    if (std::fabs(v - m) <= 1e-9) v = m;
    if (v >= 1.0 - 1e-9 || v < 0.0) v = 0.0;
    return v;
}

// Reads a symmetry operation such as "-x+y, 1/2+z, x-1/4" into `op`, checking its numbers before
// anything else sees them: each coordinate's coefficient is -1, 0 or 1 and each shift a multiple
// of 1/24 (a fraction of small integers, or a decimal within 0.0005 of one). False for anything
// else, with `outOfRange` set when the text reads but its numbers make no symmetry operation.
bool parseOperation(const std::string& text, gemmi::Op& op, bool& outOfRange) {
    op.rot = {};
    op.tran = {};
    outOfRange = false;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    };
    // An unsigned number: digits, a decimal or a fraction of digits; at most 9 digits a part, so
    // nothing overflows.
    const auto number = [&](double& value) {
        const auto digits = [&](long& n, int& count) {
            n = 0;
            count = 0;
            while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
                if (++count > 9) return !(outOfRange = true);
                n = n * 10 + (text[i++] - '0');
            }
            return true;
        };
        long whole = 0;
        int count = 0;
        if (!digits(whole, count)) return false;
        if (i < text.size() && text[i] == '.') {
            ++i;
            long fraction = 0;
            int fractionDigits = 0;
            if (!digits(fraction, fractionDigits) || count + fractionDigits == 0) return false;
            value = double(whole) + double(fraction) / std::pow(10.0, fractionDigits);
            return true;
        }
        if (count == 0) return false;
        skipBlanks();
        if (i < text.size() && text[i] == '/') {
            ++i;
            skipBlanks();
            long denominator = 0;
            int denominatorDigits = 0;
            if (!digits(denominator, denominatorDigits) || denominatorDigits == 0) return false;
            if (denominator == 0) return !(outOfRange = true);
            value = double(whole) / double(denominator);
            return true;
        }
        value = double(whole);
        return true;
    };
    for (int row = 0; row < 3; ++row) {
        double shift = 0;
        int coefficient[3] = {0, 0, 0};
        bool any = false;
        for (;;) {
            skipBlanks();
            if (i >= text.size() || text[i] == ',') break;
            int sign = 1;
            if (text[i] == '+' || text[i] == '-') {
                sign = text[i] == '-' ? -1 : 1;
                ++i;
                skipBlanks();
            } else if (any) {
                return false;  // two terms without a sign between them
            }
            double value = 1;
            bool numbered = false;
            if (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) {
                if (!number(value)) return false;
                numbered = true;
                skipBlanks();
                if (i < text.size() && text[i] == '*') {
                    ++i;
                    skipBlanks();
                }
            }
            const char axis = i < text.size() ? char(std::tolower(static_cast<unsigned char>(text[i]))) : 0;
            if (axis == 'x' || axis == 'y' || axis == 'z') {
                ++i;
                if (value != std::floor(value) || value > 1) return !(outOfRange = true);
                coefficient[axis - 'x'] += sign * int(value);
                if (std::abs(coefficient[axis - 'x']) > 1) return !(outOfRange = true);
            } else if (numbered) {
                shift += sign * value;
                if (std::fabs(shift) > 1e9) return !(outOfRange = true);
            } else {
                return false;
            }
            any = true;
        }
        if (!any) return false;
        const double steps = shift * gemmi::Op::DEN;
        const double nearest = std::round(steps);
        if (std::fabs(steps - nearest) > 0.0005 * gemmi::Op::DEN) return !(outOfRange = true);
        // Whole cells of shift change nothing; folding keeps the integers small.
        long folded = static_cast<long>(nearest) % gemmi::Op::DEN;
        if (folded < 0) folded += gemmi::Op::DEN;
        op.tran[row] = static_cast<int>(folded);
        for (int k = 0; k < 3; ++k) op.rot[row][k] = coefficient[k] * gemmi::Op::DEN;
        if (row < 2) {
            if (i >= text.size() || text[i] != ',') return false;
            ++i;
        }
    }
    skipBlanks();
    if (i != text.size()) return false;
    // A symmetry operation maps the lattice onto itself: its determinant is +1 or -1.
    const auto& r = op.rot;
    const long long det = (long long)r[0][0] * (r[1][1] * r[2][2] - r[1][2] * r[2][1]) -
                          (long long)r[0][1] * (r[1][0] * r[2][2] - r[1][2] * r[2][0]) +
                          (long long)r[0][2] * (r[1][0] * r[2][1] - r[1][1] * r[2][0]);
    const long long unit = (long long)gemmi::Op::DEN * gemmi::Op::DEN * gemmi::Op::DEN;
    outOfRange = det != unit && det != -unit;
    return !outOfRange;
}

// Symbol at the start of a type symbol or label ("Sr2+", "O1", "Ti1a"): two letters when they
// make an element, else one.
int elementOf(const std::string& text, std::string& symbol) {
    std::size_t i = 0;
    while (i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
    std::string letters;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])) &&
           letters.size() < 2)
        letters += text[i++];
    symbol = letters.empty() ? text : letters;
    if (letters.empty()) return 0;
    letters[0] = char(std::toupper(static_cast<unsigned char>(letters[0])));
    if (letters.size() == 2) {
        letters[1] = char(std::tolower(static_cast<unsigned char>(letters[1])));
        if (const int z = atomicNumberOfSymbol(letters)) {
            symbol = letters;
            return z;
        }
        letters.resize(1);
    }
    symbol = letters;
    return atomicNumberOfSymbol(letters);
}

const std::string* firstValue(cif::Block& block, std::initializer_list<const char*> tags) {
    for (const char* tag : tags) {
        const std::string* v = block.find_value(tag);
        if (v && !cif::is_null(*v)) return v;
    }
    return nullptr;
}

// The operations of a group: its symmetry operations with every centring translation.
std::vector<gemmi::Op> allOperations(const gemmi::GroupOps& ops) {
    std::vector<gemmi::Op> out;
    for (gemmi::Op op : ops) out.push_back(op);
    return out;
}

template <class... Args>
std::string formatted(const core::Localized& t, Args... args) {
    return core::formatMessage(core::text(t), args...);
}

// The number's digits as written (standard uncertainty dropped), or a plain form when long.
std::string numberText(const std::string& raw, double value) {
    std::string t = raw.substr(0, raw.find('('));
    if (t.empty() || t.size() > 12 || t[0] == '+') return core::formatMessage("%.8g", value);
    return t;
}

std::string coordinateText(double v) {
    if (std::fabs(v - 1.0 / 3.0) < 1e-9) return "0.3333333";
    if (std::fabs(v - 2.0 / 3.0) < 1e-9) return "0.6666667";
    std::string s = core::formatMessage("%.7f", v);
    while (s.size() > 1 && s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

struct Metric {
    double g[3][3];
    double distance2(const std::array<double, 3>& p, const std::array<double, 3>& q) const {
        double d[3];
        for (int i = 0; i < 3; ++i) {
            d[i] = p[i] - q[i];
            d[i] -= std::round(d[i]);
        }
        double s = 0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) s += d[i] * g[i][j] * d[j];
        return s;
    }
};

Metric metricOf(double a, double b, double c, double alpha, double beta, double gamma) {
    const double r = 3.14159265358979323846 / 180.0;
    const double ca = std::cos(alpha * r), cb = std::cos(beta * r), cg = std::cos(gamma * r);
    Metric m;
    m.g[0][0] = a * a;
    m.g[1][1] = b * b;
    m.g[2][2] = c * c;
    m.g[0][1] = m.g[1][0] = a * b * cg;
    m.g[0][2] = m.g[2][0] = a * c * cb;
    m.g[1][2] = m.g[2][1] = b * c * ca;
    return m;
}

// Positions closer than this (Angstrom) are one position: images of a site a few thousandths of
// a cell off a special position (its published rounding) on a long axis are one atom.
constexpr double kMergeDistance = 0.03;

// Merges positions with a grid of buckets, so that a file with thousands of sites is counted
// without comparing every pair.
class PositionIndex {
  public:
    PositionIndex(const Metric& metric, double a, double b, double c) : metric_(metric) {
        const double edges[3] = {a, b, c};
        for (int i = 0; i < 3; ++i)
            bins_[i] = std::clamp(static_cast<long>(edges[i] / (2 * kMergeDistance)), 1L, 20000L);
    }
    // Index of a stored position within the merge distance, or -1.
    int find(const std::array<double, 3>& f) const {
        long k[3];
        for (int i = 0; i < 3; ++i) k[i] = static_cast<long>(std::floor(f[i] * bins_[i]));
        for (long d0 = -1; d0 <= 1; ++d0)
            for (long d1 = -1; d1 <= 1; ++d1)
                for (long d2 = -1; d2 <= 1; ++d2) {
                    const auto it = buckets_.find(key(k[0] + d0, k[1] + d1, k[2] + d2));
                    if (it == buckets_.end()) continue;
                    for (int index : it->second)
                        if (metric_.distance2(positions_[index], f) <
                            kMergeDistance * kMergeDistance)
                            return index;
                }
        return -1;
    }
    int add(const std::array<double, 3>& f) {
        long k[3];
        for (int i = 0; i < 3; ++i) k[i] = static_cast<long>(std::floor(f[i] * bins_[i]));
        positions_.push_back(f);
        const int index = static_cast<int>(positions_.size()) - 1;
        buckets_[key(k[0], k[1], k[2])].push_back(index);
        return index;
    }

  private:
    long long key(long i, long j, long k) const {
        const auto w = [](long v, long n) { return ((v % n) + n) % n; };
        return (w(i, bins_[0]) * 20001LL + w(j, bins_[1])) * 20001LL + w(k, bins_[2]);
    }
    const Metric& metric_;
    long bins_[3];
    std::vector<std::array<double, 3>> positions_;
    std::unordered_map<long long, std::vector<int>> buckets_;
};

// Element counts of a formula such as "Sr Ti O3" or "C6 H12 O6".
std::map<int, double> formulaCounts(const std::string& formula) {
    std::map<int, double> counts;
    std::size_t i = 0;
    while (i < formula.size()) {
        while (i < formula.size() && !std::isalpha(static_cast<unsigned char>(formula[i]))) ++i;
        std::size_t start = i;
        while (i < formula.size() && std::isalpha(static_cast<unsigned char>(formula[i]))) ++i;
        if (start == i) break;
        std::string symbol;
        const int z = elementOf(formula.substr(start, i - start), symbol);
        std::size_t numberStart = i;
        while (i < formula.size() &&
               (std::isdigit(static_cast<unsigned char>(formula[i])) || formula[i] == '.'))
            ++i;
        const double n =
            i > numberStart ? std::atof(formula.substr(numberStart, i - numberStart).c_str()) : 1.0;
        if (z == 0) return {};
        counts[z] += n;
    }
    return counts;
}

// The unit cell as read: a, b, c, alpha, beta, gamma, and each as the file writes it.
struct CellValues {
    double v[6];
    std::string text[6];
};

const char* const kCellTags[6] = {"_cell_length_a",    "_cell_length_b",   "_cell_length_c",
                                  "_cell_angle_alpha", "_cell_angle_beta", "_cell_angle_gamma"};

std::optional<std::string> readCell(cif::Block& block, CellValues& cell) {
    const char* cellTagsDotted[6] = {"_cell.length_a",    "_cell.length_b",   "_cell.length_c",
                                     "_cell.angle_alpha", "_cell.angle_beta", "_cell.angle_gamma"};
    for (int i = 0; i < 6; ++i) {
        const std::string* v = firstValue(block, {kCellTags[i], cellTagsDotted[i]});
        cell.v[i] = v ? cif::as_number(*v) : NAN;
        if (!std::isfinite(cell.v[i])) return formatted(kNoCell, kCellTags[i]);
        cell.text[i] = numberText(*v, cell.v[i]);
        const bool edge = i < 3;
        if (edge ? !(cell.v[i] >= 1.0 && cell.v[i] < 100.0)
                 : !(cell.v[i] > 0.0 && cell.v[i] < 180.0))
            return formatted(kBadCell, kCellTags[i], v->c_str());
    }
    const double r = 3.14159265358979323846 / 180.0;
    const double ca = std::cos(cell.v[3] * r), cb = std::cos(cell.v[4] * r),
                 cg = std::cos(cell.v[5] * r);
    if (!(1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg > 1e-9))
        return formatted(kBadCell, "_cell_angle_*",
                         (cell.text[3] + " " + cell.text[4] + " " + cell.text[5]).c_str());
    return std::nullopt;
}

// Symmetry, first found of: the listed operations, the Hall symbol, the Hermann-Mauguin symbol,
// the space group number; none gives the identity alone. Each step that finds its tag fills
// `ops` (or refuses) and notes where the operations came from.
std::optional<std::string> listedOperations(cif::Block& block, std::vector<gemmi::Op>& ops,
                                            CifImport& out) {
    for (const char* tag : {"_space_group_symop_operation_xyz", "_symmetry_equiv_pos_as_xyz",
                            "_space_group_symop.operation_xyz", "_symmetry_equiv.pos_as_xyz"}) {
        cif::Column column = block.find_values(tag);
        if (!column || column.length() == 0) continue;
        if (std::size_t(column.length()) > kMaxOperations)
            return formatted(kTooManyOperations, int(column.length()));
        for (int i = 0; i < column.length(); ++i) {
            std::string triplet = cif::as_string(column[i]);
            gemmi::Op op;
            bool outOfRange = false;
            if (!parseOperation(triplet, op, outOfRange)) {
                if (triplet.size() > 80) triplet = triplet.substr(0, 77) + "...";
                for (char& c : triplet)
                    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
                        c = '?';
                return formatted(outOfRange ? kNotASymmetry : kBadOperation, triplet.c_str());
            }
            ops.push_back(op);
        }
        addNote(out, formatted(kNoteOperations, int(ops.size())), false);
        break;
    }
    return std::nullopt;
}

std::optional<std::string> hallOperations(cif::Block& block, std::vector<gemmi::Op>& ops,
                                          CifImport& out) {
    const std::string* hall = firstValue(
        block, {"_space_group_name_Hall", "_symmetry_space_group_name_Hall", "_space_group.name_Hall"});
    if (!hall) return std::nullopt;
    const std::string symbol = cif::as_string(*hall);
    try {
        ops = allOperations(gemmi::symops_from_hall(symbol.c_str()));
    } catch (const std::exception&) {
        return formatted(kUnknownGroup, symbol.c_str());
    }
    addNote(out, formatted(kNoteHall, symbol.c_str(), int(ops.size())), false);
    return std::nullopt;
}

std::optional<std::string> hmOperations(cif::Block& block, const CellValues& cell,
                                        std::vector<gemmi::Op>& ops, CifImport& out) {
    const std::string* hm =
        firstValue(block, {"_space_group_name_H-M_alt", "_symmetry_space_group_name_H-M",
                           "_space_group.name_H-M_alt", "_space_group_name_H-M"});
    if (!hm) return std::nullopt;
    std::string symbol = cif::as_string(*hm);
    // An origin choice given on its own tag applies to a bare symbol.
    const std::string* setting = firstValue(
        block, {"_symmetry_space_group_setting", "_space_group_IT_coordinate_system_code"});
    if (setting && symbol.find(':') == std::string::npos) {
        const std::string choice = cif::as_string(*setting);
        if (choice == "1" || choice == "2") symbol += ":" + choice;
    }
    const gemmi::SpaceGroup* sg = gemmi::find_spacegroup_by_name(symbol, cell.v[3], cell.v[5]);
    if (!sg) return formatted(kUnknownGroup, symbol.c_str());
    ops = allOperations(sg->operations());
    addNote(out, formatted(kNoteHm, sg->xhm().c_str(), int(ops.size())), false);
    if ((sg->ext == '1' || sg->ext == '2') && symbol.find(':') == std::string::npos)
        addNote(out, formatted(kNoteOriginChoice, symbol.c_str()), true);
    return std::nullopt;
}

std::optional<std::string> numberedOperations(cif::Block& block, std::vector<gemmi::Op>& ops,
                                              CifImport& out) {
    const std::string* number = firstValue(
        block, {"_space_group_IT_number", "_symmetry_Int_Tables_number", "_space_group.IT_number"});
    if (!number) return std::nullopt;
    const double n = cif::as_number(*number);
    const gemmi::SpaceGroup* sg = n >= 1 && n <= 230 && n == std::floor(n)
                                      ? gemmi::find_spacegroup_by_number(int(n))
                                      : nullptr;
    if (!sg) return formatted(kUnknownGroup, number->c_str());
    ops = allOperations(sg->operations());
    addNote(out, formatted(kNoteNumber, int(n), int(ops.size())), false);
    return std::nullopt;
}

std::optional<std::string> readSymmetry(cif::Block& block, const CellValues& cell,
                                        std::vector<gemmi::Op>& ops, CifImport& out) {
    if (auto refused = listedOperations(block, ops, out)) return refused;
    if (ops.empty())
        if (auto refused = hallOperations(block, ops, out)) return refused;
    if (ops.empty())
        if (auto refused = hmOperations(block, cell, ops, out)) return refused;
    if (ops.empty())
        if (auto refused = numberedOperations(block, ops, out)) return refused;
    if (ops.empty()) {
        ops.push_back(gemmi::Op::identity());
        addNote(out, core::text(kNoteP1), true);
    }
    out.operationCount = static_cast<int>(ops.size());
    return std::nullopt;
}

// The asymmetric sites as listed, and which of them were put on a multiple of 1/12 or 1/8.
struct AsymmetricSites {
    std::vector<Site> sites;
    std::vector<std::string> snappedLabels;  // the first eight
    int snappedCount = 0;
};

// Row r of the atom-site table (columns: fract_x, fract_y, fract_z, label, type_symbol,
// occupancy, U_iso_or_equiv, B_iso_or_equiv).
std::optional<std::string> readSite(cif::Table::Row row, std::size_t r, AsymmetricSites& read,
                                    CifImport& out) {
    Site s;
    s.order = static_cast<int>(r);
    s.label = row.has2(3) ? cif::as_string(row[3]) : std::to_string(r + 1);
    const char* axes[3] = {"_atom_site_fract_x", "_atom_site_fract_y", "_atom_site_fract_z"};
    bool moved = false;
    for (int k = 0; k < 3; ++k) {
        const double v = cif::as_number(row[k]);
        if (!std::isfinite(v) || std::fabs(v) > 1e6)
            return formatted(kBadNumber, axes[k], s.label.c_str(), row[k].c_str());
        s.f[k] = snappedAtRead(v, row[k]);
        moved = moved || s.f[k] != v;
    }
    if (moved && ++read.snappedCount <= 8) read.snappedLabels.push_back(s.label);
    const std::string elementText = row.has2(4) ? cif::as_string(row[4]) : s.label;
    std::string symbol;
    s.z = elementOf(elementText, symbol);
    if (s.z == 0) return formatted(kUnknownElement, elementText.c_str(), s.label.c_str());
    if (row.has2(5)) {
        s.occupancy = cif::as_number(row[5]);
        if (!std::isfinite(s.occupancy) || s.occupancy <= 0 || s.occupancy > 1.0001)
            return formatted(kBadNumber, "_atom_site_occupancy", s.label.c_str(), row[5].c_str());
    } else if (row.has(5)) {
        addNote(out, formatted(kNoteOccupancyUnknown, s.label.c_str()), true);
    }
    if (row.has2(6)) {
        s.uIso = cif::as_number(row[6]);
        if (!std::isfinite(s.uIso) || s.uIso < 0 || s.uIso > 10)
            return formatted(kBadNumber, "_atom_site_U_iso_or_equiv", s.label.c_str(),
                             row[6].c_str());
    } else if (row.has2(7)) {
        const double bIso = cif::as_number(row[7]);
        if (!std::isfinite(bIso) || bIso < 0 || bIso > 800)
            return formatted(kBadNumber, "_atom_site_B_iso_or_equiv", s.label.c_str(),
                             row[7].c_str());
        s.uIso = bIso / (8 * 3.14159265358979323846 * 3.14159265358979323846);
    }
    read.sites.push_back(s);
    return std::nullopt;
}

std::optional<std::string> readSites(cif::Block& block, AsymmetricSites& read, CifImport& out) {
    const std::vector<std::string> siteTags = {"fract_x",         "fract_y",        "fract_z",
                                               "?label",          "?type_symbol",   "?occupancy",
                                               "?U_iso_or_equiv", "?B_iso_or_equiv"};
    const bool underscored = block.find("_atom_site_", siteTags).length() > 0;
    cif::Table table = block.find(underscored ? "_atom_site_" : "_atom_site.", siteTags);
    if (!table.ok() || table.length() == 0) return std::string(core::text(kNoSites));
    for (std::size_t r = 0; r < table.length(); ++r)
        if (auto refused = readSite(table[r], r, read, out)) return refused;
    return std::nullopt;
}

// Sites with only anisotropic parameters: U_eq taken as the mean of U11, U22 and U33 (exact
// for orthogonal axes, close for the others).
void takeAnisotropic(cif::Block& block, std::vector<Site>& sites) {
    std::unordered_map<std::string, std::vector<std::size_t>> sitesByLabel;
    for (const char* prefix : {"_atom_site_aniso_", "_atom_site_aniso."})
        for (const char* kind : {"U", "B"}) {
            const std::string k = kind;
            cif::Table aniso =
                block.find(prefix, {"label", k + "_11", k + "_22", k + "_33"});
            if (!aniso.ok()) continue;
            if (sitesByLabel.empty())
                for (std::size_t i = 0; i < sites.size(); ++i)
                    sitesByLabel[sites[i].label].push_back(i);
            for (std::size_t r = 0; r < aniso.length(); ++r) {
                cif::Table::Row row = aniso[r];
                double sum = 0;
                bool readable = true;
                for (int i = 1; i <= 3; ++i) {
                    const double v = row.has2(i) ? cif::as_number(row[i]) : NAN;
                    readable = readable && std::isfinite(v) && v >= 0 && v < 800;
                    sum += readable ? v : 0;
                }
                if (!readable) continue;
                double u = sum / 3;
                if (k == "B") u /= 8 * 3.14159265358979323846 * 3.14159265358979323846;
                const auto it = sitesByLabel.find(cif::as_string(row[0]));
                if (it == sitesByLabel.end()) continue;
                for (std::size_t i : it->second)
                    if (sites[i].uIso < 0) sites[i].uIso = u;
            }
        }
}

// The reference site: named (in any letter case), or the first of the heaviest element.
std::optional<std::string> findReference(const std::vector<Site>& sites,
                                         const std::string& referenceLabel, int& referenceSite) {
    referenceSite = -1;
    if (referenceLabel.empty()) {
        for (std::size_t i = 0; i < sites.size(); ++i)
            if (referenceSite < 0 || sites[i].z > sites[referenceSite].z)
                referenceSite = static_cast<int>(i);
        return std::nullopt;
    }
    for (std::size_t i = 0; i < sites.size() && referenceSite < 0; ++i) {
        const std::string& l = sites[i].label;
        if (l.size() == referenceLabel.size() &&
            std::equal(l.begin(), l.end(), referenceLabel.begin(), [](char p, char q) {
                return std::tolower(static_cast<unsigned char>(p)) ==
                       std::tolower(static_cast<unsigned char>(q));
            }))
            referenceSite = static_cast<int>(i);
    }
    if (referenceSite < 0) return formatted(kNoReference, referenceLabel.c_str());
    return std::nullopt;
}

// Expansion and merging, stopped as soon as the cell holds more atoms than can be used. A
// shared position keeps the site of larger occupancy; the first pair is named, the others
// counted.
std::optional<std::string> expandSites(const std::vector<Site>& sites,
                                       const std::vector<gemmi::Op>& ops, const CellValues& cell,
                                       std::vector<Site>& cellSites, CifImport& out) {
    const double* c = cell.v;
    const Metric metric = metricOf(c[0], c[1], c[2], c[3], c[4], c[5]);
    PositionIndex index(metric, c[0], c[1], c[2]);
    std::string firstShared;
    int sharedSites = 0;
    for (const Site& s : sites) {
        bool sharing = false;
        for (const gemmi::Op& op : ops) {
            std::array<double, 3> f = op.apply_to_xyz(s.f);
            for (double& v : f) v = cleaned(v);
            const int found = index.find(f);
            if (found < 0) {
                if (cellSites.size() >= static_cast<std::size_t>(kMaxAtoms))
                    return std::string(core::text(kTooManySites));
                index.add(f);
                cellSites.push_back(s);
                cellSites.back().f = f;
                continue;
            }
            Site& kept = cellSites[found];
            if (kept.order == s.order) continue;
            const bool replace = s.occupancy > kept.occupancy;
            if (!sharing) {
                sharing = true;
                if (++sharedSites == 1)
                    firstShared = formatted(kNoteShared, kept.label.c_str(), s.label.c_str(),
                                            replace ? s.label.c_str() : kept.label.c_str(),
                                            replace ? s.occupancy : kept.occupancy);
            }
            if (replace) {
                const auto f = kept.f;
                kept = s;
                kept.f = f;
            }
        }
    }
    if (sharedSites > 0) addNote(out, firstShared, true);
    if (sharedSites > 1) addNote(out, formatted(kNoteSharedMore, sharedSites - 1), true);
    return std::nullopt;
}

// The formula and Z, when given, against the cell's content.
void checkFormula(cif::Block& block, const std::vector<Site>& cellSites, CifImport& out) {
    const std::string* formula =
        firstValue(block, {"_chemical_formula_sum", "_chemical_formula.sum"});
    const std::string* zText =
        firstValue(block, {"_cell_formula_units_Z", "_cell.formula_units_Z"});
    if (!formula || !zText) return;
    const std::map<int, double> perUnit = formulaCounts(cif::as_string(*formula));
    const double units = cif::as_number(*zText);
    if (perUnit.empty() || !std::isfinite(units) || !(units > 0)) return;
    std::map<int, double> found;
    for (const Site& s : cellSites) found[s.z] += s.occupancy;
    for (const auto& [z, n] : perUnit)
        if (std::fabs(found[z] - n * units) > 0.02 * n * units + 0.01)
            addNote(out,
                    formatted(kNoteCount, int(std::lround(found[z])), symbolOfAtomicNumber(z),
                              n * units),
                    true);
}

// The setting with alpha and beta at most 90 degrees: two axes reversed where one is obtuse.
void reverseObtuseAxes(CellValues& cell, std::vector<Site>& cellSites, CifImport& out) {
    bool flip[3] = {false, false, false};
    const bool alphaObtuse = cell.v[3] > 90.0, betaObtuse = cell.v[4] > 90.0;
    const char* which = nullptr;
    const char* axes = nullptr;
    if (alphaObtuse && betaObtuse) {
        flip[0] = flip[1] = true;
        which = "alpha, beta";
        axes = "a, b";
    } else if (alphaObtuse) {
        flip[0] = flip[2] = true;
        which = "alpha";
        axes = "a, c";
    } else if (betaObtuse) {
        flip[1] = flip[2] = true;
        which = "beta";
        axes = "b, c";
    }
    if (!which) return;
    // Reversing an axis turns the two angles it makes with the others into their supplements.
    const int angleBetween[3][3] = {{-1, 5, 4}, {5, -1, 3}, {4, 3, -1}};
    bool supplement[6] = {false, false, false, false, false, false};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (i != j && flip[i] != flip[j]) supplement[angleBetween[i][j]] = true;
    for (int k = 3; k < 6; ++k)
        if (supplement[k]) {
            cell.v[k] = 180.0 - cell.v[k];
            cell.text[k] = core::formatMessage("%.8g", cell.v[k]);
        }
    for (Site& s : cellSites)
        for (int k = 0; k < 3; ++k)
            if (flip[k]) s.f[k] = cleaned(-s.f[k]);
    addNote(out,
            formatted(kNoteReversed, which, axes, cell.text[3].c_str(), cell.text[4].c_str(),
                      cell.text[5].c_str()),
            true);
}

// The reference atom moved to the origin, as row 0, and the notes on the cell.
void moveReferenceToOrigin(int referenceOrder, const AsymmetricSites& read,
                           std::vector<Site>& cellSites, CifImport& out) {
    std::size_t first = 0;
    while (first < cellSites.size() && cellSites[first].order != referenceOrder) ++first;
    if (first == cellSites.size()) first = 0;  // the reference site lost its only position
    std::rotate(cellSites.begin(), cellSites.begin() + first, cellSites.begin() + first + 1);
    const std::array<double, 3> origin = cellSites[0].f;
    for (Site& s : cellSites)
        for (int k = 0; k < 3; ++k) s.f[k] = cleaned(s.f[k] - origin[k]);
    addNote(out,
            formatted(kNoteReference, cellSites[0].label.c_str(),
                      symbolOfAtomicNumber(cellSites[0].z)),
            false);
    addNote(out, formatted(kNoteAtoms, int(cellSites.size())), false);
    if (read.snappedCount > 0) {
        std::string labels;
        for (const std::string& l : read.snappedLabels) labels += (labels.empty() ? "" : ", ") + l;
        if (read.snappedCount > static_cast<int>(read.snappedLabels.size())) labels += ", ...";
        addNote(out, formatted(kNoteSnapped, read.snappedCount, labels.c_str()), false);
    }
}

// The model: colours in turn by rising atomic number.
void fillModel(const CellValues& cell, const std::vector<Site>& cellSites, CifImport& out) {
    std::vector<int> elements;
    for (const Site& s : cellSites) elements.push_back(s.z);
    std::sort(elements.begin(), elements.end());
    elements.erase(std::unique(elements.begin(), elements.end()), elements.end());
    CrystalModel& m = out.model;
    m.a = cell.text[0];
    m.b = cell.text[1];
    m.c = cell.text[2];
    m.alpha = cell.text[3];
    m.beta = cell.text[4];
    m.gamma = cell.text[5];
    m.atoms.assign(std::max<std::size_t>(kMaxAtoms, cellSites.size()), AtomSite{});
    out.extras.clear();
    for (std::size_t i = 0; i < cellSites.size(); ++i) {
        const Site& s = cellSites[i];
        AtomSite& row = m.atoms[i];
        row.symbol = symbolOfAtomicNumber(s.z);
        row.atomicNumber = std::to_string(s.z);
        row.x = coordinateText(s.f[0]);
        row.y = coordinateText(s.f[1]);
        row.z = coordinateText(s.f[2]);
        const int colour = static_cast<int>(
            (std::lower_bound(elements.begin(), elements.end(), s.z) - elements.begin()) %
            kColourCount);
        row.colourIndex = colour;
        row.colourValue = kAtomColours[colour].value;
        out.extras.push_back({s.label, row.symbol, row.x, row.y, row.z, s.occupancy, s.uIso});
    }
    m.atomCount = static_cast<int>(cellSites.size());
    m.loadedFromFile = true;
}

// One data block into `out`: the cell, the symmetry, the sites and their expansion into the
// whole cell, in the setting the slicing expects, with the reference atom at the origin.
std::optional<std::string> importBlock(cif::Block& block, const std::string& referenceLabel,
                                       CifImport& out) {
    CellValues cell;
    if (auto refused = readCell(block, cell)) return refused;
    std::vector<gemmi::Op> ops;
    if (auto refused = readSymmetry(block, cell, ops, out)) return refused;
    AsymmetricSites read;
    if (auto refused = readSites(block, read, out)) return refused;
    takeAnisotropic(block, read.sites);
    int referenceSite = -1;
    if (auto refused = findReference(read.sites, referenceLabel, referenceSite)) return refused;
    std::vector<Site> cellSites;
    if (auto refused = expandSites(read.sites, ops, cell, cellSites, out)) return refused;
    checkFormula(block, cellSites, out);
    reverseObtuseAxes(cell, cellSites, out);
    moveReferenceToOrigin(read.sites[referenceSite].order, read, cellSites, out);
    fillModel(cell, cellSites, out);
    return std::nullopt;
}

// Duplicate block names, and duplicate tags or frame names within a block, are refused, each set
// made afresh.
void checkForDuplicates(const cif::Document& doc) {
    const auto lower = [](std::string t) {
        for (char& c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
        return t;
    };
    std::unordered_set<std::string> blocks;
    for (const cif::Block& block : doc.blocks) {
        if (!blocks.insert(lower(block.name)).second && !block.name.empty())
            throw std::runtime_error("duplicate block name: " + block.name);
        std::unordered_set<std::string> tags, frames;
        for (const cif::Item& item : block.items) {
            if (item.type == cif::ItemType::Pair) {
                if (!tags.insert(lower(item.pair[0])).second)
                    throw std::runtime_error("duplicate tag " + item.pair[0]);
            } else if (item.type == cif::ItemType::Loop) {
                for (const std::string& t : item.loop.tags)
                    if (!tags.insert(lower(t)).second)
                        throw std::runtime_error("duplicate tag " + t);
            } else if (item.type == cif::ItemType::Frame) {
                if (!frames.insert(lower(item.frame.name)).second)
                    throw std::runtime_error("duplicate save_" + item.frame.name);
            }
        }
    }
}

}  // namespace

bool hasCifSuffix(const std::string& path) {
    if (path.size() < 4) return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".cif";
}

std::optional<std::string> importCif(std::string_view bytes, const std::string& referenceLabel,
                                     CifImport& out) {
    out = CifImport{};
    if (bytes.size() > kMaxCifBytes) return std::string(core::text(kTooLarge));
    try {
        // gemmi's own duplicate check clears a set as large as the block count once per block
        // (quadratic: 300,000 blocks took minutes); the same check is made here in one pass.
        cif::Document doc;
        doc.source = "CIF";
        cif::parse_input(doc, tao::pegtl::memory_input<>(bytes.data(), bytes.size(), "CIF"));
        cif::check_for_missing_values(doc);
        checkForDuplicates(doc);
        for (cif::Block& block : doc.blocks)
            if (firstValue(block, {"_cell_length_a", "_cell.length_a"}))
                return importBlock(block, referenceLabel, out);
        if (!doc.blocks.empty()) return importBlock(doc.blocks[0], referenceLabel, out);
        return formatted(kNoCell, "_cell_length_a");
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        std::string what = e.what();
        // Keep the first line of the parser's message.
        what = what.substr(0, std::min<std::size_t>(what.find('\n'), 200));
        for (char& c : what)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
                c = '?';
        return formatted(kNotCif, what.c_str());
    }
}

bool readCifFile(const std::string& path, const std::string& referenceLabel, CifImport& out,
                 core::MessageSink& sink) {
    std::string bytes;
    switch (readInputFile(path, kMaxCifBytes, bytes)) {
    case InputRead::ok:
        break;
    case InputRead::missing:
        sink.ask("The file does not exist.", "Error", core::kIconError);
        return false;
    case InputRead::notRegular:
        sink.ask(core::text(kNotRegular), "Error", core::kIconError);
        return false;
    case InputRead::tooLarge:
        sink.ask(core::text(kTooLarge), "Error", core::kIconError);
        return false;
    case InputRead::failed:
        sink.ask("Wrong data file.", "Error", core::kIconError);
        return false;
    }
    if (auto refusal = importCif(bytes, referenceLabel, out)) {
        sink.ask(*refusal, "Error", core::kIconError);
        return false;
    }
    return true;
}

void applyCifImport(const CifImport& import, CrystalModel& model) {
    const CrystalModel& m = import.model;
    model.a = m.a;
    model.b = m.b;
    model.c = m.c;
    model.alpha = m.alpha;
    model.beta = m.beta;
    model.gamma = m.gamma;
    if (model.atoms.size() < std::size_t(m.atomCount)) model.atoms.resize(m.atomCount);
    for (int i = 0; i < m.atomCount; ++i) model.atoms[i] = m.atoms[i];
    model.atomCount = m.atomCount;
    model.loadedFromFile = true;
}

const SiteExtras* extrasOfRow(const std::vector<SiteExtras>& extras, const CrystalModel& model,
                              int row) {
    if (row < 0 || row >= static_cast<int>(extras.size()) || row >= model.atomCount ||
        row >= static_cast<int>(model.atoms.size()))
        return nullptr;
    const SiteExtras& e = extras[row];
    const AtomSite& s = model.atoms[row];
    if (e.symbol != s.symbol || e.x != s.x || e.y != s.y || e.z != s.z) return nullptr;
    return &e;
}

}  // namespace crystal
