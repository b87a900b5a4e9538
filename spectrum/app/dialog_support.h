// Small helpers shared by voralin00's dialogs: a state pointer kept in the dialog, check marks,
// drop-down lists and the modal run with its failure message.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "frame/app_frame.h"

namespace voralin {

// Runs a modal dialog whose procedure finds `state` through GWLP_USERDATA (set on
// WM_INITDIALOG from lParam). Returns the end code, or -1 after reporting `failureText`.
template <typename State>
INT_PTR runDialog(HINSTANCE instance, HWND owner, const char* name, DLGPROC procedure, State& state,
                  const char* failureText) {
    const INT_PTR result =
        DialogBoxParamA(instance, name, owner, procedure, reinterpret_cast<LPARAM>(&state));
    if (result == -1) frame::reportDialogFailure(failureText);
    return result;
}

// The state of a dialog: stored on WM_INITDIALOG, found on every later message.
template <typename State>
State* dialogState(HWND dialog, UINT message, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
        return reinterpret_cast<State*>(lParam);
    }
    return reinterpret_cast<State*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
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

}  // namespace voralin
