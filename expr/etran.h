/*
 * etran.h --
 *
 *	The expression evaluator command `etran`.  Not built yet: the
 *	initialiser registers nothing.
 */
#ifndef VELK_ETRAN_H
#define VELK_ETRAN_H

#include <tcl.h>

int Etran_Init(Tcl_Interp *interp);

#endif
