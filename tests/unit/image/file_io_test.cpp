#include "image/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bmp_builder.h"
#include "image/bmp_file.h"
#include "tests/doubles/recording.h"

namespace fs = std::filesystem;

namespace {

std::string text(const fs::path& p) {
    const auto bytes = testbmp::readAll(p.string());
    return std::string(bytes.begin(), bytes.end());
}

void put(const fs::path& p, const std::string& s) {
    testbmp::writeAll(p.string(), std::vector<std::uint8_t>(s.begin(), s.end()));
}

// Every name in the folder: a failed or finished write leaves no temporary file behind.
std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(ReplacingFile, ReplacesOnlyAfterACompleteWrite) {
    const auto dir = testbmp::scratchDir("replace_complete");
    const fs::path target = dir / "out.txt";
    put(target, "old contents");
    image::ReplacingFile file;
    ASSERT_TRUE(file.open(target.string()));
    ASSERT_TRUE(file.write(std::string_view("new")));
    EXPECT_EQ(text(target), "old contents") << "nothing changes before the commit";
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(text(target), "new");
    EXPECT_EQ(names(dir), std::vector<std::string>{"out.txt"});

    // Dropped without a commit: the old file stays, the temporary one goes.
    {
        image::ReplacingFile dropped;
        ASSERT_TRUE(dropped.open(target.string()));
        dropped.write(std::string_view("half"));
    }
    EXPECT_EQ(text(target), "new");
    EXPECT_EQ(names(dir), std::vector<std::string>{"out.txt"});
}

TEST(ReplacingFile, AWriteFailureKeepsTheOldFile) {
    const auto dir = testbmp::scratchDir("replace_full");
    const fs::path target = dir / "big.bin";
    const std::string old(100000, 'o');
    put(target, old);
    {
        testbmp::FileSizeLimit limit(64 * 1024);  // the disk is full after 64 KiB
        EXPECT_FALSE(image::replaceFileContents(target.string(), std::string(200000, 'n')));
    }
    EXPECT_EQ(text(target), old);
    EXPECT_EQ(names(dir), std::vector<std::string>{"big.bin"});
}

TEST(ReplacingFile, ALinkedTargetIsReplacedThroughTheLinkWithItsPermissions) {
    const auto dir = testbmp::scratchDir("replace_link");
    fs::create_directories(dir / "real");
    const fs::path real = dir / "real" / "data.txt";
    put(real, "old");
    ::chmod(real.c_str(), 0640);
    fs::create_symlink("real/data.txt", dir / "link.txt");
    ASSERT_TRUE(image::replaceFileContents((dir / "link.txt").string(), "new contents"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt")) << "the link stays a link";
    EXPECT_EQ(text(real), "new contents");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(names(dir / "real"), std::vector<std::string>{"data.txt"});

    // A link to a file that does not exist yet creates that file.
    fs::create_symlink("real/new.txt", dir / "dangling.txt");
    ASSERT_TRUE(image::replaceFileContents((dir / "dangling.txt").string(), "made"));
    EXPECT_EQ(text(dir / "real" / "new.txt"), "made");
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.txt"));
}

TEST(ReplacingFile, TargetsThatMayNotBeWrittenAreRefused) {
    if (::geteuid() == 0) GTEST_SKIP() << "root may write read-only files";
    const auto dir = testbmp::scratchDir("replace_readonly");
    const fs::path target = dir / "locked.txt";
    put(target, "keep");
    ::chmod(target.c_str(), 0444);
    image::ReplacingFile file;
    EXPECT_FALSE(file.open(target.string()));
    EXPECT_EQ(text(target), "keep");
}

TEST(ReplacingFile, AFolderIsNotReplaced) {
    const auto dir = testbmp::scratchDir("replace_folder");
    fs::create_directories(dir / "sub");
    image::ReplacingFile file;
    EXPECT_FALSE(file.open((dir / "sub").string()));
    EXPECT_FALSE(image::replaceFileContents((dir / "missing" / "x.txt").string(), "x"));
    EXPECT_TRUE(fs::is_directory(dir / "sub"));
}

// The k-th file of a set (appended piece by piece: GCC 12 warns falsely on "s" + std::string&&).
static fs::path member(const fs::path& dir, int k) {
    std::string name = "s";
    name += std::to_string(k);
    name += ".dat";
    return dir / name;
}

TEST(ReplacingSet, MovesAllIntoPlaceOrNone) {
    const auto dir = testbmp::scratchDir("replace_set");
    for (int k = 1; k <= 3; ++k) put(member(dir, k), "old");
    {
        image::ReplacingSet set;
        for (int k = 1; k <= 3; ++k) {
            auto* f = set.add((member(dir, k)).string());
            ASSERT_NE(f, nullptr);
            f->write(std::string_view("new"));
        }
        // The third file cannot be finished: the disk fills up.
        testbmp::FileSizeLimit limit(2);
        EXPECT_FALSE(set.commit());
    }
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(text(member(dir, k)), "old");
    EXPECT_EQ(names(dir).size(), 3u);

    image::ReplacingSet set;
    for (int k = 1; k <= 3; ++k)
        set.add((member(dir, k)).string())->write(std::string_view("new"));
    ASSERT_TRUE(set.commit());
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(text(member(dir, k)), "new");
    EXPECT_EQ(names(dir).size(), 3u);
}

TEST(ReplacingFile, BitmapWrittenOverItsOwnSourceKeepsItOnFailure) {
    const auto dir = testbmp::scratchDir("replace_bitmap");
    const fs::path path = dir / "b.bmp";
    const auto source = testbmp::build(testbmp::greyBmp(300, 300));
    testbmp::writeAll(path.string(), source);
    core::RecordingSink sink;
    image::CurrentImage img;
    ASSERT_TRUE(image::readBitmapFile(path.string(), img, image::BitmapFlavour::Voralin00, sink,
                                      {1024, 747}));
    for (const auto flavour : {image::BitmapFlavour::Voralin00, image::BitmapFlavour::Kestral}) {
        core::RecordingSink failed;
        {
            testbmp::FileSizeLimit limit(64 * 1024);
            EXPECT_FALSE(image::writeBitmapFile(path.string(), img, flavour, failed));
        }
        ASSERT_EQ(failed.events.size(), 1u);
        EXPECT_EQ(failed.events[0].text, flavour == image::BitmapFlavour::Kestral
                                             ? "Error: File write error."
                                             : "Unable to write to file.");
        EXPECT_EQ(testbmp::readAll(path.string()), source) << "the input is intact";
        EXPECT_EQ(names(dir), std::vector<std::string>{"b.bmp"});
    }
}

// Threads that register and unregister at once (calls of the Python module side by side) never
// take one slot twice: every file still registered is removed, none unregistered is.
TEST(Temporaries, ThreadsRegisteringAtOnceKeepEveryName) {
    const auto dir = testbmp::scratchDir("temporaries-threads");
    constexpr int kThreads = 8, kRounds = 20000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        put(dir / ("held" + std::to_string(t) + ".tmp"), "h");
        put(dir / ("gone" + std::to_string(t) + ".tmp"), "g");
        threads.emplace_back([&dir, t] {
            const std::string held = (dir / ("held" + std::to_string(t) + ".tmp")).string();
            const std::string gone = (dir / ("gone" + std::to_string(t) + ".tmp")).string();
            for (int r = 0; r < kRounds; ++r) {
                image::registerTemporary(held);
                image::registerTemporary(gone);
                image::unregisterTemporary(gone);
                image::unregisterTemporary(held);
            }
            image::registerTemporary(held);
        });
    }
    for (auto& t : threads) t.join();
    image::removeRegisteredTemporaries();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_FALSE(fs::exists(dir / ("held" + std::to_string(t) + ".tmp"))) << t;
        EXPECT_TRUE(fs::exists(dir / ("gone" + std::to_string(t) + ".tmp"))) << t;
    }
}

TEST(Temporaries, RegisteredFilesAreRemovedOnRequest) {
    const auto dir = testbmp::scratchDir("temporaries");
    put(dir / "a.tmp", "a");
    put(dir / "b.tmp", "b");
    put(dir / "keep.txt", "k");
    image::registerTemporary((dir / "a.tmp").string());
    image::registerTemporary((dir / "b.tmp").string());
    image::unregisterTemporary((dir / "b.tmp").string());
    {
        // A replacement in the making is registered until it is done.
        image::ReplacingFile file;
        ASSERT_TRUE(file.open((dir / "keep.txt").string()));
        file.write(std::string_view("new"));
        image::removeRegisteredTemporaries();
        EXPECT_FALSE(fs::exists(file.temporaryPath()));
    }
    EXPECT_FALSE(fs::exists(dir / "a.tmp"));
    EXPECT_TRUE(fs::exists(dir / "b.tmp"));
    EXPECT_EQ(text(dir / "keep.txt"), "k");
    image::removeRegisteredTemporaries();  // nothing left to remove
    EXPECT_TRUE(fs::exists(dir / "b.tmp"));
}
