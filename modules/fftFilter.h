/*
 * fftFilter.h --
 *
 *	What the Fourier module does to spectra besides transforming them:
 *	the FFT data types, the bell, high-emphasis and notch filters (with
 *	two radii and a rotation) in their two-dimensional, row and column
 *	forms, and the conversions between real/imaginary and power/phase.
 */
#ifndef VELK_FFTFILTER_H
#define VELK_FFTFILTER_H

/* FFT types, as stored in an FFT file's header. */
enum {
    FFT_INIT = 0,   /* spatial data, not transformed */
    FFT_SFRI,       /* spectrum along rows and columns, real/imaginary */
    FFT_SFPP,       /* as SFRI, power/phase */
    FFT_FSRI,       /* spatial data after a round trip, real/imaginary */
    FFT_FSPP,       /* as FSRI, power/phase */
    FFT_SFRIX,      /* spectrum along rows only, real/imaginary */
    FFT_SFRIY,      /* spectrum along columns only, real/imaginary */
    FFT_SFPPX,      /* as SFRIX, power/phase */
    FFT_SFPPY,      /* as SFRIY, power/phase */
    FFT_NTYPES
};

/* True for the power/phase types. */
int fftTypeIsPP(int type);
/* The real/imaginary type of the same content, and the power/phase one. */
int fftTypeRI(int type);
int fftTypePP(int type);

enum { FILTER_BELL, FILTER_HIGH, FILTER_NOTCH };

/* A parsed filter.  Positions are transform coordinates: x the column,
 * y the row of the stored (shifted) spectrum. */
struct FFTFilter {
    int kind;           /* FILTER_BELL, FILTER_HIGH, FILTER_NOTCH */
    double cosine, sine; /* of the rotation angle */
    double cx, cy;      /* centre: the zero frequency (Q/2, P/2), or the
                         * notch's given point */
    double mx, my;      /* the notch's mirror point (Q-1-cx, P-1-cy) */
    double rx, ry;      /* radii along the rotated x and y axes */
    double rm;          /* mean radius (rx + ry) / 2 */
    double order;       /* n */
    double amplitude;   /* a (1 for bell) */
};

/* Reads "bell,r,n", "high,r,n,amp" or "notch,r,n,amp,x,y" (the word in
 * either letter case; two radii rx,ry in place of r for the elliptic
 * forms) for a P x Q transform rotated by angle degrees.
 * Results: 0, or -1 when the word, the count of numbers, a number or a
 * radius (which must be positive) is wrong. */
int parseFilter(const char *text, double angle, int P, int Q,
                FFTFilter *filter);

/* A filter function: multiplies the rows x cols complex values of block
 * (transform rows row0.., columns col0..) by the filter's factor. */
typedef void (FFTFilterProc)(const FFTFilter *filter, float *block, int col0,
                             int cols, int row0, int rows);

FFTFilterProc fbell, high, notch, xfbell, yfbell, xhigh, yhigh, xnotch,
    ynotch;

/* Rows bell, high, notch; columns the two-dimensional, row (X) and column
 * (Y) forms. */
extern FFTFilterProc *const fltrSuite[3][3];

/* The filter function for data of an FFT type: two-dimensional for
 * SFRI/SFPP, X for SFRIX/SFPPX, Y for SFRIY/SFPPY.
 * Results: the function, or null after "wrong type of FFT image for
 * filtering." for the spatial types. */
FFTFilterProc *configFilter(const FFTFilter *filter, int type);

/* The factor of one transform position in the two-dimensional form. */
double fftFilterFactor(const FFTFilter *filter, double x, double y);

/* In-place conversions of count complex values: power = magnitude, phase
 * = atan2(im, re) (0 for magnitude 0), and back. */
void riTOpp(float *values, long count);
void ppTOri(float *values, long count);

#endif
