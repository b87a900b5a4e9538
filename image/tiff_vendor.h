// The calibrations microscope vendors' acquisition software writes into TIFF files of its own
// making, read from the tag values of the first directory (no TIFF decoder needed, so the tests
// and the fuzzer feed it values directly):
//
//   DigitalMicrograph  private tags 65003/65004 (x/y unit, ASCII), 65006/65007 (x/y origin) and
//                      65009/65010 (x/y scale), each origin and scale one DOUBLE. Other programs
//                      reuse 65000-65535, so only the whole set with these types counts.
//   FEI / Thermo       tag 34682 (or 34680): INI text; [Scan] PixelWidth/PixelHeight in metres,
//                      else [IRBeam] HFW/VFW over [Image] ResolutionX/ResolutionY; [Beam] or
//                      [EBeam] HV in volts; the magnification is [Image] MagCanvasRealWidth over
//                      [Scan] HorFieldsize (else [EBeam] HFW), both in metres.
//   Zeiss SEM          tag 34118: text whose fourth unnamed value is the pixel size in metres for
//                      an image 1024 pixels wide; "AP_MAG" and "AP_EHT" name magnification and
//                      high tension.
//   TVIPS              tag 37706: the file offset of a binary header in the file's byte order;
//                      version 2 (magic 0xAAAAAAAA at its end) holds PixelSizeX/Y in nm, high
//                      tension and magnification; version 1 leaves the size to XResolution in
//                      pixels per centimetre.
//   Olympus SIS        tag 33560: a little-endian "SIS0" structure whose general record holds
//                      xcal and ycal x 10^lenexp metres and the magnification.
//   JEOL               Make "JEOL Ltd." with an XML ImageDescription: mode, magnification and
//                      high tension; in image (MAG) mode the size is the resolution's length
//                      (0.0254 m per inch, else 0.01 m per centimetre) x 1e9 / (XResolution x
//                      magnification) nm. Diffraction mode is reciprocal: no pixel size.
//
// Every value is untrusted: texts are scanned once in linear time, binary headers are read only
// where the file holds them, and a size that is not a positive finite length is set aside with a
// note saying so.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "image/import.h"

namespace image {

// One tag as the directory holds it.
struct TiffTagValue {
    std::uint16_t type = 0;       // TIFF field type: 1 BYTE, 2 ASCII, 4 LONG, 7 UNDEFINED, 12 DOUBLE...
    std::uint64_t count = 0;      // values (bytes for ASCII, BYTE, UNDEFINED)
    std::string bytes;            // ASCII, BYTE and UNDEFINED values as stored
    std::vector<double> numbers;  // the values of every numeric type
};

// The private tags read (kVendorTags) and the plain ones the layouts lean on.
struct TiffVendorInput {
    int width = 0;
    int height = 0;
    std::string description;  // ImageDescription (270)
    std::string make;         // Make (271)
    double xResolution = 0;   // pixels per resolution unit, 0 when absent
    double yResolution = 0;
    int resolutionUnit = 2;   // 1 none, 2 inch, 3 centimetre
    bool bigEndian = false;   // the file's byte order, for binary headers tags point to
    std::map<std::uint32_t, TiffTagValue> tags;
    // Copies `n` bytes at the absolute file offset into `out`; false where the file ends first.
    std::function<bool(std::uint64_t offset, std::size_t n, std::uint8_t* out)> readAt;
};

// The private tags a TIFF reader hands over when present.
inline constexpr std::uint32_t kVendorTags[] = {65003, 65004, 65006, 65007, 65009, 65010,
                                                34680, 34682, 34118, 37706, 33560};

struct VendorCalibration {
    CalibrationSource source = CalibrationSource::None;  // whose tags were found
    bool calibrated = false;  // sizes below are positive finite lengths
    double x = 0, y = 0;      // per pixel, in the units below
    std::string xUnit, yUnit;
    std::optional<double> magnification;
    std::optional<double> highTensionV;
    std::string note;  // why the tags give no pixel size, in the chosen language
};

// The vendor calibration of the first directory; source None when no layout is recognised.
VendorCalibration readVendorCalibration(const TiffVendorInput& input);

}  // namespace image
