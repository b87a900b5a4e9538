// install.exe: start-up, the description, the earlier-installation search and the dispatch
// between the wizard, the uninstall request and the uninstall run.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/localized.h"
#include "frame/support/callback_guard.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"
#include "install/program/installer.h"
#include "install/texts.h"

namespace install {

namespace {

const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string toAnsi(const char* utf8) {
    const std::wstring w = frame::wideText(utf8);
    if (w.empty()) return utf8;
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

// A junction, a symbolic link or a mount point (with or without its final "\").
bool isLink(std::string path) {
    if (path.size() > 3 && path.back() == '\\') path.pop_back();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The folder of an earlier installation of the same product among the Uninstall entries.
std::string earlierInstallation(const Installer& state) {
    if (state.description.files.empty()) return {};
    const std::string marker = lastComponent(state.description.files[0].destination, state.dbcs);
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
        const std::string folder = uninstallFolder(uninstall, state.dbcs);
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

std::wstring modulePathWide() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::string modulePath() {
    return ansiOf(modulePathWide());
}

bool systemLeadByte(unsigned char c) {
    return IsDBCSLeadByteEx(CP_ACP, c) != 0;
}

// A failure that reached one of the installer's windows: one error box, no owner.
void showFailure(const std::string& utf8) {
    MessageBoxW(nullptr, frame::wideText(utf8).c_str(), frame::wideText(texts::error()).c_str(),
                MB_SYSTEMMODAL | MB_ICONERROR);
}

// Whether the Uninstall entry named after the folder may be written by this installation: none
// is there, or it records an earlier installation of this very product (its folder keeps the
// uninstaller's description with the same title).
bool entryIsOursOrFree(const Installer& state) {
    if (state.description.uninstaller.empty()) return true;
    const std::string key = uninstallKeyPath(state.folder);
    HKEY open = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &open) != ERROR_SUCCESS)
        return true;
    char location[MAX_PATH] = {};
    DWORD size = sizeof location - 1;
    const LONG rc = RegQueryValueExA(open, "InstallLocation", nullptr, nullptr,
                                     reinterpret_cast<BYTE*>(location), &size);
    RegCloseKey(open);
    if (rc != ERROR_SUCCESS || !location[0]) return false;
    for (const auto& file :
         uninstallerDescriptions(location, state.description.uninstaller, state.dbcs)) {
        if (!fileExists(file)) continue;
        char title[100] = {};
        GetPrivateProfileStringA("Install", "Title", "", title, sizeof title, file.c_str());
        if (state.description.title == title) return true;
    }
    return false;
}

}  // namespace

std::string ansiOf(const std::wstring& text) {
    BOOL lost = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0,
                                      nullptr, &lost);
    if (n <= 0 || lost) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, out.data(), n, nullptr,
                        nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::string firstForeignCharacter(const std::wstring& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        // A character outside the basic plane comes as two halves, one character.
        const std::size_t length =
            (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
        const std::wstring one = text.substr(i, length);
        if (ansiOf(one).empty()) return frame::utf8Text(one);
        i += length - 1;
    }
    return {};
}

void foreignCharacterMessage(HWND owner, const std::string& characterUtf8) {
    MessageBoxW(owner, frame::wideText(texts::foreignCharacter(characterUtf8)).c_str(),
                frame::wideText(core::text(core::Localized{"Error", "エラー"})).c_str(), MB_ICONERROR);
}

int message(HWND owner, const std::string& text, const std::string& caption, UINT style) {
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

int error(HWND owner, const std::string& text) {
    return message(owner, text, texts::error(), MB_ICONERROR);
}

bool loadDescription(Installer& state, const std::string& installerPath) {
    state.sourceDir = folderOf(installerPath, state.dbcs);
    state.installerName = lastComponent(installerPath, state.dbcs);
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
        state.dbcs);
    const std::string startup =
        state.description.title.empty() || state.description.folder.empty()
            ? std::string()
            : readValue(HKEY_CURRENT_USER, kShellFolders, "Startup", KEY_ALL_ACCESS);
    const std::string failure = checkDescription(state.description, startup, state.dbcs);
    if (!failure.empty()) {
        error(nullptr, failure);
        return false;
    }
    state.title = state.description.title;
    state.folder = state.description.folder;
    state.resident = state.description.resident;
    if (!entryIsOursOrFree(state)) {
        error(nullptr, texts::entryTaken(uninstallKeyPath(state.folder)));
        return false;
    }
    state.previousDir = earlierInstallation(state);
    state.installDir = state.previousDir.empty()
                           ? defaultInstallDir(windowsDirectory(), state.folder)
                           : state.previousDir;
    return true;
}

bool registerUninstall(HWND owner, const Installer& state) {
    if (state.description.uninstaller.empty()) return true;
    // An entry whose uninstaller is missing would offer a removal that cannot run; the failed
    // copy has been reported.
    if (!fileExists(state.installDir + state.description.uninstaller)) return false;
    HKEY key = nullptr;
    bool ok = RegCreateKeyExA(HKEY_LOCAL_MACHINE, uninstallKeyPath(state.folder).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == ERROR_SUCCESS;
    if (ok) {
        for (const auto& value : uninstallValues(state.description, state.installDir))
            ok = RegSetValueExA(key, value.name, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.data.c_str()),
                                static_cast<DWORD>(value.data.size() + 1)) == ERROR_SUCCESS &&
                 ok;
        RegCloseKey(key);
    }
    if (!ok) error(owner, texts::registerFailed());
    return ok;
}

namespace {

// After the sheet: the description under its own name, the closing message, the installer's
// copies removed from the destination, the document to open.
// Returns the exit code: 0 only for an installation that went through.
int finishInstallation(Installer& state, const std::string& installerPath) {
    if (!state.installed) {
        message(nullptr, texts::interrupted(), state.title, MB_ICONINFORMATION);
        return 1;
    }
    bool ok = !state.copyingFailed;
    if (state.languageFile) {
        const std::string own =
            state.installDir + lastComponent(descriptionPath(installerPath), state.dbcs);
        DeleteFileA(own.c_str());
        const std::string copied =
            state.installDir + lastComponent(state.descriptionFile, state.dbcs);
        if (!MoveFileA(copied.c_str(), own.c_str())) {
            error(nullptr, texts::renameFailed(copied));
            ok = false;
        }
    }
    message(nullptr, ok ? texts::completed() : texts::notCompleted(), state.title,
            ok ? MB_ICONINFORMATION : MB_ICONERROR);
    DeleteFileA((state.installDir + "install.exe").c_str());
    DeleteFileA((state.installDir + "install.inf").c_str());
    // Open names a file the description installs, relative to the installation folder.
    if (ok && !state.openAfter.empty())
        ShellExecuteA(nullptr, "open", (state.installDir + state.openAfter).c_str(), nullptr,
                      state.installDir.c_str(), SW_SHOWNORMAL);
    return ok ? 0 : 1;
}

int run(HINSTANCE instance, const char* commandLine) {
    if (LOBYTE(LOWORD(GetVersion())) < 4) {
        message(nullptr, texts::windows3(), "Error", MB_ICONINFORMATION);
        return 1;
    }
    Installer state;
    state.instance = instance;
    state.japanese = GetACP() == 932;
    CPINFO codePage{};
    state.dbcs = GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize > 1;
    setLeadByteRule(systemLeadByte);
    core::setJapaneseTexts(state.japanese);
    setTextEncoder(toAnsi);
    frame::setFailureReporter(showFailure);
    state.osCode = probeOsCode();

    std::string requester;
    const Mode mode = commandMode(commandLine ? commandLine : "", &requester);
    if (mode != Mode::Run) {
        // The ANSI functions cannot reach a distribution folder outside the code page.
        const std::string foreign = firstForeignCharacter(modulePathWide());
        if (!foreign.empty()) {
            foreignCharacterMessage(nullptr, foreign);
            return 1;
        }
    }
    const std::string installerPath = mode == Mode::Run ? requester : modulePath();
    if (mode == Mode::Run) {
        // Never let a stray or forged run empty a drive root or the system's own folders.
        const std::string folder = folderOf(installerPath, state.dbcs);
        const bool described = fileExists(descriptionPath(installerPath)) ||
                               fileExists(languageDescriptionPath(installerPath, state.japanese));
        if (folder.empty() ||
            unsafeUninstallFolder(folder, windowsDirectory(), systemDirectory(), described,
                                  state.dbcs) ||
            isLink(folder)) {
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
    return finishInstallation(state, installerPath);
}

}  // namespace
}  // namespace install

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    // First of all: the installer runs elevated from a folder anyone may write to (a download
    // folder), so no library is ever looked for beside it or in the current folder. Looked up,
    // since systems without the update have no such function.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
        if (auto set = reinterpret_cast<SetDirectories>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories"))))
            set(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    SetDllDirectoryW(L"");
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    // A failure outside the windows (loading the description, the closing steps) is reported as
    // one that reaches a window is, and the installer ends failed rather than aborting.
    return frame::guardCallback(1, [&] { return install::run(instance, commandLine); });
}
