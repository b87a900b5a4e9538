// The vendors' TIFF calibrations from tag values given directly: the rules of each layout that
// files from outside (tests/cli/test_vendor_tiffs.py) do not reach one by one, and hostile values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/tiff_vendor.h"

using image::CalibrationSource;
using image::TiffTagValue;
using image::TiffVendorInput;
using image::readVendorCalibration;

namespace {

TiffTagValue ascii(const std::string& text) { return {2, text.size() + 1, text + '\0', {}}; }
TiffTagValue doubles(double v) { return {12, 1, {}, {v}}; }
TiffTagValue longValue(double v) { return {4, 1, {}, {v}}; }

TiffVendorInput withDm(double x, double y, const std::string& unit = "nm") {
    TiffVendorInput in;
    in.width = 256;
    in.height = 192;
    in.tags = {{65003, ascii(unit)}, {65004, ascii(unit)}, {65006, doubles(0)},
               {65007, doubles(0)}, {65009, doubles(x)}, {65010, doubles(y)}};
    return in;
}

// A file of `bytes` read through the reader's callback.
void backedBy(TiffVendorInput& in, const std::vector<std::uint8_t>& bytes) {
    in.readAt = [&bytes](std::uint64_t offset, std::size_t n, std::uint8_t* out) {
        if (offset > bytes.size() || n > bytes.size() - offset) return false;
        std::memcpy(out, bytes.data() + offset, n);
        return true;
    };
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, bool big = false) {
    for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (big ? 24 - 8 * i : 8 * i));
}
void putFloat(std::vector<std::uint8_t>& b, std::size_t at, float f, bool big = false) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put32(b, at, bits, big);
}

}  // namespace

TEST(VendorDigitalMicrograph, TheWholeSetWithItsTypesCalibratesBothAxes) {
    auto c = readVendorCalibration(withDm(0.0177, 0.02));
    EXPECT_EQ(c.source, CalibrationSource::DigitalMicrograph);
    ASSERT_TRUE(c.calibrated);
    EXPECT_DOUBLE_EQ(c.x, 0.0177);
    EXPECT_DOUBLE_EQ(c.y, 0.02);
    // Latin-1 units, as DigitalMicrograph writes them, come out as UTF-8.
    c = readVendorCalibration(withDm(0.5, 0.5, "\xB5m"));
    EXPECT_EQ(c.xUnit, "\xC2\xB5m");
    // Reused tag numbers: one missing, a FLOAT scale, an ASCII origin, two scales in one tag.
    auto missing = withDm(1, 1);
    missing.tags.erase(65006);
    auto floatScale = withDm(1, 1);
    floatScale.tags[65009] = TiffTagValue{11, 1, {}, {1.0}};
    auto textOrigin = withDm(1, 1);
    textOrigin.tags[65007] = ascii("0");
    auto twoScales = withDm(1, 1);
    twoScales.tags[65010] = TiffTagValue{12, 2, {}, {1.0, 2.0}};
    for (const auto& in : {missing, floatScale, textOrigin, twoScales})
        EXPECT_EQ(readVendorCalibration(in).source, CalibrationSource::None);
}

TEST(VendorDigitalMicrograph, ReciprocalAndUnknownUnitsAndBadSizesGiveANote) {
    auto c = readVendorCalibration(withDm(0.01, 0.01, "1/nm"));
    EXPECT_FALSE(c.calibrated);
    EXPECT_NE(c.note.find("diffraction"), std::string::npos) << c.note;
    c = readVendorCalibration(withDm(2, 2, "pixel"));
    EXPECT_FALSE(c.calibrated);
    EXPECT_NE(c.note.find("not a positive length"), std::string::npos) << c.note;
    for (double bad : {0.0, -1.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e308}) {
        // 1e308 m overflows in nanometres: no more a length than infinity.
        auto in = withDm(bad, 1, bad == 1e308 ? "m" : "nm");
        c = readVendorCalibration(in);
        EXPECT_FALSE(c.calibrated) << bad;
        EXPECT_FALSE(c.note.empty());
    }
}

