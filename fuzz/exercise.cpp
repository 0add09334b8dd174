/*
 * exercise.cpp --
 *
 *	The body of the image fuzz target and the mutation run (see
 *	exercise.h): open through the store, read every line of every band
 *	through the record's getLine, compute the histograms and statistics
 *	of every band as `rimage hist -list stats` does, step through
 *	volumes with getRAMImageVolume and close.  Every byte of every line
 *	handed out is read, so a line buffer shorter than lineBytes shows up
 *	under AddressSanitizer.  Nothing is skipped for its size: a file
 *	that cannot hold what it declares must be refused at open.
 */
#include "fuzz/exercise.h"

#include <cstdlib>

#include "core/hist.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"

/* Reads lines [0, limit) of every band.  The geometry is read afresh
 * each time, as a volume seek may change it. */
static void readLines(RAMImage *r, int limit)
{
    const ImageInfo &info = r->info;
    int rows = limit < info.rows ? limit : info.rows;
    volatile unsigned sum = 0;
    for (int b = 0; b < info.nbands; b++) {
        for (int y = 0; y < rows; y++) {
            const unsigned char *p = r->getLine(r, y, b, 1);
            if (!p)
                std::abort();
            unsigned s = 0;
            for (int i = 0; i < r->lineBytes; i++)
                s += p[i];
            sum = sum + s;
        }
    }
}

/* The statistics `rimage hist -list stats` lists: recomputed, then one
 * set per band (three for a palette image). */
static void statistics(RAMImage *r)
{
    if (!ramImageHist(r, 2, 1, 1))
        return;
    int n = r->info.nindices > 0 ? 3 : r->info.nbands;
    volatile double sum = 0;
    for (int b = 0; b < n; b++) {
        double std = 0, mean = 0, min = 0, max = 0;
        ramImageStats(r, b, &std, &mean, &min, &max);
        sum = sum + std + mean + min + max;
    }
}

int exerciseImageFile(const char *fileName)
{
    int err = 0;
    RAMImage *r = openRAMImage(nullptr, fileName, nullptr, nullptr, &err);
    if (!r)
        return err;
    readLines(r, r->info.rows);
    statistics(r);
    /* The next volumes, the last one, and back to the first. */
    for (int i = 0; i < 3; i++) {
        if (getRAMImageVolume(r, 0) < 0)
            break;
        readLines(r, 4);
    }
    if (getRAMImageVolume(r, -1) > 0)
        readLines(r, 4);
    if (getRAMImageVolume(r, 1) > 0)
        readLines(r, 4);
    closeRAMImage(r, nullptr);
    if (getRAMImageByName(fileName))
        std::abort();       /* the close must destroy the record */
    return 0;
}
