// The crystal command: "PARAMETERS_DLG", which writes into the crystal model as the user types,
// the "CrystalWindow" sketch of the unit cell beside it, and what the main window does with the
// dialog's outcome.
#include <cstdlib>
#include <string>

#include "core/localized.h"
#include "core/wide_path.h"
#include "crystal/app/app_state.h"
#include "crystal/app/gdi_canvas.h"
#include "crystal/engine/cell_sketch.h"
#include "crystal/rules/parameters.h"
#include "frame/support/dialog_support.h"

namespace kestral {
namespace {

constexpr char kCrystalWindowClass[] = "CrystalWindow";
constexpr UINT kStoreRowMessage = WM_USER;
// Selects the whole text of the u, v or w box in wParam once its focus click has been handled.
constexpr UINT kSelectDirectionMessage = WM_USER + 1;

struct DialogState {
    AppState* app = nullptr;
    HWND crystalWindow = nullptr;
    int rememberedAtomCount = 1;
    int editRow = 0;
    crystal::DialogOutcome outcome = crystal::DialogOutcome::Confirmed;
    bool ready = false;   // notifications during WM_INITDIALOG are not the user's
    bool ending = false;  // nothing more is checked once the dialog is ending
};

std::string controlText(HWND dialog, int id, std::size_t limit) {
    char text[64] = {};
    GetDlgItemTextA(dialog, id, text, static_cast<int>(sizeof text));
    return std::string(text).substr(0, limit);
}

void repaintSketch(const DialogState& s) {
    if (!s.crystalWindow) return;
    InvalidateRect(s.crystalWindow, nullptr, TRUE);
    UpdateWindow(s.crystalWindow);
}

void endWith(HWND dialog, DialogState& s, crystal::DialogOutcome outcome) {
    s.outcome = outcome;
    s.ending = true;
    EndDialog(dialog, 1);
}

crystal::AtomSite& editedSite(DialogState& s) {
    auto& atoms = s.app->crystal.model.atoms;
    if (s.editRow >= static_cast<int>(atoms.size())) atoms.resize(s.editRow + 1);
    return atoms[s.editRow];
}

crystal::RowEntry rowEntryOf(HWND dialog) {
    crystal::RowEntry e;
    e.symbol = controlText(dialog, IDC_SYMBOL, crystal::kFieldStoreLength);
    e.x = controlText(dialog, IDC_X, crystal::kFieldStoreLength);
    e.y = controlText(dialog, IDC_Y, crystal::kFieldStoreLength);
    e.z = controlText(dialog, IDC_Z, crystal::kFieldStoreLength);
    const LRESULT colour = SendDlgItemMessageA(dialog, IDC_COLOUR, CB_GETCURSEL, 0, 0);
    e.colourIndex = colour == CB_ERR ? 0 : static_cast<int>(colour);
    return e;
}

bool storeRow(HWND dialog, DialogState& s) {
    return crystal::storeAtomRow(s.app->crystal.model, s.editRow, rowEntryOf(dialog));
}

void showRowLabel(HWND dialog, const DialogState& s) {
    SetDlgItemTextA(dialog, IDC_ROWLABEL, ("Atom " + std::to_string(s.editRow)).c_str());
}

void fillList(HWND dialog, int id, const std::vector<std::string>& entries) {
    for (const std::string& e : entries)
        SendDlgItemMessageA(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.c_str()));
}

const core::Localized kPeriodicLabel{"Periodic cell", "周期セル"};
const core::Localized kSlabLabel{"Slabs (Ang.)", "スラブ (Å)"};

// The two slicing choices beside the crystal: the periodic cell and equal slabs (empty: planes).
void showSlicingOptions(HWND dialog, const crystal::SlicingOptions& o) {
    SetDlgItemTextW(dialog, IDC_PERIODIC, core::widePath(core::text(kPeriodicLabel)).c_str());
    SetDlgItemTextW(dialog, IDC_SLABLABEL, core::widePath(core::text(kSlabLabel)).c_str());
    CheckDlgButton(dialog, IDC_PERIODIC, o.periodicCell ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextA(
        dialog, IDC_SLAB,
        o.sliceThickness > 0 ? core::formatMessage("%g", o.sliceThickness).c_str() : "");
}

// False for a slab thickness that is no number of 0.1..100 Angstrom.
bool readSlicingOptions(HWND dialog, crystal::SlicingOptions& o) {
    const std::string slab = controlText(dialog, IDC_SLAB, 32);
    double thickness = 0;
    if (slab.find_first_not_of(' ') != std::string::npos) {
        char* end = nullptr;
        thickness = std::strtod(slab.c_str(), &end);
        while (end && *end == ' ') ++end;
        if (!end || *end != '\0' || !(thickness >= 0.1 && thickness <= 100)) return false;
    }
    o.periodicCell = IsDlgButtonChecked(dialog, IDC_PERIODIC) == BST_CHECKED;
    o.sliceThickness = thickness;
    return true;
}

void OnInitDialog(HWND dialog, DialogState& s) {
    const crystal::CrystalModel& m = s.app->crystal.model;
    showSlicingOptions(dialog, s.app->crystal.options);
    const int lattice[6] = {IDC_A_AXIS, IDC_B_AXIS, IDC_C_AXIS, IDC_ALPHA, IDC_BETA, IDC_GAMMA};
    const std::string* texts[6] = {&m.a, &m.b, &m.c, &m.alpha, &m.beta, &m.gamma};
    for (int i = 0; i < 6; ++i) SetDlgItemTextA(dialog, lattice[i], texts[i]->c_str());
    for (int id : {IDC_X, IDC_Y, IDC_Z}) fillList(dialog, id, crystal::coordinateChoices());
    for (int id : {IDC_U, IDC_V, IDC_W}) fillList(dialog, id, crystal::directionChoices());
    SetDlgItemTextA(dialog, IDC_U, m.u.c_str());
    SetDlgItemTextA(dialog, IDC_V, m.v.c_str());
    SetDlgItemTextA(dialog, IDC_W, m.w.c_str());
    fillList(dialog, IDC_SYMBOL, crystal::symbolChoices());
    const crystal::AtomSite& row0 = m.atoms[0];
    SetDlgItemTextA(dialog, IDC_SYMBOL, row0.symbol.c_str());
    for (int i = 0; i < crystal::kColourCount; ++i)
        SendDlgItemMessageA(dialog, IDC_COLOUR, CB_ADDSTRING, 0,
                            static_cast<LPARAM>(crystal::kAtomColours[i].value));
    SendDlgItemMessageA(dialog, IDC_COLOUR, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), 15);
    SendDlgItemMessageA(dialog, IDC_COLOUR, CB_SETCURSEL, row0.colourIndex, 0);
    SetDlgItemTextA(dialog, IDC_X, row0.x.c_str());
    SetDlgItemTextA(dialog, IDC_Y, row0.y.c_str());
    SetDlgItemTextA(dialog, IDC_Z, row0.z.c_str());
    showRowLabel(dialog, s);
    for (int id : lattice)
        SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, crystal::kLatticeTextLimit, 0);
    for (int id : {IDC_X, IDC_Y, IDC_Z}) EnableWindow(GetDlgItem(dialog, id), FALSE);
    s.ready = true;
}

