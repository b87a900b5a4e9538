// How the command-line tools speak: texts filled with values, the message sink the engines
// report through, and the lines that name a refused file.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/localized.h"
#include "core/message_sink.h"
#include "core/stderr_sink.h"

namespace cli {

// The text in the chosen language with %1, %2, ... replaced by the values.
std::string fill(const core::Localized& text, std::initializer_list<std::string> values);

// A number as the messages show it: 0.5, 10000, -90.
std::string shown(double value);

// "PROGRAM: line" on stderr.
void say(const char* program, const std::string& line);

// The tools' message sink: the stderr sink, which with --quiet drops the success messages
// (information boxes); refusals, warnings and questions always show.
class ToolSink final : public core::MessageSink {
  public:
    ToolSink(const char* program, bool quiet) : inner_(program), quiet_(quiet) {}
    int ask(std::string_view text, std::string_view caption, unsigned style) override;
    int refusals() const { return inner_.refusals(); }

  private:
    core::StderrSink inner_;
    bool quiet_;
};

// Says on stderr, after the engine's own message, which file was refused and why as far as the
// file system tells: missing, a folder, unreadable; for an output: a missing or read-only
// folder. The engines' fixed texts stay as they are; this line only adds the name.
void explainInput(const char* program, const std::string& path);
void explainOutput(const char* program, const std::string& path);

}  // namespace cli
