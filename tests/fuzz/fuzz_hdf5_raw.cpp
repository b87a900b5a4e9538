// Feeds arbitrary bytes, as a whole file, to our reader of HDF5's variable-length strings: the
// object header walk (both versions, continuation blocks), the attribute and compact-layout
// messages and the global heap. The first byte picks the address sizes and a user block, the
// next 8 the header's address; the string element is the attribute's or the compact data's
// first bytes. Besides the sanitizers' findings, it traps when a result breaks the reader's
// promises: no more bytes than asked, no NUL inside a string.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "image/hdf5_raw.h"

using namespace image::hdf5raw;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    FileShape shape;
    shape.offsetSize = (data[0] & 1) ? 4 : 8;
    shape.lengthSize = (data[0] & 2) ? 4 : 8;
    shape.base = (data[0] & 4) ? 512 : 0;
    std::uint64_t address = 0;
    std::memcpy(&address, data + 1, 8);
    address %= size;
    const ReadAt read = [&](std::uint64_t offset, std::size_t n, std::uint8_t* out) {
        if (offset > size || n > size - offset) return false;
        std::memcpy(out, data + offset, n);
        return true;
    };
    const std::size_t element = vlenElementSize(shape);
    for (const auto& found : {attributeData(read, shape, address, "units", element),
                              compactData(read, shape, address, element)}) {
        if (!found) continue;
        if (found->size() > element) __builtin_trap();
        for (const std::size_t limit : {std::size_t{3}, std::size_t{65536}}) {
            const auto text = globalHeapString(read, shape, *found, limit);
            if (text && (text->size() > limit || text->find('\0') != std::string::npos))
                __builtin_trap();
        }
    }
    return 0;
}
