#include "crystal/engine/slicing.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace crystal {

namespace {
constexpr int kBins = 10001;
}

namespace {

// Equal slabs: the table is the repeat cut into whole slabs near the thickness asked for.
std::optional<Refusal> sliceSlabs(SlicingState& st) {
    const double repeat = st.repeatDistance;
    const double slabs = std::max(1.0, std::round(repeat / st.slabThickness));
    if (slabs >= kLayerTableSize) return Refusal{text::kTooManyLayers, "Error", core::kIconError};
    const int count = static_cast<int>(slabs);
    st.layerSpacing = repeat / count;
    auto& lh = st.layerHeights;
    lh.fill(0.0);
    for (int j = 0; j < count; ++j) lh[j] = repeat - j * st.layerSpacing;
    st.layerCount = count;
    return std::nullopt;
}

}  // namespace

std::optional<Refusal> sliceLayers(SlicingState& st) {
    if (st.slabThickness > 0) return sliceSlabs(st);
    const Lattice& l = st.lattice;
    const double repeat = st.repeatDistance;
    std::vector<double> bins(kBins, 0.0);

    // Saturates instead of overflowing for absurd directions (which would never finish anyway).
    const double squares = double(l.u) * l.u + double(l.v) * l.v + double(l.w) * l.w;
    const long long m = squares < 1e15 ? static_cast<long long>(squares) : 1000000000000000LL;
    const long long k1From = -m, k1To = m + l.u;
    const long long k2From = l.v >= 0 ? -m : l.v - m, k2To = l.v >= 0 ? m + l.v : m;
    const long long k3From = l.w >= 0 ? -m : l.w - m, k3To = l.w >= 0 ? m + l.w : m;
    for (const Vec3& site : l.sites)
        for (long long k3 = k3From; k3 <= k3To; ++k3)
            for (long long k2 = k2From; k2 <= k2To; ++k2)
                for (long long k1 = k1From; k1 <= k1To; ++k1) {
                    const Vec3 p = cartesianOf(l, double(k1) + site.x, double(k2) + site.y,
                                               double(k3) + site.z);
                    const double h = rotateToBeam(st.rotation, p).height;
                    const double s = h * 10000 / repeat;
                    if (s >= 0 && s < kBins) bins[static_cast<int>(s)] = s;
                }
    for (double& b : bins) b = b * 0.0001 * repeat;
    std::sort(bins.begin(), bins.end());

    auto& lh = st.layerHeights;
    lh.fill(0.0);
    lh[0] = bins[kBins - 1];
    int entries = 1;
    for (int i = kBins - 2; i >= 0; --i) {
        const double e = bins[i];
        if (e > kTolerance && bins[i + 1] - e > kTolerance) {
            lh[entries++] = e;
            if (entries == 999)
                return Refusal{text::kTooManyLayersFound, "Error", core::kIconError};
        }
    }

    int q = 0;
    while (q < kLayerTableSize && lh[q] >= kTolerance) ++q;
    st.layerSpacing = 10000.0;
    for (int j = 0; j < q; ++j) st.layerSpacing = std::min(st.layerSpacing, lh[j] - lh[j + 1]);
    for (int j = 0; j < q; ++j) {
        const double d = lh[j] - lh[j + 1];
        const double r = d / st.layerSpacing;
        if (std::fabs(std::ceil(r - 0.1) - r) > kTolerance)
            return Refusal{text::kIrregularLayers, "Error", core::kIconError};
    }

    for (int j = 1; j < kLayerTableSize; ++j) lh[j] = lh[0] - j * st.layerSpacing;
    int count = 0;
    while (count < kLayerTableSize && lh[count] >= kTolerance) ++count;
    st.layerCount = count;
    if (count == kLayerTableSize) return Refusal{text::kTooManyLayers, "Error", core::kIconError};
    for (int j = count; j < kLayerTableSize; ++j) lh[j] = 0.0;

    if (!(std::fabs(lh[0] - repeat) <= kTolerance))
        return Refusal{core::formatMessage("Wrong layer number 0 value in calculation.\nMaximum "
                                            "position value of layer is %.8g instead of %.8g.",
                                            lh[0], repeat),
                       "Error", core::kIconError};
    return std::nullopt;
}

