// The file calls that differ on Win32: 64-bit positions and exclusive creation through the C
// runtime's _open.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "image/file_io.h"

namespace image {

std::optional<std::uint64_t> fileSize(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return std::nullopt;
    const long long end = _ftelli64(file);
    if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

std::FILE* createExclusive(const std::string& path, bool& exists) {
    exists = false;
    const int fd =
        _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        std::remove(path.c_str());
    }
    return file;
}

bool fileExists(const std::string& path) {
    struct _stat64 st;
    return _stat64(path.c_str(), &st) == 0;
}

}  // namespace image
