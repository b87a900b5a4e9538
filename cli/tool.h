// A command-line tool as data: its commands, each with the file names it takes, its help and
// what runs it, and one runner shared by both tools for --help, --version, `help COMMAND`,
// `COMMAND --help` and the command lookup.
//
// Adding a command is one cli::Command entry in the tool's table; its options reach it by
// naming it in their `commands` field (cli/options.h). The tool's general usage and every
// command's --help are generated from the two tables, in English or Japanese:
//
//     Usage: TOOL COMMAND SYNOPSIS
//     DESCRIPTION
//     Options:
//       --name VALUES      help of each option that applies to the command, wrapped
//     Example:
//       EXAMPLE
//
// tests/cli/test_cli_manners.py runs the example of every command of the general usage, in a
// folder holding the bundled samples.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "core/localized.h"

namespace cli {

struct CommandHelp {
    // What follows the command name, one form a line: "IN.bmp OUT.bmp [options]\n...".
    core::Localized synopsis;
    core::Localized summary;      // its line in the tool's list of commands
    core::Localized description;  // what it does, at the head of its own help
    const char* example;          // command lines, one a line
};

// Runs a command with the arguments after its name; returns the exit status.
using Run = std::function<int(const std::string& command, const std::vector<std::string>& args)>;

struct Command {
    const char* name;
    int inputs;  // file names (positional arguments) it takes
    CommandHelp help;
    Run run;
};

struct Tool {
    const char* program;  // "voralin00-cli"
    const char* version;  // the release of the program whose steps it repeats
    std::vector<Command> commands;
    // The option table as the help reads it.
    std::function<std::vector<OptionInfo>()> options;
    core::Localized intro;  // the general usage after the usage lines
    core::Localized notes;  // the general usage at the end
    // A usage error is followed by the whole general usage rather than the pointer to --help.
    bool usageAfterErrors = false;
};

// Finds a command by name, or nullptr.
const Command* findCommand(const Tool& tool, const std::string& name);

// The options that apply to a command, in table order.
std::vector<OptionInfo> optionsOf(const Tool& tool, const std::string& command);

// The texts --help prints.
std::string generalUsage(const Tool& tool);
std::string commandHelp(const Tool& tool, const Command& command);

// Prints "PROGRAM: what" and the way to the usage on stderr; returns 2, the status of a usage
// error.
int usageError(const Tool& tool, const std::string& what);

// Answers --help, --version and help COMMAND, finds the command and runs it.
int runTool(const Tool& tool, const std::vector<std::string>& args);

// A tool's whole main: the language from the environment, temporaries removed on an
// interruption, the arguments as UTF-8, standard output checked at the end.
int toolMain(const Tool& tool, int argc, char** argv);

// Lines of at most `width` columns (a wide character counts two), the later ones indented by
// `indent` spaces; breaks at spaces, and between wide characters where no punctuation is left
// at the head of a line. "\n" in the text ends a line.
std::string wrapped(const std::string& text, std::size_t width, std::size_t indent);

}  // namespace cli
