"""A small writer of DM3/DM4 files, from the published description of the format.

Header (big-endian): version (4 bytes: 3 or 4), root length (4 bytes in DM3, 8 in DM4), byte
order of the data (4 bytes: 1 little-endian). Then the root tag group: sorted (1), open (1),
tag count (4 or 8). A tag: kind (1 byte: 20 group, 21 data), name length (2, big-endian), name,
in DM4 the tag's remaining length (8); a group continues with sorted, open and its tag count;
data with "%%%%", the number of type words, the type words (4 or 8 bytes, big-endian) and the
data in the data byte order. Type words: 2 int16, 3 int32, 4 uint16, 5 uint32, 6 float32,
7 float64, 8 bool, 9 int8, 10 uint8, 11 int64, 12 uint64, 15 struct, 18 string, 20 array
([20, element type, count] for an array of a simple type).

The images live in the group "ImageList": each an unnamed group with "ImageData" holding
"Data", "DataType", "Dimensions" (x size, then y size, then for a stack the number of
pictures) and "Calibrations" (one group per dimension); the thumbnail's position in ImageList
is named under "Thumbnails".
"""
import struct

import numpy as np

SIMPLE = {np.dtype('int16'): 2, np.dtype('int32'): 3, np.dtype('uint16'): 4,
          np.dtype('uint32'): 5, np.dtype('float32'): 6, np.dtype('float64'): 7,
          np.dtype('int8'): 9, np.dtype('uint8'): 10, np.dtype('int64'): 11}
# The image's DataType code for each sample type.
IMAGE_TYPE = {np.dtype('int16'): 1, np.dtype('float32'): 2, np.dtype('uint8'): 6,
              np.dtype('int32'): 7, np.dtype('int8'): 9, np.dtype('uint16'): 10,
              np.dtype('uint32'): 11, np.dtype('float64'): 12}


class Writer:
    def __init__(self, version, little=True):
        self.version = version
        self.little = little
        self.order = '<' if little else '>'

    def word(self, value):
        return struct.pack('>Q' if self.version == 4 else '>I', value)

    def tag(self, kind, name, body):
        encoded = name.encode('latin-1')
        head = struct.pack('>BH', kind, len(encoded)) + encoded
        if self.version == 4:
            head += struct.pack('>Q', len(body))
        return head + body

    def group(self, name, tags):
        return self.tag(20, name, self.group_body(tags))

    def group_body(self, tags):
        return struct.pack('>BB', 0, 1) + self.word(len(tags)) + b''.join(tags)

    def data(self, name, types, payload):
        body = b'%%%%' + self.word(len(types)) + b''.join(self.word(t) for t in types)
        return self.tag(21, name, body + payload)

    def value(self, name, v, dtype):
        dtype = np.dtype(dtype)
        return self.data(name, [SIMPLE[dtype]], np.array(v, dtype=dtype.newbyteorder(self.order)).tobytes())

    def array(self, name, values, dtype):
        dtype = np.dtype(dtype)
        a = np.ascontiguousarray(values, dtype=dtype.newbyteorder(self.order))
        return self.data(name, [20, SIMPLE[dtype], a.size], a.tobytes())

    def text(self, name, s):
        return self.array(name, [ord(c) for c in s], 'uint16')

    def file(self, root_tags):
        root = self.group_body(root_tags)
        if self.version == 4:
            head = struct.pack('>IQI', 4, len(root), 1 if self.little else 0)
        else:
            head = struct.pack('>III', 3, len(root), 1 if self.little else 0)
        return head + root + b'\0' * 8

    def image(self, data, scale, units, name, meta=None):
        """`scale` and `units` are one value for both axes or a pair (x, y); `meta` is the text
        of the ImageTags "Meta Data" group ({"Format": "Spectrum image", "Signal": "CL"})."""
        sizes = list(reversed(data.shape))  # x, y (, pictures)
        scales = tuple(scale) if isinstance(scale, (tuple, list)) else (scale, scale)
        unit_pair = (units, units) if isinstance(units, str) else tuple(units)
        dimension = [self.group('', [self.value('Origin', 0.0, 'float32'),
                                     self.value('Scale', scales[k] if k < 2 else 1.0, 'float32'),
                                     self.text('Units', unit_pair[k] if k < 2 else '')])
                     for k in range(len(sizes))]
        calibrations = self.group('Calibrations', [
            self.group('Brightness', [self.value('Origin', 0.0, 'float32'),
                                      self.value('Scale', 1.0, 'float32'),
                                      self.text('Units', '')]),
            self.group('Dimension', dimension),
            self.value('DisplayCalibratedUnits', 1, 'uint8')])
        image_data = self.group('ImageData', [
            calibrations,
            self.array('Data', data.ravel(), data.dtype),
            self.value('DataType', IMAGE_TYPE[data.dtype], 'int32'),
            self.group('Dimensions', [self.value('', n, 'uint32') for n in sizes]),
            self.value('PixelDepth', data.dtype.itemsize, 'uint32')])
        tags = []
        if meta:
            tags.append(self.group('Meta Data', [self.text(k, v) for k, v in meta.items()]))
        return self.group('', [image_data, self.group('ImageTags', tags), self.text('Name', name)])


def write_dm(path, data, version=4, scale=1.0, units='nm', little=True, thumbnail=True,
             data_type=None, meta=None):
    """Writes `data` (2-D numpy array, row 0 at the top; 3-D for a stack, picture k being
    data[k]) as the main image of a DM file, after a 32 x 32 8-bit thumbnail. `scale` and
    `units` may be (x, y) pairs; `meta` fills the image's "Meta Data" tags. `data_type`
    overrides the DataType code (to make files that declare complex or RGB data)."""
    w = Writer(version, little)
    images = []
    if thumbnail:
        thumb = np.zeros((32, 32), dtype=np.uint8)
        images.append(w.image(thumb, 1.0, '', 'thumbnail'))
    main = w.image(data, scale, units, 'image', meta)
    if data_type is not None:
        main = main.replace(w.value('DataType', IMAGE_TYPE[data.dtype], 'int32'),
                            w.value('DataType', data_type, 'int32'))
    images.append(main)
    tags = [w.group('ImageList', images)]
    if thumbnail:
        tags.append(w.group('Thumbnails', [w.group('', [w.value('ImageIndex', 0, 'uint32')])]))
    with open(path, 'wb') as f:
        f.write(w.file(tags))
