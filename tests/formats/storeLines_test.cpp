// Lines of DICOM, ELAS and FFT files read through the store: the probes'
// offsets, line sizes and layouts put every pixel where the writer did.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/imgtype.h"
#include "core/ramimg.h"
#include "formats/fft.h"
#include "tests/support/testSupport.h"

namespace {

RAMImage *openCopy(const ScratchDir &dir, const std::string &name,
                   const std::vector<unsigned char> &bytes)
{
    std::string path = dir.path(name);
    writeFileBytes(path, bytes);
    int err = -1;
    RAMImage *r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr, &err);
    EXPECT_NE(r, nullptr) << name << ": error " << err;
    return r;
}

} // namespace

// ELAS: bands interleaved by line, the line padding skipped.
TEST(storeLines, Elas)
{
    ScratchDir dir;
    const int32_t head[] = {1024, 12, 1, 5, 1, 10, 3, 4321};
    std::vector<unsigned char> file(1024, 0);
    std::memcpy(file.data(), head, sizeof head);
    for (int r = 0; r < 5; r++)
        for (int b = 0; b < 3; b++)
            for (int c = 0; c < 12; c++)
                file.push_back((unsigned char)(c < 10 ? r * 40 + b * 10 + c
                                                      : 0xEE));
    RAMImage *r = openCopy(dir, "lines.elas", file);
    ASSERT_NE(r, nullptr);
    for (int y = 4; y >= 0; y--)
        for (int b = 0; b < 3; b++) {
            const unsigned char *line = r->getLine(r, y, b, 1);
            for (int c = 0; c < 10; c++)
                ASSERT_EQ(line[c], y * 40 + b * 10 + c) << y << "/" << b;
        }
    closeRAMImage(r, nullptr);
}

// FFT: band 0 the real parts, band 1 the imaginary parts of each row.
TEST(storeLines, FFT)
{
    ScratchDir dir;
    const int P = 4, Q = 8;
    unsigned char h[FFT_HEADER_SIZE];
    fftInitHead(h, "x", 1, P, Q, P, Q, 0);
    std::string path = dir.path("rows.fft");
    int fd = OpenNEWFFTFile(path.c_str(), h);
    ASSERT_GE(fd, 0);
    std::vector<float> v;
    for (int k = 0; k < P * Q; k++) {
        v.push_back(0.5f * k);
        v.push_back(-1.0f * k);
    }
    PutFFTFileBlock(h, fd, v.data(), 0, P, 1);
    PutFFTHead(h, fd);
    close(fd);
    RAMImage *r = openRAMImage(nullptr, path.c_str(), nullptr, nullptr,
                               nullptr);
    ASSERT_NE(r, nullptr);
    for (int y = 0; y < P; y++)
        for (int b = 0; b < 2; b++) {
            const float *line =
                reinterpret_cast<const float *>(r->getLine(r, y, b, 1));
            for (int c = 0; c < Q; c++)
                ASSERT_EQ(line[c], v[(y * Q + c) * 2 + b]) << y << "/" << b;
        }
    closeRAMImage(r, nullptr);
}

// DICOM fixtures written by dcmtk: every band of every line equals the
// values dcmtk extracts (first frame of a multi-frame file; colour by
// pixel and by plane).
TEST(storeLines, Dicom)
{
    ScratchDir dir;
    for (const char *name : {"mono8", "mono16p", "mono16s", "rgb8",
                             "planar"}) {
        SCOPED_TRACE(name);
        std::string base = fixturePath(std::string("dicom/") + name);
        std::vector<unsigned char> raw = readFileBytes(base + ".raw");
        RAMImage *r = openCopy(dir, std::string(name) + ".dcm",
                               readFileBytes(base + ".dcm"));
        ASSERT_NE(r, nullptr);
        const ImageInfo &info = r->info;
        int bytes = info.bits / 8, nb = info.nbands;
        bool planar = info.imgid == IMG_BSQ;
        for (int y = 0; y < info.rows; y++)
            for (int b = 0; b < nb; b++) {
                const unsigned char *line = r->getLine(r, y, b, 1);
                for (int c = 0; c < info.columns; c++) {
                    size_t at = planar
                        ? ((size_t)(b * info.rows + y) * info.columns + c)
                        : ((size_t)(y * info.columns + c) * nb + b);
                    ASSERT_EQ(std::memcmp(line + c * bytes,
                                          &raw[at * bytes], bytes), 0)
                        << y << "/" << b << "/" << c;
                }
            }
        closeRAMImage(r, nullptr);
    }
}
