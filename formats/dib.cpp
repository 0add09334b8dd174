/*
 * dib.cpp --
 *
 *	Windows device-independent bitmaps (BMP files): the probe, the header
 *	writer for new files and the rewrite of the colour table after a
 *	palette change.  Pixel rows are read and written by the line access,
 *	bottom-up, each padded to 4 bytes; the probe only describes them.
 *	All fields are little-endian.
 *
 *	Offset Size Field
 *	     0    2 "BM"
 *	     2    4 file size (written 1080 + row bytes x rows)
 *	     6    4 two reserved 16-bit words, 0
 *	    10    4 offset of the pixel data (written 1080)
 *	    14    4 info header size: 40; 108 and 124 (V4, V5) are read as
 *	            the 40-byte form, 12 (OS/2) has 16-bit fields below
 *	    18    4 width
 *	    22    4 height (rows stored bottom-up)
 *	    26    2 planes, 1
 *	    28    2 bit count: 1, 4, 8 or 24
 *	    30    4 compression, 0
 *	    34   20 image size, resolutions, colours used, colours important
 *	    54  4xN colour table (blue, green, red, 0), N = 2, 16 or 256 by
 *	            bit count, none for 24 bits; it follows the info header
 *
 *	Row bytes = ((bit count x width + 31) / 32) x 4.  New files keep
 *	room for 256 table entries: their pixels start at 1080.
 */
#include "formats/dib.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "core/freeDisk.h"
#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"

#define DIB_FILE_HEADER 14
#define DIB_INFO_HEADER 40
#define DIB_CORE_HEADER 12      /* OS/2 1.x BITMAPCOREHEADER */
#define DIB_MAGIC 19778         /* "BM" as a little-endian word */

static uint16_t getLE16(const unsigned char *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

static uint32_t getLE32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16
           | (uint32_t)p[3] << 24;
}

static void putLE16(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

static void putLE32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (unsigned char)(v >> (8 * i));
}

/* Bytes of one stored row. */
static int64_t dibRowBytes(int bitCount, int64_t width)
{
    return (bitCount * width + 31) / 32 * 4;
}

/* The file and info headers as read from a file. */
struct DIBHeaders {
    uint32_t dataOffset;
    DIBInfoHeader ih;
    int64_t tableStart;     /* file offset of the colour table */
    int entryBytes;         /* 4, or 3 for OS/2 bitmaps */
};

/* Reads the file and info headers.  Returns 0 when the file is not a
 * BMP (wrong magic, short headers). */
static int readDIBHeaders(int fd, DIBHeaders *h)
{
    unsigned char b[DIB_FILE_HEADER + DIB_INFO_HEADER];
    if (pread(fd, b, 2, 0) != 2 || getLE16(b) != DIB_MAGIC)
        return 0;
    ssize_t got = pread(fd, b, sizeof b, 0);
    if (got < DIB_FILE_HEADER + 4)
        return 0;
    h->dataOffset = getLE32(b + 10);
    DIBInfoHeader &ih = h->ih;
    std::memset(&ih, 0, sizeof ih);
    ih.size = getLE32(b + 14);
    if (ih.size == DIB_CORE_HEADER) {
        if (got < DIB_FILE_HEADER + DIB_CORE_HEADER)
            return 0;
        ih.width = getLE16(b + 18);
        ih.height = getLE16(b + 20);
        ih.planes = getLE16(b + 22);
        ih.bitCount = getLE16(b + 24);
        h->tableStart = DIB_FILE_HEADER + DIB_CORE_HEADER;
        h->entryBytes = 3;
        return 1;
    }
    if (got < (ssize_t)sizeof b)
        return 0;
    ih.width = (int32_t)getLE32(b + 18);
    ih.height = (int32_t)getLE32(b + 22);
    ih.planes = getLE16(b + 26);
    ih.bitCount = getLE16(b + 28);
    ih.compression = getLE32(b + 30);
    ih.sizeImage = getLE32(b + 34);
    ih.xPelsPerMeter = (int32_t)getLE32(b + 38);
    ih.yPelsPerMeter = (int32_t)getLE32(b + 42);
    ih.clrUsed = getLE32(b + 46);
    ih.clrImportant = getLE32(b + 50);
    /* Later header versions only add fields after these: their table
     * follows the whole header. */
    h->tableStart = DIB_FILE_HEADER
                    + (ih.size > DIB_INFO_HEADER && ih.size <= 1024
                           ? ih.size : DIB_INFO_HEADER);
    h->entryBytes = 4;
    return 1;
}

