#include "core/stderr_sink.h"

#include <cstdio>
#include <utility>

namespace core {

StderrSink::StderrSink(std::string programName, int questionAnswer)
    : programName_(std::move(programName)), questionAnswer_(questionAnswer) {}

int StderrSink::ask(std::string_view text, std::string_view caption, unsigned style) {
    const unsigned icon = style & 0xF0;
    if (icon == kIconError || icon == kIconWarning) ++refusals_;
    std::fprintf(stderr, "%s: %.*s: %.*s\n", programName_.c_str(), static_cast<int>(caption.size()),
                 caption.data(), static_cast<int>(text.size()), text.data());
    return (style & kYesNo) ? questionAnswer_ : kAnswerOk;
}

}  // namespace core
