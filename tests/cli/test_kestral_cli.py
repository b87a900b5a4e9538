#!/usr/bin/python3
"""kestral-cli checked from outside: the convergent-beam atom list read back by ASE's reader and
compared with an independent numpy slicing of the same crystal; pages read by Pillow."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import numpy as np
from PIL import Image
import ase.io

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
DATA = os.environ.get("SUITE_TEST_DATA", "tests/data")
CLI = os.path.join(BIN, "kestral-cli")
SRTIO3 = os.path.join(DATA, "crystal", "srtio3.txt")
ZNO = os.path.join(DATA, "crystal", "zno_hex.txt")
TOL = 0.001


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=300)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def ase_atoms(xyz_path, tmp):
    """ASE reads the standard part: everything up to and including the "-1" line."""
    data = read_bytes(xyz_path)
    end = data.index(b"     -1\r\n") + len(b"     -1\r\n")
    cut = os.path.join(tmp, "standard.xyz")
    with open(cut, "wb") as f:
        f.write(data[:end])
    return ase.io.read(cut, format="prismatic"), data[end:]


def our_rows(xyz_path):
    lines = read_bytes(xyz_path).decode("ascii").split("\r\n")
    rows = []
    for line in lines[2:]:
        if line.strip() == "-1":
            break
        z, x, y, d, occ, rms = line.split()
        rows.append((int(z), float(x), float(y), float(d), occ, rms))
    return rows


def hexagonal_reference(a, c, sites):
    """Independent slicing of a hexagonal cell along [0 0 1]: the beam is z, the sliced plane
    holds planeX = y and planeY = -x; the super cell is a*sqrt(3) by a; depths run down from the
    top plane at height c."""
    gamma = np.radians(120.0)
    sx, sy = a * np.sqrt(3.0), a
    out = []
    for z_number, fa, fb, fc in sites:
        for k3 in range(-10, 12):
            for k2 in range(-10, 11):
                for k1 in range(-10, 11):
                    x = (k1 + fa) * a + (k2 + fb) * a * np.cos(gamma)
                    y = (k2 + fb) * a * np.sin(gamma)
                    h = (k3 + fc) * c
                    depth = c - h
                    if not (-TOL < depth < c - TOL):
                        continue
                    rx, ry = y / sx, -x / sy
                    if -TOL <= rx <= 1 - TOL and -TOL <= ry <= 1 - TOL:
                        out.append((z_number, y, -x, abs(depth)))
    return out


class KestralCli(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kestral_cli_")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def assert_ok(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_help(self):
        result = run("--help")
        self.assert_ok(result)
        self.assertIn("kestral-cli slice CRYSTAL.txt --uvw U V W", result.stdout)

    def test_strontium_titanate_layers(self):
        result = run("layers", SRTIO3, "--uvw", "2", "0", "0")
        self.assert_ok(result)
        self.assertIn("direction: [1 0 0]", result.stdout)
        self.assertIn("repeat distance: 3.9050000", result.stdout)
        self.assertIn("layer spacing: 1.9525000", result.stdout)
        self.assertIn("plane 1: height 1.9525000", result.stdout)
        self.assertIn("super cell: X=3.9050000 Y=3.9050000", result.stdout)

    def test_strontium_titanate_end_to_end(self):
        result = run("slice", SRTIO3, "--uvw", "1", "0", "0",
                     "--reference", self.path("ref.txt"), "--normal", self.path("slab.dat"),
                     "--convergent", self.path("sto.xyz"), "--pages", self.path("page.bmp"),
                     "--crystal-out", self.path("again.txt"))
        self.assert_ok(result)
        self.assertEqual(sorted(os.listdir(self.tmp)),
                         ["again.txt", "page.bmp", "ref.txt", "slab1.dat", "slab2.dat", "sto.xyz"])
        self.assertEqual(read_bytes(self.path("again.txt")), read_bytes(SRTIO3))
        ref = read_bytes(self.path("ref.txt")).decode("ascii")
        self.assertIn(" Ti    22    -1.9525000   0.5000000   0.5000000\r\n", ref)
        self.assertTrue(read_bytes(self.path("slab1.dat")).startswith(
            b"     3.9050000\t   3.9050000\t   1.9525000\r\n0\r\n38\r\n"))

        atoms, extra = ase_atoms(self.path("sto.xyz"), self.tmp)
        self.assertEqual(list(atoms.numbers), [38, 8, 8, 8, 22])
        h = 3.905 / 2
        np.testing.assert_allclose(atoms.positions, [[0, 0, 0], [h, h, 0], [h, 0, h], [0, h, h],
                                                     [h, h, h]], atol=1e-7)
        np.testing.assert_allclose(atoms.cell.lengths(), [3.905, 3.905, 3.905])
        np.testing.assert_allclose(atoms.get_array("occupancies"), 1.0)
        np.testing.assert_allclose(atoms.get_array("debye_waller_factors"),
                                   0.076 ** 2 * 8 * np.pi ** 2)
        # Our one row past the standard part: the first atom one repeat distance down.
        self.assertEqual(extra, b"     38     0.0000000   0.0000000   3.9050000   1.0   0.076\r\n")

        page = Image.open(self.path("page.bmp"))
        self.assertEqual(page.size, (1024, 747))
        self.assertEqual(page.mode, "P")
        raw = read_bytes(self.path("page.bmp"))
        self.assertEqual(struct.unpack_from("<I", raw, 10)[0], 118)
        self.assertEqual(struct.unpack_from("<H", raw, 28)[0], 4)
        palette = page.getpalette()
        colours = {tuple(palette[3 * i:3 * i + 3]) for _, i in page.getcolors()}
        self.assertIn((0, 0, 255), colours)  # oxygen
        self.assertIn((255, 0, 0), colours)  # titanium
        self.assertIn((255, 255, 255), colours)

    def test_hexagonal_cell_against_an_independent_slicing(self):
        result = run("slice", ZNO, "--uvw", "0", "0", "1", "--convergent", self.path("zno.xyz"),
                     "--normal", self.path("zno.dat"), "--pages", self.path("zno.bmp"))
        self.assert_ok(result)
        atoms, _ = ase_atoms(self.path("zno.xyz"), self.tmp)
        a, c = 3.25, 5.21
        expected = hexagonal_reference(a, c, [(30, 0, 0, 0), (30, 1 / 3, 2 / 3, 0.5),
                                              (8, 0, 0, 0.375), (8, 1 / 3, 2 / 3, 0.875)])
        got = sorted((int(n), *p) for n, p in zip(atoms.numbers, atoms.positions))
        self.assertEqual(len(got), 8)  # two formula units in the a*sqrt(3) x a rectangle
        key = lambda r: (r[0], round(r[1], 2) + 0.0, round(r[2], 2) + 0.0, round(r[3], 2) + 0.0)
        got, expected = sorted(got, key=key), sorted(expected, key=key)
        self.assertEqual([r[0] for r in got], [r[0] for r in expected])
        np.testing.assert_allclose(np.array(got)[:, 1:], np.array(expected)[:, 1:], atol=1e-6)
        # Eight planes, four of them empty: four slice files whose thicknesses add up to c.
        names = sorted(n for n in os.listdir(self.tmp) if n.endswith(".dat"))
        self.assertEqual(names, ["zno1.dat", "zno2.dat", "zno3.dat", "zno4.dat"])
        thick = [float(read_bytes(self.path(n)).split(b"\r\n")[0].split(b"\t")[2]) for n in names]
        np.testing.assert_allclose(thick, [c / 8, 3 * c / 8, c / 8, 3 * c / 8], atol=1e-6)
        # Two pages of planes.
        self.assertTrue(os.path.exists(self.path("zno1.bmp")))
        self.assertTrue(os.path.exists(self.path("zno2.bmp")))
        self.assertFalse(os.path.exists(self.path("zno3.bmp")))

    def test_reversed_direction(self):
        result = run("slice", SRTIO3, "--uvw", "-1", "0", "0", "--reference", self.path("r.txt"),
                     "--convergent", self.path("r.xyz"))
        self.assert_ok(result)
        ref = read_bytes(self.path("r.txt")).decode("ascii")
        self.assertIn("u=-1   v=0   w=0", ref)
        self.assertIn(" Ti    22     1.9525000", ref)
        atoms, _ = ase_atoms(self.path("r.xyz"), self.tmp)
        self.assertEqual(sorted(atoms.numbers), [8, 8, 8, 22, 38])
        self.assertTrue(np.all(atoms.positions[:, 2] >= 0))

    def test_client_size(self):
        # A page drawn for a program window: W x (H - 21) pixels, the panels where they would be.
        result = run("slice", SRTIO3, "--uvw", "1", "0", "0", "--client", "901", "648",
                     "--pages", self.path("small.bmp"))
        self.assertEqual(result.returncode, 0, result.stderr)
        with Image.open(self.path("small.bmp")) as im:
            self.assertEqual(im.size, (901, 627))
            px = im.convert("RGB").load()
            hx, hy = (901 - 275) // 4, (648 - 81) // 4
            cx, cy = (901 - 215) // 2 - hx, (648 - 9) // 2 - hy
            # The upper-left frame's top edge, in picture rows (the icon bar is not captured).
            self.assertEqual(px[cx, cy - hy + 2 - 21], (0, 0, 0))
        for bad in (["10", "648"], ["901"], ["901", "x"], ["9000", "648"]):
            result = run("slice", SRTIO3, "--uvw", "1", "0", "0", "--client", *bad)
            self.assertEqual(result.returncode, 2, bad)

    def test_refusals(self):
        result = run("slice", SRTIO3, "--uvw", "0", "0", "0", "--reference", self.path("x.txt"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("Error: u=v=w=0 is not allowed.", result.stderr)
        self.assertFalse(os.path.exists(self.path("x.txt")))

        broken = self.path("broken.txt")
        with open(broken, "wb") as f:
            f.write(b"a axis=3.9\tb axis=3.9\tc axis=3.9\r\nalpha=120\tbeta=90\tgamma=90\r\n")
        result = run("layers", broken, "--uvw", "1", "0", "0")
        self.assertEqual(result.returncode, 1)
        self.assertIn("Error: Wrong data file.", result.stderr)

        result = run("layers", self.path("missing.txt"), "--uvw", "1", "0", "0")
        self.assertEqual(result.returncode, 1)
        self.assertIn("The file does not exist.", result.stderr)

        # Along [1 1 1] this orthorhombic cell has no super cell: the writers refuse.
        lonely = self.path("lonely.txt")
        with open(lonely, "wb") as f:
            f.write(b"3 4 5\r\n90 90 90\r\nSi 14 0 0 0 BLUE\r\n")
        result = run("slice", lonely, "--uvw", "1", "1", "1", "--reference", self.path("y.txt"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("Unable to determine the super cell rectangle.", result.stderr)
        self.assertIn("Unable to make a data file,", result.stderr)
        self.assertFalse(os.path.exists(self.path("y.txt")))

        result = run("slice", SRTIO3, "--uvw", "1", "x", "0")
        self.assertEqual(result.returncode, 2)

    def test_directions_too_long_to_slice(self):
        # In lowest terms [40 0 0] is [1 0 0]: the bound applies to the reduced direction.
        result = run("layers", SRTIO3, "--uvw", "40", "0", "0")
        self.assert_ok(result)
        self.assertIn("repeat distance: 3.9050000", result.stdout)
        # [100 1 0] would take some 10^13 height evaluations per atom: refused at once.
        for uvw in (["100", "1", "0"], ["2147483647", "0", "1"], ["-99999999999", "1", "1"]):
            result = subprocess.run([CLI, "layers", SRTIO3, "--uvw", *uvw], capture_output=True,
                                    text=True, timeout=30)
            self.assertEqual(result.returncode, 2, uvw)
            self.assertIn("--uvw", result.stderr)


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
