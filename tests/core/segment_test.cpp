// Tests of segment.cpp and pixelConv.cpp: conversions and clipping per
// pixel type (checked on the cached bytes), packing orders, segments
// reaching outside the image, palette components, interleaved access,
// and files written through the cache.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "core/lineAccess.h"
#include "tests/core/memImage.h"
#include "tests/support/testSupport.h"

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

} // namespace

TEST(putFloatBILData, RoundsAndClipsPerPixelType)
{
    {
        auto r = makeMemImage(IMG_MBIL, PIXEL_BYTE, 7, 1, 1);
        std::vector<float> in = {300.2f, -4, 12.5f, 12.49f, 254.6f, NaN,
                                 0.49999997f};
        putFloatBILData(r.get(), 0, 0, 7, 0, in.data());
        EXPECT_EQ(cachedBytes(r.get(), 0, 0),
                  (std::vector<unsigned char>{255, 0, 13, 12, 255, 0, 0}));
    }
    {
        auto r = makeMemImage(IMG_MBIL, PIXEL_SHORT, 8, 1, 1);
        std::vector<float> in = {-2.7f, -0.3f, 2.5f, -2.5f, 40000, -40000,
                                 -32768, 32767};
        putFloatBILData(r.get(), 0, 0, 8, 0, in.data());
        EXPECT_EQ(cachedValues<int16_t>(r.get(), 0, 0, 8),
                  (std::vector<int16_t>{-2, 0, 3, -2, 32767, -32768, -32767,
                                        32767}));
    }
    {
        auto r = makeMemImage(IMG_MBIL, PIXEL_USHORT, 4, 1, 1);
        std::vector<float> in = {70000, -1, 65534.6f, 1.5f};
        putFloatBILData(r.get(), 0, 0, 4, 0, in.data());
        EXPECT_EQ(cachedValues<uint16_t>(r.get(), 0, 0, 4),
                  (std::vector<uint16_t>{65535, 0, 65535, 2}));
    }
    {
        auto r = makeMemImage(IMG_MBIL, PIXEL_LONG, 5, 1, 1);
        std::vector<float> in = {3e9f, -3e9f, -2.7f, 123456.5f,
                                 -2147483648.0f};
        putFloatBILData(r.get(), 0, 0, 5, 0, in.data());
        EXPECT_EQ(cachedValues<int32_t>(r.get(), 0, 0, 5),
                  (std::vector<int32_t>{2147483647, -2147483647 - 1, -2,
                                        123457, -2147483647}));
    }
    {
        auto r = makeMemImage(IMG_MBIL, PIXEL_ULONG, 4, 1, 1);
        std::vector<float> in = {5e9f, -1, 4e9f, 2.5f};
        putFloatBILData(r.get(), 0, 0, 4, 0, in.data());
        EXPECT_EQ(cachedValues<uint32_t>(r.get(), 0, 0, 4),
                  (std::vector<uint32_t>{4294967295u, 0, 4000000000u, 3}));
    }
    {
        auto r = makeMemImage(IMG_MBIL, PIXEL_SBYTE, 4, 1, 1);
        std::vector<float> in = {200, -200, -2.7f, 126.6f};
        putFloatBILData(r.get(), 0, 0, 4, 0, in.data());
        EXPECT_EQ(cachedValues<int8_t>(r.get(), 0, 0, 4),
                  (std::vector<int8_t>{127, -128, -2, 127}));
    }
    {
        auto r = makeMemImage(IMG_MBIL, PIXEL_FLOAT, 3, 1, 1);
        std::vector<float> in = {1.25f, -1e30f, 0.1f};
        putFloatBILData(r.get(), 0, 0, 3, 0, in.data());
        EXPECT_EQ(cachedValues<float>(r.get(), 0, 0, 3), in);
    }
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
        std::vector<float> back(9);
        getFloatBILData(r1.get(), 0, 0, 9, 0, back.data());
        EXPECT_EQ(back, (std::vector<float>{1, 0, 1, 1, 0, 0, 0, 0, 1}));
        getFloatBILData(r4.get(), 0, 0, 3, 0, back.data());
        EXPECT_EQ(back[0], 15);
        EXPECT_EQ(back[1], 2);
        EXPECT_EQ(back[2], 3);

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
    unsigned char out[4];
    auto s = makeMemImage(IMG_MBIL, PIXEL_SHORT, 2, 1, 1);
    storeCached(s.get(), 0, 0, std::vector<int16_t>{-3, 0x1234});
    getByteBILData(s.get(), 0, 0, 2, 0, out);
    EXPECT_EQ(out[0], 0xFD);
    EXPECT_EQ(out[1], 0x34);
    auto u = makeMemImage(IMG_MBIL, PIXEL_USHORT, 1, 1, 1);
    storeCached(u.get(), 0, 0, std::vector<uint16_t>{0xABCD});
    getByteBILData(u.get(), 0, 0, 1, 0, out);
    EXPECT_EQ(out[0], 0xCD);
    auto l = makeMemImage(IMG_MBIL, PIXEL_LONG, 1, 1, 1);
    storeCached(l.get(), 0, 0, std::vector<int32_t>{0x12345678});
    getByteBILData(l.get(), 0, 0, 1, 0, out);
    EXPECT_EQ(out[0], 0x78);
    auto ul = makeMemImage(IMG_MBIL, PIXEL_ULONG, 1, 1, 1);
    storeCached(ul.get(), 0, 0, std::vector<uint32_t>{0xFEDCBA98u});
    getByteBILData(ul.get(), 0, 0, 1, 0, out);
    EXPECT_EQ(out[0], 0x98);
    auto f = makeMemImage(IMG_MBIL, PIXEL_FLOAT, 4, 1, 1);
    storeCached(f.get(), 0, 0, std::vector<float>{-3.7f, 300.9f, NaN, 1e20f});
    getByteBILData(f.get(), 0, 0, 4, 0, out);
    EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{253, 44, 0, 0}));
    auto sb = makeMemImage(IMG_MBIL, PIXEL_SBYTE, 1, 1, 1);
    storeCached(sb.get(), 0, 0, std::vector<int8_t>{-3});
    getByteBILData(sb.get(), 0, 0, 1, 0, out);
    EXPECT_EQ(out[0], 253);
    float v;
    getFloatBILData(sb.get(), 0, 0, 1, 0, &v);
    EXPECT_EQ(v, -3);
    getFloatBILData(ul.get(), 0, 0, 1, 0, &v);
    EXPECT_EQ(v, (float)0xFEDCBA98u);
}

