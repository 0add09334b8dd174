/*
 * gimgMask.cpp --
 *
 *	The masks of a gimg image and the `mask` subcommand.  Four masks are
 *	kept: the clip mask (clip polygons in image coordinates), the class
 *	mask (values of the -maskfile band through the mask-class table), the
 *	data mask (the image's own values through the class visibility
 *	table) and the frame mask (frame polygons in screen coordinates).
 *	The first three combine into a one-bit memory raster of the store
 *	(tag "<image>.mask"), which is resampled to the screen through the
 *	display ports and, ANDed with the frame mask, put into the depth-1
 *	pixmap that the display procedure clips with.  A set bit is a visible
 *	pixel.  Relies on the bit masks and polygons (gimgBitMask.cpp,
 *	gimgPolygon.cpp), the row sampling of the renderer and the store.
 */
#include "gimg/gimgMask.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <strings.h>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/stdstream.h"
#include "gimg/gimgRow.h"

/* ---- class definitions ----------------------------------------------- */

/* Splits text at commas and blanks. */
static std::vector<std::string> items(const char *text)
{
    std::vector<std::string> out;
    std::string s(text ? text : "");
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ',' || std::isspace((unsigned char)s[i])))
            i++;
        size_t start = i;
        while (i < s.size() && s[i] != ',' && !std::isspace((unsigned char)s[i]))
            i++;
        if (i > start)
            out.push_back(s.substr(start, i - start));
    }
    return out;
}

/* A value or range "a-b" with 0 <= a <= b <= 255. */
static bool parseRange(const std::string &item, int *a, int *b)
{
    char *end;
    long lo = std::strtol(item.c_str(), &end, 10);
    long hi = lo;
    if (end == item.c_str())
        return false;
    if (*end == '-') {
        const char *second = end + 1;
        hi = std::strtol(second, &end, 10);
        if (end == second)
            return false;
    }
    if (*end || lo < 0 || lo > hi || hi > 255)
        return false;
    *a = (int)lo;
    *b = (int)hi;
    return true;
}

/*
 * gimgParseMaskDef --
 *	Values and ranges into a 256-entry table: mode 0 from an empty
 *	table, 1 added to the current one, 2 or more toggled in it.
 * Results:
 *	The number of entries changed, or -1 (table unchanged) on a bad item.
 */
int gimgParseMaskDef(unsigned char *table, int mode, const char *text)
{
    unsigned char t[256];
    if (mode == 0)
        std::memset(t, 0, sizeof t);
    else
        std::memcpy(t, table, sizeof t);
    for (const std::string &item : items(text)) {
        int a, b;
        if (!parseRange(item, &a, &b))
            return -1;
        for (int v = a; v <= b; v++)
            t[v] = mode >= 2 ? !t[v] : 1;
    }
    int changed = 0;
    for (int v = 0; v < 256; v++)
        changed += t[v] != table[v];
    std::memcpy(table, t, sizeof t);
    return changed;
}

/* ---- the masks from values ------------------------------------------ */

/* The identity column map of a record's width. */
static std::vector<int> identityMap(int columns)
{
    std::vector<int> map((size_t)columns);
    for (int i = 0; i < columns; i++)
        map[(size_t)i] = i;
    return map;
}

/*
 * makeClassMask --
 *	The mask-file mask: the pixels of the mask image whose -maskimgband
 *	value has a non-zero entry in the mask-class table.
 */
void makeClassMask(GimgMaster *m)
{
    RAMImage *mi = m->maskFileImg;
    BitMask *mask = &m->masks[GIMG_MASK_FILE];
    if (!mi) {
        maskClose(mask);
        return;
    }
    int columns = mi->info.columns, rows = mi->info.rows;
    if (!maskOpen(mask, columns, rows, 0))
        return;
    int band = m->maskImgBand;
    band = band < 1 ? 0 : band > mi->info.nbands ? mi->info.nbands - 1
                                                 : band - 1;
    std::vector<int> map = identityMap(columns);
    std::vector<unsigned char> values((size_t)columns);
    for (int y = 0; y < rows; y++) {
        getDataForDisp(mi, y, band, map.data(), 0, columns, columns, 0, 255,
                       m->maskClassTable, values.data());
        maskPutLine(mask, y, values.data(), 0);
    }
}

