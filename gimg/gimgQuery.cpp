/*
 * gimgQuery.cpp --
 *
 *	Read-out subcommands of gimg images: values at a screen point
 *	(`pixel`), along a row or column (`lineh`, `linev`), along a segment
 *	(`section`) or a ray (`profile`), histograms (`hist`), statistics of
 *	the image, its mask raster or regions (`stats`, `std`, `mean`, `min`,
 *	`max`), pixel writes (`setPixel`), memory residence (`resident`) and
 *	the overlay of `graph`.  Values come from the line access of the
 *	store, statistics from the record's histograms through the band
 *	statistics of the lookup module, regions from the polygons of the
 *	mask module.
 *
 *	Band numbers count from 1.  When the image shows a colour table,
 *	band 0 (or a multiple of 4) is the colour index and bands 1, 2, 3
 *	the red, green and blue of its entry; otherwise band b is band
 *	(b - 1) mod the band count.
 */
#include <algorithm>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <strings.h>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "gimg/gimgQuery.h"
#include "gimg/gimgLookup.h"
#include "gimg/gimgMask.h"
#include "gimg/gimgRow.h"

/* ---- shared helpers -------------------------------------------------- */

static int failWith(GimgMaster *m, const char *message,
                    const char *word = nullptr)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, message, word, nullptr);
    return TCL_ERROR;
}

