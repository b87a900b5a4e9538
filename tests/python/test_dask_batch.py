#!/usr/bin/python3
"""The Dask recipe (examples/dask_batch.py) on a LocalCluster of two worker processes: the same
rows and the same files as a serial loop, a file the readers refuse as a row with the suite's
message, and a run that completes, every result once and whole, when a worker is killed with
SIGKILL in the middle of it."""
import csv
import glob
import os
import signal
import sys
import tempfile
import threading
import time
import unittest

import numpy as np
import tifffile

BUILD = os.path.abspath(os.environ.get("SUITE_BUILD", "build/native"))
HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
PATHS = [os.path.join(BUILD, "python"), EXAMPLES]
# The workers are other processes: they find the package and the recipe through PYTHONPATH.
os.environ["PYTHONPATH"] = os.pathsep.join(PATHS + [os.environ.get("PYTHONPATH", "")])
sys.path[:0] = PATHS

import dask_batch  # noqa: E402
import tem_suite as ts  # noqa: E402
from dask.distributed import Client, LocalCluster  # noqa: E402


def read(path):
    with open(path, "rb") as f:
        return f.read()


def micrograph(size, seed):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:size, 0:size]
    period = 6 + seed % 5
    return (1000 + 300 * np.cos(2 * np.pi * (x / period + y / (2.5 * period)))
            + 250 * np.cos(2 * np.pi * (x - y) / (1.7 * period))
            + rng.normal(0, 30, (size, size))).astype(np.float32)


def make_folder(folder, count, size):
    for k in range(count):
        tifffile.imwrite(os.path.join(folder, "img%02d.tif" % k), micrograph(size, k),
                         imagej=True, resolution=(1 / 0.2, 1 / 0.2), metadata={"unit": "nm"})


def rows_by_name(rows):
    """The rows with file names in place of paths, keyed by input and image."""
    out = {}
    for row in rows:
        row = dict(row)
        for key in ("input", "picture", "samples"):
            row[key] = os.path.basename(row[key])
        key = (row["input"], int(row["image"]))
        assert key not in out, key
        out[key] = row
    return out


class DaskRecipe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                   dashboard_address=None)
        cls.client = Client(cls.cluster)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()

    def test_same_rows_and_files_as_a_serial_loop_with_a_refused_file_as_a_row(self):
        with tempfile.TemporaryDirectory() as d:
            folder = os.path.join(d, "in")
            os.makedirs(folder)
            make_folder(folder, 4, 192)
            tifffile.imwrite(os.path.join(folder, "stack.tif"),
                             np.stack([micrograph(160, 7), micrograph(160, 8)]))
            with open(os.path.join(folder, "broken.tif"), "wb") as f:
                f.write(b"II*\x00" + b"\xff" * 60)
            serial = dask_batch.run_serial([folder], os.path.join(d, "serial"))
            parallel = dask_batch.run_dask(self.client, [folder], os.path.join(d, "dask"))
            self.assertEqual(rows_by_name(parallel), rows_by_name(serial))
            self.assertEqual(len(parallel), 4 + 2 + 1)
            refused = [r for r in parallel if r["status"] == "refused"]
            self.assertEqual([os.path.basename(r["input"]) for r in refused], ["broken.tif"])
            with self.assertRaises(ts.Error) as caught:
                ts.open(os.path.join(folder, "broken.tif"))
            self.assertEqual(refused[0]["message"], str(caught.exception).replace("\n", " "))
            self.assertTrue(all(r["spots"] for r in parallel if r["status"] == "ok"))
            for name in sorted(os.listdir(os.path.join(d, "serial"))):
                if name == "results.csv":  # paths differ; its rows are compared above
                    continue
                self.assertEqual(read(os.path.join(d, "dask", name)),
                                 read(os.path.join(d, "serial", name)), name)
            with open(os.path.join(d, "dask", "results.csv")) as f:
                table = list(csv.DictReader(f))
            self.assertEqual(len(table), 7)
            self.assertIn("stack_0002.bmp", os.listdir(os.path.join(d, "dask")))

    def test_a_killed_worker_leaves_every_result_once_and_whole(self):
        with tempfile.TemporaryDirectory() as d:
            folder = os.path.join(d, "in")
            os.makedirs(folder)
            make_folder(folder, 12, 512)
            reference = rows_by_name(dask_batch.run_serial([folder], os.path.join(d, "serial")))
            out = os.path.join(d, "dask")
            result = {}

            def run():
                try:
                    result["rows"] = dask_batch.run_dask(self.client, [folder], out)
                except Exception as e:  # reported below
                    result["error"] = e

            runner = threading.Thread(target=run)
            runner.start()
            deadline = time.time() + 120
            while len(glob.glob(os.path.join(out, "*.tif"))) < 2 and time.time() < deadline:
                time.sleep(0.02)
            pids = self.client.run(os.getpid)
            victim = sorted(pids.values())[0]
            written_before = len(glob.glob(os.path.join(out, "*.tif")))
            os.kill(victim, signal.SIGKILL)
            runner.join(timeout=300)
            self.assertFalse(runner.is_alive())
            self.assertNotIn("error", result)
            self.assertLess(written_before, 12)  # the kill came in the middle of the run
            rows = rows_by_name(result["rows"])
            self.assertEqual(rows, reference)
            with open(os.path.join(out, "results.csv")) as f:
                table = list(csv.DictReader(f))
            self.assertEqual(len(table), 12)
            self.assertEqual(len({(r["input"], r["image"]) for r in table}), 12)
            leftovers = [n for n in os.listdir(out) if n.endswith(".tmp")]
            self.assertEqual(leftovers, [])
            for name in os.listdir(os.path.join(d, "serial")):
                if name != "results.csv":
                    self.assertEqual(read(os.path.join(out, name)),
                                     read(os.path.join(d, "serial", name)), name)
            # The worker is gone: the run finished on the other one (or its restart).
            self.assertNotIn(victim, self.client.run(os.getpid).values())


if __name__ == "__main__":
    unittest.main(verbosity=1)
