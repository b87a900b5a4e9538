// The portable rules of the application frame: how the Windows version and language are
// classified, which skin and label font follow from them, how bitmap names, program-side paths,
// the hover label's rectangle and the placement of windows are computed.
//
// No dependency on any OS API: the Win32 frame (app_frame.h) reads the system and hands the raw
// answers to these functions, so each rule is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace frame {

// Windows-version classes (WinVersionCode).
inline constexpr int kWin95 = 0, kWin98 = 1, kWinMe = 2, kWinNt4 = 3, kWin2000 = 4, kWinXp = 5,
                     kWinVista7 = 6, kWinLater = 7;

// The class of an NT system from the registry's "CurrentVersion" text (substring tests, in order).
int classifyNtCurrentVersion(std::string_view currentVersion);
// The class of a 9x system from the registry's "ProductName" text.
int classify9xProductName(std::string_view productName);

// True for the Japanese ANSI code page.
inline bool isJapaneseCodePage(unsigned codePage) {
    return codePage == 932;
}

// The button skin letter for a version class: "9", "8", "X" or none.
std::string_view buttonSkin(int winVersionCode);

enum class ButtonState { Up, Dn, In };
// Resource name of a button bitmap: stem + skin + state ("Open9Up", "SaveAsXDn", "ExitIn").
std::string buttonBitmapName(std::string_view stem, std::string_view skin, ButtonState state);
// The state drawn for a button: In when disabled, else Dn while pressed, else Up.
inline ButtonState drawnButtonState(bool enabled, bool selected) {
    return !enabled ? ButtonState::In : (selected ? ButtonState::Dn : ButtonState::Up);
}

// The hover label font and text offsets.
struct LabelFont {
    int height = 12;
    bool japanese = false;  // Japanese Gothic face, Shift-JIS; else "Helv", OEM character set
    int xOffset = 0;
    int yOffset = -1;
    int extraWidth = 2;
};
LabelFont labelFontFor(int winVersionCode, bool japaneseUi);

// The icon bar across the top of both main windows: a separator line and 20-pixel buttons.
// Pictures are shown below it, from client y = kIconBarHeight.
inline constexpr int kIconBarHeight = 21;

// One row of a program's icon bar. command 0 marks a filler (Gap, Space) that sends nothing;
// width 0 means "to the right edge of the screen".
struct IconButtonSpec {
    int id;
    int x;
    int width;
    const char* stem;
    bool enabledAtStart;
    int command;
    const char* label;
};

// The position of the command button under client x, counting the first command button as 1,
// or 0 when x lies on the leading gap (x <= 15) or at or past `commandsRight`.
int hoverButtonAt(const std::vector<IconButtonSpec>& table, int commandsRight, int x);

// Label rectangle in window coordinates, both edges included when saving pixels.
struct PixelRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return right <= left || bottom <= top; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};
PixelRect hoverLabelRect(int left, int textWidth, int extraWidth, int cyBorder, int cyCaption,
                         int externalLeading, int textHeight);

// The band of the main window's client area that the button with control id `id` covers, as a
// RECT-style rectangle: from one pixel left of the button to its right end, rows 0 to the last
// row of the icon bar. Repainted after a common dialog closed over the button. Empty for an id
// not in the table or a button that runs to the screen's edge.
PixelRect buttonBand(const std::vector<IconButtonSpec>& table, int id);

// The pixels saved under a hover label, rows top..bottom and columns left..right inclusive. The
// store takes the size of the rectangle, so a wide label never writes past its end.
class LabelPixelStore {
  public:
    // Makes room for the inclusive rectangle; false (and nothing kept) for an empty one.
    bool reset(const PixelRect& rect);
    void clear();
    bool holds() const { return !pixels_.empty(); }
    const PixelRect& rect() const { return rect_; }
    std::uint32_t& at(int x, int y) {
        return pixels_[static_cast<std::size_t>(y - rect_.top) * columns_ +
                       static_cast<std::size_t>(x - rect_.left)];
    }

  private:
    PixelRect rect_;
    std::size_t columns_ = 0;
    std::vector<std::uint32_t> pixels_;
};

// Paths kept beside the program file.
struct ProgramPaths {
    std::string readme;
    std::string settings;
};
// From the program file's full path: the readme (the given name in the program's folder) and
// the settings file (the program's path with "INI" in place of its three-letter extension).
// Nothing for a path without a folder or a three-letter extension.
std::optional<ProgramPaths> programPathsFor(std::string_view programPath,
                                            std::string_view readmeName);
// Where the settings go when the program's folder cannot be written by the user (a folder an
// administrator installed): the user's application-data folder, a folder named like the file's
// stem, the same file name. Empty when either path is missing.
std::string userSettingsPath(std::string_view appDataFolder, std::string_view settingsPath);

// The main window: nine tenths of the screen, centred.
PixelRect mainWindowRect(int screenWidth, int screenHeight);

// Top-left of a centred logo in the client area; `extraTop` is the room kept for the icon bar.
struct Point {
    int x = 0, y = 0;
};
Point logoOrigin(int clientWidth, int clientHeight, int logoWidth, int logoHeight, int extraTop);

// Where a settings dialog goes: its right edge 3 pixels left of the parent's, its top at parent
// top + dialogTopOffset - 1 (rectangles in screen coordinates).
Point topRightPlacement(const PixelRect& dialog, const PixelRect& parent, int dialogTopOffset);

// Whether the 64-bit free-space call may be used: on the 9x family only from a build above 1000.
bool extendedFreeSpaceAvailable(int winVersionCode, unsigned platformId, unsigned buildNumber);

// True when `title` contains `finalTitle` (a running copy of the program).
inline bool titleMarksRunningCopy(std::string_view title, std::string_view finalTitle) {
    return !finalTitle.empty() && title.find(finalTitle) != std::string_view::npos;
}

}  // namespace frame
