// Process BMP: contrast and brightness in steps, with a before-and-after preview of the square at
// the centre of the shown picture. The preview is taken from the picture's own pixels and colour
// table, which is what the screen shows for the grey pictures this command works on.
#include <vector>

#include "frame/support/dialog_support.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/contrast.h"

namespace voralin {
namespace {

struct ProcessDialog {
    AppState* app = nullptr;
    int size = 0;                       // the preview is size x size
    std::vector<std::uint32_t> before;  // 0x00RRGGBB, top row first
    std::vector<std::uint8_t> levels;   // blue component of each preview pixel
    std::vector<std::uint32_t> after;
    int contrast = 0, brightness = 0;
};

// Reads the preview square of the shown picture.
bool takePreview(AppState& app, const spectrum::PreviewPlacement& place, ProcessDialog& d) {
    spectrum::GreyPixels pixels;
    if (!spectrum::greyPixelsOf(app.image, app.geometry, pixels)) return false;
    const int vr = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    const std::uint8_t* table = app.image.dib.block.data() + image::kInfoHeaderSize;
    d.size = place.size;
    d.before.resize(std::size_t(d.size) * d.size);
    d.levels.resize(d.before.size());
    for (int y = 0; y < d.size; ++y)
        for (int x = 0; x < d.size; ++x) {
            const int px = std::min((place.left + x) * vr, pixels.width - 1);
            const int py = std::min((place.top + y) * vr, pixels.height - 1);
            const std::uint8_t* c = table + 4 * pixels.at(px, py);
            const std::size_t i = std::size_t(y) * d.size + x;
            d.before[i] = (std::uint32_t(c[2]) << 16) | (std::uint32_t(c[1]) << 8) | c[0];
            d.levels[i] = c[0];
        }
    return true;
}

void computeAfter(ProcessDialog& d) {
    d.after.resize(d.levels.size());
    for (std::size_t i = 0; i < d.levels.size(); ++i) {
        const std::uint32_t q = spectrum::adjustedLevel(d.levels[i], d.contrast, d.brightness);
        d.after[i] = (q << 16) | (q << 8) | q;
    }
}

void drawPreview(HDC dc, int x, int y, int size, const std::vector<std::uint32_t>& pixels) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, x, y, size, size, 0, 0, 0, size, pixels.data(), &info, DIB_RGB_COLORS);
    RECT edge{x - 2, y - 2, x + size + 2, y + size + 2};
    DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
}

RECT previewOrigins(HWND dialog) {
    RECT r{10, 25, 90, 25};
    MapDialogRect(dialog, &r);
    return r;  // left/top: the original; right/bottom: the modified
}

void updateButtons(HWND dialog, const ProcessDialog& d) {
    EnableWindow(GetDlgItem(dialog, IDC_CONTRASTUP), d.contrast <= 9);
    EnableWindow(GetDlgItem(dialog, IDC_CONTRASTDOWN), d.contrast >= -9);
    EnableWindow(GetDlgItem(dialog, IDC_BRIGHTUP), d.brightness <= 9);
    EnableWindow(GetDlgItem(dialog, IDC_BRIGHTDOWN), d.brightness >= -9);
}

void OnProcessCommand(HWND dialog, ProcessDialog& d, int id) {
    switch (id) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, id);
            return;
        case IDC_CONTRASTUP:
            ++d.contrast;
            break;
        case IDC_CONTRASTDOWN:
            --d.contrast;
            break;
        case IDC_BRIGHTUP:
            ++d.brightness;
            break;
        case IDC_BRIGHTDOWN:
            --d.brightness;
            break;
        default:
            return;
    }
    SetCursor(d.app->frame.waitCursor);
    computeAfter(d);
    updateButtons(dialog, d);
    const RECT o = previewOrigins(dialog);
    RECT modified{o.right, o.bottom, o.right + d.size, o.bottom + d.size};
    InvalidateRect(dialog, &modified, FALSE);
    UpdateWindow(dialog);
    SetCursor(d.app->frame.arrowCursor);
}

INT_PTR processProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    ProcessDialog* d = frame::dialogState<ProcessDialog>(dialog, message, lParam);
    if (!d) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            computeAfter(*d);
            updateButtons(dialog, *d);
            return TRUE;
        case WM_COMMAND:
            OnProcessCommand(dialog, *d, LOWORD(wParam));
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps{};
            HDC dc = BeginPaint(dialog, &ps);
            const RECT o = previewOrigins(dialog);
            drawPreview(dc, o.left, o.top, d->size, d->before);
            drawPreview(dc, o.right, o.bottom, d->size, d->after);
            EndPaint(dialog, &ps);
            return TRUE;
        }
        case WM_CLOSE:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void processBitmapCommand(AppState& app, HWND window) {
    leaveCircleMode(app, true);
    const int vr = app.image.viewReduction > 0 ? app.image.viewReduction : 1;
    const auto place = spectrum::choosePreview(app.geometry, vr, app.sink);
    if (!place) return;
    ProcessDialog d;
    d.app = &app;
    if (!takePreview(app, *place, d)) return;
    const INT_PTR result = frame::runDialog<processProcedure>(
        app.frame.instance, window, "BMPPROCESS_DLG", d, "Unable to display dialog");
    if (result != IDOK) return;
    SetCursor(app.frame.waitCursor);
    spectrum::adjustContrastBrightness(app.image, app.geometry, d.contrast, d.brightness);
    SetCursor(app.frame.arrowCursor);
    frame::repaintPicture(window, false);
}

}  // namespace voralin
