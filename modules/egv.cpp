/*
 * egv.cpp --
 *
 *	`rimage egv` and `calc egv` (egvAp): principal components of one
 *	item of a statistics file.  Each eigenpair is found by power
 *	iteration from (1, 0, ..., 0), scaling by the largest component, and
 *	removed from the matrix (deflation) before the next.  The result is
 *	an "EIGENID" file whose private area keeps the source, whether the
 *	analysis was on correlations, and each band's variance and mean, so
 *	that pixels can later be standardised and projected.  Relies on the
 *	module frame and feature files.
 */
#include "modules/egv.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/meter.h"
#include "core/stdstream.h"
#include "modules/moduleFrame.h"

/* Power iteration from unit vector `start`.  Results: the eigenvalue
 * estimate, 0 when the matrix maps an iterate to zero. */
static double powerIterate(const std::vector<double> &a, double *vector,
                           int nb, int start, double tolerance,
                           int iterations)
{
    std::vector<double> y((size_t)nb);
    for (int j = 0; j < nb; j++)
        vector[j] = j == start ? 1.0 : 0.0;
    double previous = 1000.0, lambda = 0.0;
    for (int it = 0; it < iterations; it++) {
        for (int i = 0; i < nb; i++) {
            double s = 0.0;
            for (int j = 0; j < nb; j++)
                s += a[(size_t)i * nb + j] * vector[j];
            y[i] = s;
        }
        lambda = 0.0;
        for (int i = 0; i < nb; i++)
            if (std::fabs(y[i]) > std::fabs(lambda))
                lambda = y[i];
        if (lambda == 0.0)
            return 0.0;
        double change = 0.0;
        for (int j = 0; j < nb; j++) {
            double next = y[j] / lambda;
            change = std::fmax(change, std::fabs(next - vector[j]));
            vector[j] = next;
        }
        double lambdaChange = std::fabs(lambda - previous);
        previous = lambda;
        if (change <= tolerance && lambdaChange <= tolerance)
            break;
    }
    return lambda;
}

/*
 * calcEV --
 *	Power iteration for the dominant eigenpair from (1, 0, ..., 0), then
 *	deflation.  When the matrix maps that start to zero (it is
 *	orthogonal to what is left, as after the first pair of a diagonal
 *	matrix), the iteration starts again from the unit vector of the
 *	largest diagonal element; a matrix left with nothing gives 0.
 */
double calcEV(double *packed, double *vector, int nb, double tolerance,
              int iterations)
{
    std::vector<double> a((size_t)nb * nb);
    for (int i = 0; i < nb; i++)
        for (int j = 0; j <= i; j++)
            a[(size_t)i * nb + j] = a[(size_t)j * nb + i] =
                packed[covIndex(i, j)];
    double lambda = powerIterate(a, vector, nb, 0, tolerance, iterations);
    if (lambda == 0.0) {
        int start = 0;
        for (int j = 1; j < nb; j++)
            if (a[(size_t)j * nb + j] > a[(size_t)start * nb + start])
                start = j;
        if (start != 0)
            lambda = powerIterate(a, vector, nb, start, tolerance,
                                  iterations);
        if (lambda == 0.0)
            for (int j = 0; j < nb; j++)
                vector[j] = j == start ? 1.0 : 0.0;
    }
    double norm = 0.0;
    for (int j = 0; j < nb; j++)
        norm += vector[j] * vector[j];
    norm = std::sqrt(norm);
    for (int j = 0; j < nb; j++)
        vector[j] /= norm;
    for (int i = 0; i < nb; i++)
        for (int j = 0; j <= i; j++)
            packed[covIndex(i, j)] -= lambda * vector[i] * vector[j];
    return lambda;
}

Feature *egvInit(Feature *stat, int item, int normalise, int k)
{
    int nb = stat->nbands;
    std::vector<int> bands((size_t)nb);
    for (int i = 0; i < nb; i++)
        bands[i] = getFeatureBand(stat, i);
    Feature *f = newFeature(EIGEN_MAGIC, bands.data(), nb, evSize(nb), k,
                            nullptr, evPSize(nb));
    if (!f)
        return nullptr;
    unsigned char *p = getFeaturePrivate(f);
    int32_t flag = normalise ? 1 : 0;
    std::memcpy(p + 512, &flag, 4);
    const float *mean = getStatMean(stat, item), *cov = getStatCov(stat, item);
    for (int i = 0; i < nb; i++) {
        float pair[2] = {cov[covIndex(i, i)], mean[i]};
        std::memcpy(p + 516 + 8 * i, pair, 8);
    }
    return f;
}

