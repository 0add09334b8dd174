# oracle.py --
#
#	Independent readings for the module tests, written from the file
#	layouts alone: feature files ("STATFTUR", "EIGENID") through struct,
#	ERDAS 7.4 BIL images through numpy, and the classification rules as
#	numpy expressions over whole images.  The tests prepend this text to
#	their own scripts (see modules.tcl).

import struct
import sys

import numpy as np


def feature(path):
    """The head, band list, private area and items of a feature file."""
    b = open(path, "rb").read()
    magic, size, offset, isize, count, nb = struct.unpack_from("<8s5i", b, 0)
    bands = list(struct.unpack_from("<%di" % nb, b, 28))
    private = b[28 + 4 * nb:offset]
    items = [b[offset + i * isize:offset + (i + 1) * isize]
             for i in range(count)]
    return dict(magic=magic, size=size, offset=offset, itemSize=isize,
                count=count, nb=nb, bands=bands, private=private,
                items=items, length=len(b))


def unpack_cov(packed, nb):
    """The full symmetric matrix of a packed lower triangle."""
    c = np.zeros((nb, nb))
    k = 0
    for i in range(nb):
        for j in range(i + 1):
            c[i, j] = c[j, i] = packed[k]
            k += 1
    return c


def stat_items(path):
    """(name, note, pixels, id, means, covariance) of each item."""
    f = feature(path)
    nb = f["nb"]
    out = []
    for it in f["items"]:
        name = it[:32].split(b"\0")[0].decode()
        note = it[32:64].split(b"\0")[0].decode()
        n, ident = struct.unpack_from("<2i", it, 64)
        mean = np.array(struct.unpack_from("<%df" % nb, it, 72))
        packed = struct.unpack_from("<%df" % (nb * (nb + 1) // 2), it,
                                    72 + 4 * nb)
        out.append((name, note, n, ident, mean, unpack_cov(packed, nb)))
    return out


def lan(path, rows, columns, bands):
    """An ERDAS 7.4 BYTE image (128-byte head, lines band-interleaved) as
    an array of rows x columns x bands."""
    data = np.fromfile(path, np.uint8, offset=128,
                       count=rows * columns * bands)
    return data.reshape(rows, bands, columns).transpose(0, 2, 1)


def moments(pixels):
    """Mean and population covariance of an n x nb array."""
    p = pixels.astype(np.float64)
    return p.mean(axis=0), np.cov(p, rowvar=False, bias=True).reshape(
        p.shape[1], p.shape[1])


def rules(x, classes, rule, tshd):
    """Class numbers of every pixel (x: n x nb) under a decision rule, and
    the margin between the best and the second best score (ties are
    where it is 0).  classes: (mean, covariance) pairs."""
    x = x.astype(np.float64)
    scores = []
    for mean, cov in classes:
        d = x - mean
        if rule in ("E", "P"):
            s = (d * d).sum(axis=1) if rule == "E" else np.abs(d).sum(axis=1)
        else:
            inv = np.linalg.inv(cov)
            q = np.einsum("ni,ij,nj->n", d, inv, d)
            s = np.log(np.linalg.det(cov)) + q
        scores.append(s)
    s = np.array(scores)
    K = len(classes)
    nb = x.shape[1]
    t = tshd * tshd
    if rule == "B":
        # Priors from a city-block pass with its threshold test.
        cb = np.array([np.abs(x - m).sum(axis=1) for m, _ in classes])
        first = cb.argmin(axis=0)
        ok = cb.min(axis=0) / nb < t
        counts = np.bincount(first[ok], minlength=K).astype(np.float64)
        logp = np.where(counts > 0, 2 * np.log(np.where(counts > 0, counts, 1)
                                               / counts.sum()), 0.0)
        g = logp[:, None] - s
        best = g.argmax(axis=0)
        srt = np.sort(g, axis=0)
        margin = srt[-1] - srt[-2] if K > 1 else np.inf + 0 * srt[-1]
        accepted = g.max(axis=0) < t
    else:
        best = s.argmin(axis=0)
        srt = np.sort(s, axis=0)
        margin = srt[1] - srt[0] if K > 1 else np.inf + 0 * srt[0]
        smin = s.min(axis=0)
        accepted = (smin / nb < t) if rule in ("E", "P") else (smin < t)
    return np.where(accepted, best, K), margin


def write_stat(path, bands, items, source=b"python"):
    """A "STATFTUR" file from (name, pixels, means, covariance) items."""
    nb = len(bands)
    isize = 72 + 4 * nb + 2 * nb * (nb + 1)
    offset = 28 + 4 * nb + 192
    out = struct.pack("<8s5i", b"STATFTUR", offset + len(items) * isize,
                      offset, isize, len(items), nb)
    out += struct.pack("<%di" % nb, *bands)
    out += source.ljust(64, b"\0") + b"Created by hand".ljust(128, b"\0")
    for i, (name, n, mean, cov) in enumerate(items):
        packed = [cov[r][c] for r in range(nb) for c in range(r + 1)]
        out += name.encode().ljust(32, b"\0") + b"note\n".ljust(32, b"\0")
        out += struct.pack("<2i", n, i)
        out += struct.pack("<%df" % nb, *mean)
        out += struct.pack("<%df" % len(packed), *packed)
    open(path, "wb").write(out)


def eigen_items(path):
    """(id, value, percent, vector) of each item of an "EIGENID" file."""
    f = feature(path)
    nb = f["nb"]
    return [(struct.unpack_from("<i", it)[0],)
            + struct.unpack_from("<2f", it, 4)
            + (np.array(struct.unpack_from("<%df" % nb, it, 12)),)
            for it in f["items"]]
