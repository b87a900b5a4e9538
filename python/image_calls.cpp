// The image commands of voralin00-cli as calls: the same steps on the same engines, so that what a
// call returns or writes is byte for byte what the tool writes for the same file and options.
//
// An input is a file name (opened as the tool and the program open it) or a two-dimensional array
// of samples (uint8 is a grey picture as a BMP gives it; any other type is a microscope image's
// samples, rendered and transformed as an imported file's). The options arrive as a dict whose
// keys are the tool's option names with '_' for '-', already checked and completed with the
// tool's defaults by the package (tem_suite/_options.py).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/busy.h"
#include "core/disk.h"
#include "core/localized.h"
#include "image/binning.h"
#include "image/bmp_file.h"
#include "image/file_io.h"
#include "image/open_image.h"
#include "image/tiff_write.h"
#include "python/calls.h"
#include "spectrum/engine/contrast.h"
#include "spectrum/engine/filters.h"
#include "spectrum/engine/forward.h"
#include "spectrum/engine/inverse.h"
#include "spectrum/engine/lattice_mask.h"
#include "spectrum/engine/line_wave.h"
#include "spectrum/engine/live_box.h"
#include "spectrum/engine/png_writer.h"
#include "spectrum/engine/radial.h"
#include "spectrum/engine/save.h"
#include "spectrum/engine/spot_finder.h"

