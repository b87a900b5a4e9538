// The installer program: one state for the process, shared by the wizard pages, the copying
// steps, the shortcuts and the uninstaller. Everything is in the ANSI code page.
#pragma once

#include <windows.h>

#include <string>

#include "install/rules.h"
#include "resources/install/install_ids.h"

namespace install {

struct Installer {
    HINSTANCE instance = nullptr;
    bool japanese = false;  // ANSI code page 932
    bool dbcs = false;      // the ANSI code page has double-byte characters (932, 936, 949, 950)
    int osCode = 0;
    Description description;
    std::string title, folder;
    bool resident = false;
    std::string installDir;   // always ends in "\"
    std::string previousDir;  // an earlier installation, or empty
    bool upgrade = false;
    bool wantStartMenu = false, wantDesktop = false;
    bool installed = false;
    std::string openAfter;
    std::string sourceDir;        // the installer's folder, with "\"
    std::string installerName;    // the installer's own file name
    std::string descriptionFile;  // full path of the description in use
    bool languageFile = false;    // the description is installE.INF / installJ.INF
    bool uninstalled = false;
    bool copyingFailed = false;  // a step of the copying page failed
};

// The ANSI form of a wide text, or empty when a character of it has none in the code page.
std::string ansiOf(const std::wstring& text);
// The first character of `text` that the ANSI code page cannot hold, in UTF-8 (empty if none).
std::string firstForeignCharacter(const std::wstring& text);
// Shows texts::foreignCharacter for it (wide message box, the character as it is).
void foreignCharacterMessage(HWND owner, const std::string& characterUtf8);

// Message boxes in the ANSI code page; owner may be null.
int message(HWND owner, const std::string& text, const std::string& caption, UINT style);
int error(HWND owner, const std::string& text);

// Folder rules: one level, and with its parents; false after the message was shown.
bool createFolder(HWND owner, const std::string& path, bool dbcs);
bool createFolderWithParents(HWND owner, const std::string& path, bool dbcs);
unsigned freeMegabytes(const Installer& state);

// Copies one file from sourceDir (the current directory) into installDir; reports and skips;
// false when the file was not installed (an existing file kept on No counts as installed).
bool copyOne(HWND page, const Installer& state, const std::string& source,
             const std::string& destination);

// The wizard; returns when the sheet closes.
void runWizard(Installer& state);

// Shortcuts of one place; false when one of them could not be made (or removed).
bool makeShortcuts(HWND owner, const Installer& state, Place place);
bool removeShortcuts(const Installer& state, Place place);

// The shell folder of a place with "\" (empty when it cannot be read).
std::string shellFolder(Place place);

// Uninstallation: the request (from the installation folder) and the run (from the copy).
int requestUninstall(Installer& state, const std::string& installerPath);
int runUninstall(Installer& state, const std::string& runningCopy);

// The description beside `installerPath`: located, loaded and checked; false after its message.
bool loadDescription(Installer& state, const std::string& installerPath);

// Writes the entry of the system's list of programs when the description names an uninstaller
// and its copy is in place; false after its message when that failed.
bool registerUninstall(HWND owner, const Installer& state);

// When elevated, gives the installation folder its own access list (installFolderAccess);
// false when that failed.
bool protectInstallFolder(const Installer& state);

}  // namespace install
