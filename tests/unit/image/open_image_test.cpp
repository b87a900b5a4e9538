#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "bmp_builder.h"
#include "core/busy.h"
#include "core/disk.h"
#include "core/message_sink.h"
#include "image/normalise.h"
#include "image/open_image.h"
#include "tests/doubles/recording.h"

using core::RecordedEvent;
using core::RecordingSink;
using image::CurrentImage;
using image::OpenResult;

namespace {

namespace fs = std::filesystem;

struct OpenRun {
    RecordingSink sink;
    core::FakeDisk disk;
    CurrentImage image;
    int forgets = 0;
    image::OpenOutcome outcome;

    OpenRun() {
        image.dib.block.assign(100, 0x55);  // the previous picture
    }
    void open(const std::string& path) {
        core::RecordingBusy busy(sink);
        outcome = image::openImageFile(path, image, sink, busy, disk, {1024, 747}, [&] {
            ++forgets;
            sink.events.push_back({RecordedEvent::Message, "forget", "", 0});
        });
    }
    void expectRefused(const char* text, const char* caption, unsigned style) {
        EXPECT_EQ(outcome.result, OpenResult::Refused);
        EXPECT_EQ(forgets, 0);
        EXPECT_EQ(image.dib.block, std::vector<std::uint8_t>(100, 0x55)) << "previous picture kept";
        const auto m = sink.messages();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].text, text);
        EXPECT_EQ(m[0].caption, caption);
        EXPECT_EQ(m[0].style, style);
    }
};

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(OpenImage, LoadsTheNormalisedPictureAndRemovesTheTemporaryFile) {
    const auto dir = testbmp::scratchDir("open_ok");
    auto b = testbmp::greyBmp(2000, 64);
    b.palette[1] = 2;
    const std::string path = (dir / "cell.BMP").string();
    testbmp::writeAll(path, testbmp::build(b));
    OpenRun run;
    run.open(path);
    ASSERT_EQ(run.outcome.result, OpenResult::Opened);
    EXPECT_EQ(run.forgets, 1);
    EXPECT_EQ(run.outcome.geometry.width, 2000);
    EXPECT_EQ(run.outcome.geometry.paddedWidth, 2000);
    EXPECT_EQ(run.outcome.geometry.fileSize, 2000u * 64u + 1078u);
    EXPECT_EQ(run.image.dib.block.size(), 2000u * 64u + 1078u - 14u);
    EXPECT_EQ(run.image.viewReduction, 2);
    EXPECT_EQ(run.image.fileHeader.bfOffBits, 1078u);
    EXPECT_EQ(run.image.dib.block[1064 + 1], 2) << "pixel index 1 became grey 2";
    EXPECT_EQ(filesIn(dir), std::vector<fs::path>{"cell.BMP"});
    // Order: the wait state began, the caller forgot its work, then the wait state ended.
    ASSERT_EQ(run.sink.events.size(), 3u);
    EXPECT_EQ(run.sink.events[0].kind, RecordedEvent::BusyBegin);
    EXPECT_EQ(run.sink.events[1].text, "forget");
    EXPECT_EQ(run.sink.events[2].kind, RecordedEvent::BusyEnd);
}

TEST(OpenImage, ExtensionMustBeBmpInAnyCase) {
    EXPECT_TRUE(image::hasBmpExtension("photo.BMP"));
    EXPECT_TRUE(image::hasBmpExtension("D:\\img\\cell.bMp"));
    EXPECT_FALSE(image::hasBmpExtension("photo.bmpx"));
    EXPECT_FALSE(image::hasBmpExtension("photo"));
    EXPECT_FALSE(image::hasBmpExtension("bmp"));
    for (const char* name : {"photo.bmpx", "photo", ""}) {
        OpenRun run;
        run.open(name);
        run.expectRefused("Select a file with BMP extension.", "Error", core::kIconWarning);
    }
}

