/*
 * rimg.h --
 *
 *	The `rimage` command: the scripting face of the raster store and the
 *	dispatcher of the analysis modules.
 */
#ifndef VELK_RIMG_H
#define VELK_RIMG_H

#include <tcl.h>

int Rimg_Init(Tcl_Interp *interp);

#endif
