#include "image/normalise.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "bmp_builder.h"
#include "core/busy.h"
#include "core/localized.h"
#include "core/message_sink.h"
#include "tests/doubles/recording.h"

using core::RecordedEvent;
using core::RecordingSink;
using image::BitmapFlavour;
using image::CurrentImage;

namespace {

struct Normalised {
    std::optional<image::ImageGeometry> geometry;
    std::vector<std::uint8_t> file;
    RecordingSink sink;
    bool busyStillOn = false;
};

// Runs the in-memory core; the wait state is ended afterwards, as the caller would.
std::unique_ptr<Normalised> normalise(const std::vector<std::uint8_t>& bytes) {
    auto n = std::make_unique<Normalised>();
    core::RecordingBusy busy(n->sink);
    std::optional<core::BusyScope> scope;
    image::VectorSink out;
    n->geometry = image::normaliseGreyBytes(bytes, out, n->sink, busy, scope);
    n->busyStillOn = scope.has_value();
    n->file = std::move(out.bytes);
    return n;
}

void expectRefusal(const std::vector<std::uint8_t>& bytes, const char* text, const char* caption,
                   unsigned style) {
    const auto n = normalise(bytes);
    EXPECT_FALSE(n->geometry);
    EXPECT_TRUE(n->file.empty());
    ASSERT_EQ(n->sink.events.size(), 1u) << "a refused file begins no wait state";
    EXPECT_EQ(n->sink.events[0].text, text);
    EXPECT_EQ(n->sink.events[0].caption, caption);
    EXPECT_EQ(n->sink.events[0].style, style);
}

// The loaded normalised picture: pixel (x, y), y from the top.
struct Loaded {
    CurrentImage img;
    image::DibAccess access;
};
std::unique_ptr<Loaded> load(const std::vector<std::uint8_t>& file) {
    auto l = std::make_unique<Loaded>();
    RecordingSink sink;
    EXPECT_TRUE(image::readBitmapBytes(file, l->img, BitmapFlavour::Voralin00, sink, {1024, 747}));
    auto a = image::accessBitmap(l->img, BitmapFlavour::Voralin00, sink);
    EXPECT_TRUE(a);
    if (a) l->access = *a;
    return l;
}

void expectNormalisedHeader(const std::vector<std::uint8_t>& f, std::int32_t w, std::int32_t h) {
    const std::uint32_t padded = (static_cast<std::uint32_t>(w) + 3) / 4 * 4;
    ASSERT_GE(f.size(), 1078u);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(image::loadU32(&f[2]), padded * h + 1078);
    EXPECT_EQ(image::loadU32(&f[10]), 1078u);
    EXPECT_EQ(image::loadU32(&f[14]), 40u);
    EXPECT_EQ(image::loadI32(&f[18]), w);
    EXPECT_EQ(image::loadI32(&f[22]), h);
    EXPECT_EQ(image::loadU32(&f[38]), 0u);
    EXPECT_EQ(image::loadU32(&f[42]), 0u);
    EXPECT_EQ(image::loadU32(&f[46]), 256u);
    EXPECT_EQ(image::loadU32(&f[50]), 256u);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(f[54 + 4 * i], i);
        ASSERT_EQ(f[55 + 4 * i], i);
        ASSERT_EQ(f[56 + 4 * i], i);
        ASSERT_EQ(f[57 + 4 * i], 0);
    }
}

TEST(Normalise, IdentityGreyFileIsCopiedUnchanged) {
    const auto b = testbmp::greyBmp(64, 64);
    const auto source = testbmp::build(b);
    const auto n = normalise(source);
    ASSERT_TRUE(n->geometry);
    EXPECT_EQ(n->geometry->width, 64);
    EXPECT_EQ(n->geometry->height, 64);
    EXPECT_EQ(n->geometry->paddedWidth, 64);
    EXPECT_EQ(n->geometry->fileSize, 64u * 64u + 1078u);
    auto expected = source;
    image::storeU32(&expected[34], 64 * 64);
    image::storeU32(&expected[46], 256);
    image::storeU32(&expected[50], 256);
    EXPECT_EQ(n->file, expected) << "an already normalised file keeps its header and pixels";
    // The wait state began and was left on for the caller (whose scope then ended it).
    EXPECT_TRUE(n->busyStillOn);
    ASSERT_EQ(n->sink.events.size(), 2u);
    EXPECT_EQ(n->sink.events[0].kind, RecordedEvent::BusyBegin);
    EXPECT_EQ(n->sink.events[1].kind, RecordedEvent::BusyEnd);
}

