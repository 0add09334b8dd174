/*
 * rimgDesc.cpp --
 *
 *	The option table of the rimage command's image description (an
 *	ImageInfo) and the rules applied after every change: palette sizes
 *	per pixel type, the fixed shapes of DIB, TIFF, FFT, PPM, JPEG and the
 *	memory picture types, the least bytes per stored line, and the grey
 *	ramp of the palette entries in use.  Relies on the option engine
 *	(rimgOptions.h) and the keyword options of the type registry.
 */
#include "rimage/rimgDesc.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/velk.h"
#include "rimage/rimgOptions.h"

/* -file: a translated path into the fixed file name field. */
static int parseFileName(ClientData, Tcl_Interp *interp, Tk_Window,
                         const char *value, char *record, int offset)
{
    Tcl_DString buffer;
    Tcl_DStringInit(&buffer);
    const char *path = translateFileName(interp, &buffer, value);
    int ok = path && std::strlen(path) < sizeof(ImageInfo::fileName);
    if (ok)
        std::strcpy(record + offset, path);
    Tcl_DStringFree(&buffer);
    if (!ok) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Error in file name translation: ", value,
                         " for ", "file", nullptr);
        return 1;
    }
    return 0;
}

static const char *printFileName(ClientData, Tk_Window, char *record,
                                 int offset, Tcl_FreeProc **freeProcOut)
{
    const char *name = record + offset;
    size_t n = strnlen(name, sizeof(ImageInfo::fileName));
    char *copy = Tcl_Alloc((unsigned)n + 1);
    std::memcpy(copy, name, n);
    copy[n] = '\0';
    *freeProcOut = TCL_DYNAMIC;
    return copy;
}

static Tk_CustomOption fileNameOption = {parseFileName, printFileName,
                                         nullptr};

#define FIELD(f) (int)offsetof(ImageInfo, f)

