/*
 * ramimg.h --
 *
 *	The raster image record (RAMImage), its description (ImageInfo), the
 *	client notification record and the process-wide store that owns every
 *	record.  Line access through the cache is in lineAccess.h; probing and
 *	creating files is in imgtype.h.
 */
#ifndef VELK_RAMIMG_H
#define VELK_RAMIMG_H

#include <cstdint>

struct Hist;
struct RAMImage;

/* Description of a raster image.  Copied whole between records, probes and
 * the rimage command's default options. */
struct ImageInfo {
    char fileName[256];     /* image file path; a memory image's tag */
    int pixel;              /* pixel type number (pixelID) */
    int imgid;              /* image type number (imgID) */
    int mapid;              /* map type number (mapID) */
    int offset;             /* header size: file offset of the first pixel */
    int block;              /* bytes of one stored line (one band for
                             * BSQ/BIL layouts, all bands for BIP layouts) */
    int top;                /* row of the first line in a larger frame */
    int left;               /* column of the first pixel in a larger frame */
    int rows;               /* number of lines */
    int columns;            /* pixels per line */
    int bits;               /* bits per pixel, from the pixel type */
    int nbands;             /* number of bands */
    int msbf;               /* 1: multi-byte values most significant byte
                             * first in the file (1BIT/4BITS: high bit or
                             * nibble first) */
    int nindices;           /* palette entries in use */
    int transparent;        /* transparent palette index, -1 for none; also
                             * the byte the line cache is filled with */
    unsigned char palette[256][3]; /* red, green, blue per entry */
    double x0, y0;          /* map coordinates of the first pixel */
    double dx, dy;          /* cell size in map units */
    int extraFd;            /* second descriptor a probe opened, -1 none */
    int volumes;            /* volumes found by the probe, 0 single */
};

/* Notification record, owned by the client object; the store never frees
 * it. */
struct RAMImageClient {
    void (*configProc)(void *clientData);  /* geometry/type/volume changed */
    void (*updateProc)(void *clientData);  /* pixel values changed */
    void *owner;            /* notifications from this token are skipped */
    void *clientData;
    RAMImageClient *next;
};

typedef unsigned char *(RAMImageGetLineProc)(RAMImage *r, int line, int band,
                                              int read);
typedef void (RAMImageFlushLineProc)(RAMImage *r, int slot);
typedef int (RAMImageSeekProc)(RAMImage *r, int volume);
typedef void (RAMImageDestroyProc)(RAMImage *r);

/* Attribute bits. */
#define RAMIMG_LOCKED 1

/* The raster record.  Design notes (the line cache):
 *  1. The cache is one allocation: slotMap (slotCount ints), then the dirty
 *     bits, then, 16-byte aligned, `buffer`: slotCount lines of lineBytes
 *     bytes followed by the packed picture of the MRGB types.  slotMap is
 *     the start of the allocation and is what is freed.
 *  2. The key of line y of band b is y * nbands + b; it may only live in
 *     slot key % slotCount (MBSQ records use their own fixed order).
 *  3. A slot's dirty bit is set only while slotMap holds a key for it.
 *  4. Cached lines hold one band, multi-byte values in host (little-endian)
 *     order, whatever the file holds.
 *  5. For a record without a file and without a packed area, slot i holds
 *     key i from creation on and never changes.
 */
