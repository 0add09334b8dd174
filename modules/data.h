/*
 * data.h --
 *
 *	The data module (`rimage data`): generates built-in sample data,
 *	such as the synthetic multi-band scene of the demonstration.
 */
#ifndef VELK_DATA_H
#define VELK_DATA_H

struct ImageInfo;

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 success, 0 failure. */
int dataAp(const char *command, int argc, const char **argv);

/* Writes the sample scene described by info (E73, E74 or E74BSQ, BYTE,
 * 1 to 4 bands: blue, green, red, near infrared) to info->fileName.
 * Results: 1, or 0 after a message on standard error. */
int dataWriteSample(ImageInfo *info, unsigned seed);

#endif