TEST(OpenImage, RefusesMissingFilesAndOtherHeaders) {
    const auto dir = testbmp::scratchDir("open_refused");
    {
        OpenRun run;
        run.open((dir / "missing.bmp").string());
        run.expectRefused("Unable to open the bitmap file.", "Open Error", core::kIconError);
    }
    auto os2 = testbmp::greyBmp(64, 64);
    os2.infoSize = 12;
    auto notBm = testbmp::build(testbmp::greyBmp(64, 64));
    notBm[1] = 'A';
    const auto good = testbmp::build(testbmp::greyBmp(64, 64));
    for (const auto& bytes :
         {testbmp::build(os2), notBm, std::vector<std::uint8_t>(good.begin(), good.begin() + 14)}) {
        const std::string path = (dir / "x.bmp").string();
        testbmp::writeAll(path, bytes);
        OpenRun run;
        run.open(path);
        run.expectRefused("Not a bitmap file with correct format.", "Error", core::kIconError);
        EXPECT_EQ(filesIn(dir), std::vector<fs::path>{"x.bmp"}) << "no temporary file left";
    }
    // A refusal of the normaliser itself leaves everything as it was too.
    const std::string path = (dir / "small.bmp").string();
    testbmp::writeAll(path, testbmp::build(testbmp::greyBmp(63, 64)));
    OpenRun run;
    run.open(path);
    run.expectRefused("Too small bitmap (less than 64W or 64H)!", "Error", core::kIconWarning);
    EXPECT_EQ(run.sink.events.size(), 1u) << "no wait state for a refused file";
}

TEST(OpenImage, NeedsTwiceTheFileSizePlusTheMarginFree) {
    const auto dir = testbmp::scratchDir("open_disk");
    const std::string path = (dir / "cell.bmp").string();
    const auto bytes = testbmp::build(testbmp::greyBmp(64, 64));
    testbmp::writeAll(path, bytes);
    {
        OpenRun run;
        run.disk.freeBytes = 2 * bytes.size() + 999;
        run.open(path);
        run.expectRefused("Not enough free diskspace to create a temporary bitmap file.", "Error",
                          core::kIconError);
    }
    OpenRun run;
    run.disk.freeBytes = 2 * bytes.size() + 1000;
    run.open(path);
    EXPECT_EQ(run.outcome.result, OpenResult::Opened);
}

TEST(OpenImage, RleSourceNeedsRoomForItsExpandedSize) {
    const auto dir = testbmp::scratchDir("open_disk_rle");
    const std::string path = (dir / "wide.bmp").string();
    testbmp::Bmp b;
    b.width = 4000;
    b.height = 4000;
    b.compression = 1;
    b.palette = testbmp::identityPalette();
    b.pixels = {0, 1};
    const auto bytes = testbmp::build(b);
    testbmp::writeAll(path, bytes);
    OpenRun run;
    run.disk.freeBytes = 4000u * 4000u + 1078u + 999u;
    run.open(path);
    run.expectRefused("Not enough free diskspace to create a temporary bitmap file.", "Error",
                      core::kIconError);
}

TEST(OpenImage, TemporaryFileNeverReplacesAUserFile) {
    EXPECT_EQ(image::temporaryBitmapName("D:\\img\\cell.bmp", 1), "D:\\img\\cellB_1.bmp");
    EXPECT_EQ(image::temporaryBitmapName("/img/cell.BMP", 3), "/img/cellB_3.bmp");

    const auto dir = testbmp::scratchDir("open_temp_name");
    const std::string path = (dir / "cell.bmp").string();
    testbmp::writeAll(path, testbmp::build(testbmp::greyBmp(64, 64)));
    const std::vector<std::uint8_t> mine = {'m', 'i', 'n', 'e'};
    testbmp::writeAll((dir / "cellB_1.bmp").string(), mine);
    testbmp::writeAll((dir / "cellB_2.bmp").string(), mine);

    RecordingSink sink;
    core::FakeDisk disk;
    core::RecordingBusy busy(sink);
    std::optional<core::BusyScope> scope;
    const auto done = image::normaliseGreyBitmap(path, sink, busy, disk, scope);
    ASSERT_TRUE(done);
    EXPECT_EQ(done->tempPath, (dir / "cellB_3.bmp").string());
    EXPECT_EQ(fs::file_size(done->tempPath), 64u * 64u + 1078u);
    EXPECT_EQ(testbmp::readAll((dir / "cellB_1.bmp").string()), mine);
    EXPECT_EQ(testbmp::readAll((dir / "cellB_2.bmp").string()), mine);
    fs::remove(done->tempPath);

    // The whole Open removes only its own file.
    OpenRun run;
    run.open(path);
    EXPECT_EQ(run.outcome.result, OpenResult::Opened);
    EXPECT_EQ(filesIn(dir), (std::vector<fs::path>{"cell.bmp", "cellB_1.bmp", "cellB_2.bmp"}));
}

