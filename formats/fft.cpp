/*
 * fft.cpp --
 *
 *	FFT image files, the package's container for complex spectra: a
 *	1024-byte header, then P rows of Q complex values (float32 real, then
 *	imaginary), everything in the host's byte order.  The store opens
 *	them as two-band FLOAT pixel-interleaved rasters and takes their
 *	statistics from the header; the Fourier module writes them block by
 *	block through the direct access routines below, whose write failures
 *	end the process.
 *
 *	Offset Size Type    Field
 *	     0   16 char    "FFT IMAGE FILE", zero-padded
 *	    16   64 char    source image file name, zero-padded
 *	    80    4 int32   source band (1-based)
 *	    84    4 int32   P: transform rows
 *	    88    4 int32   Q: transform columns
 *	    92    4 int32   rows of the source image
 *	    96    4 int32   columns of the source image
 *	   100    4 int32   FFT type
 *	   104    8 double  N: complex values in the statistics
 *	   112    8 double  maximum real part (starts at -DBL_MAX)
 *	   120    8 double  minimum real part (starts at +DBL_MAX)
 *	   128    8 double  maximum imaginary part
 *	   136    8 double  minimum imaginary part
 *	   144    8 double  mean of the real parts
 *	   152    8 double  mean of the imaginary parts
 *	   160    8 double  mean of the squared real parts
 *	   168    8 double  mean of the squared imaginary parts
 *	   176  848 -       zero
 *
 *	Row r starts at 1024 + r * Q * 8.
 */
#include "formats/fft.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <tcl.h>

#include "core/freeDisk.h"
#include "core/hist.h"
#include "core/imgFormat.h"
#include "core/imgtype.h"
#include "core/hostField.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"

static const char fftMagic[] = "FFT IMAGE FILE";

#define FFT_VALUE_BYTES 8   /* one complex value: two float32 */

/* A stored double as single precision, without overflowing: the start
 * values +-DBL_MAX become +-infinity. */
static float singlePrecision(double d)
{
    if (d > FLT_MAX)
        return HUGE_VALF;
    if (d < -FLT_MAX)
        return -HUGE_VALF;
    return (float)d;
}

/* True when the header names a usable transform: P, Q at least 1 and the
 * data size within 64-bit file offsets. */
static bool fftGeometryOk(const unsigned char *h)
{
    int32_t P = hostField<int32_t>(h, FFT_P), Q = hostField<int32_t>(h, FFT_Q);
    return P >= 1 && Q >= 1 && (int64_t)Q * FFT_VALUE_BYTES <= INT_MAX;
}

static bool fftMagicOk(const unsigned char *h)
{
    return std::memcmp(h, fftMagic, sizeof fftMagic) == 0;
}

/*
 * fftInitHead --
 *	Fills header for a new file: text, source name, band, geometry and
 *	type; N and the means 0, the extremes at their start values.
 */
void fftInitHead(unsigned char *header, const char *source, int band, int P,
                 int Q, int rows, int columns, int type)
{
    std::memset(header, 0, FFT_HEADER_SIZE);
    std::memcpy(header, fftMagic, sizeof fftMagic);
    if (source)
        std::strncpy(reinterpret_cast<char *>(header) + FFT_SOURCE, source,
                     64);
    putHostField<int32_t>(header, FFT_BAND, band);
    putHostField<int32_t>(header, FFT_P, P);
    putHostField<int32_t>(header, FFT_Q, Q);
    putHostField<int32_t>(header, FFT_ROWS, rows);
    putHostField<int32_t>(header, FFT_COLUMNS, columns);
    putHostField<int32_t>(header, FFT_TYPE, type);
    putHostField<double>(header, FFT_MAX_RE, -DBL_MAX);
    putHostField<double>(header, FFT_MIN_RE, DBL_MAX);
    putHostField<double>(header, FFT_MAX_IM, -DBL_MAX);
    putHostField<double>(header, FFT_MIN_IM, DBL_MAX);
}

/*
 * imgFFT --
 *	Probe of FFT image files; the file position is kept.
 * Results:
 *	1 with info filled (two FLOAT bands, pixel-interleaved), 0 when the
 *	file is shorter than the header or does not start with the text.
 */
