#!/usr/bin/python3
"""The Python module against the command-line tools: the same bytes for every output on the
sample set, the options of every command, the suite's refusals, and calls from several threads.
Inputs are made by Pillow, tifffile and mrcfile; the spectrum's layout is checked with numpy."""
import os
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import numpy as np
import tifffile
import mrcfile
from PIL import Image

BUILD = os.environ.get("SUITE_BUILD", "build/native")
DATA = os.environ.get("SUITE_TEST_DATA", "tests/data")
sys.path.insert(0, os.path.join(BUILD, "python"))
import tem_suite as ts  # noqa: E402

VORALIN = os.path.join(BUILD, "cli", "voralin00-cli")
KESTRAL = os.path.join(BUILD, "cli", "kestral-cli")


def run(tool, *args):
    env = dict(os.environ, LC_ALL="C", LANG="C")
    return subprocess.run([tool, *args], capture_output=True, text=True, timeout=300, env=env)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def lattice(width, height, seed, period=(7.3, 11.1)):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    return 1000 + 400 * np.cos(2 * np.pi * (x / period[0] + y / period[1])) \
        + 300 * np.cos(2 * np.pi * (x / 9.7 - y / 6.1)) + rng.normal(0, 40, (height, width))


def make_samples(folder):
    """The sample set: the bundled micrograph and microscope images written by other tools."""
    samples = {"lattice.bmp": os.path.join(DATA, "sample", "lattice.bmp")}
    path = os.path.join(folder, "u16.tif")
    tifffile.imwrite(path, lattice(200, 150, 1).astype(np.uint16), imagej=True,
                     resolution=(1 / 0.25, 1 / 0.25), metadata={"unit": "nm"})
    samples["u16.tif"] = path
    path = os.path.join(folder, "f32.mrc")
    with mrcfile.new(path) as m:
        m.set_data(lattice(160, 128, 2).astype(np.float32))
        m.voxel_size = 1.5  # Angstrom
    samples["f32.mrc"] = path
    path = os.path.join(folder, "grey.png")
    Image.fromarray(np.clip(lattice(128, 128, 3) / 8, 0, 255).astype(np.uint8)).save(path)
    samples["grey.png"] = path
    return samples


