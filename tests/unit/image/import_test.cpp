// The microscope image readers on files built here byte by byte: what they decode, and each
// refusal of hostile or unsupported input with its message. Files from independent writers
// (tifffile, Pillow, mrcfile, HyperSpy) are checked from outside in tests/cli.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <limits>
#include <map>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <zlib.h>
#include <unistd.h>

#include "core/localized.h"
#include "image/file_io.h"
#include "image/import.h"
#include "image/open_image.h"
#include "image/import_detail.h"
#include "image/tiff_write.h"
#include "tests/doubles/recording.h"

using core::RecordingSink;
using image::GreyImage;
using image::SampleType;
using Bytes = std::vector<std::uint8_t>;

namespace {

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}
void putFloat(Bytes& b, std::size_t at, float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    put32(b, at, v);
}

// An MRC file of mode 2 (float) or 6 (uint16) with `sections` sections, sample (x, y) of
// section z stored as x + 1000 y + 100000 z, rows bottom first as the format stores them.
Bytes mrcFile(int nx, int ny, int nz, int mode, int claimedSections = 0, int extended = 0) {
    const std::size_t bytes = mode == 2 ? 4 : 2;
    Bytes f(1024 + extended + static_cast<std::size_t>(nx) * ny * nz * bytes, 0);
    put32(f, 0, nx);
    put32(f, 4, ny);
    put32(f, 8, claimedSections ? claimedSections : nz);
    put32(f, 12, mode);
    put32(f, 28, nx);
    put32(f, 32, ny);
    putFloat(f, 40, 2.5f * nx);  // 2.5 Angstrom a pixel
    putFloat(f, 44, 2.5f * ny);
    put32(f, 92, extended);
    std::memcpy(f.data() + 208, "MAP ", 4);
    f[212] = 0x44;
    f[213] = 0x44;
    std::size_t at = 1024 + extended;
    for (int z = 0; z < nz; ++z)
        for (int y = 0; y < ny; ++y)
            for (int x = 0; x < nx; ++x, at += bytes) {
                const double v = x + 1000.0 * y + 100000.0 * z;
                if (mode == 2)
                    putFloat(f, at, static_cast<float>(v));
                else {
                    f[at] = static_cast<std::uint8_t>(x + y);
                    f[at + 1] = static_cast<std::uint8_t>(y);
                }
            }
    return f;
}

