/*
 * gdem.cpp --
 *
 *	The terrain shading module behind `rimage gdem`.  Each DEM cell (the
 *	2 x 2 block of heights between two rows and two columns) gets a
 *	slope; the slope, the sun and the view direction or focal point give
 *	its brightness under one of six models (Lambert, slope sine, slope
 *	tangent, specular plus Lambert, and two hot-spot models).  Rows are
 *	read from the store in blocks, shaded and averaged on worker threads
 *	(core/rowThreads.h), and written to the shade band; the shade can
 *	also de-shade the bands of another image.  Relies on the module
 *	frame for options, outputs and the meter.
 */
#include "modules/gdem.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/hist.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"
#include "modules/moduleFrame.h"

namespace {

/* Options; the order is that of the usage line, then the aliases. */
enum {
    O_DEM, O_SHADE, O_DX, O_DY, O_ZS, O_U, O_S, O_AVG, O_OP, O_AZ, O_VA,
    O_VAZ, O_VVA, O_H, O_XC, O_YC, O_P, O_OFF, O_G, O_IMG, O_CALIB, O_CB,
    O_FB, O_M, O_B, O_IN, O_OUT
};

/* One run: the shading geometry, the images and their bands.  What is
 * held is closed (an output not finished, discarded) when the run goes. */
struct GdemRun {
    GdemShading shading = {};
    ModuleImage dem;
    int demBand = 0;            /* 0-based */
    ModuleHeldOutput shade;     /* image null when only calibrating */
    int shadeBand = 0;
    ModuleImage image;          /* image to calibrate, r null for none */
    ModuleHeldOutput calib;
    int calibBand = -1;         /* 0-based, -1 all bands */
    int average = 1;
    int update = 0;
    double feedback = -0.5;
};

int usage(const char *command)
{
    stdoutPrintf("Usage: %s -dem DEM -shade SHADE -dx DX -dy DY -zs ZS -u U "
                 "-s S -avg AVG -op OP -az AZ -va VA -vaz VAZ -vva VVA -h H "
                 "-xc XC -yc YC -p P -off OFF -g GAIN -img IMG -calib CALIB "
                 "-cb CB -fb FB -m M\n", command);
    stdoutPrintf(
        "    where\n"
        "    DEM     the DEM image (-b DEMBAND:SHADEBAND, default 1:1);\n"
        "    SHADE   the shade image;\n"
        "    DX, DY  the cell size (default: the DEM's);\n"
        "    ZS      the height scale (1);\n"
        "    U       1: write the images to their files at the end (0);\n"
        "    S       the output scale (255);\n"
        "    AVG     0: no 2 x 2 averaging (1);\n"
        "    OP      LAMBERT, SINE, TANG, SL, HL or HLE[angle] (LAMBERT);\n"
        "    AZ, VA  the sun azimuth and vertical angle (135, 45);\n"
        "    VAZ, VVA  the view azimuth and vertical angle (AZ, 90);\n"
        "    H, XC, YC  the focal point: height, column, row;\n"
        "    P, OFF, GAIN  power, offset and gain of SL, HL, HLE "
        "(1, 0, 0.5);\n"
        "    IMG, CALIB, CB  the image to calibrate, the calibrated image "
        "and band (all);\n"
        "    FB      the feedback factor of the calibration (-0.5);\n"
        "    M       1: multi-central projection (0).\n");
    return 2;
}

/* The model of an -op word, -1 when unknown; for "HLE..." the rest of
 * the word is the hot-spot angle in degrees (empty: none). */
int modelOf(const char *word, const char **angleOut)
{
    static const char *const names[] = {"LAMBERT", "SINE", "TANG", "SL",
                                        "HL"};
    *angleOut = nullptr;
    for (int i = 0; i < 5; i++)
        if (std::strcmp(word, names[i]) == 0)
            return i;
    if (std::strncmp(word, "HLE", 3) == 0) {
        *angleOut = word + 3;
        return GDEM_HLE;
    }
    return -1;
}

double numberOr(const char *text, double fallback)
{
    return text ? std::atof(text) : fallback;
}

double radians(double degrees)
{
    return degrees * M_PI / 180.0;
}

/* Finishes the outputs of a successful run (the rest is closed when the
 * run goes). */
void closeGDEM(GdemRun *run)
{
    moduleFinishOutput(&run->shade);
    moduleFinishOutput(&run->calib);
}

/* Opens an output, or creates it from a copy of `model`'s description. */
RAMImage *openOutput(ModuleOutput *out, const char *name,
                     const RAMImage *model)
{
    ImageInfo info;
    moduleOutputInfo(&info, &model->info, name, model->info.pixel,
                     model->info.imgid, model->info.nbands);
    int err;
    RAMImage *r = moduleOpenOutput(out, name, &info, &err);
    if (!r) {
        stderrPrintf("Error in open %s.\n", name);
        ramimgErrorReport(err);
    }
    return r;
}

/*
 * parseGDEM --
 *	Checks the options, opens the images and fills the run.
 * Results:
 *	1, or 0 after a message (what was opened is closed again).
 */
int parseGDEM(GdemRun *run, const ModuleParam *t)
{
    const char *demName = t[O_DEM].value ? t[O_DEM].value : t[O_IN].value;
    const char *shadeName = t[O_SHADE].value ? t[O_SHADE].value
                                             : t[O_OUT].value;
    const char *imageName = t[O_IMG].value, *calibName = t[O_CALIB].value;
    if (!demName || (calibName && !imageName)) {
        stderrPrintf("image file(s) missing.\n");
        return 0;
    }
    if ((imageName && !calibName) || (!shadeName && !imageName)) {
        stderrPrintf("output image file(s) missing.\n");
        return 0;
    }
    if (shadeName && std::strcmp(shadeName, demName) == 0) {
        stderrPrintf("DEM image should not be the same as the shade "
                     "image.\n");
        return 0;
    }
    const char *angleText = nullptr;
    GdemShading &g = run->shading;
    g.model = modelOf(t[O_OP].value ? t[O_OP].value : "LAMBERT",
                      &angleText);
    if (g.model < 0) {
        stderrPrintf("Unknown operation.\n");
        return 0;
    }
    int demBand = 1, shadeBand = 1;
    if (t[O_B].value
            && std::sscanf(t[O_B].value, "%d:%d", &demBand, &shadeBand) < 1) {
        stderrPrintf("Error in band specification.\n");
        return 0;
    }

    if (!moduleOpenInput(&run->dem, demName, "Error in open %s.\n"))
        return 0;
    const ImageInfo &dem = run->dem.r->info;
    if (dem.nindices > 0) {
        stderrPrintf("Index image is not supported.\n");
        return 0;
    }
    if (demBand < 1 || demBand > dem.nbands) {
        stderrPrintf("Invalid DEM image band:%d\n", demBand);
        return 0;
    }
    run->demBand = demBand - 1;

    if (imageName) {
        if (!moduleOpenInput(&run->image, imageName, "Error in open %s.\n"))
            return 0;
        if (run->image.r->info.nindices > 0) {
            stderrPrintf("Index image can not be calibarated.\n");
            return 0;
        }
        int cb = t[O_CB].value ? std::atoi(t[O_CB].value) : 0;
        if (cb < 0 || cb > run->image.r->info.nbands) {
            stderrPrintf("Invalid band of the image to be calibarated\n");
            return 0;
        }
        run->calibBand = cb - 1;
    }
    if (shadeName) {
        RAMImage *shade = openOutput(&run->shade, shadeName, run->dem.r);
        if (!shade)
            return 0;
        if (shade == run->dem.r) {
            stderrPrintf("DEM image should not be the same as the shade "
                         "image.\n");
            return 0;
        }
        if (shade->info.nindices > 0) {
            stderrPrintf("Index image is not supported.\n");
            return 0;
        }
        if (shadeBand < 1 || shadeBand > shade->info.nbands) {
            stderrPrintf("Invalid shade image band:%d\n", shadeBand);
            return 0;
        }
        run->shadeBand = shadeBand - 1;
    }
    if (imageName) {
        RAMImage *calib = openOutput(&run->calib, calibName, run->image.r);
        if (!calib)
            return 0;
        if (calib->info.nindices > 0) {
            stderrPrintf("Index image can not be calibarated.\n");
            return 0;
        }
        if (run->calibBand >= calib->info.nbands) {
            stderrPrintf("Invalid band of the image to be calibarated\n");
            return 0;
        }
    }

    /* The geometry.  A DEM without cell sizes counts its cells as 1. */
    double dx = std::fabs(dem.dx) > 0 ? std::fabs(dem.dx) : 1.0;
    double dy = std::fabs(dem.dy) > 0 ? std::fabs(dem.dy) : 1.0;
    dx = numberOr(t[O_DX].value, dx);
    dy = numberOr(t[O_DY].value, dy);
    if (dx == 0 || dy == 0) {
        stderrPrintf("Invalid cell size.\n");
        return 0;
    }
    double zs = numberOr(t[O_ZS].value, 1.0);
    g.dx = dx;
    g.dy = dy;
    g.kx = -2 * zs / dx;
    g.ky = 2 * zs / dy;
    double az = radians(numberOr(t[O_AZ].value, 135.0));
    double va = radians(numberOr(t[O_VA].value, 45.0));
    double vaz = t[O_VAZ].value ? radians(std::atof(t[O_VAZ].value)) : az;
    double vva = radians(numberOr(t[O_VVA].value, 90.0));
    gdemSetAngles(&g, az, va, vaz, vva);
    g.scale = numberOr(t[O_S].value, 255.0);
    g.power = numberOr(t[O_P].value, 1.0);
    g.gain = numberOr(t[O_G].value, 0.5);
    g.offset = numberOr(t[O_OFF].value, 0.0);
    g.height = numberOr(t[O_H].value, 2.0 * dem.columns * dx);
    g.xc = numberOr(t[O_XC].value, (dem.columns - 1) / 2.0);
    g.yc = numberOr(t[O_YC].value, (dem.rows - 1) / 2.0);
    g.multi = t[O_M].value ? std::atoi(t[O_M].value) != 0 : 0;
    g.hotspot = angleText && *angleText
                ? radians(std::atof(angleText))
                : std::atan(g.height / (dem.columns / 2.0 * dx));
    run->average = t[O_AVG].value ? std::atoi(t[O_AVG].value) != 0 : 1;
    run->update = t[O_U].value ? std::atoi(t[O_U].value) != 0 : 0;
    run->feedback = numberOr(t[O_FB].value, -0.5);
    return 1;
}

/* Rows shaded per block: read on the calling thread, computed on the
 * workers, written back on the calling thread. */
const int BLOCK_ROWS = 64;

/* Marks the histogram of a written band as out of date. */
void resetHist(RAMImage *r, int band)
{
    if (r && r->histograms && band >= 0 && band < r->info.nbands)
        invalidateHist(&r->histograms[band]);
}

/*
 * gdem --
 *	The run: shades the DEM row by row, writes the shade and the
 *	calibrated bands.
 * Results:
 *	1, or 0 when aborted.
 */
int gdem(GdemRun *run, const char *command)
{
    RAMImage *dem = run->dem.r, *image = run->image.r;
    const int rows = dem->info.rows, n = dem->info.columns;
    const GdemShading *g = &run->shading;
    RAMImage *shadeImg = run->shade.image, *calibImg = run->calib.image;
    int firstCalib = 0, endCalib = 0;
    if (image) {
        firstCalib = run->calibBand < 0 ? 0 : run->calibBand;
        endCalib = run->calibBand < 0
                   ? std::min(image->info.nbands, calibImg->info.nbands)
                   : run->calibBand + 1;
    }
    /* Heights: row `first - 1` then the block; shade rows likewise. */
    std::vector<float> heights((size_t)(BLOCK_ROWS + 1) * n);
    std::vector<double> shades((size_t)(BLOCK_ROWS + 1) * n);
    std::vector<float> written((size_t)BLOCK_ROWS * n);
    std::vector<float> imageRow(n), calibRow(n);
    ModuleMeter meter;
    moduleMeterStart(&meter, "gdem");
    for (int first = 0; first < rows; first += BLOCK_ROWS) {
        int count = std::min(BLOCK_ROWS, rows - first);
        for (int i = 0; i < count; i++)
            getFloatBILData(dem, first + i, 0, n, run->demBand,
                            &heights[(size_t)(i + 1) * n]);
        if (first == 0) {       /* row 0 is paired with itself */
            std::copy_n(&heights[n], n, &heights[0]);
        }
        rowThreadsRun(count, 8, [&](int begin, int end) {
            for (int i = begin; i < end; i++)
                gdemShadeRow(g, &heights[(size_t)i * n],
                             &heights[(size_t)(i + 1) * n], n, first + i,
                             &shades[(size_t)(i + 1) * n]);
        });
        if (first == 0)
            std::copy_n(&shades[n], n, &shades[0]);
        rowThreadsRun(count, 8, [&](int begin, int end) {
            for (int i = begin; i < end; i++) {
                const double *cur = &shades[(size_t)(i + 1) * n];
                float *out = &written[(size_t)i * n];
                if (run->average)
                    gdemAverage(&shades[(size_t)i * n], cur, n, out);
                else
                    for (int c = 0; c < n; c++)
                        out[c] = (float)cur[c];
            }
        });
        for (int i = 0; i < count; i++) {
            int r = first + i;
            const float *out = &written[(size_t)i * n];
            if (shadeImg)
                putFloatBILData(shadeImg, r, 0, n, run->shadeBand, out);
            if (image) {
                for (int b = firstCalib; b < endCalib; b++) {
                    getFloatBILData(image, r, 0, n, b, imageRow.data());
                    gdemCalibRow(imageRow.data(), out, n,
                                 g->scale, run->feedback, calibRow.data());
                    putFloatBILData(calibImg, r, 0, n, b, calibRow.data());
                }
            }
            if (!moduleMeterRow(&meter, r + 1, rows)) {
                moduleReportCanceled(command);
                return 0;
            }
        }
        std::copy_n(&heights[(size_t)count * n], n, &heights[0]);
        std::copy_n(&shades[(size_t)count * n], n, &shades[0]);
    }
    moduleMeterEnd(&meter);
    resetHist(shadeImg, run->shadeBand);
    for (int b = firstCalib; b < endCalib; b++)
        resetHist(calibImg, b);
    if (run->update) {
        if (shadeImg)
            flushRAMImage(shadeImg);
        if (calibImg)
            flushRAMImage(calibImg);
    }
    return 1;
}

int gdemRun(const ModuleParam *table, const char *command)
{
    GdemRun run;
    if (!parseGDEM(&run, table) || !gdem(&run, command))
        return 0;
    closeGDEM(&run);
    return 1;
}

}  // namespace

