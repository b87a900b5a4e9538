// Live FFT: a square box over the shown image, moved by dragging or by the arrow keys, whose
// spectrum a second window "Live FFT" shows as the box moves.
//
// The UI thread copies the box's levels into a request; one worker thread transforms the newest
// request only (a request that arrives while one is computed replaces the waiting one, so stale
// positions are never queued) and posts the picture back, then the box's spots when no newer
// request waits. The window counts the distinct box positions it painted in the last second.
//
// The window's menu chooses the box's side, transforms the region under the box in the main
// window, and copies or saves the spectrum's picture with a scale bar when the image is
// calibrated; under the picture a strip reads out the point of the spectrum under the mouse.
#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <cmath>
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
#include "core/disk.h"
#include "spectrum/app/app_state.h"
#include "spectrum/engine/live_box.h"
#include "spectrum/engine/readout.h"
#include "spectrum/engine/save.h"
#include "spectrum/engine/scale_bar.h"

namespace voralin {

namespace {

constexpr const char* kLiveClass = "VORALIN_LIVE";
constexpr UINT kPictureReady = WM_APP + 41;
constexpr int kStatusHeight = 22;
constexpr int kStripHeight = 20;  // the readout strip, above the status line
constexpr int kMaxMarkedSpots = 6;
constexpr int kStatusId = IDC_LIVESTATUS;    // static controls scripts can read
constexpr int kReadoutId = IDC_LIVEREADOUT;
constexpr UINT kSideCommands[] = {IDM_LIVE_BOX64, IDM_LIVE_BOX128, IDM_LIVE_BOX256,
                                  IDM_LIVE_BOX512, IDM_LIVE_BOX1024};

constexpr core::Localized kMenuItem{"&Live FFT\tF", "ライブ FFT(&L)\tF"};
constexpr core::Localized kTitle{"Live FFT", "ライブ FFT"};
constexpr core::Localized kNoImage{"Open an image first: Live FFT follows a box over the image.",
                                   "先に画像を開いてください。ライブ FFT は画像の上のボックスの"
                                   "スペクトルを示します。"};
constexpr core::Localized kStatus{"Box %d x %d at %d, %d   %d fps",
                                  "ボックス %d x %d（%d, %d）  %d fps"};
constexpr core::Localized kBoxMenu{"&Box", "ボックス(&B)"};
constexpr core::Localized kSpectrumMenu{"&Spectrum", "スペクトル(&S)"};
constexpr core::Localized kSideItem{"%d x %d pixels", "%d x %d ピクセル"};
constexpr core::Localized kRegionItem{"&Transform this region\tEnter", "この領域を変換(&T)\tEnter"};
constexpr core::Localized kCopyItem{"&Copy\tC", "コピー(&C)\tC"};
constexpr core::Localized kSaveItem{"&Save...\tS", "保存(&S)...\tS"};
constexpr core::Localized kSaveTitle{"Save the live spectrum as a bitmap.",
                                     "ライブ FFT のスペクトルをビットマップに保存します。"};
constexpr core::Localized kNoRegion{"The region could not be cut out (not enough memory).",
                                    "領域を切り出せませんでした（メモリ不足）。"};

struct Request {
    spectrum::Box box;  // in the image
    std::vector<std::uint8_t> pixels;  // the box's 8-bit picture, bottom row first as a DIB
    std::vector<std::uint8_t> header;  // the image's information header and colour table
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
    std::vector<double> magnitudes;  // of the spectrum the picture shows, for the readout
    std::vector<double> spare;       // the ones shown before, to be filled again
    spectrum::Box pictureBox;
    std::optional<spectrum::SpotResult> spots;
    spectrum::Box spotsBox;

