/*
 * meter.h --
 *
 *	Services shared by long-running operations: the progress meter, the
 *	pause/abort poll and event pumping.  All of them act through the stdio
 *	interpreter (velk.h) and do nothing without one.
 */
#ifndef VELK_METER_H
#define VELK_METER_H

#include <tcl.h>

extern float meter;         /* progress step, 0 disables the meter */
extern float meterPct;      /* the last fraction shown */
extern int velkStatus;      /* 0 idle, 1 running, 2 pause, 3 abort */

int meterReset(void);
int meterSet(const char *label, double fraction);
float meterInc(void);
int checkRimageStatus(void);

/* Clamping rules of the `velk meter` and `velk status` settings. */
float clampMeterStep(double step);
int clampVelkStatus(int status);

void tclUpdate(Tcl_Interp *interp, int flags);
void tclUpdating(Tcl_Interp *interp, int flags, int milliseconds);
void setTimerFlag(ClientData flagPtr);
void doAfterIdleOrUpdate(void);

#endif
