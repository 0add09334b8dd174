/*
 * rimgWindow.cpp --
 *
 *	Window geometry and screen capture: `rimage window` reports where a
 *	Tk window is (its own rectangle, in root coordinates, cut to the
 *	virtual root, or the window manager frame of a toplevel), or
 *	captures an area of the screen into a record or the clipboard.
 *	Relies on Tk's window records and the capture functions.
 */
#include <cstdio>
#include <cstring>

#include "core/ramimg.h"
#include "core/velk.h"
#include "rimage/rimgCapture.h"
#include "rimage/rimgInt.h"

static const char windowTail[] = " rimgTag [x0 y0 width height]";

/* Sets message as the result and adds it to the error information. */
static int geometryError(Tcl_Interp *interp, const char *message)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
    Tcl_AddErrorInfo(interp, message);
    return TCL_ERROR;
}

Tk_Window rimgMainWindow(Tcl_Interp *interp)
{
    if (!velkHaveTk() || !Tcl_PkgPresent(interp, "Tk", nullptr, 0)) {
        Tcl_ResetResult(interp);
        return nullptr;
    }
    return Tk_MainWindow(interp);
}

Tk_Window rimgNamedWindow(Tcl_Interp *interp, const char *path)
{
    Tk_Window main = rimgMainWindow(interp);
    if (!main || path[0] != '.')
        return nullptr;
    Tk_Window w = Tk_NameToWindow(interp, path, main);
    if (!w)
        Tcl_ResetResult(interp);
    return w;
}

/* The frame the window manager put around toplevel w: the ancestor of
 * its X window that is a child of the root.  0 when not found. */
static int wmFrame(Tk_Window w, int *x, int *y, int *width, int *height)
{
    Display *d = Tk_Display(w);
    Window win = Tk_WindowId(w);
    for (;;) {
        Window root, parent, *children = nullptr;
        unsigned int n;
        if (!XQueryTree(d, win, &root, &parent, &children, &n))
            return 0;
        if (children)
            XFree(children);
        if (parent == root || parent == None)
            break;
        win = parent;
    }
    Window root;
    unsigned int gw, gh, border, depth;
    if (!XGetGeometry(d, win, &root, x, y, &gw, &gh, &border, &depth))
        return 0;
    *width = (int)(gw + 2 * border);
    *height = (int)(gh + 2 * border);
    return 1;
}

/*
 * winGeometry --
 *	The rectangle of window `path`: its size at 0 0; with WIN_GEOM_FRAME
 *	(toplevels only) the window manager frame in root coordinates; with
 *	WIN_GEOM_RECT in root coordinates; with WIN_GEOM_CLIP cut to the
 *	virtual root.
 * Results:
 *	TCL_OK, or TCL_ERROR with the message in result and error
 *	information.
 */
int winGeometry(Tcl_Interp *interp, const char *path, int *x, int *y,
                int *width, int *height, int flags)
{
    Tk_Window w = rimgNamedWindow(interp, path);
    if (!w)
        return geometryError(interp, "Invalid window path.\n");
    if (!Tk_IsMapped(w))
        return geometryError(interp, "Window is not mapped.\n");
    *x = *y = 0;
    *width = Tk_Width(w);
    *height = Tk_Height(w);
    if ((flags & WIN_GEOM_FRAME) && Tk_IsTopLevel(w)
            && wmFrame(w, x, y, width, height)) {
        /* already in root coordinates */
    } else if (flags & WIN_GEOM_RECT) {
        Tk_GetRootCoords(w, x, y);
    }
    if (flags & WIN_GEOM_CLIP) {
        int vx, vy, vw, vh;
        Tk_GetVRootGeometry(w, &vx, &vy, &vw, &vh);
        if (*x < 0) {
            *width += *x;
            *x = 0;
        }
        if (*y < 0) {
            *height += *y;
            *y = 0;
        }
        if (*width > vw - *x)
            *width = vw - *x;
        if (*height > vh - *y)
            *height = vh - *y;
        if (*width < 0)
            *width = 0;
        if (*height < 0)
            *height = 0;
    }
    return TCL_OK;
}

/* Reads option words "frame", "rect", "clip" separated by commas,
 * blanks or "|" into flags; 0 on another word. */
