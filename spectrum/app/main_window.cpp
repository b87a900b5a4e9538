// The main window "VORALIN_00": its procedure only dispatches; each message has one handler.
#include "spectrum/app/main_window.h"

#include "spectrum/app/app_state.h"

#include "frame/app_frame.h"
#include "frame/support/window_support.h"

#include <shellapi.h>

namespace voralin {
namespace {

constexpr int kSpecialMenuPosition = 6;

// Start-up inside CreateWindow: refuse a second copy and a display of too few colours, probe
// the system, extend the system menu, find the files beside the program, show the logo.
bool OnCreate(HWND window, const CREATESTRUCTA& create) {
    auto* app = frame::keepState(window, static_cast<AppState*>(create.lpCreateParams));
    frame::FrameContext& frame = app->frame;
    frame.mainWindow = window;
    if (frame::anotherCopyRunning(frame.table->finalTitle) ||
        (frame.table->refuseFewColours && frame::displayHasFewColours())) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        return true;
    }
    frame::runEnvironmentProbes(frame);
    HMENU system = GetSystemMenu(window, FALSE);
    InsertMenuA(system, 5, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    InsertMenuA(system, kSpecialMenuPosition, MF_BYPOSITION | MF_STRING | MF_ENABLED, IDM_SPECIAL,
                "S&pecial setting...");
    frame::locateProgramFiles(frame);
    applyRememberedChoices(*app);
    addLatticeMenu(*app, window);
    addCalibrationMenu(window);
    addStackMenu(window);
    addBinningMenu(*app, window);
    addLiveMenu(window);
    DragAcceptFiles(window, TRUE);
    markGridChoices(*app, window);
    SetWindowTextA(window, frame.table->finalTitle);
    setImageState(*app, ImageState::NoImage);
    app->settings.filter.kind = 0;
    app->settings.filter.selectedPoint = 0;
    leaveCircleMode(*app, true);
    frame::loadCursors(frame);
    frame::loadLogo(frame);
    app->sink.setOwner(window);
    frame.wantsAppCursor = [app](int x, int y) {
        const int n = app->buffers.n;
        return app->circlePlacement && x >= 0 && x < n && y >= spectrum::kPictureTop &&
               y < spectrum::kPictureTop + n;
    };
    SetCursor(frame.arrowCursor);
    return true;
}

void OnDestroy(AppState& app) {
    endLiveView(app);
    image::freeBitmap(app.image);
    app.buffers.release();
    frame::quitApplication(app.frame);
}

void PaintContent(AppState& app, HDC dc, const RECT& client) {
    if (app.state == ImageState::NoImage) {
        frame::paintLogo(app.frame, dc, client);
        return;
    }
    if (!app.image.present()) return;
    const auto& block = app.image.dib.block;
    const std::uint32_t colours = app.image.dib.u32(image::info::biClrUsed);
    std::size_t bitsOffset = image::kInfoHeaderSize + std::size_t(colours ? colours : 256) * 4;
    if (app.image.fileHeader.bfOffBits > image::kFileHeaderSize)
        bitsOffset = app.image.fileHeader.bfOffBits - image::kFileHeaderSize;
    if (bitsOffset >= block.size()) return;
    const int reduction = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    const int width = app.image.dib.width(), height = app.image.dib.height();
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, 0, spectrum::kPictureTop, width / reduction, height / reduction, 0, 0, width,
                  height, block.data() + bitsOffset,
                  reinterpret_cast<const BITMAPINFO*>(block.data()), DIB_RGB_COLORS, SRCCOPY);
    paintLiveBox(app, dc);
    if (app.state == ImageState::SpectrumShown) {
        paintOverlays(app, dc);
        paintSpotMarkers(app, dc);
        paintReadout(app, dc);
    }
}

void OnCommand(AppState& app, HWND window, int id) {
    frame::removeHoverLabel(app.frame, window);
    switch (id) {
        case IDM_OPEN:
            openImageCommand(app, window);
            break;
        case IDM_FFT:
            fftCommand(app, window);
            break;
        case IDM_FFTMODE:
            fftModeCommand(app, window);
            break;
        case IDM_FILTER:
            filterCommand(app, window);
            break;
        case IDM_INVERSE: {
            const bool wasFiltered = app.state == ImageState::FilteredShown;
            inverseFftCommand(app, window);
            if (!wasFiltered && app.state == ImageState::FilteredShown)
                enableSpecialSetting(window, false);
            break;
        }
        case IDM_COPY:
            copyBitmapCommand(app, window);
            break;
        case IDM_PROCESS:
            processBitmapCommand(app, window);
            break;
        case IDM_SAVEBMP:
            leaveCircleMode(app, false);
            saveBitmapCommand(app, window);
            break;
        case IDM_SAVEFILE:
            leaveCircleMode(app, false);
            saveFftDataCommand(app, window);
            break;
        case IDM_ABOUT:
            leaveCircleMode(app, false);
            frame::showAbout(app.frame, window, app.sink);
            break;
        case IDM_HELP:
            leaveCircleMode(app, false);
            frame::showHelp(app.frame, window, app.sink);
            break;
        case IDM_EXIT:
            image::freeBitmap(app.image);
            app.buffers.release();
            frame::quitApplication(app.frame);
            break;
        default:
            break;
    }
}

void OnSysCommand(AppState& app, HWND window, WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == IDM_SPECIAL)
        specialSettingCommand(app, window);
    else if (latticeSysCommand(app, window, LOWORD(wParam)))
        return;
    else if (calibrationSysCommand(app, window, LOWORD(wParam)))
        return;
    else if (stackSysCommand(app, window, LOWORD(wParam)))
        return;
    else if (binningSysCommand(app, window, LOWORD(wParam)))
        return;
    else if (liveSysCommand(app, window, LOWORD(wParam)))
        return;
    else
        DefWindowProcA(window, WM_SYSCOMMAND, wParam, lParam);
}

