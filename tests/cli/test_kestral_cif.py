#!/usr/bin/python3
"""kestral-cli with CIF input, checked from outside: the expanded unit cell against ASE or
pymatgen reading the same CIF, and the periodic cell written with --xyz / --extxyz read back by
ASE: every atom's neighbourhood in the written periodic cell is one the crystal has (a cell that is
not a period gives boundary atoms neighbours the crystal does not have), and the atom count is the
cell's volume times the crystal's number density."""
import os
import re
import subprocess
import tempfile
import unittest
import warnings

import numpy as np
import ase.io
from ase.neighborlist import neighbor_list

warnings.simplefilter("ignore")

BIN = os.environ.get("SUITE_BIN", "build/native/cli")
DATA = os.environ.get("SUITE_TEST_DATA", "tests/data")
CLI = os.path.join(BIN, "kestral-cli")
KIT = os.path.join(DATA, "cif")


def run(*args, env=None):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=300, env=env)


def kit(name):
    return os.path.join(KIT, name)


def reference_atoms(name, tmp):
    """The CIF as an independent reader expands it. ASE and pymatgen take 0.333 for a third at
    face value and then keep near-duplicates apart, so they get the thirds written in full; ASE
    cannot read the monoclinic symbol, so pymatgen reads that one."""
    path = kit(name)
    text = open(path).read()
    full = re.sub(r"(?<![\d.])0\.3333?(?!\d)", "0.333333333333", text)
    full = re.sub(r"(?<![\d.])0\.6667?(?!\d)", "0.666666666667", full)
    copy = os.path.join(tmp, "ref_" + name)
    with open(copy, "w") as f:
        f.write(full)
    if name.startswith("zro2"):
        from pymatgen.io.cif import CifParser
        from pymatgen.io.ase import AseAtomsAdaptor
        structure = CifParser(copy).get_structures(primitive=False)[0]
        return AseAtomsAdaptor.get_atoms(structure)
    return ase.io.read(copy, format="cif")


def read_crystal_data(path):
    """Our crystal data file as cell parameters and (symbol, fractional) rows."""
    lines = open(path, "rb").read().decode("ascii").split("\r\n")
    numbers = lambda line: [float(v) for v in re.findall(r"=([-\d.]+)", line)]
    a, b, c = numbers(lines[0])
    alpha, beta, gamma = numbers(lines[1])
    rows = []
    for line in lines[2:]:
        if not line.strip():
            continue
        symbol, z, x, y, zz, colour = line.split()
        rows.append((symbol, int(z), float(x), float(y), float(zz), colour))
    return (a, b, c, alpha, beta, gamma), rows


def environments(atoms, cutoff=4.0):
    """Per element, the distinct neighbour distance lists (within 1 mA)."""
    i, d = neighbor_list("id", atoms, cutoff)
    out = {}
    symbols = atoms.get_chemical_symbols()
    for k in range(len(atoms)):
        env = np.sort(d[i == k])
        known = out.setdefault(symbols[k], [])
        if not any(len(e) == len(env) and np.allclose(e, env, atol=1e-3) for e in known):
            known.append(env)
    return out


def assert_environments_within(test, ours, theirs, what):
    for element, envs in ours.items():
        for env in envs:
            test.assertTrue(any(len(e) == len(env) and np.allclose(e, env, atol=3e-3)
                                for e in theirs.get(element, [])), (what, element, env))


def pair_distances(atoms, cutoff=4.0):
    i, j, d = neighbor_list("ijd", atoms, cutoff)
    symbols = atoms.get_chemical_symbols()
    out = {}
    for p, q, r in zip(i, j, d):
        key = tuple(sorted((symbols[p], symbols[q])))
        out.setdefault(key, []).append(r)
    return {k: np.sort(v) for k, v in out.items()}


KIT_FILES = ["quartz.cif", "nacl.cif", "si.cif", "si_origin2.cif", "srtio3.cif", "rutile.cif", "zno.cif",
             "graphite.cif", "corundum.cif", "zro2_monoclinic.cif", "triclinic.cif"]