/* Table entries that fit between the table and the pixel data, at most
 * `n`. */
static int tableRoom(const DIBHeaders &h, int n)
{
    int64_t room = ((int64_t)h.dataOffset - h.tableStart) / h.entryBytes;
    return room < n ? (room > 0 ? (int)room : 0) : n;
}

/* Table entries the file defines: those that fit, no more than its
 * colours-used field names. */
static int tableEntriesInFile(const DIBHeaders &h, int n)
{
    n = tableRoom(h, n);
    if (h.ih.clrUsed > 0 && h.ih.clrUsed < (uint32_t)n)
        n = (int)h.ih.clrUsed;
    return n;
}

/*
 * initDIB_Bi --
 *	Maps the bit count of a BMP info header into info.
 * Results:
 *	1, or 0 with "Error in initDIB_Bi: invalid BitCount." on standard
 *	error for counts other than 1, 4, 8 and 24.
 */
int initDIB_Bi(ImageInfo *info, const DIBInfoHeader *infoHeader)
{
    switch (infoHeader->bitCount) {
    case 1:
        info->pixel = PIXEL_1BIT;
        info->nbands = 1;
        info->nindices = 2;
        info->msbf = 1;
        break;
    case 4:
        info->pixel = PIXEL_4BITS;
        info->nbands = 1;
        info->nindices = 16;
        info->msbf = 1;
        break;
    case 8:
        info->pixel = PIXEL_BYTE;
        info->nbands = 1;
        info->nindices = 256;
        info->msbf = 0;
        break;
    case 24:
        info->pixel = PIXEL_BYTE;
        info->nbands = 3;
        info->nindices = 0;
        info->msbf = 0;
        break;
    default:
        stderrPrintf("Error in initDIB_Bi: invalid BitCount.\n");
        return 0;
    }
    info->bits = pixelBits(info->pixel);
    return 1;
}

/*
 * initDIB_RGB --
 *	Copies `count` colour-table entries (blue, green, red, reserved) into
 *	the palette as (red, green, blue).
 */
void initDIB_RGB(ImageInfo *info, const unsigned char *table, int count)
{
    if (count > 256)
        count = 256;
    for (int i = 0; i < count; i++) {
        info->palette[i][0] = table[4 * i + 2];
        info->palette[i][1] = table[4 * i + 1];
        info->palette[i][2] = table[4 * i];
    }
}

/*
 * imgDIB --
 *	Probe of BMP files; the file position is kept.
 * Results:
 *	1 with info filled, or 0.  A BMP the line access cannot read
 *	(compressed, top-down, other bit counts, truncated pixel data) is
 *	refused with a message on standard error.
 */
