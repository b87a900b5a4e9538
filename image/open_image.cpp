#include "image/open_image.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <new>

#include "core/localized.h"
#include "image/binning.h"
#include "image/bmp_file.h"
#include "image/file_io.h"
#include "image/import_detail.h"
#include "image/normalise.h"

namespace image {
namespace {

constexpr core::Localized kMemoryText{"Not enough memory to read the image.",
                                      "画像を読み込むメモリが足りません。"};

void refuse(core::MessageSink& sink, const char* text, const char* caption, unsigned style) {
    sink.ask(text, caption, style);
}

// The first 15 bytes of a file say "BM" and an accepted information header size (its low byte;
// the whole size is checked with the palette).
bool looksLikeBitmap(const std::uint8_t* head) {
    return head[0] == 'B' && head[1] == 'M' && isAcceptedInfoSize(head[14]);
}

// A bitmap opened at full size, binned: its sums become a 16-bit source with its own levels, as
// a microscope image's would, and replace the picture.
void binOpenedBitmap(CurrentImage& image, OpenOutcome& outcome, int factor,
                     core::MessageSink& sink, PictureArea area) {
    const ImageGeometry& g = outcome.geometry;
    constexpr std::size_t kPixels = 40 + 256 * 4;
    GreyImage grey;
    grey.format = ImageFormat::Bmp;
    grey.type = SampleType::U8;
    grey.width = g.width;
    grey.height = g.height;
    std::optional<GreyImage> binned;
    CurrentImage picture;
    std::shared_ptr<const PreciseLevels> precise;
    try {
        const std::size_t stride = static_cast<std::size_t>(g.paddedWidth);
        if (image.dib.block.size() < kPixels + stride * static_cast<std::size_t>(g.height)) {
            outcome.result = OpenResult::LoadFailed;
            return;
        }
        grey.samples.resize(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height));
        for (int y = 0; y < g.height; ++y) {
            const std::uint8_t* row =
                image.dib.block.data() + kPixels + static_cast<std::size_t>(g.height - 1 - y) * stride;
            std::copy(row, row + g.width, grey.samples.begin() + static_cast<std::size_t>(y) * g.width);
        }
        binned = binImage(grey, factor, sink);
        if (!binned) {
            outcome.result = OpenResult::LoadFailed;
            return;
        }
        grey = GreyImage{};
        picture = normalisedPictureOf(*binned);
        precise = transformLevels(*binned);
    } catch (const std::bad_alloc&) {
        refuse(sink, core::text(kMemoryText), "Error", core::kIconWarning);
        outcome.result = OpenResult::LoadFailed;
        return;
    }
    binned->samples = {};
    binned->samples.shrink_to_fit();
    image = std::move(picture);
    image.viewReduction =
        viewReduction(area, image.dib.width(), image.dib.height());
    outcome.result = OpenResult::Opened;
    outcome.geometry = ImageGeometry{binned->width, binned->height, (binned->width + 3) / 4 * 4,
                                     image.fileHeader.bfSize};
    outcome.source = std::move(binned);
    outcome.precise = std::move(precise);
}

// A BMP: its header checked, then rewritten as the normalised temporary file, which is loaded
// and deleted. The source is opened once, for the check and the rewrite.
OpenOutcome openBitmap(const std::string& path, CurrentImage& image, core::MessageSink& sink,
                       core::BusyIndicator& indicator, core::DiskServices& disk, PictureArea area, const std::function<void()>& forgetPrevious,
                       const ImportChoice& choice) {
    OpenOutcome outcome;
    if (choice.image != 0) {  // a bitmap holds one image
        const std::string text =
            core::formatMessage(core::text(detail::kImageBeyondCount), 1, choice.image + 1);
        refuse(sink, text.c_str(), "Error", core::kIconWarning);
        return outcome;
    }
    FileHandle source(fopenUtf8(path, "rb"));
    if (!source) {
        refuse(sink, kBitmapOpenText, "Open Error", core::kIconError);
        return outcome;
    }
    std::uint8_t head[15];
    if (std::fread(head, 1, sizeof head, source.get()) != sizeof head || !looksLikeBitmap(head)) {
        refuse(sink, kBitmapFormatText, "Error", core::kIconError);
        return outcome;
    }
    std::optional<core::BusyScope> busy;
    const auto normalised =
        normaliseGreyBitmap(source.get(), path, sink, indicator, disk, busy);
    source.close();
    if (!normalised) return outcome;

    // The temporary file goes on every way out of here, an exception included.
    struct RemoveOnExit {
        const std::string& path;
        ~RemoveOnExit() {
            removeFile(path);
            unregisterTemporary(path);
        }
    } removeTemporary{normalised->tempPath};
    const ImageGeometry& geometry = normalised->geometry;
    if (choice.bin > 1 && (geometry.width / choice.bin < kMinImageSide ||
                           geometry.height / choice.bin < kMinImageSide)) {
        busy.reset();
        GreyImage probe;
        binImage(probe, choice.bin, sink);  // says why, in the reader's words
        return outcome;
    }
    if (forgetPrevious) forgetPrevious();
    freeBitmap(image);
    busy.reset();
    const bool loaded = readBitmapFile(normalised->tempPath, image, BitmapFlavour::Voralin00, sink,
                                       area);
    outcome.result = loaded ? OpenResult::Opened : OpenResult::LoadFailed;
    outcome.geometry = geometry;
    if (loaded && choice.bin > 1)
        binOpenedBitmap(image, outcome, choice.bin, sink, area);
    return outcome;
}

// A microscope image: imported, and its picture built in memory.
OpenOutcome openMicroscopeImage(const std::string& path, ImageFormat format, CurrentImage& image,
                                core::MessageSink& sink, core::BusyIndicator& indicator,
                                PictureArea area,
                                const std::function<void()>& forgetPrevious,
                                const ImportChoice& choice) {
    OpenOutcome outcome;
    std::optional<core::BusyScope> busy;
    busy.emplace(indicator);
    std::optional<GreyImage> imported;
    CurrentImage picture;
    std::shared_ptr<const PreciseLevels> precise;
    try {
        imported = importImageFile(path, format, sink, choice);
        if (imported && choice.bin > 1) imported = binImage(*imported, choice.bin, sink);
        if (imported) {
            picture = normalisedPictureOf(*imported);
            precise = transformLevels(std::move(*imported));
        }
    } catch (const std::bad_alloc&) {
        busy.reset();
        refuse(sink, core::text(kMemoryText), "Error", core::kIconWarning);
        return outcome;
    }
    if (!imported) return outcome;
    imported->samples = {};
    imported->samples.shrink_to_fit();

    if (forgetPrevious) forgetPrevious();
    freeBitmap(image);
    busy.reset();
    image = std::move(picture);
    image.viewReduction =
        viewReduction(area, image.dib.width(), image.dib.height());
    const std::int32_t padded = (imported->width + 3) / 4 * 4;
    outcome.result = OpenResult::Opened;
    outcome.geometry =
        ImageGeometry{imported->width, imported->height, padded, image.fileHeader.bfSize};
    outcome.source = std::move(imported);
    outcome.precise = std::move(precise);
    return outcome;
}

}  // namespace