struct RAMImage {
    char tag[256];          /* unique name in the store */
    ImageInfo info;         /* description; info.fileName shares files */
    int fd;                 /* image file descriptor, -1 when resident */
    int lineBytes;          /* bytes of one cached line of one band */
    int links;              /* internal opens not yet closed */
    int opens;              /* `rimage open`s not yet closed */
    int cacheLines;         /* lines of each band held in the cache */
    int slotCount;          /* cacheLines * nbands */
    int attributes;         /* RAMIMG_LOCKED */
    int volume;             /* current volume, from 1; 0 before any seek */
    int volumeCount;        /* number of volumes, -1 while unknown */
    int64_t dataOffset;     /* file offset of the current volume's data */
    void *privateData;      /* format data left by the probe */
    RAMImageSeekProc *seek;         /* volume selection, null for most */
    RAMImageDestroyProc *destroy;   /* releases privateData; null: default */
    RAMImageGetLineProc *getLine;
    RAMImageFlushLineProc *flushLine;
    int *slotMap;           /* key held per slot, -1 empty */
    unsigned char *dirty;   /* one bit per slot */
    unsigned char *buffer;  /* line data (+ packed picture) */
    Hist *histograms;       /* one per band, null until computed */
    RAMImageClient *clients; /* most recently linked first */
    RAMImage *next;         /* next record in the store */
};

/* Store error codes. */
enum {
    RAMIMG_OK = 0,
    RAMIMG_ENOMEM = 1,
    RAMIMG_EUNKNOWN = 2,
    RAMIMG_EOPEN = 3,
    RAMIMG_ESYSTEM = 4,
    RAMIMG_EEXIST = 5,
    RAMIMG_ECREATE = 6,
    RAMIMG_EHANDLE = 8
};

RAMImage *getRAMImageByTag(const char *tag);
RAMImage *getRAMImageByName(const char *fileName);
RAMImage *getRAMImage(void);

RAMImage *openRAMImage(const char *tag, const char *fileName,
                       const ImageInfo *info, RAMImageClient *client,
                       int *errorOut);
RAMImage *openRAMImageNew(ImageInfo *info, RAMImageClient *client,
                          int overwrite, int *errorOut);
RAMImage *createRAMImage(const char *fileName, const ImageInfo *info,
                         RAMImage *reuse, int *errorOut);
RAMImage *residentRAMImage(const ImageInfo *info, RAMImage *reuse,
                           int *errorOut);
RAMImage *updateRAMImage(const char *fileName, const ImageInfo *info,
                         RAMImage *r, int *errorOut);
int closeRAMImage(RAMImage *r, RAMImageClient *client);
void destroyRAMImage(RAMImage *r);
void flushRAMImage(RAMImage *r);
int attrRAMImage(RAMImage *r, int attributes);
int setRAMImageBuf(RAMImage *r, int lines);
int setRAMImageMemResident(RAMImage *r, int on);
void inValidateRAMImage(RAMImage *r);
void updateRAMImageLine(RAMImage *r, int line, int firstColumn, int count,
                        int band);

int linkRAMImageClient(RAMImageClient *client, RAMImage *r);
int unlinkRAMImageClient(RAMImageClient *client, RAMImage *r);
RAMImage *unlinkClient(RAMImageClient *client);
void updateClient(RAMImage *r, void *ownerToken, int flags);
int ramImageClientCount(const RAMImage *r);

void linkRAMImage(const char *tag, RAMImage *r);
void unlinkRAMImage(RAMImage *r);

const char *ramimgError(int code);
void ramimgErrorReport(int code);

/* Bytes of one cached line of one band for a pixel type and width. */
int ramImageLineBytes(int pixel, int columns);

/* Cache slot helpers shared by the store and the line access. */
static inline int ramImageSlotDirty(const RAMImage *r, int slot)
{
    return (r->dirty[slot >> 3] >> (slot & 7)) & 1;
}
static inline void ramImageSetDirty(RAMImage *r, int slot)
{
    r->dirty[slot >> 3] |= (unsigned char)(1u << (slot & 7));
}
static inline void ramImageClearDirty(RAMImage *r, int slot)
{
    r->dirty[slot >> 3] &= (unsigned char)~(1u << (slot & 7));
}

/* True when the record's cache satisfies the invariants above. */
bool cacheInvariantsHold(const RAMImage *r);

/* Records created so far; the next generated tag is "rimg<counter>". */
int ramImageCounter(void);

/* Test hook: the largest cache, in bytes, that setRAMImageBuf may
 * allocate before it falls back to fewer lines; 0 means no limit. */
void setRAMImageBufLimit(int64_t bytes);

#endif
