// Shared by the image readers: the texts of their refusals and small byte helpers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "core/localized.h"
#include "core/message_sink.h"
#include "image/import.h"

namespace image::detail {

inline constexpr const char* kImportCaption = "Error";

// Reports `text` (a printf format in the chosen language) and returns nothing.
template <typename... Args>
std::nullopt_t refuse(core::MessageSink& sink, const core::Localized& text, Args... args) {
    if constexpr (sizeof...(Args) == 0)
        sink.ask(core::text(text), kImportCaption, core::kIconWarning);
    else
        sink.ask(core::formatMessage(core::text(text), args...), kImportCaption,
                 core::kIconWarning);
    return std::nullopt;
}

inline constexpr core::Localized kTruncated{
    "The file ends before its image data: it is truncated or damaged.",
    "画像データの途中でファイルが終わっています（切り詰められたか壊れたファイルです）。"};
inline constexpr core::Localized kUnsupportedType{
    "Unsupported sample type in this file: %s.",
    "このファイルのサンプル型には対応していません: %s"};
inline constexpr core::Localized kColourRefused{
    "Not a gray-scale image: colour images cannot be opened (%s).",
    "グレースケール画像ではありません。カラー画像は開けません（%s）。"};
inline constexpr core::Localized kBadStructure{
    "Not a %s file with correct format: %s.",
    "正しい形式の %s ファイルではありません: %s"};

// Unaligned reads in either byte order.
inline std::uint16_t u16le(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
inline std::uint16_t u16be(const std::uint8_t* p) { return std::uint16_t(p[1] | p[0] << 8); }
inline std::uint32_t u32le(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
inline std::uint32_t u32be(const std::uint8_t* p) {
    return std::uint32_t(p[3]) | std::uint32_t(p[2]) << 8 | std::uint32_t(p[1]) << 16 |
           std::uint32_t(p[0]) << 24;
}
inline std::uint64_t u64le(const std::uint8_t* p) {
    return std::uint64_t(u32le(p)) | std::uint64_t(u32le(p + 4)) << 32;
}
inline std::uint64_t u64be(const std::uint8_t* p) {
    return std::uint64_t(u32be(p)) << 32 | std::uint64_t(u32be(p + 4));
}
inline float f32of(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
inline double f64of(std::uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}
// IEEE half precision to double (MRC mode 12).
double halfToDouble(std::uint16_t h);

}  // namespace image::detail

namespace image::detail {

// What a TIFF's first directory says about the pixel size.
struct TiffCalibrationTags {
    std::string description;  // ImageDescription
    double xResolution = 0;   // pixels per resolution unit
    double yResolution = 0;
    int resolutionUnit = 2;   // 1 none, 2 inch (the TIFF default), 3 centimetre
};

// The TIFF calibration: an ImageJ description's "unit=" with 1 / XResolution units per pixel.
// A plain resolution, in inches or centimetres, is the screen or print resolution the saving
// program chose (72 or 96 dpi and the like), not a microscope calibration: it gives none.
void setTiffCalibration(GreyImage& image, const TiffCalibrationTags& tags);

}  // namespace image::detail
