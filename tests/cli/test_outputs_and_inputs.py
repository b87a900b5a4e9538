#!/usr/bin/python3
"""What both command-line tools read and write besides their main picture: side outputs written
as safely as the main one, outputs that would replace an input or each other refused before
anything is written, batch work over every image format, text inputs with a size limit, and
standard output that cannot be written. Inputs are made with Pillow, numpy and tifffile; outputs
are read back with them."""
import os
import shutil
import signal
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
LATTICE = os.path.join(DATA, "sample", "lattice.bmp")
SRTIO3 = os.path.join(DATA, "crystal", "srtio3.txt")
JAPANESE = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")


def run(tool, *args, env=None, stdout=subprocess.PIPE, cwd=None):
    return subprocess.run([tool, *args], stdout=stdout, stderr=subprocess.PIPE, text=True,
                          timeout=300, env=env, cwd=cwd)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def texture(width, height, seed=3):
    rng = np.random.default_rng(seed)
    return rng.integers(0, 256, size=(height, width), dtype=np.uint8)


class Base(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="outputs-inputs-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.tmp, *names)

    def assert_ok(self, result):
        self.assertEqual(result.returncode, 0, result.stderr)

    def bmp(self, name, pixels):
        path = self.path(name)
        Image.fromarray(pixels, mode="L").save(path)
        return path

    def mount_tmpfs(self, name, size):
        folder = self.path(name)
        os.mkdir(folder)
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}",
                                                "tmpfs", folder], capture_output=True).returncode:
            self.skipTest("cannot mount a small file system here")
        self.addCleanup(subprocess.run, ["umount", "-l", folder], capture_output=True)
        return folder


class SideOutputsWrittenSafely(Base):
    """The radial CSV, --plot, --csv, --npy and --difference-npy replace an old file only whole."""

    def fill(self, folder, keep):
        """Fills the small file system but for `keep` bytes."""
        st = os.statvfs(folder)
        free = st.f_bavail * st.f_frsize
        write_bytes(os.path.join(folder, "filler"), b"\0" * max(0, free - keep))

    def test_full_disk_keeps_every_old_side_output(self):
        tiny = self.mount_tmpfs("tiny", "64k")
        old = {name: (name.encode() + b" of an earlier run\n") * 200
               for name in ("keep.csv", "keep.png", "spots.csv", "keep.npy", "removed.npy")}
        for name, data in old.items():
            write_bytes(os.path.join(tiny, name), data)
        self.fill(tiny, 0)
        at = lambda name: os.path.join(tiny, name)  # noqa: E731
        runs = [
            ("radial", LATTICE, at("keep.csv")),
            ("radial", LATTICE, self.path("r.csv"), "--plot", at("keep.png")),
            ("spots", LATTICE, "--csv", at("spots.csv")),
            ("filter", LATTICE, self.path("f.bmp"), "--npy", at("keep.npy")),
            ("filter", LATTICE, self.path("g.bmp"), "--difference-npy", at("removed.npy")),
        ]
        for args in runs:
            result = run(VORALIN, *args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn("cannot write", result.stderr)
        for name, data in old.items():
            self.assertEqual(read_bytes(at(name)), data, name)
        self.assertEqual(sorted(os.listdir(tiny)), sorted(list(old) + ["filler"]),
                         "no temporary file is left")
        # With room the same runs replace the files: the CSV reads back with numpy.
        os.remove(at("filler"))
        self.assert_ok(run(VORALIN, "radial", LATTICE, at("keep.csv")))
        table = np.genfromtxt(at("keep.csv"), delimiter=",", skip_header=1)
        self.assertGreater(table.shape[0], 100)

    def test_interrupted_npy_leaves_the_old_file(self):
        # A large image, so the arrays take a while to write; the tool is interrupted as soon
        # as anything appears or changes in the folder of the array.
        source = self.bmp("big.bmp", texture(1500, 1500))
        os.mkdir(self.path("arrays"))
        target = self.path("arrays", "keep.npy")
        old = b"an older array\n" * 1000
        interrupted = 0
        for attempt in range(3):
            write_bytes(target, old)
            before = os.stat(target)
            process = subprocess.Popen([VORALIN, "filter", source, self.path("f.bmp"),
                                        "--npy", target], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            while process.poll() is None:
                names = os.listdir(self.path("arrays"))
                now = os.stat(target) if os.path.exists(target) else None
                if names != ["keep.npy"] or now is None or now.st_size != before.st_size or \
                        now.st_mtime_ns != before.st_mtime_ns:
                    process.send_signal(signal.SIGTERM)
                    break
            if process.wait(timeout=120) == -signal.SIGTERM:
                interrupted += 1
            data = read_bytes(target)
            if data != old:
                # Only a whole new array may have taken its place.
                array = np.load(target)
                self.assertEqual(array.shape, (1500, 1500), attempt)
            self.assertEqual(os.listdir(self.path("arrays")), ["keep.npy"], attempt)
        self.assertGreater(interrupted, 0, "no run was interrupted while writing")


class StandardOutputFailures(Base):
    """Output lost to a full device is an error, not a success."""

    def run_to_full(self, tool, *args, env=None):
        with open("/dev/full", "w") as full:
            return run(tool, *args, stdout=full, env=env)

    def test_every_printing_command_reports_a_lost_standard_output(self):
        source = self.bmp("in.bmp", texture(96, 80))
        runs = [
            (VORALIN, "info", source),
            (VORALIN, "spots", LATTICE),
            (VORALIN, "--help"),
            (VORALIN, "normalise", "--quiet", "--out-dir", self.path("batch"), source),
            (KESTRAL, "layers", SRTIO3, "--uvw", "1", "1", "0"),
            (KESTRAL, "slice", "--uvw", "0", "0", "1", "--reference", "r.txt", "--out-dir",
             self.path("kbatch"), SRTIO3),
        ]
        for args in runs:
            result = self.run_to_full(*args)
            self.assertEqual(result.returncode, 1, args)
            self.assertIn("could not be written to standard output", result.stderr, args)
            # The same runs to a file succeed and print something.
            with open(self.path("out.txt"), "w") as out:
                self.assert_ok(run(*args, stdout=out))
            self.assertGreater(os.path.getsize(self.path("out.txt")), 0, args)
        result = self.run_to_full(VORALIN, "info", source, env=JAPANESE)
        self.assertEqual(result.returncode, 1)
        self.assertIn("標準出力に書き込めませんでした", result.stderr)


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