// Points the system's temporary folder at a folder of the test while it lives.
class TemporaryFolder {
  public:
    explicit TemporaryFolder(const fs::path& dir) {
        if (const char* old = std::getenv("TMPDIR")) saved_ = old;
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~TemporaryFolder() {
        if (saved_) ::setenv("TMPDIR", saved_->c_str(), 1);
        else ::unsetenv("TMPDIR");
    }

  private:
    std::optional<std::string> saved_;
};

TEST(OpenImage, AllTemporaryNamesTakenIsReported) {
    const auto dir = testbmp::scratchDir("open_temp_taken");
    const auto temp = testbmp::scratchDir("open_temp_taken_system");
    TemporaryFolder redirect(temp);
    const std::string path = (dir / "cell.bmp").string();
    testbmp::writeAll(path, testbmp::build(testbmp::greyBmp(64, 64)));
    for (int i = 1; i <= 99; ++i) {
        testbmp::writeAll(image::temporaryBitmapName(path, i), {'x'});
        testbmp::writeAll(image::temporaryBitmapName((temp / "cell.bmp").string(), i), {'y'});
    }
    OpenRun run;
    run.open(path);
    run.expectRefused("Unable to create a temporary bitmap file.", "Open Error", core::kIconError);
    EXPECT_EQ(filesIn(dir).size(), 100u);
    EXPECT_EQ(filesIn(temp).size(), 99u);
    EXPECT_EQ(fs::file_size(image::temporaryBitmapName(path, 99)), 1u);

    // With the system's folder free, the picture opens from there; nothing is left anywhere.
    fs::remove_all(temp);
    fs::create_directories(temp);
    OpenRun second;
    second.open(path);
    EXPECT_EQ(second.outcome.result, OpenResult::Opened);
    EXPECT_EQ(filesIn(dir).size(), 100u);
    EXPECT_TRUE(filesIn(temp).empty());
}

// A disk whose free space depends on the folder: the image's own folder is full (or read-only,
// where the free space shows as 0), the system's temporary folder has room.
class FolderDisk final : public core::DiskServices {
  public:
    explicit FolderDisk(fs::path full) : full_(std::move(full)) {}
    bool hasFreeDiskSpace(const std::string& path, std::uint64_t) override {
        asked.push_back(fs::path(path).parent_path());
        return fs::path(path).parent_path() != full_;
    }
    bool isFixedDrive(const std::string&) override { return true; }
    std::vector<fs::path> asked;

  private:
    fs::path full_;
};

TEST(OpenImage, AFolderThatCannotTakeTheTemporaryFileFallsBackToTheSystemFolder) {
    const auto dir = testbmp::scratchDir("open_fallback");
    const auto temp = testbmp::scratchDir("open_fallback_system");
    TemporaryFolder redirect(temp);
    const std::string path = (dir / "cell.bmp").string();
    testbmp::writeAll(path, testbmp::build(testbmp::greyBmp(64, 64)));
    RecordingSink sink;
    core::RecordingBusy busy(sink);
    FolderDisk disk(dir);
    CurrentImage image;
    const auto outcome = image::openImageFile(path, image, sink, busy, disk, {1024, 747}, {});
    EXPECT_EQ(outcome.result, OpenResult::Opened);
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_EQ(filesIn(dir), std::vector<fs::path>{"cell.bmp"});
    EXPECT_TRUE(filesIn(temp).empty()) << "the temporary file is removed after loading";
    // Free space was asked for the folder the file went to, not only for the image's.
    EXPECT_NE(std::find(disk.asked.begin(), disk.asked.end(), temp), disk.asked.end());
    EXPECT_NE(std::find(disk.asked.begin(), disk.asked.end(), dir), disk.asked.end());

    // Neither folder has room: the old refusal.
    RecordingSink refusedSink;
    core::RecordingBusy refusedBusy(refusedSink);
    core::FakeDisk full;
    full.freeBytes = 0;
    CurrentImage untouched;
    EXPECT_EQ(image::openImageFile(path, untouched, refusedSink, refusedBusy, full, {1024, 747}, {})
                  .result,
              OpenResult::Refused);
    ASSERT_EQ(refusedSink.messages().size(), 1u);
    EXPECT_EQ(refusedSink.messages()[0].text,
              "Not enough free diskspace to create a temporary bitmap file.");
}

TEST(OpenImage, FailedTemporaryWriteEndsTheWaitStateFirstAndLeavesNoFile) {
    const auto dir = testbmp::scratchDir("open_temp_full");
    const std::string path = (dir / "cell.bmp").string();
    const auto bytes = testbmp::build(testbmp::greyBmp(256, 256));
    testbmp::writeAll(path, bytes);
    OpenRun run;
    {
        testbmp::FileSizeLimit limit(bytes.size() / 2);
        run.open(path);
    }
    EXPECT_EQ(run.outcome.result, OpenResult::Refused);
    EXPECT_EQ(run.forgets, 0);
    EXPECT_EQ(filesIn(dir), std::vector<fs::path>{"cell.bmp"});
    ASSERT_EQ(run.sink.events.size(), 3u);
    EXPECT_EQ(run.sink.events[0].kind, RecordedEvent::BusyBegin);
    EXPECT_EQ(run.sink.events[1].kind, RecordedEvent::BusyEnd);
    EXPECT_EQ(run.sink.events[2].text, "Unable to create a temporary bitmap file.");
    EXPECT_EQ(run.sink.events[2].caption, "Open Error");
}

TEST(OpenImage, ShortRleFileFailsToLoadAfterForgetting) {
    // Decoded rows fewer than the height: the temporary file is shorter than its bfSize.
    const auto dir = testbmp::scratchDir("open_short_rle");
    const std::string path = (dir / "cell.bmp").string();
    testbmp::Bmp b;
    b.compression = 1;
    b.palette = testbmp::identityPalette();
    b.pixels = {64, 9, 0, 0, 0, 1};
    testbmp::writeAll(path, testbmp::build(b));
    OpenRun run;
    run.open(path);
    EXPECT_EQ(run.outcome.result, OpenResult::LoadFailed);
    EXPECT_EQ(run.forgets, 1);
    EXPECT_FALSE(run.image.present());
    const auto m = run.sink.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[1].text, "Unable to read bitmap info header.");
    EXPECT_EQ(m[1].caption, "Read Error");
    EXPECT_EQ(filesIn(dir), std::vector<fs::path>{"cell.bmp"});
}

