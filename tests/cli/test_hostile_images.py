#!/usr/bin/python3
"""Hostile microscope images kept in the fuzz corpus, run through voralin00-cli as a user would:
each is refused with its own message and exit code 1, or opens as an independent reading
(numpy, tifffile) says it should, in a fraction of a second and within 1 GiB of address space."""
import os
import resource
import subprocess
import sys
import tempfile
import unittest

import numpy as np
import tifffile
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_voralin00_cli import CLI, DATA  # noqa: E402

CORPUS = os.path.join(DATA, "..", "fuzz", "corpus")
LIMIT = 1 << 30


def corpus(area, name):
    return os.path.join(CORPUS, area, name)


def limited(*args):
    """Runs the tool under a 1 GiB address-space limit; returns the result and its CPU seconds."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = subprocess.run([CLI, *args], capture_output=True, text=True, timeout=120,
                            preexec_fn=limit)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    seconds = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return result, seconds


class HostileImages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-hostile-")

    def refused(self, path, message, command="info"):
        args = [command, path] + ([os.path.join(self.tmp, "out.bmp")] if command != "info" else [])
        result, seconds = limited(*args)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(f"voralin00-cli: Error: {message}\n", result.stderr)
        self.assertLess(seconds, 0.5)
        return result

    def opened(self, path, command="info"):
        args = [command, path] + ([os.path.join(self.tmp, "out.bmp")] if command != "info" else [])
        result, seconds = limited(*args)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertLess(seconds, 0.5)
        return result

    def test_dm_values_ending_the_file(self):
        self.refused(corpus("dm", "dm_overread_1byte.dm3"),
                     "The DM file holds no two-dimensional image.")
        out = self.opened(corpus("dm", "dm_overread_datatype.dm3")).stdout
        self.assertIn("DM3, 32-bit float, 64 x 64 pixels, samples 0 to 4095", out)

    def test_tiff_claims_beyond_the_file(self):
        for name in ("tiff_strip_claim_1GiB.tif", "tiff_tile_claim_2GiB.tif",
                     "tiff_strip_past_eof.tif"):
            with self.subTest(name):
                result = self.refused(
                    corpus("tiff", name),
                    "The file ends before its image data: it is truncated or damaged.",
                    "normalise")
                self.assertNotIn("got ", result.stderr)

    def test_tiff_compressed_far_is_still_read(self):
        # Zeros pack as tightly as Deflate can: the size check must let them by. (LZMA is outside
        # the codec set both builds read and is refused by name.)
        zeros = np.zeros((2048, 2048), np.uint8)
        zeros[7, 11] = 200
        for compression in ("zlib",):
            with self.subTest(compression):
                path = os.path.join(self.tmp, f"zeros_{compression}.tif")
                tifffile.imwrite(path, zeros, compression=compression, rowsperstrip=2048)
                self.assertLess(os.path.getsize(path), 2048 * 2048 // 500)
                out = self.opened(path).stdout
                self.assertIn("2048 x 2048 pixels, samples 0 to 200", out)

    def normalised(self, path):
        out = os.path.join(self.tmp, "out.bmp")
        self.opened(path, "normalise")
        with Image.open(out) as picture:
            return np.array(picture)

    def test_samples_near_the_largest_double_render_both_ends(self):
        path = corpus("tiff", "render_nan_cast_pm1e308.tif")
        samples = tifffile.imread(path)
        shown = self.normalised(path)
        # Only the two extremes: the tops white, the bottoms black, nothing in between.
        self.assertEqual(set(np.unique(samples)), {-1e308, 1e308})
        np.testing.assert_array_equal(shown, np.where(samples > 0, 255, 0))
        self.opened(path, "spectrum")

    def test_min_is_white_inverts_within_the_sample_type(self):
        for name, top in (("miniswhite_u8.tif", 255), ("miniswhite_u16.tif", 65535)):
            with self.subTest(name):
                path = corpus("tiff", name)
                raw = tifffile.TiffFile(path).pages[0].asarray().astype(np.int64)
                out = self.opened(path).stdout
                self.assertIn(f"samples {top - raw.max()} to {top - raw.min()},", out)
        # An 8-bit source is its own picture: 255 - stored level.
        raw = tifffile.TiffFile(corpus("tiff", "miniswhite_u8.tif")).pages[0].asarray()
        np.testing.assert_array_equal(self.normalised(corpus("tiff", "miniswhite_u8.tif")),
                                      255 - raw)
        self.refused(corpus("tiff", "miniswhite_f32.tif"),
                     "Unsupported sample type in this file: TIFF float MinIsWhite.")

    def test_constant_sources_give_the_spectrum_an_8_bit_one_gives(self):
        spectra = {}
        for dtype in (np.uint8, np.uint16, np.float32):
            path = os.path.join(self.tmp, f"constant_{np.dtype(dtype).name}.tif")
            tifffile.imwrite(path, np.full((96, 128), 77, dtype))
            out = os.path.join(self.tmp, "out.bmp")
            self.opened(path, "spectrum")
            with open(out, "rb") as f:
                spectra[dtype] = f.read()
        self.assertEqual(spectra[np.uint16], spectra[np.uint8])
        self.assertEqual(spectra[np.float32], spectra[np.uint8])

    def test_png_chunks_and_sizes_are_refused_in_words(self):
        longer = "Not a PNG file that can be read: a chunk is longer than the bytes left in the file."
        cases = {
            "png_idat_realloc_3.8GB.png": longer,
            "png_chunk_len_huge.png": longer,
            "png_claim_100000.png": "The image is too large: 100000 x 100000 pixels",
            # 11585 x 11585 RGBA of 16 bits in 69 bytes: refused before the samples exist.
            "png_claim_11585_rgba16.png":
                "Not a PNG file that can be read: the image data end before the picture does.",
            "png_unknown_critical_chunk.png":
                "Not a PNG file that can be read: it holds a critical chunk of an unknown type.",
        }
        for name, message in cases.items():
            with self.subTest(name):
                result, seconds = limited("info", corpus("png", name))
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertTrue(result.stderr.startswith(f"voralin00-cli: Error: {message}"),
                                result.stderr)
                self.assertLess(seconds, 0.5)

    def test_pixel_sizes_beyond_any_instrument_are_ignored_with_a_note(self):
        picture = (np.arange(96 * 128).reshape(96, 128) % 251).astype(np.uint8)
        path = os.path.join(self.tmp, "calibrated.tif")
        # ImageJ's unit: 1/100 pixel a metre; 4e9 pixels a picometre.
        cases = ((dict(imagej=True, resolution=(0.01, 0.01), metadata={"unit": "m"}), "1e+11"),
                 (dict(imagej=True, resolution=(4e9, 4e9), metadata={"unit": "pm"}), "2.5e-13"))
        for options, shown in cases:
            with self.subTest(shown):
                tifffile.imwrite(path, picture, **options)
                result = self.opened(path)
                self.assertIn(", no pixel size\n", result.stdout)
                self.assertIn(f"voralin00-cli: Information: The pixel size in the file ({shown} nm) "
                              "lies outside 1e-9 to 1e9 nm and is ignored.\n", result.stderr)
        # A pixel a nanometre: kept, and nothing said.
        tifffile.imwrite(path, picture, imagej=True, resolution=(1, 1), metadata={"unit": "nm"})
        result = self.opened(path)
        self.assertIn("pixel size 1 nm", result.stdout)
        self.assertNotIn("ignored", result.stderr)

    def test_d_spacings_keep_four_significant_digits_at_any_calibration(self):
        y, x = np.mgrid[0:256, 0:256]
        lattice = 128 + 60 * np.cos(2 * np.pi * x / 8) + 60 * np.cos(2 * np.pi * y / 8)
        source = os.path.join(self.tmp, "lattice.tif")
        tifffile.imwrite(source, lattice.astype(np.uint8))
        for pixel in (1e-9, 1.0, 1e9):
            with self.subTest(pixel):
                csv = os.path.join(self.tmp, "spots.csv")
                result, _ = limited("spots", source, "--pixel-size", repr(pixel), "--count", "4",
                                    "--csv", csv)
                self.assertEqual(result.returncode, 0, result.stderr)
                table = np.genfromtxt(csv, delimiter=",", names=True)
                # The lattice's period is 8 pixels: d = 8 pixel sizes, to 1 %.
                np.testing.assert_allclose(table["d_nm"], 8 * pixel, rtol=0.01)
                rows = [line.split() for line in result.stdout.splitlines()
                        if line.strip()[:1].isdigit()]
                self.assertEqual(len(rows), len(table))
                for row in rows:
                    self.assertAlmostEqual(float(row[5]) / (8 * pixel), 1.0, delta=0.01)
                    self.assertGreaterEqual(len(row[5].split("e")[0].replace(".", "").lstrip("0")),
                                            1)

    def test_png_of_16_bits_or_colour_reads_as_the_same_grey_tiff(self):
        rng = np.random.default_rng(7)
        grey16 = rng.integers(0, 65536, (70, 97)).astype(np.uint16)
        grey16[3, 5], grey16[4, 5] = 0, 65535
        grey8 = (grey16 >> 8).astype(np.uint8)
        tiffs = {16: os.path.join(self.tmp, "g16.tif"), 8: os.path.join(self.tmp, "g8.tif")}
        tifffile.imwrite(tiffs[16], grey16)
        tifffile.imwrite(tiffs[8], grey8)
        pngs = {}
        pngs["rgb8"] = (Image.fromarray(np.stack([grey8] * 3, -1)), 8)
        pngs["rgba8"] = (Image.fromarray(np.stack([grey8] * 3 + [255 - grey8], -1)), 8)
        pngs["la8"] = (Image.fromarray(np.stack([grey8, grey8], -1), "LA"), 8)
        for name, (picture, bits) in pngs.items():
            picture.save(os.path.join(self.tmp, name + ".png"))
        # ImageMagick writes the 16-bit grey, RGB and interlaced RGBA forms.
        variants = {"g16": ["-define", "png:color-type=0"], "rgb16": ["-define", "png:color-type=2"],
                    "rgba16i": ["-define", "png:color-type=6", "-interlace", "PNG"],
                    "g16i": ["-define", "png:color-type=0", "-interlace", "PNG"]}
        for name, options in variants.items():
            subprocess.run(["convert", tiffs[16], "-define", "png:bit-depth=16", *options,
                            os.path.join(self.tmp, name + ".png")], check=True)
            pngs[name] = (None, 16)

        def outputs(path):
            result = []
            for command in ("normalise", "spectrum"):
                self.opened(path, command)
                with open(os.path.join(self.tmp, "out.bmp"), "rb") as f:
                    result.append(f.read())
            return result

        expected = {bits: outputs(path) for bits, path in tiffs.items()}
        for name, (_, bits) in pngs.items():
            with self.subTest(name):
                self.assertEqual(outputs(os.path.join(self.tmp, name + ".png")), expected[bits])
        colour = np.stack([grey8, grey8, grey8], -1)
        colour[9, 9, 1] ^= 1
        Image.fromarray(colour).save(os.path.join(self.tmp, "colour.png"))
        self.refused(os.path.join(self.tmp, "colour.png"),
                     "Not a gray-scale image: colour images cannot be opened (PNG RGB).")


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
