/*
 * geoCalc.cpp --
 *
 *	The GCP store and the polynomial fit.  The fit centres both frames
 *	on the means of the selected points, accumulates the normal
 *	equations of the polynomial terms against x2 and y2 and solves them
 *	by Gaussian elimination.  The terms are computed of u/s and v/s, s
 *	the largest centred coordinate, and the solution scaled back: the
 *	same least-squares polynomial, but the normal equations of a cubic
 *	over a scene 1000 pixels wide stay well conditioned.  Relies on the
 *	package's standard streams for the fit's messages.
 */
#include "modules/geoCalc.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/stdstream.h"

const char geoCalcSingular[] =
    "Singular equations: the selected GCPs do not determine the "
    "polynomial (points repeated or on one line?)";

GeoCalcStore *geoCalcInit(void)
{
    GeoCalcStore *store = new GeoCalcStore();
    store->fitted = 0;
    store->order = 1;
    store->n = 0;
    store->mx1 = store->my1 = store->mx2 = store->my2 = 0.0;
    store->rmsx = store->rmsy = store->rms = 0.0;
    store->helpFile = "geocalc.hlp";
    return store;
}

void geoCalcFree(GeoCalcStore *store)
{
    delete store;
}

/* Parses "selected id x1 y1 x2 y2" with nothing but blanks after it. */
static int parseRec(const char *text, GeoCalcRec *rec)
{
    int end = 0;
    if (std::sscanf(text, "%d %d %lf %lf %lf %lf %n", &rec->selected,
                    &rec->id, &rec->x1, &rec->y1, &rec->x2, &rec->y2, &end)
            < 6 || text[end] != '\0')
        return 0;
    if (!std::isfinite(rec->x1) || !std::isfinite(rec->y1)
            || !std::isfinite(rec->x2) || !std::isfinite(rec->y2))
        return 0;
    rec->dx = rec->dy = 0.0f;
    return 1;
}

int geoCalcAddRec(GeoCalcStore *store, const char *text,
                  std::string *message)
{
    GeoCalcRec rec;
    if (!parseRec(text, &rec)) {
        *message = std::string("Invalid record:\n") + text;
        return GEO_EINVALID;
    }
    if ((int)store->recs.size() >= GEO_MAX_GCPS) {
        *message = "GCP number overflow.\n";
        return GEO_EOVERFLOW;
    }
    store->recs.push_back(rec);
    store->fitted = 0;
    return GEO_OK;
}

int geoCalcSelectedCount(const GeoCalcStore *store)
{
    int s = 0;
    for (const GeoCalcRec &r : store->recs)
        s += r.selected != 0;
    return s;
}

/* Solves the n x n system a (row-major) for the two right-hand sides in
 * place by Gaussian elimination with partial pivoting.  Results: 0, or
 * -1 when a pivot vanishes relative to the largest diagonal element. */
static int solveNormal(double *a, double *bx, double *by, int n)
{
    double scale = 0.0;
    for (int i = 0; i < n; i++)
        scale = std::fmax(scale, std::fabs(a[i * n + i]));
    const double tiny = scale * 1e-13;
    for (int c = 0; c < n; c++) {
        int p = c;
        for (int r = c + 1; r < n; r++)
            if (std::fabs(a[r * n + c]) > std::fabs(a[p * n + c]))
                p = r;
        if (!(std::fabs(a[p * n + c]) > tiny))
            return -1;
        if (p != c) {
            for (int k = 0; k < n; k++)
                std::swap(a[p * n + k], a[c * n + k]);
            std::swap(bx[p], bx[c]);
            std::swap(by[p], by[c]);
        }
        for (int r = c + 1; r < n; r++) {
            double f = a[r * n + c] / a[c * n + c];
            if (f == 0.0)
                continue;
            for (int k = c; k < n; k++)
                a[r * n + k] -= f * a[c * n + k];
            bx[r] -= f * bx[c];
            by[r] -= f * by[c];
        }
    }
    for (int r = n - 1; r >= 0; r--) {
        double sx = bx[r], sy = by[r];
        for (int k = r + 1; k < n; k++) {
            sx -= a[r * n + k] * bx[k];
            sy -= a[r * n + k] * by[k];
        }
        bx[r] = sx / a[r * n + r];
        by[r] = sy / a[r * n + r];
    }
    return 0;
}

