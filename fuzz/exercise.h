/*
 * exercise.h --
 *
 *	Opens one file through the raster store the way a user's `rimage
 *	open` does and touches every byte it can read: all lines of all
 *	bands, then a few volumes.  Shared by the libFuzzer target and the
 *	unit test that replays the fuzz corpus.
 */
#ifndef VELK_FUZZ_EXERCISE_H
#define VELK_FUZZ_EXERCISE_H

#include <cstdint>

/* Images with more lines (rows x bands) or more cached bytes than these
 * are opened and closed but not read through. */
#define EXERCISE_MAX_LINES 8192
#define EXERCISE_MAX_BYTES (int64_t)(8 << 20)

/*
 * exerciseImageFile --
 *	Probes fileName through openRAMImage, reads it and closes it.
 * Results:
 *	The store's error code of the open (0 when it opened).
 * Side effects:
 *	Aborts when the record outlives its close, so the fuzzer reports it.
 */
int exerciseImageFile(const char *fileName);

#endif