TEST(DescribeBitmap, DescribesSizeColoursAndCoding) {
    const auto dir = testbmp::scratchDir("describe");
    const std::string plain = (dir / "cell.bmp").string();
    testbmp::writeAll(plain, testbmp::build(testbmp::greyBmp(512, 480)));
    EXPECT_EQ(image::describeBitmapFile(plain), "512(W) x 480(H) x 256(Colors) RGB (246838 Bytes)");

    auto rle = testbmp::greyBmp(70, 66);
    rle.compression = 1;
    rle.pixels = {0, 1};
    const std::string rlePath = (dir / "rle.BMP").string();
    testbmp::writeAll(rlePath, testbmp::build(rle));
    EXPECT_EQ(image::describeBitmapFile(rlePath), "70(W) x 66(H) x 256(Colors) RLE (1080 Bytes)");

    const std::string data = std::string(SUITE_TEST_DATA) + "/bmp/";
    EXPECT_EQ(image::describeBitmapFile(data + "pil_rgb24_64x64.bmp"),
              "64(W) x 64(H) x 16M(Colors) RGB (12342 Bytes)");

    auto odd = testbmp::greyBmp(64, 64);
    odd.bitCount = 16;
    odd.pixels.clear();
    auto oddBytes = testbmp::build(odd);
    image::storeU32(&oddBytes[22], static_cast<std::uint32_t>(-64));
    const std::string oddPath = (dir / "odd.bmp").string();
    testbmp::writeAll(oddPath, oddBytes);
    EXPECT_EQ(image::describeBitmapFile(oddPath), "64(W) x -64(H) x (Colors) RGB (1078 Bytes)");
}

TEST(DescribeBitmap, NoTextForOtherFiles) {
    const auto dir = testbmp::scratchDir("describe_none");
    const auto good = testbmp::build(testbmp::greyBmp(64, 64));
    testbmp::writeAll((dir / "a.txt").string(), good);
    EXPECT_FALSE(image::describeBitmapFile((dir / "a.txt").string()));
    EXPECT_FALSE(image::describeBitmapFile(".bmp"));
    EXPECT_FALSE(image::describeBitmapFile((dir / "missing.bmp").string()));
    auto os2 = good;
    os2[14] = 12;
    testbmp::writeAll((dir / "os2.bmp").string(), os2);
    EXPECT_FALSE(image::describeBitmapFile((dir / "os2.bmp").string()));
    testbmp::writeAll((dir / "short.bmp").string(),
                      std::vector<std::uint8_t>(good.begin(), good.begin() + 20));
    EXPECT_FALSE(image::describeBitmapFile((dir / "short.bmp").string()));
}

}  // namespace

