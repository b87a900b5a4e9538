#include "image/tiff_write.h"

#include <cmath>
#include <cstring>
#include <string>

#include "image/packed_dib.h"

namespace image {

namespace {

enum FieldType : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

struct Entry {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;  // the value itself (SHORT, LONG) or the offset of the data
};

// num / den close to `value` with both in 32 bits, the denominator as large as possible.
void toRational(double value, std::uint32_t& num, std::uint32_t& den) {
    const double limit = 4294967295.0;
    double d = value > 1 ? std::floor(limit / value) : limit;
    if (d < 1) d = 1;
    num = static_cast<std::uint32_t>(std::min(limit, std::round(value * d)));
    den = static_cast<std::uint32_t>(d);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodeFloatTiff(int width, int height,
                                                         const std::vector<float>& samples,
                                                         std::optional<PixelSize> pixelSizeNm) {
    static_assert(sizeof(float) == 4);
    if (width <= 0 || height <= 0 ||
        samples.size() != static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height))
        return std::nullopt;
    return encodeGreyTiff(width, height, 32, kSampleFloat, samples.data(), pixelSizeNm);
}

std::optional<std::vector<std::uint8_t>> encodeGreyTiff(int width, int height, int bitsPerSample,
                                                        int sampleFormat, const void* samples,
                                                        std::optional<PixelSize> pixelSizeNm) {
    if (bitsPerSample != 8 && bitsPerSample != 16 && bitsPerSample != 32 && bitsPerSample != 64)
        return std::nullopt;
    const std::uint64_t dataBytes =
        std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(bitsPerSample / 8);
    if (width <= 0 || height <= 0 || dataBytes > 0xFFFFFFFFull - (1u << 20))
        return std::nullopt;
    const bool calibrated = pixelSizeNm && std::isfinite(pixelSizeNm->x) && pixelSizeNm->x > 0 &&
                            std::isfinite(pixelSizeNm->y) && pixelSizeNm->y > 0;
    const std::string description = "ImageJ=1.11a\nunit=nm\n";

    std::vector<std::uint8_t> out(8 + static_cast<std::size_t>(dataBytes));
    out[0] = 'I';
    out[1] = 'I';
    storeU16(out.data() + 2, 42);
    std::memcpy(out.data() + 8, samples, static_cast<std::size_t>(dataBytes));

    // Extra data after the pixels: the description and the two resolutions.
    auto append = [&](const void* data, std::size_t n) {
        if (out.size() % 2) out.push_back(0);
        const std::uint32_t at = static_cast<std::uint32_t>(out.size());
        const auto* p = static_cast<const std::uint8_t*>(data);
        out.insert(out.end(), p, p + n);
        return at;
    };
    std::vector<Entry> entries = {
        {256, kLong, 1, static_cast<std::uint32_t>(width)},
        {257, kLong, 1, static_cast<std::uint32_t>(height)},
        {258, kShort, 1, static_cast<std::uint32_t>(bitsPerSample)},
        {259, kShort, 1, 1},  // no compression
        {262, kShort, 1, 1},  // black is zero
    };
    if (calibrated)
        entries.push_back(
            {270, kAscii, static_cast<std::uint32_t>(description.size() + 1),
             append(description.c_str(), description.size() + 1)});
    entries.push_back({273, kLong, 1, 8});
    entries.push_back({277, kShort, 1, 1});
    entries.push_back({278, kLong, 1, static_cast<std::uint32_t>(height)});
    entries.push_back({279, kLong, 1, static_cast<std::uint32_t>(dataBytes)});
    if (calibrated) {
        auto resolution = [&](double nm) {
            std::uint8_t rational[8];
            std::uint32_t num, den;
            toRational(1.0 / nm, num, den);
            storeU32(rational, num);
            storeU32(rational + 4, den);
            return append(rational, 8);
        };
        const std::uint32_t x = resolution(pixelSizeNm->x);
        const std::uint32_t y = resolution(pixelSizeNm->y);
        entries.push_back({282, kRational, 1, x});
        entries.push_back({283, kRational, 1, y});
        entries.push_back({296, kShort, 1, 1});  // no absolute unit: ImageJ's description names it
    }
    entries.push_back({339, kShort, 1, static_cast<std::uint32_t>(sampleFormat)});

    if (out.size() % 2) out.push_back(0);
    storeU32(out.data() + 4, static_cast<std::uint32_t>(out.size()));
    std::uint8_t field[12];
    storeU16(field, static_cast<std::uint16_t>(entries.size()));
    out.insert(out.end(), field, field + 2);
    for (const Entry& e : entries) {
        std::memset(field, 0, sizeof field);
        storeU16(field, e.tag);
        storeU16(field + 2, e.type);
        storeU32(field + 4, e.count);
        if (e.type == kShort)
            storeU16(field + 8, static_cast<std::uint16_t>(e.value));
        else
            storeU32(field + 8, e.value);
        out.insert(out.end(), field, field + 12);
    }
    std::memset(field, 0, 4);
    out.insert(out.end(), field, field + 4);  // no next image
    return out;
}

}  // namespace image
