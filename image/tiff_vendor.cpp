#include "image/tiff_vendor.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "core/localized.h"
#include "image/import_detail.h"

namespace image {

namespace {

using detail::f32of;
using detail::f64of;

constexpr std::uint16_t kAscii = 2, kShort = 3, kLong = 4, kDouble = 12, kLong8 = 16, kIfd = 13,
                        kIfd8 = 18, kByte = 1, kUndefined = 7;

constexpr core::Localized kNotALength{
    "%s: the pixel size %.6g x %.6g %s is not a positive length, ignored",
    "%s: ピクセルサイズ %.6g x %.6g %s は正の長さではないため無視しました"};
constexpr core::Localized kReciprocal{"%s: a diffraction pattern's calibration (%s), no pixel size",
                                      "%s: 回折図形の較正（%s）のためピクセルサイズなし"};
constexpr core::Localized kMissing{"%s: no pixel size given", "%s: ピクセルサイズの記載なし"};
constexpr core::Localized kDamaged{"%s: damaged, no pixel size read",
                                   "%s: 壊れているためピクセルサイズを読めません"};

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' ||
                          s.front() == '\n' || s.front() == '\0'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' ||
                          s.back() == '\n' || s.back() == '\0'))
        s.remove_suffix(1);
    return s;
}

// A number written in full ("5.000000e-009", "+3", "nan"), whatever the locale.
std::optional<double> number(std::string_view text) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return v;
}

// The number a text starts with and the rest after it ("50.00 K X" gives 50 and "K X").
std::optional<double> leadingNumber(std::string_view text, std::string_view& rest) {
    text = trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error != std::errc{}) return std::nullopt;
    rest = trim(text.substr(static_cast<std::size_t>(end - text.data())));
    return v;
}

bool positiveLength(double v) { return std::isfinite(v) && v > 0; }

bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t extra = c < 0x80             ? 0
                                  : (c & 0xE0) == 0xC0 ? 1
                                  : (c & 0xF0) == 0xE0 ? 2
                                  : (c & 0xF8) == 0xF0 ? 3
                                                       : 4;
        if (extra == 4 || (extra > 0 && i + extra >= s.size())) return false;
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// A unit as UTF-8: DigitalMicrograph's writers store Latin-1 ("\xB5m").
std::string unitText(std::string_view raw) {
    raw = trim(raw);
    const bool utf8 = validUtf8(raw);
    if (utf8) return std::string(raw);
    std::string out;
    for (char ch : raw) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Whether a unit is reciprocal (a diffraction pattern's "1/nm").
bool reciprocalUnit(std::string_view unit) {
    return unit.find('/') != std::string_view::npos || unit.find("^-1") != std::string_view::npos;
}

// Sets the sizes when both are positive lengths in known units, else the note.
void settle(VendorCalibration& c, double x, double y, const std::string& xUnit,
            const std::string& yUnit) {
    const std::string name = calibrationSourceName(c.source);
    if (reciprocalUnit(xUnit) || reciprocalUnit(yUnit)) {
        c.note = core::formatMessage(core::text(kReciprocal), name.c_str(), xUnit.c_str());
        return;
    }
    const auto nx = nanometresPerUnit(xUnit), ny = nanometresPerUnit(yUnit);
    if (!positiveLength(x) || !positiveLength(y) || !nx || !ny || !positiveLength(x * *nx) ||
        !positiveLength(y * *ny)) {
        c.note = core::formatMessage(core::text(kNotALength), name.c_str(), x, y, xUnit.c_str());
        return;
    }
    c.calibrated = true;
    c.x = x;
    c.y = y;
    c.xUnit = xUnit;
    c.yUnit = yUnit;
}

void missing(VendorCalibration& c, const core::Localized& why) {
    c.note = core::formatMessage(core::text(why), calibrationSourceName(c.source).c_str());
}

const TiffTagValue* tagOf(const TiffVendorInput& in, std::uint32_t code) {
    const auto it = in.tags.find(code);
    return it == in.tags.end() ? nullptr : &it->second;
}

// ---- DigitalMicrograph ----------------------------------------------------------------------

bool readDigitalMicrograph(const TiffVendorInput& in, VendorCalibration& c) {
    const TiffTagValue* units[2] = {tagOf(in, 65003), tagOf(in, 65004)};
    const TiffTagValue* numbers[4] = {tagOf(in, 65006), tagOf(in, 65007), tagOf(in, 65009),
                                      tagOf(in, 65010)};
    for (const TiffTagValue* u : units)
        if (!u || u->type != kAscii) return false;
    for (const TiffTagValue* n : numbers)
        if (!n || n->type != kDouble || n->count != 1 || n->numbers.size() != 1) return false;
    c.source = CalibrationSource::DigitalMicrograph;
    settle(c, numbers[2]->numbers[0], numbers[3]->numbers[0], unitText(units[0]->bytes),
           unitText(units[1]->bytes));
    return true;
}

// ---- FEI / Thermo Fisher --------------------------------------------------------------------

bool readFei(const TiffVendorInput& in, VendorCalibration& c) {
    const TiffTagValue* tag = tagOf(in, 34682);
    if (!tag || tag->bytes.empty()) tag = tagOf(in, 34680);
    if (!tag || tag->bytes.empty() || (tag->type != kAscii && tag->type != kByte &&
                                       tag->type != kUndefined))
        return false;
    c.source = CalibrationSource::Fei;
    // The values wanted, by "section/key"; a later line does not replace an earlier one.
    static constexpr std::array<std::string_view, 11> kWanted = {
        "Scan/PixelWidth",   "Scan/PixelHeight",  "IRBeam/HFW",        "IRBeam/VFW",
        "Image/ResolutionX", "Image/ResolutionY", "Beam/HV",           "EBeam/HV",
        "Image/MagCanvasRealWidth", "Scan/HorFieldsize", "EBeam/HFW"};
    std::array<std::optional<std::string_view>, kWanted.size()> found;
    std::string_view text(tag->bytes);
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::string_view section;
    std::string key;
    while (!text.empty()) {
        const std::size_t eol = text.find_first_of("\r\n");
        std::string_view line = trim(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos || section.size() > 64) continue;
        const std::string_view name = trim(line.substr(0, eq));
        if (name.size() > 64) continue;
        key.assign(section);
        key += '/';
        key.append(name);
        for (std::size_t i = 0; i < kWanted.size(); ++i)
            if (!found[i] && key == kWanted[i]) found[i] = line.substr(eq + 1);
    }
    const auto value = [&](std::size_t i) {
        return found[i] ? number(*found[i]) : std::nullopt;
    };
    if (const auto hv = value(6) ? value(6) : value(7); hv && positiveLength(*hv))
        c.highTensionV = *hv;
    // The magnification is the reference canvas's width over the field's (both in metres): the
    // software states the canvas, not the ratio. Either left empty states no magnification.
    const auto canvas = value(8), field = value(9) ? value(9) : value(10);
    if (canvas && field && positiveLength(*canvas) && positiveLength(*field) &&
        positiveLength(*canvas / *field))
        c.magnification = *canvas / *field;
    if (found[0] && found[1]) {
        settle(c, value(0).value_or(NAN), value(1).value_or(NAN), "m", "m");
    } else if (found[2] && found[3] && found[4] && found[5]) {
        const double w = value(4).value_or(NAN), h = value(5).value_or(NAN);
        settle(c, value(2).value_or(NAN) / w, value(3).value_or(NAN) / h, "m", "m");
    } else {
        missing(c, kMissing);
    }
    return true;
}

// ---- Zeiss SEM ------------------------------------------------------------------------------

bool upperLine(std::string_view line) {
    bool cased = false;
    for (char ch : line) {
        if (ch >= 'a' && ch <= 'z') return false;
        if (ch >= 'A' && ch <= 'Z') cased = true;
    }
    return cased;
}

bool readZeiss(const TiffVendorInput& in, VendorCalibration& c) {
    const TiffTagValue* tag = tagOf(in, 34118);
    if (!tag || tag->bytes.empty()) return false;
    c.source = CalibrationSource::Zeiss;
    // Lines of capitals name the pair on the next line ("AP_MAG", then "Mag = 50.00 K X"); every
    // other line is one of the unnamed values.
    std::string_view text(tag->bytes);
    if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos)
        text = text.substr(0, nul);
    std::string_view pending, fourth;
    int unnamed = 0;
    bool haveFourth = false;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (upperLine(line)) {
            pending = trim(line);
            continue;
        }
        if (!pending.empty()) {
            std::size_t sep = line.find('=');
            if (sep == std::string_view::npos) sep = line.find(':');
            if (sep != std::string_view::npos) {
                std::string_view rest;
                const auto v = leadingNumber(line.substr(sep + 1), rest);
                if (v && pending == "AP_MAG") {
                    const double scale = rest.starts_with("K") ? 1e3 : rest.starts_with("M") ? 1e6 : 1;
                    if (positiveLength(*v * scale)) c.magnification = *v * scale;
                } else if (v && pending == "AP_EHT") {
                    const double scale = rest.starts_with("kV") ? 1e3 : rest.starts_with("MV") ? 1e6 : 1;
                    if (positiveLength(*v * scale)) c.highTensionV = *v * scale;
                }
            }
            pending = {};
            continue;
        }
        if (unnamed++ == 3) {
            fourth = line;
            haveFourth = true;
        }
    }
    const auto size = haveFourth ? number(fourth) : std::nullopt;
    if (!size) {
        missing(c, kMissing);
        return true;
    }
    const double s = in.width > 0 ? *size * 1024.0 / in.width : NAN;
    settle(c, s, s, "m", "m");
    return true;
}

