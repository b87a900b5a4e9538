// The lattice tools of voralin00, reached from the system menu: find the lattice spots and mask
// them, the lattice and noise filters, symmetric circles, the windowed and whole-frame spectrum,
// the removed part of the last inverse transform and the radial profile window.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "core/localized.h"
#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/display.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/radial.h"
#include "spectrum/engine/spot_finder.h"

namespace voralin {
namespace {

constexpr char kSection[] = "Lattice";
constexpr char kSymmetricKey[] = "Symmetric circles";

const core::Localized kFindSpotsItem{"Find lattice spots...", "格子スポットを探す..."};
const core::Localized kLatticeFilterItem{"Lattice and noise filters...",
                                         "格子フィルターと雑音フィルター..."};
const core::Localized kSymmetricItem{"Symmetric circles", "対称な円"};
const core::Localized kRemovedItem{"Show removed part", "除いた部分を表示"};
const core::Localized kRadialItem{"Radial profile...", "動径プロファイル..."};
const core::Localized kWindowedItem{"Windowed spectrum (no mirror ghosts)",
                                    "窓をかけたスペクトル (鏡像なし)"};
const core::Localized kWholeFrameItem{"Whole frame up to Nyquist", "ナイキストまでのフレーム全体"};

const core::Localized kCaption{"Lattice spots", "格子スポット"};
const core::Localized kRadialCaption{"Radial profile", "動径プロファイル"};
const core::Localized kNeedSpectrum{"Compute the spectrum with FFT first.",
                                    "先に FFT でスペクトルを計算してください。"};
const core::Localized kNeedFiltered{"There is no removed part: run Inverse FFT first.",
                                    "除いた部分はありません。先に逆 FFT を実行してください。"};
const core::Localized kBasisText{"Basis g1 = (%.2f, %.2f), g2 = (%.2f, %.2f)",
                                 "基本ベクトル g1 = (%.2f, %.2f)、g2 = (%.2f, %.2f)"};
const core::Localized kBadNumbers{
    "Please enter numbers: spot radius above 0, sigma 0..1000, c 0..1000, smoothing 0..10.",
    "数値を入力してください: スポット半径は 0 より大きく、σ は 0..1000、c は 0..1000、"
    "平均化の半幅は 0..10 です。"};
const core::Localized kListHeader{
    "  #  mate         x         y   |g| 1/px      d px     angle",
    "  #    対         x         y   |g| 1/px    d 画素      角度"};
const core::Localized kListHeaderNm{
    "  #  mate         x         y   |g| 1/nm      d nm     angle",
    "  #    対         x         y   |g| 1/nm      d nm      角度"};
const core::Localized kPlotAxisNm{"|g| (1/nm)", "|g| (1/nm)"};
const core::Localized kNoCirclesInWholeFrame{
    "Circles are drawn on the central part of the spectrum: turn off \"Whole frame up to "
    "Nyquist\" first.",
    "円はスペクトルの中央部に描きます。先に「ナイキストまでのフレーム全体」を外してください。"};
const core::Localized kPlotAxis{"|g| (1/pixel)", "|g| (1/画素)"};
const core::Localized kPlotPower{"log10 power", "log10 パワー"};

const char* templateName(const AppState& app, const char* english, const char* japanese) {
    return app.frame.japaneseUi ? japanese : english;
}

void say(AppState& app, const core::Localized& text, unsigned style) {
    app.sink.ask(core::text(text), core::text(kCaption), style);
}

void setMenuCheck(HWND window, int id, bool on) {
    CheckMenuItem(GetSystemMenu(window, FALSE), id, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
}

bool spectrumShown(const AppState& app) {
    return app.state == ImageState::SpectrumShown && app.buffers.present() &&
           !app.buffers.source.empty();
}

// The zero frequency in picture pixels.
double centreX(const AppState& app) { return app.buffers.n / 2 - app.buffers.offsetX; }
double centreY(const AppState& app) { return app.buffers.n / 2 - app.buffers.offsetY; }

// A frame offset (frame samples from the zero frequency) as a client point of the shown picture.
POINT clientPoint(const AppState& app, double fx, double fy) {
    const int reduction = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    double x = centreX(app) + fx, y = centreY(app) + fy;
    if (app.settings.display.wholeFrame) {
        // The whole frame binned to the picture.
        x = (app.buffers.n / 2.0 + fx) * app.geometry.width / app.buffers.n;
        y = (app.buffers.n / 2.0 + fy) * app.geometry.height / app.buffers.n;
    }
    return {static_cast<LONG>(std::lround(x / reduction)),
            static_cast<LONG>(std::lround(y / reduction)) + spectrum::kPictureTop};
}

// --- the spot dialog --------------------------------------------------------------------------

struct SpotDialog {
    AppState* app;
    HWND window;
    HFONT japaneseFixed = nullptr;  // the list's fixed-pitch font on a Japanese system
};

double numberIn(HWND dialog, int id, bool& ok) {
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || !std::isfinite(v)) ok = false;
    while (end && *end == ' ') ++end;
    if (end && *end != '\0') ok = false;
    return v;
}

void setNumber(HWND dialog, int id, double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g", value);
    SetDlgItemTextA(dialog, id, text);
}

void fillSpotList(HWND dialog, const AppState& app) {
    HWND list = GetDlgItem(dialog, IDC_SPOTLIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const spectrum::Spot& s : app.lattice.spots.spots) {
        char line[160];
        std::snprintf(line, sizeof line, "%3d  %4d  %8.2f  %8.2f  %9.5f  %8.3f  %8.2f", s.number,
                      s.mate, s.position.x, s.position.y, s.g, s.d, s.angleDegrees);
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    const spectrum::SpotResult& r = app.lattice.spots;
    if (r.haveBasis) {
        char text[200];
        std::snprintf(text, sizeof text, core::text(kBasisText), r.g1.x, r.g1.y, r.g2.x, r.g2.y);
        SetDlgItemTextW(dialog, IDC_SPOTBASIS, frame::wideText(text).c_str());
    } else {
        SetDlgItemTextW(dialog, IDC_SPOTBASIS,
                        frame::wideText(core::text(spectrum::noBasisText())).c_str());
    }
    setNumber(dialog, IDC_SPOTRADIUS, app.lattice.spotRadius);
}

// Circles at the chosen spots and their mates, in picture pixels.
bool maskSelectedSpots(HWND dialog, SpotDialog& d) {
    AppState& app = *d.app;
    bool ok = true;
    const double radius = numberIn(dialog, IDC_SPOTRADIUS, ok);
    if (!ok || !(radius >= 1 && radius <= app.buffers.n / 2)) {
        say(app, latticeCheckText(spectrum::LatticeCheck::kBadRadius), MB_ICONWARNING);
        return false;
    }
    app.lattice.spotRadius = radius;
    const auto& spots = app.lattice.spots.spots;
    std::vector<bool> chosen(spots.size(), false);
    HWND list = GetDlgItem(dialog, IDC_SPOTLIST);
    for (std::size_t i = 0; i < spots.size(); ++i) {
        if (SendMessageA(list, LB_GETSEL, i, 0) > 0) {
            chosen[i] = true;
            const int mate = spots[i].mate - 1;
            if (mate >= 0 && mate < static_cast<int>(spots.size())) chosen[mate] = true;
        }
    }
    std::vector<spectrum::MaskCircle> added;
    for (std::size_t i = 0; i < spots.size(); ++i)
        if (chosen[i])
            added.push_back({static_cast<int>(std::lround(centreX(app) + spots[i].position.x)),
                             static_cast<int>(std::lround(centreY(app) + spots[i].position.y)),
                             static_cast<int>(std::lround(radius))});
    if (added.empty()) return false;
    auto& filter = app.settings.filter;
    if (filter.circles.size() + added.size() > spectrum::kMaxMaskCircles) {
        app.sink.ask("Too many FFT masks!", "Warning", core::kIconWarning);
        return false;
    }
    filter.circles.insert(filter.circles.end(), added.begin(), added.end());
    if (filter.kind != spectrum::kCirclesCutInside) filter.kind = spectrum::kCirclesCutOutside;
    app.circlePlacement = true;
    frame::repaintPicture(d.window, true);
    return true;
}

bool maskLattice(HWND dialog, SpotDialog& d) {
    AppState& app = *d.app;
    const spectrum::SpotResult& r = app.lattice.spots;
    if (!r.haveBasis) {
        say(app, spectrum::noBasisText(), MB_ICONWARNING);
        return false;
    }
    bool ok = true;
    const double radius = numberIn(dialog, IDC_SPOTRADIUS, ok);
    spectrum::LatticeSettings lattice{r.g1, r.g2, ok ? radius : 0.0};
    const spectrum::LatticeCheck check = spectrum::checkLattice(lattice, app.buffers.n);
    if (check != spectrum::LatticeCheck::kOk) {
        say(app, spectrum::latticeCheckText(check), MB_ICONWARNING);
        return false;
    }
    app.lattice.spotRadius = radius;
    if (app.settings.filter.kind < spectrum::kLatticeKeep)
        app.lattice.classicKind = app.settings.filter.kind;
    app.settings.filter.lattice = lattice;
    app.settings.filter.kind = spectrum::kLatticeKeep;
    return true;
}

INT_PTR spotProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    SpotDialog* d = frame::dialogState<SpotDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG: {
            const int tabs[] = {0};
            SendDlgItemMessageA(dialog, IDC_SPOTLIST, LB_SETTABSTOPS, 0,
                                reinterpret_cast<LPARAM>(tabs));
            HFONT fixed = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
            // The stock fixed font has no Japanese characters for the column names.
            if (d->app->frame.japaneseUi) {
                d->japaneseFixed = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                               SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                               FIXED_PITCH | FF_MODERN, L"ＭＳ ゴシック");
                if (d->japaneseFixed) fixed = d->japaneseFixed;
            }
            SendDlgItemMessageA(dialog, IDC_SPOTLIST, WM_SETFONT, reinterpret_cast<WPARAM>(fixed),
                                TRUE);
            SendDlgItemMessageA(dialog, IDC_SPOTHEADER, WM_SETFONT, reinterpret_cast<WPARAM>(fixed),
                                TRUE);
            SetDlgItemTextW(dialog, IDC_SPOTHEADER,
                            frame::wideText(core::text(d->app->settings.pixelSizeNm ? kListHeaderNm
                                                                                    : kListHeader))
                                .c_str());
            fillSpotList(dialog, *d->app);
            return TRUE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_MASKSPOTS:
                    if (maskSelectedSpots(dialog, *d)) EndDialog(dialog, IDOK);
                    return TRUE;
                case IDC_MASKLATTICE:
                    if (maskLattice(dialog, *d)) EndDialog(dialog, IDOK);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog, IDCANCEL);
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        case WM_DESTROY:
            if (d->japaneseFixed) DeleteObject(d->japaneseFixed);
            d->japaneseFixed = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

void findSpotsCommand(AppState& app, HWND window) {
    if (!spectrumShown(app)) {
        say(app, kNeedSpectrum, MB_ICONINFORMATION);
        return;
    }
    spectrum::SpotResult result;
    {
        frame::WaitBox busy(app.frame);
        busy.beginBusy();
        spectrum::SpotOptions options;
        options.pixelSizeNm = app.settings.pixelSizeNm;
        result = spectrum::findSpots(spectrum::sourcePixelsOf(app.buffers),
                                     app.buffers.precise.get(), app.buffers.n, options);
        busy.endBusy();
    }
    if (result.status != spectrum::SpotStatus::kFound) {
        say(app, spectrum::spotStatusText(result.status),
            result.status == spectrum::SpotStatus::kNoMemory ? MB_ICONERROR : MB_ICONINFORMATION);
        return;
    }
    app.lattice.spots = result;
    app.lattice.spotsSource = app.buffers.source;
    frame::repaintPicture(window, true);
    SpotDialog d{&app, window};
    frame::runDialog<spotProcedure>(app.frame.instance, window,
                                    templateName(app, "LATTICESPOTS_DLG", "LATTICESPOTS_DLG_J"), d,
                                    "Unable to display dialog");
    frame::repaintPicture(window, true);
}

// --- the lattice and noise filter dialog ---------------------------------------------------------

struct FilterDialog {
    AppState* app;
};

const int kKindButtons[] = {IDC_LATNONE, IDC_LATKEEP, IDC_LATREMOVE, IDC_WIENER, IDC_ABSF};
static_assert(IDC_ABSF - IDC_LATNONE == 4, "the five kinds are consecutive ids");

INT_PTR filterProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    FilterDialog* d = frame::dialogState<FilterDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    AppState& app = *d->app;
    auto& filter = app.settings.filter;
    switch (message) {
        case WM_INITDIALOG: {
            int choice = 0;
            if (filter.kind >= spectrum::kLatticeKeep && filter.kind <= spectrum::kAbsfFilter)
                choice = filter.kind - spectrum::kLatticeKeep + 1;
            for (int i = 0; i < 5; ++i) frame::setMark(dialog, kKindButtons[i], i == choice);
            spectrum::LatticeSettings lattice = filter.lattice;
            if (lattice.g1 == spectrum::Vec2{} && app.lattice.spots.haveBasis &&
                app.lattice.spotsSource == app.buffers.source) {
                lattice.g1 = app.lattice.spots.g1;
                lattice.g2 = app.lattice.spots.g2;
            }
            setNumber(dialog, IDC_G1X, lattice.g1.x);
            setNumber(dialog, IDC_G1Y, lattice.g1.y);
            setNumber(dialog, IDC_G2X, lattice.g2.x);
            setNumber(dialog, IDC_G2Y, lattice.g2.y);
            setNumber(dialog, IDC_LATRADIUS, lattice.radius);
            setNumber(dialog, IDC_EDGESIGMA, filter.edgeSigma);
            setNumber(dialog, IDC_NOISESCALE, filter.noise.noiseScale);
            setNumber(dialog, IDC_SMOOTHING, filter.noise.smoothing);
            return TRUE;
        }
        case WM_COMMAND:
            // Plain radio buttons: a click or the Space key only reports itself, the mark moves
            // here.
            if (LOWORD(wParam) >= IDC_LATNONE && LOWORD(wParam) <= IDC_ABSF) {
                if (HIWORD(wParam) == BN_CLICKED)
                    CheckRadioButton(dialog, IDC_LATNONE, IDC_ABSF, LOWORD(wParam));
                return TRUE;
            }
            if (LOWORD(wParam) == IDOK) {
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
                    say(app, kBadNumbers, MB_ICONWARNING);
                    return TRUE;
                }
                if (choice == 1 || choice == 2) {
                    const int n = app.buffers.present() ? app.buffers.n : 8192;
                    const spectrum::LatticeCheck check = spectrum::checkLattice(lattice, n);
                    if (check != spectrum::LatticeCheck::kOk) {
                        say(app, spectrum::latticeCheckText(check), MB_ICONWARNING);
                        return TRUE;
                    }
                }
                if (filter.kind < spectrum::kLatticeKeep) app.lattice.classicKind = filter.kind;
                filter.kind = choice == 0 ? app.lattice.classicKind
                                          : spectrum::kLatticeKeep + (choice - 1);
                filter.lattice = lattice;
                filter.edgeSigma = sigma;
                filter.noise.noiseScale = scale;
                filter.noise.smoothing = static_cast<int>(smoothing);
                EndDialog(dialog, IDOK);
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

// --- the radial profile window -------------------------------------------------------------------

struct PlotDialog {
    AppState* app;
    spectrum::RadialProfile profile;
    double nmPerPixel = 0.0;  // calibrated axis when above 0
};

void drawPlot(const PlotDialog& d, HDC dc, RECT area) {
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const int left = area.left + 60, right = area.right - 12;
    const int top = area.top + 12, bottom = area.bottom - 40;
    const auto& p = d.profile;
    const int last = std::min<int>(p.n / 2, static_cast<int>(p.power.size()) - 1);
    double lo = 0, hi = 0;
    bool first = true;
    for (int j = 1; j <= last; ++j) {
        if (!(p.power[j] > 0)) continue;
        const double v = std::log10(p.power[j]);
        if (first || v < lo) lo = v;
        if (first || v > hi) hi = v;
        first = false;
    }
    if (first || right - left < 20 || bottom - top < 20) return;
    lo = std::floor(lo);
    hi = std::ceil(hi);
    if (hi <= lo) hi = lo + 1;
    HPEN axis = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HGDIOBJ old = SelectObject(dc, axis);
    MoveToEx(dc, left, top, nullptr);
    LineTo(dc, left, bottom);
    LineTo(dc, right, bottom);
    SetBkMode(dc, TRANSPARENT);
    char label[32];
    for (int t = 0; t <= 5; ++t) {
        const int x = left + (right - left) * t / 5;
        MoveToEx(dc, x, bottom, nullptr);
        LineTo(dc, x, bottom + 4);
        if (d.nmPerPixel > 0)
            std::snprintf(label, sizeof label, "%.3g", 0.1 * t / d.nmPerPixel);
        else
            std::snprintf(label, sizeof label, "%.1f", 0.1 * t);
        TextOutA(dc, x - 8, bottom + 6, label, static_cast<int>(std::strlen(label)));
    }
    for (double v = lo; v <= hi; v += 1) {
        const int y = bottom - static_cast<int>((v - lo) / (hi - lo) * (bottom - top));
        MoveToEx(dc, left - 4, y, nullptr);
        LineTo(dc, left, y);
        std::snprintf(label, sizeof label, "%.0f", v);
        TextOutA(dc, left - 30, y - 7, label, static_cast<int>(std::strlen(label)));
    }
    const std::wstring xLabel =
        frame::wideText(core::text(d.nmPerPixel > 0 ? kPlotAxisNm : kPlotAxis));
    const std::wstring yLabel = frame::wideText(core::text(kPlotPower));
    TextOutW(dc, (left + right) / 2 - 30, bottom + 22, xLabel.c_str(), static_cast<int>(xLabel.size()));
    TextOutW(dc, left + 8, top - 8, yLabel.c_str(), static_cast<int>(yLabel.size()));
    HPEN curve = CreatePen(PS_SOLID, 1, RGB(200, 0, 0));
    SelectObject(dc, curve);
    bool moved = false;
    for (int j = 1; j <= last; ++j) {
        if (!(p.power[j] > 0)) continue;
        const int x = left + static_cast<int>(static_cast<double>(j) / p.n * 2 * (right - left));
        const int y = bottom - static_cast<int>((std::log10(p.power[j]) - lo) / (hi - lo) *
                                                (bottom - top));
        if (!moved)
            MoveToEx(dc, x, y, nullptr);
        else
            LineTo(dc, x, y);
        moved = true;
    }
    SelectObject(dc, old);
    DeleteObject(axis);
    DeleteObject(curve);
}

INT_PTR plotProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    PlotDialog* d = frame::dialogState<PlotDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlID != IDC_PLOTAREA) return FALSE;
            drawPlot(*d, item->hDC, item->rcItem);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
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

// --- the toggles ---------------------------------------------------------------------------------

void toggleSymmetric(AppState& app, HWND window) {
    bool& on = app.settings.filter.symmetricCircles;
    on = !on;
    setMenuCheck(window, IDM_SYMMETRIC, on);
    if (!app.frame.settingsPath.empty())
        WritePrivateProfileStringA(kSection, kSymmetricKey, on ? "1" : "0",
                                   app.frame.settingsPath.c_str());
}

void toggleWindowed(AppState& app, HWND window) {
    if (chooseFrame(app, window, app.settings.frame == spectrum::kWindowedFrame
                                     ? spectrum::kMirrorFrame
                                     : spectrum::kWindowedFrame))
        redisplaySpectrum(app, window);
}

void toggleWholeFrame(AppState& app, HWND window) {
    bool& on = app.settings.display.wholeFrame;
    on = !on;
    setMenuCheck(window, IDM_WHOLEFRAME, on);
    redisplaySpectrum(app, window);
}

void toggleRemovedPart(AppState& app, HWND window) {
    LatticeState& l = app.lattice;
    if (l.showingRemoved) {
        app.image.dib.block = l.filteredBlock;
        l.filteredBlock.clear();
        l.showingRemoved = false;
        std::swap(app.restored, l.otherValues);
        l.otherValues = {};
        if (!app.restored.values.empty()) rememberRestored(app);
    } else {
        if (app.state != ImageState::FilteredShown || l.parts.removed.empty() ||
            l.parts.width != app.geometry.width || l.parts.height != app.geometry.height) {
            say(app, kNeedFiltered, MB_ICONINFORMATION);
            return;
        }
        // The filtered values come back with the filtered picture only if they were its own.
        const bool filteredValuesCurrent = restoredIsCurrent(app);
        l.filteredBlock = app.image.dib.block;
        spectrum::renderRemovedPart(l.parts, app.image, app.geometry);
        l.showingRemoved = true;
        l.otherValues = spectrum::removedPartValues(l.parts);
        std::swap(app.restored, l.otherValues);
        if (!filteredValuesCurrent) l.otherValues = {};
        rememberRestored(app);
    }
    setMenuCheck(window, IDM_REMOVEDPART, l.showingRemoved);
    frame::repaintPicture(window, true);
}

}  // namespace

bool chooseFrame(AppState& app, HWND window, int frame) {
    if (spectrumShown(app) && app.settings.frame != frame) {
        frame::WaitBox busy(app.frame);
        busy.beginBusy();
        const bool done = spectrum::retransformInFrame(app.buffers, frame);
        busy.endBusy();
        if (!done) {
            app.sink.ask("Unable to carry out the FFT.", "Warning", core::kIconWarning);
            return false;
        }
    }
    app.settings.frame = frame;
    markFrameChoices(app, window);
    return true;
}

void markFrameChoices(const AppState& app, HWND window) {
    setMenuCheck(window, IDM_WINDOWED, app.settings.frame == spectrum::kWindowedFrame);
    setMenuCheck(window, IDM_WHOLEFRAME, app.settings.display.wholeFrame);
}

bool circlesDrawableInView(AppState& app) {
    if (!app.settings.display.wholeFrame) return true;
    app.sink.ask(core::text(kNoCirclesInWholeFrame), "Information", MB_ICONINFORMATION);
    return false;
}

void labelFrameChoices(HWND dialog) {
    SetDlgItemTextW(dialog, IDC_WINDOWEDFRAME, frame::wideText(core::text(kWindowedItem)).c_str());
    SetDlgItemTextW(dialog, IDC_WHOLEFRAME, frame::wideText(core::text(kWholeFrameItem)).c_str());
}

void addLatticeMenu(AppState& app, HWND window) {
    HMENU system = GetSystemMenu(window, FALSE);
    AppendMenuW(system, MF_SEPARATOR, 0, nullptr);
    auto item = [&](int id, const core::Localized& text) {
        AppendMenuW(system, MF_STRING | MF_ENABLED, id, frame::wideText(core::text(text)).c_str());
    };
    item(IDM_FINDSPOTS, kFindSpotsItem);
    item(IDM_LATTICEFILTER, kLatticeFilterItem);
    item(IDM_SYMMETRIC, kSymmetricItem);
    item(IDM_WINDOWED, kWindowedItem);
    item(IDM_WHOLEFRAME, kWholeFrameItem);
    item(IDM_REMOVEDPART, kRemovedItem);
    item(IDM_RADIAL, kRadialItem);
    // Off unless the settings file says otherwise.
    bool symmetric = false;
    if (!app.frame.settingsPath.empty())
        symmetric = GetPrivateProfileIntA(kSection, kSymmetricKey, 0,
                                          app.frame.settingsPath.c_str()) == 1;
    app.settings.filter.symmetricCircles = symmetric;
    setMenuCheck(window, IDM_SYMMETRIC, symmetric);
}

bool latticeSysCommand(AppState& app, HWND window, int id) {
    switch (id) {
        case IDM_FINDSPOTS:
            frame::removeHoverLabel(app.frame, window);
            findSpotsCommand(app, window);
            return true;
        case IDM_LATTICEFILTER: {
            frame::removeHoverLabel(app.frame, window);
            FilterDialog d{&app};
            frame::runDialog<filterProcedure>(
                app.frame.instance, window,
                templateName(app, "LATTICEFILTER_DLG", "LATTICEFILTER_DLG_J"), d,
                "Unable to display dialog");
            return true;
        }
        case IDM_SYMMETRIC:
            toggleSymmetric(app, window);
            return true;
        case IDM_WINDOWED:
            toggleWindowed(app, window);
            return true;
        case IDM_WHOLEFRAME:
            toggleWholeFrame(app, window);
            return true;
        case IDM_REMOVEDPART:
            toggleRemovedPart(app, window);
            return true;
        case IDM_RADIAL: {
            frame::removeHoverLabel(app.frame, window);
            if (!spectrumShown(app)) {
                say(app, kNeedSpectrum, MB_ICONINFORMATION);
                return true;
            }
            // Pixels that are not square have no rotational average in 1/nm: the plot stays in
            // 1/pixel, after the message that says why.
            const std::string notSquare = spectrum::radialNotSquareText(app.settings.pixelSizeNm);
            if (!notSquare.empty())
                app.sink.ask(notSquare, core::text(kRadialCaption), MB_ICONINFORMATION);
            PlotDialog d{
                &app, spectrum::radialProfile(app.buffers),
                notSquare.empty() && app.settings.pixelSizeNm ? app.settings.pixelSizeNm->x : 0.0};
            frame::runDialog<plotProcedure>(app.frame.instance, window,
                                            templateName(app, "RADIALPLOT_DLG", "RADIALPLOT_DLG_J"),
                                            d, "Unable to display dialog");
            return true;
        }
        default:
            return false;
    }
}

void paintSpotMarkers(AppState& app, HDC dc) {
    const LatticeState& l = app.lattice;
    if (l.spots.spots.empty() || l.spots.n != app.buffers.n || l.spotsSource != app.buffers.source)
        return;
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 200, 0));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 200, 0));
    for (const spectrum::Spot& s : l.spots.spots) {
        const POINT p = clientPoint(app, s.position.x, s.position.y);
        Ellipse(dc, p.x - 6, p.y - 6, p.x + 7, p.y + 7);
        const std::string number = std::to_string(s.number);
        TextOutA(dc, p.x + 7, p.y - 16, number.c_str(), static_cast<int>(number.size()));
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

void latticeAfterInverse(AppState& app, HWND window) {
    app.lattice.showingRemoved = false;
    app.lattice.filteredBlock.clear();
    app.lattice.otherValues = {};
    setMenuCheck(window, IDM_REMOVEDPART, false);
}

}  // namespace voralin
