/*
 * isoPrint.h --
 *
 *	The cluster items of "ISOFEATU" feature files and their printers,
 *	shared by the clustering module and `rimage statinfo`.
 *
 *	Item (12 + 16*nb bytes):          Private area (152 bytes):
 *	0        4  samples (int)         0    8  RMS (double)
 *	4        4  count (int)           8    8  DIS (double)
 *	8        4  SRMD2 (float)         16   4  total samples (int)
 *	12+16b   4  mean of band b        20   4  number of classes (int)
 *	16+16b   4  DMEAN of band b       24 128  source text
 *	20+16b   8  SUM of band b (double, not 8-aligned)
 */
#ifndef VELK_ISOPRINT_H
#define VELK_ISOPRINT_H

#include <cstdint>
#include <cstring>

#include "modules/feature.h"

#define ISO_PRIVATE_SIZE 152
#define ISO_SOURCE_SIZE 128

/* Bytes of one cluster item for nb bands. */
int isoItemSize(int nb);

/* Fields of a cluster item, read and written with memcpy (the sums are
 * not 8-byte aligned). */
template <typename T>
static inline T isoField(const unsigned char *item, int offset)
{
    T v;
    std::memcpy(&v, item + offset, sizeof v);
    return v;
}
template <typename T>
static inline void isoSetField(unsigned char *item, int offset, T v)
{
    std::memcpy(item + offset, &v, sizeof v);
}
#define ISO_SAMPLES 0                       /* int32 */
#define ISO_COUNT 4                         /* int32 */
#define ISO_SRMD2 8                         /* float */
#define ISO_MEAN(b) (12 + 16 * (b))         /* float */
#define ISO_DMEAN(b) (16 + 16 * (b))        /* float */
#define ISO_SUM(b) (20 + 16 * (b))          /* double */

/* The private area, as laid out in the file (152 bytes). */
struct IsoPrivate {
    double rms;             /* weighted mean shift of the last pass */
    double dis;             /* excluding distance D */
    int32_t total;          /* samples of the last pass */
    int32_t nclasses;
    char source[ISO_SOURCE_SIZE];   /* input image name */
};
static_assert(sizeof(IsoPrivate) == ISO_PRIVATE_SIZE,
              "the private area is laid out as in the file");

/* what: 0 the means, 1 the mean shifts, 2 the sums; other values print
 * "Wrong flag for isoPrint\n" on standard error. */
void isoPrint(Feature *record, int what);
void printISOPrivate(Feature *record);

#endif