class ExpansionAgreesWithIndependentReaders(unittest.TestCase):
    def test_kit(self):
        from ase import Atoms
        with tempfile.TemporaryDirectory() as tmp:
            for name in KIT_FILES:
                with self.subTest(cif=name):
                    out = os.path.join(tmp, name + ".txt")
                    r = run("convert", kit(name), out)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    cell, rows = read_crystal_data(out)
                    self.assertLessEqual(cell[3], 90.0)
                    self.assertLessEqual(cell[4], 90.0)
                    ours = Atoms(symbols=[row[0] for row in rows],
                                 scaled_positions=[row[2:5] for row in rows],
                                 cell=list(cell), pbc=True)
                    theirs = reference_atoms(name, tmp)
                    self.assertEqual(sorted(ours.get_chemical_symbols()),
                                     sorted(theirs.get_chemical_symbols()))
                    self.assertAlmostEqual(ours.get_volume(), theirs.get_volume(), places=3)
                    # Distances are blind to the order, the shift and the reversed axes.
                    po, pt = pair_distances(ours), pair_distances(theirs)
                    self.assertEqual(po.keys(), pt.keys())
                    for key in po:
                        np.testing.assert_allclose(po[key], pt[key], atol=2e-3, err_msg=str(key))
                    # Row 0 is the reference atom at the origin; every coordinate in [0, 1).
                    self.assertEqual(rows[0][2:5], (0.0, 0.0, 0.0))
                    for row in rows:
                        for v in row[2:5]:
                            self.assertTrue(0 <= v < 1, row)

    def test_same_sites_up_to_a_shift_where_no_axes_are_reversed(self):
        with tempfile.TemporaryDirectory() as tmp:
            for name in ["rutile.cif", "corundum.cif", "zno.cif", "si_origin2.cif"]:
                with self.subTest(cif=name):
                    out = os.path.join(tmp, name + ".txt")
                    self.assertEqual(run("convert", kit(name), out).returncode, 0)
                    _, rows = read_crystal_data(out)
                    theirs = reference_atoms(name, tmp)
                    # Our origin is the first site of the heaviest element, row 0.
                    heaviest = max(set(theirs.numbers))
                    frac = theirs.get_scaled_positions()
                    shift = frac[list(theirs.numbers).index(heaviest)]
                    want = sorted((s, tuple(np.round((p - shift) % 1.0 % 1.0, 4) % 1.0))
                                  for s, p in zip(theirs.get_chemical_symbols(), frac))
                    got = sorted((r[0], tuple(np.round(np.array(r[2:5]), 4) % 1.0)) for r in rows)
                    self.assertEqual(len(got), len(want))
                    for (s1, p1), (s2, p2) in zip(got, want):
                        self.assertEqual(s1, s2)
                        np.testing.assert_allclose(p1, p2, atol=2e-4)

    def test_thirds_written_for_the_one_third_replacement(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "zno.txt")
            self.assertEqual(run("convert", kit("zno.cif"), out).returncode, 0)
            text = open(out, "rb").read().decode()
            self.assertIn("0.3333333", text)
            self.assertIn("0.6666667", text)
            self.assertNotIn("0.3333\t", text)

    def test_notes_name_what_the_import_assumed(self):
        with tempfile.TemporaryDirectory() as tmp:
            r = run("convert", kit("si.cif"), os.path.join(tmp, "si.txt"))
            self.assertIn("origin choice 1", r.stderr)
            r = run("convert", kit("zro2_monoclinic.cif"), os.path.join(tmp, "z.txt"))
            self.assertIn("axes b, c were reversed", r.stderr)
            env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="")
            r = run("convert", kit("si.cif"), os.path.join(tmp, "si.txt"), env=env)
            self.assertIn("原点選択 1", r.stderr)

    def test_reference_atom_by_label(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "srtio3.txt")
            r = run("convert", kit("srtio3.cif"), out, "--reference-atom", "O1")
            self.assertEqual(r.returncode, 0, r.stderr)
            _, rows = read_crystal_data(out)
            self.assertEqual(rows[0][0], "O")
            self.assertEqual(rows[0][2:5], (0.0, 0.0, 0.0))
            r = run("convert", kit("srtio3.cif"), out, "--reference-atom", "Xx9")
            self.assertEqual(r.returncode, 1)
            self.assertIn("Xx9", r.stderr)


# (crystal, direction, expected super cell edges or further options)
CASES = [
    ("graphite.cif", "0 0 1", (4.2677732, 2.464)),
    ("srtio3.cif", "0 0 1", (3.905, 3.905)),
    ("srtio3.cif", "1 1 0", None),
    ("srtio3.cif", "1 1 1", None),
    ("nacl.cif", "0 0 1", None),
    ("nacl.cif", "1 1 0", None),
    ("si.cif", "1 1 0", None),
    ("si.cif", "0 0 1", None),
    ("rutile.cif", "0 0 1", None),
    ("corundum.cif", "0 0 1", ("--slice-thickness", "2")),
    ("zno.cif", "0 0 1", ("--slice-thickness", "1.3")),
    ("graphite.cif", "1 0 0", None),
    # Slabs hold atoms at several heights: an edge must be an in-plane translation by itself.
    ("graphite.cif", "1 0 0", ("--slice-thickness", "2")),
]


