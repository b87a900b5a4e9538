#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cli/kestral_tool.h"
#include "cli/options.h"
#include "cli/tool.h"
#include "cli/voralin00_tool.h"
#include "core/localized.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        lines.push_back(text.substr(from, end - from));
    if (from < text.size()) lines.push_back(text.substr(from));
    return lines;
}

// Terminal columns of UTF-8 text, counted here by code point ranges of the CJK blocks used.
std::size_t columns(const std::string& line) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < line.size();) {
        const auto c = static_cast<unsigned char>(line[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        // Every three-byte character in these texts (kana, kanji, full-width punctuation) is
        // wide; "×" and "Å" are two bytes and narrow.
        n += length == 3 ? 2 : 1;
        i += length;
    }
    return n;
}

// A small tool whose commands record how they were called.
struct Recorder {
    std::string command;
    std::vector<std::string> args;
    int calls = 0;
};

cli::Tool smallTool(Recorder& r) {
    const cli::Run run = [&r](const std::string& command, const std::vector<std::string>& args) {
        r.command = command;
        r.args = args;
        ++r.calls;
        return 7;
    };
    return {"tool",
            "3.1",
            {{"make",
              1,
              {{"IN [options]\n[options] --out-dir DIR IN...", "入力 [オプション]"},
               {"make a thing", "ものを作る"},
               {"Makes a thing.", "ものを作ります。"},
               "tool make a.txt\ntool make b.txt --fast"},
              run},
             {"list",
              0,
              {{"[options]", "[オプション]"},
               {"list the things", "一覧にする"},
               {"Lists.", "一覧にします。"},
               "tool list"},
              run}},
            [] {
                return std::vector<cli::OptionInfo>{
                    {"--fast", "make", "", 0, {"go fast", "速く"}},
                    {"--size", "make list", "N", 1, {"the size", "大きさ"}},
                    {"--quiet", "*", "", 0, {"no messages", "メッセージなし"}},
                    {"--only-list", "list", "", 0, {"list only", "一覧のみ"}}};
            },
            {"A tool that makes things.", "ものを作る道具です。"},
            {"Exit status 0 on success.\n", "成功で 0 を返します。\n"}};
}

struct Outcome {
    int status;
    std::string out, err;
};

Outcome runCaptured(const cli::Tool& tool, const std::vector<std::string>& args) {
    CaptureStdout();
    CaptureStderr();
    const int status = cli::runTool(tool, args);
    return {status, GetCapturedStdout(), GetCapturedStderr()};
}

TEST(ToolRunner, HelpVersionAndLookupBeforeTheCommandRuns) {
    Recorder r;
    const cli::Tool tool = smallTool(r);
    const std::string general = cli::generalUsage(tool);
    const std::string make = cli::commandHelp(tool, tool.commands[0]);
    for (const auto& args : std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}})
        EXPECT_EQ(runCaptured(tool, args).out, general) << args[0];
    // Both ways to a command's help give the same text, wherever --help stands.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"help", "make"}, {"make", "--help"}, {"make", "a.txt", "-h"}}) {
        const Outcome o = runCaptured(tool, args);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.out, make);
    }
    EXPECT_EQ(runCaptured(tool, {"--version", "x"}).out, "tool 3.1\n");
    EXPECT_EQ(r.calls, 0);

    const Outcome unknown = runCaptured(tool, {"mak", "a.txt"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "tool: unknown command 'mak'\n(run 'tool --help' for usage)\n");
    EXPECT_EQ(runCaptured(tool, {"help", "mak"}).err,
              "tool: unknown command 'mak'\n(run 'tool --help' for usage)\n");
    EXPECT_EQ(runCaptured(tool, {"help", "make", "list"}).status, 2);
    EXPECT_EQ(runCaptured(tool, {}).err, "tool: no command given\n(run 'tool --help' for usage)\n");
    EXPECT_EQ(r.calls, 0);

    const Outcome made = runCaptured(tool, {"make", "a.txt", "--fast"});
    EXPECT_EQ(made.status, 7);
    EXPECT_EQ(r.command, "make");
    EXPECT_EQ(r.args, (std::vector<std::string>{"a.txt", "--fast"}));
}

TEST(ToolRunner, UsageErrorsCanCarryTheWholeUsage) {
    Recorder r;
    cli::Tool tool = smallTool(r);
    tool.usageAfterErrors = true;
    CaptureStderr();
    EXPECT_EQ(cli::usageError(tool, "bad"), 2);
    EXPECT_EQ(GetCapturedStderr(), "tool: bad\n" + cli::generalUsage(tool));
}

TEST(ToolHelp, CommandHelpListsExactlyTheOptionsThatApply) {
    Recorder r;
    const cli::Tool tool = smallTool(r);
    const std::vector<std::string> lines = linesOf(cli::commandHelp(tool, tool.commands[1]));
    const std::vector<std::string> expected = {
        "Usage: tool list [options]",
        "Lists.",
        "Options:",
        "  --size N                   the size",
        "  --quiet                    no messages",
        "  --only-list                list only",
        "Example:",
        "  tool list",
        "Run 'tool --help' for all commands.",
    };
    EXPECT_EQ(lines, expected);
    // A second form lines up under the first; every example line is shown.
    const std::string make = cli::commandHelp(tool, tool.commands[0]);
    EXPECT_EQ(make.find("Usage: tool make IN [options]\n"
                        "       tool make [options] --out-dir DIR IN...\n"),
              0u);
    EXPECT_NE(make.find("Example:\n  tool make a.txt\n  tool make b.txt --fast\n"),
              std::string::npos);
    EXPECT_EQ(make.find("--only-list"), std::string::npos);
}

