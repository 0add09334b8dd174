// Tests of geoParams.cpp and geoCalc.cpp: the term order, row evaluation,
// the "GOERECHD" file layout and its failures, and the fit's exact cases.
// Agreement with numpy's least squares on noisy sets is in
// tests/calc/geocalc.test.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "modules/geoCalc.h"
#include "modules/geoParams.h"
#include "tests/support/testSupport.h"

namespace {

typedef std::unique_ptr<GeoCalcStore, void (*)(GeoCalcStore *)> StorePtr;

StorePtr newStore()
{
    return StorePtr(geoCalcInit(), geoCalcFree);
}

void add(GeoCalcStore *s, const char *text)
{
    std::string message;
    ASSERT_EQ(geoCalcAddRec(s, text, &message), GEO_OK) << message;
}

}  // namespace

TEST(polynormial, TermOrderAndRowEvaluation)
{
    // Degree by degree, decreasing powers of u; order 0 is bilinear.
    double t[GEO_MAX_TERMS];
    polynormial(3, 2.0, 3.0, t);
    const double cubic[] = {1, 2, 3, 4, 6, 9, 8, 12, 18, 27};
    for (int k = 0; k < 10; k++)
        EXPECT_EQ(t[k], cubic[k]) << k;
    polynormial(0, 2.0, 3.0, t);
    EXPECT_EQ(t[3], 6.0);
    EXPECT_EQ(geoTermCount(0), 4);
    EXPECT_EQ(geoTermCount(2), 6);
    EXPECT_EQ(geoTermCount(GEO_MAX_ORDER), GEO_MAX_TERMS);
    EXPECT_EQ(geoTermCount(GEO_MAX_ORDER + 1), -1);

    // The row reduction agrees with evaluating the terms point by point.
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> coef(-2.0, 2.0);
    for (int order = 0; order <= GEO_MAX_ORDER; order++) {
        GeoParams p;
        p.order = order;
        p.n = geoTermCount(order);
        p.mx1 = 31.5;
        p.my1 = -12.25;
        for (int k = 0; k < p.n; k++) {
            p.cx[k] = coef(gen) / std::pow(10.0, geoTermDegree(order, k));
            p.cy[k] = coef(gen) / std::pow(10.0, geoTermDegree(order, k));
        }
        GeoRowPoly row;
        calcPolynormial(&p, 7.0, &row);
        double x2[5], y2[5];
        calcPolynormial2(&row, 3.0 - p.mx1, 1.5, 5, x2, y2);
        for (int i = 0; i < 5; i++) {
            double ex, ey;
            geoParamsMap(&p, 3.0 + 1.5 * i, 7.0, &ex, &ey);
            EXPECT_NEAR(x2[i], ex, 1e-9 * (1 + std::fabs(ex))) << order;
            EXPECT_NEAR(y2[i], ey, 1e-9 * (1 + std::fabs(ey))) << order;
        }
    }
}

