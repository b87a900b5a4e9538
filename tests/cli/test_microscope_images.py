#!/usr/bin/python3
"""voralin00-cli on microscope images written by tools nobody here wrote: TIFF by tifffile and
ImageMagick, PNG by Pillow, MRC by mrcfile, DM3/DM4 by our small writer from the format's
description (dmfile.py), which HyperSpy must read back with the same data and calibration.
Outputs are read back by numpy, tifffile and Pillow."""
import logging
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import warnings

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dmfile  # noqa: E402
import serfile  # noqa: E402
from test_voralin00_cli import CLI, frame_of, linear_map, read_bytes, run, texture  # noqa: E402

import mrcfile  # noqa: E402
import tifffile  # noqa: E402

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        import hyperspy.api as hs
except ImportError:  # the test then says so and checks with numpy alone
    hs = None

W, H = 150, 120
PIXEL_NM = 0.2


def sample16(seed=5):
    """A lattice image with 16-bit detail that 8 bits would lose."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:H, 0:W]
    base = 30000 + 12000 * np.cos(2 * np.pi * (x / 6.1 + y / 9.7)) + rng.normal(0, 900, (H, W))
    return np.clip(base, 0, 65535).astype(np.uint16)


def drop_tag(path, tag):
    """Removes one entry from the first directory of a little-endian classic TIFF (the values
    it pointed to stay where they are, unreferenced)."""
    data = bytearray(read_bytes(path))
    assert data[:4] == b"II*\0"
    ifd = struct.unpack_from("<I", data, 4)[0]
    count = struct.unpack_from("<H", data, ifd)[0]
    entries = [bytes(data[ifd + 2 + 12 * k: ifd + 14 + 12 * k]) for k in range(count)]
    kept = [e for e in entries if struct.unpack_from("<H", e)[0] != tag]
    assert len(kept) == count - 1
    following = data[ifd + 2 + 12 * count: ifd + 6 + 12 * count]
    data[ifd: ifd + 6 + 12 * count] = (struct.pack("<H", len(kept)) + b"".join(kept) + following
                                       + bytes(12))
    with open(path, "wb") as f:
        f.write(data)


def levels_of(samples):
    s = samples.astype(np.float64)
    return (s - s.min()) * 255.0 / (s.max() - s.min())


class MicroscopeImages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-micro-")
        cls.a = sample16()
        p = cls.path_of
        tifffile.imwrite(p("u16.tif"), cls.a, imagej=True, resolution=(1 / PIXEL_NM, 1 / PIXEL_NM),
                         metadata={"unit": "nm"})
        tifffile.imwrite(p("u16_tiles.tif"), cls.a, tile=(64, 64), compression="zlib")
        tifffile.imwrite(p("f32.tif"), cls.a.astype(np.float32) / 8,
                         resolution=(1e7 / PIXEL_NM, 1e7 / PIXEL_NM), resolutionunit="CENTIMETER")
        tifffile.imwrite(p("f64.tif"), cls.a.astype(np.float64) * 1e-3)
        tifffile.imwrite(p("i16.tif"), (cls.a.astype(np.int32) - 30000).astype(np.int16))
        tifffile.imwrite(p("i32.tif"), cls.a.astype(np.int32) * 1000 - 5)
        tifffile.imwrite(p("u32.tif"), cls.a.astype(np.uint32) * 7)
        tifffile.imwrite(p("pages.tif"), np.stack([cls.a, cls.a // 2]))
        tifffile.imwrite(p("rgb_equal.tif"), np.stack([cls.a >> 8] * 3, axis=-1).astype(np.uint8),
                         photometric="rgb")
        Image.fromarray(cls.a).save(p("u16.png"))
        subprocess.run(["convert", p("u16.png"), "-compress", "LZW", p("u16_lzw.tif")], check=True)
        for mode, data in ((0, (cls.a >> 9).astype(np.int8)), (1, (cls.a.astype(np.int32) - 30000).astype(np.int16)),
                           (2, cls.a.astype(np.float32)), (6, cls.a), (12, (cls.a / 64).astype(np.float16))):
            with mrcfile.new(p(f"mode{mode}.mrc"), overwrite=True) as m:
                # mrcfile's row 0 is the bottom of the picture.
                m.set_data(np.flipud(data))
                m.voxel_size = PIXEL_NM * 10
        with mrcfile.new(p("stack.mrc"), overwrite=True) as m:
            m.set_data(np.stack([np.flipud(cls.a)] * 3))
        dmfile.write_dm(p("u16.dm4"), cls.a, 4, PIXEL_NM, "nm")
        dmfile.write_dm(p("f32.dm3"), cls.a.astype(np.float32), 3, PIXEL_NM / 1000, "µm")
        dmfile.write_dm(p("i32.dm4"), cls.a.astype(np.int32), 4, PIXEL_NM * 10, "Å")
        dmfile.write_dm(p("reciprocal.dm3"), cls.a, 3, 0.5, "1/nm")
        dmfile.write_dm(p("bigendian.dm3"), cls.a.astype(np.int16), 3, PIXEL_NM, "nm", little=False)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def path_of(cls, name):
        return os.path.join(cls.tmp, name)

    path = path_of

    def assert_ok(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)

    def info(self, name, *extra):
        result = run("info", self.path(name), *extra)
        self.assert_ok(result)
        return result.stdout.splitlines()[0]

    def test_info_names_format_type_size_range_and_pixel_size(self):
        a = self.a.astype(np.int64)
        cases = {
            "u16.tif": ("TIFF, 16-bit unsigned integer", a.min(), a.max(), 0.2),
            "u16_tiles.tif": ("TIFF, 16-bit unsigned integer", a.min(), a.max(), None),
            "u16_lzw.tif": ("TIFF, 16-bit unsigned integer", a.min(), a.max(), None),
            "f32.tif": ("TIFF, 32-bit float", a.min() / 8, a.max() / 8, None),
            "f64.tif": ("TIFF, 64-bit float", a.min() * 1e-3, a.max() * 1e-3, None),
            "i16.tif": ("TIFF, 16-bit signed integer", a.min() - 30000, a.max() - 30000, None),
            "i32.tif": ("TIFF, 32-bit signed integer", a.min() * 1000 - 5, a.max() * 1000 - 5, None),
            "u32.tif": ("TIFF, 32-bit unsigned integer", a.min() * 7, a.max() * 7, None),
            "rgb_equal.tif": ("TIFF, 8-bit unsigned integer", a.min() >> 8, a.max() >> 8, None),
            "u16.png": ("PNG, 16-bit unsigned integer", a.min(), a.max(), None),
            "mode0.mrc": ("MRC, 8-bit signed integer", (a >> 9).min(), (a >> 9).max(), 0.2),
            "mode1.mrc": ("MRC, 16-bit signed integer", a.min() - 30000, a.max() - 30000, 0.2),
            "mode2.mrc": ("MRC, 32-bit float", a.min(), a.max(), 0.2),
            "mode6.mrc": ("MRC, 16-bit unsigned integer", a.min(), a.max(), 0.2),
            "mode12.mrc": ("MRC, 16-bit float", None, None, 0.2),
            "u16.dm4": ("DM4, 16-bit unsigned integer", a.min(), a.max(), 0.2),
            "f32.dm3": ("DM3, 32-bit float", a.min(), a.max(), 0.2),
            "i32.dm4": ("DM4, 32-bit signed integer", a.min(), a.max(), 0.2),
            "reciprocal.dm3": ("DM3, 16-bit unsigned integer", a.min(), a.max(), None),
            "bigendian.dm3": ("DM3, 16-bit signed integer", a.astype(np.int16).min(),
                              a.astype(np.int16).max(), 0.2),
        }
        for name, (kind, lo, hi, pixel) in cases.items():
            with self.subTest(name):
                line = self.info(name)
                self.assertTrue(line.startswith(f"{kind}, {W} x {H} pixels, samples "), line)
                if lo is not None:
                    self.assertIn(f"samples {float(lo):.9g} to {float(hi):.9g}", line)
                if pixel is None:
                    self.assertIn("no pixel size", line)
                else:
                    size = float(line.split("pixel size ")[1].split(" nm")[0])
                    self.assertAlmostEqual(size, pixel, delta=1e-6)
        self.assertIn("first of 2 images", self.info("pages.tif"))
        self.assertIn("first of 3 images", self.info("stack.mrc"))
        self.assertIn("pixel size 0.5 nm", self.info("u16.png", "--pixel-size", "0.5"))

    def test_a_plain_tiff_resolution_is_no_calibration(self):
        # What a viewer or a camera program saves: 72 dpi, a resolution without its unit (inch
        # by default) and 72 dpi in pixels per centimetre. None is a pixel size of the specimen;
        # an ImageJ description with a unit is.
        p = self.path
        tifffile.imwrite(p("dpi72.tif"), self.a, resolution=(72, 72), resolutionunit="INCH")
        tifffile.imwrite(p("dpi96_f32.tif"), self.a.astype(np.float32), resolution=(96, 96),
                         resolutionunit="INCH")
        tifffile.imwrite(p("nounit.tif"), self.a, resolution=(93, 93), resolutionunit="INCH")
        drop_tag(p("nounit.tif"), 296)
        tifffile.imwrite(p("cm.tif"), self.a, resolution=(28.3465, 28.3465),
                         resolutionunit="CENTIMETER")
        with tifffile.TiffFile(p("nounit.tif")) as tif:
            tags = tif.pages[0].tags
            self.assertNotIn("ResolutionUnit", tags)
            self.assertEqual(tags["XResolution"].value, (93, 1))
            np.testing.assert_array_equal(tif.asarray(), self.a)
        for name in ("dpi72.tif", "dpi96_f32.tif", "nounit.tif", "cm.tif"):
            with self.subTest(name):
                self.assertIn("no pixel size", self.info(name))
                if hs is not None:
                    with warnings.catch_warnings():
                        warnings.simplefilter("ignore")
                        s = hs.load(p(name))
                    for axis in s.axes_manager.signal_axes:
                        self.assertEqual(axis.scale, 1.0)
                # The frequencies stay per pixel of the frame.
                self.assert_ok(run("linewave", p(name), p(name + ".txt"), "--angle", "0",
                                   "--calibrated"))
                with open(p(name + "_calibrated.csv")) as f:
                    self.assertTrue(f.readline().startswith("x,y,frequency_per_pixel,"))
        # The ImageJ description's unit still calibrates, and a given size still overrides.
        self.assertIn("pixel size 0.2 nm (0.2 nm)", self.info("u16.tif"))
        self.assertIn("pixel size 0.35 nm", self.info("dpi72.tif", "--pixel-size", "0.35"))

    def test_only_two_lengths_of_the_image_plane_are_a_pixel_size(self):
        p = self.path
        rng = np.random.default_rng(7)
        # A cathodoluminescence line scan: 1336 wavelength channels of 0.0934361 nm along x,
        # 67 positions of 0.05 um down y. Its x axis is a wavelength, not a length in the
        # specimen, though its unit is nm.
        scan = rng.gamma(2.0, 50.0, (67, 1336)).astype(np.float32)
        spectral = {"cl_scan.dm4": {"Format": "Spectrum image", "Signal": "CL"},
                    "cl_signal.dm3": {"Signal": "CL"},
                    "spectrum_nm.dm4": {"Format": "Spectrum"}}
        for name, meta in spectral.items():
            dmfile.write_dm(p(name), scan, 4 if name.endswith("4") else 3, (0.0934361, 0.05),
                            ("nm", "µm"), meta=meta)
        # The same samples without the meta data are an image of 0.0934361 x 50 nm pixels.
        dmfile.write_dm(p("scan_as_image.dm4"), scan, 4, (0.0934361, 0.05), ("nm", "µm"))
        # An energy axis is no length either.
        dmfile.write_dm(p("energy.dm4"), self.a, 4, (0.2, 0.5), ("nm", "eV"))
        dmfile.write_dm(p("xy.dm4"), self.a, 4, (0.2, 0.0003), ("nm", "µm"))
        with mrcfile.new(p("cell23.mrc"), overwrite=True) as m:
            m.set_data(np.flipud(self.a.astype(np.float32)))
            m.voxel_size = (2.0, 3.0, 1.0)
        serfile.write_series(p("xy.ser"), [self.a], 2e-10, delta_y=3e-10)
        for name in (*spectral, "energy.dm4"):
            with self.subTest(name):
                self.assertIn("no pixel size", self.info(name))
        self.assertIn("pixel size 0.0934361 x 50 nm (0.0934361 nm x 0.05 \u00b5m)",
                      self.info("scan_as_image.dm4"))
        self.assertIn("pixel size 0.2 x 0.3 nm (0.2 nm x 0.0003 \u00b5m)", self.info("xy.dm4"))
        self.assertIn("pixel size 0.2 x 0.3 nm (2 x 3 \u00c5)", self.info("cell23.mrc"))
        self.assertIn("pixel size 0.2 x 0.3 nm (2e-10 x 3e-10 m)", self.info("xy.ser"))
        japanese = subprocess.run([CLI, "info", p("cell23.mrc")], capture_output=True, text=True,
                                  env={**os.environ, "LANG": "ja_JP.UTF-8", "LC_ALL": ""})
        self.assertIn("ピクセルサイズ 0.2 x 0.3 nm（2 x 3 \u00c5）", japanese.stdout)
        # What the independent readers make of the same files.
        with mrcfile.open(p("cell23.mrc")) as m:
            self.assertEqual((float(m.voxel_size.x), float(m.voxel_size.y)), (2.0, 3.0))
        if hs is None:
            return
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            # It has no class for CL signals without an extension and says so.
            logging.getLogger("hyperspy").setLevel(logging.ERROR)
            scan_signal = hs.load(p("cl_scan.dm4"))
            signal_only = hs.load(p("cl_signal.dm3"))
            xy = hs.load(p("xy.dm4"))
            cell = hs.load(p("cell23.mrc"))
            series = hs.load(p("xy.ser"))
        # HyperSpy takes the line scan for spectra along a wavelength axis, not an image.
        self.assertEqual(scan_signal.axes_manager.signal_dimension, 1)
        self.assertEqual(scan_signal.axes_manager.signal_axes[0].name, "Wavelength")
        self.assertIn("Wavelength", [a.name for a in signal_only.axes_manager.signal_axes])
        x_axis, y_axis = xy.axes_manager.signal_axes
        self.assertAlmostEqual(x_axis.scale, 0.2, delta=1e-7)
        self.assertEqual(x_axis.units, "nm")
        self.assertAlmostEqual(y_axis.scale, 0.0003, delta=1e-10)
        self.assertEqual(y_axis.units, "µm")
        series_x, series_y = series.axes_manager.signal_axes
        self.assertAlmostEqual(series_x.scale, 0.2, delta=1e-9)
        self.assertAlmostEqual(series_y.scale, 0.3, delta=1e-9)
        # HyperSpy's MRC reader (1.7) multiplies the Angstrom cell by 10 where it means to divide,
        # so only its axes and their ratio are compared.
        cell_x, cell_y = (a.scale for a in cell.axes_manager.signal_axes)
        self.assertEqual([a.name for a in cell.axes_manager.signal_axes], ["x", "y"])
        self.assertAlmostEqual(cell_y / cell_x, 1.5, delta=1e-9)

    def test_pixels_that_are_not_square_convert_each_frequency_component_on_its_axis(self):
        p = self.path
        # Two fringe sets of known periods in pixels on 0.2 x 0.3 nm pixels: their reciprocal
        # vectors in 1/nm are (1 / (Tx 0.2), 1 / (Ty 0.3)), whatever frame the tool uses.
        w, h = 192, 160
        y, x = np.mgrid[0:h, 0:w]
        periods = [(np.inf, 8.0), (12.0, np.inf), (9.0, -6.5)]
        lattice = 1000 + sum(300 * np.cos(2 * np.pi * (x / tx + y / ty)) for tx, ty in periods)
        lattice = (lattice + np.random.default_rng(3).normal(0, 5, (h, w))).astype(np.float32)
        dmfile.write_dm(p("lattice23.dm4"), lattice, 4, (0.2, 0.3), "nm")
        expected = sorted(np.hypot(1 / (tx * 0.2), 1 / (ty * 0.3)) for tx, ty in periods)
        csv = p("spots23.csv")
        self.assert_ok(run("spots", p("lattice23.dm4"), "--csv", csv, "--quiet"))
        with open(csv) as f:
            header, *rows = f.read().splitlines()
        self.assertEqual(header.split(",")[4:6], ["g_per_nm", "d_nm"])
        found = sorted({round(float(r.split(",")[4]), 9) for r in rows})
        self.assertEqual(len(found), 3, rows)
        for g, want in zip(found, expected):
            self.assertAlmostEqual(g, want, delta=0.01 * want)
        for r in rows:
            g, d = float(r.split(",")[4]), float(r.split(",")[5])
            self.assertAlmostEqual(g * d, 1.0, delta=1e-5)
        # The calibrated line wave down the centre column: its strongest off-centre sample is the
        # fringe of period 8 along y, at 1 / (8 x 0.3) per nm, within one frame sample.
        self.assert_ok(run("linewave", p("lattice23.dm4"), p("line23.txt"), "--angle", "90",
                           "--calibrated"))
        table = np.genfromtxt(p("line23_calibrated.csv"), delimiter=",", names=True)
        n = frame_of(np.zeros((h, w)))[1]
        off = table[np.abs(table["frequency_per_nm"]) > 3 / (n * 0.3)]
        peak = off[np.argmax(off["root_power"])]
        self.assertAlmostEqual(peak["frequency_per_nm"], 1 / (8 * 0.3), delta=1 / (n * 0.3))
        # Taken as square (0.2 nm both ways) the same sample would read 1.5 times higher.
        self.assertGreater(abs(peak["frequency_per_nm"] * 1.5 - 1 / (8 * 0.3)), 1 / (n * 0.3))

    def test_the_radial_profile_of_pixels_that_are_not_square_stays_per_pixel(self):
        p = self.path
        dmfile.write_dm(p("radial23.dm4"), self.a, 4, (0.2, 0.3), "nm")
        result = run("radial", p("radial23.dm4"), p("radial23.csv"))
        self.assert_ok(result)
        self.assertIn("The pixels are not square (0.2 x 0.3 nm): the radial profile is given in "
                      "1/pixel only.", result.stderr)
        with open(p("radial23.csv")) as f:
            self.assertEqual(f.readline().strip(), "bin,g_per_pixel,power,count")
        japanese = subprocess.run([CLI, "radial", p("radial23.dm4"), p("radial23j.csv")],
                                  capture_output=True, text=True,
                                  env={**os.environ, "LANG": "ja_JP.UTF-8", "LC_ALL": ""})
        self.assertIn("ピクセルが正方形ではありません（0.2 x 0.3 nm）", japanese.stderr)
        # A size given for both axes calibrates it again; square files are as they were.
        self.assert_ok(run("radial", p("radial23.dm4"), p("radial_given.csv"), "--pixel-size", "0.25"))
        with open(p("radial_given.csv")) as f:
            self.assertEqual(f.readline().strip(), "bin,g_per_pixel,g_per_nm,power,count")
        square = run("radial", p("u16.dm4"), p("radial_square.csv"))
        self.assertEqual(square.stderr, "")
        with open(p("radial_square.csv")) as f:
            self.assertEqual(f.readline().strip(), "bin,g_per_pixel,g_per_nm,power,count")

    def test_hyperspy_reads_our_dm_files_with_the_same_data_and_calibration(self):
        if hs is None:
            self.skipTest("python3-hyperspy is not installed")
        for name, dtype, scale, unit in (("u16.dm4", np.uint16, PIXEL_NM, "nm"),
                                         ("f32.dm3", np.float32, PIXEL_NM / 1000, "µm"),
                                         ("i32.dm4", np.int32, PIXEL_NM * 10, "Å")):
            with self.subTest(name), warnings.catch_warnings():
                warnings.simplefilter("ignore")
                s = hs.load(self.path(name))
                self.assertEqual(s.data.dtype, dtype)
                np.testing.assert_array_equal(s.data, self.a.astype(dtype))
                self.assertAlmostEqual(s.axes_manager[0].scale, scale, delta=scale * 1e-6)
                self.assertEqual(s.axes_manager[0].units, unit)

    def test_every_format_of_the_same_samples_gives_the_same_spectrum(self):
        outputs = {}
        for name in ("u16.tif", "u16_tiles.tif", "u16_lzw.tif", "u16.png", "mode6.mrc", "u16.dm4"):
            out = self.path(name + ".spectrum.bmp")
            self.assert_ok(run("spectrum", self.path(name), out, "--log"))
            outputs[name] = read_bytes(out)
        reference = outputs.pop("u16.tif")
        for name, data in outputs.items():
            self.assertEqual(data, reference, name)

    def test_spectrum_of_a_16_bit_tiff_equals_numpy_at_full_precision(self):
        frame, n, ox, oy = frame_of(levels_of(self.a))
        spectrum = np.fft.fft2(frame)
        largest = np.abs(spectrum).max()
        for angle in ("0", "37", "90", "-61"):
            out = self.path(f"line{angle}.txt")
            self.assert_ok(run("linewave", self.path("u16.tif"), out, "--angle", angle, "--calibrated"))
            with open(self.path(f"line{angle}_calibrated.csv")) as f:
                rows = f.read().splitlines()
            self.assertEqual(rows[0], "x,y,frequency_per_nm,signed_frequency_per_nm,real,imaginary,root_power")
            self.assertGreater(len(rows), 100)
            for row in rows[1:]:
                x, y, freq, signed, re, im, power = row.split(",")
                x, y = int(x), int(y)
                value = spectrum[oy + y, ox + x]
                self.assertLessEqual(abs(float(re) - value.real), 1e-9 * largest)
                self.assertLessEqual(abs(float(im) - value.imag), 1e-9 * largest)
                r = np.hypot(ox + x - n / 2, oy + y - n / 2)
                self.assertAlmostEqual(float(freq), r / (n * PIXEL_NM), delta=1e-9)
                self.assertAlmostEqual(abs(float(signed)), float(freq))
            # The FFT data file keeps its layout, row for row.
            text = read_bytes(out).decode("ascii").split("\r\n")
            self.assertEqual(text[0], "Line wave data")
            self.assertEqual(len([t for t in text[6:] if t]), len(rows) - 1)
        # The spectrum picture is numpy's display mapping of the same transform.
        out = self.path("u16.spectrum.bmp")
        self.assert_ok(run("spectrum", self.path("u16.tif"), out))
        expected = linear_map(np.abs(spectrum[oy:oy + H, ox:ox + W]))
        shown = np.asarray(Image.open(out), dtype=np.int64)
        self.assertLessEqual(np.abs(shown - expected).max(), 1)
        self.assertLess(np.count_nonzero(shown != expected), 10)
        # 8-bit rounding first would have given another transform.
        rounded = np.fft.fft2(frame_of(np.trunc(levels_of(self.a)))[0])
        self.assertGreater(np.abs(rounded - spectrum).max(), 1e-6 * largest)

    def test_uncalibrated_frequency_is_per_pixel_of_the_frame(self):
        self.assert_ok(run("linewave", self.path("u16_tiles.tif"), self.path("pl.txt"), "--angle", "0",
                           "--calibrated"))
        with open(self.path("pl_calibrated.csv")) as f:
            rows = f.read().splitlines()
        self.assertTrue(rows[0].startswith("x,y,frequency_per_pixel,"))
        n = frame_of(self.a)[1]
        last = rows[-1].split(",")
        self.assertAlmostEqual(float(last[2]), abs(int(last[0]) + (n - W) // 2 - n / 2) / n, delta=1e-9)
        # --pixel-size supplies the calibration.
        self.assert_ok(run("linewave", self.path("u16_tiles.tif"), self.path("p2.txt"), "--angle", "0",
                           "--calibrated", "--pixel-size", "0.5"))
        with open(self.path("p2_calibrated.csv")) as f:
            last2 = f.read().splitlines()[-1].split(",")
        self.assertAlmostEqual(float(last2[2]), float(last[2]) / 0.5, delta=1e-9)

    def test_a_bmp_and_the_same_picture_as_8_bit_tiff_and_png_give_identical_outputs(self):
        pixels = texture(W, H)
        Image.fromarray(pixels, mode="L").save(self.path("t.bmp"))
        tifffile.imwrite(self.path("t.tif"), pixels)
        Image.fromarray(pixels, mode="L").save(self.path("t.png"))
        subprocess.run(["convert", self.path("t.png"), "-compress", "LZW", self.path("t_im.tif")], check=True)
        commands = (("normalise", ".bmp"), ("spectrum", ".bmp", "--log"), ("filter", ".bmp", "--filter", "low"),
                    ("linewave", ".txt", "--angle", "30"), ("adjust", ".bmp", "--contrast", "3"))
        for command, ext, *options in commands:
            results = []
            for source in ("t.bmp", "t.tif", "t.png", "t_im.tif"):
                out = self.path(f"{source}.{command}{ext}")
                self.assert_ok(run(command, self.path(source), out, *options))
                results.append(read_bytes(out))
            for other in results[1:]:
                self.assertEqual(other, results[0], command)

    def test_filter_to_float_tiff_keeps_the_source_units_and_pixel_size(self):
        out = self.path("restored.tif")
        result = run("filter", self.path("u16.tif"), out, "--filter", "none")
        self.assert_ok(result)
        with tifffile.TiffFile(out) as tif:
            page = tif.pages[0]
            data = page.asarray()
            self.assertEqual(data.dtype, np.float32)
            self.assertEqual(data.shape, (H, W))
            self.assertEqual(tif.imagej_metadata["unit"], "nm")
            num, den = page.tags["XResolution"].value
            self.assertAlmostEqual(den / num, PIXEL_NM, delta=1e-9)
        # No filter: the restoration gives back the samples, in their own units.
        span = float(self.a.max()) - float(self.a.min())
        self.assertLess(np.abs(data - self.a).max(), 1e-4 * span)
        pillow = np.asarray(Image.open(out), dtype=np.float64)
        np.testing.assert_array_equal(pillow, data)
        # A low-pass result stays in the source's range and is smoother.
        low = self.path("low.tif")
        self.assert_ok(run("filter", self.path("mode2.mrc"), low, "--filter", "low", "--wa", "0.1"))
        smooth = tifffile.imread(low)
        self.assertLess(np.abs(np.diff(smooth, axis=1)).mean(), np.abs(np.diff(self.a.astype(float), axis=1)).mean())
        self.assertGreaterEqual(smooth.min(), self.a.min() - 1)
        self.assertLessEqual(smooth.max(), self.a.max() + 1)
        # The 8-bit picture written for a .bmp name is what it was.
        self.assert_ok(run("filter", self.path("u16.tif"), self.path("r.bmp"), "--filter", "none"))
        self.assertEqual(read_bytes(self.path("r.bmp"))[28], 8)

    def test_bad_input_is_refused_by_name_and_writes_nothing(self):
        p = self.path
        data = read_bytes(p("u16.tif"))
        with open(p("truncated.tif"), "wb") as f:
            f.write(data[:len(data) // 2])
        nan = self.a.astype(np.float32)
        nan[5, 7] = np.nan
        tifffile.imwrite(p("nan.tif"), nan)
        inf = self.a.astype(np.float32)
        inf[0, 0] = np.inf
        with mrcfile.new(p("inf.mrc"), overwrite=True) as m:
            m.set_data(inf)
        tifffile.imwrite(p("complex.tif"), self.a.astype(np.complex64))
        tifffile.imwrite(p("rgb.tif"), np.stack([self.a >> 8, self.a >> 9, self.a >> 8], axis=-1).astype(np.uint8),
                         photometric="rgb")
        # A header claiming 100000 x 100000 pixels of 16 bits.
        entries = [(256, 4, 100000), (257, 4, 100000), (258, 3, 16), (259, 3, 1), (262, 3, 1),
                   (273, 4, 8), (277, 3, 1), (278, 4, 100000), (279, 4, 64)]
        head = b"II*\0" + struct.pack("<I", 8 + 64) + bytes(64) + struct.pack("<H", len(entries))
        head += b"".join(struct.pack("<HHII", t, k, 1, v) for t, k, v in entries) + bytes(4)
        with open(p("huge.tif"), "wb") as f:
            f.write(head)
        mrc = bytearray(read_bytes(p("mode2.mrc")))
        struct.pack_into("<i", mrc, 8, 50)  # 50 sections claimed, one present
        with open(p("sections.mrc"), "wb") as f:
            f.write(mrc)
        dm = read_bytes(p("u16.dm4"))
        with open(p("truncated.dm4"), "wb") as f:
            f.write(dm[:len(dm) - 5000])
        dmfile.write_dm(p("rgb.dm4"), self.a.astype(np.uint32), 4, data_type=23)
        cases = {
            "truncated.tif": "The file ends before its image data: it is truncated or damaged.",
            "nan.tif": "samples that are not numbers (NaN) or infinite",
            "inf.mrc": "samples that are not numbers (NaN) or infinite",
            "complex.tif": "Unsupported sample type in this file: TIFF",
            "rgb.tif": "Not a gray-scale image",
            "huge.tif": "The image is too large: 100000 x 100000 pixels",
            "sections.mrc": "The MRC header claims 50 sections of 150 x 120 samples",
            "truncated.dm4": "The file ends before its image data",
            "rgb.dm4": "Not a gray-scale image: colour images cannot be opened (DM RGB)",
        }
        for name, message in cases.items():
            with self.subTest(name):
                out = p(name + ".out.bmp")
                result = run("spectrum", p(name), out)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(out))
        # Japanese texts for the new messages.
        result = subprocess.run([CLI, "info", p("huge.tif")], capture_output=True, text=True,
                                env={**os.environ, "LANG": "ja_JP.UTF-8", "LC_ALL": ""})
        self.assertEqual(result.returncode, 1)
        self.assertIn("画像が大きすぎます", result.stderr)


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
