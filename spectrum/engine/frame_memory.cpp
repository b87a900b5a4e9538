#include <cstdlib>

#include "spectrum/engine/spectrum_state.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace spectrum {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

void FrameMemoryDeleter::operator()(double* memory) const noexcept { std::free(memory); }

FrameArray allocateFrameArray(std::size_t count) {
    if (count == 0 || count > SIZE_MAX / sizeof(double)) return {};
    const std::size_t bytes = count * sizeof(double);
#if defined(__linux__)
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* memory = std::aligned_alloc(kHugePage, rounded);
        if (memory) madvise(memory, rounded, MADV_HUGEPAGE);
        return FrameArray(static_cast<double*>(memory));
    }
#endif
    return FrameArray(static_cast<double*>(std::malloc(bytes)));
}

}  // namespace spectrum
