// Tests of the accumulators of gstat.cpp: population moments, the
// unrolled four-band path against exact integer sums, and the pooling of
// a run into a stored item.
#include <gtest/gtest.h>

#include <vector>

#include "modules/feature.h"
#include "modules/gstat.h"

TEST(statAccu, PopulationMomentsAndPooling)
{
    // Two pixels 0 and 2: mean 1, population variance 1.
    const float two[2] = {0, 2};
    double sums[1] = {0}, cross[1] = {0}, means[1] = {0}, products[1] = {0};
    statAccu(cross, sums, 1, two, 2);
    EXPECT_EQ(mergeStatAccu(0, 1, products, means, cross, sums, 2), 2);
    calcCovFromStat(products, means, 1);
    EXPECT_DOUBLE_EQ(means[0], 1.0);
    EXPECT_DOUBLE_EQ(products[0], 1.0);

    Feature *f = newFeature(STAT_MAGIC, nullptr, 1, statSize(1), 1, nullptr,
                            0);
    mergeStatToFeature(f, 0, products, means, 2);
    EXPECT_EQ(getStat(f, 0)->nPixels, 2);
    EXPECT_FLOAT_EQ(getStatMean(f, 0)[0], 1.0f);
    EXPECT_FLOAT_EQ(getStatCov(f, 0)[0], 1.0f);
    // A second run of 4, 4 pools to {0, 2, 4, 4}: mean 2.5, var 2.75.
    const double m2[1] = {4}, c2[1] = {0};
    mergeStatToFeature(f, 0, c2, m2, 2);
    EXPECT_EQ(getStat(f, 0)->nPixels, 4);
    EXPECT_FLOAT_EQ(getStatMean(f, 0)[0], 2.5f);
    EXPECT_FLOAT_EQ(getStatCov(f, 0)[0], 2.75f);
    freeFeature(f);
}

TEST(statAccu, FourBandsEqualExactSums)
{
    std::vector<float> px(4 * 37);
    for (size_t i = 0; i < px.size(); i++)
        px[i] = (float)((i * 37 + 11) % 256);
    double sums[4] = {1, 1, 1, 1}, cross[10] = {0};
    statAccu(cross, sums, 4, px.data(), 37);
    for (int i = 0; i < 4; i++) {
        double s = 1;
        for (int k = 0; k < 37; k++)
            s += px[k * 4 + i];
        EXPECT_EQ(sums[i], s);
        for (int j = 0; j <= i; j++) {
            double c = 0;
            for (int k = 0; k < 37; k++)
                c += (double)px[k * 4 + i] * px[k * 4 + j];
            EXPECT_EQ(cross[covIndex(i, j)], c) << i << " " << j;
        }
    }
}
