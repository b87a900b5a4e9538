#!/usr/bin/python3
"""The README's set-up commands and worked examples: the examples run exactly as written, from a
folder laid out like the repository's top folder, and what the README says about their results
is checked with Pillow, numpy and ASE."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import numpy as np
from PIL import Image
import ase.io

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.path.abspath(os.environ.get("SUITE_BIN", os.path.join(ROOT, "build", "native", "cli")))
DATA = os.path.abspath(os.environ.get("SUITE_TEST_DATA", os.path.join(ROOT, "tests", "data")))
MARK = "<!-- run by tests/cli/test_readme.py -->"


def readme():
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as f:
        return f.read()


def checked_blocks(text):
    return re.findall(re.escape(MARK) + r"\n```sh\n(.*?)```", text, flags=re.S)


class Readme(unittest.TestCase):
    def test_opens_with_title_sentence_and_the_two_commands(self):
        lines = readme().split("\n")
        self.assertTrue(lines[0].startswith("# "), lines[0])
        self.assertEqual(lines[1], "")
        # One sentence, then the two commands and nothing else in the block.
        end = lines.index("```sh")
        sentence = " ".join(lines[2:end]).strip()
        self.assertEqual(sentence.count(". "), 0, sentence)
        self.assertTrue(sentence.endswith("."))
        self.assertEqual(lines[end + 1:end + 4], ["./run.sh demo", "./run.sh test", "```"])
        with open(os.path.join(ROOT, ".ci", "run")) as f:
            self.assertIn("./run.sh test", f.read())

    def test_pictures_and_paths_named_exist(self):
        text = readme()
        for picture in re.findall(r"\]\((docs/images/[^)]+)\)", text):
            self.assertTrue(os.path.exists(os.path.join(ROOT, picture)), picture)
        for path in ["tests/data/sample/lattice.bmp", "tests/data/crystal/srtio3.txt",
                     "tests/data/crystal/zno_hex.txt", "tests/data/bmp/pil_grey_64x64.bmp",
                     "docs/voralin00_guide.md", "docs/kestral_guide.md", "cli/tool.h"]:
            self.assertIn(path, text)
            self.assertTrue(os.path.exists(os.path.join(ROOT, path)), path)
        # The crystal example in the README is the bundled file.
        with open(os.path.join(DATA, "crystal", "srtio3.txt"), encoding="ascii") as f:
            crystal = f.read().replace("\r\n", "\n")
        self.assertIn("```\n" + crystal + "```", text)

    def test_worked_examples_run_as_written(self):
        blocks = checked_blocks(readme())
        # Sections added later may bring their own examples: all run, in order.
        self.assertGreaterEqual(len(blocks), 3)
        top = tempfile.mkdtemp(prefix="readme_")
        try:
            os.makedirs(os.path.join(top, "build", "native"))
            os.symlink(BIN, os.path.join(top, "build", "native", "cli"))
            os.makedirs(os.path.join(top, "tests"))
            os.symlink(DATA, os.path.join(top, "tests", "data"))
            # The Python section: the module, the recipe and the DM writer of the tests.
            os.symlink(os.path.join(os.path.dirname(BIN), "python"),
                       os.path.join(top, "build", "native", "python"))
            os.symlink(os.path.join(ROOT, "examples"), os.path.join(top, "examples"))
            os.symlink(os.path.join(ROOT, "tests", "cli"), os.path.join(top, "tests", "cli"))
            outputs = []
            for block in blocks:
                r = subprocess.run(["bash", "-euo", "pipefail", "-c", block], cwd=top,
                                   capture_output=True, text=True, timeout=600,
                                   env=dict(os.environ, LANG="C", LC_ALL=""))
                self.assertEqual(r.returncode, 0, (block, r.stderr))
                outputs.append(r.stdout)
            printed = "".join(outputs)
            self.check_image_results(os.path.join(top, "out"), printed)
            self.check_crystal_results(os.path.join(top, "out"), printed)
            self.check_python_results(os.path.join(top, "out"), printed)
        finally:
            shutil.rmtree(top, ignore_errors=True)

    def test_demo_writes_what_it_lists(self):
        out = tempfile.mkdtemp(prefix="demo_")
        try:
            r = subprocess.run([os.path.join(ROOT, "tools", "demo.sh"), BIN, out],
                               capture_output=True, text=True, timeout=600,
                               env=dict(os.environ, LANG="C", LC_ALL=""))
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stderr, "")
            listed = r.stdout.split("== Written to %s/:\n" % out)[1].split("\n== ")[0]
            names = [line.split()[0] for line in listed.splitlines()]
            self.assertIn("srtio3-110-page.bmp", names)
            expected = []
            for name in names:
                if ".." in name:  # a numbered set: slice1..4.dat
                    stem, rest = name.split("1..")
                    last, ext = rest.split(".", 1)
                    expected += ["%s%d.%s" % (stem, k, ext) for k in range(1, int(last) + 1)]
                else:
                    expected.append(name)
            # Every file listed is there, and nothing else was written.
            self.assertEqual(sorted(os.listdir(out)), sorted(expected))
            self.check_image_results(out, r.stdout, batch=False)
            self.check_crystal_results(out, r.stdout)
            overview = Image.open(os.path.join(out, "overview.png"))
            self.assertGreater(overview.width, 1000)
        finally:
            shutil.rmtree(out, ignore_errors=True)

    def check_image_results(self, out, printed, batch=True):
        self.assertIn("600(W) x 480(H) x 256(Colors) RGB (289078 Bytes)", printed)
        spectrum = np.asarray(Image.open(os.path.join(out, "spectrum.bmp")).convert("L"))
        self.assertEqual(spectrum.shape, (480, 600))
        # Zero frequency at (300, 240), spots where the mask puts its circles.
        self.assertEqual(spectrum[240, 300], spectrum.max())
        for x, y in [(300, 155), (193, 202), (407, 278)]:
            self.assertGreater(spectrum[y - 3:y + 4, x - 3:x + 4].max(), 180)
        source = np.asarray(Image.open(os.path.join(DATA, "sample", "lattice.bmp")).convert("L"),
                            dtype=float)
        masked = np.asarray(Image.open(os.path.join(out, "masked.bmp")).convert("L"), dtype=float)
        self.assertEqual(masked.shape, (480, 600))
        # The noisy right side loses its pixel-to-pixel noise; the lattice on the left stays.
        def roughness(a):
            return np.abs(np.diff(a[:, 450:], axis=1)).mean()
        self.assertLess(roughness(masked), roughness(source) / 2)
        left = np.corrcoef(masked[:, :250].ravel(), source[:, :250].ravel())[0, 1]
        self.assertGreater(left, 0.8)
        line = np.loadtxt(os.path.join(out, "linewave.txt"), skiprows=6)
        self.assertEqual(line.shape[1], 5)
        if not batch:
            return
        self.assertEqual(Image.open(os.path.join(out, "spectra", "lattice.bmp")).size, (600, 480))
        self.assertEqual(Image.open(os.path.join(out, "spectra", "pil_grey_64x64.bmp")).size,
                         (64, 64))

    def check_python_results(self, out, printed):
        for text in ["DM4 uint16 (480, 600) 0.2 nm per pixel", "8 images, 0 refused",
                     "the same rows"]:
            self.assertIn(text, printed)
        # The spots' CSV is the tool's for the same file.
        r = subprocess.run([os.path.join(BIN, "voralin00-cli"), "spots",
                            os.path.join(out, "lattice.dm4"), "--count", "3", "--csv",
                            os.path.join(out, "tool-spots.csv")], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(os.path.join(out, "tool-spots.csv"), "rb") as a, \
                open(os.path.join(out, "lattice-spots.csv"), "rb") as b:
            self.assertEqual(a.read(), b.read())
        with open(os.path.join(out, "batch", "results.csv")) as f:
            self.assertEqual(len(f.read().strip().split("\n")), 1 + 8)

    def check_crystal_results(self, out, printed):
        for text in ["repeat distance: 5.5225040", "layer spacing: 1.3806260", "planes: 4",
                     "super cell: X=5.5225040 Y=3.9050000"]:
            self.assertIn(text, printed)
        self.assertEqual(sorted(n for n in os.listdir(out) if n.startswith("srtio3-110-slice")),
                         ["srtio3-110-slice%d.dat" % k for k in range(1, 5)])
        with open(os.path.join(out, "srtio3-110-reference.txt"), "rb") as f:
            self.assertIn(b"X=5.522504(Ang.)   Y=3.905000(Ang.)\r\n", f.read())
        with open(os.path.join(out, "srtio3-110-slice1.dat"), "rb") as f:
            first = f.read().split(b"\r\n")[0].split(b"\t")
        np.testing.assert_allclose([float(v) for v in first], [5.522504, 3.905, 1.380626],
                                   atol=1e-6)
        with open(os.path.join(out, "srtio3-110.xyz"), "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(b"Crystal direction : u=1   v=1   w=0\r\n"))
        standard = os.path.join(out, "standard.xyz")
        with open(standard, "wb") as f:
            f.write(data[:data.index(b"     -1\r\n") + 9])
        atoms = ase.io.read(standard, format="prismatic")
        self.assertEqual(sorted(set(atoms.numbers)), [8, 22, 38])
        self.assertEqual(len(atoms), 10)  # two formula units in the 5.52 x 3.905 super cell
        page = Image.open(os.path.join(out, "srtio3-110-page.bmp"))
        self.assertEqual((page.size, page.mode), ((1024, 747), "P"))
        self.assertEqual(len(page.getpalette()) // 3, 16)


if __name__ == "__main__":
    unittest.main()
