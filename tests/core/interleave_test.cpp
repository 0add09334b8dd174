// Tests of interleave.cpp: pixel-interleaved lines into band lines and
// back, for every value width and band count (the vector paths of 2 and 4
// byte bands included, with a tail), bit-packed samples in both orders,
// and bands left out.
#include <gtest/gtest.h>

#include <vector>

#include "core/interleave.h"
#include "tests/core/lineTestSupport.h"

TEST(putBIPBlockIntoBuf, EveryWidthAndBandCount)
{
    const int columns = 37;
    for (int pixel : {PIXEL_1BIT, PIXEL_4BITS, PIXEL_BYTE, PIXEL_SHORT,
                      PIXEL_FLOAT, PIXEL_SBYTE, PIXEL_ULONG}) {
        for (int nbands = 1; nbands <= 5; nbands++) {
            for (int msbf : {0, 1}) {
                SCOPED_TRACE(std::string(strPixelID(pixel)) + " bands "
                             + std::to_string(nbands) + " msbf "
                             + std::to_string(msbf));
                // The interleaved line as the raw BIP layout defines it;
                // msbf orders the bits of packed samples, whole values
                // are in host order here.
                int order = pixelValueBytes(pixel) > 1 ? msbFirst() : msbf;
                std::vector<unsigned char> block = expectedRawData(
                    IMG_BIP, pixel, 1, columns, nbands, order,
                    [&](int, int b, int x) {
                        return testValue(pixel, 0, b, x);
                    });
                ASSERT_GE((int64_t)block.size(),
                          interleavedLineBytes(pixel, nbands, columns));
                int lineBytes = (columns * pixelBits(pixel) + 7) / 8;
                std::vector<std::vector<unsigned char>> lines(
                    nbands, std::vector<unsigned char>(lineBytes, 0));
                std::vector<unsigned char *> ptrs;
                for (auto &l : lines)
                    ptrs.push_back(l.data());
                putBIPBlockIntoBuf(pixel, msbf, nbands, columns, block.data(),
                                   ptrs.data());
                int wrong = 0;
                for (int b = 0; b < nbands; b++)
                    for (int x = 0; x < columns; x++)
                        wrong += getLineValue(lines[b].data(), pixel, msbf, x)
                                 != testValue(pixel, 0, b, x);
                EXPECT_EQ(wrong, 0);

                std::vector<unsigned char> back(block.size(), 0);
                getBIPBlockFromBuf(pixel, msbf, nbands, columns,
                                   ptrs.data(), back.data());
                EXPECT_EQ(back, block);

                // A band left out: not written when distributing, kept in
                // the block when gathering.
                if (nbands > 1) {
                    std::vector<unsigned char> keep = lines[1];
                    std::fill(lines[0].begin(), lines[0].end(), 0);
                    std::fill(lines[1].begin(), lines[1].end(), 0x5A);
                    ptrs[1] = nullptr;
                    putBIPBlockIntoBuf(pixel, msbf, nbands, columns,
                                       block.data(), ptrs.data());
                    EXPECT_EQ(lines[1],
                              std::vector<unsigned char>(lineBytes, 0x5A));
                    EXPECT_EQ(getLineValue(lines[0].data(), pixel, msbf, 36),
                              testValue(pixel, 0, 0, 36));
                    std::vector<unsigned char> partial = block;
                    std::fill(lines[0].begin(), lines[0].end(), 0);
                    getBIPBlockFromBuf(pixel, msbf, nbands, columns,
                                       ptrs.data(), partial.data());
                    std::vector<unsigned char> want = expectedRawData(
                        IMG_BIP, pixel, 1, columns, nbands, order,
                        [&](int, int b, int x) {
                            return b == 0 ? 0.0 : testValue(pixel, 0, b, x);
                        });
                    EXPECT_EQ(partial, want);
                }
            }
        }
    }
}
