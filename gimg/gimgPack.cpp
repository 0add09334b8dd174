/*
 * gimgPack.cpp --
 *
 *	The last stages before X: packing channel rows or palette indices
 *	into the pixel layout of the transfer image, and quarter turns of
 *	assembled blocks.  A true-colour layout is described by the visual's
 *	channel masks, so 5-6-5, 8-8-8 in three or four bytes and 10-10-10
 *	screens share one packer built from per-channel tables.
 */
#include <cstring>

#include "gimg/gimgRow.h"

/* Shift and width of a contiguous channel mask. */
static void maskShape(unsigned long mask, int *shift, int *width)
{
    *shift = *width = 0;
    if (mask == 0)
        return;
    while (!(mask & 1)) {
        mask >>= 1;
        ++*shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++*width;
    }
}

/* The bits an 8-bit value contributes to a channel of the mask. */
static void channelTable(uint32_t *table, unsigned long mask, int widen)
{
    int shift, width;
    maskShape(mask, &shift, &width);
    for (unsigned v = 0; v < 256; v++) {
        uint32_t bits;
        if (width <= 8) {
            bits = v >> (8 - width);
        } else {
            bits = v << (width - 8);
            if (widen)      /* repeat the value's bits below it */
                for (int fill = width - 8; fill > 0; fill -= 8)
                    bits |= fill >= 8 ? v << (fill - 8) : v >> (8 - fill);
        }
        table[v] = (uint32_t)((bits << shift) & mask);
    }
}

void gimgPixelFormatInit(GimgPixelFormat *format, int bitsPerPixel,
                         int msbFirst, unsigned long redMask,
                         unsigned long greenMask, unsigned long blueMask,
                         int widen)
{
    format->bytesPerPixel = bitsPerPixel <= 16 ? 2
                            : bitsPerPixel <= 24 ? 3
                                                 : 4;
    format->msbFirst = msbFirst;
    channelTable(format->red, redMask, widen);
    channelTable(format->green, greenMask, widen);
    channelTable(format->blue, blueMask, widen);
}

/* One pixel value in `bytes` bytes of the given order. */
static inline void storePixel(unsigned char *p, uint32_t v, int bytes,
                              int msbFirst)
{
    if (msbFirst)
        for (int i = bytes - 1; i >= 0; i--, v >>= 8)
            p[i] = (unsigned char)v;
    else
        for (int i = 0; i < bytes; i++, v >>= 8)
            p[i] = (unsigned char)v;
}

/*
 * gimgPackRow --
 *	See gimgRow.h.  The usual little-endian layouts get loops of their
 *	own: this is the per-pixel cost of every true-colour redraw.
 */
void gimgPackRow(const GimgPixelFormat *format, int n,
                 const unsigned char *red, const unsigned char *green,
                 const unsigned char *blue, unsigned char *out)
{
    const uint32_t *rt = format->red, *gt = format->green,
                   *bt = format->blue;
    if (!format->msbFirst && format->bytesPerPixel == 4) {
        for (int x = 0; x < n; x++) {
            uint32_t v = rt[red[x]] | gt[green[x]] | bt[blue[x]];
            std::memcpy(out + 4 * (size_t)x, &v, 4);
        }
    } else if (!format->msbFirst && format->bytesPerPixel == 2) {
        for (int x = 0; x < n; x++) {
            uint16_t v = (uint16_t)(rt[red[x]] | gt[green[x]] | bt[blue[x]]);
            std::memcpy(out + 2 * (size_t)x, &v, 2);
        }
    } else {
        int bytes = format->bytesPerPixel;
        for (int x = 0; x < n; x++)
            storePixel(out + (size_t)bytes * x,
                       rt[red[x]] | gt[green[x]] | bt[blue[x]], bytes,
                       format->msbFirst);
    }
}

