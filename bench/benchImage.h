/*
 * benchImage.h --
 *
 *	The input of the module benchmarks: a square one-band FLOAT BASIC
 *	(BSQ) file of pseudo-random values, made once in /tmp and kept, so
 *	later runs find it in the page cache.
 */
#ifndef VELK_BENCH_IMAGE_H
#define VELK_BENCH_IMAGE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"

/* Fills pixels (size x size) and makes the file unless it is there
 * already.  Results: false when it cannot be written. */
static inline bool benchFloatImage(const std::string &path, int size,
                                   std::vector<float> *pixels)
{
    pixels->resize((size_t)size * size);
    uint64_t x = 88172645463325252ull;
    for (float &v : *pixels) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        v = (float)(x % 20000) / 100.0f;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0
            && st.st_size == BASIC_HEADER_SIZE + (off_t)pixels->size() * 4)
        return true;
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = IMG_BSQ;
    info.pixel = PIXEL_FLOAT;
    info.rows = info.columns = size;
    info.nbands = 1;
    info.offset = BASIC_HEADER_SIZE;
    info.transparent = -1;
    if (createImage(&info) != BASIC_HEADER_SIZE)
        return false;
    int fd = open(path.c_str(), O_WRONLY);
    bool ok = fd >= 0 && pwrite(fd, pixels->data(), pixels->size() * 4,
                                BASIC_HEADER_SIZE)
                         == (ssize_t)(pixels->size() * 4);
    if (fd >= 0)
        close(fd);
    return ok;
}

#endif /* VELK_BENCH_IMAGE_H */
