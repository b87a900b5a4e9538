#!/usr/bin/python3
"""How both command-line tools behave towards their user: usage errors that name the option and
its range, options that would do nothing refused, files named when refused, --quiet, --version,
help per command, progress only on a terminal, and batch work with --out-dir. Results are read
back with Pillow and ASE."""
import os
import pty
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import numpy as np
from PIL import Image

BIN = os.path.abspath(os.environ.get("SUITE_BIN", "build/native/cli"))
DATA = os.path.abspath(os.environ.get("SUITE_TEST_DATA", "tests/data"))
VORALIN = os.path.join(BIN, "voralin00-cli")
KESTRAL = os.path.join(BIN, "kestral-cli")
SAMPLE = os.path.join(DATA, "sample", "lattice.bmp")
SRTIO3 = os.path.join(DATA, "crystal", "srtio3.txt")
ENGLISH = dict(os.environ, LANG="C", LC_ALL="", LC_MESSAGES="")
JAPANESE = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="", LC_MESSAGES="")


def run(tool, *args, cwd=None, env=ENGLISH):
    return subprocess.run([os.path.abspath(tool), *args], capture_output=True, text=True,
                          timeout=300, cwd=cwd, env=env)


class Base(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="cli_manners_")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.tmp, *names)

    def assert_usage_error(self, result, message):
        self.assertEqual(result.returncode, 2, result.stderr)
        self.assertIn(message, result.stderr)


