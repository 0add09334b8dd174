/*
 * rimgCmd.cpp --
 *
 *	The rimage command.  Not built yet: nothing is registered.
 */
#include "rimage/rimg.h"

int Rimg_Init(Tcl_Interp *) { return 0; }
