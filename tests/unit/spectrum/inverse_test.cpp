#include "spectrum/engine/inverse.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "spectrum/engine/display.h"
#include "spectrum/engine/forward.h"
#include "test_images.h"
#include "tests/doubles/recording.h"

namespace spectrum {
namespace {

using testing::makePicture;

int texture(int x, int y) {
    return 40 + (x * 7 + y * 13 + (x * y) % 17) % 180;
}

struct RoundTrip : ::testing::Test {
    testing::TestPicture picture = makePicture(90, 70, texture);
    SpectrumSettings settings;
    SpectrumBuffers buffers;
    core::RecordingSink sink;
    core::RecordingBusy busy{sink};

    void forward() {
        ASSERT_TRUE(
            forwardTransform(picture.image, picture.geometry, settings, buffers, sink, busy));
        sink.events.clear();
    }
    bool inverse() {
        return inverseTransform(picture.image, picture.geometry, settings, buffers, sink, busy);
    }
};

TEST_F(RoundTrip, NoFilterReproducesTheImage) {
    forward();
    settings.filter.circles = {{10, 10, 5}};  // ignored by the standard filter, emptied afterwards
    ASSERT_TRUE(inverse());
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x)
            ASSERT_LE(std::abs(picture.pixels().at(x, y) - texture(x, y)), 1);
    EXPECT_FALSE(buffers.present());
    EXPECT_TRUE(settings.filter.circles.empty());
    const std::uint8_t* table = picture.image.dib.block.data() + 40;
    EXPECT_EQ(table[4 * 200 + 0], 200);
    EXPECT_EQ(table[4 * 200 + 2], 200);
}

TEST_F(RoundTrip, LowPassOfZeroGivesAFlatImageAtTheDarkEnd) {
    forward();
    settings.filter.standardType = kLowPass;
    settings.filter.wa = 0.0;
    settings.filter.wb = 0.0;
    ASSERT_TRUE(inverse());
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) ASSERT_EQ(picture.pixels().at(x, y), 40);  // imageMin
}

TEST_F(RoundTrip, DarkAndBrightStretchToTheChosenRange) {
    forward();
    settings.brightness.keepImageBrightness = false;
    settings.brightness.darkLevel = 0;
    settings.brightness.brightLevel = 255;
    ASSERT_TRUE(inverse());
    int lo = 255, hi = 0;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) {
            lo = std::min<int>(lo, picture.pixels().at(x, y));
            hi = std::max<int>(hi, picture.pixels().at(x, y));
        }
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 255);
}

// Every refusal ends alike: the spectrum is lost, the picture and its levels stay, the circles
// are emptied and the one warning comes after the busy state ended.
TEST_F(RoundTrip, EveryRefusalLosesTheSpectrumAndWarnsAfterTheBusyStateEnded) {
    const std::vector<std::pair<const char*, std::function<void(image::ImageGeometry&)>>> cases = {
        {"a picture larger than the frame",
         [&](image::ImageGeometry&) { buffers.offsetX = buffers.n - 89; }},
        {"a windowed spectrum whose source is gone",
         [&](image::ImageGeometry&) {
             buffers.windowed = true;
             buffers.source.clear();
         }},
        {"a transform that fails",
         [&](image::ImageGeometry& tiny) {
             buffers.n = 3;  // not a power of two: the transform refuses it
             buffers.offsetX = buffers.offsetY = 0;
             tiny.width = tiny.height = 2;
             tiny.fileSize = 1078 + 2 * 4;
         }},
    };
    for (const auto& [name, spoil] : cases) {
        SCOPED_TRACE(name);
        forward();
        settings.filter.circles = {{1, 2, 3}};
        const auto before = picture.image.dib.block;
        auto geometry = picture.geometry;
        spoil(geometry);
        EXPECT_FALSE(inverseTransform(picture.image, geometry, settings, buffers, sink, busy));
        EXPECT_FALSE(buffers.present());
        EXPECT_TRUE(buffers.source.empty());
        EXPECT_TRUE(settings.filter.circles.empty());
        EXPECT_EQ(picture.image.dib.block, before);
        ASSERT_EQ(sink.events.size(), 3u);
        EXPECT_EQ(sink.events[0].kind, core::RecordedEvent::BusyBegin);
        EXPECT_EQ(sink.events[1].kind, core::RecordedEvent::BusyEnd);
        EXPECT_EQ(sink.events[2].text, "Unable to carry out the inverse FFT.");
        EXPECT_EQ(sink.events[2].caption, "Warning");
        EXPECT_EQ(sink.events[2].style, core::kIconWarning);
    }
}

TEST_F(RoundTrip, MaskCircleAroundTheCentreKeepsTheAverage) {
    forward();
    settings.filter.kind = kCirclesCutOutside;
    settings.filter.circles = {{45, 35, 1}};  // only the zero frequency lies strictly inside
    ASSERT_TRUE(inverse());
    // Only the mean survives: a flat picture at the dark end of the kept range.
    const int first = picture.pixels().at(0, 0);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) ASSERT_EQ(picture.pixels().at(x, y), first);
}

}  // namespace
}  // namespace spectrum

namespace spectrum {
namespace {

// The guard's case: every magnitude equal, the span made 0.000001. Every pixel is lo, where the
// expanded form m(hi - lo) + mmax lo - mmin hi over the span lost it to rounding for many mmin.
TEST(RestoredLevel, AFlatResultIsLoForEveryRangeAndMagnitude) {
    int oldFormBelow = 0;
    for (int lo = 0; lo <= 100; lo += 5)
        for (int hi = 155; hi <= 255; hi += 25)
            for (double m : {0.0, 0.3, 1.0, 17.25, 40.0, 99.9, 128.5, 200.0, 1234.5}) {
                const double mmax = m + 0.000001;
                EXPECT_EQ(restoredLevel(m, m, mmax, lo, hi), lo) << lo << " " << hi << " " << m;
                const double old = (m * (hi - lo) + mmax * lo - m * hi) / (mmax - m) + 0.000001;
                oldFormBelow += toLevel(old) < lo;
            }
    // The fault the second form mends does occur over this grid.
    EXPECT_GT(oldFormBelow, 0);
}

TEST(RestoredLevel, TheEndsOfTheSpanMapToTheEndsOfTheRange) {
    EXPECT_EQ(restoredLevel(3.0, 3.0, 7.0, 30, 225), 30);
    EXPECT_EQ(restoredLevel(7.0, 3.0, 7.0, 30, 225), 225);
    EXPECT_EQ(restoredLevel(5.0, 3.0, 7.0, 30, 225), 127);  // 127.5 truncated
    EXPECT_EQ(restoredLevel(5.0, 3.0, 7.0, 0, 255), 127);
    // Limited to 0..255 when the kept range is wider than a byte (never from the lists).
    EXPECT_EQ(restoredLevel(7.0, 3.0, 7.0, 0, 400), 255);
    EXPECT_EQ(restoredLevel(3.0, 3.0, 7.0, -20, 200), 0);
}

}  // namespace
}  // namespace spectrum
