/*
 * gconv.cpp --
 *
 *	The convolution module behind `rimage gconv`.  The kernel comes from
 *	a file or inline text; each selected input band of a window is
 *	filtered into its output band at the output window, rows and columns
 *	outside the image repeating the edge.  Blocks of padded input rows
 *	slide down the window, each input row read once, and the output may
 *	be the input itself.  The store is read and written on the calling
 *	thread while the output rows of the block before are computed on the
 *	row threads (core/rowThreads.h), each row by the same arithmetic, so
 *	the results do not depend on the thread count.
 *	Relies on the module frame (options, band lists, meter, outputs) and
 *	the line access of the store.
 */
#include "modules/gconv.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <strings.h>
#include <vector>

#include "core/bigBuffer.h"
#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"
#include "modules/moduleFrame.h"

/* Output rows computed per block: about 2 MiB of input rows per block
 * (larger blocks fall out of the processor caches). */
static const long GCONV_RING_FLOATS = 1L << 19;

/* ---------------------------------------------------------------------
 * Kernels
 * --------------------------------------------------------------------- */

/* The kernel text's tokens. */
static std::vector<std::string> kernelTokens(const char *text)
{
    std::vector<std::string> tokens;
    std::string token;
    for (const char *s = text;; s++) {
        if (*s == '\0' || std::strchr(" \t\r\n\f\v,;", *s)) {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
            if (*s == '\0')
                return tokens;
        } else
            token += *s;
    }
}

static int kernelFault(void)
{
    stderrPrintf("Error in parsing conv kernel.\n");
    return -1;
}

int parseConvKernel(const char *text, ConvKernel *kernel)
{
    static const char *const types[] = {"2D", "1Ds", "dynamic", "median"};
    std::vector<std::string> tokens = kernelTokens(text);
    std::string word = tokens.empty() ? "" : tokens[0];
    int type = 0;
    while (type < 4 && strcasecmp(word.c_str(), types[type]) != 0)
        type++;
    if (type == 4) {
        stderrPrintf("Unknown kernel type: %s", word.c_str());
        return kernelFault();
    }
    int nx = tokens.size() > 1 ? std::atoi(tokens[1].c_str()) : 0;
    int ny = tokens.size() > 2 ? std::atoi(tokens[2].c_str()) : 0;
    if (nx < 1 || ny < 1) {
        stderrPrintf("Invalid kernel dimension (must be > 0) - nx:%d ny:%d\n",
                     nx, ny);
        return kernelFault();
    }
    int64_t need = type == KERNEL_2D ? (int64_t)nx * ny
                   : type == KERNEL_1DS ? (int64_t)nx + ny : 0;
    if (need > GCONV_MAX_WEIGHTS) {
        stderrPrintf("Kernel size overflow: %dx%d.\n", nx, ny);
        return kernelFault();
    }
    int given = (int)tokens.size() - 3;
    if (given < need) {
        stderrPrintf("Not enough kernel elements: %d (expected: %d).\n",
                     given, (int)need);
        return kernelFault();
    }
    for (int i = 0; i < need; i++) {
        const char *s = tokens[3 + i].c_str();
        char *end;
        errno = 0;
        double w = std::strtod(s, &end);
        if (*end != '\0' || errno != 0 || !std::isfinite((float)w)) {
            stderrPrintf("Invalid kernel element: %s.\n", s);
            return kernelFault();
        }
        kernel->weights[i] = (float)w;
    }
    if (given > need) {
        stderrPrintf("Unexpected kernel end %s.\n", tokens[3 + need].c_str());
        return kernelFault();
    }
    kernel->type = type;
    kernel->nx = nx;
    kernel->ny = ny;
    kernel->count = (int)need;
    return 0;
}

/* Divides n weights by their sum unless it is 0. */
static void normaliseWeights(float *w, int n)
{
    float sum = 0;
    for (int i = 0; i < n; i++)
        sum += w[i];
    if (sum != 0)
        for (int i = 0; i < n; i++)
            w[i] /= sum;
}

