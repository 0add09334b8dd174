/*
 * mpeg.h --
 *
 *	MPEG video as frames of a raster record.  The decoder is not part of
 *	the package yet: the probe recognises nothing and the commands are
 *	not registered.
 */
#ifndef VELK_MPEG_H
#define VELK_MPEG_H

#include <tcl.h>

struct ImageInfo;
struct RAMImage;

int imgMPEG(int fd, ImageInfo *info);
/* Creates the decoder object of a record the probe recognised; 0 on
 * failure. */
int mpegCreateDecoder(RAMImage *r);
int Mpeg_Init(Tcl_Interp *interp);

#endif
