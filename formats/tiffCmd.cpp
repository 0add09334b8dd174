/*
 * tiffCmd.cpp --
 *
 *	The tiff command: a process-wide table of tag names that scripts fill
 *	(add, get, index, count) and the listing of a TIFF file's directory
 *	entries and tag values (data), for an open raster or a file name.
 */
#include "formats/tiff.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/fmt.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/tiffDir.h"

/* Tag number -> name; null until the first tiff call. */
static std::map<int, std::string> *tagNames;

static std::map<int, std::string> &names(void)
{
    if (!tagNames)
        tagNames = new std::map<int, std::string>;
    return *tagNames;
}

void tiffFreeTagNames(void)
{
    delete tagNames;
    tagNames = nullptr;
}

static void tiffDeleteProc(ClientData)
{
    tiffFreeTagNames();
}

static const char *tagName(int tag)
{
    auto it = names().find(tag);
    return it == names().end() ? "??" : it->second.c_str();
}

/* "tag name", the name in double quotes when it holds a blank. */
static std::string nameElement(int tag, const std::string &name)
{
    std::string s = std::to_string(tag) + " ";
    if (name.find(' ') != std::string::npos)
        return s + "\"" + name + "\"";
    return s + name;
}

static void appendElement(Tcl_Obj *list, const std::string &text)
{
    Tcl_ListObjAppendElement(nullptr, list,
                             Tcl_NewStringObj(text.c_str(), -1));
}

static int usage(Tcl_Interp *interp, Tcl_Obj *const objv[], int words,
                 const char *tail)
{
    Tcl_Obj *msg = Tcl_NewStringObj("Usage:", -1);
    for (int i = 0; i < words; i++) {
        Tcl_AppendToObj(msg, " ", 1);
        Tcl_AppendObjToObj(msg, objv[i]);
    }
    Tcl_AppendToObj(msg, tail, -1);
    Tcl_SetObjResult(interp, msg);
    return TCL_ERROR;
}

/*
 * tiff add {tag name} ?{tag name} ...? --
 *	Adds or replaces names.  Result: the number of names in the table.
 */
static int tiffAddCmd(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    std::vector<std::pair<int, std::string>> pairs;
    for (int i = 2; i < objc; i++) {
        Tcl_Obj **elems;
        int n, tag;
        if (Tcl_ListObjGetElements(nullptr, objv[i], &n, &elems) != TCL_OK
                || n != 2
                || Tcl_GetIntFromObj(nullptr, elems[0], &tag) != TCL_OK
                || tag < 0 || tag > 65535)
            return usage(interp, objv, 2, " {tag name} ?{tag name} ...?");
        pairs.emplace_back(tag, Tcl_GetString(elems[1]));
    }
    for (auto &p : pairs)
        names()[p.first] = p.second;
    Tcl_SetObjResult(interp, Tcl_NewIntObj((int)names().size()));
    return TCL_OK;
}

/*
 * tiff get tag --
 *	One element "tag name", empty when the tag has no name; an error with
 *	an empty result for another word count.
 */
