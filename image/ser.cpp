#include "image/ser.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "image/import_detail.h"
#include "image/samples.h"

namespace image {

namespace {

using namespace detail;

constexpr std::uint16_t kLittleEndian = 0x4949;
constexpr std::uint16_t kSeriesId = 0x0197;
constexpr std::uint32_t kSpectra = 0x4120;
constexpr std::uint32_t kImages = 0x4122;
constexpr std::uint64_t kElementHeader = 50;  // two calibrations, type, width, height

constexpr core::Localized kNotSeries{
    "Not a TIA series file: it does not begin with the series mark (0x4949, 0x0197).",
    "TIA シリーズファイルではありません（先頭にシリーズの印 0x4949, 0x0197 がありません）。"};
constexpr core::Localized kVersion{
    "TIA series version 0x%04x is not supported (0x0210 and 0x0220 are).",
    "TIA シリーズのバージョン 0x%04x には対応していません（0x0210 と 0x0220 に対応）。"};
constexpr core::Localized kSpectraRefused{
    "The TIA series holds spectra (one-dimensional data), not images.",
    "この TIA シリーズは画像ではなくスペクトル（1 次元データ）を収めています。"};
constexpr core::Localized kElementKind{
    "The TIA series' element type 0x%04x is neither images nor spectra.",
    "TIA シリーズの要素の種類 0x%04x は画像でもスペクトルでもありません。"};
constexpr core::Localized kEmpty{"The TIA series holds no recorded image.",
                                 "この TIA シリーズには記録された画像がありません。"};
constexpr core::Localized kCounts{
    "The TIA series claims %lu recorded images out of %lu.",
    "TIA シリーズの記録済み画像数 %lu が全体の数 %lu を超えています。"};
constexpr core::Localized kTable{
    "The TIA series' offset tables (%lu entries at offset %llu) lie outside the file.",
    "TIA シリーズのオフセット表（%lu 項目、オフセット %llu）がファイルの外にあります。"};
constexpr core::Localized kElementOutside{
    "Image %lu of the TIA series lies outside the file or over its header or offset tables "
    "(offset %llu).",
    "TIA シリーズの %lu 枚目の画像がファイルの外、またはヘッダーやオフセット表に重なっています"
    "（オフセット %llu）。"};
constexpr core::Localized kPastEnd{
    "Image %lu of the TIA series (%lu x %lu samples at offset %llu) runs past the end of the "
    "file.",
    "TIA シリーズの %lu 枚目の画像（%lu x %lu サンプル、オフセット %llu）がファイルの終わりを越えて"
    "います。"};
constexpr core::Localized kDataType{"Image %lu of the TIA series has the unknown data type %u.",
                                    "TIA シリーズの %lu 枚目の画像のデータ型 %u は不明です。"};
constexpr core::Localized kNoSuchImage{
    "The TIA series holds %lu recorded images: there is no image %d.",
    "TIA シリーズに記録された画像は %lu 枚です。%d 枚目はありません。"};
constexpr core::Localized kReadFailed{"The TIA series could not be read.",
                                      "TIA シリーズを読み込めません。"};

constexpr core::Localized kNoteNoEmi{
    "Pixel size from the series' calibration, taken in metres: no .emi beside the file tells "
    "the mode.",
    "ピクセルサイズはシリーズの校正値をメートルとみなしたものです（モードを示す .emi がそばに"
    "ありません）。"};
constexpr core::Localized kNoteImage{
    "Pixel size from the series' calibration in metres (mode \"%s\" in the .emi).",
    "ピクセルサイズはシリーズの校正値（メートル、.emi のモード \"%s\"）です。"};
constexpr core::Localized kNoteDiffraction{
    "Diffraction (mode \"%s\" in the .emi): %.6g 1/nm per pixel, not a pixel size.",
    "回折（.emi のモード \"%s\"）: 1 ピクセル %.6g 1/nm で、ピクセルサイズではありません。"};

// Bytes per sample of each data type (1-10), 0 for an unknown one.
std::uint64_t sampleBytes(std::uint32_t type) {
    switch (type) {
        case 1: case 4: return 1;
        case 2: case 5: return 2;
        case 3: case 6: case 7: return 4;
        case 8: case 9: return 8;
        case 10: return 16;
        default: return 0;
    }
}

// Printable ASCII of a text from the file, at most 64 characters.
std::string printable(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (out.size() >= 64) break;
        if (c >= 0x20 && c < 0x7F) out += c;
    }
    return out;
}

struct Element {
    double deltaX = 0, deltaY = 0;
    std::uint32_t type = 0;
    std::uint64_t width = 0, height = 0;
    std::uint64_t dataBytes = 0;
};

struct Layout {
    std::uint64_t headerEnd = 0;   // the fixed header
    std::uint64_t tableStart = 0;  // both offset tables
    std::uint64_t tableEnd = 0;
};

bool overlaps(std::uint64_t a, std::uint64_t aEnd, std::uint64_t b, std::uint64_t bEnd) {
    return a < bEnd && b < aEnd;
}

}  // namespace

