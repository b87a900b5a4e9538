#!/usr/bin/python3
"""The calibrations vendors' acquisition software writes into TIFF files: `voralin00-cli info`
must read each layout's pixel size, name its source, and print magnification and high tension
where the file records them. Files come from tifffile's extratags and HyperSpy's writer
(vendor_tiffs.py); HyperSpy's TIFF reader reads each back and must agree with us."""
import logging
import math
import os
import re
import sys
import tempfile
import time
import unittest
import warnings

import tifffile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vendor_tiffs as vt  # noqa: E402
from test_voralin00_cli import run  # noqa: E402

try:
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        import hyperspy.api as hs
    logging.getLogger("hyperspy").setLevel(logging.ERROR)
except ImportError:
    hs = None

NM_PER = {"nm": 1.0, "\u00b5m": 1e3, "um": 1e3, "m": 1e9, "\u00c5": 0.1, "cm": 1e7, "mm": 1e6}
PIXEL = re.compile(r"pixel size ([-+\d.e]+) nm \(([-+\d.e]+) ([^)]+)\) from the ([^,(\n]+)")


def info(path, lang="C"):
    env = dict(os.environ, LANG=lang, LC_ALL=lang)
    env.pop("LC_MESSAGES", None)
    import subprocess
    from test_voralin00_cli import CLI
    r = subprocess.run([CLI, "info", path], capture_output=True, text=True, timeout=120, env=env)
    return r


def hyperspy_nm(path):
    """HyperSpy's reading of the file: (x, y) in nm, or the units when they are not lengths."""
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        s = hs.load(path)
    axes = s.axes_manager.signal_axes
    units = [a.units for a in axes]
    if any(u not in NM_PER for u in units):
        return units
    return tuple(a.scale * NM_PER[a.units] for a in axes)


