// The installer's rules that need no window: the description and its naming, the destination
// checks, the overwrite rule, the shortcut items, the registry entries, the order of removal and
// the WININIT.INI request. Paths are Windows paths in the ANSI code page (backslashes, a drive
// letter); when `dbcs` is set, the lead bytes of the installed lead-byte rule are honoured (code
// page 932's unless another is set; the program sets the system code page's), so a "\" or ","
// that is the second byte of a double-byte character is never taken for a separator.
//
// Everything a description names is checked here before any file or key is touched: titles,
// captions and the folder are plain names, sources and destinations stay inside their folders,
// and paths are compared after normalising them here, without the system's help.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace install {

// Which bytes open a double-byte character in the code page of the paths.
using LeadByteRule = bool (*)(unsigned char c);
bool leadByte932(unsigned char c);
// Installs the rule (nullptr: code page 932's); returns the previous one.
LeadByteRule setLeadByteRule(LeadByteRule rule);

bool isLeadByte(unsigned char c, bool dbcs);
// Whether the last byte is a real "\" (not the second byte of a double-byte character).
bool endsWithBackslash(const std::string& path, bool dbcs);
std::string withBackslash(std::string path, bool dbcs);
// Upper case of the single-byte letters; double-byte characters stay as they are.
std::string upper(const std::string& text, bool dbcs);
bool equalNoCase(const std::string& a, const std::string& b);
// The same, folding only single-byte characters: the trail byte of a double-byte character is
// compared as it is (in code page 932, 83 41 and 83 61 are two different characters).
bool equalNoCase(const std::string& a, const std::string& b, bool dbcs);
// Text after the last real "\" (the whole text without one).
std::string lastComponent(const std::string& path, bool dbcs);
// Folder part including its final "\" (empty without one).
std::string folderOf(const std::string& path, bool dbcs);

struct CommaSplit {
    std::string before;
    std::string after;
    bool hadComma = false;
};
// Split at the first comma that is a character of its own.
CommaSplit splitAtComma(const std::string& text, bool dbcs);

// ---- names and paths ----
// The parts of a path between its real separators ("\" and "/").
std::vector<std::string> pathParts(const std::string& path, bool dbcs);

// Why a text cannot be one plain file or folder name.
enum class NameProblem {
    None,
    Empty,
    Separator,           // "\" or "/" as a character of its own
    Colon,               // a drive or a stream
    Forbidden,           // a control character or * ? " < > |
    DotsOnly,            // ".", "..", "..." name a folder, not a file
    TrailingDotOrBlank,  // dropped by the system, so the name is not the one checked
    DeviceName           // CON, PRN, AUX, NUL, COM1..9, LPT1..9, also with an extension
};
NameProblem nameProblem(const std::string& name, bool dbcs);

// "\" for "/", separators collapsed, "." parts dropped, ".." (and any part of dots only with
// two or more) climbs one part without ever climbing above the root, trailing dots and blanks
// of a part dropped as the system drops them. A leading "C:\" or "\\server\share\" is the
// root; a final separator is kept.
std::string normalisePath(const std::string& path, bool dbcs);
// Whether `path` lies strictly below `folder`, both normalised, ignoring case.
bool liesInside(const std::string& folder, const std::string& path, bool dbcs);

// ---- the description ----
// "install.exe" reads "install.INF": the last three characters become "INF".
std::string descriptionPath(const std::string& installerPath);
// The language file: the path without its last four characters and "E.INF" or "J.INF".
std::string languageDescriptionPath(const std::string& installerPath, bool japanese);

// Reads one value as GetPrivateProfileString would: default empty, at most bufferChars - 1
// characters.
using ProfileReader =
    std::function<std::string(const std::string& section, const std::string& key, int bufferChars)>;

struct FileEntry {
    std::string raw;          // the value as written
    std::string source;       // relative to the installer's folder
    std::string destination;  // relative to the installation folder
};

struct Description {
    std::string title;
    std::string folder;
    bool resident = false;
    std::string open;
    std::vector<FileEntry> files;     // fileCount = files.size()
    std::vector<std::string> groups;  // groupCount = groups.size(), each with a comma
    std::string workingFolder;
    std::vector<std::string> regs;
    // Optional additions: where the uninstaller copy goes, and the version shown in the
    // system's list of programs.
    std::string uninstaller;
    std::string version;
    std::string publisher;
};

Description readDescription(const ProfileReader& read, bool dbcs);

// A real description is a few kilobytes; a larger file is refused before it is read, since the
// profile functions rescan the whole file for every value asked.
inline constexpr std::uint64_t kDescriptionLimitBytes = 64 * 1024;
// The refusal of a description file of that many bytes, or empty when it may be read.
std::string checkDescriptionSize(std::uint64_t bytes);

// Entries whose file or Group target leaves the installation folder ("..", an absolute path, a
// drive, a UNC path); the first such raw value, or empty.
bool leavesFolder(const std::string& relative);
bool leavesFolder(const std::string& relative, bool dbcs);
std::string firstEscapingEntry(const Description& d, bool dbcs);
// The first file entry whose source is not a plain relative path inside the distribution folder.
std::string firstForeignSource(const Description& d, bool dbcs);
// Install/Open names the destination of one of the file entries (empty Open is fine).
bool opensAnInstalledFile(const Description& d, bool dbcs);

// The checks after reading, in their order; returns the failure message or empty.
// `startupValue` is the registry's "Startup" folder (empty when it could not be read).
std::string checkDescription(const Description& d, const std::string& startupValue, bool dbcs);

// ---- start-up ----
int osCodeFromVersion(const std::string& currentVersion);
int osCodeFromProductName(const std::string& productName);

