/*
 * store.cpp --
 *
 *	The process-wide raster store: a list of RAMImage records, newest
 *	first, found by tag or by file name; opening shares a record among all
 *	users of the same file, closing releases one use and destroys the
 *	record when nobody holds it.  Each record carries a direct-mapped line
 *	cache sized near 256 KiB; this file builds and drops it, the line
 *	access (lineCache.cpp) fills and writes it.
 *
 * Design notes (see also the invariants in ramimg.h):
 *  1. A record is in the store from linkRAMImage until unlinkRAMImage;
 *     destroyRAMImage is only called on records outside the store.
 *  2. links + opens + clients count the users.  An open that links a
 *     client leaves `links` unchanged (the client holds it instead).
 *  3. Lifecycle: created (createRAMImage / residentRAMImage) -> linked ->
 *     in use -> unused: destroyed unless locked -> locked and unused: kept
 *     until unlocked and closed once more.
 *  4. Reloading in place (reuse) builds the new cache before changing the
 *     record, so a failure leaves the record as it was.
 *  5. Dirty lines are written before a cache is dropped or rebuilt, and
 *     before a record is destroyed.
 */
#include "core/ramimg.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/bigBuffer.h"
#include "core/hist.h"
#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/stdstream.h"

static RAMImage *storeHead = nullptr;
static int storeCounter = 0;
static int64_t bufLimit = -1;       /* -1: not yet computed */

#define CACHE_TARGET 0x3FFFF        /* bytes a file record's cache aims at */
#define CACHE_MAX_LINES 127

int ramImageCounter(void)
{
    return storeCounter;
}

RAMImage *getRAMImage(void)
{
    return storeHead;
}

RAMImage *getRAMImageByTag(const char *tag)
{
    if (!tag)
        return nullptr;
    for (RAMImage *r = storeHead; r; r = r->next)
        if (std::strncmp(r->tag, tag, 256) == 0)
            return r;
    return nullptr;
}

RAMImage *getRAMImageByName(const char *fileName)
{
    if (!fileName)
        return nullptr;
    for (RAMImage *r = storeHead; r; r = r->next)
        if (std::strncmp(r->info.fileName, fileName, 256) == 0)
            return r;
    return nullptr;
}

const char *ramimgError(int code)
{
    switch (code) {
    case RAMIMG_OK: return "";
    case RAMIMG_ENOMEM: return "Memory allocation error";
    case RAMIMG_EUNKNOWN: return "Unknown image type";
    case RAMIMG_EOPEN: return "Open image file error";
    case RAMIMG_ESYSTEM: return "Error in modifying a system RAMIMG";
    case RAMIMG_EEXIST: return "File already exists";
    case RAMIMG_ECREATE: return "Error in creating a file";
    case RAMIMG_EHANDLE: return "Unable to handle the image";
    default: return "";
    }
}

void ramimgErrorReport(int code)
{
    const char *text = ramimgError(code);
    if (*text)
        stderrPrintf("%s\n", text);
}

int ramImageLineBytes(int pixel, int columns)
{
    int64_t c = columns, n;
    switch (pixel) {
    case PIXEL_1BIT: n = (c + 7) / 8; break;
    case PIXEL_4BITS: n = (c + 1) / 2; break;
    case PIXEL_SHORT:
    case PIXEL_USHORT: n = c * 2; break;
    case PIXEL_LONG:
    case PIXEL_FLOAT:
    case PIXEL_ULONG: n = c * 4; break;
    default: n = c; break;
    }
    /* A damaged header's width saturates here; geometryUsable then
     * refuses it. */
    return n > INT32_MAX ? INT32_MAX : n < INT32_MIN ? INT32_MIN : (int)n;
}

static void setLineOperations(RAMImage *r)
{
    if (isPackedImgID(r->info.imgid)) {
        r->getLine = getRGBRimgLine;
        r->flushLine = flushRGBRimgLine;
    } else {
        r->getLine = getRAMImageLine;
        r->flushLine = flushRAMImageLine;
    }
}

