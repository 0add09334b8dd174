/*
 * gimg.cpp --
 *
 *	The gimg Tk image type: registration, the registry of all masters,
 *	creation and deletion of masters, the instances that widgets get, the
 *	display procedure that copies the rendered pixmap into a widget, and
 *	the client protocol with the raster store (a record that changes
 *	reconfigures or re-renders every image showing it).  Options and the
 *	configuration pass are in gimgConfig.cpp, the image command in
 *	gimgCmd.cpp, rendering in gimgRender.h, masks in gimgMask.h.
 */
#include "gimg/gimg.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/hist.h"
#include "core/stdstream.h"
#include "core/velk.h"
#include "core/velkDisplay.h"
#include "gimg/gimgQuery.h"
#include "gimg/gimgInt.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgMask.h"
#include "gimg/gimgRender.h"

GimgMaster **gimgClient = nullptr;

static int gimgCreate(Tcl_Interp *interp, const char *name, int objc,
                      Tcl_Obj *const objv[], const Tk_ImageType *typePtr,
                      Tk_ImageMaster master, ClientData *clientDataPtr);
static ClientData gimgGet(Tk_Window tkwin, ClientData clientData);
static void gimgFree(ClientData clientData, Display *display);
static void gimgDelete(ClientData clientData);

Tk_ImageType tkGimgImageType = {
    "gimg", gimgCreate, gimgGet, gimgDisplay, gimgFree, gimgDelete,
    nullptr, nullptr, nullptr
};

/* The display procedure under its second name. */
void gimgDisplay0(ClientData instance, Display *display, Drawable drawable,
                  int imageX, int imageY, int width, int height,
                  int drawableX, int drawableY)
{
    gimgDisplay(instance, display, drawable, imageX, imageY, width, height,
                drawableX, drawableY);
}

/*
 * Gimg_Init --
 *	Registers the image type (when Tk is present) and allocates the
 *	registry, once per process.
 * Results:
 *	0.
 */
int Gimg_Init(void)
{
    if (gimgClient)
        return 0;
    gimgClient = static_cast<GimgMaster **>(
        std::calloc(GIMG_MAX_IMAGES, sizeof(GimgMaster *)));
    if (!gimgClient)
        return 1;
    if (velkHaveTk())
        Tk_CreateImageType(&tkGimgImageType);
    return 0;
}

/*
 * gimgDeleteAll --
 *	Deletes every registered image (exit handler), then frees the
 *	registry.
 */
void gimgDeleteAll(void)
{
    if (!gimgClient)
        return;
    for (int i = 0; i < GIMG_MAX_IMAGES; i++)
        if (gimgClient[i])
            gimgCmdDeletedProc(gimgClient[i]);
    /* Images whose Tk record could not be deleted are destroyed here. */
    for (int i = 0; i < GIMG_MAX_IMAGES; i++)
        if (gimgClient[i]) {
            gimgClient[i]->tkMaster = nullptr;
            gimgDelete(gimgClient[i]);
        }
    std::free(gimgClient);
    gimgClient = nullptr;
}

/* ---- registry ------------------------------------------------------- */

int gimgAdd(GimgMaster *m)
{
    if (!gimgClient)
        return 0;
    for (int i = 0; i < GIMG_MAX_IMAGES; i++)
        if (!gimgClient[i]) {
            gimgClient[i] = m;
            return 1;
        }
    stderrPrintf("Fail to add the gimg.\n");
    return 0;
}

void gimgErase(GimgMaster *m)
{
    if (!gimgClient)
        return;
    for (int i = 0; i < GIMG_MAX_IMAGES; i++)
        if (gimgClient[i] == m) {
            gimgClient[i] = nullptr;
            return;
        }
}

/* The master of interp whose image command is named name, else null. */
GimgMaster *gimgGetByName(Tcl_Interp *interp, const char *name)
{
    if (!gimgClient || !name)
        return nullptr;
    for (int i = 0; i < GIMG_MAX_IMAGES; i++) {
        GimgMaster *m = gimgClient[i];
        if (m && m->interp == interp && m->imageCmd
                && std::strcmp(Tcl_GetCommandName(interp, m->imageCmd), name)
                       == 0)
            return m;
    }
    return nullptr;
}

