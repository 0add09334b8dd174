// Tests of the renderer's row stages (gimgSample.cpp, gimgFilter.cpp,
// gimgPack.cpp) against hand-computed rows: sampling of every packing and
// scaling of wide values, the filter's neighbours and truncation, the
// error-diffusion methods (old versus new residuals), pixel layouts in
// both byte orders and quarter turns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/lineAccess.h"
#include "gimg/gimgRow.h"
#include "tests/support/imageRecords.h"

namespace {

typedef std::vector<int> Ints;

template <typename T>
Ints ints(const T *p, int n)
{
    return Ints(p, p + n);
}

Ints sample(const void *line, int pixel, int msbf, const Ints &xmap,
            int first, int last, double low = 0, double high = 255,
            const unsigned char *table = nullptr)
{
    std::vector<unsigned char> out(xmap.size(), 0xee);
    gimgSampleRow(static_cast<const unsigned char *>(line), pixel, msbf,
                  xmap.data(), first, last, (int)xmap.size(), low, high,
                  table, out.data());
    return ints(out.data(), (int)out.size());
}

TEST(gimgRow, SampleRowOfEveryPacking)
{
    unsigned char table[256];
    for (int i = 0; i < 256; i++)
        table[i] = (unsigned char)(i + 1);
    const unsigned char bytes[] = {10, 20, 30};
    /* Magnification 2 starting left of the image: outside columns show
     * the table's value of 0. */
    EXPECT_EQ(sample(bytes, PIXEL_BYTE, 0, {-1, -1, 0, 0, 1, 1, 2, 2}, 2, 8,
                     0, 255, table),
              (Ints{1, 1, 11, 11, 21, 21, 31, 31}));
    EXPECT_EQ(sample(bytes, PIXEL_BYTE, 0, {2, 1, 0, 0}, 0, 3),
              (Ints{30, 20, 10, 0}));

    const unsigned char bits[] = {0x81, 0x02};
    Ints cols = {0, 1, 6, 7, 9, 14};
    EXPECT_EQ(sample(bits, PIXEL_1BIT, 1, cols, 0, 6),
              (Ints{1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(sample(bits, PIXEL_1BIT, 0, cols, 0, 6),
              (Ints{1, 0, 0, 1, 1, 0}));

    const unsigned char nibbles[] = {0x3a, 0x5c};
    EXPECT_EQ(sample(nibbles, PIXEL_4BITS, 1, {0, 1, 2, 3}, 0, 4),
              (Ints{3, 10, 5, 12}));
    EXPECT_EQ(sample(nibbles, PIXEL_4BITS, 0, {0, 1, 2, 3}, 0, 4),
              (Ints{10, 3, 12, 5}));

    /* Wide values: low..high onto 0..255 in single precision. */
    const int16_t shorts[] = {50, 100, 600, 1100, 2000, -5};
    EXPECT_EQ(sample(shorts, PIXEL_SHORT, 0, {0, 1, 2, 3, 4, 5}, 0, 6, 100,
                     1100),
              (Ints{0, 0, 128, 255, 255, 0}));
    const uint16_t ushorts[] = {65535, 0, 32768};
    EXPECT_EQ(sample(ushorts, PIXEL_USHORT, 0, {0, 1, 2}, 0, 3, 0, 65535),
              (Ints{255, 0, 128}));
    /* o = 1e6 * s + 0.5 is 127.99999 in single precision. */
    const int32_t longs[] = {-1000000, 0, 1000000};
    EXPECT_EQ(sample(longs, PIXEL_LONG, 0, {0, 1, 2}, 0, 3, -1000000,
                     1000000),
              (Ints{0, 127, 255}));
    const float floats[] = {std::numeric_limits<float>::quiet_NaN(), 0.25f,
                            -1, 2, 1};
    EXPECT_EQ(sample(floats, PIXEL_FLOAT, 0, {0, 1, 2, 3, 4}, 0, 5, 0, 1),
              (Ints{0, 64, 0, 255, 255}));
    /* low = high: one side or the other. */
    EXPECT_EQ(sample(floats, PIXEL_FLOAT, 0, {1, 2, 3}, 0, 3, 0.25, 0.25),
              (Ints{255, 0, 255}));
    const signed char sbytes[] = {-128, 0, 127};
    EXPECT_EQ(sample(sbytes, PIXEL_SBYTE, 0, {0, 1, 2}, 0, 3, -128, 127),
              (Ints{0, 128, 255}));
}

TEST(gimgRow, DataForDisplayReadsThroughTheRecord)
{
    RAMImagePtr r = makeMemImage(IMG_MBSQ, PIXEL_BYTE, 4, 3, 2);
    ASSERT_TRUE(r);
    for (int band = 0; band < 2; band++)
        for (int y = 0; y < 3; y++) {
            unsigned char *p = putRAMImageLine(r.get(), y, band);
            for (int x = 0; x < 4; x++)
                p[x] = (unsigned char)(100 * band + 10 * y + x);
        }
    unsigned char table[256];
    for (int i = 0; i < 256; i++)
        table[i] = (unsigned char)(255 - i);
    int xmap[6] = {3, 2, 1, 0, 4, 5};
    unsigned char out[6];
    getDataForDisp(r.get(), 2, 1, xmap, 0, 4, 6, 0, 255, table, out);
    EXPECT_EQ(ints(out, 6), (Ints{132, 133, 134, 135, 255, 255}));
    getDataForDisplay(r.get(), 1, 0, xmap, 1, 3, 6, 0, 255, out);
    EXPECT_EQ(ints(out, 6), (Ints{0, 12, 11, 0, 0, 0}));
    /* A map reaching past the record's columns (the record shrank under
     * the display ports) shows 0 there instead of reading past the line. */
    getDataForDisplay(r.get(), 1, 0, xmap, 0, 6, 6, 0, 255, out);
    EXPECT_EQ(ints(out, 6), (Ints{13, 12, 11, 10, 0, 0}));
    /* A row outside the image reads as zeros. */
    getDataForDisp(r.get(), 7, 0, xmap, 0, 4, 4, 0, 255, table, out);
    EXPECT_EQ(ints(out, 4), (Ints{255, 255, 255, 255}));
}

Ints filtered(Ints row, Ints above, double s, int bg, int dir,
              int firstRow = 0, Ints *aboveOut = nullptr)
{
    std::vector<unsigned char> r(row.begin(), row.end()),
        p(above.begin(), above.end());
    p.resize(r.size());
    filter4((int)r.size(), r.data(), p.data(), s, bg, firstRow, dir);
    if (aboveOut)
        *aboveOut = ints(p.data(), (int)p.size());
    return ints(r.data(), (int)r.size());
}

TEST(gimgRow, FilterNeighboursAndTruncation)
{
    EXPECT_EQ(filtered({100, 100, 100}, {100, 100, 100}, 1, -1, 0),
              (Ints{192, 192, 192}));
    /* Emboss 0.1 at a step: 192 + trunc(30.5); -9.5 truncates to -9. */
    EXPECT_EQ(filtered({100, 200, 100}, {100, 100, 100}, 0.1, -1, 0),
              (Ints{192, 222, 183}));
    /* Edges at background 128 with s = 1 (gain 3); l, u, ul of x = 1 are
     * 100, 95, 90; -29.5 truncates to -29; the first column is its own left
     * neighbour and its pixel above its own above-left. */
    Ints above;
    EXPECT_EQ(filtered({100, 110}, {90, 95}, 1, 128, 1), (Ints{128, 99}));
    EXPECT_EQ(filtered({100, 110}, {90, 95}, 1, 128, 2), (Ints{158, 143}));
    EXPECT_EQ(filtered({100, 110}, {90, 95}, 1, 128, 3, 0, &above),
              (Ints{158, 173}));
    EXPECT_EQ(above, (Ints{100, 110}));
    EXPECT_EQ(filtered({100, 110}, {90, 95}, 1, 128, 4), (Ints{158, 188}));
    /* Sharpening around the pixel itself; the first row is its own row
     * above. */
    EXPECT_EQ(filtered({100, 100, 200}, {0, 0, 0}, 0.5, 0, 0, 1),
              (Ints{100, 100, 255}));
    EXPECT_EQ(filtered({100, 100, 160}, {0, 0, 0}, 0.1, 0, 9, 1),
              (Ints{100, 100, 172}));
    /* Smoothing: w = 0.25 far below; exp(-1) * 0.75 + 0.25 otherwise. */
    EXPECT_EQ(filtered({0, 90}, {30, 60}, -1000, 0, 0), (Ints{15, 45}));
    EXPECT_EQ(filtered({0, 90}, {30, 60}, -1, 0, 0), (Ints{9, 28}));
}

TEST(gimgRow, GreyRowAveragesByBandCount)
{
    unsigned char a[] = {255, 10}, b[] = {255, 20}, c[] = {0, 1}, out[2];
    gimgGreyRow(2, a, b, c, 2, out);
    EXPECT_EQ(ints(out, 2), (Ints{255, 15}));
    gimgGreyRow(2, a, b, c, 3, out);
    EXPECT_EQ(ints(out, 2), (Ints{170, 10}));
}

struct DitherTables {
    unsigned char function[256], index[256];
    signed char residual[256];
};

TEST(gimgRow, ErrorDiffusionMethods)
{
    DitherTables t;
    for (int v = 0; v < 256; v++) {
        t.function[v] = (unsigned char)v;
        t.index[v] = (unsigned char)(v / 64);
        t.residual[v] = (signed char)(v % 64 - 32);
    }
    unsigned char values[] = {100, 10, 200}, index[3] = {0, 0, 0};
    signed char e[5] = {5, 0, 0, 0, 0};
    /* Method 1: even rows take the left residual (starting with e[0]),
     * odd rows the one above. */
    dithering3(3, index, values, t.function, t.index, t.residual, e, 1, 0);
    EXPECT_EQ(ints(index, 3), (Ints{1, 0, 2}));
    EXPECT_EQ(ints(e, 3), (Ints{9, -13, 27}));
    std::memset(index, 10, 3);
    dithering3(3, index, values, t.function, t.index, t.residual, e, 1, 1);
    EXPECT_EQ(ints(index, 3), (Ints{11, 10, 13}));
    EXPECT_EQ(ints(e, 3), (Ints{13, -32, 3}));
    /* Method 0 reads no residuals. */
    dithering3(3, index, values, t.function, t.index, t.residual, e, 0, 0);
    EXPECT_EQ(ints(index, 3), (Ints{12, 10, 16}));

    /* Methods 2 to 4 with a zero function and identity index: the index
     * row shows v, computed from the residuals of the row above (old ones,
     * even after x - 1 was replaced) and the new left residual 2. */
    DitherTables w;
    for (int v = 0; v < 256; v++) {
        w.function[v] = 0;
        w.index[v] = (unsigned char)v;
        w.residual[v] = 2;
    }
    struct Case { int method; Ints expected; } cases[] = {
        {2, {10, 11, 16}}, {3, {10, 10, 17}}, {4, {12, 14, 13}},
    };
    for (const Case &k : cases) {
        signed char err[5] = {10, 20, 30, 0, 0};
        unsigned char idx[3] = {0, 0, 0};
        dithering3(3, idx, values, w.function, w.index, w.residual, err,
                   k.method, 0);
        EXPECT_EQ(ints(idx, 3), k.expected) << "method " << k.method;
    }
    /* Division toward zero: (-3 + 0) / 2 is -1. */
    for (int v = 0; v < 256; v++) {
        w.function[v] = 5;
        w.residual[v] = -3;
    }
    signed char err[4] = {0, 0, 0, 0};
    unsigned char idx[2] = {0, 0};
    dithering3(2, idx, values, w.function, w.index, w.residual, err, 2, 0);
    EXPECT_EQ(ints(idx, 2), (Ints{5, 4}));
}

std::vector<unsigned char> packed(int bpp, int msb, unsigned long rm,
                                  unsigned long gm, unsigned long bm,
                                  int widen, Ints r, Ints g, Ints b)
{
    GimgPixelFormat f;
    gimgPixelFormatInit(&f, bpp, msb, rm, gm, bm, widen);
    std::vector<unsigned char> cr(r.begin(), r.end()), cg(g.begin(), g.end()),
        cb(b.begin(), b.end());
    std::vector<unsigned char> out(r.size() * f.bytesPerPixel);
    gimgPackRow(&f, (int)r.size(), cr.data(), cg.data(), cb.data(),
                out.data());
    return out;
}

typedef std::vector<unsigned char> Bytes;

TEST(gimgRow, PixelLayouts)
{
    EXPECT_EQ(packed(16, 0, 0xf800, 0x07e0, 0x001f, 1, {255, 255, 8},
                     {0, 255, 4}, {0, 255, 8}),
              (Bytes{0x00, 0xf8, 0xff, 0xff, 0x21, 0x08}));
    EXPECT_EQ(packed(16, 1, 0xf800, 0x07e0, 0x001f, 1, {255}, {0}, {0}),
              (Bytes{0xf8, 0x00}));
    EXPECT_EQ(packed(32, 0, 0xff0000, 0xff00, 0xff, 1, {1}, {2}, {3}),
              (Bytes{3, 2, 1, 0}));
    EXPECT_EQ(packed(32, 1, 0xff0000, 0xff00, 0xff, 1, {1}, {2}, {3}),
              (Bytes{0, 1, 2, 3}));
    EXPECT_EQ(packed(24, 0, 0xff0000, 0xff00, 0xff, 1, {1, 4}, {2, 5},
                     {3, 6}),
              (Bytes{3, 2, 1, 6, 5, 4}));
    /* 10 bits per channel: widened, 255 fills the channel. */
    EXPECT_EQ(packed(32, 0, 0x3ff00000, 0xffc00, 0x3ff, 1, {255, 128},
                     {255, 0}, {255, 1}),
              (Bytes{0xff, 0xff, 0xff, 0x3f, 0x04, 0x00, 0x20, 0x20}));
    EXPECT_EQ(packed(32, 0, 0x3ff00000, 0xffc00, 0x3ff, 0, {255}, {0}, {0}),
              (Bytes{0x00, 0x00, 0xc0, 0x3f}));

    unsigned long palette[256];
    for (int i = 0; i < 256; i++)
        palette[i] = (unsigned long)(i ^ 1);
    unsigned char index[] = {1, 0, 0, 1, 1, 1, 1, 0, 0};
    Bytes out(4, 0xee);
    gimgPackIndexRow(9, index, palette, 1, 0, 1, out.data());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 2), (Bytes{0x61, 0x80}));
    gimgPackIndexRow(9, index, palette, 1, 0, 0, out.data());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 2), (Bytes{0x86, 0x01}));
    unsigned char nib[] = {0, 3, 2};
    gimgPackIndexRow(3, nib, palette, 4, 0, 1, out.data());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 2), (Bytes{0x12, 0x30}));
    gimgPackIndexRow(3, nib, palette, 8, 0, 1, out.data());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{1, 2, 3}));
    gimgPackIndexRow(2, nib, palette, 16, 1, 1, out.data());
    EXPECT_EQ(out, (Bytes{0, 1, 0, 2}));
}

