#!/usr/bin/python3
"""Writes a small corpus of microscope images into the folder given, with the writers a
microscopist's tools use: tifffile (TIFF variants), Pillow (PNG), mrcfile (MRC), our DM and TIA
series writers (tests/cli/dmfile.py, serfile.py), ImageMagick (TIFF codecs and a 4-bit palette). Both builds decode TIFF
with the same libtiff; *_refused.* names what both must refuse alike."""
import os
import shutil
import subprocess
import sys

import numpy as np
import mrcfile
import tifffile
from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
import dmfile  # noqa: E402
import serfile  # noqa: E402

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
rng = np.random.default_rng(11)
y, x = np.mgrid[0:96, 0:130]
a = np.clip(30000 + 9000 * np.cos(2 * np.pi * (x / 5.3 + y / 8.1)) + rng.normal(0, 700, x.shape),
            0, 65535).astype(np.uint16)
p = lambda name: os.path.join(out, name)  # noqa: E731
tifffile.imwrite(p("u16_imagej.tif"), a, imagej=True, resolution=(5, 5), metadata={"unit": "nm"})
tifffile.imwrite(p("u16_tiles_deflate.tif"), a, tile=(32, 32), compression="zlib")
tifffile.imwrite(p("f32_cm.tif"), a.astype(np.float32) / 3, resolution=(5e7, 5e7),
                 resolutionunit="CENTIMETER")
# A viewer's 72 dpi: no calibration in either build.
tifffile.imwrite(p("u16_dpi72.tif"), a, resolution=(72, 72), resolutionunit="INCH")
tifffile.imwrite(p("u8.tif"), (a >> 8).astype(np.uint8))
tifffile.imwrite(p("i16.tif"), (a.astype(np.int32) - 30000).astype(np.int16))
tifffile.imwrite(p("u32.tif"), a.astype(np.uint32) * 3)
tifffile.imwrite(p("f64.tif"), a.astype(np.float64) / 7)
tifffile.imwrite(p("f16.tif"), (a / 64).astype(np.float16))
Image.fromarray(a).save(p("u16.png"))
Image.fromarray((a >> 8).astype(np.uint8)).save(p("u8.png"))
with mrcfile.new(p("f32.mrc"), overwrite=True) as m:
    m.set_data(np.flipud(a.astype(np.float32)))
    m.voxel_size = 2.0
dmfile.write_dm(p("u16.dm4"), a, 4, 0.2, "nm")
dmfile.write_dm(p("f32.dm3"), a.astype(np.float32), 3, 0.0002, "µm")
# A DM4 movie of three pictures, each its own lattice, the last of another range.
dmfile.write_dm(p("movie.dm4"), np.stack([a, a[:, ::-1] // 2, np.clip(a.astype(np.int32) + 5000, 0, 65535)
                                          .astype(np.uint16)]), 4, 0.2, "nm")
serfile.write_series(p("u16_0210.ser"), [a, a // 2], 2e-10, version=0x0210, total=4)
serfile.write_series(p("f32_0220.ser"), [a.astype(np.float32) / 3], 5e-10, version=0x0220)
cut = serfile.series([a, a // 2], 2e-10)
with open(p("cut_refused.ser"), "wb") as f:  # the second image runs past the end
    f.write(cut[:len(cut) - 500])
# Axes calibrated apart, and a line scan whose x axis is a wavelength.
serfile.write_series(p("xy.ser"), [a], 2e-10, delta_y=3e-10)
dmfile.write_dm(p("xy.dm4"), a, 4, (0.2, 0.0003), ("nm", "µm"))
dmfile.write_dm(p("cl_scan.dm4"), a.astype(np.float32), 4, (0.0934361, 0.05), ("nm", "µm"),
                meta={"Format": "Spectrum image", "Signal": "CL"})
with mrcfile.new(p("cell23.mrc"), overwrite=True) as m:
    m.set_data(np.flipud(a.astype(np.float32)))
    m.voxel_size = (2.0, 3.0, 1.0)
tifffile.imwrite(p("i16_bigendian_deflate.tif"), (a.astype(np.int32) - 30000).astype(np.int16), byteorder=">",
                 compression="zlib", predictor=True)
# Big-endian files that tifffile wrote, which the system decoder of Windows once read wrongly.
data = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "tiff")
for name in ("bigendian_u16.tif", "bigendian_f32.tif"):
    shutil.copy(os.path.join(data, name), p(name))
# Palettes: greys open mapped through them, colours are refused.
index = (a >> 8).astype(np.uint8)
ramp = np.arange(256, dtype=np.uint16)
tifffile.imwrite(p("palette_grey.tif"), index, photometric="palette", colormap=np.stack([ramp * 257] * 3))
tifffile.imwrite(p("palette_colour_refused.tif"), index, photometric="palette",
                 colormap=np.stack([ramp * 257, ramp * 256, ramp * 257]))
Image.fromarray(((a >> 12) * 17).astype(np.uint8)).save(p("grey16.png"))
subprocess.run(["convert", p("grey16.png"), "-type", "Palette", "-depth", "4", p("palette4.tif")], check=True)
os.remove(p("grey16.png"))
subprocess.run(["convert", p("u16.png"), "-compress", "RLE", p("u16_packbits.tif")],
               check=True)
# Codecs outside the one set both builds carry.
subprocess.run(["convert", p("u8.png"), "-compress", "JPEG", p("jpeg_refused.tif")], check=True)
subprocess.run(["convert", p("u8.png"), "-compress", "Zstd", p("zstd_refused.tif")], check=True)
# Calibrations in vendors' own tags: the program's title names the source.
import vendor_tiffs  # noqa: E402
vendor_tiffs.write_tvips(p("vendor_tvips.tif"))