/* Appends printf-formatted text to the result. */
static void appendf(Tcl_Interp *interp, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
static void appendf(Tcl_Interp *interp, const char *format, ...)
{
    char buf[128];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    Tcl_AppendResult(interp, buf, nullptr);
}

/* "Usage: "name" subcommand tail"" with the double quotes. */
static int quotedUsage(GimgMaster *m, const char **argv, const char *tail)
{
    Tcl_ResetResult(m->interp);
    Tcl_AppendResult(m->interp, "Usage: \"", argv[0], " ", argv[1], tail,
                     "\"", nullptr);
    return TCL_ERROR;
}

static int needImage(GimgMaster *m)
{
    if (m->rimg)
        return TCL_OK;
    return failWith(m, "Image not configured");
}

/*
 * screenPixel --
 *	The image column and row under a screen point: the point must lie
 *	inside the display ports and show a pixel of the image.
 * Results:
 *	TCL_OK, or TCL_ERROR with "Undefined column " or "Undefined row".
 */
static int screenPixel(GimgMaster *m, const char *xText, const char *yText,
                       int *column, int *row)
{
    int x, y;
    if (gimgCoordinate(m, xText, yText, &x, &y) != TCL_OK)
        return TCL_ERROR;
    if (x < 0 || x >= m->hdp.size || !m->hdp.map
            || m->hdp.map[x] < 0 || m->hdp.map[x] >= m->rimg->info.columns)
        return failWith(m, "Undefined column ");
    if (y < 0 || y >= m->vdp.size || !m->vdp.map
            || m->vdp.map[y] < 0 || m->vdp.map[y] >= m->rimg->info.rows)
        return failWith(m, "Undefined row");
    *column = m->hdp.map[x];
    *row = m->vdp.map[y];
    return TCL_OK;
}

/* The colour table the image shows (a layer with a colour table), else
 * null. */
static const unsigned char (*shownTable(GimgMaster *m))[3]
{
    return m->layer > 0 && m->block.nindices > 0 ? m->block.palette
                                                 : nullptr;
}

/* A band word as the record band to read and, with a colour table, the
 * entry component its index selects (-1: the value itself). */
struct BandChoice {
    int band;
    int component;
};

static int parseBand(GimgMaster *m, const char *word, BandChoice *choice)
{
    int b;
    if (Tcl_GetInt(nullptr, word, &b) != TCL_OK)
        return failWith(m, "Invalid band number: ", word);
    int nb = m->rimg->info.nbands;
    if (shownTable(m)) {
        int layer = m->layer - 1;
        choice->band = layer >= 0 && layer < nb ? layer : 0;
        choice->component = ((b % 4) + 4) % 4 - 1;
    } else {
        choice->band = (((b - 1) % nb) + nb) % nb;
        choice->component = -1;
    }
    return TCL_OK;
}

/* Values of indices turned into components of the shown colour table. */
static void toComponents(GimgMaster *m, int component, float *values, int n)
{
    const unsigned char(*table)[3] = shownTable(m);
    if (component < 0 || !table)
        return;
    for (int i = 0; i < n; i++) {
        long index = std::lround(values[i]);
        index = index < 0 ? 0 : index > 255 ? 255 : index;
        values[i] = table[index][component];
    }
}

/* The statistics of a chosen band from histograms h; 0 without them. */
static int choiceStats(GimgMaster *m, Hist *h, const BandChoice &c,
                       GimgBandStats *st)
{
    return GimgCalcStats(m, h, c.component >= 0 ? c.component
                                : shownTable(m) ? -1
                                                : c.band,
                         st);
}

/* Appends the values "%-.3f ", as (v - mean) / std with normalize. */
static int printValues(GimgMaster *m, const BandChoice &c, int normalize,
                       const float *values, int n)
{
    GimgBandStats st;
    if (normalize && (!ramImageHist(m->rimg, 0, 1, 1)
                      || !choiceStats(m, m->rimg->histograms, c, &st)))
        return failWith(m, "Error in image histogram calculation");
    for (int i = 0; i < n; i++) {
        double v = values[i];
        if (normalize)
            v = st.std > 0 ? (v - st.mean) / st.std : 0.0;
        appendf(m->interp, "%-.3f ", v);
    }
    return TCL_OK;
}

/* A count of values, at least 1. */
static int parseCount(GimgMaster *m, const char *word, int *n)
{
    if (Tcl_GetInt(nullptr, word, n) != TCL_OK || *n < 1 || *n > 1000000)
        return failWith(m, "Invalid number of values: ", word);
    return TCL_OK;
}

/* ---- pixel ----------------------------------------------------------- */

enum { PIX_TRUE, PIX_NORMALIZE, PIX_RELATIVE, PIX_RGB, PIX_DISPLAY };

/* The display value of each displayed channel at an image pixel. */
static void printDisplayValues(GimgMaster *m, int column, int row)
{
    for (int c = 0; c < 3; c++) {
        if (m->dispBands[c] < 0)
            continue;
        int band = m->cachedLayer > 0 ? m->cachedLayer - 1 : m->dispBands[c];
        unsigned char v;
        getDataForDisp(m->rimg, row, band, &column, 0, 1, 1, m->low[c],
                       m->high[c], m->funcTable[c], &v);
        appendf(m->interp, "%3d ", v);
    }
}

/*
 * gimgPrintPixel --
 *	pixel x y ?truevalue|normalize|relative|rgb|display?: the values of
 *	every band of the pixel under the screen point (with a colour table
 *	the index and its entry's components).
 */
int gimgPrintPixel(GimgMaster *m, int argc, const char **argv)
{
    static const char *const modes[] = {"truevalue", "normalize",
                                        "relative", "rgb", "display"};
    Tcl_Interp *interp = m->interp;
    if (argc != 4 && argc != 5)
        return quotedUsage(m, argv,
                           " x y [truevalue|normalize|relative|rgb|display]");
    int mode = PIX_TRUE;
    if (argc == 5) {
        mode = -1;
        for (int i = 0; i < 5; i++)
            if (std::strcmp(argv[4], modes[i]) == 0)
                mode = i;
        if (mode < 0)
            return failWith(m, "Unknown pixel type: ", argv[4]);
    }
    if (needImage(m) != TCL_OK)
        return TCL_ERROR;
    int column, row;
    if (screenPixel(m, argv[2], argv[3], &column, &row) != TCL_OK)
        return TCL_ERROR;
    Tcl_ResetResult(interp);
    if (mode == PIX_DISPLAY) {
        printDisplayValues(m, column, row);
        return TCL_OK;
    }
    RAMImage *r = m->rimg;
    int nb = r->info.nbands;
    std::vector<float> values((size_t)std::max(nb, 4));
    getFloatBIPData(r, row, column, values.data());
    const unsigned char(*table)[3] =
        r->info.nindices > 0 ? r->info.palette
        : m->block.nindices > 0 ? m->block.palette
                                : nullptr;
    int n = nb, index = 0;
    if (table) {
        long i = std::lround(values[0]);
        index = (int)(i < 0 ? 0 : i > 255 ? 255 : i);
        values[0] = (float)i;
        for (int k = 0; k < 3; k++)
            values[(size_t)k + 1] = table[index][k];
        n = 4;
    }

    if (mode == PIX_NORMALIZE || mode == PIX_RELATIVE) {
        if (!ramImageHist(r, 0, 1, 1))
            return failWith(m, "Error in image histogram calculation");
        std::vector<GimgBandStats> st((size_t)n);
        for (int k = 0; k < n; k++)
            GimgCalcStats(m, r->histograms, table ? k - 1 : k,
                          &st[(size_t)k]);
        double lo = 0, hi = 0;
        for (int k = table ? 1 : 0; k < n; k++) {
            if (k == (table ? 1 : 0) || st[(size_t)k].min < lo)
                lo = st[(size_t)k].min;
            if (k == (table ? 1 : 0) || st[(size_t)k].max > hi)
                hi = st[(size_t)k].max;
        }
        for (int k = 0; k < n; k++) {
            double v = values[(size_t)k], out = 0.0;
            if (mode == PIX_NORMALIZE) {
                double sd = st[(size_t)k].std;
                out = sd > 0 ? (v - st[(size_t)k].mean) / (3 * sd) : 0.0;
            } else if (hi > lo) {
                out = 2 * ((v - lo) / (hi - lo) - 0.5);
            }
            appendf(interp, "%-.3f ", out);
        }
        return TCL_OK;
    }
    if (mode == PIX_TRUE) {
        for (int k = 0; k < n; k++)
            appendf(interp, "%-.3f ", values[(size_t)k]);
        return TCL_OK;
    }

    /* rgb: the bands (or components) shown as red, green and blue. */
    if (table)
        appendf(interp, "i:%d ", index);
    int nonZero = 0, single = 0;
    for (int i = 1; i <= m->comb[0] && i <= 3; i++)
        if (m->comb[i] > 0 && nonZero++ == 0)
            single = m->comb[i];
    auto shown = [&](int combBand) -> double {
        if (combBand <= 0)
            return 0.0;
        if (table)
            return values[(size_t)((combBand - 1) % 3) + 1];
        return values[(size_t)((combBand - 1) % nb)];
    };
    int isFloat = r->info.pixel == PIXEL_FLOAT;
    if (nonZero == 1) {
        double v = shown(single);
        if (isFloat)
            appendf(interp, "v: %.3f", v);
        else
            appendf(interp, "v: %ld", std::lround(v));
        return TCL_OK;
    }
    static const char *const floatFormats[] = {"r:%.3f ", "g:%.3f ",
                                               "b:%.3f"};
    static const char *const intFormats[] = {"r:%ld ", "g:%ld ", "b:%ld"};
    for (int c = 0; c < 3; c++) {
        double v = shown(c < m->comb[0] ? m->comb[c + 1] : 0);
        if (isFloat)
            appendf(interp, floatFormats[c], v);
        else
            appendf(interp, intFormats[c], std::lround(v));
    }
    return TCL_OK;
}

/* ---- lines, sections, profiles --------------------------------------- */

/*
 * gimgPrintLine --
 *	lineh|linev band x y n ?normalize?: n values of a band from the
 *	pixel under the screen point along its row or down its column.
 */
int gimgPrintLine(GimgMaster *m, int argc, const char **argv)
{
    if (argc != 6 && argc != 7)
        return quotedUsage(m, argv, " band x y n [normalize]");
    int normalize = argc == 7;
    if (normalize && std::strcmp(argv[6], "normalize") != 0)
        return failWith(m, "Unknown pixel type: ", argv[6]);
    if (needImage(m) != TCL_OK)
        return TCL_ERROR;
    BandChoice c;
    int n, column, row;
    if (parseBand(m, argv[2], &c) != TCL_OK
            || parseCount(m, argv[5], &n) != TCL_OK
            || screenPixel(m, argv[3], argv[4], &column, &row) != TCL_OK)
        return TCL_ERROR;
    RAMImage *r = m->rimg;
    std::vector<float> values((size_t)n);
    if (std::strncmp(argv[1], "linev", 5) == 0) {
        for (int i = 0; i < n; i++)
            values[(size_t)i] = row + i < r->info.rows
                                    ? getFloatPixelValue(r, column, row + i,
                                                         c.band)
                                    : 0.0f;
    } else {
        getFloatBILData(r, row, column, n, c.band, values.data());
    }
    toComponents(m, c.component, values.data(), n);
    Tcl_ResetResult(m->interp);
    return printValues(m, c, normalize, values.data(), n);
}

/* Sampling mode of an op word: "BI" bilinear (2), else nearest (1). */
static int sampleMode(const char *op)
{
    return std::strcmp(op, "BI") == 0 ? 2 : 1;
}

/*
 * gimgPrintSection --
 *	section band x0 y0 x1 y1 n ?op? ?normalize?: n samples along the
 *	segment between two image points.  Colour components are taken from
 *	the nearest pixel's index (indices do not interpolate).
 */
int gimgPrintSection(GimgMaster *m, int argc, const char **argv)
{
    if (argc < 8 || argc > 10)
        return gimgUsage(m, argv, " band x0 y0 x1 y1 n [op normalize]",
                         TCL_ERROR);
    int normalize = argc == 10;
    if (normalize && std::strcmp(argv[9], "normalize") != 0)
        return failWith(m, "Unknown pixel type: ", argv[9]);
    if (needImage(m) != TCL_OK)
        return TCL_ERROR;
    BandChoice c;
    double p[4];
    int n;
    if (parseBand(m, argv[2], &c) != TCL_OK)
        return TCL_ERROR;
    for (int i = 0; i < 4; i++)
        if (Tcl_GetDouble(m->interp, argv[3 + i], &p[i]) != TCL_OK)
            return TCL_ERROR;
    if (parseCount(m, argv[7], &n) != TCL_OK)
        return TCL_ERROR;
    int mode = argc >= 9 ? sampleMode(argv[8]) : 2;
    if (c.component >= 0)
        mode = 1;
    std::vector<float> values((size_t)n);
    readFloatBIPSect(m->rimg, p[0], p[1], p[2], p[3], 1, &c.band,
                     values.data(), n, mode);
    toComponents(m, c.component, values.data(), n);
    Tcl_ResetResult(m->interp);
    return printValues(m, c, normalize, values.data(), n);
}

/*
 * gimgPrintProfile --
 *	profile band x y n ?alpha step offset op normalize?: n samples
 *	along a ray through the pixel under the screen point.
 */
int gimgPrintProfile(GimgMaster *m, int argc, const char **argv)
{
    if (argc < 6 || argc > 11)
        return gimgUsage(m, argv, " band x y n [alpha step offset op normalize]",
                         TCL_ERROR);
    int normalize = argc == 11;
    if (normalize && std::strcmp(argv[10], "normalize") != 0)
        return failWith(m, "Unknown pixel type: ", argv[10]);
    if (needImage(m) != TCL_OK)
        return TCL_ERROR;
    BandChoice c;
    int n, column, row;
    if (parseBand(m, argv[2], &c) != TCL_OK
            || parseCount(m, argv[5], &n) != TCL_OK)
        return TCL_ERROR;
    double alpha = 0.0, step = 1.0;
    if (argc > 6 && Tcl_GetDouble(m->interp, argv[6], &alpha) != TCL_OK)
        return TCL_ERROR;
    if (argc > 7 && Tcl_GetDouble(m->interp, argv[7], &step) != TCL_OK)
        return TCL_ERROR;
    if (screenPixel(m, argv[3], argv[4], &column, &row) != TCL_OK)
        return TCL_ERROR;
    double angle = alpha * 3.1415927 / 180.0;
    double offset;
    const char *offsetWord = argc > 8 ? argv[8] : "auto";
    if (std::strcmp(offsetWord, "auto") == 0)
        offset = -column / std::cos(angle);
    else if (std::strcmp(offsetWord, "pivot") == 0)
        offset = -(n / 2) * step;
    else if (Tcl_GetDouble(m->interp, offsetWord, &offset) != TCL_OK)
        return TCL_ERROR;
    int mode = argc > 9 ? sampleMode(argv[9]) : 2;
    if (c.component >= 0)
        mode = 1;
    std::vector<float> values((size_t)n);
    getRAMImageProfile(m->rimg, column, row, c.band, angle, step, offset,
                       values.data(), n, mode);
    toComponents(m, c.component, values.data(), n);
    Tcl_ResetResult(m->interp);
    return printValues(m, c, normalize, values.data(), n);
}

/* ---- histograms and statistics -------------------------------------- */

/*
 * gimgPrintHist --
 *	hist ?band? ?short|long|normalize?: the band's statistics and bins
 *	(a negative band: the number of bands).
 */
int gimgPrintHist(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    if (argc > 4) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "wrong # args: should be \"", argv[0], " ",
                         argv[1], " ?band?\"", nullptr);
        return TCL_ERROR;
    }
    if (needImage(m) != TCL_OK)
        return TCL_ERROR;
    int b = shownTable(m) ? 0 : 1;
    if (argc > 2 && Tcl_GetInt(nullptr, argv[2], &b) != TCL_OK)
        return failWith(m, "Invalid band number: ", argv[2]);
    Tcl_ResetResult(interp);
    if (b < 0) {
        appendf(interp, "%d", shownTable(m) ? 3 : m->rimg->info.nbands);
        return TCL_OK;
    }
    enum { SHORT, LONG, NORMALIZE } type = SHORT;
    if (argc > 3) {
        if (strcasecmp(argv[3], "short") == 0)
            type = SHORT;
        else if (strcasecmp(argv[3], "long") == 0)
            type = LONG;
        else if (strcasecmp(argv[3], "normalize") == 0)
            type = NORMALIZE;
        else
            return failWith(m, "Unknown histogram type: ", argv[3]);
    }
    BandChoice c;
    GimgBandStats st;
    char word[16];
    std::snprintf(word, sizeof word, "%d", b);
    parseBand(m, word, &c);
    if (!ramImageHist(m->rimg, 0, 1, 1)
            || !choiceStats(m, m->rimg->histograms, c, &st))
        return failWith(m, "Error in image histogram calculation");
    if (type == NORMALIZE) {
        int largest = 0;
        for (int i = 0; i < st.nbins; i++)
            largest = std::max(largest, st.bins[i]);
        for (int i = 0; i < st.nbins; i++)
            appendf(interp, "%.3f ",
                    largest ? st.bins[i] * 100.0 / largest : 0.0);
        return TCL_OK;
    }
    appendf(interp, "{%-.1f %-.8f %-.8f %-.8f %-.8f} ", st.total, st.mean,
            st.std, st.min, st.max);
    for (int i = 0; i < st.nbins; i++)
        if (type == LONG || st.bins[i])
            appendf(interp, "{%d %d} ", i, st.bins[i]);
    return TCL_OK;
}

