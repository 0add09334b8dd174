/*
 * gstat.cpp --
 *
 *	`rimage gstat` (statRimgAp): collects the mean vector and population
 *	covariance of chosen bands over a window of an image, every dx-th
 *	column of every dy-th row, optionally only where a mask image has a
 *	given value, and pools them into a named item of a "STATFTUR" file.
 *
 *	Rows are read through the store on the calling thread in blocks; the
 *	sums of each row are computed on worker threads (core/rowThreads.h)
 *	and added in row order, so the result does not depend on the thread
 *	count.  Row sums go into chunk sums, which are merged into running
 *	means and mean products (all double) once a chunk exceeds the chunk
 *	size; the pooling with the stored item is done in long double.
 *	Relies on the module frame, feature files and line access.
 */
#include "modules/gstat.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"
#include "modules/moduleFrame.h"

int statCovCount(int nb)
{
    return nb * (nb + 1) / 2;
}

void statAccu(double *cross, double *sums, int nb, const float *pixels,
              long count)
{
    if (nb == 4) {
        /* The common case unrolled: 4 sums and 10 products. */
        double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        double c[10] = {0};
        for (long k = 0; k < count; k++) {
            const float *x = pixels + k * 4;
            double x0 = x[0], x1 = x[1], x2 = x[2], x3 = x[3];
            s0 += x0; s1 += x1; s2 += x2; s3 += x3;
            c[0] += x0 * x0;
            c[1] += x1 * x0; c[2] += x1 * x1;
            c[3] += x2 * x0; c[4] += x2 * x1; c[5] += x2 * x2;
            c[6] += x3 * x0; c[7] += x3 * x1; c[8] += x3 * x2;
            c[9] += x3 * x3;
        }
        sums[0] += s0; sums[1] += s1; sums[2] += s2; sums[3] += s3;
        for (int i = 0; i < 10; i++)
            cross[i] += c[i];
        return;
    }
    for (long k = 0; k < count; k++) {
        const float *x = pixels + k * nb;
        double *c = cross;
        for (int i = 0; i < nb; i++) {
            double xi = x[i];
            sums[i] += xi;
            for (int j = 0; j <= i; j++)
                *c++ += xi * x[j];
        }
    }
}

void mergeAccu(double *cross, double *sums, const double *crossAdd,
               const double *sumsAdd, int nb)
{
    for (int i = 0; i < nb; i++)
        sums[i] += sumsAdd[i];
    for (int i = 0, n = statCovCount(nb); i < n; i++)
        cross[i] += crossAdd[i];
}

long mergeStatAccu(long total, int nb, double *meanProducts, double *means,
                   const double *cross, const double *sums, long count)
{
    if (count <= 0)
        return total;
    long merged = total + count;
    double a = (double)total / (double)merged, b = 1.0 - a;
    for (int i = 0; i < nb; i++)
        means[i] = a * means[i] + b * (sums[i] / (double)count);
    for (int i = 0, n = statCovCount(nb); i < n; i++)
        meanProducts[i] = a * meanProducts[i] + b * (cross[i] / (double)count);
    return merged;
}

void calcCovFromStat(double *meanProducts, const double *means, int nb)
{
    for (int i = 0; i < nb; i++)
        for (int j = 0; j <= i; j++)
            meanProducts[covIndex(i, j)] -= means[i] * means[j];
}

/*
 * mergeStatToFeature --
 *	Pools a run (means M, covariances S over count pixels) into a stored
 *	item (means m, covariances c over K pixels) with w = N / (K + N).
 */
void mergeStatToFeature(Feature *record, int item, const double *cov,
                        const double *means, long count)
{
    StatItem *s = getStat(record, item);
    float *m = getStatMean(record, item), *c = getStatCov(record, item);
    int nb = record->nbands;
    long stored = s->nPixels > 0 ? s->nPixels : 0;
    long total = stored + count;
    long double w = (long double)count / (long double)total, v = 1.0L - w;
    for (int i = 0; i < nb; i++)
        for (int j = 0; j <= i; j++) {
            int k = covIndex(i, j);
            long double mi = m[i], mj = m[j];
            long double pooled = (mi * mj + c[k]) * v
                                 + ((long double)means[i] * means[j] + cov[k])
                                       * w
                                 - (mi * v + means[i] * w)
                                       * (mj * v + means[j] * w);
            c[k] = (float)pooled;
        }
    for (int i = 0; i < nb; i++)
        m[i] = (float)((long double)m[i] * v + (long double)means[i] * w);
    s->nPixels = (int32_t)(total > INT32_MAX ? INT32_MAX : total);
}

