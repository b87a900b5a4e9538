// Live FFT: a square box over the shown image, moved by dragging or by the arrow keys, whose
// spectrum a second window "Live FFT" shows as the box moves.
//
// The UI thread copies the box's levels into a request; one worker thread transforms the newest
// request only (a request that arrives while one is computed replaces the waiting one, so stale
// positions are never queued) and posts the picture back, then the box's spots when no newer
// request waits. The window counts the distinct box positions it painted in the last second.
#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "core/localized.h"
#include "frame/support/wide_text.h"
#include "frame/support/window_support.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/live_box.h"

namespace voralin {

namespace {

constexpr const char* kLiveClass = "VORALIN_LIVE";
constexpr UINT kPictureReady = WM_APP + 41;
constexpr int kStatusHeight = 22;
constexpr int kMaxMarkedSpots = 6;
constexpr int kStatusId = 100;  // the status line, a static control scripts can read

constexpr core::Localized kMenuItem{"&Live FFT\tF", "ライブ FFT(&L)\tF"};
constexpr core::Localized kTitle{"Live FFT", "ライブ FFT"};
constexpr core::Localized kNoImage{"Open an image first: Live FFT follows a box over the image.",
                                   "先に画像を開いてください。ライブ FFT は画像の上のボックスの"
                                   "スペクトルを示します。"};
constexpr core::Localized kStatus{"Box %d x %d at %d, %d   %d fps",
                                  "ボックス %d x %d（%d, %d）  %d fps"};

struct Request {
    spectrum::Box box;  // in the image
    std::vector<std::uint8_t> pixels;  // the box's 8-bit picture, bottom row first as a DIB
    std::optional<image::PreciseLevels> levels;  // the box's levels, for a source above 8 bits
    spectrum::DisplaySettings display;
    spectrum::SpotOptions spotOptions;
};

}  // namespace

struct LiveView {
    AppState* app = nullptr;
    HWND main = nullptr;
    HWND window = nullptr;
    spectrum::Box box;
    bool dragging = false;
    spectrum::Point grab;  // image pixels from the box's corner to the mouse

    std::thread worker;
    std::mutex lock;
    std::condition_variable wake;
    bool stop = false;
    std::optional<Request> waiting;
    // The newest results, handed from the worker (under `lock`).
    std::optional<image::CurrentImage> picture;
    spectrum::Box pictureBox;
    std::optional<spectrum::SpotResult> spots;
    spectrum::Box spotsBox;

    // What the window shows, and when distinct positions were painted.
    image::CurrentImage shown;
    spectrum::Box shownBox;
    spectrum::SpotResult shownSpots;
    bool haveSpots = false;
    std::deque<DWORD> paintedAt;

    ~LiveView() {
        {
            std::lock_guard<std::mutex> hold(lock);
            stop = true;
        }
        wake.notify_all();
        if (worker.joinable()) worker.join();
    }
};

namespace {

// The worker: the newest request's picture, then its spots if nothing newer waits.
void work(LiveView* view) {
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> hold(view->lock);
            view->wake.wait(hold, [view] { return view->stop || view->waiting.has_value(); });
            if (view->stop) return;
            request = std::move(*view->waiting);
            view->waiting.reset();
        }
        const int s = request.box.side;
        spectrum::GreyPixels pixels;
        pixels.base = request.pixels.data();
        pixels.width = pixels.height = s;
        pixels.stride = static_cast<std::size_t>(s);
        const image::PreciseLevels* levels = request.levels ? &*request.levels : nullptr;
        const spectrum::Box whole{0, 0, s};
        spectrum::BoxSpectrum values;
        image::CurrentImage picture;
        image::ImageGeometry geometry;
        image::CurrentImage like;
        like.dib.block.assign(spectrum::kGreyPixelOffset, 0);
        like.dib.setU32(image::info::biSize, 40);
        like.dib.setU16(image::info::biPlanes, 1);
        like.dib.setU16(image::info::biBitCount, 8);
        if (!spectrum::boxSpectrum(pixels, levels, whole, values) ||
            spectrum::mapBoxSpectrum(std::move(values), request.display, like, picture, geometry) != 0)
            continue;
        {
            std::lock_guard<std::mutex> hold(view->lock);
            view->picture = std::move(picture);
            view->pictureBox = request.box;
            if (view->waiting) {
                PostMessageA(view->window, kPictureReady, 0, 0);
                continue;  // a newer position waits: its picture first, these spots never
            }
        }
        PostMessageA(view->window, kPictureReady, 0, 0);
        spectrum::SpotResult found = spectrum::findBoxSpots(pixels, levels, whole, request.spotOptions);
        std::lock_guard<std::mutex> hold(view->lock);
        view->spots = std::move(found);
        view->spotsBox = request.box;
        PostMessageA(view->window, kPictureReady, 0, 0);
    }
}

