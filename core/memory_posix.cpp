#include <sys/resource.h>

#include <cstdio>
#include <cstring>

#include "core/memory.h"

namespace core {
namespace {

// The value in kB of a "Key:   123 kB" line of a /proc file, in bytes.
std::optional<std::uint64_t> procValue(const char* path, const char* key) {
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return std::nullopt;
    char line[256];
    std::optional<std::uint64_t> value;
    const std::size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, key, keyLength) != 0 || line[keyLength] != ':') continue;
        unsigned long long kb = 0;
        if (std::sscanf(line + keyLength + 1, "%llu", &kb) == 1) value = kb * 1024ULL;
        break;
    }
    std::fclose(file);
    return value;
}

}  // namespace

std::optional<std::uint64_t> availableMemory() {
    std::optional<std::uint64_t> available = procValue("/proc/meminfo", "MemAvailable");
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const std::uint64_t used = procValue("/proc/self/status", "VmSize").value_or(0);
        const std::uint64_t cap = limit.rlim_cur;
        const std::uint64_t left = cap > used ? cap - used : 0;
        if (!available || left < *available) available = left;
    }
    return available;
}

}  // namespace core
