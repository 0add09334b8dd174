/*
 * xbm.h --
 *
 *	X bitmaps (C source text): probe, whole-picture reader and writer.
 */
#ifndef VELK_XBM_H
#define VELK_XBM_H

struct ImageInfo;
struct RAMImage;

int imgXBMP(int fd, ImageInfo *info);
int readXBMP(RAMImage *r);
int writeXBMP(RAMImage *r);
int initXBMP(int fd, ImageInfo *info, const unsigned char *data,
             int rowBytes);

#endif
