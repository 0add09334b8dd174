/*
 * fftCore.cpp --
 *
 *	The radix-2 complex transform of the Fourier module.  `fftrans` is the
 *	plain form over one array.  The block forms `ffte` (rows) and `fftl`
 *	(columns) compute the same butterflies on many transforms at once:
 *	a group of rows or columns is gathered, already in bit-reversed
 *	order, into a split layout (position-major, one lane per transform),
 *	so that every butterfly runs across contiguous lanes and vectorises;
 *	the results are scattered back with the half-length shift.  Groups
 *	are independent, so they run on the row threads (core/rowThreads.h)
 *	and every value is the same whatever the thread count.
 */
#include "modules/fftCore.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

#include "core/rowThreads.h"

/* Transforms gathered per group: one cache line of floats per position. */
static const int FFT_LANES = 8;

int fftSize(int n)
{
    int p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

void bldtbl(int n, int sign, double *cosines, double *sines)
{
    cosines[0] = 1.0;
    sines[0] = 0.0;
    for (int k = 1; k <= n; k++) {
        double a = sign * 2.0 * M_PI / k;
        cosines[k] = std::cos(a);
        sines[k] = std::sin(a);
    }
}

/* The m twiddles of a span: 1, then each the previous times (c, s), in
 * double precision, stored rounded to float. */
static void spanTwiddles(int m, double c, double s, float *wr, float *wi)
{
    double xr = 1.0, xi = 0.0;
    for (int j = 0; j < m; j++) {
        wr[j] = (float)xr;
        wi[j] = (float)xi;
        double yr = xr * c - xi * s;
        double yi = xr * s + xi * c;
        xr = yr;
        xi = yi;
    }
}

static int log2Of(int n)
{
    int bits = 0;
    while ((1 << bits) < n)
        bits++;
    return bits;
}

static int bitReverse(int i, int bits)
{
    int r = 0;
    for (int b = 0; b < bits; b++, i >>= 1)
        r = (r << 1) | (i & 1);
    return r;
}

/* One butterfly: t = w b, b = a - t, a = a + t, in single precision. */
static inline void butterfly(float cr, float ci, float &ar, float &ai,
                             float &br, float &bi)
{
    float tr = cr * br - ci * bi;
    float ti = cr * bi + ci * br;
    br = ar - tr;
    bi = ai - ti;
    ar = ar + tr;
    ai = ai + ti;
}

void fftrans(int n, float *data, int sign, const double *cosines,
             const double *sines)
{
    int bits = log2Of(n);
    for (int i = 0; i < n; i++) {
        int j = bitReverse(i, bits);
        if (j > i) {
            std::swap(data[2 * i], data[2 * j]);
            std::swap(data[2 * i + 1], data[2 * j + 1]);
        }
    }
    std::vector<float> wr(n), wi(n);
    for (int m = 1; m < n; m <<= 1) {
        spanTwiddles(m, cosines[2 * m], sines[2 * m], wr.data(), wi.data());
        for (int j = 0; j < m; j++)
            for (int i = j; i < n; i += 2 * m) {
                float *a = data + 2 * i, *b = data + 2 * (i + m);
                butterfly(wr[j], wi[j], a[0], a[1], b[0], b[1]);
            }
    }
    if (sign < 1)
        for (int i = 0; i < 2 * n; i++)
            data[i] = data[i] / (float)n;
}

void fftTablesBuild(FFTTables *t, int n, int sign)
{
    t->n = n;
    t->sign = sign;
    t->cosines.assign(n + 1, 0.0);
    t->sines.assign(n + 1, 0.0);
    bldtbl(n, sign, t->cosines.data(), t->sines.data());
    t->wr.assign(n > 1 ? n - 1 : 1, 0.0f);
    t->wi.assign(n > 1 ? n - 1 : 1, 0.0f);
    for (int m = 1; m < n; m <<= 1)
        spanTwiddles(m, t->cosines[2 * m], t->sines[2 * m], &t->wr[m - 1],
                     &t->wi[m - 1]);
    int bits = log2Of(n);
    t->reversed.resize(n);
    for (int i = 0; i < n; i++)
        t->reversed[i] = bitReverse(i, bits);
}

/* ---------------------------------------------------------------------
 * Lanes: FFT_LANES transforms at once.  re[p] and im[p] hold position p
 * of every lane (one vector); positions are in bit-reversed order when
 * the stages start.  The vectors make each lane compute exactly the
 * butterflies of fftrans, only side by side.
 * --------------------------------------------------------------------- */

typedef float Lanes __attribute__((vector_size(FFT_LANES * sizeof(float))));

/* Spans below this run block by block (a block of positions stays in the
 * first-level cache); larger spans run two at a time. */
static const int FFT_BLOCK = 64;

static inline void laneButterfly(float cr, float ci, Lanes &ar, Lanes &ai,
                                 Lanes &br, Lanes &bi)
{
    Lanes tr = cr * br - ci * bi;
    Lanes ti = cr * bi + ci * br;
    br = ar - tr;
    bi = ai - ti;
    ar = ar + tr;
    ai = ai + ti;
}

/* All butterfly stages of n positions.  The order differs from fftrans
 * (small spans block by block, large spans in pairs: spans m and 2m on
 * the four positions j, j+m, j+2m, j+3m of a group), but every butterfly
 * gets the same inputs, so the values are the same. */
__attribute__((target_clones("avx2", "default")))
static void laneStages(Lanes *__restrict re, Lanes *__restrict im,
                       const float *wr, const float *wi, int n)
{
    int block = std::min(n, FFT_BLOCK);
    for (int b = 0; b < n; b += block)
        for (int m = 1; m < block; m <<= 1) {
            const float *cr = wr + m - 1, *ci = wi + m - 1;
            for (int i = b; i < b + block; i += 2 * m)
                for (int j = 0; j < m; j++)
                    laneButterfly(cr[j], ci[j], re[i + j], im[i + j],
                                  re[i + j + m], im[i + j + m]);
        }
    int m = block;
    for (; 2 * m < n; m <<= 2) {
        const float *cr = wr + m - 1, *ci = wi + m - 1;
        const float *dr = wr + 2 * m - 1, *di = wi + 2 * m - 1;
        for (int i = 0; i < n; i += 4 * m)
            for (int j = 0; j < m; j++) {
                int p0 = i + j, p1 = p0 + m, p2 = p1 + m, p3 = p2 + m;
                Lanes r0 = re[p0], i0 = im[p0], r1 = re[p1], i1 = im[p1];
                Lanes r2 = re[p2], i2 = im[p2], r3 = re[p3], i3 = im[p3];
                laneButterfly(cr[j], ci[j], r0, i0, r1, i1);
                laneButterfly(cr[j], ci[j], r2, i2, r3, i3);
                laneButterfly(dr[j], di[j], r0, i0, r2, i2);
                laneButterfly(dr[j + m], di[j + m], r1, i1, r3, i3);
                re[p0] = r0; im[p0] = i0; re[p1] = r1; im[p1] = i1;
                re[p2] = r2; im[p2] = i2; re[p3] = r3; im[p3] = i3;
            }
    }
    if (m < n) {
        const float *cr = wr + m - 1, *ci = wi + m - 1;
        for (int j = 0; j < m; j++)
            laneButterfly(cr[j], ci[j], re[j], im[j], re[j + m], im[j + m]);
    }
}

/* Where the values of the transforms sit in the caller's block: lane l,
 * stored index k at base + l * laneStep + k * indexStep (in complex
 * values).  Rows: laneStep n, indexStep 1; columns: laneStep 1, indexStep
 * width. */
struct LaneBlock {
    float *base;
    size_t laneStep, indexStep;
};

static inline float *laneValue(const LaneBlock &b, int lane, int index)
{
    return b.base + 2 * ((size_t)lane * b.laneStep + (size_t)index * b.indexStep);
}

/* Shuffles of whole vectors: lanes split into real and imaginary parts
 * and back, and the 8 x 8 transpose of a tile. */
static_assert(FFT_LANES == 8, "the shuffles below are written for 8 lanes");

static inline void splitPairs(const float *v, Lanes &re, Lanes &im)
{
    Lanes a, b;
    std::memcpy(&a, v, sizeof a);
    std::memcpy(&b, v + FFT_LANES, sizeof b);
    re = __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14);
    im = __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15);
}