static int geometryFlags(const char *text, int *flags)
{
    *flags = 0;
    const char *p = text;
    while (*p) {
        size_t n = std::strcspn(p, ", \t\n|");
        if (n == 5 && std::strncmp(p, "frame", 5) == 0)
            *flags |= WIN_GEOM_FRAME;
        else if (n == 4 && std::strncmp(p, "rect", 4) == 0)
            *flags |= WIN_GEOM_RECT;
        else if (n == 4 && std::strncmp(p, "clip", 4) == 0)
            *flags |= WIN_GEOM_CLIP;
        else if (n > 0)
            return 0;
        p += n;
        if (*p)
            p++;
    }
    return 1;
}

/*
 * rimgGeometry --
 *	argv[2] a window path, argv[3] optional option words (default
 *	"rect").
 * Results:
 *	"x y width height"; the usage (success) for other word counts.
 */
int rimgGeometry(Tcl_Interp *interp, int argc, const char **argv)
{
    Tcl_ResetResult(interp);
    if (argc < 3 || argc > 4) {
        Tcl_AppendResult(interp, argv[0], " ", argc > 1 ? argv[1] : "",
                         " winID ?option?\n", nullptr);
        return TCL_OK;
    }
    int flags = WIN_GEOM_RECT;
    if (argc == 4 && !geometryFlags(argv[3], &flags))
        return rimgError(interp, "Invalide option.\n");
    int x, y, w, h;
    if (winGeometry(interp, argv[2], &x, &y, &w, &h, flags) != TCL_OK)
        return TCL_ERROR;
    char text[64];
    std::snprintf(text, sizeof text, "%d %d %d %d", x, y, w, h);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
    return TCL_OK;
}

/* Reads "x y width height"; 0 unless exactly four integers. */
static int parseRegion(const char *text, int *region)
{
    int n;
    const char **words;
    if (Tcl_SplitList(nullptr, text, &n, &words) != TCL_OK)
        return 0;
    int ok = n == 4;
    for (int i = 0; ok && i < 4; i++)
        ok = Tcl_GetInt(nullptr, words[i], &region[i]) == TCL_OK;
    Tcl_Free(reinterpret_cast<char *>(words));
    return ok;
}

/*
 * rimgCaptureWindow --
 *	rimage window windowPath ?options?, or rimage window
 *	rimgTag|clipboard ?region|windowPath?
 * Results:
 *	A window's geometry, or the tag.
 * Side effects:
 *	The area of the screen is captured into the record or the
 *	clipboard.
 */
int rimgCaptureWindow(ImageInfo *, Tcl_Interp *interp, int argc,
                      const char **argv)
{
    if (argc < 3 || argc > 4)
        return rimgUsage(interp, argv, windowTail, TCL_ERROR);
    const char *tag = argv[2];
    if (rimgNamedWindow(interp, tag))
        return rimgGeometry(interp, argc, argv);
    Tk_Window main = rimgMainWindow(interp);
    if (!main)
        return rimgError(interp, "No display: rimage window needs Tk.");
    int isClipboard = std::strcmp(tag, "clipboard") == 0;
    if (!isClipboard) {
        if (RAMImage *r = getRAMImageByTag(tag)) {
            if (r->fd != -1)
                return rimgError(interp, "rimage must be memory resident");
            if (r->attributes & RAMIMG_LOCKED)
                return rimgError(interp, "can't update a system rimage");
        }
    }
    int vx, vy, vw, vh;
    Tk_GetVRootGeometry(main, &vx, &vy, &vw, &vh);
    int area[4] = {0, 0, vw, vh};
    if (argc == 4) {
        if (rimgNamedWindow(interp, argv[3])) {
            if (winGeometry(interp, argv[3], &area[0], &area[1], &area[2],
                            &area[3],
                            WIN_GEOM_FRAME | WIN_GEOM_RECT | WIN_GEOM_CLIP)
                    != TCL_OK)
                return TCL_ERROR;
        } else if (!parseRegion(argv[3], area)) {
            return rimgError(interp, "Invalid region.");
        }
    }
    if (area[0] < 0 || area[1] < 0 || area[2] < 1 || area[3] < 1
            || area[2] > vw - area[0] || area[3] > vh - area[1])
        return rimgError(interp, "Window is out of limits.\n");
    Display *display = Tk_Display(main);
    Window root = RootWindowOfScreen(Tk_Screen(main));
    if (isClipboard) {
        if (putDrawableClipboard(display, root, area[0], area[1], area[2],
                                 area[3]))
            return rimgError(interp, "error in get pixmap.\n");
        Tcl_SetObjResult(interp, Tcl_NewStringObj(tag, -1));
        return TCL_OK;
    }
    return rimgCaptureToTag(interp, tag, display, root, Tk_Colormap(main),
                            area[0], area[1], area[2], area[3],
                            "Error in rimgDrawable...\n");
}
