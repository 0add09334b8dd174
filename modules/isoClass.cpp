/*
 * isoClass.cpp --
 *
 *	ISODATA arithmetic (isoClass.h).  The distance of a pixel to a class
 *	is the sum over bands, in band order and single precision, of
 *	(x(b) * inv(b) - mean(b) * inv(b))^2: values and means are divided
 *	by the band scale once, so the search is a plain squared distance.
 *
 *	A block of pixels is assigned in three steps.  Worker threads
 *	search the classes that exist when the block starts, four pixels at
 *	a time in vector registers; the calling thread then walks the pixels
 *	in order, continuing the search of a pixel over the classes opened
 *	since the block started and opening classes, which reproduces the
 *	pixel-by-pixel rule exactly; last, workers sum each row's pixels per
 *	class, and the row sums are added in row order.  Every pixel thus
 *	sees the same arithmetic whatever the thread count (core/rowThreads.h).
 *	Relies on feature records and the cluster item layout (isoPrint.h).
 */
#include "modules/isoClass.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>

#include "core/rowThreads.h"
#include "modules/isoPrint.h"

/* Pixels searched together by a worker; a multiple of the lane count. */
static const int TILE = 256;

typedef float FloatLanes __attribute__((vector_size(16)));
typedef int32_t IntLanes __attribute__((vector_size(16)));
static const int LANES = 4;

static inline FloatLanes broadcast(float v)
{
    FloatLanes r = {v, v, v, v};
    return r;
}

static inline bool allSet(IntLanes m)
{
    return (m[0] & m[1] & m[2] & m[3]) != 0;
}

/* ---------------------------------------------------------------------
 * Classes
 * --------------------------------------------------------------------- */

void isoSetup(IsoClasses *c, int nb, const double *scale, double dis,
              int maxClasses)
{
    c->nb = nb;
    c->maxClasses = maxClasses;
    c->dis = (float)dis;
    c->hit = (float)(dis / 5.0);
    c->inv.assign((size_t)nb, 0.0f);
    for (int b = 0; b < nb; b++)
        if (scale[b] > 0 && scale[b] < 3.4028235e38)
            c->inv[b] = (float)(1.0 / scale[b]);
    c->count = 0;
    c->mean.clear();
    c->scaled.clear();
    c->samples.clear();
    c->sum.clear();
    c->pixels.clear();
    c->hits = c->finds = c->total = 0;
}

void isoLoadClasses(IsoClasses *c, Feature *record)
{
    int nb = c->nb, K = record->count;
    c->count = K;
    c->mean.resize((size_t)K * nb);
    c->scaled.resize((size_t)K * nb);
    c->samples.resize((size_t)K);
    for (int k = 0; k < K; k++) {
        const unsigned char *item = getFeatureItem(record, k);
        c->samples[k] = isoField<int32_t>(item, ISO_SAMPLES);
        for (int b = 0; b < nb; b++) {
            float m = isoField<float>(item, ISO_MEAN(b));
            c->mean[(size_t)k * nb + b] = m;
            c->scaled[(size_t)k * nb + b] = m * c->inv[b];
        }
    }
    c->sum.assign((size_t)K * nb, 0.0);
    c->pixels.assign((size_t)K, 0.0);
    c->hits = c->finds = c->total = 0;
}

int isoOpenClass(IsoClasses *c, const float *pixel, int32_t samples)
{
    for (int b = 0; b < c->nb; b++) {
        c->mean.push_back(pixel[b]);
        c->scaled.push_back(pixel[b] * c->inv[b]);
        c->sum.push_back(0.0);
    }
    c->samples.push_back(samples);
    c->pixels.push_back(0.0);
    return c->count++;
}

float isoDistance(const IsoClasses *c, const float *pixel, int k)
{
    const float *m = &c->scaled[(size_t)k * c->nb];
    float d = 0.0f;
    for (int b = 0; b < c->nb; b++) {
        float t = pixel[b] * c->inv[b] - m[b];
        d += t * t;
    }
    return d;
}