void gconvWeights(ConvKernel *k, int normalise, int feedback)
{
    if (k->type == KERNEL_2D) {
        if (normalise)
            normaliseWeights(k->weights, k->count);
        if (feedback)
            k->weights[(k->ny / 2) * k->nx + k->nx / 2] += 1.0f;
    } else if (k->type == KERNEL_1DS) {
        if (normalise) {
            normaliseWeights(k->weights, k->nx);
            normaliseWeights(k->weights + k->nx, k->ny);
        }
        if (feedback) {
            k->weights[k->nx / 2] += 1.0f;
            k->weights[k->nx + k->ny / 2] += 1.0f;
        }
    }
}

/* ---------------------------------------------------------------------
 * Row arithmetic
 * --------------------------------------------------------------------- */

/* Eight outputs at a time, each summed in registers over the whole
 * window in the order of the weights (as the plain loop for the rest).
 * Four groups of eight go side by side: one group's sums form a chain of
 * dependent additions whose latency, not the arithmetic, would bound the
 * loop. */
typedef float ConvLanes __attribute__((vector_size(8 * sizeof(float))));

__attribute__((target_clones("avx2", "default")))
void gconv2DRow(const ConvKernel *k, const float *const *rows, int count,
                float *out)
{
    const int nx = k->nx, ny = k->ny;
    const int lanes = (int)(sizeof(ConvLanes) / sizeof(float));
    int c = 0;
    for (; c + 4 * lanes <= count; c += 4 * lanes) {
        ConvLanes s0 = {}, s1 = {}, s2 = {}, s3 = {};
        for (int i = 0; i < ny; i++) {
            const float *x = rows[i] + c, *w = k->weights + i * nx;
            for (int j = 0; j < nx; j++) {
                ConvLanes v0, v1, v2, v3;
                std::memcpy(&v0, x + j, sizeof v0);
                std::memcpy(&v1, x + j + lanes, sizeof v1);
                std::memcpy(&v2, x + j + 2 * lanes, sizeof v2);
                std::memcpy(&v3, x + j + 3 * lanes, sizeof v3);
                s0 = s0 + w[j] * v0;
                s1 = s1 + w[j] * v1;
                s2 = s2 + w[j] * v2;
                s3 = s3 + w[j] * v3;
            }
        }
        std::memcpy(out + c, &s0, sizeof s0);
        std::memcpy(out + c + lanes, &s1, sizeof s1);
        std::memcpy(out + c + 2 * lanes, &s2, sizeof s2);
        std::memcpy(out + c + 3 * lanes, &s3, sizeof s3);
    }
    for (; c + lanes <= count; c += lanes) {
        ConvLanes sum = {};
        for (int i = 0; i < ny; i++) {
            const float *x = rows[i] + c, *w = k->weights + i * nx;
            for (int j = 0; j < nx; j++) {
                ConvLanes v;
                std::memcpy(&v, x + j, sizeof v);
                sum = sum + w[j] * v;
            }
        }
        std::memcpy(out + c, &sum, sizeof sum);
    }
    for (; c < count; c++) {
        float sum = 0.0f;
        for (int i = 0; i < ny; i++)
            for (int j = 0; j < nx; j++)
                sum = sum + k->weights[i * nx + j] * rows[i][c + j];
        out[c] = sum;
    }
}

void gconvDynamicRow(const ConvKernel *k, const float *const *rows,
                     int count, float *out)
{
    const int width = count + k->nx - 1;
    std::vector<double> sum(width, 0.0), squares(width, 0.0);
    for (int i = 0; i < k->ny; i++)
        for (int p = 0; p < width; p++) {
            double x = rows[i][p];
            sum[p] += x;
            squares[p] += x * x;
        }
    const double n = (double)k->nx * k->ny;
    const float *centre = rows[k->ny / 2] + k->nx / 2;
    for (int c = 0; c < count; c++) {
        double s = 0, q = 0;
        for (int j = 0; j < k->nx; j++) {
            s += sum[c + j];
            q += squares[c + j];
        }
        double m = s / n, v = q / n - m * m;
        double x = centre[c];
        out[c] = v > 0 ? (float)(x + 2.5 * (x - m) / std::sqrt(v)) : (float)x;
    }
}

