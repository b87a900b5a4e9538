#include "image/import.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "image/file_io.h"
#include "image/import_detail.h"
#include "image/limits.h"
#include "image/packed_dib.h"
#include "image/ser.h"
#include "image/emd.h"
#include "image/tiff_vendor.h"

namespace image {

namespace detail {
double halfToDouble(std::uint16_t h) {
    const int sign = h >> 15, exponent = (h >> 10) & 0x1F, mantissa = h & 0x3FF;
    double value;
    if (exponent == 0)
        value = std::ldexp(mantissa, -24);
    else if (exponent == 31)
        value = mantissa ? std::nan("") : HUGE_VAL;
    else
        value = std::ldexp(mantissa + 1024, exponent - 25);
    return sign ? -value : value;
}
void setTiffCalibration(GreyImage& image, const TiffVendorInput& tags) {
    // A vendor's own tags first; when they give no size, the note says why and an ImageJ
    // description may still calibrate the file.
    const VendorCalibration vendor = readVendorCalibration(tags);
    image.magnification = vendor.magnification;
    image.highTensionV = vendor.highTensionV;
    image.calibrationNote = vendor.note;
    if (vendor.calibrated) {
        setPixelSizes(image, vendor.x, vendor.xUnit, vendor.y, vendor.yUnit);
        if (image.pixelSizeNm) {
            image.calibrationSource = vendor.source;
            return;
        }
    }
    const double xResolution = tags.xResolution;
    if (!std::isfinite(xResolution) || !(xResolution > 0)) return;
    const std::string& description = tags.description;
    if (description.rfind("ImageJ=", 0) == 0) {
        const std::size_t at = description.find("\nunit=");
        if (at == std::string::npos) return;
        const std::size_t begin = at + 6;
        const std::size_t end = description.find('\n', begin);
        std::string unit = description.substr(begin, end == std::string::npos ? end : end - begin);
        if (unit == "micron") unit = "\xC2\xB5m";
        // ImageJ's pixel height is 1 / YResolution; a file without one has square pixels.
        const double yResolution =
            std::isfinite(tags.yResolution) && tags.yResolution > 0 ? tags.yResolution
                                                                    : xResolution;
        setPixelSizes(image, 1.0 / xResolution, unit, 1.0 / yResolution, unit);
        if (image.pixelSizeNm) image.calibrationSource = CalibrationSource::ImageJ;
        return;
    }
    // A plain resolution, in inches or centimetres, is the screen or print resolution the saving
    // program chose (72 or 96 dpi and the like), not a microscope calibration: it gives none.
}

}  // namespace detail

namespace {

using detail::refuse;

std::string lowerExtension(const std::string& path) {
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

constexpr core::Localized kTooLarge{
    "The image is too large: %lld x %lld pixels (at most %lld pixels a side and %llu million "
    "samples).",
    "画像が大きすぎます: %lld x %lld ピクセル（一辺 %lld ピクセル、%llu 百万サンプルまで）。"};
constexpr core::Localized kTooSmall{"Too small image (less than 64W or 64H)!",
                                    "画像が小さすぎます（幅または高さが 64 未満）。"};
constexpr double kSmallestPixelNm = 1e-9;
constexpr double kLargestPixelNm = 1e9;
constexpr core::Localized kPixelSizeIgnored{
    "The pixel size in the file (%g nm) lies outside 1e-9 to 1e9 nm and is ignored.",
    "ファイルのピクセルサイズ（%g nm）は 1e-9 ～ 1e9 nm の範囲外のため使いません。"};
constexpr core::Localized kNotFinite{
    "The image holds samples that are not numbers (NaN) or infinite: it cannot be transformed.",
    "画像に非数（NaN）または無限大のサンプルがあり、変換できません。"};
constexpr core::Localized kCannotRead{"Unable to open the image file '%s'.",
                                      "画像ファイル '%s' を開けません。"};
constexpr core::Localized kMemory{"Not enough memory to read the image.",
                                  "画像を読み込むメモリが足りません。"};

}  // namespace

std::optional<ImageFormat> formatOfPath(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".bmp") return ImageFormat::Bmp;
    if (ext == ".tif" || ext == ".tiff") return ImageFormat::Tiff;
    if (ext == ".png") return ImageFormat::Png;
    if (ext == ".mrc" || ext == ".mrcs" || ext == ".map" || ext == ".ccp4") return ImageFormat::Mrc;
    if (ext == ".dm3") return ImageFormat::Dm3;
    if (ext == ".dm4") return ImageFormat::Dm4;
    if (ext == ".ser") return ImageFormat::Ser;
    if (ext == ".emd") return ImageFormat::Emd;
    return std::nullopt;
}

const char* formatName(ImageFormat format) {
    switch (format) {
        case ImageFormat::Bmp: return "BMP";
        case ImageFormat::Tiff: return "TIFF";
        case ImageFormat::Png: return "PNG";
        case ImageFormat::Mrc: return "MRC";
        case ImageFormat::Dm3: return "DM3";
        case ImageFormat::Dm4: return "DM4";
        case ImageFormat::Ser: return "TIA series";
        case ImageFormat::Emd: return "EMD";
    }
    return "";
}

std::string sampleTypeName(SampleType type) {
    static constexpr core::Localized kUnsigned{"%d-bit unsigned integer", "%d ビット符号なし整数"};
    static constexpr core::Localized kSigned{"%d-bit signed integer", "%d ビット符号付き整数"};
    static constexpr core::Localized kFloat{"%d-bit float", "%d ビット浮動小数点"};
    switch (type) {
        case SampleType::U8: return core::formatMessage(core::text(kUnsigned), 8);
        case SampleType::I8: return core::formatMessage(core::text(kSigned), 8);
        case SampleType::U16: return core::formatMessage(core::text(kUnsigned), 16);
        case SampleType::I16: return core::formatMessage(core::text(kSigned), 16);
        case SampleType::U32: return core::formatMessage(core::text(kUnsigned), 32);
        case SampleType::I32: return core::formatMessage(core::text(kSigned), 32);
        case SampleType::F16: return core::formatMessage(core::text(kFloat), 16);
        case SampleType::F32: return core::formatMessage(core::text(kFloat), 32);
        case SampleType::F64: return core::formatMessage(core::text(kFloat), 64);
    }
    return "";
}

bool checkImportSize(std::int64_t width, std::int64_t height, core::MessageSink& sink) {
    const std::uint64_t padded = width > 0 ? (static_cast<std::uint64_t>(width) + 3) / 4 * 4 : 0;
    const bool tooLarge =
        width > kMaxImageSide || height > kMaxImageSide ||
        (width > 0 && height > 0 &&
         (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) >
              kMaxImportSamples ||
          padded * static_cast<std::uint64_t>(height) > kMaxNormalisedBytes));
    if (tooLarge) {
        refuse(sink, kTooLarge, static_cast<long long>(width), static_cast<long long>(height),
               static_cast<long long>(kMaxImageSide),
               static_cast<unsigned long long>(kMaxImportSamples / 1000000));
        return false;
    }
    if (width < kMinImageSide || height < kMinImageSide) {
        refuse(sink, kTooSmall);
        return false;
    }
    return true;
}

