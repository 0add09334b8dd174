/*
 * benchMain.cpp --
 *
 *	Main of the benchmarks: sets up a Tcl interpreter with the stubs (as
 *	the unit tests do) and runs the benchmark's benchMain.
 */
#undef USE_TCL_STUBS
#undef USE_TK_STUBS
#include <tcl.h>
#undef Tcl_InitStubs

extern "C" const char *Tcl_InitStubs(Tcl_Interp *, const char *, int);
int benchMain(Tcl_Interp *interp, int argc, char **argv);

int main(int argc, char **argv)
{
    Tcl_FindExecutable(argv[0]);
    Tcl_Interp *interp = Tcl_CreateInterp();
    if (!Tcl_InitStubs(interp, "8.6", 0))
        return 2;
    int rc = benchMain(interp, argc, argv);
    Tcl_DeleteInterp(interp);
    return rc;
}