OpenOutcome openImageFile(const std::string& path, CurrentImage& image, core::MessageSink& sink,
                          core::BusyIndicator& indicator, core::DiskServices& disk,
                          PictureArea area,
                          const std::function<void()>& forgetPrevious,
                          const ImportChoice& choice) {
    const auto format = formatOfPath(path);
    if (!format) {
        refuse(sink, "Select a file with BMP extension.", "Error", core::kIconWarning);
        return {};
    }
    if (*format == ImageFormat::Bmp)
        return openBitmap(path, image, sink, indicator, disk, area,
                          forgetPrevious, choice);
    return openMicroscopeImage(path, *format, image, sink, indicator, area,
                               forgetPrevious, choice);
}

CurrentImage normalisedPictureOf(const GreyImage& image) {
    const std::uint64_t padded = (static_cast<std::uint64_t>(image.width) + 3) / 4 * 4;
    const std::uint64_t pixelBytes = padded * static_cast<std::uint64_t>(image.height);
    const std::uint64_t total = kNormalisedOffBits + pixelBytes;
    CurrentImage picture;
    picture.fileHeader = BmpFileHeader{0x4D42, static_cast<std::uint32_t>(total), 0, 0,
                                       kNormalisedOffBits};
    std::vector<std::uint8_t>& block = picture.dib.block;
    block.assign(static_cast<std::size_t>(total - kFileHeaderSize), 0);
    std::uint8_t* h = block.data();
    storeU32(h + info::biSize, kInfoHeaderSize);
    storeU32(h + info::biWidth, static_cast<std::uint32_t>(image.width));
    storeU32(h + info::biHeight, static_cast<std::uint32_t>(image.height));
    storeU16(h + info::biPlanes, 1);
    storeU16(h + info::biBitCount, 8);
    storeU32(h + info::biSizeImage, static_cast<std::uint32_t>(pixelBytes));
    storeU32(h + info::biClrUsed, 256);
    storeU32(h + info::biClrImportant, 256);
    for (int i = 0; i < 256; ++i) {
        std::uint8_t* e = h + kInfoHeaderSize + 4 * i;
        e[0] = e[1] = e[2] = static_cast<std::uint8_t>(i);
    }
    std::vector<std::uint8_t> rendered;
    if (!image.eightBit()) rendered = renderPercentiles(image);
    std::uint8_t* pixels = h + (kNormalisedOffBits - kFileHeaderSize);
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* row = pixels + static_cast<std::size_t>(image.height - 1 - y) * padded;
        const std::size_t first = static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width);
        for (int x = 0; x < image.width; ++x)
            row[x] = image.eightBit() ? static_cast<std::uint8_t>(image.samples[first + x])
                                      : rendered[first + x];
    }
    return picture;
}

