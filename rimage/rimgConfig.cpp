/*
 * rimgConfig.cpp --
 *
 *	rimage configure, cget and create: querying and changing the default
 *	description or a record's description (reloading or reshaping the
 *	record when its file or type changes), reading one option value, and
 *	creating a new image file from the defaults.
 */
#include <unistd.h>

#include <cstring>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "rimage/rimgDesc.h"
#include "rimage/rimgInt.h"
#include "rimage/rimgOptions.h"

static int updateFailed(Tcl_Interp *interp, const char *fileName, int err)
{
    Tcl_ResetResult(interp);
    Tcl_AppendResult(interp, "Update ramimg error in open file: ", fileName,
                     nullptr);
    Tcl_AddErrorInfo(interp, "\n");
    Tcl_AddErrorInfo(interp, ramimgError(err));
    return TCL_ERROR;
}

/* Gives a file record a new description of the same file.  The cache is
 * rebuilt for the new geometry with as many lines per band as before;
 * when that fails the record keeps its old description. */
static int describeInPlace(Tcl_Interp *interp, RAMImage *r,
                           const ImageInfo &work)
{
    if (std::memcmp(&work, &r->info, sizeof work) == 0)
        return TCL_OK;
    flushRAMImage(r);
    ImageInfo old = r->info;
    int oldLineBytes = r->lineBytes;
    r->info = work;
    r->lineBytes = ramImageLineBytes(work.pixel, work.columns);
    r->dataOffset = work.offset;
    if (!setRAMImageBuf(r, r->cacheLines)) {
        r->info = old;
        r->lineBytes = oldLineBytes;
        r->dataOffset = old.offset;
        return updateFailed(interp, work.fileName, RAMIMG_ENOMEM);
    }
    return TCL_OK;
}

/*
 * rimgConfigure --
 *	rimage configure ?option value ...?
 *	rimage configure TAG ?option value ...?
 * Results:
 *	The option list or entry for queries, empty after a change.
 * Side effects:
 *	Changes the defaults, or a record: described anew in place, reloaded
 *	from another file, reshaped or turned into a memory record; clients
 *	are told to reconfigure.
 */
int rimgConfigure(ImageInfo *defaults, Tcl_Interp *interp, int argc,
                  const char **argv)
{
    if (argc == 2 || argv[2][0] == '-')
        return rimgApplyOptions(interp, defaults, argc - 2, argv + 2);
    const char *tag = argv[2];
    RAMImage *r = getRAMImageByTag(tag);
    if (!r)
        return rimgNameError(interp, "Not found the ramimg tagged by: ", tag);
    if (argc - 3 < 2)
        return rimgQueryOptions(interp, &r->info, argc - 3, argv + 3);
    if (r->attributes & RAMIMG_LOCKED)
        return rimgError(interp, "Can't config a locked RAMIMG.\n");
    ImageInfo work = r->info;
    if (rimgApplyOptions(interp, &work, argc - 3, argv + 3) != TCL_OK)
        return TCL_ERROR;
    /* A packed picture keeps the shape `rimage open` gave it. */
    if (isPackedImgID(work.imgid))
        rimgMemoryShape(&work, 0);
    if (r->histograms)
        deleteHist(r->histograms, r->info.nbands);
    r->histograms = nullptr;

    int err = RAMIMG_OK;
    /* A memory type turns a file record into a memory record even when
     * the file name stays. */
    int toMemory = r->fd != -1 && isMemoryImgID(work.imgid);
    if (r->fd != -1 && !toMemory
            && std::strcmp(work.fileName, r->info.fileName) == 0) {
        if (describeInPlace(interp, r, work) != TCL_OK)
            return TCL_ERROR;
    } else {
        flushRAMImage(r);
        RAMImage *ok;
        if (r->fd == -1 || isMemoryImgID(work.imgid)) {
            /* A memory record is named by its tag. */
            std::strcpy(work.fileName, r->tag);
            ok = residentRAMImage(&work, r, &err);
        } else {
            ok = createRAMImage(work.fileName, nullptr, r, &err);
        }
        if (!ok)
            return updateFailed(interp, work.fileName, err);
        if (r->fd == -1)
            setRAMImageBuf(r, r->info.rows);
    }
    updateClient(r, nullptr, 1);
    Tcl_ResetResult(interp);
    return TCL_OK;
}

/*
 * rimgCget --
 *	rimage cget ?TAG? option: an option of the defaults, or of the image
 *	TAG (opened for the query and closed again).
 */
int rimgCget(ImageInfo *defaults, Tcl_Interp *interp, int argc,
             const char **argv)
{
    static const char tail[] = " [TAG] option";
    if (argc == 3 && argv[2][0] == '-')
        return rimgConfigureValue(interp, rimgConfigSpecs,
                                  reinterpret_cast<char *>(defaults),
                                  argv[2]);
    if (argc != 4)
        return rimgUsage(interp, argv, tail, TCL_ERROR);
    int err;
    RAMImage *r = openRAMImage(argv[2], argv[2], nullptr, nullptr, &err);
    if (!r)
        return rimgNameError(interp, "Error in open ", argv[2]);
    int rc = rimgConfigureValue(interp, rimgConfigSpecs,
                                reinterpret_cast<char *>(&r->info), argv[3]);
    closeRAMImage(r, nullptr);
    return rc;
}

/*
 * rimgCreate --
 *	rimage create ?overwrite? ?option value ...?
 * Results:
 *	"1" when the file was created, "0" when creating it failed (both
 *	TCL_OK); TCL_ERROR for bad options, memory types and existing files.
 * Side effects:
 *	The options change the defaults, which then describe the new file.
 */
int rimgCreate(ImageInfo *defaults, Tcl_Interp *interp, int argc,
               const char **argv)
{
    int first = 2, overwrite = 0;
    if (argc > 2 && std::strcmp(argv[2], "overwrite") == 0) {
        overwrite = 1;
        first = 3;
    }
    int n = argc - first;
    if (n == 1) {
        /* A lone option word: Tk's message for it. */
        ImageInfo scratch = *defaults;
        rimgConfigureWidget(interp, rimgConfigSpecs, n, argv + first,
                            reinterpret_cast<char *>(&scratch));
        return TCL_ERROR;
    }
    if (n > 1 && rimgApplyOptions(interp, defaults, n, argv + first)
                     != TCL_OK)
        return TCL_ERROR;
    if (isMemoryImgID(defaults->imgid))
        return rimgError(interp,
                         "Can't create a memory resident image on disk.\n");
    if (!overwrite && access(defaults->fileName, F_OK) == 0)
        return rimgError(interp, "Image file already exists");
    int rc = createImage(defaults);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(rc >= 0 ? 1 : 0));
    return TCL_OK;
}
