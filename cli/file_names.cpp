#include "cli/file_names.h"

#include <cwctype>
#include <system_error>
#include <utility>

#include "cli/cli_texts.h"
#include "cli/messages.h"

namespace cli {

namespace fs = std::filesystem;

std::filesystem::path fsPath(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

namespace {

// A path as the file system compares it: resolved, and on Windows without case.
using Key = fs::path::string_type;

Key folded(const fs::path& path) {
    Key key = path.native();
#if defined(_WIN32)
    for (wchar_t& c : key) c = static_cast<wchar_t>(std::towlower(c));
#endif
    return key;
}

fs::path resolved(const std::string& path) {
    std::error_code error;
    fs::path full = fs::absolute(fsPath(path), error);
    if (error) return fsPath(path);
    fs::path canonical = fs::weakly_canonical(full, error);
    return error ? full.lexically_normal() : canonical;
}

bool sameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

// One name of the call, taken apart for the comparisons.
struct Place {
    fs::path full;      // resolved
    Key whole, folder;  // folded
    Key stem, suffix;   // of a numbered name: STEM + number + suffix
    bool plain = true, numbered = false;
    // An existing file with more than one name: only such a file can be another path's too, once
    // both paths are resolved.
    bool linked = false;
};

Place placeOf(const std::string& path, bool plain, bool numbered) {
    Place p;
    p.plain = plain;
    p.numbered = numbered;
    p.full = resolved(path);
    p.whole = folded(p.full);
    std::error_code error;
#if defined(_WIN32)
    // The runtime counts one link for every file there: any existing file may have others.
    p.linked = fs::exists(p.full, error);
#else
    const auto links = fs::hard_link_count(p.full, error);
    p.linked = !error && links > 1;
#endif
    // A numbered name's files sit in the folder of the name given, whatever it links to.
    const fs::path given = resolved(
        utf8Of(fsPath(path).parent_path().empty() ? fs::path(".") : fsPath(path).parent_path()));
    p.folder = folded(numbered ? given : p.full.parent_path());
    const Key name = folded(fsPath(path).filename());
    const auto dot = name.find_last_of(static_cast<Key::value_type>('.'));
    p.stem = dot == Key::npos ? name : name.substr(0, dot);
    p.suffix = dot == Key::npos ? Key() : name.substr(dot);
    return p;
}

bool digitsOnly(const Key& text) {
    if (text.empty() || text[0] == '0') return false;  // numbers are written without zeros
    for (const auto c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// True when the file name `name` is one of the numbered names of STEM and suffix.
bool isNumbered(const Key& name, const Key& stem, const Key& suffix) {
    return name.size() > stem.size() + suffix.size() && name.compare(0, stem.size(), stem) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
           digitsOnly(name.substr(stem.size(), name.size() - stem.size() - suffix.size()));
}

// An existing file that a numbered output would replace, as a hard link of a numbered name.
bool linkedToNumbered(const Place& file, const Place& numbered) {
    if (!file.linked) return false;
    std::error_code error;
    fs::directory_iterator it(fs::path(numbered.folder), error), end;
    for (; !error && it != end; it.increment(error))
        if (isNumbered(folded(it->path().filename()), numbered.stem, numbered.suffix) &&
            sameFile(it->path(), file.full))
            return true;
    return false;
}

bool clashes(const Place& a, const Place& b) {
    if (a.plain && b.plain &&
        (a.whole == b.whole || (a.linked && b.linked && sameFile(a.full, b.full))))
        return true;
    for (const auto& [x, y] : {std::pair<const Place*, const Place*>{&a, &b}, {&b, &a}}) {
        if (!x->plain || !y->numbered) continue;
        const Key name = folded(x->full.filename());
        if ((folded(x->full.parent_path()) == y->folder && isNumbered(name, y->stem, y->suffix)) ||
            linkedToNumbered(*x, *y))
            return true;
    }
    if (a.numbered && b.numbered && a.folder == b.folder && a.suffix == b.suffix) {
        const Key& shorter = a.stem.size() <= b.stem.size() ? a.stem : b.stem;
        const Key& longer = a.stem.size() <= b.stem.size() ? b.stem : a.stem;
        // "s" and "s1" both give s11.dat; "s" and "s0" never meet.
        return shorter == longer || (longer.compare(0, shorter.size(), shorter) == 0 &&
                                     digitsOnly(longer.substr(shorter.size())));
    }
    return false;
}

}  // namespace

bool samePath(const std::string& a, const std::string& b) {
    const fs::path x = resolved(a), y = resolved(b);
    return folded(x) == folded(y) || sameFile(x, y);
}

std::optional<Clash> findClash(const std::vector<std::string>& inputs,
                               const std::vector<OutputName>& outputs) {
    std::vector<Place> in, out;
    for (const std::string& path : inputs) in.push_back(placeOf(path, true, false));
    for (const OutputName& o : outputs) out.push_back(placeOf(o.path, o.plain, o.numbered));
    for (std::size_t i = 0; i < out.size(); ++i) {
        for (std::size_t j = 0; j < in.size(); ++j)
            if (clashes(out[i], in[j])) return Clash{i, true, j};
        for (std::size_t j = 0; j < i; ++j)
            if (clashes(out[i], out[j])) return Clash{i, false, j};
    }
    return std::nullopt;
}

std::string clashMessage(const std::vector<std::string>& inputs,
                         const std::vector<OutputName>& outputs, const Clash& clash) {
    const OutputName& output = outputs[clash.output];
    if (clash.withInput)
        return output.owner < 0
                   ? fill(texts::kReplacesInput, {output.label, inputs[clash.other]})
                   : fill(texts::kOutputIsInput,
                          {inputs[static_cast<std::size_t>(output.owner)], inputs[clash.other]});
    const OutputName& earlier = outputs[clash.other];
    if (output.owner >= 0 && earlier.owner >= 0 && output.owner != earlier.owner)
        return fill(texts::kTwoInputsOneOutput,
                    {inputs[static_cast<std::size_t>(earlier.owner)],
                     inputs[static_cast<std::size_t>(output.owner)], output.path});
    // The file both would write: the plain name when the other is numbered.
    const std::string& file = output.plain || !earlier.plain ? output.path : earlier.path;
    return fill(texts::kSameOutput, {earlier.label, output.label, file});
}

}  // namespace cli
