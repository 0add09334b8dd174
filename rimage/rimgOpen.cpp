/*
 * rimgOpen.cpp --
 *
 *	rimage open, close and list.  `open` finds a record by file name or
 *	tag, or opens a file (probed), a raw file described by the default
 *	description ("@" tags), a Tk photo image, or a memory image of a
 *	memory type shaped by the defaults, a template image with a data
 *	range, or options.  Every open made here holds the record as an
 *	`open` instead of a store link; `close` gives it back.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/velk.h"
#include "rimage/rimgDesc.h"
#include "rimage/rimgInt.h"
#include "rimage/rimgPhoto.h"
#include "rimage/rimgRange.h"

static const char openTail[] =
    " FILE|TAG [imgID [[template [dataRange]] | options]]";

/* Turns the store link of an open into a script open; returns the tag. */
static int heldByScript(Tcl_Interp *interp, RAMImage *r, int newlyOpened)
{
    if (newlyOpened && r->links > 0)
        r->links--;
    r->opens++;
    Tcl_SetObjResult(interp, Tcl_NewStringObj(r->tag, -1));
    return TCL_OK;
}

/* Opens an image (no type word): file, "@" raw description or photo. */
static int openImage(ImageInfo *defaults, Tcl_Interp *interp,
                     const char *name, RAMImage *found)
{
    if (found)
        return heldByScript(interp, found, 0);
    ImageInfo info = *defaults;
    int err = RAMIMG_OK;
    RAMImage *r;
    if (name[0] == '@') {
        r = openRAMImage(name, info.fileName, &info, nullptr, &err);
    } else {
        r = openRAMImage(nullptr, name, nullptr, nullptr, &err);
        if (!r) {
            ImageInfo photo = info;
            r = rimgOpenTkPhoto(interp, name, &photo);
        }
    }
    if (!r) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Error in open ", name, nullptr);
        if (name[0] == '@')
            Tcl_AppendResult(interp, " with file: ", defaults->fileName,
                             nullptr);
        Tcl_AppendResult(interp, " of ", strImgID(defaults->imgid), nullptr);
        Tcl_AddErrorInfo(interp, "\n");
        Tcl_AddErrorInfo(interp, ramimgError(err));
        return TCL_ERROR;
    }
    return heldByScript(interp, r, 1);
}

/* Applies "@cols,rows,bands" of the template's extent to info. */
static int applyDataRange(const char *text, ImageInfo *info)
{
    RimgRange range;
    if (!rimgParseRange(text, info->columns, info->rows, info->nbands,
                        &range))
        return 0;
    info->columns = rimgRangeLength(&range, RANGE_COLUMNS);
    info->rows = rimgRangeLength(&range, RANGE_ROWS);
    info->nbands = rimgRangeLength(&range, RANGE_BANDS);
    return 1;
}

/* Opens or reshapes a memory image of type `type` (words from argv[3]). */
static int openMemory(ImageInfo *defaults, Tcl_Interp *interp, int argc,
                      const char **argv, RAMImage *found)
{
    const char *name = argv[2];
    int type = parseImgID(argv[3]);
    if (type < 0 || !isMemoryImgID(type))
        return rimgError(interp,
                         "Invalid image ID for a memory resident rimage.\n");
    if (found && found->info.imgid != type)
        return rimgError(interp, "Incompatible rimage ID.\n");
    if (found && argc == 4)
        return heldByScript(interp, found, 0);

    ImageInfo info = found ? found->info : *defaults;
    int ramp = 1;
    if (argc >= 5 && argv[4][0] != '-') {
        if (argc > 6)
            return rimgUsage(interp, argv, openTail, TCL_ERROR);
        int err;
        RAMImage *t = openRAMImage(argv[4], argv[4], nullptr, nullptr, &err);
        if (!t)
            return rimgNameError(interp, "Fail to open the template: ",
                                 argv[4]);
        info = t->info;
        closeRAMImage(t, nullptr);
        if (info.nindices > 0)
            ramp = 0;
        if (argc >= 6 && !applyDataRange(argv[5], &info))
            return rimgError(interp, "Invalid data range");
        info.imgid = type;
    } else if (argc >= 6) {
        if (!found)
            info.imgid = type;
        if (rimgApplyOptions(interp, &info, argc - 4, argv + 4) != TCL_OK)
            return TCL_ERROR;
        if (info.imgid != type)
            return rimgError(interp, "conflicting -imgid option");
    } else if (argc == 5) {
        return rimgUsage(interp, argv, openTail, TCL_ERROR);
    } else {
        info.imgid = type;
    }

    rimgMemoryShape(&info, ramp);
    info.offset = 0;
    info.extraFd = -1;
    std::snprintf(info.fileName, sizeof info.fileName, "%s", name);
    int err;
    RAMImage *r = openRAMImage(name, nullptr, &info, nullptr, &err);
    if (!r)
        return rimgError(interp,
                         "Error in creating a new memory resident rimage.\n");
    std::snprintf(r->info.fileName, sizeof r->info.fileName, "%s", name);
    updateClient(r, nullptr, 1);
    return heldByScript(interp, r, 1);
}

