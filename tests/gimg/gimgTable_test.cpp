// Tests of gimgTable.cpp against hand-computed values: the output range of
// contrast and brightness, the mapping of lo..hi onto a..b with gamma, the
// statistics ranges (off-by-one of the DETAIL cut), the HISTS and HISTEQ
// step functions, level quantisation and colour tables of levels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "gimg/gimgTable.h"

namespace {

GimgBandStats statsOf(const std::vector<std::pair<int, int>> &counts, int nbins)
{
    GimgBandStats st;
    std::memset(&st, 0, sizeof st);
    st.nbins = nbins;
    double sum = 0, squares = 0;
    st.min = 1e300;
    st.max = -1e300;
    for (auto [value, count] : counts) {
        st.bins[value] += count;
        st.total += count;
        sum += (double)value * count;
        squares += (double)value * value * count;
        st.min = std::min(st.min, (double)value);
        st.max = std::max(st.max, (double)value);
    }
    st.mean = sum / st.total;
    st.std = std::sqrt(squares / st.total - st.mean * st.mean);
    return st;
}

std::vector<int> tableOf(const unsigned char *t)
{
    return std::vector<int>(t, t + 256);
}

TEST(gimgTable, OutputRangeOfContrastAndBrightness)
{
    struct Case { double c, bright; int a, b; double cOut; } cases[] = {
        {1, 0.5, 0, 255, 1},     {0, 0.5, 128, 127, 0},
        {-1, 0.5, 255, 0, -1},   {3, 0.5, 0, 255, 1},
        {-7, 0.5, 255, 0, -1},   {0.5, 0.5, 63, 192, 0.5},
        {1, 1.0, 255, 255, 1},   {1, 0.0, 0, 0, 1},
        {1, 0.75, 128, 255, 1},  {1, 1e300, 255, 255, 1},
    };
    for (const Case &k : cases) {
        double c = k.c;
        int a = -1, b = -1;
        gimgOutputRange(&c, k.bright, &a, &b);
        EXPECT_EQ(a, k.a) << k.c << " " << k.bright;
        EXPECT_EQ(b, k.b) << k.c << " " << k.bright;
        EXPECT_EQ(c, k.cOut);
    }
}

TEST(gimgTable, FunctionTableMapsRangeThroughGamma)
{
    unsigned char t[256];
    CreateFunctionTable(t, 256, 0, 255, 0, 255, nullptr, 1, 0);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(t[i], i) << "identity at " << i;
    CreateFunctionTable(t, 256, 0, 255, 0, 255, nullptr, 1, 1);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(t[i], i) << "S-curve of gamma 1 at " << i;
    CreateFunctionTable(t, 256, 0, 255, 0, 255, nullptr, 3, 2);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(t[i], i) << "mode 2 ignores gamma, at " << i;

    CreateFunctionTable(t, 256, 255, 0, 0, 255, nullptr, 1, 0);
    EXPECT_EQ(t[0], 255);
    EXPECT_EQ(t[128], 127);     /* 127.50145 */
    EXPECT_EQ(t[255], 0);

    CreateFunctionTable(t, 256, 128, 127, 0, 255, nullptr, 1, 0);
    EXPECT_EQ(t[0], 128);
    EXPECT_EQ(t[1], 127);
    EXPECT_EQ(t[255], 127);

    CreateFunctionTable(t, 256, 0, 255, 0, 255, nullptr, 2, 0);
    EXPECT_EQ(t[128], 64);      /* (128/255)^2 * 255.999 = 64.5027 */
    EXPECT_EQ(t[255], 255);

    CreateFunctionTable(t, 256, 0, 255, 100, 200, nullptr, 1, 0);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[100], 0);
    EXPECT_EQ(t[150], 127);     /* 127.9995 */
    EXPECT_EQ(t[200], 255);
    EXPECT_EQ(t[255], 255);

    unsigned char pre[256];
    for (int i = 0; i < 256; i++)
        pre[i] = (unsigned char)(255 - i);
    CreateFunctionTable(t, 256, 10, 20, 0, 255, pre, 1, 0);
    EXPECT_EQ(t[0], 20);
    EXPECT_EQ(t[255], 10);

    CreateFunctionTable(t, 4, 42, 200, 7, 7, nullptr, 1, 0);
    EXPECT_EQ(std::vector<int>(t, t + 4), std::vector<int>(4, 42));
}

