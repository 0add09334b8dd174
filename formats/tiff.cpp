/*
 * tiff.cpp --
 *
 *	TIFF files.  Not built yet: the probe recognises nothing.
 */
#include "formats/tiff.h"
#include "core/ramimg.h"

int imgTiff(int, ImageInfo *, int, void **) { return 0; }
int tiffSeek(RAMImage *, int) { return -2; }
unsigned char *getTiffBlock(RAMImage *, int *, int *) { return nullptr; }
void tiffDestroy(RAMImage *) {}
int tiffBlockRows(const RAMImage *) { return 0; }
int initTiffHead(int, int, ImageInfo *) { return -1; }
int initTiff(int, int, ImageInfo *, int, int, int, int, const unsigned char (*)[3]) { return -1; }
int updateTiffIndices(int, ImageInfo *, void *) { return -1; }
