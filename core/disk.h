// Checks made before a file is written: free space and drive type.
//
// The callers pass the full path of the file to be written. On Windows the drive root is its
// first three characters ("C:\"); on POSIX systems it is the mount point of the file system that
// holds the path's folder, and a "fixed drive" is a local, writable file system.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// Room the image program wants beyond a file's own size.
inline constexpr std::uint64_t kFreeSpaceMargin = 1000;

class DiskServices {
  public:
    virtual ~DiskServices() = default;
    // True when the drive holding `path` has at least `bytes` free for this user.
    virtual bool hasFreeDiskSpace(const std::string& path, std::uint64_t bytes) = 0;
    // True when files may be written to the drive holding `path`.
    virtual bool isFixedDrive(const std::string& path) = 0;
};

// The services of the machine the code runs on (POSIX or Win32 build).
DiskServices& systemDisk();

}  // namespace core
