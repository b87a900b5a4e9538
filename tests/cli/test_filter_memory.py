#!/usr/bin/python3
"""The filter command's peak memory, read from the kernel's accounting of each finished process:
a 2048 x 2048 image takes a 4096 x 4096 frame, two arrays of 128 MiB, and whatever the filter
writes (the picture, the float TIFF, the .npy parts, the removed part) the process stays within
those two arrays and a few copies of the image. A source above 8 bits may add its samples as
doubles (one image of 8-byte values)."""
import os
import subprocess
import tempfile
import unittest

import numpy as np
import tifffile
from PIL import Image

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
CLI = os.path.join(BIN, "voralin00-cli")

SIDE = 2048
FRAME_KIB = 2 * 4096 * 4096 * 8 // 1024  # the two frame arrays
SLACK_KIB = 24 * 1024  # the program itself, the picture, the kept source and the output file
DOUBLES_KIB = SIDE * SIDE * 8 // 1024


def peak_kib(args):
    """Runs the tool and returns (exit status, peak resident KiB, stderr)."""
    child = subprocess.Popen([CLI, *args], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = child.stderr.read()
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    return child.returncode, usage.ru_maxrss, err.decode(errors="replace")


class FilterMemory(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        rng = np.random.default_rng(5)
        y, x = np.mgrid[0:SIDE, 0:SIDE]
        a = 120 + 60 * np.cos(2 * np.pi * x / 6.1) * np.cos(2 * np.pi * y / 8.3)
        a = np.clip(a + rng.normal(0, 25, a.shape), 0, 255)
        cls.bmp = os.path.join(cls.tmp.name, "lattice.bmp")
        cls.tif = os.path.join(cls.tmp.name, "lattice16.tif")
        Image.fromarray(a.astype(np.uint8), "L").save(cls.bmp)
        tifffile.imwrite(cls.tif, (a * 200 + 1000).astype(np.uint16))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def out(self, name):
        return os.path.join(self.tmp.name, name)

    def check(self, source, limit, *outputs):
        status, peak, err = peak_kib(["filter", source, *outputs, "--filter", "low", "--wa", "0.5",
                                      "--quiet"])
        self.assertEqual(status, 0, err)
        self.assertLessEqual(peak, limit, f"{outputs}: {peak} KiB, frame arrays {FRAME_KIB} KiB")
        return peak

    def test_every_output_of_an_8_bit_image_within_the_frame_arrays(self):
        limit = FRAME_KIB + SLACK_KIB
        for outputs in (["o.bmp"], ["o.tif"],
                        ["o.bmp", "--npy", "f.npy", "--difference-npy", "r.npy",
                         "--difference", "d.bmp"],
                        ["o.tif", "--difference", "d.tif"]):
            with self.subTest(outputs=outputs):
                named = [self.out(o) if "." in o else o for o in outputs]
                self.check(self.bmp, limit, *named)
        # The outputs are whole: the float TIFF is the filtered image of the picture's size.
        self.assertEqual(tifffile.imread(self.out("o.tif")).shape, (SIDE, SIDE))
        self.assertEqual(np.load(self.out("r.npy")).shape, (SIDE, SIDE))

    def test_a_16_bit_source_adds_at_most_its_samples_in_doubles(self):
        limit = FRAME_KIB + SLACK_KIB + DOUBLES_KIB
        for outputs in (["o16.bmp"], ["o16.tif", "--npy", "f16.npy", "--difference", "d16.tif"]):
            with self.subTest(outputs=outputs):
                self.check(self.tif, limit, *[self.out(o) if "." in o else o for o in outputs])


if __name__ == "__main__":
    unittest.main(verbosity=2)
