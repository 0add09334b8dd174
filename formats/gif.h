/*
 * gif.h --
 *
 *	GIF87a and GIF89a reading: probe, frame decoding into the record's
 *	canvas (the line cache), frames as volumes.  Writing is not supported.
 *	The block readers and the LZW decoder are exported for tools that walk
 *	GIF files themselves.
 */
#ifndef VELK_GIF_H
#define VELK_GIF_H

#include <cstdint>

struct ImageInfo;
struct RAMImage;

int imgGif(int fd, ImageInfo *info);
int readGIF(RAMImage *r);
int gifSeek(RAMImage *r, int volume);
int rewindGIF(RAMImage *r);
int writeGIF(RAMImage *r);
/* The delay of the last frame read, in milliseconds (0 before any). */
int gifFrameDelay(const RAMImage *r);

/* Block readers.  Each reads from the descriptor's current position. */
int getGifSig(int fd);
int getGifLSD(int fd, int *width, int *height, unsigned char packed[3],
              unsigned char colours[256][3]);
int getGifImgDes(int fd, int *top, int *left, int *width, int *height,
                 int *codeSize, int *packed, unsigned char colours[256][3],
                 int *count);
int getGifBlock(int fd, unsigned char buffer[255]);
int getImgSeparate(int fd, int *transparent);

#define GIF_MAX_CODES 4096
#define GIF_READ_AHEAD 32768

/* State of the LZW decoder over one frame's data sub-blocks.  The
 * sub-blocks are read ahead from the descriptor in GIF_READ_AHEAD pieces;
 * `base` + `at` is the file position of the next unread byte. */
struct GifImgBlk {
    int fd;
    int minCodeSize;        /* from the file, 1..8 */
    int codeSize;           /* bits of the next code, up to 12 */
    int clearCode;          /* 2^minCodeSize */
    int endCode;            /* clearCode + 1 */
    int freeCode;           /* next table entry to define */
    int codeLimit;          /* freeCode at which codeSize grows */
    int oldCode;            /* previous code, -1 after a clear */
    uint32_t bits;          /* pending bits, least significant first */
    int bitCount;           /* number of pending bits */
    int blockLeft;          /* bytes left in the current sub-block */
    int exhausted;          /* 1 after the terminator, EOF or an error */
    int truncated;          /* 1 when the data ended without terminator */
    int sp;                 /* bytes on the stack */
    int64_t base;           /* file position of data[0] */
    int len, at;            /* read-ahead bytes held and consumed */
    uint16_t prefix[GIF_MAX_CODES];     /* string of a code: the prefix */
    unsigned char suffix[GIF_MAX_CODES]; /* code's string and this byte */
    unsigned char first[GIF_MAX_CODES];  /* first byte of the string */
    uint16_t length[GIF_MAX_CODES];     /* bytes of the string */
    unsigned char stack[GIF_MAX_CODES + 1]; /* pending bytes, next on top */
    unsigned char data[GIF_READ_AHEAD];
};

int initGifImgBlk(int fd, int minCodeSize, GifImgBlk *state);
void setGifImgBlk(GifImgBlk *state);
int getNextGifCode(GifImgBlk *state);
int getNextGifByte(GifImgBlk *state);
/* Up to `count` decoded bytes into `out`; returns how many (fewer only at
 * the end of the data). */
int getGifBytes(GifImgBlk *state, unsigned char *out, int count);
/* Skips what is left of the frame's sub-blocks.  Returns the file
 * position after the terminator, or -1 when the data ended without one. */
int64_t drainGifImgBlk(GifImgBlk *state);

#endif
