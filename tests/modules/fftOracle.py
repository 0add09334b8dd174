# fftOracle.py --
#
#	Independent readings for the Fourier tests, written from the
#	descriptions of the FFT file and of the transform alone: the file is
#	read and written with struct/numpy, the transforms are numpy's FFTs
#	with the conventions of the description (kernel exp(+i 2 pi k j / n)
#	forwards, the zero frequency moved to the middle, columns taken from
#	the bottom row up), the filters are numpy expressions of their
#	formulas.  The tests prepend this text to their own scripts.

import struct
import sys

import numpy as np

np.seterr(all="ignore")

TYPES = ["INIT", "SFRI", "SFPP", "FSRI", "FSPP", "SFRIX", "SFRIY", "SFPPX",
         "SFPPY"]


def read_fft(path):
    """(header fields, P x Q complex data) of an FFT image file."""
    b = open(path, "rb").read()
    band, P, Q, rows, cols, typ = struct.unpack_from("<6i", b, 80)
    stats = struct.unpack_from("<9d", b, 104)
    head = dict(magic=b[:16], source=b[16:80].split(b"\0")[0].decode(),
                band=band, P=P, Q=Q, rows=rows, cols=cols,
                type=TYPES[typ] if 0 <= typ < len(TYPES) else typ,
                stats=stats, size=len(b), tail=b[176:1024])
    d = np.frombuffer(b, "<f4", offset=1024, count=P * Q * 2)
    d = d.reshape(P, Q, 2).astype(np.float64)
    return head, d[..., 0] + 1j * d[..., 1]


def write_fft(path, data, typ, rows, cols, band=1, source="oracle"):
    """An FFT image file holding complex data (P x Q) of a type."""
    P, Q = data.shape
    h = bytearray(1024)
    h[0:14] = b"FFT IMAGE FILE"
    src = source.encode()[:64]
    h[16:16 + len(src)] = src
    struct.pack_into("<6i", h, 80, band, P, Q, rows, cols,
                     TYPES.index(typ) if isinstance(typ, str) else typ)
    d = np.empty((P, Q, 2), "<f4")
    d[..., 0] = data.real
    d[..., 1] = data.imag
    open(path, "wb").write(bytes(h) + d.tobytes())


def raw(name, rows=29, cols=37, dtype="<f4", bands=1):
    """A fixture's raw data: bands x rows x columns."""
    return np.fromfile(name, dtype).reshape(bands, rows, cols).astype(
        np.float64)


def pow2(n):
    p = 1
    while p < n:
        p *= 2
    return p


def padded(a):
    """The band extended to P x Q: row r >= rows reads 2 rows - r - 1,
    column c >= cols reads 2 cols - c - 2."""
    rows, cols = a.shape
    P, Q = pow2(rows), pow2(cols)
    r = np.arange(P)
    r = np.where(r < rows, r, 2 * rows - r - 1)
    c = np.arange(Q)
    c = np.where(c < cols, c, 2 * cols - c - 2)
    return a[r][:, c].astype(np.complex128)


def fwd_x(z):
    n = z.shape[1]
    return np.fft.fftshift(np.fft.ifft(z, axis=1) * n, axes=1)


def inv_x(z):
    return np.fft.fft(np.fft.ifftshift(z, axes=1), axis=1) / z.shape[1]


def fwd_y(z):
    n = z.shape[0]
    return np.fft.fftshift(np.fft.ifft(z[::-1], axis=0) * n, axes=0)


def inv_y(z):
    return (np.fft.fft(np.fft.ifftshift(z, axes=0), axis=0)
            / z.shape[0])[::-1]


def to_pp(z):
    power = np.abs(z)
    return power + 1j * np.where(power > 0, np.angle(z), 0)


def from_pp(z):
    return z.real * np.exp(1j * z.imag)


def filter_factor(P, Q, kind, rx, ry, n, a=1.0, cx=None, cy=None,
                  angle=0.0, form="XY"):
    """The factor of each transform position (row y, column x)."""
    y, x = np.mgrid[0:P, 0:Q].astype(np.float64)
    if cx is None:
        cx, cy = Q // 2, P // 2
    t = np.radians(angle)

    def rho(px, py):
        dx, dy = x - px, y - py
        if form == "X":
            dy = 0 * dy
        if form == "Y":
            dx = 0 * dx
        u = (np.cos(t) * dx + np.sin(t) * dy) / rx
        v = (-np.sin(t) * dx + np.cos(t) * dy) / ry
        return u * u + v * v

    def bell(r):
        e = -r ** n
        return np.where(e > -708.39, np.exp(np.maximum(e, -708.39)), 0.0)

    r = rho(cx, cy)
    if kind == "bell":
        return bell(r)
    if kind == "high":
        return 1 - a * bell(r)
    r = np.minimum(r, rho(Q - 1 - cx, P - 1 - cy))
    return np.where(r <= 1, 1 - a * bell(r), 1.0)


def rel(got, want):
    """Error relative to the norm of the reference."""
    return np.linalg.norm(got - want) / np.linalg.norm(want)


def close(got, want, tolerance=1e-4):
    return bool(rel(got, want) <= tolerance)
