// Feeds arbitrary bytes to our reader of the JSON texts in Velox EMD files (each frame's
// metadata and the file's /Version) and of the Berkeley units. Besides the sanitizers' findings,
// it traps when a result breaks the reader's promises: finite sizes, short printable names.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image/emd.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const image::VeloxMetadata meta = image::parseVeloxMetadata(text);
    if (meta.sizeX && !std::isfinite(*meta.sizeX)) __builtin_trap();
    if (meta.sizeY && !std::isfinite(*meta.sizeY)) __builtin_trap();
    if (meta.detector.size() > 64 || meta.unitX.size() > 64 || meta.unitY.size() > 64)
        __builtin_trap();
    for (char c : meta.detector)
        if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();
    if (!meta.parsed && (meta.sizeX || !meta.detector.empty())) __builtin_trap();
    (void)image::isVeloxVersion(text);
    if (image::berkeleyUnit(text).size() > size) __builtin_trap();
    return 0;
}
