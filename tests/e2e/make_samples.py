#!/usr/bin/python3
"""Sample bitmaps for the end-to-end tests, drawn here with Pillow."""
import math
import sys
from pathlib import Path

from PIL import Image

out = Path(sys.argv[1])
size = 200
grey = Image.new("L", (size, size))
px = grey.load()
for y in range(size):
    for x in range(size):
        # A lattice of soft spots, like a micrograph of a crystal.
        v = 128 + 60 * math.cos(2 * math.pi * x / 12.5) * math.cos(2 * math.pi * y / 10.0)
        px[x, y] = max(0, min(255, int(v + 20 * math.sin(x * 0.05))))
grey.save(out / "lattice.bmp")
grey.save(out / "lattice.txt", format="BMP")
grey.convert("RGB").save(out / "colour.bmp")

# A crystal lattice turned 12 degrees, not square, with a little noise, for the lattice tools.
import random
rng = random.Random(13)
crystal = Image.new("L", (300, 240))
cp = crystal.load()
g1 = (math.cos(math.radians(12)) / 9.0, -math.sin(math.radians(12)) / 9.0)
g2 = (math.cos(math.radians(80)) / 12.0, -math.sin(math.radians(80)) / 12.0)
for y in range(240):
    for x in range(300):
        v = (math.cos(2 * math.pi * (g1[0] * x + g1[1] * y)) +
             0.8 * math.cos(2 * math.pi * (g2[0] * x + g2[1] * y) + 1.0) +
             0.5 * math.cos(2 * math.pi * ((g1[0] + g2[0]) * x + (g1[1] + g2[1]) * y) + 2.0))
        cp[x, y] = max(0, min(255, int(128 + 40 * v + rng.gauss(0, 12))))
crystal.save(out / "crystal.bmp")
grey.resize((32, 32)).save(out / "small.bmp")

# An OS/2 bitmap: a 12-byte core header where a 40-byte information header is expected.
import struct
core = struct.pack("<IHHHH", 12, 64, 64, 1, 8)
table = bytes(b for v in range(256) for b in (v, v, v))
rows = bytes(64 * 64)
head = struct.pack("<2sIHHI", b"BM", 14 + len(core) + len(table) + len(rows), 0, 0,
                   14 + len(core) + len(table))
(out / "os2.bmp").write_bytes(head + core + table + rows)

# A picture too large for the window, shown at half size: circles drawn on it must still land
# where they were drawn in picture pixels.
tile = Image.new("L", (80, 80))
tp = tile.load()
for y in range(80):
    for x in range(80):
        tp[x, y] = int(128 + 50 * math.cos(2 * math.pi * x / 16) + 40 * math.cos(2 * math.pi * y / 10))
big = Image.new("L", (1024, 1024))
for y in range(0, 1024, 80):
    for x in range(0, 1024, 80):
        big.paste(tile, (x, y))
big.save(out / "big.bmp")

# A crystal data file named outside the ANSI code page (the SrTiO3 cell of the test data).
crystal = Path(__file__).resolve().parents[1] / "data" / "crystal" / "srtio3.txt"
(out / "結晶.txt").write_bytes(crystal.read_bytes())
(out / "画像.bmp").write_bytes((out / "lattice.bmp").read_bytes())

# Settings that send small images down the big-frame path (frames above 128 x 128 keep the half
# spectrum), for the big_frame scenario to copy beside the program.
(out / "big_images.ini").write_bytes(b"[Big images]\r\nFullFrameLimit=128\r\n")

# Microscope images from the writers the instruments' tools use (TIFF, PNG, MRC, DM3/DM4).
import subprocess  # noqa: E402
import sys  # noqa: E402
subprocess.run([sys.executable, str(Path(__file__).resolve().parent / "make_micro_corpus.py"), str(out)],
               check=True)

# Two grains for the live box: fringes of 8 pixels on the left half, of 12 on the right.
import numpy as np  # noqa: E402
gy, gx = np.mgrid[0:512, 0:1024].astype(float)
def fringes(spacing, angle):
    t = np.radians(angle)
    return np.cos(2 * np.pi * (np.cos(t) * gx - np.sin(t) * gy) / spacing)
grains = np.where(gx < 512, fringes(8, 30) + 0.8 * fringes(8, 100), fringes(12, 0) + 0.8 * fringes(12, 60))
grains += 0.3 * np.random.default_rng(5).standard_normal(grains.shape)
grains = np.rint((grains - grains.min()) / (grains.max() - grains.min()) * 200 + 20).astype(np.uint8)
Image.fromarray(grains, mode="L").save(out / "grains.bmp")
# The same grains as 16-bit samples with an ImageJ calibration of 0.02 nm per pixel.
import tifffile  # noqa: E402
grains16 = (grains.astype(np.uint16) * 150 + np.random.default_rng(2).integers(0, 90, grains.shape)).astype(np.uint16)
tifffile.imwrite(out / "grains16.tif", grains16, imagej=True, resolution=(1 / 0.02, 1 / 0.02),
                 metadata={"unit": "nm"})

# A picture nearly as tall as the main window's client area on a 1440 x 1080 screen (912 rows
# shown whole below the icon bar), so the readout strip has no room under it.
tall = Image.new("L", (256, 912))
tp = tall.load()
for y in range(912):
    for x in range(256):
        tp[x, y] = int(128 + 50 * math.cos(2 * math.pi * (x / 8.0 + y / 11.0)))
tall.save(out / "tall.bmp")
