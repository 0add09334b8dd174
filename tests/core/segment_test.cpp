// Tests of segment.cpp and pixelConv.cpp: conversions and clipping per
// pixel type (checked on the cached bytes), packing orders, segments
// reaching outside the image, palette components and interleaved access.
// How cached lines reach the file is lineCache_test's part.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/lineAccess.h"
#include "tests/support/imageRecords.h"

namespace {

template <typename T>
std::vector<T> cachedValues(RAMImage *r, int line, int band, int n)
{
    std::vector<T> v((size_t)n);
    std::memcpy(v.data(), r->getLine(r, line, band, 1), n * sizeof(T));
    return v;
}

std::vector<unsigned char> cachedBytes(RAMImage *r, int line, int band)
{
    const unsigned char *p = r->getLine(r, line, band, 1);
    return std::vector<unsigned char>(p, p + r->lineBytes);
}

template <typename T>
void storeCached(RAMImage *r, int line, int band, const std::vector<T> &v)
{
    std::memcpy(r->getLine(r, line, band, 1), v.data(), v.size() * sizeof(T));
}

const float NaN = std::numeric_limits<float>::quiet_NaN();

/* The values a one-line image of the pixel type holds after `in` is
 * written with putFloatBILData. */
template <typename T>
std::vector<T> stored(int pixel, const std::vector<float> &in)
{
    auto r = makeMemImage(IMG_MBIL, pixel, (int)in.size(), 1, 1);
    putFloatBILData(r.get(), 0, 0, (int)in.size(), 0, in.data());
    return cachedValues<T>(r.get(), 0, 0, (int)in.size());
}

/* What getByteBILData makes of stored values. */
template <typename T>
std::vector<int> lowBytes(int pixel, const std::vector<T> &v)
{
    auto r = makeMemImage(IMG_MBIL, pixel, (int)v.size(), 1, 1);
    storeCached(r.get(), 0, 0, v);
    std::vector<unsigned char> out(v.size());
    getByteBILData(r.get(), 0, 0, (int)v.size(), 0, out.data());
    return std::vector<int>(out.begin(), out.end());
}

} // namespace

TEST(putFloatBILData, RoundsAndClipsPerPixelType)
{
    EXPECT_EQ(stored<uint8_t>(PIXEL_BYTE, {300.2f, -4, 12.5f, 12.49f, 254.6f,
                                           NaN, 0.49999997f}),
              (std::vector<uint8_t>{255, 0, 13, 12, 255, 0, 0}));
    EXPECT_EQ(stored<int16_t>(PIXEL_SHORT, {-2.7f, -0.3f, 2.5f, -2.5f, 40000,
                                            -40000, -32768, 32767}),
              (std::vector<int16_t>{-2, 0, 3, -2, 32767, -32768, -32767,
                                    32767}));
    EXPECT_EQ(stored<uint16_t>(PIXEL_USHORT, {70000, -1, 65534.6f, 1.5f}),
              (std::vector<uint16_t>{65535, 0, 65535, 2}));
    EXPECT_EQ(stored<int32_t>(PIXEL_LONG, {3e9f, -3e9f, -2.7f, 123456.5f,
                                           -2147483648.0f}),
              (std::vector<int32_t>{2147483647, -2147483647 - 1, -2, 123457,
                                    -2147483647}));
    EXPECT_EQ(stored<uint32_t>(PIXEL_ULONG, {5e9f, -1, 4e9f, 2.5f}),
              (std::vector<uint32_t>{4294967295u, 0, 4000000000u, 3}));
    EXPECT_EQ(stored<int8_t>(PIXEL_SBYTE, {200, -200, -2.7f, 126.6f}),
              (std::vector<int8_t>{127, -128, -2, 127}));
    EXPECT_EQ(stored<float>(PIXEL_FLOAT, {1.25f, -1e30f, 0.1f}),
              (std::vector<float>{1.25f, -1e30f, 0.1f}));
}