class SameBytes(unittest.TestCase):
    """Every output of the module, written by its writers, is the tool's file byte for byte,
    whether the module opens the file or gets the samples open() returned."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        cls.samples = make_samples(cls.dir)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def out(self, name):
        return os.path.join(self.dir, name)

    def tool(self, *args):
        r = run(VORALIN, *args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def inputs(self, path):
        """The path itself, and open()'s samples with their calibration."""
        samples, meta = ts.open(path)
        return [(path, {}), (samples, {"pixel_size": meta["pixel_size"]}
                             if meta["pixel_size"] is not None else {})]

    def check_picture(self, command, cli_args, call, **kwargs):
        for name, path in self.samples.items():
            expected = self.out(f"{name}-{command}.bmp")
            self.tool(command, path, expected, *cli_args)
            for k, (image, extra) in enumerate(self.inputs(path)):
                with self.subTest(sample=name, command=command, args=cli_args, input=k):
                    got = self.out(f"{name}-{command}-module.bmp")
                    call(image, **kwargs, **extra).save_bmp(got)
                    self.assertEqual(read(got), read(expected))

    def test_pictures(self):
        self.check_picture("normalise", [], ts.normalise)
        self.check_picture("spectrum", ["--log"], ts.spectrum, log=True)
        self.check_picture("spectrum", ["--quantity", "real", "--clip", "5", "--lower-clip", "3",
                                        "--invert", "--rainbow", "--frame", "windowed"],
                           ts.spectrum, quantity="real", clip=5, lower_clip=3, invert=True,
                           rainbow=True, frame="windowed")
        self.check_picture("spectrum", ["--whole-frame", "--no-expand"], ts.spectrum,
                           whole_frame=True, no_expand=True)
        self.check_picture("spectrum", ["--full-frame-limit", "1024", "--precision", "single"],
                           ts.spectrum, full_frame_limit=1024, precision="single")
        self.check_picture("adjust", ["--contrast", "3", "--brightness", "-2"], ts.adjust,
                           contrast=3, brightness=-2)
        self.check_picture("spectrum", ["--bin", "2", "--log"], ts.spectrum, bin=2, log=True)

    def test_image_of_a_stack(self):
        path = self.out("stack.tif")
        for k in range(3):  # one page an image
            tifffile.imwrite(path, lattice(128, 96, k).astype(np.uint16), append=k > 0)
        self.tool("spectrum", path, self.out("stack-cli.bmp"), "--image", "2", "--log")
        ts.spectrum(path, image=2, log=True).save_bmp(self.out("stack-module.bmp"))
        self.assertEqual(read(self.out("stack-module.bmp")), read(self.out("stack-cli.bmp")))
        samples, meta = ts.open(path, image=2)
        self.assertEqual((meta["image"], meta["image_count"]), (2, 3))
        np.testing.assert_array_equal(samples, tifffile.imread(path, key=1))

    def test_box_and_region(self):
        for name, path in self.samples.items():
            box = ("10", "20", "64")
            self.tool("spectrum", path, self.out("box.bmp"), "--box", *box, "--log",
                      "--npy", self.out("box.npy"))
            self.tool("spots", path, "--box", *box, "--csv", self.out("box.csv"))
            region = self.out("region" + (".bmp" if name.endswith((".bmp", ".png")) else ".tif"))
            self.tool("region", path, region, "--box", *box)
            for k, (image, extra) in enumerate(self.inputs(path)):
                with self.subTest(sample=name, input=k):
                    picture, values = ts.spectrum(image, box=(10, 20, 64), log=True,
                                                  return_spectrum=True, **extra)
                    picture.save_bmp(self.out("m-box.bmp"))
                    ts.write_npy(self.out("m-box.npy"), values)
                    self.assertEqual(read(self.out("m-box.bmp")), read(self.out("box.bmp")))
                    self.assertEqual(read(self.out("m-box.npy")), read(self.out("box.npy")))
                    found, _ = ts.spots(image, box="10 20 64", **extra)
                    size = extra.get("pixel_size", ts.open(path)[1]["pixel_size"])
                    ts.write_spots_csv(self.out("m-box.csv"), found, size)
                    self.assertEqual(read(self.out("m-box.csv")), read(self.out("box.csv")))
                    crop = ts.region(image, box=(10, 20, 64), **extra)
                    mine = self.out("m-region" + os.path.splitext(region)[1])
                    if isinstance(crop, ts.Picture):
                        crop.save_bmp(mine)
                    else:
                        ts.write_samples_tiff(mine, crop, size)
                    self.assertEqual(read(mine), read(region))
        with self.assertRaises(ts.Error) as caught:
            ts.spectrum(self.samples["grey.png"], box=(100, 100, 64))
        self.assertEqual(caught.exception.code, "box")
        with self.assertRaisesRegex(ValueError, "box"):
            ts.spots(self.samples["grey.png"], box=(0, 0, 100))

    def test_filters(self):
        self.check_picture("filter", ["--filter", "low", "--wa", "0.3"], ts.filter,
                           filter="low", wa=0.3)
        self.check_picture("filter", ["--circles-outside", "64,64,6;40,30,4", "--symmetric",
                                      "--dark", "10", "--bright", "200"], ts.filter,
                           circles_outside="64,64,6;40,30,4", symmetric=True, dark=10, bright=200)
        self.check_picture("filter", ["--wiener", "--noise-scale", "2", "--smoothing", "2"],
                           ts.filter, wiener=True, noise_scale=2, smoothing=2)
        self.check_picture("filter", ["--lattice-mask", "keep", "--radius", "4",
                                      "--edge-sigma", "1"], ts.filter,
                           lattice_mask="keep", radius=4, edge_sigma=1)
        self.check_picture("filter", ["--lattice-mask", "remove", "--radius", "auto"], ts.filter,
                           lattice_mask="remove", radius="auto")
        with self.assertRaisesRegex(ValueError, "radius"):
            ts.filter(self.samples["grey.png"], lattice_mask="keep", radius="big")

    def test_filter_side_outputs(self):
        for name, path in self.samples.items():
            ends = {"tif": ".tif", "npy": ".npy", "dnpy": "-d.npy", "dbmp": "-d.bmp", "dtif": "-d.tif"}
            cli = {k: self.out(f"{name}-cli{e}") for k, e in ends.items()}
            self.tool("filter", path, cli["tif"], "--absf", "--npy", cli["npy"],
                      "--difference-npy", cli["dnpy"], "--difference", cli["dbmp"])
            self.tool("filter", path, self.out("x.bmp"), "--absf", "--difference", cli["dtif"])
            for k, (image, extra) in enumerate(self.inputs(path)):
                with self.subTest(sample=name, input=k):
                    r = ts.filter(image, absf=True, return_values=True, return_parts=True, **extra)
                    size = extra.get("pixel_size", ts.open(path)[1]["pixel_size"])
                    got = {k: self.out(f"{name}-module{e}") for k, e in ends.items()}
                    ts.write_float_tiff(got["tif"], r["values"], size)
                    ts.write_npy(got["npy"], r["filtered"])
                    ts.write_npy(got["dnpy"], r["removed"])
                    r["removed_picture"].save_bmp(got["dbmp"])
                    ts.write_float_tiff(got["dtif"], r["removed_values"], size)
                    for key in cli:
                        self.assertEqual(read(got[key]), read(cli[key]), key)

    def test_tables(self):
        for name, path in self.samples.items():
            self.tool("linewave", path, self.out("lw.txt"), "--angle", "20", "--calibrated")
            self.tool("spots", path, "--csv", self.out("spots.csv"), "--count", "5")
            self.tool("radial", path, self.out("radial.csv"), "--plot", self.out("radial.png"))
            for k, (image, extra) in enumerate(self.inputs(path)):
                with self.subTest(sample=name, input=k):
                    text, table = ts.linewave(image, angle=20, calibrated=True, **extra)
                    ts.write_linewave(self.out("m.txt"), text)
                    ts.write_linewave(self.out("m.csv"), table)
                    self.assertEqual(read(self.out("m.txt")), read(self.out("lw.txt")))
                    self.assertEqual(read(self.out("m.csv")),
                                     read(self.out("lw_calibrated.csv")))
                    found, _ = ts.spots(image, count=5, **extra)
                    size = extra.get("pixel_size")
                    if size is None:
                        size = ts.open(path)[1]["pixel_size"]
                    ts.write_spots_csv(self.out("m-spots.csv"), found, size)
                    self.assertEqual(read(self.out("m-spots.csv")), read(self.out("spots.csv")))
                    profile = ts.radial(image, **extra)
                    ts.write_radial_csv(self.out("m-radial.csv"), profile)
                    ts.write_radial_plot(self.out("m-radial.png"), profile)
                    self.assertEqual(read(self.out("m-radial.csv")), read(self.out("radial.csv")))
                    self.assertEqual(read(self.out("m-radial.png")), read(self.out("radial.png")))

    def test_crystal_outputs(self):
        for crystal, uvw, extra in [(os.path.join(DATA, "crystal", "srtio3.txt"), (1, 1, 0), []),
                                    (os.path.join(DATA, "cif", "rutile.cif"), (0, 0, 1),
                                     ["--periodic-cell"])]:
            with self.subTest(crystal=crystal):
                d = self.out("cli-" + os.path.basename(crystal))
                os.makedirs(d, exist_ok=True)
                m = self.out("mod-" + os.path.basename(crystal))
                os.makedirs(m, exist_ok=True)
                names = ["ref.txt", "slab.dat", "conv.xyz", "page.bmp", "crystal.txt", "cell.xyz",
                         "cell.extxyz"]
                r = run(KESTRAL, "slice", crystal, "--uvw", *map(str, uvw), "--tile", "2", "1", "1",
                        "--reference", f"{d}/ref.txt", "--normal", f"{d}/slab.dat",
                        "--convergent", f"{d}/conv.xyz", "--pages", f"{d}/page.bmp",
                        "--crystal-out", f"{d}/crystal.txt", "--xyz", f"{d}/cell.xyz",
                        "--extxyz", f"{d}/cell.extxyz", *extra)
                self.assertEqual(r.returncode, 0, r.stderr)
                s = ts.slice(crystal, uvw, tile=(2, 1, 1), periodic_cell=bool(extra))
                s.write_reference(f"{m}/ref.txt")
                s.write_normal(f"{m}/slab.dat")
                s.write_convergent(f"{m}/conv.xyz")
                s.write_pages(f"{m}/page.bmp")
                s.write_crystal(f"{m}/crystal.txt")
                s.write_xyz(f"{m}/cell.xyz")
                s.write_extxyz(f"{m}/cell.extxyz")
                self.assertEqual(sorted(os.listdir(m)), sorted(os.listdir(d)))
                for name in os.listdir(d):
                    self.assertEqual(read(f"{m}/{name}"), read(f"{d}/{name}"), name)
        r = run(KESTRAL, "convert", os.path.join(DATA, "cif", "quartz.cif"), self.out("q.txt"))
        self.assertEqual(r.returncode, 0, r.stderr)
        ts.convert(os.path.join(DATA, "cif", "quartz.cif"), self.out("q-module.txt"))
        self.assertEqual(read(self.out("q-module.txt")), read(self.out("q.txt")))