TEST(putGeoParams, LayoutRoundTripAndDamagedFiles)
{
    ScratchDir dir;
    GeoParams p;
    p.mx1 = 1.5;
    p.my1 = -2.0;
    p.mx2 = 100.25;
    p.my2 = 3e5;
    p.order = 1;
    p.n = 3;
    const double cy[] = {3e5 + 1, 0.5, -0.25}, cx[] = {100.25, 2.0, 4.0};
    std::memcpy(p.cy, cy, sizeof cy);
    std::memcpy(p.cx, cx, sizeof cx);
    std::string path = dir.path("p.par"), message;
    ASSERT_EQ(putGeoParams(&p, path.c_str(), &message), 0);

    // 48 + 16 n bytes: magic, four means, n, order, then y2's and x2's
    // coefficients, all little-endian.
    std::vector<unsigned char> want(8);
    std::memcpy(want.data(), "GOERECHD", 8);
    auto putD = [&](double d) {
        uint64_t b;
        std::memcpy(&b, &d, 8);
        putLE32(want, (uint32_t)b);
        putLE32(want, (uint32_t)(b >> 32));
    };
    for (double d : {1.5, -2.0, 100.25, 3e5})
        putD(d);
    putLE32(want, 3);
    putLE32(want, 1);
    for (double d : cy)
        putD(d);
    for (double d : cx)
        putD(d);
    EXPECT_EQ(readFileBytes(path), want);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    GeoParams q;
    ASSERT_EQ(getGeoParams(&q, path.c_str(), &message), 0);
    EXPECT_EQ(q.n, 3);
    EXPECT_EQ(q.my2, 3e5);
    EXPECT_EQ(q.cx[2], 4.0);
    EXPECT_EQ(q.cy[0], 3e5 + 1);

    struct Damage {
        std::vector<unsigned char> bytes;
        const char *tail;
    };
    std::vector<unsigned char> shortFile(want.begin(), want.end() - 1);
    std::vector<unsigned char> badMagic = want;
    badMagic[1] = 'E';
    std::vector<unsigned char> badCount = want;
    badCount[40] = 4;   // 4 coefficients do not go with order 1
    for (const Damage &d : {Damage{shortFile, " read error."},
                            Damage{badMagic, " is not a georectification "
                                             "parameter file."},
                            Damage{badCount, " is not a georectification "
                                             "parameter file."}}) {
        writeFileBytes(path, d.bytes);
        EXPECT_EQ(getGeoParams(&q, path.c_str(), &message), -1);
        EXPECT_EQ(message, path + d.tail);
    }
    std::string missing = dir.path("none.par");
    EXPECT_EQ(getGeoParams(&q, missing.c_str(), &message), -1);
    EXPECT_EQ(message, missing + " open error.");
    std::string noDir = dir.path("none/p.par");
    EXPECT_EQ(putGeoParams(&p, noDir.c_str(), &message), -1);
    EXPECT_EQ(message, noDir + " open error.");
}

TEST(geoCalcEquation, ExactFitsResidualsAndFailures)
{
    // Three points fit an affine map exactly; a fourth, unselected point
    // 3 and 4 off the map still gets residuals and adds to the sums
    // divided by the 3 selected points.
    StorePtr s = newStore();
    add(s.get(), "1 1 0 0 10 20");
    add(s.get(), "1 2 10 0 30 20");
    add(s.get(), "1 3 0 10 10 -10");
    add(s.get(), "0 4 10 10 33 -6");
    ASSERT_EQ(geoCalcEquation(s.get(), 1), 0);
    double cx[GEO_MAX_TERMS], cy[GEO_MAX_TERMS], rms[3];
    ASSERT_EQ(geoCalcGetX(s.get(), cx), 3);
    geoCalcGetY(s.get(), cy);
    geoCalcGetMSR(s.get(), rms);
    // x2 = 10 + 2 x1, y2 = 20 - 3 y1: with means (10/3, 10/3) removed.
    EXPECT_NEAR(cx[0], 10 + 2 * 10.0 / 3, 1e-9);
    EXPECT_NEAR(cx[1], 2.0, 1e-12);
    EXPECT_NEAR(cx[2], 0.0, 1e-12);
    EXPECT_NEAR(cy[0], 20 - 3 * 10.0 / 3, 1e-9);
    EXPECT_NEAR(cy[2], -3.0, 1e-12);
    double dx, dy;
    geoCalcGetErr(s.get(), 0, &dx, &dy);
    EXPECT_NEAR(dx, 0.0, 1e-6);
    geoCalcGetErr(s.get(), 3, &dx, &dy);
    EXPECT_NEAR(dx, 3.0, 1e-6);
    EXPECT_NEAR(dy, 4.0, 1e-6);
    EXPECT_NEAR(rms[0], std::sqrt(9.0 / 3), 1e-6);
    EXPECT_NEAR(rms[1], std::sqrt(16.0 / 3), 1e-6);
    EXPECT_NEAR(rms[2], std::sqrt(25.0 / 3), 1e-6);

    // Order 2 needs six selected points.
    CapturedOutput out;
    for (const char *rec : {"1 5 3 7 1 1", "1 6 8 2 5 5"})
        add(s.get(), rec);
    EXPECT_EQ(geoCalcEquation(s.get(), 2), 1);
    EXPECT_EQ(out.out(), "Not enough GCPs !\n");
    EXPECT_EQ(geoCalcGetX(s.get(), cx), 0);

    // Points on one line do not determine an affine map.
    StorePtr line = newStore();
    for (const char *rec : {"1 1 0 0 1 1", "1 2 1 1 2 2", "1 3 2 2 3 3",
                            "1 4 5 5 9 9"})
        add(line.get(), rec);
    EXPECT_EQ(geoCalcEquation(line.get(), 1), 2);
    EXPECT_EQ(geoCalcEquation(line.get(), GEO_MAX_ORDER + 1), -1);

    // Records: six fields, finite, nothing after them; at most 300.
    std::string message;
    for (const char *bad : {"1 2 3 4 5", "1 2 3 4 5 6 7", "1 2 x 4 5 6",
                            "1 2 nan 4 5 6"}) {
        EXPECT_EQ(geoCalcAddRec(line.get(), bad, &message), GEO_EINVALID);
        EXPECT_EQ(message, std::string("Invalid record:\n") + bad);
    }
    StorePtr full = newStore();
    for (int i = 0; i < GEO_MAX_GCPS; i++)
        add(full.get(), "1 1 0 0 0 0");
    EXPECT_EQ(geoCalcAddRec(full.get(), "1 1 0 0 0 0", &message),
              GEO_EOVERFLOW);
    EXPECT_EQ(message, "GCP number overflow.\n");
}

