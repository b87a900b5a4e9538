#!/usr/bin/python3
"""Spots and a lattice filter for every micrograph of a folder or a stack, on a Dask cluster.

Each image is one task: open it (image k of a stack), find its lattice spots, filter it with a
lattice mask on the spots' basis (or a Wiener filter), and write the filtered picture (BMP) and
the filtered samples (32-bit float TIFF) into the output folder. The rows of all tasks make one
CSV table, results.csv: one row per image, ordered by input and image, with the spots found or,
for a file the readers refuse, the suite's message. Nothing is lost silently.

A task may run twice (Dask reruns the tasks of a worker that died): each output file is replaced
whole (written beside and renamed), so a rerun leaves one complete file, and the table is made
once from the gathered rows.

    # on this machine, two worker processes of one engine thread each
    python3 examples/dask_batch.py --workers 2 --out results/ micrographs/
    # on a cluster: dask-scheduler on one machine, dask-worker SCHEDULER:8786 on the others
    python3 examples/dask_batch.py --scheduler tcp://SCHEDULER:8786 --out results/ stack.tif

The workers need the package on their PYTHONPATH (build/native/python or an installed copy) and
must see the input and output folders under the same names (a shared file system).
"""

import argparse
import csv
import glob
import io
import os
import sys

OPENABLE = (".bmp", ".tif", ".tiff", ".png", ".mrc", ".mrcs", ".map", ".dm3", ".dm4", ".ser",
            ".emd")

COLUMNS = ["input", "image", "status", "message", "spots", "d_strongest", "g1_x", "g1_y", "g2_x",
           "g2_y", "picture", "samples"]


def list_images(inputs, all_images=True):
    """(path, image number) of every image: a folder's openable files in name order, and every
    image of a stack (a file that does not open is one item, refused by its task)."""
    import tem_suite as ts
    items = []
    for given in inputs:
        if os.path.isdir(given):
            paths = sorted(p for p in glob.glob(os.path.join(given, "*"))
                           if p.lower().endswith(OPENABLE) and os.path.isfile(p))
        else:
            paths = [given]
        for path in paths:
            count = 1
            if all_images:
                try:
                    count = ts.info(path)["image_count"]
                except (ts.Error, ValueError, OSError):
                    count = 1
            items.extend((path, k) for k in range(1, count + 1))
    return items


def output_names(path, image, count, out_dir):
    stem = os.path.splitext(os.path.basename(path))[0]
    if count > 1:
        stem += "_%04d" % image
    return os.path.join(out_dir, stem + ".bmp"), os.path.join(out_dir, stem + ".tif")


def process_image(path, image, numbered, out_dir, options):
    """One task: the row of one image. Refusals of the engines become the row's message."""
    import tem_suite as ts
    ts.set_threads(options.get("engine_threads", 0))
    row = dict.fromkeys(COLUMNS, "")
    row.update(input=path, image=image, status="ok")
    picture, samples = output_names(path, image, numbered, out_dir)
    try:
        data, meta = ts.open(path, image=image)
        size = meta["pixel_size"]
        spots, basis = ts.spots(data, pixel_size=size, count=options.get("count", 8))
        row["spots"] = len(spots)
        if len(spots):
            row["d_strongest"] = "%.6g" % spots["d"][0]
        if basis is not None:
            row.update(g1_x="%.4f" % basis[0][0], g1_y="%.4f" % basis[0][1],
                       g2_x="%.4f" % basis[1][0], g2_y="%.4f" % basis[1][1])
        if basis is not None and options.get("lattice_radius"):
            result = ts.filter(data, pixel_size=size, lattice_mask="keep", basis=basis,
                               radius=options["lattice_radius"], return_values=True)
        else:
            result = ts.filter(data, pixel_size=size, wiener=True, return_values=True)
        result["picture"].save_bmp(picture)
        ts.write_float_tiff(samples, result["values"], result["pixel_size"])
        row.update(picture=picture, samples=samples)
    except (ts.Error, ValueError, TypeError, OSError) as e:
        row.update(status="refused", message=str(e).replace("\n", " "))
    return row


