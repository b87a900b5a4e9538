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
    if (RegOpenKeyExA(HKEY_CURRENT_USER,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    char folder[260] = {};
    DWORD size = 259;
    const LONG rc = RegQueryValueExA(key, placeValueName(place), nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
    // Without the value there is no real folder of that place: nothing is written or deleted.
    if (rc != ERROR_SUCCESS || folder[0] == '\0') return {};
    return std::string(folder) + "\\";
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
    return defaultWorkingFolder(state.installDir, state.japanese);
}

void saveLink(const Installer& state, const LinkItem& item, const std::string& file, bool first) {
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return;
    if (!item.arguments.empty()) link->SetArguments(item.arguments.c_str());
    link->SetPath(item.target.c_str());
    link->SetDescription(item.caption.c_str());
    if (first && !state.resident) link->SetWorkingDirectory(workingFolder(state).c_str());
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist)))) {
        wchar_t wide[260] = {};
        if (MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, 260) > 0)
            persist->Save(wide, TRUE);
        persist->Release();
    }
    link->Release();
}

}  // namespace

void makeShortcuts(HWND owner, const Installer& state, Place place) {
    std::string folder = shellFolder(place);
    if (folder.empty()) return;
    bool grouped = false;
    const auto items =
        linkItems(state.description, state.installDir, place, state.japanese, &grouped);
    if (grouped && !createFolder(owner, folder + state.title + "\\", state.japanese)) return;
    folder.pop_back();
    CoInitialize(nullptr);
    bool first = true;
    for (const auto& item : items) {
        saveLink(state, item, shortcutPath(folder, state.title, item.caption, grouped), first);
        first = false;
    }
    CoUninitialize();
}

void removeShortcuts(const Installer& state, Place place) {
    const std::string folder = shellFolder(place);
    if (folder.empty()) return;
    if (place == Place::Menu && !state.description.groups.empty()) {
        const std::string group = folder + state.title;
        WIN32_FIND_DATAA found{};
        HANDLE search = FindFirstFileA((group + "\\*.*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA((group + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(group.c_str());
        return;
    }
    DeleteFileA((folder + state.title + ".lnk").c_str());
}

}  // namespace install
