// The whole state of voralin00, in one struct owned by WinMain and reached by the window
// procedure through GWLP_USERDATA.
#pragma once

#include <windows.h>

#include <string>

#include "frame/app_frame.h"
#include "image/packed_dib.h"
#include "spectrum/app/window_rules.h"
#include "spectrum/engine/spectrum_state.h"

namespace voralin {

struct AppState {
    frame::FrameContext frame;
    frame::MessageBoxSink sink;
    ImageState state = ImageState::NoImage;
    image::CurrentImage image;
    image::ImageGeometry geometry;  // of the image as opened
    spectrum::SpectrumSettings settings;
    spectrum::SpectrumBuffers buffers;
    bool circlePlacement = false;
    bool dragging = false;
    std::string openedPath;
    std::string imageInfo;
};

// The program's description for the shared frame.
const frame::ProgramTable& programTable();

// Leaves the circle modes; with `emptyList` also forgets the circles drawn.
void leaveCircleMode(AppState& app, bool emptyList);

// Invalidates the picture area below the icon bar and repaints it at once.
void repaintPicture(HWND window, bool erase);

// The commands that work on the image (image_commands.cpp).
void openImageCommand(AppState& app, HWND window);
void fftCommand(AppState& app, HWND window);
void inverseFftCommand(AppState& app, HWND window);
void paintOverlays(AppState& app, HDC dc);
void saveBitmapCommand(AppState& app, HWND window);
void saveFftDataCommand(AppState& app, HWND window);

}  // namespace voralin
