/*
 * georefResample.cpp --
 *
 *	Output pixel to input pixel through the rectification polynomial,
 *	and the resampling kernels.  Along an output row the polynomial is
 *	one in u (geoParams.h); folding the input frame into its
 *	coefficients gives input pixel positions directly.
 *
 *	Nearest neighbour takes the pixel whose centre is nearest: a
 *	position is inside when -0.5 <= column < columns - 0.5 (rows alike).
 *	Bilinear takes the upper-left neighbour (floor) and the fractional
 *	offsets: a position is inside when 0 <= column <= columns - 1; on the
 *	last column or row the missing neighbour has weight 0.
 */
#include "modules/georefResample.h"

#include <algorithm>
#include <cmath>
#include <vector>

void georefRowPositions(const GeorefMap *m, int row, int column0, int count,
                        double *ci, double *ri)
{
    GeoRowPoly rp;
    calcPolynormial(&m->params, m->out.y0 + row * m->out.sy, &rp);
    for (int j = 0; j <= rp.degree; j++) {
        rp.ax[j] /= m->in.sx;
        rp.ay[j] /= m->in.sy;
    }
    rp.ax[0] -= m->in.x0 / m->in.sx;
    rp.ay[0] -= m->in.y0 / m->in.sy;
    double u0 = m->out.x0 + column0 * m->out.sx - m->params.mx1;
    calcPolynormial2(&rp, u0, m->out.sx, count, ci, ri);
}

/* Nearest pixel of a position along one axis of n pixels, -1 outside. */
static inline int nearestIndex(double p, int n)
{
    if (!(p >= -0.5 && p < n - 0.5))
        return -1;
    return (int)std::floor(p + 0.5);
}

/* Upper-left neighbour and fraction of a position, -1 outside. */
static inline int lowerIndex(double p, int n, double *fraction)
{
    if (!(p >= 0.0 && p <= n - 1))
        return -1;
    int i = (int)std::floor(p);
    if (i > n - 1)
        i = n - 1;
    *fraction = p - i;
    return i;
}

/* Pixel index range [lo, hi] that positions from pMin to pMax use along
 * an axis of n pixels.  Results: false when none. */
static bool usedRange(double pMin, double pMax, int n, int method, int *lo,
                      int *hi)
{
    double a = method == GEOREF_NN ? std::floor(pMin + 0.5)
                                   : std::floor(pMin);
    double b = method == GEOREF_NN ? std::floor(pMax + 0.5)
                                   : std::floor(pMax) + 1;
    a = std::max(a, 0.0);
    b = std::min(b, n - 1.0);
    if (!(a <= b))
        return false;
    *lo = (int)a;
    *hi = (int)b;
    return true;
}

int georefNeededArea(const GeorefMap *m, int column0, int row0, int columns,
                     int rows, GeorefArea *area)
{
    int cMin = m->inColumns, cMax = -1, rMin = m->inRows, rMax = -1;
    if (m->params.order <= 1) {
        /* Affine and bilinear maps take their extremes on a rectangle at
         * its corners: the corners' box is conservative. */
        double cLo = HUGE_VAL, cHi = -HUGE_VAL, rLo = HUGE_VAL,
               rHi = -HUGE_VAL;
        for (int r : {row0, row0 + rows - 1}) {
            double ci[2], ri[2];
            georefRowPositions(m, r, column0, 1, ci, ri);
            georefRowPositions(m, r, column0 + columns - 1, 1, ci + 1,
                               ri + 1);
            for (int k = 0; k < 2; k++) {
                cLo = std::min(cLo, ci[k]);
                cHi = std::max(cHi, ci[k]);
                rLo = std::min(rLo, ri[k]);
                rHi = std::max(rHi, ri[k]);
            }
        }
        if (!usedRange(cLo, cHi, m->inColumns, m->method, &cMin, &cMax)
                || !usedRange(rLo, rHi, m->inRows, m->method, &rMin, &rMax))
            return 0;
    } else {
        std::vector<double> ci(columns), ri(columns);
        for (int r = row0; r < row0 + rows; r++) {
            georefRowPositions(m, r, column0, columns, ci.data(), ri.data());
            for (int i = 0; i < columns; i++) {
                int c, rr, c1, r1;
                if (m->method == GEOREF_NN) {
                    c = nearestIndex(ci[i], m->inColumns);
                    rr = nearestIndex(ri[i], m->inRows);
                    c1 = c;
                    r1 = rr;
                } else {
                    double f;
                    c = lowerIndex(ci[i], m->inColumns, &f);
                    rr = lowerIndex(ri[i], m->inRows, &f);
                    c1 = std::min(c + 1, m->inColumns - 1);
                    r1 = std::min(rr + 1, m->inRows - 1);
                }
                if (c < 0 || rr < 0)
                    continue;
                cMin = std::min(cMin, c);
                cMax = std::max(cMax, c1);
                rMin = std::min(rMin, rr);
                rMax = std::max(rMax, r1);
            }
        }
        if (cMax < 0)
            return 0;
    }
    area->column0 = cMin;
    area->row0 = rMin;
    area->columns = cMax - cMin + 1;
    area->rows = rMax - rMin + 1;
    return 1;
}

