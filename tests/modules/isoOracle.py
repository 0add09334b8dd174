# isoOracle.py --
#
#	An independent numpy reading of ISODATA assignment and update, for
#	runs of rimage gisoc that start from a cluster file (so no class
#	opens and NC is the file's class count):
#
#	  final IMAGE SEED OUT.bmp      the final pass: every pixel to the
#	                                class of SEED it belongs to
#	  pass IMAGE SEED AFTER SK      one pass over every SK-th row and
#	                                column: the classes of AFTER
#
#	The rule: scales are each band's population standard deviation over
#	the image (0 counts as no contribution), d(k) = sum ((x - m(k)) / s)^2,
#	the first class nearer than the hit distance sqrt(nb / NC) / 5 wins,
#	else the nearest (the first of equals).  A pass moves each class mean
#	to the mean of its pixels, drops empty classes and sorts the rest by
#	their means in band order.  Prints the pixels (final) or classes
#	(pass) that disagree away from near-ties, and the near-ties.
#	Reads ERDAS 7.4 BYTE images and cluster files from their layouts.

import struct
import sys

import numpy as np


def lan(path):
    head = open(path, "rb").read(128)
    nb = struct.unpack_from("<h", head, 8)[0]
    cols, rows = struct.unpack_from("<2i", head, 16)
    d = np.fromfile(path, np.uint8, offset=128, count=rows * cols * nb)
    return d.reshape(rows, nb, cols).transpose(0, 2, 1).astype(np.float64)


def clusters(path):
    b = open(path, "rb").read()
    magic, size, offset, isize, count, nb = struct.unpack_from("<8s5i", b)
    bands = struct.unpack_from("<%di" % nb, b, 28)
    means, samples = [], []
    for k in range(count):
        at = offset + k * isize
        samples.append(struct.unpack_from("<i", b, at)[0])
        means.append([struct.unpack_from("<f", b, at + 12 + 16 * j)[0]
                      for j in range(nb)])
    return list(bands), np.array(means, np.float64), np.array(samples)


def assign(x, means, scale):
    inv = np.where(scale > 0, 1 / np.where(scale > 0, scale, 1), 0)
    d = (((x[:, None, :] - means[None, :, :]) * inv) ** 2).sum(axis=2)
    K, nb = means.shape
    hit = np.sqrt(nb / K) / 5
    near = d < hit
    first_hit = np.where(near.any(axis=1), near.argmax(axis=1), -1)
    nearest = d.argmin(axis=1)
    cls = np.where(first_hit >= 0, first_hit, nearest)
    # Near-ties: the two smallest distances within float precision, or a
    # distance within float precision of the hit distance.
    srt = np.sort(d, axis=1)
    eps = 1e-5 * (1 + srt[:, 0])
    tie = (srt[:, 1] - srt[:, 0] <= eps) if K > 1 else np.zeros(len(x), bool)
    tie |= (np.abs(d - hit) <= 1e-5 * (1 + hit)).any(axis=1)
    return cls, tie


def main():
    mode, image, seed = sys.argv[1:4]
    img = lan(image)
    bands, means, _ = clusters(seed)
    img = img[:, :, bands]
    scale = img.reshape(-1, len(bands)).std(axis=0)
    if mode == "final":
        from PIL import Image
        got = np.array(Image.open(sys.argv[4])).reshape(-1)
        cls, tie = assign(img.reshape(-1, len(bands)), means, scale)
        print(int(((got != cls) & ~tie).sum()), int(tie.sum()), len(got))
        return
    sk = int(sys.argv[5])
    x = img[::sk, ::sk].reshape(-1, len(bands))
    cls, tie = assign(x, means, scale)
    keep = [k for k in range(len(means)) if (cls == k).any()]
    new = np.array([x[cls == k].mean(axis=0) for k in keep])
    count = np.array([(cls == k).sum() for k in keep])
    order = np.lexsort(new.T[::-1])
    new, count = new[order], count[order]
    _, got, gsamples = clusters(sys.argv[4])
    same = (len(got) == len(new) and (gsamples == count).all()
            and np.allclose(got, new, rtol=1e-5, atol=1e-3))
    print(bool(same), len(new), int(tie.sum()))


main()