static int tiffGetCmd(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    int tag;
    if (objc != 3)
        return TCL_ERROR;
    if (Tcl_GetIntFromObj(interp, objv[2], &tag) != TCL_OK)
        return TCL_ERROR;
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    auto it = names().find(tag);
    if (it != names().end())
        appendElement(list, nameElement(tag, it->second));
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

/*
 * tiff index ?from? ?to? --
 *	The names at positions from..to in ascending tag order, one element
 *	each; positions outside the table are skipped.
 */
static int tiffIndexCmd(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    int from = 0, to;
    if (objc > 4)
        return usage(interp, objv, 2, " ?from? ?to?");
    if (objc > 2 && Tcl_GetIntFromObj(interp, objv[2], &from) != TCL_OK)
        return TCL_ERROR;
    to = from;
    if (objc > 3 && Tcl_GetIntFromObj(interp, objv[3], &to) != TCL_OK)
        return TCL_ERROR;
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    int pos = 0;
    for (auto &p : names()) {
        if (pos > to)
            break;
        if (pos >= from)
            appendElement(list, nameElement(p.first, p.second));
        pos++;
    }
    Tcl_SetObjResult(interp, list);
    return TCL_OK;
}

/* tiff count -- the number of names. */
static int tiffCountCmd(Tcl_Interp *interp, int, Tcl_Obj *const[])
{
    Tcl_SetObjResult(interp, Tcl_NewIntObj((int)names().size()));
    return TCL_OK;
}

/* The directory the data subcommand lists, and what to release after. */
struct DataSource {
    int fd = -1;
    bool ownFd = false;
    const TiffDir *dir = nullptr;
    std::unique_ptr<TiffDir, void (*)(TiffDir *)> ownDir{nullptr, delTiffDir};
    ~DataSource()
    {
        if (ownFd)
            close(fd);
    }
};

/* Finds the raster or opens the file named by `word`.  Returns 1, or 0
 * with the message in the interpreter. */
static int openDataSource(Tcl_Interp *interp, const char *word,
                          DataSource *src)
{
    RAMImage *r = getRAMImageByTag(word);
    if (!r)
        r = getRAMImageByName(word);
    if (r && r->info.imgid != IMG_TIFF) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Not a TIFF image", -1));
        return 0;
    }
    if (r && r->fd >= 0) {
        src->fd = r->fd;
        const TiffState *s = static_cast<const TiffState *>(r->privateData);
        if (s) {
            src->dir = s->dir;
            return 1;
        }
    } else {
        /* Listing only reads, so a read-only file is listed too. */
        src->fd = open(word, O_RDWR);
        if (src->fd < 0)
            src->fd = open(word, O_RDONLY);
        if (src->fd < 0) {
            Tcl_SetObjResult(interp, Tcl_ObjPrintf("Error in open:%s", word));
            return 0;
        }
        src->ownFd = true;
    }
    src->ownDir.reset(getTiffDir(src->fd));
    src->dir = src->ownDir.get();
    if (!src->dir) {
        Tcl_SetObjResult(interp,
                         Tcl_NewStringObj("Error in open TIFF image", -1));
        return 0;
    }
    return 1;
}

/* Every entry of an IFD: "tag type count value name". */
static Tcl_Obj *listEntries(const TiffIFD *ifd)
{
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    for (const TiffEntry &e : ifd->entries) {
        int small = e.type == TIFF_SHORT || e.type == TIFF_SSHORT ? 2 : 4;
        long value = e.count <= (uint32_t)small
                   ? convertTiffOffsetLong(e.type, e.value) : (long)e.value;
        char buf[64];
        std::snprintf(buf, sizeof buf, "%d %d %u %ld ", e.tag, e.type,
                      e.count, value);
        appendElement(list, std::string(buf) + tagName(e.tag));
    }
    return list;
}

/* One value of a host-order value array, formatted by field type. */
static std::string formatValue(int type, const unsigned char *p)
{
    char buf[128];
    switch (type) {
    case TIFF_BYTE:
        std::snprintf(buf, sizeof buf, "%d", p[0]);
        break;
    case TIFF_SBYTE: case TIFF_UNDEFINED: case TIFF_ASCII:
        std::snprintf(buf, sizeof buf, "%d", (signed char)p[0]);
        break;
    case TIFF_SHORT: case TIFF_SSHORT: {
        uint16_t v;
        std::memcpy(&v, p, 2);
        std::snprintf(buf, sizeof buf, "%d",
                      type == TIFF_SHORT ? (int)v : (int)(int16_t)v);
        break;
    }
    case TIFF_LONG: case TIFF_SLONG: {
        uint32_t v;
        std::memcpy(&v, p, 4);
        if (type == TIFF_LONG)
            std::snprintf(buf, sizeof buf, "%u", v);
        else
            std::snprintf(buf, sizeof buf, "%d", (int32_t)v);
        break;
    }
    case TIFF_RATIONAL: case TIFF_SRATIONAL: {
        uint32_t v[2];
        std::memcpy(v, p, 8);
        if (type == TIFF_RATIONAL)
            std::snprintf(buf, sizeof buf, "%u %u", v[0], v[1]);
        else
            std::snprintf(buf, sizeof buf, "%d %d", (int32_t)v[0],
                          (int32_t)v[1]);
        break;
    }
    case TIFF_FLOAT: {
        /* "%f" of a large value runs to hundreds of digits. */
        float f;
        std::memcpy(&f, p, 4);
        return fmtString("%f", f);
    }
    default: {
        double d;
        std::memcpy(&d, p, 8);
        return fmtString("%f", d);
    }
    }
    return buf;
}

