/*
 * jpeg.h --
 *
 *	JPEG images read and written whole through libjpeg; the encoding
 *	quality travels in the record's block field.
 */
#ifndef VELK_JPEG_H
#define VELK_JPEG_H

struct ImageInfo;
struct RAMImage;

int imgJPEG(int fd, ImageInfo *info);
int readJPEG(RAMImage *r);
int writeJPEG(RAMImage *r);
int loadJPEG(int fd, unsigned char *lines, int lineBytes);
int dumpJPEG(int fd, int columns, int rows, int bands, int quality,
             const unsigned char *lines, int lineBytes);
int initJPEG(int fd, ImageInfo *info);

#endif
