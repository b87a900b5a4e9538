#include "frame/message_sink.h"

#include <cstdarg>
#include <cstdio>
#include <utility>

#include "frame/busy.h"

namespace frame {

std::string formatMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(args);
    return text;
}

int RecordingSink::ask(std::string_view text, std::string_view caption, unsigned style) {
    events.push_back({RecordedEvent::Message, std::string(text), std::string(caption), style});
    return (style & kYesNo) ? questionAnswer : kAnswerOk;
}

std::vector<RecordedEvent> RecordingSink::messages() const {
    std::vector<RecordedEvent> out;
    for (const auto& e : events)
        if (e.kind == RecordedEvent::Message) out.push_back(e);
    return out;
}

void RecordingBusy::beginBusy() {
    sink_.events.push_back({RecordedEvent::BusyBegin, {}, {}, 0});
}
void RecordingBusy::endBusy() {
    sink_.events.push_back({RecordedEvent::BusyEnd, {}, {}, 0});
}

StderrSink::StderrSink(std::string programName, int questionAnswer)
    : programName_(std::move(programName)), questionAnswer_(questionAnswer) {}

int StderrSink::ask(std::string_view text, std::string_view caption, unsigned style) {
    const unsigned icon = style & 0xF0;
    if (icon == kIconError || icon == kIconWarning) ++refusals_;
    std::fprintf(stderr, "%s: %.*s: %.*s\n", programName_.c_str(), static_cast<int>(caption.size()),
                 caption.data(), static_cast<int>(text.size()), text.data());
    return (style & kYesNo) ? questionAnswer_ : kAnswerOk;
}

}  // namespace frame
