// Tests of hist.cpp: figures of the calc...Hist family against hand-computed
// values (sampling steps, packing orders, extremes of signed and unsigned
// types), ramImageHist's loop orders, reuse and recomputation, the palette
// statistics of ramImageStats, and the mask and region variants.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <limits>
#include <utility>
#include <vector>

#include "core/hist.h"
#include "core/lineAccess.h"
#include "tests/core/memImage.h"
#include "tests/support/testSupport.h"

namespace {

struct HistDeleter {
    int nbands;
    void operator()(Hist *h) const { deleteHist(h, nbands); }
};
typedef std::unique_ptr<Hist, HistDeleter> HistPtr;

HistPtr newHist(int pixel, int nbands = 1)
{
    return HistPtr(createHist(nbands, histBins(pixel)), HistDeleter{nbands});
}

void expectFigures(const Hist &h, double count, double sum, double squares,
                   double lo, double hi)
{
    EXPECT_EQ(h.count, count);
    EXPECT_EQ(h.sum, sum);
    EXPECT_EQ(h.sumSquares, squares);
    EXPECT_EQ(h.min, lo);
    EXPECT_EQ(h.max, hi);
}

/* The lines asked of a memory image, served from its fixed slots. */
std::vector<std::pair<int, int>> linesRead;
unsigned char *loggingGetLine(RAMImage *r, int line, int band, int)
{
    linesRead.push_back({line, band});
    return r->buffer
           + (size_t)(line * r->info.nbands + band) * r->lineBytes;
}

RAMImagePtr loggedImage(int imgid, int pixel, int columns, int rows,
                        int nbands, int msbf = 0)
{
    auto r = makeMemImage(IMG_MBIL, pixel, columns, rows, nbands, msbf);
    r->info.imgid = imgid;
    r->getLine = loggingGetLine;
    linesRead.clear();
    return r;
}

void fill(RAMImage *r, int line, int band, const std::vector<float> &v)
{
    putFloatBILData(r, line, 0, (int)v.size(), band, v.data());
}

/* Stores values as they are (the float writers round negative values
 * toward zero after adding 0.5). */
template <typename T>
void fillRaw(RAMImage *r, int line, int band, const std::vector<T> &v)
{
    std::memcpy(r->getLine(r, line, band, 1), v.data(), v.size() * sizeof(T));
}

const double NaN = std::numeric_limits<double>::quiet_NaN();

} // namespace