class UsageErrors(Base):
    def test_unknown_options_are_called_unknown(self):
        r = run(VORALIN, "spectrum", SAMPLE, self.path("s.bmp"), "--logscale")
        self.assert_usage_error(r, "voralin00-cli: unknown option --logscale\n")
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "0", "0", "--bogus")
        self.assert_usage_error(r, "kestral-cli: unknown option --bogus\n")
        r = run(KESTRAL, "slice", "-x", "--uvw", "1", "0", "0", "--reference", self.path("r"))
        self.assert_usage_error(r, "kestral-cli: unknown option -x\n")
        # An option of another command says so.
        r = run(VORALIN, "spectrum", SAMPLE, self.path("s.bmp"), "--wa", "0.3")
        self.assert_usage_error(r, "option --wa does not apply to spectrum")
        r = run(KESTRAL, "layers", SRTIO3, "--uvw", "1", "0", "0", "--pages", self.path("p.bmp"))
        self.assert_usage_error(r, "option --pages does not apply to layers")
        self.assertEqual(os.listdir(self.tmp), [])

    def test_values_out_of_range_name_the_range(self):
        cases = [
            (["filter", "--filter", "low", "--wa", "2"], "--wa must be between 0 and 1 (given: 2)"),
            (["filter", "--filter", "low", "--wb", "nan"],
             "--wb must be between 0 and 1 (given: nan)"),
            (["spectrum", "--clip", "0.5"], "--clip must be between 1 and 10000 (given: 0.5)"),
            (["filter", "--dark", "101"],
             "--dark must be a whole number between 0 and 100 (given: 101)"),
            (["linewave", "--angle", "2.5"],
             "--angle must be a whole number between -90 and 90 (given: 2.5)"),
            (["adjust", "--contrast", "-11"],
             "--contrast must be a whole number between -10 and 10 (given: -11)"),
        ]
        for args, message in cases:
            r = run(VORALIN, args[0], SAMPLE, self.path("o.bmp"), *args[1:])
            self.assert_usage_error(r, "voralin00-cli: " + message + "\n")
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--client", "100", "100",
                "--pages", self.path("p.bmp"))
        self.assert_usage_error(r, "--client needs a width of 300..8192 and a height of 110..8192")
        self.assertEqual(os.listdir(self.tmp), [])

    def test_japanese_messages(self):
        r = run(VORALIN, "filter", SAMPLE, self.path("o.bmp"), "--filter", "low", "--wa", "2",
                env=JAPANESE)
        self.assert_usage_error(r, "--wa は 0 から 1 の範囲で指定してください（指定値: 2）")
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", env=JAPANESE)
        self.assert_usage_error(r, "出力の指定がないため slice は何も書きません")
        r = run(VORALIN, "info", self.path("missing.bmp"), env=JAPANESE)
        self.assertEqual(r.returncode, 1)
        self.assertIn(self.path("missing.bmp") + ": ファイルがありません", r.stderr)

    def test_options_that_would_do_nothing_are_refused(self):
        out = self.path("o.bmp")
        for args, message in [
            (["--wa", "0.3"], "--wa needs --filter low, high, band-pass or band-cut"),
            (["--filter", "none", "--wb", "0.3"], "--wb needs --filter low, high, band-pass"),
            (["--special", SAMPLE, "--wa", "0.3"], "--wa needs --filter"),
        ]:
            self.assert_usage_error(run(VORALIN, "filter", SAMPLE, out, *args), message)
        self.assert_usage_error(run(VORALIN, "spectrum", SAMPLE, out, "--log", "--clip", "5"),
                                "--clip applies to the linear scale only")
        self.assertFalse(os.path.exists(out))
        # The options still work where they do something.
        self.assertEqual(run(VORALIN, "filter", SAMPLE, out, "--filter", "low", "--wa",
                             "0.3").returncode, 0)
        self.assertEqual(run(VORALIN, "spectrum", SAMPLE, out, "--log", "--lower-clip",
                             "5").returncode, 0)

        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0")
        self.assert_usage_error(r, "slice writes nothing without an output")
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--client", "400", "300",
                "--reference", self.path("r.txt"))
        self.assert_usage_error(r, "--client sets the size of the pages: it needs --pages")
        self.assertFalse(os.path.exists(self.path("r.txt")))

    def test_two_outputs_on_one_path_are_refused(self):
        same = self.path("x.txt")
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--reference", same,
                "--convergent", same)
        self.assert_usage_error(r, "--reference and --convergent name the same file")
        # Also when the names differ but the file is the same.
        os.mkdir(self.path("d"))
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--reference", "d/../x.txt",
                "--crystal-out", "./x.txt", cwd=self.tmp)
        self.assert_usage_error(r, "--reference and --crystal-out name the same file './x.txt'")
        self.assertEqual(os.listdir(self.tmp), ["d"])

    def test_directions_beyond_32_bits_are_refused(self):
        for value in ["2147483648", "-2147483648", "99999999999", "-99999999999999999999"]:
            r = run(KESTRAL, "slice", SRTIO3, "--uvw", value, "0", "0", "--reference",
                    self.path("r.txt"))
            self.assert_usage_error(
                r, "--uvw values must be whole numbers between -2147483647 and 2147483647 "
                   "(given: %s)" % value)
        self.assertEqual(os.listdir(self.tmp), [])
        # The largest allowed value is taken as it is (and reduced to lowest terms).
        r = run(KESTRAL, "layers", SRTIO3, "--uvw", "2147483647", "0", "0")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("direction: [1 0 0]", r.stdout)


