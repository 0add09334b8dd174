/*
 * gtopGeom.h --
 *
 *	Camera geometry of the orthorectification module (gtop.h): rotation
 *	matrices, the central projection between a plane and the focal
 *	plane, segment clipping, and the camera record built from a view
 *	point and a target or from orientation angles.
 *
 *	The ground frame is that of the ground image: x its column, y its
 *	row (southwards), z the height in the same units.  A camera sits at
 *	the view point V and looks along its axis k; u and v are the
 *	directions of its image's columns and rows.  A point P shows in the
 *	camera image at column pc + F (u.d)/(k.d), row pr + F (v.d)/(k.d),
 *	d = P - V, when k.d > 0.
 */
#ifndef VELK_GTOPGEOM_H
#define VELK_GTOPGEOM_H

/* Rotation matrices are row-major 3 x 3: r[0] .. r[8] = r00 .. r22. */

/* Operation 0 sets R to the identity, 1 transposes it; 2, 3 and 4 make
 * it Rot x R with the rotation by `angle` (radians) about the z axis
 * [[c, s, 0], [-s, c, 0], [0, 0, 1]], the y axis [[c, 0, -s], [0, 1, 0],
 * [s, 0, c]] or the x axis [[1, 0, 0], [0, c, s], [0, -s, c]]. */
void rotateKernel(double *r, int operation, double angle);

/* Maps the point (p, q) of the plane through (ex, ey, Zf) spanned by the
 * first two columns of R to the plane z = Z0, by central projection from
 * (0, 0, Z): t = (Z - Z0) / (Z - Zf - r20 p - r21 q),
 * x = (r00 p + r01 q + ex) t, y = (r10 p + r11 q + ey) t.
 * Results: t (the point is in front of the centre when t > 0). */
double rCentralProject(const double *r, double Z, double p, double q,
                       double Z0, double ex, double ey, double Zf,
                       double *x, double *y);
/* The inverse: the (p, q) that rCentralProject maps to (x, y), by
 * Cramer's rule.  Results: 0, or -1 when the system is singular. */
int centralProject(const double *r, double Z, double x, double y, double Z0,
                   double ex, double ey, double Zf, double *p, double *q);

/* (1 - w) a + w b with w = (x - x0) / (x1 - x0). */
double interpo(double x0, double x1, double x, double a, double b);

/* Segment clipping against the window [xmin, xmax] x [ymin, ymax]: each
 * edge function moves an end of the segment (x0, y0)-(x1, y1) that lies
 * beyond its edge onto the edge by linear interpolation.  Results: 1 when
 * some of the segment remains, 0 when it lies wholly beyond. */
struct GtopWindow {
    double xmin, ymin, xmax, ymax;
};
int lineTop(double *x0, double *y0, double *x1, double *y1, double ymin);
int lineBottom(double *x0, double *y0, double *x1, double *y1, double ymax);
int lineLeft(double *x0, double *y0, double *x1, double *y1, double xmin);
int lineRight(double *x0, double *y0, double *x1, double *y1, double xmax);
int winClip(const GtopWindow *w, double *x0, double *y0, double *x1,
            double *y1);

/* A camera. */
struct GtopCamera {
    double view[3];         /* view point V */
    double target[3];       /* target T */
    double r[9];            /* camera to ground: columns u, v, k */
    double focal;           /* F: focal distance in camera image pixels */
    double pc, pr;          /* principal point: column, row */
};

/* Orientation angles (radians) to the orientation matrix m = Rx(a)
 * Ry(b) Rz(c) (rotateKernel operations 2, 3, 4 in this order) and the
 * camera matrix of m: u, v, k are m's rows with their z negated (the
 * ground frame's rows grow southwards).  The view point lies at distance
 * f from the target against the axis: V = T + f (-m20, -m21, m22). */
void gtopOrientation(double a, double b, double c, double *m);
void gtopCameraMatrix(const double *m, double *r);
/* The camera looking from cam->view at cam->target with level image
 * rows (no roll): heading and tilt from the axis.  Results: 0, -1 when
 * view point and target coincide. */
int gtopLookAt(GtopCamera *cam);

/* Image position of a ground point.  Results: 1, 0 when the point is not
 * in front of the camera. */
int gtopProject(const GtopCamera *cam, double x, double y, double z,
                double *column, double *row);
/* Ground direction of the ray through an image position (not unit). */
void gtopRay(const GtopCamera *cam, double column, double row, double *d);

#endif
