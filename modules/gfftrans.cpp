/*
 * gfftrans.cpp --
 *
 *	The Fourier module behind `rimage gfftrans` and `calc makefft`.  One
 *	band of a raster image (extended by reflection to a power-of-two
 *	size) or an FFT image file is transformed along rows, columns or
 *	both, forwards or back, filtered, or converted between real/imaginary
 *	and power/phase form, and written as an FFT image file.  Work goes in
 *	passes over the file within a budget of 4 MiB: row passes take
 *	blocks of whole rows, column passes strips of whole columns (the FFT
 *	file routines of formats/fft.h read and write them).  The output is
 *	written under a temporary name beside it and renamed when the run
 *	succeeds, so a failed run leaves no half-written file behind.
 *	Relies on the module frame (options, meter), the raster store for
 *	raster input, fftCore.h for the transforms and fftFilter.h for the
 *	filters; the arithmetic runs on the row threads.
 */
#include "modules/gfftrans.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <strings.h>
#include <vector>

#include "core/freeDisk.h"
#include "core/hostField.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/rowThreads.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "formats/fft.h"
#include "modules/fftCore.h"
#include "modules/fftFilter.h"
#include "modules/moduleFrame.h"

/* Operation codes of -op; no -op is OP_NONE. */
enum {
    OP_XRI, OP_YRI, OP_XYRI, OP_XPP, OP_YPP, OP_XYPP, OP_XY, OP_XX, OP_YY,
    OP_FLTR, OP_RI, OP_PP, OP_NONE
};

static const char *const opWords[] = {
    "XRI", "YRI", "XYRI", "XPP", "YPP", "XYPP", "XY", "XX", "YY", "FLTR",
    "RI", "PP"
};

static const long FFT_BUDGET = 4194304;
/* Largest transform side, and the most bytes of transformed data: file
 * offsets stay far inside 64 bits. */
static const int FFT_MAX_SIDE = 1 << 30;
static const double FFT_MAX_DATA = 0x1p56;

long gfftBudget(void)
{
    const char *env = std::getenv("VELK_FFT_BUDGET");
    long budget = env ? std::atol(env) : FFT_BUDGET;
    return budget > 0 && budget < FFT_BUDGET ? budget : FFT_BUDGET;
}

/* ---------------------------------------------------------------------
 * Plans: what an operation does to an input type
 * --------------------------------------------------------------------- */

/* Where data lives before and after a pass. */
enum FFTPlace {
    PLACE_RASTER,   /* the raster input, read through the store */
    PLACE_INPUT,    /* the FFT input file */
    PLACE_ROWS,     /* the output file: rows, as FFT files hold them */
    PLACE_STRIPS    /* the scratch file: strip after strip, each the P rows
                     * of its columns, so that a strip moves at once */
};

/* One pass over the data. */
struct FFTPass {
    char dir;               /* 'X' rows, 'Y' columns, 'C' rows copied */
    int sign;               /* +1 forward, -1 inverse, 0 for a copy */
    bool filter;            /* the filter is applied in this pass */
    FFTFilterProc *proc;    /* its form, set by planFilter */
    bool last;              /* the plan's last: converts to power/phase
                             * and keeps the header statistics */
    FFTPlace from, to;      /* set by runPlan */
};

struct FFTPlan {
    std::vector<FFTPass> passes;
    int outType;            /* FFT type of the result */
};

/* The real/imaginary type after a transform pass, -1 when the pass does
 * not apply to the type. */
static int typeAfterPass(int type, const FFTPass &p)
{
    type = fftTypeRI(type);
    bool spatial = type == FFT_INIT || type == FFT_FSRI;
    if (p.dir == 'C')
        return type;
    int along = p.dir == 'X' ? FFT_SFRIX : FFT_SFRIY;
    int across = p.dir == 'X' ? FFT_SFRIY : FFT_SFRIX;
    if (p.sign > 0)
        return spatial ? along : type == across ? FFT_SFRI : -1;
    return type == FFT_SFRI ? across : type == along ? FFT_FSRI : -1;
}

/*
 * planOp --
 *	The passes and result type of an operation on an input of a type
 *	(FFT_INIT for a raster image, raster set).
 * Results:
 *	Null, or the message that rejects the operation.
 */
