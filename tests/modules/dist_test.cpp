// Tests of dist.cpp's row step beyond what the scipy comparison reaches:
// the bound a previous pass left in the output row, and clipping to
// 0 .. 255 with noise of either sign.
#include <gtest/gtest.h>

#include <vector>

#include "modules/dist.h"

TEST(distRowStep, BoundAndClipping)
{
    // Column 1 keeps the 1 of the other pass; column 2 finds sqrt(5).
    int far[3] = {1, 2, 2};
    unsigned char bounded[3] = {255, 1, 255};
    distRowStep(far, bounded, 3, 0);
    EXPECT_EQ(std::vector<int>(bounded, bounded + 3),
              (std::vector<int>{1, 1, 2}));
    int none[2] = {300, 300}, here[2] = {0, 0};
    unsigned char out[2] = {255, 255};
    distRowStep(none, out, 2, 0);
    EXPECT_EQ(out[0], 255);
    distRowStep(here, out, 2, -1e6);
    EXPECT_EQ(out[0], 0);
    distRowStep(here, out, 2, 1e12);
    EXPECT_EQ(out[1], 255);
}