void gconvMedianRow(const ConvKernel *k, const float *const *rows, int count,
                    float *out)
{
    std::vector<float> window((size_t)k->nx * k->ny);
    const size_t rank = window.size() / 2;
    for (int c = 0; c < count; c++) {
        size_t n = 0;
        for (int i = 0; i < k->ny; i++)
            for (int j = 0; j < k->nx; j++)
                window[n++] = rows[i][c + j];
        std::nth_element(window.begin(), window.begin() + rank, window.end());
        out[c] = window[rank];
    }
}

void rowConv(const float *w, int nx, const float *in, int count,
             float *out)
{
    if (nx == 1) {
        std::copy(in, in + count, out);
        return;
    }
    for (int c = 0; c < count; c++) {
        double s = 0;
        for (int j = 0; j < nx; j++)
            s += (double)w[j] * in[c + j];
        out[c] = (float)s;
    }
}

void colConv(const float *w, int ny, const float *const *rows, int count,
             float *out)
{
    for (int c = 0; c < count; c++) {
        double s = 0;
        for (int i = 0; i < ny; i++)
            s += (double)w[i] * rows[i][c];
        out[c] = (float)s;
    }
}

/* ---------------------------------------------------------------------
 * A run
 * --------------------------------------------------------------------- */

struct ConvRun {
    const char *command = nullptr;
    RAMImage *in = nullptr;         /* input record, closed at the end */
    ModuleOutput out{};             /* discarded unless finished */
    bool finished = false;
    ConvKernel kernel;
    int ir = 0, ic = 0, or_ = 0, oc = 0;   /* window starts */
    int rows = 0, columns = 0;      /* window size */
    std::vector<int> inBands, outBands;
    ModuleMeter meter;

    ConvRun() = default;
    ConvRun(const ConvRun &) = delete;
    ConvRun &operator=(const ConvRun &) = delete;
    ~ConvRun()
    {
        if (!finished)
            moduleDiscardOutput(&out);
        if (in)
            closeRAMImage(in, nullptr);
    }
};

/* Reads input rows row .. row + count - 1 (each clamped to the image) of
 * a band into padded rows of the window, `width` floats apart: columns
 * ic - nx/2 .., the edges repeated.  Rows inside the image whose padded
 * row spans the whole image row are read as one run. */
static void readPaddedRows(ConvRun &g, int row, int count, int band,
                           float *out)
{
    RAMImage *r = g.in;
    const int rows = r->info.rows;
    const int width = g.columns + g.kernel.nx - 1;
    const int first = g.ic - g.kernel.nx / 2;
    const int lo = std::max(first, 0);
    const int hi = std::min(first + width, r->info.columns);  /* one past */
    const bool whole = lo == 0 && hi == r->info.columns;
    for (int i = 0; i < count;) {
        int y = row + i;
        int run = whole && y >= 0 && y < rows ? std::min(count - i, rows - y) : 1;
        float *o = out + (size_t)i * width;
        if (whole)
            readFloatBILLines(r, std::clamp(y, 0, rows - 1), run, band,
                              o + (lo - first), (size_t)width);
        else
            readFloatBILData(r, std::clamp(y, 0, rows - 1), lo, hi - lo, band,
                             o + (lo - first));
        for (int j = 0; j < run; j++, o += width) {
            std::fill(o, o + (lo - first), o[lo - first]);
            std::fill(o + (hi - first), o + width, o[hi - 1 - first]);
        }
        i += run;
    }
}

/* One block of the window in flight: padded input rows of every band
 * (the block's rows and the ny - 1 below them) and its output rows. */
struct ConvBlock {
    float *input = nullptr, *output = nullptr;
    int r0 = 0, count = 0;
};

/*
 * convolve --
 *	Slides down the window block by block.  Block k is computed on the
 *	row threads from one ConvBlock while the calling thread writes block
 *	k - 1 from the other and reads block k + 1 into it (the ny - 1 rows
 *	the two blocks share are copied, so each input row is read once).
 *	When the output is the input record, each block is written before the
 *	next is read, as rows read later may be rows just written.  A 1Ds
 *	kernel filters along the rows first, each slice the rows it needs, so
 *	the arithmetic of a row never depends on the slicing.
 * Results:
 *	1, or 0 when the user asked to abort.
 */