/*
 * makeDataMask --
 *	The data mask: the image's pixels whose value (one band), or packed
 *	display value (several displayed bands, through the transfer
 *	tables), is visible in the table.  A transparent index is hidden.
 */
void makeDataMask(GimgMaster *m, const unsigned char *visibilityTable)
{
    RAMImage *r = m->rimg;
    BitMask *mask = &m->masks[GIMG_MASK_DATA];
    if (!r)
        return;
    int columns = r->info.columns, rows = r->info.rows;
    if (!maskOpen(mask, columns, rows, 0))
        return;
    unsigned char table[256];
    std::memcpy(table, visibilityTable, sizeof table);
    if (r->info.transparent >= 0 && r->info.transparent < 256)
        table[r->info.transparent] = 0;
    std::vector<int> map = identityMap(columns);
    std::vector<unsigned char> values((size_t)columns), sum((size_t)columns);
    for (int y = 0; y < rows; y++) {
        if (r->info.nbands == 1) {
            getDataForDisp(r, y, 0, map.data(), 0, columns, columns, 0, 255,
                           table, values.data());
        } else {
            std::fill(sum.begin(), sum.end(), 0);
            for (int c = 0; c < 3; c++) {
                int band = m->dispBands[c];
                if (band < 0 || band >= r->info.nbands)
                    continue;
                getDataForDisp(r, y, band, map.data(), 0, columns, columns,
                               m->low[c], m->high[c], m->transTable[c],
                               values.data());
                for (int x = 0; x < columns; x++)
                    sum[(size_t)x] = (unsigned char)(sum[(size_t)x]
                                                     + values[(size_t)x]);
            }
            for (int x = 0; x < columns; x++)
                values[(size_t)x] = table[sum[(size_t)x]];
        }
        maskPutLine(mask, y, values.data(), 0);
    }
}

/* ---- the mask raster and the combination ---------------------------- */

/* Forgets the mask raster: the combined mask closed, the client record
 * unlinked (the record is destroyed unless a script holds it). */
static void releaseMaskRimg(GimgMaster *m)
{
    maskClose(&m->masks[GIMG_MASK_COMBINED]);
    if (m->maskRimg)
        closeRAMImage(m->maskRimg, &m->maskClient);
    m->maskRimg = nullptr;
}

/*
 * gimgMaskRimg --
 *	Makes the one-bit memory raster of the masks when there is none (or
 *	the image changed size), sets all its bits and lets the combined
 *	mask borrow them.
 * Results:
 *	0, or -1 ("Error in exporting mask file.\n" on standard error).
 */
int gimgMaskRimg(GimgMaster *m)
{
    if (!m->rimg)
        return -1;
    int rows = m->rimg->info.rows, columns = m->rimg->info.columns;
    if (m->maskRimg && (m->maskRimg->info.rows != rows
                        || m->maskRimg->info.columns != columns))
        releaseMaskRimg(m);
    if (!m->maskRimg) {
        ImageInfo info = m->block;
        info.rows = rows;
        info.columns = columns;
        info.pixel = PIXEL_1BIT;
        info.bits = 1;
        info.nbands = 1;
        info.imgid = IMG_MBSQ;
        info.msbf = msbFirst();
        info.offset = 0;
        info.block = (columns + 7) / 8;
        info.nindices = 2;
        info.transparent = -1;
        std::memset(info.palette, 0, sizeof info.palette);
        std::memset(info.palette[1], 255, 3);
        info.extraFd = -1;
        info.volumes = 0;
        char tag[sizeof info.fileName];
        std::snprintf(tag, sizeof tag, "%s.mask", m->name);
        for (int k = 0; getRAMImageByTag(tag) || getRAMImageByName(tag); k++)
            std::snprintf(tag, sizeof tag, "%s.mask.%d", m->name, k);
        std::snprintf(info.fileName, sizeof info.fileName, "%s", tag);
        int err;
        RAMImage *r = openRAMImage(tag, nullptr, &info, &m->maskClient,
                                   &err);
        if (!r) {
            stderrPrintf("Error in exporting mask file.\n");
            return -1;
        }
        m->maskRimg = r;
    }
    RAMImage *r = m->maskRimg;
    std::memset(getRAMImageLine(r, 0, 0, 1), 0xff,
                (size_t)r->lineBytes * (size_t)rows);
    return maskRimgInit(&m->masks[GIMG_MASK_COMBINED], r);
}

