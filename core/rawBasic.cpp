/*
 * rawBasic.cpp --
 *
 *	The BASIC raw format: band-sequential, by-line or by-pixel pixel data
 *	behind a self-describing 860-byte header.  The header's numbers are in
 *	the byte order its magic names; the pixel values in the order of its
 *	msbf field (the line access swaps them).
 *
 *	Offset Size Field
 *	     0   16 magic "IMAGEDEF_MSBF" or "IMAGEDEF_MSBL", NUL-padded
 *	    16    4 msbf of the pixel values
 *	    20    4 image type: 1 BSQ, 2 BIL, 3 BIP
 *	    24    4 map type
 *	    28    4 header size (offset of the pixel data), at least 860
 *	    32    4 pixel type
 *	    36    4 bands
 *	    40    4 rows
 *	    44    4 columns
 *	    48    4 top
 *	    52    4 left
 *	    56    8 x0
 *	    64    8 y0
 *	    72    8 dx
 *	    80    8 dy
 *	    88    4 palette entries in use
 *	    92  768 palette: 256 x (red, green, blue)
 */
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/hostField.h"
#include "core/ramimg.h"

static const char magicMSBF[] = "IMAGEDEF_MSBF";
static const char magicMSBL[] = "IMAGEDEF_MSBL";

static void reverse(unsigned char *p, int n)
{
    std::reverse(p, p + n);
}

/* Swaps every number of the header between the two byte orders. */
static void swapHeader(unsigned char *h)
{
    for (int off = 16; off <= 52; off += 4)
        reverse(h + off, 4);
    for (int off = 56; off <= 80; off += 8)
        reverse(h + off, 8);
    reverse(h + 88, 4);
}

/* Bytes of one stored line: one band for BSQ and BIL, all for BIP. */
static int64_t basicBlock(int imgid, int64_t columns, int bits, int nbands)
{
    int64_t b = (columns * bits + 7) / 8;
    return imgid == IMG_BIP ? b * nbands : b;
}

/*
 * imgBASIC --
 *	Probe of the BASIC raw format; the file position is kept.
 * Results:
 *	1 with info filled, or 0 when the file is not a BASIC file (short,
 *	wrong magic, type outside 1..3 or an unusable geometry).
 */
int imgBASIC(int fd, ImageInfo *info)
{
    unsigned char h[BASIC_HEADER_SIZE];
    if (pread(fd, h, sizeof h, 0) != (ssize_t)sizeof h)
        return 0;
    int fileMsbf;
    if (std::memcmp(h, magicMSBF, sizeof magicMSBF) == 0)
        fileMsbf = 1;
    else if (std::memcmp(h, magicMSBL, sizeof magicMSBL) == 0)
        fileMsbf = 0;
    else
        return 0;
    if (fileMsbf != msbFirst())
        swapHeader(h);
    int imgid = hostField<int32_t>(h, 20);
    if (imgid < IMG_BSQ || imgid > IMG_BIP)
        return 0;
    int pixel = hostField<int32_t>(h, 32), nbands = hostField<int32_t>(h, 36);
    int rows = hostField<int32_t>(h, 40), columns = hostField<int32_t>(h, 44);
    int offset = hostField<int32_t>(h, 28), nindices = hostField<int32_t>(h, 88);
    if (pixel <= PIXEL_UNKNOWN || pixel >= PIXEL_NTYPES || nbands < 1
            || rows < 1 || columns < 1 || offset < 0 || nindices < 0
            || nindices > 256)
        return 0;
    /* A line of all bands must fit an int (checked by division: the
     * product of two damaged fields overflows even 64 bits). */
    if (columns > INT_MAX / 4 / nbands)
        return 0;
    int bits = pixelBits(pixel);
    int64_t block = basicBlock(imgid, columns, bits, nbands);
    info->msbf = hostField<int32_t>(h, 16) ? 1 : 0;
    info->imgid = imgid;
    info->mapid = hostField<int32_t>(h, 24);
    info->offset = offset;
    info->pixel = pixel;
    info->nbands = nbands;
    info->rows = rows;
    info->columns = columns;
    info->top = hostField<int32_t>(h, 48);
    info->left = hostField<int32_t>(h, 52);
    info->x0 = hostField<double>(h, 56);
    info->y0 = hostField<double>(h, 64);
    info->dx = hostField<double>(h, 72);
    info->dy = hostField<double>(h, 80);
    info->nindices = nindices;
    info->transparent = -1;
    info->bits = bits;
    info->block = (int)block;
    std::memset(info->palette, 0, sizeof info->palette);
    std::memcpy(info->palette, h + 92, (size_t)nindices * 3);
    return 1;
}

/*
 * initBASIC --
 *	Writes the header of a new BASIC file in the host's byte order at the
 *	start of the file (the file position is kept).  A requested header
 *	size of 0 or less makes a headerless raw file: the description's
 *	header size is set back to 0 and the data area overwrites the header.
 * Results:
 *	The bytes written, or -1 on a short write.
 */
int initBASIC(int fd, ImageInfo *info)
{
    int requested = info->offset;
    int size = std::max(requested, BASIC_HEADER_SIZE);
    info->bits = pixelBits(info->pixel);
    info->block = (int)basicBlock(info->imgid, info->columns, info->bits,
                                  info->nbands);
    std::vector<unsigned char> buf((size_t)size, 0);
    unsigned char *h = buf.data();
    std::memcpy(h, msbFirst() ? magicMSBF : magicMSBL, sizeof magicMSBF);
    putHostField<int32_t>(h, 16, info->msbf);
    putHostField<int32_t>(h, 20, info->imgid);
    putHostField<int32_t>(h, 24, info->mapid);
    putHostField<int32_t>(h, 28, size);
    putHostField<int32_t>(h, 32, info->pixel);
    putHostField<int32_t>(h, 36, info->nbands);
    putHostField<int32_t>(h, 40, info->rows);
    putHostField<int32_t>(h, 44, info->columns);
    putHostField<int32_t>(h, 48, info->top);
    putHostField<int32_t>(h, 52, info->left);
    putHostField<double>(h, 56, info->x0);
    putHostField<double>(h, 64, info->y0);
    putHostField<double>(h, 72, info->dx);
    putHostField<double>(h, 80, info->dy);
    int n = std::min(std::max(info->nindices, 0), 256);
    putHostField<int32_t>(h, 88, n);
    std::memcpy(h + 92, info->palette, sizeof info->palette);
    if (pwrite(fd, h, (size_t)size, 0) != (ssize_t)size)
        return -1;
    info->offset = requested <= 0 ? 0 : size;
    return size;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static int headBASIC(int fd, int, ImageInfo *info)
{
    return initBASIC(fd, info);
}

static const ImgFormatType basicTypes[] = {
    {IMG_BSQ, LAYOUT_BSQ}, {IMG_BIL, LAYOUT_BIL}, {IMG_BIP, LAYOUT_BIP},
    {0, 0},
};

extern const ImgFormat basicFormat = {
    .name = "BASIC",
    .types = basicTypes,
    .probe = imgBASIC,
    .initHead = headBASIC,
};
