#include "crystal/engine/orientation.h"

#include <algorithm>
#include <cmath>
#include <cctype>
#include <cstdlib>

namespace crystal {

long gcd(long a, long b) {
    while (b != 0) {
        const long r = a % b;
        a = b;
        b = r;
    }
    return a;
}

long gcd3(long a, long b, long c) {
    long g = gcd(std::labs(a), std::labs(b));
    if (g == 1) return 1;
    return gcd(g, std::labs(c));
}

Lattice latticeOf(const CrystalModel& m) {
    Lattice l;
    l.a = realOf(m.a);
    l.b = realOf(m.b);
    l.c = realOf(m.c);
    l.alpha = realOf(m.alpha) * kPi * (1.0 / 180.0);
    l.beta = realOf(m.beta) * kPi * (1.0 / 180.0);
    l.gamma = realOf(m.gamma) * kPi * (1.0 / 180.0);
    l.ca = std::cos(l.alpha);
    l.cb = std::cos(l.beta);
    l.cg = std::cos(l.gamma);
    l.sg = std::sin(l.gamma);
    l.volumeTerm =
        std::sqrt(std::fabs(1 - l.ca * l.ca - l.cb * l.cb - l.cg * l.cg + 2 * l.ca * l.cb * l.cg));
    l.u = integerOf(m.u);
    l.v = integerOf(m.v);
    l.w = integerOf(m.w);
    const double third = realOf("0.3333333"), twoThirds = realOf("0.6666667");
    const auto exact = [&](double v) {
        if (v == third) return 1.0 / 3.0;
        if (v == twoThirds) return 2.0 / 3.0;
        return v;
    };
    const int count = std::min<int>(m.atomCount, static_cast<int>(m.atoms.size()));
    for (int i = 0; i < count; ++i) {
        const AtomSite& s = m.atoms[i];
        l.sites.push_back({exact(realOf(s.x)), exact(realOf(s.y)), exact(realOf(s.z))});
        std::string species = s.symbol;
        for (char& c : species) c = char(std::tolower(static_cast<unsigned char>(c)));
        l.species.push_back(species);
    }
    return l;
}

std::optional<Refusal> checkCrystal(CrystalModel& model, Lattice& lattice) {
    lattice = latticeOf(model);
    if (lattice.a < 1.0 || lattice.b < 1.0 || lattice.c < 1.0)
        return Refusal{text::kNoSuchCrystal, "Error", core::kIconWarning};
    long u = lattice.u, v = lattice.v, w = lattice.w;
    if (u == 0 && v == 0 && w == 0)
        return Refusal{text::kZeroDirection, "Error", core::kIconError};

    long g;
    if (u != 0 && v != 0 && w != 0)
        g = gcd3(u, v, w);
    else if (u == 0 && v != 0 && w != 0)
        g = gcd(std::labs(v), std::labs(w));
    else if (v == 0 && u != 0 && w != 0)
        g = gcd(std::labs(u), std::labs(w));
    else if (w == 0 && u != 0 && v != 0)
        g = gcd(std::labs(u), std::labs(v));
    else
        g = std::labs(u != 0 ? u : (v != 0 ? v : w));
    if (g > 1) {
        lattice.u = static_cast<int>(u / g);
        lattice.v = static_cast<int>(v / g);
        lattice.w = static_cast<int>(w / g);
        model.u = std::to_string(lattice.u);
        model.v = std::to_string(lattice.v);
        model.w = std::to_string(lattice.w);
    }

    if (model.atomCount > kMaxAtoms)
        return Refusal{text::kTooManyAtoms, "Error", core::kIconError};
    const auto& s = lattice.sites;
    for (std::size_t i = 0; i < s.size(); ++i)
        for (std::size_t j = i + 1; j < s.size(); ++j)
            if (s[i].x == s[j].x && s[i].y == s[j].y && s[i].z == s[j].z)
                return Refusal{text::kSameCoordinates, "Error", core::kIconError};
    return std::nullopt;
}

std::optional<Refusal> orientToBeam(Lattice& l, Rotation& r) {
    l.reversed = l.u < 0;
    if (l.reversed) {
        l.u = -l.u;
        l.v = -l.v;
        l.w = -l.w;
    }
    const Vec3 beam = cartesianOf(l, l.u, l.v, l.w);
    r = Rotation{};
    if (std::fabs(beam.x) >= kTolerance || std::fabs(beam.y) >= kTolerance) {
        const double rho = std::sqrt(beam.x * beam.x + beam.y * beam.y);
        const double length = std::sqrt(beam.x * beam.x + beam.y * beam.y + beam.z * beam.z);
        r.mode = 0;
        r.cosPhi = beam.x / rho;
        r.sinPhi = beam.y / rho;
        r.sinTheta = rho / length;
        r.cosTheta = beam.z / length;
    } else if (beam.z > kTolerance) {
        r.mode = 1;
    } else if (beam.z < -kTolerance) {
        r.mode = 2;
        r.cosTheta = -1;
    } else {
        return Refusal{text::kWrongRotation, "Error", core::kIconError};
    }
    return std::nullopt;
}

std::optional<Refusal> measureRepeatDistance(const Lattice& l, const Rotation& r,
                                             double& repeatDistance) {
    const Vec3 ref = l.sites.empty() ? Vec3{} : l.sites[0];
    const BeamPoint p = rotateToBeam(r, cartesianOf(l, l.u + ref.x, l.v + ref.y, l.w + ref.z));
    if (!(p.height > 0) || !(std::fabs(p.planeX) <= kTolerance) ||
        !(std::fabs(p.planeY) <= kTolerance))
        return Refusal{text::kWrongRotation, "Error", core::kIconError};
    repeatDistance = p.height;
    return std::nullopt;
}

bool sameOrientation(const Lattice& p, const Rotation& r, const Lattice& q, const Rotation& s) {
    if (p.a != q.a || p.b != q.b || p.c != q.c || p.alpha != q.alpha || p.beta != q.beta ||
        p.gamma != q.gamma || p.u != q.u || p.v != q.v || p.w != q.w || p.reversed != q.reversed)
        return false;
    if (r.mode != s.mode || r.cosPhi != s.cosPhi || r.sinPhi != s.sinPhi ||
        r.sinTheta != s.sinTheta || r.cosTheta != s.cosTheta || r.turned != s.turned ||
        r.cosPsi != s.cosPsi || r.sinPsi != s.sinPsi)
        return false;
    if (p.sites.size() != q.sites.size()) return false;
    for (std::size_t i = 0; i < p.sites.size(); ++i)
        if (p.sites[i].x != q.sites[i].x || p.sites[i].y != q.sites[i].y ||
            p.sites[i].z != q.sites[i].z)
            return false;
    return true;
}

}  // namespace crystal