static const char *planOp(int inType, bool raster, int op, FFTPlan *plan)
{
    static const char *const invalid[4] = {
        nullptr, "Invalid op for a SFRI or SFPP image.\n",
        "Invalid op for a SFRIX or SFPPX image.\n",
        "Invalid op for a SFRIY or a SFPPY image.\n"
    };
    int kind;   /* 0 spatial, 1 both directions, 2 rows, 3 columns */
    switch (inType) {
    case FFT_INIT: case FFT_FSRI: case FFT_FSPP: kind = 0; break;
    case FFT_SFRI: case FFT_SFPP: kind = 1; break;
    case FFT_SFRIX: case FFT_SFPPX: kind = 2; break;
    case FFT_SFRIY: case FFT_SFPPY: kind = 3; break;
    default:
        return "Must be SFRI[X|Y], SFPP[X|Y], FSRI, FSPP or INIT file!\n";
    }
    std::vector<FFTPass> &p = plan->passes;
    const FFTPass xf{'X', 1, false, nullptr, false, PLACE_ROWS, PLACE_ROWS};
    const FFTPass xi{'X', -1, false, nullptr, false, PLACE_ROWS, PLACE_ROWS};
    const FFTPass yf{'Y', 1, false, nullptr, false, PLACE_ROWS, PLACE_ROWS};
    const FFTPass yi{'Y', -1, false, nullptr, false, PLACE_ROWS, PLACE_ROWS};
    const FFTPass copy{'C', 0, false, nullptr, false, PLACE_ROWS, PLACE_ROWS};
    p.clear();
    switch (op) {
    case OP_FLTR:
        if (kind == 0)
            return raster ? "Invalid op for a raw image.\n"
                          : "Input image must be a frequency domain image.\n";
        p = {copy};
        p[0].filter = true;
        plan->outType = inType;
        return nullptr;
    case OP_RI:
        if (!raster && inType != FFT_INIT && !fftTypeIsPP(inType))
            return "Input FFT is already in {real,image} format.\n";
        p = {copy};
        plan->outType = inType == FFT_INIT ? FFT_FSRI : fftTypeRI(inType);
        return nullptr;
    case OP_PP:
        if (fftTypeIsPP(inType))
            return "Input FFT is already in {power,phase} format.\n";
        p = {copy};
        plan->outType = fftTypePP(inType);
        return nullptr;
    case OP_XY: case OP_XX: case OP_YY:
        if (kind != 0)
            return invalid[kind];
        if (op == OP_XY)
            p = {xf, yf, xi, yi};
        else
            p = op == OP_XX ? std::vector<FFTPass>{xf, xi}
                            : std::vector<FFTPass>{yf, yi};
        p[op == OP_XY ? 1 : 0].filter = true;
        plan->outType = FFT_FSRI;
        return nullptr;
    default:
        break;
    }
    char dir = (op == OP_XRI || op == OP_XPP) ? 'X'
               : (op == OP_YRI || op == OP_YPP) ? 'Y' : 'B';
    switch (kind) {
    case 0:
        p = dir == 'X' ? std::vector<FFTPass>{xf}
            : dir == 'Y' ? std::vector<FFTPass>{yf} : std::vector<FFTPass>{xf, yf};
        break;
    case 1:
        p = dir == 'X' ? std::vector<FFTPass>{xi}
            : dir == 'Y' ? std::vector<FFTPass>{yi} : std::vector<FFTPass>{xi, yi};
        break;
    case 2:
    case 3:
        if (dir == 'B' && op != OP_NONE)
            return invalid[kind];
        if (dir == 'B')
            p = {kind == 2 ? xi : yi};
        else if (kind == 2)
            p = {dir == 'X' ? xi : yf};
        else
            p = {dir == 'X' ? xf : yi};
        break;
    }
    /* Forward passes filter in the last pass, inverse ones in the first. */
    (p[0].sign > 0 ? p.back() : p.front()).filter = true;
    int type = inType;
    for (const FFTPass &pass : p)
        type = typeAfterPass(type, pass);
    bool pp = op == OP_XPP || op == OP_YPP || op == OP_XYPP;
    plan->outType = pp ? fftTypePP(type) : type;
    return nullptr;
}

/* Gives the filtered pass its form, chosen by the type of the data it
 * filters: the result of a forward pass, else its input.  Without a
 * filter the flags are cleared.  Results: false after the message of an
 * unfilterable type. */
