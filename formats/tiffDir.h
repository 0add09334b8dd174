/*
 * tiffDir.h --
 *
 *	The TIFF directory in memory (header, IFD chain, entries), the tag
 *	accessors over it and the reading state of an open TIFF raster.
 *	Shared by the probe and block reader (tiff.cpp) and the tiff command
 *	(tiffCmd.cpp).
 */
#ifndef VELK_TIFFDIR_H
#define VELK_TIFFDIR_H

#include <cstdint>
#include <vector>

/* Byte-order words of the file header. */
#define TIFF_II 0x4949
#define TIFF_MM 0x4D4D

/* Field types. */
enum {
    TIFF_BYTE = 1, TIFF_ASCII = 2, TIFF_SHORT = 3, TIFF_LONG = 4,
    TIFF_RATIONAL = 5, TIFF_SBYTE = 6, TIFF_UNDEFINED = 7, TIFF_SSHORT = 8,
    TIFF_SLONG = 9, TIFF_SRATIONAL = 10, TIFF_FLOAT = 11, TIFF_DOUBLE = 12
};

/* Tags the system reads or writes. */
enum {
    TIFFTAG_IMAGEWIDTH = 256, TIFFTAG_IMAGELENGTH = 257,
    TIFFTAG_BITSPERSAMPLE = 258, TIFFTAG_COMPRESSION = 259,
    TIFFTAG_PHOTOMETRIC = 262, TIFFTAG_STRIPOFFSETS = 273,
    TIFFTAG_ORIENTATION = 274, TIFFTAG_SAMPLESPERPIXEL = 277,
    TIFFTAG_ROWSPERSTRIP = 278, TIFFTAG_STRIPBYTECOUNTS = 279,
    TIFFTAG_MINSAMPLEVALUE = 280, TIFFTAG_MAXSAMPLEVALUE = 281,
    TIFFTAG_PLANARCONFIG = 284, TIFFTAG_COLORMAP = 320,
    TIFFTAG_TILEWIDTH = 322, TIFFTAG_TILELENGTH = 323,
    TIFFTAG_TILEOFFSETS = 324, TIFFTAG_TILEBYTECOUNTS = 325,
    TIFFTAG_SAMPLEFORMAT = 339, TIFFTAG_MODELPIXELSCALE = 33550,
    TIFFTAG_MODELTIEPOINT = 33922
};

#define TIFF_PACKBITS 32773

struct TiffHeader {
    uint16_t order;         /* TIFF_II or TIFF_MM */
    uint16_t version;       /* 42, not checked */
    uint32_t offset;        /* offset of the first IFD */
};

/* One directory entry.  `value` holds the 4-byte value field in host
 * order: an offset or a 32-bit value as one number, two SHORTs each in
 * place, up to four bytes as stored; one SHORT as the number itself. */
struct TiffEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    uint32_t value;
};

struct TiffIFD {
    uint32_t offset;        /* file offset of the IFD */
    uint32_t next;          /* offset of the next IFD, 0 at the end */
    int count;              /* number of entries */
    std::vector<TiffEntry> entries; /* in file order */
};

struct TiffDir {
    int count;              /* number of IFDs read */
    int order;              /* TIFF_II or TIFF_MM */
    uint32_t first;         /* offset of the first IFD */
    std::vector<TiffIFD> ifds; /* chain order */
};

/* Reading state of an open TIFF raster: the record's private data. */
struct TiffState {
    int georeferenced;      /* 1 when tie point and scale were taken */
    int tileWidth;          /* -1 for strips */
    int tileLength;         /* -1 for strips */
    int stripCount;         /* entries of the data offsets array */
    int rowsPerStrip;       /* strip height, clipped to the rows */
    uint32_t stripByteCounts; /* value field of the byte counts, 0 absent */
    int compression;        /* 1 or TIFF_PACKBITS */
    int planar;             /* 2: bands stored one plane after the other */
    int order;              /* the directory's byte-order word */
    int volume;             /* current IFD, from 1 */
    TiffEntry offsets;      /* StripOffsets (or TileOffsets) entry */
    TiffEntry byteCounts;   /* StripByteCounts (or TileByteCounts); tag 0
                             * when absent */
    TiffDir *dir;
};

int getTiffHead(int fd, TiffHeader *header);
int getTiffInfo(int fd, int *entries, const TiffHeader *header);
TiffIFD *getTiffNextIFDEntry(int fd, int order, uint32_t offset);
TiffDir *getTiffDir(int fd);
void delTiffDir(TiffDir *dir);

int getTiffEntryIndex(const TiffIFD *ifd, int tag);
long convertTiffOffsetLong(int type, uint32_t value);
int tiffTypeSize(int type);

long getTiffImageWidth(const TiffIFD *ifd);
long getTiffImageLength(const TiffIFD *ifd);
long getTiffCompression(const TiffIFD *ifd);
long getTiffTileWidth(const TiffIFD *ifd);
long getTiffTileLength(const TiffIFD *ifd);
long getTiffSamplePerPixel(const TiffIFD *ifd);
long getTiffPhotometricInterpretation(const TiffIFD *ifd);
long getTiffRowsPerStrip(const TiffIFD *ifd);
long getTiffBytesPerStrip(const TiffIFD *ifd);
long getTiffStripOffsets(int fd, const TiffIFD *ifd, int order, long *count);

long getTiffArrayElement(int fd, const TiffIFD *ifd, int tag, long index,
                         int order);
long getTiffBitsPerSample(int fd, const TiffIFD *ifd, long index, int order);
long getTiffSampleFormat(int fd, const TiffIFD *ifd, long index, int order);
uint32_t getTiffOffsetLong(int fd, int order, uint32_t offset, int index);

/* Reads elements first .. first + n - 1 of a BYTE, SHORT or LONG entry
 * into out.  Returns 0, or -1 when out of range, of another type or
 * unreadable (out then holds what was read, the rest 0). */
int tiffReadUintArray(int fd, int order, const TiffEntry &e, uint64_t first,
                      long n, uint32_t *out);

/* Reads the first n values of an entry into out, each converted to host
 * order (RATIONAL as two 32-bit words), no further than the end of the
 * file.  Returns the number of values read. */
long tiffReadEntryValues(int fd, int order, const TiffEntry &e, long n,
                         std::vector<unsigned char> &out);

int getTiffColormap(int fd, const TiffIFD *ifd, unsigned char (*colours)[3],
                    int order);
int putTiffColormap(int fd, const TiffIFD *ifd,
                    const unsigned char (*colours)[3], int order);
int getGeoTiffTiePoints(int fd, const TiffIFD *ifd, int order,
                        double *values);
int getGeoTiffPixelScales(int fd, const TiffIFD *ifd, int order,
                          double *values);

/* TIFF_II on a little-endian host, TIFF_MM on a big-endian one. */
int tiffHostOrder(void);

/* Size of the file open on fd, -1 when unknown. */
int64_t tiffFileSize(int fd);

/* Value conversion from the file's byte order. */
uint16_t tiffGet16(const unsigned char *p, int order);
uint32_t tiffGet32(const unsigned char *p, int order);
double tiffGetDouble(const unsigned char *p, int order);

#endif
