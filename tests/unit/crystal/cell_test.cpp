#include "crystal/engine/cell.h"

#include <gtest/gtest.h>

#include <cmath>

#include "crystal/engine/cif_reader.h"
#include "crystal/engine/slicing.h"
#include "crystal_fixture.h"

using namespace crystal;
using crystal::testing::makeModel;
using crystal::testing::SliceRun;

namespace {

CrystalModel graphite(const char* u, const char* v, const char* w) {
    return makeModel("2.464", "2.464", "6.711", "90", "90", "120",
                     {{"C", "6", "0", "0", "0"},
                      {"C", "6", "0", "0", "0.5"},
                      {"C", "6", "0.3333333", "0.6666667", "0"},
                      {"C", "6", "0.6666667", "0.3333333", "0.5"}},
                     u, v, w);
}

// A double perovskite along [1 0 0]: the Sr planes repeat every a/2, the B-site planes (Ti and
// Zr alternating) only every a.
CrystalModel doublePerovskite() {
    return makeModel("7.8", "3.9", "3.9", "90", "90", "90",
                     {{"Sr", "38", "0", "0", "0"},
                      {"Sr", "38", "0.5", "0", "0"},
                      {"Ti", "22", "0.25", "0.5", "0.5"},
                      {"Zr", "40", "0.75", "0.5", "0.5"}},
                     "0", "0", "1");
}

Lattice latticeChecked(CrystalModel m) {
    Lattice l;
    EXPECT_FALSE(checkCrystal(m, l));
    Rotation r;
    EXPECT_FALSE(orientToBeam(l, r));
    return l;
}

}  // namespace

TEST(PeriodCheck, AnAtomOfTheReferenceElementAtABondLengthIsNoPeriod) {
    SliceRun run(graphite("0", "0", "1"));
    ASSERT_TRUE(run.slice());
    EXPECT_NEAR(run.state.slicing.superCellX, 2.464 * std::sqrt(3.0), 1e-6);
    EXPECT_NEAR(run.state.slicing.superCellY, 2.464, 1e-6);
    EXPECT_TRUE(run.sink.messages().empty());
}

TEST(PeriodCheck, TheReferencePlaneAloneIsNotEnough) {
    const Lattice l = latticeChecked(doublePerovskite());
    EXPECT_FALSE(isFractionalTranslation(l, {0.5, 0, 0}));  // Sr onto Sr, Ti onto Zr
    EXPECT_TRUE(isFractionalTranslation(l, {1, 0, 0}));
    EXPECT_TRUE(isFractionalTranslation(l, {0, 1, 0}));
    SliceRun run(doublePerovskite());
    ASSERT_TRUE(run.slice());
    // Along [0 0 1] the plane holds x and y: the a/2 shift of the Sr plane is skipped.
    const double edges[2] = {run.state.slicing.superCellX, run.state.slicing.superCellY};
    EXPECT_NEAR(std::max(edges[0], edges[1]), 7.8, 1e-6);
    EXPECT_NEAR(std::min(edges[0], edges[1]), 3.9, 1e-6);
}

