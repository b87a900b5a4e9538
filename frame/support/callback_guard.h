// The one guard every Win32 callback of the programs and the installer runs its body in (window
// and dialog procedures, the open-dialog hook, the window enumeration callbacks): no exception may
// unwind through Win32's own frames, so a failure that reaches a callback is reported there and
// the callback returns a safe value.
//
// Portable: the programs install a reporter that shows a message box (showCallbackFailure);
// tests install one that records.
#pragma once

#include <exception>
#include <string>

namespace frame {

using FailureReporter = void (*)(const std::string& text);

// Installs the reporter (nullptr: failures are dropped); returns the previous one.
FailureReporter setFailureReporter(FailureReporter reporter);

// The report of a failure: `what` of the exception, or nullptr when it was none.
std::string callbackFailureText(const char* what);

// Reports through the installed reporter. A failure that happens while the report of another is
// showing (a message box runs its own message loop, which may fail again, as a failing paint
// does) is not reported again, so reports never pile up.
void reportCallbackFailure(const char* what) noexcept;

// Runs `body` and returns its result; on any exception reports it and returns `safe`.
template <typename Result, typename Body>
Result guardCallback(Result safe, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& failure) {
        reportCallbackFailure(failure.what());
    } catch (...) {
        reportCallbackFailure(nullptr);
    }
    return safe;
}

}  // namespace frame
