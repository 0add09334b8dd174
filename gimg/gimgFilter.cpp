/*
 * gimgFilter.cpp --
 *
 *	Row stages between the lookup and the packing: the 2 x 2 filter
 *	(sharpen, directional edges, emboss, smoothing) that looks at the
 *	pixel, its left neighbour and the two above them; the grey
 *	combination of channel rows; and error diffusion of display values
 *	onto palette indices.  Plain functions over row buffers.
 */
#include <cmath>
#include <cstring>

#include "gimg/gimgRow.h"

static inline int clampByte(int v)
{
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

/*
 * filter4 --
 *	See gimgRow.h.  The neighbours are the unfiltered values: l is kept
 *	from the previous step, ul is read before previousRow's entry is
 *	replaced.  The first column is its own left neighbour, and so is the
 *	pixel above it.
 */
unsigned char *filter4(int n, unsigned char *row, unsigned char *previousRow,
                       double strength, int background, int firstRow,
                       int direction)
{
    if (n < 1)
        return row;
    if (firstRow)
        std::memcpy(previousRow, row, (size_t)n);
    double s = strength, weight = 0;
    if (background >= 0 && s < 0)
        weight = s < -708.39 ? 0.25 : std::exp(s) * 0.75 + 0.25;
    int left = row[0], upLeft = previousRow[0];
    for (int x = 0; x < n; x++) {
        int c = row[x], up = previousRow[x];
        int d;
        if (background < 0) {
            d = 192 + (int)((3 * c - left - upLeft - up) * s + 0.5);
        } else if (s < 0) {
            d = (int)(weight * left + (upLeft + c + up) * (1 - weight) / 3
                      + 0.5);
        } else {
            int base = background != 0 ? background : c;
            int diff;
            /* (difference * 3) * s, in that order: 3 * s first would
             * round differently (3 * 0.3 is below 0.9). */
            switch (direction) {
            case 1: diff = (int)((left - c) * 3 * s + 0.5); break;
            case 2: diff = (int)((left - up) * 3 * s + 0.5); break;
            case 3: diff = (int)((c - up) * 3 * s + 0.5); break;
            case 4: diff = (int)((c - upLeft) * 3 * s + 0.5); break;
            default: diff = (int)((3 * c - left - upLeft - up) * s + 0.5);
            }
            d = diff + base;
        }
        previousRow[x] = (unsigned char)c;
        row[x] = (unsigned char)clampByte(d);
        left = c;
        upLeft = up;
    }
    return row;
}

void gimgGreyRow(int n, const unsigned char *c0, const unsigned char *c1,
                 const unsigned char *c2, int count, unsigned char *out)
{
    if (count < 1)
        count = 1;
    for (int x = 0; x < n; x++)
        out[x] = (unsigned char)clampByte((c0[x] + c1[x] + c2[x]) / count);
}

/*
 * dithering3 --
 *	See gimgRow.h.  The methods that look above-left or above-right use
 *	the residuals of the row above, so the entry at x - 1 is saved before
 *	it is replaced; at x = 0 both left and above-left are e[0].
 */
void dithering3(int n, unsigned char *indexRow, const unsigned char *values,
                const unsigned char *functionTable,
                const unsigned char *indexTable,
                const signed char *residualTable, signed char *errorRow,
                int method, int oddRow)
{
    signed char *e = errorRow;
    if (method == 0) {
        for (int x = 0; x < n; x++)
            indexRow[x] = (unsigned char)(indexRow[x]
                                          + indexTable[functionTable[values[x]]]);
        return;
    }
    int left = e[0], upLeft = e[0];
    for (int x = 0; x < n; x++) {
        int t = functionTable[values[x]], up = e[x], v;
        switch (method) {
        case 1: v = t + (oddRow ? up : left); break;
        case 2: v = (left + up) / 2 + t; break;
        case 3: v = ((left + up) * 20 + upLeft * 14) / 54 + t; break;
        default: v = ((left + up) * 20 + (upLeft + e[x + 1]) * 14) / 68 + t;
        }
        v = clampByte(v);
        indexRow[x] = (unsigned char)(indexRow[x] + indexTable[v]);
        int r = residualTable[v];
        e[x] = (signed char)r;
        left = r;
        upLeft = up;
    }
}
