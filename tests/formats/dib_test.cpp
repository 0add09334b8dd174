// Tests of dib.cpp: BMPs of ImageMagick and netpbm described with the
// writer's pixels, refusals and truncations, the header writer's bytes and
// files ImageMagick reads back, and the colour-table rewrite.
#include <gtest/gtest.h>

#include "core/lineAccess.h"
#include "formats/dib.h"
#include "tests/formats/rasterRef.h"

namespace {

/* The colour of pixel (x, y) read through the store: a palette entry, or
 * the (blue, green, red) bands of a 24-bit file. */
int colourAt(RAMImage *r, int x, int y, int c)
{
    unsigned char v;
    readByteBILData(r, y, x, 1, r->info.nindices > 0 ? c : 2 - c, &v);
    return v;
}

/* A 40-byte-header BMP: entry i of the table is (10i, 10i+1, 10i+2,
 * 0xA5), pixel bytes 0x77. */
std::vector<unsigned char> handBMP(int width, int height, int bitCount,
                                   int compression, int clrUsed,
                                   int entries, int dataBytes)
{
    std::vector<unsigned char> v{'B', 'M'};
    for (uint32_t x : {(uint32_t)(54 + 4 * entries + dataBytes), 0u,
                       (uint32_t)(54 + 4 * entries), 40u, (uint32_t)width,
                       (uint32_t)height})
        putLE32(v, x);
    putLE16(v, 1);
    putLE16(v, (uint16_t)bitCount);
    for (uint32_t x : {(uint32_t)compression, 0u, 0u, 0u, (uint32_t)clrUsed,
                       0u})
        putLE32(v, x);
    for (int i = 0; i < entries; i++)
        for (int b : {10 * i, 10 * i + 1, 10 * i + 2, 0xA5})
            v.push_back((unsigned char)b);
    v.resize(v.size() + (size_t)dataBytes, 0x77);
    return v;
}

}  // namespace

TEST(imgDIB, ImageMagickAndNetpbmFilesHoldTheWritersPixels)
{
    struct { const char *file, *source, *description; } cases[] = {
        {"im_pal2.bmp", "src_pal2.ppm", "1BIT/1 37x23x1 off 146 block 8 nind 2"
                                        " msbf 1"},
        {"im_pal16.bmp", "src_pal16.ppm", "4BITS/4 37x23x1 off 202 block 20"
                                          " nind 16 msbf 1"},
        {"im_pal256.bmp", "src_pal256.ppm", "BYTE/8 37x23x1 off 1162 block 40"
                                            " nind 256 msbf 0"},
        {"np_pal256.bmp", "src_pal256.ppm", "BYTE/8 37x23x1 off 1078 block 40"
                                            " nind 256 msbf 0"},
        {"im_rgb.bmp", "src_rgb.ppm", "BYTE/8 37x23x3 off 138 block 112"
                                      " nind 0 msbf 0"},
        {"np_rgb.bmp", "src_rgb.ppm", "BYTE/8 37x23x3 off 54 block 112 nind 0"
                                      " msbf 0"},
    };
    ImageInfo info;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = fixturePath(std::string("rasters/") + c.file);
        ASSERT_EQ(probeFile(imgDIB, path, &info), 1);
        EXPECT_EQ(describe(info), std::string("DIB ") + c.description
                                      + " GRID tr -1 at 0,0 by 1,1");
        RefPicture src =
            readRefPicture(fixturePath(std::string("rasters/") + c.source));
        Record r = openRecord(path);
        ASSERT_TRUE(r);
        for (int i = 0; i < src.w * src.h * 3; i++)
            ASSERT_EQ(colourAt(r.get(), i / 3 % 37, i / 111, i % 3),
                      src.data[i]) << "value " << i;
    }
    // Colours used 3 of 256: the rest of the palette is black, not pixel
    // bytes, and nindices stays 256.  Width 3 at 24 bits: 12-byte rows.
    ScratchDir dir;
    std::string path = dir.path("h.bmp");
    ASSERT_EQ(probeBytes(imgDIB, path, handBMP(4, 2, 8, 0, 3, 3, 8), &info),
              1);
    EXPECT_EQ(info.nindices, 256);
    EXPECT_EQ(std::vector<int>({info.palette[2][0], info.palette[2][2],
                                info.palette[3][0]}),
              std::vector<int>({22, 20, 0}));
    ASSERT_EQ(probeBytes(imgDIB, path, handBMP(3, 2, 24, 0, 0, 0, 24), &info),
              1);
    EXPECT_EQ(info.block, 12);
}

