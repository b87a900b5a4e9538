// The tools' usage texts, generated from their command and option tables.
#include <algorithm>
#include <string>
#include <vector>

#include "cli/cli_texts.h"
#include "cli/messages.h"
#include "cli/tool.h"

namespace cli {

namespace {

constexpr std::size_t kWidth = 80;
// The column where an option's help begins; a longer name and value words get a line of their
// own.
constexpr std::size_t kHelpColumn = 29;

// One character of UTF-8 text, with the columns a terminal gives it.
struct Glyph {
    std::string bytes;
    char32_t code = 0;
    std::size_t columns = 1;
};

bool wideCode(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6);
}

std::vector<Glyph> glyphsOf(const std::string& text) {
    std::vector<Glyph> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        Glyph g;
        g.bytes = text.substr(i, length);
        g.code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        for (std::size_t k = 1; k < g.bytes.size(); ++k)
            g.code = (g.code << 6) | (static_cast<unsigned char>(g.bytes[k]) & 0x3F);
        g.columns = wideCode(g.code) ? 2 : 1;
        out.push_back(g);
        i += length;
    }
    return out;
}

std::size_t columnsOf(const std::string& text) {
    std::size_t columns = 0;
    for (const Glyph& g : glyphsOf(text)) columns += g.columns;
    return columns;
}

bool inList(char32_t code, const std::u32string& list) {
    return list.find(code) != std::u32string::npos;
}

// A line may break between a and b: at a space (which the break swallows), or next to a wide
// character unless that leaves closing punctuation at a line's head or opening at its end.
bool breakBetween(const Glyph& a, const Glyph& b) {
    if (b.code == U' ') return true;
    if (a.code == U' ') return false;
    static const std::u32string noHead = U"、。，．）」』：！？ー・％,.:;)!?%";
    static const std::u32string noTail = U"（「『(";
    return (a.columns == 2 || b.columns == 2) && !inList(b.code, noHead) && !inList(a.code, noTail);
}

void wrapLine(const std::vector<Glyph>& g, std::size_t room, const std::string& indent,
              std::string& out, bool& firstLine) {
    std::size_t start = 0;
    do {
        while (start < g.size() && g[start].code == U' ') ++start;
        std::size_t end = start, columns = 0, lastBreak = 0;
        while (end < g.size() && (columns + g[end].columns <= room || end == start)) {
            if (end > start && breakBetween(g[end - 1], g[end])) lastBreak = end;
            columns += g[end++].columns;
        }
        if (end < g.size() && !breakBetween(g[end - 1], g[end])) {
            if (lastBreak > start) {
                end = lastBreak;
            } else {  // one word longer than the line: it runs over
                while (end < g.size() && !breakBetween(g[end - 1], g[end])) ++end;
            }
        }
        std::size_t last = end;
        while (last > start && g[last - 1].code == U' ') --last;
        if (!firstLine && last > start) out += indent;
        for (std::size_t k = start; k < last; ++k) out += g[k].bytes;
        out += '\n';
        firstLine = false;
        start = end;
    } while (start < g.size());
}

std::string label(const OptionInfo& o) {
    return "  " + o.name + (o.valueNames.empty() ? "" : " " + o.valueNames);
}

// "  --name VALUES   help", the help wrapped in its column.
std::string optionLines(const std::vector<OptionInfo>& options) {
    std::string out;
    for (const OptionInfo& o : options) {
        const std::string head = label(o);
        const std::size_t columns = columnsOf(head);
        if (columns + 2 <= kHelpColumn)
            out += head + std::string(kHelpColumn - columns, ' ');
        else
            out += head + "\n" + std::string(kHelpColumn, ' ');
        out += wrapped(core::text(o.help), kWidth, kHelpColumn);
    }
    return out;
}

// The forms of a command's synopsis, one a line.
std::vector<std::string> formsOf(const Command& command) {
    std::vector<std::string> forms;
    const std::string synopsis = core::text(command.help.synopsis);
    for (std::size_t from = 0; from < synopsis.size();) {
        const std::size_t end = std::min(synopsis.find('\n', from), synopsis.size());
        forms.push_back(synopsis.substr(from, end - from));
        from = end + 1;
    }
    return forms;
}

