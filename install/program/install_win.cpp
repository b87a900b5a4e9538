// install.exe: start-up, the description, the earlier-installation search and the dispatch
// between the wizard, the uninstall request and the uninstall run.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/localized.h"
#include "install/program/installer.h"
#include "install/texts.h"

namespace install {

namespace {

const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string toAnsi(const char* utf8) {
    const int wide = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (wide <= 0) return utf8;
    std::wstring w(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, w.data(), wide);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return utf8;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, w.c_str(), -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes - 1));
    return out;
}

std::string readValue(HKEY root, const char* path, const char* name, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, access, &key) != ERROR_SUCCESS) return {};
    char value[256] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    const LONG rc =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? std::string(value) : std::string();
}

int probeOsCode() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        char value[256] = {};
        DWORD size = sizeof value - 1;
        const LONG rc = RegQueryValueExA(key, "CurrentVersion", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        if (rc == ERROR_SUCCESS) return osCodeFromVersion(value);
    }
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        char value[256] = {};
        DWORD size = sizeof value - 1;
        const LONG rc = RegQueryValueExA(key, "ProductName", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? osCodeFromProductName(value) : 0;
    }
    return 0;
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The folder of an earlier installation of the same product among the Uninstall entries.
std::string earlierInstallation(const Installer& state) {
    if (state.description.files.empty()) return {};
    const std::string marker =
        lastComponent(state.description.files[0].destination, state.japanese);
    HKEY list = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_ENUMERATE_SUB_KEYS, &list) !=
        ERROR_SUCCESS)
        return {};
    std::string found;
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        if (RegEnumKeyA(list, index, name, sizeof name) != ERROR_SUCCESS) break;
        const std::string uninstall = readValue(list, name, "UninstallString", KEY_ALL_ACCESS);
        if (!qualifiesAsInstaller(uninstall)) continue;
        const std::string folder = uninstallFolder(uninstall, state.japanese);
        if (!folder.empty() && fileExists(folder + marker)) {
            found = folder;
            break;
        }
    }
    RegCloseKey(list);
    return found;
}

std::string windowsDirectory() {
    char dir[MAX_PATH] = {};
    GetWindowsDirectoryA(dir, MAX_PATH);
    return dir;
}

std::string systemDirectory() {
    char dir[MAX_PATH] = {};
    GetSystemDirectoryA(dir, MAX_PATH);
    return dir;
}

std::string modulePath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

}  // namespace

int message(HWND owner, const std::string& text, const std::string& caption, UINT style) {
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

int error(HWND owner, const std::string& text) {
    return message(owner, text, texts::error(), MB_ICONERROR);
}

bool loadDescription(Installer& state, const std::string& installerPath) {
    state.sourceDir = folderOf(installerPath, state.japanese);
    state.installerName = lastComponent(installerPath, state.japanese);
    state.descriptionFile = descriptionPath(installerPath);
    state.languageFile = false;
    if (!fileExists(state.descriptionFile)) {
        state.descriptionFile = languageDescriptionPath(installerPath, state.japanese);
        state.languageFile = true;
    }
    const std::string file = state.descriptionFile;
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &info)) {
        const std::uint64_t bytes =
            (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        const std::string tooLarge = checkDescriptionSize(bytes);
        if (!tooLarge.empty()) {
            error(nullptr, tooLarge);
            return false;
        }
    }
    state.description = readDescription(
        [&file](const std::string& section, const std::string& key, int bufferChars) {
            std::vector<char> value(static_cast<std::size_t>(bufferChars), '\0');
            GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value.data(),
                                     static_cast<DWORD>(bufferChars), file.c_str());
            return std::string(value.data());
        },
        state.japanese);
    const std::string startup =
        state.description.title.empty() || state.description.folder.empty()
            ? std::string()
            : readValue(HKEY_CURRENT_USER, kShellFolders, "Startup", KEY_ALL_ACCESS);
    const std::string failure = checkDescription(state.description, startup, state.japanese);
    if (!failure.empty()) {
        error(nullptr, failure);
        return false;
    }
    state.title = state.description.title;
    state.folder = state.description.folder;
    state.resident = state.description.resident;
    state.previousDir = earlierInstallation(state);
    state.installDir = state.previousDir.empty()
                           ? defaultInstallDir(windowsDirectory(), state.folder)
                           : state.previousDir;
    return true;
}

void registerUninstall(const Installer& state) {
    if (state.description.uninstaller.empty()) return;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, uninstallKeyPath(state.folder).c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (const auto& value : uninstallValues(state.description, state.installDir))
        RegSetValueExA(key, value.name, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.data.c_str()),
                       static_cast<DWORD>(value.data.size() + 1));
    RegCloseKey(key);
}

namespace {

// After the sheet: the description under its own name, the closing message, the installer's
// copies removed from the destination, the document to open.
void finishInstallation(Installer& state, const std::string& installerPath) {
    if (!state.installed) {
        message(nullptr, texts::interrupted(), state.title, MB_ICONINFORMATION);
        return;
    }
    if (state.languageFile) {
        const std::string own =
            state.installDir + lastComponent(descriptionPath(installerPath), state.japanese);
        DeleteFileA(own.c_str());
        const std::string copied =
            state.installDir + lastComponent(state.descriptionFile, state.japanese);
        MoveFileA(copied.c_str(), own.c_str());
    }
    message(nullptr, texts::completed(), state.title, MB_ICONINFORMATION);
    DeleteFileA((state.installDir + "install.exe").c_str());
    DeleteFileA((state.installDir + "install.inf").c_str());
    if (!state.openAfter.empty())
        ShellExecuteA(nullptr, "open", state.openAfter.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

int run(HINSTANCE instance, const char* commandLine) {
    if (LOBYTE(LOWORD(GetVersion())) < 4) {
        message(nullptr, texts::windows3(), "Error", MB_ICONINFORMATION);
        return 1;
    }
    Installer state;
    state.instance = instance;
    state.japanese = GetACP() == 932;
    core::setJapaneseTexts(state.japanese);
    setTextEncoder(toAnsi);
    state.osCode = probeOsCode();

    std::string requester;
    const Mode mode = commandMode(commandLine ? commandLine : "", &requester);
    const std::string installerPath = mode == Mode::Run ? requester : modulePath();
    if (mode == Mode::Run) {
        // Never let a stray or forged run empty a drive root or the system's own folders.
        const std::string folder = folderOf(installerPath, state.japanese);
        const bool described = fileExists(descriptionPath(installerPath)) ||
                               fileExists(languageDescriptionPath(installerPath, state.japanese));
        if (folder.empty() || unsafeUninstallFolder(folder, windowsDirectory(), systemDirectory(),
                                                    described, state.japanese)) {
            error(nullptr, texts::notAnInstallation(folder.empty() ? installerPath : folder));
            return 1;
        }
    }
    if (!loadDescription(state, installerPath)) return 1;

    switch (mode) {
        case Mode::Request:
            return requestUninstall(state, installerPath);
        case Mode::Run:
            return runUninstall(state, modulePath());
        case Mode::Install:
            break;
    }
    SetCurrentDirectoryA(state.sourceDir.c_str());
    runWizard(state);
    finishInstallation(state, installerPath);
    return 0;
}

}  // namespace
}  // namespace install

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return install::run(instance, commandLine);
}
