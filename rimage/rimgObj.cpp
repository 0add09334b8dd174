/*
 * rimgObj.cpp --
 *
 *	Raster objects: `rimage bind`, the object record, its client
 *	callback and the object command with its subcommands (configure,
 *	cget, bands, roi, unbind) and operations.  An operation is parsed and
 *	checked completely (ranges, operand raster, numbers) before the pixel
 *	loops of rimgMath.cpp change anything, so a rejected call changes no
 *	pixel.  The object holds its raster through its client; an operand
 *	raster is held for the duration of one operation.
 */
#include "rimage/rimgObj.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/ramimg.h"
#include "modules/moduleFrame.h"
#include "rimage/rimgDesc.h"
#include "rimage/rimgMath.h"
#include "rimage/rimgOps.h"
#include "rimage/rimgOptions.h"
#include "rimage/rimgRange.h"

static int rimgObjCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                      const char **argv);

/* ---------------------------------------------------------------------
 * ROI and band-pair texts
 * --------------------------------------------------------------------- */

/* The six numbers of a ROI text, checked against a raster of the given
 * extent.  Returns 0 when invalid. */
static int parseROI(const char *text, int columns, int rows, int roi[6])
{
    int count;
    const char **words;
    if (Tcl_SplitList(nullptr, text, &count, &words) != TCL_OK)
        return 0;
    int ok = count == 6;
    for (int k = 0; ok && k < 6; k++)
        ok = Tcl_GetInt(nullptr, words[k], &roi[k]) == TCL_OK;
    Tcl_Free(reinterpret_cast<char *>(words));
    if (!ok)
        return 0;
    int desx = roi[0], desy = roi[1], srcx = roi[2], srcy = roi[3];
    int width = roi[4], height = roi[5];
    return desx >= 0 && desy >= 0 && srcx >= 0 && srcy >= 0 && width >= 1
           && height >= 1 && (int64_t)desx + width <= columns
           && (int64_t)desy + height <= rows;
}

/* A run of decimal digits at *p (at most 9, so it fits an int). */
static bool readNumber(const char *&p, int *value)
{
    if (!std::isdigit((unsigned char)*p))
        return false;
    long long v = 0;
    int digits = 0;
    for (; std::isdigit((unsigned char)*p); p++) {
        if (++digits > 9)
            return false;
        v = v * 10 + (*p - '0');
    }
    *value = (int)v;
    return true;
}

/* One word "d:s" or "d1-d2:s1-s2" as its two runs. */
static bool parseBandWord(const std::string &word, int *d1, int *d2,
                          int *s1, int *s2)
{
    const char *p = word.c_str();
    if (!readNumber(p, d1))
        return false;
    bool run = *p == '-';
    if (run) {
        p++;
        if (!readNumber(p, d2))
            return false;
    } else {
        *d2 = *d1;
    }
    if (*p++ != ':' || !readNumber(p, s1))
        return false;
    if (run) {
        if (*p++ != '-' || !readNumber(p, s2))
            return false;
    } else {
        *s2 = *s1;
    }
    return *p == '\0';
}

/* The pairs of a band-pair text ("1-3:3-1") for a raster of `bands` bands.
 * Returns false when the text is invalid. */
static bool parseBandSpec(const char *text, int bands, std::vector<int> &des,
                          std::vector<int> &src)
{
    des.clear();
    src.clear();
    std::string word;
    std::vector<std::string> words;
    for (const char *p = text;; p++) {
        if (*p == '\0' || std::isspace((unsigned char)*p)) {
            if (!word.empty())
                words.push_back(word);
            word.clear();
            if (*p == '\0')
                break;
        } else {
            word += *p;
        }
    }
    if (words.empty())
        return false;
    for (const std::string &w : words) {
        int d1, d2, s1, s2;
        if (!parseBandWord(w, &d1, &d2, &s1, &s2))
            return false;
        int dd = d2 - d1, ds = s2 - s1;
        if (std::abs(dd) != std::abs(ds) || d1 < 1 || d2 < 1 || s1 < 1
                || s2 < 1 || d1 > bands || d2 > bands)
            return false;
        int length = std::abs(dd) + 1;
        if ((int64_t)des.size() + length > bands)
            return false;
        int stepD = dd < 0 ? -1 : 1, stepS = ds < 0 ? -1 : 1;
        for (int k = 0; k < length; k++) {
            des.push_back(d1 + k * stepD);
            src.push_back(s1 + k * stepS);
        }
    }
    return true;
}