const Tk_ConfigSpec rimgConfigSpecs[] = {
    {TK_CONFIG_CUSTOM, "-file", nullptr, nullptr, "rimage.lan",
     FIELD(fileName), 0, &fileNameOption},
    {TK_CONFIG_CUSTOM, "-mapid", nullptr, nullptr, "GRID", FIELD(mapid), 0,
     &mapIDOption},
    {TK_CONFIG_CUSTOM, "-imgid", nullptr, nullptr, "E74", FIELD(imgid), 0,
     &imgIDOption},
    {TK_CONFIG_CUSTOM, "-pixel", nullptr, nullptr, "BYTE", FIELD(pixel), 0,
     &pixelIDOption},
    {TK_CONFIG_INT, "-nbands", nullptr, nullptr, "1", FIELD(nbands), 0,
     nullptr},
    {TK_CONFIG_INT, "-msbf", nullptr, nullptr, "0", FIELD(msbf), 0, nullptr},
    {TK_CONFIG_INT, "-rows", nullptr, nullptr, "512", FIELD(rows), 0,
     nullptr},
    {TK_CONFIG_INT, "-columns", nullptr, nullptr, "512", FIELD(columns), 0,
     nullptr},
    {TK_CONFIG_INT, "-top", nullptr, nullptr, "0", FIELD(top), 0, nullptr},
    {TK_CONFIG_INT, "-left", nullptr, nullptr, "0", FIELD(left), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-x0", nullptr, nullptr, "0.0", FIELD(x0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-y0", nullptr, nullptr, "0.0", FIELD(y0), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dx", nullptr, nullptr, "1.0", FIELD(dx), 0, nullptr},
    {TK_CONFIG_DOUBLE, "-dy", nullptr, nullptr, "1.0", FIELD(dy), 0, nullptr},
    {TK_CONFIG_INT, "-offset", nullptr, nullptr, "128", FIELD(offset), 0,
     nullptr},
    {TK_CONFIG_INT, "-block", nullptr, nullptr, "512", FIELD(block), 0,
     nullptr},
    {TK_CONFIG_INT, "-nindices", nullptr, nullptr, "0", FIELD(nindices), 0,
     nullptr},
    {TK_CONFIG_END, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr},
};

/*
 * rimgInitDesc --
 *	The description's state before the option defaults are applied.
 */
void rimgInitDesc(ImageInfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->block = 512;
    info->bits = 8;
    info->msbf = msbFirst();
    info->nindices = 0;
    info->transparent = -1;
    info->extraFd = -1;
}

void rimgGreyRamp(ImageInfo *info, int rounded)
{
    int n = info->nindices;
    for (int i = 0; i < n && i < 256; i++) {
        int v = 0;
        if (n > 1) {
            double g = i * 255.0 / (n - 1);
            v = rounded ? (int)std::lround(g) : i * 255 / (n - 1);
        }
        info->palette[i][0] = info->palette[i][1] = info->palette[i][2] =
            (unsigned char)v;
    }
}

/* Sets bands, pixel type and palette size of a fixed shape. */
static void shape(ImageInfo *info, int nbands, int pixel, int nindices)
{
    info->nbands = nbands;
    info->pixel = pixel;
    info->nindices = nindices;
}

/* Palette entries of a one-band palette image: 2, 16 or 256 for 1BIT,
 * 4BITS and BYTE, -1 for other pixel types. */
static int paletteSize(int pixel)
{
    switch (pixel) {
    case PIXEL_1BIT: return 2;
    case PIXEL_4BITS: return 16;
    case PIXEL_BYTE: return 256;
    default: return -1;
    }
}

static int fail(Tcl_Interp *interp, const char *message)
{
    Tcl_SetObjResult(interp, Tcl_NewStringObj(message, -1));
    return TCL_ERROR;
}

/* The rules after a change of the description.  Returns TCL_ERROR with a
 * message when the description cannot be made consistent. */
static int normalise(Tcl_Interp *interp, ImageInfo *info)
{
    int maxIndices = paletteSize(info->pixel);
    if (info->nbands == 1 && maxIndices > 0) {
        if (info->nindices < 0 || info->nindices > maxIndices)
            return fail(interp, "Invalid index number.");
    } else {
        info->nindices = 0;
    }

    switch (info->imgid) {
    case IMG_BSQ: case IMG_BIL: case IMG_BIP:
    case IMG_MBSQ: case IMG_MBIL: case IMG_MBIP:
        if (info->pixel == PIXEL_1BIT)
            info->nindices = 2;
        break;
    case IMG_DIB:
        if (info->nbands == 1) {
            if (maxIndices < 0)
                return fail(interp, "Illegal pixel for a DIB image.");
            info->nindices = maxIndices;
        } else if (info->nbands == 3) {
            if (info->pixel != PIXEL_BYTE)
                return fail(interp, "Illegal pixel for a 24-BIT DIB image.");
            info->nindices = 0;
        } else {
            return fail(interp, "Illegal bands for a DIB image.");
        }
        break;
    case IMG_TIFF:
        if (info->nbands == 1)
            info->nindices = maxIndices > 0 ? maxIndices : 0;
        break;
    case IMG_FFT:
        shape(info, 2, PIXEL_FLOAT, 0);
        break;
    case IMG_PPM:
    case IMG_JPEG:
        if (info->nbands != 1 && info->nbands != 3)
            return fail(interp, info->imgid == IMG_PPM
                                    ? "Illegal bands for a PPM image."
                                    : "Illegal bands for a JPEG image.");
        info->pixel = PIXEL_BYTE;
        info->nindices = 0;
        info->offset = 0;
        break;
    case IMG_MRGB32: shape(info, 4, PIXEL_BYTE, 0); break;
    case IMG_MRGB24: shape(info, 3, PIXEL_BYTE, 0); break;
    case IMG_MRGB565: shape(info, 1, PIXEL_USHORT, 0); break;
    case IMG_MRGB555: shape(info, 1, PIXEL_SHORT, 0); break;
    case IMG_MRGB8: shape(info, 1, PIXEL_BYTE, 256); break;
    case IMG_MRGB4: shape(info, 1, PIXEL_4BITS, 16); break;
    case IMG_MRGB1: shape(info, 1, PIXEL_1BIT, 2); break;
    default:
        break;
    }

    if (info->rows < 1 || info->columns < 1 || info->nbands < 1)
        return fail(interp, "Invalid image size.");
    info->bits = pixelBits(info->pixel);
    int64_t lineBits = (int64_t)info->columns * info->bits;
    int64_t least;
    switch (info->imgid) {
    case IMG_BIP: case IMG_DIB: case IMG_MBIP:
    case IMG_MRGB32: case IMG_MRGB24: case IMG_MRGB565: case IMG_MRGB555:
    case IMG_MRGB8: case IMG_MRGB4: case IMG_MRGB1:
        least = (lineBits * info->nbands + 31) / 32 * 4;
        break;
    case IMG_TIFF: case IMG_FFT: case IMG_PPM:
        least = (lineBits * info->nbands + 7) / 8;
        break;
    default:
        least = (lineBits + 7) / 8;
        break;
    }
    /* Every line size the store derives must fit an int. */
    if ((int64_t)info->columns * 4 * info->nbands >= 0x7FFFFFFF)
        return fail(interp, "Invalid image size.");
    if (info->block < least)
        info->block = (int)least;
    rimgGreyRamp(info, 1);
    return TCL_OK;
}

int rimgQueryOptions(Tcl_Interp *interp, const ImageInfo *info, int argc,
                     const char *const *argv)
{
    return rimgConfigureInfo(interp, rimgConfigSpecs,
                             reinterpret_cast<const char *>(info),
                             argc > 0 ? argv[0] : nullptr);
}

/*
 * rimgApplyOptions --
 *	Queries the description (no or one option word) or applies the
 *	words to a working copy, makes it consistent and stores it.
 * Results:
 *	TCL_OK or TCL_ERROR with the message; target changes only on
 *	success.
 */
int rimgApplyOptions(Tcl_Interp *interp, ImageInfo *target, int argc,
                     const char *const *argv)
{
    if (argc < 2)
        return rimgQueryOptions(interp, target, argc, argv);
    ImageInfo work = *target;
    if (rimgConfigureWidget(interp, rimgConfigSpecs, argc, argv,
                            reinterpret_cast<char *>(&work)) != TCL_OK)
        return TCL_ERROR;
    Tcl_ResetResult(interp);
    if (normalise(interp, &work) != TCL_OK)
        return TCL_ERROR;
    *target = work;
    return TCL_OK;
}

/*
 * rimgMemoryShape --
 *	The fixed geometry of the memory picture types; other types are left
 *	alone.  With ramp, the palette becomes a truncated grey ramp.
 */
void rimgMemoryShape(ImageInfo *info, int ramp)
{
    int64_t w = info->columns;
    int64_t block = info->block;
    switch (info->imgid) {
    case IMG_MRGB32:
        info->nbands = 4; info->pixel = PIXEL_BYTE; block = w * 4;
        break;
    case IMG_MRGB24:
        info->nbands = 3; info->pixel = PIXEL_BYTE;
        block = (w * 24 + 31) / 32 * 4;
        break;
    case IMG_MRGB565:
    case IMG_MRGB555:
        info->nbands = 3; info->pixel = PIXEL_BYTE;
        block = (w + 1) / 2 * 4;
        break;
    case IMG_MRGB8:
        info->nbands = 1; info->pixel = PIXEL_BYTE; info->nindices = 256;
        block = (w + 3) / 4 * 4;
        break;
    case IMG_MRGB4:
        info->nbands = 1; info->pixel = PIXEL_4BITS; info->nindices = 4;
        block = (w + 7) / 8 * 4;
        break;
    case IMG_MRGB1:
        info->nbands = 1; info->pixel = PIXEL_1BIT; info->nindices = 2;
        block = (w + 31) / 32 * 4;
        break;
    default:
        break;
    }
    info->block = block > 0x7FFFFFFF ? 0x7FFFFFFF : (int)block;
    info->bits = pixelBits(info->pixel);
    if (ramp)
        rimgGreyRamp(info, 0);
}