/*
 * makeMaskBitmap --
 *	Combines the mask-file, data and clip masks into the mask raster by
 *	the mask mode: the first present mask by AND, then the data mask by
 *	AND in modes 1 and 3 (else OR), the clip mask by AND in modes 1 and
 *	4 (else OR).  Tells the mask raster's clients.
 */
void makeMaskBitmap(GimgMaster *m)
{
    int mode = std::abs(m->maskMode);
    if (mode == 0)
        mode = 1;
    BitMask *file = &m->masks[GIMG_MASK_FILE];
    BitMask *data = &m->masks[GIMG_MASK_DATA];
    BitMask *clip = &m->masks[GIMG_MASK_CLIP];
    if (!m->rimg || (!file->bits && !data->bits && !clip->bits)
            || gimgMaskRimg(m) != 0) {
        m->maskBitmapValid = 0;
        return;
    }
    BitMask *combined = &m->masks[GIMG_MASK_COMBINED];
    int first = 1;
    if (file->bits) {
        clipMask(combined, file, 1);
        first = 0;
    }
    if (data->bits) {
        clipMask(combined, data, first || mode == 1 || mode == 3);
        first = 0;
    }
    if (clip->bits)
        clipMask(combined, clip, first || mode == 1 || mode == 4);
    m->maskBitmapValid = 1;
    updateClient(m->maskRimg, m, 2);
}

/* ---- screen masks ---------------------------------------------------- */

/* An image point in screen coordinates: through the display ports,
 * truncated, then turned. */
static void screenPoint(GimgMaster *m, int x, int y, int *sx, int *sy)
{
    int ux = (int)dpScreen(&m->hdp, x), uy = (int)dpScreen(&m->vdp, y);
    int w = m->imageVp.width, h = m->imageVp.height;
    if (m->rotate < 0) {
        *sx = uy;
        *sy = h - ux - 1;
    } else if (m->rotate > 0) {
        *sx = w - uy - 1;
        *sy = ux;
    } else {
        *sx = ux;
        *sy = uy;
    }
}

/* A copy of the list with every point in screen coordinates, or null. */
static Polyg *screenPolygons(GimgMaster *m, const Polyg *list)
{
    Polyg *out = nullptr, **tail = &out;
    for (const Polyg *p = list; p; p = p->next) {
        Polyg *c = polygCopy(p);
        if (!c) {
            polygDelete(out);
            return nullptr;
        }
        for (int i = 0; i < c->count; i++) {
            int sx, sy;
            screenPoint(m, c->points[i].x, c->points[i].y, &sx, &sy);
            c->points[i].x = (short)(sx < -32768 ? -32768 : sx > 32767 ? 32767 : sx);
            c->points[i].y = (short)(sy < -32768 ? -32768 : sy > 32767 ? 32767 : sy);
        }
        *tail = c;
        tail = &c->next;
    }
    return out;
}

Region gimgPolygRg(GimgMaster *m, const Polyg *p)
{
    std::vector<XPoint> points((size_t)p->count);
    for (int i = 0; i < p->count; i++) {
        int sx, sy;
        screenPoint(m, p->points[i].x, p->points[i].y, &sx, &sy);
        points[(size_t)i].x = (short)sx;
        points[(size_t)i].y = (short)sy;
    }
    return XPolygonRegion(points.data(), p->count, WindingRule);
}

Region gimgPolygonRegion(GimgMaster *m, const Polyg *list, int raw)
{
    Region region = nullptr;
    for (const Polyg *p = list; p; p = p->next) {
        if (p->count < 1)
            continue;
        Region r;
        if (raw) {
            std::vector<XPoint> points((size_t)p->count);
            for (int i = 0; i < p->count; i++) {
                points[(size_t)i].x = p->points[i].x;
                points[(size_t)i].y = p->points[i].y;
            }
            r = XPolygonRegion(points.data(), p->count, WindingRule);
        } else {
            r = gimgPolygRg(m, p);
        }
        if (!region) {
            region = r;
        } else {
            XUnionRegion(region, r, region);
            XDestroyRegion(r);
        }
    }
    return region;
}

