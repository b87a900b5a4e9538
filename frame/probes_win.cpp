// The environment probes, the wait box and the placement of settings dialogs.
#include "frame/app_frame.h"

namespace frame {
namespace {

bool readRegistryText(const char* keyPath, const char* valueName, char (&buffer)[256]) {
    HKEY key = nullptr;
    // Full access on purpose: without those rights the version stays unknown (plain skin).
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const LONG status =
        RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    buffer[sizeof buffer - 1] = '\0';
    return status == ERROR_SUCCESS;
}

INT_PTR waitProcedure(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
            return TRUE;
        case WM_DESTROY:
            if (auto* frame =
                    reinterpret_cast<FrameContext*>(GetWindowLongPtrA(dialog, GWLP_USERDATA)))
                frame->waitBox = nullptr;
            return TRUE;
        default:
            return FALSE;
    }
}

void setTopmost(HWND window, HWND after) {
    HDWP defer = BeginDeferWindowPos(1);
    if (defer) defer = DeferWindowPos(defer, window, after, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    if (defer) EndDeferWindowPos(defer);
}

}  // namespace

int detectWindowsVersion(int previous) {
    char text[256] = {};
    if (readRegistryText("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion", text))
        return classifyNtCurrentVersion(text);
    char product[256] = {};
    if (readRegistryText("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "ProductName", product))
        return classify9xProductName(product);
    return previous;
}

bool detectUiLanguage() {
    return isJapaneseCodePage(GetACP());
}

void showWaitDialog(FrameContext& frame, HWND mainWindow) {
    setTopmost(mainWindow, HWND_TOPMOST);
    if (!frame.waitBox)
        frame.waitBox = CreateDialogParamA(frame.instance, frame.table->waitDialog, mainWindow,
                                           guardedDialogProcedure<waitProcedure>,
                                           reinterpret_cast<LPARAM>(&frame));
    // Painted once now: the work that follows runs on this thread.
    if (frame.waitBox) UpdateWindow(frame.waitBox);
    SetCursor(frame.waitCursor ? frame.waitCursor : LoadCursor(nullptr, IDC_WAIT));
}

void closeWaitDialog(FrameContext& frame, HWND mainWindow) {
    if (frame.waitBox) DestroyWindow(frame.waitBox);
    frame.waitBox = nullptr;
    SetCursor(frame.arrowCursor ? frame.arrowCursor : LoadCursor(nullptr, IDC_ARROW));
    setTopmost(mainWindow, HWND_NOTOPMOST);
}

void placeDialogTopRight(HWND dialog, int dialogTopOffset) {
    HWND parent = GetParent(dialog);
    RECT d{}, p{};
    if (!parent || !GetWindowRect(dialog, &d) || !GetWindowRect(parent, &p)) return;
    const Point at = topRightPlacement({d.left, d.top, d.right, d.bottom},
                                       {p.left, p.top, p.right, p.bottom}, dialogTopOffset);
    HDWP defer = BeginDeferWindowPos(1);
    if (defer)
        defer = DeferWindowPos(defer, dialog, nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    if (defer) EndDeferWindowPos(defer);
}

}  // namespace frame