int imgFFT(int fd, ImageInfo *info)
{
    unsigned char h[FFT_HEADER_SIZE];
    if (pread(fd, h, sizeof h, 0) != (ssize_t)sizeof h || !fftMagicOk(h)
            || !fftGeometryOk(h))
        return 0;
    info->imgid = IMG_FFT;
    info->pixel = PIXEL_FLOAT;
    info->bits = 32;
    info->nbands = 2;
    info->rows = hostField<int32_t>(h, FFT_P);
    info->columns = hostField<int32_t>(h, FFT_Q);
    info->offset = FFT_HEADER_SIZE;
    info->block = info->columns * FFT_VALUE_BYTES;
    info->mapid = MAP_GRID;
    info->top = info->left = 0;
    info->x0 = info->y0 = 0.0;
    info->dx = info->dy = 1.0;
    info->msbf = msbFirst();
    info->nindices = 0;
    info->transparent = -1;
    return 1;
}

/*
 * getFFTHist --
 *	Fills the sums and extremes of the two band histograms (real, then
 *	imaginary parts) from the header's statistics; the bins are left.
 *	The sum of squares is the stored mean of squares times N.
 */
void getFFTHist(int fd, Hist *histograms)
{
    unsigned char h[FFT_HEADER_SIZE];
    if (!histograms || pread(fd, h, sizeof h, 0) != (ssize_t)sizeof h)
        return;
    double n = hostField<double>(h, FFT_N);
    for (int b = 0; b < 2; b++) {
        Hist &hist = histograms[b];
        hist.count = n;
        hist.sum = hostField<double>(h, b ? FFT_MEAN_IM : FFT_MEAN_RE) * n;
        hist.sumSquares = hostField<double>(h, b ? FFT_MEAN_IM2 : FFT_MEAN_RE2) * n;
        hist.min = hostField<double>(h, b ? FFT_MIN_IM : FFT_MIN_RE);
        hist.max = hostField<double>(h, b ? FFT_MAX_IM : FFT_MAX_RE);
    }
}

/* What one statFFT call adds: its extremes and its single-precision sums
 * of re, im, re^2 and im^2, each summed in order. */
struct FFTStatPart {
    float maxRe, minRe, maxIm, minIm;
    float sums[4];
};

static void statPart(int count, const float *values, FFTStatPart *part)
{
    float maxRe = -HUGE_VALF, minRe = HUGE_VALF;
    float maxIm = -HUGE_VALF, minIm = HUGE_VALF;
    float sumRe = 0, sumIm = 0, sumRe2 = 0, sumIm2 = 0;
    for (int i = 0; i < count; i++) {
        float re = values[2 * i], im = values[2 * i + 1];
        if (re > maxRe)
            maxRe = re;
        if (re < minRe)
            minRe = re;
        if (im > maxIm)
            maxIm = im;
        if (im < minIm)
            minIm = im;
        sumRe += re;
        sumIm += im;
        sumRe2 += re * re;
        sumIm2 += im * im;
    }
    *part = FFTStatPart{maxRe, minRe, maxIm, minIm,
                        {sumRe, sumIm, sumRe2, sumIm2}};
}

/* Merges one call's part into the header: an extreme replaces the stored
 * one when it passes it in single precision (so the first value sets
 * both), the call's means are weighted into the stored ones by N. */
static void statMerge(unsigned char *header, int count,
                      const FFTStatPart &part)
{
    static const int fields[4] = {FFT_MAX_RE, FFT_MIN_RE, FFT_MAX_IM,
                                  FFT_MIN_IM};
    const float extremes[4] = {part.maxRe, part.minRe, part.maxIm, part.minIm};
    for (int k = 0; k < 4; k++) {
        float stored = singlePrecision(hostField<double>(header, fields[k]));
        if (k % 2 == 0 ? extremes[k] > stored : extremes[k] < stored)
            putHostField<double>(header, fields[k], extremes[k]);
    }
    double n = hostField<double>(header, FFT_N);
    double n2 = n + count;
    static const int means[4] = {FFT_MEAN_RE, FFT_MEAN_IM, FFT_MEAN_RE2,
                                 FFT_MEAN_IM2};
    for (int k = 0; k < 4; k++) {
        float mean = part.sums[k] / count;
        double m = hostField<double>(header, means[k]);
        putHostField<double>(header, means[k], m * n / n2 + mean * count / n2);
    }
    putHostField<double>(header, FFT_N, n2);
}