class Arrays(unittest.TestCase):
    """What the calls return, checked with numpy and ASE."""

    def test_open_keeps_the_files_samples_and_calibration(self):
        with tempfile.TemporaryDirectory() as d:
            samples = make_samples(d)
            data, meta = ts.open(samples["u16.tif"])
            self.assertEqual(data.dtype, np.uint16)
            np.testing.assert_array_equal(data, tifffile.imread(samples["u16.tif"]))
            self.assertAlmostEqual(meta["pixel_size"], 0.25, places=9)
            self.assertEqual((meta["format"], meta["sample_type"]), ("TIFF", "uint16"))
            data, meta = ts.open(samples["f32.mrc"])
            self.assertEqual(data.dtype, np.float32)
            with mrcfile.open(samples["f32.mrc"]) as m:
                np.testing.assert_array_equal(data, m.data[::-1])  # MRC rows are bottom first
            self.assertAlmostEqual(meta["pixel_size"], 0.15, places=6)

    def test_half_spectrum_is_numpys_rfft2_of_the_frame(self):
        rng = np.random.default_rng(5)
        image = rng.integers(0, 256, (128, 128), dtype=np.uint8)
        expected = np.fft.rfft2(image.astype(float))
        # The whole frame, and the half spectrum the engine keeps above the full-frame limit.
        for limit in (8192, 64):
            _, half = ts.spectrum(image, no_expand=True, return_spectrum=True,
                                  full_frame_limit=limit)
            self.assertEqual(half.shape, expected.shape)
            np.testing.assert_allclose(half, expected, rtol=0,
                                       atol=1e-6 * np.abs(expected).max())

    def test_spots_of_a_known_lattice(self):
        y, x = np.mgrid[0:256, 0:256]
        image = (128 + 100 * np.cos(2 * np.pi * x / 8.0)).astype(np.float32)
        found, _ = ts.spots(image, count=1, pixel_size=0.2)
        self.assertEqual(list(found["number"]), [1, 2])
        np.testing.assert_allclose(found["d"], 8 * 0.2, rtol=1e-3)  # 8 pixels of 0.2 nm

    def test_hyperspy_signal_gives_its_calibration(self):
        import hyperspy.api as hs
        y, x = np.mgrid[0:256, 0:256]
        data = (128 + 100 * np.cos(2 * np.pi * (x / 8.0 + y / 16.0))).astype(np.float32)
        signal = hs.signals.Signal2D(data)
        for axis in signal.axes_manager.signal_axes:
            axis.scale, axis.units = 2.0, "Å"
        from_signal, _ = ts.spots(signal, count=1)
        from_array, _ = ts.spots(data, count=1, pixel_size=0.2)
        np.testing.assert_array_equal(from_signal, from_array)
        stack = hs.signals.Signal2D(np.stack([data, data[::-1]]))
        mapped = stack.map(lambda frame: np.asarray(ts.filter(frame, filter="low", wa=0.4)),
                           inplace=False, show_progressbar=False)
        np.testing.assert_array_equal(mapped.data[0], np.asarray(ts.filter(data, filter="low",
                                                                           wa=0.4)))
        lazy = stack.as_lazy().map(lambda frame: np.asarray(ts.filter(frame, filter="low",
                                                                      wa=0.4)),
                                   inplace=False, show_progressbar=False)
        np.testing.assert_array_equal(np.asarray(lazy.data[1]), np.asarray(
            ts.filter(np.ascontiguousarray(data[::-1]), filter="low", wa=0.4)))

    def test_slice_to_ase_matches_the_tools_xyz(self):
        with tempfile.TemporaryDirectory() as d:
            crystal = os.path.join(DATA, "crystal", "srtio3.txt")
            r = run(KESTRAL, "slice", crystal, "--uvw", "1", "1", "0", "--xyz", f"{d}/c.xyz")
            self.assertEqual(r.returncode, 0, r.stderr)
            atoms = ts.slice(crystal, (1, 1, 0)).to_ase()
            import ase.io
            ase.io.write(f"{d}/ase.xyz", atoms, format="prismatic")
            # prismatic's rows: Z x y z occupancy rms, after a comment and the cell line.
            ours = np.loadtxt(f"{d}/c.xyz", skiprows=2, max_rows=len(atoms))
            theirs = np.loadtxt(f"{d}/ase.xyz", skiprows=2, max_rows=len(atoms))
            np.testing.assert_array_equal(ours[:, 0], atoms.numbers)
            np.testing.assert_allclose(theirs, ours, atol=1e-5)  # ASE writes 5 decimals
            with open(f"{d}/c.xyz") as f:
                lines = f.read().split("\n")
            np.testing.assert_allclose([float(v) for v in lines[1].split()],
                                       np.diag(atoms.cell), atol=1e-6)


