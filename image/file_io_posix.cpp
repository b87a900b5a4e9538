// The file calls that differ on POSIX: 64-bit positions through fseeko, exclusive creation
// through open(2), and the pieces of a safe replacement (symbolic links, permissions, rename).
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/file_io.h"

namespace image {

std::optional<std::uint64_t> fileSize(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return std::nullopt;
    const off_t end = ftello(file);
    if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

bool seekTo(std::FILE* file, std::uint64_t position) {
    if (position > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return false;
    return fseeko(file, static_cast<off_t>(position), SEEK_SET) == 0;
}

std::FILE* createExclusive(const std::string& path, bool& exists) {
    exists = false;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        ::close(fd);
        std::remove(path.c_str());
    }
    return file;
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

std::FILE* fopenUtf8(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

namespace {
thread_local sigset_t heldBefore;
}

InterruptionsHeld::InterruptionsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, s);
    pthread_sigmask(SIG_BLOCK, &held, &heldBefore);
}

InterruptionsHeld::~InterruptionsHeld() {
    pthread_sigmask(SIG_SETMASK, &heldBefore, nullptr);
}

std::string systemTemporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

namespace platform {
namespace {

// The folder part of a path with its final slash ("" for a bare name).
std::string folderPart(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string namePart(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string resolveTarget(const std::string& path) {
    // Follow the chain by hand, so a link to a file that does not exist yet still names it.
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::vector<char> buffer(PATH_MAX + 1);
        const ssize_t n = ::readlink(current.c_str(), buffer.data(), buffer.size() - 1);
        if (n <= 0) return current;
        std::string link(buffer.data(), static_cast<std::size_t>(n));
        current = link[0] == '/' ? link : folderPart(current) + link;
    }
    return current;
}

bool mayReplace(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT;
    return S_ISREG(st.st_mode) && ::access(path.c_str(), W_OK) == 0;
}

std::FILE* createTemporaryBeside(const std::string& target, std::string& temp) {
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    const std::string folder = folderPart(target), name = namePart(target);
    for (int n = 1; n <= 100; ++n) {
        // Appended piece by piece: GCC 12 warns falsely on "." + std::string&&.
        std::string suffix = ".";
        suffix += std::to_string(::getpid());
        suffix += '-';
        suffix += std::to_string(n);
        suffix += ".tmp";
        // A name too long for the folder gets a short one.
        temp = folder + "~" + (name.size() + suffix.size() < 200 ? name : std::string()) + suffix;
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            break;
        }
        if (exists) {
            // The replacement keeps the old file's mode and, where allowed, its owner.
            if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
                // Only the owner and root may give a file away; the mode still follows.
            }
            ::fchmod(fd, old.st_mode & 07777);
        }
        std::FILE* file = fdopen(fd, "wb");
        if (file) return file;
        ::close(fd);
        ::unlink(temp.c_str());
        break;
    }
    temp.clear();
    return nullptr;
}

bool flushAndClose(std::FILE* file) {
    bool ok = std::fflush(file) == 0;
    ok = ::fsync(fileno(file)) == 0 && ok;
    return std::fclose(file) == 0 && ok;
}

std::optional<std::uint64_t> sizeOnDisk(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

bool moveOver(const std::string& temp, const std::string& target) {
    return std::rename(temp.c_str(), target.c_str()) == 0;
}

void removeNow(const char* path) {
    ::unlink(path);
}

}  // namespace platform

}  // namespace image