void gimgPackIndexRow(int n, const unsigned char *index,
                      const unsigned long *palette, int bitsPerPixel,
                      int msbFirst, int bitMsbFirst, unsigned char *out)
{
    switch (bitsPerPixel) {
    case 1:
    case 4: {
        int perByte = 8 / bitsPerPixel;
        std::memset(out, 0, (size_t)(n + perByte - 1) / perByte);
        unsigned mask = (1u << bitsPerPixel) - 1;
        for (int x = 0; x < n; x++) {
            int slot = x % perByte;
            int shift = bitMsbFirst ? 8 - bitsPerPixel * (slot + 1)
                                    : bitsPerPixel * slot;
            out[x / perByte] |= (unsigned char)((palette[index[x]] & mask)
                                                << shift);
        }
        break;
    }
    case 8:
        for (int x = 0; x < n; x++)
            out[x] = (unsigned char)palette[index[x]];
        break;
    default: {
        int bytes = bitsPerPixel <= 16 ? 2 : bitsPerPixel <= 24 ? 3 : 4;
        for (int x = 0; x < n; x++)
            storePixel(out + (size_t)bytes * x, (uint32_t)palette[index[x]],
                       bytes, msbFirst);
    }
    }
}

/* ---------------------------------------------------------------------
 * Quarter turns
 * --------------------------------------------------------------------- */

template <int Bytes>
static void turnLeft(const unsigned char *src, int srcStride, int rows,
                     int columns, unsigned char *dst, int dstStride)
{
    for (int i = 0; i < rows; i++) {
        const unsigned char *s = src + (size_t)i * srcStride;
        unsigned char *d = dst + (size_t)(columns - 1) * dstStride
                           + (size_t)i * Bytes;
        for (int j = 0; j < columns; j++, s += Bytes, d -= dstStride)
            std::memcpy(d, s, Bytes);
    }
}

template <int Bytes>
static void turnRight(const unsigned char *src, int srcStride, int rows,
                      int columns, unsigned char *dst, int dstStride)
{
    for (int i = 0; i < rows; i++) {
        const unsigned char *s = src + (size_t)i * srcStride;
        unsigned char *d = dst + (size_t)(rows - 1 - i) * Bytes;
        for (int j = 0; j < columns; j++, s += Bytes, d += dstStride)
            std::memcpy(d, s, Bytes);
    }
}

void rotateByteLeft(const unsigned char *src, int srcStride, int rows,
                    int columns, unsigned char *dst, int dstStride)
{
    turnLeft<1>(src, srcStride, rows, columns, dst, dstStride);
}

void rotateByteRight(const unsigned char *src, int srcStride, int rows,
                     int columns, unsigned char *dst, int dstStride)
{
    turnRight<1>(src, srcStride, rows, columns, dst, dstStride);
}

void rotateShortLeft(const unsigned char *src, int srcStride, int rows,
                     int columns, unsigned char *dst, int dstStride)
{
    turnLeft<2>(src, srcStride, rows, columns, dst, dstStride);
}

void rotateShortRight(const unsigned char *src, int srcStride, int rows,
                      int columns, unsigned char *dst, int dstStride)
{
    turnRight<2>(src, srcStride, rows, columns, dst, dstStride);
}

void rotateRGBLeft(const unsigned char *src, int srcStride, int rows,
                   int columns, unsigned char *dst, int dstStride,
                   int bytesPerPixel)
{
    if (bytesPerPixel == 3)
        turnLeft<3>(src, srcStride, rows, columns, dst, dstStride);
    else
        turnLeft<4>(src, srcStride, rows, columns, dst, dstStride);
}

void rotateRGBRight(const unsigned char *src, int srcStride, int rows,
                    int columns, unsigned char *dst, int dstStride,
                    int bytesPerPixel)
{
    if (bytesPerPixel == 3)
        turnRight<3>(src, srcStride, rows, columns, dst, dstStride);
    else
        turnRight<4>(src, srcStride, rows, columns, dst, dstStride);
}
