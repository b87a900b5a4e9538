#include "frame/frame_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "spectrum/rules/window_rules.h"
#include "tests/unit/frame/artwork_names.h"

namespace {

using frame::ButtonState;

TEST(WindowsVersion, NtVersionsByRegistryText) {
    EXPECT_EQ(frame::classifyNtCurrentVersion("4.0"), frame::kWinNt4);
    EXPECT_EQ(frame::classifyNtCurrentVersion("5.0"), frame::kWin2000);
    EXPECT_EQ(frame::classifyNtCurrentVersion("5.1"), frame::kWinXp);
    EXPECT_EQ(frame::classifyNtCurrentVersion("5.2"), frame::kWinXp);
    EXPECT_EQ(frame::classifyNtCurrentVersion("6.0"), frame::kWinVista7);
    EXPECT_EQ(frame::classifyNtCurrentVersion("6.1"), frame::kWinVista7);
    EXPECT_EQ(frame::classifyNtCurrentVersion("6.3"), frame::kWinLater);
    EXPECT_EQ(frame::classifyNtCurrentVersion(""), frame::kWinLater);
    // Substring tests in order: "4.0" wins over anything later in the text.
    EXPECT_EQ(frame::classifyNtCurrentVersion("10.0 (4.0 compatible)"), frame::kWinNt4);
}

TEST(WindowsVersion, NineXProductNames) {
    EXPECT_EQ(frame::classify9xProductName("Microsoft Windows ME"), frame::kWinMe);
    EXPECT_EQ(frame::classify9xProductName("Microsoft Windows 98"), frame::kWin98);
    EXPECT_EQ(frame::classify9xProductName("Microsoft Windows 95"), frame::kWin95);
    EXPECT_EQ(frame::classify9xProductName("windows me"), frame::kWin95);  // case matters
}

TEST(WindowsVersion, LabelFontFollowsTheClass) {
    for (int code = 0; code < 8; ++code) {
        const auto font = frame::labelFontFor(code, false);
        EXPECT_FALSE(font.japanese);
        EXPECT_EQ(font.height, code <= 2 ? 12 : 14) << code;
        EXPECT_EQ(font.xOffset, code <= 2 ? 0 : 1) << code;
        EXPECT_EQ(font.yOffset, -1);
        EXPECT_EQ(font.extraWidth, 2);
    }
    const auto japanese = frame::labelFontFor(frame::kWinXp, true);
    EXPECT_TRUE(japanese.japanese);
    EXPECT_EQ(japanese.height, 12);
    EXPECT_EQ(japanese.yOffset, 0);
    EXPECT_EQ(japanese.extraWidth, 1);
    EXPECT_TRUE(frame::isJapaneseCodePage(932));
    EXPECT_FALSE(frame::isJapaneseCodePage(1252));
}

// On every class of Windows each button, in each state, names a bitmap the artwork draws: a
// skin or a stem without its pictures would leave the button blank.
TEST(ButtonBitmaps, EveryClassOfWindowsGetsBitmapsTheArtworkDraws) {
    const auto drawn = testart::artworkBitmapNames(SUITE_TEST_DATA "/../../tools/artwork/voralin00.art");
    ASSERT_FALSE(drawn.empty());
    std::set<std::string_view> skins;
    for (int code = 0; code < 8; ++code) {
        skins.insert(frame::buttonSkin(code));
        for (const auto& b : voralin::kIconBar)
            for (auto state : {ButtonState::Up, ButtonState::Dn, ButtonState::In}) {
                const auto name = frame::buttonBitmapName(b.stem, frame::buttonSkin(code), state);
                EXPECT_TRUE(drawn.count(name)) << name << " for class " << code;
            }
    }
    // Windows ME, 2000 and XP each have their own look; the others share the plain one.
    EXPECT_EQ(skins.size(), 4u);
}

TEST(ButtonBitmaps, NamesAndDrawnState) {
    EXPECT_EQ(frame::buttonBitmapName("Open", "9", ButtonState::Up), "Open9Up");
    EXPECT_EQ(frame::buttonBitmapName("SaveAs", "X", ButtonState::Dn), "SaveAsXDn");
    EXPECT_EQ(frame::buttonBitmapName("Exit", "", ButtonState::In), "ExitIn");
    EXPECT_EQ(frame::drawnButtonState(true, false), ButtonState::Up);
    EXPECT_EQ(frame::drawnButtonState(true, true), ButtonState::Dn);
    EXPECT_EQ(frame::drawnButtonState(false, true), ButtonState::In);
    // Every name fits the 11 characters a button keeps.
    for (const auto& b : voralin::kIconBar)
        for (auto skin : {"", "9", "8", "X"})
            EXPECT_LE(frame::buttonBitmapName(b.stem, skin, ButtonState::Up).size(), 11u) << b.stem;
}

// Sweeping the mouse along the bar: the leading gap and the space after the last button show no
// label; each command of the menu is shown once, over one run of 32 pixels, in the menu's order.
TEST(IconBar, SweepingTheBarMeetsEveryCommandOnceInOrder) {
    const auto& bar = voralin::kIconBar;
    std::vector<int> commands;
    int previous = 0, runStart = 0;
    for (int x = 0; x <= voralin::kCommandsRight + 100; ++x) {
        const int at = frame::hoverButtonAt(bar, voralin::kCommandsRight, x);
        if (at == previous) continue;
        if (previous != 0) {
            EXPECT_EQ(x - runStart, 32) << "button " << previous;
        }
        if (at != 0) {
            ASSERT_LE(static_cast<std::size_t>(at), bar.size());
            int seen = 0;
            for (const auto& b : bar)
                if (b.command != 0 && ++seen == at) commands.push_back(b.command);
        }
        previous = at;
        runStart = x;
    }
    EXPECT_EQ(frame::hoverButtonAt(bar, voralin::kCommandsRight, 15), 0);
    std::vector<int> menu;
    for (int id = IDM_OPEN; id <= IDM_EXIT; ++id) menu.push_back(id);
    EXPECT_EQ(commands, menu);
    for (const auto& b : bar)
        if (b.command) {
            ASSERT_NE(b.label, nullptr);
            EXPECT_LE(std::string(b.label).size(), 12u);
        }
}

TEST(IconBar, LabelRectangleAndStore) {
    const auto r = frame::hoverLabelRect(18, 60, 2, 1, 19, 0, 14);
    EXPECT_EQ(r.left, 18);
    EXPECT_EQ(r.top, 52);
    EXPECT_EQ(r.right, 85);
    EXPECT_EQ(r.bottom, 72);

    // A label far wider than 130 pixels keeps every pixel, both edges included.
    frame::LabelPixelStore store;
    const frame::PixelRect wide{10, 50, 310, 70};
    ASSERT_TRUE(store.reset(wide));
    for (int y = wide.top; y <= wide.bottom; ++y)
        for (int x = wide.left; x <= wide.right; ++x) store.at(x, y) = std::uint32_t(x * 1000 + y);
    bool intact = true;
    for (int y = wide.top; y <= wide.bottom; ++y)
        for (int x = wide.left; x <= wide.right; ++x)
            intact = intact && store.at(x, y) == std::uint32_t(x * 1000 + y);
    EXPECT_TRUE(intact);
    EXPECT_FALSE(store.reset({5, 5, 5, 9}));
    EXPECT_FALSE(store.holds());
}

TEST(ProgramFiles, PathsBesideTheProgram) {
    auto p = frame::programPathsFor("C:\\Tools\\Orb\\VORALIN00.EXE", "VORALIN00.PDF");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->readme, "C:\\Tools\\Orb\\VORALIN00.PDF");
    EXPECT_EQ(p->settings, "C:\\Tools\\Orb\\VORALIN00.INI");
    // A renamed program keeps its own settings name and the fixed readme name.
    p = frame::programPathsFor("D:\\x\\voralin00-1.exe", "VORALIN0J.PDF");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->readme, "D:\\x\\VORALIN0J.PDF");
    EXPECT_EQ(p->settings, "D:\\x\\voralin00-1.INI");
    EXPECT_FALSE(frame::programPathsFor("", "VORALIN00.PDF"));
    EXPECT_FALSE(frame::programPathsFor("VORALIN00.EXE", "VORALIN00.PDF"));
    EXPECT_FALSE(frame::programPathsFor("C:\\dir.d\\PROGRAM", "X.PDF"));
}

