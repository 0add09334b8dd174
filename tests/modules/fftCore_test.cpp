// Tests of fftCore.cpp and fftFilter.cpp: the transform against the
// direct sum of its definition, the block forms value for value equal to
// the plain transform (shift, bottom-up columns, every lane count), the
// filter parameters and factors at the points the description fixes, and
// the power/phase conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "modules/fftCore.h"
#include "modules/fftFilter.h"
#include "tests/support/testSupport.h"

static std::vector<float> randomValues(size_t count, unsigned seed)
{
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> d(-100.0f, 100.0f);
    std::vector<float> v(count);
    for (float &x : v)
        x = d(gen);
    return v;
}

TEST(fftrans, DirectSumOfTheKernelAndInverse)
{
    const int n = 32;
    std::vector<float> x = randomValues(2 * n, 1), y = x;
    FFTTables fwd, inv;
    fftTablesBuild(&fwd, n, 1);
    fftTablesBuild(&inv, n, -1);
    fftrans(n, y.data(), 1, fwd.cosines.data(), fwd.sines.data());
    double err = 0, norm = 0;
    for (int k = 0; k < n; k++) {
        std::complex<double> s = 0;
        for (int j = 0; j < n; j++)
            s += std::complex<double>(x[2 * j], x[2 * j + 1])
                 * std::polar(1.0, 2 * M_PI * k * j / n);
        err += std::norm(s - std::complex<double>(y[2 * k], y[2 * k + 1]));
        norm += std::norm(s);
    }
    EXPECT_LT(std::sqrt(err / norm), 1e-6);
    fftrans(n, y.data(), -1, inv.cosines.data(), inv.sines.data());
    for (int i = 0; i < 2 * n; i++)
        EXPECT_NEAR(y[i], x[i], 1e-4);
    EXPECT_EQ(fftSize(300), 512);
    EXPECT_EQ(fftSize(200), 256);
    EXPECT_EQ(fftSize(1), 1);
}

// ffte and fftl compute the butterflies of fftrans over lanes: every value
// must be the same, bit for bit, whatever the count of rows or columns.
TEST(ffteFftl, SameBitsAsFftransWithShiftAndOrientation)
{
    for (int n : {1, 2, 4, 16, 64, 256}) {
        for (int sign : {1, -1}) {
            FFTTables t;
            fftTablesBuild(&t, n, sign);
            for (int count : {1, 7, 8, 13}) {
                SCOPED_TRACE(testing::Message() << "n " << n << " sign " << sign
                                                << " count " << count);
                const int half = n / 2, mask = n - 1;
                const std::vector<float> in =
                    randomValues(2 * (size_t)n * count, n + count);
                std::vector<float> rows = in, cols = in, ref(2 * n);
                ffte(rows.data(), t, count, n, sign);
                fftl(cols.data(), t, n, count, sign);
                for (int r = 0; r < count; r++) {
                    // rows: forward shifts the result, inverse unshifts first
                    for (int k = 0; k < n; k++) {
                        int from = sign > 0 ? k : (k + half) & mask;
                        std::memcpy(&ref[2 * k], &in[2 * ((size_t)r * n + from)], 8);
                    }
                    fftrans(n, ref.data(), sign, t.cosines.data(), t.sines.data());
                    for (int k = 0; k < n; k++) {
                        int at = sign > 0 ? (k + half) & mask : k;
                        ASSERT_EQ(std::memcmp(&rows[2 * ((size_t)r * n + k)],
                                              &ref[2 * at], 8), 0) << k;
                    }
                }
                for (int c = 0; c < count; c++) {
                    // columns: forward reads bottom-up and stores shifted,
                    // inverse unshifts and stores bottom-up
                    for (int j = 0; j < n; j++) {
                        int row = sign > 0 ? mask - j : (j + half) & mask;
                        std::memcpy(&ref[2 * j], &in[2 * ((size_t)row * count + c)], 8);
                    }
                    fftrans(n, ref.data(), sign, t.cosines.data(), t.sines.data());
                    for (int row = 0; row < n; row++) {
                        int at = sign > 0 ? (row + half) & mask : mask - row;
                        ASSERT_EQ(std::memcmp(&cols[2 * ((size_t)row * count + c)],
                                              &ref[2 * at], 8), 0) << row;
                    }
                }
            }
        }
    }
}