TEST(calcByteHist, FiguresAndSamplingSteps)
{
    auto h = newHist(PIXEL_BYTE);
    const unsigned char line[] = {9, 3, 5};
    calcByteHist(h.get(), 3, 1, line);
    expectFigures(*h, 3, 17, 115, 3, 9);
    EXPECT_EQ(h->bins[3] + h->bins[5] + h->bins[9], 3);
    EXPECT_EQ(h->bins[4], 0);
    EXPECT_DOUBLE_EQ(getHistMean(h.get()), 17.0 / 3);
    EXPECT_DOUBLE_EQ(getHistStd(h.get()), std::sqrt(56.0 / 9));

    // Ten columns with step 3 sample columns 0, 3, 6 and 9.
    auto s = newHist(PIXEL_BYTE);
    const unsigned char ten[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    calcByteHist(s.get(), 10, 3, ten);
    expectFigures(*s, 4, 18, 126, 0, 9);
    calcByteHist(s.get(), 10, 0, ten);
    expectFigures(*s, 14, 63, 411, 0, 9);

    // The unrolled counting agrees with one value at a time.
    std::vector<unsigned char> big(1003);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (unsigned char)(i * 37 % 251);
    auto b = newHist(PIXEL_BYTE);
    calcByteHist(b.get(), 1003, 1, big.data());
    std::vector<int> bins(256);
    double sum = 0, squares = 0;
    for (unsigned char v : big) {
        bins[v]++;
        sum += v;
        squares += v * v;
    }
    EXPECT_EQ(std::vector<int>(b->bins, b->bins + 256), bins);
    expectFigures(*b, 1003, sum, squares, 0, 250);
}

TEST(calc1BitHist, FixedPackingOrders)
{
    // 1BIT: bit i % 8 from the least significant bit.
    const unsigned char bits[] = {0x09, 0xFF};
    auto h = newHist(PIXEL_1BIT);
    calc1BitHist(h.get(), 10, 1, bits);
    expectFigures(*h, 10, 4, 4, 0, 1);
    EXPECT_EQ(h->bins[0], 6);
    EXPECT_EQ(h->bins[1], 4);
    auto s = newHist(PIXEL_1BIT);
    calc1BitHist(s.get(), 10, 3, bits);
    expectFigures(*s, 4, 3, 3, 0, 1);
    auto ones = newHist(PIXEL_1BIT);
    calcHist(ones.get(), PIXEL_1BIT, 8, 1, bits + 1);
    expectFigures(*ones, 8, 8, 8, 1, 1);

    // 4BITS: the even pixel is the high nibble.
    const unsigned char nibbles[] = {0x12, 0x3F};
    auto n = newHist(PIXEL_4BITS);
    calc4BitsHist(n.get(), 3, 1, nibbles);
    expectFigures(*n, 3, 6, 14, 1, 3);
    EXPECT_EQ(n->bins[1] + n->bins[2] + n->bins[3], 3);
    calc4BitsHist(n.get(), 4, 2, nibbles);
    expectFigures(*n, 5, 10, 24, 1, 3);
    EXPECT_EQ(n->bins[3], 2);
    EXPECT_EQ(n->bins[15], 0);
}

TEST(calcHist, WiderTypesKeepMomentsAndExtremes)
{
    auto s = newHist(PIXEL_SHORT);
    EXPECT_EQ(s->nbins, 0);
    EXPECT_EQ(s->bins, nullptr);
    const short negative[] = {-5, -3, -9};
    calcHist(s.get(), PIXEL_SHORT, 3, 1, negative);
    expectFigures(*s, 3, -17, 115, -9, -3);

    auto u = newHist(PIXEL_USHORT);
    const unsigned short us[] = {65535, 1};
    calcHist(u.get(), PIXEL_USHORT, 2, 1, us);
    expectFigures(*u, 2, 65536, 4294836226.0, 1, 65535);

    auto l = newHist(PIXEL_LONG);
    const int longs[] = {2147483647, -2147483647 - 1};
    calcHist(l.get(), PIXEL_LONG, 2, 1, longs);
    expectFigures(*l, 2, -1, 2.0 * 2147483648.0 * 2147483648.0 - 2 * 2147483648.0 + 1,
                  -2147483648.0, 2147483647);

    auto ul = newHist(PIXEL_ULONG);
    const unsigned int ulongs[] = {4000000000u, 1, 7};
    calcHist(ul.get(), PIXEL_ULONG, 3, 2, ulongs);
    expectFigures(*ul, 2, 4000000007.0, 16e18 + 49, 7, 4e9);

    auto sb = newHist(PIXEL_SBYTE);
    const signed char sbytes[] = {-128, 127, -1};
    calcHist(sb.get(), PIXEL_SBYTE, 3, 1, sbytes);
    expectFigures(*sb, 3, -2, 16384 + 16129 + 1, -128, 127);

    // NaN is not a sample.
    auto f = newHist(PIXEL_FLOAT);
    const float floats[] = {1.5f, (float)NaN, -2.5f};
    calcHist(f.get(), PIXEL_FLOAT, 3, 1, floats);
    expectFigures(*f, 2, -1, 8.5, -2.5, 1.5);

    auto none = newHist(PIXEL_UNKNOWN);
    calcHist(none.get(), PIXEL_UNKNOWN, 3, 1, floats);
    expectFigures(*none, 0, 0, 0, DBL_MAX, -DBL_MAX);
}

TEST(createHist, StartingStateAndReset)
{
    auto h = newHist(PIXEL_4BITS, 2);
    for (int b = 0; b < 2; b++) {
        expectFigures(h.get()[b], 0, 0, 0, DBL_MAX, -DBL_MAX);
        EXPECT_EQ(h.get()[b].nbins, 16);
        EXPECT_EQ(h.get()[b].valid, 0);
    }
    const unsigned char line[] = {0x77};
    calc4BitsHist(h.get(), 2, 1, line);
    h->valid = 1;
    h->mean = 7;
    invalidateHist(h.get());
    EXPECT_EQ(h->valid, 0);
    EXPECT_EQ(h->count, 2);
    initHist(h.get());
    expectFigures(*h, 0, 0, 0, DBL_MAX, -DBL_MAX);
    EXPECT_EQ(h->bins[7], 0);
    EXPECT_EQ(h->mean, 0);
    EXPECT_EQ(createHist(0, 256), nullptr);
}

TEST(ramImageHist, LoopOrdersStepsAndReuse)
{
    // Band b of pixel (x, y): 10 y + x + 50 b.
    auto r = loggedImage(IMG_MBIL, PIXEL_BYTE, 5, 3, 2);
    for (int y = 0; y < 3; y++)
        for (int b = 0; b < 2; b++) {
            std::vector<float> v(5);
            for (int x = 0; x < 5; x++)
                v[x] = (float)(10 * y + x + 50 * b);
            fill(r.get(), y, b, v);
        }
    linesRead.clear();
    Hist *h = ramImageHist(r.get(), 0, 2, 2);
    ASSERT_EQ(h, r->histograms);
    EXPECT_EQ(linesRead, (std::vector<std::pair<int, int>>{
                             {0, 0}, {0, 1}, {2, 0}, {2, 1}}));
    // Columns 0, 2, 4 of lines 0 and 2.
    expectFigures(h[0], 6, 72, 0 + 4 + 16 + 400 + 484 + 576, 0, 24);
    expectFigures(h[1], 6, 372, 2500 + 2704 + 2916 + 4900 + 5184 + 5476, 50,
                  74);
    EXPECT_EQ(h[0].bins[22], 1);
    EXPECT_EQ(h[0].valid + h[1].valid, 2);

    // Mode 0 on complete histograms reads nothing.
    linesRead.clear();
    EXPECT_EQ(ramImageHist(r.get(), 0, 1, 1), h);
    EXPECT_TRUE(linesRead.empty());

    // A band made invalid is counted afresh, alone.
    invalidateHist(&h[1]);
    EXPECT_EQ(ramImageHist(r.get(), 1, 2, 2), h);
    EXPECT_EQ(linesRead, (std::vector<std::pair<int, int>>{{0, 1}, {2, 1}}));
    EXPECT_EQ(h[1].count, 6);
    EXPECT_EQ(h[1].sum, 372);

    // Mode 2 starts over with the new steps.
    linesRead.clear();
    h = ramImageHist(r.get(), 2, 1, 1);
    EXPECT_EQ(linesRead.size(), 6u);
    expectFigures(h[0], 15, 180, 3190, 0, 24);

    // Band-sequential files are read band by band.
    auto bsq = loggedImage(IMG_BSQ, PIXEL_BYTE, 2, 2, 2);
    ASSERT_NE(ramImageHist(bsq.get(), 0, 1, 1), nullptr);
    EXPECT_EQ(linesRead, (std::vector<std::pair<int, int>>{
                             {0, 0}, {1, 0}, {0, 1}, {1, 1}}));
    linesRead.clear();
    auto e74 = loggedImage(IMG_E74BSQ, PIXEL_BYTE, 2, 2, 2);
    ramImageHist(e74.get(), 0, 1, 3);
    EXPECT_EQ(linesRead, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}}));
}