namespace pysuite {

namespace {

// Nothing limits a picture opened without a window: it keeps its full size.
constexpr image::PictureArea kUnlimited{1 << 20, 1 << 20};

const core::Localized kFlat{"the spectrum is flat (a uniform image) and cannot be shown",
                            "スペクトルが平坦（一様な画像）なので表示できません"};
const core::Localized kTooLarge{
    "Unable to carry out the FFT. because of the image size being too large.",
    "画像が大きすぎるため FFT を実行できません。"};

// A picture the program shows: the 8-bit block with its colour table, ready for Save BMP.
struct Picture {
    image::CurrentImage image;
    image::ImageGeometry geometry;
};

// The state of one call: what the tool's session holds for one input.
struct Call {
    RecordingSink sink;
    core::NoBusyIndicator busy;
    image::CurrentImage image;
    image::ImageGeometry geometry;
    spectrum::SpectrumBuffers buffers;
    std::optional<image::GreyImage> source;  // without its samples
    std::shared_ptr<const image::PreciseLevels> precise;
    spectrum::SpectrumSettings settings;
};

// An input as it arrives: a path, or samples converted from an array while the interpreter
// lock is held.
struct Input {
    std::string path;
    std::optional<image::GreyImage> samples;
    image::ImportChoice choice;
    std::optional<double> pixelSize;
};

template <typename T>
void copySamples(const py::array& array, image::GreyImage& out) {
    const auto view = array.unchecked<T, 2>();
    out.samples.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    std::size_t i = 0;
    for (py::ssize_t y = 0; y < view.shape(0); ++y)
        for (py::ssize_t x = 0; x < view.shape(1); ++x) out.samples[i++] = static_cast<double>(view(y, x));
}

// The array's samples as an imported image's; refuses an array the engines cannot take.
image::GreyImage samplesOf(const py::array& array) {
    if (array.ndim() != 2)
        throw py::value_error("source: a two-dimensional array (rows, columns) is needed, not " +
                              std::to_string(array.ndim()) + " dimensions");
    image::GreyImage g;
    g.format = image::ImageFormat::Tiff;
    g.height = static_cast<int>(array.shape(0));
    g.width = static_cast<int>(array.shape(1));
    if (array.shape(0) > (1 << 20) || array.shape(1) > (1 << 20))
        throw py::value_error("source: the array is too large");
    const py::dtype t = array.dtype();
    if (t.is(py::dtype::of<std::uint8_t>())) {
        g.type = image::SampleType::U8;
        copySamples<std::uint8_t>(array, g);
    } else if (t.is(py::dtype::of<std::int8_t>())) {
        g.type = image::SampleType::I8;
        copySamples<std::int8_t>(array, g);
    } else if (t.is(py::dtype::of<std::uint16_t>())) {
        g.type = image::SampleType::U16;
        copySamples<std::uint16_t>(array, g);
    } else if (t.is(py::dtype::of<std::int16_t>())) {
        g.type = image::SampleType::I16;
        copySamples<std::int16_t>(array, g);
    } else if (t.is(py::dtype::of<std::uint32_t>())) {
        g.type = image::SampleType::U32;
        copySamples<std::uint32_t>(array, g);
    } else if (t.is(py::dtype::of<std::int32_t>())) {
        g.type = image::SampleType::I32;
        copySamples<std::int32_t>(array, g);
    } else if (t.is(py::dtype::of<float>())) {
        g.type = image::SampleType::F32;
        copySamples<float>(array, g);
    } else if (t.is(py::dtype::of<double>())) {
        g.type = image::SampleType::F64;
        copySamples<double>(array, g);
    } else {
        throw py::type_error("source: samples of type " + t.attr("name").cast<std::string>() +
                             " are not taken (uint8, int8, uint16, int16, uint32, int32, "
                             "float32 or float64)");
    }
    return g;
}

Input inputOf(const py::object& input, const py::dict& o) {
    Input in;
    in.choice.image = o["image"].cast<int>() - 1;
    in.choice.signal = o["signal"].cast<int>();
    in.choice.bin = o.contains("bin") ? o["bin"].cast<int>() : 1;
    if (!o["pixel_size"].is_none()) in.pixelSize = o["pixel_size"].cast<double>();
    if (py::isinstance<py::str>(input))
        in.path = input.cast<std::string>();
    else
        in.samples = samplesOf(py::array::ensure(input));
    return in;
}

// Opens the input as the tool's Open does; raises the refusal.
void openInput(Call& c, Input& in) {
    if (!in.samples) {
        image::OpenOutcome outcome =
            image::openImageFile(in.path, c.image, c.sink, c.busy, core::systemDisk(),
                                 kUnlimited, [] {}, in.choice);
        if (outcome.result != image::OpenResult::Opened) c.sink.fail("input", named(kCannotOpen, in.path));
        c.geometry = outcome.geometry;
        c.source = std::move(outcome.source);
        c.precise = std::move(outcome.precise);
    } else {
        // The import's checks and rendering, as for a file of these samples.
        image::GreyImage& g = *in.samples;
        if (!image::checkImported(g, c.sink)) c.sink.fail("input");
        if (in.choice.bin > 1) {
            std::optional<image::GreyImage> binned = image::binImage(g, in.choice.bin, c.sink);
            if (!binned) c.sink.fail("input");
            g = std::move(*binned);
        }
        const std::vector<std::uint8_t> bitmap = image::normalisedBitmapOf(g);
        image::GreyImage described = g;
        described.samples = {};
        c.precise = image::transformLevels(std::move(g));
        if (!image::readBitmapBytes(bitmap, c.image, image::BitmapFlavour::Voralin00, c.sink,
                                    kUnlimited))
            c.sink.fail("input");
        const std::int32_t padded = (described.width + 3) / 4 * 4;
        c.geometry = image::ImageGeometry{described.width, described.height, padded,
                                          static_cast<std::uint32_t>(bitmap.size())};
        c.source = std::move(described);
    }
    if (c.source) c.settings.pixelSizeNm = c.source->pixelSizeNm;
    if (in.pixelSize) c.settings.pixelSizeNm = image::PixelSize{*in.pixelSize, *in.pixelSize};
}

void applyCommonOptions(spectrum::SpectrumSettings& s, const py::dict& o) {
    if (o.contains("no_expand")) s.useExpandedImage = !o["no_expand"].cast<bool>();
    if (o.contains("precision") && !o["precision"].is_none())
        s.precision = o["precision"].cast<std::string>() == "single" ? spectrum::Precision::Single
                                                                     : spectrum::Precision::Double;
    if (o.contains("full_frame_limit")) s.fullFrameLimit = o["full_frame_limit"].cast<int>();
    if (o.contains("frame"))
        s.frame = o["frame"].cast<std::string>() == "windowed" ? spectrum::kWindowedFrame
                                                               : spectrum::kMirrorFrame;
}

void forward(Call& c) {
    if (!spectrum::forwardTransform(c.image, c.geometry, c.settings, c.buffers, c.sink, c.busy,
                                    c.precise))
        c.sink.fail("transform", core::text(kFlat));
}

std::optional<spectrum::Box> boxOf(const py::dict& o) {
    if (!o.contains("box") || o["box"].is_none()) return std::nullopt;
    const auto [x, y, side] = o["box"].cast<std::tuple<int, int, int>>();
    return spectrum::Box{x, y, side};
}

// The box must lie on the opened picture; refused with the tool's text otherwise.
void checkBox(const Call& c, const spectrum::Box& box) {
    const int w = c.geometry.width, h = c.geometry.height, side = box.side;
    if (spectrum::boxInside(box, w, h)) return;
    throw EngineError{
        "box", side > w || side > h
                   ? core::formatMessage(core::text(spectrum::boxTooLargeText()), side, side, w, h)
                   : core::formatMessage(core::text(spectrum::boxOutsideText()), box.x, box.y,
                                         side, side, w, h)};
}

py::object pictureOf(Call& c) {
    auto picture = std::make_unique<Picture>();
    picture->image = std::move(c.image);
    picture->geometry = c.geometry;
    return py::cast(std::move(picture));
}

// The pixels of a picture, top row first, as an array.
py::array_t<std::uint8_t> pixelsOf(Picture& p) {
    RecordingSink sink;
    const auto access = image::accessBitmap(p.image, image::BitmapFlavour::Voralin00, sink);
    if (!access) sink.fail("picture", core::text(kNoPixels));
    py::array_t<std::uint8_t> out({access->height, access->width});
    auto view = out.mutable_unchecked<2>();
    for (std::int32_t y = 0; y < access->height; ++y)
        std::memcpy(view.mutable_data(y, 0), &access->at(0, y), static_cast<std::size_t>(access->width));
    return out;
}

py::array_t<std::uint8_t> paletteOf(Picture& p) {
    RecordingSink sink;
    const auto access = image::accessBitmap(p.image, image::BitmapFlavour::Voralin00, sink);
    if (!access) sink.fail("picture", core::text(kNoPixels));
    py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(access->colourCount), py::ssize_t{3}});
    auto view = out.mutable_unchecked<2>();
    for (std::uint32_t i = 0; i < access->colourCount; ++i)
        for (int k = 0; k < 3; ++k) view(i, k) = access->colourTable[4 * i + 2 - k];
    return out;
}

