// The plain common file dialogs both programs use for their file commands.
#include <windows.h>

#include <commdlg.h>

#include <vector>

#include "frame/app_frame.h"

namespace frame {

bool askFilePath(HWND owner, core::MessageSink& sink, const FileDialogRequest& request,
                 std::string& path) {
    std::vector<char> name(static_cast<std::size_t>(request.bufferChars), '\0');
    OPENFILENAMEA ofn{};
    // The size without the Windows 2000 fields: accepted by every version, 32 or 64 bits.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = request.filter;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrTitle = request.title;
    ofn.lpstrDefExt = request.extension;
    ofn.Flags = request.flags;
    const BOOL chosen = request.save ? GetSaveFileNameA(&ofn) : GetOpenFileNameA(&ofn);
    if (!chosen) {
        if (const DWORD code = CommDlgExtendedError())
            sink.ask(core::formatMessage(request.save ? "GetSaveFileName error 0x%lx"
                                                : "GetOpenFileName error 0x%lx",
                                   static_cast<unsigned long>(code)),
                     request.errorCaption, core::kIconError);
        return false;
    }
    path = name.data();
    return true;
}

}  // namespace frame