/*
 * gdemAp --
 *	rimage gdem -dem DEM -shade SHADE ?option value ...?
 * Results:
 *	2 after the usage, 1 after a run, 0 on failure (no output created
 *	by the failed run is left behind).
 */
int gdemAp(const char *command, int argc, const char **argv)
{
    ModuleParam table[] = {
        {"-dem", nullptr}, {"-shade", nullptr}, {"-dx", nullptr},
        {"-dy", nullptr}, {"-zs", nullptr}, {"-u", nullptr}, {"-s", nullptr},
        {"-avg", nullptr}, {"-op", nullptr}, {"-az", nullptr},
        {"-va", nullptr}, {"-vaz", nullptr}, {"-vva", nullptr},
        {"-h", nullptr}, {"-xc", nullptr}, {"-yc", nullptr}, {"-p", nullptr},
        {"-off", nullptr}, {"-g", nullptr}, {"-img", nullptr},
        {"-calib", nullptr}, {"-cb", nullptr}, {"-fb", nullptr},
        {"-m", nullptr}, {"-b", nullptr}, {"-in", nullptr}, {"-out", nullptr},
        {nullptr, nullptr}};
    return moduleEntry(command, argc, argv, table, usage, gdemRun,
                       "Error in gmemAlloc.\n");
}