void saveBmp(Picture& p, const std::string& path) {
    RecordingSink sink;
    bool written = false;
    {
        py::gil_scoped_release unlocked;
        written = spectrum::saveBitmapTo(path, p.image, p.geometry, sink, core::systemDisk(), false);
    }
    if (!written) sink.fail("output", named(kCannotWrite, path));
}

// Writes bytes under the safe-write rules (a temporary beside the file, moved over it whole).
void writeBytes(const std::string& path, const std::string& bytes) {
    bool ok = false;
    {
        py::gil_scoped_release unlocked;
        ok = image::replaceFileContents(path, bytes);
    }
    if (!ok) throw EngineError{"output", named(kCannotWrite, path)};
}

std::optional<image::PixelSize> pixelSizeArg(const py::object& value) {
    if (value.is_none()) return std::nullopt;
    if (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) {
        const auto pair = value.cast<std::pair<double, double>>();
        return image::PixelSize{pair.first, pair.second};
    }
    const double v = value.cast<double>();
    return image::PixelSize{v, v};
}

py::object pixelSizeObject(const std::optional<image::PixelSize>& size) {
    if (!size) return py::none();
    if (size->square()) return py::float_(size->x);
    return py::make_tuple(size->x, size->y);
}

// --- the commands --------------------------------------------------------------------------

const char* sampleTypeKey(image::SampleType t) {
    switch (t) {
        case image::SampleType::U8: return "uint8";
        case image::SampleType::I8: return "int8";
        case image::SampleType::U16: return "uint16";
        case image::SampleType::I16: return "int16";
        case image::SampleType::U32: return "uint32";
        case image::SampleType::I32: return "int32";
        case image::SampleType::F16: return "float16";
        case image::SampleType::F32: return "float32";
        case image::SampleType::F64: return "float64";
    }
    return "float64";
}

template <typename T>
py::array samplesArray(const image::GreyImage& g) {
    py::array_t<T> out({g.height, g.width});
    T* data = out.mutable_data();
    for (std::size_t i = 0; i < g.samples.size(); ++i) data[i] = static_cast<T>(g.samples[i]);
    return out;
}

py::dict metadataOf(const image::GreyImage& g, const std::string& format) {
    py::dict meta;
    meta["format"] = format;
    meta["sample_type"] = sampleTypeKey(g.type);
    meta["width"] = g.width;
    meta["height"] = g.height;
    meta["pixel_size"] = pixelSizeObject(g.pixelSizeNm);
    meta["pixel_unit"] = "nm";
    if (!g.pixelUnit.empty()) {
        meta["file_pixel_size"] = g.pixelSizeInUnit;
        meta["file_pixel_unit"] = g.pixelUnit;
    }
    meta["image_count"] = g.imageCount;
    meta["image"] = g.imageIndex + 1;
    meta["magnification"] = g.magnification ? py::object(py::float_(*g.magnification)) : py::none();
    meta["high_tension_v"] = g.highTensionV ? py::object(py::float_(*g.highTensionV)) : py::none();
    meta["calibration_source"] = image::calibrationSourceName(g.calibrationSource);
    meta["notes"] = g.notes;
    meta["description"] = image::describeImport(g);
    return meta;
}

py::tuple openCall(const std::string& path, int imageNumber, int signal, int bin) {
    RecordingSink sink;
    image::ImportChoice choice;
    choice.image = imageNumber - 1;
    choice.signal = signal;
    choice.bin = bin;
    const auto format = image::formatOfPath(path);
    if (!format || *format == image::ImageFormat::Bmp) {
        // A bitmap opens as the program opens it: the normalised 8-bit picture; binned, its
        // sums (16-bit) as the tools take them.
        Call c;
        choice.bin = 1;
        {
            py::gil_scoped_release unlocked;
            image::OpenOutcome outcome =
                image::openImageFile(path, c.image, c.sink, c.busy, core::systemDisk(),
                                     kUnlimited, [] {}, choice);
            if (outcome.result != image::OpenResult::Opened)
                c.sink.fail("input", named(kCannotOpen, path));
            c.geometry = outcome.geometry;
        }
        Picture p{std::move(c.image), c.geometry};
        py::dict meta;
        meta["format"] = "BMP";
        meta["sample_type"] = "uint8";
        meta["width"] = c.geometry.width;
        meta["height"] = c.geometry.height;
        meta["pixel_size"] = py::none();
        meta["pixel_unit"] = "nm";
        meta["image_count"] = 1;
        meta["image"] = 1;
        const auto description = image::describeBitmapFile(path);
        meta["description"] = description ? *description : std::string();
        meta["notes"] = py::list();
        py::array pixels = pixelsOf(p);
        if (bin > 1) {
            image::GreyImage grey;
            grey.format = image::ImageFormat::Bmp;
            grey.width = c.geometry.width;
            grey.height = c.geometry.height;
            const auto* data = static_cast<const std::uint8_t*>(pixels.data());
            grey.samples.assign(data, data + pixels.size());
            std::optional<image::GreyImage> binned = image::binImage(grey, bin, sink);
            if (!binned) sink.fail("input", named(kCannotOpen, path));
            pixels = samplesArray<std::uint16_t>(*binned);
            meta["sample_type"] = "uint16";
            meta["width"] = binned->width;
            meta["height"] = binned->height;
        }
        return py::make_tuple(pixels, meta);
    }
    std::optional<image::GreyImage> g;
    {
        py::gil_scoped_release unlocked;
        g = image::importImageFile(path, *format, sink, choice);
        if (g && bin > 1) g = image::binImage(*g, bin, sink);
    }
    if (!g) sink.fail("input", named(kCannotOpen, path));
    py::array samples;
    switch (g->type) {
        case image::SampleType::U8: samples = samplesArray<std::uint8_t>(*g); break;
        case image::SampleType::I8: samples = samplesArray<std::int8_t>(*g); break;
        case image::SampleType::U16: samples = samplesArray<std::uint16_t>(*g); break;
        case image::SampleType::I16: samples = samplesArray<std::int16_t>(*g); break;
        case image::SampleType::U32: samples = samplesArray<std::uint32_t>(*g); break;
        case image::SampleType::I32: samples = samplesArray<std::int32_t>(*g); break;
        case image::SampleType::F16:
        case image::SampleType::F32: samples = samplesArray<float>(*g); break;
        case image::SampleType::F64: samples = samplesArray<double>(*g); break;
    }
    return py::make_tuple(samples, metadataOf(*g, image::formatName(*format)));
}

