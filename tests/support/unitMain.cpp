/*
 * unitMain.cpp --
 *
 *	Main of the C++ unit tests: one Tcl interpreter with the stubs set
 *	up, so that package code calling Tcl works as it does when loaded.
 *	The package's output is dropped unless a test captures it.  This file
 *	calls Tcl directly, not through the stubs.
 */
#undef USE_TCL_STUBS
#undef USE_TK_STUBS
#include <gtest/gtest.h>
#include <tcl.h>
#undef Tcl_InitStubs

#include "tests/support/testSupport.h"

extern "C" const char *Tcl_InitStubs(Tcl_Interp *, const char *, int);

static Tcl_Interp *interp;

Tcl_Interp *testInterp(void)
{
    return interp;
}

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    Tcl_FindExecutable(argv[0]);
    interp = Tcl_CreateInterp();
    if (!Tcl_InitStubs(interp, "8.6", 0))
        return 2;
    int rc = RUN_ALL_TESTS();
    Tcl_DeleteInterp(interp);
    Tcl_Finalize();
    return rc;
}
