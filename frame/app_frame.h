// The Win32 application frame shared by the two main programs: program entry helpers, the icon
// bar with its hover labels, the single-instance and colour-depth checks, the environment probes,
// the paths beside the program, Help and About, the wait box, dialog placement, the repaints below
// and inside the icon bar, and a message-box message sink. Built on the Win32 support
// (frame/support), which the installer links alone.
//
// Each program describes itself once in a ProgramTable (class name, titles, file names, icon-bar
// table) and owns one FrameContext for the life of the process; the frame reaches it through the
// windows' create parameters, never through globals of its own.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "core/busy.h"
#include "core/message_sink.h"
#include "frame/frame_rules.h"
#include "frame/support/window_support.h"

namespace frame {

struct ProgramTable {
    const char* className;         // main window class
    const char* provisionalTitle;  // title while the window is being created
    const char* finalTitle;        // product title, also the mark of a running copy
    const char* programFileName;   // as searched for beside the program ("VORALIN00.EXE")
    const char* readmeName;        // readme beside the program
    const char* readmeNameJapanese;
    const char* iconName;
    const char* cursorName;  // the program's own cursor, or nullptr
    const char* logoName;
    int logoWidth;
    int logoHeight;
    int logoExtraTop;  // room kept above the centred logo for the icon bar
    const char* aboutDialog;
    const char* waitDialog;
    const std::vector<IconButtonSpec>* iconBar;
    int commandsRight;       // right end of the last command button
    bool arrowInButtonBand;  // restore the arrow cursor over the buttons
    bool refuseFewColours;   // close silently on a display of 16 colours or fewer
};

struct HoverLabel {
    int index = 0;  // 0: none; else the command button's position (1-based)
    LabelPixelStore saved;
};

struct FrameContext {
    const ProgramTable* table = nullptr;
    HINSTANCE instance = nullptr;
    int screenWidth = 0;
    int screenHeight = 0;
    int dialogTopOffset = 0;
    int winVersionCode = 0;
    bool japaneseUi = false;
    bool probesDone = false;
    COLORREF buttonFaceColour = RGB(192, 192, 192);
    std::string readmePath;
    std::string settingsPath;
    HCURSOR appCursor = nullptr;
    HCURSOR arrowCursor = nullptr;
    HCURSOR waitCursor = nullptr;
    HWND mainWindow = nullptr;
    HWND iconBar = nullptr;
    HWND waitBox = nullptr;
    HBITMAP logo = nullptr;
    std::vector<HWND> buttons;  // by row of the icon-bar table
    HoverLabel hover;
    // Whether the program's own cursor belongs at client (x, y) outside the button band.
    std::function<bool(int x, int y)> wantsAppCursor;
};

// ---- program entry ----
// The main class without its procedure: keeps the instance and installs the failure box as the
// callback guard's reporter.
WNDCLASSA mainWindowClass(FrameContext& frame, HINSTANCE instance);
// Registers the main class with the guarded form of `Handler` as its procedure (a raw procedure
// cannot be registered); false when registration fails.
template <WindowHandler Handler>
bool registerMainClass(FrameContext& frame, HINSTANCE instance) {
    return registerWindowClass<Handler>(mainWindowClass(frame, instance)) != 0;
}
// Creates the fixed main window, nine tenths of the screen and centred, with the provisional
// title; `createParam` reaches WM_CREATE. Also computes dialogTopOffset.
HWND createMainWindow(FrameContext& frame, void* createParam);
// The loop that serves the wait box through IsDialogMessage; returns the last wParam.
int runMessageLoop(FrameContext& frame);

// ---- start-up checks, run from WM_CREATE ----
bool anotherCopyRunning(const char* finalTitle);
bool displayHasFewColours();
// Caches the button face colour and runs both probes once.
void runEnvironmentProbes(FrameContext& frame);
// readmePath and settingsPath beside the program file (found by name on the search path, else
// the running module's own path).
void locateProgramFiles(FrameContext& frame);
void loadCursors(FrameContext& frame);
// Loads the logo and keeps it for painting until releaseLogo.
void loadLogo(FrameContext& frame);
void paintLogo(const FrameContext& frame, HDC dc, const RECT& client);
void releaseLogo(FrameContext& frame);

// ---- probes ----
// Returns the version class, or `previous` when neither registry key can be read.
int detectWindowsVersion(int previous);
bool detectUiLanguage();

// ---- icon bar ----
// Registers "IconBarWindow" and creates the strip across the top of the main window; false (and
// the program runs without it) when the class cannot be registered.
bool createIconBar(FrameContext& frame);
void setButtonEnabled(FrameContext& frame, int controlId, bool enabled);
HWND buttonWindow(const FrameContext& frame, int controlId);
// Called on every WM_SETCURSOR of the main window, after DefWindowProc.
void updateHoverLabel(FrameContext& frame, HWND mainWindow);
// Called first by every command.
void removeHoverLabel(FrameContext& frame, HWND mainWindow);

// WM_SETCURSOR of a main window: the default cursor first, then the icon bar's rule (hover
// label, arrow in the button band, the program's own cursor elsewhere).
LRESULT OnSetCursor(FrameContext& frame, HWND window, WPARAM wParam, LPARAM lParam);
// Invalidates the client area below the icon bar and repaints it at once.
void repaintPicture(HWND window, bool erase);
// Repaints the band of the main window under an icon-bar button (buttonBand), as after a common
// dialog closed over it.
void repaintButtonBand(const FrameContext& frame, HWND window, int buttonId, bool erase);

// ---- shell services ----
void showHelp(FrameContext& frame, HWND mainWindow, core::MessageSink& sink);
void showAbout(FrameContext& frame, HWND mainWindow, core::MessageSink& sink);
// Releases the logo and posts the quit message; the program frees its own data first.
void quitApplication(FrameContext& frame);

// ---- wait box and dialogs ----
void showWaitDialog(FrameContext& frame, HWND mainWindow);
void closeWaitDialog(FrameContext& frame, HWND mainWindow);
void placeDialogTopRight(HWND dialog, int dialogTopOffset);

// The wait box as the engines' busy indicator.
class WaitBox final : public core::BusyIndicator {
  public:
    explicit WaitBox(FrameContext& frame) : frame_(frame) {}
    void beginBusy() override { showWaitDialog(frame_, frame_.mainWindow); }
    void endBusy() override { closeWaitDialog(frame_, frame_.mainWindow); }

  private:
    FrameContext& frame_;
};

// Message boxes; owner may be null (system errors have none).
class MessageBoxSink final : public core::MessageSink {
  public:
    explicit MessageBoxSink(HWND owner = nullptr) : owner_(owner) {}
    int ask(std::string_view text, std::string_view caption, unsigned style) override;
    void setOwner(HWND owner) { owner_ = owner; }

  private:
    HWND owner_;
};

// The common open or save dialog without hook or template. `filter` is the usual double-null list;
// `extension` (may be null) is added to a name typed without one; the name buffer holds
// `bufferChars` characters. Returns false when cancelled, and when the dialog failed after
// reporting "GetOpenFileName error 0x%lx" / "GetSaveFileName error 0x%lx" with `errorCaption`.
struct FileDialogRequest {
    bool save = false;
    const char* filter = nullptr;
    const char* title = nullptr;
    const char* extension = nullptr;
    DWORD flags = 0;
    const char* errorCaption = "Error";
    int bufferChars = 258;
};
bool askFilePath(HWND owner, core::MessageSink& sink, const FileDialogRequest& request,
                 std::string& path);

}  // namespace frame
