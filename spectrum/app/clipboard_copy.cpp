// Copy BMP: the current picture (header, colour table, pixels) on the clipboard as CF_DIB; the
// live spectrum's picture goes the same way.
#include <cstring>

#include "spectrum/app/app_state.h"

namespace voralin {

void copyBitmapCommand(AppState& app, HWND window) {
    copyBlockToClipboard(app, window, app.image.dib.block);
}

void copyBlockToClipboard(AppState& app, HWND window, const std::vector<std::uint8_t>& block) {
    if (block.empty()) return;
    SetCursor(app.frame.waitCursor);
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, block.size());
    void* bytes = copy ? GlobalLock(copy) : nullptr;
    if (!bytes) {
        if (copy) GlobalFree(copy);
        SetCursor(app.frame.arrowCursor);
        app.sink.ask("Unable to allocate clipboard memory.", "Memory Error", core::kIconError);
        return;
    }
    std::memcpy(bytes, block.data(), block.size());
    GlobalUnlock(copy);
    // The clipboard owns the copy only once SetClipboardData succeeds; otherwise it is ours.
    bool handedOver = false;
    if (OpenClipboard(window)) {
        EmptyClipboard();
        handedOver = SetClipboardData(CF_DIB, copy) != nullptr;
        CloseClipboard();
    }
    if (!handedOver) GlobalFree(copy);
    SetCursor(app.frame.arrowCursor);
}

}  // namespace voralin
