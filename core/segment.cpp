/*
 * segment.cpp --
 *
 *	Segment and pixel-interleaved access: `count` pixels of one line from
 *	column `first` (which may be negative), of one band or of several bands
 *	interleaved per pixel, read as floats or bytes and written with the
 *	rounding and clipping of pixelConv.  Every line goes through the
 *	record's getLine; writes mark the line with updateRAMImageLine.
 *	Columns, lines and bands outside the image read as 0 and are not
 *	written.
 */
#include "core/lineAccess.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "core/imgtype.h"
#include "core/pixelConv.h"
#include "core/stdstream.h"

/* Samples j = 0 .. n - 1 sit at columns first + j * step; [*lo, *hi) are
 * the samples inside the image.  step is at least 1. */
static void samplesInside(const RAMImage *r, int first, int n, int step,
                          int *lo, int *hi)
{
    int64_t columns = r->info.columns;
    int64_t begin = first < 0 ? ((int64_t)-first + step - 1) / step : 0;
    int64_t end = first >= columns ? 0
                  : ((columns - 1 - first) / step) + 1;
    *lo = (int)std::min<int64_t>(begin, n);
    *hi = (int)std::max<int64_t>(*lo, std::min<int64_t>(end, n));
}

static bool lineInside(const RAMImage *r, int line, int band)
{
    return line >= 0 && line < r->info.rows && band >= 0
           && band < r->info.nbands;
}

/* Samples of a segment as floats or bytes into out with a stride;
 * everything outside the image gives 0. */
template <typename T, typename D>
static void readSamples(RAMImage *r, int line, int first, int n, int step,
                        int band, T *out, int stride, D decode)
{
    int lo = 0, hi = 0;
    if (lineInside(r, line, band))
        samplesInside(r, first, n, step, &lo, &hi);
    for (int j = 0; j < lo; j++)
        out[(int64_t)j * stride] = 0;
    if (hi > lo) {
        const unsigned char *p = r->getLine(r, line, band, 1);
        decode(p, r->info.pixel, r->info.msbf,
               (int)(first + (int64_t)lo * step), hi - lo, step,
               out + (int64_t)lo * stride, stride);
    }
    for (int j = hi; j < n; j++)
        out[(int64_t)j * stride] = 0;
}

static void readFloats(RAMImage *r, int line, int first, int n, int step,
                       int band, float *out, int stride)
{
    readSamples(r, line, first, n, step, band, out, stride, pixelsToFloat);
}

static void readBytes(RAMImage *r, int line, int first, int n, int step,
                      int band, unsigned char *out, int stride)
{
    readSamples(r, line, first, n, step, band, out, stride, pixelsToByte);
}

/* Stores the part of a segment inside the image with `encode`, reading
 * the line first unless the segment covers all of its bytes (a packed
 * line's pad bits are kept), and marks the line dirty. */
template <typename T, typename E>
static void writeSegment(RAMImage *r, int line, int first, int count,
                         int band, const T *in, E encode)
{
    int lo = 0, hi = 0;
    if (!lineInside(r, line, band) || count <= 0)
        return;
    samplesInside(r, first, count, 1, &lo, &hi);
    if (hi <= lo)
        return;
    int column = first + lo, n = hi - lo;
    int whole = column == 0 && n == r->info.columns
                && (int64_t)n * r->info.bits % 8 == 0;
    unsigned char *p = r->getLine(r, line, band, whole ? 0 : 1);
    encode(p, r->info.pixel, r->info.msbf, column, n, in + lo, 1);
    updateRAMImageLine(r, line, column, n, band);
}

/* ---------------------------------------------------------------------
 * One band
 * --------------------------------------------------------------------- */

/*
 * getFloatBILData, getByteBILData (and the Ex forms with an output
 * stride) --
 *	Read `count` pixels of one line and band from column `first` as
 *	floats or bytes; columns outside the image give 0.
 */
void getFloatBILData(RAMImage *r, int line, int first, int count, int band,
                     float *out)
{
    readFloats(r, line, first, count, 1, band, out, 1);
}