static int convolve(ConvRun &g)
{
    const ConvKernel &k = g.kernel;
    const int nb = (int)g.inBands.size();
    const int width = g.columns + k.nx - 1;
    const bool separable = k.type == KERNEL_1DS;
    const bool overlap = g.in != g.out.image;
    /* no more rows than the window has: a small image allocates little */
    const int block = (int)std::clamp<long>(
        GCONV_RING_FLOATS / ((long)width * nb) - (k.ny - 1), 1,
        std::min(256, g.rows));
    const int blockRows = block + k.ny - 1;
    /* one allocation, not zeroed: every value is written before it is read */
    const size_t inputFloats = (size_t)nb * blockRows * width;
    const size_t outputFloats = (size_t)nb * block * g.columns;
    std::unique_ptr<float, decltype(&std::free)> memory(
        static_cast<float *>(bigBufferAlloc(
            sizeof(float) * 2 * (inputFloats + outputFloats))),
        &std::free);
    if (!memory)
        throw std::bad_alloc();
    ConvBlock blocks[2];
    for (int i = 0; i < 2; i++) {
        blocks[i].input = memory.get() + i * inputFloats;
        blocks[i].output = memory.get() + 2 * inputFloats + i * outputFloats;
    }
    auto inputRow = [&](const ConvBlock &b, int band, int i) {
        return b.input + ((size_t)band * blockRows + i) * width;
    };
    auto outputRow = [&](const ConvBlock &b, int band, int r) {
        return b.output + ((size_t)band * block + r) * g.columns;
    };
    auto read = [&](ConvBlock &b, const ConvBlock *above, int r0) {
        b.r0 = r0;
        b.count = std::min(block, g.rows - r0);
        int kept = above ? k.ny - 1 : 0;
        for (int band = 0; band < nb; band++) {
            if (kept)
                std::memcpy(inputRow(b, band, 0), inputRow(*above, band, above->count),
                            sizeof(float) * (size_t)kept * width);
            readPaddedRows(g, g.ir + r0 - k.ny / 2 + kept, b.count + k.ny - 1 - kept,
                           g.inBands[band], inputRow(b, band, kept));
        }
    };
    /* one band over the output's whole rows: a run of lines at once */
    const bool wholeLines = nb == 1 && g.oc == 0
                            && g.columns == g.out.image->info.columns;
    auto write = [&](const ConvBlock &b) {
        if (wholeLines) {
            writeFloatBILLines(g.out.image, g.or_ + b.r0, b.count, g.outBands[0],
                               outputRow(b, 0, 0), (size_t)g.columns);
            return;
        }
        for (int r = 0; r < b.count; r++)
            for (int band = 0; band < nb; band++)
                putFloatBILData(g.out.image, g.or_ + b.r0 + r, g.oc, g.columns,
                                g.outBands[band], outputRow(b, band, r));
    };
    read(blocks[0], nullptr, 0);
    for (int n = 0;; n++) {
        ConvBlock &cur = blocks[n % 2], &other = blocks[(n + 1) % 2];
        std::function<void(int, int)> compute = [&](int begin, int end) {
            std::vector<const float *> window(k.ny);
            std::vector<float> filtered;
            if (separable)
                filtered.resize((size_t)(end - begin + k.ny - 1) * g.columns);
            for (int band = 0; band < nb; band++) {
                if (separable)
                    for (int i = begin; i < end + k.ny - 1; i++)
                        rowConv(k.weights, k.nx, inputRow(cur, band, i), g.columns,
                                filtered.data() + (size_t)(i - begin) * g.columns);
                for (int r = begin; r < end; r++) {
                    for (int i = 0; i < k.ny; i++)
                        window[i] = separable
                            ? filtered.data() + (size_t)(r - begin + i) * g.columns
                            : inputRow(cur, band, r + i);
                    float *o = outputRow(cur, band, r);
                    switch (k.type) {
                    case KERNEL_2D:
                        gconv2DRow(&k, window.data(), g.columns, o);
                        break;
                    case KERNEL_1DS:
                        colConv(k.weights + k.nx, k.ny, window.data(), g.columns, o);
                        break;
                    case KERNEL_DYNAMIC:
                        gconvDynamicRow(&k, window.data(), g.columns, o);
                        break;
                    default:
                        gconvMedianRow(&k, window.data(), g.columns, o);
                        break;
                    }
                }
            }
        };
        const bool last = cur.r0 + cur.count >= g.rows;
        if (overlap) {
            bool started = rowThreadsStart(cur.count, 4, compute);
            if (n > 0)
                write(other);
            if (!last)
                read(other, &cur, cur.r0 + cur.count);
            if (started)
                rowThreadsFinish();
            else
                compute(0, cur.count);
            if (last)
                write(cur);
        } else {
            rowThreadsRun(cur.count, 4, compute);
            write(cur);
            if (!last)
                read(other, &cur, cur.r0 + cur.count);
        }
        if (!moduleMeterRow(&g.meter, cur.r0 + cur.count, g.rows)) {
            moduleReportCanceled(g.command);
            return 0;
        }
        if (last)
            return 1;
    }
}

