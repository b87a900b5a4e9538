// The dialog skeleton every program shares, the installer included: the modal run with its
// failure message, the state pointer kept in the dialog, check marks and drop-down lists. A dialog
// is one .cpp with a small state struct, a handler run through guardedDialogProcedure, and a
// wrapper that calls runDialog.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "frame/support/window_support.h"

namespace frame {

// The message shown when a dialog cannot be created: `text` (UTF-8, or the ANSI code page),
// caption "System Error", system-modal, no owner.
void reportDialogFailure(const char* text);

// Runs a modal dialog whose handler finds `state` through GWLP_USERDATA (set on WM_INITDIALOG
// from lParam). Returns the end code, or -1 after reporting `failureText` when the dialog could
// not be shown (DialogBoxParam answers -1, or 0 for an owner that is no window).
// `afterClose` (optional) runs once the dialog is over, before any failure is reported.
template <DialogHandler Handler, typename State, typename AfterClose = void (*)()>
INT_PTR runDialog(
    HINSTANCE instance, HWND owner, const char* name, State& state, const char* failureText,
    AfterClose afterClose = [] {}) {
    const INT_PTR result = DialogBoxParamA(instance, name, owner, guardedDialogProcedure<Handler>,
                                           reinterpret_cast<LPARAM>(&state));
    afterClose();
    if (result == -1 || result == 0) {
        reportDialogFailure(failureText);
        return -1;
    }
    return result;
}

// The state of a dialog: stored on WM_INITDIALOG, found on every later message.
template <typename State>
State* dialogState(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) return keepState(dialog, reinterpret_cast<State*>(lParam));
    return stateOf<State>(dialog);
}

inline void setMark(HWND dialog, int id, bool on) {
    CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

// Fills a drop-down list with `count` entries named by `text` and selects `selected`.
inline void fillList(HWND dialog, int id, int count, const std::function<std::string(int)>& text,
                     int selected) {
    HWND list = GetDlgItem(dialog, id);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < count; ++i)
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text(i).c_str()));
    SendMessageA(list, CB_SETCURSEL, selected, 0);
}

inline void selectEntry(HWND dialog, int id, int index) {
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, index, 0);
}

// The selected entry of a list, or -1.
inline int selectedEntry(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

inline std::string numberText(int value) {
    return std::to_string(value);
}

}  // namespace frame