TEST(putFloatBILData, PacksBitsAndNibblesInBothOrders)
{
    std::vector<float> bits = {1, 0, 1, 0.5f, 0, 0, 0, 0, -1};
    std::vector<float> nibbles = {17, 2, 3.4f};
    for (int msbf = 0; msbf < 2; msbf++) {
        SCOPED_TRACE(msbf);
        auto r1 = makeMemImage(IMG_MBIL, PIXEL_1BIT, 9, 1, 1, msbf);
        putFloatBILData(r1.get(), 0, 0, 9, 0, bits.data());
        EXPECT_EQ(cachedBytes(r1.get(), 0, 0),
                  msbf ? (std::vector<unsigned char>{0xB0, 0x80})
                       : (std::vector<unsigned char>{0x0D, 0x01}));
        auto r4 = makeMemImage(IMG_MBIL, PIXEL_4BITS, 3, 1, 1, msbf);
        putFloatBILData(r4.get(), 0, 0, 3, 0, nibbles.data());
        EXPECT_EQ(cachedBytes(r4.get(), 0, 0),
                  msbf ? (std::vector<unsigned char>{0xF2, 0x30})
                       : (std::vector<unsigned char>{0x2F, 0x03}));
        std::vector<float> back(9), back4(3);
        getFloatBILData(r1.get(), 0, 0, 9, 0, back.data());
        EXPECT_EQ(back, (std::vector<float>{1, 0, 1, 1, 0, 0, 0, 0, 1}));
        getFloatBILData(r4.get(), 0, 0, 3, 0, back4.data());
        EXPECT_EQ(back4, (std::vector<float>{15, 2, 3}));

        // A single pixel leaves its neighbours' bits alone.
        storeCached(r1.get(), 0, 0, std::vector<unsigned char>{0xFF, 0xFF});
        float zero = 0;
        putFloatBILData(r1.get(), 0, 2, 1, 0, &zero);
        EXPECT_EQ(cachedBytes(r1.get(), 0, 0)[0], msbf ? 0xDF : 0xFB);
        storeCached(r4.get(), 0, 0, std::vector<unsigned char>{0xFF, 0xFF});
        putFloatBILData(r4.get(), 0, 1, 1, 0, &zero);
        EXPECT_EQ(cachedBytes(r4.get(), 0, 0)[0], msbf ? 0xF0 : 0x0F);
    }
}

TEST(getByteBILData, LowByteOfWiderTypes)
{
    EXPECT_EQ(lowBytes<int16_t>(PIXEL_SHORT, {-3, 0x1234}),
              (std::vector<int>{0xFD, 0x34}));
    EXPECT_EQ(lowBytes<uint16_t>(PIXEL_USHORT, {0xABCD}),
              (std::vector<int>{0xCD}));
    EXPECT_EQ(lowBytes<int32_t>(PIXEL_LONG, {0x12345678}),
              (std::vector<int>{0x78}));
    EXPECT_EQ(lowBytes<uint32_t>(PIXEL_ULONG, {0xFEDCBA98u}),
              (std::vector<int>{0x98}));
    EXPECT_EQ(lowBytes<float>(PIXEL_FLOAT, {-3.7f, 300.9f, NaN, 1e20f}),
              (std::vector<int>{253, 44, 0, 0}));
    EXPECT_EQ(lowBytes<int8_t>(PIXEL_SBYTE, {-3}), (std::vector<int>{253}));
}

TEST(putByteBILData, NarrowsAndWidens)
{
    const std::vector<unsigned char> bytes = {0x23, 7, 0, 200};
    const std::vector<unsigned short> wide = {300, 40000, 65535, 0};
    struct {
        int pixel;
        std::vector<int> fromBytes, fromShorts;
    } expected[] = {
        {PIXEL_1BIT, {1, 1, 0, 1}, {1, 1, 1, 0}},
        {PIXEL_4BITS, {3, 7, 0, 8}, {15, 15, 15, 0}},
        {PIXEL_BYTE, {35, 7, 0, 200}, {255, 255, 255, 0}},
        {PIXEL_SBYTE, {35, 7, 0, -56}, {127, 127, 127, 0}},
        {PIXEL_SHORT, {35, 7, 0, 200}, {300, 32767, 32767, 0}},
        {PIXEL_USHORT, {35, 7, 0, 200}, {300, 40000, 65535, 0}},
        {PIXEL_LONG, {35, 7, 0, 200}, {300, 40000, 65535, 0}},
        {PIXEL_FLOAT, {35, 7, 0, 200}, {300, 40000, 65535, 0}},
    };
    for (const auto &e : expected) {
        SCOPED_TRACE(strPixelID(e.pixel));
        auto r = makeMemImage(IMG_MBIL, e.pixel, 4, 2, 1, 1);
        putByteBILData(r.get(), 0, 0, 4, 0, bytes.data());
        putUSHORTBILData(r.get(), 1, 0, 4, 0, wide.data());
        std::vector<float> back(8);
        getFloatBILData(r.get(), 0, 0, 4, 0, back.data());
        getFloatBILData(r.get(), 1, 0, 4, 0, back.data() + 4);
        EXPECT_EQ(std::vector<int>(back.begin(), back.begin() + 4),
                  e.fromBytes);
        EXPECT_EQ(std::vector<int>(back.begin() + 4, back.end()),
                  e.fromShorts);
    }
}

