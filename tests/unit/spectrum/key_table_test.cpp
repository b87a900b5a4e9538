#include "spectrum/rules/key_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace voralin {
namespace {

CommandContext in(ImageState state) {
    CommandContext c;
    c.state = state;
    return c;
}

TEST(KeyTable, NoKeyRunsTwoCommandsInOneState) {
    const auto conflicts = keyConflicts(keyBindings(), commandRules());
    EXPECT_TRUE(conflicts.empty()) << conflicts.front();
}

TEST(KeyTable, TheConflictCheckFindsAKeyTwoCommandsShare) {
    // B for Back to spectrum and for a command of the same state clash; with a live box on
    // only, the arrow of the box and the nudge of circle placement do not.
    std::vector<CommandRule> rules = {
        {1, {1u << 3, Need::Any, Need::Any, Need::Any, Need::On}, {"a", "a"}, "B"},
        {2, {(1u << 3) | (1u << 1)}, {"b", "b"}, "B"},
        {3, {(1u << 1) | (1u << 3), Need::On}, {"", ""}, nullptr},
        {4, {1u << 2, Need::Any, Need::On}, {"", ""}, nullptr},
    };
    std::vector<KeyBinding> bindings = {
        {'B', 1}, {'B', 2}, {key::kLeft, 3}, {key::kLeft, 4, KeyEdge::Release}};
    const auto found = keyConflicts(bindings, rules);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0], "key 0x42: commands 0x1 and 0x2");
    // A press and a release of one key are one key: the same states clash.
    rules[3].when = rules[2].when;
    EXPECT_EQ(keyConflicts(bindings, rules).size(), 2u);
}

TEST(KeyTable, KeysActOnlyWhereTheirCommandApplies) {
    // Backspace takes back a circle only while circles are placed on the spectrum.
    CommandContext placing = in(ImageState::SpectrumShown);
    placing.placing = true;
    EXPECT_EQ(commandForKey(key::kBack, KeyEdge::Press, placing), IDM_REMOVECIRCLE);
    EXPECT_EQ(commandForKey(key::kBack, KeyEdge::Press, in(ImageState::SpectrumShown)), 0);
    // F starts the live box over an image and ends it; never over the spectrum.
    EXPECT_EQ(commandForKey('F', KeyEdge::Press, in(ImageState::ImageOpened)), IDM_LIVEFFT);
    EXPECT_EQ(commandForKey('F', KeyEdge::Press, in(ImageState::SpectrumShown)), 0);
    // Esc and the arrows act on the box only while it is shown; the arrows' release nudges the
    // cursor while circles are placed, as before.
    CommandContext live = in(ImageState::FilteredShown);
    live.live = true;
    EXPECT_EQ(commandForKey(key::kEscape, KeyEdge::Press, live), IDM_LIVEEND);
    EXPECT_EQ(commandForKey(key::kEscape, KeyEdge::Press, in(ImageState::FilteredShown)), 0);
    EXPECT_EQ(commandForKey(key::kLeft, KeyEdge::Press, live), IDM_LIVELEFT);
    EXPECT_EQ(commandForKey(key::kLeft, KeyEdge::Release, live), 0);
    EXPECT_EQ(commandForKey(key::kDown, KeyEdge::Release, placing), IDM_NUDGEDOWN);
    EXPECT_EQ(commandForKey(key::kDown, KeyEdge::Press, placing), 0);
    EXPECT_EQ(commandForKey(key::kOemPlus, KeyEdge::Press, live), IDM_LIVELARGER);
    EXPECT_EQ(commandForKey(key::kSubtract, KeyEdge::Press, live), IDM_LIVESMALLER);
    // Page Up and Page Down step through a stack only.
    CommandContext stack = in(ImageState::SpectrumShown);
    stack.stack = true;
    EXPECT_EQ(commandForKey(key::kPageDown, KeyEdge::Press, stack), IDM_NEXTIMAGE);
    EXPECT_EQ(commandForKey(key::kPageUp, KeyEdge::Press, stack), IDM_PREVIMAGE);
    EXPECT_EQ(commandForKey(key::kPageUp, KeyEdge::Press, in(ImageState::SpectrumShown)), 0);
    // Back to spectrum needs a filtered image whose spectrum can come back.
    CommandContext back = in(ImageState::FilteredShown);
    EXPECT_EQ(commandForKey('B', KeyEdge::Press, back), 0);
    back.canGoBack = true;
    EXPECT_EQ(commandForKey('B', KeyEdge::Press, back), IDM_BACKTOSPECTRUM);
}