/* The memory types: no file format; a memory type described over a
 * file reads it by line only as MBIL. */
static const ImgFormatType memoryTypes[] = {
    {IMG_MBSQ, LAYOUT_NONE}, {IMG_MBIL, LAYOUT_BIL}, {IMG_MBIP, LAYOUT_NONE},
    {IMG_MRGB32, LAYOUT_NONE}, {IMG_MRGB24, LAYOUT_NONE},
    {IMG_MRGB565, LAYOUT_NONE}, {IMG_MRGB555, LAYOUT_NONE},
    {IMG_MRGB8, LAYOUT_NONE}, {IMG_MRGB4, LAYOUT_NONE},
    {IMG_MRGB1, LAYOUT_NONE}, {0, 0},
};

extern const ImgFormat memoryFormat = {
    .name = "memory",
    .types = memoryTypes,
};

/* ---------------------------------------------------------------------
 * The line cache
 * --------------------------------------------------------------------- */

void setRAMImageBufLimit(int64_t bytes)
{
    bufLimit = bytes;
}

/* The largest cache allocation tried: three quarters of the physical
 * memory, so that an absurd geometry fails cleanly instead of driving
 * the machine out of memory. */
static int64_t cacheLimit(void)
{
    if (bufLimit < 0) {
        long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
        bufLimit = pages > 0 && size > 0 ? (int64_t)pages * size / 4 * 3
                                         : ((int64_t)1 << 40);
    }
    return bufLimit;
}

/* Allocates a cache block; large blocks in huge pages (first touching
 * tens of megabytes page by page costs more than decoding a whole JPEG
 * into them). */
static void *cacheAlloc(int64_t bytes)
{
    if (bytes < ((int64_t)4 << 20))
        return std::malloc((size_t)bytes);
    return bigBufferAlloc((size_t)bytes);
}

/* A built cache, not yet installed in a record. */
struct CacheBlock {
    int *slotMap;
    unsigned char *dirty;
    unsigned char *buffer;
    int lines;
    int total;
};

static size_t dirtyBytes(int total)
{
    return (size_t)total / 8 + 1;
}

static size_t bufferStart(int total)
{
    size_t n = (size_t)total * 4 + dirtyBytes(total);
    return (n + 15) & ~(size_t)15;
}

/* Allocates and fills a cache of `lines` lines per band for the geometry
 * of r (its info, lineBytes and fd).  Returns 0 when memory is short. */
static int buildCache(const RAMImage *r, int lines, int64_t extra,
                      CacheBlock *out)
{
    int nbands = r->info.nbands > 0 ? r->info.nbands : 1;
    for (;;) {
        int64_t total = (int64_t)lines * nbands;
        int64_t bytes = (int64_t)bufferStart((int)total) + extra
                        + total * r->lineBytes;
        void *mem = nullptr;
        if (total <= 0x7FFFFFFF && bytes <= cacheLimit())
            mem = cacheAlloc(bytes);
        if (mem) {
            out->slotMap = static_cast<int *>(mem);
            out->dirty = static_cast<unsigned char *>(mem) + total * 4;
            out->buffer = static_cast<unsigned char *>(mem)
                          + bufferStart((int)total);
            out->lines = lines;
            out->total = (int)total;
            break;
        }
        if (r->fd != -1 && lines - nbands >= 1) {
            lines -= nbands;
            continue;
        }
        stderrPrintf("Fatal error of malloc in: setRAMImageBuf\n");
        return 0;
    }
    int fill = r->info.transparent >= 0 ? (r->info.transparent & 0xFF) : 0;
    std::memset(out->buffer, fill,
                (size_t)out->total * r->lineBytes + (size_t)extra);
    std::memset(out->dirty, 0, dirtyBytes(out->total));
    int fixed = r->fd == -1 && extra == 0;
    for (int i = 0; i < out->total; i++)
        out->slotMap[i] = fixed ? i : -1;
    return 1;
}

