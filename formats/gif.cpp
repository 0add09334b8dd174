/*
 * gif.cpp --
 *
 *	GIF87a and GIF89a files read as one-band BYTE palette images.  The
 *	record's line cache holds the whole logical screen (the canvas); each
 *	frame is LZW-decoded into it over what earlier frames left, and a
 *	GIF89a file's frames are its volumes, stepped by gifSeek.  The
 *	record's dataOffset is where the next block starts; the frame delay
 *	and the pending disposal live in the record's private data (a plain
 *	malloc'd GifPrivate that the store frees).  When the cache is rebuilt
 *	or emptied, the current frame is drawn again from the start of the
 *	file.  Writing is not supported.
 *
 *	Offset  Size  Field
 *	     0     6  signature "GIF87a" or "GIF89a"
 *	     6     2  logical screen width, little endian
 *	     8     2  logical screen height, little endian
 *	    10     1  packed: bit 7 global colour table present, bits 4-6
 *	              colour resolution, bit 3 sorted, bits 0-2 size n
 *	    11     1  background colour index
 *	    12     1  pixel aspect ratio
 *	    13  3*2^(n+1)  global colour table, red green blue per entry
 *	then blocks, each led by one byte:
 *	  0x21 label sub-blocks      extension: 0xF9 graphic control, 0xFE
 *	                             comment, 0x01 plain text, 0xFF application
 *	  0x2C descriptor            image: left, top, width, height (LE16),
 *	                             packed (bit 7 local table, bit 6
 *	                             interlaced, bits 0-2 size), local table,
 *	                             LZW minimum code size, data sub-blocks
 *	  0x3B                       trailer
 *	A sub-block is a length byte (0 ends the sequence) and that many
 *	bytes.  The graphic control sub-block holds packed (bits 2-4 disposal,
 *	bit 0 transparency), delay (LE16, 1/100 s) and the transparent index.
 */
#include "formats/gif.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/hist.h"
#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"

/* A 12-bit LZW code stands for at most 4096 pixels: no file fills a
 * canvas more than this many times its size. */
#define GIF_MAX_RATIO 4096
#define GIF_EXTENSION 0x21
#define GIF_SEPARATOR 0x2C
#define GIF_TRAILER 0x3B
#define GIF_LABEL_CONTROL 0xF9
#define GIF_LABEL_COMMENT 0xFE
#define GIF_LABEL_TEXT 0x01
#define GIF_LABEL_APPLICATION 0xFF

/* Frame state that RAMImage has no field for. */
struct GifPrivate {
    int delay;              /* ms of the last frame read, 0 before any */
    int disposal;           /* disposal method of the coming frame */
    int transFlag;          /* 1: the coming frame has a transparent index */
    int prevTransparent;    /* `transparent` before the coming frame's
                             * graphic control changed it */
};

/* One image descriptor. */
struct GifFrame {
    int left, top, width, height;
    int interlaced;
};

/* Reads up to n bytes; returns how many were read (short only at the end
 * of the file or on an error). */
static int readFull(int fd, void *buf, int n)
{
    int got = 0;
    while (got < n) {
        ssize_t k = read(fd, static_cast<char *>(buf) + got,
                         (size_t)(n - got));
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            break;
        got += (int)k;
    }
    return got;
}

static int readByte(int fd)
{
    unsigned char c;
    return readFull(fd, &c, 1) == 1 ? c : -1;
}

static int le16(const unsigned char *p)
{
    return p[0] | (p[1] << 8);
}

/* Skips the rest of a sub-block sequence.  Returns 0, or -1 on a read
 * error (after getGifBlock's message). */
static int skipGifBlocks(int fd)
{
    unsigned char buf[255];
    int n;
    while ((n = getGifBlock(fd, buf)) > 0)
        ;
    return n;
}

/* ---------------------------------------------------------------------
 * Block readers
 * --------------------------------------------------------------------- */

