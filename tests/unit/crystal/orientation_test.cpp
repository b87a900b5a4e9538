#include "crystal/engine/orientation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "crystal_fixture.h"

using namespace crystal;
using crystal::testing::makeModel;
using crystal::testing::SliceRun;
using crystal::testing::strontiumTitanate;

namespace {

CrystalModel cubic(const char* u, const char* v, const char* w) {
    return makeModel("4", "4", "4", "90", "90", "90", {{"Si", "14", "0", "0", "0", 3}}, u, v, w);
}

}  // namespace

TEST(Orientation, GcdFollowsEuclid) {
    EXPECT_EQ(gcd(12, 18), 6);
    EXPECT_EQ(gcd(7, 0), 7);
    EXPECT_EQ(gcd3(-4, 6, 8), 2);
    EXPECT_EQ(gcd3(3, 5, 9), 1);
}

TEST(Orientation, DirectionIsReducedAndItsTextsRewritten) {
    CrystalModel m = cubic("2", "4", "6");
    Lattice l;
    EXPECT_FALSE(checkCrystal(m, l));
    EXPECT_EQ(m.u + m.v + m.w, "123");
    m = cubic("0", "0", "-3");
    EXPECT_FALSE(checkCrystal(m, l));
    EXPECT_EQ(m.w, "-1");
    m = cubic("0", "-4", "6");
    EXPECT_FALSE(checkCrystal(m, l));
    EXPECT_EQ(m.v + m.w, "-23");
}

TEST(Orientation, RefusesWithTheExactMessages) {
    struct Case {
        CrystalModel model;
        const char* text;
        unsigned style;
    };
    CrystalModel small = cubic("1", "0", "0");
    small.b = "0.9";
    CrystalModel many = cubic("1", "0", "0");
    many.atoms.resize(101);
    for (int i = 0; i < 101; ++i)
        many.atoms[i] = AtomSite{"Si", "14", std::to_string(i / 200.0), "0", "0", 3, 0};
    many.atomCount = 101;
    // Same position once the one-third replacement has run on both rows.
    CrystalModel twins = makeModel("4", "4", "4", "90", "90", "90",
                                   {{"Si", "14", "0", "0", "0"},
                                    {"O", "8", "0.3333333", "0.5", "0"},
                                    {"O", "8", "0.3333333", "0.50", "0"}});
    Case cases[] = {
        {small, text::kNoSuchCrystal, core::kIconWarning},
        {cubic("0", "0", "0"), text::kZeroDirection, core::kIconError},
        {many, text::kTooManyAtoms, core::kIconError},
        {twins, text::kSameCoordinates, core::kIconError},
    };
    for (Case& c : cases) {
        SliceRun run(c.model);
        EXPECT_FALSE(run.slice());
        const auto messages = run.sink.messages();
        ASSERT_EQ(messages.size(), 1u) << c.text;
        EXPECT_EQ(messages[0].text, c.text);
        EXPECT_EQ(messages[0].caption, "Error");
        EXPECT_EQ(messages[0].style, c.style);
        // These checks come before the busy state.
        EXPECT_EQ(run.sink.events.size(), 1u);
    }
}

TEST(Orientation, OneThirdReplacementOnlyForTheSevenDigitText) {
    CrystalModel m = makeModel("4", "4", "4", "90", "90", "90",
                               {{"Si", "14", "0", "0", "0"},
                                {"O", "8", "0.3333333", "0", "0"},
                                {"O", "8", "0.33333333", "0", "0"},
                                {"O", "8", "0.6666667", "0", "0"}});
    Lattice l;
    EXPECT_FALSE(checkCrystal(m, l));  // not duplicates
    EXPECT_EQ(l.sites[1].x, 1.0 / 3.0);
    EXPECT_EQ(l.sites[2].x, 0.33333333);
    EXPECT_EQ(l.sites[3].x, 2.0 / 3.0);
}