/* Lines per band and the packed area a cache of r must have when `lines`
 * are asked for. */
static int cacheLinesFor(const RAMImage *r, int lines, int64_t *extra)
{
    const ImageInfo &info = r->info;
    const ImgFormat *f = imgFormat(info.imgid);
    *extra = 0;
    if (f && (f->readPicture || f->writePicture)) {
        /* Whole pictures: GIF, JPEG and XBM. */
        lines = info.rows;
    } else if (f && f->blockRows) {
        /* A whole number of blocks, at least two. */
        int h = r->privateData ? f->blockRows(r) : 0;
        if (h > 0) {
            lines = ((lines - 1) / h + 1) * h;
            if (lines < 2 * h)
                lines = 2 * h;
        }
    }
    switch (info.imgid) {
    case IMG_MRGB32:
    case IMG_MRGB24:
    case IMG_MRGB565:
    case IMG_MRGB555:
        lines = 3;
        *extra = (int64_t)info.block * info.rows;
        break;
    case IMG_MRGB8:
    case IMG_MRGB4:
    case IMG_MRGB1:
        lines = 1;
        *extra = (int64_t)info.block * info.rows;
        break;
    default:
        break;
    }
    if (lines > info.rows || (r->fd == -1 && *extra == 0))
        lines = info.rows;
    if (lines < 1)
        lines = 1;
    return lines;
}

static void installCache(RAMImage *r, const CacheBlock &c)
{
    std::free(r->slotMap);
    r->slotMap = c.slotMap;
    r->dirty = c.dirty;
    r->buffer = c.buffer;
    r->cacheLines = c.lines;
    r->slotCount = c.total;
}

/*
 * setRAMImageBuf --
 *	(Re)builds the line cache with `lines` lines per band, adjusted to
 *	the image type.
 * Results:
 *	The lines per band of the new cache, or 0 when memory is short (the
 *	old cache is then kept).
 * Side effects:
 *	Dirty lines are written first.  A memory record whose geometry is
 *	unchanged keeps its cache and with it its pixels.
 */
int setRAMImageBuf(RAMImage *r, int lines)
{
    flushRAMImage(r);
    int64_t extra;
    lines = cacheLinesFor(r, lines, &extra);
    if (r->slotMap && r->fd == -1 && r->cacheLines == lines
            && r->slotCount == lines * r->info.nbands)
        return lines;
    CacheBlock c;
    if (!buildCache(r, lines, extra, &c))
        return 0;
    installCache(r, c);
    assert(cacheInvariantsHold(r));
    return r->cacheLines;
}

void flushRAMImage(RAMImage *r)
{
    if (!r->slotMap || !r->flushLine)
        return;
    for (int byte = 0; byte < (r->slotCount + 7) / 8; byte++) {
        if (!r->dirty[byte])
            continue;
        for (int slot = byte * 8; slot < byte * 8 + 8 && slot < r->slotCount;
             slot++)
            if (ramImageSlotDirty(r, slot))
                r->flushLine(r, slot);
    }
}

void inValidateRAMImage(RAMImage *r)
{
    if (!r->slotMap)
        return;
    for (int i = 0; i < r->slotCount; i++)
        r->slotMap[i] = -1;
    std::memset(r->dirty, 0, dirtyBytes(r->slotCount));
}

void updateRAMImageLine(RAMImage *r, int line, int, int, int band)
{
    if (!r->slotMap || r->slotCount <= 0 || line < 0 || line >= r->info.rows
            || band < 0 || band >= r->info.nbands)
        return;
    int key = line * r->info.nbands + band;
    int slot = key % r->slotCount;
    if (r->slotMap[slot] == key)
        ramImageSetDirty(r, slot);
}