std::vector<std::uint8_t> normalisedBitmapOf(const GreyImage& image) {
    const CurrentImage picture = normalisedPictureOf(image);
    std::vector<std::uint8_t> file(kFileHeaderSize + picture.dib.block.size());
    file[0] = 'B';
    file[1] = 'M';
    storeU32(file.data() + 2, picture.fileHeader.bfSize);
    storeU32(file.data() + 10, picture.fileHeader.bfOffBits);
    std::memcpy(file.data() + kFileHeaderSize, picture.dib.block.data(), picture.dib.block.size());
    return file;
}

std::optional<std::string> describeBitmapFile(const std::string& path) {
    if (path.size() < 5 || !hasBmpExtension(path)) return std::nullopt;
    FileHandle file(fopenUtf8(path, "rb"));
    if (!file) return std::nullopt;
    const auto size = fileSize(file.get());
    std::uint8_t head[31];
    if (!size || std::fread(head, 1, sizeof head, file.get()) != sizeof head) return std::nullopt;
    if (!looksLikeBitmap(head)) return std::nullopt;
    const char* colours = "";
    switch (head[28]) {
        case 1:
            colours = "2";
            break;
        case 4:
            colours = "16";
            break;
        case 8:
            colours = "256";
            break;
        case 24:
            colours = "16M";
            break;
        default:
            break;
    }
    return core::formatMessage("%ld(W) x %ld(H) x %s(Colors) %s (%lld Bytes)",
                                static_cast<long>(loadI32(head + 18)),
                                static_cast<long>(loadI32(head + 22)), colours,
                                head[30] != 0 ? "RLE" : "RGB", static_cast<long long>(*size));
}

}  // namespace image
