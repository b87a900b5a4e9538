#!/usr/bin/python3
"""Makes the bundled sample: a synthetic high-resolution micrograph of a crystal edge.

A 2-D lattice (two reflections and their harmonics) fills the left part of the field, with
amorphous noise over everything and a soft edge, written as an 8-bit grey BMP with Pillow.
Deterministic: the same bytes every run.
"""
import sys

import numpy as np
from PIL import Image


def make(width=600, height=480, seed=7):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    # Lattice fringes with a period of about 9 and 12 pixels, 70 degrees apart.
    g1 = np.array([np.cos(0.35), np.sin(0.35)]) / 9.0
    g2 = np.array([np.cos(0.35 + 1.22), np.sin(0.35 + 1.22)]) / 12.0
    phase1 = 2 * np.pi * (g1[0] * x + g1[1] * y)
    phase2 = 2 * np.pi * (g2[0] * x + g2[1] * y)
    lattice = np.cos(phase1) + 0.8 * np.cos(phase2) + 0.35 * np.cos(phase1 + phase2)
    edge = 1.0 / (1.0 + np.exp((x - 0.62 * width - 40 * np.sin(y / 70.0)) / 12.0))
    noise = rng.normal(0.0, 1.0, (height, width))
    # Smooth the noise a little, like an amorphous film seen through the lens.
    kernel = np.array([1, 4, 6, 4, 1], dtype=np.float64) / 16.0
    noise = np.apply_along_axis(lambda r: np.convolve(r, kernel, mode="same"), 1, noise)
    noise = np.apply_along_axis(lambda c: np.convolve(c, kernel, mode="same"), 0, noise)
    picture = 120 + 38 * edge * lattice + 22 * noise + 10 * (1 - edge)
    return Image.fromarray(np.clip(picture, 0, 255).astype(np.uint8), mode="L")


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "tests/data/sample/lattice.bmp"
    make().save(out, format="BMP")
    print(out)
