/*
 * giso.h --
 *
 *	ISODATA clustering (`rimage gisoc`): the pixels of a window go to
 *	classes found without training data, seeded from the first pixel,
 *	equal shares or the popular vectors of a pixel table, spectral
 *	binning, or an earlier run's "ISOFEATU" cluster file, refined by
 *	sub-sampled passes until the means settle, and written by a final
 *	pass into one band of an output image whose palette shows the class
 *	means.  The clusters are kept in the cluster file after every
 *	sampled pass.
 */
#ifndef VELK_GISO_H
#define VELK_GISO_H

/* Module entry: 2 usage printed, 1 success, 0 failure. */
int gisoAp(const char *command, int argc, const char **argv);

#endif
