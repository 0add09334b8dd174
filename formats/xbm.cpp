/*
 * xbm.cpp --
 *
 *	XBM files.  Not built yet: the probe recognises nothing.
 */
#include "formats/xbm.h"
#include "core/ramimg.h"

int imgXBMP(int, ImageInfo *) { return 0; }
int readXBMP(RAMImage *) { return 0; }
int writeXBMP(RAMImage *) { return 0; }
int initXBMP(int, ImageInfo *, const unsigned char *, int) { return -1; }