TEST(gimgTable, StatisticsRanges)
{
    /* 1000 pixels: the DETAIL cut of 1.25 % steps past the bins it
     * consumes from each end. */
    GimgBandStats st = statsOf({{0, 10}, {1, 5}, {100, 970}, {255, 15}}, 256);
    double low = 0, high = 255;
    ASSERT_EQ(gimgStatsRange(&st, GIMG_RANGE_DETAIL, 2.5f, &low, &high), 1);
    EXPECT_EQ(low, 2);
    EXPECT_EQ(high, 254);

    /* MEAN in single precision, then kept inside the extremes. */
    GimgBandStats m = statsOf({{80, 1}, {120, 1}}, 256);   /* 100 +- 20 */
    low = 0, high = 255;
    ASSERT_EQ(gimgStatsRange(&m, GIMG_RANGE_MEAN, 0.5f, &low, &high), 1);
    EXPECT_EQ(low, 90);
    EXPECT_EQ(high, 110);
    ASSERT_EQ(gimgStatsRange(&m, GIMG_RANGE_MEAN, 2.5f, &low, &high), 1);
    EXPECT_EQ(low, 80);
    EXPECT_EQ(high, 120);

    /* Fewer than 16 bins: DETAIL falls back to MEAN. */
    GimgBandStats four = statsOf({{2, 1}, {6, 1}}, 16);
    ASSERT_EQ(gimgStatsRange(&four, GIMG_RANGE_DETAIL, 0.5f, &low, &high), 1);
    EXPECT_EQ(low, 3);
    EXPECT_EQ(high, 5);

    /* A constant band keeps the range asked for. */
    GimgBandStats flat = statsOf({{50, 9}}, 256);
    low = 7, high = 9;
    EXPECT_EQ(gimgStatsRange(&flat, GIMG_RANGE_MEAN, 2.5f, &low, &high), 0);
    EXPECT_EQ(low, 7);
    EXPECT_EQ(high, 9);
}

TEST(gimgTable, HistogramStepFunctions)
{
    /* HISTS: three occupied levels spread over 0..255. */
    GimgBandStats few = statsOf({{10, 5}, {20, 5}, {30, 5}}, 256);
    unsigned char t[256];
    ASSERT_EQ(gimgHistSteps(&few, GIMG_FUNC_HISTS, 0, 255, 1, 0, nullptr, t),
              1);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[10], 0);
    EXPECT_EQ(t[19], 0);
    EXPECT_EQ(t[20], 127);
    EXPECT_EQ(t[30], 255);
    EXPECT_EQ(t[255], 255);

    /* HISTEQ of a flat histogram is the identity. */
    std::vector<std::pair<int, int>> all;
    for (int i = 0; i < 256; i++)
        all.push_back({i, 3});
    GimgBandStats uniform = statsOf(all, 256);
    ASSERT_EQ(gimgHistSteps(&uniform, GIMG_FUNC_HISTEQ, 0, 255, 1, 0,
                            nullptr, t), 1);
    for (int i = 0; i < 256; i++)
        ASSERT_EQ(t[i], i);

    /* HISTEQ of two equal spikes: the lower spike is the base (0), the
     * upper one takes all of the rest; the pre-mapping picks the bins. */
    GimgBandStats two = statsOf({{40, 1}, {200, 1}}, 256);
    unsigned char pre[256];
    for (int i = 0; i < 256; i++)
        pre[i] = (unsigned char)(255 - i);
    ASSERT_EQ(gimgHistSteps(&two, GIMG_FUNC_HISTEQ, 40, 200, 1, 0, pre, t),
              1);
    EXPECT_EQ(t[255 - 40], 0);
    EXPECT_EQ(t[255 - 199], 0);
    EXPECT_EQ(t[255 - 200], 255);

    /* Nothing inside the range: no steps. */
    std::memset(t, 9, sizeof t);
    EXPECT_EQ(gimgHistSteps(&two, GIMG_FUNC_HISTEQ, 50, 60, 1, 0, nullptr,
                            t), 0);
    EXPECT_EQ(t[0], 9);
}

