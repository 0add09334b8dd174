// Tests of fft.cpp: the header layout and probe, the statistics, the block
// and strip access with their messages, the histogram shortcut, and the
// routines that end the process (run in death-test children).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/hist.h"
#include "core/imgtype.h"
#include "core/lineAccess.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "formats/fft.h"
#include "tests/support/testSupport.h"

namespace {

double headDouble(const unsigned char *h, int off)
{
    double v;
    std::memcpy(&v, h + off, 8);
    return v;
}

int32_t headInt(const unsigned char *h, int off)
{
    int32_t v;
    std::memcpy(&v, h + off, 4);
    return v;
}

/* Value k of the test spectra: distinct, signed, exact in float. */
float re(int k) { return (float)(k % 37) - 18.25f; }
float im(int k) { return (float)(k % 11) * 0.5f - 2.0f; }

std::vector<float> spectrum(int count, int from = 0)
{
    std::vector<float> v;
    for (int k = from; k < from + count; k++) {
        v.push_back(re(k));
        v.push_back(im(k));
    }
    return v;
}

/* In a death-test child the package's standard error goes to fd 2, where
 * EXPECT_EXIT looks for the message. */
void stderrToFd2(int, const char *text, int length)
{
    if (write(2, text, (size_t)length) < 0)
        std::abort();
}

int probe(const std::string &path, ImageInfo *info)
{
    int fd = open(path.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    std::memset(info, 0, sizeof *info);
    int rc = imgFFT(fd, info);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 0);
    close(fd);
    return rc;
}

} // namespace

// A fresh header: text, source name cut to 64 characters, numbers at their
// offsets, extremes at +-DBL_MAX, zero elsewhere.
TEST(fftInitHead, Layout)
{
    unsigned char h[FFT_HEADER_SIZE];
    std::memset(h, 0xAB, sizeof h);
    std::string longName(70, 'n');
    fftInitHead(h, longName.c_str(), 2, 256, 512, 200, 500, 3);
    EXPECT_EQ(std::memcmp(h, "FFT IMAGE FILE\0\0", 16), 0);
    EXPECT_EQ(std::string((char *)h + 16, 64), std::string(64, 'n'));
    EXPECT_EQ(headInt(h, 80), 2);
    EXPECT_EQ(headInt(h, 84), 256);
    EXPECT_EQ(headInt(h, 88), 512);
    EXPECT_EQ(headInt(h, 92), 200);
    EXPECT_EQ(headInt(h, 96), 500);
    EXPECT_EQ(headInt(h, 100), 3);
    EXPECT_EQ(headDouble(h, 104), 0.0);
    EXPECT_EQ(headDouble(h, 112), -DBL_MAX);
    EXPECT_EQ(headDouble(h, 120), DBL_MAX);
    EXPECT_EQ(headDouble(h, 128), -DBL_MAX);
    EXPECT_EQ(headDouble(h, 136), DBL_MAX);
    for (int off = 144; off < FFT_HEADER_SIZE; off++)
        ASSERT_EQ(h[off], 0) << off;
}

// Two calls of 4 and 12 values: N 16, each mean over all 16, extremes from
// the first value on (values in increasing order still set the minimum).
TEST(statFFT, AccumulatesOverCalls)
{
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "src", 1, 4, 4, 4, 4, 0);
    std::vector<float> v;
    for (int k = 0; k < 16; k++) {
        v.push_back(1.5f * k - 3.0f);      /* increasing real parts */
        v.push_back(10.0f - 0.25f * k * k);
    }
    statFFT(h, 4, v.data());
    statFFT(h, 12, v.data() + 8);
    statFFT(h, 0, v.data());
    double sr = 0, si = 0, sr2 = 0, si2 = 0;
    for (int k = 0; k < 16; k++) {
        sr += v[2 * k];
        si += v[2 * k + 1];
        sr2 += (double)v[2 * k] * v[2 * k];
        si2 += (double)v[2 * k + 1] * v[2 * k + 1];
    }
    EXPECT_EQ(headDouble(h, 104), 16.0);
    EXPECT_DOUBLE_EQ(headDouble(h, 112), 19.5);
    EXPECT_DOUBLE_EQ(headDouble(h, 120), -3.0);
    EXPECT_DOUBLE_EQ(headDouble(h, 128), 10.0);
    EXPECT_DOUBLE_EQ(headDouble(h, 136), 10.0 - 0.25 * 225);
    EXPECT_NEAR(headDouble(h, 144), sr / 16, 1e-5);
    EXPECT_NEAR(headDouble(h, 152), si / 16, 1e-5);
    EXPECT_NEAR(headDouble(h, 160), sr2 / 16, 1e-3);
    EXPECT_NEAR(headDouble(h, 168), si2 / 16, 1e-3);

    // One value sets both extremes of each part.
    fftInitHead(h, "src", 1, 4, 4, 4, 4, 0);
    float one[2] = {-7.0f, 3.0f};
    statFFT(h, 1, one);
    EXPECT_EQ(headDouble(h, 112), -7.0);
    EXPECT_EQ(headDouble(h, 120), -7.0);
    EXPECT_EQ(headDouble(h, 128), 3.0);
    EXPECT_EQ(headDouble(h, 136), 3.0);
}

