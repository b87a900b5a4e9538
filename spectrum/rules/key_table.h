// voralin00's keys and its context menu: which command each key runs in which state of the main
// window, and the menu's entries with the key each one names. Portable, so the tests can check
// that no key runs two commands in one state and that every menu text names the key that runs it.
#pragma once

#include <string>
#include <vector>

#include "core/localized.h"
#include "spectrum/rules/window_rules.h"

namespace voralin {

// Key codes as Win32 numbers them (virtual keys; letters are their upper-case characters).
namespace key {
inline constexpr int kBack = 0x08, kEscape = 0x1B, kPageUp = 0x21, kPageDown = 0x22;
inline constexpr int kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28;
inline constexpr int kAdd = 0x6B, kSubtract = 0x6D, kOemPlus = 0xBB, kOemMinus = 0xBD;
}  // namespace key

// What the keys and the menu depend on.
struct CommandContext {
    ImageState state = ImageState::NoImage;
    bool live = false;       // the Live FFT box is over the picture
    bool placing = false;    // mouse presses on the spectrum start circles
    bool stack = false;      // the open file holds more than one image
    bool canGoBack = false;  // the filtered image's spectrum can be computed again
};

enum class Need : unsigned char { Any, On, Off };

// The states in which a command applies: a set of window states and what each flag must be.
struct When {
    unsigned states = 0;  // bit 1 << ImageState
    Need live = Need::Any;
    Need placing = Need::Any;
    Need stack = Need::Any;
    Need back = Need::Any;
};
bool holds(const When& when, const CommandContext& context);

// When a key acts: on its press, or (the arrow keys that nudge the cursor while circles are
// placed) on its release.
enum class KeyEdge : unsigned char { Press, Release };

struct KeyBinding {
    int key;
    int command;
    KeyEdge edge = KeyEdge::Press;
};

// A command the keys or the context menu run: when it applies, its menu text (empty for keys
// that no menu shows) and the name of its key as the menu shows it after a tab.
struct CommandRule {
    int command;
    When when;
    core::Localized text;
    const char* keyName;  // nullptr when no key runs it
};

const std::vector<CommandRule>& commandRules();
const std::vector<KeyBinding>& keyBindings();
// The rule of `command`, or nullptr.
const CommandRule* ruleOf(int command);

// The command `key` runs in `context` on `edge`, or 0. A command that does not apply then is
// not run: the key does nothing.
int commandForKey(int key, KeyEdge edge, const CommandContext& context);

// Every key that runs two commands in one state, as "key 0x46: commands 0x3c0 and 0x500" lines
// (a key's press and release count as one key).
std::vector<std::string> keyConflicts(const std::vector<KeyBinding>& bindings,
                                      const std::vector<CommandRule>& rules);

// The context menu, top to bottom: a command id, 0 for a separator, or kBinningSubmenu.
inline constexpr int kBinningSubmenu = -1;
const std::vector<int>& contextMenuLayout();
// "Text\tKey" for a command of the menu, in the chosen language.
std::string menuText(int command);

}  // namespace voralin
