/*
 * bandCalc.cpp --
 *
 *	The band calculation module behind `rimage calc`: reads the input
 *	bands of each row as floats, applies one of eight fixed band
 *	functions pixel by pixel and writes the result bands into the
 *	output image (created as FLOAT unless told otherwise).  Bands and
 *	parameters come as comma lists; "norm" takes band lists in the
 *	band-list syntax.  Relies on the module frame for options, lists,
 *	outputs and the meter.
 */
#include "modules/bandCalc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "modules/moduleFrame.h"

namespace {

enum { O_IN, O_OUT, O_F, O_B, O_OB, O_PAR, O_IMGID, O_PIXEL, O_NBANDS };

/* Function names (matched without regard to case) and meter labels. */
const char *const fName[CALC_NFUNCTIONS] = {
    "dratio", "ratio", "nratio", "stretch", "dev", "linear", "avg", "norm"
};
const char *const meterLabel[CALC_NFUNCTIONS] = {
    "dratio", "radio", "nradio", "stretch", "dev", "linear", "pavg",
    "normalize"
};

/* Most parameters a run takes. */
const int MAX_PARAMS = 16384;

int usage(const char *command)
{
    stdoutPrintf("%s -in IN -out OUT -f FNM -b BNDS -ob OBNDS -par PARS\n",
                 command);
    stdoutPrintf(
        "    IN      the input image;\n"
        "    OUT     the output image (created: -imgid, -pixel FLOAT, "
        "-nbands);\n"
        "    FNM     ratio, nratio, dratio, stretch, dev, linear, avg or "
        "norm;\n"
        "    BNDS    the input bands, OBNDS the output bands (1-based);\n"
        "    PARS    the function's parameters, comma-separated.\n");
    return 2;
}

/* The text's comma list as 1-based numbers; `fallback` when absent.
 * Results: the count (beyond the capacity when too long). */
int longList(const char *text, std::vector<long> *list,
             std::initializer_list<long> fallback)
{
    if (!text) {
        list->assign(fallback);
        return (int)list->size();
    }
    list->assign(MODULE_MAX_BANDS, 0);
    int n = passLongs(text, list->data(), MODULE_MAX_BANDS);
    list->resize(std::max(0, std::min(n, MODULE_MAX_BANDS)));
    return n;
}

/* 1 .. n */
std::vector<long> allBands(int n)
{
    std::vector<long> v(n);
    for (int i = 0; i < n; i++)
        v[i] = i + 1;
    return v;
}

/* Stores the 1-based list 0-based when every entry is in 1 .. max. */
bool inRange(const std::vector<long> &list, int max, std::vector<int> *out)
{
    out->clear();
    for (long b : list) {
        if (b < 1 || b > max)
            return false;
        out->push_back((int)b - 1);
    }
    return true;
}

/* The input and output images' band counts while reading parameters. */
struct BandCounts {
    int in, out;
};

/* The messages of one function's checks. */
struct CalcMessages {
    const char *tooMany, *inRange, *outBad, *outRange, *params;
};

/* "ratio", "nratio": two input bands, one output band. */
int ratioParams(CalcRun *run, const ModuleParam *t, BandCounts n,
                const char *name, int maxParams, bool pairs)
{
    std::vector<long> in, out;
    if (longList(t[O_B].value, &in, {1, 2}) != 2) {
        stderrPrintf("%s: Input bands must be two.\n", name);
        return 0;
    }
    if (!inRange(in, n.in, &run->inBands)) {
        stderrPrintf("%s: Input band out of range.\n", name);
        return 0;
    }
    if (longList(t[O_OB].value, &out, {1}) != 1
            || !inRange(out, n.out, &run->outBands)) {
        stderrPrintf("%s: invalid output band.\n", name);
        return 0;
    }
    int np = (int)run->par.size();
    if (np > maxParams || (pairs && np != 0 && np != 2 && np != 4)) {
        stderrPrintf("%s: Invalid parameter(s).\n", name);
        return 0;
    }
    return 1;
}

int dratioParams(CalcRun *run, const ModuleParam *t, BandCounts n)
{
    std::vector<long> in, out;
    if (longList(t[O_B].value, &in, {1, 2, 3, 4}) != 4) {
        stderrPrintf("dratio: Input bands must be four.\n");
        return 0;
    }
    if (!inRange(in, n.in, &run->inBands)) {
        stderrPrintf("dratio: Input band out of range.\n");
        return 0;
    }
    if (longList(t[O_OB].value, &out, {1}) != 1
            || !inRange(out, n.out, &run->outBands)) {
        stderrPrintf("dratio: Output band must be 1.\n");
        return 0;
    }
    if (!run->par.empty() && run->par.size() != 2) {
        stderrPrintf("dratio: Invalid parameter(s).\n");
        return 0;
    }
    return 1;
}

/* Functions of any number of input bands: stretch, dev (as many output
 * bands as input bands), linear and avg (one output band). */
int multiParams(CalcRun *run, const ModuleParam *t, BandCounts n,
                const CalcMessages &m, bool oneOutput)
{
    std::vector<long> in, out;
    std::vector<long> every = allBands(n.in);
    if (t[O_B].value) {
        if (longList(t[O_B].value, &in, {}) > n.in) {
            stderrPrintf("%s", m.tooMany);
            return 0;
        }
    } else {
        in = every;
    }
    if (in.empty() || !inRange(in, n.in, &run->inBands)) {
        stderrPrintf("%s", m.inRange);
        return 0;
    }
    int count = (int)in.size();
    if (oneOutput) {
        if (longList(t[O_OB].value, &out, {1}) != 1
                || !inRange(out, n.out, &run->outBands)) {
            stderrPrintf("%s", m.outBad);
            return 0;
        }
    } else {
        if (t[O_OB].value) {
            if (longList(t[O_OB].value, &out, {}) != count) {
                stderrPrintf("%s", m.outBad);
                return 0;
            }
        } else {
            out = allBands(count);
        }
        if (!inRange(out, n.out, &run->outBands)) {
            stderrPrintf("%s", m.outRange);
            return 0;
        }
    }
    return 1;
}

int stretchParams(CalcRun *run, const ModuleParam *t, BandCounts n)
{
    static const CalcMessages m = {
        "stretch: Too many input bands.\n",
        "stretch: Input band out of range.\n",
        "stretch: Inconsistant output and input bands.\n",
        "stretch: Output band is out of range.\n",
        "stretch: Invalide parameter(s).\n"};
    if (!multiParams(run, t, n, m, false))
        return 0;
    size_t np = run->par.size();
    if (np % 2 != 0 || np > 2 * run->inBands.size()) {
        stderrPrintf("%s", m.params);
        return 0;
    }
    return 1;
}

int devParams(CalcRun *run, const ModuleParam *t, BandCounts n)
{
    static const CalcMessages m = {
        "DEV: Too many input bands.\n",
        "DEV: Input band out of range.\n",
        "DEV: Inconsistant output and input bands.\n",
        "DEV: Output band is out of range.\n",
        "DEV: Invalid parameter(s).\n"};
    if (!multiParams(run, t, n, m, false))
        return 0;
    if (run->par.size() > 8) {
        stderrPrintf("%s", m.params);
        return 0;
    }
    return 1;
}

int linearParams(CalcRun *run, const ModuleParam *t, BandCounts n)
{
    static const CalcMessages m = {
        "linear: Too many input bands.\n",
        "linear: Input band out of range.\n",
        "linear: output band must be 1.\n", nullptr,
        "linear: invalide parameter(s).\n"};
    if (!multiParams(run, t, n, m, true))
        return 0;
    size_t np = run->par.size();
    if (np != 0 && np != run->inBands.size() + 1) {
        stderrPrintf("%s", m.params);
        return 0;
    }
    return 1;
}

int avgParams(CalcRun *run, const ModuleParam *t, BandCounts n)
{
    static const CalcMessages m = {
        "avg: Too many input bands.\n",
        "avg: Input band out of range.\n",
        "avg: output band must be 1.\n", nullptr,
        "avg: invalide parameter(s).\n"};
    if (!multiParams(run, t, n, m, true))
        return 0;
    if (run->par.size() > 1) {
        stderrPrintf("%s", m.params);
        return 0;
    }
    return 1;
}

/* A band list of the band-list syntax ("1-3,5"), 1-based.  Results: the
 * count, -1 when malformed. */
int bandDefList(const char *text, std::vector<long> *list)
{
    std::vector<int> bands(MODULE_MAX_BANDS);
    int n = parseBandDef(text, bands.data(), MODULE_MAX_BANDS);
    if (n < 0 || n > MODULE_MAX_BANDS)
        return -1;
    list->assign(bands.begin(), bands.begin() + n);
    return n;
}

int normalizeParams(CalcRun *run, const ModuleParam *t, BandCounts n)
{
    std::vector<long> in = allBands(n.in), out, norm = allBands(n.in);
    int ni = t[O_B].value ? bandDefList(t[O_B].value, &in) : n.in;
    int no = t[O_OB].value ? bandDefList(t[O_OB].value, &out) : ni;
    if (!t[O_OB].value && ni > 0)
        out = allBands(ni);
    if (ni <= 0 || no != ni) {
        stderrPrintf("invalid input/output bands\n");
        return 0;
    }
    if (!inRange(in, n.in, &run->inBands)) {
        stderrPrintf("input band out of range\n");
        return 0;
    }
    if (!inRange(out, n.out, &run->outBands)) {
        stderrPrintf("output band out of range\n");
        return 0;
    }
    if (t[O_PAR].value && bandDefList(t[O_PAR].value, &norm) <= 0) {
        stderrPrintf("invalid par specification\n");
        return 0;
    }
    if (!inRange(norm, n.in, &run->normBands)) {
        stderrPrintf("par band out of range\n");
        return 0;
    }
    run->par.clear();
    return 1;
}

/* Resets the histograms of the written bands. */
void resetHist(RAMImage *r, const std::vector<int> &bands)
{
    if (!r->histograms)
        return;
    for (int b : bands)
        invalidateHist(&r->histograms[b]);
}

/*
 * ImgCalc --
 *	Runs the function over the rows and columns both images have.
 * Results:
 *	1, or 0 when aborted.
 */
int ImgCalc(const CalcRun *run, RAMImage *in, RAMImage *out,
            const char *command)
{
    int rows = std::min(in->info.rows, out->info.rows);
    int n = std::min(in->info.columns, out->info.columns);
    size_t ni = run->inBands.size(), nn = run->normBands.size(),
           no = run->outBands.size();
    std::vector<float> inRow(ni * n), normRow(nn * n), outRow(no * n);
    ModuleMeter meter;
    moduleMeterStart(&meter, meterLabel[run->function]);
    meter.threshold = 0;
    for (int r = 0; r < rows; r++) {
        for (size_t k = 0; k < ni; k++)
            getFloatBILData(in, r, 0, n, run->inBands[k], &inRow[k * n]);
        for (size_t k = 0; k < nn; k++)
            getFloatBILData(in, r, 0, n, run->normBands[k], &normRow[k * n]);
        calcRow(run, r, n, inRow.data(), normRow.data(), outRow.data());
        for (size_t k = 0; k < no; k++)
            putFloatBILData(out, r, 0, n, run->outBands[k], &outRow[k * n]);
        if (!moduleMeterRow(&meter, r + 1, rows)) {
            moduleReportCanceled(command);
            return 0;
        }
    }
    moduleMeterEnd(&meter);
    resetHist(out, run->outBands);
    return 1;
}

/* The output: opened, or created as the options say. */
RAMImage *calcOutput(ModuleOutput *out, const ModuleParam *t,
                     const RAMImage *in)
{
    int imgid = in->info.imgid, pixel = PIXEL_FLOAT,
        nbands = in->info.nbands;
    if (t[O_IMGID].value && (imgid = parseImgID(t[O_IMGID].value)) <= 0) {
        stderrPrintf("Unknown image type %s.\n", t[O_IMGID].value);
        return nullptr;
    }
    if (t[O_PIXEL].value && (pixel = parsePixelID(t[O_PIXEL].value)) <= 0) {
        stderrPrintf("Unknown pixel type %s.\n", t[O_PIXEL].value);
        return nullptr;
    }
    if (t[O_NBANDS].value
            && (nbands = std::atoi(t[O_NBANDS].value)) < 1) {
        stderrPrintf("Invalid band count %s.\n", t[O_NBANDS].value);
        return nullptr;
    }
    ImageInfo info;
    moduleOutputInfo(&info, &in->info, t[O_OUT].value, pixel, imgid, nbands);
    if (pixel != in->info.pixel && info.nindices > 0) {
        info.nindices = 0;      /* no palette for computed values */
    }
    int err;
    RAMImage *r = moduleOpenOutput(out, t[O_OUT].value, &info, &err);
    if (!r) {
        stderrPrintf(err == RAMIMG_ECREATE ? "Error in create %s.\n"
                                           : "Error in open %s.\n",
                     t[O_OUT].value);
        ramimgErrorReport(err);
    }
    return r;
}

/* The run after the options were parsed. */
int rimgCalcRun(const ModuleParam *t, const char *command)
{
    if (!t[O_IN].value) {
        stderrPrintf("Input image file missing!\n");
        return 0;
    }
    ModuleImage input;
    RAMImage *in = moduleOpenInput(&input, t[O_IN].value,
                                   "Error in open %s.\n");
    if (!in)
        return 0;
    if (!t[O_F].value) {
        stderrPrintf("Module Name missing!\n");
        return 0;
    }
    if (!t[O_OUT].value) {
        stderrPrintf("Output file missing!\n");
        return 0;
    }
    CalcRun run;
    run.function = -1;
    for (int i = 0; i < CALC_NFUNCTIONS; i++)
        if (strcasecmp(t[O_F].value, fName[i]) == 0)
            run.function = i;
    if (run.function < 0) {
        stderrPrintf("Undefined module.\n");
        return 0;
    }
    run.par.assign(MAX_PARAMS, 0.0f);
    int np = t[O_PAR].value && run.function != CALC_NORM
             ? passFloats(t[O_PAR].value, run.par.data(), MAX_PARAMS) : 0;
    run.par.resize(std::max(0, std::min(np, MAX_PARAMS)));
    if (np > MAX_PARAMS)
        run.par.push_back(0.0f);    /* too many for any function */

    ModuleHeldOutput out;
    RAMImage *o = calcOutput(&out, t, in);
    if (!o)
        return 0;
    BandCounts n = {in->info.nbands, o->info.nbands};
    int ok = 0;
    switch (run.function) {
    case CALC_RATIO:
        ok = ratioParams(&run, t, n, "ratio", 4, true);
        break;
    case CALC_NRATIO:
        ok = ratioParams(&run, t, n, "nratio", 5, false);
        break;
    case CALC_DRATIO:
        ok = dratioParams(&run, t, n);
        break;
    case CALC_STRETCH:
        ok = stretchParams(&run, t, n);
        break;
    case CALC_DEV:
        ok = devParams(&run, t, n);
        break;
    case CALC_LINEAR:
        ok = linearParams(&run, t, n);
        break;
    case CALC_AVG:
        ok = avgParams(&run, t, n);
        break;
    case CALC_NORM:
        ok = normalizeParams(&run, t, n);
        break;
    }
    if (!ok)
        return 0;
    calcDefaults(&run, in->info.columns, in->info.rows);
    if (!ImgCalc(&run, in, o, command))
        return 0;
    moduleFinishOutput(&out);
    return 1;
}

}  // namespace

