#include "spectrum/rules/dialog_values.h"

#include <gtest/gtest.h>

#include "spectrum/engine/filters.h"

namespace spectrum {
namespace {

TEST(EditNumber, FormatsWholeAndFractionalValues) {
    EXPECT_EQ(formatEditNumber(0.0), "0");
    EXPECT_EQ(formatEditNumber(10.0), "10");
    EXPECT_EQ(formatEditNumber(10000.0), "10000");
    EXPECT_EQ(formatEditNumber(12.5), "12.5");
    EXPECT_EQ(formatEditNumber(0.99), "0.99");
    EXPECT_EQ(formatEditNumber(1.00000000001), "1.00000000001");
}

// A box's text counts when the whole of it is a number from 1 to 10000, fractions included.
TEST(EditNumber, AcceptsAnyNumberFromOneToTenThousandAsTheWholeText) {
    EXPECT_EQ(parseEditNumber("15.5"), 15.5);
    EXPECT_EQ(parseEditNumber("1"), 1.0);
    EXPECT_EQ(parseEditNumber("10000"), 10000.0);
    EXPECT_EQ(parseEditNumber("1e3"), 1000.0);
    for (const char* bad : {"", "20000", "10000.01", "0.999", "0.5", "0", "-3", "12a", "abc", " ",
                            "nan", "inf"})
        EXPECT_FALSE(parseEditNumber(bad)) << bad;
}

TEST(EditNumber, FormattedValuesReadBackUnchanged) {
    for (double v : {1.0, 2.5, 10.0, 33.125, 9999.75})
        EXPECT_EQ(parseEditNumber(formatEditNumber(v)), v) << v;
}

TEST(FrequencyList, EntriesAndIndices) {
    EXPECT_EQ(frequencyEntryText(0), "0.000");
    EXPECT_EQ(frequencyEntryText(500), "0.500");
    EXPECT_EQ(frequencyEntryText(9), "0.009");
    EXPECT_EQ(frequencyEntryText(1000), "1.000");
    // 0.009 is stored as slightly less than nine thousandths: the entry must still be 9.
    EXPECT_EQ(frequencyEntryIndex(0.009), 9);
    EXPECT_EQ(frequencyEntryIndex(0.5), 500);
    EXPECT_EQ(frequencyEntryIndex(9 * 0.001), 9);
    EXPECT_EQ(frequencyEntryIndex(-0.2), 0);
    EXPECT_EQ(frequencyEntryIndex(1.7), 1000);
}

TEST(BrightnessLists, KeptBrightnessShowsTheImageRangeWhereItFits) {
    const BrightnessSettings b{true, 30, 225};
    const ShownLevels span = levelsShownWhenKept(b, 12, 240);
    EXPECT_EQ(span.dark, 12);
    EXPECT_EQ(span.bright, 240);
    const ShownLevels narrow = levelsShownWhenKept(b, 120, 150);
    EXPECT_EQ(narrow.dark, 30);
    EXPECT_EQ(narrow.bright, 225);
}

TEST(ProfileGraph, DefaultProfileRunsFromTopLeftToBottomRight) {
    const SpecialProfile profile = defaultSpecialProfile();
    const ProfileGraph g = profileGraph(profile, 0);
    ASSERT_GE(g.polyline.size(), 2u);
    EXPECT_EQ(g.polyline.front(), (Point{9, 145 - 136}));
    EXPECT_EQ(g.polyline.back(), (Point{9 + 137, 145}));
    // One point per pixel column, always moving right.
    for (std::size_t i = 1; i < g.polyline.size(); ++i)
        EXPECT_GT(g.polyline[i].x, g.polyline[i - 1].x);
    EXPECT_EQ(g.polyline.size(), 138u);
    // The dot of point 0 sits on the first grid line, 136 above the bottom.
    EXPECT_EQ(g.dotLeft, 7);
    EXPECT_EQ(g.dotTop, 7);
    EXPECT_EQ(g.dotRight - g.dotLeft, 5);
    EXPECT_EQ(g.dotBottom - g.dotTop, 5);
}

TEST(ProfileGraph, DotFollowsTheSelectedPoint) {
    SpecialProfile profile{};
    profile[255] = 0.0;
    const ProfileGraph g = profileGraph(profile, 255);
    EXPECT_EQ(g.dotLeft, 136 + 7);
    EXPECT_EQ(g.dotTop, 143);
}

// Beside the wa and wb lists of a calibrated image: the circle's frequency and d-spacing.
TEST(DialogValues, FractionFrequencyOfACalibratedImage) {
    // 400 x 300 pixels: R = 250 samples; w = 0.5 is 125 samples of a 1024 frame, at 0.2 nm per
    // pixel 125 / 204.8 = 0.6104 per nm, d = 1.638 nm.
    const image::PixelSize size{0.2, 0.2};
    EXPECT_EQ(fractionFrequencyText(0.5, 400, 300, 1024, size), "0.6104 1/nm, d = 1.638 nm");
    EXPECT_EQ(fractionFrequencyText(1.0, 400, 300, 1024, size), "1.221 1/nm, d = 0.8192 nm");
    EXPECT_EQ(fractionFrequencyText(0.0, 400, 300, 1024, size), "0 1/nm");
    EXPECT_EQ(fractionFrequencyText(0.5, 400, 300, 1024, std::nullopt), "");
    EXPECT_EQ(fractionFrequencyText(0.5, 400, 300, 0, size), "");
}

}  // namespace
}  // namespace spectrum
