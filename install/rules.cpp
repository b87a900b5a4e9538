#include "install/rules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "install/texts.h"

namespace install {

namespace {
char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Index of every character start, so separators are only looked for at character starts.
template <typename Visit>
void forEachChar(const std::string& text, bool dbcs, Visit visit) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        visit(i);
        if (isLeadByte(static_cast<unsigned char>(text[i]), dbcs) && i + 1 < text.size()) ++i;
    }
}

std::size_t lastBackslash(const std::string& text, bool dbcs) {
    std::size_t found = std::string::npos;
    forEachChar(text, dbcs, [&](std::size_t i) {
        if (text[i] == '\\') found = i;
    });
    return found;
}

bool containsBackslash(const std::string& text, bool dbcs) {
    return lastBackslash(text, dbcs) != std::string::npos;
}

}  // namespace

namespace {
LeadByteRule g_leadBytes = leadByte932;

bool isSeparatorAt(const std::string& text, std::size_t i) {
    return text[i] == '\\' || text[i] == '/';
}

bool dotsAndBlanksOnly(const std::string& part) {
    return !part.empty() && part.find_first_not_of(". ") == std::string::npos;
}

// A part of dots and blanks with two dots or more climbs one folder, as ".." does.
bool climbs(const std::string& part) {
    return dotsAndBlanksOnly(part) && std::count(part.begin(), part.end(), '.') >= 2;
}

std::string withoutTrailingDotsAndBlanks(std::string part) {
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    return part;
}

std::string extensionOf(const std::string& name, bool dbcs) {
    const std::string last = lastComponent(name, dbcs);
    const std::size_t dot = last.rfind('.');
    return dot == std::string::npos ? std::string() : last.substr(dot + 1);
}
}  // namespace

bool leadByte932(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

LeadByteRule setLeadByteRule(LeadByteRule rule) {
    const LeadByteRule previous = g_leadBytes;
    g_leadBytes = rule ? rule : leadByte932;
    return previous;
}

bool isLeadByte(unsigned char c, bool dbcs) {
    return dbcs && g_leadBytes(c);
}

bool endsWithBackslash(const std::string& path, bool dbcs) {
    if (path.empty()) return false;
    bool real = false;
    forEachChar(path, dbcs, [&](std::size_t i) { real = i == path.size() - 1 && path[i] == '\\'; });
    return real;
}

std::string withBackslash(std::string path, bool dbcs) {
    if (!endsWithBackslash(path, dbcs)) path += '\\';
    return path;
}

std::string upper(const std::string& text, bool dbcs) {
    std::string out = text;
    forEachChar(out, dbcs, [&](std::size_t i) {
        if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 'a' + 'A');
    });
    return out;
}

bool equalNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

bool equalNoCase(const std::string& a, const std::string& b, bool dbcs) {
    if (a.size() != b.size()) return false;
    bool equal = true;
    forEachChar(a, dbcs, [&](std::size_t i) {
        if (isLeadByte(static_cast<unsigned char>(a[i]), dbcs) && i + 1 < a.size())
            equal = equal && a[i] == b[i] && a[i + 1] == b[i + 1];
        else
            equal = equal && lowerAscii(a[i]) == lowerAscii(b[i]);
    });
    return equal;
}

std::vector<std::string> pathParts(const std::string& path, bool dbcs) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    forEachChar(path, dbcs, [&](std::size_t i) {
        if (!isSeparatorAt(path, i)) return;
        parts.push_back(path.substr(start, i - start));
        start = i + 1;
    });
    parts.push_back(path.substr(start));
    return parts;
}

