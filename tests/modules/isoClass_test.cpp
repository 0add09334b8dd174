// Tests of isoClass.cpp: block assignment against the pixel-by-pixel
// rule written out here from its description (early stop, hit distance,
// strict ties, opening at the excluding distance, the class budget,
// values that are no numbers), the end-of-pass update on hand-computed
// figures, sorting, and the bins of spectral binning.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "modules/isoClass.h"
#include "modules/isoPrint.h"

namespace {

// The rule for one pixel: classes in order, a partial sum that reaches
// the best ends that class, strictly smaller replaces, a class within the
// hit distance ends the search; a pixel at least D from all opens a class
// while fewer than NC exist.  Means and the pixel are scaled already.
struct Reference {
    int nb, nc;
    float hit, dis;
    std::vector<std::vector<float>> means;
    std::vector<std::vector<double>> sums;
    std::vector<double> counts;

    int assign(const std::vector<float> &x, const std::vector<float> &raw,
               double w, bool mayOpen)
    {
        for (float v : raw)
            if (!std::isfinite(v))
                return -1;
        float best = INFINITY;
        int cls = -1;
        for (size_t k = 0; k < means.size(); k++) {
            float d = 0;
            bool stopped = false;
            for (int b = 0; b < nb; b++) {
                float t = x[b] - means[k][b];
                d += t * t;
                if (d >= best) {
                    stopped = true;
                    break;
                }
            }
            if (stopped || !(d < best))
                continue;
            best = d;
            cls = (int)k;
            if (d < hit)
                break;
        }
        if (mayOpen && w > 0 && (cls < 0 || best >= dis)
                && (int)means.size() < nc) {
            means.push_back(x);
            sums.emplace_back(nb, 0.0);
            counts.push_back(0);
            cls = (int)means.size() - 1;
        }
        for (int b = 0; b < nb; b++)
            sums[cls][b] += w * raw[b];
        counts[cls] += w;
        return cls;
    }
};

Feature *clusterRecord(int nb, int count)
{
    unsigned char area[ISO_PRIVATE_SIZE] = {0};
    std::vector<int> bands(nb);
    for (int b = 0; b < nb; b++)
        bands[b] = b;
    return newFeature(ISO_MAGIC, bands.data(), nb, isoItemSize(nb), count,
                      area, ISO_PRIVATE_SIZE);
}

}  // namespace

TEST(isoAssignRows, SameAsPixelByPixelRule)
{
    const int nb = 3, rows = 7, n = 37;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> value(0, 60);
    const double scale[nb] = {10, 20, 0};     // band 3 has no variance
    for (int mayOpen = 0; mayOpen < 2; mayOpen++) {
        IsoClasses c;
        isoSetup(&c, nb, scale, 0.6, 9);
        Reference ref{nb, 9, c.hit, c.dis, {}, {}, {}};
        // Two starting classes; the rest open in the block.
        for (int k = 0; k < 2; k++) {
            float m[nb] = {(float)(10 + 30 * k), (float)(20 + 10 * k), 5};
            isoOpenClass(&c, m, 0);
            ref.means.push_back({m[0] / 10.0f, m[1] / 20.0f, 0.0f});
            ref.sums.emplace_back(nb, 0.0);
            ref.counts.push_back(0);
        }
        std::vector<float> values(rows * n * nb);
        std::vector<double> weights(rows * n);
        for (size_t i = 0; i < values.size(); i++)
            values[i] = (float)value(rng);
        for (size_t i = 0; i < weights.size(); i++)
            weights[i] = (double)(i % 4);
        values[5 * nb] = NAN;               // joins no class
        std::vector<int> cls(rows * n);
        IsoRows blk{rows, n, values.data(), weights.data(), nullptr,
                    cls.data()};
        ASSERT_EQ(isoAssignRows(&c, &blk, mayOpen, 1), 1);
        for (int i = 0; i < rows * n; i++) {
            std::vector<float> raw(&values[i * nb], &values[i * nb] + nb);
            std::vector<float> x(nb);
            for (int b = 0; b < nb; b++)
                x[b] = raw[b] * c.inv[b];
            EXPECT_EQ(cls[i], ref.assign(x, raw, weights[i], mayOpen))
                << "pixel " << i;
        }
        ASSERT_EQ(c.count, (int)ref.means.size());
        EXPECT_EQ(c.count, mayOpen ? 9 : 2);
        for (int k = 0; k < c.count; k++) {
            EXPECT_EQ(c.pixels[k], ref.counts[k]);
            for (int b = 0; b < nb; b++)
                EXPECT_EQ(c.sum[k * nb + b], ref.sums[k][b]);
        }
        EXPECT_EQ(cls[5], -1);
    }
}