double planeHeight(const SlicingState& st, int n) {
    const int index = st.lattice.reversed ? st.layerCount - n : n;
    if (index < 0 || index >= kLayerTableSize) return 0.0;
    return st.layerHeights[index];
}

double depthOf(const SlicingState& st, double height) {
    return st.lattice.reversed ? height : height - st.layerHeights[0];
}

namespace {

template <class Visit>
void forEachImage(const SlicingState& st, Visit visit) {
    const Lattice& l = st.lattice;
    const TranslationBox box = drawingBox(l);
    for (std::size_t i = 0; i < l.sites.size(); ++i) {
        const Vec3& site = l.sites[i];
        for (long long k3 = box.k3From; k3 <= box.k3To; ++k3)
            for (long long k2 = box.k2From; k2 <= box.k2To; ++k2)
                for (long long k1 = box.k1From; k1 <= box.k1To; ++k1) {
                    const Vec3 p = cartesianOf(l, double(k1) + site.x, double(k2) + site.y,
                                               double(k3) + site.z);
                    visit(static_cast<int>(i), rotateToBeam(st.rotation, p));
                }
    }
}

}  // namespace

std::vector<std::vector<PlaneImage>> collectPlaneImages(const SlicingState& st) {
    const int planes = st.layerCount + 1;
    std::vector<std::vector<PlaneImage>> out(planes);
    if (st.layerCount <= 0 || !(st.layerSpacing > 0)) return out;
    double lowest = planeHeight(st, 0), highest = lowest;
    for (int n = 0; n < planes; ++n) {
        lowest = std::min(lowest, planeHeight(st, n));
        highest = std::max(highest, planeHeight(st, n));
    }
    const double top = st.layerHeights[0], spacing = st.layerSpacing;
    if (st.slabThickness > 0) {
        // Each plane takes the slab that the beam meets after it; an atom on a boundary (within
        // the tolerance) belongs to the plane there.
        const bool reversed = st.lattice.reversed;
        forEachImage(st, [&](int atom, const BeamPoint& p) {
            if (p.height < lowest - spacing || p.height > highest + spacing) return;
            const double below = reversed ? p.height - planeHeight(st, 0) : planeHeight(st, 0) - p.height;
            const long long n = static_cast<long long>(std::floor((below + kTolerance) / spacing));
            if (n >= 0 && n < planes) out[n].push_back({atom, p.planeX, p.planeY, p.height});
        });
        return out;
    }
    forEachImage(st, [&](int atom, const BeamPoint& p) {
        if (p.height < lowest - 2 * kTolerance || p.height > highest + 2 * kTolerance) return;
        // Planes are spaced by more than the tolerance, so only the planes next to the estimate
        // can hold the image; each is tested exactly as a plane-by-plane scan would.
        double estimate = (top - p.height) / spacing;
        if (st.lattice.reversed) estimate = st.layerCount - estimate;
        const long long centre = std::llround(estimate);
        for (long long n = std::max(0LL, centre - 3);
             n <= std::min<long long>(planes - 1, centre + 3); ++n)
            if (std::fabs(p.height - planeHeight(st, int(n))) <= kTolerance)
                out[n].push_back({atom, p.planeX, p.planeY, p.height});
    });
    return out;
}

std::vector<std::vector<PlaneImage>> collectPlaneImagesByScan(const SlicingState& st) {
    const int planes = st.layerCount + 1;
    std::vector<std::vector<PlaneImage>> out(planes > 0 ? planes : 0);
    for (int n = 0; n < planes; ++n) {
        const double h = planeHeight(st, n);
        forEachImage(st, [&](int atom, const BeamPoint& p) {
            if (std::fabs(p.height - h) <= kTolerance)
                out[n].push_back({atom, p.planeX, p.planeY, p.height});
        });
    }
    return out;
}

}  // namespace crystal
