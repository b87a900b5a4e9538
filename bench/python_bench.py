#!/usr/bin/python3
"""Speeds of the Python module (a benchmark, not a test):

1. open + spectrum + write through the module against voralin00-cli spectrum on the same file
   (the module should stay within 1.1 times the tool's time);
2. the batch recipe's work (spots and a filter per image) on local Dask clusters of one and two
   worker processes at one engine thread each (two should be at least 1.7 times as fast);
3. one Dask worker at the engines' default thread count against a serial loop (within 10 %).

    PYTHONPATH=build/native/python python3 bench/python_bench.py build/native [--images 64 --size 2048]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import tifffile


def best_of(runs, work):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def micrograph(size, seed):
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:size, 0:size]
    return (1000 + 300 * np.cos(2 * np.pi * (x / 7 + y / 17)) + rng.normal(0, 50, (size, size))
            ).astype(np.float32)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", help="the native build folder")
    parser.add_argument("--images", type=int, default=64)
    parser.add_argument("--size", type=int, default=2048)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    sys.path[:0] = [os.path.join(args.build, "python"),
                    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")]
    os.environ["PYTHONPATH"] = os.pathsep.join(sys.path[:2] + [os.environ.get("PYTHONPATH", "")])
    import tem_suite as ts
    import dask_batch
    from dask.distributed import Client, LocalCluster

    cli = os.path.join(args.build, "cli", "voralin00-cli")
    with tempfile.TemporaryDirectory() as d:
        one = os.path.join(d, "one.tif")
        tifffile.imwrite(one, micrograph(args.size, 0))
        tool = best_of(args.runs, lambda: subprocess.run(
            [cli, "spectrum", one, os.path.join(d, "cli.bmp"), "--log", "--quiet"], check=True))
        module = best_of(args.runs, lambda: ts.spectrum(ts.open(one)[0], log=True)
                         .save_bmp(os.path.join(d, "module.bmp")))
        print("open + spectrum + write, %d x %d float32 TIFF: tool %.3f s, module %.3f s "
              "(%.2fx)" % (args.size, args.size, tool, module, module / tool))

        folder = os.path.join(d, "in")
        os.makedirs(folder)
        for k in range(args.images):
            tifffile.imwrite(os.path.join(folder, "m%03d.tif" % k), micrograph(args.size, k))
        options = {"engine_threads": 1, "lattice_radius": 3.0}
        timings = {}
        for workers in (1, 2):
            with LocalCluster(n_workers=workers, threads_per_worker=1,
                              dashboard_address=None) as cluster, Client(cluster) as client:
                timings[workers] = best_of(1, lambda: dask_batch.run_dask(
                    client, [folder], os.path.join(d, "out%d" % workers), options))
        print("%d images of %d x %d, one engine thread a worker: 1 worker %.1f s, 2 workers "
              "%.1f s (%.2fx)" % (args.images, args.size, args.size, timings[1], timings[2],
                                 timings[1] / timings[2]))

        default = {"engine_threads": 0, "lattice_radius": 3.0}
        serial = best_of(1, lambda: dask_batch.run_serial([folder], os.path.join(d, "s"), default))
        with LocalCluster(n_workers=1, threads_per_worker=1, dashboard_address=None) as cluster, \
                Client(cluster) as client:
            dask_one = best_of(1, lambda: dask_batch.run_dask(
                client, [folder], os.path.join(d, "d"), default))
        print("default engine threads: serial loop %.1f s, one Dask worker %.1f s (%+.0f %%)"
              % (serial, dask_one, 100 * (dask_one / serial - 1)))


if __name__ == "__main__":
    main()
