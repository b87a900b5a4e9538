// The three-page wizard: destination, shortcut options, copying.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>

#include <memory>
#include <stdexcept>

#include "frame/support/callback_guard.h"
#include "frame/support/dialog_support.h"
#include "frame/support/window_support.h"
#include "install/program/installer.h"
#include "install/removal.h"
#include "install/texts.h"

namespace install {

namespace {

// The installer state every page shares: PROPSHEETPAGE.lParam on WM_INITDIALOG, kept in the page.
Installer& stateOf(HWND page) {
    Installer* state = frame::stateOf<Installer>(page);
    if (!state) throw std::logic_error("wizard page without its state");
    return *state;
}

void keepState(HWND page, LPARAM lParam) {
    const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
    frame::keepState(page, reinterpret_cast<Installer*>(sheetPage->lParam));
}

// Answers a notification: -1 keeps the page, a template id jumps to that page, 0 goes on.
INT_PTR answer(HWND page, LONG_PTR result) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
    return TRUE;
}

// ---- destination ----

void browse(HWND page, Installer& state) {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    SetCurrentDirectoryA(std::string(windows).substr(0, 3).c_str());
    char file[260] = "dummy";
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = page;
    ofn.hInstance = state.instance;
    ofn.lpstrFilter = "*.*\0*.*\0";
    ofn.lpstrFile = file;
    // The dialog puts its own caption over the template's unless it is given one.
    const std::string caption = say(core::Localized{"Browse", "参照"});
    ofn.lpstrTitle = caption.c_str();
    ofn.nMaxFile = sizeof file;
    ofn.lpTemplateName = MAKEINTRESOURCEA(state.japanese ? IDD_BROWSE_J : IDD_BROWSE);
    ofn.Flags = OFN_ENABLETEMPLATE | OFN_NOCHANGEDIR;
    if (GetSaveFileNameA(&ofn)) SetDlgItemTextA(page, IDC_PATH, folderOf(file, state.dbcs).c_str());
    SetCurrentDirectoryA(state.sourceDir.c_str());
}

INT_PTR aboutHandler(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

// The checks of Next, in order; the page stays on the first that fails.
bool destinationAccepted(HWND page, Installer& state) {
    wchar_t typed[260] = {};
    GetDlgItemTextW(page, IDC_PATH, typed, 260);
    // A folder the ANSI functions cannot name would arrive as "?": refused here, by name.
    const std::string foreign = firstForeignCharacter(typed);
    if (!foreign.empty()) {
        foreignCharacterMessage(page, foreign);
        return false;
    }
    state.installDir = ansiOf(typed);
    switch (checkDestination(state.installDir, state.dbcs)) {
        case Destination::Root:
            error(page, texts::root());
            return false;
        case Destination::DriveAndPath:
            error(page, texts::driveAndPath());
            return false;
        case Destination::SubFolder:
            error(nullptr, texts::subFolder());
            return false;
        case Destination::BadName:
            error(page, texts::badFolderName());
            return false;
        case Destination::Ok:
            break;
    }
    std::string folder = state.installDir;
    folder.pop_back();
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    // A folder that is a link puts the files wherever it points, and its removal would follow.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        error(page, texts::linkedFolder(folder));
        return false;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // Only whether it can be made: a cancelled wizard leaves nothing behind. A file of that
        // name is refused here with the folder message, not found out file by file while copying.
        if (!createFolderWithParents(page, state.installDir, state.dbcs)) return false;
        RemoveDirectoryA(folder.c_str());
    }
    const unsigned megabytes = freeMegabytes(state);
    if (lowOnSpace(megabytes) && message(page, texts::freeSpace(megabytes), state.title,
                                         MB_ICONQUESTION | MB_YESNO) != IDYES)
        return false;
    if (GetFileAttributesA((state.installDir + "install.inf").c_str()) != INVALID_FILE_ATTRIBUTES) {
        if (equalNoCase(normalisePath(state.installDir, state.dbcs),
                        normalisePath(state.previousDir, state.dbcs), state.dbcs)) {
            state.upgrade = true;
        } else if (message(page, texts::destroysUninstall(), state.title,
                           MB_ICONQUESTION | MB_YESNO) == IDYES) {
            state.upgrade = false;
            return false;
        } else {
            state.upgrade = true;
        }
    }
    return true;
}

INT_PTR destinationHandler(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            keepState(page, lParam);
            Installer& state = stateOf(page);
            SendDlgItemMessageA(page, IDC_PATH, EM_LIMITTEXT, 259, 0);
            SetDlgItemTextA(page, IDC_PROMPT, texts::prompt(state.title).c_str());
            HWND sheet = GetParent(page);
            SetWindowTextA(sheet, texts::sheetTitle(state.title).c_str());
            frame::centreOnScreen(sheet);
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_BROWSE) {
                browse(page, stateOf(page));
            } else if (LOWORD(wParam) == IDC_ABOUT) {
                const Installer& state = stateOf(page);
                frame::runDialog<aboutHandler>(state.instance, page,
                                               state.japanese ? "ABOUT_DLG_J" : "ABOUT_DLG", state,
                                               texts::dialogFailed().c_str());
            }
            return TRUE;
        case WM_NOTIFY: {
            Installer& state = stateOf(page);
            switch (reinterpret_cast<NMHDR*>(lParam)->code) {
                case PSN_SETACTIVE:
                    PropSheet_SetWizButtons(GetParent(page), PSWIZB_NEXT);
                    SetDlgItemTextA(page, IDC_PATH, state.installDir.c_str());
                    return answer(page, 0);
                case PSN_WIZNEXT:
                    if (!destinationAccepted(page, state)) return answer(page, -1);
                    if (state.resident)
                        return answer(page, state.japanese ? IDD_COPYING_J : IDD_COPYING);
                    return answer(page, 0);
                default:
                    return FALSE;
            }
        }
        default:
            return FALSE;
    }
}

