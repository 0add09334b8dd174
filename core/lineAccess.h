/*
 * lineAccess.h --
 *
 *	All pixel traffic: lines of one band through the record's direct-mapped
 *	line cache, segments, pixel-interleaved access, sections, profiles and
 *	volumes, with byte swapping and conversion between pixel types.
 */
#ifndef VELK_LINEACCESS_H
#define VELK_LINEACCESS_H

#include <cstddef>

#include "ramimg.h"

/* The record's line operations for file and plain memory layouts. */
unsigned char *getRAMImageLine(RAMImage *r, int line, int band, int read);
void flushRAMImageLine(RAMImage *r, int slot);
/* The same for the packed colour memory types MRGB32..MRGB1. */
unsigned char *getRGBRimgLine(RAMImage *r, int line, int band, int read);
void flushRGBRimgLine(RAMImage *r, int slot);
/* Bytes of one packed line of a packed colour type for w columns. */
int packedRGBBlock(int imgid, int columns);

unsigned char *putRAMImageLine(RAMImage *r, int line, int band);
/* The line returned for a line or band outside the image: zeroed on each
 * request, as long as the record's lines; what is written there is lost. */
unsigned char *ramImageScratchLine(RAMImage *r);
void pixelByteSwap(int pixel, int count, void *data);
int getRAMImageVolume(RAMImage *r, int volume);

/* Segments: `count` pixels of one line and band from column `first`. */
void getFloatBILData(RAMImage *r, int line, int first, int count, int band,
                     float *out);
void getByteBILData(RAMImage *r, int line, int first, int count, int band,
                    unsigned char *out);
void getFloatBILDataEx(RAMImage *r, int line, int first, int count, int band,
                       float *out, int stride);
void getByteBILDataEx(RAMImage *r, int line, int first, int count, int band,
                      unsigned char *out, int stride);
void readFloatBILData(RAMImage *r, int line, int first, int count, int band,
                      float *out);
void readByteBILData(RAMImage *r, int line, int first, int count, int band,
                     unsigned char *out);
void putFloatBILData(RAMImage *r, int line, int first, int count, int band,
                     const float *in);
void putByteBILData(RAMImage *r, int line, int first, int count, int band,
                    const unsigned char *in);
void putUSHORTBILData(RAMImage *r, int line, int first, int count, int band,
                      const unsigned short *in);

/* Runs of whole lines of one band as floats, line i at buf + i * stride
 * (host-order FLOAT files move without passing through the cache). */
void readFloatBILLines(RAMImage *r, int line, int n, int band, float *out,
                       size_t stride);
void writeFloatBILLines(RAMImage *r, int line, int n, int band,
                        const float *in, size_t stride);

/* Pixel-interleaved access. */
void readFloatBIPData(RAMImage *r, int line, int first, int count, int step,
                      int nb, const int *bandList, float *out);
void readByteBIPData(RAMImage *r, int line, int first, int count, int step,
                     int nb, const int *bandList, unsigned char *out);
void writeFloatBIPData(RAMImage *r, int line, int first, int count, int nb,
                       const int *bandList, const float *in);
void writeByteBIPData(RAMImage *r, int line, int first, int count, int nb,
                      const int *bandList, const unsigned char *in);
void getFloatBIPData(RAMImage *r, int line, int column, float *out);
void putFloatBIPData(RAMImage *r, int firstBand, int nb, int line, int first,
                     int count, const float *in);
void putByteBIPData(RAMImage *r, int firstBand, int nb, int line, int first,
                    int count, const unsigned char *in);
float getFloatPixelValue(RAMImage *r, int column, int line, int band);

/* Sections and profiles. */
void readFloatBIPSect(RAMImage *r, double x0, double y0, double x1,
                      double y1, int nb, const int *bandList, float *out,
                      int points, int mode);
void writeFloatBIPSect(RAMImage *r, double x0, double y0, double x1,
                       double y1, int nb, const int *bandList,
                       const float *in, int points, int mode);
void getRAMImageProfile(RAMImage *r, double x, double y, int band,
                        double angle, double step, double start, float *out,
                        int points, int mode);

/* Whole-file loaders into a fresh buffer in slot order (exported, unused
 * inside the package).  Each returns the buffer (free() it) or null. */
unsigned char *_RimgReadBSQ(RAMImage *r);
unsigned char *_RimgReadBIL(RAMImage *r);
unsigned char *_RimgReadBIP(RAMImage *r);
unsigned char *_RimgReadDIB(RAMImage *r);
unsigned char *_RimgReadGIF(RAMImage *r);
unsigned char *_RimgReadXBMP(RAMImage *r);

#endif
