/*
 * gimgTable.cpp --
 *
 *	The arithmetic of the display's 256-entry tables: output range,
 *	gamma, the linear mapping of lo..hi onto a..b, the range and step
 *	functions taken from band statistics, level quantisation and colour
 *	tables of levels.  Nothing here knows a gimg master; gimgLookup.cpp
 *	fills the master's tables with these functions.
 *
 *	Precision is part of the contract, because the tables are compared
 *	pixel for pixel with independent renderings: the mapping of lo..hi
 *	and the level steps run in single precision, the gamma curve and the
 *	cumulative fractions of the histogram in double precision, and every
 *	conversion to an integer truncates toward zero unless it says round.
 */
#include "gimg/gimgTable.h"

#include <cmath>
#include <cstring>

/* Half away from zero, as C's round. */
static int roundHalfAway(double v)
{
    return (int)std::round(v);
}

/* A double clamped to lo..hi and truncated; not-a-number gives lo. */
static int clampTrunc(double v, int lo, int hi)
{
    if (!(v > lo))
        return lo;
    if (v > hi)
        return hi;
    return (int)v;
}

/*
 * gimgOutputRange --
 *	Contrast c (clamped to -1..1 and written back) gives the span around
 *	the middle grey, brightness shifts it by (bright - 0.5) * 512.
 * Results:
 *	*a and *b, each within 0..255.
 */
void gimgOutputRange(double *contrast, double bright, int *a, int *b)
{
    double c = *contrast;
    if (c > 1)
        c = 1.0;
    if (c < -1)
        c = -1.0;
    *contrast = c;
    int lo, hi;
    if (c > 0) {
        lo = (int)((1 - c) * 127.5);
        hi = 255 - lo;
    } else {
        hi = (int)((c + 1) * 127.5);
        lo = 255 - hi;
    }
    double shift = (bright - 0.5) * 512;
    *a = clampTrunc(shift + lo, 0, 255);
    *b = clampTrunc(shift + hi, 0, 255);
}

double fgamma(double x, double gamma, int mode)
{
    switch (mode) {
    case 0:
        return x > 0 ? std::pow(x + 1e-11, gamma) : 0;
    case 1:
        if (x <= 0)
            return 0;
        if (x >= 1)
            return 1;
        if (x >= 0.5)
            return 1 - 0.5 * std::pow((1 - x) / 0.5 + 1e-11, gamma);
        return 0.5 * std::pow(x / 0.5 + 1e-11, gamma);
    default:
        return x;
    }
}

/*
 * CreateFunctionTable --
 *	table[i] for i < n: the value (pre[i], or i) limited to lo..hi, its
 *	fraction of lo..hi through the gamma curve, spread onto a..b.  The
 *	upper end gets b + 0.999 so that the top value reaches b.
 */
void CreateFunctionTable(unsigned char *table, int n, int a, int b, float lo,
                         float hi, const unsigned char *pre, float gamma,
                         int gmid)
{
    float r = hi - lo;
    float top = (float)b + 0.999f;
    int least = a < b ? a : b, most = a < b ? b : a;
    for (int i = 0; i < n; i++) {
        if (r == 0) {
            table[i] = (unsigned char)a;
            continue;
        }
        float v = pre ? (float)pre[i] : (float)i;
        if (v >= hi)
            v = std::trunc(hi);
        else if (v <= lo)
            v = std::trunc(lo);
        float x = (v - lo) / r;
        float g = (float)fgamma(x, gamma, gmid);
        float out = g * top + (1.0f - g) * (float)a;
        if (out < least)
            table[i] = (unsigned char)least;
        else if (out > most)
            table[i] = (unsigned char)most;
        else
            table[i] = (unsigned char)(int)out;
    }
}

/*
 * gimgStatsRange --
 *	MEAN (and DETAIL over fewer than 16 bins): mean -+ k sigma in single
 *	precision.  DETAIL: the first bin past the lowest k/200 of the pixels
 *	and the first bin below the highest k/200.  Then limited to the
 *	band's extremes.
 * Results:
 *	1 with *low and *high set, or 0 when the deviation is 0 or NaN.
 */
int gimgStatsRange(const GimgBandStats *stats, int range, float k, double *low,
                   double *high)
{
    if (stats->std == 0 || std::isnan(stats->std))
        return 0;
    if (range == GIMG_RANGE_MEAN
        || (range == GIMG_RANGE_DETAIL && stats->nbins < 16)) {
        float mean = (float)stats->mean, sigma = (float)stats->std;
        *low = mean - k * sigma;
        *high = mean + k * sigma;
    } else if (range == GIMG_RANGE_DETAIL) {
        int nbins = stats->nbins > 256 ? 256 : stats->nbins;
        double t = k / 200.0, sum = 0;
        int i;
        for (i = 0; sum < t && i < nbins; i++)
            sum += stats->bins[i] / stats->total;
        *low = i;
        sum = 0;
        for (i = nbins - 1; sum < t && i >= 1; i--)
            sum += stats->bins[i] / stats->total;
        *high = i;
    }
    if (*low < stats->min)
        *low = stats->min;
    if (*high > stats->max)
        *high = stats->max;
    return 1;
}

/*
 * gimgHistSteps --
 *	c(i), the share of the pixels between low and high that lie at or
 *	below bin i (0 below the range, 1 above it), turned into a step
 *	function: HISTEQ spreads c above the share of the lowest bin over
 *	0..255; HISTS numbers the distinct levels of 255 c and spreads the
 *	level numbers evenly (the level before bin 0 counts as 0, so an empty
 *	start of the histogram and the first occupied bin share level 0).
 */