bool EmiContext::reciprocal() const {
    return mode.find("Diffraction") != std::string::npos ||
           (camera && mode.find("STEM") != std::string::npos);
}

std::string emiPathOf(const std::string& serPath) {
    const std::size_t slash = serPath.find_last_of("/\\");
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = serPath.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return "";
    std::size_t stem = dot;
    while (stem > nameStart && serPath[stem - 1] >= '0' && serPath[stem - 1] <= '9') --stem;
    if (stem == dot || stem <= nameStart + 1 || serPath[stem - 1] != '_') return "";
    return serPath.substr(0, stem - 1) + ".emi";
}

int serNumberOf(const std::string& serPath) {
    const std::size_t dot = serPath.find_last_of('.');
    if (dot == std::string::npos) return 1;
    std::size_t stem = dot;
    while (stem > 0 && serPath[stem - 1] >= '0' && serPath[stem - 1] <= '9') --stem;
    if (stem == dot || dot - stem > 6) return 1;
    return std::max(1, std::stoi(serPath.substr(stem, dot - stem)));
}

EmiContext emiContextOf(std::string_view emi, int serNumber) {
    EmiContext context;
    context.found = true;
    static constexpr std::string_view kOpen = "<ObjectInfo>", kClose = "</ObjectInfo>";
    std::string_view chosen, first;
    std::size_t at = 0;
    for (int rank = 1;; ++rank) {
        const std::size_t begin = emi.find(kOpen, at);
        if (begin == std::string_view::npos) break;
        std::size_t end = emi.find(kClose, begin);
        if (end == std::string_view::npos) end = emi.size();
        const std::string_view block = emi.substr(begin, end - begin);
        if (rank == 1) first = block;
        if (rank == serNumber) {
            chosen = block;
            break;
        }
        at = end;
    }
    if (chosen.empty()) chosen = first;
    // <Data><Label>Mode</Label><Value>TEM Diffraction</Value>...</Data>
    const std::size_t label = chosen.find("<Label>Mode</Label>");
    if (label != std::string_view::npos) {
        const std::size_t dataEnd = chosen.find("</Data>", label);
        const std::size_t value = chosen.find("<Value>", label);
        if (value != std::string_view::npos && (dataEnd == std::string_view::npos || value < dataEnd)) {
            const std::size_t valueEnd = chosen.find("</Value>", value);
            if (valueEnd != std::string_view::npos)
                context.mode = printable(chosen.substr(value + 7, valueEnd - value - 7));
        }
    }
    context.camera = chosen.find("<CameraNamePath>") != std::string_view::npos;
    return context;
}

