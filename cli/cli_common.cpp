#include "cli/cli_common.h"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>

#include "core/wide_path.h"
#endif

#include <cerrno>
#include <csignal>

#include "image/file_io.h"
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/cli_texts.h"

namespace cli {

const Command* findCommand(const std::vector<Command>& commands, const std::string& name) {
    for (const Command& c : commands)
        if (name == c.name) return &c;
    return nullptr;
}

bool listHolds(const char* list, const std::string& word) {
    if (std::string(list) == "*") return !word.empty();
    const std::string all = std::string(" ") + list + " ";
    return !word.empty() && all.find(" " + word + " ") != std::string::npos;
}

std::string parseOptions(const std::vector<Option>& table, const std::string& command,
                         const std::vector<std::string>& args, std::vector<std::string>& files,
                         const Stray& stray) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const Option* option = nullptr;
        for (const Option& o : table)
            if (a == o.name && listHolds(o.commands, command)) option = &o;
        if (!option) {
            std::string error = stray(a, files);
            if (!error.empty()) return error;
            files.push_back(a);
            continue;
        }
        if (args.size() - 1 - i < static_cast<std::size_t>(option->values))
            return option->missing ? option->missing : a + " needs a value";
        const std::vector<std::string> values(args.begin() + i + 1,
                                              args.begin() + i + 1 + option->values);
        i += option->values;
        std::string error = option->apply(a, values);
        if (!error.empty()) return error;
    }
    return "";
}

std::string notAnOption(const std::vector<Option>& table, const std::string& command,
                        const std::string& argument) {
    for (const Option& o : table)
        if (argument == o.name) return "option " + argument + " does not apply to " + command;
    if (argument.size() > 1 && argument[0] == '-') return "unknown option " + argument;
    return "";
}

Apply flag(bool& target) {
    return [&target](const std::string&, const std::vector<std::string>&) {
        target = true;
        return std::string();
    };
}

Apply text(std::string& target) {
    return [&target](const std::string&, const std::vector<std::string>& values) {
        target = values[0];
        return std::string();
    };
}

Apply numberIn(double lo, double hi, double& target) {
    return [lo, hi, &target](const std::string& name, const std::vector<std::string>& values) {
        const auto v = parseNumber(values[0]);
        // Written so that "nan", which strtod accepts, is out of every range.
        if (!v || !(*v >= lo && *v <= hi))
            return fill(texts::kNumberRange, {name, shown(lo), shown(hi), values[0]});
        target = *v;
        return std::string();
    };
}

Apply wholeIn(long lo, long hi, int& target) {
    return [lo, hi, &target](const std::string& name, const std::vector<std::string>& values) {
        const auto v = parseInteger(values[0]);
        if (!v || *v < lo || *v > hi)
            return fill(texts::kWholeRange, {name, shown(lo), shown(hi), values[0]});
        target = static_cast<int>(*v);
        return std::string();
    };
}

Apply oneOf(std::initializer_list<const char*> words, int& target) {
    std::vector<std::string> list(words.begin(), words.end());
    return [list, &target](const std::string& name, const std::vector<std::string>& values) {
        for (std::size_t k = 0; k < list.size(); ++k)
            if (values[0] == list[k]) {
                target = static_cast<int>(k);
                return std::string();
            }
        std::string error = name + " must be ";
        for (std::size_t k = 0; k < list.size(); ++k)
            error += (k == 0 ? "" : k + 1 == list.size() ? " or " : ", ") + list[k];
        return error;
    };
}

Apply also(Apply apply, std::function<void()> then) {
    return [apply, then](const std::string& name, const std::vector<std::string>& values) {
        std::string error = apply(name, values);
        then();
        return error;
    };
}

