#include "image/samples.h"

#include <cstring>
#include <type_traits>

#include "image/import_detail.h"

namespace image {

namespace {

template <typename Bits>
Bits swapped(Bits v) {
    Bits out = 0;
    for (std::size_t i = 0; i < sizeof(Bits); ++i) {
        out = static_cast<Bits>(out << 8 | (v & 0xFF));
        v = static_cast<Bits>(v >> 8);
    }
    return out;
}

// The unsigned integer of a sample's width, to swap before the bits are read as the type.
template <std::size_t N> struct BitsOf;
template <> struct BitsOf<1> { using type = std::uint8_t; };
template <> struct BitsOf<2> { using type = std::uint16_t; };
template <> struct BitsOf<4> { using type = std::uint32_t; };
template <> struct BitsOf<8> { using type = std::uint64_t; };

// Half precision has no C++ type: its bits are carried as a 16-bit unsigned integer.
struct Half {
    std::uint16_t bits;
};

template <typename T>
void widen(const std::uint8_t* in, std::size_t stride, bool swap, std::span<double> out) {
    using Bits = typename BitsOf<sizeof(T)>::type;
    for (double& o : out) {
        Bits bits;
        std::memcpy(&bits, in, sizeof bits);
        if (swap) bits = swapped(bits);
        if constexpr (std::is_same_v<T, Half>) {
            o = detail::halfToDouble(bits);
        } else {
            T v;
            std::memcpy(&v, &bits, sizeof v);
            o = static_cast<double>(v);
        }
        in += stride;
    }
}

}  // namespace

std::size_t storedSampleBytes(SampleType type) {
    switch (type) {
        case SampleType::U8: case SampleType::I8: return 1;
        case SampleType::U16: case SampleType::I16: case SampleType::F16: return 2;
        case SampleType::U32: case SampleType::I32: case SampleType::F32: return 4;
        case SampleType::F64: return 8;
    }
    return 8;
}

bool decodeSamples(SampleType type, ByteOrder order, std::span<const std::uint8_t> bytes,
                   std::span<double> out, std::size_t stride) {
    const std::size_t size = storedSampleBytes(type);
    if (stride == 0) stride = size;
    if (out.empty()) return true;
    // The last sample starts (n - 1) strides in and must end inside the bytes.
    if (stride < size || bytes.size() < size || (bytes.size() - size) / stride < out.size() - 1)
        return false;
    const bool swap = order != kNativeOrder;
    const std::uint8_t* in = bytes.data();
    switch (type) {
        case SampleType::U8: widen<std::uint8_t>(in, stride, false, out); break;
        case SampleType::I8: widen<std::int8_t>(in, stride, false, out); break;
        case SampleType::U16: widen<std::uint16_t>(in, stride, swap, out); break;
        case SampleType::I16: widen<std::int16_t>(in, stride, swap, out); break;
        case SampleType::U32: widen<std::uint32_t>(in, stride, swap, out); break;
        case SampleType::I32: widen<std::int32_t>(in, stride, swap, out); break;
        case SampleType::F16: widen<Half>(in, stride, swap, out); break;
        case SampleType::F32: widen<float>(in, stride, swap, out); break;
        case SampleType::F64: widen<double>(in, stride, swap, out); break;
    }
    return true;
}

}  // namespace image