TEST(Normalise, RefusesWhatThePictureCannotBe) {
    using core::kIconWarning;
    const char* small = "Too small bitmap (less than 64W or 64H)!";
    expectRefusal(testbmp::build(testbmp::greyBmp(63, 64)), small, "Error", kIconWarning);
    expectRefusal(testbmp::build(testbmp::greyBmp(64, 63)), small, "Error", kIconWarning);
    auto topDown = testbmp::build(testbmp::greyBmp(64, 64));
    image::storeU32(&topDown[22], static_cast<std::uint32_t>(-64));
    expectRefusal(topDown, small, "Error", kIconWarning);

    auto rgb = testbmp::greyBmp(64, 64);
    rgb.bitCount = 24;
    rgb.palette.clear();
    rgb.pixels.assign(64 * 64 * 3, 0);
    expectRefusal(testbmp::build(rgb), "Not a 256 color bitmap file.", "Warning", kIconWarning);
    auto wide = testbmp::build(testbmp::greyBmp(64, 64));
    wide[29] = 1;  // biBitCount 0x108: the low byte alone says 8
    expectRefusal(wide, "Not a 256 color bitmap file.", "Warning", kIconWarning);
    auto four = testbmp::greyBmp(64, 64);
    four.bitCount = 4;
    four.palette.resize(16);
    expectRefusal(testbmp::build(four), "Not a 256 color bitmap file.", "Warning", kIconWarning);

    auto colour = testbmp::build(testbmp::greyBmp(64, 64));
    colour[54 + 4 * 200 + 2] = 7;  // entry 200: red differs from blue and green
    expectRefusal(colour, "Not a gray-scale bitmap file.", "Warning", kIconWarning);
    auto lastEntry = testbmp::build(testbmp::greyBmp(64, 64));
    lastEntry[54 + 4 * 255 + 1] = 0;  // entry 255: green differs
    expectRefusal(lastEntry, "Not a gray-scale bitmap file.", "Warning", kIconWarning);
}

TEST(Normalise, ReversedPaletteIsRemappedToGreyLevels) {
    auto b = testbmp::greyBmp(64, 64);
    for (int i = 0; i < 256; ++i) b.palette[i] = static_cast<std::uint8_t>(255 - i);
    const auto n = normalise(testbmp::build(b));
    ASSERT_TRUE(n->geometry);
    expectNormalisedHeader(n->file, 64, 64);
    const auto l = load(n->file);
    for (int r = 0; r < 64; ++r)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(l->access.at(x, 63 - r), 255 - static_cast<std::uint8_t>(x + 3 * r));
}

TEST(Normalise, SixteenEntryPaletteReadsPixelsAfterIt) {
    auto b = testbmp::greyBmp(64, 64);
    b.clrUsed = 16;
    b.palette.resize(16);
    for (int i = 0; i < 16; ++i) b.palette[i] = static_cast<std::uint8_t>(i * 17);
    for (auto& p : b.pixels) p &= 15;
    const auto n = normalise(testbmp::build(b));
    ASSERT_TRUE(n->geometry);
    expectNormalisedHeader(n->file, 64, 64);
    const auto l = load(n->file);
    EXPECT_EQ(l->access.at(0, 63), 0);
    EXPECT_EQ(l->access.at(5, 63), 5 * 17);
    EXPECT_EQ(l->access.at(1, 0), ((1 + 3 * 63) & 15) * 17);
}

TEST(Normalise, OddWidthIsPaddedWithZeros) {
    auto b = testbmp::greyBmp(65, 70);
    b.palette[3] = 9;  // not an identity palette: the row-by-row path
    for (std::size_t r = 0; r < 70; ++r)
        for (std::size_t x = 65; x < 68; ++x) b.pixels[r * 68 + x] = 0xEE;  // junk in the padding
    const auto n = normalise(testbmp::build(b));
    ASSERT_TRUE(n->geometry);
    EXPECT_EQ(n->geometry->paddedWidth, 68);
    EXPECT_EQ(n->geometry->fileSize, 68u * 70u + 1078u);
    EXPECT_EQ(n->file.size(), 68u * 70u + 1078u);
    for (std::size_t r = 0; r < 70; ++r)
        for (std::size_t x = 65; x < 68; ++x) ASSERT_EQ(n->file[1078 + r * 68 + x], 0);
    EXPECT_EQ(n->file[1078 + 3], 9);  // pixel index 3 is grey 9
}

