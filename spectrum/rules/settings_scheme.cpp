#include "spectrum/rules/settings_scheme.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace spectrum {
namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view s) {
    const std::size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Where a key stands in the text; positions are byte offsets.
struct Place {
    bool sectionFound = false;
    bool keyFound = false;
    std::size_t sectionEnd = 0;  // just after the last non-blank line of the section
    bool sectionEndHasBreak = true;
    std::size_t lineStart = 0, lineEnd = 0;  // the key's line, its line break included
    std::size_t valueStart = 0, valueEnd = 0;
};

Place find(const std::string& text, std::string_view section, std::string_view key) {
    Place p;
    bool inSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t brk = text.find('\n', start);
        const std::size_t next = brk == std::string::npos ? text.size() : brk + 1;
        std::size_t contentEnd = brk == std::string::npos ? text.size() : brk;
        if (contentEnd > start && text[contentEnd - 1] == '\r') --contentEnd;
        const std::string_view line = trimmed(std::string_view(text).substr(start, contentEnd - start));
        if (!line.empty() && line.front() == '[') {
            if (inSection) return p;  // the first section of the name is the one used
            const std::size_t close = line.find(']');
            inSection = close != std::string_view::npos &&
                        sameName(trimmed(line.substr(1, close - 1)), section);
            if (inSection) {
                p.sectionFound = true;
                p.sectionEnd = next;
                p.sectionEndHasBreak = brk != std::string::npos;
            }
        } else if (inSection && !line.empty()) {
            p.sectionEnd = next;
            p.sectionEndHasBreak = brk != std::string::npos;
            const std::size_t equals = line.find('=');
            if (!p.keyFound && line.front() != ';' && equals != std::string_view::npos &&
                sameName(trimmed(line.substr(0, equals)), key)) {
                p.keyFound = true;
                p.lineStart = start;
                p.lineEnd = next;
                const std::size_t lineOffset = static_cast<std::size_t>(line.data() - text.data());
                const std::string_view value = line.substr(equals + 1);
                const std::string_view v = trimmed(value);
                p.valueStart = lineOffset + equals + 1 +
                               (v.empty() ? value.size() : std::size_t(v.data() - value.data()));
                p.valueEnd = p.valueStart + v.size();
            }
        }
        start = next;
    }
    return p;
}

std::string lineBreakOf(const std::string& text) {
    const std::size_t brk = text.find('\n');
    return brk == std::string::npos || (brk > 0 && text[brk - 1] == '\r') ? "\r\n" : "\n";
}

bool holdsLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }
bool paddedOrEmpty(std::string_view s) { return s.empty() || trimmed(s).size() != s.size(); }

bool acceptable(std::string_view section, std::string_view key, std::string_view value) {
    if (paddedOrEmpty(section) || holdsLineBreak(section) || section.find(']') != section.npos)
        return false;
    if (paddedOrEmpty(key) || holdsLineBreak(key) || key.find('=') != key.npos ||
        key.front() == '[' || key.front() == ';')
        return false;
    return !holdsLineBreak(value) && trimmed(value).size() == value.size();
}

}  // namespace

std::optional<std::string> ProfileText::get(std::string_view section, std::string_view key) const {
    const Place p = find(text_, section, key);
    if (!p.keyFound) return std::nullopt;
    return text_.substr(p.valueStart, p.valueEnd - p.valueStart);
}

bool ProfileText::set(std::string_view section, std::string_view key, std::string_view value) {
    if (!acceptable(section, key, value)) return false;
    const Place p = find(text_, section, key);
    const std::string brk = lineBreakOf(text_);
    std::string line(key);
    line.append("=").append(value);
    if (p.keyFound) {
        text_.replace(p.valueStart, p.valueEnd - p.valueStart, value);
    } else if (p.sectionFound) {
        text_.insert(p.sectionEnd, p.sectionEndHasBreak ? line + brk : brk + line);
    } else {
        if (!text_.empty() && text_.back() != '\n') text_ += brk;
        text_.append("[").append(section).append("]").append(brk).append(line).append(brk);
    }
    return true;
}

bool ProfileText::remove(std::string_view section, std::string_view key) {
    const Place p = find(text_, section, key);
    if (!p.keyFound) return false;
    text_.erase(p.lineStart, p.lineEnd - p.lineStart);
    return true;
}

int readChoice(const ProfileText& file, std::string_view section, const ChoiceKey& key) {
    const auto text = file.get(section, key.name);
    if (!text) return 0;
    for (std::size_t i = 0; i < key.words.size(); ++i)
        if (*text == key.words[i]) return static_cast<int>(i);
    return 0;
}

bool writeChoice(ProfileText& file, std::string_view section, const ChoiceKey& key, int index) {
    if (index < 0 || index >= static_cast<int>(key.words.size())) return false;
    return file.set(section, key.name, key.words[static_cast<std::size_t>(index)]);
}

bool readSwitch(const ProfileText& file, std::string_view section, std::string_view key,
                bool fallback) {
    const auto text = file.get(section, key);
    if (text && *text == "1") return true;
    if (text && *text == "0") return false;
    return fallback;
}