// A file made with the direct access: rows written with statistics, a
// strip written over them, the header written back; then read back by
// rows and by strips, probed, and its statistics taken by imgHist.
TEST(FFTFile, RoundTrip)
{
    ScratchDir dir;
    std::string path = dir.path("s.fft");
    const int P = 8, Q = 16;
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "scene.lan", 1, P, Q, 7, 13, 0);
    int fd = OpenNEWFFTFile(path.c_str(), h);
    ASSERT_GE(fd, 0);
    std::vector<float> all = spectrum(P * Q);
    PutFFTFileBlock(h, fd, all.data(), 0, 3, 1);
    PutFFTFileBlock(h, fd, all.data() + 3 * Q * 2, 3, P - 3, 1);
    EXPECT_EQ(headDouble(h, 104), (double)P * Q);
    // Overwrite columns 5..8 of every row without statistics.
    std::vector<float> strip;
    for (int r = 0; r < P; r++)
        for (int c = 5; c < 9; c++) {
            int k = r * Q + c;
            all[2 * k] = -100.0f - k;
            all[2 * k + 1] = 100.0f + k;
            strip.push_back(all[2 * k]);
            strip.push_back(all[2 * k + 1]);
        }
    PutFFTFileSeg(h, fd, strip.data(), 5, 4, 0);
    EXPECT_EQ(headDouble(h, 104), (double)P * Q);
    PutFFTHead(h, fd);
    close(fd);

    // Byte layout: header then rows of float pairs in host order.
    std::vector<unsigned char> bytes = readFileBytes(path);
    ASSERT_EQ(bytes.size(), (size_t)FFT_HEADER_SIZE + P * Q * 8);
    EXPECT_EQ(std::memcmp(bytes.data(), h, FFT_HEADER_SIZE), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + FFT_HEADER_SIZE, all.data(),
                          all.size() * 4), 0);
    EXPECT_EQ(bytes[16], 's');

    unsigned char h2[FFT_HEADER_SIZE];
    fd = OpenOLDFFTFile(path.c_str(), h2);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(std::memcmp(h, h2, FFT_HEADER_SIZE), 0);
    std::vector<float> rows(2 * Q * 3);
    EXPECT_EQ(GetFFTFileBlock(h2, fd, rows.data(), 4, 3), rows.data());
    EXPECT_TRUE(std::equal(rows.begin(), rows.end(), all.begin() + 4 * Q * 2));
    float *seg = GetFFTFileSeg(h2, fd, nullptr, 6, 3);   /* allocated */
    ASSERT_NE(seg, nullptr);
    for (int r = 0; r < P; r++)
        for (int c = 0; c < 3; c++) {
            ASSERT_EQ(seg[(r * 3 + c) * 2], all[(r * Q + 6 + c) * 2]);
            ASSERT_EQ(seg[(r * 3 + c) * 2 + 1], all[(r * Q + 6 + c) * 2 + 1]);
        }
    std::free(seg);

    ImageInfo info;
    ASSERT_EQ(probe(path, &info), 1);
    Hist hist[2];
    std::memset(hist, 0, sizeof hist);
    EXPECT_EQ(imgHist(fd, &info, hist), 1);
    double n = P * Q, sr = 0, sr2 = 0, si = 0, si2 = 0;
    for (int k = 0; k < P * Q; k++) {
        sr += re(k);
        sr2 += (double)re(k) * re(k);
        si += im(k);
        si2 += (double)im(k) * im(k);
    }
    EXPECT_EQ(hist[0].count, n);
    EXPECT_EQ(hist[1].count, n);
    EXPECT_NEAR(hist[0].sum, sr, 1e-2);
    EXPECT_NEAR(hist[1].sum, si, 1e-2);
    EXPECT_NEAR(hist[0].sumSquares, sr2, 1e-1);
    EXPECT_NEAR(hist[1].sumSquares, si2, 1e-1);
    EXPECT_EQ(hist[0].min, -18.25);
    EXPECT_EQ(hist[0].max, 17.75);
    EXPECT_EQ(hist[1].min, -2.0);
    EXPECT_EQ(hist[1].max, 3.0);
    info.imgid = IMG_BIP;
    EXPECT_EQ(imgHist(fd, &info, hist), 0);
    close(fd);
}

