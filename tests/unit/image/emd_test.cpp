// Our reader of the JSON in Velox EMD files, on texts built here: what it takes from a frame's
// metadata, what it leaves, and that hostile texts are refused rather than followed. Whole EMD
// files from h5py are checked from outside in tests/cli/test_emd.py.
#include <gtest/gtest.h>

#include <string>

#include "image/emd.h"

using image::parseVeloxMetadata;

TEST(VeloxMetadata, SizesAsStringsOrNumbersUnitsAndDetector) {
    const std::string padded =
        std::string(R"({"Other": [1, {"x": null}], "BinaryResult": {"Detector": "HAADF",
        "PixelSize": {"width": "2.5e-10", "height": 3e-10}, "PixelUnitX": "m",
        "PixelUnitY": "\u00b5m"}})") +
        std::string(40, '\0');
    const auto meta = parseVeloxMetadata(padded);
    ASSERT_TRUE(meta.parsed);
    EXPECT_EQ(meta.detector, "HAADF");
    ASSERT_TRUE(meta.sizeX && meta.sizeY);
    EXPECT_DOUBLE_EQ(*meta.sizeX, 2.5e-10);
    EXPECT_DOUBLE_EQ(*meta.sizeY, 3e-10);
    EXPECT_EQ(meta.unitX, "m");
    EXPECT_EQ(meta.unitY, "\xC2\xB5m");
}

TEST(VeloxMetadata, WhatIsNotAFiniteSizeOrNotJsonGivesNothing) {
    for (const char* text :
         {R"({"BinaryResult": {"PixelSize": {"width": "nan"}}})",
          R"({"BinaryResult": {"PixelSize": {"width": "1e999"}}})",
          R"({"BinaryResult": {"PixelSize": {"width": "1.5 m"}}})",
          R"({"BinaryResult": {"PixelSize": {"width": true}}})"}) {
        const auto meta = parseVeloxMetadata(text);
        EXPECT_TRUE(meta.parsed) << text;
        EXPECT_FALSE(meta.sizeX) << text;
    }
    for (const char* text : {"", "[1, 2]", R"({"a": 1,})", R"({"a": "unterminated)",
                             R"({"a": 1} trailing)", R"({"a": "\q"})"})
        EXPECT_FALSE(parseVeloxMetadata(text).parsed) << text;
    // Nesting beyond the reader's depth is refused, not followed.
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "[";
    EXPECT_FALSE(parseVeloxMetadata("{\"a\": " + deep).parsed);
}

TEST(VeloxMetadata, DetectorNamesStayShortAndPrintable) {
    const auto meta = parseVeloxMetadata(
        R"({"BinaryResult": {"Detector": "D\u0001F\tfour)" + std::string(200, 'x') + "\"}}");
    ASSERT_TRUE(meta.parsed);
    EXPECT_EQ(meta.detector.rfind("DFfour", 0), 0u);
    EXPECT_EQ(meta.detector.size(), 64u);
    // A long run of stray continuation bytes is cut like any text, and a character cut short
    // at the end goes whole.
    const auto stray = parseVeloxMetadata(R"({"BinaryResult": {"PixelUnitX": ")" +
                                          std::string(100, '\x80') + "\"}}");
    EXPECT_LE(stray.unitX.size(), 64u);
    const auto cut = parseVeloxMetadata(R"({"BinaryResult": {"Detector": ")" +
                                        std::string(63, 'a') + "\xC3\xA9\"}}");
    EXPECT_EQ(cut.detector, std::string(63, 'a'));
}

TEST(EmdLayouts, VeloxVersionAndBerkeleyUnits) {
    EXPECT_TRUE(image::isVeloxVersion(R"({"format": "Velox", "version": "2"})"));
    EXPECT_TRUE(image::isVeloxVersion(R"({"version": "1", "format": "DevelopersKit"})"));
    EXPECT_FALSE(image::isVeloxVersion(R"({"format": "velox"})"));
    EXPECT_FALSE(image::isVeloxVersion("Velox"));
    EXPECT_EQ(image::berkeleyUnit("[n_m]"), "nm");
    EXPECT_EQ(image::berkeleyUnit("n_m"), "nm");
    EXPECT_EQ(image::berkeleyUnit("[\xC3\x85]"), "\xC3\x85");
}

#ifndef _WIN32
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/doubles/recording.h"

namespace {
std::vector<std::uint8_t> dataFile(const std::string& name) {
    std::ifstream in(std::string(SUITE_TEST_DATA) + "/emd/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

// Files h5py wrote (tests/data/emd), opened from memory through HDF5's in-memory driver: sample
// (x, y) is x + 100 y in both layouts, Berkeley's stored x first.
TEST(EmdInMemory, BothLayoutsGiveTheSamePictureTheRightWayUp) {
    for (const char* name : {"velox_small.emd", "berkeley_small.emd"}) {
        const auto bytes = dataFile(name);
        ASSERT_FALSE(bytes.empty()) << name;
        core::RecordingSink sink;
        const auto image = image::readEmd(bytes, sink);
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(image->width, 80) << name;
        EXPECT_EQ(image->height, 64) << name;
        EXPECT_EQ(image->at(7, 0), 7) << name;
        EXPECT_EQ(image->at(0, 5), 500) << name;
        EXPECT_EQ(image->at(79, 63), 6379) << name;
        ASSERT_TRUE(image->pixelSizeNm) << name;
    }
    core::RecordingSink sink;
    auto cut = dataFile("velox_small.emd");
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(image::readEmd(cut, sink));
    ASSERT_EQ(sink.messages().size(), 1u);
}
#endif