static bool planFilter(FFTPlan *plan, int inType, const FFTFilter *filter)
{
    int type = inType;
    for (FFTPass &pass : plan->passes) {
        int after = typeAfterPass(type, pass);
        if (pass.filter && filter) {
            pass.proc = configFilter(filter, pass.sign > 0 ? after : type);
            if (!pass.proc)
                return false;
        }
        if (!filter)
            pass.filter = false;
        type = after;
    }
    return true;
}

/* ---------------------------------------------------------------------
 * A run
 * --------------------------------------------------------------------- */

struct FFTRun {
    const char *command = nullptr;  /* for messages */
    const char *label = nullptr;    /* of the meter */
    RAMImage *image = nullptr;      /* raster input, null for an FFT input */
    int band = 1;                   /* its band, 1-based (palette: 0 index) */
    int rows = 0, columns = 0;      /* source geometry */
    int P = 0, Q = 0;               /* transform rows and columns */
    int inFd = -1;                  /* FFT input */
    int inType = FFT_INIT;
    unsigned char inHead[FFT_HEADER_SIZE];
    std::string outName;            /* the output file */
    std::string tempName;           /* written here, renamed when done */
    int outFd = -1;
    int stripFd = -1;               /* the scratch file (already unlinked) */
    unsigned char head[FFT_HEADER_SIZE]; /* the output's header */
    FFTFilter filter;
    bool filtered = false;
    std::vector<float> buffer;      /* two working blocks */
    int blockRows = 0;              /* rows of a row-pass block */
    int stripColumns = 0;           /* columns of a column-pass strip */
    ModuleMeter meter;
    long done = 0, total = 0;       /* blocks of all passes */

    FFTRun() = default;
    FFTRun(const FFTRun &) = delete;
    FFTRun &operator=(const FFTRun &) = delete;
    ~FFTRun()
    {
        if (outFd >= 0)
            close(outFd);
        if (stripFd >= 0)
            close(stripFd);
        if (!tempName.empty())
            unlink(tempName.c_str());
        if (inFd >= 0)
            close(inFd);
        if (image)
            closeRAMImage(image, nullptr);
    }
};

/* Reads rows row0.. of the reflection-extended band as complex values
 * (imaginary 0): rows past the end read 2 rows - r - 1, columns past it
 * 2 columns - c - 2. */
static void readSpatialRows(FFTRun &g, int row0, int count, float *out)
{
    std::vector<float> line(g.columns);
    bool palette = g.image->info.nindices > 0;
    for (int i = 0; i < count; i++) {
        int t = row0 + i;
        int row = t < g.rows ? t : 2 * g.rows - t - 1;
        if (palette)
            readFloatBILData(g.image, row, 0, g.columns,
                             g.band == 0 ? -1 : g.band - 1, line.data());
        else
            getFloatBILData(g.image, row, 0, g.columns, g.band - 1,
                            line.data());
        float *v = out + 2 * (size_t)i * g.Q;
        for (int c = 0; c < g.Q; c++) {
            v[2 * c] = line[c < g.columns ? c : 2 * g.columns - c - 2];
            v[2 * c + 1] = 0.0f;
        }
    }
}

/* Counts a finished block on the meter.  Results: false when the user
 * asked to abort (after the message). */
static bool fftStep(FFTRun &g)
{
    if (moduleMeterRow(&g.meter, ++g.done, g.total))
        return true;
    moduleReportCanceled(g.command);
    return false;
}

/* ---------------------------------------------------------------------
 * The scratch file of the column passes: strip s (columns s*W ..) holds
 * its P rows of W values at s * P * W values from the start, so that a
 * column pass reads and writes a strip at once and a row pass moves a
 * block of rows in one transfer per strip.
 * --------------------------------------------------------------------- */

/* Reports a failed transfer of the scratch file; false. */
static bool stripFailure(bool write, ssize_t got)
{
    const char *what = write ? "write error in gfftrans" : "read error in gfftrans";
    if (got >= 0)
        stderrPrintf("%s: unexpected end of file\n", what);
    else
        stderrPerror(what);
    return false;
}

/* Moves iov[0 .. n) from or to the file at `at`, whatever the pieces
 * each call moves.  Results: false after the message. */
static bool stripTransfer(int fd, iovec *iov, int n, off_t at, bool write)
{
    while (n > 0) {
        int batch = std::min(n, IOV_MAX);
        ssize_t done = write ? pwritev(fd, iov, batch, at)
                             : preadv(fd, iov, batch, at);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return stripFailure(write, done);
        at += done;
        while (n > 0 && (size_t)done >= iov->iov_len) {
            done -= (ssize_t)iov->iov_len;
            iov++;
            n--;
        }
        if (n > 0) {
            iov->iov_base = static_cast<char *>(iov->iov_base) + done;
            iov->iov_len -= (size_t)done;
        }
    }
    return true;
}

