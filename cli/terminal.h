// The tools' process and terminal: arguments as UTF-8, progress shown only on a terminal,
// temporaries removed on an interruption, and standard output checked at the end.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "core/busy.h"

namespace cli {

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

// True when standard output or standard error is a terminal.
bool stdoutIsTerminal();
bool stderrIsTerminal();

// Removes the tool's temporary files when the user interrupts it (Ctrl+C, a closed terminal,
// SIGTERM), then ends as the interruption would have.
void removeTemporariesOnInterrupt();

// Command-line arguments past the program name, as UTF-8 (on Windows from the wide command
// line, so any file name arrives whole).
std::vector<std::string> argumentsOf(int argc, char** argv);

// Ends a tool's run: standard output is flushed and checked, so output lost to a full disk or a
// closed file is reported (exit status 1) instead of passing for success. Returns the status to
// exit with.
int checkedExit(const char* program, int status);

}  // namespace cli
