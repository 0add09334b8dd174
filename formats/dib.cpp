/*
 * dib.cpp --
 *
 *	DIB files.  Not built yet: the probe recognises nothing.
 */
#include "formats/dib.h"
#include "core/ramimg.h"

int imgDIB(int, ImageInfo *) { return 0; }
int initDIBHead(int, int, ImageInfo *) { return -1; }
int updateDIBIndices(int, ImageInfo *) { return 0; }
