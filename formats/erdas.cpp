/*
 * erdas.cpp --
 *
 *	ERDAS 7.3 ("HEADER"), 7.4 ("HEAD74") and 7.4 band-sequential
 *	("E74BSQ") image files, the default raster file format.  The registry
 *	calls the probe imgErdas and the header writer initErdasHead; the
 *	line access reads the pixels as by-line (HEADER, HEAD74) or
 *	band-sequential (E74BSQ) raw data at offset 128.  OpenOLDERDAS,
 *	GetErdasLine and nBitsErdas read files directly, without the store,
 *	and end the process on files they cannot handle.
 *
 *	Offset Size Type     Field
 *	     0    6 chars    magic "HEADER", "HEAD74" or "E74BSQ" (no NUL)
 *	     6    2 int16    NPACK: 0 BYTE, 1 4BITS, 2 USHORT, 3 LONG,
 *	                     4 FLOAT, 5 SHORT
 *	     8    2 int16    bands
 *	    10    2 int16    unused
 *	    12    4 -        unused
 *	    16    4 int32    columns (float32 in HEADER files)
 *	    20    4 int32    rows (float32 in HEADER files)
 *	    24    4 int32    start column (left)
 *	    28    4 int32    start row (top)
 *	    32   56 -        unused (36 and 40 are 32-bit fields)
 *	    88    2 int16    unused
 *	    90    2 int16    unused
 *	    92   14 -        unused
 *	   106    2 int16    unused
 *	   108    4 float32  unused
 *	   112    4 float32  map x of the first pixel (x0)
 *	   116    4 float32  map y of the first pixel (y0)
 *	   120    4 float32  cell width (dx)
 *	   124    4 float32  cell height (dy)
 *
 *	The numbers are little-endian; a big-endian host reverses them
 *	(hdrv).  Pixels follow in the writing host's byte order.
 */
#include "formats/erdas.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <tcl.h>

#include "core/freeDisk.h"
#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/hostField.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "core/velk.h"

static const char magic73[] = "HEADER";
static const char magic74[] = "HEAD74";
static const char magicBSQ[] = "E74BSQ";

/* Pixel type of each NPACK value 0..5. */
static const int packPixel[6] = {PIXEL_BYTE, PIXEL_4BITS, PIXEL_USHORT,
                                 PIXEL_LONG, PIXEL_FLOAT, PIXEL_SHORT};

/* A float count truncated toward zero; values no int can hold give 0,
 * which the store then refuses as a geometry. */
static int32_t truncFloat(float v)
{
    if (!std::isfinite(v) || v >= 2147483648.0f || v <= -2147483649.0f)
        return 0;
    return (int32_t)v;
}

/* Ends the process after a direct-access failure, with what was printed
 * on the package's streams flushed first. */
static void erdasExit(int status)
{
    if (tclInterp) {
        Tcl_Channel c = Tcl_GetStdChannel(TCL_STDOUT);
        if (c)
            Tcl_Flush(c);
        c = Tcl_GetStdChannel(TCL_STDERR);
        if (c)
            Tcl_Flush(c);
    }
    std::fflush(nullptr);
    std::exit(status);
}

/*
 * hdrv --
 *	Reverses the byte order of every numeric header field in place.
 */
void hdrv(unsigned char *header)
{
    static const int fields16[] = {6, 8, 10, 88, 90, 106};
    static const int fields32[] = {16, 20, 24, 28, 36, 40, 108, 112, 116,
                                   120, 124};
    for (int off : fields16)
        std::reverse(header + off, header + off + 2);
    for (int off : fields32)
        std::reverse(header + off, header + off + 4);
}

/*
 * imgErdas --
 *	Probe: recognises the three ERDAS variants by magic and pack type and
 *	fills info from the header.
 * Results:
 *	IMG_E73, IMG_E74 or IMG_E74BSQ, or 0 when not an ERDAS file.
 * Side effects:
 *	The file position is restored.
 */
