// Import of microscope images: TIFF, PNG, MRC/CCP4, DM3/DM4, TIA series (.ser) and EMD (HDF5)
// files become grey samples with their calibration, behind one interface that does not depend on
// any OS imaging API.
//
// The readers of TIFF, MRC, DM3/DM4 and TIA series take a random-access source (a file, or bytes
// in memory for the tests and the fuzzers) and the index of the image wanted: a stack (a
// multi-page TIFF, an MRC stack, a DM movie, a series) is read one image at a time, seeking to
// it, never whole, so the size limits apply to one image, not to the file. PNG is read through
// the same source, and EMD through HDF5, which opens the file itself. Sizes, counts
// and offsets read from a file are checked against the bytes really present and against the
// limits of image/limits.h before anything is allocated from them; each refusal is one message
// naming the problem. TIFF goes through libtiff in every build (the Windows builds carry their
// own, built from a pinned source), with one codec set; PNG through stb_image in both; MRC,
// DM3/DM4 and TIA series through readers of our own; EMD through libhdf5 in the native builds
// (the Windows builds refuse EMD by name for now).
//
// Samples are doubles in the source's own units, row-major with the top row first (MRC rows,
// stored bottom first, are turned the right way up). A source of 8-bit unsigned samples enters
// the transform unchanged; every other source is mapped linearly from its [minimum, maximum]
// onto [0, 255] as doubles (transformLevels) and shown as an 8-bit rendering between its 0.1
// and 99.9 percentiles (renderPercentiles).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/message_sink.h"

namespace image {

enum class ImageFormat { Bmp, Tiff, Png, Mrc, Dm3, Dm4, Ser, Emd };

enum class SampleType { U8, I8, U16, I16, U32, I32, F16, F32, F64 };

// Largest number of samples a file may hold (4 GiB of doubles: a 16384 x 32768 montage or a
// 23170 x 23170 scan): the big frames transform images up to 32768 a side, and the samples must
// sit beside the half spectrum.
inline constexpr std::uint64_t kMaxImportSamples = std::uint64_t{1} << 29;

// Smallest picture the program opens, as for a BMP.
inline constexpr int kMinImageSide = 64;

// Where a file's pixel size comes from: a vendor's own tags first, then an ImageJ description;
// DM and MRC files carry theirs in their own headers.
enum class CalibrationSource {
    None,
    DigitalMicrograph,  // DigitalMicrograph's private TIFF tags
    Fei,
    Zeiss,
    Tvips,
    OlympusSis,
    Jeol,
    ImageJ,
    DmFile,
    MrcHeader,
};

// A calibration in nanometres per pixel along the picture's x (to the right) and y (down). Most
// files have square pixels; a DM or MRC file may calibrate its axes apart.
struct PixelSize {
    double x = 0;
    double y = 0;
    bool square() const { return x == y; }
    bool operator==(const PixelSize&) const = default;
};

struct GreyImage {
    ImageFormat format = ImageFormat::Bmp;
    SampleType type = SampleType::U8;
    int width = 0;
    int height = 0;
    std::vector<double> samples;  // width x height, top row first
    double minimum = 0;
    double maximum = 0;
    // The calibration the file carries, in nanometres per pixel, and as the file states it
    // (the y axis apart only when the pixels are not square). Only a file whose two axes are
    // lengths of the image plane has one: not a spectrum, nor a reciprocal or energy axis.
    std::optional<PixelSize> pixelSizeNm;
    double pixelSizeInUnit = 0;
    std::string pixelUnit;  // UTF-8, as in the file ("nm", "µm", "Å")
    double pixelHeightInUnit = 0;
    std::string pixelHeightUnit;
    // A pixel size the file states outside 1e-9..1e9 nm: no instrument images at such a scale,
    // so it is not used, and the reader says so.
    std::optional<double> ignoredPixelSizeNm;
    int imageCount = 1;     // pages, sections or images in the file
    int imageIndex = 0;     // the one read, 0-based
    // Further lines for `info`: where the calibration came from, what else the file holds.
    std::vector<std::string> notes;
    CalibrationSource calibrationSource = CalibrationSource::None;
    // What the microscope recorded, where the file says: magnification and high tension.
    std::optional<double> magnification;
    std::optional<double> highTensionV;
    std::string calibrationNote;  // why a vendor's stated size was set aside, chosen language