/*
 * getGifSig --
 *	Reads the 6-byte signature.
 * Results:
 *	10 (GIF87a), 11 (GIF89a) or 0.
 */
int getGifSig(int fd)
{
    char sig[6];
    if (readFull(fd, sig, 6) != 6)
        return 0;
    if (std::memcmp(sig, "GIF87a", 6) == 0)
        return IMG_GIF87A;
    if (std::memcmp(sig, "GIF89a", 6) == 0)
        return IMG_GIF89A;
    return 0;
}

/*
 * getGifLSD --
 *	Reads the logical screen descriptor and the global colour table.
 *	packed receives the packed byte, the background index and the aspect
 *	byte.
 * Results:
 *	The number of global colours (0 without a table), or -1 on a short
 *	read ("Error in getGifLSD..." when the table is short).
 */
int getGifLSD(int fd, int *width, int *height, unsigned char packed[3],
              unsigned char colours[256][3])
{
    unsigned char lsd[7];
    if (readFull(fd, lsd, 7) != 7)
        return -1;
    *width = le16(lsd);
    *height = le16(lsd + 2);
    std::memcpy(packed, lsd + 4, 3);
    if (!(packed[0] & 0x80))
        return 0;
    int count = 1 << ((packed[0] & 7) + 1);
    int n = readFull(fd, colours, 3 * count);
    if (n != 3 * count) {
        stderrPrintf("Error in getGifLSD: count = %d n = %d\n", 3 * count, n);
        return -1;
    }
    return count;
}

/*
 * getGifImgDes --
 *	Reads an image descriptor (after its separator), the local colour
 *	table when there is one and the LZW minimum code size.  *count is
 *	the number of local colours, 0 without a table.
 * Results:
 *	2 when a local colour table was read, 1 when not, 0 on a short read.
 */
int getGifImgDes(int fd, int *top, int *left, int *width, int *height,
                 int *codeSize, int *packed, unsigned char colours[256][3],
                 int *count)
{
    unsigned char d[9];
    if (readFull(fd, d, 9) != 9)
        return 0;
    *left = le16(d);
    *top = le16(d + 2);
    *width = le16(d + 4);
    *height = le16(d + 6);
    *packed = d[8];
    *count = 0;
    int result = 1;
    if (d[8] & 0x80) {
        int n = 1 << ((d[8] & 7) + 1);
        if (readFull(fd, colours, 3 * n) != 3 * n)
            return 0;
        *count = n;
        result = 2;
    }
    int c = readByte(fd);
    if (c < 0)
        return 0;
    *codeSize = c;
    return result;
}

/*
 * getGifBlock --
 *	Reads one data sub-block into buffer.
 * Results:
 *	Its length, 0 at the terminator, -1 on a read error (after a message
 *	on standard error).
 */
int getGifBlock(int fd, unsigned char buffer[255])
{
    int n = readByte(fd);
    if (n < 0) {
        stderrPrintf("Error in read GIF Block Size.\n");
        return -1;
    }
    if (n > 0 && readFull(fd, buffer, n) != n) {
        stderrPrintf("Error in read GIF Block Data.\n");
        return -1;
    }
    return n;
}

/* Moves to just after the next extension introducer or image separator,
 * skipping every other byte.  Returns that byte, or -1 at the end. */
static int nextIntroducer(int fd)
{
    unsigned char buf[4096];
    for (;;) {
        off_t at = lseek(fd, 0, SEEK_CUR);
        int n = readFull(fd, buf, sizeof buf);
        if (at < 0 || n <= 0)
            return -1;
        for (int i = 0; i < n; i++) {
            if (buf[i] == GIF_EXTENSION || buf[i] == GIF_SEPARATOR) {
                lseek(fd, at + i + 1, SEEK_SET);
                return buf[i];
            }
        }
    }
}

/*
 * getImgSeparate --
 *	Scans from the current position for the first image separator,
 *	skipping extensions; a graphic control extension with its
 *	transparency flag set gives *transparent.
 * Results:
 *	1 with the position after the separator; 0 at the end of the file,
 *	on a read error or an unknown extension label (after a message).
 */