// "LEAD TOOL COMMAND FORM" for each form, the later ones indented as far as LEAD.
std::string usageLines(const Tool& tool, const Command& command, const std::string& lead) {
    std::string out;
    for (const std::string& form : formsOf(command)) {
        const std::string head = (out.empty() ? lead : std::string(columnsOf(lead), ' ')) +
                                 tool.program + " " + command.name + " ";
        out += head + wrapped(form, kWidth, columnsOf(head));
    }
    return out;
}

bool takesEveryCommand(const Tool& tool, const OptionInfo& o) {
    return std::all_of(tool.commands.begin(), tool.commands.end(),
                       [&](const Command& c) { return listHolds(o.commands.c_str(), c.name); });
}

}  // namespace

std::string wrapped(const std::string& text, std::size_t width, std::size_t indent) {
    const std::string margin(indent, ' ');
    const std::size_t room = width > indent ? width - indent : 1;
    std::string out;
    bool firstLine = true;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t end = std::min(text.find('\n', from), text.size());
        if (end == text.size() && from == end && from > 0) break;  // a final "\n"
        wrapLine(glyphsOf(text.substr(from, end - from)), room, margin, out, firstLine);
        from = end + 1;
    }
    return out;
}

std::vector<OptionInfo> optionsOf(const Tool& tool, const std::string& command) {
    std::vector<OptionInfo> out;
    for (const OptionInfo& o : tool.options())
        if (listHolds(o.commands.c_str(), command)) out.push_back(o);
    return out;
}

std::string generalUsage(const Tool& tool) {
    std::string out = std::string(core::text(texts::kUsageHeading)) + "\n";
    for (const Command& c : tool.commands) out += usageLines(tool, c, "  ");
    out +=
        std::string("  ") + tool.program + " --help | --version | help COMMAND | COMMAND --help\n";
    // Appended piece by piece: "\n" + a temporary trips GCC 12's -Wrestrict.
    out += '\n';
    out += wrapped(core::text(tool.intro), kWidth, 0);
    out += '\n';
    out += std::string(core::text(texts::kCommandsHeading)) + "\n";
    std::size_t nameColumns = 0;
    for (const Command& c : tool.commands) nameColumns = std::max(nameColumns, columnsOf(c.name));
    for (const Command& c : tool.commands) {
        const std::string head = std::string("  ") + c.name;
        out += head + std::string(nameColumns + 4 - columnsOf(head), ' ') +
               wrapped(core::text(c.help.summary), kWidth, nameColumns + 4);
    }
    std::vector<OptionInfo> everywhere;
    for (const OptionInfo& o : tool.options())
        if (takesEveryCommand(tool, o)) everywhere.push_back(o);
    if (!everywhere.empty()) {
        out += '\n';
        out += core::text(texts::kCommonOptionsHeading);
        out += '\n';
        out += optionLines(everywhere);
    }
    out += '\n';
    out += wrapped(core::text(tool.notes), kWidth, 0);
    out += wrapped(fill(texts::kCommandHelpPointer, {tool.program}), kWidth, 0);
    return out;
}

std::string commandHelp(const Tool& tool, const Command& command) {
    std::string out = usageLines(tool, command, core::text(texts::kCommandUsage));
    out += wrapped(core::text(command.help.description), kWidth, 0);
    const std::vector<OptionInfo> options = optionsOf(tool, command.name);
    if (!options.empty())
        out += std::string(core::text(texts::kOptionsHeading)) + "\n" + optionLines(options);
    out += std::string(core::text(texts::kExample)) + "\n";
    const std::string examples = command.help.example;
    for (std::size_t from = 0; from < examples.size();) {
        const std::size_t end = std::min(examples.find('\n', from), examples.size());
        out += "  " + examples.substr(from, end - from) + "\n";
        from = end + 1;
    }
    out += wrapped(fill(texts::kMoreHelp, {tool.program}), kWidth, 0);
    return out;
}

}  // namespace cli
