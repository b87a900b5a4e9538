// Small helpers shared by the command-line tools: argument scanning and number parsing.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cli {

// Reads a whole decimal or floating number; nothing else may follow.
std::optional<double> parseNumber(const std::string& text);
std::optional<long> parseInteger(const std::string& text);

// True when standard output is a terminal (progress is shown only then).
bool stdoutIsTerminal();

// Command-line arguments as UTF-8/ANSI strings, past the program name.
std::vector<std::string> argumentsOf(int argc, char** argv);

}  // namespace cli
