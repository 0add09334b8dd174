/*
 * feature.cpp --
 *
 *	Feature records and files (layout in feature.h), the statistics and
 *	eigen-vector items kept in them, and their printers.  Files are read
 *	and written whole; a record read from a file is checked for a
 *	consistent head and, for the kinds known here, for the item size of
 *	its band count, so item accessors never reach past the block.
 *	Relies on the matrix inversion (matInvert.h) and the package's
 *	standard streams.
 */
#include "modules/feature.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/stdstream.h"
#include "modules/matInvert.h"

static int32_t *bandList(Feature *f)
{
    return reinterpret_cast<int32_t *>(f + 1);
}

static const int32_t *bandList(const Feature *f)
{
    return reinterpret_cast<const int32_t *>(f + 1);
}

static unsigned char *bytes(Feature *f)
{
    return reinterpret_cast<unsigned char *>(f);
}

int getFeaturePrivateSize(const Feature *f)
{
    int size = f->offset - FEATURE_HEAD_SIZE - 4 * f->nbands;
    return size > 0 ? size : 0;
}

/* The 8 magic bytes of a kind's name, zero-padded ("EIGENID" + 0). */
static void magicBytes(char out[8], const char *magic)
{
    std::memset(out, 0, 8);
    std::memcpy(out, magic, strnlen(magic, 8));
}

static int featureKind(const char *magic)
{
    if (std::memcmp(magic, STAT_MAGIC, 8) == 0)
        return FEATURE_STAT;
    if (std::memcmp(magic, EIGEN_MAGIC, 8) == 0)
        return FEATURE_EIGEN;
    if (std::memcmp(magic, ISO_MAGIC, 8) == 0)
        return FEATURE_ISO;
    return FEATURE_UNKNOWN;
}

/*
 * newFeature --
 *	Allocates a zero-filled record with its head, band list and, when
 *	given, private data.
 * Results:
 *	The record, or null after a message.
 */
Feature *newFeature(const char *magic, const int *bands, int nb,
                    int itemSize, int count, const void *privateData,
                    int privateSize)
{
    if (privateSize < 0)
        privateSize = 0;
    int64_t offset = FEATURE_HEAD_SIZE + 4 * (int64_t)nb + privateSize;
    int64_t size = offset + (int64_t)count * itemSize;
    Feature *f = nullptr;
    if (nb >= 0 && itemSize >= 0 && count >= 0 && size <= INT32_MAX)
        f = static_cast<Feature *>(std::calloc(1, (size_t)size));
    if (!f) {
        stderrPrintf("Error in malloc of newFeature.");
        return nullptr;
    }
    magicBytes(f->magic, magic);
    f->size = (int32_t)size;
    f->offset = (int32_t)offset;
    f->itemSize = itemSize;
    f->count = count;
    f->nbands = nb;
    for (int i = 0; i < nb; i++)
        bandList(f)[i] = bands ? bands[i] : i;
    if (privateData && privateSize > 0)
        std::memcpy(bytes(f) + FEATURE_HEAD_SIZE + 4 * nb, privateData,
                    (size_t)privateSize);
    return f;
}

void freeFeature(Feature *record)
{
    std::free(record);
}

/* True when a head read from a file describes a block the accessors can
 * use: consistent sizes, and the item size of the kind's band count. */
static bool featureHeadValid(const Feature *h)
{
    if (h->nbands < 0 || h->nbands > (INT32_MAX - FEATURE_HEAD_SIZE) / 4
            || h->itemSize < 0 || h->count < 0
            || h->offset < FEATURE_HEAD_SIZE + 4 * h->nbands
            || (int64_t)h->offset + (int64_t)h->count * h->itemSize
                   != (int64_t)h->size)
        return false;
    switch (featureKind(h->magic)) {
    case FEATURE_STAT:
        return h->nbands < 4096 && h->itemSize == statSize(h->nbands);
    case FEATURE_EIGEN:
        return h->nbands < 4096 && h->itemSize == evSize(h->nbands);
    default:
        return true;
    }
}