TEST(gimgTable, FunctionTableOfOneChannel)
{
    GimgBandStats st = statsOf({{0, 10}, {1, 5}, {100, 970}, {255, 15}}, 256);
    unsigned char t[256];
    double low = 0, high = 255;
    /* LINEAR over the DETAIL cut, written back. */
    gimgFunctionTable(&st, GIMG_FUNC_LINEAR, GIMG_RANGE_DETAIL, 2.5f, 8, 0,
                      1, 0, t, 256, 0, 255, &low, &high, nullptr);
    EXPECT_EQ(low, 2);
    EXPECT_EQ(high, 254);
    EXPECT_EQ(t[2], 0);
    EXPECT_EQ(t[254], 255);
    EXPECT_EQ(t[128], 127);     /* 126/252 of 255.999 */

    /* A filter background forces NONE over 0..255. */
    low = 100, high = 200;
    gimgFunctionTable(&st, GIMG_FUNC_LINEAR, GIMG_RANGE_DETAIL, 2.5f, 8, 128,
                      1, 0, t, 256, 0, 255, &low, &high, nullptr);
    EXPECT_EQ(tableOf(t)[50], 50);
    EXPECT_EQ(low, 100);

    /* NONE on 8 bits maps the given range; on wider bands the sampler has
     * done that, so the table spans 0..255. */
    gimgFunctionTable(&st, GIMG_FUNC_NONE, GIMG_RANGE_DETAIL, 2.5f, 8, 0, 1,
                      0, t, 256, 0, 255, &low, &high, nullptr);
    EXPECT_EQ(t[100], 0);
    EXPECT_EQ(t[200], 255);
    gimgFunctionTable(nullptr, GIMG_FUNC_LINEAR, GIMG_RANGE_MEAN, 2.5f, 16,
                      0, 1, 0, t, 256, 0, 255, &low, &high, nullptr);
    EXPECT_EQ(t[50], 50);
    EXPECT_EQ(low, 100);
}

TEST(gimgTable, QuantisationAndColourTables)
{
    unsigned char t[256];
    for (int i = 0; i < 256; i++)
        t[i] = (unsigned char)i;
    Quantification(t, 256, 32, 224);
    EXPECT_EQ(t[15], 0);
    EXPECT_EQ(t[16], 32);
    EXPECT_EQ(t[255], 224);

    unsigned char levels[256] = {0}, index[256];
    signed char residual[256];
    colorQuantify(residual, levels, 6, index, 36.0f);
    EXPECT_EQ(std::vector<int>(levels, levels + 6),
              (std::vector<int>{0, 51, 102, 154, 205, 255}));
    EXPECT_EQ(residual[25], 25);
    EXPECT_EQ(residual[26], 26 - 51);
    EXPECT_EQ(residual[255], 0);
    EXPECT_EQ(index[25], 0);
    EXPECT_EQ(index[26], 36);
    EXPECT_EQ(index[255], 180);
    colorQuantify(residual, levels, 256, index, 1.0f);
    EXPECT_EQ(residual[77], 0);
    EXPECT_EQ(index[77], 77);
    colorQuantify(residual, levels, 2, index, 1.0f);
    EXPECT_EQ(levels[1], 255);
    EXPECT_EQ(residual[127], 127);
    EXPECT_EQ(residual[128], -127);

    unsigned char table[256][3];
    ASSERT_EQ(createClrIndices(table, 3, 0, 0, 0), 3);
    EXPECT_EQ(table[1][0], 128);
    EXPECT_EQ(table[2][2], 255);
    ASSERT_EQ(createClrIndices(table, 256, 0, 0, 0), 256);
    EXPECT_EQ(table[200][1], 200);
    ASSERT_EQ(createClrIndices(table, 0, 2, 3, 2), 12);
    EXPECT_EQ((std::vector<int>{table[1][0], table[1][1], table[1][2]}),
              (std::vector<int>{0, 0, 255}));
    EXPECT_EQ((std::vector<int>{table[3][0], table[3][1], table[3][2]}),
              (std::vector<int>{0, 128, 255}));
    EXPECT_EQ((std::vector<int>{table[6][0], table[6][1], table[6][2]}),
              (std::vector<int>{255, 0, 0}));
    ASSERT_EQ(createClrIndices(table, 0, 8, 8, 4), 256);
    EXPECT_EQ(table[255][0], 255);
    EXPECT_EQ(table[255][2], 255);
    EXPECT_EQ(createClrIndices(table, 257, 0, 0, 0), 0);
    EXPECT_EQ(createClrIndices(table, 4, 2, 2, 2), 0);
    EXPECT_EQ(createClrIndices(table, 0, 7, 7, 7), 0);
    EXPECT_EQ(createClrIndices(table, 0, 2, 0, 2), 0);
}

}  // namespace
