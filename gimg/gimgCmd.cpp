/*
 * gimgCmd.cpp --
 *
 *	The image command of gimg images (a table of subcommands, matched in
 *	table order as abbreviations with a minimum length) and the global
 *	`gimg` command (names, palette, rgb24, version).  Subcommands of
 *	other modules are declared in gimgLookup.h, gimgMask.h and
 *	gimgQuery.h.
 */
#include <cstdlib>
#include <cstring>

#include "core/velk.h"
#include "core/velkDisplay.h"
#include "gimg/gimg.h"
#include "gimg/gimgQuery.h"
#include "gimg/gimgInt.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgMask.h"

static GimgSubCmdProc gimgCget, gimgConfigure, gimgNamesCmd, gimgUpdate;

struct GimgSubCmd {
    const char *name;
    int minLength;          /* 0: the whole name must be written */
    GimgSubCmdProc *proc;
};

static const GimgSubCmd subCommands[] = {
    {"cget", 4, gimgCget},
    {"configure", 4, gimgConfigure},
    {"canv2file", 6, gimgCanvas2FileXY},
    {"canv2img", 6, gimgCanvas2ImageXY},
    {"canv2map", 4, gimgCanvas2MapXY},
    {"copy", 4, gimgCopyimg},
    {"crop", 4, gimgCopysub},
    {"capture", 4, gimgCapturePixmap},
    {"bitmap2map", 7, gimgBitmap2MapXY},
    {"bitmap2file", 7, gimgBitmap2FileXY},
    {"dump", 3, gimgDump},
    {"enhance", 3, gimgEnhance},
    {"filexy", 5, gimgBitmap2FileXY},
    {"file2canv", 5, gimgFile2CanvasXY},
    {"file2screen", 5, gimgFile2CanvasXY},
    {"getIndices", 4, gimgGetIndices},
    {"getLookup", 4, gimgGetLookup},
    {"graph", 4, gimgGraph},
    {"hist", 4, gimgPrintHist},
    {"imgxy", 4, gimgCanvas2ImageXY},
    {"img2canv", 4, gimgImage2CanvasXY},
    {"lineh", 5, gimgPrintLine},
    {"linev", 5, gimgPrintLine},
    {"mapxy", 4, gimgBitmap2MapXY},
    {"map2canv", 4, gimgMap2CanvasXY},
    {"map2screen", 4, gimgMap2CanvasXY},
    {"mask", 0, gimgMask},
    {"mean", 0, gimgStats},
    {"min", 0, gimgStats},
    {"max", 0, gimgStats},
    {"names", 3, gimgNamesCmd},
    {"stats", 3, gimgStats},
    {"std", 3, gimgStats},
    {"scrxy", 3, gimgScreenXY},
    {"seek", 3, gimgSeekVolume},
    {"setIndices", 3, gimgSetIndices},
    {"setPixel", 3, gimgSetPixel},
    {"setLookup", 3, gimgSetLookup},
    {"setRange", 3, gimgSetRange},
    {"section", 3, gimgPrintSection},
    {"pixel", 4, gimgPrintPixel},
    {"profile", 4, gimgPrintProfile},
    {"rotate", 2, gimgRotate},
    {"resident", 2, gimgResident},
    {"update", 2, gimgUpdate},
    {"animate", 2, gimgAnimate},
};

int gimgUsage(GimgMaster *m, const char **argv, const char *tail, int code)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, "Usage: ", argv[0], " ", argv[1], tail,
                     nullptr);
    return code;
}

/* The entry a subcommand word selects, or null. */
static const GimgSubCmd *findSubCmd(const char *word)
{
    size_t length = std::strlen(word);
    for (const GimgSubCmd &c : subCommands) {
        size_t least = c.minLength ? (size_t)c.minLength
                                   : std::strlen(c.name);
        if (length >= least && std::strncmp(c.name, word, length) == 0)
            return &c;
    }
    return nullptr;
}

/*
 * gimgCmd --
 *	The image command: dispatches to the subcommand's procedure with
 *	the master and all words.
 */
