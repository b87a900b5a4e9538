// The kestral main window's rules: the icon bar and the page buttons of each display mode.
#include <gtest/gtest.h>

#include <vector>

#include "crystal/rules/window_rules.h"
#include "tests/unit/frame/artwork_names.h"

namespace kestral {
namespace {

// The command button the mouse is over at client x, or nullptr.
const frame::IconButtonSpec* hovered(int x) {
    const int at = frame::hoverButtonAt(kIconBar, kCommandsRight, x);
    int seen = 0;
    for (const auto& b : kIconBar)
        if (b.command != 0 && ++seen == at) return &b;
    return nullptr;
}

// Sweeping the mouse along the bar meets each command of the menu once, in the menu's order;
// the page buttons are the only commands that start disabled.
TEST(KestralIconBar, SweepingTheBarMeetsEveryCommandOnceInOrder) {
    std::vector<int> commands;
    const frame::IconButtonSpec* previous = nullptr;
    for (int x = 0; x <= kCommandsRight + 100; ++x) {
        const auto* b = hovered(x);
        if (b && b != previous) {
            commands.push_back(b->command);
            ASSERT_NE(b->label, nullptr);
            const bool page = b->command >= IDM_K_PREVIOUS && b->command <= IDM_K_SAVEFILE;
            EXPECT_EQ(b->enabledAtStart, !page) << b->label;
        }
        previous = b;
    }
    EXPECT_EQ(hovered(15), nullptr);
    EXPECT_EQ(hovered(kCommandsRight), nullptr);
    std::vector<int> menu;
    for (int id = IDM_K_READ; id <= IDM_K_EXIT; ++id) menu.push_back(id);
    EXPECT_EQ(commands, menu);
}

TEST(KestralIconBar, EveryClassOfWindowsGetsBitmapsTheArtworkDraws) {
    const auto drawn = testart::artworkBitmapNames(SUITE_TEST_DATA "/../../tools/artwork/kestral.art");
    ASSERT_FALSE(drawn.empty());
    for (int code = 0; code < 8; ++code)
        for (const auto& b : kIconBar)
            for (auto state : {frame::ButtonState::Up, frame::ButtonState::Dn, frame::ButtonState::In}) {
                const auto name = frame::buttonBitmapName(b.stem, frame::buttonSkin(code), state);
                EXPECT_TRUE(drawn.count(name)) << name << " for class " << code;
            }
}

TEST(KestralPageButtons, FollowTheDisplayMode) {
    // The logo leaves the buttons as they were created.
    EXPECT_FALSE(pageButtonsFor(DisplayMode::Logo, 4, 10).has_value());
    // First page of ten planes: Next, Save BMP and Save File, no Previous.
    auto first = pageButtonsFor(DisplayMode::Planes, 4, 10);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->previous);
    EXPECT_TRUE(first->next && first->saveBmp && first->saveFile);
    // Last page: Previous only.
    auto last = pageButtonsFor(DisplayMode::Planes, 12, 10);
    EXPECT_TRUE(last->previous);
    EXPECT_FALSE(last->next);
    // Four planes or fewer: one page, no paging.
    auto single = pageButtonsFor(DisplayMode::Planes, 4, 4);
    EXPECT_FALSE(single->previous || single->next);
    EXPECT_TRUE(single->saveBmp);
    // A picture from Open BMP disables all four.
    auto bitmap = pageButtonsFor(DisplayMode::Bitmap, 8, 10);
    EXPECT_FALSE(bitmap->previous || bitmap->next || bitmap->saveBmp || bitmap->saveFile);
}

// The band repainted after a dialog closed over a button covers the bar's height and is as wide
// as the part of the bar where the mouse shows that button's label, one pixel to its left.
TEST(KestralIconBar, RepaintedBandsLieOverTheirButtons) {
    for (int id : {IDB_K_SAVEAS, IDB_K_OPENBMP}) {
        const frame::PixelRect band = frame::buttonBand(kIconBar, id);
        int first = -1, last = -1;
        for (int x = 0; x <= kCommandsRight; ++x) {
            const auto* b = hovered(x);
            if (b && b->id == id) {
                if (first < 0) first = x;
                last = x;
            }
        }
        ASSERT_GE(first, 0) << id;
        EXPECT_EQ(band.left, first - 1) << id;
        EXPECT_EQ(band.right, last) << id;
        EXPECT_EQ(band.top, 0);
        EXPECT_EQ(band.bottom, 20);  // the buttons' 20 rows and the bar's line below them
    }
}

}  // namespace
}  // namespace kestral
