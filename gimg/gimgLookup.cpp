/*
 * gimgLookup.cpp --
 *
 *	The function tables of a gimg master: band statistics from the
 *	record's histograms (hist.h), one table per displayed channel for
 *	true-colour screens, palette-index contributions (with dither index
 *	and residual tables) for palette screens, and the transfer tables of
 *	bilevel output.  The arithmetic of each table is gimgTable.cpp's;
 *	this file decides which band, range, pre-mapping and output range
 *	each channel gets, and writes the ranges used back into -low/-high.
 */
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "gimg/gimgInt.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgTable.h"

/* Above this many pixels per band, statistics for the display sample the
 * image on a grid of about 2^24 points instead of reading every line. */
static const double statsFullLimit = 67108864.0;

/* The record's histograms, computed on demand. */
static Hist *recordHist(RAMImage *r)
{
    double pixels = (double)r->info.rows * r->info.columns;
    int step = 1;
    if (pixels > statsFullLimit)
        step = (int)std::ceil(std::sqrt(pixels / 16777216.0));
    return ramImageHist(r, 0, step, step);
}

/* The plain statistics of one histogram record. */
static void histStats(Hist *h, GimgBandStats *st)
{
    st->mean = getHistMean(h);
    st->std = getHistStd(h);
    st->min = h->min;
    st->max = h->max;
    st->total = h->count;
    st->nbins = std::min(h->nbins, 256);
    std::memset(st->bins, 0, sizeof st->bins);
    for (int i = 0; i < st->nbins && h->bins; i++)
        st->bins[i] = h->bins[i];
}

/* Statistics of colour-table channel `channel` of the pixels counted by
 * h: each entry's component weighted by the count of its index. */
static void paletteStats(Hist *h, int nindices,
                         const unsigned char (*table)[3], int channel,
                         GimgBandStats *st)
{
    double sum = 0, squares = 0, total = 0;
    std::memset(st->bins, 0, sizeof st->bins);
    st->min = 1e300;
    st->max = -1e300;
    int n = std::min(nindices, 256);
    for (int i = 0; i < n; i++) {
        int v = table[i][channel % 3];
        double w = i < h->nbins && h->bins ? h->bins[i] : 0;
        sum += v * w;
        squares += (double)v * v * w;
        total += w;
        st->bins[v] += (int)w;
        st->min = std::min(st->min, (double)v);
        st->max = std::max(st->max, (double)v);
    }
    st->total = total;
    st->mean = sum / total;
    double variance = squares / total - st->mean * st->mean;
    st->std = squares > 0 && variance > 0 ? std::sqrt(variance) : 0;
    st->nbins = std::min(h->nbins, 256);
}

/*
 * GimgCalcStats0 --
 *	Statistics of band `band` of the record; with a colour table and
 *	band >= 0, of the colour-table channel `band`, weighted by band 0.
 * Results:
 *	1, or 0 when the record has no histograms.
 */
int GimgCalcStats0(RAMImage *r, int band, GimgBandStats *st)
{
    Hist *h = recordHist(r);
    if (!h)
        return 0;
    int nb = r->info.nbands > 0 ? r->info.nbands : 1;
    if (r->info.nindices <= 0 || band < 0) {
        histStats(&h[std::max(band, 0) % nb], st);
        return 1;
    }
    paletteStats(&h[0], r->info.nindices, r->info.palette, band, st);
    return 1;
}

/*
 * GimgCalcStats --
 *	The same over a given histogram set and the master's colour table,
 *	weighted by the band of the layer shown.
 * Results:
 *	1, or 0 when h is null.
 */
int GimgCalcStats(GimgMaster *m, Hist *h, int band, GimgBandStats *st)
{
    if (!h)
        return 0;
    int nb = m->block.nbands > 0 ? m->block.nbands : 1;
    int layerBand = std::max(m->cachedLayer - 1, 0) % nb;
    Hist *weights = &h[layerBand];
    if (m->block.nindices <= 0 || weights->nbins == 0 || band < 0) {
        int b = m->cachedLayer > 0 ? layerBand : std::max(band, 0) % nb;
        histStats(&h[b], st);
        return 1;
    }
    paletteStats(weights, m->block.nindices, m->block.palette, band, st);
    return 1;
}

