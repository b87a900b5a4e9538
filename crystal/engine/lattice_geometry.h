// Lattice geometry: the crystal as numbers and the conversions between its frames.
//
// Frames: the Cartesian frame has x along a, y in the plane of a and b, z completing a
// right-handed set (Angstrom). The beam frame has `height` along [u v w] (after the direction is
// made to have u >= 0) and the in-plane coordinates planeX, planeY; (planeX, planeY, height) is
// right-handed. Every closeness test uses `kTolerance` (Angstrom).
//
// Angles use pi as the ten-digit literal 3.141592654, so that heights and the files written from
// them keep the same digits across versions.
#pragma once

#include <string>
#include <vector>

namespace crystal {

inline constexpr double kTolerance = 0.001;
inline constexpr double kPi = 3.141592654;

struct Vec3 {
    double x = 0, y = 0, z = 0;
};
struct BeamPoint {
    double planeX = 0, planeY = 0, height = 0;
};

// The crystal as numbers, after the conversions and checks of an orientation pass.
struct Lattice {
    double a = 0, b = 0, c = 0;
    double alpha = 0, beta = 0, gamma = 0;  // radians
    double ca = 1, cb = 1, cg = 1, sg = 0;  // their cosines, and the sine of gamma
    double volumeTerm = 0;    // sqrt|1 - ca^2 - cb^2 - cg^2 + 2 ca cb cg|, constant per lattice
    int u = 0, v = 0, w = 0;  // reduced, u >= 0
    bool reversed = false;
    std::vector<Vec3> sites;           // fractional coordinates after the one-third replacement
    std::vector<std::string> species;  // each site's symbol in lower case
};

struct Rotation {
    int mode = 0;  // 0 general, 1 beam along +z, 2 beam along -z
    double cosPhi = 1, sinPhi = 0, sinTheta = 0, cosTheta = 1;
    // A further turn about the beam, set only when the in-plane axes are chosen for a periodic
    // cell; off, the in-plane coordinates are those of the three modes as they are.
    bool turned = false;
    double cosPsi = 1, sinPsi = 0;
};

Vec3 cartesianOf(const Lattice& lattice, double fa, double fb, double fc);
BeamPoint rotateToBeam(const Rotation& rotation, const Vec3& p);

// The inverse conversions: beam frame to Cartesian, Cartesian to fractional coordinates.
Vec3 unrotateFromBeam(const Rotation& rotation, const BeamPoint& p);
Vec3 fractionalOf(const Lattice& lattice, const Vec3& p);

// Lattice translations visited by the drawing and the writers.
struct TranslationBox {
    long long k1From, k1To, k2From, k2To, k3From, k3To;
};
TranslationBox drawingBox(const Lattice& lattice);

}  // namespace crystal
