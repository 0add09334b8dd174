/*
 * giso.cpp --
 *
 *	`rimage gisoc` (gisoAp): ISODATA clustering of a window of an image
 *	into one band of an output image (by default a new one-band BYTE DIB
 *	whose palette shows the class means), with the classes kept in an
 *	"ISOFEATU" cluster file that a later run can start from.
 *
 *	Classes are seeded (first pixel and warm-up passes, equal shares or
 *	popular vectors of the pixel table, spectral binning, or a cluster
 *	file), then refined by passes over every SK-th row and column, or
 *	over the pixel table's entries weighted by their counts when the
 *	table is the smaller; a palette image clusters its palette colours
 *	weighted by their use.  A final pass over every pixel writes the
 *	classes, through the table's class lookup where there is one.  Rows
 *	are read through the store on the calling thread; the arithmetic is
 *	in isoClass.cpp.  Relies on the module frame, feature files, pixel
 *	tables, line access, histograms (band scales and bins) and the
 *	classifier's palette colours.
 */
#include "modules/giso.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"
#include "modules/classify.h"
#include "modules/isoClass.h"
#include "modules/isoPrint.h"
#include "modules/moduleFrame.h"
#include "modules/ptable.h"

namespace {

enum { O_IN, O_OUT, O_B, O_NC, O_D, O_CV, O_NR, O_SK, O_PT, O_F, O_S,
       O_INI, O_IR, O_IC, O_R, O_C, O_OB, O_OR, O_OC, O_V };

/* Initialisation methods. */
enum { INIT_FILE, INIT_FIRST, INIT_EQ, INIT_POP, INIT_SB };

/* Largest float: the scale of a band without variance. */
const double NO_SCALE = 3.4028235e38;
/* Rounds of the spectral-binning merge at most (it need not converge). */
const int MERGE_ROUNDS = 50;
/* Table entries assigned as one "row" of a block. */
const int ENTRY_ROW = 4096;

/* Weighted vectors clustered instead of pixels: the pixel table's
 * entries or a palette's colours, with their pixel counts. */
struct IsoEntries {
    int n = 0;
    std::vector<float> values;      /* n x nb */
    std::vector<double> weights;    /* n */
};

/* One clustering run. */
struct IsoRun {
    const char *command = nullptr;
    ModuleImage input;
    ModuleHeldOutput output;
    RAMImage *in = nullptr;
    int outBand = 0;                /* 0-based */
    int palette = 0;                /* 1: the palette colours are clustered */
    int nb = 0;
    std::vector<int> bands;         /* 0-based; palette components 0 1 2 */
    PTable *table = nullptr;
    std::vector<uint16_t> cTable;   /* class of each table entry, 65535
                                     * while unassigned */
    IsoEntries entries;             /* filled when first needed */
    int haveEntries = 0;
    int maxClasses = 128;           /* NC */
    int maxPasses = 10;             /* NR */
    int skip = 2;                   /* SK */
    double cv = 0.05;               /* CV */
    double dis = 0;                 /* -d, 0 when not given */
    int init = INIT_FIRST;
    std::vector<int> order;         /* sort order: band positions */
    int verbose = 0;
    std::string featureFile = "iso.ftr";
    Feature *features = nullptr;
    int inRow = 0, inColumn = 0, rows = 0, columns = 0;
    int outRow = 0, outColumn = 0;
    std::vector<double> scale;      /* per band */
    IsoClasses classes;
    IsoPassResult last = {0, 0, 0, 0};
    int passes = 0;
    double meterPos = 0;
    int tenths = 0;                 /* tenths of the pass reported */
    int aborted = 0;
    IsoRun() = default;
    IsoRun(const IsoRun &) = delete;
    IsoRun &operator=(const IsoRun &) = delete;
    ~IsoRun()
    {
        freeFeature(features);
        destroyPTable(table);
    }
};

long longOption(const char *value, long fallback)
{
    return value ? std::atol(value) : fallback;
}

/* ---------------------------------------------------------------------
 * Reading
 * --------------------------------------------------------------------- */

/* Every skip-th pixel of a window row as nb floats each: the used bands,
 * or a palette image's colour components. */
void readRow(IsoRun *run, int row, int skip, float *out)
{
    RAMImage *in = run->in;
    if (!run->palette) {
        readFloatBIPData(in, row, run->inColumn, run->columns, skip, run->nb,
                         run->bands.data(), out);
        return;
    }
    int n = (run->columns - 1) / skip + 1, zero = 0;
    std::vector<unsigned char> index((size_t)n);
    readByteBIPData(in, row, run->inColumn, run->columns, skip, 1, &zero,
                    index.data());
    for (int p = 0; p < n; p++)
        for (int c = 0; c < 3; c++)
            out[(size_t)p * 3 + c] = in->info.palette[index[p]][c];
}

/* The entries clustered instead of pixels: the pixel table's, or the
 * palette colours used in the window with their pixel counts. */
void buildEntries(IsoRun *run)
{
    if (run->haveEntries)
        return;
    IsoEntries &e = run->entries;
    int nb = run->nb;
    if (run->palette) {
        std::vector<double> uses(256, 0.0);
        std::vector<unsigned char> index((size_t)run->columns);
        int zero = 0;
        for (int r = 0; r < run->rows; r++) {
            readByteBIPData(run->in, run->inRow + r, run->inColumn,
                            run->columns, 1, 1, &zero, index.data());
            for (unsigned char v : index)
                uses[v] += 1;
        }
        for (int i = 0; i < 256; i++) {
            if (uses[i] == 0)
                continue;
            for (int c = 0; c < 3; c++)
                e.values.push_back(run->in->info.palette[i][c]);
            e.weights.push_back(uses[i]);
            e.n++;
        }
    } else if (run->table) {
        const PTable *t = run->table;
        e.n = t->count;
        e.values.resize((size_t)e.n * nb);
        e.weights.resize((size_t)e.n);
        for (size_t i = 0; i < (size_t)e.n * nb; i++)
            e.values[i] = t->entries[i];
        for (int i = 0; i < e.n; i++)
            e.weights[i] = t->counts[i];
    }
    run->haveEntries = 1;
}

/* ---------------------------------------------------------------------
 * Progress
 * --------------------------------------------------------------------- */

double passShare(const IsoRun *run)
{
    return 1.0 / (run->maxPasses + 9);
}

/* After `done` of `total` rows (or entries) of a pass: the meter and
 * the verbose line at every tenth, and the abort poll.  Results: 1 to go
 * on, 0 when the user aborted. */
int passProgress(IsoRun *run, long done, long total)
{
    int tenth = total > 0 ? (int)(done * 10 / total) : 10;
    while (run->tenths < tenth) {
        run->tenths++;
        meterSet("gisoc", run->meterPos + run->tenths * 0.1 * passShare(run));
        if (run->verbose)
            stdoutPrintf("  %3ld percent done...\n", (long)run->tenths * 10);
    }
    if (checkRimageStatus() == 3) {
        run->aborted = 1;
        return 0;
    }
    return 1;
}

/* ---------------------------------------------------------------------
 * Passes
 * --------------------------------------------------------------------- */

/* The classes' colours in the output palette (means of the first up to
 * three bands). */
void isoUpdateColor(IsoRun *run)
{
    RAMImage *out = run->output.image;
    if (out->info.nindices < 1)
        return;
    Feature *f = run->features;
    int nb = run->nb;
    std::vector<float> means((size_t)f->count * nb);
    for (int k = 0; k < f->count; k++)
        for (int b = 0; b < nb; b++)
            means[(size_t)k * nb + b] =
                isoField<float>(getFeatureItem(f, k), ISO_MEAN(b));
    classColourPalette(out, run->in, run->bands.data(), nb, means.data(),
                       f->count);
}

/* Writes the cluster file beside its name and renames it when complete,
 * so the file on disk always holds the classes of a whole pass.  A pass
 * goes on when the file cannot be written (the message is printed). */
void writeClusters(IsoRun *run)
{
    std::string temp = run->featureFile + ".XXXXXX";
    int fd = mkstemp(&temp[0]);
    if (fd < 0) {
        stderrPerror(run->featureFile.c_str());
        return;
    }
    close(fd);
    if (putFeatures(temp.c_str(), run->features) != 1) {
        unlink(temp.c_str());
    } else if (rename(temp.c_str(), run->featureFile.c_str()) != 0) {
        stderrPerror(run->featureFile.c_str());
        unlink(temp.c_str());
    }
}

/*
 * endOfPass --
 *	Updates the classes (isoMinCV), sorts them (except after the final
 *	pass, whose class numbers are in the output), writes the cluster
 *	file after a pass of skip SK, applies the speed-up, colours the
 *	palette after a pass of skip 1, and reports.
 * Results:
 *	1, 0 when memory ran out.
 */
int endOfPass(IsoRun *run, int skip, int final, time_t started)
{
    IsoClasses *c = &run->classes;
    run->features = isoMinCV(run->features, c, final, &run->last);
    if (!run->features) {
        stderrPrintf("Error in gmemAlloc.\n");
        return 0;
    }
    if (!final) {
        isoSort(run->features, run->order.data());
        stdoutPrintf("sorting...\n");
    }
    if (skip == run->skip)
        writeClusters(run);
    if (!final && run->last.cv > 0.5)
        isoSpeed(run->features);
    if (skip == 1)
        isoUpdateColor(run);
    if (run->verbose) {
        stdoutPrintf("ir %2d dt %ld wcv %5.3f cv %5.3f RMS %7.4f cvRMS %7.4f "
                     "sk %2ld\n", run->passes,
                     (long)(std::time(nullptr) - started), run->last.wcv,
                     run->last.cv, run->last.rms, run->cv, (long)skip);
        stdoutPrintf("nc %d ncMax %d DIS %.4f hit %ld find %ld total %ld\n",
                     run->features->count, run->maxClasses, (double)c->dis,
                     (long)c->hits, (long)c->finds, (long)c->total);
    }
    run->meterPos += passShare(run);
    meterSet("gisoc", std::min(run->meterPos, 1.0));
    return 1;
}

/* Assigns entries [0, e.n) in blocks; with classes set, their classes
 * go there. */
int assignEntries(IsoRun *run, const IsoEntries &e, int mayOpen,
                  int accumulate, int *classes, int progress)
{
    const int blockEntries = 16 * ENTRY_ROW;
    std::vector<int> cls;
    try {
        cls.resize((size_t)std::min(e.n, blockEntries));
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error in gmemAlloc.\n");
        return 0;
    }
    for (int first = 0; first < e.n;) {
        int left = e.n - first;
        IsoRows blk;
        blk.n = left >= ENTRY_ROW ? ENTRY_ROW : left;
        blk.rows = std::min(left / blk.n, blockEntries / blk.n);
        blk.values = &e.values[(size_t)first * run->nb];
        blk.weights = &e.weights[(size_t)first];
        blk.known = nullptr;
        blk.cls = cls.data();
        if (!isoAssignRows(&run->classes, &blk, mayOpen, accumulate)) {
            stderrPrintf("Error in gmemAlloc.\n");
            return 0;
        }
        int done = blk.rows * blk.n;
        if (classes)
            std::copy(cls.begin(), cls.begin() + done, classes + first);
        first += done;
        if (progress && !passProgress(run, first, e.n))
            return 0;
        if (!progress && checkRimageStatus() == 3) {
            run->aborted = 1;
            return 0;
        }
    }
    return 1;
}

/*
 * isoTableClassify --
 *	One pass over the entries (pixel table or palette colours), each
 *	weighted by its pixel count.
 * Results:
 *	1, 0 on abort or when memory ran out.
 */
int isoTableClassify(IsoRun *run, int mayOpen)
{
    time_t started = std::time(nullptr);
    run->passes++;
    run->tenths = 0;
    isoLoadClasses(&run->classes, run->features);
    if (!assignEntries(run, run->entries, mayOpen, 1, nullptr, 1))
        return 0;
    return endOfPass(run, run->skip, 0, started);
}

/* The class lookup of the pixel table for the final pass: each entry's
 * class under the classes as they stand. */
int fillClassTable(IsoRun *run)
{
    buildEntries(run);
    std::vector<int> cls;
    try {
        cls.resize((size_t)run->entries.n);
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error in gmemAlloc.\n");
        return 0;
    }
    if (!assignEntries(run, run->entries, 0, 0, cls.data(), 0))
        return 0;
    for (int i = 0; i < run->entries.n; i++)
        run->cTable[i] = cls[i] < 0 ? 65535 : (uint16_t)cls[i];
    return 1;
}

/*
 * isoImageClassify --
 *	One pass over rows start, start + skip, ... of the window, every
 *	skip-th column; the final pass writes the class numbers.
 * Results:
 *	1, 0 on abort or when memory ran out.
 */
int isoImageClassify(IsoRun *run, int skip, int mayOpen, int final)
{
    time_t started = std::time(nullptr);
    IsoClasses *c = &run->classes;
    run->passes++;
    run->tenths = 0;
    isoLoadClasses(c, run->features);
    int nb = run->nb;
    int nrows = (run->rows + skip - 1) / skip;
    int ncols = (run->columns + skip - 1) / skip;
    int blockRows = (int)std::max<long>(1, 1048576L / ((long)ncols * nb));
    blockRows = std::min(blockRows, 64);
    /* The final pass classifies through the table's class lookup when
     * the table is not larger than the window. */
    bool lookup = final && !run->cTable.empty()
                  && run->in->info.pixel == PIXEL_BYTE
                  && (long)run->table->count
                         <= (long)run->rows * run->columns;
    if (lookup && !fillClassTable(run))
        return 0;
    std::vector<float> values, out;
    std::vector<int> cls, known;
    try {
        values.resize((size_t)blockRows * ncols * nb);
        cls.resize((size_t)blockRows * ncols);
        out.resize((size_t)ncols);
        if (lookup)
            known.resize(cls.size());
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error in gmemAlloc.\n");
        return 0;
    }
    for (int r0 = 0; r0 < nrows; r0 += blockRows) {
        int n = std::min(blockRows, nrows - r0);
        for (int r = 0; r < n; r++)
            readRow(run, run->inRow + (r0 + r) * skip, skip,
                    &values[(size_t)r * ncols * nb]);
        if (lookup) {
            rowThreadsRun(n, 1, [&](int a, int b) {
                std::vector<unsigned char> v((size_t)nb);
                for (size_t i = (size_t)a * ncols; i < (size_t)b * ncols;
                        i++) {
                    for (int k = 0; k < nb; k++)
                        v[k] = (unsigned char)values[i * nb + k];
                    int e = searchPTable(run->table, v.data());
                    known[i] = e >= 0 && run->cTable[e] != 65535
                               ? run->cTable[e] : -1;
                }
            });
        }
        IsoRows blk;
        blk.rows = n;
        blk.n = ncols;
        blk.values = values.data();
        blk.weights = nullptr;
        blk.known = lookup ? known.data() : nullptr;
        blk.cls = cls.data();
        if (!isoAssignRows(c, &blk, mayOpen, 1)) {
            stderrPrintf("Error in gmemAlloc.\n");
            return 0;
        }
        for (int r = 0; r < n; r++) {
            if (final) {
                const int *row = &cls[(size_t)r * ncols];
                for (int p = 0; p < ncols; p++)
                    out[p] = row[p] < 0 ? 0.0f : (float)row[p];
                putFloatBILData(run->output.image, run->outRow + r0 + r,
                                run->outColumn, ncols, run->outBand,
                                out.data());
            }
            if (!passProgress(run, r0 + r + 1, nrows))
                return 0;
        }
    }
    return endOfPass(run, skip, final, started);
}

/* ---------------------------------------------------------------------
 * Initial classes
 * --------------------------------------------------------------------- */

/* Replaces the record's classes by K means (K x nb) with their samples. */
int setClasses(IsoRun *run, const std::vector<float> &means,
               const std::vector<double> &samples)
{
    int K = (int)samples.size(), nb = run->nb;
    Feature *f = cutFeature(run->features, 0);
    run->features = f ? cutFeature(f, K) : nullptr;
    if (!run->features) {
        stderrPrintf("Error in gmemAlloc.\n");
        return 0;
    }
    for (int k = 0; k < K; k++) {
        unsigned char *item = getFeatureItem(run->features, k);
        isoSetField<int32_t>(item, ISO_SAMPLES, (int32_t)samples[k]);
        for (int b = 0; b < nb; b++)
            isoSetField<float>(item, ISO_MEAN(b), means[(size_t)k * nb + b]);
    }
    return 1;
}

/* "FIRST": class 0 is the first pixel of the window (the first whose
 * values are all numbers), then warm-up passes open classes. */
int initFirst(IsoRun *run)
{
    stdoutPrintf("Initial classes with the first pixel.\n");
    int nb = run->nb;
    std::vector<float> row((size_t)run->columns * nb), first((size_t)nb, 0);
    bool found = false;
    for (int r = 0; r < run->rows && !found; r++) {
        readRow(run, run->inRow + r, 1, row.data());
        for (int p = 0; p < run->columns && !found; p++) {
            const float *px = &row[(size_t)p * nb];
            found = std::all_of(px, px + nb,
                                [](float v) { return std::isfinite(v); });
            if (found)
                first.assign(px, px + nb);
        }
    }
    if (!setClasses(run, first, {(double)run->rows * run->columns}))
        return 0;
    for (int i = 0; i < 5; i++)
        if (!isoImageClassify(run, run->skip + 2, 1, 0))
            return 0;
    for (int i = 0; i < 3; i++)
        if (!isoImageClassify(run, run->skip + 1, 1, 0))
            return 0;
    return 1;
}

/* "EQ": table entries dealt out in table order, about total / NC pixels
 * per class, the class advancing by at most one per entry. */
int initEqual(IsoRun *run)
{
    stdoutPrintf("Initiate classes with equal number of pixels.\n");
    buildEntries(run);
    const IsoEntries &e = run->entries;
    int nb = run->nb, NC = run->maxClasses;
    double total = 0;
    for (double w : e.weights)
        total += w;
    double share = total / NC;
    std::vector<double> sums((size_t)NC * nb, 0.0), counts((size_t)NC, 0.0);
    double done = 0;
    int k = 0;
    for (int i = 0; i < e.n; i++) {
        double w = e.weights[i];
        for (int b = 0; b < nb; b++)
            sums[(size_t)k * nb + b] += w * e.values[(size_t)i * nb + b];
        counts[k] += w;
        done += w;
        if (done >= (k + 1) * share && k < NC - 1)
            k++;
    }
    std::vector<float> means;
    std::vector<double> samples;
    for (int j = 0; j < NC; j++) {
        if (!(counts[j] > 0))
            continue;
        for (int b = 0; b < nb; b++)
            means.push_back((float)(sums[(size_t)j * nb + b] / counts[j]));
        samples.push_back(counts[j]);
    }
    return setClasses(run, means, samples);
}

/* "POP": the first NC table entries seed the classes; a later entry used
 * by more pixels replaces the least used seed (the first of equals), so
 * the seeds end as the NC most popular vectors. */
int initPopular(IsoRun *run)
{
    stdoutPrintf("Initiate classes with popular pixels.\n");
    buildEntries(run);
    const IsoEntries &e = run->entries;
    int nb = run->nb;
    std::vector<int> seeds;
    for (int i = 0; i < e.n; i++) {
        if ((int)seeds.size() < run->maxClasses) {
            seeds.push_back(i);
            continue;
        }
        size_t least = 0;
        for (size_t s = 1; s < seeds.size(); s++)
            if (e.weights[seeds[s]] < e.weights[seeds[least]])
                least = s;
        if (e.weights[i] > e.weights[seeds[least]])
            seeds[least] = i;
    }
    std::vector<float> means;
    std::vector<double> samples;
    for (int i : seeds) {
        means.insert(means.end(), &e.values[(size_t)i * nb],
                     &e.values[(size_t)(i + 1) * nb]);
        samples.push_back(e.weights[i]);
    }
    return setClasses(run, means, samples);
}

/*
 * isoMerge --
 *	Clusters the cells of spectral binning: a record of one class (the
 *	first cell's mean), then rounds in which every cell is one weighted
 *	sample that may open classes, until RMS falls to CV.
 * Results:
 *	1, 0 on abort or when memory ran out.
 */
int isoMerge(IsoRun *run, const IsoEntries &cells)
{
    int nb = run->nb;
    std::vector<float> first(cells.values.begin(),
                             cells.values.begin() + nb);
    if (!setClasses(run, first, {0.0}))
        return 0;
    for (int round = 1; round <= MERGE_ROUNDS; round++) {
        isoLoadClasses(&run->classes, run->features);
        if (!assignEntries(run, cells, 1, 1, nullptr, 0))
            return 0;
        run->features = isoMinCV(run->features, &run->classes, 0, &run->last);
        if (!run->features) {
            stderrPrintf("Error in gmemAlloc.\n");
            return 0;
        }
        if (run->verbose)
            stdoutPrintf("itr: %3d nc: %d rms: %7.4f total: %d\n", round,
                         run->features->count, run->last.rms,
                         (int)run->last.total);
        double share = 8 * passShare(run);
        meterSet("gisoc", run->last.rms > run->cv
                              ? run->cv / run->last.rms * share : share);
        if (!(run->last.rms > run->cv))
            break;
    }
    return 1;
}

/* "SB": pixels binned into cells over the first (up to 7) bands of the
 * sort order, each occupied cell a class, then merged (isoMerge). */
int isoSpecBinning(IsoRun *run)
{
    stdoutPrintf("Initial classes with spectral binning.\n");
    stdoutPrintf("isoSpecBinning...\n");
    int nb = run->nb, n = std::min(nb, 7);
    int B = isoBinCount(n);
    if (run->verbose) {
        long cells = 1;
        for (int i = 0; i < n; i++)
            cells *= B;
        stdoutPrintf("max id: %ld\n", cells);
    }
    std::vector<double> low((size_t)n), range((size_t)n);
    for (int i = 0; i < n; i++) {
        int position = run->order[i];
        int band = run->palette ? position : run->bands[position];
        double sd = 0, mean = 0, min = 0, max = 0;
        if (!ramImageStats(run->in, band, &sd, &mean, &min, &max)) {
            stderrPrintf("Error in gmemAlloc.\n");
            return 0;
        }
        if (sd == 0)
            sd = NO_SCALE;
        double lo = std::max(mean - 2.5 * sd, min);
        double hi = std::min(mean + 2.5 * sd, max);
        low[i] = lo;
        range[i] = hi - lo == 0 ? 1.0 : hi - lo;
        if (run->verbose)
            stdoutPrintf("bin: %d band: %d low: %8.3f high: %8.3f min: %8.3f "
                         "max: %8.3f\n", B, band + 1, lo, lo + range[i], min,
                         max);
    }
    std::unordered_map<long, int> cellClass;
    IsoEntries cells;
    std::vector<double> sums;
    std::vector<float> row((size_t)run->columns * nb);
    double total = 0;
    for (int r = 0; r < run->rows; r++) {
        readRow(run, run->inRow + r, 1, row.data());
        for (int p = 0; p < run->columns; p++) {
            const float *px = &row[(size_t)p * nb];
            if (!std::all_of(px, px + nb,
                             [](float v) { return std::isfinite(v); }))
                continue;
            long cell = 0;
            for (int i = 0; i < n; i++) {
                int position = run->order[i];
                cell = cell * B + isoBin(px[position], low[i],
                                         low[i] + range[i], B);
            }
            auto hit = cellClass.emplace(cell, cells.n);
            if (hit.second) {
                cells.n++;
                sums.resize(sums.size() + nb, 0.0);
                cells.weights.push_back(0.0);
            }
            int k = hit.first->second;
            for (int b = 0; b < nb; b++)
                sums[(size_t)k * nb + b] += px[b];
            cells.weights[k] += 1;
            total += 1;
        }
        if (checkRimageStatus() == 3) {
            run->aborted = 1;
            return 0;
        }
    }
    if (cells.n == 0) {
        /* Nothing but values that are no numbers: one class at 0. */
        return setClasses(run, std::vector<float>((size_t)nb, 0.0f), {0.0});
    }
    cells.values.resize((size_t)cells.n * nb);
    for (int k = 0; k < cells.n; k++)
        for (int b = 0; b < nb; b++)
            cells.values[(size_t)k * nb + b] =
                (float)(sums[(size_t)k * nb + b] / cells.weights[k]);
    if (run->verbose) {
        stdoutPrintf("init nc: %d\n", cells.n);
        stdoutPrintf("class: %d total Samples: %ld\n", cells.n, (long)total);
    }
    return isoMerge(run, cells);
}

/*
 * isoInit --
 *	Band scales (standard deviations over the whole image), the
 *	excluding and hit distances, and the initial classes.
 * Results:
 *	1, 0 after a message, or on abort.
 */
int isoInit(IsoRun *run)
{
    int nb = run->nb;
    run->scale.assign((size_t)nb, 0.0);
    for (int b = 0; b < nb; b++) {
        double sd = 0;
        int band = run->palette ? b : run->bands[b];
        if (!ramImageStats(run->in, band, &sd, nullptr, nullptr, nullptr)) {
            stderrPrintf("Error in gmemAlloc.\n");
            return 0;
        }
        run->scale[b] = sd == 0 ? NO_SCALE : sd;
        if (run->verbose)
            stdoutPrintf("band %d scale: %15.6e\n", band + 1, run->scale[b]);
    }
    double D = run->dis > 0 ? run->dis
                            : std::sqrt((double)nb / run->maxClasses);
    isoSetup(&run->classes, nb, run->scale.data(), D, run->maxClasses);
    switch (run->init) {
    case INIT_FILE:
        stdoutPrintf("Initiate classes with features.\n");
        return 1;
    case INIT_FIRST:
        return initFirst(run);
    case INIT_EQ:
        return initEqual(run);
    case INIT_POP:
        return initPopular(run);
    case INIT_SB:
        return isoSpecBinning(run);
    default:
        stderrPrintf("Error in isoInit: %d\n", run->init);
        return 0;
    }
}

/*
 * isoCalc --
 *	The passes over the image or the entries until the mean shift falls
 *	to CV or NR passes ran, then the final pass into the output.
 * Results:
 *	1, 0 on abort or when memory ran out.
 */
int isoCalc(IsoRun *run)
{
    long n = (long)run->rows * run->columns / run->skip / run->skip;
    bool overEntries = run->palette
                       || (run->table && run->table->count > 0
                           && run->table->count <= n);
    if (overEntries)
        buildEntries(run);
    for (int i = 0; i < run->maxPasses; i++) {
        if (overEntries && run->verbose)
            stdoutPrintf("Iteration # %d\n", i + 1);
        int ok = overEntries ? isoTableClassify(run, 1)
                             : isoImageClassify(run, run->skip, 1, 0);
        if (!ok)
            return 0;
        if (!(run->last.rms > run->cv))
            break;
    }
    stdoutPrintf("Final...\n");
    if (!isoImageClassify(run, 1, 0, 1))
        return 0;
    if (run->verbose)
        isoPrint(run->features, 0);
    stdoutPrintf("Total number of iterations: %d\n", run->passes - 1);
    RAMImage *out = run->output.image;
    if (out->histograms)
        for (int b = 0; b < out->info.nbands; b++)
            invalidateHist(&out->histograms[b]);
    return 1;
}

/* ---------------------------------------------------------------------
 * Parameters
 * --------------------------------------------------------------------- */

/* The cluster file of -f: readable, of the kind, with classes and the
 * private area of its layout. */
Feature *readClusters(const char *path)
{
    Feature *f = getFeatures(path, ISO_MAGIC);
    if (f && (f->count < 1 || f->nbands < 1 || f->nbands > 4096
              || f->itemSize != isoItemSize(f->nbands)
              || getFeaturePrivateSize(f) != ISO_PRIVATE_SIZE)) {
        freeFeature(f);
        f = nullptr;
    }
    return f;
}

/* The sort order of -s: named positions first, the others ascending. */
int parseSortOrder(IsoRun *run, const char *text)
{
    int nb = run->nb;
    std::vector<char> used((size_t)nb, 0);
    run->order.clear();
    std::string copy = text ? text : "";
    for (char *save = nullptr, *tok = strtok_r(&copy[0], ",/", &save); tok;
            tok = strtok_r(nullptr, ",/", &save)) {
        long v = std::atol(tok);
        if (v < 1 || v > nb) {
            stderrPrintf("Sorting variable is out of range: 1 - %d.\n", nb);
            return 0;
        }
        if (used[v - 1]) {
            stderrPrintf("Duplicated use of sorting variable.\n");
            return 0;
        }
        used[v - 1] = 1;
        run->order.push_back((int)v - 1);
    }
    for (int b = 0; b < nb; b++)
        if (!used[b])
            run->order.push_back(b);
    return 1;
}

/* The band list: palette components, the cluster file's, the pixel
 * table's, -b, or all bands.  Steps 4 and 5 of the checks. */
int chooseBands(IsoRun *run, const ModuleParam *t)
{
    const ImageInfo &in = run->in->info;
    const char *b = t[O_B].value;
    bool given = b && b[0] >= '0' && b[0] <= '9';
    if (run->palette) {
        run->bands = {0, 1, 2};
    } else if (!run->features) {
        run->bands.clear();
        for (int i = 0; i < in.nbands; i++)
            run->bands.push_back(i);
    }
    if (given && (run->features || t[O_PT].value)) {
        stderrPrintf("Band(s) will be overwritten.\n");
    } else if (given && !run->palette) {
        std::vector<int> list((size_t)in.nbands);
        int n = parseBandDef(b, list.data(), in.nbands);
        bool ok = n > 0 && n <= in.nbands;
        for (int i = 0; ok && i < n; i++)
            ok = list[i] >= 1 && list[i] <= in.nbands;
        if (!ok) {
            stderrPrintf("Illegal band number.\n");
            return 0;
        }
        run->bands.clear();
        for (int i = 0; i < n; i++)
            run->bands.push_back(list[i] - 1);
    }
    if (run->palette)
        return 1;
    /* The pixel table. */
    if (t[O_PT].value) {
        if (in.pixel != PIXEL_BYTE) {
            stderrPrintf("Unsupported pixel type.\n");
            return 0;
        }
        destroyPTable(run->table);
        if (!(run->table = getPTable(t[O_PT].value))) {
            stderrPrintf("Error in getPTable...\n");
            return 0;
        }
        if (!run->features)
            run->bands.assign(run->table->bands,
                              run->table->bands + run->table->nbands);
    } else if (!run->features) {
        int nb = (int)run->bands.size();
        if (nb == 3 && in.pixel == PIXEL_BYTE) {
            if (!(run->table = makePTable(run->in, 3, run->bands.data()))) {
                stderrPrintf("Error in makePTable.\n");
                return 0;
            }
        } else if (!(run->table = createPTable(256, nb, run->bands.data()))) {
            stderrPrintf("Error in createPTable...\n");
            return 0;
        }
    }
    for (int band : run->bands)
        if (band < 0 || band >= in.nbands) {
            stderrPrintf("Illegal band number.\n");
            return 0;
        }
    if (run->table && run->table->count > 0) {
        try {
            run->cTable.assign((size_t)run->table->count, 65535);
        } catch (const std::bad_alloc &) {
            stderrPrintf("Error in malloc cTable.\n");
            return 0;
        }
    }
    return 1;
}

/* The output image: opened, or created as a one-band BYTE DIB. */
int openOutput(IsoRun *run, const char *name)
{
    ImageInfo info;
    moduleOutputInfo(&info, &run->in->info, name, PIXEL_BYTE, IMG_DIB, 1);
    info.nindices = 256;
    info.transparent = -1;
    std::memset(info.palette, 0, sizeof info.palette);
    int err = 0;
    if (!moduleOpenOutput(&run->output, name, &info, &err)) {
        stderrPrintf("Error in open:%s\n", name);
        ramimgErrorReport(err);
        return 0;
    }
    if (run->output.image == run->in) {
        stderrPrintf("Illegal output file.\n");
        return 0;
    }
    return 1;
}

/* The window options: step 7 of the checks. */
int chooseWindow(IsoRun *run, const ModuleParam *t)
{
    const ImageInfo &in = run->in->info, &out = run->output.image->info;
    long ir = longOption(t[O_IR].value, 0), ic = longOption(t[O_IC].value, 0);
    if (ir < 0 || ir >= in.rows) {
        stderrPrintf("start input row out of range.\n");
        return 0;
    }
    if (ic < 0 || ic >= in.columns) {
        stderrPrintf("start input column out of range.\n");
        return 0;
    }
    long rows = longOption(t[O_R].value, in.rows);
    long cols = longOption(t[O_C].value, in.columns);
    if (rows < 1 || cols < 1) {
        stderrPrintf("Illegal window size.\n");
        return 0;
    }
    long orow = longOption(t[O_OR].value, 0);
    long ocol = longOption(t[O_OC].value, 0);
    if (orow < 0 || orow > out.rows) {
        stderrPrintf("start output row out of range.\n");
        return 0;
    }
    if (ocol < 0 || ocol > out.columns) {
        stderrPrintf("start output column out of range.\n");
        return 0;
    }
    run->inRow = (int)ir;
    run->inColumn = (int)ic;
    run->rows = (int)std::min(rows, in.rows - ir);
    run->columns = (int)std::min(cols, in.columns - ic);
    run->outRow = (int)orow;
    run->outColumn = (int)ocol;
    return 1;
}

/*
 * isoParser --
 *	Checks the options in their order, opens the input, the output, the
 *	cluster file and the pixel table, and makes the cluster record.
 * Results:
 *	1, or 0 after a message.
 */
int isoParser(IsoRun *run, const ModuleParam *t)
{
    const char *v = t[O_V].value;
    run->verbose = v && (std::strcmp(v, "y") == 0 || std::strcmp(v, "Y") == 0);
    if (t[O_F].value) {
        if (!(run->features = readClusters(t[O_F].value))) {
            stderrPrintf("Error in opening ISOFEATURES.\n");
            return 0;
        }
        run->featureFile = t[O_F].value;
        run->maxClasses = run->features->count;
        run->bands.clear();
        for (int b = 0; b < run->features->nbands; b++)
            run->bands.push_back(getFeatureBand(run->features, b));
        if (!(run->table = createPTable(256, run->features->nbands,
                                        run->bands.data()))) {
            stderrPrintf("Error in createPTable...\n");
            return 0;
        }
    }
    if (!t[O_IN].value) {
        stderrPrintf("Input image file missing!\n");
        return 0;
    }
    if (!(run->in = moduleOpenInput(&run->input, t[O_IN].value,
                                    "Error in open:%s\n")))
        return 0;
    if (!t[O_OUT].value) {
        stderrPrintf("Missing output image file!\n");
        return 0;
    }
    if (std::strcmp(t[O_OUT].value, t[O_IN].value) == 0) {
        stderrPrintf("Illegal output file.\n");
        return 0;
    }
    if (!openOutput(run, t[O_OUT].value))
        return 0;
    long ob = longOption(t[O_OB].value, 1);
    if (ob < 1 || ob > run->output.image->info.nbands) {
        stderrPrintf("output band out of range.\n");
        return 0;
    }
    run->outBand = (int)ob - 1;
    run->palette = run->in->info.nindices > 0;
    if (!chooseBands(run, t))
        return 0;
    run->nb = (int)run->bands.size();

    run->cv = t[O_CV].value ? std::atof(t[O_CV].value) : 0.05;
    if (!(run->cv >= 0 && run->cv <= 1)) {
        stderrPrintf("Illegal convergence value.\n");
        return 0;
    }
    long nc = longOption(t[O_NC].value, run->maxClasses);
    if (nc < 1 || nc > 65535) {
        stderrPrintf("Illegal number of classes.\n");
        return 0;
    }
    run->maxClasses = (int)nc;
    run->maxPasses = (int)std::max(0L, std::min(longOption(t[O_NR].value, 10),
                                                100000L));
    long sk = longOption(t[O_SK].value, 2);
    if (sk < 1) {
        stderrPrintf("Illegal skip factor.\n");
        return 0;
    }
    run->skip = (int)std::min(sk, 1L << 20);
    if (!chooseWindow(run, t))
        return 0;
    if (!parseSortOrder(run, t[O_S].value))
        return 0;
    if (run->features) {
        /* The file's bands against the pixel table's (the palette's
         * components for a palette image). */
        const Feature *f = run->features;
        std::vector<int> ref = run->bands;
        if (!run->palette)
            ref.assign(run->table->bands,
                       run->table->bands + run->table->nbands);
        bool same = f->nbands == (int)ref.size();
        for (int b = 0; same && b < f->nbands; b++)
            same = getFeatureBand(f, b) == ref[b];
        if (!same) {
            stderrPrintf("Inconsistant features with bands.\n");
            return 0;
        }
    }
    if (t[O_INI].value) {
        static const char *const names[] = {"FIRST", "EQ", "POP", "SB"};
        static const int methods[] = {INIT_FIRST, INIT_EQ, INIT_POP, INIT_SB};
        run->init = -1;
        for (int i = 0; i < 4; i++)
            if (strcasecmp(t[O_INI].value, names[i]) == 0)
                run->init = methods[i];
        if (run->init < 0) {
            stderrPrintf("Illegal initial class.\n");
            return 0;
        }
    }
    if (run->features)
        run->init = INIT_FILE;
    else if ((run->init == INIT_EQ || run->init == INIT_POP)
             && !(run->table && run->table->count > 0))
        run->init = INIT_FIRST;
    run->dis = t[O_D].value ? std::atof(t[O_D].value) : 0.0;

    /* isoAllocateMemory: a new record of one class. */
    if (!run->features) {
        unsigned char area[ISO_PRIVATE_SIZE] = {0};
        run->features = newFeature(ISO_MAGIC, run->bands.data(), run->nb,
                                   isoItemSize(run->nb), 1, area,
                                   ISO_PRIVATE_SIZE);
        if (!run->features) {
            stderrPrintf("Error in gmemAlloc.\n");
            return 0;
        }
    }
    IsoPrivate area;
    unsigned char *p = getFeaturePrivate(run->features);
    std::memcpy(&area, p, sizeof area);
    std::memset(area.source, 0, sizeof area.source);
    std::memcpy(area.source, run->in->info.fileName,
                strnlen(run->in->info.fileName, sizeof area.source - 1));
    std::memcpy(p, &area, sizeof area);
    return 1;
}

int usage(const char *command)
{
    static const char *const lines[] = {
        "-in    input image",
        "-out   output image (created as a one-band BYTE DIB when missing)",
        "-b     bands, e.g. 1-4,7 (default: all bands)",
        "-nc    largest number of classes (default 128, or the file's)",
        "-d     excluding distance (default sqrt(bands / NC))",
        "-cv    convergence value 0 ... 1 (default 0.05)",
        "-nr    largest number of passes (default 10)",
        "-sk    skip factor of the passes (default 2)",
        "-pt    pixel table file",
        "-f     cluster file to start from and to write (default iso.ftr)",
        "-s     sort order, band positions separated by , or /",
        "-ini   initial classes: FIRST, EQ, POP or SB (default FIRST)",
        "-ir -ic input start row and column (default 0 0)",
        "-r -c  rows and columns (default: the input's)",
        "-ob    output band (default 1)",
        "-or -oc output start row and column (default 0 0)",
        "-v     Y for verbose progress",
        nullptr};
    moduleUsage(command,
                "-in IN -out OUT -b BND -nc NC -d D -cv CV -nr NR -sk SK "
                "-pt PT -f FTR -s SO -ini INI -ir IR -ic IC -r R -c C -ob OB "
                "-or OR -oc OC -v VB\n", lines);
    return 2;
}

int gisoRun(const ModuleParam *t, const char *command)
{
    IsoRun run;
    run.command = command;
    if (!isoParser(&run, t))
        return 0;
    if (!isoInit(&run) || !isoCalc(&run)) {
        meterReset();
        if (run.aborted)
            moduleReportCanceled(command);
        return 0;
    }
    moduleFinishOutput(&run.output);
    meterReset();
    return 1;
}

}  // namespace

/*
 * gisoAp --
 *	rimage gisoc -in IN -out OUT ?option value ...?
 * Results:
 *	2 after the usage, 1 after a run, 0 when the parameters fail, the
 *	user aborts or memory runs out.
 */
int gisoAp(const char *command, int argc, const char **argv)
{
    ModuleParam table[] = {
        {"-in", nullptr}, {"-out", nullptr}, {"-b", nullptr},
        {"-nc", nullptr}, {"-d", nullptr}, {"-cv", nullptr},
        {"-nr", nullptr}, {"-sk", nullptr}, {"-pt", nullptr},
        {"-f", nullptr}, {"-s", nullptr}, {"-ini", nullptr},
        {"-ir", nullptr}, {"-ic", nullptr}, {"-r", nullptr},
        {"-c", nullptr}, {"-ob", nullptr}, {"-or", nullptr},
        {"-oc", nullptr}, {"-v", nullptr}, {nullptr, nullptr}};
    return moduleEntry(command, argc, argv, table, usage, gisoRun,
                       "Error in gmemAlloc.\n");
}
