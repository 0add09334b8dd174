/*
 * rimgMath.cpp --
 *
 *	The four pixel loops of raster objects (see rimgMath.h).  Each works
 *	a row segment at a time through the line access: the segment is read
 *	as floats, every pixel replaced by the pixel function's value, and the
 *	segment written back, so images larger than their line cache are
 *	walked in the order the cache serves best.  An operand raster's
 *	segment is read before the destination's is written, so an operand
 *	that is the bound raster itself gives the values of the row before
 *	the operation.  Runs on the interpreter's thread only: "rand" draws
 *	from the C library's sequence in pixel order.
 */
#include "rimage/rimgMath.h"

#include <algorithm>
#include <vector>

#include "core/hist.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"

/* A frame with the raster's description and the numeric operands from
 * slot `firstOperand` on. */
static void frameStart(float *frame, const RAMImage *described,
                       const double *operands, int numbers, int count,
                       int firstOperand)
{
    std::fill(frame, frame + FRAME_SIZE, 0.0f);
    frame[FRAME_PIXEL] = (float)described->info.pixel;
    frame[FRAME_ROWS] = (float)described->info.rows;
    frame[FRAME_COLUMNS] = (float)described->info.columns;
    frame[FRAME_COUNT] = (float)count;
    for (int k = 0; k < numbers && firstOperand + k < FRAME_SIZE; k++)
        frame[firstOperand + k] = (float)operands[k];
}

/* After a band was written: its histogram no longer holds. */
static void bandWritten(RAMImage *r, int band)
{
    if (r->histograms && band >= 0 && band < r->info.nbands)
        initHist(&r->histograms[band]);
}

void rimgMath(RAMImage *r, int desx, int desy, int width, int height,
              const int *desBands, int pairs, RimgPixelFunc *func,
              const double *operands, int count)
{
    float frame[FRAME_SIZE];
    frameStart(frame, r, operands, count, count, FRAME_B);
    std::vector<float> line(width > 0 ? (size_t)width : 1);
    for (int p = 0; p < pairs; p++) {
        int band = desBands[p] - 1;
        for (int row = 0; row < height; row++) {
            getFloatBILData(r, desy + row, desx, width, band, line.data());
            frame[FRAME_Y] = (float)row;
            for (int c = 0; c < width; c++) {
                frame[FRAME_X] = (float)c;
                frame[FRAME_A] = line[c];
                line[c] = func(frame);
            }
            putFloatBILData(r, desy + row, desx, width, band, line.data());
        }
        bandWritten(r, band);
    }
    updateClient(r, nullptr, 1);
}

void rimgExpr(RAMImage *r, int desx, int desy, int srcx, int srcy,
              int width, int height, const int *desBands, int pairs,
              RAMImage *src, const int *srcBands, RimgPixelFunc *func,
              const double *operands, int count)
{
    float frame[FRAME_SIZE];
    frameStart(frame, src, operands, count - 1, count, FRAME_B + 1);
    size_t n = width > 0 ? (size_t)width : 1;
    std::vector<float> line(n), operand(n);
    int srcRows = src->info.rows;
    for (int p = 0; p < pairs; p++) {
        int band = desBands[p] - 1, srcBand = srcBands[p] - 1;
        for (int row = 0; row < height; row++) {
            int srcRow = (int)(((int64_t)srcy + row) % srcRows);
            getFloatBILData(src, srcRow, srcx, width, srcBand,
                            operand.data());
            getFloatBILData(r, desy + row, desx, width, band, line.data());
            frame[FRAME_Y] = (float)(row % srcRows);
            for (int c = 0; c < width; c++) {
                frame[FRAME_X] = (float)c;
                frame[FRAME_B] = operand[c];
                frame[FRAME_A] = line[c];
                line[c] = func(frame);
            }
            putFloatBILData(r, desy + row, desx, width, band, line.data());
        }
        bandWritten(r, band);
    }
    updateClient(r, nullptr, 1);
}

