// Folder creation, free space and the copying of one file with its overwrite rule.
#include <windows.h>

#include "install/program/installer.h"
#include "install/texts.h"

namespace install {

namespace {

bool lastWrite(const std::string& path, Stamp& stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    FILETIME local{};
    SYSTEMTIME t{};
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToSystemTime(&local, &t))
        return false;
    stamp = {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
    return true;
}

}  // namespace

bool createFolder(HWND owner, const std::string& path, bool dbcs) {
    if (isDriveRoot(path)) return true;
    std::string test = path;
    if (endsWithBackslash(test, dbcs)) test.pop_back();
    const DWORD attributes = GetFileAttributesA(test.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
        error(owner, texts::folderInTheWay(test));
        return false;
    }
    if (!CreateDirectoryA(test.c_str(), nullptr)) {
        error(owner, texts::folderFailed(test));
        return false;
    }
    return true;
}

bool createFolderWithParents(HWND owner, const std::string& path, bool dbcs) {
    for (const auto& folder : foldersToCreate(path, dbcs))
        if (!createFolder(owner, folder, dbcs)) return false;
    return true;
}

unsigned freeMegabytes(const Installer& state) {
    char full[MAX_PATH] = {};
    if (!GetFullPathNameA(state.installDir.c_str(), MAX_PATH, full, nullptr)) return 0;
    const std::string path = full;
    if (!startsWithDrive(path)) return 0;
    const std::string root = path.substr(0, 3);
    bool extended = state.osCode != 0;
    if (!extended) {
        OSVERSIONINFOA version{};
        version.dwOSVersionInfoSize = sizeof version;
        extended = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS &&
                   LOWORD(version.dwBuildNumber) > 1000;
    }
    if (!extended) {
        DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
        if (!GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &freeClusters, &clusters)) return 0;
        return static_cast<DWORD>(sectors * bytes * freeClusters) >> 20;
    }
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    HMODULE kernel = LoadLibraryA((std::string(system) + "\\KERNEL32.DLL").c_str());
    if (!kernel) return 0;
    using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
    auto freeSpaceEx = reinterpret_cast<FreeSpaceEx>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "GetDiskFreeSpaceExA")));
    ULARGE_INTEGER available{}, total{}, free{};
    unsigned megabytes = 0;
    if (freeSpaceEx && freeSpaceEx(root.c_str(), &available, &total, &free)) {
        const ULONGLONG mb = available.QuadPart / 1024 / 1024;
        megabytes = mb > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<unsigned>(mb);
    }
    FreeLibrary(kernel);
    return megabytes;
}

void copyOne(HWND page, const Installer& state, const std::string& source,
             const std::string& destination) {
    for (const auto& folder : subFoldersOf(state.installDir, destination, state.japanese))
        if (!createFolder(page, folder, state.japanese)) return;
    const std::string target = state.installDir + destination;
    if (CopyFileA(source.c_str(), target.c_str(), TRUE)) {
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        return;
    }
    const DWORD failure = GetLastError();
    if (failure == ERROR_SHARING_VIOLATION) {
        error(page, texts::inUse(target));
        return;
    }
    if (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS) {
        error(page, texts::copyFailed(source));
        return;
    }
    Stamp from, to;
    lastWrite(source, from);
    lastWrite(target, to);
    if (overwriteRule(target, from, to) == Overwrite::Ask &&
        message(page, overwriteQuestion(target, to, source, from, state.japanese),
                texts::confirmation(), MB_ICONQUESTION | MB_YESNO) != IDYES)
        return;
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        error(page, GetLastError() == ERROR_SHARING_VIOLATION ? texts::inUse(target)
                                                              : texts::copyFailed(source));
        return;
    }
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace install