TEST(Normalise, SourceRowsOfAnotherLengthBecomePaddedRows) {
    // Rows stored 66 bytes long (not padded to 4), a 64-pixel picture: the output rows are 64.
    auto b = testbmp::greyBmp(64, 64);
    b.pixels.assign(66 * 64, 0);
    for (std::size_t r = 0; r < 64; ++r)
        for (std::size_t x = 0; x < 66; ++x) b.pixels[r * 66 + x] = static_cast<std::uint8_t>(r);
    const auto n = normalise(testbmp::build(b));
    ASSERT_TRUE(n->geometry);
    ASSERT_EQ(n->file.size(), 64u * 64u + 1078u);
    const auto l = load(n->file);
    for (int r = 0; r < 64; ++r) ASSERT_EQ(l->access.at(10, 63 - r), r);
}

// RLE8 data for a 64 x 64 picture, decoded through the whole pipeline.
std::vector<std::uint8_t> rleFile(const std::vector<std::uint8_t>& coded,
                                  std::vector<std::uint8_t> palette = {}) {
    testbmp::Bmp b;
    b.compression = 1;
    b.palette = palette.empty() ? testbmp::identityPalette() : palette;
    b.pixels = coded;
    return testbmp::build(b);
}

TEST(Normalise, Rle8CommandsDecode) {
    std::vector<std::uint8_t> coded = {
        // row 0: 3 x 7, absolute run of 3 (odd: one filler byte), end of line mid-row
        3, 7, 0, 3, 10, 11, 12, 0xFF, 0, 0,
        // row 1: absolute run of 4 (even: no filler), then delta right 2 and up 1
        0, 4, 20, 21, 22, 23, 0, 2, 2, 1,
        // row 2 from x 6: a run of 2, end of bitmap
        2, 99, 0, 1,
        // never read
        5, 5};
    auto palette = testbmp::identityPalette();
    palette[99] = 50;
    const auto n = normalise(rleFile(coded, palette));
    ASSERT_TRUE(n->geometry);
    expectNormalisedHeader(n->file, 64, 64);
    EXPECT_EQ(image::loadU32(&n->file[30]), 0u) << "written uncompressed";
    EXPECT_EQ(image::loadU32(&n->file[34]), 64u * 64u);
    // Three rows decoded, the rest missing: the file holds whole rows only.
    ASSERT_EQ(n->file.size(), 1078u + 3 * 64);
    const std::uint8_t* row0 = &n->file[1078];
    const std::vector<std::uint8_t> r0(row0, row0 + 8);
    EXPECT_EQ(r0, (std::vector<std::uint8_t>{7, 7, 7, 10, 11, 12, 0, 0}));
    EXPECT_EQ(std::count(row0 + 6, row0 + 64, 0), 58) << "end of line fills the row with zeros";
    const std::uint8_t* row1 = row0 + 64;
    EXPECT_EQ(std::vector<std::uint8_t>(row1, row1 + 5),
              (std::vector<std::uint8_t>{20, 21, 22, 23, 0}));
    EXPECT_EQ(std::count(row1 + 4, row1 + 64, 0), 60);
    const std::uint8_t* row2 = row1 + 64;
    EXPECT_EQ(std::vector<std::uint8_t>(row2, row2 + 9),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 50, 50, 0}));
}

TEST(Normalise, Rle8FullPictureLoads) {
    std::vector<std::uint8_t> coded;
    for (int row = 0; row < 64; ++row) {
        coded.insert(coded.end(), {64, static_cast<std::uint8_t>(row * 2), 0, 0});
    }
    coded.insert(coded.end(), {0, 1});
    const auto n = normalise(rleFile(coded));
    ASSERT_TRUE(n->geometry);
    ASSERT_EQ(n->file.size(), 64u * 64u + 1078u);
    const auto l = load(n->file);
    for (int row = 0; row < 64; ++row) ASSERT_EQ(l->access.at(63, 63 - row), row * 2);
}

