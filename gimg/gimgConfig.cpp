/*
 * gimgConfig.cpp --
 *
 *	Options of gimg images and the configuration pipeline: the option
 *	table with its keyword parsers (-func, -range, -palette, -comb and
 *	the image, pixel and map types), the application of options (colours,
 *	stipple, inline data, opening -file as a raster tag, an image file, a
 *	Tk photo or raw data), adopting a raster record's description, and
 *	the pass that turns the options into display ports, view ports,
 *	palettes, lookups and masks.  Relies on the raster store, the photo
 *	layer of rimage, and the lookup and mask modules of gimg.
 */
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <strings.h>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "gimg/gimgInt.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgMask.h"
#include "rimage/rimgPhoto.h"

/* ---- keyword options ------------------------------------------------ */

static const char *const funcKeywords[] = {
    "UNKNOWN", "NONE", "LINEAR", "HISTS", "HISTEQ", nullptr
};
static const char *const rangeKeywords[] = {
    "UNKNOWN", "MEAN", "DETAIL", nullptr
};

static int findKeyword(const char *const *table, const char *text)
{
    for (int i = 0; table[i]; i++)
        if (std::strcmp(table[i], text) == 0)
            return i;
    return -1;
}

static int parseFunc(const char *text)
{
    return text ? findKeyword(funcKeywords, text) : -1;
}

static const char *strFunc(int n)
{
    return n >= 0 && n <= GIMG_FUNC_HISTEQ ? funcKeywords[n] : "UNKNOWN";
}

static int parseRange(const char *text)
{
    return text ? findKeyword(rangeKeywords, text) : -1;
}

static const char *strRange(int n)
{
    return n >= 0 && n <= GIMG_RANGE_DETAIL ? rangeKeywords[n] : "UNKNOWN";
}

static IDDescriptor funcID = {"func", parseFunc, strFunc};
static IDDescriptor rangeID = {"range", parseRange, strRange};
static Tk_CustomOption funcOption = {ParseID, GetIDStr, &funcID};
static Tk_CustomOption rangeOption = {ParseID, GetIDStr, &rangeID};

static int invalidValue(Tcl_Interp *interp, const char *value,
                        const char *table)
{
    if (interp)
        Tcl_AppendResult(interp, "Invalid value: ", value, " for ", table,
                         nullptr);
    return TCL_ERROR;
}

/* Splits text at "/" into whole decimal numbers; false when a part is
 * not one or there are more than max parts. */
static bool splitNumbers(const char *text, int max, std::vector<long> *out)
{
    std::string s(text ? text : "");
    size_t at = 0;
    for (;;) {
        size_t slash = s.find('/', at);
        std::string part = s.substr(at, slash == std::string::npos
                                            ? std::string::npos
                                            : slash - at);
        char *end;
        long v = std::strtol(part.c_str(), &end, 10);
        if (part.empty() || *end != '\0' || (int)out->size() == max)
            return false;
        out->push_back(v);
        if (slash == std::string::npos)
            return true;
        at = slash + 1;
    }
}

/* Custom procedures print into a fresh Tcl-allocated string. */
static const char *printed(const char *text, Tcl_FreeProc **freeProcOut)
{
    char *copy = Tcl_Alloc((unsigned)std::strlen(text) + 1);
    std::strcpy(copy, text);
    *freeProcOut = TCL_DYNAMIC;
    return copy;
}

/*
 * ParsePalette --
 *	"Default" (any case), a grey-level count n, or r/g/b level counts,
 *	each 1..256, into four ints: -1,0,0,0 / n,0,0,0 / 0,r,g,b.
 */
static int ParsePalette(ClientData, Tcl_Interp *interp, Tk_Window,
                        const char *value, char *record, int offset)
{
    int v[4] = {-1, 0, 0, 0};
    if (strcasecmp(value, "Default") != 0) {
        std::vector<long> n;
        if (!splitNumbers(value, 3, &n) || n.size() == 2)
            return invalidValue(interp, value, "palette");
        for (long x : n)
            if (x < 1 || x > 256)
                return invalidValue(interp, value, "palette");
        if (n.size() == 1) {
            v[0] = (int)n[0];
        } else {
            v[0] = 0;
            for (int i = 0; i < 3; i++)
                v[i + 1] = (int)n[(size_t)i];
        }
    }
    std::memcpy(record + offset, v, sizeof v);
    return TCL_OK;
}

static const char *ParsePalettePrint(ClientData, Tk_Window, char *record,
                                     int offset, Tcl_FreeProc **freeProcOut)
{
    int v[4];
    std::memcpy(v, record + offset, sizeof v);
    char buf[64];
    if (v[0] < 0)
        std::strcpy(buf, "Default");
    else if (v[0] > 0)
        std::snprintf(buf, sizeof buf, "%d", v[0]);
    else
        std::snprintf(buf, sizeof buf, "%d/%d/%d", v[1], v[2], v[3]);
    return printed(buf, freeProcOut);
}

