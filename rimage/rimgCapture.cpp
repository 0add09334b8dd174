/*
 * rimgCapture.cpp --
 *
 *	Capture of X drawables into memory records.  The rectangle is read
 *	with XGetImage and split into bands: a depth-1 picture is copied as
 *	bits; a true-colour pixel is split by the visual's channel masks
 *	into blue, green and red bytes (bands 0, 1, 2: the order of the
 *	pixel's bytes on the usual little-endian server), each channel's top
 *	eight bits or, for narrower channels, its value shifted up (a 5-6-5
 *	white is 248 252 248); pixels of indexed visuals take the colours of
 *	the colormap.  Relies on Xlib, Tk's pixmaps and error handlers, and
 *	the store.
 */
#include "rimage/rimgCapture.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include <X11/Xutil.h>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "rimage/rimgInt.h"

/* Counts X errors while an XErrorTrap is in scope (Tk's handler keeps
 * them from ending the process). */
namespace {
struct XErrorTrap {
    Tk_ErrorHandler handler;
    int errors = 0;
    explicit XErrorTrap(Display *display)
    {
        handler = Tk_CreateErrorHandler(display, -1, -1, -1, count, this);
    }
    ~XErrorTrap() { Tk_DeleteErrorHandler(handler); }
    static int count(ClientData data, XErrorEvent *)
    {
        static_cast<XErrorTrap *>(data)->errors++;
        return 0;
    }
};

/* How the pixels of an XImage become blue, green and red bytes. */
struct PixelSplit {
    unsigned long mask[3];      /* blue, green, red; all 0: indexed */
    int shift[3], width[3];
    std::vector<unsigned char> colours;     /* indexed: 3 per pixel value */
};
}

void initXImage_Bi(const XImage *image, ImageInfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->imgid = IMG_MBIL;
    info->mapid = MAP_GRID;
    info->pixel = PIXEL_1BIT;
    info->bits = 1;
    info->nbands = 1;
    info->columns = image->width;
    info->rows = image->height;
    info->block = (image->width + 7) / 8;
    info->msbf = image->bitmap_bit_order == MSBFirst;
    info->nindices = 2;
    info->palette[1][0] = info->palette[1][1] = info->palette[1][2] = 255;
    info->transparent = -1;
    info->dx = info->dy = 1.0;
    info->extraFd = -1;
}

void initXImage_RGB(const XImage *image, ImageInfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->imgid = IMG_MBIL;
    info->mapid = MAP_GRID;
    info->pixel = PIXEL_BYTE;
    info->bits = 8;
    info->nbands = 3;
    info->columns = image->width;
    info->rows = image->height;
    info->block = image->width;
    info->transparent = -1;
    info->dx = info->dy = 1.0;
    info->extraFd = -1;
}

/* The visual that pixmaps of this depth on the screen of root follow:
 * the default visual when its depth matches, else the first of that
 * depth; null when the screen has none. */
static Visual *visualOfDepth(Display *display, Window root, int depth)
{
    int screen = 0;
    for (int s = 0; s < ScreenCount(display); s++) {
        if (RootWindow(display, s) == root)
            screen = s;
    }
    if (DefaultDepth(display, screen) == depth)
        return DefaultVisual(display, screen);
    XVisualInfo want;
    want.screen = screen;
    want.depth = depth;
    int n = 0;
    XVisualInfo *found = XGetVisualInfo(display,
                                        VisualScreenMask | VisualDepthMask,
                                        &want, &n);
    Visual *v = found && n > 0 ? found[0].visual : nullptr;
    if (found)
        XFree(found);
    return v;
}

static void maskShape(unsigned long mask, int *shift, int *width)
{
    *shift = *width = 0;
    while (mask && !((mask >> *shift) & 1))
        (*shift)++;
    while ((mask >> (*shift + *width)) & 1)
        (*width)++;
}

/* Fills split for a picture of depth > 1: channel masks of the image or
 * of its visual, else the colours of the colormap. */
