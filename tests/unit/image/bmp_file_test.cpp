#include "image/bmp_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "bmp_builder.h"
#include "core/message_sink.h"
#include "tests/doubles/recording.h"

using core::RecordingSink;
using image::BitmapFlavour;
using image::CurrentImage;

namespace {

struct Expected {
    std::string text, caption;
    unsigned style;
};

void expectOneMessage(const RecordingSink& sink, const Expected& e) {
    const auto messages = sink.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, e.text);
    EXPECT_EQ(messages[0].caption, e.caption);
    EXPECT_EQ(messages[0].style, e.style);
}

bool readBytes(const std::vector<std::uint8_t>& bytes, CurrentImage& img, RecordingSink& sink,
               BitmapFlavour flavour = BitmapFlavour::Voralin00) {
    return image::readBitmapBytes(bytes, img, flavour, sink, {1024, 747});
}

TEST(BmpReader, ReadsAFileAndCompletesTheInfoHeader) {
    auto b = testbmp::greyBmp(65, 64);
    auto bytes = testbmp::build(b);
    image::storeU32(&bytes[34], 0);  // biSizeImage left 0
    image::storeU32(&bytes[46], 0);  // biClrUsed left 0
    CurrentImage img;
    RecordingSink sink;
    ASSERT_TRUE(readBytes(bytes, img, sink));
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_EQ(img.dib.block.size(), bytes.size() - 14);
    EXPECT_EQ(img.fileHeader.bfOffBits, 1078u);
    EXPECT_EQ(img.fileHeader.bfSize, bytes.size());
    EXPECT_EQ(img.dib.u32(image::info::biClrUsed), 256u);
    EXPECT_EQ(img.dib.u32(image::info::biSizeImage), 68u * 64u);
    const auto a = image::accessBitmap(img, BitmapFlavour::Voralin00, sink);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->rowStride, 68u);
    EXPECT_EQ(a->colourCount, 256u);
    // Top row is the last row stored.
    EXPECT_EQ(a->at(10, 0), static_cast<std::uint8_t>(10 + 3 * 63));
    EXPECT_EQ(a->at(64, 63), 64);
}

TEST(BmpReader, PixelsFollowTheColourTableWhenNoFileHeaderIsKept) {
    CurrentImage img;
    RecordingSink sink;
    auto b = testbmp::greyBmp(64, 64);
    b.palette.resize(16);
    b.clrUsed = 16;
    ASSERT_TRUE(readBytes(testbmp::build(b), img, sink));
    img.fileHeader = image::BmpFileHeader{};
    const auto a = image::accessBitmap(img, BitmapFlavour::Voralin00, sink);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->pixels - img.dib.block.data(), 40 + 16 * 4);
}

TEST(BmpReader, ReportsEachFailureWithItsTextAndFlavourCaption) {
    auto good = testbmp::build(testbmp::greyBmp(64, 64));
    auto badMagic = good;
    badMagic[0] = 'A';  // 0x4d41
    auto longer = good;
    image::storeU32(&longer[2], static_cast<std::uint32_t>(good.size() + 1));
    auto tiny = good;
    image::storeU32(&tiny[2], 20);  // bfSize below 14 + 40
    auto underflow = good;
    image::storeU32(&underflow[2], 3);  // bfSize - 14 would wrap
    const std::vector<std::uint8_t> shortHeader(good.begin(), good.begin() + 13);

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* text;
    };
    const Case cases[] = {
        {"short header", shortHeader, "Unable to read bitmap file header."},
        {"bad magic", badMagic, "Bad magic number (0x4d41) in bitmap."},
        {"bfSize beyond the file", longer, "Unable to read bitmap info header."},
        {"bfSize without info header", tiny, "Unable to read bitmap info header."},
        {"bfSize below 14", underflow, "Unable to read bitmap info header."},
    };
    for (const auto& c : cases) {
        for (auto flavour : {BitmapFlavour::Voralin00, BitmapFlavour::Kestral}) {
            SCOPED_TRACE(c.name);
            CurrentImage img;
            img.dib.block.assign(100, 1);  // a stale block must not survive
            RecordingSink sink;
            EXPECT_FALSE(readBytes(c.bytes, img, sink, flavour));
            expectOneMessage(sink,
                             {c.text, flavour == BitmapFlavour::Kestral ? "Error" : "Read Error",
                              core::kIconError});
            EXPECT_FALSE(img.present());
            EXPECT_EQ(img.fileHeader.bfType, 0);
        }
    }
}

TEST(BmpReader, WrongInfoHeaderSizeKeepsTheBlock) {
    auto b = testbmp::greyBmp(64, 64);
    b.infoSize = 12;
    const auto bytes = testbmp::build(b);
    for (auto flavour : {BitmapFlavour::Voralin00, BitmapFlavour::Kestral}) {
        CurrentImage img;
        RecordingSink sink;
        EXPECT_FALSE(readBytes(bytes, img, sink, flavour));
        expectOneMessage(
            sink, {"Error: Illegal structure size.found in info header",
                   flavour == BitmapFlavour::Kestral ? "Error" : "File Error", core::kIconError});
        EXPECT_TRUE(img.present());
        EXPECT_EQ(img.dib.block.size(), bytes.size() - 14);
    }
}

