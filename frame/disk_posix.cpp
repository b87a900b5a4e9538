// POSIX disk checks: free space from statvfs on the folder that will hold the file; a fixed drive
// is a writable file system that is not a network or memory file system.
#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <string>

#include "frame/disk.h"

namespace frame {
namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

class PosixDisk final : public DiskServices {
  public:
    bool hasFreeDiskSpace(const std::string& path, std::uint64_t bytes) override {
        struct statvfs fs {};
        if (statvfs(folderOf(path).c_str(), &fs) != 0) return false;
        const auto available = static_cast<unsigned __int128>(fs.f_bavail) * fs.f_frsize;
        return available >= bytes;
    }

    bool isFixedDrive(const std::string& path) override {
        struct statfs fs {};
        if (statfs(folderOf(path).c_str(), &fs) != 0) return false;
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

}  // namespace frame