void getByteBILData(RAMImage *r, int line, int first, int count, int band,
                    unsigned char *out)
{
    readBytes(r, line, first, count, 1, band, out, 1);
}

void getFloatBILDataEx(RAMImage *r, int line, int first, int count, int band,
                       float *out, int stride)
{
    readFloats(r, line, first, count, 1, band, out, stride);
}

void getByteBILDataEx(RAMImage *r, int line, int first, int count, int band,
                      unsigned char *out, int stride)
{
    readBytes(r, line, first, count, 1, band, out, stride);
}

/*
 * readFloatBILData, readByteBILData --
 *	As the get operations, but for an image with a palette the stored
 *	value (of band 0) is an index and `band` 0, 1, 2 (taken mod 3) selects
 *	its red, green or blue component; a negative band gives the index.
 *	Columns outside the image give 0.
 */
void readByteBILData(RAMImage *r, int line, int first, int count, int band,
                     unsigned char *out)
{
    if (r->info.nindices < 1) {
        readBytes(r, line, first, count, 1, band, out, 1);
        return;
    }
    readBytes(r, line, first, count, 1, 0, out, 1);
    if (band < 0)
        return;
    int lo = 0, hi = 0;
    if (lineInside(r, line, 0))
        samplesInside(r, first, count, 1, &lo, &hi);
    int component = band % 3;
    for (int j = lo; j < hi; j++)
        out[j] = r->info.palette[out[j]][component];
}

void readFloatBILData(RAMImage *r, int line, int first, int count, int band,
                      float *out)
{
    if (r->info.nindices < 1 || band < 0) {
        readFloats(r, line, first, count, 1, r->info.nindices < 1 ? band : 0,
                   out, 1);
        return;
    }
    unsigned char bytes[1024];
    for (int done = 0; done < count; done += (int)sizeof bytes) {
        int n = std::min(count - done, (int)sizeof bytes);
        readByteBILData(r, line, first + done, n, band, bytes);
        for (int j = 0; j < n; j++)
            out[done + j] = bytes[j];
    }
}

/*
 * putFloatBILData --
 *	Stores `count` floats into one line and band from column `first`,
 *	rounded and clipped to the pixel type; columns outside are dropped.
 * Side effects:
 *	The line is marked dirty.
 */
void putFloatBILData(RAMImage *r, int line, int first, int count, int band,
                     const float *in)
{
    writeSegment(r, line, first, count, band, in, floatToPixels);
}

/*
 * putByteBILData, putUSHORTBILData --
 *	As putFloatBILData for bytes (1BIT non-zero as 1, 4BITS the low
 *	nibble, others widened) and unsigned shorts (narrower types clipped).
 */
void putByteBILData(RAMImage *r, int line, int first, int count, int band,
                    const unsigned char *in)
{
    writeSegment(r, line, first, count, band, in, byteToPixels);
}

void putUSHORTBILData(RAMImage *r, int line, int first, int count, int band,
                      const unsigned short *in)
{
    writeSegment(r, line, first, count, band, in, ushortToPixels);
}

/* ---------------------------------------------------------------------
 * Several bands interleaved per pixel
 * --------------------------------------------------------------------- */

/* Samples of a sampled segment: columns first, first + step, ... below
 * first + count. */
static int sampleCount(int count, int step)
{
    return count > 0 ? (count - 1) / step + 1 : 0;
}

/*
 * readFloatBIPData, readByteBIPData --
 *	Read every `step`-th column of a segment for `nb` bands, interleaved
 *	per output pixel: out[j * nb + k] is band bandList[k] (without a list
 *	band k; for bytes band k mod nbands) of sample j.  Bands that do not
 *	exist give 0.
 */
void readFloatBIPData(RAMImage *r, int line, int first, int count, int step,
                      int nb, const int *bandList, float *out)
{
    step = std::max(step, 1);
    int n = sampleCount(count, step);
    for (int k = 0; k < nb; k++) {
        int band = bandList ? bandList[k] : k;
        readFloats(r, line, first, n, step, band, out + k, nb);
    }
}

