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

namespace frame {
namespace {

// A fixed text of ours (ASCII) in its wide form; a filter's embedded zeros and its final double
// zero come along.
std::wstring wideText(const char* text, bool doubleZeroEnded) {
    if (!text) return std::wstring();
    std::size_t length = std::char_traits<char>::length(text);
    if (doubleZeroEnded)
        while (text[length + 1] != '\0') length += 1 + std::char_traits<char>::length(text + length + 1);
    std::wstring wide;
    const int count = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length + 1), nullptr, 0);
    wide.resize(static_cast<std::size_t>(count) + 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length + 1), wide.data(), count);
    return wide;
}

}  // namespace

bool askFilePath(HWND owner, core::MessageSink& sink, const FileDialogRequest& request,
                 std::string& path) {
    std::vector<wchar_t> name(static_cast<std::size_t>(request.bufferChars), L'\0');
    const std::wstring filter = wideText(request.filter, true);
    const std::wstring title = wideText(request.title, false);
    const std::wstring extension = wideText(request.extension, false);
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