// ---- TVIPS ----------------------------------------------------------------------------------

// The single offset a tag holds (LONG, LONG8 or IFD).
std::optional<std::uint64_t> offsetOf(const TiffTagValue* tag) {
    if (!tag || tag->numbers.size() != 1) return std::nullopt;
    if (tag->type != kLong && tag->type != kLong8 && tag->type != kIfd && tag->type != kIfd8 &&
        tag->type != kShort)
        return std::nullopt;
    const double v = tag->numbers[0];
    if (!(v >= 0) || v > 9.0e15) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

bool readTvips(const TiffVendorInput& in, VendorCalibration& c) {
    const TiffTagValue* tag = tagOf(in, 37706);
    if (!tag) return false;
    c.source = CalibrationSource::Tvips;
    constexpr std::size_t kV1 = 244, kV2 = 6068;
    const auto offset = offsetOf(tag);
    std::uint8_t v1[kV1];
    if (!offset || !in.readAt || *offset > UINT64_MAX - kV1 - kV2 || !in.readAt(*offset, kV1, v1)) {
        missing(c, kDamaged);
        return true;
    }
    const auto u32 = [&](const std::uint8_t* p) {
        return in.bigEndian ? detail::u32be(p) : detail::u32le(p);
    };
    const std::uint32_t version = u32(v1);
    if (version == 2) {
        std::vector<std::uint8_t> v2(kV2);
        if (!in.readAt(*offset + kV1, kV2, v2.data()) || u32(v2.data() + 6064) != 0xAAAAAAAAu) {
            missing(c, kDamaged);
            return true;
        }
        const auto f32 = [&](std::size_t at) { return double(f32of(u32(v2.data() + at))); };
        if (positiveLength(f32(3028))) c.highTensionV = f32(3028);
        if (positiveLength(f32(3292))) c.magnification = f32(3292);
        settle(c, f32(2724), f32(2728), "nm", "nm");
    } else if (version == 1) {
        // Version 1 leaves the size to the resolution, in pixels per centimetre.
        const double y = in.yResolution > 0 ? in.yResolution : in.xResolution;
        settle(c, 1.0 / in.xResolution, 1.0 / y, "cm", "cm");
    } else {
        missing(c, kDamaged);
    }
    return true;
}

// ---- Olympus SIS ----------------------------------------------------------------------------

bool readOlympusSis(const TiffVendorInput& in, VendorCalibration& c) {
    const TiffTagValue* tag = tagOf(in, 33560);
    if (!tag) return false;
    c.source = CalibrationSource::OlympusSis;
    // The structure comes inline (BYTE or UNDEFINED values) or by its offset (LONG); the records
    // it lists lie at absolute offsets.
    constexpr std::size_t kHeader = 60;
    std::uint8_t header[kHeader];
    std::optional<std::uint64_t> at;
    if (tag->type == kByte || tag->type == kUndefined) {
        if (tag->bytes.size() < kHeader) return missing(c, kDamaged), true;
        std::memcpy(header, tag->bytes.data(), kHeader);
    } else {
        at = offsetOf(tag);
        if (!at || !in.readAt || *at > UINT64_MAX / 2 || !in.readAt(*at, kHeader, header))
            return missing(c, kDamaged), true;
    }
    if (std::memcmp(header, "SIS0", 4) != 0) return missing(c, kDamaged), true;
    const int records = static_cast<std::int16_t>(detail::u16le(header + 58));
    for (int i = 0; i < records; ++i) {
        std::uint8_t entry[8];
        const std::size_t inside = kHeader + 8 * static_cast<std::size_t>(i);
        if (!at) {
            if (tag->bytes.size() < inside + 8) break;
            std::memcpy(entry, tag->bytes.data() + inside, 8);
        } else if (!in.readAt(*at + inside, 8, entry)) {
            break;
        }
        if (detail::u16le(entry) != 1) continue;  // the general record
        std::uint8_t general[112];
        if (!in.readAt || !in.readAt(detail::u32le(entry + 4), sizeof general, general)) break;
        const int exponent = static_cast<std::int16_t>(detail::u16le(general + 10));
        const double scale = std::pow(10.0, exponent);
        const double xcal = f64of(detail::u64le(general + 12));
        const double ycal = f64of(detail::u64le(general + 20));
        const double mag = f64of(detail::u64le(general + 36));
        if (positiveLength(mag)) c.magnification = mag;
        settle(c, xcal * scale, ycal * scale, "m", "m");
        return true;
    }
    missing(c, kMissing);
    return true;
}

// ---- JEOL -----------------------------------------------------------------------------------

// The few values of the XML description: one pass over the text, elements tracked by a stack of
// bounded depth, texts captured only at the paths wanted.
struct JeolValues {
    std::string eosMode, modeString, selectorValue, voltage;
};

JeolValues scanJeolXml(std::string_view xml) {
    JeolValues out;
    constexpr int kDepth = 3;  // TemReporter / group / field
    std::array<std::string_view, kDepth> path;
    int depth = 0;         // elements open, counted past kDepth too
    std::size_t i = 0;
    const auto target = [&]() -> std::string* {
        if (depth != 3 || path[0] != "TemReporter") return nullptr;
        if (path[1] == "Eos" && path[2] == "EosMode") return &out.eosMode;
        if (path[1] == "ElectronGun" && path[2] == "AccelerationVoltage") return &out.voltage;
        if (path[1] == "ImageFormingSystem" && path[2] == "ModeString") return &out.modeString;
        if (path[1] == "ImageFormingSystem" && path[2] == "SelectorValue") return &out.selectorValue;
        return nullptr;
    };
    while (i < xml.size()) {
        const std::size_t open = xml.find('<', i);
        const std::string_view text = xml.substr(i, open == std::string_view::npos ? open : open - i);
        if (std::string* slot = target(); slot && slot->empty() && text.size() <= 64)
            *slot = std::string(trim(text));
        if (open == std::string_view::npos) break;
        if (xml.compare(open, 4, "<!--") == 0) {
            const std::size_t end = xml.find("-->", open + 4);
            i = end == std::string_view::npos ? xml.size() : end + 3;
            continue;
        }
        const std::size_t close = xml.find('>', open + 1);
        if (close == std::string_view::npos) break;
        std::string_view tag = xml.substr(open + 1, close - open - 1);
        i = close + 1;
        if (tag.empty() || tag.front() == '?' || tag.front() == '!') continue;
        const bool closing = tag.front() == '/';
        const bool empty = tag.back() == '/';
        if (closing) tag.remove_prefix(1);
        const std::size_t nameEnd = tag.find_first_of(" \t\r\n/");
        const std::string_view name = tag.substr(0, nameEnd);
        if (closing) {
            if (depth > 0) --depth;
        } else if (!empty) {
            if (depth < kDepth) path[static_cast<std::size_t>(depth)] = name;
            if (depth < 1 << 20) ++depth;
        }
    }
    return out;
}

bool readJeol(const TiffVendorInput& in, VendorCalibration& c) {
    if (trim(in.make) != "JEOL Ltd." || in.description.find("<TemReporter") == std::string::npos)
        return false;
    c.source = CalibrationSource::Jeol;
    const JeolValues v = scanJeolXml(in.description);
    if (const auto kv = number(v.voltage); kv && positiveLength(*kv)) c.highTensionV = *kv;
    if (v.eosMode != "eosTEM") {
        missing(c, kMissing);  // scanning modes give the scan's calibration elsewhere
        return true;
    }
    if (v.modeString == "DIFF") {
        c.note = core::formatMessage(core::text(kReciprocal), calibrationSourceName(c.source).c_str(),
                                     "DIFF");
        return true;
    }
    const auto mag = number(v.selectorValue);
    if (v.modeString != "MAG" || !mag) {
        missing(c, kMissing);
        return true;
    }
    if (positiveLength(*mag)) c.magnification = *mag;
    const double metres = in.resolutionUnit == 2 ? 0.0254 : 0.01;
    const double yRes = in.yResolution > 0 ? in.yResolution : in.xResolution;
    settle(c, metres * 1e9 / (in.xResolution * *mag), metres * 1e9 / (yRes * *mag), "nm", "nm");
    return true;
}

}  // namespace

VendorCalibration readVendorCalibration(const TiffVendorInput& input) {
    VendorCalibration c;
    // The first layout whose tags are present decides; the DigitalMicrograph set comes last, its
    // tag numbers being shared with other software.
    if (readFei(input, c) || readZeiss(input, c) || readTvips(input, c) ||
        readOlympusSis(input, c) || readJeol(input, c) || readDigitalMicrograph(input, c))
        return c;
    return VendorCalibration{};
}

}  // namespace image