/* ---------------------------------------------------------------------
 * Per-row arithmetic
 * --------------------------------------------------------------------- */

void gdemSetAngles(GdemShading *g, double az, double va, double vaz,
                   double vva)
{
    g->sun[0] = std::cos(va) * std::sin(az);
    g->sun[1] = std::cos(va) * std::cos(az);
    g->sun[2] = std::sin(va);
    g->view[0] = std::cos(vva) * std::sin(vaz);
    g->view[1] = std::cos(vva) * std::cos(vaz);
    g->view[2] = std::sin(vva);
}

namespace {

/* The slope of one cell: normal (p, q, -1). */
struct Gradient {
    double p, q;
};

inline Gradient cellGradient(const GdemShading *g, const float *upper,
                             const float *lower, int c)
{
    double a = upper[c - 1], b = upper[c], d = lower[c - 1], e = lower[c];
    return {(a - b + d - e) * g->kx, (a + b - d - e) * g->ky};
}

/* The Lambert cosine product of the normal with the view and sun
 * directions. */
inline double lambert(const GdemShading *g, Gradient s)
{
    const double *v = g->view, *l = g->sun;
    return (s.p * v[0] + s.q * v[1] - v[2]) * (s.p * l[0] + s.q * l[1] - l[2])
           / (s.p * s.p + s.q * s.q + 1);
}

/* The ray from the focal point to the ground under column c of `row`. */
inline void viewRay(const GdemShading *g, int c, int row, double w[3])
{
    double rowDistance = g->multi ? g->yc : g->yc - row;
    w[0] = (c - g->xc) * g->dx;
    w[1] = rowDistance * g->dy;
    w[2] = -g->height;
}

/* The specular cosine: between the view ray and the sun's direction
 * mirrored in the cell's plane (1 where the cell mirrors the sun into
 * the focal point). */
inline double specularCosine(const GdemShading *g, Gradient s,
                             const double w[3])
{
    const double *l = g->sun;
    double nn = s.p * s.p + s.q * s.q + 1;
    double ln = (l[0] * s.p + l[1] * s.q - l[2]) / nn;
    double m0 = l[0] - 2 * ln * s.p, m1 = l[1] - 2 * ln * s.q,
           m2 = l[2] + 2 * ln;
    double wl = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    return (m0 * w[0] + m1 * w[1] + m2 * w[2]) / wl;
}

/* The hot-spot cosine: between the direction from the ground to the
 * focal point and the sun (1 where the viewer looks along the sun's
 * rays). */
inline double hotspotCosine(const GdemShading *g, const double w[3])
{
    const double *l = g->sun;
    double wl = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
    return -(l[0] * w[0] + l[1] * w[1] + l[2] * w[2]) / wl;
}

/* A directional model: the directional part d (0 .. 1) weighted by g
 * plus the Lambert part weighted by 1 - g. */
inline double blend(const GdemShading *g, double d, double lam)
{
    return (d * g->gain + (1 - g->gain) * lam) * g->scale + g->offset;
}

void gLambert(const GdemShading *g, const float *upper, const float *lower,
              int n, int, double *out)
{
    for (int c = 1; c < n; c++)
        out[c] = g->scale * lambert(g, cellGradient(g, upper, lower, c));
}

void gSine(const GdemShading *g, const float *upper, const float *lower,
           int n, int, double *out)
{
    for (int c = 1; c < n; c++) {
        Gradient s = cellGradient(g, upper, lower, c);
        out[c] = g->scale
                 * std::sqrt(1 - 1 / (s.p * s.p + s.q * s.q + 1));
    }
}

void gTang(const GdemShading *g, const float *upper, const float *lower,
           int n, int, double *out)
{
    for (int c = 1; c < n; c++) {
        Gradient s = cellGradient(g, upper, lower, c);
        out[c] = g->scale * std::sqrt(s.p * s.p + s.q * s.q);
    }
}

void gSpecularLambert(const GdemShading *g, const float *upper,
                      const float *lower, int n, int row, double *out)
{
    for (int c = 1; c < n; c++) {
        Gradient s = cellGradient(g, upper, lower, c);
        double w[3];
        viewRay(g, c, row, w);
        double cs = specularCosine(g, s, w);
        out[c] = blend(g, cs > 0 ? std::pow(cs, g->power) : 0,
                       lambert(g, s));
    }
}

void gHotspotLambert(const GdemShading *g, const float *upper,
                     const float *lower, int n, int row, double *out)
{
    for (int c = 1; c < n; c++) {
        Gradient s = cellGradient(g, upper, lower, c);
        double w[3];
        viewRay(g, c, row, w);
        double cs = hotspotCosine(g, w);
        out[c] = blend(g, cs > 0 ? std::pow(cs, g->power) : 0,
                       lambert(g, s));
    }
}

/* The hot spot narrowed to the hot-spot angle: the directional part
 * falls as cos(angle * pi / (2 * hot-spot angle))^P and is 0 beyond. */
void gHotspotLambertE(const GdemShading *g, const float *upper,
                      const float *lower, int n, int row, double *out)
{
    double stretch = g->hotspot > 0 ? M_PI / 2 / g->hotspot : 0;
    for (int c = 1; c < n; c++) {
        Gradient s = cellGradient(g, upper, lower, c);
        double w[3];
        viewRay(g, c, row, w);
        double angle = std::acos(std::max(-1.0, std::min(1.0,
                                          hotspotCosine(g, w))));
        double d = angle < g->hotspot
                   ? std::pow(std::cos(angle * stretch), g->power) : 0;
        out[c] = blend(g, d, lambert(g, s));
    }
}

typedef void (ShadeProc)(const GdemShading *, const float *, const float *,
                         int, int, double *);

ShadeProc *const shaders[] = {
    gLambert, gSine, gTang, gSpecularLambert, gHotspotLambert,
    gHotspotLambertE
};

}  // namespace

void gdemShadeRow(const GdemShading *g, const float *upper,
                  const float *lower, int n, int row, double *out)
{
    if (n < 1)
        return;
    if (n == 1) {
        /* No cell across: the column is paired with itself. */
        float u[2] = {upper[0], upper[0]}, l[2] = {lower[0], lower[0]};
        double o[2];
        shaders[g->model](g, u, l, 2, row, o);
        out[0] = o[1];
        return;
    }
    shaders[g->model](g, upper, lower, n, row, out);
    out[0] = out[1];
}

void gdemAverage(const double *prev, const double *cur, int n, float *out)
{
    if (n < 1)
        return;
    out[0] = (float)((prev[0] + cur[0]) / 2);
    for (int c = 1; c < n - 1; c++)
        out[c] = (float)((prev[c] + prev[c + 1] + cur[c] + cur[c + 1]) / 4);
    if (n > 1)
        out[n - 1] = (float)((prev[n - 1] + cur[n - 1]) / 2);
}

void gdemCalibRow(const float *image, const float *shade, int n,
                  double scale, double feedback, float *out)
{
    for (int c = 0; c < n; c++)
        out[c] = (float)(image[c] + scale + feedback * shade[c]);
}
