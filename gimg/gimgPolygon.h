/*
 * gimgPolygon.h --
 *
 *	Polygons of the gimg masks and their scan conversion into run lists
 *	(even-odd rule, top rows in and bottom rows out), boolean operations
 *	on run lists, the shape words that describe polygons ("rc", "pl",
 *	"ov"), and the setting of runs into a bit mask.  Polygons and run
 *	lists are both Polyg records (gimgInt.h): a run list holds its points
 *	in pairs (start, end) on one row, covering start <= x < end, sorted
 *	by row, then column.
 */
#ifndef VELK_GIMGPOLYGON_H
#define VELK_GIMGPOLYGON_H

#include <tcl.h>

#include "gimg/gimgInt.h"

/* Points are allocated in blocks of this many. */
#define POLYG_BLOCK 256

void polygInit(Polyg *p);
/* A new empty polygon with room for `points` points, or null. */
Polyg *polygCreate(int points);
/* Grows the points to at least capacity.  0, or -1 with a message on
 * standard error and the polygon left empty. */
int polygAllocPt(Polyg *p, int capacity);
/* Appends a point (coordinates clamped to 16 bits); 0 or -1. */
int polygAddPt(Polyg *p, int x, int y);
void polygFreePt(Polyg *p);
/* Frees a whole list. */
void polygDelete(Polyg *list);
/* A copy of one polygon (its `next` is null), or null. */
Polyg *polygCopy(const Polyg *p);

/* Scan conversion of one closed polygon into a run list, or null. */
Polyg *polygPolySeg(const Polyg *p);
/* The runs of a list combined by exclusive or, zero-length runs dropped. */
Polyg *polygComb(const Polyg *list);
/* Runs of a list combined by exclusive or (xorFlag) or union. */
Polyg *polygMerge(const Polyg *list, int xorFlag);
/* Scan-converts the polygons of list into mask: exclusive or (xorFlag)
 * or union (polygMask0). */
void polygMask(const Polyg *list, BitMask *mask, int xorFlag);
void polygMask0(const Polyg *list, BitMask *mask);
/* Sets the runs of a run list in mask. */
void segMask(const Polyg *runs, BitMask *mask);

/* Run-list housekeeping. */
int segAdd(Polyg *runs, int y, int x0, int x1);
int cmpPoint(const void *a, const void *b);
void sortPolySeg(Polyg *p);
void segRemoveDup(Polyg *runs);
/* Boolean operations on the pixels covered: new run lists, or null. */
Polyg *segOr(const Polyg *a, const Polyg *b);
Polyg *segAnd(const Polyg *a, const Polyg *b);
Polyg *segXor(const Polyg *a, const Polyg *b);
/* The complement inside 0 <= x < width, 0 <= y < height. */
Polyg *segNot(const Polyg *a, int width, int height);
/* dst := dst OR src, dst := dst XOR src; 0 or -1 (dst unchanged). */
int segAppendOr(Polyg *dst, const Polyg *src);
int segAppendXor(Polyg *dst, const Polyg *src);

/* Shapes.  Each parser returns a new polygon, or null with the message
 * as the interpreter's result. */
Polyg *rectToPolyg(int x0, int y0, int x1, int y1);
Polyg *parsePolygFromRect(Tcl_Interp *interp, const char *text);
Polyg *parsePolygFromPl(Tcl_Interp *interp, int minimumNumbers,
                        const char *text);
Polyg *parsePolygFromOv(Tcl_Interp *interp, const char *text);
/* One pair of type word and its polygon description. */
Polyg *parseObj(Tcl_Interp *interp, int count, const char **words);
/* Pairs of type words and descriptions; each pair puts one polygon at
 * the head of the list returned.  Null with the message on error. */
Polyg *parsePolygFromObj(Tcl_Interp *interp, int count, const char **words);
/* Run list from operator words ("set", "or", "and", "xor") and object
 * pairs applied to a copy of runs (may be null); "current" alone returns
 * the copy.  *error is set non-zero (message in the result) on failure. */
Polyg *parseSegFromObj(Tcl_Interp *interp, const Polyg *runs, int count,
                       const char **words, int *error);

#endif