/*
 * getFeatures --
 *	Reads a whole feature file of the kind `magic` (any known kind when
 *	null).  The file is opened for reading and writing.
 * Results:
 *	The record, or null: a file of another kind without a message, a
 *	short or inconsistent one after a message.
 */
Feature *getFeatures(const char *path, const char *magic)
{
    int fd = open(path, O_RDWR);
    if (fd < 0)
        return nullptr;
    struct FdCloser {
        int fd;
        ~FdCloser() { close(fd); }
    } closer{fd};
    Feature head;
    ssize_t got = pread(fd, &head, sizeof head, 0);
    if (got != (ssize_t)sizeof head)
        return nullptr;
    if (magic) {
        char want[8];
        magicBytes(want, magic);
        if (std::memcmp(head.magic, want, 8) != 0)
            return nullptr;
    } else if (getFeatureInfo(&head, 5) == FEATURE_UNKNOWN) {
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        return nullptr;
    if (!featureHeadValid(&head)) {
        stderrPrintf("Error in reading features. count %ld size %ld\n",
                     (long)st.st_size, (long)head.size);
        return nullptr;
    }
    if (st.st_size < head.size) {
        stderrPrintf("Error in reading features. count %ld size %ld\n",
                     (long)st.st_size, (long)head.size);
        return nullptr;
    }
    Feature *f = static_cast<Feature *>(std::malloc((size_t)head.size));
    if (!f) {
        stderrPrintf("Error of malloc in getFeature");
        return nullptr;
    }
    size_t done = 0;
    while (done < (size_t)head.size) {
        ssize_t n = pread(fd, bytes(f) + done, (size_t)head.size - done,
                          (off_t)done);
        if (n <= 0)
            break;
        done += (size_t)n;
    }
    if (done != (size_t)head.size
            || std::memcmp(f, &head, sizeof head) != 0) {
        stderrPrintf("Error in reading features. count %ld size %ld\n",
                     (long)done, (long)head.size);
        std::free(f);
        return nullptr;
    }
    return f;
}

/*
 * putFeatures --
 *	Writes the record to path (created with mode 0600 or truncated).
 * Results:
 *	1, or 0 after the system's message.
 */
int putFeatures(const char *path, const Feature *record)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        stderrPerror(path);
        return 0;
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(record);
    size_t left = (size_t)record->size;
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            stderrPerror(path);
            close(fd);
            return 0;
        }
        p += n;
        left -= (size_t)n;
    }
    if (close(fd) != 0) {
        stderrPerror(path);
        return 0;
    }
    return 1;
}

/* Resizes the record to hold n items; new items are zero-filled.  On
 * failure the record is freed and null returned after `message`. */
static Feature *resizeFeature(Feature *f, int n, const char *message)
{
    int64_t size = (int64_t)f->offset + (int64_t)n * f->itemSize;
    Feature *g = nullptr;
    if (size <= INT32_MAX)
        g = static_cast<Feature *>(std::realloc(f, (size_t)size));
    if (!g) {
        stderrPrintf("%s", message);
        std::free(f);
        return nullptr;
    }
    if ((int64_t)g->size < size)
        std::memset(bytes(g) + g->size, 0, (size_t)(size - g->size));
    g->size = (int32_t)size;
    g->count = n;
    return g;
}

Feature *addFeature(Feature *record, const void *item)
{
    int i = record->count;
    Feature *f = resizeFeature(record, i + 1,
                               "Error of realloc in addFeature.");
    if (f && item)
        std::memcpy(getFeatureItem(f, i), item, (size_t)f->itemSize);
    return f;
}

Feature *cutFeature(Feature *record, int n)
{
    if (n < 0)
        n = 0;
    if (n == record->count)
        return record;
    return resizeFeature(record, n, "Error of realloc in cutFeature.");
}

