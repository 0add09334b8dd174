/*
 * interleave.cpp --
 *
 *	Byte order and interleaving of stored pixel values (interleave.h) and
 *	pixelByteSwap (lineAccess.h).  The line cache reads pixel-interleaved
 *	files (BIP, FFT, PPM, TIFF strips) and dealt DIB lines through these;
 *	the common byte cases with 2, 3 and 4 bands have loops of their own
 *	because they carry most of the traffic.
 */
#include "core/interleave.h"

#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"

int pixelValueBytes(int pixel)
{
    switch (pixel) {
    case PIXEL_BYTE:
    case PIXEL_SBYTE: return 1;
    case PIXEL_SHORT:
    case PIXEL_USHORT: return 2;
    case PIXEL_LONG:
    case PIXEL_FLOAT:
    case PIXEL_ULONG: return 4;
    default: return 0;
    }
}

bool pixelSwapNeeded(const ImageInfo *info)
{
    return pixelValueBytes(info->pixel) > 1
           && (info->msbf != 0) != (msbFirst() != 0);
}

int64_t interleavedLineBytes(int pixel, int nbands, int columns)
{
    int bits = pixelBits(pixel);
    if (bits < 1)
        bits = 8;
    return ((int64_t)nbands * columns * bits + 7) / 8;
}

/*
 * pixelByteSwap --
 *	Reverses the bytes of `count` values in place: SHORT and USHORT two
 *	bytes, LONG, FLOAT and ULONG four; other types are left alone.
 */
void pixelByteSwap(int pixel, int count, void *data)
{
    unsigned char *p = static_cast<unsigned char *>(data);
    switch (pixelValueBytes(pixel)) {
    case 2:
        for (int i = 0; i < count; i++) {
            uint16_t v;
            std::memcpy(&v, p + 2 * (size_t)i, 2);
            v = __builtin_bswap16(v);
            std::memcpy(p + 2 * (size_t)i, &v, 2);
        }
        break;
    case 4:
        for (int i = 0; i < count; i++) {
            uint32_t v;
            std::memcpy(&v, p + 4 * (size_t)i, 4);
            v = __builtin_bswap32(v);
            std::memcpy(p + 4 * (size_t)i, &v, 4);
        }
        break;
    default:
        break;
    }
}

/* ---------------------------------------------------------------------
 * Whole values
 * --------------------------------------------------------------------- */

/* Values are moved with memcpy: lines and blocks need not be aligned to
 * the value size (a TIFF strip buffer, a DIB line). */
template <typename T>
static inline T loadValue(const unsigned char *p, size_t i)
{
    T v;
    std::memcpy(&v, p + i * sizeof(T), sizeof(T));
    return v;
}

template <typename T>
static inline void storeValue(unsigned char *p, size_t i, T v)
{
    std::memcpy(p + i * sizeof(T), &v, sizeof(T));
}

/* NB > 0: a fixed band count the compiler can unroll; 0: nbands. */
template <typename T, int NB>
static void dealValues(const unsigned char *src, unsigned char *const *dst,
                       int nbands, int columns)
{
    const int nb = NB > 0 ? NB : nbands;
    if (NB > 0) {
        unsigned char *d[NB > 0 ? NB : 1];
        for (int b = 0; b < nb; b++)
            d[b] = dst[b];
        for (int k = 0; k < columns; k++)
            for (int b = 0; b < NB; b++)
                storeValue<T>(d[b], k, loadValue<T>(src, (size_t)k * NB + b));
        return;
    }
    for (int b = 0; b < nb; b++)
        for (int k = 0; k < columns; k++)
            storeValue<T>(dst[b], k, loadValue<T>(src, (size_t)k * nb + b));
}

template <typename T, int NB>
static void gatherValues(const unsigned char *const *src, unsigned char *dst,
                         int nbands, int columns)
{
    const int nb = NB > 0 ? NB : nbands;
    if (NB > 0) {
        const unsigned char *s[NB > 0 ? NB : 1];
        for (int b = 0; b < nb; b++)
            s[b] = src[b];
        for (int k = 0; k < columns; k++)
            for (int b = 0; b < NB; b++)
                storeValue<T>(dst, (size_t)k * NB + b, loadValue<T>(s[b], k));
        return;
    }
    for (int b = 0; b < nb; b++) {
        if (!src[b])
            continue;
        for (int k = 0; k < columns; k++)
            storeValue<T>(dst, (size_t)k * nb + b, loadValue<T>(src[b], k));
    }
}

