/*
 * gif_bench.cpp --
 *
 *	LZW decoding speed of a large single-frame GIF: a 4096 x 4096 grey
 *	picture (a gradient with noise of +-16 levels) written by ImageMagick,
 *	read through the store (probe, canvas, readGIF) and decoded by
 *	ImageMagick (`convert big.gif gray:/dev/null`) and giflib
 *	(`giftext -r big.gif`) in the same run.  Prints MB/s of decoded output
 *	(one byte per pixel) for each, best of five runs, in CPU time (user +
 *	system; the tools' include their start-up) so that other load on the
 *	machine does not distort the ratios, and the wall time beside it.
 *	Usage: gif_bench ?size?
 */
#include <tcl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/ramimg.h"
#include "formats/gif.h"
#include "benchClock.h"

struct Timing {
    double cpu = -1, wall = -1;     /* best of the runs */
    void add(double c, double w)
    {
        if (cpu < 0 || c < cpu)
            cpu = c;
        if (wall < 0 || w < wall)
            wall = w;
    }
};

/* Times `runs` runs of a shell command; cpu stays -1 when it fails. */
static Timing timeCommand(const std::string &cmd, int runs)
{
    Timing t;
    for (int i = 0; i < runs; i++) {
        double c0 = childCpuSeconds(), t0 = wallSeconds();
        if (std::system(cmd.c_str()) != 0)
            return Timing();
        t.add(childCpuSeconds() - c0, wallSeconds() - t0);
    }
    return t;
}

static void report(const char *name, const Timing &t, double mb,
                   const Timing &velk)
{
    std::printf("  %-28s CPU %7.3f s %7.1f MB/s   wall %7.3f s", name, t.cpu,
                mb / t.cpu, t.wall);
    if (&t != &velk)
        std::printf("   Velk faster %.2fx", t.cpu / velk.cpu);
    std::printf("\n");
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    int size = argc > 1 ? std::atoi(argv[1]) : 4096;
    if (size < 16 || size > 16384) {
        std::fprintf(stderr, "usage: gif_bench ?size (16..16384)?\n");
        return 2;
    }
    char dirTemplate[] = "/tmp/gifbench.XXXXXX";
    if (!mkdtemp(dirTemplate))
        return 1;
    std::string dir = dirTemplate, pgm = dir + "/big.pgm",
                gif = dir + "/big.gif";

    std::vector<unsigned char> grey((size_t)size * size);
    std::mt19937 rng(42);
    for (int y = 0; y < size; y++)
        for (int x = 0; x < size; x++) {
            int v = 16 + (x + y) * 223 / (2 * size) + (int)(rng() % 33) - 16;
            grey[(size_t)y * size + x] = (unsigned char)v;
        }
    FILE *f = std::fopen(pgm.c_str(), "wb");
    std::fprintf(f, "P5\n%d %d\n255\n", size, size);
    std::fwrite(grey.data(), 1, grey.size(), f);
    std::fclose(f);
    if (std::system(("convert " + pgm + " +dither " + gif).c_str()) != 0) {
        std::fprintf(stderr, "gif_bench: ImageMagick convert failed\n");
        return 1;
    }
    FILE *g = std::fopen(gif.c_str(), "rb");
    std::fseek(g, 0, SEEK_END);
    long gifBytes = std::ftell(g);
    std::fclose(g);

    double mb = (double)size * size / 1e6;
    Timing velk;
    bool correct = true;
    for (int run = 0; run < 5; run++) {
        double c0 = cpuSeconds(), t0 = wallSeconds();
        int err;
        RAMImage *r = openRAMImage(nullptr, gif.c_str(), nullptr, nullptr,
                                   &err);
        if (!r || readGIF(r) != 1) {
            std::fprintf(stderr, "gif_bench: cannot read %s\n", gif.c_str());
            return 1;
        }
        velk.add(cpuSeconds() - c0, wallSeconds() - t0);
        for (int y = 0; y < size && correct; y++)
            for (int x = 0; x < size; x++)
                if (r->info.palette[r->buffer[(size_t)y * r->lineBytes + x]][0]
                        != grey[(size_t)y * size + x]) {
                    correct = false;
                    break;
                }
        closeRAMImage(r, nullptr);
    }
    Timing im = timeCommand("convert " + gif + " gray:/dev/null", 5);
    Timing gt = timeCommand("giftext -r " + gif + " > /dev/null", 5);

    std::printf("GIF %dx%d, %ld bytes (%.2f bytes/pixel), decoded %s\n",
                size, size, gifBytes, (double)gifBytes / ((double)size * size),
                correct ? "correctly" : "WRONGLY");
    report("Velk open + readGIF", velk, mb, velk);
    if (im.cpu > 0)
        report("ImageMagick convert gray:", im, mb, velk);
    if (gt.cpu > 0)
        report("giflib giftext -r", gt, mb, velk);
    unlink(pgm.c_str());
    unlink(gif.c_str());
    rmdir(dir.c_str());
    return correct ? 0 : 1;
}
