/*
 * memImage.h --
 *
 *	Memory-resident raster records for the pixel access and histogram
 *	tests: made with residentRAMImage, released by a unique_ptr.
 */
#ifndef VELK_TESTS_MEMIMAGE_H
#define VELK_TESTS_MEMIMAGE_H

#include <cstring>
#include <memory>

#include "core/imgtype.h"
#include "core/ramimg.h"

struct RAMImageDeleter {
    void operator()(RAMImage *r) const { destroyRAMImage(r); }
};
typedef std::unique_ptr<RAMImage, RAMImageDeleter> RAMImagePtr;

inline ImageInfo memImageInfo(int imgid, int pixel, int columns, int rows,
                              int nbands, int msbf = 0)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::strcpy(info.fileName, "memtest");
    info.imgid = imgid;
    info.pixel = pixel;
    info.columns = columns;
    info.rows = rows;
    info.nbands = nbands;
    info.msbf = msbf;
    info.transparent = -1;
    info.extraFd = -1;
    return info;
}

/* A memory image (not linked into the store); null on failure. */
inline RAMImagePtr makeMemImage(int imgid, int pixel, int columns, int rows,
                                int nbands, int msbf = 0)
{
    ImageInfo info = memImageInfo(imgid, pixel, columns, rows, nbands, msbf);
    int err = 0;
    return RAMImagePtr(residentRAMImage(&info, nullptr, &err));
}

#endif
