// Checks of the Win32 support library under Wine, where Win32 itself calls the guarded callbacks:
// a failure in a window's creation fails the creation, one in any other message answers the safe
// value, one in an enumeration stops it, each reported once and none crossing Win32's frames.
// Also the wide-text conversion and the centring. Prints "N passed, M failed"; exits 1 on a
// failure.
#include <windows.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/support/callback_guard.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"

namespace {

int passed = 0, failed = 0;

void expect(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    ++(ok ? passed : failed);
}

std::vector<std::string> reports;
void record(const std::string& text) {
    reports.push_back(text);
}

bool reported(const char* what) {
    return reports.size() == 1 && reports[0].find(what) != std::string::npos;
}

constexpr UINT kThrow = WM_APP + 1, kAnswer = WM_APP + 2;

LRESULT failingHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE && wParam == 0 &&
        reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams)
        throw std::runtime_error("creation refused");
    if (message == kThrow) throw std::out_of_range("row 101");
    if (message == kAnswer) return 42;
    return DefWindowProcA(window, message, wParam, lParam);
}

BOOL failingEnumeration(HWND, LPARAM param) {
    ++*reinterpret_cast<int*>(param);
    throw std::runtime_error("enumeration broke");
}

HWND makeWindow(HINSTANCE instance, void* param, int width, int height) {
    return CreateWindowExA(0, "FrameSupportCheck", "", WS_POPUP, 0, 0, width, height, nullptr,
                           nullptr, instance, param);
}

}  // namespace

int main() {
    frame::setFailureReporter(record);
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.hInstance = instance;
    windowClass.lpfnWndProc = DefWindowProcA;  // replaced by the guarded procedure
    windowClass.lpszClassName = "FrameSupportCheck";
    expect(frame::registerWindowClass<failingHandler>(windowClass) != 0, "class registered");

    // A failed WM_CREATE fails CreateWindow, reported once.
    int refuse = 1;
    reports.clear();
    expect(makeWindow(instance, &refuse, 200, 100) == nullptr, "failed creation gives no window");
    expect(reported("creation refused"), "failed creation reported once");

    reports.clear();
    HWND window = makeWindow(instance, nullptr, 200, 100);
    expect(window != nullptr && reports.empty(), "window created, nothing reported");
    if (window) {
        // Sent through Win32: the registered procedure is the guarded one.
        expect(SendMessageA(window, kAnswer, 0, 0) == 42, "a handled message's answer comes back");
        expect(SendMessageA(window, kThrow, 0, 0) == 0, "a failed message answers 0");
        expect(reported("row 101"), "failed message reported once");
        // The registered procedure is the guarded form, not the one the class was given.
        expect(GetClassLongPtrA(window, GCLP_WNDPROC) ==
                   reinterpret_cast<ULONG_PTR>(&frame::guardedWindowProcedure<failingHandler>),
               "the class's procedure is the guarded handler");

        frame::centreOnScreen(window);
        RECT r{};
        GetWindowRect(window, &r);
        expect(r.left == (GetSystemMetrics(SM_CXSCREEN) - 200) / 2 &&
                   r.top == (GetSystemMetrics(SM_CYSCREEN) - 100) / 2 &&
                   r.right - r.left == 200 && r.bottom - r.top == 100,
               "centred on the screen, size kept");
        DestroyWindow(window);
    }

    // A failed enumeration callback stops the enumeration after its first window.
    reports.clear();
    int calls = 0;
    EnumWindows(frame::guardedEnumCallback<failingEnumeration>, reinterpret_cast<LPARAM>(&calls));
    expect(calls == 1 && reported("enumeration broke"), "failed enumeration stops, reported once");

    // UTF-8 both ways; a text that is no UTF-8 is read in the ANSI code page.
    const std::wstring wide = frame::wideText("\xE6\xA0\xA1\xE6\xAD\xA3 \xC3\x85 \xF0\x9F\x94\xAC");
    expect(wide == L"\u6821\u6B63 \u00C5 \U0001F52C", "UTF-8 to UTF-16");
    expect(frame::utf8Text(wide) == "\xE6\xA0\xA1\xE6\xAD\xA3 \xC3\x85 \xF0\x9F\x94\xAC",
           "UTF-16 back to the same UTF-8");
    const char ansi[] = "caf\xE9";
    wchar_t expected[8] = {};
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, expected, 8);
    expect(frame::wideText(ansi) == expected, "a text that is no UTF-8 taken in the ANSI code page");
    expect(frame::wideText("").empty() && frame::utf8Text(L"").empty(), "empty stays empty");

    std::printf("frame-support: %d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
