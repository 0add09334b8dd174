/*
 * displayMain.cpp --
 *
 *	Loads the package into a wish-like interpreter on the X server of
 *	$DISPLAY and checks the display state it records: depth and rgb24
 *	(set only above 24 bits), then loads it into a second interpreter and
 *	checks that the first state is kept.  Exits 0 on success.
 *	VELK_EXPECT_DEPTH names the server's depth.
 */
#undef USE_TCL_STUBS
#undef USE_TK_STUBS
#include <tcl.h>
#include <tk.h>

#include <cstdio>
#include <cstdlib>

#include "core/velk.h"
#include "core/velkDisplay.h"

static int failures = 0;

static void check(bool ok, const char *what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok)
        failures++;
}

static Tcl_Interp *newWish(void)
{
    Tcl_Interp *interp = Tcl_CreateInterp();
    if (Tcl_Init(interp) != TCL_OK || Tk_Init(interp) != TCL_OK) {
        std::printf("cannot start Tk: %s\n", Tcl_GetStringResult(interp));
        std::exit(1);
    }
    return interp;
}

int main(int, char **argv)
{
    const char *want = std::getenv("VELK_EXPECT_DEPTH");
    int expected = want ? std::atoi(want) : 24;
    Tcl_FindExecutable(argv[0]);
    Tcl_Interp *first = newWish();
    if (Velk_Init(first) != TCL_OK) {
        std::printf("Velk_Init: %s\n", Tcl_GetStringResult(first));
        return 1;
    }
    check(depth == expected, "depth of the main window recorded");
    check(rgb24 == (expected > 24), "rgb24 set only above 24 bits");
    check(disp != nullptr && scrnPtr != nullptr, "display and screen");
    check(gimgDepth() == depth && gimgDisp() == disp, "accessors");
    check(tclInterp == first, "the loading interpreter does stdio");
    Display *firstDisplay = disp;

    Tcl_Interp *second = newWish();
    if (Velk_Init(second) != TCL_OK) {
        std::printf("second Velk_Init: %s\n", Tcl_GetStringResult(second));
        return 1;
    }
    check(disp == firstDisplay, "a second load keeps the display state");
    check(Tcl_FindCommand(second, "calc", nullptr, 0) != nullptr,
          "commands registered in the second interpreter");
    check(tclInterp == second, "stdio follows the last load");
    Tcl_DeleteInterp(second);
    Tcl_DeleteInterp(first);
    Tcl_Finalize();
    check(!velkInitialised(), "exit handler ran and cleared the flag");
    return failures ? 1 : 0;
}