bool checkImported(GreyImage& image, core::MessageSink& sink) {
    if (!checkImportSize(image.width, image.height, sink)) return false;
    if (image.samples.size() !=
        static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        refuse(sink, detail::kTruncated);
        return false;
    }
    double lo = image.samples.front(), hi = lo;
    for (double v : image.samples) {
        if (!std::isfinite(v)) {
            refuse(sink, kNotFinite);
            return false;
        }
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    image.minimum = lo;
    image.maximum = hi;
    if (image.ignoredPixelSizeNm && !image.pixelSizeNm)
        sink.ask(core::formatMessage(core::text(kPixelSizeIgnored), *image.ignoredPixelSizeNm),
                 "Information", core::kIconInformation);
    return true;
}

std::optional<double> nanometresPerUnit(const std::string& raw) {
    std::string unit;
    for (char c : raw)
        if (c != ' ' && c != '\0') unit += c;
    if (unit == "nm" || unit == "nanometer" || unit == "nanometre") return 1.0;
    if (unit == "\xC2\xB5m" || unit == "\xCE\xBCm" || unit == "um" || unit == "micron" ||
        unit == "microns" || unit == "\\u00B5m" || unit == "\\u00b5m" || unit == "µm")
        return 1000.0;
    if (unit == "\xC3\x85" || unit == "\xE2\x84\xAB" || unit == "A" || unit == "Angstrom" ||
        unit == "angstrom" || unit == "\\u00C5")
        return 0.1;
    if (unit == "pm") return 0.001;
    if (unit == "mm") return 1e6;
    if (unit == "cm") return 1e7;
    if (unit == "m") return 1e9;
    return std::nullopt;
}

namespace {
// Nanometres for a length as a file states it, or nothing.
std::optional<double> lengthInNm(double size, const std::string& unit) {
    const auto scale = nanometresPerUnit(unit);
    if (!scale || !std::isfinite(size) || !(size > 0)) return std::nullopt;
    const double nm = size * *scale;
    if (!std::isfinite(nm) || !(nm > 0)) return std::nullopt;
    return nm;
}
}  // namespace

void setPixelSize(GreyImage& image, double size, const std::string& unit) {
    setPixelSizes(image, size, unit, size, unit);
}

void setPixelSizes(GreyImage& image, double xSize, const std::string& xUnit, double ySize,
                   const std::string& yUnit) {
    const auto x = lengthInNm(xSize, xUnit);
    const auto y = lengthInNm(ySize, yUnit);
    if (!x || !y) return;
    for (const double nm : {*x, *y}) {
        if (nm < kSmallestPixelNm || nm > kLargestPixelNm) {
            image.ignoredPixelSizeNm = nm;
            return;
        }
    }
    image.ignoredPixelSizeNm.reset();
    const bool square = std::fabs(*x - *y) <= 1e-6 * std::max(*x, *y);
    image.pixelSizeNm = PixelSize{*x, square ? *x : *y};
    image.pixelSizeInUnit = xSize;
    image.pixelUnit = xUnit;
    image.pixelHeightInUnit = square ? xSize : ySize;
    image.pixelHeightUnit = square ? xUnit : yUnit;
}

namespace {

// DM and MRC files calibrate themselves in their own headers.
void markOwnCalibration(std::optional<GreyImage>& image, ImageFormat format) {
    if (image && image->pixelSizeNm && image->calibrationSource == CalibrationSource::None) {
        if (format == ImageFormat::Dm3 || format == ImageFormat::Dm4)
            image->calibrationSource = CalibrationSource::DmFile;
        if (format == ImageFormat::Mrc) image->calibrationSource = CalibrationSource::MrcHeader;
    }
}

}  // namespace

std::optional<GreyImage> importImageBytes(std::span<const std::uint8_t> file, ImageFormat format,
                                          core::MessageSink& sink) {
    std::optional<GreyImage> image;
    switch (format) {
        case ImageFormat::Tiff: image = readTiff(file, sink); break;
        case ImageFormat::Png: image = readPng(file, sink); break;
        case ImageFormat::Mrc: image = readMrc(file, sink); break;
        case ImageFormat::Dm3:
        case ImageFormat::Dm4: image = readDm(file, sink); break;
        case ImageFormat::Ser: image = readSer(file, sink); break;
        case ImageFormat::Emd: image = readEmd(file, sink); break;
        case ImageFormat::Bmp: break;
    }
    markOwnCalibration(image, format);
    return image;
}

namespace {

// The .emi beside a series, when there is one: the acquisition's mode. Only its beginning is
// searched, where the descriptions sit.
EmiContext emiBeside(const std::string& serPath) {
    const std::string emiPath = emiPathOf(serPath);
    if (emiPath.empty()) return {};
    FileHandle emi(fopenUtf8(emiPath, "rb"));
    const auto size = emi ? fileSize(emi.get()) : std::nullopt;
    if (!size) return {};
    std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(*size, 64u << 20)), '\0');
    if (!text.empty() && std::fread(text.data(), 1, text.size(), emi.get()) != text.size())
        return {};
    return emiContextOf(text, serNumberOf(serPath));
}

