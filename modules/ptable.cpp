/*
 * ptable.cpp --
 *
 *	Pixel tables (layout in ptable.h): creation, the "PTABLEHD" file,
 *	search, and the builder behind `rimage ptable` and makePTable.  The
 *	builder reads blocks of rows as pixel vectors, ranks the vectors the
 *	table lacks by their insertion position, sorts and de-duplicates
 *	them, merges them into the table from its end backwards and
 *	re-indexes; a second reading counts the pixels of every entry.  The
 *	table file is written beside its final name and renamed when
 *	complete, so a failed run leaves no table that looks whole.  Relies
 *	on the module frame, line access and the package's standard streams.
 */
#include "modules/ptable.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "modules/moduleFrame.h"

/* Bytes of the table record in the file for nb bands: capacity, count,
 * 2 x 256 indexes, two storage words, band count, band list. */
static int64_t recordSize(int64_t nb)
{
    return 2068 + 4 * nb;
}

/* ---------------------------------------------------------------------
 * Records
 * --------------------------------------------------------------------- */

PTable *createPTable(int capacity, int bands, const int *bandList)
{
    if (capacity < 0 || bands < 1)
        return nullptr;
    PTable *t = static_cast<PTable *>(std::calloc(1, sizeof(PTable)));
    if (!t)
        return nullptr;
    size_t n = (size_t)capacity;
    t->capacity = capacity;
    t->count = 0;
    for (int b = 0; b < 256; b++) {
        t->first[b] = -1;
        t->last[b] = -2;
    }
    t->nbands = bands;
    t->entries = static_cast<unsigned char *>(
        std::calloc(n * bands + 1, 1));
    t->counts = static_cast<uint16_t *>(std::calloc(n + 1, sizeof(uint16_t)));
    t->bands = static_cast<int32_t *>(std::calloc((size_t)bands, 4));
    if (!t->entries || !t->counts || !t->bands) {
        destroyPTable(t);
        return nullptr;
    }
    for (int b = 0; b < bands; b++)
        t->bands[b] = bandList ? bandList[b] : b;
    return t;
}

void freePTable(PTable *t)
{
    if (!t)
        return;
    std::free(t->entries);
    std::free(t->counts);
    t->entries = nullptr;
    t->counts = nullptr;
    t->capacity = t->count = 0;
}

void destroyPTable(PTable *t)
{
    if (!t)
        return;
    freePTable(t);
    std::free(t->bands);
    std::free(t);
}

/*
 * indexPTable --
 *	First and last entry of every populated first byte; a byte without
 *	entries gets the position where such an entry would be inserted.
 */
void indexPTable(PTable *t)
{
    int nb = t->nbands;
    for (int b = 0; b < 256; b++) {
        t->first[b] = -1;
        t->last[b] = -2;
    }
    for (int i = 0; i < t->count; i++) {
        int b = t->entries[(size_t)i * nb];
        if (t->first[b] < 0)
            t->first[b] = i;
        t->last[b] = i;
    }
    int next = t->count;
    for (int b = 255; b >= 0; b--) {
        if (t->first[b] >= 0)
            next = t->first[b];
        else
            t->last[b] = next;
    }
}

/* Binary search of vector among the entries of its first byte.  Results:
 * the entry, or -1 with the insertion position in *rank. */