static off_t stripOffset(const FFTRun &g, int strip)
{
    return (off_t)strip * g.P * g.stripColumns * 8;
}

/* Moves rows first .. first+count-1 (whole rows of Q values in block)
 * from or to every strip. */
static bool stripRows(FFTRun &g, float *block, int first, int count,
                      bool write)
{
    const int W = g.stripColumns;
    std::vector<iovec> iov(count);
    for (int s = 0; s * W < g.Q; s++) {
        for (int i = 0; i < count; i++)
            iov[i] = iovec{block + 2 * ((size_t)i * g.Q + (size_t)s * W),
                           (size_t)W * 8};
        if (!stripTransfer(g.stripFd, iov.data(), count,
                           stripOffset(g, s) + (off_t)first * W * 8, write))
            return false;
    }
    return true;
}

/* Moves one strip (P rows of W values) from or to the scratch file. */
static bool stripWhole(FFTRun &g, float *strip, int s, bool write)
{
    iovec one{strip, (size_t)g.P * g.stripColumns * 8};
    return stripTransfer(g.stripFd, &one, 1, stripOffset(g, s), write);
}

/* Reads a block of whole rows from where a pass takes them. */
static bool readRows(FFTRun &g, FFTPlace from, int first, int count,
                     float *block)
{
    switch (from) {
    case PLACE_RASTER:
        readSpatialRows(g, first, count, block);
        return true;
    case PLACE_INPUT:
        return GetFFTFileBlock(g.inHead, g.inFd, block, first, count) != nullptr;
    case PLACE_ROWS:
        return GetFFTFileBlock(g.head, g.outFd, block, first, count) != nullptr;
    default:
        return stripRows(g, block, first, count, false);
    }
}

/*
 * runPass --
 *	One pass: blocks of rows (X and copies) or strips of columns (Y) are
 *	read, converted from power/phase when the input holds that, filtered
 *	before an inverse transform or after a forward one, transformed and
 *	written.  The plan's last pass converts to power/phase when the
 *	result is of such a type and keeps the header statistics (a strip's
 *	row segment after row segment, a block's rows one by one).  Block k
 *	is computed on a worker from one half of the buffer while the calling
 *	thread writes block k - 1 from the other half and reads block k + 1
 *	into it; blocks are computed and written in order, so the statistics
 *	are kept in the same order as by one thread.
 * Results:
 *	false after a read error or an abort.
 */
static bool runPass(FFTRun &g, const FFTPass &pass, bool sourcePP,
                    int outType)
{
    FFTTables tables;
    if (pass.dir != 'C')
        fftTablesBuild(&tables, pass.dir == 'X' ? g.Q : g.P, pass.sign);
    const bool columns = pass.dir == 'Y';
    const int step = columns ? g.stripColumns : g.blockRows;
    const int extent = columns ? g.Q : g.P;
    const bool toPP = pass.last && fftTypeIsPP(outType);
    float *const halves[2] = {g.buffer.data(), g.buffer.data() + g.buffer.size() / 2};
    assert(!columns || (pass.from == PLACE_STRIPS && pass.to == PLACE_STRIPS));
    auto compute = [&](float *buffer, int first) {
        int count = std::min(step, extent - first);
        long values = (long)count * (columns ? g.P : g.Q);
        int col0 = columns ? first : 0, cols = columns ? count : g.Q;
        int row0 = columns ? 0 : first, rows = columns ? g.P : count;
        if (sourcePP)
            ppTOri(buffer, values);
        if (pass.proc && pass.sign <= 0)
            pass.proc(&g.filter, buffer, col0, cols, row0, rows);
        if (pass.dir == 'X')
            ffte(buffer, tables, count, g.Q, pass.sign);
        else if (columns)
            fftl(buffer, tables, g.P, count, pass.sign);
        if (pass.proc && pass.sign > 0)
            pass.proc(&g.filter, buffer, col0, cols, row0, rows);
        if (toPP)
            riTOpp(buffer, values);
        if (columns && pass.last)
            statFFTRows(g.head, g.P, count, buffer);
    };
    auto read = [&](float *buffer, int first) {
        int count = std::min(step, extent - first);
        return columns ? stripWhole(g, buffer, first / step, false)
                       : readRows(g, pass.from, first, count, buffer);
    };
    auto write = [&](float *buffer, int first) {
        int count = std::min(step, extent - first);
        if (columns)
            return stripWhole(g, buffer, first / step, true);
        if (pass.to == PLACE_ROWS) {
            PutFFTFileBlock(g.head, g.outFd, buffer, first, count, pass.last);
            return true;
        }
        return stripRows(g, buffer, first, count, true);
    };
    if (!read(halves[0], 0))
        return false;
    for (int k = 0, first = 0; first < extent; k++, first += step) {
        float *cur = halves[k % 2], *other = halves[(k + 1) % 2];
        std::function<void(int, int)> task = [&](int, int) { compute(cur, first); };
        bool started = rowThreadsStart(1, 1, task);
        /* the caller's transfers; the task is finished whatever they give */
        bool ok = k == 0 || write(other, first - step);
        ok = ok && (first + step >= extent || read(other, first + step));
        if (started)
            rowThreadsFinish();
        else
            compute(cur, first);
        if (!ok || !fftStep(g))
            return false;
    }
    const int lastFirst = (extent - 1) / step * step;
    return write(halves[((extent - 1) / step) % 2], lastFirst);
}

