/*
 * rimgObj.h --
 *
 *	Raster objects: `rimage bind` makes a Tcl command bound to a raster
 *	of the store, through which a script changes the raster's pixels in
 *	place with the operators of rimgOps.h.  The object keeps a region of
 *	interest (a destination window and a source origin) and a band map
 *	(destination and source bands in pairs) and follows the raster's
 *	reshaping as one of its clients.
 */
#ifndef VELK_RIMGOBJ_H
#define VELK_RIMGOBJ_H

#include <tcl.h>

#include "core/ramimg.h"
#include "rimage/rimgInt.h"

/* One object; owned by its command, freed when the command is deleted. */
struct RimgObj {
    RAMImage *raster;       /* the bound raster; its client holds it */
    RAMImageClient client;  /* configure callback rimgObjConfigurate */
    int columns, rows, bands;   /* the raster's geometry as last seen */
    int desx, desy;         /* destination window origin, 0-based */
    int width, height;      /* window size */
    int srcx, srcy;         /* source origin in an operand raster */
    int pairs;              /* band pairs in the map */
    int maxSrcBand;         /* largest source band of the map */
    int *srcBands;          /* 1-based, `bands` entries allocated */
    int *desBands;          /* 1-based, as many */
    Tcl_Interp *interp;
    Tcl_Command token;      /* the object's command */
};

/* rimage bind -file FILE ?-obj objName? ?-roi ROI? ?-bands bands? */
RimgSubCmdProc rimgBind;

/* The client configure callback: takes the raster's new geometry, keeps
 * the window inside it and the band map within its bands.  Also run when
 * an object is bound. */
void rimgObjConfigurate(void *object);

/* The command delete procedure: releases the raster and the object. */
void rimgObjDelProc(ClientData object);

#endif