    // What the window shows, and when distinct positions were painted.
    image::CurrentImage shown;
    std::vector<double> shownMagnitudes;
    spectrum::Box shownBox;
    POINT mouse{-1, -1};  // over the live window's client area
    std::string readout;
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
        // The picture's header follows the image's, as `spectrum --box` writes it.
        image::CurrentImage like;
        like.dib.block = std::move(request.header);
        if (!spectrum::boxSpectrum(pixels, levels, whole, values)) continue;
        // The buffer of the frame shown before: no allocation per frame.
        std::vector<double> magnitudes;
        {
            std::lock_guard<std::mutex> hold(view->lock);
            magnitudes.swap(view->spare);
        }
        magnitudes.resize(values.real.size());
        for (std::size_t i = 0; i < magnitudes.size(); ++i)
            magnitudes[i] = std::sqrt(values.real[i] * values.real[i] + values.imag[i] * values.imag[i]);
        if (spectrum::mapBoxSpectrum(std::move(values), request.display, like, picture, geometry) != 0)
            continue;
        {
            std::lock_guard<std::mutex> hold(view->lock);
            view->picture = std::move(picture);
            view->magnitudes = std::move(magnitudes);
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
    request.header.assign(app.image.dib.block.begin(),
                          app.image.dib.block.begin() + spectrum::kGreyPixelOffset);
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

// The height of the picture area: the client area less the readout strip and the status line.
int pictureHeight(const RECT& client) {
    return std::max(0, static_cast<int>(client.bottom) - kStripHeight - kStatusHeight);
}

void paintSpots(const LiveView& view, HDC dc, int side) {
    const int s = view.shown.dib.width();
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
        std::snprintf(label, sizeof label, "%s%.4g %s", g1 ? "g1 " : g2 ? "g2 " : "", spot.d,
                      view.app->settings.pixelSizeNm ? "nm" : "px");
        TextOutA(dc, x + 8, y - 6, label, static_cast<int>(std::strlen(label)));
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
}

void paintLive(LiveView& view, HDC dc, const RECT& client) {
    const int width = client.right, height = pictureHeight(client);
    RECT strips{0, height, client.right, client.bottom};
    FillRect(dc, &strips, GetSysColorBrush(COLOR_BTNFACE));
    if (!view.shown.present()) return;
    const int s = view.shown.dib.width();
    const int side = std::min(width, height);
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, 0, 0, side, side, 0, 0, s, s,
                  view.shown.dib.block.data() + spectrum::kGreyPixelOffset,
                  reinterpret_cast<const BITMAPINFO*>(view.shown.dib.block.data()), DIB_RGB_COLORS,
                  SRCCOPY);
    RECT rest{side, 0, client.right, height};
    FillRect(dc, &rest, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    RECT below{0, side, side, height};
    FillRect(dc, &below, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    // The spots of the box shown, with their spacings; g1 and g2 named.
    if (view.haveSpots && view.shownSpots.status == spectrum::SpotStatus::kFound)
        paintSpots(view, dc, side);
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

// The readout strip: the point of the shown spectrum under the mouse, in the main window's words.
void showReadout(LiveView& view) {
    RECT client{};
    GetClientRect(view.window, &client);
    const int side = std::min(static_cast<int>(client.right), pictureHeight(client));
    const int s = view.shown.present() ? view.shown.dib.width() : 0;
    std::string text;
    if (s > 0 && side > 0 && view.mouse.x >= 0 && view.mouse.y >= 0 && view.mouse.x < side &&
        view.mouse.y < side)
        text = spectrum::formatReadout(spectrum::readoutInBox(
            view.shownMagnitudes, s, view.mouse.x * s / side, view.mouse.y * s / side,
            view.app->settings.pixelSizeNm));
    if (text == view.readout) return;
    view.readout = text;
    SetDlgItemTextW(view.window, kReadoutId, frame::wideText(text).c_str());
}

void placeControls(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    const int top = pictureHeight(client);
    MoveWindow(GetDlgItem(window, kReadoutId), 4, top + 3, client.right - 8, kStripHeight - 4, TRUE);
    MoveWindow(GetDlgItem(window, kStatusId), 4, top + kStripHeight + 3, client.right - 8,
               kStatusHeight - 6, TRUE);
}

HWND addLine(HWND window, int id, HINSTANCE instance) {
    HWND line = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                                0, 0, 10, 10, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                instance, nullptr);
    SendMessageW(line, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    return line;
}

// The menu bar: the box's sides, and what can be done with the region and its spectrum.
HMENU buildLiveMenu() {
    HMENU bar = CreateMenu();
    HMENU box = CreatePopupMenu();
    for (std::size_t i = 0; i < std::size(spectrum::kBoxSides); ++i) {
        const int side = spectrum::kBoxSides[i];
        AppendMenuW(box, MF_STRING, kSideCommands[i],
                    frame::wideText(core::formatMessage(core::text(kSideItem), side, side)).c_str());
    }
    HMENU picture = CreatePopupMenu();
    AppendMenuW(picture, MF_STRING, IDM_LIVE_REGION, frame::wideText(core::text(kRegionItem)).c_str());
    AppendMenuW(picture, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(picture, MF_STRING, IDM_LIVE_COPY, frame::wideText(core::text(kCopyItem)).c_str());
    AppendMenuW(picture, MF_STRING, IDM_LIVE_SAVE, frame::wideText(core::text(kSaveItem)).c_str());
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(box), frame::wideText(core::text(kBoxMenu)).c_str());
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(picture),
                frame::wideText(core::text(kSpectrumMenu)).c_str());
    return bar;
}

void markSide(const LiveView& view) {
    for (std::size_t i = 0; i < std::size(spectrum::kBoxSides); ++i)
        if (spectrum::kBoxSides[i] == view.box.side)
            CheckMenuRadioItem(GetMenu(view.window), kSideCommands[0], kSideCommands[4],
                               kSideCommands[i], MF_BYCOMMAND);
}

// The picture shown, as Copy and Save give it: with the scale bar when the image is calibrated.
std::optional<image::CurrentImage> livePicture(const LiveView& view) {
    if (!view.shown.present()) return std::nullopt;
    image::CurrentImage picture = view.shown;
    if (const auto bar = spectrum::chooseScaleBar(picture.dib.width(), view.app->settings.pixelSizeNm))
        spectrum::drawScaleBar(picture, *bar);
    return picture;
}

void copyLivePicture(LiveView& view) {
    if (const auto picture = livePicture(view)) copyBlockToClipboard(*view.app, view.window, picture->dib.block);
}

void saveLivePicture(LiveView& view) {
    auto picture = livePicture(view);
    if (!picture) return;
    std::string path;
    if (!frame::askFilePath(view.window, view.app->sink,
                            {true, "Bitmap (*.bmp)\0*.bmp\0", core::text(kSaveTitle), "bmp",
                             OFN_PATHMUSTEXIST | OFN_HIDEREADONLY, "Save Error"},
                            path))
        return;
    const int s = picture->dib.width();
    const image::ImageGeometry geometry{s, s, s, static_cast<std::uint32_t>(s) * s + 1078};
    spectrum::saveBitmapTo(path, *picture, geometry, view.app->sink, core::systemDisk(), true);
}

// Crops the image to the box into the main window; the live view ends with it.
void transformRegion(LiveView& view) {
    AppState& app = *view.app;
    const spectrum::Box box = view.box;
    const auto precise = preciseLevelsFor(app);
    auto region = spectrum::cropRegion(app.image, app.geometry, app.source, precise.get(), box);
    if (!region) {
        app.sink.ask(core::text(kNoRegion), core::text(kTitle), core::kIconWarning);
        return;
    }
    showRegion(app, view.main, std::move(*region), box);  // ends the view: it is gone from here
}

void setSide(AppState& app, LiveView& view, int side);

// The live window's own keys act on its picture (C, S, with or without Ctrl) and region
// (Enter); the others run what they run in the main window (the box's moves, its side, Esc).
bool liveWindowKey(LiveView& view, WPARAM key, LPARAM flags) {
    if (key == 'C') {
        copyLivePicture(view);
        return true;
    }
    if (key == 'S') {
        if ((flags & (1L << 30)) == 0) saveLivePicture(view);  // not again while held down
        return true;
    }
    if (key == VK_RETURN) {
        if ((flags & (1L << 30)) == 0) transformRegion(view);
        return true;
    }
    return keyPressed(*view.app, view.main, key, flags);
}

void liveWindowCommand(LiveView& view, int id) {
    for (std::size_t i = 0; i < std::size(spectrum::kBoxSides); ++i)
        if (static_cast<UINT>(id) == kSideCommands[i]) setSide(*view.app, view, spectrum::kBoxSides[i]);
    if (id == IDM_LIVE_COPY) copyLivePicture(view);
    if (id == IDM_LIVE_SAVE) saveLivePicture(view);
    if (id == IDM_LIVE_REGION) transformRegion(view);
}

// A new picture, or the spots of the one shown, from the worker.
void takeResults(LiveView& view) {
    std::lock_guard<std::mutex> hold(view.lock);
    if (view.picture) {
        view.shown = std::move(*view.picture);
        view.spare.swap(view.shownMagnitudes);
        view.shownMagnitudes = std::move(view.magnitudes);
        view.picture.reset();
        if (!(view.pictureBox == view.shownBox) || view.paintedAt.empty())
            view.paintedAt.push_back(GetTickCount());
        view.shownBox = view.pictureBox;
    }
    if (view.spots) {
        view.shownSpots = std::move(*view.spots);
        view.spots.reset();
        view.haveSpots = view.spotsBox == view.shownBox;
    } else if (!(view.spotsBox == view.shownBox)) {
        view.haveSpots = false;  // spots of an older position are not shown
    }
}

LRESULT liveProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        frame::keepState(window, static_cast<LiveView*>(create->lpCreateParams));
        addLine(window, kReadoutId, create->hInstance);
        addLine(window, kStatusId, create->hInstance);
        placeControls(window);
        return 0;
    }
    LiveView* view = frame::stateOf<LiveView>(window);
    if (!view) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
        case kPictureReady: {
            takeResults(*view);
            showStatus(*view);
            showReadout(*view);
            RECT picture{};
            GetClientRect(window, &picture);
            picture.bottom = pictureHeight(picture);
            InvalidateRect(window, &picture, FALSE);
            return 0;
        }
        case WM_SIZE:
            placeControls(window);
            InvalidateRect(window, nullptr, TRUE);
            return 0;
        case WM_PAINT:
            frame::OnPaint(window, [view](HDC dc, const RECT& client) { paintLive(*view, dc, client); });
            return 0;
        case WM_MOUSEMOVE:
            view->mouse = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            showReadout(*view);
            return 0;
        case WM_COMMAND:
            liveWindowCommand(*view, LOWORD(wParam));  // may end the view
            return 0;
        case WM_KEYDOWN:
            // The keys act on the box whichever window has the focus.
            if (liveWindowKey(*view, wParam, lParam)) return 0;
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
    // A client area of 512 x 512 for the picture, with the strips and the menu around it.
    RECT frameRect{0, 0, 512, 512 + kStripHeight + kStatusHeight};
    AdjustWindowRectEx(&frameRect, WS_OVERLAPPEDWINDOW, TRUE, WS_EX_TOOLWINDOW);
    const std::wstring title = frame::wideText(core::text(kTitle));
    view->window = CreateWindowExW(
        WS_EX_TOOLWINDOW, L"VORALIN_LIVE", title.c_str(), WS_OVERLAPPEDWINDOW,
        mainRect.right - (frameRect.right - frameRect.left) - 28, mainRect.top + 40,
        frameRect.right - frameRect.left, frameRect.bottom - frameRect.top, main, buildLiveMenu(),
        app.frame.instance, view.get());
    if (!view->window) return;
    view->worker = std::thread(work, view.get());
    app.live = view;
    markSide(*view);
    ShowWindow(view->window, SW_SHOWNOACTIVATE);
    invalidateBox(app, main, view->box);
    requestSpectrum(*view);
}

void setSide(AppState& app, LiveView& view, int side) {
    if (!spectrum::isBoxSide(side) || side == view.box.side) return;
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
    markSide(view);
    requestSpectrum(view);
}

void changeSide(AppState& app, LiveView& view, bool larger) {
    const int side = larger ? view.box.side * 2 : view.box.side / 2;
    if (side < spectrum::kBoxSides[0] || side > spectrum::kBoxSides[4]) return;
    setSide(app, view, side);
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