class PeriodicCellsReadBack(unittest.TestCase):
    def check_cell(self, name, uvw, extra=(), expected=None):
        with tempfile.TemporaryDirectory() as tmp:
            xyz = os.path.join(tmp, "cell.xyz")
            ext = os.path.join(tmp, "cell.extxyz")
            r = run("slice", kit(name), "--uvw", *uvw.split(), "--xyz", xyz, "--extxyz", ext,
                    *extra)
            self.assertEqual(r.returncode, 0, r.stderr)
            prism = ase.io.read(xyz, format="prismatic")
            cell = ase.io.read(ext, format="extxyz")
            self.assertTrue(all(cell.pbc))
            np.testing.assert_allclose(prism.positions, cell.positions, atol=1e-6)
            np.testing.assert_allclose(prism.cell.lengths(), cell.cell.lengths(), atol=1e-6)
            self.assertEqual(list(prism.numbers), list(cell.numbers))
            X, Y, Z = cell.cell.lengths()
            if expected:
                self.assertAlmostEqual(X, expected[0], places=5)
                self.assertAlmostEqual(Y, expected[1], places=5)
            # Inside the cell, as the prismatic layout wants.
            self.assertTrue(np.all(cell.positions >= 0))
            self.assertTrue(np.all(cell.positions < [X, Y, Z]))
            crystal = reference_atoms(name, tmp)
            # Atom count = volume x number density.
            density = len(crystal) / crystal.get_volume()
            self.assertAlmostEqual(len(cell), X * Y * Z * density, places=3)
            # Every neighbourhood is one of the crystal's.
            ours, theirs = environments(cell), environments(crystal)
            assert_environments_within(self, ours, theirs, (name, uvw))
            # The period in numpy: every atom moved by X (or Y) lands on an atom of its kind in
            # the 3 x 3 x 1 tiling of the written cell, a tiling that only a true period makes a
            # piece of the crystal (checked above).
            tiled = cell.repeat((3, 3, 1))
            pos, num = tiled.positions, tiled.numbers
            centre = (pos[:, 0] >= X) & (pos[:, 0] < 2 * X) & (pos[:, 1] >= Y) & (pos[:, 1] < 2 * Y)
            for shift in ([X, 0, 0], [0, Y, 0], [-X, 0, 0], [0, -Y, 0]):
                moved = pos[centre] + shift
                d = np.linalg.norm(moved[:, None, :] - pos[None, :, :], axis=2)
                hit = d.argmin(axis=1)
                self.assertTrue(np.all(d[np.arange(len(hit)), hit] < 1e-3))
                self.assertTrue(np.all(num[hit] == num[centre]))
            return r

    def test_super_cells_of_the_kit(self):
        for name, uvw, more in CASES:
            with self.subTest(cif=name, uvw=uvw):
                if more and isinstance(more[0], str):
                    self.check_cell(name, uvw, extra=more)
                else:
                    self.check_cell(name, uvw, expected=more)

    def test_periodic_cells(self):
        for name, uvw in [("srtio3.cif", "3 2 1"), ("nacl.cif", "1 1 1"), ("si.cif", "1 1 2"),
                          ("graphite.cif", "0 0 1"), ("rutile.cif", "1 1 0"),
                          ("corundum.cif", "1 0 0"), ("zno.cif", "1 1 0")]:
            with self.subTest(cif=name, uvw=uvw):
                r = self.check_cell(name, uvw,
                                    extra=("--periodic-cell", "--slice-thickness", "1.5"))
                self.assertRegex(r.stdout, r"periodic cell: X=[\d.]+ Y=[\d.]+ .* strain 0 %")

    def test_the_writers_use_the_periodic_cells_axes(self):
        """The convergent-beam file of a periodic cell lists the same atoms as the --xyz list."""
        with tempfile.TemporaryDirectory() as tmp:
            conv, xyz = os.path.join(tmp, "c.xyz"), os.path.join(tmp, "p.xyz")
            r = run("slice", kit("nacl.cif"), "--uvw", "0", "0", "1", "--periodic-cell",
                    "--convergent", conv, "--xyz", xyz)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("X=3.9882237 Y=3.9882237", r.stdout)  # a / sqrt 2, not a
            rows = open(conv, "rb").read().decode().split("\r\n")
            listed = rows[2:rows.index("     -1")]
            theirs = np.array([[float(v) for v in line.split()[:4]] for line in listed])
            ours = ase.io.read(xyz, format="prismatic")
            self.assertEqual(len(theirs), len(ours))
            np.testing.assert_array_equal(np.sort(theirs[:, 0]), np.sort(ours.numbers))
            key = lambda a: np.lexsort((a[:, 2], a[:, 1], a[:, 0]))
            mine = np.column_stack([ours.positions[:, 0], ours.positions[:, 1],
                                    ours.positions[:, 2]])
            np.testing.assert_allclose(np.round(theirs[key(theirs[:, 1:4])][:, 1:4], 5),
                                       np.round(mine[key(mine)], 5), atol=2e-6)

    def test_graphite_along_c_is_the_rectangle_not_a_bond(self):
        r = run("layers", kit("graphite.cif"), "--uvw", "0", "0", "1")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("super cell: X=4.2677732 Y=2.4640000", r.stdout)

    def test_tiling(self):
        with tempfile.TemporaryDirectory() as tmp:
            one, two = os.path.join(tmp, "1.xyz"), os.path.join(tmp, "2.xyz")
            self.assertEqual(run("slice", kit("rutile.cif"), "--uvw", "0", "0", "1",
                                 "--extxyz", one).returncode, 0)
            self.assertEqual(run("slice", kit("rutile.cif"), "--uvw", "0", "0", "1",
                                 "--extxyz", two, "--tile", "2", "3", "4").returncode, 0)
            a, b = ase.io.read(one), ase.io.read(two)
            self.assertEqual(len(b), 24 * len(a))
            np.testing.assert_allclose(b.cell.lengths(), a.cell.lengths() * [2, 3, 4], atol=1e-5)
            assert_environments_within(self, environments(b), environments(a), "tiled")
            assert_environments_within(self, environments(a), environments(b), "tiled")

    def test_occupancy_and_thermal_parameter_from_the_cif(self):
        with tempfile.TemporaryDirectory() as tmp:
            xyz = os.path.join(tmp, "nacl.xyz")
            self.assertEqual(run("slice", kit("nacl.cif"), "--uvw", "0", "0", "1",
                                 "--xyz", xyz).returncode, 0)
            atoms = ase.io.read(xyz, format="prismatic")
            b = atoms.get_array("debye_waller_factors")
            # B read back from u_rms = sqrt(B / 8 pi^2), written to four decimals.
            np.testing.assert_allclose(b[atoms.numbers == 11], 1.6, rtol=2e-3)
            np.testing.assert_allclose(b[atoms.numbers == 17], 1.2, rtol=2e-3)
            # A crystal data file carries neither: 1 and 0.076.
            txt = os.path.join(tmp, "nacl.txt")
            self.assertEqual(run("convert", kit("nacl.cif"), txt).returncode, 0)
            self.assertEqual(run("slice", txt, "--uvw", "0", "0", "1", "--xyz", xyz).returncode, 0)
            rows = [l.split() for l in open(xyz).read().splitlines()[2:-1]]
            self.assertTrue(all(r[4] == "1.0000" and r[5] == "0.0760" for r in rows))


