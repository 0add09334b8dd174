/*
 * exercise.h --
 *
 *	Opens one file through the raster store the way a user's `rimage
 *	open` does and does with it what `rimage hist -list stats` and the
 *	display's volume stepping do: every line of every band, whatever the
 *	size the file declares, the statistics of every band, a few volumes.
 *	Shared by the libFuzzer target, the mutation run and the unit test
 *	that replays the fuzz corpus.
 */
#ifndef VELK_FUZZ_EXERCISE_H
#define VELK_FUZZ_EXERCISE_H

/*
 * exerciseImageFile --
 *	Probes fileName through openRAMImage, reads it and closes it.
 * Results:
 *	The store's error code of the open (0 when it opened).
 * Side effects:
 *	Aborts when a line is missing or the record outlives its close, so
 *	the fuzzer reports it.
 */
int exerciseImageFile(const char *fileName);

#endif
