// What the live view adds around the box's spectrum: the scale bar of the saved picture (a round
// length, drawn where and as long as it says), the readout of a point of the box's spectrum, and
// the crop of "Transform this region", which must be what opening a file of the box's samples
// gives.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "image/open_image.h"
#include "spectrum/engine/live_box.h"
#include "spectrum/engine/readout.h"
#include "spectrum/engine/scale_bar.h"
#include "test_images.h"

namespace spectrum {
namespace {

using testing::makePicture;

TEST(ScaleBar, LengthIsTheLargestOneTwoOrFiveTimesAPowerOfTenNotAboveTheLimit) {
    struct Case {
        double limit, length;
        int decimals;
    };
    for (const Case c : {Case{12.5, 10, 0}, Case{0.37, 0.2, 1}, Case{7, 5, 0}, Case{1, 1, 0},
                         Case{0.1, 0.1, 1}, Case{1000, 1000, 0}, Case{0.0049, 0.002, 3},
                         Case{4.99, 2, 0}, Case{5, 5, 0}, Case{0.3, 0.2, 1}, Case{99.9, 50, 0}}) {
        int decimals = -1;
        EXPECT_DOUBLE_EQ(roundLengthAtMost(c.limit, &decimals), c.length) << c.limit;
        EXPECT_EQ(decimals, c.decimals) << c.limit;
    }
}

TEST(ScaleBar, SpansATenthToAQuarterOfThePictureInRoundLengths) {
    // 0.02 nm pixels, 256 box: one picture pixel is 1/(256 x 0.02) per nm; a quarter of the width
    // is 12.5 1/nm, so 10 1/nm over 51.2 pixels.
    const auto bar = chooseScaleBar(256, image::PixelSize{0.02, 0.02});
    ASSERT_TRUE(bar);
    EXPECT_DOUBLE_EQ(bar->length, 10.0);
    EXPECT_EQ(bar->pixels, 51);
    EXPECT_EQ(bar->label, "10 1/nm");
    EXPECT_EQ(chooseScaleBar(512, image::PixelSize{1.0, 1.0})->label, "0.2 1/nm");
    const std::set<double> mantissas{1, 2, 5};
    for (const int side : kBoxSides)
        for (double nm = 0.003; nm < 40; nm *= 1.37) {
            const auto b = chooseScaleBar(side, image::PixelSize{nm, nm * 3});
            ASSERT_TRUE(b);
            const double mantissa =
                b->length / std::pow(10.0, std::floor(std::log10(b->length) + 1e-9));
            EXPECT_TRUE(mantissas.count(std::round(mantissa * 1e6) / 1e6)) << b->length;
            // Across the picture the x size counts; the bar's pixels are its length in them.
            EXPECT_NEAR(b->pixels, b->length * side * nm, 0.5);
            EXPECT_LE(b->pixels, side / 4);
            EXPECT_GE(b->pixels, side / 10 - 1);
        }
    EXPECT_FALSE(chooseScaleBar(256, std::nullopt));
    EXPECT_FALSE(chooseScaleBar(256, image::PixelSize{0, 0}));
}

// The pixels of a picture equal to `value`, by rows from the top.
int countEqual(testing::TestPicture& t, int value, int top, int bottom, int left, int right) {
    int n = 0;
    GreyPixels p = t.pixels();
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) n += p.at(x, y) == value;
    return n;
}

TEST(ScaleBar, DrawnInTheBottomRightCornerOnlyAsLongAsItsLength) {
    auto t = makePicture(256, 256, [](int, int) { return 100; });
    const auto bar = chooseScaleBar(256, image::PixelSize{0.02, 0.02});
    drawScaleBar(t.image, *bar);
    // The bar: two rows of 51 bright pixels ending 5 pixels from the right, 5 above the foot.
    GreyPixels p = t.pixels();
    for (const int y : {249, 250}) {
        int run = 0;
        for (int x = 0; x < 256; ++x) run += p.at(x, y) == 255;
        EXPECT_EQ(run, 51) << y;
        EXPECT_EQ(p.at(250, y), 255);
        EXPECT_EQ(p.at(251, y), 0);  // the panel's padding
    }
    // Nothing outside the corner panel changes; the label is drawn above the bar.
    EXPECT_EQ(countEqual(t, 100, 0, 232, 0, 256), 256 * 232);
    EXPECT_EQ(countEqual(t, 100, 0, 256, 0, 190), 256 * 190);
    EXPECT_GT(countEqual(t, 255, 234, 245, 190, 253), 20);

    // A table whose brightest entry is 0 (an inverted display): the bar takes entry 0.
    auto inverted = makePicture(64, 64, [](int, int) { return 100; });
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) inverted.image.dib.block[40 + i * 4 + c] = 255 - i;
    drawScaleBar(inverted.image, *chooseScaleBar(64, image::PixelSize{0.1, 0.1}));
    EXPECT_GT(countEqual(inverted, 0, 56, 60, 0, 64), 4);
    EXPECT_GT(countEqual(inverted, 255, 56, 60, 0, 64), 0);  // the panel
}