TEST(ToolHelp, GeneralUsageListsCommandsAndTheOptionsOfEveryCommand) {
    Recorder r;
    const cli::Tool tool = smallTool(r);
    const std::string usage = cli::generalUsage(tool);
    EXPECT_EQ(usage.find("Usage:\n  tool make IN [options]\n"
                         "  tool make [options] --out-dir DIR IN...\n  tool list [options]\n"),
              0u);
    EXPECT_NE(usage.find("\nCommands:\n  make  make a thing\n  list  list the things\n"),
              std::string::npos);
    // --size names both commands and --quiet every one; --fast and --only-list only one.
    EXPECT_NE(usage.find("Options of every command:\n  --size N                   the size\n"
                         "  --quiet                    no messages\n\n"),
              std::string::npos);
    EXPECT_EQ(usage.find("--fast"), std::string::npos);
    core::setJapaneseTexts(true);
    const std::string japanese = cli::generalUsage(tool);
    core::setJapaneseTexts(false);
    EXPECT_EQ(japanese.find("使い方:\n  tool make 入力 [オプション]\n"), 0u);
    EXPECT_NE(japanese.find("ものを作る道具です。"), std::string::npos);
}

TEST(ToolHelp, WrapsAtWordsAndBetweenWideCharacters) {
    EXPECT_EQ(cli::wrapped("one two three four", 9, 2), "one two\n  three\n  four\n");
    // A word longer than the line runs over instead of being cut.
    EXPECT_EQ(cli::wrapped("a abcdefghijkl b", 6, 0), "a\nabcdefghijkl\nb\n");
    EXPECT_EQ(cli::wrapped("first\nsecond", 80, 4), "first\n    second\n");
    EXPECT_EQ(cli::wrapped("", 80, 4), "\n");
    // Eight columns hold four kana; the comma stays with the word before it.
    EXPECT_EQ(cli::wrapped("あいうえ、おかきくけこ", 8, 0), "あいう\nえ、おか\nきくけこ\n");
    // An opening bracket moves to the next line with what it opens.
    EXPECT_EQ(cli::wrapped("あいう（えお）", 8, 0), "あいう\n（えお）\n");
}

void expectBothLanguages(const core::Localized& text, const std::string& what) {
    ASSERT_NE(text.english, nullptr) << what;
    ASSERT_NE(text.japanese, nullptr) << what;
    EXPECT_GT(std::string(text.english).size(), 0u) << what;
    EXPECT_GT(std::string(text.japanese).size(), 0u) << what;
}

class BothTools : public testing::TestWithParam<const cli::Tool* (*)()> {};

TEST_P(BothTools, EveryCommandAndOptionIsDescribedInBothLanguages) {
    const cli::Tool& tool = *GetParam()();
    std::set<std::string> names;
    for (const cli::OptionInfo& o : tool.options()) {
        EXPECT_TRUE(names.insert(o.name).second) << "twice: " << o.name;
        expectBothLanguages(o.help, o.name);
        EXPECT_EQ(o.values == 0, o.valueNames.empty()) << o.name;
        // Every command an option names is one of the tool's.
        bool reaches = o.commands == "*";
        for (const cli::Command& c : tool.commands)
            reaches |= cli::listHolds(o.commands.c_str(), c.name);
        EXPECT_TRUE(reaches) << o.name;
        std::size_t words = 0;
        for (std::size_t at = 0; at < o.commands.size(); ++words) {
            const std::size_t end = std::min(o.commands.find(' ', at), o.commands.size());
            const std::string word = o.commands.substr(at, end - at);
            EXPECT_TRUE(word == "*" || cli::findCommand(tool, word)) << o.name << ": " << word;
            at = end + 1;
        }
        EXPECT_GT(words, 0u) << o.name;
    }
    for (const cli::Command& c : tool.commands) {
        expectBothLanguages(c.help.synopsis, c.name);
        expectBothLanguages(c.help.summary, c.name);
        expectBothLanguages(c.help.description, c.name);
        EXPECT_EQ(
            std::string(c.help.example).rfind(std::string(tool.program) + " " + c.name + " ", 0),
            0u)
            << c.name;
        EXPECT_TRUE(c.run) << c.name;
    }
    expectBothLanguages(tool.intro, "intro");
    expectBothLanguages(tool.notes, "notes");
}

TEST_P(BothTools, HelpFitsATerminalInBothLanguages) {
    const cli::Tool& tool = *GetParam()();
    for (const bool japanese : {false, true}) {
        core::setJapaneseTexts(japanese);
        std::vector<std::string> texts = {cli::generalUsage(tool)};
        for (const cli::Command& c : tool.commands) texts.push_back(cli::commandHelp(tool, c));
        for (const std::string& text : texts) {
            bool example = false;
            for (const std::string& line : linesOf(text)) {
                // Examples are command lines to copy whole.
                if (line == "Example:" || line == "例:") {
                    example = true;
                    continue;
                }
                if (example && line.rfind("  ", 0) == 0) continue;
                example = false;
                EXPECT_LE(columns(line), 80u) << line;
                EXPECT_EQ(line.find_last_not_of(' ') + 1, line.size())
                    << "trailing space: " << line;
            }
        }
    }
    core::setJapaneseTexts(false);
}

const cli::Tool* voralin00() {
    return &voralin00cli::tool();
}
const cli::Tool* kestral() {
    return &kestralcli::tool();
}
INSTANTIATE_TEST_SUITE_P(Cli, BothTools, testing::Values(voralin00, kestral));

}  // namespace