// A microscope image opens in memory: no file is written beside it, even where one could be,
// and the picture is the normalised one the bitmap reader would load from its file.
TEST(OpenMicroscopeImage, OpensInMemoryWithoutWritingAFile) {
    const auto dir = testbmp::scratchDir("open_tiff");
    const fs::path path = dir / "scan.TIF";
    fs::copy_file(fs::path(SUITE_TEST_DATA) / "tiff" / "bigendian_u16.tif", path);
    OpenRun run;
    run.open(path.string());
    ASSERT_EQ(run.outcome.result, OpenResult::Opened);
    EXPECT_EQ(run.forgets, 1);
    EXPECT_EQ(filesIn(dir), std::vector<fs::path>{"scan.TIF"});
    // 128 x 96 (tifffile's shape), rows already a multiple of 4.
    EXPECT_EQ(run.outcome.geometry.width, 128);
    EXPECT_EQ(run.outcome.geometry.height, 96);
    EXPECT_EQ(run.outcome.geometry.paddedWidth, 128);
    EXPECT_EQ(run.outcome.geometry.fileSize, 128u * 96u + 1078u);
    ASSERT_TRUE(run.outcome.source);
    EXPECT_TRUE(run.outcome.source->samples.empty()) << "the samples are not held twice";
    ASSERT_TRUE(run.outcome.precise);
    EXPECT_EQ(run.image.viewReduction, 1);
    EXPECT_EQ(run.image.fileHeader.bfType, 0x4D42);
    EXPECT_EQ(run.image.fileHeader.bfSize, 128u * 96u + 1078u);
    EXPECT_EQ(run.image.fileHeader.bfOffBits, 1078u);
    // Order: the wait state began, the caller forgot its work, then the wait state ended.
    ASSERT_EQ(run.sink.events.size(), 3u);
    EXPECT_EQ(run.sink.events[0].kind, RecordedEvent::BusyBegin);
    EXPECT_EQ(run.sink.events[1].text, "forget");
    EXPECT_EQ(run.sink.events[2].kind, RecordedEvent::BusyEnd);

    // The same file through the bitmap reader gives the same picture, header fields included
    // (the reader completes biClrUsed and biSizeImage where they are missing).
    core::RecordingSink quiet;
    const auto imported = image::importImageFile(path.string(), image::ImageFormat::Tiff, quiet);
    ASSERT_TRUE(imported);
    CurrentImage loaded;
    ASSERT_TRUE(image::readBitmapBytes(image::normalisedBitmapOf(*imported), loaded,
                                       image::BitmapFlavour::Voralin00, quiet, {1024, 747}));
    EXPECT_EQ(run.image.dib.block, loaded.dib.block);
    EXPECT_EQ(run.image.fileHeader.bfSize, loaded.fileHeader.bfSize);
}

TEST(OpenMicroscopeImage, RefusedImportKeepsThePreviousPicture) {
    const auto dir = testbmp::scratchDir("open_tiff_short");
    const fs::path path = dir / "scan.tif";
    std::vector<std::uint8_t> bytes = testbmp::readAll(
        (fs::path(SUITE_TEST_DATA) / "tiff" / "bigendian_u16.tif").string());
    bytes.resize(bytes.size() / 2);
    testbmp::writeAll(path.string(), bytes);
    OpenRun run;
    run.open(path.string());
    EXPECT_EQ(run.outcome.result, OpenResult::Refused);
    EXPECT_EQ(run.forgets, 0);
    EXPECT_EQ(run.image.dib.block, std::vector<std::uint8_t>(100, 0x55));
    ASSERT_EQ(run.sink.messages().size(), 1u);
    EXPECT_EQ(filesIn(dir), std::vector<fs::path>{"scan.tif"});
}

TEST(OpenImage, FormatIsTakenFromTheExtensionOnce) {
    // A bitmap named as a TIFF is read as a TIFF, and refused as one: no second look at the name.
    const auto dir = testbmp::scratchDir("open_misnamed");
    const std::string path = (dir / "cell.tif").string();
    testbmp::writeAll(path, testbmp::build(testbmp::greyBmp(64, 64)));
    OpenRun run;
    run.open(path);
    EXPECT_EQ(run.outcome.result, OpenResult::Refused);
    ASSERT_EQ(run.sink.messages().size(), 1u);
    EXPECT_EQ(run.sink.messages()[0].caption, "Error");
    EXPECT_NE(run.sink.messages()[0].text, "Not a bitmap file with correct format.");
    EXPECT_EQ(filesIn(dir), std::vector<fs::path>{"cell.tif"});
}
