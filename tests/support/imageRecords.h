/*
 * imageRecords.h --
 *
 *	Image records for the C++ tests (header only): an ImageInfo that
 *	describes a file or memory image for opening without a probe, and
 *	memory-resident images released by a unique_ptr.
 */
#ifndef VELK_TESTS_IMAGERECORDS_H
#define VELK_TESTS_IMAGERECORDS_H

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/imgtype.h"
#include "core/ramimg.h"

inline ImageInfo describeImage(const std::string &path, int imgid,
                               int pixel, int rows, int columns,
                               int nbands, int msbf, int offset, int block)
{
    ImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.imgid = imgid;
    info.pixel = pixel;
    info.rows = rows;
    info.columns = columns;
    info.nbands = nbands;
    info.msbf = msbf;
    info.offset = offset;
    info.block = block;
    info.bits = pixelBits(pixel);
    info.transparent = -1;
    info.extraFd = -1;
    return info;
}

struct RAMImageDeleter {
    void operator()(RAMImage *r) const { destroyRAMImage(r); }
};
typedef std::unique_ptr<RAMImage, RAMImageDeleter> RAMImagePtr;

/* A memory image (not linked into the store); null on failure. */
inline RAMImagePtr makeMemImage(int imgid, int pixel, int columns, int rows,
                                int nbands, int msbf = 0)
{
    ImageInfo info = describeImage("memtest", imgid, pixel, rows, columns,
                                   nbands, msbf, 0, 0);
    int err = 0;
    return RAMImagePtr(residentRAMImage(&info, nullptr, &err));
}

#endif
