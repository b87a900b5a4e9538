"""A small writer of TIA series files (.ser) and their .emi, from the published description.

Header (little-endian): byte order 0x4949, series id 0x0197, version (0x0210: 4-byte offsets,
0x0220: 8-byte offsets), data type id (0x4122: 2-D images), tag type id (0x4152: time only),
total and valid element counts (uint32), the offset of the offset tables (4 or 8 bytes), the
number of dimensions (uint32), then per dimension: size (uint32), calibration offset and delta
(float64), calibration element (uint32), description and units (uint32 length, then chars).
The data offset table and the tag offset table follow, `total` entries each (4 or 8 bytes).
A 2-D element: calibration offset, delta (float64) and element (uint32) for x, then for y, the
data type (uint16: 1 uint8, 2 uint16, 3 uint32, 4 int8, 5 int16, 6 int32, 7 float32,
8 float64, 9 complex64, 10 complex128), the width and the height (uint32), then the rows, the
bottom row of the picture first. A time tag: tag type (uint16), 2 bytes, time (uint32).
"""
import struct

import numpy as np

DATA_TYPE = {np.dtype('uint8'): 1, np.dtype('uint16'): 2, np.dtype('uint32'): 3,
             np.dtype('int8'): 4, np.dtype('int16'): 5, np.dtype('int32'): 6,
             np.dtype('float32'): 7, np.dtype('float64'): 8, np.dtype('complex64'): 9,
             np.dtype('complex128'): 10}


def element(picture, delta, delta_y=None, offset=0.0):
    """One 2-D element; `picture` top row first, as it is seen."""
    picture = np.asarray(picture)
    height, width = picture.shape
    delta_y = delta if delta_y is None else delta_y
    head = struct.pack('<ddI', offset, delta, 0) + struct.pack('<ddI', offset, delta_y, 0)
    head += struct.pack('<HII', DATA_TYPE[picture.dtype], width, height)
    rows = picture[::-1].astype(picture.dtype.newbyteorder('<'))
    return head + rows.tobytes()


def series(images, delta, version=0x0220, total=None, delta_y=None, description=b'Number',
           unstated=0):
    """The bytes of a series of `images` (each top row first). `total` elements are announced
    (default: as many as given) of which the given ones are recorded; `unstated` more offsets
    beyond them point nowhere (as in an aborted acquisition)."""
    wide = version >= 0x0220
    valid = len(images)
    total = valid if total is None else total
    word = 'Q' if wide else 'I'
    dims = struct.pack('<IddII', total, 0.0, 1.0, 0, len(description)) + description
    dims += struct.pack('<I', 0)
    header_size = 34 if wide else 30
    tables = header_size + len(dims)
    body_start = tables + 2 * total * (8 if wide else 4)
    elements = [element(im, delta, delta_y) for im in images]
    offsets, tag_offsets, blob = [], [], b''
    at = body_start
    for e in elements:
        offsets.append(at)
        blob += e
        at += len(e)
    for _ in elements:
        tag_offsets.append(at)
        blob += struct.pack('<HHI', 0x4152, 0, 0)
        at += 8
    offsets += [0] * (total - valid)
    tag_offsets += [0] * (total - valid)
    head = struct.pack('<HHHIIII', 0x4949, 0x0197, version, 0x4122, 0x4152, total, valid)
    head += struct.pack('<' + word, tables) + struct.pack('<I', 1)
    table = struct.pack('<%d%s' % (total, word), *offsets)
    table += struct.pack('<%d%s' % (total, word), *tag_offsets)
    return head + dims + table + blob


def write_series(path, images, delta, **kw):
    with open(path, 'wb') as f:
        f.write(series(images, delta, **kw))


def emi_text(mode, camera=False):
    """The part of an .emi the readers look at: an <ObjectInfo> description with its mode."""
    acquire = '<AcquireInfo>%s</AcquireInfo>' % (
        '<CameraNamePath>BM-Ceta</CameraNamePath>' if camera else '<DwellTimePath>1</DwellTimePath>')
    return ('<ObjectInfo><ExperimentalDescription><Root>'
            '<Data><Label>High tension</Label><Value>300</Value><Unit>kV</Unit></Data>'
            '<Data><Label>Mode</Label><Value>%s</Value><Unit></Unit></Data>'
            '</Root></ExperimentalDescription>%s</ObjectInfo>' % (mode, acquire))


def write_emi(path, mode, camera=False):
    # Binary bytes around the text, as the .emi's own structure surrounds it.
    with open(path, 'wb') as f:
        f.write(b'\x00\x01\x02EMI' + bytes(range(64)) + emi_text(mode, camera).encode() + b'\x00' * 16)
