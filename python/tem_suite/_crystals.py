"""The crystal commands of kestral-cli: read_crystal, slice, layers, convert."""

import numbers
import os

import numpy as np

from . import _engines


def _whole(name, value, lo, hi):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be whole numbers")
    if not lo <= value <= hi:
        raise ValueError(f"{name} must be in {lo}..{hi}, not {value}")
    return int(value)


def _number(name, value, lo, hi):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a number")
    if not lo <= value <= hi:
        raise ValueError(f"{name} must be in {lo}..{hi}, not {value}")
    return float(value)


class Crystal:
    """A crystal as read from a crystal data file or a CIF (expanded by its symmetry, the
    reference atom at the origin). cell: (a, b, c, alpha, beta, gamma) in Angstrom and degrees;
    symbols, numbers (atomic numbers) and fractions (n x 3) of its rows; notes: what a CIF's
    import assumed or changed."""

    def __init__(self, data):
        self._data = data
        arrays = data.arrays
        self.cell = arrays["cell"]
        self.symbols = arrays["symbols"]
        self.numbers = arrays["numbers"]
        self.fractions = arrays["fractions"]
        self.notes = list(data.notes)

    def write(self, path):
        """Writes the crystal data file, as convert (and slice's --crystal-out) write it."""
        self._data.save(os.fspath(path))


def read_crystal(path, reference_atom=None):
    """Reads a crystal data file, or a CIF by its .cif suffix (reference_atom: the CIF site put
    at the origin, default the first site of the heaviest element)."""
    path = os.fspath(path)
    if reference_atom is not None and not path.lower().endswith(".cif"):
        raise ValueError(f"reference_atom picks a site of a CIF; '{path}' is none")
    return Crystal(_engines.read_crystal(path, reference_atom or ""))


class Slicing:
    """A crystal sliced along [u v w], as kestral-cli slice computes it.

    direction, repeat_distance, layer_spacing, plane_heights, plane_atoms, super_cell (X, Y),
    periodic_cell, periodic_strain: what layers prints. The periodic cell as arrays: cell
    (X, Y, repeat), numbers (atomic numbers), symbols, positions (n x 3: x, y, depth in
    Angstrom), occupancies, thermal (RMS displacement in Angstrom), slices (the plane heights);
    tile=(nx, ny, nz) repeats it. Writers for every output of the tool."""

    def __init__(self, data, tile):
        self._data = data
        self.tile = tile
        for key, value in data.layers.items():
            setattr(self, key, value)
        self.slices = np.asarray(self.plane_heights, dtype=float)
        self.messages = list(data.messages)
        self._cell = None

    def _arrays(self):
        if self._cell is None:
            self._cell = self._data.cell(*self.tile)
        return self._cell

    @property
    def cell(self):
        return self._arrays()["cell"]

    @property
    def numbers(self):
        return self._arrays()["numbers"]

    @property
    def symbols(self):
        return self._arrays()["symbols"]

    @property
    def positions(self):
        return self._arrays()["positions"]

    @property
    def occupancies(self):
        return self._arrays()["occupancies"]

    @property
    def thermal(self):
        return self._arrays()["rms"]

    def to_ase(self):
        """The periodic cell as ase.Atoms (orthogonal cell X x Y x repeat, periodic in all
        three directions), with the arrays ASE's prismatic writer takes: 'occupancies' and
        'debye_waller_factors' (8 pi^2 u_rms^2, Angstrom^2)."""
        import ase
        atoms = ase.Atoms(numbers=self.numbers, positions=self.positions,
                          cell=np.diag(self.cell), pbc=True)
        rms = np.asarray(self.thermal, dtype=float)
        atoms.set_array("occupancies", np.asarray(self.occupancies, dtype=float))
        atoms.set_array("debye_waller_factors", 8 * np.pi ** 2 * rms ** 2)
        return atoms

    def write_reference(self, path):
        """The reference listing (--reference)."""
        self._data.write_reference(os.fspath(path))

    def write_normal(self, stem):
        """The normal-beam slice files STEM1.dat, STEM2.dat, ... (--normal STEM.dat)."""
        self._data.write_normal(os.fspath(stem))

    def write_convergent(self, path):
        """The convergent-beam atom list (--convergent)."""
        self._data.write_convergent(os.fspath(path))

    def write_pages(self, path):
        """The page bitmaps (--pages: OUT.bmp, or OUT1.bmp, ... with five planes or more)."""
        self._data.write_pages(os.fspath(path))

    def write_crystal(self, path):
        """The crystal data file (--crystal-out)."""
        self._data.write_crystal(os.fspath(path))

    def write_xyz(self, path):
        """The periodic cell as a prismatic-style atom list (--xyz), tiled by tile."""
        self._data.write_cell(os.fspath(path), *self.tile, False)

    def write_extxyz(self, path):
        """The periodic cell as extended XYZ (--extxyz), tiled by tile."""
        self._data.write_cell(os.fspath(path), *self.tile, True)


def slice(crystal, uvw, client=None, tile=(1, 1, 1), periodic_cell=False, max_strain=1.0,
          slice_thickness=None, reference_atom=None):
    """Slices a crystal (a Crystal, or a file name read by read_crystal) along uvw = (u, v, w)
    as kestral-cli slice does. client=(width, height): the client area the pages are drawn for
    (300..8192 x 110..8192, default 1024 x 768); tile=(nx, ny, nz) for the cell arrays and the
    XYZ writers (1..100 each); periodic_cell: the smallest cell that repeats the crystal, strained
    by at most max_strain percent (0..10); slice_thickness: equal slabs of about DZ Angstrom
    (0.1..100)."""
    if not isinstance(crystal, Crystal):
        crystal = read_crystal(crystal, reference_atom)
    elif reference_atom is not None:
        raise ValueError("reference_atom applies when the crystal is read from a CIF here")
    try:
        u, v, w = uvw
    except (TypeError, ValueError):
        raise TypeError("uvw must be three integers (u, v, w)") from None
    u, v, w = (_whole("uvw", x, -2147483647, 2147483647) for x in (u, v, w))
    width, height = (1024, 768) if client is None else client
    width = _whole("client", width, 300, 8192)
    height = _whole("client", height, 110, 8192)
    try:
        tile = tuple(_whole("tile", n, 1, 100) for n in tile)
    except TypeError:
        raise
    if len(tile) != 3:
        raise ValueError("tile must be three whole numbers (nx, ny, nz)")
    max_strain = _number("max_strain", max_strain, 0, 10)
    thickness = 0.0 if slice_thickness is None else \
        _number("slice_thickness", slice_thickness, 0.1, 100)
    data = _engines.slice(crystal._data, u, v, w, bool(periodic_cell), max_strain, thickness,
                          width, height)
    return Slicing(data, tile)


def layers(crystal, uvw, **options):
    """What kestral-cli layers prints, as a dict: direction, reversed, repeat_distance,
    layer_spacing, plane_heights, plane_atoms, super_cell, periodic_cell, periodic_strain."""
    result = slice(crystal, uvw, **options)
    return dict(result._data.layers)


def convert(cif, out, reference_atom=None):
    """Reads a CIF and writes it as a crystal data file, as kestral-cli convert does."""
    read_crystal(cif, reference_atom).write(out)
