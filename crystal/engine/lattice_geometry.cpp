#include "crystal/engine/lattice_geometry.h"

#include <cmath>

namespace crystal {

Vec3 cartesianOf(const Lattice& l, double fa, double fb, double fc) {
    const Lattice& t = l;
    Vec3 p;
    p.x = fa * l.a + fb * l.b * t.cg + fc * l.c * t.cb;
    // With cos alpha < cos beta cos gamma the c axis leans to -y. Right angles leave a rounding
    // residue of either sign (pi has ten digits here), which keeps its old, positive form.
    const double lean = t.ca - t.cb * t.cg;
    p.y = fb * l.b * t.sg + fc * l.c * (lean < -1e-9 ? lean : std::fabs(lean)) / t.sg;
    p.z = fc * l.c * t.volumeTerm / t.sg;
    return p;
}

BeamPoint rotateToBeam(const Rotation& r, const Vec3& p) {
    BeamPoint b;
    switch (r.mode) {
        case 1:
            b.height = p.z;
            b.planeX = p.y;
            b.planeY = -p.x;
            break;
        case 2:
            b.height = -p.z;
            b.planeX = p.y;
            b.planeY = p.x;
            break;
        default:
            b.height = r.sinTheta * r.cosPhi * p.x + r.sinTheta * r.sinPhi * p.y + r.cosTheta * p.z;
            b.planeX = r.cosPhi * p.y - r.sinPhi * p.x;
            b.planeY = r.sinTheta * p.z - r.cosTheta * r.cosPhi * p.x - r.cosTheta * r.sinPhi * p.y;
            break;
    }
    if (r.turned) {
        const double x = b.planeX, y = b.planeY;
        b.planeX = r.cosPsi * x + r.sinPsi * y;
        b.planeY = r.cosPsi * y - r.sinPsi * x;
    }
    return b;
}

Vec3 unrotateFromBeam(const Rotation& r, const BeamPoint& beam) {
    BeamPoint b = beam;
    if (r.turned) {
        const double x = b.planeX, y = b.planeY;
        b.planeX = r.cosPsi * x - r.sinPsi * y;
        b.planeY = r.sinPsi * x + r.cosPsi * y;
    }
    Vec3 p;
    switch (r.mode) {
        case 1:
            p = {-b.planeY, b.planeX, b.height};
            break;
        case 2:
            p = {b.planeY, b.planeX, -b.height};
            break;
        default:
            // The rows of the rotation are orthonormal: the inverse is the transpose.
            p.x = r.sinTheta * r.cosPhi * b.height - r.sinPhi * b.planeX -
                  r.cosTheta * r.cosPhi * b.planeY;
            p.y = r.sinTheta * r.sinPhi * b.height + r.cosPhi * b.planeX -
                  r.cosTheta * r.sinPhi * b.planeY;
            p.z = r.cosTheta * b.height + r.sinTheta * b.planeY;
            break;
    }
    return p;
}

Vec3 fractionalOf(const Lattice& l, const Vec3& p) {
    Vec3 f;
    f.z = p.z * l.sg / (l.c * l.volumeTerm);
    const double lean = l.ca - l.cb * l.cg;
    f.y = (p.y - f.z * l.c * (lean < -1e-9 ? lean : std::fabs(lean)) / l.sg) / (l.b * l.sg);
    f.x = (p.x - f.y * l.b * l.cg - f.z * l.c * l.cb) / l.a;
    return f;
}

TranslationBox drawingBox(const Lattice& l) {
    TranslationBox box;
    box.k1From = -10;
    box.k1To = l.u + 10LL;
    box.k2From = l.v >= 0 ? -10 : l.v - 10LL;
    box.k2To = l.v >= 0 ? l.v + 10LL : 10;
    box.k3From = l.w >= 0 ? -10 : l.w - 10LL;
    box.k3To = l.w >= 0 ? l.w + 10LL : 10;
    return box;
}

}  // namespace crystal
