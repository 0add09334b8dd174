/*
 * rimgRange.h --
 *
 *	Data ranges: "@" followed by three comma-separated parts for the
 *	columns, rows and bands of an image, each an interval of 0-based
 *	indices: empty, "*" or ":" for the whole axis, "i" for one index,
 *	"i:j" from i to j in that direction (i may exceed j).
 */
#ifndef VELK_RIMGRANGE_H
#define VELK_RIMGRANGE_H

/* Axes of a range. */
enum { RANGE_COLUMNS = 0, RANGE_ROWS = 1, RANGE_BANDS = 2 };

struct RimgRange {
    int first[3];   /* first index of each axis, in walking order */
    int last[3];    /* last index; below first for a reversed axis */
};

/*
 * rimgParseRange --
 *	Reads text against an image of the given extents.
 * Results:
 *	1 and *range filled, or 0 when the text is not a valid range (an
 *	index outside 0 .. extent - 1 included).
 */
int rimgParseRange(const char *text, int columns, int rows, int bands,
                   RimgRange *range);

/* The whole image as a range. */
void rimgWholeRange(int columns, int rows, int bands, RimgRange *range);

/* Indices on an axis of a range: |last - first| + 1. */
int rimgRangeLength(const RimgRange *range, int axis);

#endif
