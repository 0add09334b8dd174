/*
 * classify_bench.cpp --
 *
 *	rimage gstat and rimage classify (Bayes, 16 classes) on a
 *	4000 x 4000 x 4 BYTE ERDAS file read through the store (the sample
 *	scene, made once in /tmp and kept in the page cache), against numpy
 *	doing the same arithmetic on the same file in the same run: mean and
 *	covariance of all pixels, and the Bayes discriminants of 16 classes.
 *	Figures are milliseconds per megapixel, best of `repeats`: wall time
 *	(the modules use worker threads, VELK_THREADS sets how many) and the
 *	process's CPU time.
 *	Usage: classify_bench ?file? ?repeats?
 */
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <tcl.h>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/rowThreads.h"
#include "modules/classify.h"
#include "modules/data.h"
#include "modules/gstat.h"
#include "benchClock.h"
#include "benchImage.h"

static const int SIDE = 4000, BANDS = 4, CLASSES = 16;


/* Best wall and process-CPU seconds of running `words` through entry. */
static void timeModule(int (*entry)(const char *, int, const char **),
                       const char *name, int argc, const char **words,
                       const char *remove, int repeats, double *wall,
                       double *cpu)
{
    auto run = [&] {
        if (remove)
            unlink(remove);
        return entry(name, argc, words) == 1;
    };
    if (!bestOf(repeats, run, wall, cpu))
        std::fprintf(stderr, "%s failed\n", name);
}

/* numpy doing the same arithmetic: prints "moments WALL CPU" and "bayes
 * WALL CPU" in seconds per megapixel, best of `repeats` (the slow Bayes
 * once, over the first quarter of the rows). */
static const char *numpyScript =
    "import sys, time, numpy as np\n"
    "path, side, nb, repeats = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])\n"
    "def best(f, repeats, mpx):\n"
    "    w = c = 1e30\n"
    "    for i in range(repeats):\n"
    "        w0, c0 = time.perf_counter(), time.process_time()\n"
    "        f()\n"
    "        w = min(w, time.perf_counter() - w0); c = min(c, time.process_time() - c0)\n"
    "    return w / mpx, c / mpx\n"
    "def load():\n"
    "    d = np.fromfile(path, np.uint8, offset=128).reshape(side, nb, side)\n"
    "    return d.transpose(0, 2, 1).reshape(-1, nb)\n"
    "def moments():\n"
    "    x = load().astype(np.float64)\n"
    "    return x.mean(axis=0), np.cov(x, rowvar=False, bias=True)\n"
    "rng = np.random.default_rng(1)\n"
    "means = rng.uniform(40, 200, (16, nb)).astype(np.float32)\n"
    "a = rng.normal(size=(16, nb, nb)); inv = (a @ a.transpose(0, 2, 1)).astype(np.float32)\n"
    "g0 = rng.normal(size=16).astype(np.float32)\n"
    "def bayes():\n"
    "    x = load()[:side * side // 4].astype(np.float32)\n"
    "    best = np.full(len(x), -np.inf, np.float32); cls = np.zeros(len(x), np.int32)\n"
    "    for k in range(16):\n"
    "        d = x - means[k]\n"
    "        g = g0[k] - np.einsum('ni,ij,nj->n', d, inv[k], d)\n"
    "        better = g > best; best[better] = g[better]; cls[better] = k\n"
    "    return cls\n"
    "print('moments %f %f' % best(moments, repeats, side * side / 1e6))\n"
    "print('bayes %f %f' % best(bayes, 1, side * side / 4e6))\n";

static bool runNumpy(const std::string &path, int repeats, double mom[2],
                     double bay[2])
{
    if (access("/usr/bin/python3", X_OK) != 0)
        return false;
    std::string script = "/tmp/velk_classify_bench.py";
    FILE *f = std::fopen(script.c_str(), "w");
    if (!f)
        return false;
    std::fputs(numpyScript, f);
    std::fclose(f);
    std::string cmd = "/usr/bin/python3 " + script + " " + path + " "
                      + std::to_string(SIDE) + " " + std::to_string(BANDS)
                      + " " + std::to_string(repeats) + " 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return false;
    int got = std::fscanf(p, "moments %lf %lf\nbayes %lf %lf", &mom[0],
                          &mom[1], &bay[0], &bay[1]);
    pclose(p);
    return got == 4;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    std::string path = argc > 1 ? argv[1] : "/tmp/velk_classify_bench.lan";
    int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    if (!benchSampleScene(path, SIDE, BANDS)) {
        std::fprintf(stderr, "cannot make %s\n", path.c_str());
        return 1;
    }
    std::string stats = "/tmp/velk_classify_bench.ftr";
    std::string all = "/tmp/velk_classify_bench_all.ftr";
    std::string out = "/tmp/velk_classify_bench.bmp";
    unlink(stats.c_str());
    /* 16 training windows on a 4 x 4 grid. */
    for (int k = 0; k < CLASSES; k++) {
        std::string name = "c" + std::to_string(k);
        std::string sr = std::to_string(k / 4 * 1000 + 300);
        std::string sc = std::to_string(k % 4 * 1000 + 300);
        const char *w[] = {"-in", path.c_str(), "-out", stats.c_str(),
                           "-stat", name.c_str(), "-sr", sr.c_str(),
                           "-sc", sc.c_str(), "-r", "300", "-c", "300"};
        statRimgAp("rimage gstat", 14, w);
    }
    const char *g[] = {"-in", path.c_str(), "-out", all.c_str(), "-stat",
                       "all"};
    double gWall, gCpu, cWall, cCpu;
    timeModule(statRimgAp, "rimage gstat", 6, g, all.c_str(), repeats,
               &gWall, &gCpu);
    const char *c[] = {"-in", path.c_str(), "-out", out.c_str(), "-stat",
                       stats.c_str(), "-o", "B"};
    timeModule(classifyAp, "rimage classify", 8, c, out.c_str(), repeats,
               &cWall, &cCpu);
    double mpx = (double)SIDE * SIDE / 1e6;
    std::printf("file %s: %d x %d x %d BYTE, %d threads\n", path.c_str(),
                SIDE, SIDE, BANDS, rowThreadsCount());
    std::printf("gstat              %7.1f ms/Mpx wall %7.1f ms/Mpx cpu"
                "  (target 30 wall)\n", gWall / mpx * 1e3, gCpu / mpx * 1e3);
    std::printf("classify Bayes x16 %7.1f ms/Mpx wall %7.1f ms/Mpx cpu"
                "  (target 70 wall)\n", cWall / mpx * 1e3, cCpu / mpx * 1e3);
    double mom[2], bay[2];
    if (runNumpy(path, repeats, mom, bay)) {
        std::printf("numpy mean+cov     %7.1f ms/Mpx wall %7.1f ms/Mpx cpu"
                    "  ratio numpy/gstat wall %.2f cpu %.2f\n",
                    mom[0] * 1e3, mom[1] * 1e3, mom[0] * mpx / gWall,
                    mom[1] * mpx / gCpu);
        std::printf("numpy Bayes x16    %7.1f ms/Mpx wall %7.1f ms/Mpx cpu"
                    "  ratio numpy/classify wall %.2f cpu %.2f\n",
                    bay[0] * 1e3, bay[1] * 1e3, bay[0] * mpx / cWall,
                    bay[1] * mpx / cCpu);
    } else {
        std::printf("numpy not available: no ratios\n");
    }
    unlink(out.c_str());
    return 0;
}