/* Sizes the blocks from the budget (never more than the whole output)
 * and allocates the working block.  Results: false after "Error in
 * allocGFFT!". */
static bool allocGFFT(FFTRun &g)
{
    long values = std::min(gfftBudget(), (long)g.P * g.Q * 8) / 8;
    g.blockRows = (int)std::max(1L, std::min<long>(values / g.Q, g.P));
    long width = 1;
    while (width * 2 * g.P <= values)
        width *= 2;
    g.stripColumns = (int)std::max(1L, std::min<long>(width / 2, g.Q));
    size_t need = std::max((size_t)g.blockRows * g.Q, (size_t)g.stripColumns * g.P);
    try {
        g.buffer.resize(2 * 2 * need);     /* two blocks: one computed, one moved */
    } catch (...) {
        stderrPrintf("Error in allocGFFT!\n");
        return false;
    }
    return true;
}

/* Checks an existing output (an FFT file of P x Q) and the free space
 * (for the scratch file too when the plan has column passes), and opens
 * the new file under a temporary name beside it.  A lack of space fails
 * the run here, before the file routines would end the process.
 * Results: false after a message. */
static bool openFFTOutput(FFTRun &g, const char *name, const FFTPlan &plan)
{
    RAMImage *r = getRAMImageByTag(name);
    g.outName = r ? r->info.fileName : name;
    double data = (double)g.P * g.Q * 8;
    if (data > FFT_MAX_DATA) {
        stderrPrintf("Error in allocGFFT!\n");
        return false;
    }
    bool columns = false;
    for (const FFTPass &p : plan.passes)
        columns = columns || p.dir == 'Y';
    size_t slash = g.outName.rfind('/');
    std::string dir = slash == std::string::npos ? "."
                      : slash == 0 ? "/" : g.outName.substr(0, slash);
    double need = FFT_HEADER_SIZE + data * (columns ? 2 : 1);
    double space = freeDiskSpace(dir.c_str());
    if (space >= 0 && need > space) {
        stderrPrintf("Insufficient disk space.\n");
        stderrPrintf("Rquest: %.0f  Available: %.0f\n", need, space);
        return false;
    }
    struct stat st;
    if (stat(g.outName.c_str(), &st) == 0) {
        unsigned char h[FFT_HEADER_SIZE];
        int fd = OpenOLDFFTFile(g.outName.c_str(), h);
        bool fits = fd >= 0 && hostField<int32_t>(h, FFT_P) == g.P
                    && hostField<int32_t>(h, FFT_Q) == g.Q;
        if (fd >= 0)
            close(fd);
        if (!fits) {
            stderrPrintf("Wrong type of output file.\n");
            return false;
        }
    }
    std::string temp = g.outName + ".tmp" + std::to_string(getpid());
    g.outFd = OpenNEWFFTFile(temp.c_str(), g.head);
    if (g.outFd < 0) {
        stderrPrintf("Error in creating %s.\n", g.outName.c_str());
        return false;
    }
    g.tempName = temp;
    return true;
}

/* Opens the scratch file of the column passes beside the output and
 * unlinks it at once: it goes with its descriptor.  Results: false after
 * a message. */