std::optional<GreyImage> importSeries(const std::string& path, const ImportChoice& choice,
                                      core::MessageSink& sink) {
    FileHandle in(fopenUtf8(path, "rb"));
    const auto size = in ? fileSize(in.get()) : std::nullopt;
    if (!size) return refuse(sink, kCannotRead, path.c_str());
    FileAccess access(in.get(), *size);
    return readSerImage(access, choice.image, emiBeside(path), sink);
}

}  // namespace

std::optional<GreyImage> importImageFile(const std::string& path, ImageFormat format,
                                         core::MessageSink& sink, const ImportChoice& choice) {
    try {
        std::optional<GreyImage> image;
        if (format == ImageFormat::Ser) image = importSeries(path, choice, sink);
        if (format == ImageFormat::Emd) {
            FileHandle in(fopenUtf8(path, "rb"));
            if (!in) return refuse(sink, kCannotRead, path.c_str());
            in.close();
            image = readEmdFile(path, choice, sink);
        }
        if (format == ImageFormat::Ser || format == ImageFormat::Emd) {
            // Their readers refuse an image beyond the count: the one read is the one asked for.
            if (image) image->imageIndex = choice.image;
            return image;
        }
    } catch (const std::bad_alloc&) {
        return refuse(sink, kMemory);
    }
    FileHandle in(fopenUtf8(path, "rb"));
    const auto size = in ? fileSize(in.get()) : std::nullopt;
    if (!size) return refuse(sink, kCannotRead, path.c_str());
    // Every reader seeks to what it reads (a stack's image asked for): the file's size is no
    // limit.
    StackReader reader = nullptr;
    if (format == ImageFormat::Tiff) reader = readTiffImage;
    if (format == ImageFormat::Mrc) reader = readMrcImage;
    if (format == ImageFormat::Dm3 || format == ImageFormat::Dm4) reader = readDmImage;
    if (format == ImageFormat::Png) reader = readPngImage;
    if (!reader) return std::nullopt;  // a BMP is opened elsewhere
    FileAccess access(in.get(), *size);
    try {
        auto image = reader(access, choice.image, sink);
        markOwnCalibration(image, format);
        return image;
    } catch (const std::bad_alloc&) {
        return refuse(sink, kMemory);
    }
}

