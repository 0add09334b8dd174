/*
 * georef_bench.cpp --
 *
 *	rimage georef, order 2, bilinear, on a 2000 x 2000 x 4 BYTE ERDAS
 *	file (the sample scene, made once in /tmp) into an existing ERDAS
 *	file of the same size, file to file through the store, against
 *	gdalwarp in the same run given GCPs of the same polynomial
 *	(gdal_translate -gcp, then gdalwarp -order 2 -r bilinear into an
 *	uncompressed GeoTIFF).  Figures are milliseconds per output
 *	megapixel, best of `repeats`: wall time (worker threads,
 *	VELK_THREADS sets how many) and CPU time.  The output is also made
 *	with one thread (a child run with VELK_THREADS=1) and compared byte
 *	for byte.
 *	Usage: georef_bench ?repeats?
 */
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <tcl.h>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "modules/data.h"
#include "modules/geoParams.h"
#include "modules/georef.h"
#include "benchClock.h"

static const int SIDE = 2000, BANDS = 4;
static const char *input = "/tmp/velk_georef_bench_in.lan";
static const char *params = "/tmp/velk_georef_bench.par";


static ImageInfo sceneInfo(const char *path)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path);
    info.imgid = IMG_E74;
    info.pixel = PIXEL_BYTE;
    info.rows = info.columns = SIDE;
    info.nbands = BANDS;
    info.transparent = -1;
    info.extraFd = -1;
    return info;
}

/* The sample scene (map origin 500000, 4200000, 30 m cells). */
static bool makeInput(void)
{
    struct stat st;
    if (stat(input, &st) == 0
            && st.st_size == 128 + (off_t)SIDE * SIDE * BANDS)
        return true;
    ImageInfo info = sceneInfo(input);
    info.mapid = 1;
    info.x0 = 500000.0;
    info.y0 = 4200000.0;
    info.dx = info.dy = 30.0;
    return dataWriteSample(&info, 1) == 1;
}

/* An empty output in a frame turned against the input's. */
static bool makeOutput(const char *path)
{
    ImageInfo info = sceneInfo(path);
    info.mapid = 1;
    info.x0 = 500000.0;
    info.y0 = 4200000.0;
    info.dx = info.dy = 30.0;
    info.offset = 128;
    unlink(path);
    return createImage(&info) >= 0;
}

/* Output frame -> input frame: a turn of 7 degrees about the centre, a
 * scale of 0.9 and a quadratic bend of up to 40 m. */
static void polynomial(GeoParams *p)
{
    std::memset(p, 0, sizeof *p);
    p->order = 2;
    p->n = 6;
    p->mx1 = p->mx2 = 500000.0 + SIDE * 15.0;
    p->my1 = p->my2 = 4200000.0 - SIDE * 15.0;
    double t = 7.0 * M_PI / 180.0, s = 0.9;
    double bend = 40.0 / (SIDE * 15.0 * SIDE * 15.0);
    const double cx[6] = {p->mx2, s * std::cos(t), s * std::sin(t), bend, 0,
                          0};
    const double cy[6] = {p->my2, -s * std::sin(t), s * std::cos(t), 0,
                          bend, 0};
    std::memcpy(p->cx, cx, sizeof cx);
    std::memcpy(p->cy, cy, sizeof cy);
}

static int runGeoref(const char *out)
{
    const char *w[] = {"-in", input, "-out", out, "-p", params, "-rs", "BI",
                       "-o", "Y"};
    return georefRimgAp("rimage georef", 10, w);
}

static bool sameFiles(const char *a, const char *b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::stringstream sa, sb;
    sa << fa.rdbuf();
    sb << fb.rdbuf();
    return fa && fb && sa.str() == sb.str();
}

/* gdalwarp with 25 GCPs of the polynomial: best wall and CPU seconds of
 * the warp alone (the GCP VRT is made once). */