static bool openStrips(FFTRun &g)
{
    std::string name = g.tempName + ".strips";
    g.stripFd = open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (g.stripFd < 0) {
        stderrPerror(name.c_str());
        stderrPrintf("Error in creating %s.\n", g.outName.c_str());
        return false;
    }
    unlink(name.c_str());
    return true;
}

/*
 * runPlan --
 *	Runs the plan's passes.  Rows are read from the input; columns go
 *	through the scratch file: a plan starting with columns first copies
 *	the input there, one ending with columns copies the result to the
 *	output from there.  Then writes the header with the result type and
 *	puts the file in place.
 * Results:
 *	1 or 0.
 */
static int runPlan(FFTRun &g, FFTPlan &plan)
{
    std::vector<FFTPass> &p = plan.passes;
    const FFTPass copy{'C', 0, false, nullptr, false, PLACE_ROWS, PLACE_ROWS};
    p.back().last = true;
    if (p.front().dir == 'Y')
        p.insert(p.begin(), copy);
    if (p.back().dir == 'Y')
        p.push_back(copy);
    bool strips = false;
    p.front().from = g.image ? PLACE_RASTER : PLACE_INPUT;
    for (size_t i = 0; i < p.size(); i++) {
        bool nextColumns = i + 1 < p.size() && p[i + 1].dir == 'Y';
        p[i].to = p[i].dir == 'Y' || nextColumns ? PLACE_STRIPS : PLACE_ROWS;
        if (i + 1 < p.size())
            p[i + 1].from = p[i].to;
        strips = strips || p[i].to == PLACE_STRIPS;
    }
    if (!allocGFFT(g) || (strips && !openStrips(g)))
        return 0;
    for (const FFTPass &pass : p)
        g.total += pass.dir == 'Y' ? (g.Q + g.stripColumns - 1) / g.stripColumns
                                   : (g.P + g.blockRows - 1) / g.blockRows;
    moduleMeterStart(&g.meter, g.label);
    for (size_t i = 0; i < p.size(); i++) {
        bool pp = i == 0 && !g.image && fftTypeIsPP(g.inType);
        if (!runPass(g, p[i], pp, plan.outType)) {
            meterReset();
            return 0;
        }
    }
    moduleMeterEnd(&g.meter);
    putHostField<int32_t>(g.head, FFT_TYPE, plan.outType);
    PutFFTHead(g.head, g.outFd);
    close(g.outFd);
    g.outFd = -1;
    if (rename(g.tempName.c_str(), g.outName.c_str()) != 0) {
        stderrPerror(g.outName.c_str());
        meterReset();
        return 0;
    }
    g.tempName.clear();
    /* A record showing the output reloads the new file. */
    if (RAMImage *r = getRAMImageByName(g.outName.c_str())) {
        int err;
        if (updateRAMImage(g.outName.c_str(), nullptr, r, &err))
            updateClient(r, nullptr, 3);
    }
    meterReset();
    return 1;
}

/* Opens the input: a raster image by tag or file, or an FFT image file
 * read directly.  Results: false after "Error in open %s" and the
 * store's message. */
static bool openFFTInput(FFTRun &g, const char *name)
{
    int err = RAMIMG_OK;
    g.image = moduleOpenImage(name, &err);
    if (!g.image) {
        stderrPrintf("Error in open %s\n", name);
        ramimgErrorReport(err);
        return false;
    }
    g.rows = g.image->info.rows;
    g.columns = g.image->info.columns;
    if (g.rows > FFT_MAX_SIDE || g.columns > FFT_MAX_SIDE) {
        stderrPrintf("Error in allocGFFT!\n");
        return false;
    }
    g.P = fftSize(g.rows);
    g.Q = fftSize(g.columns);
    return true;
}

/* Turns an opened FFT image record into direct access of its file.
 * Results: false after "Error in open %s" when the file cannot be read
 * or its geometry is not a transform's. */