TEST(imgDIB, RefusalsAndTruncations)
{
    ScratchDir dir;
    CapturedOutput out;
    const char *bitCount = "Error in initDIB_Bi: invalid BitCount.\n";
    struct { std::vector<unsigned char> bytes; std::string message; } c[] = {
        {handBMP(4, 2, 16, 0, 0, 0, 16), bitCount},
        {handBMP(4, 2, 32, 0, 0, 0, 32), bitCount},
        {handBMP(4, 2, 8, 1, 0, 256, 8),
         "Error in imgDIB: compressed bitmaps (compression 1) are not"
         " supported.\n"},
        {handBMP(4, -2, 8, 0, 0, 256, 8),
         "Error in imgDIB: top-down bitmaps are not supported.\n"},
        {handBMP(0, 2, 8, 0, 0, 256, 8),
         "Error in imgDIB: invalid size 0 x 2.\n"},
        {handBMP(0x7FFFFFFF, 9, 24, 0, 0, 0, 8),
         "Error in imgDIB: invalid size 2147483647 x 9.\n"},
        {handBMP(60000, 60000, 24, 0, 0, 0, 8),
         "Error in imgDIB: the pixel data is truncated (8 of 10800000000"
         " bytes).\n"},
        {{'B', 'A', 0, 0}, ""},
    };
    std::string path = dir.path("bad.bmp");
    ImageInfo info;
    for (const auto &k : c) {
        out.clear();
        EXPECT_EQ(probeBytes(imgDIB, path, k.bytes, &info), 0) << k.message;
        EXPECT_EQ(out.err(), k.message);
    }
    for (const char *name : {"rasters/im_pal16.bmp", "rasters/np_rgb.bmp"}) {
        std::vector<unsigned char> full = readFileBytes(fixturePath(name));
        for (size_t n = 0; n < full.size(); n += n < 300 ? 1 : 37)
            ASSERT_EQ(probeBytes(imgDIB, path,
                                 {full.begin(), full.begin() + (long)n}, &info),
                      0) << name << " cut at " << n;
    }
}

