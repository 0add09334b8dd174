/*
 * rimgPhoto.cpp --
 *
 *	Tk photo images into memory records: the photo's size and pixel
 *	block are read and its red, green and blue channels copied into the
 *	three bands of a band-sequential memory record.  Tk is called only
 *	when this process set up Tk's stubs and the interpreter has Tk.
 */
#include "rimage/rimgPhoto.h"

#include <cstdio>
#include <cstring>

#include <tk.h>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/velk.h"

/* True when Tk may be called for interp. */
static int haveTk(Tcl_Interp *interp)
{
    if (!velkHaveTk())
        return 0;
    if (!Tcl_PkgPresent(interp, "Tk", nullptr, 0)) {
        Tcl_ResetResult(interp);
        return 0;
    }
    return 1;
}

/*
 * rimgOpenTkPhoto --
 *	Reads photo `name` into a new (or reshaped) memory record.
 * Results:
 *	The record with one store link, or null.
 */
RAMImage *rimgOpenTkPhoto(Tcl_Interp *interp, const char *name,
                          ImageInfo *info)
{
    if (!haveTk(interp))
        return nullptr;
    Tk_PhotoHandle photo = Tk_FindPhoto(interp, name);
    if (!photo)
        return nullptr;
    Tk_PhotoImageBlock block;
    Tk_PhotoGetImage(photo, &block);
    if (block.width < 1 || block.height < 1 || !block.pixelPtr)
        return nullptr;
    char tag[256];
    if (std::snprintf(tag, sizeof tag, "%s.photo", name) >= (int)sizeof tag)
        return nullptr;
    std::strcpy(info->fileName, tag);
    info->imgid = IMG_MBSQ;
    info->pixel = PIXEL_BYTE;
    info->bits = 8;
    info->nbands = 3;
    info->columns = block.width;
    info->rows = block.height;
    info->block = block.width;
    info->offset = 0;
    info->top = info->left = 0;
    info->nindices = 0;
    info->transparent = -1;
    info->extraFd = -1;
    info->volumes = 0;
    RAMImage *r = openRAMImage(tag, nullptr, info, nullptr, nullptr);
    if (!r)
        return nullptr;
    for (int b = 0; b < 3; b++) {
        for (int y = 0; y < block.height; y++) {
            unsigned char *line = r->getLine(r, y, b, 0);
            if (!line)
                continue;
            const unsigned char *src = block.pixelPtr + y * block.pitch
                                       + block.offset[b];
            for (int x = 0; x < block.width; x++)
                line[x] = src[x * block.pixelSize];
            updateRAMImageLine(r, y, 0, block.width, b);
        }
    }
    return r;
}

/*
 * rimgOpenByTkPhoto --
 *	Reads an image through Tk's photo formats: a photo is created with
 *	option ("-file" or "-data") and value, copied into a memory record
 *	by rimgOpenTkPhoto and deleted again.
 * Results:
 *	The record with one store link, or null (result reset).
 */
RAMImage *rimgOpenByTkPhoto(Tcl_Interp *interp, const char *option,
                            const char *value, ImageInfo *info)
{
    if (!haveTk(interp))
        return nullptr;
    Tcl_Obj *cmd = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(cmd);
    Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj("image", -1));
    Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj("create", -1));
    Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj("photo", -1));
    Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj(option, -1));
    Tcl_ListObjAppendElement(nullptr, cmd, Tcl_NewStringObj(value, -1));
    int rc = Tcl_EvalObjEx(interp, cmd, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(cmd);
    if (rc != TCL_OK) {
        Tcl_ResetResult(interp);
        return nullptr;
    }
    Tcl_Obj *name = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(name);
    RAMImage *r = rimgOpenTkPhoto(interp, Tcl_GetString(name), info);
    Tcl_Obj *del = Tcl_NewListObj(0, nullptr);
    Tcl_IncrRefCount(del);
    Tcl_ListObjAppendElement(nullptr, del, Tcl_NewStringObj("image", -1));
    Tcl_ListObjAppendElement(nullptr, del, Tcl_NewStringObj("delete", -1));
    Tcl_ListObjAppendElement(nullptr, del, name);
    Tcl_EvalObjEx(interp, del, TCL_EVAL_GLOBAL);
    Tcl_DecrRefCount(del);
    Tcl_DecrRefCount(name);
    Tcl_ResetResult(interp);
    return r;
}