static bool useFFTFile(FFTRun &g, const char *name)
{
    flushRAMImage(g.image);
    g.inFd = OpenOLDFFTFile(g.image->info.fileName, g.inHead);
    struct stat st;
    bool ok = g.inFd >= 0 && fstat(g.inFd, &st) == 0;
    if (ok) {
        g.P = hostField<int32_t>(g.inHead, FFT_P);
        g.Q = hostField<int32_t>(g.inHead, FFT_Q);
        ok = g.P >= 1 && g.Q >= 1 && fftSize(g.P) == g.P && fftSize(g.Q) == g.Q
             && st.st_size >= FFT_HEADER_SIZE + (int64_t)g.P * g.Q * 8;
    }
    if (!ok) {
        stderrPrintf("Error in open %s\n", name);
        return false;
    }
    g.inType = hostField<int32_t>(g.inHead, FFT_TYPE);
    g.band = hostField<int32_t>(g.inHead, FFT_BAND);
    g.rows = hostField<int32_t>(g.inHead, FFT_ROWS);
    g.columns = hostField<int32_t>(g.inHead, FFT_COLUMNS);
    closeRAMImage(g.image, nullptr);
    g.image = nullptr;
    return true;
}

/* The most a band of a raster input may be (bands, or 3 with a
 * palette), or 0 when g.band is out of range (1 .. most; with a palette
 * 0 too). */
static int bandLimit(const FFTRun &g)
{
    bool palette = g.image->info.nindices > 0;
    int most = palette ? 3 : g.image->info.nbands;
    return g.band >= (palette ? 0 : 1) && g.band <= most ? most : 0;
}

/* Fills the output header: from a raster input its name, band and
 * geometry; from an FFT input the input's. */
static void initOutputHead(FFTRun &g, int type)
{
    if (g.image) {
        fftInitHead(g.head, g.image->info.fileName, g.band, g.P, g.Q, g.rows,
                    g.columns, type);
        return;
    }
    char source[65];
    std::memcpy(source, g.inHead + FFT_SOURCE, 64);
    source[64] = '\0';
    fftInitHead(g.head, source, g.band, g.P, g.Q, g.rows, g.columns, type);
}

/* ---------------------------------------------------------------------
 * rimage gfftrans
 * --------------------------------------------------------------------- */

static const char *const gfftUsageLines[] = {
    "  -in   input image: a raster image or an FFT image",
    "  -out  output FFT image",
    "  -op   XRI YRI XYRI XPP YPP XYPP XY XX YY FLTR RI PP",
    "        (default: both directions, real/imaginary)",
    "  -b    band of a raster input (default 1)",
    "  -fp   filter: bell,r,n  high,r,n,amp  notch,r,n,amp,x,y",
    "        (rx,ry in place of r for an elliptic filter)",
    "  -fa   rotation angle of the filter in degrees (default 0)",
    nullptr
};

/*
 * gFFTransAp --
 *	rimage gfftrans -in IN -out OUT -op OP -b BAND -fp FP -fa FA.
 * Results:
 *	2 after the usage text, 1 on success, 0 on failure.
 * Side effects:
 *	Writes the output FFT file; a record showing it reloads it.
 */
int gFFTransAp(const char *command, int argc, const char **argv)
{
    if (argc == 0) {
        stdoutPrintf("Usage: %s -in IN -out OUT -op OP -b BAND -fp FP -fa FA\n",
                     command);
        for (const char *const *l = gfftUsageLines; *l; l++)
            stdoutPrintf("%s\n", *l);
        return 2;
    }
    ModuleParam table[] = {{"-in", nullptr}, {"-out", nullptr},
                           {"-op", nullptr}, {"-b", nullptr},
                           {"-fp", nullptr}, {"-fa", nullptr},
                           {nullptr, nullptr}};
    enum { IN, OUT, OP, BAND, FP, FA };
    int unknown = parseConfig(table, argc, argv);
    if (unknown) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    FFTRun g;
    g.command = command;
    g.label = "gfftrans";
    if (!table[IN].value) {
        stderrPrintf("Input image missing!\n");
        return 0;
    }
    if (!openFFTInput(g, table[IN].value))
        return 0;
    if (!table[OUT].value) {
        stderrPrintf("Output image missing!\n");
        return 0;
    }
    if (g.image->info.imgid == IMG_FFT) {
        if (!useFFTFile(g, table[IN].value))
            return 0;
    } else {
        g.band = table[BAND].value ? (int)std::atol(table[BAND].value) : 1;
        if (!bandLimit(g)) {
            bool palette = g.image->info.nindices > 0;
            stderrPrintf("Wrong band number: %d (max bands: %d).\n", g.band,
                         palette ? 3 : g.image->info.nbands);
            return 0;
        }
    }
    int op = OP_NONE;
    if (table[OP].value) {
        for (op = 0; op < OP_NONE; op++)
            if (strcasecmp(table[OP].value, opWords[op]) == 0)
                break;
        if (op == OP_NONE) {
            stderrPrintf("Undefined operation: -op %s\n", table[OP].value);
            return 0;
        }
    }
    FFTPlan plan;
    if (const char *message = planOp(g.inType, g.image != nullptr, op, &plan)) {
        stderrPrintf("%s", message);
        return 0;
    }
    if (table[FP].value && (op == OP_RI || op == OP_PP)) {
        stderrPrintf("Filter is not allowed for the specified op.\n");
        return 0;
    }
    if (!table[FP].value && (op == OP_XY || op == OP_XX || op == OP_YY
                             || op == OP_FLTR)) {
        stderrPrintf("Missing filter specification!\n");
        return 0;
    }
    if (table[FP].value) {
        double angle = table[FA].value ? std::atof(table[FA].value) : 0.0;
        if (parseFilter(table[FP].value, angle, g.P, g.Q, &g.filter) != 0) {
            stderrPrintf("Invalid filter specification.\n");
            return 0;
        }
        g.filtered = true;
    }
    if (!planFilter(&plan, g.inType, g.filtered ? &g.filter : nullptr))
        return 0;
    initOutputHead(g, plan.outType);
    if (!openFFTOutput(g, table[OUT].value, plan))
        return 0;
    return runPlan(g, plan);
}

