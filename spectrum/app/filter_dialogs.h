// The three dialogs of FFT Filter, one file each: the filter kind (filter_kind_dialog.cpp), the
// standard filter (standard_filter_dialog.cpp) and the special filter (special_filter_dialog.cpp),
// with the brightness controls the two editing dialogs share (brightness_controls.cpp).
#pragma once

#include <windows.h>

#include "spectrum/app/app_state.h"

namespace voralin {

// "SETMASK_DLG"; Cancel restores the values edited (the filter type chosen stays).
void standardFilterDialog(AppState& app, HWND window);
// "SETMASK_DLG2"; OK writes the profile to the settings file, Cancel restores it.
void specialFilterDialog(AppState& app, HWND window);

// The brightness controls: filled and shown on WM_INITDIALOG; a command of theirs is handled
// here (true), any other control's is left to the dialog (false).
void fillLevelLists(HWND dialog, const AppState& app);
bool OnLevelCommand(HWND dialog, AppState& app, int id, int code);

}  // namespace voralin
