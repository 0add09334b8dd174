// Tests of gtopGeom.cpp: rotations, the central projection and its
// inverse, segment clipping, and the cameras built from orientation
// angles and from a view point and target.  The projection of whole
// scenes against a numpy pinhole model is in tests/modules/gtop.test.
#include <gtest/gtest.h>

#include <cmath>

#include "modules/gtopGeom.h"

TEST(rotateKernel, OperationsAndComposition)
{
    double r[9];
    rotateKernel(r, 0, 0.0);
    double id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(r[i], id[i]);
    // Angle 0 leaves R as it was; operation 1 transposes.
    double m[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    for (int op : {2, 3, 4}) {
        double t[9];
        std::copy(m, m + 9, t);
        rotateKernel(t, op, 0.0);
        for (int i = 0; i < 9; i++)
            EXPECT_EQ(t[i], m[i]) << op;
    }
    rotateKernel(m, 1, 0.0);
    EXPECT_EQ(m[1], 4);
    EXPECT_EQ(m[6], 3);
    // Rot x R: rotating the identity by 90 degrees about z, then about x.
    rotateKernel(r, 2, M_PI / 2);
    rotateKernel(r, 4, M_PI / 2);
    // Rx(90) Rz(90) = [[0,1,0],[0,0,1],[1,0,0]].
    const double want[9] = {0, 1, 0, 0, 0, 1, 1, 0, 0};
    for (int i = 0; i < 9; i++)
        EXPECT_NEAR(r[i], want[i], 1e-15) << i;
}

TEST(centralProject, InverseOfRCentralProject)
{
    double r[9];
    GtopCamera cam;
    cam.view[0] = 10;
    cam.view[1] = 90;
    cam.view[2] = 120;
    cam.target[0] = 40;
    cam.target[1] = 30;
    cam.target[2] = 5;
    ASSERT_EQ(gtopLookAt(&cam), 0);
    std::copy(cam.r, cam.r + 9, r);
    const double f = 75.0, Z = 120.0;
    for (double p : {-30.0, 0.0, 12.5})
        for (double q : {-20.0, 3.0, 31.0}) {
            double x, y, pp, qq;
            double t = rCentralProject(r, Z, p, q, 5.0, f * r[2], f * r[5],
                                       Z + f * r[8], &x, &y);
            EXPECT_GT(t, 0.0);
            ASSERT_EQ(centralProject(r, Z, x, y, 5.0, f * r[2], f * r[5],
                                     Z + f * r[8], &pp, &qq), 0);
            EXPECT_NEAR(pp, p, 1e-9);
            EXPECT_NEAR(qq, q, 1e-9);
        }
    EXPECT_DOUBLE_EQ(interpo(2, 6, 3, 10, 30), 15);
}

TEST(gtopCamera, OrientationLookAtAndProjection)
{
    // The orientation's axis runs from the view point to the target at
    // distance f: V = T + f (-m20, -m21, m22); no angles is a nadir view.
    double m[9], r[9];
    gtopOrientation(0, 0, 0, m);
    gtopCameraMatrix(m, r);
    EXPECT_EQ(r[8], -1.0);      // k = (0, 0, -1): looking down
    EXPECT_EQ(r[0], 1.0);       // image columns run with ground columns
    EXPECT_EQ(r[4], 1.0);       // image rows with ground rows
    const double a = 0.4, b = 0.1, c = 1.1;
    gtopOrientation(a, b, c, m);
    gtopCameraMatrix(m, r);
    // Orthonormal, and k is m's third row with z negated.
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            double dot = 0;
            for (int k = 0; k < 3; k++)
                dot += r[3 * k + i] * r[3 * k + j];
            EXPECT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-12);
        }
    EXPECT_NEAR(r[2], m[6], 1e-15);
    EXPECT_NEAR(r[8], -m[8], 1e-15);

    // Looking at a target: the target projects to the principal point,
    // image rows stay level (u horizontal), v points down in the image,
    // and points behind the camera do not project.
    GtopCamera cam;
    cam.view[0] = 32;
    cam.view[1] = 110;
    cam.view[2] = 90;
    cam.target[0] = 32;
    cam.target[1] = 30;
    cam.target[2] = 20;
    ASSERT_EQ(gtopLookAt(&cam), 0);
    cam.focal = 100;
    cam.pc = 31.5;
    cam.pr = 40;
    EXPECT_NEAR(cam.r[6], 0.0, 1e-15);          // u_z
    double col, row;
    ASSERT_EQ(gtopProject(&cam, 32, 30, 20, &col, &row), 1);
    EXPECT_NEAR(col, 31.5, 1e-9);
    EXPECT_NEAR(row, 40, 1e-9);
    // Looking north (towards smaller rows): east is to the right, the
    // near ground at the bottom.
    ASSERT_EQ(gtopProject(&cam, 40, 30, 20, &col, &row), 1);
    EXPECT_GT(col, 31.5);
    ASSERT_EQ(gtopProject(&cam, 32, 60, 20, &col, &row), 1);
    EXPECT_GT(row, 40);
    EXPECT_EQ(gtopProject(&cam, 32, 200, 90, &col, &row), 0);
    // The ray through a projected position returns to the point.
    double d[3];
    ASSERT_EQ(gtopProject(&cam, 12, 25, 31, &col, &row), 1);
    gtopRay(&cam, col, row, d);
    double t = (12 - cam.view[0]) / d[0];
    EXPECT_NEAR(cam.view[1] + t * d[1], 25, 1e-9);
    EXPECT_NEAR(cam.view[2] + t * d[2], 31, 1e-9);
    cam.target[0] = cam.view[0];
    cam.target[1] = cam.view[1];
    cam.target[2] = cam.view[2];
    EXPECT_EQ(gtopLookAt(&cam), -1);
}

TEST(winClip, SegmentsAgainstTheWindow)
{
    GtopWindow w = {0, 0, 10, 5};
    double x0 = -5, y0 = 1, x1 = 15, y1 = 1;
    ASSERT_EQ(winClip(&w, &x0, &y0, &x1, &y1), 1);
    EXPECT_EQ(x0, 0);
    EXPECT_EQ(x1, 10);
    // A diagonal through the corner region: clipped on two edges.
    x0 = -2;
    y0 = -1;
    x1 = 8;
    y1 = 9;
    ASSERT_EQ(winClip(&w, &x0, &y0, &x1, &y1), 1);
    EXPECT_DOUBLE_EQ(x0, 0);
    EXPECT_DOUBLE_EQ(y0, 1);
    EXPECT_DOUBLE_EQ(x1, 4);
    EXPECT_DOUBLE_EQ(y1, 5);
    x0 = 11;
    y0 = 0;
    x1 = 20;
    y1 = 5;
    EXPECT_EQ(winClip(&w, &x0, &y0, &x1, &y1), 0);
}