// Big-endian DM words, enough to build trees by hand.
struct DmBuilder {
    int version = 4;
    Bytes out;
    void be(std::uint64_t v, int n) {
        for (int k = n - 1; k >= 0; --k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
    void word(std::uint64_t v) { be(v, version == 4 ? 8 : 4); }
    void header() {
        be(static_cast<std::uint64_t>(version), 4);
        word(0);
        be(1, 4);
    }
    void groupStart(const char* name, std::uint64_t tags) {
        out.push_back(20);
        be(std::strlen(name), 2);
        out.insert(out.end(), name, name + std::strlen(name));
        if (version == 4) be(0, 8);
        out.push_back(0);
        out.push_back(1);
        word(tags);
    }
    void dataStart(const char* name, std::initializer_list<std::uint64_t> info) {
        out.push_back(21);
        be(std::strlen(name), 2);
        out.insert(out.end(), name, name + std::strlen(name));
        if (version == 4) be(0, 8);
        out.insert(out.end(), {'%', '%', '%', '%'});
        word(info.size());
        for (auto w : info) word(w);
    }
    void u32le(std::uint32_t v) {
        for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
};

// A DM file with one image of `w` x `h` samples of DataType `type` (uint16 data when 10).
Bytes dmImage(int version, std::uint32_t w, std::uint32_t h, std::uint32_t type,
              std::uint64_t claimedCount = 0) {
    DmBuilder b{version, {}};
    b.header();
    b.out.push_back(0);
    b.out.push_back(1);
    b.word(1);
    b.groupStart("ImageList", 1);
    b.groupStart("", 1);
    b.groupStart("ImageData", 3);
    const std::uint64_t count = claimedCount ? claimedCount : std::uint64_t{w} * h;
    b.dataStart("Data", {20, 4, count});
    for (std::uint32_t i = 0; i < w * h; ++i) {
        b.out.push_back(static_cast<std::uint8_t>(i));
        b.out.push_back(static_cast<std::uint8_t>(i >> 8));
    }
    b.dataStart("DataType", {3});
    b.u32le(type);
    b.groupStart("Dimensions", 2);
    b.dataStart("", {5});
    b.u32le(w);
    b.dataStart("", {5});
    b.u32le(h);
    return b.out;
}

// A little-endian TIFF of one strip with the given tags (all SHORT or LONG values inline).
Bytes tiffFile(std::vector<std::array<std::uint32_t, 3>> tags, std::size_t dataBytes) {
    Bytes f(8, 0);
    f[0] = f[1] = 'I';
    f[2] = 42;
    f.resize(8 + dataBytes, 0);
    const std::uint32_t ifd = static_cast<std::uint32_t>(f.size());
    put32(f, 4, ifd);
    f.push_back(static_cast<std::uint8_t>(tags.size()));
    f.push_back(0);
    for (auto [tag, type, value] : tags) {
        Bytes e(12, 0);
        e[0] = static_cast<std::uint8_t>(tag);
        e[1] = static_cast<std::uint8_t>(tag >> 8);
        e[2] = static_cast<std::uint8_t>(type);
        e[4] = 1;
        put32(e, 8, value);
        f.insert(f.end(), e.begin(), e.end());
    }
    f.insert(f.end(), 4, 0);
    return f;
}

std::vector<std::array<std::uint32_t, 3>> greyTags(std::uint32_t w, std::uint32_t h,
                                                   std::uint32_t bits, std::uint32_t format) {
    return {{256, 4, w}, {257, 4, h}, {258, 3, bits}, {259, 3, 1}, {262, 3, 1}, {273, 4, 8},
            {277, 3, 1}, {278, 4, h}, {279, 4, w * h * bits / 8}, {339, 3, format}};
}

// A file's bytes placed right before a page the process may not touch, so a reader that reads
// even one byte past the end faults here as it would under the address sanitizer.
class GuardedBytes {
  public:
    explicit GuardedBytes(const Bytes& bytes) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t pages = (bytes.size() + page - 1) / page + 1;
        length_ = pages * page;
        void* mapped = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                            -1, 0);
        if (mapped == MAP_FAILED) throw std::runtime_error("mmap");
        base_ = static_cast<std::uint8_t*>(mapped);
        mprotect(base_ + length_ - page, page, PROT_NONE);
        std::uint8_t* start = base_ + length_ - page - bytes.size();
        std::memcpy(start, bytes.data(), bytes.size());
        span_ = {start, bytes.size()};
    }
    ~GuardedBytes() { munmap(base_, length_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    std::span<const std::uint8_t> span() const { return span_; }

  private:
    std::uint8_t* base_ = nullptr;
    std::size_t length_ = 0;
    std::span<const std::uint8_t> span_;
};

// A file of the fuzz corpus (hostile inputs found by fuzzing are kept there).
Bytes corpusFile(const std::string& area, const std::string& name) {
    std::ifstream in(std::string(SUITE_TEST_DATA) + "/../fuzz/corpus/" + area + "/" + name,
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::string s = text.str();
    if (s.empty()) throw std::runtime_error("missing corpus file " + name);
    return Bytes(s.begin(), s.end());
}

double cpuSecondsSince(std::clock_t start) {
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

class Import : public ::testing::Test {
  protected:
    void SetUp() override { core::setJapaneseTexts(false); }
    std::string onlyMessage() {
        const auto m = sink.messages();
        EXPECT_EQ(m.size(), 1u);
        if (m.empty()) return "";
        EXPECT_EQ(m[0].caption, "Error");
        EXPECT_EQ(m[0].style, core::kIconWarning);
        return m[0].text;
    }
    RecordingSink sink;
};

// --- MRC ---------------------------------------------------------------------------------------

TEST_F(Import, MrcFloatIsTurnedRightWayUpWithPixelSizeAndSectionCount) {
    const auto image = image::readMrc(mrcFile(70, 66, 3, 2), sink);
    ASSERT_TRUE(image) << onlyMessage();
    EXPECT_EQ(image->format, image::ImageFormat::Mrc);
    EXPECT_EQ(image->type, SampleType::F32);
    EXPECT_EQ(image->width, 70);
    EXPECT_EQ(image->height, 66);
    EXPECT_EQ(image->imageCount, 3);
    // The first stored row (y = 0 in the file) is the bottom row of the picture.
    EXPECT_EQ(image->at(5, 65), 5.0);
    EXPECT_EQ(image->at(5, 0), 5.0 + 1000.0 * 65);
    EXPECT_EQ(image->minimum, 0.0);
    EXPECT_EQ(image->maximum, 69.0 + 65000.0);
    ASSERT_TRUE(image->pixelSizeNm);
    EXPECT_EQ(*image->pixelSizeNm, (image::PixelSize{0.25, 0.25}));
    EXPECT_EQ(image->pixelUnit, "\xC3\x85");
}

TEST_F(Import, PixelSizesOutsideAnyInstrumentsReachAreIgnoredWithANote) {
    // A cell of 64 x 2^-100 Angstrom; then the bounds themselves, 1e-9 and 1e9 nm.
    Bytes f = mrcFile(64, 64, 1, 2);
    putFloat(f, 40, std::ldexp(64.0f, -100));
    auto image = image::readMrc(f, sink);
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->pixelSizeNm);
    const auto m = sink.messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].text, "The pixel size in the file (7.88861e-32 nm) lies outside 1e-9 to 1e9 nm "
                         "and is ignored.");
    EXPECT_EQ(m[0].caption, "Information");
    EXPECT_EQ(m[0].style, core::kIconInformation);
    for (double nm : {1e-9, 1e9}) {
        image::setPixelSize(*image, nm, "nm");
        ASSERT_TRUE(image->pixelSizeNm) << nm;
        EXPECT_EQ(*image->pixelSizeNm, (image::PixelSize{nm, nm}));
        EXPECT_FALSE(image->ignoredPixelSizeNm);
    }
    core::setJapaneseTexts(true);
    sink.events.clear();
    EXPECT_TRUE(image::readMrc(f, sink));
    EXPECT_EQ(sink.messages()[0].text,
              "ファイルのピクセルサイズ（7.88861e-32 nm）は 1e-9 ～ 1e9 nm の範囲外のため使いません。");
    core::setJapaneseTexts(false);
}

TEST_F(Import, MrcCellOfTwoByThreeAngstromIsNotSquare) {
    Bytes f = mrcFile(64, 70, 1, 2);
    putFloat(f, 40, 2.0f * 64);
    putFloat(f, 44, 3.0f * 70);
    const auto image = image::readMrc(f, sink);
    ASSERT_TRUE(image) << onlyMessage();
    ASSERT_TRUE(image->pixelSizeNm);
    EXPECT_DOUBLE_EQ(image->pixelSizeNm->x, 0.2);
    EXPECT_DOUBLE_EQ(image->pixelSizeNm->y, 0.3);
    // Without its Y grid the cell says nothing about the rows: no calibration.
    put32(f, 32, 0);
    EXPECT_FALSE(image::readMrc(f, sink)->pixelSizeNm);
}

TEST_F(Import, MrcSkipsTheExtendedHeader) {
    const auto image = image::readMrc(mrcFile(64, 64, 1, 2, 0, 96), sink);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->at(3, 63), 3.0);
}

TEST_F(Import, MrcClaimingMoreSectionsThanTheFileHoldsIsRefused) {
    EXPECT_FALSE(image::readMrc(mrcFile(64, 64, 2, 2, 1000000), sink));
    EXPECT_EQ(onlyMessage(),
              "The MRC header claims 1000000 sections of 64 x 64 samples, more than the file "
              "holds.");
}

TEST_F(Import, MrcRefusalsNameTheProblem) {
    {
        Bytes f = mrcFile(64, 64, 1, 2);
        put32(f, 12, 4);
        EXPECT_FALSE(image::readMrc(f, sink));
        EXPECT_EQ(onlyMessage(), "Unsupported sample type in this file: MRC mode complex.");
    }
    sink.events.clear();
    {
        Bytes f = mrcFile(64, 64, 1, 2);
        put32(f, 12, 16);
        EXPECT_FALSE(image::readMrc(f, sink));
        EXPECT_EQ(onlyMessage(),
                  "Not a gray-scale image: colour images cannot be opened (MRC mode 16, RGB).");
    }
    sink.events.clear();
    {
        Bytes f = mrcFile(64, 64, 1, 2);
        f.resize(800);
        EXPECT_FALSE(image::readMrc(f, sink));
        EXPECT_EQ(onlyMessage(), "The file ends before its image data: it is truncated or damaged.");
    }
    sink.events.clear();
    {
        Bytes f = mrcFile(64, 64, 1, 2);
        put32(f, 0, 100000);
        put32(f, 4, 100000);
        EXPECT_FALSE(image::readMrc(f, sink));
        EXPECT_EQ(onlyMessage().rfind("The image is too large: 100000 x 100000 pixels", 0), 0u);
    }
    sink.events.clear();
    {
        Bytes f = mrcFile(64, 64, 1, 2);
        put32(f, 92, 0x7FFFFFFF);  // extended header past the end
        EXPECT_FALSE(image::readMrc(f, sink));
        EXPECT_EQ(onlyMessage().rfind("The MRC header claims", 0), 0u);
    }
}

TEST_F(Import, NanAndInfiniteSamplesAreRefused) {
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        sink.events.clear();
        Bytes f = mrcFile(64, 64, 1, 2);
        putFloat(f, 1024 + 4 * 100, bad);
        EXPECT_FALSE(image::readMrc(f, sink));
        EXPECT_EQ(onlyMessage(),
                  "The image holds samples that are not numbers (NaN) or infinite: it cannot be "
                  "transformed.");
    }
}