class SpeedAndHostileFiles(unittest.TestCase):
    def test_hundred_sites_expand_and_slice_along_321_with_a_periodic_cell_quickly(self):
        import time
        rows = []
        for k in range(10):
            for j in range(10):
                rows.append("%s%d %s %.2f %.2f %.2f" % ("Si" if j == 0 else "O", 10 * k + j,
                                                     "Si" if j == 0 else "O", (0.7 * k) % 1,
                                                     (0.8 * k) % 1, (0.3 * k + j / 20) % 1))
        cif = ("data_bench\n_cell_length_a 10\n_cell_length_b 10\n_cell_length_c 10\n"
               "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
               "_symmetry_space_group_name_H-M 'P 1'\nloop_\n_atom_site_label\n"
               "_atom_site_type_symbol\n_atom_site_fract_x\n_atom_site_fract_y\n"
               "_atom_site_fract_z\n" + "\n".join(rows) + "\n")
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "hundred.cif")
            with open(path, "w") as f:
                f.write(cif)
            xyz = os.path.join(tmp, "h.xyz")
            start = time.monotonic()
            r = run("slice", path, "--uvw", "3", "2", "1", "--periodic-cell", "--xyz", xyz)
            elapsed = time.monotonic() - start
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("100 atoms in the unit cell", r.stderr)
            # The target is 1 s; a shared test machine gets some slack.
            self.assertLess(elapsed, 3.0)
            atoms = ase.io.read(xyz, format="prismatic")
            X, Y, Z = atoms.cell.lengths()
            self.assertAlmostEqual(len(atoms), X * Y * Z * 100 / 1000.0, places=3)

    def test_hostile_files_are_refused_with_their_reason(self):
        with open(kit("nacl.cif"), "rb") as f:
            nacl = f.read()
        with tempfile.TemporaryDirectory() as tmp:
            cases = {
                "garbage.cif": (bytes(range(256)) * 64, "CIF"),
                "nocell.cif": (b"data_x\nloop_\n_atom_site_label\n_atom_site_fract_x\n"
                               b"_atom_site_fract_y\n_atom_site_fract_z\nNa1 0 0 0\n",
                               "_cell_length_a"),
                "group.cif": (nacl.replace(b"'F m -3 m'", b"'Q 9 z'"), "Q 9 z"),
            }
            for name, (data, reason) in cases.items():
                with self.subTest(file=name):
                    path = os.path.join(tmp, name)
                    with open(path, "wb") as f:
                        f.write(data)
                    out = os.path.join(tmp, "out.txt")
                    r = run("convert", path, out)
                    self.assertEqual(r.returncode, 1)
                    self.assertIn(reason, r.stderr)
                    self.assertFalse(os.path.exists(out))
                    r = run("slice", path, "--uvw", "0", "0", "1", "--xyz",
                            os.path.join(tmp, "out.xyz"))
                    self.assertEqual(r.returncode, 1)
                    self.assertFalse(os.path.exists(os.path.join(tmp, "out.xyz")))


def run_limited(*args):
    """kestral-cli under a 1 GiB address-space limit; returns the result and the CPU seconds it
    took (wall time on a shared machine says little)."""
    import resource
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    r = subprocess.run([CLI, *args], capture_output=True, text=True, timeout=60,
                       preexec_fn=limit)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return r, cpu


def write_cif(path, sites, group="", ops=(), a=4):
    with open(path, "w") as f:
        f.write("data_x\n_cell_length_a %s\n_cell_length_b %s\n_cell_length_c %s\n"
                "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n" % (a, a, a))
        if group:
            f.write("_symmetry_space_group_name_H-M '%s'\n" % group)
        if ops:
            f.write("loop_\n_symmetry_equiv_pos_as_xyz\n")
            f.writelines(op + "\n" for op in ops)
        f.write("loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
                "_atom_site_fract_y\n_atom_site_fract_z\n_atom_site_occupancy\n")
        f.writelines(sites)


