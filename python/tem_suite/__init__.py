"""tem_suite: the engines of voralin00-cli and kestral-cli in Python.

One function per command of the tools, taking the command's options as keyword arguments
('-' becomes '_': ``--lower-clip 4`` is ``lower_clip=4``) with the same defaults and ranges.
What a function returns, written with the package's writers, is byte for byte what the tool
writes for the same input and options.

Images: every image function takes as its source a file name (opened as the tools open it: BMP, TIFF, PNG,
MRC, DM3/DM4, TIA series, EMD), a two-dimensional numpy array (uint8 is a grey picture as a BMP
gives it; uint16, int16, float32, float64 ... are a microscope image's samples) or a HyperSpy
Signal2D (its data, and its axes' calibration as the pixel size).

    import tem_suite as ts
    samples, meta = ts.open("lattice.dm4")
    spots, basis = ts.spots(samples, pixel_size=meta["pixel_size"])
    picture = ts.filter(samples, wiener=True)
    picture.save_bmp("filtered.bmp")

Failures of the engines raise tem_suite.Error, whose ``code`` says what failed ("input",
"output", "transform", "no_spots", "no_basis", "lattice", "memory", "too_large", "crystal",
"slicing") and whose message is the suite's own text, in Japanese under a Japanese locale as the
tools print it. A bad argument raises ValueError or TypeError naming it.

Every call releases the interpreter lock while the engines work, so threads run calls side by
side; set_threads(n) bounds the threads each call uses itself (by default as many as the tools
use).
"""

import builtins
import os

import numpy as np

from . import _engines
from ._options import COMMANDS, NOT_KEYWORDS, check, parse_basis
from ._crystals import Crystal, Slicing, read_crystal, slice, layers, convert

__all__ = [
    "Error", "Picture", "open", "info", "normalise", "spectrum", "filter", "linewave", "adjust",
    "spots", "region", "radial", "read_crystal", "slice", "layers", "convert", "Crystal", "Slicing",
    "write_float_tiff", "write_npy", "write_spots_csv", "write_radial_csv", "write_radial_plot",
    "write_linewave", "write_samples_tiff", "set_threads", "threads", "COMMANDS", "NOT_KEYWORDS",
]

Error = _engines.Error
Picture = _engines.Picture

# The most bytes a special filter's settings file may have, as the tool reads it.
_MAX_PROFILE_BYTES = 64 * 1024

SPOT_DTYPE = np.dtype([("number", "<i4"), ("mate", "<i4"), ("x_px", "<f8"), ("y_px", "<f8"),
                       ("g", "<f8"), ("d", "<f8"), ("angle_deg", "<f8"), ("power", "<f8"),
                       ("significance", "<f8")])


def set_threads(count):
    """Bounds the threads one engine call uses (0: as many as the command-line tools use).
    Under a batch scheduler that runs one call per core, set 1."""
    if isinstance(count, bool) or not isinstance(count, int) or count < 0:
        raise ValueError("count must be a whole number 0 or above")
    _engines.set_threads(count)


def threads():
    """The thread bound of set_threads (0: the tools' default)."""
    return _engines.threads()


_LENGTHS_NM = {"nm": 1.0, "µm": 1e3, "um": 1e3, "micron": 1e3, "Å": 0.1, "A": 0.1, "pm": 1e-3,
               "mm": 1e6, "cm": 1e7, "m": 1e9}


def _signal_input(signal):
    """A HyperSpy Signal2D as samples and its calibration in nm per pixel (or None)."""
    data = np.asarray(signal.data)
    size = None
    try:
        axes = signal.axes_manager.signal_axes
        scales = []
        for axis in axes:
            factor = _LENGTHS_NM.get(str(axis.units).strip())
            if factor is None or not axis.scale > 0:
                scales = None
                break
            scales.append(axis.scale * factor)
        if scales and len(scales) == 2:
            size = scales[0] if scales[0] == scales[1] else tuple(scales)
    except AttributeError:
        pass
    return data, size


def _input(source, options):
    """A call's input: a path as str, or a 2-D array (a Signal2D gives its calibration)."""
    if isinstance(source, (str, os.PathLike)):
        return os.fspath(source)
    if hasattr(source, "axes_manager") and hasattr(source, "data"):
        data, size = _signal_input(source)
        if options.get("pixel_size") is None and size is not None:
            # A square calibration, as the tools take --pixel-size; axes apart stay the signal's.
            options["pixel_size"] = size if not isinstance(size, tuple) else None
        source = data
    if not isinstance(source, np.ndarray):
        raise TypeError("source must be a file name, a numpy array or a HyperSpy Signal2D, not "
                        + type(source).__name__)
    return source


