/*
 * hist.cpp --
 *
 *	Histogram records of a raster record, one per band: running sums,
 *	extremes and, for 1BIT, 4BITS and BYTE, value counts.  The calc...Hist
 *	family adds one line of a pixel type; ramImageHist walks the image in
 *	the order of its file layout; the mask and region variants restrict
 *	the pixels counted.  Lines come through the record's getLine and the
 *	segment readers (lineAccess.h).
 *
 *	The counting routines use fixed packing orders (1BIT: pixel i is bit
 *	i % 8 from the least significant bit; 4BITS: the even pixel is the
 *	high nibble).  ramImageHist hands them lines repacked to those orders
 *	when the image's msbf flag packs the other way, so the counts are of
 *	the pixels the line access shows.
 */
#include "core/hist.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "core/stdstream.h"

/* ---------------------------------------------------------------------
 * Records
 * --------------------------------------------------------------------- */

int histBins(int pixel)
{
    switch (pixel) {
    case PIXEL_1BIT: return 2;
    case PIXEL_4BITS: return 16;
    case PIXEL_BYTE: return 256;
    default: return 0;
    }
}

/*
 * createHist --
 *	An array of nbands records in the starting state, each with nbins
 *	zeroed bins (none when nbins is 0).
 * Results:
 *	The array (release with deleteHist), or null when memory is short.
 */
Hist *createHist(int nbands, int nbins)
{
    if (nbands < 1 || nbins < 0)
        return nullptr;
    Hist *array = static_cast<Hist *>(std::calloc((size_t)nbands,
                                                  sizeof(Hist)));
    if (!array)
        return nullptr;
    for (int b = 0; b < nbands; b++) {
        if (nbins > 0) {
            array[b].bins = static_cast<int *>(std::calloc((size_t)nbins,
                                                           sizeof(int)));
            if (!array[b].bins) {
                deleteHist(array, b);
                return nullptr;
            }
        }
        array[b].nbins = nbins;
        initHist(&array[b]);
    }
    return array;
}

/*
 * initHist --
 *	Back to the starting state: sums 0, extremes at their starting
 *	values, not valid, bins zeroed.
 */
void initHist(Hist *h)
{
    h->sum = h->sumSquares = h->count = 0;
    h->mean = h->std = 0;
    h->min = DBL_MAX;
    h->max = -DBL_MAX;
    h->valid = 0;
    if (h->bins)
        std::memset(h->bins, 0, (size_t)h->nbins * sizeof(int));
}

void invalidateHist(Hist *h)
{
    h->valid = 0;
}

void deleteHist(Hist *array, int nbands)
{
    if (!array)
        return;
    for (int b = 0; b < nbands; b++)
        std::free(array[b].bins);
    std::free(array);
}

/*
 * completeHist, getHistMean, getHistStd --
 *	Derive mean and standard deviation from the sums (std 0 when the
 *	variance is not positive); the getters return them.
 */
void completeHist(Hist *h)
{
    h->mean = h->sum / h->count;
    double variance = h->sumSquares / h->count - h->mean * h->mean;
    h->std = variance > 0 ? std::sqrt(variance) : 0;
}

double getHistMean(Hist *h)
{
    completeHist(h);
    return h->mean;
}

double getHistStd(Hist *h)
{
    completeHist(h);
    return h->std;
}

/* ---------------------------------------------------------------------
 * Adding a line: samples 0, step, 2 step, ... below count
 * --------------------------------------------------------------------- */

/* Samples of a line of `count` pixels; a step below 1 becomes 1. */
static int samplesOf(int count, int *step)
{
    *step = std::max(*step, 1);
    return count > 0 ? (count - 1) / *step + 1 : 0;
}

/* Folds per-value counts into the record: every counted value is a
 * sample. */
template <typename C>
static void addCounts(Hist *h, const C *counts, int nvalues)
{
    int64_t sum = 0, squares = 0, n = 0;
    for (int v = 0; v < nvalues; v++) {
        if (!counts[v])
            continue;
        int64_t k = (int64_t)counts[v];
        n += k;
        sum += v * k;
        squares += (int64_t)v * v * k;
        if (v < h->min)
            h->min = v;
        if (v > h->max)
            h->max = v;
        if (h->bins && v < h->nbins)
            h->bins[v] += (int)k;
    }
    h->sum += (double)sum;
    h->sumSquares += (double)squares;
    h->count += (double)n;
}

