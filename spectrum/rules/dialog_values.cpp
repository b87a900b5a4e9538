#include "spectrum/rules/dialog_values.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "spectrum/engine/readout.h"

namespace spectrum {

std::string formatEditNumber(double value) {
    if (value == 0.0) return "0";
    char text[64];
    std::snprintf(text, sizeof text, "%-24.11f", value);
    std::string s(text);
    if (value == std::floor(value)) return s.substr(0, s.find('.'));
    s = s.substr(0, 24);
    while (!s.empty() && (s.back() == ' ' || s.back() == '0')) s.pop_back();
    return s;
}

std::optional<double> parseEditNumber(std::string_view text) {
    const std::string s(text.substr(0, kEditNumberRead));
    if (s.empty()) return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size()) return std::nullopt;
    if (!(value >= 1.0 && value <= 10000.0)) return std::nullopt;  // also refuses NaN
    return value;
}

std::string frequencyEntryText(int index) {
    char text[32];
    std::snprintf(text, sizeof text, "%-5.3f", index * 0.001);
    return std::string(text).substr(0, 5);
}

int frequencyEntryIndex(double value) {
    const long index = std::lround(value * 1000.0);
    if (!(index >= 0)) return 0;
    return index >= kFrequencyEntries ? kFrequencyEntries - 1 : static_cast<int>(index);
}

std::string fractionFrequencyText(double fraction, int width, int height, int n,
                                  const std::optional<image::PixelSize>& pixelSizeNm) {
    if (!pixelSizeNm || !(pixelSizeNm->x > 0.0) || n <= 0 || width <= 0 || height <= 0) return "";
    const double radius = fraction * std::sqrt(double(width) * width + double(height) * height) / 2;
    const double frequency = radius / (n * pixelSizeNm->x);
    if (!(frequency > 0.0)) return "0 1/nm";
    return significantDigits(frequency, 4) + " 1/nm, d = " + significantDigits(1.0 / frequency, 4) +
           " nm";
}

ShownLevels levelsShownWhenKept(const BrightnessSettings& b, int imageMin, int imageMax) {
    ShownLevels shown{b.darkLevel, b.brightLevel};
    if (imageMax > 154) shown.bright = imageMax;
    if (imageMin <= 100) shown.dark = imageMin;
    return shown;
}

ProfileGraph profileGraph(const SpecialProfile& profile, int selectedPoint) {
    auto scaled = [](double v, int scale) { return static_cast<int>(v * scale / 255.0 + 0.001); };
    ProfileGraph g;
    const int dx = scaled(selectedPoint, 136);
    const int dy = scaled(profile[selectedPoint], 136);
    g.dotLeft = dx + 7;
    g.dotTop = -dy + 143;
    g.dotRight = dx + 12;
    g.dotBottom = -dy + 148;
    g.polyline.push_back({9, 145 - scaled(profile[0], 136)});
    int lastX = 0;
    for (int i = 1; i < kProfileSize; ++i) {
        const int x = scaled(i, 137);
        if (x <= lastX) continue;
        g.polyline.push_back({9 + x, 145 - scaled(profile[i], 137)});
        lastX = x;
    }
    return g;
}

}  // namespace spectrum
