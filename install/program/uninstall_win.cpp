// Uninstallation: the request copies the installer into the system directory and starts the
// copy; the copy removes the installation and has itself deleted at the next restart.
#include <windows.h>

#include <cstring>
#include <vector>

#include "install/program/installer.h"
#include "install/texts.h"

namespace install {

namespace {

enum class Tree { Ok, Failed, Cancelled };

struct RunState {
    Installer* installer = nullptr;
    HWND addRemove = nullptr;  // the add/remove window to close after success
    HWND rundll = nullptr;
};

HKEY rootKey(RegRoot root) {
    switch (root) {
        case RegRoot::CurrentUser:
            return HKEY_CURRENT_USER;
        case RegRoot::LocalMachine:
            return HKEY_LOCAL_MACHINE;
        case RegRoot::ClassesRoot:
            return HKEY_CLASSES_ROOT;
        case RegRoot::None:
            break;
    }
    return nullptr;
}

void deleteKeyTree(HKEY parent, const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        std::string last;
        for (DWORD index = 0;;) {
            char name[256] = {};
            if (RegEnumKeyA(key, index, name, sizeof name) != ERROR_SUCCESS) break;
            if (last != name) {
                deleteKeyTree(key, name);
                last = name;
            } else {
                ++index;  // its deletion failed: step over it
            }
        }
        RegCloseKey(key);
    }
    RegDeleteKeyA(parent, path.c_str());
}

bool deleteOne(HWND dialog, const std::string& path) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    if (DeleteFileA(path.c_str())) return true;
    error(dialog, texts::deleteFailed(path));
    return false;
}

Tree removeTree(HWND dialog, const Installer& state, const std::string& dir) {
    bool ok = true;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((dir + "*.*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = dir + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                const Tree sub = removeTree(dialog, state, path + "\\");
                if (sub == Tree::Cancelled) {
                    FindClose(search);
                    return Tree::Cancelled;
                }
                if (sub == Tree::Failed) ok = false;
            } else if (isHelpIndex(name)) {
                ok = deleteOne(dialog, path) && ok;
            } else {
                const int choice = message(dialog, texts::askDelete(path), state.title,
                                           MB_ICONQUESTION | MB_YESNOCANCEL);
                if (choice == IDCANCEL) {
                    FindClose(search);
                    return Tree::Cancelled;
                }
                if (choice == IDYES) ok = deleteOne(dialog, path) && ok;
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::string folder = dir;
    if (endsWithBackslash(folder, state.japanese)) folder.pop_back();
    if (GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES &&
        !RemoveDirectoryA(folder.c_str())) {
        error(dialog, texts::folderNotDeleted(folder));
        ok = false;
    }
    return ok ? Tree::Ok : Tree::Failed;
}

// The removal in its order; true only when nothing failed.
bool removeInstallation(HWND dialog, Installer& state) {
    bool ok = true;
    for (const auto& value : state.description.regs) {
        const RegEntry entry = parseRegEntry(value);
        // A root or a key the system cannot lose is never deleted, whatever the description says.
        if (protectedRegKey(entry)) {
            error(dialog, texts::abnormalReg());
            continue;
        }
        deleteKeyTree(rootKey(entry.root), entry.subKey);
    }
    const std::string descriptionName = lastComponent(state.descriptionFile, state.japanese);
    for (const auto& target : removalTargets(state.description, state.installDir, descriptionName,
                                             state.installerName, state.japanese)) {
        if (deleteOne(dialog, target.path)) continue;
        ok = false;
        if (target.entryOne) {
            error(dialog, texts::tryAgain(target.path, state.title));
            return false;
        }
    }
    switch (removeTree(dialog, state, state.installDir)) {
        case Tree::Cancelled:
            return false;
        case Tree::Failed:
            ok = false;
            break;
        case Tree::Ok:
            break;
    }
    deleteKeyTree(HKEY_LOCAL_MACHINE, uninstallKeyPath(state.folder));
    removeShortcuts(state, Place::Menu);
    removeShortcuts(state, Place::Desktop);
    removeShortcuts(state, Place::Startup);
    return ok;
}

void centreOnScreen(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
}

void removalFinished(HWND dialog, Installer& state, bool ok) {
    state.uninstalled = ok;
    const std::string line =
        ok ? texts::uninstalled(state.title) : texts::someFileIn(state.installDir);
    SetDlgItemTextA(dialog, IDC_UNINSTALLING, line.c_str());
    HWND finish = GetDlgItem(dialog, IDCANCEL);
    EnableWindow(finish, TRUE);
    SetFocus(finish);
    SetForegroundWindow(dialog);
    if (!IsWindowEnabled(dialog))
        SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

INT_PTR CALLBACK uninstallProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* run = reinterpret_cast<RunState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
            run = reinterpret_cast<RunState*>(lParam);
            centreOnScreen(dialog);
            SetWindowTextA(dialog, texts::uninstallTitle(run->installer->title).c_str());
            if (run->installer->osCode == 4) {
                run->addRemove =
                    FindWindowExA(nullptr, nullptr, "Windows Add/Remove Programs", nullptr);
            } else {
                run->rundll = FindWindowExA(nullptr, nullptr, "RunDLL", nullptr);
                if (run->rundll) run->addRemove = GetLastActivePopup(run->rundll);
            }
            SetTimer(dialog, 1, 300, nullptr);
            return TRUE;
        }
        case WM_TIMER:
            KillTimer(dialog, 1);
            SetForegroundWindow(dialog);
            removalFinished(dialog, *run->installer, removeInstallation(dialog, *run->installer));
            return TRUE;
        case WM_COMMAND:
            // Finish; the close box and Escape count only once the removal is over.
            if (LOWORD(wParam) == IDCANCEL && IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)))
                EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

