// The icon bar "IconBarWindow": owner-drawn bitmap buttons that send commands to the main window,
// and the hover label that the main window draws under the button beneath the cursor. The label
// saves and restores the pixels under it one by one, so the picture beneath is never repainted.
#include "frame/app_frame.h"

namespace frame {
namespace {

constexpr char kIconBarClass[] = "IconBarWindow";
// The buttons fill the bar below its one-pixel separator line.
constexpr int kButtonHeight = kIconBarHeight - 1;

void onCreate(HWND bar, FrameContext& frame) {
    if (!frame.probesDone) frame.winVersionCode = detectWindowsVersion(frame.winVersionCode);
    const int cxScreen = GetSystemMetrics(SM_CXSCREEN);
    const int cyBorder = GetSystemMetrics(SM_CYBORDER);
    frame.buttons.clear();
    for (const auto& entry : *frame.table->iconBar) {
        const int width = entry.width > 0 ? entry.width : cxScreen - entry.x;
        HWND button = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW,
                                      entry.x, cyBorder, width, kButtonHeight, bar,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)),
                                      frame.instance, nullptr);
        if (button && !entry.enabledAtStart) EnableWindow(button, FALSE);
        frame.buttons.push_back(button);
    }
}

const IconButtonSpec* specOf(const FrameContext& frame, int id) {
    for (const auto& entry : *frame.table->iconBar)
        if (entry.id == id) return &entry;
    return nullptr;
}

void onDrawItem(HWND bar, const FrameContext& frame, const DRAWITEMSTRUCT& item) {
    if (item.CtlType != ODT_BUTTON) return;
    const IconButtonSpec* entry = specOf(frame, static_cast<int>(item.CtlID));
    if (!entry) return;
    const ButtonState state =
        drawnButtonState(IsWindowEnabled(item.hwndItem) != 0, (item.itemState & ODS_SELECTED) != 0);
    const std::string name = buttonBitmapName(entry->stem, buttonSkin(frame.winVersionCode), state);
    HBITMAP bitmap = LoadBitmapA(frame.instance, name.c_str());
    if (item.itemAction & (ODA_DRAWENTIRE | ODA_SELECT)) {
        HDC memory = CreateCompatibleDC(item.hDC);
        if (memory) {
            HGDIOBJ old = bitmap ? SelectObject(memory, bitmap) : nullptr;
            if (old)
                BitBlt(item.hDC, 0, 0, item.rcItem.right - item.rcItem.left,
                       item.rcItem.bottom - item.rcItem.top, memory, 0, 0, SRCCOPY);
            if (old) SelectObject(memory, old);
            DeleteDC(memory);
        }
    }
    if (bitmap) DeleteObject(bitmap);

    // The separator line along the top of the strip.
    HDC dc = GetDC(bar);
    RECT client{};
    GetClientRect(bar, &client);
    HPEN pen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNFACE));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    MoveToEx(dc, 0, 0, nullptr);
    LineTo(dc, client.right, 0);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    ReleaseDC(bar, dc);
}

void onCommand(HWND bar, const FrameContext& frame, WPARAM wParam) {
    const IconButtonSpec* entry = specOf(frame, LOWORD(wParam));
    if (!entry || entry->command == 0 || HIWORD(wParam) != BN_CLICKED) return;
    SendMessageA(GetParent(bar), WM_COMMAND, MAKEWPARAM(entry->command, 0), 0);
    if (HWND button = buttonWindow(frame, entry->id)) InvalidateRect(button, nullptr, TRUE);
}