int getImgSeparate(int fd, int *transparent)
{
    unsigned char buf[255];
    for (;;) {
        int c = nextIntroducer(fd);
        if (c < 0)
            return 0;
        if (c == GIF_SEPARATOR)
            return 1;
        int label = readByte(fd);
        switch (label) {
        case -1:
            return 0;
        case GIF_LABEL_CONTROL: {
            std::memset(buf, 0, 4);
            int n = getGifBlock(fd, buf);
            if (n < 0)
                return 0;
            if (buf[0] & 1)
                *transparent = buf[3];
            if (n > 0 && skipGifBlocks(fd) < 0)
                return 0;
            break;
        }
        case GIF_LABEL_COMMENT:
        case GIF_LABEL_TEXT:
        case GIF_LABEL_APPLICATION:
            if (skipGifBlocks(fd) < 0)
                return 0;
            break;
        default:
            stderrPrintf("    Unknown label in extension block\n");
            return 0;
        }
    }
}

/* ---------------------------------------------------------------------
 * Probe
 * --------------------------------------------------------------------- */

static int probeGif(int fd, ImageInfo *info)
{
    int type = getGifSig(fd);
    if (!type)
        return 0;
    int width, height;
    unsigned char packed[3];
    unsigned char colours[256][3];
    int count = getGifLSD(fd, &width, &height, packed, colours);
    if (count < 0)
        return 0;
    struct stat st;
    if (fstat(fd, &st) == 0
            && (int64_t)width * height > (int64_t)st.st_size * GIF_MAX_RATIO) {
        stderrPrintf("Error in imgGif: a %d x %d canvas cannot come from"
                     " %lld bytes of file.\n", width, height,
                     (long long)st.st_size);
        return -1;
    }
    int transparent = -1;
    getImgSeparate(fd, &transparent);

    info->imgid = type;
    info->columns = width;
    info->rows = height;
    info->pixel = PIXEL_BYTE;
    info->bits = 8;
    info->nbands = 1;
    info->mapid = MAP_GRID;
    info->nindices = count;
    std::memset(info->palette, 0, sizeof info->palette);
    std::memcpy(info->palette, colours, (size_t)count * 3);
    info->offset = 13 + 3 * count;
    info->transparent = transparent;
    info->block = info->top = info->left = 0;
    info->x0 = info->y0 = 0.0;
    info->dx = info->dy = 1.0;
    info->msbf = msbFirst();
    return type;
}

/*
 * imgGif --
 *	The probe of both GIF image types.
 * Results:
 *	10 (GIF87a) or 11 (GIF89a) with info filled, or 0; -1 (the file is
 *	refused) when the file is too small to fill its logical screen.
 * Side effects:
 *	The file position is restored.
 */
int imgGif(int fd, ImageInfo *info)
{
    off_t saved = lseek(fd, 0, SEEK_CUR);
    if (saved < 0 || lseek(fd, 0, SEEK_SET) != 0)
        return 0;
    int type = probeGif(fd, info);
    lseek(fd, saved, SEEK_SET);
    return type;
}

/* ---------------------------------------------------------------------
 * LZW decoding
 * --------------------------------------------------------------------- */

/* Refills the read-ahead.  Returns 0, or -1 at the end of the file. */
static int refillAhead(GifImgBlk *s)
{
    s->base += s->len;
    s->at = 0;
    s->len = readFull(s->fd, s->data, GIF_READ_AHEAD);
    if (s->len <= 0) {
        s->len = 0;
        return -1;
    }
    return 0;
}

/* The next byte of the read-ahead, or -1 at the end of the file. */
static inline int readAheadByte(GifImgBlk *s)
{
    if (s->at >= s->len && refillAhead(s) < 0)
        return -1;
    return s->data[s->at++];
}

