#include "image/hdf5_raw.h"

#include <algorithm>
#include <cstring>

namespace image::hdf5raw {

namespace {

// Bounds on what a header walk reads: object headers are a few KiB, and a global heap
// collection holding strings of at most 64 KiB stays far below 16 MiB.
constexpr std::size_t kMaxChunk = std::size_t{1} << 20;
constexpr int kMaxChunks = 64;
constexpr std::uint64_t kMaxCollection = std::uint64_t{16} << 20;
constexpr std::uint64_t kUndefined = ~std::uint64_t{0};

enum : unsigned { kLayoutMessage = 0x08, kAttributeMessage = 0x0C, kContinuation = 0x10 };

// Little-endian unsigned of `size` bytes (1 to 8) at `p`.
std::uint64_t little(const std::uint8_t* p, unsigned size) {
    std::uint64_t v = 0;
    for (unsigned i = size; i-- > 0;) v = v << 8 | p[i];
    return v;
}

std::uint64_t roundUp8(std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; }

// The absolute offset of file address `address`, if it can be one.
std::optional<std::uint64_t> absolute(const FileShape& shape, std::uint64_t address) {
    const std::uint64_t undefined =
        shape.offsetSize >= 8 ? kUndefined : (std::uint64_t{1} << (8 * shape.offsetSize)) - 1;
    if (address == undefined || address > kUndefined - shape.base) return std::nullopt;
    return shape.base + address;
}

std::optional<std::vector<std::uint8_t>> readBlock(const ReadAt& read, const FileShape& shape,
                                                   std::uint64_t address, std::uint64_t size) {
    const auto at = absolute(shape, address);
    if (!at || size > kMaxChunk) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && !read(*at, bytes.size(), bytes.data())) return std::nullopt;
    return bytes;
}

struct Message {
    unsigned type;
    std::span<const std::uint8_t> data;
};

// The messages of one object header, in order, following its continuation blocks; false when
// the header is not sound. `visit` returns true to stop.
class HeaderWalk {
  public:
    HeaderWalk(const ReadAt& read, const FileShape& shape) : read_(read), shape_(shape) {}

    template <class Visit>
    bool walk(std::uint64_t address, Visit visit) {
        std::uint8_t prefix[6];
        const auto at = absolute(shape_, address);
        if (!at || !read_(*at, sizeof prefix, prefix)) return false;
        if (std::memcmp(prefix, "OHDR", 4) == 0) return walkVersion2(address, visit);
        if (prefix[0] == 1) return walkVersion1(address, visit);
        return false;
    }

  private:
    struct Block {
        std::uint64_t address, length;
    };

    template <class Visit>
    bool walkVersion1(std::uint64_t address, Visit visit) {
        const auto head = readBlock(read_, shape_, address, 16);
        if (!head) return false;
        // Messages start 16 bytes in (12 of prefix, padded to 8); the header size counts them.
        std::vector<Block> blocks{{address + 16, little(head->data() + 8, 4)}};
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            if (b >= kMaxChunks) return false;
            const auto bytes = readBlock(read_, shape_, blocks[b].address, blocks[b].length);
            if (!bytes) return false;
            std::size_t pos = 0;
            while (pos + 8 <= bytes->size()) {
                const std::uint8_t* p = bytes->data() + pos;
                const unsigned type = static_cast<unsigned>(little(p, 2));
                const std::size_t size = static_cast<std::size_t>(little(p + 2, 2));
                if (size > bytes->size() - pos - 8) return false;
                const Message m{type, {p + 8, size}};
                if (!follow(m, blocks)) return false;
                if (visit(m)) return true;
                pos += 8 + size;
            }
        }
        return true;
    }

    template <class Visit>
    bool walkVersion2(std::uint64_t address, Visit visit) {
        const auto head = readBlock(read_, shape_, address, 6 + 16 + 4 + 8);
        if (!head || (*head)[4] != 2) return false;
        const unsigned flags = (*head)[5];
        std::size_t pos = 6 + ((flags & 0x20) ? 16 : 0) + ((flags & 0x10) ? 4 : 0);
        const unsigned width = 1u << (flags & 3);
        const std::uint64_t chunk0 = little(head->data() + pos, width);
        pos += width;
        const std::size_t messageHead = (flags & 0x04) ? 6 : 4;
        // Chunk 0 runs from here for chunk0 bytes, then a checksum; a continuation block is
        // "OCHK", its messages and a checksum.
        std::vector<Block> blocks{{address + pos, chunk0}};
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            if (b >= kMaxChunks) return false;
            const auto bytes = readBlock(read_, shape_, blocks[b].address, blocks[b].length);
            if (!bytes) return false;
            std::size_t start = 0, end = bytes->size();
            if (b > 0) {
                if (end < 8 || std::memcmp(bytes->data(), "OCHK", 4) != 0) return false;
                start = 4;
                end -= 4;
            }
            for (std::size_t at = start; at + messageHead <= end;) {
                const std::uint8_t* p = bytes->data() + at;
                const unsigned type = p[0];
                const std::size_t size = static_cast<std::size_t>(little(p + 1, 2));
                if (size > end - at - messageHead) return false;
                const Message m{type, {p + messageHead, size}};
                if (!follow(m, blocks)) return false;
                if (visit(m)) return true;
                at += messageHead + size;
            }
        }
        return true;
    }

    // A continuation message adds its block to the walk.
    bool follow(const Message& m, std::vector<Block>& blocks) const {
        if (m.type != kContinuation) return true;
        if (m.data.size() < shape_.offsetSize + shape_.lengthSize) return false;
        blocks.push_back({little(m.data.data(), shape_.offsetSize),
                          little(m.data.data() + shape_.offsetSize, shape_.lengthSize)});
        return true;
    }

    const ReadAt& read_;
    const FileShape& shape_;
};

