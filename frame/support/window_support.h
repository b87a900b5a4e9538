// The Win32 support every program links, the installer included: the guarded forms of every kind
// of Win32 callback, window-class registration that only accepts a guarded procedure, the state a
// window keeps in GWLP_USERDATA, painting through one PaintContent for WM_PAINT and
// WM_PRINTCLIENT, and centring a window on the screen. Nothing here knows a program's frame.
//
// Every callback handed to Win32 is one of the guarded templates below, instantiated with a plain
// handler: a failure inside the handler is reported by the guard (callback_guard.h) and the
// callback returns a safe value, so no exception crosses Win32's frames.
#pragma once

#include <windows.h>

#include <string>

#include "frame/support/callback_guard.h"

namespace frame {

using WindowHandler = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DialogHandler = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using HookHandler = UINT_PTR (*)(HWND, UINT, WPARAM, LPARAM);
using EnumHandler = BOOL (*)(HWND, LPARAM);

// A window procedure. A failed WM_CREATE fails the creation; any other message answers 0.
template <WindowHandler Handler>
LRESULT CALLBACK guardedWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return guardCallback<LRESULT>(message == WM_CREATE ? -1 : 0,
                                  [&] { return Handler(window, message, wParam, lParam); });
}

// A dialog procedure: a failed message counts as not handled.
template <DialogHandler Handler>
INT_PTR CALLBACK guardedDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return guardCallback<INT_PTR>(FALSE, [&] { return Handler(dialog, message, wParam, lParam); });
}

// A common-dialog hook: a failed message leaves the default processing to the dialog.
template <HookHandler Handler>
UINT_PTR CALLBACK guardedHook(HWND child, UINT message, WPARAM wParam, LPARAM lParam) {
    return guardCallback<UINT_PTR>(0, [&] { return Handler(child, message, wParam, lParam); });
}

// A window enumeration callback: a failure stops the enumeration.
template <EnumHandler Handler>
BOOL CALLBACK guardedEnumCallback(HWND window, LPARAM param) {
    return guardCallback<BOOL>(FALSE, [&] { return Handler(window, param); });
}

// Registers a window class whose procedure is the guarded form of `Handler`; whatever
// `windowClass` holds in lpfnWndProc is replaced. Returns RegisterClassA's atom (0: failed).
template <WindowHandler Handler>
ATOM registerWindowClass(WNDCLASSA windowClass) {
    windowClass.lpfnWndProc = guardedWindowProcedure<Handler>;
    return RegisterClassA(&windowClass);
}

// Shows a failure that reached a callback: a system-modal error box with no owner, as the
// window that failed may be in no state to own it. The reporter each program installs.
void showCallbackFailure(const std::string& text);

// ---- window state ----

// The state a window keeps in GWLP_USERDATA, or nullptr before it was kept.
template <typename State>
State* stateOf(HWND window) {
    return reinterpret_cast<State*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Keeps `state` in the window; returns it.
template <typename State>
State* keepState(HWND window, State* state) {
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    return state;
}

// ---- painting ----

// WM_PAINT: BeginPaint, `paint(dc, client)`, EndPaint, the last even when painting fails.
template <typename Paint>
void OnPaint(HWND window, Paint&& paint) {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(window, &ps);
    struct EndOnExit {
        HWND window;
        PAINTSTRUCT* ps;
        ~EndOnExit() { EndPaint(window, ps); }
    } end{window, &ps};
    if (!dc) return;
    RECT client{};
    GetClientRect(window, &client);
    paint(dc, client);
}

// WM_PRINTCLIENT: the same painting into the caller's device context.
template <typename Paint>
void OnPrintClient(HWND window, HDC dc, Paint&& paint) {
    if (!dc) return;
    RECT client{};
    GetClientRect(window, &client);
    paint(dc, client);
}

// ---- placement ----

// Moves a top-level window, unsized and in its Z order, to the middle of the screen.
void centreOnScreen(HWND window);

}  // namespace frame
