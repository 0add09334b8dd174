# gimgOracle.py --
#
#	An independent rendering of gimg images with numpy, written from the
#	written rules of the display (function tables from band statistics,
#	palettes, sampling through the display ports, filters, dithering,
#	quarter turns), and the comparison of that rendering with a screenshot
#	of the image taken with xwd.
#
#	Usage: gimgOracle.py compare JSON, or gimgOracle.py compare-all FILE
#	(a JSON array of cases).  A case names the image ("image": {"kind":
#	"pil"|"raw", ...}), the gimg option words the test configured, the
#	screen depth and the xwd file.  Prints, per case, "ok" or the number
#	of differing pixels and the first few of them.

import json
import math
import struct
import sys

import numpy as np

F = np.float32


def trunc(v):
    return math.trunc(float(v))

# ---------------------------------------------------------------------
# Images
# ---------------------------------------------------------------------

WIDE = {'SHORT': np.int16, 'USHORT': np.uint16, 'LONG': np.int32,
        'FLOAT': np.float32}


def load_image(desc):
    """(bands array [nb, rows, cols], pixel type, colour table or None)."""
    if desc['kind'] == 'raw':
        dtype = np.dtype(WIDE.get(desc['pixel'], np.uint8))
        if desc.get('msbf'):
            dtype = dtype.newbyteorder('>')
        else:
            dtype = dtype.newbyteorder('<')
        rows, cols, nb = desc['rows'], desc['columns'], desc['nbands']
        data = np.fromfile(desc['path'], dtype=dtype,
                           offset=desc.get('offset', 0),
                           count=rows * cols * nb)
        layout = desc.get('layout', 'BSQ')
        if layout == 'BSQ':
            bands = data.reshape(nb, rows, cols)
        elif layout == 'BIL':
            bands = data.reshape(rows, nb, cols).transpose(1, 0, 2)
        else:
            bands = data.reshape(rows, cols, nb).transpose(2, 0, 1)
        return bands.astype(np.float64 if desc['pixel'] == 'FLOAT'
                            else np.int64), desc['pixel'], None
    if desc['path'].endswith(('.ppm', '.pgm')):
        return read_pnm(desc['path']) + (None,)
    from PIL import Image
    im = Image.open(desc['path'])
    if im.mode == 'P':
        pal = im.getpalette()
        n = desc.get('colours', len(pal) // 3)
        table = [tuple(pal[3 * i:3 * i + 3]) for i in range(n)]
        return np.array(im, dtype=np.int64)[None], 'BYTE', table
    if im.mode == 'L':
        return np.array(im, dtype=np.int64)[None], 'BYTE', None
    if im.mode == 'I;16' or im.mode == 'I':
        return np.array(im, dtype=np.int64)[None], 'USHORT', None
    rgb = np.array(im.convert('RGB'), dtype=np.int64)
    return rgb.transpose(2, 0, 1), 'BYTE', None


def read_pnm(path):
    """Binary PGM/PPM with byte samples: (bands, 'BYTE')."""
    data = open(path, 'rb').read()
    words, pos = [], 0
    while len(words) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b'#':
            pos = data.index(b'\n', pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        words.append(data[pos:end])
        pos = end
    pos += 1
    w, h = int(words[1]), int(words[2])
    nb = 3 if words[0] == b'P6' else 1
    px = np.frombuffer(data, np.uint8, count=w * h * nb, offset=pos)
    return px.reshape(h, w, nb).transpose(2, 0, 1).astype(np.int64), 'BYTE'


NBINS = {'1BIT': 2, '4BITS': 16, 'BYTE': 256}

# ---------------------------------------------------------------------
# Tables
# ---------------------------------------------------------------------


def output_range(contrast, bright):
    c = min(max(contrast, -1.0), 1.0)
    if c > 0:
        a = int((1 - c) * 127.5)
        b = 255 - a
    else:
        b = int((c + 1) * 127.5)
        a = 255 - b

    def shift(v):
        v = (bright - 0.5) * 512 + v
        return 0 if not v > 0 else 255 if v > 255 else int(v)
    return shift(a), shift(b)


def fgamma(x, g, mode):
    x = float(x)
    if mode == 0:
        return math.pow(x + 1e-11, g) if x > 0 else 0.0
    if mode == 1:
        if x <= 0:
            return 0.0
        if x >= 1:
            return 1.0
        if x >= 0.5:
            return 1 - 0.5 * math.pow((1 - x) / 0.5 + 1e-11, g)
        return 0.5 * math.pow(x / 0.5 + 1e-11, g)
    return x


def linear_table(a, b, lo, hi, pre, gamma, gmid):
    """lo..hi of the values (pre[i] or i) onto a..b in single precision."""
    lo, hi = F(lo), F(hi)
    r = hi - lo
    out = np.zeros(256, np.int64)
    for i in range(256):
        if r == 0:
            out[i] = a
            continue
        v = F(pre[i] if pre is not None else i)
        if v >= hi:
            v = F(trunc(hi))
        elif v <= lo:
            v = F(trunc(lo))
        g = F(fgamma((v - lo) / r, gamma, gmid))
        f = g * (F(b) + F(0.999)) + (F(1) - g) * F(a)
        small, big = min(a, b), max(a, b)
        out[i] = small if f < small else big if f > big else trunc(f)
    return out


def statistics(values, nbins):
    v = values.astype(np.float64).ravel()
    n = v.size
    s, ss = v.sum(), (v * v).sum()
    mean = s / n
    var = ss / n - mean * mean
    bins = np.zeros(256, np.int64)
    if nbins:
        bins[:nbins] = np.bincount(values.ravel().astype(np.int64),
                                   minlength=nbins)[:nbins]
    return dict(mean=mean, std=math.sqrt(var) if var > 0 else 0.0,
                min=v.min(), max=v.max(), total=float(n), nbins=nbins,
                bins=bins)


def table_statistics(index_values, table, channel, nbins):
    """Statistics of colour-table channel `channel` weighted by the
    counts of the indices."""
    counts = np.bincount(index_values.ravel(), minlength=256)
    comp = np.array([t[channel % 3] for t in table], np.int64)
    w = counts[:len(table)].astype(np.float64)
    total = w.sum()
    mean = (comp * w).sum() / total
    sq = (comp.astype(np.float64) ** 2 * w).sum()
    var = sq / total - mean * mean
    bins = np.zeros(256, np.int64)
    np.add.at(bins, comp, w.astype(np.int64))
    return dict(mean=mean, std=math.sqrt(var) if sq > 0 and var > 0 else 0.0,
                min=float(comp.min()), max=float(comp.max()), total=total,
                nbins=nbins, bins=bins)


def stretch_range(st, rng, k, low, high):
    if st['std'] == 0 or math.isnan(st['std']):
        return None
    if rng == 'MEAN' or (rng == 'DETAIL' and st['nbins'] < 16):
        low = float(F(st['mean']) - F(k) * F(st['std']))
        high = float(F(st['mean']) + F(k) * F(st['std']))
    elif rng == 'DETAIL':
        share = st['bins'] / st['total']
        t = float(F(k)) / 200.0
        i, acc = 0, 0.0
        while acc < t and i < st['nbins']:
            acc += share[i]
            i += 1
        low = i
        i, acc = st['nbins'] - 1, 0.0
        while acc < t and i >= 1:
            acc += share[i]
            i -= 1
        high = i
    return max(low, st['min']), min(high, st['max'])


def histogram_steps(st, func, low, high, gamma, gmid):
    bins = st['bins'][:st['nbins']].astype(np.float64)
    idx = np.arange(256)
    inside = (idx >= low) & (idx <= high)
    full = np.zeros(256)
    full[:st['nbins']] = bins
    total = full[inside].sum()
    if total == 0:
        return None
    cum = np.cumsum(np.where(inside, full, 0)) / total
    c = np.where(idx < low, 0.0, np.where(idx > high, 1.0, cum))
    if func == 'HISTS':
        v = [0 if c[i] == 0 else int(0.5 + 255 * fgamma(c[i], gamma, gmid))
             for i in range(256)]
        level, prev, step = -1, 0, []
        for i in range(256):
            if v[i] > level and v[i] > prev:
                level += 1
            prev = v[i]
            step.append(level)
        return np.array([min(max(trunc(s / (level + 0.0001) * 255 + 0.5),
                                 0), 255) for s in step])
    base = round_half_away(low)
    p0 = full[base] / total if 0 <= base < st['nbins'] else 0.0
    return np.array([0 if c[i] <= p0 else
                     min(max(int(0.5 + 255 * fgamma((c[i] - p0) / (1 - p0),
                                                    gamma, gmid)), 0), 255)
                     for i in range(256)])


def round_half_away(x):
    return int(math.floor(abs(x) + 0.5)) * (1 if x >= 0 else -1)


def channel_function(o, st, band, a, b, low, high, pre):
    """The function table of one channel and the range it used."""
    func = o['func']
    lo, hi = 0.0, 255.0
    if o['filterbg_in_force'] == 0:
        if o['narrow']:
            lo, hi = low, high
    else:
        func = 'NONE'
    gamma = o['gamma']
    if func != 'NONE' and st is not None:
        r = stretch_range(st, o['range'], o['std'], low, high)
        if r is not None:
            low, high = r
            lo, hi = 0.0, 255.0
            if st['nbins'] > 2:
                if func == 'LINEAR':
                    lo, hi = low, high
                elif func in ('HISTS', 'HISTEQ'):
                    steps = histogram_steps(st, func, low, high, gamma,
                                            o['gmid'])
                    if steps is not None:
                        pre = steps[np.arange(256) if pre is None else pre]
                        gamma = 1.0
    return linear_table(a, b, lo, hi, pre, gamma, o['gmid']), low, high


def quantify(n, scale):
    """residual[v], levels, index[v] of n levels over 0..255."""
    residual = np.zeros(256, np.int64)
    index = np.zeros(256, np.int64)
    levels = [0]
    if n <= 1:
        return residual, levels, index
    s = F(256) / F(n - 1)
    prev, m = 0, 0
    for v in range(256):
        q = v if n == 256 else round_half_away(F(trunc((F(v) + s / F(2))
                                                            / s)) * s)
        q = min(q, 255)
        residual[v] = v - q
        if q != prev:
            m += 1
            levels.append(q)
            prev = q
        index[v] = round_half_away(F(m) * F(scale))
    return residual, levels, index


def colour_levels(grey, r, g, b):
    if grey > 0 and r <= 0 and g <= 0 and b <= 0:
        if grey > 256:
            return []
        lv = quantify(grey, 1)[1]
        return [(lv[i], lv[i], lv[i]) for i in range(grey)]
    if grey > 0 or min(r, g, b) <= 0 or r * g * b > 256:
        return []
    lr, lg, lb = (quantify(n, 1)[1] for n in (r, g, b))
    return [(lr[i], lg[j], lb[k]) for i in range(r) for j in range(g)
            for k in range(b)]

# ---------------------------------------------------------------------
# Display ports
# ---------------------------------------------------------------------


def port(size, start, flip, mag):
    m = np.array([trunc(start + i / mag) for i in range(size)])
    return m[::-1] if flip else m

# ---------------------------------------------------------------------
# Rendering
# ---------------------------------------------------------------------


def scaled(values, pixel, low, high):
    """Band values as 0..255 display values (wide types over low..high)."""
    if pixel in NBINS:
        return values.astype(np.int64)
    lo, hi = F(low), F(high)
    v = values.astype(F)
    if lo == hi:
        s, o = F(1e12), F(0)
    else:
        s = F(255) / (hi - lo)
        o = -lo * s + F(0.5)
    with np.errstate(invalid='ignore', over='ignore'):
        t = v * s + o
        t = np.where(np.isnan(t) | (t <= 0), 0, np.minimum(t, 255))
    out = np.where(v < lo, 0, np.where(v > hi, 255, np.trunc(t)))
    return out.astype(np.int64)


def filter_row(row, above, s, bg, direction):
    """One filtered row from the unfiltered row and the row above."""
    c = row.astype(np.int64)
    u = above.astype(np.int64)
    l = np.concatenate([c[:1], c[:-1]])
    ul = np.concatenate([u[:1], u[:-1]])
    tr = np.trunc
    if bg < 0:
        d = 192 + tr((3 * c - l - ul - u) * s + 0.5)
    elif s < 0:
        w = 0.25 if s < -708.39 else math.exp(s) * 0.75 + 0.25
        d = tr(w * l + (ul + c + u) * (1 - w) / 3 + 0.5)
    else:
        base = bg if bg != 0 else c
        diff = {1: l - c, 2: l - u, 3: c - u, 4: c - ul}.get(direction)
        if diff is None:
            d = tr((3 * c - l - ul - u) * s + 0.5) + base
        else:
            d = tr(diff * 3 * s + 0.5) + base
    return np.clip(d, 0, 255).astype(np.int64)


def c_div(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b > 0) else -q


def dither_row(index_row, values, table, index, residual, err, method, odd):
    w = len(values)
    old = err.copy()
    left = old[0]
    for x in range(w):
        t = table[values[x]]
        up = old[x]
        ul = old[x - 1] if x > 0 else old[0]
        if method == 0:
            v = t
        elif method == 1:
            v = t + (up if odd else left)
        elif method == 2:
            v = c_div(left + up, 2) + t
        elif method == 3:
            v = c_div((left + up) * 20 + ul * 14, 54) + t
        else:
            v = c_div((left + up) * 20 + (ul + old[x + 1]) * 14, 68) + t
        v = min(max(v, 0), 255)
        index_row[x] = (index_row[x] + index[v]) & 255
        if method != 0:
            r = residual[v]
            err[x] = r
            left = r


INT_OPTIONS = {'gmid', 'layer', 'filterdir', 'filterbg', 'sc', 'sr',
               'xflip', 'yflip', 'rotate', 'dither', 'maxw', 'maxh'}


def parse_options(words):
    """The gimg option words the test configured, as oracle settings."""
    o = {}
    low, high = [0.0, 0.0, 0.0], [255.0, 255.0, 255.0]
    for k, v in zip(words[0::2], words[1::2]):
        key = k.lstrip('-')
        if key == 'comb':
            o['comb'] = [int(t) for t in v.split('/')]
        elif key == 'palette':
            o['palette'] = ('Default' if v.lower() == 'default'
                            else [int(t) for t in v.split('/')])
        elif key in ('func', 'range'):
            o[key] = v.upper()
        elif key[:-1] in ('low', 'high'):
            (low if key[:-1] == 'low' else high)[int(key[-1])] = float(v)
        elif key in INT_OPTIONS:
            o[key] = int(v)
        elif key == 'stipple':
            o['stipple'] = v.lstrip('@')
        elif key in ('file', 'update', 'turbo'):
            continue
        else:
            o[key] = float(v)
    o['low'], o['high'] = low, high
    return o


class Oracle:
    def __init__(self, desc):
        self.desc = desc
        if isinstance(desc.get('options'), list):
            desc['options'] = parse_options(desc['options'])
        o = dict(func='NONE', range='DETAIL', std=2.5, gamma=1.0, gmid=0,
                 contrast=1.0, bright=0.5, low=[0, 0, 0],
                 high=[255, 255, 255], comb=[1], palette='Default', layer=0,
                 sharpness=0.0, emboss=0.0, filterdir=0, filterbg=0,
                 mx=1.0, my=1.0, sc=0, sr=0, xflip=0, yflip=0, rotate=0,
                 dither=0, dg=0.9, lut=None, maxw=4096, maxh=4096)
        o.update(desc.get('options', {}))
        o.update(desc.get('extra', {}))
        self.o = o
        self.bands, self.pixel, self.table = load_image(desc['image'])
        # Colour-table entries the test set (setIndices): first, last, rgb.
        for first, last, r, g, b in o.get('setcolours', []):
            table = list(self.table or [(i, i, i) for i in range(256)])
            table += [(0, 0, 0)] * (last + 1 - len(table))
            for i in range(first, last + 1):
                table[i] = (r, g, b)
            self.table = table
        o['narrow'] = self.pixel in NBINS
        self.depth = desc['depth']

    # -- presentation chosen when the record is adopted ----------------
    def configure(self):
        o, nb = self.o, self.bands.shape[0]
        self.grey_flag = False
        pal = o['palette']
        if pal == 'Default':
            if nb == 1 and self.table is None:
                o['comb'] = [1]
                pal = [28]
            elif self.table and any(len(set(c)) > 1 for c in self.table):
                o['comb'] = [1, 2, 3]
                pal = [0, 8, 8, 4]
            else:
                pal = [28]
        if self.table is not None and 'layer' not in self.desc.get(
                'options', {}):
            o['layer'] = 1
        if isinstance(pal, int):
            pal = [pal]
        self.pal = [pal[0], 0, 0, 0] if len(pal) == 1 else [0] + list(pal)
        wrap = 3 if (self.table is not None and o['layer'] > 0) else nb
        o['comb'] = [((b - 1) % wrap) + 1 if b > 0 else 0 for b in o['comb']]
        self.comb = (o['comb'] + [0, 0, 0])[:3]
        self.ncomb = len(o['comb'])
        if o['emboss'] != 0:
            self.strength, o['filterbg_in_force'] = o['emboss'], -1
        else:
            self.strength = o['sharpness']
            o['filterbg_in_force'] = min(max(o['filterbg'], 0), 255)
        o['filterdir'] = min(max(o['filterdir'], 0), 4)
        self.a, self.b = output_range(o['contrast'], o['bright'])
        lut = np.tile(np.arange(256), (3, 1))
        if o['lut']:
            for entry in o['lut']:
                for c, v in enumerate(entry[1:4]):
                    lut[c][entry[0]] = min(max(round_half_away(v), 0), 255)
        self.lut = lut
        self.ct = self.table if o['layer'] > 0 else None
        if o['layer'] > 0 and self.ct is None:
            self.ct = colour_levels(256, 0, 0, 0)
        self.palette = None
        if self.depth <= 8:
            self.build_palette()

    def build_palette(self):
        o = self.o
        self.direct = (o['layer'] > 0 and self.strength_before == 0
                       and o['dither'] == 0)
        if self.direct and self.ct:
            self.palette = list(self.ct)
            return
        self.direct = False
        p = list(self.pal)
        while True:
            colours = colour_levels(*p)
            if colours:
                break
            k = int(np.argmax(p))
            p[k] = p[k] - 1 if p[k] <= 32 else p[k] // 2
        self.pal = p
        self.palette = colours

    strength_before = 0.0

    # -- statistics and pre-mappings -----------------------------------
    def band_stats(self, band):
        if self.table is None or band < 0:
            b = max(band, 0) % self.bands.shape[0]
            return statistics(self.bands[b], NBINS.get(self.pixel, 0))
        return table_statistics(self.bands[0], self.table, band, 256)

    def pre(self, c, band, through_table=True):
        if not through_table or self.ct is None:
            return self.lut[c]
        out = np.zeros(256, np.int64)
        for i, col in enumerate(self.ct[:256]):
            out[i] = self.lut[c][col[band % 3]]
        return out

    def function(self, band, a, b, low, high, pre):
        st = None
        if self.o['func'] != 'NONE' and self.o['filterbg_in_force'] == 0:
            st = self.band_stats(band)
        return channel_function(self.o, st, band, a, b, low, high, pre)

    # -- lookups -------------------------------------------------------
    def lookup_true(self):
        o = self.o
        self.low, self.high = list(map(float, o['low'])), list(
            map(float, o['high']))
        self.tables = [None] * 3
        self.disp = [-1, -1, -1]
        if self.ncomb == 1 and self.comb[0] != 0 and self.pal[0] != 0:
            self.ndisp = 0
            band = self.comb[0] - 1
            for c in range(3):
                self.disp[c] = band
                self.tables[c], self.low[c], self.high[c] = self.function(
                    band, self.a, self.b, o['low'][0], o['high'][0],
                    self.pre(c, band))
            return
        self.ndisp = 0
        for c in range(3):
            band = self.comb[c] - 1
            if band < 0:
                continue
            self.ndisp += 1
            self.disp[c] = band
            self.tables[c], self.low[c], self.high[c] = self.function(
                band, self.a, self.b, self.low[c], self.high[c],
                self.pre(c, band))
            if self.pal[c + 1] == 1:
                self.disp[c] = -1

    def lookup_palette(self):
        o = self.o
        a, b, n = self.a, self.b, len(self.palette)
        dither = o['dither']
        self.tables, self.disp, self.low, self.high = [], [], [], []
        self.dindex, self.dresidual = [], []
        if self.direct:
            self.tables = [np.array([i if i < len(self.ct) else 0
                                     for i in range(256)])]
            self.disp = [max(self.comb[0] - 1, 0) % self.bands.shape[0]]
            self.low, self.high = [0.0], [255.0]
            return
        filt = self.strength != 0

        def channel(c, band, lo, hi):
            t, l, h = self.function(band, lo, hi, float(o['low'][c]),
                                    float(o['high'][c]),
                                    self.pre(c, band, not filt))
            self.tables.append(t)
            self.low.append(l)
            self.high.append(h)
            self.disp.append(band)

        if self.pal[0] <= 0:
            R, G, B = (max(v, 1) for v in self.pal[1:])
            spans = [R * G * B - 1, G * B - 1, B - 1]
            steps = [G * B, B, 1]
            caps = [(R - 1) * G * B, (G - 1) * B, B - 1]
            levels = [R, G, B]
            for c in range(3):
                band = self.comb[c] - 1
                if band < 0:
                    continue
                if not dither:
                    channel(c, band, int(spans[c] * a / 255 + 0.5),
                            int(spans[c] * b / 255 + 0.5))
                    t = np.minimum(self.tables[-1], caps[c])
                    self.tables[-1] = (t + steps[c] // 2) // steps[c] * steps[c]
                else:
                    channel(c, band, a, b)
                    r, _, i = quantify(levels[c], steps[c])
                    self.dresidual.append(r)
                    self.dindex.append(i)
            if not dither and self.ct is not None:
                self.tables = [sum(self.tables) & 255]
                self.disp = [max(o['layer'] - 1, 0)]
        else:
            lo = a if dither else int((n - 1) * a / 255 + 0.5)
            hi = b if dither else int((n - 1) * b / 255 + 0.5)
            for c in range(3):
                band = self.comb[c] - 1
                if band < 0:
                    continue
                channel(c, band, lo, hi)
                if dither:
                    r, _, i = quantify(n, 1)
                    self.dresidual.append(r)
                    self.dindex.append(i)
            if len(self.tables) >= 2:
                tabs = np.array(self.tables, dtype=np.float64)
                s = tabs.sum(axis=0)
                mean = np.minimum(s / len(self.tables), 255)
                with np.errstate(invalid='ignore', divide='ignore'):
                    shares = np.where(s != 0, np.trunc(tabs / s * mean), tabs)
                self.tables = [t.astype(np.int64) for t in shares]
        if dither:
            self.dresidual = [np.array([round_half_away(v * o['dg'])
                                        for v in r]) for r in self.dresidual]

    # -- geometry ------------------------------------------------------
    def geometry(self):
        o = self.o
        nb, rows, cols = self.bands.shape
        sc = min(max(o['sc'], 0), cols - 1)
        sr = min(max(o['sr'], 0), rows - 1)
        w = min(round_half_away((cols - sc) * o['mx']), o['maxw'])
        h = min(round_half_away((rows - sr) * o['my']), o['maxh'])
        self.xmap = port(w, sc, o['xflip'], o['mx'])
        self.ymap = port(h, sr, o['yflip'], o['my'])
        self.W, self.H = w, h

    def sample(self, band, row, c, table):
        """Screen row of channel c: values of image row `row`."""
        nb, rows, cols = self.bands.shape
        inside = (self.xmap >= 0) & (self.xmap < cols)
        cols_idx = np.clip(self.xmap, 0, cols - 1)
        v = scaled(self.bands[band][row][cols_idx], self.pixel,
                   self.low[c], self.high[c])
        v = np.where(inside, v, 0)
        return v if table is None else np.asarray(table)[v]

    def read_band(self, c):
        return self.o['layer'] - 1 if self.o['layer'] > 0 else self.disp[c]

    # -- the picture ---------------------------------------------------
    def render_true(self):
        o = self.o
        rows = self.bands.shape[1]
        out = np.zeros((self.H, self.W, 3), np.int64)
        grey = self.pal[0] != 0 and self.ndisp != 0
        above = None
        prev_row = None
        for y in range(self.H):
            r = self.ymap[y]
            if r < 0 or r >= rows:
                prev_row = None
                continue
            if y > 0 and r == self.ymap[y - 1] and prev_row is not None:
                out[y] = out[y - 1]
                continue
            ch = [self.sample(self.read_band(c), r, c, self.tables[c])
                  if self.disp[c] >= 0 else np.zeros(self.W, np.int64)
                  for c in range(3)]
            if grey:
                g = (ch[0] + ch[1] + ch[2]) // self.ndisp
                if self.strength != 0:
                    up = g if above is None else \
                        (above[0] + above[1] + above[2]) // self.ndisp
                    g = filter_row(g, up, self.strength,
                                   o['filterbg_in_force'], o['filterdir'])
                res = [g, g, g]
            else:
                res = []
                for c in range(3):
                    if self.strength != 0 and self.disp[c] >= 0:
                        up = ch[c] if above is None else above[c]
                        res.append(filter_row(ch[c], up, self.strength,
                                              o['filterbg_in_force'],
                                              o['filterdir']))
                    else:
                        res.append(ch[c])
            above = ch
            prev_row = r
            out[y] = np.stack(res, axis=1)
        return out

    def channel_values(self, j, r, raw):
        """Palette path: channel j's values of image row r (raw values,
        or through its table)."""
        o = self.o
        layer = o['layer'] > 0
        band = self.read_band(j) if not layer else o['layer'] - 1
        if raw:
            v = self.sample(band, r, j, None)
            if layer and self.strength != 0 and self.ct is not None:
                comp = self.disp[j] % 3
                lut = np.array([col[comp] for col in self.ct] +
                               [0] * (256 - len(self.ct)))
                v = lut[v]
            return v
        return self.sample(band, r, j, self.tables[j])

    def render_palette(self):
        o = self.o
        rows = self.bands.shape[1]
        idx = np.zeros((self.H, self.W), np.int64)
        n = len(self.tables)
        dither = o['dither'] != 0
        filt = self.strength != 0
        err = [np.zeros(self.W + 2, np.int64) for _ in range(n)]
        above = None
        last_vals = None
        for y in range(self.H):
            r = self.ymap[y]
            if r < 0 or r >= rows:
                continue
            repeat = y > 0 and r == self.ymap[y - 1]
            if repeat and not dither:
                idx[y] = idx[y - 1]
                continue
            if repeat:
                vals = last_vals
            else:
                vals = [self.channel_values(j, r, dither or filt)
                        for j in range(n)]
            row = np.zeros(self.W, np.int64)
            work = []
            for j in range(n):
                v = vals[j]
                if filt:
                    up = v if above is None else above[j]
                    v = filter_row(v, up, self.strength,
                                   o['filterbg_in_force'], o['filterdir'])
                work.append(v)
            if dither:
                for j in range(n):
                    dither_row(row, work[j], self.tables[j], self.dindex[j],
                               self.dresidual[j], err[j], o['dither'], y & 1)
            elif filt:
                for j in range(n):
                    row = row + np.asarray(self.tables[j])[work[j]]
            else:
                row = sum(work)
            idx[y] = row & 255
            above = vals
            last_vals = vals
        return idx

    def turn(self, pic):
        r = self.o['rotate']
        if r < 0:
            return np.rot90(pic, 1)
        if r > 0:
            return np.rot90(pic, -1)
        return pic

    def expected(self):
        self.configure()
        self.geometry()
        if self.depth <= 8:
            self.lookup_palette()
            return self.turn(self.render_palette())
        self.lookup_true()
        return self.turn(self.render_true())

# ---------------------------------------------------------------------
# Screenshots
# ---------------------------------------------------------------------


def read_xwd(path):
    data = open(path, 'rb').read()
    h = struct.unpack('>25I', data[:100])
    (header_size, _, _, depth, width, height, _, byte_order, _, _, _,
     bpp, bpl, _, rmask, gmask, bmask, _, _, ncolors) = h[:20]
    pos = header_size
    cmap = {}
    for i in range(ncolors):
        pixel, r, g, b = struct.unpack('>IHHH', data[pos:pos + 10])
        cmap[pixel] = (r, g, b)
        pos += 12
    raw = np.frombuffer(data, np.uint8, count=bpl * height, offset=pos)
    raw = raw.reshape(height, bpl)
    nbytes = bpp // 8
    px = raw[:, :width * nbytes].reshape(height, width, nbytes).astype(
        np.uint64)
    order = range(nbytes) if byte_order == 0 else reversed(range(nbytes))
    pixels = np.zeros((height, width), np.uint64)
    for shift, k in enumerate(order):
        pixels |= px[:, :, k] << np.uint64(8 * shift)
    return dict(depth=depth, pixels=pixels, cmap=cmap,
                masks=(rmask, gmask, bmask))


def mask_shape(mask):
    shift = 0
    while mask and not (mask >> shift) & 1:
        shift += 1
    width = 0
    while (mask >> (shift + width)) & 1:
        width += 1
    return shift, width


def read_xbm(path):
    """The bits of an X bitmap as a boolean array (bit 0 leftmost)."""
    import re
    text = open(path).read()
    w = int(re.search(r'_width\s+(\d+)', text).group(1))
    h = int(re.search(r'_height\s+(\d+)', text).group(1))
    data = [int(v, 16) for v in re.findall(r'0x([0-9a-fA-F]+)',
                                          text.split('{', 1)[1])]
    per_row = (w + 7) // 8
    return np.array([[(data[y * per_row + x // 8] >> (x % 8)) & 1
                      for x in range(w)] for y in range(h)], bool)


def stipple_mask(o, h, w):
    """Where a white -foreground stipple over the picture (bitmap file in
    the option "stipple", tiled from the pixmap's origin) is drawn."""
    if 'stipple' not in o:
        return None
    bits = read_xbm(o['stipple'])
    bh, bw = bits.shape
    return np.tile(bits, (h // bh + 1, w // bw + 1))[:h, :w]


def compare(desc):
    oracle = Oracle(desc)
    want = oracle.expected()
    shot = read_xwd(desc['xwd'])
    pix = shot['pixels']
    x0, y0 = desc.get('at', [0, 0])
    h, w = want.shape[:2]
    pix = pix[y0:y0 + h, x0:x0 + w]
    if pix.shape[:2] != (h, w):
        return 'screenshot of %s, picture of %s' % (pix.shape[:2], (h, w))
    if oracle.depth <= 8:
        cmap = shot['cmap']
        entries = np.array([cmap[k] for k in sorted(cmap)], np.float64)
        keys = sorted(cmap)
        # The colour each palette entry was given: the nearest colormap
        # colour to the one asked for (itself, at the server's 8 bits per
        # component, when a cell was free).
        given = []
        for col in oracle.palette:
            asked = np.array(col, np.float64) * 257
            d = ((entries - asked) ** 2).sum(axis=1)
            given.append(tuple(int(v) >> 8 for v in entries[int(np.argmin(d))]))
        got = np.array([[tuple(c >> 8 for c in cmap[int(p)]) for p in row]
                        for row in pix])
        exp = np.array([[given[int(i)] for i in row] for row in want])
        stippled = stipple_mask(oracle.o, h, w)
        if stippled is not None:
            exp[stippled] = (255, 255, 255)
    else:
        stippled = stipple_mask(oracle.o, h, w)
        if stippled is not None:
            want = want.copy()
            want[stippled] = 255
        chans = []
        for mask in shot['masks']:
            shift, width = mask_shape(mask)
            chans.append((pix >> np.uint64(shift)) & np.uint64((1 << width) - 1))
        got = np.stack(chans, axis=-1).astype(np.int64)
        widths = [mask_shape(m)[1] for m in shot['masks']]
        exp = np.zeros_like(got)
        for c, width in enumerate(widths):
            v = want[:, :, c]
            if width <= 8:
                exp[:, :, c] = v >> (8 - width)
            else:
                exp[:, :, c] = (v << (width - 8)) | (v >> (16 - width))
    bad = np.argwhere((got != exp).reshape(h, w, -1).any(axis=-1))
    if len(bad) == 0:
        return 'ok'
    first = ['(%d,%d) got %s want %s' % (x, y, list(got[y, x].ravel()),
                                         list(exp[y, x].ravel()))
             for y, x in bad[:4]]
    return '%d of %d pixels differ: %s' % (len(bad), h * w, '; '.join(first))


if __name__ == '__main__':
    if sys.argv[1] == 'compare':
        print(compare(json.loads(sys.argv[2])))
    elif sys.argv[1] == 'compare-all':
        # A file of a JSON array of cases: one result line per case.
        with open(sys.argv[2]) as f:
            for case in json.load(f):
                try:
                    print(compare(case))
                except Exception as e:  # a broken case must not hide others
                    print('oracle error: %r' % e)
    elif sys.argv[1] == 'picture':
        o = Oracle(json.loads(sys.argv[2]))
        print(o.expected().tolist())