/* Skips n bytes of the read-ahead.  Returns 0, or -1 at the end. */
static int skipAhead(GifImgBlk *s, int n)
{
    while (n > 0) {
        if (s->at >= s->len && refillAhead(s) < 0)
            return -1;
        int k = std::min(n, s->len - s->at);
        s->at += k;
        n -= k;
    }
    return 0;
}

/* Marks the data as ended without its terminator. */
static void gifDataTruncated(GifImgBlk *s, const char *message)
{
    stderrPrintf("%s", message);
    s->exhausted = 1;
    s->truncated = 1;
    s->blockLeft = 0;
}

/* The next byte of the data sub-blocks, or -1 when they are exhausted. */
static inline int nextDataByte(GifImgBlk *s)
{
    if (s->blockLeft == 0) {
        if (s->exhausted)
            return -1;
        int n = readAheadByte(s);
        if (n < 0) {
            gifDataTruncated(s, "Error in read GIF Block Size.\n");
            return -1;
        }
        if (n == 0) {
            s->exhausted = 1;
            return -1;
        }
        s->blockLeft = n;
    }
    int b = readAheadByte(s);
    if (b < 0) {
        gifDataTruncated(s, "Error in read GIF Block Data.\n");
        return -1;
    }
    s->blockLeft--;
    return b;
}

/*
 * initGifImgBlk --
 *	Prepares the decoder for the data sub-blocks that start at the
 *	descriptor's current position.
 * Results:
 *	0, or -1 when the minimum code size is outside 1..8.
 */
int initGifImgBlk(int fd, int minCodeSize, GifImgBlk *state)
{
    if (minCodeSize < 1 || minCodeSize > 8)
        return -1;
    off_t at = lseek(fd, 0, SEEK_CUR);
    state->fd = fd;
    state->minCodeSize = minCodeSize;
    state->clearCode = 1 << minCodeSize;
    state->endCode = state->clearCode + 1;
    state->bits = 0;
    state->bitCount = 0;
    state->blockLeft = 0;
    state->exhausted = 0;
    state->truncated = 0;
    state->base = at < 0 ? 0 : at;
    state->len = state->at = 0;
    std::memset(state->prefix, 0, sizeof state->prefix);
    std::memset(state->length, 0, sizeof state->length);
    for (int i = 0; i < GIF_MAX_CODES; i++)
        state->suffix[i] = state->first[i] = (unsigned char)i;
    for (int i = 0; i < state->clearCode; i++)
        state->length[i] = 1;
    setGifImgBlk(state);
    return 0;
}

/*
 * setGifImgBlk --
 *	Resets the code table after a clear code.
 */
void setGifImgBlk(GifImgBlk *state)
{
    state->codeSize = state->minCodeSize + 1;
    state->freeCode = state->clearCode + 2;
    state->codeLimit = 2 * state->clearCode;
    state->oldCode = -1;
    state->sp = 0;
}

static inline int readCode(GifImgBlk *s)
{
    while (s->bitCount < s->codeSize) {
        int b = nextDataByte(s);
        if (b < 0)
            return -1;
        s->bits |= (uint32_t)b << s->bitCount;
        s->bitCount += 8;
    }
    int code = (int)(s->bits & ((1u << s->codeSize) - 1));
    s->bits >>= s->codeSize;
    s->bitCount -= s->codeSize;
    return code;
}

/*
 * getNextGifCode --
 *	Takes the next code from the sub-blocks, least significant bit
 *	first.
 * Results:
 *	The code, or -1 when the sub-blocks are exhausted.
 */
int getNextGifCode(GifImgBlk *s)
{
    return readCode(s);
}

/* Reads codes up to the next one that stands for a string, defining the
 * table entry it implies first: (previous code, first byte of this
 * string), which for a code not yet defined (the KwKwK case) is the code
 * itself.  Codes beyond the free one are taken as the free one.  Every
 * entry's prefix lies below its own code and its length is one more
 * than its prefix's.  Returns the code, or -1 at the end of the data. */