class FilesNamed(Base):
    def test_missing_and_unreadable_inputs_are_named(self):
        missing = self.path("nothing.bmp")
        r = run(VORALIN, "spectrum", missing, self.path("o.bmp"))
        self.assertEqual(r.returncode, 1)
        # The program's own text first, then the file.
        self.assertEqual(r.stderr, "voralin00-cli: Open Error: Unable to open the bitmap file.\n"
                                   "voralin00-cli: %s: no such file\n" % missing)
        r = run(VORALIN, "info", self.tmp)
        self.assertIn("voralin00-cli: %s: is a folder, not a file\n" % self.tmp, r.stderr)
        r = run(KESTRAL, "slice", self.path("c.txt"), "--uvw", "1", "0", "0", "--reference",
                self.path("r.txt"))
        self.assertEqual(r.returncode, 1)
        self.assertIn("Error: The file does not exist.", r.stderr)
        self.assertIn(self.path("c.txt") + ": no such file", r.stderr)
        text = self.path("text.bmp")
        with open(text, "w") as f:
            f.write("not a picture\n")
        r = run(VORALIN, "info", text)
        self.assertIn(text + ": refused (see the message above)", r.stderr)
        if os.geteuid() != 0:  # root reads everything
            os.chmod(text, 0)
            self.assertIn(text + ": cannot be read", run(VORALIN, "info", text).stderr)

    def test_unwritable_outputs_are_named(self):
        target = self.path("no", "such", "folder", "o.bmp")
        r = run(VORALIN, "normalise", SAMPLE, target)
        self.assertEqual(r.returncode, 1)
        self.assertIn("%s: the folder '%s' does not exist" % (target, os.path.dirname(target)),
                      r.stderr)
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--reference", target)
        self.assertEqual(r.returncode, 1)
        self.assertIn(target + ": the folder", r.stderr)
        r = run(VORALIN, "linewave", SAMPLE, self.tmp, "--angle", "0")
        self.assertEqual(r.returncode, 1)
        self.assertIn(self.tmp + ": is a folder, not a file", r.stderr)


