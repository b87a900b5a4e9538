#include "crystal/engine/page.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "crystal/engine/writers.h"
#include "crystal_fixture.h"
#include "tests/doubles/recording.h"

using namespace crystal;
using crystal::testing::exists;
using crystal::testing::kWindowPages;
using crystal::testing::makeModel;
using crystal::testing::readAll;
using crystal::testing::SliceRun;
using crystal::testing::strontiumTitanate;

namespace {

// Silicon at every 1/n of c: n planes along [0 0 1].
CrystalModel planes(int n) {
    CrystalModel m =
        makeModel("3", "3", "4", "90", "90", "90", {{"Si", "14", "0", "0", "0", 3}}, "0", "0", "1");
    for (int i = 1; i < n; ++i)
        m.atoms[i] = AtomSite{
            "O", "8", "0.5", "0.5", std::to_string(double(i) / n), 6, kAtomColours[6].value};
    m.atomCount = n;
    return m;
}

int countColour(const RasterCanvas& c, int index) {
    int count = 0;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x) count += c.indexAt(x, y) == index;
    return count;
}

// Answers the "save all" question and records everything.
struct Saver {
    core::RecordingSink sink;
    core::NoBusyIndicator none;
    Seams seams{sink, none, none};
    core::FakeDisk disk;
};

}  // namespace

TEST(Page, CaptureIsAFourBitPictureOfTheRowsFromTheTop) {
    RasterCanvas canvas(1001, 121);
    canvas.fillRect(0, 0, 1001, 121, rgb(255, 255, 255));
    canvas.fillRect(0, 120, 1, 121, rgb(255, 0, 0));  // bottom-left pixel
    canvas.fillRect(1, 21, 2, 22, rgb(0, 0, 255));    // top row, second pixel
    const image::PackedDib dib = capturePage(canvas, 21);
    ASSERT_EQ(dib.block.size(), 104u + 504u * 100u);
    EXPECT_EQ(dib.width(), 1001);
    EXPECT_EQ(dib.height(), 100);
    EXPECT_EQ(dib.bitCount(), 4);
    EXPECT_EQ(dib.u32(image::info::biSizeImage), 504u * 100u);
    // Colour 9 is red (blue, green, red, 0), colour 12 blue.
    EXPECT_EQ(dib.block[40 + 4 * 9 + 2], 255);
    EXPECT_EQ(dib.block[40 + 4 * 12 + 0], 255);
    EXPECT_EQ(dib.block[104], 0x9F);             // bottom row first, left pixel high nibble
    EXPECT_EQ(dib.block[104 + 504 * 99], 0xFC);  // top row

    // From the canvas's own top row the picture is the whole canvas; a top past either edge
    // keeps to the canvas.
    EXPECT_EQ(capturePage(canvas, 0).height(), 121);
    EXPECT_EQ(capturePage(canvas, -5).height(), 121);
    EXPECT_EQ(capturePage(canvas, 500).height(), 0);
}

TEST(Page, RowsAboveTheLayoutTopAreLeftToTheWindow) {
    SliceRun run(strontiumTitanate("1", "1", "0"));
    ASSERT_TRUE(run.slice());
    const ColourValue red = rgb(255, 0, 0);
    RasterCanvas probe(1, 1);
    probe.fillRect(0, 0, 1, 1, red);
    const int redIndex = probe.indexAt(0, 0);
    for (const int top : {0, 21, 30}) {
        RasterCanvas canvas(1024, 768);
        canvas.fillRect(0, 0, 1024, 768, red);
        drawPage(run.state, canvas, {1024, top}, 0);
        for (int x = 0; x < 1024; ++x) {
            for (int y = 0; y < top; ++y)
                ASSERT_EQ(canvas.indexAt(x, y), redIndex) << x << "," << y;
            ASSERT_NE(canvas.indexAt(x, top), redIndex) << x << "," << top;
        }
        // The planes sit where the client height puts them, wherever the top is.
        for (int y = 60; y < 768; y += 11)
            for (int x = 0; x < 1024; x += 13)
                ASSERT_EQ(canvas.indexAt(x, y), run.canvas.indexAt(x, y)) << x << "," << y;
    }
}

TEST(Page, PageBitmapFileHasTheSixteenColourOffset) {
    RasterCanvas canvas(64, 85);
    image::CurrentImage page;
    page.dib = capturePage(canvas, 21);
    core::RecordingSink sink;
    const std::string path = ::testing::TempDir() + "page.bmp";
    ASSERT_TRUE(writePageBitmap(path, page, sink));
    const std::string bytes = readAll(path);
    ASSERT_EQ(bytes.size(), page.dib.block.size() + 14);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(image::loadU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 10), 118u);
    EXPECT_FALSE(writePageBitmap("/nonexistent-dir/p.bmp", page, sink));
    EXPECT_EQ(sink.messages().back().text, "Error: Unable to open file.");
    std::remove(path.c_str());
}

