/*
 * elas.cpp --
 *
 *	ELAS image files: 8-bit bands, band-interleaved by line, behind a
 *	header of at least 1024 bytes whose numbers are in the byte order of
 *	the host that wrote it (a file of the other order fails the check
 *	value and is not recognised).  Read only: the line access reads the
 *	lines as it does for BIL files.
 *
 *	Offset Size Type    Field
 *	     0    4 int32   header size: offset of the first pixel line
 *	     4    4 int32   bytes per stored line of one band
 *	     8    4 int32   first line number
 *	    12    4 int32   last line number
 *	    16    4 int32   first element (column) number
 *	    20    4 int32   last element number
 *	    24    4 int32   number of bands
 *	    28    4 int32   check value 4321
 *	    36    4 int32   map y of the first pixel
 *	    44    4 int32   map x of the first pixel
 *	    48    4 float32 cell height
 *	    52    4 float32 cell width
 *
 *	Line r of band b starts at header size + (r * bands + b) * line bytes.
 */
#include "formats/elas.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/hostField.h"
#include "core/ramimg.h"

#define ELAS_HEADER_SIZE 1024
#define ELAS_CHECK 4321

/*
 * imgElas --
 *	Probe of ELAS files; the file position is kept.
 * Results:
 *	1 with info filled, 0 when the file is shorter than 1024 bytes, has
 *	no check value 4321 or describes no usable image.
 */
int imgElas(int fd, ImageInfo *info)
{
    unsigned char h[ELAS_HEADER_SIZE];
    if (pread(fd, h, sizeof h, 0) != (ssize_t)sizeof h
            || hostField<int32_t>(h, 28) != ELAS_CHECK)
        return 0;
    int64_t offset = hostField<int32_t>(h, 0), block = hostField<int32_t>(h, 4);
    int64_t top = hostField<int32_t>(h, 8), left = hostField<int32_t>(h, 16);
    int64_t rows = (int64_t)hostField<int32_t>(h, 12) - top + 1;
    int64_t columns = (int64_t)hostField<int32_t>(h, 20) - left + 1;
    int64_t nbands = hostField<int32_t>(h, 24);
    if (offset < 0 || block < 0 || rows < 1 || rows > INT_MAX || columns < 1
            || columns > INT_MAX || nbands < 1)
        return 0;
    /* Line offsets are 64-bit: keep rows * bands * line below 2^62. */
    double line = block > columns ? (double)block : (double)columns;
    if ((double)rows * (double)nbands * line > 4.0e18)
        return 0;

    info->imgid = IMG_ELAS;
    info->pixel = PIXEL_BYTE;
    info->bits = 8;
    info->mapid = MAP_GRID;
    info->offset = (int)offset;
    info->block = (int)block;
    info->top = (int)top;
    info->left = (int)left;
    info->rows = (int)rows;
    info->columns = (int)columns;
    info->nbands = (int)nbands;
    info->msbf = msbFirst();
    info->x0 = hostField<int32_t>(h, 44);
    info->y0 = hostField<int32_t>(h, 36);
    info->dx = hostField<float>(h, 52);
    info->dy = hostField<float>(h, 48);
    info->nindices = 0;
    info->transparent = -1;
    return 1;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static const ImgFormatType elasTypes[] = {{IMG_ELAS, LAYOUT_BIL}, {0, 0}};

extern const ImgFormat elasFormat = {
    .name = "ELAS",
    .types = elasTypes,
    .probe = imgElas,
};
