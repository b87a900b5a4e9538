#include "spectrum/rules/circle_drawing.h"

#include <gtest/gtest.h>

namespace spectrum {
namespace {

constexpr int kN = 256;

TEST(DrawingArea, PressesOnTheBarOrRightOfTheSpectrumStartNothing) {
    EXPECT_TRUE(startsCircle({0, 21}, kN));
    EXPECT_TRUE(startsCircle({kN - 1, kN + 20}, kN));
    EXPECT_FALSE(startsCircle({10, 20}, kN));
    EXPECT_FALSE(startsCircle({kN, 100}, kN));
    EXPECT_FALSE(startsCircle({10, kN + 21}, kN));
    EXPECT_TRUE(insideDrawingArea({5, 21}, kN));
    EXPECT_FALSE(insideDrawingArea({5, 20}, kN));
}

TEST(RubberBand, CircleInsideTheAreaIsThreeArcsMeetingAtItsExtremes) {
    const RubberBand band = rubberBand({100, 100}, {130, 140}, kN);
    EXPECT_EQ(band.radius, 50);
    ASSERT_EQ(band.arcs.size(), 3u);
    for (const auto& a : band.arcs) {
        EXPECT_EQ(a.left, 50);
        EXPECT_EQ(a.top, 50);
        EXPECT_EQ(a.right, 150);
        EXPECT_EQ(a.bottom, 150);
        EXPECT_FALSE(a.whole);
    }
    EXPECT_EQ(band.arcs[0].start, (Point{100, 50}));
    EXPECT_EQ(band.arcs[0].end, (Point{100, 150}));
    EXPECT_EQ(band.arcs[1].start, (Point{100, 150}));
    EXPECT_EQ(band.arcs[1].end, (Point{150, 100}));
    EXPECT_EQ(band.arcs[2].start, (Point{150, 100}));
    EXPECT_EQ(band.arcs[2].end, (Point{100, 50}));
}

TEST(RubberBand, IsCutAtTheTopOfTheArea) {
    // Centre 11 below the top row, radius 61: the band meets y = 21 at x = 100 +- 60.
    const RubberBand band = rubberBand({100, 32}, {100, 93}, kN);
    ASSERT_EQ(band.arcs.size(), 3u);
    EXPECT_EQ(band.arcs[0].start, (Point{40, 21}));
    EXPECT_EQ(band.arcs[2].end, (Point{160, 21}));
}

TEST(RubberBand, IsCutAtTheRightEdgeAndDropsArcsBeyondIt) {
    // Centre 6 left of x = N, radius 10: the right quarters end and start on the edge.
    const RubberBand edge = rubberBand({kN - 6, 100}, {kN - 6, 110}, kN);
    ASSERT_EQ(edge.arcs.size(), 3u);
    EXPECT_EQ(edge.arcs[1].end, (Point{kN, 108}));
    EXPECT_EQ(edge.arcs[2].start, (Point{kN, 92}));
    // Near the bottom-right corner the lower right quarter lies wholly outside.
    const RubberBand corner = rubberBand({kN - 6, kN + 14}, {kN - 6, kN + 24}, kN);
    ASSERT_EQ(corner.arcs.size(), 2u);
    EXPECT_EQ(corner.arcs[0].end, (Point{kN - 6 - 7, kN + 21}));
    EXPECT_EQ(corner.arcs[1].start, (Point{kN, kN + 14 - 8}));
}

TEST(RubberBand, ZeroRadiusStillDrawsTheLeftHalf) {
    const RubberBand band = rubberBand({50, 60}, {50, 60}, kN);
    EXPECT_EQ(band.radius, 0);
    EXPECT_EQ(band.arcs.size(), 3u);
}

TEST(CircleFromDrag, StoresPictureCoordinatesAtAnyReduction) {
    EXPECT_EQ(circleFromDrag({100, 121}, {103, 125}, 1), (MaskCircle{100, 100, 5}));
    // Shown at half size: the same drag covers twice the picture pixels.
    EXPECT_EQ(circleFromDrag({100, 121}, {103, 125}, 2), (MaskCircle{200, 200, 10}));
    EXPECT_EQ(circleFromDrag({10, 31}, {10, 31}, 4), (MaskCircle{40, 40, 0}));
}

TEST(Nudge, ArrowsMoveAgainstTheirDirectionInsideTheArea) {
    EXPECT_EQ(nudgeStep(ArrowKey::Down, {10, 50}, kN), (Point{0, -1}));
    EXPECT_EQ(nudgeStep(ArrowKey::Up, {10, 50}, kN), (Point{0, 1}));
    EXPECT_EQ(nudgeStep(ArrowKey::Right, {10, 50}, kN), (Point{-1, 0}));
    EXPECT_EQ(nudgeStep(ArrowKey::Left, {10, 50}, kN), (Point{1, 0}));
    // At the edges the cursor stays.
    EXPECT_FALSE(nudgeStep(ArrowKey::Down, {10, 21}, kN));
    EXPECT_FALSE(nudgeStep(ArrowKey::Up, {10, kN + 20}, kN));
    EXPECT_FALSE(nudgeStep(ArrowKey::Right, {0, 50}, kN));
    EXPECT_FALSE(nudgeStep(ArrowKey::Left, {kN - 1, 50}, kN));
    EXPECT_FALSE(nudgeStep(ArrowKey::Left, {10, 5}, kN));
}

}  // namespace
}  // namespace spectrum