// ---- options ----

INT_PTR optionsHandler(HWND page, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            keepState(page, lParam);
            CheckDlgButton(page, IDC_STARTMENU,
                           stateOf(page).upgrade ? BST_UNCHECKED : BST_CHECKED);
            CheckDlgButton(page, IDC_DESKTOP, BST_UNCHECKED);
            return TRUE;
        case WM_NOTIFY: {
            Installer& state = stateOf(page);
            switch (reinterpret_cast<NMHDR*>(lParam)->code) {
                case PSN_SETACTIVE:
                    PropSheet_SetWizButtons(GetParent(page), PSWIZB_BACK | PSWIZB_NEXT);
                    return answer(page, 0);
                case PSN_WIZNEXT:
                    state.wantStartMenu = IsDlgButtonChecked(page, IDC_STARTMENU) == BST_CHECKED;
                    state.wantDesktop = IsDlgButtonChecked(page, IDC_DESKTOP) == BST_CHECKED;
                    return answer(page, 0);
                case PSN_WIZBACK:
                    CheckDlgButton(page, IDC_STARTMENU, BST_CHECKED);
                    CheckDlgButton(page, IDC_DESKTOP, BST_UNCHECKED);
                    return answer(page, 0);
                default:
                    return FALSE;
            }
        }
        default:
            return FALSE;
    }
}

// ---- copying ----

// The copying steps: the folder, the installer, the description, the file entries, then the
// shortcuts and the entry of the list of programs. A folder that cannot be made stops the run;
// any other failure is reported by its step and the run goes on, failed.
std::vector<Step> copyingSteps(HWND page, Installer& state) {
    std::vector<Step> steps;
    auto progress = [page](StepResult result) {
        SendDlgItemMessageA(page, IDC_PROGRESS, PBM_DELTAPOS, 1, 0);
        return result;
    };
    auto copied = [](bool ok) { return ok ? StepResult::Done : StepResult::Failed; };
    const int files = static_cast<int>(state.description.files.size());
    steps.push_back([=, &state] {
        SendDlgItemMessageA(page, IDC_PROGRESS, PBM_SETRANGE32, 0, files + 3);
        if (!createFolderWithParents(page, state.installDir, state.dbcs))
            return progress(StepResult::Stop);
        return progress(copied(protectInstallFolder(state)));
    });
    steps.push_back([=, &state] {
        return progress(copied(copyOne(page, state, state.installerName, state.installerName)));
    });
    steps.push_back([=, &state] {
        const std::string name = lastComponent(state.descriptionFile, state.dbcs);
        return progress(copied(copyOne(page, state, name, name)));
    });
    for (int n = 0; n < files; ++n)
        steps.push_back([=, &state] {
            const FileEntry& entry = state.description.files[static_cast<std::size_t>(n)];
            return progress(copied(copyOne(page, state, entry.source, entry.destination)));
        });
    steps.push_back([=, &state] {
        bool ok = true;
        if (state.resident) {
            ok = makeShortcuts(page, state, Place::Startup);
        } else {
            if (state.wantStartMenu) ok = makeShortcuts(page, state, Place::Menu) && ok;
            if (state.wantDesktop) ok = makeShortcuts(page, state, Place::Desktop) && ok;
        }
        ok = registerUninstall(page, state) && ok;
        return progress(copied(ok));
    });
    return steps;
}

