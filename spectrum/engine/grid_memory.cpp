#include <cstdlib>

#include "spectrum/engine/spectrum_state.h"

namespace spectrum {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

void GridMemoryDeleter::operator()(double* memory) const noexcept { std::free(memory); }

GridArray allocateGridArray(std::size_t count) {
    if (count == 0 || count > SIZE_MAX / sizeof(double)) return {};
    const std::size_t bytes = count * sizeof(double);
#if defined(__linux__)
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        return GridArray(static_cast<double*>(std::aligned_alloc(kHugePage, rounded)));
    }
#endif
    return GridArray(static_cast<double*>(std::malloc(bytes)));
}

}  // namespace spectrum