def _prepare(command, source, kwargs):
    options, given = check(command, kwargs)
    return _input(source, options), options, given


def open(path, image=1, signal=None, pixel_size=None, bin=1):
    """Opens an image file as the tools do and returns (samples, metadata).

    samples: a 2-D array in the file's own sample type, top row first (a BMP gives the opened
    8-bit picture). metadata: format, sample_type, width, height, pixel_size (nm per pixel, a
    pair when the axes differ, None when uncalibrated), image (1-based) and image_count,
    magnification, high_tension_v, calibration_source, notes, description (the line info prints).
    image: the image N (from 1) of a stack; signal: an EMD file's signal N; pixel_size: nm per
    pixel, overriding the file's; bin: 1, 2 or 4, N x N pixels summed (an 8-bit picture's sums
    as uint16), the pixel size N times the file's."""
    options, _ = check("info", {"image": image, "signal": signal, "pixel_size": pixel_size,
                                "bin": bin})
    samples, meta = _engines.open(os.fspath(path), options["image"], options["signal"],
                                  options["bin"])
    if options["pixel_size"] is not None:
        meta["pixel_size"] = options["pixel_size"]
    return samples, meta


def info(path, **options):
    """What the info command prints, as a dict: bitmap (the BMP description line or None),
    lines (the microscope image's description and notes), width, height, row_bytes,
    normalised_bytes, image_count, pixel_size. Raises Error when the file does not open."""
    options, _ = check("info", options)
    return _engines.info(os.fspath(path), options)


def normalise(source, **options):
    """The opened (normalised) picture, as the normalise command writes it."""
    source, options, _ = _prepare("normalise", source, options)
    return _engines.picture("normalise", source, options)


def spectrum(source, return_spectrum=False, **options):
    """The spectrum picture, as the spectrum command writes it.

    With return_spectrum=True, (picture, half) where half is the complex spectrum of the
    transform's frame (frame levels: the image's grey levels, or a deeper source's samples
    mapped onto 0..255, with the mirror or windowed margins) in numpy.fft.rfft2's layout:
    shape (n, n // 2 + 1), unnormalised, exp(-2 pi i ...)."""
    source, options, given = _prepare("spectrum", source, options)
    if "clip" in given and options["log"]:
        raise ValueError("clip applies to the linear scale only (log=False)")
    options["return_spectrum"] = bool(return_spectrum)
    return _engines.picture("spectrum", source, options)


def _filter_kind(options, given):
    choices = [name for name in ("filter", "special", "circles_outside", "circles_inside",
                                 "lattice_mask") if name in given]
    choices += [name for name in ("wiener", "absf") if options[name]]
    if len(choices) > 1:
        raise ValueError("choose one of filter, special, circles_outside, circles_inside, "
                         "lattice_mask, wiener, absf (given: " + ", ".join(choices) + ")")
    kind = choices[0] if choices else "filter"
    if kind == "circles_outside" or kind == "circles_inside":
        options["circles"] = options[kind]
    if kind == "lattice_mask":
        kind = "lattice_" + options["lattice_mask"]
    if kind == "filter":
        kind = "standard"
        options["filter"] = options["filter"] or "none"
    return kind


def _special_text(path):
    """The settings file of special=, read as the tool reads it."""
    if os.path.exists(path) and not os.path.isfile(path):
        raise ValueError(f"special: '{path}' is not a file")
    try:
        with builtins.open(path, "rb") as f:
            data = f.read(_MAX_PROFILE_BYTES + 1)
    except OSError as e:
        raise ValueError(f"special: cannot read the profile file '{path}' ({e.strerror})") from None
    if len(data) > _MAX_PROFILE_BYTES:
        raise ValueError(f"special: '{path}' is larger than {_MAX_PROFILE_BYTES // 1024} KiB")
    return data.decode("latin-1")


