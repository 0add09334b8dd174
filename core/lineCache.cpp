/*
 * lineCache.cpp --
 *
 *	Lines of one band through a record's direct-mapped line cache: the
 *	misses that fill a slot from the file's layout (band-sequential,
 *	by line, by pixel, bottom-up DIB, TIFF strips, whole pictures and
 *	frames), the write-back of dirty slots, volume selection, and the
 *	whole-file loaders.  Cached lines hold one band each with values in
 *	host order; interleave.cpp converts.  The cache itself (slot map,
 *	dirty bits, sizing) is built by the store (store.cpp).
 *
 * Design notes (with the invariants in ramimg.h):
 *  1. A miss claims its slot first (writing a dirty occupant out), then
 *     fills it.  When the fill fails (short read, no TIFF block) the slot
 *     keeps its key and the line reads as it was.
 *  2. Layouts that keep every band of a line together (BIP, FFT, PPM,
 *     DIB, TIFF) fill all bands of the line on a miss.  A band whose slot
 *     already holds its key is kept: it may hold changes not yet written.
 *     Writing one band writes the whole line, the other bands from their
 *     slots, or from the file when they are not cached.
 *  3. Read-ahead: a miss on the first line or on a line whose predecessor
 *     in the same band is cached (a forward scan) also fills the lines
 *     that follow it in the file (up to 1 MiB), while their slots are
 *     clean and do not hold them already, and never so many that fewer
 *     than max(4, cacheLines / 2) lines of a band stay cached up to the
 *     one asked for: a caller may hold that many recent lines of a band.
 *     Write-behind mirrors it: writing a dirty BSQ or BIL line out also
 *     writes the dirty lines that follow it in the file, in one call.
 *  4. Values reach host order on the way in (only the bytes actually
 *     read) and the file's order in a copy on the way out: a cached line
 *     is never in file order.
 *  5. A miss with read 0 on a whole-picture format only claims its slot,
 *     and so does any miss while the format's reader or writer runs on
 *     the record: the format code can fill the cache through
 *     getRAMImageLine without recursion, also when the store calls it.
 *  6. Lines outside the image read and write a scratch line, never a
 *     slot.
 *  7. Runs of whole lines whose file bytes are the caller's floats (host-
 *     order FLOAT by band lines) bypass the cache where it does not hold
 *     them: a module streaming a large band then pays one copy, by the
 *     kernel, instead of two.  A cached line is used, or updated, in its
 *     slot, so the cache never holds a line older than the file.
 */
#include "core/lineAccess.h"

#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/hist.h"
#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/interleave.h"
#include "core/stdstream.h"

#define MAX_IOVECS 1024
#define READ_AHEAD_BYTES (1 << 20)  /* a longer read gains nothing */

/* ---------------------------------------------------------------------
 * Small helpers
 * --------------------------------------------------------------------- */

static inline unsigned char *slotLine(RAMImage *r, int slot)
{
    return r->buffer + (size_t)slot * r->lineBytes;
}

static inline bool lineInImage(const RAMImage *r, int y, int b)
{
    return y >= 0 && y < r->info.rows && b >= 0 && b < r->info.nbands
           && (int64_t)r->info.rows * r->info.nbands <= INT_MAX;
}

/* Records whose whole-picture reader or writer is running (note 5). */
static std::vector<const RAMImage *> busyRecords;

struct BusyGuard {
    explicit BusyGuard(const RAMImage *r) { busyRecords.push_back(r); }
    ~BusyGuard() { busyRecords.pop_back(); }
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;
};

static bool recordBusy(const RAMImage *r)
{
    return std::find(busyRecords.begin(), busyRecords.end(), r)
           != busyRecords.end();
}

/*
 * ramImageScratchLine --
 *	A zeroed line for a request outside the image: as long as the
 *	record's lines (and packed lines); what is written there is lost.
 *	Earlier scratch lines stay valid when a longer one is needed.
 */
unsigned char *ramImageScratchLine(RAMImage *r)
{
    static std::vector<std::unique_ptr<unsigned char[]>> lines;
    static size_t size = 0;
    size_t need = (size_t)std::max({r->lineBytes, r->info.block, 1});
    if (need > size) {
        lines.emplace_back(new unsigned char[need]);
        size = need;
    }
    std::memset(lines.back().get(), 0, need);
    return lines.back().get();
}

/* Reads (or writes) up to the iovecs' total at pos, retrying interrupted
 * and partial transfers; the iovecs are consumed.  Returns the bytes
 * moved. */