static inline int lzwNextString(GifImgBlk *s)
{
    for (;;) {
        int code = readCode(s);
        if (code < 0)
            return -1;
        if (code == s->clearCode) {
            setGifImgBlk(s);
            continue;
        }
        if (code == s->endCode)
            continue;
        if (s->oldCode < 0) {
            if (code > s->endCode)
                continue;       /* undefined right after a clear */
            s->oldCode = code;
            return code;
        }
        int f = s->freeCode;
        if (f < GIF_MAX_CODES) {
            if (code > f)
                code = f;
            int old = s->oldCode;
            s->prefix[f] = (uint16_t)old;
            s->suffix[f] = s->first[code == f ? old : code];
            s->first[f] = s->first[old];
            s->length[f] = (uint16_t)(s->length[old] + 1);
            if (++s->freeCode >= s->codeLimit && s->codeSize < 12) {
                s->codeSize++;
                s->codeLimit <<= 1;
            }
        }
        s->oldCode = code;
        return code;
    }
}

/* Pushes the string of `code` on the stack, last byte first. */
static void lzwPush(GifImgBlk *s, int code)
{
    while (code >= s->clearCode) {
        if (s->prefix[code] == code || s->sp >= GIF_MAX_CODES) {
            stderrPrintf("circular table entry BIG ERROR: %d\n", code);
            s->sp = 0;
            return;
        }
        s->stack[s->sp++] = s->suffix[code];
        code = s->prefix[code];
    }
    s->stack[s->sp++] = (unsigned char)code;
}

/*
 * getNextGifByte --
 *	The next decoded byte.
 * Results:
 *	0..255, or -1 at the end of the data.
 */
int getNextGifByte(GifImgBlk *s)
{
    while (s->sp == 0) {
        int code = lzwNextString(s);
        if (code < 0)
            return -1;
        lzwPush(s, code);
    }
    return s->stack[--s->sp];
}

int getGifBytes(GifImgBlk *s, unsigned char *out, int count)
{
    int got = 0;
    while (got < count) {
        if (s->sp > 0) {
            int n = std::min(s->sp, count - got);
            const unsigned char *top = s->stack + s->sp;
            for (int i = 0; i < n; i++)
                out[got + i] = *--top;
            s->sp -= n;
            got += n;
            continue;
        }
        int code = lzwNextString(s);
        if (code < 0)
            break;
        int len = s->length[code];
        if (len > count - got) {
            lzwPush(s, code);
            continue;
        }
        /* The whole string fits: write it backwards in place. */
        unsigned char *p = out + got;
        for (int i = len - 1; i > 0; i--) {
            p[i] = s->suffix[code];
            code = s->prefix[code];
        }
        p[0] = (unsigned char)code;
        got += len;
    }
    return got;
}

int64_t drainGifImgBlk(GifImgBlk *s)
{
    s->sp = 0;
    while (!s->exhausted) {
        if (skipAhead(s, s->blockLeft) < 0) {
            gifDataTruncated(s, "Error in read GIF Block Data.\n");
            break;
        }
        s->blockLeft = 0;
        int n = readAheadByte(s);
        if (n < 0)
            gifDataTruncated(s, "Error in read GIF Block Size.\n");
        else if (n == 0)
            s->exhausted = 1;
        else
            s->blockLeft = n;
    }
    return s->truncated ? -1 : s->base + s->at;
}

/* ---------------------------------------------------------------------
 * Frames
 * --------------------------------------------------------------------- */

static GifPrivate *gifPrivate(RAMImage *r)
{
    if (!r->privateData)
        r->privateData = std::calloc(1, sizeof(GifPrivate));
    return static_cast<GifPrivate *>(r->privateData);
}

static void fillCanvas(RAMImage *r, int value)
{
    std::memset(r->buffer, value >= 0 ? value & 0xFF : 0,
                (size_t)r->info.rows * r->lineBytes);
}