bool cacheInvariantsHold(const RAMImage *r)
{
    if (!r->slotMap)
        return r->slotCount == 0 || r->slotCount == -1;
    if (r->slotCount != r->cacheLines * r->info.nbands)
        return false;
    for (int i = 0; i < r->slotCount; i++) {
        int key = r->slotMap[i];
        if (key < -1)
            return false;
        if (key == -1 && ramImageSlotDirty(r, i))
            return false;
        if (key >= 0 && key % r->slotCount != i)
            return false;
    }
    return true;
}

/*
 * setRAMImageMemResident --
 *	on: loads every line into a cache of all rows and closes the file.
 *	off: reopens the file (the cache is kept).
 * Results:
 *	1 on success, 0 when the cache cannot be built or the file opened.
 */
int setRAMImageMemResident(RAMImage *r, int on)
{
    if (on) {
        if (r->fd == -1)
            return 1;
        if (!setRAMImageBuf(r, r->info.rows))
            return 0;
        for (int b = 0; b < r->info.nbands; b++)
            for (int y = 0; y < r->info.rows; y++)
                r->getLine(r, y, b, 1);
        close(r->fd);
        r->fd = -1;
        return 1;
    }
    if (r->fd != -1)
        return 1;
    int fd = open(r->info.fileName, O_RDWR);
    if (fd < 0)
        return 0;
    r->fd = fd;
    return 1;
}

/* ---------------------------------------------------------------------
 * Records
 * --------------------------------------------------------------------- */

static RAMImage *allocRecord(void)
{
    RAMImage *r = static_cast<RAMImage *>(std::calloc(1, sizeof(RAMImage)));
    if (r) {
        r->fd = -1;
        r->volumeCount = -1;
        r->info.extraFd = -1;
        r->info.transparent = -1;
    }
    return r;
}

/* Releases the format's private data the way destroyRAMImage does. */
static void releasePrivate(RAMImage *r)
{
    if (r->destroy) {
        r->destroy(r);
    } else if (r->privateData) {
        /* DICOM records carry their element table whatever their type. */
        const ImgFormat *f = imgMapFormat(r->info.mapid);
        if (f && f->destroy)
            f->destroy(r);
        else
            std::free(r->privateData);
    }
    r->privateData = nullptr;
    r->destroy = nullptr;
    r->seek = nullptr;
}

static void dropHistograms(RAMImage *r)
{
    if (r->histograms)
        deleteHist(r->histograms, r->info.nbands);
    r->histograms = nullptr;
}

/* Bytes of one stored line when the description leaves it too small. */
static int minimumBlock(const ImageInfo &info, int lineBytes)
{
    /* A JPEG record's block is its encoding quality, not a line size. */
    if (info.block >= lineBytes || info.imgid == IMG_JPEG)
        return info.block;
    int64_t cb = (int64_t)info.columns * info.bits;
    switch (info.imgid) {
    case IMG_BIP:
    case IMG_TIFF:
        return (int)(info.nbands * cb / 8);
    case IMG_DIB:
        return (int)((info.nbands * cb + 31) / 32 * 4);
    default:
        return (int)((cb + 7) / 8);
    }
}

/* Lines per band of a file record's cache: the first count from 4 whose
 * cache exceeds the target size, at most 127. */
static int defaultCacheLines(const RAMImage *r)
{
    int64_t nb = r->info.nbands, lb = r->lineBytes;
    int n = 4;
    while (n < CACHE_MAX_LINES
           && nb * n * lb + nb * n * 4 + nb * n / 8 + 1 <= CACHE_TARGET)
        n++;
    return n;
}

/* Checks what a description must satisfy before a cache is built for
 * it: positive geometry whose line sizes fit an int. */
static int geometryUsable(const ImageInfo &info)
{
    if (info.rows < 1 || info.columns < 1 || info.nbands < 1)
        return 0;
    /* By division: the product of two damaged fields can overflow even
     * 64 bits. */
    return info.columns <= INT_MAX / 4 / info.nbands && info.bits >= 0;
}