Feature *egvCalc(int k, Feature *stat, int normalise, int item,
                 float tolerance, int iterations)
{
    int nb = stat->nbands;
    Feature *f = egvInit(stat, item, normalise, k);
    if (!f) {
        stderrPrintf("Error in creating EGV feature.\n");
        return nullptr;
    }
    if (normalise)
        normStat(stat, item);
    const float *cov = getStatCov(stat, item);
    std::vector<double> packed(cov, cov + nb * (nb + 1) / 2);
    std::vector<double> vector((size_t)nb);
    double trace = 0.0;
    for (int i = 0; i < nb; i++)
        trace += packed[covIndex(i, i)];
    for (int i = 0; i < k; i++) {
        double lambda = calcEV(packed.data(), vector.data(), nb, tolerance,
                               iterations);
        EVItem *e = getEV(f, i);
        e->id = i;
        e->value = (float)lambda;
        e->percent = (float)(lambda / trace * 100.0);
        float *v = getEVVector(e);
        for (int j = 0; j < nb; j++)
            v[j] = (float)vector[j];
        meterSet("egv", (double)(i + 1) / k);
    }
    return f;
}

static const char *const usageLines[] = {
    "-in    statistics file",
    "-out   eigen-vector file to write",
    "-stat  name of the statistics item (default: item 0)",
    "-id    0-based index of the statistics item (default 0)",
    "-negvs number of eigenvectors (default: all bands)",
    "-o     NONNORM (covariance) or NORM (correlation), default NONNORM",
    "-iter  power iterations per eigenvector (default 512)",
    "-err   convergence tolerance (default 1e-10)",
    nullptr};

/*
 * egvAp --
 *	rimage egv / calc egv: checks the options, computes and writes the
 *	eigenvectors and prints the cumulative percentage.
 * Results:
 *	2 usage printed, 1 success, 0 failure.
 */
int egvAp(const char *command, int argc, const char **argv)
{
    if (argc < 1) {
        moduleUsage(command,
                    "-in IN -out OUT -stat STAT -id ID -negvs NEGVS -o OPT"
                    " -iter ITER -err ERR\n",
                    usageLines);
        return 2;
    }
    ModuleParam table[] = {
        {"-in", nullptr}, {"-out", nullptr}, {"-stat", nullptr},
        {"-id", nullptr}, {"-negvs", nullptr}, {"-o", nullptr},
        {"-iter", nullptr}, {"-err", nullptr}, {nullptr, nullptr}};
    enum { IN, OUT, STAT, ID, NEGVS, OPT, ITER, ERR };
    int unknown = parseConfig(table, argc, argv);
    if (unknown) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    if (!table[IN].value) {
        stderrPrintf("Input stat file missing!\n");
        return 0;
    }
    Feature *stat = getFeatures(table[IN].value, STAT_MAGIC);
    if (!stat) {
        stderrPrintf("Fail to get feature file: %s\n", table[IN].value);
        return 0;
    }
    struct Holder {
        Feature *f;
        ~Holder() { freeFeature(f); }
    } holder{stat};
    if (!table[OUT].value) {
        stderrPrintf("output eigen vector file missing!\n");
        return 0;
    }
    int item = 0;
    if (table[ID].value) {
        long id = std::atol(table[ID].value);
        if (id < 0 || id >= stat->count) {
            stderrPrintf("Invalid statID %s\n", table[ID].value);
            return 0;
        }
        item = (int)id;
    } else if (table[STAT].value) {
        if ((item = getStatID(stat, table[STAT].value)) < 0) {
            stderrPrintf("Couldn't find stat: %s\n", table[STAT].value);
            return 0;
        }
    } else if (stat->count < 1) {
        stderrPrintf("Invalid statID %s\n", "0");
        return 0;
    }
    int normalise = 0;
    if (table[OPT].value) {
        if (strcasecmp(table[OPT].value, "NORM") == 0) {
            normalise = 1;
        } else if (strcasecmp(table[OPT].value, "NONNORM") != 0) {
            stderrPrintf("Undefined option: %s\n", table[OPT].value);
            return 0;
        }
    }
    int nb = stat->nbands;
    long k = table[NEGVS].value ? std::atol(table[NEGVS].value) : nb;
    if (k < 1) {
        stderrPrintf("Invalid number of eigen vectors: %s\n",
                     table[NEGVS].value);
        return 0;
    }
    if (k > nb)
        k = nb;
    long iterations = table[ITER].value ? std::atol(table[ITER].value) : 512;
    if (iterations < 1)
        iterations = 1;
    float tolerance = table[ERR].value ? (float)std::atof(table[ERR].value)
                                       : 1e-10f;
    const float *cov = getStatCov(stat, item);
    double trace = 0.0;
    for (int i = 0; i < nb; i++)
        trace += cov[covIndex(i, i)];
    if (!(trace > 0.0)) {
        stderrPrintf("The stat %d has no variance.\n", item);
        return 0;
    }

    std::string name(getStat(stat, item)->name,
                     strnlen(getStat(stat, item)->name, 32));
    meterReset();
    Feature *f = egvCalc((int)k, stat, normalise, item, tolerance,
                         (int)iterations);
    meterReset();
    if (!f)
        return 0;
    char *source = reinterpret_cast<char *>(getFeaturePrivate(f));
    std::snprintf(source, 512, "%s %s %d", table[IN].value, name.c_str(),
                  item);
    double total = 0.0;
    for (int i = 0; i < f->count; i++)
        total += getEV(f, i)->percent;
    int rc = putFeatures(table[OUT].value, f);
    freeFeature(f);
    if (rc)
        stdoutPrintf("AEVPct: %.6f\n", total);
    return rc;
}