TEST(LatticeGeometry, CartesianDistancesAreTheMetricsForEveryCell) {
    // cos alpha < cos beta cos gamma (the case the unsigned form placed wrongly), and the usual.
    const double cells[][6] = {{5.1, 6.2, 7.3, 88, 75, 70},
                               {5, 6, 7, 80, 85, 95},
                               {4, 4, 4, 90, 90, 90},
                               {3, 3, 5, 90, 90, 120}};
    for (const auto& c : cells) {
        CrystalModel m = makeModel("1", "1", "1", "90", "90", "90", {{"Si", "14", "0", "0", "0"}});
        m.a = std::to_string(c[0]);
        m.b = std::to_string(c[1]);
        m.c = std::to_string(c[2]);
        m.alpha = std::to_string(c[3]);
        m.beta = std::to_string(c[4]);
        m.gamma = std::to_string(c[5]);
        const Lattice l = latticeOf(m);
        const double d[3] = {0.3, -0.7, 0.9};
        const Vec3 p = cartesianOf(l, d[0], d[1], d[2]);
        const double g[3][3] = {{l.a * l.a, l.a * l.b * l.cg, l.a * l.c * l.cb},
                                {l.a * l.b * l.cg, l.b * l.b, l.b * l.c * l.ca},
                                {l.a * l.c * l.cb, l.b * l.c * l.ca, l.c * l.c}};
        double metric = 0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) metric += d[i] * g[i][j] * d[j];
        EXPECT_NEAR(p.x * p.x + p.y * p.y + p.z * p.z, metric, 1e-6) << c[3] << " " << c[4];
        // The inverse conversions undo the forward ones.
        const Vec3 f = fractionalOf(l, p);
        EXPECT_NEAR(f.x, d[0], 1e-12);
        EXPECT_NEAR(f.y, d[1], 1e-12);
        EXPECT_NEAR(f.z, d[2], 1e-12);
        Rotation r;
        Lattice oriented = l;
        oriented.u = 1;
        oriented.v = 2;
        oriented.w = 3;
        ASSERT_FALSE(orientToBeam(oriented, r));
        r.turned = true;
        r.cosPsi = std::cos(0.4);
        r.sinPsi = std::sin(0.4);
        const Vec3 back = unrotateFromBeam(r, rotateToBeam(r, p));
        EXPECT_NEAR(back.x, p.x, 1e-12);
        EXPECT_NEAR(back.y, p.y, 1e-12);
        EXPECT_NEAR(back.z, p.z, 1e-12);
    }
}

TEST(PeriodicCell, SmallestExactRectangles) {
    struct Case {
        CrystalModel model;
        double x, y;
    };
    // Face-centred: along [0 0 1] the square of the face diagonals' halves, a/sqrt 2, is smaller
    // than a x a; along [1 1 0] a centred rectangular net whose shortest vector is the diagonal.
    const CrystalModel fcc = makeModel("4", "4", "4", "90", "90", "90",
                                       {{"Cu", "29", "0", "0", "0"},
                                        {"Cu", "29", "0.5", "0.5", "0"},
                                        {"Cu", "29", "0.5", "0", "0.5"},
                                        {"Cu", "29", "0", "0.5", "0.5"}},
                                       "0", "0", "1");
    CrystalModel fcc110 = fcc;
    fcc110.u = "1";
    fcc110.v = "1";
    fcc110.w = "0";
    const Case cases[] = {{graphite("0", "0", "1"), 2.464 * std::sqrt(3.0), 2.464},
                          {fcc, 4 / std::sqrt(2.0), 4 / std::sqrt(2.0)},
                          {fcc110, 4.0, 4 / std::sqrt(2.0)}};
    for (const Case& c : cases) {
        SliceRun run(c.model);
        run.state.options.periodicCell = true;
        ASSERT_TRUE(run.slice());
        const SlicingState& st = run.state.slicing;
        EXPECT_TRUE(st.periodicCell);
        EXPECT_EQ(st.periodicStrain, 0.0);
        const double area = st.superCellX * st.superCellY;
        EXPECT_NEAR(area, c.x * c.y, 1e-6);
        EXPECT_NEAR(std::max(st.superCellX, st.superCellY), std::max(c.x, c.y), 1e-6);
        // The edges are translations of the whole crystal.
        const BeamPoint ex{st.superCellX, 0, 0}, ey{0, st.superCellY, 0};
        Lattice l = st.lattice;
        EXPECT_TRUE(isFractionalTranslation(l, fractionalOf(l, unrotateFromBeam(st.rotation, ex))));
        EXPECT_TRUE(isFractionalTranslation(l, fractionalOf(l, unrotateFromBeam(st.rotation, ey))));
    }
}

