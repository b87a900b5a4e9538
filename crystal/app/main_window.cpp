// The main window "KESTRAL": its procedure only dispatches; each message has one handler.
#include <cstring>

#include "crystal/app/app_state.h"
#include "crystal/app/gdi_canvas.h"
#include "frame/app_frame.h"
#include "frame/support/window_support.h"
#include "image/bmp_file.h"

namespace kestral {
namespace {

// The desktop's list view: the grandchild of a "Progman" window. It is looked for as the program
// always has, but nothing uses it, and on current systems (and under Wine) it often lives under
// another window or not at all; so a failed search no longer ends the program.
struct ListViewSearch {
    HWND found = nullptr;
};

BOOL findDesktopListView(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ListViewSearch*>(param);
    char name[256] = {};
    GetClassNameA(window, name, sizeof name - 1);
    if (!std::strstr(name, "Progman")) return TRUE;
    HWND child = GetWindow(window, GW_CHILD);
    HWND grandchild = child ? GetWindow(child, GW_CHILD) : nullptr;
    if (!grandchild) return TRUE;
    search->found = grandchild;
    return FALSE;
}

bool OnCreate(HWND window, const CREATESTRUCTA& create) {
    auto* app = frame::keepState(window, static_cast<AppState*>(create.lpCreateParams));
    frame::FrameContext& frame = app->frame;
    frame.mainWindow = window;
    // A running copy is known by its exact final title; this window still has the provisional one.
    if (FindWindowExA(nullptr, nullptr, nullptr, kTitle)) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        return true;
    }
    frame::runEnvironmentProbes(frame);
    ListViewSearch search;
    EnumWindows(frame::guardedEnumCallback<findDesktopListView>, reinterpret_cast<LPARAM>(&search));
    frame::locateProgramFiles(frame);
    SetWindowTextA(window, kTitle);
    app->crystal = crystal::CrystalState{};
    frame::loadCursors(frame);
    frame::loadLogo(frame);
    app->sink.setOwner(window);
    app->pageFont = createPageFont();
    app->mode = DisplayMode::Logo;
    return true;
}

// Painting reports nothing: Open BMP has checked the picture it keeps.
class SilentSink final : public core::MessageSink {
  public:
    int ask(std::string_view, std::string_view, unsigned) override { return core::kAnswerOk; }
};

void paintOpenedImage(AppState& app, HDC dc) {
    if (!app.opened.present()) return;
    SilentSink silent;
    const auto access = image::accessBitmap(app.opened, image::BitmapFlavour::Kestral, silent);
    if (!access) return;
    const int reduction = app.opened.viewReduction > 0 ? app.opened.viewReduction : 1;
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, 0, kPictureTop, access->width / reduction, access->height / reduction, 0, 0,
                  access->width, access->height, access->pixels,
                  reinterpret_cast<const BITMAPINFO*>(app.opened.dib.block.data()), DIB_RGB_COLORS,
                  SRCCOPY);
}

void PaintContent(AppState& app, HDC dc, const RECT& client) {
    switch (app.mode) {
        case DisplayMode::Logo:
            frame::paintLogo(app.frame, dc, client);
            break;
        case DisplayMode::Planes:
            if (app.planes.present()) {
                SetStretchBltMode(dc, COLORONCOLOR);
                const int top = kPictureTop;
                StretchBlt(dc, 0, top, client.right, client.bottom - top, app.planes.dc, 0, top,
                           client.right, client.bottom - top, SRCCOPY);
            }
            break;
        case DisplayMode::Bitmap:
            paintOpenedImage(app, dc);
            break;
    }
}

void releaseAndQuit(AppState& app) {
    releaseDisplay(app);
    if (app.pageFont) DeleteObject(app.pageFont);
    app.pageFont = nullptr;
    frame::quitApplication(app.frame);
}

void OnCommand(AppState& app, HWND window, int id) {
    if (id < IDM_K_READ || id > IDM_K_EXIT) return;
    frame::removeHoverLabel(app.frame, window);
    switch (id) {
        case IDM_K_READ:
            readCrystalCommand(app, window);
            break;
        case IDM_K_CRYSTAL:
            crystalCommand(app, window);
            break;
        case IDM_K_PREVIOUS:
            previousCommand(app, window);
            break;
        case IDM_K_NEXT:
            nextCommand(app, window);
            break;
        case IDM_K_SAVEBMP:
            saveBitmapCommand(app, window);
            break;
        case IDM_K_SAVEFILE:
            saveFileCommand(app, window);
            break;
        case IDM_K_OPENBMP:
            openBitmapCommand(app, window);
            break;
        case IDM_K_ABOUT:
            frame::showAbout(app.frame, window, app.sink);
            break;
        case IDM_K_HELP:
            frame::showHelp(app.frame, window, app.sink);
            break;
        case IDM_K_EXIT:
            releaseAndQuit(app);
            break;
        default:
            break;
    }
}

LRESULT mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE)
        return OnCreate(window, *reinterpret_cast<CREATESTRUCTA*>(lParam)) ? 0 : -1;
    AppState* app = frame::stateOf<AppState>(window);
    if (!app) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
        case WM_DESTROY:
            releaseAndQuit(*app);
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
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

void updatePageButtons(AppState& app) {
    const auto buttons =
        pageButtonsFor(app.mode, app.crystal.nextPlane, app.crystal.slicing.layerCount);
    if (!buttons) return;
    frame::setButtonEnabled(app.frame, IDB_K_PREV, buttons->previous);
    frame::setButtonEnabled(app.frame, IDB_K_NEXT, buttons->next);
    frame::setButtonEnabled(app.frame, IDB_K_SAVEAS, buttons->saveBmp);
    frame::setButtonEnabled(app.frame, IDB_K_SAVEGR, buttons->saveFile);
}

void releaseDisplay(AppState& app) {
    switch (app.mode) {
        case DisplayMode::Logo:
            frame::releaseLogo(app.frame);
            break;
        case DisplayMode::Planes:
            if (app.planes.present()) {
                SelectObject(app.planes.dc, app.planes.originalBitmap);
                if (app.planes.originalFont) SelectObject(app.planes.dc, app.planes.originalFont);
                DeleteObject(app.planes.bitmap);
                DeleteDC(app.planes.dc);
            }
            app.planes = PlanePicture{};
            break;
        case DisplayMode::Bitmap:
            image::freeBitmap(app.opened);
            break;
    }
}

int runKestral(HINSTANCE instance, int) {
    static AppState app;  // lives as long as the process; its windows point at it
    app.frame.table = &programTable();
    if (!frame::registerMainClass<mainProcedure>(app.frame, instance)) return 0;
    HWND window = frame::createMainWindow(app.frame, &app);
    if (!window) return 0;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    frame::createIconBar(app.frame);
    return frame::runMessageLoop(app.frame);
}

}  // namespace kestral
