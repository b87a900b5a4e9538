#!/usr/bin/python3
"""Opening one image of a large stack with voralin00-cli: a 200 x 4096 x 4096 16-bit DM4 movie and
the same as a multi-page BigTIFF (6.25 GiB each), `info --image 1` against `info --image 100`.
Reports the median wall time and the peak memory (the child's maximum resident set) of each;
image 100 must cost no more than image 1 (within 1.2 x for time and memory: only that image is
read).

The files are sparse: headers and the two pictures timed are written, the rest of the data are
holes, so they take a few seconds and some 70 MB of disk to make.

    stack_open_bench.py CLI [--runs N] [--count N] [--side S]
"""
import argparse
import os
import struct
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "cli"))
import dmfile  # noqa: E402
from image_open_bench import peak_of  # noqa: E402

SENTINEL = b"\x5a" * 24 + b"DATA-HOLE" + b"\xa5" * 7


class HoleWriter(dmfile.Writer):
    """A DM writer whose main image's data are a hole of `hole` bytes: every length that holds
    them counts them, and the file is written around them."""

    def __init__(self, version, hole):
        super().__init__(version, True)
        self.delta = hole - len(SENTINEL)

    def tag(self, kind, name, body):
        encoded = name.encode("latin-1")
        head = struct.pack(">BH", kind, len(encoded)) + encoded
        if self.version == 4:
            head += struct.pack(">Q", len(body) + (self.delta if SENTINEL in body else 0))
        return head + body

    def file(self, root_tags):
        root = self.group_body(root_tags)
        head = struct.pack(">IQI", 4, len(root) + self.delta, 1)
        return head + root + b"\0" * 8


def picture(side, seed):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:side, 0:side]
    return np.clip(30000 + 9000 * np.cos(2 * np.pi * (x / 7.1 + y / (9.3 + seed)))
                   + rng.normal(0, 800, (side, side)), 0, 65535).astype(np.uint16)


def write_dm4(path, count, side, frames):
    """A DM4 movie of `count` pictures, `frames` ({index: picture}) written, the rest holes."""
    size = count * side * side * 2
    w = HoleWriter(4, size)
    data = w.file([w.group("ImageList", [main_image(w, count, side)])])
    at = data.index(SENTINEL)
    with open(path, "wb") as f:
        f.write(data[:at])
        f.seek(at + size)
        f.write(data[at + len(SENTINEL):])
        for k, a in frames.items():
            f.seek(at + k * side * side * 2)
            f.write(a.astype("<u2").tobytes())


def main_image(w, count, side):
    dimension = [w.group("", [w.value("Origin", 0.0, "float32"),
                              w.value("Scale", 0.1 if k < 2 else 1.0, "float32"),
                              w.text("Units", "nm" if k < 2 else "")]) for k in range(3)]
    data = w.data("Data", [20, dmfile.SIMPLE[np.dtype("uint16")], count * side * side], SENTINEL)
    image_data = w.group("ImageData", [
        w.group("Calibrations", [w.group("Dimension", dimension)]),
        data,
        w.value("DataType", 10, "int32"),
        w.group("Dimensions", [w.value("", n, "uint32") for n in (side, side, count)]),
        w.value("PixelDepth", 2, "uint32")])
    return w.group("", [image_data, w.group("ImageTags", []), w.text("Name", "movie")])


def write_bigtiff(path, count, side, frames):
    """A BigTIFF of `count` uncompressed 16-bit pages, one strip each; directories first."""
    entry = struct.Struct("<HHQQ")
    ifd_size = 8 + 9 * entry.size + 8
    first_data = (16 + count * ifd_size + 65535) // 65536 * 65536
    page = side * side * 2
    with open(path, "wb") as f:
        f.write(b"II" + struct.pack("<HHHQ", 43, 8, 0, 16))
        for k in range(count):
            at = 16 + k * ifd_size
            following = at + ifd_size if k + 1 < count else 0
            entries = [(256, 4, 1, side), (257, 4, 1, side), (258, 3, 1, 16), (259, 3, 1, 1),
                       (262, 3, 1, 1), (273, 16, 1, first_data + k * page), (277, 3, 1, 1),
                       (278, 4, 1, side), (279, 16, 1, page)]
            f.write(struct.pack("<Q", len(entries)))
            for e in entries:
                f.write(entry.pack(*e))
            f.write(struct.pack("<Q", following))
        f.truncate(first_data + count * page)
        for k, a in frames.items():
            f.seek(first_data + k * page)
            f.write(a.astype("<u2").tobytes())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--count", type=int, default=200)
    parser.add_argument("--side", type=int, default=4096)
    args = parser.parse_args()
    late = args.count // 2 - 1  # image 100 of 200
    frames = {0: picture(args.side, 1), late: picture(args.side, 2)}
    with tempfile.TemporaryDirectory(prefix="stack-bench-", dir=os.environ.get("TMPDIR")) as tmp:
        paths = {"16-bit DM4": os.path.join(tmp, "movie.dm4"),
                 "16-bit TIFF": os.path.join(tmp, "movie.tif")}
        write_dm4(paths["16-bit DM4"], args.count, args.side, frames)
        write_bigtiff(paths["16-bit TIFF"], args.count, args.side, frames)
        size = os.path.getsize(paths["16-bit DM4"]) / 2**30
        print(f"{args.count} x {args.side} x {args.side} 16-bit stacks, {size:.2f} GiB each "
              f"(sparse), median of {args.runs} runs")
        failed = False
        for name, path in paths.items():
            figures = {}
            for image in (1, late + 1):
                runs = [peak_of([args.cli, "info", path, "--image", str(image)])
                        for _ in range(args.runs)]
                seconds = sorted(t for t, _ in runs)[len(runs) // 2]
                peak = max(m for _, m in runs)
                figures[image] = (seconds, peak)
                print(f"  {name:12s} image {image:4d}: {seconds:6.2f} s, peak {peak / 2**20:7.0f} MiB")
            (t1, m1), (tn, mn) = figures[1], figures[late + 1]
            ok = tn <= 1.2 * t1 + 0.05 and mn <= 1.2 * m1
            failed |= not ok
            print(f"  {name:12s} image {late + 1} / image 1: time {tn / t1:.2f}, memory "
                  f"{mn / m1:.2f}  {'ok' if ok else 'TOO COSTLY'}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
