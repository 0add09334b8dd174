/*
 * gstat.h --
 *
 *	The statistics module (`rimage gstat`): mean vector and population
 *	covariance of chosen bands over a window, optionally only where a
 *	mask has a given value, pooled into a named item of a "STATFTUR"
 *	feature file; and the accumulators it and other modules pool with.
 */
#ifndef VELK_GSTAT_H
#define VELK_GSTAT_H

#include "core/ramimg.h"
#include "modules/feature.h"

/* Module entry: 2 usage printed, 1 success, 0 failure. */
int statRimgAp(const char *command, int argc, const char **argv);

/* Parameters of one collection. */
struct StatParams {
    const char *command;    /* for messages */
    RAMImage *image;
    RAMImage *mask;         /* null: every pixel counts */
    long maskId;            /* mask value of the counted pixels */
    int startRow, startColumn;
    int rows, columns;      /* window, already cut to the image */
    int dx, dy;             /* column and row increments, at least 1 */
    int nb;
    int *bands;             /* nb 0-based bands of the image */
    const char *statName;   /* at most 31 characters */
    const char *outFile;
};

/* Runs a collection into p->outFile; chunks of chunkSize pixels.
 * Results: 1, or 0 after a message. */
int statRimg(StatParams *p, long chunkSize);

/* Packed lower-triangle entries for nb bands. */
int statCovCount(int nb);

/* Adds count band-interleaved pixel vectors to the sums of each band and
 * the packed sums of products. */
void statAccu(double *cross, double *sums, int nb, const float *pixels,
              long count);
/* Adds the sums of one accumulator to another. */
void mergeAccu(double *cross, double *sums, const double *crossAdd,
               const double *sumsAdd, int nb);
/* Merges chunk sums of count pixels into running mean products and
 * means over total pixels.  Results: the new total. */
long mergeStatAccu(long total, int nb, double *meanProducts, double *means,
                   const double *cross, const double *sums, long count);
/* Mean products into covariances (element minus the product of means). */
void calcCovFromStat(double *meanProducts, const double *means, int nb);
/* Pools a run's means and covariances of count pixels into item `item`
 * (extended precision, stored as floats). */
void mergeStatToFeature(Feature *record, int item, const double *cov,
                        const double *means, long count);
/* Mixes sums of count new pixels into stored float means and mean
 * products of oldCount pixels. */
void mergeMeanCov(float *means, float *cov, long count, const double *sums,
                  const double *cross, long oldCount, int nb);
/* Names and time-stamps item `item` and turns its stored mean products
 * into covariances. */
void calcCov(Feature *record, int item, const char *name);

#endif
