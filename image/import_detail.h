// Shared by the image readers: the texts of their refusals and small byte helpers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "core/localized.h"
#include "core/message_sink.h"
#include "image/import.h"
#include "image/tiff_vendor.h"

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

inline constexpr core::Localized kImageBeyondCount{
    "The file holds %d images: there is no image %d.",
    "このファイルの画像は %d 枚です。%d 枚目はありません。"};
inline constexpr core::Localized kStackPastEnd{
    "Image %d of the %d in the file runs past the end of the file: it is truncated or damaged.",
    "%d 枚目の画像（全 %d 枚）がファイルの終わりを越えています（切り詰められたか壊れたファイル"
    "です）。"};

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

// The TIFF calibration: a vendor's own tags, else an ImageJ description's "unit=" with
// 1 / XResolution units per pixel, else none (a plain resolution is a screen's or a printer's).
// Sets the source, the magnification, the high tension and the note.
void setTiffCalibration(GreyImage& image, const TiffVendorInput& tags);

}  // namespace image::detail