/* Per-value counts of byte samples, in four tables so that runs of one
 * value do not serialise on a single counter. */
template <typename C>
struct ByteTally {
    C t[4][256];
};

template <typename C>
static void tallyBytes(ByteTally<C> &tally, const unsigned char *line, int n,
                       int step)
{
    C (*t)[256] = tally.t;
    if (step == 1) {
        int i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, line + i, 8);
            t[0][w & 0xFF]++;
            t[1][(w >> 8) & 0xFF]++;
            t[2][(w >> 16) & 0xFF]++;
            t[3][(w >> 24) & 0xFF]++;
            t[0][(w >> 32) & 0xFF]++;
            t[1][(w >> 40) & 0xFF]++;
            t[2][(w >> 48) & 0xFF]++;
            t[3][w >> 56]++;
        }
        for (; i < n; i++)
            t[0][line[i]]++;
    } else {
        const unsigned char *p = line;
        for (int i = 0; i < n; i++, p += step)
            t[0][*p]++;
    }
}

template <typename C>
static void foldTally(Hist *h, ByteTally<C> &tally)
{
    C (*t)[256] = tally.t;
    for (int v = 0; v < 256; v++)
        t[0][v] += t[1][v] + t[2][v] + t[3][v];
    addCounts(h, t[0], 256);
}

void calcByteHist(Hist *h, int count, int step, const unsigned char *line)
{
    int n = samplesOf(count, &step);
    ByteTally<uint32_t> tally;
    std::memset(&tally, 0, sizeof tally);
    tallyBytes(tally, line, n, step);
    foldTally(h, tally);
}

void calc1BitHist(Hist *h, int count, int step, const unsigned char *line)
{
    int n = samplesOf(count, &step);
    if (n == 0)
        return;
    uint32_t counts[2] = {0, 0};
    int i = 0;
    if (step == 1) {
        for (; i + 8 <= n; i += 8)
            counts[1] += (uint32_t)__builtin_popcount(line[i >> 3]);
    }
    for (int64_t x = (int64_t)i * step; i < n; i++, x += step)
        counts[1] += (line[x >> 3] >> (x & 7)) & 1;
    counts[0] = (uint32_t)n - counts[1];
    addCounts(h, counts, 2);
}