// A picture command: normalise, adjust or spectrum.
py::object pictureCall(const std::string& command, const py::object& input, const py::dict& o) {
    Call c;
    Input in = inputOf(input, o);
    applyCommonOptions(c.settings, o);
    auto& d = c.settings.display;
    if (command == "spectrum") {
        const std::string quantity = o["quantity"].cast<std::string>();
        d.displayQuantity = quantity == "real"   ? spectrum::kRealPart
                            : quantity == "imag" ? spectrum::kImaginaryPart
                                                 : spectrum::kRootPower;
        d.logScale = o["log"].cast<bool>();
        if (!o["clip"].is_none()) d.upperClipFactor = o["clip"].cast<double>();
        if (!o["lower_clip"].is_none()) {
            d.lowerClipping = true;
            d.lowerClipDivisor = o["lower_clip"].cast<double>();
        }
        d.invertedDisplay = o["invert"].cast<bool>();
        d.rainbowPalette = o["rainbow"].cast<bool>();
        d.wholeFrame = o["whole_frame"].cast<bool>();
    }
    const bool wantSpectrum = command == "spectrum" && o["return_spectrum"].cast<bool>();
    py::array_t<std::complex<double>> half;
    if (const auto box = command == "spectrum" ? boxOf(o) : std::nullopt) {
        // The square region alone: its spectrum at one sample per pixel, as the live view shows.
        spectrum::BoxSpectrum values;
        auto picture = std::make_unique<Picture>();
        {
            py::gil_scoped_release unlocked;
            openInput(c, in);
            checkBox(c, *box);
            spectrum::GreyPixels pixels;
            if (!spectrum::greyPixelsOf(c.image, c.geometry, pixels)) c.sink.fail("input");
            if (!spectrum::boxSpectrum(pixels, c.precise.get(), *box, values))
                throw EngineError{"memory", core::text(spectrum::spotStatusText(
                                                spectrum::SpotStatus::kNoMemory))};
        }
        if (wantSpectrum) {
            // The box's spectrum as the tool's --npy holds it: zero frequency at (S/2, S/2).
            const int n = values.side;
            half = py::array_t<std::complex<double>>({n, n});
            auto view = half.mutable_unchecked<2>();
            for (int r = 0; r < n; ++r)
                for (int k = 0; k < n; ++k) view(r, k) = values.at(r, k);
        }
        {
            py::gil_scoped_release unlocked;
            if (spectrum::mapBoxSpectrum(std::move(values), c.settings.display, c.image,
                                         picture->image, picture->geometry) != 0)
                throw EngineError{"transform", core::text(kFlat)};
        }
        py::object shown = py::cast(std::move(picture));
        if (wantSpectrum) return py::make_tuple(shown, half);
        return shown;
    }
    const int contrast = command == "adjust" ? o["contrast"].cast<int>() : 0;
    const int brightness = command == "adjust" ? o["brightness"].cast<int>() : 0;
    {
        py::gil_scoped_release unlocked;
        openInput(c, in);
        if (command == "adjust")
            spectrum::adjustContrastBrightness(c.image, c.geometry, contrast, brightness);
        else if (command == "spectrum")
            forward(c);
    }
    if (wantSpectrum) {
        // numpy.fft.rfft2's layout of the frame's spectrum: the buffers hold it with the zero
        // frequency moved to (n/2, n/2) by the frame's (-1)^(row + column).
        const int n = c.buffers.n;
        half = py::array_t<std::complex<double>>({n, n / 2 + 1});
        auto view = half.mutable_unchecked<2>();
        py::gil_scoped_release unlocked;
        // element() reads either storage: the whole frame, or the half spectrum of a big one.
        for (int ky = 0; ky < n; ++ky)
            for (int kx = 0; kx <= n / 2; ++kx)
                view(ky, kx) = c.buffers.element((ky + n / 2) % n, (kx + n / 2) % n);
    }
    py::object picture = pictureOf(c);
    if (wantSpectrum) return py::make_tuple(picture, half);
    return picture;
}

// The finder's options, read while the interpreter lock is held: the calls below run without it.
spectrum::SpotOptions spotOptionsOf(const py::dict& o) {
    spectrum::SpotOptions options;
    options.pairs = o.contains("count") ? o["count"].cast<int>() : 8;
    options.minRadius = o.contains("min_radius") ? o["min_radius"].cast<double>() : 0.0;
    return options;
}