/* The frame mask at the image pixmap's size, cleared. */
static BitMask *openFrameMask(GimgMaster *m)
{
    return maskOpen(&m->masks[GIMG_MASK_FRAME], m->imageVp.width,
                    m->imageVp.height, 0);
}

void makeViewMask(GimgMaster *m)
{
    if (!m->framePolygs)
        return;
    BitMask *frame = openFrameMask(m);
    if (!frame)
        return;
    Polyg *screen = screenPolygons(m, m->framePolygs);
    polygMask(screen, frame, m->frameXor);
    polygDelete(screen);
}

BitMask *makeDispMask(const BitMask *mask, const DisplayPort *hdp,
                      const DisplayPort *vdp, int turn)
{
    int w = hdp->size, h = vdp->size;
    if (w < 1 || h < 1 || !hdp->map || !vdp->map)
        return nullptr;
    BitMask *disp = turn ? maskCreate(h, w, 0) : maskCreate(w, h, 0);
    if (!disp)
        return nullptr;
    int first, last;
    dpRange(hdp, mask->width, &first, &last);
    std::vector<unsigned char> values((size_t)w);
    int previous = -1;
    for (int y = 0; y < h; y++) {
        int row = vdp->map[y];
        if (row < 0 || row >= mask->height) {
            previous = -1;
            continue;
        }
        if (row == previous && !turn) {
            maskCopyLine(disp, y - 1, y);
        } else {
            if (row != previous)
                maskGetLine(mask, row, first, last, hdp, values.data());
            maskPutLine(disp, y, values.data(), turn);
        }
        previous = row;
    }
    return disp;
}

int maskPixmap(GimgMaster *m, const BitMask *mask, ViewPort *vp)
{
    if (!mask->bits || !m->maskGC)
        return 0;
    Pixmap pixmap = vpPixmap(vp);
    if (!pixmap)
        return 0;
    XImage image;
    std::memset(&image, 0, sizeof image);
    image.width = mask->width;
    image.height = mask->height;
    image.format = XYBitmap;
    image.data = reinterpret_cast<char *>(mask->bits);
    image.byte_order = mask->bitOrder ? MSBFirst : LSBFirst;
    image.bitmap_unit = 8;
    image.bitmap_bit_order = mask->bitOrder ? MSBFirst : LSBFirst;
    image.bitmap_pad = 8;
    image.depth = 1;
    image.bytes_per_line = mask->bytesPerRow;
    image.bits_per_pixel = 1;
    if (!XInitImage(&image))
        return 0;
    /* Set bits are visible, whatever the image's colours. */
    XSetForeground(m->display, m->maskGC, 1);
    XSetBackground(m->display, m->maskGC, 0);
    int w = mask->width < vp->width ? mask->width : vp->width;
    int h = mask->height < vp->height ? mask->height : vp->height;
    XPutImage(m->display, pixmap, m->maskGC, &image, 0, 0, vp->xOffset,
              vp->yOffset, (unsigned)w, (unsigned)h);
    vp->valid = 1;
    return 1;
}

/*
 * makeMaskPixmap --
 *	The combined mask resampled to the screen (all visible without one),
 *	ANDed with the frame mask when there is one, into the mask bitmap;
 *	the frame mask into the frame bitmap.
 * Results:
 *	The mask bitmap's valid flag; 0 when there is no mask at all.
 */
int makeMaskPixmap(GimgMaster *m, BitMask *combined, BitMask *frame,
                   ViewPort *frameVp, ViewPort *maskVp, DisplayPort *hdp,
                   DisplayPort *vdp, int turn)
{
    if (!combined->bits && !frame->bits)
        return 0;
    BitMask *disp;
    if (combined->bits)
        disp = makeDispMask(combined, hdp, vdp, turn);
    else if (turn)
        disp = maskCreate(vdp->size, hdp->size, 0xff);
    else
        disp = maskCreate(hdp->size, vdp->size, 0xff);
    if (!disp)
        return 0;
    if (frame->bits) {
        clipMask(disp, frame, 1);
        maskPixmap(m, frame, frameVp);
    }
    maskPixmap(m, disp, maskVp);
    maskDelete(disp);
    return maskVp->valid;
}

