// Files of independent writers (GDAL, netpbm, ImageMagick; made by
// tests/fixtures/make_lines.sh) read through the line cache: the three
// interleavings, both byte orders, high-bit-first bits and a bottom-up
// BMP.  The value formulas repeat those of the script.
#include <gtest/gtest.h>

#include <cctype>

#include "core/lineAccess.h"
#include "tests/core/lineTestSupport.h"
#include "tests/support/testSupport.h"

namespace {

// Header bytes of a binary PNM file: magic, width, height and (except
// PBM) maxval, then one whitespace byte.
int pnmHeaderSize(const std::vector<unsigned char> &file, int fields)
{
    size_t i = 0;
    for (int f = 0; f < fields; f++) {
        while (i < file.size() && std::isspace(file[i]))
            i++;
        while (i < file.size() && !std::isspace(file[i]))
            i++;
    }
    return (int)i + 1;
}

// Counts the pixels of every line and band that differ from value.
int countWrong(const ImageInfo &info,
               const std::function<double(int, int, int)> &value)
{
    int err = -1;
    RAMImage *r = openRAMImage(nullptr, info.fileName, &info, nullptr, &err);
    EXPECT_TRUE(r) << info.fileName;
    if (!r)
        return -1;
    int wrong = 0;
    for (int y = 0; y < info.rows; y++)
        for (int b = 0; b < info.nbands; b++) {
            const unsigned char *p = r->getLine(r, y, b, 1);
            for (int x = 0; x < info.columns; x++)
                wrong += getLineValue(p, info.pixel, info.msbf, x)
                         != value(y, b, x);
        }
    closeRAMImage(r, nullptr);
    return wrong;
}

} // namespace

TEST(getRAMImageLine, ReadsFilesOfIndependentWriters)
{
    auto int16 = [](int y, int b, int x) {
        return (double)((x * 37 + y * 101 + b * 7919) % 30000 - 15000);
    };
    for (auto [name, imgid, block] :
         {std::tuple<const char *, int, int>{"lines_int16_bsq.raw", IMG_BSQ,
                                             26},
          {"lines_int16_bil.raw", IMG_BIL, 26},
          {"lines_int16_bip.raw", IMG_BIP, 78}}) {
        ImageInfo info = describeImage(fixturePath(name), imgid, PIXEL_SHORT,
                                       5, 13, 3, 0, 0, block);
        EXPECT_EQ(countWrong(info, int16), 0) << name;
    }

    std::string pgm = fixturePath("lines_uint16.pgm");
    ImageInfo info = describeImage(pgm, IMG_BIL, PIXEL_USHORT, 5, 13, 1, 1,
                                   pnmHeaderSize(readFileBytes(pgm), 4), 26);
    EXPECT_EQ(countWrong(info, [](int y, int, int x) {
                  return (double)(x * 4099 + y * 257);
              }),
              0);

    std::string ppm = fixturePath("lines_rgb16.ppm");
    info = describeImage(ppm, IMG_PPM, PIXEL_USHORT, 5, 13, 3, 1,
                         pnmHeaderSize(readFileBytes(ppm), 4), 78);
    EXPECT_EQ(countWrong(info, [](int y, int b, int x) {
                  return (double)(x * 4099 + y * 257 + b * 1000);
              }),
              0);

    std::string pbm = fixturePath("lines_bits.pbm");
    info = describeImage(pbm, IMG_BIL, PIXEL_1BIT, 5, 13, 1, 1,
                         pnmHeaderSize(readFileBytes(pbm), 3), 2);
    EXPECT_EQ(countWrong(info, [](int y, int, int x) {
                  return (x * 3 + y * 5) % 7 < 3 ? 1.0 : 0.0;
              }),
              0);

    // BMP: bfOffBits at byte 10; rows of 5 BGR pixels padded to 16 bytes.
    std::string bmp = fixturePath("lines_rgb24.bmp");
    std::vector<unsigned char> bytes = readFileBytes(bmp);
    ASSERT_GE(bytes.size(), 14u);
    int offset = bytes[10] | bytes[11] << 8 | bytes[12] << 16
                 | bytes[13] << 24;
    info = describeImage(bmp, IMG_DIB, PIXEL_BYTE, 3, 5, 3, 0, offset, 16);
    EXPECT_EQ(countWrong(info, [](int y, int b, int x) {
                  int rgb[3] = {(x * 40 + y * 7) % 256, (x * 3 + y * 50) % 256,
                                (x + y) * 11 % 256};
                  return (double)rgb[2 - b];
              }),
              0);
}