int reductionOf(const AppState& app) {
    return app.image.viewReduction > 0 ? app.image.viewReduction : 1;
}

RECT boxRectangle(const AppState& app, const spectrum::Box& box) {
    const int r = reductionOf(app);
    return {box.x / r, spectrum::kPictureTop + box.y / r, (box.x + box.side) / r,
            spectrum::kPictureTop + (box.y + box.side) / r};
}

void invalidateBox(const AppState& app, HWND window, const spectrum::Box& box) {
    RECT rect = boxRectangle(app, box);
    InflateRect(&rect, 2, 2);
    InvalidateRect(window, &rect, FALSE);
}

// Hands the box's levels to the worker, replacing any request still waiting.
void requestSpectrum(LiveView& view) {
    AppState& app = *view.app;
    spectrum::GreyPixels picture;
    if (!spectrum::greyPixelsOf(app.image, app.geometry, picture)) return;
    Request request;
    request.box = view.box;
    const int s = view.box.side;
    request.pixels.resize(static_cast<std::size_t>(s) * s);
    for (int r = 0; r < s; ++r)
        for (int c = 0; c < s; ++c)
            request.pixels[static_cast<std::size_t>(s - 1 - r) * s + c] =
                picture.at(view.box.x + c, view.box.y + r);
    if (const auto precise = preciseLevelsFor(app); precise && app.state == ImageState::ImageOpened)
        request.levels = spectrum::boxLevels(*precise, view.box);
    request.display = app.settings.display;
    request.display.logScale = true;  // the live view's mapping: log, as spots read best in it
    request.display.wholeFrame = false;
    request.spotOptions.pairs = kMaxMarkedSpots / 2;
    request.spotOptions.pixelSizeNm = app.settings.pixelSizeNm;
    {
        std::lock_guard<std::mutex> hold(view.lock);
        view.waiting = std::move(request);
    }
    view.wake.notify_one();
}

void moveBox(LiveView& view, int x, int y) {
    AppState& app = *view.app;
    const spectrum::Box moved =
        spectrum::clampBox({x, y, view.box.side}, app.geometry.width, app.geometry.height);
    if (moved == view.box) return;
    invalidateBox(app, view.main, view.box);
    view.box = moved;
    invalidateBox(app, view.main, view.box);
    requestSpectrum(view);
}

void paintLive(LiveView& view, HDC dc, const RECT& client) {
    const int width = client.right, height = std::max(0, static_cast<int>(client.bottom) - kStatusHeight);
    RECT strip{0, height, client.right, client.bottom};
    FillRect(dc, &strip, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (view.shown.present()) {
        const int s = view.shown.dib.width();
        const int side = std::min(width, height);
        SetStretchBltMode(dc, COLORONCOLOR);
        StretchDIBits(dc, 0, 0, side, side, 0, 0, s, s,
                      view.shown.dib.block.data() + spectrum::kGreyPixelOffset,
                      reinterpret_cast<const BITMAPINFO*>(view.shown.dib.block.data()),
                      DIB_RGB_COLORS, SRCCOPY);
        RECT rest{side, 0, client.right, height};
        FillRect(dc, &rest, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        RECT below{0, side, side, height};
        FillRect(dc, &below, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        // The spots of the box shown, with their spacings; g1 and g2 named.
        if (view.haveSpots && view.shownSpots.status == spectrum::SpotStatus::kFound) {
            const double scale = static_cast<double>(side) / s;
            HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 200, 0));
            HGDIOBJ oldPen = SelectObject(dc, pen);
            HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, RGB(255, 200, 0));
            int marked = 0;
            for (const spectrum::Spot& spot : view.shownSpots.spots) {
                if (marked++ >= kMaxMarkedSpots) break;
                const int x = static_cast<int>((s / 2 + spot.position.x) * scale);
                const int y = static_cast<int>((s / 2 + spot.position.y) * scale);
                Ellipse(dc, x - 6, y - 6, x + 7, y + 7);
                char label[64];
                const bool g1 = view.shownSpots.haveBasis && spot.position == view.shownSpots.g1;
                const bool g2 = view.shownSpots.haveBasis && spot.position == view.shownSpots.g2;
                std::snprintf(label, sizeof label, "%s%.4g %s", g1 ? "g1 " : g2 ? "g2 " : "",
                              spot.d, view.app->settings.pixelSizeNm ? "nm" : "px");
                TextOutA(dc, x + 8, y - 6, label, static_cast<int>(std::strlen(label)));
            }
            SelectObject(dc, oldBrush);
            SelectObject(dc, oldPen);
            DeleteObject(pen);
        }
    }
}

