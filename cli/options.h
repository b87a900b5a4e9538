// The option tables of the command-line tools and the reading of the arguments through them.
//
// Each tool describes its options in one table of cli::Option entries and hands it, with the
// command and the arguments after it, to cli::parseOptions. Adding an option is one entry:
//
//     {"--wb", "filter", 1, "X",
//      {"its second radius (0..1, default 0.8); needs --filter",
//       "その 2 つ目の半径（0..1、既定 0.8）。--filter と一緒に指定します"},
//      cli::also(cli::numberIn(0, 1, s.filter.wb), [&o] { o.haveWb = true; })},
//
// name, the commands that take it (space separated, "*" for every command), how many words
// follow it, how they are shown in the usage, its line of help in English and Japanese (every
// command's --help lists the options that apply to it from these), and what to do with the
// words. The value helpers below (flag, text, numberIn, wholeIn, oneOf) check the words and
// word the usage errors the same way in both tools ("--wa must be between 0 and 1 (given: 2)");
// an option that sets more than one thing wraps one of them with cli::also. An entry may give
// its own text for missing words (`missing`); otherwise it is "<name> needs a value". Options
// that only make sense together with another are checked after parsing, where the tool checks
// its commands' needs: an option that would do nothing is a usage error, never silently
// ignored.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "core/localized.h"

namespace cli {

// The words after an option, and the option's name for messages. Returns "" when they were
// taken, otherwise the usage error.
using Apply =
    std::function<std::string(const std::string& name, const std::vector<std::string>& values)>;

struct Option {
    const char* name;        // "--wa"
    const char* commands;    // the commands that take it, space separated, or "*"
    int values;              // words that follow it
    const char* valueNames;  // the words as the usage shows them ("X", "U V W"), "" for a flag
    core::Localized help;    // one line (wrapped when shown) for the commands' help
    Apply apply;
    const char* missing = nullptr;  // usage error when words are missing; default below
};

// An option as the help and other readers of a tool's table see it: the entry without the
// action, so it needs no values to write into.
struct OptionInfo {
    std::string name, commands, valueNames;
    int values = 0;
    core::Localized help = {};
};

std::vector<OptionInfo> describe(const std::vector<Option>& table);

// True when `list` (space separated) holds `word`, or is "*".
bool listHolds(const char* list, const std::string& word);

// Decides about an argument that is not an option of the command: returns "" to take it as a
// file name (added to `files` by the parser) or the usage error.
using Stray =
    std::function<std::string(const std::string& argument, const std::vector<std::string>& files)>;

// Reads the arguments after the command through the table. An option's words are taken as they
// come, even when they begin with "-". Returns "" or the first usage error.
std::string parseOptions(const std::vector<Option>& table, const std::string& command,
                         const std::vector<std::string>& args, std::vector<std::string>& files,
                         const Stray& stray);

// The usual answer for an argument that is not an option of the command: "option X does not
// apply to C" for another command's option, "unknown option X" for anything else that begins
// with "-" (a lone "-" is a file name), "" for a file name.
std::string notAnOption(const std::vector<Option>& table, const std::string& command,
                        const std::string& argument);

// Value helpers for table entries.
Apply flag(bool& target);
Apply text(std::string& target);
Apply numberIn(double lo, double hi, double& target);
Apply wholeIn(long lo, long hi, int& target);
// One of the words; stores its index.
Apply oneOf(std::initializer_list<const char*> words, int& target);
// Runs `then` after `apply` took its words (also when it refused them, as the order of the
// checks does not matter then).
Apply also(Apply apply, std::function<void()> then);

// Reads a whole decimal or floating number; nothing else may follow.
std::optional<double> parseNumber(const std::string& text);
std::optional<long> parseInteger(const std::string& text);
std::optional<long long> parseLongInteger(const std::string& text);

}  // namespace cli
