// The seams through which the portable engines reach the user.
//
// The engines never show a window or print. Every failure they meet becomes one message with a
// fixed text, caption and style, handed to a MessageSink that the caller supplies: MessageBoxA
// in the programs, stderr in the command-line tools, a recorder in the tests. The style bits
// carry the values of the Win32 MB_* flags, so the programs pass them through unchanged.
#pragma once

#include <string>
#include <string_view>

namespace core {

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

}  // namespace core
