// The Win32 support's few out-of-line parts: the failure boxes and the centring.
#include "frame/support/dialog_support.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"

namespace frame {

void showCallbackFailure(const std::string& text) {
    MessageBoxW(nullptr, wideText(text).c_str(), L"Error", MB_SYSTEMMODAL | MB_ICONERROR);
}

void reportDialogFailure(const char* text) {
    MessageBoxW(nullptr, wideText(text ? text : "").c_str(), L"System Error",
                MB_SYSTEMMODAL | MB_ICONERROR);
}

void centreOnScreen(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace frame
