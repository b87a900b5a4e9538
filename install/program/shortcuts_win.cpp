// Shortcuts in the start menu, on the desktop and in the start-up folder, written and removed
// through the shell's link object.
#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>
#include <shobjidl.h>

#include "install/program/installer.h"

namespace install {

std::string shellFolder(Place place) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER,
                      L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    wchar_t folder[260] = {};
    DWORD size = sizeof folder - sizeof(wchar_t);
    wchar_t name[32] = {};
    MultiByteToWideChar(CP_ACP, 0, placeValueName(place), -1, name, 32);
    const LONG rc =
        RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
    // Without the value there is no real folder of that place: nothing is written or deleted.
    if (rc != ERROR_SUCCESS || folder[0] == L'\0') return {};
    // A folder outside the system's code page cannot be named to the ANSI functions: no
    // shortcut rather than one written to a "?" path.
    const std::string ansi = ansiOf(folder);
    if (ansi.empty()) return {};
    return ansi + "\\";
}

namespace {

std::string workingFolder(const Installer& state) {
    const std::string& wanted = state.description.workingFolder;
    if (!wanted.empty()) {
        char previous[255] = {};
        GetCurrentDirectoryA(sizeof previous, previous);
        const bool usable = SetCurrentDirectoryA(wanted.c_str()) != 0;
        SetCurrentDirectoryA(previous);
        if (usable) return wanted;
    }
    return defaultWorkingFolder(state.installDir, state.dbcs);
}

bool saveLink(const Installer& state, const LinkItem& item, const std::string& file, bool first) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return false;
    bool saved = false;
    if (!item.arguments.empty()) link->SetArguments(item.arguments.c_str());
    link->SetPath(item.target.c_str());
    link->SetDescription(item.caption.c_str());
    if (first && !state.resident) link->SetWorkingDirectory(workingFolder(state).c_str());
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        wchar_t wide[260] = {};
        if (MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, 260) > 0)
            saved = SUCCEEDED(persist->Save(wide, TRUE));
        persist->Release();
    }
    link->Release();
    return saved;
}

}  // namespace

bool makeShortcuts(HWND owner, const Installer& state, Place place) {
    std::string folder = shellFolder(place);
    if (folder.empty()) return false;
    if (!shortcutsStayInside(state.description, folder, state.installDir, place, state.dbcs))
        return false;
    bool grouped = false;
    const auto items = linkItems(state.description, state.installDir, place, state.dbcs, &grouped);
    if (grouped && !createFolder(owner, folder + state.title + "\\", state.dbcs)) return false;
    folder.pop_back();
    CoInitialize(nullptr);
    bool first = true, ok = true;
    for (const auto& item : items) {
        ok = saveLink(state, item, shortcutPath(folder, state.title, item.caption, grouped),
                      first) &&
             ok;
        first = false;
    }
    CoUninitialize();
    return ok;
}

bool removeShortcuts(const Installer& state, Place place) {
    const std::string folder = shellFolder(place);
    if (folder.empty()) return true;  // no such place: nothing of ours is there
    // A title or caption that reaches outside the place is never acted on.
    if (!shortcutsStayInside(state.description, folder, state.installDir, place, state.dbcs))
        return false;
    // Asked afterwards: a deletion the system could not carry out is not always reported.
    auto gone = [](const std::string& path) {
        return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    };
    if (place == Place::Menu && !state.description.groups.empty()) {
        const std::string group = folder + state.title;
        const DWORD attributes = GetFileAttributesA(group.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return true;
        // A group folder that is a link: the link goes, never the files where it points.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveDirectoryA(group.c_str()) != 0;
        bool ok = true;
        WIN32_FIND_DATAA found{};
        HANDLE search = FindFirstFileA((group + "\\*.*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
                const std::string path = group + "\\" + found.cFileName;
                DeleteFileA(path.c_str());
                ok = gone(path) && ok;
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        // A group folder holding a sub-folder stays, as it always has.
        RemoveDirectoryA(group.c_str());
        return ok;
    }
    const std::string link = folder + state.title + ".lnk";
    DeleteFileA(link.c_str());
    return gone(link);
}

}  // namespace install