class Install(unittest.TestCase):
    def test_cmake_install_gives_an_importable_package(self):
        with tempfile.TemporaryDirectory() as prefix:
            r = subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix],
                               capture_output=True, text=True, timeout=120)
            self.assertEqual(r.returncode, 0, r.stderr)
            site = os.path.join(prefix, "lib", "python%d.%d" % sys.version_info[:2],
                                "site-packages")
            probe = subprocess.run(
                ["/usr/bin/python3", "-c", "import tem_suite as ts, sys; "
                 "print(ts.__file__); print(ts.open(sys.argv[1])[0].shape)",
                 os.path.abspath(os.path.join(DATA, "sample", "lattice.bmp"))],
                capture_output=True, text=True, cwd=prefix, env=dict(os.environ, PYTHONPATH=site))
            self.assertEqual(probe.returncode, 0, probe.stderr)
            self.assertTrue(probe.stdout.startswith(site), probe.stdout)
            self.assertIn("(480, 600)", probe.stdout)


class Refusals(unittest.TestCase):
    """The engines' refusals as tem_suite.Error with the tool's own text; bad arguments as
    ValueError or TypeError naming them."""

    def test_refused_file_carries_the_tools_message(self):
        with tempfile.TemporaryDirectory() as d:
            small = os.path.join(d, "small.bmp")
            Image.fromarray(np.zeros((32, 32), np.uint8)).save(small)
            r = run(VORALIN, "spectrum", small, os.path.join(d, "o.bmp"))
            self.assertEqual(r.returncode, 1)
            with self.assertRaises(ts.Error) as caught:
                ts.spectrum(small)
            self.assertEqual(caught.exception.code, "input")
            first = r.stderr.splitlines()[0].removeprefix("voralin00-cli: ")
            self.assertIn(caught.exception.message.split("\n")[0], first.replace("\n", " "))
            flat = os.path.join(d, "flat.bmp")
            Image.fromarray(np.full((128, 128), 7, np.uint8)).save(flat)
            r = run(VORALIN, "filter", flat, os.path.join(d, "o.bmp"), "--lattice-mask", "keep",
                    "--radius", "4", "--basis", "0,0;0,0")
            self.assertEqual(r.returncode, 1)
            with self.assertRaises(ts.Error) as caught:
                ts.filter(flat, lattice_mask="keep", radius=4, basis="0,0;0,0")
            self.assertEqual(caught.exception.code, "lattice")
            self.assertEqual(r.stderr.strip(), "voralin00-cli: " + caught.exception.message)

    def test_messages_follow_the_locale_as_the_tools_do(self):
        with tempfile.TemporaryDirectory() as d:
            flat = os.path.join(d, "flat.bmp")
            Image.fromarray(np.full((128, 128), 7, np.uint8)).save(flat)
            env = dict(os.environ, LC_ALL="ja_JP.UTF-8",
                       PYTHONPATH=os.path.join(BUILD, "python"))
            tool = subprocess.run([VORALIN, "filter", flat, os.path.join(d, "o.bmp"),
                                   "--lattice-mask", "keep", "--radius", "4", "--basis",
                                   "0,0;0,0"], capture_output=True, text=True, env=env)
            call = subprocess.run(
                ["/usr/bin/python3", "-c",
                 "import sys, tem_suite as ts\n"
                 "try:\n    ts.filter(sys.argv[1], lattice_mask='keep', radius=4, basis='0,0;0,0')\n"
                 "except ts.Error as e:\n    print(e.message)", flat],
                capture_output=True, text=True, env=env)
            self.assertEqual(call.returncode, 0, call.stderr)
            self.assertEqual(tool.stderr.strip(), "voralin00-cli: " + call.stdout.strip())
            self.assertRegex(call.stdout, "[\u3040-\u30ff\u4e00-\u9fff]")  # Japanese

    def test_bad_arguments_name_the_argument(self):
        image = np.zeros((64, 64), np.uint8)
        cases = [(dict(clip=0.5), ValueError, "clip"), (dict(quantity="abs"), ValueError, "quantity"),
                 (dict(log=True, clip=3), ValueError, "clip"), (dict(lod=True), TypeError, "lod")]
        for kwargs, error, name in cases:
            with self.subTest(kwargs=kwargs), self.assertRaisesRegex(error, name):
                ts.spectrum(image, **kwargs)
        for kwargs, name in [(dict(wa=0.3), "wa"), (dict(wiener=True, absf=True), "wiener"),
                             (dict(circles_inside="1,2"), "circles_inside"),
                             (dict(lattice_mask="keep"), "radius")]:
            with self.subTest(kwargs=kwargs), self.assertRaisesRegex(ValueError, name):
                ts.filter(image, **kwargs)
        with self.assertRaisesRegex(ValueError, "source"):
            ts.spectrum(np.zeros((4, 4, 4), np.uint8))
        with self.assertRaisesRegex(ValueError, "image"):
            ts.spectrum(np.zeros((64, 64), np.uint8), image=0)
        with self.assertRaisesRegex(TypeError, "complex"):
            ts.spectrum(np.zeros((64, 64), np.complex64))


