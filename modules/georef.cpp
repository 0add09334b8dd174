/*
 * georef.cpp --
 *
 *	`rimage georef`: the option checks, the two images' frames (map
 *	coordinates from the headers, or the overlay frame of file
 *	coordinates), the split of the output window into tiles whose input
 *	area fits in 4 MiB, and per tile and band: read the area through the
 *	store, resample rows on worker threads (georefResample.h), write the
 *	rows back.  Pixels that fall outside the input keep the output's
 *	values, or become 0 with -o Y.  Relies on the module frame
 *	(moduleFrame.h), the raster store and core/rowThreads.h.
 */
#include "modules/georef.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "core/stdstream.h"
#include "modules/geoParams.h"
#include "modules/georefResample.h"
#include "modules/moduleFrame.h"

namespace {

/* Largest input area of one tile, in bytes. */
const long areaLimit = 4L << 20;
/* Output rows resampled per hand-over to the worker threads. */
const int chunkRows = 32;

enum {
    OPT_IN, OPT_OUT, OPT_P, OPT_SC, OPT_SR, OPT_R, OPT_C, OPT_B, OPT_OV,
    OPT_O, OPT_RS, OPT_COUNT
};

/* A run: its images, the map, the window and the band pairs. */
struct GeorefRun {
    RAMImage *in = nullptr;
    ModuleOutput out = {nullptr, 0, ""};
    GeorefMap map;
    int column0, row0, columns, rows;   /* window, output pixels */
    int zeroFill;
    std::vector<int> inBands, outBands;
    ~GeorefRun()
    {
        if (in)
            closeRAMImage(in, nullptr);
        moduleDiscardOutput(&out);
    }
};

void georefUsage(const char *command)
{
    stdoutPrintf("Usage: %s -in IN -out OUT -p PAR -sc SC -sr SR -r R -c C "
                 "-b B -ov OV -o O -rs RSP\n", command);
    stdoutPrintf("  -in IN    input image\n"
                 "  -out OUT  output image (must exist)\n"
                 "  -p PAR    rectification parameter file, or "
                 "@angle,scale,xshift,yshift\n"
                 "  -sc SC    start column of the output window "
                 "[output's left]\n"
                 "  -sr SR    start row of the output window "
                 "[output's top]\n"
                 "  -r R      rows of the window [to the bottom]\n"
                 "  -c C      columns of the window [to the right edge]\n"
                 "  -b B      bands i1[[:o1];i2[:o2];...] [in order]\n"
                 "  -ov OV    Y: overlay (pixel) frame, N: map frame "
                 "[Y with @, else N]\n"
                 "  -o O      Y: pixels outside the input become 0 "
                 "[keep]\n"
                 "  -rs RSP   NN nearest neighbour, BI bilinear [NN]\n");
}

/* A whole integer word. */
bool wordToInt(const char *word, int *value)
{
    char *end;
    errno = 0;
    long v = std::strtol(word, &end, 10);
    if (end == word || *end != '\0' || errno != 0 || v < -2147483647L
            || v > 2147483647L)
        return false;
    *value = (int)v;
    return true;
}

/* "@angle,scale,xshift,yshift" as four finite numbers. */
bool parseRotation(const char *text, double *v)
{
    const char *p = text + 1;
    for (int k = 0; k < 4; k++) {
        char *end;
        v[k] = std::strtod(p, &end);
        if (end == p || !std::isfinite(v[k]))
            return false;
        if (k < 3 && *end != ',')
            return false;
        if (k == 3 && *end != '\0')
            return false;
        p = end + 1;
    }
    return true;
}

/* An image's frame and the centre the rotation form turns about. */
GeorefFrame imageFrame(const ImageInfo *info, int overlay, double *cx,
                       double *cy)
{
    if (overlay) {
        *cx = info->left + info->columns / 2;
        *cy = info->top + info->rows / 2;
        return {(double)info->left, (double)info->top, 1.0, 1.0};
    }
    *cx = info->x0 + (info->columns - 1) * info->dx / 2;
    *cy = info->y0 - (info->rows - 1) * info->dy / 2;
    return {info->x0, info->y0, info->dx, -info->dy};
}

bool hasMapCells(const ImageInfo *info)
{
    return info->dx != 0.0 && info->dy != 0.0 && std::isfinite(info->dx)
           && std::isfinite(info->dy);
}

RAMImage *openOrReport(const char *name)
{
    int err = 0;
    RAMImage *r = moduleOpenImage(name, &err);
    if (!r) {
        stderrPrintf("Error in open %s.\n", name);
        ramimgErrorReport(err);
    }
    return r;
}

/*
 * paramGeorefrimg --
 *	Checks the options, opens the images and sets up the run.
 * Results:
 *	0, or -1 after a message on standard error.
 */
int paramGeorefrimg(GeorefRun *run, const ModuleParam *t)
{
    if (!t[OPT_IN].value) {
        stderrPrintf("input image is missing!\n");
        return -1;
    }
    if (!t[OPT_OUT].value) {
        stderrPrintf("Output file is missing!\n");
        return -1;
    }
    const char *par = t[OPT_P].value;
    if (!par) {
        stderrPrintf("rectification parameter missing!\n");
        return -1;
    }
    const bool rotation = par[0] == '@';
    double rot[4];
    if (rotation) {
        if (!parseRotation(par, rot) || rot[1] == 0.0) {
            stderrPrintf("Illegal rotation parameter %s: "
                         "@angle,scale,xshift,yshift with a non-zero "
                         "scale.\n", par);
            return -1;
        }
    } else {
        std::string message;
        if (getGeoParams(&run->map.params, par, &message) != 0) {
            stderrPrintf("%s\n", message.c_str());
            return -1;
        }
    }
    run->map.method = GEOREF_NN;
    if (const char *rs = t[OPT_RS].value) {
        if (strcasecmp(rs, "NN") == 0)
            run->map.method = GEOREF_NN;
        else if (strcasecmp(rs, "BI") == 0)
            run->map.method = GEOREF_BI;
        else {
            stderrPrintf("Illegal parameter for rs.\n");
            return -1;
        }
    }
    if (!(run->in = openOrReport(t[OPT_IN].value)))
        return -1;
    if (!(run->out.image = openOrReport(t[OPT_OUT].value)))
        return -1;
    RAMImage *in = run->in, *out = run->out.image;
    if (in == out) {
        stderrPrintf("The output image must not be the input image.\n");
        return -1;
    }
    int overlay = rotation;
    if (const char *ov = t[OPT_OV].value) {
        if (std::strcmp(ov, "Y") == 0)
            overlay = 1;
        else if (std::strcmp(ov, "N") == 0)
            overlay = 0;
        else {
            stderrPrintf("Illegal params for 'ov'.\n");
            return -1;
        }
    }
    run->inBands.resize(MODULE_MAX_BANDS);
    run->outBands.resize(MODULE_MAX_BANDS);
    int nb = parseBands(in->info.nbands, out->info.nbands,
                        run->inBands.data(), run->outBands.data(),
                        t[OPT_B].value);
    if (nb < 1) {
        stderrPrintf("Empty band list.\n");
        return -1;
    }
    run->inBands.resize(nb);
    run->outBands.resize(nb);

    /* The window, in output file coordinates, clipped to the output. */
    const ImageInfo &oi = out->info;
    int sc = oi.left, sr = oi.top, c, r;
    if ((t[OPT_SC].value && !wordToInt(t[OPT_SC].value, &sc))
            || (t[OPT_SR].value && !wordToInt(t[OPT_SR].value, &sr))) {
        stderrPrintf("Illegal window start.\n");
        return -1;
    }
    c = oi.left + oi.columns - sc;
    r = oi.top + oi.rows - sr;
    if ((t[OPT_C].value && !wordToInt(t[OPT_C].value, &c))
            || (t[OPT_R].value && !wordToInt(t[OPT_R].value, &r))) {
        stderrPrintf("Illegal window size.\n");
        return -1;
    }
    long x0 = (long)sc - oi.left, y0 = (long)sr - oi.top;
    long x1 = x0 + c, y1 = y0 + r;
    x0 = x0 < 0 ? 0 : x0;
    y0 = y0 < 0 ? 0 : y0;
    x1 = x1 > oi.columns ? oi.columns : x1;
    y1 = y1 > oi.rows ? oi.rows : y1;
    if (x1 <= x0 || y1 <= y0) {
        stderrPrintf("The output window lies outside the output image.\n");
        return -1;
    }
    run->column0 = (int)x0;
    run->row0 = (int)y0;
    run->columns = (int)(x1 - x0);
    run->rows = (int)(y1 - y0);

    if (!overlay) {
        for (RAMImage *img : {in, out})
            if (!hasMapCells(&img->info)) {
                stderrPrintf("%s has no map georeference: use -ov Y.\n",
                             img->info.fileName);
                return -1;
            }
    }
    double ocx, ocy, icx, icy;
    run->map.out = imageFrame(&oi, overlay, &ocx, &ocy);
    run->map.in = imageFrame(&in->info, overlay, &icx, &icy);
    run->map.inColumns = in->info.columns;
    run->map.inRows = in->info.rows;
    if (rotation)
        georefInitRotate(&run->map.params, rot[0], rot[1], rot[2], rot[3],
                         ocx, ocy, icx, icy);
    const char *o = t[OPT_O].value;
    run->zeroFill = o && (o[0] == 'Y' || o[0] == 'y');
    return 0;
}

/* One block of output rows of a tile resampled from an area: pixels and
 * validity, chunk rows x tile columns. */
struct RowBlock {
    std::vector<float> values;
    std::vector<unsigned char> bytes, valid;
};

/* Writes row i of a block into the output: the whole row with -o Y,
 * else the runs of valid pixels. */
void writeRow(GeorefRun *run, const RowBlock &b, int i, int columns,
              int column0, int row, int band, bool byteOut)
{
    RAMImage *out = run->out.image;
    const unsigned char *valid = b.valid.data() + (long)i * columns;
    const float *f = b.values.data() + (long)i * columns;
    const unsigned char *y = b.bytes.data() + (long)i * columns;
    int c = 0;
    while (c < columns) {
        if (!valid[c] && !run->zeroFill) {
            c++;
            continue;
        }
        int e = c + 1;
        while (e < columns && (valid[e] || run->zeroFill))
            e++;
        if (byteOut)
            putByteBILData(out, row, column0 + c, e - c, band, y + c);
        else
            putFloatBILData(out, row, column0 + c, e - c, band, f + c);
        c = e;
    }
}

/*
 * geoRefSub --
 *	Resamples one tile of the window into every output band; `any`
 *	tells whether the tile uses the input at all, `area` what it uses.
 * Results:
 *	1, or 0 when the user aborted.
 */
int geoRefSub(GeorefRun *run, int column0, int row0, int columns, int rows,
              bool any, const GeorefArea &area, ModuleMeter *meter,
              long *done, long total)
{
    const GeorefMap *m = &run->map;
    RAMImage *in = run->in, *out = run->out.image;
    const bool byteIn = in->info.pixel == PIXEL_BYTE;
    const bool byteOut = byteIn && out->info.pixel == PIXEL_BYTE;
    std::vector<unsigned char> areaBytes;
    std::vector<float> areaFloats;
    RowBlock block;
    const int blockRows = rows < chunkRows ? rows : chunkRows;
    block.valid.assign((size_t)blockRows * columns, 0);
    if (byteOut)
        block.bytes.assign((size_t)blockRows * columns, 0);
    else
        block.values.assign((size_t)blockRows * columns, 0.0f);

    for (size_t b = 0; b < run->inBands.size(); b++) {
        if (!any && !run->zeroFill) {
            *done += rows;
            if (!moduleMeterRow(meter, *done, total))
                return 0;
            continue;
        }
        if (any) {
            size_t n = (size_t)area.columns * area.rows;
            if (byteIn) {
                areaBytes.resize(n);
                for (int j = 0; j < area.rows; j++)
                    getByteBILData(in, area.row0 + j, area.column0,
                                   area.columns, run->inBands[b],
                                   areaBytes.data() + (size_t)j * area.columns);
            } else {
                areaFloats.resize(n);
                for (int j = 0; j < area.rows; j++)
                    getFloatBILData(in, area.row0 + j, area.column0,
                                    area.columns, run->inBands[b],
                                    areaFloats.data()
                                        + (size_t)j * area.columns);
            }
        }
        for (int r0 = row0; r0 < row0 + rows; r0 += blockRows) {
            int nr = row0 + rows - r0 < blockRows ? row0 + rows - r0
                                                  : blockRows;
            std::fill(block.valid.begin(), block.valid.end(), 0);
            std::fill(block.values.begin(), block.values.end(), 0.0f);
            std::fill(block.bytes.begin(), block.bytes.end(), 0);
            if (any) {
                rowThreadsRun(nr, 1, [&](int begin, int end) {
                    std::vector<double> ci(columns), ri(columns);
                    for (int i = begin; i < end; i++) {
                        size_t at = (size_t)i * columns;
                        georefRowPositions(m, r0 + i, column0, columns,
                                           ci.data(), ri.data());
                        if (byteOut)
                            bytebyteGeoref(m, &area, areaBytes.data(),
                                           ci.data(), ri.data(), columns,
                                           block.bytes.data() + at,
                                           block.valid.data() + at);
                        else if (byteIn)
                            byteGeoref(m, &area, areaBytes.data(),
                                       ci.data(), ri.data(), columns,
                                       block.values.data() + at,
                                       block.valid.data() + at);
                        else
                            floatGeoref(m, &area, areaFloats.data(),
                                        ci.data(), ri.data(), columns,
                                        block.values.data() + at,
                                        block.valid.data() + at);
                    }
                });
            }
            for (int i = 0; i < nr; i++) {
                writeRow(run, block, i, columns, column0, r0 + i,
                         run->outBands[b], byteOut);
                if (!moduleMeterRow(meter, ++*done, total))
                    return 0;
            }
        }
    }
    return 1;
}

/* Splits a tile until its input area fits, alternately by columns and by
 * rows, then resamples it.  Results: 1, or 0 when aborted. */
int georefTile(GeorefRun *run, int column0, int row0, int columns, int rows,
               bool byColumns, ModuleMeter *meter, long *done, long total)
{
    GeorefArea area;
    const long bytesPerPixel = run->in->info.pixel == PIXEL_BYTE ? 1 : 4;
    bool any = georefNeededArea(&run->map, column0, row0, columns, rows,
                                &area);
    if ((columns > 1 || rows > 1) && any
            && (long)area.columns * area.rows * bytesPerPixel > areaLimit) {
        if ((byColumns && columns > 1) || rows == 1) {
            int half = columns / 2;
            return georefTile(run, column0, row0, half, rows, false, meter,
                              done, total)
                   && georefTile(run, column0 + half, row0, columns - half,
                                 rows, false, meter, done, total);
        }
        int half = rows / 2;
        return georefTile(run, column0, row0, columns, half, true, meter,
                          done, total)
               && georefTile(run, column0, row0 + half, columns, rows - half,
                             true, meter, done, total);
    }
    return geoRefSub(run, column0, row0, columns, rows, any, area, meter,
                     done, total);
}

/*
 * georef --
 *	Fills the window.  Results: 1, or 0 when the user aborted.
 */
int georef(GeorefRun *run)
{
    ModuleMeter meter;
    moduleMeterStart(&meter, "georef");
    long done = 0;
    long total = (long)run->rows * (long)run->inBands.size();
    int ok = georefTile(run, run->column0, run->row0, run->columns,
                        run->rows, run->rows >= run->columns, &meter, &done,
                        total);
    moduleMeterEnd(&meter);
    return ok;
}

}  // namespace

