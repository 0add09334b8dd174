/*
 * etran.h --
 *
 *	The `etran` command: read-out and test drivers of the expression
 *	parser (etranToken.h, etranParse.h, etranEval.h).
 */
#ifndef VELK_ETRAN_H
#define VELK_ETRAN_H

#include <tcl.h>

/* Creates the etran command; 0 on success, 1 when it cannot be created. */
int Etran_Init(Tcl_Interp *interp);

#endif