TEST(Page, ThreePlanesFillThreePanelsAndLeaveTheFourthEmpty) {
    SliceRun run(planes(3));
    ASSERT_TRUE(run.slice());
    ASSERT_EQ(run.state.slicing.layerCount, 3);
    EXPECT_EQ(run.state.nextPlane, 4);
    // Red atoms on planes 1 and 2 (lower left, upper right), none in the lower right panel.
    const int hx = (1024 - 275) / 4, hy = (768 - 81) / 4;
    const int right = (1024 - 215) / 2 + hx, lower = (768 - 9) / 2 + hy;
    const int left = (1024 - 215) / 2 - hx, upper = (768 - 9) / 2 - hy;
    const auto redIn = [&](int cx, int cy) {
        int n = 0;
        for (int y = cy - hy + 3; y < cy + hy - 3; ++y)
            for (int x = cx - hx + 3; x < cx + hx - 3; ++x) n += run.canvas.indexAt(x, y) == 9;
        return n;
    };
    EXPECT_EQ(redIn(left, upper), 0);
    EXPECT_GT(redIn(left, lower), 0);
    EXPECT_GT(redIn(right, upper), 0);
    EXPECT_EQ(redIn(right, lower), 0);
    // The lower right frame is drawn all the same.
    EXPECT_EQ(run.canvas.indexAt(right, lower + hy - 2), 0);
    EXPECT_EQ(run.canvas.indexAt(right, lower - hy + 2), 0);
}

TEST(Page, LongLegendEndsWithFollowingOmitted) {
    CrystalModel m = planes(2);
    for (int i = 2; i < 60; ++i)
        m.atoms[i] = AtomSite{"O", "8", "0.25", std::to_string(i / 100.0), "0.5", 6, 0};
    m.atomCount = 60;
    SliceRun run(m);
    ASSERT_TRUE(run.slice());
    // The text column's last line: a black run somewhere near the bottom right.
    const int lh = 14;
    int lastRow = 0;
    for (int i = 0; i < 60 && (i + 8) * lh + 36 <= 768 - 10 - lh; ++i) lastRow = i + 1;
    const int y = (lastRow + 8) * lh + 36 + 2 + 3;  // inside the glyphs of "Following omitted."
    int black = 0;
    for (int x = 1024 - 230; x < 1024 - 230 + 18 * 7; ++x) black += run.canvas.indexAt(x, y) == 0;
    EXPECT_GT(black, 10);
    // Nothing is written below it.
    int below = 0;
    for (int yy = y + lh; yy < 768; ++yy)
        for (int x = 1024 - 230; x < 1024 - 20; ++x) below += run.canvas.indexAt(x, yy) == 0;
    EXPECT_EQ(below, 0);
}

TEST(Page, SuperCellOverlayAndInfoLine) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    // s = floor(40 / 3.905) = 10 pixels per A: the rectangle is 39 x 39 from the panel centre.
    const int hx = (1024 - 275) / 4, hy = (768 - 81) / 4;
    const int cx = (1024 - 215) / 2 - hx, cy = (768 - 9) / 2 - hy;
    EXPECT_EQ(run.canvas.indexAt(cx + 20, cy - 39), 0);
    EXPECT_EQ(run.canvas.indexAt(cx + 39, cy - 20), 0);
    // X scale bar from the left panel centre to the left, at H - 30.
    EXPECT_EQ(run.canvas.indexAt(cx - 20, 768 - 30), 0);
    EXPECT_GT(countColour(run.canvas, 0), 1000);
}

TEST(Page, PageTurnDrawsTheCrystalAsTheModelNowHoldsIt) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    // A cancelled parameters dialog keeps the texts typed into it: Ti moves from y = 0.5 to 0.25
    // and the next page turn (here Previous back to the first page) must show it there.
    run.state.model.atoms[4].y = "0.25";
    run.state.nextPlane = 0;
    run.state.revisiting = true;
    ASSERT_TRUE(runSlicing(run.state, run.canvas, kWindowPages, run.seams));
    const auto& plane1 = run.state.slicing.planeImages.at(1);
    int titanium = 0;
    for (const PlaneImage& im : plane1) {
        if (im.atom != 4) continue;
        ++titanium;
        const double cells = im.planeX / 3.905;
        EXPECT_NEAR(cells - std::floor(cells), 0.25, 1e-6);
    }
    EXPECT_GT(titanium, 0);
}

