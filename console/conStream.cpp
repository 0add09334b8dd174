/*
 * conStream.cpp --
 *
 *	Console output and input through the stdio interpreter.  Outside
 *	console mode output is "puts -nonewline stdout|stderr text" and input
 *	"gets stdin"; in console mode the console's scripts tkConsoleOutput
 *	and tkConsoleInput.  The interpreter's result survives the call, so a
 *	command may print while it builds its result.
 */
#include "console/conStream.h"

#include "core/velk.h"

#include <cstring>

int consoleApp = 0;
int unblockConsolePrint = 0;

/*
 * consolePuts --
 *	Writes length bytes of text to standard output, or standard error
 *	when which is CON_STDERR.
 * Results:
 *	length.  Without a stdio interpreter the text is dropped.
 */
int consolePuts(int which, const char *text, int length)
{
    Tcl_Interp *interp = tclInterp;
    if (!interp)
        return length;
    const char *stream = which == CON_STDERR ? "stderr" : "stdout";
    Tcl_Obj *objv[4];
    int objc = 0;
    if (consoleApp) {
        objv[objc++] = Tcl_NewStringObj("tkConsoleOutput", -1);
    } else {
        objv[objc++] = Tcl_NewStringObj("puts", -1);
        objv[objc++] = Tcl_NewStringObj("-nonewline", -1);
    }
    objv[objc++] = Tcl_NewStringObj(stream, -1);
    objv[objc++] = Tcl_NewStringObj(text, length);
    for (int i = 0; i < objc; i++)
        Tcl_IncrRefCount(objv[i]);
    Tcl_Preserve(interp);
    Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
    Tcl_EvalObjv(interp, objc, objv, TCL_EVAL_GLOBAL);
    Tcl_RestoreInterpState(interp, state);
    if (unblockConsolePrint)
        while (Tcl_DoOneEvent(TCL_ALL_EVENTS | TCL_DONT_WAIT) != 0) {
        }
    Tcl_Release(interp);
    for (int i = 0; i < objc; i++)
        Tcl_DecrRefCount(objv[i]);
    return length;
}

/*
 * consoleGets --
 *	Reads one line from the console into line.
 * Results:
 *	The number of bytes appended, 0 without a stdio interpreter.
 */
int consoleGets(Tcl_DString *line)
{
    Tcl_Interp *interp = tclInterp;
    if (!interp)
        return 0;
    int n = 0;
    Tcl_Preserve(interp);
    if (consoleApp) {
        if (Tcl_EvalEx(interp, "tkConsoleInput", -1, TCL_EVAL_GLOBAL)
                == TCL_OK) {
            const char *v = Tcl_GetVar(interp, "consoleCmdLine",
                                       TCL_GLOBAL_ONLY);
            if (v) {
                n = (int)strlen(v);
                Tcl_DStringAppend(line, v, n);
            }
        }
    } else if (Tcl_EvalEx(interp, "gets stdin", -1, TCL_EVAL_GLOBAL)
               == TCL_OK) {
        int len;
        const char *v = Tcl_GetStringFromObj(Tcl_GetObjResult(interp), &len);
        Tcl_DStringAppend(line, v, len);
        n = len;
    }
    Tcl_ResetResult(interp);
    Tcl_Release(interp);
    return n;
}

/*
 * conDeleteAll --
 *	Deletes every console; there are none until the console manager
 *	creates them.
 */
void conDeleteAll(void)
{
}
