/*
 * rimgDraw.cpp --
 *
 *	`rimage draw`: a polyline or a filled polygon of one value drawn
 *	into a band of a record opened by tag or file name.  Lines are
 *	Bresenham's, both ends included; coordinates are read and polygons
 *	filled as the gimg masks do it (gimgPolygon).  The pixels are
 *	collected as runs per row and each touched row is read, changed and
 *	written once through the line access, so every pixel type and
 *	file-backed records work.
 */
#include "rimage/rimgDraw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "core/hist.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "gimg/gimgPolygon.h"
#include "rimage/rimgInt.h"

/* Columns [start, end) to set, per row. */
typedef std::map<int, std::vector<std::pair<int, int>>> RowRuns;

static void paintRuns(RAMImage *r, const RowRuns &rows, int value, int band)
{
    int w = r->info.columns;
    std::vector<float> line(w);
    for (const auto &row : rows) {
        int y = row.first;
        if (y < 0 || y >= r->info.rows)
            continue;
        int changed = 0;
        getFloatBILData(r, y, 0, w, band, line.data());
        for (const auto &run : row.second) {
            for (int x = std::max(run.first, 0); x < std::min(run.second, w);
                 x++) {
                line[x] = (float)value;
                changed = 1;
            }
        }
        if (changed)
            putFloatBILData(r, y, 0, w, band, line.data());
    }
    if (r->histograms)
        initHist(&r->histograms[band]);
}

void rimgDrawPolyLine(RAMImage *r, const int *xy, int count, int value,
                      int band)
{
    RowRuns rows;
    for (int i = 0; i + 1 < count; i++) {
        int x = xy[2 * i], y = xy[2 * i + 1];
        int x1 = xy[2 * i + 2], y1 = xy[2 * i + 3];
        int dx = std::abs(x1 - x), dy = -std::abs(y1 - y);
        int sx = x < x1 ? 1 : -1, sy = y < y1 ? 1 : -1;
        int err = dx + dy;
        for (;;) {
            rows[y].push_back({x, x + 1});
            if (x == x1 && y == y1)
                break;
            int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y += sy;
            }
        }
    }
    paintRuns(r, rows, value, band);
}

void rimgDrawPolygon(RAMImage *r, const int *xy, int count, int value,
                     int band)
{
    Polyg *p = polygCreate(count);
    for (int i = 0; p && i < count; i++)
        polygAddPt(p, xy[2 * i], xy[2 * i + 1]);
    Polyg *runs = p ? polygPolySeg(p) : nullptr;
    polygDelete(p);
    if (!runs)
        return;
    RowRuns rows;
    for (int i = 0; i + 1 < runs->count; i += 2)
        rows[runs->points[i].y].push_back(
            {runs->points[i].x, runs->points[i + 1].x});
    polygDelete(runs);
    paintRuns(r, rows, value, band);
}

/* Reads a whole decimal number; 0 when the word is none. */
static int wholeNumber(const char *word, long *value)
{
    char *end;
    *value = std::strtol(word, &end, 10);
    return end != word && *end == '\0';
}

/*
 * rimgDraw --
 *	rimage draw imgID line|polygon coordList ?value? ?band?
 * Results:
 *	Empty; the usage text (success) for a wrong word count.
 * Side effects:
 *	The band's pixels under the line or polygon take the value.
 */
int rimgDraw(ImageInfo *, Tcl_Interp *interp, int argc, const char **argv)
{
    if (argc < 5 || argc > 7) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Usage: ", argv[0], " ", argv[1],
                         " imgID graphID coordList ?value? ?band?\n",
                         nullptr);
        return TCL_OK;
    }
    int err;
    RAMImage *r = openRAMImage(argv[2], argv[2], nullptr, nullptr, &err);
    if (!r) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Error in open: ", argv[2], "\n", nullptr);
        return TCL_ERROR;
    }
    int polygon = std::strcmp(argv[3], "polygon") == 0;
    long value = 0, band = 1;
    int rc = TCL_OK;
    if (!polygon && std::strcmp(argv[3], "line") != 0) {
        rc = rimgError(interp, "Unknown graphic id\n");
    } else if (argc > 5 && (!wholeNumber(argv[5], &value) || value < 0
                            || value > 255)) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Invalid color value: ", argv[5], "\n",
                         nullptr);
        rc = TCL_ERROR;
    } else if (argc > 6 && (!wholeNumber(argv[6], &band) || band < 1
                            || band > r->info.nbands)) {
        rc = rimgError(interp, "Invalid band number.\n");
    }
    Polyg *points = rc == TCL_OK
        ? parsePolygFromPl(interp, polygon ? 6 : 4, argv[4]) : nullptr;
    if (rc == TCL_OK && !points) {
        rc = TCL_ERROR;
    } else if (rc == TCL_OK) {
        std::vector<int> xy;
        for (int i = 0; i < points->count; i++) {
            xy.push_back(points->points[i].x);
            xy.push_back(points->points[i].y);
        }
        polygDelete(points);
        int count = (int)xy.size() / 2;
        if (polygon)
            rimgDrawPolygon(r, xy.data(), count, (int)value, (int)band - 1);
        else
            rimgDrawPolyLine(r, xy.data(), count, (int)value, (int)band - 1);
        updateClient(r, nullptr, 2);
        Tcl_ResetResult(interp);
    }
    closeRAMImage(r, nullptr);
    return rc;
}
