#include "spectrum/engine/scale_bar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace spectrum {

namespace {

// 5 x 7 glyphs of the characters a label holds; bit 4 of a row is its leftmost pixel.
struct Glyph {
    char c;
    unsigned char rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04}},
    {'/', {0x01, 0x01, 0x02, 0x04, 0x08, 0x10, 0x10}},
    {'m', {0x00, 0x00, 0x1A, 0x15, 0x15, 0x11, 0x11}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const unsigned char* glyphOf(char c) {
    for (const Glyph& g : kGlyphs)
        if (g.c == c) return g.rows;
    return kGlyphs[std::size(kGlyphs) - 1].rows;
}

// The picture's pixels, x from the left and y from the top, clipped to the picture.
class Pixels {
  public:
    explicit Pixels(image::CurrentImage& picture) : picture_(picture) {
        width_ = picture.dib.width();
        height_ = picture.dib.height();
        stride_ = (width_ + 3) / 4 * 4;
        const std::uint32_t used = picture.dib.u32(image::info::biClrUsed);
        colours_ = used ? std::min<std::uint32_t>(used, 256) : 256;
        offset_ = image::kInfoHeaderSize + std::size_t{colours_} * 4;
        valid_ = picture.dib.u16(image::info::biBitCount) == 8 && width_ > 0 && height_ > 0 &&
                 picture.dib.block.size() >= offset_ + std::size_t(stride_) * height_;
    }
    bool valid() const { return valid_; }
    int width() const { return width_; }
    int height() const { return height_; }
    void fill(int left, int top, int right, int bottom, std::uint8_t value) {
        for (int y = std::max(0, top); y < std::min(bottom, height_); ++y)
            for (int x = std::max(0, left); x < std::min(right, width_); ++x)
                picture_.dib.block[offset_ + std::size_t(height_ - 1 - y) * stride_ + x] = value;
    }
    // The colour-table entries of least and most luminance.
    void extremes(std::uint8_t& darkest, std::uint8_t& brightest) const {
        long low = 1L << 30, high = -1;
        for (std::uint32_t i = 0; i < colours_; ++i) {
            const std::uint8_t* q = &picture_.dib.block[image::kInfoHeaderSize + i * 4];
            const long y = 114L * q[0] + 587L * q[1] + 299L * q[2];  // blue, green, red
            if (y < low) low = y, darkest = static_cast<std::uint8_t>(i);
            if (y > high) high = y, brightest = static_cast<std::uint8_t>(i);
        }
    }

  private:
    image::CurrentImage& picture_;
    int width_ = 0, height_ = 0, stride_ = 0;
    std::uint32_t colours_ = 256;
    std::size_t offset_ = 0;
    bool valid_ = false;
};

}  // namespace

double roundLengthAtMost(double limit, int* decimals) {
    int power = static_cast<int>(std::floor(std::log10(limit)));
    double unit = std::pow(10.0, power);
    // log10 may land a hair off for an exact power of ten.
    if (unit > limit) unit = std::pow(10.0, --power);
    if (unit * 10 <= limit) unit = std::pow(10.0, ++power);
    double length = unit;
    for (const double m : {2.0, 5.0})
        if (m * unit <= limit) length = m * unit;
    if (decimals) *decimals = power < 0 ? -power : 0;
    return length;
}

std::optional<ScaleBar> chooseScaleBar(int side,
                                       const std::optional<image::PixelSize>& pixelSizeNm) {
    if (!pixelSizeNm || !(pixelSizeNm->x > 0) || !std::isfinite(pixelSizeNm->x) || side <= 0)
        return std::nullopt;
    const double perPixel = 1.0 / (side * pixelSizeNm->x);  // 1/nm
    const double limit = side / 4.0 * perPixel;
    if (!std::isfinite(limit) || !(limit > 0)) return std::nullopt;
    ScaleBar bar;
    int decimals = 0;
    bar.length = roundLengthAtMost(limit, &decimals);
    bar.pixels = static_cast<int>(std::lround(bar.length / perPixel));
    char text[48];
    std::snprintf(text, sizeof text, "%.*f 1/nm", decimals, bar.length);
    bar.label = text;
    return bar;
}

void drawScaleBar(image::CurrentImage& picture, const ScaleBar& bar) {
    Pixels pixels(picture);
    if (!pixels.valid() || bar.pixels <= 0) return;
    std::uint8_t dark = 0, bright = 255;
    pixels.extremes(dark, bright);
    const int k = std::max(1, pixels.width() / 256);  // the size of a glyph's pixel
    const int margin = 3 * k, pad = 2 * k, thickness = 2 * k, gap = 2 * k;
    const int labelWidth = static_cast<int>(bar.label.size()) * 6 * k - k;
    const int right = pixels.width() - margin, bottom = pixels.height() - margin;
    const int panelWidth = std::max(bar.pixels, labelWidth) + 2 * pad;
    const int panelHeight = pad + 7 * k + gap + thickness + pad;
    pixels.fill(right - panelWidth, bottom - panelHeight, right, bottom, dark);
    // The bar along the panel's foot, the label above it, both to the right.
    pixels.fill(right - pad - bar.pixels, bottom - pad - thickness, right - pad, bottom - pad,
                bright);
    const int top = bottom - panelHeight + pad;
    int x = right - pad - labelWidth;
    for (const char c : bar.label) {
        const unsigned char* rows = glyphOf(c);
        for (int r = 0; r < 7; ++r)
            for (int col = 0; col < 5; ++col)
                if (rows[r] >> (4 - col) & 1)
                    pixels.fill(x + col * k, top + r * k, x + (col + 1) * k, top + (r + 1) * k,
                                bright);
        x += 6 * k;
    }
}

}  // namespace spectrum