/* ---------------------------------------------------------------------
 * The search
 * --------------------------------------------------------------------- */

/*
 * searchTile --
 *	Continues the search of n pixels (n a multiple of the lane count;
 *	band b of pixel p at x[b * stride + p], scaled) over the classes
 *	from .. to-1.  best, cls and done (-1: the search has ended) hold
 *	each pixel's state and are updated.  A class replaces the best only
 *	when strictly nearer, and ends the search when it is also nearer
 *	than the hit distance.  NB > 0 fixes the band count for the compiler.
 */
template <int NB>
static void searchTile(const float *x, int stride, int n, const float *scaled,
                       int nbDynamic, int from, int to, float hit,
                       float *best, int32_t *cls, int32_t *done)
{
    const int nb = NB > 0 ? NB : nbDynamic;
    const FloatLanes hitLanes = broadcast(hit);
    FloatLanes fixed[NB > 0 ? NB : 1];
    std::vector<FloatLanes> dynamic;
    FloatLanes *xv = fixed;
    if (NB == 0) {
        dynamic.resize((size_t)nb);
        xv = dynamic.data();
    }
    for (int p = 0; p < n; p += LANES) {
        IntLanes ended;
        std::memcpy(&ended, done + p, sizeof ended);
        if (allSet(ended))
            continue;
        for (int b = 0; b < nb; b++)
            std::memcpy(&xv[b], x + (size_t)b * stride + p, sizeof xv[b]);
        FloatLanes bestLanes;
        IntLanes clsLanes;
        std::memcpy(&bestLanes, best + p, sizeof bestLanes);
        std::memcpy(&clsLanes, cls + p, sizeof clsLanes);
        for (int k = from; k < to; k++) {
            const float *m = scaled + (size_t)k * nb;
            FloatLanes d = broadcast(0.0f);
            for (int b = 0; b < nb; b++) {
                FloatLanes t = xv[b] - broadcast(m[b]);
                d += t * t;
            }
            IntLanes better = (d < bestLanes) & ~ended;
            bestLanes = better ? d : bestLanes;
            clsLanes = better ? IntLanes{k, k, k, k} : clsLanes;
            ended |= better & (d < hitLanes);
            if (allSet(ended))
                break;
        }
        std::memcpy(best + p, &bestLanes, sizeof bestLanes);
        std::memcpy(cls + p, &clsLanes, sizeof clsLanes);
        std::memcpy(done + p, &ended, sizeof ended);
    }
}

static void search(const float *x, int stride, int n, const float *scaled,
                   int nb, int from, int to, float hit, float *best,
                   int32_t *cls, int32_t *done)
{
    switch (nb) {
    case 1: searchTile<1>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    case 2: searchTile<2>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    case 3: searchTile<3>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    case 4: searchTile<4>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    case 5: searchTile<5>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    case 6: searchTile<6>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    case 7: searchTile<7>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    case 8: searchTile<8>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    default: searchTile<0>(x, stride, n, scaled, nb, from, to, hit, best, cls, done); break;
    }
}

/* Pixel states after the parallel search. */
enum { PIXEL_INVALID = 0, PIXEL_SEARCHED, PIXEL_HIT, PIXEL_KNOWN };

/* Scratch of one worker: a tile of scaled pixels and its search state. */
struct SearchTile {
    std::vector<float> x;
    alignas(16) float best[TILE];
    alignas(16) int32_t cls[TILE];
    alignas(16) int32_t done[TILE];
    explicit SearchTile(int nb) : x((size_t)nb * TILE) {}
};