class HostileCifsAreRefusedQuickly(unittest.TestCase):
    """Files made to exhaust the import: each is refused (or read) in under a second of
    CPU time under a 1 GiB address-space limit, with its reason."""

    def check(self, path, code, text, cpu=0.8):
        for command in (("convert", path, path + ".txt"), ("layers", path, "--uvw", "0", "0", "1")):
            r, used = run_limited(*command)
            self.assertEqual(r.returncode, code, r.stderr[-500:])
            self.assertIn(text, r.stderr)
            self.assertLess(used, cpu, (path, command[0]))
            self.assertNotIn("bad_alloc", r.stderr)
        return r

    def test_generated_files(self):
        import random
        random.seed(5)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "fd3m_400k.cif")
            write_cif(path, ("S%d Si %.4f %.4f %.4f 1\n" % (i, random.random(), random.random(),
                                                           random.random())
                             for i in range(400000)), group="F d -3 m", a=20)
            self.assertGreater(os.path.getsize(path), 12 << 20)
            self.check(path, 1, "The CIF gives more than 100 atoms in the unit cell; at most "
                                "100 can be used.", cpu=1.0)
            path = os.path.join(tmp, "fd3m_30k.cif")
            write_cif(path, ("S%d Si %.4f %.4f %.4f 1\n" % (i, random.random(), random.random(),
                                                           random.random())
                             for i in range(30000)), group="F d -3 m", a=20)
            self.check(path, 1, "more than 100 atoms")
            path = os.path.join(tmp, "ops_x_sites.cif")
            write_cif(path, ("S%d Si 0 0 0 1\n" % i for i in range(20000)),
                      ops=["x,y,z"] * 200000)
            self.check(path, 1, "The CIF lists 200000 symmetry operations; a space group has "
                                "at most 192.")
            # Linear work takes about 0.93 s of CPU for 600000 sites on CI's machine; a
            # quadratic pass would take minutes, so twice that is the bound.
            for count, cpu in ((50000, 0.5), (600000, 2.0)):
                path = os.path.join(tmp, "shared_%d.cif" % count)
                write_cif(path, ("A%d Si 0.1 0.1 0.1 0.5\n" % i for i in range(count)))
                r = self.check(path, 0, "%d more sites share a position" % (count - 2), cpu=cpu)
                self.assertEqual(r.stderr.count("share"), 2)
            path = os.path.join(tmp, "many_blocks.cif")
            with open(path, "w") as f:
                f.writelines("data_b%d\n_x 1\n" % i for i in range(300000))
            write_cif(path + ".tail", ["Si1 Si 0 0 0 1\n"])
            with open(path, "a") as f, open(path + ".tail") as tail:
                f.write(tail.read())
            self.check(path, 0, "1 atoms in the unit cell")

    def test_operations_that_overflow_are_refused_by_name(self):
        folder = os.path.join(DATA, "cif_hostile")
        none = ("The CIF's symmetry operation \"%s", "multiples of 1/24", "CIF の対称操作 \"%s")
        unreadable = ("Unreadable symmetry operation in the CIF: \"%s", "",
                      "CIF の対称操作が読めません: \"%s")
        cases = {
            "cif_symop_den_truncated.cif": ("x+1/4294967298,y,z", none),
            "cif_symop_coef_truncated.cif": ("4294967297*x,y,z", none),
            "cif_symop_overflow_min.cif": ("-99999999999999999999999x", none),
            # Overflowed a signed integer inside the parser (found by the sanitizer): now read,
            # and refused, before that parser sees it.
            "cif_fuzz_ubsan_symop_overflow.cif": ("-y,b-77777", unreadable),
        }
        for name, (op, (english, reason, japanese)) in cases.items():
            with self.subTest(cif=name), tempfile.TemporaryDirectory() as tmp:
                path = os.path.join(tmp, name)
                with open(os.path.join(folder, name), "rb") as src, open(path, "wb") as dst:
                    dst.write(src.read())
                r = self.check(path, 1, english % op)
                self.assertIn(reason, r.stderr)
                self.assertFalse(os.path.exists(path + ".txt"))
                env = dict(os.environ, LANG="ja_JP.UTF-8", LC_ALL="")
                r = run("convert", path, path + ".txt", env=env)
                self.assertIn(japanese % op, r.stderr)

    def test_inputs_that_are_no_regular_file_or_too_large(self):
        with tempfile.TemporaryDirectory() as tmp:
            big_txt = os.path.join(tmp, "big.txt")
            with open(big_txt, "wb") as f:
                f.truncate(3 << 30)  # sparse: 3 GiB that take no disk
            big_cif = os.path.join(tmp, "big.cif")
            with open(big_cif, "wb") as f:
                f.truncate(17 << 20)
            zero_cif = os.path.join(tmp, "zero.cif")
            os.symlink("/dev/zero", zero_cif)
            fifo = os.path.join(tmp, "fifo.txt")
            os.mkfifo(fifo)
            cases = [("/dev/zero", "The file is not a regular file."),
                     (fifo, "The file is not a regular file."),
                     (zero_cif, "The CIF is not a regular file."),
                     (big_txt, "The crystal data file is too large (more than 64 KB)."),
                     (big_cif, "The CIF file is too large (more than 16 MB).")]
            for path, text in cases:
                with self.subTest(path=os.path.basename(path)):
                    r, used = run_limited("layers", path, "--uvw", "0", "0", "1")
                    self.assertEqual(r.returncode, 1)
                    self.assertIn(text, r.stderr)
                    self.assertLess(used, 0.5)


def strained_cell(test, tmp, name, uvw, strain):
    """A strained periodic cell as written (--extxyz, read by ASE), the crystal it was cut from
    (our own crystal data file, in the setting the edges are given in) and the crystal
    fractional coordinates of every written atom: its fractions of X, Y and the repeat taken
    along the cell's lattice edges T1, T2 and the repeat vector along the beam."""
    from ase import Atoms
    ext, data = os.path.join(tmp, "s.extxyz"), os.path.join(tmp, "s.txt")
    r = run("slice", kit(name), "--uvw", *uvw.split(), "--periodic-cell", "--max-strain",
            str(strain), "--slice-thickness", "1.5", "--extxyz", ext)
    test.assertEqual(r.returncode, 0, r.stderr)
    m = re.search(r"edges \[([-\d. ]+)\] and \[([-\d. ]+)\].* strain ([\d.]+) %", r.stdout)
    test.assertIsNotNone(m, r.stdout)
    test.assertGreater(float(m.group(3)), 0)  # a strained cell, the case at hand
    t1, t2 = (np.array([float(v) for v in m.group(k).split()]) for k in (1, 2))
    test.assertEqual(run("convert", kit(name), data).returncode, 0)
    params, rows = read_crystal_data(data)
    crystal = Atoms(symbols=[row[0] for row in rows], scaled_positions=[row[2:5] for row in rows],
                    cell=list(params), pbc=True)
    written = ase.io.read(ext, format="extxyz")
    X, Y, Z = written.cell.lengths()
    beam = np.array([float(v) for v in uvw.split()])
    # Depth grows the way the beam travels, against [u v w]. Where u >= 0 the written y runs
    # along -T2, which keeps the written cell a proper image of the crystal.
    t3 = -beam * Z / np.linalg.norm(beam @ crystal.cell[:])
    if beam[0] >= 0:
        t2 = -t2
    g = written.positions / [X, Y, Z]
    frac = g[:, :1] * t1 + g[:, 1:2] * t2 + g[:, 2:3] * t3
    return written, crystal, frac, (t1, t2, t3), float(m.group(3)) / 100


