// The state of the image spectrum program that the engine works on: the settings the dialogs edit,
// the spectrum buffers and the mask circles. One of each lives in the program (or the command-line
// tool) and is passed to the engine functions; nothing here is process-wide.
//
// Coordinates: picture pixels are x from the left and y from the top of the image at full size.
// Where the picture is shown, and how reduced, is the program's to say (overlays.h).
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "image/import.h"
#include "image/packed_dib.h"

namespace spectrum {

// Pixel rows of a normalised 8-bit picture start after the 40-byte header and 256 colours.
inline constexpr std::size_t kGreyPixelOffset = 40 + 256 * 4;

struct Rgb {
    std::uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Rgb&) const = default;
};

enum DisplayQuantity { kRootPower = 0, kRealPart = 1, kImaginaryPart = 2 };

struct DisplaySettings {
    int displayQuantity = kRootPower;
    bool logScale = false;
    double upperClipFactor = 10.0;
    bool lowerClipping = false;
    double lowerClipDivisor = 1.0;
    bool invertedDisplay = false;
    bool rainbowPalette = false;
    bool crossMark = false;
    // Shows the whole frame up to the sampling limit, binned to the picture, instead of its
    // central window at one sample per pixel.
    bool wholeFrame = false;
};

struct LineWaveSettings {
    bool lineWave = false;
    double angle = 0.0;  // whole degrees -90..90
    Rgb colour{255, 0, 255};
    int averagingPoints = 0;  // 0..15
    int zoomPercent = 100;    // 100..200
};

enum FilterKind {
    kStandardFilter = 0,
    kSpecialFilter = 1,
    kCirclesCutOutside = 2,
    kCirclesCutInside = 3,
    kLatticeKeep = 4,    // keep the spots of the lattice n g1 + m g2, cut the rest
    kLatticeRemove = 5,  // cut the spots of the lattice, keep the rest
    kWienerFilter = 6,   // signal / (signal + noise), signal from the locally averaged power
    kAbsfFilter = 7      // average background subtraction
};

// How the frame around the image is filled for the forward transform.
enum FrameKind {
    kMirrorFrame = 0,    // mirror copies of the image (the classic frame)
    kWindowedFrame = 1   // the image times a Hann window, zeros around it
};
enum StandardFilterType { kNoFilter = 0, kLowPass = 1, kHighPass = 2, kBandPass = 3, kBandCut = 4 };

inline constexpr int kProfileSize = 256;
inline constexpr int kControlPointStep = 15;
inline constexpr std::size_t kMaxMaskCircles = 100;

using SpecialProfile = std::array<double, kProfileSize>;

// A mask circle in picture pixels (centre and radius), so that the mask applied is the one drawn
// whatever the view reduction.
struct MaskCircle {
    int x = 0, y = 0, radius = 0;
    bool operator==(const MaskCircle&) const = default;
};

// A point or vector in frame samples relative to the zero frequency: x to the right, y down.
struct Vec2 {
    double x = 0, y = 0;
    bool operator==(const Vec2&) const = default;
};

// The lattice n g1 + m g2 whose spots the lattice mask keeps or cuts, each spot a disc of
// `radius` frame samples.
struct LatticeSettings {
    Vec2 g1{}, g2{};
    double radius = 3.0;
};

// The noise floor of the Wiener and average-background filters is the radially averaged power
// times `noiseScale`; the Wiener filter averages the power over (2 smoothing + 1)^2 elements.
struct NoiseFilterSettings {
    double noiseScale = 1.0;
    int smoothing = 1;
};

struct FilterSettings {
    int kind = kStandardFilter;
    int standardType = kNoFilter;
    double wa = 0.5, wb = 0.8;
    bool showFilterCircles = false;
    SpecialProfile specialProfile{};  // set by the settings file reader (default profile)
    int selectedPoint = 0;
    std::vector<MaskCircle> circles;  // at most kMaxMaskCircles
    // Gaussian width (frame samples) of the edges of the circles, the lattice spots and the
    // standard filters; 0 is the hard edge.
    double edgeSigma = 0.0;
    // Every circle drawn also places its centro-symmetric mate.
    bool symmetricCircles = false;
    LatticeSettings lattice;
    NoiseFilterSettings noise;
};