class OptionWalk(unittest.TestCase):
    """Every option of the tools' option tables is a keyword of the matching call, except the
    named output, batch and printing options."""

    CRYSTAL_CALLS = {"slice": ("uvw", "client", "tile", "periodic_cell", "max_strain",
                               "slice_thickness", "reference_atom"),
                     "layers": ("uvw", "periodic_cell", "max_strain", "slice_thickness",
                                "reference_atom"),
                     "convert": ("reference_atom",)}
    # Slicing's writers take the place of the files slice writes.
    CRYSTAL_OUTPUTS = {"--reference", "--normal", "--convergent", "--pages", "--crystal-out",
                       "--xyz", "--extxyz"}

    def test_every_option_is_a_keyword(self):
        missing = []
        image_tables = ts._engines.tool_options("voralin00-cli")
        self.assertEqual(set(image_tables), set(ts.COMMANDS))  # a call for every command
        for command, options in image_tables.items():
            for option in options:
                if option in ts.NOT_KEYWORDS:
                    continue
                if option[2:].replace("-", "_") not in ts.COMMANDS[command]:
                    missing.append(f"voralin00-cli {command} {option}")
        crystal_tables = ts._engines.tool_options("kestral-cli")
        self.assertEqual(set(crystal_tables), set(self.CRYSTAL_CALLS))
        for command, options in crystal_tables.items():
            for option in options:
                if option in ts.NOT_KEYWORDS or option in self.CRYSTAL_OUTPUTS:
                    continue
                if option[2:].replace("-", "_") not in self.CRYSTAL_CALLS[command]:
                    missing.append(f"kestral-cli {command} {option}")
        self.assertEqual(missing, [])
        self.assertIn("--wiener", image_tables["filter"])
        self.assertNotIn("--wiener", image_tables["spots"])

    def test_the_crystal_calls_take_those_keywords(self):
        import inspect
        for command, keywords in self.CRYSTAL_CALLS.items():
            if command == "layers":  # takes slice's keywords through **options
                keywords = [k for k in keywords if k != "uvw"]
                call = ts.slice
            else:
                call = getattr(ts, command)
            parameters = inspect.signature(call).parameters
            for keyword in keywords:
                self.assertIn(keyword, parameters, f"{command}: {keyword}")


