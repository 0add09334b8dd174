/*
 * rimgCmd.cpp --
 *
 *	The rimage command: registration with its default image description,
 *	and the dispatcher.  A subcommand word is matched as a prefix against
 *	the table below in its order, among the names sharing its first
 *	letter, and must reach the name's minimum length.  Core subcommands
 *	run their procedures (rimgOpen.cpp, rimgConfig.cpp, rimgCache.cpp,
 *	rimgIndices.cpp, rimgAttr.cpp, rimgObj.cpp); module subcommands call
 *	the module's entry, and a module that is not part of this build did
 *	not run.
 */
#include "rimage/rimg.h"

#include <cstring>
#include <string>

#include "core/ramimg.h"
#include "modules/bandCalc.h"
#include "modules/classify.h"
#include "modules/data.h"
#include "modules/dist.h"
#include "modules/egv.h"
#include "modules/gconv.h"
#include "modules/gdem.h"
#include "modules/georef.h"
#include "modules/gfftrans.h"
#include "modules/giso.h"
#include "modules/gstat.h"
#include "modules/gtop.h"
#include "modules/ptable.h"
#include "modules/rotate.h"
#include "modules/statInfo.h"
#include "rimage/rimgDesc.h"
#include "rimage/rimgInt.h"
#include "rimage/rimgObj.h"
#include "rimage/rimgOptions.h"

/* A module entry: full command name, word count and the words after the
 * subcommand.  2 usage printed, 1 success, 0 failure, -1 did not run. */
typedef int (RimgModuleEntry)(const char *command, int argc,
                              const char **argv);

struct RimgSubCmd {
    const char *name;
    int minLength;              /* least characters of the word */
    RimgSubCmdProc *proc;       /* a core subcommand, or */
    RimgModuleEntry *module;    /* a module's entry; both null: absent */
    const char *moduleName;     /* name handed to the module, if not name */
};

static const RimgSubCmd subCommands[] = {
    {"cache", 4, rimgCache, nullptr, nullptr},
    {"calc", 4, nullptr, rimgCalcAp, nullptr},
    {"cget", 4, rimgCget, nullptr, nullptr},
    {"classify", 4, nullptr, classifyAp, nullptr},
    {"clipboard", 4, rimgCaptureClipboard, nullptr, nullptr},
    {"create", 4, rimgCreate, nullptr, nullptr},
    {"configure", 4, rimgConfigure, nullptr, nullptr},
    {"copy", 4, nullptr, nullptr, nullptr},
    {"crop", 4, nullptr, nullptr, nullptr},
    {"close", 4, rimgClose, nullptr, nullptr},
    {"canvas", 4, rimgCaptureCanvas, nullptr, nullptr},
    {"data", 3, nullptr, dataAp, nullptr},
    {"dist", 3, nullptr, gdistAp, nullptr},
    {"draw", 3, rimgDraw, nullptr, nullptr},
    {"egv", 3, nullptr, egvAp, nullptr},
    {"gfftrans", 3, nullptr, gFFTransAp, nullptr},
    {"gconv", 3, nullptr, gconvAp, nullptr},
    {"georef", 3, nullptr, georefRimgAp, nullptr},
    {"gisoc", 3, nullptr, gisoAp, nullptr},
    {"getIndices", 3, rimgGetIndices, nullptr, nullptr},
    {"gstat", 3, nullptr, statRimgAp, nullptr},
    {"gtop", 3, nullptr, gtopAp, nullptr},
    {"gdem", 3, nullptr, gdemAp, nullptr},
    {"hist", 2, rimgHist, nullptr, nullptr},
    {"isvalid", 2, rimgIsvalid, nullptr, nullptr},
    {"list", 2, rimgList, nullptr, nullptr},
    {"lock", 2, rimgLock, nullptr, nullptr},
    {"open", 3, rimgOpen, nullptr, nullptr},
    {"pcalc", 1, nullptr, nullptr, nullptr},
    {"ptable", 1, nullptr, gptableApp, nullptr},
    {"bind", 2, rimgBind, nullptr, nullptr},
    {"resident", 2, rimgResident, nullptr, nullptr},
    {"rform", 2, nullptr, nullptr, nullptr},
    {"rotate", 2, nullptr, gRotateAp, nullptr},
    {"smetric", 2, nullptr, nullptr, nullptr},
    {"section", 2, nullptr, nullptr, nullptr},
    {"setIndices", 1, rimgSetIndices, nullptr, nullptr},
    {"statinfo", 1, nullptr, statInfoAp, nullptr},
    {"trans", 2, nullptr, nullptr, "copy"},
    {"unlock", 2, rimgUnlock, nullptr, nullptr},
    {"update", 2, rimgUpdate, nullptr, nullptr},
    {"volume", 1, rimgVolume, nullptr, nullptr},
    {"window", 1, rimgCaptureWindow, nullptr, nullptr},
};

