/*
 * rimgPhoto.cpp --
 *
 *	Tk photo images and memory records.  Reading: the photo's pixel
 *	block is copied, red, green and blue, into the three bands of a
 *	band-sequential memory record tagged after the photo; files and
 *	inline data go through a temporary photo, so every format Tk reads
 *	(PNG, GIF, PPM and any registered later) is readable.  Writing: a
 *	record is put into a photo one row at a time, as a block of three
 *	planes.  Tk is called only when this process set up Tk's stubs and
 *	the interpreter has Tk.
 */
#include "rimage/rimgPhoto.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/pixelConv.h"
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

/* Evaluates the words as one command at global level. */
static int evalWords(Tcl_Interp *interp, std::initializer_list<const char *> words)
{
    std::vector<Tcl_Obj *> objv;
    for (const char *w : words) {
        Tcl_Obj *o = Tcl_NewStringObj(w, -1);
        Tcl_IncrRefCount(o);
        objv.push_back(o);
    }
    int rc = Tcl_EvalObjv(interp, (int)objv.size(), objv.data(),
                          TCL_EVAL_GLOBAL);
    for (Tcl_Obj *o : objv)
        Tcl_DecrRefCount(o);
    return rc;
}

/* Deletes image `name`, keeping the interpreter's result as it was. */
static void deleteImage(Tcl_Interp *interp, const char *name)
{
    Tcl_Obj *saved = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(saved);
    evalWords(interp, {"image", "delete", name});
    Tcl_SetObjResult(interp, saved);
    Tcl_DecrRefCount(saved);
}

Tk_PhotoHandle getTkPhotoHandle(Tcl_Interp *interp, const char *name)
{
    if (!name || !haveTk(interp))
        return nullptr;
    return Tk_FindPhoto(interp, name);
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
    Tk_PhotoHandle photo = getTkPhotoHandle(interp, name);
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
    if (evalWords(interp, {"image", "create", "photo", option, value})
            != TCL_OK) {
        Tcl_ResetResult(interp);
        return nullptr;
    }
    std::string name = Tcl_GetStringResult(interp);
    RAMImage *r = rimgOpenTkPhoto(interp, name.c_str(), info);
    deleteImage(interp, name.c_str());
    Tcl_ResetResult(interp);
    return r;
}

/*
 * rimgCreateTkPhoto --
 *	Creates a photo image and the memory record that fills it.
 * Results:
 *	The record "<photo>.ramimg" with one store link, or null.
 * Side effects:
 *	An empty nameBuffer receives Tk's name of the new photo; a photo of
 *	that name is replaced (its widgets keep showing it).  info receives
 *	the record's description.
 */
RAMImage *rimgCreateTkPhoto(Tcl_Interp *interp, char *nameBuffer,
                            ImageInfo *info)
{
    if (!haveTk(interp))
        return nullptr;
    if (nameBuffer[0]) {
        /* Tk would replace an image of another type by the photo. */
        const Tk_ImageType *type = nullptr;
        if (Tk_GetImageMasterData(interp, nameBuffer, &type) && type
                && std::strcmp(type->name, "photo") != 0)
            return nullptr;
    }
    int rc = nameBuffer[0]
        ? evalWords(interp, {"image", "create", "photo", nameBuffer})
        : evalWords(interp, {"image", "create", "photo"});
    if (rc != TCL_OK) {
        Tcl_ResetResult(interp);
        return nullptr;
    }
    std::string name = Tcl_GetStringResult(interp);
    Tcl_ResetResult(interp);
    ImageInfo desc = *info;
    int n = std::snprintf(desc.fileName, sizeof desc.fileName, "%s.ramimg",
                          name.c_str());
    RAMImage *r = nullptr;
    if (n < (int)sizeof desc.fileName
            && name.size() < RIMG_PHOTO_NAME_SIZE) {
        if (!isMemoryImgID(desc.imgid))
            desc.imgid = IMG_MBSQ;
        desc.bits = pixelBits(desc.pixel);
        desc.offset = 0;
        desc.extraFd = -1;
        desc.volumes = 0;
        r = openRAMImage(desc.fileName, nullptr, &desc, nullptr, nullptr);
    }
    if (!r) {
        deleteImage(interp, name.c_str());
        return nullptr;
    }
    std::strcpy(nameBuffer, name.c_str());
    *info = r->info;
    return r;
}

/*
 * rimgPutTkPhoto --
 *	Puts the record's pixels into photo `name`, resizing it to the
 *	record.
 * Results:
 *	0, or 1 when there is no such photo or Tk runs out of memory.
 */
int rimgPutTkPhoto(Tcl_Interp *interp, RAMImage *r, const char *name)
{
    Tk_PhotoHandle photo = getTkPhotoHandle(interp, name);
    if (!photo)
        return 1;
    const ImageInfo &in = r->info;
    int w = in.columns, h = in.rows;
    if (Tk_PhotoSetSize(interp, photo, w, h) != TCL_OK)
        return 1;
    std::vector<unsigned char> planes(3 * (size_t)w);
    std::vector<float> values(w);
    Tk_PhotoImageBlock block;
    block.pixelPtr = planes.data();
    block.width = w;
    block.height = 1;
    block.pitch = 3 * w;
    block.pixelSize = 1;
    block.offset[0] = 0;
    block.offset[1] = w;
    block.offset[2] = 2 * w;
    block.offset[3] = 3 * w;    /* beyond the pixel: no alpha */
    int indexed = in.nindices > 0;
    for (int y = 0; y < h; y++) {
        if (indexed) {
            getFloatBILData(r, y, 0, w, 0, values.data());
            for (int x = 0; x < w; x++) {
                const unsigned char *rgb = in.palette[floatToByte(values[x])];
                for (int c = 0; c < 3; c++)
                    planes[c * (size_t)w + x] = rgb[c];
            }
        } else {
            for (int c = 0; c < 3; c++) {
                int band = c < in.nbands ? c : in.nbands - 1;
                getFloatBILData(r, y, 0, w, band, values.data());
                for (int x = 0; x < w; x++)
                    planes[c * (size_t)w + x] =
                        (unsigned char)floatToByte(values[x]);
            }
        }
        if (Tk_PhotoPutBlock(interp, photo, &block, 0, y, w, 1,
                             TK_PHOTO_COMPOSITE_SET) != TCL_OK)
            return 1;
    }
    return 0;
}
