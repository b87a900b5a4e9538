// File names as the command-line tools carry them (UTF-8), and the check that no output of a
// call replaces one of its inputs or another of its outputs.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace cli {

// std::filesystem paths from and to the UTF-8 strings the tools carry (a plain std::string would
// be taken in the ANSI code page on Windows, losing names in other scripts).
std::filesystem::path fsPath(const std::string& utf8);
std::string utf8Of(const std::filesystem::path& path);

// True when two paths name the same file (after resolving ".", "..", links and the current
// folder, and as hard links of one file); a file need not exist yet.
bool samePath(const std::string& a, const std::string& b);

// An output file of one call, for the check that no output replaces an input or another output.
// A numbered output is written as STEM1.ext, STEM2.ext, ... (the number before the extension of
// the name given, as the slice files and pages are), and also under its own name when `plain`.
struct OutputName {
    std::string label;  // how messages name it: "--npy"
    std::string path;
    bool plain = true;
    bool numbered = false;
    int owner = -1;  // in batch work, the index of the input whose result it is
};

// Two names of one call that would give the same file.
struct Clash {
    std::size_t output;  // the later output of the two
    bool withInput;      // the other is an input
    std::size_t other;   // the input, or the earlier output
};

// The first output that names an input or an earlier output (paths resolved, hard links
// compared, numbered names included), or nothing.
std::optional<Clash> findClash(const std::vector<std::string>& inputs,
                               const std::vector<OutputName>& outputs);
// The usage error that says which names clash.
std::string clashMessage(const std::vector<std::string>& inputs,
                         const std::vector<OutputName>& outputs, const Clash& clash);

}  // namespace cli