void checkLatticeField(HWND dialog, DialogState& s, int id) {
    static const crystal::LatticeField fields[6] = {
        crystal::LatticeField::A,     crystal::LatticeField::B,    crystal::LatticeField::C,
        crystal::LatticeField::Alpha, crystal::LatticeField::Beta, crystal::LatticeField::Gamma};
    const std::string text = controlText(dialog, id, crystal::kFieldReadLength);
    const crystal::LatticeField field = fields[id - IDC_A_AXIS];
    if (!crystal::latticeTextAccepted(field, text)) {
        endWith(dialog, s, crystal::DialogOutcome::ImproperValue);
        return;
    }
    crystal::CrystalModel& m = s.app->crystal.model;
    std::string* targets[6] = {&m.a, &m.b, &m.c, &m.alpha, &m.beta, &m.gamma};
    *targets[id - IDC_A_AXIS] = text;
}

void checkCoordinate(HWND dialog, DialogState& s, int id, int code) {
    std::string text;
    const LRESULT selected = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    if (code == CBN_SELCHANGE && selected != CB_ERR) {
        // The edit field still holds the old text while the selection changes.
        char item[64] = {};
        if (SendDlgItemMessageA(dialog, id, CB_GETLBTEXTLEN, selected, 0) < 63)
            SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(item));
        text = std::string(item).substr(0, crystal::kFieldReadLength);
    } else {
        text = controlText(dialog, id, crystal::kFieldReadLength);
    }
    if (!crystal::coordinateTextAccepted(text)) {
        endWith(dialog, s, crystal::DialogOutcome::ImproperValue);
        return;
    }
    crystal::AtomSite& site = editedSite(s);
    (id == IDC_X ? site.x : id == IDC_Y ? site.y : site.z) = text;
    PostMessageA(dialog, kStoreRowMessage, 0, 0);
}

