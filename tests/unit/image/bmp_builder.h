// Builds BMP files byte by byte for the image tests, including malformed ones.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>

#include "image/packed_dib.h"

namespace testbmp {

struct Bmp {
    std::int32_t width = 64;
    std::int32_t height = 64;
    std::uint16_t bitCount = 8;
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t infoSize = 40;
    std::vector<std::uint8_t> palette;  // grey levels, one entry each (written blue = green = red)
    std::vector<std::uint8_t> pixels;   // everything after the palette
};

inline std::vector<std::uint8_t> build(const Bmp& b) {
    std::vector<std::uint8_t> f(54 + 4 * b.palette.size() + b.pixels.size());
    f[0] = 'B';
    f[1] = 'M';
    image::storeU32(&f[2], static_cast<std::uint32_t>(f.size()));
    image::storeU32(&f[10], static_cast<std::uint32_t>(54 + 4 * b.palette.size()));
    image::storeU32(&f[14], b.infoSize);
    image::storeU32(&f[18], static_cast<std::uint32_t>(b.width));
    image::storeU32(&f[22], static_cast<std::uint32_t>(b.height));
    image::storeU16(&f[26], 1);
    image::storeU16(&f[28], b.bitCount);
    image::storeU32(&f[30], b.compression);
    image::storeU32(&f[34], static_cast<std::uint32_t>(b.pixels.size()));
    image::storeU32(&f[46], b.clrUsed);
    for (std::size_t i = 0; i < b.palette.size(); ++i) {
        f[54 + 4 * i] = f[55 + 4 * i] = f[56 + 4 * i] = b.palette[i];
    }
    std::copy(b.pixels.begin(), b.pixels.end(), f.begin() + 54 + 4 * b.palette.size());
    return f;
}

inline std::vector<std::uint8_t> identityPalette() {
    std::vector<std::uint8_t> p(256);
    for (int i = 0; i < 256; ++i) p[i] = static_cast<std::uint8_t>(i);
    return p;
}

inline std::size_t padded(std::int32_t width) {
    return (static_cast<std::size_t>(width) + 3) / 4 * 4;
}

// An uncompressed 8-bit grey file with an identity palette; pixel (x, row) = (x + 3 * row) & 255,
// rows counted as stored (bottom row first).
inline Bmp greyBmp(std::int32_t width, std::int32_t height) {
    Bmp b;
    b.width = width;
    b.height = height;
    b.palette = identityPalette();
    const std::size_t stride = padded(width);
    b.pixels.assign(stride * static_cast<std::size_t>(height), 0);
    for (std::int32_t r = 0; r < height; ++r)
        for (std::int32_t x = 0; x < width; ++x)
            b.pixels[r * stride + x] = static_cast<std::uint8_t>(x + 3 * r);
    return b;
}

inline std::vector<std::uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void writeAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A fresh empty folder for one test.
inline std::filesystem::path scratchDir(const std::string& name) {
    const auto dir = std::filesystem::path(SUITE_BINARY_DIR) / "image_scratch" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Makes every write past `bytes` in a file fail (EFBIG) while it lives: a full disk for one test.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

}  // namespace testbmp