TEST(parseFilter, WordsCountsAndParameters)
{
    FFTFilter f;
    ASSERT_EQ(parseFilter("BELL,16,1", 0, 32, 32, &f), 0);
    EXPECT_EQ(f.kind, FILTER_BELL);
    EXPECT_EQ(f.rx, 16);
    EXPECT_EQ(f.ry, 16);
    EXPECT_EQ(f.cx, 16);
    EXPECT_EQ(f.cy, 16);
    ASSERT_EQ(parseFilter("notch,4,2,3,0.5,10,5", 90, 64, 128, &f), 0);
    EXPECT_EQ(f.kind, FILTER_NOTCH);
    EXPECT_EQ(f.rx, 4);
    EXPECT_EQ(f.ry, 2);
    EXPECT_EQ(f.order, 3);
    EXPECT_EQ(f.amplitude, 0.5);
    EXPECT_EQ(f.mx, 128 - 1 - 10);
    EXPECT_EQ(f.my, 64 - 1 - 5);
    EXPECT_EQ(f.rm, 3);
    ASSERT_EQ(parseFilter("high,3,5,2,0.7", 0, 8, 8, &f), 0);
    EXPECT_EQ(f.ry, 5);
    EXPECT_EQ(f.amplitude, 0.7);
    for (const char *bad : {"bell", "bell,3", "bell,1,2,3,4", "high,3,1",
                            "notch,1,2,3,4", "notch,1,2,3,4,5,6,7", "blur,3,1",
                            "bell,3,x", "bell,-3,1", "bell,3,0,1", ",3,1", ""})
        EXPECT_EQ(parseFilter(bad, 0, 8, 8, &f), -1) << bad;
}

TEST(fftFilterFactor, PointsTheDescriptionFixes)
{
    FFTFilter f;
    // bell n = 1, r = Q/2 on a square transform: exp(-2) at (0, 0)
    ASSERT_EQ(parseFilter("bell,32,1", 0, 64, 64, &f), 0);
    EXPECT_DOUBLE_EQ(fftFilterFactor(&f, 0, 0), std::exp(-2.0));
    EXPECT_DOUBLE_EQ(fftFilterFactor(&f, 32, 32), 1.0);
    // exponents below -708.39 give 0: the high filter keeps the value
    ASSERT_EQ(parseFilter("high,1,40,0.5", 0, 64, 64, &f), 0);
    EXPECT_EQ(fftFilterFactor(&f, 0, 0), 1.0);
    EXPECT_DOUBLE_EQ(fftFilterFactor(&f, 32, 32), 0.5);
    // notch, amplitude 1: both centres zeroed, nothing outside the ellipses
    ASSERT_EQ(parseFilter("notch,6,2,1,1,10,20", 0, 64, 64, &f), 0);
    EXPECT_EQ(fftFilterFactor(&f, 10, 20), 0.0);
    EXPECT_EQ(fftFilterFactor(&f, 53, 43), 0.0);
    EXPECT_EQ(fftFilterFactor(&f, 17, 20), 1.0);
    EXPECT_DOUBLE_EQ(fftFilterFactor(&f, 15, 20), 1 - std::exp(-25.0 / 36));
    // rotated by 90 degrees the radii swap axes
    ASSERT_EQ(parseFilter("bell,8,2,1", 90, 64, 64, &f), 0);
    EXPECT_NEAR(fftFilterFactor(&f, 32, 40), std::exp(-1.0), 1e-12);
    EXPECT_NEAR(fftFilterFactor(&f, 34, 32), std::exp(-1.0), 1e-12);
}

TEST(configFilter, FormsByDataType)
{
    FFTFilter f;
    ASSERT_EQ(parseFilter("high,4,1,1", 0, 8, 8, &f), 0);
    EXPECT_EQ(configFilter(&f, FFT_SFPP), &high);
    EXPECT_EQ(configFilter(&f, FFT_SFRIX), &xhigh);
    EXPECT_EQ(configFilter(&f, FFT_SFPPY), &yhigh);
    CapturedOutput out;
    EXPECT_EQ(configFilter(&f, FFT_FSRI), nullptr);
    EXPECT_EQ(out.err(), "wrong type of FFT image for filtering.\n");
    // the X form uses only the column: every row of a block alike
    std::vector<float> block(2 * 8 * 3, 1.0f);
    xhigh(&f, block.data(), 0, 8, 2, 3);
    for (int r = 0; r < 3; r++)
        for (int c = 0; c < 8; c++)
            EXPECT_FLOAT_EQ(block[2 * (r * 8 + c)],
                            (float)(1 - std::exp(-(c - 4) * (c - 4) / 16.0)));
}

TEST(riTOpp, PowerPhaseAndBack)
{
    std::vector<float> v = {3, 4, 0, 0, -1, 0, 0, -2};
    riTOpp(v.data(), 4);
    EXPECT_FLOAT_EQ(v[0], 5);
    EXPECT_FLOAT_EQ(v[1], (float)std::atan2(4.0, 3.0));
    EXPECT_EQ(v[2], 0);
    EXPECT_EQ(v[3], 0);
    EXPECT_FLOAT_EQ(v[5], (float)M_PI);
    EXPECT_FLOAT_EQ(v[7], (float)-M_PI_2);
    ppTOri(v.data(), 4);
    std::vector<float> back = {3, 4, 0, 0, -1, 0, 0, -2};
    for (int i = 0; i < 8; i++)
        EXPECT_NEAR(v[i], back[i], 1e-6);
}
