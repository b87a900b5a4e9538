#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/messages.h"
#include "cli/options.h"
#include "core/localized.h"

namespace {

struct Values {
    bool log = false;
    double wa = 0.5;
    int dark = 0, kind = -1;
    std::string path;
    std::vector<std::string> triple;
    int extras = 0;
};

std::vector<cli::Option> table(Values& v) {
    return {
        {"--log", "spectrum", 0, "", {}, cli::flag(v.log)},
        {"--wa", "filter", 1, "X", {}, cli::numberIn(0, 1, v.wa)},
        {"--dark", "filter spectrum", 1, "D", {}, cli::wholeIn(0, 100, v.dark)},
        {"--kind", "filter", 1, "a|b|c", {},
         cli::also(cli::oneOf({"a", "b", "c"}, v.kind), [&v] { ++v.extras; })},
        {"--special", "filter", 1, "FILE", {}, cli::text(v.path), "--special needs a file"},
        {"--uvw", "filter", 3, "U V W", {},
         [&v](const std::string&, const std::vector<std::string>& words) {
             v.triple = words;
             return std::string();
         }},
    };
}

// Takes everything that is not an option as a file, unless it begins with "--".
std::string parse(Values& v, const std::string& command, const std::vector<std::string>& args,
                  std::vector<std::string>& files) {
    const auto stray = [](const std::string& a, const std::vector<std::string>&) {
        return a.rfind("--", 0) == 0 ? "stray " + a : std::string();
    };
    return cli::parseOptions(table(v), command, args, files, stray);
}

TEST(OptionTable, TakesOptionsAndFilesInAnyOrder) {
    Values v;
    std::vector<std::string> files;
    EXPECT_EQ(parse(v, "filter",
                    {"in.bmp", "--wa", "0.25", "--kind", "c", "out.bmp", "--special", "p.ini",
                     "--uvw", "1", "-1", "0"},
                    files),
              "");
    EXPECT_EQ(files, (std::vector<std::string>{"in.bmp", "out.bmp"}));
    EXPECT_DOUBLE_EQ(v.wa, 0.25);
    EXPECT_EQ(v.kind, 2);
    EXPECT_EQ(v.extras, 1);
    EXPECT_EQ(v.path, "p.ini");
    // A word after an option is its value even when it looks like an option.
    EXPECT_EQ(v.triple, (std::vector<std::string>{"1", "-1", "0"}));
}

TEST(OptionTable, OptionsOfOtherCommandsGoToTheStrayRule) {
    Values v;
    std::vector<std::string> files;
    EXPECT_EQ(parse(v, "spectrum", {"--wa", "0.3"}, files), "stray --wa");
    EXPECT_EQ(parse(v, "spectrum", {"--lo"}, files), "stray --lo");   // no prefix matching
    EXPECT_EQ(parse(v, "spectru", {"--log"}, files), "stray --log");  // whole command names only
    EXPECT_FALSE(v.log);
    EXPECT_EQ(parse(v, "spectrum", {"--log", "--dark", "7"}, files), "");
    EXPECT_TRUE(v.log);
    EXPECT_EQ(v.dark, 7);
}

TEST(OptionTable, MissingWordsAreNamed) {
    Values v;
    std::vector<std::string> files;
    EXPECT_EQ(parse(v, "filter", {"--wa"}, files), "--wa needs a value");
    EXPECT_EQ(parse(v, "filter", {"--special"}, files), "--special needs a file");
    EXPECT_EQ(parse(v, "filter", {"--uvw", "1", "2"}, files), "--uvw needs a value");
    EXPECT_TRUE(v.triple.empty());
}

TEST(OptionTable, ValueHelpersNameTheRangeAndKeepTheOldValueOnRefusal) {
    Values v;
    std::vector<std::string> files;
    for (const char* bad : {"1.5", "-0.1", "nan", "inf", "0.3x", "", "--log"})
        EXPECT_EQ(parse(v, "filter", {"--wa", bad}, files),
                  std::string("--wa must be between 0 and 1 (given: ") + bad + ")")
            << bad;
    EXPECT_DOUBLE_EQ(v.wa, 0.5);
    EXPECT_EQ(parse(v, "filter", {"--wa", "1"}, files), "");
    EXPECT_DOUBLE_EQ(v.wa, 1.0);
    for (const char* bad : {"101", "-1", "2.5", "1e2", "99999999999999999999"})
        EXPECT_EQ(
            parse(v, "filter", {"--dark", bad}, files),
            std::string("--dark must be a whole number between 0 and 100 (given: ") + bad + ")")
            << bad;
    EXPECT_EQ(v.dark, 0);
    EXPECT_EQ(parse(v, "filter", {"--kind", "d"}, files), "--kind must be a, b or c");
    EXPECT_EQ(v.kind, -1);
}

TEST(OptionTable, RangesSpeakJapaneseWhenAsked) {
    Values v;
    std::vector<std::string> files;
    core::setJapaneseTexts(true);
    const std::string error = parse(v, "filter", {"--wa", "2"}, files);
    core::setJapaneseTexts(false);
    EXPECT_EQ(error, "--wa は 0 から 1 の範囲で指定してください（指定値: 2）");
}

TEST(OptionTable, StrayArgumentsAreUnknownMisplacedOrFiles) {
    Values v;
    const std::vector<cli::Option> options = table(v);
    EXPECT_EQ(cli::notAnOption(options, "spectrum", "--wa"),
              "option --wa does not apply to spectrum");
    EXPECT_EQ(cli::notAnOption(options, "spectrum", "--logscale"), "unknown option --logscale");
    EXPECT_EQ(cli::notAnOption(options, "spectrum", "-x"), "unknown option -x");
    EXPECT_EQ(cli::notAnOption(options, "spectrum", "--"), "unknown option --");
    EXPECT_EQ(cli::notAnOption(options, "spectrum", "-"), "");
    EXPECT_EQ(cli::notAnOption(options, "spectrum", "in.bmp"), "");
    // "*" reaches every command.
    bool quiet = false;
    std::vector<std::string> files;
    const std::vector<cli::Option> everywhere = {{"--quiet", "*", 0, "", {}, cli::flag(quiet)}};
    EXPECT_EQ(cli::parseOptions(everywhere, "layers", {"--quiet"}, files, nullptr), "");
    EXPECT_TRUE(quiet);
}

TEST(OptionTable, FillReplacesNumberedPlaces) {
    EXPECT_EQ(cli::fill({"%2 before %1, %3 stays", ""}, {"a", "b"}), "b before a, %3 stays");
    EXPECT_EQ(cli::fill({"100% sure: %1", ""}, {"x"}), "100% sure: x");
    EXPECT_EQ(cli::shown(0.5), "0.5");
    EXPECT_EQ(cli::shown(10000), "10000");
    EXPECT_EQ(cli::shown(-90), "-90");
}

TEST(OptionTable, ListsHoldWholeWords) {
    EXPECT_TRUE(cli::listHolds("spectrum filter linewave", "linewave"));
    EXPECT_FALSE(cli::listHolds("spectrum filter linewave", "line"));
    EXPECT_FALSE(cli::listHolds("spectrum filter", ""));
}

}  // namespace
