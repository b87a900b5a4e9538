// Paths between the engines' UTF-8 strings and the wide strings of the Win32 file calls.
//
// The engines and tools carry every path as UTF-8, so a name in any script survives. The Win32
// side converts at the call: widePath for CreateFileW, _wfopen and the like, utf8Path for what
// GetOpenFileNameW or CommandLineToArgvW hand back. A string that is not valid UTF-8 is taken in
// the ANSI code page, which is how the programs' older callers pass their paths.
#pragma once

#if defined(_WIN32)
#include <string>

namespace core {

std::wstring widePath(const std::string& path);
std::string utf8Path(const wchar_t* path);

}  // namespace core
#endif
