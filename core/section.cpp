/*
 * section.cpp --
 *
 *	Values along straight lines through an image: the section sampler
 *	(`points` evenly spaced positions between two points, nearest pixel or
 *	bilinear), its inverse that writes samples back onto the pixels of the
 *	line, and the ray profile from a point in a direction.  Pixel values
 *	come from the segment access (getFloatPixelValue, putFloatBILData), so
 *	every pixel type and the record's cache are handled there.
 */
#include "core/lineAccess.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

/* floor(v) as an index when it lies in lo .. size - 1. */
static bool indexInside(double v, int lo, int size, int *out)
{
    double f = std::floor(v);
    if (!(f >= lo && f < size))       /* also false for NaN */
        return false;
    *out = (int)f;
    return true;
}

static int bandOf(const int *bandList, int k)
{
    return bandList ? bandList[k] : k;
}

/* ---------------------------------------------------------------------
 * Sections
 * --------------------------------------------------------------------- */

/* Nearest pixel: the one holding (x + 0.5, y + 0.5) truncated. */
static float sectNearest(RAMImage *r, double x, double y, int band)
{
    int c, l;
    if (!indexInside(x + 0.5, 0, r->info.columns, &c)
            || !indexInside(y + 0.5, 0, r->info.rows, &l))
        return 0.0f;
    return getFloatPixelValue(r, c, l, band);
}

/* Bilinear between the pixel at the truncated position and its right,
 * lower and lower-right neighbours; a neighbour past the last column or
 * row is the pixel itself, and position -1 (just left of or above the
 * image) uses column or row 0. */
static float sectBilinear(RAMImage *r, double x, double y, int band)
{
    int ix, iy;
    if (!indexInside(x, -1, r->info.columns, &ix)
            || !indexInside(y, -1, r->info.rows, &iy))
        return 0.0f;
    double fx = x - ix, fy = y - iy;
    int c0 = std::max(ix, 0), c1 = std::min(ix + 1, r->info.columns - 1);
    int l0 = std::max(iy, 0), l1 = std::min(iy + 1, r->info.rows - 1);
    double p00 = getFloatPixelValue(r, c0, l0, band);
    double p10 = getFloatPixelValue(r, c1, l0, band);
    double p01 = getFloatPixelValue(r, c0, l1, band);
    double p11 = getFloatPixelValue(r, c1, l1, band);
    return (float)(p00 * (1 - fx) * (1 - fy) + p10 * fx * (1 - fy)
                   + p01 * (1 - fx) * fy + p11 * fx * fy);
}

/*
 * readFloatBIPSect --
 *	Samples `points` positions from (x0, y0) to (x1, y1) in `nb` bands
 *	(bandList[k], or k): out[i * nb + k].  Mode 2 interpolates
 *	bilinearly, any other mode takes the nearest pixel.  Positions outside
 *	the image give 0.
 */
void readFloatBIPSect(RAMImage *r, double x0, double y0, double x1,
                      double y1, int nb, const int *bandList, float *out,
                      int points, int mode)
{
    double sx = x1 - x0, sy = y1 - y0;
    if (points - 1 > 1) {
        sx /= points - 1;
        sy /= points - 1;
    }
    for (int i = 0; i < points; i++) {
        double x = x0 + i * sx, y = y0 + i * sy;
        for (int k = 0; k < nb; k++) {
            int band = bandOf(bandList, k);
            out[(int64_t)i * nb + k] = mode == 2 ? sectBilinear(r, x, y, band)
                                                 : sectNearest(r, x, y, band);
        }
    }
}

/* Range of DDA steps s in 0 .. n whose coordinate start + s * delta / n,
 * rounded, can fall inside 0 .. size - 1 (one step of margin each side). */
static void stepsInside(double start, double delta, double n, int size,
                        double *lo, double *hi)
{
    if (delta == 0) {
        if (start < 0 || start >= size) {
            *lo = 1;
            *hi = 0;
        }
        return;
    }
    double a = (-0.5 - start) * n / delta, b = (size - 0.5 - start) * n / delta;
    if (a > b)
        std::swap(a, b);
    *lo = std::max(*lo, std::floor(a) - 1);
    *hi = std::min(*hi, std::ceil(b) + 1);
}

/*
 * writeFloatBIPSect --
 *	The inverse of readFloatBIPSect: visits each pixel of the digital line
 *	from the pixel holding (x0, y0) to the one holding (x1, y1) once
 *	(a DDA stepping one pixel along the major axis) and writes into each
 *	of the `nb` bands the sample whose position is nearest to the pixel's
 *	projection on the line (mode 1) or the linear interpolation of the two
 *	samples around it (mode 2).  Pixels outside the image are skipped.
 * Side effects:
 *	The lines written are marked dirty.
 */