LRESULT iconBarProcedure(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: {
            auto* frame = static_cast<FrameContext*>(
                reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
            keepState(bar, frame);
            onCreate(bar, *frame);
            return 0;
        }
        case WM_DRAWITEM:
            if (FrameContext* frame = stateOf<FrameContext>(bar))
                onDrawItem(bar, *frame, *reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_COMMAND:
            if (FrameContext* frame = stateOf<FrameContext>(bar)) onCommand(bar, *frame, wParam);
            return 0;
        default:
            return DefWindowProcA(bar, message, wParam, lParam);
    }
}

// ---- hover label ----

HFONT createLabelFont(const LabelFont& font) {
    if (font.japanese)
        return CreateFontW(font.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                           0, 0, 0, 0, L"\uFF2D\uFF33\u30B4\u30B7\u30C3\u30AF");
    return CreateFontA(font.height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, OEM_CHARSET, 0, 0, 0,
                       0, "Helv");
}

void restoreLabel(HoverLabel& hover, HDC dc) {
    if (hover.index != 0 && hover.saved.holds()) {
        const PixelRect r = hover.saved.rect();
        for (int y = r.top; y <= r.bottom; ++y)
            for (int x = r.left; x <= r.right; ++x) SetPixelV(dc, x, y, hover.saved.at(x, y));
    }
    hover.saved.clear();
    hover.index = 0;
}

void drawLabel(HoverLabel& hover, HDC dc, const LabelFont& font, int left, const char* text) {
    const int length = lstrlenA(text);
    SIZE extent{};
    TEXTMETRICA metrics{};
    GetTextExtentPoint32A(dc, text, length, &extent);
    GetTextMetricsA(dc, &metrics);
    const PixelRect r =
        hoverLabelRect(left, extent.cx, font.extraWidth, GetSystemMetrics(SM_CYBORDER),
                       GetSystemMetrics(SM_CYCAPTION), metrics.tmExternalLeading, metrics.tmHeight);
    if (!hover.saved.reset(r)) return;
    for (int y = r.top; y <= r.bottom; ++y)
        for (int x = r.left; x <= r.right; ++x) hover.saved.at(x, y) = GetPixel(dc, x, y);
    Rectangle(dc, r.left, r.top, r.right, r.bottom);
    TextOutA(dc, r.left + font.xOffset + 3, r.top + font.yOffset + 3, text, length);
}

const IconButtonSpec* commandButtonAt(const FrameContext& frame, int position) {
    int n = 0;
    for (const auto& entry : *frame.table->iconBar)
        if (entry.command != 0 && ++n == position) return &entry;
    return nullptr;
}

}  // namespace

bool createIconBar(FrameContext& frame) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_PARENTDC;
    wc.hInstance = frame.instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszClassName = kIconBarClass;
    if (!registerWindowClass<iconBarProcedure>(wc)) return false;
    frame.iconBar = CreateWindowExA(0, kIconBarClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                    frame.mainWindow, nullptr, frame.instance, &frame);
    if (!frame.iconBar) return false;
    SetWindowPos(frame.iconBar, nullptr, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYBORDER) + kButtonHeight,
                 SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE);
    ShowWindow(frame.iconBar, SW_SHOW);
    UpdateWindow(frame.iconBar);
    return true;
}

HWND buttonWindow(const FrameContext& frame, int controlId) {
    const auto& table = *frame.table->iconBar;
    for (std::size_t i = 0; i < table.size() && i < frame.buttons.size(); ++i)
        if (table[i].id == controlId) return frame.buttons[i];
    return nullptr;
}

void setButtonEnabled(FrameContext& frame, int controlId, bool enabled) {
    HWND button = buttonWindow(frame, controlId);
    if (button && (IsWindowEnabled(button) != 0) != enabled) EnableWindow(button, enabled);
}

void updateHoverLabel(FrameContext& frame, HWND mainWindow) {
    if (!GetActiveWindow() || !IsWindowEnabled(mainWindow)) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(mainWindow, &cursor);
    const int x = cursor.x, y = cursor.y;

    HDC dc = GetWindowDC(mainWindow);
    if (!dc) return;
    const LabelFont font = labelFontFor(frame.winVersionCode, frame.japaneseUi);
    HFONT labelFont = createLabelFont(font);
    HGDIOBJ oldFont = labelFont ? SelectObject(dc, labelFont) : nullptr;

    const int cyBorder = GetSystemMetrics(SM_CYBORDER);
    HoverLabel& hover = frame.hover;
    if (y > cyBorder && y < cyBorder + kButtonHeight) {
        if (frame.table->arrowInButtonBand && GetCursor() != frame.arrowCursor)
            SetCursor(frame.arrowCursor);
        const int position = hoverButtonAt(*frame.table->iconBar, frame.table->commandsRight, x);
        if (position == 0) {
            if (hover.index != 0) restoreLabel(hover, dc);
        } else if (position != hover.index) {
            if (hover.index != 0) restoreLabel(hover, dc);
            if (const IconButtonSpec* entry = commandButtonAt(frame, position)) {
                drawLabel(hover, dc, font, GetSystemMetrics(SM_CXBORDER) + entry->x + 1,
                          entry->label);
                hover.index = position;
            }
        }
    } else {
        if (hover.index != 0) restoreLabel(hover, dc);
        if (frame.wantsAppCursor && frame.appCursor && frame.wantsAppCursor(x, y) &&
            GetCursor() != frame.appCursor)
            SetCursor(frame.appCursor);
    }

    if (oldFont) SelectObject(dc, oldFont);
    if (labelFont) DeleteObject(labelFont);
    ReleaseDC(mainWindow, dc);
}

void removeHoverLabel(FrameContext& frame, HWND mainWindow) {
    if (frame.hover.index == 0) return;
    HDC dc = GetWindowDC(mainWindow);
    if (!dc) return;
    restoreLabel(frame.hover, dc);
    ReleaseDC(mainWindow, dc);
}

}  // namespace frame