TEST(PeriodicCell, IrrationalPlaneGetsAStrainedCellOrARefusal) {
    CrystalModel m = makeModel("5.1", "6.2", "7.3", "88", "75", "70", {{"Cu", "29", "0", "0", "0"}},
                               "0", "0", "1");
    Lattice l = latticeChecked(m);
    Rotation r;
    ASSERT_FALSE(orientToBeam(l, r));
    const auto none = findPeriodicCell(l, r, 0.01);
    const auto loose = findPeriodicCell(l, r, 0.10);
    ASSERT_TRUE(loose);
    EXPECT_GT(loose->strain, 0.0);
    EXPECT_LE(loose->strain, 0.10);
    if (none) {
        EXPECT_LE(none->strain, 0.01);
    }

    SliceRun run(m);
    run.state.options.periodicCell = true;
    run.state.options.sliceThickness = 2;
    run.state.options.maxStrain = 1e-6;
    EXPECT_FALSE(run.slice());
    ASSERT_FALSE(run.sink.messages().empty());
    EXPECT_NE(run.sink.messages().back().text.find("periodic cell"), std::string::npos);
}

TEST(SlabSlicing, EqualSlabsWhereverTheAtomsSit) {
    // Wurtzite: the planes at 0, 0.382, 1/2 and 0.882 of c are no equally spaced ladder.
    const CrystalModel zno = makeModel("3.25", "3.25", "5.2", "90", "90", "120",
                                       {{"Zn", "30", "0", "0", "0"},
                                        {"Zn", "30", "0.3333333", "0.6666667", "0.5"},
                                        {"O", "8", "0", "0", "0.382"},
                                        {"O", "8", "0.3333333", "0.6666667", "0.882"}},
                                       "0", "0", "1");
    SliceRun planes(zno);
    EXPECT_FALSE(planes.slice());
    SliceRun slabs(zno);
    slabs.state.options.sliceThickness = 1.3;
    ASSERT_TRUE(slabs.slice());
    const SlicingState& st = slabs.state.slicing;
    EXPECT_EQ(st.layerCount, 4);
    EXPECT_NEAR(st.layerSpacing, 1.3, 1e-12);
    // Every atom of one repeat is in exactly one slab: the slabs of planes 0..3 hold the
    // cell's four atoms once per lattice point of the drawn plane area, two Zn and two O
    // columns each, in the order the beam meets them.
    std::size_t zinc = 0, oxygen = 0;
    for (int n = 0; n < st.layerCount; ++n)
        for (const PlaneImage& im : st.planeImages[n])
            (slabs.state.model.atoms[im.atom].symbol == "Zn" ? zinc : oxygen) += 1;
    EXPECT_EQ(zinc, oxygen);
    for (int n = 0; n < st.layerCount; ++n) {
        const double top = planeHeight(st, n);
        for (const PlaneImage& im : st.planeImages[n]) {
            EXPECT_LE(im.height, top + kTolerance);
            EXPECT_GT(im.height, top - st.layerSpacing + kTolerance - 1e-12);
        }
    }
}

TEST(PeriodCheck, ACellThatIsNoPeriodKeepsTheWarning) {
    // The former benchmark cell: thirteen silicon columns and oxygen layers above them, the
    // seventh layer holding 9 of its 13 sites. Its silicon plane repeats, the crystal does not.
    CrystalModel m = makeModel("10", "10", "10", "90", "90", "90", {}, "3", "2", "1");
    const auto fraction = [](int n, int d) { return std::to_string(double(n % d) / d); };
    int row = 0;
    for (int k = 0; k < 13; ++k)
        m.atoms[row++] = AtomSite{"Si", "14", fraction(3 * k, 13), fraction(2 * k, 13), "0", 3,
                                  kAtomColours[3].value};
    for (int j = 1; j <= 7 && row < 100; ++j)
        for (int k = 0; k < 13 && row < 100; ++k)
            m.atoms[row++] = AtomSite{"O", "8", fraction(3 * k, 13), fraction(2 * k, 13),
                                      fraction(j, 20), 6, kAtomColours[6].value};
    m.atomCount = row;
    SliceRun run(m);
    ASSERT_TRUE(run.slice());
    const auto messages = run.sink.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, text::kNoSuperCell);
    EXPECT_EQ(run.state.slicing.superCellX, 0.0);
}
