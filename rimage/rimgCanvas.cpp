/*
 * rimgCanvas.cpp --
 *
 *	`rimage canvas`: renders the items of a canvas widget that meet a
 *	rectangle of canvas coordinates into a pixmap, as the canvas draws
 *	itself (background from its pixmap GC, then every visible item by
 *	its type's display procedure, the drawable origin at the
 *	rectangle's corner), and captures the pixmap into a record or the
 *	clipboard.  The rectangle need not be visible on the screen.
 *	Reaches into the canvas widget's record through Tk's private
 *	tkCanvas.h (Tk 8.6); embedded windows are separate X windows and
 *	are not drawn.
 */
#include <cstdio>
#include <cstring>

/* The canvas record's layout; its few private functions are not used. */
#ifndef MODULE_SCOPE
#define MODULE_SCOPE extern
#endif
#include <tk-private/generic/tkCanvas.h>

#include "rimage/rimgCapture.h"
#include "rimage/rimgInt.h"

static const char canvasTail[] = " canvasId rimgTag x0 y0 width height.\n";

/* Margin right and below the rectangle, so items drawn past its edges
 * stay inside the pixmap. */
enum { CANVAS_MARGIN = 30 };

/* True when the canvas shows the item. */
static int itemVisible(const TkCanvas *c, const Tk_Item *item)
{
    if (item->state == TK_STATE_HIDDEN)
        return 0;
    if (item->state == TK_STATE_NULL && c->canvas_state == TK_STATE_HIDDEN)
        return 0;
    return std::strcmp(item->typePtr->name, "window") != 0;
}

/* Draws the items meeting the rectangle into pixmap p, whose corner is
 * the canvas point (x0, y0). */
static void drawItems(TkCanvas *c, Pixmap p, int x0, int y0, int width,
                      int height)
{
    int savedX = c->drawableXOrigin, savedY = c->drawableYOrigin;
    c->drawableXOrigin = x0;
    c->drawableYOrigin = y0;
    for (Tk_Item *item = c->firstItemPtr; item; item = item->nextPtr) {
        if (item->x1 >= x0 + width || item->y1 >= y0 + height
                || item->x2 < x0 || item->y2 < y0 || !itemVisible(c, item))
            continue;
        item->typePtr->displayProc(reinterpret_cast<Tk_Canvas>(c), item,
                                   c->display, p, x0, y0, width, height);
    }
    c->drawableXOrigin = savedX;
    c->drawableYOrigin = savedY;
}

/*
 * rimgCaptureCanvas --
 *	rimage canvas canvasPath rimgTag|clipboard ?x0 y0 width height?
 * Results:
 *	The tag.
 * Side effects:
 *	The record is made or refreshed, or the clipboard replaced.
 */
int rimgCaptureCanvas(ImageInfo *, Tcl_Interp *interp, int argc,
                      const char **argv)
{
    if (argc < 4 || argc > 8)
        return rimgUsage(interp, argv, canvasTail, TCL_ERROR);
    Tk_Window w = rimgNamedWindow(interp, argv[2]);
    if (!w || !Tk_Class(w) || std::strcmp(Tk_Class(w), "Canvas") != 0)
        return rimgError(interp, "Not a Canvas widget.");
    TkCanvas *c = static_cast<TkCanvas *>(
        getTclCmdClient(interp, Tk_PathName(w)));
    if (!c || c->tkwin != w)
        return rimgError(interp, "Error in get command info.\n");
    int rect[4] = {0, 0, Tk_Width(w), Tk_Height(w)};
    for (int i = 0; i < argc - 4; i++) {
        if (Tcl_GetInt(interp, argv[4 + i], &rect[i]) != TCL_OK)
            return TCL_ERROR;
    }
    int x0 = rect[0], y0 = rect[1], width = rect[2], height = rect[3];
    if (width < 1 || height < 1 || width > 32767 - CANVAS_MARGIN
            || height > 32767 - CANVAS_MARGIN) {
        char text[100];
        std::snprintf(text, sizeof text,
                      "Error in create pixmap: width %d height %d\n", width,
                      height);
        return rimgError(interp, text);
    }
    if (!c->pixmapGC)
        return rimgError(interp, "No pixmapGC");
    Tk_MakeWindowExist(w);
    Display *display = Tk_Display(w);
    Pixmap p = Tk_GetPixmap(display, Tk_WindowId(w), width + CANVAS_MARGIN,
                            height + CANVAS_MARGIN, Tk_Depth(w));
    XFillRectangle(display, p, c->pixmapGC, 0, 0, width + CANVAS_MARGIN,
                   height + CANVAS_MARGIN);
    drawItems(c, p, x0, y0, width, height);
    const char *tag = argv[3];
    int rc;
    if (std::strcmp(tag, "clipboard") == 0) {
        if (putDrawableClipboard(display, p, 0, 0, width, height)) {
            rc = rimgError(interp, "error in get pixmap.\n");
        } else {
            Tcl_SetObjResult(interp, Tcl_NewStringObj(tag, -1));
            rc = TCL_OK;
        }
    } else {
        rc = rimgCaptureToTag(interp, tag, display, p, Tk_Colormap(w), 0, 0,
                              width, height, "Error in rimgDrawable...\n");
    }
    Tk_FreePixmap(display, p);
    return rc;
}
