/*
 * mpeg.cpp --
 *
 *	MPEG video frames as volumes.  The decoder is not built: the probe
 *	recognises no file, so no record ever needs a decoder object, and the
 *	`mpeg2d`/`mpeg2dec` commands are not registered.
 */
#include "mpeg.h"

#include "core/imgFormat.h"

int imgMPEG(int, ImageInfo *)
{
    return 0;
}

int mpegCreateDecoder(RAMImage *)
{
    return 0;
}

int Mpeg_Init(Tcl_Interp *)
{
    return 0;
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static const ImgFormatType mpegTypes[] = {{IMG_MPEG, LAYOUT_FRAMES}, {0, 0}};

extern const ImgFormat mpegFormat = {
    .name = "MPEG",
    .types = mpegTypes,
    .probe = imgMPEG,
    .open = mpegCreateDecoder,
};