def run_in_threads(work, errors, count=4):
    """work(0) ... work(count - 1) side by side; an exception in one lands in `errors`."""
    def guarded(k):
        try:
            work(k)
        except Exception as e:  # a failure in a thread must fail the test
            errors.append(repr(e))

    threads = [threading.Thread(target=guarded, args=(k,)) for k in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


class Threads(unittest.TestCase):
    """Calls run side by side: the interpreter lock is released while the engines work, and four
    threads filtering four different images get the serial results."""

    def test_four_threads_give_the_serial_results(self):
        images = [lattice(300 + 20 * k, 260, 10 + k, period=(5 + k, 9)).astype(np.float32)
                  for k in range(4)]
        calls = [dict(wiener=True), dict(filter="band-pass", wa=0.2, wb=0.6),
                 dict(lattice_mask="remove", radius=3), dict(circles_outside="100,100,8")]
        serial = [np.asarray(ts.filter(im, return_values=True, **kw)["values"])
                  for im, kw in zip(images, calls)]
        results = [None] * 4
        errors = []

        def work(k):
            for _ in range(3):
                got = ts.filter(images[k], return_values=True, **calls[k])["values"]
                if results[k] is not None and not np.array_equal(results[k], got):
                    errors.append(k)
                results[k] = got

        run_in_threads(work, errors)
        self.assertEqual(errors, [])
        for k in range(4):
            np.testing.assert_array_equal(results[k], serial[k])

    def test_four_threads_open_emd_files_side_by_side(self):
        # The EMD reader goes through libhdf5, whose state is shared by every thread.
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
        import emdfile
        with tempfile.TemporaryDirectory() as d:
            paths, pictures = [], []
            for k in range(4):
                pictures.append(lattice(640 + 8 * k, 480, 30 + k).astype(np.float32))
                paths.append(os.path.join(d, "s%d.emd" % k))
                if k % 2:
                    emdfile.write_berkeley(paths[-1], "image", pictures[-1], 0.05 * (k + 1))
                else:
                    emdfile.write_velox(paths[-1], [("HAADF", pictures[-1], 1e-10 * (k + 1), "m")])
            errors = []

            def work(k):
                for _ in range(25):
                    data, meta = ts.open(paths[k])
                    if not np.array_equal(data, pictures[k]):
                        errors.append("samples of %d" % k)
                    if abs(meta["pixel_size"] - 0.05 * (k + 1) * (1 if k % 2 else 2)) > 1e-9:
                        errors.append("pixel size of %d: %r" % (k, meta["pixel_size"]))

            run_in_threads(work, errors)
            self.assertEqual(errors, [])

    def test_the_lock_is_released_while_the_engines_work(self):
        image = lattice(2000, 2000, 4).astype(np.float32)
        ticks = []
        done = threading.Event()

        def count():
            while not done.is_set():
                ticks.append(time.perf_counter())
                time.sleep(0.001)

        counter = threading.Thread(target=count)
        start = time.perf_counter()
        counter.start()
        ts.spectrum(image, log=True)
        done.set()
        counter.join()
        elapsed = time.perf_counter() - start
        self.assertGreater(elapsed, 0.05)
        # With the lock held the counter would stall for the whole call.
        self.assertGreater(len([t for t in ticks if t - start < elapsed * 0.9]), 10)

    def test_thread_setting(self):
        self.assertEqual(ts.threads(), 0)
        try:
            ts.set_threads(1)
            one = np.asarray(ts.filter(lattice(256, 256, 7).astype(np.float32), wiener=True))
            self.assertEqual(ts.threads(), 1)
        finally:
            ts.set_threads(0)
        np.testing.assert_array_equal(
            one, np.asarray(ts.filter(lattice(256, 256, 7).astype(np.float32), wiener=True)))
        with self.assertRaises(ValueError):
            ts.set_threads(-1)


if __name__ == "__main__":
    unittest.main(verbosity=1)
