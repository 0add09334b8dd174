/*
 * georefResample.h --
 *
 *	The arithmetic of georeferencing, apart from the raster store: where
 *	each output pixel falls in the input (through the rectification
 *	polynomial and the two images' frames), which input area a block of
 *	output pixels needs, and the nearest-neighbour and bilinear kernels
 *	that fill a row from an input area.  The module (georef.h) reads the
 *	areas and writes the rows.
 */
#ifndef VELK_GEOREFRESAMPLE_H
#define VELK_GEOREFRESAMPLE_H

#include "modules/geoParams.h"

enum { GEOREF_NN = 1, GEOREF_BI = 2 };

/* A frame: pixel (c, r) of an image lies at x = x0 + c * sx,
 * y = y0 + r * sy (map frame: x0, y0 the map origin, sx = cell x,
 * sy = -cell y; overlay frame: left, top, 1, 1). */
struct GeorefFrame {
    double x0, y0, sx, sy;
};

/* Everything that maps an output pixel to an input pixel. */
struct GeorefMap {
    GeoParams params;       /* output frame -> input frame */
    GeorefFrame out, in;
    int inColumns, inRows;  /* the whole input image */
    int method;             /* GEOREF_NN or GEOREF_BI */
};

/* An input area held in memory: rows x columns from (column0, row0). */
struct GeorefArea {
    int column0, row0;
    int columns, rows;
};

/* Input pixel positions (column ci, row ri, fractional) of the output
 * pixels column0 .. column0 + count - 1 of output row `row`. */
void georefRowPositions(const GeorefMap *m, int row, int column0, int count,
                        double *ci, double *ri);

/* The input area that the output block (column0, row0, columns, rows)
 * needs: a box within the input holding every pixel its positions use
 * (from the corners for orders 0 and 1, else exactly).  Results: 1, or
 * 0 when no output pixel of the block falls in the input. */
int georefNeededArea(const GeorefMap *m, int column0, int row0, int columns,
                     int rows, GeorefArea *area);

/* Row kernels: out[i] receives the resampled value of position
 * (ci[i], ri[i]) from the area's pixels (row-major, area->columns per
 * row) and valid[i] 1; positions outside the input or the area leave
 * out[i] and get valid[i] 0.  floatGeoref takes float input (any pixel
 * type wider than 8 bits), byteGeoref BYTE input to float values and
 * bytebyteGeoref BYTE input to BYTE output; the results agree once
 * stored in the output's pixel type. */
void floatGeoref(const GeorefMap *m, const GeorefArea *area,
                 const float *pixels, const double *ci, const double *ri,
                 int count, float *out, unsigned char *valid);
void byteGeoref(const GeorefMap *m, const GeorefArea *area,
                const unsigned char *pixels, const double *ci,
                const double *ri, int count, float *out,
                unsigned char *valid);
void bytebyteGeoref(const GeorefMap *m, const GeorefArea *area,
                    const unsigned char *pixels, const double *ci,
                    const double *ri, int count, unsigned char *out,
                    unsigned char *valid);

/* The order-1 polynomial of a rotation by `angle` degrees, a scale and a
 * shift about the two frame centres (georef -p @angle,scale,x,y).
 * Results: 0, -1 for a zero or non-finite scale. */
int georefInitRotate(GeoParams *p, double angle, double scale,
                     double xshift, double yshift, double outCentreX,
                     double outCentreY, double inCentreX, double inCentreY);

#endif