// The spot finder over the picture, or over the source's own levels above 8 bits.
spectrum::SpotResult findSpots(Call& c, spectrum::SpotOptions options) {
    spectrum::GreyPixels pixels;
    if (!spectrum::greyPixelsOf(c.image, c.geometry, pixels)) c.sink.fail("input");
    const spectrum::GridPlan plan = spectrum::planGrid(
        pixels.width, pixels.height, c.settings.useExpandedImage,
        [&] { return spectrum::edgesAreSeamless(pixels); }, c.settings.fullFrameLimit);
    if (plan.n == 0) throw EngineError{"too_large", core::text(kTooLarge)};
    options.pixelSizeNm = c.settings.pixelSizeNm;
    spectrum::SpotResult result = spectrum::findSpots(pixels, c.precise.get(), plan.n, options);
    if (result.status == spectrum::SpotStatus::kNoMemory)
        throw EngineError{"memory", core::text(spectrum::spotStatusText(result.status))};
    if (result.status == spectrum::SpotStatus::kBadImage)
        throw EngineError{"input", core::text(spectrum::spotStatusText(result.status))};
    return result;
}


// Spots as columns; the package makes the structured array.
py::dict spotsCall(const py::object& input, const py::dict& o) {
    Call c;
    Input in = inputOf(input, o);
    applyCommonOptions(c.settings, o);
    spectrum::SpotResult result;
    spectrum::SpotOptions options = spotOptionsOf(o);
    const auto box = boxOf(o);
    {
        py::gil_scoped_release unlocked;
        openInput(c, in);
        if (box) {
            // The spots of the region alone, in the box's frame.
            checkBox(c, *box);
            spectrum::GreyPixels pixels;
            if (!spectrum::greyPixelsOf(c.image, c.geometry, pixels)) c.sink.fail("input");
            options.pixelSizeNm = c.settings.pixelSizeNm;
            result = spectrum::findBoxSpots(pixels, c.precise.get(), *box, options);
            if (result.status == spectrum::SpotStatus::kNoMemory ||
                result.status == spectrum::SpotStatus::kBadImage)
                throw EngineError{"input", core::text(spectrum::spotStatusText(result.status))};
        } else {
            result = findSpots(c, options);
        }
    }
    const std::size_t count = result.spots.size();
    py::array_t<std::int32_t> number(count), mate(count);
    py::array_t<double> x(count), y(count), g(count), d(count), angle(count), power(count),
        significance(count);
    for (std::size_t i = 0; i < count; ++i) {
        const spectrum::Spot& s = result.spots[i];
        number.mutable_at(i) = s.number;
        mate.mutable_at(i) = s.mate;
        x.mutable_at(i) = s.position.x;
        y.mutable_at(i) = s.position.y;
        g.mutable_at(i) = s.g;
        d.mutable_at(i) = s.d;
        angle.mutable_at(i) = s.angleDegrees;
        power.mutable_at(i) = s.power;
        significance.mutable_at(i) = s.significance;
    }
    py::dict out;
    out["number"] = number;
    out["mate"] = mate;
    out["x_px"] = x;
    out["y_px"] = y;
    out["g"] = g;
    out["d"] = d;
    out["angle_deg"] = angle;
    out["power"] = power;
    out["significance"] = significance;
    out["found"] = result.status == spectrum::SpotStatus::kFound;
    out["basis"] = result.haveBasis ? py::object(py::make_tuple(py::make_tuple(result.g1.x, result.g1.y),
                                                                py::make_tuple(result.g2.x, result.g2.y)))
                                    : py::none();
    out["frame"] = result.n;
    out["min_radius"] = result.minRadius;
    out["pixel_size"] = pixelSizeObject(c.settings.pixelSizeNm);
    out["no_spots_text"] = core::text(spectrum::spotStatusText(spectrum::SpotStatus::kNoneFound));
    out["no_basis_text"] = core::text(spectrum::noBasisText());
    return out;
}

// The spot list as the tool's --csv writes it, from the rows of the structured array.
std::string spotsCsvText(const py::list& rows, double nmPerPixel) {
    spectrum::SpotResult result;
    result.status = spectrum::SpotStatus::kFound;
    for (const py::handle row : rows) {
        const py::tuple t = row.cast<py::tuple>();
        spectrum::Spot s;
        s.number = t[0].cast<int>();
        s.mate = t[1].cast<int>();
        s.position = {t[2].cast<double>(), t[3].cast<double>()};
        s.g = t[4].cast<double>();
        s.d = t[5].cast<double>();
        s.angleDegrees = t[6].cast<double>();
        s.power = t[7].cast<double>();
        s.significance = t[8].cast<double>();
        result.spots.push_back(s);
    }
    return spectrum::spotsCsv(result, nmPerPixel);
}

py::dict radialCall(const py::object& input, const py::dict& o) {
    Call c;
    Input in = inputOf(input, o);
    applyCommonOptions(c.settings, o);
    spectrum::RadialProfile profile;
    {
        py::gil_scoped_release unlocked;
        openInput(c, in);
        forward(c);
        profile = spectrum::radialProfile(c.buffers);
    }
    py::dict out;
    out["frame"] = profile.n;
    out["power"] = py::array_t<double>(profile.power.size(), profile.power.data());
    out["count"] = py::array_t<long long>(profile.count.size(), profile.count.data());
    out["pixel_size"] = pixelSizeObject(c.settings.pixelSizeNm);
    out["not_square_text"] = spectrum::radialNotSquareText(c.settings.pixelSizeNm);
    return out;
}

