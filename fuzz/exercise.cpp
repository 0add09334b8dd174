/*
 * exercise.cpp --
 *
 *	The body of the image fuzz target (see exercise.h): open through the
 *	store, read every line of every band through the record's getLine,
 *	step through volumes with getRAMImageVolume and close.  Every byte of
 *	every line handed out is read, so a line buffer shorter than
 *	lineBytes shows up under AddressSanitizer.
 */
#include "fuzz/exercise.h"

#include <cstdlib>

#include "core/lineAccess.h"
#include "core/ramimg.h"

/* Reads lines [0, limit) of every band; a record too large is skipped.
 * The geometry is read afresh each time, as a volume seek may change it. */
static void readLines(RAMImage *r, int limit)
{
    const ImageInfo &info = r->info;
    int64_t lines = (int64_t)info.rows * info.nbands;
    if (info.rows < 1 || info.nbands < 1 || r->lineBytes < 1
            || lines > EXERCISE_MAX_LINES
            || lines * r->lineBytes > EXERCISE_MAX_BYTES)
        return;
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

int exerciseImageFile(const char *fileName)
{
    int err = 0;
    RAMImage *r = openRAMImage(nullptr, fileName, nullptr, nullptr, &err);
    if (!r)
        return err;
    readLines(r, r->info.rows);
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
