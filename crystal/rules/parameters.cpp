#include "crystal/rules/parameters.h"

#include <cctype>

namespace crystal {

namespace {

std::string clipped(std::string_view text, std::size_t length) {
    return std::string(text.substr(0, length));
}

bool beginsWith(std::string_view entry, std::string_view text) {
    if (text.size() > entry.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(entry[i])) !=
            std::tolower(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

}  // namespace

bool latticeTextAccepted(LatticeField field, std::string_view text) {
    const double v = realOf(clipped(text, kFieldReadLength));
    switch (field) {
        case LatticeField::A:
        case LatticeField::B:
        case LatticeField::C:
            return v >= 0 && v <= 100;
        case LatticeField::Alpha:
        case LatticeField::Beta:
            return v > 0 && v <= 90;
        case LatticeField::Gamma:
            return v > 0 && v < 180;
    }
    return false;
}

bool coordinateTextAccepted(std::string_view text) {
    const double v = realOf(clipped(text, kFieldReadLength));
    return v >= 0 && v <= 1;
}

const std::vector<std::string>& coordinateChoices() {
    static const std::vector<std::string> list = {"0",   "0.25",      "0.3333333",
                                                  "0.5", "0.6666667", "0.75"};
    return list;
}

const std::vector<std::string>& directionChoices() {
    static const std::vector<std::string> list = [] {
        std::vector<std::string> out;
        for (int k = kDirectionBound; k >= -kDirectionBound; --k) out.push_back(std::to_string(k));
        return out;
    }();
    return list;
}

const std::vector<std::string>& symbolChoices() {
    static const std::vector<std::string> list(kElementSymbols, kElementSymbols + kElementCount);
    return list;
}

int prefixIndex(const std::vector<std::string>& list, std::string_view text) {
    for (std::size_t i = 0; i < list.size(); ++i)
        if (beginsWith(list[i], text)) return static_cast<int>(i);
    return -1;
}

std::string completeDirectionText(std::string_view text) {
    const std::string t = clipped(text, kFieldStoreLength);
    return prefixIndex(directionChoices(), t) >= 0 ? t : std::string("1");
}

std::string completeSymbolText(std::string_view text) {
    const std::string t = clipped(text, kFieldStoreLength);
    return prefixIndex(symbolChoices(), t) >= 0 ? t : std::string("Sr");
}

int atomicNumberOfSymbolText(std::string_view text) {
    if (const int z = atomicNumberOfSymbol(text)) return z;
    const int i = prefixIndex(symbolChoices(), text);
    return i >= 0 ? i + 1 : 0;
}

bool storeAtomRow(CrystalModel& model, int row, const RowEntry& entry) {
    if (row < 0) return false;
    if (row >= static_cast<int>(model.atoms.size())) model.atoms.resize(row + 1);
    AtomSite& site = model.atoms[row];
    if (row > 0 && isForbiddenEdgePosition(realOf(site.x), realOf(site.y), realOf(site.z)))
        return false;
    site.symbol = clipped(entry.symbol, kFieldStoreLength);
    site.atomicNumber = std::to_string(atomicNumberOfSymbolText(site.symbol));
    if (row == 0) {
        const std::string origin(1, '0');
        site.x = origin;
        site.y = origin;
        site.z = origin;
    } else {
        site.x = clipped(entry.x, kFieldStoreLength);
        site.y = clipped(entry.y, kFieldStoreLength);
        site.z = clipped(entry.z, kFieldStoreLength);
    }
    const int colour =
        entry.colourIndex >= 0 && entry.colourIndex < kColourCount ? entry.colourIndex : 0;
    site.colourIndex = colour;
    site.colourValue = kAtomColours[colour].value;
    return true;
}

RowDefaults rowDefaults(const CrystalModel& model, int row) {
    RowDefaults d;
    if (row < 0 || row >= static_cast<int>(model.atoms.size())) return d;
    const AtomSite& site = model.atoms[row];
    if (site.colourValue != 0) d.colourIndex = site.colourIndex;
    if (!site.x.empty()) d.x = site.x;
    if (!site.y.empty()) d.y = site.y;
    if (!site.z.empty()) d.z = site.z;
    if (!site.symbol.empty()) d.symbol = site.symbol;
    return d;
}

RowReuse rowReuseAfterConfirm(int rememberedAtomCount, int editRow, bool loadedFromFile) {
    if (rememberedAtomCount == 1 || editRow != 0) return RowReuse::None;
    return loadedFromFile ? RowReuse::Silently : RowReuse::Ask;
}

int sketchRowCount(bool onCreate, int editRow, int rememberedAtomCount) {
    if (onCreate || (editRow == 0 && rememberedAtomCount != 1)) return rememberedAtomCount;
    return editRow + 1;
}

}  // namespace crystal