/* ---------------------------------------------------------------------
 * The object record
 * --------------------------------------------------------------------- */

static void setBandMap(RimgObj *o, const std::vector<int> &des,
                       const std::vector<int> &src)
{
    o->pairs = (int)des.size();
    o->maxSrcBand = 0;
    for (int p = 0; p < o->pairs; p++) {
        o->desBands[p] = des[p];
        o->srcBands[p] = src[p];
        if (src[p] > o->maxSrcBand)
            o->maxSrcBand = src[p];
    }
}

void rimgObjConfigurate(void *object)
{
    RimgObj *o = static_cast<RimgObj *>(object);
    RAMImage *r = o->raster;
    if (!r)
        return;
    int columns = r->info.columns, rows = r->info.rows;
    int bands = r->info.nbands;
    if (o->desBands && columns >= o->columns && rows >= o->rows
            && bands == o->bands) {
        o->columns = columns;
        o->rows = rows;
        return;
    }
    o->columns = columns;
    o->rows = rows;
    o->bands = bands;
    if (o->desx >= columns)
        o->desx = 0;
    if (o->desy >= rows)
        o->desy = 0;
    if (o->width == 0 || o->desx + o->width > columns)
        o->width = o->width == 0 ? columns : columns - o->desx;
    if (o->height == 0 || o->desy + o->height > rows)
        o->height = o->height == 0 ? rows : rows - o->desy;

    /* Keep the first pairs that still name a band of the raster. */
    std::vector<int> des, src;
    if (o->desBands) {
        for (int p = 0; p < o->pairs && (int)des.size() < bands; p++) {
            if (o->desBands[p] <= bands) {
                des.push_back(o->desBands[p]);
                src.push_back(o->srcBands[p]);
            }
        }
    } else {
        for (int b = 1; b <= bands; b++) {
            des.push_back(b);
            src.push_back(b);
        }
    }
    size_t entries = (size_t)(bands > 0 ? bands : 1);
    Tcl_Free(reinterpret_cast<char *>(o->desBands));
    Tcl_Free(reinterpret_cast<char *>(o->srcBands));
    o->desBands = reinterpret_cast<int *>(Tcl_Alloc(entries * sizeof(int)));
    o->srcBands = reinterpret_cast<int *>(Tcl_Alloc(entries * sizeof(int)));
    setBandMap(o, des, src);
}

void rimgObjDelProc(ClientData object)
{
    RimgObj *o = static_cast<RimgObj *>(object);
    if (o->raster)
        closeRAMImage(o->raster, &o->client);
    Tcl_Free(reinterpret_cast<char *>(o->desBands));
    Tcl_Free(reinterpret_cast<char *>(o->srcBands));
    Tcl_Free(reinterpret_cast<char *>(o));
}

static RimgObj *newObject(Tcl_Interp *interp)
{
    RimgObj *o = reinterpret_cast<RimgObj *>(Tcl_Alloc(sizeof(RimgObj)));
    std::memset(o, 0, sizeof *o);
    o->client.configProc = rimgObjConfigurate;
    o->client.owner = o;
    o->client.clientData = o;
    o->interp = interp;
    return o;
}

/* The raster object command of that name, null when it is none. */
static RimgObj *findObject(Tcl_Interp *interp, const char *name)
{
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, name, &info) || info.proc != rimgObjCmd)
        return nullptr;
    return static_cast<RimgObj *>(info.clientData);
}

/* ---------------------------------------------------------------------
 * rimage bind
 * --------------------------------------------------------------------- */

/*
 * rimgBind --
 *	rimage bind -file FILE ?-obj objName? ?-roi ROI? ?-bands bands?
 * Results:
 *	The object's name.
 * Side effects:
 *	Opens or shares the raster, creates the object command (or moves an
 *	existing object to the raster, keeping its ROI and band map).
 */