class QuietVersionHelp(Base):
    def test_quiet_drops_only_the_success_messages(self):
        out = self.path("o.bmp")
        loud = run(VORALIN, "spectrum", SAMPLE, out, "--log")
        self.assertIn("has been successfully saved.", loud.stderr)
        os.remove(out)
        quiet = run(VORALIN, "spectrum", SAMPLE, out, "--log", "--quiet")
        self.assertEqual((quiet.returncode, quiet.stdout, quiet.stderr), (0, "", ""))
        self.assertEqual(Image.open(out).size, (600, 480))
        # Refusals still show.
        r = run(VORALIN, "spectrum", self.path("none.bmp"), out, "--quiet")
        self.assertEqual(r.returncode, 1)
        self.assertIn("Unable to open the bitmap file.", r.stderr)
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--quiet", "--reference",
                self.path("r.txt"), "--normal", self.path("s.dat"))
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "", ""))
        self.assertTrue(os.path.exists(self.path("s4.dat")))

    def test_version(self):
        self.assertEqual(run(VORALIN, "--version").stdout, "voralin00-cli 1.20\n")
        self.assertEqual(run(KESTRAL, "--version").stdout, "kestral-cli 1.30\n")

    def test_each_command_has_help_with_an_example_that_runs(self):
        # Every command the general usage lists, so commands added later are held to it too.
        commands = {}
        for tool in (VORALIN, KESTRAL):
            name = os.path.basename(tool)
            usage = run(tool, "--help").stdout
            commands[tool] = sorted(set(re.findall(r"^  %s ([a-z][a-z-]*) " % name, usage, re.M)))
        self.assertTrue({"info", "spectrum", "filter", "linewave"} <= set(commands[VORALIN]))
        self.assertTrue({"layers", "slice"} <= set(commands[KESTRAL]))
        # The examples name the bundled samples (tests/data/*/*) by their file names.
        for folder in os.listdir(DATA):
            if os.path.isdir(os.path.join(DATA, folder)):
                for sample in os.listdir(os.path.join(DATA, folder)):
                    if os.path.isfile(os.path.join(DATA, folder, sample)):
                        shutil.copy(os.path.join(DATA, folder, sample), self.path(sample))
        for tool, names in commands.items():
            for name in names:
                r = run(tool, name, "--help")
                self.assertEqual(r.returncode, 0)
                self.assertTrue(r.stdout.startswith("Usage: %s %s" % (os.path.basename(tool),
                                                                     name)), r.stdout)
                lines = r.stdout.splitlines()
                example = lines[lines.index("Example:") + 1].split()
                self.assertEqual(example[:2], [os.path.basename(tool), name])
                # Quotes in the examples only wrap single words.
                example = [w.strip('"') for w in example]
                e = run(os.path.join(BIN, example[0]), *example[1:], cwd=self.tmp)
                self.assertEqual(e.returncode, 0, (example, e.stderr))
                jr = run(tool, name, "--help", env=JAPANESE)
                self.assertIn("例:", jr.stdout)
        self.assertEqual(Image.open(self.path("filtered.bmp")).size, (600, 480))
        self.assertEqual(Image.open(self.path("page.bmp")).size, (1024, 747))
        self.assertTrue(open(self.path("ref.txt")).read().startswith("a axis=3.905"))

    def test_general_help_is_unchanged_at_the_top(self):
        r = run(VORALIN, "--help")
        self.assertTrue(r.stdout.startswith("Usage:\n  voralin00-cli info FILE "))
        self.assertIn("--out-dir DIR", r.stdout)
        r = run(KESTRAL, "--help")
        self.assertTrue(r.stdout.startswith("Usage:\n  kestral-cli slice CRYSTAL.txt"))

    def test_help_command_is_the_commands_own_help_in_both_tools(self):
        for tool, name in ((VORALIN, "filter"), (VORALIN, "info"), (KESTRAL, "slice"),
                           (KESTRAL, "convert")):
            for env in (ENGLISH, JAPANESE):
                own = run(tool, name, "--help", env=env)
                asked = run(tool, "help", name, env=env)
                self.assertEqual((asked.returncode, asked.stdout), (0, own.stdout), (tool, name))
        for tool in (VORALIN, KESTRAL):
            self.assertEqual(run(tool, "help").stdout, run(tool, "--help").stdout)
            r = run(tool, "help", "transmogrify")
            self.assertEqual(r.returncode, 2)
            self.assertIn("unknown command 'transmogrify'", r.stderr)

    def test_each_commands_help_lists_the_options_it_takes_and_no_other(self):
        for tool in (VORALIN, KESTRAL):
            usage = run(tool, "--help").stdout
            name = os.path.basename(tool)
            commands = sorted(set(re.findall(r"^  %s ([a-z][a-z-]*) " % name, usage, re.M)))
            listed = {c: set(re.findall(r"^  (--[a-z-]+)", run(tool, c, "--help").stdout, re.M))
                      for c in commands}
            for command in commands:
                for option in sorted(set().union(*listed.values())):
                    r = run(tool, command, option)
                    refused = "option %s does not apply to %s" % (option, command)
                    if option in listed[command]:
                        self.assertNotIn(refused, r.stderr)
                        self.assertNotIn("unknown option", r.stderr)
                    else:
                        self.assertEqual(r.returncode, 2, (command, option))
                        self.assertIn(refused, r.stderr)


def on_terminal(args):
    """Runs with stderr on a pseudo-terminal; returns (status, stderr text, seconds)."""
    master, slave = pty.openpty()
    start = time.monotonic()
    p = subprocess.run(args, stderr=slave, stdout=subprocess.DEVNULL, timeout=300, env=ENGLISH)
    seconds = time.monotonic() - start
    os.close(slave)
    out = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:
            break
        if not chunk:
            break
        out += chunk
    os.close(master)
    return p.returncode, out.decode(), seconds