/* Appends each registered image's name and a blank to the result. */
void gimgNames(Tcl_Interp *interp)
{
    if (!gimgClient)
        return;
    for (int i = 0; i < GIMG_MAX_IMAGES; i++)
        if (gimgClient[i])
            Tcl_AppendResult(interp, gimgClient[i]->name, " ", nullptr);
}

/* ---- GCs ------------------------------------------------------------ */

/* A GC on drawable with m's colours and no exposures, or None. */
static GC makeGC(GimgMaster *m, Drawable drawable)
{
    XGCValues v;
    v.foreground = m->fgColor ? m->fgColor->pixel : 0;
    v.background = m->bgColor ? m->bgColor->pixel : 0;
    v.graphics_exposures = False;
    return XCreateGC(m->display, drawable,
                     GCForeground | GCBackground | GCGraphicsExposures, &v);
}

/*
 * gimgGetGC --
 *	Makes the image GC on the main window and the mask GC for depth-1
 *	drawables, replacing earlier ones.
 * Results:
 *	0, or 1 with "Fail to get GC.\n" added to the error information.
 */
int gimgGetGC(GimgMaster *m)
{
    Drawable win = Tk_WindowId(m->tkwin);
    GC gc = win ? makeGC(m, win) : None;
    Pixmap bits = win ? Tk_GetPixmap(m->display, win, 8, 8, 1) : None;
    GC maskGC = bits ? makeGC(m, bits) : None;
    if (bits)
        Tk_FreePixmap(m->display, bits);
    if (!gc || !maskGC) {
        if (gc)
            XFreeGC(m->display, gc);
        if (maskGC)
            XFreeGC(m->display, maskGC);
        Tcl_AddErrorInfo(m->interp, "Fail to get GC.\n");
        return 1;
    }
    if (m->gc)
        XFreeGC(m->display, m->gc);
    if (m->maskGC)
        XFreeGC(m->display, m->maskGC);
    m->gc = gc;
    m->maskGC = maskGC;
    return 0;
}

/* The draw GC for overlays; 0, or 1 with "Fail to get drawGC.\n". */
int gimgInitDrawGC(GimgMaster *m)
{
    Drawable win = Tk_WindowId(m->tkwin);
    GC gc = win ? makeGC(m, win) : None;
    if (!gc) {
        Tcl_AddErrorInfo(m->interp, "Fail to get drawGC.\n");
        return 1;
    }
    if (m->drawGC)
        XFreeGC(m->display, m->drawGC);
    m->drawGC = gc;
    return 0;
}

/* ---- client protocol ----------------------------------------------- */

static void configByRimgProc(void *clientData)
{
    gimgConfigByRimg(static_cast<GimgMaster *>(clientData));
}

static void configBmpMaskProc(void *clientData)
{
    gimgConfigBmpMask(static_cast<GimgMaster *>(clientData));
}

static void updateDisplayProc(void *clientData)
{
    gimgUpdateDisplay(static_cast<GimgMaster *>(clientData));
}

static void initClient(RAMImageClient *c, GimgMaster *m,
                       void (*configProc)(void *))
{
    c->configProc = configProc;
    c->updateProc = updateDisplayProc;
    c->owner = m;
    c->clientData = m;
    c->next = nullptr;
}

/*
 * gimgRedrawDisplay --
 *	Tells Tk that the whole image changed: (-tw, -th) while tiling,
 *	else the image pixmap's size.
 */
void gimgRedrawDisplay(GimgMaster *m)
{
    if (!m->tkMaster)
        return;
    int w = m->tile ? m->tw : m->imageVp.width;
    int h = m->tile ? m->th : m->imageVp.height;
    Tk_ImageChanged(m->tkMaster, 0, 0, w, h, w, h);
}

int gimgRenderInstances(GimgMaster *m)
{
    int done = 0;
    for (GimgInstance *i = m->instancePtr; i; i = i->next)
        if (m->rimg && makePixmap(m, i, m->rimg, 1, &m->hdp, &m->vdp))
            done = 1;
    return done;
}

/*
 * gimgUpdateClient --
 *	Redraw notice, then re-render the pixmap for every instance.
 * Results:
 *	1.
 */
