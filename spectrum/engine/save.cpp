#include "spectrum/engine/save.h"

#include <cctype>
#include <cstdio>

#include "image/bmp_file.h"
#include "core/localized.h"
#include "image/file_io.h"
#include "image/tiff_write.h"
#include "spectrum/engine/line_wave.h"

namespace spectrum {

bool hasExtension(const std::string& path, const char* extension) {
    const std::size_t length = std::char_traits<char>::length(extension);
    if (path.size() < length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        const char a = static_cast<char>(
            std::tolower(static_cast<unsigned char>(path[path.size() - length + i])));
        if (a != std::tolower(static_cast<unsigned char>(extension[i]))) return false;
    }
    return true;
}

namespace {

bool mayOverwrite(const std::string& path, core::MessageSink& sink, bool ask) {
    // The path is in the ANSI code page, as the file dialog gives it. std::filesystem would read
    // it as UTF-8 and throw on other bytes; the C runtime takes it as it is.
    if (!ask || !image::fileExists(path)) return true;
    return sink.ask("File already exists.  Do you overwrite it ?", "Warning",
                    core::kIconWarning | core::kYesNo) == core::kAnswerYes;
}

bool onFixedDrive(const std::string& path, core::MessageSink& sink, core::DiskServices& disk) {
    if (disk.isFixedDrive(path)) return true;
    sink.ask("Able to save the file only to the hard disk.", "Warning", core::kIconWarning);
    return false;
}

// Writes `bytes` through a temporary file beside `path`: the old file stays until the new one is
// complete.
bool writeWhole(const std::string& path, const std::uint8_t* bytes, std::size_t size,
                core::MessageSink& sink) {
    image::ReplacingFile file;
    if (!file.open(path)) {
        sink.ask(core::formatMessage(core::text({"Unable to create the file '%s'.",
                                                 "ファイル '%s' を作成できません。"}),
                                     path.c_str()),
                 "Save Error", core::kIconError);
        return false;
    }
    if (!file.write(bytes, size) || !file.commit()) {
        sink.ask("Unable to write to file.", "Save Error", core::kIconError);
        return false;
    }
    return true;
}

}  // namespace

bool hasTiffExtension(const std::string& path) {
    return hasExtension(path, ".tif") || hasExtension(path, ".tiff");
}

bool saveFloatTiffTo(const std::string& path, const RestoredImage& restored,
                     std::optional<image::PixelSize> pixelSizeNm, core::MessageSink& sink,
                     core::DiskServices& disk, bool askBeforeOverwrite) {
    if (!mayOverwrite(path, sink, askBeforeOverwrite)) return false;
    if (!onFixedDrive(path, sink, disk)) return false;
    if (!hasTiffExtension(path)) {
        sink.ask(core::text({"Assign a file with TIF or TIFF extension.",
                             "拡張子が TIF または TIFF のファイルを指定してください。"}),
                 "Error", core::kIconWarning);
        return false;
    }
    const auto bytes =
        image::encodeFloatTiff(restored.width, restored.height, restored.values, pixelSizeNm);
    if (!bytes) {
        sink.ask(core::text({"The filtered image is too large for a TIFF file.",
                             "フィルター処理した画像は TIFF ファイルには大きすぎます。"}),
                 "Save Error", core::kIconError);
        return false;
    }
    if (!disk.hasFreeDiskSpace(path, bytes->size() + core::kFreeSpaceMargin)) {
        sink.ask("Not enough free diskspace to save a bitmap file.", "Warning", core::kIconError);
        return false;
    }
    if (!writeWhole(path, bytes->data(), bytes->size(), sink)) return false;
    sink.ask(core::formatMessage(core::text({"A 32-bit float TIFF file\n%s\nhas been successfully saved.",
                                             "32 ビット浮動小数点 TIFF ファイル\n%s\nを保存しました。"}),
                                 path.c_str()),
             "Information", core::kIconInformation);
    return true;
}

bool saveCalibratedLineTo(const std::string& path, const SpectrumBuffers& buffers,
                          const image::ImageGeometry& geometry, double angleDegrees,
                          std::optional<image::PixelSize> pixelSizeNm, core::MessageSink& sink,
                          core::DiskServices& disk) {
    if (!onFixedDrive(path, sink, disk)) return false;
    const std::string text = calibratedLineCsv(buffers, geometry, angleDegrees, pixelSizeNm);
    if (!writeWhole(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), sink))
        return false;
    sink.ask(core::formatMessage(core::text({"Calibrated line wave file\n%s\nhas been successfully saved.",
                                             "校正済みラインウェーブファイル\n%s\nを保存しました。"}),
                                 path.c_str()),
             "Information", core::kIconInformation);
    return true;
}

bool saveRadialCsvTo(const std::string& path, const std::string& csv, core::MessageSink& sink,
                     core::DiskServices& disk) {
    if (!mayOverwrite(path, sink, true)) return false;
    if (!onFixedDrive(path, sink, disk)) return false;
    if (!writeWhole(path, reinterpret_cast<const std::uint8_t*>(csv.data()), csv.size(), sink))
        return false;
    sink.ask(core::formatMessage(core::text({"Radial profile file\n%s\nhas been successfully saved.",
                                             "動径プロファイルファイル\n%s\nを保存しました。"}),
                                 path.c_str()),
             "Information", core::kIconInformation);
    return true;
}

bool saveFftDataTo(const std::string& path, const SpectrumBuffers& buffers,
                   const image::ImageGeometry& geometry, double angleDegrees,
                   core::MessageSink& sink, core::DiskServices& disk, bool askBeforeOverwrite) {
    if (!mayOverwrite(path, sink, askBeforeOverwrite)) return false;
    if (!onFixedDrive(path, sink, disk)) return false;
    if (!hasExtension(path, ".txt")) {
        sink.ask("Assign a file with TXT extension.", "Error", core::kIconWarning);
        return false;
    }
    // The old file stays until the new one is complete.
    image::ReplacingFile file;
    if (!file.open(path)) {
        sink.ask("Unable to create a data file.", "Open Error", core::kIconError);
        return false;
    }
    const std::string text = fftDataText(buffers, geometry, angleDegrees);
    if (!file.write(text) || !file.commit()) {
        sink.ask("Unable to write to file.", "Save Error", core::kIconError);
        return false;
    }
    sink.ask(
        core::formatMessage("Line wave data file\n%s\nhas been successfully saved.", path.c_str()),
        "Information", core::kIconInformation);
    return true;
}

bool saveBitmapTo(const std::string& path, image::CurrentImage& image,
                  const image::ImageGeometry& geometry, core::MessageSink& sink,
                  core::DiskServices& disk, bool askBeforeOverwrite) {
    if (!mayOverwrite(path, sink, askBeforeOverwrite)) return false;
    if (!onFixedDrive(path, sink, disk)) return false;
    if (!disk.hasFreeDiskSpace(path, geometry.fileSize + core::kFreeSpaceMargin)) {
        sink.ask("Not enough free diskspace to save a bitmap file.", "Warning", core::kIconError);
        return false;
    }
    if (!hasExtension(path, ".bmp")) {
        sink.ask("Assign a file with BMP extension.", "Error", core::kIconWarning);
        return false;
    }
    if (!image::writeBitmapFile(path, image, image::BitmapFlavour::Voralin00, sink)) return false;
    sink.ask(core::formatMessage("A bitmap file\n%s\nhas been successfully saved.", path.c_str()),
             "Information", core::kIconInformation);
    return true;
}

}  // namespace spectrum