int imgErdas(int fd, ImageInfo *info)
{
    unsigned char h[ERDAS_HEADER_SIZE];
    off_t here = lseek(fd, 0, SEEK_CUR);
    ssize_t n = -1;
    if (lseek(fd, 0, SEEK_SET) == 0)
        n = read(fd, h, sizeof h);
    lseek(fd, here, SEEK_SET);
    if (n != (ssize_t)sizeof h)
        return 0;
    int type;
    if (std::memcmp(h, magic73, 6) == 0)
        type = IMG_E73;
    else if (std::memcmp(h, magic74, 6) == 0)
        type = IMG_E74;
    else if (std::memcmp(h, magicBSQ, 6) == 0)
        type = IMG_E74BSQ;
    else
        return 0;
    int npack = hostField<int16_t>(h, 6);
    if (npack < 0 || npack > 5)
        return 0;

    info->msbf = msbFirst();
    info->pixel = packPixel[npack];
    info->bits = pixelBits(info->pixel);
    if (info->pixel == PIXEL_4BITS)
        info->msbf = 1;
    info->imgid = type;
    info->mapid = MAP_GRID;
    info->offset = ERDAS_HEADER_SIZE;
    if (type == IMG_E73) {
        info->columns = truncFloat(hostField<float>(h, 16));
        info->rows = truncFloat(hostField<float>(h, 20));
    } else {
        info->columns = hostField<int32_t>(h, 16);
        info->rows = hostField<int32_t>(h, 20);
    }
    info->left = hostField<int32_t>(h, 24);
    info->top = hostField<int32_t>(h, 28);
    info->nbands = hostField<int16_t>(h, 8);
    info->x0 = hostField<float>(h, 112);
    info->y0 = hostField<float>(h, 116);
    info->dx = hostField<float>(h, 120);
    info->dy = hostField<float>(h, 124);
    info->nindices = 0;
    info->transparent = -1;
    int64_t block = ((int64_t)info->columns * info->bits - 1) / 8 + 1;
    info->block = (int)std::min<int64_t>(std::max<int64_t>(block, 0),
                                         INT_MAX);
    return type;
}

/*
 * initErdasHead --
 *	Writes the 128-byte header described by info at the start of fd.
 *	With create set, the free space of the file system holding the file
 *	must cover the whole file.
 * Results:
 *	128, or -1 (unsupported pixel type, a band count the header cannot
 *	hold, insufficient or unknown free space, a failed write).
 * Side effects:
 *	info's block, msbf and offset are set; the file position is kept.
 */
int initErdasHead(int fd, int create, ImageInfo *info)
{
    unsigned char h[ERDAS_HEADER_SIZE];
    std::memset(h, 0, sizeof h);
    int npack;
    int64_t block;
    int64_t columns = info->columns;
    switch (info->pixel) {
    case PIXEL_4BITS: npack = 1; block = (columns + 1) / 2; break;
    case PIXEL_BYTE: npack = 0; block = columns; break;
    case PIXEL_SHORT: npack = 5; block = 2 * columns; break;
    case PIXEL_USHORT: npack = 2; block = 2 * columns; break;
    case PIXEL_LONG: npack = 3; block = 4 * columns; break;
    case PIXEL_FLOAT: npack = 4; block = 4 * columns; break;
    default: return -1;
    }
    if (block > INT_MAX || info->nbands < 1 || info->nbands > 32767)
        return -1;
    info->block = (int)block;
    if (create) {
        int64_t need = block * info->nbands * (int64_t)info->rows
                       + ERDAS_HEADER_SIZE;
        double avail = freeDiskSpace(info->fileName);
        if ((double)need > avail) {
            stderrPrintf("Insufficient disk space. Requested:%lld "
                         "Available:%.f\n", (long long)need, avail);
            return -1;
        }
    }
    putHostField<int16_t>(h, 6, (int16_t)npack);
    putHostField<int32_t>(h, 28, info->top);
    putHostField<int32_t>(h, 24, info->left);
    if (info->imgid == IMG_E73) {
        putHostField<float>(h, 20, (float)info->rows);
        putHostField<float>(h, 16, (float)info->columns);
        std::memcpy(h, magic73, 6);
    } else {
        putHostField<int32_t>(h, 20, info->rows);
        putHostField<int32_t>(h, 16, info->columns);
        std::memcpy(h, info->imgid == IMG_E74 ? magic74 : magicBSQ, 6);
    }
    putHostField<int16_t>(h, 8, (int16_t)info->nbands);
    putHostField<float>(h, 120, (float)info->dx);
    putHostField<float>(h, 124, (float)info->dy);
    putHostField<float>(h, 112, (float)info->x0);
    putHostField<float>(h, 116, (float)info->y0);
    info->msbf = msbFirst();
    if (info->msbf)
        hdrv(h);
    info->offset = ERDAS_HEADER_SIZE;
    off_t here = lseek(fd, 0, SEEK_CUR);
    if (lseek(fd, 0, SEEK_SET) != 0)
        return -1;
    ssize_t n = write(fd, h, sizeof h);
    lseek(fd, here, SEEK_SET);
    return n == (ssize_t)sizeof h ? ERDAS_HEADER_SIZE : -1;
}

