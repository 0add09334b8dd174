/*
 * gimgRender.h --
 *
 *	Rendering of a gimg image: the visible window of its raster record,
 *	through the display ports and function tables, into the pixmap of
 *	its image view port.
 */
#ifndef VELK_GIMGRENDER_H
#define VELK_GIMGRENDER_H

#include <tk.h>

#include "gimg/gimgInt.h"

/* Builds the pixmap of inst's master from record r through the ports
 * (toPixmap 1: into the image view port's pixmap).  Sets the displaying
 * master's pixmap-valid flag.  Returns the drawable, or 0 on failure. */
Drawable makePixmap(GimgMaster *m, GimgInstance *inst, RAMImage *r,
                    int toPixmap, DisplayPort *hdp, DisplayPort *vdp);

#endif
