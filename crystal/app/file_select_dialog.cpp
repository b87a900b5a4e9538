// Save File: "FILESELECT_DLG", the choice of the file to write (reference data, normal-beam
// input files, convergent-beam input file, crystal data), kept for the life of the process.
#include "crystal/app/app_state.h"
#include "crystal/engine/crystal_model.h"
#include "frame/support/dialog_support.h"

namespace kestral {
namespace {

INT_PTR fileSelectProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    int* choice = frame::dialogState<int>(dialog, message, lParam);
    if (!choice) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            CheckRadioButton(dialog, IDC_REFERENCE, IDC_CRYSTALFILE, IDC_REFERENCE + *choice);
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id >= IDC_REFERENCE && id <= IDC_CRYSTALFILE) {
                // Remembered at once, so the choice stays even when the dialog is cancelled.
                CheckRadioButton(dialog, IDC_REFERENCE, IDC_CRYSTALFILE, id);
                *choice = id - IDC_REFERENCE;
            } else if (id == IDOK || id == IDCANCEL) {
                EndDialog(dialog, id);
            }
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void saveFileCommand(AppState& app, HWND window) {
    const INT_PTR answer = frame::runDialog<fileSelectProcedure>(
        app.frame.instance, window, "FILESELECT_DLG", app.outputChoice, "Unable to display dialog");
    if (answer != IDOK) return;
    if (app.outputChoice == 3) {
        std::string path;
        if (askSavePath(app, window, "Crystal data (*.txt)\0*.txt\0", "Assign a crystal data file.",
                        "txt", path))
            crystal::saveCrystalFile(path, app.crystal.model, app.sink);
        return;
    }
    writeSimulationFile(app, window, app.outputChoice);
}

}  // namespace kestral
