// The reciprocal-space readout and the full-precision forward path: the frequency rule uses the
// transform frame (not the image width) and the view reduction, and levels above 8 bits enter the
// frame unrounded.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "core/localized.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/line_wave.h"
#include "spectrum/engine/radial.h"
#include "spectrum/engine/readout.h"
#include "test_images.h"
#include "tests/doubles/recording.h"

namespace spectrum {
namespace {

using testing::makePicture;

std::optional<image::PixelSize> square(double nm) {
    return image::PixelSize{nm, nm};
}

SpectrumBuffers frameOf(int n, int offsetX, int offsetY) {
    SpectrumBuffers b;
    b.real = allocateGridArray(static_cast<std::size_t>(n) * n);
    b.imag = allocateGridArray(static_cast<std::size_t>(n) * n);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) * n; ++i) {
        b.real[i] = static_cast<double>(i % 7);
        b.imag[i] = 1.0;
    }
    b.n = n;
    b.offsetX = offsetX;
    b.offsetY = offsetY;
    return b;
}

TEST(Readout, FrequencyIsRadiusOverFrameTimesPixelSize) {
    // A 300 x 200 image in a 1024 frame: the centre of the picture is frame pixel (512, 512).
    const image::ImageGeometry g{300, 200, 300, 300 * 200 + 1078};
    const SpectrumBuffers b = frameOf(1024, 362, 412);
    const Readout centre = readoutAt(b, g, 150, 100, square(0.2));
    ASSERT_TRUE(centre.inside);
    EXPECT_EQ(centre.frequency, 0.0);
    EXPECT_EQ(centre.spacing, 0.0);
    // 40 pixels to the right: 40 / (1024 x 0.2) per nm, not 40 / (300 x 0.2).
    const Readout right = readoutAt(b, g, 190, 100, square(0.2));
    EXPECT_TRUE(right.calibrated);
    EXPECT_DOUBLE_EQ(right.frequency, 40.0 / (1024 * 0.2));
    EXPECT_DOUBLE_EQ(right.spacing, 1024 * 0.2 / 40.0);
    EXPECT_DOUBLE_EQ(right.angleDegrees, 0.0);
    // Up is +90 degrees, as the line wave counts; down-right is -45.
    EXPECT_DOUBLE_EQ(readoutAt(b, g, 150, 70, square(0.2)).angleDegrees, 90.0);
    EXPECT_NEAR(readoutAt(b, g, 160, 110, square(0.2)).angleDegrees, -45.0, 1e-12);
    EXPECT_NEAR(readoutAt(b, g, 140, 110, square(0.2)).angleDegrees, 45.0, 1e-12);
    const std::size_t i = static_cast<std::size_t>(512) * 1024 + 552;
    EXPECT_DOUBLE_EQ(right.rootPower, std::hypot(b.real[i], b.imag[i]));
    // Without a calibration, per pixel of the frame.
    const Readout pixels = readoutAt(b, g, 190, 100, std::nullopt);
    EXPECT_FALSE(pixels.calibrated);
    EXPECT_DOUBLE_EQ(pixels.frequency, 40.0 / 1024);
    // A screen point of a picture shown halved is twice as far out.
    EXPECT_DOUBLE_EQ(readoutAtScreen(b, g, 95, 50, 2, square(0.2)).frequency, right.frequency);
    EXPECT_FALSE(readoutAt(b, g, 300, 0, square(0.2)).inside);
    EXPECT_FALSE(readoutAt(b, g, -1, 0, square(0.2)).inside);
}

