#include "crystal/engine/slicing.h"

#include <gtest/gtest.h>

#include "crystal/engine/writers.h"
#include "crystal_fixture.h"

using namespace crystal;
using crystal::testing::makeModel;
using crystal::testing::SliceRun;
using crystal::testing::strontiumTitanate;

namespace {

// Silicon at the origin with atoms at the given fractions of c (c = 4) along [0 0 1].
CrystalModel stack(std::initializer_list<const char*> heights, const char* w = "1") {
    CrystalModel m =
        makeModel("3", "3", "4", "90", "90", "90", {{"Si", "14", "0", "0", "0", 3}}, "0", "0", w);
    const char* symbols[] = {"O", "C", "N", "F"};
    int i = 1;
    for (const char* h : heights) {
        m.atoms[i] = AtomSite{symbols[i - 1],
                              std::to_string(atomicNumberOfSymbol(symbols[i - 1])),
                              "0.5",
                              "0.5",
                              h,
                              6,
                              kAtomColours[6].value};
        ++i;
    }
    m.atomCount = i;
    return m;
}

}  // namespace

TEST(Slicing, StrontiumTitanateHasTwoPlanes) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    const SlicingState& st = run.state.slicing;
    EXPECT_NEAR(st.repeatDistance, 3.905, 1e-12);
    ASSERT_EQ(st.layerCount, 2);
    EXPECT_NEAR(st.layerHeights[0], 3.905, 1e-3);
    EXPECT_NEAR(st.layerHeights[1], 1.9525, 1e-3);
    EXPECT_EQ(st.layerHeights[2], 0);
    EXPECT_NEAR(st.layerSpacing, 1.9525, 1e-3);
    EXPECT_EQ(run.state.nextPlane, 4);
}

TEST(Slicing, SingleAtomAlongCAndAgainstIt) {
    for (const char* w : {"1", "-1"}) {
        SliceRun run(
            makeModel("3", "3", "4", "90", "90", "90", {{"Si", "14", "0", "0", "0"}}, "0", "0", w));
        ASSERT_TRUE(run.slice()) << w;
        const SlicingState& st = run.state.slicing;
        EXPECT_EQ(st.rotation.mode, w[0] == '-' ? 2 : 1);
        ASSERT_EQ(st.layerCount, 1);
        EXPECT_NEAR(st.layerHeights[0], 4, 1e-3);
        EXPECT_NEAR(st.layerSpacing, 4, 1e-3);
    }
}

TEST(Slicing, GapsOfWholeSpacingsBecomeEmptyPlanes) {
    SliceRun run(stack({"0.25", "0.75"}));  // heights 1, 3 and 4 (the origin one repeat up)
    ASSERT_TRUE(run.slice());
    const SlicingState& st = run.state.slicing;
    ASSERT_EQ(st.layerCount, 4);
    for (int n = 0; n < 4; ++n) EXPECT_NEAR(planeHeight(st, n), 4 - n, 1e-3);
    EXPECT_TRUE(st.planeImages[2].empty());
    EXPECT_FALSE(st.planeImages[1].empty());
}

TEST(Slicing, ReversedDirectionNumbersFromHeightZero) {
    SliceRun run(makeModel("4", "4", "4", "90", "90", "90",
                           {{"Si", "14", "0", "0", "0"}, {"O", "8", "0.5", "0.5", "0.5"}}, "-1",
                           "0", "0"));
    ASSERT_TRUE(run.slice());
    const SlicingState& st = run.state.slicing;
    EXPECT_TRUE(st.lattice.reversed);
    ASSERT_EQ(st.layerCount, 2);
    EXPECT_EQ(planeHeight(st, 0), 0);
    EXPECT_NEAR(planeHeight(st, 1), 2, 1e-3);
    EXPECT_NEAR(planeHeight(st, 2), 4, 1e-3);  // plane 0 one repeat further
}

TEST(Slicing, HeightsCloserThanTheToleranceShareAPlane) {
    // 0.0005 A apart: one plane, not two.
    SliceRun run(makeModel("3", "3", "4", "90", "90", "90",
                           {{"Si", "14", "0", "0", "0"},
                            {"O", "8", "0.5", "0.5", "0.5"},
                            {"C", "6", "0.5", "0", "0.499875"}},
                           "0", "0", "1"));
    ASSERT_TRUE(run.slice());
    ASSERT_EQ(run.state.slicing.layerCount, 2);
    EXPECT_EQ(run.state.slicing.planeImages[1].size(), 2u * 21 * 21);
}