/* A file may ask for a large cache only when it could hold the pixels
 * that fill it: a damaged header claiming millions of bands or a vast
 * canvas would otherwise claim gigabytes from a few bytes.  Compressed
 * whole pictures may expand 4096 times; raw layouts not at all. */
static int cachePlausible(const RAMImage *r, int lines, int64_t extra)
{
    const int64_t smallCache = (int64_t)64 << 20;
    int64_t bytes = (int64_t)lines * r->info.nbands * r->lineBytes + extra;
    if (bytes <= smallCache)
        return 1;
    struct stat st;
    if (fstat(r->fd, &st) != 0)
        return 1;
    int64_t expansion;
    switch (r->info.imgid) {
    case IMG_GIF87A:
    case IMG_GIF89A:
    case IMG_JPEG:
    case IMG_TIFF:
    case IMG_MPEG:
        expansion = 4096;
        break;
    case IMG_XBMP:
        return 1;
    default:
        expansion = 1;
        break;
    }
    return (int64_t)st.st_size * expansion >= bytes;
}

/* A file whose lines lie where its description says (the raw layouts:
 * band-sequential, by line, by pixel, DIB) must hold them all, every
 * volume, but for a last line cut short: a damaged header claiming
 * millions of rows or bands of a small file would otherwise be read for
 * hours.  Other layouts are checked by their format's probe. */
static int fileHoldsLines(const RAMImage *r)
{
    const ImageInfo &info = r->info;
    int layout = imgLayout(info.imgid);
    if (layout != LAYOUT_BSQ && layout != LAYOUT_BIL && layout != LAYOUT_BIP
            && layout != LAYOUT_DIB)
        return 1;
    struct stat st;
    if (r->fd < 0 || fstat(r->fd, &st) != 0 || !S_ISREG(st.st_mode))
        return 1;
    bool everyBand = layout == LAYOUT_BSQ || layout == LAYOUT_BIL;
    __int128 lines = (__int128)info.rows * (everyBand ? info.nbands : 1)
                     * (info.volumes > 1 ? info.volumes : 1);
    __int128 need = info.offset + (lines - 1) * info.block;
    if (need <= st.st_size)
        return 1;
    stderrPrintf("Image file too short: %s declares %d x %d pixels in %d"
                 " bands of %s, %.0f bytes from offset %d, but has %lld"
                 " bytes.\n", info.fileName, info.columns, info.rows,
                 info.nbands, strPixelID(info.pixel),
                 (double)(lines * info.block), info.offset,
                 (long long)st.st_size);
    return 0;
}

/* Moves a freshly built state (description, file, private data,
 * operations and cache) into `reuse`, whose old state is written and
 * released, or into a new record.  Returns null only when a new record
 * cannot be allocated; the fresh state is then untouched. */
static RAMImage *takeOver(RAMImage *reuse, RAMImage *fresh,
                          const CacheBlock &c)
{
    RAMImage *r = reuse;
    if (r) {
        flushRAMImage(r);
        releasePrivate(r);
        dropHistograms(r);
        if (r->fd != -1)
            close(r->fd);
    } else if (!(r = allocRecord())) {
        return nullptr;
    }
    r->info = fresh->info;
    r->fd = fresh->fd;
    r->lineBytes = fresh->lineBytes;
    r->volume = 0;
    r->volumeCount = -1;
    r->dataOffset = fresh->fd == -1 ? 0 : r->info.offset;
    r->privateData = fresh->privateData;
    r->seek = fresh->seek;
    r->destroy = fresh->destroy;
    setLineOperations(r);
    installCache(r, c);
    return r;
}

/*
 * createRAMImage --
 *	Loads a record from a file: probed, or read as `info` describes when
 *	info is given.  With `reuse` the record is reloaded in place (tag,
 *	counts, clients and store position kept).
 * Results:
 *	The record, or null with *errorOut set: 3 the file cannot be opened,
 *	8 a probe aborted, 2 not recognised, 1 out of memory.
 */
