// Tests of feature.cpp and matInvert.cpp: the byte layout of a record
// and its file, the record operations, what getFeatures refuses, the
// statistics items, and the inversion against hand-computed inverses
// (the printed forms are checked through rimage statinfo).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "modules/feature.h"
#include "modules/matInvert.h"
#include "tests/support/testSupport.h"

namespace {

int32_t field(const std::vector<unsigned char> &b, size_t at)
{
    int32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

}  // namespace

TEST(newFeature, LayoutAndFileRoundTrip)
{
    ScratchDir dir;
    int bands[4] = {6, 0, 3, 2};
    unsigned char priv[192];
    for (int i = 0; i < 192; i++)
        priv[i] = (unsigned char)(i + 1);
    Feature *f = newFeature(ISO_MAGIC, bands, 4, 104, 1, priv, 192);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(getFeatureInfo(f, 0), 340);   // 236 + 104
    EXPECT_EQ(getFeatureInfo(f, 3), 236);
    EXPECT_EQ(getFeatureInfo(f, 5), FEATURE_ISO);
    EXPECT_EQ(getFeatureBand(f, 0), 6);
    EXPECT_EQ(getFeatureBand(f, 4), -1);
    EXPECT_EQ(getFeaturePrivate(f)[191], 192);

    std::string path = dir.path("a.ftr");
    ASSERT_EQ(putFeatures(path.c_str(), f), 1);
    std::vector<unsigned char> b = readFileBytes(path);
    ASSERT_EQ(b.size(), 340u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), "ISOFEATU");
    EXPECT_EQ(field(b, 8), 340);
    EXPECT_EQ(field(b, 12), 236);
    EXPECT_EQ(field(b, 16), 104);
    EXPECT_EQ(field(b, 20), 1);
    EXPECT_EQ(field(b, 24), 4);
    EXPECT_EQ(field(b, 28), 6);
    EXPECT_EQ(field(b, 40), 2);
    EXPECT_EQ(b[44], 1);
    EXPECT_EQ(b[235], 192);
    EXPECT_EQ(b[236], 0);       // items zero-filled
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(getFeatures(path.c_str(), STAT_MAGIC), nullptr);
    Feature *g = getFeatures(path.c_str(), ISO_MAGIC);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(std::memcmp(f, g, 340), 0);
    freeFeature(g);
    g = getFeatures(path.c_str(), nullptr);
    ASSERT_NE(g, nullptr);
    freeFeature(g);
    freeFeature(f);

    // The eigen magic keeps its zero byte; an empty private area is null.
    f = newFeature(EIGEN_MAGIC, nullptr, 2, evSize(2), 0, nullptr, 0);
    EXPECT_EQ(std::memcmp(f->magic, "EIGENID\0", 8), 0);
    EXPECT_EQ(getFeatureInfo(f, 5), FEATURE_EIGEN);
    EXPECT_EQ(getFeaturePrivate(f), nullptr);
    EXPECT_EQ(getFeatureBand(f, 1), 1);
    freeFeature(f);
}

TEST(addFeature, GrowCutAndDelete)
{
    Feature *f = newFeature(ISO_MAGIC, nullptr, 1, 8, 0, nullptr, 4);
    unsigned char item[8];
    for (int k = 0; k < 3; k++) {
        std::memset(item, 'a' + k, 8);
        f = addFeature(f, item);
    }
    f = addFeature(f, nullptr);
    ASSERT_EQ(getFeatureInfo(f, 1), 4);
    EXPECT_EQ(getFeatureInfo(f, 0), 36 + 4 * 8);
    EXPECT_EQ(getFeatureItem(f, 3)[7], 0);
    EXPECT_EQ(getFeatureItem(f, 4), nullptr);

    f = delFeatureItem(f, 1);
    EXPECT_EQ(getFeatureInfo(f, 1), 3);
    EXPECT_EQ(getFeatureItem(f, 1)[0], 'c');
    EXPECT_EQ(delFeatureItem(f, 3), f);           // out of range
    EXPECT_EQ(cutFeature(f, 3), f);               // same count

    f = cutFeature(f, 5);
    EXPECT_EQ(getFeatureInfo(f, 0), 36 + 5 * 8);
    EXPECT_EQ(getFeatureItem(f, 4)[0], 0);        // grown zero-filled
    f = cutFeature(f, -2);
    EXPECT_EQ(getFeatureInfo(f, 1), 0);
    EXPECT_EQ(getFeatureInfo(f, 0), 36);
    freeFeature(f);
}

