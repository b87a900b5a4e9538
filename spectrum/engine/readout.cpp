#include "spectrum/engine/readout.h"

#include <algorithm>

#include <cmath>

#include "core/localized.h"
#include "core/message_sink.h"

namespace spectrum {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;

// The readout of the point (dx, dy) frame pixels from the zero frequency of an n-sample frame
// whose value there is `value`.
Readout readoutOfOffset(double dx, double dy, int n, double value,
                        const std::optional<image::PixelSize>& pixelSizeNm) {
    Readout r;
    r.inside = true;
    const double radius = std::sqrt(dx * dx + dy * dy);
    r.calibrated = pixelSizeNm && pixelSizeNm->x > 0 && pixelSizeNm->y > 0;
    if (r.calibrated && !pixelSizeNm->square())
        r.frequency = frequencyOnAxes(dx, dy, n, *pixelSizeNm);
    else
        r.frequency = radius / (n * (r.calibrated ? pixelSizeNm->x : 1.0));
    r.spacing = r.frequency > 0 ? 1.0 / r.frequency : 0.0;
    // The line wave runs x = cx + j cos(a), y = cy - j sin(a) for a in -90..90.
    double angle = radius > 0 ? std::atan2(-dy, dx) * kDegreesPerRadian : 0.0;
    if (angle > 90) angle -= 180;
    if (angle <= -90) angle += 180;
    r.angleDegrees = angle + 0.0;  // never "-0.0"
    r.rootPower = value;
    return r;
}

}  // namespace

Readout readoutAt(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry, int x,
                  int y, std::optional<image::PixelSize> pixelSizeNm) {
    if (!buffers.present() || x < 0 || y < 0 || x >= geometry.width || y >= geometry.height)
        return {};
    const long long column = buffers.offsetX + static_cast<long long>(x);
    const long long row = buffers.offsetY + static_cast<long long>(y);
    if (column >= buffers.n || row >= buffers.n) return {};
    const std::complex<double> e =
        buffers.element(static_cast<int>(row), static_cast<int>(column));
    return readoutOfOffset(static_cast<double>(column - buffers.n / 2),
                           static_cast<double>(row - buffers.n / 2), buffers.n,
                           std::sqrt(e.real() * e.real() + e.imag() * e.imag()),
                           pixelSizeNm);
}

Readout readoutInBox(const std::vector<double>& magnitudes, int side, int x, int y,
                     std::optional<image::PixelSize> pixelSizeNm) {
    if (side <= 0 || x < 0 || y < 0 || x >= side || y >= side ||
        magnitudes.size() != static_cast<std::size_t>(side) * side)
        return {};
    return readoutOfOffset(x - side / 2, y - side / 2, side,
                           magnitudes[static_cast<std::size_t>(y) * side + x], pixelSizeNm);
}

Readout readoutAtScreen(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                        int screenX, int screenY, int viewReduction,
                        std::optional<image::PixelSize> pixelSizeNm) {
    const int k = viewReduction > 0 ? viewReduction : 1;
    return readoutAt(buffers, geometry, screenX * k, screenY * k, pixelSizeNm);
}

std::string significantDigits(double value, int digits) {
    if (!std::isfinite(value)) return "-";
    if (value == 0.0) return fixedDecimals(0.0, std::max(0, digits - 1));
    digits = std::max(1, digits);
    // Decimals for the leading digit's place; rounding may carry into the next decade (9.9996
    // to 10.000), which then needs one decimal less.
    int decimals = digits - 1 - static_cast<int>(std::floor(std::log10(std::fabs(value))));
    std::string text = fixedDecimals(value, std::max(0, decimals));
    if (decimals > 0) {
        std::size_t significant = 0;
        bool leading = true;
        for (char c : text) {
            if (c < '0' || c > '9') continue;
            if (c != '0') leading = false;
            if (!leading) ++significant;
        }
        if (significant > static_cast<std::size_t>(digits)) text = fixedDecimals(value, decimals - 1);
    }
    return text;
}

std::string fixedDecimals(double value, int decimals) {
    if (!std::isfinite(value)) return "-";
    std::string text = core::formatMessage("%.*f", std::clamp(decimals, 0, 17), value);
    if (!text.empty() && text[0] == '-' && text.find_first_of("123456789") == std::string::npos)
        text.erase(0, 1);
    return text;
}

std::string formatReadout(const Readout& r) {
    if (!r.inside) return "";
    static constexpr core::Localized kCalibrated{
        "Frequency %.4f 1/nm   d = %s   angle %.1f\xC2\xB0   value %.4g",
        "空間周波数 %.4f 1/nm   d = %s   角度 %.1f\xC2\xB0   値 %.4g"};
    static constexpr core::Localized kPixels{
        "Frequency %.4f 1/pixel   d = %s   angle %.1f\xC2\xB0   value %.4g   (no calibration)",
        "空間周波数 %.4f 1/ピクセル   d = %s   角度 %.1f\xC2\xB0   値 %.4g   （校正なし）"};
    std::string spacing = "-";
    if (r.spacing > 0) {
        if (!r.calibrated)
            spacing = core::formatMessage("%.3f pixel", r.spacing);
        else if (r.spacing < 1.0)
            spacing = core::formatMessage("%.3f \xC3\x85", r.spacing * 10.0);
        else
            spacing = core::formatMessage("%.4f nm", r.spacing);
    }
    return core::formatMessage(core::text(r.calibrated ? kCalibrated : kPixels), r.frequency,
                               spacing.c_str(), r.angleDegrees, r.rootPower);
}

}  // namespace spectrum
