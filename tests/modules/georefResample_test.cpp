// Tests of georefResample.cpp: the edges of the two resampling rules, the
// agreement of the three kernels once stored, the needed input area and
// the rotation form.  Whole-image agreement with scipy's map_coordinates
// is in tests/modules/georef.test.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/pixelConv.h"
#include "modules/georefResample.h"

namespace {

/* An identity polynomial between two overlay frames, the input shifted
 * by (dx, dy) pixels. */
GeorefMap shiftMap(double dx, double dy, int columns, int rows, int method)
{
    GeorefMap m;
    georefInitRotate(&m.params, 0.0, 1.0, -dx, dy, 0, 0, 0, 0);
    m.out = {0, 0, 1, 1};
    m.in = {0, 0, 1, 1};
    m.inColumns = columns;
    m.inRows = rows;
    m.method = method;
    return m;
}

}  // namespace

TEST(georefKernels, EdgesOfNearestAndBilinear)
{
    // A 3 x 2 input; positions along row 0 of the output are column
    // shifts of the input.
    const float px[] = {10, 20, 40, 100, 200, 400};
    GeorefArea all = {0, 0, 3, 2};
    const double ci[] = {-0.5, -0.51, 2.49, 2.5, 0.25, 2.0, 1.5};
    const double ri[] = {0, 0, 0, 0, 0.5, 1.0, 1.0};
    float out[7];
    unsigned char valid[7];
    for (float &v : out)
        v = -1;
    GeorefMap nn = shiftMap(0, 0, 3, 2, GEOREF_NN);
    floatGeoref(&nn, &all, px, ci, ri, 7, out, valid);
    const unsigned char nnValid[] = {1, 0, 1, 0, 1, 1, 1};
    const float nnOut[] = {10, -1, 40, -1, 100, 400, 400};
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(valid[i], nnValid[i]) << i;
        EXPECT_EQ(out[i], nnOut[i]) << i;
    }

    // Bilinear: inside from 0 to the last column or row; there the
    // missing neighbour weighs nothing.
    for (float &v : out)
        v = -1;
    GeorefMap bi = shiftMap(0, 0, 3, 2, GEOREF_BI);
    floatGeoref(&bi, &all, px, ci, ri, 7, out, valid);
    const unsigned char biValid[] = {0, 0, 0, 0, 1, 1, 1};
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(valid[i], biValid[i]) << i;
    EXPECT_EQ(out[2], -1);     // 2.49 is past the last column
    // (0.25, 0.5): rows 10 20 and 100 200 -> 12.5 and 125 -> 68.75
    EXPECT_FLOAT_EQ(out[4], 68.75f);
    EXPECT_FLOAT_EQ(out[5], 400);
    EXPECT_FLOAT_EQ(out[6], 300);

    // A position inside the input but outside the area read is left.
    GeorefArea part = {1, 0, 2, 2};
    const float partPx[] = {20, 40, 200, 400};
    floatGeoref(&bi, &part, partPx, ci + 4, ri + 4, 1, out, valid);
    EXPECT_EQ(valid[0], 0);
}

TEST(georefKernels, ByteKernelsAgreeOnceStored)
{
    std::mt19937 gen(3);
    std::uniform_int_distribution<int> value(0, 255);
    std::uniform_real_distribution<double> pos(-1.0, 17.0);
    std::vector<unsigned char> bytes(16 * 16);
    std::vector<float> floats(bytes.size());
    for (size_t i = 0; i < bytes.size(); i++)
        floats[i] = bytes[i] = (unsigned char)value(gen);
    GeorefArea all = {0, 0, 16, 16};
    const int n = 4000;
    std::vector<double> ci(n), ri(n);
    for (int i = 0; i < n; i++) {
        ci[i] = pos(gen);
        ri[i] = pos(gen);
    }
    // Half-way values are where rounding could part.
    ci[0] = 0.5;
    ri[0] = 0.0;
    for (int method : {GEOREF_NN, GEOREF_BI}) {
        GeorefMap m = shiftMap(0, 0, 16, 16, method);
        std::vector<float> f(n), g(n);
        std::vector<unsigned char> b(n), v1(n), v2(n), v3(n);
        floatGeoref(&m, &all, floats.data(), ci.data(), ri.data(), n,
                    f.data(), v1.data());
        byteGeoref(&m, &all, bytes.data(), ci.data(), ri.data(), n,
                   g.data(), v2.data());
        bytebyteGeoref(&m, &all, bytes.data(), ci.data(), ri.data(), n,
                       b.data(), v3.data());
        for (int i = 0; i < n; i++) {
            ASSERT_EQ(v1[i], v2[i]);
            ASSERT_EQ(v1[i], v3[i]);
            if (v1[i]) {
                ASSERT_EQ(f[i], g[i]);
                ASSERT_EQ(floatToByte(f[i]), b[i]) << ci[i] << " " << ri[i];
            }
        }
    }
}

TEST(georefNeededArea, BoundingBoxOfUsedPixels)
{
    // Output pixel (c, r) reads input (c + 2.5, r - 1.25): a 4 x 3 block
    // from (1, 1) uses input columns 3..7 and rows 0..3 bilinearly, and
    // is clipped to a 6-column input.
    GeorefMap m = shiftMap(2.5, -1.25, 6, 10, GEOREF_BI);
    GeorefArea a;
    ASSERT_EQ(georefNeededArea(&m, 1, 1, 4, 3, &a), 1);
    EXPECT_EQ(a.column0, 3);
    EXPECT_EQ(a.columns, 3);
    EXPECT_EQ(a.row0, 0);
    EXPECT_EQ(a.rows, 3);
    m.method = GEOREF_NN;
    ASSERT_EQ(georefNeededArea(&m, 1, 1, 4, 3, &a), 1);
    EXPECT_EQ(a.column0, 4);
    EXPECT_EQ(a.columns, 2);
    EXPECT_EQ(a.row0, 0);
    EXPECT_EQ(a.rows, 3);
    EXPECT_EQ(georefNeededArea(&m, 20, 1, 4, 3, &a), 0);
}

TEST(georefInitRotate, RotationScaleAndShift)
{
    // 90 degrees, scale 2, shift (3, 4): the output centre maps to the
    // input centre less x shift, plus y shift; a step along x1 moves y2
    // by -1/2.
    GeoParams p;
    ASSERT_EQ(georefInitRotate(&p, 90, 2, 3, 4, 50, 60, 10, 20), 0);
    double x2, y2;
    geoParamsMap(&p, 50, 60, &x2, &y2);
    EXPECT_NEAR(x2, 7, 1e-12);
    EXPECT_NEAR(y2, 24, 1e-12);
    geoParamsMap(&p, 52, 60, &x2, &y2);
    EXPECT_NEAR(x2, 7, 1e-12);
    EXPECT_NEAR(y2, 23, 1e-12);
    EXPECT_EQ(georefInitRotate(&p, 0, 0, 0, 0, 0, 0, 0, 0), -1);
}
