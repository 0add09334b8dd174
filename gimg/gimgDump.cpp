/*
 * gimgDump.cpp --
 *
 *	`dump`: the picture a gimg image shows, written into a new image
 *	file (DIB, XBM, TIFF, JPEG) or a Tk photo image.  The rows are made
 *	as the renderer makes them (the display ports' sampling, the lookup,
 *	filters, grey combination, dithering and the quarter turn; masks,
 *	stipple and tiles are not applied): true colour for 24 bits, palette
 *	indices through an output colour table (a grey ramp, a colour cube or
 *	the image's own table) for 1, 4 and 8 bits, for which the master's
 *	palette numbers and lookup are swapped for the dump's duration.
 *	`capture`: the image as drawn into a record or the clipboard.
 *	Relies on the row stages of the renderer, the lookup module, the
 *	store's file creation and the photo exchange and capture of rimage.
 */
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "gimg/gimgQuery.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgRow.h"
#include "rimage/rimgCapture.h"
#include "rimage/rimgPhoto.h"

static int failWith(GimgMaster *m, const char *message)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, message, nullptr);
    return TCL_ERROR;
}

/* ---- rows as the renderer makes them --------------------------------- */

namespace {

/* State of one dump: the master's tables, the ports, the output. */
struct Dump {
    GimgMaster *m;
    RAMImage *r;                /* the record shown */
    RAMImage *out;              /* the output record */
    int rgb;                    /* 1: three bands of true colour */
    int invert;                 /* 1: write 1 - index (XBM foreground) */
    int bgr;                    /* 1: band 1 takes blue (DIB byte order) */
    int W, H;                   /* unturned screen size */
    int first, last;            /* screen columns inside the image */
    int turn;
    int channels;               /* channel rows read per screen row */
    std::vector<unsigned char> values;  /* channels x W of the last read */
    std::vector<unsigned char> above;   /* values of the read row above */
    bool haveAbove;
    std::vector<unsigned char> work, prev;
    std::vector<signed char> errors;    /* dithering: channels x (W + 2) */
    std::vector<unsigned char> previous; /* dithering: filter rows above */
    bool firstFiltered;
};

}  // namespace

/* The output band of channel plane of planes. */
static int outBand(const Dump &d, int plane, int planes)
{
    return planes == 3 && d.bgr ? 2 - plane : plane;
}

static int readBand(const GimgMaster *m, int c)
{
    return m->cachedLayer > 0 ? m->cachedLayer - 1 : m->dispBands[c];
}

/* Reads the channel rows of image row `row` (unfiltered values). */
static void readValues(Dump &d, int row)
{
    GimgMaster *m = d.m;
    int W = d.W;
    const int *xmap = m->hdp.map;
    if (d.rgb) {
        for (int c = 0; c < 3; c++) {
            unsigned char *o = d.values.data() + (size_t)c * W;
            if (m->dispBands[c] < 0)
                std::memset(o, 0, (size_t)W);
            else
                getDataForDisp(d.r, row, readBand(m, c), xmap, d.first,
                               d.last, W, m->low[c], m->high[c],
                               m->funcTable[c], o);
        }
        return;
    }
    bool raw = m->cachedDither != 0 || m->filterStrength != 0;
    bool components = m->filterStrength != 0 && m->cachedLayer > 0
                      && m->block.nindices > 0;
    for (int j = 0; j < d.channels; j++) {
        unsigned char *o = d.values.data() + (size_t)j * W;
        if (components && j > 0)
            continue;
        if (raw)
            getDataForDisplay(d.r, row, readBand(m, j), xmap, d.first,
                              d.last, W, m->low[j], m->high[j], o);
        else
            getDataForDisp(d.r, row, readBand(m, j), xmap, d.first, d.last,
                           W, m->low[j], m->high[j], m->funcTable[j], o);
    }
    if (components)
        for (int j = d.channels - 1; j >= 0; j--) {
            int comp = ((m->dispBands[j] % 3) + 3) % 3;
            unsigned char *o = d.values.data() + (size_t)j * W;
            for (int x = 0; x < W; x++)
                o[x] = m->block.palette[d.values[(size_t)x]][comp];
        }
}

