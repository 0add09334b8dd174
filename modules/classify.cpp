/*
 * classify.cpp --
 *
 *	`rimage classify` (classifyAp): supervised classification of a
 *	window of an image with the classes of a "STATFTUR" file under one of
 *	four rules, into one band of an output image (by default a new
 *	one-band BYTE DIB whose palette shows the class means).
 *
 *	The pixel arithmetic works on tiles of pixels held band by band, so
 *	that the compiler vectorises across pixels; every pixel still sees
 *	the same single-precision operations in the same order, and the rule
 *	functions for one pixel run the same code with a tile of one.  Rows
 *	are read and written through the store on the calling thread in
 *	blocks and classified on worker threads (core/rowThreads.h); counts
 *	are kept per row and summed in row order, so the result does not
 *	depend on the thread count.  Relies on the module frame, feature
 *	files, matrix inversion, line access and the histograms (for the
 *	colour stretch of deep images).
 */
#include "modules/classify.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"
#include "modules/matInvert.h"
#include "modules/moduleFrame.h"

/* Pixels classified together; a multiple of the vector width. */
static const int TILE = 256;

/* ---------------------------------------------------------------------
 * The class model
 * --------------------------------------------------------------------- */

/*
 * createClusters_new --
 *	Means (and variances) for rules 1 and 2; inverses, their packed
 *	symmetric pairs and log determinants for rules 3 and 4.
 * Results:
 *	The model, or null after messages.
 */
Clusters *createClusters_new(Feature *record, int rule, int nb,
                             const int *featurePos, float threshold)
{
    Clusters *c = new (std::nothrow) Clusters;
    int K = record->count;
    int npairs = nb * (nb + 1) / 2;
    try {
        if (!c)
            throw std::bad_alloc();
        c->rule = rule;
        c->nclasses = K;
        c->nb = nb;
        c->threshold = threshold;
        c->means.resize((size_t)K * nb);
        c->counts.assign((size_t)K, 0);
        c->logPrior.assign((size_t)K, 0.0f);
        if (rule <= CLASSIFY_PARALLELPIPE) {
            c->vars.resize((size_t)K * nb);
        } else {
            c->inverse.resize((size_t)K * nb * nb);
            c->pairs.resize((size_t)K * npairs);
            c->lnDet.resize((size_t)K);
        }
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error in gmemAlloc - createClusters.\n");
        delete c;
        return nullptr;
    }
    int errors = 0;
    std::vector<double> cov((size_t)nb * nb);
    for (int k = 0; k < K; k++) {
        const float *mean = getStatMean(record, k);
        const float *packed = getStatCov(record, k);
        for (int j = 0; j < nb; j++) {
            c->means[(size_t)k * nb + j] = mean[featurePos[j]];
            if (rule <= CLASSIFY_PARALLELPIPE)
                c->vars[(size_t)k * nb + j] =
                    packed[covIndex(featurePos[j], featurePos[j])];
        }
        if (rule <= CLASSIFY_PARALLELPIPE)
            continue;
        for (int i = 0; i < nb; i++)
            for (int j = 0; j < nb; j++)
                cov[(size_t)i * nb + j] =
                    packed[covIndex(featurePos[i], featurePos[j])];
        double det = dgb(cov.data(), nb);
        if (!(det > 0.0)) {
            stderrPrintf("Error in inverting:%d\n", k);
            errors++;
            continue;
        }
        float *inv = &c->inverse[(size_t)k * nb * nb];
        float *pair = &c->pairs[(size_t)k * npairs];
        for (int i = 0; i < nb * nb; i++)
            inv[i] = (float)cov[i];
        for (int i = 0, p = 0; i < nb; i++)
            for (int j = 0; j <= i; j++, p++)
                pair[p] = i == j ? (float)cov[(size_t)i * nb + i]
                                 : (float)(cov[(size_t)i * nb + j]
                                           + cov[(size_t)j * nb + i]);
        c->lnDet[k] = (float)std::log(det < DBL_MIN ? DBL_MIN : det);
    }
    if (errors) {
        stderrPrintf("Total Errors in invertStateItem:%d\n", errors);
        delete c;
        return nullptr;
    }
    return c;
}