// The status line: the box and the distinct positions painted in the last second.
void showStatus(LiveView& view) {
    const DWORD now = GetTickCount();
    while (!view.paintedAt.empty() && now - view.paintedAt.front() > 1000) view.paintedAt.pop_front();
    const std::wstring status = frame::wideText(core::formatMessage(
        core::text(kStatus), view.shownBox.side, view.shownBox.side, view.shownBox.x,
        view.shownBox.y, static_cast<int>(view.paintedAt.size())));
    SetDlgItemTextW(view.window, kStatusId, status.c_str());
}

void placeStatus(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    MoveWindow(GetDlgItem(window, kStatusId), 4, client.bottom - kStatusHeight + 3,
               client.right - 8, kStatusHeight - 6, TRUE);
}

LRESULT liveProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        frame::keepState(window, static_cast<LiveView*>(create->lpCreateParams));
        HWND status = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 10,
                                      10, window, reinterpret_cast<HMENU>(kStatusId),
                                      create->hInstance, nullptr);
        SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
        placeStatus(window);
        return 0;
    }
    LiveView* view = frame::stateOf<LiveView>(window);
    if (!view) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
        case kPictureReady: {
            std::lock_guard<std::mutex> hold(view->lock);
            if (view->picture) {
                view->shown = std::move(*view->picture);
                view->picture.reset();
                if (!(view->pictureBox == view->shownBox) || view->paintedAt.empty())
                    view->paintedAt.push_back(GetTickCount());
                view->shownBox = view->pictureBox;
            }
            if (view->spots) {
                view->shownSpots = std::move(*view->spots);
                view->spots.reset();
                view->haveSpots = view->spotsBox == view->shownBox;
            } else if (!(view->spotsBox == view->shownBox)) {
                view->haveSpots = false;  // spots of an older position are not shown
            }
            showStatus(*view);
            RECT picture{};
            GetClientRect(window, &picture);
            picture.bottom -= kStatusHeight;
            InvalidateRect(window, &picture, FALSE);
            return 0;
        }
        case WM_SIZE:
            placeStatus(window);
            InvalidateRect(window, nullptr, TRUE);
            return 0;
        case WM_PAINT:
            frame::OnPaint(window, [view](HDC dc, const RECT& client) { paintLive(*view, dc, client); });
            return 0;
        case WM_KEYDOWN:
            // The keys act on the box whichever window has the focus.
            if (keyPressed(*view->app, view->main, wParam, lParam)) return 0;
            return DefWindowProcA(window, message, wParam, lParam);
        case WM_CLOSE:
            endLiveView(*view->app);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool registerLiveClass(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSA c{};
    c.hInstance = instance;
    c.hCursor = LoadCursor(nullptr, IDC_ARROW);
    c.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    c.lpszClassName = kLiveClass;
    registered = frame::registerWindowClass<liveProcedure>(c) != 0;
    return registered;
}

bool liveAvailable(const AppState& app) {
    return app.state == ImageState::ImageOpened || app.state == ImageState::FilteredShown;
}

void startLiveView(AppState& app, HWND main) {
    if (!liveAvailable(app)) {
        app.sink.ask(core::text(kNoImage), core::text(kTitle), core::kIconInformation);
        return;
    }
    if (!registerLiveClass(app.frame.instance)) return;
    auto view = std::make_shared<LiveView>();
    view->app = &app;
    view->main = main;
    // The default side, or the largest offered side the image holds.
    int side = spectrum::kDefaultBoxSide;
    while (side > spectrum::kBoxSides[0] &&
           (side > app.geometry.width || side > app.geometry.height))
        side /= 2;
    view->box = spectrum::clampBox({(app.geometry.width - side) / 2, (app.geometry.height - side) / 2, side},
                                   app.geometry.width, app.geometry.height);
    RECT mainRect{};
    GetWindowRect(main, &mainRect);
    const std::wstring title = frame::wideText(core::text(kTitle));
    view->window = CreateWindowExW(
        WS_EX_TOOLWINDOW, L"VORALIN_LIVE", title.c_str(), WS_OVERLAPPEDWINDOW, mainRect.right - 560,
        mainRect.top + 40, 532, 512 + kStatusHeight + GetSystemMetrics(SM_CYCAPTION) + 16, main,
        nullptr, app.frame.instance, view.get());
    if (!view->window) return;
    view->worker = std::thread(work, view.get());
    app.live = view;
    ShowWindow(view->window, SW_SHOWNOACTIVATE);
    invalidateBox(app, main, view->box);
    requestSpectrum(*view);
}

