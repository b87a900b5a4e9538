// The kestral main window's rules: the icon bar and the page buttons of each display mode.
#include <gtest/gtest.h>

#include "crystal/app/window_rules.h"

namespace kestral {
namespace {

TEST(KestralIconBar, ButtonsFollowEachOtherWithTheirCommands) {
    ASSERT_EQ(kIconBar.size(), 12u);
    for (std::size_t i = 0; i < kIconBar.size(); ++i) {
        EXPECT_EQ(kIconBar[i].id, IDB_K_GAP + static_cast<int>(i));
        if (i > 0) EXPECT_EQ(kIconBar[i].x, kIconBar[i - 1].x + kIconBar[i - 1].width);
        const bool command = i > 0 && i < 11;
        EXPECT_EQ(kIconBar[i].command, command ? IDM_K_READ + static_cast<int>(i) - 1 : 0);
        EXPECT_EQ(kIconBar[i].label != nullptr, command);
    }
    // Only the page buttons start disabled among the commands.
    for (const auto& b : kIconBar) {
        const bool page = b.id >= IDB_K_PREV && b.id <= IDB_K_SAVEGR;
        EXPECT_EQ(b.enabledAtStart, b.command != 0 && !page) << b.stem;
    }
    // Hover bands: Read Crystal from 16 to 47, Exit up to 335, nothing on the gap or the space.
    EXPECT_EQ(frame::hoverButtonAt(kIconBar, kCommandsRight, 15), 0);
    EXPECT_EQ(frame::hoverButtonAt(kIconBar, kCommandsRight, 16), 1);
    EXPECT_EQ(frame::hoverButtonAt(kIconBar, kCommandsRight, 47), 1);
    EXPECT_EQ(frame::hoverButtonAt(kIconBar, kCommandsRight, 48), 2);
    EXPECT_EQ(frame::hoverButtonAt(kIconBar, kCommandsRight, 335), 10);
    EXPECT_EQ(frame::hoverButtonAt(kIconBar, kCommandsRight, 336), 0);
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

TEST(KestralIconBar, ButtonBandsFollowTheTable) {
    // The bands repainted after the save and open dialogs closed over Save BMP and Open BMP.
    const frame::PixelRect save = frame::buttonBand(kIconBar, IDB_K_SAVEAS);
    const frame::PixelRect open = frame::buttonBand(kIconBar, IDB_K_OPENBMP);
    EXPECT_EQ(save.left, 143);
    EXPECT_EQ(save.right, 175);
    EXPECT_EQ(open.left, 207);
    EXPECT_EQ(open.right, 239);
    EXPECT_EQ(open.top, 0);
    EXPECT_EQ(open.bottom, 20);
}

}  // namespace
}  // namespace kestral