/* Filters one channel row in d.work with the row above (unfiltered). */
static void filterChannel(Dump &d, const unsigned char *above)
{
    GimgMaster *m = d.m;
    if (above)
        std::memcpy(d.prev.data(), above, (size_t)d.W);
    filter4(d.W, d.work.data(), d.prev.data(), m->filterStrength,
            m->filterBg, !above, m->filterDir);
}

/* The output row of a freshly read row: three channel rows (rgb) or
 * the palette indices. */
static void makeRow(Dump &d, int screenRow, unsigned char *out)
{
    GimgMaster *m = d.m;
    int W = d.W;
    const unsigned char *v = d.values.data();
    const unsigned char *up = d.haveAbove ? d.above.data() : nullptr;
    double strength = m->filterStrength;
    if (d.rgb) {
        if ((m->palFlags & GIMG_PAL_GREY) && m->nDispBands != 0) {
            gimgGreyRow(W, v, v + W, v + 2 * W, m->nDispBands,
                        d.work.data());
            if (strength != 0) {
                if (up)
                    gimgGreyRow(W, up, up + W, up + 2 * W, m->nDispBands,
                                d.prev.data());
                filter4(W, d.work.data(), d.prev.data(), strength,
                        m->filterBg, !up, m->filterDir);
            }
            for (int c = 0; c < 3; c++)
                std::memcpy(out + (size_t)c * W, d.work.data(), (size_t)W);
            return;
        }
        for (int c = 0; c < 3; c++) {
            std::memcpy(d.work.data(), v + (size_t)c * W, (size_t)W);
            if (strength != 0 && m->dispBands[c] >= 0)
                filterChannel(d, up ? up + (size_t)c * W : nullptr);
            std::memcpy(out + (size_t)c * W, d.work.data(), (size_t)W);
        }
        return;
    }
    std::memset(out, 0, (size_t)W);
    for (int j = 0; j < d.channels; j++) {
        std::memcpy(d.work.data(), v + (size_t)j * W, (size_t)W);
        if (m->cachedDither) {
            if (strength != 0)
                filter4(W, d.work.data(), d.previous.data() + (size_t)j * W,
                        strength, m->filterBg, d.firstFiltered,
                        m->filterDir);
            dithering3(W, out, d.work.data(), m->funcTable[j],
                       m->ditherIndex[j], m->ditherResidual[j],
                       d.errors.data() + (size_t)j * (W + 2),
                       m->cachedDither, screenRow & 1);
            continue;
        }
        if (strength != 0) {
            filterChannel(d, up ? up + (size_t)j * W : nullptr);
            const unsigned char *t = m->funcTable[j];
            for (int x = 0; x < W; x++)
                out[x] = (unsigned char)(out[x] + t[d.work[(size_t)x]]);
        } else {
            for (int x = 0; x < W; x++)
                out[x] = (unsigned char)(out[x] + d.work[(size_t)x]);
        }
    }
    d.firstFiltered = false;
    if (d.invert)
        for (int x = 0; x < W; x++)
            out[x] = (unsigned char)(out[x] ? 0 : 1);
}

/* Writes a turned block of `rows` screen rows (planes x rows x W, from
 * screen row y0) as segments of the output's rows: clockwise screen row
 * y is output column H-1-y and screen column j output row j; counter-
 * clockwise row y is column y and column j row W-1-j. */
static void putByteSegRight(Dump &d, const unsigned char *block, int y0,
                            int rows, int plane, int planes)
{
    std::vector<unsigned char> seg((size_t)rows);
    int W = d.W;
    for (int j = 0; j < W; j++) {
        for (int i = 0; i < rows; i++)
            seg[(size_t)i] = block[((size_t)(rows - 1 - i) * planes + plane)
                                       * W + j];
        putByteBILData(d.out, j, d.H - y0 - rows, rows,
                       outBand(d, plane, planes), seg.data());
    }
}

static void putByteSegLeft(Dump &d, const unsigned char *block, int y0,
                           int rows, int plane, int planes)
{
    std::vector<unsigned char> seg((size_t)rows);
    int W = d.W;
    for (int j = 0; j < W; j++) {
        for (int i = 0; i < rows; i++)
            seg[(size_t)i] = block[((size_t)i * planes + plane) * W + j];
        putByteBILData(d.out, W - 1 - j, y0, rows,
                       outBand(d, plane, planes), seg.data());
    }
}

