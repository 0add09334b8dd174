/*
 * gconv_bench.cpp --
 *
 *	`rimage gconv` with a normalised 3 x 3 kernel over a square FLOAT
 *	band, file to file through the store (input and output BASIC BSQ
 *	files), against scipy.ndimage.correlate on the same data in the same
 *	run: once in memory, once reading and writing the files as well.  The
 *	floor of the file transfers is shown too: copying the input file into
 *	the output through a 1 MiB buffer.  Times: wall seconds (the module
 *	computes on both cores) and the process's CPU seconds, per megapixel;
 *	the best of `repeats` runs.
 *
 *	Usage: gconv_bench ?size? ?repeats?   (defaults 4096, 3)
 */
#include <fcntl.h>
#include <unistd.h>

#include <tcl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "modules/gconv.h"
#include "benchClock.h"
#include "benchImage.h"


/* Best wall seconds of copying the pixels of `in` over those of `out`,
 * 1 MiB at a time: what reading and writing the files costs alone. */
static double copySeconds(const std::string &in, const std::string &out,
                          int repeats)
{
    int from = open(in.c_str(), O_RDONLY), to = open(out.c_str(), O_WRONLY);
    std::vector<char> buffer(1 << 20);
    double best = 1e30;
    for (int i = 0; from >= 0 && to >= 0 && i < repeats; i++) {
        double w0 = wallSeconds();
        off_t at = BASIC_HEADER_SIZE;
        ssize_t n;
        while ((n = pread(from, buffer.data(), buffer.size(), at)) > 0
               && pwrite(to, buffer.data(), (size_t)n, at) == n)
            at += n;
        best = std::min(best, wallSeconds() - w0);
    }
    if (from >= 0)
        close(from);
    if (to >= 0)
        close(to);
    return best;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    int size = argc > 1 ? std::atoi(argv[1]) : 4096;
    int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string in = "/tmp/velk_module_bench_" + std::to_string(size) + ".img";
    std::string out = "/tmp/velk_gconv_bench_out.img";
    std::vector<float> pixels;
    if (size < 3 || !benchFloatImage(in, size, &pixels)) {
        std::fprintf(stderr, "cannot make %s\n", in.c_str());
        return 1;
    }
    if (!benchCreateFloat(out, size)) {
        std::fprintf(stderr, "cannot make %s\n", out.c_str());
        return 1;
    }
    const char *words[] = {"-in", in.c_str(), "-out", out.c_str(), "-norm",
                           "yes", "-kn", "@2D 3 3 1 2 1 2 4 2 1 2 1"};
    double bestWall, bestCpu;
    if (!bestOf(repeats, [&] { return gconvAp("rimage gconv", 8, words) == 1; },
                &bestWall, &bestCpu)) {
        std::fprintf(stderr, "gconv failed\n");
        return 1;
    }
    double mpx = (double)size * size / 1e6;
    std::printf("gconv 3x3 FLOAT %dx%d, file to file: %.2f ms/Mpx wall, "
                "%.2f ms/Mpx CPU\n", size, size, bestWall * 1e3 / mpx,
                bestCpu * 1e3 / mpx);
    double copy = copySeconds(in, out, repeats);
    std::printf("copying the input file over the output: %.2f ms/Mpx wall; "
                "ratio velk/copy %.2f\n", copy * 1e3 / mpx, bestWall / copy);

    std::string py =
        "/usr/bin/python3 -c \"\n"
        "import time\nimport numpy as np\nfrom scipy import ndimage\n"
        "n = " + std::to_string(size) + "\n"
        "w = np.array([[1, 2, 1], [2, 4, 2], [1, 2, 1]], np.float32) / 16\n"
        "best = [1e30, 1e30]\n"
        "for i in range(" + std::to_string(repeats) + "):\n"
        "    t = time.perf_counter()\n"
        "    a = np.fromfile('" + in + "', '<f4', offset=860).reshape(n, n)\n"
        "    t1 = time.perf_counter()\n"
        "    o = ndimage.correlate(a, w, mode='nearest')\n"
        "    t2 = time.perf_counter()\n"
        "    o.tofile('/tmp/velk_gconv_bench_scipy.raw')\n"
        "    best[0] = min(best[0], t2 - t1)\n"
        "    best[1] = min(best[1], time.perf_counter() - t)\n"
        "print(best[0], best[1])\n\" 2>/dev/null";
    std::fflush(stdout);
    FILE *p = popen(py.c_str(), "r");
    double memory = 0, files = 0;
    if (p && std::fscanf(p, "%lf %lf", &memory, &files) == 2) {
        std::printf("scipy correlate in memory: %.1f ms/Mpx; ratio velk/scipy %.2f\n",
                    memory * 1e3 / mpx, bestWall / memory);
        std::printf("scipy with the files: %.1f ms/Mpx; ratio velk/scipy %.2f\n",
                    files * 1e3 / mpx, bestWall / files);
    } else
        std::printf("scipy not found: no ratio\n");
    if (p)
        pclose(p);
    std::remove("/tmp/velk_gconv_bench_scipy.raw");
    return 0;
}
