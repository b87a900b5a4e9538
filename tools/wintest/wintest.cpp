// wintest: a small driver for end-to-end tests of our Win32 programs under Wine.
//
//   wintest SCRIPT
//
// Runs the script's steps in order, one per line ('#' starts a comment; "quoted words" may hold
// spaces and \n). Every wait has its own timeout; the first step that fails prints
// "FAIL line N: reason", ends the programs the script started, and exits 1. All good: "ok", 0.
// Wherever a step takes an ID or a key, a name does too: a #define of a resource header loaded
// with "ids", IDOK, IDCANCEL, IDYES, IDNO..., or the VK_ name of a key the scenarios press.
//
//   ids HEADER                           load the names of a resource header (#define NAME N)
//   start EXE [WORKDIR]                  start a program (the programs it started are ended at
//   exit) run-exits EXE TIMEOUT_MS             start a program that must end by itself in time
//   wait-window CLASS TITLE TIMEOUT_MS   wait for a top-level window whose title contains TITLE
//   expect-title TEXT                    the current window's exact title
//   expect-enabled ID...  / expect-disabled ID...   icon-bar buttons of the current window
//   wait-enabled ID TIMEOUT_MS           wait until an icon-bar button is enabled
//   click ID                             press an icon-bar button (posted BM_CLICK)
//   command ID                           post WM_COMMAND ID to the current window
//   syscommand ID                        post WM_SYSCOMMAND ID to the current window
//   wait-dialog CAPTION TIMEOUT_MS       wait for a dialog of our programs with that caption
//   expect-message CAPTION TEXT TIMEOUT_MS   a message box: its caption and its text, then OK
//   dialog-button ID                     post WM_COMMAND ID to the current dialog, wait until gone
//   expect-dialog-text ID TEXT           text of a control of the current dialog
//   dialog-click ID                      click a control of the current dialog as a user does
//                                        (BM_CLICK: the button's own press and release, then its
//                                        notification; sent, so the dialog has handled it when
//                                        the step ends); a hidden or disabled control fails
//   dialog-select ID INDEX               select an entry of a drop-down list, as a user would
//   dialog-listsel ID INDEX              also select entry INDEX of a multiple-selection list box
//   dialog-type ID TEXT                  set the text of an edit box (it notifies its dialog)
//   dialog-set ID TEXT                   set a control's text as if typed (an editable combo box
//                                        also gets CBN_EDITCHANGE)
//   wait-message CAPTION TEXT TIMEOUT_MS a message box with that caption and text, left open
//                                        (the current dialog: dialog-button 1 closes it)
//   expect-item-height ID INDEX HEIGHT   CB_GETITEMHEIGHT of a combo box of the current dialog
//                                        (INDEX -1: its selection field)
//   answer-message CAPTION TEXT ID TIMEOUT_MS   a question box: its caption and text, then
//                                        the button ID
//   expect-clipboard-dib W H TIMEOUT_MS  a CF_DIB of that size on the clipboard
//   expect-cursor X Y TIMEOUT_MS         the mouse cursor at client (X, Y) of the current window
//   expect-checked ID 0|1                the mark of a check box or radio button
//   expect-child-text TEXT TIMEOUT_MS    a window inside the current dialog (at any depth, the
//                                        child template of a file dialog too) shows TEXT; read
//                                        as Unicode, so the script's UTF-8 matches on any code page
//   child-key CLASS VK                   post a key to the first window of that class inside the
//                                        current dialog (a file dialog's list: select a file)
//   expect-control-enabled ID 0|1        whether a control of the current dialog is enabled
//   open-file TITLE PATH TIMEOUT_MS      fill a file dialog's name box and confirm it
//   mouse down|up|move X Y               post a left-button mouse message (client coordinates)
//   dialog-focus ID                      bring the current dialog forward, focus on a control
//   type-keys TEXT                       type TEXT on the keyboard (real key input, to the focus)
//   press-key VK                         press and release one key (real key input: Tab...)
//   dialog-mouse-click ID                a real left click at the control's upper left part
//                                        (the edit field of a combo box)
//   key VK                               post WM_KEYDOWN and WM_KEYUP
//   right-click X Y                      post a right-button press and release (client
//                                        coordinates); the window's context menu follows
//   menu-choose N TIMEOUT_MS             wait for a popup menu, choose its item N (1 the top
//                                        one; separators do not count) with the arrow keys and
//                                        Enter, and wait until the menu is gone
//   drop-file PATH                       drop a file on the current window as the shell does
//                                        (WM_DROPFILES with the name in the program's memory)
//   expect-control-inside CLASS ID       a control of a top-level window lies in its client area
//   wait-control-text CLASS ID TEXT TIMEOUT_MS   a control of a top-level window shows TEXT
//   expect-text-fits ID TIMEOUT_MS       an edit box of the current dialog (at any depth, the
//                                        child template of a file dialog too) shows a text that
//                                        fits its width, measured by the box in its own font
//   expect-readout-strip ROWS TIMEOUT_MS the current window shows a readout strip (ROWS rows of
//                                        the button face at its left edge, with text) wholly
//                                        inside its client area
//   expect-no-window CLASS TITLE TIMEOUT_MS
//   expect-window-count CLASS TITLE N
//   close                                post WM_CLOSE to the current window
//   expect-exit TIMEOUT_MS               the first program ends in time
//   snap FILE.bmp                        save the screen as a 24-bit BMP
//   copy-file FROM TO                    copy a file (put a readme in place between two steps)
//   expect-file PATH [TIMEOUT_MS]        a file is there, or appears in time (for example one
//                                        another program writes)
//   sleep MS
//
// For the installer (texts are UTF-8 in the script, paths may be Japanese):
//   start-args EXE ARGS [WORKDIR]        start a program with arguments
//   dialog-post ID                       click a control of the current dialog without waiting
//                                        (it opens a modal dialog of its own)
//   dialog-check ID 0|1                  click a check box whose mark differs; fails when the
//                                        mark does not follow
//   wait-dialog-text ID TEXT TIMEOUT_MS  wait until a control of the current dialog shows TEXT
//   any-process                          dialogs and messages of any process count from now on
//                                        (the uninstaller starts a copy of itself)
//   wizard CAPTION TIMEOUT_MS            wait for a wizard; its current page is the dialog
//   wizard-page                          the wizard's current page becomes the dialog
//   wizard-press next|back|finish|cancel press a wizard button
//   expect-wizard-buttons BACK NEXT FINISH   each 0 or 1: shown and enabled
//   answer-message-start CAPTION PREFIX ID TIMEOUT_MS   a question whose text starts with PREFIX
//   expect-exit-last TIMEOUT_MS          the program started last ends in time
//   expect-exit-code CODE TIMEOUT_MS     the program started last ends in time with CODE
//   expect-no-file PATH
//   write-file PATH TEXT                 make a file (a user's own file)
//   set-file-date PATH YYYY MM DD        last-write time at local noon of that day
//   expect-file-date PATH YYYY MM DD     the calendar day of the last write
//   expect-reg KEY VALUE DATA            a string value (KEY: HKLM\..., HKCU\..., HKCR\...)
//   expect-key KEY / expect-no-key KEY / make-key KEY
//   expect-link LNK TARGET ARGS WORKDIR  a shell link read back through IShellLink
#include <windows.h>

