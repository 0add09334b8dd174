/*
 * gimgMask.h --
 *
 *	Masks of gimg images: bit masks (gimgBitMask.cpp), polygons and
 *	their scan conversion (gimgPolygon.h), the mask-class definitions,
 *	the combination of the masks into the mask raster and the depth-1
 *	pixmaps the display clips with, and the `mask` image subcommand
 *	(gimgMask.cpp).
 */
#ifndef VELK_GIMGMASK_H
#define VELK_GIMGMASK_H

#include "gimg/gimgInt.h"
#include "gimg/gimgPolygon.h"

/* Mask kinds of gimgMaskClear (parseMaskID). */
enum {
    GIMG_CLEAR_FRAME = 1, GIMG_CLEAR_CLIP = 2, GIMG_CLEAR_DATA = 3,
    GIMG_CLEAR_ALL = 4
};

/* ---- gimgBitMask.cpp: one-bit rasters ------------------------------- */
void maskInit(BitMask *mask);
/* Borrows the bits of a one-band 1BIT MBSQ record; 0, or -1. */
int maskRimgInit(BitMask *mask, RAMImage *r);
BitMask *maskCreate(int width, int height, int fill);
/* Allocates width x height bits, every byte fill; null when impossible. */
BitMask *maskOpen(BitMask *mask, int width, int height, int fill);
void maskClose(BitMask *mask);
void maskDelete(BitMask *mask);
void maskCopyLine(BitMask *mask, int from, int to);
/* Sets the bits of the non-zero values of a screen row (turned as the
 * pixmap when turn is non-zero). */
void maskPutLine(BitMask *mask, int row, const unsigned char *values,
                 int turn);
/* Bits of row through the port's map for screen columns first..last-1. */
void maskGetLine(const BitMask *mask, int row, int first, int last,
                 const DisplayPort *port, unsigned char *out);
void maskTurnOnSeg(BitMask *mask, int row, int x0, int x1);
/* destination := destination AND (andFlag) or OR source, bytewise. */
void clipMask(BitMask *destination, const BitMask *source, int andFlag);
int maskHasBits(const BitMask *mask);

/* ---- gimgMask.cpp: the masks of a master ---------------------------- */

/* "frame" 1, "clip" 2, "data" 3, "all" 4; -1 with "unknown mask\n". */
int parseMaskID(Tcl_Interp *interp, const char *word);
/* Clears masks of a kind, with deletePolygons also their polygons. */
void gimgMaskClear(GimgMaster *m, int kind, int deletePolygons);
/* Parses a mask-class definition into table (mode 0 set, 1 or, 2 xor).
 * Returns the number of changed entries, -1 on a syntax error. */
int gimgParseMaskDef(unsigned char *table, int mode, const char *text);
void makeClassMask(GimgMaster *m);
void makeDataMask(GimgMaster *m, const unsigned char *visibilityTable);
/* The mask raster (made when missing) with every bit set; 0, or -1. */
int gimgMaskRimg(GimgMaster *m);
void makeMaskBitmap(GimgMaster *m);
/* The union of the polygons' X regions, in screen coordinates unless
 * raw; null when there are none. */
Region gimgPolygonRegion(GimgMaster *m, const Polyg *list, int raw);
Region gimgPolygRg(GimgMaster *m, const Polyg *p);
/* Rebuilds the frame mask from the frame polygons (dynamic frames). */
void makeViewMask(GimgMaster *m);
/* The combined mask resampled to the screen through the ports; new mask
 * or null. */
BitMask *makeDispMask(const BitMask *mask, const DisplayPort *hdp,
                      const DisplayPort *vdp, int turn);
/* Puts mask into the view port's depth-1 pixmap; 1 when done. */
int maskPixmap(GimgMaster *m, const BitMask *mask, ViewPort *vp);
/* Builds the screen masks into the mask and frame bitmaps; returns the
 * mask bitmap view port's valid flag (0 when there are no masks). */
int makeMaskPixmap(GimgMaster *m, BitMask *combined, BitMask *frame,
                   ViewPort *frameVp, ViewPort *maskVp, DisplayPort *hdp,
                   DisplayPort *vdp, int turn);

GimgSubCmdProc gimgMask;

#endif