spectrum::RadialProfile profileOf(int n, const py::array_t<double>& power,
                                  const py::array_t<long long>& count) {
    spectrum::RadialProfile p;
    p.n = n;
    p.power.assign(power.data(), power.data() + power.size());
    p.count.assign(count.data(), count.data() + count.size());
    return p;
}

std::string radialCsvText(int n, const py::array_t<double>& power,
                          const py::array_t<long long>& count, const py::object& pixelSize) {
    const auto size = pixelSizeArg(pixelSize);
    const double nm = size && spectrum::radialNotSquareText(size).empty() ? size->x : 0.0;
    return spectrum::radialProfileCsv(profileOf(n, power, count), nm);
}

py::bytes radialPlotPng(int n, const py::array_t<double>& power,
                        const py::array_t<long long>& count) {
    const spectrum::Plot plot = spectrum::plotRadialProfile(profileOf(n, power, count), 480, 320);
    const std::vector<std::uint8_t> png = spectrum::encodePng(plot.width, plot.height, plot.rgb);
    return py::bytes(reinterpret_cast<const char*>(png.data()), png.size());
}

// The line wave: the FFT data text and, when asked, the calibrated table.
py::dict linewaveCall(const py::object& input, const py::dict& o) {
    Call c;
    Input in = inputOf(input, o);
    applyCommonOptions(c.settings, o);
    const double angle = o["angle"].cast<int>();
    std::string text, table;
    {
        py::gil_scoped_release unlocked;
        openInput(c, in);
        forward(c);
        text = spectrum::fftDataText(c.buffers, c.geometry, angle);
        table = spectrum::calibratedLineCsv(c.buffers, c.geometry, angle, c.settings.pixelSizeNm);
    }
    py::dict out;
    out["text"] = py::bytes(text);
    out["calibrated_csv"] = py::bytes(table);
    return out;
}

spectrum::RestoredImage restoredOf(const py::array_t<float, py::array::c_style | py::array::forcecast>& values) {
    if (values.ndim() != 2) throw py::value_error("values: a two-dimensional array is needed");
    spectrum::RestoredImage r;
    r.height = static_cast<int>(values.shape(0));
    r.width = static_cast<int>(values.shape(1));
    r.values.assign(values.data(), values.data() + values.size());
    return r;
}

py::array_t<float> floatArray(const spectrum::RestoredImage& r) {
    py::array_t<float> out({r.height, r.width});
    std::memcpy(out.mutable_data(), r.values.data(), r.values.size() * sizeof(float));
    return out;
}

py::array_t<double> doubleArray(const std::vector<double>& v, int width, int height) {
    py::array_t<double> out({height, width});
    std::memcpy(out.mutable_data(), v.data(), v.size() * sizeof(double));
    return out;
}

void writeFloatTiff(const std::string& path,
                    const py::array_t<float, py::array::c_style | py::array::forcecast>& values,
                    const py::object& pixelSize) {
    const spectrum::RestoredImage r = restoredOf(values);
    const auto size = pixelSizeArg(pixelSize);
    RecordingSink sink;
    bool written = false;
    {
        py::gil_scoped_release unlocked;
        written = spectrum::saveFloatTiffTo(path, r, size, sink, core::systemDisk(), false);
    }
    if (!written) sink.fail("output", named(kCannotWrite, path));
}

void applyFilterOptions(spectrum::SpectrumSettings& s, const py::dict& o) {
    auto& f = s.filter;
    const std::string kind = o["kind"].cast<std::string>();
    if (kind == "standard") {
        f.kind = spectrum::kStandardFilter;
        const std::string type = o["filter"].cast<std::string>();
        f.standardType = type == "low"         ? spectrum::kLowPass
                         : type == "high"      ? spectrum::kHighPass
                         : type == "band-pass" ? spectrum::kBandPass
                         : type == "band-cut"  ? spectrum::kBandCut
                                               : spectrum::kNoFilter;
    } else if (kind == "special") {
        f.kind = spectrum::kSpecialFilter;
        f.specialProfile = spectrum::specialProfileFromIni(o["special_text"].cast<std::string>());
    } else if (kind == "circles_outside" || kind == "circles_inside") {
        f.kind = kind == "circles_outside" ? spectrum::kCirclesCutOutside
                                           : spectrum::kCirclesCutInside;
        for (const auto& [x, y, r] : o["circles"].cast<std::vector<std::tuple<int, int, int>>>())
            f.circles.push_back({x, y, r});
    } else if (kind == "lattice_keep" || kind == "lattice_remove") {
        f.kind = kind == "lattice_keep" ? spectrum::kLatticeKeep : spectrum::kLatticeRemove;
        // "auto" is taken from the spots once they are found (filterCall).
        if (!py::isinstance<py::str>(o["radius"])) f.lattice.radius = o["radius"].cast<double>();
    } else if (kind == "wiener") {
        f.kind = spectrum::kWienerFilter;
    } else if (kind == "absf") {
        f.kind = spectrum::kAbsfFilter;
    }
    f.wa = o["wa"].cast<double>();
    f.wb = o["wb"].cast<double>();
    f.edgeSigma = o["edge_sigma"].cast<double>();
    f.symmetricCircles = o["symmetric"].cast<bool>();
    f.noise.noiseScale = o["noise_scale"].cast<double>();
    f.noise.smoothing = o["smoothing"].cast<int>();
    if (!o["dark"].is_none() || !o["bright"].is_none()) {
        s.brightness.keepImageBrightness = false;
        if (!o["dark"].is_none()) s.brightness.darkLevel = o["dark"].cast<int>();
        if (!o["bright"].is_none()) s.brightness.brightLevel = o["bright"].cast<int>();
    }
}

