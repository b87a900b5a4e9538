#!/usr/bin/python3
"""What both command-line tools read and write besides their main picture: side outputs written
as safely as the main one, outputs that would replace an input or each other refused before
anything is written, batch work over every image format, text inputs with a size limit, and
standard output that cannot be written. Inputs are made with Pillow, numpy and tifffile; outputs
are read back with them."""
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import numpy as np
from PIL import Image

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dmfile  # noqa: E402
import mrcfile  # noqa: E402
import tifffile  # noqa: E402

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


class OutputsNeverReplaceInputs(Base):
    """An output that names an input or another output is a usage error before anything is
    written: the same rule in both tools, for every output."""

    def snapshot(self):
        files = {}
        for folder, _, names in os.walk(self.tmp):
            for name in names:
                path = os.path.join(folder, name)
                files[os.path.relpath(path, self.tmp)] = read_bytes(path)
        return files

    def assert_refused(self, tool, *args, says, cwd=None):
        before = self.snapshot()
        result = run(tool, *args, cwd=cwd or self.tmp)
        self.assertEqual(result.returncode, 2, (args, result.stderr))
        self.assertIn(says, result.stderr, args)
        self.assertEqual(self.snapshot(), before, f"{args} wrote nothing")

    def test_voralin00_outputs_over_inputs_and_each_other(self):
        self.bmp("in.bmp", texture(96, 80))
        os.link(self.path("in.bmp"), self.path("hard.bmp"))
        os.symlink("in.bmp", self.path("link.bmp"))
        write_bytes(self.path("p.ini"), b"[Special Filter]\r\n0=255\r\n")
        replaces = "would replace the input"
        for args in [("radial", "in.bmp", "in.bmp"),
                     ("radial", "in.bmp", "r.csv", "--plot", "./in.bmp"),
                     ("spots", "in.bmp", "--csv", "in.bmp"),
                     ("filter", "in.bmp", "o.bmp", "--npy", "in.bmp"),
                     ("filter", "in.bmp", "o.bmp", "--difference-npy", "hard.bmp"),
                     ("normalise", "in.bmp", "link.bmp"),
                     ("filter", "in.bmp", "o.bmp", "--special", "p.ini", "--difference", "p.ini"),
                     ("spectrum", "in.bmp", os.path.join("..", os.path.basename(self.tmp),
                                                         "in.bmp"))]:
            self.assert_refused(VORALIN, *args, says=replaces)
        same = "name the same file"
        for args in [("filter", "in.bmp", "o.bmp", "--difference", "o.bmp"),
                     ("filter", "in.bmp", "o.bmp", "--npy", "x.npy", "--difference-npy", "x.npy"),
                     ("radial", "in.bmp", "r.csv", "--plot", "r.csv")]:
            self.assert_refused(VORALIN, *args, says=same)
        result = run(VORALIN, "radial", "in.bmp", "in.bmp", cwd=self.tmp, env=JAPANESE)
        self.assertIn("入力ファイル 'in.bmp' を上書きしてしまいます", result.stderr)

    def test_voralin00_batch_side_outputs_are_led_by_their_input(self):
        self.bmp("a.bmp", texture(96, 80))
        self.bmp("b.bmp", texture(64, 72, seed=4))
        self.bmp("victim.bmp", texture(64, 64, seed=5))
        victim = read_bytes(self.path("victim.bmp"))
        result = run(VORALIN, "filter", "--quiet", "--out-dir", "ob", "--npy", "victim.bmp",
                     "--difference", "d.bmp", "--difference-npy", "shared.npy", "a.bmp", "b.bmp",
                     cwd=self.tmp)
        self.assert_ok(result)
        self.assertEqual(read_bytes(self.path("victim.bmp")), victim)
        self.assertEqual(sorted(os.listdir(self.path("ob"))),
                         ["a-d.bmp", "a-shared.npy", "a-victim.bmp", "a.bmp",
                          "b-d.bmp", "b-shared.npy", "b-victim.bmp", "b.bmp"])
        # Each input's arrays have its own size.
        self.assertEqual(np.load(self.path("ob", "a-victim.bmp")).shape, (80, 96))
        self.assertEqual(np.load(self.path("ob", "b-shared.npy")).shape, (72, 64))
        self.assertEqual(Image.open(self.path("ob", "b-d.bmp")).size, (64, 72))
        # A side output placed on an input is refused, and so are two inputs' results on one
        # file.
        shutil.copy(self.path("b.bmp"), self.path("ob", "a-x.bmp"))
        self.assert_refused(VORALIN, "filter", "--out-dir", "ob", "--npy", "x.bmp", "a.bmp",
                            os.path.join("ob", "a-x.bmp"),
                            says="would replace the input 'ob/a-x.bmp'")
        shutil.copy(self.path("b.bmp"), self.path("a-b.bmp"))
        self.assert_refused(VORALIN, "filter", "--out-dir", "ob2", "--npy", "b-x.npy",
                            "--difference-npy", "x.npy", "a.bmp", "a-b.bmp",
                            says="'a.bmp' and 'a-b.bmp' would both be written to 'ob2/a-b-x.npy'")

    def test_kestral_outputs_over_crystals_and_each_other(self):
        for name in ("v.txt", "s1.dat", "p3.txt"):
            shutil.copy(SRTIO3, self.path(name))
        replaces = "would replace the input"
        for args in [("v.txt", "--reference", "v.txt"),
                     ("v.txt", "--convergent", "./v.txt"),
                     ("v.txt", "--crystal-out", "v.txt"),
                     ("v.txt", "--xyz", "v.txt"),
                     ("s1.dat", "--normal", "s.dat"),
                     ("p3.txt", "--pages", "p.txt")]:
            self.assert_refused(KESTRAL, "slice", args[0], "--uvw", "1", "1", "0", *args[1:],
                                says=replaces)
        for args in [("--normal", "s.dat", "--reference", "s12.dat"),
                     ("--normal", "q.dat", "--pages", "q.dat"),
                     ("--reference", "r.txt", "--extxyz", "r.txt")]:
            self.assert_refused(KESTRAL, "slice", "v.txt", "--uvw", "1", "1", "0", *args,
                                says="name the same file")
        self.assert_refused(KESTRAL, "slice", "--uvw", "1", "1", "0", "--normal", "s.dat",
                            "--out-dir", ".", "v.txt", "v-s1.dat",
                            says="would replace the input 'v-s1.dat'")
        # Names that only look alike are written.
        self.assert_ok(run(KESTRAL, "slice", "v.txt", "--uvw", "1", "1", "0", "--normal",
                           "s.dat", "--reference", "s01.dat", "--convergent", "s0.dat",
                           "--quiet", cwd=self.tmp))
        for name in ("s01.dat", "s0.dat", "s2.dat"):
            self.assertTrue(os.path.exists(self.path(name)), name)


