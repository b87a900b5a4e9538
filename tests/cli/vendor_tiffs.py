#!/usr/bin/python3
"""TIFF files in the layouts microscope vendors' acquisition software writes, made with tifffile's
extratags (and tifffile's own TVIPS header definitions) and with HyperSpy's TIFF writer. Each
maker returns what the file states, so a test can compare readers against it.

Run as a script to write the whole set into a folder: python3 vendor_tiffs.py DIR"""
import math
import os
import struct
import sys

import numpy as np
import tifffile

W, H = 256, 192


def picture(seed=3, dtype=np.uint16):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:H, 0:W]
    base = 20000 + 9000 * np.cos(2 * np.pi * (x / 7.3 + y / 5.1)) + rng.normal(0, 500, (H, W))
    return np.clip(base, 0, 65535).astype(dtype)


def ifd_entry(path, code):
    """The file position of tag `code`'s entry in the first directory of a classic TIFF, and the
    file's byte order."""
    with open(path, "rb") as f:
        data = f.read()
    order = "<" if data[:2] == b"II" else ">"
    ifd = struct.unpack(order + "I", data[4:8])[0]
    count = struct.unpack(order + "H", data[ifd:ifd + 2])[0]
    for i in range(count):
        entry = ifd + 2 + 12 * i
        if struct.unpack(order + "H", data[entry:entry + 2])[0] == code:
            return entry, order
    raise KeyError(code)


def patch_offset_tag(path, code, payload):
    """Appends `payload` to the file and points the LONG tag `code` (written as a placeholder) at
    it, as acquisition software does for headers kept outside the directory. Returns the offset."""
    entry, order = ifd_entry(path, code)
    with open(path, "r+b") as f:
        f.seek(0, os.SEEK_END)
        if f.tell() % 2:
            f.write(b"\0")
        offset = f.tell()
        f.write(payload(offset) if callable(payload) else payload)
        f.seek(entry + 8)
        f.write(struct.pack(order + "I", offset))
    return offset


def imagej_description(unit):
    return f"ImageJ=1.11a\nunit={unit}\n"


# ---- DigitalMicrograph ---------------------------------------------------------------------

def dm_tags(xs, ys, xu="nm", yu="nm", types=("s", "s", "d", "d", "d", "d")):
    # Units in Latin-1, as DigitalMicrograph and HyperSpy store them.
    xu, yu = xu.encode("latin-1"), yu.encode("latin-1")
    return [(65003, types[0], 0, xu, True), (65004, types[1], 0, yu, True),
            (65006, types[2], 1, 0.0, True), (65007, types[3], 1, 0.0, True),
            (65009, types[4], 1, xs, True), (65010, types[5], 1, ys, True)]


def write_dm(path, xs=0.0177, ys=0.0177, unit="nm", imagej_nm=None, types=None, drop=None,
             byteorder="<"):
    tags = dm_tags(xs, ys, unit, unit, **({"types": types} if types else {}))
    if drop:
        tags = [t for t in tags if t[0] != drop]
    kw = {}
    if imagej_nm:  # an ImageJ description that must lose to the vendor tags
        kw = dict(description=imagej_description("nm"), resolution=(1 / imagej_nm, 1 / imagej_nm),
                  metadata=None)
    tifffile.imwrite(path, picture(), extratags=tags, byteorder=byteorder, **kw)
    return {"x": xs, "y": ys, "unit": unit}


def write_hyperspy(path, scale, unit):
    """HyperSpy's own writer: the DigitalMicrograph tags and an ImageJ description."""
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        import hyperspy.api as hs
    s = hs.signals.Signal2D(picture(seed=9))
    for axis in s.axes_manager.signal_axes:
        axis.scale = scale
        axis.units = unit
    s.save(path, overwrite=True)
    return {"x": scale, "y": scale, "unit": unit}


# ---- FEI / Thermo Fisher -------------------------------------------------------------------