// filter: the picture, and on request the filtered samples in the source's units (what OUT.tif
// holds), the filtered image and the removed part in levels (what --npy and --difference-npy
// hold) and the removed part's picture (what --difference writes).
py::dict filterCall(const py::object& input, const py::dict& o) {
    Call c;
    Input in = inputOf(input, o);
    applyCommonOptions(c.settings, o);
    applyFilterOptions(c.settings, o);
    const bool wantValues = o["return_values"].cast<bool>();
    const bool wantParts = o["return_parts"].cast<bool>();
    const bool haveBasis = !o["basis"].is_none();
    if (haveBasis) {
        const auto basis = o["basis"].cast<std::pair<std::pair<double, double>, std::pair<double, double>>>();
        c.settings.filter.lattice.g1 = {basis.first.first, basis.first.second};
        c.settings.filter.lattice.g2 = {basis.second.first, basis.second.second};
    }
    const int kind = c.settings.filter.kind;
    const bool lattice = kind == spectrum::kLatticeKeep || kind == spectrum::kLatticeRemove;
    const bool autoRadius = lattice && py::isinstance<py::str>(o["radius"]);
    spectrum::RestoredImage restored;
    spectrum::InverseParts parts;
    std::unique_ptr<Picture> removed;
    const spectrum::SpotOptions spotOptions = spotOptionsOf(o);
    {
        py::gil_scoped_release unlocked;
        openInput(c, in);
        // A lattice mask without a basis takes the finder's, found before the transform
        // replaces the picture with the spectrum.
        if (lattice && (!haveBasis || autoRadius)) {
            const spectrum::SpotResult found = findSpots(c, spotOptions);
            if (found.status != spectrum::SpotStatus::kFound || !found.haveBasis)
                throw EngineError{
                    found.status == spectrum::SpotStatus::kFound ? "no_basis" : "no_spots",
                    core::text(found.status == spectrum::SpotStatus::kFound
                                   ? spectrum::noBasisText()
                                   : spectrum::spotStatusText(found.status))};
            if (autoRadius) c.settings.filter.lattice.radius = spectrum::autoLatticeRadius(found);
            if (!haveBasis) {
                c.settings.filter.lattice.g1 = found.g1;
                c.settings.filter.lattice.g2 = found.g2;
            }
        }
        forward(c);
        auto& filter = c.settings.filter;
        if (filter.symmetricCircles) {
            const std::size_t drawn = filter.circles.size();
            for (std::size_t i = 0; i < drawn; ++i)
                filter.circles.push_back(spectrum::symmetricMate(
                    filter.circles[i], c.buffers.n, c.buffers.offsetX, c.buffers.offsetY));
        }
        if (lattice) {
            const spectrum::LatticeCheck check = spectrum::checkLattice(filter.lattice, c.buffers.n);
            if (check != spectrum::LatticeCheck::kOk)
                throw EngineError{"lattice", core::text(spectrum::latticeCheckText(check))};
        }
        if (!spectrum::inverseTransform(c.image, c.geometry, c.settings, c.buffers, c.sink, c.busy,
                                        wantParts ? &parts : nullptr,
                                        wantValues ? &restored : nullptr))
            c.sink.fail("transform");
        if (wantParts) {
            removed = std::make_unique<Picture>();
            removed->image = c.image;
            removed->geometry = c.geometry;
            spectrum::renderRemovedPart(parts, removed->image, removed->geometry);
        }
    }
    py::dict out;
    out["picture"] = pictureOf(c);
    if (wantValues) out["values"] = floatArray(restored);
    if (wantParts) {
        out["filtered"] = doubleArray(parts.filtered, parts.width, parts.height);
        out["removed"] = doubleArray(parts.removed, parts.width, parts.height);
        out["removed_values"] = floatArray(spectrum::removedPartValues(parts));
        out["removed_picture"] = py::cast(std::move(removed));
    }
    out["pixel_size"] = pixelSizeObject(c.settings.pixelSizeNm);
    return out;
}

py::dict infoCall(const std::string& path, const py::dict& o) {
    Call c;
    Input in = inputOf(py::str(path), o);
    std::optional<std::string> bitmap;
    {
        py::gil_scoped_release unlocked;
        bitmap = image::describeBitmapFile(path);
        openInput(c, in);
    }
    py::dict out;
    out["bitmap"] = bitmap ? py::object(py::str(*bitmap)) : py::none();
    py::list lines;
    if (c.source) {
        if (in.pixelSize) image::setPixelSize(*c.source, *in.pixelSize, "nm");
        lines.append(image::describeImport(*c.source));
        for (const std::string& note : c.source->notes) lines.append(note);
    } else if (in.pixelSize) {
        lines.append(core::formatMessage(core::text({"Pixel size %.6g nm", "ピクセルサイズ %.6g nm"}),
                                         *in.pixelSize));
    }
    out["lines"] = lines;
    out["width"] = c.geometry.width;
    out["height"] = c.geometry.height;
    out["row_bytes"] = c.geometry.paddedWidth;
    out["normalised_bytes"] = c.geometry.fileSize;
    out["image_count"] = c.source ? c.source->imageCount : 1;
    out["pixel_size"] = pixelSizeObject(c.settings.pixelSizeNm);
    return out;
}