void gimgNormalizeCntrst(GimgMaster *m)
{
    gimgOutputRange(&m->contrast, m->bright, &m->outA, &m->outB);
}

/* True when the master's band values are the values themselves (the
 * function table holds their stretch); false when the sampler scales
 * them from the channel range. */
static int valueTyped(const GimgMaster *m)
{
    int pixel = m->block.pixel;
    return pixel == PIXEL_1BIT || pixel == PIXEL_4BITS
           || pixel == PIXEL_BYTE;
}

/*
 * createFunction --
 *	One function table of n entries onto a..b for `band` of the main
 *	image; *low and *high in-out.  See gimgFunctionTable.
 * Results:
 *	1.
 */
int createFunction(GimgMaster *m, int func, float std, int band,
                   float gamma, unsigned char *table, int n, int a, int b,
                   double *low, double *high, const unsigned char *pre)
{
    GimgBandStats stats;
    const GimgBandStats *known = nullptr;
    if (func != GIMG_FUNC_NONE && m->filterBg == 0 && m->rimg
        && GimgCalcStats0(m->rimg, band, &stats))
        known = &stats;
    gimgFunctionTable(known, func, m->range, std, valueTyped(m) ? 8 : 16,
                      m->filterBg, gamma, m->gmid, table, n, a, b, low, high,
                      pre);
    return 1;
}

/*
 * getRGBIndex --
 *	The pre-mapping of a channel: without colour table the channel
 *	lookup itself, else out[i] = lut[component (band mod 3) of entry i].
 * Results:
 *	The table to use.
 */
const unsigned char *getRGBIndex(int ncolors,
                                 const unsigned char (*colourTable)[3],
                                 int band, unsigned char *out,
                                 const unsigned char *lut)
{
    if (ncolors <= 0)
        return lut;
    int n = std::min(ncolors, 256), c = ((band % 3) + 3) % 3;
    std::memset(out, 0, 256);
    for (int i = 0; i < n; i++)
        out[i] = lut[colourTable[i][c]];
    return out;
}

/* The bands of -comb above 0: their count, and the first one. */
static int combBands(const GimgMaster *m, int *first)
{
    int count = 0;
    *first = 0;
    for (int i = 1; i <= 3 && i <= m->comb[0]; i++)
        if (m->comb[i] > 0 && count++ == 0)
            *first = m->comb[i];
    return count;
}

/* Function tables of a true-colour screen. */
static void createLookup24(GimgMaster *m, int func, float k)
{
    unsigned char pre[256];
    float gamma = (float)m->gamma;
    if (m->comb[0] == 1 && m->comb[1] != 0 && (m->palFlags & GIMG_PAL_GREY)) {
        m->nDispBands = 0;
        int band = m->comb[1] - 1;
        for (int c = 0; c < 3; c++) {
            const unsigned char *p = getRGBIndex(m->block.nindices,
                                                 m->block.palette, band,
                                                 pre, m->lut[c]);
            m->dispBands[c] = band;
            m->low[c] = m->lowOpt[0];
            m->high[c] = m->highOpt[0];
            createFunction(m, func, k, band, gamma, m->funcTable[c], 256,
                           m->outA, m->outB, &m->low[c], &m->high[c], p);
        }
        m->lowOpt[0] = m->low[0];
        m->highOpt[0] = m->high[0];
        return;
    }
    m->nDispBands = 0;
    for (int c = 0; c < 3; c++) {
        int band = m->comb[c + 1] - 1;
        if (band < 0) {
            m->dispBands[c] = -1;
            continue;
        }
        m->nDispBands++;
        m->dispBands[c] = band;
        const unsigned char *p = getRGBIndex(m->block.nindices,
                                             m->block.palette, band, pre,
                                             m->lut[c]);
        createFunction(m, func, k, band, gamma, m->funcTable[c], 256,
                       m->outA, m->outB, &m->low[c], &m->high[c], p);
        if (m->cachedPal[c + 1] == 1)
            m->dispBands[c] = -1;
    }
    for (int c = 0; c < 3; c++)
        if (m->comb[c + 1] > 0) {
            m->lowOpt[c] = m->low[c];
            m->highOpt[c] = m->high[c];
        }
}

