/*
 * bandCalc.h --
 *
 *	The band calculation module (`rimage calc`): eight per-pixel band
 *	functions (ratios, stretch, de-vignetting, linear combination,
 *	thresholded average, normalisation) from input bands to output
 *	bands.  The per-row arithmetic works on plain buffers.
 */
#ifndef VELK_BANDCALC_H
#define VELK_BANDCALC_H

#include <vector>

/* Module entry: command name for messages, words after the subcommand.
 * Results: 2 usage printed, 1 success, 0 failure. */
int rimgCalcAp(const char *command, int argc, const char **argv);

/* Functions, in the order of their names in the table fName. */
enum {
    CALC_DRATIO, CALC_RATIO, CALC_NRATIO, CALC_STRETCH, CALC_DEV,
    CALC_LINEAR, CALC_AVG, CALC_NORM, CALC_NFUNCTIONS
};

/* One run of a function, after its parameters were read. */
struct CalcRun {
    int function;               /* CALC_DRATIO ... CALC_NORM */
    std::vector<int> inBands;   /* 0-based bands of the input */
    std::vector<int> outBands;  /* 0-based bands of the output */
    std::vector<int> normBands; /* norm: 0-based normalising bands */
    std::vector<float> par;     /* the function's parameters, defaults
                                 * filled in */
};

/* Sets the defaults of the function's parameters for an image of the
 * given size and completes `par` (given values first).  dev divides p0
 * by 0.5 here. */
void calcDefaults(CalcRun *run, int columns, int rows);

/* One row: in holds the input bands one after the other (n values each,
 * inBands order), norm the normalising bands likewise (norm only); out
 * receives the output bands in outBands order. */
void calcRow(const CalcRun *run, int row, int n, const float *in,
             const float *norm, float *out);

#endif