#ifdef __SSE2__
/* Bytes of 2 or 4 bands, 16 pixels per step: SSE2 unpacks transpose
 * them; the rest of the line goes through the plain loop. */
static int dealBytesSSE2(const unsigned char *src, unsigned char *const *dst,
                         int nbands, int columns)
{
    int k = 0;
    if (nbands == 2) {
        const __m128i low = _mm_set1_epi16(0x00FF);
        for (; k + 16 <= columns; k += 16) {
            __m128i a = _mm_loadu_si128((const __m128i *)(src + 2 * k));
            __m128i b = _mm_loadu_si128((const __m128i *)(src + 2 * k + 16));
            _mm_storeu_si128((__m128i *)(dst[0] + k),
                             _mm_packus_epi16(_mm_and_si128(a, low),
                                              _mm_and_si128(b, low)));
            _mm_storeu_si128((__m128i *)(dst[1] + k),
                             _mm_packus_epi16(_mm_srli_epi16(a, 8),
                                              _mm_srli_epi16(b, 8)));
        }
        return k;
    }
    for (; k + 16 <= columns; k += 16) {
        const unsigned char *s = src + 4 * k;
        __m128i a = _mm_loadu_si128((const __m128i *)s);
        __m128i b = _mm_loadu_si128((const __m128i *)(s + 16));
        __m128i c = _mm_loadu_si128((const __m128i *)(s + 32));
        __m128i d = _mm_loadu_si128((const __m128i *)(s + 48));
        /* Each round halves the distance between a band's bytes. */
        __m128i t0 = _mm_unpacklo_epi8(a, b), t1 = _mm_unpackhi_epi8(a, b);
        __m128i t2 = _mm_unpacklo_epi8(c, d), t3 = _mm_unpackhi_epi8(c, d);
        __m128i u0 = _mm_unpacklo_epi8(t0, t1), u1 = _mm_unpackhi_epi8(t0, t1);
        __m128i u2 = _mm_unpacklo_epi8(t2, t3), u3 = _mm_unpackhi_epi8(t2, t3);
        __m128i v0 = _mm_unpacklo_epi8(u0, u1), v1 = _mm_unpackhi_epi8(u0, u1);
        __m128i v2 = _mm_unpacklo_epi8(u2, u3), v3 = _mm_unpackhi_epi8(u2, u3);
        _mm_storeu_si128((__m128i *)(dst[0] + k), _mm_unpacklo_epi64(v0, v2));
        _mm_storeu_si128((__m128i *)(dst[1] + k), _mm_unpackhi_epi64(v0, v2));
        _mm_storeu_si128((__m128i *)(dst[2] + k), _mm_unpacklo_epi64(v1, v3));
        _mm_storeu_si128((__m128i *)(dst[3] + k), _mm_unpackhi_epi64(v1, v3));
    }
    return k;
}
#endif

/* Bytes of several bands: the common band counts have vector loops. */
static void dealBytes(const unsigned char *src, unsigned char *const *dst,
                      int nbands, int columns)
{
    int done = 0;
#ifdef __SSE2__
    if (nbands == 2 || nbands == 4)
        done = dealBytesSSE2(src, dst, nbands, columns);
#endif
    if (done == columns)
        return;
    const unsigned char *rest = src + (size_t)done * nbands;
    std::vector<unsigned char *> tail(dst, dst + nbands);
    for (auto &line : tail)
        line += done;
    switch (nbands) {
    case 2: dealValues<uint8_t, 2>(rest, tail.data(), nbands, columns - done);
        break;
    case 3: dealValues<uint8_t, 3>(rest, tail.data(), nbands, columns - done);
        break;
    case 4: dealValues<uint8_t, 4>(rest, tail.data(), nbands, columns - done);
        break;
    default: dealValues<uint8_t, 0>(rest, tail.data(), nbands, columns - done);
        break;
    }
}

template <typename T>
static void dealBySize(const unsigned char *src, unsigned char *const *dst,
                       int nbands, int columns)
{
    switch (nbands) {
    case 2: dealValues<T, 2>(src, dst, nbands, columns); break;
    case 3: dealValues<T, 3>(src, dst, nbands, columns); break;
    case 4: dealValues<T, 4>(src, dst, nbands, columns); break;
    default: dealValues<T, 0>(src, dst, nbands, columns); break;
    }
}

