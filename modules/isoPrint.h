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

#include "modules/feature.h"

#define ISO_PRIVATE_SIZE 152

/* Bytes of one cluster item for nb bands. */
int isoItemSize(int nb);

/* what: 0 the means, 1 the mean shifts, 2 the sums; other values print
 * "Wrong flag for isoPrint\n" on standard error. */
void isoPrint(Feature *record, int what);
void printISOPrivate(Feature *record);

#endif