// Strips written with statistics count P x count values, row segment by
// row segment.
TEST(FFTFile, StripStatistics)
{
    ScratchDir dir;
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "x", 1, 4, 8, 4, 8, 0);
    int fd = OpenNEWFFTFile(dir.path("t.fft").c_str(), h);
    ASSERT_GE(fd, 0);
    std::vector<float> strip = spectrum(4 * 2, 3);
    PutFFTFileSeg(h, fd, strip.data(), 6, 2, 1);
    EXPECT_EQ(headDouble(h, 104), 8.0);
    double mean = 0;
    for (int k = 3; k < 11; k++)
        mean += re(k) / 8.0;
    EXPECT_NEAR(headDouble(h, 144), mean, 1e-6);
    close(fd);
}

// A 256 x 512 file opens as FLOAT, 2 bands, block 4096; the text must end
// with its zero byte; a short file is not FFT; the registry finds it.
TEST(imgFFT, Probe)
{
    ScratchDir dir;
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "src", 1, 256, 512, 256, 512, 1);
    std::vector<unsigned char> file(h, h + FFT_HEADER_SIZE);
    writeFileBytes(dir.path("a.fft"), file);
    ImageInfo info;
    ASSERT_EQ(probe(dir.path("a.fft"), &info), 1);
    EXPECT_EQ(info.imgid, IMG_FFT);
    EXPECT_EQ(info.pixel, PIXEL_FLOAT);
    EXPECT_EQ(info.nbands, 2);
    EXPECT_EQ(info.rows, 256);
    EXPECT_EQ(info.columns, 512);
    EXPECT_EQ(info.block, 4096);
    EXPECT_EQ(info.offset, 1024);
    EXPECT_EQ(info.mapid, MAP_GRID);
    EXPECT_EQ(info.msbf, msbFirst());

    int fd = open(dir.path("a.fft").c_str(), O_RDONLY);
    void *priv = nullptr;
    EXPECT_EQ(imgTypes(fd, "a.fft", &info, &priv), IMG_FFT);
    close(fd);

    std::vector<unsigned char> more = file;
    more[14] = 'S';
    writeFileBytes(dir.path("b.fft"), more);
    EXPECT_EQ(probe(dir.path("b.fft"), &info), 0);
    writeFileBytes(dir.path("c.fft"),
                   std::vector<unsigned char>(file.begin(), file.end() - 1));
    EXPECT_EQ(probe(dir.path("c.fft"), &info), 0);
    std::vector<unsigned char> zeroQ = file;
    std::memset(&zeroQ[88], 0, 4);
    writeFileBytes(dir.path("d.fft"), zeroQ);
    EXPECT_EQ(probe(dir.path("d.fft"), &info), 0);
}