/*
 * rimgCalcAp --
 *	rimage calc -in IN -out OUT -f FNM ?-b BNDS? ?-ob OBNDS? ?-par PARS?
 *	?-imgid TYPE? ?-pixel TYPE? ?-nbands N?
 * Results:
 *	2 after the usage, 1 after a run, 0 on failure (an output the
 *	failed run created is removed).
 */
int rimgCalcAp(const char *command, int argc, const char **argv)
{
    ModuleParam table[] = {
        {"-in", nullptr}, {"-out", nullptr}, {"-f", nullptr}, {"-b", nullptr},
        {"-ob", nullptr}, {"-par", nullptr}, {"-imgid", nullptr},
        {"-pixel", nullptr}, {"-nbands", nullptr}, {nullptr, nullptr}};
    return moduleEntry(command, argc, argv, table, usage, rimgCalcRun,
                       "Error in malloc.\n");
}

/* ---------------------------------------------------------------------
 * Per-pixel arithmetic
 * --------------------------------------------------------------------- */

void calcDefaults(CalcRun *run, int columns, int rows)
{
    std::vector<float> d;
    size_t nb = run->inBands.size();
    switch (run->function) {
    case CALC_RATIO:
        d = {1, 0, 0, 0};
        break;
    case CALC_NRATIO:
        d = {0, 0, 1, 1, 0};
        break;
    case CALC_DRATIO:
        d = {1, 0};
        break;
    case CALC_STRETCH:
        for (size_t b = 0; b < nb; b++)
            d.insert(d.end(), {1, 0});
        break;
    case CALC_DEV:
        d = {2.0f, 1.5f, 50.0f, 8.0f, 0.0068f, 0.0068f,
             (float)(columns / 2), (float)(rows / 2)};
        break;
    case CALC_LINEAR:
        d.assign(nb, 1.0f / (float)nb);
        d.push_back(0);
        break;
    case CALC_AVG:
        d = {3.4028235e38f};
        break;
    }
    for (size_t i = 0; i < run->par.size() && i < d.size(); i++)
        d[i] = run->par[i];
    run->par = d;
    if (run->function == CALC_DEV)
        run->par[0] /= 0.5f;
}

