#!/usr/bin/python3
"""Writes small BMP files made by tools we did not write (Pillow, ImageMagick) into
tests/data/bmp/, with the grey levels Pillow reads from each accepted file as raw .gray files
(width x height bytes, top row first), so the tests can compare our decoding with theirs.

Run from anywhere: /usr/bin/python3 tools/make_test_bitmaps.py
Needs Pillow, numpy and ImageMagick's convert (Debian packages python3-pil, python3-numpy,
imagemagick). The output is deterministic for a given tool version; the files are committed.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "tests", "data", "bmp")
CONVERT = "/usr/bin/convert"


def pattern(width, height, seed):
    """A picture with gradients, flat blocks (for RLE runs) and noise (for absolute runs)."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    img = ((x * 255) // max(width - 1, 1)).astype(np.uint8)
    img[height // 4: height // 2, :] = 200
    img[:, width // 3: width // 3 + 5] = 17
    noisy = rng.integers(0, 256, size=(height // 4, width), dtype=np.uint8)
    img[height // 2: height // 2 + height // 4, :] = noisy
    img[-3:, :] = 0
    return img


def save_expected(name, path):
    grey = np.asarray(Image.open(path).convert("L"), dtype=np.uint8)
    with open(os.path.join(OUT, name + ".gray"), "wb") as f:
        f.write(grey.tobytes())


def grey_palette_image(levels, width, height, seed):
    """A "P" picture whose palette lists the given grey levels in that order."""
    rng = np.random.default_rng(seed)
    idx = (pattern(width, height, seed).astype(np.int32) * len(levels)) // 256
    idx[5:9, 5:40] = rng.integers(0, len(levels), size=(4, 35))
    im = Image.fromarray(idx.astype(np.uint8), mode="P")
    pal = []
    for v in levels:
        pal += [v, v, v]
    im.putpalette(pal)
    return im


def main():
    os.makedirs(OUT, exist_ok=True)
    accepted = []

    def keep(name, im):
        path = os.path.join(OUT, name + ".bmp")
        im.save(path, format="BMP")
        return path

    accepted.append(("pil_grey_64x64", keep("pil_grey_64x64", Image.fromarray(pattern(64, 64, 1), "L"))))
    accepted.append(("pil_grey_65x70", keep("pil_grey_65x70", Image.fromarray(pattern(65, 70, 2), "L"))))
    accepted.append(("pil_reversed_67x64",
                     keep("pil_reversed_67x64", grey_palette_image(list(range(255, -1, -1)), 67, 64, 3))))
    accepted.append(("pil_grey16_72x64",
                     keep("pil_grey16_72x64", grey_palette_image([(i * 37) % 16 * 17 for i in range(16)], 72, 64, 4))))

    # Refused by the image program: 24 bits per pixel, and a palette that is not grey.
    keep("pil_rgb24_64x64", Image.fromarray(np.dstack([pattern(64, 64, 5)] * 3), "RGB"))
    colour = grey_palette_image(list(range(256)), 64, 64, 6)
    pal = colour.getpalette()
    pal[3 * 40] = 255 - pal[3 * 40]  # entry 40: red differs from green and blue
    colour.putpalette(pal)
    keep("pil_colour_palette_64x64", colour)

    # RLE8 files from ImageMagick.
    with tempfile.TemporaryDirectory() as tmp:
        for name, w, h, seed in (("im_rle8_80x64", 80, 64, 7), ("im_rle8_66x65", 66, 65, 8)):
            png = os.path.join(tmp, name + ".png")
            Image.fromarray(pattern(w, h, seed), "L").save(png)
            path = os.path.join(OUT, name + ".bmp")
            subprocess.run([CONVERT, png, "-type", "Palette", "-depth", "8", "-compress", "RLE",
                            "BMP3:" + path], check=True)
            with open(path, "rb") as f:
                head = f.read(34)
            if head[30] != 1:
                sys.exit(f"{name}: convert did not write RLE8 (compression {head[30]})")
            accepted.append((name, path))

    # ImageMagick's default BMP: the 124-byte information header, RLE8 and uncompressed.
    with tempfile.TemporaryDirectory() as tmp:
        for name, w, h, seed, compress in (("im_v5_rle8_80x64", 80, 64, 9, "RLE"),
                                           ("im_v5_66x65", 66, 65, 10, "None")):
            png = os.path.join(tmp, name + ".png")
            Image.fromarray(pattern(w, h, seed), "L").save(png)
            path = os.path.join(OUT, name + ".bmp")
            subprocess.run([CONVERT, png, "-type", "Palette", "-depth", "8", "-compress", compress,
                            path], check=True)
            with open(path, "rb") as f:
                head = f.read(34)
            if int.from_bytes(head[14:18], "little") != 124:
                sys.exit(f"{name}: convert did not write a 124-byte information header")
            accepted.append((name, path))

    # The 108-byte form of the same uncompressed file: the last 16 header bytes cut out.
    with open(os.path.join(OUT, "im_v5_66x65.bmp"), "rb") as f:
        v5 = bytearray(f.read())
    v4 = v5[:14 + 108] + v5[14 + 124:]
    v4[2:6] = len(v4).to_bytes(4, "little")
    v4[10:14] = (int.from_bytes(v5[10:14], "little") - 16).to_bytes(4, "little")
    v4[14:18] = (108).to_bytes(4, "little")
    path = os.path.join(OUT, "v4_header_66x65.bmp")
    with open(path, "wb") as f:
        f.write(v4)
    accepted.append(("v4_header_66x65", path))

    # A gap of 16 bytes between the colour table and the pixels, which bfOffBits accounts for.
    with open(os.path.join(OUT, "pil_grey_64x64.bmp"), "rb") as f:
        plain = bytearray(f.read())
    offset = int.from_bytes(plain[10:14], "little")
    gap = plain[:offset] + bytes(range(1, 17)) + plain[offset:]
    gap[2:6] = len(gap).to_bytes(4, "little")
    gap[10:14] = (offset + 16).to_bytes(4, "little")
    path = os.path.join(OUT, "gap16_64x64.bmp")
    with open(path, "wb") as f:
        f.write(gap)
    accepted.append(("gap16_64x64", path))

    for name, path in accepted:
        save_expected(name, path)
    total = sum(os.path.getsize(os.path.join(OUT, f)) for f in os.listdir(OUT))
    print(f"wrote {len(os.listdir(OUT))} files, {total} bytes, into {OUT}")


if __name__ == "__main__":
    main()
