#include "spectrum/engine/forward.h"
#include "spectrum/engine/big_grid.h"

#include <gtest/gtest.h>

#include <cmath>

#include "test_images.h"
#include "tests/doubles/recording.h"

namespace spectrum {
namespace {

using testing::makePicture;

struct GridCase {
    int width, height;
    bool expanded, seamless;
    int n, offsetX, offsetY;
};

class GridPlanTest : public ::testing::TestWithParam<GridCase> {};

TEST_P(GridPlanTest, SizesTheFrame) {
    const GridCase c = GetParam();
    const GridPlan plan = planGrid(c.width, c.height, c.expanded, [&] { return c.seamless; });
    EXPECT_EQ(plan.n, c.n);
    EXPECT_EQ(plan.offsetX, c.offsetX);
    EXPECT_EQ(plan.offsetY, c.offsetY);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, GridPlanTest,
    ::testing::Values(GridCase{256, 256, true, true, 256, 0, 0},       // seamless square
                      GridCase{256, 256, true, false, 512, 128, 128},  // an edge differs
                      GridCase{300, 200, true, true, 512, 106, 156},
                      GridCase{1000, 1000, true, true, 2048, 524, 524},  // margins of 12 double it
                      GridCase{300, 200, false, false, 512, 106, 156},
                      GridCase{256, 256, false, false, 256, 0, 0},
                      GridCase{5000, 5000, true, true, 8192, 1596, 1596},
                      GridCase{8100, 8100, false, false, 8192, 46, 46},
                      GridCase{64, 64, true, true, 64, 0, 0}),
    [](const ::testing::TestParamInfo<GridCase>& info) {
        const GridCase& c = info.param;
        return std::to_string(c.width) + "x" + std::to_string(c.height) +
               (c.expanded ? "Expanded" : "Plain") + (c.seamless ? "Seamless" : "");
    });

TEST(GridPlan, AsksSeamlessOnlyForSquarePowersOfTwo) {
    int asked = 0;
    const GridPlan big = planGrid(8100, 8100, true, [&] { return ++asked, true; });
    EXPECT_EQ(big.exponent, 14);
    EXPECT_EQ(asked, 0);
    planGrid(256, 128, true, [&] { return ++asked, true; });
    EXPECT_EQ(asked, 0);
    planGrid(256, 256, true, [&] { return ++asked, true; });
    EXPECT_EQ(asked, 1);
    planGrid(256, 256, false, [&] { return ++asked, true; });
    EXPECT_EQ(asked, 1);
}

struct BigGridCase {
    int width, height;
    bool expanded;
    int limit;
    int n;  // 0: refused
    bool half, windowedOnly;
};

class BigGridPlanTest : public ::testing::TestWithParam<BigGridCase> {};

TEST_P(BigGridPlanTest, ChoosesFrameKindAndStorage) {
    const BigGridCase c = GetParam();
    const GridPlan plan = planGrid(c.width, c.height, c.expanded, [] { return false; }, c.limit);
    EXPECT_EQ(plan.n, c.n);
    if (c.n == 0) return;
    EXPECT_EQ(plan.half, c.half);
    EXPECT_EQ(plan.windowedOnly, c.windowedOnly);
    EXPECT_EQ(plan.offsetX, (c.n - c.width) / 2);
    EXPECT_EQ(plan.offsetY, (c.n - c.height) / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BigGridPlanTest,
    ::testing::Values(
        BigGridCase{5000, 5000, true, 8192, 8192, false, false},     // whole, as always
        BigGridCase{8100, 8100, true, 8192, 16384, true, false},     // one doubling: mirror
        BigGridCase{11520, 8184, true, 8192, 16384, true, false},    // the camera frame
        BigGridCase{16184, 16184, true, 8192, 16384, true, false},   // margins of 100 still
        BigGridCase{16185, 100, true, 8192, 16384, true, true},      // margins too small
        BigGridCase{20000, 9000, true, 8192, 32768, true, true},     // windowed above it
        BigGridCase{32768, 32768, true, 8192, 32768, true, true},
        BigGridCase{32769, 64, true, 8192, 0, false, false},         // too large
        BigGridCase{20000, 9000, false, 8192, 32768, true, false},   // no margins: mirror
        BigGridCase{8100, 8100, false, 8192, 8192, false, false},
        BigGridCase{200, 150, true, 256, 512, true, false},          // a lowered limit
        BigGridCase{200, 150, true, 128, 256, true, true},
        BigGridCase{200, 150, true, 200, 256, true, true},           // rounded down to 128
        BigGridCase{64, 64, true, 64, 128, true, true},              // never back to whole
        BigGridCase{257, 150, true, 64, 0, false, false},
        BigGridCase{200, 150, true, 100000, 512, false, false}),     // at most 8192
    [](const ::testing::TestParamInfo<BigGridCase>& info) {
        const BigGridCase& c = info.param;
        return std::to_string(c.width) + "x" + std::to_string(c.height) +
               (c.expanded ? "Expanded" : "Plain") + "Limit" + std::to_string(c.limit);
    });

TEST(MirrorIndex, ReflectsAboutHalfSamplePoints) {
    EXPECT_EQ(mirrorIndex(0, 5), 0);
    EXPECT_EQ(mirrorIndex(4, 5), 4);
    EXPECT_EQ(mirrorIndex(5, 5), 4);  // the row past the end repeats the last row
    EXPECT_EQ(mirrorIndex(9, 5), 0);
    EXPECT_EQ(mirrorIndex(10, 5), 0);  // period 2L
    EXPECT_EQ(mirrorIndex(-1, 5), 0);  // the row above repeats the top row
    EXPECT_EQ(mirrorIndex(-2, 5), 1);
    EXPECT_EQ(mirrorIndex(-6, 5), 4);
    EXPECT_EQ(mirrorIndex(-11, 5), 0);
}

TEST(EdgesAreSeamless, WholePeriodsAreSeamlessAndAChangedEdgeIsNot) {
    auto cosine = [](int x, int) {
        return static_cast<int>(std::lround(127.5 + 100 * std::cos(2 * M_PI * 4 * x / 256.0)));
    };
    auto t = makePicture(256, 256, cosine);
    EXPECT_TRUE(edgesAreSeamless(t.pixels()));
    t.pixels().at(0, 17) = static_cast<std::uint8_t>(t.pixels().at(0, 17) - 10);
    EXPECT_FALSE(edgesAreSeamless(t.pixels()));
    auto top = makePicture(256, 256, cosine);
    top.pixels().at(30, 0) = static_cast<std::uint8_t>(top.pixels().at(30, 0) + 10);
    EXPECT_FALSE(edgesAreSeamless(top.pixels()));
}

TEST(ForwardTransform, ConstantImageHasOnlyTheCentreElement) {
    auto t = makePicture(128, 128, [](int, int) { return 77; });
    SpectrumSettings settings;
    SpectrumBuffers buffers;
    core::RecordingSink sink;
    core::RecordingBusy busy(sink);
    ASSERT_TRUE(forwardTransform(t.image, t.geometry, settings, buffers, sink, busy));
    ASSERT_EQ(buffers.n, 128);
    EXPECT_EQ(buffers.offsetX, 0);
    EXPECT_EQ(buffers.offsetY, 0);
    const double dc = 77.0 * 128 * 128;
    for (int r = 0; r < 128; ++r)
        for (int c = 0; c < 128; ++c) {
            const std::size_t i = static_cast<std::size_t>(r) * 128 + c;
            const double expected = (r == 64 && c == 64) ? dc : 0.0;
            ASSERT_NEAR(buffers.real[i], expected, 1e-9 * dc) << r << "," << c;
            ASSERT_NEAR(buffers.imag[i], 0.0, 1e-9 * dc) << r << "," << c;
        }
    // The picture shows the single bright centre.
    EXPECT_EQ(t.pixels().at(64, 64), 255);
    EXPECT_EQ(t.pixels().at(10, 10), 0);
}

TEST(ForwardTransform, AFlatSpectrumIsRefusedSilently) {
    auto t = makePicture(64, 64, [](int, int) { return 0; });
    SpectrumSettings settings;
    SpectrumBuffers buffers;
    core::RecordingSink sink;
    core::RecordingBusy busy(sink);
    EXPECT_FALSE(forwardTransform(t.image, t.geometry, settings, buffers, sink, busy));
    EXPECT_FALSE(buffers.present());
    EXPECT_TRUE(sink.messages().empty());
}

TEST(ForwardTransform, FramesModulatesAndMapsTheSpectrum) {
    // A bright single pixel on black: |F| is flat in theory, so add a slow ramp.
    auto t = makePicture(100, 80, [](int x, int y) { return (x + 2 * y) % 256; });
    SpectrumSettings settings;
    SpectrumBuffers buffers;
    core::RecordingSink sink;
    core::RecordingBusy busy(sink);
    ASSERT_TRUE(forwardTransform(t.image, t.geometry, settings, buffers, sink, busy));
    ASSERT_TRUE(buffers.present());
    EXPECT_EQ(buffers.n, 256);  // 100 x 80 -> 2^(6+1) = 128, margins 14 < 100 -> once more
    EXPECT_EQ(buffers.offsetX, 78);
    EXPECT_EQ(buffers.offsetY, 88);
    EXPECT_EQ(buffers.imageMin, 0);
    EXPECT_EQ(buffers.imageMax, 255);
    // The zero frequency sits at the frame centre and holds the sum of the mirror-filled frame.
    double sum = 0;
    for (int r = 0; r < 256; ++r)
        for (int c = 0; c < 256; ++c)
            sum += (mirrorIndex(c - 78, 100) + 2 * mirrorIndex(r - 88, 80)) % 256;
    const std::size_t centre = 128 * 256 + 128;
    EXPECT_NEAR(buffers.real[centre], sum, 1e-6 * sum);
    EXPECT_NEAR(buffers.imag[centre], 0.0, 1e-6 * sum);
    // The busy state brackets the work and no message was shown.
    ASSERT_EQ(sink.events.size(), 2u);
    EXPECT_EQ(sink.events[0].kind, core::RecordedEvent::BusyBegin);
    EXPECT_EQ(sink.events[1].kind, core::RecordedEvent::BusyEnd);
}

TEST(ForwardTransform, RefusesAFrameBeyondTwoDoublingsOfTheLimit) {
    auto t = makePicture(300, 64, [](int x, int) { return x % 200; });
    SpectrumSettings settings;
    settings.fullFrameLimit = 64;  // the windowed frame would need 512, two doublings above
    SpectrumBuffers buffers;
    core::RecordingSink sink;
    core::RecordingBusy busy(sink);
    EXPECT_FALSE(forwardTransform(t.image, t.geometry, settings, buffers, sink, busy));
    ASSERT_EQ(sink.events.size(), 1u);
    EXPECT_EQ(sink.events[0].text,
              "Unable to carry out the FFT.\nbecause of the image size being too large.");
    EXPECT_EQ(sink.events[0].caption, "Warning");
    EXPECT_EQ(sink.events[0].style, core::kIconWarning);
    EXPECT_FALSE(buffers.present());
}

TEST(ForwardTransform, HalfSpectrumShowsWhatTheWholeFrameShows) {
    auto pattern = [](int x, int y) {
        return static_cast<int>(128 + 60 * std::cos(0.9 * x) * std::cos(1.3 * y) + (x * y) % 23);
    };
    auto whole = makePicture(200, 150, pattern);
    auto half = makePicture(200, 150, pattern);
    for (const bool single : {false, true}) {
        SpectrumSettings settings;
        settings.display.logScale = true;
        SpectrumBuffers a, b;
        core::RecordingSink sink;
        core::RecordingBusy busy(sink);
        ASSERT_TRUE(forwardTransform(whole.image, whole.geometry, settings, a, sink, busy));
        settings.fullFrameLimit = 256;
        settings.precision = single ? Precision::Single : Precision::Double;
        ASSERT_TRUE(forwardTransform(half.image, half.geometry, settings, b, sink, busy));
        ASSERT_TRUE(b.isHalf());
        EXPECT_EQ(b.half.single, single);
        EXPECT_EQ(b.n, 512);
        // Every element, both halves, agrees with the whole frame's.
        double worst = 0, scale = 0;
        for (int r = 0; r < 512; r += 7)
            for (int c = 0; c < 512; ++c) {
                scale = std::max(scale, std::abs(a.element(r, c)));
                worst = std::max(worst, std::abs(a.element(r, c) - b.element(r, c)));
            }
        EXPECT_LT(worst / scale, single ? 1e-6 : 1e-12);
        int differ = 0;
        for (int y = 0; y < 150; ++y)
            for (int x = 0; x < 200; ++x)
                differ += std::abs(whole.pixels().at(x, y) - half.pixels().at(x, y)) > 1;
        EXPECT_EQ(differ, 0);
        whole = makePicture(200, 150, pattern);
        half = makePicture(200, 150, pattern);
    }
}

TEST(BigGridStorage, DoubleOnlyWhileTheWholeJobStaysWithinTheBudget) {
    constexpr std::uint64_t GiB = std::uint64_t{1} << 30;
    bool single = false;
    // A 32768 x 16384 16-bit montage: 0.5 GiB of 8-bit picture and 4 GiB of levels held; double
    // would add 10.6 GiB, past 12 GiB although 20 GiB are free.
    const std::uint64_t montage = 32768ull * 16384 * 9;
    ASSERT_TRUE(chooseBigGridStorage(32768, 32768, 16384, Precision::Automatic, 20 * GiB,
                                     montage, single));
    EXPECT_TRUE(single);
    // The same frame of an 8-bit picture fits the budget in double.
    ASSERT_TRUE(chooseBigGridStorage(32768, 32768, 16384, Precision::Automatic, 20 * GiB,
                                     32768ull * 16384, single));
    EXPECT_FALSE(single);
    // A super-resolution frame (16384) stays in double; so does a stated double past the budget.
    ASSERT_TRUE(chooseBigGridStorage(16384, 11520, 8184, Precision::Automatic, 20 * GiB,
                                     11520ull * 8184 * 9, single));
    EXPECT_FALSE(single);
    single = true;
    ASSERT_TRUE(chooseBigGridStorage(32768, 32768, 16384, Precision::Double, 20 * GiB, montage,
                                     single));
    EXPECT_FALSE(single);
    // Short of memory: single where it fits, nothing where even single does not.
    ASSERT_TRUE(chooseBigGridStorage(16384, 11520, 8184, Precision::Automatic, 2 * GiB, 0, single));
    EXPECT_TRUE(single);
    single = false;
    EXPECT_FALSE(chooseBigGridStorage(32768, 32768, 16384, Precision::Automatic, 2 * GiB, 0,
                                      single));
    EXPECT_FALSE(single);
}

}  // namespace
}  // namespace spectrum