/*
 * rimgOpen --
 *	rimage open FILE|TAG ?imgID ?template ?dataRange?? | ?options??
 * Results:
 *	The record's tag; the usage or the open's message on failure.
 * Side effects:
 *	The record's opens grow by one; a record this call created or
 *	reshaped gives up its store link.
 */
int rimgOpen(ImageInfo *defaults, Tcl_Interp *interp, int argc,
             const char **argv)
{
    if (argc < 3)
        return rimgUsage(interp, argv, openTail, TCL_ERROR);
    const char *name = argv[2];
    RAMImage *found = getRAMImageByName(name);
    if (!found)
        found = getRAMImageByTag(name);
    if (argc == 3)
        return openImage(defaults, interp, name, found);
    return openMemory(defaults, interp, argc, argv, found);
}

/*
 * rimgClose --
 *	rimage close TAG|FILE
 * Results:
 *	The record's remaining script opens.
 * Side effects:
 *	The record is destroyed when nothing holds it any more.
 */
int rimgClose(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc != 3)
        return rimgUsage(interp, argv, " TAG | FILE", TCL_ERROR);
    RAMImage *r = rimgFind(argv[2]);
    if (!r)
        return rimgNameError(interp, "Not found RAMIMG:", argv[2]);
    if (r->opens < 1)
        return rimgError(interp, "Unmatched close.\n");
    int left = --r->opens;
    /* The open held the store link it took; close that link. */
    r->links++;
    closeRAMImage(r, nullptr);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(left));
    return TCL_OK;
}

/*
 * rimgList --
 *	rimage list ?pair|name|tag|all?: one entry per record, newest first.
 */
int rimgList(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc > 3)
        return rimgUsage(interp, argv, " ?options?", TCL_ERROR);
    const char *mode = argc == 3 ? argv[2] : "pair";
    enum { PAIR, NAME, TAG, ALL } m;
    if (std::strcmp(mode, "pair") == 0)
        m = PAIR;
    else if (std::strcmp(mode, "name") == 0)
        m = NAME;
    else if (std::strcmp(mode, "tag") == 0)
        m = TAG;
    else if (std::strcmp(mode, "all") == 0)
        m = ALL;
    else
        return rimgError(interp, "Invalid option.\n");
    std::string out;
    char buf[700];
    for (RAMImage *r = getRAMImage(); r; r = r->next) {
        switch (m) {
        case PAIR:
            std::snprintf(buf, sizeof buf, "{%s %s} ", r->tag,
                          r->info.fileName);
            break;
        case NAME:
            std::snprintf(buf, sizeof buf, "%s ", r->info.fileName);
            break;
        case TAG:
            std::snprintf(buf, sizeof buf, "%s ", r->tag);
            break;
        case ALL:
            std::snprintf(buf, sizeof buf, "{%s %s %d %d %d} ", r->tag,
                          r->info.fileName, r->opens, r->links,
                          ramImageClientCount(r));
            break;
        }
        out += buf;
    }
    Tcl_SetObjResult(interp, Tcl_NewStringObj(out.data(), (int)out.size()));
    return TCL_OK;
}
