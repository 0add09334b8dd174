/*
 * imgtype.cpp --
 *
 *	Keyword tables of image, pixel and map types, the Tk custom option
 *	procedures over them, the probe registry that recognises a file's type
 *	in a fixed order (run-time front probes, DICOM, the built-in formats,
 *	run-time back probes, MPEG), and the creation of new image files: the
 *	header writer of the type, then a zeroed data area.
 */
#include "core/imgtype.h"

#include <fcntl.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

#include "core/imgFormat.h"
#include "core/ramimg.h"
#include "core/stdstream.h"

/* ---------------------------------------------------------------------
 * Keywords
 * --------------------------------------------------------------------- */

static const char *const imgKeywords[] = {
    "UNKNOWN", "BSQ", "BIL", "BIP", "E73", "E74", "ELAS", "DIB", "XBMP",
    "TIFF", "GIF87a", "GIF89a", "FFT", "PPM", "JPEG", "E74BSQ", "MBSQ",
    "MBIL", "MBIP", "MPEG", "MRGB32", "MRGB24", "MRGB565", "MRGB555",
    "MRGB8", "MRGB4", "MRGB1", "",
};

static const char *const pixelKeywords[] = {
    "UNKNOWN", "1BIT", "4BITS", "BYTE", "SHORT", "LONG", "FLOAT", "USHORT",
    "ULONG", "SBYTE", "",
};

static const int pixelBitTable[PIXEL_NTYPES] = {0, 1, 4, 8, 16, 32, 32, 16,
                                                32, 8};

/* Map keywords: UNKNOWN GRID UTM UTM1..UTM59 POLAR DICOM, built once. */
static const char *mapKeyword(int n)
{
    static char utm[59][8];
    static bool built = false;
    if (!built) {
        for (int z = 1; z <= 59; z++)
            std::snprintf(utm[z - 1], sizeof utm[0], "UTM%d", z);
        built = true;
    }
    if (n == MAP_UNKNOWN) return "UNKNOWN";
    if (n == MAP_GRID) return "GRID";
    if (n == MAP_UTM) return "UTM";
    if (n >= MAP_UTM1 && n < MAP_POLAR) return utm[n - MAP_UTM1];
    if (n == MAP_POLAR) return "POLAR";
    if (n == MAP_DICOM) return "DICOM";
    return nullptr;
}

static int findKeyword(const char *const *table, int from, const char *text)
{
    if (!text)
        return -1;
    for (int i = from; *table[i]; i++)
        if (std::strcmp(table[i], text) == 0)
            return i;
    return -1;
}

int parseImgID(const char *text)
{
    return findKeyword(imgKeywords, 0, text);
}

int parsePixelID(const char *text)
{
    return findKeyword(pixelKeywords, 1, text);
}

int parseMapID(const char *text)
{
    if (!text)
        return -1;
    for (int n = 1; n < MAP_NTYPES; n++)
        if (std::strcmp(mapKeyword(n), text) == 0)
            return n;
    return -1;
}

const char *strImgID(int n)
{
    return n >= 0 && n < IMG_NTYPES ? imgKeywords[n] : "UNKNOWN";
}

const char *strPixelID(int n)
{
    return n >= 0 && n < PIXEL_NTYPES ? pixelKeywords[n] : "UNKNOWN";
}

const char *strMapID(int n)
{
    const char *s = mapKeyword(n);
    return s ? s : "UNKNOWN";
}

int pixelBits(int pixel)
{
    return pixel >= 0 && pixel < PIXEL_NTYPES ? pixelBitTable[pixel] : 0;
}

int isMemoryImgID(int imgid)
{
    return imgid == IMG_MBSQ || imgid == IMG_MBIL || imgid == IMG_MBIP
           || isPackedImgID(imgid);
}

int isPackedImgID(int imgid)
{
    return imgid >= IMG_MRGB32 && imgid <= IMG_MRGB1;
}

/* ---------------------------------------------------------------------
 * Tk custom options
 * --------------------------------------------------------------------- */

IDDescriptor imgID = {"imgid", parseImgID, strImgID};
IDDescriptor mapID = {"mapid", parseMapID, strMapID};
IDDescriptor pixelID = {"pixel", parsePixelID, strPixelID};

Tk_CustomOption imgIDOption = {ParseID, GetIDStr, &imgID};
Tk_CustomOption mapIDOption = {ParseID, GetIDStr, &mapID};
Tk_CustomOption pixelIDOption = {ParseID, GetIDStr, &pixelID};

/*
 * ParseID --
 *	Parses a keyword into the int at offset in record.
 * Results:
 *	0, or 1 with "Invalid value: <value> for <option>" appended to the
 *	result (the record is then unchanged).
 */