static inline void joinPairs(const Lanes &re, const Lanes &im, float *v)
{
    Lanes a = __builtin_shufflevector(re, im, 0, 8, 1, 9, 2, 10, 3, 11);
    Lanes b = __builtin_shufflevector(re, im, 4, 12, 5, 13, 6, 14, 7, 15);
    std::memcpy(v, &a, sizeof a);
    std::memcpy(v + FFT_LANES, &b, sizeof b);
}

static inline void transpose8(Lanes x[8])
{
    Lanes t[8], u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = __builtin_shufflevector(x[i], x[i + 1], 0, 8, 2, 10, 4, 12, 6, 14);
        t[i + 1] = __builtin_shufflevector(x[i], x[i + 1], 1, 9, 3, 11, 5, 13, 7, 15);
    }
    /* u0: columns 0, 4 of rows 0-3; u1: 2, 6; u2: 1, 5; u3: 3, 7; u4-u7
     * the same of rows 4-7 */
    for (int h = 0; h < 8; h += 4) {
        u[h] = __builtin_shufflevector(t[h], t[h + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        u[h + 1] = __builtin_shufflevector(t[h], t[h + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        u[h + 2] = __builtin_shufflevector(t[h + 1], t[h + 3], 0, 1, 8, 9, 4, 5, 12, 13);
        u[h + 3] = __builtin_shufflevector(t[h + 1], t[h + 3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    static const int column[4][2] = {{0, 4}, {2, 6}, {1, 5}, {3, 7}};
    for (int q = 0; q < 4; q++) {
        x[column[q][0]] = __builtin_shufflevector(u[q], u[q + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        x[column[q][1]] = __builtin_shufflevector(u[q], u[q + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

/* Moves stored values into positions: position[k] is where stored index
 * k goes.  Lanes missing at the block's end read 0.  Adjacent lanes
 * (columns) are read as one run per index; lanes in separate rows are
 * read in tiles of FFT_LANES indices and transposed, so that each row is
 * read in runs and each position written whole. */
__attribute__((target_clones("avx2", "default")))
static void gatherLanes(const LaneBlock &b, int lanes, int n,
                        const int *position, Lanes *re, Lanes *im)
{
    for (int k0 = 0; k0 < n; k0 += FFT_LANES) {
        int count = std::min(FFT_LANES, n - k0);
        Lanes tr[FFT_LANES], ti[FFT_LANES];
        if (lanes == FFT_LANES && b.laneStep == 1) {
            for (int c = 0; c < count; c++)
                splitPairs(laneValue(b, 0, k0 + c), tr[c], ti[c]);
        } else if (lanes == FFT_LANES && count == FFT_LANES) {
            for (int l = 0; l < lanes; l++)
                splitPairs(laneValue(b, l, k0), tr[l], ti[l]);
            transpose8(tr);
            transpose8(ti);
        } else {
            for (int c = 0; c < count; c++)
                tr[c] = ti[c] = Lanes{};
            for (int l = 0; l < lanes; l++)
                for (int c = 0; c < count; c++) {
                    const float *v = laneValue(b, l, k0 + c);
                    tr[c][l] = v[0];
                    ti[c][l] = v[1];
                }
        }
        for (int c = 0; c < count; c++) {
            re[position[k0 + c]] = tr[c];
            im[position[k0 + c]] = ti[c];
        }
    }
}

/* Stores positions back: stored index k receives position[k], divided by
 * n for the inverse. */
__attribute__((target_clones("avx2", "default")))
static void scatterLanes(const LaneBlock &b, int lanes, int n,
                         const int *position, bool scale, const Lanes *re,
                         const Lanes *im)
{
    const float fn = (float)n;
    for (int k0 = 0; k0 < n; k0 += FFT_LANES) {
        int count = std::min(FFT_LANES, n - k0);
        Lanes tr[FFT_LANES], ti[FFT_LANES];
        for (int c = 0; c < count; c++) {
            tr[c] = re[position[k0 + c]];
            ti[c] = im[position[k0 + c]];
            if (scale) {
                tr[c] = tr[c] / fn;
                ti[c] = ti[c] / fn;
            }
        }
        if (lanes == FFT_LANES && b.laneStep == 1) {
            for (int c = 0; c < count; c++)
                joinPairs(tr[c], ti[c], laneValue(b, 0, k0 + c));
        } else if (lanes == FFT_LANES && count == FFT_LANES) {
            transpose8(tr);
            transpose8(ti);
            for (int l = 0; l < lanes; l++)
                joinPairs(tr[l], ti[l], laneValue(b, l, k0));
        } else {
            for (int l = 0; l < lanes; l++)
                for (int c = 0; c < count; c++) {
                    float *v = laneValue(b, l, k0 + c);
                    v[0] = tr[c][l];
                    v[1] = ti[c][l];
                }
        }
    }
}

/* Scratch vectors of the calling thread, kept between calls. */
static Lanes *laneScratch(int n)
{
    thread_local std::unique_ptr<Lanes[]> scratch;
    thread_local int size = 0;
    if (size < 2 * n) {
        /* new[] keeps the vectors' alignment (a vector<Lanes> would not) */
        scratch.reset(new Lanes[2 * (size_t)n]);
        size = 2 * n;
    }
    return scratch.get();
}

/* Transforms the block's transforms in groups of FFT_LANES on the row
 * threads.  The stored index that feeds transform index j, and the
 * position stored at index k:
 *   rows, forward:    j                      (k + n/2) mod n
 *   rows, inverse:    (j + n/2) mod n        k
 *   columns, forward: n - 1 - j              (k + n/2) mod n
 *   columns, inverse: (j + n/2) mod n        n - 1 - k
 * Position p holds transform index reversed(p) before the stages. */
static void transformBlock(const LaneBlock &block, int transforms,
                           const FFTTables &t, bool columns)
{
    const int n = t.n, half = n / 2, mask = n - 1;
    const bool forward = t.sign > 0;
    std::vector<int> in(n), out(n);
    for (int j = 0; j < n; j++) {
        int stored = forward ? (columns ? mask - j : j) : (j + half) & mask;
        in[stored] = t.reversed[j];
    }
    for (int k = 0; k < n; k++)
        out[k] = forward ? (k + half) & mask : (columns ? mask - k : k);
    int groups = (transforms + FFT_LANES - 1) / FFT_LANES;
    rowThreadsRun(groups, 1, [&](int begin, int end) {
        Lanes *re = laneScratch(n), *im = re + n;
        for (int g = begin; g < end; g++) {
            LaneBlock b = block;
            b.base += 2 * (size_t)g * FFT_LANES * block.laneStep;
            int lanes = std::min(FFT_LANES, transforms - g * FFT_LANES);
            gatherLanes(b, lanes, n, in.data(), re, im);
            laneStages(re, im, t.wr.data(), t.wi.data(), n);
            scatterLanes(b, lanes, n, out.data(), !forward, re, im);
        }
    });
}

void ffte(float *data, const FFTTables &t, int rows, int n, int sign)
{
    assert(sign == t.sign && n == t.n);
    (void)sign;
    (void)n;
    if (rows <= 0)
        return;
    transformBlock(LaneBlock{data, (size_t)n, 1}, rows, t, false);
}

void fftl(float *data, const FFTTables &t, int n, int width, int sign)
{
    assert(sign == t.sign && n == t.n);
    (void)sign;
    (void)n;
    if (width <= 0)
        return;
    transformBlock(LaneBlock{data, 1, (size_t)width}, width, t, true);
}