def filter(source, return_values=False, return_parts=False, **options):
    """Filters the spectrum and transforms back, as the filter command does; returns the picture.

    return_values=True or return_parts=True return a dict instead: picture; values (float32,
    the filter applied to the source's samples in their units: what OUT.tif holds, for
    write_float_tiff); with return_parts, filtered and removed (float64 levels: what --npy and
    --difference-npy hold), removed_values (float32, what a --difference OUT.tif holds) and
    removed_picture (what --difference OUT.bmp holds)."""
    source, options, given = _prepare("filter", source, options)
    kind = _filter_kind(options, given)
    circles = kind in ("circles_outside", "circles_inside")
    lattice = kind.startswith("lattice_")
    if ("radius" in given or "basis" in given) and not lattice:
        raise ValueError("radius and basis belong to lattice_mask")
    if lattice and "radius" not in given:
        raise ValueError("lattice_mask needs radius")
    if "edge_sigma" in given and not (circles or lattice or ("filter" in given)):
        raise ValueError("edge_sigma needs filter, circles_outside, circles_inside or lattice_mask")
    if "noise_scale" in given and kind not in ("wiener", "absf"):
        raise ValueError("noise_scale needs wiener or absf")
    if "smoothing" in given and kind != "wiener":
        raise ValueError("smoothing needs wiener")
    if options["symmetric"] and not circles:
        raise ValueError("symmetric needs circles_outside or circles_inside")
    if options["symmetric"] and 2 * len(options["circles"]) > 100:
        raise ValueError("symmetric: with their mates the circles would be more than 100")
    for name in ("wa", "wb"):
        if name in given and not (kind == "standard" and "filter" in given
                                  and options["filter"] != "none"):
            raise ValueError(f"{name} needs filter (low, high, band-pass or band-cut)")
    options["wa"] = 0.5 if options["wa"] is None else options["wa"]
    options["wb"] = 0.8 if options["wb"] is None else options["wb"]
    if kind == "special":
        options["special_text"] = _special_text(options["special"])
    options["kind"] = kind
    options["return_values"] = bool(return_values)
    options["return_parts"] = bool(return_parts)
    result = _engines.filter(source, options)
    if not (return_values or return_parts):
        return result["picture"]
    return result


def linewave(source, **options):
    """The FFT data text along the line through the centre at angle= degrees (bytes, CR LF), as
    the linewave command writes it; with calibrated=True, (text, calibrated_csv)."""
    source, options, given = _prepare("linewave", source, options)
    if "angle" not in given:
        raise ValueError("linewave needs angle")
    result = _engines.linewave(source, options)
    if options["calibrated"]:
        return result["text"], result["calibrated_csv"]
    return result["text"]


def adjust(source, **options):
    """Contrast and brightness changed in steps, as the adjust command writes the picture."""
    source, options, given = _prepare("adjust", source, options)
    if "contrast" not in given and "brightness" not in given:
        raise ValueError("adjust needs contrast and/or brightness")
    options["contrast"] = options["contrast"] or 0
    options["brightness"] = options["brightness"] or 0
    return _engines.picture("adjust", source, options)


def spots(source, **options):
    """The lattice spots, as the spots command finds them: (spots, basis).

    spots: a structured array with the engine's fields number, mate, x_px, y_px (frame samples
    from the centre, x right, y down), g (|g|: 1/nm with a pixel size, else 1/pixel), d,
    angle_deg, power, significance; strongest pair first. basis: ((g1x, g1y), (g2x, g2y)) as an
    array, or None when no two spots lie in different directions. No spots: an empty array."""
    source, options, _ = _prepare("spots", source, options)
    found = _engines.spots(source, options)
    table = np.zeros(len(found["number"]), dtype=SPOT_DTYPE)
    for name in SPOT_DTYPE.names:
        table[name] = found[name]
    basis = None if found["basis"] is None else np.array(found["basis"], dtype=float)
    return table, basis


def region(source, **options):
    """The square region box=(x, y, side) of the image, as the region command cuts it: an 8-bit
    source's as a Picture (the tool's bitmap), any other's samples in their own type (what the
    tool's TIFF holds; write them with write_samples_tiff)."""
    source, options, given = _prepare("region", source, options)
    if "box" not in given:
        raise ValueError("region needs box=(x, y, side)")
    crop = _engines.region(source, options)
    if crop is not None:
        return crop
    if isinstance(source, str):
        source = open(source, image=options["image"], signal=options["signal"] or None,
                      bin=options["bin"])[0]
    x, y, side = options["box"]
    return np.array(source[y:y + side, x:x + side])


def write_samples_tiff(path, samples, pixel_size=None):
    """Writes samples in their own type (integers, float32, float64) as a grey TIFF with the
    pixel size in nm, as the region command writes a deeper source's box."""
    _engines.write_samples_tiff(os.fspath(path), np.ascontiguousarray(samples), pixel_size)


