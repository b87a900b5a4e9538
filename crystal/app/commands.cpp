// The commands of the main window that call the crystal engine: slicing runs and paging, Read
// Crystal, Save BMP, Save File and Open BMP, with the busy state around every computation.
#include <windows.h>
// windows.h first: the common dialog header needs its types.
#include <commdlg.h>

#include <cstring>
#include <string>

#include "core/disk.h"
#include "crystal/app/app_state.h"
#include "crystal/app/gdi_canvas.h"
#include "crystal/engine/page.h"
#include "crystal/engine/writers.h"
#include "frame/app_frame.h"
#include "frame/support/window_support.h"
#include "image/bmp_file.h"

namespace kestral {
namespace {

// The busy state of a computation: the window topmost, the wait cursor and a raised thread
// priority; a slicing run also disables Previous and Next. Undone in the reverse order.
class CrystalBusy final : public core::BusyIndicator {
  public:
    CrystalBusy(AppState& app, HWND window, bool pageButtons)
        : app_(app), window_(window), pageButtons_(pageButtons) {}
    void beginBusy() override {
        if (pageButtons_) {
            frame::setButtonEnabled(app_.frame, IDB_K_PREV, false);
            frame::setButtonEnabled(app_.frame, IDB_K_NEXT, false);
        }
        SetWindowPos(window_, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        SetCursor(LoadCursor(nullptr, IDC_WAIT));
        raised_ = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST) != 0;
    }
    void endBusy() override {
        SetCursor(LoadCursor(nullptr, IDC_ARROW));
        if (raised_) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
        raised_ = false;
        SetWindowPos(window_, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    }

  private:
    AppState& app_;
    HWND window_;
    bool pageButtons_;
    bool raised_ = false;
};

bool createPlanePicture(AppState& app, HWND window, int width, int height) {
    HDC windowDc = GetDC(window);
    if (!windowDc) return false;
    HDC dc = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = dc ? CreateCompatibleBitmap(windowDc, width, height) : nullptr;
    ReleaseDC(window, windowDc);
    if (!bitmap) {
        if (dc) DeleteDC(dc);
        return false;
    }
    app.planes.dc = dc;
    app.planes.bitmap = bitmap;
    app.planes.originalBitmap = SelectObject(dc, bitmap);
    app.planes.originalFont = app.pageFont ? SelectObject(dc, app.pageFont) : nullptr;
    app.planes.width = width;
    app.planes.height = height;
    SetStretchBltMode(dc, COLORONCOLOR);
    return true;
}

// Pages for Save BMP: drawn into the plane picture and captured from it.
class GdiPages final : public crystal::PageRenderer {
  public:
    GdiPages(AppState& app, HWND window) : app_(app), window_(window) {}
    void runSlicing(crystal::CrystalState&) override { kestral::runSlicing(app_, window_); }
    bool capture(image::CurrentImage& page) override {
        image::freeBitmap(page);
        if (!app_.planes.present()) return false;
        RECT client{};
        GetClientRect(window_, &client);
        const int width = client.right, rows = client.bottom - kPictureTop;
        try {
            page.dib = crystal::emptyPageDib(width, rows);
        } catch (const std::bad_alloc&) {
            return false;
        }
        std::uint8_t* block = page.dib.block.data();
        HDC windowDc = GetDC(window_);
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(windowDc, reinterpret_cast<BITMAPINFO*>(block),
                                           DIB_RGB_COLORS, &bits, nullptr, 0);
        HDC memory = CreateCompatibleDC(windowDc);
        bool ok = section && memory && bits;
        if (ok) {
            HGDIOBJ old = SelectObject(memory, section);
            SetStretchBltMode(memory, COLORONCOLOR);
            StretchBlt(memory, 0, 0, width, rows, app_.planes.dc, 0, kPictureTop, width, rows,
                       SRCCOPY);
            GdiFlush();
            const std::size_t offset = image::kInfoHeaderSize + 4 * crystal::kPaletteSize;
            std::memcpy(block + offset, bits, page.dib.block.size() - offset);
            SelectObject(memory, old);
        }
        if (memory) DeleteDC(memory);
        if (section) DeleteObject(section);
        ReleaseDC(window_, windowDc);
        if (!ok) image::freeBitmap(page);
        return ok;
    }

