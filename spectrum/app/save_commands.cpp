// Save BMP and Save File: the save dialogs, then the engine's checked writers.
#include "frame/app_frame.h"
#include "frame/support/window_support.h"
#include "spectrum/app/app_state.h"

#include <commdlg.h>

#include "core/disk.h"
#include "spectrum/engine/save.h"

namespace voralin {
namespace {

// Runs the save dialog; false when cancelled or failed (a failure is reported).
bool askSavePath(AppState& app, HWND window, const char* filter, const char* title,
                 const char* extension, const char* errorCaption, std::string& path) {
    return frame::askFilePath(
        window, app.sink,
        {true, filter, title, extension, OFN_PATHMUSTEXIST | OFN_HIDEREADONLY, errorCaption}, path);
}

}  // namespace

void saveBitmapCommand(AppState& app, HWND window) {
    std::string path;
    // A filtered image, or the removed part shown in its place, can also go out as a float TIFF
    // in the source's units (the filter applied to its samples).
    const bool floatTiff = restoredIsCurrent(app);
    const bool chosen = askSavePath(
        app, window,
        floatTiff ? "Bitmap (*.bmp)\0*.bmp\032-bit float TIFF (*.tif;*.tiff)\0*.tif;*.tiff\0"
                  : "Bitmap (*.bmp)\0*.bmp\0",
        "Assign a bitmap file to save.", "bmp", "Open Error", path);
    frame::repaintButtonBand(app.frame, window, IDB_SAVEAS, true);
    if (!chosen) return;
    // The dialog has not asked about an existing file, so the writer does.
    if (floatTiff && spectrum::hasTiffExtension(path)) {
        spectrum::saveFloatTiffTo(path, app.restored, app.settings.pixelSizeNm, app.sink,
                                  core::systemDisk(), true);
        return;
    }
    spectrum::saveBitmapTo(path, app.image, app.geometry, app.sink, core::systemDisk(), true);
}

void saveFftDataCommand(AppState& app, HWND window) {
    std::string path;
    const bool chosen = askSavePath(app, window, "FFT data (*.txt)\0*.txt\0",
                                    "Assign a FFT data file.", "txt", "Save Error", path);
    frame::repaintButtonBand(app.frame, window, IDB_SAVEGR, true);
    if (!chosen) return;
    spectrum::saveFftDataTo(path, app.buffers, app.geometry, app.settings.lineWave.angle, app.sink,
                            core::systemDisk(), true);
}

}  // namespace voralin
