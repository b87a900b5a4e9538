// Program entry helpers, start-up checks, paths beside the program, Help, About and the end.
#include "frame/app_frame.h"

#include "core/localized.h"
#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"

#include <shellapi.h>
#include <shlobj.h>

namespace frame {
namespace {

constexpr int kTitleLength = 256;

struct CopySearch {
    const char* title;
    bool found;
};

BOOL findRunningCopy(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<CopySearch*>(param);
    char title[kTitleLength + 1] = {};
    GetWindowTextA(window, title, kTitleLength);
    if (titleMarksRunningCopy(title, search->title)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

INT_PTR aboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) EndDialog(dialog, 1);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

// The main class takes a handler, which it guards; a raw window procedure has no way in.
template <typename Procedure>
concept RegistersAsMainClass = requires(FrameContext& frame, HINSTANCE instance, Procedure p) {
    registerMainClass(frame, instance, p);
};
static_assert(!RegistersAsMainClass<WNDPROC>);

WNDCLASSA mainWindowClass(FrameContext& frame, HINSTANCE instance) {
    frame.instance = instance;
    setFailureReporter(showCallbackFailure);
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, frame.table->iconName);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = frame.table->className;
    return wc;
}

HWND createMainWindow(FrameContext& frame, void* createParam) {
    frame.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    frame.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    frame.dialogTopOffset = GetSystemMetrics(SM_CYCAPTION) + 25;
    const PixelRect r = mainWindowRect(frame.screenWidth, frame.screenHeight);
    HWND window =
        CreateWindowExA(0, frame.table->className, frame.table->provisionalTitle,
                        WS_OVERLAPPED | WS_SYSMENU | WS_MINIMIZEBOX, r.left, r.top, r.width(),
                        r.height(), nullptr, nullptr, frame.instance, createParam);
    // A window that closed itself during creation is no window.
    if (window && !IsWindow(window)) return nullptr;
    return window;
}

int runMessageLoop(FrameContext& frame) {
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (frame.waitBox && IsDialogMessageA(frame.waitBox, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

bool anotherCopyRunning(const char* finalTitle) {
    CopySearch search{finalTitle, false};
    EnumWindows(guardedEnumCallback<findRunningCopy>, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool displayHasFewColours() {
    HDC info = CreateICA("DISPLAY", nullptr, nullptr, nullptr);
    if (!info) return false;
    const int bits = GetDeviceCaps(info, BITSPIXEL);
    DeleteDC(info);
    return (bits < 0 ? -bits : bits) <= 4;
}

void runEnvironmentProbes(FrameContext& frame) {
    frame.buttonFaceColour = GetSysColor(COLOR_BTNFACE);
    frame.japaneseUi = detectUiLanguage();
    core::setJapaneseTexts(frame.japaneseUi);
    frame.winVersionCode = detectWindowsVersion(frame.winVersionCode);
    frame.probesDone = true;
}

namespace {

// Whether the user may write the settings file beside the program (its folder, and the file
// itself when it exists).
bool settingsWritable(const std::string& settings) {
    if (GetFileAttributesA(settings.c_str()) != INVALID_FILE_ATTRIBUTES) {
        HANDLE file =
            CreateFileA(settings.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        CloseHandle(file);
    }
    const std::string probe = settings + ".probe";
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

// The settings file beside the program, or, when the user cannot write there, the one in the
// user's application-data folder, seeded once from the one beside the program.
std::string settingsTheUserCanWrite(const std::string& beside) {
    if (settingsWritable(beside)) return beside;
    char appData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, appData)))
        return beside;
    const std::string own = userSettingsPath(appData, beside);
    if (own.empty()) return beside;
    CreateDirectoryA(own.substr(0, own.find_last_of('\\')).c_str(), nullptr);
    CopyFileA(beside.c_str(), own.c_str(), TRUE);
    return own;
}

}  // namespace

void locateProgramFiles(FrameContext& frame) {
    char path[MAX_PATH + 1] = {};
    DWORD length = SearchPathA(nullptr, frame.table->programFileName, nullptr, 256, path, nullptr);
    if (length == 0 || length >= 256) {
        // Renamed or started through a link: the running module is the program file.
        length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) path[0] = '\0';
    }
    const char* readme =
        frame.japaneseUi ? frame.table->readmeNameJapanese : frame.table->readmeName;
    if (auto paths = programPathsFor(path, readme)) {
        frame.readmePath = paths->readme;
        frame.settingsPath = settingsTheUserCanWrite(paths->settings);
    } else {
        frame.readmePath.clear();
        frame.settingsPath.clear();
    }
}

void loadCursors(FrameContext& frame) {
    if (frame.table->cursorName)
        frame.appCursor = LoadCursorA(frame.instance, frame.table->cursorName);
    frame.arrowCursor = LoadCursor(nullptr, IDC_ARROW);
    frame.waitCursor = LoadCursor(nullptr, IDC_WAIT);
    if (!frame.appCursor) frame.appCursor = LoadCursor(nullptr, IDC_CROSS);
}

void loadLogo(FrameContext& frame) {
    if (!frame.logo) frame.logo = LoadBitmapA(frame.instance, frame.table->logoName);
}

void paintLogo(const FrameContext& frame, HDC dc, const RECT& client) {
    if (!frame.logo) return;
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return;
    HGDIOBJ old = SelectObject(memory, frame.logo);
    const Point at =
        logoOrigin(client.right - client.left, client.bottom - client.top, frame.table->logoWidth,
                   frame.table->logoHeight, frame.table->logoExtraTop);
    BitBlt(dc, at.x, at.y, frame.table->logoWidth, frame.table->logoHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}

void releaseLogo(FrameContext& frame) {
    if (frame.logo) DeleteObject(frame.logo);
    frame.logo = nullptr;
}

void showHelp(FrameContext& frame, HWND mainWindow, core::MessageSink& sink) {
    const char* name = frame.japaneseUi ? frame.table->readmeNameJapanese : frame.table->readmeName;
    WIN32_FIND_DATAA found{};
    HANDLE search = frame.readmePath.empty() ? INVALID_HANDLE_VALUE
                                             : FindFirstFileA(frame.readmePath.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        sink.ask(core::formatMessage("Install the readme file (%s)\nin the same directory.", name),
                 "Error", core::kIconError);
        return;
    }
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(
        mainWindow, "open", frame.readmePath.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if ((result & 0xFFFF) <= 32)
        sink.ask(core::formatMessage("Unable to open the readme file (%s)\nbecause of being NO software "
                               "to read PDF documents.",
                               name),
                 "Error", core::kIconError);
    FindClose(search);
}

void showAbout(FrameContext& frame, HWND mainWindow, core::MessageSink&) {
    if (DialogBoxParamA(frame.instance, frame.table->aboutDialog, mainWindow,
                        guardedDialogProcedure<aboutProcedure>, 0) == -1)
        reportDialogFailure("Unable to open a dialog box.");
}

void quitApplication(FrameContext& frame) {
    releaseLogo(frame);
    PostQuitMessage(0);
}

// Message texts are UTF-8 (the Japanese ones included); shown through the wide call so they read
// the same on every code page. ASCII texts come out exactly as before.
int MessageBoxSink::ask(std::string_view text, std::string_view caption, unsigned style) {
    return MessageBoxW(owner_, wideText(text).c_str(), wideText(caption).c_str(), style);
}

LRESULT OnSetCursor(FrameContext& frame, HWND window, WPARAM wParam, LPARAM lParam) {
    DefWindowProcA(window, WM_SETCURSOR, wParam, lParam);
    updateHoverLabel(frame, window);
    return 0;
}

void repaintPicture(HWND window, bool erase) {
    RECT client{};
    GetClientRect(window, &client);
    client.top = kIconBarHeight;
    InvalidateRect(window, &client, erase);
    UpdateWindow(window);
}

void repaintButtonBand(const FrameContext& frame, HWND window, int buttonId, bool erase) {
    const PixelRect band = buttonBand(*frame.table->iconBar, buttonId);
    if (band.empty()) return;
    const RECT r{band.left, band.top, band.right, band.bottom};
    InvalidateRect(window, &r, erase);
    UpdateWindow(window);
}

}  // namespace frame
