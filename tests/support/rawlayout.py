#!/usr/bin/python3
# rawlayout.py --
#
#	An independent reader of BASIC raw files (860-byte "IMAGEDEF" header,
#	then BSQ, BIL or BIP pixel data) written with numpy from the layout's
#	description alone.  For each file named on the command line it prints
#	one line: the file name, then every pixel value in band, row, column
#	order.  The C++ tests compare these with the values they wrote.

import struct
import sys

import numpy as np

DTYPES = {3: "u1", 4: "i2", 5: "i4", 6: "f4", 7: "u2", 8: "u4", 9: "i1"}
BITS = {1: 1, 2: 4, 3: 8, 4: 16, 5: 32, 6: 32, 7: 16, 8: 32, 9: 8}


def samples(record, count, pixel, msbf):
    """The first `count` samples packed in a byte record."""
    if pixel in DTYPES:
        dtype = np.dtype(DTYPES[pixel]).newbyteorder(">" if msbf else "<")
        return np.frombuffer(record, dtype=dtype, count=count)
    raw = np.frombuffer(record, dtype=np.uint8)
    if pixel == 1:
        return np.unpackbits(raw, bitorder="big" if msbf else "little")[:count]
    high, low = raw >> 4, raw & 0x0F
    pairs = np.stack([high, low] if msbf else [low, high], axis=1)
    return pairs.reshape(-1)[:count]


def decode(path):
    data = open(path, "rb").read()
    order = ">" if data[:13] == b"IMAGEDEF_MSBF" else "<"
    (msbf, imgid, _, offset, pixel, nbands, rows, columns) = struct.unpack(
        order + "8i", data[16:48])
    line = (columns * BITS[pixel] + 7) // 8
    out = np.zeros((nbands, rows, columns), dtype=np.float64)
    for y in range(rows):
        if imgid == 3:
            start = offset + y * line * nbands
            s = samples(data[start:start + line * nbands], columns * nbands,
                        pixel, msbf)
            out[:, y, :] = np.asarray(s, dtype=np.float64).reshape(
                columns, nbands).T
            continue
        for b in range(nbands):
            record = (b * rows + y) if imgid == 1 else (y * nbands + b)
            start = offset + record * line
            out[b, y, :] = samples(data[start:start + line], columns, pixel,
                                   msbf)
    return out


if __name__ == "__main__":
    for name in sys.argv[1:]:
        values = decode(name).reshape(-1)
        print(name, " ".join(repr(float(v)) for v in values))
