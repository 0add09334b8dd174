/*
 * rotate.cpp --
 *
 *	The rotation module behind `rimage rotate`.  Quarter turns read the
 *	input in column segments (all rows and bands of a band of columns,
 *	sized to a 4 MiB buffer, so images larger than memory can be turned)
 *	and write each column as an output row; flips go row by row.  Pixels
 *	of at most 8 bits move as bytes; wider ones as their stored values
 *	when the output has the same pixel type (exact for every type),
 *	otherwise as single-precision reals converted to the output's type.
 *	Relies on the module frame for options and outputs.
 */
#include "modules/rotate.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "core/hist.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "modules/moduleFrame.h"

namespace {

enum { O_DIR, O_IN, O_OUT };

const char *const directionWords[] = {"LEFT", "RIGHT", "XFLIP", "YFLIP",
                                      "XYFLIP"};

int usage(const char *command)
{
    stdoutPrintf("Usage: %s -in IN -out OUT -dir DIR\n", command);
    stdoutPrintf("    where\n"
                 "    IN      the input image ID;\n"
                 "    OUT     the output image ID;\n"
                 "    DIR     the direction of rotation:\n"
                 "            LEFT:    rotation left;\n"
                 "            RIGHT:   rotation right;\n"
                 "            XFLIP:   x flipping;\n"
                 "            YFLIP:   y flipping;\n"
                 "            XYFLIP:  x and y flipping.\n");
    return 2;
}

/* How pixel values move between the images. */
enum { MOVE_BYTES, MOVE_STORED, MOVE_FLOATS };

struct Transfer {
    RAMImage *in, *out;
    int mode;       /* MOVE_BYTES ... */
    int size;       /* bytes of one moved value */
};

Transfer transferOf(RAMImage *in, RAMImage *out)
{
    Transfer t = {in, out, MOVE_FLOATS, 4};
    if (in->info.bits <= 8) {
        t.mode = MOVE_BYTES;
        t.size = 1;
    } else if (in->info.pixel == out->info.pixel
               && in->lineBytes == (int64_t)in->info.columns
                                   * (in->info.bits / 8)) {
        t.mode = MOVE_STORED;
        t.size = in->info.bits / 8;
    }
    return t;
}

/* Reads `count` values of input line y, band b, from column `first`. */
void readValues(const Transfer &t, int y, int b, int first, int count,
                unsigned char *dst)
{
    switch (t.mode) {
    case MOVE_BYTES:
        getByteBILData(t.in, y, first, count, b, dst);
        break;
    case MOVE_FLOATS:
        getFloatBILData(t.in, y, first, count, b,
                        reinterpret_cast<float *>(dst));
        break;
    default: {
        const unsigned char *line = t.in->getLine(t.in, y, b, 1);
        std::memcpy(dst, line + (size_t)first * t.size,
                    (size_t)count * t.size);
    }
    }
}

/* Writes `count` values to output line y, band b, from column 0. */
void writeValues(const Transfer &t, int y, int b, int count,
                 const unsigned char *src)
{
    switch (t.mode) {
    case MOVE_BYTES:
        putByteBILData(t.out, y, 0, count, b, src);
        break;
    case MOVE_FLOATS:
        putFloatBILData(t.out, y, 0, count, b,
                        reinterpret_cast<const float *>(src));
        break;
    default: {
        unsigned char *line = t.out->getLine(
            t.out, y, b, count == t.out->info.columns ? 0 : 1);
        std::memcpy(line, src, (size_t)count * t.size);
        updateRAMImageLine(t.out, y, 0, count, b);
    }
    }
}

/* A quarter turn.  Results: 1, or 0 when aborted. */
int rotateQuarter(const Transfer &t, int right, int rows, int columns,
                  int bands, unsigned char *segment, int width,
                  const char *command)
{
    std::vector<unsigned char> line((size_t)rows * t.size);
    int outRows = t.out->info.rows;
    int segments = (columns + width - 1) / width;
    stdoutPrintf(right ? "Rotating image in right direction...\n"
                       : "Rotating image in left direction...\n");
    ModuleMeter meter;
    moduleMeterStart(&meter, "rotate");
    long done = 0;
    for (int k = 0; k < segments; k++) {
        int start = (right ? k : segments - 1 - k) * width;
        int w = std::min(width, columns - start);
        for (int r = 0; r < rows; r++)
            for (int b = 0; b < bands; b++)
                readValues(t, r, b, start, w,
                           segment + ((size_t)r * bands + b) * w * t.size);
        for (int j = 0; j < w; j++) {
            int column = right ? j : w - 1 - j;
            int y = right ? start + column : outRows - (start + column) - 1;
            for (int b = 0; b < bands; b++) {
                rotateGatherColumn(segment, t.size, rows, bands, w, column,
                                   b, right, line.data());
                writeValues(t, y, b, rows, line.data());
            }
        }
        done += w;
        stdoutPrintf("StartColumns: %ld Total columns: %ld\n", (long)start,
                     done);
        stdoutPrintf("%3ld percent done\n", done * 100 / columns);
        if (!moduleMeterRow(&meter, done, columns)) {
            moduleReportCanceled(command);
            return 0;
        }
    }
    moduleMeterEnd(&meter);
    return 1;
}

/* A flip, row by row.  Results: 1, or 0 when aborted. */
int rotateFlip(const Transfer &t, int direction, int rows, int columns,
               int bands, const char *command)
{
    std::vector<unsigned char> line((size_t)columns * t.size);
    bool reverseRows = direction != ROTATE_XFLIP;
    bool reverseColumns = direction != ROTATE_YFLIP;
    ModuleMeter meter;
    moduleMeterStart(&meter, "rotate");
    for (int y = 0; y < rows; y++) {
        int from = reverseRows ? rows - 1 - y : y;
        for (int b = 0; b < bands; b++) {
            readValues(t, from, b, 0, columns, line.data());
            if (reverseColumns)
                rotateReverse(line.data(), t.size, columns);
            writeValues(t, y, b, columns, line.data());
        }
        if (!moduleMeterRow(&meter, y + 1, rows)) {
            moduleReportCanceled(command);
            return 0;
        }
    }
    moduleMeterEnd(&meter);
    return 1;
}

int gRotateRun(const ModuleParam *t, const char *command)
{
    int direction = -1;
    const char *word = t[O_DIR].value ? t[O_DIR].value : "LEFT";
    for (int i = 0; i < 5; i++)
        if (std::strcmp(word, directionWords[i]) == 0)
            direction = i;
    if (direction < 0) {
        stderrPrintf("Unknown rotate direction.\n");
        return 0;
    }
    if (!t[O_IN].value) {
        stderrPrintf("Input image is missing!\n");
        return 0;
    }
    ModuleImage input;
    RAMImage *in = moduleOpenInput(&input, t[O_IN].value,
                                   "Error in open %s.\n");
    if (!in)
        return 0;
    if (!t[O_OUT].value) {
        stderrPrintf("Output image is missing!\n");
        return 0;
    }
    bool quarter = direction == ROTATE_LEFT || direction == ROTATE_RIGHT;
    ImageInfo info;
    moduleOutputInfo(&info, &in->info, t[O_OUT].value, in->info.pixel,
                     in->info.imgid, in->info.nbands);
    if (quarter) {
        std::swap(info.rows, info.columns);
        std::swap(info.dx, info.dy);
    }
    ModuleHeldOutput output;
    int err;
    RAMImage *out = moduleOpenOutput(&output, t[O_OUT].value, &info, &err);
    if (!out) {
        stderrPrintf(err == RAMIMG_ECREATE ? "Error in create %s.\n"
                                           : "Error in open %s.\n",
                     t[O_OUT].value);
        ramimgErrorReport(err);
        return 0;
    }
    if (out == in) {
        /* Turning an image onto itself would read what it just wrote. */
        stderrPrintf("Output image must differ from the input image.\n");
        return 0;
    }
    int rows = std::min(in->info.rows, quarter ? out->info.columns
                                               : out->info.rows);
    int columns = std::min(in->info.columns, quarter ? out->info.rows
                                                     : out->info.columns);
    int bands = std::min(in->info.nbands, out->info.nbands);
    Transfer transfer = transferOf(in, out);
    int ok = 1;
    if (quarter) {
        int width = rotateSegmentWidth(rows, columns, bands,
                                       in->info.bits > 8);
        size_t bytes = (size_t)rows * bands * width * transfer.size;
        std::unique_ptr<unsigned char, void (*)(void *)> segment(
            static_cast<unsigned char *>(std::malloc(bytes)), std::free);
        if (!segment) {
            stderrPrintf("Error in malloc: %d\n", (int)bytes);
            return 1;
        }
        ok = rotateQuarter(transfer, direction == ROTATE_RIGHT, rows,
                           columns, bands, segment.get(), width, command);
    } else {
        ok = rotateFlip(transfer, direction, rows, columns, bands, command);
    }
    if (!ok)
        return 0;
    if (out->histograms)
        for (int b = 0; b < bands; b++)
            invalidateHist(&out->histograms[b]);
    moduleFinishOutput(&output);
    return 1;
}

}  // namespace