TEST_F(Import, TooSmallImagesAreRefusedAsBitmapsAre) {
    EXPECT_FALSE(image::readMrc(mrcFile(63, 80, 1, 2), sink));
    EXPECT_EQ(onlyMessage(), "Too small image (less than 64W or 64H)!");
}

// --- DM3 / DM4 ---------------------------------------------------------------------------------

TEST_F(Import, DmReadsBothVersions) {
    for (int version : {3, 4}) {
        sink.events.clear();
        const auto image = image::readDm(dmImage(version, 70, 64, 10), sink);
        ASSERT_TRUE(image) << onlyMessage();
        EXPECT_EQ(image->format, version == 4 ? image::ImageFormat::Dm4 : image::ImageFormat::Dm3);
        EXPECT_EQ(image->type, SampleType::U16);
        EXPECT_EQ(image->width, 70);
        EXPECT_EQ(image->height, 64);
        EXPECT_EQ(image->at(3, 1), 73.0);
        EXPECT_FALSE(image->pixelSizeNm);
    }
}

TEST_F(Import, DmTreeNestedTenThousandDeepIsRefused) {
    DmBuilder b{4, {}};
    b.header();
    b.out.push_back(0);
    b.out.push_back(1);
    b.word(1);
    for (int i = 0; i < 10000; ++i) b.groupStart("g", 1);
    EXPECT_FALSE(image::readDm(b.out, sink));
    EXPECT_EQ(onlyMessage(), "The DM tag tree is nested deeper than 64 levels.");
}

TEST_F(Import, DmHugeCountsAreRefusedBeforeAnyAllocation) {
    // An array claiming 2^61 elements: its size overflows or passes the end of the file.
    EXPECT_FALSE(image::readDm(dmImage(4, 64, 64, 10, std::uint64_t{1} << 61), sink));
    EXPECT_EQ(onlyMessage(), "The file ends before its image data: it is truncated or damaged.");
    sink.events.clear();
    // A group claiming 2^60 tags ends with the file.
    DmBuilder b{4, {}};
    b.header();
    b.out.push_back(0);
    b.out.push_back(1);
    b.word(std::uint64_t{1} << 60);
    EXPECT_FALSE(image::readDm(b.out, sink));
    EXPECT_EQ(onlyMessage(), "The file ends before its image data: it is truncated or damaged.");
    sink.events.clear();
    // A type description of 2^40 words.
    DmBuilder c{4, {}};
    c.header();
    c.out.push_back(0);
    c.out.push_back(1);
    c.word(1);
    c.out.push_back(21);
    c.be(1, 2);
    c.out.push_back('x');
    c.be(0, 8);
    c.out.insert(c.out.end(), {'%', '%', '%', '%'});
    c.word(std::uint64_t{1} << 40);
    EXPECT_FALSE(image::readDm(c.out, sink));
    EXPECT_EQ(onlyMessage(), "Not a DM file with correct format: a data tag's description is not valid.");
}

TEST_F(Import, DmDataThatDisagreeWithTheDimensionsAreRefused) {
    // The same array of 16-bit samples read as the image it declares, then declared as float.
    Bytes f = dmImage(3, 64, 64, 10);
    EXPECT_TRUE(image::readDm(f, sink));
    EXPECT_FALSE(image::readDm(dmImage(3, 64, 64, 2), sink));  // float declared, uint16 data
    EXPECT_EQ(onlyMessage(), "Not a DM file with correct format: the image data do not match its dimensions.");
}

TEST_F(Import, DmComplexAndRgbAreRefusedByName) {
    EXPECT_FALSE(image::readDm(dmImage(4, 64, 64, 3), sink));
    EXPECT_EQ(onlyMessage(), "Unsupported sample type in this file: DM complex.");
    sink.events.clear();
    EXPECT_FALSE(image::readDm(dmImage(4, 64, 64, 23), sink));
    EXPECT_EQ(onlyMessage(), "Not a gray-scale image: colour images cannot be opened (DM RGB).");
}

