#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/file_names.h"

namespace {

namespace fs = std::filesystem;

// Names of one call in a scratch folder: which pairs would give the same file.
class OutputNames : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("output-names-" + std::string(::testing::UnitTest::GetInstance()
                                                   ->current_test_info()
                                                   ->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "real");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string at(const std::string& name) const { return (dir_ / name).string(); }
    void touch(const std::string& name) const { std::ofstream(dir_ / name) << "x"; }

    static cli::OutputName plain(const std::string& path) { return {"--a", path}; }
    static cli::OutputName numbered(const std::string& path, bool alsoPlain = false) {
        return {"--n", path, alsoPlain, true};
    }

    fs::path dir_;
};

TEST_F(OutputNames, NumberedNamesMeetOnlyWhereTheToolWritesThem) {
    const std::vector<std::string> none;
    const auto clash = [&](const cli::OutputName& a, const cli::OutputName& b) {
        return cli::findClash(none, {a, b}).has_value();
    };
    // STEM + number (no leading zero) + the extension of the name given.
    EXPECT_TRUE(clash(numbered(at("s.dat")), plain(at("s12.dat"))));
    EXPECT_FALSE(clash(numbered(at("s.dat")), plain(at("s01.dat"))));
    EXPECT_FALSE(clash(numbered(at("s.dat")), plain(at("s.dat"))));  // only numbered
    EXPECT_TRUE(clash(numbered(at("p.bmp"), true), plain(at("p.bmp"))));  // pages: both
    EXPECT_FALSE(clash(numbered(at("s.dat")), plain(at("s1.txt"))));
    EXPECT_FALSE(clash(numbered(at("s.dat")), plain(at("real/s1.dat"))));
    // Two numbered sets: "s" and "s1" both write s11.dat; "s" and "s0" never meet.
    EXPECT_TRUE(clash(numbered(at("s.dat")), numbered(at("s1.dat"))));
    EXPECT_FALSE(clash(numbered(at("s.dat")), numbered(at("s0.dat"))));
    EXPECT_FALSE(clash(numbered(at("s.dat")), numbered(at("s.xyz"))));
}

TEST_F(OutputNames, LinksAreResolvedBeforeComparing) {
    touch("real/s3.dat");
    touch("real/in.bmp");
    fs::create_directory_symlink(dir_ / "real", dir_ / "link");
    fs::create_hard_link(dir_ / "real/in.bmp", dir_ / "hard.bmp");
    // A numbered set in a linked folder writes into the real one.
    const auto found = cli::findClash({at("real/s3.dat")}, {numbered(at("link/s.dat"))});
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->withInput);
    // A hard link of an input is the input; and an input hard-linked to a numbered name is
    // written over by that set.
    EXPECT_TRUE(cli::findClash({at("real/in.bmp")}, {plain(at("hard.bmp"))}).has_value());
    fs::create_hard_link(dir_ / "real/in.bmp", dir_ / "real/t7.bmp");
    EXPECT_TRUE(cli::findClash({at("hard.bmp")}, {numbered(at("real/t.bmp"))}).has_value());
    EXPECT_FALSE(cli::findClash({at("hard.bmp")}, {numbered(at("real/u.bmp"))}).has_value());
    // The messages name the options and the file.
    const std::vector<std::string> inputs = {at("real/in.bmp")};
    const std::vector<cli::OutputName> outputs = {plain(at("o.bmp")),
                                                  {"--difference", at("link/../o.bmp")}};
    const auto twice = cli::findClash(inputs, outputs);
    ASSERT_TRUE(twice.has_value());
    EXPECT_FALSE(twice->withInput);
    EXPECT_EQ(cli::clashMessage(inputs, outputs, *twice)
                  .rfind("--a and --difference name the same file", 0),
              0u);
}

}  // namespace
