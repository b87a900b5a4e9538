// The TIA series reader on series built here: image k read by seeking (only its rows), the
// .emi's mode, and the names and numbers it takes from the series' file name. Files from our
// python writer, checked by HyperSpy, are tested from outside in tests/cli/test_tia_series.py.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/file_io.h"
#include "image/ser.h"
#include "tests/doubles/recording.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

template <typename T>
void append(Bytes& b, T v) {
    std::uint8_t raw[sizeof(T)];
    std::memcpy(raw, &v, sizeof(T));  // the test machine is little-endian, as the format
    b.insert(b.end(), raw, raw + sizeof(T));
}

// A version 0x0220 series of `count` 64 x 64 uint16 images; sample (x, y) of image k, y from
// the top, is x + 100 y + 10000 k. Rows are stored bottom first.
Bytes series(int count) {
    constexpr int kSide = 64;
    Bytes f;
    append<std::uint16_t>(f, 0x4949);
    append<std::uint16_t>(f, 0x0197);
    append<std::uint16_t>(f, 0x0220);
    append<std::uint32_t>(f, 0x4122);
    append<std::uint32_t>(f, 0x4152);
    append<std::uint32_t>(f, count);
    append<std::uint32_t>(f, count);
    append<std::uint64_t>(f, 34);  // the tables right after the header (no dimension array)
    append<std::uint32_t>(f, 0);
    const std::uint64_t first = 34 + 16 * static_cast<std::uint64_t>(count);
    const std::uint64_t elementSize = 50 + kSide * kSide * 2;
    for (int k = 0; k < count; ++k) append<std::uint64_t>(f, first + k * elementSize);
    for (int k = 0; k < count; ++k) append<std::uint64_t>(f, 0);
    for (int k = 0; k < count; ++k) {
        for (int axis = 0; axis < 2; ++axis) {
            append<double>(f, 0);
            append<double>(f, 2e-10);
            append<std::int32_t>(f, 0);
        }
        append<std::uint16_t>(f, 2);
        append<std::uint32_t>(f, kSide);
        append<std::uint32_t>(f, kSide);
        for (int row = kSide - 1; row >= 0; --row)
            for (int x = 0; x < kSide; ++x)
                append<std::uint16_t>(f, static_cast<std::uint16_t>(x + 100 * row + 10000 * k));
    }
    return f;
}

// Counts the bytes each read asks for.
class CountingAccess final : public image::RandomAccessSource {
  public:
    explicit CountingAccess(const Bytes& bytes) : inner_(bytes) {}
    std::uint64_t size() const override { return inner_.size(); }
    bool readAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
        bytesRead += n;
        return inner_.readAt(offset, out, n);
    }
    std::uint64_t bytesRead = 0;

  private:
    image::MemoryAccess inner_;
};

}  // namespace

TEST(TiaSeries, ReadsImageKBySeekingToItAlone) {
    const Bytes file = series(6);
    for (int k : {0, 4, 5}) {
        CountingAccess access(file);
        core::RecordingSink sink;
        const auto image = image::readSerImage(access, k, {}, sink);
        ASSERT_TRUE(image) << k;
        EXPECT_EQ(image->imageCount, 6);
        EXPECT_EQ(image->at(0, 0), 10000 * k);
        EXPECT_EQ(image->at(63, 0), 63 + 10000 * k);
        EXPECT_EQ(image->at(5, 63), 5 + 6300 + 10000 * k);
        // One image's samples, the headers and the table: far less than two images.
        EXPECT_LT(access.bytesRead, 64u * 64u * 2u + 2000u) << k;
        ASSERT_TRUE(image->pixelSizeNm);
        EXPECT_NEAR(image->pixelSizeNm->x, 0.2, 1e-12);
        EXPECT_TRUE(image->pixelSizeNm->square());
    }
    CountingAccess access(file);
    core::RecordingSink sink;
    EXPECT_FALSE(image::readSerImage(access, 6, {}, sink));
    ASSERT_EQ(sink.messages().size(), 1u);
    EXPECT_EQ(sink.messages()[0].text, "The TIA series holds 6 recorded images: there is no image 7.");
}

TEST(TiaSeries, EmiModeDecidesBetweenPixelSizeAndReciprocal) {
    const std::string emi =
        "\x01\x02<ObjectInfo><ExperimentalDescription><Root><Data><Label>Mode</Label>"
        "<Value>TEM Image</Value><Unit></Unit></Data></Root></ExperimentalDescription>"
        "</ObjectInfo>junk<ObjectInfo><ExperimentalDescription><Root><Data><Label>Mode</Label>"
        "<Value>TEM Diffraction</Value></Data></Root></ExperimentalDescription></ObjectInfo>";
    EXPECT_EQ(image::emiContextOf(emi, 1).mode, "TEM Image");
    EXPECT_FALSE(image::emiContextOf(emi, 1).reciprocal());
    EXPECT_EQ(image::emiContextOf(emi, 2).mode, "TEM Diffraction");
    EXPECT_TRUE(image::emiContextOf(emi, 2).reciprocal());
    EXPECT_EQ(image::emiContextOf(emi, 9).mode, "TEM Image");  // no such rank: the first
    const std::string stem = "<ObjectInfo><Data><Label>Mode</Label><Value>STEM</Value></Data>"
                             "<AcquireInfo><CameraNamePath>c</CameraNamePath></AcquireInfo>";
    EXPECT_TRUE(image::emiContextOf(stem, 1).reciprocal());
    EXPECT_EQ(image::emiContextOf("no description", 1).mode, "");

    const Bytes file = series(1);
    image::MemoryAccess access(file);
    core::RecordingSink sink;
    const auto diffraction = image::readSerImage(access, 0, image::emiContextOf(emi, 2), sink);
    ASSERT_TRUE(diffraction);
    EXPECT_FALSE(diffraction->pixelSizeNm);
    ASSERT_EQ(diffraction->notes.size(), 1u);
    EXPECT_EQ(diffraction->notes[0],
              "Diffraction (mode \"TEM Diffraction\" in the .emi): 2e-19 1/nm per pixel, not a "
              "pixel size.");
}

TEST(TiaSeries, EmiBesideTheSeriesByItsName) {
    EXPECT_EQ(image::emiPathOf("/data/run 3_1.ser"), "/data/run 3.emi");
    EXPECT_EQ(image::emiPathOf("C:\\d\\a_b_12.SER"), "C:\\d\\a_b.emi");
    EXPECT_EQ(image::emiPathOf("/data/plain.ser"), "");
    EXPECT_EQ(image::emiPathOf("/data_1/x.ser"), "");
    EXPECT_EQ(image::emiPathOf("_1.ser"), "");
    EXPECT_EQ(image::serNumberOf("/d/a_12.ser"), 12);
    EXPECT_EQ(image::serNumberOf("/d/a.ser"), 1);
}
