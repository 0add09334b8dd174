/*
 * calcCmd.cpp --
 *
 *	The `calc` command: a table of subcommands matched by first letter
 *	and prefix with a minimum length per letter.  Subcommands without an
 *	implementation yet answer "Unknown command" with TCL_OK, as unknown
 *	words do.
 */
#include "calc/calc.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "calc/calcGeoCalc.h"
#include "calc/scriptLib.h"
#include "core/stdstream.h"
#include "modules/egv.h"
#include "modules/gfftrans.h"

typedef int (CalcProc)(Tcl_Interp *interp, int argc, const char **argv);

static CalcProc calcCompSave, calcDeCompLoad, calcEgv, calcMakeFFT;

struct CalcSubcommand {
    const char *name;
    CalcProc *proc;     /* null: not implemented */
};

/* In the order the command lists them. */
static const CalcSubcommand calcSubcommands[] = {
    {"bands", nullptr},      {"chars", nullptr},     {"clrscr", nullptr},
    {"correl", nullptr},     {"comptest", nullptr},  {"compsave", calcCompSave},
    {"egv", calcEgv},        {"decompload", calcDeCompLoad},
    {"d2r", nullptr},        {"fgets", nullptr},     {"fplane", nullptr},
    {"ftime", nullptr},      {"freeDisk", nullptr},  {"galloc", nullptr},
    {"gfree", nullptr},      {"geocalc", tclGeoCalc}, {"handles", nullptr},
    {"makefft", calcMakeFFT}, {"malloc", nullptr},    {"memid", nullptr},
    {"memory", nullptr},     {"meter", nullptr},     {"panic", nullptr},
    {"test", nullptr},       {"rand", nullptr},      {"refImgCoord", nullptr},
    {"rrand", nullptr},      {"r2d", nullptr},       {"scramble", nullptr},
    {"xyzRotate", nullptr},
};

/* Minimum length of a subcommand word by its first letter. */
static size_t minimumLength(char first)
{
    switch (first) {
    case 'c': case 'g': return 5;
    case 'b': case 'm': case 's': case 't': return 4;
    case 'd': case 'e': case 'f': case 'p': case 'r': return 3;
    default: return 1;
    }
}

/* Reports a failure of the script library code: the message as result,
 * and the system error on standard error when there is one. */
static int calcFailure(Tcl_Interp *interp, const char *message,
                       const char *who)
{
    int err = errno;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
    if (err != 0) {
        errno = err;
        stderrPerror(who);
    }
    return TCL_ERROR;
}

/*
 * calcCompSave --
 *	calc compsave fileName string: writes string as a compressed script
 *	file; the result is the compression ratio.
 */
static int calcCompSave(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc != 4) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("Usage: %s %s fileName string.\n",
                                               argv[0], argv[1]));
        return TCL_ERROR;
    }
    double ratio;
    const char *message;
    errno = 0;
    if (scriptLibSave(argv[2], argv[3], std::strlen(argv[3]) + 1, &ratio,
                      &message) != 0)
        return calcFailure(interp, message, "CompSave");
    Tcl_SetObjResult(interp, Tcl_ObjPrintf("%.3f", ratio));
    return TCL_OK;
}

/*
 * calcDeCompLoad --
 *	calc decompload fileName ?mode?: evaluates a script library file,
 *	compressed or plain; with a mode its text is returned instead.
 */
static int calcDeCompLoad(Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc != 3 && argc != 4) {
        Tcl_SetObjResult(interp, Tcl_ObjPrintf("Usage: %s %s fileName ?mode?",
                                               argv[0], argv[1]));
        return TCL_ERROR;
    }
    std::string text;
    const char *message;
    errno = 0;
    if (scriptLibLoad(argv[2], &text, &message) != 0)
        return calcFailure(interp, message, "deCompLoad");
    if (argc == 4) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj(text.data(),
                                                  (int)text.size()));
        return TCL_OK;
    }
    int rc = Tcl_EvalEx(interp, text.data(), (int)text.size(), 0);
    if (rc == TCL_ERROR)
        Tcl_AddErrorInfo(interp, Tcl_GetString(Tcl_ObjPrintf(
            "\n    (script library \"%s\")", argv[2])));
    return rc;
}

/*
 * calcMakeFFT --
 *	calc makefft in=IN out=OUT b=BAND op=OPT: the Fourier module's forward
 *	transform of an image band; its failure gives "Exec error from calc
 *	makefft" (the reason is on standard error).
 */
static int calcMakeFFT(Tcl_Interp *interp, int argc, const char **argv)
{
    int rc = gmakefft(argc - 1, argv + 1);
    Tcl_ResetResult(interp);
    if (rc == 0) {
        Tcl_AppendResult(interp, "Exec error from calc ", argv[1], nullptr);
        return TCL_ERROR;
    }
    return TCL_OK;
}

/*
 * calcEgv --
 *	calc egv ...: the eigen analysis module; its failure gives "Exec
 *	error from calc egv".
 */
static int calcEgv(Tcl_Interp *interp, int argc, const char **argv)
{
    int rc = egvAp("calc egv", argc - 2, argv + 2);
    Tcl_ResetResult(interp);
    if (rc == 0) {
        Tcl_AppendResult(interp, "Exec error from calc ", argv[1], nullptr);
        return TCL_ERROR;
    }
    return TCL_OK;
}

/*
 * calcCmd --
 *	Dispatches `calc` subcommands.
 */
static int calcCmd(ClientData, Tcl_Interp *interp, int argc,
                   const char **argv)
{
    if (argc < 2) {
        std::string list = "Commands:";
        for (const auto &s : calcSubcommands)
            list.append(" ").append(s.name);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(list.c_str(), -1));
        return TCL_OK;
    }
    const char *word = argv[1];
    size_t len = std::strlen(word);
    if (len >= minimumLength(word[0])) {
        for (const auto &s : calcSubcommands) {
            if (s.name[0] == word[0] && std::strncmp(s.name, word, len) == 0) {
                if (!s.proc)
                    break;
                return s.proc(interp, argc, argv);
            }
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj("Unknown command", -1));
    return TCL_OK;
}

/*
 * Calc_Init --
 *	Creates the `calc` command.  Returns 0, or 1 when it cannot.
 */
int Calc_Init(Tcl_Interp *interp)
{
    return Tcl_CreateCommand(interp, "calc", calcCmd, nullptr, nullptr)
           ? 0 : 1;
}
