// Win32 disk checks on the drive root: the first three characters of the path ("C:\").
#include <windows.h>

#include <string>

#include "core/disk.h"

namespace core {
namespace {

// The first three characters of the full path ("C:\\"); a relative path (from the command line)
// is made full first.
std::string driveRoot(const std::string& path) {
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    if (length == 0 || length >= sizeof full) return path.substr(0, 3);
    return std::string(full, length).substr(0, 3);
}

class Win32Disk final : public DiskServices {
  public:
    bool hasFreeDiskSpace(const std::string& path, std::uint64_t bytes) override {
        ULARGE_INTEGER available{}, total{}, freeTotal{};
        if (!GetDiskFreeSpaceExA(driveRoot(path).c_str(), &available, &total, &freeTotal)) {
            DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
            if (!GetDiskFreeSpaceA(driveRoot(path).c_str(), &sectorsPerCluster, &bytesPerSector,
                                   &freeClusters, &clusters))
                return false;
            return static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector * freeClusters >=
                   bytes;
        }
        return available.QuadPart >= bytes;
    }

    bool isFixedDrive(const std::string& path) override {
        switch (GetDriveTypeA(driveRoot(path).c_str())) {
            case DRIVE_UNKNOWN:
            case DRIVE_NO_ROOT_DIR:
            case DRIVE_REMOVABLE:
            case DRIVE_REMOTE:
            case DRIVE_CDROM:
            case DRIVE_RAMDISK:
                return false;
            default:
                return true;
        }
    }
};

}  // namespace

DiskServices& systemDisk() {
    static Win32Disk disk;
    return disk;
}

}  // namespace core
