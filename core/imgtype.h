/*
 * imgtype.h --
 *
 *	Image, pixel and map type numbers with their keywords, the Tk custom
 *	option procedures that parse and print them, the registry that
 *	recognises a file's type by probing it in a fixed order, and the
 *	creation of new image files with the right header.
 */
#ifndef VELK_IMGTYPE_H
#define VELK_IMGTYPE_H

#include <tcl.h>
#include <tk.h>

struct ImageInfo;
struct Hist;

/* Image types (imgID). */
enum {
    IMG_UNKNOWN = 0, IMG_BSQ, IMG_BIL, IMG_BIP, IMG_E73, IMG_E74, IMG_ELAS,
    IMG_DIB, IMG_XBMP, IMG_TIFF, IMG_GIF87A, IMG_GIF89A, IMG_FFT, IMG_PPM,
    IMG_JPEG, IMG_E74BSQ, IMG_MBSQ, IMG_MBIL, IMG_MBIP, IMG_MPEG,
    IMG_MRGB32, IMG_MRGB24, IMG_MRGB565, IMG_MRGB555, IMG_MRGB8, IMG_MRGB4,
    IMG_MRGB1,
    IMG_NTYPES
};

/* Pixel types (pixelID). */
enum {
    PIXEL_UNKNOWN = 0, PIXEL_1BIT, PIXEL_4BITS, PIXEL_BYTE, PIXEL_SHORT,
    PIXEL_LONG, PIXEL_FLOAT, PIXEL_USHORT, PIXEL_ULONG, PIXEL_SBYTE,
    PIXEL_NTYPES
};

/* Map types (mapID): UTM zone z is MAP_UTM1 + z - 1. */
enum {
    MAP_UNKNOWN = 0, MAP_GRID = 1, MAP_UTM = 2, MAP_UTM1 = 3,
    MAP_POLAR = 62, MAP_DICOM = 63, MAP_NTYPES
};

/* A keyword table wrapped for Tk's custom options: the option name, the
 * parse operation (keyword -> number, -1 when absent) and the print
 * operation (number -> keyword). */
struct IDDescriptor {
    const char *optionName;
    int (*parse)(const char *text);
    const char *(*print)(int n);
};

extern IDDescriptor imgID, mapID, pixelID;
extern Tk_CustomOption imgIDOption, mapIDOption, pixelIDOption;

int parseImgID(const char *text);
int parseMapID(const char *text);
int parsePixelID(const char *text);
const char *strImgID(int n);
const char *strMapID(int n);
const char *strPixelID(int n);
int pixelBits(int pixel);

/* True for the memory-only image types MBSQ, MBIL, MBIP and MRGB32..1. */
int isMemoryImgID(int imgid);
/* True for the packed colour memory types MRGB32..MRGB1. */
int isPackedImgID(int imgid);

int ParseID(ClientData descriptor, Tcl_Interp *interp, Tk_Window window,
            const char *value, char *record, int offset);
const char *GetIDStr(ClientData descriptor, Tk_Window window, char *record,
                     int offset, Tcl_FreeProc **freeProcOut);

int msbFirst(void);

/* A run-time probe: returns a positive image type when the file is its
 * kind, 0 when not, a negative value to stop probing. */
typedef int (ImgTypeProbe)(int fd, const char *fileName, ImageInfo *info,
                           void **privateOut);

int imgTypes(int fd, const char *fileName, ImageInfo *info,
             void **privateOut);
void *imgTypeAdd(ImgTypeProbe *probe, int atEnd);
void imgTypeRemove(ImgTypeProbe *probe);
void imgTypeFree(void);
/* The abort return point of the imgTypes call in progress (null outside
 * one); a probe hands it to imageTypeInitAbort.  A probe that aborts must
 * hold no object with a destructor at that moment. */
void *imgTypeAbortPoint(void);
void imageTypeInitAbort(void *returnPoint, const char *message);

int createImage(ImageInfo *info);
int initImageHead(int fd, int newFlag, ImageInfo *info);
int initImageData(int fd, ImageInfo *info);
int updateImageIndices(int fd, ImageInfo *info, void *privateData);
int imgHist(int fd, const ImageInfo *info, Hist *histograms);

/* The BASIC raw format: 860-byte "IMAGEDEF" header. */
#define BASIC_HEADER_SIZE 860
int imgBASIC(int fd, ImageInfo *info);
int initBASIC(int fd, ImageInfo *info);

#endif
