"""The options of each command, as voralin00-cli takes them: the same names ('-' becomes '_'),
defaults and ranges. The package checks a call's keywords here before the engines run, so a bad
value raises ValueError or TypeError naming the argument, as the tool's usage error names the
option.

Options that only choose where or how the tool writes or prints (--out-dir, --all-images,
--quiet, --csv, --plot, --npy, --difference, --difference-npy, --tif) are no keywords: the
writers of the package (write_*, Picture.save_bmp) take their place.
"""

import math
import numbers

# Tool options that are not keywords, and why: the package's writers or return values take
# their place, and batch work is the caller's loop (or Dask's).
NOT_KEYWORDS = {
    "--out-dir": "batch: the caller's loop or tem_suite.batch",
    "--all-images": "batch: open(path, image=k) for each image",
    "--quiet": "printing: the calls print nothing",
    "--csv": "output: write_spots_csv",
    "--plot": "output: write_radial_plot",
    "--npy": "output: filter(return_parts=True)['filtered'], numpy.save or write_npy",
    "--difference": "output: filter(return_parts=True)['removed_picture']",
    "--difference-npy": "output: filter(return_parts=True)['removed']",
    "--tif": "batch output: write_float_tiff",
}


class OptionRule:
    """One keyword: kind ('flag', 'number', 'whole', 'word', 'text', 'circles', 'basis'), range or
    words, default, and the tool's name for it."""

    def __init__(self, kind, default=None, lo=None, hi=None, words=None, help=""):
        self.kind, self.default, self.lo, self.hi, self.words = kind, default, lo, hi, words
        self.help = help


_BOX = OptionRule("box", None, help="the square region (x, y, side) alone: top-left pixel from 0, "
                              "side 64, 128, 256, 512 or 1024")


def parse_box(name, value):
    """'X Y SIZE' or (x, y, side), as the tool's --box takes it."""
    if isinstance(value, str):
        value = value.replace(",", " ").split()
    try:
        x, y, side = (int(v) for v in value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} needs (x, y, side): the top-left pixel (from 0) and the side") \
            from None
    if not (0 <= x <= 1 << 30 and 0 <= y <= 1 << 30):
        raise ValueError(f"{name} needs (x, y, side): the top-left pixel (from 0) and the side")
    if side not in (64, 128, 256, 512, 1024):
        raise ValueError(f"{name}: the side must be 64, 128, 256, 512 or 1024, not {side}")
    return (x, y, side)


def _image_options():
    return {
        "pixel_size": OptionRule("number", None, 1e-9, 1e9,
                           help="nanometres per pixel; overrides the file's calibration"),
        "signal": OptionRule("whole", None, 1, 4096, help="an EMD file's signal N as info lists them"),
        "image": OptionRule("whole", 1, 1, 1 << 30, help="image N (from 1) of a stack"),
        "bin": OptionRule("word", 1, words=(1, 2, 4),
                    help="sum N x N pixels into one after choosing the image (the pixel size "
                         "grows by N)"),
    }


_FRAME = OptionRule("word", "mirror", words=("mirror", "windowed"),
              help="mirror copies around the image, or the image times a Hann window in zeros")
_NO_EXPAND = OptionRule("flag", False, help="the frame without margins")
_PRECISION = OptionRule("word", None, words=("single", "double"),
                  help="storage of a frame above the full-frame limit (default: double where "
                       "the memory allows, else single)")
_FULL_FRAME_LIMIT = OptionRule("whole", 8192, 64, 8192,
                         help="frames above N x N keep only the half spectrum of the real frame")

