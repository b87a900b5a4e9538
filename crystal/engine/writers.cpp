#include "crystal/engine/writers.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <new>

#include "crystal/engine/slicing.h"
#include "image/file_io.h"

namespace crystal {

namespace {

struct Selected {
    const PlaneImage* image;
    double rx, ry;
};

// The images of plane n that lie inside the super cell, in the order met.
std::vector<Selected> selectedOf(const SlicingState& st, const PlaneLists& planes, int n) {
    std::vector<Selected> out;
    if (n < 0 || n >= static_cast<int>(planes.size())) return out;
    for (const PlaneImage& im : planes[n]) {
        const double rx = im.planeX / st.superCellX, ry = im.planeY / st.superCellY;
        if (-kTolerance <= rx && rx <= 1 - kTolerance && -kTolerance <= ry && ry <= 1 - kTolerance)
            out.push_back({&im, rx, ry});
    }
    return out;
}

const AtomSite& siteOf(const CrystalModel& m, const PlaneImage& im) {
    return m.atoms[im.atom];
}

}  // namespace

void splitNumberedName(const std::string& path, std::string& stem, std::string& suffix) {
    // The number goes before the extension of the file's own name (from its last dot), so a
    // dot in a folder name or a name without an extension is left whole.
    const std::size_t nameStart = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (nameStart == std::string::npos || dot > nameStart);
    const std::size_t cut = hasExtension ? dot : path.size();
    stem = path.substr(0, cut);
    suffix = path.substr(cut);
}

std::string numberedName(const std::string& path, int k) {
    std::string stem, suffix;
    splitNumberedName(path, stem, suffix);
    return stem + std::to_string(k) + suffix;
}

std::string referenceDataText(const CrystalModel& m, const SlicingState& st,
                              const PlaneLists& planes) {
    using core::formatMessage;
    std::string out;
    out += "a axis=" + m.a + "(Ang.)   b axis=" + m.b + "(Ang.)   c axis=" + m.c + "(Ang.)\r\n";
    out +=
        "alpha=" + m.alpha + "(deg.)   beta=" + m.beta + "(deg.)   gamma=" + m.gamma + "(deg.)\r\n";
    out +=
        formatMessage("u=%d   v=%d   w=%d\r\n\r\n", integerOf(m.u), integerOf(m.v), integerOf(m.w));
    out += formatMessage("X=%f(Ang.)   Y=%f(Ang.)\r\n\r\n", st.superCellX, st.superCellY);
    out +=
        "Atom    Z       Layer         X           Y\r\nName   No.    Position    Coordinate  "
        "Coordineta\r\n\r\n";
    const auto emptyLine = [&](int n) {
        out += formatMessage("         %14.7f   ---------   ---------\r\n",
                             depthOf(st, planeHeight(st, n)));
    };
    int lastWritten = 0;
    for (int n = 0; n < st.layerCount; ++n) {
        const auto rows = selectedOf(st, planes, n);
        if (!rows.empty()) {
            for (int j = lastWritten + 1; j < n; ++j) emptyLine(j);
            lastWritten = n;
        }
        for (const Selected& s : rows) {
            const AtomSite& site = siteOf(m, *s.image);
            out +=
                formatMessage(" %-3s%5s%14.7f%12.7f%12.7f\r\n", site.symbol.c_str(),
                              site.atomicNumber.c_str(), depthOf(st, s.image->height), s.rx, s.ry);
        }
    }
    for (int j = lastWritten + 1; j < st.layerCount; ++j) emptyLine(j);
    out +=
        "\r\nNote :\r\nLayer Position = Angstrom unit.\r\nX and Y Coordinates = reduced "
        "coordinates.\r\n";
    return out;
}

std::vector<int> elementList(const CrystalModel& m) {
    std::vector<int> list;
    const int count = std::min<int>(m.atomCount, static_cast<int>(m.atoms.size()));
    for (int i = 0; i < count; ++i) list.push_back(integerOf(m.atoms[i].atomicNumber));
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    if (count > 0) {
        const int reference = integerOf(m.atoms[0].atomicNumber);
        const auto it = std::find(list.begin(), list.end(), reference);
        if (it != list.end()) std::iter_swap(list.begin(), it);
    }
    return list;
}

std::vector<std::string> normalBeamTexts(const CrystalModel& m, const SlicingState& st,
                                         const PlaneLists& planes) {
    using core::formatMessage;
    const std::vector<int> elements = elementList(m);
    const double spacing = std::fabs(st.layerHeights[0] - st.layerHeights[1]);
    std::vector<std::string> survivors;  // highest file number first
    int factor = 1;
    for (int k = st.layerCount + 1; k >= 1; --k) {
        const auto rows = selectedOf(st, planes, k - 1);
        std::string file = formatMessage("  %12.7f\t%12.7f\t%12.7f\r\n", st.superCellX,
                                         st.superCellY, spacing * factor);
        file += "0\r\n";
        bool anyBlock = false;
        for (const int z : elements) {
            bool first = true;
            for (const Selected& s : rows) {
                if (integerOf(siteOf(m, *s.image).atomicNumber) != z) continue;
                if (first) {
                    if (anyBlock) file += "\r\n";
                    file += std::to_string(z) + "\r\n";
                    first = false;
                    anyBlock = true;
                }
                file += formatMessage("  %12.7f\t%12.7f\t%12.7f\r\n", 1.0, s.rx, s.ry);
            }
        }
        file += "\r\n\r\n";
        // An empty plane adds its thickness to the plane before it.
        if (rows.empty()) {
            ++factor;
            continue;
        }
        factor = 1;
        // The extra file past the last plane only carries the bookkeeping.
        if (k <= st.layerCount) survivors.push_back(std::move(file));
    }
    std::reverse(survivors.begin(), survivors.end());
    return survivors;
}

std::string convergentBeamText(const CrystalModel& m, const SlicingState& st,
                               const PlaneLists& planes) {
    using core::formatMessage;
    std::string out = formatMessage("Crystal direction : u=%d   v=%d   w=%d\r\n", integerOf(m.u),
                                    integerOf(m.v), integerOf(m.w));
    out += "      " + m.a + "    " + m.b + "    " + m.c + "\r\n";
    std::string firstRow;
    for (int n = 0; n < st.layerCount; ++n) {
        for (const Selected& s : selectedOf(st, planes, n)) {
            const char* z = siteOf(m, *s.image).atomicNumber.c_str();
            const double x = s.rx * st.superCellX, y = s.ry * st.superCellY;
            out += formatMessage("  %5s%14.7f%12.7f%12.7f   %s   %s\r\n", z, x, y,
                                 std::fabs(depthOf(st, s.image->height)), "1.0", "0.076");
            if (firstRow.empty())
                firstRow = formatMessage("  %5s%14.7f%12.7f%12.7f   %s   %s\r\n", z, x, y,
                                         st.repeatDistance, "1.0", "0.076");
        }
    }
    out += "     -1\r\n";
    out += firstRow;
    return out;
}

namespace {

enum class Kind { Reference, Normal, Convergent };

bool runWriter(CrystalState& cs, const std::string& path, const Seams& seams, Kind kind) {
    SlicingState& st = cs.slicing;
    if (st.superCellX == 0 || st.superCellY == 0) {
        seams.sink.ask(text::kNoDataFile, "Error", core::kIconWarning);
        return false;
    }
    core::BusyScope busy(seams.busy);
    core::BusyScope waitBox(seams.waitBox);
    const auto refuse = [&](const char* message) {
        waitBox.end();
        busy.end();
        seams.sink.ask(message, "Error", core::kIconError);
        return false;
    };

    // The writers repeat the orientation from the texts and use the layer table as it stands.
    Lattice lattice = latticeOf(cs.model);
    Rotation rotation;
    if (orientToBeam(lattice, rotation)) return refuse(text::kWrongRotation);
    keepTurn(rotation, st.rotation);
    // The plane lists of the last computation hold as long as the orientation is the same.
    const bool reuse = sameOrientation(lattice, rotation, st.lattice, st.rotation) &&
                       static_cast<int>(st.planeImages.size()) == st.layerCount + 1;
    st.lattice = std::move(lattice);
    st.rotation = rotation;

    std::string success;
    try {
        const PlaneLists fresh = reuse ? PlaneLists() : collectPlaneImages(st);
        const PlaneLists& planes = reuse ? st.planeImages : fresh;
        if (kind == Kind::Normal) {
            const std::vector<std::string> files = normalBeamTexts(cs.model, st, planes);
            const int m = static_cast<int>(files.size());
            // The slices are one set: the empty planes were dropped and the survivors numbered
            // before anything reaches the disk, and the files move into place only when all were
            // written, so a failure leaves every older file as it was.
            image::ReplacingSet set;
            for (int k = 1; k <= m; ++k) {
                image::ReplacingFile* file = set.add(numberedName(path, k));
                if (!file || !file->write(files[k - 1])) {
                    set.discard();
                    return refuse(text::kCannotCreate);
                }
            }
            if (!set.commit()) return refuse(text::kCannotCreate);
            // Names past the survivors were emptied planes of this run: a file of an earlier,
            // longer run there would pass for part of this set.
            for (int k = m + 1; k <= st.layerCount + 1; ++k) image::removeFile(numberedName(path, k));
            std::string stem, suffix;
            splitNumberedName(path, stem, suffix);
            success = core::formatMessage(
                "Input data file(s) for normal beam\n%s%d%s to\n%s%d%s\nhas been successfully "
                "created.",
                stem.c_str(), 1, suffix.c_str(), stem.c_str(), m, suffix.c_str());
        } else {
            const bool reference = kind == Kind::Reference;
            const std::string content = reference ? referenceDataText(cs.model, st, planes)
                                                  : convergentBeamText(cs.model, st, planes);
            if (!writeWholeFile(path, content)) return refuse(text::kCannotCreate);
            success = core::formatMessage(reference ? "Reference data file\n%s\nhas been "
                                                       "successfully created."
                                                     : "Input data file for convergent beam\n%s\n"
                                                       "has been successfully created.",
                                           path.c_str());
        }
    } catch (const std::bad_alloc&) {
        return refuse(text::kCannotCreate);
    }
    waitBox.end();
    busy.end();
    seams.sink.ask(success, "Success", core::kIconInformation);
    return true;
}

}  // namespace

bool writeReferenceData(CrystalState& state, const std::string& path, const Seams& seams) {
    return runWriter(state, path, seams, Kind::Reference);
}
bool writeNormalBeamFiles(CrystalState& state, const std::string& path, const Seams& seams) {
    return runWriter(state, path, seams, Kind::Normal);
}
bool writeConvergentBeamFile(CrystalState& state, const std::string& path, const Seams& seams) {
    return runWriter(state, path, seams, Kind::Convergent);
}

}  // namespace crystal