// The copy in the system directory goes at the next restart.
void deleteAtRestart(const std::string& path) {
    if (MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return;
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string ini = std::string(windows) + "\\WININIT.INI";
    std::vector<char> keys(32 * 1024, '\0');
    GetPrivateProfileStringA("Rename", nullptr, "", keys.data(), static_cast<DWORD>(keys.size()),
                             ini.c_str());
    std::vector<std::pair<std::string, std::string>> existing;
    for (const char* key = keys.data(); *key; key += std::strlen(key) + 1) {
        char value[MAX_PATH] = {};
        GetPrivateProfileStringA("Rename", key, "", value, sizeof value, ini.c_str());
        existing.emplace_back(key, value);
    }
    char shortPath[MAX_PATH] = {};
    if (!GetShortPathNameA(path.c_str(), shortPath, MAX_PATH)) return;
    const auto section = renameSection(existing, shortPath);
    if (!section) return;
    WritePrivateProfileStringA("Rename", nullptr, nullptr, ini.c_str());
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr);
    appendToWininit(ini, *section);
}

}  // namespace

int requestUninstall(Installer& state, const std::string& installerPath) {
    if (message(nullptr, texts::willUninstall(state.title, state.resident), state.title,
                MB_ICONINFORMATION | MB_OKCANCEL) == IDCANCEL)
        return 0;
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    const std::string copy = std::string(system) + "\\" + state.installerName;
    CopyFileA(installerPath.c_str(), copy.c_str(), FALSE);
    SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    SetCurrentDirectoryA(system);
    const std::string command = copy + " x " + installerPath;
    if (WinExec(command.c_str(), SW_SHOWNORMAL) < 32) error(nullptr, texts::execFailed());
    return 0;
}

int runUninstall(Installer& state, const std::string& runningCopy) {
    state.installDir = state.sourceDir;
    RunState run;
    run.installer = &state;
    DialogBoxParamA(state.instance,
                    MAKEINTRESOURCEA(state.japanese ? IDD_UNINSTALL_J : IDD_UNINSTALL), nullptr,
                    uninstallProc, reinterpret_cast<LPARAM>(&run));
    deleteAtRestart(runningCopy);
    if (state.uninstalled) {
        if (state.osCode == 4) {
            if (run.addRemove) PostMessageA(run.addRemove, WM_CLOSE, 0, 0);
        } else if (run.rundll && run.addRemove && run.addRemove != run.rundll) {
            PostMessageA(run.addRemove, WM_CLOSE, 0, 0);
        }
    }
    return 0;
}

}  // namespace install
