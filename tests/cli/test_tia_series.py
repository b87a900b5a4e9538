#!/usr/bin/python3
"""voralin00-cli on TIA series (.ser) written by our small writer from the published format
description (serfile.py), each file first read back by HyperSpy's own reader with the same data
and calibration. The same samples written by tifffile must open to the same picture, which
checks the rows' order; every hostile series is refused with its message and nothing written."""
import os
import shutil
import struct
import sys
import tempfile
import unittest
import warnings

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serfile  # noqa: E402
from test_voralin00_cli import read_bytes, run  # noqa: E402

import tifffile  # noqa: E402

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        import hyperspy.api as hs
except ImportError:
    hs = None

W, H = 96, 80
DELTA = 2.5e-10  # metres a pixel


def picture(seed=4):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:H, 0:W]
    base = 20000 + 9000 * np.cos(2 * np.pi * (x / 7.3 + y / 5.1)) + 300 * y + rng.normal(0, 500, (H, W))
    return np.clip(base, 0, 65535).astype(np.uint16)


TYPES = {"uint8": ("8-bit unsigned integer", lambda a: (a >> 8).astype(np.uint8)),
         "uint16": ("16-bit unsigned integer", lambda a: a),
         "uint32": ("32-bit unsigned integer", lambda a: a.astype(np.uint32) * 70000),
         "int8": ("8-bit signed integer", lambda a: ((a >> 8).astype(np.int16) - 128).astype(np.int8)),
         "int16": ("16-bit signed integer", lambda a: (a.astype(np.int32) - 30000).astype(np.int16)),
         "int32": ("32-bit signed integer", lambda a: a.astype(np.int32) * -3),
         "float32": ("32-bit float", lambda a: a.astype(np.float32) / 7),
         "float64": ("64-bit float", lambda a: a.astype(np.float64) * 1e-3)}


