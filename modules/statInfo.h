/*
 * statInfo.h --
 *
 *	`rimage statinfo`: prints the contents of a feature file of any of
 *	the three kinds.
 */
#ifndef VELK_STATINFO_H
#define VELK_STATINFO_H

/* Module entry: 2 usage printed, 1 success, 0 failure. */
int statInfoAp(const char *command, int argc, const char **argv);

#endif
