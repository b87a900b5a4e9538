#!/usr/bin/python3
"""voralin00-cli on TIFF codecs and palettes: files written by tifffile and ImageMagick, expected
greys read by Pillow or mapped by numpy, compared with what the same greys give from a plain file.
Both builds decode TIFF with the same code; the Windows side is compared in cli_under_wine.sh."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_voralin00_cli import CLI, read_bytes, run, texture  # noqa: E402

import tifffile  # noqa: E402

W, H = 140, 110
RAMP = np.arange(256, dtype=np.uint16)
# Outputs that must not depend on how the same greys were stored.
COMMANDS = (("normalise", ".bmp"), ("spectrum", ".bmp", "--log"), ("filter", ".tif", "--filter", "low"))


def set_compression_tag(path, scheme):
    """Rewrites the first image's Compression value in place (a SHORT held in its entry)."""
    with tifffile.TiffFile(path) as tif:
        tag = tif.pages[0].tags["Compression"]
        at, little = tag.valueoffset, tif.byteorder == "<"
    data = bytearray(read_bytes(path))
    struct.pack_into("<H" if little else ">H", data, at, scheme)
    with open(path, "wb") as f:
        f.write(data)


class TiffCodecsAndPalettes(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="voralin00-tiffcodecs-")
        self.index = texture(W, H)

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def outputs(self, name):
        results = []
        for command, ext, *options in COMMANDS:
            out = self.path(f"{name}.{command}{ext}")
            result = run(command, self.path(name), out, *options)
            self.assertEqual(result.returncode, 0, f"{name} {command}: {result.stderr}")
            results.append(read_bytes(out))
        return results

    def assert_same_as(self, name, reference):
        self.assertEqual(self.outputs(name), self.outputs(reference), f"{name} against {reference}")

    def assert_refused(self, name, message):
        out = self.path(name + ".out.bmp")
        result = run("spectrum", self.path(name), out)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_grey_palettes_open_as_the_greys_they_map_to(self):
        p = self.path
        idx = self.index
        tifffile.imwrite(p("ramp257.tif"), idx, photometric="palette", colormap=np.stack([RAMP * 257] * 3))
        tifffile.imwrite(p("inverted256.tif"), idx, photometric="palette",
                         colormap=np.stack([(255 - RAMP) * 256] * 3))
        # 4 bits: tifffile cannot pack them without imagecodecs, ImageMagick writes them. An odd
        # width leaves half a byte at the end of each row.
        Image.fromarray((idx[:, :W - 1] >> 4) * 17).save(p("sixteen.png"))
        subprocess.run(["convert", p("sixteen.png"), "-type", "Palette", "-depth", "4", p("palette4.tif")],
                       check=True)
        with tifffile.TiffFile(p("palette4.tif")) as tif:
            page = tif.pages[0]
            self.assertEqual((page.photometric, page.bitspersample), (3, 4))
        for name in ("ramp257.tif", "inverted256.tif", "palette4.tif"):
            with self.subTest(name):
                # Pillow maps each index through the palette's high bytes.
                greys = np.asarray(Image.open(p(name)).convert("L"))
                self.assertGreater(len(np.unique(greys)), 8)
                Image.fromarray(greys, mode="L").save(p(name + ".grey.bmp"))
                self.assert_same_as(name, name + ".grey.bmp")
                info = run("info", p(name))
                self.assertEqual(info.returncode, 0, info.stderr)
                self.assertIn(f"TIFF, 8-bit unsigned integer, {greys.shape[1]} x {H} pixels, samples "
                              f"{greys.min()} to {greys.max()}", info.stdout)
        # The inverted palette is read through, not past: its first index is white.
        self.assertEqual(np.asarray(Image.open(p("inverted256.tif")).convert("L"))[idx == 0].min(initial=255), 255)

        # Greys of 16-bit precision keep it: the same as a 16-bit grey file of the mapped values.
        fine = (RAMP * 211 + 1000).astype(np.uint16)
        tifffile.imwrite(p("fine.tif"), idx, photometric="palette", colormap=np.stack([fine] * 3))
        tifffile.imwrite(p("fine_grey.tif"), fine[idx])
        self.assert_same_as("fine.tif", "fine_grey.tif")
        self.assertIn("16-bit unsigned integer", run("info", p("fine.tif")).stdout)

        # One entry off grey is a colour palette: refused, nothing written.
        colours = np.stack([RAMP * 257] * 3)
        colours[2, 200] += 1
        tifffile.imwrite(p("colour.tif"), idx, photometric="palette", colormap=colours)
        self.assert_refused("colour.tif", "Not a gray-scale image: colour images cannot be opened (TIFF palette)")

    def test_one_codec_set_is_read_and_others_are_refused_by_name(self):
        p = self.path
        Image.fromarray(self.index, mode="L").save(p("plain.bmp"))
        Image.fromarray(self.index, mode="L").save(p("plain.png"))
        tifffile.imwrite(p("deflate.tif"), self.index, compression="zlib")
        shutil.copy(p("deflate.tif"), p("old_deflate.tif"))
        set_compression_tag(p("old_deflate.tif"), 32946)
        for scheme, name in (("None", "none"), ("RLE", "packbits"), ("LZW", "lzw")):
            subprocess.run(["convert", p("plain.png"), "-compress", scheme, p(name + ".tif")], check=True)
        accepted = {"none.tif": 1, "packbits.tif": 32773, "lzw.tif": 5, "deflate.tif": 8, "old_deflate.tif": 32946}
        for name, scheme in accepted.items():
            with self.subTest(name):
                with tifffile.TiffFile(p(name)) as tif:
                    self.assertEqual(tif.pages[0].compression, scheme)
                self.assert_same_as(name, "plain.bmp")

        for scheme in ("JPEG", "Zstd", "LZMA"):
            subprocess.run(["convert", p("plain.png"), "-compress", scheme, p(scheme + ".tif")], check=True)
        subprocess.run(["convert", p("plain.png"), "-monochrome", "-compress", "Group4", p("Group4.tif")], check=True)
        for code, name in ((34712, "j2k"), (4242, "unknown")):
            tifffile.imwrite(p(name + ".tif"), self.index)
            set_compression_tag(p(name + ".tif"), code)
        refused = {"JPEG.tif": "JPEG", "Zstd.tif": "Zstandard", "LZMA.tif": "LZMA", "Group4.tif": "CCITT Group 4 fax",
                   "j2k.tif": "JPEG 2000", "unknown.tif": "compression 4242"}
        for name, what in refused.items():
            with self.subTest(name):
                self.assert_refused(name, f"TIFF files compressed with {what} cannot be opened")
        result = subprocess.run([CLI, "info", p("JPEG.tif")], capture_output=True, text=True,
                                env={**os.environ, "LANG": "ja_JP.UTF-8", "LC_ALL": ""})
        self.assertEqual(result.returncode, 1)
        self.assertIn("JPEG で圧縮された TIFF ファイルは開けません", result.stderr)


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