TEST(Readout, StatusTextInBothLanguages) {
    const image::ImageGeometry g{300, 200, 300, 300 * 200 + 1078};
    const SpectrumBuffers b = frameOf(1024, 362, 412);
    core::setJapaneseTexts(false);
    const std::string text = formatReadout(readoutAt(b, g, 190, 100, square(0.2)));
    EXPECT_EQ(text.rfind("Frequency 0.1953 1/nm   d = 5.1200 nm   angle 0.0\xC2\xB0", 0), 0u) << text;
    // Below a nanometre the spacing is in Angstrom.
    EXPECT_NE(formatReadout(readoutAt(b, g, 290, 100, square(0.01))).find("\xC3\x85"),
              std::string::npos);
    EXPECT_NE(formatReadout(readoutAt(b, g, 190, 100, std::nullopt)).find("1/pixel"),
              std::string::npos);
    core::setJapaneseTexts(true);
    EXPECT_EQ(formatReadout(readoutAt(b, g, 190, 100, square(0.2))).rfind("空間周波数", 0), 0u);
    core::setJapaneseTexts(false);
    EXPECT_EQ(formatReadout(readoutAt(b, g, 400, 100, square(0.2))), "");
}

TEST(Readout, PixelsThatAreNotSquareConvertEachComponentOnItsOwnAxis) {
    const image::ImageGeometry g{300, 200, 300, 300 * 200 + 1078};
    const SpectrumBuffers b = frameOf(1024, 362, 412);
    const image::PixelSize size{0.2, 0.3};
    // Picture (190, 130) is frame offset (40, 30) from the zero frequency.
    const Readout r = readoutAt(b, g, 190, 130, size);
    ASSERT_TRUE(r.calibrated);
    EXPECT_DOUBLE_EQ(r.frequency, std::hypot(40 / (1024 * 0.2), 30 / (1024 * 0.3)));
    EXPECT_DOUBLE_EQ(r.spacing, 1.0 / r.frequency);
    EXPECT_NEAR(r.angleDegrees, -36.86989764584402, 1e-12);  // as seen, not as calibrated
    // On the centre row only x counts, on the centre column only y.
    EXPECT_DOUBLE_EQ(readoutAt(b, g, 190, 100, size).frequency, 40 / (1024 * 0.2));
    EXPECT_DOUBLE_EQ(readoutAt(b, g, 150, 130, size).frequency, 30 / (1024 * 0.3));
    // The calibrated line along the centre column (90 degrees) is in y's own units.
    const std::string csv = calibratedLineCsv(b, g, 90.0, size);
    const std::string first =
        csv.substr(csv.find('\n') + 1, csv.find('\n', csv.find('\n') + 1) - csv.find('\n') - 1);
    // The first sample inside the picture: x = 150, y = 199, 99 frame rows below the centre.
    char expected[64];
    std::snprintf(expected, sizeof expected, "150,199,%.10g,%.10g,", 99 / (1024 * 0.3),
                  -99 / (1024 * 0.3));
    EXPECT_EQ(first.rfind(expected, 0), 0u) << first;
}

TEST(Readout, CalibratedLineCsvFollowsTheFftDataRows) {
    const image::ImageGeometry g{300, 200, 300, 300 * 200 + 1078};
    const SpectrumBuffers b = frameOf(1024, 362, 412);
    const std::string csv = calibratedLineCsv(b, g, 0.0, square(0.5));
    const std::string data = fftDataText(b, g, 0.0);
    std::size_t rows = 0, lines = 0;
    for (char c : csv) rows += c == '\n';
    for (std::size_t at = data.find("\r\n"); at != std::string::npos; at = data.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(rows - 1, lines - 6);
    // The first sample is x = 0 on the centre row: 150 frame pixels left, negative side.
    const std::string first = csv.substr(csv.find('\n') + 1, csv.find('\n', csv.find('\n') + 1) - csv.find('\n') - 1);
    EXPECT_EQ(first.rfind("0,100,0.29296875,-0.29296875,", 0), 0u) << first;
}

TEST(PreciseForward, LevelsAboveEightBitsEnterTheFrameUnrounded) {
    // The shown picture is a flat 8-bit rendering; the levels carry the detail.
    auto picture = makePicture(64, 64, [](int, int) { return 100; });
    auto levels = std::make_shared<image::PreciseLevels>();
    levels->width = levels->height = 64;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) levels->levels.push_back(100.25 + 0.5 * std::cos(x * 0.7));
    SpectrumSettings settings;
    SpectrumBuffers precise, shown;
    core::RecordingSink sink;
    core::NoBusyIndicator busy;
    auto copy = picture;
    ASSERT_TRUE(forwardTransform(picture.image, picture.geometry, settings, precise, sink, busy,
                                 levels));
    // The flat 8-bit picture alone has only a zero-frequency term and cannot be shown.
    forwardTransform(copy.image, copy.geometry, settings, shown, sink, busy, nullptr);
    ASSERT_TRUE(precise.present());
    double sum = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) sum += levels->at(x, y);
    // The zero-frequency term of the frame holds the levels' sum, fractions and all, times the
    // mirror copies that fill the frame.
    const int n = precise.n;
    const double dc = precise.real[static_cast<std::size_t>(n / 2) * n + n / 2];
    EXPECT_NEAR(dc / (static_cast<double>(n) * n / (64.0 * 64.0)), sum, 1e-6 * sum);
    EXPECT_NE(std::fmod(sum, 1.0), 0.0);
    // Levels of another size than the picture are ignored rather than read out of bounds.
    auto narrow = std::make_shared<image::PreciseLevels>(*levels);
    narrow->width = 32;
    SpectrumBuffers ignored;
    auto again = makePicture(64, 64, [](int x, int) { return x; });
    EXPECT_TRUE(forwardTransform(again.image, again.geometry, settings, ignored, sink, busy, narrow));
    EXPECT_FALSE(ignored.precise);
}

