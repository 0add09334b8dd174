/*
 * packedRGB.cpp --
 *
 *	Line access of the packed colour memory pictures MRGB32..MRGB1.  Not
 *	built yet.
 */
#include "core/lineAccess.h"

unsigned char *getRGBRimgLine(RAMImage *r, int line, int band, int read)
{
    return getRAMImageLine(r, line, band, read);
}

void flushRGBRimgLine(RAMImage *r, int slot)
{
    ramImageClearDirty(r, slot);
}
