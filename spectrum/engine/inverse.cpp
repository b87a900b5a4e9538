#include "spectrum/engine/inverse.h"

#include <cmath>
#include <vector>

#include "spectrum/engine/display.h"
#include "spectrum/engine/fft.h"
#include "spectrum/engine/filters.h"

namespace spectrum {

bool inverseTransform(image::CurrentImage& image, const image::ImageGeometry& geometry,
                      SpectrumSettings& settings, SpectrumBuffers& buffers,
                      core::MessageSink& sink, core::BusyIndicator& busy) {
    struct ClearCircles {
        FilterSettings& filter;
        ~ClearCircles() { filter.circles.clear(); }
    } clearCircles{settings.filter};

    GreyPixels pixels;
    const bool fits = buffers.present() && greyPixelsOf(image, geometry, pixels) &&
                      buffers.offsetX + geometry.width <= buffers.n &&
                      buffers.offsetY + geometry.height <= buffers.n;
    core::BusyScope busyScope(busy);
    if (!fits) {
        buffers.release();
        busyScope.end();
        sink.ask("Unable to carry out the inverse FFT.", "Warning", core::kIconWarning);
        return false;
    }

    applyFilter(buffers, geometry, settings.filter);
    const int n = buffers.n;
    if (transform2d(buffers.real.get(), buffers.imag.get(), n, n, Direction::Inverse) !=
        kTransformOk) {
        buffers.release();
        busyScope.end();
        sink.ask("Unable to carry out the inverse FFT.", "Warning", core::kIconWarning);
        return false;
    }

    const int w = geometry.width, h = geometry.height;
    auto magnitude = [&](int x, int y) {
        const std::size_t i =
            static_cast<std::size_t>(buffers.offsetY + y) * n + (buffers.offsetX + x);
        const double re = buffers.real[i], im = buffers.imag[i];
        return std::sqrt(re * re + im * im);
    };
    double mmin = 0, mmax = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double m = magnitude(x, y);
            if ((x == 0 && y == 0) || m < mmin) mmin = m;
            if ((x == 0 && y == 0) || m > mmax) mmax = m;
        }
    }
    if (mmax == mmin) mmax = mmin + 0.000001;

    const bool keep = settings.brightness.keepImageBrightness;
    const double lo = keep ? buffers.imageMin : settings.brightness.darkLevel;
    const double hi = keep ? buffers.imageMax : settings.brightness.brightLevel;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double m = magnitude(x, y);
            const double value = (m * (hi - lo) + mmax * lo - mmin * hi) / (mmax - mmin) + 0.000001;
            pixels.at(x, y) = static_cast<std::uint8_t>(toLevel(value));
        }
    }
    writeGreyColourTable(image);
    buffers.release();
    return true;
}

}  // namespace spectrum
