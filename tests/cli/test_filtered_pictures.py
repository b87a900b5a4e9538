#!/usr/bin/python3
"""The filtered picture and the float TIFF of voralin00-cli's filter command checked against
numpy: the mirror frame built by numpy, weighted by each filter's formula, transformed back by
numpy's FFT; the 8-bit pictures read by Pillow, the float TIFFs by tifffile."""
import os
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import tifffile
from PIL import Image
from scipy.special import erfc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_voralin00_cli import frame_of  # noqa: E402  numpy's own mirror frame

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
CLI = os.path.join(BIN, "voralin00-cli")


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=600)


def soft_disc(dist, radius, sigma):
    if sigma == 0:
        return (dist < radius).astype(float)
    return 0.5 * erfc((dist - radius) / (np.sqrt(2) * sigma))


def inverse_window(spectrum, weights, n, ox, oy, w, h):
    """The inverse of spectrum x weights over the image: its real part with the (-1)^(row +
    column) modulation of the frame removed, and its magnitude."""
    back = np.fft.ifft2(spectrum * weights)[oy:oy + h, ox:ox + w]
    rows, cols = np.mgrid[oy:oy + h, ox:ox + w]
    sign = np.where((rows + cols) % 2 == 0, 1.0, -1.0)
    return back.real * sign, np.abs(back)


def stretched(values, lo, hi):
    """The values' range stretched onto lo..hi, truncated, as the picture's grey levels."""
    vmin, vmax = values.min(), values.max()
    return np.clip(np.floor(lo + (values - vmin) * (hi - lo) / (vmax - vmin) + 1e-6), 0, 255)