int ParseID(ClientData descriptor, Tcl_Interp *interp, Tk_Window,
            const char *value, char *record, int offset)
{
    const IDDescriptor *d = static_cast<const IDDescriptor *>(descriptor);
    int n = d->parse(value);
    if (n < 0) {
        if (interp)
            Tcl_AppendResult(interp, "Invalid value: ", value, " for ",
                             d->optionName, nullptr);
        return 1;
    }
    std::memcpy(record + offset, &n, sizeof n);
    return 0;
}

/*
 * GetIDStr --
 *	The keyword of the int at offset in record, as a new string that
 *	*freeProcOut releases.
 */
const char *GetIDStr(ClientData descriptor, Tk_Window, char *record,
                     int offset, Tcl_FreeProc **freeProcOut)
{
    const IDDescriptor *d = static_cast<const IDDescriptor *>(descriptor);
    int n;
    std::memcpy(&n, record + offset, sizeof n);
    const char *s = d->print(n);
    char *copy = Tcl_Alloc((unsigned)std::strlen(s) + 1);
    std::strcpy(copy, s);
    *freeProcOut = TCL_DYNAMIC;
    return copy;
}

int msbFirst(void)
{
    const unsigned short one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

/* ---------------------------------------------------------------------
 * The probe registry
 * --------------------------------------------------------------------- */

struct ProbeNode {
    ImgTypeProbe *probe;
    ProbeNode *next;
};

static ProbeNode *frontProbes = nullptr;
static ProbeNode *backProbes = nullptr;
static jmp_buf *abortPoint = nullptr;

static void removeFrom(ProbeNode **list, ImgTypeProbe *probe)
{
    for (ProbeNode **p = list; *p; p = &(*p)->next) {
        if ((*p)->probe == probe) {
            ProbeNode *dead = *p;
            *p = dead->next;
            std::free(dead);
            return;
        }
    }
}

/*
 * imgTypeAdd --
 *	Registers a run-time probe once: at the head of the front list, or
 *	with atEnd at the tail of the back list.
 */
void *imgTypeAdd(ImgTypeProbe *probe, int atEnd)
{
    ProbeNode *node = static_cast<ProbeNode *>(std::malloc(sizeof *node));
    if (!node)
        return nullptr;
    imgTypeRemove(probe);
    node->probe = probe;
    node->next = nullptr;
    if (atEnd) {
        ProbeNode **p = &backProbes;
        while (*p)
            p = &(*p)->next;
        *p = node;
    } else {
        node->next = frontProbes;
        frontProbes = node;
    }
    return node;
}

void imgTypeRemove(ImgTypeProbe *probe)
{
    removeFrom(&frontProbes, probe);
    removeFrom(&backProbes, probe);
}

void imgTypeFree(void)
{
    for (ProbeNode **list : {&frontProbes, &backProbes}) {
        while (*list) {
            ProbeNode *dead = *list;
            *list = dead->next;
            std::free(dead);
        }
    }
}

void *imgTypeAbortPoint(void)
{
    return abortPoint;
}

/*
 * imageTypeInitAbort --
 *	Prints message on standard error and returns to the imgTypes call
 *	that owns returnPoint, which then reports -1.
 */
void imageTypeInitAbort(void *returnPoint, const char *message)
{
    if (message && *message)
        stderrPrintf("%s", message);
    if (returnPoint)
        std::longjmp(*static_cast<jmp_buf *>(returnPoint), 1);
}

/* Starts a probe on a clean description. */
static void clearInfo(ImageInfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->extraFd = -1;
    info->transparent = -1;
}

/* Runs the probes of one run-time list.  Returns the decision or 0. */
static int runProbes(ProbeNode *list, int fd, const char *fileName,
                     ImageInfo *info, void **privateOut)
{
    for (ProbeNode *n = list; n; n = n->next) {
        clearInfo(info);
        int rc = n->probe(fd, fileName, info, privateOut);
        if (rc != 0)
            return rc > 0 ? rc : -1;
    }
    return 0;
}

/* Tries the formats in their probe order, the run-time back probes at
 * their place in it. */
static int probeAll(int fd, const char *fileName, ImageInfo *info,
                    void **privateOut)
{
    int rc = runProbes(frontProbes, fd, fileName, info, privateOut);
    if (rc != 0)
        return rc;
    for (int i = 0; i < imgFormatCount; i++) {
        const ImgFormat *f = imgFormatList[i];
        if (!f) {
            rc = runProbes(backProbes, fd, fileName, info, privateOut);
            if (rc != 0)
                return rc;
            continue;
        }
        if (!f->probe && !f->privateProbe)
            continue;
        clearInfo(info);
        rc = f->probe ? f->probe(fd, info)
                      : f->privateProbe(fd, fileName, info, privateOut);
        if (rc < 0)
            return -1;
        if (rc > 0)
            return info->imgid;
    }
    clearInfo(info);
    return 0;
}

/*
 * imgTypes --
 *	Recognises the file open on fd.
 * Results:
 *	The image type (its description in info, private data in
 *	*privateOut), 0 when no probe accepts the file, -1 when a probe
 *	aborted.
 */
int imgTypes(int fd, const char *fileName, ImageInfo *info,
             void **privateOut)
{
    *privateOut = nullptr;
    jmp_buf here;
    jmp_buf *outer = abortPoint;
    if (setjmp(here)) {
        abortPoint = outer;
        return -1;
    }
    abortPoint = &here;
    int rc = probeAll(fd, fileName, info, privateOut);
    abortPoint = outer;
    if (rc <= 0) {
        info->extraFd = -1;
        info->volumes = 0;
    }
    return rc;
}

/* ---------------------------------------------------------------------
 * The formats by type number
 * --------------------------------------------------------------------- */

/* Format and layout of each image type, from the formats' own lists. */
struct TypeEntry {
    const ImgFormat *format;
    int layout;
};

static const TypeEntry *typeTable(void)
{
    struct Table {
        TypeEntry entry[IMG_NTYPES] = {};
        Table()
        {
            for (int i = 0; i < imgFormatCount; i++) {
                const ImgFormat *f = imgFormatList[i];
                for (const ImgFormatType *t = f ? f->types : nullptr;
                     t && t->imgid > 0; t++)
                    if (t->imgid < IMG_NTYPES && !entry[t->imgid].format)
                        entry[t->imgid] = {f, t->layout};
            }
        }
    };
    static const Table table;
    return table.entry;
}

const ImgFormat *imgFormat(int imgid)
{
    return imgid > 0 && imgid < IMG_NTYPES ? typeTable()[imgid].format
                                           : nullptr;
}

int imgLayout(int imgid)
{
    return imgid > 0 && imgid < IMG_NTYPES ? typeTable()[imgid].layout
                                           : LAYOUT_NONE;
}

const ImgFormat *imgMapFormat(int mapid)
{
    for (int i = 0; mapid != 0 && i < imgFormatCount; i++)
        if (imgFormatList[i] && imgFormatList[i]->mapid == mapid)
            return imgFormatList[i];
    return nullptr;
}

/* ---------------------------------------------------------------------
 * New files
 * --------------------------------------------------------------------- */

/*
 * initImageHead --
 *	The header writer of the image type.
 * Results:
 *	The writer's result, -1 on failure, -2 for types without a header.
 */
int initImageHead(int fd, int newFlag, ImageInfo *info)
{
    const ImgFormat *f = imgFormat(info->imgid);
    return f && f->initHead ? f->initHead(fd, newFlag, info) : -2;
}

/*
 * initImageData --
 *	Writes the data area: zeroes from the header size on, or what the
 *	format writes instead (the whole picture for XBM and JPEG).
 * Results:
 *	The header size, or -1 after a short write.
 */
int initImageData(int fd, ImageInfo *info)
{
    const ImgFormat *f = imgFormat(info->imgid);
    if (f && f->initData)
        return f->initData(fd, info);
    /* BIP, DIB, TIFF and PPM lines already hold every band. */
    int64_t size = (int64_t)info->block * info->rows;
    if (info->imgid != IMG_BIP && info->imgid != IMG_DIB
            && info->imgid != IMG_TIFF && info->imgid != IMG_PPM)
        size *= info->nbands;
    off_t here = lseek(fd, 0, SEEK_CUR);
    if (lseek(fd, info->offset, SEEK_SET) < 0)
        return -1;
    static const char zeros[8192] = {0};
    while (size > 0) {
        size_t n = size > (int64_t)sizeof zeros ? sizeof zeros : (size_t)size;
        if (write(fd, zeros, n) != (ssize_t)n) {
            lseek(fd, here, SEEK_SET);
            return -1;
        }
        size -= (int64_t)n;
    }
    lseek(fd, here, SEEK_SET);
    return info->offset;
}

/*
 * createImage --
 *	Creates (or truncates) the file info names, mode 0600, and writes its
 *	header and a zeroed data area.
 * Results:
 *	The header size, or -1 (a file this call created is then removed).
 */
int createImage(ImageInfo *info)
{
    int existed = access(info->fileName, F_OK) == 0;
    int fd = open(info->fileName, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -1;
    int rc = initImageHead(fd, 1, info);
    if (rc != -1)
        rc = initImageData(fd, info);
    close(fd);
    if (rc < 0 && !existed)
        unlink(info->fileName);
    return rc < 0 ? -1 : rc;
}

int updateImageIndices(int fd, ImageInfo *info, void *privateData)
{
    const ImgFormat *f = imgFormat(info->imgid);
    if (fd < 0 || !f || !f->updateIndices)
        return 0;
    return f->updateIndices(fd, info, privateData);
}

int imgHist(int fd, const ImageInfo *info, Hist *histograms)
{
    const ImgFormat *f = imgFormat(info->imgid);
    return f && f->hist ? f->hist(fd, info, histograms) : 0;
}