/*
 * ParseComb --
 *	One to three band numbers separated by "/", each 0 or more, at least
 *	one non-zero; stored as the count followed by three bands.
 */
static int ParseComb(ClientData, Tcl_Interp *interp, Tk_Window,
                     const char *value, char *record, int offset)
{
    std::vector<long> n;
    if (!splitNumbers(value, 3, &n))
        return invalidValue(interp, value, "comb");
    int v[4] = {(int)n.size(), 0, 0, 0};
    bool nonZero = false;
    for (size_t i = 0; i < n.size(); i++) {
        if (n[i] < 0 || n[i] > 0x7fffffff)
            return invalidValue(interp, value, "comb");
        nonZero = nonZero || n[i] != 0;
        v[i + 1] = (int)n[i];
    }
    if (!nonZero)
        return invalidValue(interp, value, "comb");
    std::memcpy(record + offset, v, sizeof v);
    return TCL_OK;
}

static const char *ParseCombPrint(ClientData, Tk_Window, char *record,
                                  int offset, Tcl_FreeProc **freeProcOut)
{
    int v[4];
    std::memcpy(v, record + offset, sizeof v);
    std::string s = std::to_string(v[1]);
    for (int i = 2; i <= v[0] && i <= 3; i++)
        s += "/" + std::to_string(v[i]);
    return printed(s.c_str(), freeProcOut);
}

static Tk_CustomOption paletteOption = {ParsePalette, ParsePalettePrint,
                                        nullptr};
static Tk_CustomOption combOption = {ParseComb, ParseCombPrint, nullptr};

/* ---- the option table ----------------------------------------------- */

#define GM(field) ((int)offsetof(GimgMaster, field))
#define NULL_OK TK_CONFIG_NULL_OK

