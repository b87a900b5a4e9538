// The context menu of the picture, the keys (one table, spectrum/rules/key_table.h, decides which
// command a key runs in which state), files dropped on the main window, and "Back to spectrum".
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <cstring>

#include "core/localized.h"
#include "core/wide_path.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/forward.h"
#include "spectrum/rules/key_table.h"

namespace voralin {
namespace {

constexpr core::Localized kBinningMenu{"Binning", "ビニング"};
constexpr core::Localized kBinningNone{"1 x 1 (none)", "1 x 1（なし）"};

bool isIconBarCommand(int id) {
    return id >= IDM_OPEN && id <= IDM_EXIT;
}

bool checkedInMenu(const AppState& app, int id) {
    switch (id) {
        case IDM_SYMMETRIC:
            return app.settings.filter.symmetricCircles;
        case IDM_WINDOWED:
            return app.settings.frame == spectrum::kWindowedFrame;
        case IDM_WHOLEFRAME:
            return app.settings.display.wholeFrame;
        case IDM_REMOVEDPART:
            return app.lattice.showingRemoved;
        case IDM_LIVEFFT:
            return app.live != nullptr;
        default:
            return false;
    }
}

HMENU binningMenu(const AppState& app) {
    HMENU popup = CreatePopupMenu();
    AppendMenuW(popup, MF_STRING, IDM_BINNING1, frame::wideText(core::text(kBinningNone)).c_str());
    AppendMenuW(popup, MF_STRING, IDM_BINNING2, L"2 x 2");
    AppendMenuW(popup, MF_STRING, IDM_BINNING4, L"4 x 4");
    CheckMenuRadioItem(popup, IDM_BINNING1, IDM_BINNING4,
                       app.binFactor == 4   ? IDM_BINNING4
                       : app.binFactor == 2 ? IDM_BINNING2
                                            : IDM_BINNING1,
                       MF_BYCOMMAND);
    return popup;
}

HMENU buildContextMenu(const AppState& app) {
    const CommandContext context = commandContext(app);
    HMENU menu = CreatePopupMenu();
    for (int id : contextMenuLayout()) {
        if (id == 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        } else if (id == kBinningSubmenu) {
            AppendMenuW(menu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(binningMenu(app)),
                        frame::wideText(core::text(kBinningMenu)).c_str());
        } else {
            const CommandRule* rule = ruleOf(id);
            UINT flags = MF_STRING;
            if (!rule || !holds(rule->when, context)) flags |= MF_GRAYED;
            if (checkedInMenu(app, id)) flags |= MF_CHECKED;
            AppendMenuW(menu, flags, id, frame::wideText(menuText(id)).c_str());
        }
    }
    return menu;
}

// Puts the image the last spectrum was made of back into the picture and transforms it again.
void backToSpectrum(AppState& app, HWND window) {
    if (app.state != ImageState::FilteredShown || !app.beforeInverse) return;
    TransformedImage& before = *app.beforeInverse;
    // The removed part may be what is shown: either way the picture is replaced.
    latticeAfterInverse(app, window);
    auto& block = app.image.dib.block;
    const std::size_t bytes = before.source.size();
    if (before.width != app.geometry.width || before.height != app.geometry.height ||
        block.size() < spectrum::kGreyPixelOffset + bytes)
        return;
    std::memcpy(block.data() + spectrum::kGreyPixelOffset, before.source.data(), bytes);
    spectrum::writeGreyColourTable(app.image);
    frame::WaitBox busy(app.frame);
    if (!spectrum::forwardTransform(app.image, app.geometry, app.settings, app.buffers, app.sink,
                                    busy, before.precise)) {
        frame::repaintPicture(window, true);  // the picture is the image it was made of now
        return;
    }
    app.settings.filter.circles = std::move(before.circles);
    app.circlePlacement = before.placing;
    app.beforeInverse.reset();
    app.restored = {};
    setImageState(app, ImageState::SpectrumShown);
    enableSpecialSetting(window, true);
    if (app.buffers.isHalf()) refreshImageTitle(app, window);
    frame::repaintPicture(window, true);
}

// The commands of the keys and the menu that are not icon-bar or system-menu commands.
bool runOwnCommand(AppState& app, HWND window, int id) {
    switch (id) {
        case IDM_BACKTOSPECTRUM:
            backToSpectrum(app, window);
            return true;
        case IDM_REMOVECIRCLE:
            removeLastCircle(app, window);
            return true;
        case IDM_PREVIMAGE:
            stepThroughStack(app, window, -1);
            return true;
        case IDM_NEXTIMAGE:
            stepThroughStack(app, window, 1);
            return true;
        case IDM_NUDGELEFT:
            nudgeCursor(app, window, VK_LEFT);
            return true;
        case IDM_NUDGERIGHT:
            nudgeCursor(app, window, VK_RIGHT);
            return true;
        case IDM_NUDGEUP:
            nudgeCursor(app, window, VK_UP);
            return true;
        case IDM_NUDGEDOWN:
            nudgeCursor(app, window, VK_DOWN);
            return true;
        default:
            return liveCommand(app, window, id);
    }
}

void runCommand(AppState& app, HWND window, int id) {
    if (isIconBarCommand(id))
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
    else if (!runOwnCommand(app, window, id))
        SendMessageA(window, WM_SYSCOMMAND, id, 0);  // the system menu's commands
}

}  // namespace

CommandContext commandContext(const AppState& app) {
    CommandContext c;
    c.state = app.state;
    c.live = app.live != nullptr;
    c.placing = app.circlePlacement;
    c.stack = stackOpen(app);
    c.canGoBack = app.state == ImageState::FilteredShown && app.beforeInverse.has_value();
    return c;
}

bool keyPressed(AppState& app, HWND window, WPARAM key, LPARAM flags) {
    if (app.dragging || !IsWindowEnabled(window)) return false;
    const int id = commandForKey(static_cast<int>(key), KeyEdge::Press, commandContext(app));
    if (id == 0) return false;
    // A key held down repeats only the moves of the live box.
    const bool repeated = (flags & (1L << 30)) != 0;
    const bool moves =
        id == IDM_LIVELEFT || id == IDM_LIVERIGHT || id == IDM_LIVEUP || id == IDM_LIVEDOWN;
    if (repeated && !moves) return true;
    runCommand(app, window, id);
    return true;
}

void keyReleased(AppState& app, HWND window, WPARAM key) {
    const int id = commandForKey(static_cast<int>(key), KeyEdge::Release, commandContext(app));
    if (id != 0) runCommand(app, window, id);
}

void showContextMenu(AppState& app, HWND window, LPARAM at) {
    if (app.dragging) return;
    POINT screen{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
    if (at == -1) {  // from the keyboard: at the picture's top left
        screen = {8, spectrum::kPictureTop + 8};
        ClientToScreen(window, &screen);
    } else {
        POINT client = screen;
        ScreenToClient(window, &client);
        if (client.y < spectrum::kPictureTop) return;  // the icon bar has no menu
    }
    frame::removeHoverLabel(app.frame, window);
    HMENU menu = buildContextMenu(app);
    const int id =
        TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_RIGHTBUTTON,
                       screen.x, screen.y, 0, window, nullptr);
    DestroyMenu(menu);
    if (id != 0) runCommand(app, window, id);
}

void filesDropped(AppState& app, HWND window, WPARAM dropped) {
    HDROP drop = reinterpret_cast<HDROP>(dropped);
    wchar_t path[MAX_PATH + 1] = {};
    const UINT length = DragQueryFileW(drop, 0, path, MAX_PATH);
    DragFinish(drop);
    // Only the first file of several is opened, as Open takes one.
    if (length == 0 || length >= MAX_PATH || app.dragging || !IsWindowEnabled(window)) return;
    SetForegroundWindow(window);
    if (app.circlePlacement) {
        leaveCircleMode(app, false);
        app.circlePlacement = false;
    }
    openImagePath(app, window, core::utf8Path(path), {});
}

void keepForBack(AppState& app, TransformedImage& kept) {
    kept = {};
    if (app.buffers.source.empty()) return;
    kept.source = app.buffers.source;
    kept.width = app.buffers.sourceWidth;
    kept.height = app.buffers.sourceHeight;
    kept.precise = app.buffers.precise;
    kept.circles = app.settings.filter.circles;
    kept.placing = app.circlePlacement;
}

}  // namespace voralin
