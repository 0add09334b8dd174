/*
 * dicom.cpp --
 *
 *	DICOM data sets in the implicit-VR little-endian encoding, without a
 *	group 0002 file meta header.  The probe reads every data element up
 *	to the pixel data into an element table (a Tcl integer-keyed hash
 *	table of DicomEntry chains), which stays with the raster record as its
 *	private data, and describes the pixels as a pixel-interleaved raster.
 *	The `dicom` command (dicomCmd.cpp) lists the table.
 *
 *	File layout:
 *
 *	Offset Size Field
 *	     0  128 optional preamble (any bytes)
 *	   128    4 "DICM" when the preamble is there
 *	     x    8 element header: group (uint16 LE), element (uint16 LE),
 *	            value length (uint32 LE; 0xFFFFFFFF undefined)
 *	   x+8    n value, then the next element header ...
 *
 *	The first element must be of group 0x0008.  The table ends with the
 *	pixel data element (7FE0,0010); its value is the pixels.
 *
 *	Elements the probe uses (group 0x0028, US unless noted):
 *	  0002 samples per pixel    0008 number of frames (IS text)
 *	  0010 rows                 0011 columns
 *	  0006 planar configuration 0030 pixel spacing (DS text "a\b")
 *	  0060 compression code (text)
 *	  0100 bits allocated       0102 high bit
 *	  0103 pixel representation (1: signed)
 */
#include "formats/dicom.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"

#define DICOM_PREAMBLE 128
#define DICOM_UNDEFINED 0xFFFFFFFFu
#define DICOM_ITEM_GROUP 0xFFFE
#define DICOM_ITEM 0xE000
#define DICOM_ITEM_END 0xE00D
#define DICOM_SEQUENCE_END 0xE0DD

/* ---------------------------------------------------------------------
 * Value representations
 * --------------------------------------------------------------------- */

static const char *const vrCodes[] = {
    "RT", "AE", "AS", "AT", "CS", "DA", "DS", "DT", "FL", "FD", "IS", "LO",
    "LT", "OB", "OW", "PN", "SH", "SL", "SQ", "SS", "ST", "TM", "UI", "UL",
    "UN", "US", "UT",
};
#define VR_COUNT ((int)(sizeof vrCodes / sizeof vrCodes[0]))

/*
 * dicomVR --
 *	The code of value representation n, "??" outside 0..26.
 */
const char *dicomVR(int n)
{
    return n >= 0 && n < VR_COUNT ? vrCodes[n] : "??";
}

/*
 * dicomID --
 *	The number of a value representation code, 0 when unknown.
 */
int dicomID(const char *code)
{
    if (code)
        for (int n = 0; n < VR_COUNT; n++)
            if (std::strcmp(vrCodes[n], code) == 0)
                return n;
    return 0;
}

/* ---------------------------------------------------------------------
 * The element table
 * --------------------------------------------------------------------- */

static void freeChain(DicomEntry *e)
{
    while (e) {
        DicomEntry *next = e->next;
        std::free(e);
        e = next;
    }
}

static void *tableKey(int group, int element)
{
    return (void *)(uintptr_t)DICOM_KEY(group & 0xFFFF, element & 0xFFFF);
}

/*
 * getDicomEntry --
 *	The entry of (group, element) in the table, or null.
 */
DicomEntry *getDicomEntry(Tcl_HashTable *table, int group, int element)
{
    if (!table)
        return nullptr;
    Tcl_HashEntry *h = Tcl_FindHashEntry(table, (const char *)tableKey(group, element));
    return h ? static_cast<DicomEntry *>(Tcl_GetHashValue(h)) : nullptr;
}

/*
 * putToDicomHashTable --
 *	Enters entry under (group, element).
 * Side effects:
 *	An entry already there is freed with its chain.
 */
void putToDicomHashTable(Tcl_HashTable *table, int group, int element,
                         DicomEntry *entry)
{
    int isNew;
    Tcl_HashEntry *h = Tcl_CreateHashEntry(
        table, (const char *)tableKey(group, element), &isNew);
    if (!isNew) {
        DicomEntry *old = static_cast<DicomEntry *>(Tcl_GetHashValue(h));
        if (old != entry)
            freeChain(old);
    }
    Tcl_SetHashValue(h, entry);
}

/*
 * deleteDicomHashTable --
 *	Frees every entry with its chain, then the table.
 */
void deleteDicomHashTable(Tcl_HashTable *table)
{
    if (!table)
        return;
    Tcl_HashSearch search;
    for (Tcl_HashEntry *h = Tcl_FirstHashEntry(table, &search); h;
         h = Tcl_NextHashEntry(&search))
        freeChain(static_cast<DicomEntry *>(Tcl_GetHashValue(h)));
    Tcl_DeleteHashTable(table);
    delete table;
}