int gimgUpdateClient(GimgMaster *m)
{
    gimgRedrawDisplay(m);
    gimgRenderInstances(m);
    return 1;
}

/* True when a histogram needed by the lookup of m is missing. */
static int histogramMissing(GimgMaster *m)
{
    Hist *h = m->rimg->histograms;
    if (!h)
        return 1;
    int nb = m->rimg->info.nbands;
    if (m->layer > 0)
        return m->layer - 1 >= nb || !h[m->layer - 1].valid;
    for (int c = 0; c < 3; c++) {
        int b = m->dispBands[c];
        if (b >= 0 && (b >= nb || !h[b].valid))
            return 1;
    }
    return 0;
}

/*
 * gimgUpdateDisplay --
 *	The pixels of the shown record changed: redraw notice, lookups
 *	rebuilt when their statistics are gone, data mask rebuilt for a
 *	transparent index, every instance re-rendered.
 */
void gimgUpdateDisplay(GimgMaster *m)
{
    gimgRedrawDisplay(m);
    if (!m->rimg)
        return;
    if (m->funcInForce != GIMG_FUNC_NONE && histogramMissing(m))
        GimgCreateLookup(m, m->funcInForce, (float)m->std);
    if (m->rimg->info.transparent >= 0) {
        makeDataMask(m, m->classVisible);
        makeMaskBitmap(m);
    }
    gimgRenderInstances(m);
}

/*
 * gimgConfigBmpMask --
 *	The mask images changed: with a main image and a mask-file image the
 *	class mask and the mask bitmap are rebuilt.
 * Results:
 *	0 when a mask bitmap exists now, else 1.
 */
int gimgConfigBmpMask(GimgMaster *m)
{
    if (m->rimg && m->maskFileImg) {
        makeClassMask(m);
        makeMaskBitmap(m);
    }
    return m->maskBitmapValid ? 0 : 1;
}

/* ---- creation and deletion ----------------------------------------- */

static void freeMaster(char *clientData)
{
    std::free(clientData);
}

/*
 * gimgCreate --
 *	Tk's create procedure: a new master with its image command, GCs,
 *	transfer image and registry slot, configured from the arguments.
 * Results:
 *	TCL_OK with the master as client data, or TCL_ERROR (the partly
 *	built master destroyed).
 */
