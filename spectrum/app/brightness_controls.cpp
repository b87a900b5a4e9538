// The brightness controls both filter editing dialogs share: keep the image's brightness, or the
// dark and bright levels chosen from their lists.
#include "spectrum/app/filter_dialogs.h"

#include "frame/support/dialog_support.h"
#include "spectrum/rules/dialog_values.h"

namespace voralin {

using frame::fillList;
using frame::numberText;
using frame::selectedEntry;
using frame::selectEntry;
using frame::setMark;

namespace {

void showLevels(HWND dialog, const AppState& app) {
    const auto& b = app.settings.brightness;
    if (b.keepImageBrightness) {
        const auto shown =
            spectrum::levelsShownWhenKept(b, app.buffers.imageMin, app.buffers.imageMax);
        setMark(dialog, IDC_KEEPBRIGHTNESS, true);
        selectEntry(dialog, IDC_BRIGHT, shown.bright - spectrum::kBrightBase);
        selectEntry(dialog, IDC_DARK, shown.dark);
    } else {
        setMark(dialog, IDC_KEEPBRIGHTNESS, false);
        selectEntry(dialog, IDC_BRIGHT, b.brightLevel - spectrum::kBrightBase);
        selectEntry(dialog, IDC_DARK, b.darkLevel);
    }
    EnableWindow(GetDlgItem(dialog, IDC_BRIGHT), !b.keepImageBrightness);
    EnableWindow(GetDlgItem(dialog, IDC_DARK), !b.keepImageBrightness);
}

}  // namespace

void fillLevelLists(HWND dialog, const AppState& app) {
    const auto& b = app.settings.brightness;
    fillList(dialog, IDC_DARK, spectrum::kLevelEntries, numberText, b.darkLevel);
    fillList(
        dialog, IDC_BRIGHT, spectrum::kLevelEntries,
        [](int i) { return numberText(i + spectrum::kBrightBase); },
        b.brightLevel - spectrum::kBrightBase);
    showLevels(dialog, app);
}

bool OnLevelCommand(HWND dialog, AppState& app, int id, int code) {
    auto& b = app.settings.brightness;
    const int index = selectedEntry(dialog, id);
    if (id == IDC_DARK || id == IDC_BRIGHT) {
        if (code == CBN_SELCHANGE && index >= 0) {
            if (id == IDC_DARK) b.darkLevel = index;
            if (id == IDC_BRIGHT) b.brightLevel = index + spectrum::kBrightBase;
        }
        return true;
    }
    if (id == IDC_KEEPBRIGHTNESS) {
        b.keepImageBrightness = !b.keepImageBrightness;
        showLevels(dialog, app);
        return true;
    }
    return false;
}

}  // namespace voralin
