// Copy BMP: the current picture (header, colour table, pixels) on the clipboard as CF_DIB.
#include <cstring>

#include "spectrum/app/app_state.h"

namespace voralin {

void copyBitmapCommand(AppState& app, HWND window) {
    const auto& block = app.image.dib.block;
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
