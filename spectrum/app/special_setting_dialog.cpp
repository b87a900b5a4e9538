// "Special setting" from the system menu: the expanded-image choice (before the spectrum exists),
// the line-wave colour, averaging and zoom. Values take effect on OK; Cancel restores them.
#include "frame/support/dialog_support.h"
#include "spectrum/app/app_state.h"
#include "spectrum/rules/dialog_values.h"

namespace voralin {

using frame::fillList;
using frame::numberText;
using frame::selectedEntry;
namespace {

struct SpecialValues {
    bool useExpandedImage = true;
    spectrum::Rgb colour;
    int averagingPoints = 0;
    int zoomPercent = 100;
};

struct SpecialDialog {
    AppState* app = nullptr;
};

SpecialValues currentValues(const AppState& app) {
    const auto& w = app.settings.lineWave;
    return {app.settings.useExpandedImage, w.colour, w.averagingPoints, w.zoomPercent};
}

void storeValues(AppState& app, const SpecialValues& v) {
    auto& w = app.settings.lineWave;
    app.settings.useExpandedImage = v.useExpandedImage;
    w.colour = v.colour;
    w.averagingPoints = v.averagingPoints;
    w.zoomPercent = v.zoomPercent;
}

void showValues(HWND dialog, const AppState& app) {
    const auto& w = app.settings.lineWave;
    if (GetDlgItem(dialog, IDC_EXPANDYES))
        CheckRadioButton(dialog, IDC_EXPANDYES, IDC_EXPANDNO,
                         app.settings.useExpandedImage ? IDC_EXPANDYES : IDC_EXPANDNO);
    const auto byte = [](int i) { return numberText(i); };
    fillList(dialog, IDC_WAVERED, 256, byte, w.colour.red);
    fillList(dialog, IDC_WAVEGREEN, 256, byte, w.colour.green);
    fillList(dialog, IDC_WAVEBLUE, 256, byte, w.colour.blue);
    fillList(
        dialog, IDC_AVERAGING, spectrum::kAveragingEntries,
        [](int k) { return numberText(2 * k + 1); }, w.averagingPoints);
    fillList(
        dialog, IDC_ZOOM, spectrum::kZoomEntries, [](int i) { return numberText(i + 100); },
        w.zoomPercent - 100);
}

void OnSpecialCommand(HWND dialog, AppState& app, int id, int code) {
    auto& w = app.settings.lineWave;
    const int index = selectedEntry(dialog, id);
    switch (id) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, id);
            break;
        case IDC_EXPANDYES:
        case IDC_EXPANDNO:
            CheckRadioButton(dialog, IDC_EXPANDYES, IDC_EXPANDNO, id);
            app.settings.useExpandedImage = id == IDC_EXPANDYES;
            break;
        case IDC_WAVERED:
        case IDC_WAVEGREEN:
        case IDC_WAVEBLUE:
        case IDC_AVERAGING:
        case IDC_ZOOM:
            if (code != CBN_SELCHANGE || index < 0) break;
            if (id == IDC_WAVERED) w.colour.red = static_cast<std::uint8_t>(index);
            if (id == IDC_WAVEGREEN) w.colour.green = static_cast<std::uint8_t>(index);
            if (id == IDC_WAVEBLUE) w.colour.blue = static_cast<std::uint8_t>(index);
            if (id == IDC_AVERAGING) w.averagingPoints = index;
            if (id == IDC_ZOOM) w.zoomPercent = index + 100;
            break;
        default:
            break;
    }
}

INT_PTR specialProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    SpecialDialog* d = frame::dialogState<SpecialDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            showValues(dialog, *d->app);
            return TRUE;
        case WM_COMMAND:
            OnSpecialCommand(dialog, *d->app, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void specialSettingCommand(AppState& app, HWND window) {
    const bool beforeSpectrum =
        app.state == ImageState::NoImage || app.state == ImageState::ImageOpened;
    const SpecialValues snapshot = currentValues(app);
    SpecialDialog d{&app};
    const INT_PTR result = frame::runDialog<specialProcedure>(
        app.frame.instance, window, beforeSpectrum ? "SPECIALSET_DLG" : "SPECIALSET_DLG2", d,
        "Unable to display dialog");
    if (result != IDOK) {
        storeValues(app, snapshot);
        return;
    }
    const SpecialValues now = currentValues(app);
    const bool waveChanged = !(now.colour == snapshot.colour) ||
                             now.averagingPoints != snapshot.averagingPoints ||
                             now.zoomPercent != snapshot.zoomPercent;
    if (app.state == ImageState::SpectrumShown && waveChanged) {
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
        redisplaySpectrum(app, window);
    }
}

}  // namespace voralin
