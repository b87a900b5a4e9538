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

TEST(ClientLayout, TheReadoutStripStaysInsideTheClientArea) {
    // Room below the picture: right under it, 400 pixels wider.
    StripBox strip = readoutStrip(1280, 900, 600, 480);
    EXPECT_EQ(strip.top, kPictureTop + 480);
    EXPECT_EQ(strip.bottom, kPictureTop + 480 + kReadoutStripHeight);
    EXPECT_EQ(strip.right, 1000);
    // A 1440 x 1080 screen's window (nine tenths) has about 945 client rows: a 1024-row spectrum
    // is shown at half size, 512 rows, and a 920-row one whole, filling the rows.
    for (const int rows : {512, 920, 924}) {
        strip = readoutStrip(1290, 945, 900, rows);
        EXPECT_LE(strip.bottom, 945) << rows;
        EXPECT_GE(strip.top, kPictureTop) << rows;
        EXPECT_EQ(strip.bottom - strip.top, kReadoutStripHeight) << rows;
        EXPECT_LE(strip.right, 1290) << rows;
    }
    EXPECT_EQ(readoutStrip(1290, 945, 900, 924).top, 945 - kReadoutStripHeight);
}

}  // namespace
}  // namespace spectrum
