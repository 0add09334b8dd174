# basicraster.py --
#
#	Numpy arrays in and out of BSQ files with the BASIC header (as
#	`rimage create` makes them): `write` puts an array of shape (bands,
#	rows, columns) into the pixel area in the layout the header
#	describes, `read` is rawlayout's independent reader.  Python oracles
#	of the tcltest files import it (sys.path gets tests/support).

import struct

import numpy as np

from rawlayout import DTYPES, decode as read  # noqa: F401


def header(path):
    """msbf, image type, header size, pixel type, bands, rows, columns."""
    data = open(path, "rb").read(48)
    order = ">" if data[:13] == b"IMAGEDEF_MSBF" else "<"
    fields = struct.unpack(order + "8i", data[16:48])
    return fields[0], fields[1], fields[3], fields[4], fields[5], fields[6], \
        fields[7]


def write(path, values):
    msbf, imgid, offset, pixel, bands, rows, cols = header(path)
    assert imgid == 1, "BSQ files only"
    v = np.asarray(values).reshape(bands * rows, cols)
    if pixel == 1:
        body = np.packbits(v.astype(np.uint8) & 1, axis=1,
                           bitorder="big" if msbf else "little")
    elif pixel == 2:
        w = np.zeros((bands * rows, (cols + 1) // 2 * 2), np.uint8)
        w[:, :cols] = v.astype(np.uint8) & 15
        hi, lo = (w[:, 0::2], w[:, 1::2]) if msbf else (w[:, 1::2], w[:, 0::2])
        body = (hi << 4) | lo
    else:
        body = v.astype(np.dtype(DTYPES[pixel]).newbyteorder(
            ">" if msbf else "<"))
    with open(path, "r+b") as f:
        f.seek(offset)
        f.write(body.tobytes())