NameProblem nameProblem(const std::string& name, bool dbcs) {
    if (name.empty()) return NameProblem::Empty;
    NameProblem found = NameProblem::None;
    forEachChar(name, dbcs, [&](std::size_t i) {
        if (found != NameProblem::None) return;
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (isLeadByte(c, dbcs) && i + 1 < name.size()) return;
        if (c == '\\' || c == '/')
            found = NameProblem::Separator;
        else if (c == ':')
            found = NameProblem::Colon;
        else if (c < 0x20 || std::strchr("*?\"<>|", c))
            found = NameProblem::Forbidden;
    });
    if (found != NameProblem::None) return found;
    if (name.find_first_not_of('.') == std::string::npos) return NameProblem::DotsOnly;
    if (name.back() == '.' || name.back() == ' ') return NameProblem::TrailingDotOrBlank;
    // The system opens a device for its name with any extension ("NUL.txt").
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    base = upper(base, false);
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices)
        if (base == device) return NameProblem::DeviceName;
    if (base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) &&
        base[3] >= '1' && base[3] <= '9')
        return NameProblem::DeviceName;
    return NameProblem::None;
}

std::string normalisePath(const std::string& path, bool dbcs) {
    std::string root, rest = path;
    bool rooted = false;  // ".." never climbs above a root
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (drive) {
        rooted = path.size() >= 3 && isSeparatorAt(path, 2);
        root = path.substr(0, 2) + (rooted ? "\\" : "");
        rest = path.substr(rooted ? 3 : 2);
    } else if (path.size() >= 2 && isSeparatorAt(path, 0) && isSeparatorAt(path, 1)) {
        // \\server\share\ is the root of a network path.
        rooted = true;
        root = "\\\\";
        rest = path.substr(2);
        for (int level = 0; level < 2; ++level) {
            const std::vector<std::string> parts = pathParts(rest, dbcs);
            const std::string first = parts.front();
            root += first + "\\";
            rest = parts.size() > 1 ? rest.substr(first.size() + 1) : std::string();
        }
    } else if (!path.empty() && isSeparatorAt(path, 0)) {
        rooted = true;
        root = "\\";
        rest = path.substr(1);
    }
    std::vector<std::string> kept;
    const std::vector<std::string> parts = pathParts(rest, dbcs);
    for (const auto& part : parts) {
        if (part.empty() || (dotsAndBlanksOnly(part) && !climbs(part))) continue;
        if (!climbs(part))
            kept.push_back(withoutTrailingDotsAndBlanks(part));
        else if (!kept.empty() && kept.back() != "..")
            kept.pop_back();
        else if (!rooted)
            kept.push_back("..");
    }
    std::string out = root;
    for (std::size_t n = 0; n < kept.size(); ++n) out += (n ? "\\" : "") + kept[n];
    // "a\" and "a\." name a folder: the final separator stays.
    const std::string& last = parts.back();
    if (!kept.empty() && (last.empty() || dotsAndBlanksOnly(last))) out += "\\";
    return out;
}

bool liesInside(const std::string& folder, const std::string& path, bool dbcs) {
    const std::string outer = withBackslash(normalisePath(folder, dbcs), dbcs);
    const std::string inner = normalisePath(path, dbcs);
    if (inner.size() <= outer.size()) return false;
    return equalNoCase(inner.substr(0, outer.size()), outer, dbcs);
}

std::string lastComponent(const std::string& path, bool dbcs) {
    const std::size_t at = lastBackslash(path, dbcs);
    return at == std::string::npos ? path : path.substr(at + 1);
}

