/*
 * gimgBitMask.cpp --
 *
 *	One-bit rasters of the gimg masks: opening, closing and borrowing the
 *	buffer of a one-bit memory record, setting runs, lines written from a
 *	screen row (turned as the pixmap is), lines read through a display
 *	port, and the bytewise combination of two masks.  Pure memory work;
 *	knows nothing of X or Tcl.
 *
 *	Bit order 0 means bit 0 of a byte is the leftmost pixel (what a
 *	little-endian host's XYBitmap and the store's 1BIT lines without
 *	msbf use), 1 means bit 7 is.
 */
#include <cstdlib>
#include <cstring>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "gimg/gimgMask.h"

static const unsigned char bitValues[2][8] = {
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},
};

static inline unsigned char bitOf(const BitMask *mask, int x)
{
    return bitValues[mask->bitOrder][x & 7];
}

/* Closed, empty, in the host's bit order. */
void maskInit(BitMask *mask)
{
    std::memset(mask, 0, sizeof *mask);
    mask->bitmapUnit = 8;
    mask->bitOrder = msbFirst() ? 1 : 0;
}

/*
 * maskRimgInit --
 *	Makes mask borrow the bits of a one-band 1BIT memory record: its
 *	size, bytes per row and bit order are the record's.
 * Results:
 *	0, or -1 when the record is no such raster (mask left closed).
 */
int maskRimgInit(BitMask *mask, RAMImage *r)
{
    maskClose(mask);
    if (!r || r->info.pixel != PIXEL_1BIT || r->info.imgid != IMG_MBSQ
            || r->info.nbands != 1 || r->info.rows < 1
            || r->info.columns < 1)
        return -1;
    mask->width = r->info.columns;
    mask->height = r->info.rows;
    mask->bitOrder = r->info.msbf > 0 ? 1 : 0;
    mask->bytesPerRow = r->lineBytes;
    mask->borrowed = 1;
    mask->bits = getRAMImageLine(r, 0, 0, 1);
    return 0;
}

/* A new mask of width x height with every byte fill, or null. */
BitMask *maskCreate(int width, int height, int fill)
{
    BitMask *mask = static_cast<BitMask *>(std::malloc(sizeof *mask));
    if (!mask)
        return nullptr;
    maskInit(mask);
    if (!maskOpen(mask, width, height, fill)) {
        std::free(mask);
        return nullptr;
    }
    return mask;
}

/*
 * maskOpen --
 *	(Re)allocates the bits of width x height and fills every byte.
 * Results:
 *	mask, or null (mask closed) when the size is empty or memory short.
 */
BitMask *maskOpen(BitMask *mask, int width, int height, int fill)
{
    maskClose(mask);
    if (width < 1 || height < 1)
        return nullptr;
    int bytes = (width + 7) / 8;
    size_t size = (size_t)bytes * (size_t)height;
    mask->bits = static_cast<unsigned char *>(std::malloc(size));
    if (!mask->bits)
        return nullptr;
    std::memset(mask->bits, fill, size);
    mask->width = width;
    mask->height = height;
    mask->bytesPerRow = bytes;
    return mask;
}

/* Frees the bits unless borrowed; the mask is closed afterwards. */
void maskClose(BitMask *mask)
{
    if (!mask->borrowed)
        std::free(mask->bits);
    maskInit(mask);
}

void maskDelete(BitMask *mask)
{
    if (!mask)
        return;
    maskClose(mask);
    std::free(mask);
}

/* Copies row `from` over row `to`. */
void maskCopyLine(BitMask *mask, int from, int to)
{
    if (!mask->bits || from == to || from < 0 || to < 0
            || from >= mask->height || to >= mask->height)
        return;
    std::memcpy(mask->bits + (size_t)to * mask->bytesPerRow,
                mask->bits + (size_t)from * mask->bytesPerRow,
                (size_t)mask->bytesPerRow);
}

static inline void setBit(BitMask *mask, int row, int x)
{
    mask->bits[(size_t)row * mask->bytesPerRow + (x >> 3)] |= bitOf(mask, x);
}

