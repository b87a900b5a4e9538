#!/usr/bin/python3
"""--bin N: the image chosen, then N x N pixels summed (checked against numpy's reshape-sum
through the filter's float output with no filter), the pixel size multiplied, the last partial
row and column dropped, 8-bit sums kept as a 16-bit source, and the 64-pixel minimum checked on
the binned size."""
import os
import subprocess
import tempfile
import unittest

import numpy as np
import tifffile
from PIL import Image

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
CLI = os.path.join(BIN, "voralin00-cli")


def run(*args):
    p = subprocess.run([CLI, *args], capture_output=True, text=True)
    return p.returncode, p.stdout, p.stderr


def reshape_sum(a, n):
    h, w = a.shape[0] // n, a.shape[1] // n
    return a[:h * n, :w * n].astype(float).reshape(h, n, w, n).sum(axis=(1, 3))


class Binning(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        rng = np.random.default_rng(4)
        cls.u16 = rng.integers(0, 4000, (270, 301)).astype(np.uint16)
        cls.tif = cls.path("scan.tif")
        tifffile.imwrite(cls.tif, cls.u16, imagej=True, resolution=(1 / 0.05, 1 / 0.05),
                         metadata={"unit": "nm"})
        cls.u8 = rng.integers(0, 256, (270, 301)).astype(np.uint8)
        cls.bmp = cls.path("lattice.bmp")
        Image.fromarray(cls.u8, "L").save(cls.bmp)
        # three images of a stack, told apart by their level
        cls.stack = cls.path("stack.tif")
        tifffile.imwrite(cls.stack, np.stack([cls.u16 + 1000 * k for k in range(3)]),
                         photometric="minisblack")
        cls.small = cls.path("small.tif")
        tifffile.imwrite(cls.small, cls.u16[:203])

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp.name, name)

    def binned(self, source, n, *extra):
        out = self.path(f"binned{n}.tif")
        status, _, err = run("filter", source, out, "--filter", "none", "--bin", str(n), "--quiet",
                             *extra)
        self.assertEqual(status, 0, err)
        return tifffile.imread(out)

    def test_sums_match_numpy_reshape_sum(self):
        for source, pixels in ((self.tif, self.u16), (self.bmp, self.u8)):
            for n in (1, 2, 4):
                want = reshape_sum(pixels, n)
                got = self.binned(source, n)
                self.assertEqual(got.shape, want.shape, (source, n))
                np.testing.assert_allclose(got, want, rtol=0, atol=1e-3 * want.max())

    def test_eight_bit_sums_keep_their_precision(self):
        status, out, err = run("info", self.bmp, "--bin", "4")
        self.assertEqual(status, 0, err)
        self.assertIn("16-bit unsigned integer, 75 x 67 pixels", out)
        self.assertIn("the last partial row or column dropped", out)
        # sums far above 255 come back whole, not clipped to 8 bits
        self.assertGreater(self.binned(self.bmp, 4).max(), 1000)

    def test_pixel_size_grows_by_the_factor(self):
        status, out, err = run("info", self.tif, "--bin", "2")
        self.assertEqual(status, 0, err)
        self.assertIn("150 x 135 pixels", out)
        self.assertIn("pixel size 0.1 nm", out)

    def test_the_image_of_a_stack_is_chosen_first(self):
        got = self.binned(self.stack, 2, "--image", "3")
        np.testing.assert_allclose(got, reshape_sum(self.u16 + 2000, 2), rtol=0, atol=1.0)

    def test_the_minimum_size_is_checked_after_binning(self):
        for source in (self.small, self.bmp):
            status, _, err = run("spectrum", source, self.path("s.bmp"), "--bin", "4")
            if source == self.small:  # 75 x 50: too small
                self.assertEqual(status, 1)
                self.assertIn("Too small image (less than 64W or 64H)!", err)
            else:
                self.assertEqual(status, 0, err)
        status, _, err = run("spectrum", self.bmp, self.path("s.bmp"), "--bin", "3")
        self.assertNotEqual(status, 0)
        self.assertIn("--bin", err)


if __name__ == "__main__":
    unittest.main()
