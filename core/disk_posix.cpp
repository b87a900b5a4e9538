// POSIX disk checks: free space from statvfs on the folder that will hold the file; a fixed drive
// is a writable file system that is not a network or memory file system.
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <string>

#include "core/disk.h"

namespace core {
namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The drive of a path whose folder does not exist yet is that of its nearest existing folder, as
// a drive letter names the drive whatever follows it; the write itself then reports the missing
// folder.
std::string existingFolderOf(const std::string& path) {
    std::string folder = folderOf(path);
    struct stat info {};
    while (stat(folder.c_str(), &info) != 0 && folder != "/" && folder != ".") folder = folderOf(folder);
    return folder;
}

class PosixDisk final : public DiskServices {
  public:
    bool hasFreeDiskSpace(const std::string& path, std::uint64_t bytes) override {
        struct statvfs fs {};
        if (statvfs(existingFolderOf(path).c_str(), &fs) != 0) return false;
        const auto available = static_cast<unsigned __int128>(fs.f_bavail) * fs.f_frsize;
        return available >= bytes;
    }

    bool isFixedDrive(const std::string& path) override {
        struct statfs fs {};
        if (statfs(existingFolderOf(path).c_str(), &fs) != 0) return false;
        switch (static_cast<unsigned long>(fs.f_type)) {
            case 0x6969:      // NFS
            case 0xFF534D42:  // CIFS
            case 0xFE534D42:  // SMB2
            case 0x517B:      // SMB
            case 0x9660:      // ISO 9660 (CD)
            case 0x15013346:  // UDF
            case 0x858458f6:  // ramfs
                return false;
            default:
                return true;
        }
    }
};

}  // namespace

DiskServices& systemDisk() {
    static PosixDisk disk;
    return disk;
}

}  // namespace core
