/*
 * rimgObj_bench.cpp --
 *
 *	Raster-object operations on a 4000 x 4000 x 2 BYTE ERDAS file read
 *	and written through the store (the sample scene, made once in /tmp):
 *	a linear stretch with numeric operands over the whole window
 *	(rimgMath), band 2 added to band 1 under a band map (rimgExpr) and a
 *	mirrored copy through data ranges (rimgExprWithROI).  numpy does the
 *	same arithmetic on the same file in the same run (read, float32
 *	arithmetic, rounding and clipping to bytes, written back).  Figures
 *	are milliseconds per megapixel, best of `repeats`, in CPU time (this
 *	process's thread; numpy's process).
 *	Usage: rimgObj_bench ?file? ?repeats?
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
#include "modules/data.h"
#include "rimage/rimgMath.h"
#include "rimage/rimgOps.h"
#include "rimage/rimgRange.h"
#include "benchClock.h"
#include "benchImage.h"

static const int SIDE = 4000, BANDS = 2;

/* numpy on the same file: prints "lini CPU", "add CPU", "mirror CPU" in
 * seconds per megapixel, best of `repeats`. */
static const char *numpyScript =
    "import sys, time, numpy as np\n"
    "path, side, nb, repeats = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])\n"
    "mpx = side * side / 1e6\n"
    "def load():\n"
    "    return np.fromfile(path, np.uint8, offset=128).reshape(side, nb, side)\n"
    "def save(d):\n"
    "    with open(path, 'r+b') as f:\n"
    "        f.seek(128); f.write(d.tobytes())\n"
    "def byte(v):\n"
    "    return np.clip(np.trunc(v.astype(np.float64) + 0.5), 0, 255).astype(np.uint8)\n"
    "def lini():\n"
    "    d = load().copy(); a = d[:, 0].astype(np.float32)\n"
    "    t = (a - np.float32(10)) / np.float32(190)\n"
    "    r = (np.float32(1) - t) * np.float32(0) + t * np.float32(255)\n"
    "    r = np.where(a <= 10, np.float32(0), np.where(a >= 200, np.float32(255), r))\n"
    "    d[:, 0] = byte(r); save(d)\n"
    "def add():\n"
    "    d = load().copy()\n"
    "    d[:, 0] = byte(d[:, 0].astype(np.float32) + d[:, 1].astype(np.float32)); save(d)\n"
    "def mirror():\n"
    "    d = load().copy(); d[:, 1] = d[:, 0, ::-1]; save(d)\n"
    "for name, f in (('lini', lini), ('add', add), ('mirror', mirror)):\n"
    "    c = 1e30\n"
    "    for i in range(repeats):\n"
    "        c0 = time.process_time(); f(); c = min(c, time.process_time() - c0)\n"
    "    print('%s %f' % (name, c / mpx))\n";

static bool runNumpy(const std::string &path, int repeats, double cpu[3])
{
    if (access("/usr/bin/python3", X_OK) != 0)
        return false;
    std::string script = "/tmp/velk_rimgObj_bench.py";
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
    int got = std::fscanf(p, "lini %lf\nadd %lf\nmirror %lf", &cpu[0],
                          &cpu[1], &cpu[2]);
    pclose(p);
    return got == 3;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    std::string path = argc > 1 ? argv[1] : "/tmp/velk_rimgObj_bench.lan";
    int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    if (!benchSampleScene(path, SIDE, BANDS)) {
        std::fprintf(stderr, "cannot make %s\n", path.c_str());
        return 1;
    }
    const RimgOp *lini = rimgObjParseOP("lini", 4);
    const RimgOp *add = rimgObjParseOP("+", 1);
    const RimgOp *assign = rimgObjParseOP("=", 1);
    const double stretch[] = {10, 200, 0, 255};
    const int band1[] = {1}, band2[] = {2};
    RimgRange toBand1, mirrored;
    rimgParseRange("@*,*,1", SIDE, SIDE, BANDS, &toBand1);
    rimgParseRange("@3999:0,*,0", SIDE, SIDE, BANDS, &mirrored);

    double best[3] = {1e30, 1e30, 1e30};
    for (int i = 0; i < repeats; i++) {
        for (int k = 0; k < 3; k++) {
            int err;
            RAMImage *r = openRAMImage(nullptr, path.c_str(), nullptr,
                                       nullptr, &err);
            if (!r) {
                std::fprintf(stderr, "cannot open %s\n", path.c_str());
                return 1;
            }
            double c0 = cpuSeconds();
            if (k == 0)
                rimgMath(r, 0, 0, SIDE, SIDE, band1, 1, lini->func, stretch,
                         4);
            else if (k == 1)
                rimgExpr(r, 0, 0, 0, 0, SIDE, SIDE, band1, 1, r, band2,
                         add->func, nullptr, 1);
            else
                rimgExprWithROI(r, &toBand1, r, &mirrored, assign->func,
                                nullptr, 1);
            closeRAMImage(r, nullptr);  /* writes the dirty lines */
            double c = cpuSeconds() - c0;
            best[k] = c < best[k] ? c : best[k];
        }
    }
    double mpx = (double)SIDE * SIDE / 1e6;
    const char *names[] = {"lini 10 200 0 255 (rimgMath)",
                           "+ band 2 (rimgExpr)",
                           "mirrored copy (rimgExprWithROI)"};
    double np[3];
    bool haveNumpy = runNumpy(path, repeats, np);
    std::printf("file %s: %d x %d x %d BYTE\n", path.c_str(), SIDE, SIDE,
                BANDS);
    for (int k = 0; k < 3; k++) {
        std::printf("%-32s %7.1f ms/Mpx cpu", names[k],
                    best[k] / mpx * 1e3);
        if (haveNumpy)
            std::printf("   numpy %7.1f ms/Mpx cpu, ratio numpy/velk %.2f",
                        np[k] * 1e3, np[k] * mpx / best[k]);
        std::printf("\n");
    }
    if (!haveNumpy)
        std::printf("numpy not available: no ratios\n");
    return 0;
}