COMMANDS = {
    "info": _image_options(),
    "normalise": _image_options(),
    "spectrum": {
        **_image_options(),
        "quantity": OptionRule("word", "root", words=("root", "real", "imag"),
                         help="root power (default), real or imaginary part"),
        "log": OptionRule("flag", False, help="logarithmic scale"),
        "clip": OptionRule("number", None, 1, 10000,
                     help="upper clipping at average x C (default 10; linear scale only)"),
        "lower_clip": OptionRule("number", None, 1, 10000, help="lower clipping at average x 0.9 / D"),
        "invert": OptionRule("flag", False, help="inverted grey levels"),
        "rainbow": OptionRule("flag", False, help="rainbow colours"),
        "no_expand": _NO_EXPAND,
        "frame": _FRAME,
        "whole_frame": OptionRule("flag", False, help="the whole frame up to the sampling limit, binned"),
        "box": _BOX,
        "precision": _PRECISION,
        "full_frame_limit": _FULL_FRAME_LIMIT,
    },
    "filter": {
        **_image_options(),
        "filter": OptionRule("word", None, words=("none", "low", "high", "band-pass", "band-cut"),
                       help="a standard radial filter"),
        "wa": OptionRule("number", None, 0, 1, help="inner radius, a fraction of half the diagonal (0.5)"),
        "wb": OptionRule("number", None, 0, 1, help="outer radius, a fraction of half the diagonal (0.8)"),
        "special": OptionRule("text", None, help="an INI file whose [Special Filter] gives the profile"),
        "circles_outside": OptionRule("circles", None, help="keep only the spots inside these circles"),
        "circles_inside": OptionRule("circles", None, help="cut the spots inside these circles"),
        "dark": OptionRule("whole", None, 0, 100, help="new dark level instead of the original range"),
        "bright": OptionRule("whole", None, 155, 255, help="new bright level"),
        "no_expand": _NO_EXPAND,
        "frame": _FRAME,
        "symmetric": OptionRule("flag", False, help="every circle also gets its centro-symmetric mate"),
        "lattice_mask": OptionRule("word", None, words=("keep", "remove"),
                             help="keep or cut discs at every lattice point n g1 + m g2"),
        "radius": OptionRule("number", None, -1e9, 1e9, words=("auto",),
                             help="the lattice discs' radius in samples, or 'auto': twice the "
                                  "mean half width at half maximum of the basis spots"),
        "basis": OptionRule("basis", None, help="g1, g2 in samples from the centre (default: found)"),
        "edge_sigma": OptionRule("number", 0.0, 0, 1000, help="Gaussian edges of that width"),
        "wiener": OptionRule("flag", False, help="Wiener filter"),
        "absf": OptionRule("flag", False, help="average background subtraction filter"),
        "noise_scale": OptionRule("number", 1.0, 0, 1000, help="noise floor: radial mean power x C"),
        "smoothing": OptionRule("whole", 1, 0, 10, help="Wiener power averaged over (2H+1)^2 elements"),
        "precision": _PRECISION,
        "full_frame_limit": _FULL_FRAME_LIMIT,
    },
    "linewave": {
        **_image_options(),
        "angle": OptionRule("whole", None, -90, 90, help="the line's angle in whole degrees (needed)"),
        "no_expand": _NO_EXPAND,
        "frame": _FRAME,
        "calibrated": OptionRule("flag", False, help="also return the calibrated table (CSV bytes)"),
        "precision": _PRECISION,
        "full_frame_limit": _FULL_FRAME_LIMIT,
    },
    "adjust": {
        **_image_options(),
        "contrast": OptionRule("whole", None, -10, 10, help="contrast steps"),
        "brightness": OptionRule("whole", None, -10, 10, help="brightness steps"),
    },
    "spots": {
        **_image_options(),
        "count": OptionRule("whole", 8, 1, 1000, help="the strongest Friedel pairs"),
        "min_radius": OptionRule("number", 0.0, 0, 8192, help="central radius left out, in samples"),
        "box": _BOX,
        "no_expand": _NO_EXPAND,
        "full_frame_limit": _FULL_FRAME_LIMIT,
    },
    "region": {
        **_image_options(),
        "box": _BOX,
    },
    "radial": {
        **_image_options(),
        "frame": _FRAME,
        "no_expand": _NO_EXPAND,
        "precision": _PRECISION,
        "full_frame_limit": _FULL_FRAME_LIMIT,
    },
}


