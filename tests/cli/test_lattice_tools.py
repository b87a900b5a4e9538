#!/usr/bin/python3
"""voralin00-cli's lattice tools checked from outside: synthetic lattices made with numpy and
written by Pillow; the spot list read with numpy's CSV reader; filtered images and removed parts
compared with numpy implementations of the same definitions; plots read by Pillow."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

import numpy as np
from PIL import Image
from scipy.special import erfc

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_voralin00_cli import frame_of  # noqa: E402  numpy's own mirror frame

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
CLI = os.path.join(BIN, "voralin00-cli")


def run(*args, env=None):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=600, env=env)


def vector(d, angle):
    """g of spacing d (pixels) at `angle` degrees counter-clockwise from x as seen (y down)."""
    t = np.radians(angle)
    return np.array([np.cos(t), -np.sin(t)]) / d


def lattice_image(w, h, d1, a1, d2, a2, noise, seed=1):
    """Two lattice fringes and their sum, phases at random, Gaussian noise; 8-bit."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:h, 0:w].astype(float)
    g1, g2 = vector(d1, a1), vector(d2, a2)
    img = np.zeros((h, w))
    for g, amp in ((g1, 1.0), (g2, 0.8), (g1 + g2, 0.5)):
        img += amp * np.cos(2 * np.pi * (g[0] * x + g[1] * y) + rng.uniform(0, 2 * np.pi))
    img += noise * rng.standard_normal((h, w))
    img = (img - img.min()) / (img.max() - img.min()) * 200 + 20
    return np.clip(np.rint(img), 0, 255).astype(np.uint8), [g1, g2, g1 + g2]


def hann(length):
    return np.sin(np.pi * (np.arange(length) + 0.5) / length) ** 2


def windowed_frame(pixels, n):
    h, w = pixels.shape
    ox, oy = (n - w) // 2, (n - h) // 2
    f = np.zeros((n, n))
    f[oy:oy + h, ox:ox + w] = pixels * np.outer(hann(h), hann(w))
    sign = np.where((np.add.outer(np.arange(n), np.arange(n)) % 2) == 0, 1.0, -1.0)
    return f * sign


def radial_bins(n):
    r = np.arange(n) - n / 2.0
    return np.floor(np.sqrt(r[:, None] ** 2 + r[None, :] ** 2) + 0.5).astype(int)


def radial_mean(power):
    bins = radial_bins(power.shape[0])
    return np.bincount(bins.ravel(), power.ravel()) / np.bincount(bins.ravel()), bins


def filtered_window(spectrum, weights, n, ox, oy, w, h):
    """Real part of the inverse of spectrum x weights over the image, modulation removed."""
    back = np.fft.ifft2(spectrum * weights)
    sign = np.where((np.add.outer(np.arange(n), np.arange(n)) % 2) == 0, 1.0, -1.0)
    return (back.real * sign)[oy:oy + h, ox:ox + w]


def soft_disc(dist, radius, sigma):
    if sigma == 0:
        return (dist < radius).astype(float)
    return 0.5 * erfc((dist - radius) / (np.sqrt(2) * sigma))


