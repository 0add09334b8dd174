/*
 * tiffCmd.cpp --
 *
 *	The tiff command.  Not built yet: nothing is registered.
 */
#include "formats/tiff.h"

int Tiff_Init(Tcl_Interp *) { return 0; }
void tiffFreeTagNames(void) {}