int imgDIB(int fd, ImageInfo *info)
{
    DIBHeaders h;
    if (!readDIBHeaders(fd, &h))
        return 0;
    const DIBInfoHeader &ih = h.ih;
    if (!initDIB_Bi(info, &ih))
        return 0;
    if (ih.compression != 0) {
        stderrPrintf("Error in imgDIB: compressed bitmaps (compression %u)"
                     " are not supported.\n", (unsigned)ih.compression);
        return 0;
    }
    if (ih.height < 0) {
        stderrPrintf("Error in imgDIB: top-down bitmaps are not"
                     " supported.\n");
        return 0;
    }
    int64_t rowBytes = dibRowBytes(ih.bitCount, ih.width);
    if (ih.width < 1 || ih.height < 1 || rowBytes > INT_MAX / 4) {
        stderrPrintf("Error in imgDIB: invalid size %d x %d.\n",
                     (int)ih.width, (int)ih.height);
        return 0;
    }
    if ((int64_t)h.dataOffset < h.tableStart || h.dataOffset > INT_MAX) {
        stderrPrintf("Error in imgDIB: invalid pixel data offset %u.\n",
                     (unsigned)h.dataOffset);
        return 0;
    }
    struct stat st;
    int64_t need = h.dataOffset + rowBytes * ih.height;
    if (fstat(fd, &st) == 0 && (int64_t)st.st_size < need) {
        stderrPrintf("Error in imgDIB: the pixel data is truncated (%lld of"
                     " %lld bytes).\n",
                     (long long)(st.st_size > h.dataOffset
                                     ? st.st_size - h.dataOffset : 0),
                     (long long)(rowBytes * ih.height));
        return 0;
    }

    std::memset(info->palette, 0, sizeof info->palette);
    int n = tableEntriesInFile(h, info->nindices);
    if (n > 0) {
        unsigned char table[256 * 4];
        ssize_t got = pread(fd, table, (size_t)n * h.entryBytes,
                            h.tableStart);
        n = got > 0 ? (int)(got / h.entryBytes) : 0;
        if (h.entryBytes == 3) {
            for (int i = n - 1; i >= 0; i--) {
                std::memmove(table + 4 * i, table + 3 * i, 3);
                table[4 * i + 3] = 0;
            }
        }
        initDIB_RGB(info, table, n);
    }
    info->imgid = IMG_DIB;
    info->mapid = MAP_GRID;
    info->columns = ih.width;
    info->rows = ih.height;
    info->offset = (int)h.dataOffset;
    info->block = (int)rowBytes;
    info->top = info->left = 0;
    info->transparent = -1;
    info->x0 = info->y0 = 0.0;
    info->dx = info->dy = 1.0;
    return 1;
}

/*
 * initDIBHead --
 *	Writes the headers and colour table of a new BMP file for info's
 *	pixel type and bands: 1BIT, 4BITS or one-band BYTE with a table of
 *	nindices entries (a grey ramp when nindices is 0), three-band BYTE
 *	as 24 bits.  Sets block, offset (1080), bits and msbf.  The file
 *	position is kept.
 * Results:
 *	1080, or -1 for other layouts, too little disk space (with create
 *	set) or a failed write.
 */
int initDIBHead(int fd, int create, ImageInfo *info)
{
    int bitCount, entries;
    if (info->pixel == PIXEL_1BIT && info->nbands == 1) {
        bitCount = 1;
        entries = 2;
    } else if (info->pixel == PIXEL_4BITS && info->nbands == 1) {
        bitCount = 4;
        entries = 16;
    } else if (info->pixel == PIXEL_BYTE && info->nbands == 1) {
        bitCount = 8;
        entries = 256;
    } else if (info->pixel == PIXEL_BYTE && info->nbands == 3) {
        bitCount = 24;
        entries = 0;
    } else {
        stderrPrintf("Error in initDIBHead: a DIB holds one band of 1BIT,"
                     " 4BITS or BYTE pixels or three bands of BYTE.\n");
        return -1;
    }
    if (info->columns < 1 || info->rows < 1)
        return -1;
    int64_t rowBytes = dibRowBytes(bitCount, info->columns);
    int64_t fileSize = DIB_DATA_OFFSET + rowBytes * info->rows;
    if (rowBytes > INT_MAX / 4 || fileSize > 0xFFFFFFFFLL) {
        stderrPrintf("Error in initDIBHead: %d x %d is too large for a"
                     " DIB.\n", info->columns, info->rows);
        return -1;
    }
    if (create) {
        double avail = freeDiskSpace(info->fileName);
        if (avail >= 0 && (double)fileSize > avail) {
            stderrPrintf("Insufficient disk space. Request:%ld"
                         " Available:%.f\n", (long)fileSize, avail);
            return -1;
        }
    }
    info->block = (int)rowBytes;
    info->offset = DIB_DATA_OFFSET;
    info->bits = pixelBits(info->pixel);
    info->msbf = bitCount < 8 ? 1 : msbFirst();

    unsigned char h[DIB_FILE_HEADER + DIB_INFO_HEADER + 256 * 4] = {0};
    putLE16(h, DIB_MAGIC);
    putLE32(h + 2, (uint32_t)fileSize);
    putLE32(h + 10, DIB_DATA_OFFSET);
    putLE32(h + 14, DIB_INFO_HEADER);
    putLE32(h + 18, (uint32_t)info->columns);
    putLE32(h + 22, (uint32_t)info->rows);
    putLE16(h + 26, 1);
    putLE16(h + 28, (uint32_t)bitCount);
    unsigned char *table = h + DIB_FILE_HEADER + DIB_INFO_HEADER;
    int n = info->nindices < entries ? info->nindices : entries;
    if (n < 1) {
        /* No palette: a grey ramp keeps the values readable elsewhere. */
        n = entries;
        for (int i = 0; i < n; i++)
            std::memset(table + 4 * i, i * 255 / (entries - 1), 3);
    } else {
        for (int i = 0; i < n; i++) {
            table[4 * i] = info->palette[i][2];
            table[4 * i + 1] = info->palette[i][1];
            table[4 * i + 2] = info->palette[i][0];
        }
    }
    size_t len = DIB_FILE_HEADER + DIB_INFO_HEADER + (size_t)n * 4;
    if (pwrite(fd, h, len, 0) != (ssize_t)len)
        return -1;
    return DIB_DATA_OFFSET;
}