TEST(ramImageHist, PixelsInTheImagesPackingOrder)
{
    // 1BIT with msbf: pixels 1,1,0,0,0,0,0,0; step 2 samples pixels
    // 0, 2, 4, 6.
    auto b = loggedImage(IMG_MBIL, PIXEL_1BIT, 8, 1, 1, 1);
    b->buffer[0] = 0xC0;
    Hist *h = ramImageHist(b.get(), 0, 2, 1);
    expectFigures(h[0], 4, 1, 1, 0, 1);
    EXPECT_EQ(h[0].bins[1], 1);
    auto lsb = loggedImage(IMG_MBIL, PIXEL_1BIT, 8, 1, 1, 0);
    lsb->buffer[0] = 0x03;
    EXPECT_EQ(ramImageHist(lsb.get(), 0, 2, 1)[0].bins[1], 1);

    // 4BITS without msbf: the even pixel is the low nibble.
    auto n = loggedImage(IMG_MBIL, PIXEL_4BITS, 3, 1, 1, 0);
    n->buffer[0] = 0x21;
    n->buffer[1] = 0xF3;
    h = ramImageHist(n.get(), 0, 2, 1);
    expectFigures(h[0], 2, 4, 10, 1, 3);

    // Types without bins, SBYTE and ULONG included.
    auto s = loggedImage(IMG_MBIL, PIXEL_SBYTE, 3, 2, 1);
    fillRaw<int8_t>(s.get(), 0, 0, {-100, 5, 7});
    fillRaw<int8_t>(s.get(), 1, 0, {-1, 0, 1});
    h = ramImageHist(s.get(), 0, 1, 1);
    expectFigures(h[0], 6, -88, 10000 + 25 + 49 + 1 + 1, -100, 7);
    EXPECT_EQ(h[0].bins, nullptr);
    auto u = loggedImage(IMG_MBIL, PIXEL_ULONG, 2, 1, 1);
    fill(u.get(), 0, 0, {3e9f, 1});
    h = ramImageHist(u.get(), 0, 1, 1);
    expectFigures(h[0], 2, 3000000001.0, 9e18 + 1, 1, 3e9);
}

