// Save File: "FILESELECT_DLG", the choice of the file to write (reference data, normal-beam
// input files, convergent-beam input file, crystal data, and with a periodic cell its two atom
// lists), kept for the life of the process.
#include "core/localized.h"
#include "crystal/app/app_state.h"
#include "crystal/engine/cell_exports.h"
#include "crystal/engine/crystal_model.h"
#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"

namespace kestral {
namespace {

constexpr core::Localized kCellXyzChoice{"Periodic cell for multislice programs (xyz).",
                                         "マルチスライス計算用の周期セル (xyz)"};
constexpr core::Localized kCellExtxyzChoice{"Periodic cell as extended XYZ (Lattice, pbc).",
                                            "周期セル、拡張 XYZ (Lattice, pbc)"};
constexpr core::Localized kCellFilter{"Periodic cell (*.xyz)\0*.xyz\0", "周期セル (*.xyz)\0*.xyz\0"};
constexpr core::Localized kCellTitle{"Assign a periodic cell file.",
                                     "周期セルのファイルを指定してください。"};

// The radio buttons in the order of the choices 0..5.
constexpr int kChoiceIds[] = {IDC_REFERENCE,   IDC_NORMAL, IDC_CONVERGENT, IDC_CRYSTALFILE,
                              IDC_CELLXYZ, IDC_CELLEXTXYZ};
constexpr int kChoiceCount = 6;
constexpr int kFirstCellChoice = 4;

struct SelectDialog {
    int* choice;
    bool periodicCell;  // the cell choices are offered only then
};

void checkChoice(HWND dialog, int choice) {
    for (int i = 0; i < kChoiceCount; ++i)
        CheckDlgButton(dialog, kChoiceIds[i], i == choice ? BST_CHECKED : BST_UNCHECKED);
}

void OnSelectInit(HWND dialog, SelectDialog& d) {
    SetDlgItemTextW(dialog, IDC_CELLXYZ, frame::wideText(core::text(kCellXyzChoice)).c_str());
    SetDlgItemTextW(dialog, IDC_CELLEXTXYZ, frame::wideText(core::text(kCellExtxyzChoice)).c_str());
    EnableWindow(GetDlgItem(dialog, IDC_CELLXYZ), d.periodicCell);
    EnableWindow(GetDlgItem(dialog, IDC_CELLEXTXYZ), d.periodicCell);
    // A cell choice kept from a run with a periodic cell does not stand without one.
    if (*d.choice >= kFirstCellChoice && !d.periodicCell) *d.choice = 0;
    checkChoice(dialog, *d.choice);
}

INT_PTR fileSelectProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    SelectDialog* d = frame::dialogState<SelectDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            OnSelectInit(dialog, *d);
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            for (int i = 0; i < kChoiceCount; ++i) {
                if (id != kChoiceIds[i]) continue;
                // Remembered at once, so the choice stays even when the dialog is cancelled.
                checkChoice(dialog, i);
                *d->choice = i;
            }
            if (id == IDOK || id == IDCANCEL) EndDialog(dialog, id);
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

// The periodic cell of the last run, written as kestral-cli --xyz or --extxyz writes it.
void writeCellCommand(AppState& app, HWND window, crystal::CellFormat format) {
    const crystal::SlicingState& st = app.crystal.slicing;
    if (!st.periodicCell || st.superCellX <= 0 || st.superCellY <= 0) {
        app.sink.ask(core::text(crystal::kNoCellForExport), "Error", core::kIconWarning);
        return;
    }
    std::string path;
    const bool chosen =
        askSavePath(app, window, core::text(kCellFilter), core::text(kCellTitle), "xyz", path);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    if (!chosen) return;
    const crystal::CellContent cell =
        crystal::periodicCellContent(app.crystal.model, app.siteExtras, st);
    crystal::writeCellFile(path, cell, format, crystal::cellComment(app.crystal.model, {}),
                           app.sink);
}

}  // namespace

void saveFileCommand(AppState& app, HWND window) {
    SelectDialog d{&app.outputChoice, app.crystal.options.periodicCell};
    const INT_PTR answer = frame::runDialog<fileSelectProcedure>(
        app.frame.instance, window, "FILESELECT_DLG", d, "Unable to display dialog");
    if (answer != IDOK) return;
    if (app.outputChoice == 3) {
        std::string path;
        if (askSavePath(app, window, "Crystal data (*.txt)\0*.txt\0", "Assign a crystal data file.",
                        "txt", path))
            crystal::saveCrystalFile(path, app.crystal.model, app.sink);
        return;
    }
    if (app.outputChoice >= kFirstCellChoice) {
        writeCellCommand(app, window,
                         app.outputChoice == kFirstCellChoice ? crystal::CellFormat::Prismatic
                                                              : crystal::CellFormat::ExtendedXyz);
        return;
    }
    writeSimulationFile(app, window, app.outputChoice);
}

}  // namespace kestral
