/*
 * calc.h --
 *
 *	The `calc` utility command: numeric utilities, diagnostics and the
 *	loader of compressed script libraries.
 */
#ifndef VELK_CALC_H
#define VELK_CALC_H

#include <tcl.h>

int Calc_Init(Tcl_Interp *interp);

#endif
