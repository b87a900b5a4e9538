#include "cli/messages.h"

#if defined(_WIN32)
#include <io.h>

#include "core/wide_path.h"
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "cli/cli_texts.h"
#include "cli/file_names.h"

namespace cli {

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

void say(const char* program, const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", program, line.c_str());
}

int ToolSink::ask(std::string_view text, std::string_view caption, unsigned style) {
    if (quiet_ && (style & 0xF0) == core::kIconInformation && !(style & core::kYesNo))
        return core::kAnswerOk;
    return inner_.ask(text, caption, style);
}

namespace {

namespace fs = std::filesystem;

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

}  // namespace cli
