/*
 * geoParams.cpp --
 *
 *	The rectification polynomial and its parameter file.  The file holds
 *	the polynomial that maps a target (output) position to a source
 *	(input) position, little-endian whatever the host:
 *
 *	Offset  Size  Field
 *	0       8     "GOERECHD"
 *	8       8     mean x1 (double)
 *	16      8     mean y1 (double)
 *	24      8     mean x2 (double)
 *	32      8     mean y2 (double)
 *	40      4     number of coefficients n (int)
 *	44      4     order m (int)
 *	48      8n    coefficients giving y2, term order, first incl. mean y2
 *	48+8n   8n    coefficients giving x2, term order, first incl. mean x2
 *
 *	Relies on POSIX files only.
 */
#include "modules/geoParams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

static const char geoMagic[8] = {'G', 'O', 'E', 'R', 'E', 'C', 'H', 'D'};

int geoTermCount(int order)
{
    if (order < 0 || order > GEO_MAX_ORDER)
        return -1;
    return order == 0 ? 4 : (order + 1) * (order + 2) / 2;
}

/* Powers of u and v of term k: order 0 is 1, u, v, uv; order m >= 1
 * runs degree by degree, each degree from u^d down to v^d. */
static void termPowers(int order, int k, int *pu, int *pv)
{
    if (order == 0) {
        *pu = k & 1;
        *pv = k >> 1;
        return;
    }
    int d = 0;
    while (k > d) {
        k -= d + 1;
        d++;
    }
    *pu = d - k;
    *pv = k;
}

int geoTermDegree(int order, int k)
{
    int pu, pv;
    termPowers(order, k, &pu, &pv);
    return pu + pv;
}

void polynormial(int order, double u, double v, double *terms)
{
    if (order == 0) {
        terms[0] = 1.0;
        terms[1] = u;
        terms[2] = v;
        terms[3] = u * v;
        return;
    }
    int k = 0;
    terms[k++] = 1.0;
    for (int d = 1; d <= order; d++) {
        /* Degree d from the terms of degree d - 1: multiply each by u,
         * and the last also by v. */
        int prev = k - d;
        for (int j = 0; j < d; j++)
            terms[k++] = terms[prev + j] * u;
        terms[k++] = terms[prev + d - 1] * v;
    }
}

void geoParamsMap(const GeoParams *p, double x1, double y1, double *x2,
                  double *y2)
{
    double t[GEO_MAX_TERMS];
    polynormial(p->order, x1 - p->mx1, y1 - p->my1, t);
    double sx = 0, sy = 0;
    for (int k = 0; k < p->n; k++) {
        sx += p->cx[k] * t[k];
        sy += p->cy[k] * t[k];
    }
    *x2 = sx;
    *y2 = sy;
}

/*
 * calcPolynormial --
 *	Reduces the polynomial to one in u for the row at y1.
 */
void calcPolynormial(const GeoParams *p, double y1, GeoRowPoly *row)
{
    double v = y1 - p->my1;
    double vpow[GEO_MAX_ORDER + 1];
    vpow[0] = 1.0;
    for (int j = 1; j <= GEO_MAX_ORDER; j++)
        vpow[j] = vpow[j - 1] * v;
    row->degree = p->order == 0 ? 1 : p->order;
    for (int j = 0; j <= GEO_MAX_ORDER; j++)
        row->ax[j] = row->ay[j] = 0.0;
    for (int k = 0; k < p->n; k++) {
        int pu, pv;
        termPowers(p->order, k, &pu, &pv);
        row->ax[pu] += p->cx[k] * vpow[pv];
        row->ay[pu] += p->cy[k] * vpow[pv];
    }
}

/*
 * calcPolynormial2 --
 *	Evaluates a row polynomial at count points u0 + i du (Horner).
 */
void calcPolynormial2(const GeoRowPoly *row, double u0, double du, int count,
                      double *x2, double *y2)
{
    const int m = row->degree;
    for (int i = 0; i < count; i++) {
        double u = u0 + i * du;
        double sx = row->ax[m], sy = row->ay[m];
        for (int j = m - 1; j >= 0; j--) {
            sx = sx * u + row->ax[j];
            sy = sy * u + row->ay[j];
        }
        x2[i] = sx;
        y2[i] = sy;
    }
}

/* Little-endian fields, whatever the host. */
static void putLE(unsigned char *at, uint64_t v, int size)
{
    for (int i = 0; i < size; i++)
        at[i] = (unsigned char)(v >> (8 * i));
}

static uint64_t getLE(const unsigned char *at, int size)
{
    uint64_t v = 0;
    for (int i = size - 1; i >= 0; i--)
        v = (v << 8) | at[i];
    return v;
}

static void putDouble(unsigned char *at, double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    putLE(at, bits, 8);
}

static double getDouble(const unsigned char *at)
{
    uint64_t bits = getLE(at, 8);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}

int putGeoParams(const GeoParams *p, const char *path, std::string *message)
{
    int n = p->n;
    std::vector<unsigned char> bytes(GEO_PARAMS_HEAD + 16 * (size_t)n);
    unsigned char *b = bytes.data();
    std::memcpy(b, geoMagic, 8);
    putDouble(b + 8, p->mx1);
    putDouble(b + 16, p->my1);
    putDouble(b + 24, p->mx2);
    putDouble(b + 32, p->my2);
    putLE(b + 40, (uint32_t)n, 4);
    putLE(b + 44, (uint32_t)p->order, 4);
    for (int k = 0; k < n; k++) {
        putDouble(b + GEO_PARAMS_HEAD + 8 * k, p->cy[k]);
        putDouble(b + GEO_PARAMS_HEAD + 8 * (n + k), p->cx[k]);
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        *message = std::string(path) + " open error.";
        return -1;
    }
    ssize_t done = write(fd, b, bytes.size());
    if (close(fd) != 0 || done != (ssize_t)bytes.size()) {
        *message = std::string(path) + " write error.";
        return -1;
    }
    return 0;
}

int getGeoParams(GeoParams *p, const char *path, std::string *message)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        *message = std::string(path) + " open error.";
        return -1;
    }
    unsigned char b[GEO_PARAMS_HEAD + 16 * GEO_MAX_TERMS + 1];
    ssize_t got = 0;
    for (;;) {
        ssize_t k = read(fd, b + got, sizeof b - got);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0)
            break;
        got += k;
    }
    close(fd);
    if (got < GEO_PARAMS_HEAD) {
        *message = std::string(path)
                   + (std::memcmp(b, geoMagic, got < 8 ? got : 8) == 0
                      ? " read error."
                      : " is not a georectification parameter file.");
        return -1;
    }
    int n = (int)(int32_t)getLE(b + 40, 4);
    int order = (int)(int32_t)getLE(b + 44, 4);
    if (std::memcmp(b, geoMagic, 8) != 0 || geoTermCount(order) != n) {
        *message = std::string(path)
                   + " is not a georectification parameter file.";
        return -1;
    }
    if (got != GEO_PARAMS_HEAD + 16 * n) {
        *message = std::string(path) + " read error.";
        return -1;
    }
    p->mx1 = getDouble(b + 8);
    p->my1 = getDouble(b + 16);
    p->mx2 = getDouble(b + 24);
    p->my2 = getDouble(b + 32);
    p->n = n;
    p->order = order;
    for (int k = 0; k < n; k++) {
        p->cy[k] = getDouble(b + GEO_PARAMS_HEAD + 8 * k);
        p->cx[k] = getDouble(b + GEO_PARAMS_HEAD + 8 * (n + k));
    }
    return 0;
}
