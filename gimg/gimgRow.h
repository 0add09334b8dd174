/*
 * gimgRow.h --
 *
 *	The stages of the renderer over one row buffer, none of which touches
 *	X: sampling a source row through the horizontal display port into
 *	display values, the sharpen/edge/emboss/smooth filter, grey
 *	combination, error-diffusion dithering onto palette indices, packing
 *	into the pixel layout of a transfer image, and quarter turns of
 *	assembled blocks.  gimgRender.cpp chains them and puts the result.
 */
#ifndef VELK_GIMGROW_H
#define VELK_GIMGROW_H

#include <cstdint>

struct RAMImage;

/* Display values of screen columns 0..width-1 from one stored line (the
 * line access's layout: host order, 1BIT/4BITS packed as msbf says):
 * columns first..last-1 show image column xmap[x], the others the value
 * 0.  8-bit and narrower types give their value; wider types are scaled
 * from low..high onto 0..255.  The value goes through table when given. */
void gimgSampleRow(const unsigned char *line, int pixel, int msbf,
                   const int *xmap, int first, int last, int width,
                   double low, double high, const unsigned char *table,
                   unsigned char *out);

/* The same for image row `row` of `band` read through the record's line
 * operation: with the function table (getDataForDisp), or the scaled
 * value itself and 0 outside the image (getDataForDisplay). */
void getDataForDisp(RAMImage *record, int row, int band, const int *xmap,
                    int first, int last, int width, double low, double high,
                    const unsigned char *table, unsigned char *out);
void getDataForDisplay(RAMImage *record, int row, int band, const int *xmap,
                       int first, int last, int width, double low,
                       double high, unsigned char *out);

/* In-place filter of one channel row of n values; previousRow holds the
 * unfiltered row above and receives this row unfiltered (on the first row
 * it is filled from the row itself).  background < 0 embosses, a negative
 * strength smooths, otherwise direction 1..4 picks an edge (0 sharpens).
 * Returns row. */
unsigned char *filter4(int n, unsigned char *row, unsigned char *previousRow,
                       double strength, int background, int firstRow,
                       int direction);

/* The mean of the three channel rows (sum / count, integer division). */
void gimgGreyRow(int n, const unsigned char *c0, const unsigned char *c1,
                 const unsigned char *c2, int count, unsigned char *out);

/* Adds one channel's palette-index contribution indexTable[v] to
 * indexRow, v being functionTable[values[x]] plus diffused residuals of
 * `method` (0 none, 1 alternate left/above, 2 left and above, 3 with
 * above-left, others with above-left and above-right).  errorRow has
 * n + 2 entries and carries residuals from row to row. */
void dithering3(int n, unsigned char *indexRow, const unsigned char *values,
                const unsigned char *functionTable,
                const unsigned char *indexTable,
                const signed char *residualTable, signed char *errorRow,
                int method, int oddRow);

/* How a true-colour transfer image stores a pixel: bytes per pixel, byte
 * order, and per channel value the bits it contributes (the channel's
 * mask filled with the value's top bits; with `widen`, channels wider than
 * 8 bits repeat the value's bits so that 255 fills the channel). */
struct GimgPixelFormat {
    int bytesPerPixel;      /* 2, 3 or 4 */
    int msbFirst;           /* 1: most significant byte first */
    uint32_t red[256], green[256], blue[256];
};
void gimgPixelFormatInit(GimgPixelFormat *format, int bitsPerPixel,
                         int msbFirst, unsigned long redMask,
                         unsigned long greenMask, unsigned long blueMask,
                         int widen);
/* n pixels of channel rows red, green, blue packed into out. */
void gimgPackRow(const GimgPixelFormat *format, int n,
                 const unsigned char *red, const unsigned char *green,
                 const unsigned char *blue, unsigned char *out);
/* n palette indices packed as the pixels palette[index] for a transfer
 * image of bitsPerPixel 1, 4, 8, 16 or 32 (bits of 1 and 4 in the given
 * bit order, whole bytes in the given byte order). */
void gimgPackIndexRow(int n, const unsigned char *index,
                      const unsigned long *palette, int bitsPerPixel,
                      int msbFirst, int bitMsbFirst, unsigned char *out);

/* Quarter turns of a block of `rows` rows of `columns` pixels (srcStride
 * bytes apart) into dst (dstStride bytes per row, `rows` pixels wide and
 * `columns` rows high).  Left: pixel j of row i goes to row columns-1-j,
 * column i.  Right: to row j, column rows-1-i. */
void rotateByteLeft(const unsigned char *src, int srcStride, int rows,
                    int columns, unsigned char *dst, int dstStride);
void rotateByteRight(const unsigned char *src, int srcStride, int rows,
                     int columns, unsigned char *dst, int dstStride);
void rotateShortLeft(const unsigned char *src, int srcStride, int rows,
                     int columns, unsigned char *dst, int dstStride);
void rotateShortRight(const unsigned char *src, int srcStride, int rows,
                      int columns, unsigned char *dst, int dstStride);
/* Pixels of 3 or 4 bytes. */
void rotateRGBLeft(const unsigned char *src, int srcStride, int rows,
                   int columns, unsigned char *dst, int dstStride,
                   int bytesPerPixel);
void rotateRGBRight(const unsigned char *src, int srcStride, int rows,
                    int columns, unsigned char *dst, int dstStride,
                    int bytesPerPixel);

#endif