static bool timeGdalwarp(const GeoParams *p, int repeats, double *wall,
                         double *cpu)
{
    if (std::system("command -v gdalwarp >/dev/null 2>&1") != 0)
        return false;
    std::string cmd = "gdal_translate -q -of VRT";
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 5; j++) {
            /* GCP: input pixel/line, output map coordinates. */
            double x1 = 500000.0 + (j + 0.5) * SIDE * 6.0;
            double y1 = 4200000.0 - (i + 0.5) * SIDE * 6.0;
            double x2, y2;
            geoParamsMap(p, x1, y1, &x2, &y2);
            double col = (x2 - 500000.0) / 30.0 + 0.5;
            double row = (4200000.0 - y2) / 30.0 + 0.5;
            char buf[160];
            std::snprintf(buf, sizeof buf, " -gcp %.6f %.6f %.6f %.6f", col,
                          row, x1, y1);
            cmd += buf;
        }
    cmd += std::string(" ") + input + " /tmp/velk_georef_bench.vrt";
    if (std::system(cmd.c_str()) != 0)
        return false;
    *wall = *cpu = 1e30;
    for (int k = 0; k < repeats; k++) {
        unlink("/tmp/velk_georef_bench_gdal.tif");
        double w0 = wallSeconds(), c0 = childCpuSeconds();
        char warp[512];
        /* Pixel centres on those of the georef output. */
        std::snprintf(warp, sizeof warp,
                      "gdalwarp -q -order 2 -r bilinear -te 499985 %d %d "
                      "4200015 -ts %d %d -co TILED=NO "
                      "/tmp/velk_georef_bench.vrt "
                      "/tmp/velk_georef_bench_gdal.tif",
                      4200015 - SIDE * 30, 499985 + SIDE * 30, SIDE, SIDE);
        if (std::system(warp) != 0)
            return false;
        *wall = std::min(*wall, wallSeconds() - w0);
        *cpu = std::min(*cpu, childCpuSeconds() - c0);
    }
    return true;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--single") == 0)
        return runGeoref(argv[2]) == 1 ? 0 : 1;
    int repeats = argc > 1 ? std::atoi(argv[1]) : 3;
    GeoParams p;
    polynomial(&p);
    std::string message;
    if (!makeInput() || putGeoParams(&p, params, &message) != 0) {
        std::fprintf(stderr, "cannot make the input or parameters\n");
        return 1;
    }
    const char *out = "/tmp/velk_georef_bench_out.lan";
    const char *single = "/tmp/velk_georef_bench_one.lan";
    double wall = 1e30, cpu = 1e30;
    for (int k = 0; k < repeats; k++) {
        if (!makeOutput(out))
            return 1;
        double w0 = wallSeconds(), c0 = processCpuSeconds();
        if (runGeoref(out) != 1) {
            std::fprintf(stderr, "georef failed\n");
            return 1;
        }
        wall = std::min(wall, wallSeconds() - w0);
        cpu = std::min(cpu, processCpuSeconds() - c0);
    }
    double mpx = (double)SIDE * SIDE / 1e6;
    std::printf("georef order 2 bilinear, %d x %d x %d BYTE, %d threads\n",
                SIDE, SIDE, BANDS, rowThreadsCount());
    std::printf("georef   %7.1f ms/Mpx wall %7.1f ms/Mpx cpu  "
                "(target 100 wall)\n", wall / mpx * 1e3, cpu / mpx * 1e3);

    makeOutput(single);
    std::string self = std::string("VELK_THREADS=1 ") + argv[0]
                       + " --single " + single;
    bool same = std::system(self.c_str()) == 0 && sameFiles(out, single);
    std::printf("one thread gives the same bytes: %s\n", same ? "yes" : "NO");

    double gWall, gCpu;
    if (timeGdalwarp(&p, repeats, &gWall, &gCpu))
        std::printf("gdalwarp %7.1f ms/Mpx wall %7.1f ms/Mpx cpu  "
                    "ratio gdalwarp/georef wall %.2f cpu %.2f\n",
                    gWall / mpx * 1e3, gCpu / mpx * 1e3, gWall / wall,
                    gCpu / cpu);
    else
        std::printf("gdalwarp not available: no ratio\n");
    unlink(single);
    return same ? 0 : 1;
}
