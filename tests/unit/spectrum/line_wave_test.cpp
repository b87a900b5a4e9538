#include "spectrum/engine/line_wave.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "spectrum/engine/overlays.h"
#include "test_images.h"

namespace spectrum {
namespace {

// The picture shown below a 21-row bar, reduced by `reduction`.
PictureView belowBar(int reduction) {
    return {reduction, 21};
}

using testing::makeBuffers;
using testing::makePicture;

int countInside(const std::vector<LineSample>& samples) {
    return static_cast<int>(
        std::count_if(samples.begin(), samples.end(), [](auto& s) { return s.inside; }));
}

TEST(LineWave, HorizontalLineRunsAcrossTheMiddleRow) {
    EXPECT_EQ(lineHalfLength(512, 256, 0), 256);
    const auto samples = lineSamples(512, 256, 0);
    ASSERT_EQ(samples.size(), 512u);
    EXPECT_EQ(countInside(samples), 512);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(samples[i].x, i);
        ASSERT_EQ(samples[i].y, 128);
    }
}

TEST(LineWave, VerticalLineSkipsTheSampleBelowThePicture) {
    EXPECT_EQ(lineHalfLength(512, 256, 90), 128);
    EXPECT_EQ(lineHalfLength(512, 256, -90), 128);
    const auto samples = lineSamples(512, 256, 90);
    ASSERT_EQ(samples.size(), 256u);
    EXPECT_FALSE(samples[0].inside);
    EXPECT_EQ(samples[0].y, 256);
    EXPECT_EQ(countInside(samples), 255);
    EXPECT_EQ(samples[1].x, 256);
    EXPECT_EQ(samples[1].y, 255);
    EXPECT_EQ(samples[255].y, 1);
}

TEST(LineWave, DiagonalChordAndNearestPixel) {
    // 45 degrees in a 400 x 200 picture: (400*200/2) / sqrt(200^2/2 + 400^2/2) = 126.49
    EXPECT_EQ(lineHalfLength(400, 200, 45), 126);
    const auto samples = lineSamples(400, 200, 45);
    // Sample j = 10: (200 + 7.07, 100 - 7.07) -> nearest (207, 93).
    EXPECT_EQ(samples[126 + 10].x, 207);
    EXPECT_EQ(samples[126 + 10].y, 93);
    // Positive angles rise to the right.
    EXPECT_LT(samples.back().y, samples.front().y);
}

TEST(LineWave, FftDataFileHasTheHeaderAndOneLinePerSampleInside) {
    auto buffers = makeBuffers(
        1024, 256, 384, [](int r, int c) { return r == 512 && c == 511 ? -123456.75 : 0.5; },
        [](int r, int c) { return r == 512 && c == 511 ? 3.0 : 0.0; });
    const image::ImageGeometry g{512, 256, 512, 512 * 256 + 1078};
    const std::string text = fftDataText(buffers, g, 0);
    const std::string header =
        "Line wave data\r\nAngle : 0.00  \r\nFFT size : 512W x 256H\r\n\r\n"
        "    Pixel                      FFT data\r\n"
        "  X      Y        Real part       Imaginary part  Root power\r\n";
    ASSERT_EQ(text.substr(0, header.size()), header);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6 + 512);
    EXPECT_NE(text.find("\r\n 255\t128\t -1.2345675e+05\t  3.0000000e+00\t  1.2345675e+05\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\n 0\t128\t  5.0000000e-01\t  0.0000000e+00\t  5.0000000e-01\r\n"),
              std::string::npos);

    const std::string vertical = fftDataText(buffers, g, 90);
    EXPECT_EQ(std::count(vertical.begin(), vertical.end(), '\n'), 6 + 255);
    EXPECT_NE(vertical.find("Angle : 90.00 \r\n"), std::string::npos);
    EXPECT_NE(vertical.find("\r\n 256\t255\t"), std::string::npos);
    EXPECT_NE(vertical.find("\r\n 256\t1\t"), std::string::npos);
    EXPECT_EQ(vertical.find("\r\n 256\t256\t"), std::string::npos);
}

TEST(LineWaveOverlay, DisplacementScalesWithLevelAndZoom) {
    auto t = makePicture(512, 256, [](int, int) { return 128; });
    LineWaveSettings wave;
    const auto segments = lineWaveSegments(t.pixels(), t.geometry, belowBar(1), wave);
    ASSERT_EQ(segments.size(), 511u);
    // 128 / 255 x 256 x 0.5 = 64.25 -> 64 pixels above the middle row.
    EXPECT_EQ(segments.front(), (Segment{{0, 128 - 64 + 21}, {1, 128 - 64 + 21}}));
    wave.zoomPercent = 150;  // 96.4 -> 96
    EXPECT_EQ(lineWaveSegments(t.pixels(), t.geometry, belowBar(1), wave).front().from,
              (Point{0, 128 - 96 + 21}));
    // Reduced view: coordinates halved.
    wave.zoomPercent = 100;
    EXPECT_EQ(lineWaveSegments(t.pixels(), t.geometry, belowBar(2), wave).front().from,
              (Point{0, 32 + 21}));
}

TEST(LineWaveOverlay, AveragingUsesOnlyEntriesWithinTheProfile) {
    // Middle row levels 0, 30, 60, 90, ...: averaging two points at the first sample takes the
    // mean of entries 0, 1 and 2 = 30, at the second of 0..3 = 45.
    auto t = makePicture(512, 256, [](int x, int) { return std::min(255, 30 * x); });
    LineWaveSettings wave;
    wave.averagingPoints = 2;
    const auto segments = lineWaveSegments(t.pixels(), t.geometry, belowBar(1), wave);
    const int a0 = static_cast<int>(30 / 255.0 * 256 * 0.5),
              a1 = static_cast<int>(45 / 255.0 * 256 * 0.5);
    EXPECT_EQ(segments.front().from, (Point{0, 128 - a0 + 21}));
    EXPECT_EQ(segments.front().to, (Point{1, 128 - a1 + 21}));
}