// The data part of an attribute message named `name`, if it is one.
std::optional<std::span<const std::uint8_t>> attributeMessageData(std::span<const std::uint8_t> m,
                                                                  std::string_view name) {
    if (m.size() < 8) return std::nullopt;
    const unsigned version = m[0];
    const std::uint64_t nameSize = little(m.data() + 2, 2);
    const std::uint64_t typeSize = little(m.data() + 4, 2);
    const std::uint64_t spaceSize = little(m.data() + 6, 2);
    std::uint64_t pos = 8;
    std::uint64_t sizes[3] = {nameSize, typeSize, spaceSize};
    if (version == 1) {
        for (auto& s : sizes) s = roundUp8(s);
    } else if (version == 3) {
        pos = 9;  // the name's character set
    } else if (version != 2) {
        return std::nullopt;
    }
    if (sizes[0] + sizes[1] + sizes[2] > m.size() - std::min<std::uint64_t>(pos, m.size()))
        return std::nullopt;
    const auto stored = m.subspan(static_cast<std::size_t>(pos),
                                  static_cast<std::size_t>(nameSize));
    const std::string_view text(reinterpret_cast<const char*>(stored.data()),
                                strnlen(reinterpret_cast<const char*>(stored.data()),
                                        stored.size()));
    if (text != name) return std::nullopt;
    return m.subspan(static_cast<std::size_t>(pos + sizes[0] + sizes[1] + sizes[2]));
}

}  // namespace

std::optional<std::string> globalHeapString(const ReadAt& read, const FileShape& shape,
                                            std::span<const std::uint8_t> element,
                                            std::size_t limit) {
    if (element.size() < vlenElementSize(shape)) return std::nullopt;
    const std::uint64_t length = little(element.data(), 4);
    if (length == 0) return std::string();
    const std::uint64_t collection = little(element.data() + 4, shape.offsetSize);
    const std::uint64_t index = little(element.data() + 4 + shape.offsetSize, 4);
    if (index == 0) return std::nullopt;  // index 0 is the collection's free space

    // "GCOL", version 1, three reserved bytes, the collection's size (its header included).
    const std::size_t head = 8 + shape.lengthSize;
    const auto header = readBlock(read, shape, collection, head);
    if (!header || std::memcmp(header->data(), "GCOL", 4) != 0 || (*header)[4] != 1)
        return std::nullopt;
    const std::uint64_t size = little(header->data() + 8, shape.lengthSize);
    if (size < head || size > kMaxCollection) return std::nullopt;
    const auto at = absolute(shape, collection);
    if (!at) return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (!read(*at, bytes.size(), bytes.data())) return std::nullopt;

    // Objects: index (2), reference count (2), reserved (4), size, data padded to 8 bytes.
    const std::size_t objectHead = 8 + shape.lengthSize;
    for (std::size_t pos = head; pos + objectHead <= bytes.size();) {
        const std::uint8_t* p = bytes.data() + pos;
        const std::uint64_t id = little(p, 2);
        const std::uint64_t objectSize = little(p + 8, shape.lengthSize);
        const std::size_t data = pos + objectHead;
        if (id == 0) break;
        if (objectSize > bytes.size() - data) return std::nullopt;
        if (id == index) {
            if (length > objectSize) return std::nullopt;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, limit));
            const char* text = reinterpret_cast<const char*>(bytes.data() + data);
            return std::string(text, strnlen(text, n));
        }
        const std::uint64_t next = data + roundUp8(objectSize);
        if (next > bytes.size()) break;
        pos = static_cast<std::size_t>(next);
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> attributeData(const ReadAt& read, const FileShape& shape,
                                                       std::uint64_t address,
                                                       std::string_view name, std::size_t limit) {
    std::optional<std::vector<std::uint8_t>> found;
    HeaderWalk walk(read, shape);
    const bool sound = walk.walk(address, [&](const Message& m) {
        if (m.type != kAttributeMessage) return false;
        const auto data = attributeMessageData(m.data, name);
        if (!data) return false;
        const auto n = std::min(data->size(), limit);
        found.emplace(data->begin(), data->begin() + static_cast<std::ptrdiff_t>(n));
        return true;
    });
    if (!sound) return std::nullopt;
    return found;
}

std::optional<std::vector<std::uint8_t>> compactData(const ReadAt& read, const FileShape& shape,
                                                     std::uint64_t address, std::size_t limit) {
    std::optional<std::vector<std::uint8_t>> found;
    HeaderWalk walk(read, shape);
    const bool sound = walk.walk(address, [&](const Message& m) {
        // Layout versions 3 and 4: class 0 is compact, its size (2) then the data.
        if (m.type != kLayoutMessage || m.data.size() < 4 || m.data[0] < 3 || m.data[1] != 0)
            return false;
        const std::size_t size = static_cast<std::size_t>(little(m.data.data() + 2, 2));
        if (size > m.data.size() - 4) return true;
        const auto n = std::min(size, limit);
        found.emplace(m.data.begin() + 4, m.data.begin() + 4 + static_cast<std::ptrdiff_t>(n));
        return true;
    });
    if (!sound) return std::nullopt;
    return found;
}

}  // namespace image::hdf5raw
