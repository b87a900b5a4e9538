// Stacks in the program: the "Image..." command of the system menu asks for an image number, and
// Page Up / Page Down step to the previous or next image of the open stack. Each opens the image
// from the file as Open does (the spectrum is freed, the circles cleared); the title says which
// image of how many is shown.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "core/localized.h"
#include "frame/app_frame.h"
#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"
#include "spectrum/app/app_state.h"

namespace voralin {
namespace {

constexpr core::Localized kMenuItem{"&Image...", "画像(&I)..."};
constexpr core::Localized kCaption{"Image", "画像"};
constexpr core::Localized kNoStack{"The open file holds one image only.",
                                   "開いているファイルの画像は 1 枚だけです。"};
constexpr core::Localized kNoImage{"Open an image first.", "先に画像を開いてください。"};
constexpr core::Localized kStackInfo{"Image %d of %d is shown.", "%d 枚目（全 %d 枚）を表示中"};
constexpr core::Localized kBadNumber{"Type an image number from 1 to %d.",
                                     "画像の番号を 1 から %d までで入力してください。"};

void openImageOfStack(AppState& app, HWND window, int index) {
    if (app.circlePlacement) {
        leaveCircleMode(app, false);
        app.circlePlacement = false;
    }
    image::ImportChoice choice;
    choice.image = index;
    // The same file again, another image: the path is copied, as opening replaces the state.
    const std::string path = app.openedPath;
    openImagePath(app, window, path, choice);
}

struct StackDialog {
    AppState* app;
    int chosen = 0;  // 0-based
};

INT_PTR stackProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* d = frame::dialogState<StackDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    const image::GreyImage& source = *d->app->source;
    switch (message) {
        case WM_INITDIALOG:
            SetDlgItemTextW(
                dialog, IDC_STACKINFO,
                frame::wideText(core::formatMessage(core::text(kStackInfo), source.imageIndex + 1,
                                                    source.imageCount))
                    .c_str());
            SetDlgItemTextA(dialog, IDC_IMAGENUMBER, std::to_string(source.imageIndex + 1).c_str());
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                char text[32] = {};
                GetDlgItemTextA(dialog, IDC_IMAGENUMBER, text, sizeof text);
                char* end = nullptr;
                const long number = std::strtol(text, &end, 10);
                if (end == text || *end != '\0' || number < 1 || number > source.imageCount) {
                    const std::string message =
                        core::formatMessage(core::text(kBadNumber), source.imageCount);
                    d->app->sink.ask(message, "Error", core::kIconWarning);
                    return TRUE;
                }
                d->chosen = static_cast<int>(number - 1);
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

// The open file is a stack while its source says it holds more than one image.
bool stackOpen(const AppState& app) {
    return app.state != ImageState::NoImage && app.source && app.source->imageCount > 1 &&
           !app.openedPath.empty();
}

void addStackMenu(HWND window) {
    AppendMenuW(GetSystemMenu(window, FALSE), MF_STRING | MF_ENABLED, IDM_STACKIMAGE,
                frame::wideText(core::text(kMenuItem)).c_str());
}

bool stackSysCommand(AppState& app, HWND window, int id) {
    if (id != IDM_STACKIMAGE) return false;
    frame::removeHoverLabel(app.frame, window);
    if (!stackOpen(app)) {
        app.sink.ask(core::text(app.state == ImageState::NoImage ? kNoImage : kNoStack),
                     core::text(kCaption), core::kIconInformation);
        return true;
    }
    StackDialog d{&app};
    if (frame::runDialog<stackProcedure>(
            app.frame.instance, window,
            app.frame.japaneseUi ? "STACK_IMAGE_DLG_J" : "STACK_IMAGE_DLG", d,
            "Unable to display dialog") == IDOK &&
        d.chosen != app.source->imageIndex)
        openImageOfStack(app, window, d.chosen);
    return true;
}

void stepThroughStack(AppState& app, HWND window, int step) {
    if (!stackOpen(app) || !IsWindowEnabled(window) || app.dragging) return;
    const int next = app.source->imageIndex + step;
    // At either end of the stack the step does nothing.
    if (next >= 0 && next < app.source->imageCount) openImageOfStack(app, window, next);
}

}  // namespace voralin