static int rankPTable(const PTable *t, const unsigned char *v, int *rank)
{
    int b = v[0], nb = t->nbands;
    if (t->first[b] < 0) {
        *rank = t->last[b];
        return -1;
    }
    int lo = t->first[b], hi = t->last[b];
    while (lo <= hi) {
        int mid = lo + (hi - lo) / 2;
        int c = std::memcmp(t->entries + (size_t)mid * nb, v, (size_t)nb);
        if (c == 0)
            return mid;
        if (c > 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    *rank = lo;
    return -1;
}

int searchPTable(const PTable *t, const unsigned char *vector)
{
    if (t->count < 1)
        return -1;
    int rank;
    return rankPTable(t, vector, &rank);
}

/* ---------------------------------------------------------------------
 * The file
 * --------------------------------------------------------------------- */

static void put32(std::vector<unsigned char> &out, int64_t v)
{
    uint32_t u = (uint32_t)v;
    for (int i = 0; i < 4; i++)
        out.push_back((unsigned char)(u >> (8 * i)));
}

static int32_t get32(const unsigned char *p)
{
    return (int32_t)((uint32_t)p[0] | (uint32_t)p[1] << 8
                     | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24);
}

static bool writeAll(int fd, const unsigned char *p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= (size_t)w;
    }
    return true;
}

/*
 * putPTable --
 *	Writes the head, the record (with the count as capacity), the
 *	entries and the counts at the descriptor's position.
 * Results:
 *	1, or 0 when a write fails.
 */
int putPTable(int fd, const PTable *t)
{
    int nb = t->nbands;
    size_t count = (size_t)t->count;
    std::vector<unsigned char> head;
    try {
        head.reserve((size_t)(12 + recordSize(nb)));
        head.insert(head.end(), PTABLE_MAGIC, PTABLE_MAGIC + 8);
        put32(head, 12 + recordSize(nb));
        put32(head, t->count);
        put32(head, t->count);
        for (int b = 0; b < 256; b++)
            put32(head, t->first[b]);
        for (int b = 0; b < 256; b++)
            put32(head, t->last[b]);
        put32(head, 0);
        put32(head, 0);
        put32(head, nb);
        for (int b = 0; b < nb; b++)
            put32(head, t->bands[b]);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (!writeAll(fd, head.data(), head.size())
            || !writeAll(fd, t->entries, count * nb))
        return 0;
    unsigned char buf[4096];
    for (size_t i = 0; i < count;) {
        size_t n = std::min(count - i, sizeof buf / 2);
        for (size_t k = 0; k < n; k++) {
            buf[2 * k] = (unsigned char)(t->counts[i + k] & 0xff);
            buf[2 * k + 1] = (unsigned char)(t->counts[i + k] >> 8);
        }
        if (!writeAll(fd, buf, 2 * n))
            return 0;
        i += n;
    }
    return 1;
}

static bool readAt(int fd, void *to, size_t n, off_t at)
{
    unsigned char *p = static_cast<unsigned char *>(to);
    while (n > 0) {
        ssize_t r = pread(fd, p, n, at);
        if (r <= 0)
            return false;
        p += r;
        n -= (size_t)r;
        at += r;
    }
    return true;
}

/*
 * getPTable --
 *	Reads a table file.  The sizes in the head must agree with the file,
 *	and the entries must be in strictly increasing order; the first and
 *	last indexes are recomputed from the entries.
 * Results:
 *	The table, or null after a message.
 */
PTable *getPTable(const char *path)
{
    int fd = open(path, O_RDONLY);
    if (fd < 0) {
        stderrPrintf("Error in open table:%s\n", path);
        return nullptr;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{fd};
    unsigned char head[PTABLE_HEAD_SIZE];
    struct stat st;
    if (!readAt(fd, head, sizeof head, 0) || fstat(fd, &st) != 0) {
        stderrPrintf("Error in open table:%s\n", path);
        return nullptr;
    }
    if (std::memcmp(head, PTABLE_MAGIC, 8) != 0) {
        char id[9];
        for (int i = 0; i < 8; i++)
            id[i] = head[i] >= 32 && head[i] < 127 ? (char)head[i] : '?';
        id[8] = '\0';
        stderrPrintf("Wrong PTABLE file ID %s.\n", id);
        return nullptr;
    }
    int64_t offset = get32(head + 8), count = get32(head + 16);
    int64_t nb = get32(head + 2076);
    if (nb < 1 || nb > MODULE_MAX_BANDS || count < 0
            || offset != 12 + recordSize(nb)
            || offset + count * (nb + 2) > (int64_t)st.st_size) {
        stderrPrintf("Error in open table:%s\n", path);
        return nullptr;
    }
    std::vector<unsigned char> record;
    try {
        record.resize((size_t)recordSize(nb));
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error of malloc in getPTable.\n");
        return nullptr;
    }
    if (!readAt(fd, record.data(), record.size(), 12)) {
        stderrPrintf("Error in open table:%s\n", path);
        return nullptr;
    }
    std::vector<int> bands((size_t)nb);
    for (int64_t b = 0; b < nb; b++)
        bands[b] = get32(record.data() + 2068 + 4 * b);
    PTable *t = createPTable((int)count, (int)nb, bands.data());
    if (!t) {
        stderrPrintf("Error in createPTable...\n");
        return nullptr;
    }
    std::vector<unsigned char> raw;
    bool ok = readAt(fd, t->entries, (size_t)(count * nb), (off_t)offset);
    try {
        raw.resize((size_t)count * 2);
    } catch (const std::bad_alloc &) {
        destroyPTable(t);
        stderrPrintf("Error of malloc in getPTable.\n");
        return nullptr;
    }
    ok = ok && readAt(fd, raw.data(), raw.size(),
                      (off_t)(offset + count * nb));
    for (int64_t i = 0; ok && i < count; i++)
        t->counts[i] = (uint16_t)(raw[2 * i] | raw[2 * i + 1] << 8);
    t->count = (int32_t)count;
    for (int64_t i = 1; ok && i < count; i++)
        ok = std::memcmp(t->entries + (i - 1) * nb, t->entries + i * nb,
                         (size_t)nb) < 0;
    if (!ok) {
        destroyPTable(t);
        stderrPrintf("Error in open table:%s\n", path);
        return nullptr;
    }
    indexPTable(t);
    return t;
}

/* ---------------------------------------------------------------------
 * Building
 * --------------------------------------------------------------------- */

/* User CPU time of the process in the builder's unit: microseconds
 * times 0.01. */
static double userTime(void)
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return ((double)u.ru_utime.tv_sec * 1e6 + (double)u.ru_utime.tv_usec)
           * 0.01;
}

/* Rows firstRow .. lastRow (0-based, inclusive) of an image read as pixel
 * vectors, a block at a time; polls the meter after every row. */
struct PTableReader {
    RAMImage *image;
    int nb;
    const int *bands;
    int firstRow, lastRow;
    int blockRows;              /* rows per block */
    ModuleMeter meter;
    long done, total;           /* meter rows over both readings */
    int aborted;                /* 1 when the user asked to abort */
    std::vector<unsigned char> block;
};

/* Reads the block starting at row; results: its pixels, -1 on abort. */
static long readBlock(PTableReader *rd, int row)
{
    int columns = rd->image->info.columns;
    int rows = std::min(rd->blockRows, rd->lastRow - row + 1);
    size_t line = (size_t)columns * rd->nb;
    for (int r = 0; r < rows; r++) {
        readByteBIPData(rd->image, row + r, 0, columns, 1, rd->nb, rd->bands,
                        rd->block.data() + r * line);
        if (!moduleMeterRow(&rd->meter, ++rd->done, rd->total)) {
            rd->aborted = 1;
            return -1;
        }
    }
    return (long)rows * columns;
}

/* Merges the first m of the sorted unique candidates (with their ranks)
 * into the table, filling it from its end backwards. */
static void mergeCandidates(PTable *t, const unsigned char *pixels,
                            const int *cand, const int *rank, int m)
{
    int nb = t->nbands;
    int i = t->count - 1, j = m - 1, w = t->count + m - 1;
    while (j >= 0) {
        unsigned char *to = t->entries + (size_t)w * nb;
        if (i >= 0 && !(rank[cand[j]] > i)) {
            std::memmove(to, t->entries + (size_t)i * nb, (size_t)nb);
            i--;
        } else {
            std::memcpy(to, pixels + (size_t)cand[j] * nb, (size_t)nb);
            j--;
        }
        w--;
    }
    t->count += m;
}

/*
 * ptableBuild --
 *	The builder over rd's rows: the distinct vectors, then their counts.
 * Results:
 *	The table; null after "Error in createPTable...\n" or a memory
 *	message, or (without a message) when the user aborted.
 */
static PTable *ptableBuild(PTableReader *rd)
{
    int nb = rd->nb, columns = rd->image->info.columns;
    int capacity = 8388608 / (nb + 2) - 2;
    PTable *t = createPTable(capacity, nb, rd->bands);
    if (!t) {
        stderrPrintf("Error in createPTable...\n");
        return nullptr;
    }
    struct Holder {
        PTable *t;
        ~Holder() { destroyPTable(t); }
    } holder{t};
    int64_t perRow = (int64_t)columns * nb;
    rd->blockRows = (int)std::max<int64_t>(1, 1048576 / perRow);
    size_t blockPixels = (size_t)rd->blockRows * columns;
    std::vector<int> cand, rank;
    try {
        rd->block.resize(blockPixels * nb);
        cand.resize(blockPixels);
        rank.resize(blockPixels);
    } catch (const std::bad_alloc &) {
        stderrPrintf("Error in malloc.\n");
        return nullptr;
    }
    const unsigned char *px = rd->block.data();
    double ioTime = 0, rankTime = 0, mergeTime = 0;
    long read = 0;
    for (int row = rd->firstRow; row <= rd->lastRow; row += rd->blockRows) {
        double t0 = userTime();
        long n = readBlock(rd, row);
        if (n < 0)
            return nullptr;
        double t1 = userTime();
        int candidates = 0;
        for (long p = 0; p < n; p++) {
            int r = 0;
            if (t->count > 0 && rankPTable(t, px + p * nb, &r) >= 0)
                continue;
            rank[p] = r;
            cand[candidates++] = (int)p;
        }
        std::sort(cand.begin(), cand.begin() + candidates,
                  [px, nb](int a, int b) {
                      return std::memcmp(px + (size_t)a * nb,
                                         px + (size_t)b * nb, nb) < 0;
                  });
        int unique = 0;
        for (int k = 0; k < candidates; k++)
            if (unique == 0
                    || std::memcmp(px + (size_t)cand[k] * nb,
                                   px + (size_t)cand[unique - 1] * nb,
                                   nb) != 0)
                cand[unique++] = cand[k];
        double t2 = userTime();
        int m = std::min(unique, t->capacity - t->count);
        mergeCandidates(t, px, cand.data(), rank.data(), m);
        indexPTable(t);
        double t3 = userTime();
        read += n;
        ioTime += t1 - t0;
        rankTime += t2 - t1;
        mergeTime += t3 - t2;
        stdoutPrintf("T:%7ld IN:%6ld NEW:%6ld U:%6ld Rd:%5.2f Rank:%5.2f "
                     "Merge:%5.2f\n", (long)t->count, n, (long)candidates,
                     (long)m, t1 - t0, t2 - t1, t3 - t2);
    }
    for (int i = 1; i < t->count; i++) {
        const unsigned char *a = t->entries + (size_t)(i - 1) * nb;
        if (std::memcmp(a, a + nb, nb) < 0)
            continue;
        stdoutPrintf("Wrong order at %8ld\n", (long)i);
        for (int v = 0; v < 2; v++) {
            for (int b = 0; b < nb; b++)
                stdoutPrintf("%4d", a[v * nb + b]);
            stdoutPrintf("\n");
        }
    }
    indexPTable(t);
    stdoutPrintf("\nN = %ld U = %ld Ratio = %6.3f\n", read, (long)t->count,
                 t->count > 0 ? (double)read / t->count : 0.0);
    stdoutPrintf("ioTime: %10.3f  rankTime: %10.3f  mergeTime: %10.3f\n",
                 ioTime, rankTime, mergeTime);
    stdoutPrintf("\nPixel counting...\n");

    double c0 = userTime();
    long misses = 0;
    std::fill(t->counts, t->counts + t->capacity, 0);
    for (int row = rd->firstRow; row <= rd->lastRow; row += rd->blockRows) {
        long n = readBlock(rd, row);
        if (n < 0)
            return nullptr;
        for (long p = 0; p < n; p++) {
            int e = searchPTable(t, px + p * nb);
            if (e >= 0)
                t->counts[e]++;
            else
                misses++;
        }
    }
    stdoutPrintf("Time used for counting: %7.3f Miss counting: %ld\n",
                 userTime() - c0, misses);
    holder.t = nullptr;
    return t;
}

static void startReader(PTableReader *rd, RAMImage *image, int nb,
                        const int *bands, int firstRow, int lastRow,
                        const char *label)
{
    rd->image = image;
    rd->nb = nb;
    rd->bands = bands;
    rd->firstRow = firstRow;
    rd->lastRow = lastRow;
    rd->blockRows = 1;
    moduleMeterStart(&rd->meter, label);
    rd->done = 0;
    rd->aborted = 0;
    rd->total = 2L * std::max(0, lastRow - firstRow + 1);
}

PTable *makePTable(RAMImage *image, int bands, const int *bandList)
{
    PTableReader rd;
    startReader(&rd, image, bands, bandList, 0, image->info.rows - 1,
                "ptable");
    return ptableBuild(&rd);
}

/* ---------------------------------------------------------------------
 * The module
 * --------------------------------------------------------------------- */

namespace {

enum { O_IN, O_PT, O_SR, O_ER, O_B };

int usage(const char *command)
{
    stdoutPrintf("Usage: %s -in IN -pt PT -sr SR -er ER -b BANDS\n", command);
    stdoutPrintf("    where\n");
    stdoutPrintf("    IN      the input image file;\n");
    stdoutPrintf("    PT      the output pixel table file;\n");
    stdoutPrintf("    SR      the start row. (def: 1);\n");
    stdoutPrintf("    ER      the end row. (def: the last row);\n");
    stdoutPrintf("    BANDS   the bands b1,b2,... (def: all bands).\n");
    return 2;
}

/* The default table name: the input name with the extension of its last
 * path component (from its first ".") replaced by ".lku". */
std::string defaultTableName(const char *input)
{
    std::string name(input);
    size_t slash = name.rfind('/');
    size_t dot = name.find('.', slash == std::string::npos ? 0 : slash + 1);
    return name.substr(0, dot) + ".lku";
}

/* A file written under a temporary name beside its final one. */
struct TableFile {
    std::string path, temp;
    int fd = -1;
    ~TableFile()
    {
        if (fd >= 0) {
            close(fd);
            unlink(temp.c_str());
        }
    }
};

int gptableRun(const ModuleParam *t, const char *command)
{
    if (!t[O_IN].value) {
        stderrPrintf("Input file missing.\n");
        return 0;
    }
    ModuleImage input;
    RAMImage *in = moduleOpenInput(&input, t[O_IN].value,
                                   "Error in open:%s\n");
    if (!in)
        return 0;
    if (in->info.pixel != PIXEL_BYTE) {
        stderrPrintf("Unsupported pixel type.\n");
        return 0;
    }
    if (in->info.nindices > 0) {
        stderrPrintf("Unsupported index image.\n");
        return 0;
    }
    std::vector<int> bands;
    if (t[O_B].value) {
        std::vector<long> list(MODULE_MAX_BANDS);
        int n = passLongs(t[O_B].value, list.data(), MODULE_MAX_BANDS);
        bool ok = n >= 1 && n <= MODULE_MAX_BANDS;
        for (int i = 0; ok && i < n; i++)
            ok = list[i] >= 1 && list[i] <= in->info.nbands;
        if (!ok) {
            stderrPrintf("Illegal band number.\n");
            return 0;
        }
        for (int i = 0; i < n; i++)
            bands.push_back((int)list[i] - 1);
    } else {
        for (int b = 0; b < in->info.nbands; b++)
            bands.push_back(b);
    }
    long sr = t[O_SR].value ? std::atol(t[O_SR].value) : 1;
    long er = t[O_ER].value ? std::atol(t[O_ER].value) : in->info.rows;
    sr = std::max(sr, 1L);
    er = std::min(er, (long)in->info.rows);

    TableFile file;
    file.path = t[O_PT].value ? t[O_PT].value
                              : defaultTableName(t[O_IN].value);
    file.temp = file.path + ".XXXXXX";
    file.fd = mkstemp(&file.temp[0]);
    if (file.fd < 0) {
        stderrPrintf("Error in open: %s\n", file.path.c_str());
        return 0;
    }
    PTableReader rd;
    startReader(&rd, in, (int)bands.size(), bands.data(), (int)sr - 1,
                (int)er - 1, "ptable");
    PTable *table = ptableBuild(&rd);
    if (!table) {
        if (rd.aborted)
            moduleReportCanceled(command);
        return 0;
    }
    int written = putPTable(file.fd, table);
    destroyPTable(table);
    int closed = close(file.fd);
    file.fd = -1;
    if (!written || closed != 0) {
        stderrPerror(file.path.c_str());
        unlink(file.temp.c_str());
        return 0;
    }
    if (rename(file.temp.c_str(), file.path.c_str()) != 0) {
        stderrPerror(file.path.c_str());
        unlink(file.temp.c_str());
        return 0;
    }
    moduleMeterEnd(&rd.meter);
    return 1;
}

}  // namespace

/*
 * gptableApp --
 *	rimage ptable -in IN ?-pt PT? ?-sr SR? ?-er ER? ?-b BANDS?
 * Results:
 *	2 after the usage, 1 when the table file was written, else 0.
 */
int gptableApp(const char *command, int argc, const char **argv)
{
    ModuleParam table[] = {{"-in", nullptr}, {"-pt", nullptr},
                           {"-sr", nullptr}, {"-er", nullptr},
                           {"-b", nullptr}, {nullptr, nullptr}};
    return moduleEntry(command, argc, argv, table, usage, gptableRun,
                       "Error in malloc.\n");
}