/* ---- clearing -------------------------------------------------------- */

int parseMaskID(Tcl_Interp *interp, const char *word)
{
    static const char *const kinds[] = {"frame", "clip", "data", "all"};
    for (int i = 0; i < 4; i++)
        if (std::strcmp(word, kinds[i]) == 0)
            return i + 1;
    if (interp) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "unknown mask\n", nullptr);
    }
    return -1;
}

/*
 * gimgMaskClear --
 *	Closes the masks of a kind (frame, clip, data or all), with
 *	deletePolygons also their polygons (the data mask's visibility
 *	table); once no clip, data or mask-file mask is left, the mask
 *	raster goes too.
 */
void gimgMaskClear(GimgMaster *m, int kind, int deletePolygons)
{
    int all = kind == GIMG_CLEAR_ALL;
    if (all || kind == GIMG_CLEAR_FRAME) {
        m->frameVp.valid = 0;
        maskClose(&m->masks[GIMG_MASK_FRAME]);
        if (deletePolygons) {
            polygDelete(m->framePolygs);
            m->framePolygs = nullptr;
        }
    }
    if (all || kind == GIMG_CLEAR_CLIP) {
        m->maskVp.valid = 0;
        maskClose(&m->masks[GIMG_MASK_CLIP]);
        if (deletePolygons) {
            polygDelete(m->clipPolygs);
            m->clipPolygs = nullptr;
        }
        if (m->clipRegion)
            XDestroyRegion(m->clipRegion);
        m->clipRegion = nullptr;
    }
    if (all || kind == GIMG_CLEAR_DATA) {
        maskClose(&m->masks[GIMG_MASK_DATA]);
        if (deletePolygons)
            std::memset(m->classVisible, 1, sizeof m->classVisible);
    }
    if (!m->masks[GIMG_MASK_CLIP].bits && !m->masks[GIMG_MASK_DATA].bits
            && !m->masks[GIMG_MASK_FILE].bits && m->maskRimg) {
        releaseMaskRimg(m);
        m->maskBitmapValid = 0;
    }
}

/* ---- the mask subcommand --------------------------------------------- */

static int failWith(GimgMaster *m, const char *message)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, message, nullptr);
    return TCL_ERROR;
}

/*
 * rebuildMasks --
 *	After a change of the masks: the combination and screen masks of
 *	the image shown (a source gimg's combined mask with this image's
 *	frame and ports for a view), then a redraw.
 */
static void rebuildMasks(GimgMaster *m)
{
    GimgMaster *src = m;
    if (!m->rimg)
        src = m->srcName[0] ? gimgGetByName(m->interp, m->srcName) : nullptr;
    if (!src || !src->rimg)
        return;
    if (src == m)
        makeMaskBitmap(m);
    makeMaskPixmap(m, &src->masks[GIMG_MASK_COMBINED],
                   &m->masks[GIMG_MASK_FRAME], &m->frameVp, &m->maskVp,
                   &m->hdp, &m->vdp, src->rotate);
    gimgRedrawDisplay(m);
}

/* The clip region and, with an image, the clip mask from the clip
 * polygons. */
static void applyClip(GimgMaster *m)
{
    if (m->clipRegion)
        XDestroyRegion(m->clipRegion);
    m->clipRegion = gimgPolygonRegion(m, m->clipPolygs, 0);
    if (m->rimg && m->clipPolygs
            && maskOpen(&m->masks[GIMG_MASK_CLIP], m->rimg->info.columns,
                        m->rimg->info.rows, 0))
        polygMask(m->clipPolygs, &m->masks[GIMG_MASK_CLIP], m->clipXor);
}

/* The frame mask from the frame polygons: through the ports when the
 * frame is dynamic, as screen coordinates when static. */
static void applyFrame(GimgMaster *m)
{
    if (!m->framePolygs)
        return;
    if (m->frameDynamic) {
        makeViewMask(m);
    } else if (BitMask *frame = openFrameMask(m)) {
        polygMask(m->framePolygs, frame, m->frameXor);
    }
}