class StrainedPeriodicCells(unittest.TestCase):
    """A strained periodic cell holds one true period of the strained crystal: the atoms of the
    parallelepiped of its lattice edges, mapped onto the rectangle."""

    CASES = [("triclinic.cif", "0 0 1", 10), ("zro2_monoclinic.cif", "0 1 0", 5)]

    def test_a_period_of_the_strained_crystal(self):
        for name, uvw, strain in self.CASES:
            with self.subTest(cif=name, uvw=uvw), tempfile.TemporaryDirectory() as tmp:
                cell, crystal, frac, (t1, t2, t3), s = strained_cell(self, tmp, name, uvw, strain)
                X, Y, Z = cell.cell.lengths()
                pos, num = cell.positions, cell.numbers
                self.assertTrue(np.all(pos >= 0) and np.all(pos < [X, Y, Z]))
                # Every atom shifted by X or by Y lands on an atom of the same Z: in the written
                # cell itself (wrapped, as a periodic code sees it) and in the crystal, whose
                # translation T1 (T2) is the written X (Y).
                for shift in ([X, 0, 0], [0, Y, 0]):
                    moved = np.mod(pos + shift, [X, Y, Z])
                    d = np.abs(moved[:, None, :] - pos[None, :, :])
                    d = np.minimum(d, [X, Y, Z] - d)
                    d = np.linalg.norm(d, axis=2)
                    hit = d.argmin(axis=1)
                    self.assertTrue(np.all(d[np.arange(len(hit)), hit] < 1e-3))
                    self.assertTrue(np.all(num[hit] == num))
                # Each written atom is an atom of the crystal of its own Z (up to the one shift
                # between the cell's corner and the crystal's origin), and no atom twice.
                sites = crystal.get_scaled_positions()
                same = crystal.numbers[None, :] == num[:, None]
                best = None
                for origin in sites[crystal.numbers == num[0]]:
                    shift = origin - frac[0]
                    d = frac[:, None, :] + shift - sites[None, :, :]
                    d = np.linalg.norm(d - np.round(d), axis=2)
                    d = np.where(same, d, 1.0).min(axis=1)
                    if best is None or d.max() < best.max():
                        best = d
                self.assertLess(best.max(), 1e-4, name)
                diff = frac[:, None, :] - frac[None, :, :]
                lattice = np.array([t1, t2, t3])
                steps = np.linalg.solve(lattice.T, diff.reshape(-1, 3).T).T.reshape(diff.shape)
                apart = np.linalg.norm(steps - np.round(steps), axis=2) + np.eye(len(cell))
                self.assertTrue(np.all(apart > 1e-4), "an atom written twice")
                # The count: one period holds det(T1, T2, T3) unit cells exactly, and equals the
                # rectangle's volume times the unstrained number density within the strain.
                self.assertEqual(len(cell), round(abs(np.linalg.det(lattice))) * len(crystal))
                # The map from the crystal to the written cell keeps the hand.
                self.assertGreater(np.linalg.det(lattice), 0)
                density = len(crystal) / crystal.get_volume()
                self.assertLessEqual(abs(len(cell) - X * Y * Z * density),
                                     X * Y * Z * density * s + 1e-6)


QUARTZ_DIRECTIONS = ["0 0 1", "1 0 0", "2 1 0", "1 1 0", "1 -1 0", "0 1 0", "0 -1 0", "0 0 -1",
                     "-1 0 0", "-1 -1 0", "-1 1 0", "-2 -1 0"]
HAND_DIRECTIONS = ["0 0 1", "0 0 -1", "1 0 0", "-1 0 0", "0 1 0", "1 1 0", "-1 -1 0", "-1 1 1"]


def spacegroup(atoms):
    import spglib
    return spglib.get_spacegroup((atoms.cell[:], atoms.get_scaled_positions(), atoms.numbers),
                                 symprec=1e-3)


