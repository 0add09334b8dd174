/*
 * gtop.cpp --
 *
 *	`rimage gtop`: the option checks, the choice of conversion, and the
 *	eight conversions between a ground image (x its column, y its row,
 *	heights from an optional DEM of the same size times -zs) and a
 *	camera image (gtopGeom.h):
 *
 *	0 gtopConvert      ground plane -> polar view from the view point
 *	1 gtopConvertDem   terrain -> polar view, hidden ground removed
 *	2 ptogConvert      photograph -> ground plane
 *	3 ptogConvertR     the same, view point from the photograph's header
 *	4 gtop3D           terrain -> polar view -> camera image
 *	5 centerProjection terrain -> camera image, rays traced over the DEM
 *	6 rOrient          ground plane -> camera image
 *	7 orthorC          photograph + DEM -> orthoimage
 *
 *	A polar image's column j looks towards azimuth x0 + j dx degrees
 *	(clockwise from the top of the ground image), its row i at
 *	elevation y0 - i dy degrees (negative below the horizontal).
 *	The input and the DEM are read into memory whole; every output pixel
 *	is computed (worker threads over rows or columns), pixels no ray
 *	reaches are 0, then the rows are written.  Relies on the module
 *	frame, the raster store and core/rowThreads.h.
 */
#include "modules/gtop.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"
#include "modules/gtopGeom.h"
#include "modules/moduleFrame.h"

