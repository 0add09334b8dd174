// Tests of rotate.cpp's buffer arithmetic: the segment width over rows
// and bands (a quarter for 4-byte values, at least one column, at most
// the image), and the column gather in both directions.
#include <gtest/gtest.h>

#include <vector>

#include "modules/rotate.h"

TEST(rotateSegmentWidth, BufferShareAndLimits)
{
    EXPECT_EQ(rotateSegmentWidth(1030, 2050, 2, 0), 2036);
    EXPECT_EQ(rotateSegmentWidth(1030, 2050, 1, 1), 1018);
    EXPECT_EQ(rotateSegmentWidth(3, 5, 2, 1), 5);
    EXPECT_EQ(rotateSegmentWidth(5000000, 10, 1, 0), 1);
    EXPECT_EQ(rotateSegmentWidth(2, 4096, 1048576, 0), 2);
}

TEST(rotateGatherColumn, TopDownAndReversed)
{
    // Two rows, two bands, segment three columns wide, 2-byte values.
    std::vector<unsigned short> seg = {10, 11, 12, 20, 21, 22,
                                       30, 31, 32, 40, 41, 42};
    unsigned short line[2];
    rotateGatherColumn(reinterpret_cast<unsigned char *>(seg.data()), 2, 2,
                       2, 3, 1, 1, 0, reinterpret_cast<unsigned char *>(line));
    EXPECT_EQ(line[0], 21);
    EXPECT_EQ(line[1], 41);
    rotateGatherColumn(reinterpret_cast<unsigned char *>(seg.data()), 2, 2,
                       2, 3, 2, 0, 1, reinterpret_cast<unsigned char *>(line));
    EXPECT_EQ(line[0], 32);
    EXPECT_EQ(line[1], 12);
}