/* trunc(span * v / 255 + 0.5): an output end scaled to a level span. */
static int scaledEnd(int span, int v)
{
    return (int)(span * v / 255.0 + 0.5);
}

/* The pre-mapping of a palette channel: through the colour table unless
 * a filter is on (the renderer then maps the components itself). */
static const unsigned char *palettePre(GimgMaster *m, int c, int band,
                                       unsigned char *out)
{
    if (m->filterStrength != 0)
        return m->lut[c];
    return getRGBIndex(m->block.nindices, m->block.palette, band, out,
                       m->lut[c]);
}

/* One palette channel into table j: its function over a..b, its range
 * written back to -low/-high of channel c. */
static void paletteChannel(GimgMaster *m, int func, float k, int c, int j,
                           int band, int a, int b)
{
    unsigned char pre[256];
    double lo = m->low[c], hi = m->high[c];
    createFunction(m, func, k, band, (float)m->gamma, m->funcTable[j], 256,
                   a, b, &lo, &hi, palettePre(m, c, band, pre));
    m->lowOpt[c] = m->low[j] = lo;
    m->highOpt[c] = m->high[j] = hi;
    m->dispBands[j] = band;
}

/* Function tables of a palette screen: each channel's table holds its
 * contribution to the palette index (colour cube or grey ramp), or with
 * dithering the display value plus index and residual tables. */
static void createLookup8(GimgMaster *m, int func, float k)
{
    int a = m->outA, b = m->outB, n = m->palCount;
    int dither = m->cachedDither;
    for (int c = 0; c < 3; c++)
        m->dispBands[c] = -1;

    if (m->directCT) {
        int first;
        combBands(m, &first);
        int nb = m->block.nbands > 0 ? m->block.nbands : 1;
        int band = (std::max(first - 1, 0)) % nb;
        m->nDispBands = 1;
        m->dispBands[0] = band;
        if (m->rimg && m->block.nindices > 0 && m->block.bits <= 8) {
            for (int i = 0; i < 256; i++)
                m->funcTable[0][i] = (unsigned char)(i < m->block.nindices
                                                         ? i
                                                         : 0);
        } else {
            createFunction(m, func, k, band, (float)m->gamma,
                           m->funcTable[0], 256, a, b, &m->lowOpt[0],
                           &m->highOpt[0], m->lut[0]);
            m->low[0] = m->lowOpt[0];
            m->high[0] = m->highOpt[0];
        }
        return;
    }

    int used = 0;
    if (m->cachedPal[0] <= 0) {
        int levels[3] = {std::max(m->cachedPal[1], 1),
                         std::max(m->cachedPal[2], 1),
                         std::max(m->cachedPal[3], 1)};
        int R = levels[0], G = levels[1], B = levels[2];
        int span[3] = {R * G * B - 1, G * B - 1, B - 1};
        int step[3] = {G * B, B, 1};
        int cap[3] = {(R - 1) * G * B, (G - 1) * B, B - 1};
        for (int c = 0; c < 3; c++) {
            int band = m->comb[c + 1] - 1;
            if (band < 0)
                continue;
            int j = used++;
            if (!dither) {
                paletteChannel(m, func, k, c, j, band,
                               scaledEnd(span[c], a), scaledEnd(span[c], b));
                Quantification(m->funcTable[j], 256, step[c], cap[c]);
            } else {
                paletteChannel(m, func, k, c, j, band, a, b);
                colorQuantify(m->ditherResidual[j], nullptr, levels[c],
                              m->ditherIndex[j], (float)step[c]);
            }
        }
        if (!dither && m->block.nindices > 0) {
            for (int j = 1; j < used; j++)
                for (int i = 0; i < 256; i++)
                    m->funcTable[0][i] = (unsigned char)(m->funcTable[0][i]
                                                         + m->funcTable[j][i]);
            m->nDispBands = 1;
            m->dispBands[0] = std::max(m->layer - 1, 0);
            m->dispBands[1] = m->dispBands[2] = -1;
        } else {
            m->nDispBands = used;
        }
    } else {
        int lo = dither ? a : scaledEnd(n - 1, a);
        int hi = dither ? b : scaledEnd(n - 1, b);
        for (int c = 0; c < 3; c++) {
            int band = m->comb[c + 1] - 1;
            if (band < 0)
                continue;
            int j = used++;
            paletteChannel(m, func, k, c, j, band, lo, hi);
            if (dither)
                colorQuantify(m->ditherResidual[j], nullptr, n,
                              m->ditherIndex[j], 1.0f);
        }
        m->nDispBands = used;
        if (used >= 2)
            for (int i = 0; i < 256; i++) {
                int s = 0;
                for (int j = 0; j < used; j++)
                    s += m->funcTable[j][i];
                if (s == 0)
                    continue;
                double mean = std::min((double)s / used, 255.0);
                for (int j = 0; j < used; j++)
                    m->funcTable[j][i] = (unsigned char)(int)(
                        m->funcTable[j][i] / (double)s * mean);
            }
    }
    if (dither)
        for (int j = 0; j < 3; j++)
            for (int i = 0; i < 256; i++)
                m->ditherResidual[j][i] = (signed char)std::lround(
                    m->ditherResidual[j][i] * m->dg);
}