struct BrightnessSettings {
    bool keepImageBrightness = true;
    int darkLevel = 30;     // 0..100
    int brightLevel = 225;  // 155..255
};

// Frames up to this side keep their whole complex spectrum in two arrays of doubles; larger
// frames (two more doublings at most) keep the half spectrum of their real frame, in double or
// single precision. The limit is a setting (a power of two from 64 to 8192): lowered, smaller
// images take the big-frame path, which is how that path is tried on small images.
inline constexpr int kFullFrameLimit = 8192;
inline constexpr int kMinFullFrameLimit = 64;

// Storage of a big frame's half spectrum: chosen by the memory available, or forced.
enum class Precision { Automatic, Single, Double };

struct SpectrumSettings {
    bool useExpandedImage = true;
    int frame = kMirrorFrame;
    int fullFrameLimit = kFullFrameLimit;
    Precision precision = Precision::Automatic;
    // The current image's calibration in nanometres per pixel (from its file, the user or the
    // settings file); none for an uncalibrated image. A file may calibrate x and y apart.
    std::optional<image::PixelSize> pixelSizeNm;
    DisplaySettings display;
    // False when only the inverse follows and nobody sees the spectrum (the command-line filter):
    // the forward transform leaves the picture as it is instead of rendering the spectrum into
    // it, and still refuses a flat one.
    bool renderSpectrum = true;
    LineWaveSettings lineWave;
    FilterSettings filter;
    BrightnessSettings brightness;
};

// The transform's padded array is the "grid" in code: the user-facing word for it stays "frame"
// (--frame, frameSize, the FFT Mode choices), while frame/ names the programs' window library.
// Memory for one grid-sized array. On Linux it is aligned to 2 MiB, so a system that gives
// huge pages to every process can use them; it is not advised to (MADV_HUGEPAGE): where the
// kernel compacts memory for advised regions on the fault, a fragmented machine stalled the
// filter job for seconds in the kernel.
struct GridMemoryDeleter {
    void operator()(double* memory) const noexcept;
};
using GridArray = std::unique_ptr<double[], GridMemoryDeleter>;
// Uninitialised; empty when the memory cannot be had.
GridArray allocateGridArray(std::size_t count);

// The half spectrum of a big frame in the layout of halfTransformForward (fft.h): row r at
// element r * (n + 2), F(r, 0 .. n/2) as (re, im) pairs, in floats when `single`. The same
// memory holds the real frame before the forward transform and after the inverse.
struct HalfSpectrum {
    GridArray memory;
    int n = 0;
    bool single = false;

    bool present() const { return memory != nullptr; }
    std::size_t rowLength() const { return static_cast<std::size_t>(n) + 2; }
    double* doubles() const { return memory.get(); }
    float* floats() const { return reinterpret_cast<float*>(memory.get()); }
    // Element (r, c) of the stored half, 0 <= c <= n/2.
    std::complex<double> stored(int r, int c) const {
        const std::size_t i = static_cast<std::size_t>(r) * rowLength() + 2 * static_cast<std::size_t>(c);
        return single ? std::complex<double>(floats()[i], floats()[i + 1])
                      : std::complex<double>(doubles()[i], doubles()[i + 1]);
    }
    // Any element of the n x n spectrum: the other half by F(r, c) = conj F(-r, -c) (mod n).
    std::complex<double> at(int r, int c) const {
        if (c <= n / 2) return stored(r, c);
        return std::conj(stored((n - r) & (n - 1), n - c));
    }
    // Multiplies stored element (r, c), 0 <= c <= n/2, by w.
    void weigh(int r, int c, double w) const {
        const std::size_t i = static_cast<std::size_t>(r) * rowLength() + 2 * static_cast<std::size_t>(c);
        if (single) {
            floats()[i] = static_cast<float>(floats()[i] * w);
            floats()[i + 1] = static_cast<float>(floats()[i + 1] * w);
        } else {
            doubles()[i] *= w;
            doubles()[i + 1] *= w;
        }
    }
    // Sample (r, c) of the real frame (before the forward or after the inverse transform).
    double sample(int r, int c) const {
        const std::size_t i = static_cast<std::size_t>(r) * rowLength() + static_cast<std::size_t>(c);
        return single ? floats()[i] : doubles()[i];
    }
};