int rimgBind(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    static const char tail[] =
        " -file FILE [-obj objName] [-roi ROI] [-bands bands]";
    ModuleParam options[] = {{"-file", nullptr}, {"-obj", nullptr},
                             {"-roi", nullptr}, {"-bands", nullptr},
                             {nullptr, nullptr}};
    if (argc < 3 || parseConfig(options, argc - 2, argv + 2) != 0)
        return rimgUsage(interp, argv, tail, TCL_ERROR);
    const char *file = options[0].value, *objName = options[1].value;
    const char *roiText = options[2].value, *bandText = options[3].value;
    if (!file)
        return rimgError(interp, "Error: FILE missing.");

    /* A record tagged objName with another file is reloaded in place and
     * comes back without a new link: take one, as every other open does. */
    RAMImage *tagged = objName ? getRAMImageByTag(objName) : nullptr;
    int taggedLinks = tagged ? tagged->links : 0;
    int err = RAMIMG_OK;
    RAMImage *r = openRAMImage(objName, file, nullptr, nullptr, &err);
    if (!r) {
        rimgNameError(interp, "Error in open ", file);
        Tcl_AddErrorInfo(interp, "\n");
        Tcl_AddErrorInfo(interp, ramimgError(err));
        return TCL_ERROR;
    }
    bool reloaded = r == tagged && r->links == taggedLinks;
    if (reloaded)
        r->links++;
    std::string name = objName ? objName : r->tag;

    int roi[6];
    std::vector<int> des, src;
    const char *failure = nullptr;
    if (roiText && !parseROI(roiText, r->info.columns, r->info.rows, roi))
        failure = "Invalid ROI.";
    else if (bandText && !parseBandSpec(bandText, r->info.nbands, des, src))
        failure = "Invalid band specification";
    RimgObj *o = nullptr;
    if (!failure) {
        o = findObject(interp, name.c_str());
        Tcl_CmdInfo info;
        if (!o && Tcl_GetCommandInfo(interp, name.c_str(), &info))
            failure = "conflict";
    }
    if (failure) {
        closeRAMImage(r, nullptr);
        if (std::strcmp(failure, "conflict") == 0) {
            Tcl_ResetResult(interp);
            Tcl_AppendResult(interp, "Error: ", name.c_str(),
                             " conflits with Tcl command.", nullptr);
            return TCL_ERROR;
        }
        return rimgError(interp, failure);
    }

    if (!o) {
        o = newObject(interp);
        o->token = Tcl_CreateCommand(interp, name.c_str(), rimgObjCmd, o,
                                     rimgObjDelProc);
        if (!o->token || !findObject(interp, name.c_str())) {
            /* No command was made (an interpreter being deleted). */
            rimgObjDelProc(o);
            closeRAMImage(r, nullptr);
            return rimgNameError(interp, "Error in creating object: ",
                                 name.c_str());
        }
    } else if (o->raster) {
        /* The open above holds r, so this cannot destroy it. */
        closeRAMImage(o->raster, &o->client);
        o->raster = nullptr;
    }
    o->raster = r;
    linkRAMImageClient(&o->client, r);
    rimgObjConfigurate(o);
    if (roiText) {
        o->desx = roi[0];
        o->desy = roi[1];
        o->srcx = roi[2];
        o->srcy = roi[3];
        o->width = roi[4];
        o->height = roi[5];
    }
    if (bandText)
        setBandMap(o, des, src);
    if (reloaded)
        updateClient(r, o, 1);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name.c_str(), -1));
    return TCL_OK;
}

/* ---------------------------------------------------------------------
 * Object subcommands
 * --------------------------------------------------------------------- */

typedef int (ObjSubCmdProc)(RimgObj *o, Tcl_Interp *interp, int argc,
                            const char **argv);

static int objUsage(Tcl_Interp *interp, const char **argv, const char *tail)
{
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Usage: ", argv[0], tail, nullptr);
    return TCL_ERROR;
}

/* Options of the raster's description: only a new file name takes
 * effect (the raster is reloaded from it, probed anew); the clients are
 * told to reconfigure. */
static int objConfigure(RimgObj *o, Tcl_Interp *interp, int argc,
                        const char **argv)
{
    RAMImage *r = o->raster;
    ImageInfo work = r->info;
    if (rimgApplyOptions(interp, &work, argc - 2, argv + 2) != TCL_OK)
        return TCL_ERROR;
    if (argc - 2 < 2)
        return TCL_OK;
    if (std::strcmp(work.fileName, r->info.fileName) != 0) {
        flushRAMImage(r);
        int err = RAMIMG_OK;
        if (!updateRAMImage(work.fileName, nullptr, r, &err)) {
            rimgNameError(interp, "Update ramimg error in open file: ",
                          work.fileName);
            Tcl_AddErrorInfo(interp, "\n");
            Tcl_AddErrorInfo(interp, ramimgError(err));
            return TCL_ERROR;
        }
    }
    updateClient(r, nullptr, 1);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

static int objCget(RimgObj *o, Tcl_Interp *interp, int argc,
                   const char **argv)
{
    if (argc != 3) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Usage: \"", argv[0], " cget option\"",
                         nullptr);
        return TCL_ERROR;
    }
    return rimgConfigureValue(interp, rimgConfigSpecs,
                              reinterpret_cast<char *>(&o->raster->info),
                              argv[2]);
}

