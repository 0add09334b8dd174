/*
 * dist.h --
 *
 *	The distance module (`rimage dist`): the Euclidean distance of every
 *	pixel, in pixels, to the nearest pixel of chosen classes of a class
 *	band, optionally roughened by noise.  The row arithmetic works on
 *	plain buffers.
 */
#ifndef VELK_DIST_H
#define VELK_DIST_H

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 success, 0 failure. */
int gdistAp(const char *command, int argc, const char **argv);

/* Vertical distances after one more row: 0 where the row's pixel is a
 * marked class (marked: 256 flags), else one more than before. */
void distVertical(const unsigned char *row, const unsigned char *marked,
                  int n, int *vertical);

/* One row step: out[i] becomes the rounded distance to the nearest
 * class pixel that the vertical distances reach, no more than out[i],
 * plus noise: trunc(d + 0.5 + r * blur / 2^31) with r = random() per
 * pixel, clipped to 0 .. 255. */
void distRowStep(const int *vertical, unsigned char *out, int n,
                 double blur);

#endif
