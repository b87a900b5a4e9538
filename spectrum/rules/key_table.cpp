#include "spectrum/rules/key_table.h"

#include <cstdio>

namespace voralin {
namespace {

constexpr unsigned bit(ImageState s) {
    return 1u << static_cast<int>(s);
}
constexpr unsigned kAnyState = 0xF;
constexpr unsigned kImage =
    bit(ImageState::ImageOpened) | bit(ImageState::SpectrumShown) | bit(ImageState::FilteredShown);
constexpr unsigned kSpectrum = bit(ImageState::SpectrumShown);
constexpr unsigned kFiltered = bit(ImageState::FilteredShown);
// Where the live box may be: over an image or a filtered image.
constexpr unsigned kLiveStates = bit(ImageState::ImageOpened) | bit(ImageState::FilteredShown);

bool meets(Need need, bool value) {
    return need == Need::Any || (need == Need::On) == value;
}

// An icon-bar command applies where its button is enabled.
When buttonWhen(int button) {
    unsigned states = 0;
    for (int s = 0; s < 4; ++s)
        if (buttonEnabledIn(static_cast<ImageState>(s), button)) states |= 1u << s;
    return {states};
}

std::vector<CommandRule> makeRules() {
    const When live{kLiveStates, Need::On};
    const When nudge{kSpectrum, Need::Any, Need::On};
    return {
        {IDM_BACKTOSPECTRUM,
         {kFiltered, Need::Any, Need::Any, Need::Any, Need::On},
         {"Back to spectrum", "スペクトルに戻る"},
         "B"},
        {IDM_REMOVECIRCLE,
         {kSpectrum, Need::Any, Need::On},
         {"Remove last circle", "最後の円を消す"},
         "Backspace"},
        {IDM_FFT, buttonWhen(IDB_FFT), {"FFT", "FFT"}, "T"},
        {IDM_FFTMODE, buttonWhen(IDB_MODE), {"FFT Mode...", "表示モード (FFT Mode)..."}, "D"},
        {IDM_FILTER, buttonWhen(IDB_MASK), {"FFT Filter...", "フィルター (FFT Filter)..."}, "M"},
        {IDM_INVERSE, buttonWhen(IDB_FFT_1), {"Inverse FFT", "逆 FFT (Inverse FFT)"}, "I"},
        {IDM_FINDSPOTS, {kSpectrum}, {"Find lattice spots...", "格子スポットを探す..."}, "K"},
        {IDM_LATTICEFILTER,
         {kSpectrum},
         {"Lattice and noise filters...", "格子フィルターと雑音フィルター..."},
         "L"},
        {IDM_SYMMETRIC, {kAnyState}, {"Symmetric circles", "対称な円"}, "Y"},
        {IDM_REMOVEDPART, {kFiltered}, {"Show removed part", "除いた部分を表示"}, "X"},
        {IDM_RADIAL, {kSpectrum}, {"Radial profile...", "動径プロファイル..."}, "R"},
        {IDM_CALIBRATION, {kImage}, {"Calibration...", "校正..."}, "U"},
        {IDM_WINDOWED,
         {kAnyState},
         {"Windowed spectrum (no mirror ghosts)", "窓をかけたスペクトル (鏡像なし)"},
         "W"},
        {IDM_WHOLEFRAME,
         {kAnyState},
         {"Whole frame up to Nyquist", "ナイキストまでのフレーム全体"},
         "N"},
        {IDM_LIVEFFT, {kLiveStates}, {"Live FFT", "ライブ FFT"}, "F"},
        {IDM_PREVIMAGE,
         {kImage, Need::Any, Need::Any, Need::On},
         {"Previous image", "前の画像"},
         "Page Up"},
        {IDM_NEXTIMAGE,
         {kImage, Need::Any, Need::Any, Need::On},
         {"Next image", "次の画像"},
         "Page Down"},
        {IDM_OPEN, buttonWhen(IDB_OPEN), {"Open BMP...", "開く (Open BMP)..."}, "O"},
        {IDM_COPY, buttonWhen(IDB_COPY), {"Copy BMP", "コピー (Copy BMP)"}, "C"},
        {IDM_SAVEBMP, buttonWhen(IDB_SAVEAS), {"Save BMP...", "保存 (Save BMP)..."}, "S"},
        {IDM_SAVEFILE, buttonWhen(IDB_SAVEGR), {"Save File...", "値を保存 (Save File)..."}, "E"},
        {IDM_PROCESS,
         buttonWhen(IDB_GAMMA),
         {"Process BMP...", "コントラストと明るさ (Process BMP)..."},
         "G"},
        // Keys no menu shows: the live box's size and moves, its end, and the cursor nudges.
        {IDM_LIVEEND, live, {"", ""}, "Esc"},
        {IDM_LIVELARGER, live, {"", ""}, "+"},
        {IDM_LIVESMALLER, live, {"", ""}, "-"},
        {IDM_LIVELEFT, live, {"", ""}, nullptr},
        {IDM_LIVERIGHT, live, {"", ""}, nullptr},
        {IDM_LIVEUP, live, {"", ""}, nullptr},
        {IDM_LIVEDOWN, live, {"", ""}, nullptr},
        {IDM_NUDGELEFT, nudge, {"", ""}, nullptr},
        {IDM_NUDGERIGHT, nudge, {"", ""}, nullptr},
        {IDM_NUDGEUP, nudge, {"", ""}, nullptr},
        {IDM_NUDGEDOWN, nudge, {"", ""}, nullptr},
    };
}

}  // namespace

bool holds(const When& when, const CommandContext& c) {
    return (when.states & (1u << static_cast<int>(c.state))) != 0 && meets(when.live, c.live) &&
           meets(when.placing, c.placing) && meets(when.stack, c.stack) &&
           meets(when.back, c.canGoBack);
}

const std::vector<CommandRule>& commandRules() {
    static const std::vector<CommandRule> rules = makeRules();
    return rules;
}

const std::vector<KeyBinding>& keyBindings() {
    static const std::vector<KeyBinding> bindings = {
        {'B', IDM_BACKTOSPECTRUM},
        {key::kBack, IDM_REMOVECIRCLE},
        {'T', IDM_FFT},
        {'D', IDM_FFTMODE},
        {'M', IDM_FILTER},
        {'I', IDM_INVERSE},
        {'K', IDM_FINDSPOTS},
        {'L', IDM_LATTICEFILTER},
        {'Y', IDM_SYMMETRIC},
        {'X', IDM_REMOVEDPART},
        {'R', IDM_RADIAL},
        {'U', IDM_CALIBRATION},
        {'W', IDM_WINDOWED},
        {'N', IDM_WHOLEFRAME},
        {'F', IDM_LIVEFFT},
        {key::kPageUp, IDM_PREVIMAGE},
        {key::kPageDown, IDM_NEXTIMAGE},
        {'O', IDM_OPEN},
        {'C', IDM_COPY},
        {'S', IDM_SAVEBMP},
        {'E', IDM_SAVEFILE},
        {'G', IDM_PROCESS},
        {key::kEscape, IDM_LIVEEND},
        {key::kAdd, IDM_LIVELARGER},
        {key::kOemPlus, IDM_LIVELARGER},
        {key::kSubtract, IDM_LIVESMALLER},
        {key::kOemMinus, IDM_LIVESMALLER},
        {key::kLeft, IDM_LIVELEFT},
        {key::kRight, IDM_LIVERIGHT},
        {key::kUp, IDM_LIVEUP},
        {key::kDown, IDM_LIVEDOWN},
        {key::kLeft, IDM_NUDGELEFT, KeyEdge::Release},
        {key::kRight, IDM_NUDGERIGHT, KeyEdge::Release},
        {key::kUp, IDM_NUDGEUP, KeyEdge::Release},
        {key::kDown, IDM_NUDGEDOWN, KeyEdge::Release},
    };
    return bindings;
}

const CommandRule* ruleOf(int command) {
    for (const auto& r : commandRules())
        if (r.command == command) return &r;
    return nullptr;
}

int commandForKey(int keyCode, KeyEdge edge, const CommandContext& context) {
    for (const auto& b : keyBindings()) {
        if (b.key != keyCode || b.edge != edge) continue;
        const CommandRule* rule = ruleOf(b.command);
        if (rule && holds(rule->when, context)) return b.command;
    }
    return 0;
}

std::vector<std::string> keyConflicts(const std::vector<KeyBinding>& bindings,
                                      const std::vector<CommandRule>& rules) {
    auto whenOf = [&](int command) -> const When* {
        for (const auto& r : rules)
            if (r.command == command) return &r.when;
        return nullptr;
    };
    std::vector<std::string> found;
    for (std::size_t i = 0; i < bindings.size(); ++i) {
        for (std::size_t j = i + 1; j < bindings.size(); ++j) {
            const KeyBinding &a = bindings[i], &b = bindings[j];
            if (a.key != b.key || a.command == b.command) continue;
            const When *wa = whenOf(a.command), *wb = whenOf(b.command);
            if (!wa || !wb) continue;
            // Every state the flags can describe: 4 window states and 4 flags.
            bool clash = false;
            for (int s = 0; s < 4 && !clash; ++s)
                for (int flags = 0; flags < 16 && !clash; ++flags) {
                    const CommandContext c{static_cast<ImageState>(s), (flags & 1) != 0,
                                           (flags & 2) != 0, (flags & 4) != 0, (flags & 8) != 0};
                    clash = holds(*wa, c) && holds(*wb, c);
                }
            if (!clash) continue;
            char line[96];
            std::snprintf(line, sizeof line, "key 0x%02x: commands 0x%x and 0x%x", a.key, a.command,
                          b.command);
            found.emplace_back(line);
        }
    }
    return found;
}

const std::vector<int>& contextMenuLayout() {
    static const std::vector<int> layout = {
        IDM_BACKTOSPECTRUM, IDM_REMOVECIRCLE, 0,           IDM_FFT,         IDM_FFTMODE,
        IDM_FILTER,         IDM_INVERSE,      0,           IDM_FINDSPOTS,   IDM_LATTICEFILTER,
        IDM_SYMMETRIC,      IDM_REMOVEDPART,  IDM_RADIAL,  IDM_CALIBRATION, 0,
        IDM_WINDOWED,       IDM_WHOLEFRAME,   0,           IDM_LIVEFFT,     kBinningSubmenu,
        IDM_PREVIMAGE,      IDM_NEXTIMAGE,    0,           IDM_OPEN,        IDM_COPY,
        IDM_SAVEBMP,        IDM_SAVEFILE,     IDM_PROCESS,
    };
    return layout;
}

std::string menuText(int command) {
    const CommandRule* rule = ruleOf(command);
    if (!rule) return {};
    std::string text = core::text(rule->text);
    if (rule->keyName) text += std::string("\t") + rule->keyName;
    return text;
}

}  // namespace voralin
