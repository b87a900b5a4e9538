// The rules of the kestral main window that need no window: where pictures and pages sit in the
// client area, its icon-bar table, its display modes and which page buttons each mode enables.
// Header only, so the native tests use it without Win32.
#pragma once

#include <optional>
#include <vector>

#include "crystal/engine/page.h"
#include "frame/frame_rules.h"
#include "image/packed_dib.h"
#include "resources/kestral/kestral_ids.h"

namespace kestral {

// Pictures and pages are shown below the icon bar, from client y = kPictureTop.
inline constexpr int kPictureTop = frame::kIconBarHeight;

// The room for an opened picture in a client area of the given size.
inline image::PictureArea pictureAreaOf(int clientWidth, int clientHeight) {
    return {clientWidth, clientHeight - kPictureTop};
}

// Pages as the main window shows them, on a screen `screenWidth` pixels wide.
inline crystal::PageLayout pageLayoutOf(int screenWidth) {
    return {screenWidth, kPictureTop};
}

enum class DisplayMode { Logo, Planes, Bitmap };

inline const std::vector<frame::IconButtonSpec> kIconBar = {
    {IDB_K_GAP, 0, 16, "Gap", false, 0, nullptr},
    {IDB_K_READ, 16, 32, "Read", true, IDM_K_READ, "Read Crystal"},
    {IDB_K_XTAL, 48, 32, "Xtal", true, IDM_K_CRYSTAL, "Crystal"},
    {IDB_K_PREV, 80, 32, "Prev", false, IDM_K_PREVIOUS, "Previous"},
    {IDB_K_NEXT, 112, 32, "Next", false, IDM_K_NEXT, "Next"},
    {IDB_K_SAVEAS, 144, 32, "SaveAs", false, IDM_K_SAVEBMP, "Save BMP"},
    {IDB_K_SAVEGR, 176, 32, "SaveGr", false, IDM_K_SAVEFILE, "Save File"},
    {IDB_K_OPENBMP, 208, 32, "OpenBMP", true, IDM_K_OPENBMP, "Open BMP"},
    {IDB_K_ABOUT, 240, 32, "About", true, IDM_K_ABOUT, "About"},
    {IDB_K_HELP, 272, 32, "Help", true, IDM_K_HELP, "Help"},
    {IDB_K_EXIT, 304, 32, "Exit", true, IDM_K_EXIT, "Exit"},
    {IDB_K_SPACE, 336, 0, "Space", false, 0, nullptr},
};
// Right end of the last command button.
inline constexpr int kCommandsRight = 336;

struct PageButtons {
    bool previous = false, next = false, saveBmp = false, saveFile = false;
};

// The page buttons a paint sets; nothing in the logo mode, where they keep their start state.
inline std::optional<PageButtons> pageButtonsFor(DisplayMode mode, int nextPlane, int layerCount) {
    switch (mode) {
        case DisplayMode::Planes:
            return PageButtons{nextPlane >= 8, layerCount > nextPlane, true, true};
        case DisplayMode::Bitmap:
            return PageButtons{};
        case DisplayMode::Logo:
            break;
    }
    return std::nullopt;
}

// The main window's title while it is created, and the one a running copy is known by.
inline constexpr const char* kProvisionalTitle = "Tessaly_Frame";
inline constexpr const char* kTitle = "Tessaly";

}  // namespace kestral