class LatticeTools(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def save(self, pixels, name="in.bmp"):
        p = self.path(name)
        Image.fromarray(pixels).save(p)
        return p

    def spots(self, pixels, *extra):
        src = self.save(pixels)
        csv = self.path("spots.csv")
        r = run("spots", src, "--csv", csv, *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        return np.genfromtxt(csv, delimiter=",", names=True, ndmin=1), r.stdout

    # --- the spot finder -------------------------------------------------------------------

    def test_finder_reports_every_spacing_and_angle_on_noisy_non_square_lattices(self):
        cases = [  # width, height, d1, angle1, d2, angle2, noise
            (300, 250, 8.0, 12.0, 11.0, 82.0, 0.6),
            (257, 190, 6.3, -35.0, 9.7, 40.0, 1.0),
            (400, 180, 14.2, 101.0, 5.1, 167.0, 0.8),
            (512, 512, 7.0, 0.0, 7.0, 90.0, 1.5),
        ]
        worst_d, worst_angle = 0.0, 0.0
        for w, h, d1, a1, d2, a2, noise in cases:
            with self.subTest(case=(w, h, d1, a1, d2, a2)):
                pixels, truth = lattice_image(w, h, d1, a1, d2, a2, noise)
                table, _ = self.spots(pixels, "--count", "6")
                n = frame_of(pixels)[1]
                found = np.stack([table["x_px"], table["y_px"]], axis=1) / n
                weakest_true = np.inf
                matched = set()
                for g in truth:
                    for sign in (1, -1):
                        k = np.argmin(np.linalg.norm(found - sign * g, axis=1))
                        matched.add(k)
                        d_true = 1 / np.linalg.norm(g)
                        angle_true = np.degrees(np.arctan2(-sign * g[1], sign * g[0]))
                        d_err = abs(table["d_px"][k] - d_true) / d_true
                        a_err = abs((table["angle_deg"][k] - angle_true + 180) % 360 - 180)
                        worst_d, worst_angle = max(worst_d, d_err), max(worst_angle, a_err)
                        self.assertLess(d_err, 0.005, (g, table[k]))
                        self.assertLess(a_err, 0.3, (g, table[k]))
                        weakest_true = min(weakest_true, table["power"][k])
                spurious = [k for k in range(len(table)) if k not in matched]
                for k in spurious:
                    self.assertLess(table["power"][k], weakest_true, table[k])
                # Friedel mates: each spot's mate sits at minus its position.
                for row in table:
                    mate = table[table["number"] == row["mate"]][0]
                    self.assertAlmostEqual(row["x_px"], -mate["x_px"], places=3)
                    self.assertAlmostEqual(row["y_px"], -mate["y_px"], places=3)
        print(f"\nfinder: worst d-spacing error {100 * worst_d:.4f} %, "
              f"worst angle error {worst_angle:.4f} deg", file=sys.stderr)

    def test_finder_basis_and_calibration(self):
        pixels, truth = lattice_image(300, 260, 8.0, 20.0, 12.0, 95.0, 0.5)
        table, out = self.spots(pixels, "--pixel-size", "0.05")
        self.assertIn("g_per_nm", table.dtype.names)
        self.assertIn("d_nm", table.dtype.names)
        # d in nm is d in pixels times the pixel size.
        k = np.argmin(np.abs(table["d_nm"] - 12.0 * 0.05))
        self.assertAlmostEqual(table["d_nm"][k], 0.6, delta=0.6 * 0.005)
        self.assertAlmostEqual(table["g_per_nm"][k] * table["d_nm"][k], 1.0, places=5)
        # The basis: the two shortest non-collinear spots, g2 within 90 degrees of g1.
        line = [l for l in out.splitlines() if l.startswith("Basis")][0]
        nums = [float(v) for v in line.replace("(", " ").replace(")", " ").replace(",", " ").split()
                if v.replace(".", "").replace("-", "").isdigit()]
        g1, g2 = np.array(nums[:2]), np.array(nums[2:])
        n = frame_of(pixels)[1]
        self.assertAlmostEqual(np.linalg.norm(g1) / n, np.linalg.norm(truth[1]), delta=1e-3)
        self.assertAlmostEqual(np.linalg.norm(g2) / n, np.linalg.norm(truth[0]), delta=1e-3)
        self.assertGreaterEqual(np.dot(g1, g2), 0)

    def test_finder_says_so_when_there_is_nothing(self):
        rng = np.random.default_rng(7)
        for name, pixels in (("flat", np.full((128, 100), 77, np.uint8)),
                             ("noise", rng.integers(0, 256, (200, 240)).astype(np.uint8))):
            with self.subTest(name):
                table, out = self.spots(pixels)
                self.assertEqual(len(np.atleast_1d(table)), 0 if table.size == 0 else table.size)
                self.assertEqual(table.size, 0)
                self.assertIn("No lattice spots found", out)
        src = self.save(np.full((128, 100), 77, np.uint8))
        env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="")
        r = run("spots", src, env=env)
        self.assertIn("格子スポットは見つかりませんでした", r.stdout)

    def test_fringes_in_one_direction_give_no_basis_in_the_programs_words(self):
        # One set of fringes: a Friedel pair, nothing off its line, so no basis. The list says so
        # and a lattice mask without --basis is refused, both in the words the program shows.
        rng = np.random.default_rng(3)
        y, x = np.mgrid[0:160, 0:200].astype(float)
        g = vector(9.0, 30.0)
        img = 128 + 90 * np.cos(2 * np.pi * (g[0] * x + g[1] * y) + 0.4)
        img += rng.normal(0, 4, img.shape)
        pixels = np.clip(np.rint(img), 0, 255).astype(np.uint8)
        english = "No lattice basis: the spots found do not point in two different directions."
        japanese = "格子の基本ベクトルがありません。見つかったスポットが 2 つの異なる向きを向いていません。"
        table, out = self.spots(pixels)
        src = self.path("in.bmp")
        self.assertEqual(table.size, 2)
        self.assertAlmostEqual(table["d_px"][0], 9.0, delta=0.05)
        self.assertFalse([l for l in out.splitlines() if l.startswith("Basis")])
        self.assertIn(english, out.splitlines())
        out_bmp = self.path("o.bmp")
        r = run("filter", src, out_bmp, "--lattice-mask", "keep", "--radius", "3")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.strip(), "voralin00-cli: " + english)
        self.assertFalse(os.path.exists(out_bmp))
        env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="")
        r = run("spots", src, env=env)
        self.assertIn(japanese, r.stdout.splitlines())
        r = run("filter", src, out_bmp, "--lattice-mask", "remove", "--radius", "3", env=env)
        self.assertEqual(r.returncode, 1)
        self.assertIn(japanese, r.stderr)

    def test_finder_memory_and_time_on_4096_square(self):
        pixels, _ = lattice_image(4096, 4096, 9.0, 12.0, 13.0, 80.0, 0.8)
        src = self.save(pixels)
        del pixels
        # Measured from a small parent: a child forked from this test process would count the
        # test's own arrays until it runs the tool.
        probe = ("import resource, subprocess, sys, time\n"
                 "t = time.monotonic()\n"
                 "r = subprocess.run(sys.argv[1:], capture_output=True)\n"
                 "print(r.returncode, time.monotonic() - t,"
                 " resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
        r = subprocess.run([sys.executable, "-c", probe, CLI, "spots", src, "--count", "3"],
                           capture_output=True, text=True, timeout=600)
        code, spots_time, peak_kib = r.stdout.split()
        spots_time, peak_kib = float(spots_time), int(peak_kib)
        self.assertEqual(code, "0")
        # The finder's own transform holds 8 n (n/2 + 1) bytes = 268 MB at n = 8192; the whole
        # run (with the 16 MB picture) stays within half a GiB.
        self.assertLess(peak_kib * 1024, 512 * 2**20)
        start = time.monotonic()
        r = run("spectrum", src, self.path("s.bmp"))
        spectrum_time = time.monotonic() - start
        self.assertEqual(r.returncode, 0, r.stderr)
        print(f"\n4096 x 4096: spots {spots_time:.2f} s, {peak_kib / 1024:.0f} MiB; "
              f"spectrum {spectrum_time:.2f} s", file=sys.stderr)
        # A few real-input transforms and passes over the frame: never far more than the whole
        # spectrum command (the spectrum's two-thread transform is the faster of the two since
        # its frames stopped paying for huge-page compaction; the finder's own is unchanged).
        self.assertLess(spots_time, 3.0 * spectrum_time + 1.0)

    # --- frames and display ----------------------------------------------------------------

    def test_windowed_frame_shows_no_mirror_ghosts(self):
        pixels, truth = lattice_image(300, 250, 8.0, 12.0, 11.0, 70.0, 0.3)
        src = self.save(pixels)
        n = frame_of(pixels)[1]
        shown = {}
        for frame in ("mirror", "windowed"):
            out = self.path(frame + ".bmp")
            r = run("spectrum", src, out, "--frame", frame, "--log")
            self.assertEqual(r.returncode, 0, r.stderr)
            shown[frame] = np.asarray(Image.open(out).convert("L"), dtype=float)
        cx, cy = n // 2 - (n - 300) // 2, n // 2 - (n - 250) // 2

        def level(img, g):
            x, y = int(round(cx + g[0] * n)), int(round(cy + g[1] * n))
            return img[y - 2:y + 3, x - 2:x + 3].max()

        g = truth[0]
        ghost = np.array([g[0], -g[1]])  # the mirror image of the spot
        background = np.median(shown["windowed"])
        self.assertGreater(level(shown["windowed"], g), background + 60)
        self.assertLess(level(shown["windowed"], ghost), background + 30)
        self.assertGreater(level(shown["mirror"], ghost), np.median(shown["mirror"]) + 60)
        # The default is the mirror frame, byte for byte.
        default = self.path("default.bmp")
        run("spectrum", src, default, "--log")
        with open(default, "rb") as a, open(self.path("mirror.bmp"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_whole_frame_reaches_the_sampling_limit(self):
        # Fringes of 2.5 pixels lie beyond the central window of a 300 x 250 image in a 512
        # frame (their spot is 205 samples out) but inside the whole frame.
        h, w = 250, 300
        y, x = np.mgrid[0:h, 0:w]
        pixels = np.clip(128 + 90 * np.cos(2 * np.pi * x / 2.5), 0, 255).astype(np.uint8)
        src = self.save(pixels)
        out = self.path("whole.bmp")
        r = run("spectrum", src, out, "--frame", "windowed", "--whole-frame", "--log")
        self.assertEqual(r.returncode, 0, r.stderr)
        img = np.asarray(Image.open(out).convert("L"), dtype=float)
        n = 512
        col = int((n / 2 + n / 2.5) * w / n)
        self.assertGreater(img[h // 2 - 2:h // 2 + 3, col - 2:col + 3].max(), np.median(img) + 80)

    # --- masks and filters against numpy --------------------------------------------------

    def filtered(self, pixels, *options):
        src = self.save(pixels)
        f, d = self.path("f.npy"), self.path("d.npy")
        r = run("filter", src, self.path("out.bmp"), "--npy", f, "--difference-npy", d, *options)
        self.assertEqual(r.returncode, 0, r.stderr)
        return np.load(f), np.load(d)

    def assert_close(self, got, want, tolerance=1e-9):
        scale = np.abs(want).max()
        self.assertLess(np.abs(got - want).max(), tolerance * scale)

    def test_auto_radius_covers_the_basis_spots_of_the_bundled_micrograph(self):
        sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "sample",
                              "lattice.bmp")
        pixels = np.asarray(Image.open(sample).convert("L"), dtype=float)
        h, w = pixels.shape
        r = run("spots", sample)
        self.assertEqual(r.returncode, 0, r.stderr)
        n = int(r.stdout.split()[1])
        basis = r.stdout.split("Basis g1 = ")[1]
        g = [tuple(float(v) for v in part.strip(" ()\n").split(", "))
             for part in basis.replace("g2 = ", "").split("), ")]
        # numpy's own half width of each basis spot's magnitude: a direct DFT of the Hann-weighted
        # image (less its weighted mean) along lines through the spot, a fiftieth of a sample
        # apart, measured where |F| falls to half its maximum.
        weight = np.outer(hann(h), hann(w))
        centred = (pixels - (pixels * weight).sum() / weight.sum()) * weight
        steps = np.linspace(-6, 6, 601)

        def magnitude(kx, ky):
            ex = np.exp(-2j * np.pi * np.outer(kx, np.arange(w)) / n)
            ey = np.exp(-2j * np.pi * np.outer(ky, np.arange(h)) / n)
            return np.abs(((ey @ centred) * ex).sum(axis=1))

        widths = []
        for gx, gy in g:
            for across in (True, False):
                line = magnitude(gx + steps * across, gy + steps * (not across))
                above = steps[line >= line.max() / 2]
                widths.append((above.max() - above.min()) / 2)
        expected = 2 * np.mean(widths)
        for extra in ((), ("--pixel-size", "0.2")):
            out = self.path("auto.bmp")
            r = run("filter", sample, out, "--lattice-mask", "keep", "--radius", "auto", *extra)
            self.assertEqual(r.returncode, 0, r.stderr)
            line = r.stdout.strip().splitlines()[0]
            radius = int(line.split(": ")[1].split()[0])
            self.assertLessEqual(abs(radius - expected), 1.0, (line, expected))
            if extra:
                self.assertTrue(line.endswith(", %.4g 1/nm" % (radius / (n * 0.2))), line)
            # The same picture as that radius given as a number.
            fixed = self.path("fixed.bmp")
            r = run("filter", sample, fixed, "--lattice-mask", "keep", "--radius", str(radius),
                    *extra)
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(out, "rb") as a, open(fixed, "rb") as b:
                self.assertEqual(a.read(), b.read())

        # What the removed part keeps of the source's power at the basis spots and their mates
        # (discs of two bins of the image's own DFT): at most 1 % with the auto radius, where the
        # old default of 3 samples left more.
        yy, xx = np.mgrid[0:h, 0:w]

        def spot_power(values):
            power = np.abs(np.fft.fftshift(np.fft.fft2(values - values.mean()))) ** 2
            total = 0.0
            for gx, gy in g:
                for sign in (1, -1):
                    cx, cy = w // 2 + sign * gx * w / n, h // 2 + sign * gy * h / n
                    total += power[(xx - cx) ** 2 + (yy - cy) ** 2 <= 4.0].sum()
            return total

        source = spot_power(pixels)
        kept = {}
        for radius in ("auto", "3"):
            removed = self.path("removed.npy")
            r = run("filter", sample, self.path("k.bmp"), "--lattice-mask", "keep", "--radius",
                    radius, "--difference-npy", removed)
            self.assertEqual(r.returncode, 0, r.stderr)
            kept[radius] = spot_power(np.load(removed)) / source
        self.assertLessEqual(kept["auto"], 0.01, kept)
        self.assertGreater(kept["3"], 0.01, kept)

    def test_spots_on_the_axes_print_no_signed_zero(self):
        y, x = np.mgrid[0:128, 0:128]
        pixels = 128 + 60 * np.cos(2 * np.pi * y / 8) + 40 * np.cos(2 * np.pi * x / 16)
        table, out = self.spots(np.clip(pixels, 0, 255).astype(np.uint8))
        self.assertEqual(len(table), 4)
        self.assertRegex(out, r"Basis g1 = \(32\.000, 0\.000\), g2 = \(0\.000, -6[34]\.\d+\)")
        self.assertNotRegex(out, r"-0\.000\b")

    def test_auto_radius_words_and_refusals(self):
        pixels, _ = lattice_image(200, 170, 7.0, 30.0, 10.0, 100.0, 0.5)
        src = self.save(pixels)
        r = run("filter", src, self.path("o.bmp"), "--radius", "auto")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("--radius and --basis belong to --lattice-mask", r.stderr)
        r = run("filter", src, self.path("o.bmp"), "--lattice-mask", "remove", "--radius", "car")
        self.assertNotEqual(r.returncode, 0)
        # With a basis given, the width still comes from the finder's spots.
        r = run("filter", src, self.path("o.bmp"), "--lattice-mask", "remove", "--radius", "auto",
                "--basis", "62.6,-13.3;6.5,-46.1")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertRegex(r.stdout, r"^Lattice mask radius: \d+ samples \(auto\)")

    def test_lattice_mask_with_soft_edges_equals_numpy(self):
        pixels, _ = lattice_image(300, 250, 8.0, 12.0, 11.0, 82.0, 0.5)
        frame, n, ox, oy = frame_of(pixels)
        spectrum = np.fft.fft2(frame)
        b1, b2 = np.array([62.6, -13.3]), np.array([6.5, -46.1])
        fy, fx = np.mgrid[0:n, 0:n] - n / 2.0
        for mode, radius, sigma in (("keep", 4.0, 1.5), ("remove", 3.0, 0.0), ("keep", 6.5, 0.7)):
            with self.subTest(mode=mode, radius=radius, sigma=sigma):
                # Brute force over every lattice point that can touch the frame.
                nearest = np.full((n, n), np.inf)
                for i in range(-12, 13):
                    for j in range(-12, 13):
                        p = i * b1 + j * b2
                        nearest = np.minimum(nearest, np.hypot(fx - p[0], fy - p[1]))
                inside = soft_disc(nearest, radius, sigma)
                weights = inside if mode == "keep" else 1 - inside
                got, removed = self.filtered(
                    pixels, "--lattice-mask", mode, "--radius", str(radius), "--edge-sigma",
                    str(sigma), "--basis", "62.6,-13.3;6.5,-46.1")
                h, w = pixels.shape
                self.assert_close(got, filtered_window(spectrum, weights, n, ox, oy, w, h))
                self.assert_close(removed, filtered_window(spectrum, 1 - weights, n, ox, oy, w, h))
                # The two parts add up to the original frame.
                self.assertLess(np.abs(got + removed - pixels).max(), 1e-9 * pixels.max())

    def test_soft_circles_and_standard_filters_equal_numpy(self):
        pixels, _ = lattice_image(200, 170, 7.0, 30.0, 10.0, 100.0, 0.5)
        frame, n, ox, oy = frame_of(pixels)
        h, w = pixels.shape
        spectrum = np.fft.fft2(frame)
        rows, cols = np.mgrid[0:n, 0:n]
        dist = np.hypot(rows - n / 2.0, cols - n / 2.0)
        R = np.hypot(w, h) / 2
        sigma = 2.0
        cases = {
            "low": soft_disc(dist, 0.3 * R, sigma),
            "high": 1 - soft_disc(dist, 0.3 * R, sigma),
            "band-pass": soft_disc(dist, 0.6 * R, sigma) * (1 - soft_disc(dist, 0.3 * R, sigma)),
            "band-cut": 1 - soft_disc(dist, 0.6 * R, sigma) * (1 - soft_disc(dist, 0.3 * R, sigma)),
        }
        for name, weights in cases.items():
            with self.subTest(name):
                got, _ = self.filtered(pixels, "--filter", name, "--wa", "0.3", "--wb", "0.6",
                                       "--edge-sigma", str(sigma))
                self.assert_close(got, filtered_window(spectrum, weights, n, ox, oy, w, h))
        # Circles with their centro-symmetric mates: centre (cx, cy) of the picture.
        cx, cy = n // 2 - ox, n // 2 - oy
        circles = [(cx + 20, cy - 9, 5), (cx - 3, cy + 25, 4)]
        inside = np.zeros((n, n))
        for x, y, r in circles + [(2 * cx - x, 2 * cy - y, r) for x, y, r in circles]:
            d = np.hypot(cols - x - ox, rows - y - oy)
            inside = np.maximum(inside, soft_disc(d, r, sigma))
        circles_text = ";".join(f"{x},{y},{r}" for x, y, r in circles)
        got, _ = self.filtered(pixels, "--circles-outside", circles_text, "--symmetric", "--edge-sigma",
                               str(sigma))
        self.assert_close(got, filtered_window(spectrum, inside, n, ox, oy, w, h))
        # Sigma 0 is the hard edge, byte for byte.
        src = self.save(pixels)
        a, b = self.path("a.bmp"), self.path("b.bmp")
        run("filter", src, a, "--filter", "band-pass", "--wa", "0.3", "--wb", "0.6")
        run("filter", src, b, "--filter", "band-pass", "--wa", "0.3", "--wb", "0.6",
            "--edge-sigma", "0")
        with open(a, "rb") as fa, open(b, "rb") as fb:
            self.assertEqual(fa.read(), fb.read())

    def test_wiener_and_absf_equal_numpy_from_the_formulas(self):
        pixels, _ = lattice_image(220, 180, 7.0, 30.0, 10.0, 100.0, 2.0)
        frame, n, ox, oy = frame_of(pixels)
        h, w = pixels.shape
        spectrum = np.fft.fft2(frame)
        # fft2 of the modulated frame puts the zero frequency at (n/2, n/2), as the engine does.
        power = np.abs(spectrum) ** 2
        mean, bins = radial_mean(power)
        for c, smoothing in ((1.0, 1), (2.5, 2), (0.5, 0)):
            with self.subTest(c=c, smoothing=smoothing):
                noise = c * mean[bins]
                # Kilaas: (|F|^2 - |B|^2) / |F|^2, nothing where the background wins.
                absf = np.where(power > noise, (power - noise) / np.where(power > 0, power, 1), 0)
                absf[n // 2, n // 2] = 1  # the mean is signal
                got, _ = self.filtered(pixels, "--absf", "--noise-scale", str(c))
                self.assert_close(got, filtered_window(spectrum, absf, n, ox, oy, w, h))
                # Marks: S / (S + N), S from the power averaged over a (2h+1)^2 neighbourhood
                # that wraps around the frame as the spectrum does.
                k = 2 * smoothing + 1
                total = sum(np.roll(power, (dy, dx), axis=(0, 1))
                            for dy in range(-smoothing, smoothing + 1)
                            for dx in range(-smoothing, smoothing + 1))
                signal = np.maximum(total / k ** 2 - noise, 0)
                denom = signal + noise
                wiener = np.where(denom > 0, signal / np.where(denom > 0, denom, 1), 0)
                wiener[n // 2, n // 2] = 1
                got, _ = self.filtered(pixels, "--wiener", "--noise-scale", str(c),
                                       "--smoothing", str(smoothing))
                self.assert_close(got, filtered_window(spectrum, wiener, n, ox, oy, w, h))

    def test_removed_part_picture_is_its_stretch(self):
        pixels, _ = lattice_image(200, 150, 7.0, 30.0, 10.0, 100.0, 1.0)
        src = self.save(pixels)
        d_bmp, d_npy = self.path("d.bmp"), self.path("d.npy")
        r = run("filter", src, self.path("f.bmp"), "--filter", "low", "--wa", "0.2",
                "--difference", d_bmp, "--difference-npy", d_npy)
        self.assertEqual(r.returncode, 0, r.stderr)
        removed = np.load(d_npy)
        shown = np.asarray(Image.open(d_bmp).convert("L"), dtype=float)
        want = np.floor((removed - removed.min()) / (removed.max() - removed.min()) * 255)
        self.assertLessEqual(np.abs(shown - want).max(), 1)
        # As a float TIFF: the removed part's own values, read back by tifffile.
        import tifffile
        d_tif = self.path("d.tif")
        r = run("filter", src, self.path("f2.bmp"), "--filter", "low", "--wa", "0.2",
                "--difference", d_tif)
        self.assertEqual(r.returncode, 0, r.stderr)
        values = tifffile.imread(d_tif)
        self.assertEqual(values.dtype, np.float32)
        np.testing.assert_allclose(values, removed.astype(np.float32), rtol=0, atol=1e-4)

    # --- radial profile --------------------------------------------------------------------

    def test_radial_profile_equals_numpy_binning(self):
        pixels, _ = lattice_image(300, 250, 8.0, 12.0, 11.0, 82.0, 0.5)
        src = self.save(pixels)
        n = frame_of(pixels)[1]
        for frame in ("mirror", "windowed"):
            with self.subTest(frame):
                csv, png = self.path("r.csv"), self.path("r.png")
                r = run("radial", src, csv, "--plot", png, "--frame", frame)
                self.assertEqual(r.returncode, 0, r.stderr)
                table = np.genfromtxt(csv, delimiter=",", names=True)
                f = frame_of(pixels)[0] if frame == "mirror" else windowed_frame(pixels, n)
                mean, _ = radial_mean(np.abs(np.fft.fft2(f)) ** 2)
                self.assertEqual(len(table), n // 2 + 1)
                np.testing.assert_allclose(table["power"], mean[:n // 2 + 1], rtol=1e-9)
                np.testing.assert_allclose(table["g_per_pixel"], np.arange(n // 2 + 1) / n)
                plot = Image.open(png)
                self.assertEqual(plot.format, "PNG")
                self.assertEqual(plot.mode, "RGB")
                rgb = np.asarray(plot)
                self.assertTrue(((rgb[..., 0] > 150) & (rgb[..., 1] < 50)).any())  # the curve
        r = run("radial", src, self.path("c.csv"), "--pixel-size", "0.02")
        table = np.genfromtxt(self.path("c.csv"), delimiter=",", names=True)
        np.testing.assert_allclose(table["g_per_nm"], table["g_per_pixel"] / 0.02, rtol=1e-8)

    # --- sources above 8 bits ---------------------------------------------------------------

    def test_sixteen_bit_lattice_in_a_narrow_band_of_levels(self):
        """Fringes a few levels deep on a 30000 offset, two smooth blobs in the corners stretching
        the range to about 500 .. 64000: the 8-bit rendering rounds the fringes away, the
        source's own levels keep them."""
        import tifffile
        w, h = 300, 250
        rng = np.random.default_rng(5)
        y, x = np.mgrid[0:h, 0:w].astype(float)
        truth = [vector(8.0, 12.0), vector(11.0, 82.0)]
        truth.append(truth[0] + truth[1])
        fringes = np.zeros((h, w))
        for g, amp in zip(truth, (1.0, 0.8, 0.5)):
            fringes += amp * np.cos(2 * np.pi * (g[0] * x + g[1] * y) + rng.uniform(0, 2 * np.pi))
        img = 30000 + 4.0 * fringes + 1.5 * rng.standard_normal((h, w))
        img += 34000 * np.exp(-(x ** 2 + y ** 2) / (2 * 15 ** 2))
        img -= 29500 * np.exp(-((x - w + 1) ** 2 + (y - h + 1) ** 2) / (2 * 15 ** 2))
        samples = np.clip(np.rint(img), 0, 65535).astype(np.uint16)
        src = self.path("lattice16.tif")
        tifffile.imwrite(src, samples)
        levels = (samples.astype(np.float64) - samples.min()) / (
            float(samples.max()) - float(samples.min())) * 255.0
        n = frame_of(levels)[1]

        # The radial profile: numpy's binning of the power of the levels in the same frame.
        for frame in ("mirror", "windowed"):
            with self.subTest(frame):
                csv = self.path("r16.csv")
                r = run("radial", src, csv, "--frame", frame)
                self.assertEqual(r.returncode, 0, r.stderr)
                table = np.genfromtxt(csv, delimiter=",", names=True)
                f = frame_of(levels)[0] if frame == "mirror" else windowed_frame(levels, n)
                mean, _ = radial_mean(np.abs(np.fft.fft2(f)) ** 2)
                self.assertEqual(len(table), n // 2 + 1)
                np.testing.assert_allclose(table["power"], mean[:n // 2 + 1], rtol=1e-9)

        # The finder: every spacing of the lattice within 0.5 %, and its basis.
        csv = self.path("s16.csv")
        r = run("spots", src, "--csv", csv, "--count", "6")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("Basis", r.stdout)
        table = np.genfromtxt(csv, delimiter=",", names=True, ndmin=1)
        self.assertGreaterEqual(len(table), 6, r.stdout)
        found = np.stack([table["x_px"], table["y_px"]], axis=1) / n
        worst = 0.0
        for g in truth:
            for sign in (1, -1):
                k = np.argmin(np.linalg.norm(found - sign * g, axis=1))
                d_true = 1 / np.linalg.norm(g)
                d_err = abs(table["d_px"][k] - d_true) / d_true
                worst = max(worst, d_err)
                self.assertLess(d_err, 0.005, (g, table[k]))
                angle_true = np.degrees(np.arctan2(-sign * g[1], sign * g[0]))
                self.assertLess(abs((table["angle_deg"][k] - angle_true + 180) % 360 - 180), 0.3,
                                (g, table[k]))
        print(f"\nfinder on 16-bit levels: worst d-spacing error {100 * worst:.4f} %",
              file=sys.stderr)

    # --- refusals --------------------------------------------------------------------------

    def test_bad_lattices_are_refused_with_clear_messages(self):
        pixels, _ = lattice_image(200, 150, 7.0, 30.0, 10.0, 100.0, 1.0)
        src = self.save(pixels)
        out = self.path("o.bmp")
        cases = [
            (["--radius", "0", "--basis", "30,0;0,30"], "greater than 0", "0 より大きく"),
            (["--radius", "300", "--basis", "30,0;0,30"], "at most half", "半分以下"),
            (["--radius", "3", "--basis", "30,10;60,20"], "different directions", "異なる向き"),
            (["--radius", "3", "--basis", "0,0;10,0"], "different directions", "異なる向き"),
            (["--radius", "1", "--basis", "1,0;0,1.2"], "more lattice spots", "超えます"),
        ]
        for extra, english, japanese in cases:
            with self.subTest(extra=extra):
                r = run("filter", src, out, "--lattice-mask", "keep", *extra)
                self.assertEqual(r.returncode, 1)
                self.assertIn(english, r.stderr)
                self.assertFalse(os.path.exists(out))
                env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="")
                r = run("filter", src, out, "--lattice-mask", "keep", *extra, env=env)
                self.assertIn(japanese, r.stderr)
        noise = self.save(np.random.default_rng(2).integers(0, 256, (150, 150)).astype(np.uint8),
                          "noise.bmp")
        r = run("filter", noise, out, "--lattice-mask", "keep", "--radius", "3")
        self.assertEqual(r.returncode, 1)
        self.assertIn("No lattice spots found", r.stderr)
        usage = [
            ["--lattice-mask", "keep"],
            ["--radius", "3"],
            ["--basis", "1,2;3", "--lattice-mask", "keep", "--radius", "3"],
            ["--lattice-mask", "keep", "--radius", "3", "--wiener"],
            ["--circles-outside", ";".join(["10,10,3"] * 51), "--symmetric"],
            ["--symmetric"],
            ["--edge-sigma", "2"],
            ["--wiener", "--edge-sigma", "2"],
            ["--absf", "--smoothing", "2"],
            ["--noise-scale", "2"],
        ]
        for extra in usage:
            with self.subTest(usage=extra):
                self.assertEqual(run("filter", src, out, *extra).returncode, 2)


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
