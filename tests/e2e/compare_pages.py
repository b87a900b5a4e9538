#!/usr/bin/python3
"""Compares a page bitmap saved by kestral.exe with kestral-cli's page for the same crystal and
client size.

    compare_pages.py APP.bmp CLI.bmp

The program draws with GDI and its own font, the tool with the software raster and a built-in
font, so text and the rim pixels of the small atom discs may differ. Everything else must agree:
the file and information headers and the colour table byte for byte, every panel frame and super
cell rectangle pixel for pixel, and in the panels the same atom discs, colour by colour, each at
the same place (centres within one pixel, one and a half for black shapes that
merge with the super cell rectangle)."""
import sys

import numpy as np
from PIL import Image

WHITE, BLACK = 15, 0


def blobs(mask):
    """Centres (row, column) of the 4-connected shapes of a mask."""
    todo = set(zip(*np.nonzero(mask)))
    centres = []
    while todo:
        stack = [todo.pop()]
        members = []
        while stack:
            y, x = stack.pop()
            members.append((y, x))
            for n in ((y - 1, x), (y + 1, x), (y, x - 1), (y, x + 1)):
                if n in todo:
                    todo.remove(n)
                    stack.append(n)
        centres.append(np.mean(members, axis=0))
    return np.array(centres) if centres else np.zeros((0, 2))


def main(app_path, cli_path):
    app_bytes = open(app_path, "rb").read()
    cli_bytes = open(cli_path, "rb").read()
    if app_bytes[:118] != cli_bytes[:118]:
        raise SystemExit(f"{app_path}: headers or colour table differ from {cli_path}")
    a = np.array(Image.open(app_path))
    b = np.array(Image.open(cli_path))
    if a.shape != b.shape:
        raise SystemExit(f"{app_path}: size {a.shape} differs from {b.shape}")
    rows, width = a.shape
    H = rows + 21
    hx, hy = (width - 275) // 4, (H - 81) // 4
    centres_x = ((width - 215) // 2 - hx, (width - 215) // 2 + hx)
    centres_y = ((H - 9) // 2 - hy, (H - 9) // 2 + hy)
    checked = 0
    for cx in centres_x:
        for cy in centres_y:
            top, bottom = cy - hy + 2 - 21, cy + hy - 2 - 21
            left, right = cx - hx + 2, cx + hx - 2
            # The frame's four edges.
            for edge in (a[top, left:right] != b[top, left:right],
                         a[bottom, left:right] != b[bottom, left:right],
                         a[top:bottom, left] != b[top:bottom, left],
                         a[top:bottom, right] != b[top:bottom, right]):
                if edge.any():
                    raise SystemExit(f"{app_path}: a panel frame differs near ({cx}, {cy})")
            inner_a = a[top + 1:bottom, left + 1:right]
            inner_b = b[top + 1:bottom, left + 1:right]
            for colour in np.unique(np.concatenate([inner_a.ravel(), inner_b.ravel()])):
                if colour == WHITE:
                    continue
                pa = blobs(inner_a == colour)
                pb = blobs(inner_b == colour)
                if len(pa) != len(pb):
                    raise SystemExit(f"{app_path}: {len(pa)} shapes of colour {colour} near "
                                     f"({cx}, {cy}), the tool drew {len(pb)}")
                if len(pa):
                    pa = pa[np.lexsort((pa[:, 1], pa[:, 0]))]
                    pb = pb[np.lexsort((pb[:, 1], pb[:, 0]))]
                    worst = np.abs(pa - pb).max()
                    # Black discs on the super cell rectangle merge with it, and a rim pixel more
                    # or less moves such a shape's centre a little further.
                    if worst > (1.5 if colour == BLACK else 1.0):
                        raise SystemExit(f"{app_path}: shapes of colour {colour} near ({cx}, {cy}) "
                                         f"are {worst:.2f} px from the tool's")
                checked += len(pa)
    print(f"compare_pages: {app_path} matches {cli_path} ({checked} shapes)")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        raise SystemExit(__doc__)
    main(sys.argv[1], sys.argv[2])
