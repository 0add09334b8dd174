/*
 * lineRead_bench.cpp --
 *
 *	Throughput of reading a large file line by line through the line
 *	cache (getRAMImageLine, every band of each line) against plain read()
 *	of the same file, both from the page cache, for a 4-band BYTE image
 *	in BIL, BSQ and BIP.  Prints MB/s of each (per CPU second of the
 *	reading thread, kernel time included) and their ratio.
 *
 *	Usage: lineRead_bench ?size? ?directory?  (default 8192 /tmp: an
 *	8192 x 8192 x 4-band file of 256 MiB, made and removed per layout)
 */
#include <fcntl.h>
#include <unistd.h>

#include <tcl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "benchClock.h"
#include "benchImage.h"

namespace {

const int repeats = 7;

// Creates the BASIC file and fills its data with a byte pattern.
bool makeFile(const std::string &path, int imgid, int size, int nbands)
{
    if (!benchCreateBasic(path, imgid, PIXEL_BYTE, size, size, nbands))
        return false;
    int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return false;
    std::vector<unsigned char> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); i++)
        chunk[i] = (unsigned char)(i * 131 + (i >> 12));
    int64_t total = (int64_t)size * size * nbands;
    bool ok = true;
    for (int64_t done = 0; done < total && ok; done += (int64_t)chunk.size()) {
        size_t n = (size_t)std::min<int64_t>((int64_t)chunk.size(),
                                             total - done);
        ok = pwrite(fd, chunk.data(), n, BASIC_HEADER_SIZE + done) == (ssize_t)n;
    }
    close(fd);
    return ok;
}

// Plain read() of the whole file in pieces of `piece` bytes.
double readPlain(const std::string &path, size_t piece, unsigned *sink)
{
    std::vector<unsigned char> buf(piece);
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return 0;
    double t = cpuSeconds();
    ssize_t n;
    while ((n = read(fd, buf.data(), piece)) > 0)
        *sink += buf[0];
    t = cpuSeconds() - t;
    close(fd);
    return t;
}

// Every band of every line through the record's line operation.
double readLines(const std::string &path, unsigned *sink)
{
    int err = 0;
    RAMImage *r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
    if (!r)
        return 0;
    double t = cpuSeconds();
    for (int y = 0; y < r->info.rows; y++)
        for (int b = 0; b < r->info.nbands; b++)
            *sink += r->getLine(r, y, b, 1)[0];
    t = cpuSeconds() - t;
    closeRAMImage(r, nullptr);
    return t;
}

} // namespace

int benchMain(Tcl_Interp *, int argc, char **argv)
{
    int size = argc > 1 ? std::atoi(argv[1]) : 8192;
    std::string dir = argc > 2 ? argv[2] : "/tmp";
    const int nbands = 4;
    double mb = (double)size * size * nbands / 1e6;
    unsigned sink = 0;
    std::printf("%d x %d x %d BYTE, %.0f MB, best of %d\n", size, size,
                nbands, mb, repeats);
    for (int imgid : {IMG_BIL, IMG_BSQ, IMG_BIP}) {
        std::string path = dir + "/lineRead_bench_" + std::to_string(getpid())
                           + "." + strImgID(imgid);
        if (!makeFile(path, imgid, size, nbands)) {
            std::fprintf(stderr, "cannot make %s\n", path.c_str());
            unlink(path.c_str());
            return 1;
        }
        readPlain(path, 1 << 20, &sink);      // into the page cache
        double plain = 1e30, lines = 1e30;
        for (int i = 0; i < repeats; i++) {
            for (size_t piece : {(size_t)1 << 18, (size_t)1 << 20})
                plain = std::min(plain, readPlain(path, piece, &sink));
            lines = std::min(lines, readLines(path, &sink));
        }
        std::printf("%-4s read() %7.0f MB/s  getRAMImageLine %7.0f MB/s  "
                    "ratio %.2f\n",
                    strImgID(imgid), mb / plain, mb / lines, plain / lines);
        unlink(path.c_str());
    }
    std::printf("(checksum %u)\n", sink);
    return 0;
}
