/*
 * rimgAttr.cpp --
 *
 *	rimage lock, unlock, resident and isvalid: a record's lock attribute
 *	(a locked record stays in the store when nobody uses it), whether it
 *	lives in memory, and whether a name is a record or an image file.
 */
#include "core/ramimg.h"
#include "rimage/rimgInt.h"

/* The record a one-word attribute command names, or null with the
 * message (or the usage, which succeeds) in the result. */
static RAMImage *attrTarget(Tcl_Interp *interp, int argc, const char **argv,
                            int *code)
{
    if (argc != 3) {
        *code = rimgUsage(interp, argv, " imgID", TCL_OK);
        return nullptr;
    }
    RAMImage *r = rimgFind(argv[2]);
    if (!r) {
        *code = rimgNameError(interp, "Can't found RAMIMG: ", argv[2]);
        return nullptr;
    }
    Tcl_ResetResult(interp);
    *code = TCL_OK;
    return r;
}

/* rimage lock TAG|FILE: keeps the record when it becomes unused. */
int rimgLock(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    int code;
    if (RAMImage *r = attrTarget(interp, argc, argv, &code))
        attrRAMImage(r, RAMIMG_LOCKED);
    return code;
}

/* rimage unlock TAG|FILE: the next close that leaves it unused frees it. */
int rimgUnlock(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    int code;
    if (RAMImage *r = attrTarget(interp, argc, argv, &code))
        attrRAMImage(r, 0);
    return code;
}

/* rimage resident TAG|FILE: "1" for a memory-resident record. */
int rimgResident(ImageInfo *, Tcl_Interp *interp, int argc,
                 const char **argv)
{
    int code;
    if (RAMImage *r = attrTarget(interp, argc, argv, &code))
        Tcl_SetObjResult(interp, Tcl_NewIntObj(r->fd == -1 ? 1 : 0));
    return code;
}

/*
 * rimgIsvalid --
 *	rimage isvalid X
 * Results:
 *	"1" when X is a record's tag or file name or an image file that
 *	opens, else "0" with the store's error text in the error
 *	information.
 */
int rimgIsvalid(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc != 3)
        return rimgUsage(interp, argv, " imgid", TCL_ERROR);
    Tcl_ResetResult(interp);
    int valid = rimgFind(argv[2]) != nullptr;
    if (!valid) {
        int err;
        RAMImage *r = openRAMImage(nullptr, argv[2], nullptr, nullptr, &err);
        if (r) {
            closeRAMImage(r, nullptr);
            valid = 1;
        } else {
            Tcl_AddErrorInfo(interp, ramimgError(err));
        }
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(valid));
    return TCL_OK;
}