TEST(Normalise, Rle8RunsPastTheRowOrPictureAreClipped) {
    std::vector<std::uint8_t> coded = {
        255, 1,  255, 2,  // 510 pixels on a 64-wide row: only the row's 64 are kept
        0,   0,           // next row
        0,   200};        // absolute run longer than a row
    for (int i = 0; i < 200; ++i) coded.push_back(3);
    coded.insert(coded.end(), {0, 0, 5, 4});  // row 2 starts with 5 x 4
    for (int i = 0; i < 300; ++i)
        coded.insert(coded.end(), {0, 2, 255, 255});    // deltas far past the end
    coded.insert(coded.end(), {255, 6, 0, 0, 255, 6});  // runs past the end
    const auto n = normalise(rleFile(coded));
    ASSERT_TRUE(n->geometry);
    ASSERT_EQ(n->file.size(), 64u * 64u + 1078u) << "nothing is written past the picture";
    const std::uint8_t* px = &n->file[1078];
    EXPECT_EQ(std::count(px, px + 64, 1), 64);
    EXPECT_EQ(std::count(px + 64, px + 128, 3), 64);
    EXPECT_EQ(std::count(px + 128, px + 133, 4), 5);
    EXPECT_EQ(std::count(px + 133, px + 64 * 64, 0), 64 * 64 - 133);
}

TEST(Normalise, Rle8TruncatedCommandsStopDecoding) {
    for (const std::vector<std::uint8_t>& coded : {std::vector<std::uint8_t>{3, 7, 0},
                                                   {3, 7, 0, 2, 5},
                                                   {3, 7, 0, 9, 1, 2, 3},
                                                   {3, 7, 0, 3, 1, 2, 3}}) {
        const auto n = normalise(rleFile(coded));
        ASSERT_TRUE(n->geometry);
        ASSERT_EQ(n->file.size(), 1078u + 64u);
        EXPECT_EQ(n->file[1078 + 2], 7);
    }
}

TEST(Normalise, RefusesHostileHeaders) {
    using core::kIconError;
    const char* format = "Not a bitmap file with correct format.";
    const auto good = testbmp::build(testbmp::greyBmp(64, 64));
    expectRefusal(std::vector<std::uint8_t>(good.begin(), good.begin() + 53), format, "Error",
                  kIconError);
    // Not "BM", or an info header size whose high bytes are set: the copy would not load.
    auto notBm = good;
    notBm[0] = 'X';
    expectRefusal(notBm, format, "Error", kIconError);
    auto bigHeader = good;
    image::storeU32(&bigHeader[14], 0x10028);
    expectRefusal(bigHeader, format, "Error", kIconError);
    // The palette is cut short.
    expectRefusal(std::vector<std::uint8_t>(good.begin(), good.begin() + 54 + 4 * 255), format,
                  "Error", kIconError);
    // Rows missing: the file ends one byte short of 64 full rows.
    expectRefusal(std::vector<std::uint8_t>(good.begin(), good.end() - 65), format, "Error",
                  kIconError);

}

// An RLE8 file of a few bytes can claim any size; the limits refuse it before anything is
// written, whatever the format of the rest.
TEST(Normalise, RefusesPicturesBeyondTheSizeLimits) {
    const char* tooLarge =
        "The picture is too large: at most 32768 pixels on a side and 1 GiB of pixels can be "
        "opened.";
    // RLE8 data of one run and an end of bitmap: not limited by the file's own size.
    const auto good = rleFile({64, 9, 0, 1});
    auto huge = [&](std::uint32_t w, std::uint32_t h) {
        auto b = good;
        image::storeU32(&b[18], w);
        image::storeU32(&b[22], h);
        return b;
    };
    for (const auto& [w, h] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {65532, 65535},       // the bomb: 2,112 bytes claiming 4.29 GB
             {0x7FFFFFFF, 64},     // more than 32 bits of normalised size
             {0x7FFFFFFD, 0x7FFFFFFF},
             {32769, 64},          // one pixel past the side limit
             {64, 32769},
             {32768, 32769}})
        expectRefusal(huge(w, h), tooLarge, "Error", core::kIconWarning);
    // The largest accepted: 32768 a side, exactly 1 GiB of pixels.
    const auto n = normalise(huge(32768, 32768));
    ASSERT_TRUE(n->geometry);
    EXPECT_EQ(n->geometry->paddedWidth, 32768);
    EXPECT_EQ(n->geometry->fileSize, (1u << 30) + 1078u);
    EXPECT_EQ(n->file.size(), 1078u + 32768u) << "one row decoded";
    // Japanese where the language asks for it.
    core::setJapaneseTexts(true);
    const auto ja = normalise(huge(65532, 65535));
    core::setJapaneseTexts(false);
    ASSERT_EQ(ja->sink.events.size(), 1u);
    EXPECT_EQ(ja->sink.events[0].text,
              "画像が大きすぎます。開けるのは一辺 32768 ピクセル、画素 1 GiB までの画像です。");
}

