#!/usr/bin/python3
# rimgobj_oracle.py --
#
#	An independent numpy reading of raster-object operations, written
#	from their description: the operator table in single precision, the
#	window and band map, "@" data ranges (mirrored and repeated source
#	axes), and the conversion of results to the pixel type on writing
#	(v + 0.5 truncated toward zero and clipped; 1BIT non-zero as 1;
#	FLOAT as is).  Images are headerless band-sequential files.
#
#	rimgobj_oracle.py RESULT ORIGINAL DEST SRC SRCDESC OPERATIONS
#	    ORIGINAL and RESULT are the destination image before and after
#	    the operations, DEST its description "PIXEL,MSBF,COLS,ROWS,BANDS";
#	    SRC the operand image and SRCDESC its description.  Replays the
#	    operations (a file of lines of blank-separated words: "roi ...",
#	    "bands ...", or an operation where the word "src" is the operand
#	    raster) on ORIGINAL and compares RESULT with the outcome.  Prints
#	    "ok" or the first differing pixel.

import sys

import numpy as np

F32 = np.float32
BITS = {"1BIT": 1, "4BITS": 4, "BYTE": 8, "SHORT": 16, "USHORT": 16,
        "LONG": 32, "FLOAT": 32}
DTYPES = {"BYTE": "u1", "SHORT": "i2", "USHORT": "u2", "LONG": "i4",
          "FLOAT": "f4"}
LIMITS = {"4BITS": (0, 15), "BYTE": (0, 255), "SHORT": (-32768, 32767),
          "USHORT": (0, 65535), "LONG": (-2147483648, 2147483647)}


def describe(text):
    pixel, msbf, cols, rows, bands = text.split(",")
    return pixel, int(msbf), int(cols), int(rows), int(bands)


def load(path, desc):
    pixel, msbf, cols, rows, bands = describe(desc)
    with open(path, "rb") as f:
        return decode(f.read(), pixel, msbf, cols, rows, bands)


def line_bytes(pixel, cols):
    return (cols * BITS[pixel] + 7) // 8


def decode(data, pixel, msbf, cols, rows, bands):
    n = line_bytes(pixel, cols)
    out = np.zeros((bands, rows, cols))
    for b in range(bands):
        for y in range(rows):
            off = (b * rows + y) * n
            rec = data[off:off + n]
            if pixel in DTYPES:
                dtype = np.dtype(DTYPES[pixel]).newbyteorder(">" if msbf
                                                             else "<")
                out[b, y] = np.frombuffer(rec, dtype=dtype, count=cols)
            elif pixel == "1BIT":
                raw = np.frombuffer(rec, np.uint8)
                out[b, y] = np.unpackbits(
                    raw, bitorder="big" if msbf else "little")[:cols]
            else:
                raw = np.frombuffer(rec, np.uint8)
                hi, lo = raw >> 4, raw & 0x0F
                pairs = np.stack([hi, lo] if msbf else [lo, hi], axis=1)
                out[b, y] = pairs.reshape(-1)[:cols]
    return out


def stored(v, pixel):
    """Float32 results as the values written for the pixel type."""
    v = np.asarray(v, F32)
    if pixel == "FLOAT":
        return v.astype(np.float64)
    d = v.astype(np.float64)
    if pixel == "1BIT":
        return np.where(d != 0, 1.0, 0.0)
    lo, hi = LIMITS[pixel]
    r = np.trunc(np.where(np.isnan(d), 0, d) + 0.5)
    return np.where(np.isnan(d), 0, np.where(d > hi, hi,
                                             np.where(d < lo, lo, r)))


def as_int(v):
    d = np.asarray(v, F32).astype(np.float64)
    d = np.where(np.isnan(d), 0, d)
    return np.trunc(np.clip(d, -2147483648.0, 2147483647.0)).astype(np.int64)


def reduce_coord(v, pixel):
    m = {"1BIT": 2, "4BITS": 16, "BYTE": 256}.get(pixel)
    return F32(v) if m is None else F32(np.fmod(v, m))


