/*
 * pixelConv.h --
 *
 *	Conversion between the values stored in a cached line (any pixel type,
 *	1BIT and 4BITS packed in the order the image's msbf flag gives, wider
 *	values in host order) and the float or byte values callers work with.
 *	The segment, section and histogram code build on these; they know
 *	nothing of records or files.
 */
#ifndef VELK_PIXELCONV_H
#define VELK_PIXELCONV_H

/* Stored values of `n` pixels at columns column, column + step, ... (all
 * inside the line) as floats at out[0], out[stride], ... */
void pixelsToFloat(const unsigned char *line, int pixel, int msbf, int column,
                   int n, int step, float *out, int stride);
/* The same as bytes: 1BIT 0/1, 4BITS 0..15, 8-bit types as stored, wider
 * integers their lowest-addressed byte, FLOAT truncated toward zero, low
 * byte (0 for values no integer holds). */
void pixelsToByte(const unsigned char *line, int pixel, int msbf, int column,
                  int n, int step, unsigned char *out, int stride);
/* One stored value as a float (0 for an unknown pixel type). */
float pixelFloat(const unsigned char *line, int pixel, int msbf, int column);

/* Store `n` values from in[0], in[stride], ... at columns column ...
 * column + n - 1.  Floats are rounded (v + 0.5, truncated toward zero)
 * and clipped to the type; NaN stores 0; 1BIT stores non-zero as 1. */
void floatToPixels(unsigned char *line, int pixel, int msbf, int column,
                   int n, const float *in, int stride);
/* Bytes: 1BIT non-zero as 1, 4BITS the low nibble, the rest widened (SBYTE
 * keeps the byte's bits). */
void byteToPixels(unsigned char *line, int pixel, int msbf, int column,
                  int n, const unsigned char *in, int stride);
/* Unsigned shorts: 1BIT non-zero as 1, narrower types clipped to their
 * largest value, wider types as they are. */
void ushortToPixels(unsigned char *line, int pixel, int msbf, int column,
                    int n, const unsigned short *in, int stride);

/* Float to stored integer with the rounding and clipping of the writers. */
int floatToByte(float v);
int floatTo4Bits(float v);
int floatToShort(float v);
int floatToUShort(float v);
int floatToLong(float v);
unsigned int floatToULong(float v);
int floatToSByte(float v);

#endif