Tk_ConfigSpec gimgConfigSpecs[] = {
    {TK_CONFIG_UID, "-background", "background", "Background", "#000000",
     GM(bgUid), 0, nullptr},
    {TK_CONFIG_UID, "-foreground", "foreground", "Foreground", "#ffffff",
     GM(fgUid), 0, nullptr},
    {TK_CONFIG_STRING, "-file", "file", "File", "", GM(file), NULL_OK,
     nullptr},
    {TK_CONFIG_STRING, "-maskfile", "maskFile", "MaskFile", "", GM(maskFile),
     NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-maskclass", "maskClass", "MaskClass", "",
     GM(maskClass), NULL_OK, nullptr},
    {TK_CONFIG_STRING, "-data", "data", "Data", "", GM(data), NULL_OK,
     nullptr},
    {TK_CONFIG_CUSTOM, "-mapid", "mapid", "Mapid", "GRID", GM(block.mapid),
     0, &mapIDOption},
    {TK_CONFIG_CUSTOM, "-imgid", "imgid", "Imgid", "BSQ", GM(block.imgid), 0,
     &imgIDOption},
    {TK_CONFIG_INT, "-offset", "offset", "Offset", "0", GM(block.offset), 0,
     nullptr},
    {TK_CONFIG_CUSTOM, "-pixel", "pixel", "Pixel", "BYTE", GM(block.pixel),
     0, &pixelIDOption},
    {TK_CONFIG_INT, "-nbands", "nbands", "Nbands", "1", GM(block.nbands), 0,
     nullptr},
    {TK_CONFIG_INT, "-msbf", "msbf", "Msbf", "-1", GM(block.msbf), 0,
     nullptr},
    {TK_CONFIG_INT, "-rows", "rows", "Rows", "512", GM(block.rows), 0,
     nullptr},
    {TK_CONFIG_INT, "-columns", "columns", "Columns", "512",
     GM(block.columns), 0, nullptr},
    {TK_CONFIG_INT, "-left", "left", "Left", "0", GM(block.left), 0,
     nullptr},
    {TK_CONFIG_INT, "-top", "top", "Top", "0", GM(block.top), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-x0", "x0", "X0", "0.0", GM(block.x0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-y0", "y0", "Y0", "0.0", GM(block.y0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dx", "dx", "Dx", "1.0", GM(block.dx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dy", "dy", "Dy", "1.0", GM(block.dy), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-func", "func", "Func", "NONE", GM(func), 0,
     &funcOption},
    {TK_CONFIG_CUSTOM, "-range", "range", "Range", "DETAIL", GM(range), 0,
     &rangeOption},
    {TK_CONFIG_DOUBLE, "-std", "std", "Std", "2.5", GM(std), 0, nullptr},
    {TK_CONFIG_BOOLEAN, "-test", "test", "Test", "false", GM(test), 0,
     nullptr},
    {TK_CONFIG_BOOLEAN, "-autod", "autod", "Autod", "true", GM(autod), 0,
     nullptr},
    {TK_CONFIG_BOOLEAN, "-update", "update", "Update", "false", GM(update),
     0, nullptr},
    {TK_CONFIG_INT, "-width", "width", "Width", "128", GM(width), 0, nullptr},
    {TK_CONFIG_INT, "-height", "height", "Height", "128", GM(height), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-mx", "mx", "Mx", "1.0", GM(mx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-my", "my", "My", "1.0", GM(my), 0, nullptr},
    {TK_CONFIG_INT, "-sr", "sr", "Sr", "0", GM(sr), 0, nullptr},
    {TK_CONFIG_INT, "-sc", "sc", "Sc", "0", GM(sc), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-low0", "low0", "Low0", "0", GM(lowOpt[0]), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-low1", "low1", "Low1", "0", GM(lowOpt[1]), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-low2", "low2", "Low2", "0", GM(lowOpt[2]), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-high0", "high0", "High0", "255", GM(highOpt[0]), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-high1", "high1", "High1", "255", GM(highOpt[1]), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-high2", "high2", "High2", "255", GM(highOpt[2]), 0,
     nullptr},
    {TK_CONFIG_CUSTOM, "-palette", "palette", "Palette", "Default", GM(pal),
     0, &paletteOption},
    {TK_CONFIG_INT, "-layer", "layer", "Layer", "0", GM(layer), 0, nullptr},
    {TK_CONFIG_CUSTOM, "-comb", "comb", "Comb", "1", GM(comb), 0,
     &combOption},
    {TK_CONFIG_INT, "-maxw", "maxw", "Maxw", "4096", GM(maxw), 0, nullptr},
    {TK_CONFIG_INT, "-maxh", "maxh", "Maxh", "4096", GM(maxh), 0, nullptr},
    {TK_CONFIG_INT, "-dither", "dither", "Dither", "0", GM(dither), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-dg", "dg", "Dg", "0.9", GM(dg), 0, nullptr},
    {TK_CONFIG_INT, "-gmid", "gmid", "Gmid", "0", GM(gmid), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-gamma", "gamma", "Gamma", "1.0", GM(gamma), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-contrast", "contrast", "Contrast", "1.0",
     GM(contrast), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-bright", "bright", "Bright", "0.5", GM(bright), 0,
     nullptr},
    {TK_CONFIG_DOUBLE, "-sharpness", "sharpness", "Sharpness", "0.0",
     GM(sharpness), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-emboss", "emboss", "Emboss", "0.0", GM(emboss), 0,
     nullptr},
    {TK_CONFIG_INT, "-filterdir", "filterdir", "Filterdir", "0",
     GM(filterDir), 0, nullptr},
    {TK_CONFIG_INT, "-filterbg", "filterbg", "Filterbg", "0",
     GM(filterBgOpt), 0, nullptr},
    {TK_CONFIG_INT, "-yflip", "yflip", "Yflip", "0", GM(yflip), 0, nullptr},
    {TK_CONFIG_INT, "-xflip", "xflip", "Xflip", "0", GM(xflip), 0, nullptr},
    {TK_CONFIG_INT, "-rotate", "rotate", "Rotate", "0", GM(rotate), 0,
     nullptr},
    {TK_CONFIG_INT, "-tile", "tile", "Tile", "0", GM(tile), 0, nullptr},
    {TK_CONFIG_INT, "-tw", "tw", "Tw", "2048", GM(tw), 0, nullptr},
    {TK_CONFIG_INT, "-th", "th", "Th", "2048", GM(th), 0, nullptr},
    {TK_CONFIG_INT, "-turbo", "turbo", "Turbo", "0", GM(turbo), 0, nullptr},
    {TK_CONFIG_INT, "-maskon", "maskon", "Maskon", "1", GM(maskOn), 0,
     nullptr},
    {TK_CONFIG_INT, "-maskopaque", "maskopaque", "Maskopaque", "0",
     GM(maskOpaque), 0, nullptr},
    {TK_CONFIG_INT, "-maskimgband", "maskimgband", "Maskimgband", "1",
     GM(maskImgBand), 0, nullptr},
    {TK_CONFIG_UID, "-stipple", "stipple", "Stipple", "None",
     GM(stippleUid), 0, nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr}
};

void gimgSetStringOption(char **field, const char *value)
{
    if (*field)
        Tcl_Free(*field);
    *field = nullptr;
    if (value && *value) {
        *field = Tcl_Alloc((unsigned)std::strlen(value) + 1);
        std::strcpy(*field, value);
    }
}

static int clampInt(int v, int low, int high)
{
    return v < low ? low : v > high ? high : v;
}

/* ---- colours and stipple ------------------------------------------- */

/* Takes a changed -foreground (fg 1) or -background colour. */
static int applyColour(GimgMaster *m, int fg, Tk_Uid old)
{
    Tk_Uid uid = fg ? m->fgUid : m->bgUid;
    XColor *c = uid ? Tk_GetColor(m->interp, m->tkwin, uid) : nullptr;
    if (!c) {
        if (!uid)
            Tcl_AppendResult(m->interp, "unknown color name \"\"", nullptr);
        (fg ? m->fgUid : m->bgUid) = old;
        Tcl_AddErrorInfo(m->interp, fg ? "\nFail to get fg color."
                                       : "\nFail to get bg color.");
        return TCL_ERROR;
    }
    XColor **slot = fg ? &m->fgColor : &m->bgColor;
    if (*slot)
        Tk_FreeColor(*slot);
    *slot = c;
    if (m->gc) {
        if (fg)
            XSetForeground(m->display, m->gc, c->pixel);
        else
            XSetBackground(m->display, m->gc, c->pixel);
    }
    return TCL_OK;
}

/* Takes a changed -stipple. */
static int applyStipple(GimgMaster *m, Tk_Uid old)
{
    Tk_Uid uid = m->stippleUid;
    if (uid && *uid && std::strcmp(uid, "None") != 0) {
        Pixmap bm = Tk_GetBitmap(m->interp, m->tkwin, uid);
        if (!bm) {
            m->stippleUid = old;
            Tcl_AddErrorInfo(m->interp, "\nFail to get stipple pixmap.");
            return TCL_ERROR;
        }
        XSetStipple(m->display, m->gc, bm);
        if (m->stippleBitmap)
            Tk_FreeBitmap(m->display, m->stippleBitmap);
        m->stippleBitmap = bm;
        return TCL_OK;
    }
    /* A GC once given a stipple keeps it: make a fresh one. */
    XGCValues v;
    v.foreground = m->fgColor->pixel;
    v.background = m->bgColor->pixel;
    v.graphics_exposures = False;
    GC gc = XCreateGC(m->display, Tk_WindowId(m->tkwin),
                      GCForeground | GCBackground | GCGraphicsExposures, &v);
    if (!gc) {
        m->stippleUid = old;
        Tcl_AddErrorInfo(m->interp, "\nFail to get stipple pixmap.");
        return TCL_ERROR;
    }
    XFreeGC(m->display, m->gc);
    m->gc = gc;
    if (m->stippleBitmap)
        Tk_FreeBitmap(m->display, m->stippleBitmap);
    m->stippleBitmap = None;
    return TCL_OK;
}

/* ---- opening -file -------------------------------------------------- */

static int fail(GimgMaster *m, const char *message)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, message, nullptr);
    return TCL_ERROR;
}

