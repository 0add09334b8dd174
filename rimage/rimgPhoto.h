/*
 * rimgPhoto.h --
 *
 *	Reading a Tk photo image into a memory record, the fallback of
 *	`rimage open` for names that are no image file.  Only active when
 *	the interpreter has Tk.
 */
#ifndef VELK_RIMGPHOTO_H
#define VELK_RIMGPHOTO_H

#include <tcl.h>

struct ImageInfo;
struct RAMImage;

/* Copies photo `name` into a 3-band BYTE MBSQ record tagged
 * "<name>.photo" (one store link).  info receives the description.
 * Null when there is no Tk, no such photo, or it is empty. */
RAMImage *rimgOpenTkPhoto(Tcl_Interp *interp, const char *name,
                          ImageInfo *info);

/* Reads an image file ("-file") or inline data ("-data") through Tk's
 * photo formats into a record as rimgOpenTkPhoto does; null (result
 * reset) when Tk cannot read it. */
RAMImage *rimgOpenByTkPhoto(Tcl_Interp *interp, const char *option,
                            const char *value, ImageInfo *info);

#endif
