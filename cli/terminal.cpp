#include "cli/terminal.h"

#if defined(_WIN32)
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "core/wide_path.h"
#endif

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/cli_texts.h"
#include "cli/messages.h"
#include "core/localized.h"
#include "image/file_io.h"

namespace cli {

// The waiting thread of DelayedBusy: prints the wait text when a second passes before the end.
struct DelayedBusy::Waiter {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false, shown = false;
    std::thread thread;
};

DelayedBusy::DelayedBusy() : waiter_(nullptr), enabled_(stderrIsTerminal()) {}

DelayedBusy::~DelayedBusy() {
    endBusy();
}

void DelayedBusy::beginBusy() {
    if (!enabled_ || waiter_) return;
    waiter_ = new Waiter;
    Waiter* w = waiter_;
    w->thread = std::thread([w] {
        std::unique_lock<std::mutex> lock(w->mutex);
        if (!w->ended.wait_for(lock, std::chrono::seconds(1), [w] { return w->done; })) {
            std::fputs("Please wait a moment.", stderr);
            std::fflush(stderr);
            w->shown = true;
        }
    });
}

void DelayedBusy::endBusy() {
    if (!waiter_) return;
    {
        std::lock_guard<std::mutex> lock(waiter_->mutex);
        waiter_->done = true;
    }
    waiter_->ended.notify_all();
    waiter_->thread.join();
    if (waiter_->shown) {
        std::fputs(" done\n", stderr);
        std::fflush(stderr);
    }
    delete waiter_;
    waiter_ = nullptr;
}

ProgressLine::ProgressLine()
    : start_(std::chrono::steady_clock::now()), enabled_(stderrIsTerminal()) {}

ProgressLine::~ProgressLine() {
    if (shown_) std::fputs("\n", stderr);
}

void ProgressLine::show(const std::string& line) {
    if (!enabled_) return;
    if (!shown_ && std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    shown_ = true;
}

bool stderrIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

bool stdoutIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

#if defined(_WIN32)
namespace {
BOOL WINAPI onConsoleInterrupt(DWORD) {
    image::removeRegisteredTemporaries();
    return FALSE;  // the default handler ends the process
}
}  // namespace

void removeTemporariesOnInterrupt() {
    SetConsoleCtrlHandler(onConsoleInterrupt, TRUE);
}
#else
namespace {
void onInterrupt(int signal) {
    image::removeRegisteredTemporaries();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
}  // namespace

void removeTemporariesOnInterrupt() {
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, onInterrupt);
}
#endif

std::vector<std::string> argumentsOf(int argc, char** argv) {
    std::vector<std::string> out;
#if defined(_WIN32)
    // argv is in the ANSI code page, which cannot hold every file name: take the wide command
    // line and carry it as UTF-8, as the engines open files.
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) out.push_back(core::utf8Path(wide[i]));
        LocalFree(wide);
        return out;
    }
#endif
    for (int i = 1; i < argc; ++i) out.emplace_back(argv[i]);
    return out;
}

int checkedExit(const char* program, int status) {
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (!failed) return status;
    say(program, core::text(texts::kStdoutNotWritten));
    return status == 0 ? 1 : status;
}

}  // namespace cli