TEST(ramImageStats, BandsAndPaletteComponents)
{
    auto r = loggedImage(IMG_MBIL, PIXEL_BYTE, 4, 1, 3);
    fill(r.get(), 0, 0, {1, 2, 3, 4});
    fill(r.get(), 0, 1, {10, 10, 30, 30});
    fill(r.get(), 0, 2, {7, 7, 7, 7});
    double mean = -1, std = -1, lo = -1, hi = -1;
    ASSERT_EQ(ramImageStats(r.get(), 4, &std, &mean, &lo, &hi), 1);
    EXPECT_EQ(mean, 20);
    EXPECT_EQ(std, 10);
    EXPECT_EQ(lo, 10);
    EXPECT_EQ(hi, 30);
    ASSERT_EQ(ramImageStats(r.get(), -2, &std, &mean, nullptr, nullptr), 1);
    EXPECT_EQ(mean, 2.5);
    EXPECT_DOUBLE_EQ(std, std::sqrt(1.25));
    ramImageStats(r.get(), 2, &std, nullptr, nullptr, nullptr);
    EXPECT_EQ(std, 0);

    // A palette image: statistics of a colour component of the values,
    // extremes over the values present.
    auto p = loggedImage(IMG_MBIL, PIXEL_BYTE, 4, 1, 1);
    fill(p.get(), 0, 0, {0, 0, 1, 2});
    p->info.nindices = 4;
    const unsigned char palette[4][3] = {
        {10, 0, 5}, {20, 0, 5}, {40, 0, 5}, {255, 255, 255}};
    std::memcpy(p->info.palette, palette, sizeof palette);
    ASSERT_EQ(ramImageStats(p.get(), 0, &std, &mean, &lo, &hi), 1);
    EXPECT_EQ(mean, 20);
    EXPECT_DOUBLE_EQ(std, std::sqrt(150.0));
    EXPECT_EQ(lo, 10);
    EXPECT_EQ(hi, 40);
    ramImageStats(p.get(), 4, &std, &mean, &lo, &hi);
    EXPECT_EQ(mean + std + lo + hi, 0);
    ramImageStats(p.get(), 5, &std, &mean, &lo, &hi);
    EXPECT_EQ(mean, 5);
    EXPECT_EQ(std, 0);
    ramImageStats(p.get(), -1, &std, &mean, &lo, &hi);
    EXPECT_EQ(mean, 0.75);
    EXPECT_EQ(hi, 2);

    // Grey palette entries: the same figures for every component.
    for (int k = 0; k < 256; k++)
        std::memset(p->info.palette[k], 255 - k, 3);
    double figures[3][4];
    for (int c = 0; c < 3; c++)
        ramImageStats(p.get(), c, &figures[c][0], &figures[c][1],
                      &figures[c][2], &figures[c][3]);
    for (int c = 1; c < 3; c++)
        for (int i = 0; i < 4; i++)
            EXPECT_EQ(figures[c][i], figures[0][i]);
    EXPECT_EQ(figures[0][2], 253);
    EXPECT_EQ(figures[0][3], 255);
}

TEST(ramImageHistWithMask, CountsOnlyMaskedPixels)
{
    auto r = loggedImage(IMG_MBIL, PIXEL_SHORT, 4, 3, 2);
    fillRaw<int16_t>(r.get(), 0, 0, {-1, -2, -3, -4});
    fill(r.get(), 1, 0, {100, 100, 100, 100});
    fill(r.get(), 2, 0, {5, 6, 7, 8});
    fill(r.get(), 0, 1, {1, 2, 3, 4});
    fill(r.get(), 2, 1, {50, 60, 70, 80});
    auto mask = makeMemImage(IMG_MBIL, PIXEL_FLOAT, 4, 2, 1);
    fill(mask.get(), 0, 0, {0, 1, 0.5f, 3});
    fill(mask.get(), 1, 0, {0, 0, 0, 0});
    // Line 2 lies below the mask and counts as unmasked.
    linesRead.clear();
    Hist *h = ramImageHistWithMask(r.get(), mask.get(), 1, 1, 1);
    ASSERT_EQ(h, r->histograms);
    EXPECT_EQ(linesRead, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}}));
    expectFigures(h[0], 2, -6, 20, -4, -2);
    expectFigures(h[1], 2, 6, 20, 2, 4);

    // Bands still valid are kept unless rebuilt; sampled columns only.
    fill(mask.get(), 1, 0, {1, 1, 1, 1});
    ramImageHistWithMask(r.get(), mask.get(), 2, 1, 0);
    EXPECT_EQ(h[0].count, 2);
    h = ramImageHistWithMask(r.get(), mask.get(), 2, 1, 1);
    expectFigures(h[0], 2, 200, 20000, 100, 100);
    expectFigures(h[1], 2, 0, 0, 0, 0);

    // Byte images keep their bins.
    auto b = loggedImage(IMG_MBIL, PIXEL_4BITS, 4, 1, 1, 1);
    fill(b.get(), 0, 0, {15, 1, 15, 2});
    h = ramImageHistWithMask(b.get(), mask.get(), 1, 1, 1);
    expectFigures(h[0], 2, 3, 5, 1, 2);
    EXPECT_EQ(h[0].bins[1] + h[0].bins[2], 2);
}