std::string folderOf(const std::string& path, bool dbcs) {
    const std::size_t at = lastBackslash(path, dbcs);
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

CommaSplit splitAtComma(const std::string& text, bool dbcs) {
    std::size_t comma = std::string::npos;
    forEachChar(text, dbcs, [&](std::size_t i) {
        if (comma == std::string::npos && text[i] == ',') comma = i;
    });
    if (comma == std::string::npos) return {text, text, false};
    return {text.substr(0, comma), text.substr(comma + 1), true};
}

std::string descriptionPath(const std::string& installerPath) {
    if (installerPath.size() < 3) return "INF";
    return installerPath.substr(0, installerPath.size() - 3) + "INF";
}

std::string languageDescriptionPath(const std::string& installerPath, bool japanese) {
    const std::string stem = installerPath.size() < 4
                                 ? std::string()
                                 : installerPath.substr(0, installerPath.size() - 4);
    return stem + (japanese ? "J.INF" : "E.INF");
}

Description readDescription(const ProfileReader& read, bool dbcs) {
    Description d;
    d.title = read("Install", "Title", 100);
    d.folder = read("Install", "Folder", 100);
    d.resident = read("Install", "TSR", 10).starts_with("1");
    d.open = read("Install", "Open", 260);
    d.uninstaller = read("Install", "Uninstall", 260);
    d.version = read("Install", "Version", 100);
    d.publisher = read("Install", "Publisher", 100);
    for (int n = 1;; ++n) {
        const std::string value = read("Install", std::to_string(n), 260);
        if (value.empty()) break;
        const CommaSplit split = splitAtComma(value, dbcs);
        d.files.push_back({value, split.before, split.after});
    }
    for (int n = 1;; ++n) {
        const std::string value = read("Group", std::to_string(n), 260);
        if (!splitAtComma(value, dbcs).hadComma) break;
        d.groups.push_back(value);
    }
    d.workingFolder = read("Working Folder", "1", 258);
    for (int n = 1;; ++n) {
        const std::string value = read("Reg", std::to_string(n), 260);
        if (value.empty()) break;
        d.regs.push_back(value);
    }
    return d;
}

std::string checkDescriptionSize(std::uint64_t bytes) {
    return bytes > kDescriptionLimitBytes ? texts::descriptionTooLarge() : std::string();
}

bool leavesFolder(const std::string& relative) {
    return leavesFolder(relative, false);
}

bool leavesFolder(const std::string& relative, bool dbcs) {
    if (relative.empty()) return false;
    if (relative[0] == '\\' || relative[0] == '/') return true;  // rooted, or UNC
    const std::vector<std::string> parts = pathParts(relative, dbcs);
    for (const auto& part : parts) {
        // A drive or a stream; the system drops trailing dots and blanks, so ".. " and "..."
        // still climb.
        if (nameProblem(part, dbcs) == NameProblem::Colon || climbs(part)) return true;
    }
    return false;
}

std::string firstEscapingEntry(const Description& d, bool dbcs) {
    for (const auto& f : d.files)
        if (leavesFolder(f.destination, dbcs)) return f.raw;
    for (const auto& g : d.groups) {
        const std::string target = splitAtComma(splitAtComma(g, dbcs).after, dbcs).before;
        if (leavesFolder(target, dbcs)) return g;
    }
    if (leavesFolder(d.uninstaller, dbcs) || containsBackslash(d.uninstaller, dbcs) ||
        (!d.uninstaller.empty() && nameProblem(d.uninstaller, dbcs) != NameProblem::None))
        return d.uninstaller;
    return {};
}

std::string firstForeignSource(const Description& d, bool dbcs) {
    for (const auto& f : d.files)
        if (f.source.empty() || leavesFolder(f.source, dbcs)) return f.raw;
    return {};
}

bool opensAnInstalledFile(const Description& d, bool dbcs) {
    if (d.open.empty()) return true;
    if (leavesFolder(d.open, dbcs)) return false;
    const std::string wanted = normalisePath(d.open, dbcs);
    for (const auto& f : d.files)
        if (!f.destination.empty() && equalNoCase(normalisePath(f.destination, dbcs), wanted, dbcs))
            return true;
    return false;
}

std::string checkDescription(const Description& d, const std::string& startupValue, bool dbcs) {
    if (d.title.empty() || d.folder.empty()) return texts::damaged();
    const std::string startupName = lastComponent(startupValue, dbcs);
    if (startupName.empty()) return texts::registryRead();
    // The title names the start-menu group folder that uninstallation empties: one plain name,
    // compared with the start-up folder's in the form the system would give it.
    if (nameProblem(d.title, dbcs) != NameProblem::None) return texts::notAName("Install/Title");
    if (equalNoCase(d.title, withoutTrailingDotsAndBlanks(startupName), dbcs))
        return texts::startUp();
    if (containsBackslash(d.folder, dbcs)) return texts::subFolder();
    if (nameProblem(d.folder, dbcs) != NameProblem::None) return texts::notAName("Install/Folder");
    for (std::size_t n = 0; n < d.groups.size(); ++n)
        if (nameProblem(splitAtComma(d.groups[n], dbcs).before, dbcs) != NameProblem::None)
            return texts::notAName("Group/" + std::to_string(n + 1));
    const std::string escaping = firstEscapingEntry(d, dbcs);
    if (!escaping.empty()) return texts::leavesFolder(escaping);
    const std::string foreign = firstForeignSource(d, dbcs);
    if (!foreign.empty()) return texts::foreignSource(foreign);
    if (!opensAnInstalledFile(d, dbcs)) return texts::openNotInstalled(d.open);
    return {};
}

int osCodeFromVersion(const std::string& v) {
    auto has = [&](const char* s) { return v.find(s) != std::string::npos; };
    if (has("4.0")) return 3;
    if (has("5.0")) return 4;
    if (has("5.1") || has("5.2")) return 5;
    if (has("6.0")) return 6;
    if (has("6.1")) return 7;
    return 8;
}

int osCodeFromProductName(const std::string& name) {
    if (name.find("Windows ME") != std::string::npos) return 2;
    if (name.find("Windows 98") != std::string::npos) return 1;
    return 0;
}

Mode commandMode(const std::string& commandLine, std::string* requester) {
    std::string line = commandLine;
    while (!line.empty() && line.front() == ' ') line.erase(line.begin());
    if (!line.empty() && line.front() == '/') line.erase(line.begin());
    if (line.empty()) return Mode::Install;
    if (line[0] == 'R' || line[0] == 'r') return Mode::Request;
    if (line[0] == 'x') {
        if (requester) {
            std::string path = line.size() > 2 ? line.substr(2) : std::string();
            while (!path.empty() && path.back() == ' ') path.pop_back();
            if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
                path = path.substr(1, path.size() - 2);
            *requester = path;
        }
        return Mode::Run;
    }
    return Mode::Install;
}

bool qualifiesAsInstaller(const std::string& s) {
    auto has = [&](const char* t) { return s.find(t) != std::string::npos; };
    return (has("install.exe") || has("INSTALL.EXE")) && (has("/r") || has("/R"));
}

std::string uninstallFolder(const std::string& s, bool dbcs) {
    const std::size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0) return {};
    const std::size_t last = lastBackslash(s, dbcs);
    if (last == std::string::npos || last < colon) return {};
    return s.substr(colon - 1, last - colon + 2);
}

