/*
 * packedRGB.cpp --
 *
 *	Line access of the packed colour memory pictures MRGB32..MRGB1.  The
 *	picture lives packed behind the cache slots (rows x block bytes, line
 *	y at y x block); a band line is unpacked into a slot when asked for
 *	and packed back when the slot is written.  MRGB8, MRGB4 and MRGB1
 *	have one band stored as it is: their line is the packed line itself.
 *
 *	Value v of band b of pixel i, w the host-order 16-bit word at 2i:
 *
 *	Type      Band 0              Band 1              Band 2          Band 3
 *	MRGB32    byte 4i             byte 4i+1           byte 4i+2       byte 4i+3
 *	MRGB24    byte 3i             byte 3i+1           byte 3i+2       -
 *	MRGB565   (w & 0xF800) >> 8   (w & 0x07E0) >> 3   (w & 0x1F) << 3 -
 *	MRGB555   (w & 0x7C00) >> 7   (w & 0x03E0) >> 2   (w & 0x1F) << 3 -
 *
 *	Packing back replaces only the band's bits of the word.
 */
#include "core/lineAccess.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/imgtype.h"

/* Bits of one band in a 16-bit word: mask, and the shift that moves the
 * band's top bits between a byte value and the word (left when positive). */
struct WordBand {
    unsigned mask;
    int shift;
};

static const WordBand rgb565[3] = {{0xF800, 8}, {0x07E0, 3}, {0x001F, -3}};
static const WordBand rgb555[3] = {{0x7C00, 7}, {0x03E0, 2}, {0x001F, -3}};

/*
 * packedRGBBlock --
 *	Bytes of one packed line of w columns: whole 32-bit words except for
 *	MRGB32.
 */
int packedRGBBlock(int imgid, int w)
{
    switch (imgid) {
    case IMG_MRGB32: return w * 4;
    case IMG_MRGB24: return (int)(((int64_t)w * 24 + 31) / 32 * 4);
    case IMG_MRGB565:
    case IMG_MRGB555: return (w + 1) / 2 * 4;
    case IMG_MRGB8: return (w + 3) / 4 * 4;
    case IMG_MRGB4: return (w + 7) / 8 * 4;
    case IMG_MRGB1: return (w + 31) / 32 * 4;
    default: return 0;
    }
}

static bool servedPacked(int imgid)
{
    return imgid == IMG_MRGB8 || imgid == IMG_MRGB4 || imgid == IMG_MRGB1;
}

static unsigned char *packedLine(RAMImage *r, int y)
{
    return r->buffer + (size_t)r->slotCount * r->lineBytes
           + (size_t)y * r->info.block;
}

/* Bytes per pixel of the byte and word types, and the pixels of a line
 * that its block holds. */
static int packedPixelBytes(int imgid)
{
    switch (imgid) {
    case IMG_MRGB32: return 4;
    case IMG_MRGB24: return 3;
    default: return 2;
    }
}

static int packedPixels(const RAMImage *r)
{
    return std::min(r->info.columns,
                    r->info.block / packedPixelBytes(r->info.imgid));
}

static void unpackBand(RAMImage *r, int y, int b, unsigned char *line)
{
    const unsigned char *src = packedLine(r, y);
    int n = packedPixels(r), imgid = r->info.imgid;
    if (imgid == IMG_MRGB32 || imgid == IMG_MRGB24) {
        int size = packedPixelBytes(imgid);
        for (int i = 0; i < n; i++)
            line[i] = src[(size_t)i * size + b];
        return;
    }
    const WordBand &band = (imgid == IMG_MRGB565 ? rgb565 : rgb555)[b];
    for (int i = 0; i < n; i++) {
        uint16_t w;
        std::memcpy(&w, src + 2 * (size_t)i, 2);
        unsigned v = w & band.mask;
        line[i] = (unsigned char)(band.shift >= 0 ? v >> band.shift
                                                  : v << -band.shift);
    }
}

static void packBand(RAMImage *r, int y, int b, const unsigned char *line)
{
    unsigned char *dst = packedLine(r, y);
    int n = packedPixels(r), imgid = r->info.imgid;
    if (imgid == IMG_MRGB32 || imgid == IMG_MRGB24) {
        int size = packedPixelBytes(imgid);
        for (int i = 0; i < n; i++)
            dst[(size_t)i * size + b] = line[i];
        return;
    }
    const WordBand &band = (imgid == IMG_MRGB565 ? rgb565 : rgb555)[b];
    for (int i = 0; i < n; i++) {
        uint16_t w;
        std::memcpy(&w, dst + 2 * (size_t)i, 2);
        unsigned v = band.shift >= 0 ? (unsigned)line[i] << band.shift
                                     : (unsigned)line[i] >> -band.shift;
        w = (uint16_t)((w & ~band.mask) | (v & band.mask));
        std::memcpy(dst + 2 * (size_t)i, &w, 2);
    }
}

/*
 * getRGBRimgLine --
 *	Band b (taken modulo the bands) of line y of a packed colour picture:
 *	the packed line itself for MRGB8, MRGB4 and MRGB1, otherwise a cache
 *	slot, unpacked from the picture unless read is 0.
 * Results:
 *	The line, never null (a scratch line outside the picture).
 * Side effects:
 *	A dirty line evicted from its slot is packed back first.
 */
unsigned char *getRGBRimgLine(RAMImage *r, int y, int b, int read)
{
    const ImageInfo &info = r->info;
    if (!r->slotMap || y < 0 || y >= info.rows || info.nbands < 1
            || r->slotCount < 1)
        return ramImageScratchLine(r);
    if (servedPacked(info.imgid))
        return packedLine(r, y);
    int nb = std::min(info.nbands, info.imgid == IMG_MRGB32 ? 4 : 3);
    b = ((b % nb) + nb) % nb;
    int key = y * info.nbands + b, slot = key % r->slotCount;
    unsigned char *p = r->buffer + (size_t)slot * r->lineBytes;
    if (r->slotMap[slot] == key)
        return p;
    if (ramImageSlotDirty(r, slot))
        flushRGBRimgLine(r, slot);
    r->slotMap[slot] = key;
    if (read)
        unpackBand(r, y, b, p);
    return p;
}

/*
 * flushRGBRimgLine --
 *	Packs the band line a slot holds back into the picture and clears
 *	the slot's dirty bit.
 */
void flushRGBRimgLine(RAMImage *r, int slot)
{
    if (!r->slotMap || slot < 0 || slot >= r->slotCount)
        return;
    ramImageClearDirty(r, slot);
    int key = r->slotMap[slot];
    const ImageInfo &info = r->info;
    if (key < 0 || servedPacked(info.imgid))
        return;
    int y = key / info.nbands, b = key % info.nbands;
    int nb = info.imgid == IMG_MRGB32 ? 4 : 3;
    if (y < info.rows && b < nb)
        packBand(r, y, b, r->buffer + (size_t)slot * r->lineBytes);
}
