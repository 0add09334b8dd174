/*
 * gfftrans.h --
 *
 *	The Fourier module: `rimage gfftrans` moves one band of an image
 *	between the spatial and the frequency domain and filters spectra,
 *	writing FFT image files; `calc makefft` makes plain forward
 *	transforms of an image band.
 */
#ifndef VELK_GFFTRANS_H
#define VELK_GFFTRANS_H

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 success, 0 failure. */
int gFFTransAp(const char *command, int argc, const char **argv);

/* `calc makefft`: words in=IN out=OUT b=BAND op=OPT after the word
 * "makefft" (argv[0]).  Results as a module entry. */
int gmakefft(int argc, const char **argv);

/* The working budget in bytes: 4 MiB, or less when the environment
 * variable VELK_FFT_BUDGET asks for less (tests use it to exercise the
 * block passes on small images). */
long gfftBudget(void);

#endif