/* The name element of a tag, then its values. */
static Tcl_Obj *listTag(int fd, int order, const TiffEntry &e)
{
    Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
    appendElement(list, tagName(e.tag));
    int size = tiffTypeSize(e.type);
    if (size == 0) {
        appendElement(list, std::to_string(e.value));
        return list;
    }
    std::vector<unsigned char> values;
    long n = tiffReadEntryValues(fd, order, e, (long)e.count, values);
    if (e.type == TIFF_ASCII) {
        std::string text(values.begin(), values.end());
        appendElement(list, text.substr(0, text.find('\0')));
        return list;
    }
    for (long i = 0; i < n; i++)
        appendElement(list, formatValue(e.type, values.data() + i * size));
    return list;
}

/* Resolves a tag word: a number, or a name from the table; -1 unknown. */
static int tagNumber(Tcl_Obj *word)
{
    int tag;
    if (Tcl_GetIntFromObj(nullptr, word, &tag) == TCL_OK)
        return tag;
    const char *text = Tcl_GetString(word);
    for (auto &p : names())
        if (p.second == text)
            return p.first;
    return -1;
}

/*
 * tiff data imgid ?-volume ?n?? ?tag? --
 *	Lists the entries of a volume (1 by default), the values of one tag,
 *	or the number of volumes.  A file opened here is closed again.
 */
static int tiffDataCmd(Tcl_Interp *interp, int objc, Tcl_Obj *const objv[])
{
    if (objc < 3)
        return usage(interp, objv, 2, " imgid ?-volume ?n?? ?tag?");
    if (objc > 6) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Syntax error", -1));
        return TCL_ERROR;
    }
    bool volumeWord = objc > 3 && std::strcmp(Tcl_GetString(objv[3]),
                                              "-volume") == 0;
    if (objc > 4 && !volumeWord) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Syntax error", -1));
        return TCL_ERROR;
    }
    DataSource src;
    if (!openDataSource(interp, Tcl_GetString(objv[2]), &src))
        return TCL_ERROR;
    const TiffDir *dir = src.dir;
    if (volumeWord && objc == 4) {
        Tcl_SetObjResult(interp, Tcl_NewIntObj(dir->count));
        return TCL_OK;
    }
    int volume = 1;
    if (volumeWord && (Tcl_GetIntFromObj(nullptr, objv[4], &volume) != TCL_OK
                       || volume < 1 || volume > dir->count)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("Invalid TIFF volume", -1));
        return TCL_ERROR;
    }
    const TiffIFD *ifd = &dir->ifds[volume - 1];
    Tcl_Obj *tagWord = objc == 4 ? objv[3] : objc == 6 ? objv[5] : nullptr;
    if (!tagWord) {
        Tcl_SetObjResult(interp, listEntries(ifd));
        return TCL_OK;
    }
    int tag = tagNumber(tagWord);
    int i = tag < 0 ? -1 : getTiffEntryIndex(ifd, tag);
    if (i >= 0)
        Tcl_SetObjResult(interp, listTag(src.fd, dir->order, ifd->entries[i]));
    return TCL_OK;
}

typedef int (TiffSubCmd)(Tcl_Interp *, int, Tcl_Obj *const[]);

static const struct {
    const char *name;
    size_t minLength;
    TiffSubCmd *proc;
} tiffSubCmds[] = {
    {"add", 1, tiffAddCmd},
    {"count", 1, tiffCountCmd},
    {"data", 1, tiffDataCmd},
    {"get", 1, tiffGetCmd},
    {"index", 1, tiffIndexCmd},
};

/*
 * TiffObjCmd --
 *	The tiff command.  Results: per subcommand; an unknown subcommand is
 *	an error with an empty result.
 */
static int TiffObjCmd(ClientData, Tcl_Interp *interp, int objc,
                      Tcl_Obj *const objv[])
{
    if (objc < 2)
        return usage(interp, objv, 1, " option");
    int length;
    const char *word = Tcl_GetStringFromObj(objv[1], &length);
    for (const auto &sub : tiffSubCmds)
        if ((size_t)length >= sub.minLength
                && std::strncmp(word, sub.name, length) == 0)
            return sub.proc(interp, objc, objv);
    Tcl_ResetResult(interp);
    return TCL_ERROR;
}

/*
 * Tiff_Init --
 *	Registers the tiff command.  Results: TCL_OK.
 */
int Tiff_Init(Tcl_Interp *interp)
{
    Tcl_CreateObjCommand(interp, "tiff", TiffObjCmd, nullptr, tiffDeleteProc);
    return TCL_OK;
}