TEST(ramImageHistWithROI, RunsClippedToTheImage)
{
    auto r = loggedImage(IMG_MBIL, PIXEL_BYTE, 4, 3, 1);
    fill(r.get(), 0, 0, {1, 2, 3, 4});
    fill(r.get(), 1, 0, {10, 20, 30, 40});
    fill(r.get(), 2, 0, {100, 110, 120, 130});
    HistRunPoint points[] = {
        {1, 0}, {3, 0},     // columns 1 and 2 of row 0
        {0, 5}, {4, 5},     // a row below the image
        {-2, 1}, {2, 1},    // clipped to columns 0 and 1
        {3, 2}, {9, 2},     // the last column only
        {4, 2}, {6, 2},     // starts right of the image
        {2, 1}, {0, 1},     // empty
        {-3, -1}, {2, -1},  // a row above the image
    };
    HistRegion region = {7, points};
    Hist *h = ramImageHistWithROI(r.get(), &region, 1);
    ASSERT_NE(h, nullptr);
    expectFigures(h[0], 5, 165, 4 + 9 + 100 + 400 + 16900, 2, 130);
    EXPECT_EQ(h[0].bins[130], 1);
    EXPECT_EQ(h[0].valid, 1);

    // Wider types go through floats.
    auto f = loggedImage(IMG_MBIL, PIXEL_FLOAT, 3, 1, 2);
    fill(f.get(), 0, 1, {0.25f, -0.5f, 8});
    HistRunPoint first[] = {{-1, 0}, {2, 0}};
    HistRegion one = {1, first};
    h = ramImageHistWithROI(f.get(), &one, 0);
    expectFigures(h[1], 2, -0.25, 0.3125, -0.5, 0.25);
    EXPECT_EQ(ramImageHistWithROI(f.get(), nullptr, 0), nullptr);
}

/* Files made by tests/fixtures/make_hist.sh with numpy's figures: every
 * layout's loop, byte order and packing reaches the counts unchanged. */
TEST(ramImageHist, MatchesNumpyOnFixtures)
{
    std::ifstream expected(fixturePath("hist_expected.txt"));
    ASSERT_TRUE(expected.good());
    std::string text;
    int checked = 0;
    while (std::getline(expected, text)) {
        std::istringstream in(text);
        std::string name, word;
        int stepX, stepY, band;
        double count, sum, squares, lo, hi;
        in >> name >> stepX >> stepY >> band >> count >> sum >> squares >> lo
            >> hi;
        SCOPED_TRACE(text.substr(0, 40));
        int err = 0;
        RAMImage *r = openRAMImage(nullptr, fixturePath(name).c_str(), nullptr,
                                   nullptr, &err);
        ASSERT_NE(r, nullptr) << ramimgError(err);
        Hist *h = ramImageHist(r, 2, stepX, stepY);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h[band].count, count);
        EXPECT_NEAR(h[band].sum, sum, 1e-9 * squares);
        EXPECT_NEAR(h[band].sumSquares, squares, 1e-12 * squares);
        EXPECT_EQ(h[band].min, lo);
        EXPECT_EQ(h[band].max, hi);
        if (in >> word) {
            std::vector<int> bins((size_t)h[band].nbins);
            for (std::string pair; in >> pair;)
                bins.at(std::stoi(pair)) = std::stoi(pair.substr(pair.find(':') + 1));
            EXPECT_EQ(std::vector<int>(h[band].bins, h[band].bins + bins.size()),
                      bins);
        }
        closeRAMImage(r, nullptr);
        checked++;
    }
    EXPECT_EQ(checked, 18);
}