/*
 * updateDIBIndices --
 *	Rewrites the colour table of a one-band BMP in place from the
 *	palette, keeping each entry's fourth byte.  The file must have the
 *	record's pixel type and a table of nindices entries.  The file
 *	position is kept.
 * Results:
 *	The entries written, 0 when nothing was written.
 */
int updateDIBIndices(int fd, ImageInfo *info)
{
    if (info->nbands != 1)
        return 0;
    DIBHeaders h;
    if (!readDIBHeaders(fd, &h))
        return 0;
    ImageInfo mapped;
    std::memset(&mapped, 0, sizeof mapped);
    switch (h.ih.bitCount) {
    case 1: mapped.pixel = PIXEL_1BIT; mapped.nindices = 2; break;
    case 4: mapped.pixel = PIXEL_4BITS; mapped.nindices = 16; break;
    case 8: mapped.pixel = PIXEL_BYTE; mapped.nindices = 256; break;
    default: return 0;
    }
    if (mapped.pixel != info->pixel || mapped.nindices != info->nindices)
        return 0;
    /* Never write past the table into the pixel data. */
    int n = tableRoom(h, mapped.nindices);
    if (n < 1)
        return 0;
    size_t len = (size_t)n * h.entryBytes;
    unsigned char table[256 * 4];
    if (pread(fd, table, len, h.tableStart) != (ssize_t)len)
        return 0;
    for (int i = 0; i < n; i++) {
        unsigned char *e = table + (size_t)i * h.entryBytes;
        e[0] = info->palette[i][2];
        e[1] = info->palette[i][1];
        e[2] = info->palette[i][0];
    }
    if (pwrite(fd, table, len, h.tableStart) != (ssize_t)len)
        return 0;
    if (h.ih.clrUsed > 0 && h.ih.clrUsed < (uint32_t)n) {
        /* Let the entries written count for every reader. */
        unsigned char used[4];
        putLE32(used, n == mapped.nindices ? 0 : (uint32_t)n);
        pwrite(fd, used, 4, DIB_FILE_HEADER + 32);
    }
    return n;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static int indicesDIB(int fd, ImageInfo *info, void *)
{
    return updateDIBIndices(fd, info);
}

static const ImgFormatType dibTypes[] = {{IMG_DIB, LAYOUT_DIB}, {0, 0}};

extern const ImgFormat dibFormat = {
    .name = "DIB",
    .types = dibTypes,
    .probe = imgDIB,
    .initHead = initDIBHead,
    .updateIndices = indicesDIB,
};
