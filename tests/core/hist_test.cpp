// Tests of hist.cpp: figures of the calc...Hist family against hand-computed
// values (sampling steps, packing orders, extremes of signed and unsigned
// types), ramImageHist's loop orders, reuse and recomputation, the palette
// statistics of ramImageStats, and the mask and region variants.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "tests/support/imageRecords.h"
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

template <typename T>
std::vector<unsigned char> bytesOf(const std::vector<T> &v)
{
    std::vector<unsigned char> bytes(v.size() * sizeof(T));
    std::memcpy(bytes.data(), v.data(), bytes.size());
    return bytes;
}

/* The figures and bins of the samples, added up one at a time. */
void expectSamples(const Hist &h, const std::vector<double> &samples)
{
    double sum = 0, squares = 0, lo = DBL_MAX, hi = -DBL_MAX;
    std::vector<int> bins((size_t)h.nbins);
    for (double v : samples) {
        sum += v;
        squares += v * v;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        if (h.nbins)
            bins.at((size_t)v)++;
    }
    expectFigures(h, (double)samples.size(), sum, squares, lo, hi);
    EXPECT_EQ(std::vector<int>(h.bins, h.bins + h.nbins), bins);
}

const float NaN = std::numeric_limits<float>::quiet_NaN();

} // namespace

/* The samples each type's counting takes from a line: sampling steps (0
 * counts as 1), the fixed packing orders of 1BIT (bit i % 8 from the
 * least significant) and 4BITS (the even pixel high), the extremes of
 * signed and unsigned types, NaN left out, unknown types adding nothing. */
TEST(calcHist, SamplesOfEveryPixelType)
{
    std::vector<unsigned char> ten(10), big(1003);
    std::vector<double> tenValues, bigValues;
    for (int i = 0; i < 10; i++)
        tenValues.push_back(ten[i] = (unsigned char)i);
    for (size_t i = 0; i < big.size(); i++)
        bigValues.push_back(big[i] = (unsigned char)(i * 37 % 251));
    struct Case {
        int pixel;
        std::vector<unsigned char> line;
        int count, step;
        std::vector<double> samples;
    } cases[] = {
        {PIXEL_BYTE, {9, 3, 5}, 3, 1, {9, 3, 5}},
        {PIXEL_BYTE, ten, 10, 3, {0, 3, 6, 9}},
        {PIXEL_BYTE, ten, 10, 0, tenValues},
        {PIXEL_BYTE, big, 1003, 1, bigValues},      // the unrolled count
        {PIXEL_1BIT, {0x09, 0xFF}, 10, 1, {1, 0, 0, 1, 0, 0, 0, 0, 1, 1}},
        {PIXEL_1BIT, {0x09, 0xFF}, 10, 3, {1, 1, 0, 1}},
        {PIXEL_1BIT, {0xFF}, 8, 1, {1, 1, 1, 1, 1, 1, 1, 1}},
        {PIXEL_4BITS, {0x12, 0x3F}, 3, 1, {1, 2, 3}},
        {PIXEL_4BITS, {0x12, 0x3F}, 4, 2, {1, 3}},
        {PIXEL_SBYTE, bytesOf<int8_t>({-128, 127, -1}), 3, 1, {-128, 127, -1}},
        {PIXEL_SHORT, bytesOf<int16_t>({-5, -3, -9}), 3, 1, {-5, -3, -9}},
        {PIXEL_USHORT, bytesOf<uint16_t>({65535, 1}), 2, 1, {65535, 1}},
        {PIXEL_LONG, bytesOf<int32_t>({2147483647, -2147483647 - 1}), 2, 1,
         {2147483647, -2147483648.0}},
        {PIXEL_ULONG, bytesOf<uint32_t>({4000000000u, 1, 7}), 3, 2,
         {4e9, 7}},
        {PIXEL_FLOAT, bytesOf<float>({1.5f, NaN, -2.5f}), 3, 1, {1.5, -2.5}},
        {PIXEL_UNKNOWN, {1, 2, 3}, 3, 1, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(strPixelID(c.pixel)) + " step "
                     + std::to_string(c.step));
        auto h = newHist(c.pixel);
        calcHist(h.get(), c.pixel, c.count, c.step, c.line.data());
        expectSamples(*h, c.samples);
    }

    // Counts add up; the mean and deviation derive from them.
    auto h = newHist(PIXEL_BYTE);
    calcByteHist(h.get(), 2, 1, ten.data() + 3);
    calcByteHist(h.get(), 1, 1, ten.data() + 8);
    expectSamples(*h, {3, 4, 8});
    EXPECT_DOUBLE_EQ(getHistMean(h.get()), 5);
    EXPECT_DOUBLE_EQ(getHistStd(h.get()), std::sqrt(14.0 / 3));
}