class VendorCalibrations(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="voralin00-vendor-")
        p = cls.path
        # Every layout, each with what the file states (the independent reference).
        cls.files = {
            "dm": (vt.write_dm(p("dm.tif"), 0.0177, 0.0177), "DigitalMicrograph tags"),
            "dm_big_endian": (vt.write_dm(p("dm_big_endian.tif"), 0.25, 0.25, unit="\u00c5",
                                          byteorder=">"), "DigitalMicrograph tags"),
            "hyperspy": (vt.write_hyperspy(p("hyperspy.tif"), 0.035, "\u00b5m"),
                         "DigitalMicrograph tags"),
            "fei": (vt.write_fei(p("fei.tif"), mag=150000), "FEI tags"),
            "fei_irbeam": (vt.write_fei(p("fei_irbeam.tif"), 2.5e-8, 2.5e-8, hv=30000,
                                        scan=False, code=34680), "FEI tags"),
            "zeiss": (vt.write_zeiss(p("zeiss.tif")), "Zeiss SEM tags"),
            "tvips2": (vt.write_tvips(p("tvips2.tif")), "TVIPS header"),
            "tvips2_big_endian": (vt.write_tvips(p("tvips2_big_endian.tif"), px=0.52, py=0.52,
                                                 byteorder=">"), "TVIPS header"),
            "sis": (vt.write_sis(p("sis.tif"), 3.75, 3.75, -10, 25000.0), "Olympus SIS tags"),
            "jeol": (vt.write_jeol(p("jeol.tif")), "JEOL description"),
            "jeol_cm": (vt.write_jeol(p("jeol_cm.tif"), dpi=40.0, mag=8000.0, unit="CENTIMETER"),
                        "JEOL description"),
        }

    @classmethod
    def path(cls, name):
        return os.path.join(cls.tmp, name)

    def pixel(self, name):
        r = info(self.path(name + ".tif"))
        self.assertEqual(r.returncode, 0, r.stderr)
        m = PIXEL.search(r.stdout)
        self.assertIsNotNone(m, r.stdout)
        return float(m.group(1)), float(m.group(2)), m.group(3), m.group(4), r.stdout

    def test_each_layout_gives_the_stated_size_and_names_its_source(self):
        for name, (stated, source) in self.files.items():
            with self.subTest(name):
                nm, value, unit, said, _ = self.pixel(name)
                expected = stated["x"] * NM_PER[stated["unit"]]
                self.assertAlmostEqual(nm / expected, 1.0, places=5)
                self.assertEqual(said, source)
                # The value as the file states it, in the file's unit.
                self.assertAlmostEqual(value * NM_PER[unit] / expected, 1.0, places=5)

    def test_hyperspy_reads_the_same_calibration(self):
        if hs is None:
            self.skipTest("HyperSpy is not installed")
        for name in self.files:
            with self.subTest(name):
                nm = self.pixel(name)[0]
                x, y = hyperspy_nm(self.path(name + ".tif"))
                self.assertAlmostEqual(nm / x, 1.0, places=5)
                self.assertAlmostEqual(nm / y, 1.0, places=5)

    def test_magnification_and_high_tension_where_recorded(self):
        cases = {"fei": (150000, 200), "fei_irbeam": (None, 30), "zeiss": (50000, 5),
                 "tvips2": (38000, 300), "sis": (25000, None), "jeol": (150000, 200),
                 "dm": (None, None)}
        for name, (mag, kv) in cases.items():
            with self.subTest(name):
                out = self.pixel(name)[4]
                m = re.search(r"magnification ([\d.e+]+) x", out)
                k = re.search(r"high tension ([\d.e+]+) kV", out)
                self.assertEqual(float(m.group(1)) if m else None, mag, out)
                self.assertEqual(float(k.group(1)) if k else None, kv, out)

    def test_fei_magnification_is_the_canvas_over_the_field_as_tifffile_reads_them(self):
        with tifffile.TiffFile(self.path("fei.tif")) as t:
            fei = t.fei_metadata
        expected = fei["Image"]["MagCanvasRealWidth"] / fei["Scan"]["HorFieldsize"]
        m = re.search(r"magnification ([\d.e+]+) x", self.pixel("fei")[4])
        self.assertIsNotNone(m)
        self.assertAlmostEqual(float(m.group(1)) / expected, 1.0, places=5)

    def test_tvips_version_1_takes_the_resolution_in_pixels_per_centimetre(self):
        # HyperSpy's TIFF library fails on version-1 headers: the reference is 1 cm over the
        # resolution.
        vt.write_tvips(self.path("tvips1.tif"), version=1, per_cm=5.0e6)
        nm, _, _, source, _ = self.pixel("tvips1")
        self.assertAlmostEqual(nm, 1e7 / 5.0e6, places=9)
        self.assertEqual(source, "TVIPS header")

    def test_vendor_tags_come_before_an_imagej_description(self):
        # HyperSpy lets the ImageJ description win here; the instrument's own tags are the
        # calibration the acquisition made, so they come first.
        vt.write_dm(self.path("dm_and_imagej.tif"), 0.0177, 0.0177, imagej_nm=0.5)
        nm, _, _, source, _ = self.pixel("dm_and_imagej")
        self.assertAlmostEqual(nm, 0.0177, places=9)
        self.assertEqual(source, "DigitalMicrograph tags")

    def test_digitalmicrograph_tags_count_only_as_the_whole_set_with_their_types(self):
        # Other software reuses tags 65000-65535: a scale of another type, or a set with one
        # missing, is not DigitalMicrograph's, and the ImageJ description calibrates the file.
        vt.write_dm(self.path("dm_float.tif"), 0.0177, 0.0177, imagej_nm=0.5,
                    types=("s", "s", "d", "d", "f", "d"))
        vt.write_dm(self.path("dm_partial.tif"), 0.0177, 0.0177, imagej_nm=0.5, drop=65010)
        for name in ("dm_float", "dm_partial"):
            with self.subTest(name):
                nm, _, _, source, _ = self.pixel(name)
                self.assertAlmostEqual(nm, 0.5, places=9)
                self.assertEqual(source, "ImageJ description")
        vt.write_dm(self.path("dm_alone_partial.tif"), 0.0177, 0.0177, drop=65007)
        r = info(self.path("dm_alone_partial.tif"))
        self.assertIn("no pixel size", r.stdout)

    def test_sizes_that_are_no_lengths_are_ignored_and_said(self):
        vt.write_fei(self.path("fei_negative.tif"), -1e-9, -1e-9)
        vt.write_dm(self.path("dm_nan.tif"), float("nan"), float("nan"))
        vt.write_zeiss(self.path("zeiss_zero.tif"), 0.0)
        vt.write_sis(self.path("sis_inf.tif"), 1.0, 1.0, 400)  # 10^400 m overflows
        vt.write_tvips(self.path("tvips_bad_magic.tif"), magic=0x12345678)
        cases = {"fei_negative": "FEI tags: the pixel size -1e-09 x -1e-09 m is not a positive",
                 "dm_nan": "DigitalMicrograph tags: the pixel size nan x nan nm is not a positive",
                 "zeiss_zero": "Zeiss SEM tags: the pixel size 0 x 0 m is not a positive",
                 "sis_inf": "Olympus SIS tags: the pixel size inf x inf m is not a positive",
                 "tvips_bad_magic": "TVIPS header: damaged, no pixel size read"}
        for name, said in cases.items():
            with self.subTest(name):
                r = info(self.path(name + ".tif"))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("no pixel size (" + said, r.stdout)
        r = info(self.path("fei_negative.tif"), "ja_JP.UTF-8")
        self.assertIn("ピクセルサイズなし（FEI タグ: ピクセルサイズ -1e-09 x -1e-09 m は正の長さ"
                      "ではないため無視しました）", r.stdout)

    def test_a_diffraction_pattern_has_no_pixel_size(self):
        vt.write_jeol(self.path("jeol_diff.tif"), mode="DIFF", mag=40.0)
        r = info(self.path("jeol_diff.tif"))
        self.assertIn("no pixel size (JEOL description: a diffraction pattern's calibration",
                      r.stdout)
        self.assertIn("high tension 200 kV", r.stdout)
        if hs is not None:  # HyperSpy calibrates the same file in reciprocal units
            self.assertEqual(hyperspy_nm(self.path("jeol_diff.tif")), ["1 / nm", "1 / nm"])

    def test_a_ten_megabyte_description_is_read_in_one_pass(self):
        # Deeply nested and long: the scan keeps a bounded path and looks at each byte once.
        filler = "<a>" * 400000 + "</a>" * 400000 + "<b>" + "x" * 7500000 + "</b>\r\n"
        stated = vt.write_jeol(self.path("jeol_huge.tif"), filler=filler)
        self.assertGreater(os.path.getsize(self.path("jeol_huge.tif")), 10_000_000)
        start = time.monotonic()
        nm = self.pixel("jeol_huge")[0]
        self.assertLess(time.monotonic() - start, 20)
        self.assertAlmostEqual(nm / stated["x"], 1.0, places=5)

    def test_japanese_names_the_source(self):
        r = info(self.path("dm.tif"), "ja_JP.UTF-8")
        self.assertIn("ピクセルサイズ 0.0177 nm（0.0177 nm）、DigitalMicrograph タグによる", r.stdout)
        r = info(self.path("tvips2.tif"), "ja_JP.UTF-8")
        self.assertIn("倍率 38000 倍、加速電圧 300 kV", r.stdout)


if __name__ == "__main__":
    unittest.main()
