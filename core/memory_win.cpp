#include <windows.h>

#include "core/memory.h"

namespace core {

std::optional<std::uint64_t> availableMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return std::nullopt;
    return status.ullAvailPhys < status.ullAvailVirtual ? status.ullAvailPhys
                                                        : status.ullAvailVirtual;
}

}  // namespace core