/* Gives the canvas a slot per line and marks every line as present. */
static int gifCanvasReady(RAMImage *r)
{
    if (r->info.nbands != 1 || r->lineBytes < r->info.columns)
        return 0;
    if (!r->slotMap || r->slotCount < r->info.rows) {
        if (setRAMImageBuf(r, r->info.rows) < r->info.rows
                || r->slotCount < r->info.rows) {
            stderrPrintf("Error of malloc in readGIF.\n");
            return 0;
        }
    }
    for (int y = 0; y < r->info.rows; y++)
        r->slotMap[y] = y;
    return 1;
}

/* False when the cache was rebuilt or emptied since the canvas was
 * drawn (the line access may have claimed single lines meanwhile). */
static int gifCanvasIntact(const RAMImage *r)
{
    if (!r->slotMap || r->slotCount < r->info.rows)
        return 0;
    for (int y = 0; y < r->info.rows; y++)
        if (r->slotMap[y] != y)
            return 0;
    return 1;
}

/* Draws the current volume again after the canvas was lost.  Returns
 * readGIF's result for the last frame read. */
static int gifRestoreCanvas(RAMImage *r)
{
    int want = r->volume;
    int result = rewindGIF(r);
    while (result == 1 && r->volume < want)
        result = readGIF(r);
    return result == 0 ? 0 : r->volume > 0 ? 1 : 2;
}

/* Reads a graphic control extension's sub-blocks (after the label). */
static int readGifControl(RAMImage *r, GifPrivate *p)
{
    unsigned char buf[255];
    std::memset(buf, 0, 4);
    int n = getGifBlock(r->fd, buf);
    if (n < 0)
        return -1;
    int delay = le16(buf + 1);
    p->delay = delay ? delay * 10 : 33;
    p->disposal = (buf[0] >> 2) & 7;
    p->prevTransparent = r->info.transparent;
    p->transFlag = buf[0] & 1;
    if (p->transFlag)
        r->info.transparent = buf[3];
    return n > 0 ? skipGifBlocks(r->fd) : 0;
}

/* The disposal of the coming frame, applied just before it is drawn. */
static void applyDisposal(RAMImage *r, GifPrivate *p)
{
    if (p->disposal == 2)
        fillCanvas(r, r->info.transparent);
    else if (p->disposal == 3 && p->prevTransparent >= 0)
        fillCanvas(r, p->prevTransparent);
    p->disposal = 0;
}

/* Decodes the frame's rows into the canvas, clipped to the screen. */
static void decodeFrame(RAMImage *r, GifImgBlk *s, const GifFrame &f,
                        int transparent)
{
    static const int passStart[4] = {0, 4, 2, 1};
    static const int passStep[4] = {8, 8, 4, 2};
    const int rows = r->info.rows, columns = r->info.columns;
    const int stored = f.left < columns ? std::min(f.width, columns - f.left)
                                        : 0;
    std::vector<unsigned char> row((size_t)f.width + 1);
    int passes = f.interlaced ? 4 : 1;
    for (int pass = 0; pass < passes; pass++) {
        int y0 = f.interlaced ? passStart[pass] : 0;
        int dy = f.interlaced ? passStep[pass] : 1;
        for (int y = y0; y < f.height; y += dy) {
            int got = getGifBytes(s, row.data(), f.width);
            int cy = f.top + y;
            int n = std::min(got, stored);
            if (cy < rows && n > 0) {
                unsigned char *line = r->buffer + (size_t)cy * r->lineBytes
                                      + f.left;
                if (transparent < 0) {
                    std::memcpy(line, row.data(), (size_t)n);
                } else {
                    for (int x = 0; x < n; x++)
                        if (row[x] != transparent)
                            line[x] = row[x];
                }
            }
            if (got < f.width)
                return;
        }
    }
}

/* The end of the file was met before a frame: the frames are counted. */
static int gifEnd(RAMImage *r)
{
    r->volumeCount = r->volume;
    return 2;
}

