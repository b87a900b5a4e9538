// The command-line tools' message sink.
#pragma once

#include <string>

#include "core/message_sink.h"

namespace core {

// For the command-line tools: writes "Caption: text" to stderr (line breaks in the text kept),
// answers questions with a fixed answer, and counts errors and warnings so the tool can set its
// exit status.
class StderrSink : public MessageSink {
  public:
    explicit StderrSink(std::string programName, int questionAnswer = kAnswerNo);
    int ask(std::string_view text, std::string_view caption, unsigned style) override;
    int refusals() const { return refusals_; }

  private:
    std::string programName_;
    int questionAnswer_;
    int refusals_ = 0;
};

}  // namespace core
