/*
 * erdas.cpp --
 *
 *	ERDAS 7.x files.  Not built yet: the probe recognises nothing.
 */
#include "formats/erdas.h"
#include "core/ramimg.h"

int imgErdas(int, ImageInfo *) { return 0; }
int initErdasHead(int, int, ImageInfo *) { return -1; }
int OpenOLDERDAS(const char *, unsigned char *) { return -1; }
long GetErdasLine(const unsigned char *, int, int, int, unsigned char *) { return 0; }
int nBitsErdas(const unsigned char *) { return 8; }
int pixelType(const unsigned char *) { return 0; }
void hdrv(unsigned char *) {}
