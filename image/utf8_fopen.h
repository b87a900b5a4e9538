// fopen by a UTF-8 path (the Windows build opens the wide form, so any file name works). Kept apart
// from file_io.h so that readers compiled as C++17 (the CIF reader with gemmi) can use it.
#pragma once

#include <cstdio>
#include <string>

namespace image {

std::FILE* fopenUtf8(const std::string& path, const char* mode);

}  // namespace image
