// Open BMP: the Explorer-style open dialog with the image-information line, then the engine's
// Open pipeline (checks, normalising, loading).
#include "frame/app_frame.h"
#include "frame/support/window_support.h"
#include "spectrum/app/app_state.h"

#include <commdlg.h>

#include <algorithm>

#include "core/disk.h"
#include "core/localized.h"
#include "frame/support/wide_text.h"
#include "core/wide_path.h"
#include "image/file_io.h"
#include "image/import.h"
#include "image/open_image.h"

namespace voralin {
namespace {

constexpr char kOpenTitle[] = "Select a bitmap file for FFT.";
constexpr wchar_t kOpenTitleWide[] = L"Select a bitmap file for FFT.";
constexpr int kPathChars = 258;

// Widens the information lines to the dialog's width and makes them read-only. The second line
// (a microscope image's calibration, instrument and place in a stack) sits under the first.
void widenInformationBox(HWND child) {
    HWND dialog = nullptr;
    for (int i = 0; i < 100 && !dialog; ++i) {
        dialog = FindWindowExA(nullptr, nullptr, nullptr, kOpenTitle);
        if (!dialog) Sleep(50);
    }
    if (!dialog) return;
    for (const int id : {IDC_IMAGEINFO, IDC_IMAGEINFO2}) {
        HWND box = GetDlgItem(child, id);
        if (!box) continue;
        RECT d{}, b{};
        GetWindowRect(dialog, &d);
        GetWindowRect(box, &b);
        POINT at{b.left, b.top};
        ScreenToClient(child, &at);
        MoveWindow(box, at.x, at.y, d.right - 20 - b.left, b.bottom - b.top, TRUE);
        SetWindowLongA(box, GWL_STYLE, GetWindowLongA(box, GWL_STYLE) | WS_VISIBLE | WS_DISABLED);
    }
}

// Makes the information lines as wide as their longer text needs, widening the dialog with
// them when it is narrower (never narrower than they are).
void fitInformationLines(HWND child) {
    HWND dialog = GetParent(child);
    int need = 0, have = 0;
    for (const int id : {IDC_IMAGEINFO, IDC_IMAGEINFO2}) {
        HWND box = GetDlgItem(child, id);
        if (!box) continue;
        wchar_t text[1024] = {};
        const int length = GetWindowTextW(box, text, 1024);
        HDC dc = GetDC(box);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(box, WM_GETFONT, 0, 0)));
        SIZE extent{};
        GetTextExtentPoint32W(dc, text, length, &extent);
        SelectObject(dc, old);
        ReleaseDC(box, dc);
        RECT inner{}, outer{};
        SendMessageW(box, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&inner));
        GetWindowRect(box, &outer);
        // The box's border and margins around its formatting rectangle, and a caret's room.
        const int frame = (outer.right - outer.left) - (inner.right - inner.left);
        need = std::max(need, static_cast<int>(extent.cx) + frame + 2);
        have = outer.right - outer.left;
    }
    if (need <= have) return;
    const int grow = need - have;
    RECT d{}, c{};
    GetWindowRect(dialog, &d);
    GetWindowRect(child, &c);
    SetWindowPos(dialog, nullptr, 0, 0, d.right - d.left + grow, d.bottom - d.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(child, nullptr, 0, 0, c.right - c.left + grow, c.bottom - c.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const int id : {IDC_IMAGEINFO, IDC_IMAGEINFO2}) {
        HWND box = GetDlgItem(child, id);
        RECT b{};
        GetWindowRect(box, &b);
        SetWindowPos(box, nullptr, 0, 0, need, b.bottom - b.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

// A microscope image's two lines; the second without the joining comma.
void showMicroscopeLines(HWND child, const std::pair<std::string, std::string>& lines) {
    std::string second = lines.second;
    if (second.rfind(", ", 0) == 0)
        second.erase(0, 2);
    else if (second.rfind("\xE3\x80\x81", 0) == 0)  // the Japanese comma
        second.erase(0, 3);
    SetDlgItemTextW(child, IDC_IMAGEINFO, core::widePath(lines.first).c_str());
    SetDlgItemTextW(child, IDC_IMAGEINFO2, core::widePath(second).c_str());
}

// The information line for a microscope image: format, sample type, size, range and pixel size,
// read quietly (a file too large to read while browsing shows its format only).
class QuietSink final : public core::MessageSink {
  public:
    int ask(std::string_view, std::string_view, unsigned) override { return core::kAnswerOk; }
};

std::pair<std::string, std::string> describeMicroscopeFile(const std::string& path) {
    const auto format = image::formatOfPath(path);
    if (!format || *format == image::ImageFormat::Bmp) return {};
    image::FileHandle file(image::fopenUtf8(path, "rb"));
    const auto size = file ? image::fileSize(file.get()) : std::nullopt;
    file.close();
    if (!size) return {};
    // A series is read one image at a time, so its size does not matter here.
    const bool oneImage = *format == image::ImageFormat::Ser;
    if (!oneImage && *size > (std::uint64_t{64} << 20)) return {image::formatName(*format), ""};
    QuietSink quiet;
    const auto imported = image::importImageFile(path, *format, quiet);
    return imported ? image::describeImportLines(*imported) : std::pair<std::string, std::string>{};
}

UINT_PTR openHook(HWND child, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message != WM_NOTIFY) return FALSE;
    const auto* notify = reinterpret_cast<OFNOTIFYW*>(lParam);
    HWND dialog = GetParent(child);
    switch (notify->hdr.code) {
        case CDN_INITDONE:
            widenInformationBox(child);
            break;
        case CDN_SELCHANGE: {
            wchar_t path[kPathChars + 1] = {};
            const LRESULT length =
                SendMessageW(dialog, CDM_GETFILEPATH, kPathChars, reinterpret_cast<LPARAM>(path));
            if (length > 0 && length <= kPathChars) {
                const std::string chosen = core::utf8Path(path);
                const auto text = image::describeBitmapFile(chosen);
                if (text) {
                    SetDlgItemTextA(child, IDC_IMAGEINFO, text->c_str());
                    SetDlgItemTextA(child, IDC_IMAGEINFO2, "");
                } else {
                    showMicroscopeLines(child, describeMicroscopeFile(chosen));
                }
                fitInformationLines(child);
            }
            break;
        }
        case CDN_FOLDERCHANGE: {
            wchar_t folder[kPathChars + 1] = {};
            const LRESULT length = SendMessageW(dialog, CDM_GETFOLDERPATH, kPathChars,
                                                reinterpret_cast<LPARAM>(folder));
            if (length > 0 && length <= kPathChars) {
                SetDlgItemTextA(child, IDC_IMAGEINFO, "");
                SetDlgItemTextA(child, IDC_IMAGEINFO2, "");
            }
            break;
        }
        default:
            break;
    }
    return FALSE;
}

// `path` is UTF-8: the name is upper-cased in its wide form. (The main window is an ANSI window,
// so its title shows what the ANSI code page can, as before.) A region cut out of the file says
// where it lies in it instead of the image's size.
void setImageTitle(HWND window, const std::string& path, const image::ImageGeometry& g,
                   const std::optional<spectrum::Box>& region, const std::wstring& suffix) {
    static constexpr core::Localized kRegionOf{"region %d, %d, %d x %d of ",
                                               "領域 %d, %d, %d x %d / "};
    const auto slash = path.find_last_of('\\');
    std::wstring name = core::widePath(path.substr(slash == std::string::npos ? 0 : slash + 1));
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    if (region) {
        const std::wstring where = frame::wideText(core::formatMessage(
            core::text(kRegionOf), region->x, region->y, region->side, region->side));
        SetWindowTextW(window, (L"Orbilux [II] - " + where + name + suffix).c_str());
        return;
    }
    const std::wstring size = core::widePath(core::formatMessage(
        " (%ldW x %ldH)", static_cast<long>(g.width), static_cast<long>(g.height)));
    SetWindowTextW(window, (L"Orbilux [II] - " + name + size + suffix).c_str());
}

}  // namespace

void openImageCommand(AppState& app, HWND window) {
    // Open ends the placement of mask circles, whether or not circles exist.
    if (app.circlePlacement) {
        leaveCircleMode(app, false);
        app.circlePlacement = false;
    }

    // The wide dialog, so a name in any script reaches the engine (as UTF-8).
    wchar_t file[kPathChars] = {};
    OPENFILENAMEW ofn{};
    // The size without the Windows 2000 fields, as the hook template expects.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = window;
    ofn.hInstance = app.frame.instance;
    // The bitmap entry is the same in both languages; the microscope formats' label is not.
    ofn.lpstrFilter =
        app.frame.japaneseUi
            ? L"Bitmap (*.bmp)\0*.bmp\0"
              L"\u9855\u5fae\u93e1\u753b\u50cf (*.dm3;*.dm4;*.tif;*.tiff;*.mrc;*.png;*.emd;*.ser)\0"
              L"*.dm3;*.dm4;*.tif;*.tiff;*.mrc;*.png;*.emd;*.ser\0"
            : L"Bitmap (*.bmp)\0*.bmp\0"
              L"Microscope images (*.dm3;*.dm4;*.tif;*.tiff;*.mrc;*.png;*.emd;*.ser)\0"
              L"*.dm3;*.dm4;*.tif;*.tiff;*.mrc;*.png;*.emd;*.ser\0";
    ofn.nFilterIndex = app.openFileType == spectrum::FileType::MicroscopeImages ? 2 : 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = kPathChars;
    ofn.lpstrTitle = kOpenTitleWide;
    ofn.Flags =
        OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_ENABLETEMPLATE | OFN_ENABLEHOOK | OFN_HIDEREADONLY;
    ofn.lpfnHook = frame::guardedHook<openHook>;
    ofn.lpTemplateName = MAKEINTRESOURCEW(app.frame.japaneseUi ? IDD_OPENCHILD_J : IDD_OPENCHILD);
    const BOOL chosen = GetOpenFileNameW(&ofn);
    if (!chosen) {
        if (const DWORD code = CommDlgExtendedError()) {
            app.sink.ask(core::formatMessage("GetOpenFileName error 0x%lx",
                                             static_cast<unsigned long>(code)),
                         "Open Error", core::kIconError);
            return;
        }
    }
    frame::repaintButtonBand(app.frame, window, IDB_OPEN, true);
    if (!chosen) return;
    app.openFileType =
        ofn.nFilterIndex == 2 ? spectrum::FileType::MicroscopeImages : spectrum::FileType::Bitmap;
    rememberChoices(app);
    openImagePath(app, window, core::utf8Path(file), {});
}

void openImagePath(AppState& app, HWND window, const std::string& path,
                   const image::ImportChoice& choice) {
    endLiveView(app);  // the box belonged to the image shown
    RECT client{};
    GetClientRect(window, &client);
    frame::WaitBox busy(app.frame);
    image::ImportChoice binned = choice;
    binned.bin = app.binFactor;
    image::OpenOutcome outcome = image::openImageFile(
        path, app.image, app.sink, busy, core::systemDisk(),
        spectrum::pictureAreaOf(client.right, client.bottom),
        [&app] {
            app.settings.filter.circles.clear();
            app.buffers.release();
            if (app.state == ImageState::NoImage) frame::releaseLogo(app.frame);
        }, binned);
    if (outcome.result == image::OpenResult::Refused) return;
    app.region.reset();
    // From here the previous work is gone, whether or not the new picture loaded.
    if (outcome.result != image::OpenResult::Opened) {
        // Nothing to show: back to the logo and the plain title, every image button off.
        image::freeBitmap(app.image);
        setImageState(app, ImageState::NoImage);
        app.openedPath.clear();
        frame::loadLogo(app.frame);
        SetWindowTextA(window, app.frame.table->finalTitle);
        enableSpecialSetting(window, true);
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
        return;
    }
    setImageState(app, ImageState::ImageOpened);
    app.geometry = outcome.geometry;
    app.openedPath = path;
    imageOpened(app, window, outcome);
    refreshImageTitle(app, window);
    frame::repaintPicture(window, true);
    enableSpecialSetting(window, true);
}

void refreshImageTitle(AppState& app, HWND window) {
    if (app.openedPath.empty()) return;
    setImageTitle(window, app.openedPath, app.geometry, app.region,
                  core::widePath(imageTitleSuffix(app)));
}

}  // namespace voralin
