// One sample decoder for every reader of stored samples (MRC, DM, TIFF, TIA series, EMD): a run
// of samples of one type in one byte order becomes doubles, exactly (every type widens to a
// double without rounding). The readers decide where the run lies and in which order its rows
// go; the decoder only widens.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "image/import.h"

namespace image {

enum class ByteOrder { Little, Big };

// The machine's own order: for samples a library (libtiff, HDF5) has already put in it.
inline constexpr ByteOrder kNativeOrder =
    std::endian::native == std::endian::little ? ByteOrder::Little : ByteOrder::Big;

// Bytes one stored sample of `type` takes.
std::size_t storedSampleBytes(SampleType type);

// Widens out.size() samples of `type` in `order` from `bytes`, the first at its start and each
// next one `stride` bytes further (0: packed, one after the other). False, with nothing
// written, when `bytes` ends before the last sample.
[[nodiscard]] bool decodeSamples(SampleType type, ByteOrder order,
                                 std::span<const std::uint8_t> bytes, std::span<double> out,
                                 std::size_t stride = 0);

}  // namespace image