RAMImage *createRAMImage(const char *fileName, const ImageInfo *info,
                         RAMImage *reuse, int *errorOut)
{
    int localError;
    int *err = errorOut ? errorOut : &localError;
    *err = RAMIMG_OK;
    int fd = open(fileName, O_RDWR);
    if (fd < 0) {
        *err = RAMIMG_EOPEN;
        return nullptr;
    }
    ImageInfo probed;
    void *priv = nullptr;
    if (!info) {
        std::memset(&probed, 0, sizeof probed);
        int type = imgTypes(fd, fileName, &probed, &priv);
        if (type <= 0) {
            close(fd);
            *err = type < 0 ? RAMIMG_EHANDLE : RAMIMG_EUNKNOWN;
            return nullptr;
        }
        if (probed.extraFd != -1) {
            close(fd);
            fd = probed.extraFd;
        }
    } else {
        probed = *info;
        probed.extraFd = -1;
    }
    std::snprintf(probed.fileName, sizeof probed.fileName, "%s", fileName);
    probed.bits = probed.bits > 0 ? probed.bits : pixelBits(probed.pixel);

    /* Build the new state beside the record first (design note 4). */
    RAMImage fresh;
    std::memset(&fresh, 0, sizeof fresh);
    fresh.info = probed;
    fresh.fd = fd;
    fresh.privateData = priv;
    fresh.lineBytes = ramImageLineBytes(probed.pixel, probed.columns);
    fresh.info.block = minimumBlock(probed, fresh.lineBytes);
    const ImgFormat *format = imgFormat(probed.imgid);
    if (format) {
        fresh.seek = format->seek;
        fresh.destroy = format->destroy;
    }
    auto refuse = [&](int code) -> RAMImage * {
        releasePrivate(&fresh);
        close(fd);
        *err = code;
        return nullptr;
    };
    if (!geometryUsable(fresh.info) || !fileHoldsLines(&fresh))
        return refuse(RAMIMG_EHANDLE);
    int64_t extra;
    int lines = cacheLinesFor(&fresh, defaultCacheLines(&fresh), &extra);
    if (!cachePlausible(&fresh, lines, extra))
        return refuse(RAMIMG_EHANDLE);
    CacheBlock c;
    if (!buildCache(&fresh, lines, extra, &c))
        return refuse(RAMIMG_ENOMEM);

    RAMImage *r = takeOver(reuse, &fresh, c);
    if (!r) {
        std::free(c.slotMap);
        return refuse(RAMIMG_ENOMEM);
    }

    if (format && format->open && !format->open(r)) {
        *err = RAMIMG_EOPEN;
        if (!reuse)
            destroyRAMImage(r);
        return nullptr;
    }
    *err = RAMIMG_OK;
    return r;
}

/*
 * residentRAMImage --
 *	Makes a memory-resident record from info (or reshapes `reuse`, whose
 *	file, if any, is closed after its dirty lines are written).
 * Results:
 *	The record, or null with code 1 when memory is short (a reused
 *	record is then left as it was).
 */
