// The crystal pages and the unit-cell sketch drawn with GDI: the Canvas of the crystal engine on
// a device context, so the program and kestral-cli draw a page with the same routine.
#pragma once

#include <windows.h>

#include "crystal/engine/canvas.h"

namespace kestral {

class GdiCanvas final : public crystal::Canvas {
  public:
    // Draws on `dc` (not owned) of the given size with the font selected into it.
    GdiCanvas(HDC dc, int width, int height);
    ~GdiCanvas() override;
    GdiCanvas(const GdiCanvas&) = delete;
    GdiCanvas& operator=(const GdiCanvas&) = delete;

    int width() const override { return width_; }
    int height() const override { return height_; }
    void fillRect(int left, int top, int right, int bottom, crystal::ColourValue colour) override;
    void line(crystal::Point from, crystal::Point to, crystal::ColourValue pen) override;
    void polyline(const crystal::Point* points, int count, crystal::ColourValue pen) override;
    void styledPolyline(const crystal::Point* points, int count, crystal::ColourValue pen,
                        crystal::PenStyle style) override;
    void ellipse(int left, int top, int right, int bottom, crystal::ColourValue pen,
                 crystal::ColourValue brush, bool filled = true) override;
    void rectangle(int left, int top, int right, int bottom, crystal::ColourValue pen) override;
    void arc(int left, int top, int right, int bottom, crystal::Point start, crystal::Point end,
             crystal::ColourValue pen) override;
    void text(int x, int y, std::string_view s, crystal::ColourValue colour) override;
    int textWidth(std::string_view s) const override;
    crystal::FontMetrics fontMetrics() const override;

  private:
    void usePen(crystal::ColourValue colour, crystal::PenStyle style);
    void useBrush(crystal::ColourValue colour, bool filled);

    HDC dc_;
    int width_, height_;
    HPEN pen_ = nullptr;
    crystal::ColourValue penColour_ = 0;
    crystal::PenStyle penStyle_ = crystal::PenStyle::Solid;
    HBRUSH brush_ = nullptr;
    crystal::ColourValue brushColour_ = 0;
    HGDIOBJ originalPen_, originalBrush_;
};

// A copy of the system font drawn without smoothing, so every pixel of a page has one of the
// sixteen colours of a captured page.
HFONT createPageFont();

}  // namespace kestral