static int gimgCreate(Tcl_Interp *interp, const char *name, int objc,
                      Tcl_Obj *const objv[], const Tk_ImageType *,
                      Tk_ImageMaster master, ClientData *clientDataPtr)
{
    Tk_Window main = Tk_MainWindow(interp);
    if (!main)
        return TCL_ERROR;
    GimgMaster *m = static_cast<GimgMaster *>(std::calloc(1, sizeof *m));
    if (!m) {
        Tcl_SetResult(interp, (char *)"Memory allocation error", TCL_STATIC);
        return TCL_ERROR;
    }
    m->tkMaster = master;
    m->interp = interp;
    m->imageCmd = Tcl_CreateCommand(interp, name, gimgCmd, m,
                                    gimgCmdDeletedProc);
    std::snprintf(m->name, sizeof m->name, "%s", name);

    Tk_MakeWindowExist(main);
    m->tkwin = main;
    m->display = Tk_Display(main);
    m->colormap = Tk_Colormap(main);
    m->depth = Tk_Depth(main);
    m->visual = Tk_Visual(main);
    m->block.block = 512;
    m->block.transparent = -1;
    m->block.extraFd = -1;
    m->transparentInForce = -1;
    m->maskMode = 1;
    m->animDelay = -1;
    m->animRepeat = 1;
    m->outA = 0;
    m->outB = 255;
    m->clipXor = m->frameXor = 1;
    m->frameDynamic = 1;
    std::memset(m->classVisible, 1, sizeof m->classVisible);
    std::memset(m->maskClassTable, 1, sizeof m->maskClassTable);
    m->maskClassTable[0] = 0;
    for (int c = 0; c < 3; c++) {
        m->dispBands[c] = -1;
        for (int i = 0; i < 256; i++)
            m->lut[c][i] = (unsigned char)i;
    }

    m->fgUid = Tk_GetUid("#ffffff");
    m->bgUid = Tk_GetUid("#000000");
    m->stippleUid = Tk_GetUid("None");
    m->fgColor = Tk_GetColor(interp, main, m->fgUid);
    m->bgColor = Tk_GetColor(interp, main, m->bgUid);
    initClient(&m->client, m, configByRimgProc);
    initClient(&m->maskClient, m, configBmpMaskProc);
    initClient(&m->maskFileClient, m, configBmpMaskProc);
    dpInit(&m->hdp);
    dpInit(&m->vdp);
    vpInit(&m->maskVp, m->display);
    vpInit(&m->imageVp, m->display);
    vpInit(&m->frameVp, m->display);
    for (BitMask &mask : m->masks)
        maskInit(&mask);

    m->ximage = XCreateImage(m->display, m->visual, (unsigned)m->depth,
                             m->depth >= 2 ? ZPixmap : XYBitmap, 0, nullptr,
                             128, 128, 32, 0);

    std::vector<const char *> argv((size_t)objc + 1, nullptr);
    for (int i = 0; i < objc; i++)
        argv[(size_t)i] = Tcl_GetString(objv[i]);

    int ok = 1;
    if (!m->ximage) {
        Tcl_AddErrorInfo(interp, "\nFail to allocate ximg.");
        ok = 0;
    } else if (!m->fgColor || !m->bgColor) {
        Tcl_AddErrorInfo(interp, "\nFail to allocate fg/bg color.");
        ok = 0;
    }
    if (ok && gimgGetGC(m) != 0)
        ok = 0;
    if (ok && !gimgAdd(m)) {
        Tcl_SetResult(interp, (char *)"Fail to add the gimg.", TCL_STATIC);
        ok = 0;
    }
    if (ok && gimgConfigureMaster(m, objc, argv.data(), 0) != TCL_OK)
        ok = 0;
    if (!ok) {
        /* The command's delete callback must not delete the Tk image
         * that Tk is still creating. */
        m->tkMaster = nullptr;
        gimgDelete(m);
        return TCL_ERROR;
    }
    *clientDataPtr = m;
    return TCL_OK;
}

/* Tk's get procedure: an instance for a widget. */
static ClientData gimgGet(Tk_Window tkwin, ClientData clientData)
{
    GimgMaster *m = static_cast<GimgMaster *>(clientData);
    GimgInstance *inst =
        static_cast<GimgInstance *>(std::malloc(sizeof *inst));
    if (!inst)
        return nullptr;
    inst->master = m;
    inst->tkwin = tkwin;
    inst->next = m->instancePtr;
    m->instancePtr = inst;
    m->instanceCount++;
    return inst;
}

/* Tk's free procedure: the widget no longer shows the image. */
static void gimgFree(ClientData clientData, Display *)
{
    GimgInstance *inst = static_cast<GimgInstance *>(clientData);
    if (!inst)
        return;
    GimgMaster *m = inst->master;
    m->instanceCount--;
    for (GimgInstance **p = &m->instancePtr; *p; p = &(*p)->next)
        if (*p == inst) {
            *p = inst->next;
            break;
        }
    std::free(inst);
}

/* Closes a raster reference with its client record. */
static void closeReference(RAMImage **r, RAMImageClient *client)
{
    if (*r)
        closeRAMImage(*r, client);
    *r = nullptr;
}

/*
 * gimgDelete --
 *	Tk's delete procedure: releases everything the master holds; the
 *	master itself is freed once no command of it is running.
 */