TEST_F(Import, DmNegativeDataTypeIsAnUnsupportedType) {
    EXPECT_FALSE(image::readDm(dmImage(4, 64, 64, 0xFFFFFFFFu), sink));  // int32 -1
    EXPECT_EQ(onlyMessage(), "Unsupported sample type in this file: DM data type 0.");
}

TEST_F(Import, DmTruncatedAnywhereIsRefusedCleanly) {
    const Bytes whole = dmImage(4, 64, 64, 10);
    for (std::size_t cut = 0; cut < whole.size(); cut += 97) {
        RecordingSink local;
        EXPECT_FALSE(image::readDm({whole.data(), cut}, local)) << cut;
        EXPECT_EQ(local.messages().size(), 1u) << cut;
    }
}

TEST_F(Import, DmOneByteValuesAtTheEndOfTheFileAreReadWithinIt) {
    // A thumbnail index of one byte ends the file: nothing else, so no image.
    GuardedBytes lastByte(corpusFile("dm", "dm_overread_1byte.dm3"));
    EXPECT_FALSE(image::readDm(lastByte.span(), sink));
    EXPECT_EQ(onlyMessage(), "The DM file holds no two-dimensional image.");
    sink.events.clear();
    // The image's DataType is the file's last byte (2, float): the 64 x 64 ramp 0..4095 opens.
    GuardedBytes dataType(corpusFile("dm", "dm_overread_datatype.dm3"));
    const auto image = image::readDm(dataType.span(), sink);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->type, SampleType::F32);
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->at(0, 0), 0.0);
    EXPECT_EQ(image->at(63, 63), 4095.0);
    EXPECT_TRUE(sink.messages().empty());
}

TEST_F(Import, DmThumbnailLookupStaysLinearWithManyEntries) {
    // 120,000 thumbnails naming position 255 or 0 and 230,000 list entries: the image at
    // position 0 is a thumbnail, the one at position 1 is read.
    DmBuilder b{3, {}};
    b.header();
    b.out.push_back(0);
    b.out.push_back(1);
    b.word(2);
    const std::uint64_t thumbnails = 120000, entries = 230000;
    b.groupStart("Thumbnails", thumbnails);
    for (std::uint64_t t = 0; t < thumbnails; ++t) {
        b.groupStart("", 1);
        b.dataStart("ImageIndex", {8});
        b.out.push_back(t == thumbnails / 2 ? 0 : 255);
    }
    const Bytes small = dmImage(3, 64, 64, 10), large = dmImage(3, 70, 64, 10);
    // The image groups of dmImage: after its header (12 bytes), root (2 + 4) and the ImageList
    // group's start (1 + 2 + 9 + 2 + 4 bytes).
    const std::size_t imageGroup = 12 + 6 + 18;
    b.groupStart("ImageList", entries);
    b.out.insert(b.out.end(), large.begin() + imageGroup, large.end());
    b.out.insert(b.out.end(), small.begin() + imageGroup, small.end());
    for (std::uint64_t e = 2; e < entries; ++e) b.groupStart("", 0);
    ASSERT_GT(b.out.size(), 5000000u);

    const std::clock_t start = std::clock();
    const auto image = image::readDm(b.out, sink);
    EXPECT_LT(cpuSecondsSince(start), 0.5);
    ASSERT_TRUE(image) << (sink.messages().empty() ? "" : sink.messages()[0].text);
    EXPECT_EQ(image->width, 64);
}

// --- TIFF --------------------------------------------------------------------------------------

TEST_F(Import, TiffClaiming100000By100000IsRefusedBeforeDecoding) {
    const Bytes f = tiffFile(greyTags(100000, 100000, 16, 1), 64);
    EXPECT_FALSE(image::readTiff(f, sink));
    EXPECT_EQ(onlyMessage().rfind("The image is too large: 100000 x 100000 pixels", 0), 0u);
}

TEST_F(Import, TiffStripsAndTilesMustBeInTheFileBeforeAnythingIsAllocated) {
    const std::string truncated = "The file ends before its image data: it is truncated or damaged.";
    // 11585 x 11585 doubles in one strip or tile of 64 bytes; a strip starting past the end.
    for (const char* name :
         {"tiff_strip_claim_1GiB.tif", "tiff_tile_claim_2GiB.tif", "tiff_strip_past_eof.tif"}) {
        RecordingSink local;
        const std::clock_t start = std::clock();
        EXPECT_FALSE(image::readTiff(corpusFile("tiff", name), local)) << name;
        EXPECT_LT(cpuSecondsSince(start), 0.2) << name;
        ASSERT_EQ(local.messages().size(), 1u) << name;
        EXPECT_EQ(local.messages()[0].text, truncated) << name;
    }
    // Deflate (compression 8) packs at most 1032 bytes into one: 100,000 bytes cannot hold a
    // 11585 x 11585 picture of 8-bit samples, 200,000 bytes can hold 448 x 448 of them.
    auto deflated = [](std::uint32_t side, std::size_t bytes) {
        auto tags = greyTags(side, side, 8, 1);
        tags[3] = {259, 3, 8};
        tags[8] = {279, 4, static_cast<std::uint32_t>(bytes)};
        return tiffFile(tags, bytes);
    };
    EXPECT_FALSE(image::readTiff(deflated(11585, 100000), sink));
    EXPECT_EQ(onlyMessage(), truncated);
    sink.events.clear();
    // The data are no deflate stream, so the decoder refuses them: the size check let them by.
    EXPECT_FALSE(image::readTiff(deflated(448, 200000), sink));
    EXPECT_NE(onlyMessage(), truncated);
    sink.events.clear();
    // Uncompressed: the strip's offset (the sixth tag) moved so its last byte lies past the end.
    Bytes shortStrip = tiffFile(greyTags(64, 64, 8, 1), 64 * 64);
    const std::size_t ifd = 8 + 64 * 64;
    put32(shortStrip, ifd + 2 + 12 * 5 + 8, static_cast<std::uint32_t>(shortStrip.size() - 4095));
    EXPECT_FALSE(image::readTiff(shortStrip, sink));
    EXPECT_EQ(onlyMessage(), truncated);
}