void mergeMeanCov(float *means, float *cov, long count, const double *sums,
                  const double *cross, long oldCount, int nb)
{
    if (count <= 0)
        return;
    double a = (double)oldCount / (double)(oldCount + count), b = 1.0 - a;
    for (int i = 0; i < nb; i++)
        means[i] = (float)(a * means[i] + b * sums[i] / (double)count);
    for (int i = 0, n = statCovCount(nb); i < n; i++)
        cov[i] = (float)(a * cov[i] + b * cross[i] / (double)count);
}

/* Copies at most size - 1 characters of text into a zeroed field. */
static void copyField(char *field, size_t size, const char *text)
{
    std::memcpy(field, text, strnlen(text, size - 1));
}

/* Writes the name, the current time and the index into an item. */
static void stampStat(Feature *record, int item, const char *name)
{
    StatItem *s = getStat(record, item);
    std::memset(s->name, 0, sizeof s->name);
    copyField(s->name, sizeof s->name, name);
    std::memset(s->note, 0, sizeof s->note);
    time_t now = time(nullptr);
    char text[32];
    if (ctime_r(&now, text))
        copyField(s->note, sizeof s->note, text);
    s->id = item;
}

void calcCov(Feature *record, int item, const char *name)
{
    stampStat(record, item, name);
    float *m = getStatMean(record, item), *c = getStatCov(record, item);
    for (int i = 0; i < record->nbands; i++)
        for (int j = 0; j <= i; j++)
            c[covIndex(i, j)] -= m[i] * m[j];
}

/* ---------------------------------------------------------------------
 * The run
 * --------------------------------------------------------------------- */

/* Reads the statistics file for the run, or makes a new record.  An
 * existing statistics file that cannot be read fails the run rather than
 * being replaced.  Results: the record with the item index in *item. */
static Feature *statTarget(StatParams *p, int *item)
{
    Feature *f = nullptr;
    FILE *probe = std::fopen(p->outFile, "rb");
    bool isStat = false;
    if (probe) {
        char magic[8];
        isStat = std::fread(magic, 1, 8, probe) == 8
                 && std::memcmp(magic, STAT_MAGIC, 8) == 0;
        std::fclose(probe);
    }
    if (isStat) {
        f = getFeatures(p->outFile, STAT_MAGIC);
        if (!f) {
            stderrPrintf("Error in reading stat file: %s\n", p->outFile);
            return nullptr;
        }
        *item = getStatID(f, p->statName);
        if (*item < 0) {
            f = addFeature(f, nullptr);
            if (!f)
                return nullptr;
            *item = f->count - 1;
        }
        return f;
    }
    char priv[STAT_PRIVATE_SIZE] = {0};
    copyField(priv, STAT_SOURCE_SIZE, p->image->info.fileName);
    std::strcpy(priv + STAT_SOURCE_SIZE, "Created by GSTATS");
    f = newFeature(STAT_MAGIC, p->bands, p->nb, statSize(p->nb), 1, priv,
                   STAT_PRIVATE_SIZE);
    *item = 0;
    return f;
}

/*
 * statRimg --
 *	Collects the statistics of the window into the item named
 *	p->statName of p->outFile; nothing is written when no pixel counted.
 * Results:
 *	1, or 0 after a message (also when the user aborted).
 */
