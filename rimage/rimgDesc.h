/*
 * rimgDesc.h --
 *
 *	The rimage command's image description: its option table, the rules
 *	that make a configured description consistent (palette sizes, the
 *	shapes of the special image types, the least line size, grey
 *	palettes), and the shapes of the memory picture types.
 */
#ifndef VELK_RIMGDESC_H
#define VELK_RIMGDESC_H

#include <tcl.h>
#include <tk.h>

struct ImageInfo;

extern const Tk_ConfigSpec rimgConfigSpecs[];

/* The description before the option defaults: block 512, bits 8, msbf
 * of the host, no palette, no transparent index. */
void rimgInitDesc(ImageInfo *info);

/* Queries (no or one option word) or applies option words to target
 * through a working copy, then the consistency rules.  Results: TCL_OK
 * (with the query text as result), or TCL_ERROR with target unchanged. */
int rimgApplyOptions(Tcl_Interp *interp, ImageInfo *target, int argc,
                     const char *const *argv);

/* Query only: no or one option word, as rimgApplyOptions answers it. */
int rimgQueryOptions(Tcl_Interp *interp, const ImageInfo *info, int argc,
                     const char *const *argv);

/* Gives the memory picture types MRGB32..MRGB1 their bands, pixel type,
 * palette size and line size; with `ramp` the palette entries in use
 * become a truncated grey ramp. */
void rimgMemoryShape(ImageInfo *info, int ramp);

/* Palette entries 0..n-1 as a grey ramp i*255/(n-1), rounded half away
 * from zero (`rounded`) or truncated. */
void rimgGreyRamp(ImageInfo *info, int rounded);

#endif
