#!/usr/bin/python3
"""voralin00-cli on stacks: multi-page TIFF written by tifffile, MRC stacks written by mrcfile,
DM3/DM4 movies written by our DM writer (dmfile.py, each read back by HyperSpy's reader first)
and a TIA series (serfile.py).
Image k opened with --image k+1 must be numpy's slice k: an 8-bit stack's picture is the slice
itself, a deeper one's range is the slice's and its picture that of the slice saved alone by
tifffile. --image beyond the count and a stack whose image runs past the end of the file are
refused with nothing written; --all-images writes one result per image."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import warnings

import mrcfile
import numpy as np
import tifffile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dmfile  # noqa: E402
import serfile  # noqa: E402
from test_voralin00_cli import CLI, read_bytes, run  # noqa: E402

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        import hyperspy.api as hs
except ImportError:
    hs = None

W, H, N = 72, 66, 5


def stack(dtype, seed=7):
    """N different pictures: a lattice drifting from one to the next, plus noise."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:H, 0:W]
    top = 250 if np.dtype(dtype).itemsize == 1 else 60000
    frames = []
    for k in range(N):
        wave = np.cos(2 * np.pi * ((x + 3 * k) / 7.3 + (y - k) / 5.1))
        base = top * (0.45 + 0.3 * wave + 0.02 * k) + rng.normal(0, top * 0.03, (H, W))
        frames.append(np.clip(base, 0, top))
    return np.stack(frames).astype(dtype)


def bmp_pixels(path):
    data = read_bytes(path)
    width, height = struct.unpack_from("<ii", data, 18)
    offset = struct.unpack_from("<I", data, 10)[0]
    padded = (width + 3) // 4 * 4
    rows = np.frombuffer(data[offset:offset + padded * height], np.uint8).reshape(height, padded)
    return rows[::-1, :width]


