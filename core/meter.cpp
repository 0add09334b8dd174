/*
 * meter.cpp --
 *
 *	The progress meter, the pause/abort poll and event pumping.  The meter
 *	and status scripts are the application's (program.lib); they run in
 *	the stdio interpreter, whose result is kept intact around them.
 */
#include "core/meter.h"

#include "core/fmt.h"
#include "core/velk.h"

float meter = 0.05f;
float meterPct = 0.0f;
int velkStatus = 0;

/* Evaluates script in the stdio interpreter without disturbing the
 * result of the command that is running there. */
static int evalQuietly(const char *script)
{
    Tcl_Interp *interp = tclInterp;
    Tcl_Preserve(interp);
    Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
    int rc = Tcl_EvalEx(interp, script, -1, TCL_EVAL_GLOBAL);
    Tcl_RestoreInterpState(interp, state);
    Tcl_Release(interp);
    return rc;
}

/*
 * meterReset --
 *	Resets the meter widget.
 * Results:
 *	The script's code; 0 without a stdio interpreter or with step 0.
 */
int meterReset(void)
{
    if (!tclInterp || meter == 0.0f)
        return 0;
    Tcl_SetErrno(0);
    meterPct = 0.0f;
    return evalQuietly("meter.reset .status.info.meter");
}

/*
 * meterSet --
 *	Shows fraction (0..1) with label beside the bar.
 */
int meterSet(const char *label, double fraction)
{
    if (!tclInterp || meter == 0.0f)
        return 0;
    Tcl_SetErrno(0);
    meterPct = (float)fraction;
    return evalQuietly(fmt("meter.set .status.info.meter %f {%s }", fraction,
                           label ? label : ""));
}

float meterInc(void)
{
    return meter;
}

float clampMeterStep(double step)
{
    if (step < 0.0)
        return 0.0f;
    if (step > 0.5)
        return 0.5f;
    return (float)step;
}

int clampVelkStatus(int status)
{
    if (status < 0)
        return 0;
    if (status >= 4)
        return 3;
    return status;
}

/*
 * checkRimageStatus --
 *	The pause and abort poll of long loops: pumps pending events, then
 *	runs velkPause or velkAbort as the status asks.
 * Results:
 *	The run status after that (3: the caller abandons its work).
 */
int checkRimageStatus(void)
{
    if (!tclInterp || velkStatus == 0)
        return 0;
    tclUpdate(nullptr, 0xFFFF);
    if (tclInterp && velkStatus == 2)
        evalQuietly("velkPause");
    else if (tclInterp && velkStatus == 3)
        evalQuietly("velkAbort");
    return velkStatus;
}

/*
 * tclUpdate --
 *	Processes pending events without waiting until none is left.
 */
void tclUpdate(Tcl_Interp *interp, int flags)
{
    while (Tcl_DoOneEvent(flags | TCL_DONT_WAIT) != 0) {
    }
    if (interp)
        Tcl_ResetResult(interp);
}

void setTimerFlag(ClientData flagPtr)
{
    *static_cast<int *>(flagPtr) = 1;
}

/*
 * tclUpdating --
 *	Keeps the interface alive for `milliseconds`: processes events until a
 *	timer of that length fires.
 */
void tclUpdating(Tcl_Interp *interp, int flags, int milliseconds)
{
    int flag = 0;
    Tcl_CreateTimerHandler(milliseconds, setTimerFlag, &flag);
    while (!flag)
        tclUpdate(interp, flags | TCL_TIMER_EVENTS);
}

void doAfterIdleOrUpdate(void)
{
}
