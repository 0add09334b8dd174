/*
 * xbm.cpp --
 *
 *	X bitmaps: C source text holding a one-bit image.  The probe reads
 *	the size from the defines; the whole bitmap is read into the record's
 *	line cache at once (readXBMP) and the whole text is written again
 *	from it (writeXBMP, initXBMP).  Rows are (width + 7) / 8 bytes, least
 *	significant bit first; bit set is black.
 *
 *	Layout (text):
 *	    #define <name>_width <columns>
 *	    #define <name>_height <rows>
 *	    static char <name>_bits[] = {
 *	     0x00, 0x00, ... items, a newline after every 12th ... 0x00};
 *
 *	Written with the name "xbmp"; read with any name.
 */
#include "formats/xbm.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"

#define XBM_PROBE_BYTES 4096
#define XBM_ITEM_CHARS 32       /* longer items are not numbers */

/* The value of "#define <name><suffix> <int>" in text, or -1 when no
 * such define is there. */
static long findDefine(const char *text, const char *suffix)
{
    size_t slen = std::strlen(suffix);
    for (const char *p = std::strstr(text, suffix); p;
         p = std::strstr(p + 1, suffix)) {
        const char *after = p + slen;
        if (*after != ' ' && *after != '\t')
            continue;
        const char *line = p;
        while (line > text && line[-1] != '\n')
            line--;
        while (*line == ' ' || *line == '\t')
            line++;
        if (std::strncmp(line, "#define", 7) != 0)
            continue;
        char *end;
        long v = std::strtol(after, &end, 10);
        if (end != after)
            return v;
    }
    return -1;
}

/* Gives info the fixed description of a bitmap of the given size. */
static void describeBitmap(ImageInfo *info, int columns, int rows)
{
    info->imgid = IMG_XBMP;
    info->pixel = PIXEL_1BIT;
    info->bits = 1;
    info->nbands = 1;
    info->rows = rows;
    info->columns = columns;
    info->block = (columns + 7) / 8;
    info->offset = 0;
    info->msbf = 0;
    info->mapid = MAP_GRID;
    info->nindices = 2;
    std::memset(info->palette[0], 255, 3);
    std::memset(info->palette[1], 0, 3);
    info->transparent = -1;
    info->top = info->left = 0;
    info->x0 = info->y0 = 0.0;
    info->dx = info->dy = 1.0;
}

/*
 * imgXBMP --
 *	Probe of X bitmaps: the first 4096 bytes must define <name>_width
 *	and <name>_height.  The file position is kept.
 * Results:
 *	1 with info filled, or 0.
 */
int imgXBMP(int fd, ImageInfo *info)
{
    char text[XBM_PROBE_BYTES + 1];
    ssize_t got = pread(fd, text, XBM_PROBE_BYTES, 0);
    if (got < 1)
        return 0;
    text[got] = '\0';
    if (std::strlen(text) != (size_t)got)
        return 0;       /* NUL bytes: not text */
    long width = findDefine(text, "_width");
    long height = findDefine(text, "_height");
    if (width < 0 || height < 0)
        return 0;
    if (width < 1 || height < 1 || width > INT_MAX / 16
            || height > INT_MAX) {
        stderrPrintf("Error in imgXBMP: invalid size %ld x %ld.\n", width,
                     height);
        return 0;
    }
    /* Each byte of the bitmap takes at least two characters of text. */
    struct stat st;
    int64_t bytes = (width + 7) / 8 * (int64_t)height;
    if (fstat(fd, &st) == 0 && bytes * 2 > (int64_t)st.st_size) {
        stderrPrintf("Error in imgXBMP: a %ld x %ld bitmap cannot fit in"
                     " %lld bytes of text.\n", width, height,
                     (long long)st.st_size);
        return 0;
    }
    describeBitmap(info, (int)width, (int)height);
    return 1;
}

/* True when the cache has a slot for every row of the bitmap. */
static bool cacheCoversBitmap(const RAMImage *r)
{
    return r->info.nbands == 1 && r->cacheLines == r->info.rows
           && r->slotCount == r->info.rows;
}

/* Parses the bitmap items of the text open on fd into `rows` rows of
 * (columns + 7) / 8 bytes, `stride` apart.  Returns the rows filled. */
static int parseBitmap(int fd, int columns, int rows, unsigned char *out,
                       int stride)
{
    const int rowBytes = (columns + 7) / 8;
    int row = 0, filled = 0, itemLen = 0;
    bool inArray = false, done = false;
    char item[XBM_ITEM_CHARS + 1];
    std::vector<char> buf(65536);
    for (int64_t pos = 0; !done && row < rows;) {
        ssize_t got = pread(fd, buf.data(), buf.size(), pos);
        if (got <= 0)
            break;
        pos += got;
        for (ssize_t i = 0; i < got && !done && row < rows; i++) {
            char c = buf[(size_t)i];
            if (!inArray) {
                inArray = c == '{';
                continue;
            }
            if (c != ',' && c != '}') {
                if (c != ' ' && c != '\t' && c != '\n' && c != '\r'
                        && itemLen <= XBM_ITEM_CHARS)
                    item[itemLen++] = c;
                continue;
            }
            done = c == '}';
            if (itemLen == 0)
                continue;
            unsigned long v = 0;   /* an item too long for a number */
            if (itemLen <= XBM_ITEM_CHARS) {
                item[itemLen] = '\0';
                v = std::strtoul(item, nullptr, 0);
            }
            itemLen = 0;
            out[(size_t)row * stride + filled] = (unsigned char)v;
            if (++filled == rowBytes) {
                filled = 0;
                row++;
            }
        }
    }
    return row;
}

