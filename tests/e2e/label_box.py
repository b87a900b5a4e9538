#!/usr/bin/python3
"""Checks the hover label in a screenshot against the font it should be drawn in.

    label_box.py SHOT.png TEXT FONT.ttf HEIGHT EXTRA

The label is a black frame on white below the icon bar around TEXT, drawn as a rectangle
text width + EXTRA + 5 pixels wide and text height + 6 pixels high (its last column and row
are left out), the text measured in FONT at HEIGHT pixels. A label drawn in another font (the English one is 14 pixels high and
proportional) gives another frame.
"""
import sys

from PIL import Image, ImageFont


def frames(shot, top, bottom):
    """Black frames on white (at least 20 x 10) whose upper edge lies between top and bottom:
    (left, top, right, bottom), edges included."""
    img = shot.convert("L")
    w, h = img.size
    px = img.load()
    dark = lambda x, y: px[x, y] < 100
    for y in range(top, min(bottom, h - 1)):
        x = 0
        while x < w:
            if not dark(x, y):
                x += 1
                continue
            run = x
            while run < w and dark(run, y):
                run += 1
            right = run - 1
            if right - x >= 20:
                down = y
                while down + 1 < h and dark(x, down + 1) and dark(right, down + 1):
                    down += 1
                if (down - y >= 10 and not dark(x + 1, y + 1) and
                        all(dark(i, down) for i in range(x, right + 1))):
                    yield x, y, right, down
            x = run


def main():
    shot, text, font_path, height, extra = sys.argv[1:6]
    font = ImageFont.truetype(font_path, int(height))
    width = round(font.getlength(text))
    want = (width + int(extra) + 4, int(height) + 5)
    found = [(r - l, b - t) for l, t, r, b in frames(Image.open(shot), 40, 160)]
    if want not in found:
        raise SystemExit(f"label_box: no label frame {want} for {text!r} in {shot}; frames {found}")
    print(f"check: the label {text!r} is drawn in {font_path} at {height} pixels")


if __name__ == "__main__":
    main()
