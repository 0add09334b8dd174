/*
 * velkCmd.cpp --
 *
 *	`velk` for interpreters started by Velk_Init: the subcommands that
 *	do not need consoles (meter, status, gimg, unblock, tflag, version)
 *	and the evaluation of any other words.  Applications such as the
 *	workbench set the status to 1 while a module runs (so the poll pumps
 *	events), 2 to pause and 3 to abort.  Relies on core/meter.h and the
 *	gimg registry.
 */
#include "console/velkCmd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/conStream.h"
#include "core/meter.h"
#include "core/velk.h"
#include "gimg/gimgInt.h"

namespace {

bool isPrefix(const char *word, const char *name, size_t least)
{
    size_t n = std::strlen(word);
    return n >= least && std::strncmp(word, name, n) == 0;
}

int velkMeter(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc > 2) {
        double step;
        if (Tcl_GetDouble(interp, argv[2], &step) != TCL_OK)
            return TCL_ERROR;
        meter = clampMeterStep(step);
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", meter);
    Tcl_SetResult(interp, buf, TCL_VOLATILE);
    return TCL_OK;
}

int velkStatusCmd(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc > 2) {
        int status;
        if (Tcl_GetInt(interp, argv[2], &status) != TCL_OK)
            return TCL_ERROR;
        velkStatus = clampVelkStatus(status);
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(velkStatus));
    return TCL_OK;
}

int velkUnblock(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc > 2) {
        int flag;
        if (Tcl_GetInt(interp, argv[2], &flag) != TCL_OK)
            return TCL_ERROR;
        unblockConsolePrint = flag;
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(unblockConsolePrint));
    return TCL_OK;
}

/*
 * velkCmd --
 *	velk ?subcommand ...?
 * Results:
 *	As the subcommand; other words are evaluated as a script.
 */
int velkCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc < 2) {
        Tcl_SetResult(interp,
                      (char *)"Commands: attach create delete eval gimg "
                              "list meter status unblock version",
                      TCL_STATIC);
        return TCL_OK;
    }
    const char *w = argv[1];
    if (isPrefix(w, "meter", 3))
        return velkMeter(interp, argc, argv);
    if (isPrefix(w, "status", 3))
        return velkStatusCmd(interp, argc, argv);
    if (isPrefix(w, "unblock", 4))
        return velkUnblock(interp, argc, argv);
    if (isPrefix(w, "gimg", 3)) {
        Tcl_ResetResult(interp);
        gimgNames(interp);
        return TCL_OK;
    }
    if (isPrefix(w, "version", 3)) {
        Tcl_SetResult(interp, (char *)VELK_PACKAGE_VERSION, TCL_STATIC);
        return TCL_OK;
    }
    if (isPrefix(w, "tflag", 3)) {
        Tcl_SetResult(interp, (char *)"ThreadFlag: 0\n", TCL_STATIC);
        return TCL_OK;
    }
    if (isPrefix(w, "attach", 3) || isPrefix(w, "create", 3) ||
        isPrefix(w, "delete", 3) || isPrefix(w, "eval", 3) ||
        isPrefix(w, "list", 3) || isPrefix(w, "stdio", 3)) {
        Tcl_AppendResult(interp, "velk ", w,
                         ": consoles need the console application", nullptr);
        return TCL_ERROR;
    }
    Tcl_DString ds;
    Tcl_DStringInit(&ds);
    for (int i = 1; i < argc; i++) {
        if (i > 1)
            Tcl_DStringAppend(&ds, " ", 1);
        Tcl_DStringAppend(&ds, argv[i], -1);
    }
    int rc = Tcl_Eval(interp, Tcl_DStringValue(&ds));
    Tcl_DStringFree(&ds);
    return rc;
}

} // namespace

int velkCmdInit(Tcl_Interp *interp)
{
    Tcl_CmdInfo info;
    if (Tcl_GetCommandInfo(interp, "velk", &info))
        return 0;
    Tcl_CreateCommand(interp, "velk", velkCmd, nullptr, nullptr);
    return 0;
}
