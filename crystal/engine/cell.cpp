#include "crystal/engine/cell.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace crystal {

void searchSuperCell(SlicingState& state, const BeamPoint& found) {
    const double p = std::fabs(found.planeX), q = std::fabs(found.planeY);
    // The edge is the in-plane vector alone: an image above or below row 0 (a slab's atoms sit
    // at several heights) is a translation only together with its height, which the cell's
    // periodic edge does not have.
    const BeamPoint image{found.planeX, found.planeY, 0};
    // A candidate counts only when it is a translation of the whole crystal: an atom of the
    // reference element at a bond length is not a repeat.
    if (kTolerance < p && p < state.superCellX && q < kTolerance &&
        isCrystalTranslation(state.lattice, state.rotation, image)) {
        state.superCellX = p;
        state.superCellXFound = true;
    }
    if (kTolerance < q && q < state.superCellY && p < kTolerance &&
        isCrystalTranslation(state.lattice, state.rotation, image)) {
        state.superCellY = q;
        state.superCellYFound = true;
    }
}

bool isFractionalTranslation(const Lattice& l, const Vec3& shift) {
    const std::size_t n = l.sites.size();
    const double limit = kTolerance * kTolerance;
    for (std::size_t i = 0; i < n; ++i) {
        const Vec3& s = l.sites[i];
        bool landed = false;
        for (std::size_t j = 0; j < n && !landed; ++j) {
            if (i < l.species.size() && j < l.species.size() && l.species[i] != l.species[j])
                continue;
            double d[3] = {s.x + shift.x - l.sites[j].x, s.y + shift.y - l.sites[j].y,
                           s.z + shift.z - l.sites[j].z};
            for (double& v : d) v -= std::round(v);
            const Vec3 c = cartesianOf(l, d[0], d[1], d[2]);
            landed = c.x * c.x + c.y * c.y + c.z * c.z <= limit;
        }
        if (!landed) return false;
    }
    return true;
}

bool isCrystalTranslation(const Lattice& l, const Rotation& r, const BeamPoint& image) {
    if (l.sites.empty()) return true;
    const Vec3 p = unrotateFromBeam(r, image);
    const Vec3 f = fractionalOf(l, p);
    const Vec3& s0 = l.sites[0];
    return isFractionalTranslation(l, {f.x - s0.x, f.y - s0.y, f.z - s0.z});
}

namespace {

struct Candidate {
    double f[3];                  // fractional translation
    Vec3 inPlane;                 // Cartesian, the component perpendicular to the beam
    double length = 0, tilt = 0;  // in-plane length; out-of-plane component over length
};

double dot(const Vec3& p, const Vec3& q) {
    return p.x * q.x + p.y * q.y + p.z * q.z;
}

}  // namespace