TEST(isoAssignRows, HitDistanceTiesAndOpening)
{
    const double scale[1] = {1};
    IsoClasses c;
    isoSetup(&c, 1, scale, 1.0, 3);       // hit 0.2
    float m0 = 0, m1 = 0.3f, m2 = 0.3f;
    isoOpenClass(&c, &m0, 0);
    isoOpenClass(&c, &m1, 0);
    isoOpenClass(&c, &m2, 0);
    // 0.4: class 0 (d 0.16) is within the hit distance, so the nearer
    // class 1 is never looked at; -0.1 likewise.  0.9: classes 1 and 2
    // tie (d 0.36, no hit), the first wins; 5.0 too, as NC = 3 forbids a
    // new class.
    float x[4] = {0.4f, 0.9f, -0.1f, 5.0f};
    int cls[4];
    IsoRows blk{1, 4, x, nullptr, nullptr, cls};
    ASSERT_EQ(isoAssignRows(&c, &blk, 1, 1), 1);
    EXPECT_EQ(cls[0], 0);
    EXPECT_EQ(cls[1], 1);
    EXPECT_EQ(cls[2], 0);
    EXPECT_EQ(cls[3], 1);
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(c.hits, 2);
    EXPECT_EQ(c.finds, 2);
    EXPECT_FLOAT_EQ(isoDistance(&c, &x[3], 2), 4.7f * 4.7f);

    // A pixel exactly D away opens a class; a known class is kept.
    IsoClasses d;
    isoSetup(&d, 1, scale, 1.0, 5);
    isoOpenClass(&d, &m0, 0);
    float y[4] = {1.0f, 1.1f, 0.9f, 3.0f};
    int known[4] = {-1, -1, -1, 0};
    IsoRows blk2{1, 4, y, nullptr, known, cls};
    ASSERT_EQ(isoAssignRows(&d, &blk2, 1, 1), 1);
    EXPECT_EQ(cls[0], 1);                 // opened at 1.0
    EXPECT_EQ(cls[1], 1);                 // 0.01 from the new class
    EXPECT_EQ(cls[2], 1);
    EXPECT_EQ(cls[3], 0);
    EXPECT_EQ(d.count, 2);
    EXPECT_DOUBLE_EQ(d.sum[1], 3.0);
}