def operate(word, n, a, ops, x, y, pixel, rows, cols):
    """The operator table on float32 arrays."""
    b, c, d, e = (list(ops) + [F32(0)] * 4)[:4]
    a = np.asarray(a, F32)
    with np.errstate(all="ignore"):
        if word in ("=", "init"):
            return np.broadcast_to(F32(b), a.shape).astype(F32) \
                if np.isscalar(b) else np.asarray(b, F32)
        if word == "+":
            return a + b
        if word == "-":
            return a - b
        if word == "*":
            return a * b if n == 1 else a * b + c
        if word == "/":
            big = (a.astype(np.float64) / 1e-30).astype(F32)
            return np.where(b == 0, big, a / np.where(b == 0, F32(1), b))
        if word == "!":
            ia = as_int(a)
            if pixel == "1BIT":
                return np.where(a == 0, F32(1), F32(0))
            mask = {"4BITS": 0xF, "BYTE": 0xFF, "SHORT": 0xFFFF,
                    "USHORT": 0xFFFF}.get(pixel, 0xFFFFFFFF)
            return ((~ia) & mask).astype(F32)
        if word in ("&", "|", "xor"):
            ia, ib = as_int(a), as_int(b)
            r = ia & ib if word == "&" else ia | ib if word == "|" \
                else ia ^ ib
            return r.astype(F32)
        if word == "^":
            return (np.abs(a.astype(np.float64))
                    ** np.float64(b)).astype(F32)
        if word == "lini":
            t = (a - b) / (c - b)
            r = (F32(1) - t) * d + t * e
            up = c > b
            below = np.where(up, a <= b, a >= b)
            above = np.where(up, a >= c, a <= c)
            r = np.where(below, d, np.where(above, e, r))
            return np.where(c == b, a, r).astype(F32)
        if word == "idiv":
            ia, ib = as_int(a), as_int(b)
            safe = np.where(ib == 0, 1, ib)
            q = np.abs(ia) // np.abs(safe) * np.sign(ia) * np.sign(safe)
            over = (ib == 0) | ((ia == -2147483648) & (ib == -1))
            return np.where(over, F32(2147483648.0), q.astype(F32))
        if word == "%":
            ia, ib = as_int(a), as_int(b)
            r = np.fmod(ia, np.where(ib == 0, 1, ib)).astype(F32)
            return np.where(ib == 0, a, r)
        if word == "min":
            return np.where(a <= b, a, b).astype(F32)
        if word == "max":
            return np.where(a >= b, a, b).astype(F32)
        if word in ("==", "<=", "<", ">=", ">"):
            truth = {"==": a == b, "<=": a <= b, "<": a < b,
                     ">=": a >= b, ">": a > b}[word]
            yes = c if n > 1 else F32(255)
            no = d if n > 2 else a
            return np.where(truth, yes, no).astype(F32)
        if word == "neg":
            return -a
        if word == "initx":
            return np.broadcast_to(reduce_coord(x, pixel), a.shape)
        if word == "inity":
            return np.broadcast_to(reduce_coord(y, pixel), a.shape)
        if word == "initxy":
            return np.broadcast_to(reduce_coord(x + y, pixel), a.shape)
    raise ValueError("no oracle for " + word)


def walk(first, last, k):
    length = abs(last - first) + 1
    k = np.asarray(k) % length
    return first + k if last >= first else first - k


def parse_range(text, shape):
    bands, rows, cols = shape
    parts = text[1:].split(",")
    out = []
    for part, extent in zip(parts, (cols, rows, bands)):
        if part in ("", "*", ":"):
            out.append((0, extent - 1))
        elif ":" in part:
            i, j = part.split(":")
            out.append((int(i), int(j)))
        else:
            out.append((int(part), int(part)))
    return out          # [(first, last)] for columns, rows, bands


