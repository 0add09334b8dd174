/*
 * rimgClipboard.cpp --
 *
 *	The in-process clipboard: one pixmap at screen depth, kept in the
 *	display's shared pixmap (velkDisplay.h) until replaced, emptied or
 *	freed at exit; and `rimage clipboard`, which reports its size,
 *	empties it, cuts it to a rectangle or captures a rectangle of it
 *	into a record.  The clipboard is not shared with other applications.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/stdstream.h"
#include "core/velkDisplay.h"
#include "rimage/rimgCapture.h"
#include "rimage/rimgInt.h"

/*
 * putDrawableClipboard --
 *	Replaces the clipboard by a copy of a rectangle of a drawable; a
 *	drawable of None empties it.
 * Results:
 *	0, or 1 when the copy failed (the clipboard is then unchanged).
 */
int putDrawableClipboard(Display *display, Drawable drawable, int x, int y,
                         int width, int height)
{
    if (drawable == None) {
        delGimgPixmap();
        return 0;
    }
    Pixmap p = pixmapDrawable(display, drawable, 0, x, y, width, height);
    if (!p)
        return 1;
    Pixmap old = setGimgPixmap(p);
    if (old)
        Tk_FreePixmap(display, old);
    return 0;
}

int getClipboardBitmapInfo(Display **display, int *width, int *height)
{
    Pixmap p = gimgPixmap();
    Display *d = gimgDisp();
    if (!p || !d)
        return 0;
    Window root;
    int x, y;
    unsigned int w, h, border, depth;
    if (!XGetGeometry(d, p, &root, &x, &y, &w, &h, &border, &depth))
        return 0;
    *display = d;
    *width = (int)w;
    *height = (int)h;
    return 1;
}

Pixmap copyClipboard(Display **display, int *width, int *height)
{
    if (!getClipboardBitmapInfo(display, width, height))
        return 0;
    return pixmapDrawable(*display, gimgPixmap(), 0, 0, 0, *width, *height);
}

/*
 * colorMapClipboard --
 *	A colormap with the colours of the main window's first 256 cells:
 *	on visuals with writable cells a copy cell for cell, on others the
 *	colours allocated in order.
 * Results:
 *	The colormap (free it with XFreeColormap), or 0.
 */
Colormap colorMapClipboard(void)
{
    Display *d = gimgDisp();
    if (!d || !scrnPtr)
        return 0;
    Visual *v = DefaultVisualOfScreen(scrnPtr);
    int n = v->map_entries < 256 ? v->map_entries : 256;
    std::vector<XColor> cells(n);
    for (int i = 0; i < n; i++) {
        cells[i].pixel = (unsigned long)i;
        cells[i].flags = DoRed | DoGreen | DoBlue;
    }
    XQueryColors(d, gimgColormap(), cells.data(), n);
    Window root = RootWindowOfScreen(scrnPtr);
    /* GrayScale, PseudoColor and DirectColor have odd class numbers. */
    if (v->c_class & 1) {
        Colormap c = XCreateColormap(d, root, v, AllocAll);
        XStoreColors(d, c, cells.data(), n);
        return c;
    }
    Colormap c = XCreateColormap(d, root, v, AllocNone);
    for (int i = 0; i < n; i++) {
        if (!XAllocColor(d, c, &cells[i]))
            stderrPrintf("fail XAllocColor at: %d\n", i);
    }
    return c;
}

/* Reads the optional "x y width height" words (missing ones default to
 * the clipboard's rectangle); 0 when a word is no integer. */
static int clipboardRange(int argc, const char **argv, int *range)
{
    for (int i = 0; i < argc; i++) {
        char *end;
        long v = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end || v < -2147483647L || v > 2147483647L)
            return 0;
        range[i] = (int)v;
    }
    return 1;
}

/*
 * rimgCaptureClipboard --
 *	rimage clipboard ?|~|rimgTag|clipboard ?x y width height?
 * Results:
 *	"?": "width height" (empty when empty); a tag: the tag.
 * Side effects:
 *	"~" empties the clipboard, "clipboard" cuts it to the rectangle, a
 *	tag makes or refreshes a record from the rectangle.
 */
int rimgCaptureClipboard(ImageInfo *, Tcl_Interp *interp, int argc,
                         const char **argv)
{
    if (argc < 3) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1],
                         " rimgTag [x y width height]", nullptr);
        return TCL_OK;
    }
    if (argc > 7)
        return rimgUsage(interp, argv, " rimgTag [x y width height]",
                         TCL_ERROR);
    const char *option = argv[2];
    Display *display = gimgDisp();
    int cw = 0, ch = 0;
    int have = getClipboardBitmapInfo(&display, &cw, &ch);
    if (std::strcmp(option, "?") == 0) {
        Tcl_ResetResult(interp);
        if (have) {
            char text[64];
            std::snprintf(text, sizeof text, "%d %d", cw, ch);
            Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
        }
        return TCL_OK;
    }
    if (std::strcmp(option, "~") == 0) {
        putDrawableClipboard(display, None, 0, 0, 0, 0);
        Tcl_ResetResult(interp);
        return TCL_OK;
    }
    if (!have)
        return rimgError(interp, "Failed to get image from clipboard.\n");
    int range[4] = {0, 0, cw, ch};
    if (!clipboardRange(argc - 3, argv + 3, range)
            || range[0] < 0 || range[1] < 0 || range[2] < 1 || range[3] < 1
            || range[2] > cw - range[0] || range[3] > ch - range[1])
        return rimgError(interp, "Invalid bitmap range");
    Pixmap copy = copyClipboard(&display, &cw, &ch);
    if (!copy) {
        stderrPrintf("Error in copyClipboard\n");
        Tcl_ResetResult(interp);
        return TCL_ERROR;
    }
    Colormap colormap = colorMapClipboard();
    int rc;
    if (std::strcmp(option, "clipboard") == 0) {
        rc = TCL_OK;
        if (putDrawableClipboard(display, copy, range[0], range[1], range[2],
                                 range[3])) {
            stderrPrintf("error in get pixmap.\n");
            rc = TCL_ERROR;
        }
        Tcl_ResetResult(interp);
        if (rc == TCL_OK)
            Tcl_SetObjResult(interp, Tcl_NewStringObj(option, -1));
    } else {
        rc = rimgCaptureToTag(interp, option, display, copy, colormap,
                              range[0], range[1], range[2], range[3],
                              "Error in rimgDrawable...\n");
    }
    if (colormap)
        XFreeColormap(display, colormap);
    Tk_FreePixmap(display, copy);
    return rc;
}
