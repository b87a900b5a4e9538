#!/usr/bin/python3
"""voralin00-cli checked from outside: inputs made by Pillow and ImageMagick, outputs read back
with Pillow and compared with an independent numpy computation of the same steps."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from PIL import Image

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
DATA = os.environ.get("SUITE_TEST_DATA", "tests/data")
CLI = os.path.join(BIN, "voralin00-cli")


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=300)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def grey(path):
    """Grey levels as shown: Pillow's palette lookup, not the raw indices."""
    return np.asarray(Image.open(path).convert("L"), dtype=np.int64)


def texture(width, height, seed=3):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    base = 110 + 60 * np.cos(2 * np.pi * (x / 7.3 + y / 11.1)) + rng.normal(0, 12, (height, width))
    return np.clip(base, 0, 255).astype(np.uint8)


def mirror_index(k, length):
    k = np.where(k < 0, -k - 1, k)
    q, m = np.divmod(k, length)
    return np.where(q % 2 == 0, m, length - 1 - m)


def frame_of(pixels, expanded=True):
    """The modulated, mirror-filled frame the transform starts from (numpy's own path)."""
    h, w = pixels.shape
    def floor_log2(v):
        return max(1, int(np.floor(np.log2(v))))
    bx, by = floor_log2(w), floor_log2(h)
    seamless = (np.all(np.abs(pixels[:, 1].astype(int) + pixels[:, -1] - 2 * pixels[:, 0].astype(int)) <= 3)
                and np.all(np.abs(pixels[1, :].astype(int) + pixels[-1, :] - 2 * pixels[0, :].astype(int)) <= 3))
    if expanded:
        unexpanded = w % 2 ** bx == 0 and h % 2 ** by == 0 and bx == by and seamless
        if not unexpanded:
            bx, by = bx + 1, by + 1
        e = max(bx, by)
        n = 2 ** e
        if not unexpanded and ((n - w) // 2 < 100 or (n - h) // 2 < 100):
            n *= 2
    else:
        n = 2
        while n < max(w, h):
            n *= 2
    ox, oy = (n - w) // 2, (n - h) // 2
    rows = mirror_index(np.arange(n) - oy, h)
    cols = mirror_index(np.arange(n) - ox, w)
    f = pixels[np.ix_(rows, cols)].astype(np.float64)
    sign = np.where((np.add.outer(np.arange(n), np.arange(n)) % 2) == 0, 1.0, -1.0)
    return f * sign, n, ox, oy


def linear_map(values, clip=10.0):
    vmin, vmax, vavg = values.min(), values.max(), values.mean()
    span, shift = vmax - vmin + 1, vavg - vmin + 1
    upper = min(span, shift * clip)
    s = np.clip(values - vmin + 1, 1, upper)
    return np.clip(np.trunc((s - 1) / (upper - 1) * 255), 0, 255)


class Voralin00Cli(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-cli-")
        cls.pixels = texture(150, 120)
        cls.source = os.path.join(cls.tmp, "texture.bmp")
        Image.fromarray(cls.pixels, mode="L").save(cls.source)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def assert_ok(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_help_and_usage_errors(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("voralin00-cli filter IN.bmp OUT.bmp", result.stdout)
        self.assertEqual(run().returncode, 2)
        self.assertEqual(run("transmogrify", "a", "b").returncode, 2)
        self.assertEqual(run("spectrum", self.source, self.path("x.bmp"), "--clip", "0").returncode, 2)
        self.assertEqual(run("adjust", self.source, self.path("x.bmp"), "--contrast", "11").returncode, 2)
        self.assertEqual(run("spectrum", self.source, self.path("x.bmp"), "--angle", "3").returncode, 2)
        # "nan" parses as a number but lies in no range.
        for option in (("spectrum", "--clip"), ("spectrum", "--lower-clip"), ("filter", "--wa"),
                       ("filter", "--wb")):
            result = run(option[0], self.source, self.path("x.bmp"), option[1], "nan")
            self.assertEqual(result.returncode, 2, option)
        self.assertFalse(os.path.exists(self.path("x.bmp")))

    def test_normalise_writes_the_program_layout_and_the_grey_levels(self):
        # A palette listed in reverse (entry i = 255 - i), written by Pillow.
        reversed_source = self.path("reversed.bmp")
        im = Image.fromarray((255 - self.pixels).astype(np.uint8), mode="P")
        im.putpalette([v for i in range(256) for v in (255 - i,) * 3])
        im.save(reversed_source)
        for source in (self.source, reversed_source):
            out = self.path("normalised.bmp")
            self.assert_ok(run("normalise", source, out))
            data = read_bytes(out)
            bf_type, bf_size, _, _, off_bits = struct.unpack_from("<2sIHHI", data)
            self.assertEqual((bf_type, off_bits, bf_size), (b"BM", 1078, len(data)))
            self.assertEqual(len(data), 152 * 120 + 1078)  # rows of 152 bytes
            self.assertEqual(struct.unpack_from("<IiiHHI", data, 14), (40, 150, 120, 1, 8, 0))
            raw = np.asarray(Image.open(out))  # indices equal grey levels: identity ramp
            np.testing.assert_array_equal(raw, self.pixels)

    def test_imagemagick_rle8_opens_to_the_same_pixels(self):
        if shutil.which("convert") is None:
            self.skipTest("ImageMagick is not installed")
        rle = self.path("rle.bmp")
        subprocess.run(["convert", self.source, "-type", "Palette", "-compress", "RLE", "BMP3:" + rle],
                       check=True, timeout=60)
        self.assertEqual(read_bytes(rle)[30], 1, "ImageMagick wrote no RLE8")
        out = self.path("rle-normalised.bmp")
        self.assert_ok(run("normalise", rle, out))
        np.testing.assert_array_equal(grey(out), grey(rle))

    def test_spectrum_matches_numpy(self):
        out = self.path("spectrum.bmp")
        self.assert_ok(run("spectrum", self.source, out))
        frame, n, ox, oy = frame_of(self.pixels)
        self.assertEqual(n, 512)
        spectrum = np.fft.fft2(frame)[oy:oy + 120, ox:ox + 150]
        expected = linear_map(np.abs(spectrum))
        shown = np.asarray(Image.open(out), dtype=np.int64)
        # Truncation may tip a value sitting on a level boundary by one.
        self.assertLessEqual(np.abs(shown - expected).max(), 1)
        self.assertLess(np.count_nonzero(shown != expected), 10)

    def test_spectrum_real_part_log_rainbow(self):
        out = self.path("spectrum-log.bmp")
        self.assert_ok(run("spectrum", self.source, out, "--quantity", "real", "--log", "--rainbow",
                           "--no-expand"))
        frame, n, ox, oy = frame_of(self.pixels, expanded=False)
        self.assertEqual((n, ox, oy), (256, 53, 68))
        values = np.fft.fft2(frame).real[oy:oy + 120, ox:ox + 150]
        s = values - values.min() + 1
        expected = np.clip(np.trunc(np.log(s) / np.log(values.max() - values.min() + 1) * 255), 0, 255)
        shown = np.asarray(Image.open(out), dtype=np.int64)
        self.assertLessEqual(np.abs(shown - expected).max(), 1)
        palette = Image.open(out).getpalette()
        self.assertEqual(palette[51 * 3:51 * 3 + 3], [0, 0, 255])
        self.assertEqual(palette[255 * 3:255 * 3 + 3], [255, 0, 0])

    def test_filter_none_gives_back_the_image(self):
        out = self.path("unfiltered.bmp")
        self.assert_ok(run("filter", self.source, out, "--filter", "none"))
        self.assertLessEqual(np.abs(grey(out) - self.pixels.astype(np.int64)).max(), 1)

    def test_low_pass_matches_numpy(self):
        out = self.path("low.bmp")
        self.assert_ok(run("filter", self.source, out, "--filter", "low", "--wa", "0.25", "--dark", "20",
                           "--bright", "200"))
        frame, n, ox, oy = frame_of(self.pixels)
        spectrum = np.fft.fft2(frame)
        r = np.hypot(*np.meshgrid(np.arange(n) - n / 2, np.arange(n) - n / 2, indexing="ij"))
        spectrum[r > 0.25 * np.hypot(150, 120) / 2] = 0
        m = np.abs(np.fft.ifft2(spectrum))[oy:oy + 120, ox:ox + 150]
        expected = np.clip(np.trunc((m - m.min()) * 180 / (m.max() - m.min()) + 20 + 1e-6), 0, 255)
        shown = grey(out)
        self.assertLessEqual(np.abs(shown - expected).max(), 1)
        self.assertEqual((shown.min(), shown.max()), (20, 200))

    def test_mask_circles_and_special_profile(self):
        # One circle of radius 3 on the centre keeps only the lowest frequencies: a smooth image.
        out = self.path("circle.bmp")
        self.assert_ok(run("filter", self.source, out, "--circles-outside", "75,60,3"))
        shown = grey(out)
        self.assertLess(np.abs(np.diff(shown, axis=1)).max(), 8)
        # A profile file that keeps everything reproduces the image.
        ini = self.path("all.ini")
        with open(ini, "w") as f:
            f.write("[Special Filter]\n" + "".join(f"{i}=255\n" for i in range(256)))
        out = self.path("special.bmp")
        self.assert_ok(run("filter", self.source, out, "--special", ini))
        self.assertLessEqual(np.abs(grey(out) - self.pixels.astype(np.int64)).max(), 1)

    def test_linewave_file_holds_the_spectrum_along_the_line(self):
        out = self.path("line.txt")
        self.assert_ok(run("linewave", self.source, out, "--angle", "90"))
        text = read_bytes(out).decode("ascii")
        lines = text.split("\r\n")
        self.assertEqual(lines[0:3], ["Line wave data", "Angle : 90.00 ", "FFT size : 150W x 120H"])
        rows = [line for line in lines[6:] if line]
        self.assertEqual(len(rows), 119)  # the sample below the picture is skipped
        frame, n, ox, oy = frame_of(self.pixels)
        spectrum = np.fft.fft2(frame)
        for row in rows[::17]:
            x, y, re, im, power = row.strip().split("\t")
            value = spectrum[oy + int(y), ox + int(x)]
            self.assertEqual(int(x), 75)
            self.assertAlmostEqual(float(re), value.real, delta=1e-6 * abs(value) + 1e-6)
            self.assertAlmostEqual(float(im), value.imag, delta=1e-6 * abs(value) + 1e-6)
            self.assertAlmostEqual(float(power), abs(value), delta=1e-6 * abs(value) + 1e-6)

    def test_adjust_applies_the_level_mapping(self):
        out = self.path("adjusted.bmp")
        self.assert_ok(run("adjust", self.source, out, "--contrast", "5", "--brightness", "-1"))
        p = self.pixels.astype(np.float64)
        expected = np.clip(np.trunc(np.clip((p - 50) * 127.5 / 77.5 - 10, 0, 255)), 0, 255)
        np.testing.assert_array_equal(grey(out), expected)

    def test_refusals_name_the_reason_and_write_nothing(self):
        rgb = self.path("colour.bmp")
        Image.fromarray(np.dstack([self.pixels] * 3), mode="RGB").save(rgb)
        small = self.path("small.bmp")
        Image.fromarray(self.pixels[:64, :63], mode="L").save(small)
        tinted = self.path("tinted.bmp")
        im = Image.fromarray(self.pixels, mode="P")
        im.putpalette([v for i in range(256) for v in (i, i, min(255, i + 1))])
        im.save(tinted)
        text = self.path("notes.txt")
        write_bytes(text, b"not a picture")
        cases = [
            (rgb, "Warning: Not a 256 color bitmap file."),
            (small, "Error: Too small bitmap (less than 64W or 64H)!"),
            (tinted, "Warning: Not a gray-scale bitmap file."),
            (text, "Error: Select a file with BMP extension."),
            (self.path("missing.bmp"), "Open Error: Unable to open the bitmap file."),
        ]
        for source, message in cases:
            out = self.path("refused.bmp")
            result = run("normalise", source, out)
            self.assertEqual(result.returncode, 1, source)
            self.assertIn(message, result.stderr)
            self.assertFalse(os.path.exists(out))
        result = run("normalise", self.source, self.path("no-such-folder/out.bmp"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("Save Error: Unable to open file.", result.stderr)
        result = run("spectrum", self.source, self.path("spectrum.png"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("Error: Assign a file with BMP extension.", result.stderr)
        # A profile that cannot be read, here a folder or a missing file, is reported, not a
        # crash.
        result = run("filter", self.source, self.path("refused.bmp"), "--special", self.tmp)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("is not a regular file", result.stderr)
        result = run("filter", self.source, self.path("refused.bmp"), "--special",
                     self.path("missing.ini"))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("cannot read the profile file", result.stderr)
        self.assertFalse(os.path.exists(self.path("refused.bmp")))

    def test_short_of_memory_the_tool_refuses_or_works_but_never_aborts(self):
        # Address-space limits around what the spectrum needs: some runs cannot have the frame or
        # a worker thread's stack. Each must still end with a result or a refusal.
        import resource
        codes = {}
        for megabytes in range(12, 68, 4):
            limit = megabytes << 20
            result = subprocess.run(
                [CLI, "spectrum", self.source, self.path("limited.bmp")], capture_output=True,
                text=True, timeout=60,
                preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
            # Below what its shared libraries (HDF5 brings many) take, the loader refuses to
            # start the tool at all: that is not the tool aborting.
            if result.returncode == 127 and "error while loading shared libraries" in result.stderr:
                continue
            codes[megabytes] = (result.returncode, result.stderr[-200:])
        if all(code != 0 for code, _ in codes.values()):
            self.skipTest("the tool needs more address space than tried (a sanitizer build)")
        for megabytes, (code, stderr) in codes.items():
            self.assertIn(code, (0, 1), f"{megabytes} MiB: {stderr}")

    def test_a_file_named_like_the_temporary_file_is_kept(self):
        keep = self.path("textureB_1.bmp")
        write_bytes(keep, b"the user's own file")
        self.assert_ok(run("normalise", self.source, self.path("n.bmp")))
        self.assertEqual(read_bytes(keep), b"the user's own file")
        leftovers = [f for f in os.listdir(self.tmp) if f.startswith("textureB_") and f != "textureB_1.bmp"]
        self.assertEqual(leftovers, [])


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
