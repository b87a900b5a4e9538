// The shared window plumbing: the failure box of the callback guard, WM_SETCURSOR and the repaints
// below and inside the icon bar.
#include "frame/window_support.h"

#include <string>

#include "core/icon_bar.h"

namespace frame {

void showCallbackFailure(const std::string& text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    MessageBoxW(nullptr, wide.c_str(), L"Error", MB_SYSTEMMODAL | MB_ICONERROR);
}

LRESULT OnSetCursor(FrameContext& frame, HWND window, WPARAM wParam, LPARAM lParam) {
    DefWindowProcA(window, WM_SETCURSOR, wParam, lParam);
    updateHoverLabel(frame, window);
    return 0;
}

void repaintPicture(HWND window, bool erase) {
    RECT client{};
    GetClientRect(window, &client);
    client.top = core::kIconBarHeight;
    InvalidateRect(window, &client, erase);
    UpdateWindow(window);
}

void repaintButtonBand(const FrameContext& frame, HWND window, int buttonId, bool erase) {
    const PixelRect band = buttonBand(*frame.table->iconBar, buttonId);
    if (band.empty()) return;
    const RECT r{band.left, band.top, band.right, band.bottom};
    InvalidateRect(window, &r, erase);
    UpdateWindow(window);
}

}  // namespace frame