/* Reads exactly n bytes at pos; false on a short read. */
static bool readAt(int fd, void *buf, size_t n, int64_t pos)
{
    unsigned char *p = static_cast<unsigned char *>(buf);
    while (n > 0) {
        ssize_t got = pread(fd, p, n, (off_t)pos);
        if (got <= 0)
            return false;
        p += got;
        n -= (size_t)got;
        pos += got;
    }
    return true;
}

static unsigned le16(const unsigned char *p)
{
    return (unsigned)p[0] | (unsigned)p[1] << 8;
}

static uint32_t le32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16
           | (uint32_t)p[3] << 24;
}

/* Value bytes kept of a length: the low 16 bits, 0xFFFF counting as 0. */
static uint32_t keptLength(uint32_t length)
{
    uint32_t low = length & 0xFFFF;
    return low == 0xFFFF ? 0 : low;
}

static DicomEntry *newEntry(unsigned group, unsigned element, uint32_t length,
                            uint32_t size)
{
    DicomEntry *e = static_cast<DicomEntry *>(
        std::malloc(offsetof(DicomEntry, value) + size + 1));
    if (!e)
        return nullptr;
    e->group = (uint16_t)group;
    e->element = (uint16_t)element;
    e->length = length;
    e->size = size;
    e->next = nullptr;
    e->value[size] = 0;
    return e;
}

/*
 * getDicomHashTable --
 *	Reads the element table of the file open on fd, up to and including
 *	the pixel data element.  The file position is not moved.
 * Results:
 *	The table and, in *dataOffset, the file offset of the first pixel
 *	byte (-1 for a data set that ends without pixel data); null when the
 *	file is not a supported DICOM data set (no element of group 0x0008
 *	first, a short read inside an element).
 *
 *	Nesting: sequences of undefined length open a level, as do items of
 *	undefined length; delimiters close one.  Inside a level, and for
 *	every item or delimiter, an element is chained behind the element
 *	read before it instead of entering the table.  A value longer than
 *	65535 bytes keeps its low-16-bit part and the rest is skipped, so the
 *	elements after it stay aligned.
 */
Tcl_HashTable *getDicomHashTable(int fd, long *dataOffset)
{
    unsigned char start[DICOM_PREAMBLE + 4];
    if (!readAt(fd, start, sizeof start, 0))
        return nullptr;
    int64_t pos = std::memcmp(start + DICOM_PREAMBLE, "DICM", 4) == 0
                  ? DICOM_PREAMBLE + 4 : 0;
    unsigned char h[8];
    if (!readAt(fd, h, 8, pos) || le16(h) != 0x0008)
        return nullptr;

    Tcl_HashTable *table = new (std::nothrow) Tcl_HashTable;
    if (!table)
        return nullptr;
    Tcl_InitHashTable(table, TCL_ONE_WORD_KEYS);
    DicomEntry *last = nullptr;     /* element read before this one */
    int depth = 0;                  /* open sequences and items */
    for (;;) {
        if (!readAt(fd, h, 8, pos)) {
            /* A data set without pixel data ends cleanly at an element
             * boundary: the table is kept for listing, without pixels. */
            struct stat st;
            if (depth == 0 && fstat(fd, &st) == 0 && st.st_size == pos) {
                *dataOffset = -1;
                return table;
            }
            break;
        }
        pos += 8;
        unsigned group = le16(h), element = le16(h + 2);
        uint32_t length = le32(h + 4);
        bool pixelData = depth == 0 && group == 0x7FE0 && element == 0x0010;
        uint32_t size = pixelData ? 0 : keptLength(length);
        DicomEntry *e = newEntry(group, element, length, size);
        if (!e)
            break;
        if (size > 0 && !readAt(fd, e->value, size, pos)) {
            std::free(e);
            break;
        }
        bool nested = group == DICOM_ITEM_GROUP || depth > 0;
        if (nested && last) {
            last->next = e;
        } else {
            putToDicomHashTable(table, (int)group, (int)element, e);
        }
        last = e;
        if (pixelData) {
            *dataOffset = (long)pos;
            return table;
        }
        if (length != DICOM_UNDEFINED) {
            pos += length;
        } else if (group != DICOM_ITEM_GROUP || element == DICOM_ITEM) {
            depth++;
        }
        if (group == DICOM_ITEM_GROUP
                && (element == DICOM_ITEM_END || element == DICOM_SEQUENCE_END)
                && depth > 0)
            depth--;
    }
    deleteDicomHashTable(table);
    return nullptr;
}

/* ---------------------------------------------------------------------
 * The probe
 * --------------------------------------------------------------------- */

/* A US value of the table, or -1 when absent or too short. */
static long usValue(Tcl_HashTable *t, int element)
{
    DicomEntry *e = getDicomEntry(t, 0x0028, element);
    if (!e || e->size < 2)
        return -1;
    return (long)le16(e->value);
}