static int objBands(RimgObj *o, Tcl_Interp *interp, int argc,
                    const char **argv)
{
    if (argc == 2) {
        std::string out;
        char pair[32];
        for (int p = 0; p < o->pairs; p++) {
            std::snprintf(pair, sizeof pair, "%d:%d", o->desBands[p],
                          o->srcBands[p]);
            out += pair;
        }
        Tcl_SetObjResult(interp, Tcl_NewStringObj(out.c_str(), -1));
        return TCL_OK;
    }
    if (argc != 3)
        return objUsage(interp, argv, " bands bandSpec");
    std::vector<int> des, src;
    if (!parseBandSpec(argv[2], o->raster->info.nbands, des, src))
        return rimgError(interp, "Invalid band specification");
    setBandMap(o, des, src);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

static int objRoi(RimgObj *o, Tcl_Interp *interp, int argc,
                  const char **argv)
{
    if (argc == 2) {
        char text[96];
        std::snprintf(text, sizeof text, "%d %d %d %d %d %d", o->desx,
                      o->desy, o->srcx, o->srcy, o->width, o->height);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(text, -1));
        return TCL_OK;
    }
    if (argc != 3)
        return objUsage(interp, argv,
                        " roi {desx desy srcx srcy width height}");
    int roi[6];
    if (!parseROI(argv[2], o->raster->info.columns, o->raster->info.rows,
                  roi))
        return rimgError(interp, "Invalid ROI.");
    o->desx = roi[0];
    o->desy = roi[1];
    o->srcx = roi[2];
    o->srcy = roi[3];
    o->width = roi[4];
    o->height = roi[5];
    Tcl_ResetResult(interp);
    return TCL_OK;
}