/*
 * statFFT --
 *	Adds count complex values (re, im pairs) to the header statistics:
 *	extremes compared in single precision, this call's means summed in
 *	single precision and merged into the stored means weighted by N.
 */
void statFFT(unsigned char *header, int count, const float *values)
{
    if (count <= 0)
        return;
    FFTStatPart part;
    statPart(count, values, &part);
    statMerge(header, count, part);
}

/*
 * statFFTRows --
 *	The same as a statFFT call for each of `rows` runs of count values
 *	in turn: the runs' sums are taken on the row threads, then merged in
 *	order, so the header ends as after the calls one by one.
 */
void statFFTRows(unsigned char *header, int rows, int count,
                 const float *values)
{
    if (count <= 0 || rows <= 0)
        return;
    std::vector<FFTStatPart> parts(rows);
    rowThreadsRun(rows, std::max(1, 16384 / count), [&](int begin, int end) {
        for (int i = begin; i < end; i++)
            statPart(count, values + 2 * (size_t)i * count, &parts[i]);
    });
    for (const FFTStatPart &part : parts)
        statMerge(header, count, part);
}

/* ---------------------------------------------------------------------
 * Direct access
 * --------------------------------------------------------------------- */

/* Reports a failed system call of `what` as perror does; a short transfer
 * without an error is reported as the end of the file. */
static void fftReport(const char *what, ssize_t got)
{
    if (got >= 0)
        stderrPrintf("%s: unexpected end of file\n", what);
    else
        stderrPerror(what);
}

/* Ends the process after a failed write, as the writers promise. */
[[noreturn]] static void fftFatal(void)
{
    Tcl_Exit(1);
    std::exit(1);   /* not reached: Tcl_Exit does not return */
}