// The complex spectrum of the framed image: two n x n arrays, row r at index r * n, or above
// the full-frame limit the half spectrum alone. The image lies at (offsetX, offsetY) in the frame.
struct SpectrumBuffers {
    GridArray real;
    GridArray imag;
    HalfSpectrum half;
    // A big frame too large for the mirror frame: the spectrum shown is of the windowed frame,
    // and the inverse acts on the image zero-padded without a window.
    bool zeroPadded = false;
    int n = 0;
    int offsetX = 0;
    int offsetY = 0;
    int imageMin = 255;  // grey range of the image that was transformed
    int imageMax = 0;
    // The image that was transformed (rows bottom first, `sourceStride` bytes each), kept so
    // that the inverse can rebuild the mirror frame after a windowed display and the removed
    // part can be formed.
    std::vector<std::uint8_t> source;
    std::size_t sourceStride = 0;
    int sourceWidth = 0, sourceHeight = 0;
    bool windowed = false;  // the spectrum is of the windowed frame
    // For a source above 8 bits, the levels that were transformed (the shown 8-bit rendering is
    // in `source`): the inverse rebuilds the mirror frame and forms its parts from these.
    std::shared_ptr<const image::PreciseLevels> precise;

    bool present() const { return (real != nullptr && imag != nullptr) || half.present(); }
    bool isHalf() const { return half.present(); }
    // Element (row, column) of the n x n spectrum, in either storage.
    std::complex<double> element(int row, int column) const {
        if (half.present()) return half.at(row, column);
        const std::size_t i = static_cast<std::size_t>(row) * static_cast<std::size_t>(n) +
                              static_cast<std::size_t>(column);
        return {real[i], imag[i]};
    }
    void release() {
        real.reset();
        imag.reset();
        half = HalfSpectrum{};
        zeroPadded = false;
        n = 0;
        source.clear();
        source.shrink_to_fit();
        windowed = false;
        precise.reset();
    }
};

// Read and write access to the grey pixels of a normalised picture, y counted from the top.
// Returns false (and leaves the view empty) when the block is too small for the geometry.
struct GreyPixels {
    std::uint8_t* base = nullptr;  // bottom row
    int width = 0, height = 0;
    std::size_t stride = 0;

    std::uint8_t& at(int x, int y) const {
        return base[static_cast<std::size_t>(height - 1 - y) * stride +
                    static_cast<std::size_t>(x)];
    }
};
bool greyPixelsOf(image::CurrentImage& image, const image::ImageGeometry& geometry,
                  GreyPixels& out);

// The image the spectrum was made from (empty view when none was kept).
inline GreyPixels sourcePixelsOf(SpectrumBuffers& buffers) {
    GreyPixels p;
    if (buffers.source.empty() ||
        buffers.source.size() < buffers.sourceStride * static_cast<std::size_t>(buffers.sourceHeight))
        return p;
    p.base = buffers.source.data();
    p.width = buffers.sourceWidth;
    p.height = buffers.sourceHeight;
    p.stride = buffers.sourceStride;
    return p;
}

// Sets the 256 colour-table entries of a normalised picture to the grey ramp (or the rainbow).
void writeGreyColourTable(image::CurrentImage& image);

}  // namespace spectrum