void freeClusters(Clusters *model)
{
    delete model;
}

/* ---------------------------------------------------------------------
 * The rules
 * --------------------------------------------------------------------- */

/* Four pixels at a time (one SSE register). */
typedef float FloatLanes __attribute__((vector_size(16)));
typedef int IntLanes __attribute__((vector_size(16)));
static const int LANES = 4;

static inline FloatLanes broadcast(float v)
{
    FloatLanes r = {v, v, v, v};
    return r;
}

/* Scratch of one tile: the pixels band by band (TILE each), the best
 * score and class of each pixel. */
struct ClassifyTile {
    std::vector<float> x;
    std::vector<FloatLanes> lanes;      /* nb pixels, nb differences */
    alignas(16) float best[TILE];
    alignas(16) int cls[TILE];
    explicit ClassifyTile(int nb) : x((size_t)nb * TILE), lanes((size_t)nb * 4)
    {
    }
};

/*
 * scoreTile --
 *	The winning class of every pixel of a tile: the smallest distance
 *	(rules 1 to 3) or the largest discriminant (rule 4), the first class
 *	on ties.  Per pixel and class, in single precision:
 *	  1: sum over j of (x(j) - m(j))^2
 *	  2: sum over j of |x(j) - m(j)|
 *	  3: lnDet + q      4: (logPrior - lnDet) - q
 *	with d = x - m and q = sum over i of t(i) d(i), t(i) = A(i,i) d(i) +
 *	sum over j < i of (A(i,j) + A(j,i)) d(j), A the inverse covariance.
 *	NB > 0 fixes the band count at compile time.
 */
template <int NB>
static void scoreTile(const Clusters *c, int rule, ClassifyTile *w)
{
    const int nb = NB > 0 ? NB : c->nb;
    const int npairs = nb * (nb + 1) / 2;
    const int K = c->nclasses;
    /* Two groups of lanes side by side give the processor independent
     * chains of arithmetic. */
    const int G = 2;
    FloatLanes *xv = w->lanes.data(), *d = xv + G * nb;
    FloatLanes fixedX[NB > 0 ? G * NB : 1], fixedD[NB > 0 ? G * NB : 1];
    if (NB > 0) {
        xv = fixedX;
        d = fixedD;
    }
    const IntLanes absMask = {0x7fffffff, 0x7fffffff, 0x7fffffff,
                              0x7fffffff};
    for (int p = 0; p < TILE; p += G * LANES) {
        for (int j = 0; j < nb; j++)
            for (int g = 0; g < G; g++)
                std::memcpy(&xv[j * G + g],
                            &w->x[(size_t)j * TILE + p + g * LANES],
                            sizeof(FloatLanes));
        FloatLanes best[G];
        IntLanes cls[G];
        for (int g = 0; g < G; g++) {
            best[g] = broadcast(0.0f);
            cls[g] = IntLanes{0, 0, 0, 0};
        }
        for (int k = 0; k < K; k++) {
            const float *m = &c->means[(size_t)k * nb];
            FloatLanes score[G];
            for (int g = 0; g < G; g++)
                score[g] = broadcast(0.0f);
            if (rule == CLASSIFY_EUCLIDEAN) {
                for (int j = 0; j < nb; j++) {
                    FloatLanes mj = broadcast(m[j]);
                    for (int g = 0; g < G; g++) {
                        FloatLanes v = xv[j * G + g] - mj;
                        score[g] += v * v;
                    }
                }
            } else if (rule == CLASSIFY_PARALLELPIPE) {
                for (int j = 0; j < nb; j++) {
                    FloatLanes mj = broadcast(m[j]);
                    for (int g = 0; g < G; g++) {
                        FloatLanes v = xv[j * G + g] - mj;
                        score[g] += (FloatLanes)((IntLanes)v & absMask);
                    }
                }
            } else {
                const float *a = &c->pairs[(size_t)k * npairs];
                for (int j = 0; j < nb; j++) {
                    FloatLanes mj = broadcast(m[j]);
                    for (int g = 0; g < G; g++)
                        d[j * G + g] = xv[j * G + g] - mj;
                }
                for (int i = 0; i < nb; i++, a += i) {
                    FloatLanes aii = broadcast(a[i]), t[G];
                    for (int g = 0; g < G; g++)
                        t[g] = aii * d[i * G + g];
                    for (int j = 0; j < i; j++) {
                        FloatLanes aij = broadcast(a[j]);
                        for (int g = 0; g < G; g++)
                            t[g] += aij * d[j * G + g];
                    }
                    for (int g = 0; g < G; g++)
                        score[g] += t[g] * d[i * G + g];
                }
                FloatLanes lnDet = broadcast(c->lnDet[k]);
                FloatLanes g0 = broadcast(c->logPrior[k] - c->lnDet[k]);
                for (int g = 0; g < G; g++)
                    score[g] = rule == CLASSIFY_MAHALANOBIS ? lnDet + score[g]
                                                            : g0 - score[g];
            }
            if (k == 0) {
                for (int g = 0; g < G; g++)
                    best[g] = score[g];
                continue;
            }
            IntLanes kk = {k, k, k, k};
            for (int g = 0; g < G; g++) {
                IntLanes better = rule == CLASSIFY_BAYES ? score[g] > best[g]
                                                         : score[g] < best[g];
                best[g] = better ? score[g] : best[g];
                cls[g] = better ? kk : cls[g];
            }
        }
        for (int g = 0; g < G; g++) {
            std::memcpy(&w->best[p + g * LANES], &best[g], sizeof best[g]);
            std::memcpy(&w->cls[p + g * LANES], &cls[g], sizeof cls[g]);
        }
    }
}