RAMImage *residentRAMImage(const ImageInfo *info, RAMImage *reuse,
                           int *errorOut)
{
    int localError;
    int *err = errorOut ? errorOut : &localError;
    *err = RAMIMG_OK;
    RAMImage fresh;
    std::memset(&fresh, 0, sizeof fresh);
    fresh.info = *info;
    fresh.info.extraFd = -1;
    fresh.fd = -1;
    fresh.info.bits = pixelBits(fresh.info.pixel);
    fresh.lineBytes = ramImageLineBytes(fresh.info.pixel, fresh.info.columns);
    if (fresh.info.imgid == IMG_MBIP
            && fresh.info.block < fresh.lineBytes * fresh.info.nbands)
        fresh.info.block = fresh.lineBytes * fresh.info.nbands;
    if (!geometryUsable(fresh.info)) {
        *err = RAMIMG_ENOMEM;
        return nullptr;
    }
    if (isPackedImgID(fresh.info.imgid)
            && fresh.info.block < packedRGBBlock(fresh.info.imgid,
                                                 fresh.info.columns))
        fresh.info.block = packedRGBBlock(fresh.info.imgid,
                                          fresh.info.columns);
    int64_t extra;
    int lines = cacheLinesFor(&fresh, fresh.info.rows, &extra);
    CacheBlock c;
    if (!buildCache(&fresh, lines, extra, &c)) {
        *err = RAMIMG_ENOMEM;
        return nullptr;
    }
    RAMImage *r = takeOver(reuse, &fresh, c);
    if (!r) {
        std::free(c.slotMap);
        *err = RAMIMG_ENOMEM;
        return nullptr;
    }
    return r;
}

/*
 * updateRAMImage --
 *	Reloads a record: memory types from the description, file records
 *	from the file.
 */
RAMImage *updateRAMImage(const char *fileName, const ImageInfo *info,
                         RAMImage *r, int *errorOut)
{
    if (isMemoryImgID(info ? info->imgid : r->info.imgid))
        return residentRAMImage(info ? info : &r->info, r, errorOut);
    return createRAMImage(fileName, info, r, errorOut);
}

/*
 * openRAMImage --
 *	Opens or shares a record: by tag (reloaded when the file name
 *	differs), as a memory image when only info is given, by file name,
 *	or newly created from the file.
 * Results:
 *	The record with one more link (or the client linked), or null with
 *	*errorOut set.
 */
RAMImage *openRAMImage(const char *tag, const char *fileName,
                       const ImageInfo *info, RAMImageClient *client,
                       int *errorOut)
{
    int localError;
    int *err = errorOut ? errorOut : &localError;
    *err = RAMIMG_OK;
    if (fileName && !*fileName)
        fileName = nullptr;
    RAMImage *r = getRAMImageByTag(tag);
    if (r && fileName && std::strncmp(fileName, r->info.fileName, 256) != 0) {
        if (createRAMImage(fileName, nullptr, r, err))
            return r;
        if (*err == RAMIMG_ENOMEM)
            return nullptr;
        r = getRAMImageByTag(fileName);
    }
    if (info && !fileName) {
        if (r && ((r->attributes & RAMIMG_LOCKED) || r->fd != -1)) {
            *err = RAMIMG_ESYSTEM;
            return nullptr;
        }
        if (r) {
            if (!residentRAMImage(info, r, err))
                return nullptr;
        } else {
            r = residentRAMImage(info, nullptr, err);
            if (!r)
                return nullptr;
            linkRAMImage(tag, r);
        }
    }
    if (!r && !info)
        r = getRAMImageByName(fileName);
    if (!r) {
        if (!fileName) {
            *err = RAMIMG_EOPEN;
            return nullptr;
        }
        r = createRAMImage(fileName, info, nullptr, err);
        if (!r)
            return nullptr;
        linkRAMImage(tag, r);
    }
    r->links++;
    linkRAMImageClient(client, r);
    *err = RAMIMG_OK;
    return r;
}

/*
 * openRAMImageNew --
 *	Creates the file info describes (unless it exists and overwrite is
 *	0) and opens it: probed when it has a header, else as described.
 */
RAMImage *openRAMImageNew(ImageInfo *info, RAMImageClient *client,
                          int overwrite, int *errorOut)
{
    int localError;
    int *err = errorOut ? errorOut : &localError;
    *err = RAMIMG_OK;
    if (!overwrite && access(info->fileName, F_OK) == 0) {
        *err = RAMIMG_EEXIST;
        return nullptr;
    }
    if (createImage(info) < 0) {
        *err = RAMIMG_ECREATE;
        return nullptr;
    }
    return openRAMImage(nullptr, info->fileName,
                        info->offset != 0 ? nullptr : info, client, err);
}

