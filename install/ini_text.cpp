#include "install/ini_text.h"

namespace install {

namespace {
std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}
}  // namespace

IniText::IniText(std::string_view text) {
    std::string section;
    bool inSection = false;
    std::vector<std::string> seenSections;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) end = text.size();
        const std::string line = trim(text.substr(at, end - at));
        at = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            const auto close = line.find(']');
            section = trim(std::string_view(line).substr(
                1, close == std::string::npos ? std::string::npos : close - 1));
            // A repeated section adds nothing: the first one is the one read.
            inSection = true;
            for (const auto& s : seenSections)
                if (equalNoCase(s, section)) inSection = false;
            seenSections.push_back(section);
            continue;
        }
        if (!inSection) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string value = trim(std::string_view(line).substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        entries_.push_back({section, trim(std::string_view(line).substr(0, equals)), value});
    }
}

std::string IniText::get(const std::string& section, const std::string& key,
                         int bufferChars) const {
    for (const auto& e : entries_) {
        if (!equalNoCase(e.section, section) || !equalNoCase(e.key, key)) continue;
        const std::size_t limit = bufferChars > 0 ? static_cast<std::size_t>(bufferChars - 1) : 0;
        return e.value.substr(0, limit);
    }
    return {};
}

ProfileReader IniText::reader() const {
    return [this](const std::string& section, const std::string& key, int bufferChars) {
        return get(section, key, bufferChars);
    };
}

}  // namespace install
