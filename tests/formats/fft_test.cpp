// Tests of fft.cpp: the header layout and probe, the statistics, the block
// and strip access with their messages, the histogram shortcut, and the
// routines that end the process (run in death-test children).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cfloat>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/hist.h"
#include "core/hostField.h"
#include "core/imgtype.h"
#include "core/ramimg.h"
#include "core/stdstream.h"
#include "formats/fft.h"
#include "tests/support/probeSupport.h"
#include "tests/support/testSupport.h"

namespace {

/* `count` numbers of type T from offset `off` of a header. */
template <typename T>
std::vector<T> fieldsAt(const unsigned char *h, int off, int count)
{
    std::vector<T> v;
    for (int i = 0; i < count; i++)
        v.push_back(hostField<T>(h, off + i * (int)sizeof(T)));
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

} // namespace

// A fresh header: text, source name cut to 64 characters, numbers at their
// offsets, extremes at +-DBL_MAX, zero elsewhere.
TEST(fftInitHead, Layout)
{
    unsigned char h[FFT_HEADER_SIZE];
    std::memset(h, 0xAB, sizeof h);
    fftInitHead(h, std::string(70, 'n').c_str(), 2, 256, 512, 200, 500, 3);
    EXPECT_EQ(std::memcmp(h, "FFT IMAGE FILE\0\0", 16), 0);
    EXPECT_EQ(std::string((char *)h + 16, 64), std::string(64, 'n'));
    EXPECT_EQ(fieldsAt<int32_t>(h, 80, 6),
              (std::vector<int32_t>{2, 256, 512, 200, 500, 3}));
    EXPECT_EQ(fieldsAt<double>(h, 104, 5),
              (std::vector<double>{0, -DBL_MAX, DBL_MAX, -DBL_MAX, DBL_MAX}));
    EXPECT_EQ(std::vector<unsigned char>(h + 144, h + FFT_HEADER_SIZE),
              std::vector<unsigned char>(FFT_HEADER_SIZE - 144, 0));
}

// Two calls of 4 and 12 values: N 16, each mean over all 16, extremes from
// the first value on (values in increasing order still set the minimum).
TEST(statFFT, AccumulatesOverCalls)
{
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "src", 1, 4, 4, 4, 4, 0);
    std::vector<float> v;
    double sr = 0, si = 0, sr2 = 0, si2 = 0;
    for (int k = 0; k < 16; k++) {
        v.push_back(1.5f * k - 3.0f);      /* increasing real parts */
        v.push_back(10.0f - 0.25f * k * k);
        sr += v[2 * k];
        si += v[2 * k + 1];
        sr2 += (double)v[2 * k] * v[2 * k];
        si2 += (double)v[2 * k + 1] * v[2 * k + 1];
    }
    statFFT(h, 4, v.data());
    statFFT(h, 12, v.data() + 8);
    statFFT(h, 0, v.data());
    EXPECT_EQ(fieldsAt<double>(h, 104, 5),
              (std::vector<double>{16, 19.5, -3, 10, 10 - 0.25 * 225}));
    EXPECT_NEAR(hostField<double>(h, 144), sr / 16, 1e-5);
    EXPECT_NEAR(hostField<double>(h, 152), si / 16, 1e-5);
    EXPECT_NEAR(hostField<double>(h, 160), sr2 / 16, 1e-3);
    EXPECT_NEAR(hostField<double>(h, 168), si2 / 16, 1e-3);

    // One value sets both extremes of each part.
    fftInitHead(h, "src", 1, 4, 4, 4, 4, 0);
    float one[2] = {-7.0f, 3.0f};
    statFFT(h, 1, one);
    EXPECT_EQ(fieldsAt<double>(h, 112, 4),
              (std::vector<double>{-7, -7, 3, 3}));
}