def write_fei(path, width_m=3.3724e-9, height_m=3.3724e-9, hv=200000, scan=True, code=34682,
              mag=None):
    """`mag`: the magnification the reference canvas states, its width over the field's; None
    leaves the canvas width empty, as the software does when it states none."""
    lines = ["[User]", "Date=05/17/2022", "[Beam]", f"HV={hv}", "Spot=1"]
    if scan:
        lines += ["[Scan]", "InternalScan=true", f"PixelWidth={width_m}", f"PixelHeight={height_m}",
                  f"HorFieldsize={width_m * W}", f"VerFieldsize={height_m * H}"]
    else:  # the ion-beam form: the field width over the picture's pixels
        lines += ["[IRBeam]", f"HFW={width_m * W}", f"VFW={height_m * H}"]
    canvas = "" if mag is None else repr(mag * width_m * W)
    lines += ["[Image]", f"ResolutionX={W}", f"ResolutionY={H}", f"MagCanvasRealWidth={canvas}",
              "MagnificationMode=1" if mag else "MagnificationMode=", "[EBeam]", "HV=1"]
    text = "\r\n".join(lines) + "\r\n"
    tifffile.imwrite(path, picture(seed=4), extratags=[(code, "s", 0, text, True)],
                     resolution=(96, 96))
    return {"x": width_m, "y": height_m, "unit": "m", "hv": hv}


# ---- Zeiss SEM -----------------------------------------------------------------------------

def write_zeiss(path, size_1k_m=5.824988e-9, mag="50.00 K X", eht="5.00 kV"):
    unnamed = ["0", "0", "0", f"{size_1k_m:e}", "5.000000e+004", "6", "5.000000e+003"]
    text = "\r\n".join(unnamed + ["DP_ZOOM", "Zoom = Off", "AP_MAG", f"Mag = {mag}", "AP_EHT",
                                  f"EHT = {eht}", "AP_WD", "WD = 8.5 mm", "68"]) + "\r\n"
    tifffile.imwrite(path, picture(seed=5), extratags=[(34118, "s", 0, text, True)],
                     resolution=(1, 1), resolutionunit="NONE")
    return {"x": size_1k_m * 1024 / W, "y": size_1k_m * 1024 / W, "unit": "m"}


# ---- TVIPS ---------------------------------------------------------------------------------

def tvips_header(version, px=None, py=None, ht=None, mag=None, order="<", magic=0xAAAAAAAA):
    v1 = np.zeros((), np.dtype(tifffile.TIFF.TVIPS_HEADER_V1).newbyteorder(order))
    v1["Version"] = version
    data = v1.tobytes()
    if version == 2:
        v2 = np.zeros((), np.dtype(tifffile.TIFF.TVIPS_HEADER_V2).newbyteorder(order))
        v2["PixelSizeX"], v2["PixelSizeY"] = px, py
        v2["TemHighTension"], v2["TemMagnification"] = ht, mag
        v2["Magic"] = magic
        data += v2.tobytes()
    return data


def write_tvips(path, version=2, px=0.1394, py=0.1394, ht=300000.0, mag=38000.0,
                per_cm=None, byteorder="<", magic=0xAAAAAAAA):
    kw = {}
    if per_cm:
        kw = dict(resolution=(per_cm, per_cm), resolutionunit="CENTIMETER")
    tifffile.imwrite(path, picture(seed=6), extratags=[(37706, "I", 1, 0, True)],
                     byteorder=byteorder, **kw)
    patch_offset_tag(path, 37706, tvips_header(version, px, py, ht, mag, byteorder, magic))
    if version == 2:
        return {"x": px, "y": py, "unit": "nm", "hv": ht, "mag": mag}
    return {"x": 1 / per_cm, "y": 1 / per_cm, "unit": "cm"}


# ---- Olympus SIS ---------------------------------------------------------------------------

def sis_structure(offset, xcal, ycal, lenexp, mag):
    """The "SIS0" header, one record table entry and the general record after them."""
    header = struct.pack("<4s6xhhhhh6x32sh", b"SIS0", 5, 14, 3, 4, 121, b"test", 1)
    record_at = offset + len(header) + 8
    entry = struct.pack("<hhI", 1, 1, record_at)
    general = struct.pack("<10xhdd8xd2x34s32s", lenexp, xcal, ycal, mag, b"camera", b"picture")
    return header + entry + general


