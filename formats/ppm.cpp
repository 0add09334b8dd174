/*
 * ppm.cpp --
 *
 *	Binary portable pixmaps ("P6", three samples per pixel) and graymaps
 *	("P5", one sample per pixel): the probe and the header writer.  The
 *	pixel rows follow the text header and are read and written by the
 *	line access as pixel-interleaved lines.  Samples are bytes (BYTE),
 *	or two bytes most significant first (USHORT) when the maximum value
 *	is above 255; files are written with bytes.
 *
 *	Header (text, words separated by blanks or newlines, "#" comments to
 *	the end of a line):
 *	    word 1  magic "P6" or "P5"
 *	    word 2  width (columns)
 *	    word 3  height (rows)
 *	    word 4  maximum sample value: up to 255 one byte per sample,
 *	            up to 65535 two bytes, most significant first
 *	    one blank or newline, then the pixel bytes, row after row
 *
 *	Written: "P6\n<columns> <rows>\n255\n" or "P5\n...", blanks after the
 *	magic padding it to a requested header size.
 */
#include "formats/ppm.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"

#define PPM_WORD_CHARS 32       /* header text collected at most */
#define PPM_SCAN_LIMIT (1 << 20) /* header bytes examined at most */

static int isBlank(int c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

/* Reads the header words from the start of the file: up to four words
 * into `text` (separated by single blanks), their count into *words and
 * the bytes consumed into *consumed.  Stops early when the first word is
 * not a magic this probe accepts. */
static void scanHeader(int fd, std::string *text, int *words,
                       int64_t *consumed)
{
    unsigned char buf[512];
    ssize_t have = 0, pos = 0;
    int64_t base = 0;
    bool inComment = false, inWord = false;
    *words = 0;
    for (;;) {
        if (pos == have) {
            base += have;
            if (base >= PPM_SCAN_LIMIT)
                break;
            have = pread(fd, buf, sizeof buf, base);
            pos = 0;
            if (have <= 0)
                break;
        }
        int c = buf[pos++];
        if (inComment) {
            inComment = c != '\n';
            continue;
        }
        if (inWord) {
            if (isBlank(c) || c == '\n') {
                inWord = false;
                ++*words;
                if (*words == 1 && *text != "P5" && *text != "P6")
                    break;
                if (*words == 4)
                    break;
                text->push_back(' ');
                continue;
            }
            if (text->size() >= PPM_WORD_CHARS)
                break;
            text->push_back((char)c);
            continue;
        }
        if (isBlank(c) || c == '\n')
            continue;
        if (c == '#') {
            inComment = true;
            continue;
        }
        if (text->size() >= PPM_WORD_CHARS)
            break;
        inWord = true;
        text->push_back((char)c);
    }
    *consumed = base + pos;
}

/*
 * imgPPM --
 *	Probe of binary PPM and PGM files; the file position is kept.
 * Results:
 *	1 with info filled, or 0.  A file with a P5/P6 header that cannot be
 *	read (a maximum value outside 1..65535, a size without room in the
 *	file) is refused with a message on standard error.
 */
int imgPPM(int fd, ImageInfo *info)
{
    std::string text;
    int words;
    int64_t consumed;
    scanHeader(fd, &text, &words, &consumed);
    if (words != 4)
        return 0;
    char magic[PPM_WORD_CHARS + 1];
    long width, height, maxval;
    char tail;
    if (std::sscanf(text.c_str(), "%32s %ld %ld %ld%c", magic, &width,
                    &height, &maxval, &tail) != 4)
        return 0;
    int nbands = std::strcmp(magic, "P6") == 0 ? 3
                 : std::strcmp(magic, "P5") == 0 ? 1 : 0;
    if (nbands == 0)
        return 0;
    if (width < 1 || height < 1 || width > INT_MAX / 16
            || height > INT_MAX) {
        stderrPrintf("Error in imgPPM: invalid size %ld x %ld.\n", width,
                     height);
        return 0;
    }
    if (maxval < 1 || maxval > 65535) {
        stderrPrintf("Error in imgPPM: invalid maximum value %ld.\n",
                     maxval);
        return 0;
    }
    /* Above 255 netpbm stores two bytes per sample, most significant
     * first. */
    int sampleBytes = maxval > 255 ? 2 : 1;
    int64_t block = (int64_t)width * nbands * sampleBytes;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size - consumed < block * height) {
        stderrPrintf("Error in imgPPM: the pixel data is truncated (%lld of"
                     " %lld bytes).\n",
                     (long long)(st.st_size - consumed),
                     (long long)(block * height));
        return 0;
    }
    info->imgid = IMG_PPM;
    info->pixel = sampleBytes == 2 ? PIXEL_USHORT : PIXEL_BYTE;
    info->bits = 8 * sampleBytes;
    info->nbands = nbands;
    info->columns = (int)width;
    info->rows = (int)height;
    info->offset = (int)consumed;
    info->block = (int)block;
    info->mapid = MAP_GRID;
    info->msbf = sampleBytes == 2;
    info->nindices = 0;
    info->transparent = -1;
    info->top = info->left = 0;
    info->x0 = info->y0 = 0.0;
    info->dx = info->dy = 1.0;
    return 1;
}

/*
 * initPPMHead --
 *	Writes the header of a new P6 (three bands) or P5 (one band) file.
 *	A positive offset larger than the header text is reached with blanks
 *	after the magic, so that the probe finds the pixels there; 0 or less
 *	becomes the text's length.  Sets pixel, imgid, block, nindices and
 *	msbf.  The file position is kept.
 * Results:
 *	The header size, or -1 for other band counts, an offset smaller than
 *	the header text or a failed write.
 */
int initPPMHead(int fd, ImageInfo *info)
{
    const char *magic = info->nbands == 3 ? "P6"
                        : info->nbands == 1 ? "P5" : nullptr;
    if (!magic || info->columns < 1 || info->rows < 1
            || info->columns > INT_MAX / 16)
        return -1;
    char rest[64];
    int n = std::snprintf(rest, sizeof rest, "\n%d %d\n255\n", info->columns,
                          info->rows);
    int len = 2 + n;
    if (info->offset <= 0)
        info->offset = len;
    else if (info->offset < len)
        return -1;
    std::string head(magic);
    head.append((size_t)(info->offset - len), ' ');
    head.append(rest, (size_t)n);
    if (pwrite(fd, head.data(), head.size(), 0) != (ssize_t)head.size())
        return -1;
    info->pixel = PIXEL_BYTE;
    info->bits = 8;
    info->imgid = IMG_PPM;
    info->block = info->columns * info->nbands;
    info->nindices = 0;
    info->msbf = 0;
    return info->offset;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static int headPPM(int fd, int, ImageInfo *info)
{
    return initPPMHead(fd, info);
}

static const ImgFormatType ppmTypes[] = {{IMG_PPM, LAYOUT_BIP}, {0, 0}};

extern const ImgFormat ppmFormat = {
    .name = "PPM",
    .types = ppmTypes,
    .probe = imgPPM,
    .initHead = headPPM,
};
