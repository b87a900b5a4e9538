#!/usr/bin/python3
"""Frames above the full-frame limit, tried on small images by lowering the limit
(--full-frame-limit): which frame and storage the tool takes, the filtered image in single and
double precision against numpy's own transform, and the refusal when the memory is short
(under `ulimit -v`)."""
import os
import subprocess
import tempfile
import unittest

import numpy as np
from PIL import Image

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
CLI = os.path.join(BIN, "voralin00-cli")


def run(*args, limit_kib=None):
    cmd = [CLI, *args]
    if limit_kib is not None:
        cmd = ["bash", "-c", f'ulimit -v {limit_kib} && exec "$@"', "bash", *cmd]
    p = subprocess.run(cmd, capture_output=True, text=True)
    return p.returncode, p.stdout, p.stderr


def reference_low_pass(img, n, zero_padded, wa):
    """The low-pass filtered levels over the image window, from numpy's FFT."""
    h, w = img.shape
    ox, oy = (n - w) // 2, (n - h) // 2
    pad = ((oy, n - h - oy), (ox, n - w - ox))
    frame = (np.pad(img.astype(float), pad) if zero_padded
             else np.pad(img.astype(float), pad, mode="symmetric"))
    spectrum = np.fft.fftshift(np.fft.fft2(frame))
    r, c = np.mgrid[0:n, 0:n] - n / 2
    keep = np.sqrt(r * r + c * c) <= wa * np.hypot(w, h) / 2
    filtered = np.fft.ifft2(np.fft.ifftshift(spectrum * keep)).real
    return filtered[oy:oy + h, ox:ox + w]


class BigFrames(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        rng = np.random.default_rng(7)
        y, x = np.mgrid[0:150, 0:200]
        a = 120 + 60 * np.cos(2 * np.pi * x / 7.3) * np.cos(2 * np.pi * y / 5.1)
        cls.img = np.clip(a + rng.normal(0, 15, a.shape), 0, 255).astype(np.uint8)
        cls.bmp = cls.path("lattice.bmp")
        Image.fromarray(cls.img, "L").save(cls.bmp)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp.name, name)

    def filtered(self, limit, precision):
        out = self.path(f"f{limit}{precision}.npy")
        status, _, err = run("filter", self.bmp, self.path("f.bmp"), "--filter", "low", "--wa",
                             "0.5", "--npy", out, "--full-frame-limit", str(limit),
                             "--precision", precision)
        self.assertEqual(status, 0, err)
        return np.load(out), err

    def test_frame_kind_and_storage_follow_the_limit(self):
        # 200 x 150 takes a 512 frame: whole below the limit, the half mirror frame one doubling
        # above it, and two doublings above, the windowed frame of the smallest power of two
        # around the image (256), zero-padded for the filters.
        cases = [("8192", None), ("512", None), ("256", "Frame 512 x 512 (mirror frame)"),
                 ("128", "Frame 256 x 256: the spectrum shown is of the windowed frame")]
        for limit, note in cases:
            status, _, err = run("spectrum", self.bmp, self.path("s.bmp"), "--full-frame-limit",
                                 limit)
            self.assertEqual(status, 0, err)
            if note is None:
                self.assertNotIn("Frame", err, limit)
            else:
                self.assertIn(note, err, limit)
                self.assertIn("double precision", err)
        # Above two doublings of the limit even the windowed frame is too large: refused as
        # before, while the image a little smaller still goes.
        wide = self.path("wide.bmp")
        Image.fromarray(np.resize(self.img, (150, 257)), "L").save(wide)
        status, _, err = run("spectrum", self.bmp, self.path("s.bmp"), "--full-frame-limit", "64")
        self.assertEqual(status, 0, err)
        self.assertIn("Frame 256 x 256", err)
        status, _, err = run("spectrum", wide, self.path("s.bmp"), "--full-frame-limit", "64")
        self.assertEqual(status, 1)
        self.assertIn("because of the image size being too large", err)

    def test_single_and_double_storage_match_numpy(self):
        for limit, n, zero_padded in ((256, 512, False), (128, 256, True)):
            reference = reference_low_pass(self.img, n, zero_padded, 0.5)
            scale = np.abs(reference).max()
            double, err = self.filtered(limit, "double")
            self.assertIn("double precision", err)
            single, err = self.filtered(limit, "single")
            self.assertIn("single precision", err)
            self.assertLess(np.abs(double - reference).max(), 1e-9 * scale, limit)
            self.assertLess(np.abs(single - reference).max(), 1e-5 * scale, limit)
            # single storage is its own computation, not the double one handed through
            self.assertGreater(np.abs(single - double).max(), 0.0)

    def test_half_mirror_frame_filters_as_the_whole_frame(self):
        whole, _ = self.filtered(8192, "double")
        half, _ = self.filtered(256, "double")
        np.testing.assert_allclose(half, whole, rtol=0, atol=1e-9 * np.abs(whole).max())
        # every kind of filter weighs the stored half as the whole frame's elements (the Wiener
        # filter keeps the half's weights in single precision until all are known)
        kinds = [["--wiener", "--smoothing", "2"], ["--absf"],
                 ["--filter", "band-pass", "--wa", "0.1", "--wb", "0.3", "--edge-sigma", "1.5"],
                 ["--circles-outside", "120,90,6;60,40,4", "--symmetric"],
                 ["--lattice-mask", "keep", "--radius", "3", "--basis", "36,-50;-35,-51"]]
        for kind in kinds:
            got = {}
            for limit in ("8192", "256"):
                out = self.path(f"k{limit}.npy")
                status, _, err = run("filter", self.bmp, self.path("k.bmp"), *kind, "--npy", out,
                                     "--full-frame-limit", limit)
                self.assertEqual(status, 0, (kind, err))
                got[limit] = np.load(out)
            tolerance = 1e-7 if kind[0] == "--wiener" else 1e-9
            np.testing.assert_allclose(got["256"], got["8192"], rtol=0,
                                       atol=tolerance * np.abs(got["8192"]).max(), err_msg=str(kind))

    def test_circles_without_mates_are_refused_above_the_limit(self):
        args = ["filter", self.bmp, self.path("c.bmp"), "--circles-outside", "120,90,6"]
        status, _, err = run(*args, "--full-frame-limit", "256")
        self.assertEqual(status, 1)
        self.assertIn("need the whole complex spectrum", err)
        status, _, err = run(*args, "--symmetric", "--full-frame-limit", "256")
        self.assertEqual(status, 0, err)

    def test_short_memory_is_refused_with_the_need_not_a_crash(self):
        rng = np.random.default_rng(3)
        big = self.path("big.bmp")
        Image.fromarray(rng.integers(0, 255, (4000, 5000)).astype(np.uint8), "L").save(big)
        args = ["filter", big, self.path("b.bmp"), "--filter", "low", "--full-frame-limit", "4096"]
        # An 8192 frame: about 420 MiB in single precision, 690 MiB in double.
        status, _, err = run(*args, limit_kib=300000)
        self.assertEqual(status, 1, err)
        self.assertIn("Not enough memory to transform this image: its 8192 x 8192 frame needs", err)
        self.assertIn("--bin 2", err)
        self.assertNotIn("bad_alloc", err)
        status, _, err = run(*args, limit_kib=550000)
        self.assertEqual(status, 0, err)
        self.assertIn("half spectrum in single precision", err)
        status, _, err = run(*args, "--precision", "double", limit_kib=550000)
        self.assertEqual(status, 1, err)
        self.assertIn("Not enough memory", err)


if __name__ == "__main__":
    unittest.main()
