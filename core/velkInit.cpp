/*
 * velkInit.cpp --
 *
 *	The package entry point and its process-wide state: makes the loading
 *	interpreter the stdio interpreter, provides the package, records the
 *	display (with Tk), registers the gimg image type, starts the command
 *	modules in their fixed order, loads the application's script
 *	libraries through `calc decompload`, and installs the panic procedure
 *	and the exit handler.  Tk is called only when the loading interpreter
 *	has Tk; a tclsh without Tk loads and works.
 */
#include "core/velk.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "calc/calc.h"
#include "comb/comb.h"
#include "console/conStream.h"
#include "console/velkCmd.h"
#include "core/imgtype.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/velkDisplay.h"
#include "expr/etran.h"
#include "formats/dicom.h"
#include "formats/mpeg.h"
#include "formats/tiff.h"
#include "gimg/gimg.h"
#include "grass/grass.h"
#include "rimage/rimg.h"

Tcl_Interp *tclInterp = nullptr;

static int initialised = 0;     /* display recorded, exit handler set */
static int haveTkStubs = 0;     /* Tk_InitStubs succeeded in this process */

/* Interpreters the package loaded into, oldest first: when the stdio
 * interpreter is deleted, the newest survivor takes its place, so the
 * package never prints through a deleted interpreter. */
static std::vector<Tcl_Interp *> loadedInterps;

static void loadedInterpDeleted(ClientData, Tcl_Interp *interp)
{
    loadedInterps.erase(std::remove(loadedInterps.begin(),
                                    loadedInterps.end(), interp),
                        loadedInterps.end());
    if (tclInterp == interp)
        tclInterp = loadedInterps.empty() ? nullptr : loadedInterps.back();
}

int velkInitialised(void)
{
    return initialised;
}

int velkHaveTk(void)
{
    return haveTkStubs;
}

/* True when interp has Tk loaded (and the Tk stubs are usable). */
static int interpHasTk(Tcl_Interp *interp)
{
    if (Tcl_PkgPresent(interp, "Tk", nullptr, 0) == nullptr) {
        Tcl_ResetResult(interp);
        return 0;
    }
    if (!haveTkStubs) {
        if (Tk_InitStubs(interp, "8.6", 0) == nullptr) {
            Tcl_ResetResult(interp);
            return 0;
        }
        haveTkStubs = 1;
    }
    return 1;
}

/*
 * setStdIO --
 *	Installs interp as the stdio interpreter.
 * Results:
 *	The previous stdio interpreter.
 */
Tcl_Interp *setStdIO(Tcl_Interp *interp)
{
    Tcl_Interp *prev = tclInterp;
    tclInterp = interp;
    return prev;
}

/*
 * Velk_Init --
 *	Package entry called by `load`.
 * Results:
 *	TCL_OK, or the failing step's code with its message in the result.
 * Side effects:
 *	Commands registered; on the first success in this process the exit
 *	handler is registered.  A failure restores the stdio interpreter.
 *	Deleting the interpreter later hands stdio back to the newest other
 *	interpreter the package is loaded in.
 */
extern "C" int Velk_Init(Tcl_Interp *interp)
{
    if (Tcl_InitStubs(interp, "8.6", 0) == nullptr)
        return TCL_ERROR;
    Tcl_Interp *prev = setStdIO(interp);
    int rc = velkInit(interp);
    if (rc == TCL_OK)
        rc = appInit(interp);
    if (rc == TCL_OK) {
        if (!initialised) {
            Tcl_CreateExitHandler(velkExitProc, nullptr);
            initialised = 1;
        }
        Tcl_DontCallWhenDeleted(interp, loadedInterpDeleted, nullptr);
        Tcl_CallWhenDeleted(interp, loadedInterpDeleted, nullptr);
        loadedInterps.erase(std::remove(loadedInterps.begin(),
                                        loadedInterps.end(), interp),
                            loadedInterps.end());
        loadedInterps.push_back(interp);
        return TCL_OK;
    }
    setStdIO(prev);
    return rc;
}

/*
 * velkInit --
 *	Start-up shared with the console entry: home directory and script
 *	lists, package registration, display, gimg image type, panic
 *	procedure.  A second interpreter of the process keeps the first one's
 *	display state.
 */
int velkInit(Tcl_Interp *interp)
{
    copyVelkGlobal(interp, interp);
    int rc = Tcl_PkgProvide(interp, VELK_PACKAGE_NAME, VELK_PACKAGE_VERSION);
    if (rc != TCL_OK)
        return rc;
    if (initialised)
        return TCL_OK;
    if (interpHasTk(interp))
        recordDisplay(interp);
    Tcl_Interp *p = setStdIO(interp);
    rc = Gimg_Init();
    if (rc == 0)
        Tcl_SetPanicProc(userPanic);
    setStdIO(p);
    return rc;
}

/*
 * appInit --
 *	Starts the command modules, then loads the application script
 *	libraries named by velkAppScripts from gimgHome.
 * Results:
 *	The first failing initialiser's code, else the scripts' code.
 */
int appInit(Tcl_Interp *interp)
{
    Tcl_Preserve(interp);
    int rc = initVelkModules(interp);
    if (rc == 0) {
        Tcl_CreateCommand(interp, "gimg", velkGimgCmd, nullptr,
                          gimgCmdDeleteProc);
        velkCmdInit(interp);
        Tcl_Eval(interp, "wm iconify .");
        Tcl_ResetResult(interp);
        rc = Tcl_EvalEx(interp,
                        "foreach s $velkAppScripts "
                        "{calc decompload [file join $gimgHome $s]}",
                        -1, TCL_EVAL_GLOBAL);
    }
    Tcl_Release(interp);
    return rc;
}

