/*
 * benchImage.h --
 *
 *	The inputs of the module benchmarks, made once in /tmp and kept, so
 *	later runs find them in the page cache: a square one-band FLOAT BASIC
 *	(BSQ) file of pseudo-random values, and a square ERDAS 7.4 sample
 *	scene of BYTE bands.
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
#include "modules/data.h"

/* Creates (or recreates) a BASIC file (system header) of zeros.
 * Results: false when it cannot be written. */
static inline bool benchCreateBasic(const std::string &path, int imgid,
                                    int pixel, int columns, int rows,
                                    int nbands)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = imgid;
    info.pixel = pixel;
    info.rows = rows;
    info.columns = columns;
    info.nbands = nbands;
    info.offset = BASIC_HEADER_SIZE;
    info.transparent = -1;
    return createImage(&info) == BASIC_HEADER_SIZE;
}

/* The same for a size x size one-band FLOAT band-sequential file. */
static inline bool benchCreateFloat(const std::string &path, int size)
{
    return benchCreateBasic(path, IMG_BSQ, PIXEL_FLOAT, size, size, 1);
}

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
    if (!benchCreateFloat(path, size))
        return false;
    int fd = open(path.c_str(), O_WRONLY);
    bool ok = fd >= 0 && pwrite(fd, pixels->data(), pixels->size() * 4,
                                BASIC_HEADER_SIZE)
                         == (ssize_t)(pixels->size() * 4);
    if (fd >= 0)
        close(fd);
    return ok;
}

/* The sample scene (bands BYTE bands of side x side, 30 m cells) as an
 * ERDAS 7.4 file unless it is there already.  Results: false when it
 * cannot be written. */
static inline bool benchSampleScene(const std::string &path, int side,
                                    int bands)
{
    struct stat st;
    if (stat(path.c_str(), &st) == 0
            && st.st_size == 128 + (off_t)side * side * bands)
        return true;
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = IMG_E74;
    info.pixel = PIXEL_BYTE;
    info.rows = info.columns = side;
    info.nbands = bands;
    info.transparent = -1;
    info.dx = info.dy = 30;
    return dataWriteSample(&info, 1) == 1;
}

#endif /* VELK_BENCH_IMAGE_H */
