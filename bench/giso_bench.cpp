/*
 * giso_bench.cpp --
 *
 *	One rimage gisoc pass (4 bands, K = 16) on a 4000 x 4000 x 4 BYTE
 *	ERDAS file read through the store (the sample scene, made once in
 *	/tmp and kept in the page cache), against one Lloyd iteration of
 *	scikit-learn's KMeans from the same 16 means in the same run.  The
 *	classes come from a cluster file, so no class opens: a run with
 *	-nr 0 is the final pass alone (assign and write), a run with -nr 1
 *	adds one iteration pass over every pixel (-sk 1); their difference is
 *	the cost of a pass.  Figures are milliseconds per megapixel, best of
 *	`repeats`: wall time (VELK_THREADS sets the worker count) and the
 *	process's CPU time.
 *	Usage: giso_bench ?file? ?repeats?
 */
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <tcl.h>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "modules/data.h"
#include "modules/feature.h"
#include "modules/giso.h"
#include "modules/isoPrint.h"
#include "benchClock.h"
#include "benchImage.h"

static const int SIDE = 4000, BANDS = 4, CLASSES = 16;


/* A cluster file of 16 seeded means; they are also written as text for
 * the KMeans side. */
static bool makeSeeds(const std::string &ftr, const std::string &txt)
{
    int bands[BANDS] = {0, 1, 2, 3};
    unsigned char area[ISO_PRIVATE_SIZE] = {0};
    Feature *f = newFeature(ISO_MAGIC, bands, BANDS, isoItemSize(BANDS),
                            CLASSES, area, ISO_PRIVATE_SIZE);
    if (!f)
        return false;
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(40, 200);
    FILE *t = std::fopen(txt.c_str(), "w");
    for (int k = 0; k < CLASSES; k++)
        for (int b = 0; b < BANDS; b++) {
            float m = u(rng);
            isoSetField<float>(getFeatureItem(f, k), ISO_MEAN(b), m);
            if (t)
                std::fprintf(t, "%.9g%c", m, b == BANDS - 1 ? '\n' : ' ');
        }
    if (t)
        std::fclose(t);
    int ok = putFeatures(ftr.c_str(), f);
    freeFeature(f);
    return ok == 1 && t;
}

/* Best wall and CPU seconds of gisoc with -nr nr from the seed file. */
static void timeRun(const std::string &path, const std::string &seeds,
                    const std::string &work, const char *nr, int repeats,
                    double *wall, double *cpu)
{
    std::string out = "/tmp/velk_giso_bench.bmp";
    *wall = *cpu = 1e30;
    for (int i = 0; i < repeats; i++) {
        unlink(out.c_str());
        std::string copy = "cp " + seeds + " " + work;
        if (std::system(copy.c_str()) != 0)
            return;
        const char *w[] = {"-in", path.c_str(), "-out", out.c_str(), "-f",
                           work.c_str(), "-nr", nr, "-sk", "1"};
        double w0 = wallSeconds(), c0 = processCpuSeconds();
        if (gisoAp("rimage gisoc", 10, w) != 1)
            std::fprintf(stderr, "gisoc failed\n");
        double dw = wallSeconds() - w0, dc = processCpuSeconds() - c0;
        *wall = dw < *wall ? dw : *wall;
        *cpu = dc < *cpu ? dc : *cpu;
    }
    unlink(out.c_str());
}

/* One Lloyd iteration of KMeans from the same means over the first
 * quarter of the rows: prints "kmeans WALL CPU" in seconds per Mpx. */
static const char *kmeansScript =
    "import sys, time, warnings, numpy as np\n"
    "from sklearn.cluster import KMeans\n"
    "warnings.filterwarnings('ignore')\n"
    "path, side, nb, seeds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]\n"
    "d = np.fromfile(path, np.uint8, offset=128).reshape(side, nb, side)[:side // 4]\n"
    "x = d.transpose(0, 2, 1).reshape(-1, nb).astype(np.float32)\n"
    "init = np.loadtxt(seeds, dtype=np.float32)\n"
    "w = c = 1e30\n"
    "for i in range(2):\n"
    "    w0, c0 = time.perf_counter(), time.process_time()\n"
    "    KMeans(len(init), init=init, n_init=1, max_iter=1, algorithm='lloyd').fit(x)\n"
    "    w = min(w, time.perf_counter() - w0); c = min(c, time.process_time() - c0)\n"
    "mpx = len(x) / 1e6\n"
    "print('kmeans %f %f' % (w / mpx, c / mpx))\n";

static bool runKMeans(const std::string &path, const std::string &seeds,
                      double km[2])
{
    if (access("/usr/bin/python3", X_OK) != 0)
        return false;
    std::string script = "/tmp/velk_giso_bench.py";
    FILE *f = std::fopen(script.c_str(), "w");
    if (!f)
        return false;
    std::fputs(kmeansScript, f);
    std::fclose(f);
    std::string cmd = "/usr/bin/python3 " + script + " " + path + " "
                      + std::to_string(SIDE) + " " + std::to_string(BANDS)
                      + " " + seeds + " 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return false;
    int got = std::fscanf(p, "kmeans %lf %lf", &km[0], &km[1]);
    pclose(p);
    return got == 2;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    std::string path = argc > 1 ? argv[1] : "/tmp/velk_classify_bench.lan";
    int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    if (!benchSampleScene(path, SIDE, BANDS)) {
        std::fprintf(stderr, "cannot make %s\n", path.c_str());
        return 1;
    }
    std::string seeds = "/tmp/velk_giso_bench_seeds.ftr";
    std::string text = "/tmp/velk_giso_bench_seeds.txt";
    std::string work = "/tmp/velk_giso_bench.ftr";
    if (!makeSeeds(seeds, text)) {
        std::fprintf(stderr, "cannot write the seeds\n");
        return 1;
    }
    double w0, c0, w1, c1;
    timeRun(path, seeds, work, "0", repeats, &w0, &c0);
    timeRun(path, seeds, work, "1", repeats, &w1, &c1);
    double mpx = (double)SIDE * SIDE / 1e6;
    double passWall = (w1 - w0) / mpx * 1e3, passCpu = (c1 - c0) / mpx * 1e3;
    std::printf("file %s: %d x %d x %d BYTE, K = %d, %d threads\n",
                path.c_str(), SIDE, SIDE, BANDS, CLASSES, rowThreadsCount());
    std::printf("gisoc final pass   %7.1f ms/Mpx wall %7.1f ms/Mpx cpu\n",
                w0 / mpx * 1e3, c0 / mpx * 1e3);
    std::printf("gisoc one pass     %7.1f ms/Mpx wall %7.1f ms/Mpx cpu"
                "  (target 40 wall)\n", passWall, passCpu);
    double km[2];
    if (runKMeans(path, text, km)) {
        std::printf("sklearn KMeans 1it %7.1f ms/Mpx wall %7.1f ms/Mpx cpu"
                    "  ratio kmeans/gisoc wall %.2f cpu %.2f\n",
                    km[0] * 1e3, km[1] * 1e3, km[0] * 1e3 / passWall,
                    km[1] * 1e3 / passCpu);
    } else {
        std::printf("scikit-learn not available: no ratios\n");
    }
    unlink(work.c_str());
    return 0;
}
