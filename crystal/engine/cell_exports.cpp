#include "crystal/engine/cell_exports.h"

#include <algorithm>
#include <cmath>

#include "crystal/engine/cell.h"
#include "crystal/engine/slicing.h"

namespace crystal {

namespace {

// (span - v) mod span in [0, span) for a coordinate v selected in [-tolerance, span - tolerance):
// the mirror of the in-plane axis, images within the tolerance of the edge landing at 0.
double mirrored(double v, double span, double tolerance) {
    double m = span - v;
    if (m > span - tolerance) m -= span;
    return std::max(m, 0.0);
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
    const bool reversed = l.reversed;
    // Depth runs the way the beam travels, against +[u v w]. Without reversal the plane frame
    // (planeX, planeY, height) has height along +[u v w], so x, y and the depth would make a
    // left-handed frame and the cell the crystal's mirror image: y is written reversed there.
    const bool mirrorY = !reversed;
    const double top = planeHeight(st, 0);
    const double bottom = reversed ? top + cell.repeat : top - cell.repeat;

    // Lattice steps that reach every corner of the prism, and one more for the sites' offsets.
    double low[3] = {1e300, 1e300, 1e300}, high[3] = {-1e300, -1e300, -1e300};
    for (double px : {0.0, cell.x})
        for (double py : {0.0, cell.y})
            for (double h : {top, bottom}) {
                const Vec3 f = fractionalOf(l, unrotateFromBeam(st.rotation, {px, py, h}));
                const double v[3] = {f.x, f.y, f.z};
                for (int i = 0; i < 3; ++i) {
                    low[i] = std::min(low[i], v[i]);
                    high[i] = std::max(high[i], v[i]);
                }
            }
    long long from[3], to[3];
    for (int i = 0; i < 3; ++i) {
        from[i] = static_cast<long long>(std::floor(low[i])) - 1;
        to[i] = static_cast<long long>(std::ceil(high[i])) + 1;
    }

    // A strained cell: its edges T1, T2 (lattice translations, not quite perpendicular, perhaps
    // tilted out of the plane) and the repeat T3 along the beam span one true period of the
    // crystal. Its atoms are those with fractional coordinates g in [0, 1) in the basis T1, T2,
    // T3, written at g times the rectangle X x Y x repeat: the affine map that takes T1 and T2
    // onto the rectangle's edges, so the written cell is a period of the strained crystal.
    const bool strained = st.periodicCell && st.periodicStrain > 0;
    const BeamPoint zero = rotateToBeam(st.rotation, {0, 0, 0});
    const auto frameOf = [&](const double f[3]) {
        const BeamPoint b = rotateToBeam(st.rotation, cartesianOf(l, f[0], f[1], f[2]));
        const double dh = b.height - zero.height;
        return Vec3{b.planeX - zero.planeX, b.planeY - zero.planeY, reversed ? dh : -dh};
    };
    Vec3 e1{cell.x, 0, 0}, e2{0, cell.y, 0};
    double det2 = cell.x * cell.y;
    if (strained) {
        e1 = frameOf(st.periodicT1);
        e2 = frameOf(st.periodicT2);
        det2 = e1.x * e2.y - e1.y * e2.x;
        if (!(std::fabs(det2) > kTolerance)) return cell;
        for (int i = 0; i < 3; ++i) {
            low[i] = 1e300;
            high[i] = -1e300;
        }
        for (int a : {0, 1})
            for (int b : {0, 1})
                for (int c : {0, 1}) {
                    const double px = a * e1.x + b * e2.x, py = a * e1.y + b * e2.y;
                    const double depth = a * e1.z + b * e2.z + c * cell.repeat;
                    const double h = reversed ? top + depth : top - depth;
                    const Vec3 f = fractionalOf(l, unrotateFromBeam(st.rotation, {px, py, h}));
                    const double v[3] = {f.x, f.y, f.z};
                    for (int i = 0; i < 3; ++i) {
                        low[i] = std::min(low[i], v[i]);
                        high[i] = std::max(high[i], v[i]);
                    }
                }
        for (int i = 0; i < 3; ++i) {
            from[i] = static_cast<long long>(std::floor(low[i])) - 1;
            to[i] = static_cast<long long>(std::ceil(high[i])) + 1;
        }
    }
    const double tol1 = kTolerance / std::sqrt(e1.x * e1.x + e1.y * e1.y + e1.z * e1.z);
    const double tol2 = kTolerance / std::sqrt(e2.x * e2.x + e2.y * e2.y + e2.z * e2.z);
    const double tol3 = kTolerance / cell.repeat;

    const int rows = std::min<int>(static_cast<int>(l.sites.size()), model.atomCount);
    for (int i = 0; i < rows; ++i) {
        const Vec3& s = l.sites[i];
        const AtomSite& site = model.atoms[i];
        CellAtom atom;
        atom.z = integerOf(site.atomicNumber);
        const int known = atomicNumberOfSymbol(site.symbol);
        atom.symbol = known > 0 ? kElementSymbols[known - 1] : site.symbol;
        if (const SiteExtras* e = extrasOfRow(extras, model, i)) {
            atom.occupancy = e->occupancy;
            if (e->uIso >= 0) atom.rms = std::sqrt(e->uIso);
        }
        for (long long k3 = from[2]; k3 <= to[2]; ++k3)
            for (long long k2 = from[1]; k2 <= to[1]; ++k2)
                for (long long k1 = from[0]; k1 <= to[0]; ++k1) {
                    const BeamPoint p = rotateToBeam(
                        st.rotation,
                        cartesianOf(l, double(k1) + s.x, double(k2) + s.y, double(k3) + s.z));
                    const double depth = reversed ? p.height - top : top - p.height;
                    if (strained) {
                        const double g1 = (p.planeX * e2.y - p.planeY * e2.x) / det2;
                        const double g2 = (e1.x * p.planeY - e1.y * p.planeX) / det2;
                        const double g3 = (depth - g1 * e1.z - g2 * e2.z) / cell.repeat;
                        if (g1 < -tol1 || g1 >= 1 - tol1) continue;
                        if (g2 < -tol2 || g2 >= 1 - tol2) continue;
                        if (g3 < -tol3 || g3 >= 1 - tol3) continue;
                        atom.x = std::max(g1, 0.0) * cell.x;
                        atom.y = (mirrorY ? mirrored(g2, 1.0, tol2) : std::max(g2, 0.0)) * cell.y;
                        atom.depth = std::max(g3, 0.0) * cell.repeat;
                        cell.atoms.push_back(atom);
                        continue;
                    }
                    if (p.planeX < -kTolerance || p.planeX >= cell.x - kTolerance) continue;
                    if (p.planeY < -kTolerance || p.planeY >= cell.y - kTolerance) continue;
                    if (depth < -kTolerance || depth >= cell.repeat - kTolerance) continue;
                    atom.x = std::max(p.planeX, 0.0);
                    atom.y = mirrorY ? mirrored(p.planeY, cell.y, kTolerance)
                                     : std::max(p.planeY, 0.0);
                    atom.depth = std::max(depth, 0.0);
                    cell.atoms.push_back(atom);
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

}  // namespace crystal