int statRimg(StatParams *p, long chunkSize)
{
    int item;
    Feature *f = statTarget(p, &item);
    if (!f)
        return 0;
    struct Holder {
        Feature *f;
        ~Holder() { freeFeature(f); }
    } holder{f};
    /* The bands of an existing file are fixed. */
    int nb = f->nbands;
    std::vector<int> bands((size_t)nb);
    for (int i = 0; i < nb; i++) {
        bands[i] = getFeatureBand(f, i);
        if (bands[i] < 0 || bands[i] >= p->image->info.nbands) {
            stderrPrintf("Band %d of %s is not in the image.\n", bands[i] + 1,
                         p->outFile);
            return 0;
        }
    }
    stampStat(f, item, p->statName);

    int perLine = (p->columns + p->dx - 1) / p->dx;
    int ncov = statCovCount(nb);
    size_t accu = (size_t)nb + (size_t)ncov;
    int blockRows = (int)(4194304 / ((size_t)perLine * nb + accu + 1));
    blockRows = blockRows < 1 ? 1 : blockRows > 64 ? 64 : blockRows;
    std::vector<float> data;
    std::vector<unsigned char> maskLine;
    std::vector<double> rowAccu, chunk, running;
    std::vector<long> rowCount;
    try {
        data.resize((size_t)blockRows * perLine * nb);
        maskLine.resize((size_t)perLine);
        rowAccu.resize((size_t)blockRows * accu);
        chunk.assign(accu, 0.0);
        running.assign(accu, 0.0);
        rowCount.resize((size_t)blockRows);
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error in gmemAlloc.\n");
        return 0;
    }
    double *chunkSums = chunk.data(), *chunkCross = chunk.data() + nb;
    double *means = running.data(), *products = running.data() + nb;
    long chunkCount = 0, total = 0;
    const int zero = 0;

    ModuleMeter meter;
    moduleMeterStart(&meter, "gstats");
    int end = p->startRow + p->rows;
    for (int first = p->startRow; first < end;
         first += blockRows * p->dy) {
        /* Read a block of rows on this thread. */
        int n = 0;
        for (int row = first; row < end && n < blockRows; row += p->dy, n++) {
            float *line = data.data() + (size_t)n * perLine * nb;
            long count = perLine;
            if (p->mask) {
                readByteBIPData(p->mask, row, p->startColumn, p->columns,
                                p->dx, 1, &zero, maskLine.data());
                count = 0;
                for (int k = 0; k < perLine; k++)
                    count += maskLine[k] == p->maskId;
            }
            rowCount[n] = count;
            if (count == 0)
                continue;
            readFloatBIPData(p->image, row, p->startColumn, p->columns,
                             p->dx, nb, bands.data(), line);
            if (count < perLine) {
                long kept = 0;
                for (int k = 0; k < perLine; k++)
                    if (maskLine[k] == p->maskId)
                        std::memmove(line + kept++ * nb, line + (size_t)k * nb,
                                     sizeof(float) * nb);
            }
        }
        /* Row sums in parallel, each row its own accumulator. */
        rowThreadsRun(n, 1, [&](int b, int e) {
            for (int r = b; r < e; r++) {
                double *a = rowAccu.data() + (size_t)r * accu;
                std::fill(a, a + accu, 0.0);
                statAccu(a + nb, a, nb, data.data() + (size_t)r * perLine * nb,
                         rowCount[r]);
            }
        });
        /* Chunks in row order. */
        for (int r = 0; r < n; r++) {
            if (rowCount[r] > 0) {
                const double *a = rowAccu.data() + (size_t)r * accu;
                mergeAccu(chunkCross, chunkSums, a + nb, a, nb);
                chunkCount += rowCount[r];
                if (chunkCount > chunkSize) {
                    total = mergeStatAccu(total, nb, products, means,
                                          chunkCross, chunkSums, chunkCount);
                    std::fill(chunk.begin(), chunk.end(), 0.0);
                    chunkCount = 0;
                }
            }
            int row = first + r * p->dy;
            if (!moduleMeterRow(&meter, row - p->startRow + 1, p->rows)) {
                moduleReportCanceled(p->command);
                meterReset();
                return 0;
            }
        }
    }
    total = mergeStatAccu(total, nb, products, means, chunkCross, chunkSums,
                          chunkCount);
    moduleMeterEnd(&meter);
    int rc = 1;
    if (total > 0) {
        calcCovFromStat(products, means, nb);
        mergeStatToFeature(f, item, products, means, total);
        rc = putFeatures(p->outFile, f);
    }
    meterReset();
    return rc;
}

/* ---------------------------------------------------------------------
 * The entry
 * --------------------------------------------------------------------- */

static const char *const usageLines[] = {
    "-in     image to measure (tag or file)",
    "-out    statistics file to create or update",
    "-mask   mask image of the same size (default: none)",
    "-stat   name of the statistics, at most 31 characters",
    "-sr -sc start row and column (default 0 0)",
    "-r -c   rows and columns of the window (default: the image's)",
    "-b      bands, e.g. 1-3,5 (default: all)",
    "-dx -dy column and row increments (default 1 1)",
    "-maskid mask value of the pixels counted (default 1)",
    nullptr};