std::string defaultInstallDir(const std::string& windowsDir, const std::string& folder) {
    return upper(windowsDir.substr(0, 3), false) + folder + "\\";
}

bool startsWithDrive(const std::string& p) {
    return p.size() >= 3 && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')) &&
           p[1] == ':' && p[2] == '\\';
}

bool isDriveRoot(const std::string& p) {
    return p.size() == 3 && startsWithDrive(p);
}

Destination checkDestination(std::string& dir, bool dbcs) {
    dir = withBackslash(dir, dbcs);
    if (dir.size() <= 3) return Destination::Root;
    if (dir[1] != ':' || dir[2] != '\\') return Destination::DriveAndPath;
    const std::string middle = dir.substr(3, dir.size() - 4);
    if (containsBackslash(middle, dbcs)) return Destination::SubFolder;
    // "C:\.\", "C:\..\" and "C:\...\" are the root itself; "C:\a/b" is a sub-folder.
    switch (nameProblem(middle, dbcs)) {
        case NameProblem::None:
            return Destination::Ok;
        case NameProblem::Separator:
            return Destination::SubFolder;
        case NameProblem::DotsOnly:
            return Destination::Root;
        default:
            return dotsAndBlanksOnly(middle) ? Destination::Root : Destination::BadName;
    }
}

