"""EMD files written with h5py in the two layouts microscopes and simulation codes use.

Velox: /Version holds the JSON {"format": "Velox", "version": "..."}; each signal is a group
/Data/Image/<id> with "Data" shaped (height, width, frames) and "Metadata", a uint8 array
shaped (bytes, frames) whose columns are zero-padded JSON texts with BinaryResult.PixelSize
{"width", "height"} (strings, in BinaryResult.PixelUnitX / PixelUnitY) and
BinaryResult.Detector. FFT and DPC results are compound (real, imaginary) float pairs.

Berkeley EMD 1.0: the file's attributes version_major/version_minor; a group with the attribute
emd_group_type = 1 holds "data" (stored x first: shape (width, height[, frames])) and the axis
datasets dim1 (x), dim2 (y) of values with a "units" attribute such as "[n_m]".
"""
import json
import uuid

import h5py
import numpy as np

DPC_DTYPE = np.dtype([('realFloat', '<f4'), ('imagFloat', '<f4')])


def metadata_column(detector, pixel, unit, length=None):
    text = json.dumps({"BinaryResult": {"Detector": detector,
                                        "PixelSize": {"width": repr(pixel), "height": repr(pixel)},
                                        "PixelUnitX": unit, "PixelUnitY": unit,
                                        "Offset": {"x": "0", "y": "0"}},
                       "Acquisition": {"AcquisitionStartDatetime": {"DateTime": "1600000000"}},
                       "Detectors": {"Detector-0": {"DetectorName": detector}},
                       "Scan": {"FrameTime": "1.5"},
                       "Optics": {"AccelerationVoltage": "300000"}}).encode()
    length = length or len(text) + 37
    return np.frombuffer(text + b'\0' * (length - len(text)), np.uint8)


def write_velox(path, signals, fmt="Velox"):
    """`signals`: (detector, array (height, width) or (frames, height, width), pixel, unit)."""
    with h5py.File(path, "w") as f:
        f.create_dataset("Version", data=[json.dumps({"format": fmt, "version": "11"}).encode()])
        f.create_group("Operations")
        images = f.create_group("Data").create_group("Image")
        for i, (detector, data, pixel, unit) in enumerate(signals):
            group = images.create_group(uuid.UUID(int=i * 7919 + 1).hex)
            data = np.asarray(data)
            frames = data if data.ndim == 3 else data[None]
            group.create_dataset("Data", data=np.moveaxis(frames, 0, -1), chunks=True)
            column = metadata_column(detector, pixel, unit)
            group.create_dataset("Metadata", data=np.stack([column] * frames.shape[0], axis=1))


def write_berkeley(path, name, data, pixel, units="[n_m]"):
    """`data` (height, width) or (frames, height, width) as seen; stored transposed."""
    with h5py.File(path, "w") as f:
        f.attrs["version_major"] = 0
        f.attrs["version_minor"] = 2
        signals = f.create_group("signals")
        signals.attrs["emd_group_type"] = 1
        group = signals.create_group(name)
        group.attrs["emd_group_type"] = 1
        data = np.asarray(data)
        group.create_dataset("data", data=data.T)
        dims = list(range(1, data.ndim + 1))
        for dim, length in zip(dims, data.T.shape):
            axis = group.create_dataset(f"dim{dim}", data=np.arange(length) * (pixel if dim <= 2 else 1.0))
            axis.attrs["name"] = ["x", "y", "z"][dim - 1]
            axis.attrs["units"] = units if dim <= 2 else ""
