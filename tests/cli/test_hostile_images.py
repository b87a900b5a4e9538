#!/usr/bin/python3
"""Hostile microscope images kept in the fuzz corpus, run through voralin00-cli as a user would:
each is refused with its own message and exit code 1, or opens as an independent reading
(numpy, tifffile) says it should, in a fraction of a second and within 1 GiB of address space."""
import os
import resource
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_voralin00_cli import CLI, DATA  # noqa: E402

CORPUS = os.path.join(DATA, "..", "fuzz", "corpus")
LIMIT = 1 << 30


def corpus(area, name):
    return os.path.join(CORPUS, area, name)


def limited(*args):
    """Runs the tool under a 1 GiB address-space limit; returns the result and its CPU seconds."""
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = subprocess.run([CLI, *args], capture_output=True, text=True, timeout=120,
                            preexec_fn=limit)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    seconds = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return result, seconds


class HostileImages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-hostile-")

    def refused(self, path, message, command="info"):
        args = [command, path] + ([os.path.join(self.tmp, "out.bmp")] if command != "info" else [])
        result, seconds = limited(*args)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(f"voralin00-cli: Error: {message}\n", result.stderr)
        self.assertLess(seconds, 0.5)
        return result

    def opened(self, path, command="info"):
        args = [command, path] + ([os.path.join(self.tmp, "out.bmp")] if command != "info" else [])
        result, seconds = limited(*args)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertLess(seconds, 0.5)
        return result

    def test_dm_values_ending_the_file(self):
        self.refused(corpus("dm", "dm_overread_1byte.dm3"),
                     "The DM file holds no two-dimensional image.")
        out = self.opened(corpus("dm", "dm_overread_datatype.dm3")).stdout
        self.assertIn("DM3, 32-bit float, 64 x 64 pixels, samples 0 to 4095", out)


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2))