void readByteBIPData(RAMImage *r, int line, int first, int count, int step,
                     int nb, const int *bandList, unsigned char *out)
{
    step = std::max(step, 1);
    int n = sampleCount(count, step);
    for (int k = 0; k < nb; k++) {
        int band = bandList ? bandList[k] : k % r->info.nbands;
        readBytes(r, line, first, n, step, band, out + k, nb);
    }
}

/* Writes band `band` of an interleaved segment through a de-interleaved
 * copy, so the single-band writer does the conversion. */
template <typename T, typename W>
static int writeInterleaved(RAMImage *r, int line, int first, int count,
                            int nb, int k, int band, const T *in,
                            std::vector<T> &scratch, W writer)
{
    if (!lineInside(r, line, band) || count <= 0)
        return 1;
    try {
        scratch.resize((size_t)count);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    for (int j = 0; j < count; j++)
        scratch[j] = in[(int64_t)j * nb + k];
    writer(r, line, first, count, band, scratch.data());
    return 1;
}

/*
 * writeFloatBIPData, writeByteBIPData --
 *	Write a segment given as `nb` bands interleaved per pixel: band k of
 *	`in` goes to band bandList[k] (or k) when that band exists.
 * Side effects:
 *	Lines marked dirty.  Out of memory: a message, nothing written.
 */
void writeFloatBIPData(RAMImage *r, int line, int first, int count, int nb,
                       const int *bandList, const float *in)
{
    std::vector<float> scratch;
    for (int k = 0; k < nb; k++)
        if (!writeInterleaved(r, line, first, count, nb, k,
                              bandList ? bandList[k] : k, in, scratch,
                              putFloatBILData)) {
            stderrPrintf("Malloc error in writeFloatBIPData.\n");
            return;
        }
}

void writeByteBIPData(RAMImage *r, int line, int first, int count, int nb,
                      const int *bandList, const unsigned char *in)
{
    std::vector<unsigned char> scratch;
    for (int k = 0; k < nb; k++)
        if (!writeInterleaved(r, line, first, count, nb, k,
                              bandList ? bandList[k] : k, in, scratch,
                              putByteBILData)) {
            stderrPrintf("Malloc error in writeByteBIPData.\n");
            return;
        }
}

/*
 * putFloatBIPData, putByteBIPData --
 *	Write bands firstBand .. firstBand + nb - 1 (those that exist) of a
 *	segment given interleaved with stride nb.
 * Side effects:
 *	Lines marked dirty.  Out of memory: a message, nothing written.
 */
void putFloatBIPData(RAMImage *r, int firstBand, int nb, int line, int first,
                     int count, const float *in)
{
    std::vector<float> scratch;
    for (int k = 0; k < nb && firstBand + k < r->info.nbands; k++)
        if (!writeInterleaved(r, line, first, count, nb, k, firstBand + k,
                              in, scratch, putFloatBILData)) {
            stderrPrintf("Malloc error in putFloatBIPData.\n");
            return;
        }
}

void putByteBIPData(RAMImage *r, int firstBand, int nb, int line, int first,
                    int count, const unsigned char *in)
{
    std::vector<unsigned char> scratch;
    for (int k = 0; k < nb && firstBand + k < r->info.nbands; k++)
        if (!writeInterleaved(r, line, first, count, nb, k, firstBand + k,
                              in, scratch, putByteBILData)) {
            stderrPrintf("Malloc error in putByteBIPData.\n");
            return;
        }
}

/*
 * getFloatBIPData --
 *	All bands of one pixel as floats into out[0 .. nbands - 1].
 */
void getFloatBIPData(RAMImage *r, int line, int column, float *out)
{
    for (int b = 0; b < r->info.nbands; b++)
        readFloats(r, line, column, 1, 1, b, out + b, 1);
}

/*
 * getFloatPixelValue --
 *	One stored value as a float; 0 outside the image.
 */
float getFloatPixelValue(RAMImage *r, int column, int line, int band)
{
    float v;
    readFloats(r, line, column, 1, 1, band, &v, 1);
    return v;
}