int rimgUsage(Tcl_Interp *interp, const char **argv, const char *tail,
              int code)
{
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1], tail, nullptr);
    return code;
}

int rimgError(Tcl_Interp *interp, const char *message)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
    return TCL_ERROR;
}

int rimgNameError(Tcl_Interp *interp, const char *message, const char *name)
{
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, message, name, nullptr);
    return TCL_ERROR;
}

RAMImage *rimgFind(const char *name)
{
    RAMImage *r = getRAMImageByTag(name);
    return r ? r : getRAMImageByName(name);
}

/* The table entry a subcommand word selects, or null. */
static const RimgSubCmd *findSubCmd(const char *word)
{
    size_t length = std::strlen(word);
    if (length == 0)
        return nullptr;
    for (const RimgSubCmd &c : subCommands) {
        if (c.name[0] == word[0] && (int)length >= c.minLength
                && std::strncmp(c.name, word, length) == 0)
            return &c;
    }
    return nullptr;
}

/* Runs a module subcommand and maps its result. */
static int runModule(Tcl_Interp *interp, const RimgSubCmd *c, int argc,
                     const char **argv)
{
    int rc = -1;
    if (c->module) {
        std::string command = std::string("rimage ")
                              + (c->moduleName ? c->moduleName : c->name);
        rc = c->module(command.c_str(), argc - 2, argv + 2);
    }
    Tcl_ResetResult(interp);
    if (rc == -1)
        return rimgError(interp, "Unknown command");
    if (rc == 0) {
        Tcl_AppendResult(interp, "Exec error from rimage ", argv[1], nullptr);
        return TCL_ERROR;
    }
    return TCL_OK;
}

/*
 * rimgCmd --
 *	The rimage command procedure.
 * Results:
 *	The subcommand's; without a subcommand the list of subcommands.
 */
static int rimgCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                   const char **argv)
{
    ImageInfo *defaults = static_cast<ImageInfo *>(clientData);
    Tcl_ResetResult(interp);
    if (argc < 2) {
        Tcl_AppendResult(interp, "Commands:", nullptr);
        for (const RimgSubCmd &c : subCommands)
            Tcl_AppendResult(interp, " ", c.name, nullptr);
        return TCL_OK;
    }
    const RimgSubCmd *c = findSubCmd(argv[1]);
    if (!c)
        return rimgError(interp, "Unknown command");
    if (c->proc)
        return c->proc(defaults, interp, argc, argv);
    return runModule(interp, c, argc, argv);
}

static void rimgDeleteProc(ClientData clientData)
{
    Tcl_Free(static_cast<char *>(clientData));
}

/*
 * Rimg_Init --
 *	Creates the default description and the rimage command.
 * Results:
 *	0, or 1 when the command could not be created.
 */
int Rimg_Init(Tcl_Interp *interp)
{
    ImageInfo *defaults =
        reinterpret_cast<ImageInfo *>(Tcl_Alloc(sizeof(ImageInfo)));
    rimgInitDesc(defaults);
    if (rimgConfigureDefaults(interp, rimgConfigSpecs,
                              reinterpret_cast<char *>(defaults)) != TCL_OK) {
        Tcl_Free(reinterpret_cast<char *>(defaults));
        return 1;
    }
    Tcl_ResetResult(interp);
    if (!Tcl_CreateCommand(interp, "rimage", rimgCmd, defaults,
                           rimgDeleteProc)) {
        Tcl_Free(reinterpret_cast<char *>(defaults));
        return 1;
    }
    return 0;
}