std::optional<PeriodicCell> findPeriodicCell(const Lattice& l, const Rotation& r, double maxStrain,
                                             int reach) {
    const Vec3 beamVector = cartesianOf(l, l.u, l.v, l.w);
    const double beamLength = std::sqrt(dot(beamVector, beamVector));
    if (!(beamLength > 0)) return std::nullopt;
    const Vec3 beam{beamVector.x / beamLength, beamVector.y / beamLength,
                    beamVector.z / beamLength};

    // Translations of the crystal inside one cell (centring): from row 0 to each site of its
    // element that is one.
    std::vector<Vec3> centring{{0, 0, 0}};
    if (!l.sites.empty())
        for (std::size_t j = 1; j < l.sites.size(); ++j) {
            if (j < l.species.size() && l.species[j] != l.species[0]) continue;
            Vec3 s{l.sites[j].x - l.sites[0].x, l.sites[j].y - l.sites[0].y,
                   l.sites[j].z - l.sites[0].z};
            s.x -= std::floor(s.x);
            s.y -= std::floor(s.y);
            s.z -= std::floor(s.z);
            if (isFractionalTranslation(l, s)) centring.push_back(s);
        }

    // Every edge must stay inside the drawing box, with room for the repeat along the beam,
    // since the pages and the writers take their atoms from it.
    const TranslationBox box = drawingBox(l);
    const long long from[3] = {box.k1From, box.k2From, box.k3From};
    const long long to[3] = {box.k1To, box.k2To, box.k3To};
    const long long beamSteps[3] = {l.u, l.v, l.w};

    std::vector<Candidate> candidates;
    for (long long a = -reach; a <= reach; ++a)
        for (long long b = -reach; b <= reach; ++b)
            for (long long c = -reach; c <= reach; ++c)
                for (const Vec3& s : centring) {
                    Candidate k;
                    k.f[0] = double(a) + s.x;
                    k.f[1] = double(b) + s.y;
                    k.f[2] = double(c) + s.z;
                    const Vec3 p = cartesianOf(l, k.f[0], k.f[1], k.f[2]);
                    const double along = dot(p, beam);
                    k.inPlane = {p.x - along * beam.x, p.y - along * beam.y, p.z - along * beam.z};
                    k.length = std::sqrt(dot(k.inPlane, k.inPlane));
                    if (k.length <= kTolerance) continue;
                    // Only one of each pair +t, -t.
                    const double key = k.f[0] != 0 ? k.f[0] : (k.f[1] != 0 ? k.f[1] : k.f[2]);
                    if (key < 0) continue;
                    k.tilt = std::fabs(along) / k.length;
                    if (std::fabs(along) > kTolerance && k.tilt > maxStrain) continue;
                    candidates.push_back(k);
                }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& p, const Candidate& q) { return p.length < q.length; });
    if (candidates.size() > 400) candidates.resize(400);

    const auto insideBox = [&](const Candidate& p, const Candidate& q) {
        for (int i = 0; i < 3; ++i) {
            const double corners[4] = {0, p.f[i], q.f[i], p.f[i] + q.f[i]};
            double low = 0, high = 0;
            for (double v : corners) {
                low = std::min({low, v, v + double(beamSteps[i])});
                high = std::max({high, v, v + double(beamSteps[i])});
            }
            if (low - 2 < double(from[i]) || high + 2 > double(to[i])) return false;
        }
        return true;
    };

    // Exact cells first; a strained one only when none exists.
    for (const bool exact : {true, false}) {
        const Candidate* bestP = nullptr;
        const Candidate* bestQ = nullptr;
        double bestArea = 0, bestStrain = 0;
        for (std::size_t i = 0; i < candidates.size(); ++i)
            for (std::size_t j = i + 1; j < candidates.size(); ++j) {
                const Candidate& p = candidates[i];
                const Candidate& q = candidates[j];
                const double area = p.length * q.length;
                if (bestP && area >= bestArea - 1e-9) continue;
                const double cosine = dot(p.inPlane, q.inPlane) / area;
                double strain = std::max({p.tilt, q.tilt, std::fabs(cosine)});
                const bool isExact =
                    std::fabs(cosine) * std::min(p.length, q.length) <= kTolerance &&
                    p.tilt * p.length <= kTolerance && q.tilt * q.length <= kTolerance;
                if (exact ? !isExact : strain > maxStrain) continue;
                if (!insideBox(p, q)) continue;
                if (exact) strain = 0;
                bestP = &p;
                bestQ = &q;
                bestArea = area;
                bestStrain = strain;
            }
        if (!bestP) continue;
        // The longer edge along X when they differ, the shorter as Y; ties keep the order found.
        PeriodicCell cell;
        const Candidate* px = bestP;
        const Candidate* py = bestQ;
        Rotation plain = r;
        plain.turned = false;
        const BeamPoint bx = rotateToBeam(plain, px->inPlane);
        const double lx = std::hypot(bx.planeX, bx.planeY);
        cell.cosPsi = bx.planeX / lx;
        cell.sinPsi = bx.planeY / lx;
        const BeamPoint by = rotateToBeam(plain, py->inPlane);
        const double yAlong = cell.cosPsi * by.planeY - cell.sinPsi * by.planeX;
        const int sign = yAlong < 0 ? -1 : 1;
        cell.x = px->length;
        cell.y = py->length;
        for (int i = 0; i < 3; ++i) {
            cell.t1[i] = px->f[i];
            cell.t2[i] = py->f[i] * sign;
        }
        cell.strain = bestStrain;
        return cell;
    }
    return std::nullopt;
}

void applyPeriodicCell(const PeriodicCell& cell, SlicingState& state) {
    state.rotation.turned = true;
    state.rotation.cosPsi = cell.cosPsi;
    state.rotation.sinPsi = cell.sinPsi;
    state.superCellX = cell.x;
    state.superCellY = cell.y;
    state.superCellXFound = state.superCellYFound = true;
    state.periodicCell = true;
    state.periodicStrain = cell.strain;
    for (int i = 0; i < 3; ++i) {
        state.periodicT1[i] = cell.t1[i];
        state.periodicT2[i] = cell.t2[i];
    }
}

}  // namespace crystal
