#!/usr/bin/python3
"""Both command-line tools against hostile and unusual files, and against failing writes: nothing
of the user's is lost, nothing is misread. Inputs are made with Pillow, ImageMagick and by hand;
outputs are read back with Pillow and numpy."""
import os
import resource
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import numpy as np
from PIL import Image

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
DATA = os.environ.get("SUITE_TEST_DATA", "tests/data")
VORALIN = os.path.join(BIN, "voralin00-cli")
KESTRAL = os.path.join(BIN, "kestral-cli")
SRTIO3 = os.path.join(DATA, "crystal", "srtio3.txt")


def run(tool, *args, limit_bytes=None, env=None):
    def limit():
        if limit_bytes is not None:
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit_bytes, limit_bytes))
    return subprocess.run([tool, *args], capture_output=True, text=True, timeout=300,
                          preexec_fn=limit, env=env)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def texture(width, height, seed=5):
    rng = np.random.default_rng(seed)
    return rng.integers(0, 256, size=(height, width), dtype=np.uint8)


class Base(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="safe-files-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def assert_ok(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)

    def pillow_bmp(self, name, pixels):
        path = self.path(name)
        Image.fromarray(pixels, mode="L").save(path)
        return path

    def normalised_grey(self, source):
        out = self.path("normalised-check.bmp")
        self.assert_ok(run(VORALIN, "normalise", source, out))
        pixels = np.asarray(Image.open(out))
        os.remove(out)
        return pixels


class BitmapReader(Base):
    def test_pixels_start_at_bfoffbits(self):
        pixels = texture(64, 64)
        plain = read_bytes(self.pillow_bmp("plain.bmp", pixels))
        off = struct.unpack_from("<I", plain, 10)[0]
        gap = bytearray(plain[:off] + bytes(range(100, 116)) + plain[off:])
        struct.pack_into("<I", gap, 2, len(gap))
        struct.pack_into("<I", gap, 10, off + 16)
        source = self.path("gap.bmp")
        write_bytes(source, gap)
        expected = np.asarray(Image.open(source).convert("L"))
        np.testing.assert_array_equal(expected, pixels)  # Pillow reads it right
        np.testing.assert_array_equal(self.normalised_grey(source), expected)

    def test_bfoffbits_outside_the_file_or_inside_the_headers_is_refused(self):
        plain = read_bytes(self.pillow_bmp("plain.bmp", texture(64, 64)))
        for off in (10 ** 6, 20, 54 + 40):
            bad = bytearray(plain)
            struct.pack_into("<I", bad, 10, off)
            source = self.path("bad.bmp")
            write_bytes(source, bad)
            result = run(VORALIN, "info", source)
            self.assertEqual(result.returncode, 1, off)
            self.assertIn("Error: Not a bitmap file with correct format.", result.stderr)

    def test_imagemagick_default_headers_open_like_the_classic_one(self):
        if shutil.which("convert") is None:
            self.skipTest("ImageMagick is not installed")
        pixels = texture(70, 66, seed=8)
        png = self.path("p.png")
        Image.fromarray(pixels, mode="L").save(png)
        classic = self.path("classic.bmp")
        subprocess.run(["convert", png, "-type", "Palette", "-depth", "8", "-compress", "None",
                        "BMP3:" + classic], check=True)
        for compress in ("None", "RLE"):
            modern = self.path(f"modern-{compress}.bmp")
            subprocess.run(["convert", png, "-type", "Palette", "-depth", "8", "-compress",
                            compress, modern], check=True)
            self.assertEqual(struct.unpack_from("<I", read_bytes(modern), 14)[0], 124)
            out_modern, out_classic = self.path("m.bmp"), self.path("c.bmp")
            self.assert_ok(run(VORALIN, "spectrum", modern, out_modern))
            self.assert_ok(run(VORALIN, "spectrum", classic, out_classic))
            self.assertEqual(read_bytes(out_modern), read_bytes(out_classic), compress)
            np.testing.assert_array_equal(self.normalised_grey(modern),
                                          np.asarray(Image.open(modern).convert("L")))
        # The OS/2 form stays refused.
        os2 = self.path("os2.bmp")
        subprocess.run(["convert", png, "-type", "Palette", "-depth", "8", "BMP2:" + os2],
                       check=True)
        result = run(VORALIN, "info", os2)
        self.assertEqual(result.returncode, 1)
        self.assertIn("Not a bitmap file with correct format.", result.stderr)

    def test_a_decompression_bomb_is_refused_before_anything_is_written(self):
        # 2,112 bytes of RLE8 claiming 65532 x 65535 pixels.
        header = bytearray(1078)
        header[0:2] = b"BM"
        struct.pack_into("<IHHIIiiHHII", header, 2, 2112, 0, 0, 1078, 40, 65532, 65535, 1, 8, 1,
                         0)
        for i in range(256):
            header[54 + 4 * i:57 + 4 * i] = bytes([i, i, i])
        coded = bytes([255, 7]) * ((2112 - 1078) // 2)
        source = self.path("bomb.bmp")
        write_bytes(source, bytes(header) + coded)
        start = time.monotonic()
        result = subprocess.run([VORALIN, "info", source], capture_output=True, text=True,
                                timeout=60,
                                preexec_fn=lambda: resource.setrlimit(
                                    resource.RLIMIT_AS, (1 << 30, 1 << 30)))
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn("Error: The picture is too large", result.stderr)
        self.assertLess(time.monotonic() - start, 10)
        self.assertEqual(sorted(os.listdir(self.tmp)), ["bomb.bmp"], "no temporary file")
        env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        result = run(VORALIN, "info", source, env=env)
        self.assertIn("画像が大きすぎます", result.stderr)


class CrystalReader(Base):
    def slice_layers(self, text):
        source = self.path("crystal.txt")
        write_bytes(source, text.encode())
        return run(KESTRAL, "layers", source, "--uvw", "0", "0", "1")

    def test_values_that_would_land_in_another_field_are_refused(self):
        rows = "Sr 38 0 0 0 BLACK\r\nO 8 0.5 0.5 0 BLUE\r\n"
        for text in ("a axis=3.905\tb axis=3.905\tc axis=3.905\r\nalpha=\tbeta=90\t\tgamma=90\r\n",
                     "a axis=3.905\tb axis=3.905\tc axis=3.905\r\nalpha=nan\tbeta=90\t\tgamma=90\r\n",
                     "a axis=1e1\tb axis=3.905\tc axis=3.905\r\nalpha=90\tbeta=90\t\tgamma=90\r\n",
                     "3-9 3.905 3.905\r\n90 90 90\r\n"):
            result = self.slice_layers(text + rows)
            self.assertEqual(result.returncode, 1, text)
            self.assertIn("Wrong data file.", result.stderr)
        # Without labels, as today.
        self.assert_ok(self.slice_layers("3.905 3.905 3.905\r\n90 90 90\r\n" + rows))

    def test_last_row_without_line_end_and_far_edge_rows(self):
        text = read_bytes(SRTIO3)
        self.assertTrue(text.endswith(b"\r\n"))
        source, back = self.path("cut.txt"), self.path("back.txt")
        write_bytes(source, text[:-2])
        self.assert_ok(run(KESTRAL, "slice", source, "--uvw", "0", "0", "1", "--crystal-out", back))
        self.assertEqual(read_bytes(back), text, "the last row is kept")
        result = self.slice_layers(text.decode() + "Sr 38 1 1 1 BLACK\r\n")
        self.assertEqual(result.returncode, 1)
        self.assertIn("Wrong data file.", result.stderr)


class SafeWrites(Base):
    """A write that fails, or a process killed while writing, leaves the old file as it was."""

    def leftovers(self):
        return [f for f in os.listdir(self.tmp) if f.endswith(".tmp")]

    def test_filter_onto_an_old_output_killed_while_writing(self):
        source = self.pillow_bmp("b.bmp", texture(300, 300))
        target = self.pillow_bmp("old.bmp", texture(300, 300, seed=9))
        before = read_bytes(target)
        result = run(VORALIN, "filter", source, target, "--filter", "low", "--wa", "0.2",
                     limit_bytes=64 * 1024)
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(read_bytes(target), before, "the old output is intact")
        # Without the limit the same command replaces the file with the filtered picture.
        self.assert_ok(run(VORALIN, "filter", source, target, "--filter", "low", "--wa", "0.2"))
        self.assertEqual(Image.open(target).size, (300, 300))
        self.assertNotEqual(read_bytes(target), before)

    def mount_tmpfs(self, name, size="1m"):
        folder = self.path(name)
        os.mkdir(folder)
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}",
                                                "tmpfs", folder], capture_output=True).returncode:
            self.skipTest("cannot mount a small file system here")
        self.addCleanup(subprocess.run, ["umount", "-l", folder], capture_output=True)
        return folder

    def test_filter_onto_an_old_output_on_a_full_disk(self):
        tiny = self.mount_tmpfs("tiny", "160k")
        source = self.pillow_bmp("b.bmp", texture(300, 300))
        target = os.path.join(tiny, "o.bmp")
        Image.fromarray(texture(300, 300, seed=9), mode="L").save(target)  # 91 KB of 160
        before = read_bytes(target)
        temp = self.path("temp")
        os.mkdir(temp)
        env = dict(os.environ, TMPDIR=temp)
        result = run(VORALIN, "filter", source, target, env=env)
        self.assertEqual(result.returncode, 1)
        # The free-space check asks the output's own file system, and refuses before writing.
        self.assertIn("Warning: Not enough free diskspace to save a bitmap file.", result.stderr)
        self.assertEqual(read_bytes(target), before, "the old output is intact")
        self.assertEqual(os.listdir(tiny), ["o.bmp"])
        self.assertEqual(os.listdir(temp), [], "the temporary bitmap went there and was removed")

    def test_an_image_on_a_read_only_medium_opens(self):
        medium = self.mount_tmpfs("medium")
        source = os.path.join(medium, "cell.bmp")
        Image.fromarray(texture(100, 80), mode="L").save(source)
        subprocess.run(["mount", "-o", "remount,ro", medium], check=True)
        temp = self.path("temp")
        os.mkdir(temp)
        env = dict(os.environ, TMPDIR=temp)
        out = self.path("n.bmp")
        self.assert_ok(run(VORALIN, "normalise", source, out, env=env))
        np.testing.assert_array_equal(np.asarray(Image.open(out)), texture(100, 80))
        self.assertEqual(os.listdir(temp), [])
        self.assertEqual(os.listdir(medium), ["cell.bmp"])

    def test_an_interrupted_tool_leaves_no_temporary_file(self):
        # A large picture: the normalised temporary file and the output's replacement each live
        # for a while. Interrupted at many moments, no run may leave either behind.
        source = self.pillow_bmp("big.bmp", np.tile(texture(300, 200), (20, 20)))
        interrupted = 0
        for delay in [0.01 * k for k in range(1, 30)]:
            process = subprocess.Popen([VORALIN, "normalise", source, self.path("out.bmp")],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(delay)
            process.send_signal(signal.SIGINT if delay < 0.15 else signal.SIGTERM)
            if process.wait(timeout=60) < 0:
                interrupted += 1
            left = [f for f in os.listdir(self.tmp) if "B_" in f or f.endswith(".tmp")]
            self.assertEqual(left, [], f"after {delay:.2f} s")
        self.assertGreater(interrupted, 0, "no run was interrupted: the picture is too small")

    def test_crystal_written_over_an_old_file_with_a_full_disk(self):
        target = self.path("old.txt")
        shutil.copy(SRTIO3, target)
        before = read_bytes(target)
        for handler in (signal.SIG_DFL, signal.SIG_IGN):
            def limit(handler=handler):
                signal.signal(signal.SIGXFSZ, handler)
                resource.setrlimit(resource.RLIMIT_FSIZE, (100, 100))
            result = subprocess.run([KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0",
                                     "--crystal-out", target], capture_output=True, text=True,
                                    timeout=300, preexec_fn=limit)
            self.assertNotEqual(result.returncode, 0)
            self.assertEqual(read_bytes(target), before, handler)
            if handler == signal.SIG_IGN:
                self.assertIn("Unable to create a crystal data file.", result.stderr)
                self.assertEqual(self.leftovers(), [], "a reported failure cleans up")
            for leftover in self.leftovers():  # of the killed run
                os.remove(self.path(leftover))

    def test_a_linked_output_is_replaced_through_the_link_keeping_its_mode(self):
        source = self.pillow_bmp("in.bmp", texture(128, 128))
        os.mkdir(self.path("real"))
        real = self.path("real/out.bmp")
        write_bytes(real, b"old")
        os.chmod(real, 0o640)
        os.symlink("real/out.bmp", self.path("link.bmp"))
        self.assert_ok(run(VORALIN, "normalise", source, self.path("link.bmp")))
        self.assertTrue(os.path.islink(self.path("link.bmp")))
        self.assertEqual(Image.open(real).size, (128, 128))
        self.assertEqual(os.stat(real).st_mode & 0o7777, 0o640)

    def test_slice_files_are_one_set(self):
        stem = self.path("slice.dat")
        # An earlier run's files, and the disk full in the middle of the new set.
        old = {k: f"old slice {k}".encode() for k in (1, 2, 3)}
        for k, data in old.items():
            write_bytes(self.path(f"slice{k}.dat"), data)
        result = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--normal", stem,
                     "--reference", self.path("ref.txt"), limit_bytes=150)
        self.assertNotEqual(result.returncode, 0)
        for k, data in old.items():
            self.assertEqual(read_bytes(self.path(f"slice{k}.dat")), data)
        for leftover in self.leftovers():  # of the killed run
            os.remove(self.path(leftover))
        self.assert_ok(run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--normal", stem))
        written = sorted(f for f in os.listdir(self.tmp) if f.startswith("slice"))
        self.assertGreaterEqual(len(written), 2)
        for name in written:
            self.assertNotIn(b"old slice", read_bytes(self.path(name)), name)
        self.assertEqual(self.leftovers(), [])


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
