/*
 * gimgPolygon.cpp --
 *
 *	Polygons of the gimg masks: point lists grown in blocks, their scan
 *	conversion into horizontal runs, boolean operations on run lists,
 *	the shape words "rc", "pl" and "ov" with their parsers, and setting
 *	runs into bit masks.  Relies on the bit masks (gimgBitMask.cpp) and
 *	on Tcl only for list splitting and messages.
 *
 *	Scan conversion.  Edge P->Q contributes, on every row strictly
 *	between P.y and Q.y, the column round(y * s + c) of the line through
 *	them.  A vertex contributes its own column once when the outline goes
 *	on in the same vertical direction through it; there a horizontal
 *	edge counts as going down when it comes in and as going up when it
 *	goes out, so the top row of a horizontal edge is inside and the
 *	bottom row outside, and a top or bottom vertex adds nothing.  Sorted
 *	by row and column, consecutive points of a row pair into runs (the
 *	even-odd rule).  A pixel x of row y is thus covered exactly when the
 *	outline crosses row y left of x + 0.5 an odd number of times.
 */
#include "gimg/gimgPolygon.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/stdstream.h"
#include "gimg/gimgMask.h"

/* ---- point lists ---------------------------------------------------- */

void polygInit(Polyg *p)
{
    std::memset(p, 0, sizeof *p);
}

Polyg *polygCreate(int points)
{
    Polyg *p = static_cast<Polyg *>(std::malloc(sizeof *p));
    if (!p)
        return nullptr;
    polygInit(p);
    if (points > 0 && polygAllocPt(p, points) != 0) {
        std::free(p);
        return nullptr;
    }
    return p;
}

int polygAllocPt(Polyg *p, int capacity)
{
    if (capacity <= p->capacity)
        return 0;
    int blocks = (capacity + POLYG_BLOCK - 1) / POLYG_BLOCK;
    size_t n = (size_t)blocks * POLYG_BLOCK;
    PolygPoint *points = static_cast<PolygPoint *>(
        std::realloc(p->points, n * sizeof(PolygPoint)));
    if (!points) {
        stderrPrintf("Error in polyAllocPt: fail to allocate memory.\n");
        polygFreePt(p);
        return -1;
    }
    p->points = points;
    p->capacity = (int)n;
    return 0;
}

