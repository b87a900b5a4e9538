#include "cli/options.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "cli/cli_texts.h"
#include "cli/messages.h"

namespace cli {

std::vector<OptionInfo> describe(const std::vector<Option>& table) {
    std::vector<OptionInfo> out;
    for (const Option& o : table)
        out.push_back({o.name, o.commands, o.valueNames, o.values, o.help});
    return out;
}

bool listHolds(const char* list, const std::string& word) {
    if (std::string(list) == "*") return !word.empty();
    const std::string all = std::string(" ") + list + " ";
    return !word.empty() && all.find(" " + word + " ") != std::string::npos;
}

std::string parseOptions(const std::vector<Option>& table, const std::string& command,
                         const std::vector<std::string>& args, std::vector<std::string>& files,
                         const Stray& stray) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const Option* option = nullptr;
        for (const Option& o : table)
            if (a == o.name && listHolds(o.commands, command)) option = &o;
        if (!option) {
            std::string error = stray(a, files);
            if (!error.empty()) return error;
            files.push_back(a);
            continue;
        }
        if (args.size() - 1 - i < static_cast<std::size_t>(option->values))
            return option->missing ? option->missing : a + " needs a value";
        const std::vector<std::string> values(args.begin() + i + 1,
                                              args.begin() + i + 1 + option->values);
        i += option->values;
        std::string error = option->apply(a, values);
        if (!error.empty()) return error;
    }
    return "";
}

std::string notAnOption(const std::vector<Option>& table, const std::string& command,
                        const std::string& argument) {
    for (const Option& o : table)
        if (argument == o.name) return "option " + argument + " does not apply to " + command;
    if (argument.size() > 1 && argument[0] == '-') return "unknown option " + argument;
    return "";
}

Apply flag(bool& target) {
    return [&target](const std::string&, const std::vector<std::string>&) {
        target = true;
        return std::string();
    };
}

Apply text(std::string& target) {
    return [&target](const std::string&, const std::vector<std::string>& values) {
        target = values[0];
        return std::string();
    };
}

Apply numberIn(double lo, double hi, double& target) {
    return [lo, hi, &target](const std::string& name, const std::vector<std::string>& values) {
        const auto v = parseNumber(values[0]);
        // Written so that "nan", which strtod accepts, is out of every range.
        if (!v || !(*v >= lo && *v <= hi))
            return fill(texts::kNumberRange, {name, shown(lo), shown(hi), values[0]});
        target = *v;
        return std::string();
    };
}

Apply wholeIn(long lo, long hi, int& target) {
    return [lo, hi, &target](const std::string& name, const std::vector<std::string>& values) {
        const auto v = parseInteger(values[0]);
        if (!v || *v < lo || *v > hi)
            return fill(texts::kWholeRange, {name, shown(lo), shown(hi), values[0]});
        target = static_cast<int>(*v);
        return std::string();
    };
}

Apply oneOf(std::initializer_list<const char*> words, int& target) {
    std::vector<std::string> list(words.begin(), words.end());
    return [list, &target](const std::string& name, const std::vector<std::string>& values) {
        for (std::size_t k = 0; k < list.size(); ++k)
            if (values[0] == list[k]) {
                target = static_cast<int>(k);
                return std::string();
            }
        std::string error = name + " must be ";
        for (std::size_t k = 0; k < list.size(); ++k)
            error += (k == 0 ? "" : k + 1 == list.size() ? " or " : ", ") + list[k];
        return error;
    };
}

Apply also(Apply apply, std::function<void()> then) {
    return [apply, then](const std::string& name, const std::vector<std::string>& values) {
        std::string error = apply(name, values);
        then();
        return error;
    };
}

std::optional<double> parseNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
}

std::optional<long> parseInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
}

std::optional<long long> parseLongInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return std::nullopt;
    return value;
}

}  // namespace cli