/* Opens the -file value with format detection and the photo fallbacks;
 * *err receives the store's code.  The record carries one extra link. */
static RAMImage *openDetected(GimgMaster *m, const char *file, int *err,
                              int *unhandled)
{
    *err = RAMIMG_OK;
    *unhandled = 0;
    RAMImage *r = getRAMImageByTag(file);
    if (r)
        return openRAMImage(file, nullptr, nullptr, nullptr, err);
    r = openRAMImage(m->name, file, nullptr, nullptr, err);
    if (r)
        return r;
    int code = *err;
    if (code == RAMIMG_EOPEN) {
        ImageInfo info = m->block;
        r = rimgOpenTkPhoto(m->interp, file, &info);
        stderrPrintf(r ? "opened tkPhoto object...\n"
                       : "failed to open tkphoto object ...\n");
    }
    if (r)
        return r;
    if (code == RAMIMG_EHANDLE) {
        *unhandled = 1;
        return nullptr;
    }
    if (code != RAMIMG_ECREATE) {
        ImageInfo info = m->block;
        r = rimgOpenByTkPhoto(m->interp, "-file", file, &info);
        stderrPrintf(r ? "opened tkPhoto image...\n"
                       : "failed to open photo image ...\n");
    }
    return r;
}

/* Opens the -file value as raw data described by the block; one extra
 * link. */
