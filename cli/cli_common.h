// Helpers shared by the command-line tools: the option table, the commands' help, messages that
// name files, quiet output, progress on a terminal, and number parsing.
//
// Each tool describes its options in one table of cli::Option entries and hands it, with the
// command and the arguments after it, to cli::parseOptions. Adding an option is one entry:
//
//     {"--wa", "filter", 1, "X", cli::numberIn(0, 1, settings.filter.wa)},
//
// name, the commands that take it (space separated, "*" for every command), how many words
// follow it, how they are shown in the usage, and what to do with them. The value helpers below
// (flag, text, numberIn, wholeIn, oneOf) check the words and word the usage errors the same way
// in both tools ("--wa must be between 0 and 1 (given: 2)"); an option that sets more than one
// thing wraps one of them with cli::also. An entry may give its own text for missing words
// (`missing`); otherwise it is "<name> needs a value". Options that only make sense together
// with another are checked after parsing, where the tool checks its commands' needs: an option
// that would do nothing is a usage error, never silently ignored.
//
// Adding a command is one cli::Command entry in the tool's command table (its name, the number
// of file names it takes, its help in English and Japanese with an example) plus its branch
// where the tool runs the commands; options reach it by naming it in their `commands` field.
// `TOOL COMMAND --help` prints the entry's help. Give the command a line in the tool's general
// usage as well ("  TOOL COMMAND ..."): tests/cli/test_cli_manners.py runs the help example of
// every command listed there, in a folder holding the bundled samples. New texts go into
// cli/cli_texts.h (or next to the command) as core::Localized pairs.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "core/busy.h"
#include "core/localized.h"
#include "core/message_sink.h"
#include "core/stderr_sink.h"

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
    Apply apply;
    const char* missing = nullptr;  // usage error when words are missing; default below
};

struct Command {
    const char* name;
    int files;                  // file names (positional arguments) it takes
    core::Localized help = {};  // what `TOOL COMMAND --help` prints: synopsis, options, example
};

// Finds a command by name, or nullptr.
const Command* findCommand(const std::vector<Command>& commands, const std::string& name);

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

// The text in the chosen language with %1, %2, ... replaced by the values.
std::string fill(const core::Localized& text, std::initializer_list<std::string> values);

// A number as the messages show it: 0.5, 10000, -90.
std::string shown(double value);

// Prints a command's help (its entry's text, then the pointer to the full usage) to stdout.
void printCommandHelp(const char* program, const Command& command);

// The tools' message sink: the stderr sink, which with --quiet drops the success messages
// (information boxes); refusals, warnings and questions always show.
class ToolSink final : public core::MessageSink {
  public:
    ToolSink(const char* program, bool quiet) : inner_(program), quiet_(quiet) {}
    int ask(std::string_view text, std::string_view caption, unsigned style) override;
    int refusals() const { return inner_.refusals(); }

  private:
    core::StderrSink inner_;
    bool quiet_;
};

// Says on stderr, after the engine's own message, which file was refused and why as far as the
// file system tells: missing, a folder, unreadable; for an output: a missing or read-only
// folder. The engines' fixed texts stay as they are; this line only adds the name.
void explainInput(const char* program, const std::string& path);
void explainOutput(const char* program, const std::string& path);

// True when two paths name the same file (after resolving ".", "..", links and the current
// folder, and as hard links of one file); a file need not exist yet.
bool samePath(const std::string& a, const std::string& b);

// An output file of one call, for the check that no output replaces an input or another output.
// A numbered output is written as STEM1.ext, STEM2.ext, ... (the number before the extension of
// the name given, as the slice files and pages are), and also under its own name when `plain`.
struct OutputName {
    std::string label;  // how messages name it: "--npy"
    std::string path;
    bool plain = true;
    bool numbered = false;
    int owner = -1;  // in batch work, the index of the input whose result it is
};

// Two names of one call that would give the same file.
struct Clash {
    std::size_t output;  // the later output of the two
    bool withInput;      // the other is an input
    std::size_t other;   // the input, or the earlier output
};

// The first output that names an input or an earlier output (paths resolved, hard links
// compared, numbered names included), or nothing.
std::optional<Clash> findClash(const std::vector<std::string>& inputs,
                               const std::vector<OutputName>& outputs);
// The usage error that says which names clash.
std::string clashMessage(const std::vector<std::string>& inputs,
                         const std::vector<OutputName>& outputs, const Clash& clash);

// Ends a tool's run: standard output is flushed and checked, so output lost to a full disk or a
// closed file is reported (exit status 1) instead of passing for success. Returns the status to
// exit with.
int checkedExit(const char* program, int status);

// Progress on stderr for work that takes longer than a second, and only when stderr is a
// terminal: "Please wait a moment." appears after a second of one long step and " done" ends
// it.
class DelayedBusy final : public core::BusyIndicator {
  public:
    DelayedBusy();
    ~DelayedBusy() override;
    void beginBusy() override;
    void endBusy() override;

  private:
    struct Waiter;
    Waiter* waiter_;
    bool enabled_;
};

// A line of progress ("drawing page 2 of 5") rewritten in place on stderr, shown once the work
// has run for a second and only on a terminal; ended with a line break when it was shown.
class ProgressLine {
  public:
    ProgressLine();
    ~ProgressLine();
    void show(const std::string& line);

  private:
    std::chrono::steady_clock::time_point start_;
    bool enabled_, shown_ = false;
};

// Reads a whole decimal or floating number; nothing else may follow.
std::optional<double> parseNumber(const std::string& text);
std::optional<long> parseInteger(const std::string& text);
std::optional<long long> parseLongInteger(const std::string& text);

// True when standard output or standard error is a terminal.
bool stdoutIsTerminal();
bool stderrIsTerminal();

// Removes the tool's temporary files when the user interrupts it (Ctrl+C, a closed terminal,
// SIGTERM), then ends as the interruption would have.
void removeTemporariesOnInterrupt();

// std::filesystem paths from and to the UTF-8 strings the tools carry (a plain std::string would
// be taken in the ANSI code page on Windows, losing names in other scripts).
std::filesystem::path fsPath(const std::string& utf8);
std::string utf8Of(const std::filesystem::path& path);

// Command-line arguments past the program name, as UTF-8 (on Windows from the wide command
// line, so any file name arrives whole).
std::vector<std::string> argumentsOf(int argc, char** argv);

}  // namespace cli