static short clampShort(long v)
{
    return (short)(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

int polygAddPt(Polyg *p, int x, int y)
{
    if (p->count == p->capacity && polygAllocPt(p, p->count + 1) != 0)
        return -1;
    p->points[p->count].x = clampShort(x);
    p->points[p->count].y = clampShort(y);
    p->count++;
    return 0;
}

void polygFreePt(Polyg *p)
{
    std::free(p->points);
    p->points = nullptr;
    p->capacity = p->count = 0;
}

void polygDelete(Polyg *list)
{
    while (list) {
        Polyg *next = list->next;
        std::free(list->points);
        std::free(list);
        list = next;
    }
}

Polyg *polygCopy(const Polyg *p)
{
    Polyg *copy = polygCreate(p->count);
    if (!copy)
        return nullptr;
    if (p->count)
        std::memcpy(copy->points, p->points,
                    (size_t)p->count * sizeof(PolygPoint));
    copy->count = p->count;
    return copy;
}

/* ---- run lists ------------------------------------------------------ */

int cmpPoint(const void *a, const void *b)
{
    const PolygPoint *p = static_cast<const PolygPoint *>(a);
    const PolygPoint *q = static_cast<const PolygPoint *>(b);
    if (p->y != q->y)
        return p->y < q->y ? -1 : 1;
    return p->x < q->x ? -1 : p->x > q->x ? 1 : 0;
}

void sortPolySeg(Polyg *p)
{
    if (p->count > 1)
        std::qsort(p->points, (size_t)p->count, sizeof(PolygPoint),
                   cmpPoint);
}

int segAdd(Polyg *runs, int y, int x0, int x1)
{
    if (polygAddPt(runs, x0, y) != 0 || polygAddPt(runs, x1, y) != 0)
        return -1;
    return 0;
}

/* Drops the runs whose start equals their end. */
void segRemoveDup(Polyg *runs)
{
    int out = 0;
    for (int i = 0; i + 1 < runs->count; i += 2) {
        if (runs->points[i].x == runs->points[i + 1].x)
            continue;
        runs->points[out++] = runs->points[i];
        runs->points[out++] = runs->points[i + 1];
    }
    runs->count = out;
}

/* Sorted crossing points into runs: consecutive points of each row in
 * pairs; an odd point left at a row's end is dropped. */
static Polyg *pairCrossings(std::vector<PolygPoint> &points, int dropEmpty)
{
    std::sort(points.begin(), points.end(),
              [](const PolygPoint &a, const PolygPoint &b) {
                  return cmpPoint(&a, &b) < 0;
              });
    Polyg *runs = polygCreate((int)points.size());
    if (!runs)
        return nullptr;
    size_t i = 0;
    while (i < points.size()) {
        size_t end = i;
        while (end < points.size() && points[end].y == points[i].y)
            end++;
        for (; i + 1 < end; i += 2) {
            if (dropEmpty && points[i].x == points[i + 1].x)
                continue;
            runs->points[runs->count++] = points[i];
            runs->points[runs->count++] = points[i + 1];
        }
        i = end;
    }
    return runs;
}

/* The crossing points of one closed polygon (scan conversion rule in the
 * file header), unsorted. */
static void crossings(const Polyg *p, std::vector<PolygPoint> &out)
{
    int n = p->count;
    const PolygPoint *v = p->points;
    if (n > 1 && v[n - 1].x == v[0].x && v[n - 1].y == v[0].y)
        n--;
    if (n < 2)
        return;
    for (int i = 0; i < n; i++) {
        const PolygPoint &prev = v[(i + n - 1) % n];
        const PolygPoint &pt = v[i];
        const PolygPoint &next = v[(i + 1) % n];
        int dy = pt.y - next.y;
        if (dy != 0) {
            double s = (double)(pt.x - next.x) / dy;
            double c = next.x - next.y * s;
            int lo = std::min(pt.y, next.y) + 1, hi = std::max(pt.y, next.y);
            for (int y = lo; y < hi; y++)
                out.push_back({clampShort(std::lround(y * s + c)),
                               (short)y});
        }
        bool inDown = pt.y >= prev.y;
        bool outDown = next.y > pt.y;
        if (inDown == outDown)
            out.push_back(pt);
    }
}

Polyg *polygPolySeg(const Polyg *p)
{
    std::vector<PolygPoint> points;
    crossings(p, points);
    return pairCrossings(points, 0);
}

Polyg *polygComb(const Polyg *list)
{
    std::vector<PolygPoint> points;
    for (const Polyg *p = list; p; p = p->next)
        crossings(p, points);
    return pairCrossings(points, 1);
}

/* Runs of one row: [start, end) intervals. */
struct RowRuns {
    int y;
    std::vector<std::pair<int, int>> runs;
};

/* A run list as rows of intervals (each row's runs sorted by start). */
static std::vector<RowRuns> rowsOf(const Polyg *a)
{
    std::vector<RowRuns> rows;
    if (!a)
        return rows;
    for (int i = 0; i + 1 < a->count; i += 2) {
        const PolygPoint &s = a->points[i];
        int e = a->points[i + 1].x;
        if (e <= s.x)
            continue;
        if (rows.empty() || rows.back().y != s.y)
            rows.push_back({s.y, {}});
        rows.back().runs.push_back({s.x, e});
    }
    for (RowRuns &r : rows)
        std::sort(r.runs.begin(), r.runs.end());
    std::sort(rows.begin(), rows.end(),
              [](const RowRuns &p, const RowRuns &q) { return p.y < q.y; });
    return rows;
}

/* Whether x is covered by one of the runs (a union, overlaps allowed). */
static bool covered(const std::vector<std::pair<int, int>> &runs, int x)
{
    for (const auto &r : runs)
        if (r.first <= x && x < r.second)
            return true;
    return false;
}

/* Appends to out the runs of one row where op(in a, in b) holds. */
template <class Op>
static int combineRow(int y, const std::vector<std::pair<int, int>> &a,
                      const std::vector<std::pair<int, int>> &b, Op op,
                      Polyg *out)
{
    std::vector<int> edges;
    for (const auto &r : a) {
        edges.push_back(r.first);
        edges.push_back(r.second);
    }
    for (const auto &r : b) {
        edges.push_back(r.first);
        edges.push_back(r.second);
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    int open = 0, start = 0;
    for (size_t k = 0; k + 1 < edges.size(); k++) {
        int x = edges[k];
        bool in = op(covered(a, x), covered(b, x));
        if (in && !open) {
            start = x;
            open = 1;
        } else if (!in && open) {
            if (segAdd(out, y, start, x) != 0)
                return -1;
            open = 0;
        }
    }
    if (open && segAdd(out, y, start, edges.back()) != 0)
        return -1;
    return 0;
}

template <class Op>
static Polyg *combine(const Polyg *a, const Polyg *b, Op op)
{
    std::vector<RowRuns> ra = rowsOf(a), rb = rowsOf(b);
    Polyg *out = polygCreate(0);
    if (!out)
        return nullptr;
    static const std::vector<std::pair<int, int>> none;
    size_t i = 0, j = 0;
    while (i < ra.size() || j < rb.size()) {
        int y;
        const std::vector<std::pair<int, int>> *pa = &none, *pb = &none;
        if (j >= rb.size() || (i < ra.size() && ra[i].y < rb[j].y)) {
            y = ra[i].y;
            pa = &ra[i++].runs;
        } else if (i >= ra.size() || rb[j].y < ra[i].y) {
            y = rb[j].y;
            pb = &rb[j++].runs;
        } else {
            y = ra[i].y;
            pa = &ra[i++].runs;
            pb = &rb[j++].runs;
        }
        if (combineRow(y, *pa, *pb, op, out) != 0) {
            polygDelete(out);
            return nullptr;
        }
    }
    return out;
}

Polyg *segOr(const Polyg *a, const Polyg *b)
{
    return combine(a, b, [](bool p, bool q) { return p || q; });
}

Polyg *segAnd(const Polyg *a, const Polyg *b)
{
    return combine(a, b, [](bool p, bool q) { return p && q; });
}

Polyg *segXor(const Polyg *a, const Polyg *b)
{
    return combine(a, b, [](bool p, bool q) { return p != q; });
}

Polyg *segNot(const Polyg *a, int width, int height)
{
    Polyg *all = polygCreate(0);
    if (!all)
        return nullptr;
    for (int y = 0; y < height && y <= 32767; y++)
        if (segAdd(all, y, 0, std::min(width, 32767)) != 0) {
            polygDelete(all);
            return nullptr;
        }
    Polyg *out = combine(all, a, [](bool p, bool q) { return p && !q; });
    polygDelete(all);
    return out;
}

/* Replaces dst's points by those of r (r freed). */
static int takePoints(Polyg *dst, Polyg *r)
{
    if (!r)
        return -1;
    std::free(dst->points);
    dst->points = r->points;
    dst->count = r->count;
    dst->capacity = r->capacity;
    std::free(r);
    return 0;
}

int segAppendOr(Polyg *dst, const Polyg *src)
{
    return takePoints(dst, segOr(dst, src));
}

int segAppendXor(Polyg *dst, const Polyg *src)
{
    return takePoints(dst, segXor(dst, src));
}

Polyg *polygMerge(const Polyg *list, int xorFlag)
{
    if (xorFlag)
        return polygComb(list);
    Polyg *out = polygCreate(0);
    if (!out)
        return nullptr;
    for (const Polyg *p = list; p; p = p->next) {
        Polyg *runs = polygPolySeg(p);
        int rc = runs ? segAppendOr(out, runs) : -1;
        polygDelete(runs);
        if (rc != 0) {
            polygDelete(out);
            return nullptr;
        }
    }
    return out;
}

void segMask(const Polyg *runs, BitMask *mask)
{
    if (!runs)
        return;
    for (int i = 0; i + 1 < runs->count; i += 2)
        maskTurnOnSeg(mask, runs->points[i].y, runs->points[i].x,
                      runs->points[i + 1].x);
}

void polygMask0(const Polyg *list, BitMask *mask)
{
    for (const Polyg *p = list; p; p = p->next) {
        Polyg *runs = polygPolySeg(p);
        segMask(runs, mask);
        polygDelete(runs);
    }
}

void polygMask(const Polyg *list, BitMask *mask, int xorFlag)
{
    if (!xorFlag) {
        polygMask0(list, mask);
        return;
    }
    Polyg *runs = polygComb(list);
    segMask(runs, mask);
    polygDelete(runs);
}

/* ---- shapes --------------------------------------------------------- */

static Polyg *parseFailure(Tcl_Interp *interp, const char *message,
                           Polyg *p)
{
    polygDelete(p);
    if (interp) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, message, nullptr);
    }
    return nullptr;
}

/* The corners (x0, y0), (x0, y1), (x1, y1), (x1, y0). */
Polyg *rectToPolyg(int x0, int y0, int x1, int y1)
{
    Polyg *p = polygCreate(4);
    if (!p)
        return nullptr;
    polygAddPt(p, x0, y0);
    polygAddPt(p, x0, y1);
    polygAddPt(p, x1, y1);
    polygAddPt(p, x1, y0);
    return p;
}

/* Rounds half away from zero into the range of a point coordinate. */
static int roundCoord(double v)
{
    if (!(v > -40000.0))
        return -40000;
    if (!(v < 40000.0))
        return 40000;
    return (int)std::lround(v);
}

/* Four numbers as "%f %f %f %f" would read them. */
static bool fourNumbers(const char *text, double v[4])
{
    float f[4];
    if (!text || std::sscanf(text, "%f %f %f %f", &f[0], &f[1], &f[2], &f[3])
                     != 4)
        return false;
    for (int i = 0; i < 4; i++) {
        if (!std::isfinite(f[i]))
            return false;
        v[i] = f[i];
    }
    return true;
}

Polyg *parsePolygFromRect(Tcl_Interp *interp, const char *text)
{
    double v[4];
    if (!fourNumbers(text, v))
        return parseFailure(interp, "Error in parsing rectangle.\n",
                            nullptr);
    Polyg *p = rectToPolyg(roundCoord(v[0]), roundCoord(v[1]),
                           roundCoord(v[2]), roundCoord(v[3]));
    if (!p)
        return parseFailure(interp, "Error in parsing rectangle.\n",
                            nullptr);
    return p;
}

Polyg *parsePolygFromPl(Tcl_Interp *interp, int minimumNumbers,
                        const char *text)
{
    static const char *message = "Error in parsing polygon.\n";
    int n;
    const char **words;
    if (!text || Tcl_SplitList(nullptr, text, &n, &words) != TCL_OK)
        return parseFailure(interp, message, nullptr);
    Polyg *p = nullptr;
    if (n >= minimumNumbers && n % 2 == 0)
        p = polygCreate(n / 2);
    for (int i = 0; p && i < n; i += 2) {
        double x, y;
        if (Tcl_GetDouble(nullptr, words[i], &x) != TCL_OK
                || Tcl_GetDouble(nullptr, words[i + 1], &y) != TCL_OK
                || !std::isfinite(x) || !std::isfinite(y)) {
            polygDelete(p);
            p = nullptr;
            break;
        }
        polygAddPt(p, roundCoord(x), roundCoord(y));
    }
    Tcl_Free((char *)words);
    if (!p)
        return parseFailure(interp, message, nullptr);
    return p;
}

/* The outline of the ellipse in a box, traced along its longer side. */
Polyg *parsePolygFromOv(Tcl_Interp *interp, const char *text)
{
    static const char *message = "Error in parsing oval.\n";
    double v[4];
    if (!fourNumbers(text, v))
        return parseFailure(interp, message, nullptr);
    double x0 = std::min(v[0], v[2]), x1 = std::max(v[0], v[2]);
    double y0 = std::min(v[1], v[3]), y1 = std::max(v[1], v[3]);
    int ix0 = roundCoord(x0), iy0 = roundCoord(y0);
    int ix1 = roundCoord(x1) - 1, iy1 = roundCoord(y1) - 1;
    if (2 * (ix1 - ix0) < 4 && 2 * (iy1 - iy0) < 4) {
        Polyg *p = rectToPolyg(ix0, iy0, roundCoord(x1), roundCoord(y1));
        return p ? p : parseFailure(interp, message, nullptr);
    }
    double a = (ix1 - ix0) / 2.0, b = (iy1 - iy0) / 2.0;
    double cx = (ix0 + ix1) / 2.0, cy = (iy0 + iy1) / 2.0;
    Polyg *p = polygCreate(2 * (std::max(ix1 - ix0, iy1 - iy0) + 1));
    if (!p)
        return parseFailure(interp, message, nullptr);
    /* Offset from the centre line at distance d along the traced axis. */
    auto offset = [](double d, double radius, double other) {
        double q = 1.0 - (d / radius) * (d / radius);
        return q < 0 ? 0.0 : other * std::sqrt(q);
    };
    if (ix1 - ix0 > iy1 - iy0) {
        for (int x = ix0; x < ix1; x++)
            polygAddPt(p, x, roundCoord(cy - offset(x - cx, a, b)));
        for (int x = ix1; x > ix0; x--)
            polygAddPt(p, x, roundCoord(cy + offset(x - cx, a, b)));
    } else {
        for (int y = iy0; y < iy1; y++)
            polygAddPt(p, roundCoord(cx - offset(y - cy, b, a)), y);
        for (int y = iy1; y > iy0; y--)
            polygAddPt(p, roundCoord(cx + offset(y - cy, b, a)), y);
    }
    return p;
}

Polyg *parseObj(Tcl_Interp *interp, int count, const char **words)
{
    if (count < 2)
        return parseFailure(interp, "error in parsing obj.\n", nullptr);
    const char *type = words[0];
    if (std::strcmp(type, "rc") == 0)
        return parsePolygFromRect(interp, words[1]);
    if (std::strcmp(type, "pl") == 0)
        return parsePolygFromPl(interp, 6, words[1]);
    if (std::strcmp(type, "ov") == 0)
        return parsePolygFromOv(interp, words[1]);
    if (interp) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Unknown obj type: ", type, nullptr);
    }
    return nullptr;
}

