/*
 * gimgMask.h --
 *
 *	Masks of gimg images: bit masks, polygons and their scan conversion,
 *	the mask-class definitions, the combination of the masks into the
 *	mask raster and the depth-1 pixmaps the display clips with, and the
 *	`mask` image subcommand.
 */
#ifndef VELK_GIMGMASK_H
#define VELK_GIMGMASK_H

#include "gimg/gimgInt.h"

/* Mask kinds of gimgMaskClear (parseMaskID). */
enum {
    GIMG_CLEAR_FRAME = 1, GIMG_CLEAR_CLIP = 2, GIMG_CLEAR_DATA = 3,
    GIMG_CLEAR_ALL = 4
};

void maskInit(BitMask *mask);
BitMask *maskOpen(BitMask *mask, int width, int height, int fill);
void maskClose(BitMask *mask);
void polygDelete(Polyg *list);
/* Scan-converts the polygons of list into mask (xorFlag: exclusive or). */
void polygMask(Polyg *list, BitMask *mask, int xorFlag);

/* Clears masks of a kind, with deletePolygons also their polygons. */
void gimgMaskClear(GimgMaster *m, int kind, int deletePolygons);
/* Parses a mask-class definition into table (mode 0 set, 1 or, 2 xor).
 * Returns the number of changed entries, -1 on a syntax error. */
int gimgParseMaskDef(unsigned char *table, int mode, const char *text);
void makeClassMask(GimgMaster *m);
void makeDataMask(GimgMaster *m, const unsigned char *visibilityTable);
void makeMaskBitmap(GimgMaster *m);
/* Rebuilds the frame mask from the frame polygons (dynamic frames). */
void makeViewMask(GimgMaster *m);
/* Builds the screen masks into the mask and frame bitmaps; returns the
 * mask bitmap view port's valid flag. */
int makeMaskPixmap(GimgMaster *m, BitMask *combined, BitMask *frame,
                   ViewPort *frameVp, ViewPort *maskVp, DisplayPort *hdp,
                   DisplayPort *vdp, int turn);

GimgSubCmdProc gimgMask;

#endif