void writeFloatBIPSect(RAMImage *r, double x0, double y0, double x1,
                       double y1, int nb, const int *bandList,
                       const float *in, int points, int mode)
{
    if (points < 1 || nb < 1 || !std::isfinite(x0) || !std::isfinite(y0)
            || !std::isfinite(x1) || !std::isfinite(y1))
        return;
    double px0 = std::floor(x0 + 0.5), py0 = std::floor(y0 + 0.5);
    double ddx = std::floor(x1 + 0.5) - px0, ddy = std::floor(y1 + 0.5) - py0;
    double n = std::max(std::fabs(ddx), std::fabs(ddy));
    double lo = 0, hi = n;
    if (n > 0) {
        stepsInside(px0, ddx, n, r->info.columns, &lo, &hi);
        stepsInside(py0, ddy, n, r->info.rows, &lo, &hi);
    }
    double lx = x1 - x0, ly = y1 - y0, len2 = lx * lx + ly * ly;
    for (double s = lo; s <= hi; s++) {
        double fx = n > 0 ? px0 + std::floor(s * ddx / n + 0.5) : px0;
        double fy = n > 0 ? py0 + std::floor(s * ddy / n + 0.5) : py0;
        int cx, cy;
        if (!indexInside(fx, 0, r->info.columns, &cx)
                || !indexInside(fy, 0, r->info.rows, &cy))
            continue;
        /* Position of the pixel along the line, in samples. */
        double t = len2 > 0 ? ((cx - x0) * lx + (cy - y0) * ly) / len2 : 0;
        double pos = std::min(std::max(t * (points - 1), 0.0),
                              (double)(points - 1));
        int i = mode == 2 ? (int)pos : (int)std::floor(pos + 0.5);
        double f = mode == 2 && i < points - 1 ? pos - i : 0;
        for (int k = 0; k < nb; k++) {
            int band = bandOf(bandList, k);
            double v = in[(int64_t)i * nb + k];
            if (f > 0)
                v = v * (1 - f) + in[(int64_t)(i + 1) * nb + k] * f;
            float value = (float)v;
            putFloatBILData(r, cy, cx, 1, band, &value);
        }
    }
}

/* ---------------------------------------------------------------------
 * Profiles
 * --------------------------------------------------------------------- */

/* Bilinear between the pixel at the truncated position and its right,
 * lower and lower-right neighbours; neighbours past the last column or
 * row weigh 0. */
static float profileBilinear(RAMImage *r, double x, double y, int band)
{
    int ix, iy;
    if (!indexInside(x, 0, r->info.columns, &ix)
            || !indexInside(y, 0, r->info.rows, &iy))
        return 0.0f;
    double fx = x - ix, fy = y - iy;
    bool right = ix + 1 < r->info.columns, below = iy + 1 < r->info.rows;
    double v = getFloatPixelValue(r, ix, iy, band) * (1 - fx) * (1 - fy);
    if (right)
        v += getFloatPixelValue(r, ix + 1, iy, band) * fx * (1 - fy);
    if (below)
        v += getFloatPixelValue(r, ix, iy + 1, band) * (1 - fx) * fy;
    if (right && below)
        v += getFloatPixelValue(r, ix + 1, iy + 1, band) * fx * fy;
    return (float)v;
}

/*
 * getRAMImageProfile --
 *	Samples `points` positions along a ray from (x, y) at `angle` radians
 *	(counter-clockwise, rows counted downwards), starting `start` pixels
 *	out and `step` pixels apart, in one band: nearest pixel (rounded half
 *	away from zero) or, in mode 2, bilinear.  Outside the image: 0.
 */
void getRAMImageProfile(RAMImage *r, double x, double y, int band,
                        double angle, double step, double start, float *out,
                        int points, int mode)
{
    double c = std::cos(angle), s = std::sin(angle);
    for (int i = 0; i < points; i++) {
        double d = start + i * step;
        double px = x + d * c, py = y - d * s;
        if (mode == 2) {
            out[i] = profileBilinear(r, px, py, band);
        } else {
            int ix, iy;
            out[i] = indexInside(std::round(px), 0, r->info.columns, &ix)
                             && indexInside(std::round(py), 0, r->info.rows,
                                            &iy)
                         ? getFloatPixelValue(r, ix, iy, band)
                         : 0.0f;
        }
    }
}
