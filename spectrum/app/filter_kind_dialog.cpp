// FFT Filter: "SETMASKBASE_DLG", the choice of filter kind, and the command that leads from it
// to the standard filter, the special filter or the placement of mask circles.
#include "spectrum/app/filter_dialogs.h"

#include "frame/support/dialog_support.h"
#include "spectrum/engine/filters.h"

namespace voralin {
namespace {

INT_PTR kindProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    AppState* app = frame::dialogState<AppState>(dialog, message, lParam);
    if (!app) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            CheckRadioButton(dialog, IDC_STANDARD, IDC_CIRCLESIN,
                             IDC_STANDARD + app->settings.filter.kind);
            return TRUE;
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            if (id >= IDC_STANDARD && id <= IDC_CIRCLESIN) {
                CheckRadioButton(dialog, IDC_STANDARD, IDC_CIRCLESIN, id);
                app->settings.filter.kind = id - IDC_STANDARD;
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

void hideFilterCircles(AppState& app, HWND window) {
    if (!app.settings.filter.showFilterCircles) return;
    app.settings.filter.showFilterCircles = false;
    repaintSpectrumArea(app, window);
}

}  // namespace

void filterCommand(AppState& app, HWND window) {
    leaveCircleMode(app, true);
    app.circlePlacement = false;
    const int kind = app.settings.filter.kind;
    const INT_PTR result = frame::runDialog<kindProcedure>(
        app.frame.instance, window, "SETMASKBASE_DLG", app, "Unable to open a dialog box.");
    if (result != IDOK) {
        app.settings.filter.kind = kind;
        if (result == IDCANCEL) repaintSpectrumArea(app, window);  // the circles are gone
        return;
    }
    switch (app.settings.filter.kind) {
        case spectrum::kStandardFilter:
            standardFilterDialog(app, window);
            break;
        case spectrum::kSpecialFilter:
            hideFilterCircles(app, window);
            specialFilterDialog(app, window);
            break;
        default:
            hideFilterCircles(app, window);
            app.circlePlacement = true;
            app.dragging = false;
            break;
    }
}

}  // namespace voralin