TEST(createHist, StartingStateAndReset)
{
    EXPECT_EQ(createHist(0, 256), nullptr);
    EXPECT_EQ(newHist(PIXEL_SHORT)->nbins, 0);
    auto h = newHist(PIXEL_4BITS, 2);
    ASSERT_EQ(h.get()[1].nbins, 16);
    expectSamples(h.get()[1], {});
    const unsigned char line[] = {0x77};
    calc4BitsHist(h.get(), 2, 1, line);
    h->valid = 1;
    h->mean = 7;
    invalidateHist(h.get());
    EXPECT_EQ(h->valid, 0);
    EXPECT_EQ(h->count, 2);
    initHist(h.get());
    expectSamples(*h, {});
    EXPECT_EQ(h->mean, 0);
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
    // 1BIT without msbf: pixels 1,1,0,0,0,0,0,0; step 2 samples pixels
    // 0, 2, 4, 6.  (The fixtures hold 1BIT with msbf.)
    auto lsb = loggedImage(IMG_MBIL, PIXEL_1BIT, 8, 1, 1, 0);
    lsb->buffer[0] = 0x03;
    expectSamples(ramImageHist(lsb.get(), 0, 2, 1)[0], {1, 0, 0, 0});

    // 4BITS without msbf: the even pixel is the low nibble.
    auto n = loggedImage(IMG_MBIL, PIXEL_4BITS, 3, 1, 1, 0);
    n->buffer[0] = 0x21;
    n->buffer[1] = 0xF3;
    expectSamples(ramImageHist(n.get(), 0, 2, 1)[0], {1, 3});

    // Types without bins, SBYTE and ULONG included.
    auto s = loggedImage(IMG_MBIL, PIXEL_SBYTE, 3, 2, 1);
    fillRaw<int8_t>(s.get(), 0, 0, {-100, 5, 7});
    fillRaw<int8_t>(s.get(), 1, 0, {-1, 0, 1});
    expectSamples(ramImageHist(s.get(), 0, 1, 1)[0], {-100, 5, 7, -1, 0, 1});
    auto u = loggedImage(IMG_MBIL, PIXEL_ULONG, 2, 1, 1);
    fill(u.get(), 0, 0, {3e9f, 1});
    expectSamples(ramImageHist(u.get(), 0, 1, 1)[0], {3e9, 1});
}

/* Mean, standard deviation, minimum and maximum; empty on failure. */
static std::vector<double> stats(RAMImage *r, int band)
{
    double f[4] = {-1, -1, -1, -1};
    if (!ramImageStats(r, band, &f[1], &f[0], &f[2], &f[3]))
        return {};
    return std::vector<double>(f, f + 4);
}

TEST(ramImageStats, BandsAndPaletteComponents)
{
    // Band mod nbands; a negative band is band 0; any output may be null.
    auto r = loggedImage(IMG_MBIL, PIXEL_BYTE, 4, 1, 3);
    fill(r.get(), 0, 0, {1, 2, 3, 4});
    fill(r.get(), 0, 1, {10, 10, 30, 30});
    fill(r.get(), 0, 2, {7, 7, 7, 7});
    EXPECT_EQ(stats(r.get(), 4), (std::vector<double>{20, 10, 10, 30}));
    EXPECT_EQ(stats(r.get(), -2),
              (std::vector<double>{2.5, std::sqrt(1.25), 1, 4}));
    double std = -1;
    ASSERT_EQ(ramImageStats(r.get(), 2, &std, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(std, 0);

    // A palette image: statistics of colour component band mod 3 of the
    // values, extremes over the values present; band -1: the values.
    auto p = loggedImage(IMG_MBIL, PIXEL_BYTE, 4, 1, 1);
    fill(p.get(), 0, 0, {0, 0, 1, 2});
    p->info.nindices = 4;
    const unsigned char palette[4][3] = {
        {10, 0, 5}, {20, 0, 5}, {40, 0, 5}, {255, 255, 255}};
    std::memcpy(p->info.palette, palette, sizeof palette);
    EXPECT_EQ(stats(p.get(), 0),
              (std::vector<double>{20, std::sqrt(150.0), 10, 40}));
    EXPECT_EQ(stats(p.get(), 4), (std::vector<double>{0, 0, 0, 0}));
    EXPECT_EQ(stats(p.get(), 5), (std::vector<double>{5, 0, 5, 5}));
    EXPECT_EQ(stats(p.get(), -1),
              (std::vector<double>{0.75, std::sqrt(0.6875), 0, 2}));
    // A falling grey palette: the extremes are not those of the values.
    for (int k = 0; k < 256; k++)
        std::memset(p->info.palette[k], 255 - k, 3);
    EXPECT_EQ(stats(p.get(), 1),
              (std::vector<double>{254.25, std::sqrt(0.6875), 253, 255}));
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
    int checked = 0;
    for (std::string text; std::getline(expected, text); checked++) {
        std::istringstream in(text);
        std::string name;
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
        EXPECT_NEAR(h[band].sum, sum, 1e-9 * squares);
        EXPECT_NEAR(h[band].sumSquares, squares, 1e-12 * squares);
        EXPECT_EQ(h[band].count, count);
        EXPECT_EQ(h[band].min, lo);
        EXPECT_EQ(h[band].max, hi);
        std::vector<int> bins((size_t)h[band].nbins);
        for (std::string pair; in >> pair;)     // "bins value:count ..."
            if (pair != "bins")
                bins.at(std::stoi(pair)) = std::stoi(pair.substr(
                    pair.find(':') + 1));
        EXPECT_EQ(std::vector<int>(h[band].bins, h[band].bins + bins.size()),
                  bins);
        closeRAMImage(r, nullptr);
    }
    EXPECT_EQ(checked, 18);
}