TEST(KeyTable, IconBarCommandsApplyWhereTheirButtonsAreEnabled) {
    const std::pair<int, int> commands[] = {
        {IDM_OPEN, IDB_OPEN},      {IDM_FFTMODE, IDB_MODE},    {IDM_FFT, IDB_FFT},
        {IDM_FILTER, IDB_MASK},    {IDM_INVERSE, IDB_FFT_1},   {IDM_COPY, IDB_COPY},
        {IDM_SAVEBMP, IDB_SAVEAS}, {IDM_SAVEFILE, IDB_SAVEGR}, {IDM_PROCESS, IDB_GAMMA}};
    for (const auto& [command, button] : commands) {
        const CommandRule* rule = ruleOf(command);
        ASSERT_NE(rule, nullptr) << command;
        for (int s = 0; s < 4; ++s)
            EXPECT_EQ(holds(rule->when, in(static_cast<ImageState>(s))),
                      buttonEnabledIn(static_cast<ImageState>(s), button))
                << "command " << command << " state " << s;
    }
}

TEST(ContextMenu, EveryEntryHasItsTextsAndNamesTheKeyThatRunsIt) {
    std::set<int> shown;
    for (int command : contextMenuLayout()) {
        if (command == 0 || command == kBinningSubmenu) continue;
        EXPECT_TRUE(shown.insert(command).second) << "listed twice: " << command;
        const CommandRule* rule = ruleOf(command);
        ASSERT_NE(rule, nullptr) << command;
        EXPECT_STRNE(rule->text.english, "");
        EXPECT_STRNE(rule->text.japanese, "");
        // The key after the tab is the key the table binds to the command.
        int bound = 0;
        for (const auto& b : keyBindings())
            if (b.command == command && b.edge == KeyEdge::Press) ++bound;
        if (rule->keyName == nullptr) {
            EXPECT_EQ(bound, 0) << "a key runs " << command << " but the menu does not name it";
            continue;
        }
        EXPECT_GE(bound, 1) << "the menu names " << rule->keyName << " but no key runs it";
        const std::string name = rule->keyName;
        const std::map<std::string, int> named = {{"Backspace", key::kBack},
                                                  {"Page Up", key::kPageUp},
                                                  {"Page Down", key::kPageDown},
                                                  {"Esc", key::kEscape}};
        const int code = name.size() == 1 ? name[0] : named.count(name) ? named.at(name) : -1;
        bool runs = false;
        for (const auto& b : keyBindings())
            runs = runs || (b.command == command && b.key == code && b.edge == KeyEdge::Press);
        EXPECT_TRUE(runs) << name << " does not run " << command;
        core::setJapaneseTexts(false);
        EXPECT_EQ(menuText(command), std::string(rule->text.english) + "\t" + name);
        core::setJapaneseTexts(true);
        EXPECT_EQ(menuText(command), std::string(rule->text.japanese) + "\t" + name);
        core::setJapaneseTexts(false);
    }
    // The lattice tools, the frame choices, Live FFT and the new commands are all there.
    for (int command : {IDM_FINDSPOTS, IDM_LATTICEFILTER, IDM_SYMMETRIC, IDM_REMOVEDPART,
                        IDM_RADIAL, IDM_CALIBRATION, IDM_WINDOWED, IDM_WHOLEFRAME, IDM_LIVEFFT,
                        IDM_BACKTOSPECTRUM, IDM_REMOVECIRCLE})
        EXPECT_EQ(shown.count(command), 1u) << command;
}

}  // namespace
}  // namespace voralin