TEST_F(Import, TiffSampleTypesAndRefusals) {
    {
        Bytes f = tiffFile(greyTags(64, 64, 16, 2), 64 * 64 * 2);
        f[8] = 0xFF;
        f[9] = 0xFF;  // -1
        const auto image = image::readTiff(f, sink);
        ASSERT_TRUE(image) << onlyMessage();
        EXPECT_EQ(image->type, SampleType::I16);
        EXPECT_EQ(image->at(0, 0), -1.0);
        EXPECT_EQ(image->minimum, -1.0);
        EXPECT_EQ(image->maximum, 0.0);
    }
    {
        const Bytes f = tiffFile(greyTags(64, 64, 12, 1), 64 * 64 * 2);
        EXPECT_FALSE(image::readTiff(f, sink));
        EXPECT_EQ(onlyMessage(), "Unsupported sample type in this file: TIFF 12-bit unsigned.");
    }
    sink.events.clear();
    {
        // Strip data promised beyond the end of the file.
        Bytes f = tiffFile(greyTags(64, 64, 8, 1), 10);
        EXPECT_FALSE(image::readTiff(f, sink));
        EXPECT_EQ(onlyMessage(), "The file ends before its image data: it is truncated or damaged.");
    }
}

// A 64 x 64 8-bit TIFF whose resolution is `perUnit` pixels per `unit` (0: no ResolutionUnit
// tag, so inches by default), with `description` when not empty.
Bytes resolutionTiff(std::uint32_t perUnit, std::uint32_t unit, const std::string& description) {
    const std::uint32_t rational = 8 + 64 * 64, text = rational + 8;
    auto tags = greyTags(64, 64, 8, 1);
    const auto format = tags.back();
    tags.pop_back();
    if (!description.empty()) tags.insert(tags.begin() + 5, {270, 2, text});
    tags.push_back({282, 5, rational});
    tags.push_back({283, 5, rational});
    if (unit != 0) tags.push_back({296, 3, unit});
    tags.push_back(format);
    Bytes f = tiffFile(tags, 64 * 64 + 8 + description.size() + 1);
    put32(f, rational, perUnit);
    put32(f, rational + 4, 1);
    std::copy(description.begin(), description.end(), f.begin() + text);
    // The description's count is its length with the final zero (the builder writes 1).
    const std::size_t ifd = f[4] | f[5] << 8 | f[6] << 16 | static_cast<std::size_t>(f[7]) << 24;
    for (std::size_t e = ifd + 2; e + 12 <= f.size(); e += 12)
        if (f[e] == 0x0E && f[e + 1] == 0x01)
            put32(f, e + 4, static_cast<std::uint32_t>(description.size() + 1));
    return f;
}

TEST_F(Import, APlainTiffResolutionIsNoCalibration) {
    // 72 dpi, a resolution without its unit (inch by default) and 72 dpi in pixels per cm: the
    // screen resolution a viewer saved, never a pixel size of the specimen.
    for (const auto& [perUnit, unit] : {std::pair{72u, 2u}, {96u, 0u}, {28u, 3u}, {5u, 1u}}) {
        SCOPED_TRACE(perUnit);
        const Bytes f = resolutionTiff(perUnit, unit, "");
        const auto image = image::readTiff(f, sink);
        ASSERT_TRUE(image) << onlyMessage();
        EXPECT_FALSE(image->pixelSizeNm);
    }
    // An ImageJ description naming the unit calibrates, whatever the ResolutionUnit says.
    const Bytes f = resolutionTiff(4, 0, "ImageJ=1.53t\nunit=micron\n");
    const auto image = image::readTiff(f, sink);
    ASSERT_TRUE(image) << onlyMessage();
    ASSERT_TRUE(image->pixelSizeNm);
    EXPECT_EQ(*image->pixelSizeNm, (image::PixelSize{250.0, 250.0}));
    EXPECT_EQ(image->pixelUnit, "\xC2\xB5m");
}

TEST_F(Import, FloatTiffWeWriteReadsBackThroughLibtiffWithItsPixelSize) {
    std::vector<float> samples(80 * 64);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i) * 0.5f - 7.25f;
    const auto bytes = image::encodeFloatTiff(80, 64, samples, image::PixelSize{0.1234, 0.1234});
    ASSERT_TRUE(bytes);
    const auto image = image::readTiff(*bytes, sink);
    ASSERT_TRUE(image) << onlyMessage();
    EXPECT_EQ(image->type, SampleType::F32);
    EXPECT_EQ(image->width, 80);
    EXPECT_EQ(image->at(79, 63), samples.back());
    EXPECT_EQ(image->at(1, 0), samples[1]);
    ASSERT_TRUE(image->pixelSizeNm);
    EXPECT_NEAR(image->pixelSizeNm->x, 0.1234, 1e-6);
    EXPECT_EQ(image->pixelSizeNm->y, image->pixelSizeNm->x);

    samples[17] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(image::readTiff(*image::encodeFloatTiff(80, 64, samples, std::nullopt), sink));
    EXPECT_EQ(onlyMessage().rfind("The image holds samples that are not numbers", 0), 0u);
}

// --- PNG ---------------------------------------------------------------------------------------

TEST_F(Import, PngHeaderClaimingHugeSizeIsRefused) {
    Bytes f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
               0, 1, 0x86, 0xA0, 0, 1, 0x86, 0xA0, 16, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(image::readPng(f, sink));
    const std::string text = onlyMessage();
    EXPECT_TRUE(text.rfind("Not a PNG file that can be read", 0) == 0 ||
                text.rfind("The image is too large", 0) == 0)
        << text;
    sink.events.clear();
    EXPECT_FALSE(image::readPng(Bytes(20, 0), sink));
    EXPECT_EQ(onlyMessage().rfind("Not a PNG file that can be read", 0), 0u);
}