TEST(Normalise, PixelsAreReadFromBfOffBits) {
    // A gap of 16 bytes after the colour table: the rows start where bfOffBits says.
    const auto plain = testbmp::build(testbmp::greyBmp(64, 64));
    auto gap = plain;
    gap.insert(gap.begin() + 1078, 16, 0xAB);
    image::storeU32(&gap[2], static_cast<std::uint32_t>(gap.size()));
    image::storeU32(&gap[10], 1078 + 16);
    const auto fromPlain = normalise(plain);
    const auto fromGap = normalise(gap);
    ASSERT_TRUE(fromPlain->geometry);
    ASSERT_TRUE(fromGap->geometry);
    EXPECT_EQ(fromGap->file, fromPlain->file);

    // The same with a non-identity palette (the row-by-row path) and with RLE8 data.
    auto reversed = testbmp::greyBmp(64, 64);
    for (int i = 0; i < 256; ++i) reversed.palette[i] = static_cast<std::uint8_t>(255 - i);
    auto reversedGap = testbmp::build(reversed);
    reversedGap.insert(reversedGap.begin() + 1078, 16, 0xAB);
    image::storeU32(&reversedGap[10], 1078 + 16);
    EXPECT_EQ(normalise(reversedGap)->file, normalise(testbmp::build(reversed))->file);
    std::vector<std::uint8_t> coded;
    for (int row = 0; row < 64; ++row) coded.insert(coded.end(), {64, std::uint8_t(row), 0, 0});
    auto rle = rleFile(coded);
    auto rleGap = rle;
    rleGap.insert(rleGap.begin() + 1078, {0, 1, 0, 1});  // would end the bitmap at once
    image::storeU32(&rleGap[10], 1078 + 4);
    EXPECT_EQ(normalise(rleGap)->file, normalise(rle)->file);
}

TEST(Normalise, RefusesBfOffBitsOutsideTheFileOrInsideTheHeaders) {
    const char* format = "Not a bitmap file with correct format.";
    const auto good = testbmp::build(testbmp::greyBmp(64, 64));
    auto with = [&](std::uint32_t offBits, bool rle = false) {
        auto b = good;
        image::storeU32(&b[10], offBits);
        if (rle) image::storeU32(&b[30], 1);
        return b;
    };
    for (const bool rle : {false, true}) {
        expectRefusal(with(1000000, rle), format, "Error", core::kIconError);  // 10^6 on 5 KB
        expectRefusal(with(static_cast<std::uint32_t>(good.size()) + 1, rle), format, "Error",
                      core::kIconError);
        expectRefusal(with(0, rle), format, "Error", core::kIconError);
        expectRefusal(with(20, rle), format, "Error", core::kIconError);    // in the file header
        expectRefusal(with(54 + 4 * 100, rle), format, "Error", core::kIconError);  // in the table
        expectRefusal(with(1077, rle), format, "Error", core::kIconError);
    }
    // Uncompressed rows that would run past the end from where bfOffBits puts them.
    expectRefusal(with(1078 + 64), format, "Error", core::kIconError);
    // An RLE8 file whose data starts at its very end decodes nothing but is a bitmap.
    EXPECT_TRUE(normalise(with(static_cast<std::uint32_t>(good.size()), true))->geometry);
}

TEST(Normalise, LongerInformationHeadersReadLikeTheClassicOne) {
    auto b = testbmp::greyBmp(65, 64);
    b.palette[7] = 200;  // not an identity palette: the row-by-row path
    const auto classic = testbmp::build(b);
    const auto expected = normalise(classic);
    ASSERT_TRUE(expected->geometry);
    for (const std::uint32_t size : {108u, 124u}) {
        // The extra header bytes (masks, colour space) sit between the classic header and the
        // table; writers fill them with anything.
        auto longer = classic;
        longer.insert(longer.begin() + 54, size - 40, 0x5A);
        image::storeU32(&longer[2], static_cast<std::uint32_t>(longer.size()));
        image::storeU32(&longer[10], 1078 + size - 40);
        image::storeU32(&longer[14], size);
        const auto n = normalise(longer);
        ASSERT_TRUE(n->geometry) << size;
        EXPECT_EQ(n->file, expected->file) << size;
    }
    // The OS/2 form and other sizes stay refused.
    for (const std::uint32_t size : {12u, 16u, 52u, 56u, 64u, 125u}) {
        auto other = classic;
        image::storeU32(&other[14], size);
        expectRefusal(other, "Not a bitmap file with correct format.", "Error", core::kIconError);
    }
}