/* Drops histograms computed over a mask or regions: the record's own
 * are recomputed when next needed. */
static void dropHistograms(RAMImage *r)
{
    if (r->histograms)
        deleteHist(r->histograms, r->info.nbands);
    r->histograms = nullptr;
}

/* Region runs of shape words (exclusive or) in the histogram form. */
static int regionOf(GimgMaster *m, int count, const char **words,
                    std::vector<HistRunPoint> *runs)
{
    Polyg *shapes = parsePolygFromObj(m->interp, count, words);
    Polyg *seg = shapes ? polygComb(shapes) : nullptr;
    polygDelete(shapes);
    if (!seg)
        return failWith(m, "Error in parsing ROIs.\n");
    runs->resize((size_t)seg->count);
    for (int i = 0; i < seg->count; i++)
        (*runs)[(size_t)i] = {seg->points[i].x, seg->points[i].y};
    polygDelete(seg);
    return TCL_OK;
}

/*
 * gimgStats --
 *	stats|std|mean|min|max ?flag? ?mask ?objects??: statistics per band
 *	of the whole image, its mask raster or regions, then the pixel count.
 */
int gimgStats(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    /* "stats mask ..." reads as "stats {} mask ...". */
    std::vector<const char *> words(argv, argv + argc);
    if (argc > 2 && std::strcmp(argv[2], "mask") == 0) {
        words.insert(words.begin() + 2, "");
        argc++;
        argv = words.data();
    }
    const char *flag = argc > 2 ? argv[2] : "";
    int normalize = std::strcmp(flag, "normalize") == 0;
    int update = std::strcmp(flag, "update") == 0;
    if ((!normalize && !update && *flag && std::strcmp(flag, "true") != 0)
            || (argc > 3 && std::strcmp(argv[3], "mask") != 0)) {
        Tcl_ResetResult(interp);
        Tcl_AppendResult(interp, "Wrong # args. should be: \"", argv[0], " ",
                         argv[1], "[normalize|[true|{}]] [mask args]\"",
                         nullptr);
        return TCL_ERROR;
    }
    if (needImage(m) != TCL_OK)
        return TCL_ERROR;
    RAMImage *r = m->rimg;
    if (update) {
        ramImageHist(r, 2, 1, 1);
        return gimgConfigByRimg(m);
    }
    Hist *h;
    int own = argc > 3;
    if (argc == 4) {
        if (!m->maskRimg)
            return failWith(m, "No mask image available.\n");
        h = ramImageHistWithMask(r, m->maskRimg, 1, 1, 1);
    } else if (argc > 4) {
        std::vector<HistRunPoint> runs;
        if (regionOf(m, argc - 4, argv + 4, &runs) != TCL_OK)
            return TCL_ERROR;
        HistRegion region = {(int)runs.size() / 2, runs.data()};
        h = ramImageHistWithROI(r, &region, 1);
    } else {
        h = ramImageHist(r, 0, 1, 1);
    }
    if (!h) {
        if (own)
            dropHistograms(r);
        return failWith(m, "Error in image histogram calculation");
    }
    enum { STATS, STD, MEAN, MIN, MAX } what =
        argv[1][0] == 'm'   ? (argv[1][1] == 'e'   ? MEAN
                               : argv[1][2] == 'n' ? MIN
                                                   : MAX)
        : argv[1][1] == 't' && argv[1][2] == 'd' ? STD
                                                 : STATS;
    int table = shownTable(m) != nullptr;
    int count = table ? 4 : r->info.nbands;
    Tcl_ResetResult(interp);
    double total = 0;
    for (int k = 0; k < count; k++) {
        GimgBandStats st;
        GimgCalcStats(m, h, table ? k - 1 : k, &st);
        if (k == 0)
            total = st.total;
        double mean = st.mean, sd = st.std, lo = st.min, hi = st.max;
        if (normalize && sd != 0) {
            lo = (lo - mean) / sd;
            hi = (hi - mean) / sd;
            mean = 0;
            sd = 1;
        }
        switch (what) {
        case STATS:
            appendf(interp, "{%-.3f %-.3f %-.3f %-.3f} ", mean, sd, lo, hi);
            break;
        case STD:
            appendf(interp, "%-.3f ", sd);
            break;
        case MEAN:
            appendf(interp, "%-.3f ", mean);
            break;
        case MIN:
            appendf(interp, "%-.3f ", lo);
            break;
        case MAX:
            appendf(interp, "%-.3f ", hi);
            break;
        }
    }
    appendf(interp, "%.1f", total);
    if (own)
        dropHistograms(r);
    return TCL_OK;
}