int gimgCmd(ClientData clientData, Tcl_Interp *interp, int argc,
            const char **argv)
{
    GimgMaster *m = static_cast<GimgMaster *>(clientData);
    Tcl_ResetResult(interp);
    if (argc < 2) {
        Tcl_AppendResult(interp, "Usage: ", argv[0],
                         " option ?arg arg ...?", nullptr);
        return TCL_ERROR;
    }
    const GimgSubCmd *c = findSubCmd(argv[1]);
    if (!c) {
        Tcl_AppendResult(interp, "bad option \"", argv[1],
                         "\": must be animate bitmap2file bitmap2map "
                         "canv2file canv2img canv2map capture config, cget, "
                         "copy, dump, enhance, filexy, getIndices, getLookup, "
                         "graph, hist, imgxy, lineh, linev, mapxy, mask, "
                         "names, max, mean, min, pixel, profile, resident, "
                         "rotate, section, scrxy, seek, setIndices, setLookup "
                         "setPixel, setRange, stats, std, update",
                         nullptr);
        return TCL_ERROR;
    }
    Tcl_Preserve(m);
    int rc = c->proc(m, argc, argv);
    Tcl_Release(m);
    return rc;
}

/* cget option */
static int gimgCget(GimgMaster *m, int argc, const char **argv)
{
    if (argc != 3) {
        Tcl_AppendResult(m->interp, "Usage: ", argv[0], " cget option",
                         nullptr);
        return TCL_ERROR;
    }
    return Tk_ConfigureValue(m->interp, m->tkwin, gimgConfigSpecs,
                             reinterpret_cast<char *>(m), argv[2], 0);
}

/* configure ?option? ?value option value ...? */
static int gimgConfigure(GimgMaster *m, int argc, const char **argv)
{
    char *record = reinterpret_cast<char *>(m);
    if (argc == 2)
        return Tk_ConfigureInfo(m->interp, m->tkwin, gimgConfigSpecs, record,
                                nullptr, 0);
    if (argc == 3)
        return Tk_ConfigureInfo(m->interp, m->tkwin, gimgConfigSpecs, record,
                                argv[2], 0);
    return gimgConfigureMaster(m, argc - 2, argv + 2, TK_CONFIG_ARGV_ONLY);
}

/* names: every gimg image's name followed by a blank. */
static int gimgNamesCmd(GimgMaster *m, int argc, const char **argv)
{
    if (argc != 2) {
        Tcl_AppendResult(m->interp, "Usage: ", argv[0], " names", nullptr);
        return TCL_ERROR;
    }
    gimgNames(m->interp);
    return TCL_OK;
}

/* update: re-render every instance. */
static int gimgUpdate(GimgMaster *m, int, const char **)
{
    gimgUpdateClient(m);
    Tcl_ResetResult(m->interp);
    return TCL_OK;
}

/* ---- the global gimg command ---------------------------------------- */

/* True when word selects name: same first letter, a prefix of name and
 * at least three characters long. */
static int globalWord(const char *word, const char *name)
{
    size_t n = std::strlen(word);
    return n >= 3 && std::strncmp(word, name, n) == 0;
}

/*
 * velkGimgCmd --
 *	gimg names|palette|rgb24|version ...
 * Results:
 *	TCL_OK (usage and unknown subcommands included) unless a subcommand
 *	fails.
 */
int velkGimgCmd(ClientData, Tcl_Interp *interp, int argc, const char **argv)
{
    Tcl_ResetResult(interp);
    if (argc < 2) {
        Tcl_AppendResult(interp, "Usage: ", argv[0], " names palette rgb24\n",
                         nullptr);
        return TCL_OK;
    }
    const char *word = argv[1];
    if (globalWord(word, "names")) {
        if (argc != 2) {
            Tcl_AppendResult(interp, "Usage: ", argv[0], " names", nullptr);
            return TCL_ERROR;
        }
        gimgNames(interp);
        return TCL_OK;
    }
    if (globalWord(word, "palette"))
        return gimgPalette(interp, argc, argv);
    if (globalWord(word, "rgb24")) {
        if (argc > 2) {
            long v;
            Tcl_Obj *value = Tcl_NewStringObj(argv[2], -1);
            Tcl_IncrRefCount(value);
            int rc = Tcl_GetLongFromObj(interp, value, &v);
            Tcl_DecrRefCount(value);
            if (rc != TCL_OK)
                return TCL_ERROR;
            rgb24 = (int)v;
        }
        Tcl_SetObjResult(interp, Tcl_NewIntObj(rgb24));
        return TCL_OK;
    }
    if (globalWord(word, "version")) {
        Tcl_AppendResult(interp, VELK_PACKAGE_VERSION, nullptr);
        return TCL_OK;
    }
    Tcl_AppendResult(interp, "unknown gimg command\n", nullptr);
    return TCL_OK;
}

/* Delete callback of the gimg command: the palette cells go back. */
void gimgCmdDeleteProc(ClientData)
{
    if (palPixels) {
        if (disp)
            XFreeColors(disp, cmap, palPixels, nPalPixels, 0);
        std::free(palPixels);
    }
    palPixels = nullptr;
    nPalPixels = 0;
}