static int64_t moveVector(int fd, std::vector<iovec> &iov, int64_t pos,
                          bool write)
{
    int64_t total = 0;
    size_t first = 0;
    while (first < iov.size()) {
        int count = (int)std::min<size_t>(iov.size() - first, IOV_MAX);
        ssize_t n = write ? pwritev(fd, iov.data() + first, count,
                                    (off_t)(pos + total))
                          : preadv(fd, iov.data() + first, count,
                                   (off_t)(pos + total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += n;
        while (n > 0 && first < iov.size()) {
            if ((size_t)n >= iov[first].iov_len) {
                n -= (ssize_t)iov[first].iov_len;
                first++;
            } else {
                iov[first].iov_base = static_cast<char *>(iov[first].iov_base)
                                      + n;
                iov[first].iov_len -= (size_t)n;
                n = 0;
            }
        }
    }
    return total;
}

static int64_t readVector(int fd, std::vector<iovec> &iov, int64_t pos)
{
    return moveVector(fd, iov, pos, false);
}

static int64_t readBytes(int fd, unsigned char *dst, int64_t size,
                         int64_t pos)
{
    std::vector<iovec> iov{{dst, (size_t)size}};
    return readVector(fd, iov, pos);
}

/* Writes size bytes at pos; a failure is reported, not fatal. */
static void writeBytes(RAMImage *r, const unsigned char *src, int64_t size,
                       int64_t pos)
{
    int64_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(r->fd, src + done, (size_t)(size - done),
                           (off_t)(pos + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            stderrPrintf("Error in writing image: %s\n", r->info.fileName);
            return;
        }
        done += n;
    }
}

/* Swaps the whole values among the first `bytes` bytes of a line read
 * from the file. */
static void fileToHost(const RAMImage *r, unsigned char *data, int64_t bytes)
{
    if (pixelSwapNeeded(&r->info))
        pixelByteSwap(r->info.pixel,
                      (int)(bytes / pixelValueBytes(r->info.pixel)), data);
}

/* Lines a read-ahead may span, the asked-for one included (note 3), for
 * file lines of `bytes` bytes. */
static int runLines(const RAMImage *r, int64_t bytes)
{
    int keep = std::max(4, r->cacheLines / 2);
    int64_t lines = std::min<int64_t>(r->cacheLines - keep + 1,
                                      READ_AHEAD_BYTES / std::max<int64_t>(
                                                             bytes, 1));
    return (int)std::max<int64_t>(1, lines);
}

/* True on the first line or when line y - 1 of band b is cached. */
static bool forwardScan(const RAMImage *r, int y, int b)
{
    if (y == 0)
        return true;
    int key = (y - 1) * r->info.nbands + b;
    return r->slotMap[key % r->slotCount] == key;
}

/* ---------------------------------------------------------------------
 * Band lines: BSQ and BIL
 * --------------------------------------------------------------------- */

static int64_t bandLinePos(const RAMImage *r, int y, int b)
{
    const ImageInfo &info = r->info;
    int64_t record = imgLayout(info.imgid) == LAYOUT_BSQ
                         ? (int64_t)b * info.rows + y
                         : (int64_t)y * info.nbands + b;
    return r->dataOffset + record * info.block;
}

/* Fills the claimed slot of (y, b), and with read-ahead the slots of the
 * band lines that follow it in the file: along the band for BSQ, key
 * after key for BIL. */
static void readBandLines(RAMImage *r, int y, int b)
{
    const ImageInfo &info = r->info;
    const int nb = info.nbands, key = y * nb + b;
    const bool bsq = imgLayout(info.imgid) == LAYOUT_BSQ;
    const int step = bsq ? nb : 1;
    int limit = 1;
    if (info.block == r->lineBytes && forwardScan(r, y, b)) {
        int64_t bytes = (int64_t)r->lineBytes * (bsq ? 1 : nb);
        int lines = std::min(runLines(r, bytes), info.rows - y);
        limit = (int)std::min<int64_t>(bsq ? lines : (int64_t)lines * nb - b,
                                       MAX_IOVECS);
    }
    static std::vector<iovec> iov;
    iov.clear();
    int n = 0;
    for (; n < limit; n++) {
        int k = key + n * step, slot = k % r->slotCount;
        if (n > 0 && (r->slotMap[slot] == k || ramImageSlotDirty(r, slot)))
            break;
        unsigned char *p = slotLine(r, slot);
        if (!iov.empty() && static_cast<unsigned char *>(iov.back().iov_base)
                                    + iov.back().iov_len == p)
            iov.back().iov_len += (size_t)r->lineBytes;
        else
            iov.push_back({p, (size_t)r->lineBytes});
    }
    int64_t got = readVector(r->fd, iov, bandLinePos(r, y, b));
    for (int i = 0; i < n; i++) {
        int64_t bytes = std::min<int64_t>(
            std::max<int64_t>(got - (int64_t)i * r->lineBytes, 0),
            r->lineBytes);
        if (i > 0 && bytes == 0)
            break;
        int k = key + i * step, slot = k % r->slotCount;
        r->slotMap[slot] = k;
        fileToHost(r, slotLine(r, slot), bytes);
    }
}

/* ---------------------------------------------------------------------
 * Runs of whole float lines straight between file and caller (note 7)
 * --------------------------------------------------------------------- */

/* True when whole lines of band b of r move between the file and a float
 * buffer byte for byte: a band-sequential or by-line file of host-order
 * FLOAT whose lines have no padding, with no format code running. */
static bool directFloatLines(const RAMImage *r, int line, int n, int b)
{
    const ImageInfo &info = r->info;
    int layout = imgLayout(info.imgid);
    return r->fd >= 0 && r->slotMap && r->slotCount > 0
           && r->getLine == getRAMImageLine
           && (layout == LAYOUT_BSQ || layout == LAYOUT_BIL)
           && info.pixel == PIXEL_FLOAT && !pixelSwapNeeded(&info)
           && info.nindices < 1 && info.block == r->lineBytes
           && (int64_t)r->lineBytes == (int64_t)info.columns * 4
           && n > 0 && lineInImage(r, line, b) && n <= info.rows - line
           && !recordBusy(r);
}

/* Moves the lines of `iov` (consecutive in the file from pos) as one
 * transfer.  Results: how many whole lines moved. */
static int moveLineRun(RAMImage *r, std::vector<iovec> &iov, int64_t pos,
                       bool write)
{
    size_t lines = iov.size();
    int64_t moved = moveVector(r->fd, iov, pos, write);
    iov.clear();
    return (int)std::min<int64_t>(moved / r->lineBytes, (int64_t)lines);
}

/*
 * readFloatBILLines, writeFloatBILLines --
 *	Whole lines line .. line + n - 1 of one band as floats, line i at
 *	buf + i * stride.  Where the file holds them as such, lines not in
 *	the cache move straight between file and buffer, one transfer per
 *	run of lines adjacent in the file; cached lines (which may hold
 *	changes not yet written) are copied from or into their slots.
 *	Otherwise, and for lines a short transfer left out, line by line as
 *	readFloatBILData and putFloatBILData.
 */
/* The direct path of both: cached lines through their slots, the others
 * one transfer per run of lines adjacent in the file.  Lines a short
 * read left out are read line by line; a short write is reported once. */
static void moveFloatLines(RAMImage *r, int line, int n, int band,
                           float *buf, size_t stride, bool write)
{
    std::vector<iovec> iov;
    int first = 0;
    int64_t pos = 0;
    bool reported = false;
    auto finish = [&](void) {
        int run = (int)iov.size();
        if (run == 0)
            return;
        int moved = moveLineRun(r, iov, pos, write);
        if (write && moved < run && !reported) {
            stderrPrintf("Error in writing image: %s\n", r->info.fileName);
            reported = true;
        }
        for (int i = first + moved; !write && i < first + run; i++)
            readFloatBILData(r, line + i, 0, r->info.columns, band,
                             buf + i * stride);
    };
    for (int i = 0; i < n; i++) {
        int key = (line + i) * r->info.nbands + band, slot = key % r->slotCount;
        float *values = buf + i * stride;
        if (r->slotMap[slot] == key) {
            finish();
            if (write) {
                std::memcpy(slotLine(r, slot), values, (size_t)r->lineBytes);
                ramImageSetDirty(r, slot);
            } else
                std::memcpy(values, slotLine(r, slot), (size_t)r->lineBytes);
            continue;
        }
        int64_t at = bandLinePos(r, line + i, band);
        if (!iov.empty() && at != pos + (int64_t)iov.size() * r->lineBytes)
            finish();
        if (iov.empty()) {
            first = i;
            pos = at;
        }
        iov.push_back({values, (size_t)r->lineBytes});
    }
    finish();
}

void readFloatBILLines(RAMImage *r, int line, int n, int band, float *out,
                       size_t stride)
{
    if (directFloatLines(r, line, n, band)) {
        moveFloatLines(r, line, n, band, out, stride, false);
        return;
    }
    for (int i = 0; i < n; i++)
        readFloatBILData(r, line + i, 0, r->info.columns, band, out + i * stride);
}

void writeFloatBILLines(RAMImage *r, int line, int n, int band,
                        const float *in, size_t stride)
{
    if (directFloatLines(r, line, n, band)) {
        /* the buffer is only read: moveVector's pwritev takes iovecs */
        moveFloatLines(r, line, n, band, const_cast<float *>(in), stride, true);
        return;
    }
    for (int i = 0; i < n; i++)
        putFloatBILData(r, line + i, 0, r->info.columns, band, in + i * stride);
}

/* ---------------------------------------------------------------------
 * Whole lines: BIP, FFT, PPM, DIB, TIFF
 * --------------------------------------------------------------------- */

/* DIB lines with several bands are dealt byte by byte. */
static bool dealsBytes(const RAMImage *r)
{
    return imgLayout(r->info.imgid) == LAYOUT_DIB && r->info.nbands > 1;
}

/* Bytes of a file line that hold pixel values. */
static int64_t fileLineBytes(const RAMImage *r)
{
    const ImageInfo &info = r->info;
    if (imgLayout(info.imgid) == LAYOUT_DIB)
        return (int64_t)info.nbands * r->lineBytes;
    return interleavedLineBytes(info.pixel, info.nbands, info.columns);
}

static int64_t fileLinePos(const RAMImage *r, int y)
{
    int64_t record = imgLayout(r->info.imgid) == LAYOUT_DIB
                     ? r->info.rows - y - 1 : y;
    return r->dataOffset + record * r->info.block;
}

/* How the samples of a file line interleave: bytes for a dealt DIB,
 * otherwise the image's values. */
struct LineSamples {
    int pixel, msbf, columns;
};

static LineSamples lineSamples(const RAMImage *r)
{
    if (dealsBytes(r))
        return {PIXEL_BYTE, 0, r->lineBytes};
    return {r->info.pixel, r->info.msbf, r->info.columns};
}

/* Host-order file line -> band lines (null: band left out). */
static void distributeLine(const RAMImage *r, const unsigned char *data,
                           unsigned char *const *bands)
{
    LineSamples s = lineSamples(r);
    putBIPBlockIntoBuf(s.pixel, s.msbf, r->info.nbands, s.columns, data,
                       bands);
}

static void gatherLine(const RAMImage *r, const unsigned char *const *bands,
                       unsigned char *data)
{
    LineSamples s = lineSamples(r);
    getBIPBlockFromBuf(s.pixel, s.msbf, r->info.nbands, s.columns, bands,
                       data);
}

/* True when no band slot of line y is dirty or already holds its key,
 * so a read-ahead may fill the line. */
static bool lineFree(const RAMImage *r, int y)
{
    for (int b = 0; b < r->info.nbands; b++) {
        int key = y * r->info.nbands + b, slot = key % r->slotCount;
        if (r->slotMap[slot] == key || ramImageSlotDirty(r, slot))
            return false;
    }
    return true;
}

/* Claims the slots of every band of line y, writing dirty occupants out;
 * bands (other than `band`) whose slot already holds their key are kept
 * and get a null entry in lines. */
static void claimLine(RAMImage *r, int y, int band,
                      std::vector<unsigned char *> &lines)
{
    const int nb = r->info.nbands;
    lines.assign((size_t)nb, nullptr);
    for (int b = 0; b < nb; b++) {
        int key = y * nb + b, slot = key % r->slotCount;
        if (r->slotMap[slot] == key && b != band)
            continue;
        if (r->slotMap[slot] != key && ramImageSlotDirty(r, slot))
            flushRAMImageLine(r, slot);
        r->slotMap[slot] = key;
        lines[(size_t)b] = slotLine(r, slot);
    }
}

/* Converts `bytes` bytes of a file line at data (room for a whole line)
 * to host order and distributes it into lines; a partly read line is
 * completed from the lines' present contents first. */
static void decodeLine(RAMImage *r, unsigned char *data, int64_t bytes,
                       const std::vector<unsigned char *> &lines)
{
    int64_t need = fileLineBytes(r);
    fileToHost(r, data, bytes);
    if (bytes < need) {
        /* A trailing partial value counts as not read. */
        int size = std::max(pixelValueBytes(r->info.pixel), 1);
        bytes -= bytes % size;
        static std::vector<unsigned char> whole;
        whole.assign((size_t)need, 0);
        gatherLine(r, lines.data(), whole.data());
        std::memcpy(whole.data(), data, (size_t)bytes);
        distributeLine(r, whole.data(), lines.data());
        return;
    }
    distributeLine(r, data, lines.data());
}

/* Fills line y (band b asked for) of a BIP or DIB file, with read-ahead
 * of the following lines. */
static void readFileLines(RAMImage *r, int y, int b)
{
    const ImageInfo &info = r->info;
    const int64_t need = fileLineBytes(r), block = info.block;
    std::vector<unsigned char *> lines;
    claimLine(r, y, b, lines);
    int n = 1;
    if (block >= need && forwardScan(r, y, b)) {
        int limit = std::min(runLines(r, block), info.rows - y);
        while (n < limit && lineFree(r, y + n))
            n++;
    }
    /* Lines y .. y + n - 1 lie together in the file: ascending, or
     * descending for the bottom-up DIB. */
    const bool bottomUp = imgLayout(info.imgid) == LAYOUT_DIB;
    const int64_t stride = std::max(block, need);
    static std::vector<unsigned char> data;
    data.resize((size_t)(n * stride));
    int64_t pos = fileLinePos(r, bottomUp ? y + n - 1 : y);
    int64_t got = readBytes(r->fd, data.data(), n * block, pos);
    for (int i = 0; i < n; i++) {
        int64_t j = bottomUp ? n - 1 - i : i;
        int64_t bytes = std::min(std::max<int64_t>(got - j * block, 0),
                                 std::min(block, need));
        if (bytes == 0)
            continue;
        if (i > 0)
            claimLine(r, y + i, -1, lines);
        decodeLine(r, data.data() + j * stride, bytes, lines);
    }
}

/* Fills line y (band b asked for) from the format's block holding it
 * (a TIFF strip or tile row), and the other lines of that block whose
 * slots are free and not shared with line y. */
static void readBlockLines(RAMImage *r, int y, int b)
{
    const ImageInfo &info = r->info;
    const ImgFormat *f = imgFormat(info.imgid);
    std::vector<unsigned char *> lines;
    claimLine(r, y, b, lines);
    if (!f || !f->readBlock)
        return;
    int row = y, count = 0;
    std::unique_ptr<unsigned char, void (*)(void *)> block(
        f->readBlock(r, &row, &count), std::free);
    if (!block || count < 1 || info.block < fileLineBytes(r))
        return;
    int from = std::max(row, 0);
    int to = (int)std::min<int64_t>((int64_t)row + count, info.rows);
    for (int line = from; line < to; line++) {
        unsigned char *data = block.get() + (int64_t)(line - row) * info.block;
        if (line != y) {
            if ((line - y) % r->cacheLines == 0 || !lineFree(r, line))
                continue;
            std::vector<unsigned char *> other;
            claimLine(r, line, -1, other);
            decodeLine(r, data, info.block, other);
        } else {
            decodeLine(r, data, info.block, lines);
        }
    }
}

/* Writes line y of a BIP, DIB or block (TIFF) file from the cache. */
static void writeFileLine(RAMImage *r, int y)
{
    const ImageInfo &info = r->info;
    const int nb = info.nbands;
    const int64_t need = fileLineBytes(r), block = info.block;
    std::vector<const unsigned char *> bands((size_t)nb, nullptr);
    bool complete = true;
    for (int b = 0; b < nb; b++) {
        int key = y * nb + b, slot = key % r->slotCount;
        if (r->slotMap[slot] == key)
            bands[(size_t)b] = slotLine(r, slot);
        else
            complete = false;
    }
    static std::vector<unsigned char> data;
    data.assign((size_t)std::max(block, need), 0);
    int64_t pos = fileLinePos(r, y);
    if (!complete)
        fileToHost(r, data.data(),
                   readBytes(r->fd, data.data(), std::min(block, need), pos));
    gatherLine(r, bands.data(), data.data());
    fileToHost(r, data.data(), need);
    bool single = imgLayout(info.imgid) == LAYOUT_DIB && nb == 1;
    writeBytes(r, data.data(), single ? r->lineBytes : block, pos);
    for (int b = 0; b < nb; b++)
        if (bands[(size_t)b])
            ramImageClearDirty(r, (y * nb + b) % r->slotCount);
}

/* ---------------------------------------------------------------------
 * Whole pictures and frames
 * --------------------------------------------------------------------- */

/* Whole pictures come from the format's reader, frames from the first
 * volume. */
static void readPicture(RAMImage *r)
{
    BusyGuard busy(r);
    const ImgFormat *f = imgFormat(r->info.imgid);
    if (imgLayout(r->info.imgid) == LAYOUT_PICTURE) {
        if (f && f->readPicture)
            f->readPicture(r);
    } else {
        getRAMImageVolume(r, 1);
    }
}

static void writePicture(RAMImage *r)
{
    /* The writer takes every line: none stays dirty. */
    std::memset(r->dirty, 0, (size_t)r->slotCount / 8 + 1);
    BusyGuard busy(r);
    const ImgFormat *f = imgFormat(r->info.imgid);
    if (f && f->writePicture)
        f->writePicture(r);
}

/* ---------------------------------------------------------------------
 * The record's line operations
 * --------------------------------------------------------------------- */

/*
 * getRAMImageLine --
 *	The cached line of band b of line y, filled from the file on a miss
 *	(unless read is 0 where the layout allows: BSQ, BIL, TIFF and whole
 *	pictures, whose caller overwrites the whole line).
 * Results:
 *	The line, never null (a scratch line outside the image).
 * Side effects:
 *	May write dirty lines out, evict lines and read ahead (notes 1-3).
 */
unsigned char *getRAMImageLine(RAMImage *r, int y, int b, int read)
{
    const ImageInfo &info = r->info;
    if (!r->slotMap || !lineInImage(r, y, b))
        return ramImageScratchLine(r);
    if (info.imgid == IMG_MBSQ) {
        if (r->slotCount < info.rows * info.nbands)
            return ramImageScratchLine(r);
        return r->buffer + ((size_t)info.rows * b + y) * r->lineBytes;
    }
    int key = y * info.nbands + b, slot = key % r->slotCount;
    unsigned char *p = slotLine(r, slot);
    if (r->slotMap[slot] == key)
        return p;
    if (recordBusy(r)) {
        ramImageClearDirty(r, slot);
        r->slotMap[slot] = key;
        return p;
    }
    if (ramImageSlotDirty(r, slot))
        flushRAMImageLine(r, slot);
    r->slotMap[slot] = key;
    switch (imgLayout(info.imgid)) {
    case LAYOUT_BSQ:
    case LAYOUT_BIL:
        if (read && r->fd >= 0)
            readBandLines(r, y, b);
        break;
    case LAYOUT_BIP:
    case LAYOUT_DIB:
        if (r->fd >= 0)
            readFileLines(r, y, b);
        break;
    case LAYOUT_BLOCKS:
        if (read && r->fd >= 0)
            readBlockLines(r, y, b);
        break;
    case LAYOUT_PICTURE:
    case LAYOUT_FRAMES:
        if (!read)
            break;
        /* The reader may have rebuilt the cache or changed the geometry:
         * look the line up again. */
        readPicture(r);
        if (!r->slotMap || !lineInImage(r, y, b))
            return ramImageScratchLine(r);
        key = y * r->info.nbands + b;
        slot = key % r->slotCount;
        if (r->slotMap[slot] != key) {
            if (ramImageSlotDirty(r, slot))
                flushRAMImageLine(r, slot);
            r->slotMap[slot] = key;
        }
        p = slotLine(r, slot);
        break;
    default:
        break;
    }
    assert(cacheInvariantsHold(r));
    return p;
}

/* Writes the line of (y, b) from its slot and, in the same call, the band
 * lines that follow it in the file (as the read-ahead reads them) while
 * their slots hold them dirty, up to 1 MiB; their dirty bits are
 * cleared.  A scan writing line after line thus leaves in runs. */
static void writeBandLines(RAMImage *r, int y, int b, int slot)
{
    const ImageInfo &info = r->info;
    const int nb = info.nbands;
    std::vector<iovec> iov{{slotLine(r, slot), (size_t)r->lineBytes}};
    if (info.block == r->lineBytes) {
        const int step = imgLayout(info.imgid) == LAYOUT_BSQ ? nb : 1;
        const size_t most = (size_t)std::max(1, (1 << 20) / r->lineBytes);
        for (int64_t next = (int64_t)y * nb + b + step;
             iov.size() < most && next / nb < info.rows; next += step) {
            int s = (int)(next % r->slotCount);
            if (r->slotMap[s] != next || !ramImageSlotDirty(r, s))
                break;
            ramImageClearDirty(r, s);
            iov.push_back({slotLine(r, s), (size_t)r->lineBytes});
        }
    }
    int64_t size = (int64_t)iov.size() * r->lineBytes;
    if (moveVector(r->fd, iov, bandLinePos(r, y, b), true) != size)
        stderrPrintf("Error in writing image: %s\n", r->info.fileName);
}

/*
 * flushRAMImageLine --
 *	Writes the line held by a slot to the file and clears its dirty bit;
 *	for by-pixel and DIB files the whole line with every band, for
 *	whole-picture formats the whole picture.
 * Side effects:
 *	A write failure is reported on standard error.
 */
/* Lines of a tiled, multi-strip, compressed or planar TIFF cannot be
 * written back in place without damaging the file: they stay in the
 * cache only, and the record says so once. */
static void refuseBlockWrite(RAMImage *r)
{
    static const RAMImage *warned = nullptr;
    static std::string warnedFile;
    if (warned == r && warnedFile == r->info.fileName)
        return;
    warned = r;
    warnedFile = r->info.fileName;
    stderrPrintf("Can't write lines of %s: only single-strip uncompressed "
                 "TIFF files are written\n", r->info.fileName);
}

void flushRAMImageLine(RAMImage *r, int slot)
{
    if (!r->slotMap || slot < 0 || slot >= r->slotCount)
        return;
    ramImageClearDirty(r, slot);
    int key = r->slotMap[slot];
    if (r->fd < 0 || key < 0 || recordBusy(r))
        return;
    const ImageInfo &info = r->info;
    int y = key / info.nbands, b = key % info.nbands;
    if (y >= info.rows)
        return;
    switch (imgLayout(info.imgid)) {
    case LAYOUT_BSQ:
    case LAYOUT_BIL: {
        const unsigned char *line = slotLine(r, slot);
        if (pixelSwapNeeded(&info)) {
            static std::vector<unsigned char> copy;
            copy.assign(line, line + r->lineBytes);
            pixelByteSwap(info.pixel, info.columns, copy.data());
            line = copy.data();
            writeBytes(r, line, r->lineBytes, bandLinePos(r, y, b));
        } else
            writeBandLines(r, y, b, slot);
        break;
    }
    case LAYOUT_BLOCKS: {
        const ImgFormat *f = imgFormat(info.imgid);
        if (!f || !f->blockWritable || !f->blockWritable(r)) {
            refuseBlockWrite(r);
            break;
        }
        writeFileLine(r, y);
        break;
    }
    case LAYOUT_BIP:
    case LAYOUT_DIB:
        writeFileLine(r, y);
        break;
    case LAYOUT_PICTURE:
    case LAYOUT_FRAMES:
        writePicture(r);
        break;
    default:
        break;
    }
}

/*
 * putRAMImageLine --
 *	The cached line of band b of line y when it is in the cache (a dirty
 *	line is written out first), else null.
 */
unsigned char *putRAMImageLine(RAMImage *r, int y, int b)
{
    const ImageInfo &info = r->info;
    if (!r->slotMap || !lineInImage(r, y, b))
        return nullptr;
    if (info.imgid == IMG_MBSQ)
        return r->slotCount < info.rows * info.nbands
                   ? nullptr
                   : r->buffer + ((size_t)info.rows * b + y) * r->lineBytes;
    int key = y * info.nbands + b, slot = key % r->slotCount;
    if (r->slotMap[slot] != key)
        return nullptr;
    if (ramImageSlotDirty(r, slot))
        r->flushLine(r, slot);
    return slotLine(r, slot);
}

/* ---------------------------------------------------------------------
 * Volumes
 * --------------------------------------------------------------------- */


/* Bytes of one volume: the data area of a single-volume file (the
 * stored lines of pixel-interleaved layouts hold every band). */
static int64_t volumeBytes(const RAMImage *r)
{
    const ImageInfo &info = r->info;
    int64_t bytes = (int64_t)info.block * info.rows;
    switch (imgLayout(info.imgid)) {
    case LAYOUT_BIP:
    case LAYOUT_DIB:
    case LAYOUT_BLOCKS:
        return bytes;
    default:
        return bytes * info.nbands;
    }
}

/*
 * getRAMImageVolume --
 *	Selects volume v (frame, from 1): through the record's seek operation
 *	when it has one; otherwise 0 is the next volume and a number out of
 *	range the last.
 * Results:
 *	The volume now current; -2 for a single-volume file or when there is
 *	no next volume; 0 or -1 from a seek that cannot or failed.
 * Side effects:
 *	On a change of volume dirty lines are written, the cache emptied and
 *	the histograms reset.
 */
int getRAMImageVolume(RAMImage *r, int v)
{
    if (r->seek) {
        int rc = r->seek(r, v);
        if (rc == 0)
            stderrPrintf("Can't seek image %s\n", r->info.fileName);
        else if (rc == -1)
            stderrPrintf("Error in seek image: %s\n", r->info.fileName);
        return rc;
    }
    int count = r->info.volumes;
    if (count < 2) {
        r->volume = r->volumeCount = 1;
        return -2;
    }
    r->volumeCount = count;
    if (v > count || v < 0) {
        v = count;
    } else if (v == 0) {
        if (r->volume >= count)
            return -2;
        v = r->volume + 1;
    }
    if (v != r->volume) {
        flushRAMImage(r);
        inValidateRAMImage(r);
        for (int b = 0; r->histograms && b < r->info.nbands; b++)
            initHist(&r->histograms[b]);
    }
    r->dataOffset = r->info.offset + (int64_t)(v - 1) * volumeBytes(r);
    r->volume = v;
    return v;
}

/* ---------------------------------------------------------------------
 * Whole-file loaders
 * --------------------------------------------------------------------- */

/* A buffer for every line of every band in slot order, or null. */
static unsigned char *allocWholeImage(RAMImage *r)
{
    const ImageInfo &info = r->info;
    int64_t size = (int64_t)info.rows * info.nbands * r->lineBytes;
    if (info.rows < 1 || info.nbands < 1 || r->lineBytes < 1
            || (uint64_t)size > SIZE_MAX / 2)
        return nullptr;
    flushRAMImage(r);
    return static_cast<unsigned char *>(std::calloc(1, (size_t)size));
}

static unsigned char *wholeLine(RAMImage *r, unsigned char *image, int y,
                                int b)
{
    return image + ((size_t)y * r->info.nbands + b) * r->lineBytes;
}

/* Band lines stored one per file record at the given layout's places. */
static unsigned char *readWholeBands(RAMImage *r, bool bsq)
{
    unsigned char *image = allocWholeImage(r);
    if (!image || r->fd < 0)
        return image;
    const ImageInfo &info = r->info;
    for (int b = 0; b < info.nbands; b++) {
        for (int y = 0; y < info.rows; y++) {
            int64_t record = bsq ? (int64_t)b * info.rows + y
                                 : (int64_t)y * info.nbands + b;
            unsigned char *line = wholeLine(r, image, y, b);
            fileToHost(r, line,
                       readBytes(r->fd, line, r->lineBytes,
                                 r->dataOffset + record * info.block));
        }
    }
    return image;
}

/* Lines holding every band, top-down or bottom-up. */
static unsigned char *readWholeLines(RAMImage *r, bool bottomUp)
{
    unsigned char *image = allocWholeImage(r);
    if (!image || r->fd < 0)
        return image;
    const ImageInfo &info = r->info;
    int64_t need = fileLineBytes(r);
    std::vector<unsigned char> data((size_t)std::max<int64_t>(info.block,
                                                              need));
    std::vector<unsigned char *> lines((size_t)info.nbands);
    for (int y = 0; y < info.rows; y++) {
        for (int b = 0; b < info.nbands; b++)
            lines[(size_t)b] = wholeLine(r, image, y, b);
        int64_t record = bottomUp ? info.rows - y - 1 : y;
        int64_t got = readBytes(r->fd, data.data(),
                                std::min<int64_t>(info.block, need),
                                r->dataOffset + record * info.block);
        decodeLine(r, data.data(), got, lines);
    }
    return image;
}

/* Lines through the record's own line operation (whole pictures). */
static unsigned char *readWholeCached(RAMImage *r)
{
    unsigned char *image = allocWholeImage(r);
    if (!image)
        return image;
    for (int y = 0; y < r->info.rows; y++)
        for (int b = 0; b < r->info.nbands; b++)
            std::memcpy(wholeLine(r, image, y, b), r->getLine(r, y, b, 1),
                        (size_t)r->lineBytes);
    return image;
}

/*
 * _RimgReadBSQ, _RimgReadBIL, _RimgReadBIP, _RimgReadDIB, _RimgReadGIF,
 * _RimgReadXBMP --
 *	Read the whole file of the record, taken as the named layout, into a
 *	new buffer in slot order: line y of band b at (y * nbands + b) *
 *	lineBytes, values in host order.
 * Results:
 *	The buffer (release with free()), or null when it cannot be
 *	allocated.
 * Side effects:
 *	The record's dirty lines are written first.
 */
unsigned char *_RimgReadBSQ(RAMImage *r)
{
    return readWholeBands(r, true);
}

unsigned char *_RimgReadBIL(RAMImage *r)
{
    return readWholeBands(r, false);
}

unsigned char *_RimgReadBIP(RAMImage *r)
{
    return readWholeLines(r, false);
}

unsigned char *_RimgReadDIB(RAMImage *r)
{
    return readWholeLines(r, true);
}

unsigned char *_RimgReadGIF(RAMImage *r)
{
    return readWholeCached(r);
}

unsigned char *_RimgReadXBMP(RAMImage *r)
{
    return readWholeCached(r);
}
