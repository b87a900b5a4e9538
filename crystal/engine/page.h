// The slicing run and the pages of sliced planes.
//
// A page shows up to four planes in four panels (upper left, lower left, upper right, lower
// right), each atom image as a small disc seen along the beam, a text column with the crystal
// parameters and an atom legend on the right, and, once the super cell is known, its rectangle in
// every shown plane with two scale bars and an info line. The drawing goes through a Canvas of
// the main window's client size W x H; the rows above the layout's top belong to the window and
// are not drawn.
//
// Captured pages are 4-bit PackedDibs of W x (H - top) with the 16-colour table of canvas.h.
#pragma once

#include <functional>
#include <string>

#include "crystal/engine/canvas.h"
#include "crystal/engine/orientation.h"
#include "image/file_io.h"
#include "core/disk.h"
#include "image/packed_dib.h"

namespace crystal {

namespace text {
inline constexpr const char* kNoBitmap = "Unable to make bitmap file(s),\nbecause of wrong data.";
inline constexpr const char* kNoSpaceOne = "Not enough free diskspace to save a sliced plane.";
inline constexpr const char* kNoSpaceAll = "Not enough free diskspace to save all sliced planes.";
inline constexpr const char* kSaveAllQuestion =
    "Do you save all sliced planes as bitmaps?\n(NO : Only this sliced plane is saved.)\nWait "
    "until a success message appears.";
inline constexpr const char* kOutOfMemory = "Unable to allocate memory.";
}  // namespace text

// Free space asked for each page file, whatever the window size.
inline constexpr std::uint64_t kPageBytes = 400000;

// Where pages are drawn: rows from `top` down of a canvas of the window's client size, the planes
// scaled for a screen `screenWidth` pixels wide.
struct PageLayout {
    int screenWidth = 1024;
    int top = 0;
};

// The super cell of a fresh computation: the rule of searchSuperCell applied to every image on
// plane 0 of an atom with the first row's element.
void searchFirstPlaneSuperCell(SlicingState& state, const CrystalModel& model);

// nextPlane after drawing the page that starts at `first`: the next multiple of 4.
int pageStartAfter(int first, int layerCount);

// Draws the page that starts at plane `first`; reads the state, changes nothing.
void drawPage(const CrystalState& state, Canvas& canvas, const PageLayout& layout, int first);

// The slicing run: orientation (and on a fresh computation the repeat distance, the layer table
// and the super cell), the paging, then the page, then the super cell warning. `pageDrawn` runs
// once the page is drawn and before the busy state ends, so the program shows it before any
// warning. Every refusal is reported after the busy state has ended. True when a page was drawn.
bool runSlicing(CrystalState& state, Canvas& canvas, const PageLayout& layout, const Seams& seams,
                const std::function<void()>& pageDrawn = {});

// A zero-filled captured page of width x rows: header, the 16-colour table, rows of whole
// 32-bit words. The program fills the rows from its window picture.
image::PackedDib emptyPageDib(int width, int rows);

// The page picture, the canvas rows from `top` down, as a 4-bit PackedDib (header, 16 colours,
// rows).
image::PackedDib capturePage(const RasterCanvas& canvas, int top);

// Writes a captured page in the crystal program's BMP form (bfOffBits 118).
bool writePageBitmap(const std::string& path, image::CurrentImage& page, core::MessageSink& sink,
                     image::ReplacingSet* set = nullptr);

// What saving pages needs from the window: drawing the page at state.nextPlane and capturing
// the picture. The program implements it with GDI; RasterPages draws in memory.
class PageRenderer {
  public:
    virtual ~PageRenderer() = default;
    virtual void runSlicing(CrystalState& state) = 0;
    virtual bool capture(image::CurrentImage& page) = 0;
};

class RasterPages final : public PageRenderer {
  public:
    RasterPages(int clientWidth, int clientHeight, const PageLayout& layout, const Seams& seams)
        : canvas(clientWidth, clientHeight), layout(layout), seams_(seams) {}
    void runSlicing(CrystalState& state) override {
        crystal::runSlicing(state, canvas, layout, seams_);
    }
    bool capture(image::CurrentImage& page) override;
    RasterCanvas canvas;
    PageLayout layout;

  private:
    Seams seams_;
};

// The "Save BMP" command after the file dialog: the page on screen, or every page in turn
// (path stem + 1, 2, ... + suffix) when the user answers Yes with five planes or more.
bool savePlaneBitmaps(CrystalState& state, PageRenderer& pages, const std::string& path,
                      core::DiskServices& disk, core::MessageSink& sink);

}  // namespace crystal