TEST(LiveReadout, FrequencyOfAPointOfTheBoxSpectrumCountsTheBoxSide) {
    std::vector<double> magnitudes(64 * 64);
    for (std::size_t i = 0; i < magnitudes.size(); ++i) magnitudes[i] = static_cast<double>(i);
    const Readout r = readoutInBox(magnitudes, 64, 40, 32, image::PixelSize{0.1, 0.1});
    ASSERT_TRUE(r.inside);
    EXPECT_DOUBLE_EQ(r.frequency, 8 / (64 * 0.1));
    EXPECT_DOUBLE_EQ(r.spacing, 64 * 0.1 / 8);
    EXPECT_DOUBLE_EQ(r.rootPower, 32 * 64 + 40);
    EXPECT_DOUBLE_EQ(readoutInBox(magnitudes, 64, 32, 24, std::nullopt).angleDegrees, 90.0);
    EXPECT_DOUBLE_EQ(readoutInBox(magnitudes, 64, 32, 24, std::nullopt).frequency, 8.0 / 64);
    EXPECT_FALSE(readoutInBox(magnitudes, 64, 64, 0, std::nullopt).inside);
    EXPECT_FALSE(readoutInBox(magnitudes, 128, 0, 0, std::nullopt).inside);
}

TEST(Region, EightBitPictureGivesItsOwnPixels) {
    auto t = makePicture(300, 200, [](int x, int y) { return (x * 7 + y * 3) % 256; });
    const auto region = cropRegion(t.image, t.geometry, std::nullopt, nullptr, Box{100, 50, 128});
    ASSERT_TRUE(region);
    EXPECT_FALSE(region->source);
    EXPECT_FALSE(region->precise);
    EXPECT_EQ(region->geometry.width, 128);
    EXPECT_EQ(region->geometry.fileSize, 128u * 128 + 1078);
    testing::TestPicture crop{region->picture, region->geometry};
    GreyPixels p = crop.pixels();
    ASSERT_NE(p.base, nullptr);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) ASSERT_EQ(p.at(x, y), ((x + 100) * 7 + (y + 50) * 3) % 256);
    EXPECT_FALSE(cropRegion(t.image, t.geometry, std::nullopt, nullptr, Box{200, 0, 128}));
    EXPECT_FALSE(cropRegion(t.image, t.geometry, std::nullopt, nullptr, Box{0, 0, 100}));
}

// A 16-bit or float source as opened, and the box of it: the region's picture and levels are
// those of the box's own samples opened as an image.
void expectRegionIsTheOpenedBox(image::SampleType type,
                                const std::function<double(int, int)>& value) {
    image::GreyImage source;
    source.type = type;
    source.format = image::ImageFormat::Tiff;
    source.width = 320;
    source.height = 256;
    source.pixelSizeNm = image::PixelSize{0.02, 0.02};
    source.imageCount = 5;
    source.imageIndex = 3;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 320; ++x) source.samples.push_back(value(x, y));
    const auto [lo, hi] = std::minmax_element(source.samples.begin(), source.samples.end());
    source.minimum = *lo;
    source.maximum = *hi;
    image::GreyImage box = source;
    box.width = box.height = 128;
    box.samples.clear();
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x) box.samples.push_back(value(x + 150, y + 60));
    const auto [blo, bhi] = std::minmax_element(box.samples.begin(), box.samples.end());
    box.minimum = *blo;
    box.maximum = *bhi;

    image::CurrentImage picture = image::normalisedPictureOf(source);
    const image::ImageGeometry geometry{320, 256, 320, picture.fileHeader.bfSize};
    const auto levels = image::transformLevels(source);
    source.samples = {};
    const auto region = cropRegion(picture, geometry, source, levels.get(), Box{150, 60, 128});
    ASSERT_TRUE(region);
    EXPECT_EQ(region->picture.dib.block, image::normalisedPictureOf(box).dib.block);
    const auto expected = image::transformLevels(box);
    ASSERT_TRUE(region->precise);
    ASSERT_EQ(region->precise->levels.size(), expected->levels.size());
    for (std::size_t i = 0; i < expected->levels.size(); ++i)
        ASSERT_NEAR(region->precise->levels[i], expected->levels[i], 1e-9) << i;
    EXPECT_DOUBLE_EQ(region->precise->minimum, box.minimum);
    ASSERT_TRUE(region->source);
    EXPECT_EQ(region->source->type, type);
    EXPECT_EQ(region->source->pixelSizeNm, source.pixelSizeNm);
    EXPECT_EQ((region->source->width), 128);
    EXPECT_EQ(region->source->imageCount, 1);
    EXPECT_TRUE(region->source->samples.empty());
}

TEST(Region, SourceAboveEightBitsGivesTheBoxOfItsSamples) {
    expectRegionIsTheOpenedBox(image::SampleType::U16, [](int x, int y) {
        return static_cast<double>((x * 977 + y * 131 + x * y) % 60000 + 1000);
    });
    expectRegionIsTheOpenedBox(image::SampleType::F32, [](int x, int y) {
        return static_cast<double>(static_cast<float>(std::sin(x * 0.3) * 40 + y * 0.01 - 3));
    });
}

}  // namespace
}  // namespace spectrum