/* The quotient with a zero denominator taken as 1e-30. */
static inline double quotient(double a, double b)
{
    return a / (b == 0 ? 1e-30 : b);
}

/* The value of a pixel whose input bands are x[0], x[k], x[2k] ... */
static inline double dratio(const float *p, const float *x, int k)
{
    return quotient((double)x[0] - x[k], (double)x[2 * k] - x[3 * k]) * p[0]
           + p[1];
}

static inline double ratio(const float *p, const float *x, int k)
{
    return quotient((double)x[0] - p[2], (double)x[k] - p[3]) * p[0] + p[1];
}

static inline double nratio(const float *p, const float *x, int k)
{
    double d1 = (double)x[0] - p[0], d2 = ((double)x[k] - p[1]) * p[2];
    return quotient(d1 - d2, d1 + d2) * p[3] + p[4];
}

static inline double linear(const float *p, const float *x, int k, int nb)
{
    double s = p[nb];
    for (int b = 0; b < nb; b++)
        s += (double)p[b] * x[b * k];
    return s;
}

static inline double averageCalc(const float *p, const float *x, int k,
                                 int nb)
{
    double s = 0;
    for (int b = 0; b < nb; b++) {
        if (x[b * k] >= p[0])
            return p[0];
        s += x[b * k];
    }
    return s / nb;
}

