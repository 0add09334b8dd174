/*
 * rimgRange.cpp --
 *
 *	Parsing of data ranges ("@cols,rows,bands"), used by `rimage open`
 *	to size a memory image after a template and by raster objects to
 *	select the pixels an operator walks.
 */
#include "rimage/rimgRange.h"

#include <cstdio>
#include <cstdlib>
#include <string>

/* One part: whole axis, one index or "a:b", each index inside
 * 0 .. extent - 1.  Returns 0 when invalid. */
static int rangePart(const std::string &part, int extent, int *first,
                     int *last)
{
    if (part.empty() || part == "*" || part == ":") {
        *first = 0;
        *last = extent - 1;
        return extent > 0;
    }
    int a, b;
    char extra;
    int n = std::sscanf(part.c_str(), "%d:%d%c", &a, &b, &extra);
    if (n == 1) {
        char *end;
        long v = std::strtol(part.c_str(), &end, 10);
        if (*end != '\0' || v < 0 || v >= extent)
            return 0;
        a = b = (int)v;
    } else if (n != 2) {
        return 0;
    }
    if (a < 0 || a >= extent || b < 0 || b >= extent)
        return 0;
    *first = a;
    *last = b;
    return 1;
}

int rimgParseRange(const char *text, int columns, int rows, int bands,
                   RimgRange *range)
{
    if (text[0] != '@')
        return 0;
    std::string parts[3];
    int k = 0;
    for (const char *p = text + 1; *p; p++) {
        if (*p == ',') {
            if (++k > 2)
                return 0;
        } else {
            parts[k] += *p;
        }
    }
    if (k != 2)
        return 0;
    const int extents[3] = {columns, rows, bands};
    RimgRange work;
    for (int axis = 0; axis < 3; axis++)
        if (!rangePart(parts[axis], extents[axis], &work.first[axis],
                       &work.last[axis]))
            return 0;
    *range = work;
    return 1;
}

void rimgWholeRange(int columns, int rows, int bands, RimgRange *range)
{
    const int extents[3] = {columns, rows, bands};
    for (int axis = 0; axis < 3; axis++) {
        range->first[axis] = 0;
        range->last[axis] = extents[axis] - 1;
    }
}

int rimgRangeLength(const RimgRange *range, int axis)
{
    int d = range->last[axis] - range->first[axis];
    return (d < 0 ? -d : d) + 1;
}
