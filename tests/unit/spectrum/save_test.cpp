#include "spectrum/engine/save.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "test_images.h"
#include "tests/doubles/recording.h"

namespace spectrum {
namespace {

namespace fs = std::filesystem;

struct SaveCommands : ::testing::Test {
    fs::path folder = fs::temp_directory_path() / ("save-test-" + std::to_string(::getpid()));
    testing::TestPicture picture =
        testing::makePicture(65, 64, [](int x, int y) { return (x * y) % 256; });
    SpectrumBuffers buffers = testing::makeBuffers(
        128, 31, 32, [](int r, int c) { return r + c / 1000.0; }, [](int, int) { return -2.5; });
    core::RecordingSink sink;
    core::FakeDisk disk;

    void SetUp() override { fs::create_directories(folder); }
    void TearDown() override { fs::remove_all(folder); }
    std::string path(const char* name) const { return (folder / name).string(); }
    static std::string contents(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void expectOnly(const char* text, const char* caption, unsigned style) {
        const auto m = sink.messages();
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].text, text);
        EXPECT_EQ(m[0].caption, caption);
        EXPECT_EQ(m[0].style, style);
    }
};

TEST_F(SaveCommands, BitmapIsTheCurrentPictureWithTheProgramHeader) {
    const std::string out = path("picture.BMP");
    ASSERT_TRUE(saveBitmapTo(out, picture.image, picture.geometry, sink, disk, true));
    const std::string bytes = contents(out);
    ASSERT_EQ(bytes.size(), picture.image.dib.block.size() + 14);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(image::loadU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 10), 1078u);
    EXPECT_EQ(bytes.substr(14),
              std::string(picture.image.dib.block.begin(), picture.image.dib.block.end()));
    expectOnly(("A bitmap file\n" + out + "\nhas been successfully saved.").c_str(), "Information",
               core::kIconInformation);
}

TEST_F(SaveCommands, BitmapRefusalsComeInTheirOrder) {
    disk.fixed = false;
    ASSERT_FALSE(saveBitmapTo(path("a.txt"), picture.image, picture.geometry, sink, disk, true));
    expectOnly("Able to save the file only to the hard disk.", "Warning", core::kIconWarning);

    sink.events.clear();
    disk.fixed = true;
    disk.freeBytes = picture.geometry.fileSize + 999;  // the margin is 1000 bytes
    ASSERT_FALSE(saveBitmapTo(path("a.txt"), picture.image, picture.geometry, sink, disk, true));
    expectOnly("Not enough free diskspace to save a bitmap file.", "Warning", core::kIconError);

    sink.events.clear();
    disk.freeBytes = picture.geometry.fileSize + 1000;
    ASSERT_FALSE(saveBitmapTo(path("a.bmpx"), picture.image, picture.geometry, sink, disk, true));
    expectOnly("Assign a file with BMP extension.", "Error", core::kIconWarning);
    EXPECT_FALSE(fs::exists(path("a.bmpx")));
}

TEST_F(SaveCommands, ExistingFilesAreOverwrittenOnlyWhenTheUserSaysYes) {
    const std::string out = path("kept.bmp");
    std::ofstream(out) << "precious";
    sink.questionAnswer = core::kAnswerNo;
    ASSERT_FALSE(saveBitmapTo(out, picture.image, picture.geometry, sink, disk, true));
    expectOnly("File already exists.  Do you overwrite it ?", "Warning",
               core::kIconWarning | core::kYesNo);
    EXPECT_EQ(contents(out), "precious");

    sink.events.clear();
    ASSERT_FALSE(saveFftDataTo(path("kept.bmp"), buffers, picture.geometry, 0, sink, disk, true));
    EXPECT_EQ(contents(out), "precious");

    sink.events.clear();
    sink.questionAnswer = core::kAnswerYes;
    ASSERT_TRUE(saveBitmapTo(out, picture.image, picture.geometry, sink, disk, true));
    EXPECT_NE(contents(out), "precious");
}

TEST_F(SaveCommands, FftDataFileAndItsRefusals) {
    const std::string out = path("line.TXT");  // any letter case
    ASSERT_TRUE(saveFftDataTo(out, buffers, picture.geometry, 0, sink, disk, true));
    const std::string text = contents(out);
    // Width 65: the first sample falls half-way between pixels 0 and 1 and takes 1.
    EXPECT_EQ(text.rfind("Line wave data\r\nAngle : 0.00  \r\nFFT size : 65W x 64H\r\n", 0), 0u);
    EXPECT_NE(text.find("\r\n 1\t32\t  6.4032000e+01\t -2.5000000e+00\t  6.4080785e+01\r\n"),
              std::string::npos);
    expectOnly(("Line wave data file\n" + out + "\nhas been successfully saved.").c_str(),
               "Information", core::kIconInformation);

    sink.events.clear();
    ASSERT_FALSE(saveFftDataTo(path("line.text"), buffers, picture.geometry, 0, sink, disk, true));
    expectOnly("Assign a file with TXT extension.", "Error", core::kIconWarning);

    sink.events.clear();
    disk.fixed = false;  // the drive is checked before the extension
    ASSERT_FALSE(saveFftDataTo(path("line.text"), buffers, picture.geometry, 0, sink, disk, true));
    expectOnly("Able to save the file only to the hard disk.", "Warning", core::kIconWarning);

    sink.events.clear();
    disk.fixed = true;
    ASSERT_FALSE(saveFftDataTo(path("no/such/folder/line.txt"), buffers, picture.geometry, 0, sink,
                               disk, true));
    expectOnly("Unable to create a data file.", "Open Error", core::kIconError);
}

}  // namespace
}  // namespace spectrum
