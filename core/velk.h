/*
 * velk.h --
 *
 *	Package entry and process-wide state: the stdio interpreter, module
 *	start-up, the home directory, the panic procedure and the exit
 *	handler.  The display state lives in velkDisplay.h, the meter and the
 *	pause/abort poll in meter.h.
 */
#ifndef VELK_VELK_H
#define VELK_VELK_H

#include <tcl.h>

#define VELK_PACKAGE_NAME "Velk"
#define VELK_PACKAGE_VERSION "3.4"

extern "C" {
int Velk_Init(Tcl_Interp *interp);
int Console_Init(Tcl_Interp *interp);
}

int velkInit(Tcl_Interp *interp);
int appInit(Tcl_Interp *interp);
int initVelkModules(Tcl_Interp *interp);
void copyVelkGlobal(Tcl_Interp *src, Tcl_Interp *dst);
const char *getGimgHome(Tcl_Interp *interp);

/* The stdio interpreter: progress, pause/abort and console output are
 * evaluated in it; null disables them. */
extern Tcl_Interp *tclInterp;
Tcl_Interp *setStdIO(Tcl_Interp *interp);

char *translateFileName(Tcl_Interp *interp, Tcl_DString *buffer,
                        const char *name);
void userPanic(const char *format, ...);
void velkExitProc(ClientData clientData);

/* 1 once the display is recorded, Gimg_Init has run and the exit handler
 * is registered in this process. */
int velkInitialised(void);
/* 1 when Tk's stubs are set up in this process (Tk present at load). */
int velkHaveTk(void);

#endif
