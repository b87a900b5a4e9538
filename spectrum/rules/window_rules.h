// The rules of the voralin00 main window that need no window: its states, its icon-bar table and
// which buttons each state enables. Header only, so the native tests use it without Win32.
#pragma once

#include <array>
#include <vector>

#include "frame/frame_rules.h"
#include "resources/voralin00/voralin00_ids.h"

namespace voralin {

enum class ImageState { NoImage = 0, ImageOpened = 1, SpectrumShown = 2, FilteredShown = 3 };

// The icon bar: ids, geometry, bitmap stems, start state, commands and hover labels.
inline const std::vector<frame::IconButtonSpec> kIconBar = {
    {IDB_GAP, 0, 16, "Gap", false, 0, nullptr},
    {IDB_OPEN, 16, 32, "Open", true, IDM_OPEN, "Open BMP"},
    {IDB_MODE, 48, 32, "Mode", false, IDM_FFTMODE, "FFT Mode"},
    {IDB_FFT, 80, 32, "FFT", false, IDM_FFT, "FFT"},
    {IDB_MASK, 112, 32, "Mask", false, IDM_FILTER, "FFT Filter"},
    {IDB_FFT_1, 144, 32, "FFT_1", false, IDM_INVERSE, "Inverse FFT"},
    {IDB_COPY, 176, 32, "Copy", false, IDM_COPY, "Copy BMP"},
    {IDB_SAVEAS, 208, 32, "SaveAs", false, IDM_SAVEBMP, "Save BMP"},
    {IDB_SAVEGR, 240, 32, "SaveGr", false, IDM_SAVEFILE, "Save File"},
    {IDB_GAMMA, 272, 32, "Gamma", false, IDM_PROCESS, "Process BMP"},
    {IDB_ABOUT, 304, 32, "About", true, IDM_ABOUT, "About"},
    {IDB_HELP, 336, 32, "Help", true, IDM_HELP, "Help"},
    {IDB_EXIT, 368, 32, "Exit", true, IDM_EXIT, "Exit"},
    {IDB_SPACE, 400, 0, "Space", false, 0, nullptr},
};
// Right end of the last command button.
inline constexpr int kCommandsRight = 400;

// The buttons whose state follows the window state, and their state in NoImage, ImageOpened,
// SpectrumShown and FilteredShown. Open, About, Help and Exit are always enabled.
struct StateButton {
    int id;
    std::array<bool, 4> on;
};
inline constexpr std::array<StateButton, 8> kStateButtons = {{
    {IDB_MODE, {false, true, true, false}},
    {IDB_FFT, {false, true, true, false}},
    {IDB_MASK, {false, false, true, false}},
    {IDB_FFT_1, {false, false, true, false}},
    {IDB_COPY, {false, false, true, true}},
    {IDB_SAVEAS, {false, false, true, true}},
    {IDB_SAVEGR, {false, false, true, false}},
    {IDB_GAMMA, {false, false, false, true}},
}};

// Whether the button with control id `id` is enabled in `state`; fillers never are.
inline bool buttonEnabledIn(ImageState state, int id) {
    for (const auto& b : kStateButtons)
        if (b.id == id) return b.on[static_cast<int>(state)];
    return id == IDB_OPEN || id == IDB_ABOUT || id == IDB_HELP || id == IDB_EXIT;
}

}  // namespace voralin