std::string fill(const core::Localized& text, std::initializer_list<std::string> values) {
    const std::string pattern = core::text(text);
    std::string out;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (pattern[i] == '%' && next >= '1' && next <= '9' &&
            static_cast<std::size_t>(next - '1') < values.size()) {
            out += *(values.begin() + (next - '1'));
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

std::string shown(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

void printCommandHelp(const char* program, const Command& command) {
    if (command.help.english) std::fputs(core::text(command.help), stdout);
    std::printf("%s\n", fill(texts::kMoreHelp, {program}).c_str());
}

int ToolSink::ask(std::string_view text, std::string_view caption, unsigned style) {
    if (quiet_ && (style & 0xF0) == core::kIconInformation && !(style & core::kYesNo))
        return core::kAnswerOk;
    return inner_.ask(text, caption, style);
}

namespace {

namespace fs = std::filesystem;

void say(const char* program, const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", program, line.c_str());
}

bool readable(const std::string& path) {
#if defined(_WIN32)
    return _waccess(core::widePath(path).c_str(), 4) == 0;
#else
    return access(path.c_str(), R_OK) == 0;
#endif
}

bool writableFolder(const fs::path& folder) {
#if defined(_WIN32)
    return _waccess(folder.wstring().c_str(), 2) == 0;
#else
    return access(folder.c_str(), W_OK) == 0;
#endif
}

}  // namespace

void explainInput(const char* program, const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(fsPath(path), error);
    if (!fs::exists(status))
        say(program, fill(texts::kNoSuchFile, {path}));
    else if (fs::is_directory(status))
        say(program, fill(texts::kIsFolder, {path}));
    else if (!readable(path))
        say(program, fill(texts::kCannotRead, {path}));
    else
        say(program, fill(texts::kInputRefused, {path}));
}

void explainOutput(const char* program, const std::string& path) {
    std::error_code error;
    fs::path folder = fsPath(path).parent_path();
    if (folder.empty()) folder = ".";
    if (fs::is_directory(fsPath(path), error))
        say(program, fill(texts::kIsFolder, {path}));
    else if (!fs::is_directory(folder, error))
        say(program, fill(texts::kNoFolder, {path, utf8Of(folder)}));
    else if (!writableFolder(folder))
        say(program, fill(texts::kFolderNotWritable, {path, utf8Of(folder)}));
    else
        say(program, fill(texts::kOutputNotWritten, {path}));
}

namespace {

// A path as the file system compares it: resolved, and on Windows without case.
using Key = fs::path::string_type;

Key folded(const fs::path& path) {
    Key key = path.native();
#if defined(_WIN32)
    for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
#endif
    return key;
}

fs::path resolved(const std::string& path) {
    std::error_code error;
    fs::path full = fs::absolute(fsPath(path), error);
    if (error) return fsPath(path);
    fs::path canonical = fs::weakly_canonical(full, error);
    return error ? full.lexically_normal() : canonical;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

// One name of the call, taken apart for the comparisons.
struct Place {
    fs::path full;          // resolved
    Key whole, folder;      // folded
    Key stem, suffix;       // of a numbered name: STEM + number + suffix
    bool plain = true, numbered = false;
    // An existing file with more than one name: only such a file can be another path's too, once
    // both paths are resolved.
    bool linked = false;
};

Place placeOf(const std::string& path, bool plain, bool numbered) {
    Place p;
    p.plain = plain;
    p.numbered = numbered;
    p.full = resolved(path);
    p.whole = folded(p.full);
    std::error_code error;
#if defined(_WIN32)
    // The runtime counts one link for every file there: any existing file may have others.
    p.linked = fs::exists(p.full, error);
#else
    const auto links = fs::hard_link_count(p.full, error);
    p.linked = !error && links > 1;
#endif
    // A numbered name's files sit in the folder of the name given, whatever it links to.
    const fs::path given = resolved(utf8Of(fsPath(path).parent_path().empty()
                                               ? fs::path(".")
                                               : fsPath(path).parent_path()));
    p.folder = folded(numbered ? given : p.full.parent_path());
    const Key name = folded(fsPath(path).filename());
    const auto dot = name.find_last_of(static_cast<Key::value_type>('.'));
    p.stem = dot == Key::npos ? name : name.substr(0, dot);
    p.suffix = dot == Key::npos ? Key() : name.substr(dot);
    return p;
}

bool digitsOnly(const Key& text) {
    if (text.empty() || text[0] == '0') return false;  // numbers are written without zeros
    for (const auto c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// True when the file name `name` is one of the numbered names of STEM and suffix.
bool isNumbered(const Key& name, const Key& stem, const Key& suffix) {
    return name.size() > stem.size() + suffix.size() && name.compare(0, stem.size(), stem) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           digitsOnly(name.substr(stem.size(), name.size() - stem.size() - suffix.size()));
}

// An existing file that a numbered output would replace, as a hard link of a numbered name.
bool linkedToNumbered(const Place& file, const Place& numbered) {
    if (!file.linked) return false;
    std::error_code error;
    fs::directory_iterator it(fs::path(numbered.folder), error), end;
    for (; !error && it != end; it.increment(error))
        if (isNumbered(folded(it->path().filename()), numbered.stem, numbered.suffix) &&
            sameFile(it->path(), file.full))
            return true;
    return false;
}

bool clashes(const Place& a, const Place& b) {
    if (a.plain && b.plain &&
        (a.whole == b.whole || (a.linked && b.linked && sameFile(a.full, b.full))))
        return true;
    for (const auto& [x, y] : {std::pair<const Place*, const Place*>{&a, &b}, {&b, &a}}) {
        if (!x->plain || !y->numbered) continue;
        const Key name = folded(x->full.filename());
        if ((folded(x->full.parent_path()) == y->folder && isNumbered(name, y->stem, y->suffix)) ||
            linkedToNumbered(*x, *y))
            return true;
    }
    if (a.numbered && b.numbered && a.folder == b.folder && a.suffix == b.suffix) {
        const Key& shorter = a.stem.size() <= b.stem.size() ? a.stem : b.stem;
        const Key& longer = a.stem.size() <= b.stem.size() ? b.stem : a.stem;
        // "s" and "s1" both give s11.dat; "s" and "s0" never meet.
        return shorter == longer ||
               (longer.compare(0, shorter.size(), shorter) == 0 &&
                digitsOnly(longer.substr(shorter.size())));
    }
    return false;
}

}  // namespace

bool samePath(const std::string& a, const std::string& b) {
    const fs::path x = resolved(a), y = resolved(b);
    return folded(x) == folded(y) || sameFile(x, y);
}

std::optional<Clash> findClash(const std::vector<std::string>& inputs,
                               const std::vector<OutputName>& outputs) {
    std::vector<Place> in, out;
    for (const std::string& path : inputs) in.push_back(placeOf(path, true, false));
    for (const OutputName& o : outputs) out.push_back(placeOf(o.path, o.plain, o.numbered));
    for (std::size_t i = 0; i < out.size(); ++i) {
        for (std::size_t j = 0; j < in.size(); ++j)
            if (clashes(out[i], in[j])) return Clash{i, true, j};
        for (std::size_t j = 0; j < i; ++j)
            if (clashes(out[i], out[j])) return Clash{i, false, j};
    }
    return std::nullopt;
}

std::string clashMessage(const std::vector<std::string>& inputs,
                         const std::vector<OutputName>& outputs, const Clash& clash) {
    const OutputName& output = outputs[clash.output];
    if (clash.withInput)
        return output.owner < 0
                   ? fill(texts::kReplacesInput, {output.label, inputs[clash.other]})
                   : fill(texts::kOutputIsInput,
                          {inputs[static_cast<std::size_t>(output.owner)], inputs[clash.other]});
    const OutputName& earlier = outputs[clash.other];
    if (output.owner >= 0 && earlier.owner >= 0 && output.owner != earlier.owner)
        return fill(texts::kTwoInputsOneOutput,
                    {inputs[static_cast<std::size_t>(earlier.owner)],
                     inputs[static_cast<std::size_t>(output.owner)], output.path});
    // The file both would write: the plain name when the other is numbered.
    const std::string& file = output.plain || !earlier.plain ? output.path : earlier.path;
    return fill(texts::kSameOutput, {earlier.label, output.label, file});
}

int checkedExit(const char* program, int status) {
    const bool failed = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
    if (!failed) return status;
    say(program, core::text(texts::kStdoutNotWritten));
    return status == 0 ? 1 : status;
}

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

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
}

std::optional<long> parseInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
}

std::optional<long long> parseLongInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
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

std::filesystem::path fsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

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

}  // namespace cli