TEST(Page, SaveRefusesWithoutSuperCellAndWithoutSpace) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    Saver s;
    RasterPages pages(1024, 768, kWindowPages, s.seams);
    s.disk.freeBytes = kPageBytes - 1;
    const std::string path = ::testing::TempDir() + "nospace.bmp";
    EXPECT_FALSE(savePlaneBitmaps(run.state, pages, path, s.disk, s.sink));
    EXPECT_EQ(s.sink.messages().back().text, text::kNoSpaceOne);
    run.state.slicing.superCellX = 0;
    EXPECT_FALSE(savePlaneBitmaps(run.state, pages, path, s.disk, s.sink));
    EXPECT_EQ(s.sink.messages().back().text, text::kNoBitmap);
    EXPECT_EQ(s.sink.messages().back().style, core::kIconWarning);
    EXPECT_FALSE(exists(path));
}

TEST(Page, SaveAllPagesNumbersThemAndShowsThePageAgain) {
    Saver s;
    RasterPages pages(1024, 768, kWindowPages, s.seams);
    CrystalState state;
    state.model = planes(9);
    pages.runSlicing(state);
    ASSERT_EQ(state.slicing.layerCount, 9);
    pages.runSlicing(state);  // Next: the second page is on screen
    ASSERT_EQ(state.nextPlane, 8);
    s.sink.events.clear();

    const std::string path = ::testing::TempDir() + "planes.bmp";
    ASSERT_TRUE(savePlaneBitmaps(state, pages, path, s.disk, s.sink));
    for (int k = 1; k <= 3; ++k) {
        const std::string bytes = readAll(numberedName(path, k));
        EXPECT_EQ(bytes.size(), 14u + 104u + 512u * 747u) << k;
    }
    EXPECT_NE(readAll(numberedName(path, 1)), readAll(numberedName(path, 2)));
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(state.nextPlane, 8);
    EXPECT_FALSE(state.revisiting);
    const auto messages = s.sink.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, text::kSaveAllQuestion);
    EXPECT_EQ(messages[0].style, core::kIconQuestion | core::kYesNo);
    const std::string stem = ::testing::TempDir() + "planes";
    EXPECT_EQ(messages[1].text, "Bitmap file(s)\n" + stem + "1.bmp to\n" + stem +
                                    "3.bmp\nhas been successfully created.");

    // A page that cannot be written removes the pages written before it.
    for (int k = 1; k <= 3; ++k) std::remove(numberedName(path, k).c_str());
    const std::string blocked = numberedName(path, 2);
    ASSERT_TRUE(std::filesystem::create_directory(blocked));
    EXPECT_FALSE(savePlaneBitmaps(state, pages, path, s.disk, s.sink));
    EXPECT_EQ(s.sink.messages().back().text, "Error: Unable to open file.");
    EXPECT_FALSE(exists(numberedName(path, 1)));
    EXPECT_FALSE(exists(numberedName(path, 3)));
    std::remove(blocked.c_str());

    // Three pages need three times the space of one.
    s.disk.freeBytes = 3 * kPageBytes - 1;
    EXPECT_FALSE(savePlaneBitmaps(state, pages, path, s.disk, s.sink));
    EXPECT_EQ(s.sink.messages().back().text, text::kNoSpaceAll);
}

TEST(RasterCanvas, ShapesFollowGdiConventions) {
    RasterCanvas c(40, 40);
    c.line({2, 5}, {10, 5}, rgb(255, 0, 0));
    EXPECT_EQ(c.indexAt(2, 5), 9);
    EXPECT_EQ(c.indexAt(9, 5), 9);
    EXPECT_EQ(c.indexAt(10, 5), 15);  // the end point is left out
    c.rectangle(20, 20, 30, 26, rgb(0, 0, 0));
    EXPECT_EQ(c.indexAt(20, 20), 0);
    EXPECT_EQ(c.indexAt(29, 25), 0);
    EXPECT_EQ(c.indexAt(30, 25), 15);
    EXPECT_EQ(c.indexAt(25, 23), 15);  // hollow
    c.ellipse(0, 30, 6, 36, rgb(0, 0, 255), rgb(0, 255, 0));
    EXPECT_EQ(c.indexAt(2, 32), 10);  // inside: brush
    EXPECT_EQ(c.indexAt(0, 32), 12);  // edge: pen
    EXPECT_EQ(c.indexAt(6, 32), 15);  // right column left out
    // The upper half of a circle, counter-clockwise from the right to the left.
    c.arc(10, 10, 20, 20, {20, 15}, {10, 15}, rgb(0, 0, 0));
    EXPECT_EQ(c.indexAt(14, 10), 0);
    EXPECT_EQ(c.indexAt(14, 19), 15);
    EXPECT_EQ(c.textWidth("abc"), 21);
    EXPECT_EQ(c.fontMetrics().height, 13);
}