// The reading routines answer null with their messages and leave the file
// as it was; OpenOLDFFTFile refuses missing and foreign files.
TEST(FFTFile, ReadFailures)
{
    ScratchDir dir;
    std::string path = dir.path("r.fft");
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "x", 1, 4, 4, 4, 4, 0);
    int fd = OpenNEWFFTFile(path.c_str(), h);
    ASSERT_GE(fd, 0);
    std::vector<float> buf(4 * 4 * 2, 0.0f);
    std::vector<float> two = spectrum(8);
    PutFFTFileBlock(h, fd, two.data(), 0, 2, 0);   /* rows 2, 3 absent */
    std::vector<unsigned char> before = readFileBytes(path);
    CapturedOutput cap;
    EXPECT_EQ(GetFFTFileBlock(h, fd, buf.data(), 1, 2), nullptr);
    EXPECT_EQ(cap.err(), "read error in GetFFTFileBlock: unexpected end of file\n");
    cap.clear();
    EXPECT_EQ(GetFFTFileSeg(h, fd, nullptr, 0, 1), nullptr);
    EXPECT_EQ(cap.err(), "read error in GetFFTFileSeg: unexpected end of file\n");
    cap.clear();
    EXPECT_EQ(GetFFTFileBlock(h, fd, buf.data(), 3, 2), nullptr);
    EXPECT_EQ(cap.err(), "lseek error in GetFFTFileBlock: Invalid argument\n");
    cap.clear();
    EXPECT_EQ(GetFFTFileSeg(h, fd, buf.data(), -1, 2), nullptr);
    EXPECT_EQ(cap.err(), "lseek error in GetFFTFileSeg: Invalid argument\n");
    cap.clear();
    EXPECT_EQ(GetFFTFileBlock(h, -1, buf.data(), 0, 1), nullptr);
    EXPECT_EQ(cap.err(), "lseek error in GetFFTFileBlock: Bad file descriptor\n");
    EXPECT_EQ(readFileBytes(path), before);
    close(fd);

    cap.clear();
    std::string missing = dir.path("none.fft");
    EXPECT_EQ(OpenOLDFFTFile(missing.c_str(), h), -1);
    EXPECT_EQ(cap.err(), missing + ": No such file or directory\n");
    cap.clear();
    writeFileBytes(dir.path("text.fft"), std::vector<unsigned char>(2000, 'F'));
    EXPECT_EQ(OpenOLDFFTFile(dir.path("text.fft").c_str(), h), -1);
    EXPECT_EQ(cap.err(), "Not an FFT image file!\n");
    cap.clear();
    writeFileBytes(dir.path("short.fft"), std::vector<unsigned char>(h, h + 1000));
    EXPECT_EQ(OpenOLDFFTFile(dir.path("short.fft").c_str(), h), -1);
    EXPECT_EQ(cap.err(), "Not an FFT image file!\n");
}

// The writers end the process with status 1 after their messages.
TEST(FFTFileDeathTest, WritersEndTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ScratchDir dir;
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "x", 1, 2, 2, 2, 2, 0);
    std::string path = dir.path("w.fft");
    int fd = OpenNEWFFTFile(path.c_str(), h);
    ASSERT_GE(fd, 0);
    close(fd);
    std::vector<float> v = spectrum(4);
    auto child = [] { setStdStreamSink(stderrToFd2); };

    EXPECT_EXIT({ child(); int ro = open(path.c_str(), O_RDONLY);
                  PutFFTHead(h, ro); },
                testing::ExitedWithCode(1), "^PutFFTHead: Bad file descriptor\n");
    EXPECT_EXIT({ child(); PutFFTFileBlock(h, -1, v.data(), 0, 1, 0); },
                testing::ExitedWithCode(1),
                "lseek error in PutFFTFileBlock: Bad file descriptor\n");
    EXPECT_EXIT({ child(); int ro = open(path.c_str(), O_RDONLY);
                  PutFFTFileBlock(h, ro, v.data(), 0, 1, 1); },
                testing::ExitedWithCode(1),
                "write error in PutFFTFileBlock: Bad file descriptor\n");
    EXPECT_EXIT({ child(); PutFFTFileBlock(h, 0, v.data(), 1, 2, 0); },
                testing::ExitedWithCode(1),
                "lseek error in PutFFTFileBlock: Invalid argument\n");
    EXPECT_EXIT({ child(); PutFFTFileSeg(h, -1, v.data(), 0, 1, 0); },
                testing::ExitedWithCode(1),
                "lseek error in PutFFTFileSeg: Bad file descriptor\n");
    EXPECT_EXIT({ child(); int full = open("/dev/full", O_WRONLY);
                  PutFFTFileSeg(h, full, v.data(), 0, 2, 0); },
                testing::ExitedWithCode(1),
                "write error in PutFFTFileSeg: No space left on device\n");

    // A file that cannot fit: the need and the free bytes are printed.
    unsigned char huge[FFT_HEADER_SIZE];
    fftInitHead(huge, "x", 1, 1 << 30, 1 << 20, 1, 1, 0);
    EXPECT_EXIT({ child(); OpenNEWFFTFile(dir.path("big.fft").c_str(), huge); },
                testing::ExitedWithCode(1),
                "^Insufficient disk space.\nRquest: 9007199254742016  "
                "Available: [0-9]+\n");
}
