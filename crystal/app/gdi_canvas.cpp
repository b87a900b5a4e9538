#include "crystal/app/gdi_canvas.h"

#include "core/wide_path.h"

#include <string>
#include <vector>

namespace kestral {

namespace {

std::vector<POINT> toPoints(const crystal::Point* points, int count) {
    std::vector<POINT> out(static_cast<std::size_t>(count > 0 ? count : 0));
    for (int i = 0; i < count; ++i) out[i] = {points[i].x, points[i].y};
    return out;
}

}  // namespace

GdiCanvas::GdiCanvas(HDC dc, int width, int height)
    : dc_(dc),
      width_(width),
      height_(height),
      originalPen_(GetCurrentObject(dc, OBJ_PEN)),
      originalBrush_(GetCurrentObject(dc, OBJ_BRUSH)) {}

GdiCanvas::~GdiCanvas() {
    SelectObject(dc_, originalPen_);
    SelectObject(dc_, originalBrush_);
    if (pen_) DeleteObject(pen_);
    if (brush_) DeleteObject(brush_);
}

void GdiCanvas::usePen(crystal::ColourValue colour, crystal::PenStyle style) {
    if (pen_ && colour == penColour_ && style == penStyle_) return;
    const int kind = style == crystal::PenStyle::Dotted ? PS_DOT : PS_SOLID;
    const int width = style == crystal::PenStyle::Wide ? 2 : 1;
    HPEN pen = CreatePen(kind, width, colour);
    if (!pen) return;
    SelectObject(dc_, pen);
    if (pen_) DeleteObject(pen_);
    pen_ = pen;
    penColour_ = colour;
    penStyle_ = style;
}

void GdiCanvas::useBrush(crystal::ColourValue colour, bool filled) {
    if (!filled) {
        SelectObject(dc_, GetStockObject(NULL_BRUSH));
        return;
    }
    if (!brush_ || colour != brushColour_) {
        HBRUSH brush = CreateSolidBrush(colour);
        if (!brush) return;
        if (brush_) {
            SelectObject(dc_, brush);
            DeleteObject(brush_);
        }
        brush_ = brush;
        brushColour_ = colour;
    }
    SelectObject(dc_, brush_);
}

void GdiCanvas::fillRect(int left, int top, int right, int bottom, crystal::ColourValue colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    if (!brush) return;
    const RECT r{left, top, right, bottom};
    FillRect(dc_, &r, brush);
    DeleteObject(brush);
}

void GdiCanvas::line(crystal::Point from, crystal::Point to, crystal::ColourValue pen) {
    usePen(pen, crystal::PenStyle::Solid);
    MoveToEx(dc_, from.x, from.y, nullptr);
    LineTo(dc_, to.x, to.y);
}

void GdiCanvas::polyline(const crystal::Point* points, int count, crystal::ColourValue pen) {
    styledPolyline(points, count, pen, crystal::PenStyle::Solid);
}

void GdiCanvas::styledPolyline(const crystal::Point* points, int count, crystal::ColourValue pen,
                               crystal::PenStyle style) {
    if (count < 2) return;
    usePen(pen, style);
    const std::vector<POINT> p = toPoints(points, count);
    Polyline(dc_, p.data(), count);
}

void GdiCanvas::ellipse(int left, int top, int right, int bottom, crystal::ColourValue pen,
                        crystal::ColourValue brush, bool filled) {
    usePen(pen, crystal::PenStyle::Solid);
    useBrush(brush, filled);
    Ellipse(dc_, left, top, right, bottom);
}

void GdiCanvas::rectangle(int left, int top, int right, int bottom, crystal::ColourValue pen) {
    usePen(pen, crystal::PenStyle::Solid);
    useBrush(0, false);
    Rectangle(dc_, left, top, right, bottom);
}

void GdiCanvas::arc(int left, int top, int right, int bottom, crystal::Point start,
                    crystal::Point end, crystal::ColourValue pen) {
    usePen(pen, crystal::PenStyle::Solid);
    Arc(dc_, left, top, right, bottom, start.x, start.y, end.x, end.y);
}

namespace {
bool hasWideCharacters(const std::string& s) {
    for (unsigned char c : s)
        if (c >= 0x80) return true;
    return false;
}
}  // namespace

void GdiCanvas::text(int x, int y, std::string_view s, crystal::ColourValue colour) {
    SetBkMode(dc_, OPAQUE);
    SetBkColor(dc_, RGB(255, 255, 255));
    SetTextColor(dc_, colour);
    const std::string copy(s);
    // Texts added in two languages are UTF-8; the older ones are plain ASCII and stay on the
    // ANSI call.
    if (hasWideCharacters(copy)) {
        const std::wstring wide = core::widePath(copy);
        TextOutW(dc_, x, y, wide.c_str(), static_cast<int>(wide.size()));
        return;
    }
    TextOutA(dc_, x, y, copy.c_str(), static_cast<int>(copy.size()));
}

int GdiCanvas::textWidth(std::string_view s) const {
    SIZE size{};
    const std::string copy(s);
    if (hasWideCharacters(copy)) {
        const std::wstring wide = core::widePath(copy);
        GetTextExtentPoint32W(dc_, wide.c_str(), static_cast<int>(wide.size()), &size);
        return size.cx;
    }
    GetTextExtentPoint32A(dc_, copy.c_str(), static_cast<int>(copy.size()), &size);
    return size.cx;
}

crystal::FontMetrics GdiCanvas::fontMetrics() const {
    TEXTMETRICA tm{};
    GetTextMetricsA(dc_, &tm);
    return {tm.tmHeight, tm.tmExternalLeading};
}

HFONT createPageFont() {
    LOGFONTA font{};
    if (!GetObjectA(GetStockObject(SYSTEM_FONT), sizeof font, &font)) return nullptr;
    font.lfQuality = NONANTIALIASED_QUALITY;
    return CreateFontIndirectA(&font);
}

}  // namespace kestral