// A file made with the direct access: rows written with statistics, a
// strip written over them, the header written back; then read back by
// rows and by strips, probed, and its statistics taken by imgHist.
// Strips written with statistics count P x count values.
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
    EXPECT_EQ(hostField<double>(h, 104), (double)P * Q);
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
    EXPECT_EQ(hostField<double>(h, 104), (double)P * Q);
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
        for (int c = 0; c < 3 * 2; c++)
            ASSERT_EQ(seg[r * 3 * 2 + c], all[(r * Q + 6) * 2 + c]);
    std::free(seg);

    ImageInfo info;
    ASSERT_EQ(probeAt(path, &info, imgFFT), 1);
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

    // A strip of 2 columns with statistics: 8 rows x 2 values.
    fftInitHead(h, "x", 1, 4, 8, 4, 8, 0);
    strip = spectrum(4 * 2, 3);
    PutFFTFileSeg(h, fd, strip.data(), 6, 2, 1);
    EXPECT_EQ(hostField<double>(h, 104), 8.0);
    double mean = 0;
    for (int k = 3; k < 11; k++)
        mean += re(k) / 8.0;
    EXPECT_NEAR(hostField<double>(h, 144), mean, 1e-6);
    close(fd);
}

// A 256 x 512 file opens as FLOAT, 2 bands, block 4096; the text must end
// with its zero byte; a short file or a zero Q is not FFT; the registry
// finds it.
TEST(imgFFT, Probe)
{
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "src", 1, 256, 512, 256, 512, 1);
    std::vector<unsigned char> file(h, h + FFT_HEADER_SIZE);
    MemoryFile f(file);
    ImageInfo info;
    ASSERT_EQ(probeAt(f.path, &info, imgFFT), 1);
    EXPECT_EQ(infoLine(info), "FFT FLOAT/32 512x256x2 off 1024 block 4096 msbf "
              + std::to_string(msbFirst())
              + " GRID nind 0 tr -1 frame 0,0 vol 0 map 0,0 cell 1,1");
    void *priv = nullptr;
    EXPECT_EQ(imgTypes(f.fd, "a.fft", &info, &priv), IMG_FFT);

    std::vector<unsigned char> notText = file, zeroQ = file;
    notText[14] = 'S';
    std::memset(&zeroQ[88], 0, 4);
    for (const auto &bad : {notText, zeroQ,
             std::vector<unsigned char>(file.begin(), file.end() - 1)}) {
        f.set(bad);
        EXPECT_EQ(probeAt(f.path, &info, imgFFT), 0);
    }
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
    std::vector<float> buf(4 * 4 * 2, 0.0f), two = spectrum(8);
    PutFFTFileBlock(h, fd, two.data(), 0, 2, 0);   /* rows 2, 3 absent */
    std::vector<unsigned char> before = readFileBytes(path);
    CapturedOutput cap;
    auto fails = [&](const void *got, const std::string &message) {
        EXPECT_EQ(got, nullptr);
        EXPECT_EQ(cap.err(), message);
        cap.clear();
    };
    fails(GetFFTFileBlock(h, fd, buf.data(), 1, 2),
          "read error in GetFFTFileBlock: unexpected end of file\n");
    fails(GetFFTFileSeg(h, fd, nullptr, 0, 1),
          "read error in GetFFTFileSeg: unexpected end of file\n");
    fails(GetFFTFileBlock(h, fd, buf.data(), 3, 2),
          "lseek error in GetFFTFileBlock: Invalid argument\n");
    fails(GetFFTFileSeg(h, fd, buf.data(), -1, 2),
          "lseek error in GetFFTFileSeg: Invalid argument\n");
    fails(GetFFTFileBlock(h, -1, buf.data(), 0, 1),
          "lseek error in GetFFTFileBlock: Bad file descriptor\n");
    EXPECT_EQ(readFileBytes(path), before);
    close(fd);

    std::string missing = dir.path("none.fft");
    EXPECT_EQ(OpenOLDFFTFile(missing.c_str(), h), -1);
    EXPECT_EQ(cap.err(), missing + ": No such file or directory\n");
    for (const auto &bad : {std::vector<unsigned char>(2000, 'F'),
                            std::vector<unsigned char>(h, h + 1000)}) {
        cap.clear();
        writeFileBytes(dir.path("bad.fft"), bad);
        EXPECT_EQ(OpenOLDFFTFile(dir.path("bad.fft").c_str(), h), -1);
        EXPECT_EQ(cap.err(), "Not an FFT image file!\n");
    }
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
    auto child = [] { setStdStreamSink(streamsToDescriptors); };

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
