/*
 * geoParams.h --
 *
 *	The rectification polynomial: its terms, the "GOERECHD" parameter
 *	file that holds a fitted polynomial, and its evaluation along a row
 *	of the target frame.  The fit itself is in geoCalc.h, the resampling
 *	module in georef.h.
 */
#ifndef VELK_GEOPARAMS_H
#define VELK_GEOPARAMS_H

#include <string>

/* Highest polynomial order accepted, and the coefficient count it needs. */
#define GEO_MAX_ORDER 5
#define GEO_MAX_TERMS 21

/* Parameter file header: magic, four means, n and order. */
#define GEO_PARAMS_HEAD 48

/* A rectification polynomial, as the parameter file holds it:
 * x2 = sum cx[k] * term_k(u, v), y2 = sum cy[k] * term_k(u, v) with
 * u = x1 - mx1, v = y1 - my1.  cx[0] and cy[0] include mx2 and my2. */
struct GeoParams {
    double mx1, my1;        /* means of the target (output) positions */
    double mx2, my2;        /* means of the source (input) positions */
    int n;                  /* coefficients per coordinate */
    int order;              /* 0 (bilinear) .. GEO_MAX_ORDER */
    double cy[GEO_MAX_TERMS];
    double cx[GEO_MAX_TERMS];
};

/* Coefficients of an order: (m+1)(m+2)/2, 4 for order 0; -1 when the
 * order is out of range. */
int geoTermCount(int order);

/* The terms of (u, v) for an order (`polynormial`): order 0 gives 1, u, v,
 * uv; order m >= 1 degree by degree, each in decreasing powers of u.
 * Fills geoTermCount(order) values. */
void polynormial(int order, double u, double v, double *terms);
/* Total degree of term k of an order. */
int geoTermDegree(int order, int k);

/* x2 and y2 of the target position (x1, y1). */
void geoParamsMap(const GeoParams *p, double x1, double y1, double *x2,
                  double *y2);

/* Row evaluation: along a row of fixed y1 the polynomial is one in u of
 * degree GEO_MAX_ORDER at most.  calcPolynormial gives its coefficients
 * (ax[j] of u^j, j = 0 .. order, order 0 giving degree 1) for both
 * coordinates; calcPolynormial2 evaluates one at u0, u0 + du, ... */
struct GeoRowPoly {
    int degree;
    double ax[GEO_MAX_ORDER + 1];
    double ay[GEO_MAX_ORDER + 1];
};
void calcPolynormial(const GeoParams *p, double y1, GeoRowPoly *row);
void calcPolynormial2(const GeoRowPoly *row, double u0, double du, int count,
                      double *x2, double *y2);

/* Writes the parameter file (mode 0600, little-endian).  Results: 0, or
 * -1 with "%s open error." or "%s write error." (path) in *message. */
int putGeoParams(const GeoParams *p, const char *path, std::string *message);
/* Reads a parameter file.  Results: 0, or -1 with "%s open error.",
 * "%s read error." or "%s is not a georectification parameter file."
 * in *message. */
int getGeoParams(GeoParams *p, const char *path, std::string *message);

#endif