static RAMImage *openRaw(GimgMaster *m, const char *file)
{
    ImageInfo *b = &m->block;
    b->bits = pixelBits(b->pixel);
    b->nindices = 0;
    b->transparent = -1;
    b->block = 0;
    b->extraFd = -1;
    b->volumes = 0;
    int err;
    if (RAMImage *r = getRAMImageByTag(file)) {
        std::snprintf(b->fileName, sizeof b->fileName, "%s",
                      r->info.fileName);
        if (!updateRAMImage(r->info.fileName, b, r, &err))
            return nullptr;
        r->links++;
        updateClient(r, m, 1);
        return r;
    }
    std::snprintf(b->fileName, sizeof b->fileName, "%s", file);
    return openRAMImage(nullptr, file, b, nullptr, &err);
}

/* Closes the shown record and forgets it. */
static void closeMainImage(GimgMaster *m)
{
    if (m->rimg)
        closeRAMImage(m->rimg, &m->client);
    m->rimg = nullptr;
}

/*
 * configureFile --
 *	Step of gimgConfigureMaster for a non-empty -file.
 * Results:
 *	-1 when nothing changed (the caller goes on), else the result of
 *	the configuration pass or TCL_ERROR.
 */
static int configureFile(GimgMaster *m)
{
    const char *file = m->file;
    m->srcName[0] = '\0';
    int changed = std::strncmp(file, m->block.fileName,
                               sizeof m->block.fileName) != 0;
    if (!changed && !m->update)
        return -1;
    /* A failure puts back the name of the image still shown. */
    std::string shown = m->block.fileName;
    RAMImage *r = nullptr;
    if (m->autod) {
        int err, unhandled;
        r = openDetected(m, file, &err, &unhandled);
        if (!r && unhandled) {
            gimgSetStringOption(&m->file, shown.c_str());
            return fail(m, "Unable to hanlde the image.");
        }
    }
    if (!r) {
        ImageInfo saved = m->block;
        r = openRaw(m, file);
        if (!r) {
            m->block = saved;
            gimgSetStringOption(&m->file, shown.c_str());
            return fail(m, "Fail to open ram image.");
        }
    }
    if (r == m->rimg) {
        closeRAMImage(r, nullptr);
        if (!changed)
            return gimgConfig(m);
        /* The store reloaded the record under this image's name in
         * place: its other users must see the new file too. */
        updateClient(r, m, 3);
        return gimgConfigByRimg(m);
    }
    if (m->maskBitmapValid)
        gimgMaskClear(m, GIMG_CLEAR_ALL, 1);
    closeMainImage(m);
    linkRAMImageClient(&m->client, r);
    std::snprintf(m->block.fileName, sizeof m->block.fileName, "%s", file);
    m->rimg = r;
    if (r->info.nindices > 0)
        m->layer = 1;
    return gimgConfigByRimg(m);
}

/*
 * gimgConfigureMaster --
 *	Applies option words (flags as for Tk_ConfigureWidget) and runs the
 *	configuration pass.
 * Results:
 *	TCL_OK, or TCL_ERROR with the message; options applied before the
 *	failure stay applied.
 */
int gimgConfigureMaster(GimgMaster *m, int argc, const char **argv,
                        int flags)
{
    Tcl_Interp *interp = m->interp;
    Tk_Uid oldFg = m->fgUid, oldBg = m->bgUid, oldStipple = m->stippleUid;
    if (Tk_ConfigureWidget(interp, m->tkwin, gimgConfigSpecs, argc, argv,
                           reinterpret_cast<char *>(m), flags) != TCL_OK)
        return TCL_ERROR;
    if (m->fgUid != oldFg && applyColour(m, 1, oldFg) != TCL_OK)
        return TCL_ERROR;
    if (m->bgUid != oldBg && applyColour(m, 0, oldBg) != TCL_OK)
        return TCL_ERROR;
    if (m->stippleUid != oldStipple && applyStipple(m, oldStipple) != TCL_OK)
        return TCL_ERROR;

    RAMImage *dataRec = nullptr;
    if (m->data && *m->data) {
        ImageInfo info = m->block;
        dataRec = rimgOpenByTkPhoto(interp, "-data", m->data, &info);
        gimgSetStringOption(&m->data, nullptr);
        if (!dataRec) {
            Tcl_AddErrorInfo(interp, "\nFail to open ramimg from string data.");
            return fail(m, "Fail to open ramimg from string data.");
        }
        gimgSetStringOption(&m->file, dataRec->info.fileName);
    }

    m->block.block = (pixelBits(m->block.pixel) * m->block.columns + 7) / 8;

    int rc = -1;
    if (m->file && *m->file) {
        rc = configureFile(m);
    } else if (m->rimg) {
        closeMainImage(m);
        m->pixmapValid = 0;
        vpClose(&m->imageVp);
        m->block.fileName[0] = '\0';
        if (m->maskBitmapValid)
            gimgMaskClear(m, GIMG_CLEAR_ALL, 1);
    }
    /* The inline data's record is held by the image from here on. */
    if (dataRec)
        closeRAMImage(dataRec, nullptr);
    if (rc != -1)
        return rc;
    if (m->srcName[0]) {
        if (GimgMaster *src = gimgGetByName(interp, m->srcName)) {
            m->rotate = src->rotate;
            m->xflip = src->xflip;
            m->yflip = src->yflip;
        }
    }
    return gimgConfig(m);
}