/* The transfer tables: the displayed bands packed into one byte of
 * 8, 4 + 4 or 3 + 3 + 2 bits. */
static void GimgCreateTrans(GimgMaster *m, int func, float k)
{
    int bands[3], count = 0;
    for (int c = 0; c < 3; c++)
        if (m->dispBands[c] >= 0)
            bands[count++] = m->dispBands[c];
    int same = 1;
    for (int j = 1; j < count; j++)
        same &= bands[j] == bands[0];
    std::memset(m->transTable, 0, sizeof m->transTable);
    if (count <= 1 || same) {
        for (int i = 0; i < 256; i++)
            m->transTable[0][i] = (unsigned char)i;
        return;
    }
    static const int layout[3][3][3] = {
        {{255, 1, 255}},
        {{255, 16, 240}, {15, 1, 15}},
        {{255, 32, 224}, {31, 4, 28}, {3, 1, 3}},
    };
    for (int j = 0; j < count; j++) {
        const int *l = layout[count - 1][j];
        double lo = 0, hi = 255;
        createFunction(m, func, k, bands[j], (float)m->gamma,
                       m->transTable[j], 256, 0, l[0], &lo, &hi, nullptr);
        Quantification(m->transTable[j], 256, l[1], l[2]);
    }
}

/*
 * GimgCreateLookup --
 *	Rebuilds the function, dither and transfer tables of m with func and
 *	std from the options' ranges.
 * Results:
 *	1.
 * Side effects:
 *	-low0..2/-high0..2 receive the ranges the stretch used.
 */
int GimgCreateLookup(GimgMaster *m, int func, float std)
{
    std::memset(m->funcTable, 0, sizeof m->funcTable);
    std::memset(m->ditherIndex, 0, sizeof m->ditherIndex);
    for (int c = 0; c < 3; c++) {
        m->low[c] = m->lowOpt[c];
        m->high[c] = m->highOpt[c];
    }
    if (m->palCount)
        createLookup8(m, func, std);
    else
        createLookup24(m, func, std);
    GimgCreateTrans(m, func, std);
    return 1;
}