TEST(geoCalcLoadFile, TextFilesRoundTripAndRejects)
{
    ScratchDir dir;
    StorePtr s = newStore();
    add(s.get(), "1 7 1.5 2.25 1000.125 -3.5");
    add(s.get(), "0 12 -4 5 6 7");
    std::string path = dir.path("g.gcp"), message;
    ASSERT_EQ(geoCalcSaveFile(s.get(), path.c_str(), &message), 0);
    std::vector<unsigned char> bytes = readFileBytes(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "    7        1.500        2.250     1000.125       -3.500\n"
              "   12       -4.000        5.000        6.000        7.000\n");

    // Loading appends or replaces; loaded points are selected.
    EXPECT_EQ(geoCalcLoadFile(s.get(), path.c_str(), 0, &message), 2);
    EXPECT_EQ(s->recs.size(), 4u);
    EXPECT_EQ(geoCalcLoadFile(s.get(), path.c_str(), 1, &message), 2);
    ASSERT_EQ(s->recs.size(), 2u);
    EXPECT_EQ(s->recs[1].selected, 1);
    EXPECT_EQ(s->recs[1].id, 12);

    // A bad line, or a line over 79 characters, leaves the store as it
    // was.
    writeFileBytes(path, {'1', ' ', '2', '\n', '\n'});
    EXPECT_EQ(geoCalcLoadFile(s.get(), path.c_str(), 1, &message),
              GEO_EINVALID);
    EXPECT_EQ(message, "Invalid record:\n1 2");
    std::string longLine = "1 1 1 1 1" + std::string(75, ' ') + "\n";
    writeFileBytes(path, std::vector<unsigned char>(longLine.begin(),
                                                    longLine.end()));
    EXPECT_EQ(geoCalcLoadFile(s.get(), path.c_str(), 1, &message),
              GEO_EINVALID);
    EXPECT_EQ(s->recs.size(), 2u);
    EXPECT_EQ(geoCalcLoadFile(s.get(), dir.path("none").c_str(), 0,
                              &message), GEO_EOPEN);
}