/* Searches classes 0 .. K-1 for the pixels of rows [r0, r1). */
static void searchRows(const IsoClasses *c, const IsoRows *blk, int K,
                       int r0, int r1, float *bestOut, unsigned char *state)
{
    int nb = c->nb, n = blk->n;
    SearchTile w(nb);
    for (int r = r0; r < r1; r++) {
        for (int p0 = 0; p0 < n; p0 += TILE) {
            int m = std::min(TILE, n - p0);
            int padded = (m + LANES - 1) / LANES * LANES;
            size_t i0 = (size_t)r * n + p0;
            for (int p = 0; p < padded; p++) {
                w.best[p] = INFINITY;
                w.cls[p] = -1;
                w.done[p] = -1;
                if (p >= m) {
                    for (int b = 0; b < nb; b++)
                        w.x[(size_t)b * TILE + p] = 0.0f;
                    continue;
                }
                const float *px = blk->values + (i0 + p) * nb;
                bool valid = true;
                for (int b = 0; b < nb; b++) {
                    valid = valid && std::isfinite(px[b]);
                    w.x[(size_t)b * TILE + p] = px[b] * c->inv[b];
                }
                int known = blk->known ? blk->known[i0 + p] : -1;
                if (!valid)
                    state[i0 + p] = PIXEL_INVALID;
                else if (known >= 0) {
                    state[i0 + p] = PIXEL_KNOWN;
                    w.cls[p] = known;
                } else {
                    state[i0 + p] = PIXEL_SEARCHED;
                    w.done[p] = 0;
                }
            }
            search(w.x.data(), TILE, padded, c->scaled.data(), nb, 0, K,
                   c->hit, w.best, w.cls, w.done);
            for (int p = 0; p < m; p++) {
                blk->cls[i0 + p] = w.cls[p];
                bestOut[i0 + p] = w.best[p];
                if (state[i0 + p] == PIXEL_SEARCHED && w.done[p])
                    state[i0 + p] = PIXEL_HIT;
            }
        }
    }
}

/* Continues the search of one pixel over classes from .. count-1.
 * Results: 1 when a class within the hit distance ended it. */
static int searchOne(const IsoClasses *c, const float *px, int from,
                     float *best, int *cls)
{
    int nb = c->nb;
    std::vector<float> x((size_t)nb * LANES, 0.0f);
    for (int b = 0; b < nb; b++)
        x[(size_t)b * LANES] = px[b] * c->inv[b];
    alignas(16) float bs[LANES] = {*best, INFINITY, INFINITY, INFINITY};
    alignas(16) int32_t cl[LANES] = {*cls, -1, -1, -1};
    alignas(16) int32_t dn[LANES] = {0, -1, -1, -1};
    search(x.data(), LANES, LANES, c->scaled.data(), nb, from, c->count,
           c->hit, bs, cl, dn);
    *best = bs[0];
    *cls = cl[0];
    return dn[0] != 0;
}

/* Adds the weighted pixels of rows [r0, r1) to per-row sums: part holds
 * for each row and class nb sums and the weight. */
static void sumRows(const IsoRows *blk, int nb, int K, int r0, int r1,
                    double *part)
{
    size_t perRow = (size_t)K * (nb + 1);
    for (int r = r0; r < r1; r++) {
        double *row = part + (size_t)r * perRow;
        std::fill(row, row + perRow, 0.0);
        for (int p = 0; p < blk->n; p++) {
            size_t i = (size_t)r * blk->n + p;
            int k = blk->cls[i];
            if (k < 0)
                continue;
            double w = blk->weights ? blk->weights[i] : 1.0;
            const float *px = blk->values + i * nb;
            double *s = row + (size_t)k * (nb + 1);
            for (int b = 0; b < nb; b++)
                s[b] += w * px[b];
            s[nb] += w;
        }
    }
}