  private:
    AppState& app_;
    HWND window_;
};

// An open-file dialog with the Explorer look; false on cancel or failure (reported).
bool askOpenPath(AppState& app, HWND window, const char* filter, const char* title,
                 std::string& path) {
    return frame::askFilePath(window, app.sink,
                              {false, filter, title, nullptr,
                               OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY, "Error", 256},
                              path);
}

bool hasSuperCell(const AppState& app) {
    return app.crystal.slicing.superCellX != 0 && app.crystal.slicing.superCellY != 0;
}

}  // namespace

bool askSavePath(AppState& app, HWND window, const char* filter, const char* title,
                 const char* extension, std::string& path) {
    return frame::askFilePath(
        window, app.sink,
        {true, filter, title, extension, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST,
         "Error", 256},
        path);
}

bool runSlicing(AppState& app, HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right, height = client.bottom;
    if (app.crystal.freshComputation() && !app.planes.present() &&
        !createPlanePicture(app, window, width, height)) {
        app.sink.ask(crystal::text::kOutOfMemory, "Error", core::kIconError);
        return false;
    }
    if (!app.planes.present()) return false;
    GdiCanvas canvas(app.planes.dc, app.planes.width, app.planes.height);
    CrystalBusy busy(app, window, true);
    frame::WaitBox waitBox(app.frame);
    const crystal::Seams seams{app.sink, busy, waitBox};
    // The new page goes on screen while the busy state lasts, before any super cell warning.
    const auto showPage = [&] {
        if (app.mode == DisplayMode::Logo) frame::releaseLogo(app.frame);
        if (app.mode == DisplayMode::Bitmap) image::freeBitmap(app.opened);
        app.mode = DisplayMode::Planes;
        updatePageButtons(app);
        const RECT below{0, kPictureTop, width, height};
        InvalidateRect(window, &below, FALSE);
        UpdateWindow(window);
    };
    const bool drawn = crystal::runSlicing(app.crystal, canvas, pageLayoutOf(app.frame.screenWidth),
                                           seams, showPage);
    // The busy state turned Previous and Next off; a run that drew nothing gives them back.
    updatePageButtons(app);
    return drawn;
}

void readCrystalCommand(AppState& app, HWND window) {
    std::string path;
    if (!askOpenPath(app, window, "Crystal data (*.txt)\0*.txt\0CIF (*.cif)\0*.cif\0",
                     "Select a crystal data file.", path))
        return;
    if (!crystal::hasCifSuffix(path)) {
        if (crystal::loadCrystalFile(path, app.crystal.model, app.sink, true))
            app.siteExtras.clear();
        return;
    }
    // A CIF goes into the model as if its rows had been typed; a refusal leaves the crystal.
    crystal::CifImport import;
    if (!crystal::readCifFile(path, "", import, app.sink)) return;
    crystal::applyCifImport(import, app.crystal.model);
    app.siteExtras = import.extras;
    std::string said;
    for (const std::string& note : import.notes) said += note + "\n";
    app.sink.ask(said + "\nNext, press <Crystal> button.\nSet ONLY <u,v,w> value, and then press "
                        "<OK> button.",
                 "Next procedure", core::kIconInformation);
}

void previousCommand(AppState& app, HWND window) {
    if (app.crystal.nextPlane >= 8) app.crystal.nextPlane -= 8;
    app.crystal.revisiting = true;
    runSlicing(app, window);
}

void nextCommand(AppState& app, HWND window) {
    runSlicing(app, window);
}

void saveBitmapCommand(AppState& app, HWND window) {
    if (!hasSuperCell(app)) {
        app.sink.ask(crystal::text::kNoBitmap, "Error", core::kIconWarning);
        return;
    }
    std::string path;
    const bool chosen =
        askSavePath(app, window, "Bitmaps (*.bmp)\0*.bmp\0", "Assign a bitmap file.", "bmp", path);
    frame::repaintButtonBand(app.frame, window, IDB_K_SAVEAS, false);
    if (!chosen) return;
    GdiPages pages(app, window);
    crystal::savePlaneBitmaps(app.crystal, pages, path, core::systemDisk(), app.sink);
}

void writeSimulationFile(AppState& app, HWND window, int choice) {
    if (!hasSuperCell(app)) {
        app.sink.ask(crystal::text::kNoDataFile, "Error", core::kIconWarning);
        return;
    }
    static const struct {
        const char* filter;
        const char* title;
        const char* extension;
    } kinds[3] = {
        {"Ref. data (*.txt)\0*.txt\0", "Assign a reference data file.", "txt"},
        {"Input data (*.dat)\0*.dat\0", "Assign an input data file.", "dat"},
        {"Input data (*.xyz)\0*.xyz\0", "Assign an input data file.", "xyz"},
    };
    std::string path;
    const bool chosen = askSavePath(app, window, kinds[choice].filter, kinds[choice].title,
                                    kinds[choice].extension, path);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    if (!chosen) return;
    CrystalBusy busy(app, window, false);
    frame::WaitBox waitBox(app.frame);
    const crystal::Seams seams{app.sink, busy, waitBox};
    if (choice == 0)
        crystal::writeReferenceData(app.crystal, path, seams);
    else if (choice == 1)
        crystal::writeNormalBeamFiles(app.crystal, path, seams);
    else
        crystal::writeConvergentBeamFile(app.crystal, path, seams);
}

void openBitmapCommand(AppState& app, HWND window) {
    std::string path;
    const bool chosen =
        askOpenPath(app, window, "Bitmap (*.bmp)\0*.bmp\0", "Select a bitmap file.", path);
    frame::repaintButtonBand(app.frame, window, IDB_K_OPENBMP, false);
    if (!chosen) return;
    const bool bmp = path.size() >= 4 && _stricmp(path.c_str() + path.size() - 4, ".bmp") == 0;
    if (!bmp) {
        app.sink.ask("Select a file with BMP extension.", "Error", core::kIconWarning);
        return;
    }
    releaseDisplay(app);
    // The bitmap display from here, even when the file fails to load: its page buttons go off
    // at once.
    app.mode = DisplayMode::Bitmap;
    updatePageButtons(app);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    SetCursor(LoadCursor(nullptr, IDC_WAIT));
    RECT client{};
    GetClientRect(window, &client);
    const bool read = image::readBitmapFile(path, app.opened, image::BitmapFlavour::Kestral,
                                            app.sink, pictureAreaOf(client.right, client.bottom));
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    // The reader keeps a block whose information header has the wrong size after reporting it;
    // painting it would report it again after every message box, for ever. The reader has said
    // why: show nothing.
    if (!read) image::freeBitmap(app.opened);
    if (read) {
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
    }
}

}  // namespace kestral