/*
 * geoCalcEquation --
 *	Fits the polynomial of `order` through the selected points.
 * Results:
 *	See geoCalc.h.
 * Side effects:
 *	The fit state and every point's residuals; messages on standard
 *	output.
 */
int geoCalcEquation(GeoCalcStore *store, int order)
{
    const int n = geoTermCount(order);
    if (n < 0)
        return -1;
    store->fitted = 0;
    const int s = geoCalcSelectedCount(store);
    if (s < n) {
        stdoutPrintf("Not enough GCPs !\n");
        return 1;
    }
    double m1x = 0, m1y = 0, m2x = 0, m2y = 0;
    for (const GeoCalcRec &r : store->recs) {
        if (!r.selected)
            continue;
        m1x += r.x1;
        m1y += r.y1;
        m2x += r.x2;
        m2y += r.y2;
    }
    m1x /= s;
    m1y /= s;
    m2x /= s;
    m2y /= s;
    double reach = 0.0;
    for (const GeoCalcRec &r : store->recs)
        if (r.selected)
            reach = std::fmax(reach, std::fmax(std::fabs(r.x1 - m1x),
                                               std::fabs(r.y1 - m1y)));
    if (reach == 0.0)
        reach = 1.0;

    double a[GEO_MAX_TERMS * GEO_MAX_TERMS] = {0};
    double bx[GEO_MAX_TERMS] = {0}, by[GEO_MAX_TERMS] = {0};
    double t[GEO_MAX_TERMS];
    for (const GeoCalcRec &r : store->recs) {
        if (!r.selected)
            continue;
        polynormial(order, (r.x1 - m1x) / reach, (r.y1 - m1y) / reach, t);
        for (int i = 0; i < n; i++) {
            for (int j = 0; j < n; j++)
                a[i * n + j] += t[i] * t[j];
            bx[i] += t[i] * (r.x2 - m2x);
            by[i] += t[i] * (r.y2 - m2y);
        }
    }
    if (solveNormal(a, bx, by, n) != 0)
        return 2;
    for (int k = 0; k < n; k++) {
        double f = std::pow(reach, geoTermDegree(order, k));
        store->cx[k] = bx[k] / f;
        store->cy[k] = by[k] / f;
    }

    double sxx = 0, syy = 0;
    for (GeoCalcRec &r : store->recs) {
        polynormial(order, (r.x1 - m1x) / reach, (r.y1 - m1y) / reach, t);
        double fx = 0, fy = 0;
        for (int k = 0; k < n; k++) {
            fx += bx[k] * t[k];
            fy += by[k] * t[k];
        }
        double dx = (r.x2 - m2x) - fx, dy = (r.y2 - m2y) - fy;
        r.dx = (float)dx;
        r.dy = (float)dy;
        sxx += dx * dx;
        syy += dy * dy;
    }
    store->order = order;
    store->n = n;
    store->mx1 = m1x;
    store->my1 = m1y;
    store->mx2 = m2x;
    store->my2 = m2y;
    store->rmsx = std::sqrt(sxx / s);
    store->rmsy = std::sqrt(syy / s);
    store->rms = std::sqrt((sxx + syy) / s);
    store->fitted = 1;
    return 0;
}

int geoCalcGetErr(const GeoCalcStore *store, int i, double *dx, double *dy)
{
    if (i < 0 || i >= (int)store->recs.size())
        return 0;
    *dx = store->recs[i].dx;
    *dy = store->recs[i].dy;
    return 1;
}

int geoCalcGetX(const GeoCalcStore *store, double *coefficients)
{
    if (!store->fitted)
        return 0;
    for (int k = 0; k < store->n; k++)
        coefficients[k] = store->cx[k];
    coefficients[0] += store->mx2;
    return store->n;
}