TEST(BmpReader, MissingFileNamesThePath) {
    for (auto flavour : {BitmapFlavour::Voralin00, BitmapFlavour::Kestral}) {
        CurrentImage img;
        RecordingSink sink;
        EXPECT_FALSE(
            image::readBitmapFile("/nonexistent/dir/x.bmp", img, flavour, sink, {800, 579}));
        expectOneMessage(
            sink, {"Unable to open file '/nonexistent/dir/x.bmp'.",
                   flavour == BitmapFlavour::Kestral ? "Error" : "Open Error", core::kIconError});
    }
}

// Headers whose sizes point outside the block are refused and leave no picture.
TEST(BmpReader, RefusesLayoutsThatReachPastTheBlock) {
    const auto base = testbmp::build(testbmp::greyBmp(64, 64));
    auto with = [&](std::size_t offset, std::uint32_t value) {
        auto bytes = base;
        image::storeU32(&bytes[offset], value);
        return bytes;
    };
    auto bits = [&](std::uint16_t value) {
        auto bytes = base;
        image::storeU16(&bytes[28], value);
        return bytes;
    };
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"biClrUsed beyond 256", with(46, 257)},
        {"biClrUsed huge", with(46, 0x40000000)},
        {"rows beyond the block", with(22, 65)},
        {"height huge", with(22, 0x7FFFFFFF)},
        {"width huge", with(18, 0x7FFFFFFF)},
        {"negative height", with(22, 0xFFFFFFC0)},
        {"zero width", with(18, 0)},
        {"bfOffBits inside the headers", with(10, 20)},
        {"bfOffBits inside the colour table", with(10, 100)},
        {"bfOffBits beyond the file", with(10, 0xFFFFFFF0)},
        {"bit count 0", bits(0)},
        {"bit count 64", bits(64)},
        {"32 bits wide and tall",
         [&] {
             auto b = with(18, 0x7FFFFFFF);
             image::storeU32(&b[22], 0x7FFFFFFF);
             image::storeU16(&b[28], 32);
             return b;
         }()},
        {"RLE size beyond the block",
         [&] {
             auto b = with(30, 1);
             image::storeU32(&b[34], 0x10000);
             return b;
         }()},
    };
    for (const auto& c : cases) {
        for (auto flavour : {BitmapFlavour::Voralin00, BitmapFlavour::Kestral}) {
            SCOPED_TRACE(c.name);
            CurrentImage img;
            RecordingSink sink;
            EXPECT_FALSE(readBytes(c.bytes, img, sink, flavour));
            expectOneMessage(sink, {"Error: Bitmap sizes found in info header do not fit the file.",
                                    flavour == BitmapFlavour::Kestral ? "Error" : "File Error",
                                    core::kIconError});
            EXPECT_FALSE(img.present());
        }
    }
}

TEST(BmpReader, AcceptsDeepPicturesWithoutATable) {
    testbmp::Bmp b;
    b.bitCount = 24;
    b.pixels.assign(64 * 3 * 64, 7);
    CurrentImage img;
    RecordingSink sink;
    ASSERT_TRUE(readBytes(testbmp::build(b), img, sink));
    const auto a = image::accessBitmap(img, BitmapFlavour::Kestral, sink);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->colourCount, 0u);
    EXPECT_EQ(a->rowStride, 192u);
}

TEST(BmpReader, ViewReductionFitsThePictureArea) {
    EXPECT_EQ(image::viewReduction({1024, 747}, 2000, 1000), 2);
    EXPECT_EQ(image::viewReduction({1024, 747}, 1024, 747), 1);
    EXPECT_EQ(image::viewReduction({1024, 747}, 1024, 748), 2);
    EXPECT_EQ(image::viewReduction({500, 1979}, 4096, 100), 16);
    auto bytes = testbmp::build(testbmp::greyBmp(256, 64));
    CurrentImage img;
    RecordingSink sink;
    ASSERT_TRUE(image::readBitmapBytes(bytes, img, BitmapFlavour::Voralin00, sink, {100, 179}));
    EXPECT_EQ(img.viewReduction, 4);
}

