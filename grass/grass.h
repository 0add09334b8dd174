/*
 * grass.h --
 *
 *	The GIS display-driver emulation (`grass`).  Not built yet: the
 *	initialiser registers nothing.
 */
#ifndef VELK_GRASS_H
#define VELK_GRASS_H

#include <tcl.h>

int Grass_Init(Tcl_Interp *interp);

#endif
