/*
 * rimgCapture.h --
 *
 *	Capture of X drawables (windows, pixmaps, the screen) into memory
 *	records of the store, copies of drawables into pixmaps, the
 *	in-process clipboard that holds one pixmap, and window geometry.
 *	The `rimage` subcommands canvas, window and clipboard are built on
 *	these, and so is the gimg image command's capture.
 */
#ifndef VELK_RIMGCAPTURE_H
#define VELK_RIMGCAPTURE_H

#include <tk.h>
#include <X11/Xlib.h>

struct ImageInfo;
struct RAMImage;

/* Descriptions of a captured picture (memory type MBIL, tag and file
 * name to be set by the caller): a depth-1 image gives one 1BIT band in
 * the image's bit order with a black and white colour table, any other
 * depth three BYTE bands (blue, green, red). */
void initXImage_Bi(const XImage *image, ImageInfo *info);
void initXImage_RGB(const XImage *image, ImageInfo *info);

/* Captures the rectangle (cut to the drawable) into the memory record
 * tagged `tag`, made or reshaped; pixel values of indexed visuals are
 * taken through colormap.  Results: the record with one more store link,
 * or null ("Fail to get geometry\n." or "Fail to get XImage\n." on
 * standard error, or the store refused the tag). */
RAMImage *rimgDrawable(const char *tag, Display *display, Drawable drawable,
                       Colormap colormap, int x, int y, int width,
                       int height);

/* A new pixmap (Tk_GetPixmap) of the drawable's depth holding a copy of
 * the rectangle (parts outside the drawable black); 0 on failure. */
Pixmap pixmapDrawable(Display *display, Drawable drawable, Colormap colormap,
                      int x, int y, int width, int height);

/* The capture into a tag as a command ends it: a record that was in the
 * store gives up the capture's link and its clients are told (geometry
 * and pixels); a new record turns the link into a script open.  The
 * result is the tag; failMessage is the result of a failed capture. */
int rimgCaptureToTag(Tcl_Interp *interp, const char *tag, Display *display,
                     Drawable drawable, Colormap colormap, int x, int y,
                     int width, int height, const char *failMessage);

/* The clipboard: one pixmap at screen depth, kept in the display's
 * shared pixmap.  putDrawableClipboard replaces it by a copy of the
 * rectangle (a drawable of None empties it); 0 on success, 1 when the
 * copy failed (the clipboard is then unchanged). */
int putDrawableClipboard(Display *display, Drawable drawable, int x, int y,
                         int width, int height);
/* 1 when the clipboard holds a pixmap, with its display and size. */
int getClipboardBitmapInfo(Display **display, int *width, int *height);
/* A new pixmap copy of the clipboard with its size, or 0. */
Pixmap copyClipboard(Display **display, int *width, int *height);
/* A new colormap holding the colours of the first 256 entries of the
 * main window's colormap ("fail XAllocColor at: %d\n" on standard error
 * for a colour that cannot be had); 0 without a display. */
Colormap colorMapClipboard(void);

/* winGeometry flags. */
enum {
    WIN_GEOM_FRAME = 1,     /* a toplevel's window manager frame */
    WIN_GEOM_RECT = 2,      /* root coordinates */
    WIN_GEOM_CLIP = 8       /* cut to the virtual root */
};

/* The geometry of window `path` under the flags.  TCL_OK, or TCL_ERROR
 * with "Invalid window path.\n" or "Window is not mapped.\n" as result
 * and in the error information. */
int winGeometry(Tcl_Interp *interp, const char *path, int *x, int *y,
                int *width, int *height, int flags);
/* argv[0] command, argv[1] subcommand, argv[2] window, argv[3] options:
 * the result "x y width height". */
int rimgGeometry(Tcl_Interp *interp, int argc, const char **argv);

/* The main window of interp, or null when it has no Tk. */
Tk_Window rimgMainWindow(Tcl_Interp *interp);
/* The Tk window a path ("." first) names, or null (result reset). */
Tk_Window rimgNamedWindow(Tcl_Interp *interp, const char *path);

/* The client data of Tcl command `name` (the object client data of an
 * object command), or null when there is no such command. */
ClientData getTclCmdClient(Tcl_Interp *interp, const char *name);

#endif