namespace {

// [lo, hi] onto [0, 255] as (v - lo) x 255 / (hi - lo). When the range overflows (samples of
// both signs near the largest double) every term is halved first, which cannot overflow and
// keeps the ratio; finite ranges keep the plain formula, so ordinary images map bit for bit
// as before.
class LinearMap {
  public:
    LinearMap(double lo, double hi) : lo_(lo), range_(hi - lo) {
        halved_ = !std::isfinite(range_);
        if (halved_) range_ = hi / 2 - lo / 2;
        scale_ = 255.0 / range_;
    }
    // (v - lo) x 255 / range, the levels' rounding (divided first when halved: the offset may
    // be near the largest double itself).
    double operator()(double v) const {
        return halved_ ? offset(v) / range_ * 255.0 : offset(v) * 255.0 / range_;
    }
    // (v - lo) x (255 / range), the rendering's rounding.
    double scaled(double v) const { return offset(v) * scale_; }

  private:
    double offset(double v) const { return halved_ ? v / 2 - lo_ / 2 : v - lo_; }
    double lo_, range_, scale_;
    bool halved_ = false;
};

// The level a constant sample value takes: itself within 0..255, else the nearer end.
double constantLevel(double v) {
    return !(v > 0) ? 0.0 : v >= 255.0 ? 255.0 : v;
}

}  // namespace

