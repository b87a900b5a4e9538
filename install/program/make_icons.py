#!/usr/bin/python3
"""Draws the installer's two icons: a box with an arrow into it (install) and out of it
(uninstall), 32 and 16 pixels. Usage: make_icons.py OUTDIR"""
import sys
from pathlib import Path

from PIL import Image, ImageDraw


def icon(outward, size):
    s = size / 32
    image = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    d = ImageDraw.Draw(image)
    d.rectangle([4 * s, 14 * s, 27 * s, 29 * s], fill=(200, 150, 80), outline=(70, 50, 30))
    d.line([4 * s, 19 * s, 27 * s, 19 * s], fill=(70, 50, 30))
    colour = (200, 40, 40) if outward else (30, 110, 210)
    d.rectangle([13 * s, 2 * s, 18 * s, 11 * s], fill=colour)
    if outward:
        d.polygon([(8 * s, 8 * s), (23 * s, 8 * s), (15.5 * s, 0)], fill=colour)
    else:
        d.polygon([(8 * s, 10 * s), (23 * s, 10 * s), (15.5 * s, 17 * s)], fill=colour)
    return image


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, outward in (("install", False), ("uninstall", True)):
        big = icon(outward, 32)
        big.save(out / (name + ".ico"), sizes=[(32, 32), (16, 16)],
                 append_images=[icon(outward, 16)])


main()