def write_sis(path, xcal=1.25, ycal=1.25, lenexp=-9, mag=100000.0):
    tifffile.imwrite(path, picture(seed=7), extratags=[(33560, "I", 1, 0, True)])
    patch_offset_tag(path, 33560, lambda at: sis_structure(at, xcal, ycal, lenexp, mag))
    scale = math.pow(10, lenexp) if lenexp < 300 else math.inf
    return {"x": xcal * scale, "y": ycal * scale, "unit": "m", "mag": mag}


# ---- JEOL ----------------------------------------------------------------------------------

def jeol_xml(eos="eosTEM", mode="MAG", value="150000", unit="X", kv="200000", filler=""):
    return ('<?xml version="1.0"?>\r\n<TemReporter xmlns:xsi="http://www.w3.org/2001/XMLSchema-'
            'instance">\r\n  <Manufacturer>JEOL Ltd.</Manufacturer>\r\n' + filler +
            f"  <ElectronGun>\r\n    <AccelerationVoltage>{kv}</AccelerationVoltage>\r\n"
            f"  </ElectronGun>\r\n  <Eos>\r\n    <EosMode>{eos}</EosMode>\r\n  </Eos>\r\n"
            "  <IlluminationSystem>\r\n    <ImageField>modeBrightField</ImageField>\r\n"
            "  </IlluminationSystem>\r\n  <ImageFormingSystem>\r\n"
            "    <ImageFormingMode>modeMAG1</ImageFormingMode>\r\n"
            f"    <ModeString>{mode}</ModeString>\r\n    <SelectorValue>{value}</SelectorValue>\r\n"
            f"    <SelectorString>X150k</SelectorString>\r\n"
            f"    <SelectorUnitString>{unit}</SelectorUnitString>\r\n"
            "    <ScanningImageFormingMode>modeSM_MAG</ScanningImageFormingMode>\r\n"
            "  </ImageFormingSystem>\r\n  <Lens>\r\n    <SelectorValue>1</SelectorValue>\r\n"
            "  </Lens>\r\n</TemReporter>")


def write_jeol(path, dpi=93.0, mag=150000.0, mode="MAG", filler="", unit="INCH"):
    xml = jeol_xml(mode=mode, value=f"{mag:g}", unit="X" if mode == "MAG" else "cm", filler=filler)
    tifffile.imwrite(path, picture(seed=8), description=xml, metadata=None,
                     resolution=(dpi, dpi), resolutionunit=unit,
                     extratags=[(271, "s", 0, "JEOL Ltd.", True)])
    metres = 0.0254 if unit == "INCH" else 0.01
    size = metres * 1e9 / (dpi * mag)
    return {"x": size, "y": size, "unit": "nm", "mag": mag, "hv": 200000.0}


def write_all(folder):
    """The set the fuzz corpus and the Wine comparison use: one file per layout."""
    os.makedirs(folder, exist_ok=True)
    p = lambda name: os.path.join(folder, name)  # noqa: E731
    write_dm(p("vendor_dm.tif"), 0.0177, 0.0177, imagej_nm=0.5)
    write_dm(p("vendor_dm_be.tif"), 0.25, 0.25, unit="\u00c5", byteorder=">")
    write_hyperspy(p("vendor_hyperspy.tif"), 0.035, "\u00b5m")
    write_fei(p("vendor_fei.tif"), mag=150000)
    write_fei(p("vendor_fei_irbeam.tif"), 2.5e-8, 2.5e-8, scan=False, code=34680)
    write_zeiss(p("vendor_zeiss.tif"))
    write_tvips(p("vendor_tvips2.tif"))
    write_tvips(p("vendor_tvips2_be.tif"), byteorder=">")
    write_tvips(p("vendor_tvips1.tif"), version=1, per_cm=7038270.0)
    write_sis(p("vendor_sis.tif"))
    write_jeol(p("vendor_jeol.tif"))
    write_jeol(p("vendor_jeol_diff.tif"), mode="DIFF", mag=40.0)
    write_fei(p("vendor_fei_negative.tif"), -1e-9, -1e-9)
    write_dm(p("vendor_dm_nan.tif"), float("nan"), float("nan"))
    write_zeiss(p("vendor_zeiss_zero.tif"), 0.0)


if __name__ == "__main__":
    write_all(sys.argv[1])
