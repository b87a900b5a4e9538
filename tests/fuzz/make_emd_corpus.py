#!/usr/bin/python3
"""Writes the EMD fuzz target's seeds with h5py (through the test writers of tests/cli/emdfile.py):
small files in both layouts, a stack, a compound signal beside a real one, and a cycle of links.

    python3 tests/fuzz/make_emd_corpus.py tests/fuzz/corpus/emd"""
import os
import sys

import h5py
import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cli"))
import emdfile  # noqa: E402

SIDE = 64


def picture(dtype, frames=1, seed=1):
    rng = np.random.default_rng(seed)
    data = rng.integers(0, 200, (frames, SIDE, SIDE)).astype(dtype)
    return data[0] if frames == 1 else data


def main(folder):
    os.makedirs(folder, exist_ok=True)
    p = lambda name: os.path.join(folder, name)  # noqa: E731
    emdfile.write_velox(p("velox_u8_two_frames.emd"),
                        [("HAADF", picture(np.uint8, frames=2), 0.125, "nm")])
    dpc = np.zeros((1, 8, 8), emdfile.DPC_DTYPE)
    with_dpc = p("velox_u16_and_dpc.emd")
    emdfile.write_velox(with_dpc, [("HAADF", picture(np.uint16), 2e-10, "m")])
    with h5py.File(with_dpc, "a") as f:
        group = f["Data/Image"].create_group("ffffffffffffffffffffffffffffffff")
        group.create_dataset("Data", data=np.moveaxis(dpc, 0, -1))
        group.create_dataset("Metadata", data=emdfile.metadata_column("DPC", 2e-10, "m")[:, None])
    emdfile.write_berkeley(p("berkeley_i16.emd"), "image", picture(np.int16), 0.05)
    emdfile.write_berkeley(p("berkeley_f32_stack.emd"), "stack", picture(np.float32, frames=2),
                           0.3, units="[A]")
    # A group that holds its own parent: a reader that walks links must not loop.
    cycle = p("velox_link_cycle.emd")
    emdfile.write_velox(cycle, [("BF", picture(np.uint8), 0.5, "nm")])
    with h5py.File(cycle, "a") as f:
        f["Data/Image/loop"] = f["Data"]


if __name__ == "__main__":
    main(sys.argv[1])