def lattice(w=512, h=480, seed=2):
    """Two fringe sets and their sum on a grey background with a little noise; stays positive."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w].astype(float)
    img = 128 + 40 * np.cos(2 * np.pi * 33 * x / w + 0.3)
    img += 35 * np.cos(2 * np.pi * (18 * x / w + 47 * y / h) + 1.1)
    img += 15 * np.cos(2 * np.pi * (51 * x / w + 47 * y / h) + 2.0)
    img += 6 * rng.standard_normal((h, w))
    return np.clip(np.rint(img), 0, 255).astype(np.uint8)


class FilteredPictures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.pixels = lattice()
        cls.src = cls.path("lattice.bmp")
        Image.fromarray(cls.pixels).save(cls.src)
        cls.frame, cls.n, cls.ox, cls.oy = frame_of(cls.pixels)
        cls.spectrum = np.fft.fft2(cls.frame)
        n = cls.n
        cls.rows, cls.cols = np.mgrid[0:n, 0:n]
        cls.dist = np.hypot(cls.rows - n / 2.0, cls.cols - n / 2.0)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp.name, name)

    def picture(self, src, *options):
        out = self.path("out.bmp")
        r = run("filter", src, out, *options)
        self.assertEqual(r.returncode, 0, r.stderr)
        return np.asarray(Image.open(out).convert("L"), dtype=float)

    def noise_weights(self, wiener, c=1.0, smoothing=1):
        """Wiener S / (S + cN) with S from the power averaged over a (2h+1)^2 box wrapping around
        the frame, or average background subtraction (P - cN) / P; N the radial mean of the
        power in bins floor(d + 0.5); weight 1 at the zero frequency (the mean is signal)."""
        n = self.n
        power = np.abs(self.spectrum) ** 2
        bins = np.floor(self.dist + 0.5).astype(int)
        mean = np.bincount(bins.ravel(), power.ravel()) / np.bincount(bins.ravel())
        noise = c * mean[bins]
        if wiener:
            k = 2 * smoothing + 1
            total = sum(np.roll(power, (dy, dx), axis=(0, 1))
                        for dy in range(-smoothing, smoothing + 1)
                        for dx in range(-smoothing, smoothing + 1))
            signal = np.maximum(total / k ** 2 - noise, 0)
            denom = signal + noise
            weights = np.where(denom > 0, signal / np.where(denom > 0, denom, 1), 0)
        else:
            weights = np.where(power > noise, (power - noise) / np.where(power > 0, power, 1), 0)
        weights[n // 2, n // 2] = 1
        return weights

    def test_pictures_of_filters_that_remove_the_mean_keep_the_sign(self):
        """High-pass, band-pass, Wiener, ABSF, the lattice mask and a circle on the zero
        frequency leave an image with negative values: the picture is that image stretched,
        not its magnitude, which would show the fringes' sums and differences."""
        h, w = self.pixels.shape
        n, ox, oy, dist = self.n, self.ox, self.oy, self.dist
        R = np.hypot(w, h) / 2
        # The lattice in frame samples, and every point of it that can touch the frame.
        g1 = np.array([33 * n / w, 0.0])
        g2 = np.array([18 * n / w, 47 * n / h])
        nearest = np.full((n, n), np.inf)
        for i in range(-20, 21):
            for j in range(-12, 13):
                p = i * g1 + j * g2
                nearest = np.minimum(nearest, np.hypot(self.cols - n / 2 - p[0],
                                                       self.rows - n / 2 - p[1]))
        cx, cy = n // 2 - ox, n // 2 - oy  # the zero frequency in picture pixels
        cases = {
            "high": (["--filter", "high", "--wa", "0.05"], (dist >= 0.05 * R).astype(float)),
            "band-pass": (["--filter", "band-pass", "--wa", "0.05", "--wb", "0.5"],
                          ((dist >= 0.05 * R) & (dist <= 0.5 * R)).astype(float)),
            "band-pass soft": (["--filter", "band-pass", "--wa", "0.05", "--wb", "0.5",
                                "--edge-sigma", "2"],
                               soft_disc(dist, 0.5 * R, 2) * (1 - soft_disc(dist, 0.05 * R, 2))),
            "wiener": (["--wiener"], self.noise_weights(True)),
            "absf": (["--absf"], self.noise_weights(False)),
            "lattice remove": (["--lattice-mask", "remove", "--radius", "4", "--basis",
                                f"{g1[0]},{g1[1]};{g2[0]},{g2[1]}"],
                               1 - soft_disc(nearest, 4, 0)),
            "circle inside on the origin": (["--circles-inside", f"{cx},{cy},6"],
                                            1 - soft_disc(dist, 6, 0)),
        }
        lo, hi = self.pixels.min(), self.pixels.max()
        for name, (options, weights) in cases.items():
            with self.subTest(name):
                got = self.picture(self.src, *options)
                signed, magnitude = inverse_window(self.spectrum, weights, n, ox, oy, w, h)
                if name not in ("wiener", "absf"):
                    self.assertLess(signed.min(), -10, "the case must go negative")
                corr = np.corrcoef(got.ravel(), signed.ravel())[0, 1]
                self.assertGreaterEqual(corr, 0.99, name)
                self.assertLessEqual(np.abs(got - stretched(signed, lo, hi)).max(), 1, name)
                if name not in ("wiener", "absf"):
                    # The magnitude's picture is another image altogether.
                    self.assertLess(np.corrcoef(magnitude.ravel(), signed.ravel())[0, 1], 0.5)

    def test_positive_results_keep_their_bytes_and_ringing_below_zero_keeps_its_sign(self):
        h, w = self.pixels.shape
        n, ox, oy = self.n, self.ox, self.oy
        R = np.hypot(w, h) / 2
        lo, hi = self.pixels.min(), self.pixels.max()
        # No filter and a low-pass of a positive image: the stretch of the magnitude, byte for
        # byte, as it always was.
        for options, weights in ((["--filter", "none"], np.ones((n, n))),
                                 (["--filter", "low", "--wa", "0.3"],
                                  (self.dist <= 0.3 * R).astype(float))):
            with self.subTest(options[1]):
                got = self.picture(self.src, *options)
                signed, magnitude = inverse_window(self.spectrum, weights, n, ox, oy, w, h)
                self.assertGreater(signed.min(), 0)
                np.testing.assert_array_equal(got, stretched(magnitude, lo, hi))
        # A hard low-pass of dark ground with bright squares rings below zero beside the edges.
        dark = np.full((200, 260), 3, np.uint8)
        dark[40:90, 50:120] = 250
        dark[120:170, 150:230] = 240
        src = self.path("dark.bmp")
        Image.fromarray(dark).save(src)
        frame, n, ox, oy = frame_of(dark)
        dist = np.hypot(*(np.mgrid[0:n, 0:n] - n / 2.0))
        R = np.hypot(260, 200) / 2
        signed, magnitude = inverse_window(np.fft.fft2(frame), (dist <= 0.1 * R).astype(float),
                                           n, ox, oy, 260, 200)
        self.assertLess(signed.min(), -5)
        got = self.picture(src, "--filter", "low", "--wa", "0.1")
        want = stretched(signed, 3, 250)
        self.assertLessEqual(np.abs(got - want).max(), 1)
        self.assertGreater(np.abs(stretched(magnitude, 3, 250) - want).max(), 5)

    def test_circles_show_the_sign_only_with_every_mate(self):
        """One spot kept with its mate is a signed fringe; kept alone, or with a hand-drawn
        near-mate one pixel off, the result is complex and the picture its magnitude."""
        h, w = self.pixels.shape
        n, ox, oy = self.n, self.ox, self.oy
        cx, cy = n // 2 - ox, n // 2 - oy
        spot = (cx + 66, cy, 6)
        lo, hi = self.pixels.min(), self.pixels.max()

        def weights(circles):
            inside = np.zeros((n, n))
            for x, y, r in circles:
                inside = np.maximum(inside, soft_disc(np.hypot(self.cols - x - ox,
                                                               self.rows - y - oy), r, 0))
            return inside

        mate = (2 * cx - spot[0], 2 * cy - spot[1], spot[2])
        near = (mate[0] + 1, mate[1], mate[2])
        for name, circles, signed_picture in (("pair", [spot, mate], True),
                                              ("alone", [spot], False),
                                              ("near pair", [spot, near], False)):
            with self.subTest(name):
                text = ";".join(f"{x},{y},{r}" for x, y, r in circles)
                got = self.picture(self.src, "--circles-outside", text)
                signed, magnitude = inverse_window(self.spectrum, weights(circles), n, ox, oy, w, h)
                want = stretched(signed if signed_picture else magnitude, lo, hi)
                self.assertLessEqual(np.abs(got - want).max(), 1, name)

    def test_float_tiff_is_the_filter_applied_to_the_source_samples(self):
        """A 16-bit lattice: the float TIFF is numpy's filtering of the samples themselves, in
        their units; the removed part's TIFF is the samples less it; --npy stays in levels."""
        rng = np.random.default_rng(11)
        h, w = 250, 300
        y, x = np.mgrid[0:h, 0:w].astype(float)
        img = 2000 + 500 * np.cos(2 * np.pi * (x / 7.3 + y / 23.0))
        img += 300 * np.cos(2 * np.pi * (x / 19.0 - y / 6.1)) + 200 * np.exp(-((x - 80) ** 2) / 3000)
        samples = np.clip(np.rint(img + 60 * rng.standard_normal((h, w))), 0, 65535)
        samples = samples.astype(np.uint16)
        src = self.path("lattice16.tif")
        tifffile.imwrite(src, samples)
        smin, smax = float(samples.min()), float(samples.max())
        frame, n, ox, oy = frame_of(samples.astype(np.float64))
        spectrum = np.fft.fft2(frame)
        dist = np.hypot(*(np.mgrid[0:n, 0:n] - n / 2.0))
        R = np.hypot(w, h) / 2
        for name, w0, weights in (("low", 1.0, (dist <= 0.2 * R).astype(float)),
                                  ("high", 0.0, (dist >= 0.2 * R).astype(float))):
            with self.subTest(name):
                out, diff, npy = self.path(f"{name}.tif"), self.path(f"{name}_d.tif"), self.path(
                    f"{name}.npy")
                r = run("filter", src, out, "--filter", name, "--wa", "0.2", "--difference", diff,
                        "--npy", npy)
                self.assertEqual(r.returncode, 0, r.stderr)
                want, _ = inverse_window(spectrum, weights, n, ox, oy, w, h)
                got = tifffile.imread(out)
                self.assertEqual(got.dtype, np.float32)
                scale = np.abs(want).max()
                self.assertLessEqual(np.abs(got - want).max(), 1e-4 * scale)
                removed = tifffile.imread(diff)
                self.assertLessEqual(np.abs(removed - (samples - want)).max(),
                                     1e-4 * np.abs(samples - want).max())
                # The array stays in levels: sample = minimum + level x (max - min) / 255.
                span = (smax - smin) / 255
                np.testing.assert_allclose(np.load(npy), (want - w0 * smin) / span,
                                           atol=1e-6 * 255)


if __name__ == "__main__":
    unittest.main(verbosity=2)
