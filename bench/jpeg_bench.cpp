/*
 * jpeg_bench.cpp --
 *
 *	Decoding a 4096 x 4096 colour JPEG through the store (open, the
 *	first line read decoding the picture into the cache, every line of
 *	every band read back) against djpeg decoding the same file to
 *	/dev/null, in the same run.  The picture is encoded by cjpeg when it
 *	is installed, else by dumpJPEG.  Prints the best of several runs of
 *	each, CPU and wall seconds, and their ratios (target: at most 1.2);
 *	on a machine shared with other jobs the CPU ratio is the one to read.
 *
 *	Usage: jpeg_bench ?size? ?runs?
 */
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <tcl.h>

#include "core/ramimg.h"
#include "formats/jpeg.h"
#include "benchClock.h"

/* A photo-like picture: smooth gradients with some texture, as PPM. */
static std::vector<unsigned char> makePicture(int n)
{
    std::string head = "P6\n" + std::to_string(n) + " " + std::to_string(n)
                       + "\n255\n";
    std::vector<unsigned char> v(head.begin(), head.end());
    v.reserve(v.size() + (size_t)n * n * 3);
    unsigned seed = 12345;
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            seed = seed * 1103515245u + 12345u;
            int noise = (int)((seed >> 16) & 15) - 8;
            int r = (x * 255 / n + noise), g = (y * 255 / n + noise),
                b = ((x + y) * 127 / n + ((x / 64 + y / 64) % 2) * 60);
            v.push_back((unsigned char)std::clamp(r, 0, 255));
            v.push_back((unsigned char)std::clamp(g, 0, 255));
            v.push_back((unsigned char)std::clamp(b, 0, 255));
        }
    return v;
}

static bool writeFile(const std::string &path,
                      const std::vector<unsigned char> &data)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && ok;
}

/* Encodes the picture into `jpg`: cjpeg when installed, else dumpJPEG. */
static bool makeJpeg(const std::string &dir, int n, const std::string &jpg,
                     const char **by)
{
    std::vector<unsigned char> ppm = makePicture(n);
    std::string src = dir + "/src.ppm";
    if (!writeFile(src, ppm))
        return false;
    std::string cmd = "cjpeg -quality 90 -outfile " + jpg + " " + src
                      + " 2>/dev/null";
    if (std::system(cmd.c_str()) == 0) {
        *by = "cjpeg";
        return true;
    }
    size_t header = ppm.size() - (size_t)n * n * 3;
    std::vector<unsigned char> lines((size_t)n * n * 3);
    for (size_t y = 0; y < (size_t)n; y++)
        for (size_t b = 0; b < 3; b++)
            for (size_t x = 0; x < (size_t)n; x++)
                lines[(y * 3 + b) * n + x] = ppm[header + (y * n + x) * 3 + b];
    int fd = open(jpg.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    int ok = dumpJPEG(fd, n, n, 3, 90, lines.data(), n);
    close(fd);
    *by = "dumpJPEG";
    return ok == 1;
}

/* Opens the file in the store, decodes it into the cache and reads every
 * line of every band.  Returns the wall seconds taken (the CPU seconds
 * in *cpu), or -1. */
static double throughStore(const std::string &jpg, unsigned *checksum,
                           double *cpu)
{
    double c0 = cpuSeconds(), t0 = wallSeconds();
    int err;
    RAMImage *r = openRAMImage(nullptr, jpg.c_str(), nullptr, nullptr, &err);
    if (!r)
        return -1;
    double cOpen = cpuSeconds() - c0;
    /* The first line read decodes the whole picture into the cache. */
    unsigned sum = r->getLine(r, 0, 0, 1)[0];
    double cDecode = cpuSeconds() - c0;
    for (int y = 0; y < r->info.rows; y++)
        for (int b = 0; b < r->info.nbands; b++)
            sum += r->getLine(r, y, b, 1)[y % r->info.columns];
    double cLines = cpuSeconds() - c0;
    closeRAMImage(r, nullptr);
    *checksum = sum;
    *cpu = cpuSeconds() - c0;
    std::printf("    cpu: open %.3f  decode %.3f  lines %.3f  close %.3f\n",
                cOpen, cDecode - cOpen, cLines - cDecode, *cpu - cLines);
    return wallSeconds() - t0;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    int n = argc > 1 ? std::atoi(argv[1]) : 4096;
    int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    char tmpl[] = "/tmp/velkbench.XXXXXX";
    if (!mkdtemp(tmpl))
        return 1;
    std::string dir = tmpl, jpg = dir + "/bench.jpg";
    const char *by = "";
    if (!makeJpeg(dir, n, jpg, &by)) {
        std::fprintf(stderr, "cannot make the test picture\n");
        return 1;
    }
    /* exec: the shell's own time is not djpeg's. */
    std::string djpeg = "exec djpeg -outfile /dev/null " + jpg;
    bool haveDjpeg = std::system((djpeg + " 2>/dev/null").c_str()) == 0;

    double bestStore = 1e30, bestDjpeg = 1e30, cpuStore = 1e30,
           cpuDjpeg = 1e30;
    unsigned checksum = 0;
    for (int i = 0; i < runs; i++) {
        // Alternate, so both see the same machine load.
        double cpu;
        double s = throughStore(jpg, &checksum, &cpu);
        if (s < 0) {
            std::fprintf(stderr, "decoding through the store failed\n");
            return 1;
        }
        bestStore = std::min(bestStore, s);
        cpuStore = std::min(cpuStore, cpu);
        if (haveDjpeg) {
            double c0 = childCpuSeconds(), t0 = wallSeconds();
            if (std::system(djpeg.c_str()) != 0)
                return 1;
            bestDjpeg = std::min(bestDjpeg, wallSeconds() - t0);
            cpuDjpeg = std::min(cpuDjpeg, childCpuSeconds() - c0);
        }
    }
    double mpix = (double)n * n / 1e6;
    std::printf("jpeg_bench: %d x %d colour JPEG (encoded by %s), best of"
                " %d runs\n", n, n, by, runs);
    std::printf("  store (open + decode + read every line): cpu %.3f s"
                "  wall %.3f s  %.1f Mpixel/s  (checksum %u)\n", cpuStore,
                bestStore, mpix / cpuStore, checksum);
    if (haveDjpeg) {
        std::printf("  djpeg to /dev/null:                       cpu %.3f s"
                    "  wall %.3f s  %.1f Mpixel/s\n", cpuDjpeg, bestDjpeg,
                    mpix / cpuDjpeg);
        std::printf("  ratio store / djpeg: cpu %.2f, wall %.2f (target <="
                    " 1.20)\n", cpuStore / cpuDjpeg, bestStore / bestDjpeg);
    } else {
        std::printf("  djpeg is not installed: no ratio\n");
    }
    unlink(jpg.c_str());
    unlink((dir + "/src.ppm").c_str());
    rmdir(dir.c_str());
    return 0;
}