/* Classifies the first n pixels of a filled tile. */
static void classifyTile(const Clusters *c, int rule, ClassifyTile *w, int n,
                         float *classes, long *counts)
{
    switch (c->nb) {
    case 1: scoreTile<1>(c, rule, w); break;
    case 2: scoreTile<2>(c, rule, w); break;
    case 3: scoreTile<3>(c, rule, w); break;
    case 4: scoreTile<4>(c, rule, w); break;
    case 5: scoreTile<5>(c, rule, w); break;
    case 6: scoreTile<6>(c, rule, w); break;
    case 7: scoreTile<7>(c, rule, w); break;
    case 8: scoreTile<8>(c, rule, w); break;
    default: scoreTile<0>(c, rule, w); break;
    }
    int K = c->nclasses;
    float nb = (float)c->nb, t = c->threshold;
    for (int p = 0; p < n; p++) {
        float best = w->best[p];
        bool accepted;
        if (K == 0)
            accepted = false;
        else if (rule <= CLASSIFY_PARALLELPIPE)
            accepted = best / nb < t;
        else
            accepted = best < t;
        if (accepted) {
            classes[p] = (float)w->cls[p];
            counts[w->cls[p]]++;
        } else {
            classes[p] = (float)K;
        }
    }
}

void classifyPixels(const Clusters *c, int rule, const float *x, int n,
                    float *classes, long *counts)
{
    ClassifyTile w(c->nb);
    for (int p0 = 0; p0 < n; p0 += TILE) {
        int m = n - p0 < TILE ? n - p0 : TILE;
        for (int j = 0; j < c->nb; j++) {
            float *to = &w.x[(size_t)j * TILE];
            std::memcpy(to, x + (size_t)j * n + p0, sizeof(float) * m);
            std::fill(to + m, to + TILE, 0.0f);
        }
        classifyTile(c, rule, &w, m, classes + p0, counts);
    }
}

static int classifyOne(const float *x, Clusters *model, int rule)
{
    float cls;
    classifyPixels(model, rule, x, 1, &cls, model->counts.data());
    return (int)cls;
}

int euclidean(const float *x, Clusters *model)
{
    return classifyOne(x, model, CLASSIFY_EUCLIDEAN);
}