std::vector<std::string> foldersToCreate(const std::string& path, bool dbcs) {
    if (!startsWithDrive(path)) return {path};
    std::vector<std::string> out;
    forEachChar(path, dbcs, [&](std::size_t i) {
        if (i > 2 && path[i] == '\\') out.push_back(path.substr(0, i + 1));
    });
    return out;
}

std::vector<std::string> subFoldersOf(const std::string& installDir, const std::string& relative,
                                      bool dbcs) {
    std::vector<std::string> out;
    forEachChar(relative, dbcs, [&](std::size_t i) {
        if (relative[i] == '\\' && i > 0) out.push_back(installDir + relative.substr(0, i + 1));
    });
    return out;
}

bool isFixedName(const std::string& path) {
    for (const char* name : {"INSTALL.EXE", "install.exe", "INSTALL.INF", "install.inf"})
        if (path.find(name) != std::string::npos) return true;
    return false;
}

Overwrite overwriteRule(const std::string& target, const Stamp& source, const Stamp& existing) {
    if (isFixedName(target)) return Overwrite::Silently;
    return dayNumber(source) > dayNumber(existing) ? Overwrite::Silently : Overwrite::Ask;
}

std::string stampLine(const std::string& name, const Stamp& s, bool japaneseOrder, bool dbcs) {
    char line[600];
    if (japaneseOrder)
        std::snprintf(line, sizeof line, "%s  %.4d/%.2d/%.2d  %.2d:%.2d:%.2d", name.c_str(), s.year,
                      s.month, s.day, s.hour, s.minute, s.second);
    else
        std::snprintf(line, sizeof line, "%s  %.2d/%.2d/%.4d  %.2d:%.2d:%.2d", name.c_str(),
                      s.month, s.day, s.year, s.hour, s.minute, s.second);
    return upper(line, dbcs);
}

std::string overwriteQuestion(const std::string& target, const Stamp& existing,
                              const std::string& source, const Stamp& sourceStamp, bool dbcs) {
    const bool ja = japanese();
    return texts::overwriteQuestion(upper(target, dbcs),
                                    stampLine(lastComponent(target, dbcs), existing, ja, dbcs),
                                    stampLine(lastComponent(source, dbcs), sourceStamp, ja, dbcs));
}

const char* placeValueName(Place place) {
    switch (place) {
        case Place::Menu:
            return "Programs";
        case Place::Desktop:
            return "Desktop";
        case Place::Startup:
            return "Startup";
    }
    return "";
}

std::vector<LinkItem> linkItems(const Description& d, const std::string& installDir, Place place,
                                bool dbcs, bool* grouped) {
    std::vector<LinkItem> items;
    auto item = [&](const std::string& caption, const std::string& rest) {
        const CommaSplit target = splitAtComma(rest, dbcs);
        items.push_back({caption, installDir + target.before, target.hadComma ? target.after : ""});
    };
    const bool group = place == Place::Menu && !d.groups.empty();
    if (grouped) *grouped = group;
    if (group) {
        for (const auto& g : d.groups) {
            const CommaSplit split = splitAtComma(g, dbcs);
            item(split.before, split.after);
        }
    } else {
        item(d.title, d.files.empty() ? std::string() : splitAtComma(d.files[0].raw, dbcs).after);
    }
    return items;
}

std::string shortcutPath(const std::string& placeFolder, const std::string& title,
                         const std::string& caption, bool grouped) {
    return placeFolder + "\\" + (grouped ? title + "\\" : std::string()) + caption + ".lnk";
}