std::vector<std::uint8_t> renderPercentiles(const GreyImage& image) {
    const std::size_t count = image.samples.size();
    std::vector<std::uint8_t> out(count, 0);
    if (count == 0) return out;
    // Samples of at most 16 bits are ranked through a histogram of their values, which needs
    // no copy of the picture (and gives the same ranks); wider ones through a sorted copy.
    const bool narrow = (image.type == SampleType::U16 || image.type == SampleType::I16 ||
                         image.type == SampleType::I8 || image.type == SampleType::U8) &&
                        image.minimum >= -32768 && image.maximum <= 65535;
    std::vector<std::size_t> histogram;  // value + 32768 -> count
    std::vector<double> sorted;
    if (narrow) {
        histogram.assign(65536 + 32768, 0);
        for (double v : image.samples) ++histogram[static_cast<std::size_t>(v + 32768)];
    } else {
        sorted = image.samples;
    }
    // The sample of rank k (0 = smallest).
    auto ranked = [&](std::size_t k) {
        if (!narrow) {
            std::nth_element(sorted.begin(), sorted.begin() + k, sorted.end());
            return sorted[k];
        }
        std::size_t seen = 0, bin = 0;
        while (seen + histogram[bin] <= k) seen += histogram[bin++];
        return static_cast<double>(bin) - 32768;
    };
    // numpy's default percentile: linear between the two nearest ranks.
    auto percentile = [&](double q) {
        const double position = q * static_cast<double>(count - 1);
        const std::size_t below = static_cast<std::size_t>(position);
        const double a = ranked(below);
        if (below + 1 >= count) return a;
        const double b = narrow ? ranked(below + 1)
                                : *std::min_element(sorted.begin() + below + 1, sorted.end());
        const double t = position - static_cast<double>(below);
        const double step = b - a;
        // Samples of opposite sign near the largest double: weigh them instead of subtracting.
        return std::isfinite(step) ? a + step * t : a * (1 - t) + b * t;
    };
    double lo = percentile(0.001);
    double hi = percentile(0.999);
    sorted = {};
    histogram = {};
    if (!(hi > lo)) {
        lo = image.minimum;
        hi = image.maximum;
    }
    if (!(hi > lo)) {
        // A constant picture shows its own level, as an 8-bit one does.
        std::fill(out.begin(), out.end(), static_cast<std::uint8_t>(constantLevel(lo)));
        return out;
    }
    const LinearMap map(lo, hi);
    for (std::size_t i = 0; i < count; ++i) {
        const double v = map.scaled(image.samples[i]);
        out[i] = !(v > 0) ? 0 : v >= 255 ? 255 : static_cast<std::uint8_t>(v);
    }
    return out;
}

std::shared_ptr<const PreciseLevels> transformLevels(const GreyImage& image) {
    if (image.eightBit()) return nullptr;
    GreyImage copy = image;
    return transformLevels(std::move(copy));
}

std::shared_ptr<const PreciseLevels> transformLevels(GreyImage&& image) {
    if (image.eightBit()) return nullptr;
    auto precise = std::make_shared<PreciseLevels>();
    precise->width = image.width;
    precise->height = image.height;
    precise->minimum = image.minimum;
    precise->maximum = image.maximum;
    // The levels take the samples' place, so a large picture is not held twice.
    precise->levels = std::move(image.samples);
    image.samples = {};
    if (!(image.maximum > image.minimum)) {
        // A constant source enters the transform at its own level, as a constant 8-bit one does,
        // so both give the same spectrum (and an all-zero one is flat for both).
        std::fill(precise->levels.begin(), precise->levels.end(), constantLevel(image.minimum));
        return precise;
    }
    const LinearMap map(image.minimum, image.maximum);
    // A rounding step may carry the maximum an ulp past 255; the levels stay within [0, 255].
    for (double& v : precise->levels) v = std::min(255.0, map(v));
    return precise;
}