class Replay:
    def __init__(self, dest, dpix, src, spix):
        self.d, self.dpix, self.s, self.spix = dest, dpix, src, spix
        bands, rows, cols = dest.shape
        self.roi = [0, 0, 0, 0, cols, rows]
        self.pairs = [(b, b) for b in range(1, bands + 1)]

    def run(self, text):
        w = text.split()
        if w[0] == "roi":
            self.roi = [int(v) for v in w[1:]]
            return
        if w[0] == "bands":
            self.pairs = []
            for word in w[1:]:
                ds, ss = word.split(":")
                d1, d2 = (int(v) for v in (ds.split("-") * 2)[:2])
                s1, s2 = (int(v) for v in (ss.split("-") * 2)[:2])
                sd, sx = (1 if d2 >= d1 else -1), (1 if s2 >= s1 else -1)
                for k in range(abs(d2 - d1) + 1):
                    self.pairs.append((d1 + k * sd, s1 + k * sx))
            return
        des = None
        if w[0].startswith("@"):
            des = parse_range(w[0], self.d.shape)
            w = w[1:]
        word, rest = w[0], w[1:]
        if rest and rest[0] == "src":
            srange = None
            if len(rest) > 1 and rest[1].startswith("@"):
                srange = parse_range(rest[1], self.s.shape)
                rest = rest[1:]
            nums = [F32(float(v)) for v in rest[1:]]
            self.expr(word, len(nums) + 1, nums, des, srange)
        else:
            self.math(word, len(rest), [F32(float(v)) for v in rest], des)

    def math(self, word, n, nums, des):
        bands, rows, cols = self.d.shape
        if des is None:
            dx, dy, _, _, wd, ht = self.roi
            for dband, _ in self.pairs:
                seg = self.d[dband - 1, dy:dy + ht, dx:dx + wd]
                x = np.arange(wd)[None, :]
                y = np.arange(ht)[:, None]
                r = operate(word, n, seg.astype(F32), nums, x, y,
                            self.dpix, rows, cols)
                self.d[dband - 1, dy:dy + ht, dx:dx + wd] = \
                    stored(r, self.dpix)
            return
        (c0, c1), (r0, r1), (b0, b1) = [sorted(p) for p in des]
        for band in range(b0, b1 + 1):
            seg = self.d[band, r0:r1 + 1, c0:c1 + 1]
            x = np.arange(c0, c1 + 1)[None, :]
            y = np.arange(r0, r1 + 1)[:, None]
            r = operate(word, n, seg.astype(F32), nums, x, y, self.dpix,
                        rows, cols)
            self.d[band, r0:r1 + 1, c0:c1 + 1] = stored(r, self.dpix)

    def expr(self, word, n, nums, des, srange):
        sbands, srows, scols = self.s.shape
        if des is None and srange is None:
            dx, dy, sx, sy, wd, ht = self.roi
            for dband, sband in self.pairs:
                for r in range(ht):
                    srow = (sy + r) % srows
                    cols = np.arange(sx, sx + wd)
                    inside = cols < scols
                    b = np.zeros(wd, F32)
                    b[inside] = self.s[sband - 1, srow, cols[inside]]
                    a = self.d[dband - 1, dy + r, dx:dx + wd].astype(F32)
                    res = operate(word, n, a, [b] + nums, None, None,
                                  self.spix, srows, scols)
                    self.d[dband - 1, dy + r, dx:dx + wd] = \
                        stored(res, self.dpix)
            return
        bands, rows, cols = self.d.shape
        if des is None:
            des = [(0, cols - 1), (0, rows - 1), (0, bands - 1)]
        if srange is None:
            srange = [(0, scols - 1), (0, srows - 1), (0, sbands - 1)]
        nb = abs(des[2][1] - des[2][0]) + 1
        nr = abs(des[1][1] - des[1][0]) + 1
        nc = abs(des[0][1] - des[0][0]) + 1
        i = np.arange(nc)
        dcols, scols_ = walk(*des[0], i), walk(*srange[0], i)
        for k in range(nb):
            band, sband = walk(*des[2], k), walk(*srange[2], k)
            for j in range(nr):
                row, srow = walk(*des[1], j), walk(*srange[1], j)
                a = self.d[band, row, dcols].astype(F32)
                b = self.s[sband, srow, scols_].astype(F32)
                res = operate(word, n, a, [b] + nums, scols_, srow,
                              self.spix, srows, scols)
                self.d[band, row, dcols] = stored(res, self.dpix)


def main():
    result, original, ddesc, srcfile, sdesc, operations = sys.argv[1:7]
    dpix = describe(ddesc)[0]
    replay = Replay(load(original, ddesc), dpix, load(srcfile, sdesc),
                    describe(sdesc)[0])
    with open(operations) as f:
        for op in f.read().splitlines():
            if op.strip():
                replay.run(op)
    got = load(result, ddesc)
    same = (got == replay.d) | (np.isnan(got) & np.isnan(replay.d))
    if same.all():
        print("ok")
    else:
        b, y, x = np.argwhere(~same)[0]
        print("differs at band %d row %d column %d: %r, expected %r"
              % (b, y, x, got[b, y, x], replay.d[b, y, x]))


main()