/*
 * initVelkModules --
 *	Calls the module initialisers in their fixed order; the first that
 *	fails stops the sequence.
 */
int initVelkModules(Tcl_Interp *interp)
{
    static int (*const inits[])(Tcl_Interp *) = {
        Rimg_Init, Calc_Init, Comb_Init, Grass_Init, Etran_Init, Mpeg_Init,
        Dicom_Init, Tiff_Init,
    };
    for (auto init : inits) {
        int rc = init(interp);
        if (rc != 0) {
            if (init == Mpeg_Init)
                Tcl_AppendResult(interp, "Error in Mpeg_Init\n", nullptr);
            return rc;
        }
    }
    return 0;
}

/*
 * copyVelkGlobal --
 *	Copies the home directory and the two script lists of src into the
 *	globals of dst (defaults where src has none).
 */
void copyVelkGlobal(Tcl_Interp *src, Tcl_Interp *dst)
{
    Tcl_DString home, app, con;
    Tcl_DStringInit(&home);
    Tcl_DStringInit(&app);
    Tcl_DStringInit(&con);
    Tcl_DStringAppend(&home, getGimgHome(src), -1);
    const char *v = Tcl_GetVar(src, "velkAppScripts", TCL_GLOBAL_ONLY);
    Tcl_DStringAppend(&app, v ? v : "program.lib", -1);
    v = Tcl_GetVar(src, "velkConScripts", TCL_GLOBAL_ONLY);
    Tcl_DStringAppend(&con, v ? v : "program.lib contk.lib", -1);
    Tcl_SetVar(dst, "gimgHome", Tcl_DStringValue(&home), TCL_GLOBAL_ONLY);
    Tcl_SetVar(dst, "velkAppScripts", Tcl_DStringValue(&app),
               TCL_GLOBAL_ONLY);
    Tcl_SetVar(dst, "velkConScripts", Tcl_DStringValue(&con),
               TCL_GLOBAL_ONLY);
    Tcl_DStringFree(&home);
    Tcl_DStringFree(&app);
    Tcl_DStringFree(&con);
}

/*
 * getGimgHome --
 *	The home directory: gimgHome, else env(GHOME), velkHome, env(VELK)
 *	(stored into gimgHome), else the current directory.
 */
const char *getGimgHome(Tcl_Interp *interp)
{
    const char *home = Tcl_GetVar(interp, "gimgHome", TCL_GLOBAL_ONLY);
    if (home)
        return home;
    const char *v = Tcl_GetVar2(interp, "env", "GHOME", TCL_GLOBAL_ONLY);
    if (!v)
        v = Tcl_GetVar(interp, "velkHome", TCL_GLOBAL_ONLY);
    if (!v)
        v = Tcl_GetVar2(interp, "env", "VELK", TCL_GLOBAL_ONLY);
    if (v)
        return Tcl_SetVar(interp, "gimgHome", v, TCL_GLOBAL_ONLY);
    if (Tcl_EvalEx(interp, "set gimgHome [pwd]", -1, TCL_EVAL_GLOBAL)
            != TCL_OK)
        return "";
    Tcl_ResetResult(interp);
    home = Tcl_GetVar(interp, "gimgHome", TCL_GLOBAL_ONLY);
    return home ? home : "";
}

/*
 * translateFileName --
 *	Tilde and path translation into the caller's buffer.
 * Results:
 *	The translated name, or null after adding "Fail to translate file
 *	name." to the error information.
 */
char *translateFileName(Tcl_Interp *interp, Tcl_DString *buffer,
                        const char *name)
{
    char *s = Tcl_TranslateFileName(interp, name, buffer);
    if (!s)
        Tcl_AddErrorInfo(interp, "Fail to translate file name.");
    return s;
}

/*
 * userPanic --
 *	The panic procedure: "panic:" and the message on standard error of
 *	the stdio interpreter.  It returns to its caller.
 */
void userPanic(const char *format, ...)
{
    char buf[4104];
    std::strcpy(buf, "panic:");
    va_list ap;
    va_start(ap, format);
    int n = std::vsnprintf(buf + 6, sizeof buf - 7, format, ap);
    va_end(ap);
    size_t len = 6 + (n < 0 ? 0 : (size_t)n);
    if (len > sizeof buf - 2)
        len = sizeof buf - 2;
    buf[len++] = '\n';
    buf[len] = '\0';
    consolePuts(CON_STDERR, buf, (int)len);
}

/*
 * velkExitProc --
 *	The exit handler: no script runs from here on; consoles, display
 *	images, colour cells, the scratch pixmap, the DICOM and TIFF tables
 *	and the probe lists are released, and raster records still in the
 *	store are flushed (so written lines reach their files) and freed.
 */
void velkExitProc(ClientData)
{
    Tcl_SetPanicProc(nullptr);
    setStdIO(nullptr);
    loadedInterps.clear();
    conDeleteAll();
    gimgDeleteAll();
    releaseDisplay();
    dicomFreeDictionary();
    tiffFreeTagNames();
    while (RAMImage *r = getRAMImage()) {
        unlinkRAMImage(r);
        flushRAMImage(r);
        destroyRAMImage(r);
    }
    imgTypeFree();
    initialised = 0;
}

/*
 * Console_Init --
 *	The console application entry.  Until the console manager exists it
 *	starts the package as Velk_Init does.
 */
extern "C" int Console_Init(Tcl_Interp *interp)
{
    return Velk_Init(interp);
}