TEST(Normalise, HostileCompressionAndImageSizeAreNotCarriedOver) {
    auto bytes = testbmp::build(testbmp::greyBmp(64, 64));
    image::storeU32(&bytes[30], 0x300);  // low byte 0: uncompressed
    image::storeU32(&bytes[34], 0xFFFFFFFF);
    const auto n = normalise(bytes);
    ASSERT_TRUE(n->geometry);
    EXPECT_EQ(image::loadU32(&n->file[30]), 0u);
    EXPECT_EQ(image::loadU32(&n->file[34]), 64u * 64u);
}

TEST(Normalise, OversizedColourCountMeans256) {
    auto bytes = testbmp::build(testbmp::greyBmp(64, 64));
    image::storeU32(&bytes[46], 0xFFFFFFFF);
    const auto n = normalise(bytes);
    ASSERT_TRUE(n->geometry);
    EXPECT_EQ(n->file, [&] {
        auto expected = bytes;
        image::storeU32(&expected[34], 64 * 64);
        image::storeU32(&expected[46], 256);
        image::storeU32(&expected[50], 256);
        return expected;
    }());
}

class FailingSink final : public image::ByteSink {
  public:
    bool write(const std::uint8_t*, std::size_t n) override { return (written += n) < 2000; }
    std::size_t written = 0;
};

TEST(Normalise, WriteFailureEndsTheWaitStateBeforeTheMessage) {
    for (const auto& bytes : {testbmp::build(testbmp::greyBmp(128, 64)), [] {
                                  auto b = testbmp::greyBmp(128, 64);
                                  b.palette[0] = 1;
                                  return testbmp::build(b);
                              }()}) {
        RecordingSink sink;
        core::RecordingBusy busy(sink);
        std::optional<core::BusyScope> scope;
        FailingSink out;
        EXPECT_FALSE(image::normaliseGreyBytes(bytes, out, sink, busy, scope));
        EXPECT_FALSE(scope);
        ASSERT_EQ(sink.events.size(), 3u);
        EXPECT_EQ(sink.events[0].kind, RecordedEvent::BusyBegin);
        EXPECT_EQ(sink.events[1].kind, RecordedEvent::BusyEnd);
        EXPECT_EQ(sink.events[2].text, "Unable to create a temporary bitmap file.");
        EXPECT_EQ(sink.events[2].caption, "Open Error");
        EXPECT_EQ(sink.events[2].style, core::kIconError);
    }
}

// Files written by Pillow and ImageMagick decode to the grey levels Pillow reads from them.
class ForeignFiles : public testing::TestWithParam<const char*> {};

TEST_P(ForeignFiles, DecodeLikePillow) {
    const std::string stem = std::string(SUITE_TEST_DATA) + "/bmp/" + GetParam();
    const auto source = testbmp::readAll(stem + ".bmp");
    const auto expected = testbmp::readAll(stem + ".gray");
    ASSERT_FALSE(source.empty());
    const auto n = normalise(source);
    ASSERT_TRUE(n->geometry);
    const auto& g = *n->geometry;
    ASSERT_EQ(expected.size(),
              static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height));
    EXPECT_EQ(n->file.size(), g.fileSize);
    const auto l = load(n->file);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            ASSERT_EQ(l->access.at(x, y), expected[static_cast<std::size_t>(y) * g.width + x])
                << "at " << x << ", " << y;
}

INSTANTIATE_TEST_SUITE_P(Bmp, ForeignFiles,
                         testing::Values("pil_grey_64x64", "pil_grey_65x70", "pil_reversed_67x64",
                                         "pil_grey16_72x64", "im_rle8_80x64", "im_rle8_66x65",
                                         "im_v5_rle8_80x64", "im_v5_66x65", "v4_header_66x65",
                                         "gap16_64x64"));

TEST(ForeignFilesRefused, ColourAndTrueColourFiles) {
    const std::string dir = std::string(SUITE_TEST_DATA) + "/bmp/";
    expectRefusal(testbmp::readAll(dir + "pil_rgb24_64x64.bmp"), "Not a 256 color bitmap file.",
                  "Warning", core::kIconWarning);
    expectRefusal(testbmp::readAll(dir + "pil_colour_palette_64x64.bmp"),
                  "Not a gray-scale bitmap file.", "Warning", core::kIconWarning);
}

}  // namespace
