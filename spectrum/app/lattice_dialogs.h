// The dialogs of the lattice tools, one file each: the spots found (lattice_spots_dialog.cpp),
// the lattice and noise filters (lattice_filter_dialog.cpp) and the radial profile
// (radial_plot_dialog.cpp), with the few helpers they share with the commands
// (lattice_commands.cpp).
#pragma once

#include <windows.h>

#include <string>

#include "core/localized.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/radial.h"

namespace voralin {

// "LATTICESPOTS_DLG": the spots in app.lattice.spots listed; masks the chosen spots with their
// mates as circles, or the whole lattice of their basis.
void spotsDialog(AppState& app, HWND window);
// "LATTICEFILTER_DLG": the lattice or noise filter and its numbers; Cancel changes nothing.
void latticeFilterDialog(AppState& app, HWND window);
// "RADIALPLOT_DLG": the radial profile on a log scale, in 1/nm when nmPerPixel is above 0.
void radialPlotDialog(AppState& app, HWND window, spectrum::RadialProfile profile,
                      double nmPerPixel);

// Shared by the lattice commands and their dialogs.
// A message of the lattice tools (caption "Lattice spots").
void sayLattice(AppState& app, const core::Localized& text, unsigned style);
// The dialog template for the UI language.
const char* templateName(const AppState& app, const char* english, const char* japanese);
bool spectrumShown(const AppState& app);
// The zero frequency in picture pixels.
double centreX(const AppState& app);
double centreY(const AppState& app);
// The auto radius of the spots found beside a radius box: "auto: 5 px", with "= 0.02441 1/nm"
// when calibrated; "" without a basis.
std::string autoRadiusNote(const AppState& app, const spectrum::SpotResult& spots);
// A number typed in a dialog box; clears `ok` when the text is not one.
double numberIn(HWND dialog, int id, bool& ok);
void setNumber(HWND dialog, int id, double value);

}  // namespace voralin
