/*
 * gdem_bench.cpp --
 *
 *	Terrain shading file to file: `rimage gdem` (Lambert, defaults:
 *	read the DEM through the store, shade, average, write a new shade
 *	file) against `gdaldem hillshade` on the same DEM in the same run.
 *	The DEM is a SHORT TIFF of synthetic terrain that both read.  Times
 *	are the best of `repeats` runs in wall seconds and in CPU seconds
 *	(this process's, all threads; gdaldem's from its rusage), per
 *	megapixel; VELK_THREADS=1 gives the single-threaded figure.
 *
 *	Usage: gdem_bench ?folder? ?size? ?repeats?   (defaults
 *	/tmp/velk_gdem_bench, 4096, 5)
 */
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <tcl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "modules/gdem.h"
#include "benchClock.h"


/* Writes the DEM through the store: ridges and valleys in metres. */
static bool makeDem(const std::string &path, int size)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && st.st_size > (off_t)size * size * 2)
        return true;
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = IMG_TIFF;
    info.pixel = PIXEL_SHORT;
    info.bits = 16;
    info.columns = info.rows = size;
    info.nbands = 1;
    info.transparent = -1;
    info.extraFd = -1;
    if (createImage(&info) < 0)
        return false;
    int err;
    RAMImage *r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
    if (!r)
        return false;
    std::vector<float> row(size);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++)
            row[x] = (float)(800 + 300 * std::sin(x * 0.013) * std::cos(y * 0.011)
                             + 120 * std::sin((x + 2 * y) * 0.047)
                             + 40 * std::cos((3 * x - y) * 0.11));
        putFloatBILData(r, y, 0, size, 0, row.data());
    }
    closeRAMImage(r, nullptr);
    return true;
}

struct Best {
    double wall = 1e30, cpu = 1e30;
    void add(double c, double w)
    {
        cpu = c < cpu ? c : cpu;
        wall = w < wall ? w : wall;
    }
};

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    std::string folder = argc > 1 ? argv[1] : "/tmp/velk_gdem_bench";
    int size = argc > 2 ? std::atoi(argv[2]) : 4096;
    int repeats = argc > 3 ? std::atoi(argv[3]) : 5;
    mkdir(folder.c_str(), 0700);
    std::string dem = folder + "/dem.tif", shade = folder + "/shade.tif",
                hill = folder + "/hill.tif";
    if (size < 16 || !makeDem(dem, size)) {
        std::fprintf(stderr, "cannot make %s\n", dem.c_str());
        return 1;
    }
    double mpx = (double)size * size / 1e6;
    Best velk, gdal;
    bool haveGdal = std::system("gdalinfo --version >/dev/null 2>&1") == 0;
    for (int i = 0; i < repeats; i++) {
        unlink(shade.c_str());
        const char *words[] = {"-dem", dem.c_str(), "-shade", shade.c_str()};
        double c0 = processCpuSeconds(), t0 = wallSeconds();
        if (gdemAp("rimage gdem", 4, words) != 1) {
            std::fprintf(stderr, "gdem failed\n");
            return 1;
        }
        velk.add(processCpuSeconds() - c0, wallSeconds() - t0);
        if (haveGdal) {
            std::string cmd = "gdaldem hillshade -q -az 135 -alt 45 " + dem
                              + " " + hill + " 2>/dev/null";
            c0 = childCpuSeconds();
            t0 = wallSeconds();
            if (std::system(cmd.c_str()) != 0)
                haveGdal = false;
            gdal.add(childCpuSeconds() - c0, wallSeconds() - t0);
        }
    }
    std::printf("DEM %s: %d x %d SHORT TIFF, %.1f Mpx; %d thread(s)\n",
                dem.c_str(), size, size, mpx, rowThreadsCount());
    std::printf("rimage gdem        %7.1f ms/Mpx wall  %7.1f ms/Mpx CPU\n",
                velk.wall * 1e3 / mpx, velk.cpu * 1e3 / mpx);
    if (haveGdal) {
        std::printf("gdaldem hillshade  %7.1f ms/Mpx wall  %7.1f ms/Mpx CPU\n",
                    gdal.wall * 1e3 / mpx, gdal.cpu * 1e3 / mpx);
        std::printf("ratio gdaldem / gdem: %.2f wall, %.2f CPU\n",
                    gdal.wall / velk.wall, gdal.cpu / velk.cpu);
    } else {
        std::printf("gdaldem not found: no ratio\n");
    }
    return 0;
}