/* A text value without surrounding blanks; empty when absent. */
static std::string textValue(Tcl_HashTable *t, int element, bool *present)
{
    DicomEntry *e = getDicomEntry(t, 0x0028, element);
    *present = e != nullptr;
    if (!e)
        return std::string();
    std::string s(reinterpret_cast<const char *>(e->value));
    size_t b = s.find_first_not_of(' ');
    size_t l = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, l - b + 1);
}

static bool equalsNoCase(const std::string &a, const char *b)
{
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::toupper((unsigned char)a[i]) != b[i])
            return false;
    return true;
}

/* Fills info from the table.  Returns false when the image cannot be
 * described (missing or unusable geometry). */
static bool describeDicom(Tcl_HashTable *t, long dataOffset, ImageInfo *info)
{
    long rows = usValue(t, 0x0010), columns = usValue(t, 0x0011);
    long bits = usValue(t, 0x0100);
    long samples = usValue(t, 0x0002);
    long signedPixels = usValue(t, 0x0103);
    long highBit = usValue(t, 0x0102);
    long planar = usValue(t, 0x0006);
    if (samples < 0)
        samples = 1;
    if (rows < 1 || columns < 1 || samples < 1 || dataOffset < 0
            || dataOffset > INT_MAX)
        return false;
    int pixel;
    switch (bits) {
    case 4: pixel = PIXEL_4BITS; break;
    case 8: pixel = signedPixels >= 1 ? PIXEL_SBYTE : PIXEL_BYTE; break;
    case 16: pixel = signedPixels >= 1 ? PIXEL_SHORT : PIXEL_USHORT; break;
    case 32: pixel = signedPixels >= 1 ? PIXEL_LONG : PIXEL_ULONG; break;
    default: return false;
    }
    int64_t block = (int64_t)columns * samples * bits / 8;
    if (block < 1 || block > INT_MAX)
        return false;

    info->imgid = IMG_BIP;
    info->block = (int)block;
    /* Colour by plane: every band's rows one after the other. */
    if (planar == 1 && samples > 1) {
        info->imgid = IMG_BSQ;
        info->block = (int)((int64_t)columns * bits / 8);
    }
    info->mapid = MAP_DICOM;
    info->offset = (int)dataOffset;
    info->nbands = (int)samples;
    info->rows = (int)rows;
    info->columns = (int)columns;
    info->bits = (int)bits;
    info->pixel = pixel;
    info->msbf = highBit <= 0 ? msbFirst() : 0;
    info->top = info->left = 0;
    info->x0 = info->y0 = 0.0;
    info->dx = info->dy = 1.0;
    bool present;
    std::string spacing = textValue(t, 0x0030, &present);
    if (present)
        std::sscanf(spacing.c_str(), "%lf\\%lf", &info->dx, &info->dy);
    std::string frames = textValue(t, 0x0008, &present);
    long n = present ? std::strtol(frames.c_str(), nullptr, 10) : 0;
    info->volumes = n > 0 && n <= INT_MAX ? (int)n : 0;
    info->nindices = 0;
    info->transparent = -1;
    info->extraFd = -1;
    return true;
}

/*
 * imgDicom --
 *	Probe of DICOM data sets (first in the registry's order).
 * Results:
 *	1 with info filled and the element table in *privateOut; 0 when the
 *	file is not a readable DICOM image.
 * Side effects:
 *	A compressed image prints "Unable to read compressed DICOM image."
 *	on standard error.
 */
int imgDicom(int fd, ImageInfo *info, void **privateOut)
{
    long dataOffset = 0;
    Tcl_HashTable *t = getDicomHashTable(fd, &dataOffset);
    if (!t)
        return 0;
    bool present;
    std::string code = textValue(t, 0x0060, &present);
    DicomEntry *pixels = getDicomEntry(t, 0x7FE0, 0x0010);
    /* Pixel data of undefined length is encapsulated, i.e. compressed. */
    if ((present && !equalsNoCase(code, "NONE"))
            || (pixels && pixels->length == DICOM_UNDEFINED)) {
        stderrPrintf("Unable to read compressed DICOM image.\n");
        deleteDicomHashTable(t);
        return 0;
    }
    if (!describeDicom(t, dataOffset, info)) {
        deleteDicomHashTable(t);
        return 0;
    }
    *privateOut = t;
    return 1;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static int probeDicom(int fd, const char *, ImageInfo *info, void **table)
{
    return imgDicom(fd, info, table);
}

static void destroyDicom(RAMImage *r)
{
    deleteDicomHashTable(static_cast<Tcl_HashTable *>(r->privateData));
    r->privateData = nullptr;
}

/* A DICOM file reports the raw type of its pixel layout, not a type of
 * its own; its records are marked by the map type. */
static const ImgFormatType dicomTypes[] = {{0, 0}};

extern const ImgFormat dicomFormat = {
    .name = "DICOM",
    .types = dicomTypes,
    .mapid = MAP_DICOM,
    .privateProbe = probeDicom,
    .destroy = destroyDicom,
};
