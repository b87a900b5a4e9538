#include "spectrum/engine/save.h"

#include <cctype>
#include <cstdio>

#include "image/bmp_file.h"
#include "image/file_io.h"
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

}  // namespace

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
