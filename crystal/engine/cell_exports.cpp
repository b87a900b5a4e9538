#include "crystal/engine/cell_exports.h"

#include <algorithm>
#include <cmath>

#include "crystal/engine/cell.h"
#include "crystal/engine/crystal_model.h"
#include "crystal/engine/slicing.h"
#include "crystal/engine/writers.h"

namespace crystal {

namespace {

// (span - v) mod span in [0, span) for a coordinate v selected in [-tolerance, span - tolerance):
// the mirror of the in-plane axis, images within the tolerance of the edge landing at 0.
double mirrored(double v, double span, double tolerance) {
    double m = span - v;
    if (m > span - tolerance) m -= span;
    return std::max(m, 0.0);
}

// The cell in the beam frame: its in-plane edges e1, e2 (x, y and depth), the repeat along the
// beam and where its top lies.
struct CellFrame {
    Vec3 e1, e2;
    double det2 = 0;  // e1 x e2 in the plane
    double repeat = 0;
    double top = 0;
    bool reversed = false;
    bool strained = false;
    bool mirrorY = false;
    double tol1 = 0, tol2 = 0, tol3 = 0;  // the tolerance in fractions of e1, e2 and the repeat
};

// Lattice steps k1, k2, k3 that reach every corner of the cell's prism, and one more for the
// sites' offsets.
struct StepRange {
    long long from[3], to[3];
};

StepRange stepsOver(const SlicingState& st, const CellFrame& c) {
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    for (int a : {0, 1})
        for (int b : {0, 1})
            for (int k : {0, 1}) {
                const double px = a * c.e1.x + b * c.e2.x, py = a * c.e1.y + b * c.e2.y;
                const double depth = a * c.e1.z + b * c.e2.z + k * c.repeat;
                const double h = c.reversed ? c.top + depth : c.top - depth;
                const Vec3 f = fractionalOf(st.lattice, unrotateFromBeam(st.rotation, {px, py, h}));
                const double v[3] = {f.x, f.y, f.z};
                for (int i = 0; i < 3; ++i) {
                    low[i] = std::min(low[i], v[i]);
                    high[i] = std::max(high[i], v[i]);
                }
            }
    StepRange r;
    for (int i = 0; i < 3; ++i) {
        r.from[i] = static_cast<long long>(std::floor(low[i])) - 1;
        r.to[i] = static_cast<long long>(std::ceil(high[i])) + 1;
    }
    return r;
}

// Places the lattice point p in the cell: false when it lies outside.
bool placeInCell(const CellFrame& c, const CellContent& cell, const BeamPoint& p, CellAtom& atom) {
    const double depth = c.reversed ? p.height - c.top : c.top - p.height;
    if (c.strained) {
        const double g1 = (p.planeX * c.e2.y - p.planeY * c.e2.x) / c.det2;
        const double g2 = (c.e1.x * p.planeY - c.e1.y * p.planeX) / c.det2;
        const double g3 = (depth - g1 * c.e1.z - g2 * c.e2.z) / cell.repeat;
        if (g1 < -c.tol1 || g1 >= 1 - c.tol1) return false;
        if (g2 < -c.tol2 || g2 >= 1 - c.tol2) return false;
        if (g3 < -c.tol3 || g3 >= 1 - c.tol3) return false;
        atom.x = std::max(g1, 0.0) * cell.x;
        atom.y = (c.mirrorY ? mirrored(g2, 1.0, c.tol2) : std::max(g2, 0.0)) * cell.y;
        atom.depth = std::max(g3, 0.0) * cell.repeat;
        return true;
    }
    if (p.planeX < -kTolerance || p.planeX >= cell.x - kTolerance) return false;
    if (p.planeY < -kTolerance || p.planeY >= cell.y - kTolerance) return false;
    if (depth < -kTolerance || depth >= cell.repeat - kTolerance) return false;
    atom.x = std::max(p.planeX, 0.0);
    atom.y = c.mirrorY ? mirrored(p.planeY, cell.y, kTolerance) : std::max(p.planeY, 0.0);
    atom.depth = std::max(depth, 0.0);
    return true;
}

// Row i of the model as an atom of the cell, without its position.
CellAtom cellAtomOf(const CrystalModel& model, const std::vector<SiteExtras>& extras, int i) {
    const AtomSite& site = model.atoms[i];
    CellAtom atom;
    atom.z = integerOf(site.atomicNumber);
    const int known = atomicNumberOfSymbol(site.symbol);
    atom.symbol = known > 0 ? kElementSymbols[known - 1] : site.symbol;
    if (const SiteExtras* e = extrasOfRow(extras, model, i)) {
        atom.occupancy = e->occupancy;
        if (e->uIso >= 0) atom.rms = std::sqrt(e->uIso);
    }
    return atom;
}

}  // namespace

CellContent periodicCellContent(const CrystalModel& model, const std::vector<SiteExtras>& extras,
                                const SlicingState& st) {
    CellContent cell;
    cell.x = st.superCellX;
    cell.y = st.superCellY;
    cell.repeat = st.repeatDistance;
    const Lattice& l = st.lattice;
    if (!(cell.x > 0 && cell.y > 0 && cell.repeat > 0)) return cell;
    CellFrame c;
    c.reversed = l.reversed;
    // Depth runs the way the beam travels, against +[u v w]. Without reversal the plane frame
    // (planeX, planeY, height) has height along +[u v w], so x, y and the depth would make a
    // left-handed frame and the cell the crystal's mirror image: y is written reversed there.
    c.mirrorY = !c.reversed;
    c.top = planeHeight(st, 0);
    c.repeat = cell.repeat;

    // A strained cell: its edges T1, T2 (lattice translations, not quite perpendicular, perhaps
    // tilted out of the plane) and the repeat T3 along the beam span one true period of the
    // crystal. Its atoms are those with fractional coordinates g in [0, 1) in the basis T1, T2,
    // T3, written at g times the rectangle X x Y x repeat: the affine map that takes T1 and T2
    // onto the rectangle's edges, so the written cell is a period of the strained crystal.
    c.strained = st.periodicCell && st.periodicStrain > 0;
    const BeamPoint zero = rotateToBeam(st.rotation, {0, 0, 0});
    const auto frameOf = [&](const double f[3]) {
        const BeamPoint b = rotateToBeam(st.rotation, cartesianOf(l, f[0], f[1], f[2]));
        const double dh = b.height - zero.height;
        return Vec3{b.planeX - zero.planeX, b.planeY - zero.planeY, c.reversed ? dh : -dh};
    };
    c.e1 = Vec3{cell.x, 0, 0};
    c.e2 = Vec3{0, cell.y, 0};
    c.det2 = cell.x * cell.y;
    if (c.strained) {
        c.e1 = frameOf(st.periodicT1);
        c.e2 = frameOf(st.periodicT2);
        c.det2 = c.e1.x * c.e2.y - c.e1.y * c.e2.x;
        if (!(std::fabs(c.det2) > kTolerance)) return cell;
    }
    const StepRange steps = stepsOver(st, c);
    c.tol1 = kTolerance / std::sqrt(c.e1.x * c.e1.x + c.e1.y * c.e1.y + c.e1.z * c.e1.z);
    c.tol2 = kTolerance / std::sqrt(c.e2.x * c.e2.x + c.e2.y * c.e2.y + c.e2.z * c.e2.z);
    c.tol3 = kTolerance / cell.repeat;

    const int rows = std::min<int>(static_cast<int>(l.sites.size()), model.atomCount);
    for (int i = 0; i < rows; ++i) {
        const Vec3& s = l.sites[i];
        CellAtom atom = cellAtomOf(model, extras, i);
        for (long long k3 = steps.from[2]; k3 <= steps.to[2]; ++k3)
            for (long long k2 = steps.from[1]; k2 <= steps.to[1]; ++k2)
                for (long long k1 = steps.from[0]; k1 <= steps.to[0]; ++k1) {
                    const BeamPoint p = rotateToBeam(
                        st.rotation,
                        cartesianOf(l, double(k1) + s.x, double(k2) + s.y, double(k3) + s.z));
                    if (placeInCell(c, cell, p, atom)) cell.atoms.push_back(atom);
                }
    }
    // Top to bottom, as the beam meets them.
    std::stable_sort(
        cell.atoms.begin(), cell.atoms.end(),
        [](const CellAtom& p, const CellAtom& q) { return p.depth < q.depth - kTolerance; });
    return cell;
}

CellContent tiled(const CellContent& cell, int nx, int ny, int nz) {
    CellContent out;
    out.x = cell.x * nx;
    out.y = cell.y * ny;
    out.repeat = cell.repeat * nz;
    out.atoms.reserve(cell.atoms.size() * std::size_t(nx) * ny * nz);
    for (int k = 0; k < nz; ++k)
        for (const CellAtom& a : cell.atoms)
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx; ++i) {
                    CellAtom b = a;
                    b.x += i * cell.x;
                    b.y += j * cell.y;
                    b.depth += k * cell.repeat;
                    out.atoms.push_back(b);
                }
    return out;
}