/*
 * readXBMP --
 *	Reads the whole bitmap into the record's line cache, each row in its
 *	own slot; rows the text does not reach stay zero.
 * Results:
 *	1 when every row was read, 0 when the text ended early (with a
 *	message on standard error) or memory is short.
 */
int readXBMP(RAMImage *r)
{
    const int rows = r->info.rows;
    if (!cacheCoversBitmap(r) && setRAMImageBuf(r, rows) != rows)
        return 0;
    std::memset(r->buffer, 0, (size_t)rows * r->lineBytes);
    std::memset(r->dirty, 0, (size_t)rows / 8 + 1);
    for (int i = 0; i < rows; i++)
        r->slotMap[i] = i;
    int got = parseBitmap(r->fd, r->info.columns, rows, r->buffer,
                          r->lineBytes);
    if (got < rows) {
        stderrPrintf("Error in readXBMP: the bitmap data ends after %d of"
                     " %d rows.\n", got, rows);
        return 0;
    }
    return 1;
}

/*
 * writeXBMP --
 *	Writes the whole text of the bitmap again from the cache; rows the
 *	cache does not hold (claimed by nobody) are taken from the file.
 * Results:
 *	1, or 0 when the cache has no slot for every row or the write
 *	failed.
 * Side effects:
 *	Every slot is clean and holds its row afterwards.
 */
int writeXBMP(RAMImage *r)
{
    if (r->fd < 0 || !cacheCoversBitmap(r))
        return 0;
    const int rows = r->info.rows;
    std::vector<unsigned char> fromFile;
    for (int y = 0; y < rows; y++) {
        if (r->slotMap[y] == y)
            continue;
        if (fromFile.empty()) {
            fromFile.assign((size_t)rows * r->lineBytes, 0);
            parseBitmap(r->fd, r->info.columns, rows, fromFile.data(),
                        r->lineBytes);
        }
        std::memcpy(r->buffer + (size_t)y * r->lineBytes,
                    fromFile.data() + (size_t)y * r->lineBytes,
                    (size_t)r->lineBytes);
        r->slotMap[y] = y;
    }
    if (initXBMP(r->fd, &r->info, r->buffer, r->lineBytes) < 0)
        return 0;
    std::memset(r->dirty, 0, (size_t)r->slotCount / 8 + 1);
    return 1;
}

/*
 * initXBMP --
 *	Writes the XBM text of info's size from offset 0 and cuts the file
 *	there: the rows of `data` (rowBytes apart) or, with null data, an
 *	all-zero bitmap, and then also gives info the bitmap's description
 *	(the data initialiser of new files).
 * Results:
 *	0, or -1 when the write failed or the size is unusable.
 */
int initXBMP(int fd, ImageInfo *info, const unsigned char *data,
             int rowBytes)
{
    int columns = info->columns, rows = info->rows;
    if (columns < 1 || rows < 1 || columns > INT_MAX / 16)
        return -1;
    int perRow = (columns + 7) / 8;
    int64_t items = (int64_t)perRow * rows;
    std::string text;
    text.reserve((size_t)items * 6 + (size_t)items / 12 + 128);
    char line[96];
    std::snprintf(line, sizeof line,
                  "#define xbmp_width %d\n#define xbmp_height %d\n"
                  "static char xbmp_bits[] = {\n", columns, rows);
    text += line;
    static const char hex[] = "0123456789abcdef";
    int64_t k = 0;
    for (int y = 0; y < rows; y++) {
        const unsigned char *row = data ? data + (size_t)y * rowBytes
                                        : nullptr;
        for (int i = 0; i < perRow; i++) {
            unsigned v = row ? row[i] : 0;
            char item[8] = {' ', '0', 'x', hex[v >> 4], hex[v & 15], ','};
            text.append(item, 6);
            if (++k == items) {
                text.back() = '}';
                text += ';';
            }
            if (k % 12 == 0)
                text += '\n';
        }
    }
    if (pwrite(fd, text.data(), text.size(), 0) != (ssize_t)text.size()
            || ftruncate(fd, (off_t)text.size()) != 0)
        return -1;
    if (!data)
        describeBitmap(info, columns, rows);
    return 0;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static int dataXBMP(int fd, ImageInfo *info)
{
    return initXBMP(fd, info, nullptr, 0);
}

static const ImgFormatType xbmTypes[] = {{IMG_XBMP, LAYOUT_PICTURE}, {0, 0}};

extern const ImgFormat xbmFormat = {
    .name = "XBM",
    .types = xbmTypes,
    .probe = imgXBMP,
    .initData = dataXBMP,
    .readPicture = readXBMP,
    .writePicture = writeXBMP,
};
