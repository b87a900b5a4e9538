#include "spectrum/rules/client_layout.h"

#include <gtest/gtest.h>

#include "spectrum/rules/circle_drawing.h"

namespace spectrum {
namespace {

TEST(ClientLayout, APictureIsReducedWhenItsRowsDoNotFitBelowTheIconBar) {
    // A client area 768 rows high keeps 747 of them for the picture.
    EXPECT_EQ(image::viewReduction(pictureAreaOf(1024, 768), 1024, 747), 1);
    EXPECT_EQ(image::viewReduction(pictureAreaOf(1024, 768), 1024, 748), 2);
    EXPECT_EQ(image::viewReduction(pictureAreaOf(1024, 768), 1025, 100), 2);
}

TEST(ClientLayout, ACircleDrawnWithTheMouseIsPaintedWhereItWasDrawn) {
    for (const int reduction : {1, 2, 8}) {
        const Point press{96, 128}, release{96 + 5, 128};
        const MaskCircle circle = circleFromDrag(press, release, reduction);
        const auto arcs = maskCircleArcs({circle}, clientView(reduction));
        ASSERT_EQ(arcs.size(), 1u);
        EXPECT_TRUE(arcs[0].whole);
        EXPECT_EQ((arcs[0].left + arcs[0].right) / 2, press.x) << reduction;
        EXPECT_EQ((arcs[0].top + arcs[0].bottom) / 2, press.y) << reduction;
        EXPECT_EQ(arcs[0].right - arcs[0].left, 2 * 5) << reduction;
    }
    // A view reduction never set counts as none.
    EXPECT_EQ(clientView(0).reduction, 1);
    EXPECT_EQ(clientView(0).top, kPictureTop);
}

}  // namespace
}  // namespace spectrum