namespace {

// The header of element `number` (1-based) at `offset`: it and its data must lie inside the
// file and clear of the file's header and offset tables.
std::optional<Element> readElement(RandomAccessSource& file, const Layout& layout,
                                   std::uint64_t offset, unsigned long number,
                                   core::MessageSink& sink) {
    const auto outside = [&] {
        return refuse(sink, kElementOutside, number, static_cast<unsigned long long>(offset));
    };
    if (offset > file.size() || file.size() - offset < kElementHeader) return outside();
    if (overlaps(offset, offset + kElementHeader, 0, layout.headerEnd) ||
        overlaps(offset, offset + kElementHeader, layout.tableStart, layout.tableEnd))
        return outside();
    std::uint8_t e[kElementHeader];
    if (!file.readAt(offset, e, sizeof e)) return refuse(sink, kReadFailed);
    Element element;
    element.deltaX = f64of(u64le(e + 8));
    element.deltaY = f64of(u64le(e + 28));
    element.type = u16le(e + 40);
    element.width = u32le(e + 42);
    element.height = u32le(e + 46);
    const std::uint64_t bytes = sampleBytes(element.type);
    if (bytes == 0) return refuse(sink, kDataType, number, element.type);
    const std::uint64_t room = file.size() - offset - kElementHeader;
    const bool fits = element.width == 0 || element.height == 0 ||
                      room / bytes / element.width >= element.height;
    if (!fits)
        return refuse(sink, kPastEnd, number, static_cast<unsigned long>(element.width),
                      static_cast<unsigned long>(element.height),
                      static_cast<unsigned long long>(offset));
    element.dataBytes = element.width * element.height * bytes;
    const std::uint64_t end = offset + kElementHeader + element.dataBytes;
    if (overlaps(offset, end, 0, layout.headerEnd) ||
        overlaps(offset, end, layout.tableStart, layout.tableEnd))
        return outside();
    return element;
}

// Every recorded element's header, so the count given is the count really there; `chosen` and
// `chosenOffset` take the one at `index`.
bool checkElements(RandomAccessSource& file, const Layout& layout, bool wide, unsigned long valid,
                   int index, Element& chosen, std::uint64_t& chosenOffset,
                   core::MessageSink& sink) {
    const std::uint64_t word = wide ? 8 : 4;
    std::vector<std::uint8_t> chunk;
    constexpr std::uint64_t kChunkEntries = 8192;
    for (std::uint64_t first = 0; first < valid; first += kChunkEntries) {
        const std::uint64_t count = std::min<std::uint64_t>(kChunkEntries, valid - first);
        chunk.resize(static_cast<std::size_t>(count * word));
        if (!file.readAt(layout.tableStart + first * word, chunk.data(), chunk.size())) {
            refuse(sink, kReadFailed);
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* entry = chunk.data() + i * word;
            const std::uint64_t offset = wide ? u64le(entry) : u32le(entry);
            const auto element = readElement(file, layout, offset,
                                             static_cast<unsigned long>(first + i + 1), sink);
            if (!element) return false;
            if (first + i == static_cast<std::uint64_t>(index)) {
                chosen = *element;
                chosenOffset = offset;
            }
        }
    }
    return true;
}

// The element's samples in the image's type, its first stored row the bottom of the picture.
bool readSamples(RandomAccessSource& file, const Element& chosen, std::uint64_t chosenOffset,
                 GreyImage& image, core::MessageSink& sink) {
    const std::size_t width = static_cast<std::size_t>(chosen.width);
    const std::size_t height = static_cast<std::size_t>(chosen.height);
    image.samples.resize(width * height);
    std::vector<std::uint8_t> row(width * storedSampleBytes(image.type));
    for (std::size_t r = 0; r < height; ++r) {
        const std::span<double> out(image.samples.data() + (height - 1 - r) * width, width);
        if (!file.readAt(chosenOffset + kElementHeader + r * row.size(), row.data(), row.size()) ||
            !decodeSamples(image.type, ByteOrder::Little, row, out)) {
            refuse(sink, kReadFailed);
            return false;
        }
    }
    return true;
}

// The calibration in metres, unless the .emi says the series is a diffraction pattern.
void setSerCalibration(const Element& chosen, const EmiContext& emi, GreyImage& image) {
    const std::string mode = emi.mode.empty() ? "?" : emi.mode;
    if (emi.found && emi.reciprocal()) {
        if (std::isfinite(chosen.deltaX) && chosen.deltaX > 0)
            image.notes.push_back(
                core::formatMessage(core::text(kNoteDiffraction), mode.c_str(), chosen.deltaX * 1e-9));
        return;
    }
    // x and y as the series states them; a y without a value of its own is x's.
    const double deltaY =
        std::isfinite(chosen.deltaY) && chosen.deltaY > 0 ? chosen.deltaY : chosen.deltaX;
    setPixelSizes(image, chosen.deltaX, "m", deltaY, "m");
    if (image.pixelSizeNm)
        image.notes.push_back(emi.found ? core::formatMessage(core::text(kNoteImage), mode.c_str())
                                        : std::string(core::text(kNoteNoEmi)));
}

}  // namespace

