#include "frame/support/callback_guard.h"

#include "core/localized.h"

namespace frame {
namespace {

FailureReporter installed = nullptr;
bool reporting = false;

constexpr core::Localized kFailure{"An unexpected failure stopped this action:\n",
                                   "予期しない障害のため、この操作を中止しました:\n"};
constexpr core::Localized kUnknown{"(no description)", "(説明なし)"};

}  // namespace

FailureReporter setFailureReporter(FailureReporter reporter) {
    const FailureReporter previous = installed;
    installed = reporter;
    return previous;
}

std::string callbackFailureText(const char* what) {
    std::string text = core::text(kFailure);
    text += what && *what ? what : core::text(kUnknown);
    return text;
}

void reportCallbackFailure(const char* what) noexcept {
    if (!installed || reporting) return;
    reporting = true;
    try {
        installed(callbackFailureText(what));
    } catch (...) {
        // Nothing is left to report with.
    }
    reporting = false;
}

}  // namespace frame