TEST(BmpWriter, RoundTripKeepsTheBlockAndSetsTheHeader) {
    const auto dir = testbmp::scratchDir("writer_round_trip");
    // The image program's 8-bit pictures and the crystal program's 16-colour pages.
    testbmp::Bmp page;
    page.width = 70;
    page.height = 66;
    page.bitCount = 4;
    page.clrUsed = 16;
    page.palette.assign(16, 0x80);
    for (std::size_t i = 0; i < 36 * 66; ++i)
        page.pixels.push_back(static_cast<std::uint8_t>(i * 7));
    for (auto flavour : {BitmapFlavour::Voralin00, BitmapFlavour::Kestral}) {
        CurrentImage img;
        RecordingSink sink;
        ASSERT_TRUE(readBytes(
            testbmp::build(flavour == BitmapFlavour::Kestral ? page : testbmp::greyBmp(70, 66)),
            img, sink));
        const auto block = img.dib.block;
        const std::string path = (dir / "out.bmp").string();
        ASSERT_TRUE(image::writeBitmapFile(path, img, flavour, sink));
        const std::uint32_t offBits = flavour == BitmapFlavour::Kestral ? 118 : 1078;
        EXPECT_EQ(img.fileHeader.bfOffBits, offBits);
        EXPECT_EQ(img.fileHeader.bfSize, block.size() + 14);
        const auto written = testbmp::readAll(path);
        EXPECT_EQ(written, image::encodeBitmap(img, flavour));
        ASSERT_EQ(written.size(), block.size() + 14);
        EXPECT_TRUE(std::equal(block.begin(), block.end(), written.begin() + 14));
        EXPECT_EQ(image::loadU32(&written[10]), offBits);

        CurrentImage back;
        ASSERT_TRUE(image::readBitmapFile(path, back, flavour, sink, {1024, 747}));
        EXPECT_EQ(back.dib.block, block);
        const auto a = image::accessBitmap(back, flavour, sink);
        ASSERT_TRUE(a);
        EXPECT_EQ(a->pixels - back.dib.block.data(), offBits - 14);
        EXPECT_EQ(back.fileHeader.bfSize, block.size() + 14);
        EXPECT_TRUE(sink.messages().empty());
    }
}

TEST(BmpWriter, AForeignLayoutKeepsTheOffsetOfItsOwnRows) {
    // An 8-bit grey file opened in the crystal program and saved again: the fixed 118 would point
    // into its colour table.
    const auto dir = testbmp::scratchDir("writer_foreign_layout");
    CurrentImage img;
    RecordingSink sink;
    ASSERT_TRUE(readBytes(testbmp::build(testbmp::greyBmp(64, 64)), img, sink));
    const auto block = img.dib.block;
    const std::string path = (dir / "grey.bmp").string();
    ASSERT_TRUE(image::writeBitmapFile(path, img, BitmapFlavour::Kestral, sink));
    EXPECT_EQ(img.fileHeader.bfOffBits, 1078u);
    const auto written = testbmp::readAll(path);
    EXPECT_EQ(image::loadU32(&written[10]), 1078u);
    CurrentImage back;
    ASSERT_TRUE(image::readBitmapFile(path, back, BitmapFlavour::Kestral, sink, {1024, 747}));
    const auto a = image::accessBitmap(back, BitmapFlavour::Kestral, sink);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->at(5, 63), 5);  // bottom row, x = 5
    EXPECT_EQ(back.dib.block, block);
    EXPECT_TRUE(sink.messages().empty());
}

TEST(BmpWriter, ReportsCreateFailureInBothFlavours) {
    CurrentImage img;
    RecordingSink sink;
    ASSERT_TRUE(readBytes(testbmp::build(testbmp::greyBmp(64, 64)), img, sink));
    EXPECT_FALSE(
        image::writeBitmapFile("/nonexistent/dir/out.bmp", img, BitmapFlavour::Voralin00, sink));
    EXPECT_FALSE(
        image::writeBitmapFile("/nonexistent/dir/out.bmp", img, BitmapFlavour::Kestral, sink));
    const auto m = sink.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].text, "Unable to open file.");
    EXPECT_EQ(m[0].caption, "Save Error");
    EXPECT_EQ(m[1].text, "Error: Unable to open file.");
    EXPECT_EQ(m[1].caption, "Error");
    EXPECT_EQ(m[1].style, core::kIconError);
}

TEST(BmpWriter, ShortWriteDeletesThePartialFile) {
    const auto dir = testbmp::scratchDir("writer_short");
    CurrentImage img;
    RecordingSink sink;
    ASSERT_TRUE(readBytes(testbmp::build(testbmp::greyBmp(128, 128)), img, sink));
    const std::string path = (dir / "full.bmp").string();
    {
        testbmp::FileSizeLimit limit(4096);
        EXPECT_FALSE(image::writeBitmapFile(path, img, BitmapFlavour::Voralin00, sink));
        EXPECT_FALSE(image::writeBitmapFile(path, img, BitmapFlavour::Kestral, sink));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    const auto m = sink.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].text, "Unable to write to file.");
    EXPECT_EQ(m[0].caption, "Save Error");
    EXPECT_EQ(m[1].text, "Error: File write error.");
    EXPECT_EQ(m[1].caption, "Error");
}

}  // namespace
