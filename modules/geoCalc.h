/*
 * geoCalc.h --
 *
 *	Ground control points and the least-squares polynomial through them:
 *	the GCP store (at most 300 points), the fit of an order with means
 *	removed, residuals and RMS, the GCP text file and the rectification
 *	parameter record made from a fit.  `calc geocalc` and the "CML> "
 *	dialogue (geoCalcDialog.h) are built on it.
 */
#ifndef VELK_GEOCALC_H
#define VELK_GEOCALC_H

#include <string>
#include <vector>

#include "modules/geoParams.h"

#define GEO_MAX_GCPS 300

/* One control point. */
struct GeoCalcRec {
    int selected;           /* non-zero: takes part in the fit */
    int id;                 /* point number */
    double x1, y1;          /* position in the target (output) frame */
    double x2, y2;          /* position in the source (input) frame */
    float dx, dy;           /* residuals of the last fit, observed minus
                             * fitted x2 and y2; 0 before any fit */
};

/* The store and the state of its last fit. */
struct GeoCalcStore {
    std::vector<GeoCalcRec> recs;
    int fitted;             /* 1 after a successful geoCalcEquation, until
                             * the points change */
    int order;              /* of the last fit */
    int n;                  /* its coefficient count */
    double mx1, my1, mx2, my2; /* means over the selected points */
    double cx[GEO_MAX_TERMS]; /* x2 - mx2 in the terms of (u, v) */
    double cy[GEO_MAX_TERMS];
    double rmsx, rmsy, rms;
    std::string helpFile;   /* the dialogue's help file name */
};

GeoCalcStore *geoCalcInit(void);
void geoCalcFree(GeoCalcStore *store);

/* Results of geoCalcAddRec and the file readers. */
enum { GEO_OK = 0, GEO_EINVALID = -1, GEO_EOVERFLOW = -2, GEO_EOPEN = -3 };

/* Adds a point from its text "selected id x1 y1 x2 y2".  Results: GEO_OK,
 * or GEO_EINVALID ("Invalid record:\n<text>") or GEO_EOVERFLOW ("GCP
 * number overflow.\n") with the message in *message; the store is then
 * unchanged. */
int geoCalcAddRec(GeoCalcStore *store, const char *text,
                  std::string *message);

/* Fits the polynomial of an order through the selected points and sets
 * every point's residuals.  Results: 0; 1 with "Not enough GCPs !\n"
 * printed when fewer points are selected than the order has
 * coefficients; 2 when the points do not determine the polynomial
 * (the caller reports geoCalcSingular); -1 for an order outside
 * 0 .. GEO_MAX_ORDER. */
extern const char geoCalcSingular[];
int geoCalcEquation(GeoCalcStore *store, int order);
int geoCalcSelectedCount(const GeoCalcStore *store);

/* Results of the last fit.  GetErr: residuals of point i; GetX/GetY: the
 * n coefficients giving x2 / y2, the first including the mean; GetMSR:
 * the RMS residuals in x, in y and combined.  Each returns n or 0
 * (0 when there is no fit). */
int geoCalcGetErr(const GeoCalcStore *store, int i, double *dx, double *dy);
int geoCalcGetX(const GeoCalcStore *store, double *coefficients);
int geoCalcGetY(const GeoCalcStore *store, double *coefficients);
int geoCalcGetMSR(const GeoCalcStore *store, double *rms);

/* The parameter record of the last fit.  Results: 0, -1 without a fit. */
int makeGeoParams(const GeoCalcStore *store, GeoParams *params);
/* Writes the parameter file of the last fit.  Results: 0, or -1 with the
 * message in *message ("No fit"-message without a fit). */
int geoCalcPutFunc(const GeoCalcStore *store, const char *path,
                   std::string *message);

/* GCP text files: lines "id x1 y1 x2 y2" of at most 79 characters.
 * Load appends (or, with over, replaces) the points, selected; a line
 * that does not parse, or too many points, leaves the store unchanged.
 * Results: the number of points read, or a GEO_E code with *message. */
int geoCalcLoadFile(GeoCalcStore *store, const char *path, int over,
                    std::string *message);
/* Writes every point as "%5d %12.3f %12.3f %12.3f %12.3f\n".  Results:
 * 0, or -1 with "<path>: <system error>" in *message. */
int geoCalcSaveFile(const GeoCalcStore *store, const char *path,
                    std::string *message);

#endif
