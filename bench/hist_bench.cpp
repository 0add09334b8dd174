/*
 * hist_bench.cpp --
 *
 *	Throughput of ramImageHist over an 8192 x 8192 x 4-band BYTE BIL file
 *	(256 MiB, made once in /tmp and kept in the page cache), against a
 *	plain loop that read()s the same file and counts its bytes into one
 *	table.  Also the counting alone (calcByteHist over lines in memory).
 *	Times are CPU seconds of this thread (read() and the line reads
 *	included), so that other work on the machine does not skew the ratio;
 *	the best of `repeats` runs counts.
 *	Usage: hist_bench ?file? ?repeats?
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <tcl.h>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "benchClock.h"

static const int SIDE = 8192, BANDS = 4;
static const int64_t DATA = (int64_t)SIDE * SIDE * BANDS;

/* Creates the file with pseudo-random pixels unless it is there already. */
static bool makeFile(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0
            && st.st_size == BASIC_HEADER_SIZE + DATA)
        return true;
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = IMG_BIL;
    info.pixel = PIXEL_BYTE;
    info.rows = info.columns = SIDE;
    info.nbands = BANDS;
    info.offset = BASIC_HEADER_SIZE;
    info.transparent = -1;
    if (createImage(&info) != BASIC_HEADER_SIZE)
        return false;
    int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    std::vector<unsigned char> chunk(1 << 20);
    uint64_t x = 88172645463325252ull;
    for (int64_t done = 0; done < DATA; done += chunk.size()) {
        for (size_t i = 0; i < chunk.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(&chunk[i], &x, 8);
        }
        if (pwrite(fd, chunk.data(), chunk.size(), BASIC_HEADER_SIZE + done)
                != (ssize_t)chunk.size()) {
            close(fd);
            return false;
        }
    }
    close(fd);
    return true;
}

/* read() the pixel data in 1 MiB pieces and count every byte. */
static double plainCount(const std::string &path, uint64_t *total)
{
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return -1;
    std::vector<unsigned char> buf(1 << 20);
    static uint64_t bins[256];
    std::memset(bins, 0, sizeof bins);
    double t0 = cpuSeconds();
    lseek(fd, BASIC_HEADER_SIZE, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf.data(), buf.size())) > 0)
        for (ssize_t i = 0; i < n; i++)
            bins[buf[i]]++;
    double t = cpuSeconds() - t0;
    close(fd);
    *total = 0;
    for (uint64_t c : bins)
        *total += c;
    return t;
}

static double histOnce(RAMImage *r, uint64_t *total)
{
    double t0 = cpuSeconds();
    Hist *h = ramImageHist(r, 2, 1, 1);
    double t = cpuSeconds() - t0;
    *total = 0;
    for (int b = 0; h && b < BANDS; b++)
        *total += (uint64_t)h[b].count;
    return t;
}

/* The counting alone: calcByteHist over 64 MiB of lines already in memory. */
static double countingOnly(void)
{
    std::vector<unsigned char> lines((size_t)SIDE * 1024);
    for (size_t i = 0; i < lines.size(); i++)
        lines[i] = (unsigned char)(i * 2654435761u >> 13);
    Hist *h = createHist(1, 256);
    double t0 = cpuSeconds();
    for (int rep = 0; rep < 8; rep++)
        for (int y = 0; y < 1024; y++)
            calcByteHist(h, SIDE, 1, &lines[(size_t)y * SIDE]);
    double t = cpuSeconds() - t0;
    deleteHist(h, 1);
    return (double)SIDE * 1024 * 8 / t / 1e6;
}

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    std::string path = argc > 1 ? argv[1] : "/tmp/velk_hist_bench.bil";
    int repeats = argc > 2 ? std::atoi(argv[2]) : 7;
    if (!makeFile(path)) {
        std::fprintf(stderr, "cannot make %s\n", path.c_str());
        return 1;
    }
    uint64_t plainTotal = 0, histTotal = 0;
    plainCount(path, &plainTotal);      /* into the page cache */
    int err = 0;
    RAMImage *r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
    if (!r) {
        std::fprintf(stderr, "open: %s\n", ramimgError(err));
        return 1;
    }
    double bestPlain = 1e30, bestHist = 1e30;
    for (int i = 0; i < repeats; i++) {
        double p = plainCount(path, &plainTotal);
        double h = histOnce(r, &histTotal);
        bestPlain = p < bestPlain ? p : bestPlain;
        bestHist = h < bestHist ? h : bestHist;
    }
    closeRAMImage(r, nullptr);
    double mb = DATA / 1e6;
    std::printf("file %s: %d x %d x %d BYTE BIL, %.0f MB\n", path.c_str(),
                SIDE, SIDE, BANDS, mb);
    std::printf("plain read+count   %8.1f MB/s  (%llu values)\n",
                mb / bestPlain, (unsigned long long)plainTotal);
    std::printf("ramImageHist       %8.1f MB/s  (%llu values)\n",
                mb / bestHist, (unsigned long long)histTotal);
    std::printf("ratio ramImageHist / plain: %.2f\n", bestPlain / bestHist);
    std::printf("calcByteHist alone %8.1f MB/s\n", countingOnly());
    return plainTotal == histTotal ? 0 : 1;
}