std::optional<GreyImage> readSerImage(RandomAccessSource& file, int index, const EmiContext& emi,
                                      core::MessageSink& sink) {
    std::uint8_t h[34];
    if (file.size() < 30 || !file.readAt(0, h, std::min<std::uint64_t>(sizeof h, file.size())))
        return refuse(sink, kTruncated);
    if (u16le(h) != kLittleEndian || u16le(h + 2) != kSeriesId) return refuse(sink, kNotSeries);
    const unsigned version = u16le(h + 4);
    // Versions up to 0x0210 store 4-byte offsets, 0x0220 8-byte ones.
    if (version < 0x0200 || (version > 0x0210 && version != 0x0220))
        return refuse(sink, kVersion, version);
    const bool wide = version == 0x0220;
    const std::uint64_t word = wide ? 8 : 4;
    Layout layout;
    layout.headerEnd = wide ? 34 : 30;
    if (file.size() < layout.headerEnd) return refuse(sink, kTruncated);
    const std::uint32_t kind = u32le(h + 6);
    if (kind == kSpectra) return refuse(sink, kSpectraRefused);
    if (kind != kImages) return refuse(sink, kElementKind, static_cast<unsigned>(kind));
    const unsigned long total = u32le(h + 14);
    const unsigned long valid = u32le(h + 18);
    if (valid == 0) return refuse(sink, kEmpty);
    if (valid > total) return refuse(sink, kCounts, valid, total);
    const std::uint64_t tables = wide ? u64le(h + 22) : u32le(h + 22);
    // The data offset table and the tag offset table, `total` entries each, must be whole.
    layout.tableStart = tables;
    if (tables < layout.headerEnd || tables > file.size() ||
        (file.size() - tables) / word / 2 < total)
        return refuse(sink, kTable, total, static_cast<unsigned long long>(tables));
    layout.tableEnd = tables + 2 * word * total;
    if (index < 0 || static_cast<unsigned long>(index) >= valid)
        return refuse(sink, kNoSuchImage, valid, index + 1);

    Element chosen;
    std::uint64_t chosenOffset = 0;
    if (!checkElements(file, layout, wide, valid, index, chosen, chosenOffset, sink))
        return std::nullopt;
    switch (chosen.type) {
        case 9: return refuse(sink, kUnsupportedType, "TIA complex, 2 x 32-bit float");
        case 10: return refuse(sink, kUnsupportedType, "TIA complex, 2 x 64-bit float");
        default: break;
    }
    if (!checkImportSize(static_cast<std::int64_t>(std::min<std::uint64_t>(chosen.width, 1u << 31)),
                         static_cast<std::int64_t>(std::min<std::uint64_t>(chosen.height, 1u << 31)),
                         sink))
        return std::nullopt;

    GreyImage image;
    image.format = ImageFormat::Ser;
    static constexpr SampleType kTypes[] = {SampleType::U8,  SampleType::U8,  SampleType::U16,
                                            SampleType::U32, SampleType::I8,  SampleType::I16,
                                            SampleType::I32, SampleType::F32, SampleType::F64};
    image.type = kTypes[chosen.type];
    image.width = static_cast<int>(chosen.width);
    image.height = static_cast<int>(chosen.height);
    image.imageCount = static_cast<int>(std::min<unsigned long>(valid, 1ul << 30));
    if (!readSamples(file, chosen, chosenOffset, image, sink)) return std::nullopt;
    setSerCalibration(chosen, emi, image);
    if (!checkImported(image, sink)) return std::nullopt;
    return image;
}

std::optional<GreyImage> readSer(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    MemoryAccess access(file);
    return readSerImage(access, 0, EmiContext{}, sink);
}

}  // namespace image