std::string prismaticText(const CellContent& cell, const std::string& comment) {
    using core::formatMessage;
    std::string out = comment + "\r\n";
    out += formatMessage("    %.7f %.7f %.7f\r\n", cell.x, cell.y, cell.repeat);
    for (const CellAtom& a : cell.atoms)
        out += formatMessage("%d %.7f %.7f %.7f %.4f %.4f\r\n", a.z, a.x, a.y, a.depth, a.occupancy,
                             a.rms);
    out += "-1\r\n";
    return out;
}

std::string extendedXyzText(const CellContent& cell, const std::string& comment) {
    using core::formatMessage;
    std::string out = std::to_string(cell.atoms.size()) + "\r\n";
    std::string quoted = comment;
    std::replace(quoted.begin(), quoted.end(), '"', '\'');
    out += formatMessage(
        "Lattice=\"%.7f 0.0 0.0 0.0 %.7f 0.0 0.0 0.0 %.7f\" "
        "Properties=species:S:1:pos:R:3:occupancy:R:1:u_rms:R:1 pbc=\"T T T\" comment=\"%s\"\r\n",
        cell.x, cell.y, cell.repeat, quoted.c_str());
    for (const CellAtom& a : cell.atoms)
        out += formatMessage("%-2s %14.7f %14.7f %14.7f %.4f %.4f\r\n", a.symbol.c_str(), a.x, a.y,
                             a.depth, a.occupancy, a.rms);
    return out;
}

namespace {

constexpr core::Localized kCellWritten{
    "Periodic cell file\n%s\nhas been successfully created (%lu atoms).",
    "周期セルのファイル\n%s\nを作成しました (原子 %lu 個)。"};

}  // namespace

std::string cellComment(const CrystalModel& model, const Tiling& tiling) {
    return core::formatMessage("kestral-cli [%s %s %s] periodic cell %d x %d x %d", model.u.c_str(),
                               model.v.c_str(), model.w.c_str(), tiling.nx, tiling.ny, tiling.nz);
}

bool writeCellFile(const std::string& path, const CellContent& tiled, CellFormat format,
                   const std::string& comment, core::MessageSink& sink) {
    const std::string content = format == CellFormat::Prismatic ? prismaticText(tiled, comment)
                                                                : extendedXyzText(tiled, comment);
    if (!writeWholeFile(path, content)) {
        sink.ask(text::kCannotCreate, "Error", core::kIconError);
        return false;
    }
    sink.ask(core::formatMessage(core::text(kCellWritten), path.c_str(),
                                 static_cast<unsigned long>(tiled.atoms.size())),
             "Success", core::kIconInformation);
    return true;
}

}  // namespace crystal
