// Tests of section.cpp: section sampling (nearest and bilinear, the edge
// rules), ray profiles, and the inverse walk that writes a section back.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/lineAccess.h"
#include "tests/support/imageRecords.h"

namespace {

/* Band b of pixel (x, y) holds 100 b + 10 y + x: linear, so bilinear
 * interpolation between existing pixels is exact. */
RAMImagePtr rampImage(int columns, int rows, int nbands)
{
    auto r = makeMemImage(IMG_MBIL, PIXEL_FLOAT, columns, rows, nbands);
    std::vector<float> line((size_t)columns);
    for (int b = 0; b < nbands; b++)
        for (int y = 0; y < rows; y++) {
            for (int x = 0; x < columns; x++)
                line[x] = (float)(100 * b + 10 * y + x);
            putFloatBILData(r.get(), y, 0, columns, b, line.data());
        }
    return r;
}

std::vector<float> sect(RAMImage *r, double x0, double y0, double x1,
                        double y1, int points, int mode)
{
    std::vector<float> out((size_t)points, -1);
    readFloatBIPSect(r, x0, y0, x1, y1, 1, nullptr, out.data(), points, mode);
    return out;
}

std::vector<float> profile(RAMImage *r, double x, double y, double angle,
                           double step, double start, int points, int mode)
{
    std::vector<float> out((size_t)points, -1);
    getRAMImageProfile(r, x, y, 0, angle, step, start, out.data(), points,
                       mode);
    return out;
}

std::vector<float> row(RAMImage *r, int y, int band = 0)
{
    std::vector<float> out((size_t)r->info.columns);
    getFloatBILData(r, y, 0, r->info.columns, band, out.data());
    return out;
}

int getLineCalls;
unsigned char *countingGetLine(RAMImage *r, int line, int band, int read)
{
    getLineCalls++;
    return getRAMImageLine(r, line, band, read);
}

} // namespace

TEST(readFloatBIPSect, NearestAndBilinearSamples)
{
    auto r = rampImage(5, 4, 2);
    EXPECT_EQ(sect(r.get(), 0, 0, 4, 2, 5, 1),
              (std::vector<float>{0, 11, 12, 23, 24}));
    EXPECT_EQ(sect(r.get(), 0, 0, 4, 2, 5, 2),
              (std::vector<float>{0, 6, 12, 18, 24}));
    // Two points span the whole difference.
    EXPECT_EQ(sect(r.get(), 0, 0, 4, 2, 2, 1), (std::vector<float>{0, 24}));

    // Single points.  Nearest: the pixel holding (x + 0.5, y + 0.5)
    // truncated, 0 outside.  Bilinear: the last column and row repeat,
    // position -1 uses 0.
    struct {
        double x, y;
        int mode;
        float want;
    } points[] = {
        {-0.4, 1, 1, 10}, {-0.6, 1, 1, 0}, {4.4, 3.4, 1, 34}, {4.6, 1, 1, 0},
        {4.5, 0, 2, 4}, {2, 3.5, 2, 32}, {-0.5, 1, 2, 10}, {5, 1, 2, 0},
        {1.5, -0.25, 2, 1.5f}, {-1.5, 1, 2, 0}, {1.25, 2.5, 2, 26.25f}};
    for (auto p : points)
        EXPECT_EQ(sect(r.get(), p.x, p.y, 0, 0, 1, p.mode)[0], p.want)
            << "(" << p.x << ", " << p.y << ") mode " << p.mode;

    // Several bands from a list, interleaved per position.
    const int list[2] = {1, 0};
    std::vector<float> two(6);
    readFloatBIPSect(r.get(), 1, 1, 3, 1, 2, list, two.data(), 3, 1);
    EXPECT_EQ(two, (std::vector<float>{111, 11, 112, 12, 113, 13}));
}

