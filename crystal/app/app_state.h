// The whole state of kestral, in one struct that lives as long as the process (a static of
// runKestral) and that the windows reach through GWLP_USERDATA: the frame, the crystal and its
// last computation, what the client area shows and the remembered Save File choice.
#pragma once

#include <windows.h>

#include <string>

#include "crystal/engine/cif_reader.h"
#include "crystal/engine/orientation.h"
#include "crystal/rules/window_rules.h"
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
    int outputChoice = 0;        // 0..5, kept for the life of the process
    // Occupancy and thermal parameter of the rows a CIF gave; none after a crystal data file.
    std::vector<crystal::SiteExtras> siteExtras;
};

const frame::ProgramTable& programTable();

// Sets Previous, Next, Save BMP and Save File for the display mode and the page shown; called
// wherever either changes (the logo keeps the buttons' start state).
void updatePageButtons(AppState& app);

// Releases what the current display mode holds (logo, plane picture or opened image).
void releaseDisplay(AppState& app);

// A slicing run drawn into the plane picture; switches the display to the pages and shows the
// page when one was drawn (before any super cell warning). True when it was.
bool runSlicing(AppState& app, HWND window);

// The commands (commands.cpp; Crystal in parameters_dialog.cpp, Save File in
// file_select_dialog.cpp).
void readCrystalCommand(AppState& app, HWND window);
void crystalCommand(AppState& app, HWND window);
void previousCommand(AppState& app, HWND window);
void nextCommand(AppState& app, HWND window);
void saveBitmapCommand(AppState& app, HWND window);
void saveFileCommand(AppState& app, HWND window);
void openBitmapCommand(AppState& app, HWND window);

// A save-file dialog; false on cancel or failure (reported).
bool askSavePath(AppState& app, HWND window, const char* filter, const char* title,
                 const char* extension, std::string& path);
// Writes the output file of `choice` (0..2) after its save dialog, or refuses without a super cell.
void writeSimulationFile(AppState& app, HWND window, int choice);

}  // namespace kestral