TEST(putByteBILData, NarrowsAndWidens)
{
    std::vector<unsigned char> in = {0x23, 7, 0, 200};
    auto n = makeMemImage(IMG_MBIL, PIXEL_4BITS, 4, 1, 1, 1);
    putByteBILData(n.get(), 0, 0, 4, 0, in.data());
    EXPECT_EQ(cachedBytes(n.get(), 0, 0), (std::vector<unsigned char>{0x37, 0x08}));
    auto b = makeMemImage(IMG_MBIL, PIXEL_1BIT, 4, 1, 1, 1);
    putByteBILData(b.get(), 0, 0, 4, 0, in.data());
    EXPECT_EQ(cachedBytes(b.get(), 0, 0)[0], 0xD0);
    auto s = makeMemImage(IMG_MBIL, PIXEL_SHORT, 4, 1, 1);
    putByteBILData(s.get(), 0, 0, 4, 0, in.data());
    EXPECT_EQ(cachedValues<int16_t>(s.get(), 0, 0, 4),
              (std::vector<int16_t>{0x23, 7, 0, 200}));
    auto f = makeMemImage(IMG_MBIL, PIXEL_FLOAT, 4, 1, 1);
    putByteBILData(f.get(), 0, 0, 4, 0, in.data());
    EXPECT_EQ(cachedValues<float>(f.get(), 0, 0, 4),
              (std::vector<float>{35, 7, 0, 200}));
    auto sb = makeMemImage(IMG_MBIL, PIXEL_SBYTE, 4, 1, 1);
    putByteBILData(sb.get(), 0, 0, 4, 0, in.data());
    EXPECT_EQ(cachedValues<int8_t>(sb.get(), 0, 0, 4)[3], -56);

    std::vector<unsigned short> wide = {300, 40000, 65535, 20};
    const std::pair<int, std::vector<int>> expected[] = {
        {PIXEL_BYTE, {255, 255, 255, 20}},
        {PIXEL_SBYTE, {127, 127, 127, 20}},
        {PIXEL_SHORT, {300, 32767, 32767, 20}},
        {PIXEL_USHORT, {300, 40000, 65535, 20}},
        {PIXEL_LONG, {300, 40000, 65535, 20}},
        {PIXEL_4BITS, {15, 15, 15, 15}},
        {PIXEL_1BIT, {1, 1, 1, 1}},
    };
    for (const auto &e : expected) {
        SCOPED_TRACE(strPixelID(e.first));
        auto r = makeMemImage(IMG_MBIL, e.first, 4, 1, 1);
        putUSHORTBILData(r.get(), 0, 0, 4, 0, wide.data());
        std::vector<float> back(4);
        getFloatBILData(r.get(), 0, 0, 4, 0, back.data());
        EXPECT_EQ(std::vector<int>(back.begin(), back.end()), e.second);
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

/* Files written through the cache hold what a raw reader expects. */
TEST(putFloatBILData, FileBytesAndReopen)
{
    ScratchDir dir;
    std::string path = dir.path("short.bil");
    ImageInfo info = memImageInfo(IMG_BIL, PIXEL_SHORT, 3, 2, 2, 1);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.offset = BASIC_HEADER_SIZE;
    ASSERT_EQ(createImage(&info), BASIC_HEADER_SIZE);
    int err = 0;
    RAMImage *r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
    ASSERT_NE(r, nullptr) << ramimgError(err);
    const float in[3] = {258, -2.7f, 40000};
    putFloatBILData(r, 1, 0, 3, 1, in);
    flushRAMImage(r);
    std::vector<unsigned char> bytes = readFileBytes(path);
    ASSERT_EQ(bytes.size(), (size_t)BASIC_HEADER_SIZE + 2 * 2 * 6);
    // Line 1, band 1 is the fourth stored line; values most significant
    // byte first.
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 860 + 18,
                                         bytes.begin() + 860 + 24),
              (std::vector<unsigned char>{0x01, 0x02, 0xFF, 0xFE, 0x7F, 0xFF}));
    EXPECT_EQ(cachedValues<int16_t>(r, 1, 1, 3),
              (std::vector<int16_t>{258, -2, 32767}));
    EXPECT_EQ(closeRAMImage(r, nullptr), 0);
    r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
    ASSERT_NE(r, nullptr);
    std::vector<float> back(3);
    getFloatBILData(r, 1, 0, 3, 1, back.data());
    EXPECT_EQ(back, (std::vector<float>{258, -2, 32767}));
    closeRAMImage(r, nullptr);

    // One band of a pixel-interleaved line goes out with its neighbours.
    path = dir.path("bytes.bip");
    info = memImageInfo(IMG_BIP, PIXEL_BYTE, 2, 1, 3);
    std::snprintf(info.fileName, sizeof info.fileName, "%s", path.c_str());
    info.offset = BASIC_HEADER_SIZE;
    ASSERT_EQ(createImage(&info), BASIC_HEADER_SIZE);
    r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
    ASSERT_NE(r, nullptr);
    const float pixels[6] = {1, 2, 3, 4, 5, 6};
    putFloatBIPData(r, 0, 3, 0, 0, 2, pixels);
    closeRAMImage(r, nullptr);
    bytes = readFileBytes(path);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 860, bytes.end()),
              (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));
}