TEST(Slicing, RefusesIrregularLaddersAfterTheBusyState) {
    SliceRun run(stack({"0.375"}));  // heights 1.5 and 4: ratio 2.5 / 1.5
    EXPECT_FALSE(run.slice());
    const auto& e = run.sink.events;
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[e.size() - 2].kind, core::RecordedEvent::BusyEnd);
    EXPECT_EQ(e.back().text, text::kIrregularLayers);
    EXPECT_EQ(e.back().caption, "Error");
    EXPECT_EQ(e.back().style, core::kIconError);
}

TEST(Slicing, RefusesTooManyLayers) {
    // An atom 0.0011 of c above the origin: spacing 0.0044 A, about 900 planes.
    SliceRun dense(stack({"0.0011"}));
    EXPECT_FALSE(dense.slice());
    ASSERT_FALSE(dense.sink.messages().empty());
    const std::string text = dense.sink.messages().back().text;
    EXPECT_TRUE(text == text::kTooManyLayers || text == text::kTooManyLayersFound ||
                text == text::kIrregularLayers)
        << text;
}

TEST(Slicing, TopCheckNamesBothHeights) {
    SlicingState st;
    st.lattice = latticeOf(
        makeModel("3", "3", "20", "90", "90", "90", {{"Si", "14", "0", "0", "0"}}, "0", "0", "1"));
    st.rotation.mode = 1;
    // A repeat distance a little short of c puts the image at c above it but inside the top bin.
    st.repeatDistance = 19.9985;
    const auto refusal = sliceLayers(st);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->text,
              "Wrong layer number 0 value in calculation.\nMaximum position value of layer is "
              "20 instead of 19.9985.");
}

TEST(Slicing, PagingRule) {
    EXPECT_EQ(pageAfter(0), 4);
    EXPECT_EQ(pageAfter(2), 4);
    EXPECT_EQ(pageAfter(3), 4);
    EXPECT_EQ(pageAfter(4), 8);
    EXPECT_EQ(pageAfter(8), 12);
}

TEST(Slicing, FastPlaneListsMatchThePlaneByPlaneScan) {
    const CrystalModel models[] = {
        strontiumTitanate("3", "2", "1"),
        strontiumTitanate("-1", "1", "0"),
        makeModel("3.2", "3.2", "5.2", "90", "90", "120",
                  {{"Zn", "30", "0", "0", "0"},
                   {"O", "8", "0", "0", "0.375"},
                   {"Zn", "30", "0.3333333", "0.6666667", "0.5"},
                   {"O", "8", "0.3333333", "0.6666667", "0.875"}},
                  "0", "0", "1"),
        stack({"0.25", "0.75"}),
    };
    for (const CrystalModel& m : models) {
        SliceRun run(m);
        ASSERT_TRUE(run.slice());
        const SlicingState& st = run.state.slicing;
        const auto fast = collectPlaneImages(st);
        const auto scan = collectPlaneImagesByScan(st);
        ASSERT_EQ(fast.size(), scan.size());
        for (std::size_t n = 0; n < fast.size(); ++n) {
            ASSERT_EQ(fast[n].size(), scan[n].size()) << "plane " << n;
            for (std::size_t k = 0; k < fast[n].size(); ++k) {
                EXPECT_EQ(fast[n][k].atom, scan[n][k].atom);
                EXPECT_EQ(fast[n][k].planeX, scan[n][k].planeX);
                EXPECT_EQ(fast[n][k].height, scan[n][k].height);
            }
        }
        if (st.superCellX > 0) {
            EXPECT_EQ(referenceDataText(run.state.model, st, fast),
                      referenceDataText(run.state.model, st, scan));
            EXPECT_EQ(normalBeamTexts(run.state.model, st, fast),
                      normalBeamTexts(run.state.model, st, scan));
            EXPECT_EQ(convergentBeamText(run.state.model, st, fast),
                      convergentBeamText(run.state.model, st, scan));
        }
    }
}
