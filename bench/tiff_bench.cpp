/*
 * tiff_bench.cpp --
 *
 *	Histogram of a large 3-band Byte TIFF in tiles, in GDAL's strips and
 *	in Velk's single strip, against `gdalinfo -stats` on the same files in
 *	the same run.  Velk's side is ramImageHist (every line of every band
 *	through the line cache, as `rimage hist` does) on a freshly opened
 *	record; a second figure reads the blocks alone through getTiffBlock
 *	with a counting loop, to show the reader's share.  Times are CPU
 *	seconds (this thread; gdalinfo's from its rusage) and wall seconds.
 *
 *	Usage: tiff_bench ?folder? ?size?   (defaults /tmp/velk_tiff_bench,
 *	8192: an 8192 x 8192 x 3 image, 192 MiB per file).
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tcl.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/tiff.h"
#include "benchClock.h"

static int sh(const std::string &cmd)
{
    std::fflush(stdout);
    return std::system(cmd.c_str());
}

/* Writes the test image through Velk's writer: a pattern with every
 * value in each band. */
static int makeImage(const std::string &path, int size)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = IMG_TIFF;
    info.pixel = PIXEL_BYTE;
    info.columns = info.rows = size;
    info.nbands = 3;
    if (createImage(&info) != 8)
        return 0;
    int fd = open(path.c_str(), O_RDWR);
    std::vector<unsigned char> row((size_t)size * 3);
    for (int y = 0; y < size; y++) {
        for (int x = 0; x < size; x++)
            for (int b = 0; b < 3; b++)
                row[(size_t)x * 3 + b] = (unsigned char)(x * 7 + y * 13 + b * 50
                                                         + ((x * y) >> 5));
        if (pwrite(fd, row.data(), row.size(), 8 + (off_t)y * row.size())
                != (ssize_t)row.size()) {
            close(fd);
            return 0;
        }
    }
    close(fd);
    return 1;
}

struct Stats {
    double mean[3], std[3];
};

/* Opens the file, reads every block and counts each band's values. */
static int blockHistogram(const std::string &path, Stats *out)
{
    int err;
    RAMImage *r = createRAMImage(path.c_str(), nullptr, nullptr, &err);
    if (!r)
        return 0;
    std::vector<double> bins(3 * 256, 0.0);
    std::vector<uint64_t> counts(3 * 256);
    int nb = r->info.nbands, w = r->info.columns;
    for (int y = 0; y < r->info.rows;) {
        int first = y, count;
        unsigned char *block = getTiffBlock(r, &first, &count);
        if (!block)
            break;
        for (int i = 0; i < count; i++) {
            const unsigned char *p = block + (size_t)i * r->info.block;
            uint64_t *c0 = &counts[0], *c1 = &counts[256], *c2 = &counts[512];
            for (int x = 0; x < w; x++, p += nb) {
                c0[p[0]]++;
                c1[p[1]]++;
                c2[p[2]]++;
            }
        }
        std::free(block);
        y = first + count;
    }
    for (int b = 0; b < 3; b++) {
        double n = 0, s = 0, s2 = 0;
        for (int v = 0; v < 256; v++) {
            double c = (double)counts[b * 256 + v];
            n += c;
            s += c * v;
            s2 += c * v * v;
        }
        out->mean[b] = s / n;
        out->std[b] = std::sqrt(s2 / n - out->mean[b] * out->mean[b]);
    }
    destroyRAMImage(r);
    return 1;
}

/* Opens the file and builds its histograms through the line cache. */
static int velkHistogram(const std::string &path, Stats *out)
{
    int err;
    RAMImage *r = createRAMImage(path.c_str(), nullptr, nullptr, &err);
    if (!r)
        return 0;
    Hist *h = ramImageHist(r, 0, 1, 1);
    for (int b = 0; h && b < 3; b++) {
        completeHist(&h[b]);
        out->mean[b] = h[b].mean;
        out->std[b] = h[b].std;
    }
    destroyRAMImage(r);
    return h != nullptr;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    std::string dir = argc > 1 ? argv[1] : "/tmp/velk_tiff_bench";
    int size = argc > 2 ? std::atoi(argv[2]) : 8192;
    mkdir(dir.c_str(), 0700);
    std::string base = dir + "/velk.tif", tiled = dir + "/tiled.tif",
                strips = dir + "/strips.tif";
    if (!makeImage(base, size)) {
        std::fprintf(stderr, "cannot write %s\n", base.c_str());
        return 1;
    }
    if (sh("gdal_translate -q -co TILED=YES " + base + " " + tiled
           + " 2>/dev/null") != 0
            || sh("gdal_translate -q " + base + " " + strips + " 2>/dev/null")
                   != 0) {
        std::fprintf(stderr, "gdal_translate failed\n");
        return 1;
    }
    std::printf("%d x %d x 3 Byte; best of 3 runs, files in the page cache\n"
                "%-11s %9s %9s %9s %9s %7s %7s %9s\n", size, size, "file",
                "velk cpu", "gdal cpu", "velk wall", "gdal wall", "cpu x",
                "wall x", "blocks");
    for (const std::string &f : {tiled, strips, base}) {
        sh("cat " + f + " > /dev/null");
        Stats s, sb;
        double vc = 1e30, vw = 1e30, gc = 1e30, gw = 1e30, bc = 1e30;
        for (int run = 0; run < 3; run++) {
            double c = cpuSeconds(), w = wallSeconds();
            if (!velkHistogram(f, &s)) {
                std::fprintf(stderr, "velk cannot read %s\n", f.c_str());
                return 1;
            }
            vc = std::min(vc, cpuSeconds() - c);
            vw = std::min(vw, wallSeconds() - w);
            c = cpuSeconds();
            blockHistogram(f, &sb);
            bc = std::min(bc, cpuSeconds() - c);
            std::remove((f + ".aux.xml").c_str());
            c = childCpuSeconds();
            w = wallSeconds();
            sh("gdalinfo -stats " + f + " > /dev/null 2>&1");
            gw = std::min(gw, wallSeconds() - w);
            gc = std::min(gc, childCpuSeconds() - c);
        }
        std::remove((f + ".aux.xml").c_str());
        std::printf("%-11s %9.3f %9.3f %9.3f %9.3f %7.2f %7.2f %9.3f\n",
                    f.substr(dir.size() + 1).c_str(), vc, gc, vw, gw, gc / vc,
                    gw / vw, bc);
        std::printf("  velk means %.3f %.3f %.3f, std %.3f %.3f %.3f\n",
                    s.mean[0], s.mean[1], s.mean[2], s.std[0], s.std[1],
                    s.std[2]);
    }
    std::printf("x = gdal time / velk time (above 1: velk faster); blocks ="
                " cpu of getTiffBlock and a counting loop alone\n");
    std::printf("gdalinfo's means of %s:\n", tiled.c_str());
    sh("gdalinfo -stats " + tiled + " 2>/dev/null | grep -E '  Minimum='");
    std::remove((tiled + ".aux.xml").c_str());
    return 0;
}