TEST_F(Import, PngChunksAreCheckedBeforeTheDecoderAndRefusalsWorded) {
    const std::map<std::string, std::string> expected = {
        // A second IDAT claiming 1,996,488,704 bytes in a 7 KB file.
        {"png_idat_realloc_3.8GB.png",
         "Not a PNG file that can be read: a chunk is longer than the bytes left in the file."},
        {"png_chunk_len_huge.png",
         "Not a PNG file that can be read: a chunk is longer than the bytes left in the file."},
        {"png_claim_100000.png",
         "The image is too large: 100000 x 100000 pixels (at most 32768 pixels a side and 536 "
         "million samples)."},
        // The last chunk is "IEN\0", not IEND.
        {"png_unknown_critical_chunk.png",
         "Not a PNG file that can be read: it holds a critical chunk of an unknown type."},
    };
    for (const auto& [name, text] : expected) {
        RecordingSink local;
        GuardedBytes file(corpusFile("png", name));
        const std::clock_t start = std::clock();
        EXPECT_FALSE(image::readPng(file.span(), local)) << name;
        EXPECT_LT(cpuSecondsSince(start), 0.2) << name;
        ASSERT_EQ(local.messages().size(), 1u) << name;
        EXPECT_EQ(local.messages()[0].text, text) << name;
    }
    // The same file cut inside its last (empty) chunk, and without it: no IEND.
    const Bytes f = corpusFile("png", "png_unknown_critical_chunk.png");
    for (std::size_t cut : {1u, 12u}) {
        EXPECT_FALSE(image::readPng(Bytes(f.begin(), f.end() - cut), sink));
        EXPECT_EQ(onlyMessage(), "The file ends before its image data: it is truncated or damaged.");
        sink.events.clear();
    }
}

// A PNG of the given header fields whose IDAT holds `raw` (filter bytes and rows) deflated.
Bytes pngFile(std::uint32_t w, std::uint32_t h, int depth, int colourType, const Bytes& raw) {
    Bytes f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, const Bytes& body) {
        for (int k = 3; k >= 0; --k) f.push_back(static_cast<std::uint8_t>(body.size() >> (8 * k)));
        f.insert(f.end(), type, type + 4);
        f.insert(f.end(), body.begin(), body.end());
        f.insert(f.end(), 4, 0);  // the CRC, which readers do not check
    };
    Bytes header(13, 0);
    for (int k = 0; k < 4; ++k) {
        header[3 - k] = static_cast<std::uint8_t>(w >> (8 * k));
        header[7 - k] = static_cast<std::uint8_t>(h >> (8 * k));
    }
    header[8] = static_cast<std::uint8_t>(depth);
    header[9] = static_cast<std::uint8_t>(colourType);
    chunk("IHDR", header);
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes packed(size);
    compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(size);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return f;
}

TEST_F(Import, PngRowsOfSixteenBitsAreDecodedAndTheirDamageNamed) {
    // 64 x 64 RGB of 16 bits, every channel of pixel (x, y) = 1000 y + x, unfiltered.
    const std::size_t rowBytes = 1 + 64 * 6;
    Bytes raw(64 * rowBytes, 0);
    for (std::size_t y = 0; y < 64; ++y)
        for (std::size_t x = 0; x < 64; ++x)
            for (std::size_t c = 0; c < 3; ++c) {
                const unsigned v = static_cast<unsigned>(1000 * y + x);
                raw[y * rowBytes + 1 + x * 6 + c * 2] = static_cast<std::uint8_t>(v >> 8);
                raw[y * rowBytes + 1 + x * 6 + c * 2 + 1] = static_cast<std::uint8_t>(v);
            }
    const auto image = image::readPng(pngFile(64, 64, 16, 2, raw), sink);
    ASSERT_TRUE(image) << onlyMessage();
    EXPECT_EQ(image->type, SampleType::U16);
    EXPECT_EQ(image->at(5, 7), 7005.0);
    EXPECT_EQ(image->maximum, 63063.0);

    Bytes badFilter = raw;
    badFilter[10 * rowBytes] = 5;
    EXPECT_FALSE(image::readPng(pngFile(64, 64, 16, 2, badFilter), sink));
    EXPECT_EQ(onlyMessage(), "Not a PNG file that can be read: a row's filter type is not valid.");
    sink.events.clear();
    EXPECT_FALSE(image::readPng(pngFile(64, 64, 16, 2, Bytes(raw.begin(), raw.end() - 1)), sink));
    EXPECT_EQ(onlyMessage(),
              "Not a PNG file that can be read: the image data end before the picture does.");
    sink.events.clear();
    Bytes damaged = pngFile(64, 64, 16, 2, raw);
    damaged[8 + 25 + 8 + 2] ^= 0xFF;  // the first deflate block's header
    EXPECT_FALSE(image::readPng(damaged, sink));
    EXPECT_EQ(onlyMessage(), "Not a PNG file that can be read: the compressed image data are damaged.");
}

