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
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "tests/support/imageRecords.h"
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

/* Bytes of a whole value; 0 for the packed 1BIT and 4BITS. */
inline int valueSize(int pixel)
{
    switch (pixel) {
    case PIXEL_BYTE: case PIXEL_SBYTE: return 1;
    case PIXEL_SHORT: case PIXEL_USHORT: return 2;
    case PIXEL_LONG: case PIXEL_ULONG: case PIXEL_FLOAT: return 4;
    default: return 0;
    }
}

/* The bit of 1BIT sample s, or the shift of 4BITS sample s, in msbf's
 * packing order. */
inline unsigned char packedBit(int msbf, int64_t s)
{
    return (unsigned char)(msbf ? 0x80 >> (s % 8) : 1 << (s % 8));
}
inline int nibbleShift(int msbf, int64_t s)
{
    return (s % 2 == 0) == (msbf != 0) ? 4 : 0;
}

/* Sample s of a record: packed ones in msbf's order, whole values most
 * significant byte first when bigEndian. */
inline void putSample(unsigned char *p, int pixel, int msbf, bool bigEndian,
                      int64_t s, double v)
{
    int size = valueSize(pixel);
    if (pixel == PIXEL_1BIT) {
        unsigned char bit = packedBit(msbf, s);
        p[s / 8] = v ? p[s / 8] | bit : p[s / 8] & ~bit;
    } else if (pixel == PIXEL_4BITS) {
        int shift = nibbleShift(msbf, s);
        p[s / 2] = (p[s / 2] & ~(0x0F << shift)) | ((unsigned)v << shift);
    } else {
        uint32_t u;
        float f = (float)v;
        if (pixel == PIXEL_FLOAT)
            std::memcpy(&u, &f, 4);
        else
            u = (uint32_t)(int64_t)v;
        for (int i = 0; i < size; i++)
            p[s * size + i] = (unsigned char)(
                u >> (bigEndian ? 8 * (size - 1 - i) : 8 * i));
    }
}

inline double getSample(const unsigned char *p, int pixel, int msbf,
                        bool bigEndian, int64_t s)
{
    int size = valueSize(pixel);
    if (pixel == PIXEL_1BIT)
        return (p[s / 8] & packedBit(msbf, s)) ? 1 : 0;
    if (pixel == PIXEL_4BITS)
        return (p[s / 2] >> nibbleShift(msbf, s)) & 0x0F;
    uint32_t u = 0;
    for (int i = 0; i < size; i++)
        u |= (uint32_t)p[s * size + i]
             << (bigEndian ? 8 * (size - 1 - i) : 8 * i);
    float f;
    std::memcpy(&f, &u, 4);
    switch (pixel) {
    case PIXEL_FLOAT: return f;
    case PIXEL_SBYTE: return (int8_t)u;
    case PIXEL_SHORT: return (int16_t)u;
    case PIXEL_LONG: return (int32_t)u;
    default: return u;
    }
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
    putSample(line, pixel, msbf, hostMsbFirst(), x, v);
}

inline double getLineValue(const unsigned char *line, int pixel, int msbf,
                           int x)
{
    return getSample(line, pixel, msbf, hostMsbFirst(), x);
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
    for (int y = 0; y < rows; y++) {
        for (int b = 0; b < nbands; b++) {
            int64_t record = imgid == IMG_BSQ ? (int64_t)b * rows + y
                             : imgid == IMG_BIL ? (int64_t)y * nbands + b
                                                : y;
            for (int x = 0; x < columns; x++)
                putSample(data.data() + record * block, pixel, msbf,
                          msbf != 0,
                          imgid == IMG_BIP ? (int64_t)x * nbands + b : x,
                          value(y, b, x));
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