static void putRGBSegRight(Dump &d, const unsigned char *block, int y0,
                           int rows)
{
    for (int c = 0; c < 3; c++)
        putByteSegRight(d, block, y0, rows, c, 3);
}

static void putRGBSegLeft(Dump &d, const unsigned char *block, int y0,
                          int rows)
{
    for (int c = 0; c < 3; c++)
        putByteSegLeft(d, block, y0, rows, c, 3);
}

/*
 * renderInto --
 *	The dump's rows from the top screen row down: rows outside the
 *	image are 0, a row showing the image row of the row above repeats
 *	it; unturned rows are written as they come, turned ones in blocks
 *	of up to 256 screen rows.
 */
static void renderInto(Dump &d)
{
    GimgMaster *m = d.m;
    int W = d.W, planes = d.rgb ? 3 : 1;
    size_t rowBytes = (size_t)planes * W;
    int blockRows = d.turn ? std::min(256, d.H) : 1;
    std::vector<unsigned char> block(rowBytes * (size_t)blockRows);
    std::vector<unsigned char> last(rowBytes, 0);
    int previousRow = -1;
    bool anyRead = false;
    int y0 = 0;
    for (int y = 0; y < d.H; y++) {
        unsigned char *out = block.data() + rowBytes * (size_t)(y - y0);
        int row = m->vdp.map[y];
        if (row < 0 || row >= d.r->info.rows) {
            std::memset(out, 0, rowBytes);
            if (d.invert)
                std::memset(out, 1, rowBytes);
            previousRow = -1;
        } else if (row == previousRow) {
            std::memcpy(out, last.data(), rowBytes);
        } else {
            if (anyRead) {
                d.above = d.values;
                d.haveAbove = true;
            }
            readValues(d, row);
            anyRead = true;
            makeRow(d, y, out);
            std::memcpy(last.data(), out, rowBytes);
            previousRow = row;
        }
        int filled = y - y0 + 1;
        if (!d.turn) {
            for (int c = 0; c < planes; c++)
                putByteBILData(d.out, y, 0, W, outBand(d, c, planes),
                               out + (size_t)c * W);
            y0 = y + 1;
            continue;
        }
        if (filled == blockRows || y == d.H - 1) {
            if (d.turn > 0) {
                if (planes == 3)
                    putRGBSegRight(d, block.data(), y0, filled);
                else
                    putByteSegRight(d, block.data(), y0, filled, 0, 1);
            } else {
                if (planes == 3)
                    putRGBSegLeft(d, block.data(), y0, filled);
                else
                    putByteSegLeft(d, block.data(), y0, filled, 0, 1);
            }
            y0 = y + 1;
        }
    }
}

/* Prepares d for m's image into output record out. */
static void startDump(Dump &d, GimgMaster *m, RAMImage *out, int rgb,
                      int invert)
{
    d.m = m;
    d.r = m->rimg;
    d.out = out;
    d.rgb = rgb;
    d.invert = invert;
    d.bgr = out->info.imgid == IMG_DIB;
    d.W = m->hdp.size;
    d.H = m->vdp.size;
    dpRange(&m->hdp, d.r->info.columns, &d.first, &d.last);
    d.turn = m->rotate < 0 ? -1 : m->rotate > 0 ? 1 : 0;
    d.channels = rgb ? 3 : std::max(1, std::min(3, m->nDispBands));
    d.values.assign((size_t)d.channels * d.W, 0);
    d.haveAbove = false;
    d.work.assign((size_t)d.W, 0);
    d.prev.assign((size_t)d.W, 0);
    d.errors.assign((size_t)d.channels * (d.W + 2), 0);
    d.previous.assign((size_t)d.channels * d.W, 0);
    d.firstFiltered = true;
}

/*
 * dumpRGB, dumpIndices --
 *	The picture as three bands of true colour, or as palette indices of
 *	the lookup in force, into the output record.
 */