// u, v, w and the symbol keep a text only while it begins an entry of their list.
void completeTexts(HWND dialog) {
    for (int id : {IDC_U, IDC_V, IDC_W, IDC_SYMBOL}) {
        const std::string text = controlText(dialog, id, crystal::kFieldStoreLength);
        const std::string fitted = id == IDC_SYMBOL ? crystal::completeSymbolText(text)
                                                    : crystal::completeDirectionText(text);
        if (fitted != text) SetDlgItemTextA(dialog, id, fitted.c_str());
    }
}

void chooseColour(HWND dialog, DialogState& s) {
    const LRESULT index = SendDlgItemMessageA(dialog, IDC_COLOUR, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return;
    crystal::AtomSite& site = editedSite(s);
    site.colourIndex = static_cast<int>(index);
    site.colourValue = static_cast<crystal::ColourValue>(
        SendDlgItemMessageA(dialog, IDC_COLOUR, CB_GETITEMDATA, index, 0));
    repaintSketch(s);
}

void nextRow(HWND dialog, DialogState& s) {
    if (!storeRow(dialog, s)) {
        endWith(dialog, s, crystal::DialogOutcome::ForbiddenPosition);
        return;
    }
    ++s.editRow;
    if (s.editRow >= crystal::kMaxAtoms - 1) EnableWindow(GetDlgItem(dialog, IDC_NEXTROW), FALSE);
    for (int id : {IDC_X, IDC_Y, IDC_Z}) EnableWindow(GetDlgItem(dialog, id), TRUE);
    const crystal::RowDefaults d = crystal::rowDefaults(s.app->crystal.model, s.editRow);
    if (d.colourIndex) SendDlgItemMessageA(dialog, IDC_COLOUR, CB_SETCURSEL, *d.colourIndex, 0);
    if (d.x) SetDlgItemTextA(dialog, IDC_X, d.x->c_str());
    if (d.y) SetDlgItemTextA(dialog, IDC_Y, d.y->c_str());
    if (d.z) SetDlgItemTextA(dialog, IDC_Z, d.z->c_str());
    if (d.symbol) SetDlgItemTextA(dialog, IDC_SYMBOL, d.symbol->c_str());
    showRowLabel(dialog, s);
    repaintSketch(s);
}

void confirm(HWND dialog, DialogState& s) {
    crystal::CrystalModel& m = s.app->crystal.model;
    const int ids[9] = {IDC_A_AXIS, IDC_B_AXIS, IDC_C_AXIS, IDC_ALPHA, IDC_BETA,
                        IDC_GAMMA,  IDC_U,      IDC_V,      IDC_W};
    std::string* fields[9] = {&m.a, &m.b, &m.c, &m.alpha, &m.beta, &m.gamma, &m.u, &m.v, &m.w};
    for (int i = 0; i < 9; ++i)
        *fields[i] = controlText(dialog, ids[i], crystal::kFieldStoreLength);
    if (!readSlicingOptions(dialog, s.app->crystal.options)) {
        endWith(dialog, s, crystal::DialogOutcome::ImproperValue);
        return;
    }
    const bool stored = storeRow(dialog, s);
    m.atomCount = s.editRow + 1;
    endWith(dialog, s,
            stored ? crystal::DialogOutcome::Confirmed : crystal::DialogOutcome::ForbiddenPosition);
}

void OnCommand(HWND dialog, DialogState& s, int id, int code) {
    if (!s.ready || s.ending) return;
    if (id >= IDC_A_AXIS && id <= IDC_GAMMA) {
        if (code == EN_CHANGE || code == EN_SETFOCUS || code == EN_KILLFOCUS)
            checkLatticeField(dialog, s, id);
    } else if (id == IDC_X || id == IDC_Y || id == IDC_Z) {
        checkCoordinate(dialog, s, id, code);
    } else if (id >= IDC_U && id <= IDC_SYMBOL) {
        if (code == CBN_EDITCHANGE) completeTexts(dialog);
        // A click leaves the caret beside the old digit, so a typed one would make a text that
        // begins no entry and fall back to "1"; Tab selects the whole text. Select it for a
        // click too, after the click itself has placed the caret.
        if (code == CBN_SETFOCUS && id != IDC_SYMBOL)
            PostMessageA(dialog, kSelectDirectionMessage, id, 0);
    } else if (id == IDC_COLOUR) {
        chooseColour(dialog, s);
    } else if (id == IDC_NEXTROW) {
        nextRow(dialog, s);
    } else if (id == IDOK) {
        confirm(dialog, s);
    } else if (id == IDCANCEL) {
        endWith(dialog, s, crystal::DialogOutcome::Cancelled);
    }
}

void OnDrawItem(const DRAWITEMSTRUCT& item) {
    if (item.itemID == static_cast<UINT>(-1)) return;
    if (item.itemAction & ODA_DRAWENTIRE) {
        RECT r = item.rcItem;
        InflateRect(&r, -2, -1);
        HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(item.itemData));
        if (brush) {
            FillRect(item.hDC, &r, brush);
            DeleteObject(brush);
        }
    }
    if (item.itemAction & ODA_SELECT) {
        const bool selected = (item.itemState & ODS_SELECTED) != 0;
        FrameRect(item.hDC, &item.rcItem,
                  static_cast<HBRUSH>(GetStockObject(selected ? BLACK_BRUSH : WHITE_BRUSH)));
    }
}

