// The whole state of kestral, in one struct owned by WinMain and reached by the windows through
// GWLP_USERDATA: the frame, the crystal and its last computation, what the client area shows and
// the remembered Save File choice.
#pragma once

#include <windows.h>

#include "crystal/app/window_rules.h"
#include "crystal/engine/orientation.h"
#include "frame/app_frame.h"
#include "image/packed_dib.h"

namespace kestral {

// The off-screen picture the pages are drawn into, as large as the client area.
struct PlanePicture {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ originalBitmap = nullptr;
    HGDIOBJ originalFont = nullptr;
    int width = 0, height = 0;
    bool present() const { return dc != nullptr; }
};

struct AppState {
    frame::FrameContext frame;
    frame::MessageBoxSink sink;
    crystal::CrystalState crystal;
    DisplayMode mode = DisplayMode::Logo;
    PlanePicture planes;
    HFONT pageFont = nullptr;
    image::CurrentImage opened;  // the picture of Open BMP
    int outputChoice = 0;        // 0..3, kept for the life of the process
};

const frame::ProgramTable& programTable();

// Invalidates the client area below the icon bar and repaints it at once.
void repaintPicture(HWND window, bool erase);

// Releases what the current display mode holds (logo, plane picture or opened image).
void releaseDisplay(AppState& app);

// A slicing run drawn into the plane picture; switches the display to the pages when a page was
// drawn. True when it was.
bool runSlicing(AppState& app, HWND window);

// The commands (commands.cpp, parameters_dialog.cpp).
void readCrystalCommand(AppState& app, HWND window);
void crystalCommand(AppState& app, HWND window);
void previousCommand(AppState& app, HWND window);
void nextCommand(AppState& app, HWND window);
void saveBitmapCommand(AppState& app, HWND window);
void saveFileCommand(AppState& app, HWND window);
void openBitmapCommand(AppState& app, HWND window);

enum class CrystalDialogResult { Shown, Unavailable };
// Runs "PARAMETERS_DLG" with the crystal window beside it; the outcome and the edit row come back.
CrystalDialogResult runParametersDialog(AppState& app, HWND window, int rememberedAtomCount,
                                        int& outcome, int& editRow);

}  // namespace kestral