void changeSide(AppState& app, LiveView& view, bool larger) {
    int side = larger ? view.box.side * 2 : view.box.side / 2;
    if (side < spectrum::kBoxSides[0] || side > 1024) return;
    if (side > app.geometry.width || side > app.geometry.height) {
        app.sink.ask(core::formatMessage(core::text(spectrum::boxTooLargeText()), side, side,
                                         app.geometry.width, app.geometry.height),
                     core::text(kTitle), core::kIconInformation);
        return;
    }
    invalidateBox(app, view.main, view.box);
    const int centreX = view.box.x + view.box.side / 2, centreY = view.box.y + view.box.side / 2;
    view.box = spectrum::clampBox({centreX - side / 2, centreY - side / 2, side},
                                  app.geometry.width, app.geometry.height);
    invalidateBox(app, view.main, view.box);
    requestSpectrum(view);
}

}  // namespace

void addLiveMenu(HWND window) {
    AppendMenuW(GetSystemMenu(window, FALSE), MF_STRING | MF_ENABLED, IDM_LIVEFFT,
                frame::wideText(core::text(kMenuItem)).c_str());
}

bool liveSysCommand(AppState& app, HWND window, int id) {
    if (id != IDM_LIVEFFT) return false;
    if (app.live)
        endLiveView(app);
    else
        startLiveView(app, window);
    return true;
}

void endLiveView(AppState& app) {
    if (!app.live) return;
    std::shared_ptr<LiveView> view = std::move(app.live);
    app.live.reset();
    if (view->window) {
        SetWindowLongPtrA(view->window, GWLP_USERDATA, 0);
        DestroyWindow(view->window);
    }
    if (view->main) invalidateBox(app, view->main, view->box);
    // The worker stops and is joined as the view goes.
}

bool liveCommand(AppState& app, HWND, int id) {
    if (!app.live) return false;
    LiveView& view = *app.live;
    const int step = (GetKeyState(VK_SHIFT) & 0x8000) ? 10 : 1;
    switch (id) {
        case IDM_LIVEEND: endLiveView(app); return true;
        case IDM_LIVELEFT: moveBox(view, view.box.x - step, view.box.y); return true;
        case IDM_LIVERIGHT: moveBox(view, view.box.x + step, view.box.y); return true;
        case IDM_LIVEUP: moveBox(view, view.box.x, view.box.y - step); return true;
        case IDM_LIVEDOWN: moveBox(view, view.box.x, view.box.y + step); return true;
        case IDM_LIVELARGER: changeSide(app, view, true); return true;
        case IDM_LIVESMALLER: changeSide(app, view, false); return true;
        default: return false;
    }
}

bool liveMouse(AppState& app, HWND window, UINT message, spectrum::Point at) {
    if (!app.live) return false;
    LiveView& view = *app.live;
    const int r = reductionOf(app);
    const int x = at.x * r, y = (at.y - spectrum::kPictureTop) * r;
    switch (message) {
        case WM_LBUTTONDOWN:
            view.dragging = true;
            // A press inside the box takes it where it was grabbed; elsewhere its centre jumps there.
            if (x >= view.box.x && x < view.box.x + view.box.side && y >= view.box.y &&
                y < view.box.y + view.box.side)
                view.grab = {x - view.box.x, y - view.box.y};
            else
                view.grab = {view.box.side / 2, view.box.side / 2};
            SetCapture(window);
            moveBox(view, x - view.grab.x, y - view.grab.y);
            return true;
        case WM_MOUSEMOVE:
            if (view.dragging) moveBox(view, x - view.grab.x, y - view.grab.y);
            return view.dragging;
        case WM_LBUTTONUP:
            if (!view.dragging) return false;
            view.dragging = false;
            ReleaseCapture();
            return true;
        default:
            return false;
    }
}

void paintLiveBox(AppState& app, HDC dc) {
    if (!app.live) return;
    const RECT rect = boxRectangle(app, app.live->box);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 200, 0));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

}  // namespace voralin
