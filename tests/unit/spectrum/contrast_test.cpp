#include "spectrum/engine/contrast.h"

#include <gtest/gtest.h>

#include "test_images.h"
#include "tests/doubles/recording.h"

namespace spectrum {
namespace {

TEST(ContrastBrightness, MappingFollowsTheWorkedExamples) {
    for (int p = 0; p < 256; ++p) ASSERT_EQ(adjustedLevel(p, 0, 0), p);
    EXPECT_EQ(adjustedLevel(50, 5, 0), 0);
    EXPECT_EQ(adjustedLevel(127, 5, 0), 126);
    EXPECT_EQ(adjustedLevel(205, 5, 0), 255);
    EXPECT_EQ(adjustedLevel(230, 5, 0), 255);
    EXPECT_EQ(adjustedLevel(0, -10, 0), 56);
    EXPECT_EQ(adjustedLevel(255, -10, 0), 198);
    EXPECT_EQ(adjustedLevel(155, 0, 10), 255);
    EXPECT_EQ(adjustedLevel(154, 0, 10), 254);
    EXPECT_EQ(adjustedLevel(0, 0, 10), 100);
    EXPECT_EQ(adjustedLevel(60, 0, -10), 0);
}

TEST(ContrastBrightness, RewritesPixelsButNotTheColourTable) {
    auto t = testing::makePicture(65, 64, [](int x, int y) { return (x + y) % 256; });
    const std::vector<std::uint8_t> table(t.image.dib.block.begin() + 40,
                                          t.image.dib.block.begin() + 1064);
    ASSERT_TRUE(adjustContrastBrightness(t.image, t.geometry, 5, 1));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 65; ++x)
            ASSERT_EQ(t.pixels().at(x, y), adjustedLevel((x + y) % 256, 5, 1));
    EXPECT_TRUE(std::equal(table.begin(), table.end(), t.image.dib.block.begin() + 40));
    // Row padding stays untouched.
    EXPECT_EQ(t.image.dib.block[1064 + 65], 0);
}

TEST(ContrastBrightness, PreviewSizeAndRefusal) {
    core::RecordingSink sink;
    auto at = [&](int w, int h, int vr) {
        return choosePreview({w, h, (w + 3) / 4 * 4, 0}, vr, sink);
    };
    const auto large = at(512, 480, 1);
    ASSERT_TRUE(large);
    EXPECT_EQ(large->size, 96);
    EXPECT_EQ(large->left, 208);
    EXPECT_EQ(large->top, 192);
    const auto narrow = at(160, 600, 2);  // shown at 80 x 300
    ASSERT_TRUE(narrow);
    EXPECT_EQ(narrow->size, 64);
    EXPECT_EQ(narrow->left, 8);
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_FALSE(at(120, 600, 2));  // shown at 60 x 300
    ASSERT_EQ(sink.messages().size(), 1u);
    EXPECT_EQ(sink.messages()[0].text, "Too small bitmap (less than 64W or 64H)!");
    EXPECT_EQ(sink.messages()[0].caption, "Error");
    EXPECT_EQ(sink.messages()[0].style, core::kIconWarning);
}

}  // namespace
}  // namespace spectrum