TEST(initDIBHead, ByteLayoutAndImageMagickReadsTheFiles)
{
    ScratchDir dir;
    struct { int pixel, nbands, nindices, bitCount, rowBytes; } cases[] = {
        {PIXEL_BYTE, 1, 3, 8, 12}, {PIXEL_BYTE, 1, 0, 8, 12},
        {PIXEL_BYTE, 3, 0, 24, 28}, {PIXEL_1BIT, 1, 16, 1, 4},
        {PIXEL_4BITS, 1, 16, 4, 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bitCount);
        std::string path = dir.path("new.bmp");
        ImageInfo info = newImageInfo(path, IMG_DIB, c.pixel, 9, 3, c.nbands);
        info.nindices = c.nindices;
        for (int i = 0; i < 16; i++)
            for (int k = 0; k < 3; k++)
                info.palette[i][k] = (unsigned char)(i * 16 + k * 5);
        ASSERT_EQ(createImage(&info), 1080);
        EXPECT_EQ(info.block, c.rowBytes);
        EXPECT_EQ(info.offset, 1080);
        EXPECT_EQ(info.msbf, c.bitCount < 8 ? 1 : msbFirst());
        // The headers, the table (a grey ramp without palette), zeroes up
        // to 1080, zeroed rows.
        std::vector<unsigned char> want{'B', 'M'};
        for (uint32_t x : {1080u + 3 * c.rowBytes, 0u, 1080u, 40u, 9u, 3u})
            putLE32(want, x);
        putLE16(want, 1);
        putLE16(want, (uint16_t)c.bitCount);
        want.resize(54, 0);
        int entries = c.bitCount == 24 ? 0 : 1 << c.bitCount;
        int n = c.nindices < 1 ? entries : std::min(entries, c.nindices);
        for (int i = 0; i < n; i++)
            for (int k : {2, 1, 0, 3})
                want.push_back(k == 3 ? 0
                               : c.nindices < 1 ? (unsigned char)i
                               : info.palette[i][k]);
        want.resize(1080 + 3 * c.rowBytes, 0);
        EXPECT_EQ(readFileBytes(path), want);

        // Values written through the store read back, and ImageMagick sees
        // the colours the store reads.
        auto value = [&](int x, int y, int b) {
            return (x * 3 + y * 5 + b * 7) % (c.bitCount == 1 ? 2 : 16);
        };
        Record r = openRecord(path);
        ASSERT_TRUE(r);
        putValues(r.get(), value);
        r.reset();
        r = openRecord(path);
        ASSERT_TRUE(r);
        EXPECT_EQ(storeMismatches(r.get(), value), 0);
        expectOracles({"convert @ -depth 8 ppm:-"}, path, 9, 3, 3,
                      [&](int x, int y, int c) {
                          return colourAt(r.get(), x, y, c);
                      });
    }
    // Layouts a BMP cannot hold.
    CapturedOutput out;
    std::string path = dir.path("no.bmp");
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    for (int pixel : {PIXEL_SHORT, PIXEL_FLOAT, PIXEL_BYTE}) {
        ImageInfo info = newImageInfo(path, IMG_DIB, pixel, 4, 4,
                                      pixel == PIXEL_BYTE ? 4 : 1);
        out.clear();
        EXPECT_EQ(initDIBHead(fd, 0, &info), -1);
        EXPECT_EQ(out.err(), "Error in initDIBHead: a DIB holds one band of"
                             " 1BIT, 4BITS or BYTE pixels or three bands of"
                             " BYTE.\n");
    }
    close(fd);
    EXPECT_TRUE(readFileBytes(path).empty());
}

TEST(updateDIBIndices, RewritesOnlyTheTable)
{
    ScratchDir dir;
    std::string path = dir.path("pal.bmp");
    std::vector<unsigned char> orig =
        readFileBytes(fixturePath("rasters/im_pal256.bmp"));
    ImageInfo info;
    ASSERT_EQ(probeBytes(imgDIB, path, orig, &info), 1);
    for (int i = 0; i < 256; i++)
        for (int k = 0; k < 3; k++)
            info.palette[i][k] = (unsigned char)(i * (k + 1));
    int fd = open(path.c_str(), O_RDWR);
    lseek(fd, 11, SEEK_SET);
    EXPECT_EQ(updateDIBIndices(fd, &info), 256);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 11);
    // Mismatched pixel type or table size: nothing written.
    info.nindices = 16;
    EXPECT_EQ(updateDIBIndices(fd, &info), 0);
    info.nindices = 256;
    info.pixel = PIXEL_4BITS;
    EXPECT_EQ(updateDIBIndices(fd, &info), 0);
    info.pixel = PIXEL_BYTE;
    close(fd);
    std::vector<unsigned char> now = readFileBytes(path);
    ASSERT_EQ(now.size(), orig.size());
    for (size_t i = 0; i < now.size(); i++) {   // the V5 table is at 138
        if (i < 138 || i >= 138 + 1024 || (i - 138) % 4 == 3) {
            ASSERT_EQ(now[i], orig[i]) << "byte " << i;
        }
    }
    ImageInfo back;
    probeFile(imgDIB, path, &back);
    EXPECT_EQ(std::memcmp(back.palette, info.palette, sizeof info.palette), 0);

    // A table of two entries written as such, colours used 2: only the
    // two entries that fit before the pixels are written.
    ASSERT_EQ(probeBytes(imgDIB, path, handBMP(4, 2, 8, 0, 2, 2, 8), &info), 1);
    info.palette[1][0] = 9;
    fd = open(path.c_str(), O_RDWR);
    EXPECT_EQ(updateDIBIndices(fd, &info), 2);
    close(fd);
    now = readFileBytes(path);
    EXPECT_EQ(std::vector<int>({now[60], now[61], now[62]}),
              std::vector<int>({9, 0xA5, 0x77}));
}
