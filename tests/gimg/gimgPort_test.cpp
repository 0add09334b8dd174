/*
 * gimgPort_test.cpp --
 *
 *	Display ports: the screen-to-image maps at magnifications above and
 *	below 1 and mirrored, the run of screen indices inside an image, the
 *	real-valued conversions as inverses, and a refused size.
 */
#include <vector>

#include <gtest/gtest.h>

#include "gimg/gimgInt.h"

static std::vector<int> mapOf(const DisplayPort &p)
{
    return std::vector<int>(p.map, p.map + p.size);
}

TEST(dpOpen, mapsMagnifiedMirroredAndReduced)
{
    DisplayPort p;
    dpInit(&p);
    ASSERT_EQ(&p, dpOpen(&p, 6, 10, 0, 2.0));
    EXPECT_EQ((std::vector<int>{10, 10, 11, 11, 12, 12}), mapOf(p));
    dpOpen(&p, 6, 10, 1, 2.0);
    EXPECT_EQ((std::vector<int>{12, 12, 11, 11, 10, 10}), mapOf(p));
    dpOpen(&p, 4, 0, 0, 0.5);
    EXPECT_EQ((std::vector<int>{0, 2, 4, 6}), mapOf(p));
    dpOpen(&p, 5, 1, 0, 1.5);
    EXPECT_EQ((std::vector<int>{1, 1, 2, 3, 3}), mapOf(p));
    /* A refused size leaves the port as it was. */
    EXPECT_EQ(nullptr, dpOpen(&p, 0, 3, 1, 4.0));
    EXPECT_EQ((std::vector<int>{1, 1, 2, 3, 3}), mapOf(p));
    dpClose(&p);
    EXPECT_EQ(nullptr, p.map);
    EXPECT_EQ(0, p.size);
}

TEST(dpRange, runInsideTheImage)
{
    DisplayPort p;
    dpInit(&p);
    int first, last;
    /* 12 screen columns from image column 3 at magnification 2 over an
     * image of 7 columns: columns 3..6 fill screen 0..7. */
    dpOpen(&p, 12, 3, 0, 2.0);
    dpRange(&p, 7, &first, &last);
    EXPECT_EQ(0, first);
    EXPECT_EQ(8, last);
    dpOpen(&p, 12, 3, 1, 2.0);
    dpRange(&p, 7, &first, &last);
    EXPECT_EQ(4, first);
    EXPECT_EQ(12, last);
    dpOpen(&p, 4, -2, 0, 1.0);
    dpRange(&p, 7, &first, &last);
    EXPECT_EQ(2, first);
    EXPECT_EQ(4, last);
    dpClose(&p);
}

TEST(dpScreen, inverseOfDpImage)
{
    DisplayPort p;
    dpInit(&p);
    for (int flip : {0, 1}) {
        for (double mag : {0.3, 1.0, 2.5}) {
            dpOpen(&p, 40, 7, flip, mag);
            for (double v : {-3.0, 7.0, 8.25, 30.0}) {
                EXPECT_NEAR(v, dpImage(&p, dpScreen(&p, v)), 1e-9);
                EXPECT_NEAR(v, dpScreen(&p, dpImage(&p, v)), 1e-9);
            }
            /* The map entry of a screen index is the image index its
             * left edge falls in. */
            for (int i = 0; i < p.size; i++)
                EXPECT_EQ(p.map[i], (int)dpImage(&p, i))
                    << "flip " << flip << " mag " << mag << " i " << i;
        }
    }
    dpClose(&p);
}