namespace {

TEST(Page, ThePageIsShownBeforeTheBusyStateEndsAndBeforeTheSuperCellWarning) {
    SliceRun run(makeModel("3", "4", "5", "90", "90", "90", {{"Si", "14", "0", "0", "0"}}, "1",
                           "1", "1"));
    run.state.nextPlane = 0;
    run.state.revisiting = false;
    std::size_t eventsWhenShown = 0;
    int shown = 0;
    ASSERT_TRUE(runSlicing(run.state, run.canvas, kWindowPages, run.seams, [&] {
        ++shown;
        eventsWhenShown = run.sink.events.size();
    }));
    EXPECT_EQ(shown, 1);
    // Shown after the wait box and the busy state began and the wait box ended, before the
    // busy state ends and the warning comes.
    ASSERT_GE(run.sink.events.size(), eventsWhenShown + 2);
    EXPECT_EQ(run.sink.events[eventsWhenShown].kind, core::RecordedEvent::BusyEnd);
    EXPECT_EQ(run.sink.events.back().text, text::kNoSuperCell);
    for (std::size_t i = 0; i < eventsWhenShown; ++i)
        EXPECT_NE(run.sink.events[i].kind, core::RecordedEvent::Message);
}

TEST(Page, NoPageIsShownWhenTheRunStopsBeforeDrawing) {
    SliceRun run(makeModel("3", "4", "5", "90", "90", "90", {{"Si", "14", "0", "0", "0"}}, "0",
                           "0", "0"));
    int shown = 0;
    EXPECT_FALSE(runSlicing(run.state, run.canvas, kWindowPages, run.seams, [&] { ++shown; }));
    EXPECT_EQ(shown, 0);
}

TEST(Page, DrawingAPageChangesNothingAndDrawsTheSameTwice) {
    SliceRun run(strontiumTitanate("1", "1", "0"));
    ASSERT_TRUE(run.slice());
    const CrystalState before = run.state;
    RasterCanvas again(1024, 768);
    drawPage(run.state, again, kWindowPages, 0);
    EXPECT_EQ(run.state.nextPlane, before.nextPlane);
    EXPECT_EQ(run.state.slicing.superCellX, before.slicing.superCellX);
    for (int y = 21; y < 768; y += 7)
        for (int x = 0; x < 1024; x += 5)
            ASSERT_EQ(again.indexAt(x, y), run.canvas.indexAt(x, y)) << x << "," << y;
}

TEST(Page, PagingStepsByFourAndStopsAtTheLastPlane) {
    EXPECT_EQ(pageStartAfter(0, 9), 4);
    EXPECT_EQ(pageStartAfter(4, 9), 8);
    EXPECT_EQ(pageStartAfter(8, 9), 12);
    EXPECT_EQ(pageStartAfter(0, 2), 4);
    EXPECT_EQ(pageStartAfter(0, 0), 0);  // nothing drawn stays at a multiple of 4
    EXPECT_EQ(pageStartAfter(5, 3), 8);
}

TEST(Page, TheSuperCellIsSearchedOverTheFirstPlane) {
    SliceRun run(strontiumTitanate());
    ASSERT_TRUE(run.slice());
    SlicingState st = run.state.slicing;
    st.superCellX = st.superCellY = kSuperCellStart;
    st.superCellXFound = st.superCellYFound = false;
    searchFirstPlaneSuperCell(st, run.state.model);
    EXPECT_TRUE(st.superCellXFound);
    EXPECT_TRUE(st.superCellYFound);
    EXPECT_NEAR(st.superCellX, 3.905, 1e-9);
    EXPECT_NEAR(st.superCellY, 3.905, 1e-9);
    // No layer table, no search.
    SlicingState none = run.state.slicing;
    none.layerCount = 0;
    none.superCellX = none.superCellY = kSuperCellStart;
    none.superCellXFound = none.superCellYFound = false;
    searchFirstPlaneSuperCell(none, run.state.model);
    EXPECT_FALSE(none.superCellXFound || none.superCellYFound);
}

}  // namespace
