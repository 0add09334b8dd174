/*
 * dib.h --
 *
 *	Windows device-independent bitmaps (BMP files) of 1, 4, 8 and 24 bits:
 *	probe, header writer and colour-table update.
 */
#ifndef VELK_DIB_H
#define VELK_DIB_H

#include <cstdint>

struct ImageInfo;

#define DIB_DATA_OFFSET 1080

/* The fields of a BMP info header, in host order. */
struct DIBInfoHeader {
    uint32_t size;          /* 40 (Windows 3), 108/124 (V4/V5), 12 (OS/2) */
    int32_t width;
    int32_t height;         /* negative: rows stored top-down */
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;   /* 0: uncompressed */
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;       /* colour-table entries, 0: all 2^bitCount */
    uint32_t clrImportant;
};

int imgDIB(int fd, ImageInfo *info);
/* Maps the bit count to pixel, bits, nbands, nindices and msbf; prints
 * "Error in initDIB_Bi: invalid BitCount." and returns 0 for counts other
 * than 1, 4, 8 and 24, 1 otherwise. */
int initDIB_Bi(ImageInfo *info, const DIBInfoHeader *infoHeader);
/* Converts `count` (blue, green, red, reserved) entries into the palette. */
void initDIB_RGB(ImageInfo *info, const unsigned char *table, int count);
int initDIBHead(int fd, int create, ImageInfo *info);
int updateDIBIndices(int fd, ImageInfo *info);

#endif