#include <dlgs.h>
#include <cctype>

#include <objbase.h>
#include <prsht.h>
#include <shlobj.h>
#include <shlguid.h>
#include <shobjidl.h>

#include <cctype>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Failure {
    std::string reason;
};

// @APP@, @WORK@, @ART@ and @KESTRAL@ stand for paths the runner passes in WT_APP, WT_WORK, WT_ART
// and WT_KESTRAL. They are put in after escapes are read, so a path is never taken for an escape.
std::string expandOwn(std::string word);

// Any other @NAME@ stands for the value of WT_NAME when that is set.
std::string expandPlaceholders(std::string word) {
    for (std::size_t at = word.find('@'); at != std::string::npos;) {
        const std::size_t end = word.find('@', at + 1);
        if (end == std::string::npos) break;
        const std::string name = word.substr(at + 1, end - at - 1);
        const char* value = name.empty() || name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_") !=
                                                std::string::npos
                                ? nullptr
                                : std::getenv(("WT_" + name).c_str());
        if (value) {
            word.replace(at, end - at + 1, value);
            at = word.find('@', at + std::strlen(value));
        } else {
            at = word.find('@', at + 1);
        }
    }
    return expandOwn(word);
}

std::string expandOwn(std::string word) {
    static const char* const names[][2] = {{"@APP@", "WT_APP"},
                                           {"@WORK@", "WT_WORK"},
                                           {"@ART@", "WT_ART"},
                                           {"@KESTRAL@", "WT_KESTRAL"}};
    for (const auto& name : names) {
        const char* value = std::getenv(name[1]);
        if (!value) continue;
        const std::string key = name[0];
        for (std::size_t at = word.find(key); at != std::string::npos; at = word.find(key, at)) {
            word.replace(at, key.size(), value);
            at += std::strlen(value);
        }
    }
    return word;
}

std::vector<std::string> tokens(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string word;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') {
                const char next = i + 1 < line.size() ? line[i + 1] : '\0';
                if (line[i] == '\\' && (next == 'n' || next == '"')) {
                    // Only \n and \" are escapes: paths (Z:\tmp\...) keep their backslashes.
                    word += next == 'n' ? '\n' : '"';
                    i += 2;
                } else {
                    word += line[i++];
                }
            }
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
        }
        out.push_back(expandPlaceholders(word));
    }
    return out;
}

// Names a script may use for numbers: the ids of a program's resource header (loaded with
// "ids"), the message-box answers, the file dialog's controls and the keys the scenarios press.
// A name two loaded headers give different values is refused when used, never resolved to either.
struct Names {
    std::map<std::string, int> values{{"IDOK", IDOK},       {"IDCANCEL", IDCANCEL},
                                      {"IDABORT", IDABORT}, {"IDRETRY", IDRETRY},
                                      {"IDIGNORE", IDIGNORE}, {"IDYES", IDYES},
                                      {"IDNO", IDNO},       {"VK_PRIOR", VK_PRIOR},
                                      {"VK_NEXT", VK_NEXT}, {"VK_HOME", VK_HOME},
                                      {"VK_LEFT", VK_LEFT}, {"VK_DOWN", VK_DOWN},
                                      {"VK_TAB", VK_TAB},   {"VK_BACK", VK_BACK},
                                      {"VK_ESCAPE", VK_ESCAPE}, {"VK_OEM_PLUS", VK_OEM_PLUS},
                                      {"VK_F", 'F'},        {"VK_B", 'B'},
                                      {"VK_I", 'I'},        {"VK_X", 'X'},
                                      {"VK_RIGHT", VK_RIGHT}, {"VK_UP", VK_UP},
                                      {"VK_RETURN", VK_RETURN}, {"VK_OEM_MINUS", VK_OEM_MINUS},
                                      // The file dialog's folder list and drive box (dlgs.h).
                                      {"lst2", lst2},       {"cmb2", cmb2}};
    std::set<std::string> ambiguous;
};
Names& names() {
    static Names n;
    return n;
}

// Reads the "#define NAME NUMBER" lines of a resource header; other lines are left alone.
void loadIds(const std::string& path) {
    std::ifstream header(path);
    if (!header) throw Failure{"ids: cannot read " + path};
    std::string line;
    int loaded = 0;
    while (std::getline(header, line)) {
        char name[128], value[64], rest[2];
        if (std::sscanf(line.c_str(), " #define %127s %63s %1s", name, value, rest) != 2) continue;
        char* end = nullptr;
        const long v = std::strtol(value, &end, 0);
        if (end == value || *end != '\0') continue;
        auto& n = names();
        const auto [at, added] = n.values.emplace(name, static_cast<int>(v));
        if (!added && at->second != v) n.ambiguous.insert(name);
        ++loaded;
    }
    if (loaded == 0) throw Failure{"ids: no numeric #define in " + path};
}

int number(const std::string& text) {
    if (!text.empty() && (std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) {
        const auto& n = names();
        if (n.ambiguous.count(text)) throw Failure{text + " has different values in the loaded headers"};
        const auto at = n.values.find(text);
        if (at == n.values.end()) throw Failure{"unknown name " + text + " (load its header with ids)"};
        return at->second;
    }
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 0));
}

std::wstring wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n : 1, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// Window texts in UTF-8, whatever the code page of the program that owns the window.
std::string windowText(HWND window) {
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return utf8(text);
}

bool parseKey(const std::string& path, HKEY& root, std::string& sub) {
    const std::size_t slash = path.find('\\');
    const std::string head = path.substr(0, slash);
    sub = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    if (head == "HKLM")
        root = HKEY_LOCAL_MACHINE;
    else if (head == "HKCU")
        root = HKEY_CURRENT_USER;
    else if (head == "HKCR")
        root = HKEY_CLASSES_ROOT;
    else
        return false;
    return true;
}

std::string classOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The text of a window of any process, as UTF-8 (WM_GETTEXT is carried across processes).
std::string unicodeText(HWND window) {
    wchar_t wide[1024] = {};
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(wide),
                             SMTO_ABORTIFHUNG, 2000, &ignored))
        return {};
    char utf8[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
}

struct ChildSearch {
    std::string className, text;
    HWND found;
};

