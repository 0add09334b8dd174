/*
 * pixelConv.cpp --
 *
 *	Conversion between stored pixel values of a cached line and floats or
 *	bytes.  Each entry switches on the pixel type once and runs a tight
 *	loop over the columns.  1BIT lines hold pixel i in bit 0x80 >> (i % 8)
 *	of byte i / 8 when msbf is set, else in bit 0x01 << (i % 8); 4BITS
 *	lines hold the even pixel in the high nibble when msbf is set, else in
 *	the low nibble.  Wider values are in host order (the line cache swaps
 *	file data to it).
 */
#include "core/pixelConv.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "core/imgtype.h"

/* ---------------------------------------------------------------------
 * Packed pixels
 * --------------------------------------------------------------------- */

static inline int getBit(const unsigned char *line, int msbf, int64_t c)
{
    int shift = msbf ? 7 - (int)(c & 7) : (int)(c & 7);
    return (line[c >> 3] >> shift) & 1;
}

static inline void putBit(unsigned char *line, int msbf, int64_t c, int v)
{
    unsigned char mask = (unsigned char)(msbf ? 0x80 >> (c & 7)
                                              : 0x01 << (c & 7));
    if (v)
        line[c >> 3] |= mask;
    else
        line[c >> 3] &= (unsigned char)~mask;
}

/* With msbf the even pixel is the high nibble. */
static inline int nibbleShift(int msbf, int64_t c)
{
    return ((c & 1) == 0) == (msbf != 0) ? 4 : 0;
}

static inline int getNibble(const unsigned char *line, int msbf, int64_t c)
{
    return (line[c >> 1] >> nibbleShift(msbf, c)) & 0x0F;
}

static inline void putNibble(unsigned char *line, int msbf, int64_t c, int v)
{
    int shift = nibbleShift(msbf, c);
    unsigned char &b = line[c >> 1];
    b = (unsigned char)((b & ~(0x0F << shift)) | ((v & 0x0F) << shift));
}

/* ---------------------------------------------------------------------
 * Float to stored value: v + 0.5 truncated toward zero, clipped to the
 * type.  The sum is formed in double so that 0.49999997 does not round up.
 * --------------------------------------------------------------------- */

/* The clipping shared by the signed and unsigned integer types that fit
 * an int. */
static int roundClipped(float v, double lo, double hi)
{
    double d = v;
    if (std::isnan(d))
        return 0;
    if (d > hi)
        return (int)hi;
    if (d < lo)
        return (int)lo;
    return (int)(d + 0.5);
}

int floatToByte(float v)
{
    return roundClipped(v, 0, 255);
}

int floatTo4Bits(float v)
{
    return roundClipped(v, 0, 15);
}

int floatToShort(float v)
{
    return roundClipped(v, -32768, 32767);
}

int floatToUShort(float v)
{
    return roundClipped(v, 0, 65535);
}

int floatToLong(float v)
{
    return roundClipped(v, -2147483648.0, 2147483647.0);
}

unsigned int floatToULong(float v)
{
    double d = v;
    if (std::isnan(d) || d < 0)
        return 0;
    return d > 4294967295.0 ? 4294967295u : (unsigned int)(int64_t)(d + 0.5);
}

int floatToSByte(float v)
{
    return roundClipped(v, -128, 127);
}

/* Truncated toward zero, low byte; 0 where no 64-bit integer holds it. */
static inline unsigned char floatLowByte(float f)
{
    if (!(f > -9.2e18f && f < 9.2e18f))
        return 0;
    return (unsigned char)((uint64_t)(int64_t)f & 0xFF);
}

/* ---------------------------------------------------------------------
 * Reading
 * --------------------------------------------------------------------- */