/*
 * gRotateAp --
 *	rimage rotate -in IN -out OUT ?-dir LEFT|RIGHT|XFLIP|YFLIP|XYFLIP?
 * Results:
 *	2 after the usage, 1 after a run, 0 when the parameters fail.
 */
int gRotateAp(const char *command, int argc, const char **argv)
{
    ModuleParam table[] = {{"-dir", nullptr}, {"-in", nullptr},
                           {"-out", nullptr}, {nullptr, nullptr}};
    return moduleEntry(command, argc, argv, table, usage, gRotateRun,
                       "Error in malloc.\n");
}

/* ---------------------------------------------------------------------
 * Buffer arithmetic
 * --------------------------------------------------------------------- */

int rotateSegmentWidth(int rows, int columns, int bands, int wide)
{
    int64_t width = ROTATE_BUFFER / ((int64_t)rows * bands);
    if (wide)
        width /= 4;
    return (int)std::max<int64_t>(1, std::min<int64_t>(width, columns));
}

void rotateGatherColumn(const unsigned char *segment, int size, int rows,
                        int bands, int width, int column, int band,
                        int reverse, unsigned char *line)
{
    size_t step = (size_t)bands * width * size;
    const unsigned char *p = segment + ((size_t)band * width + column) * size;
    for (int r = 0; r < rows; r++, p += step) {
        unsigned char *q = line + (size_t)(reverse ? rows - 1 - r : r) * size;
        std::memcpy(q, p, size);
    }
}

void rotateReverse(unsigned char *line, int size, int n)
{
    for (int i = 0, j = n - 1; i < j; i++, j--) {
        unsigned char tmp[8];
        std::memcpy(tmp, line + (size_t)i * size, size);
        std::memcpy(line + (size_t)i * size, line + (size_t)j * size, size);
        std::memcpy(line + (size_t)j * size, tmp, size);
    }
}