// The first child window of `parent` with that class (when given) and that text (when given).
HWND findChild(HWND parent, const std::string& className, const std::string& text) {
    ChildSearch search{className, text, nullptr};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<ChildSearch*>(param);
            if (!s->className.empty() && classOf(child) != s->className) return TRUE;
            if (!s->text.empty() && unicodeText(child) != s->text) return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string shown(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return "\"" + out + "\"";
}

class Driver {
  public:
    ~Driver() {
        for (auto& p : processes_) {
            if (WaitForSingleObject(p.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(p.hProcess, 99);
            CloseHandle(p.hProcess);
            CloseHandle(p.hThread);
        }
    }

    void step(const std::vector<std::string>& t) {
        const std::string& op = t[0];
        auto need = [&](std::size_t n) {
            if (t.size() < n + 1)
                throw Failure{op + ": expects " + std::to_string(n) + " arguments"};
        };
        if (readoutStep(t)) return;
        if (op == "ids") {
            need(1);
            loadIds(t[1]);
        } else if (op == "start") {
            need(1);
            processes_.push_back(launch(t[1], t.size() > 2 ? t[2] : ""));
        } else if (op == "run-exits") {
            need(2);
            PROCESS_INFORMATION p = launch(t[1], "");
            const DWORD waited = WaitForSingleObject(p.hProcess, number(t[2]));
            DWORD code = 0;
            GetExitCodeProcess(p.hProcess, &code);
            if (waited != WAIT_OBJECT_0) TerminateProcess(p.hProcess, 99);
            CloseHandle(p.hProcess);
            CloseHandle(p.hThread);
            if (waited != WAIT_OBJECT_0) throw Failure{t[1] + " did not end by itself"};
        } else if (op == "wait-window") {
            need(3);
            current_ = waitFor([&] { return findTopLevel(t[1], t[2], false); }, number(t[3]));
            if (!current_) throw Failure{"no window " + t[1] + " " + shown(t[2])};
        } else if (op == "expect-title") {
            need(1);
            const std::string title = windowText(requireCurrent());
            if (title != t[1])
                throw Failure{"title is " + shown(title) + ", expected " + shown(t[1])};
        } else if (op == "expect-enabled" || op == "expect-disabled") {
            // The program sets the buttons one by one while it paints: allow it a moment to finish.
            const bool wanted = op == "expect-enabled";
            std::string wrong;
            auto allAsWanted = [&]() -> HWND {
                for (std::size_t i = 1; i < t.size(); ++i) {
                    HWND button = iconButton(number(t[i]));
                    if ((IsWindowEnabled(button) != 0) != wanted) {
                        wrong = t[i];
                        return nullptr;
                    }
                }
                return reinterpret_cast<HWND>(1);
            };
            if (!waitFor(allAsWanted, 3000))
                throw Failure{"button " + wrong + " is " + (wanted ? "disabled" : "enabled")};
        } else if (op == "wait-enabled") {
            need(2);
            HWND button = iconButton(number(t[1]));
            if (!waitFor([&] { return IsWindowEnabled(button) ? button : nullptr; }, number(t[2])))
                throw Failure{"button " + t[1] + " stayed disabled"};
        } else if (op == "click") {
            need(1);
            PostMessageA(iconButton(number(t[1])), BM_CLICK, 0, 0);
        } else if (op == "command") {
            need(1);
            PostMessageA(requireCurrent(), WM_COMMAND, MAKEWPARAM(number(t[1]), 0), 0);
        } else if (op == "syscommand") {
            need(1);
            PostMessageA(requireCurrent(), WM_SYSCOMMAND, number(t[1]), 0);
        } else if (op == "wait-dialog") {
            need(2);
            dialog_ = waitFor([&] { return findTopLevel("#32770", t[1], true); }, number(t[2]));
            if (!dialog_) throw Failure{"no dialog " + shown(t[1])};
        } else if (op == "wait-message") {
            need(3);
            dialog_ = waitFor([&] { return findTopLevel("#32770", t[1], true); }, number(t[3]));
            if (!dialog_) throw Failure{"no message box " + shown(t[1])};
            const std::string text = windowText(GetDlgItem(dialog_, 0xFFFF));
            if (text != t[2])
                throw Failure{"message is " + shown(text) + ", expected " + shown(t[2])};
        } else if (op == "expect-item-height") {
            need(3);
            const LRESULT height =
                SendMessageA(requireControl(t[1]), CB_GETITEMHEIGHT, number(t[2]), 0);
            if (height != number(t[3]))
                throw Failure{"item height of " + t[1] + " is " + std::to_string(height)};
        } else if (op == "expect-message") {
            need(3);
            dialog_ = waitFor([&] { return findTopLevel("#32770", t[1], true); }, number(t[3]));
            if (!dialog_) throw Failure{"no message box " + shown(t[1])};
            const std::string text = windowText(GetDlgItem(dialog_, 0xFFFF));
            if (text != t[2])
                throw Failure{"message is " + shown(text) + ", expected " + shown(t[2])};
            pressDialogButton(IDOK);
        } else if (op == "dialog-button") {
            need(1);
            pressDialogButton(number(t[1]));
        } else if (op == "expect-dialog-text") {
            need(2);
            if (!dialog_) throw Failure{"no current dialog"};
            HWND control = GetDlgItem(dialog_, number(t[1]));
            // Asked with WM_GETTEXT: GetWindowText does not ask a control of another process.
            wchar_t own[1024] = {};
            SendMessageW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(own));
            std::string text = utf8(own);
            if (classOf(control) == "ComboBox" && text.empty()) {
                // A drop-down list without text of its own shows its selected entry.
                const LRESULT at = SendMessageA(control, CB_GETCURSEL, 0, 0);
                char entry[256] = {};
                if (at != CB_ERR && SendMessageA(control, CB_GETLBTEXTLEN, at, 0) < 255)
                    SendMessageA(control, CB_GETLBTEXT, at, reinterpret_cast<LPARAM>(entry));
                text = entry;
            }
            if (text != t[2]) throw Failure{"control " + t[1] + " shows " + shown(text)};
        } else if (op == "dialog-set") {
            need(2);
            HWND control = requireControl(t[1]);
            SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t[2].c_str()));
            if (classOf(control) == "ComboBox")
                SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(number(t[1]), CBN_EDITCHANGE),
                             reinterpret_cast<LPARAM>(control));
        } else if (op == "answer-message") {
            need(4);
            dialog_ = waitFor([&] { return findTopLevel("#32770", t[1], true); }, number(t[4]));
            if (!dialog_) throw Failure{"no message box " + shown(t[1])};
            const std::string text = windowText(GetDlgItem(dialog_, 0xFFFF));
            if (text != t[2])
                throw Failure{"message is " + shown(text) + ", expected " + shown(t[2])};
            pressDialogButton(number(t[3]));
        } else if (op == "dialog-click") {
            need(1);
            clickControl(t[1]);
        } else if (op == "dialog-listsel") {
            need(2);
            HWND control = requireControl(t[1]);
            if (SendMessageA(control, LB_SETSEL, TRUE, number(t[2])) == LB_ERR)
                throw Failure{"list box " + t[1] + " has no entry " + t[2]};
        } else if (op == "dialog-select") {
            need(2);
            HWND control = requireControl(t[1]);
            if (SendMessageA(control, CB_SETCURSEL, number(t[2]), 0) == CB_ERR)
                throw Failure{"list " + t[1] + " has no entry " + t[2]};
            SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(number(t[1]), CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(control));
            // The list closing on the choice (a file dialog's file type follows this one).
            SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(number(t[1]), CBN_SELENDOK),
                         reinterpret_cast<LPARAM>(control));
        } else if (op == "dialog-type") {
            need(2);
            // WM_SETTEXT itself: SetWindowText does not reach a control of another process.
            const std::wstring text = wide(t[2]);
            SendMessageW(requireControl(t[1]), WM_SETTEXT, 0,
                         reinterpret_cast<LPARAM>(text.c_str()));
        } else if (op == "expect-clipboard-dib") {
            need(3);
            long width = 0, height = 0;
            auto sized = [&]() -> HWND {
                if (!OpenClipboard(nullptr)) return nullptr;
                if (HANDLE data = GetClipboardData(CF_DIB)) {
                    if (const auto* h = static_cast<const BITMAPINFOHEADER*>(GlobalLock(data))) {
                        width = h->biWidth;
                        height = h->biHeight;
                        GlobalUnlock(data);
                    }
                }
                CloseClipboard();
                return width == number(t[1]) && height == number(t[2]) ? HWND(1) : nullptr;
            };
            if (!waitFor(sized, number(t[3])))
                throw Failure{"clipboard DIB is " + std::to_string(width) + " x " +
                              std::to_string(height)};
        } else if (op == "expect-cursor") {
            need(3);
            POINT at{};
            auto there = [&]() -> HWND {
                GetCursorPos(&at);
                ScreenToClient(requireCurrent(), &at);
                return at.x == number(t[1]) && at.y == number(t[2]) ? HWND(1) : nullptr;
            };
            if (!waitFor(there, number(t[3])))
                throw Failure{"cursor at " + std::to_string(at.x) + ", " + std::to_string(at.y)};
        } else if (op == "expect-checked") {
            need(2);
            const bool checked = IsDlgButtonChecked(dialog_, number(t[1])) == BST_CHECKED;
            if (checked != (number(t[2]) != 0))
                throw Failure{"control " + t[1] + (checked ? " is" : " is not") + " checked"};
        } else if (op == "expect-child-text") {
            need(2);
            if (!dialog_) throw Failure{"no current dialog"};
            auto find = [&] { return findChild(dialog_, "", t[1]); };
            if (!waitFor(find, number(t[2]))) throw Failure{"no window shows " + shown(t[1])};
        } else if (op == "child-key") {
            need(2);
            if (!dialog_) throw Failure{"no current dialog"};
            auto find = [&] { return findChild(dialog_, t[1], ""); };
            HWND target = waitFor(find, 5000);
            if (!target) throw Failure{"the dialog has no " + t[1]};
            PostMessageA(target, WM_KEYDOWN, number(t[2]), 1);
            PostMessageA(target, WM_KEYUP, number(t[2]), 0xC0000001);
        } else if (op == "expect-control-enabled") {
            need(2);
            const bool enabled = IsWindowEnabled(requireControl(t[1])) != 0;
            if (enabled != (number(t[2]) != 0))
                throw Failure{"control " + t[1] + (enabled ? " is" : " is not") + " enabled"};
        } else if (op == "open-file") {
            need(3);
            dialog_ = waitFor([&] { return findTopLevel("#32770", t[1], true); }, number(t[3]));
            if (!dialog_) throw Failure{"no open dialog " + shown(t[1])};
            // The file name box: edit 1152, or the edit inside combo box 1148.
            HWND edit = waitFor(
                [&] {
                    if (HWND e = GetDlgItem(dialog_, 1152)) return e;
                    HWND found = nullptr;
                    EnumChildWindows(
                        dialog_,
                        [](HWND child, LPARAM param) -> BOOL {
                            if (GetDlgCtrlID(child) != 1148 || classOf(child) != "Edit")
                                return TRUE;
                            *reinterpret_cast<HWND*>(param) = child;
                            return FALSE;
                        },
                        reinterpret_cast<LPARAM>(&found));
                    return found;
                },
                number(t[3]));
            if (!edit) {
                EnumChildWindows(
                    dialog_,
                    [](HWND child, LPARAM) -> BOOL {
                        std::printf("  child %d %s %s\n", GetDlgCtrlID(child),
                                    classOf(child).c_str(), shown(windowText(child)).c_str());
                        return TRUE;
                    },
                    0);
                throw Failure{"the file dialog has no file name box"};
            }
            // The script is UTF-8: the name goes in wide, so any script's names can be typed.
            wchar_t typed[1024] = {};
            MultiByteToWideChar(CP_UTF8, 0, t[2].c_str(), -1, typed, 1023);
            SetWindowTextW(edit, typed);
            PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            HWND gone =
                waitFor([&] { return IsWindow(dialog_) ? nullptr : HWND(1); }, number(t[3]));
            if (!gone) throw Failure{"the open dialog stayed open"};
        } else if (op == "mouse") {
            need(3);
            const UINT message = t[1] == "down" ? WM_LBUTTONDOWN
                                 : t[1] == "up" ? WM_LBUTTONUP
                                                : WM_MOUSEMOVE;
            const WPARAM keys = t[1] == "up" ? 0 : (t[1] == "down" ? MK_LBUTTON : 0);
            POINT at{number(t[2]), number(t[3])};
            POINT screen = at;
            ClientToScreen(requireCurrent(), &screen);
            SetCursorPos(screen.x, screen.y);
            PostMessageA(requireCurrent(), message, keys, MAKELPARAM(at.x, at.y));
        } else if (op == "dialog-focus") {
            need(1);
            HWND control = requireControl(t[1]);
            SetForegroundWindow(dialog_);
            SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
            Sleep(100);
        } else if (op == "type-keys") {
            need(1);
            for (char c : t[1]) {
                const SHORT scan = VkKeyScanA(c);
                if (scan == -1) throw Failure{"no key types " + shown(std::string(1, c))};
                const bool shift = (scan & 0x100) != 0;
                if (shift) sendKey(VK_SHIFT, false);
                sendKey(LOBYTE(scan), false);
                sendKey(LOBYTE(scan), true);
                if (shift) sendKey(VK_SHIFT, true);
            }
            Sleep(200);
        } else if (op == "press-key") {
            need(1);
            sendKey(static_cast<WORD>(number(t[1])), false);
            sendKey(static_cast<WORD>(number(t[1])), true);
            Sleep(200);
        } else if (op == "dialog-mouse-click") {
            need(1);
            HWND control = requireControl(t[1]);
            RECT r{};
            GetWindowRect(control, &r);
            SetCursorPos(r.left + 6, r.top + 6);
            INPUT in[2] = {};
            in[0].type = in[1].type = INPUT_MOUSE;
            in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
            in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
            SendInput(2, in, sizeof(INPUT));
            Sleep(300);
        } else if (op == "drag") {
            // drag X0 Y0 X1 Y1 MS PERIOD: the left button held from one point to the other,
            // a move posted every PERIOD milliseconds for MS milliseconds.
            need(6);
            HWND target = requireCurrent();
            const int x0 = number(t[1]), y0 = number(t[2]), x1 = number(t[3]), y1 = number(t[4]);
            const int total = std::max(1, number(t[5])), period = std::max(1, number(t[6]));
            PostMessageA(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x0, y0));
            const DWORD start = GetTickCount();
            for (DWORD now = start; now - start < static_cast<DWORD>(total); now = GetTickCount()) {
                const double f = static_cast<double>(now - start) / total;
                const int x = x0 + static_cast<int>((x1 - x0) * f), y = y0 + static_cast<int>((y1 - y0) * f);
                PostMessageA(target, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
                Sleep(static_cast<DWORD>(period));
            }
            PostMessageA(target, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x1, y1));
            PostMessageA(target, WM_LBUTTONUP, 0, MAKELPARAM(x1, y1));
        } else if (op == "expect-number-at-least") {
            // expect-number-at-least CLASS ID UNIT MIN: the number before UNIT in the text of
            // control ID of the top-level window of CLASS is at least MIN (and is printed).
            need(4);
            HWND top = findTopLevel(t[1], "", false);
            if (!top) throw Failure{"no window of class " + t[1]};
            HWND control = GetDlgItem(top, number(t[2]));
            if (!control) throw Failure{"window " + t[1] + " has no control " + t[2]};
            char text[256] = {};
            GetWindowTextA(control, text, sizeof text);
            const std::string shownText = text;
            const std::size_t unit = shownText.rfind(" " + t[3]);
            std::size_t begin = unit;
            while (begin > 0 && begin != std::string::npos && std::isdigit(static_cast<unsigned char>(shownText[begin - 1])))
                --begin;
            if (unit == std::string::npos || begin == unit)
                throw Failure{"no number before " + t[3] + " in " + shown(shownText)};
            const int value = std::atoi(shownText.substr(begin, unit - begin).c_str());
            std::printf("  %s: %d %s\n", t[1].c_str(), value, t[3].c_str());
            if (value < number(t[4]))
                throw Failure{shown(shownText) + " is below " + t[4] + " " + t[3]};
        } else if (op == "right-click") {
            need(2);
            POINT at{number(t[1]), number(t[2])};
            POINT screen = at;
            ClientToScreen(requireCurrent(), &screen);
            SetCursorPos(screen.x, screen.y);
            PostMessageA(requireCurrent(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
            PostMessageA(requireCurrent(), WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
        } else if (op == "menu-choose") {
            need(2);
            // The menu runs in the program's thread: the keys posted to its window reach the
            // menu's own loop there.
            HWND menu = waitFor([&] { return findTopLevel("#32768", "", false); }, number(t[2]));
            if (!menu) throw Failure{"no popup menu opened"};
            Sleep(200);
            for (int i = 0; i < number(t[1]); ++i) {
                PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 1);
                PostMessageA(menu, WM_KEYUP, VK_DOWN, 0xC0000001);
                Sleep(30);
            }
            PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 1);
            PostMessageA(menu, WM_KEYUP, VK_RETURN, 0xC0000001);
            if (!waitFor([&] { return findTopLevel("#32768", "", false) ? nullptr : HWND(1); },
                         number(t[2])))
                throw Failure{"the popup menu stayed open"};
        } else if (op == "drop-file") {
            need(1);
            dropFile(requireCurrent(), t[1]);
        } else if (op == "expect-control-inside") {
            // expect-control-inside CLASS ID: control ID of the top-level window of CLASS is
            // shown, not empty, and lies wholly inside that window's client area.
            need(2);
            HWND top = findTopLevel(t[1], "", false);
            HWND control = top ? GetDlgItem(top, number(t[2])) : nullptr;
            if (!control) throw Failure{"window " + t[1] + " has no control " + t[2]};
            RECT client{}, r{};
            GetClientRect(top, &client);
            GetWindowRect(control, &r);
            MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&r), 2);
            std::printf("  %s control %s at %ld,%ld-%ld,%ld in client 0,0-%ld,%ld\n", t[1].c_str(),
                        t[2].c_str(), r.left, r.top, r.right, r.bottom, client.right, client.bottom);
            if (!IsWindowVisible(control) || r.right <= r.left || r.bottom <= r.top ||
                r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > client.bottom)
                throw Failure{"control " + t[2] + " is not inside the client area of " + t[1]};
        } else if (op == "wait-control-text") {
            // wait-control-text CLASS ID TEXT TIMEOUT_MS: the text of control ID of the top-level
            // window of CLASS comes to contain TEXT (read as Unicode, compared as UTF-8).
            need(4);
            std::string last;
            auto has = [&]() -> HWND {
                HWND top = findTopLevel(t[1], "", false);
                HWND control = top ? GetDlgItem(top, number(t[2])) : nullptr;
                last = control ? unicodeText(control) : "";
                return last.find(t[3]) != std::string::npos ? HWND(1) : nullptr;
            };
            if (!waitFor(has, number(t[4])))
                throw Failure{"control " + t[2] + " shows " + shown(last) + ", not " + shown(t[3])};
            std::printf("  %s: %s\n", t[2].c_str(), last.c_str());
        } else if (op == "key") {
            need(1);
            PostMessageA(requireCurrent(), WM_KEYDOWN, number(t[1]), 0);
            PostMessageA(requireCurrent(), WM_KEYUP, number(t[1]), 0xC0000001);
        } else if (op == "expect-no-window") {
            need(3);
            HWND gone = waitFor([&] { return findTopLevel(t[1], t[2], false) ? nullptr : HWND(1); },
                                number(t[3]));
            if (!gone) throw Failure{"window " + shown(t[2]) + " is still there"};
        } else if (op == "expect-window-count") {
            need(3);
            const int count = countTopLevel(t[1], t[2]);
            if (count != number(t[3]))
                throw Failure{std::to_string(count) + " windows " + shown(t[2]) + ", expected " +
                              t[3]};
        } else if (op == "close") {
            PostMessageA(requireCurrent(), WM_CLOSE, 0, 0);
        } else if (op == "expect-exit") {
            need(1);
            if (processes_.empty()) throw Failure{"nothing was started"};
            if (WaitForSingleObject(processes_[0].hProcess, number(t[1])) != WAIT_OBJECT_0)
                throw Failure{"the program did not end"};
        } else if (op == "snap") {
            need(1);
            if (!snap(t[1])) throw Failure{"cannot save the screen to " + t[1]};
        } else if (op == "copy-file") {
            need(2);
            if (!CopyFileA(t[1].c_str(), t[2].c_str(), FALSE))
                throw Failure{"cannot copy " + t[1] + " to " + t[2]};
        } else if (op == "expect-file") {
            need(1);
            auto there = [&]() -> HWND {
                return GetFileAttributesW(wide(t[1]).c_str()) != INVALID_FILE_ATTRIBUTES ? HWND(1)
                                                                                         : nullptr;
            };
            if (!waitFor(there, t.size() > 2 ? number(t[2]) : 0)) throw Failure{"no file " + t[1]};
        } else if (op == "start-args") {
            need(2);
            processes_.push_back(launch(t[1], t.size() > 3 ? t[3] : "", t[2]));
        } else if (op == "dialog-post") {
            need(1);
            HWND control = requireControl(t[1]);
            PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(number(t[1]), BN_CLICKED),
                         reinterpret_cast<LPARAM>(control));
        } else if (op == "dialog-check") {
            need(2);
            // A user clicks the box when its mark is not the one wanted; a box that ignores the
            // click keeps its mark, and the step says so.
            const bool wanted = number(t[2]) != 0;
            HWND control = requireControl(t[1]);
            if ((SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED) != wanted)
                clickControl(t[1]);
            if ((SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED) != wanted)
                throw Failure{"control " + t[1] + " ignored the click: its mark did not change"};
        } else if (op == "wait-dialog-text") {
            need(3);
            std::string text;
            auto showing = [&]() -> HWND {
                wchar_t own[1024] = {};
                SendMessageW(requireControl(t[1]), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(own));
                text = utf8(own);
                return text == t[2] ? HWND(1) : nullptr;
            };
            if (!waitFor(showing, number(t[3])))
                throw Failure{"control " + t[1] + " shows " + shown(text)};
        } else if (op == "any-process") {
            anyProcess_ = true;
        } else if (op == "wizard") {
            need(2);
            sheet_ = waitFor([&] { return findTopLevel("#32770", t[1], true); }, number(t[2]));
            if (!sheet_) throw Failure{"no wizard " + shown(t[1])};
            currentPage();
        } else if (op == "wizard-page") {
            currentPage();
        } else if (op == "wizard-press") {
            need(1);
            if (!sheet_ || !IsWindow(sheet_)) throw Failure{"no wizard"};
            const int button = t[1] == "next"     ? PSBTN_NEXT
                               : t[1] == "back"   ? PSBTN_BACK
                               : t[1] == "finish" ? PSBTN_FINISH
                                                  : PSBTN_CANCEL;
            PostMessageA(sheet_, PSM_PRESSBUTTON, button, 0);
            Sleep(200);
        } else if (op == "expect-wizard-buttons") {
            need(3);
            if (!sheet_ || !IsWindow(sheet_)) throw Failure{"no wizard"};
            const int ids[] = {0x3023, 0x3024, 0x3025};
            std::string state;
            auto asWanted = [&]() -> HWND {
                state.clear();
                bool all = true;
                for (int i = 0; i < 3; ++i) {
                    HWND b = GetDlgItem(sheet_, ids[i]);
                    const bool on = b && IsWindowVisible(b) && IsWindowEnabled(b);
                    state += on ? '1' : '0';
                    if (on != (number(t[i + 1]) != 0)) all = false;
                }
                return all ? HWND(1) : nullptr;
            };
            if (!waitFor(asWanted, 5000)) throw Failure{"wizard buttons are " + state};
        } else if (op == "answer-message-start") {
            need(4);
            dialog_ = waitFor([&] { return findTopLevel("#32770", t[1], true); }, number(t[4]));
            if (!dialog_) throw Failure{"no message box " + shown(t[1])};
            const std::string text = windowText(GetDlgItem(dialog_, 0xFFFF));
            if (text.compare(0, t[2].size(), t[2]) != 0)
                throw Failure{"message is " + shown(text) + ", expected a start " + shown(t[2])};
            pressDialogButton(number(t[3]));
        } else if (op == "expect-exit-code") {
            // The last program started ends with this exit code.
            need(2);
            if (processes_.empty()) throw Failure{"nothing was started"};
            if (WaitForSingleObject(processes_.back().hProcess, number(t[2])) != WAIT_OBJECT_0)
                throw Failure{"the program did not end"};
            DWORD code = 0;
            GetExitCodeProcess(processes_.back().hProcess, &code);
            if (static_cast<int>(code) != number(t[1]))
                throw Failure{"the program ended with " + std::to_string(code)};
        } else if (op == "expect-exit-last") {
            need(1);
            if (processes_.empty()) throw Failure{"nothing was started"};
            if (WaitForSingleObject(processes_.back().hProcess, number(t[1])) != WAIT_OBJECT_0)
                throw Failure{"the program did not end"};
        } else if (op == "expect-no-file") {
            need(1);
            if (GetFileAttributesW(wide(t[1]).c_str()) != INVALID_FILE_ATTRIBUTES)
                throw Failure{t[1] + " exists"};
        } else if (op == "write-file") {
            need(2);
            HANDLE f = CreateFileW(wide(t[1]).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD written = 0;
            const bool ok =
                f != INVALID_HANDLE_VALUE &&
                WriteFile(f, t[2].data(), static_cast<DWORD>(t[2].size()), &written, nullptr);
            if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
            if (!ok) throw Failure{"cannot write " + t[1]};
        } else if (op == "set-file-date" || op == "expect-file-date") {
            need(4);
            HANDLE f =
                CreateFileW(wide(t[1]).c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (f == INVALID_HANDLE_VALUE) throw Failure{"cannot open " + t[1]};
            FILETIME local{}, utc{};
            bool ok = true;
            if (op == "set-file-date") {
                SYSTEMTIME day{};
                day.wYear = static_cast<WORD>(number(t[2]));
                day.wMonth = static_cast<WORD>(number(t[3]));
                day.wDay = static_cast<WORD>(number(t[4]));
                day.wHour = 12;
                ok = SystemTimeToFileTime(&day, &local) && LocalFileTimeToFileTime(&local, &utc) &&
                     SetFileTime(f, nullptr, nullptr, &utc);
            } else {
                SYSTEMTIME day{};
                ok = GetFileTime(f, nullptr, nullptr, &utc) &&
                     FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &day);
                if (ok && (day.wYear != number(t[2]) || day.wMonth != number(t[3]) ||
                           day.wDay != number(t[4]))) {
                    CloseHandle(f);
                    throw Failure{t[1] + " is of " + std::to_string(day.wYear) + "-" +
                                  std::to_string(day.wMonth) + "-" + std::to_string(day.wDay)};
                }
            }
            CloseHandle(f);
            if (!ok) throw Failure{op + " failed on " + t[1]};
        } else if (op == "expect-reg") {
            need(3);
            HKEY root{};
            std::string sub;
            if (!parseKey(t[1], root, sub)) throw Failure{"bad key " + t[1]};
            wchar_t data[1024] = {};
            DWORD size = sizeof data - sizeof(wchar_t);
            const LONG rc = RegGetValueW(root, wide(sub).c_str(), wide(t[2]).c_str(), RRF_RT_REG_SZ,
                                         nullptr, data, &size);
            if (rc != ERROR_SUCCESS) throw Failure{"no value " + t[1] + " " + t[2]};
            if (utf8(data) != t[3])
                throw Failure{t[2] + " is " + shown(utf8(data)) + ", expected " + shown(t[3])};
        } else if (op == "expect-no-key" || op == "make-key" || op == "expect-key") {
            need(1);
            HKEY root{}, key{};
            std::string sub;
            if (!parseKey(t[1], root, sub)) throw Failure{"bad key " + t[1]};
            if (op == "make-key") {
                if (RegCreateKeyExW(root, wide(sub).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    &key, nullptr) != ERROR_SUCCESS)
                    throw Failure{"cannot make " + t[1]};
                RegCloseKey(key);
            } else {
                const bool there =
                    RegOpenKeyExW(root, wide(sub).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS;
                if (there) RegCloseKey(key);
                if (there != (op == "expect-key"))
                    throw Failure{t[1] + (there ? " is still there" : " is missing")};
            }
        } else if (op == "expect-link") {
            need(4);
            expectLink(t[1], t[2], t[3], t[4]);
        } else if (op == "sleep") {
            need(1);
            Sleep(number(t[1]));
        } else {
            throw Failure{"unknown step " + op};
        }
    }

    // The screen at a failure, before the programs are ended (WT_FAILSHOT names the file).
    void failureShot() {
        if (const char* path = std::getenv("WT_FAILSHOT")) snap(path);
    }

  private:
    PROCESS_INFORMATION launch(const std::string& exe, const std::string& workdir,
                               const std::string& arguments = "") {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        std::wstring command = wide("\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments));
        const std::wstring dir = wide(workdir);
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            workdir.empty() ? nullptr : dir.c_str(), &si, &pi))
            throw Failure{"cannot start " + exe + " (error " + std::to_string(GetLastError()) +
                          ")"};
        return pi;
    }

    template <typename Probe>
    HWND waitFor(Probe probe, int timeoutMs) {
        const DWORD start = GetTickCount();
        for (;;) {
            if (HWND found = probe()) return found;
            if (static_cast<int>(GetTickCount() - start) >= timeoutMs) return nullptr;
            Sleep(50);
        }
    }

    void currentPage() {
        if (!sheet_ || !IsWindow(sheet_)) throw Failure{"no wizard"};
        dialog_ = reinterpret_cast<HWND>(SendMessageA(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0));
        if (!dialog_) throw Failure{"the wizard shows no page"};
    }

    static void expectLink(const std::string& file, const std::string& target,
                           const std::string& arguments, const std::string& workdir) {
        CoInitialize(nullptr);
        IShellLinkW* link = nullptr;
        IPersistFile* persist = nullptr;
        std::string failure;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(&link)))) {
            failure = "no shell link object";
        } else if (FAILED(link->QueryInterface(IID_IPersistFile,
                                               reinterpret_cast<void**>(&persist))) ||
                   FAILED(persist->Load(wide(file).c_str(), STGM_READ))) {
            failure = "cannot read the link " + file;
        } else {
            wchar_t path[MAX_PATH] = {}, args[MAX_PATH] = {}, dir[MAX_PATH] = {};
            link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
            link->GetArguments(args, MAX_PATH);
            link->GetWorkingDirectory(dir, MAX_PATH);
            if (_wcsicmp(path, wide(target).c_str()) != 0)
                failure = "link target is " + shown(utf8(path));
            else if (utf8(args) != arguments)
                failure = "link arguments are " + shown(utf8(args));
            else if (_wcsicmp(dir, wide(workdir).c_str()) != 0)
                failure = "link working folder is " + shown(utf8(dir));
        }
        if (persist) persist->Release();
        if (link) link->Release();
        CoUninitialize();
        if (!failure.empty()) throw Failure{failure};
    }

    bool ours(HWND window) const {
        if (anyProcess_) return true;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        for (const auto& p : processes_)
            if (p.dwProcessId == pid) return true;
        return false;
    }

    struct Search {
        const Driver* driver;
        std::string className, title;
        bool exact, onlyOurs;
        std::vector<HWND> found;
    };

    static BOOL CALLBACK collect(HWND window, LPARAM param) {
        auto* s = reinterpret_cast<Search*>(param);
        if (!IsWindowVisible(window)) return TRUE;
        if (s->className != "*" && classOf(window) != s->className) return TRUE;
        const std::string title = windowText(window);
        if (s->exact ? title != s->title : title.find(s->title) == std::string::npos) return TRUE;
        if (s->onlyOurs && !s->driver->ours(window)) return TRUE;
        s->found.push_back(window);
        return TRUE;
    }

    std::vector<HWND> topLevel(const std::string& className, const std::string& title,
                               bool dialog) const {
        Search s{this, className, title, dialog, dialog, {}};
        EnumWindows(collect, reinterpret_cast<LPARAM>(&s));
        return s.found;
    }
    HWND findTopLevel(const std::string& className, const std::string& title, bool dialog) const {
        auto all = topLevel(className, title, dialog);
        return all.empty() ? nullptr : all.front();
    }
    int countTopLevel(const std::string& className, const std::string& title) const {
        return static_cast<int>(topLevel(className, title, false).size());
    }

    HWND requireCurrent() {
        if (!current_ || !IsWindow(current_)) throw Failure{"no current window"};
        return current_;
    }

    HWND iconButton(int id) {
        // The strip is created after the window shows its title.
        HWND main = requireCurrent();
        HWND bar =
            waitFor([&] { return FindWindowExA(main, nullptr, "IconBarWindow", nullptr); }, 5000);
        if (!bar) throw Failure{"the window has no icon bar"};
        HWND button = bar ? waitFor([&] { return GetDlgItem(bar, id); }, 5000) : nullptr;
        if (!button) throw Failure{"no icon-bar button " + std::to_string(id)};
        return button;
    }

    // A drop as the shell makes it: a DROPFILES block followed by the wide names, in the memory
    // of the program that owns the window (a fixed block: GlobalLock hands back its address).
    static void dropFile(HWND window, const std::string& path) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
        if (!process) throw Failure{"cannot reach the program's memory"};
        const std::wstring name = wide(path);
        std::vector<char> block(sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t), 0);
        auto* files = reinterpret_cast<DROPFILES*>(block.data());
        files->pFiles = sizeof(DROPFILES);
        files->fWide = TRUE;
        std::memcpy(block.data() + sizeof(DROPFILES), name.c_str(), name.size() * sizeof(wchar_t));
        void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE,
                                      PAGE_READWRITE);
        const bool written = remote && WriteProcessMemory(process, remote, block.data(),
                                                          block.size(), nullptr);
        CloseHandle(process);
        if (!written) throw Failure{"cannot write the dropped name into the program"};
        PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0);
    }

    static void sendKey(WORD vk, bool up) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        SendInput(1, &in, sizeof in);
        Sleep(20);
    }

    // The steps that measure what a window shows: false when `t` is none of them.
    bool readoutStep(const std::vector<std::string>& t) {
        if (t[0] != "expect-text-fits" && t[0] != "expect-readout-strip") return false;
        if (t.size() < 3) throw Failure{t[0] + ": expects 2 arguments"};
        std::string why;
        auto check = [&]() -> HWND {
            why.clear();
            return t[0] == "expect-text-fits" ? textFits(number(t[1]), why)
                                              : readoutStrip(number(t[1]), why);
        };
        if (!waitFor(check, number(t[2]))) throw Failure{why};
        return true;
    }

    // The control `id` inside the current dialog when its text fits the width it has for text
    // (an edit box's formatting rectangle), measured with the font it draws with.
    HWND textFits(int id, std::string& why) {
        if (!dialog_ || !IsWindow(dialog_)) throw Failure{"no current dialog"};
        std::pair<int, HWND> search{id, nullptr};
        EnumChildWindows(
            dialog_,
            [](HWND child, LPARAM param) -> BOOL {
                auto* s = reinterpret_cast<std::pair<int, HWND>*>(param);
                if (GetDlgCtrlID(child) != s->first) return TRUE;
                s->second = child;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        HWND control = search.second;
        if (!control) return why = "no control " + std::to_string(id), nullptr;
        const std::wstring text = wide(unicodeText(control));
        if (text.empty()) return why = "control " + std::to_string(id) + " shows no text", nullptr;
        // Measured by the edit box itself, in its own font: where the text ends when it is
        // scrolled to its start (a font handle of another program cannot be selected here).
        if (classOf(control) != "Edit") throw Failure{"control " + std::to_string(id) + " is no edit box"};
        RECT room{};
        SendMessageW(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&room));
        SendMessageW(control, EM_SETSEL, 0, 0);
        SendMessageW(control, EM_SCROLLCARET, 0, 0);
        // The character at the right edge of the room: past the last one when the text fits.
        const LRESULT last = SendMessageW(control, EM_POSFROMCHAR, text.size() - 1, 0);
        const LRESULT atEdge = SendMessageW(control, EM_CHARFROMPOS, 0,
                                            MAKELPARAM(room.right - 1, (room.top + room.bottom) / 2));
        const std::size_t shownUpTo = LOWORD(atEdge);
        std::printf("text %d: last character at x %d, room to x %ld, %zu of %zu characters\n", id,
                    static_cast<short>(LOWORD(last)), static_cast<long>(room.right), shownUpTo,
                    text.size());
        if (shownUpTo < text.size())
            return why = "control " + std::to_string(id) + " shows " + std::to_string(shownUpTo) +
                         " of its " + std::to_string(text.size()) + " characters",
                   nullptr;
        return control;
    }

    // The current window when its client area shows, at its left edge, `rows` rows of the
    // button face over which some text is drawn (the status strip under the spectrum).
    HWND readoutStrip(int rows, std::string& why) {
        HWND window = requireCurrent();
        RECT client{};
        GetClientRect(window, &client);
        const int width = std::min<int>(client.right, 400), height = client.bottom;
        HDC screen = GetDC(window);
        HDC memory = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        int run = 0;
        bool found = false;
        for (int y = 0; y < height && !found; ++y) {
            bool band = true;
            for (int x = 0; x < 4 && band; ++x) band = GetPixel(memory, x, y) == face;
            run = band ? run + 1 : 0;
            if (run < rows) continue;
            // Some text inside the band's rows.
            for (int yy = y - rows + 1; yy <= y && !found; ++yy)
                for (int x = 4; x < width && !found; ++x)
                    found = GetPixel(memory, x, yy) == GetSysColor(COLOR_BTNTEXT);
            if (found)
                std::printf("readout strip: rows %d to %d of %d\n", y - rows + 1, y,
                            static_cast<int>(height));
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, screen);
        if (!found) why = "no readout strip inside the client area";
        return found ? window : nullptr;
    }

    HWND requireControl(const std::string& id) {
        if (!dialog_ || !IsWindow(dialog_)) throw Failure{"no current dialog"};
        HWND control = GetDlgItem(dialog_, number(id));
        if (!control) throw Failure{"the dialog has no control " + id};
        return control;
    }

    // What a mouse click does to a button: BM_CLICK makes the button run its own press and
    // release (an automatic box or radio button moves its mark) and notify its dialog.
    void clickControl(const std::string& id) {
        HWND control = requireControl(id);
        if (!IsWindowVisible(control) || !IsWindowEnabled(control))
            throw Failure{"control " + id + " cannot be clicked: it is hidden or disabled"};
        SendMessageA(control, BM_CLICK, 0, 0);
    }

    void pressDialogButton(int id) {
        if (!dialog_ || !IsWindow(dialog_)) throw Failure{"no current dialog"};
        PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
        HWND gone = waitFor([&] { return IsWindow(dialog_) ? nullptr : HWND(1); }, 5000);
        if (!gone) throw Failure{"the dialog stayed open"};
        dialog_ = nullptr;
    }

    static bool snap(const std::string& path) {
        const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        void* bits = nullptr;
        HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        bool ok = dib != nullptr;
        if (ok) {
            HGDIOBJ old = SelectObject(memory, dib);
            BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
            SelectObject(memory, old);
            const DWORD row = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
            const DWORD size = row * static_cast<DWORD>(h);
            BITMAPFILEHEADER fh{};
            fh.bfType = 0x4D42;
            fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
            fh.bfSize = fh.bfOffBits + size;
            FILE* f = std::fopen(path.c_str(), "wb");
            ok = f && std::fwrite(&fh, sizeof fh, 1, f) == 1 &&
                 std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
                 std::fwrite(bits, 1, size, f) == size;
            if (f && std::fclose(f) != 0) ok = false;
            DeleteObject(dib);
        }
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
        return ok;
    }

    std::vector<PROCESS_INFORMATION> processes_;
    HWND current_ = nullptr;
    HWND dialog_ = nullptr;
    HWND sheet_ = nullptr;
    bool anyProcess_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wintest SCRIPT\n");
        return 2;
    }
    std::ifstream script(argv[1]);
    if (!script) {
        std::fprintf(stderr, "wintest: cannot read %s\n", argv[1]);
        return 2;
    }
    Driver driver;
    std::string line;
    int number = 0;
    try {
        while (std::getline(script, line)) {
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            const auto t = tokens(line);
            if (!t.empty()) driver.step(t);
        }
    } catch (const Failure& failure) {
        driver.failureShot();
        std::printf("FAIL line %d: %s\n", number, failure.reason.c_str());
        std::fflush(stdout);
        return 1;
    }
    std::printf("ok\n");
    return 0;
}