int geoCalcGetY(const GeoCalcStore *store, double *coefficients)
{
    if (!store->fitted)
        return 0;
    for (int k = 0; k < store->n; k++)
        coefficients[k] = store->cy[k];
    coefficients[0] += store->my2;
    return store->n;
}

int geoCalcGetMSR(const GeoCalcStore *store, double *rms)
{
    if (!store->fitted)
        return 0;
    rms[0] = store->rmsx;
    rms[1] = store->rmsy;
    rms[2] = store->rms;
    return 3;
}

int makeGeoParams(const GeoCalcStore *store, GeoParams *params)
{
    if (!store->fitted)
        return -1;
    params->mx1 = store->mx1;
    params->my1 = store->my1;
    params->mx2 = store->mx2;
    params->my2 = store->my2;
    params->order = store->order;
    params->n = geoCalcGetX(store, params->cx);
    geoCalcGetY(store, params->cy);
    return 0;
}

int geoCalcPutFunc(const GeoCalcStore *store, const char *path,
                   std::string *message)
{
    GeoParams params;
    if (makeGeoParams(store, &params) != 0) {
        *message = "No fitted polynomial to save: calculate first.";
        return -1;
    }
    return putGeoParams(&params, path, message);
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

int geoCalcLoadFile(GeoCalcStore *store, const char *path, int over,
                    std::string *message)
{
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path, "r"));
    if (!f) {
        *message = std::string(path) + ": " + std::strerror(errno);
        return GEO_EOPEN;
    }
    std::vector<GeoCalcRec> loaded;
    char line[256];
    while (std::fgets(line, sizeof line, f.get())) {
        size_t len = std::strlen(line);
        bool whole = len > 0 && line[len - 1] == '\n';
        if (whole)
            line[--len] = '\0';
        if (len > 79 || (!whole && !std::feof(f.get()))) {
            *message = std::string("Invalid record:\n") + line;
            return GEO_EINVALID;
        }
        if (line[std::strspn(line, " \t\r")] == '\0')
            continue;
        GeoCalcRec rec;
        int end = 0;
        if (std::sscanf(line, "%d %lf %lf %lf %lf %n", &rec.id, &rec.x1,
                        &rec.y1, &rec.x2, &rec.y2, &end) < 5
                || line[end] != '\0' || !std::isfinite(rec.x1)
                || !std::isfinite(rec.y1) || !std::isfinite(rec.x2)
                || !std::isfinite(rec.y2)) {
            *message = std::string("Invalid record:\n") + line;
            return GEO_EINVALID;
        }
        rec.selected = 1;
        rec.dx = rec.dy = 0.0f;
        loaded.push_back(rec);
    }
    size_t kept = over ? 0 : store->recs.size();
    if (kept + loaded.size() > GEO_MAX_GCPS) {
        *message = "GCP number overflow.\n";
        return GEO_EOVERFLOW;
    }
    if (over)
        store->recs.clear();
    store->recs.insert(store->recs.end(), loaded.begin(), loaded.end());
    store->fitted = 0;
    return (int)loaded.size();
}

int geoCalcSaveFile(const GeoCalcStore *store, const char *path,
                    std::string *message)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::unique_ptr<FILE, FileCloser> f(fd < 0 ? nullptr
                                               : fdopen(fd, "w"));
    if (!f) {
        if (fd >= 0)
            close(fd);
        *message = std::string(path) + ": " + std::strerror(errno);
        return -1;
    }
    for (const GeoCalcRec &r : store->recs)
        std::fprintf(f.get(), "%5d %12.3f %12.3f %12.3f %12.3f\n", r.id,
                     r.x1, r.y1, r.x2, r.y2);
    if (std::fflush(f.get()) != 0 || std::ferror(f.get())) {
        *message = std::string(path) + ": " + std::strerror(errno);
        return -1;
    }
    return 0;
}
