/*
 * lineCache.cpp --
 *
 *	Reading and writing lines through the record's line cache.  Only the
 *	cache bookkeeping is here yet; the file layouts come with the line
 *	access.
 */
#include "core/lineAccess.h"

#include "core/imgtype.h"

unsigned char *getRAMImageLine(RAMImage *r, int line, int band, int)
{
    int key = line * r->info.nbands + band;
    int slot = key % r->slotCount;
    r->slotMap[slot] = key;
    return r->buffer + (size_t)slot * r->lineBytes;
}

void flushRAMImageLine(RAMImage *r, int slot)
{
    ramImageClearDirty(r, slot);
}

unsigned char *putRAMImageLine(RAMImage *, int, int) { return nullptr; }
void pixelByteSwap(int, int, void *) {}
int getRAMImageVolume(RAMImage *, int) { return -2; }
