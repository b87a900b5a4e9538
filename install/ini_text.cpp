#include "install/ini_text.h"

namespace install {

namespace {
std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Sections and keys compare ignoring ASCII case; the section's length leads, so no two pairs
// share a lookup key whatever bytes they hold.
std::string lookupKey(const std::string& section, const std::string& key) {
    return std::to_string(section.size()) + ':' + lower(section) + lower(key);
}
}  // namespace

// One pass over the text, each line looked up in hash sets, so a description of many sections
// or entries reads in linear time.
IniText::IniText(std::string_view text) {
    std::string section;
    bool inSection = false;
    std::unordered_set<std::string> seenSections;
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
            inSection = seenSections.insert(lower(section)).second;
            continue;
        }
        if (!inSection) continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string value = trim(std::string_view(line).substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        // The first occurrence of a key wins.
        values_.emplace(lookupKey(section, trim(std::string_view(line).substr(0, equals))),
                        std::move(value));
    }
}

std::string IniText::get(const std::string& section, const std::string& key,
                         int bufferChars) const {
    const auto found = values_.find(lookupKey(section, key));
    if (found == values_.end()) return {};
    const std::size_t limit = bufferChars > 0 ? static_cast<std::size_t>(bufferChars - 1) : 0;
    return found->second.substr(0, limit);
}

ProfileReader IniText::reader() const {
    return [this](const std::string& section, const std::string& key, int bufferChars) {
        return get(section, key, bufferChars);
    };
}

}  // namespace install
