/*
 * comb.h --
 *
 *	The composite-widget commands (names beginning with "comb.").  Not
 *	built yet: the initialiser registers nothing.
 */
#ifndef VELK_COMB_H
#define VELK_COMB_H

#include <tcl.h>

int Comb_Init(Tcl_Interp *interp);

#endif
