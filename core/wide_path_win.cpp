#include "core/wide_path.h"

#include <windows.h>

namespace core {

std::wstring widePath(const std::string& path) {
    if (path.empty()) return std::wstring();
    const int length = static_cast<int>(path.size());
    UINT codePage = CP_UTF8;
    int count = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
    if (count <= 0) {
        codePage = CP_ACP;
        count = MultiByteToWideChar(codePage, 0, path.data(), length, nullptr, 0);
        if (count <= 0) return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(codePage, codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0, path.data(),
                        length, wide.data(), count);
    return wide;
}

std::string utf8Path(const wchar_t* path) {
    if (!path || !*path) return std::string();
    const int count = WideCharToMultiByte(CP_UTF8, 0, path, -1, nullptr, 0, nullptr, nullptr);
    if (count <= 1) return std::string();
    std::string out(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path, -1, out.data(), count, nullptr, nullptr);
    out.pop_back();  // the terminating zero
    return out;
}

}  // namespace core
