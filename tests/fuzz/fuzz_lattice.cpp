// Feeds arbitrary bytes to the lattice tools' readers of outside input: the basis text of the
// command line, and a small grey image (first two bytes its size) to the spot finder, whose
// basis then drives the lattice mask's weight. Traps when an invariant breaks: a spot off the
// frame, a mate that is not at minus its spot, or a weight outside 0..1.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/spot_finder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto basis = spectrum::parseBasisText(text)) {
        spectrum::LatticeSettings lattice{basis->first, basis->second, 3.0};
        if (spectrum::checkLattice(lattice, 256) == spectrum::LatticeCheck::kOk) {
            const spectrum::LatticeWeight weight(lattice, 1.0);
            for (int k = -128; k < 128; k += 37) {
                const double w = weight(k, -k / 2.0);
                if (!(w >= 0.0 && w <= 1.0)) __builtin_trap();
            }
        }
    }
    if (size < 3) return 0;
    const int width = 2 + data[0] % 63, height = 2 + data[1] % 63;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = data[2 + i % (size - 2)];
    spectrum::GreyPixels view;
    view.base = pixels.data();
    view.width = width;
    view.height = height;
    view.stride = static_cast<std::size_t>(width);
    const int n = 64;
    const spectrum::SpotResult found = spectrum::findSpots(view, n, spectrum::SpotOptions{});
    for (const spectrum::Spot& s : found.spots) {
        if (!(std::fabs(s.position.x) <= n / 2 + 1 && std::fabs(s.position.y) <= n / 2 + 1))
            __builtin_trap();
        const spectrum::Spot& mate = found.spots[static_cast<std::size_t>(s.mate - 1)];
        if (mate.position.x != -s.position.x || mate.position.y != -s.position.y) __builtin_trap();
    }
    if (found.haveBasis) {
        spectrum::LatticeSettings lattice{found.g1, found.g2, 2.0};
        if (spectrum::checkLattice(lattice, n) == spectrum::LatticeCheck::kOk) {
            const spectrum::LatticeWeight weight(lattice, 0.5);
            const double w = weight(found.g1.x + 0.3, found.g1.y);
            if (!(w >= 0.0 && w <= 1.0)) __builtin_trap();
        }
    }
    return 0;
}