class Stacks(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-stacks-")
        cls.u8 = stack(np.uint8)
        cls.u16 = stack(np.uint16, seed=8)
        cls.stacks = {}  # name -> the data written
        tifffile.imwrite(cls.path("u8.tif"), cls.u8)
        tifffile.imwrite(cls.path("u16.tif"), cls.u16)
        cls.stacks.update({"u8.tif": cls.u8, "u16.tif": cls.u16})
        with mrcfile.new(cls.path("u8.mrc")) as m:
            m.set_data(cls.u8.astype(np.int16))
        with mrcfile.new(cls.path("u16.mrcs")) as m:
            m.set_data(cls.u16)
            m.set_image_stack()
        cls.stacks.update({"u8.mrc": cls.u8.astype(np.int16), "u16.mrcs": cls.u16})
        for version in (3, 4):
            for name, data in (("u8", cls.u8), ("u16", cls.u16)):
                file = f"{name}.dm{version}"
                dmfile.write_dm(cls.path(file), data, version=version, scale=0.25, units="nm")
                cls.stacks[file] = data
        serfile.write_series(cls.path("u16_1.ser"), list(cls.u16), 2e-10)
        cls.stacks["u16_1.ser"] = cls.u16
        # Each picture of the 16-bit stack alone, as tifffile writes it: the reference rendering.
        # MRC rows are stored bottom first: mrcfile's row 0 is the picture's bottom row.
        for k in range(N):
            tifffile.imwrite(cls.path(f"alone_{k}.tif"), cls.u16[k])
            tifffile.imwrite(cls.path(f"flipped_{k}.tif"), cls.u16[k][::-1])

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp, name)

    def normalise(self, name, *options):
        out = self.path(f"{name}{'_'.join(options)}.bmp")
        result = run("normalise", self.path(name), out, *options)
        self.assertEqual(result.returncode, 0, result.stderr)
        return out

    def test_hyperspy_reads_our_dm_movies_as_written(self):
        if hs is None:
            self.skipTest("python3-hyperspy is not installed")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            for version in (3, 4):
                s = hs.load(self.path(f"u16.dm{version}"))
                np.testing.assert_array_equal(s.data, self.u16)
                self.assertEqual(s.axes_manager.navigation_shape, (N,))
                self.assertAlmostEqual(s.axes_manager.signal_axes[0].scale, 0.25)
                self.assertEqual(s.axes_manager.signal_axes[0].units, "nm")

    def test_every_image_of_every_stack_is_numpys_slice(self):
        for name, data in self.stacks.items():
            mrc = name.endswith((".mrc", ".mrcs"))
            for k in range(N):
                with self.subTest(name, image=k + 1):
                    options = () if k == 0 else ("--image", str(k + 1))
                    info = run("info", self.path(name), *options)
                    self.assertEqual(info.returncode, 0, info.stderr)
                    where = f"first of {N} images" if k == 0 else f"image {k + 1} of {N}"
                    self.assertIn(f"samples {float(data[k].min()):.9g} to "
                                  f"{float(data[k].max()):.9g}", info.stdout)
                    self.assertIn(where, info.stdout)
                    out = self.normalise(name, *options)
                    if data.dtype == np.uint8:
                        np.testing.assert_array_equal(bmp_pixels(out), data[k])
                    elif data.dtype == np.uint16:
                        reference = self.normalise(f"{'flipped' if mrc else 'alone'}_{k}.tif")
                        self.assertEqual(read_bytes(out), read_bytes(reference))
        # The DM movie keeps its calibration on every image.
        info = run("info", self.path("u16.dm4"), "--image", "3")
        self.assertIn("pixel size 0.25 nm (0.25 nm) from the DM calibration", info.stdout)

    def test_an_image_beyond_the_count_is_refused_in_both_languages(self):
        for name, count in (("u16.dm4", N), ("u8.tif", N), ("u16.mrcs", N), ("alone_0.tif", 1)):
            for language, message in (("C", f"The file holds {count} images: there is no image "
                                            f"{N + 1}."),
                                      ("ja_JP.UTF-8", f"このファイルの画像は {count} 枚です。"
                                                      f"{N + 1} 枚目はありません。")):
                with self.subTest(name, language=language):
                    out = self.path("beyond.bmp")
                    result = subprocess.run(
                        [CLI, "spectrum", self.path(name), out, "--image", str(N + 1)],
                        capture_output=True, text=True, timeout=120,
                        env={**os.environ, "LC_ALL": language})
                    self.assertEqual(result.returncode, 1, result.stdout)
                    self.assertIn(message, result.stderr)
                    self.assertFalse(os.path.exists(out))
        # A bitmap holds one image too.
        bmp = self.normalise("u8.tif")
        result = run("info", bmp, "--image", "2")
        self.assertEqual(result.returncode, 1)
        self.assertIn("The file holds 1 images: there is no image 2.", result.stderr)
        self.assertEqual(run("info", bmp, "--image", "0").returncode, 2)

    def test_all_images_writes_one_result_per_image(self):
        out_dir = self.path("all")
        shutil.copy(self.path("u8.dm4"), self.path("movie.dm4"))
        result = run("normalise", "--out-dir", out_dir, "--all-images", self.path("movie.dm4"),
                     self.path("u8.tif"), self.path("alone_1.tif"), "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"{2 * N + 1} of {2 * N + 1} files written", result.stdout)
        expected = ([f"movie_{k:04d}.bmp" for k in range(1, N + 1)] +
                    [f"u8_{k:04d}.bmp" for k in range(1, N + 1)] + ["alone_1_0001.bmp"])
        self.assertEqual(sorted(os.listdir(out_dir)), sorted(expected))
        for k in range(N):
            for stem in ("movie", "u8"):
                np.testing.assert_array_equal(
                    bmp_pixels(os.path.join(out_dir, f"{stem}_{k + 1:04d}.bmp")), self.u8[k])
        # Side outputs are led by the numbered name.
        side = self.path("side")
        result = run("filter", "--out-dir", side, "--all-images", self.path("u8.tif"),
                     "--npy", "f.npy", "--quiet")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(sorted(os.listdir(side)),
                         sorted([f"u8_{k:04d}.bmp" for k in range(1, N + 1)] +
                                [f"u8_{k:04d}-f.npy" for k in range(1, N + 1)]))
        # Two stacks of one name would write the same files: refused before anything is read.
        clash = self.path("clash")
        result = run("normalise", "--out-dir", clash, "--all-images", self.path("u8.dm4"),
                     self.path("u8.tif"))
        self.assertEqual(result.returncode, 2, result.stdout)
        self.assertFalse(os.path.exists(clash))

    def test_all_images_needs_out_dir_and_excludes_image(self):
        out = self.path("x.bmp")
        self.assertEqual(run("normalise", self.path("u8.tif"), out, "--all-images").returncode, 2)
        result = run("normalise", "--out-dir", self.path("both"), "--all-images", "--image", "2",
                     self.path("u8.tif"))
        self.assertEqual(result.returncode, 2)
        self.assertFalse(os.path.exists(out) or os.path.exists(self.path("both")))

    def refused(self, name, data, options, message):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        out = self.path(name + ".bmp")
        result = run("normalise", path, out, *options)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_a_stack_whose_image_runs_past_the_end_is_refused(self):
        # TIFF: the fourth page's strip points past the end of the file.
        tif = bytearray(read_bytes(self.path("u16.tif")))
        pages = tifffile.TiffFile(self.path("u16.tif")).pages
        tag = pages[3].tags["StripOffsets"]
        offset_field = tag.valueoffset
        count = len(tag.value)
        if count == 1:
            struct.pack_into("<I", tif, offset_field, len(tif) + 100000)
        else:
            start = struct.unpack_from("<I", tif, offset_field)[0]
            for i in range(count):
                struct.pack_into("<I", tif, start + 4 * i, len(tif) + 100000 + i)
        self.refused("past.tif", bytes(tif), ["--image", "4"],
                     f"Image 4 of the {N} in the file runs past the end of the file")
        # The first pages are still whole and open.
        self.assertEqual(run("info", self.path("past.tif"), "--image", "2").returncode, 0)
        # DM: the movie cut inside its third picture.
        dm = read_bytes(self.path("u16.dm4"))
        start = dm.index(self.u16.tobytes()[:64])
        self.refused("cut.dm4", dm[:start + 2 * W * H * 2 + 100], ["--image", "3"],
                     "The file ends before its image data")
        # MRC: the header claims more sections than the file holds.
        mrc = read_bytes(self.path("u16.mrcs"))
        self.refused("cut.mrcs", mrc[:1024 + 2 * W * H * 2 + 10], ["--image", "1"],
                     f"The MRC header claims {N} sections")


if __name__ == "__main__":
    unittest.main()