// region: an 8-bit source's box as a picture (the tool's bitmap); for a deeper source the box
// checked, and the package cuts the samples in their own type (the tool's TIFF).
py::object regionCall(const py::object& input, const py::dict& o) {
    Call c;
    Input in = inputOf(input, o);
    const spectrum::Box box = *boxOf(o);
    auto crop = std::make_unique<Picture>();
    bool deep = false;
    {
        py::gil_scoped_release unlocked;
        openInput(c, in);
        checkBox(c, box);
        deep = c.precise != nullptr;
    }
    if (deep) return py::none();
    {
        py::gil_scoped_release unlocked;
        spectrum::GreyPixels pixels;
        if (!spectrum::greyPixelsOf(c.image, c.geometry, pixels)) c.sink.fail("input");
        const int side = box.side;
        crop->geometry.width = crop->geometry.height = crop->geometry.paddedWidth = side;
        crop->geometry.fileSize = static_cast<std::uint32_t>(side) * side + 1078;
        auto& block = crop->image.dib.block;
        block.assign(spectrum::kGreyPixelOffset + static_cast<std::size_t>(side) * side, 0);
        std::memcpy(block.data(), c.image.dib.block.data(), spectrum::kGreyPixelOffset);
        crop->image.dib.setU32(image::info::biWidth, static_cast<std::uint32_t>(side));
        crop->image.dib.setU32(image::info::biHeight, static_cast<std::uint32_t>(side));
        crop->image.dib.setU32(image::info::biSizeImage, static_cast<std::uint32_t>(side) * side);
        spectrum::GreyPixels to;
        if (!spectrum::greyPixelsOf(crop->image, crop->geometry, to)) c.sink.fail("input");
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) to.at(x, y) = pixels.at(box.x + x, box.y + y);
    }
    return py::cast(std::move(crop));
}

// A grey TIFF of the samples in their own type, as the region command writes it.
void writeSamplesTiff(const std::string& path, const py::array& samples,
                      const py::object& pixelSize) {
    const py::array a = py::array::ensure(samples, py::array::c_style);
    if (!a || a.ndim() != 2) throw py::value_error("samples: a two-dimensional array is needed");
    const char kind = a.dtype().kind();
    const int bits = static_cast<int>(a.itemsize()) * 8;
    const int format = kind == 'f' ? image::kSampleFloat
                       : kind == 'i' ? image::kSampleSigned
                                     : image::kSampleUnsigned;
    if ((kind != 'f' && kind != 'i' && kind != 'u') || (kind == 'f' && bits < 32))
        throw py::type_error("samples: integers or float32/float64 are needed");
    const auto file = image::encodeGreyTiff(static_cast<int>(a.shape(1)), static_cast<int>(a.shape(0)),
                                            bits, format, a.data(), pixelSizeArg(pixelSize));
    if (!file) throw EngineError{"output", named(kCannotWrite, path)};
    writeBytes(path, std::string(file->begin(), file->end()));
}

}  // namespace

void bindImageCalls(py::module_& m) {
    py::class_<Picture>(m, "Picture", "A picture as the image program shows it, ready for Save BMP.")
        .def_property_readonly("pixels", &pixelsOf, "The 8-bit pixels, top row first.")
        .def_property_readonly("palette", &paletteOf, "The colour table as RGB rows.")
        .def_property_readonly("width", [](const Picture& p) { return p.geometry.width; })
        .def_property_readonly("height", [](const Picture& p) { return p.geometry.height; })
        .def("__array__", [](Picture& p, const py::object& dtype) {
                 py::object pixels = pixelsOf(p);
                 return dtype.is_none() ? pixels : pixels.attr("astype")(dtype);
             }, py::arg("dtype") = py::none())
        .def("save_bmp", &saveBmp, py::arg("path"),
             "Writes the picture as the program's Save BMP writes it (8-bit, 1078-byte header).");
    m.def("open", &openCall, py::arg("path"), py::arg("image"), py::arg("signal"), py::arg("bin"));
    m.def("info", &infoCall);
    m.def("picture", &pictureCall);
    m.def("spots", &spotsCall);
    m.def("spots_csv", [](const py::list& rows, double nm) { return py::bytes(spotsCsvText(rows, nm)); });
    m.def("radial", &radialCall);
    m.def("radial_csv", [](int n, const py::array_t<double>& power, const py::array_t<long long>& count,
                           const py::object& size) { return py::bytes(radialCsvText(n, power, count, size)); });
    m.def("radial_plot_png", &radialPlotPng);
    m.def("linewave", &linewaveCall);
    m.def("filter", &filterCall);
    m.def("region", &regionCall);
    m.def("write_samples_tiff", &writeSamplesTiff);
    m.def("write_float_tiff", &writeFloatTiff);
    m.def("write_bytes", [](const std::string& path, const py::bytes& bytes) {
        writeBytes(path, std::string(bytes));
    });
}

}  // namespace pysuite