INT_PTR parametersProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    // The colour list asks for its item height before WM_INITDIALOG: answered without the state.
    if (message == WM_MEASUREITEM) {
        reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = 14;
        return TRUE;
    }
    DialogState* s = frame::dialogState<DialogState>(dialog, message, lParam);
    if (!s) return FALSE;
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(dialog, *s);
            return TRUE;
        case WM_COMMAND:
            OnCommand(dialog, *s, LOWORD(wParam), HIWORD(wParam));
            return TRUE;
        case kStoreRowMessage:
            if (!s->ending) {
                storeRow(dialog, *s);
                repaintSketch(*s);
            }
            return TRUE;
        case kSelectDirectionMessage:
            if (!s->ending && GetFocus() && IsChild(GetDlgItem(dialog, static_cast<int>(wParam)),
                                                    GetFocus()))
                SendDlgItemMessageA(dialog, static_cast<int>(wParam), CB_SETEDITSEL, 0,
                                    MAKELPARAM(0, -1));
            return TRUE;
        case WM_DRAWITEM:
            OnDrawItem(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        case WM_CLOSE:
            if (!s->ending) endWith(dialog, *s, crystal::DialogOutcome::Cancelled);
            return TRUE;
        default:
            return FALSE;
    }
}

// ---- the crystal window ----

void paintSketch(HDC dc, const DialogState& s) {
    SetMapperFlags(dc, 1);
    HFONT font = CreateFontA(16, 10, 0, 0, 700, FALSE, FALSE, FALSE, ANSI_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_ROMAN, "Times New Roman");
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    {
        GdiCanvas canvas(dc, crystal::kSketchWidth, crystal::kSketchHeight);
        crystal::drawCellSketch(canvas, s.app->crystal.model,
                                crystal::sketchRowCount(false, s.editRow, s.rememberedAtomCount));
    }
    if (oldFont) SelectObject(dc, oldFont);
    if (font) DeleteObject(font);
}

