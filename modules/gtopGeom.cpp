/*
 * gtopGeom.cpp --
 *
 *	Rotations, central projection and clipping for gtop (gtopGeom.h).
 *	Projection into a camera image goes through centralProject: the
 *	ground point's plane z = height is mapped into the focal plane, which
 *	lies at distance F in front of the view point and is spanned by the
 *	image's column and row directions.  Relies on libm only.
 */
#include "modules/gtopGeom.h"

#include <cmath>
#include <cstring>

static void matMul(const double *a, const double *b, double *out)
{
    double t[9];
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            t[3 * i + j] = a[3 * i] * b[j] + a[3 * i + 1] * b[3 + j]
                           + a[3 * i + 2] * b[6 + j];
    std::memcpy(out, t, sizeof t);
}

void rotateKernel(double *r, int operation, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    switch (operation) {
    case 0: {
        const double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        std::memcpy(r, id, sizeof id);
        return;
    }
    case 1:
        std::swap(r[1], r[3]);
        std::swap(r[2], r[6]);
        std::swap(r[5], r[7]);
        return;
    case 2: {
        const double z[9] = {c, s, 0, -s, c, 0, 0, 0, 1};
        matMul(z, r, r);
        return;
    }
    case 3: {
        const double y[9] = {c, 0, -s, 0, 1, 0, s, 0, c};
        matMul(y, r, r);
        return;
    }
    case 4: {
        const double x[9] = {1, 0, 0, 0, c, s, 0, -s, c};
        matMul(x, r, r);
        return;
    }
    default:
        return;
    }
}

double rCentralProject(const double *r, double Z, double p, double q,
                       double Z0, double ex, double ey, double Zf,
                       double *x, double *y)
{
    double t = (Z - Z0) / (Z - Zf - r[6] * p - r[7] * q);
    *x = (r[0] * p + r[1] * q + ex) * t;
    *y = (r[3] * p + r[4] * q + ey) * t;
    return t;
}

int centralProject(const double *r, double Z, double x, double y, double Z0,
                   double ex, double ey, double Zf, double *p, double *q)
{
    const double A = Z - Z0, B = Z - Zf;
    const double a11 = A * r[0] + x * r[6], a12 = A * r[1] + x * r[7];
    const double a21 = A * r[3] + y * r[6], a22 = A * r[4] + y * r[7];
    const double b1 = B * x - A * ex, b2 = B * y - A * ey;
    const double det = a11 * a22 - a12 * a21;
    if (det == 0.0 || !std::isfinite(det))
        return -1;
    *p = (b1 * a22 - a12 * b2) / det;
    *q = (a11 * b2 - b1 * a21) / det;
    return 0;
}

double interpo(double x0, double x1, double x, double a, double b)
{
    double w = (x - x0) / (x1 - x0);
    return (1.0 - w) * a + w * b;
}

/* Moves the end beyond the edge c (coordinate `along` of each end
 * compared with c; `beyond` tells which side is out) onto the edge. */
static int clipEdge(double *a0, double *b0, double *a1, double *b1, double c,
                    bool below)
{
    bool out0 = below ? *a0 < c : *a0 > c;
    bool out1 = below ? *a1 < c : *a1 > c;
    if (out0 && out1)
        return 0;
    if (out0) {
        *b0 = interpo(*a0, *a1, c, *b0, *b1);
        *a0 = c;
    } else if (out1) {
        *b1 = interpo(*a0, *a1, c, *b0, *b1);
        *a1 = c;
    }
    return 1;
}

int lineTop(double *x0, double *y0, double *x1, double *y1, double ymin)
{
    return clipEdge(y0, x0, y1, x1, ymin, true);
}

int lineBottom(double *x0, double *y0, double *x1, double *y1, double ymax)
{
    return clipEdge(y0, x0, y1, x1, ymax, false);
}

int lineLeft(double *x0, double *y0, double *x1, double *y1, double xmin)
{
    return clipEdge(x0, y0, x1, y1, xmin, true);
}

int lineRight(double *x0, double *y0, double *x1, double *y1, double xmax)
{
    return clipEdge(x0, y0, x1, y1, xmax, false);
}

int winClip(const GtopWindow *w, double *x0, double *y0, double *x1,
            double *y1)
{
    return lineLeft(x0, y0, x1, y1, w->xmin)
           && lineRight(x0, y0, x1, y1, w->xmax)
           && lineTop(x0, y0, x1, y1, w->ymin)
           && lineBottom(x0, y0, x1, y1, w->ymax);
}

void gtopOrientation(double a, double b, double c, double *m)
{
    rotateKernel(m, 0, 0.0);
    rotateKernel(m, 2, c);
    rotateKernel(m, 3, b);
    rotateKernel(m, 4, a);
}

void gtopCameraMatrix(const double *m, double *r)
{
    /* Columns u, v, k of r are the rows of m with z negated. */
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++)
            r[3 * i + j] = (i == 2 ? -1.0 : 1.0) * m[3 * j + i];
}

int gtopLookAt(GtopCamera *cam)
{
    double k[3], len = 0.0;
    for (int i = 0; i < 3; i++) {
        k[i] = cam->target[i] - cam->view[i];
        len += k[i] * k[i];
    }
    len = std::sqrt(len);
    if (!(len > 0.0))
        return -1;
    for (double &x : k)
        x /= len;
    /* k = (sin a sin c, -sin a cos c, -cos a) of m = Rx(a) Rz(c). */
    double sa = std::hypot(k[0], k[1]);
    double a = std::atan2(sa, -k[2]);
    double c = sa > 1e-12 ? std::atan2(k[0], -k[1]) : 0.0;
    double m[9];
    gtopOrientation(a, 0.0, c, m);
    gtopCameraMatrix(m, cam->r);
    return 0;
}

int gtopProject(const GtopCamera *cam, double x, double y, double z,
                double *column, double *row)
{
    const double *r = cam->r, *v = cam->view;
    const double dx = x - v[0], dy = y - v[1], dz = z - v[2];
    if (!(r[2] * dx + r[5] * dy + r[8] * dz > 0.0))
        return 0;
    const double f = cam->focal;
    double p, q;
    if (centralProject(r, v[2], dx, dy, z, f * r[2], f * r[5],
                       v[2] + f * r[8], &p, &q) != 0)
        return 0;
    *column = cam->pc + p;
    *row = cam->pr + q;
    return 1;
}

void gtopRay(const GtopCamera *cam, double column, double row, double *d)
{
    const double *r = cam->r;
    const double p = column - cam->pc, q = row - cam->pr;
    for (int i = 0; i < 3; i++)
        d[i] = cam->focal * r[3 * i + 2] + p * r[3 * i] + q * r[3 * i + 1];
}