int isoAssignRows(IsoClasses *c, IsoRows *blk, int mayOpen, int accumulate)
{
    int nb = c->nb, K0 = c->count;
    size_t total = (size_t)blk->rows * blk->n;
    std::vector<float> best;
    std::vector<unsigned char> state;
    try {
        best.resize(total);
        state.resize(total);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    std::atomic<bool> failed(false);
    rowThreadsRun(blk->rows, 1, [&](int r0, int r1) {
        try {
            searchRows(c, blk, K0, r0, r1, best.data(), state.data());
        } catch (const std::bad_alloc &) {
            failed = true;
        }
    });
    if (failed)
        return 0;

    /* In pixel order: classes opened within this block, and opening. */
    try {
        for (size_t i = 0; i < total; i++) {
            int st = state[i];
            if (st == PIXEL_INVALID) {
                blk->cls[i] = -1;
                continue;
            }
            const float *px = blk->values + i * nb;
            double w = blk->weights ? blk->weights[i] : 1.0;
            if (st == PIXEL_SEARCHED && c->count > K0
                    && searchOne(c, px, K0, &best[i], &blk->cls[i]))
                st = PIXEL_HIT;
            if (st == PIXEL_SEARCHED && mayOpen && w > 0
                    && (blk->cls[i] < 0 || !(best[i] < c->dis))
                    && c->count < c->maxClasses)
                blk->cls[i] = isoOpenClass(c, px, 0);
            if (!accumulate || blk->cls[i] < 0)
                continue;
            if (st == PIXEL_SEARCHED)
                c->finds += w;
            else
                c->hits += w;
            c->total += w;
        }
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (!accumulate)
        return 1;

    /* Sums: per row on the workers, added in row order; a block with too
     * many classes for row sums is summed in pixel order here. */
    int K = c->count;
    size_t perRow = (size_t)K * (nb + 1);
    std::vector<double> part;
    bool rowSums = perRow * blk->rows <= ((size_t)1 << 21);
    if (rowSums) {
        try {
            part.resize(perRow * blk->rows);
        } catch (const std::bad_alloc &) {
            rowSums = false;
        }
    }
    if (rowSums) {
        rowThreadsRun(blk->rows, 1, [&](int r0, int r1) {
            sumRows(blk, nb, K, r0, r1, part.data());
        });
        for (int r = 0; r < blk->rows; r++) {
            const double *row = &part[(size_t)r * perRow];
            for (int k = 0; k < K; k++) {
                const double *s = row + (size_t)k * (nb + 1);
                if (s[nb] == 0)
                    continue;
                for (int b = 0; b < nb; b++)
                    c->sum[(size_t)k * nb + b] += s[b];
                c->pixels[k] += s[nb];
            }
        }
    } else {
        for (size_t i = 0; i < total; i++) {
            int k = blk->cls[i];
            if (k < 0)
                continue;
            double w = blk->weights ? blk->weights[i] : 1.0;
            const float *px = blk->values + i * nb;
            for (int b = 0; b < nb; b++)
                c->sum[(size_t)k * nb + b] += w * px[b];
            c->pixels[k] += w;
        }
    }
    return 1;
}

/* ---------------------------------------------------------------------
 * End of a pass
 * --------------------------------------------------------------------- */

Feature *isoMinCV(Feature *record, IsoClasses *c, int keep,
                  IsoPassResult *res)
{
    int K = c->count, nb = c->nb;
    if (record->count != K && !(record = cutFeature(record, K)))
        return nullptr;
    double total = 0;
    for (int k = 0; k < K; k++)
        total += c->pixels[k];
    double cv = K > 0 ? DBL_MAX : 0.0, rms = 0, wcv = 0;
    for (int k = 0; k < K; k++) {
        unsigned char *item = getFeatureItem(record, k);
        double s = c->samples[k], n = c->pixels[k];
        double stability = s == 0 && n == 0 ? 0.0
                           : std::min(s, n) / std::max(s, n);
        cv = std::min(cv, stability);
        float srmd2 = 0.0f;
        double shift = 0;
        for (int b = 0; b < nb; b++) {
            float old = c->mean[(size_t)k * nb + b], now = old, dm = 0.0f;
            if (n > 0) {
                now = (float)(c->sum[(size_t)k * nb + b] / n);
                dm = now - old;
            }
            isoSetField<float>(item, ISO_MEAN(b), now);
            isoSetField<float>(item, ISO_DMEAN(b), dm);
            isoSetField<double>(item, ISO_SUM(b), 0.0);
            shift += (double)dm * dm;
        }
        if (n > 0) {
            srmd2 = (float)std::sqrt(shift / nb);
            rms += n * srmd2 / total;
            wcv += n * stability / total;
        }
        isoSetField<float>(item, ISO_SRMD2, srmd2);
        isoSetField<int32_t>(item, ISO_SAMPLES, (int32_t)n);
        isoSetField<int32_t>(item, ISO_COUNT, 0);
    }
    if (!keep) {
        int kept = 0, size = record->itemSize;
        for (int k = 0; k < K; k++) {
            if (!(c->pixels[k] > 0))
                continue;
            if (kept != k)
                std::memmove(getFeatureItem(record, kept),
                             getFeatureItem(record, k), (size_t)size);
            kept++;
        }
        if (kept != K && !(record = cutFeature(record, kept)))
            return nullptr;
    }
    unsigned char *p = getFeaturePrivate(record);
    if (p && getFeaturePrivateSize(record) >= ISO_PRIVATE_SIZE) {
        IsoPrivate area;
        std::memcpy(&area, p, sizeof area);
        area.rms = rms;
        area.dis = c->dis;
        area.total = (int32_t)total;
        area.nclasses = record->count;
        std::memcpy(p, &area, sizeof area);
    }
    res->rms = rms;
    res->wcv = wcv;
    res->cv = cv;
    res->total = total;
    return record;
}

int isoCmp(const unsigned char *a, const unsigned char *b, const int *order,
           int nb)
{
    for (int i = 0; i < nb; i++) {
        float x = isoField<float>(a, ISO_MEAN(order[i]));
        float y = isoField<float>(b, ISO_MEAN(order[i]));
        if (x < y)
            return -1;
        if (x > y)
            return 1;
    }
    return 0;
}

void isoSort(Feature *record, const int *order)
{
    int K = record->count, size = record->itemSize, nb = record->nbands;
    if (K < 2)
        return;
    const unsigned char *items = getFeatureItem(record, 0);
    std::vector<unsigned char> copy(items, items + (size_t)K * size);
    std::vector<int> index((size_t)K);
    std::iota(index.begin(), index.end(), 0);
    std::stable_sort(index.begin(), index.end(), [&](int a, int b) {
        return isoCmp(&copy[(size_t)a * size], &copy[(size_t)b * size],
                      order, nb) < 0;
    });
    for (int k = 0; k < K; k++)
        std::memcpy(getFeatureItem(record, k), &copy[(size_t)index[k] * size],
                    (size_t)size);
}

void isoSpeed(Feature *record)
{
    for (int k = 0; k < record->count; k++) {
        unsigned char *item = getFeatureItem(record, k);
        for (int b = 0; b < record->nbands; b++)
            isoSetField<float>(item, ISO_MEAN(b),
                               isoField<float>(item, ISO_MEAN(b))
                                   + 0.5f * isoField<float>(item, ISO_DMEAN(b)));
    }
}

/* ---------------------------------------------------------------------
 * Spectral binning
 * --------------------------------------------------------------------- */

/* B^n, or a value above the limit when it would exceed it. */
static long long powerCapped(long long B, int n, long long limit)
{
    long long v = 1;
    for (int i = 0; i < n; i++) {
        if (v > limit / B)
            return limit + 1;
        v *= B;
    }
    return v;
}

int isoBinCount(int n)
{
    const long long limit = 8388608;
    if (n < 1)
        return 1;
    long long B = (long long)std::pow((double)limit, 1.0 / n);
    B = std::max(B, 1LL);
    while (B > 1 && powerCapped(B, n, limit) > limit)
        B--;
    while (powerCapped(B + 1, n, limit) <= limit)
        B++;
    return (int)B;
}

int isoBin(double v, double low, double high, int B)
{
    double x = std::floor((v - low) / (high - low) * (B - 1) + 0.5);
    if (!(x > 0))
        return 0;
    return x > B - 2 ? B - 2 : (int)x;
}