struct Copying {
    StepRunner runner;
};
std::unique_ptr<Copying> g_copying;  // one copying page per process

void copyingDone(HWND page, Installer& state, bool ok) {
    // Finish first: whatever happens to the line below, the sheet can be closed.
    state.installed = true;
    state.copyingFailed = !ok;
    PropSheet_SetWizButtons(GetParent(page), PSWIZB_FINISH);
    ShowWindow(GetDlgItem(page, IDC_PROGRESS), SW_HIDE);
    SetDlgItemTextA(page, IDC_COPYING, (ok ? texts::succeeded() : texts::notSucceeded()).c_str());
}

INT_PTR copyingHandler(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            keepState(page, lParam);
            PropSheet_CancelToClose(GetParent(page));
            return TRUE;
        case WM_TIMER:
            KillTimer(page, 1);
            g_copying = std::make_unique<Copying>();
            // A failure while preparing the steps is reported by the run, which then ends failed
            // with Finish enabled: the sheet, whose Cancel is gone, is never left stuck.
            g_copying->runner = StepRunner::prepared(
                [page] { return copyingSteps(page, stateOf(page)); }, frame::reportCallbackFailure);
            PostMessageA(page, WM_COMMAND, IDM_NEXTSTEP, 0);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDM_NEXTSTEP && g_copying) {
                if (g_copying->runner.runNext())
                    PostMessageA(page, WM_COMMAND, IDM_NEXTSTEP, 0);
                else
                    copyingDone(page, stateOf(page), g_copying->runner.succeeded());
            }
            return TRUE;
        case WM_NOTIFY: {
            Installer& state = stateOf(page);
            switch (reinterpret_cast<NMHDR*>(lParam)->code) {
                case PSN_SETACTIVE:
                    PropSheet_SetWizButtons(GetParent(page), 0);
                    SetTimer(page, 1, 300, nullptr);
                    return answer(page, 0);
                case PSN_WIZFINISH:
                    SetCurrentDirectoryA(state.installDir.c_str());
                    // The value checked at load: a file this installation installed.
                    state.openAfter = state.description.open;
                    return answer(page, 0);
                case PSN_QUERYCANCEL:
                    // Nothing to cancel once copying has begun.
                    return answer(page, state.installed ? FALSE : TRUE);
                default:
                    return FALSE;
            }
        }
        default:
            return FALSE;
    }
}

}  // namespace

void runWizard(Installer& state) {
    const bool ja = state.japanese;
    const struct {
        int id;
        DLGPROC proc;
    } pages[] = {{ja ? IDD_DESTINATION_J : IDD_DESTINATION,
                  frame::guardedDialogProcedure<destinationHandler>},
                 {ja ? IDD_OPTIONS_J : IDD_OPTIONS, frame::guardedDialogProcedure<optionsHandler>},
                 {ja ? IDD_COPYING_J : IDD_COPYING, frame::guardedDialogProcedure<copyingHandler>}};
    // A wizard shows the current page's title: every page carries the sheet's.
    const std::string caption = texts::sheetTitle(state.title);
    PROPSHEETPAGEA sheetPages[3]{};
    for (int i = 0; i < 3; ++i) {
        sheetPages[i].dwSize = sizeof sheetPages[i];
        sheetPages[i].dwFlags = PSP_USETITLE;
        sheetPages[i].pszTitle = caption.c_str();
        sheetPages[i].hInstance = state.instance;
        sheetPages[i].pszTemplate = MAKEINTRESOURCEA(pages[i].id);
        sheetPages[i].pfnDlgProc = pages[i].proc;
        sheetPages[i].lParam = reinterpret_cast<LPARAM>(&state);
    }
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_WIZARD | PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
    header.hwndParent = nullptr;
    header.hInstance = state.instance;
    header.pszCaption = caption.c_str();
    header.nPages = 3;
    header.nStartPage = 0;
    header.ppsp = sheetPages;
    PropertySheetA(&header);
}

}  // namespace install