static void gimgDelete(ClientData clientData)
{
    GimgMaster *m = static_cast<GimgMaster *>(clientData);
    if (m->instancePtr)
        stderrPrintf("tried to delete gimg image when clients still exist");
    gimgRemoveFromAnimationQueue(m);
    gimgErase(m);
    m->tkMaster = nullptr;
    FreeGimgPalette(m);
    if (m->imageCmd) {
        Tcl_Command cmd = m->imageCmd;
        m->imageCmd = nullptr;
        Tcl_DeleteCommandFromToken(m->interp, cmd);
    }
    closeReference(&m->rimg, &m->client);
    closeReference(&m->maskRimg, &m->maskClient);
    closeReference(&m->maskFileImg, &m->maskFileClient);
    Display *d = m->display;
    if (m->gc)
        XFreeGC(d, m->gc);
    if (m->maskGC)
        XFreeGC(d, m->maskGC);
    if (m->drawGC)
        XFreeGC(d, m->drawGC);
    if (m->wholeRegion)
        XDestroyRegion(m->wholeRegion);
    if (m->clipRegion)
        XDestroyRegion(m->clipRegion);
    if (m->stippleBitmap)
        Tk_FreeBitmap(d, m->stippleBitmap);
    if (m->fgColor)
        Tk_FreeColor(m->fgColor);
    if (m->bgColor)
        Tk_FreeColor(m->bgColor);
    polygDelete(m->clipPolygs);
    polygDelete(m->framePolygs);
    m->clipPolygs = m->framePolygs = nullptr;
    dpClose(&m->hdp);
    dpClose(&m->vdp);
    vpClose(&m->maskVp);
    vpClose(&m->imageVp);
    vpClose(&m->frameVp);
    for (BitMask &mask : m->masks)
        maskClose(&mask);
    if (m->ximage) {
        std::free(m->ximage->data);
        m->ximage->data = nullptr;
        XDestroyImage(m->ximage);
    }
    if (d)
        Tk_FreeOptions(gimgConfigSpecs, reinterpret_cast<char *>(m), d, 0);
    Tcl_EventuallyFree(m, freeMaster);
}

/*
 * gimgCmdDeletedProc --
 *	The image command is gone: stop animating and, while Tk still knows
 *	the image, delete it.
 */
void gimgCmdDeletedProc(ClientData clientData)
{
    GimgMaster *m = static_cast<GimgMaster *>(clientData);
    gimgRemoveFromAnimationQueue(m);
    m->imageCmd = nullptr;
    if (m->tkMaster)
        Tk_DeleteImage(m->interp, Tk_NameOfImage(m->tkMaster));
}

/* ---- display -------------------------------------------------------- */

/* Clips gc for drawing at the given origin as the mask mode says. */
static void setMaskClip(GimgMaster *m, int originX, int originY)
{
    if (m->maskMode < 1)
        return;
    if (m->maskVp.valid && m->maskVp.pixmap)
        XSetClipMask(m->display, m->gc, m->maskVp.pixmap);
    else if (m->clipRegion)
        XSetRegion(m->display, m->gc, m->clipRegion);
    else if (m->wholeRegion)
        XSetRegion(m->display, m->gc, m->wholeRegion);
    else
        return;
    XSetClipOrigin(m->display, m->gc, originX, originY);
}

/* Paints (x, y, w, h) of drawable in the background colour, through the
 * frame bitmap when it is valid (its origin at originX, originY). */
static void paintBackground(GimgMaster *m, Drawable d, int srcX, int srcY,
                            int w, int h, int x, int y, int originX,
                            int originY)
{
    XSetForeground(m->display, m->gc, m->bgColor->pixel);
    if (m->frameVp.valid && m->frameVp.pixmap) {
        XSetClipMask(m->display, m->gc, m->frameVp.pixmap);
        XSetClipOrigin(m->display, m->gc, originX, originY);
        XCopyPlane(m->display, m->frameVp.pixmap, d, m->gc, srcX, srcY,
                   (unsigned)w, (unsigned)h, x, y, 1);
    } else {
        XSetClipMask(m->display, m->gc, None);
        XFillRectangle(m->display, d, m->gc, x, y, (unsigned)w, (unsigned)h);
    }
    XSetForeground(m->display, m->gc, m->fgColor->pixel);
    XSetClipMask(m->display, m->gc, None);
    setMaskClip(m, originX, originY);
}

/* Lays the pixmap as tiles over the requested area (limited to the
 * window's size when -tile is positive). */