/* Parses object pairs and puts them at the head of *list. */
static int addShapes(GimgMaster *m, Polyg **list, int count,
                     const char **words)
{
    Polyg *shapes = parsePolygFromObj(m->interp, count, words);
    if (!shapes)
        return TCL_ERROR;
    Polyg *tail = shapes;
    while (tail->next)
        tail = tail->next;
    tail->next = *list;
    *list = shapes;
    return TCL_OK;
}

/* clear ?kind? and delete ?kind? */
static int maskClearCmd(GimgMaster *m, int argc, const char **argv,
                        int deletePolygons)
{
    if (argc > 4) {
        Tcl_ResetResult(m->interp);
        Tcl_AppendResult(m->interp, "Usage: ", argv[0], " ", "mask",
                         deletePolygons ? " [frame|clip|data|all]\n"
                                        : " [frame|class|clip|data|all]\n",
                         nullptr);
        return TCL_ERROR;
    }
    int kind = GIMG_CLEAR_ALL;
    if (argc == 4 && (kind = parseMaskID(m->interp, argv[3])) < 0)
        return TCL_ERROR;
    gimgMaskClear(m, kind, deletePolygons);
    rebuildMasks(m);
    return TCL_OK;
}

/* clip ?xor|or|current|objects? */
static int maskClipCmd(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    if (argc == 3) {
        Tcl_AppendResult(interp, m->clipPolygs ? "1" : "0",
                         m->clipXor ? " xor" : " or", nullptr);
        return TCL_OK;
    }
    if (argc == 4) {
        const char *w = argv[3];
        if (std::strcmp(w, "xor") == 0 || std::strcmp(w, "or") == 0) {
            m->clipXor = w[0] == 'x';
            return TCL_OK;
        }
        if (std::strcmp(w, "current") != 0)
            return failWith(m, "Unknown clip option.\n");
        if (!m->clipPolygs)
            return TCL_OK;
    } else if (addShapes(m, &m->clipPolygs, argc - 3, argv + 3) != TCL_OK) {
        return TCL_ERROR;
    }
    applyClip(m);
    rebuildMasks(m);
    return TCL_OK;
}

/* frame ?dynamic|static|xor|or|current|objects? */
static int maskFrameCmd(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    if (argc == 3) {
        Tcl_AppendResult(interp, m->framePolygs ? "1" : "0",
                         m->frameDynamic ? " dynamic" : " static",
                         m->frameXor ? " xor" : " or", nullptr);
        return TCL_OK;
    }
    if (argc == 4) {
        const char *w = argv[3];
        if (std::strcmp(w, "dynamic") == 0 || std::strcmp(w, "static") == 0) {
            m->frameDynamic = w[0] == 'd';
            return TCL_OK;
        }
        if (std::strcmp(w, "xor") == 0 || std::strcmp(w, "or") == 0) {
            m->frameXor = w[0] == 'x';
            return TCL_OK;
        }
        if (std::strcmp(w, "current") != 0)
            return failWith(m, "Unknown frame option.\n");
    } else if (addShapes(m, &m->framePolygs, argc - 3, argv + 3) != TCL_OK) {
        return TCL_ERROR;
    }
    applyFrame(m);
    rebuildMasks(m);
    return TCL_OK;
}

/* class ?|definition ?set|or|xor? */
static int maskClassCmd(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    if (argc == 4 && std::strcmp(argv[3], "?") == 0) {
        char buf[16];
        for (int v = 0; v < 256; v++)
            if (m->maskClassTable[v]) {
                std::snprintf(buf, sizeof buf, "%d", v);
                Tcl_AppendElement(interp, buf);
            }
        return TCL_OK;
    }
    if (argc != 4 && argc != 5) {
        char buf[3 * GIMG_NAME_SIZE + 64];
        std::snprintf(buf, sizeof buf, "%s %s %s classDef|? [xor|or|set]",
                      argv[0], "mask", "class");
        return failWith(m, buf);
    }
    int mode = 0;
    if (argc == 5) {
        if (strcasecmp(argv[4], "set") == 0)
            mode = 0;
        else if (strcasecmp(argv[4], "or") == 0)
            mode = 1;
        else if (strcasecmp(argv[4], "xor") == 0)
            mode = 2;
        else
            return failWith(m, "Invalid mask class specification.\n");
    }
    int changed = gimgParseMaskDef(m->maskClassTable, mode, argv[3]);
    if (changed < 0)
        return failWith(m, "Error in parsing mask class.");
    if (changed == 0)
        return TCL_OK;
    int none = gimgConfigBmpMask(m);
    rebuildMasks(m);
    return none ? TCL_ERROR : TCL_OK;
}