spectrum::Point mousePoint(LPARAM lParam) {
    return {static_cast<int>(LOWORD(lParam)), static_cast<int>(HIWORD(lParam))};
}

LRESULT mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE)
        return OnCreate(window, *reinterpret_cast<CREATESTRUCTA*>(lParam)) ? 0 : -1;
    AppState* app = frame::stateOf<AppState>(window);
    if (!app) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
        case WM_DESTROY:
            OnDestroy(*app);
            return 0;
        case WM_PAINT:
            frame::OnPaint(window,
                           [app](HDC dc, const RECT& client) { PaintContent(*app, dc, client); });
            return 0;
        case WM_PRINTCLIENT:
            frame::OnPrintClient(
                window, reinterpret_cast<HDC>(wParam),
                [app](HDC dc, const RECT& client) { PaintContent(*app, dc, client); });
            return 0;
        case WM_SETCURSOR:
            return frame::OnSetCursor(app->frame, window, wParam, lParam);
        case WM_COMMAND:
            OnCommand(*app, window, LOWORD(wParam));
            return 0;
        case WM_SYSCOMMAND:
            OnSysCommand(*app, window, wParam, lParam);
            return 0;
        case WM_LBUTTONDOWN:
            if (liveMouse(*app, window, message, mousePoint(lParam))) return 0;
            beginCircle(*app, window, mousePoint(lParam));
            return 0;
        case WM_MOUSEMOVE:
            if (liveMouse(*app, window, message, mousePoint(lParam))) return 0;
            trackCircle(*app, window, mousePoint(lParam));
            trackReadout(*app, window, mousePoint(lParam));
            return 0;
        case WM_LBUTTONUP:
            if (liveMouse(*app, window, message, mousePoint(lParam))) return 0;
            endCircle(*app, window, mousePoint(lParam));
            return 0;
        case WM_KEYDOWN:
            if (keyPressed(*app, window, wParam, lParam)) return 0;
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_KEYUP:
            keyReleased(*app, window, wParam);
            return 0;
        case WM_CONTEXTMENU:
            showContextMenu(*app, window, lParam);
            return 0;
        case WM_DROPFILES:
            filesDropped(*app, window, wParam);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

void setImageState(AppState& app, ImageState state) {
    // The spectrum of a filtered image can come back only while that image is shown.
    if (state != ImageState::FilteredShown) app.beforeInverse.reset();
    // The live box follows the image shown: a spectrum or no image ends it.
    if (state != ImageState::ImageOpened && state != ImageState::FilteredShown) endLiveView(app);
    app.state = state;
    for (const auto& b : kStateButtons)
        frame::setButtonEnabled(app.frame, b.id, buttonEnabledIn(state, b.id));
}

void enableSpecialSetting(HWND window, bool enabled) {
    EnableMenuItem(GetSystemMenu(window, FALSE), kSpecialMenuPosition,
                   MF_BYPOSITION | (enabled ? MF_ENABLED : (MF_DISABLED | MF_GRAYED)));
}

void leaveCircleMode(AppState& app, bool emptyList) {
    // Help and About keep the placement mode on while circles exist.
    app.circlePlacement = !emptyList && !app.settings.filter.circles.empty();
    app.dragging = false;
    if (emptyList) app.settings.filter.circles.clear();
    if (app.frame.arrowCursor) SetCursor(app.frame.arrowCursor);
}

int runVoralin(HINSTANCE instance, int showCommand) {
    static AppState app;  // lives as long as the process; its windows point at it
    app.frame.table = &programTable();
    if (!frame::registerMainClass<mainProcedure>(app.frame, instance)) return 0;
    HWND window = frame::createMainWindow(app.frame, &app);
    if (!window) return 0;
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    frame::createIconBar(app.frame);
    return frame::runMessageLoop(app.frame);
}

}  // namespace voralin
