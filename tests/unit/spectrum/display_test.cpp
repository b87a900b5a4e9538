#include "spectrum/engine/display.h"

#include <gtest/gtest.h>

#include <cmath>

#include "spectrum/engine/overlays.h"
#include "test_images.h"

namespace spectrum {
namespace {

using testing::makeBuffers;
using testing::makePicture;

// A 100 x 100 window, all zero except one element of 1000 at (40, 30).
struct PeakWindow : ::testing::Test {
    testing::TestPicture picture = makePicture(100, 100, [](int, int) { return 9; });
    SpectrumBuffers buffers = makeBuffers(
        128, 14, 14, [](int r, int c) { return (r == 30 + 14 && c == 40 + 14) ? 1000.0 : 0.0; },
        [](int, int) { return 0.0; });
    DisplaySettings display;

    int at(int x, int y) { return picture.pixels().at(x, y); }
    void map() { ASSERT_EQ(mapSpectrum(buffers, picture.geometry, display, picture.image), 0); }
};

TEST_F(PeakWindow, LinearClipsAtTheAverageTimesC) {
    map();  // avgShift 1.1, upperLevel min(1001, 11) = 11
    EXPECT_EQ(at(40, 30), 255);
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(99, 99), 0);
}

TEST_F(PeakWindow, InvertedSwapsTheLevels) {
    display.invertedDisplay = true;
    map();
    EXPECT_EQ(at(40, 30), 0);
    EXPECT_EQ(at(5, 5), 255);
}

TEST_F(PeakWindow, LogScaleHasNoUpperClipping) {
    display.logScale = true;
    map();
    EXPECT_EQ(at(40, 30), 255);  // ln 1001 * 255 / ln 1001
    EXPECT_EQ(at(1, 2), 0);
}

TEST_F(PeakWindow, LinearValuesBetweenTheLevelsScale) {
    buffers.real[static_cast<std::size_t>(20 + 14) * 128 + 20 + 14] = 5.0;
    map();  // vavg = 0.1005, upperLevel = 11.005; s = 6 -> 5 * 255 / 10.005 = 127.4
    EXPECT_EQ(at(20, 20), 127);
}

TEST_F(PeakWindow, LowerLevelNeverFallsBelowOne) {
    display.lowerClipping = true;
    display.lowerClipDivisor = 10000;
    map();  // lowerLevel 1: same as without lower clipping
    EXPECT_EQ(at(40, 30), 255);
    EXPECT_EQ(at(3, 3), 0);
}

TEST_F(PeakWindow, FlatWindowWritesNothing) {
    buffers.real[static_cast<std::size_t>(30 + 14) * 128 + 40 + 14] = 0.0;
    EXPECT_EQ(mapSpectrum(buffers, picture.geometry, display, picture.image), 1);
    EXPECT_EQ(at(40, 30), 9);
}

// The check without rendering agrees with the mapping on content, for a window whose only
// difference sits in its last element, in the whole frame's binning, and when flat; the picture
// is left as it was.
TEST_F(PeakWindow, CheckWithoutRenderingAgreesWithTheMapping) {
    buffers.real[static_cast<std::size_t>(30 + 14) * 128 + 40 + 14] = 0.0;
    EXPECT_EQ(checkSpectrum(buffers, picture.geometry, display), 1);
    buffers.real[static_cast<std::size_t>(99 + 14) * 128 + 99 + 14] = 1e-3;
    EXPECT_EQ(checkSpectrum(buffers, picture.geometry, display), 0);
    EXPECT_EQ(at(99, 99), 9);
    buffers.real[static_cast<std::size_t>(99 + 14) * 128 + 99 + 14] = 0.0;
    display.wholeFrame = true;
    buffers.real[127 * 128 + 127] = 3.0;  // outside the window, inside the frame
    EXPECT_EQ(checkSpectrum(buffers, picture.geometry, display), 0);
    EXPECT_EQ(mapSpectrum(buffers, picture.geometry, display, picture.image), 0);
    display.wholeFrame = false;
    EXPECT_EQ(checkSpectrum(buffers, picture.geometry, display), 1);
    EXPECT_EQ(mapSpectrum(buffers, picture.geometry, display, picture.image), 1);
}

TEST(DisplayMapping, RealPartMapsTheMostNegativeValueToZero) {
    auto picture = makePicture(64, 64, [](int, int) { return 0; });
    auto buffers = makeBuffers(
        64, 0, 0,
        [](int r, int c) { return r == 3 && c == 5 ? -50.0 : (r == 7 && c == 1 ? 20.0 : 0.0); },
        [](int, int) { return 0.0; });
    DisplaySettings display;
    display.displayQuantity = kRealPart;
    display.upperClipFactor = 10000;
    ASSERT_EQ(mapSpectrum(buffers, picture.geometry, display, picture.image), 0);
    EXPECT_EQ(picture.pixels().at(5, 3), 0);
    EXPECT_EQ(picture.pixels().at(1, 7), 255);  // upperLevel = span = 71
    EXPECT_EQ(picture.pixels().at(0, 0), static_cast<int>(50.0 * 255 / 70));
}

TEST(DisplayMapping, ImaginaryPartAndRainbowTable) {
    auto picture = makePicture(64, 64, [](int, int) { return 0; });
    auto buffers = makeBuffers(
        64, 0, 0, [](int, int) { return 1000.0; },
        [](int r, int c) { return r == 0 && c == 0 ? 64.0 : 0.0; });
    DisplaySettings display;
    display.displayQuantity = kImaginaryPart;
    display.rainbowPalette = true;
    ASSERT_EQ(mapSpectrum(buffers, picture.geometry, display, picture.image), 0);
    EXPECT_EQ(picture.pixels().at(0, 0), 255);
    const std::uint8_t* table = picture.image.dib.block.data() + 40;
    auto colour = [&](int i) { return Rgb{table[4 * i + 2], table[4 * i + 1], table[4 * i]}; };
    EXPECT_EQ(colour(0), (Rgb{0, 0, 0}));
    EXPECT_EQ(colour(51), (Rgb{0, 0, 255}));
    EXPECT_EQ(colour(102), (Rgb{0, 255, 255}));
    EXPECT_EQ(colour(153), (Rgb{0, 255, 0}));
    EXPECT_EQ(colour(204), (Rgb{255, 255, 0}));
    EXPECT_EQ(colour(255), (Rgb{255, 0, 0}));
    EXPECT_EQ(colour(60), (Rgb{0, 45, 255}));
}

TEST(DisplayMapping, ToLevelTruncatesAndLimits) {
    EXPECT_EQ(toLevel(-0.5), 0);
    EXPECT_EQ(toLevel(254.999), 254);
    EXPECT_EQ(toLevel(300), 255);
    EXPECT_EQ(toLevel(std::nan("")), 0);
}

TEST(CrossMark, IsCentredOnTheShownPicture) {
    const image::ImageGeometry g{512, 512, 512, 512 * 512 + 1078};
    const PictureView reducedBelowBar{2, 21};
    EXPECT_EQ(pictureCentre(g, reducedBelowBar), (Point{128, 149}));
    const auto strokes = crossMarkSegments(g, reducedBelowBar);
    ASSERT_EQ(strokes.size(), 2u);
    EXPECT_EQ(strokes[0], (Segment{{128, 140}, {128, 159}}));
    EXPECT_EQ(strokes[1], (Segment{{119, 149}, {138, 149}}));
    // Shown from the surface's top row at full size.
    EXPECT_EQ(crossMarkSegments(g, PictureView{1, 0})[0], (Segment{{256, 247}, {256, 266}}));
}

TEST(PictureView, PicturePixelsAndShownPointsConvertBothWays) {
    const PictureView view{4, 30};
    EXPECT_EQ(shownFromPicture({400, 200}, view), (Point{100, 80}));
    EXPECT_EQ(pictureFromShown({100, 80}, view), (Point{400, 200}));
    // Shown points stand for reduction x reduction picture pixels: the remainder is lost.
    EXPECT_EQ(shownFromPicture({403, 203}, view), (Point{100, 80}));
    EXPECT_EQ(pictureFromShown({0, 29}, view), (Point{0, -4}));
}

}  // namespace
}  // namespace spectrum
