/*
 * georef.h --
 *
 *	The georeferencing module (`rimage georef`): fills a window of an
 *	existing output image by mapping each output pixel through a
 *	rectification polynomial (a "GOERECHD" parameter file, or a plain
 *	rotation, scale and shift) into the input and resampling it.
 */
#ifndef VELK_GEOREF_H
#define VELK_GEOREF_H

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 success, 0 failure. */
int georefRimgAp(const char *command, int argc, const char **argv);

#endif