enum class Mode { Install, Request, Run };
// Mode and, for a run, the requesting installer's path.
Mode commandMode(const std::string& commandLine, std::string* requester = nullptr);

// An Uninstall entry's string names an installer when it holds "install.exe" or "INSTALL.EXE"
// and "/r" or "/R"; its folder then runs from the drive letter to the last "\".
bool qualifiesAsInstaller(const std::string& uninstallString);
std::string uninstallFolder(const std::string& uninstallString, bool dbcs);

// "C:\" + folder + "\" from the Windows directory.
std::string defaultInstallDir(const std::string& windowsDir, const std::string& folder);

// ---- the destination page ----
enum class Destination { Ok, Root, DriveAndPath, SubFolder, BadName };
// Makes `installDir` end in "\" and runs the checks on its form.
Destination checkDestination(std::string& installDir, bool dbcs);
bool isDriveRoot(const std::string& path);
bool startsWithDrive(const std::string& path);
// The folders to create for `path`, shortest first.
std::vector<std::string> foldersToCreate(const std::string& path, bool dbcs);
// The sub-folders of a destination's relative path inside the installation folder.
std::vector<std::string> subFoldersOf(const std::string& installDir, const std::string& relative,
                                      bool dbcs);
inline bool lowOnSpace(unsigned megabytes) {
    return megabytes < 100;
}

// ---- copying ----
struct Stamp {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
bool isFixedName(const std::string& path);
inline int dayNumber(const Stamp& s) {
    return s.year * 10000 + s.month * 100 + s.day;
}
enum class Overwrite { Silently, Ask };
Overwrite overwriteRule(const std::string& target, const Stamp& source, const Stamp& existing);
std::string stampLine(const std::string& name, const Stamp& s, bool japaneseOrder, bool dbcs);
std::string overwriteQuestion(const std::string& target, const Stamp& existing,
                              const std::string& source, const Stamp& sourceStamp, bool dbcs);

// ---- shortcuts ----
enum class Place { Menu, Desktop, Startup };
const char* placeValueName(Place place);
struct LinkItem {
    std::string caption;
    std::string target;
    std::string arguments;
};
// The items of one place; `grouped` tells whether they go into a group folder named `title`.
std::vector<LinkItem> linkItems(const Description& d, const std::string& installDir, Place place,
                                bool dbcs, bool* grouped = nullptr);
std::string shortcutPath(const std::string& placeFolder, const std::string& title,
                         const std::string& caption, bool grouped);
// Every shortcut file of a place lies inside the place's folder (and the group folder too).
bool shortcutsStayInside(const Description& d, const std::string& placeFolder,
                         const std::string& installDir, Place place, bool dbcs);
// The installation folder without its final "\" (a drive root keeps it).
std::string defaultWorkingFolder(const std::string& installDir, bool dbcs);

// ---- uninstallation ----
enum class RegRoot { None, CurrentUser, LocalMachine, ClassesRoot };
struct RegEntry {
    RegRoot root = RegRoot::None;
    std::string subKey;
};
RegEntry parseRegEntry(const std::string& value);
// The keys a description may have deleted: HKEY_CURRENT_USER\Software\V\P... or
// HKEY_LOCAL_MACHINE\SOFTWARE\V\P... (a vendor and at least a product below it, the vendor none
// of the system's own), and HKEY_CLASSES_ROOT\.ext for the extension of a file the description
// installs, never an executable or shell type. Everything else is abnormal.
bool allowedRegKey(const RegEntry& entry, const Description& d, bool dbcs);

// The description files an earlier installation of the uninstaller `uninstaller` keeps in
// `location`: its own name's and both language files.
std::vector<std::string> uninstallerDescriptions(const std::string& location,
                                                 const std::string& uninstaller, bool dbcs);

struct RemovalTarget {
    std::string path;
    bool entryOne = false;
};
// Entry N down to 1, then the description file, then the installer's file. Entries that are
// the description or the installer themselves wait for those last two steps.
std::vector<RemovalTarget> removalTargets(const Description& d, const std::string& installDir,
                                          const std::string& descriptionName,
                                          const std::string& installerName, bool dbcs);
// A help index: the name after its first "." is "gid".
bool isHelpIndex(const std::string& name);

// Why an uninstall run must not touch `folder`: a drive root, the Windows or system directory,
// or a folder without the description.
bool unsafeUninstallFolder(const std::string& folder, const std::string& windowsDir,
                           const std::string& systemDir, bool descriptionExists, bool dbcs);

std::string uninstallKeyPath(const std::string& folder);
// Whether the entry of the list of programs recording `installLocation` is this installation's
// (the same folder in normalised form): only then does an uninstallation delete it.
bool recordsFolder(const std::string& installLocation, const std::string& installDir, bool dbcs);
struct UninstallValue {
    const char* name;
    std::string data;
};
std::vector<UninstallValue> uninstallValues(const Description& d, const std::string& installDir);

// The access list of an installation folder made by an elevated installer, in the system's
// descriptor language: administrators and SYSTEM full control, users read and execute, every
// entry inherited by what the folder holds, nothing inherited from the drive root.
const char* installFolderAccess();

// WININIT.INI: the rebuilt "[Rename]" section with "NUL=" + shortPath, or nothing when the
// existing entries pass 30000 bytes.
std::optional<std::string> renameSection(
    const std::vector<std::pair<std::string, std::string>>& existing, const std::string& shortPath);
// Writes the section at the end of the file, over a final end-of-file mark (0x1A).
bool appendToWininit(const std::string& path, const std::string& section);

}  // namespace install