template <typename T>
static void loadFloats(const unsigned char *line, int column, int n,
                       int step, float *out, int stride)
{
    const unsigned char *p = line + (int64_t)column * sizeof(T);
    if (std::is_same<T, float>::value && step == 1 && stride == 1) {
        std::memcpy(out, p, (size_t)std::max(n, 0) * sizeof(float));
        return;
    }
    const int64_t advance = (int64_t)step * sizeof(T);
    for (int i = 0; i < n; i++, p += advance) {
        T v;
        std::memcpy(&v, p, sizeof v);
        out[(int64_t)i * stride] = (float)v;
    }
}

void pixelsToFloat(const unsigned char *line, int pixel, int msbf, int column,
                   int n, int step, float *out, int stride)
{
    int64_t c = column;
    switch (pixel) {
    case PIXEL_1BIT:
        for (int i = 0; i < n; i++, c += step)
            out[(int64_t)i * stride] = (float)getBit(line, msbf, c);
        break;
    case PIXEL_4BITS:
        for (int i = 0; i < n; i++, c += step)
            out[(int64_t)i * stride] = (float)getNibble(line, msbf, c);
        break;
    case PIXEL_BYTE:
        loadFloats<uint8_t>(line, column, n, step, out, stride);
        break;
    case PIXEL_SBYTE:
        loadFloats<int8_t>(line, column, n, step, out, stride);
        break;
    case PIXEL_SHORT:
        loadFloats<int16_t>(line, column, n, step, out, stride);
        break;
    case PIXEL_USHORT:
        loadFloats<uint16_t>(line, column, n, step, out, stride);
        break;
    case PIXEL_LONG:
        loadFloats<int32_t>(line, column, n, step, out, stride);
        break;
    case PIXEL_ULONG:
        loadFloats<uint32_t>(line, column, n, step, out, stride);
        break;
    case PIXEL_FLOAT:
        loadFloats<float>(line, column, n, step, out, stride);
        break;
    default:
        for (int i = 0; i < n; i++)
            out[(int64_t)i * stride] = 0.0f;
        break;
    }
}

void pixelsToByte(const unsigned char *line, int pixel, int msbf, int column,
                  int n, int step, unsigned char *out, int stride)
{
    int64_t c = column;
    switch (pixel) {
    case PIXEL_1BIT:
        for (int i = 0; i < n; i++, c += step)
            out[(int64_t)i * stride] = (unsigned char)getBit(line, msbf, c);
        break;
    case PIXEL_4BITS:
        for (int i = 0; i < n; i++, c += step)
            out[(int64_t)i * stride] = (unsigned char)getNibble(line, msbf, c);
        break;
    case PIXEL_FLOAT: {
        const unsigned char *p = line + c * 4;
        for (int i = 0; i < n; i++, p += (int64_t)step * 4) {
            float f;
            std::memcpy(&f, p, sizeof f);
            out[(int64_t)i * stride] = floatLowByte(f);
        }
        break;
    }
    case PIXEL_BYTE:
    case PIXEL_SBYTE:
    case PIXEL_SHORT:
    case PIXEL_USHORT:
    case PIXEL_LONG:
    case PIXEL_ULONG: {
        int size = pixelBits(pixel) / 8;
        const unsigned char *p = line + c * size;
        for (int i = 0; i < n; i++, p += (int64_t)step * size)
            out[(int64_t)i * stride] = *p;
        break;
    }
    default:
        for (int i = 0; i < n; i++)
            out[(int64_t)i * stride] = 0;
        break;
    }
}

float pixelFloat(const unsigned char *line, int pixel, int msbf, int column)
{
    float v;
    pixelsToFloat(line, pixel, msbf, column, 1, 1, &v, 1);
    return v;
}

/* ---------------------------------------------------------------------
 * Writing
 * --------------------------------------------------------------------- */

template <typename T, typename S, typename F>
static void storeValues(unsigned char *line, int column, int n, const S *in,
                        int stride, F convert)
{
    unsigned char *p = line + (int64_t)column * sizeof(T);
    if (std::is_same<T, S>::value && std::is_same<T, float>::value
            && stride == 1) {
        std::memcpy(p, in, (size_t)std::max(n, 0) * sizeof(T));
        return;
    }
    for (int i = 0; i < n; i++, p += sizeof(T)) {
        T v = (T)convert(in[(int64_t)i * stride]);
        std::memcpy(p, &v, sizeof v);
    }
}

