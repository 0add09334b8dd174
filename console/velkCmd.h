/*
 * velkCmd.h --
 *
 *	The `velk` command of an application without the console manager:
 *	the meter step, the run status that long operations poll, the list
 *	of gimg images and the package version.  The console manager, when
 *	present, supplies the full command instead.
 */
#ifndef VELK_VELKCMD_H
#define VELK_VELKCMD_H

#include <tcl.h>

/* Creates `velk` in interp unless a command of that name exists. */
int velkCmdInit(Tcl_Interp *interp);

#endif
