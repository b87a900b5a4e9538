#include "spectrum/engine/line_wave.h"

#include <cmath>
#include <cstdio>

#include "spectrum/engine/readout.h"

namespace spectrum {

namespace {
constexpr double kDegree = 0.017453292519943295;
}

int lineHalfLength(int width, int height, double angleDegrees) {
    if (angleDegrees == 90.0 || angleDegrees == -90.0) return height / 2;
    const double theta = angleDegrees * kDegree;
    const double c = std::cos(theta), s = std::sin(theta);
    const double w = width, h = height;
    return static_cast<int>((w * h / 2.0) / std::sqrt(h * h * c * c + w * w * s * s));
}

std::vector<LineSample> lineSamples(int width, int height, double angleDegrees) {
    const int half = lineHalfLength(width, height, angleDegrees);
    const double theta = angleDegrees * kDegree;
    const double c = std::cos(theta), s = std::sin(theta);
    std::vector<LineSample> samples;
    samples.reserve(static_cast<std::size_t>(2 * half));
    for (int j = -half; j < half; ++j) {
        const double px = 0.5 * width + j * c;
        const double py = 0.5 * height - j * s;
        const double cx = std::ceil(px), fx = std::floor(px);
        const double cy = std::ceil(py), fy = std::floor(py);
        const double candidates[4][2] = {{cx, cy}, {cx, fy}, {fx, cy}, {fx, fy}};
        int best = 0;
        double bestDistance = 0;
        for (int k = 0; k < 4; ++k) {
            const double dx = candidates[k][0] - px, dy = candidates[k][1] - py;
            const double d = dx * dx + dy * dy;
            if (k == 0 || d < bestDistance) {
                best = k;
                bestDistance = d;
            }
        }
        LineSample sample;
        sample.j = j;
        sample.x = static_cast<int>(candidates[best][0]);
        sample.y = static_cast<int>(candidates[best][1]);
        sample.inside = sample.x >= 0 && sample.x < width && sample.y >= 0 && sample.y < height;
        samples.push_back(sample);
    }
    return samples;
}

std::vector<int> lineProfile(const std::vector<LineSample>& samples, const GreyPixels& picture) {
    std::vector<int> profile(samples.size(), 0);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const LineSample& s = samples[i];
        if (s.inside && s.x < picture.width && s.y < picture.height)
            profile[i] = picture.at(s.x, s.y);
    }
    return profile;
}

std::string fftDataText(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                        double angleDegrees) {
    char line[256];
    std::snprintf(line, sizeof line,
                  "Line wave data\r\nAngle : %-6.2f\r\nFFT size : %ldW x %-ldH\r\n\r\n"
                  "    Pixel                      FFT data\r\n"
                  "  X      Y        Real part       Imaginary part  Root power\r\n",
                  angleDegrees, static_cast<long>(geometry.width),
                  static_cast<long>(geometry.height));
    std::string text = line;
    if (!buffers.present()) return text;
    for (const LineSample& s : lineSamples(geometry.width, geometry.height, angleDegrees)) {
        if (!s.inside) continue;
        const long long row = buffers.offsetY + s.y, column = buffers.offsetX + s.x;
        if (row >= buffers.n || column >= buffers.n) continue;
        const std::complex<double> e =
            buffers.element(static_cast<int>(row), static_cast<int>(column));
        const double re = e.real(), im = e.imag();
        std::snprintf(line, sizeof line, " %d\t%d\t%15.7e\t%15.7e\t%15.7e\r\n", s.x, s.y, re, im,
                      std::sqrt(re * re + im * im));
        text += line;
    }
    return text;
}

std::string calibratedLineCsv(const SpectrumBuffers& buffers, const image::ImageGeometry& geometry,
                              double angleDegrees, std::optional<image::PixelSize> pixelSizeNm) {
    const bool calibrated = pixelSizeNm && pixelSizeNm->x > 0 && pixelSizeNm->y > 0;
    const bool square = !calibrated || pixelSizeNm->square();
    std::string text = calibrated ? "x,y,frequency_per_nm,signed_frequency_per_nm,real,imaginary,root_power\n"
                                  : "x,y,frequency_per_pixel,signed_frequency_per_pixel,real,imaginary,root_power\n";
    if (!buffers.present()) return text;
    const double scale = 1.0 / (buffers.n * (calibrated ? pixelSizeNm->x : 1.0));
    char line[256];
    for (const LineSample& s : lineSamples(geometry.width, geometry.height, angleDegrees)) {
        if (!s.inside) continue;
        const long long row = buffers.offsetY + s.y, column = buffers.offsetX + s.x;
        if (row >= buffers.n || column >= buffers.n) continue;
        const std::complex<double> e =
            buffers.element(static_cast<int>(row), static_cast<int>(column));
        const double re = e.real(), im = e.imag();
        const double dx = static_cast<double>(column - buffers.n / 2);
        const double dy = static_cast<double>(row - buffers.n / 2);
        const double f = square ? std::sqrt(dx * dx + dy * dy) * scale
                                : frequencyOnAxes(dx, dy, buffers.n, *pixelSizeNm);
        std::snprintf(line, sizeof line, "%d,%d,%.10g,%.10g,%.10g,%.10g,%.10g\n", s.x, s.y, f,
                      s.j < 0 ? -f : f, re, im, std::sqrt(re * re + im * im));
        text += line;
    }
    return text;
}

}  // namespace spectrum