/* True when the colour table of info has an entry that is not grey. */
static int hasColour(const ImageInfo *info)
{
    for (int i = 0; i < info->nindices && i < 256; i++)
        if (info->palette[i][0] != info->palette[i][1]
                || info->palette[i][1] != info->palette[i][2])
            return 1;
    return 0;
}

/*
 * gimgConfigByRimg --
 *	Adopts the shown record's description (keeping -msbf and the name
 *	the image was given), chooses a presentation for a default palette
 *	and runs the configuration pass.
 */
int gimgConfigByRimg(GimgMaster *m)
{
    RAMImage *r = m->rimg;
    if (r && r->info.imgid != IMG_UNKNOWN) {
        int msbf = m->block.msbf;
        char name[sizeof m->block.fileName];
        std::memcpy(name, m->block.fileName, sizeof name);
        m->block = r->info;
        m->block.msbf = msbf;
        std::memcpy(m->block.fileName, name, sizeof name);
        if (r->info.transparent != m->transparentInForce) {
            if (m->transparentInForce >= 0 && m->transparentInForce < 256)
                m->classVisible[m->transparentInForce] = 1;
            m->transparentInForce = r->info.transparent;
        }
        gimgMaskClear(m, GIMG_CLEAR_DATA, 1);
    }
    if (m->pal[0] < 0) {
        if (m->block.nbands == 1 && m->block.nindices == 0) {
            m->comb[0] = 1;
            m->comb[1] = 1;
            m->comb[2] = m->comb[3] = 0;
            m->palFlags = GIMG_PAL_GREY;
            m->pal[0] = 28;
            m->pal[1] = m->pal[2] = m->pal[3] = 0;
        } else if (hasColour(&m->block)) {
            m->comb[0] = 3;
            m->comb[1] = 1;
            m->comb[2] = 2;
            m->comb[3] = 3;
            m->palFlags = GIMG_PAL_RED | GIMG_PAL_GREEN | GIMG_PAL_BLUE;
            m->pal[0] = 0;
            m->pal[1] = 8;
            m->pal[2] = 8;
            m->pal[3] = 4;
        }
    }
    if (m->block.nindices > 0)
        FreeGimgPalette(m);
    return gimgConfig(m);
}

/* ---- the configuration pass ----------------------------------------- */

/* A magnification or cell size that is not positive becomes 1. */
static void positive(double *v)
{
    if (!(*v > 0.0))
        *v = 1.0;
}

/* Step 3: colour table of a shown layer, window, byte order. */
static void adoptImageGeometry(GimgMaster *m)
{
    RAMImage *r = m->rimg;
    ImageInfo *b = &m->block;
    if (m->layer != 0 && b->nindices == 0) {
        if (r->info.nindices > 0) {
            b->nindices = r->info.nindices;
            std::memcpy(b->palette, r->info.palette, sizeof b->palette);
        } else {
            b->nindices = createClrIndices(b->palette, 256, 0, 0, 0);
        }
        FreeGimgPalette(m);
    }
    if (m->layer == 0)
        b->nindices = 0;
    m->sr = clampInt(m->sr, 0, b->rows - 1 > 0 ? b->rows - 1 : 0);
    m->sc = clampInt(m->sc, 0, b->columns - 1 > 0 ? b->columns - 1 : 0);
    m->width = (int)std::round((b->columns - m->sc) * m->mx);
    m->height = (int)std::round((b->rows - m->sr) * m->my);
    if (b->msbf >= 0 && b->msbf != r->info.msbf) {
        r->info.msbf = b->msbf;
        setRAMImageBuf(r, 128);
        if (r->histograms && r->info.pixel != PIXEL_BYTE) {
            ramImageHist(r, 2, 1, 1);
        }
    }
}

/* Step 5 and 6: display ports, image view port, transfer image.
 * Returns 1 when the pixmap geometry changed. */
