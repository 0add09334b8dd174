/*
 * gimgSample.cpp --
 *
 *	The first stage of the renderer: one screen row of display values of
 *	one band, sampled from a stored line through the horizontal display
 *	port's map.  Values of 8 bits or fewer are used as they are (the
 *	function tables hold their stretch); wider values, and the signed
 *	bytes and unsigned longs, are scaled from the channel range onto
 *	0..255.  Lines come through the record's line operation (lineAccess.h)
 *	in its cached layout.
 */
#include <cmath>
#include <cstring>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "gimg/gimgRow.h"

/* The scaling of a wide value onto 0..255 over low..high, in single
 * precision; low = high puts the whole range on one side of the value. */
struct WideScale {
    float low, high, s, o;
};

static WideScale wideScale(double low, double high)
{
    WideScale w;
    w.low = (float)low;
    w.high = (float)high;
    if (w.low == w.high) {
        w.s = 1e12f;
        w.o = 0;
    } else {
        w.s = 255.0f / (w.high - w.low);
        w.o = -w.low * w.s + 0.5f;
    }
    return w;
}

static int scaleWide(const WideScale &w, float v)
{
    if (v < w.low)
        return 0;
    if (v > w.high)
        return 255;
    float scaled = v * w.s + w.o;
    if (!(scaled > 0))      /* also not-a-number */
        return 0;
    return scaled >= 255 ? 255 : (int)scaled;
}

/* The value of image column c of a stored line. */
static int sampleValue(const unsigned char *line, int pixel, int msbf, int c,
                       const WideScale &w)
{
    switch (pixel) {
    case PIXEL_1BIT:
        return msbf ? (line[c >> 3] >> (7 - (c & 7))) & 1
                    : (line[c >> 3] >> (c & 7)) & 1;
    case PIXEL_4BITS: {
        int byte = line[c >> 1];
        bool high = ((c & 1) == 0) == (msbf != 0);
        return high ? byte >> 4 : byte & 15;
    }
    case PIXEL_BYTE:
        return line[c];
    case PIXEL_SBYTE:
        return scaleWide(w, (float)(signed char)line[c]);
    case PIXEL_SHORT: {
        int16_t v;
        std::memcpy(&v, line + 2 * (size_t)c, 2);
        return scaleWide(w, (float)v);
    }
    case PIXEL_USHORT: {
        uint16_t v;
        std::memcpy(&v, line + 2 * (size_t)c, 2);
        return scaleWide(w, (float)v);
    }
    case PIXEL_LONG: {
        int32_t v;
        std::memcpy(&v, line + 4 * (size_t)c, 4);
        return scaleWide(w, (float)v);
    }
    case PIXEL_ULONG: {
        uint32_t v;
        std::memcpy(&v, line + 4 * (size_t)c, 4);
        return scaleWide(w, (float)v);
    }
    case PIXEL_FLOAT: {
        float v;
        std::memcpy(&v, line + 4 * (size_t)c, 4);
        return scaleWide(w, v);
    }
    default:
        return 0;
    }
}

/*
 * gimgSampleRow --
 *	See gimgRow.h.  A column that repeats the image column before it
 *	repeats its value; BYTE rows through a table take the short path
 *	the full redraws spend their time in.
 */
void gimgSampleRow(const unsigned char *line, int pixel, int msbf,
                   const int *xmap, int first, int last, int width,
                   double low, double high, const unsigned char *table,
                   unsigned char *out)
{
    if (first < 0)
        first = 0;
    if (last > width)
        last = width;
    if (last < first)
        last = first;
    unsigned char outside = table ? table[0] : 0;
    std::memset(out, outside, (size_t)first);
    std::memset(out + last, outside, (size_t)(width - last));
    if (pixel == PIXEL_BYTE && table) {
        for (int x = first; x < last; x++)
            out[x] = table[line[xmap[x]]];
        return;
    }
    WideScale w = wideScale(low, high);
    int previous = -1, value = 0;
    for (int x = first; x < last; x++) {
        int c = xmap[x];
        if (c != previous) {
            value = sampleValue(line, pixel, msbf, c, w);
            if (table)
                value = table[value];
            previous = c;
        }
        out[x] = (unsigned char)value;
    }
}

/*
 * getDataForDisp --
 *	Reads the line, then samples it.  The display ports come from the
 *	master's copy of the description; should the record have shrunk since,
 *	the columns it no longer has show the value 0 rather than being read
 *	past the line.
 */
void getDataForDisp(RAMImage *record, int row, int band, const int *xmap,
                    int first, int last, int width, double low, double high,
                    const unsigned char *table, unsigned char *out)
{
    const unsigned char *line = record->getLine(record, row, band, 1);
    int columns = record->info.columns;
    bool inside = line != nullptr;
    if (inside && first < last) {
        /* The map is monotonic, so its ends bound it. */
        int a = xmap[first], b = xmap[last - 1];
        inside = a >= 0 && a < columns && b >= 0 && b < columns;
    }
    if (inside) {
        gimgSampleRow(line, record->info.pixel, record->info.msbf, xmap,
                      first, last, width, low, high, table, out);
        return;
    }
    unsigned char outside = table ? table[0] : 0;
    std::memset(out, outside, (size_t)width);
    for (int x = first < 0 ? 0 : first; line && x < last && x < width; x++)
        if (xmap[x] >= 0 && xmap[x] < columns)
            gimgSampleRow(line, record->info.pixel, record->info.msbf,
                          xmap + x, 0, 1, 1, low, high, table, out + x);
}

void getDataForDisplay(RAMImage *record, int row, int band, const int *xmap,
                       int first, int last, int width, double low,
                       double high, unsigned char *out)
{
    getDataForDisp(record, row, band, xmap, first, last, width, low, high,
                   nullptr, out);
}
