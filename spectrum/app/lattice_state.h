// voralin00's lattice tools: the spot finder's dialog and markers, the lattice and noise filter
// dialog, symmetric circles, the windowed and whole-frame spectrum, the removed part and the
// radial profile window. All reached from the system menu.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "spectrum/engine/inverse.h"
#include "spectrum/engine/spot_finder.h"

namespace voralin {

struct AppState;

struct LatticeState {
    spectrum::SpotResult spots;
    std::vector<std::uint8_t> spotsSource;  // the image the spots belong to (markers only then)
    double spotRadius = 4.0;
    int classicKind = 0;  // the FFT Filter dialog's kind before a lattice or noise filter
    spectrum::InverseParts parts;  // of the last inverse transform
    bool showingRemoved = false;
    std::vector<std::uint8_t> filteredBlock;  // the filtered picture while the removed part shows
    // The float values of the picture not shown (filtered or removed), swapped with the state's
    // `restored` at each toggle, so Save BMP to a .tif name writes the values of the one shown.
    spectrum::RestoredImage otherValues;
};

// Appends the commands to the system menu and reads the remembered symmetric-circles option.
void addLatticeMenu(AppState& app, HWND window);
// Runs a lattice command; false when `id` is not one.
bool latticeSysCommand(AppState& app, HWND window, int id);
// Numbered markers on the shown spectrum at the spots found for it.
void paintSpotMarkers(AppState& app, HDC dc);
// Shows the spectrum in the mirror or the windowed frame (recomputed from the kept image while a
// spectrum is shown); false after reporting a failure. Keeps the window menu's marks in step.
bool chooseGrid(AppState& app, HWND window, int frame);
// The window menu's marks for the frame and whole-frame choices, as the settings hold them.
void markGridChoices(const AppState& app, HWND window);
// The localized texts of the FFT Mode dialog's frame check boxes.
void labelGridChoices(HWND dialog);

// False, after saying why, while the whole frame is shown: a circle drawn there would not be the
// circle applied (circles are kept in pixels of the central window).
bool circlesDrawableInView(AppState& app);

// After an inverse transform: the removed part of the new picture replaces the old one.
void latticeAfterInverse(AppState& app, HWND window);

}  // namespace voralin