TEST(gimgRow, QuarterTurns)
{
    /* Rows "abc" and "def" (2 x 3): left gives cf/be/ad, right da/eb/fc. */
    const unsigned char src[] = {'a', 'b', 'c', 'x', 'd', 'e', 'f', 'x'};
    unsigned char dst[3 * 3];
    std::memset(dst, '.', sizeof dst);
    rotateByteLeft(src, 4, 2, 3, dst, 3);
    EXPECT_EQ(std::string((char *)dst, 9), "cf.be.ad.");
    rotateByteRight(src, 4, 2, 3, dst, 3);
    EXPECT_EQ(std::string((char *)dst, 9), "da.eb.fc.");

    /* Two-, three- and four-byte pixels move whole. */
    const uint16_t s16[] = {1, 2, 3, 4};          /* 2 x 2 */
    uint16_t d16[4];
    rotateShortLeft((const unsigned char *)s16, 4, 2, 2,
                    (unsigned char *)d16, 4);
    EXPECT_EQ(ints(d16, 4), (Ints{2, 4, 1, 3}));
    rotateShortRight((const unsigned char *)s16, 4, 2, 2,
                     (unsigned char *)d16, 4);
    EXPECT_EQ(ints(d16, 4), (Ints{3, 1, 4, 2}));
    const unsigned char s24[] = {1, 2, 3, 4, 5, 6};  /* 1 x 2 */
    unsigned char d24[6];
    rotateRGBLeft(s24, 6, 1, 2, d24, 3, 3);
    EXPECT_EQ(ints(d24, 6), (Ints{4, 5, 6, 1, 2, 3}));
    const uint32_t s32[] = {7, 8};                 /* 2 x 1 */
    uint32_t d32[2];
    rotateRGBRight((const unsigned char *)s32, 4, 2, 1,
                   (unsigned char *)d32, 8, 4);
    EXPECT_EQ(ints(d32, 2), (Ints{8, 7}));
}

}  // namespace