Polyg *parsePolygFromObj(Tcl_Interp *interp, int count, const char **words)
{
    Polyg *list = nullptr;
    for (int i = 0; i < count; i += 2) {
        Polyg *p = parseObj(interp, count - i, words + i);
        if (!p) {
            polygDelete(list);
            return nullptr;
        }
        p->next = list;
        list = p;
    }
    return list;
}

Polyg *parseSegFromObj(Tcl_Interp *interp, const Polyg *runs, int count,
                       const char **words, int *error)
{
    *error = 0;
    Polyg *out = runs ? polygCopy(runs) : polygCreate(0);
    if (!out) {
        *error = 1;
        return nullptr;
    }
    if (count >= 1 && std::strcmp(words[0], "current") == 0) {
        if (count == 1)
            return out;
        polygDelete(out);
        *error = 1;
        parseFailure(interp, "Syntax error.\n", nullptr);
        return nullptr;
    }
    enum { SET, OR, AND, XOR } op = SET;
    int i = 0;
    while (i < count) {
        const char *w = words[i];
        if (std::strcmp(w, "set") == 0 || std::strcmp(w, "or") == 0
                || std::strcmp(w, "and") == 0 || std::strcmp(w, "xor") == 0) {
            op = w[0] == 's' ? SET : w[0] == 'o' ? OR : w[0] == 'a' ? AND
                                                                    : XOR;
            i++;
            continue;
        }
        Polyg *shape = parseObj(interp, count - i, words + i);
        Polyg *shapeRuns = shape ? polygPolySeg(shape) : nullptr;
        polygDelete(shape);
        if (!shapeRuns) {
            polygDelete(out);
            *error = 1;
            return nullptr;
        }
        Polyg *next = op == SET ? polygCopy(shapeRuns)
                      : op == OR  ? segOr(out, shapeRuns)
                      : op == AND ? segAnd(out, shapeRuns)
                                  : segXor(out, shapeRuns);
        polygDelete(shapeRuns);
        polygDelete(out);
        out = next;
        if (!out) {
            *error = 1;
            return nullptr;
        }
        i += 2;
    }
    return out;
}