/* data values | data on|off values ... */
static int maskDataCmd(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    if (argc == 4 && std::strcmp(argv[3], "values") == 0) {
        char buf[32];
        for (int v = 0; v < 256; v++) {
            if (!m->classVisible[v])
                continue;
            int start = v;
            while (v + 1 < 256 && m->classVisible[v + 1])
                v++;
            if (v > start)
                std::snprintf(buf, sizeof buf, "%d-%d ", start, v);
            else
                std::snprintf(buf, sizeof buf, "%d ", v);
            Tcl_AppendResult(interp, buf, nullptr);
        }
        return TCL_OK;
    }
    /* Directives: "on" or "off" followed by values and ranges; the words
     * may hold several directives or be split over several words. */
    std::vector<std::string> tokens;
    for (int i = 3; i < argc; i++)
        for (const std::string &t : items(argv[i]))
            tokens.push_back(t);
    unsigned char table[256];
    std::memcpy(table, m->classVisible, sizeof table);
    int state = -1;
    for (const std::string &t : tokens) {
        if (t == "on" || t == "off") {
            state = t == "on";
            continue;
        }
        if (state < 0)
            return failWith(m, "invalid mask directive.\n");
        int a, b;
        if (!parseRange(t, &a, &b))
            return failWith(m, "Syntax error.\n");
        std::memset(table + a, state, (size_t)(b - a + 1));
    }
    if (state < 0)
        return failWith(m, "invalid mask directive.\n");
    std::memcpy(m->classVisible, table, sizeof table);
    makeDataMask(m, m->classVisible);
    rebuildMasks(m);
    return TCL_OK;
}

/* on ?mode? */
static int maskOnCmd(GimgMaster *m, int argc, const char **argv)
{
    int maskOn = m->maskMode < 0 ? -m->maskMode : m->maskOn;
    if (argc > 4 || (argc == 4
                     && Tcl_GetInt(nullptr, argv[3], &maskOn) != TCL_OK))
        return failWith(m, "Invalid mask operation flag.\n");
    if (maskOn < 1 || maskOn > 4)
        return failWith(m, "Invalid mask operation flag.\n");
    m->maskOn = maskOn;
    if (m->maskMode == -maskOn) {
        m->maskMode = maskOn;
        gimgRedrawDisplay(m);
        return TCL_OK;
    }
    m->maskMode = maskOn;
    rebuildMasks(m);
    return TCL_OK;
}

/*
 * gimgMask --
 *	The `mask` subcommand: clear, delete, clip, frame, class, data, on
 *	and off; with no option its usage, as success.
 */
int gimgMask(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    Tcl_ResetResult(interp);
    if (argc < 3) {
        Tcl_AppendResult(interp, "Usage: ", argv[0], " ", "mask",
                         " ?options?\n", nullptr);
        return TCL_OK;
    }
    const char *option = argv[2];
    if (std::strcmp(option, "clear") == 0)
        return maskClearCmd(m, argc, argv, 0);
    if (std::strcmp(option, "delete") == 0)
        return maskClearCmd(m, argc, argv, 1);
    if (std::strcmp(option, "clip") == 0)
        return maskClipCmd(m, argc, argv);
    if (std::strcmp(option, "frame") == 0)
        return maskFrameCmd(m, argc, argv);
    if (std::strcmp(option, "class") == 0)
        return maskClassCmd(m, argc, argv);
    if (std::strcmp(option, "data") == 0)
        return maskDataCmd(m, argc, argv);
    if (std::strcmp(option, "on") == 0)
        return maskOnCmd(m, argc, argv);
    if (std::strcmp(option, "off") == 0) {
        if (m->maskMode > 0)
            m->maskMode = -m->maskMode;
        m->maskOn = 0;
        gimgRedrawDisplay(m);
        return TCL_OK;
    }
    return failWith(m, "Unknown mask option.\n");
}
