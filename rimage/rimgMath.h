/*
 * rimgMath.h --
 *
 *	The pixel loops of raster objects: an operator applied in place to a
 *	window of a raster under a band map, or to a data range, with numeric
 *	operands only or with the pixels of an operand raster as operand b.
 *	Values pass through the line access as floats (converted and clipped
 *	to the pixel type on writing); each loop resets the histograms of the
 *	bands it wrote and tells the raster's clients to reconfigure.
 */
#ifndef VELK_RIMGMATH_H
#define VELK_RIMGMATH_H

#include "rimage/rimgOps.h"
#include "rimage/rimgRange.h"

struct RAMImage;

/*
 * rimgMath --
 *	Numeric operands over the window (desx, desy, width, height) of
 *	every destination band (1-based) of the band map.  Slots 1 and 2
 *	are the column and row inside the window.  operands holds count
 *	values (b, c, ...).
 */
void rimgMath(RAMImage *r, int desx, int desy, int width, int height,
              const int *desBands, int pairs, RimgPixelFunc *func,
              const double *operands, int count);

/*
 * rimgExpr --
 *	Operand raster src: pair p combines source band srcBands[p] at
 *	(srcx, srcy) with destination band desBands[p] at (desx, desy), both
 *	1-based; the operand's rows repeat when the window is taller.  Slot
 *	1 is the column inside the window, slot 2 the row modulo the
 *	operand's rows.  count counts the raster; operands holds the
 *	count - 1 numbers after it.
 */
void rimgExpr(RAMImage *r, int desx, int desy, int srcx, int srcy,
              int width, int height, const int *desBands, int pairs,
              RAMImage *src, const int *srcBands, RimgPixelFunc *func,
              const double *operands, int count);

/*
 * rimgMathWithROI --
 *	Numeric operands over a range of r, each axis in ascending order;
 *	slots 1 and 2 are the absolute column and row.
 */
void rimgMathWithROI(RAMImage *r, const RimgRange *range,
                     RimgPixelFunc *func, const double *operands, int count);

/*
 * rimgExprWithROI --
 *	Walks the destination range in its directions (bands, rows, columns)
 *	and the source range in parallel in its own, wrapping each source
 *	axis: a reversed source axis mirrors, a shorter one repeats.  Slots 1
 *	and 2 are the source column and row.  operands and count as rimgExpr.
 */
void rimgExprWithROI(RAMImage *r, const RimgRange *des, RAMImage *src,
                     const RimgRange *srcRange, RimgPixelFunc *func,
                     const double *operands, int count);

#endif
