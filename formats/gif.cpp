/*
 * gif.cpp --
 *
 *	GIF files.  Not built yet: the probe recognises nothing.
 */
#include "formats/gif.h"
#include "core/ramimg.h"

int imgGif(int, ImageInfo *) { return 0; }
int readGIF(RAMImage *) { return 0; }
int gifSeek(RAMImage *, int) { return -1; }
int rewindGIF(RAMImage *) { return 0; }
int writeGIF(RAMImage *) { return 0; }
int gifFrameDelay(const RAMImage *) { return 0; }
