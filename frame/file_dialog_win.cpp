// The plain common file dialogs both programs use for their file commands.
//
// The dialogs run in their wide form and hand the chosen path back as UTF-8, the form the engines
// open files by, so a name in any script reaches the file; what the dialogs show is unchanged.
#include <windows.h>

#include <commdlg.h>

#include <string>
#include <vector>

#include "core/wide_path.h"
#include "frame/app_frame.h"
#include "frame/support/wide_text.h"

namespace frame {
namespace {

// A fixed text of ours in its wide form; a filter's embedded zeros and its final double zero
// come along.
std::wstring dialogText(const char* text, bool doubleZeroEnded) {
    std::wstring wide;
    if (!text) return wide;
    do {
        const std::size_t length = std::char_traits<char>::length(text);
        wide += frame::wideText(std::string_view(text, length));
        wide += L'\0';
        text += length + 1;
    } while (doubleZeroEnded && *text);
    if (doubleZeroEnded) wide += L'\0';
    return wide;
}

}  // namespace

bool askFilePath(HWND owner, core::MessageSink& sink, const FileDialogRequest& request,
                 std::string& path) {
    std::vector<wchar_t> name(static_cast<std::size_t>(request.bufferChars), L'\0');
    const std::wstring filter = dialogText(request.filter, true);
    const std::wstring title = dialogText(request.title, false);
    const std::wstring extension = dialogText(request.extension, false);
    OPENFILENAMEW ofn{};
    // The size without the Windows 2000 fields: accepted by every version, 32 or 64 bits.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = request.filter ? filter.c_str() : nullptr;
    ofn.lpstrFile = name.data();
    ofn.nMaxFile = static_cast<DWORD>(name.size());
    ofn.lpstrTitle = request.title ? title.c_str() : nullptr;
    ofn.lpstrDefExt = request.extension ? extension.c_str() : nullptr;
    ofn.Flags = request.flags;
    const BOOL chosen = request.save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!chosen) {
        if (const DWORD code = CommDlgExtendedError())
            sink.ask(core::formatMessage(request.save ? "GetSaveFileName error 0x%lx"
                                                      : "GetOpenFileName error 0x%lx",
                                         static_cast<unsigned long>(code)),
                     request.errorCaption, core::kIconError);
        return false;
    }
    path = core::utf8Path(name.data());
    return true;
}

}  // namespace frame