/* The kernels' one loop: each position resampled from the area into
 * out through `store`, valid[i] telling whether it was inside the input
 * and the area.  Positions are checked before truncation, so (int) is
 * floor there. */
template <typename In, typename Out, typename Store>
static void georefKernel(const GeorefMap *m, const GeorefArea *a,
                         const In *px, const double *ci, const double *ri,
                         int count, Out *out, unsigned char *valid,
                         Store store)
{
    const int nc = m->inColumns, nr = m->inRows;
    const int c0 = a->column0, r0 = a->row0;
    const unsigned w = (unsigned)a->columns, h = (unsigned)a->rows;
    if (m->method == GEOREF_NN) {
        const double cEnd = nc - 0.5, rEnd = nr - 0.5;
        for (int i = 0; i < count; i++) {
            const double c = ci[i], r = ri[i];
            valid[i] = 0;
            if (!(c >= -0.5 && c < cEnd && r >= -0.5 && r < rEnd))
                continue;
            unsigned ic = (unsigned)((int)(c + 0.5) - c0);
            unsigned ir = (unsigned)((int)(r + 0.5) - r0);
            if (ic >= w || ir >= h)
                continue;
            out[i] = store((double)px[(size_t)ir * w + ic]);
            valid[i] = 1;
        }
        return;
    }
    const double cEnd = nc - 1, rEnd = nr - 1;
    for (int i = 0; i < count; i++) {
        const double c = ci[i], r = ri[i];
        valid[i] = 0;
        if (!(c >= 0.0 && c <= cEnd && r >= 0.0 && r <= rEnd))
            continue;
        const int jc = (int)c, jr = (int)r;
        const double fc = c - jc, fr = r - jr;
        const unsigned dc = jc + 1 < nc ? 1 : 0, dr = jr + 1 < nr ? 1 : 0;
        const unsigned ic = (unsigned)(jc - c0), ir = (unsigned)(jr - r0);
        if (ic + dc >= w || ir + dr >= h || ic >= w || ir >= h)
            continue;
        const In *p0 = px + (size_t)ir * w + ic;
        const In *p1 = p0 + (size_t)dr * w;
        const double top = (1.0 - fc) * p0[0] + fc * p0[dc];
        const double bottom = (1.0 - fc) * p1[0] + fc * p1[dc];
        out[i] = store((1.0 - fr) * top + fr * bottom);
        valid[i] = 1;
    }
}

void floatGeoref(const GeorefMap *m, const GeorefArea *area,
                 const float *pixels, const double *ci, const double *ri,
                 int count, float *out, unsigned char *valid)
{
    georefKernel(m, area, pixels, ci, ri, count, out, valid,
                 [](double v) { return (float)v; });
}

void byteGeoref(const GeorefMap *m, const GeorefArea *area,
                const unsigned char *pixels, const double *ci,
                const double *ri, int count, float *out,
                unsigned char *valid)
{
    georefKernel(m, area, pixels, ci, ri, count, out, valid,
                 [](double v) { return (float)v; });
}

/* Rounds as the store does when it writes a float into a BYTE pixel
 * (floatToByte: through float, + 0.5, truncated; values of 8-bit pixels
 * resampled stay within 0 .. 255, so nothing is clipped), so the result
 * equals byteGeoref's once stored. */
void bytebyteGeoref(const GeorefMap *m, const GeorefArea *area,
                    const unsigned char *pixels, const double *ci,
                    const double *ri, int count, unsigned char *out,
                    unsigned char *valid)
{
    georefKernel(m, area, pixels, ci, ri, count, out, valid,
                 [](double v) {
                     return (unsigned char)(int)((double)(float)v + 0.5);
                 });
}

int georefInitRotate(GeoParams *p, double angle, double scale,
                     double xshift, double yshift, double outCentreX,
                     double outCentreY, double inCentreX, double inCentreY)
{
    if (!std::isfinite(scale) || scale == 0.0 || !std::isfinite(angle)
            || !std::isfinite(xshift) || !std::isfinite(yshift))
        return -1;
    double t = angle * M_PI / 180.0;
    double c = std::cos(t) / scale, s = std::sin(t) / scale;
    p->order = 1;
    p->n = 3;
    p->mx1 = outCentreX;
    p->my1 = outCentreY;
    p->mx2 = inCentreX - xshift;
    p->my2 = inCentreY + yshift;
    p->cx[0] = p->mx2;
    p->cx[1] = c;
    p->cx[2] = s;
    p->cy[0] = p->my2;
    p->cy[1] = -s;
    p->cy[2] = c;
    return 0;
}