LRESULT crystalWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        frame::keepState(window, static_cast<DialogState*>(create->lpCreateParams));
        return 0;
    }
    const DialogState* s = frame::stateOf<DialogState>(window);
    if (message == WM_PAINT && s) {
        frame::OnPaint(window, [s](HDC dc, const RECT&) { paintSketch(dc, *s); });
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND createCrystalWindow(AppState& app, HWND owner, DialogState& s) {
    WNDCLASSA wc{};
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.hInstance = app.frame.instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpszClassName = kCrystalWindowClass;
    // Without the class the dialog runs without the sketch.
    if (!frame::registerWindowClass<crystalWindowProcedure>(wc)) return nullptr;
    RECT frameRect{};
    GetWindowRect(owner, &frameRect);
    const int x = (frameRect.right - frameRect.left) - 250;
    return CreateWindowExA(WS_EX_TOPMOST, kCrystalWindowClass, "Crystal Structure",
                           WS_CHILD | WS_VISIBLE | WS_CAPTION, x, 50, 240, 250, owner, nullptr,
                           app.frame.instance, &s);
}

void destroyCrystalWindow(AppState& app, DialogState& s) {
    if (s.crystalWindow) DestroyWindow(s.crystalWindow);
    s.crystalWindow = nullptr;
    UnregisterClassA(kCrystalWindowClass, app.frame.instance);
}

}  // namespace

void crystalCommand(AppState& app, HWND window) {
    crystal::CrystalState& cs = app.crystal;
    cs.slicing.superCellX = cs.slicing.superCellY = 0;
    const bool rememberedRevisiting = cs.revisiting;
    const int rememberedAtomCount = cs.model.atomCount;
    const int rememberedNextPlane = cs.nextPlane;

    DialogState s;
    s.app = &app;
    s.rememberedAtomCount = rememberedAtomCount;
    s.crystalWindow = createCrystalWindow(app, window, s);
    cs.revisiting = false;
    cs.nextPlane = 0;

    // The crystal window goes before a failure is reported.
    const INT_PTR shown = frame::runDialog<parametersProcedure>(
        app.frame.instance, window, "PARAMETERS_DLG", s, "Unable to display dialog",
        [&] { destroyCrystalWindow(app, s); });
    if (shown == -1) {
        updatePageButtons(app);
        return;
    }
    const auto restore = [&] {
        cs.revisiting = rememberedRevisiting;
        cs.model.atomCount = rememberedAtomCount;
        cs.nextPlane = rememberedNextPlane;
        updatePageButtons(app);
    };
    switch (s.outcome) {
        case crystal::DialogOutcome::ForbiddenPosition:
            restore();
            app.sink.ask(crystal::text::kForbiddenEdge, "Error", core::kIconWarning);
            return;
        case crystal::DialogOutcome::ImproperValue:
            restore();
            app.sink.ask(crystal::text::kImproperValue, "Error", core::kIconWarning);
            return;
        case crystal::DialogOutcome::Cancelled:
            restore();
            return;
        case crystal::DialogOutcome::Confirmed:
            break;
    }
    switch (
        crystal::rowReuseAfterConfirm(rememberedAtomCount, s.editRow, cs.model.loadedFromFile)) {
        case crystal::RowReuse::Silently:
            cs.model.atomCount = rememberedAtomCount;
            break;
        case crystal::RowReuse::Ask:
            if (app.sink.ask(crystal::text::kReuseQuestion, "Question",
                             core::kIconQuestion | core::kYesNo) == core::kAnswerYes)
                cs.model.atomCount = rememberedAtomCount;
            break;
        case crystal::RowReuse::None:
            break;
    }
    cs.model.loadedFromFile = false;
    runSlicing(app, window);
}

}  // namespace kestral