/* ---- writes and the rest --------------------------------------------- */

/*
 * gimgSetPixel --
 *	setPixel x y ?v1 ... vn?: writes all bands of the pixel under the
 *	screen point (missing values repeat the last, none writes zeros) and
 *	tells the record's other clients.
 */
int gimgSetPixel(GimgMaster *m, int argc, const char **argv)
{
    if (argc < 4) {
        Tcl_ResetResult(m->interp);
        Tcl_AppendResult(m->interp, "Usage: ", argv[0],
                         " setPixel x y v1 v2 ... vn", nullptr);
        return TCL_OK;
    }
    if (!m->rimg)
        return TCL_OK;
    RAMImage *r = m->rimg;
    int nb = r->info.nbands;
    std::vector<float> values((size_t)nb, 0.0f);
    int ncolours = r->info.nindices > 0 ? r->info.nindices
                   : shownTable(m)      ? m->block.nindices
                                        : 0;
    for (int k = 0; k < nb; k++) {
        if (4 + k < argc) {
            double v;
            if (Tcl_GetDouble(m->interp, argv[4 + k], &v) != TCL_OK)
                return TCL_ERROR;
            if (ncolours > 0)
                v = v < 0 ? 0 : v >= ncolours ? ncolours : v;
            values[(size_t)k] = (float)v;
        } else if (k > 0) {
            values[(size_t)k] = values[(size_t)k - 1];
        }
    }
    int x, y;
    if (gimgCoordinate(m, argv[2], argv[3], &x, &y) != TCL_OK)
        return TCL_ERROR;
    if (x < 0 || x >= m->hdp.size || y < 0 || y >= m->vdp.size
            || m->hdp.map[x] < 0 || m->hdp.map[x] >= r->info.columns
            || m->vdp.map[y] < 0 || m->vdp.map[y] >= r->info.rows)
        return failWith(m, "pixel is out of image\n");
    putFloatBIPData(r, 0, nb, m->vdp.map[y], m->hdp.map[x], 1,
                    values.data());
    Tcl_ResetResult(m->interp);
    updateClient(r, m, 2);
    if (m->update)
        gimgUpdateDisplay(m);
    return TCL_OK;
}

