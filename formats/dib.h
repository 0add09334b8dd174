/*
 * dib.h --
 *
 *	Windows device-independent bitmaps (BMP files) of 1, 4, 8 and 24 bits:
 *	probe, header writer and colour-table update.
 */
#ifndef VELK_DIB_H
#define VELK_DIB_H

struct ImageInfo;

#define DIB_DATA_OFFSET 1080

int imgDIB(int fd, ImageInfo *info);
int initDIBHead(int fd, int create, ImageInfo *info);
int updateDIBIndices(int fd, ImageInfo *info);

#endif
