/*
 * gimgTable.h --
 *
 *	Arithmetic of the display's 256-entry tables, free of any gimg master:
 *	the output range of contrast and brightness, the gamma curve, the
 *	linear mapping of a value range onto an output range, the stretch and
 *	equalisation steps computed from band statistics, and the quantisation
 *	of values to colour levels.  gimgLookup.cpp builds a master's tables
 *	from these; the unit tests call them directly.
 */
#ifndef VELK_GIMGTABLE_H
#define VELK_GIMGTABLE_H

/* Enhancement function codes (-func) and statistics range codes
 * (-range). */
enum {
    GIMG_FUNC_UNKNOWN = 0, GIMG_FUNC_NONE, GIMG_FUNC_LINEAR, GIMG_FUNC_HISTS,
    GIMG_FUNC_HISTEQ
};
enum { GIMG_RANGE_UNKNOWN = 0, GIMG_RANGE_MEAN, GIMG_RANGE_DETAIL };

/* Statistics of one displayed band (or colour-table channel). */
struct GimgBandStats {
    double mean;
    double std;
    double min;
    double max;
    double total;       /* number of counted pixels */
    int nbins;          /* value bins of the band: 0 for wide pixel types */
    int bins[256];      /* counts per value, nbins of them */
};

/* The output range a..b of `contrast` (clamped to -1..1 in place) and
 * `bright`, each end within 0..255; a > b gives a negative image. */
void gimgOutputRange(double *contrast, double bright, int *a, int *b);

/* The gamma curve of mode `gmid` (0 power, 1 S-curve through the middle,
 * other values the identity) at x. */
double fgamma(double x, double gamma, int mode);

/* table[0..n-1]: values lo..hi (or pre[i] in place of i) mapped onto a..b
 * through the gamma curve, in single precision; a > b maps downward. */
void CreateFunctionTable(unsigned char *table, int n, int a, int b, float lo,
                         float hi, const unsigned char *pre, float gamma,
                         int gmid);

/* Narrows *low..*high from the statistics for `range` (MEAN: mean +- k
 * sigma; DETAIL: k/2 % of the pixels cut at each end of the bins) and
 * keeps it inside min..max.  Returns 0, leaving the range alone, when the
 * deviation is 0 or not a number. */
int gimgStatsRange(const GimgBandStats *stats, int range, float k, double *low,
                   double *high);

/* The step function of HISTS (level compaction) or HISTEQ (equalisation)
 * over the bins between low and high: table[i] := step(pre[i]), or
 * step(i) without pre, for i < 256.  Returns 0 (table untouched) when no
 * pixel lies in the range. */
int gimgHistSteps(const GimgBandStats *stats, int func, double low, double high,
                  float gamma, int gmid, const unsigned char *pre,
                  unsigned char *table);

/* One channel's function table: the mapping of the band's values (after
 * pre) onto a..b by func with the statistics (null when none are known).
 * bits is the band's pixel width, filterBg the filter background in force
 * (non-zero forces NONE over 0..255).  *low and *high are the range asked
 * for on entry and the range used on return. */
void gimgFunctionTable(const GimgBandStats *stats, int func, int range, float k,
                       int bits, int filterBg, float gamma, int gmid,
                       unsigned char *table, int n, int a, int b,
                       double *low, double *high, const unsigned char *pre);

/* Every table entry v becomes floor((min(v, cap) + floor(step/2)) / step)
 * * step. */
void Quantification(unsigned char *table, int n, int step, int cap);

/* Quantisation of 0..255 to n levels: levels[] gets the distinct levels,
 * residual[v] the value minus its level, index[v] round(level number *
 * scale).  Each output may be null. */
void colorQuantify(signed char *residual, unsigned char *levels, int n,
                   unsigned char *index, float scale);

/* A colour table of `grey` grey levels, or of the r x g x b cube (red
 * outermost); returns the number of entries (0 for any other request or
 * more than 256 entries). */
int createClrIndices(unsigned char table[][3], int grey, int r, int g,
                     int b);

#endif