// A source over bytes in memory that counts what the reader reads.
class CountingSource final : public image::RandomAccessSource {
  public:
    explicit CountingSource(const Bytes& bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool readAt(std::uint64_t offset, std::uint8_t* out, std::size_t n) override {
        if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
        std::memcpy(out, bytes_.data() + offset, n);
        read += n;
        return true;
    }
    std::uint64_t read = 0;

  private:
    const Bytes& bytes_;
};

TEST_F(Import, PngIsReadThroughItsSourceWithoutTheChunksNoDecoderNeeds) {
    // 8 MB of text after the header: neither decoder (stb_image for 8-bit grey, our rows for 16
    // bits) may read it, nor hold the whole file.
    for (const int depth : {8, 16}) {
        const std::size_t bytesPerSample = static_cast<std::size_t>(depth / 8);
        const std::size_t rowBytes = 1 + 64 * bytesPerSample;
        Bytes raw(64 * rowBytes, 0);
        for (std::size_t y = 0; y < 64; ++y)
            raw[y * rowBytes + bytesPerSample] = static_cast<std::uint8_t>(y);  // x = 0
        Bytes f = pngFile(64, 64, depth, 0, raw);
        Bytes text = {0x00, 0x80, 0x00, 0x00, 't', 'E', 'X', 't'};  // 8 MiB of it
        text.resize(text.size() + (std::size_t{8} << 20) + 4, 'a');
        f.insert(f.begin() + 8 + 25, text.begin(), text.end());
        CountingSource source(f);
        const auto image = image::readPngImage(source, 0, sink);
        ASSERT_TRUE(image) << onlyMessage();
        EXPECT_EQ(image->at(0, 63), 63.0) << depth;
        EXPECT_EQ(image->at(1, 63), 0.0) << depth;
        EXPECT_LT(source.read, std::uint64_t{1} << 20) << depth;
        // A PNG holds one image.
        EXPECT_FALSE(image::readPngImage(source, 1, sink));
        EXPECT_EQ(onlyMessage(), "The file holds 1 images: there is no image 2.");
        sink.events.clear();
    }
}

// --- What the program shows and transforms -----------------------------------------------------

GreyImage rampImage(SampleType type, int w, int h) {
    GreyImage g;
    g.type = type;
    g.width = w;
    g.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) g.samples.push_back(1000.0 + 10.0 * (x + w * y));
    g.minimum = g.samples.front();
    g.maximum = g.samples.back();
    return g;
}

TEST_F(Import, LevelsMapTheRangeOntoZeroTo255WithoutRounding) {
    const GreyImage g = rampImage(SampleType::U16, 64, 64);
    const auto levels = image::transformLevels(g);
    ASSERT_TRUE(levels);
    EXPECT_EQ(levels->at(0, 0), 0.0);
    EXPECT_EQ(levels->at(63, 63), 255.0);
    EXPECT_DOUBLE_EQ(levels->at(1, 0), 255.0 / (64 * 64 - 1));
    EXPECT_FALSE(image::transformLevels(rampImage(SampleType::U8, 64, 64)));
}

TEST_F(Import, RenderingStretchesBetweenThePercentilesAndClips) {
    GreyImage g = rampImage(SampleType::F32, 100, 100);
    g.samples[0] = -1e9;  // one outlier each side must not flatten the picture
    g.samples.back() = 1e9;
    g.minimum = -1e9;
    g.maximum = 1e9;
    const auto shown = image::renderPercentiles(g);
    EXPECT_EQ(shown[0], 0);
    EXPECT_EQ(shown.back(), 255);
    EXPECT_EQ(shown[1], 0);  // below the 0.1 percentile
    EXPECT_NEAR(shown[5000], 127, 1);
    EXPECT_EQ(shown[9998], 255);
}

// A picture of the given samples, its range filled in as the readers do.
GreyImage imageOf(SampleType type, std::vector<double> samples) {
    GreyImage g;
    g.type = type;
    g.width = 64;
    g.height = static_cast<int>(samples.size() / 64);
    g.samples = std::move(samples);
    RecordingSink quiet;
    EXPECT_TRUE(image::checkImported(g, quiet));
    return g;
}

TEST_F(Import, RangesNearTheLargestDoubleAndDenormalsMapWithoutOverflow) {
    const double big = 1e308;
    {
        // Five samples of -1e308 put the 0.1 percentile between the signs; the rest +1e308.
        std::vector<double> v(64 * 64, big);
        for (int i = 0; i < 5; ++i) v[static_cast<std::size_t>(i * 97)] = -big;
        v[100] = 0;
        const GreyImage g = imageOf(SampleType::F64, v);
        const auto shown = image::renderPercentiles(g);
        EXPECT_EQ(shown[0], 0);
        EXPECT_EQ(shown[1], 255);
        // The 0.1 percentile lies 0.095 of the way from the fifth -1e308 to the 0: -0.905e308.
        EXPECT_EQ(shown[100], static_cast<int>(255 * 0.905 / 1.905));
        const auto levels = image::transformLevels(g);
        ASSERT_TRUE(levels);
        EXPECT_EQ(levels->levels[0], 0.0);
        EXPECT_EQ(levels->levels[1], 255.0);
        EXPECT_EQ(levels->levels[100], 127.5);
    }
    {
        // Only the two extremes, and the largest finite doubles.
        const double top = std::numeric_limits<double>::max();
        std::vector<double> v(64 * 64, -top);
        for (std::size_t i = 0; i < v.size(); i += 2) v[i] = top;
        const GreyImage g = imageOf(SampleType::F64, v);
        const auto shown = image::renderPercentiles(g);
        const auto levels = image::transformLevels(g);
        for (std::size_t i : {0u, 1u, 4094u, 4095u}) {
            EXPECT_EQ(shown[i], i % 2 ? 0 : 255) << i;
            EXPECT_EQ(levels->levels[i], i % 2 ? 0.0 : 255.0) << i;
        }
    }
    {
        // Multiples k of the smallest denormal keep their exact ratios: level k.
        const double tiny = std::numeric_limits<double>::denorm_min();
        std::vector<double> v(64 * 64);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<double>(i % 256) * tiny;
        const auto levels = image::transformLevels(imageOf(SampleType::F64, v));
        for (std::size_t i : {0u, 1u, 77u, 255u, 256u + 254u})
            EXPECT_EQ(levels->levels[i], static_cast<double>(i % 256)) << i;
    }
}