TEST(ProgramFiles, SettingsOfAFolderTheUserCannotWrite) {
    EXPECT_EQ(frame::userSettingsPath("C:\\Users\\u\\AppData\\Roaming",
                                      "C:\\Program Files\\TEM\\VORALIN00.INI"),
              "C:\\Users\\u\\AppData\\Roaming\\VORALIN00\\VORALIN00.INI");
    EXPECT_EQ(frame::userSettingsPath("C:\\App Data\\", "D:\\x\\voralin00-1.INI"),
              "C:\\App Data\\voralin00-1\\voralin00-1.INI");
    EXPECT_EQ(frame::userSettingsPath("", "C:\\x\\V.INI"), "");
    EXPECT_EQ(frame::userSettingsPath("C:\\A", ""), "");
}

TEST(Geometry, MainWindowLogoAndDialogPlacement) {
    const auto w = frame::mainWindowRect(1024, 768);
    EXPECT_EQ(w.width(), 921);
    EXPECT_EQ(w.height(), 691);
    EXPECT_EQ(w.left, 51);
    EXPECT_EQ(w.top, 38);
    const auto logo = frame::logoOrigin(915, 650, 448, 326, 20);
    EXPECT_EQ(logo.x, 233);
    EXPECT_EQ(logo.y, 152 + 20);
    const auto crystal = frame::logoOrigin(915, 650, 384, 288, 0);
    EXPECT_EQ(crystal.y, 181);
    const auto at = frame::topRightPlacement({100, 100, 400, 300}, {50, 40, 950, 700}, 44);
    EXPECT_EQ(at.x, 950 - 3 - 300);
    EXPECT_EQ(at.y, 40 + 44 - 1);
}

