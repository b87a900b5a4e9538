#!/usr/bin/python3
"""voralin00-cli on EMD files written by h5py in the Velox layout (several detectors, an FFT/DPC
result, a stack) and the Berkeley EMD 1.0 layout (emdfile.py), each read back first by
HyperSpy's own EMD reader with the same data and calibration. The same samples written by
tifffile must open to the same picture (the rows' order); hostile HDF5 files are refused with
their message and nothing written."""
import os
import shutil
import sys
import tempfile
import unittest
import warnings

import h5py
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import emdfile  # noqa: E402
from test_voralin00_cli import read_bytes, run  # noqa: E402

import tifffile  # noqa: E402

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        import hyperspy.api as hs
except ImportError:
    hs = None


def picture(height, width, seed):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    base = 25000 + 8000 * np.sin(2 * np.pi * (x / 6.7 - y / 8.3)) + 200 * x + rng.normal(0, 400, (height, width))
    return np.clip(base, 0, 65535).astype(np.uint16)


class Emd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-emd-")
        p = cls.path
        cls.haadf = picture(80, 100, 1)
        cls.df = (picture(64, 72, 2) / 9).astype(np.float32)
        dpc = np.zeros((120, 120), emdfile.DPC_DTYPE)  # larger than both: never the default
        emdfile.write_velox(p("two.emd"), [("HAADF", cls.haadf, 2.5e-10, "m"),
                                           ("DF4", cls.df, 5e-10, "m"), ("DPC", dpc, 2.5e-10, "m")])
        cls.stack = np.stack([cls.haadf, cls.haadf // 2, cls.haadf // 3])
        emdfile.write_velox(p("stack.emd"), [("BF", cls.stack, 1e-9, "m")])
        cls.sim = picture(70, 90, 3).astype(np.float64) / 7
        emdfile.write_berkeley(p("berkeley.emd"), "potential", cls.sim, 0.05)
        tifffile.imwrite(p("haadf.tif"), cls.haadf)
        tifffile.imwrite(p("frame0.tif"), cls.stack[0])
        tifffile.imwrite(p("sim.tif"), cls.sim)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp, name)

    def info(self, *args):
        result = run("info", *args)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.splitlines()

    def test_hyperspy_reads_our_files_with_the_same_data_and_calibration(self):
        if hs is None:
            self.skipTest("python3-hyperspy is not installed")
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            signals = hs.load(self.path("two.emd"))
            self.assertEqual(len(signals), 3)
            np.testing.assert_array_equal(signals[0].data, self.haadf)
            np.testing.assert_array_equal(signals[1].data, self.df)
            self.assertEqual(signals[2].data.dtype, np.complex64)
            for s, scale in zip(signals, (0.25, 0.5, 0.25)):
                self.assertAlmostEqual(s.axes_manager["x"].scale, scale, delta=1e-9)
                self.assertEqual(s.axes_manager["x"].units, "nm")
            s = hs.load(self.path("stack.emd"))
            np.testing.assert_array_equal(s.data, self.stack)
            s = hs.load(self.path("berkeley.emd"))
            np.testing.assert_array_equal(s.data, self.sim)
            self.assertAlmostEqual(s.axes_manager[1].scale, 0.05)
            self.assertEqual(s.axes_manager[1].units, "nm")

    def test_velox_opens_the_largest_real_signal_and_lists_the_others(self):
        lines = self.info(self.path("two.emd"))
        self.assertTrue(lines[0].startswith(
            f"EMD, 16-bit unsigned integer, 100 x 80 pixels, samples {self.haadf.min()} to "
            f"{self.haadf.max()}, pixel size 0.25 nm (2.5e-10 m)"), lines[0])
        self.assertEqual(lines[1:6], [
            "Pixel size from the signal's metadata (BinaryResult.PixelSize in m).",
            "Signal 1: HAADF, 100 x 80, 16-bit unsigned integer (opened)",
            "Signal 2: DF4, 72 x 64, 32-bit float",
            "Signal 3: DPC, 120 x 120, complex (FFT or DPC), not opened",
            "Choose a signal with --signal N."])
        lines = self.info(self.path("two.emd"), "--signal", "2")
        self.assertTrue(lines[0].startswith("EMD, 32-bit float, 72 x 64 pixels"), lines[0])
        self.assertIn("pixel size 0.5 nm", lines[0])
        self.assertIn("Signal 2: DF4, 72 x 64, 32-bit float (opened)", lines)
        lines = self.info(self.path("stack.emd"))
        self.assertIn("pixel size 1 nm", lines[0])
        self.assertIn("first of 3 images", lines[0])
        lines = self.info(self.path("berkeley.emd"))
        self.assertTrue(lines[0].startswith("EMD, 64-bit float, 90 x 70 pixels, "), lines[0])
        self.assertIn("pixel size 0.05 nm (0.05 nm)", lines[0])
        self.assertEqual(lines[1], 'Pixel size from the axis dim1 (units "nm").')

    def test_pictures_come_the_right_way_up(self):
        for emd, tif, extra in (("two.emd", "haadf.tif", ()), ("stack.emd", "frame0.tif", ()),
                                ("berkeley.emd", "sim.tif", ()),
                                ("two.emd", None, ("--signal", "2"))):
            with self.subTest(emd, extra=extra):
                out = self.path(emd + "".join(extra) + ".bmp")
                result = run("normalise", self.path(emd), out, *extra)
                self.assertEqual(result.returncode, 0, result.stderr)
                if tif:
                    reference = self.path(tif + ".bmp")
                    self.assertEqual(run("normalise", self.path(tif), reference).returncode, 0)
                    self.assertEqual(read_bytes(out), read_bytes(reference))
                else:
                    # The float signal's rendering, from numpy: 0.1 and 99.9 percentiles.
                    lo, hi = np.percentile(self.df.astype(np.float64), (0.1, 99.9))
                    expected = np.clip((self.df - lo) * (255.0 / (hi - lo)), 0, 255).astype(np.uint8)
                    bmp = np.frombuffer(read_bytes(out)[1078:], np.uint8).reshape(64, 72)[::-1]
                    self.assertLessEqual(np.abs(bmp.astype(int) - expected).max(), 1)

    def test_every_sample_type_in_both_layouts_matches_tifffile(self):
        rng = np.random.default_rng(9)
        for dtype in (np.int8, np.uint8, np.int16, np.int32, np.uint32, np.float16, np.float32):
            name = np.dtype(dtype).name
            a = (rng.random((70, 90)) * 100 - (50 if np.dtype(dtype).kind == "i" else 0)).astype(dtype)
            emdfile.write_velox(self.path(f"v_{name}.emd"), [("X", a, 1e-10, "m")])
            emdfile.write_berkeley(self.path(f"b_{name}.emd"), "x", a, 0.1)
            # tifffile holds the same values (16-bit floats widened, 8 bits kept as they are).
            tifffile.imwrite(self.path(f"{name}.tif"), a if dtype == np.uint8 else a.astype(np.float64))
            reference = self.path(f"{name}.tif.bmp")
            self.assertEqual(run("normalise", self.path(f"{name}.tif"), reference).returncode, 0)
            for layout in ("v", "b"):
                with self.subTest(name, layout=layout):
                    out = self.path(f"{layout}_{name}.bmp")
                    result = run("normalise", self.path(f"{layout}_{name}.emd"), out)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(read_bytes(out), read_bytes(reference))

    def refused(self, name, message, *extra):
        out = self.path(name + ".bmp")
        result = run("normalise", self.path(name), out, *extra)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertIn(message, result.stderr)
        self.assertFalse(os.path.exists(out))

    def test_hostile_and_unsupported_files_are_refused_by_name(self):
        p = self.path
        with h5py.File(p("huge.emd"), "w") as f:  # 10^12 samples claimed, none stored
            f.create_dataset("Version", data=[b'{"format": "Velox"}'])
            f.create_group("Data/Image/0").create_dataset("Data", shape=(1000000, 1000000, 1),
                                                          dtype="<u2", chunks=(64, 64, 1))
        with h5py.File(p("unwritten.emd"), "w") as f:  # within the limits, nothing stored
            f.create_dataset("Version", data=[b'{"format": "Velox"}'])
            f.create_group("Data/Image/0").create_dataset("Data", shape=(20000, 20000, 1),
                                                          dtype="<f4", chunks=(64, 64, 1))
        # Deflated: a few bytes cannot hold a frame of 3000 x 3000 doubles even at 1032 to 1.
        emdfile.write_berkeley(p("deflated.emd"), "image", self.sim, 0.05)
        with h5py.File(p("deflated.emd"), "a") as f:
            f["signals/image"].create_dataset("huge", shape=(3000, 3000), dtype="<f8",
                                              chunks=(64, 64), compression="gzip")
            del f["signals/image/data"]
            f["signals/image"].move("huge", "data")
            f["signals/image/data"][0, 0] = 1.0
        emdfile.write_berkeley(p("cycle.emd"), "image", self.sim, 0.05)
        with h5py.File(p("cycle.emd"), "a") as f:
            f["signals/image/back"] = f["signals"]  # a hard link to its own ancestor
        emdfile.write_berkeley(p("elsewhere.emd"), "image", self.sim, 0.05)
        with h5py.File(p("external.emd"), "w") as f:  # the only image lies in another file
            f["signals"] = h5py.ExternalLink(p("elsewhere.emd"), "/signals")
        with h5py.File(p("plain.emd"), "w") as f:
            f.create_dataset("numbers", data=np.arange(10))
        with open(p("text.emd"), "w") as f:
            f.write("not HDF5 at all\n" * 40)
        emdfile.write_velox(p("dpc.emd"), [("DPC", np.zeros((64, 64), emdfile.DPC_DTYPE), 1e-10, "m")])
        with h5py.File(p("complex.emd"), "w") as f:
            group = f.create_group("data/wave")
            group.attrs["emd_group_type"] = 1
            group.create_dataset("data", data=np.ones((64, 64), np.complex64))
        cases = [
            ("huge.emd", "The image is too large: 1000000 x 1000000 pixels"),
            ("unwritten.emd", "Signal 1 of the EMD file claims 20000 x 20000 samples a frame, "
                              "more than the file holds."),
            ("deflated.emd", "Signal 1 of the EMD file claims 3000 x 3000 samples a frame, "
                             "more than the file holds."),
            ("cycle.emd", "The HDF5 file's groups link in a cycle (at /signals/image/back)."),
            ("external.emd", "The EMD file holds no image in a known layout"),
            ("plain.emd", "The EMD file holds no image in a known layout"),
            ("text.emd", "Not an EMD file: it is not an HDF5 file."),
            ("dpc.emd", "The EMD file holds no real image"),
            ("complex.emd", "The EMD file holds no real image: every signal is complex data"),
        ]
        for name, message in cases:
            with self.subTest(name):
                self.refused(name, message)
        with self.subTest("--signal"):
            self.refused("two.emd", "Signal 3 of the EMD file (DPC) holds complex data", "--signal", "3")
            self.refused("two.emd", "The EMD file holds 3 signals: there is no signal 4.", "--signal", "4")


def velox_version(f, text, compact=False):
    """/Version as one variable-length UTF-8 string (h5py's str), contiguous or kept in the
    dataset's header (the compact layout)."""
    if not compact:
        f.create_dataset("Version", data=text, dtype=h5py.string_dtype())
        return
    plist = h5py.h5p.create(h5py.h5p.DATASET_CREATE)
    plist.set_layout(h5py.h5d.COMPACT)
    space = h5py.h5s.create_simple((1,))
    dataset = h5py.h5d.create(f.id, b"Version", h5py.h5t.py_create(h5py.string_dtype(), logical=True),
                              space, dcpl=plist)
    dataset.write(h5py.h5s.ALL, h5py.h5s.ALL, np.array([text], dtype=object))


def patch_heap_objects(path, text, offset, value, size=8):
    """Overwrites, in every global heap object holding exactly `text`, the field `offset` bytes
    before the text (-8: the object's size; -16: its index) with `value`."""
    data = bytearray(read_bytes(path))
    start = 0
    found = 0
    while (at := data.find(text, start)) >= 0:
        if data[at - 16:at].count(0) >= 8 and int.from_bytes(data[at - 8:at], "little") == len(text):
            data[at + offset:at + offset + size] = value.to_bytes(size, "little")
            found += 1
        start = at + 1
    assert found, text
    with open(path, "wb") as out:
        out.write(data)


class VariableLengthStrings(unittest.TestCase):
    """Variable-length strings (h5py's str: /Version, the axes' units) are read from the file by
    our own code, whatever the object header's version, its continuation blocks, a user block or
    the compact layout; a global heap that contradicts its strings costs the string, never the
    process."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-vlen-")
        cls.image = picture(72, 96, 4)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def velox(self, name, compact=False, **file_options):
        with h5py.File(self.path(name), "w", **file_options) as f:
            velox_version(f, '{"format": "Velox", "version": "11"}', compact)
            group = f.create_group("Data/Image/7f")
            group.create_dataset("Data", data=self.image[:, :, None])
            column = emdfile.metadata_column("HAADF", 2.5e-10, "m")
            group.create_dataset("Metadata", data=column[:, None])
        return self.path(name)

    def berkeley(self, name, crowded=False, **file_options):
        with h5py.File(self.path(name), "w", **file_options) as f:
            f.attrs["version_major"] = 0
            group = f.create_group("signals/image")
            group.attrs["emd_group_type"] = 1
            group.create_dataset("data", data=self.image.T)
            for dim, length, step in ((1, 96, 0.125), (2, 72, 0.25)):
                axis = group.create_dataset(f"dim{dim}", data=np.arange(length) * step)
                if crowded:  # the header overflows into continuation blocks
                    for k in range(40):
                        axis.attrs[f"note{k:02d}"] = "x" * (20 + k)
                axis.attrs["units"] = "[n_m]"
        return self.path(name)

    def info(self, path):
        result = run("info", path)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_every_header_layout_gives_the_calibration(self):
        files = {
            "velox": self.velox("v.emd"),
            "velox, user block": self.velox("vu.emd", userblock_size=512),
            "velox, compact Version": self.velox("vc.emd", compact=True),
            "velox, newest format": self.velox("vl.emd", libver="latest"),
            "berkeley": self.berkeley("b.emd"),
            "berkeley, user block": self.berkeley("bu.emd", userblock_size=1024),
            "berkeley, newest format": self.berkeley("bl.emd", libver="latest"),
            "berkeley, continuation blocks": self.berkeley("bc.emd", crowded=True),
        }
        for what, path in files.items():
            with self.subTest(what):
                with h5py.File(path, "r") as f:  # what h5py itself reads
                    if "velox" in what:
                        version = np.ravel(f["Version"][()])[0]
                        self.assertIn("Velox", version.decode())
                    else:
                        self.assertEqual(f["signals/image/dim1"].attrs["units"], "[n_m]")
                text = self.info(path)
                if "velox" in what:
                    self.assertIn("pixel size 0.25 nm", text)
                    self.assertIn("BinaryResult.PixelSize", text)
                else:
                    self.assertIn("pixel size 0.125 x 0.25 nm", text)
                    self.assertIn('units "nm"', text)

    def test_hyperspy_written_files_give_their_calibration(self):
        if hs is None:
            self.skipTest("HyperSpy is not installed")
        signal = hs.signals.Signal2D(self.image.astype(np.float32))
        for axis, scale in zip(signal.axes_manager.signal_axes, (0.0125, 0.025)):
            axis.scale, axis.units = scale, "nm"
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            signal.save(self.path("hs.emd"), overwrite=True)
        text = self.info(self.path("hs.emd"))
        self.assertIn("EMD, 32-bit float, 96 x 72 pixels", text)
        self.assertIn("pixel size 0.0125 x 0.025 nm", text)

    def test_a_heap_contradicting_its_strings_costs_the_string_only(self):
        # Each object's size grows past its collection (libhdf5 1.10 copies that many bytes into
        # a buffer of the string's length); an index no object has; a size below the string's.
        cases = [("size beyond the collection", -8, 1 << 28, 8),
                 ("index of no object", -16, 999, 2),
                 ("size below the string", -8, 2, 8)]
        for what, offset, value, size in cases:
            with self.subTest(what):
                berkeley = self.berkeley("hb.emd")
                patch_heap_objects(berkeley, b"[n_m]", offset, value, size)
                text = self.info(berkeley)
                self.assertIn("EMD, 16-bit unsigned integer, 96 x 72 pixels", text)
                self.assertIn("no pixel size", text)
                velox = self.velox("hv.emd")
                patch_heap_objects(velox, b'{"format": "Velox", "version": "11"}', offset, value, size)
                result = run("info", velox)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertIn("The EMD file holds no image in a known layout", result.stderr)

    def test_files_that_broke_libhdf5_are_refused_at_once(self):
        # Found by the fuzzer: before, libhdf5 looped without end reading /Version on four,
        # overflowed a heap buffer copying it out of the global heap on two, and copied a chunk
        # past the bytes its index gives it on one.
        corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fuzz", "corpus",
                              "emd")
        names = sorted(n for n in os.listdir(corpus) if n.startswith("hdf5_"))
        self.assertEqual(len(names), 7)
        for name in names:
            with self.subTest(name):
                out = self.path(name + ".bmp")
                result = run("normalise", os.path.join(corpus, name), out)
                self.assertEqual(result.returncode, 1, result.stdout)
                self.assertRegex(result.stderr, "link in a cycle|no image in a known layout|"
                                                "could not be read: its HDF5 data are damaged")
                self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
