/*
 * gdem.h --
 *
 *	The terrain shading module (`rimage gdem`): shaded relief of a DEM
 *	band under six shading models, and the de-shading of another image
 *	by that shade.  The per-row arithmetic works on plain buffers.
 */
#ifndef VELK_GDEM_H
#define VELK_GDEM_H

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 success, 0 failure. */
int gdemAp(const char *command, int argc, const char **argv);

/* Shading models, in the order of their option words. */
enum {
    GDEM_LAMBERT, GDEM_SINE, GDEM_TANG, GDEM_SL, GDEM_HL, GDEM_HLE
};

/* Everything the shading of one row needs; angles in radians. */
struct GdemShading {
    int model;              /* GDEM_LAMBERT ... GDEM_HLE */
    double kx, ky;          /* -2 zs / dx and 2 zs / dy */
    double dx, dy;          /* cell width and height */
    double sun[3];          /* unit vector towards the sun: east, north, up */
    double view[3];         /* unit vector towards the viewer */
    double scale;           /* S: brightness of a fully lit cell */
    double power;           /* P: sharpness of the directional part */
    double gain;            /* g: weight of the directional part */
    double offset;          /* added to the directional models */
    double height;          /* focal point above the ground */
    double xc, yc;          /* focal point, in columns and rows */
    double hotspot;         /* HLE: angle at which the hot spot ends */
    int multi;              /* 1: every row seen at row distance yc */
};

/* Fills the geometry: sun from azimuth az and vertical angle va, view
 * from vaz and vva (radians); the rest from the arguments as named. */
void gdemSetAngles(GdemShading *g, double az, double va, double vaz,
                   double vva);

/* Shades the cells between DEM rows `upper` and `lower` (n heights
 * each) into out[0 .. n); out[c] belongs to the cell of columns c - 1
 * and c, out[0] repeats out[1].  `row` is the index of `lower`, for the
 * focal-point models. */
void gdemShadeRow(const GdemShading *g, const float *upper,
                  const float *lower, int n, int row, double *out);

/* The averaged row: end columns the mean of prev[c] and cur[c], inner
 * columns the mean of columns c and c + 1 of both rows. */
void gdemAverage(const double *prev, const double *cur, int n, float *out);

/* De-shading: out[c] = image[c] + scale + feedback * shade[c]. */
void gdemCalibRow(const float *image, const float *shade, int n,
                  double scale, double feedback, float *out);

#endif