/*
 * maskPutLine --
 *	Sets the bit of every non-zero value of a screen row: turn 0 along
 *	row `row`; turned, the screen row becomes a column (turn > 0: column
 *	width-1-row, value i at row i; turn < 0: column row, value i at row
 *	height-1-i).  Bits are only set, never cleared.
 */
void maskPutLine(BitMask *mask, int row, const unsigned char *values,
                 int turn)
{
    if (!mask->bits)
        return;
    if (turn == 0) {
        if (row < 0 || row >= mask->height)
            return;
        for (int i = 0; i < mask->width; i++)
            if (values[i])
                setBit(mask, row, i);
    } else if (turn > 0) {
        int column = mask->width - 1 - row;
        if (column < 0 || column >= mask->width)
            return;
        for (int i = 0; i < mask->height; i++)
            if (values[i])
                setBit(mask, i, column);
    } else {
        if (row < 0 || row >= mask->width)
            return;
        for (int i = 0; i < mask->height; i++)
            if (values[i])
                setBit(mask, mask->height - 1 - i, row);
    }
}

/*
 * maskGetLine --
 *	out[x] = bit (row, port->map[x]) for first <= x < last, 0 for the
 *	other screen columns of the port.
 */
void maskGetLine(const BitMask *mask, int row, int first, int last,
                 const DisplayPort *port, unsigned char *out)
{
    std::memset(out, 0, (size_t)port->size);
    if (!mask->bits || row < 0 || row >= mask->height)
        return;
    const unsigned char *line = mask->bits + (size_t)row * mask->bytesPerRow;
    if (first < 0)
        first = 0;
    if (last > port->size)
        last = port->size;
    for (int x = first; x < last; x++) {
        int c = port->map[x];
        if (c >= 0 && c < mask->width)
            out[x] = (line[c >> 3] & bitOf(mask, c)) != 0;
    }
}

/* Sets columns max(x0, 0) <= x < min(x1, width) of a row of the mask. */
void maskTurnOnSeg(BitMask *mask, int row, int x0, int x1)
{
    if (!mask->bits || row < 0 || row >= mask->height || x1 < 0
            || x0 >= mask->width)
        return;
    if (x0 < 0)
        x0 = 0;
    if (x1 > mask->width)
        x1 = mask->width;
    unsigned char *line = mask->bits + (size_t)row * mask->bytesPerRow;
    int x = x0;
    for (; x < x1 && (x & 7); x++)
        line[x >> 3] |= bitOf(mask, x);
    if (x1 - x >= 8) {
        std::memset(line + (x >> 3), 0xff, (size_t)((x1 - x) >> 3));
        x += (x1 - x) & ~7;
    }
    for (; x < x1; x++)
        line[x >> 3] |= bitOf(mask, x);
}

/*
 * clipMask --
 *	Combines source into destination bytewise: AND (andFlag 1) or OR.
 *	Masks of different sizes meet on their common rows and bytes; under
 *	AND the destination's bytes outside the source are cleared (what
 *	the source does not cover stays hidden).
 */
void clipMask(BitMask *destination, const BitMask *source, int andFlag)
{
    if (!destination->bits || !source->bits)
        return;
    int rows = destination->height < source->height ? destination->height
                                                    : source->height;
    int bytes = destination->bytesPerRow < source->bytesPerRow
                    ? destination->bytesPerRow
                    : source->bytesPerRow;
    for (int y = 0; y < destination->height; y++) {
        unsigned char *d = destination->bits
                           + (size_t)y * destination->bytesPerRow;
        if (y >= rows) {
            if (andFlag)
                std::memset(d, 0, (size_t)destination->bytesPerRow);
            continue;
        }
        const unsigned char *s = source->bits
                                 + (size_t)y * source->bytesPerRow;
        if (andFlag) {
            for (int i = 0; i < bytes; i++)
                d[i] &= s[i];
            if (bytes < destination->bytesPerRow)
                std::memset(d + bytes, 0,
                            (size_t)(destination->bytesPerRow - bytes));
        } else {
            for (int i = 0; i < bytes; i++)
                d[i] |= s[i];
        }
    }
}

/* True when the mask is open (it "holds bits"). */
int maskHasBits(const BitMask *mask)
{
    return mask->bits != nullptr;
}
