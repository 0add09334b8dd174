/*
 * rimgDraw.h --
 *
 *	Drawing into a band of a raster record: polylines and filled
 *	polygons of one value, clipped to the record.  Points are pairs x, y
 *	in an array of 2 * count integers.
 */
#ifndef VELK_RIMGDRAW_H
#define VELK_RIMGDRAW_H

struct RAMImage;

/* Lines from each point to the next (both ends drawn) with value into
 * band (0-based). */
void rimgDrawPolyLine(RAMImage *r, const int *xy, int count, int value,
                      int band);
/* The closed polygon filled with value into band (0-based), even-odd,
 * with the scan conversion of the gimg masks (top rows in, bottom rows
 * out, a run covering start <= x < end), so a drawn polygon covers the
 * pixels a clip polygon of the same points shows. */
void rimgDrawPolygon(RAMImage *r, const int *xy, int count, int value,
                     int band);

#endif
