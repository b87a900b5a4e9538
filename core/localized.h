// Texts that exist in English and Japanese.
//
// The fixed texts of the first release are English only and stay literals where they are used.
// Every text added since is a Localized pair, UTF-8 in both languages, and is picked by the one
// process-wide language choice: the programs set it from their UI language probe at start-up,
// the command-line tools from the locale of the environment (LC_ALL, LC_MESSAGES, LANG).
#pragma once

#include <string>

namespace core {

struct Localized {
    const char* english;   // UTF-8
    const char* japanese;  // UTF-8
};

void setJapaneseTexts(bool japanese);
bool japaneseTexts();

// The text in the chosen language.
const char* text(const Localized& texts);

// True when the environment's locale asks for Japanese (LC_ALL, then LC_MESSAGES, then LANG
// starting with "ja").
bool environmentAsksJapanese();

}  // namespace core