template <typename T>
static void gatherBySize(const unsigned char *const *src, unsigned char *dst,
                         int nbands, int columns, bool complete)
{
    if (!complete) {
        gatherValues<T, 0>(src, dst, nbands, columns);
        return;
    }
    switch (nbands) {
    case 2: gatherValues<T, 2>(src, dst, nbands, columns); break;
    case 3: gatherValues<T, 3>(src, dst, nbands, columns); break;
    case 4: gatherValues<T, 4>(src, dst, nbands, columns); break;
    default: gatherValues<T, 0>(src, dst, nbands, columns); break;
    }
}

/* ---------------------------------------------------------------------
 * Bit-packed samples
 * --------------------------------------------------------------------- */

static inline int sampleShift(int bits, int msbf, int64_t s)
{
    int per = 8 / bits;
    int pos = (int)(s % per);
    return msbf ? 8 - bits * (pos + 1) : bits * pos;
}

static inline unsigned getSample(const unsigned char *p, int bits, int msbf,
                                 int64_t s)
{
    return (p[s / (8 / bits)] >> sampleShift(bits, msbf, s))
           & ((1u << bits) - 1);
}

static inline void setSample(unsigned char *p, int bits, int msbf, int64_t s,
                             unsigned v)
{
    int shift = sampleShift(bits, msbf, s);
    unsigned mask = ((1u << bits) - 1) << shift;
    unsigned char &byte = p[s / (8 / bits)];
    byte = (unsigned char)((byte & ~mask) | ((v << shift) & mask));
}

/* Moves `count` bit-packed samples: sample first + k * step of `from` to
 * sample to0 + k * toStep of `to`. */
static void moveSamples(int pixel, int msbf, int count,
                        const unsigned char *from, int64_t first, int step,
                        unsigned char *to, int64_t to0, int toStep)
{
    int bits = pixelBits(pixel);
    for (int64_t k = 0; k < count; k++)
        setSample(to, bits, msbf, to0 + k * toStep,
                  getSample(from, bits, msbf, first + k * step));
}

/* ---------------------------------------------------------------------
 * The two directions
 * --------------------------------------------------------------------- */

void putBIPBlockIntoBuf(int pixel, int msbf, int nbands, int columns,
                        const unsigned char *block,
                        unsigned char *const *bandLines)
{
    int size = pixelValueBytes(pixel);
    if (size == 0 && pixelBits(pixel) == 0)
        size = 1;
    if (nbands == 1 && bandLines[0]) {
        std::memcpy(bandLines[0], block, (size_t)interleavedLineBytes(
                                             pixel, 1, columns));
        return;
    }
    if (size == 0) {
        for (int b = 0; b < nbands; b++)
            if (bandLines[b])
                moveSamples(pixel, msbf, columns, block, b, nbands,
                            bandLines[b], 0, 1);
        return;
    }
    /* A band left out goes to a sink line, so the loops stay simple. */
    static std::vector<unsigned char> sink;
    std::vector<unsigned char *> lines(bandLines, bandLines + nbands);
    for (auto &line : lines) {
        if (!line) {
            sink.resize((size_t)columns * size);
            line = sink.data();
        }
    }
    switch (size) {
    case 1: dealBytes(block, lines.data(), nbands, columns); break;
    case 2: dealBySize<uint16_t>(block, lines.data(), nbands, columns); break;
    default: dealBySize<uint32_t>(block, lines.data(), nbands, columns); break;
    }
}

void getBIPBlockFromBuf(int pixel, int msbf, int nbands, int columns,
                        const unsigned char *const *bandLines,
                        unsigned char *block)
{
    int size = pixelValueBytes(pixel);
    if (size == 0 && pixelBits(pixel) == 0)
        size = 1;
    if (nbands == 1) {
        if (bandLines[0])
            std::memcpy(block, bandLines[0], (size_t)interleavedLineBytes(
                                                 pixel, 1, columns));
        return;
    }
    if (size == 0) {
        for (int b = 0; b < nbands; b++)
            if (bandLines[b])
                moveSamples(pixel, msbf, columns, bandLines[b], 0, 1, block,
                            b, nbands);
        return;
    }
    bool complete = true;
    for (int b = 0; b < nbands; b++)
        complete = complete && bandLines[b];
    switch (size) {
    case 1:
        gatherBySize<uint8_t>(bandLines, block, nbands, columns, complete);
        break;
    case 2:
        gatherBySize<uint16_t>(bandLines, block, nbands, columns, complete);
        break;
    default:
        gatherBySize<uint32_t>(bandLines, block, nbands, columns, complete);
        break;
    }
}