TEST(getFeatures, RefusesOtherKindsAndDamage)
{
    ScratchDir dir;
    CapturedOutput output;
    Feature *f = newFeature(STAT_MAGIC, nullptr, 2, statSize(2), 2, nullptr,
                            STAT_PRIVATE_SIZE);
    std::string path = dir.path("s.ftr");
    ASSERT_EQ(putFeatures(path.c_str(), f), 1);
    std::vector<unsigned char> good = readFileBytes(path);
    freeFeature(f);

    // Another kind: refused without a message.
    EXPECT_EQ(getFeatures(path.c_str(), EIGEN_MAGIC), nullptr);
    EXPECT_EQ(getFeatures(dir.path("none").c_str(), STAT_MAGIC), nullptr);
    EXPECT_EQ(output.err(), "");

    // Truncated: the bytes there against the bytes expected.
    std::vector<unsigned char> cut(good.begin(), good.end() - 5);
    writeFileBytes(path, cut);
    EXPECT_EQ(getFeatures(path.c_str(), STAT_MAGIC), nullptr);
    EXPECT_EQ(output.err(), "Error in reading features. count 407 size 412\n");

    // A head whose item size does not fit its band count.
    std::vector<unsigned char> bad = good;
    bad[16] = 99;
    writeFileBytes(path, bad);
    output.clear();
    EXPECT_EQ(getFeatures(path.c_str(), STAT_MAGIC), nullptr);
    EXPECT_NE(output.err(), "");

    // An unknown kind when any is accepted.
    bad = good;
    bad[0] = 'X';
    writeFileBytes(path, bad);
    output.clear();
    EXPECT_EQ(getFeatures(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(output.err(), "Unknown feature ID.\n");

    // A file that cannot be written is not read.
    writeFileBytes(path, good);
    chmod(path.c_str(), 0400);
    if (geteuid() != 0) {
        EXPECT_EQ(getFeatures(path.c_str(), STAT_MAGIC), nullptr);
    }
    output.clear();
    EXPECT_EQ(putFeatures(dir.path("no/such").c_str(), f = newFeature(
                  STAT_MAGIC, nullptr, 1, statSize(1), 0, nullptr, 0)), 0);
    EXPECT_EQ(output.err().find(dir.path("no/such") + ": "), 0u);
    freeFeature(f);
    EXPECT_EQ(getFeatureInfo(reinterpret_cast<Feature *>(good.data()), 9),
              0);
}

TEST(dgb, InverseDeterminantAndZeroPivots)
{
    CapturedOutput output;
    double a[9] = {4, 1, 0, 1, 3, 1, 0, 1, 2};
    const double inverse[9] = {5, -2, 1, -2, 8, -4, 1, -4, 11};
    EXPECT_NEAR(dgb(a, 3), 18.0, 1e-12);
    for (int i = 0; i < 9; i++)
        EXPECT_NEAR(a[i], inverse[i] / 18.0, 1e-14) << i;

    double packed[6] = {4, 1, 3, 0, 1, 2};
    EXPECT_NEAR(dgt(packed, 3), 18.0, 1e-12);
    EXPECT_NEAR(packed[3], 1 / 18.0, 1e-14);     // element (2, 0)
    EXPECT_NEAR(packed[5], 11 / 18.0, 1e-14);

    double indefinite[3] = {1, 2, 1};
    EXPECT_NEAR(dgt(indefinite, 2), -3.0, 1e-12);
    EXPECT_EQ(indefinite[1], 2.0);               // kept when negative
    EXPECT_EQ(output.err(), "");

    double singular[4] = {1, 1, 1, 1};
    EXPECT_EQ(dgb(singular, 2), 0.0);
    double zero[4] = {0, 0, 0, 0};
    EXPECT_EQ(dgb(zero, 2), 0.0);
    EXPECT_EQ(output.err(), "Error in dgb - zero value of a main element: 2\n"
                            "Error in dgb - zero value of a main element: 2\n");
}

namespace {

// A statistics record of two items over bands 1 and 3 (0-based 0 and 2).
Feature *twoItems()
{
    int bands[2] = {0, 2};
    Feature *f = newFeature(STAT_MAGIC, bands, 2, statSize(2), 2, nullptr,
                            STAT_PRIVATE_SIZE);
    std::strcpy(reinterpret_cast<char *>(getFeaturePrivate(f)), "scene.lan");
    std::strcpy(reinterpret_cast<char *>(getFeaturePrivate(f)) + 64,
                "Created by GSTATS");
    const float data[2][5] = {{10, 20, 4, 2, 9}, {1, 2, 1, 0, 0}};
    for (int i = 0; i < 2; i++) {
        StatItem *s = getStat(f, i);
        std::strcpy(s->name, i ? "Water" : "Forest");
        std::strcpy(s->note, "Thu Jan  1 00:00:00 1970\n");
        s->nPixels = 50;
        s->id = i;
        std::memcpy(getStatMean(f, i), data[i], sizeof data[i]);
    }
    return f;
}

}  // namespace

TEST(statItems, LookupInversionNormalisation)
{
    CapturedOutput output;
    EXPECT_EQ(covIndex(2, 1), 4);
    EXPECT_EQ(covIndex(1, 2), 4);
    EXPECT_EQ(statSize(3), 108);
    Feature *f = twoItems();
    EXPECT_EQ(getStatID(f, "water"), 1);
    EXPECT_EQ(getStatID(f, "WATER "), -1);
    EXPECT_EQ(getStatCov(f, 0)[2], 9.0f);

    // cov (4 2; 2 9): det 32, inverse (9 -2; -2 4) / 32.
    double det = 0;
    EXPECT_EQ(invertStatItem(f, 0, &det), 1);
    EXPECT_DOUBLE_EQ(det, 32.0);
    EXPECT_FLOAT_EQ(getStatCov(f, 0)[0], 9 / 32.0f);
    EXPECT_FLOAT_EQ(getStatCov(f, 0)[1], -2 / 32.0f);
    // Singular: not written back.
    EXPECT_EQ(invertStatItem(f, 1, &det), 0);
    EXPECT_EQ(getStatCov(f, 1)[0], 1.0f);
    getStat(f, 1)->nPixels = 1;
    output.clear();
    EXPECT_EQ(invertStatItem(f, 1, &det), 0);
    EXPECT_EQ(output.err(), "Not enough samples.\n");
    freeFeature(f);

    f = twoItems();
    normStat(f, 0);
    EXPECT_FLOAT_EQ(getStatCov(f, 0)[1], 2 / 6.0f);
    EXPECT_EQ(getStatCov(f, 0)[0], 1.0f);
    EXPECT_EQ(getStatCov(f, 0)[2], 1.0f);
    EXPECT_EQ(getStatMean(f, 0)[1], 1.0f);
    freeFeature(f);
}