/* Reads the kernel text: inline after "@", else the file's contents.
 * Results: false after "Error in open kernel file: %s.". */
static bool kernelText(const char *value, std::string *text)
{
    if (value[0] == '@') {
        *text = value + 1;
        return true;
    }
    FILE *f = std::fopen(value, "rb");
    if (!f) {
        stderrPrintf("Error in open kernel file: %s.\n", value);
        return false;
    }
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        text->append(chunk, n);
    std::fclose(f);
    return true;
}

/* "yes" or "no" in either letter case; -1 for anything else. */
static int yesNo(const char *value)
{
    if (!value || strcasecmp(value, "no") == 0)
        return 0;
    return strcasecmp(value, "yes") == 0 ? 1 : -1;
}

/* The description of a new output: a DIB of BYTE, three bands for an
 * input of several bands, else one band with a grey palette. */
static void newOutputInfo(ImageInfo *info, const ImageInfo *input,
                          const char *name)
{
    int bands = input->nbands > 1 ? 3 : 1;
    moduleOutputInfo(info, input, name, PIXEL_BYTE, IMG_DIB, bands);
    info->transparent = -1;
    info->nindices = bands == 1 ? 256 : 0;
    for (int i = 0; i < 256; i++)
        info->palette[i][0] = info->palette[i][1] = info->palette[i][2] =
            (unsigned char)(bands == 1 ? i : 0);
}

static const char *const gconvUsageLines[] = {
    "-in     input image (file or tag)",
    "-out    output image, created as a BYTE DIB when it cannot be opened",
    "-ir     start row of the input window (default 0)",
    "-ic     start column of the input window (default 0)",
    "-r      rows to filter (default: the input's)",
    "-c      columns to filter (default: the input's)",
    "-or     start row in the output (default: -ir)",
    "-oc     start column in the output (default: -ic)",
    "-b      image band specification:ib1:ob1;ib2:ob2....",
    "-kn     kernel file, or @ and the kernel text: 2D|1Ds|dynamic|median nx ny weights",
    "-norm   yes or no: divide the weights by their sum (default no)",
    "-fb     yes or no: add the unfiltered image (default no)",
    nullptr
};

/*
 * gconvAp --
 *	rimage gconv -in IN -out OUT -ir IR -ic IC -r R -c C -or OR -oc OC
 *	-b B -kn KN -norm NORM -fb FB.
 * Results:
 *	2 after the usage text, 1 on success, 0 on failure.
 * Side effects:
 *	Writes the output window; a file the run created is removed when the
 *	run fails.
 */
