/*
 * grass.cpp --
 *
 *	Start-up of the GIS display-driver emulation.  The emulation is not
 *	built yet, so nothing is registered.
 */
#include "grass.h"

int Grass_Init(Tcl_Interp *)
{
    return 0;
}