class TextInputsLimited(Base):
    """The profile file of --special is a regular file of a few kilobytes; anything else is
    refused at once, with the limit named."""

    def filter_with(self, profile, env=None):
        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        start = time.monotonic()
        result = subprocess.run([VORALIN, "filter", LATTICE, self.path("o.bmp"), "--special",
                                 profile], capture_output=True, text=True, timeout=60,
                                env=env, preexec_fn=limit)
        return result, time.monotonic() - start

    def test_devices_pipes_and_large_files_are_refused(self):
        os.mkfifo(self.path("pipe.ini"))
        for profile in ("/dev/zero", self.path("pipe.ini")):
            result, took = self.filter_with(profile)
            self.assertEqual(result.returncode, 1, (profile, result.stderr))
            self.assertIn(f"the profile file '{profile}' is not a regular file", result.stderr)
            self.assertLess(took, 2, profile)
        # A profile padded past the limit, and one just below it.
        body = b"[Special Filter]\r\n" + b"".join(b"%d=%d\r\n" % (k, 255 - k)
                                                     for k in range(256))
        write_bytes(self.path("big.ini"), body + b";" * (64 * 1024 - len(body) + 1))
        result, _ = self.filter_with(self.path("big.ini"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("is larger than 64 KB", result.stderr)
        result, _ = self.filter_with(self.path("big.ini"), env=JAPANESE)
        self.assertIn("64 KB を超えています", result.stderr)
        self.assertFalse(os.path.exists(self.path("o.bmp")))
        write_bytes(self.path("fits.ini"), body + b";" * (64 * 1024 - len(body)))
        write_bytes(self.path("plain.ini"), body)
        result, _ = self.filter_with(self.path("fits.ini"))
        self.assert_ok(result)
        fits = read_bytes(self.path("o.bmp"))
        result, _ = self.filter_with(self.path("plain.ini"))
        self.assert_ok(result)
        self.assertEqual(read_bytes(self.path("o.bmp")), fits, "the padding changes nothing")


class BatchOfEveryFormat(Base):
    """--out-dir takes every format the single-file form takes; pictures come out as DIR/NAME.bmp,
    float TIFFs only with --tif."""

    def setUp(self):
        super().setUp()
        rng = np.random.default_rng(11)
        a = (rng.random((96, 112)) * 4000 + np.arange(112) * 300).astype(np.uint16)
        tifffile.imwrite(self.path("c.tif"), a)
        with mrcfile.new(self.path("d.mrc"), overwrite=True) as m:
            m.set_data(np.flipud(a.astype(np.float32)))
        Image.fromarray(a).save(self.path("e.png"))
        dmfile.write_dm(self.path("f.dm4"), a.astype(np.int32), 4, 0.2, "nm")
        self.bmp("b.bmp", texture(80, 72))
        self.inputs = ["c.tif", "d.mrc", "e.png", "f.dm4", "b.bmp"]

    def batch(self, command, folder, *options):
        return run(VORALIN, command, "--quiet", "--out-dir", folder, *options, *self.inputs,
                   cwd=self.tmp)

    def single(self, command, source, output, *options):
        self.assert_ok(run(VORALIN, command, source, output, *options, cwd=self.tmp))
        return read_bytes(self.path(output))

    def test_every_picture_command_writes_bitmaps_named_after_the_inputs(self):
        for command, options in (("normalise", ()), ("spectrum", ("--log",)),
                                 ("adjust", ("--contrast", "2")),
                                 ("filter", ("--filter", "low", "--wa", "0.3"))):
            folder = "out-" + command
            result = self.batch(command, folder, *options)
            self.assert_ok(result)
            self.assertIn("5 of 5 files written", result.stdout)
            stems = [os.path.splitext(name)[0] for name in self.inputs]
            self.assertEqual(sorted(os.listdir(self.path(folder))),
                             sorted(stem + ".bmp" for stem in stems))
            for name, stem in zip(self.inputs, stems):
                # The same bytes as the single-file form writes.
                self.assertEqual(read_bytes(self.path(folder, stem + ".bmp")),
                                 self.single(command, name, "single.bmp", *options),
                                 (command, name))
        result = self.batch("linewave", "lines", "--angle", "10")
        self.assert_ok(result)
        self.assertEqual(sorted(os.listdir(self.path("lines"))),
                         ["b.txt", "c.txt", "d.txt", "e.txt", "f.txt"])

    def test_filter_writes_float_tiffs_only_when_asked(self):
        self.assert_ok(self.batch("filter", "floats", "--tif", "--filter", "low", "--wa", "0.3"))
        self.assertEqual(sorted(os.listdir(self.path("floats"))),
                         ["b.tif", "c.tif", "d.tif", "e.tif", "f.tif"])
        single = self.single("filter", "c.tif", "single.tif", "--filter", "low", "--wa", "0.3")
        self.assertEqual(read_bytes(self.path("floats", "c.tif")), single)
        values = tifffile.imread(self.path("floats", "d.tif"))
        self.assertEqual((values.dtype, values.shape), (np.dtype("float32"), (96, 112)))
        # --tif names batch results; a single output says its form by its name.
        result = run(VORALIN, "filter", "c.tif", "o.bmp", "--tif", cwd=self.tmp)
        self.assertEqual(result.returncode, 2)
        self.assertIn("--tif names the results of --out-dir", result.stderr)
        self.assertFalse(os.path.exists(self.path("o.bmp")))
        result = run(VORALIN, "filter", "c.tif", "o.bmp", "--tif", cwd=self.tmp, env=JAPANESE)
        self.assertIn("--tif は --out-dir の結果", result.stderr)

    def test_two_inputs_of_one_name_are_refused(self):
        shutil.copy(self.path("b.bmp"), self.path("c.bmp"))
        result = run(VORALIN, "spectrum", "--out-dir", "o", "c.tif", "c.bmp", cwd=self.tmp)
        self.assertEqual(result.returncode, 2)
        self.assertIn("'c.tif' and 'c.bmp' would both be written to 'o/c.bmp'", result.stderr)
        self.assertFalse(os.path.exists(self.path("o")))


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