/*
 * readGIF --
 *	Decodes the next frame of the file into the canvas, from the
 *	record's dataOffset.
 * Results:
 *	1 when a frame was read, 2 when the end of the file was reached
 *	without one, 0 on an error (messages on standard error).
 * Side effects:
 *	The canvas is sized and filled on first use.  When the cache was
 *	rebuilt or emptied after a frame was drawn, the current frame is
 *	drawn again instead of the next one.  dataOffset, volume,
 *	volumeCount, info.transparent, info.palette and info.nindices follow
 *	the file; the canvas keeps what was decoded before an error.
 */
int readGIF(RAMImage *r)
{
    if (r->fd < 0)
        return 0;
    if (r->volume > 0 && !gifCanvasIntact(r))
        return gifRestoreCanvas(r);
    if (!gifCanvasReady(r))
        return 0;
    GifPrivate *p = gifPrivate(r);
    if (!p) {
        stderrPrintf("Error of malloc in readGIF.\n");
        return 0;
    }
    const int fd = r->fd;
    if (lseek(fd, r->dataOffset, SEEK_SET) != r->dataOffset)
        return gifEnd(r);

    for (;;) {
        int64_t at = lseek(fd, 0, SEEK_CUR);
        int c = readByte(fd);
        if (c < 0) {
            stderrPrintf("Unexpected GIF EOF\n");
            return gifEnd(r);
        }
        if (c == GIF_SEPARATOR)
            break;
        if (c == GIF_TRAILER) {
            r->dataOffset = at;
            return gifEnd(r);
        }
        if (c != GIF_EXTENSION) {
            stderrPrintf("Unknown GIF Introducer: 0x%x.\n", c);
            r->dataOffset = at + 1;
            return 1;
        }
        int label = readByte(fd), done;
        switch (label) {
        case -1:
            stderrPrintf("Unexpected GIF EOF\n");
            return gifEnd(r);
        case GIF_LABEL_CONTROL:
            done = readGifControl(r, p);
            break;
        case GIF_LABEL_COMMENT:
        case GIF_LABEL_TEXT:
        case GIF_LABEL_APPLICATION:
            done = skipGifBlocks(fd);
            break;
        default:
            stderrPrintf("    Unknown label in extension block\n");
            return 0;
        }
        if (done < 0)
            return gifEnd(r);
    }

    GifFrame f;
    int codeSize, packed, count;
    unsigned char colours[256][3];
    int des = getGifImgDes(fd, &f.top, &f.left, &f.width, &f.height,
                           &codeSize, &packed, colours, &count);
    if (des == 0) {
        stderrPrintf("    Error in getGIFImgDes\n");
        return 0;
    }
    f.interlaced = (packed & 0x40) != 0;
    if (des == 2) {
        std::memset(r->info.palette, 0, sizeof r->info.palette);
        std::memcpy(r->info.palette, colours, (size_t)count * 3);
        r->info.nindices = count;
    }
    std::unique_ptr<GifImgBlk> s(new (std::nothrow) GifImgBlk);
    if (!s) {
        stderrPrintf("Error of malloc in readGIF.\n");
        return 0;
    }
    if (initGifImgBlk(fd, codeSize, s.get()) < 0) {
        stderrPrintf("Bad LZW minimum code size in GIF image: %d\n",
                     codeSize);
        return 0;
    }
    applyDisposal(r, p);
    int transparent = p->transFlag ? r->info.transparent : -1;
    decodeFrame(r, s.get(), f, transparent);
    int64_t end = drainGifImgBlk(s.get());

    r->volume++;
    p->transFlag = 0;
    if (r->histograms)
        r->histograms[0].valid = 0;
    unsigned char next;
    if (end < 0 || pread(fd, &next, 1, end) != 1) {
        r->dataOffset = end < 0 ? s->base + s->at : end;
        stderrPrintf("Unexpected GIF EOF\n");
        return gifEnd(r);
    }
    r->dataOffset = end;
    if (next == GIF_TRAILER)
        r->volumeCount = r->volume;
    return 1;
}

