// Test doubles of the seams: a message sink and a busy indicator that record into one ordered
// log, and a disk whose answers the test sets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/busy.h"
#include "core/disk.h"
#include "core/message_sink.h"

namespace core {

// Remembers every message and every busy transition in one ordered log, so a test can assert
// exact texts and that a busy state ended before the message that followed it.
struct RecordedEvent {
    enum Kind { Message, BusyBegin, BusyEnd } kind = Message;
    std::string text;
    std::string caption;
    unsigned style = 0;
};

class RecordingSink : public MessageSink {
  public:
    int ask(std::string_view text, std::string_view caption, unsigned style) override;
    // Messages only, in order.
    std::vector<RecordedEvent> messages() const;
    // Every event, messages and busy transitions, in order.
    std::vector<RecordedEvent> events;
    // The answer given to questions (kYesNo); plain messages get kAnswerOk.
    int questionAnswer = kAnswerYes;
};

// Records the transitions into a RecordingSink's event log.
class RecordingBusy final : public BusyIndicator {
  public:
    explicit RecordingBusy(RecordingSink& sink) : sink_(sink) {}
    void beginBusy() override;
    void endBusy() override;

  private:
    RecordingSink& sink_;
};

// A disk whose answers a test sets.
class FakeDisk final : public DiskServices {
  public:
    bool hasFreeDiskSpace(const std::string&, std::uint64_t bytes) override {
        return bytes <= freeBytes;
    }
    bool isFixedDrive(const std::string&) override { return fixed; }
    std::uint64_t freeBytes = UINT64_MAX;
    bool fixed = true;
};

}  // namespace core