static void dumpRGB(GimgMaster *m, RAMImage *out)
{
    Dump d;
    startDump(d, m, out, 1, 0);
    renderInto(d);
}

static void dumpIndices(GimgMaster *m, RAMImage *out, int invert)
{
    Dump d;
    startDump(d, m, out, 0, invert);
    renderInto(d);
}

/* ---- the subcommand --------------------------------------------------- */

/* Three bands are shown in colour (or a layer): colour cubes then. */
static int showsColour(const GimgMaster *m)
{
    if (m->layer > 0)
        return 1;
    int bands = 0;
    for (int i = 1; i <= m->comb[0] && i <= 3; i++)
        bands += m->comb[i] > 0;
    return bands >= 2 && !(m->palFlags & GIMG_PAL_GREY);
}

/* The output colour table of a bit depth: its palette numbers and
 * entries; direct is set when the image's own table is written. */
struct OutputTable {
    int pal[4];             /* grey, red, green, blue levels */
    int count;
    int direct;
    unsigned char entries[256][3];
};

static void outputTable(const GimgMaster *m, int bits, int jpeg,
                        OutputTable *t)
{
    std::memset(t, 0, sizeof *t);
    int colour = showsColour(m) && !jpeg;
    if (bits == 8 && m->layer > 0 && m->cachedDither == 0 && !jpeg
            && m->block.nindices > 0) {
        t->direct = 1;
        t->count = m->block.nindices;
        std::memcpy(t->entries, m->block.palette, sizeof t->entries);
        return;
    }
    if (bits == 1) {
        t->pal[0] = 2;
    } else if (colour && bits == 4) {
        t->pal[1] = 4;
        t->pal[2] = t->pal[3] = 2;
    } else if (colour) {
        t->pal[1] = t->pal[2] = 8;
        t->pal[3] = 4;
    } else {
        t->pal[0] = bits == 4 ? 16 : 256;
    }
    t->count = createClrIndices(t->entries, t->pal[0], t->pal[1], t->pal[2],
                                t->pal[3]);
}

/* Renders the picture into out with the output table in force. */
static void renderDump(GimgMaster *m, RAMImage *out, int bits,
                       const OutputTable *t, int invert)
{
    int savedPal[4];
    std::memcpy(savedPal, m->cachedPal, sizeof savedPal);
    int savedCount = m->palCount, savedDirect = m->directCT;
    if (bits == 24) {
        std::memset(m->cachedPal, 0, sizeof m->cachedPal);
        m->palCount = 0;
        m->directCT = 0;
    } else {
        std::memcpy(m->cachedPal, t->pal, sizeof m->cachedPal);
        m->palCount = t->count;
        m->directCT = t->direct;
    }
    GimgCreateLookup(m, m->funcInForce, (float)m->std);
    if (bits == 24)
        dumpRGB(m, out);
    else
        dumpIndices(m, out, invert);
    std::memcpy(m->cachedPal, savedPal, sizeof savedPal);
    m->palCount = savedCount;
    m->directCT = savedDirect;
    GimgCreateLookup(m, m->funcInForce, (float)m->std);
}

/*
 * createOutput --
 *	Creates the file info describes and opens it through the store; a
 *	record of the store that holds the same file is reloaded.
 * Results:
 *	The record (one link), or null with the message.
 */
static RAMImage *createOutput(GimgMaster *m, ImageInfo *info)
{
    if (createImage(info) < 0) {
        failWith(m, "Error in image creation.\n");
        return nullptr;
    }
    int err;
    RAMImage *r = getRAMImageByName(info->fileName);
    if (r) {
        if (!createRAMImage(info->fileName, nullptr, r, &err)) {
            failWith(m, "Error in image open.\n");
            return nullptr;
        }
        r->links++;
        return r;
    }
    r = openRAMImage(nullptr, info->fileName, nullptr, nullptr, &err);
    if (!r)
        failWith(m, "Error in image open.\n");
    return r;
}

/*
 * dumpPhoto --
 *	The picture into a memory record backed by a Tk photo image: named
 *	fileName, or (with an option) an unnamed photo written to fileName
 *	with the option as the photo's write options and then deleted.
 */
