// Folder creation, free space and the copying of one file with its overwrite rule.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

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

bool copyOne(HWND page, const Installer& state, const std::string& source,
             const std::string& destination) {
    for (const auto& folder : subFoldersOf(state.installDir, destination, state.dbcs))
        if (!createFolder(page, folder, state.dbcs)) return false;
    const std::string target = state.installDir + destination;
    if (CopyFileA(source.c_str(), target.c_str(), TRUE)) {
        SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
        return true;
    }
    const DWORD failure = GetLastError();
    if (failure == ERROR_SHARING_VIOLATION) {
        error(page, texts::inUse(target));
        return false;
    }
    if (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS) {
        error(page, texts::copyFailed(source));
        return false;
    }
    Stamp from, to;
    lastWrite(source, from);
    lastWrite(target, to);
    if (overwriteRule(target, from, to) == Overwrite::Ask &&
        message(page, overwriteQuestion(target, to, source, from, state.dbcs),
                texts::confirmation(), MB_ICONQUESTION | MB_YESNO) != IDYES)
        return true;  // the user keeps the existing file
    if (!CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        error(page, GetLastError() == ERROR_SHARING_VIOLATION ? texts::inUse(target)
                                                              : texts::copyFailed(source));
        return false;
    }
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    return true;
}

bool protectInstallFolder(const Installer& state) {
    // Only an administrator's installation needs it: the folder would otherwise inherit the
    // drive root's entries, which let every user change what administrators later run.
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                  0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    const BOOL checked = CheckTokenMembership(nullptr, administrators, &member);
    FreeSid(administrators);
    if (!checked || !member) return true;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
            installFolderAccess(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    BOOL present = FALSE, defaulted = FALSE;
    PACL acl = nullptr;
    bool ok = GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present;
    if (ok) {
        std::string folder = state.installDir;
        if (endsWithBackslash(folder, state.dbcs)) folder.pop_back();
        ok = SetNamedSecurityInfoA(folder.data(), SE_FILE_OBJECT,
                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                   nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS;
    }
    LocalFree(descriptor);
    return ok;
}

}  // namespace install