/*
 * statRimgAp --
 *	rimage gstat: checks the options, opens the images and runs the
 *	collection.
 * Results:
 *	2 usage printed, 1 success, 0 failure.
 */
int statRimgAp(const char *command, int argc, const char **argv)
{
    if (argc < 1) {
        moduleUsage(command,
                    "-in IN -out OUT -mask MASK -stat STAT -sr SR -sc SC -r R"
                    " -c C -b B -dx DX -dy DY -maskid MASKID\n",
                    usageLines);
        return 2;
    }
    ModuleParam table[] = {
        {"-in", nullptr}, {"-out", nullptr}, {"-mask", nullptr},
        {"-stat", nullptr}, {"-sr", nullptr}, {"-sc", nullptr},
        {"-r", nullptr}, {"-c", nullptr}, {"-b", nullptr},
        {"-dx", nullptr}, {"-dy", nullptr}, {"-maskid", nullptr},
        {nullptr, nullptr}};
    enum { IN, OUT, MASK, STAT, SR, SC, R, C, B, DX, DY, MASKID };
    int unknown = parseConfig(table, argc, argv);
    if (unknown) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    int err = 0;
    ModuleImage image, mask;
    auto fail = [&](void) {
        ramimgErrorReport(err);
        return 0;
    };
    if (!table[IN].value) {
        stderrPrintf("Image file missing.\n");
        return fail();
    }
    if (!(image.r = moduleOpenImage(table[IN].value, &err))) {
        stderrPrintf("Error in open %s.\n", table[IN].value);
        return fail();
    }
    long maskId = table[MASKID].value ? std::atol(table[MASKID].value) : 1;
    if (table[MASK].value) {
        if (!(mask.r = moduleOpenImage(table[MASK].value, &err))) {
            stderrPrintf("Error in open %s.\n", table[MASK].value);
            return fail();
        }
        if (mask.r->info.rows != image.r->info.rows
                || mask.r->info.columns != image.r->info.columns) {
            stderrPrintf("Error: inconsistent row or/and columns between"
                         " mask and data.\n");
            return fail();
        }
    }
    if (!table[STAT].value) {
        stderrPrintf("Stat name missing.\n");
        return fail();
    }
    if (std::strlen(table[STAT].value) > 31) {
        stderrPrintf("Stat name longer than 31 characters: %s\n",
                     table[STAT].value);
        return fail();
    }
    if (!table[OUT].value) {
        stderrPrintf("Output stat file missing.\n");
        return fail();
    }
    const ImageInfo &info = image.r->info;
    std::vector<int> in(MODULE_MAX_BANDS), out(MODULE_MAX_BANDS);
    int nb = parseBands(info.nbands, info.nbands, in.data(), out.data(),
                        table[B].value);
    if (nb <= 0)
        return fail();

    long rows = table[R].value ? std::atol(table[R].value) : info.rows;
    long columns = table[C].value ? std::atol(table[C].value) : info.columns;
    long startRow = table[SR].value ? std::atol(table[SR].value) : 0;
    long startColumn = table[SC].value ? std::atol(table[SC].value) : 0;
    if (startRow < 0 || startRow >= info.rows) {
        stderrPrintf("start row out of range.\n");
        return fail();
    }
    if (startColumn < 0 || startColumn >= info.columns) {
        stderrPrintf("start column out of range.\n");
        return fail();
    }
    if (rows > info.rows - startRow)
        rows = info.rows - startRow;
    if (columns > info.columns - startColumn)
        columns = info.columns - startColumn;
    long dx = table[DX].value ? std::atol(table[DX].value) : 1;
    long dy = table[DY].value ? std::atol(table[DY].value) : 1;

    StatParams p;
    p.command = command;
    p.image = image.r;
    p.mask = mask.r;
    p.maskId = maskId;
    p.startRow = (int)startRow;
    p.startColumn = (int)startColumn;
    p.rows = rows > 0 ? (int)rows : 0;
    p.columns = columns > 0 ? (int)columns : 0;
    p.dx = dx < 1 || dx > INT_MAX ? 1 : (int)dx;
    p.dy = dy < 1 || dy > INT_MAX ? 1 : (int)dy;
    p.nb = nb;
    p.bands = in.data();
    p.statName = table[STAT].value;
    p.outFile = table[OUT].value;
    if (p.rows == 0 || p.columns == 0)
        return 1;       /* an empty window counts no pixel */
    return statRimg(&p, 16384);
}
