// The whole state of voralin00, in one struct that lives as long as the process (a static of
// runVoralin) and that the window procedure reaches through GWLP_USERDATA.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/app_frame.h"
#include "image/open_image.h"
#include "image/packed_dib.h"
#include "spectrum/app/lattice_state.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/live_box.h"
#include "spectrum/engine/overlays.h"
#include "spectrum/engine/spectrum_state.h"
#include "spectrum/rules/client_layout.h"
#include "spectrum/rules/settings_scheme.h"
#include "spectrum/rules/window_rules.h"

namespace voralin {

struct LiveView;  // live_fft.cpp

// What the last spectrum was made of, kept while its filtered image is shown so "Back to
// spectrum" can compute it again: the picture that was transformed (its 8-bit rows as the
// spectrum keeps them, bottom row first), the levels of a source above 8 bits, and the circles.
struct TransformedImage {
    std::vector<std::uint8_t> source;
    int width = 0, height = 0;
    std::shared_ptr<const image::PreciseLevels> precise;
    std::vector<spectrum::MaskCircle> circles;
    bool placing = false;
};

struct AppState {
    frame::FrameContext frame;
    frame::MessageBoxSink sink;
    ImageState state = ImageState::NoImage;
    image::CurrentImage image;
    image::ImageGeometry geometry;  // of the image as opened
    spectrum::SpectrumSettings settings;
    spectrum::SpectrumBuffers buffers;
    bool circlePlacement = false;
    bool dragging = false;
    spectrum::Point dragCentre;      // client coordinates of the circle being drawn
    spectrum::Point lastMousePoint;  // where the rubber band was last drawn
    // The special profile as last read from or written to the settings file, and its point.
    spectrum::SpecialProfile savedProfile{};
    int savedSelectedPoint = 0;
    std::string openedPath;
    std::string imageInfo;
    LatticeState lattice;
    // A microscope image: what the file is (without its samples), the levels of a source above
    // 8 bits with the fingerprint of the rendering made of them, the filtered image (or the
    // removed part while it is shown) before truncation for Save BMP to a .tif name, and the
    // readout line under the spectrum.
    std::optional<image::GreyImage> source;
    std::shared_ptr<const image::PreciseLevels> precise;
    std::uint64_t preciseFingerprint = 0;
    spectrum::RestoredImage restored;
    std::uint64_t restoredFingerprint = 0;
    std::string readout;
    int binFactor = 1;  // the next images opened are binned by it (1, 2 or 4)
    spectrum::FileType openFileType = spectrum::FileType::Bitmap;  // the open dialog's file type
    // Live FFT: the box over the image and its window, while the mode is on; and where the
    // region shown lies in the opened file, after "Transform this region".
    std::shared_ptr<LiveView> live;
    std::optional<spectrum::Box> region;
    // While a filtered image is shown: what its spectrum was made of.
    std::optional<TransformedImage> beforeInverse;
};

// The program's description for the shared frame.
const frame::ProgramTable& programTable();

// Sets the window state and the buttons that follow it; the only place the state changes.
void setImageState(AppState& app, ImageState state);

// Leaves the circle modes; with `emptyList` also forgets the circles drawn.
void leaveCircleMode(AppState& app, bool emptyList);

// Enables or greys "S&pecial setting..." in the system menu.
void enableSpecialSetting(HWND window, bool enabled);

// The commands that work on the image: Open BMP (open_command.cpp), FFT, Inverse FFT and the
// overlays drawn over the spectrum (image_commands.cpp), Save BMP and Save File
// (save_commands.cpp).
void openImageCommand(AppState& app, HWND window);
// Opens image `choice.image` of the file at `path` (UTF-8) as Open does after its dialog.
void openImagePath(AppState& app, HWND window, const std::string& path,
                   const image::ImportChoice& choice);
void fftCommand(AppState& app, HWND window);
void inverseFftCommand(AppState& app, HWND window);
void paintOverlays(AppState& app, HDC dc);
void saveBitmapCommand(AppState& app, HWND window);
void saveFftDataCommand(AppState& app, HWND window);

// Redraws the shown spectrum from the buffers with the current display settings; only while the
// spectrum is shown.
void redisplaySpectrum(AppState& app, HWND window);
// Repaints the shown spectrum and its overlays without recomputing it.
void repaintSpectrumArea(AppState& app, HWND window);

// Dialog commands, one file each.
void fftModeCommand(AppState& app, HWND window);         // fft_mode_dialog.cpp
void specialSettingCommand(AppState& app, HWND window);  // special_setting_dialog.cpp
void filterCommand(AppState& app, HWND window);          // filter_kind_dialog.cpp
void processBitmapCommand(AppState& app, HWND window);   // process_dialog.cpp
void copyBitmapCommand(AppState& app, HWND window);      // clipboard_copy.cpp
// A packed DIB (header, colour table, pixels) on the clipboard as CF_DIB.
void copyBlockToClipboard(AppState& app, HWND window, const std::vector<std::uint8_t>& block);

// The special profile in the settings file beside the program (settings_file.cpp).
void readSpecialProfile(AppState& app);
void writeSpecialProfile(AppState& app);
// The program's own keys in that file (settings_scheme.h): the whole text, and one key changed
// (a value of nullopt removes it). The file is replaced whole, never left half written.
spectrum::ProfileText loadSettings(const AppState& app);
bool storeSetting(const AppState& app, const char* section, const std::string& key,
                  const std::optional<std::string>& value);
// What the user chose last in the open dialog, FFT Mode and the Binning menu: taken at start-up,
// written whenever one of them is kept.
void applyRememberedChoices(AppState& app);
void rememberChoices(const AppState& app);

// Mask circles drawn with the mouse (mouse_circles.cpp).
void beginCircle(AppState& app, HWND window, spectrum::Point at);
void trackCircle(AppState& app, HWND window, spectrum::Point at);
void endCircle(AppState& app, HWND window, spectrum::Point at);
void nudgeCursor(AppState& app, HWND window, WPARAM key);
// Takes back the last circle drawn while circles are placed on the spectrum.
void removeLastCircle(AppState& app, HWND window);

// Microscope images (microscope_image.cpp): the state an opened file brings, the levels the
// transform takes while the picture is still their rendering, the title's format and
// calibration and the readout strip.
void imageOpened(AppState& app, HWND window, image::OpenOutcome& outcome);
std::shared_ptr<const image::PreciseLevels> preciseLevelsFor(const AppState& app);
std::string imageTitleSuffix(const AppState& app);
void refreshImageTitle(AppState& app, HWND window);  // open_command.cpp
// Calibration (calibration_dialog.cpp): the "Calibration..." system-menu command, and the pixel
// size typed earlier for the opened file when it carries none.
void addCalibrationMenu(HWND window);
// Live FFT (live_fft.cpp): the system-menu command and key F, the box's keys and mouse, the box
// drawn over the image; ended by Esc, by closing its window and by any change of the picture.
void addLiveMenu(HWND window);
bool liveSysCommand(AppState& app, HWND window, int id);
// The box's commands of the key table (end, size, moves); false when `id` is not one.
bool liveCommand(AppState& app, HWND window, int id);
bool liveMouse(AppState& app, HWND window, UINT message, spectrum::Point at);
void paintLiveBox(AppState& app, HDC dc);
void endLiveView(AppState& app);
// "Transform this region" (microscope_image.cpp): the region replaces the image shown, as an
// image opened, keeping the pixel size; `box` is its place in the image it was cut from.
void showRegion(AppState& app, HWND window, spectrum::Region&& region, const spectrum::Box& box);
bool calibrationSysCommand(AppState& app, HWND window, int id);
std::optional<double> rememberedPixelSize(const AppState& app);
// Stacks (stack_commands.cpp): the "Image..." system-menu command and the previous and next
// image (Page Up / Page Down), which open another image of the open stack as Open does.
void addStackMenu(HWND window);
bool stackSysCommand(AppState& app, HWND window, int id);
bool stackOpen(const AppState& app);
void stepThroughStack(AppState& app, HWND window, int step);
// Big images (binning_menu.cpp): the "Binning" submenu of the system menu, remembered in the
// settings file with the full-frame limit and the storage of big frames.
void addBinningMenu(AppState& app, HWND window);
bool binningSysCommand(AppState& app, HWND window, int id);
void trackReadout(AppState& app, HWND window, spectrum::Point at);
// After the inverse: the filtered values belong to the picture now shown (until it changes).
void rememberRestored(AppState& app);
bool restoredIsCurrent(const AppState& app);
void paintReadout(const AppState& app, HDC dc);

// The keys, the context menu and dropped files (context_menu.cpp). A key runs what the key table
// gives for the window's state; true when it ran or was taken.
struct CommandContext;
CommandContext commandContext(const AppState& app);
bool keyPressed(AppState& app, HWND window, WPARAM key, LPARAM flags);
void keyReleased(AppState& app, HWND window, WPARAM key);
// `at` is the WM_CONTEXTMENU point (screen; -1 from the keyboard).
void showContextMenu(AppState& app, HWND window, LPARAM at);
void filesDropped(AppState& app, HWND window, WPARAM drop);  // the HDROP of WM_DROPFILES
// Before an inverse transform: what "Back to spectrum" needs of the spectrum.
void keepForBack(AppState& app, TransformedImage& kept);

}  // namespace voralin
