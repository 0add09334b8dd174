// Tests of imgtype.cpp: keywords, the probe registry order and BASIC files.
#include <gtest/gtest.h>

#include "core/imgtype.h"
#include "core/ramimg.h"

TEST(parseID, KeywordsAndUnknown)
{
    EXPECT_EQ(parseImgID("UNKNOWN"), 0);
    EXPECT_EQ(parsePixelID("UNKNOWN"), -1);
    EXPECT_EQ(parseMapID("UNKNOWN"), -1);
    EXPECT_EQ(parsePixelID("byte"), -1);
    EXPECT_EQ(parsePixelID("BYTE"), PIXEL_BYTE);
    EXPECT_EQ(parseMapID("UTM33"), 35);
    EXPECT_STREQ(strMapID(61), "UTM59");
    EXPECT_STREQ(strImgID(99), "UNKNOWN");
}
