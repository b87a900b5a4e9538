#include "image/tiff_header.h"

#include "image/import_detail.h"

namespace image {

std::optional<TiffHeader> readTiffHeader(std::span<const std::uint8_t> f) {
    using namespace detail;
    if (f.size() < 8) return std::nullopt;
    bool big;
    if (f[0] == 'I' && f[1] == 'I')
        big = false;
    else if (f[0] == 'M' && f[1] == 'M')
        big = true;
    else
        return std::nullopt;
    auto u16 = [&](std::uint64_t at) { return big ? u16be(f.data() + at) : u16le(f.data() + at); };
    auto u32 = [&](std::uint64_t at) { return big ? u32be(f.data() + at) : u32le(f.data() + at); };
    if (u16(2) != 42) return std::nullopt;

    TiffHeader h;
    std::uint64_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > f.size()) return std::nullopt;
    const std::uint64_t entries = u16(ifd);
    if (ifd + 2 + entries * 12 + 4 > f.size()) return std::nullopt;
    for (std::uint64_t k = 0; k < entries; ++k) {
        const std::uint64_t e = ifd + 2 + 12 * k;
        const std::uint16_t tag = u16(e), type = u16(e + 2);
        const std::uint32_t count = u32(e + 4);
        // The first value of a SHORT or LONG field, inline or at its offset.
        auto first = [&]() -> std::optional<std::uint32_t> {
            const std::uint64_t size = type == 3 ? 2 : type == 4 ? 4 : 0;
            if (size == 0 || count == 0) return std::nullopt;
            std::uint64_t at = e + 8;
            if (size * count > 4) {
                at = u32(e + 8);
                if (at + size > f.size()) return std::nullopt;
            }
            return size == 2 ? u16(at) : u32(at);
        };
        const auto v = first();
        switch (tag) {
            case 256: if (v) h.width = *v; break;
            case 257: if (v) h.height = *v; break;
            case 258: if (v) h.bitsPerSample = static_cast<std::uint16_t>(*v); break;
            case 262: if (v) h.photometric = static_cast<std::uint16_t>(*v); break;
            case 277: if (v) h.samplesPerPixel = static_cast<std::uint16_t>(*v); break;
            case 296: if (v) h.resolutionUnit = static_cast<std::uint16_t>(*v); break;
            case 339: if (v) h.sampleFormat = static_cast<std::uint16_t>(*v); break;
            case 270:
                if (type == 2 && count > 0) {
                    const std::uint64_t at = count > 4 ? u32(e + 8) : e + 8;
                    if (at + count <= f.size()) {
                        h.description.assign(reinterpret_cast<const char*>(f.data() + at), count);
                        h.description.resize(h.description.find('\0') == std::string::npos
                                                 ? h.description.size()
                                                 : h.description.find('\0'));
                    }
                }
                break;
            case 282:
                if (type == 5 && count >= 1) {
                    const std::uint64_t at = u32(e + 8);
                    if (at + 8 <= f.size() && u32(at + 4) != 0)
                        h.xResolution = static_cast<double>(u32(at)) / u32(at + 4);
                }
                break;
            default: break;
        }
    }
    // Count the images, stopping at a loop or a directory outside the file.
    std::uint64_t next = u32(ifd + 2 + entries * 12);
    for (int guard = 0; next != 0 && guard < 100000; ++guard) {
        if (next <= ifd || next + 2 > f.size()) break;
        const std::uint64_t n = u16(next);
        if (next + 2 + n * 12 + 4 > f.size()) break;
        ++h.imageCount;
        ifd = next;
        next = u32(next + 2 + n * 12);
    }
    return h;
}

}  // namespace image