int parallelpipe(const float *x, Clusters *model)
{
    return classifyOne(x, model, CLASSIFY_PARALLELPIPE);
}

int mahalanobis(const float *x, Clusters *model)
{
    return classifyOne(x, model, CLASSIFY_MAHALANOBIS);
}

int bayes(const float *x, Clusters *model)
{
    return classifyOne(x, model, CLASSIFY_BAYES);
}

/* ---------------------------------------------------------------------
 * The run
 * --------------------------------------------------------------------- */

/* Parameters of one classification. */
struct ClassifyParams {
    const char *command;
    RAMImage *input;
    ModuleOutput output;
    Feature *features;
    int nb;
    std::vector<int> bands;         /* 0-based input bands */
    std::vector<int> featurePos;    /* their positions in the file */
    int outBand;                    /* 0-based */
    int rule;
    int norm;                       /* accepted, no effect */
    float threshold;
    int inRow, inColumn, outRow, outColumn, rows, columns;
};

/*
 * classifyRows --
 *	Passes every pixel of the window through `rule`, counting accepted
 *	pixels in the model, and writes the classes when `write` is set.
 * Results:
 *	1, 0 after a message (out of memory, or the user aborted).
 */
static int classifyRows(ClassifyParams *p, Clusters *c, int rule, int write,
                        const char *label, const char *memoryMessage)
{
    int nb = p->nb, K = c->nclasses, cols = p->columns;
    size_t perRow = (size_t)cols * (nb + 1);
    int blockRows = (int)(4194304 / (perRow + 1));
    blockRows = blockRows < 1 ? 1 : blockRows > 32 ? 32 : blockRows;
    std::vector<float> pixels, classes;
    std::vector<long> counts;
    try {
        pixels.resize((size_t)blockRows * cols * nb);
        classes.resize((size_t)blockRows * cols);
        counts.resize((size_t)blockRows * K);
    } catch (const std::bad_alloc &) {
        stderrPrintf("%s", memoryMessage);
        return 0;
    }
    ModuleMeter meter;
    moduleMeterStart(&meter, label);
    for (int first = 0; first < p->rows; first += blockRows) {
        int n = p->rows - first < blockRows ? p->rows - first : blockRows;
        for (int r = 0; r < n; r++)
            for (int j = 0; j < nb; j++)
                getFloatBILData(p->input, p->inRow + first + r, p->inColumn,
                                cols, p->bands[j],
                                &pixels[((size_t)r * nb + j) * cols]);
        std::atomic<bool> failed(false);
        rowThreadsRun(n, 1, [&](int b, int e) {
            try {
                for (int r = b; r < e; r++) {
                    long *rowCounts = &counts[(size_t)r * K];
                    std::fill(rowCounts, rowCounts + K, 0);
                    classifyPixels(c, rule, &pixels[(size_t)r * nb * cols],
                                   cols, &classes[(size_t)r * cols],
                                   rowCounts);
                }
            } catch (const std::bad_alloc &) {
                failed = true;
            }
        });
        if (failed) {
            stderrPrintf("%s", memoryMessage);
            return 0;
        }
        for (int r = 0; r < n; r++) {
            if (write)
                putFloatBILData(p->output.image, p->outRow + first + r,
                                p->outColumn, cols, p->outBand,
                                &classes[(size_t)r * cols]);
            for (int k = 0; k < K; k++)
                c->counts[k] += counts[(size_t)r * K + k];
            if (!moduleMeterRow(&meter, first + r + 1, p->rows)) {
                moduleReportCanceled(p->command);
                return 0;
            }
        }
    }
    moduleMeterEnd(&meter);
    return 1;
}

/*
 * calcPrior --
 *	Bayes priors: every pixel through the city-block rule; log-prior of
 *	class k is 2 ln(count(k) / N), 0 for a class without pixels.
 */
