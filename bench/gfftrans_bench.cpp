/*
 * gfftrans_bench.cpp --
 *
 *	`rimage gfftrans -op XYRI` (forward rows and columns) of a square
 *	FLOAT band, file to file through the store and the FFT file routines
 *	with the 4 MiB budget, against numpy's fft2 (reading the same file and
 *	writing the complex64 result) and scipy's rfft2 (in memory) in the
 *	same run.  Also checks once that the block passes give the values of
 *	one transform of the whole image in memory.  Times: wall seconds
 *	(the module uses both cores) and the process's CPU seconds; the best
 *	of `repeats` runs counts.
 *
 *	Usage: gfftrans_bench ?size? ?repeats?   (defaults 4096, 3)
 */
#include <fcntl.h>
#include <unistd.h>

#include <tcl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "modules/fftCore.h"
#include "modules/gfftrans.h"
#include "benchClock.h"
#include "benchImage.h"


/* The same transform of the whole image as one block in memory: true when
 * the file holds exactly its values. */
static bool sameAsOneBlock(const std::vector<float> &pixels, int size,
                           const std::string &fft)
{
    std::vector<float> all((size_t)size * size * 2, 0.0f);
    for (size_t i = 0; i < pixels.size(); i++)
        all[2 * i] = pixels[i];
    FFTTables t;
    fftTablesBuild(&t, size, 1);
    ffte(all.data(), t, size, size, 1);
    fftl(all.data(), t, size, size, 1);
    std::vector<float> file(all.size());
    int fd = open(fft.c_str(), O_RDONLY);
    bool ok = fd >= 0 && pread(fd, file.data(), file.size() * 4, 1024)
                         == (ssize_t)(file.size() * 4);
    if (fd >= 0)
        close(fd);
    return ok && std::memcmp(file.data(), all.data(), file.size() * 4) == 0;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    int size = argc > 1 ? std::atoi(argv[1]) : 4096;
    int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string img = "/tmp/velk_module_bench_" + std::to_string(size) + ".img";
    std::string fft = "/tmp/velk_fft_bench.fft";
    std::vector<float> pixels;
    if (size < 2 || (size & (size - 1)) || !benchFloatImage(img, size, &pixels)) {
        std::fprintf(stderr, "cannot make %s (size must be a power of two)\n",
                     img.c_str());
        return 1;
    }
    const char *words[] = {"-in", img.c_str(), "-out", fft.c_str(),
                           "-op", "XYRI"};
    double bestWall, bestCpu;
    if (!bestOf(repeats, [&] { return gFFTransAp("rimage gfftrans", 6, words) == 1; },
                &bestWall, &bestCpu)) {
        std::fprintf(stderr, "gfftrans failed\n");
        return 1;
    }
    double mpx = (double)size * size / 1e6;
    std::printf("gfftrans XYRI %dx%d, file to file: %.3f s wall, %.3f s CPU "
                "(%.1f ms/Mpx wall)\n", size, size, bestWall, bestCpu,
                bestWall * 1e3 / mpx);
    std::printf("same values as one block in memory: %s\n",
                sameAsOneBlock(pixels, size, fft) ? "yes" : "NO");

    std::string py =
        "/usr/bin/python3 -c \"\n"
        "import sys, time\nimport numpy as np\n"
        "n = " + std::to_string(size) + "\n"
        "best = [1e30, 1e30]\n"
        "for i in range(" + std::to_string(repeats) + "):\n"
        "    t = time.perf_counter()\n"
        "    a = np.fromfile('" + img + "', '<f4', offset=860).reshape(n, n)\n"
        "    np.fft.fft2(a).astype(np.complex64).tofile('/tmp/velk_fft_bench.npy.raw')\n"
        "    best[0] = min(best[0], time.perf_counter() - t)\n"
        "    try:\n"
        "        import scipy.fft\n"
        "        t = time.perf_counter(); scipy.fft.rfft2(a); best[1] = min(best[1], time.perf_counter() - t)\n"
        "    except ImportError:\n"
        "        pass\n"
        "print(best[0], best[1])\n\" 2>/dev/null";
    std::fflush(stdout);
    FILE *p = popen(py.c_str(), "r");
    double numpyFile = 0, scipyMem = 0;
    if (p && std::fscanf(p, "%lf %lf", &numpyFile, &scipyMem) == 2) {
        std::printf("numpy fft2 file to file: %.3f s wall; ratio velk/numpy %.2f\n",
                    numpyFile, bestWall / numpyFile);
        if (scipyMem < 1e29)
            std::printf("scipy rfft2 in memory: %.3f s wall; ratio velk/scipy %.2f\n",
                        scipyMem, bestWall / scipyMem);
    } else
        std::printf("numpy not found: no ratio\n");
    if (p)
        pclose(p);
    unlink(fft.c_str());
    unlink("/tmp/velk_fft_bench.npy.raw");
    return 0;
}