std::string calibrationSourceName(CalibrationSource source) {
    static constexpr core::Localized kNames[] = {
        {"", ""},
        {"DigitalMicrograph tags", "DigitalMicrograph タグ"},
        {"FEI tags", "FEI タグ"},
        {"Zeiss SEM tags", "Zeiss SEM タグ"},
        {"TVIPS header", "TVIPS ヘッダー"},
        {"Olympus SIS tags", "Olympus SIS タグ"},
        {"JEOL description", "JEOL の説明"},
        {"ImageJ description", "ImageJ の説明"},
        {"DM calibration", "DM の較正"},
        {"MRC header", "MRC ヘッダー"},
    };
    const auto i = static_cast<std::size_t>(source);
    return i < std::size(kNames) ? core::text(kNames[i]) : "";
}

std::string describeImport(const GreyImage& image) {
    const auto [first, second] = describeImportLines(image);
    return first + second;
}

std::pair<std::string, std::string> describeImportLines(const GreyImage& image) {
    static constexpr core::Localized kLine{
        "%s, %s, %d x %d pixels, samples %.9g to %.9g",
        "%s、%s、%d x %d ピクセル、サンプル値 %.9g ～ %.9g"};
    static constexpr core::Localized kPixel{", pixel size %.6g nm (%.6g %s)",
                                            "、ピクセルサイズ %.6g nm（%.6g %s）"};
    static constexpr core::Localized kNoPixel{", no pixel size", "、ピクセルサイズなし"};
    static constexpr core::Localized kFirst{", first of %d images", "、%d 枚中の 1 枚目"};
    static constexpr core::Localized kNth{", image %d of %d", "、%d 枚目（全 %d 枚）"};
    const std::string first = core::formatMessage(core::text(kLine), formatName(image.format),
                                                  sampleTypeName(image.type).c_str(), image.width,
                                                  image.height, image.minimum, image.maximum);
    std::string line;
    static constexpr core::Localized kSource{" from the %s", "、%sによる"};
    static constexpr core::Localized kMagnification{", magnification %.6g x", "、倍率 %.6g 倍"};
    static constexpr core::Localized kHighTension{", high tension %.6g kV", "、加速電圧 %.6g kV"};
    static constexpr core::Localized kNote{" (%s)", "（%s）"};
    static constexpr core::Localized kPixels{", pixel size %.6g x %.6g nm (%s)",
                                             "、ピクセルサイズ %.6g x %.6g nm（%s）"};
    if (image.pixelSizeNm && image.pixelSizeNm->square()) {
        line += core::formatMessage(core::text(kPixel), image.pixelSizeNm->x, image.pixelSizeInUnit,
                                    image.pixelUnit.c_str());
    } else if (image.pixelSizeNm) {
        // x then y, each as the file states it: "2 x 3 Å", or "0.2 nm x 0.0003 µm".
        const std::string stated =
            image.pixelUnit == image.pixelHeightUnit
                ? core::formatMessage("%.6g x %.6g %s", image.pixelSizeInUnit,
                                      image.pixelHeightInUnit, image.pixelUnit.c_str())
                : core::formatMessage("%.6g %s x %.6g %s", image.pixelSizeInUnit,
                                      image.pixelUnit.c_str(), image.pixelHeightInUnit,
                                      image.pixelHeightUnit.c_str());
        line += core::formatMessage(core::text(kPixels), image.pixelSizeNm->x, image.pixelSizeNm->y,
                                    stated.c_str());
    } else {
        line += core::text(kNoPixel);
    }
    const std::string source = calibrationSourceName(image.calibrationSource);
    if (image.pixelSizeNm && !source.empty())
        line += core::formatMessage(core::text(kSource), source.c_str());
    if (!image.calibrationNote.empty())
        line += core::formatMessage(core::text(kNote), image.calibrationNote.c_str());
    if (image.magnification)
        line += core::formatMessage(core::text(kMagnification), *image.magnification);
    if (image.highTensionV)
        line += core::formatMessage(core::text(kHighTension), *image.highTensionV / 1000.0);
    if (image.imageIndex > 0)
        line += core::formatMessage(core::text(kNth), image.imageIndex + 1, image.imageCount);
    else if (image.imageCount > 1)
        line += core::formatMessage(core::text(kFirst), image.imageCount);
    return {first, line};
}

}  // namespace image
