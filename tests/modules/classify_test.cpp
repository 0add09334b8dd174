// Tests of the decision rules of classify.cpp: a tile of pixels gives
// what each pixel gives alone, across the tile boundary, for all four
// rules; ties go to the first class; the unknown class; the model from a
// statistics record; an aborted run leaves no output behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/meter.h"
#include "core/ramimg.h"
#include "core/velk.h"
#include "modules/classify.h"
#include "modules/feature.h"
#include "modules/gstat.h"
#include "tests/support/testSupport.h"

namespace {

// Three classes over two bands; classes 0 and 2 are equal.
Feature *threeClasses()
{
    int bands[2] = {0, 1};
    Feature *f = newFeature(STAT_MAGIC, bands, 2, statSize(2), 3, nullptr, 0);
    const float items[3][5] = {{10, 20, 4, 1, 3}, {60, 50, 9, -2, 5},
                               {10, 20, 4, 1, 3}};
    for (int i = 0; i < 3; i++) {
        getStat(f, i)->nPixels = 100;
        std::memcpy(getStatMean(f, i), items[i], sizeof items[i]);
    }
    return f;
}

}  // namespace

TEST(classifyPixels, TilesEqualSinglePixelsTiesGoFirst)
{
    Feature *f = threeClasses();
    const int pos[2] = {0, 1};
    const int n = 300;      // more than one tile
    std::vector<float> x(2 * n);
    for (int p = 0; p < n; p++) {
        x[p] = (float)(p % 80);
        x[n + p] = (float)((p * 7) % 70);
    }
    int (*single[4])(const float *, Clusters *) = {euclidean, parallelpipe,
                                                   mahalanobis, bayes};
    for (int rule = 1; rule <= 4; rule++) {
        Clusters *c = createClusters_new(f, rule, 2, pos, 1e9f);
        ASSERT_NE(c, nullptr);
        c->logPrior = {-1.0f, -0.5f, -1.0f};
        std::vector<float> classes(n);
        std::vector<long> counts(3, 0);
        classifyPixels(c, rule, x.data(), n, classes.data(), counts.data());
        EXPECT_EQ(counts[2], 0) << rule;
        EXPECT_EQ(counts[0] + counts[1], n) << rule;
        for (int p = 0; p < n; p++) {
            float px[2] = {x[p], x[n + p]};
            ASSERT_EQ(single[rule - 1](px, c), (int)classes[p])
                << "rule " << rule << " pixel " << p;
        }
        EXPECT_EQ(c->counts[0] + c->counts[1], n);
        freeClusters(c);
    }
    freeFeature(f);
}

TEST(classifyPixels, UnknownClassAndModel)
{
    Feature *f = threeClasses();
    const int pos[2] = {1, 0};       // bands in the other order
    Clusters *c = createClusters_new(f, 3, 2, pos, 25.0f);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->means[0], 20.0f);
    // Covariance of class 1 in swapped order (5 -2; -2 9): det 41.
    EXPECT_FLOAT_EQ(c->lnDet[1], (float)std::log(41.0));
    EXPECT_FLOAT_EQ(c->inverse[4], 9 / 41.0f);
    freeClusters(c);

    // Euclidean: accepted while the mean squared difference is below the
    // threshold (5 squared): exactly at it the pixel is unknown (K = 3).
    const int same[2] = {0, 1};
    c = createClusters_new(f, 1, 2, same, 25.0f);
    float at[2] = {15, 25}, near[2] = {14.9f, 25};
    EXPECT_EQ(euclidean(at, c), 3);
    EXPECT_EQ(euclidean(near, c), 0);
    EXPECT_EQ(c->counts[0], 1);
    freeClusters(c);

    // A singular class stops rules 3 and 4 with the messages.
    CapturedOutput output;
    std::memset(getStatCov(f, 1), 0, 3 * sizeof(float));
    EXPECT_EQ(createClusters_new(f, 4, 2, same, 1.0f), nullptr);
    EXPECT_EQ(output.err(), "Error in dgb - zero value of a main element: 2\n"
                            "Error in inverting:1\n"
                            "Total Errors in invertStateItem:1\n");
    freeFeature(f);
}

TEST(classifyAp, AbortLeavesNoOutput)
{
    ScratchDir dir;
    CapturedOutput output;
    ImageInfo info{};
    std::string in = dir.path("in.img"), out = dir.path("out.bmp");
    std::string stats = dir.path("s.ftr");
    std::snprintf(info.fileName, sizeof info.fileName, "%s", in.c_str());
    info.pixel = PIXEL_BYTE;
    info.imgid = IMG_BSQ;
    info.offset = BASIC_HEADER_SIZE;
    info.rows = info.columns = 10;
    info.nbands = 2;
    info.transparent = -1;
    ASSERT_GT(createImage(&info), 0);
    Feature *f = threeClasses();
    ASSERT_EQ(putFeatures(stats.c_str(), f), 1);
    freeFeature(f);

    // The user's abort arrives while the rows are being classified.
    Tcl_Interp *interp = Tcl_CreateInterp();
    Tcl_Eval(interp, "proc velkAbort {} {}");
    Tcl_Interp *previous = setStdIO(interp);
    velkStatus = 3;
    const char *words[] = {"-in", in.c_str(), "-out", out.c_str(), "-stat",
                           stats.c_str()};
    EXPECT_EQ(classifyAp("rimage classify", 6, words), 0);
    const char *gwords[] = {"-in", in.c_str(), "-out", stats.c_str(),
                            "-stat", "new"};
    EXPECT_EQ(statRimgAp("rimage gstat", 6, gwords), 0);
    velkStatus = 0;
    setStdIO(previous);
    Tcl_DeleteInterp(interp);
    EXPECT_EQ(output.err(), "rimage classify canceled...\n"
                            "rimage gstat canceled...\n");
    EXPECT_NE(access(out.c_str(), F_OK), 0);
    EXPECT_EQ(getRAMImageByName(out.c_str()), nullptr);
    f = getFeatures(stats.c_str(), STAT_MAGIC);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->count, 3);         // not rewritten
    freeFeature(f);
}
