#include "tests/doubles/recording.h"

namespace core {

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

}  // namespace core