bool writeSwitch(ProfileText& file, std::string_view section, std::string_view key, bool on) {
    return file.set(section, key, on ? "1" : "0");
}

double readNumber(const ProfileText& file, std::string_view section, std::string_view key,
                  double low, double high, double fallback) {
    const auto text = file.get(section, key);
    if (!text || text->empty()) return fallback;
    char* end = nullptr;
    const double v = std::strtod(text->c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || v < low || v > high) return fallback;
    return v;
}

std::string numberText(double value) {
    char text[40];
    for (int digits = 6; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

bool writeNumber(ProfileText& file, std::string_view section, std::string_view key, double value) {
    return std::isfinite(value) && file.set(section, key, numberText(value));
}

// --- the "Choices" section -----------------------------------------------------------------------

namespace {

const ChoiceKey kFileType{"File type", {"bitmap", "microscope images"}};
const ChoiceKey kFrame{"Frame", {"mirror", "windowed"}};
const ChoiceKey kDisplay{"FFT display", {"root power", "amplitude", "phase"}};
const ChoiceKey kScale{"Display mode", {"linear", "log"}};
const ChoiceKey kIntensity{"Intensity display", {"normal", "inverted"}};
const ChoiceKey kBinning{"Binning", {"1", "2", "4"}};
constexpr char kWholeFrame[] = "Whole frame";
constexpr char kCrossMark[] = "Cross mark";
constexpr char kLineWave[] = "Line wave";
constexpr char kAngle[] = "Line wave angle";
constexpr char kRainbow[] = "Rainbow";
constexpr char kUpperClip[] = "Upper clipping c";
constexpr char kLowerClipping[] = "Lower clipping";
constexpr char kLowerClip[] = "Lower clipping d";
// The limits of the two clipping boxes of FFT Mode and of its angle list.
constexpr double kClipLow = 1.0, kClipHigh = 10000.0, kAngleLimit = 90.0;

}  // namespace

RememberedChoices readChoices(const ProfileText& file) {
    const std::string_view s = kChoicesSection;
    RememberedChoices c;
    c.fileType = static_cast<FileType>(readChoice(file, s, kFileType));
    c.frame = readChoice(file, s, kFrame) == 1 ? kWindowedFrame : kMirrorFrame;
    DisplaySettings& d = c.display;
    d.displayQuantity = readChoice(file, s, kDisplay);
    d.logScale = readChoice(file, s, kScale) == 1;
    d.invertedDisplay = readChoice(file, s, kIntensity) == 1;
    d.wholeFrame = readSwitch(file, s, kWholeFrame, d.wholeFrame);
    d.crossMark = readSwitch(file, s, kCrossMark, d.crossMark);
    d.rainbowPalette = readSwitch(file, s, kRainbow, d.rainbowPalette);
    d.lowerClipping = readSwitch(file, s, kLowerClipping, d.lowerClipping);
    d.upperClipFactor = readNumber(file, s, kUpperClip, kClipLow, kClipHigh, d.upperClipFactor);
    d.lowerClipDivisor = readNumber(file, s, kLowerClip, kClipLow, kClipHigh, d.lowerClipDivisor);
    c.lineWave = readSwitch(file, s, kLineWave, c.lineWave);
    // Whole degrees only: the angle list has no other entries.
    const double angle = readNumber(file, s, kAngle, -kAngleLimit, kAngleLimit, 0.0);
    c.lineWaveAngle = angle == std::floor(angle) ? angle : 0.0;
    c.binning = 1 << readChoice(file, s, kBinning);
    return c;
}

bool writeChoices(ProfileText& file, const RememberedChoices& c) {
    const std::string_view s = kChoicesSection;
    const DisplaySettings& d = c.display;
    bool ok = writeChoice(file, s, kFileType, static_cast<int>(c.fileType));
    ok = writeChoice(file, s, kFrame, c.frame == kWindowedFrame ? 1 : 0) && ok;
    ok = writeSwitch(file, s, kWholeFrame, d.wholeFrame) && ok;
    ok = writeChoice(file, s, kDisplay, d.displayQuantity) && ok;
    ok = writeChoice(file, s, kScale, d.logScale ? 1 : 0) && ok;
    ok = writeSwitch(file, s, kCrossMark, d.crossMark) && ok;
    ok = writeSwitch(file, s, kLineWave, c.lineWave) && ok;
    ok = writeNumber(file, s, kAngle, c.lineWaveAngle) && ok;
    ok = writeSwitch(file, s, kRainbow, d.rainbowPalette) && ok;
    ok = writeNumber(file, s, kUpperClip, d.upperClipFactor) && ok;
    ok = writeSwitch(file, s, kLowerClipping, d.lowerClipping) && ok;
    ok = writeNumber(file, s, kLowerClip, d.lowerClipDivisor) && ok;
    ok = writeChoice(file, s, kIntensity, d.invertedDisplay ? 1 : 0) && ok;
    ok = writeChoice(file, s, kBinning, c.binning == 4 ? 2 : c.binning == 2 ? 1 : 0) && ok;
    return ok;
}

}  // namespace spectrum
