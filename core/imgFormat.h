/*
 * imgFormat.h --
 *
 *	The face an image file format shows the raster store, the type
 *	registry and the line cache: one record of operations per format,
 *	filled by the format's own file and listed, in probe order, in
 *	formats/formatList.cpp.  Core reaches a format only through this
 *	record, found by the image type number; it includes no format header.
 *	An operation a format does not have is left out (null).
 */
#ifndef VELK_IMGFORMAT_H
#define VELK_IMGFORMAT_H

#include <cstdint>

#include "core/imgtype.h"
#include "core/ramimg.h"

/* How the line cache finds the lines of an image type in its file. */
enum ImgLayout {
    LAYOUT_NONE,        /* memory types: nothing to read or write */
    LAYOUT_BSQ,         /* one band line per file record, band-sequential */
    LAYOUT_BIL,         /* one band line per file record, by line */
    LAYOUT_BIP,         /* all bands of a line, pixel-interleaved */
    LAYOUT_DIB,         /* all bands of a line dealt byte by byte, bottom-up */
    LAYOUT_BLOCKS,      /* blocks of lines from the format's block reader */
    LAYOUT_PICTURE,     /* the whole picture from the format's reader */
    LAYOUT_FRAMES       /* frames selected through getRAMImageVolume */
};

/* An image type a format serves and the layout of its lines. */
struct ImgFormatType {
    int imgid;          /* 0 ends a format's list */
    int layout;         /* ImgLayout */
};

struct ImgFormat {
    const char *name = nullptr;
    const ImgFormatType *types = nullptr; /* the image types it serves */
    int mapid = 0;      /* records of this map type hold this format's
                         * private data (DICOM); 0 none */
    /* Probe: positive when the file is the format's (its type and
     * description in info), 0 when not, negative to stop probing.  A
     * probe that leaves private data for the record is a privateProbe. */
    int (*probe)(int fd, ImageInfo *info) = nullptr;
    ImgTypeProbe *privateProbe = nullptr;
    /* Header writer of new files: header size, -1 on failure. */
    int (*initHead)(int fd, int create, ImageInfo *info) = nullptr;
    /* Data area writer of new files (null: zeroes after the header). */
    int (*initData)(int fd, ImageInfo *info) = nullptr;
    /* Rewrites the palette in the file after it changed. */
    int (*updateIndices)(int fd, ImageInfo *info,
                         void *privateData) = nullptr;
    /* Fills the histograms from the file instead of the pixels. */
    int (*hist)(int fd, const ImageInfo *info, Hist *histograms) = nullptr;
    /* Runs once a record is made for a file; 0 fails the open. */
    int (*open)(RAMImage *r) = nullptr;
    /* Whole-picture reader and writer (the cache holds every line). */
    int (*readPicture)(RAMImage *r) = nullptr;
    int (*writePicture)(RAMImage *r) = nullptr;
    /* Volume selection; becomes the record's seek operation. */
    RAMImageSeekProc *seek = nullptr;
    /* Block reader: a malloc'ed block of *count lines from line *row
     * holding the line asked for in *row, or null. */
    unsigned char *(*readBlock)(RAMImage *r, int *row,
                                int *count) = nullptr;
    /* Lines of one block (the cache is a whole number of blocks). */
    int (*blockRows)(const RAMImage *r) = nullptr;
    /* True when lines may be written back in place. */
    int (*blockWritable)(const RAMImage *r) = nullptr;
    /* Releases the record's private data; becomes its destroy
     * operation (null: the private data is freed with free()). */
    RAMImageDestroyProc *destroy = nullptr;
};

/* The formats in probe order; the null entry is where the probes added
 * at run time with atEnd are tried. */
extern const ImgFormat *const imgFormatList[];
extern const int imgFormatCount;

/* The format of an image type number; null for none. */
const ImgFormat *imgFormat(int imgid);
/* The layout of an image type's lines (LAYOUT_NONE when unknown). */
int imgLayout(int imgid);
/* The format whose private data records of map type mapid hold; null
 * for none. */
const ImgFormat *imgMapFormat(int mapid);

#endif