/* ---------------------------------------------------------------------
 * calc makefft
 * --------------------------------------------------------------------- */

static const char *const makefftUsageLines[] = {
    "  in=IN    input image",
    "  out=OUT  output FFT image",
    "  b=BAND   band of the input (default 1)",
    "  op=OPT   X, Y or XY: the directions of the transform (default XY)",
    nullptr
};

/*
 * gmakefft --
 *	calc makefft in=IN out=OUT b=BAND op=OPT: the forward transform of an
 *	image band along rows, columns or both.
 * Results:
 *	2 after the usage text, 1 on success, 0 on failure.
 */
int gmakefft(int argc, const char **argv)
{
    ModuleParam table[] = {{"makefft", nullptr}, {"in=", nullptr},
                           {"out=", nullptr}, {"b=", nullptr},
                           {"op=", nullptr}, {nullptr, nullptr}};
    enum { IN = 1, OUT, BAND, OP, COUNT };
    if (argc <= 1) {
        stdoutPrintf("Usage: makefft in=IN out=OUT b=BAND op=OPT\n");
        for (const char *const *l = makefftUsageLines; *l; l++)
            stdoutPrintf("%s\n", *l);
        return 2;
    }
    for (int i = 0; i < COUNT; i++)
        table[i].value = nullptr;
    parseParams(argc, argv, table, COUNT);
    stdoutPrintf("MAKEFFT: Fast Fourier Transfermation of an image file.\n\n");
    const char *op = table[OP].value ? table[OP].value : "XY";
    FFTPlan plan;
    const FFTPass xf{'X', 1, false, nullptr, false, PLACE_ROWS, PLACE_ROWS};
    const FFTPass yf{'Y', 1, false, nullptr, false, PLACE_ROWS, PLACE_ROWS};
    if (strcasecmp(op, "X") == 0) {
        plan.passes = {xf};
        plan.outType = FFT_SFRIX;
    } else if (strcasecmp(op, "Y") == 0) {
        plan.passes = {yf};
        plan.outType = FFT_SFRIY;
    } else if (strcasecmp(op, "XY") == 0) {
        plan.passes = {xf, yf};
        plan.outType = FFT_SFRI;
    } else {
        stderrPrintf("Undefined operation.\n");
        return 0;
    }
    if (!table[IN].value || !*table[IN].value) {
        stderrPrintf("Input File Missing!\n");
        return 0;
    }
    if (!table[OUT].value || !*table[OUT].value) {
        stderrPrintf("Output File Missing!\n");
        return 0;
    }
    FFTRun g;
    g.command = "calc makefft";
    g.label = "makefft";
    if (!openFFTInput(g, table[IN].value))
        return 0;
    g.band = table[BAND].value ? (int)std::atol(table[BAND].value) : 1;
    if (!bandLimit(g)) {
        stderrPrintf("Illegal Band Number!\n");
        return 0;
    }
    initOutputHead(g, plan.outType);
    if (!openFFTOutput(g, table[OUT].value, plan))
        return 0;
    return runPlan(g, plan);
}