static void initSplit(Display *display, Window root, Colormap colormap,
                      const XImage *image, PixelSplit *split)
{
    split->mask[0] = image->blue_mask;
    split->mask[1] = image->green_mask;
    split->mask[2] = image->red_mask;
    Visual *v = nullptr;
    if (!(split->mask[0] | split->mask[1] | split->mask[2])) {
        v = visualOfDepth(display, root, image->depth);
        if (v && (v->c_class == TrueColor || v->c_class == DirectColor)) {
            split->mask[0] = v->blue_mask;
            split->mask[1] = v->green_mask;
            split->mask[2] = v->red_mask;
        }
    }
    if (split->mask[0] | split->mask[1] | split->mask[2]) {
        for (int c = 0; c < 3; c++)
            maskShape(split->mask[c], &split->shift[c], &split->width[c]);
        return;
    }
    int entries = v ? v->map_entries : 1 << (image->depth < 8 ? image->depth
                                                              : 8);
    if (entries > 65536)
        entries = 65536;
    std::vector<XColor> cells(entries);
    for (int i = 0; i < entries; i++) {
        cells[i].pixel = (unsigned long)i;
        cells[i].red = cells[i].green = cells[i].blue = 0;
    }
    if (!colormap) {
        for (int s = 0; s < ScreenCount(display); s++) {
            if (RootWindow(display, s) == root)
                colormap = DefaultColormap(display, s);
        }
    }
    {
        XErrorTrap trap(display);
        XQueryColors(display, colormap, cells.data(), entries);
    }
    split->colours.resize(3 * (size_t)entries);
    for (int i = 0; i < entries; i++) {
        split->colours[3 * i] = (unsigned char)(cells[i].blue >> 8);
        split->colours[3 * i + 1] = (unsigned char)(cells[i].green >> 8);
        split->colours[3 * i + 2] = (unsigned char)(cells[i].red >> 8);
    }
}

/* Channel c of pixel p as a byte. */
static unsigned char channelByte(const PixelSplit &s, unsigned long p, int c)
{
    unsigned long v = (p & s.mask[c]) >> s.shift[c];
    int w = s.width[c];
    return (unsigned char)(w >= 8 ? v >> (w - 8) : v << (8 - w));
}

/* Copies the picture into the record's bands. */
static void copyXImage(XImage *image, const PixelSplit &split, RAMImage *r)
{
    int w = image->width, h = image->height;
    if (image->depth == 1) {
        int bytes = (w + 7) / 8;
        for (int y = 0; y < h; y++) {
            unsigned char *line = r->getLine(r, y, 0, 0);
            std::memcpy(line, image->data + (size_t)y * image->bytes_per_line,
                        bytes);
            updateRAMImageLine(r, y, 0, w, 0);
        }
        return;
    }
    size_t entries = split.colours.size() / 3;
    for (int y = 0; y < h; y++) {
        unsigned char *band[3];
        for (int c = 0; c < 3; c++)
            band[c] = r->getLine(r, y, c, 0);
        for (int x = 0; x < w; x++) {
            unsigned long p = XGetPixel(image, x, y);
            for (int c = 0; c < 3; c++) {
                if (entries == 0)
                    band[c][x] = channelByte(split, p, c);
                else
                    band[c][x] = p < entries ? split.colours[3 * p + c] : 0;
            }
        }
        for (int c = 0; c < 3; c++)
            updateRAMImageLine(r, y, 0, w, c);
    }
}

/*
 * rimgDrawable --
 *	Captures a rectangle of a drawable into the memory record `tag`.
 * Results:
 *	The record (one more store link), or null.
 * Side effects:
 *	An existing memory record of that tag is reshaped and refilled.
 */