static int openGeometry(GimgMaster *m)
{
    GimgMaster *src = m->srcName[0] ? gimgGetByName(m->interp, m->srcName)
                                    : nullptr;
    int xOffset = 0, yOffset = 0;
    if (src) {
        dpOpen(&m->hdp, m->width, m->hdp.start, m->xflip,
               m->hdp.mag > 0 ? m->hdp.mag : m->mx);
        dpOpen(&m->vdp, m->height, m->vdp.start, m->yflip,
               m->vdp.mag > 0 ? m->vdp.mag : m->my);
        xOffset = m->imageVp.xOffset;
        yOffset = m->imageVp.yOffset;
    } else {
        dpOpen(&m->hdp, m->width, m->sc, m->xflip, m->mx);
        dpOpen(&m->vdp, m->height, m->sr, m->yflip, m->my);
    }
    int w = m->width, h = m->height;
    if (m->rotate) {
        w = m->height;
        h = m->width;
    }
    int changed = vpOpen(&m->imageVp, Tk_WindowId(m->tkwin), w, h, m->depth,
                         xOffset, yOffset);
    if (XImage *x = m->ximage) {
        x->width = w;
        x->height = h;
        if (!m->turbo) {
            if (m->rotate)
                x->width = w < 256 ? w : 256;
            else
                x->height = h < 256 ? h : 256;
        }
        x->bytes_per_line = (x->bits_per_pixel * x->width + 31) / 32 * 4;
        x->data = nullptr;
    }
    if (changed) {
        if (m->wholeRegion)
            XDestroyRegion(m->wholeRegion);
        m->wholeRegion = XCreateRegion();
        XRectangle rect = {0, 0, (unsigned short)w, (unsigned short)h};
        XUnionRectWithRegion(&rect, m->wholeRegion, m->wholeRegion);
    }
    return changed;
}

/* Step 10: the colour of a transparent index. */
void gimgTransparentColour(GimgMaster *m)
{
    int t = m->block.transparent;
    if (t < 0 || t > 255)
        return;
    XColor c = *m->bgColor;
    if (m->block.imgid == IMG_GIF87A || m->block.imgid == IMG_GIF89A) {
        const char *name = Tcl_GetVar(m->interp, "TRANSPARENT_GIF_COLOR",
                                      TCL_GLOBAL_ONLY);
        XColor parsed;
        if (name && XParseColor(m->display, m->colormap, name, &parsed))
            c = parsed;
    }
    m->block.palette[t][0] = (unsigned char)(c.red >> 8);
    m->block.palette[t][1] = (unsigned char)(c.green >> 8);
    m->block.palette[t][2] = (unsigned char)(c.blue >> 8);
    if (m->palette)
        FreeGimgPalette(m);
}

/* Step 14: palette rebuild when its inputs changed. */
static void rebuildPalette(GimgMaster *m, double strength)
{
    if (m->pal[0] < 0) {
        m->pal[0] = 28;
        m->pal[1] = m->pal[2] = m->pal[3] = 0;
    }
    int filterOn = strength != 0.0;
    if (m->palette && m->cachedDither == m->dither
            && m->cachedLayer == m->layer
            && std::memcmp(m->cachedPal, m->pal, sizeof m->cachedPal) == 0
            && m->cachedFilterOn == filterOn)
        return;
    m->cachedDither = m->dither;
    m->cachedLayer = m->layer;
    std::memcpy(m->cachedPal, m->pal, sizeof m->cachedPal);
    m->cachedFilterOn = filterOn;
    m->paletteBuilt = 1;
    m->palFlags = (m->pal[0] != 0 ? GIMG_PAL_GREY : 0)
                  | (m->pal[1] > 1 ? GIMG_PAL_RED : 0)
                  | (m->pal[2] > 1 ? GIMG_PAL_GREEN : 0)
                  | (m->pal[3] > 1 ? GIMG_PAL_BLUE : 0);
    if (m->depth <= 8)
        CreateGimgPalette(m);
}

/* Step 17: the -maskfile record.  Returns 1 when the masks need a
 * rebuild, -1 on failure. */
static int configureMaskFile(GimgMaster *m)
{
    if (!m->maskFile || !*m->maskFile) {
        if (!m->maskFileImg)
            return 0;
        closeRAMImage(m->maskFileImg, &m->maskFileClient);
        m->maskFileImg = nullptr;
        maskClose(&m->masks[GIMG_MASK_FILE]);
        return 1;
    }
    const char *name = m->maskFile;
    if (strcasecmp(name, "Default") == 0)
        name = m->file ? m->file : "";
    RAMImage *r = getRAMImageByTag(name);
    if (!r)
        r = getRAMImageByName(name);
    int err;
    if (r)
        r->links++;
    else if (*name)
        r = openRAMImage(nullptr, name, nullptr, nullptr, &err);
    ImageInfo info = m->block;
    if (!r && *name)
        r = rimgOpenByTkPhoto(m->interp, "-file", name, &info);
    if (!r && *name)
        r = rimgOpenTkPhoto(m->interp, name, &info);
    if (!r)
        return -1;
    int rebuild = 0;
    if (r != m->maskFileImg) {
        if (m->maskFileImg)
            closeRAMImage(m->maskFileImg, &m->maskFileClient);
        linkRAMImageClient(&m->maskFileClient, r);
        m->maskFileImg = r;
        maskClose(&m->masks[GIMG_MASK_FILE]);
        rebuild = 1;
    } else {
        closeRAMImage(r, nullptr);
    }
    m->maskImgBand = clampInt(m->maskImgBand, 1, r->info.nbands);
    if (m->maskImgBand != m->cachedMaskImgBand) {
        m->cachedMaskImgBand = m->maskImgBand;
        maskClose(&m->masks[GIMG_MASK_FILE]);
        rebuild = 1;
    }
    return rebuild;
}

