// The seams through which the portable engines reach the user.
//
// The engines never show a window or print. Every failure they meet becomes one message with a
// fixed text, caption and style, handed to a MessageSink that the caller supplies: MessageBoxA
// in the programs, stderr in the command-line tools, a recorder in the tests. The style bits
// carry the values of the Win32 MB_* flags, so the programs pass them through unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace frame {

// Message styles (MB_* values).
inline constexpr unsigned kOkOnly = 0x0;
inline constexpr unsigned kYesNo = 0x4;
inline constexpr unsigned kIconError = 0x10;
inline constexpr unsigned kIconQuestion = 0x20;
inline constexpr unsigned kIconWarning = 0x30;
inline constexpr unsigned kIconInformation = 0x40;
inline constexpr unsigned kSystemModal = 0x1000;

// Answers (ID* values).
inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerCancel = 2;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    // Shows one message and returns the answer (kAnswerOk for a plain message box).
    virtual int ask(std::string_view text, std::string_view caption, unsigned style) = 0;
};

// Formats a printf-style message text; the engines' texts carry %s, %d, %lx and similar.
std::string formatMessage(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

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

}  // namespace frame