TEST(getRAMImageProfile, RaysNearestAndBilinear)
{
    auto r = rampImage(5, 4, 1);
    EXPECT_EQ(profile(r.get(), 1, 1, 0, 1, 0, 6, 1),
              (std::vector<float>{11, 12, 13, 14, 0, 0}));
    // Angles count counter-clockwise with rows downwards: pi/2 goes up.
    EXPECT_EQ(profile(r.get(), 2, 3, M_PI / 2, 1, 1, 4, 1),
              (std::vector<float>{22, 12, 2, 0}));
    // Halves round away from zero.
    EXPECT_EQ(profile(r.get(), 0.5, 1, 0, 1, 0, 2, 1),
              (std::vector<float>{11, 12}));
    EXPECT_EQ(profile(r.get(), -0.5, 1, 0, 0.1, 0, 2, 1),
              (std::vector<float>{0, 10}));
    // Bilinear: neighbours past the last column or row weigh 0.
    EXPECT_EQ(profile(r.get(), 2.5, 1, 0, 1, 0, 3, 2),
              (std::vector<float>{12.5f, 13.5f, 7}));
    EXPECT_EQ(profile(r.get(), 1, 3.5, 0, 1, 0, 1, 2)[0], 15.5f);
    EXPECT_EQ(profile(r.get(), -0.5, 1, 0, 1, 0, 1, 2)[0], 0);
    EXPECT_EQ(profile(r.get(), 3, 2, M_PI, 1, 0.5, 1, 2)[0], 22.5f);
}

TEST(writeFloatBIPSect, WritesEachPixelOfTheLineOnce)
{
    const float samples[3] = {0, 10, 20};
    auto r = rampImage(5, 3, 1);
    writeFloatBIPSect(r.get(), 0, 1, 4, 1, 1, nullptr, samples, 3, 2);
    EXPECT_EQ(row(r.get(), 1), (std::vector<float>{0, 5, 10, 15, 20}));
    EXPECT_EQ(row(r.get(), 0), (std::vector<float>{0, 1, 2, 3, 4}));
    writeFloatBIPSect(r.get(), 0, 1, 4, 1, 1, nullptr, samples, 3, 1);
    EXPECT_EQ(row(r.get(), 1), (std::vector<float>{0, 10, 10, 20, 20}));

    // A shallow diagonal: one pixel per column, rounded.
    auto z = makeMemImage(IMG_MBIL, PIXEL_FLOAT, 5, 3, 1);
    const float ones[2] = {1, 1};
    getLineCalls = 0;
    z->getLine = countingGetLine;
    writeFloatBIPSect(z.get(), 0, 0, 4, 2, 1, nullptr, ones, 2, 1);
    EXPECT_EQ(getLineCalls, 5);
    EXPECT_EQ(row(z.get(), 0), (std::vector<float>{1, 0, 0, 0, 0}));
    EXPECT_EQ(row(z.get(), 1), (std::vector<float>{0, 1, 1, 0, 0}));
    EXPECT_EQ(row(z.get(), 2), (std::vector<float>{0, 0, 0, 1, 1}));

    // Pixels outside are skipped; the samples keep their positions.
    const float five[5] = {0, 1, 2, 3, 4};
    auto o = makeMemImage(IMG_MBIL, PIXEL_FLOAT, 5, 1, 1);
    writeFloatBIPSect(o.get(), -2, 0, 2, 0, 1, nullptr, five, 5, 1);
    EXPECT_EQ(row(o.get(), 0), (std::vector<float>{2, 3, 4, 0, 0}));
    // A line far beyond the image only visits what lies inside it.
    getLineCalls = 0;
    o->getLine = countingGetLine;
    writeFloatBIPSect(o.get(), -1e12, 0, 1e12, 0, 1, nullptr, ones, 2, 1);
    EXPECT_EQ(getLineCalls, 5);
    writeFloatBIPSect(o.get(), 0, 7, 4, 7, 1, nullptr, ones, 2, 1);
    EXPECT_EQ(getLineCalls, 5);

    // Bands from a list; a band that does not exist is skipped.
    auto m = makeMemImage(IMG_MBIL, PIXEL_SHORT, 3, 1, 2);
    const int list[2] = {1, 5};
    const float pairs[4] = {7.6f, 99, 8, 99};
    writeFloatBIPSect(m.get(), 0, 0, 2, 0, 2, list, pairs, 2, 2);
    EXPECT_EQ(row(m.get(), 0, 1), (std::vector<float>{8, 8, 8}));
    EXPECT_EQ(row(m.get(), 0, 0), (std::vector<float>{0, 0, 0}));
}
