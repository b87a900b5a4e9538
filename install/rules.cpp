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

std::string trimmedKey(std::string key) {
    while (!key.empty() && key.back() == '\\') key.pop_back();
    std::string out;
    for (char c : key)
        if (!(c == '\\' && !out.empty() && out.back() == '\\')) out += c;
    while (!out.empty() && out.front() == '\\') out.erase(out.begin());
    return out;
}

bool endsWithNoCase(const std::string& text, const std::string& tail) {
    if (text.size() < tail.size()) return false;
    return equalNoCase(text.substr(text.size() - tail.size()), tail);
}
}  // namespace

bool isLeadByte(unsigned char c, bool dbcs) {
    return dbcs && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
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
    if (relative.empty()) return false;
    if (relative[0] == '\\' || relative[0] == '/') return true;  // rooted, or UNC
    if (relative.find(':') != std::string::npos) return true;    // a drive (or a stream)
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = relative.find_first_of("\\/", start);
        std::string part = relative.substr(start, end == std::string::npos ? end : end - start);
        // Windows drops trailing dots and blanks: ".. " and "..." still climb.
        while (!part.empty() && (part.back() == ' ' || part.back() == '.') && part.size() > 2 &&
               part.find_first_not_of(". ") == std::string::npos)
            part.pop_back();
        if (part == "..") return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

std::string firstEscapingEntry(const Description& d, bool dbcs) {
    for (const auto& f : d.files)
        if (leavesFolder(f.destination)) return f.raw;
    for (const auto& g : d.groups) {
        const std::string target = splitAtComma(splitAtComma(g, dbcs).after, dbcs).before;
        if (leavesFolder(target)) return g;
    }
    if (leavesFolder(d.uninstaller) || containsBackslash(d.uninstaller, dbcs)) return d.uninstaller;
    return {};
}

std::string checkDescription(const Description& d, const std::string& startupValue, bool dbcs) {
    if (d.title.empty() || d.folder.empty()) return texts::damaged();
    const std::string startupName = lastComponent(startupValue, dbcs);
    if (startupName.empty()) return texts::registryRead();
    if (equalNoCase(d.title, startupName)) return texts::startUp();
    if (containsBackslash(d.folder, dbcs)) return texts::subFolder();
    const std::string escaping = firstEscapingEntry(d, dbcs);
    if (!escaping.empty()) return texts::leavesFolder(escaping);
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
    return Destination::Ok;
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

bool protectedRegKey(const RegEntry& entry) {
    if (entry.root == RegRoot::None) return true;
    const std::string key = trimmedKey(entry.subKey);
    if (key.empty() || key == ".") return true;
    static const char* const machine[] = {"SOFTWARE", "SYSTEM", "SAM", "SECURITY", "HARDWARE"};
    static const char* const classes[] = {"CLSID", "Interface", "TypeLib"};
    switch (entry.root) {
        case RegRoot::LocalMachine:
            for (const char* k : machine)
                if (equalNoCase(key, k)) return true;
            break;
        case RegRoot::CurrentUser:
            if (equalNoCase(key, "Software")) return true;
            break;
        case RegRoot::ClassesRoot:
            for (const char* k : classes)
                if (equalNoCase(key, k)) return true;
            break;
        case RegRoot::None:
            break;
    }
    for (const char* tail : {"Software\\Microsoft", "Software\\Classes"}) {
        if (equalNoCase(key, tail)) return true;
        if (endsWithNoCase(key, std::string("\\") + tail)) return true;
    }
    return false;
}

std::vector<RemovalTarget> removalTargets(const Description& d, const std::string& installDir,
                                          const std::string& descriptionName,
                                          const std::string& installerName, bool) {
    std::vector<RemovalTarget> out;
    for (std::size_t n = d.files.size(); n >= 1; --n) {
        const std::string& destination = d.files[n - 1].destination;
        // The uninstaller and its description, when the description installs them as entries,
        // go last in their own steps: a removal stopped at entry 1 must leave them to run again.
        if (n > 1 && (equalNoCase(destination, descriptionName) ||
                      equalNoCase(destination, installerName)))
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
    // A UNC share's root: \\server\share\ holds four backslashes.
    if (f.starts_with("\\\\") && std::count(f.begin(), f.end(), '\\') <= 4) return true;
    for (const std::string& system : {windowsDir, systemDir})
        if (!system.empty() && equalNoCase(f, withBackslash(system, dbcs))) return true;
    return false;
}

std::string uninstallKeyPath(const std::string& folder) {
    return "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + folder;
}

std::vector<UninstallValue> uninstallValues(const Description& d, const std::string& installDir) {
    std::vector<UninstallValue> v{
        {"DisplayName", d.title},
        {"UninstallString", "\"" + installDir + d.uninstaller + "\" /r"},
        {"InstallLocation", installDir},
    };
    if (!d.files.empty()) v.push_back({"DisplayIcon", installDir + d.files[0].destination});
    if (!d.version.empty()) v.push_back({"DisplayVersion", d.version});
    return v;
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