namespace {

const double degree = M_PI / 180.0;

enum {
    OPT_IN, OPT_OUT, OPT_DEM, OPT_ZS, OPT_XC, OPT_YC, OPT_ZC, OPT_TX,
    OPT_TY, OPT_TZ, OPT_NR, OPT_NC, OPT_B, OPT_NBANDS, OPT_IMGID, OPT_PIXEL,
    OPT_RS, OPT_OV, OPT_OP, OPT_RO, OPT_HRS, OPT_GP, OPT_OFF, OPT_COUNT
};

const char *const optionWords[OPT_COUNT] = {
    "-in", "-out", "-dem", "-zs", "-xc", "-yc", "-zc", "-tx", "-ty", "-tz",
    "-nr", "-nc", "-b", "-nbands", "-imgid", "-pixel", "-rs", "-ov", "-op",
    "-ro", "-hrs", "-gp", "-off"};

enum { NEAREST = 1, BILINEAR = 2 };

/* An image held in memory: nb planes of rows x columns floats. */
struct Raster {
    int columns = 0, rows = 0, nb = 0;
    std::vector<float> px;
    float at(int band, int r, int c) const
    {
        return px[((size_t)band * rows + r) * columns + c];
    }
};

/* A polar frame, degrees. */
struct PolarFrame {
    double x0, dx, y0, dy;
};

struct GtopRun {
    RAMImage *in = nullptr, *dem = nullptr;
    ModuleOutput out = {nullptr, 0, ""};
    int mode = 0;
    double zs = 1.0, gap = 0.9;
    int rs = NEAREST, hrs = NEAREST;
    double off[2] = {0, 0};
    GtopCamera cam;
    int haveRo = 0;
    double ro[4];
    std::vector<int> inBands, outBands;
    Raster image, heights;      /* the input's bands; the DEM times zs */
    double hMin = 0, hMax = 0;  /* range of the heights */
    ~GtopRun()
    {
        if (in)
            closeRAMImage(in, nullptr);
        if (dem)
            closeRAMImage(dem, nullptr);
        moduleDiscardOutput(&out);
    }
};

void gtopUsage(const char *command)
{
    stdoutPrintf("Usage: %s -in IN -out OUT -dem DEM -tx TX -ty TY -tz TZ "
                 "-xc XC -yc YC -zc ZC -ro RO -zs ZS -nr NR -nc NC -b B "
                 "-rs RS -hrs HRS -nbands NB -pixel PIXEL -ov OV -op OP "
                 "-gp GP -off OFF\n", command);
    stdoutPrintf(
        "  -in IN        input: a ground image (map frame) or a photograph\n"
        "  -out OUT      output image, opened or created\n"
        "  -dem DEM      terrain heights, the input's size\n"
        "  -zs ZS        DEM value to height, in ground pixels [1.0]\n"
        "  -xc -yc -zc   view point [centre of the input, 4096]\n"
        "  -tx -ty -tz   target [centre of the input, 0]\n"
        "  -ro A,B,C,F   orientation: degrees about x, y, z and the\n"
        "                distance F from the target to the view point\n"
        "  -nr -nc       output rows and columns [the input's]\n"
        "  -nbands NB    output bands [the input's]\n"
        "  -imgid ID     output image type, BSQ BIL BIP or MBSQ MBIL MBIP "
        "[BIP]\n"
        "  -pixel PIXEL  output pixel type [the input's]\n"
        "  -b B          bands i1[[:o1];i2[:o2];...]\n"
        "  -rs -hrs      image and DEM resampling, NN or BI [NN]\n"
        "  -ov Y|N       create the output anew even if it exists [N]\n"
        "  -op OP        POLAR, ORTHOR, GTOP3D, GFP3D, GTOGR or PTOG\n"
        "  -gp GP        ray step over the DEM, 0.5 .. 1.0 pixels [0.9]\n"
        "  -off X,Y      principal point offset from the camera image's "
        "centre [0,0]\n");
}

bool parseNumber(const char *word, const char *option, double *value)
{
    char *end;
    errno = 0;
    *value = std::strtod(word, &end);
    if (end == word || *end != '\0' || errno != 0 || !std::isfinite(*value)) {
        stderrPrintf("Invalid number %s for %s.\n", word, option);
        return false;
    }
    return true;
}

bool parseCount(const char *word, const char *option, int *value)
{
    double v;
    if (!parseNumber(word, option, &v))
        return false;
    if (v < 1 || v > 65535 || v != std::floor(v)) {
        stderrPrintf("Invalid number %s for %s.\n", word, option);
        return false;
    }
    *value = (int)v;
    return true;
}

/* "NN" or "BI" to NEAREST or BILINEAR, 0 otherwise. */
int resampling(const char *word)
{
    if (std::strcmp(word, "NN") == 0)
        return NEAREST;
    if (std::strcmp(word, "BI") == 0)
        return BILINEAR;
    return 0;
}

RAMImage *openOrReport(const char *name)
{
    int err = 0;
    RAMImage *r = moduleOpenImage(name, &err);
    if (!r) {
        stderrPrintf("Error in open %s.\n", name);
        ramimgErrorReport(err);
    }
    return r;
}

bool isMapFrame(int mapid)
{
    return mapid >= MAP_GRID && mapid <= 61;
}

/* Reads bands of an image into memory.  Results: false (after a message)
 * when memory runs out. */
bool loadRaster(RAMImage *r, const int *bands, int nb, Raster *out)
{
    out->columns = r->info.columns;
    out->rows = r->info.rows;
    out->nb = nb;
    try {
        out->px.assign((size_t)nb * out->rows * out->columns, 0.0f);
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error in gtop: malloc.\n");
        return false;
    }
    for (int b = 0; b < nb; b++)
        for (int y = 0; y < out->rows; y++)
            getFloatBILData(r, y, 0, out->columns, bands[b],
                            &out->px[((size_t)b * out->rows + y)
                                     * out->columns]);
    return true;
}

/* Every band of an image at a fractional position.  Results: false
 * outside (nearest: -0.5 <= x < columns - 0.5; bilinear: 0 <= x <=
 * columns - 1, rows alike).  With a mask, only pixels marked in it are
 * taken: bilinear falls back to the nearest pixel where a neighbour is
 * unmarked, so nothing blends with empty pixels. */
bool sampleAt(const Raster &img, double x, double y, int method, float *out,
              const unsigned char *mask = nullptr)
{
    if (method == BILINEAR && x >= 0.0 && x <= img.columns - 1 && y >= 0.0
            && y <= img.rows - 1) {
        int c = std::min((int)x, img.columns - 1);
        int r = std::min((int)y, img.rows - 1);
        double fc = x - c, fr = y - r;
        int c1 = std::min(c + 1, img.columns - 1);
        int r1 = std::min(r + 1, img.rows - 1);
        if (!mask || (mask[(size_t)r * img.columns + c]
                      && mask[(size_t)r * img.columns + c1]
                      && mask[(size_t)r1 * img.columns + c]
                      && mask[(size_t)r1 * img.columns + c1])) {
            for (int b = 0; b < img.nb; b++) {
                double top = (1 - fc) * img.at(b, r, c)
                             + fc * img.at(b, r, c1);
                double bot = (1 - fc) * img.at(b, r1, c)
                             + fc * img.at(b, r1, c1);
                out[b] = (float)((1 - fr) * top + fr * bot);
            }
            return true;
        }
    } else if (method == BILINEAR) {
        return false;
    }
    if (!(x >= -0.5 && x < img.columns - 0.5 && y >= -0.5
          && y < img.rows - 0.5))
        return false;
    int c = (int)std::floor(x + 0.5), r = (int)std::floor(y + 0.5);
    if (mask && !mask[(size_t)r * img.columns + c])
        return false;
    for (int b = 0; b < img.nb; b++)
        out[b] = img.at(b, r, c);
    return true;
}

/* Terrain height at a ground position.  Results: false outside. */
bool heightAt(const GtopRun *run, double x, double y, double *h)
{
    float v;
    if (!sampleAt(run->heights, x, y, run->hrs, &v))
        return false;
    *h = v;
    return true;
}

/* The output computed in memory: nb planes of rows x columns, and
 * which pixels a ray reached. */
struct OutBuffer {
    int columns, rows, nb;
    std::vector<float> px;
    std::vector<unsigned char> filled;
    float *pixel(int r, int c, int b)
    {
        return &px[((size_t)b * rows + r) * columns + c];
    }
    void set(int r, int c, const float *v)
    {
        for (int b = 0; b < nb; b++)
            *pixel(r, c, b) = v[b];
        filled[(size_t)r * columns + c] = 1;
    }
    /* Results: false when memory runs out. */
    bool allocate()
    {
        try {
            px.assign((size_t)nb * rows * columns, 0.0f);
            filled.assign((size_t)rows * columns, 0);
        } catch (const std::bad_alloc &) {
            return false;
        }
        return true;
    }
};

/* ---------------------------------------------------------------------
 * The conversions: each fills an output buffer.
 * --------------------------------------------------------------------- */

/* 6: a camera image of the ground plane z = tz. */
void rOrient(const GtopRun *run, OutBuffer *o)
{
    const GtopCamera &cam = run->cam;
    const double *r = cam.r, *v = cam.view, f = cam.focal;
    rowThreadsRun(o->rows, 1, [&](int begin, int end) {
        std::vector<float> val(o->nb);
        for (int i = begin; i < end; i++)
            for (int j = 0; j < o->columns; j++) {
                double x, y;
                double t = rCentralProject(r, v[2], j - cam.pc, i - cam.pr,
                                           cam.target[2], f * r[2],
                                           f * r[5], v[2] + f * r[8], &x,
                                           &y);
                if (t > 0.0 && std::isfinite(t)
                        && sampleAt(run->image, v[0] + x, v[1] + y, run->rs,
                                    val.data()))
                    o->set(i, j, val.data());
            }
    });
}

/* 5: rays from the view point through each pixel, traced over the DEM
 * in horizontal steps of the gap; the first crossing below the terrain,
 * refined linearly between the last two steps, is the ground seen. */
bool traceRay(const GtopRun *run, const double *d, double *hx, double *hy)
{
    const double *v = run->cam.view;
    const Raster &dem = run->heights;
    double tEnter = 0.0, tExit;
    const double hl = std::hypot(d[0], d[1]);
    if (d[2] < 0.0) {
        tEnter = std::max(0.0, (v[2] - run->hMax) / -d[2]);
        tExit = (v[2] - run->hMin) / -d[2];
    } else {
        if (v[2] > run->hMax)
            return false;
        if (hl == 0.0)
            return false;
        tExit = (std::hypot(dem.columns, dem.rows)
                 + std::hypot(v[0], v[1]) + 2.0) / hl;
    }
    if (!(tExit > tEnter))
        tExit = tEnter;
    /* Clip the horizontal path to the DEM's extent. */
    double x0 = v[0] + tEnter * d[0], y0 = v[1] + tEnter * d[1];
    double x1 = v[0] + tExit * d[0], y1 = v[1] + tExit * d[1];
    GtopWindow w = {0.0, 0.0, dem.columns - 1.0, dem.rows - 1.0};
    double cx0 = x0, cy0 = y0, cx1 = x1, cy1 = y1;
    if (hl > 0.0) {
        if (!winClip(&w, &cx0, &cy0, &cx1, &cy1))
            return false;
        double t0 = tEnter, t1 = tExit;
        if (std::fabs(d[0]) >= std::fabs(d[1])) {
            t0 = (cx0 - v[0]) / d[0];
            t1 = (cx1 - v[0]) / d[0];
        } else {
            t0 = (cy0 - v[1]) / d[1];
            t1 = (cy1 - v[1]) / d[1];
        }
        tEnter = std::min(t0, t1);
        tExit = std::max(t0, t1);
    } else if (!(x0 >= 0 && x0 <= dem.columns - 1 && y0 >= 0
                 && y0 <= dem.rows - 1)) {
        return false;
    }
    const double dt = hl > 0.0 ? run->gap / hl : tExit - tEnter;
    const long steps = dt > 0.0 ? (long)std::ceil((tExit - tEnter) / dt) : 0;
    double tPrev = tEnter, fPrev, h;
    if (!heightAt(run, v[0] + tEnter * d[0], v[1] + tEnter * d[1], &h))
        return false;
    fPrev = v[2] + tEnter * d[2] - h;
    if (fPrev < 0.0)
        return false;   /* enters below the surface: under the DEM's edge */
    if (fPrev == 0.0) {
        *hx = v[0] + tEnter * d[0];
        *hy = v[1] + tEnter * d[1];
        return true;
    }
    for (long s = 1; s <= steps; s++) {
        double t = std::min(tEnter + s * dt, tExit);
        if (!heightAt(run, v[0] + t * d[0], v[1] + t * d[1], &h))
            return false;
        double f = v[2] + t * d[2] - h;
        if (f <= 0.0) {
            double th = tPrev + (t - tPrev) * fPrev / (fPrev - f);
            *hx = v[0] + th * d[0];
            *hy = v[1] + th * d[1];
            return true;
        }
        tPrev = t;
        fPrev = f;
    }
    return false;
}

void centerProjection(const GtopRun *run, OutBuffer *o)
{
    rowThreadsRun(o->rows, 1, [&](int begin, int end) {
        std::vector<float> val(o->nb);
        for (int i = begin; i < end; i++)
            for (int j = 0; j < o->columns; j++) {
                double d[3], x, y;
                gtopRay(&run->cam, j, i, d);
                if (traceRay(run, d, &x, &y)
                        && sampleAt(run->image, x, y, run->rs, val.data()))
                    o->set(i, j, val.data());
            }
    });
}

/* 2, 3: each ground pixel of the plane z = tz projected into the
 * photograph. */
void ptogConvert(const GtopRun *run, OutBuffer *o)
{
    const double z = run->cam.target[2];
    rowThreadsRun(o->rows, 1, [&](int begin, int end) {
        std::vector<float> val(o->nb);
        for (int i = begin; i < end; i++)
            for (int j = 0; j < o->columns; j++) {
                double c, r;
                if (gtopProject(&run->cam, j, i, z, &c, &r)
                        && sampleAt(run->image, c, r, run->rs, val.data()))
                    o->set(i, j, val.data());
            }
    });
}

/* 7: each DEM cell at its height projected into the photograph; the
 * nearest pixel there gives every band. */
void orthorC(const GtopRun *run, OutBuffer *o)
{
    rowThreadsRun(o->rows, 1, [&](int begin, int end) {
        std::vector<float> val(o->nb);
        for (int i = begin; i < end; i++)
            for (int j = 0; j < o->columns; j++) {
                double c, r;
                if (gtopProject(&run->cam, j, i, run->heights.at(0, i, j),
                                &c, &r)
                        && sampleAt(run->image, c, r, NEAREST, val.data()))
                    o->set(i, j, val.data());
            }
    });
}

/* 0: polar view of the ground plane z = tz. */
void gtopConvert(const GtopRun *run, const PolarFrame &pf, OutBuffer *o)
{
    const double *v = run->cam.view, z = run->cam.target[2];
    rowThreadsRun(o->rows, 1, [&](int begin, int end) {
        std::vector<float> val(o->nb);
        for (int i = begin; i < end; i++) {
            double e = (pf.y0 - i * pf.dy) * degree;
            if (!(e < 0.0) || !(v[2] > z))
                continue;
            double s = (v[2] - z) / std::tan(-e);
            for (int j = 0; j < o->columns; j++) {
                double a = (pf.x0 + j * pf.dx) * degree;
                if (sampleAt(run->image, v[0] + s * std::sin(a),
                             v[1] - s * std::cos(a), run->rs, val.data()))
                    o->set(i, j, val.data());
            }
        }
    });
}

/* 1: polar view of the terrain.  Along each azimuth the terrain is
 * walked outwards in steps of the gap; a sample seen higher than every
 * nearer one fills the rows between the previous horizon and its
 * elevation, each with the ground where the terrain between the two
 * samples crosses the row's elevation. */
void gtopConvertDem(const GtopRun *run, const PolarFrame &pf, OutBuffer *o)
{
    const double *v = run->cam.view;
    const Raster &dem = run->heights;
    rowThreadsRun(o->columns, 1, [&](int begin, int end) {
        std::vector<float> val(o->nb);
        for (int j = begin; j < end; j++) {
            double a = (pf.x0 + j * pf.dx) * degree;
            double hx = std::sin(a), hy = -std::cos(a);
            double far = std::hypot(dem.columns, dem.rows)
                         + std::hypot(v[0], v[1]) + 2.0;
            double x0 = v[0], y0 = v[1], x1 = v[0] + far * hx,
                   y1 = v[1] + far * hy;
            GtopWindow w = {0.0, 0.0, dem.columns - 1.0, dem.rows - 1.0};
            if (!winClip(&w, &x0, &y0, &x1, &y1))
                continue;
            double s0 = std::hypot(x0 - v[0], y0 - v[1]);
            double s1 = std::hypot(x1 - v[0], y1 - v[1]);
            double horizon = -HUGE_VAL, sPrev = 0, ePrev = 0;
            bool first = true;
            for (double s = s0; s <= s1 + 1e-9; s += run->gap) {
                double h;
                if (!heightAt(run, v[0] + s * hx, v[1] + s * hy, &h))
                    continue;
                double e = std::atan2(h - v[2], s) / degree;
                if (first) {
                    first = false;
                } else if (e > horizon) {
                    double top = (pf.y0 - e) / pf.dy;
                    double bottom = horizon == -HUGE_VAL
                                    ? o->rows : (pf.y0 - horizon) / pf.dy;
                    int iLo = std::max(0, (int)std::ceil(top));
                    int iHi = std::min(o->rows - 1,
                                       (int)std::ceil(bottom) - 1);
                    for (int i = iLo; i <= iHi; i++) {
                        double ei = pf.y0 - i * pf.dy;
                        if (ei <= horizon || ei > e)
                            continue;
                        double si = ePrev == e ? s
                                    : interpo(ePrev, e, ei, sPrev, s);
                        if (sampleAt(run->image, v[0] + si * hx,
                                     v[1] + si * hy, run->rs, val.data()))
                            o->set(i, j, val.data());
                    }
                }
                horizon = std::max(horizon, e);
                sPrev = s;
                ePrev = e;
            }
        }
    });
}

/* Azimuth of a ground direction, degrees clockwise from the top. */
double azimuthOf(const double *d)
{
    return std::atan2(d[0], -d[1]) / degree;
}

double elevationOf(const double *d)
{
    return std::atan2(d[2], std::hypot(d[0], d[1])) / degree;
}

/* The default polar frame of an output: a full turn of azimuths and
 * the elevations from the highest terrain seen (the horizontal without
 * a DEM) down to the nadir. */
PolarFrame defaultPolarFrame(const GtopRun *run, int rows, int columns)
{
    double top = 0.0;
    if (run->mode == 1) {
        const double *v = run->cam.view;
        const Raster &dem = run->heights;
        for (int r = 0; r < dem.rows; r++)
            for (int c = 0; c < dem.columns; c++) {
                double s = std::hypot(c - v[0], r - v[1]);
                double e = std::atan2(dem.at(0, r, c) - v[2], s) / degree;
                top = std::max(top, e);
            }
    }
    return {0.0, 360.0 / columns, top, (top + 90.0) / rows};
}

/* Writes the buffer into the output bands, row by row.  Results: 1, or
 * 0 when the user aborted. */
int writeOutput(GtopRun *run, OutBuffer *o, const char *label)
{
    ModuleMeter meter;
    moduleMeterStart(&meter, label);
    RAMImage *out = run->out.image;
    long total = (long)o->rows * o->nb, done = 0;
    for (int b = 0; b < o->nb; b++)
        for (int r = 0; r < o->rows; r++) {
            putFloatBILData(out, r, 0, o->columns, run->outBands[b],
                            o->pixel(r, 0, b));
            if (!moduleMeterRow(&meter, ++done, total))
                return 0;
        }
    moduleMeterEnd(&meter);
    return 1;
}

/* 4: the terrain as a polar view into a memory image "<out>.gtop3D"
 * spanning the output camera's angles at its resolution, then that view
 * resampled into the camera image.  Results: 0, -1 after a message. */
int gtop3D(GtopRun *run, OutBuffer *o)
{
    stdoutPrintf("gtop3D...\n");
    const GtopCamera &cam = run->cam;
    double k[3];
    gtopRay(&cam, cam.pc, cam.pr, k);
    const double centre = azimuthOf(k);
    double aLo = HUGE_VAL, aHi = -HUGE_VAL, eLo = HUGE_VAL, eHi = -HUGE_VAL;
    auto extend = [&](double c, double r) {
        double d[3];
        gtopRay(&cam, c, r, d);
        double a = std::remainder(azimuthOf(d) - centre, 360.0);
        double e = elevationOf(d);
        aLo = std::min(aLo, a);
        aHi = std::max(aHi, a);
        eLo = std::min(eLo, e);
        eHi = std::max(eHi, e);
    };
    for (int j = 0; j < o->columns; j++) {
        extend(j, 0);
        extend(j, o->rows - 1);
    }
    for (int i = 0; i < o->rows; i++) {
        extend(0, i);
        extend(o->columns - 1, i);
    }
    extend(cam.pc, cam.pr);
    const double res = 1.0 / (cam.focal * degree);   /* degrees / pixel */
    if (eLo < -89.0 || eHi > 89.0 || aHi - aLo > 180.0) {
        aLo = -180.0;       /* the view holds a pole: every azimuth */
        aHi = 180.0;
    }
    aLo -= 2 * res;
    aHi += 2 * res;
    eLo = std::max(-90.0, eLo - 2 * res);
    eHi = std::min(90.0, eHi + 2 * res);
    const int limit = 8192;
    int columns = std::min(limit, std::max(o->columns,
                                           (int)std::ceil((aHi - aLo) / res)));
    int rows = std::min(limit, std::max(o->rows,
                                        (int)std::ceil((eHi - eLo) / res)));
    PolarFrame pf = {centre + aLo, (aHi - aLo) / columns, eHi,
                     (eHi - eLo) / rows};

    ImageInfo info = run->out.image->info;
    std::string midName = std::string(run->out.image->info.fileName)
                          + ".gtop3D";
    if (midName.size() >= sizeof info.fileName) {
        stderrPrintf("Error in open %s.\n", midName.c_str());
        return -1;
    }
    std::memcpy(info.fileName, midName.c_str(), midName.size() + 1);
    info.imgid = IMG_MBIP;
    info.mapid = MAP_POLAR;
    info.pixel = PIXEL_FLOAT;
    info.bits = pixelBits(PIXEL_FLOAT);
    info.nbands = o->nb;
    info.rows = rows;
    info.columns = columns;
    info.offset = 0;
    info.nindices = 0;
    info.extraFd = -1;
    info.volumes = 0;
    info.x0 = pf.x0;
    info.dx = pf.dx;
    info.y0 = pf.y0;
    info.dy = pf.dy;
    int err = 0;
    RAMImage *mid = residentRAMImage(&info, nullptr, &err);
    if (!mid) {
        stderrPrintf("Error in open %s.\n", info.fileName);
        return -1;
    }
    OutBuffer polar = {columns, rows, o->nb, {}, {}};
    if (!polar.allocate()) {
        destroyRAMImage(mid);
        stderrPrintf("Error in gtop3D: malloc.\n");
        return -1;
    }
    run->mode = 1;
    gtopConvertDem(run, pf, &polar);
    run->mode = 4;
    for (int b = 0; b < o->nb; b++)
        for (int r = 0; r < rows; r++)
            putFloatBILData(mid, r, 0, columns, b, polar.pixel(r, 0, b));

    /* The polar view, read back, is the photograph the camera image is
     * taken from. */
    Raster view;
    std::vector<int> all(o->nb);
    for (int b = 0; b < o->nb; b++)
        all[b] = b;
    bool ok = loadRaster(mid, all.data(), o->nb, &view);
    destroyRAMImage(mid);
    if (!ok)
        return -1;
    rowThreadsRun(o->rows, 1, [&](int begin, int end) {
        std::vector<float> val(o->nb);
        for (int i = begin; i < end; i++)
            for (int j = 0; j < o->columns; j++) {
                double d[3];
                gtopRay(&cam, j, i, d);
                double a = pf.x0 + std::remainder(azimuthOf(d) - pf.x0
                                                  - 180.0, 360.0) + 180.0;
                double c = (a - pf.x0) / pf.dx;
                double r = (pf.y0 - elevationOf(d)) / pf.dy;
                if (sampleAt(view, c, r, run->rs, val.data(),
                             polar.filled.data()))
                    o->set(i, j, val.data());
            }
    });
    return 0;
}

/*
 * paramsGtop --
 *	Checks the options, opens the images, chooses the conversion,
 *	creates or opens the output and sets up the camera.
 * Results:
 *	0, or -1 after a message on standard error.
 */
int paramsGtop(GtopRun *run, const ModuleParam *t)
{
    double zc = 4096.0;
    int haveZc = 0, overwrite = 0;
    if (t[OPT_ZC].value) {
        if (!parseNumber(t[OPT_ZC].value, "-zc", &zc))
            return -1;
        haveZc = 1;
    }
    if (const char *ov = t[OPT_OV].value) {
        if (std::strcmp(ov, "Y") == 0)
            overwrite = 1;
        else if (std::strcmp(ov, "N") != 0) {
            stderrPrintf("Unknown over writing flag.\n");
            return -1;
        }
    }
    if (t[OPT_ZS].value && !parseNumber(t[OPT_ZS].value, "-zs", &run->zs))
        return -1;
    if (t[OPT_GP].value) {
        if (!parseNumber(t[OPT_GP].value, "-gp", &run->gap))
            return -1;
        run->gap = std::min(1.0, std::max(0.5, run->gap));
    }
    for (int o : {OPT_RS, OPT_HRS}) {
        if (!t[o].value)
            continue;
        int m = resampling(t[o].value);
        if (!m) {
            stderrPrintf("Invalid resampling option.\n");
            return -1;
        }
        (o == OPT_RS ? run->rs : run->hrs) = m;
    }

    if (!t[OPT_IN].value) {
        stderrPrintf("Input image file missing.\n");
        return -1;
    }
    if (!(run->in = openOrReport(t[OPT_IN].value)))
        return -1;
    const ImageInfo &ii = run->in->info;
    if (ii.nindices > 0) {
        stderrPrintf("Index image is not supported.\n");
        return -1;
    }

    GtopCamera &cam = run->cam;
    cam.view[0] = ii.columns / 2;
    cam.view[1] = ii.rows / 2;
    cam.view[2] = zc;
    cam.target[0] = (ii.columns - 1) / 2.0;
    cam.target[1] = (ii.rows - 1) / 2.0;
    cam.target[2] = 0.0;
    const int pointOpts[6] = {OPT_XC, OPT_YC, OPT_ZC, OPT_TX, OPT_TY,
                              OPT_TZ};
    for (int k = 0; k < 6; k++) {
        const char *w = t[pointOpts[k]].value;
        double *dst = k < 3 ? &cam.view[k] : &cam.target[k - 3];
        if (w && !parseNumber(w, optionWords[pointOpts[k]], dst))
            return -1;
    }
    int imgid = IMG_BIP, pixel = ii.pixel;
    if (t[OPT_IMGID].value) {
        imgid = parseImgID(t[OPT_IMGID].value);
        if (imgid != IMG_BSQ && imgid != IMG_BIL && imgid != IMG_BIP
                && imgid != IMG_MBSQ && imgid != IMG_MBIL
                && imgid != IMG_MBIP) {
            stderrPrintf("A valid imgid should be BIP or BIL or BSQ\n");
            return -1;
        }
    }
    if (t[OPT_PIXEL].value) {
        pixel = parsePixelID(t[OPT_PIXEL].value);
        if (pixel <= PIXEL_UNKNOWN || pixel == PIXEL_1BIT
                || pixel == PIXEL_4BITS) {
            stderrPrintf("Invalid pixel type %s.\n", t[OPT_PIXEL].value);
            return -1;
        }
    }

    /* The conversion. */
    const char *op = t[OPT_OP].value;
    const bool mapFrame = isMapFrame(ii.mapid);
    if (t[OPT_DEM].value) {
        if (!(run->dem = openOrReport(t[OPT_DEM].value)))
            return -1;
        if (run->dem->info.rows != ii.rows
                || run->dem->info.columns != ii.columns) {
            stderrPrintf("DEM does not match the input image\n");
            return -1;
        }
        int band0 = 0;
        if (!loadRaster(run->dem, &band0, 1, &run->heights))
            return -1;
        run->hMin = HUGE_VAL;
        run->hMax = -HUGE_VAL;
        for (float &h : run->heights.px) {
            h = (float)(h * run->zs);
            run->hMin = std::min(run->hMin, (double)h);
            run->hMax = std::max(run->hMax, (double)h);
        }
    }
    struct Choice {
        const char *op;
        bool dem;
        int mode;
    };
    static const Choice choices[] = {
        {nullptr, false, 6}, {"GTOGR", false, 6}, {"POLAR", false, 0},
        {nullptr, true, 5},  {"GFP3D", true, 5},  {"POLAR", true, 1},
        {"GTOP3D", true, 4}, {"ORTHOR", true, 7}};
    run->mode = -1;
    if (mapFrame) {
        for (const Choice &c : choices)
            if (c.dem == (run->dem != nullptr)
                    && (c.op ? op && std::strcmp(op, c.op) == 0 : !op))
                run->mode = c.mode;
        if (run->mode < 0) {
            stderrPrintf("Invalid option.\n");
            return -1;
        }
    } else {
        if (op && std::strcmp(op, "PTOG") != 0) {
            stderrPrintf("Invalid option\n");
            return -1;
        }
        run->mode = op && haveZc ? 3 : 2;
        if (run->mode == 3) {
            cam.view[0] = ii.x0;
            cam.view[1] = ii.y0;
        }
    }

    /* The output. */
    if (!t[OPT_OUT].value) {
        stderrPrintf("output file missing.\n");
        return -1;
    }
    int rows = ii.rows, columns = ii.columns, nbands = ii.nbands;
    if ((t[OPT_NR].value && !parseCount(t[OPT_NR].value, "-nr", &rows))
            || (t[OPT_NC].value
                && !parseCount(t[OPT_NC].value, "-nc", &columns))
            || (t[OPT_NBANDS].value
                && !parseCount(t[OPT_NBANDS].value, "-nbands", &nbands)))
        return -1;
    if (run->mode == 7) {
        rows = run->dem->info.rows;
        columns = run->dem->info.columns;
    }
    ImageInfo info;
    const char *name = t[OPT_OUT].value;
    moduleOutputInfo(&info, &ii, name, pixel, imgid, nbands);
    info.rows = rows;
    info.columns = columns;
    info.nindices = 0;
    info.top = info.left = 0;
    info.mapid = (run->mode == 0 || run->mode == 1) ? MAP_POLAR : MAP_GRID;
    if (run->mode == 0 || run->mode == 1) {
        PolarFrame pf = defaultPolarFrame(run, rows, columns);
        info.x0 = pf.x0;
        info.dx = pf.dx;
        info.y0 = pf.y0;
        info.dy = pf.dy;
    } else if (run->mode == 7) {
        info.mapid = run->dem->info.mapid;
        info.x0 = run->dem->info.x0;
        info.y0 = run->dem->info.y0;
        info.dx = run->dem->info.dx;
        info.dy = run->dem->info.dy;
    } else if (run->mode == 2 || run->mode == 3) {
        info.x0 = info.y0 = 0.0;
        info.dx = info.dy = 1.0;
    } else if (run->mode == 4 || run->mode == 5 || run->mode == 6) {
        /* A camera image keeps its view point, as photographs do. */
        info.x0 = cam.view[0];
        info.y0 = cam.view[1];
        info.dx = info.dy = 1.0;
    }
    int err = 0;
    if (isMemoryImgID(imgid) && !getRAMImageByTag(name)
            && !getRAMImageByName(name)) {
        /* A memory output stays in the store for the script, as if
         * opened by `rimage open`; `rimage close` releases it. */
        info.offset = 0;
        RAMImage *r = openRAMImage(name, nullptr, &info, nullptr, &err);
        if (r) {
            std::snprintf(r->info.fileName, sizeof r->info.fileName, "%s",
                          name);
            r->opens++;
            run->out.image = r;
        }
    } else if (overwrite && !getRAMImageByTag(name)) {
        RAMImage *r = openRAMImageNew(&info, nullptr, 1, &err);
        if (r) {
            run->out.image = r;
            run->out.created = 1;
            std::snprintf(run->out.fileName, sizeof run->out.fileName, "%s",
                          info.fileName);
        }
    } else {
        moduleOpenOutput(&run->out, name, &info, &err);
    }
    if (!run->out.image) {
        stderrPrintf("Error in open %s.\n", name);
        ramimgErrorReport(err);
        return -1;
    }
    RAMImage *out = run->out.image;
    if (run->mode == 7 && (out->info.rows != rows
                           || out->info.columns != columns)) {
        stderrPrintf("The output must have the DEM's rows and columns.\n");
        return -1;
    }

    run->inBands.resize(MODULE_MAX_BANDS);
    run->outBands.resize(MODULE_MAX_BANDS);
    int nb = parseBands(ii.nbands, out->info.nbands, run->inBands.data(),
                        run->outBands.data(), t[OPT_B].value);
    if (nb < 1) {
        stderrPrintf("Empty band list.\n");
        return -1;
    }
    run->inBands.resize(nb);
    run->outBands.resize(nb);

    if (const char *ro = t[OPT_RO].value) {
        int end = 0;
        if (std::sscanf(ro, "%lf,%lf,%lf,%lf%n", &run->ro[0], &run->ro[1],
                        &run->ro[2], &run->ro[3], &end) != 4
                || ro[end] != '\0') {
            stderrPrintf("Error in parsing orientation params.\n");
            return -1;
        }
        run->haveRo = 1;
    }
    if (const char *off = t[OPT_OFF].value) {
        float x, y;
        int end = 0;
        if (std::sscanf(off, "%f,%f%n", &x, &y, &end) != 2
                || off[end] != '\0') {
            stderrPrintf("Error parsing output image center.\n");
            return -1;
        }
        run->off[0] = x;
        run->off[1] = y;
    }

    /* The camera: from the orientation, or looking at the target. */
    if (run->haveRo) {
        double m[9];
        gtopOrientation(run->ro[0] * degree, run->ro[1] * degree,
                        run->ro[2] * degree, m);
        const double f = run->ro[3];
        if (run->mode != 3) {
            cam.view[0] = cam.target[0] - f * m[6];
            cam.view[1] = cam.target[1] - f * m[7];
            cam.view[2] = cam.target[2] + f * m[8];
        }
        gtopCameraMatrix(m, cam.r);
        cam.focal = f;
    } else {
        cam.focal = std::sqrt(
            (cam.target[0] - cam.view[0]) * (cam.target[0] - cam.view[0])
            + (cam.target[1] - cam.view[1]) * (cam.target[1] - cam.view[1])
            + (cam.target[2] - cam.view[2]) * (cam.target[2] - cam.view[2]));
    }
    if (!run->haveRo || run->mode == 4 || run->mode == 5) {
        if (gtopLookAt(&cam) != 0) {
            stderrPrintf("The view point and the target coincide.\n");
            return -1;
        }
    }
    if (!(cam.focal > 0.0)) {
        stderrPrintf("The focal distance must be positive.\n");
        return -1;
    }
    /* The camera image is the output, or the photograph input. */
    const bool cameraIn = run->mode == 2 || run->mode == 3 || run->mode == 7;
    const ImageInfo &ci = cameraIn ? ii : out->info;
    cam.pc = (ci.columns - 1) / 2.0 + run->off[0];
    cam.pr = (ci.rows - 1) / 2.0 + run->off[1];
    return 0;
}

/* Loads the input bands and the DEM, runs the conversion, writes the
 * output.  Results: 1, 0 on failure or abort. */
int gtopRun(GtopRun *run, const char *command)
{
    if (!loadRaster(run->in, run->inBands.data(), (int)run->inBands.size(),
                    &run->image))
        return 0;
    RAMImage *out = run->out.image;
    OutBuffer o = {out->info.columns, out->info.rows,
                   (int)run->outBands.size(), {}, {}};
    if (!o.allocate()) {
        stderrPrintf(run->mode == 7 ? "Error in othorC: malloc.\n"
                                    : "Error in gtop: malloc.\n");
        return 0;
    }
    /* An existing output keeps its polar frame when it has one. */
    PolarFrame pf = {out->info.x0, out->info.dx, out->info.y0,
                     out->info.dy};
    if ((run->mode == 0 || run->mode == 1)
            && (out->info.mapid != MAP_POLAR || !(pf.dx != 0.0)
                || !(pf.dy != 0.0)))
        pf = defaultPolarFrame(run, o.rows, o.columns);
    switch (run->mode) {
    case 0: gtopConvert(run, pf, &o); break;
    case 1: gtopConvertDem(run, pf, &o); break;
    case 2: case 3: ptogConvert(run, &o); break;
    case 4:
        if (gtop3D(run, &o) != 0)
            return 0;
        break;
    case 5: centerProjection(run, &o); break;
    case 6: rOrient(run, &o); break;
    case 7: orthorC(run, &o); break;
    }
    if (!writeOutput(run, &o, "gtop")) {
        moduleReportCanceled(command);
        return 0;
    }
    return 1;
}

}  // namespace

/*
 * gtopAp --
 *	rimage gtop -in IN -out OUT ...
 * Results:
 *	2 usage, 1 done, 0 failed (message on standard error; an output
 *	this run created is removed).
 */
int gtopAp(const char *command, int argc, const char **argv)
{
    if (argc == 0) {
        gtopUsage(command);
        return 2;
    }
    ModuleParam table[OPT_COUNT + 1];
    for (int k = 0; k < OPT_COUNT; k++)
        table[k] = {optionWords[k], nullptr};
    table[OPT_COUNT] = {nullptr, nullptr};
    int unknown = parseConfig(table, argc, argv);
    if (unknown != 0) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    GtopRun run;
    if (paramsGtop(&run, table) != 0 || !gtopRun(&run, command)) {
        meterReset();
        return 0;
    }
    closeRAMImage(run.in, nullptr);
    run.in = nullptr;
    if (run.dem) {
        closeRAMImage(run.dem, nullptr);
        run.dem = nullptr;
    }
    moduleFinishOutput(&run.out);
    meterReset();
    return 1;
}
