// TIFF through the Windows Imaging Component. The first directory is read by us first: it names
// the sample type (WIC has no grey formats for signed 16-bit, 32-bit integer, 16-bit and 64-bit
// float samples, which are refused by name here) and carries the ImageJ description and the
// resolution that give the pixel size. WIC then decodes the first image.
#include <windows.h>
#include <wincodec.h>

#include <cstring>

#include "core/localized.h"
#include "image/import.h"
#include "image/import_detail.h"
#include "image/tiff_header.h"

namespace image {

namespace {

using namespace detail;

constexpr core::Localized kNotOnWindows{
    "TIFF files of %s samples cannot be read by the Windows version of this program.",
    "%s の TIFF ファイルは Windows 版のこのプログラムでは読み込めません。"};

template <typename T>
class Com {
  public:
    ~Com() {
        if (p_) p_->Release();
    }
    T** out() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }

  private:
    T* p_ = nullptr;
};

class ComScope {
  public:
    ComScope() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (ok_) CoUninitialize();
    }

  private:
    bool ok_;
};

}  // namespace

std::optional<GreyImage> readTiff(std::span<const std::uint8_t> file, core::MessageSink& sink) {
    const auto header = readTiffHeader(file);
    if (!header) return refuse(sink, kBadStructure, "TIFF", "no image directory");
    const unsigned bits = header->bitsPerSample, format = header->sampleFormat;
    SampleType type;
    if (format == 1 && bits == 8) type = SampleType::U8;
    else if (format == 1 && bits == 16) type = SampleType::U16;
    else if (format == 1 && bits == 32) type = SampleType::U32;
    else if (format == 2 && bits == 8) type = SampleType::I8;
    else if (format == 2 && bits == 16) type = SampleType::I16;
    else if (format == 2 && bits == 32) type = SampleType::I32;
    else if (format == 3 && bits == 16) type = SampleType::F16;
    else if (format == 3 && bits == 32) type = SampleType::F32;
    else if (format == 3 && bits == 64) type = SampleType::F64;
    else {
        const std::string what = "TIFF " + std::to_string(bits) + "-bit" +
                                 (format == 3   ? " float"
                                  : format == 2 ? " signed"
                                  : format == 1 ? " unsigned"
                                                : " complex or other");
        return refuse(sink, kUnsupportedType, what.c_str());
    }
    if (header->photometric == 3) return refuse(sink, kColourRefused, "TIFF palette");
    if (header->photometric > 2) return refuse(sink, kColourRefused, "TIFF colour space");
    if (!(type == SampleType::U8 || type == SampleType::I8 || type == SampleType::U16 ||
          type == SampleType::F32))
        return refuse(sink, kNotOnWindows, sampleTypeName(type).c_str());
    if (!checkImportSize(header->width, header->height, sink)) return std::nullopt;
    if (file.size() > 0xFFFFFFFFu) return refuse(sink, kBadStructure, "TIFF", "file too large");

    ComScope com;
    Com<IWICImagingFactory> factory;
    Com<IWICStream> stream;
    Com<IWICBitmapDecoder> decoder;
    Com<IWICBitmapFrameDecode> frame;
    auto broken = [&](const char* what) { return refuse(sink, kBadStructure, "TIFF", what); };
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void**>(factory.out()))))
        return broken("the imaging component is not available");
    if (FAILED(factory->CreateStream(stream.out())) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(file.data()),
                                            static_cast<DWORD>(file.size()))) ||
        FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr,
                                                WICDecodeMetadataCacheOnDemand, decoder.out())) ||
        FAILED(decoder->GetFrame(0, frame.out())))
        return broken("the image cannot be decoded");
    UINT w = 0, h = 0;
    WICPixelFormatGUID pixel{};
    if (FAILED(frame->GetSize(&w, &h)) || FAILED(frame->GetPixelFormat(&pixel)))
        return broken("the image cannot be decoded");
    if (w != header->width || h != header->height) return broken("inconsistent image size");

    // Bytes a pixel and channels of the formats WIC gives for grey and RGB TIFFs.
    unsigned bytes = 0, channels = 1;
    bool rgb = false;
    if (IsEqualGUID(pixel, GUID_WICPixelFormat8bppGray)) bytes = 1;
    else if (IsEqualGUID(pixel, GUID_WICPixelFormat16bppGray)) bytes = 2;
    else if (IsEqualGUID(pixel, GUID_WICPixelFormat32bppGrayFloat)) bytes = 4;
    else if (IsEqualGUID(pixel, GUID_WICPixelFormat24bppBGR) ||
             IsEqualGUID(pixel, GUID_WICPixelFormat24bppRGB)) { bytes = 3; channels = 3; rgb = true; }
    else if (IsEqualGUID(pixel, GUID_WICPixelFormat32bppBGRA) ||
             IsEqualGUID(pixel, GUID_WICPixelFormat32bppBGR) ||
             IsEqualGUID(pixel, GUID_WICPixelFormat32bppRGBA)) { bytes = 4; channels = 4; rgb = true; }
    else if (IsEqualGUID(pixel, GUID_WICPixelFormat48bppRGB)) { bytes = 6; channels = 3; rgb = true; }
    else if (IsEqualGUID(pixel, GUID_WICPixelFormat64bppRGBA)) { bytes = 8; channels = 4; rgb = true; }
    else return refuse(sink, kNotOnWindows, sampleTypeName(type).c_str());
    const unsigned sampleBytes = bytes / channels;
    if (sampleBytes != bits / 8) return broken("inconsistent sample size");

    const std::size_t stride = static_cast<std::size_t>(w) * bytes;
    std::vector<std::uint8_t> pixels(stride * h);
    if (FAILED(frame->CopyPixels(nullptr, static_cast<UINT>(stride),
                                 static_cast<UINT>(pixels.size()), pixels.data())))
        return broken("the image cannot be decoded");

    GreyImage image;
    image.format = ImageFormat::Tiff;
    image.type = type;
    image.width = static_cast<int>(w);
    image.height = static_cast<int>(h);
    image.samples.resize(static_cast<std::size_t>(w) * h);
    auto sampleAt = [&](const std::uint8_t* p) -> double {
        switch (type) {
            case SampleType::U8: return p[0];
            case SampleType::I8: return static_cast<std::int8_t>(p[0]);
            case SampleType::U16: return u16le(p);
            default: return f32of(u32le(p));
        }
    };
    for (std::size_t i = 0; i < image.samples.size(); ++i) {
        const std::uint8_t* p = pixels.data() + i * bytes;
        const double v = sampleAt(p);
        if (rgb && (sampleAt(p + sampleBytes) != v || sampleAt(p + 2 * sampleBytes) != v))
            return refuse(sink, kColourRefused, "TIFF RGB");
        image.samples[i] = v;
    }
    if (header->xResolution > 0)
        setTiffCalibration(image, header->description, header->xResolution,
                           header->resolutionUnit);
    image.imageCount = header->imageCount;
    if (!checkImported(image, sink)) return std::nullopt;
    return image;
}

}  // namespace image