/*
 * OpenOLDERDAS --
 *	Opens an ERDAS file for direct access and reads its header into the
 *	caller's 128-byte buffer, in host order, with 7.3 counts made
 *	integers and the magic made "HEAD74" (the file is not changed).
 * Results:
 *	The descriptor (read-write), or -1 after the system error is
 *	printed.
 * Side effects:
 *	Ends the process with status -1 when the file is no ERDAS 7.x
 *	by-line file.
 */
int OpenOLDERDAS(const char *path, unsigned char *header)
{
    int fd = open(path, O_RDWR);
    if (fd < 0) {
        stderrPerror(path);
        return -1;
    }
    ssize_t n = read(fd, header, ERDAS_HEADER_SIZE);
    if (n != ERDAS_HEADER_SIZE) {
        if (n >= 0)
            errno = EIO;
        stderrPerror(path);
        close(fd);
        return -1;
    }
    if (msbFirst())
        hdrv(header);
    if (std::memcmp(header, magic73, 6) == 0) {
        for (int off : {16, 20, 24, 28})
            putHostField<int32_t>(header, off, truncFloat(hostField<float>(header, off)));
        std::memcpy(header, magic74, 6);
    } else if (std::memcmp(header, magic74, 6) != 0) {
        stderrPrintf("Not an ERDAS file.\n");
        erdasExit(-1);
    }
    return fd;
}

/*
 * GetErdasLine --
 *	Reads the line of one band and row (0-based) of a by-line ERDAS file
 *	opened with OpenOLDERDAS into buffer.
 * Results:
 *	The bytes of one line.
 * Side effects:
 *	Ends the process with status 1 on a seek or read failure.
 */
long GetErdasLine(const unsigned char *header, int fd, int band, int row,
                  unsigned char *buffer)
{
    long columns = hostField<int32_t>(header, 16);
    long bands = hostField<int16_t>(header, 8);
    long length = (columns * nBitsErdas(header) + 4) / 8;
    long blockSize = bands * length * row;
    long position = band * length + blockSize + ERDAS_HEADER_SIZE;
    if (lseek(fd, position, SEEK_SET) < 0) {
        stderrPerror("lseek in GetErdasLine");
        erdasExit(1);
    }
    ssize_t n = read(fd, buffer, (size_t)length);
    if (n != (ssize_t)length) {
        int error = n < 0 ? errno : 0;
        stdoutPrintf("headsize %d ", ERDAS_HEADER_SIZE);
        stdoutPrintf("blocksize %ld headUnionSize %d ", blockSize,
                     ERDAS_HEADER_SIZE);
        stdoutPrintf("position %ld request bytes %d\n", position,
                     (int)length);
        errno = error ? error : EIO;
        stderrPerror("read in GetErdasLine");
        if (error == EFAULT)
            stdoutPrintf("Errno EFAULT\n");
        erdasExit(1);
    }
    return length;
}

/*
 * nBitsErdas --
 *	Bits per pixel of the header's pack type (0..4).
 * Side effects:
 *	Ends the process with status 1 on any other pack type.
 */
int nBitsErdas(const unsigned char *header)
{
    long npack = hostField<int16_t>(header, 6);
    switch (npack) {
    case 0: return 8;
    case 1: return 4;
    case 2: return 16;
    case 3:
    case 4: return 32;
    default:
        stderrPrintf("Unsupported NPACK %ld\n", npack);
        erdasExit(1);
        return 0;
    }
}

/* The header's pack type NPACK. */
int pixelType(const unsigned char *header)
{
    return hostField<int16_t>(header, 6);
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static const ImgFormatType erdasTypes[] = {
    {IMG_E73, LAYOUT_BIL}, {IMG_E74, LAYOUT_BIL}, {IMG_E74BSQ, LAYOUT_BSQ},
    {0, 0},
};

extern const ImgFormat erdasFormat = {
    .name = "ERDAS",
    .types = erdasTypes,
    .probe = imgErdas,
    .initHead = initErdasHead,
};