static int objUnbind(RimgObj *, Tcl_Interp *interp, int argc,
                     const char **argv)
{
    if (argc != 2)
        return objUsage(interp, argv, " unbind");
    if (!findObject(interp, argv[0]))
        return rimgNameError(interp, argv[0], " is not a rimgObj name");
    /* The object is freed here: nothing may touch it afterwards. */
    Tcl_DeleteCommand(interp, argv[0]);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

/* ---------------------------------------------------------------------
 * Operations
 * --------------------------------------------------------------------- */

/* Opens word as a raster: a record by tag or file name, else (unless it
 * reads as a number) an image file.  Null when it is none. */
static RAMImage *openOperand(const char *word)
{
    int err;
    if (getRAMImageByTag(word))
        return openRAMImage(word, nullptr, nullptr, nullptr, &err);
    if (getRAMImageByName(word))
        return openRAMImage(nullptr, word, nullptr, nullptr, &err);
    double number;
    if (Tcl_GetDouble(nullptr, word, &number) == TCL_OK)
        return nullptr;
    return openRAMImage(nullptr, word, nullptr, nullptr, &err);
}

/* Reads the numeric operands; false (with the message) on a bad word. */
static bool readOperands(Tcl_Interp *interp, int n, const char **words,
                         double *numbers)
{
    for (int k = 0; k < n; k++) {
        if (Tcl_GetDouble(nullptr, words[k], &numbers[k]) != TCL_OK) {
            rimgNameError(interp, "invalid operand:", words[k]);
            return false;
        }
    }
    return true;
}

/*
 * objOperation --
 *	objName ?@range? op ?operand ...?
 *	objName ?@range? op raster ?@range? ?operand ...?
 * Results:
 *	The object's command name.
 * Side effects:
 *	The raster's pixels in the window or range change; its clients are
 *	told.
 */
static int objOperation(RimgObj *o, Tcl_Interp *interp, int argc,
                        const char **argv)
{
    static const char unknown[] = "Unknown rimage operation or syntax error.";
    RAMImage *r = o->raster;
    int i = 1;
    RimgRange des;
    bool haveDes = argv[1][0] == '@';
    if (haveDes) {
        if (!rimgParseRange(argv[1], r->info.columns, r->info.rows,
                            r->info.nbands, &des))
            return rimgError(interp, "Invalid data range");
        i = 2;
    }
    if (i >= argc)
        return rimgError(interp, unknown);
    const char **words = argv + i + 1;
    int nwords = argc - i - 1;
    int count = nwords - (nwords >= 2 && words[1][0] == '@' ? 1 : 0);
    const RimgOp *op = rimgObjParseOP(argv[i], count);
    if (!op)
        return rimgError(interp, unknown);

    /* One spare: a range word in second place is read (and refused)
     * when the first operand is no raster. */
    double numbers[RIMG_MAX_OPERANDS + 1] = {0, 0, 0, 0, 0};
    RAMImage *src = count > 0 ? openOperand(words[0]) : nullptr;
    if (!src) {
        if (!readOperands(interp, nwords, words, numbers))
            return TCL_ERROR;
        if (haveDes)
            rimgMathWithROI(r, &des, op->func, numbers, count);
        else
            rimgMath(r, o->desx, o->desy, o->width, o->height, o->desBands,
                     o->pairs, op->func, numbers, count);
        Tcl_SetObjResult(interp,
                         Tcl_NewStringObj(Tcl_GetCommandName(interp,
                                                             o->token), -1));
        return TCL_OK;
    }

    RimgRange srcRange;
    bool haveSrc = nwords >= 2 && words[1][0] == '@';
    int first = haveSrc ? 2 : 1;
    int rc = TCL_OK;
    if (haveSrc && !rimgParseRange(words[1], src->info.columns,
                                   src->info.rows, src->info.nbands,
                                   &srcRange)) {
        rc = rimgError(interp, "Invalid data range");
    } else if (!readOperands(interp, nwords - first, words + first,
                             numbers)) {
        rc = TCL_ERROR;
    } else if (!haveDes && !haveSrc) {
        if (src->info.nbands < o->maxSrcBand)
            rc = rimgError(interp, "In consistent operand rimage");
        else
            rimgExpr(r, o->desx, o->desy, o->srcx, o->srcy, o->width,
                     o->height, o->desBands, o->pairs, src, o->srcBands,
                     op->func, numbers, count);
    } else {
        if (!haveDes)
            rimgWholeRange(r->info.columns, r->info.rows, r->info.nbands,
                           &des);
        if (!haveSrc)
            rimgWholeRange(src->info.columns, src->info.rows,
                           src->info.nbands, &srcRange);
        rimgExprWithROI(r, &des, src, &srcRange, op->func, numbers, count);
    }
    closeRAMImage(src, nullptr);
    if (rc == TCL_OK)
        Tcl_SetObjResult(interp,
                         Tcl_NewStringObj(Tcl_GetCommandName(interp,
                                                             o->token), -1));
    return rc;
}

/* ---------------------------------------------------------------------
 * The object command
 * --------------------------------------------------------------------- */

struct ObjSubCmd {
    const char *name;
    int minLength;
    ObjSubCmdProc *proc;
};

static const ObjSubCmd objSubCommands[] = {
    {"configure", 2, objConfigure},
    {"cget", 2, objCget},
    {"bands", 3, objBands},
    {"roi", 2, objRoi},
    {"unbind", 2, objUnbind},
};

/* "Commands: " with the subcommands and each operator word once. */
static void listCommands(Tcl_Interp *interp)
{
    std::string out = "Commands: configure cget bands roi unbind ";
    for (int k = 0; k < rimgOpCount; k++) {
        bool seen = false;
        for (int j = 0; j < k && !seen; j++)
            seen = std::strcmp(rimgOp[j].word, rimgOp[k].word) == 0;
        if (!seen) {
            out += rimgOp[k].word;
            out += ' ';
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(out.c_str(), -1));
}

/*
 * rimgObjCmd --
 *	The command procedure of a raster object.
 */
static int rimgObjCmd(ClientData clientData, Tcl_Interp *interp, int argc,
                      const char **argv)
{
    RimgObj *o = static_cast<RimgObj *>(clientData);
    Tcl_ResetResult(interp);
    if (argc < 2) {
        listCommands(interp);
        return TCL_OK;
    }
    size_t length = std::strlen(argv[1]);
    for (const ObjSubCmd &c : objSubCommands)
        if ((int)length >= c.minLength
                && std::strncmp(c.name, argv[1], length) == 0
                && length <= std::strlen(c.name))
            return c.proc(o, interp, argc, argv);
    return objOperation(o, interp, argc, argv);
}