static int dumpPhoto(GimgMaster *m, ImageInfo *info, const char *fileName,
                     const char *option, int bits, const OutputTable *t)
{
    Tcl_Interp *interp = m->interp;
    char name[RIMG_PHOTO_NAME_SIZE] = "";
    if (!option && std::snprintf(name, sizeof name, "%s", fileName)
                       >= (int)sizeof name)
        return failWith(m, "Error in rimg creation.\n");
    RAMImage *out = rimgCreateTkPhoto(interp, name, info);
    if (!out)
        return failWith(m, "Error in rimg creation.\n");
    renderDump(m, out, bits, t, 0);
    int failed = rimgPutTkPhoto(interp, out, name);
    closeRAMImage(out, nullptr);
    if (!option) {
        if (failed)
            return failWith(m, "Error in rimg creation.\n");
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    /* name write fileName option...: the words of a list, so that file
     * names with blanks survive. */
    Tcl_Obj *script = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(script);
    Tcl_ListObjAppendElement(nullptr, script, Tcl_NewStringObj(name, -1));
    Tcl_ListObjAppendElement(nullptr, script, Tcl_NewStringObj("write", -1));
    Tcl_ListObjAppendElement(nullptr, script,
                             Tcl_NewStringObj(fileName, -1));
    Tcl_Obj *options = Tcl_NewStringObj(option, -1);
    Tcl_IncrRefCount(options);
    int rc = Tcl_ListObjAppendList(interp, script, options);
    if (rc == TCL_OK)
        rc = Tcl_EvalObjEx(interp, script, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(options);
    Tcl_DecrRefCount(script);
    std::string error = rc == TCL_OK ? "" : Tcl_GetStringResult(interp);
    Tcl_Obj *del = Tcl_NewStringObj("image delete", -1);
    Tcl_IncrRefCount(del);
    Tcl_ListObjAppendElement(nullptr, del, Tcl_NewStringObj(name, -1));
    Tcl_EvalObjEx(interp, del, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(del);
    Tcl_ResetResult(interp);
    if (rc != TCL_OK) {
        Tcl_AppendResult(interp, "Error in writing TKPHOTO.\n",
                         error.c_str(), nullptr);
        return TCL_ERROR;
    }
    return TCL_OK;
}

/*
 * gimgDump --
 *	dump fileName imgID bits owFlag ?option?: writes the displayed
 *	picture (the pixmap's size) into a new file of type imgID (DIB,
 *	XBMP, TIFF, JPEG with quality option) or, with TKPHOTO, into a Tk
 *	photo image (written to fileName with option as its format words).
 */
int gimgDump(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    if (argc != 6 && argc != 7) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Usage: ", argv[0],
                         " dump fileName imgID bits owFlag [option]\n",
                         nullptr);
        return TCL_ERROR;
    }
    const char *fileName = argv[2], *option = argc == 7 ? argv[6] : nullptr;
    int photo = std::strcmp(argv[3], "TKPHOTO") == 0;
    if (!m->rimg)
        return failWith(m, "No image is defined.\n");
    int bits, overwrite;
    if (Tcl_GetInt(interp, argv[4], &bits) != TCL_OK
            || Tcl_GetInt(interp, argv[5], &overwrite) != TCL_OK)
        return TCL_ERROR;
    if (!overwrite && (!photo || option) && access(fileName, F_OK) == 0)
        return failWith(m, "The file already exists.\n");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24)
        return failWith(m, "Illegal bits.\n");
    int imgid = photo ? IMG_MBSQ : parseImgID(argv[3]);
    int jpeg = imgid == IMG_JPEG;
    OutputTable table;
    outputTable(m, bits, jpeg, &table);
    int hasTable = bits != 24;
    switch (imgid) {
    case IMG_DIB:
        break;
    case IMG_XBMP:
        if (bits != 1)
            return failWith(m, "Illegal bits for XBMP file.\n");
        break;
    case IMG_TIFF:
        if (bits != 8 && bits != 24)
            return failWith(m, "Illegal bits for TIFF file.\n");
        break;
    case IMG_JPEG:
        if (bits != 8 && bits != 24)
            return failWith(m, "Illegal bits for JPEG file.\n");
        hasTable = 0;
        break;
    default:
        if (!photo)
            return failWith(m, "The image ID is not supported.\n");
        if (bits != 8 && bits != 24)
            return failWith(m, "Illegal bits for TKPHOTO.\n");
        break;
    }
    if (!m->imageVp.width || !m->hdp.map || !m->vdp.map)
        return failWith(m, "No image is defined.\n");

    ImageInfo info = m->block;
    std::snprintf(info.fileName, sizeof info.fileName, "%s", fileName);
    info.imgid = imgid;
    info.columns = m->imageVp.width;
    info.rows = m->imageVp.height;
    info.offset = 0;
    info.top = info.left = 0;
    info.x0 = info.y0 = 0.0;
    info.dx = info.dy = 1.0;
    info.msbf = m->block.msbf > 0 ? 1 : 0;
    info.transparent = -1;
    info.extraFd = -1;
    info.volumes = 0;
    info.pixel = bits == 1 ? PIXEL_1BIT : bits == 4 ? PIXEL_4BITS
                                                    : PIXEL_BYTE;
    info.bits = pixelBits(info.pixel);
    info.nbands = bits == 24 ? 3 : 1;
    info.nindices = hasTable ? table.count : 0;
    std::memset(info.palette, 0, sizeof info.palette);
    if (hasTable)
        std::memcpy(info.palette, table.entries, sizeof info.palette);
    info.block = jpeg ? 90 : 0;
    int quality = 90;
    if (jpeg && option && (Tcl_GetInt(nullptr, option, &quality) != TCL_OK
                           || quality < 0 || quality > 100))
        quality = 90;

    if (photo)
        return dumpPhoto(m, &info, fileName, option, bits, &table);

    RAMImage *out = createOutput(m, &info);
    if (!out)
        return TCL_ERROR;
    if (jpeg)
        out->info.block = quality;
    renderDump(m, out, bits, &table, imgid == IMG_XBMP);
    flushRAMImage(out);
    updateClient(out, m, 3);
    closeRAMImage(out, nullptr);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

/*
 * gimgCapturePixmap --
 *	capture rimgTag ?x0 y0 width height?: the picture as drawn into a
 *	raster record or the clipboard.
 */
int gimgCapturePixmap(GimgMaster *m, int argc, const char **argv)
{
    if (argc < 3 || argc > 7)
        return gimgUsage(m, argv, " rimgTag [x0 y0 width height]",
                         TCL_ERROR);
    if (!m->imageVp.pixmap || !m->gc)
        return failWith(m, "No pixmap.\n");
    int area[4] = {0, 0, m->imageVp.width, m->imageVp.height};
    for (int i = 3; i < argc; i++)
        if (Tcl_GetInt(m->interp, argv[i], &area[i - 3]) != TCL_OK)
            return TCL_ERROR;
    int x0 = area[0], y0 = area[1], width = area[2], height = area[3];
    if (width < 1 || height < 1 || width > 32767 || height > 32767)
        return failWith(m, "Invalid capture size.\n");
    Display *display = m->display;
    Pixmap p = Tk_GetPixmap(display, m->imageVp.pixmap, width, height,
                            m->depth);
    if (!p)
        return failWith(m, "No pixmap.\n");
    XSetClipMask(display, m->gc, None);
    XSetForeground(display, m->gc, m->fgColor->pixel);
    XFillRectangle(display, p, m->gc, 0, 0, (unsigned)width,
                   (unsigned)height);
    gimgDraw(m, nullptr, p, x0, y0, width, height, 0, 0);
    int rc;
    if (std::strcmp(argv[2], "clipboard") == 0) {
        rc = putDrawableClipboard(display, p, 0, 0, width, height) == 0
            ? TCL_OK : failWith(m, "Error in rimgWindow...\n");
        if (rc == TCL_OK) {
            Tcl_ResetResult(m->interp);
            Tcl_AppendResult(m->interp, argv[2], nullptr);
        }
    } else {
        rc = rimgCaptureToTag(m->interp, argv[2], display, p, m->colormap,
                              0, 0, width, height,
                              "Error in rimgWindow...\n");
    }
    Tk_FreePixmap(display, p);
    return rc;
}