/*
 * gimgConfig --
 *	The configuration pass: geometry, colour tables, palette, lookups
 *	and masks from the options; then the display is updated.
 * Results:
 *	TCL_OK, or TCL_ERROR with the message.
 */
int gimgConfig(GimgMaster *m)
{
    ImageInfo *b = &m->block;
    if (b->nbands < 0)
        b->nbands = 1;
    m->layer = clampInt(m->layer, 0, b->nbands);
    positive(&b->dx);
    positive(&b->dy);
    positive(&m->mx);
    positive(&m->my);
    if (m->rimg)
        adoptImageGeometry(m);
    if (m->width < 0)
        m->width = 512;
    if (m->height < 0)
        m->height = 512;
    m->width = clampInt(m->width, 1, m->maxw > 1 ? m->maxw : 1);
    m->height = clampInt(m->height, 1, m->maxh > 1 ? m->maxh : 1);

    int changed = openGeometry(m);
    m->pixmapValid = 0;
    int w = m->imageVp.width, h = m->imageVp.height;
    vpOpen(&m->maskVp, Tk_WindowId(m->tkwin), w, h, 1, m->imageVp.xOffset,
           m->imageVp.yOffset);
    vpOpen(&m->frameVp, Tk_WindowId(m->tkwin), w, h, 1, m->imageVp.xOffset,
           m->imageVp.yOffset);
    (void)changed;
    if (m->framePolygs && maskOpen(&m->masks[GIMG_MASK_FRAME], w, h, 0))
        polygMask(m->framePolygs, &m->masks[GIMG_MASK_FRAME], m->frameXor);

    gimgNormalizeCntrst(m);

    if (b->imgid == IMG_XBMP && b->bits == 1) {
        for (int c = 0; c < 3; c++) {
            const unsigned short *fg = &m->fgColor->red + c;
            const unsigned short *bg = &m->bgColor->red + c;
            b->palette[0][c] = (unsigned char)(*fg >> 8);
            b->palette[1][c] = (unsigned char)(*bg >> 8);
        }
        FreeGimgPalette(m);
    }
    gimgTransparentColour(m);

    for (int i = 1; i <= 3; i++) {
        if (m->comb[i] <= 0)
            continue;
        int n = b->nindices > 0 && m->layer > 0 ? 3
                : b->nbands > 0                 ? b->nbands
                                                : 1;
        m->comb[i] = (m->comb[i] - 1) % n + 1;
    }

    m->funcInForce = m->func;
    m->filterDir = clampInt(m->filterDir, 0, 4);
    m->filterBgOpt = clampInt(m->filterBgOpt, 0, 255);
    double strength;
    if (m->emboss != 0.0) {
        strength = m->emboss;
        m->filterBg = -1;
    } else {
        strength = m->sharpness;
        m->filterBg = m->filterBgOpt;
    }
    m->directCT = m->layer > 0 && m->filterStrength == 0.0 && m->dither == 0;
    rebuildPalette(m, strength);
    m->filterStrength = strength;
    m->cachedFilter = strength;
    GimgCreateLookup(m, m->funcInForce, (float)m->std);

    if (m->maskClass && *m->maskClass
            && gimgParseMaskDef(m->maskClassTable, 0, m->maskClass) < 0)
        return fail(m, "Error in parsing mask class.");
    int rebuild = configureMaskFile(m);
    if (rebuild < 0)
        return fail(m, "Fail to open mask image file");

    m->maskOn = clampInt(m->maskOn, 0, 4);
    if (m->maskOn != m->maskMode) {
        if (m->maskOn != 0 && m->maskOn != -m->maskMode) {
            m->maskMode = m->maskOn;
            if (!rebuild)
                makeMaskBitmap(m);
        } else if (m->maskOn != 0) {
            m->maskMode = m->maskOn;
        } else if (m->maskMode > 0) {
            m->maskMode = -m->maskMode;
        }
    }
    if (rebuild)
        gimgConfigBmpMask(m);
    gimgUpdateDisplay(m);
    return TCL_OK;
}