static void displayTiled(GimgMaster *m, Tk_Window tkwin, Drawable d,
                         int imageX, int imageY, int width, int height,
                         int drawableX, int drawableY)
{
    int tileW = m->hdp.size, tileH = m->vdp.size;
    if (m->rotate) {
        int t = tileW;
        tileW = tileH;
        tileH = t;
    }
    if (tileW < 1 || tileH < 1)
        return;
    int opaque = m->maskMode >= 1 && m->maskOpaque && m->maskVp.valid;
    if (opaque && !m->frameVp.valid) {
        XSetForeground(m->display, m->gc, m->bgColor->pixel);
        XFillRectangle(m->display, d, m->gc, drawableX, drawableY,
                       (unsigned)width, (unsigned)height);
        XSetForeground(m->display, m->gc, m->fgColor->pixel);
    }
    int offX = imageX % tileW, offY = imageY % tileH;
    int extX = offX + width, extY = offY + height;
    if (m->tile > 0 && tkwin) {
        if (extX > offX + Tk_Width(tkwin))
            extX = offX + Tk_Width(tkwin);
        if (extY > offY + Tk_Height(tkwin))
            extY = offY + Tk_Height(tkwin);
    }
    for (int ty = 0; ty < extY; ty += tileH) {
        for (int tx = 0; tx < extX; tx += tileW) {
            int srcX = 0, srcY = 0;
            int x = tx - offX, y = ty - offY;
            if (x < 0) {
                srcX = -x;
                x = 0;
            }
            if (y < 0) {
                srcY = -y;
                y = 0;
            }
            int w = (tx + tileW < extX ? tx + tileW : extX) - tx - srcX;
            int h = (ty + tileH < extY ? ty + tileH : extY) - ty - srcY;
            if (w <= 0 || h <= 0)
                continue;
            int originX = drawableX + x - srcX, originY = drawableY + y - srcY;
            setMaskClip(m, originX, originY);
            if (opaque && m->frameVp.valid)
                paintBackground(m, d, srcX, srcY, w, h, drawableX + x,
                                drawableY + y, originX, originY);
            XCopyArea(m->display, m->imageVp.pixmap, d, m->gc, srcX, srcY,
                      (unsigned)w, (unsigned)h, drawableX + x,
                      drawableY + y);
        }
    }
}

/*
 * gimgDisplay --
 *	Tk's display procedure: renders the pixmap when it is not valid,
 *	then copies the requested area (clipped by the masks, tiled with
 *	-tile) into the drawable.
 */
void gimgDisplay(ClientData clientData, Display *, Drawable drawable,
                 int imageX, int imageY, int width, int height,
                 int drawableX, int drawableY)
{
    GimgInstance *inst = static_cast<GimgInstance *>(clientData);
    GimgMaster *m = inst->master;
    if (!m->pixmapValid) {
        GimgMaster *src = m;
        if (!m->rimg)
            src = m->srcName[0] ? gimgGetByName(m->interp, m->srcName)
                                : nullptr;
        if (!src || !src->rimg)
            return;
        makePixmap(src, inst, src->rimg, 1, &m->hdp, &m->vdp);
        if (!m->pixmapValid)
            return;
    }
    gimgDraw(m, inst->tkwin, drawable, imageX, imageY, width, height,
             drawableX, drawableY);
}

/*
 * gimgDraw --
 *	Copies the area (imageX, imageY, width, height) of the rendered
 *	pixmap to (drawableX, drawableY) of a drawable as the display
 *	procedure does: clipped by the masks, over the background colour
 *	with -maskopaque, tiled with -tile (tkwin, which may be null,
 *	limits the tiles).
 */
void gimgDraw(GimgMaster *m, Tk_Window tkwin, Drawable drawable, int imageX,
              int imageY, int width, int height, int drawableX,
              int drawableY)
{
    if (!m->imageVp.pixmap || !m->gc)
        return;
    int originX = drawableX - imageX, originY = drawableY - imageY;
    if (m->tile) {
        displayTiled(m, tkwin, drawable, imageX, imageY, width, height,
                     drawableX, drawableY);
    } else {
        setMaskClip(m, originX, originY);
        if (m->maskMode >= 1 && m->maskOpaque && m->maskVp.valid)
            paintBackground(m, drawable, imageX, imageY, width, height,
                            drawableX, drawableY, originX, originY);
        XCopyArea(m->display, m->imageVp.pixmap, drawable, m->gc, imageX,
                  imageY, (unsigned)width, (unsigned)height, drawableX,
                  drawableY);
    }
    XSetClipMask(m->display, m->gc, None);
    XSetClipOrigin(m->display, m->gc, 0, 0);
}
