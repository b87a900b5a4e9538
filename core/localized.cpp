#include "core/localized.h"

#include <cstdlib>
#include <cstring>

namespace core {

namespace {
bool g_japanese = false;
}

void setJapaneseTexts(bool japanese) { g_japanese = japanese; }
bool japaneseTexts() { return g_japanese; }

const char* text(const Localized& texts) {
    return g_japanese && texts.japanese ? texts.japanese : texts.english;
}

bool environmentAsksJapanese() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) return std::strncmp(value, "ja", 2) == 0;
    }
    return false;
}

}  // namespace core
