/*
 * interleave.h --
 *
 *	Byte order and interleaving of stored pixel values: the swap between
 *	a file's byte order and the host's, and the distribution of a
 *	pixel-interleaved line into one line per band and back.  Works on
 *	plain buffers; knows nothing of records or files.
 */
#ifndef VELK_INTERLEAVE_H
#define VELK_INTERLEAVE_H

#include <cstdint>

struct ImageInfo;

/* Bytes of one value of a pixel type: 2 for SHORT and USHORT, 4 for LONG,
 * FLOAT and ULONG, 1 for BYTE and SBYTE, 0 for the bit-packed 1BIT and
 * 4BITS (and for unknown types). */
int pixelValueBytes(int pixel);

/* True when the values of an image's file must be swapped to reach host
 * order: multi-byte values whose msbf flag differs from the host's. */
bool pixelSwapNeeded(const ImageInfo *info);

/* Bytes of one pixel-interleaved line of nbands bands: the samples packed
 * one after another, rounded up to whole bytes. */
int64_t interleavedLineBytes(int pixel, int nbands, int columns);

/*
 * putBIPBlockIntoBuf --
 *	Distributes one pixel-interleaved line: value k of band b is sample
 *	k * nbands + b of `block` (bit-packed samples in the order msbf
 *	gives).  bandLines[b] receives `columns` values; a null entry leaves
 *	that band out.  The block must hold interleavedLineBytes bytes.
 */
void putBIPBlockIntoBuf(int pixel, int msbf, int nbands, int columns,
                        const unsigned char *block,
                        unsigned char *const *bandLines);

/*
 * getBIPBlockFromBuf --
 *	The inverse: interleaves the band lines into `block`.  The samples
 *	of a band whose entry is null stay as they are in the block.
 */
void getBIPBlockFromBuf(int pixel, int msbf, int nbands, int columns,
                        const unsigned char *const *bandLines,
                        unsigned char *block);

#endif