class WrittenCellsKeepTheHand(unittest.TestCase):
    """A periodic cell is the crystal under a proper rotation, whatever the sign of u: a chiral
    crystal keeps its space group, and a chiral marker its sense of turn."""

    def test_quartz_stays_p3221_along_every_direction(self):
        with tempfile.TemporaryDirectory() as tmp:
            theirs = ase.io.read(kit("quartz.cif"))
            self.assertIn("(154)", spacegroup(theirs))
            for uvw in QUARTZ_DIRECTIONS:
                for option in ("--xyz", "--extxyz"):
                    with self.subTest(uvw=uvw, file=option):
                        path = os.path.join(tmp, "q" + option)
                        r = run("slice", kit("quartz.cif"), "--uvw", *uvw.split(),
                                "--periodic-cell", "--slice-thickness", "1.5", option, path)
                        self.assertEqual(r.returncode, 0, r.stderr)
                        cell = ase.io.read(path, format="prismatic" if option == "--xyz"
                                           else "extxyz")
                        self.assertEqual(spacegroup(cell), "P3_221 (154)")

    def test_a_chiral_marker_turns_the_same_way_in_every_cell_of_the_kit(self):
        """In each kit CIF's cell, a P 1 crystal of four atoms along x, y and z from a gold atom;
        in every written cell (plain and strained), the triple product of the three bonds from
        each gold atom keeps its sign: the determinant of the map is positive."""
        names = sorted(n for n in os.listdir(KIT) if n.endswith(".cif"))
        self.assertGreaterEqual(len(names), 10)
        with tempfile.TemporaryDirectory() as tmp:
            for name in names:
                text = open(kit(name)).read()
                par = [float(re.search(r"_cell_%s\s+([\d.]+)" % key, text).group(1))
                       for key in ("length_a", "length_b", "length_c", "angle_alpha",
                                   "angle_beta", "angle_gamma")]
                from ase.cell import Cell
                lattice = Cell.fromcellpar(par)
                origin = np.array([0.11, 0.23, 0.37])
                sites = [("Au", origin)]
                for symbol, axis in (("Cu", 0), ("Fe", 1), ("O", 2)):
                    step = np.zeros(3)
                    step[axis] = 0.6  # Angstrom, in ASE's Cartesian frame of the cell
                    sites.append((symbol, origin + np.linalg.solve(lattice[:].T, step)))
                a, b, c, alpha, beta, gamma = lattice.cellpar()
                path = os.path.join(tmp, "marker_" + name)
                with open(path, "w") as f:
                    f.write("data_m\n_cell_length_a %.6f\n_cell_length_b %.6f\n"
                            "_cell_length_c %.6f\n_cell_angle_alpha %.6f\n"
                            "_cell_angle_beta %.6f\n_cell_angle_gamma %.6f\n"
                            "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                            "_atom_site_fract_z\n" % (a, b, c, alpha, beta, gamma))
                    for symbol, p in sites:
                        f.write("%s1 %.6f %.6f %.6f\n" % (symbol, *p))
                for uvw in HAND_DIRECTIONS:
                    for extra in ((), ("--periodic-cell", "--max-strain", "10")):
                        ext = os.path.join(tmp, "m.extxyz")
                        if os.path.exists(ext):
                            os.remove(ext)
                        r = run("slice", path, "--uvw", *uvw.split(), "--slice-thickness",
                                "0.5", "--extxyz", ext, *extra)
                        if not extra and r.returncode != 0:
                            continue  # no rectangle in the drawing box: nothing written
                        with self.subTest(cif=name, uvw=uvw, cell=" ".join(extra)):
                            self.assertEqual(r.returncode, 0, r.stderr)
                            cell = ase.io.read(ext, format="extxyz")
                            tiled = cell.repeat((3, 3, 3))
                            pos = tiled.positions
                            sym = np.array(tiled.get_chemical_symbols())
                            middle = np.all((pos >= cell.cell.lengths()) &
                                            (pos < 2 * cell.cell.lengths()), axis=1)
                            golds = np.where((sym == "Au") & middle)[0]
                            self.assertGreater(len(golds), 0)
                            for g in golds:
                                bonds = []
                                for symbol in ("Cu", "Fe", "O"):
                                    d = pos[sym == symbol] - pos[g]
                                    bonds.append(d[np.linalg.norm(d, axis=1).argmin()])
                                self.assertGreater(np.linalg.det(np.array(bonds)), 0)


class CoordinatesAsPublished(unittest.TestCase):
    """Sites keep their published coordinates: a coordinate is put on a multiple of 1/12 or 1/8
    only as it is read and only within the CIF's own rounding, never after a shift or a symmetry
    operation."""

    def test_beta_ga2o3_keeps_its_oxygen_at_0_0821(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "g.txt")
            r = run("convert", kit("ga2o3_beta.cif"), out)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("Reference atom at the origin: Ga1", r.stderr)
            _, rows = read_crystal_data(out)
            theirs = ase.io.read(kit("ga2o3_beta.cif"))
            # x is untouched by the reversal of b and c; the shift is Ga1's x.
            x0 = 0.0905
            for symbol in ("Ga", "O"):
                want = np.sort([(p[0] - x0) % 1.0 for p, s in zip(theirs.get_scaled_positions(),
                                                                   theirs.get_chemical_symbols())
                                if s == symbol])
                got = np.sort([row[2] for row in rows if row[0] == symbol])
                np.testing.assert_allclose(got, want, atol=1e-4, err_msg=symbol)
            oxygen = [row[2] for row in rows if row[0] == "O"]
            self.assertTrue(any(abs(x - 0.0821) <= 1e-4 for x in oxygen), oxygen)
            self.assertFalse(any(abs(x - 1 / 12) < 1e-6 for x in oxygen), oxygen)

    def test_a_general_site_in_p3221_keeps_its_threefold_images(self):
        with open(kit("quartz.cif")) as f:
            quartz = f.read()
        head = quartz[:quartz.index("loop_\n_atom_site_label")]
        cif = head + ("loop_\n_atom_site_label\n_atom_site_type_symbol\n_atom_site_fract_x\n"
                      "_atom_site_fract_y\n_atom_site_fract_z\nGe1 Ge 0 0 0\n"
                      "O1 O 0.3412 0.0076 0.1\n")
        with tempfile.TemporaryDirectory() as tmp:
            path, out = os.path.join(tmp, "p3221.cif"), os.path.join(tmp, "p.txt")
            with open(path, "w") as f:
                f.write(cif)
            r = run("convert", path, out)
            self.assertEqual(r.returncode, 0, r.stderr)
            _, rows = read_crystal_data(out)
            ours = np.array([row[2:5] for row in rows if row[0] == "O"])
            theirs = ase.io.read(path)
            want = np.array([p for p, s in zip(theirs.get_scaled_positions(),
                                               theirs.get_chemical_symbols()) if s == "O"])
            self.assertEqual(len(ours), len(want))
            for p in want:
                d = ours - p
                d -= np.round(d)
                self.assertLess(np.abs(d).sum(axis=1).min(), 1e-6, p)
            # The three-fold screw maps the written sites onto themselves.
            for p in ours:
                q = np.array([-p[1], p[0] - p[1], p[2] + 2 / 3])
                d = ours - q
                d -= np.round(d)
                self.assertLess(np.abs(d).sum(axis=1).min(), 1e-6, p)

    def test_sites_the_kit_still_snaps_are_counted(self):
        """The kit's thirds written 0.3333 and 0.6667 are still thirds, and said; a file whose
        coordinates are exact (rutile's 0.3049) has no such note."""
        with tempfile.TemporaryDirectory() as tmp:
            r = run("convert", kit("zno.cif"), os.path.join(tmp, "z.txt"))
            self.assertIn("2 sites were within the CIF's rounding of a multiple of 1/12 or 1/8",
                          r.stderr)
            r = run("convert", kit("rutile.cif"), os.path.join(tmp, "r.txt"))
            self.assertNotIn("rounding", r.stderr)


class QuietKeepsWarnings(unittest.TestCase):
    def test_quiet_drops_the_information_and_keeps_the_warnings(self):
        info = ["Symmetry:", "Reference atom at the origin", "atoms in the unit cell",
                "within the CIF's rounding"]
        with tempfile.TemporaryDirectory() as tmp:
            for name, warning in [("si.cif", "origin choice 1"),
                                  ("zro2_monoclinic.cif", "axes b, c were reversed"),
                                  ("zno.cif", None)]:
                with self.subTest(cif=name):
                    out = os.path.join(tmp, "o.txt")
                    loud = run("convert", kit(name), out)
                    quiet = run("convert", kit(name), out, "--quiet")
                    self.assertEqual(quiet.returncode, 0, quiet.stderr)
                    for text in info[:3]:
                        self.assertIn(text, loud.stderr)
                        self.assertNotIn(text, quiet.stderr)
                    self.assertNotIn(info[3], quiet.stderr)
                    if warning:
                        self.assertIn(warning, loud.stderr)
                        self.assertIn(warning, quiet.stderr)
                    else:
                        self.assertEqual(quiet.stderr, "")
            # A P 1 file and shared positions are warnings too, also for slice.
            path = os.path.join(tmp, "shared.cif")
            with open(path, "w") as f:
                f.write("data_s\n_cell_length_a 4\n_cell_length_b 4\n_cell_length_c 4\n"
                        "_cell_angle_alpha 90\n_cell_angle_beta 90\n_cell_angle_gamma 90\n"
                        "loop_\n_atom_site_label\n_atom_site_fract_x\n_atom_site_fract_y\n"
                        "_atom_site_fract_z\n_atom_site_occupancy\n"
                        "Sr1 0 0 0 0.6\nBa1 0 0 0 0.4\nO1 0.5 0.5 0.5 ?\n")
            r = run("layers", path, "--uvw", "0", "0", "1", "--quiet")
            self.assertIn("no symmetry", r.stderr)
            self.assertIn("share a position", r.stderr)
            self.assertIn("gives no occupancy", r.stderr)
            self.assertNotIn("Reference atom", r.stderr)


class SlabEdgesAreInPlane(unittest.TestCase):
    def test_a_tilted_translation_is_no_edge(self):
        """Monoclinic ZrO2 along [0 0 1] in slabs: a Zr of the first slab sits at a sin(beta)
        across, but a cos(beta) deeper; that in-plane step is no translation, so the box holds no
        super cell, and the written cell would have had a seam (Zr-O 1.84 A, the crystal's
        shortest is 2.05 A)."""
        r = run("layers", kit("zro2_monoclinic.cif"), "--uvw", "0", "0", "1",
                "--slice-thickness", "1.5")
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn("super cell: X=0.0000000 Y=0.0000000", r.stdout)
        self.assertIn("Unable to determine the super cell rectangle.", r.stderr)
        with tempfile.TemporaryDirectory() as tmp:
            ext = os.path.join(tmp, "z.extxyz")
            r = run("slice", kit("zro2_monoclinic.cif"), "--uvw", "0", "0", "1",
                    "--slice-thickness", "1.5", "--extxyz", ext)
            self.assertIn("Unable to determine the super cell rectangle.", r.stderr)
            self.assertFalse(os.path.exists(ext))


class TriclinicDistances(unittest.TestCase):
    def test_distances_in_the_written_cell_are_the_crystals(self):
        """A cell with cos alpha < cos beta cos gamma, strained 9.9 %: the written atoms, mapped
        back from the rectangle onto the cell's lattice edges, are placed in ASE's own Cartesian
        frame of the CIF; every distance between them is one the crystal has by ASE."""
        with tempfile.TemporaryDirectory() as tmp:
            cell, _, frac, _, _ = strained_cell(self, tmp, "triclinic.cif", "0 0 1", 10)
            crystal = reference_atoms("triclinic.cif", tmp)
            allowed = {}
            for key, d in pair_distances(crystal, 6.0).items():
                allowed[key] = d
            pos, sym = frac @ crystal.cell[:], cell.get_chemical_symbols()
            checked = 0
            for p in range(len(cell)):
                for q in range(p + 1, len(cell)):
                    d = np.linalg.norm(pos[p] - pos[q])
                    if d > 6.0:
                        continue
                    key = tuple(sorted((sym[p], sym[q])))
                    self.assertLess(np.abs(allowed[key] - d).min(), 2e-3, (key, d))
                    checked += 1
            self.assertGreater(checked, 20)


if __name__ == "__main__":
    unittest.main()
