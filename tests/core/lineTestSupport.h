/*
 * lineTestSupport.h --
 *
 *	Shared by the line cache tests (header only: the test glob takes
 *	*_test.cpp files): test pixel values, host-order line access and the
 *	expected bytes of the raw layouts, written from the layouts'
 *	definitions, not from the package's code.
 */
#ifndef VELK_LINETESTSUPPORT_H
#define VELK_LINETESTSUPPORT_H

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "tests/support/testSupport.h"

/* A value of the pixel type that differs from line to line and band to
 * band, negative ones included for the signed types. */
inline double testValue(int pixel, int y, int b, int x)
{
    uint32_t h = (uint32_t)(y * 7919 + b * 104729 + x * 31 + 17)
                 * 2654435761u;
    h ^= h >> 15;
    switch (pixel) {
    case PIXEL_1BIT: return h & 1;
    case PIXEL_4BITS: return h & 15;
    case PIXEL_BYTE: return h & 255;
    case PIXEL_SBYTE: return (int8_t)(h & 255);
    case PIXEL_SHORT: return (int16_t)(h & 0xFFFF);
    case PIXEL_USHORT: return h & 0xFFFF;
    case PIXEL_LONG: return (int32_t)h;
    case PIXEL_ULONG: return h;
    case PIXEL_FLOAT: return (float)(int32_t)h / 1024.0f;
    default: return 0;
    }
}

inline int valueSize(int pixel)
{
    switch (pixel) {
    case PIXEL_SHORT:
    case PIXEL_USHORT: return 2;
    case PIXEL_LONG:
    case PIXEL_ULONG:
    case PIXEL_FLOAT: return 4;
    case PIXEL_BYTE:
    case PIXEL_SBYTE: return 1;
    default: return 0;
    }
}

/* The value's bit pattern, low bytes significant. */
inline uint32_t valueBits(int pixel, double v)
{
    if (pixel == PIXEL_FLOAT) {
        float f = (float)v;
        uint32_t u;
        std::memcpy(&u, &f, 4);
        return u;
    }
    if (pixel == PIXEL_SHORT || pixel == PIXEL_LONG || pixel == PIXEL_SBYTE)
        return (uint32_t)(int32_t)v;
    return (uint32_t)v;
}

inline double bitsValue(int pixel, uint32_t u)
{
    switch (pixel) {
    case PIXEL_FLOAT: {
        float f;
        std::memcpy(&f, &u, 4);
        return f;
    }
    case PIXEL_SBYTE: return (int8_t)u;
    case PIXEL_SHORT: return (int16_t)u;
    case PIXEL_LONG: return (int32_t)u;
    default: return u;
    }
}

/* Sample s of a packed record: 1BIT or 4BITS in msbf's order. */
inline void putPacked(unsigned char *p, int pixel, int msbf, int64_t s,
                      unsigned v)
{
    if (pixel == PIXEL_1BIT) {
        unsigned char bit = msbf ? 0x80 >> (s % 8) : 1 << (s % 8);
        p[s / 8] = v ? p[s / 8] | bit : p[s / 8] & ~bit;
        return;
    }
    bool high = (s % 2 == 0) == (msbf != 0);
    unsigned char &byte = p[s / 2];
    byte = high ? (byte & 0x0F) | (v << 4) : (byte & 0xF0) | (v & 0x0F);
}

inline unsigned getPacked(const unsigned char *p, int pixel, int msbf,
                          int64_t s)
{
    if (pixel == PIXEL_1BIT)
        return (p[s / 8] & (msbf ? 0x80 >> (s % 8) : 1 << (s % 8))) ? 1 : 0;
    bool high = (s % 2 == 0) == (msbf != 0);
    return high ? p[s / 2] >> 4 : p[s / 2] & 0x0F;
}

inline bool hostMsbFirst()
{
    uint16_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    return first == 0;
}

/* Host-order access to a cached line; 1BIT and 4BITS in msbf's order. */
inline void putLineValue(unsigned char *line, int pixel, int msbf, int x,
                         double v)
{
    int size = valueSize(pixel);
    if (size == 0) {
        putPacked(line, pixel, msbf, x, (unsigned)v);
        return;
    }
    uint32_t u = valueBits(pixel, v);
    for (int i = 0; i < size; i++) {
        int shift = hostMsbFirst() ? 8 * (size - 1 - i) : 8 * i;
        line[(size_t)x * size + i] = (unsigned char)(u >> shift);
    }
}

inline double getLineValue(const unsigned char *line, int pixel, int msbf,
                           int x)
{
    int size = valueSize(pixel);
    if (size == 0)
        return getPacked(line, pixel, msbf, x);
    uint32_t u = 0;
    for (int i = 0; i < size; i++) {
        int shift = hostMsbFirst() ? 8 * (size - 1 - i) : 8 * i;
        u |= (uint32_t)line[(size_t)x * size + i] << shift;
    }
    return bitsValue(pixel, u);
}

/* Describes a file for opening without a probe. */
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

/* The data area of a BSQ, BIL or BIP file (BASIC block sizes) holding
 * value(y, b, x), whole values in msbf's byte order. */
inline std::vector<unsigned char> expectedRawData(
    int imgid, int pixel, int rows, int columns, int nbands, int msbf,
    const std::function<double(int, int, int)> &value)
{
    int64_t line = ((int64_t)columns * pixelBits(pixel) + 7) / 8;
    int64_t block = imgid == IMG_BIP ? line * nbands : line;
    int64_t records = imgid == IMG_BIP ? rows : (int64_t)rows * nbands;
    std::vector<unsigned char> data((size_t)(block * records), 0);
    int size = valueSize(pixel);
    for (int y = 0; y < rows; y++) {
        for (int b = 0; b < nbands; b++) {
            int64_t record = imgid == IMG_BSQ ? (int64_t)b * rows + y
                             : imgid == IMG_BIL ? (int64_t)y * nbands + b
                                                : y;
            unsigned char *p = data.data() + record * block;
            for (int x = 0; x < columns; x++) {
                int64_t s = imgid == IMG_BIP ? (int64_t)x * nbands + b : x;
                double v = value(y, b, x);
                if (size == 0) {
                    putPacked(p, pixel, msbf, s, (unsigned)v);
                    continue;
                }
                uint32_t u = valueBits(pixel, v);
                for (int i = 0; i < size; i++) {
                    int shift = msbf ? 8 * (size - 1 - i) : 8 * i;
                    p[s * size + i] = (unsigned char)(u >> shift);
                }
            }
        }
    }
    return data;
}

/* `size` bytes of the file from offset on (fewer at its end). */
inline std::vector<unsigned char> fileRange(const std::string &path,
                                            int64_t offset, int64_t size)
{
    std::vector<unsigned char> all = readFileBytes(path);
    if ((int64_t)all.size() < offset)
        return {};
    int64_t end = std::min<int64_t>((int64_t)all.size(), offset + size);
    return std::vector<unsigned char>(all.begin() + offset, all.begin() + end);
}

#endif