// Spot lists and readouts: four significant digits whatever the decade, never an exponent,
// never a signed zero.
TEST(NumberText, SignificantDigitsAndUnsignedZeros) {
    EXPECT_EQ(significantDigits(0.31349, 4), "0.3135");
    EXPECT_EQ(significantDigits(0.313, 4), "0.3130");
    EXPECT_EQ(significantDigits(12.0, 4), "12.00");
    EXPECT_EQ(significantDigits(9.001, 4), "9.001");
    EXPECT_EQ(significantDigits(1024.4, 4), "1024");
    EXPECT_EQ(significantDigits(123456.0, 4), "123456");
    EXPECT_EQ(significantDigits(0.00012, 4), "0.0001200");
    // Rounding that carries into the next decade keeps four digits.
    EXPECT_EQ(significantDigits(9.99996, 4), "10.00");
    EXPECT_EQ(significantDigits(0.099996, 4), "0.1000");
    EXPECT_EQ(significantDigits(-2.5, 4), "-2.500");
    EXPECT_EQ(significantDigits(0.0, 4), "0.000");
    EXPECT_EQ(significantDigits(-0.0, 4), "0.000");
    EXPECT_EQ(significantDigits(NAN, 4), "-");
    EXPECT_EQ(fixedDecimals(-0.0, 2), "0.00");
    EXPECT_EQ(fixedDecimals(-0.004, 2), "0.00");
    EXPECT_EQ(fixedDecimals(-0.005001, 2), "-0.01");
    EXPECT_EQ(fixedDecimals(-106.8634, 2), "-106.86");
    EXPECT_EQ(fixedDecimals(3.5, 0), "4");
}

// The radial profile window's readout: |g| and d of the bin under the mouse, the power of the
// nearest whole bin, nothing beyond the sampling limit.
TEST(NumberText, RadialProfileReadout) {
    RadialProfile profile;
    profile.n = 1024;
    profile.power = std::vector<double>(600, 1.0);
    profile.power[200] = 12345.0;
    // Bin 200.3 of a 1024 frame: 0.1956 per pixel, 5.112 pixels; at 0.2 nm per pixel 0.9780 per
    // nm and 1.022 nm.
    EXPECT_EQ(radialReadoutText(profile, 200.3, 0.0),
              "|g| 0.1956 1/pixel   d 5.112 pixels   power 1.234e+04");
    EXPECT_EQ(radialReadoutText(profile, 200.3, 0.2),
              "|g| 0.9780 1/nm   d 1.022 nm   power 1.234e+04");
    EXPECT_EQ(radialReadoutText(profile, 0.0, 0.2), "|g| 0.000 1/nm   d - nm   power 1");
    EXPECT_EQ(radialReadoutText(profile, 512.5, 0.2), "");
    EXPECT_EQ(radialReadoutText(profile, -1.0, 0.2), "");
}

}  // namespace
}  // namespace spectrum