TEST(DiskChecks, ExtendedFreeSpaceCall) {
    EXPECT_TRUE(frame::extendedFreeSpaceAvailable(frame::kWinXp, 2, 2600));
    EXPECT_TRUE(frame::extendedFreeSpaceAvailable(frame::kWin95, 1, 1111));
    EXPECT_FALSE(frame::extendedFreeSpaceAvailable(frame::kWin95, 1, 950));
    EXPECT_FALSE(frame::extendedFreeSpaceAvailable(frame::kWin95, 1, 0x04000000 | 950));
    EXPECT_TRUE(frame::extendedFreeSpaceAvailable(frame::kWin95, 2, 0));
}

TEST(Startup, RunningCopyIsFoundByTitle) {
    EXPECT_TRUE(
        frame::titleMarksRunningCopy("Orbilux [II] - CELL.BMP (512W x 480H)", "Orbilux [II]"));
    EXPECT_TRUE(frame::titleMarksRunningCopy("Notes on Orbilux [II].txt", "Orbilux [II]"));
    EXPECT_FALSE(frame::titleMarksRunningCopy("FFT_FFTinv_00", "Orbilux [II]"));
    EXPECT_FALSE(frame::titleMarksRunningCopy("Orbilux [I]", "Orbilux [II]"));
}

TEST(MainWindow, ButtonEnablingByState) {
    using voralin::ImageState;
    const int stateful[] = {IDB_MODE, IDB_FFT,    IDB_MASK,   IDB_FFT_1,
                            IDB_COPY, IDB_SAVEAS, IDB_SAVEGR, IDB_GAMMA};
    const bool expected[4][8] = {
        {false, false, false, false, false, false, false, false},
        {true, true, false, false, false, false, false, false},
        {true, true, true, true, true, true, true, false},
        {false, false, false, false, true, true, false, true},
    };
    for (int s = 0; s < 4; ++s) {
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(voralin::buttonEnabledIn(ImageState(s), stateful[i]), expected[s][i])
                << "state " << s << " button " << stateful[i];
        for (int id : {IDB_OPEN, IDB_ABOUT, IDB_HELP, IDB_EXIT})
            EXPECT_TRUE(voralin::buttonEnabledIn(ImageState(s), id));
        for (int id : {IDB_GAP, IDB_SPACE})
            EXPECT_FALSE(voralin::buttonEnabledIn(ImageState(s), id));
    }
}

}  // namespace

namespace {

// The band the programs repaint after a common dialog closed over a button covers the bar's
// height and is as wide as the part of the bar where the mouse shows that button's label, one
// pixel to its left.
TEST(IconBar, RepaintedBandsLieOverTheirButtons) {
    const auto& bar = voralin::kIconBar;
    for (int id : {IDB_OPEN, IDB_SAVEAS, IDB_SAVEGR}) {
        int position = 0, seen = 0;
        for (const auto& b : bar) {
            if (b.command != 0) ++seen;
            if (b.id == id) position = seen;
        }
        int first = -1, last = -1;
        for (int x = 0; x <= voralin::kCommandsRight; ++x)
            if (frame::hoverButtonAt(bar, voralin::kCommandsRight, x) == position) {
                if (first < 0) first = x;
                last = x;
            }
        ASSERT_GE(first, 0) << id;
        const frame::PixelRect band = frame::buttonBand(bar, id);
        EXPECT_EQ(band.left, first - 1) << id;
        EXPECT_EQ(band.right, last) << id;
        EXPECT_EQ(band.top, 0);
        EXPECT_EQ(band.bottom, 20);  // the buttons' 20 rows and the bar's line below them
    }
    // The filler that runs to the screen's edge and an unknown id give nothing.
    EXPECT_TRUE(frame::buttonBand(bar, IDB_SPACE).empty());
    EXPECT_TRUE(frame::buttonBand(bar, 9999).empty());
}

}  // namespace