int gimgHistSteps(const GimgBandStats *stats, int func, double low, double high,
                  float gamma, int gmid, const unsigned char *pre,
                  unsigned char *table)
{
    int nbins = stats->nbins > 256 ? 256 : stats->nbins;
    double total = 0;
    for (int i = 0; i < nbins; i++)
        if (i >= low && i <= high)
            total += stats->bins[i];
    if (total == 0)
        return 0;
    double c[256], running = 0;
    for (int i = 0; i < 256; i++) {
        if (i < low) {
            c[i] = 0;
        } else if (i > high) {
            c[i] = 1;
        } else {
            running += i < nbins ? stats->bins[i] : 0;
            c[i] = running / total;
        }
    }
    int step[256];
    if (func == GIMG_FUNC_HISTS) {
        int level = -1, previous = 0;
        for (int i = 0; i < 256; i++) {
            int v = c[i] == 0
                        ? 0
                        : (int)(0.5 + 255 * fgamma(c[i], gamma, gmid));
            if (v > level && v > previous)
                level++;
            previous = v;
            step[i] = level;
        }
        for (int i = 0; i < 256; i++)
            step[i] = clampTrunc(
                std::trunc(step[i] / (level + 0.0001) * 255 + 0.5), 0, 255);
    } else {
        int first = roundHalfAway(low);
        double p0 = first >= 0 && first < nbins ? stats->bins[first] / total
                                                : 0;
        for (int i = 0; i < 256; i++)
            step[i] = c[i] <= p0
                          ? 0
                          : clampTrunc(0.5 + 255 * fgamma((c[i] - p0)
                                                              / (1 - p0),
                                                          gamma, gmid),
                                       0, 255);
    }
    for (int i = 0; i < 256; i++)
        table[i] = (unsigned char)step[pre ? pre[i] : i];
    return 1;
}

/*
 * gimgFunctionTable --
 *	createFunction without the master: see gimgTable.h.
 */
void gimgFunctionTable(const GimgBandStats *stats, int func, int range, float k,
                       int bits, int filterBg, float gamma, int gmid,
                       unsigned char *table, int n, int a, int b,
                       double *low, double *high, const unsigned char *pre)
{
    float lo = 0, hi = 255;
    if (filterBg == 0) {
        if (bits <= 8) {
            lo = (float)*low;
            hi = (float)*high;
        }
    } else {
        func = GIMG_FUNC_NONE;
    }
    if (func != GIMG_FUNC_NONE && stats
        && gimgStatsRange(stats, range, k, low, high)) {
        lo = 0;
        hi = 255;
        if (stats->nbins > 2) {
            if (func == GIMG_FUNC_LINEAR) {
                lo = (float)*low;
                hi = (float)*high;
            } else if ((func == GIMG_FUNC_HISTS || func == GIMG_FUNC_HISTEQ)
                       && gimgHistSteps(stats, func, *low, *high, gamma,
                                        gmid, pre, table)) {
                gamma = 1.0f;
                pre = table;
            }
        }
    }
    CreateFunctionTable(table, n, a, b, lo, hi, pre, gamma, gmid);
}

void Quantification(unsigned char *table, int n, int step, int cap)
{
    if (step < 1)
        return;
    for (int i = 0; i < n; i++) {
        int v = table[i] < cap ? table[i] : cap;
        table[i] = (unsigned char)((v + step / 2) / step * step);
    }
}

/*
 * colorQuantify --
 *	n levels over 0..255 in steps of 256 / (n - 1) (single precision),
 *	each value going to the nearest step, 256 to 255.
 */
void colorQuantify(signed char *residual, unsigned char *levels, int n,
                   unsigned char *index, float scale)
{
    if (levels)
        levels[0] = 0;
    if (n <= 1) {
        if (residual)
            residual[0] = 0;
        return;
    }
    float s = 256.0f / (float)(n - 1);
    int previous = 0, m = 0;
    for (int v = 0; v < 256; v++) {
        int q = v;
        if (n != 256) {
            float steps = (float)(int)(((float)v + s / 2) / s);
            q = (int)std::round(steps * s);
        }
        if (q > 255)
            q = 255;
        if (residual)
            residual[v] = (signed char)(v - q);
        if (q != previous) {
            m++;
            if (levels && m < 256)
                levels[m] = (unsigned char)q;
            previous = q;
        }
        if (index)
            index[v] = (unsigned char)std::round((float)m * scale);
    }
}

int createClrIndices(unsigned char table[][3], int grey, int r, int g,
                     int b)
{
    if (grey > 0 && r <= 0 && g <= 0 && b <= 0) {
        if (grey > 256)
            return 0;
        unsigned char levels[256] = {0};
        colorQuantify(nullptr, levels, grey, nullptr, 1.0f);
        for (int i = 0; i < grey; i++)
            table[i][0] = table[i][1] = table[i][2] = levels[i];
        return grey;
    }
    if (grey > 0 || r <= 0 || g <= 0 || b <= 0 || r * g * b > 256)
        return 0;
    unsigned char red[256] = {0}, green[256] = {0}, blue[256] = {0};
    colorQuantify(nullptr, red, r, nullptr, 1.0f);
    colorQuantify(nullptr, green, g, nullptr, 1.0f);
    colorQuantify(nullptr, blue, b, nullptr, 1.0f);
    int k = 0;
    for (int i = 0; i < r; i++)
        for (int j = 0; j < g; j++)
            for (int l = 0; l < b; l++) {
                table[k][0] = red[i];
                table[k][1] = green[j];
                table[k][2] = blue[l];
                k++;
            }
    return k;
}
