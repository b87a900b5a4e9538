// Our reader of HDF5's variable-length strings on bytes laid out here by hand: a global heap
// collection and object headers of both versions. Whole files written by h5py (user blocks,
// compact datasets, continuation blocks, damaged heaps) are checked in tests/cli/test_emd.py.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/hdf5_raw.h"

namespace {

using namespace image::hdf5raw;
using Bytes = std::vector<std::uint8_t>;

void put(Bytes& b, std::uint64_t value, unsigned size) {
    for (unsigned i = 0; i < size; ++i) b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putText(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

void pad8(Bytes& b, std::size_t from) {
    while ((b.size() - from) % 8) b.push_back(0);
}

ReadAt over(const Bytes& file) {
    return [&file](std::uint64_t offset, std::size_t size, std::uint8_t* out) {
        if (offset > file.size() || size > file.size() - offset) return false;
        std::memcpy(out, file.data() + offset, size);
        return true;
    };
}

// A collection at `at` holding `objects` as indices 1, 2, ..., then free space.
void collection(Bytes& file, std::uint64_t at, const std::vector<std::string>& objects,
                std::uint64_t statedSize = 4096) {
    file.resize(at);
    putText(file, "GCOL");
    put(file, 1, 1);
    put(file, 0, 3);
    put(file, statedSize, 8);
    std::uint16_t index = 1;
    for (const auto& text : objects) {
        put(file, index++, 2);
        put(file, 1, 2);
        put(file, 0, 4);
        put(file, text.size(), 8);
        const std::size_t from = file.size();
        putText(file, text);
        pad8(file, from);
    }
    put(file, 0, 2);  // the free space
    file.resize(at + 4096);
}

Bytes element(std::uint32_t length, std::uint64_t address, std::uint32_t index) {
    Bytes e;
    put(e, length, 4);
    put(e, address, 8);
    put(e, index, 4);
    return e;
}

TEST(GlobalHeapString, FindsTheObjectAndRefusesWhatContradictsIt) {
    Bytes file;
    collection(file, 64, {"nm", "hello"});
    const FileShape shape;
    const auto text = [&](const Bytes& e, std::size_t limit = 100) {
        return globalHeapString(over(file), shape, e, limit);
    };
    EXPECT_EQ(text(element(5, 64, 2)), "hello");
    EXPECT_EQ(text(element(2, 64, 1)), "nm");
    EXPECT_EQ(text(element(5, 64, 2), 3), "hel");
    EXPECT_EQ(text(element(0, ~0ull, 0)), "");      // an empty string has no heap object
    EXPECT_FALSE(text(element(6, 64, 2)));          // longer than its object
    EXPECT_FALSE(text(element(1, 64, 3)));          // no such object
    EXPECT_FALSE(text(element(1, 64, 0)));          // the free space is no string
    EXPECT_FALSE(text(element(1, 72, 1)));          // not a collection's start
    EXPECT_FALSE(text(element(1, 1 << 20, 1)));     // beyond the file
    EXPECT_FALSE(text(element(1, ~0ull - 8, 1)));   // an address that wraps
    EXPECT_FALSE(text(Bytes(15)));                  // a short element

    Bytes grown = file;  // object 1 claims more than the collection holds
    grown[64 + 16 + 8] = 0xFF;
    grown[64 + 16 + 8 + 3] = 0x7F;
    EXPECT_FALSE(globalHeapString(over(grown), shape, element(2, 64, 1), 100));
    EXPECT_FALSE(globalHeapString(over(grown), shape, element(5, 64, 2), 100));

    Bytes huge;  // a collection claiming 1 TiB is never allocated
    collection(huge, 0, {"nm"}, std::uint64_t{1} << 40);
    EXPECT_FALSE(globalHeapString(over(huge), shape, element(2, 0, 1), 100));
}

TEST(GlobalHeapString, AddressesCountFromTheBaseAfterAUserBlock) {
    Bytes file;
    collection(file, 512 + 64, {"[n_m]"});
    FileShape shape;
    shape.base = 512;
    EXPECT_EQ(globalHeapString(over(file), shape, element(5, 64, 1), 100), "[n_m]");
    shape.base = 0;
    EXPECT_FALSE(globalHeapString(over(file), shape, element(5, 64, 1), 100));
}

// An attribute message of version 1 (fields padded to 8) or 3 (not padded) named `name`.
Bytes attribute(int version, const std::string& name, const Bytes& data) {
    Bytes m;
    put(m, static_cast<unsigned>(version), 1);
    put(m, 0, 1);
    put(m, name.size() + 1, 2);
    put(m, 8, 2);  // a datatype of 8 bytes
    put(m, 8, 2);  // a dataspace of 8 bytes
    if (version == 3) put(m, 0, 1);
    std::size_t from = m.size();
    putText(m, name);
    m.push_back(0);
    if (version == 1) pad8(m, from);
    put(m, 0x0913, 8);  // stands for the datatype
    put(m, 0x0101, 8);  // and the dataspace
    m.insert(m.end(), data.begin(), data.end());
    return m;
}

void messageV1(Bytes& b, unsigned type, const Bytes& data) {
    put(b, type, 2);
    const std::size_t size = (data.size() + 7) / 8 * 8;
    put(b, size, 2);
    put(b, 0, 4);
    const std::size_t from = b.size();
    b.insert(b.end(), data.begin(), data.end());
    pad8(b, from);
}

Bytes continuation(std::uint64_t address, std::uint64_t length) {
    Bytes c;
    put(c, address, 8);
    put(c, length, 8);
    return c;
}

// A version-1 object header at 0 holding `count` messages: version, reserved, the count, the
// reference count, the messages' size, padding, then the messages.
Bytes objectHeaderV1(const Bytes& messages, unsigned count) {
    Bytes file;
    file.reserve(16 + messages.size());
    put(file, 1, 1);
    put(file, 0, 1);
    put(file, count, 2);
    put(file, 1, 4);
    put(file, messages.size(), 4);
    put(file, 0, 4);
    file.insert(file.end(), messages.begin(), messages.end());
    return file;
}

// A version-1 header at 0: a name attribute, a continuation to `next`, whose block holds the
// units attribute.
Bytes headerV1(std::uint64_t next, std::uint64_t nextLength) {
    Bytes chunk;
    messageV1(chunk, 0x0C, attribute(1, "name", {'x', 0}));
    messageV1(chunk, 0x10, continuation(next, nextLength));
    return objectHeaderV1(chunk, 3);
}

TEST(AttributeData, FoundThroughContinuationBlocksOfVersion1Headers) {
    Bytes file = headerV1(256, 0);
    Bytes block;
    messageV1(block, 0x0C, attribute(1, "units", element(5, 1024, 1)));
    file = headerV1(256, block.size());
    file.resize(256);
    file.insert(file.end(), block.begin(), block.end());
    const FileShape shape;
    EXPECT_EQ(attributeData(over(file), shape, 0, "units", 16), element(5, 1024, 1));
    EXPECT_EQ(attributeData(over(file), shape, 0, "name", 2), (Bytes{'x', 0}));
    EXPECT_EQ(attributeData(over(file), shape, 0, "unit", 16), std::nullopt);
    EXPECT_EQ(attributeData(over(file), shape, 0, "units", 4), (Bytes{5, 0, 0, 0}));

    // A continuation back to the header's own messages ends, refused, after a bounded walk.
    Bytes loop = headerV1(16, 64);
    loop.resize(256);
    EXPECT_EQ(attributeData(over(loop), shape, 0, "units", 16), std::nullopt);
    // One pointing past the file, or a message longer than its block, is refused too.
    EXPECT_EQ(attributeData(over(headerV1(1 << 20, 64)), shape, 0, "units", 16), std::nullopt);
    Bytes longMessage = file;
    longMessage[16 + 2] = 0xF0;
    EXPECT_EQ(attributeData(over(longMessage), shape, 0, "units", 16), std::nullopt);
}

TEST(AttributeData, FoundInVersion2HeadersWithCreationOrder) {
    Bytes chunk;
    for (const auto& [name, data] : {std::pair{std::string("name"), Bytes{'y', 0}},
                                     std::pair{std::string("units"), element(2, 4096, 7)}}) {
        const Bytes m = attribute(3, name, data);
        put(chunk, 0x0C, 1);
        put(chunk, m.size(), 2);
        put(chunk, 0, 1);
        put(chunk, 0, 2);  // creation order (flags bit 2)
        chunk.insert(chunk.end(), m.begin(), m.end());
    }
    chunk.push_back(0);  // a gap shorter than a message's header
    Bytes file(64);
    putText(file, "OHDR");
    put(file, 2, 1);
    put(file, 0x04 | 0x01, 1);  // creation order tracked; chunk size in 2 bytes
    put(file, chunk.size(), 2);
    file.insert(file.end(), chunk.begin(), chunk.end());
    put(file, 0, 4);  // checksum
    EXPECT_EQ(attributeData(over(file), FileShape{}, 64, "units", 16), element(2, 4096, 7));
    EXPECT_EQ(attributeData(over(file), FileShape{}, 64, "name", 16), (Bytes{'y', 0}));
    EXPECT_EQ(attributeData(over(file), FileShape{}, 0, "units", 16), std::nullopt);
}

TEST(CompactData, TheLayoutMessagesData) {
    Bytes layout;
    put(layout, 3, 1);
    put(layout, 0, 1);  // compact
    put(layout, 16, 2);
    const Bytes data = element(4, 800, 1);
    for (const std::uint8_t b : data) layout.push_back(b);
    Bytes chunk;
    messageV1(chunk, 0x08, layout);
    Bytes file = objectHeaderV1(chunk, 1);
    EXPECT_EQ(compactData(over(file), FileShape{}, 0, 16), data);
    file[16 + 8 + 1] = 1;  // contiguous: no data in the header
    EXPECT_EQ(compactData(over(file), FileShape{}, 0, 16), std::nullopt);
}

}  // namespace
