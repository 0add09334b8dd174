/*
 * hist.h --
 *
 *	Per-band histogram records of a raster record: running sums, extremes
 *	and, for pixel types of at most 8 bits, value counts; whole-image,
 *	masked and region statistics.
 */
#ifndef VELK_HIST_H
#define VELK_HIST_H

struct RAMImage;

struct Hist {
    double sum;         /* sum of the sampled values */
    double sumSquares;  /* sum of their squares */
    double count;       /* number of sampled values */
    double mean;        /* valid after completeHist */
    double std;         /* valid after completeHist */
    double min;         /* starts at the largest double */
    double max;         /* starts at minus the largest double */
    int valid;          /* 1: complete for the current image contents */
    int nbins;          /* 2 (1BIT), 16 (4BITS), 256 (BYTE), else 0 */
    int *bins;          /* nbins counts, null when nbins is 0 */
};

/* A horizontal run of a region: (x, y) starts it, the end point's x is
 * one past its last column. */
struct HistRunPoint {
    short x, y;
};
struct HistRegion {
    int count;              /* number of runs */
    HistRunPoint *runs;     /* 2 * count points: start, end per run */
};

Hist *createHist(int nbands, int nbins);
void initHist(Hist *h);
void invalidateHist(Hist *h);
void deleteHist(Hist *array, int nbands);
int histBins(int pixel);

void calcHist(Hist *h, int pixel, int count, int step, const void *line);
void calc1BitHist(Hist *h, int count, int step, const unsigned char *line);
void calc4BitsHist(Hist *h, int count, int step, const unsigned char *line);
void calcByteHist(Hist *h, int count, int step, const unsigned char *line);
void calc16IntHist(Hist *h, int count, int step, const short *line);
void calc32IntHist(Hist *h, int count, int step, const int *line);
void calc32FloatHist(Hist *h, int count, int step, const float *line);
void calc16UintHist(Hist *h, int count, int step, const unsigned short *line);
/* Moments and extremes only (no bins) for ULONG and SBYTE. */
void calc32UintHist(Hist *h, int count, int step, const unsigned int *line);
void calc8IntHist(Hist *h, int count, int step, const signed char *line);

void completeHist(Hist *h);
double getHistMean(Hist *h);
double getHistStd(Hist *h);

Hist *ramImageHist(RAMImage *image, int mode, int stepX, int stepY);
int ramImageStats(RAMImage *image, int band, double *stdOut, double *meanOut,
                  double *minOut, double *maxOut);
Hist *ramImageHistWithMask(RAMImage *image, RAMImage *mask, int stepX,
                           int stepY, int rebuild);
Hist *ramImageHistWithROI(RAMImage *image, const HistRegion *region,
                          int rebuild);

#endif