TEST(getFloatBILData, SegmentsOutsideTheImage)
{
    auto r = makeMemImage(IMG_MBIL, PIXEL_SHORT, 5, 3, 2);
    for (int y = 0; y < 3; y++)
        for (int b = 0; b < 2; b++)
            storeCached(r.get(), y, b,
                        std::vector<int16_t>{(int16_t)(100 * y + 10 * b + 1),
                                             2, 3, 4, (int16_t)-5});
    std::vector<float> out(10, 99);
    getFloatBILData(r.get(), 1, -3, 10, 1, out.data());
    EXPECT_EQ(out, (std::vector<float>{0, 0, 0, 111, 2, 3, 4, -5, 0, 0}));
    for (auto [line, band] : std::vector<std::pair<int, int>>{
             {-1, 0}, {3, 0}, {0, 2}, {0, -1}}) {
        std::fill(out.begin(), out.end(), 99);
        getFloatBILData(r.get(), line, 0, 5, band, out.data());
        EXPECT_EQ(out[0] + out[4], 0) << line << "," << band;
    }
    std::vector<unsigned char> bytes(4, 99);
    getByteBILData(r.get(), 2, 3, 4, 0, bytes.data());
    EXPECT_EQ(bytes, (std::vector<unsigned char>{4, 0xFB, 0, 0}));

    // Output stride of the Ex forms.
    std::vector<float> strided(9, -1);
    getFloatBILDataEx(r.get(), 0, 3, 3, 0, strided.data(), 3);
    EXPECT_EQ(strided, (std::vector<float>{4, -1, -1, -5, -1, -1, 0, -1, -1}));
    std::vector<unsigned char> sb(6, 7);
    getByteBILDataEx(r.get(), 0, -1, 3, 0, sb.data(), 2);
    EXPECT_EQ(sb, (std::vector<unsigned char>{0, 7, 1, 7, 2, 7}));

    // Writes keep to the image and mark the line dirty.
    std::vector<float> in = {9, 9, 7, 8};
    putFloatBILData(r.get(), 2, -2, 4, 1, in.data());
    putFloatBILData(r.get(), 2, 4, 4, 1, in.data());
    putFloatBILData(r.get(), 3, 0, 4, 1, in.data());
    EXPECT_EQ(cachedValues<int16_t>(r.get(), 2, 1, 5),
              (std::vector<int16_t>{7, 8, 3, 4, 9}));
    EXPECT_TRUE(ramImageSlotDirty(r.get(), 2 * 2 + 1));
    EXPECT_FALSE(ramImageSlotDirty(r.get(), 2 * 2 + 0));
}

TEST(readFloatBILData, PaletteComponents)
{
    auto r = makeMemImage(IMG_MBIL, PIXEL_BYTE, 3, 1, 1);
    r->info.nindices = 3;
    const unsigned char palette[3][3] = {{10, 20, 30}, {40, 50, 60},
                                         {70, 80, 90}};
    std::memcpy(r->info.palette, palette, sizeof palette);
    storeCached(r.get(), 0, 0, std::vector<unsigned char>{2, 0, 1});
    std::vector<unsigned char> out(5);
    readByteBILData(r.get(), 0, -1, 5, 0, out.data());
    EXPECT_EQ(out, (std::vector<unsigned char>{0, 70, 10, 40, 0}));
    readByteBILData(r.get(), 0, 0, 3, 4, out.data());
    EXPECT_EQ(out[0] + 256 * out[1] + 65536 * out[2], 80 + 256 * 20 + 65536 * 50);
    std::vector<float> f(4);
    readFloatBILData(r.get(), 0, 0, 4, 2, f.data());
    EXPECT_EQ(f, (std::vector<float>{90, 30, 60, 0}));
    readFloatBILData(r.get(), 0, 0, 4, -1, f.data());
    EXPECT_EQ(f, (std::vector<float>{2, 0, 1, 0}));
    readByteBILData(r.get(), 0, 0, 3, -1, out.data());
    EXPECT_EQ(out[0], 2);

    // Without a palette the band is a band.
    auto plain = makeMemImage(IMG_MBIL, PIXEL_BYTE, 2, 1, 2);
    storeCached(plain.get(), 0, 1, std::vector<unsigned char>{5, 6});
    readFloatBILData(plain.get(), 0, 0, 2, 1, f.data());
    EXPECT_EQ(f[0] + f[1], 11);
}

