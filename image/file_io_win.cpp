// The file calls that differ on Win32: 64-bit positions, exclusive creation through the C
// runtime's _wopen, wide paths for every name, and the pieces of a safe replacement
// (ReplaceFileW, which keeps the replaced file's attributes, or MoveFileExW).
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <string>

#include "core/wide_path.h"
#include "image/file_io.h"

namespace image {

using core::widePath;

std::optional<std::uint64_t> fileSize(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return std::nullopt;
    const long long end = _ftelli64(file);
    if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

bool seekTo(std::FILE* file, std::uint64_t position) {
    if (position > static_cast<std::uint64_t>(std::numeric_limits<long long>::max())) return false;
    return _fseeki64(file, static_cast<long long>(position), SEEK_SET) == 0;
}

std::FILE* createExclusive(const std::string& path, bool& exists) {
    exists = false;
    const std::wstring wide = widePath(path);
    const int fd =
        _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        _wremove(wide.c_str());
    }
    return file;
}

bool fileExists(const std::string& path) {
    return GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool removeFile(const std::string& path) {
    return DeleteFileW(widePath(path).c_str()) != 0;
}

std::FILE* fopenUtf8(const std::string& path, const char* mode) {
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(widePath(path).c_str(), wideMode.c_str());
}

// The console's interruptions arrive on a thread of their own; the window between creation and
// registration is left open there.
InterruptionsHeld::InterruptionsHeld() = default;
InterruptionsHeld::~InterruptionsHeld() = default;

std::string systemTemporaryFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH + 1) return std::string();
    return core::utf8Path(buffer);  // ends in a backslash
}

namespace platform {

std::string resolveTarget(const std::string& path) {
    // ReplaceFileW writes through to the file a link names.
    return path;
}

bool mayReplace(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;  // a new file: creation decides
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

std::FILE* createTemporaryBeside(const std::string& target, std::string& temp) {
    const auto slash = target.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    for (int n = 1; n <= 100; ++n) {
        // Appended piece by piece: GCC 12 warns falsely on "." + std::string&&.
        std::string suffix = ".";
        suffix += std::to_string(_getpid());
        suffix += '-';
        suffix += std::to_string(n);
        suffix += ".tmp";
        temp = folder + "~" + (name.size() + suffix.size() < 200 ? name : std::string()) + suffix;
        bool exists = false;
        std::FILE* file = createExclusive(temp, exists);
        if (file) return file;
        if (!exists) break;
    }
    temp.clear();
    return nullptr;
}

bool flushAndClose(std::FILE* file) {
    bool ok = std::fflush(file) == 0;
    ok = _commit(_fileno(file)) == 0 && ok;
    return std::fclose(file) == 0 && ok;
}

std::optional<std::uint64_t> sizeOnDisk(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(widePath(path).c_str(), GetFileExInfoStandard, &data))
        return std::nullopt;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool moveOver(const std::string& temp, const std::string& target) {
    const std::wstring from = widePath(temp), to = widePath(target);
    if (GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES &&
        ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr))
        return true;
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void removeNow(const char* path) {
    DeleteFileW(widePath(path).c_str());
}

}  // namespace platform
}  // namespace image
