/*
 * rimgInt.h --
 *
 *	Shared inside the rimage command: the core subcommand procedures the
 *	dispatcher calls, and small helpers of their files.  Every procedure
 *	takes the command's default description, the interpreter and all
 *	words of the command (argv[0] the command word, argv[1] the
 *	subcommand word as typed).
 */
#ifndef VELK_RIMGINT_H
#define VELK_RIMGINT_H

#include <tcl.h>

struct ImageInfo;
struct RAMImage;

typedef int (RimgSubCmdProc)(ImageInfo *defaults, Tcl_Interp *interp,
                             int argc, const char **argv);

/* rimgOpen.cpp */
RimgSubCmdProc rimgOpen, rimgClose, rimgList;
/* rimgConfig.cpp */
RimgSubCmdProc rimgConfigure, rimgCget, rimgCreate;
/* rimgCache.cpp */
RimgSubCmdProc rimgCache, rimgHist, rimgVolume, rimgUpdate;
/* rimgIndices.cpp */
RimgSubCmdProc rimgGetIndices, rimgSetIndices;
/* rimgAttr.cpp */
RimgSubCmdProc rimgLock, rimgUnlock, rimgResident, rimgIsvalid;
/* rimgCanvas.cpp, rimgWindow.cpp, rimgClipboard.cpp */
RimgSubCmdProc rimgCaptureCanvas, rimgCaptureWindow, rimgCaptureClipboard;
/* rimgDraw.cpp */
RimgSubCmdProc rimgDraw;

/* "Usage: <command> <subcommand><tail>" as the result; returns code. */
int rimgUsage(Tcl_Interp *interp, const char **argv, const char *tail,
              int code);
/* Sets the result to message and returns TCL_ERROR. */
int rimgError(Tcl_Interp *interp, const char *message);
/* Sets the result to message followed by name; returns TCL_ERROR. */
int rimgNameError(Tcl_Interp *interp, const char *message, const char *name);
/* The record with this tag, else with this file name; null when none. */
RAMImage *rimgFind(const char *name);

#endif