/*
 * rewindGIF --
 *	Starts the file over: probes it again into the record's description,
 *	clears the canvas and reads the first frame.
 * Results:
 *	readGIF's result, or 0 after "Can't rewind ..." when the record has
 *	no open file or the file is no longer a GIF of the same size.
 */
int rewindGIF(RAMImage *r)
{
    ImageInfo probed = r->info;
    if (r->fd < 0 || imgGif(r->fd, &probed) <= 0
            || probed.rows != r->info.rows
            || probed.columns != r->info.columns) {
        stderrPrintf("Can't rewind %s\n", r->info.fileName);
        return 0;
    }
    probed.block = r->info.block;
    r->info = probed;
    r->dataOffset = r->info.offset;
    r->volume = 0;
    if (r->privateData)
        std::memset(r->privateData, 0, sizeof(GifPrivate));
    if (r->buffer && r->slotCount >= r->info.rows)
        fillCanvas(r, r->info.transparent);
    return readGIF(r);
}

/*
 * gifSeek --
 *	Selects a frame of a GIF89a record: 0 the next one, a negative
 *	number the last one, else frame `volume` (rewinding when it lies
 *	behind the current one).
 * Results:
 *	The current volume after the seek (which may stay below the one
 *	asked for), 0 without an open file, -1 on an error, -2 when the next
 *	frame was asked for at the end of the file.
 */
int gifSeek(RAMImage *r, int volume)
{
    if (r->fd < 0)
        return 0;
    if (r->volume > 0 && !gifCanvasIntact(r) && gifRestoreCanvas(r) == 0)
        return -1;
    auto atEnd = [r] {
        return r->volumeCount >= 0 && r->volume >= r->volumeCount;
    };
    if (volume == 0) {
        if (atEnd())
            return -2;
        int result = readGIF(r);
        return result == 1 ? r->volume : result == 2 ? -2 : -1;
    }
    if (volume > 0 && volume == r->volume)
        return volume;
    if (volume > 0 && volume < r->volume && rewindGIF(r) == 0)
        return -1;
    while ((volume < 0 || r->volume < volume) && !atEnd()) {
        int result = readGIF(r);
        if (result == 0)
            return -1;
        if (result == 2)
            break;
    }
    return r->volume;
}

/*
 * writeGIF --
 *	The line writer of the GIF image types: GIF files cannot be written.
 * Results:
 *	0.
 * Side effects:
 *	Prints the notice once for the whole picture: every dirty bit of the
 *	record is cleared.  The file is not touched.
 */
int writeGIF(RAMImage *r)
{
    stderrPrintf("writeGIF has not been implemented!!!\n");
    if (r && r->dirty)
        std::memset(r->dirty, 0, (size_t)r->slotCount / 8 + 1);
    return 0;
}

int gifFrameDelay(const RAMImage *r)
{
    const GifPrivate *p = static_cast<const GifPrivate *>(r->privateData);
    return p ? p->delay : 0;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

/* A picture without a palette yet is read at once: the palette is the
 * file's. */
static int openGif(RAMImage *r)
{
    if (r->info.nindices < 1)
        readGIF(r);
    return 1;
}

static const ImgFormatType gif87Types[] = {
    {IMG_GIF87A, LAYOUT_PICTURE}, {0, 0},
};
static const ImgFormatType gif89Types[] = {{IMG_GIF89A, LAYOUT_FRAMES}, {0, 0}};

extern const ImgFormat gif87Format = {
    .name = "GIF87a",
    .types = gif87Types,
    .probe = imgGif,
    .open = openGif,
    .readPicture = readGIF,
    .writePicture = writeGIF,
};

/* GIF89a files are recognised by the GIF87a probe; their frames are
 * volumes. */
extern const ImgFormat gif89Format = {
    .name = "GIF89a",
    .types = gif89Types,
    .open = openGif,
    .writePicture = writeGIF,
    .seek = gifSeek,
};
