// Tests of gdem.cpp's row arithmetic: the orientation of the gradient
// (columns run east, rows south) under suns from the four sides, the
// first column and a one-column DEM.
#include <gtest/gtest.h>

#include <cmath>

#include "modules/gdem.h"

namespace {

GdemShading shading(int model, double azDeg)
{
    GdemShading g = {};
    g.model = model;
    g.dx = g.dy = 1;
    g.kx = -2;
    g.ky = 2;
    g.scale = 255;
    g.power = 1;
    g.gain = 0.5;
    g.height = 10;
    g.hotspot = 0.5;
    double r = M_PI / 180;
    gdemSetAngles(&g, azDeg * r, 45 * r, azDeg * r, 90 * r);
    return g;
}

}  // namespace

TEST(gdemShadeRow, PlanesLitFromEachSide)
{
    // Gradient 2 per cell gives p (or q) = 8; the Lambert value of a face
    // turned towards a sun 45 degrees up is 255 (8 + 1) sin45 / 65, of a
    // face turned away 255 (1 - 8) sin45 / 65.
    const double lit = 255 * 9 * std::sqrt(0.5) / 65,
                 dark = 255 * -7 * std::sqrt(0.5) / 65;
    float eastUp[4] = {0, 2, 4, 6}, northUpper[4] = {2, 2, 2, 2},
          northLower[4] = {0, 0, 0, 0};
    double out[4];
    struct {
        double az;
        const float *upper, *lower;
        double want;
    } cases[] = {
        {90, eastUp, eastUp, dark}, {270, eastUp, eastUp, lit},
        {0, northUpper, northLower, dark}, {180, northUpper, northLower, lit},
    };
    for (const auto &c : cases) {
        GdemShading g = shading(GDEM_LAMBERT, c.az);
        gdemShadeRow(&g, c.upper, c.lower, 4, 1, out);
        for (double v : out)
            EXPECT_NEAR(v, c.want, 1e-9) << "azimuth " << c.az;
    }
}

TEST(gdemShadeRow, FirstColumnAndSingleColumn)
{
    GdemShading g = shading(GDEM_TANG, 135);
    float upper[3] = {0, 1, 5}, lower[3] = {0, 1, 5};
    double out[3] = {-1, -1, -1};
    gdemShadeRow(&g, upper, lower, 3, 1, out);
    EXPECT_DOUBLE_EQ(out[1], 255 * 4.0);      // p = 2 * 2 * 1
    EXPECT_DOUBLE_EQ(out[2], 255 * 16.0);
    EXPECT_DOUBLE_EQ(out[0], out[1]);
    float up1 = 3, low1 = 1;                   // q = (3 + 3 - 1 - 1) * 2
    gdemShadeRow(&g, &up1, &low1, 1, 1, out);
    EXPECT_DOUBLE_EQ(out[0], 255 * 8.0);
}
