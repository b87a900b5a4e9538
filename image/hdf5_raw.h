// A few HDF5 structures read from the file's bytes by our own bounded code, for the one thing
// libhdf5 1.10 does unsafely: variable-length strings. It copies a global-heap object into a
// buffer sized by the string's stated length, whatever size the heap gives the object, and it
// loops on some damaged heap collections. So the reader takes a string's element (length, heap
// collection, index) from the file itself, checks the collection and the object against each
// other, and copies the text out; libhdf5 never reads a global heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace image::hdf5raw {

// Reads `size` bytes at absolute file offset `offset` into `out`; false past the end.
using ReadAt = std::function<bool(std::uint64_t offset, std::size_t size, std::uint8_t* out)>;

struct FileShape {
    unsigned offsetSize = 8;  // bytes of a file address
    unsigned lengthSize = 8;  // bytes of a length
    std::uint64_t base = 0;   // where addresses count from (after a user block)
};

// Bytes of one variable-length element on disk: its length, then the heap ID (collection
// address and object index).
inline std::size_t vlenElementSize(const FileShape& shape) { return 4 + shape.offsetSize + 4; }

// The text of a variable-length string element, at most `limit` bytes and cut at a NUL; nothing
// when the element, its collection or its object is not sound.
std::optional<std::string> globalHeapString(const ReadAt& read, const FileShape& shape,
                                            std::span<const std::uint8_t> element,
                                            std::size_t limit);

// The raw data of the attribute `name` held in the object header at `address` (relative to the
// base), at most `limit` bytes; nothing when it is not there in the header's own messages
// (attributes kept in dense storage or shared messages are not looked for).
std::optional<std::vector<std::uint8_t>> attributeData(const ReadAt& read, const FileShape& shape,
                                                       std::uint64_t address,
                                                       std::string_view name, std::size_t limit);

// The data of a dataset stored in its header (the compact layout), at most `limit` bytes.
std::optional<std::vector<std::uint8_t>> compactData(const ReadAt& read, const FileShape& shape,
                                                     std::uint64_t address, std::size_t limit);

}  // namespace image::hdf5raw
