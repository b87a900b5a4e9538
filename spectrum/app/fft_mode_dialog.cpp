// "Display mode for FFT": every change is shown on the spectrum at once; Cancel brings back the
// settings the dialog opened with.
#include <string>

#include "frame/support/dialog_support.h"
#include "spectrum/app/app_state.h"
#include "spectrum/rules/dialog_values.h"

namespace voralin {

using frame::fillList;
using frame::numberText;
using frame::selectedEntry;
using frame::setMark;
namespace {

// The twelve settings this dialog edits.
struct ModeValues {
    spectrum::DisplaySettings display;
    bool lineWave = false;
    double angle = 0.0;
    int frame = spectrum::kMirrorFrame;

    bool operator==(const ModeValues& o) const {
        const auto& a = display;
        const auto& b = o.display;
        return a.displayQuantity == b.displayQuantity && a.logScale == b.logScale &&
               a.upperClipFactor == b.upperClipFactor && a.lowerClipping == b.lowerClipping &&
               a.lowerClipDivisor == b.lowerClipDivisor && a.invertedDisplay == b.invertedDisplay &&
               a.rainbowPalette == b.rainbowPalette && a.crossMark == b.crossMark &&
               a.wholeFrame == b.wholeFrame && lineWave == o.lineWave && angle == o.angle &&
               frame == o.frame;
    }
};

struct ModeDialog {
    AppState* app = nullptr;
    HWND mainWindow = nullptr;
    ModeValues snapshot;
    ModeValues applied;
    bool filling = false;  // controls being set up: their notifications change nothing
};

ModeValues currentValues(const AppState& app) {
    return {app.settings.display, app.settings.lineWave.lineWave, app.settings.lineWave.angle,
            app.settings.frame};
}

void storeValues(AppState& app, const ModeValues& v) {
    app.settings.display = v.display;
    app.settings.lineWave.lineWave = v.lineWave;
    app.settings.lineWave.angle = v.angle;
}

void showValues(HWND dialog, ModeDialog& d) {
    d.filling = true;
    const ModeValues v = currentValues(*d.app);
    CheckRadioButton(dialog, IDC_ROOTPOWER, IDC_PHASE, IDC_ROOTPOWER + v.display.displayQuantity);
    CheckRadioButton(dialog, IDC_LINEAR, IDC_LOGSCALE,
                     v.display.logScale ? IDC_LOGSCALE : IDC_LINEAR);
    CheckRadioButton(dialog, IDC_NORMAL, IDC_INVERTED,
                     v.display.invertedDisplay ? IDC_INVERTED : IDC_NORMAL);
    setMark(dialog, IDC_CROSSMARK, v.display.crossMark);
    setMark(dialog, IDC_LINEWAVE, v.lineWave);
    setMark(dialog, IDC_RAINBOW, v.display.rainbowPalette);
    setMark(dialog, IDC_LOWERCLIPON, v.display.lowerClipping);
    labelGridChoices(dialog);
    setMark(dialog, IDC_WINDOWEDFRAME, v.frame == spectrum::kWindowedFrame);
    setMark(dialog, IDC_WHOLEFRAME, v.display.wholeFrame);
    fillList(
        dialog, IDC_ANGLE, spectrum::kAngleEntries, [](int i) { return numberText(i - 90); },
        static_cast<int>(v.angle) + 90);
    EnableWindow(GetDlgItem(dialog, IDC_ANGLE), v.lineWave);
    SendDlgItemMessageA(dialog, IDC_UPPERCLIP, EM_LIMITTEXT, spectrum::kEditNumberChars, 0);
    SendDlgItemMessageA(dialog, IDC_LOWERCLIP, EM_LIMITTEXT, spectrum::kEditNumberChars, 0);
    SetDlgItemTextA(dialog, IDC_UPPERCLIP,
                    spectrum::formatEditNumber(v.display.upperClipFactor).c_str());
    SetDlgItemTextA(dialog, IDC_LOWERCLIP,
                    spectrum::formatEditNumber(v.display.lowerClipDivisor).c_str());
    d.filling = false;
}

// Reads a number box; an invalid text is replaced by the value the dialog opened with.
double readNumberBox(HWND dialog, int id, double snapshotValue) {
    char text[spectrum::kEditNumberRead + 1] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    if (const auto value = spectrum::parseEditNumber(text)) return *value;
    SetDlgItemTextA(dialog, id, spectrum::formatEditNumber(snapshotValue).c_str());
    return snapshotValue;
}

void toggle(HWND dialog, int id, bool& value) {
    value = !value;
    setMark(dialog, id, value);
}

void OnModeCommand(HWND dialog, ModeDialog& d, int id, int code) {
    AppState& app = *d.app;
    auto& display = app.settings.display;
    auto& wave = app.settings.lineWave;
    switch (id) {
        case IDOK:
            EndDialog(dialog, IDOK);
            return;
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return;
        case IDC_ROOTPOWER:
        case IDC_AMPLITUDE:
        case IDC_PHASE:
            CheckRadioButton(dialog, IDC_ROOTPOWER, IDC_PHASE, id);
            display.displayQuantity = id - IDC_ROOTPOWER;
            break;
        case IDC_LINEAR:
        case IDC_LOGSCALE:
            CheckRadioButton(dialog, IDC_LINEAR, IDC_LOGSCALE, id);
            display.logScale = id == IDC_LOGSCALE;
            break;
        case IDC_NORMAL:
        case IDC_INVERTED:
            CheckRadioButton(dialog, IDC_NORMAL, IDC_INVERTED, id);
            display.invertedDisplay = id == IDC_INVERTED;
            break;
        case IDC_CROSSMARK:
            toggle(dialog, id, display.crossMark);
            break;
        case IDC_RAINBOW:
            toggle(dialog, id, display.rainbowPalette);
            break;
        case IDC_LOWERCLIPON:
            toggle(dialog, id, display.lowerClipping);
            break;
        case IDC_WHOLEFRAME:
            toggle(dialog, id, display.wholeFrame);
            markGridChoices(app, d.mainWindow);
            break;
        case IDC_WINDOWEDFRAME: {
            const bool windowed = app.settings.frame != spectrum::kWindowedFrame;
            if (chooseGrid(app, d.mainWindow,
                            windowed ? spectrum::kWindowedFrame : spectrum::kMirrorFrame))
                setMark(dialog, id, windowed);
            break;
        }
        case IDC_LINEWAVE:
            toggle(dialog, id, wave.lineWave);
            EnableWindow(GetDlgItem(dialog, IDC_ANGLE), wave.lineWave);
            break;
        case IDC_ANGLE: {
            if (code != CBN_SELCHANGE) return;
            const int index = selectedEntry(dialog, IDC_ANGLE);
            if (index >= 0) wave.angle = index - 90;
            break;
        }
        case IDC_UPPERCLIP:
            display.upperClipFactor = readNumberBox(dialog, id, d.snapshot.display.upperClipFactor);
            break;
        case IDC_LOWERCLIP:
            display.lowerClipDivisor =
                readNumberBox(dialog, id, d.snapshot.display.lowerClipDivisor);
            break;
        default:
            return;
    }
    const ModeValues now = currentValues(app);
    if (!(now == d.applied)) {
        d.applied = now;
        redisplaySpectrum(app, d.mainWindow);
    }
}

INT_PTR modeProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    ModeDialog* d = frame::dialogState<ModeDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            showValues(dialog, *d);
            frame::placeDialogTopRight(dialog, d->app->frame.dialogTopOffset);
            return TRUE;
        case WM_COMMAND:
            if (!d->filling) OnModeCommand(dialog, *d, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void fftModeCommand(AppState& app, HWND window) {
    ModeDialog d{&app, window, currentValues(app), currentValues(app)};
    const INT_PTR result = frame::runDialog<modeProcedure>(
        app.frame.instance, window, "FFTMODE_DLG", d, "Unable to display dialog");
    if (result == IDOK) rememberChoices(app);
    if (result != IDCANCEL) return;
    chooseGrid(app, window, d.snapshot.frame);
    storeValues(app, d.snapshot);
    markGridChoices(app, window);
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    redisplaySpectrum(app, window);
}

}  // namespace voralin