Feature *delFeatureItem(Feature *record, int i)
{
    if (i < 0 || i >= record->count)
        return record;
    unsigned char *item = getFeatureItem(record, i);
    size_t after = (size_t)(record->count - i - 1) * record->itemSize;
    std::memmove(item, item + record->itemSize, after);
    return resizeFeature(record, record->count - 1,
                         "Error of realloc in delFeatureItem.");
}

unsigned char *getFeatureItem(Feature *record, int i)
{
    if (i < 0 || i >= record->count)
        return nullptr;
    return bytes(record) + record->offset + (size_t)i * record->itemSize;
}

/*
 * getFeatureInfo --
 *	0 total size, 1 item count, 2 item size, 3 item offset, 4 band
 *	count, 5 kind (FEATURE_STAT, FEATURE_EIGEN, FEATURE_ISO, else 0 after
 *	a message).
 */
long getFeatureInfo(const Feature *record, int selector)
{
    switch (selector) {
    case 0: return record->size;
    case 1: return record->count;
    case 2: return record->itemSize;
    case 3: return record->offset;
    case 4: return record->nbands;
    case 5: {
        int kind = featureKind(record->magic);
        if (kind == FEATURE_UNKNOWN)
            stderrPrintf("Unknown feature ID.\n");
        return kind;
    }
    default:
        stderrPrintf("Undefine feature info.\n");
        return 0;
    }
}

int getFeatureBand(const Feature *record, int i)
{
    if (i < 0 || i >= record->nbands)
        return -1;
    return bandList(record)[i];
}

unsigned char *getFeaturePrivate(Feature *record)
{
    if (getFeaturePrivateSize(record) == 0)
        return nullptr;
    return bytes(record) + FEATURE_HEAD_SIZE + 4 * record->nbands;
}

void setFeaturePrivate(Feature *record, const void *data, int length)
{
    int room = getFeaturePrivateSize(record);
    if (length > room)
        length = room;
    if (length > 0)
        std::memcpy(getFeaturePrivate(record), data, (size_t)length);
}

/* Prints values with format, a newline after every perLine of them and,
 * when `always` is set or the last line is open, a final newline. */
static void printRows(const float *values, int n, int stride,
                      const char *format, int perLine, bool always)
{
    for (int i = 0; i < n; i++) {
        stdoutPrintf(format, (double)values[(size_t)i * stride]);
        if ((i + 1) % perLine == 0)
            stdoutPrintf("\n");
    }
    if (always || n % perLine != 0)
        stdoutPrintf("\n");
}

void printFeatureBands(const Feature *record)
{
    stdoutPrintf("Bands: %ld\n", (long)record->nbands);
    for (int i = 0; i < record->nbands; i++) {
        stdoutPrintf("%10ld", (long)bandList(record)[i] + 1);
        if ((i + 1) % 8 == 0)
            stdoutPrintf("\n");
    }
    stdoutPrintf("\n");
}

