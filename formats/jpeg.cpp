/*
 * jpeg.cpp --
 *
 *	JPEG files.  Not built yet: the probe recognises nothing.
 */
#include "formats/jpeg.h"
#include "core/ramimg.h"

int imgJPEG(int, ImageInfo *) { return 0; }
int readJPEG(RAMImage *) { return 0; }
int writeJPEG(RAMImage *) { return 0; }
int loadJPEG(int, unsigned char *, int) { return 0; }
int dumpJPEG(int, int, int, int, int, const unsigned char *, int) { return 0; }
int initJPEG(int, ImageInfo *) { return -1; }
