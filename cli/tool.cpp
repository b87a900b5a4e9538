#include "cli/tool.h"

#include <cstdio>

#include "cli/cli_texts.h"
#include "cli/messages.h"
#include "cli/terminal.h"

namespace cli {

const Command* findCommand(const Tool& tool, const std::string& name) {
    for (const Command& c : tool.commands)
        if (name == c.name) return &c;
    return nullptr;
}

int usageError(const Tool& tool, const std::string& what) {
    if (tool.usageAfterErrors) {
        std::fprintf(stderr, "%s: %s\n%s", tool.program, what.c_str(), generalUsage(tool).c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n(run '%s --help' for usage)\n", tool.program, what.c_str(),
                     tool.program);
    }
    return 2;
}

namespace {

bool asksForHelp(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

// `help` alone is the general usage; `help COMMAND` the command's own.
int answerHelp(const Tool& tool, const std::vector<std::string>& args) {
    if (args.size() == 1) {
        std::fputs(generalUsage(tool).c_str(), stdout);
        return 0;
    }
    if (args.size() > 2) return usageError(tool, "unexpected argument '" + args[2] + "'");
    const Command* entry = findCommand(tool, args[1]);
    if (!entry) return usageError(tool, "unknown command '" + args[1] + "'");
    std::fputs(commandHelp(tool, *entry).c_str(), stdout);
    return 0;
}

}  // namespace

int runTool(const Tool& tool, const std::vector<std::string>& args) {
    if (args.empty()) return usageError(tool, "no command given");
    const std::string& first = args[0];
    if (asksForHelp(first)) {
        std::fputs(generalUsage(tool).c_str(), stdout);
        return 0;
    }
    if (first == "help") return answerHelp(tool, args);
    if (first == "--version") {
        std::printf("%s %s\n", tool.program, tool.version);
        return 0;
    }
    const Command* entry = findCommand(tool, first);
    if (!entry) return usageError(tool, "unknown command '" + first + "'");
    for (const std::string& a : args)
        if (asksForHelp(a)) {
            std::fputs(commandHelp(tool, *entry).c_str(), stdout);
            return 0;
        }
    return entry->run(first, {args.begin() + 1, args.end()});
}

int toolMain(const Tool& tool, int argc, char** argv) {
    core::setJapaneseTexts(core::environmentAsksJapanese());
    removeTemporariesOnInterrupt();
    return checkedExit(tool.program, runTool(tool, argumentsOf(argc, argv)));
}

}  // namespace cli
