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
};

// Appends the commands to the system menu and reads the remembered symmetric-circles option.
void addLatticeMenu(AppState& app, HWND window);
// Runs a lattice command; false when `id` is not one.
bool latticeSysCommand(AppState& app, HWND window, int id);
// Numbered markers on the shown spectrum at the spots found for it.
void paintSpotMarkers(AppState& app, HDC dc);
// After an inverse transform: the removed part of the new picture replaces the old one.
void latticeAfterInverse(AppState& app, HWND window);

}  // namespace voralin