static int calcPrior(ClassifyParams *p, Clusters *c)
{
    std::fill(c->counts.begin(), c->counts.end(), 0);
    /* The city-block rule needs only the means, which the model has. */
    if (!classifyRows(p, c, CLASSIFY_PARALLELPIPE, 0, "calcPrior",
                      "Error in gmemAlloc: calcPrior\n"))
        return 0;
    double total = 0;
    for (long n : c->counts)
        total += (double)n;
    for (int k = 0; k < c->nclasses; k++)
        c->logPrior[k] = c->counts[k] > 0
            ? (float)(2.0 * std::log((double)c->counts[k] / total)) : 0.0f;
    std::fill(c->counts.begin(), c->counts.end(), 0);
    return 1;
}

/* A palette component from a class mean: the mean itself for 8-bit
 * inputs, else stretched over mean +- 2.5 deviations of the band. */
static unsigned char classColour(double mean, bool shallow, double low,
                                 double range)
{
    double v = shallow ? mean : (mean - low) / range * 255.0;
    long r = std::lround(v);
    return (unsigned char)(r < 0 ? 0 : r > 255 ? 255 : r);
}

/*
 * classColourPalette --
 *	Colours the palette of `out` from class means (K x nb over the used
 *	bands `bands` of `input`): the first (up to) three bands give red,
 *	green and blue, directly for 8-bit inputs, else stretched over
 *	mean +- 2.5 deviations of the band; one band gives grey; entries
 *	from K on become black.  The output file's palette is rewritten and
 *	its clients told.
 */
void classColourPalette(RAMImage *out, RAMImage *input, const int *bands,
                        int nb, const float *means, int K)
{
    int entries = out->info.nindices < 256 ? out->info.nindices : 256;
    int nc = nb < 3 ? nb : 3;
    bool shallow = input->info.bits <= 8;
    double low[3] = {0, 0, 0}, range[3] = {1, 1, 1};
    for (int j = 0; j < nc && !shallow; j++) {
        double sd = 0, mean = 0, min = 0, max = 0;
        ramImageStats(input, bands[j], &sd, &mean, &min, &max);
        if (sd == 0)
            sd = 3.4028234663852886e38;
        double lo = mean - 2.5 * sd, hi = mean + 2.5 * sd;
        lo = lo < min ? min : lo;
        hi = hi > max ? max : hi;
        low[j] = lo;
        range[j] = hi - lo == 0 ? 1e-17 : hi - lo;
    }
    for (int k = 0; k < entries; k++) {
        unsigned char rgb[3] = {0, 0, 0};
        if (k < K) {
            for (int j = 0; j < nc; j++)
                rgb[j] = classColour(means[(size_t)k * nb + j], shallow,
                                     low[j], range[j]);
            if (nc == 1)
                rgb[1] = rgb[2] = rgb[0];
        }
        std::memcpy(out->info.palette[k], rgb, 3);
    }
    updateImageIndices(out->fd, &out->info, out->privateData);
    updateClient(out, nullptr, 1);
}

/* The palette of the output from the class means. */
static void classifyUpdateColor(ClassifyParams *p, const Clusters *c)
{
    classColourPalette(p->output.image, p->input, p->bands.data(), p->nb,
                       c->means.data(), c->nclasses);
}

/*
 * classify --
 *	Builds the model, colours the palette, finds the priors (Bayes) and
 *	classifies the window.
 * Results:
 *	1 when the pixel loop completed, else 0.
 */
static int classify(ClassifyParams *p)
{
    Clusters *c = createClusters_new(p->features, p->rule, p->nb,
                                     p->featurePos.data(), p->threshold);
    freeFeature(p->features);
    p->features = nullptr;
    if (!c)
        return 0;
    struct Holder {
        Clusters *c;
        ~Holder() { freeClusters(c); }
    } holder{c};
    if (p->output.image->info.nindices > 0)
        classifyUpdateColor(p, c);
    if (p->rule == CLASSIFY_BAYES && !calcPrior(p, c))
        return 0;
    return classifyRows(p, c, p->rule, 1, "classify",
                        "Error in gmemAlloc: classifyGeneric\n");
}

/* ---------------------------------------------------------------------
 * The entry
 * --------------------------------------------------------------------- */

