#!/usr/bin/python3
"""Opening a 4096 x 4096 micrograph and computing its spectrum with voralin00-cli: a 16-bit TIFF
and a 16-bit DM4 against the same picture as an 8-bit BMP. Reports the median wall time of the
runs and each format's peak memory (the child's maximum resident set), with the limits: at most
1.2 x the BMP's time and 1.3 GiB. Then `info` on a PNG at the size limit (16384 x 8192 RGBA of
16 bits): its peak may be at most 1.5 x its grey samples (8 bytes a pixel, 1 GiB).

    image_open_bench.py CLI [--runs N] [--side S] [--no-limit-png]
"""
import argparse
import os
import resource
import struct
import subprocess
import sys
import tempfile
import time
import zlib

import numpy as np
import tifffile
from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "cli"))
import dmfile  # noqa: E402


def peak_of(command):
    """Runs `command` in a fresh process and returns (seconds, peak resident bytes)."""
    script = ("import resource, subprocess, sys, time\n"
              "t = time.perf_counter()\n"
              "r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL)\n"
              "t = time.perf_counter() - t\n"
              "print(r.returncode, t, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)\n")
    out = subprocess.run([sys.executable, "-c", script, *command], capture_output=True, text=True,
                         check=True).stdout.split()
    if out[0] != "0":
        raise SystemExit(f"{command} failed")
    return float(out[1]), int(out[2]) * 1024


def write_limit_png(path, width=16384, height=8192):
    """A valid RGBA PNG of 16 bits at the size limit, grey (equal channels), written a row at a
    time: a slow ramp across the rows, so it packs about as tightly as Deflate can."""
    def chunk(kind, body):
        crc = zlib.crc32(kind + body) & 0xFFFFFFFF
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)
    packer = zlib.compressobj(6)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 16, 6, 0, 0, 0)))
        data = bytearray()
        for y in range(height):
            level = (y * 8) & 0xFFFF
            pixel = struct.pack(">HHHH", level, level, level, 0xFFFF)
            data += packer.compress(b"\x00" + pixel * width)
            if len(data) > 1 << 20:
                f.write(chunk(b"IDAT", bytes(data)))
                data.clear()
        data += packer.flush()
        f.write(chunk(b"IDAT", bytes(data)))
        f.write(chunk(b"IEND", b""))
    return width * height * 8


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--side", type=int, default=4096)
    parser.add_argument("--no-limit-png", action="store_true")
    args = parser.parse_args()
    side = args.side
    with tempfile.TemporaryDirectory(prefix="image-bench-") as tmp:
        rng = np.random.default_rng(1)
        y, x = np.mgrid[0:side, 0:side]
        a = np.clip(30000 + 9000 * np.cos(2 * np.pi * (x / 7.1 + y / 9.3))
                    + rng.normal(0, 800, (side, side)), 0, 65535).astype(np.uint16)
        paths = {"8-bit BMP": os.path.join(tmp, "p.bmp"), "16-bit TIFF": os.path.join(tmp, "p.tif"),
                 "16-bit DM4": os.path.join(tmp, "p.dm4")}
        Image.fromarray((a >> 8).astype(np.uint8), mode="L").save(paths["8-bit BMP"])
        tifffile.imwrite(paths["16-bit TIFF"], a)
        dmfile.write_dm(paths["16-bit DM4"], a, 4, 0.1, "nm", thumbnail=True)
        del a, x, y
        results = {}
        for name, path in paths.items():
            runs = [peak_of([args.cli, "spectrum", path, os.path.join(tmp, "s.bmp"), "--quiet"])
                    for _ in range(args.runs)]
            results[name] = (sorted(r[0] for r in runs)[len(runs) // 2], max(r[1] for r in runs))
        base = results["8-bit BMP"][0]
        ok = True
        print(f"open + spectrum of a {side} x {side} picture ({args.runs} runs, median):")
        for name, (seconds, peak) in results.items():
            ratio = seconds / base
            line = f"  {name:12s} {seconds:7.2f} s  {ratio:4.2f} x BMP  peak {peak / 2**30:5.2f} GiB"
            if name != "8-bit BMP" and ratio > 1.2:
                line += "  OVER 1.2 x"
                ok = False
            if peak > 1.3 * 2**30:
                line += "  OVER 1.3 GiB"
                ok = False
            print(line)
        if not args.no_limit_png:
            path = os.path.join(tmp, "limit.png")
            samples = write_limit_png(path)
            runs = [peak_of([args.cli, "info", path]) for _ in range(args.runs)]
            seconds = sorted(r[0] for r in runs)[len(runs) // 2]
            peak = max(r[1] for r in runs)
            line = (f"info of a 16384 x 8192 RGBA PNG of 16 bits: {seconds:7.2f} s  peak "
                    f"{peak / 2**30:5.2f} GiB = {peak / samples:4.2f} x its samples")
            if peak > 1.5 * samples:
                line += "  OVER 1.5 x"
                ok = False
            print(line)
        return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