bool shortcutsStayInside(const Description& d, const std::string& placeFolder,
                         const std::string& installDir, Place place, bool dbcs) {
    bool grouped = false;
    const auto items = linkItems(d, installDir, place, dbcs, &grouped);
    std::string folder = withBackslash(placeFolder, dbcs);
    if (grouped) {
        if (!liesInside(folder, folder + d.title, dbcs)) return false;
        folder = withBackslash(normalisePath(folder + d.title, dbcs), dbcs);
    }
    std::string base = withBackslash(placeFolder, dbcs);
    base.pop_back();
    for (const auto& item : items)
        if (!liesInside(folder, shortcutPath(base, d.title, item.caption, grouped), dbcs))
            return false;
    return true;
}

std::string defaultWorkingFolder(const std::string& installDir, bool dbcs) {
    if (isDriveRoot(installDir) || !endsWithBackslash(installDir, dbcs)) return installDir;
    return installDir.substr(0, installDir.size() - 1);
}

RegEntry parseRegEntry(const std::string& value) {
    static const struct {
        const char* prefix;
        RegRoot root;
        std::size_t start;  // 0-based
    } roots[] = {{"HKEY_CURRENT_USER", RegRoot::CurrentUser, 18},
                 {"HKEY_LOCAL_MACHINE", RegRoot::LocalMachine, 19},
                 {"HKEY_CLASSES_ROOT", RegRoot::ClassesRoot, 18}};
    for (const auto& r : roots)
        if (value.starts_with(r.prefix))
            return {r.root, value.size() > r.start ? value.substr(r.start) : std::string()};
    return {};
}

bool allowedRegKey(const RegEntry& entry, const Description& d, bool dbcs) {
    if (entry.root == RegRoot::None) return false;
    // "/" is an ordinary character of a key name: split at "\\" alone.
    std::vector<std::string> parts;
    std::size_t start = 0;
    forEachChar(entry.subKey, dbcs, [&](std::size_t i) {
        if (entry.subKey[i] != '\\') return;
        parts.push_back(entry.subKey.substr(start, i - start));
        start = i + 1;
    });
    parts.push_back(entry.subKey.substr(start));
    while (!parts.empty() && parts.back().empty()) parts.pop_back();
    for (const auto& part : parts)
        if (part.empty() || dotsAndBlanksOnly(part)) return false;
    if (entry.root == RegRoot::ClassesRoot) {
        if (parts.size() != 1 || parts[0].size() < 2 || parts[0][0] != '.') return false;
        const std::string extension = parts[0].substr(1);
        static const char* const shellTypes[] = {
            "exe", "com", "bat", "cmd", "lnk", "pif", "scr", "dll", "cpl", "msi", "msc", "vbs",
            "vbe", "js",  "jse", "wsf", "wsh", "hta", "ps1", "reg", "url", "sys", "ocx", "inf"};
        for (const char* type : shellTypes)
            if (equalNoCase(extension, type, dbcs)) return false;
        if (extension.find_first_of("*?") != std::string::npos) return false;
        for (const auto& f : d.files)
            if (equalNoCase(extensionOf(f.destination, dbcs), extension, dbcs)) return true;
        return false;
    }
    if (parts.size() < 3 || !equalNoCase(parts[0], "Software", dbcs)) return false;
    static const char* const systemVendors[] = {"Microsoft",
                                                "Classes",
                                                "Policies",
                                                "Wow6432Node",
                                                "Wine",
                                                "Clients",
                                                "RegisteredApplications"};
    for (const char* vendor : systemVendors)
        if (equalNoCase(parts[1], vendor, dbcs)) return false;
    return true;
}

std::vector<std::string> uninstallerDescriptions(const std::string& location,
                                                 const std::string& uninstaller, bool dbcs) {
    const std::string base = withBackslash(location, dbcs) + uninstaller;
    return {descriptionPath(base), languageDescriptionPath(base, false),
            languageDescriptionPath(base, true)};
}

