// How much memory the process can still take, for the checks made before a large allocation.
//
// The answer is the smaller of what the machine can give without swapping and what the process
// may still map: on Linux MemAvailable of /proc/meminfo and, under an address-space limit
// (RLIMIT_AS, `ulimit -v`), that limit less the address space already used; on Windows
// ullAvailPhys and ullAvailVirtual of GlobalMemoryStatusEx. Empty when neither can be read, in
// which case the caller allocates and lets the allocation decide.
#pragma once

#include <cstdint>
#include <optional>

namespace core {

std::optional<std::uint64_t> availableMemory();

}  // namespace core