int gconvAp(const char *command, int argc, const char **argv)
{
    if (argc == 0) {
        stdoutPrintf("Usage: %s -in IN -out OUT -ir IR -ic IC -r R -c C "
                     "-or OR -oc OC -b B -kn KN -norm NORM -fb FB\n", command);
        for (const char *const *l = gconvUsageLines; *l; l++)
            stdoutPrintf("  %s\n", *l);
        return 2;
    }
    ModuleParam table[] = {
        {"-in", nullptr}, {"-out", nullptr}, {"-ir", nullptr},
        {"-ic", nullptr}, {"-r", nullptr}, {"-c", nullptr}, {"-or", nullptr},
        {"-oc", nullptr}, {"-b", nullptr}, {"-kn", nullptr},
        {"-norm", nullptr}, {"-fb", nullptr}, {nullptr, nullptr}};
    enum { IN, OUT, IR, IC, R, C, OR, OC, B, KN, NORM, FB };
    int unknown = parseConfig(table, argc, argv);
    if (unknown) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    ConvRun g;
    g.command = command;
    int err = RAMIMG_OK;
    if (!table[IN].value) {
        stderrPrintf("missing input image file.\n");
        return 0;
    }
    g.in = moduleOpenImage(table[IN].value, &err);
    if (!g.in) {
        stderrPrintf("Error in open input image: %s\n", table[IN].value);
        ramimgErrorReport(err);
        return 0;
    }
    if (!table[OUT].value) {
        stderrPrintf("missing output image file.\n");
        return 0;
    }
    ImageInfo info;
    newOutputInfo(&info, &g.in->info, table[OUT].value);
    if (!moduleOpenOutput(&g.out, table[OUT].value, &info, &err)) {
        stderrPrintf("Error in open output image: %s\n", table[OUT].value);
        ramimgErrorReport(err);
        return 0;
    }
    const ImageInfo &in = g.in->info, &out = g.out.image->info;
    auto number = [&](int i, long fallback) {
        return table[i].value ? std::atol(table[i].value) : fallback;
    };
    long ir = number(IR, 0), ic = number(IC, 0);
    long orow = number(OR, ir), ocol = number(OC, ic);
    long rows = number(R, in.rows), columns = number(C, in.columns);
    const char *range = ir < 0 || ir >= in.rows ? "Start input row out of range.\n"
        : ic < 0 || ic >= in.columns ? "Start input column out of range.\n"
        : orow < 0 || orow >= out.rows ? "Start output row out of range.\n"
        : ocol < 0 || ocol >= out.columns ? "Start output column out of range.\n"
        : rows < 1 || columns < 1 ? "Rows and columns must be at least 1.\n"
        : nullptr;
    if (range) {
        stderrPrintf("%s", range);
        return 0;
    }
    int normalise = yesNo(table[NORM].value), feedback = yesNo(table[FB].value);
    if (normalise < 0 || feedback < 0) {
        stderrPrintf(normalise < 0 ? "-norm flag must be yes or no.\n"
                                   : "-fb flag must be yes or no.\n");
        return 0;
    }
    std::vector<int> inList(MODULE_MAX_BANDS), outList(MODULE_MAX_BANDS);
    int nb = parseBands(in.nindices > 0 ? 3 : in.nbands, out.nbands,
                        inList.data(), outList.data(), table[B].value);
    if (nb <= 0)
        return 0;
    g.inBands.assign(inList.begin(), inList.begin() + nb);
    g.outBands.assign(outList.begin(), outList.begin() + nb);
    if (!table[KN].value) {
        stderrPrintf("missing kernel.\n");
        return 0;
    }
    std::string text;
    if (!kernelText(table[KN].value, &text)
            || parseConvKernel(text.c_str(), &g.kernel) != 0)
        return 0;
    gconvWeights(&g.kernel, normalise, feedback);
    g.ir = (int)ir;
    g.ic = (int)ic;
    g.or_ = (int)orow;
    g.oc = (int)ocol;
    g.rows = (int)std::min({rows, in.rows - ir, out.rows - orow});
    g.columns = (int)std::min({columns, in.columns - ic, out.columns - ocol});
    if (g.out.image->histograms)
        for (int b : g.outBands)
            initHist(&g.out.image->histograms[b]);
    moduleMeterStart(&g.meter, "gconv");
    int ok;
    try {
        ok = convolve(g);
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error in malloc.\n");
        ok = 0;
    }
    if (!ok) {
        meterReset();
        return 0;
    }
    moduleMeterEnd(&g.meter);
    moduleFinishOutput(&g.out);
    g.finished = true;
    meterReset();
    return 1;
}