class Progress(Base):
    def test_progress_only_on_a_terminal_and_only_for_long_work(self):
        big = self.path("big.bmp")
        rng = np.random.default_rng(5)
        Image.fromarray(rng.integers(0, 256, (2000, 2000), dtype=np.uint8)).save(big)
        status, text, seconds = on_terminal([VORALIN, "spectrum", big, self.path("s.bmp"),
                                             "--quiet"])
        self.assertEqual(status, 0)
        if seconds > 2.5:
            self.assertEqual(text, "Please wait a moment. done\r\n")
        # A short run shows nothing.
        status, text, seconds = on_terminal([VORALIN, "spectrum", SAMPLE, self.path("t.bmp"),
                                             "--quiet"])
        if seconds < 0.9:
            self.assertEqual(text, "")
        # Not a terminal: never.
        r = run(VORALIN, "spectrum", big, self.path("u.bmp"), "--quiet")
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        # A long slicing; the wait ends before the engine's warning.
        status, text, seconds = on_terminal([KESTRAL, "layers", SRTIO3, "--uvw", "10", "7", "3"])
        if seconds > 2.5:
            self.assertTrue(text.startswith("Please wait a moment. done\r\nkestral-cli: Warning:"),
                            text)


class Batch(Base):
    def make_inputs(self):
        os.mkdir(self.path("in"))
        names = []
        for k, (w, h) in enumerate([(64, 64), (96, 80), (128, 70)]):
            y, x = np.mgrid[0:h, 0:w]
            pixels = (120 + 50 * np.cos(2 * np.pi * (x / (5 + k) + y / 9))).astype(np.uint8)
            name = self.path("in", "img%d.bmp" % k)
            Image.fromarray(pixels).save(name)
            names.append(name)
        return names

    def test_several_inputs_with_an_output_folder(self):
        inputs = self.make_inputs()
        out = self.path("out")
        r = run(VORALIN, "spectrum", "--log", "--quiet", "--out-dir", out, *inputs)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        self.assertEqual(sorted(os.listdir(out)), ["img0.bmp", "img1.bmp", "img2.bmp"])
        for name, size in zip(inputs, [(64, 64), (96, 80), (128, 70)]):
            self.assertEqual(Image.open(os.path.join(out, os.path.basename(name))).size, size)
        lines = r.stdout.splitlines()
        self.assertEqual(lines[:3], ["written  %s -> %s" % (i, os.path.join(out,
                                     os.path.basename(i))) for i in inputs])
        self.assertEqual(lines[3], "3 of 3 files written")
        # Each file is the same as a single run.
        single = self.path("single.bmp")
        run(VORALIN, "spectrum", inputs[1], single, "--log")
        with open(single, "rb") as a, open(os.path.join(out, "img1.bmp"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_a_refused_file_is_listed_and_sets_the_status(self):
        inputs = self.make_inputs()
        bad = self.path("in", "broken.bmp")
        with open(bad, "wb") as f:
            f.write(b"BM" + b"\0" * 100)
        out = self.path("lines")
        r = run(VORALIN, "linewave", "--angle", "30", "--out-dir", out, inputs[0], bad, inputs[2])
        self.assertEqual(r.returncode, 1)
        self.assertEqual(sorted(os.listdir(out)), ["img0.txt", "img2.txt"])
        lines = r.stdout.splitlines()
        self.assertEqual(lines[1], "refused  " + bad)
        self.assertEqual(lines[3], "2 of 3 files written")
        self.assertIn(bad + ": refused", r.stderr)
        data = np.loadtxt(os.path.join(out, "img0.txt"), skiprows=6)
        self.assertEqual(data.shape[1], 5)
        self.assertGreater(len(data), 10)

    def test_results_may_not_replace_inputs_or_each_other(self):
        inputs = self.make_inputs()
        r = run(VORALIN, "filter", "--filter", "low", "--out-dir", self.path("in"), *inputs)
        self.assert_usage_error(r, "would replace the input")
        os.mkdir(self.path("other"))
        twin = self.path("other", "img0.bmp")
        shutil.copy(inputs[0], twin)
        r = run(VORALIN, "normalise", "--out-dir", self.path("o"), inputs[0], twin)
        self.assert_usage_error(r, "would both be written to")
        self.assertFalse(os.path.exists(self.path("o")))
        r = run(VORALIN, "normalise", "--out-dir", self.path("o"))
        self.assert_usage_error(r, "normalise --out-dir DIR takes one or more input files")
        # Without --out-dir the file count stays as it was.
        r = run(VORALIN, "normalise", *inputs)
        self.assert_usage_error(r, "normalise takes 2 file names")


class CrystalBatch(Base):
    def test_several_crystals_with_an_output_folder(self):
        zno = os.path.join(DATA, "crystal", "zno_hex.txt")
        r = run(KESTRAL, "slice", "--uvw", "0", "0", "1", "--quiet", "--out-dir", "res", SRTIO3,
                zno, "--normal", "s.dat", "--convergent", "beam.xyz", cwd=self.tmp)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, "")
        self.assertEqual(sorted(os.listdir(self.path("res"))),
                         ["srtio3-beam.xyz", "srtio3-s1.dat", "srtio3-s2.dat", "zno_hex-beam.xyz",
                          "zno_hex-s1.dat", "zno_hex-s2.dat", "zno_hex-s3.dat", "zno_hex-s4.dat"])
        self.assertEqual(r.stdout.splitlines(), [
            "written  %s -> res/srtio3-s.dat, res/srtio3-beam.xyz" % SRTIO3,
            "written  %s -> res/zno_hex-s.dat, res/zno_hex-beam.xyz" % zno,
            "2 of 2 files written"])
        # The same bytes as a single run.
        single = self.path("single.xyz")
        run(KESTRAL, "slice", zno, "--uvw", "0", "0", "1", "--convergent", single)
        with open(single, "rb") as a, open(self.path("res", "zno_hex-beam.xyz"), "rb") as b:
            self.assertEqual(a.read(), b.read())

    def test_a_refused_crystal_is_listed_and_sets_the_status(self):
        bad = self.path("bad.txt")
        with open(bad, "w") as f:
            f.write("a axis=\n")
        r = run(KESTRAL, "slice", "--uvw", "1", "0", "0", "--out-dir", self.path("res"), bad,
                SRTIO3, "--reference", "ref.txt")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout.splitlines()[0], "refused  " + bad)
        self.assertEqual(r.stdout.splitlines()[2], "1 of 2 files written")
        self.assertEqual(os.listdir(self.path("res")), ["srtio3-ref.txt"])

    def test_batch_names_may_not_collide(self):
        os.mkdir(self.path("other"))
        twin = self.path("other", "srtio3.txt")
        shutil.copy(SRTIO3, twin)
        r = run(KESTRAL, "slice", "--uvw", "1", "0", "0", "--out-dir", self.path("res"), SRTIO3,
                twin, "--reference", "ref.txt")
        self.assert_usage_error(r, "would both be written to")
        self.assertFalse(os.path.exists(self.path("res")))
        # Without --out-dir one crystal only, as before.
        r = run(KESTRAL, "slice", "--uvw", "1", "0", "0", SRTIO3, twin, "--reference", "r.txt")
        self.assert_usage_error(r, "unexpected argument '%s'" % twin)


class NumberedNames(Base):
    def test_numbers_go_before_the_extension_of_the_file_name(self):
        os.mkdir(self.path("run.v2"))
        r = run(KESTRAL, "slice", SRTIO3, "--uvw", "1", "1", "0", "--normal", "run.v2/STEM",
                "--pages", "run.v2/p.tiff", "--quiet", cwd=self.tmp)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(os.listdir(self.path("run.v2"))),
                         ["STEM1", "STEM2", "STEM3", "STEM4", "p.tiff"])
        # Five planes or more: numbered pages.
        r = run(KESTRAL, "slice", os.path.join(DATA, "crystal", "zno_hex.txt"), "--uvw", "0", "0",
                "1", "--pages", "run.v2/zno.page.bmp", cwd=self.tmp)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("run.v2/zno.page1.bmp to\nrun.v2/zno.page", r.stderr)
        self.assertEqual(Image.open(self.path("run.v2", "zno.page1.bmp")).mode, "P")


if __name__ == "__main__":
    unittest.main()