class TiaSeries(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-ser-")
        cls.a = picture()
        cls.written = {}
        for version in (0x0210, 0x0220):
            for name, (_, make) in TYPES.items():
                data = make(cls.a)
                path = cls.path(f"{name}_{version:x}_1.ser")
                serfile.write_series(path, [data], DELTA, version=version)
                cls.written[path] = data
        # A series of three recorded images out of five announced (an aborted acquisition).
        cls.frames = [cls.a, cls.a // 2, cls.a // 3]
        serfile.write_series(cls.path("series_1.ser"), cls.frames, DELTA, version=0x0210, total=5)
        # With .emi files: an image and a diffraction pattern.
        serfile.write_series(cls.path("image_1.ser"), [cls.a], DELTA)
        serfile.write_emi(cls.path("image.emi"), "TEM Image")
        serfile.write_series(cls.path("pattern_1.ser"), [cls.a], 2e7)
        serfile.write_emi(cls.path("pattern.emi"), "TEM Diffraction")
        tifffile.imwrite(cls.path("same.tif"), cls.a)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp, name)

    def info(self, path):
        result = run("info", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.splitlines()

    def test_hyperspy_reads_our_series_with_the_same_data_and_calibration(self):
        if hs is None:
            self.skipTest("python3-hyperspy is not installed")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for path, data in self.written.items():
                with self.subTest(os.path.basename(path)):
                    s = hs.load(path)
                    self.assertEqual(s.data.dtype, data.dtype)
                    np.testing.assert_array_equal(s.data, data)
                    for axis in s.axes_manager.signal_axes:
                        self.assertAlmostEqual(axis.scale, DELTA * 1e9, delta=1e-12)
                        self.assertEqual(axis.units, "nm")
            s = hs.load(self.path("series_1.ser"), only_valid_data=True)
            np.testing.assert_array_equal(s.data, np.stack(self.frames))
            s = hs.load(self.path("pattern.emi"))
            self.assertEqual(s.axes_manager[0].units, "1 / nm")
            self.assertAlmostEqual(s.axes_manager[0].scale, 2e7 / 1e9)

    def test_info_names_format_type_size_range_and_pixel_size_with_its_source(self):
        for path, data in self.written.items():
            kind = TYPES[os.path.basename(path).split("_")[0]][0]
            with self.subTest(os.path.basename(path)):
                lines = self.info(path)
                self.assertTrue(lines[0].startswith(f"TIA series, {kind}, {W} x {H} pixels, "
                                                    f"samples {float(data.min()):.9g} to "
                                                    f"{float(data.max()):.9g}, pixel size 0.25 nm"),
                                lines[0])
                self.assertIn("taken in metres: no .emi beside the file", lines[1])
        lines = self.info(self.path("series_1.ser"))
        self.assertIn("first of 3 images", lines[0])
        lines = self.info(self.path("image_1.ser"))
        self.assertIn("pixel size 0.25 nm", lines[0])
        self.assertEqual(lines[1], 'Pixel size from the series\' calibration in metres '
                                   '(mode "TEM Image" in the .emi).')
        lines = self.info(self.path("pattern_1.ser"))
        self.assertIn("no pixel size", lines[0])
        self.assertEqual(lines[1], 'Diffraction (mode "TEM Diffraction" in the .emi): '
                                   '0.02 1/nm per pixel, not a pixel size.')

    def test_rows_come_the_right_way_up(self):
        # The same samples from tifffile open to the same picture, byte for byte.
        reference = self.path("same.bmp")
        self.assertEqual(run("normalise", self.path("same.tif"), reference).returncode, 0)
        for name in ("uint16_210_1.ser", "uint16_220_1.ser", "series_1.ser"):
            with self.subTest(name):
                out = self.path(name + ".bmp")
                result = run("normalise", self.path(name), out)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(read_bytes(out), read_bytes(reference))
        # An 8-bit series opens unchanged: its samples are the picture's pixels.
        out = self.path("u8.bmp")
        self.assertEqual(run("normalise", self.path("uint8_220_1.ser"), out).returncode, 0)
        bmp = np.frombuffer(read_bytes(out)[1078:], np.uint8).reshape(H, W)[::-1]
        np.testing.assert_array_equal(bmp, TYPES["uint8"][1](self.a))

    def refused(self, name, data, message):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        out = self.path(name + ".bmp")
        result = run("normalise", path, out)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_hostile_and_unsupported_series_are_refused_by_name(self):
        good = serfile.series(self.frames, DELTA, version=0x0220)
        table = struct.unpack_from("<Q", good, 22)[0]
        first = struct.unpack_from("<Q", good, table)[0]
        cases = []
        outside = bytearray(good)
        struct.pack_into("<Q", outside, table + 8, len(good) + 4096)
        cases.append(("outside.ser", outside, "Image 2 of the TIA series lies outside the file"))
        itself = bytearray(good)
        struct.pack_into("<Q", itself, table, table)
        cases.append(("itself.ser", itself, "Image 1 of the TIA series lies outside the file or "
                                            "over its header or offset tables"))
        tables = bytearray(good)
        struct.pack_into("<Q", tables, 22, len(good) - 8)
        cases.append(("tables.ser", tables, "The TIA series' offset tables (3 entries"))
        # The third image cut short: the file ends inside it.
        cases.append(("cut.ser", good[:len(good) - 24 - W * 2 * 10],
                      "Image 3 of the TIA series (96 x 80 samples"))
        huge = bytearray(good)
        struct.pack_into("<II", huge, first + 42, 100000, 100000)
        cases.append(("huge.ser", huge, "Image 1 of the TIA series (100000 x 100000 samples"))
        counts = bytearray(good)
        struct.pack_into("<I", counts, 18, 7)
        cases.append(("counts.ser", counts, "claims 7 recorded images out of 3"))
        cases.append(("complex.ser", serfile.series([self.a.astype(np.complex64)], DELTA),
                      "Unsupported sample type in this file: TIA complex"))
        spectra = bytearray(good)
        struct.pack_into("<I", spectra, 6, 0x4120)
        cases.append(("spectra.ser", spectra, "holds spectra (one-dimensional data), not images"))
        cases.append(("notser.ser", b"II" + bytes(200), "Not a TIA series file"))
        version = bytearray(good)
        struct.pack_into("<H", version, 4, 0x0300)
        cases.append(("version.ser", version, "TIA series version 0x0300 is not supported"))
        empty = bytearray(good)
        struct.pack_into("<I", empty, 18, 0)
        cases.append(("empty.ser", empty, "The TIA series holds no recorded image."))
        for name, data, message in cases:
            with self.subTest(name):
                self.refused(name, bytes(data), message)


if __name__ == "__main__":
    unittest.main()