def _number(name, value, rule, whole):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a {'whole ' if whole else ''}number, not "
                        f"{type(value).__name__}")
    if whole and value != int(value):
        raise ValueError(f"{name} must be a whole number, not {value}")
    value = int(value) if whole else float(value)
    if math.isnan(value) or not rule.lo <= value <= rule.hi:
        raise ValueError(f"{name} must be in {rule.lo}..{rule.hi}, not {value}")
    return value


def parse_circles(name, value):
    """'x,y,r;...' as the tool takes it, or a sequence of (x, y, r)."""
    if isinstance(value, str):
        items = [item for item in value.split(";") if item.strip(" \t")]
        try:
            value = [tuple(int(field.strip(" \t")) for field in item.split(",")) for item in items]
        except ValueError:
            raise ValueError(f"{name} needs \"x,y,r;...\" of whole numbers") from None
    try:
        circles = [tuple(c) for c in value]
    except TypeError:
        raise TypeError(f"{name} needs \"x,y,r;...\" or a sequence of (x, y, r)") from None
    for c in circles:
        if len(c) != 3 or any(isinstance(v, bool) or not isinstance(v, numbers.Integral)
                              for v in c):
            raise ValueError(f"{name}: each circle is three whole numbers (x, y, r)")
        if min(c) < 0 or max(c) > 100000 or c[2] < 1:
            raise ValueError(f"{name}: x and y in 0..100000, r in 1..100000")
    if not 1 <= len(circles) <= 100:
        raise ValueError(f"{name} needs 1 to 100 circles")
    return [tuple(int(v) for v in c) for c in circles]


def parse_basis(name, value):
    """'x1,y1;x2,y2' as the tool takes it, or ((x1, y1), (x2, y2))."""
    if isinstance(value, str):
        try:
            value = [tuple(float(f) for f in part.split(",")) for part in value.split(";")]
        except ValueError:
            raise ValueError(f"{name} needs \"x1,y1;x2,y2\"") from None
    try:
        basis = [tuple(float(v) for v in g) for g in value]
    except (TypeError, ValueError):
        raise TypeError(f"{name} needs \"x1,y1;x2,y2\" or ((x1, y1), (x2, y2))") from None
    if len(basis) != 2 or any(len(g) != 2 for g in basis) or \
            not all(math.isfinite(v) for g in basis for v in g):
        raise ValueError(f"{name} needs two vectors of two finite numbers")
    return tuple(basis)


def check(command, given):
    """The keywords of one call, checked, completed with the defaults; raises on a bad one."""
    table = COMMANDS[command]
    out = {}
    for name, value in given.items():
        rule = table.get(name)
        if rule is None:
            raise TypeError(f"{command}() got an unexpected keyword argument '{name}'")
        if value is None:
            continue
        if rule.kind == "flag":
            if not isinstance(value, (bool, int)):
                raise TypeError(f"{name} must be True or False")
            value = bool(value)
        elif rule.kind in ("number", "whole") and rule.words and isinstance(value, str):
            # a word the number may be replaced by ('auto')
            if value not in rule.words:
                raise ValueError(f"{name} must be a number or {', '.join(rule.words)}, "
                                 f"not {value!r}")
        elif rule.kind in ("number", "whole"):
            value = _number(name, value, rule, rule.kind == "whole")
        elif rule.kind == "word":
            if value not in rule.words:
                raise ValueError(f"{name} must be one of {', '.join(map(str, rule.words))}, not {value!r}")
        elif rule.kind == "text":
            value = str(value)
        elif rule.kind == "circles":
            value = parse_circles(name, value)
        elif rule.kind == "basis":
            value = parse_basis(name, value)
        elif rule.kind == "box":
            value = parse_box(name, value)
        out[name] = value
    given_names = set(out)
    for name, rule in table.items():
        out.setdefault(name, rule.default)
    out["signal"] = out["signal"] or 0
    return out, given_names