TEST(VendorFei, ScanSectionFirstThenTheIonBeamFieldOverTheResolution) {
    TiffVendorInput in;
    in.tags[34682] = ascii(
        "[User]\r\nPixelWidth=9\r\n[Beam]\r\nHV=200000\r\n[Scan]\r\nPixelWidth=1.5e-09\r\n"
        "PixelHeight=2e-09\r\nPixelWidth=7\r\n[IRBeam]\r\nHFW=1\r\nVFW=1\r\n");
    auto c = readVendorCalibration(in);
    ASSERT_TRUE(c.calibrated) << c.note;
    EXPECT_DOUBLE_EQ(c.x, 1.5e-9);  // the key in [Scan], its first line
    EXPECT_DOUBLE_EQ(c.y, 2e-9);
    EXPECT_EQ(c.xUnit, "m");
    EXPECT_EQ(c.highTensionV, 200000.0);

    in.tags.clear();
    in.tags[34680] = ascii("[IRBeam]\nHFW=0.0002\nVFW=0.0001\n[Image]\nResolutionX=1000\n"
                           "ResolutionY=500\n[EBeam]\nHV=5000\n");
    c = readVendorCalibration(in);
    ASSERT_TRUE(c.calibrated) << c.note;
    EXPECT_DOUBLE_EQ(c.x, 2e-7);
    EXPECT_DOUBLE_EQ(c.y, 2e-7);
    EXPECT_EQ(c.highTensionV, 5000.0);
    // A resolution of zero, a value that is no number, and no section at all.
    for (const char* text : {"[IRBeam]\nHFW=1\nVFW=1\n[Image]\nResolutionX=0\nResolutionY=0\n",
                             "[Scan]\nPixelWidth=notafloat\nPixelHeight=1e-9\n", "[User]\nA=1\n"}) {
        in.tags[34680] = ascii(text);
        c = readVendorCalibration(in);
        EXPECT_EQ(c.source, CalibrationSource::Fei);
        EXPECT_FALSE(c.calibrated) << text;
        EXPECT_FALSE(c.note.empty());
    }
}

TEST(VendorFei, MagnificationIsTheCanvasWidthOverTheFieldWidth) {
    TiffVendorInput in;
    in.tags[34682] = ascii("[Scan]\nPixelWidth=1e-9\nPixelHeight=1e-9\nHorFieldsize=1e-06\n"
                           "[Image]\nMagCanvasRealWidth=0.127\n");
    auto c = readVendorCalibration(in);
    ASSERT_TRUE(c.magnification);
    EXPECT_DOUBLE_EQ(*c.magnification, 127000.0);
    // Without [Scan]'s field, the electron beam's.
    in.tags[34682] = ascii("[EBeam]\nHFW=2e-06\n[Image]\nMagCanvasRealWidth=0.127\n");
    c = readVendorCalibration(in);
    ASSERT_TRUE(c.magnification);
    EXPECT_DOUBLE_EQ(*c.magnification, 63500.0);
    // An empty canvas (the software's way of stating none), a zero, negative or missing field.
    for (const char* text : {"[Scan]\nHorFieldsize=1e-06\n[Image]\nMagCanvasRealWidth=\n",
                             "[Scan]\nHorFieldsize=0\n[Image]\nMagCanvasRealWidth=0.127\n",
                             "[Scan]\nHorFieldsize=-1e-6\n[Image]\nMagCanvasRealWidth=0.127\n",
                             "[Image]\nMagCanvasRealWidth=0.127\n"}) {
        in.tags[34682] = ascii(text);
        EXPECT_FALSE(readVendorCalibration(in).magnification) << text;
    }
}

TEST(VendorZeiss, TheFourthUnnamedValueScaledToTheWidth) {
    TiffVendorInput in;
    in.width = 512;
    in.tags[34118] = ascii("0\r\n0\r\n0\r\n5.824988e-009\r\n5.0e+004\r\nAP_MAG\r\nMag = 2.5 K X\r\n"
                           "AP_EHT\r\nEHT = 15.00 kV\r\nAP_WD\r\nWD = 3 mm\r\n");
    auto c = readVendorCalibration(in);
    ASSERT_TRUE(c.calibrated);
    EXPECT_DOUBLE_EQ(c.x, 5.824988e-9 * 2);
    EXPECT_EQ(c.magnification, 2500.0);
    EXPECT_EQ(c.highTensionV, 15000.0);
    // Named pairs do not count among the unnamed values; fewer than four give no size.
    in.tags[34118] = ascii("AP_MAG\r\nMag = 100 X\r\n0\r\n0\r\n3e-9\r\n");
    c = readVendorCalibration(in);
    EXPECT_FALSE(c.calibrated);
    EXPECT_EQ(c.magnification, 100.0);
}

TEST(VendorTvips, VersionTwoHeaderInEitherByteOrderAndVersionOneResolution) {
    for (bool big : {false, true}) {
        std::vector<std::uint8_t> file(100 + 244 + 6068, 0);
        put32(file, 100, 2, big);
        putFloat(file, 344 + 2724, 0.25f, big);
        putFloat(file, 344 + 2728, 0.5f, big);
        putFloat(file, 344 + 3028, 300000.0f, big);
        putFloat(file, 344 + 3292, 50000.0f, big);
        put32(file, 344 + 6064, 0xAAAAAAAAu, big);
        TiffVendorInput in;
        in.bigEndian = big;
        in.tags[37706] = longValue(100);
        backedBy(in, file);
        auto c = readVendorCalibration(in);
        ASSERT_TRUE(c.calibrated) << c.note;
        EXPECT_DOUBLE_EQ(c.x, 0.25);
        EXPECT_DOUBLE_EQ(c.y, 0.5);
        EXPECT_EQ(c.xUnit, "nm");
        EXPECT_EQ(c.highTensionV, 300000.0);
        EXPECT_EQ(c.magnification, 50000.0);
        // A header running past the end of the file, or pointed beyond it, is damaged.
        file.resize(file.size() - 1);
        EXPECT_FALSE(readVendorCalibration(in).calibrated);
        in.tags[37706] = longValue(1e15);
        EXPECT_FALSE(readVendorCalibration(in).calibrated);
    }
    std::vector<std::uint8_t> file(244, 0);
    put32(file, 0, 1);
    TiffVendorInput in;
    in.tags[37706] = longValue(0);
    in.xResolution = 4e6;
    backedBy(in, file);
    auto c = readVendorCalibration(in);
    ASSERT_TRUE(c.calibrated);
    EXPECT_DOUBLE_EQ(c.x, 1 / 4e6);
    EXPECT_EQ(c.xUnit, "cm");
}

