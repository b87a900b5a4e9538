// Uninstallation: the request copies the installer into the system directory and starts the
// copy; the copy removes the installation and has itself deleted at the next restart.
#include <windows.h>

#include <cstring>
#include <memory>
#include <vector>

#include "frame/support/callback_guard.h"
#include "frame/support/dialog_support.h"
#include "frame/support/window_support.h"
#include "install/program/installer.h"
#include "install/removal.h"
#include "install/texts.h"

namespace install {

namespace {

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

// True when the key is gone afterwards (or was never there).
bool deleteKeyTree(HKEY parent, const std::string& path) {
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
    const LONG rc = RegDeleteKeyA(parent, path.c_str());
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

// The removal's view of the system: the files, the registry and the questions, owned by the
// uninstall dialog.
class Win32Removal : public RemovalPort {
  public:
    Win32Removal(HWND dialog, const Installer& state) : dialog_(dialog), state_(state) {}

    bool exists(const std::string& path) override {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    bool isLink(const std::string& path) override {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    bool deleteFile(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
    std::vector<FolderEntry> list(const std::string& folder) override {
        std::vector<FolderEntry> entries;
        WIN32_FIND_DATAA found{};
        HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return entries;
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                               (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return entries;
    }
    bool removeFolder(const std::string& path) override {
        return RemoveDirectoryA(path.c_str()) != 0;
    }
    bool deleteKeyTree(RegRoot root, const std::string& subKey) override {
        return install::deleteKeyTree(rootKey(root), subKey);
    }
    bool deleteUninstallEntry() override {
        // Only the entry that records this very folder: another product's entry of the same
        // name is not ours to delete.
        const std::string key = uninstallKeyPath(state_.folder);
        char location[MAX_PATH] = {};
        DWORD size = sizeof location - 1;
        const LONG rc = RegGetValueA(HKEY_LOCAL_MACHINE, key.c_str(), "InstallLocation",
                                     RRF_RT_REG_SZ, nullptr, location, &size);
        if (rc == ERROR_FILE_NOT_FOUND) {
            HKEY open = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &open) != ERROR_SUCCESS)
                return true;  // no entry at all
            RegCloseKey(open);
            return true;  // an entry without a location is not one this installer wrote
        }
        if (rc != ERROR_SUCCESS) return false;
        if (!recordsFolder(location, state_.installDir, state_.dbcs)) return true;
        return install::deleteKeyTree(HKEY_LOCAL_MACHINE, key);
    }
    bool removeShortcuts(Place place) override { return install::removeShortcuts(state_, place); }
    int message(const std::string& text, const std::string& caption, unsigned style) override {
        return install::message(dialog_, text, caption, style);
    }

  private:
    HWND dialog_;
    const Installer& state_;
};

struct RunState {
    Installer* installer = nullptr;
    HWND addRemove = nullptr;  // the add/remove window to close after success
    HWND rundll = nullptr;
    RemovalPlan plan;
    std::unique_ptr<Win32Removal> port;
    StepRunner runner;
};

void removalFinished(HWND dialog, Installer& state, bool ok) {
    state.uninstalled = ok;
    // Finish first: whatever happens to the line below, the dialog can be closed.
    HWND finish = GetDlgItem(dialog, IDCANCEL);
    EnableWindow(finish, TRUE);
    SetFocus(finish);
    const std::string line =
        ok ? texts::uninstalled(state.title) : texts::someFileIn(state.installDir);
    SetDlgItemTextA(dialog, IDC_UNINSTALLING, line.c_str());
    SetForegroundWindow(dialog);
    if (!IsWindowEnabled(dialog))
        SetWindowPos(dialog, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

// Prepares the removal and posts its first step. A failure while preparing it becomes the run's
// one step, so it is reported and the dialog ends with the "some file" line, never stuck.
void startRemoval(HWND dialog, RunState& run) {
    run.runner = StepRunner::prepared(
        [dialog, &run] {
            Installer& state = *run.installer;
            run.plan.description = &state.description;
            run.plan.title = state.title;
            run.plan.installDir = state.installDir;
            run.plan.descriptionName = lastComponent(state.descriptionFile, state.dbcs);
            run.plan.installerName = state.installerName;
            run.plan.dbcs = state.dbcs;
            run.port = std::make_unique<Win32Removal>(dialog, state);
            return removalSteps(run.plan, *run.port);
        },
        frame::reportCallbackFailure);
    PostMessageA(dialog, WM_COMMAND, IDM_NEXTSTEP, 0);
}

// One removal step per posted message; the result once the runner is through.
void nextStep(HWND dialog, RunState& run) {
    if (run.runner.runNext()) {
        PostMessageA(dialog, WM_COMMAND, IDM_NEXTSTEP, 0);
        return;
    }
    removalFinished(dialog, *run.installer, run.runner.succeeded());
}

INT_PTR uninstallHandler(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    RunState* run = frame::dialogState<RunState>(dialog, message, lParam);
    if (!run) return FALSE;  // messages before WM_INITDIALOG
    switch (message) {
        case WM_INITDIALOG: {
            frame::centreOnScreen(dialog);
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
            startRemoval(dialog, *run);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDM_NEXTSTEP) {
                nextStep(dialog, *run);
                return TRUE;
            }
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
    if (WinExec(command.c_str(), SW_SHOWNORMAL) < 32) {
        error(nullptr, texts::execFailed());
        return 1;
    }
    return 0;
}

int runUninstall(Installer& state, const std::string& runningCopy) {
    state.installDir = state.sourceDir;
    RunState run;
    run.installer = &state;
    // A dialog that cannot be shown removes nothing, and says so.
    frame::runDialog<uninstallHandler>(
        state.instance, nullptr, MAKEINTRESOURCEA(state.japanese ? IDD_UNINSTALL_J : IDD_UNINSTALL),
        run, texts::dialogFailed().c_str());
    deleteAtRestart(runningCopy);
    if (state.uninstalled) {
        if (state.osCode == 4) {
            if (run.addRemove) PostMessageA(run.addRemove, WM_CLOSE, 0, 0);
        } else if (run.rundll && run.addRemove && run.addRemove != run.rundll) {
            PostMessageA(run.addRemove, WM_CLOSE, 0, 0);
        }
    }
    return state.uninstalled ? 0 : 1;
}

}  // namespace install
