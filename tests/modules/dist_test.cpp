// Tests of dist.cpp's row arithmetic: the sideways scan against
// hand-computed distances, the bound of the output row, rounding after
// the square root, clipping to 0 .. 255 with noise of either sign.
#include <gtest/gtest.h>

#include <vector>

#include "modules/dist.h"

TEST(distRowStep, ScanBoundAndRounding)
{
    // Class pixel straight above column 1; the others see it sideways.
    int vertical[5] = {3, 0, 5, 5, 5};
    unsigned char out[5] = {255, 255, 255, 255, 255};
    distRowStep(vertical, out, 5, 0);
    EXPECT_EQ(std::vector<int>(out, out + 5),
              (std::vector<int>{1, 0, 1, 2, 3}));
    // A bound from the other pass wins (column 1).
    int far[3] = {1, 2, 2};
    unsigned char bounded[3] = {255, 1, 255};
    distRowStep(far, bounded, 3, 0);
    EXPECT_EQ(std::vector<int>(bounded, bounded + 3),
              (std::vector<int>{1, 1, 2}));
    // Rounding after the root: sqrt 2 and sqrt 5 down, sqrt 8 up.
    int diag[2] = {1, 255}, ring[3] = {2, 9, 9};
    unsigned char o2[2] = {255, 255}, o3[3] = {255, 255, 255};
    distRowStep(diag, o2, 2, 0);
    EXPECT_EQ(o2[1], 1);
    distRowStep(ring, o3, 3, 0);
    EXPECT_EQ(o3[1], 2);
    EXPECT_EQ(o3[2], 3);
}

TEST(distRowStep, ClippingWithNoise)
{
    int none[2] = {300, 300}, here[2] = {0, 0};
    unsigned char out[2] = {255, 255};
    distRowStep(none, out, 2, 0);
    EXPECT_EQ(out[0], 255);
    distRowStep(here, out, 2, -1e6);
    EXPECT_EQ(out[0], 0);                      // negative values clip to 0
    distRowStep(here, out, 2, 1e12);
    EXPECT_EQ(out[1], 255);
}

TEST(distVertical, ResetAndGrowth)
{
    unsigned char marked[256] = {0};
    marked[4] = 1;
    unsigned char row[3] = {4, 0, 4};
    int vertical[3] = {7, 7, 0};
    distVertical(row, marked, 3, vertical);
    EXPECT_EQ(std::vector<int>(vertical, vertical + 3),
              (std::vector<int>{0, 8, 0}));
}
