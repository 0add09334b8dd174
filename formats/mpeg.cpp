/*
 * mpeg.cpp --
 *
 *	MPEG video frames as volumes.  The decoder is not built: the probe
 *	recognises no file, so no record ever needs a decoder object, and the
 *	`mpeg2d`/`mpeg2dec` commands are not registered.
 */
#include "mpeg.h"

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
