// The "Binning" submenu of the system menu: the factor by which the next images opened are
// binned (1 x 1, 2 x 2, 4 x 4), remembered with the user's other choices ("Choices", Binning).
// The section "Big images" of the settings file holds the settings of big frames: FullFrameLimit
// (64..8192; frames above it keep the half spectrum of the real frame) and Precision (auto,
// single or double).
#include <windows.h>

#include "core/localized.h"
#include "frame/support/wide_text.h"
#include "spectrum/app/app_state.h"

namespace voralin {
namespace {

constexpr char kSection[] = "Big images";
const spectrum::ChoiceKey kPrecision{"Precision", {"auto", "single", "double"}};
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
    const spectrum::ProfileText settings = loadSettings(app);
    const double limit =
        spectrum::readNumber(settings, kSection, "FullFrameLimit", spectrum::kMinFullFrameLimit,
                             spectrum::kFullFrameLimit, spectrum::kFullFrameLimit);
    if (limit == static_cast<int>(limit)) app.settings.fullFrameLimit = static_cast<int>(limit);
    const int precision = spectrum::readChoice(settings, kSection, kPrecision);
    app.settings.precision = precision == 1   ? spectrum::Precision::Single
                             : precision == 2 ? spectrum::Precision::Double
                                              : spectrum::Precision::Automatic;
    checkFactor(window, app.binFactor);
}

bool binningSysCommand(AppState& app, HWND window, int id) {
    const int factor = id == IDM_BINNING1 ? 1 : id == IDM_BINNING2 ? 2 : id == IDM_BINNING4 ? 4 : 0;
    if (factor == 0) return false;
    frame::removeHoverLabel(app.frame, window);
    app.binFactor = factor;
    checkFactor(window, factor);
    rememberChoices(app);
    return true;
}

}  // namespace voralin
