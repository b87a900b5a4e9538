// The sample decoder every reader shares, on bytes numpy wrote (tobytes of each dtype in either
// byte order) and the values numpy widens them to.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "image/samples.h"

using image::ByteOrder;
using image::SampleType;

namespace {

std::vector<double> decode(SampleType type, ByteOrder order, std::vector<std::uint8_t> bytes,
                           std::size_t count, std::size_t stride = 0) {
    std::vector<double> out(count, -12345.0);
    EXPECT_TRUE(image::decodeSamples(type, order, bytes, out, stride));
    return out;
}

TEST(SampleDecoder, EveryTypeInBothByteOrdersAsNumpyWidensIt) {
    EXPECT_EQ(decode(SampleType::I16, ByteOrder::Big, {255, 254, 1, 44}, 2),
              (std::vector<double>{-2, 300}));
    EXPECT_EQ(decode(SampleType::I16, ByteOrder::Little, {254, 255, 44, 1}, 2),
              (std::vector<double>{-2, 300}));
    EXPECT_EQ(decode(SampleType::U16, ByteOrder::Big, {255, 254}, 1), (std::vector<double>{65534}));
    EXPECT_EQ(decode(SampleType::U32, ByteOrder::Big, {238, 107, 40, 0, 0, 0, 0, 7}, 2),
              (std::vector<double>{4000000000.0, 7}));
    EXPECT_EQ(decode(SampleType::I32, ByteOrder::Little, {144, 238, 254, 255, 5, 0, 0, 0}, 2),
              (std::vector<double>{-70000, 5}));
    EXPECT_EQ(decode(SampleType::F32, ByteOrder::Big, {63, 192, 0, 0, 190, 32, 0, 0}, 2),
              (std::vector<double>{1.5, -0.15625}));
    EXPECT_EQ(decode(SampleType::F64, ByteOrder::Little,
                     {89, 243, 248, 194, 31, 110, 165, 1, 0, 0, 0, 0, 0, 0, 4, 192}, 2),
              (std::vector<double>{1e-300, -2.5}));
    EXPECT_EQ(decode(SampleType::I8, ByteOrder::Big, {128, 127}, 2),
              (std::vector<double>{-128, 127}));
    EXPECT_EQ(decode(SampleType::U8, ByteOrder::Little, {128, 127}, 2),
              (std::vector<double>{128, 127}));
}

TEST(SampleDecoder, HalfPrecisionNormalSubnormalSignedZeroAndInfinity) {
    const auto v = decode(SampleType::F16, ByteOrder::Big, {60, 0, 123, 255, 0, 1, 128, 0, 124, 0},
                          5);
    EXPECT_EQ(v[0], 1.0);
    EXPECT_EQ(v[1], 65504.0);
    EXPECT_EQ(v[2], 5.960464477539063e-08);
    EXPECT_TRUE(v[3] == 0.0 && std::signbit(v[3]));
    EXPECT_TRUE(std::isinf(v[4]) && v[4] > 0);
}

TEST(SampleDecoder, StrideTakesOneChannelOfInterleavedPixels) {
    // Three little-endian uint16 channels a pixel: (1, 2, 3), (4, 5, 6).
    const std::vector<std::uint8_t> rgb = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0};
    EXPECT_EQ(decode(SampleType::U16, ByteOrder::Little, rgb, 2, 6), (std::vector<double>{1, 4}));
    std::vector<double> green(2);
    ASSERT_TRUE(image::decodeSamples(SampleType::U16, ByteOrder::Little,
                                     std::span<const std::uint8_t>(rgb).subspan(2), green, 6));
    EXPECT_EQ(green, (std::vector<double>{2, 5}));
}

TEST(SampleDecoder, RefusesBytesThatEndBeforeTheLastSampleAndWritesNothing) {
    std::vector<double> out(3, 7.0);
    const std::vector<std::uint8_t> five(5, 0);
    EXPECT_FALSE(image::decodeSamples(SampleType::U16, ByteOrder::Little, five, out));
    EXPECT_FALSE(image::decodeSamples(SampleType::F64, ByteOrder::Big, five, out));
    // A stride shorter than a sample would read samples over each other.
    EXPECT_FALSE(image::decodeSamples(SampleType::U32, ByteOrder::Little, five, out, 2));
    // Two strides of 2 and the last sample's 2 bytes: 6 bytes, one more than there are.
    EXPECT_FALSE(image::decodeSamples(SampleType::U16, ByteOrder::Little, five, out, 2));
    EXPECT_EQ(out, (std::vector<double>(3, 7.0)));
    std::vector<double> none;
    EXPECT_TRUE(image::decodeSamples(SampleType::F64, ByteOrder::Little, {}, none));
}

}  // namespace