TEST(VendorOlympusSis, GeneralRecordByOffsetOrInlineAndAHostileRecordCount) {
    std::vector<std::uint8_t> file(400, 0);
    std::memcpy(file.data() + 40, "SIS0", 4);
    file[40 + 58] = 2;  // two records: one of another kind, then the general one
    file[100] = 10;
    file[108] = 1;
    put32(file, 112, 200);
    file[210] = std::uint8_t(-9);
    file[211] = 0xFF;
    const double xcal = 2.5, ycal = 3.0, mag = 40000;
    std::memcpy(file.data() + 212, &xcal, 8);
    std::memcpy(file.data() + 220, &ycal, 8);
    std::memcpy(file.data() + 236, &mag, 8);
    TiffVendorInput in;
    backedBy(in, file);
    in.tags[33560] = longValue(40);
    auto c = readVendorCalibration(in);
    ASSERT_TRUE(c.calibrated) << c.note;
    EXPECT_DOUBLE_EQ(c.x, 2.5e-9);
    EXPECT_DOUBLE_EQ(c.y, 3.0e-9);
    EXPECT_EQ(c.magnification, 40000.0);
    in.tags[33560] = TiffTagValue{7, 76, std::string(file.begin() + 40, file.begin() + 116), {}};
    c = readVendorCalibration(in);
    EXPECT_TRUE(c.calibrated) << c.note;
    // A count of 32767 records in a file that holds two: the walk stops at the file's end.
    file[40 + 58] = 0xFF;
    file[40 + 59] = 0x7F;
    file[108] = 5;
    in.tags[33560] = longValue(40);
    c = readVendorCalibration(in);
    EXPECT_FALSE(c.calibrated);
    EXPECT_EQ(c.source, CalibrationSource::OlympusSis);
}

TEST(VendorJeol, ImageModeOnlyFromTheReportersOwnFields) {
    const std::string xml =
        "<?xml version=\"1.0\"?><TemReporter><Lens><SelectorValue>1</SelectorValue></Lens>"
        "<!-- <ImageFormingSystem><SelectorValue>7</SelectorValue></ImageFormingSystem> -->"
        "<ElectronGun><AccelerationVoltage>300000</AccelerationVoltage></ElectronGun>"
        "<Eos><EosMode>eosTEM</EosMode></Eos><ImageFormingSystem><ModeString>MAG</ModeString>"
        "<Inner><SelectorValue>9</SelectorValue></Inner><SelectorValue>200000</SelectorValue>"
        "<Empty/></ImageFormingSystem></TemReporter>";
    TiffVendorInput in;
    in.make = "JEOL Ltd.";
    in.description = xml;
    in.xResolution = 100;
    in.yResolution = 50;
    in.resolutionUnit = 3;
    auto c = readVendorCalibration(in);
    ASSERT_TRUE(c.calibrated) << c.note;
    EXPECT_DOUBLE_EQ(c.x, 0.01 * 1e9 / (100 * 200000.0));
    EXPECT_DOUBLE_EQ(c.y, 0.01 * 1e9 / (50 * 200000.0));
    EXPECT_EQ(c.magnification, 200000.0);
    EXPECT_EQ(c.highTensionV, 300000.0);
    // Another maker, a scanning mode, diffraction, no resolution.
    in.make = "Other";
    EXPECT_EQ(readVendorCalibration(in).source, CalibrationSource::None);
    in.make = "JEOL Ltd.";
    for (const auto& [from, to] : {std::pair{"eosTEM", "modeASID"}, std::pair{"MAG<", "DIFF<"}}) {
        std::string other = xml;
        other.replace(other.find(from), std::strlen(from), to);
        in.description = other;
        c = readVendorCalibration(in);
        EXPECT_EQ(c.source, CalibrationSource::Jeol);
        EXPECT_FALSE(c.calibrated) << to;
        EXPECT_EQ(c.highTensionV, 300000.0);
    }
    in.description = xml;
    in.xResolution = 0;
    EXPECT_FALSE(readVendorCalibration(in).calibrated);
}

TEST(VendorLayouts, TheFirstLayoutPresentDecides) {
    auto in = withDm(0.1, 0.1);
    in.tags[34682] = ascii("[Scan]\nPixelWidth=-1\nPixelHeight=-1\n");
    auto c = readVendorCalibration(in);
    EXPECT_EQ(c.source, CalibrationSource::Fei);  // the instrument's own, even when unusable
    EXPECT_FALSE(c.calibrated);
}
