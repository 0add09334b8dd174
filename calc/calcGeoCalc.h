/*
 * calcGeoCalc.h --
 *
 *	The `geocalc` subcommand of `calc`: GCP polynomial fits from a Tcl
 *	list, or the interactive GCP dialogue.
 */
#ifndef VELK_CALCGEOCALC_H
#define VELK_CALCGEOCALC_H

#include <tcl.h>

/* calc geocalc ...: argv[0] and argv[1] are the command and subcommand. */
int tclGeoCalc(Tcl_Interp *interp, int argc, const char **argv);

#endif