    double at(int x, int y) const {
        return samples[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                       static_cast<std::size_t>(x)];
    }
    // True for a source that enters the transform unscaled (8-bit unsigned).
    bool eightBit() const { return type == SampleType::U8; }
};

// The samples that enter the transform for a source above 8 bits: its samples mapped from
// [minimum, maximum] onto [0, 255], kept beside the 8-bit rendering shown.
struct PreciseLevels {
    int width = 0;
    int height = 0;
    std::vector<double> levels;  // top row first
    double minimum = 0;          // the source's range, to map results back
    double maximum = 0;
    double at(int x, int y) const {
        return levels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// Which image of a file to read, where a file holds several.
struct ImportChoice {
    int signal = 0;  // EMD: the signal (detector) by its 1-based number in `info`; 0: the largest
    int image = 0;   // a series: the image by its 0-based index
    int bin = 1;     // then binned by 1, 2 or 4 (image/binning.h)
};

// The format a file name asks for, from its extension in any letter case (.bmp, .tif, .tiff,
// .png, .mrc, .map, .mrcs, .dm3, .dm4, .ser, .emd), or nothing.
std::optional<ImageFormat> formatOfPath(const std::string& path);

// The format's name ("TIFF", "PNG", "MRC", "DM3", "DM4", "TIA series", "EMD", "BMP") and the sample type's
// description ("16-bit unsigned integer", "32-bit float"), in the chosen language.
const char* formatName(ImageFormat format);
std::string sampleTypeName(SampleType type);

class RandomAccessSource;

// The readers of stacks: image `index` (0-based) of the source, which tells how many the file
// holds (imageCount); an index beyond them is refused. Other stack formats plug in alike.
using StackReader = std::optional<GreyImage> (*)(RandomAccessSource& file, int index,
                                                 core::MessageSink& sink);
std::optional<GreyImage> readTiffImage(RandomAccessSource& file, int index, core::MessageSink& sink);
std::optional<GreyImage> readMrcImage(RandomAccessSource& file, int index, core::MessageSink& sink);
std::optional<GreyImage> readDmImage(RandomAccessSource& file, int index, core::MessageSink& sink);
// A PNG holds one image: any index but 0 is refused.
std::optional<GreyImage> readPngImage(RandomAccessSource& file, int index, core::MessageSink& sink);

// Readers of a whole file in memory (a stack's first image). Each reports its first refusal through `sink` (caption
// "Error", MB_ICONWARNING) and returns nothing; a returned image has passed checkImported.
std::optional<GreyImage> readTiff(std::span<const std::uint8_t> file, core::MessageSink& sink);
std::optional<GreyImage> readPng(std::span<const std::uint8_t> file, core::MessageSink& sink);
std::optional<GreyImage> readMrc(std::span<const std::uint8_t> file, core::MessageSink& sink);
std::optional<GreyImage> readDm(std::span<const std::uint8_t> file, core::MessageSink& sink);
// A TIA series in memory, without its .emi: the first image, its calibration taken in metres.
std::optional<GreyImage> readSer(std::span<const std::uint8_t> file, core::MessageSink& sink);
// An EMD file in memory (through HDF5's in-memory file; the Windows builds refuse it).
std::optional<GreyImage> readEmd(std::span<const std::uint8_t> file, core::MessageSink& sink,
                                 const ImportChoice& choice = {});

// Runs the reader for `format` (not Bmp).
std::optional<GreyImage> importImageBytes(std::span<const std::uint8_t> file, ImageFormat format,
                                          core::MessageSink& sink);

// Reads the file at `path` and imports it with the reader its extension names: the image
// `choice.image` of a stack, read alone. A TIA series reads its header, its offset table and the
// chosen image, and the .emi beside it for the mode. A format that holds one image refuses any
// other index.
std::optional<GreyImage> importImageFile(const std::string& path, ImageFormat format,
                                         core::MessageSink& sink, const ImportChoice& choice = {});

// The checks every reader applies to what it decoded: the size limits, at least 64 x 64, and
// finite samples. Fills in minimum and maximum. Reports the refusal and returns false.
bool checkImported(GreyImage& image, core::MessageSink& sink);

// The checks on a header's width, height and sample count before a reader allocates.
bool checkImportSize(std::int64_t width, std::int64_t height, core::MessageSink& sink);

// Sets the calibration from a length and its unit as a file states it, the same on both axes; a
// unit that is not a length (such as "1/nm" or "pixel") or a size that is not positive and
// finite leaves none.
void setPixelSize(GreyImage& image, double size, const std::string& unit);

// The same for axes calibrated apart: both must be lengths, or there is no calibration. Sizes
// that agree to a millionth (what single-precision cells over their grids leave) are square.
void setPixelSizes(GreyImage& image, double xSize, const std::string& xUnit, double ySize,
                   const std::string& yUnit);

// Nanometres per unit for a length unit ("nm", "µm", "um", "micron", "Å", "A", "pm", "mm",
// "cm", "m"), or nothing.
std::optional<double> nanometresPerUnit(const std::string& unit);

// The 8-bit rendering of a source above 8 bits: linear between the 0.1 and 99.9 percentiles
// of its samples, truncated and limited to 0..255. Top row first.
std::vector<std::uint8_t> renderPercentiles(const GreyImage& image);

// The levels that enter the transform for a source above 8 bits (empty for an 8-bit source).
std::shared_ptr<const PreciseLevels> transformLevels(const GreyImage& image);
// The same, turning the samples themselves into the levels (they are left empty), for a caller
// that needs them no more.
std::shared_ptr<const PreciseLevels> transformLevels(GreyImage&& image);

// The source's name in the chosen language ("DigitalMicrograph tags"), empty for None.
std::string calibrationSourceName(CalibrationSource source);

// One line describing the image: format, sample type, size, range and pixel size with its
// source, then the magnification and high tension the file records.
std::string describeImport(const GreyImage& image);
// The same text in two parts for a two-line display: format, type, size and range; then the
// rest (calibration, instrument, which image of a stack), both parts exactly as joined above.
std::pair<std::string, std::string> describeImportLines(const GreyImage& image);

}  // namespace image