RAMImage *rimgDrawable(const char *tag, Display *display, Drawable drawable,
                       Colormap colormap, int x, int y, int width,
                       int height)
{
    Window root;
    int gx, gy;
    unsigned int gw, gh, border, depth;
    Status ok;
    {
        XErrorTrap trap(display);
        ok = XGetGeometry(display, drawable, &root, &gx, &gy, &gw, &gh,
                          &border, &depth);
        if (trap.errors)
            ok = 0;
    }
    if (!ok) {
        stderrPrintf("Fail to get geometry\n.");
        return nullptr;
    }
    /* Cut the rectangle to the drawable. */
    if (x < 0) {
        width += x;
        x = 0;
    }
    if (y < 0) {
        height += y;
        y = 0;
    }
    if (width > (int)gw - x)
        width = (int)gw - x;
    if (height > (int)gh - y)
        height = (int)gh - y;
    XImage *image = nullptr;
    if (width > 0 && height > 0) {
        XErrorTrap trap(display);
        image = XGetImage(display, drawable, x, y, width, height, AllPlanes,
                          ZPixmap);
        if (trap.errors && image) {
            XDestroyImage(image);
            image = nullptr;
        }
    }
    if (!image) {
        stderrPrintf("Fail to get XImage\n.");
        return nullptr;
    }
    ImageInfo info;
    PixelSplit split{};
    if (image->depth == 1) {
        initXImage_Bi(image, &info);
    } else {
        initXImage_RGB(image, &info);
        initSplit(display, root, colormap, image, &split);
    }
    std::snprintf(info.fileName, sizeof info.fileName, "%s", tag);
    RAMImage *r = openRAMImage(tag, nullptr, &info, nullptr, nullptr);
    if (r)
        copyXImage(image, split, r);
    XDestroyImage(image);
    return r;
}

/*
 * pixmapDrawable --
 *	Copies a rectangle of a drawable into a new pixmap of its depth.
 * Results:
 *	The pixmap (free it with Tk_FreePixmap), or 0.
 */
Pixmap pixmapDrawable(Display *display, Drawable drawable, Colormap,
                      int x, int y, int width, int height)
{
    if (width < 1 || height < 1 || width > 32767 || height > 32767)
        return 0;
    Window root;
    int gx, gy;
    unsigned int gw, gh, border, depth;
    XErrorTrap trap(display);
    if (!XGetGeometry(display, drawable, &root, &gx, &gy, &gw, &gh, &border,
                      &depth) || trap.errors)
        return 0;
    Pixmap p = Tk_GetPixmap(display, drawable, width, height, (int)depth);
    XGCValues values;
    values.foreground = 0;
    values.subwindow_mode = IncludeInferiors;
    values.graphics_exposures = False;
    GC gc = XCreateGC(display, p,
                      GCForeground | GCSubwindowMode | GCGraphicsExposures,
                      &values);
    /* What lies outside the drawable is not copied: it stays black. */
    XFillRectangle(display, p, gc, 0, 0, width, height);
    XCopyArea(display, drawable, p, gc, x, y, width, height, 0, 0);
    XFreeGC(display, gc);
    XSync(display, False);
    if (trap.errors) {
        Tk_FreePixmap(display, p);
        return 0;
    }
    return p;
}

/*
 * rimgCaptureToTag --
 *	Captures a rectangle into the record `tag` and sets the result.
 * Results:
 *	TCL_OK with the tag, or TCL_ERROR with failMessage.
 * Side effects:
 *	A new record stays in the store with one script open; an existing
 *	one keeps its counts and its clients are told.
 */
int rimgCaptureToTag(Tcl_Interp *interp, const char *tag, Display *display,
                     Drawable drawable, Colormap colormap, int x, int y,
                     int width, int height, const char *failMessage)
{
    RAMImage *old = getRAMImageByTag(tag);
    RAMImage *r = rimgDrawable(tag, display, drawable, colormap, x, y,
                               width, height);
    if (!r)
        return rimgError(interp, failMessage);
    if (r->links > 0)
        r->links--;
    if (r == old)
        updateClient(r, nullptr, 3);
    else
        r->opens++;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(r->tag, -1));
    return TCL_OK;
}

ClientData getTclCmdClient(Tcl_Interp *interp, const char *name)
{
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, name, &info))
        return nullptr;
    return info.isNativeObjectProc ? info.objClientData : info.clientData;
}
