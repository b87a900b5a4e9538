#!/usr/bin/python3
"""The spectrum, spots and crop of one square region (--box), checked from outside: the box's
spectrum against numpy's FFT of the crop times the sin^2 window, the picture against numpy's
display mapping, the spots of each grain of a two-grain image against the spacing it was made
with, and the crop against numpy's slice of the samples as tifffile and Pillow read them."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import tifffile
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_voralin00_cli import linear_map  # noqa: E402  numpy's display mapping

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
CLI = os.path.join(BIN, "voralin00-cli")


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=300)


def window(side):
    w = np.sin(np.pi * (np.arange(side) + 0.5) / side) ** 2
    return np.outer(w, w)


def box_spectrum(levels, x, y, side):
    crop = levels[y:y + side, x:x + side].astype(np.float64)
    return np.fft.fftshift(np.fft.fft2(crop * window(side)))


def fringes(h, w, spacing, angle, x, y):
    t = np.radians(angle)
    return np.cos(2 * np.pi * (np.cos(t) * x - np.sin(t) * y) / spacing)


def two_grains(h=512, w=1024, seed=5):
    """Left grain: fringes of 8 px at 30 and 100 degrees; right grain: 12 px at 0 and 60."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w].astype(float)
    left = fringes(h, w, 8.0, 30, x, y) + 0.8 * fringes(h, w, 8.0, 100, x, y)
    right = fringes(h, w, 12.0, 0, x, y) + 0.8 * fringes(h, w, 12.0, 60, x, y)
    img = np.where(x < w / 2, left, right) + 0.3 * rng.standard_normal((h, w))
    img = (img - img.min()) / (img.max() - img.min()) * 200 + 20
    return np.rint(img).astype(np.uint8)


class LiveBox(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="live-box-")
        cls.grains = two_grains()
        cls.bmp = cls.path("grains.bmp")
        Image.fromarray(cls.grains, mode="L").save(cls.bmp)
        rng = np.random.default_rng(2)
        cls.u16 = (cls.grains.astype(np.uint16) * 150 + rng.integers(0, 90, cls.grains.shape)).astype(np.uint16)
        cls.tif16 = cls.path("grains16.tif")
        tifffile.imwrite(cls.tif16, cls.u16, imagej=True, resolution=(1 / 0.02, 1 / 0.02),
                         metadata={"unit": "nm"})

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp, name)

    def ok(self, *args):
        result = run(*args)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def test_spectrum_values_and_picture(self):
        out, npy = self.path("s.bmp"), self.path("s.npy")
        self.ok("spectrum", self.bmp, out, "--box", "300", "100", "256", "--npy", npy)
        expected = box_spectrum(self.grains, 300, 100, 256)
        got = np.load(npy)
        self.assertEqual((got.dtype, got.shape), (np.complex128, (256, 256)))
        self.assertLess(np.abs(got - expected).max(), 1e-9 * np.abs(expected).max())
        shown = np.asarray(Image.open(out), dtype=np.int64)
        self.assertEqual(shown.shape, (256, 256))
        mapped = linear_map(np.abs(expected))
        self.assertLessEqual(np.abs(shown - mapped).max(), 1)
        self.assertLess(np.count_nonzero(shown != mapped), 10)

    def test_spectrum_of_a_sixteen_bit_source_uses_its_levels(self):
        npy = self.path("s16.npy")
        self.ok("spectrum", self.tif16, self.path("s16.bmp"), "--box", "0", "0", "512", "--npy", npy)
        a = self.u16.astype(np.float64)
        levels = (a - a.min()) * 255.0 / (a.max() - a.min())
        expected = box_spectrum(levels, 0, 0, 512)
        self.assertLess(np.abs(np.load(npy) - expected).max(), 1e-9 * np.abs(expected).max())

    def spacing_of_first_pair(self, source, x, y, side, *extra):
        csv = self.path("spots.csv")
        self.ok("spots", source, "--box", str(x), str(y), str(side), "--csv", csv, *extra)
        table = np.genfromtxt(csv, delimiter=",", names=True)
        # d_px, or d_nm when calibrated
        column = [name for name in table.dtype.names if name.startswith("d_")][0]
        return table, float(np.atleast_1d(table[column])[0])

    def test_spots_follow_the_grain_under_the_box(self):
        for x, spacing in ((100, 8.0), (700, 12.0)):
            table, d = self.spacing_of_first_pair(self.bmp, x, 128, 256)
            self.assertLess(abs(d - spacing) / spacing, 0.005, (x, d))
        # Calibrated: d in nm from the TIFF's own pixel size (0.02 nm).
        _, d = self.spacing_of_first_pair(self.tif16, 700, 128, 256)
        self.assertLess(abs(d - 12 * 0.02) / 0.24, 0.005, d)

    def test_region_is_the_slice_of_the_samples(self):
        out = self.path("r.bmp")
        self.ok("region", self.bmp, out, "--box", "64", "32", "128")
        np.testing.assert_array_equal(np.asarray(Image.open(out).convert("L")),
                                      self.grains[32:160, 64:192])
        tif = self.path("r16.tif")
        self.ok("region", self.tif16, tif, "--box", "500", "200", "256")
        with tifffile.TiffFile(tif) as f:
            crop = f.asarray()
            x_res = f.pages[0].tags["XResolution"].value
            self.assertEqual(f.imagej_metadata.get("unit"), "nm")
        self.assertEqual(crop.dtype, np.uint16)
        np.testing.assert_array_equal(crop, self.u16[200:456, 500:756])
        self.assertAlmostEqual(x_res[1] / x_res[0], 0.02, places=9)
        f32 = self.path("f32.tif")
        values = (self.grains.astype(np.float32) - 100) / 7
        tifffile.imwrite(f32, values)
        self.ok("region", f32, self.path("rf.tif"), "--box", "0", "0", "64")
        np.testing.assert_array_equal(tifffile.imread(self.path("rf.tif")), values[:64, :64])

    def test_refusals_write_nothing(self):
        out = self.path("never.bmp")
        cases = [
            (("spectrum", self.bmp, out, "--box", "0", "0", "100"), 2, "64, 128, 256, 512 or 1024"),
            (("spectrum", self.bmp, out, "--box", "900", "0", "256"), 1, "leaves the image"),
            (("spectrum", self.bmp, out, "--box", "0", "0", "1024"), 1, "larger than the image"),
            (("spectrum", self.bmp, out, "--npy", self.path("n.npy")), 2, "--npy with spectrum"),
            (("region", self.bmp, out), 2, "region needs --box"),
            (("region", self.bmp, self.path("never.tif"), "--box", "0", "0", "64"), 1, ".bmp"),
            (("region", self.tif16, out, "--box", "0", "0", "64"), 1, ".tif"),
            (("spots", self.bmp, "--box", "1", "2"), 2, "--box needs X Y SIZE"),
        ]
        for args, code, text in cases:
            result = run(*args)
            self.assertEqual(result.returncode, code, (args, result.stderr))
            self.assertIn(text, result.stderr, args)
        self.assertFalse(os.path.exists(out))
        self.assertFalse(os.path.exists(self.path("never.tif")))
        self.assertFalse(os.path.exists(self.path("n.npy")))


if __name__ == "__main__":
    unittest.main()