void calc4BitsHist(Hist *h, int count, int step, const unsigned char *line)
{
    int n = samplesOf(count, &step);
    if (n == 0)
        return;
    uint32_t counts[16] = {};
    int64_t x = 0;
    for (int i = 0; i < n; i++, x += step)
        counts[(line[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F]++;
    addCounts(h, counts, 16);
}

/* Integer types up to 16 bits: exact 64-bit sums per line.  U is the
 * accumulator of the squares (unsigned for USHORT, whose squares need
 * the 64th bit on very long lines). */
template <typename T, typename U>
static void addNarrowIntegers(Hist *h, int count, int step, const T *line)
{
    int n = samplesOf(count, &step);
    if (n == 0)
        return;
    int lo = line[0], hi = line[0];
    int64_t sum = 0;
    U squares = 0;
    const T *p = line;
    for (int i = 0; i < n; i++, p += step) {
        int v = *p;
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
        squares += (U)((int64_t)v * v);
    }
    h->min = std::min(h->min, (double)lo);
    h->max = std::max(h->max, (double)hi);
    h->sum += (double)sum;
    h->sumSquares += (double)squares;
    h->count += n;
}

/* 32-bit and float types: sums in double.  NaN values of FLOAT lines are
 * not samples: they are neither summed nor counted. */
template <typename T>
static void addWideValues(Hist *h, int count, int step, const T *line)
{
    int n = samplesOf(count, &step);
    int skipped = 0;
    double lo = h->min, hi = h->max, sum = 0, squares = 0;
    const T *p = line;
    for (int i = 0; i < n; i++, p += step) {
        double v = *p;
        if (std::isnan(v)) {
            skipped++;
            continue;
        }
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        sum += v;
        squares += v * v;
    }
    h->min = lo;
    h->max = hi;
    h->sum += sum;
    h->sumSquares += squares;
    h->count += n - skipped;
}

void calc16IntHist(Hist *h, int count, int step, const short *line)
{
    addNarrowIntegers<short, int64_t>(h, count, step, line);
}

void calc16UintHist(Hist *h, int count, int step, const unsigned short *line)
{
    addNarrowIntegers<unsigned short, uint64_t>(h, count, step, line);
}

void calc8IntHist(Hist *h, int count, int step, const signed char *line)
{
    addNarrowIntegers<signed char, int64_t>(h, count, step, line);
}

void calc32IntHist(Hist *h, int count, int step, const int *line)
{
    addWideValues(h, count, step, line);
}

void calc32UintHist(Hist *h, int count, int step, const unsigned int *line)
{
    addWideValues(h, count, step, line);
}

void calc32FloatHist(Hist *h, int count, int step, const float *line)
{
    addWideValues(h, count, step, line);
}

/*
 * calcHist --
 *	Adds one line of the given pixel type to the record, sampling every
 *	step-th of `count` pixels.  Unknown pixel types add nothing.
 */
void calcHist(Hist *h, int pixel, int count, int step, const void *line)
{
    switch (pixel) {
    case PIXEL_1BIT:
        calc1BitHist(h, count, step, static_cast<const unsigned char *>(line));
        break;
    case PIXEL_4BITS:
        calc4BitsHist(h, count, step, static_cast<const unsigned char *>(line));
        break;
    case PIXEL_BYTE:
        calcByteHist(h, count, step, static_cast<const unsigned char *>(line));
        break;
    case PIXEL_SBYTE:
        calc8IntHist(h, count, step, static_cast<const signed char *>(line));
        break;
    case PIXEL_SHORT:
        calc16IntHist(h, count, step, static_cast<const short *>(line));
        break;
    case PIXEL_USHORT:
        calc16UintHist(h, count, step,
                       static_cast<const unsigned short *>(line));
        break;
    case PIXEL_LONG:
        calc32IntHist(h, count, step, static_cast<const int *>(line));
        break;
    case PIXEL_ULONG:
        calc32UintHist(h, count, step, static_cast<const unsigned int *>(line));
        break;
    case PIXEL_FLOAT:
        calc32FloatHist(h, count, step, static_cast<const float *>(line));
        break;
    default:
        break;
    }
}

/* ---------------------------------------------------------------------
 * Whole images
 * --------------------------------------------------------------------- */

static bool allValid(const RAMImage *image)
{
    for (int b = 0; b < image->info.nbands; b++)
        if (!image->histograms[b].valid)
            return false;
    return true;
}

/* The image's array, dropped first when `rebuild`, created when missing;
 * bands not valid are reset so that they are counted afresh. */
static Hist *prepareHist(RAMImage *image, int rebuild)
{
    int nbands = image->info.nbands;
    if (rebuild && image->histograms) {
        deleteHist(image->histograms, nbands);
        image->histograms = nullptr;
    }
    if (!image->histograms)
        image->histograms = createHist(nbands, histBins(image->info.pixel));
    Hist *h = image->histograms;
    if (h)
        for (int b = 0; b < nbands; b++)
            if (!h[b].valid)
                initHist(&h[b]);
    return h;
}

static void markValid(RAMImage *image)
{
    for (int b = 0; b < image->info.nbands; b++)
        image->histograms[b].valid = 1;
}

/* Bit-reversed bytes, to repack msbf 1BIT lines for calc1BitHist. */
static const unsigned char *bitReversed(void)
{
    static unsigned char table[256];
    static bool built = false;
    if (!built) {
        for (int v = 0; v < 256; v++) {
            int r = 0;
            for (int bit = 0; bit < 8; bit++)
                if (v & (1 << bit))
                    r |= 0x80 >> bit;
            table[v] = (unsigned char)r;
        }
        built = true;
    }
    return table;
}

/* ramImageHist's walk over an image: scratch for repacked lines, and
 * for BYTE images one tally per band, folded in when the walk ends. */
struct HistWalk {
    RAMImage *image;
    Hist *h;
    int stepX;
    std::vector<unsigned char> scratch;
    std::vector<ByteTally<uint64_t>> tallies;
};

/* Adds line y of band b, repacking 1BIT and 4BITS lines to the counting
 * routines' orders when the image packs them the other way. */
static void walkLine(HistWalk &w, int y, int b)
{
    RAMImage *image = w.image;
    const unsigned char *p = image->getLine(image, y, b, 1);
    int pixel = image->info.pixel, msbf = image->info.msbf;
    if (pixel == PIXEL_BYTE) {
        int step = w.stepX;
        int n = samplesOf(image->info.columns, &step);
        tallyBytes(w.tallies[b], p, n, step);
        return;
    }
    if ((pixel == PIXEL_1BIT && msbf) || (pixel == PIXEL_4BITS && !msbf)) {
        const unsigned char *reverse = bitReversed();
        for (int i = 0; i < image->lineBytes; i++)
            w.scratch[i] = pixel == PIXEL_1BIT
                               ? reverse[p[i]]
                               : (unsigned char)((p[i] << 4) | (p[i] >> 4));
        p = w.scratch.data();
    }
    calcHist(&w.h[b], pixel, image->info.columns, w.stepX, p);
}

/*
 * ramImageHist --
 *	The histograms of every band of the image, sampling every stepX-th
 *	column of every stepY-th line.  Mode 0 returns a complete array as it
 *	is; mode 2 recomputes from scratch; otherwise bands not valid are
 *	computed.  FFT images take their figures from the file header.
 * Results:
 *	The image's array (owned by the image), or null when memory is short.
 * Side effects:
 *	Lines are read through the cache, band-sequential files band by band.
 */
Hist *ramImageHist(RAMImage *image, int mode, int stepX, int stepY)
{
    if (!image)
        return nullptr;
    if (mode == 0 && image->histograms && allValid(image))
        return image->histograms;
    Hist *h = prepareHist(image, mode == 2);
    if (!h)
        return nullptr;
    if (imgHist(image->fd, &image->info, h)) {
        markValid(image);
        return h;
    }
    const ImageInfo &info = image->info;
    HistWalk w = {image, h, std::max(stepX, 1), {}, {}};
    try {
        w.scratch.resize((size_t)image->lineBytes);
        if (info.pixel == PIXEL_BYTE)
            w.tallies.resize((size_t)info.nbands);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    stepY = std::max(stepY, 1);
    if (info.imgid == IMG_BSQ || info.imgid == IMG_E74BSQ) {
        for (int b = 0; b < info.nbands; b++)
            if (!h[b].valid)
                for (int y = 0; y < info.rows; y += stepY)
                    walkLine(w, y, b);
    } else {
        for (int y = 0; y < info.rows; y += stepY)
            for (int b = 0; b < info.nbands; b++)
                if (!h[b].valid)
                    walkLine(w, y, b);
    }
    for (size_t b = 0; b < w.tallies.size(); b++)
        if (!h[b].valid)
            foldTally(&h[b], w.tallies[b]);
    markValid(image);
    return h;
}

/*
 * ramImageStats --
 *	Mean, standard deviation, minimum and maximum of one band (band mod
 *	nbands; a negative band is 0).  For an image with a palette and value
 *	bins, of palette component band mod 3 of the pixel values, the
 *	extremes over the values present.  Any output may be null.
 * Results:
 *	1, or 0 when no histogram can be had (outputs unchanged).
 * Side effects:
 *	Computes the image's histograms when that band's (or band 0's) is not
 *	valid.
 */
int ramImageStats(RAMImage *image, int band, double *stdOut, double *meanOut,
                  double *minOut, double *maxOut)
{
    if (!image)
        return 0;
    /* Only the band asked for is checked: a caller listing every band of
     * an image of many thousand bands must not pay for all of them on
     * each call. */
    int nbands = std::max(image->info.nbands, 1);
    Hist *array = image->histograms;
    if (!array || !array[std::max(band, 0) % nbands].valid
            || !array[0].valid)
        array = ramImageHist(image, 0, 1, 1);
    if (!array)
        return 0;
    double mean, std, lo, hi;
    if (image->info.nindices < 1 || band < 0 || !array[0].bins) {
        Hist *h = &array[std::max(band, 0) % image->info.nbands];
        completeHist(h);
        mean = h->mean;
        std = h->std;
        lo = h->min;
        hi = h->max;
    } else {
        const Hist *h = &array[0];
        int component = band % 3;
        double sum = 0, squares = 0;
        lo = DBL_MAX;
        hi = -DBL_MAX;
        for (int k = 0; k < h->nbins; k++) {
            if (!h->bins[k])
                continue;
            double p = image->info.palette[k][component];
            sum += p * h->bins[k];
            squares += p * p * h->bins[k];
            lo = std::min(lo, p);
            hi = std::max(hi, p);
        }
        mean = sum / h->count;
        double variance = squares / h->count - mean * mean;
        std = variance > 0 ? std::sqrt(variance) : 0;
    }
    if (stdOut)
        *stdOut = std;
    if (meanOut)
        *meanOut = mean;
    if (minOut)
        *minOut = lo;
    if (maxOut)
        *maxOut = hi;
    return 1;
}

/* Scratch of the mask and region variants: the columns selected on a
 * line, the line's values, and the mask line. */
struct Selection {
    std::vector<int> columns;
    std::vector<float> floats;
    std::vector<unsigned char> bytes;
    std::vector<unsigned char> mask;
};

/* Sizes the scratch for the image and prepares its array (see
 * prepareHist).  Returns null, with the message, when memory is short. */
static Hist *prepareSelection(RAMImage *image, int rebuild, Selection &s)
{
    size_t columns = (size_t)image->info.columns;
    Hist *h = nullptr;
    try {
        s.columns.reserve(columns);
        s.floats.resize(columns);
        s.bytes.resize(columns);
        s.mask.resize(columns);
        h = prepareHist(image, rebuild);
    } catch (const std::bad_alloc &) {
    }
    if (!h)
        stderrPrintf("Error in ramImageHistWithMask - malloc...\n");
    return h;
}

/* Adds the values of band b at the selected columns of the segment
 * (first, count) of line y: as floats for pixel types wider than 8 bits
 * (and SBYTE), else as bytes. */
static void addSelected(RAMImage *image, Hist *h, int y, int b, int first,
                        int count, Selection &s)
{
    int n = (int)s.columns.size();
    if (image->info.bits > 8 || image->info.pixel == PIXEL_SBYTE) {
        getFloatBILData(image, y, first, count, b, s.floats.data());
        for (int i = 0; i < n; i++)
            s.floats[i] = s.floats[s.columns[i]];
        calc32FloatHist(h, n, 1, s.floats.data());
    } else {
        getByteBILData(image, y, first, count, b, s.bytes.data());
        for (int i = 0; i < n; i++)
            s.bytes[i] = s.bytes[s.columns[i]];
        calcByteHist(h, n, 1, s.bytes.data());
    }
}

/*
 * ramImageHistWithMask --
 *	Histograms of the pixels at every stepX-th column of every stepY-th
 *	line where band 0 of `mask` is non-zero.  With `rebuild` the image's
 *	array is dropped first; bands still valid are kept as they are.
 * Results:
 *	The image's array, or null (with a message) when memory is short.
 */
Hist *ramImageHistWithMask(RAMImage *image, RAMImage *mask, int stepX,
                           int stepY, int rebuild)
{
    if (!image || !mask)
        return nullptr;
    stepX = std::max(stepX, 1);
    stepY = std::max(stepY, 1);
    Selection s;
    Hist *h = prepareSelection(image, rebuild, s);
    if (!h)
        return nullptr;
    int columns = image->info.columns;
    for (int y = 0; y < image->info.rows; y += stepY) {
        getByteBILData(mask, y, 0, columns, 0, s.mask.data());
        s.columns.clear();
        for (int x = 0; x < columns; x += stepX)
            if (s.mask[x])
                s.columns.push_back(x);
        if (s.columns.empty())
            continue;
        for (int b = 0; b < image->info.nbands; b++)
            if (!h[b].valid)
                addSelected(image, &h[b], y, b, 0, columns, s);
    }
    markValid(image);
    return h;
}

/*
 * ramImageHistWithROI --
 *	Histograms of the pixels on the runs of a region: run i covers
 *	columns runs[2i].x up to, not including, runs[2i+1].x on row
 *	runs[2i].y, clipped to the image (runs on rows outside are skipped).
 *	With `rebuild` the image's array is dropped first; bands still valid
 *	are kept as they are.
 * Results:
 *	The image's array, or null (with a message) when memory is short.
 */
Hist *ramImageHistWithROI(RAMImage *image, const HistRegion *region,
                          int rebuild)
{
    if (!image || !region)
        return nullptr;
    Selection s;
    Hist *h = prepareSelection(image, rebuild, s);
    if (!h)
        return nullptr;
    for (int i = 0; i < region->count; i++) {
        const HistRunPoint &from = region->runs[2 * i];
        int row = from.y;
        int start = std::max((int)from.x, 0);
        int end = std::min((int)region->runs[2 * i + 1].x,
                           image->info.columns);
        if (row < 0 || row >= image->info.rows || start >= end)
            continue;
        s.columns.resize((size_t)(end - start));
        for (int x = 0; x < end - start; x++)
            s.columns[x] = x;
        for (int b = 0; b < image->info.nbands; b++)
            if (!h[b].valid)
                addSelected(image, &h[b], row, b, start, end - start, s);
    }
    markValid(image);
    return h;
}
