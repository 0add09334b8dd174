/*
 * ppm.cpp --
 *
 *	PPM files.  Not built yet: the probe recognises nothing.
 */
#include "formats/ppm.h"
#include "core/ramimg.h"

int imgPPM(int, ImageInfo *) { return 0; }
int initPPMHead(int, ImageInfo *) { return -1; }