static const char *const usageLines[] = {
    "-in     input image",
    "-out    output image (created as a one-band BYTE DIB when missing)",
    "-stat   statistics file of the classes",
    "-ib     input bands, e.g. 1-3,5 (default: the statistics' bands)",
    "-ob     output band (default 1)",
    "-o      EUCLIDEAN, PARALLELPIPE, MAHALANOBIS or BAYES (default E)",
    "-norm   Y or N (default N)",
    "-tshd   distance threshold of the unknown class (default 10)",
    "-ir -ic input start row and column (default 0 0)",
    "-or -oc output start row and column (default 0 0)",
    "-r -c   rows and columns (default: the input's)",
    nullptr};

/* The rule a -o word names (a leading part of a name), 0 if none. */
static int ruleNumber(const char *word)
{
    static const char *const names[] = {"EUCLIDEAN", "PARALLELPIPE",
                                        "MAHALANOBIS", "BAYES"};
    size_t n = std::strlen(word);
    for (int i = 0; i < 4 && n > 0; i++)
        if (std::strncmp(names[i], word, n) == 0)
            return i + 1;
    return 0;
}

static long longOption(const char *value, long fallback)
{
    return value ? std::atol(value) : fallback;
}

/*
 * paramClassify --
 *	Checks the options in their order and opens the images and the
 *	statistics.
 * Results:
 *	1, or 0 after a message (what was opened stays in p for the caller
 *	to release).
 */
static int paramClassify(ClassifyParams *p, ModuleParam *table, int *err)
{
    enum { IN, OUT, STAT, IB, OB, OP, NORM, TSHD, IR, IC, OR, OC, R, C };
    if (!table[STAT].value) {
        stderrPrintf("stat missing!\n");
        return 0;
    }
    if (!(p->features = getFeatures(table[STAT].value, STAT_MAGIC))) {
        stderrPrintf("Error in open stat: %s\n", table[STAT].value);
        return 0;
    }
    if (!table[IN].value) {
        stderrPrintf("Input image missing!\n");
        return 0;
    }
    if (!(p->input = moduleOpenImage(table[IN].value, err))) {
        stderrPrintf("Error in open %s\n", table[IN].value);
        return 0;
    }
    if (!table[OUT].value) {
        stderrPrintf("Output image missing!\n");
        return 0;
    }
    ImageInfo info;
    moduleOutputInfo(&info, &p->input->info, table[OUT].value, PIXEL_BYTE,
                     IMG_DIB, 1);
    info.nindices = 256;
    if (!moduleOpenOutput(&p->output, table[OUT].value, &info, err)) {
        stderrPrintf("Error in open %s\n", table[OUT].value);
        return 0;
    }
    p->rule = CLASSIFY_EUCLIDEAN;
    if (table[OP].value && !(p->rule = ruleNumber(table[OP].value))) {
        stderrPrintf("Unknown option: %s\n", table[OP].value);
        return 0;
    }
    p->norm = table[NORM].value && (table[NORM].value[0] == 'Y'
                                    || table[NORM].value[0] == 'y')
              && table[NORM].value[1] == '\0';
    long ob = longOption(table[OB].value, 1);
    if (ob < 1 || ob > p->output.image->info.nbands) {
        stderrPrintf("Output band out of range.\n");
        return 0;
    }
    p->outBand = (int)ob - 1;

    const ImageInfo &in = p->input->info;
    Feature *f = p->features;
    if (table[IB].value && table[IB].value[0] >= '0'
            && table[IB].value[0] <= '9') {
        std::vector<int> list((size_t)in.nbands);
        int n = parseBandDef(table[IB].value, list.data(), in.nbands);
        bool ok = n > 0 && n <= in.nbands;
        for (int i = 0; ok && i < n; i++)
            ok = list[i] >= 1 && list[i] <= in.nbands;
        if (!ok) {
            stderrPrintf("Illegal band number.\n");
            return 0;
        }
        for (int i = 0; i < n; i++)
            p->bands.push_back(list[i] - 1);
    } else {
        for (int i = 0; i < f->nbands; i++) {
            int band = getFeatureBand(f, i);
            if (band < 0 || band >= in.nbands) {
                stderrPrintf("Illegal band number.\n");
                return 0;
            }
            p->bands.push_back(band);
        }
    }
    p->nb = (int)p->bands.size();
    for (int i = 0; i < p->nb; i++)
        for (int j = 0; j < i; j++)
            if (p->bands[i] == p->bands[j]) {
                stderrPrintf("Duplicated input band.\n");
                return 0;
            }
    for (int i = 0; i < p->nb; i++) {
        int pos = -1;
        for (int k = 0; k < f->nbands && pos < 0; k++)
            if (getFeatureBand(f, k) == p->bands[i])
                pos = k;
        if (pos < 0) {
            stderrPrintf("Input band %d is not found in features.\n",
                         p->bands[i] + 1);
            return 0;
        }
        p->featurePos.push_back(pos);
    }
    if (f->count < 1) {
        stderrPrintf("No classes in %s.\n", table[STAT].value);
        return 0;
    }
    float tshd = table[TSHD].value ? (float)std::atof(table[TSHD].value)
                                   : 10.0f;
    p->threshold = tshd * tshd;

    const ImageInfo &out = p->output.image->info;
    long ir = longOption(table[IR].value, 0), ic = longOption(table[IC].value, 0);
    long orow = longOption(table[OR].value, 0);
    long ocol = longOption(table[OC].value, 0);
    if (ir < 0 || ir >= in.rows) {
        stderrPrintf("input start row out of range.\n");
        return 0;
    }
    if (ic < 0 || ic >= in.columns) {
        stderrPrintf("input start colum out of range.\n");
        return 0;
    }
    if (orow < 0 || orow >= out.rows) {
        stderrPrintf("output start row out of range.\n");
        return 0;
    }
    if (ocol < 0 || ocol >= out.columns) {
        stderrPrintf("output start column out of range.\n");
        return 0;
    }
    long rows = longOption(table[R].value, in.rows);
    long cols = longOption(table[C].value, in.columns);
    rows = std::min(rows, std::min<long>(in.rows - ir, out.rows - orow));
    cols = std::min(cols, std::min<long>(in.columns - ic,
                                         out.columns - ocol));
    p->inRow = (int)ir;
    p->inColumn = (int)ic;
    p->outRow = (int)orow;
    p->outColumn = (int)ocol;
    p->rows = rows > 0 ? (int)rows : 0;
    p->columns = cols > 0 ? (int)cols : 0;
    return 1;
}