/*
 * georefRimgAp --
 *	rimage georef -in IN -out OUT -p PAR ...
 * Results:
 *	2 usage, 1 done, 0 failed (message on standard error).
 * Side effects:
 *	The output's window is written and its clients told to redraw.
 */
int georefRimgAp(const char *command, int argc, const char **argv)
{
    if (argc == 0) {
        georefUsage(command);
        return 2;
    }
    ModuleParam table[OPT_COUNT + 1] = {
        {"-in", nullptr}, {"-out", nullptr}, {"-p", nullptr},
        {"-sc", nullptr}, {"-sr", nullptr}, {"-r", nullptr},
        {"-c", nullptr},  {"-b", nullptr},   {"-ov", nullptr},
        {"-o", nullptr},  {"-rs", nullptr},  {nullptr, nullptr}};
    int unknown = parseConfig(table, argc, argv);
    if (unknown != 0) {
        stderrPrintf("Error: %d unknown param(s).\n", unknown);
        return 0;
    }
    GeorefRun run;
    if (paramGeorefrimg(&run, table) != 0)
        return 0;
    int ok = georef(&run);
    if (!ok) {
        moduleReportCanceled(command);
        meterReset();
        return 0;
    }
    closeRAMImage(run.in, nullptr);
    run.in = nullptr;
    moduleFinishOutput(&run.out);
    meterReset();
    return 1;
}