TEST(LineWaveOverlay, ClippedAtTheTopAndAtTheRightEdge) {
    // Levels rise along x; at zoom 200 the curve leaves the picture upward after x = 255.
    auto ramp = makePicture(512, 256, [](int x, int) { return x / 2; });
    LineWaveSettings wave;
    wave.zoomPercent = 200;
    const auto segments = lineWaveSegments(ramp.pixels(), ramp.geometry, belowBar(1), wave);
    ASSERT_FALSE(segments.empty());
    for (const Segment& s : segments) {
        ASSERT_GE(s.from.y, 21);
        ASSERT_GE(s.to.y, 21);
    }
    EXPECT_EQ(segments.back().to.y, 21);
    // Level 128 (x = 256, 257) lifts the curve exactly to y = 21; 129 (x = 258) above it.
    EXPECT_EQ(segments.back().to.x, 257);
    // Shown from the surface's top row, the curve is cut at row 0 at the same place.
    const auto fromTop = lineWaveSegments(ramp.pixels(), ramp.geometry, PictureView{1, 0}, wave);
    ASSERT_FALSE(fromTop.empty());
    EXPECT_EQ(fromTop.back().to, (Point{257, 0}));

    // Pointing down (-90 degrees) the curve stands off to the right of x = width - 1.
    auto bright = makePicture(256, 512, [](int, int) { return 254; });
    wave.angle = -90;
    EXPECT_TRUE(lineWaveSegments(bright.pixels(), bright.geometry, belowBar(1), wave).empty());
    wave.zoomPercent = 100;  // 127 pixels to the right of x = 128: on the edge, still drawn
    const auto onEdge = lineWaveSegments(bright.pixels(), bright.geometry, belowBar(1), wave);
    ASSERT_FALSE(onEdge.empty());
    EXPECT_EQ(onEdge.front().from.x, 255);
}

TEST(FilterCircles, PolylinesStayInsideThePicture) {
    const image::ImageGeometry g{300, 400, 300, 300 * 400 + 1078};  // diagonal 500
    FilterSettings f;
    f.showFilterCircles = true;
    f.standardType = kBandPass;
    f.wa = 0.8;
    f.wb = 0.4;
    const auto runs = filterCircleRuns(g, belowBar(1), f);
    ASSERT_FALSE(runs.empty());
    const Point c = pictureCentre(g, belowBar(1));
    bool sawInner = false, sawOuter = false;
    for (const auto& run : runs) {
        ASSERT_GE(run.size(), 2u);
        for (const Point& p : run) {
            ASSERT_GE(p.x, 0);
            ASSERT_LT(p.x, 300);
            ASSERT_GT(p.y, 20);
            ASSERT_LT(p.y, 421);
            const double r = std::hypot(p.x - c.x, p.y - c.y);
            sawInner |= std::abs(r - 100) <= 1;
            sawOuter |= std::abs(r - 200) <= 1;
        }
    }
    EXPECT_TRUE(sawInner);
    EXPECT_TRUE(sawOuter);  // the outer circle shows where it crosses the picture
    f.showFilterCircles = false;
    EXPECT_TRUE(filterCircleRuns(g, belowBar(1), f).empty());
    f.showFilterCircles = true;
    f.standardType = kNoFilter;
    EXPECT_TRUE(filterCircleRuns(g, belowBar(1), f).empty());
    f.standardType = kLowPass;  // one circle of w1 = 0.4: radius 100, all inside
    const auto low = filterCircleRuns(g, belowBar(1), f);
    ASSERT_EQ(low.size(), 1u);
    EXPECT_EQ(low[0].size(), 3600u);
    EXPECT_EQ(low[0][0], (Point{c.x + 100, c.y}));
    EXPECT_EQ(low[0][900], (Point{c.x, c.y - 100}));  // 90 degrees: up on screen
}

TEST(MaskCircleArcs, WholeCirclesAndCutArcsAtThePictureTop) {
    const auto arcs = maskCircleArcs({{100, 100, 30}, {50, 5, 20}}, belowBar(1));
    ASSERT_EQ(arcs.size(), 2u);
    EXPECT_EQ(arcs[0], (ArcStroke{70, 91, 130, 151, true, {}, {}}));
    // Centre at client y 26, radius 20: the rim crosses y = 21 at 50 -/+ sqrt(400 - 25) = 19.36.
    EXPECT_FALSE(arcs[1].whole);
    EXPECT_EQ(arcs[1].start, (Point{31, 21}));
    EXPECT_EQ(arcs[1].end, (Point{69, 21}));
    // Picture coordinates are halved in a reduced view.
    EXPECT_EQ(maskCircleArcs({{100, 100, 30}}, belowBar(2))[0],
              (ArcStroke{35, 56, 65, 86, true, {}, {}}));
    // The cut follows the picture's top wherever it is shown.
    const auto atTop = maskCircleArcs({{50, 5, 20}}, PictureView{1, 0});
    EXPECT_FALSE(atTop[0].whole);
    EXPECT_EQ(atTop[0].start, (Point{31, 0}));
    EXPECT_EQ(atTop[0].end, (Point{69, 0}));
}

}  // namespace
}  // namespace spectrum