void floatToPixels(unsigned char *line, int pixel, int msbf, int column,
                   int n, const float *in, int stride)
{
    int64_t c = column;
    switch (pixel) {
    case PIXEL_1BIT:
        for (int i = 0; i < n; i++, c++)
            putBit(line, msbf, c, in[(int64_t)i * stride] != 0.0f);
        break;
    case PIXEL_4BITS:
        for (int i = 0; i < n; i++, c++)
            putNibble(line, msbf, c, floatTo4Bits(in[(int64_t)i * stride]));
        break;
    case PIXEL_BYTE:
        storeValues<uint8_t>(line, column, n, in, stride, floatToByte);
        break;
    case PIXEL_SBYTE:
        storeValues<int8_t>(line, column, n, in, stride, floatToSByte);
        break;
    case PIXEL_SHORT:
        storeValues<int16_t>(line, column, n, in, stride, floatToShort);
        break;
    case PIXEL_USHORT:
        storeValues<uint16_t>(line, column, n, in, stride, floatToUShort);
        break;
    case PIXEL_LONG:
        storeValues<int32_t>(line, column, n, in, stride, floatToLong);
        break;
    case PIXEL_ULONG:
        storeValues<uint32_t>(line, column, n, in, stride, floatToULong);
        break;
    case PIXEL_FLOAT:
        storeValues<float>(line, column, n, in, stride,
                           [](float v) { return v; });
        break;
    default:
        break;
    }
}

/* Stores integer values already in the range of every type but the ones
 * named here: 1BIT takes non-zero as 1, 4BITS and the 8/16-bit types get
 * `narrow` applied first. */
template <typename S, typename N>
static void storeIntegers(unsigned char *line, int pixel, int msbf,
                          int column, int n, const S *in, int stride,
                          N narrow)
{
    int64_t c = column;
    auto same = [](S v) { return v; };
    switch (pixel) {
    case PIXEL_1BIT:
        for (int i = 0; i < n; i++, c++)
            putBit(line, msbf, c, in[(int64_t)i * stride] != 0);
        break;
    case PIXEL_4BITS:
        for (int i = 0; i < n; i++, c++)
            putNibble(line, msbf, c, narrow(pixel, in[(int64_t)i * stride]));
        break;
    case PIXEL_BYTE:
    case PIXEL_SBYTE:
        storeValues<uint8_t>(line, column, n, in, stride,
                             [&](S v) { return narrow(pixel, v); });
        break;
    case PIXEL_SHORT:
    case PIXEL_USHORT:
        storeValues<uint16_t>(line, column, n, in, stride,
                              [&](S v) { return narrow(pixel, v); });
        break;
    case PIXEL_LONG:
    case PIXEL_ULONG:
        storeValues<uint32_t>(line, column, n, in, stride, same);
        break;
    case PIXEL_FLOAT:
        storeValues<float>(line, column, n, in, stride, same);
        break;
    default:
        break;
    }
}

void byteToPixels(unsigned char *line, int pixel, int msbf, int column,
                  int n, const unsigned char *in, int stride)
{
    storeIntegers(line, pixel, msbf, column, n, in, stride,
                  [](int type, unsigned char v) {
                      return type == PIXEL_4BITS ? v & 0x0F : (int)v;
                  });
}

void ushortToPixels(unsigned char *line, int pixel, int msbf, int column,
                    int n, const unsigned short *in, int stride)
{
    storeIntegers(line, pixel, msbf, column, n, in, stride,
                  [](int type, unsigned short v) {
                      int limit = type == PIXEL_4BITS ? 15
                                  : type == PIXEL_BYTE ? 255
                                  : type == PIXEL_SBYTE ? 127
                                  : type == PIXEL_SHORT ? 32767 : 65535;
                      return v > limit ? limit : (int)v;
                  });
}