def _write_table(rows, path):
    """results.csv, replaced whole."""
    text = io.StringIO()
    writer = csv.DictWriter(text, fieldnames=COLUMNS, lineterminator="\n")
    writer.writeheader()
    for row in sorted(rows, key=lambda r: (r["input"], int(r["image"]))):
        writer.writerow(row)
    temporary = path + ".%d.tmp" % os.getpid()
    with open(temporary, "w", encoding="utf-8") as f:
        f.write(text.getvalue())
        f.flush()
        os.fsync(f.fileno())
    os.replace(temporary, path)


def _tasks(inputs, out_dir, all_images):
    items = list_images(inputs, all_images)
    counts = {}
    for path, _ in items:
        counts[path] = counts.get(path, 0) + 1
    return [(path, k, counts[path]) for path, k in items]


def _remove_leftovers(rows, out_dir):
    """Temporaries of writes cut short by a worker's death ('~NAME.PID-N.tmp'): the task's
    rerun wrote the file itself."""
    for row in rows:
        for name in (row["picture"], row["samples"]):
            if name:
                base = os.path.basename(name)
                for left in glob.glob(os.path.join(out_dir, glob.escape("~" + base) + ".*.tmp")):
                    os.remove(left)


def run_serial(inputs, out_dir, options=None, all_images=True):
    """The same work in one loop, without Dask: the reference of the tests."""
    options = options or {}
    os.makedirs(out_dir, exist_ok=True)
    rows = [process_image(path, k, n, out_dir, options)
            for path, k, n in _tasks(inputs, out_dir, all_images)]
    _write_table(rows, os.path.join(out_dir, "results.csv"))
    return rows


def run_dask(client, inputs, out_dir, options=None, all_images=True):
    """Every image a task on the client's cluster; the table written when all are back."""
    options = options or {}
    os.makedirs(out_dir, exist_ok=True)
    futures = [client.submit(process_image, path, k, n, out_dir, options, pure=False,
                             key="image-%d" % i)
               for i, (path, k, n) in enumerate(_tasks(inputs, out_dir, all_images))]
    rows = client.gather(futures)
    _remove_leftovers(rows, out_dir)
    _write_table(rows, os.path.join(out_dir, "results.csv"))
    return rows


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("inputs", nargs="+", help="image files, stacks or folders")
    parser.add_argument("--out", required=True, help="the output folder")
    where = parser.add_mutually_exclusive_group()
    where.add_argument("--scheduler", help="a running scheduler's address (tcp://HOST:8786)")
    where.add_argument("--workers", type=int, default=2, help="local worker processes")
    parser.add_argument("--engine-threads", type=int, default=1,
                        help="threads each task's engine uses (0: the tools' default)")
    parser.add_argument("--count", type=int, default=8, help="spot pairs to find")
    parser.add_argument("--lattice-radius", type=float, default=3.0,
                        help="lattice mask disc radius in samples (0: a Wiener filter)")
    parser.add_argument("--first-image-only", action="store_true",
                        help="only the first image of each stack")
    args = parser.parse_args(argv)
    from dask.distributed import Client, LocalCluster
    options = {"engine_threads": args.engine_threads, "count": args.count,
               "lattice_radius": args.lattice_radius}
    if args.scheduler:
        client = Client(args.scheduler)
    else:
        client = Client(LocalCluster(n_workers=args.workers, threads_per_worker=1))
    with client:
        rows = run_dask(client, [os.path.abspath(p) for p in args.inputs],
                        os.path.abspath(args.out), options, not args.first_image_only)
    refused = [r for r in rows if r["status"] != "ok"]
    print("%d images, %d refused; table %s" % (len(rows), len(refused),
                                              os.path.join(args.out, "results.csv")))
    for r in refused:
        print("refused: %s (image %s): %s" % (r["input"], r["image"], r["message"]),
              file=sys.stderr)
    return 1 if refused else 0


if __name__ == "__main__":
    sys.exit(main())
