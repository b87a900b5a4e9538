#include "image/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace image {

std::size_t MemorySource::read(std::uint8_t* out, std::size_t n) {
    const std::size_t left = bytes_.size() - position_;
    const std::size_t count = n < left ? n : left;
    if (count > 0) std::memcpy(out, bytes_.data() + position_, count);
    position_ += count;
    return count;
}

bool VectorSink::write(const std::uint8_t* data, std::size_t n) {
    try {
        bytes.insert(bytes.end(), data, data + n);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

std::size_t FileSource::read(std::uint8_t* out, std::size_t n) {
    return std::fread(out, 1, n, file_);
}

bool FileSink::write(const std::uint8_t* data, std::size_t n) {
    return n == 0 || std::fwrite(data, 1, n, file_) == n;
}

bool FileHandle::close() {
    if (!file_) return true;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

std::optional<std::uint64_t> fileSize(std::FILE* file) {
#if defined(_WIN32)
    if (_fseeki64(file, 0, SEEK_END) != 0) return std::nullopt;
    const long long end = _ftelli64(file);
    if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return std::nullopt;
#else
    if (fseeko(file, 0, SEEK_END) != 0) return std::nullopt;
    const off_t end = ftello(file);
    if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) return std::nullopt;
#endif
    return static_cast<std::uint64_t>(end);
}

std::FILE* createExclusive(const std::string& path, bool& exists) {
    exists = false;
#if defined(_WIN32)
    const int fd =
        _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) _close(fd);
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) ::close(fd);
#endif
    if (!file) std::remove(path.c_str());
    return file;
}

bool fileExists(const std::string& path) {
#if defined(_WIN32)
    struct _stat64 st;
    return _stat64(path.c_str(), &st) == 0;
#else
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
#endif
}

bool removeFile(const std::string& path) {
    return std::remove(path.c_str()) == 0;
}

}  // namespace image
