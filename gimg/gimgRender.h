/*
 * gimgRender.h --
 *
 *	Rendering of a gimg image: the visible window of its raster record,
 *	through the display ports and function tables, into the pixmap of
 *	its image view port (gimgRender.cpp; the row stages are gimgRow.h).
 */
#ifndef VELK_GIMGRENDER_H
#define VELK_GIMGRENDER_H

#include <tk.h>

#include "gimg/gimgInt.h"

/* Builds the pixmap of inst's master (m when inst is null) from record r
 * through the ports, with m's tables (toPixmap 1: into the image view
 * port's pixmap, 0: into inst's window).  Sets the displaying master's
 * pixmap-valid flag and builds the mask bitmaps.  Returns the drawable,
 * or 0 with a message on standard error. */
Drawable makePixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                    int toPixmap, DisplayPort *hdp, DisplayPort *vdp);
/* The builds by pixel size: true colour, palette, dithered palette. */
Drawable make24BitPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                         int toPixmap, DisplayPort *hdp, DisplayPort *vdp);
Drawable make16BitPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                         int toPixmap, DisplayPort *hdp, DisplayPort *vdp);
Drawable make8BitPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                        int toPixmap, DisplayPort *hdp, DisplayPort *vdp);
Drawable dither8BitPixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                          int toPixmap, DisplayPort *hdp, DisplayPort *vdp);

/* Time spent since the last reset (benchmarks): computing and
 * assembling strips, and putting them to the server. */
struct GimgRenderTimes {
    double compute = 0;     /* seconds reading, looking up, packing */
    double transfer = 0;    /* seconds in puts and waits for the server */
    int builds = 0;
    int puts = 0;
};
GimgRenderTimes gimgRenderTimes(int reset);

#endif