/* A text field of fixed size, up to its first zero byte. */
static std::string fieldText(const char *field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

/* ---------------------------------------------------------------------
 * Statistics items
 * --------------------------------------------------------------------- */

int statSize(int nb)
{
    return 72 + 4 * nb + 2 * nb * (nb + 1);
}

int covIndex(int i, int j)
{
    int m = i > j ? i : j, k = i > j ? j : i;
    return m * (m + 1) / 2 + k;
}

StatItem *getStat(Feature *record, int i)
{
    return reinterpret_cast<StatItem *>(getFeatureItem(record, i));
}

int getStatID(Feature *record, const char *name)
{
    for (int i = 0; i < record->count; i++) {
        std::string itemName = fieldText(getStat(record, i)->name, 32);
        if (strcasecmp(itemName.c_str(), name) == 0)
            return i;
    }
    return -1;
}

float *getStatMean(Feature *record, int i)
{
    StatItem *s = getStat(record, i);
    return s ? reinterpret_cast<float *>(s + 1) : nullptr;
}

float *getStatCov(Feature *record, int i)
{
    float *mean = getStatMean(record, i);
    return mean ? mean + record->nbands : nullptr;
}

/*
 * normStat --
 *	Turns the covariance of item i into correlations and its means into
 *	ones.  A band without variance correlates 0 with every other.
 */
void normStat(Feature *record, int i)
{
    float *mean = getStatMean(record, i), *cov = getStatCov(record, i);
    if (!mean)
        return;
    int nb = record->nbands;
    for (int r = 0; r < nb; r++)
        for (int c = 0; c < r; c++) {
            double d = std::sqrt((double)cov[covIndex(r, r)])
                       * std::sqrt((double)cov[covIndex(c, c)]);
            cov[covIndex(r, c)] = d > 0 ? (float)(cov[covIndex(r, c)] / d)
                                        : 0.0f;
        }
    for (int r = 0; r < nb; r++) {
        cov[covIndex(r, r)] = 1.0f;
        mean[r] = 1.0f;
    }
}

/*
 * invertStatItem --
 *	Replaces the covariance of item i by its inverse when the
 *	determinant (stored in *determinant) is positive.
 * Results:
 *	1 when inverted, else 0.
 */
int invertStatItem(Feature *record, int i, double *determinant)
{
    StatItem *s = getStat(record, i);
    int nb = record->nbands;
    if (!s || s->nPixels < nb) {
        stderrPrintf("Not enough samples.\n");
        return 0;
    }
    float *cov = getStatCov(record, i);
    int n = nb * (nb + 1) / 2;
    std::vector<double> packed(cov, cov + n);
    double det = dgt(packed.data(), nb);
    if (determinant)
        *determinant = det;
    if (!(det > 0.0))
        return 0;
    for (int k = 0; k < n; k++)
        cov[k] = (float)packed[k];
    return 1;
}

void printMean(const float *means, int nb)
{
    stdoutPrintf("Mean values:\n");
    printRows(means, nb, 1, "%15.6e", 5, true);
}

void printStd(const float *cov, int nb)
{
    stdoutPrintf("Std values:\n");
    std::vector<float> diagonal((size_t)nb);
    for (int i = 0; i < nb; i++)
        diagonal[i] = cov[covIndex(i, i)];
    printRows(diagonal.data(), nb, 1, "%15.6e", 5, true);
}

void printCov(const float *cov, int nb, int correlation)
{
    stdoutPrintf(correlation ? "Correlation values:\n"
                             : "Covariance values:\n");
    for (int first = 0; first < nb; first += 5) {
        int last = first + 5 < nb ? first + 5 : nb;
        for (int r = 0; r < nb; r++) {
            for (int c = first; c < last; c++) {
                double v = cov[covIndex(r, c)];
                if (correlation)
                    v /= std::sqrt((double)cov[covIndex(r, r)])
                         * std::sqrt((double)cov[covIndex(c, c)]);
                stdoutPrintf("%15.6e", v);
            }
            stdoutPrintf("\n");
        }
        stdoutPrintf("\n");
    }
}

void printStatItem(Feature *record, int i, int flags)
{
    StatItem *s = getStat(record, i);
    if (!s)
        return;
    int nb = record->nbands;
    stdoutPrintf("Stat Info Sequence # %d\n", i);
    stdoutPrintf("ID     : %ld\n", (long)s->id);
    stdoutPrintf("name   : %s\n", fieldText(s->name, 32).c_str());
    stdoutPrintf("note   : %s\n", fieldText(s->note, 32).c_str());
    stdoutPrintf("nPixels: %ld\n", (long)s->nPixels);
    if (flags & 1)
        printMean(getStatMean(record, i), nb);
    if (flags & 2)
        printStd(getStatCov(record, i), nb);
    if (flags & 4)
        printCov(getStatCov(record, i), nb, 0);
    if (flags & 8)
        printCov(getStatCov(record, i), nb, 1);
}

void printStatPrivate(Feature *record)
{
    const char *p = reinterpret_cast<const char *>(getFeaturePrivate(record));
    if (!p || getFeaturePrivateSize(record) < STAT_PRIVATE_SIZE) {
        stdoutPrintf("No private info.\n");
        return;
    }
    stdoutPrintf("Stat Source: %s\n",
                 fieldText(p, STAT_SOURCE_SIZE).c_str());
    stdoutPrintf("Stat Note  : %s\n",
                 fieldText(p + STAT_SOURCE_SIZE,
                           STAT_PRIVATE_SIZE - STAT_SOURCE_SIZE).c_str());
}

void printStatBands(const Feature *record)
{
    printFeatureBands(record);
}

/* ---------------------------------------------------------------------
 * Eigen-vector items
 * --------------------------------------------------------------------- */

int evSize(int nb)
{
    return 12 + 4 * nb;
}

int evPSize(int nb)
{
    return 516 + 8 * nb;
}

EVItem *getEV(Feature *record, int i)
{
    return reinterpret_cast<EVItem *>(getFeatureItem(record, i));
}

float *getEVVector(EVItem *item)
{
    return reinterpret_cast<float *>(item + 1);
}

void printEV(Feature *record, int i)
{
    EVItem *e = getEV(record, i);
    if (!e)
        return;
    stdoutPrintf("\nEVID: %ld  Value: %15.6e  Percent: %8.3f\n",
                 (long)e->id + 1, (double)e->value, (double)e->percent);
    printRows(getEVVector(e), record->nbands, 1, "%15.6e", 5, false);
}

/*
 * printEVInfo --
 *	The eigen-vector table in groups of five items, with the vectors
 *	when `vectors` is set.
 */
void printEVInfo(Feature *record, int vectors)
{
    stdoutPrintf("\n\nEigen Vector Information\n");
    double cumulative = 0.0;
    for (int first = 0; first < record->count; first += 5) {
        int last = first + 5 < record->count ? first + 5 : record->count;
        stdoutPrintf("ID    :");
        for (int i = first; i < last; i++)
            stdoutPrintf("%7d      ", i + 1);
        stdoutPrintf("\nValue :");
        for (int i = first; i < last; i++)
            stdoutPrintf("%13.6e", (double)getEV(record, i)->value);
        stdoutPrintf("\nPct   :");
        for (int i = first; i < last; i++)
            stdoutPrintf("%13.6f", (double)getEV(record, i)->percent);
        stdoutPrintf("\nAPct  :");
        for (int i = first; i < last; i++) {
            cumulative += getEV(record, i)->percent;
            stdoutPrintf("%13.6f", cumulative);
        }
        stdoutPrintf("\n");
        if (!vectors)
            continue;
        stdoutPrintf("Vector:\n");
        for (int b = 0; b < record->nbands; b++) {
            stdoutPrintf("ch%4d:", getFeatureBand(record, b) + 1);
            for (int i = first; i < last; i++)
                stdoutPrintf("%13.7f",
                             (double)getEVVector(getEV(record, i))[b]);
            stdoutPrintf("\n");
        }
    }
    stdoutPrintf("\n");
}

void printEVPrivate(Feature *record)
{
    const unsigned char *p = getFeaturePrivate(record);
    int nb = record->nbands;
    if (!p || getFeaturePrivateSize(record) < evPSize(nb)) {
        stdoutPrintf("No Private EVINFO.\n");
        return;
    }
    int32_t normalised;
    std::memcpy(&normalised, p + 512, 4);
    const float *pairs = reinterpret_cast<const float *>(p + 516);
    stdoutPrintf("EVINFO Source  : %s\n",
                 fieldText(reinterpret_cast<const char *>(p), 512).c_str());
    stdoutPrintf(normalised ? "EVINFO Note    : Normalized\n"
                            : "EVINFO Note    : Non Normalized\n");
    stdoutPrintf("EVINFO SQSTD   :\n");
    printRows(pairs, nb, 2, "%15.6e", 5, false);
    stdoutPrintf("EVINFO MEAN    :\n");
    printRows(pairs + 1, nb, 2, "%15.6e", 5, false);
}

void printEVBands(const Feature *record)
{
    printFeatureBands(record);
}
