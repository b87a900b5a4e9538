// The "Binning" submenu of the system menu: the factor by which the next images opened are
// binned (1 x 1, 2 x 2, 4 x 4), kept in the settings file ("Big images", Binning=1|2|4). The
// same section holds the settings of big frames: FullFrameLimit (a power of two, 64..8192; frames
// above it keep the half spectrum of the real frame) and Precision (auto, single or double).
#include <windows.h>

#include <cstring>

#include "core/localized.h"
#include "frame/support/wide_text.h"
#include "spectrum/app/app_state.h"

namespace voralin {
namespace {

constexpr char kSection[] = "Big images";
constexpr core::Localized kMenu{"&Binning", "ビニング(&B)"};
constexpr core::Localized kNone{"1 x 1 (none)", "1 x 1（なし）"};
constexpr core::Localized kTwo{"2 x 2", "2 x 2"};
constexpr core::Localized kFour{"4 x 4", "4 x 4"};

void checkFactor(HWND window, int factor) {
    HMENU system = GetSystemMenu(window, FALSE);
    CheckMenuRadioItem(system, IDM_BINNING1, IDM_BINNING4,
                       factor == 4 ? IDM_BINNING4 : factor == 2 ? IDM_BINNING2 : IDM_BINNING1,
                       MF_BYCOMMAND);
}

}  // namespace

void addBinningMenu(AppState& app, HWND window) {
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, IDM_BINNING1, frame::wideText(core::text(kNone)).c_str());
    AppendMenuW(popup, MF_STRING, IDM_BINNING2, frame::wideText(core::text(kTwo)).c_str());
    AppendMenuW(popup, MF_STRING, IDM_BINNING4, frame::wideText(core::text(kFour)).c_str());
    AppendMenuW(GetSystemMenu(window, FALSE), MF_POPUP | MF_STRING,
                reinterpret_cast<UINT_PTR>(popup), frame::wideText(core::text(kMenu)).c_str());
    const char* file = app.frame.settingsPath.c_str();
    if (!app.frame.settingsPath.empty()) {
        const int factor = GetPrivateProfileIntA(kSection, "Binning", 1, file);
        app.binFactor = factor == 2 || factor == 4 ? factor : 1;
        const int limit = GetPrivateProfileIntA(kSection, "FullFrameLimit",
                                                spectrum::kFullFrameLimit, file);
        if (limit >= spectrum::kMinFullFrameLimit && limit <= spectrum::kFullFrameLimit)
            app.settings.fullFrameLimit = limit;
        char precision[16] = {};
        GetPrivateProfileStringA(kSection, "Precision", "auto", precision, sizeof precision, file);
        app.settings.precision = std::strcmp(precision, "single") == 0
                                     ? spectrum::Precision::Single
                                 : std::strcmp(precision, "double") == 0
                                     ? spectrum::Precision::Double
                                     : spectrum::Precision::Automatic;
    }
    checkFactor(window, app.binFactor);
}

bool binningSysCommand(AppState& app, HWND window, int id) {
    const int factor = id == IDM_BINNING1 ? 1 : id == IDM_BINNING2 ? 2 : id == IDM_BINNING4 ? 4 : 0;
    if (factor == 0) return false;
    frame::removeHoverLabel(app.frame, window);
    app.binFactor = factor;
    checkFactor(window, factor);
    if (!app.frame.settingsPath.empty())
        WritePrivateProfileStringA(kSection, "Binning", factor == 4 ? "4" : factor == 2 ? "2" : "1",
                                   app.frame.settingsPath.c_str());
    return true;
}

}  // namespace voralin