std::vector<RemovalTarget> removalTargets(const Description& d, const std::string& installDir,
                                          const std::string& descriptionName,
                                          const std::string& installerName, bool) {
    std::vector<RemovalTarget> out;
    for (std::size_t n = d.files.size(); n >= 1; --n) {
        const std::string& destination = d.files[n - 1].destination;
        // The uninstaller and its description, when the description installs them as entries,
        // go last in their own steps: a removal stopped at entry 1 must leave them to run again.
        if (n > 1 &&
            (equalNoCase(destination, descriptionName) || equalNoCase(destination, installerName)))
            continue;
        out.push_back({installDir + destination, n == 1});
    }
    out.push_back({installDir + descriptionName, false});
    out.push_back({installDir + installerName, false});
    return out;
}

bool isHelpIndex(const std::string& name) {
    const std::size_t dot = name.find('.');
    return dot != std::string::npos && equalNoCase(name.substr(dot + 1), "gid");
}

bool unsafeUninstallFolder(const std::string& folder, const std::string& windowsDir,
                           const std::string& systemDir, bool descriptionExists, bool dbcs) {
    const std::string f = withBackslash(folder, dbcs);
    if (!descriptionExists) return true;
    if (f.size() <= 3) return true;
    // A run names the folder the way the requesting installer found itself: "C:\..\" or
    // "C:\Apps\.\" is a forged or stray run.
    if (normalisePath(f, dbcs) != f) return true;
    // A UNC share's root: \\server\share\ holds four backslashes.
    if (f.starts_with("\\\\") && std::count(f.begin(), f.end(), '\\') <= 4) return true;
    for (const std::string& system : {windowsDir, systemDir})
        if (!system.empty() && equalNoCase(f, withBackslash(system, dbcs), dbcs)) return true;
    return false;
}

std::string uninstallKeyPath(const std::string& folder) {
    return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + folder;
}

bool recordsFolder(const std::string& installLocation, const std::string& installDir, bool dbcs) {
    if (installLocation.empty() || installDir.empty()) return false;
    return equalNoCase(normalisePath(withBackslash(installLocation, dbcs), dbcs),
                       normalisePath(withBackslash(installDir, dbcs), dbcs), dbcs);
}

std::vector<UninstallValue> uninstallValues(const Description& d, const std::string& installDir) {
    std::vector<UninstallValue> v{
        {"DisplayName", d.title},
        {"UninstallString", "\"" + installDir + d.uninstaller + "\" /r"},
        {"InstallLocation", installDir},
    };
    if (!d.files.empty()) v.push_back({"DisplayIcon", installDir + d.files[0].destination});
    if (!d.version.empty()) v.push_back({"DisplayVersion", d.version});
    if (!d.publisher.empty()) v.push_back({"Publisher", d.publisher});
    return v;
}

const char* installFolderAccess() {
    // P: protected from the root's entries; OICI: inherited by files and folders inside;
    // FA: full control; 0x1200a9: read, list and execute (FILE_GENERIC_READ |
    // FILE_GENERIC_EXECUTE).
    return "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
}

std::optional<std::string> renameSection(
    const std::vector<std::pair<std::string, std::string>>& existing,
    const std::string& shortPath) {
    std::string text = "[Rename]\r\n";
    for (const auto& [key, value] : existing) {
        text += key + "=" + value + "\r\n";
        if (text.size() > 30000) return std::nullopt;
    }
    text += "NUL=" + shortPath + "\r\n";
    return text;
}

bool appendToWininit(const std::string& path, const std::string& section) {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    if (!f) f = std::fopen(path.c_str(), "w+b");
    if (!f) return false;
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    if (ok && size > 0) {
        ok = std::fseek(f, size - 1, SEEK_SET) == 0;
        const int last = ok ? std::fgetc(f) : EOF;
        // The file must be repositioned between a read and a write.
        ok = ok && std::fseek(f, last == 0x1A ? size - 1 : size, SEEK_SET) == 0;
    }
    ok = ok && std::fwrite(section.data(), 1, section.size(), f) == section.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

}  // namespace install