/* resident ?flag?: the store's answer, 0 a failure. */
int gimgResident(GimgMaster *m, int argc, const char **argv)
{
    if (!m->rimg)
        return TCL_OK;
    int on = 1;
    if (argc > 2 && Tcl_GetInt(m->interp, argv[2], &on) != TCL_OK)
        return TCL_ERROR;
    int done = setRAMImageMemResident(m->rimg, on);
    Tcl_ResetResult(m->interp);
    appendf(m->interp, "%d", done);
    return done ? TCL_OK : TCL_ERROR;
}

/* graph id coords: the outline of a 128 x 128 box at the pixmap's
 * origin. */
int gimgGraph(GimgMaster *m, int argc, const char **argv)
{
    Tcl_Interp *interp = m->interp;
    if (argc < 3) {
        Tcl_ResetResult(interp);
        appendf(interp, "Usage: %s %s id coords\n", argv[0], argv[1]);
        return TCL_ERROR;
    }
    if (!m->imageVp.pixmap)
        return failWith(m, "view port not defined.\n");
    if (!m->drawGC && gimgInitDrawGC(m) != 0)
        return failWith(m, "Error in creating drawGC.\n");
    XDrawRectangle(m->display, m->imageVp.pixmap, m->gc, 0, 0, 127, 127);
    gimgRedrawDisplay(m);
    return TCL_OK;
}
