// Tests of the arithmetic of gconv.cpp: kernel text, normalisation and
// feedback (centres of even sizes, each vector of a separable kernel), and
// the row functions on windows computed by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "modules/gconv.h"
#include "tests/support/testSupport.h"

TEST(parseConvKernel, SeparatorsTypesAndWeights)
{
    ConvKernel k;
    ASSERT_EQ(parseConvKernel("2D 3,2;\n1 2\t3;4,5,-6.5", &k), 0);
    EXPECT_EQ(k.type, KERNEL_2D);
    EXPECT_EQ(k.nx, 3);
    EXPECT_EQ(k.ny, 2);
    EXPECT_EQ(k.count, 6);
    EXPECT_EQ(k.weights[5], -6.5f);
    ASSERT_EQ(parseConvKernel("1Ds 2 3 1 2 3 4 5", &k), 0);
    EXPECT_EQ(k.count, 5);
    ASSERT_EQ(parseConvKernel(" dynamic 25 25 ", &k), 0);
    EXPECT_EQ(k.type, KERNEL_DYNAMIC);
    EXPECT_EQ(k.count, 0);
    CapturedOutput out;
    EXPECT_EQ(parseConvKernel("2D 22 23", &k), -1);   // 506 weights: room
    EXPECT_EQ(out.err(), "Not enough kernel elements: 0 (expected: 506).\n"
                         "Error in parsing conv kernel.\n");
}

TEST(gconvWeights, NormaliseThenFeedBackAtTheCentre)
{
    ConvKernel k;
    ASSERT_EQ(parseConvKernel("2D 4 2 1 1 1 1 1 1 1 1", &k), 0);
    gconvWeights(&k, 1, 1);
    for (int i = 0; i < 8; i++)     // centre: row 1, column 2
        EXPECT_FLOAT_EQ(k.weights[i], i == 6 ? 1.125f : 0.125f) << i;
    ASSERT_EQ(parseConvKernel("2D 3 1 -1 2 -1", &k), 0);
    gconvWeights(&k, 1, 0);         // sum 0: unchanged
    EXPECT_EQ(k.weights[1], 2.0f);
    ASSERT_EQ(parseConvKernel("1Ds 2 3 1 3 2 2 4", &k), 0);
    gconvWeights(&k, 1, 1);
    const float want[] = {0.25f, 1.75f, 0.25f, 1.25f, 0.5f};
    for (int i = 0; i < 5; i++)
        EXPECT_FLOAT_EQ(k.weights[i], want[i]) << i;
}

TEST(gconvRows, HandComputedWindows)
{
    ConvKernel k;
    // dynamic 3 x 1: windows (1 2 6) and (2 6 6)
    ASSERT_EQ(parseConvKernel("dynamic 3 1", &k), 0);
    const float row[] = {1, 2, 6, 6};
    const float *rows[] = {row};
    float out[3];
    gconvDynamicRow(&k, rows, 2, out);
    EXPECT_NEAR(out[0], 2 + 2.5 * (2 - 3) / std::sqrt(41.0 / 3 - 9), 1e-6);
    EXPECT_NEAR(out[1], 6 + 2.5 * (6 - 14.0 / 3) / std::sqrt(76.0 / 3 - 196.0 / 9),
                1e-5);
    const float flat[] = {4, 4, 4};
    const float *flats[] = {flat};
    gconvDynamicRow(&k, flats, 1, out);
    EXPECT_EQ(out[0], 4);           // no variance: the value itself
    // median of an even count: rank n/2 from 0
    ASSERT_EQ(parseConvKernel("median 2 2", &k), 0);
    const float a[] = {4, 1}, b[] = {3, 2};
    const float *ab[] = {a, b};
    gconvMedianRow(&k, ab, 1, out);
    EXPECT_EQ(out[0], 3);
    // 2D sums w(i, j) x(i, c + j)
    ASSERT_EQ(parseConvKernel("2D 2 2 1 10 100 1000", &k), 0);
    const float p[] = {1, 2, 3}, q[] = {4, 5, 6};
    const float *pq[] = {p, q};
    gconv2DRow(&k, pq, 2, out);
    EXPECT_EQ(out[0], 1 + 20 + 400 + 5000);
    EXPECT_EQ(out[1], 2 + 30 + 500 + 6000);
    // 1Ds: one column weight copies the row; columns weigh rows
    const float w[] = {5};
    rowConv(w, 1, p, 3, out);
    EXPECT_EQ(out[2], 3);
    const float cw[] = {2, -1};
    colConv(cw, 2, pq, 2, out);
    EXPECT_EQ(out[0], -2);
    EXPECT_EQ(out[1], -1);
}