TEST_F(Import, ConstantSourcesKeepTheirLevelAsAConstantEightBitOneDoes) {
    const auto levels = image::transformLevels(imageOf(SampleType::U16, std::vector<double>(4096, 77)));
    ASSERT_TRUE(levels);
    EXPECT_EQ(levels->levels.front(), 77.0);
    EXPECT_EQ(image::renderPercentiles(imageOf(SampleType::U16, std::vector<double>(4096, 77)))[9], 77);
    EXPECT_EQ(image::transformLevels(imageOf(SampleType::F32, std::vector<double>(4096, 2.5)))
                  ->levels[5],
              2.5);
    EXPECT_EQ(image::transformLevels(imageOf(SampleType::F64, std::vector<double>(4096, 1e308)))
                  ->levels[5],
              255.0);
    // Below zero is black, as an all-black 8-bit picture is.
    EXPECT_EQ(image::transformLevels(imageOf(SampleType::F64, std::vector<double>(4096, -1e308)))
                  ->levels[5],
              0.0);
}

TEST_F(Import, EightBitSourceBecomesTheNormalisedBitmapByteForByte) {
    GreyImage g;
    g.type = SampleType::U8;
    g.width = 65;
    g.height = 64;
    for (int i = 0; i < 65 * 64; ++i) g.samples.push_back(i % 251);
    const auto file = image::normalisedBitmapOf(g);
    ASSERT_EQ(file.size(), 1078u + 68 * 64);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[10], 0x36);  // bfOffBits 1078
    EXPECT_EQ(file[11], 0x04);
    // Bottom row first: the last row of samples starts the pixels.
    EXPECT_EQ(file[1078], (63 * 65) % 251);
    EXPECT_EQ(file[1078 + 68 * 63 + 1], 1);
    EXPECT_EQ(file[1078 + 65], 0);  // padding
}

TEST_F(Import, PixelSizeUnits) {
    GreyImage g;
    image::setPixelSize(g, 0.02, "\xC2\xB5m");
    ASSERT_TRUE(g.pixelSizeNm);
    EXPECT_EQ(*g.pixelSizeNm, (image::PixelSize{20.0, 20.0}));
    GreyImage r;
    image::setPixelSize(r, 0.5, "1/nm");  // a reciprocal unit is no pixel size
    EXPECT_FALSE(r.pixelSizeNm);
    image::setPixelSize(r, -1, "nm");
    EXPECT_FALSE(r.pixelSizeNm);
    image::setPixelSize(r, 1.5, "\xC3\x85");
    EXPECT_DOUBLE_EQ(r.pixelSizeNm->x, 0.15);
    EXPECT_EQ(r.pixelSizeNm->y, r.pixelSizeNm->x);
}

TEST_F(Import, AxesCalibratedApartKeepBothOrNone) {
    GreyImage g;
    image::setPixelSizes(g, 2, "\xC3\x85", 0.0003, "\xC2\xB5m");
    ASSERT_TRUE(g.pixelSizeNm);
    EXPECT_FALSE(g.pixelSizeNm->square());
    EXPECT_DOUBLE_EQ(g.pixelSizeNm->x, 0.2);
    EXPECT_DOUBLE_EQ(g.pixelSizeNm->y, 0.3);
    g.minimum = 0;
    g.maximum = 1;
    g.width = g.height = 64;
    EXPECT_NE(
        image::describeImport(g).find(", pixel size 0.2 x 0.3 nm (2 \xC3\x85 x 0.0003 \xC2\xB5m)"),
        std::string::npos)
        << image::describeImport(g);
    core::setJapaneseTexts(true);
    EXPECT_NE(image::describeImport(g).find(
                  "、ピクセルサイズ 0.2 x 0.3 nm（2 \xC3\x85 x 0.0003 \xC2\xB5m）"),
              std::string::npos);
    core::setJapaneseTexts(false);
    // Sizes a single-precision cell leaves a few ulps apart are one square size: the x axis's.
    GreyImage near;
    image::setPixelSizes(near, 1.23f * 150 / 150.0, "nm", 1.23f * 120 / 120.0, "nm");
    ASSERT_TRUE(near.pixelSizeNm);
    EXPECT_TRUE(near.pixelSizeNm->square());
    // One axis that is not a length (an energy, a reciprocal length) leaves no calibration.
    for (const char* other : {"eV", "1/nm", "", "pixel"}) {
        GreyImage h;
        image::setPixelSizes(h, 0.2, "nm", 0.5, other);
        EXPECT_FALSE(h.pixelSizeNm) << other;
    }
}

TEST_F(Import, JapaneseMessages) {
    core::setJapaneseTexts(true);
    EXPECT_FALSE(image::readMrc(mrcFile(63, 80, 1, 2), sink));
    EXPECT_EQ(onlyMessage(), "画像が小さすぎます（幅または高さが 64 未満）。");
    core::setJapaneseTexts(false);
}

TEST(ImportFormat, Extensions) {
    EXPECT_EQ(image::formatOfPath("a/b.TIF"), image::ImageFormat::Tiff);
    EXPECT_EQ(image::formatOfPath("x.tiff"), image::ImageFormat::Tiff);
    EXPECT_EQ(image::formatOfPath("x.Dm4"), image::ImageFormat::Dm4);
    EXPECT_EQ(image::formatOfPath("x.mrcs"), image::ImageFormat::Mrc);
    EXPECT_EQ(image::formatOfPath("x.png"), image::ImageFormat::Png);
    EXPECT_FALSE(image::formatOfPath("x.jpg"));
    EXPECT_FALSE(image::formatOfPath("dir.tif/file"));
}

}  // namespace

// A montage or STEM scan of 16384 x 16384 opens; the samples stop at 2^29 whatever the sides.
TEST(ImportSize, ScansUpTo536MillionSamplesOpen) {
    RecordingSink sink;
    EXPECT_TRUE(image::checkImportSize(16384, 16384, sink));
    EXPECT_TRUE(image::checkImportSize(32768, 16384, sink));
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_FALSE(image::checkImportSize(32768, 16385, sink));
    ASSERT_EQ(sink.messages().size(), 1u);
    EXPECT_EQ(sink.messages()[0].text.rfind("The image is too large: 32768 x 16385 pixels", 0), 0u);
}