static ssize_t readFull(int fd, void *buf, size_t n)
{
    size_t done = 0;
    while (done < n) {
        ssize_t got = read(fd, static_cast<char *>(buf) + done, n - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += (size_t)got;
    }
    return (ssize_t)done;
}

static ssize_t writeFull(int fd, const void *buf, size_t n)
{
    size_t done = 0;
    while (done < n) {
        ssize_t put = write(fd, static_cast<const char *>(buf) + done,
                            n - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return put < 0 ? -1 : (ssize_t)done;
        done += (size_t)put;
    }
    return (ssize_t)done;
}

/* A rectangle of the data: rows row0.. row0+rows-1, columns col0..
 * col0+cols-1.  A block is whole rows, a strip a run of columns of every
 * row. */
struct FFTRect {
    int row0, rows, col0, cols;
};

static FFTRect fftBlock(const unsigned char *h, int firstRow, int count)
{
    return FFTRect{firstRow, count, 0, hostField<int32_t>(h, FFT_Q)};
}

static FFTRect fftStrip(const unsigned char *h, int firstColumn, int count)
{
    return FFTRect{0, hostField<int32_t>(h, FFT_P), firstColumn, count};
}

/* True when the rectangle lies inside the data; errno EINVAL when not. */
static bool fftRectOk(const unsigned char *h, const FFTRect &r)
{
    if (!fftGeometryOk(h) || r.row0 < 0 || r.rows < 0 || r.col0 < 0
            || r.cols < 0 || (int64_t)r.row0 + r.rows > hostField<int32_t>(h, FFT_P)
            || (int64_t)r.col0 + r.cols > hostField<int32_t>(h, FFT_Q)) {
        errno = EINVAL;
        return false;
    }
    return true;
}

/* Positions fd at the rectangle's first value in row `row`. */
static bool fftSeekRow(const unsigned char *h, int fd, const FFTRect &r,
                       int row)
{
    int64_t pos = FFT_HEADER_SIZE
                  + ((int64_t)row * hostField<int32_t>(h, FFT_Q) + r.col0)
                    * FFT_VALUE_BYTES;
    return lseek(fd, (off_t)pos, SEEK_SET) >= 0;
}

/* The contiguous runs of a rectangle in the file: one when it spans whole
 * rows, else one per row. */
static void fftRuns(const unsigned char *h, const FFTRect &r, int *runs,
                    int *runRows)
{
    bool whole = r.cols == hostField<int32_t>(h, FFT_Q);
    *runs = whole ? std::min(r.rows, 1) : r.rows;
    *runRows = whole ? r.rows : 1;
}

/* Reads a rectangle into buffer (a new one when null), row after row.
 * Returns the buffer, or null after the messages of `who`. */
static float *fftReadRect(const unsigned char *h, int fd, float *buffer,
                          const FFTRect &r, const char *who)
{
    std::string what = std::string(" error in ") + who;
    if (!fftRectOk(h, r)) {
        stderrPerror(("lseek" + what).c_str());
        return nullptr;
    }
    size_t rowBytes = (size_t)r.cols * FFT_VALUE_BYTES;
    std::unique_ptr<float, void (*)(void *)> owned(nullptr, std::free);
    if (!buffer) {
        owned.reset(static_cast<float *>(
            std::malloc(std::max<size_t>(rowBytes * (size_t)r.rows, 1))));
        buffer = owned.get();
        if (!buffer) {
            stderrPrintf("malloc%s.\n", what.c_str());
            return nullptr;
        }
    }
    int runs, runRows;
    fftRuns(h, r, &runs, &runRows);
    size_t runBytes = rowBytes * runRows;
    for (int i = 0; i < runs; i++) {
        if (!fftSeekRow(h, fd, r, r.row0 + i * runRows)) {
            stderrPerror(("lseek" + what).c_str());
            return nullptr;
        }
        ssize_t got = readFull(fd, buffer + (size_t)i * runRows * r.cols * 2,
                               runBytes);
        if (got != (ssize_t)runBytes) {
            fftReport(("read" + what).c_str(), got);
            return nullptr;
        }
    }
    owned.release();
    return buffer;
}

/* Writes a rectangle from buffer, row after row; with statistics every
 * row segment is added to the header statistics before anything is
 * written.  Ends the process after the messages of `who` on failure. */
static void fftWriteRect(unsigned char *h, int fd, const float *buffer,
                         const FFTRect &r, int statistics, const char *who)
{
    std::string what = std::string(" error in ") + who;
    if (!fftRectOk(h, r)) {
        stderrPerror(("lseek" + what).c_str());
        fftFatal();
    }
    if (statistics)
        statFFTRows(h, r.rows, r.cols, buffer);
    size_t rowBytes = (size_t)r.cols * FFT_VALUE_BYTES;
    int runs, runRows;
    fftRuns(h, r, &runs, &runRows);
    size_t runBytes = rowBytes * runRows;
    for (int i = 0; i < runs; i++) {
        if (!fftSeekRow(h, fd, r, r.row0 + i * runRows)) {
            stderrPerror(("lseek" + what).c_str());
            fftFatal();
        }
        ssize_t put = writeFull(fd, buffer + (size_t)i * runRows * r.cols * 2,
                                runBytes);
        if (put != (ssize_t)runBytes) {
            fftReport(("write" + what).c_str(), put);
            fftFatal();
        }
    }
}

/*
 * OpenOLDFFTFile --
 *	Opens an FFT file for reading and writing and reads its header into
 *	header.
 * Results:
 *	The descriptor, or -1 after reporting the system error for the path
 *	or printing "Not an FFT image file!".
 */
int OpenOLDFFTFile(const char *path, unsigned char *header)
{
    int fd = open(path, O_RDWR);
    if (fd < 0) {
        stderrPerror(path);
        return -1;
    }
    ssize_t got = readFull(fd, header, FFT_HEADER_SIZE);
    if (got < 0) {
        stderrPerror(path);
        close(fd);
        return -1;
    }
    if (got != FFT_HEADER_SIZE || !fftMagicOk(header)) {
        stderrPrintf("Not an FFT image file!\n");
        close(fd);
        return -1;
    }
    return fd;
}

/*
 * OpenNEWFFTFile --
 *	Creates (or truncates) path with mode 0600 and writes header.
 * Results:
 *	The descriptor of the file reopened with OpenOLDFFTFile, or -1 when
 *	it cannot be created (the system error is reported).
 * Side effects:
 *	Ends the process with status 1 when the file system has less free
 *	space than the file needs, or when the header cannot be written.
 */
int OpenNEWFFTFile(const char *path, unsigned char *header)
{
    int fd = open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        stderrPerror(path);
        return -1;
    }
    /* In double: P x Q x 8 may pass 2^63. */
    double need = (double)hostField<int32_t>(header, FFT_P) * hostField<int32_t>(header, FFT_Q)
                  * FFT_VALUE_BYTES + FFT_HEADER_SIZE;
    double space = freeDiskSpace(path);
    if (space >= 0 && need > space) {
        close(fd);
        stderrPrintf("Insufficient disk space.\n");
        stderrPrintf("Rquest: %ld  Available: %ld\n",
                     need < (double)LONG_MAX ? (long)need : LONG_MAX,
                     (long)space);
        fftFatal();
    }
    PutFFTHead(header, fd);
    close(fd);
    return OpenOLDFFTFile(path, header);
}

/*
 * PutFFTHead --
 *	Writes the 1024-byte header at offset 0.
 * Side effects:
 *	Ends the process with status 1 when the seek or the write fails.
 */
void PutFFTHead(unsigned char *header, int fd)
{
    if (lseek(fd, 0, SEEK_SET) < 0) {
        stderrPerror("PutFFTHead");
        fftFatal();
    }
    ssize_t put = writeFull(fd, header, FFT_HEADER_SIZE);
    if (put != FFT_HEADER_SIZE) {
        fftReport("PutFFTHead", put);
        fftFatal();
    }
}

/*
 * GetFFTFileBlock --
 *	Reads count whole rows from firstRow into buffer (a new buffer, to be
 *	freed with free(), when buffer is null).
 * Results:
 *	The buffer, or null after printing "malloc error in GetFFTFileBlock."
 *	or reporting "lseek error in GetFFTFileBlock" or "read error in
 *	GetFFTFileBlock" on standard error.
 */
float *GetFFTFileBlock(const unsigned char *header, int fd, float *buffer,
                       int firstRow, int count)
{
    return fftReadRect(header, fd, buffer, fftBlock(header, firstRow, count),
                       "GetFFTFileBlock");
}

/*
 * GetFFTFileSeg --
 *	Reads the strip of count values from firstColumn of each of the P
 *	rows into buffer (P * count values, row after row; a new buffer when
 *	buffer is null).
 * Results:
 *	The buffer, or null after "malloc error in GetFFTFileSeg.", "lseek
 *	error in GetFFTFileSeg" or "read error in GetFFTFileSeg".
 */
float *GetFFTFileSeg(const unsigned char *header, int fd, float *buffer,
                     int firstColumn, int count)
{
    return fftReadRect(header, fd, buffer,
                       fftStrip(header, firstColumn, count), "GetFFTFileSeg");
}

/*
 * PutFFTFileBlock --
 *	Writes count whole rows at firstRow; with statistics the rows are
 *	added to the header statistics, one statFFT call per row.
 * Side effects:
 *	Ends the process with status 1 after "lseek error in PutFFTFileBlock"
 *	or "write error in PutFFTFileBlock" (with the system error).
 */
void PutFFTFileBlock(unsigned char *header, int fd, const float *buffer,
                     int firstRow, int count, int statistics)
{
    fftWriteRect(header, fd, buffer, fftBlock(header, firstRow, count),
                 statistics, "PutFFTFileBlock");
}

/*
 * PutFFTFileSeg --
 *	Writes the strip of count values at firstColumn into each of the P
 *	rows (buffer: P * count values, row after row); with statistics the
 *	whole strip is added to the header statistics, row segment by row
 *	segment, before anything is written.
 * Side effects:
 *	Ends the process with status 1 after "lseek error in PutFFTFileSeg" or
 *	"write error in PutFFTFileSeg" (with the system error).
 */
void PutFFTFileSeg(unsigned char *header, int fd, const float *buffer,
                   int firstColumn, int count, int statistics)
{
    fftWriteRect(header, fd, buffer, fftStrip(header, firstColumn, count),
                 statistics, "PutFFTFileSeg");
}

/* ---------------------------------------------------------------------
 * The format's record
 * --------------------------------------------------------------------- */

static int histFFT(int fd, const ImageInfo *, Hist *histograms)
{
    getFFTHist(fd, histograms);
    return 1;
}

static const ImgFormatType fftTypes[] = {{IMG_FFT, LAYOUT_BIP}, {0, 0}};

extern const ImgFormat fftFormat = {
    .name = "FFT",
    .types = fftTypes,
    .probe = imgFFT,
    .hist = histFFT,
};
