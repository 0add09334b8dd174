/*
 * comb.cpp --
 *
 *	Start-up of the composite-widget commands.  The widgets are not built
 *	yet, so nothing is registered.
 */
#include "comb.h"

int Comb_Init(Tcl_Interp *)
{
    return 0;
}
