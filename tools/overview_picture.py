#!/usr/bin/python3
"""Puts the demonstration's results side by side in one PNG: the micrograph, its spectrum with
the circles of the mask, the filtered image and a page of sliced planes.

Usage: overview_picture.py OUT_DIR SAMPLE.bmp CIRCLES PICTURE.png
CIRCLES is the --circles-outside text ("x,y,r;..."); the results are read from OUT_DIR
(spectrum.bmp, masked.bmp, srtio3-110-page.bmp)."""
import os
import sys

from PIL import Image, ImageDraw, ImageFont

TILE_WIDTH = 300
GAP = 8
CAPTION = 22


def tile(image, width=TILE_WIDTH):
    image = image.convert("RGB")
    height = round(image.height * width / image.width)
    return image.resize((width, height), Image.LANCZOS)


def main(out_dir, sample, circles, picture):
    spectrum = Image.open(os.path.join(out_dir, "spectrum.bmp")).convert("RGB")
    draw = ImageDraw.Draw(spectrum)
    for item in circles.split(";"):
        x, y, r = (int(v) for v in item.split(","))
        draw.ellipse((x - r, y - r, x + r, y + r), outline=(255, 64, 64), width=2)
    tiles = [
        ("micrograph", tile(Image.open(sample))),
        ("spectrum and mask", tile(spectrum)),
        ("filtered image", tile(Image.open(os.path.join(out_dir, "masked.bmp")))),
        ("SrTiO3 [1 1 0], planes", tile(Image.open(os.path.join(out_dir,
                                                               "srtio3-110-page.bmp")), 440)),
    ]
    height = max(t.height for _, t in tiles) + CAPTION
    width = sum(t.width for _, t in tiles) + GAP * (len(tiles) - 1)
    sheet = Image.new("RGB", (width, height), (255, 255, 255))
    pen = ImageDraw.Draw(sheet)
    try:
        font = ImageFont.truetype("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", 14)
    except OSError:
        font = ImageFont.load_default()
    x = 0
    for caption, t in tiles:
        sheet.paste(t, (x, CAPTION))
        pen.text((x + 4, 3), caption, fill=(0, 0, 0), font=font)
        x += t.width + GAP
    # A palette keeps the file small: the pictures are grey apart from a few colours.
    sheet.quantize(colors=256, method=Image.Quantize.MEDIANCUT).save(picture, optimize=True)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
