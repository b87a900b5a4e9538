#include "crystal/engine/cell_exports.h"

#include <algorithm>
#include <cmath>

#include "crystal/engine/cell.h"
#include "crystal/engine/slicing.h"

namespace crystal {

CellContent periodicCellContent(const CrystalModel& model, const std::vector<SiteExtras>& extras,
                                const SlicingState& st) {
    CellContent cell;
    cell.x = st.superCellX;
    cell.y = st.superCellY;
    cell.repeat = st.repeatDistance;
    const Lattice& l = st.lattice;
    if (!(cell.x > 0 && cell.y > 0 && cell.repeat > 0)) return cell;
    const bool reversed = l.reversed;
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
                    if (p.planeX < -kTolerance || p.planeX >= cell.x - kTolerance) continue;
                    if (p.planeY < -kTolerance || p.planeY >= cell.y - kTolerance) continue;
                    if (depth < -kTolerance || depth >= cell.repeat - kTolerance) continue;
                    atom.x = std::max(p.planeX, 0.0);
                    atom.y = std::max(p.planeY, 0.0);
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