TEST(readFloatBIPData, InterleavedBandsAndSteps)
{
    auto r = makeMemImage(IMG_MBIP, PIXEL_BYTE, 10, 2, 3);
    for (int y = 0; y < 2; y++)
        for (int b = 0; b < 3; b++) {
            std::vector<unsigned char> v(10);
            for (int x = 0; x < 10; x++)
                v[x] = (unsigned char)(80 * b + 10 * y + x);
            storeCached(r.get(), y, b, v);
        }
    const int list[2] = {2, 0};
    std::vector<float> f(8);
    readFloatBIPData(r.get(), 1, 0, 10, 3, 2, list, f.data());
    EXPECT_EQ(f, (std::vector<float>{170, 10, 173, 13, 176, 16, 179, 19}));
    std::vector<float> g(12, -1);
    readFloatBIPData(r.get(), 0, -4, 10, 3, 3, nullptr, g.data());
    EXPECT_EQ(g, (std::vector<float>{0, 0, 0, 0, 0, 0, 2, 82, 162, 5, 85, 165}));
    std::vector<float> h(4, -1);
    readFloatBIPData(r.get(), 0, 9, 1, 0, 4, nullptr, h.data());
    EXPECT_EQ(h, (std::vector<float>{9, 89, 169, 0}));
    std::vector<unsigned char> b(8);
    readByteBIPData(r.get(), 0, 8, 2, 1, 4, nullptr, b.data());
    EXPECT_EQ(b, (std::vector<unsigned char>{8, 88, 168, 8, 9, 89, 169, 9}));

    float pixel[3];
    getFloatBIPData(r.get(), 1, 4, pixel);
    EXPECT_EQ(std::vector<float>(pixel, pixel + 3),
              (std::vector<float>{14, 94, 174}));
    EXPECT_EQ(getFloatPixelValue(r.get(), 4, 1, 2), 174);
    EXPECT_EQ(getFloatPixelValue(r.get(), 10, 1, 2), 0);
    EXPECT_EQ(getFloatPixelValue(r.get(), 4, 1, 3), 0);
}

TEST(writeFloatBIPData, InterleavedWrites)
{
    auto r = makeMemImage(IMG_MBIP, PIXEL_SHORT, 4, 1, 3);
    const int list[2] = {1, 7};
    const float in[4] = {1.4f, 9, -2.7f, 9};
    writeFloatBIPData(r.get(), 0, 2, 2, 2, list, in);
    EXPECT_EQ(cachedValues<int16_t>(r.get(), 0, 1, 4),
              (std::vector<int16_t>{0, 0, 1, -2}));
    const float three[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    putFloatBIPData(r.get(), 1, 3, 0, -1, 3, three);
    EXPECT_EQ(cachedValues<int16_t>(r.get(), 0, 1, 4),
              (std::vector<int16_t>{4, 7, 1, -2}));
    EXPECT_EQ(cachedValues<int16_t>(r.get(), 0, 2, 4),
              (std::vector<int16_t>{5, 8, 0, 0}));
    EXPECT_EQ(cachedValues<int16_t>(r.get(), 0, 0, 4),
              (std::vector<int16_t>{0, 0, 0, 0}));
    const unsigned char bytes[6] = {1, 2, 3, 4, 5, 6};
    writeByteBIPData(r.get(), 0, 0, 2, 3, nullptr, bytes);
    EXPECT_EQ(cachedValues<int16_t>(r.get(), 0, 2, 2),
              (std::vector<int16_t>{3, 6}));
    putByteBIPData(r.get(), 2, 2, 0, 3, 1, bytes);
    EXPECT_EQ(cachedValues<int16_t>(r.get(), 0, 2, 4)[3], 1);
}
