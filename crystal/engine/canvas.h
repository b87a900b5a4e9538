// A small drawing surface for the sliced-plane pages and the unit-cell sketch.
//
// Coordinates are pixels, x to the right, y down, as in GDI. Shapes follow GDI's conventions so
// that the program's GDI canvas and the software raster draw the same pixels: a line leaves out
// its end point, an ellipse or rectangle fills its box without the right column and bottom row.
// Colours are 0x00BBGGRR values; the pages use only colours of the 16-colour table below.
//
// RasterCanvas keeps one 4-bit colour index per pixel and draws text with a built-in 7 x 13
// bitmap font (ASCII 32..126), so pages can be drawn and saved without a window system.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "crystal/engine/crystal_model.h"

namespace crystal {

struct Point {
    int x, y;
};

// Pens other than the plain 1-pixel one: the unit-cell sketch draws its axes 2 pixels wide and
// the far edges of the cell dotted (2 pixels on, 2 off, counted from the start of each line).
enum class PenStyle { Solid, Wide, Dotted };

struct FontMetrics {
    int height = 0;           // tmHeight
    int externalLeading = 0;  // tmExternalLeading
};

class Canvas {
  public:
    virtual ~Canvas() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    // Fills [left, right) x [top, bottom).
    virtual void fillRect(int left, int top, int right, int bottom, ColourValue colour) = 0;
    virtual void line(Point from, Point to, ColourValue pen) = 0;
    virtual void polyline(const Point* points, int count, ColourValue pen) = 0;
    virtual void styledPolyline(const Point* points, int count, ColourValue pen,
                                PenStyle style) = 0;
    // Ellipse in the box [left, right) x [top, bottom): outline in `pen`, inside in `brush`
    // unless `filled` is false.
    virtual void ellipse(int left, int top, int right, int bottom, ColourValue pen,
                         ColourValue brush, bool filled = true) = 0;
    // Outline of the box [left, right) x [top, bottom).
    virtual void rectangle(int left, int top, int right, int bottom, ColourValue pen) = 0;
    // Part of the outline of the ellipse in the box, counter-clockwise from the ray through
    // `start` to the ray through `end` (both from the centre), as GDI's Arc draws it.
    virtual void arc(int left, int top, int right, int bottom, Point start, Point end,
                     ColourValue pen) = 0;
    // Text with its cell's top-left corner at (x, y), on an opaque white background.
    virtual void text(int x, int y, std::string_view s, ColourValue colour) = 0;
    virtual int textWidth(std::string_view s) const = 0;
    virtual FontMetrics fontMetrics() const = 0;
};

// The 16-colour table of captured pages (red, green, blue).
inline constexpr int kPaletteSize = 16;
extern const ColourValue kPagePalette[kPaletteSize];
// Nearest table entry of a colour.
int paletteIndexOf(ColourValue colour);

class RasterCanvas final : public Canvas {
  public:
    RasterCanvas(int width, int height);
    int width() const override { return width_; }
    int height() const override { return height_; }
    void fillRect(int left, int top, int right, int bottom, ColourValue colour) override;
    void line(Point from, Point to, ColourValue pen) override;
    void polyline(const Point* points, int count, ColourValue pen) override;
    void styledPolyline(const Point* points, int count, ColourValue pen, PenStyle style) override;
    void ellipse(int left, int top, int right, int bottom, ColourValue pen, ColourValue brush,
                 bool filled = true) override;
    void rectangle(int left, int top, int right, int bottom, ColourValue pen) override;
    void arc(int left, int top, int right, int bottom, Point start, Point end,
             ColourValue pen) override;
    void text(int x, int y, std::string_view s, ColourValue colour) override;
    int textWidth(std::string_view s) const override;
    FontMetrics fontMetrics() const override;

    // Palette index of a pixel (0 outside the surface).
    int indexAt(int x, int y) const;
    // The palette indices of row y (0 <= y < height), width() of them.
    const std::uint8_t* row(int y) const { return pixels_.data() + std::size_t(y) * width_; }
    void plot(int x, int y, int index) {
        if (x >= 0 && y >= 0 && x < width_ && y < height_)
            pixels_[std::size_t(y) * width_ + x] = std::uint8_t(index);
    }

  private:
    void styledLine(Point from, Point to, int index, PenStyle style);
    int width_, height_;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace crystal