def radial(source, **options):
    """The rotationally averaged power spectrum, as the radial command computes it: a dict of
    frame (n), power and count per bin (|g| of bin j is j / n per pixel), g_per_pixel, g_per_nm
    (None without a square calibration), pixel_size, and note (why a calibration that is not
    square gives no 1/nm, or "")."""
    source, options, _ = _prepare("radial", source, options)
    result = _engines.radial(source, options)
    n = result["frame"]
    bins = np.arange(len(result["power"]))
    size = result["pixel_size"]
    result["g_per_pixel"] = bins / n
    square = size is not None and not isinstance(size, tuple)
    result["g_per_nm"] = bins / n / size if square else None
    result["note"] = result.pop("not_square_text")
    return result


# --- writers ------------------------------------------------------------------------------------

def write_float_tiff(path, values, pixel_size=None):
    """Writes a 32-bit float TIFF as filter's OUT.tif (values: filter(..., return_values=True)
    ['values']), with the pixel size in nm when given."""
    _engines.write_float_tiff(os.fspath(path), np.asarray(values, dtype=np.float32), pixel_size)


def write_npy(path, array):
    """Writes a float64 array (or a complex one as complex128) as the tool's --npy does (.npy
    version 1.0), replacing the file only when it is written whole."""
    descr = "<c16" if np.iscomplexobj(array) else "<f8"
    array = np.ascontiguousarray(array, dtype=descr)
    if array.ndim != 2:
        raise ValueError("array must have two dimensions")
    header = "{'descr': '%s', 'fortran_order': False, 'shape': (%d, %d), }" % (
        (descr,) + array.shape)
    header += " " * ((64 - (10 + len(header) + 1) % 64) % 64) + "\n"
    data = b"\x93NUMPY\x01\x00" + len(header).to_bytes(2, "little") + header.encode("latin-1")
    _engines.write_bytes(os.fspath(path), data + array.tobytes())


def write_spots_csv(path, spots, pixel_size=None):
    """Writes the spot list as spots' --csv does (pixel_size: nm per pixel, as the call had)."""
    if isinstance(pixel_size, tuple):
        pixel_size = pixel_size[0]
    rows = [tuple(row.item()) for row in np.asarray(spots, dtype=SPOT_DTYPE)]
    _engines.write_bytes(os.fspath(path), _engines.spots_csv(rows, float(pixel_size or 0.0)))


def write_radial_csv(path, profile):
    """Writes the profile of radial() as the radial command's CSV."""
    _engines.write_bytes(os.fspath(path), _engines.radial_csv(
        profile["frame"], np.asarray(profile["power"], dtype=float),
        np.asarray(profile["count"], dtype=np.int64), profile["pixel_size"]))


def write_radial_plot(path, profile):
    """Writes the profile of radial() as the radial command's --plot PNG."""
    _engines.write_bytes(os.fspath(path), _engines.radial_plot_png(
        profile["frame"], np.asarray(profile["power"], dtype=float),
        np.asarray(profile["count"], dtype=np.int64)))


def write_linewave(path, text):
    """Writes linewave()'s text (or its calibrated table) as the linewave command does."""
    _engines.write_bytes(os.fspath(path), bytes(text))


def _rgb(self):
    """The picture in colour, (height, width, 3) uint8: the pixels through the colour table."""
    return self.palette[self.pixels]


Picture.rgb = property(_rgb)


def _document(call, command, extra=()):
    """The call's signature and docstring list the command's keywords, so help() shows them."""
    import inspect
    table = COMMANDS[command]
    before = [p for p in inspect.signature(call).parameters.values()
              if p.kind != inspect.Parameter.VAR_KEYWORD]
    keywords = [inspect.Parameter(name, inspect.Parameter.KEYWORD_ONLY, default=rule.default)
                for name, rule in table.items() if name not in {p.name for p in before}]
    ordered = [p for p in before if p.kind != inspect.Parameter.KEYWORD_ONLY]
    ordered += [p for p in before if p.kind == inspect.Parameter.KEYWORD_ONLY] + keywords
    call.__signature__ = inspect.Signature(ordered)
    lines = ["", "Keywords (the options of voralin00-cli %s):" % command]
    for name, rule in table.items():
        detail = rule.help
        if rule.words:
            detail += " (%s)" % ", ".join(map(str, rule.words))
        elif rule.lo is not None:
            detail += " (%g..%g)" % (rule.lo, rule.hi)
        lines.append("  %s: %s" % (name, detail))
    call.__doc__ = (call.__doc__ or "") + "\n" + "\n".join(lines) + "\n"


for _call in (info, normalise, spectrum, filter, linewave, adjust, spots, region, radial):
    _document(_call, _call.__name__)
del _call
