/*
 * rimgPhoto.h --
 *
 *	Exchange between Tk photo images and memory records of the store:
 *	reading a photo (or a file or inline data through Tk's photo
 *	formats) into a 3-band record, and filling a photo from a record.
 *	Every function answers "nothing" (null, 1) when the interpreter has
 *	no Tk.
 */
#ifndef VELK_RIMGPHOTO_H
#define VELK_RIMGPHOTO_H

#include <tk.h>

struct ImageInfo;
struct RAMImage;

/* Size of the name buffer rimgCreateTkPhoto fills. */
#define RIMG_PHOTO_NAME_SIZE 256

/* The photo handle of image `name`, or null (no Tk, no such photo). */
Tk_PhotoHandle getTkPhotoHandle(Tcl_Interp *interp, const char *name);

/* Copies photo `name` into a 3-band BYTE MBSQ record tagged
 * "<name>.photo" (red, green, blue bands; one store link).  info
 * receives the description.  Null when there is no Tk, no such photo, or
 * it is empty. */
RAMImage *rimgOpenTkPhoto(Tcl_Interp *interp, const char *name,
                          ImageInfo *info);

/* Reads an image file ("-file") or inline data ("-data") through Tk's
 * photo formats into a record as rimgOpenTkPhoto does; the temporary
 * photo is deleted.  Null (result reset) when Tk cannot read it. */
RAMImage *rimgOpenByTkPhoto(Tcl_Interp *interp, const char *option,
                            const char *value, ImageInfo *info);

/* Creates a photo named `nameBuffer` (RIMG_PHOTO_NAME_SIZE bytes), or
 * with Tk's generated name (written back) when the buffer is empty, and
 * a memory record "<name>.ramimg" described by info (one store link).
 * A type that is no memory type becomes MBSQ.  Null when the photo or
 * the record cannot be made (no photo is left behind then). */
RAMImage *rimgCreateTkPhoto(Tcl_Interp *interp, char *nameBuffer,
                            ImageInfo *info);

/* Sets photo `name` to the record's size and pixels: band 0 through the
 * colour table when the record has one, else bands 0, 1, 2 as red,
 * green and blue (a missing band repeats the last), values clamped to
 * 0..255.  Returns 0, or 1 when there is no such photo or Tk refuses
 * the pixels. */
int rimgPutTkPhoto(Tcl_Interp *interp, RAMImage *r, const char *name);

#endif
