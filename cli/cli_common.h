// Helpers shared by the command-line tools: the option table, argument scanning and number
// parsing.
//
// Each tool describes its options in one table of cli::Option entries and hands it, with the
// command and the arguments after it, to cli::parseOptions. Adding an option is one entry:
//
//     {"--wa", "filter", 1, "X", cli::numberIn(0, 1, settings.filter.wa)},
//
// name, the commands that take it (space separated), how many words follow it, how they are
// shown in the usage, and what to do with them. The value helpers below (flag, text, numberIn,
// wholeIn, oneOf) check the words and word the usage errors the same way in both tools; an
// option that sets more than one thing wraps one of them with cli::also. An entry may give its
// own text for missing words (`missing`); otherwise it is "<name> needs a value".
//
// Adding a command is one cli::Command entry in the tool's command table (its name and the
// number of file names it takes) plus its branch where the tool runs the commands; options
// reach it by naming it in their `commands` field.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// The words after an option, and the option's name for messages. Returns "" when they were
// taken, otherwise the usage error.
using Apply =
    std::function<std::string(const std::string& name, const std::vector<std::string>& values)>;

struct Option {
    const char* name;        // "--wa"
    const char* commands;    // the commands that take it, space separated
    int values;              // words that follow it
    const char* valueNames;  // the words as the usage shows them ("X", "U V W"), "" for a flag
    Apply apply;
    const char* missing = nullptr;  // usage error when words are missing; default below
};

struct Command {
    const char* name;
    int files;  // file names (positional arguments) it takes
};

// Finds a command by name, or nullptr.
const Command* findCommand(const std::vector<Command>& commands, const std::string& name);

// True when `list` (space separated) holds `word`.
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

// True when standard output is a terminal (progress is shown only then).
bool stdoutIsTerminal();

// Command-line arguments as UTF-8/ANSI strings, past the program name.
std::vector<std::string> argumentsOf(int argc, char** argv);

}  // namespace cli