/*
 * closeRAMImage --
 *	Releases one use: the client when it is linked, else one link.  A
 *	record left unused and unlocked is written and destroyed.
 * Results:
 *	The remaining links; 0 when destroyed or locked and unused.
 */
int closeRAMImage(RAMImage *r, RAMImageClient *client)
{
    if (client && unlinkRAMImageClient(client, r)) {
        /* the client's use ends; its open left links unchanged */
    } else if (r->links > 0) {
        r->links--;
    }
    if (r->opens < 1 && r->links < 1 && !r->clients) {
        if (r->attributes & RAMIMG_LOCKED)
            return 0;
        unlinkRAMImage(r);
        flushRAMImage(r);
        destroyRAMImage(r);
        return 0;
    }
    return r->links;
}

/*
 * destroyRAMImage --
 *	Writes dirty lines, releases private data, histograms, file and
 *	cache, and frees the record.  The record must be out of the store.
 */
void destroyRAMImage(RAMImage *r)
{
    if (!r)
        return;
    flushRAMImage(r);
    releasePrivate(r);
    dropHistograms(r);
    if (r->fd != -1)
        close(r->fd);
    std::free(r->slotMap);
    std::free(r);
}

int attrRAMImage(RAMImage *r, int attributes)
{
    int old = r->attributes;
    r->attributes = attributes;
    return old;
}

/* ---------------------------------------------------------------------
 * Clients
 * --------------------------------------------------------------------- */

int linkRAMImageClient(RAMImageClient *client, RAMImage *r)
{
    if (!client)
        return 0;
    for (RAMImageClient *c = r->clients; c; c = c->next)
        if (c == client)
            return 1;
    unlinkClient(client);
    client->next = r->clients;
    r->clients = client;
    r->links--;
    return 1;
}

int unlinkRAMImageClient(RAMImageClient *client, RAMImage *r)
{
    for (RAMImageClient **p = &r->clients; *p; p = &(*p)->next) {
        if (*p == client) {
            *p = client->next;
            client->next = nullptr;
            return 1;
        }
    }
    return 0;
}

RAMImage *unlinkClient(RAMImageClient *client)
{
    for (RAMImage *r = storeHead; r; r = r->next)
        if (unlinkRAMImageClient(client, r))
            return r;
    return nullptr;
}

int ramImageClientCount(const RAMImage *r)
{
    int n = 0;
    for (RAMImageClient *c = r->clients; c; c = c->next)
        n++;
    return n;
}

/*
 * updateClient --
 *	Tells every client but the owner's: bit 0 of flags calls the
 *	configure callbacks, bit 1 the update callbacks.
 */
void updateClient(RAMImage *r, void *ownerToken, int flags)
{
    RAMImageClient *next;
    for (RAMImageClient *c = r->clients; c; c = next) {
        next = c->next;
        if (c->owner == ownerToken)
            continue;
        if ((flags & 1) && c->configProc)
            c->configProc(c->clientData);
        if ((flags & 2) && c->updateProc)
            c->updateProc(c->clientData);
    }
}

/* ---------------------------------------------------------------------
 * The store list
 * --------------------------------------------------------------------- */

void linkRAMImage(const char *tag, RAMImage *r)
{
    if (tag && *tag)
        std::snprintf(r->tag, sizeof r->tag, "%s", tag);
    else
        std::snprintf(r->tag, sizeof r->tag, "rimg%d", storeCounter);
    storeCounter++;
    r->next = storeHead;
    storeHead = r;
}

void unlinkRAMImage(RAMImage *r)
{
    for (RAMImage **p = &storeHead; *p; p = &(*p)->next) {
        if (*p == r) {
            *p = r->next;
            r->next = nullptr;
            return;
        }
    }
}