void rimgMathWithROI(RAMImage *r, const RimgRange *range,
                     RimgPixelFunc *func, const double *operands, int count)
{
    float frame[FRAME_SIZE];
    frameStart(frame, r, operands, count, count, FRAME_B);
    int lo[3], hi[3];
    for (int axis = 0; axis < 3; axis++) {
        lo[axis] = std::min(range->first[axis], range->last[axis]);
        hi[axis] = std::max(range->first[axis], range->last[axis]);
    }
    int width = hi[RANGE_COLUMNS] - lo[RANGE_COLUMNS] + 1;
    std::vector<float> line((size_t)width);
    for (int band = lo[RANGE_BANDS]; band <= hi[RANGE_BANDS]; band++) {
        for (int row = lo[RANGE_ROWS]; row <= hi[RANGE_ROWS]; row++) {
            getFloatBILData(r, row, lo[RANGE_COLUMNS], width, band,
                            line.data());
            frame[FRAME_Y] = (float)row;
            for (int c = 0; c < width; c++) {
                frame[FRAME_X] = (float)(lo[RANGE_COLUMNS] + c);
                frame[FRAME_A] = line[c];
                line[c] = func(frame);
            }
            putFloatBILData(r, row, lo[RANGE_COLUMNS], width, band,
                            line.data());
        }
        bandWritten(r, band);
    }
    updateClient(r, nullptr, 1);
}

/* The k-th index of an axis walked from first toward last, wrapping
 * after its length. */
static int walk(const RimgRange *range, int axis, int64_t k)
{
    int length = rimgRangeLength(range, axis);
    int step = (int)(k % length);
    return range->last[axis] >= range->first[axis]
               ? range->first[axis] + step : range->first[axis] - step;
}

void rimgExprWithROI(RAMImage *r, const RimgRange *des, RAMImage *src,
                     const RimgRange *srcRange, RimgPixelFunc *func,
                     const double *operands, int count)
{
    float frame[FRAME_SIZE];
    frameStart(frame, src, operands, count - 1, count, FRAME_B + 1);
    int desLo = std::min(des->first[RANGE_COLUMNS], des->last[RANGE_COLUMNS]);
    int srcLo = std::min(srcRange->first[RANGE_COLUMNS],
                         srcRange->last[RANGE_COLUMNS]);
    int columns = rimgRangeLength(des, RANGE_COLUMNS);
    int srcColumns = rimgRangeLength(srcRange, RANGE_COLUMNS);
    int rows = rimgRangeLength(des, RANGE_ROWS);
    int bands = rimgRangeLength(des, RANGE_BANDS);
    std::vector<float> line((size_t)columns), operand((size_t)srcColumns);
    for (int k = 0; k < bands; k++) {
        int band = walk(des, RANGE_BANDS, k);
        int srcBand = walk(srcRange, RANGE_BANDS, k);
        for (int j = 0; j < rows; j++) {
            int row = walk(des, RANGE_ROWS, j);
            int srcRow = walk(srcRange, RANGE_ROWS, j);
            getFloatBILData(src, srcRow, srcLo, srcColumns, srcBand,
                            operand.data());
            getFloatBILData(r, row, desLo, columns, band, line.data());
            frame[FRAME_Y] = (float)srcRow;
            for (int i = 0; i < columns; i++) {
                int column = walk(des, RANGE_COLUMNS, i);
                int srcColumn = walk(srcRange, RANGE_COLUMNS, i);
                frame[FRAME_X] = (float)srcColumn;
                frame[FRAME_B] = operand[srcColumn - srcLo];
                frame[FRAME_A] = line[column - desLo];
                line[column - desLo] = func(frame);
            }
            putFloatBILData(r, row, desLo, columns, band, line.data());
        }
        bandWritten(r, band);
    }
    updateClient(r, nullptr, 1);
}
