/*
 * gimg.h --
 *
 *	The gimg Tk image type and the global `gimg` command: what the
 *	package entry and its exit handler call.
 */
#ifndef VELK_GIMG_H
#define VELK_GIMG_H

#include <tcl.h>

/* Registers the image type (with Tk) and allocates the registry, once;
 * returns 0. */
int Gimg_Init(void);
/* Deletes every gimg image (exit handler). */
void gimgDeleteAll(void);

/* The global gimg command and its delete callback. */
int velkGimgCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                const char **argv);
void gimgCmdDeleteProc(ClientData clientData);

#endif