/*
 * classifyAp --
 *	rimage classify.
 * Results:
 *	2 usage printed, 1 success, 0 failure.
 */
int classifyAp(const char *command, int argc, const char **argv)
{
    if (argc < 1) {
        moduleUsage(command,
                    "-in IN -out OUT -stat STAT -ib IB -ob OB -o OP -norm NORM"
                    " -tshd TSHD -ir IR -ic IC -or OR -oc OC -r R -c C\n",
                    usageLines);
        return 2;
    }
    ModuleParam table[] = {
        {"-in", nullptr}, {"-out", nullptr}, {"-stat", nullptr},
        {"-ib", nullptr}, {"-ob", nullptr}, {"-o", nullptr},
        {"-norm", nullptr}, {"-tshd", nullptr}, {"-ir", nullptr},
        {"-ic", nullptr}, {"-or", nullptr}, {"-oc", nullptr},
        {"-r", nullptr}, {"-c", nullptr}, {nullptr, nullptr}};
    int unknown = parseConfig(table, argc, argv);
    if (unknown) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    ClassifyParams p;
    p.command = command;
    p.input = nullptr;
    p.output.image = nullptr;
    p.features = nullptr;
    int err = 0;
    int rc = paramClassify(&p, table, &err);
    if (rc) {
        rc = classify(&p);
    } else {
        freeFeature(p.features);
        ramimgErrorReport(err);
    }
    if (rc)
        moduleFinishOutput(&p.output);
    else
        moduleDiscardOutput(&p.output);
    if (p.input)
        closeRAMImage(p.input, nullptr);
    meterReset();
    return rc;
}
