// "LATTICEFILTER_DLG": no lattice filter, keep or remove the lattice, Wiener or average
// background subtraction, with the basis (the spot finder's when none is set), the spot radius,
// the edge sigma and the noise numbers. OK checks the numbers before anything changes.
#include <cmath>

#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"
#include "spectrum/app/lattice_dialogs.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/lattice_mask.h"

namespace voralin {
namespace {

const core::Localized kBadNumbers{
    "Please enter numbers: spot radius above 0, sigma 0..1000, c 0..1000, smoothing 0..10.",
    "数値を入力してください: スポット半径は 0 より大きく、σ は 0..1000、c は 0..1000、"
    "平均化の半幅は 0..10 です。"};

struct FilterDialog {
    AppState* app;
};

const int kKindButtons[] = {IDC_LATNONE, IDC_LATKEEP, IDC_LATREMOVE, IDC_WIENER, IDC_ABSF};
static_assert(IDC_ABSF - IDC_LATNONE == 4, "the five kinds are consecutive ids");

// The kind chosen and the numbers in force; a lattice not yet set shows the spot finder's basis
// when the spots belong to this image.
void OnFilterInit(HWND dialog, const AppState& app) {
    const auto& filter = app.settings.filter;
    int choice = 0;
    if (filter.kind >= spectrum::kLatticeKeep && filter.kind <= spectrum::kAbsfFilter)
        choice = filter.kind - spectrum::kLatticeKeep + 1;
    for (int i = 0; i < 5; ++i) frame::setMark(dialog, kKindButtons[i], i == choice);
    spectrum::LatticeSettings lattice = filter.lattice;
    const bool spotsOfThisImage =
        app.lattice.spots.haveBasis && app.lattice.spotsSource == app.buffers.source;
    if (lattice.g1 == spectrum::Vec2{} && spotsOfThisImage) {
        lattice.g1 = app.lattice.spots.g1;
        lattice.g2 = app.lattice.spots.g2;
        lattice.radius = spectrum::autoLatticeRadius(app.lattice.spots);
    }
    SetDlgItemTextW(dialog, IDC_LATRADIUSNOTE,
                    frame::wideText(spotsOfThisImage ? autoRadiusNote(app, app.lattice.spots) : "")
                        .c_str());
    setNumber(dialog, IDC_G1X, lattice.g1.x);
    setNumber(dialog, IDC_G1Y, lattice.g1.y);
    setNumber(dialog, IDC_G2X, lattice.g2.x);
    setNumber(dialog, IDC_G2Y, lattice.g2.y);
    setNumber(dialog, IDC_LATRADIUS, lattice.radius);
    setNumber(dialog, IDC_EDGESIGMA, filter.edgeSigma);
    setNumber(dialog, IDC_NOISESCALE, filter.noise.noiseScale);
    setNumber(dialog, IDC_SMOOTHING, filter.noise.smoothing);
}

// OK: false, after saying why, while a number is refused; nothing changes until all pass.
bool OnFilterOk(HWND dialog, AppState& app) {
    auto& filter = app.settings.filter;
    int choice = 0;
    for (int i = 0; i < 5; ++i)
        if (IsDlgButtonChecked(dialog, kKindButtons[i]) == BST_CHECKED) choice = i;
    bool ok = true;
    spectrum::LatticeSettings lattice;
    lattice.g1 = {numberIn(dialog, IDC_G1X, ok), numberIn(dialog, IDC_G1Y, ok)};
    lattice.g2 = {numberIn(dialog, IDC_G2X, ok), numberIn(dialog, IDC_G2Y, ok)};
    lattice.radius = numberIn(dialog, IDC_LATRADIUS, ok);
    const double sigma = numberIn(dialog, IDC_EDGESIGMA, ok);
    const double scale = numberIn(dialog, IDC_NOISESCALE, ok);
    const double smoothing = numberIn(dialog, IDC_SMOOTHING, ok);
    if (!ok || !(sigma >= 0 && sigma <= 1000) || !(scale >= 0 && scale <= 1000) ||
        !(smoothing >= 0 && smoothing <= 10) || smoothing != std::floor(smoothing)) {
        sayLattice(app, kBadNumbers, MB_ICONWARNING);
        return false;
    }
    if (choice == 1 || choice == 2) {
        const int n = app.buffers.present() ? app.buffers.n : 8192;
        const spectrum::LatticeCheck check = spectrum::checkLattice(lattice, n);
        if (check != spectrum::LatticeCheck::kOk) {
            sayLattice(app, spectrum::latticeCheckText(check), MB_ICONWARNING);
            return false;
        }
    }
    if (filter.kind < spectrum::kLatticeKeep) app.lattice.classicKind = filter.kind;
    filter.kind = choice == 0 ? app.lattice.classicKind : spectrum::kLatticeKeep + (choice - 1);
    filter.lattice = lattice;
    filter.edgeSigma = sigma;
    filter.noise.noiseScale = scale;
    filter.noise.smoothing = static_cast<int>(smoothing);
    return true;
}

INT_PTR filterProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    FilterDialog* d = frame::dialogState<FilterDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            OnFilterInit(dialog, *d->app);
            return TRUE;
        case WM_COMMAND:
            // Plain radio buttons: a click or the Space key only reports itself, the mark moves
            // here.
            if (LOWORD(wParam) >= IDC_LATNONE && LOWORD(wParam) <= IDC_ABSF) {
                if (HIWORD(wParam) == BN_CLICKED)
                    CheckRadioButton(dialog, IDC_LATNONE, IDC_ABSF, LOWORD(wParam));
                return TRUE;
            }
            if (LOWORD(wParam) == IDOK) {
                if (OnFilterOk(dialog, *d->app)) EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void latticeFilterDialog(AppState& app, HWND window) {
    FilterDialog d{&app};
    frame::runDialog<filterProcedure>(app.frame.instance, window,
                                      templateName(app, "LATTICEFILTER_DLG", "LATTICEFILTER_DLG_J"),
                                      d, "Unable to display dialog");
}

}  // namespace voralin
