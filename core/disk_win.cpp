// Win32 disk checks: free space on the folder that will hold the file (a folder may be another
// file system than its drive's root, as under Wine, where Z:\ is the whole Unix tree), the drive
// type on the drive root. Paths are UTF-8 and reach Win32 in their wide form.
#include <windows.h>

#include <string>

#include "core/disk.h"
#include "core/wide_path.h"

namespace core {
namespace {

std::wstring fullPath(const std::string& path) {
    const std::wstring wide = widePath(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return wide;
    full.resize(length);
    return full;
}

// The first three characters of the full path ("C:\\"); a relative path (from the command line)
// is made full first.
std::wstring driveRoot(const std::string& path) {
    return fullPath(path).substr(0, 3);
}

// The nearest existing folder of the path, with a final backslash; its drive root at the least.
std::wstring existingFolder(const std::string& path) {
    std::wstring folder = fullPath(path);
    for (;;) {
        const auto slash = folder.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash < 3) return folder.substr(0, 3);
        folder.resize(slash);
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return folder + L"\\";
    }
}

class Win32Disk final : public DiskServices {
  public:
    bool hasFreeDiskSpace(const std::string& path, std::uint64_t bytes) override {
        ULARGE_INTEGER available{}, total{}, freeTotal{};
        if (!GetDiskFreeSpaceExW(existingFolder(path).c_str(), &available, &total, &freeTotal)) {
            DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
            if (!GetDiskFreeSpaceW(driveRoot(path).c_str(), &sectorsPerCluster, &bytesPerSector,
                                   &freeClusters, &clusters))
                return false;
            return static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector * freeClusters >=
                   bytes;
        }
        return available.QuadPart >= bytes;
    }

    bool isFixedDrive(const std::string& path) override {
        switch (GetDriveTypeW(driveRoot(path).c_str())) {
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
