// Texts between the UTF-8 the programs keep (their own texts, the Japanese ones included, and
// every path) and the UTF-16 of the wide Win32 calls. One conversion serves paths and texts alike:
// core::widePath and core::utf8Path; these are its names where the string is a text.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "core/wide_path.h"

namespace frame {

// A text that is not valid UTF-8 is taken in the ANSI code page (texts the installer encoded for
// its ANSI calls).
inline std::wstring wideText(std::string_view utf8) {
    return core::widePath(std::string(utf8));
}

inline std::string utf8Text(const std::wstring& wide) {
    return core::utf8Path(wide.c_str());
}

}  // namespace frame
