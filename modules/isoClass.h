/*
 * isoClass.h --
 *
 *	The arithmetic of ISODATA clustering: assignment of pixels to the
 *	nearest class in a distance normalised by each band's scale (with
 *	the hit distance that ends a search early and the excluding
 *	distance that opens a class), the end-of-pass update of a cluster
 *	record, sorting, the speed-up, and the bins of spectral binning.
 *	Buffers in, numbers out: the clustering module (giso.cpp) reads and
 *	writes images, this file computes.
 */
#ifndef VELK_ISOCLASS_H
#define VELK_ISOCLASS_H

#include <cstdint>
#include <vector>

#include "modules/feature.h"

/* Classes of a clustering run during one pass. */
struct IsoClasses {
    int nb;                     /* bands of a pixel vector */
    int maxClasses;             /* NC: classes may open below this */
    float dis;                  /* D: a pixel at least this far opens one */
    float hit;                  /* D / 5: a class this near is taken at once */
    std::vector<float> inv;     /* nb: 1 / scale, 0 for a constant band */
    int count;                  /* classes */
    std::vector<float> mean;    /* count x nb, as stored in the record */
    std::vector<float> scaled;  /* count x nb: mean(b) * inv(b) */
    std::vector<int32_t> samples;   /* count: population of the last pass */
    std::vector<double> sum;    /* count x nb: weighted sums of this pass */
    std::vector<double> pixels; /* count: weight assigned in this pass */
    double hits, finds, total;  /* weights taken by the hit distance, by a
                                 * full search, and in all */
};

/* Figures of an end-of-pass update. */
struct IsoPassResult {
    double rms;                 /* weighted mean shift */
    double wcv;                 /* weighted count stability */
    double cv;                  /* smallest count stability */
    double total;               /* weight of the pass */
};

/* Sets the band scales (a scale of 0 or the largest float contributes
 * nothing) and the distances; no classes. */
void isoSetup(IsoClasses *c, int nb, const double *scale, double dis,
              int maxClasses);
/* Takes the classes of a cluster record (means and samples) for a pass;
 * sums and counters are cleared. */
void isoLoadClasses(IsoClasses *c, Feature *record);
/* Appends a class whose mean is the pixel (nb unscaled values) and whose
 * samples are `samples`.  Results: its index. */
int isoOpenClass(IsoClasses *c, const float *pixel, int32_t samples);

/* Pixels of a block for isoAssignRows, row by row. */
struct IsoRows {
    int rows;                   /* rows in the block */
    int n;                      /* pixels per row */
    const float *values;        /* rows x n x nb, pixel-interleaved */
    const double *weights;      /* rows x n, null: each pixel weighs 1 */
    const int *known;           /* rows x n or null: a class >= 0 found
                                 * beforehand (a table lookup), -1 */
    int *cls;                   /* rows x n out: class, -1 when none (a
                                 * value that is no number) */
};

/*
 * isoAssignRows --
 *	Assigns every pixel of a block in row and pixel order, as if one by
 *	one: classes 0 .. K-1 are searched in order, a class nearer than the
 *	hit distance ends the search, the nearest class wins (a later one
 *	must be strictly nearer); with mayOpen, a pixel at least D from
 *	every class opens a new one while fewer than NC exist.  With
 *	accumulate the pixels' weighted values go into the class sums.  The
 *	search runs on worker threads; the result does not depend on their
 *	number.
 * Results:
 *	1, or 0 when memory runs out.
 */
int isoAssignRows(IsoClasses *c, IsoRows *block, int mayOpen,
                  int accumulate);

/* The squared normalised distance of one pixel (nb unscaled values) to
 * class k, summed in band order in single precision as the search does. */
float isoDistance(const IsoClasses *c, const float *pixel, int k);

/*
 * isoMinCV --
 *	End of a pass: new means from the sums, mean shifts, SRMD2, the
 *	pass's RMS, wcv and cv; classes that took nothing are removed
 *	(unless keep is set) and the others move down; samples become the
 *	pass's counts.  The private area gets RMS, D, total and the class
 *	count.
 * Results:
 *	The resized record (the old pointer is no longer valid), null when
 *	memory runs out.
 */
Feature *isoMinCV(Feature *record, IsoClasses *c, int keep,
                  IsoPassResult *result);

/* Compares the means of two cluster items band by band in the sort
 * order (order[i] = band position); results <0, 0, >0. */
int isoCmp(const unsigned char *a, const unsigned char *b, const int *order,
           int nb);
/* Sorts the classes ascending by isoCmp (equal ones keep their order). */
void isoSort(Feature *record, const int *order);
/* Moves every class mean a further half of its last shift. */
void isoSpeed(Feature *record);

/* Spectral binning: the largest B with B^n <= 8388608. */
int isoBinCount(int n);
/* The bin of a value: round((v - low) / (high - low) * (B - 1)), raised
 * to 0 and lowered to B - 2. */
int isoBin(double v, double low, double high, int B);

#endif
