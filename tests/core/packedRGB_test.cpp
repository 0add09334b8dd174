// Tests of packedRGB.cpp: band lines of the packed colour pictures,
// unpacked from and packed back into their bits.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "core/lineAccess.h"
#include "tests/support/imageRecords.h"

namespace {

RAMImage *openPacked(const char *tag, int imgid, int pixel, int nbands,
                     int rows, int columns)
{
    ImageInfo info = describeImage(tag, imgid, pixel, rows, columns, nbands,
                                   0, 0, 0);
    int err = -1;
    RAMImage *r = openRAMImage(tag, nullptr, &info, nullptr, &err);
    EXPECT_EQ(err, 0);
    return r;
}

unsigned char *picture(RAMImage *r, int y)
{
    return r->buffer + (size_t)r->slotCount * r->lineBytes
           + (size_t)y * r->info.block;
}

uint16_t word(RAMImage *r, int y, int i)
{
    uint16_t w;
    std::memcpy(&w, picture(r, y) + 2 * i, 2);
    return w;
}

void setWord(RAMImage *r, int y, int i, uint16_t w)
{
    std::memcpy(picture(r, y) + 2 * i, &w, 2);
}

} // namespace

// 5-5-5 and 5-6-5 words: each band reads its own bits, shifted to the top
// of the byte, and writing a band replaces only its bits.
TEST(getRGBRimgLine, SixteenBitWords)
{
    RAMImage *r = openPacked("rgb555", IMG_MRGB555, PIXEL_BYTE, 3, 4, 5);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->info.block, 12);
    setWord(r, 0, 0, (0x1A << 10) | (0x15 << 5) | 0x0B);
    setWord(r, 2, 4, 0x7FFF);
    EXPECT_EQ(r->getLine(r, 0, 0, 1)[0], 0x1A << 3);
    EXPECT_EQ(r->getLine(r, 0, 1, 1)[0], 0x15 << 3);   // green
    EXPECT_EQ(r->getLine(r, 0, 2, 1)[0], 0x0B << 3);
    EXPECT_EQ(r->getLine(r, 2, 4, 1)[4], 0xF8);        // band 4 mod 3 = 1

    unsigned char *green = r->getLine(r, 0, 1, 1);
    green[0] = 0xFF;
    green[1] = 0x0F;
    updateRAMImageLine(r, 0, 0, 2, 1);
    flushRAMImage(r);
    EXPECT_EQ(word(r, 0, 0), (0x1A << 10) | (0x1F << 5) | 0x0B);
    EXPECT_EQ(word(r, 0, 1), 0x01 << 5);
    closeRAMImage(r, nullptr);

    r = openPacked("rgb565", IMG_MRGB565, PIXEL_BYTE, 3, 2, 3);
    ASSERT_TRUE(r);
    setWord(r, 1, 2, (0x11 << 11) | (0x2A << 5) | 0x05);
    EXPECT_EQ(r->getLine(r, 1, 0, 1)[2], 0x11 << 3);
    EXPECT_EQ(r->getLine(r, 1, 1, 1)[2], 0x2A << 2);
    EXPECT_EQ(r->getLine(r, 1, 2, 1)[2], 0x05 << 3);
    unsigned char *red = r->getLine(r, 1, 0, 1);
    red[2] = 0x07;          // below the kept bits: red becomes 0
    updateRAMImageLine(r, 1, 0, 3, 0);
    unsigned char *blue = r->getLine(r, 1, 2, 1);
    blue[2] = 0xFF;
    updateRAMImageLine(r, 1, 0, 3, 2);
    flushRAMImage(r);
    EXPECT_EQ(word(r, 1, 2), (0x2A << 5) | 0x1F);
    closeRAMImage(r, nullptr);
}

// Byte pictures: band b of pixel i is byte 4i + b (3i + b); a dirty line
// evicted from the three-line cache is packed back.
TEST(getRGBRimgLine, BytePicturesAndEviction)
{
    RAMImage *r = openPacked("rgb32", IMG_MRGB32, PIXEL_BYTE, 4, 8, 3);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->cacheLines, 3);
    for (int i = 0; i < 12; i++)
        picture(r, 5)[i] = (unsigned char)(i + 1);
    EXPECT_EQ(r->getLine(r, 5, 3, 1)[2], 12);
    unsigned char *alpha = r->getLine(r, 5, 3, 1);
    alpha[0] = 0xA0;
    updateRAMImageLine(r, 5, 0, 1, 3);
    for (int y = 0; y < 4; y++)
        r->getLine(r, y, 3, 1);             // line 2 evicts line 5
    EXPECT_EQ(picture(r, 5)[3], 0xA0);
    EXPECT_EQ(picture(r, 5)[2], 3);
    closeRAMImage(r, nullptr);

    r = openPacked("rgb24", IMG_MRGB24, PIXEL_BYTE, 3, 2, 5);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->info.block, 16);
    for (int i = 0; i < 15; i++)
        picture(r, 1)[i] = (unsigned char)(100 + i);
    EXPECT_EQ(r->getLine(r, 1, 2, 1)[4], 114);
    unsigned char *p = r->getLine(r, 1, 0, 0);   // no unpacking: overwritten
    std::memset(p, 9, 5);
    updateRAMImageLine(r, 1, 0, 5, 0);
    flushRAMImage(r);
    EXPECT_EQ(picture(r, 1)[12], 9);
    EXPECT_EQ(picture(r, 1)[13], 113);
    closeRAMImage(r, nullptr);
}

// Palette pictures are served straight from the packed lines; the block
// of every type is at least what its width needs.
TEST(getRGBRimgLine, PalettePicturesAndBlocks)
{
    struct Case {
        int imgid, pixel, block;
    } cases[] = {{IMG_MRGB8, PIXEL_BYTE, 12},
                 {IMG_MRGB4, PIXEL_4BITS, 8},
                 {IMG_MRGB1, PIXEL_1BIT, 4}};
    for (Case c : cases) {
        RAMImage *r = openPacked("palette", c.imgid, c.pixel, 1, 3, 9);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->info.block, c.block);
        for (int y = 0; y < 3; y++)
            EXPECT_EQ(r->getLine(r, y, 0, 1), picture(r, y));
        EXPECT_NE(r->getLine(r, 3, 0, 1), picture(r, 2) + c.block);
        closeRAMImage(r, nullptr);
    }
    EXPECT_EQ(packedRGBBlock(IMG_MRGB32, 7), 28);
    EXPECT_EQ(packedRGBBlock(IMG_MRGB24, 7), 24);
    EXPECT_EQ(packedRGBBlock(IMG_MRGB555, 7), 16);
    EXPECT_EQ(packedRGBBlock(IMG_MRGB1, 33), 8);
}