/* The secant of the view angle of column c in row r (dev). */
static inline double devSecant(const float *p, int c, int r)
{
    double yd = (r - (double)p[7]) * p[5], xd = ((double)p[6] - c) * p[4],
           f = p[3];
    return std::sqrt((yd * yd + xd * xd + f * f) / (f * f));
}

void calcRow(const CalcRun *run, int row, int n, const float *in,
             const float *norm, float *out)
{
    const float *p = run->par.data();
    int nb = (int)run->inBands.size();
    switch (run->function) {
    case CALC_DRATIO:
        for (int c = 0; c < n; c++)
            out[c] = (float)dratio(p, in + c, n);
        break;
    case CALC_RATIO:
        for (int c = 0; c < n; c++)
            out[c] = (float)ratio(p, in + c, n);
        break;
    case CALC_NRATIO:
        for (int c = 0; c < n; c++)
            out[c] = (float)nratio(p, in + c, n);
        break;
    case CALC_STRETCH:
        for (int b = 0; b < nb; b++) {
            const float *x = in + (size_t)b * n;
            float *o = out + (size_t)b * n;
            double gain = p[2 * b], offset = p[2 * b + 1];
            for (int c = 0; c < n; c++)
                o[c] = (float)(((double)x[c] - offset) * gain);
        }
        break;
    case CALC_DEV:
        for (int b = 0; b < nb; b++) {
            /* Bands past the eighth take the first band's coefficient. */
            double coefficient = p[b < 8 ? b : 0], dark = p[1];
            const float *x = in + (size_t)b * n;
            float *o = out + (size_t)b * n;
            for (int c = 0; c < n; c++)
                o[c] = (float)(std::exp(coefficient
                                        * (devSecant(p, c, row) - 1))
                               * ((double)x[c] - dark) + dark);
        }
        break;
    case CALC_LINEAR:
        for (int c = 0; c < n; c++)
            out[c] = (float)linear(p, in + c, n, nb);
        break;
    case CALC_AVG:
        for (int c = 0; c < n; c++)
            out[c] = (float)averageCalc(p, in + c, n, nb);
        break;
    case CALC_NORM: {
        int nn = (int)run->normBands.size();
        for (int c = 0; c < n; c++) {
            double s = 0;
            for (int k = 0; k < nn; k++)
                s += norm[(size_t)k * n + c];
            double mean = s / nn;
            for (int b = 0; b < nb; b++)
                out[(size_t)b * n + c] =
                    (float)quotient(in[(size_t)b * n + c], mean);
        }
        break;
    }
    }
}