TEST(Orientation, RotationModesAndReversal) {
    const struct {
        const char *u, *v, *w;
        int mode;
        bool reversed;
    } cases[] = {{"0", "0", "1", 1, false},
                 {"0", "0", "-1", 2, false},
                 {"-1", "0", "0", 0, true},
                 {"1", "1", "1", 0, false}};
    for (const auto& c : cases) {
        CrystalModel m = cubic(c.u, c.v, c.w);
        Lattice l;
        Rotation r;
        ASSERT_FALSE(checkCrystal(m, l));
        ASSERT_FALSE(orientToBeam(l, r));
        EXPECT_EQ(r.mode, c.mode) << c.u << c.v << c.w;
        EXPECT_EQ(l.reversed, c.reversed);
        EXPECT_GE(l.u, 0);
        // [u v w] itself lies on the beam axis, at height |L|.
        const BeamPoint p = rotateToBeam(r, cartesianOf(l, l.u, l.v, l.w));
        EXPECT_NEAR(p.planeX, 0, 1e-9);
        EXPECT_NEAR(p.planeY, 0, 1e-9);
        EXPECT_NEAR(p.height, 4 * std::sqrt(double(l.u * l.u + l.v * l.v + l.w * l.w)), 1e-6);
    }
}

TEST(Orientation, CartesianKeepsTheSignOfTheAlphaTerm) {
    CrystalModel m = makeModel("2", "2", "2", "90", "60", "60", {{"Si", "14", "0", "0", "0"}});
    const Lattice l = latticeOf(m);
    const Vec3 p = cartesianOf(l, 0, 0, 1);
    // (cos 90 - cos 60 cos 60) / sin 60 = -0.25 / sin 60: c leans away from b, so that the angle
    // between b and c is the cell's 90 degrees.
    EXPECT_NEAR(p.y, -2 * 0.25 / std::sin(kPi / 3), 1e-6);
    const Vec3 b = cartesianOf(l, 0, 1, 0);
    EXPECT_NEAR(b.x * p.x + b.y * p.y + b.z * p.z, 0, 1e-6);
}

TEST(Orientation, ReferenceAtomOffTheBeamAxisFailsAfterTheBusyState) {
    SliceRun run(
        makeModel("4", "4", "4", "90", "90", "90", {{"Si", "14", "0.5", "0", "0"}}, "0", "0", "1"));
    EXPECT_FALSE(run.slice());
    const auto& e = run.sink.events;
    ASSERT_EQ(e.size(), 5u);
    EXPECT_EQ(e[0].kind, core::RecordedEvent::BusyBegin);
    EXPECT_EQ(e[1].kind, core::RecordedEvent::BusyBegin);
    EXPECT_EQ(e[2].kind, core::RecordedEvent::BusyEnd);
    EXPECT_EQ(e[3].kind, core::RecordedEvent::BusyEnd);
    EXPECT_EQ(e[4].text, text::kWrongRotation);
}

TEST(Orientation, SuperCellOfStrontiumTitanate) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    EXPECT_TRUE(run.sink.messages().empty());
    EXPECT_NEAR(run.state.slicing.superCellX, 3.905, 1e-9);
    EXPECT_NEAR(run.state.slicing.superCellY, 3.905, 1e-9);
    EXPECT_EQ(run.state.slicing.rotation.mode, 0);
    EXPECT_DOUBLE_EQ(run.state.slicing.rotation.sinTheta, 1);
}

TEST(Orientation, MissingSuperCellWarnsAndClearsBothSizes) {
    // Along [1 1 1] the reference element has no image on the in-plane axes within the box.
    CrystalModel m =
        makeModel("3", "4", "5", "90", "90", "90", {{"Si", "14", "0", "0", "0"}}, "1", "1", "1");
    SliceRun run(m);
    EXPECT_TRUE(run.slice());
    const auto messages = run.sink.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, text::kNoSuperCell);
    EXPECT_EQ(messages[0].caption, "Warning");
    EXPECT_EQ(messages[0].style, core::kIconWarning);
    EXPECT_EQ(run.state.slicing.superCellX, 0);
    EXPECT_EQ(run.state.slicing.superCellY, 0);
    EXPECT_EQ(run.sink.events.back().kind, core::RecordedEvent::Message);
}