TEST(isoMinCV, MeansShiftsRemovalAndPrivateArea)
{
    const double scale[2] = {1, 1};
    IsoClasses c;
    isoSetup(&c, 2, scale, 2.0, 8);
    Feature *f = clusterRecord(2, 3);
    // Class 0: samples 10, mean (1, 1); class 1: samples 4, takes nothing;
    // class 2: samples 0, mean (5, 5).
    float means[3][2] = {{1, 1}, {3, 3}, {5, 5}};
    int samples[3] = {10, 4, 0};
    for (int k = 0; k < 3; k++) {
        unsigned char *item = getFeatureItem(f, k);
        isoSetField<int32_t>(item, ISO_SAMPLES, samples[k]);
        for (int b = 0; b < 2; b++)
            isoSetField<float>(item, ISO_MEAN(b), means[k][b]);
    }
    isoLoadClasses(&c, f);
    c.sum = {40, 20, 0, 0, 30, 36};      // class 0: 20 px at (2, 1)
    c.pixels = {20, 0, 6};               // class 2: 6 px at (5, 6)
    IsoPassResult r;
    f = isoMinCV(f, &c, 0, &r);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->count, 2);
    const unsigned char *a = getFeatureItem(f, 0), *b = getFeatureItem(f, 1);
    EXPECT_EQ(isoField<int32_t>(a, ISO_SAMPLES), 20);
    EXPECT_EQ(isoField<int32_t>(a, ISO_COUNT), 0);
    EXPECT_FLOAT_EQ(isoField<float>(a, ISO_MEAN(0)), 2);
    EXPECT_FLOAT_EQ(isoField<float>(a, ISO_DMEAN(0)), 1);
    EXPECT_FLOAT_EQ(isoField<float>(a, ISO_DMEAN(1)), 0);
    EXPECT_FLOAT_EQ(isoField<float>(a, ISO_SRMD2), std::sqrt(0.5f));
    EXPECT_EQ(isoField<double>(a, ISO_SUM(0)), 0.0);
    EXPECT_EQ(isoField<int32_t>(b, ISO_SAMPLES), 6);
    EXPECT_FLOAT_EQ(isoField<float>(b, ISO_MEAN(1)), 6);
    EXPECT_FLOAT_EQ(isoField<float>(b, ISO_SRMD2), std::sqrt(0.5f));
    // RMS = (20 + 6) sqrt(.5) / 26; stabilities .5, 0, 0.
    EXPECT_NEAR(r.rms, std::sqrt(0.5), 1e-7);
    EXPECT_DOUBLE_EQ(r.wcv, 20 * 0.5 / 26);
    EXPECT_EQ(r.cv, 0);
    IsoPrivate area;
    std::memcpy(&area, getFeaturePrivate(f), sizeof area);
    EXPECT_EQ(area.total, 26);
    EXPECT_EQ(area.nclasses, 2);
    EXPECT_DOUBLE_EQ(area.dis, 2.0);
    EXPECT_NEAR(area.rms, std::sqrt(0.5), 1e-7);

    // keep: the empty class stays, with samples 0 and its mean.
    isoLoadClasses(&c, f);
    c.pixels = {0, 3};
    c.sum = {0, 0, 15, 18};
    f = isoMinCV(f, &c, 1, &r);
    ASSERT_EQ(f->count, 2);
    EXPECT_EQ(isoField<int32_t>(getFeatureItem(f, 0), ISO_SAMPLES), 0);
    EXPECT_FLOAT_EQ(isoField<float>(getFeatureItem(f, 0), ISO_MEAN(0)), 2);
    freeFeature(f);
}

TEST(isoSort, SortOrderDecidesEqualsKeepOrder)
{
    Feature *f = clusterRecord(2, 4);
    float means[4][2] = {{3, 1}, {1, 9}, {2, 1}, {3, 1}};
    for (int k = 0; k < 4; k++) {
        isoSetField<int32_t>(getFeatureItem(f, k), ISO_SAMPLES, k);
        for (int b = 0; b < 2; b++)
            isoSetField<float>(getFeatureItem(f, k), ISO_MEAN(b),
                               means[k][b]);
    }
    int byBand2[2] = {1, 0};
    isoSort(f, byBand2);
    int want[4] = {2, 0, 3, 1};             // (2,1) (3,1) (3,1) (1,9)
    for (int k = 0; k < 4; k++)
        EXPECT_EQ(isoField<int32_t>(getFeatureItem(f, k), ISO_SAMPLES),
                  want[k]);
    // The speed-up adds half the last shift.
    isoSetField<float>(getFeatureItem(f, 0), ISO_DMEAN(1), -2);
    isoSpeed(f);
    EXPECT_FLOAT_EQ(isoField<float>(getFeatureItem(f, 0), ISO_MEAN(1)), 0);
    freeFeature(f);
}

TEST(isoBinCount, CellsAndBins)
{
    EXPECT_EQ(isoBinCount(1), 8388608);
    EXPECT_EQ(isoBinCount(2), 2896);
    EXPECT_EQ(isoBinCount(3), 203);
    EXPECT_EQ(isoBinCount(7), 9);
    // round((v - low) / range * (B - 1)), within 0 .. B - 2.
    EXPECT_EQ(isoBin(10, 10, 20, 9), 0);
    EXPECT_EQ(isoBin(11.25, 10, 20, 9), 1);     // 1.0 exactly
    EXPECT_EQ(isoBin(10.6, 10, 20, 9), 0);      // 0.48
    EXPECT_EQ(isoBin(10.7, 10, 20, 9), 1);      // 0.56
    EXPECT_EQ(isoBin(20, 10, 20, 9), 7);        // 8 lowered to B - 2
    EXPECT_EQ(isoBin(-5, 10, 20, 9), 0);
}
